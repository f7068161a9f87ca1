#include "app/modMain.h"

#include "config_dialog/frmConfig.h"
#include "midi/modMidiIO.h"

namespace vos {

App::App(Host& h) : host(h) {}
App::~App() = default;

namespace {

constexpr unsigned kStyleTerms = kMbYesNo | kMbIconExclamation | kMbDefButton2;  // 308
constexpr unsigned kStyleResetDamaged = kMbYesNo | kMbIconExclamation | kMbDefButton2;

int Say(App& app, const std::wstring& text, unsigned style) {
    return app.host.MsgBox(text, kTitle, style);
}

void EndAtOnce(App& app) {
    app.Ended = true;
    app.host.EndAtOnce();
}

enum class Modal { Cancelled, Applied, CannotOpen };

// Shows the dialog modally. Applied when its OK has already activated the new settings; CannotOpen
// when the dialog could not be loaded or the program was ended while it was open.
Modal ShowConfigModal(App& app) {
    if (!LoadConfigDialog(app)) return Modal::CannotOpen;
    app.AppliedByDialog = false;
    app.host.ShowConfigModal();
    // The modal loop only ends once the dialog is gone, or when the program is told to quit.
    UnloadConfigDialog(app);
    bool applied = app.AppliedByDialog;
    app.AppliedByDialog = false;
    if (app.MainUnloaded) return Modal::CannotOpen;
    return applied ? Modal::Applied : Modal::Cancelled;
}

// A free name beside config.bin for the copy of a damaged file, so no earlier copy is overwritten.
std::wstring BackupPath(App& app, const std::wstring& path) {
    for (int n = 1; n < 100; ++n) {
        std::wstring candidate = path + L".bak" + (n == 1 ? L"" : std::to_wstring(n));
        if (!FileExists(app, candidate)) return candidate;
    }
    return {};
}

bool WriteDefaults(App& app, const std::wstring& path) {
    WriteResult w = WriteSettings(app.host, path, DefaultSettings(GetMidiInName(app, 0)),
                                  DefaultCodes(app.host.ProgramFolder()));
    if (w.status == WriteStatus::Ok) return true;
    Say(app, DescribeWriteProblem(w, path) + L"\rVosselmarを終了します。", kMbIconError);
    return false;
}

enum class Unreadable { Replaced, Stop };

// A settings file that cannot be used: the user decides whether a fresh one replaces it, and the
// old one is kept as a copy first. Nothing is overwritten without a Yes.
Unreadable HandleUnreadable(App& app, const std::wstring& path, const ReadResult& read) {
    std::wstring problem = DescribeReadProblem(read, path);
    if (read.status != ReadStatus::Damaged && read.status != ReadStatus::TooLarge) {
        Say(app, problem, kMbIconError);
        return Unreadable::Stop;
    }
    int answer = Say(app, problem + L"\r元のファイルを残して、初期設定で作り直しますか？",
                     kStyleResetDamaged);
    if (answer != kIdYes) return Unreadable::Stop;
    std::wstring backup = BackupPath(app, path);
    FileStatus copied = backup.empty() ? FileStatus::OtherError : app.host.CopyFileTo(path, backup);
    if (copied != FileStatus::Ok) {
        Say(app, L"設定ファイルの控えを作れませんでした。\r設定ファイルは変更していません。",
            kMbIconError);
        return Unreadable::Stop;
    }
    if (!WriteDefaults(app, path)) return Unreadable::Stop;
    Say(app,
        L"元の設定ファイルを「" + backup + L"」として残しました。\r" +
            L"MIDI入力デバイスを選択してください。",
        kMbIconInformation);
    return Unreadable::Replaced;
}

}  // namespace

std::wstring ConfigPath(App& app) { return JoinPath(app.host.ProgramFolder(), kConfigFileName); }
std::wstring ManualPath(App& app) { return JoinPath(app.host.ProgramFolder(), kManualFileName); }

bool FileExists(App& app, const std::wstring& path) {
    std::optional<std::uint32_t> attributes = app.host.FileAttributes(path);
    bool found = false;
    // A directory search under every attribute mask without the volume label: an entry qualifies
    // when its hidden, system and folder attributes are all in the mask (read-only and ordinary
    // files always do). Together the masks find any file or folder.
    for (std::uint32_t mask = 0; mask < 32; ++mask) {
        if (mask & 8) continue;
        if (attributes && (*attributes & (2u | 4u | 16u) & ~mask) == 0) found = true;
    }
    return found;
}

void SetTrayIcon(App& app, TrayPicture picture, const std::wstring& tip, TrayOp operation) {
    NotifyIconData data;
    data.Window = app.MainWindow;
    data.Icon = picture;
    data.Tip = tip;
    app.host.NotifyIcon(operation, data);
    if (operation != TrayOp::Delete) app.TrayShowsEnabled = picture == TrayPicture::picIcon1;
}

void LoadSettings(App& app, bool& failed) {
    Host& h = app.host;
    const std::wstring path = ConfigPath(app);
    // Called from OK (the program runs): a file problem must leave the dialog open, not end.
    auto stop = [&] {
        if (app.Started) {
            failed = true;
        } else {
            EndAtOnce(app);
        }
    };
    // Sends the user to the dialog. True when this activation is over: the dialog's OK has
    // applied the new settings already, or the dialog could not open at all.
    auto dialogEnds = [&] {
        switch (ShowConfigModal(app)) {
            case Modal::CannotOpen:
                stop();
                return true;
            case Modal::Applied:
                failed = false;
                return true;
            case Modal::Cancelled:
                break;
        }
        return false;
    };

    if (!FileExists(app, path)) {
        int answer = Say(app,
                         L"Vosselmarを使用する前に、同じフォルダにある説明書の「４．使用規約」を読"
                         L"んでください。\r"
                         L"使用規約に同意してVosselmarを使用しますか？",
                         kStyleTerms);
        if (answer != kIdYes || !WriteDefaults(app, path)) return stop();
        Say(app, L"MIDI入力デバイスを選択してください。", kMbIconInformation);
        if (dialogEnds()) return;
    }

    SettingsRecord s;
    for (;;) {
        ReadResult read = ReadSettings(h, path);
        if (read.status != ReadStatus::Ok) {
            if (HandleUnreadable(app, path, read) == Unreadable::Stop) return stop();
            if (dialogEnds()) return;
            continue;
        }
        s = read.decoded.header;
        app.LaunchCodes = std::move(read.decoded.codes);

        const wchar_t* changed = nullptr;
        if (!NameMatches(s.MidiInName, GetMidiInName(app, s.MidiInDevice))) {
            changed = L"MIDI入力デバイスが追加・変更されています。\r";
        } else if (IsOn(s.UseMidiOut) &&
                   !NameMatches(s.MidiOutName, GetMidiOutName(app, s.MidiOutDevice))) {
            changed = L"MIDI出力デバイスが追加・変更されています。\r";
        }
        if (changed == nullptr) break;
        Say(app, std::wstring(changed) + L"もう一度使用するデバイスを選択してください。",
            kMbIconInformation);
        // Without the dialog the user could never fix the devices: it stops instead of asking
        // again.
        if (dialogEnds()) return;
    }

    if (IsOn(s.UseShortcut)) {
        app.HotkeyId = 0;
        if (!h.RegisterHotKey(app.MainWindow, app.HotkeyId, s.ShortcutModifiers, s.ShortcutKey)) {
            Say(app,
                L"ショートカットキーを設定できませんでした。\r"
                L"もう一度使用するショートカットキーを選択してください。",
                kMbIconInformation);
            failed = true;
            return;
        }
    }

    OpenMidiIn(app, s.MidiInDevice);
    if (IsOn(s.UseMidiOut) && OpenMidiOut(app, s.MidiOutDevice)) {
        // A number past 127 has no program change; its byte would read as a status byte.
        if (s.Program <= 127) SendMidiOut(app, 0xC0u + s.Program * 256u);
        app.ThruEnabled = true;
    }
    // Recognition is on again after new settings; the icon must not go on saying otherwise.
    if (app.Started && !app.TrayShowsEnabled) {
        SetTrayIcon(app, TrayPicture::picIcon1, kTipEnabled, TrayOp::Modify);
    }
    failed = false;
}

void Main(App& app) {
    Host& h = app.host;
    if (h.AnotherInstanceRunning()) {
        Say(app, L"Vosselmarはすでに起動されています。\r複数起動はできません。",
            kMbIconExclamation);
        return EndAtOnce(app);
    }
    if (h.midiInGetNumDevs() == 0) {
        Say(app, L"MIDI入力デバイスが見つかりませんでした。\r終了します。", kMbIconError);
        return EndAtOnce(app);
    }
    app.MainWindow = h.LoadMainWindow();
    bool failed = false;
    LoadSettings(app, failed);
    if (app.Ended) return;
    app.HeldNotes = 0;
    SetTrayIcon(app, TrayPicture::picIcon1, kTipEnabled, TrayOp::Add);
    app.PrevWndProc = h.SetWndProc(app.MainWindow, kGwlpWndProc, h.WindowProcAddress());
    app.Started = true;
}

void Shutdown(App& app) {
    Host& h = app.host;
    CloseMidiIn(app);
    if (app.ThruEnabled) CloseMidiOut(app);
    h.UnregisterHotKey(app.MainWindow, app.HotkeyId);
    h.SetWndProc(app.MainWindow, kGwlpWndProc, app.PrevWndProc);
    SetTrayIcon(app, TrayPicture::picIcon1, L"", TrayOp::Delete);
}

}  // namespace vos
