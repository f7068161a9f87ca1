#include "app/modMain.h"

#include <utility>

#include "config_dialog/frmConfig.h"
#include "midi/modMidiIO.h"

namespace vos {

App::App(Host& h) : host(h) {}
App::~App() = default;

namespace {

constexpr unsigned kStyleTerms = kMbYesNo | kMbIconExclamation | kMbDefButton2;
constexpr unsigned kStyleResetDamaged = kMbYesNo | kMbIconExclamation | kMbDefButton2;

// What a step of the activation leaves to the next: nothing (go on), or how the activation ends.
using Outcome = std::optional<Activation>;

void EndAtOnce(App& app) {
    app.life = Life::Ended;
    app.host.EndAtOnce();
}

// Tells the user something and goes on, unless the program began closing meanwhile.
Outcome Tell(App& app, const std::wstring& text, unsigned style) {
    if (!Ask(app, text, style)) return Activation::Closing;
    return std::nullopt;
}

enum class Modal { Cancelled, Applied, CannotOpen, Closing };

// Shows the dialog modally. Applied when its OK has already activated the new settings.
Modal ShowConfigModal(App& app) {
    if (!LoadConfigDialog(app)) return app.Closing() ? Modal::Closing : Modal::CannotOpen;
    app.AppliedByDialog = false;
    app.host.ShowConfigModal();
    // The modal loop only ends once the dialog is gone, or when the program is told to quit.
    UnloadConfigDialog(app);
    const bool applied = std::exchange(app.AppliedByDialog, false);
    if (app.Closing()) return Modal::Closing;
    return applied ? Modal::Applied : Modal::Cancelled;
}

// Sends the user to the dialog. After a Cancel the file must be read again; after an OK the
// dialog's own activation has put the new settings in force already. Without the dialog the user
// could never fix the settings, so the activation stops rather than ask again.
Outcome SendToDialog(App& app) {
    switch (ShowConfigModal(app)) {
        case Modal::Cancelled:
            return std::nullopt;
        case Modal::Applied:
            return Activation::Active;
        case Modal::CannotOpen:
            return Activation::Stopped;
        case Modal::Closing:
            break;
    }
    return Activation::Closing;
}

// A free name beside config.bin for the copy of a damaged file, so no earlier copy is overwritten.
std::wstring BackupPath(App& app, const std::wstring& path) {
    for (int n = 1; n < 100; ++n) {
        std::wstring candidate = path + L".bak" + (n == 1 ? L"" : std::to_wstring(n));
        if (!FileExists(app, candidate)) return candidate;
    }
    return {};
}

// The defaults, written as a fresh file: nothing of what was there before stays behind them (a
// file too large to read would otherwise stay too large).
Outcome WriteDefaults(App& app, const std::wstring& path) {
    // Any folder name is stored exactly, one outside code page 932 in the record of exact texts.
    WriteResult w = WriteSettings(app.host, path, DefaultSettings(GetMidiInName(app, 0)),
                                  DefaultCodes(app.host.ProgramFolder()), Tail::Drop);
    if (w.status == WriteStatus::Ok) return std::nullopt;
    if (Outcome o = Tell(app, Fill(text::kEnding, {DescribeWriteProblem(w, path)}), kMbIconError)) {
        return o;
    }
    return Activation::Stopped;
}

Outcome CreateOnFirstStart(App& app, const std::wstring& path) {
    if (FileExists(app, path)) return std::nullopt;
    std::optional<int> answer = Ask(app, Text(text::kTerms), kStyleTerms);
    if (!answer) return Activation::Closing;
    if (*answer != kIdYes) return Activation::Stopped;
    if (Outcome o = WriteDefaults(app, path)) return o;
    if (Outcome o = Tell(app, Text(text::kChooseInput), kMbIconInformation)) return o;
    return SendToDialog(app);
}

// A settings file that cannot be used: the user decides whether a fresh one replaces it, and the
// old one is kept as a copy first. Nothing is overwritten without a Yes. Nothing (go on) once the
// fresh file is in place.
Outcome ReplaceUnreadable(App& app, const std::wstring& path, const ReadResult& read) {
    std::wstring problem = DescribeReadProblem(read, path);
    if (read.status != ReadStatus::Damaged && read.status != ReadStatus::TooLarge) {
        if (Outcome o = Tell(app, problem, kMbIconError)) return o;
        return Activation::Stopped;
    }
    std::optional<int> answer = Ask(app, Fill(text::kAskRebuild, {problem}), kStyleResetDamaged);
    if (!answer) return Activation::Closing;
    if (*answer != kIdYes) return Activation::Stopped;
    std::wstring backup = BackupPath(app, path);
    FileStatus copied = backup.empty() ? FileStatus::OtherError : app.host.CopyFileTo(path, backup);
    if (copied != FileStatus::Ok) {
        if (Outcome o = Tell(app, Text(text::kNoBackup), kMbIconError)) {
            return o;
        }
        return Activation::Stopped;
    }
    if (Outcome o = WriteDefaults(app, path)) return o;
    return Tell(app, Fill(text::kBackupKept, {backup}), kMbIconInformation);
}

// Reads config.bin until the devices it names are the ones present, sending the user to the
// dialog meanwhile. Nothing (go on) once settings hold the file's header and LaunchCodes its
// entries.
Outcome ReadUntilDevicesMatch(App& app, const std::wstring& path, SettingsRecord& settings) {
    for (;;) {
        ReadResult read = ReadSettings(app.host, path);
        if (read.status != ReadStatus::Ok) {
            if (Outcome o = ReplaceUnreadable(app, path, read)) return o;
            if (Outcome o = SendToDialog(app)) return o;
            continue;
        }
        const SettingsRecord& s = read.decoded.header;
        app.LaunchCodes = std::move(read.decoded.codes);

        std::optional<text::Key> changed;
        if (!NameMatches(s.MidiInName, GetMidiInName(app, s.MidiInDevice))) {
            changed = text::kInputChanged;
        } else if (IsOn(s.UseMidiOut) &&
                   !NameMatches(s.MidiOutName, GetMidiOutName(app, s.MidiOutDevice))) {
            changed = text::kOutputChanged;
        }
        if (!changed) {
            settings = s;
            return std::nullopt;
        }
        if (Outcome o = Tell(app, Text(*changed), kMbIconInformation)) {
            return o;
        }
        if (Outcome o = SendToDialog(app)) return o;
    }
}

Outcome RegisterShortcut(App& app, const SettingsRecord& s) {
    if (!IsOn(s.UseShortcut)) return std::nullopt;
    app.HotkeyId = 0;
    if (app.host.RegisterHotKey(app.MainWindow, app.HotkeyId, s.ShortcutModifiers, s.ShortcutKey)) {
        return std::nullopt;
    }
    if (Outcome o = Tell(app, Text(text::kShortcutRefused), kMbIconInformation)) {
        return o;
    }
    return Activation::ShortcutRefused;
}

Activation OpenDevices(App& app, const SettingsRecord& s) {
    app.InForce = s;
    // Either open may tell of a failure in a box, during which the program may begin closing.
    const bool input = OpenMidiIn(app, s.MidiInDevice);
    if (app.Closing()) return Activation::Closing;
    // A device that would not open is tried again at the next device change.
    app.MidiInPort = input ? Port::Open : Port::Refused;
    app.MidiInRefusalTold = !input;
    app.MidiOutRefusalTold = false;
    if (IsOn(s.UseMidiOut)) {
        const bool opened = OpenMidiOut(app, s.MidiOutDevice);
        if (app.Closing()) return Activation::Closing;
        if (opened) {
            StartThru(app, s.Program);
        } else {
            app.MidiOutPort = Port::Refused;
            app.MidiOutRefusalTold = true;
        }
    }
    // Recognition is on again after new settings; the icon must not go on saying otherwise.
    if (app.Running()) ShowRecognitionState(app);
    return Activation::Active;
}

}  // namespace

std::wstring ConfigPath(App& app) { return JoinPath(app.host.ProgramFolder(), kConfigFileName); }
std::wstring ManualPath(App& app) { return JoinPath(app.host.ProgramFolder(), ManualFileName()); }

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
    const bool taken = app.host.NotifyIcon(operation, data);
    app.TrayTip = operation == TrayOp::Delete ? L"" : tip;
    // At log-on the task bar may not be ready for the first Add. Without a retry the icon, the
    // only way to the settings and to Exit, would never appear.
    const bool missing = operation != TrayOp::Delete && !taken;
    if (missing == app.TrayMissing) return;
    app.TrayMissing = missing;
    if (missing) {
        app.host.SetTimer(app.MainWindow, kTrayTimerId, kTrayRetryMs);
    } else {
        app.host.KillTimer(app.MainWindow, kTrayTimerId);
    }
}

void RetryTrayIcon(App& app) {
    if (!app.TrayMissing || !app.Running()) return;
    ShowRecognitionState(app, TrayOp::Modify);
    if (app.TrayMissing) ShowRecognitionState(app, TrayOp::Add);
}

void ShowRecognitionState(App& app, TrayOp operation) {
    TrayPicture picture = kPictureDisabled;
    text::Key tip = text::kTipDisabled;
    if (app.MidiInPort == Port::Gone) {
        tip = text::kTipInputGone;
    } else if (app.MidiInPort == Port::Refused) {
        tip = text::kTipInputRefused;
    } else if (app.Enabled) {
        picture = kPictureEnabled;
        tip = text::kTipEnabled;
    }
    if (operation == TrayOp::Modify && app.TrayTip == Text(tip) && !app.TrayMissing) return;
    SetTrayIcon(app, picture, Text(tip), operation);
}

std::optional<int> Ask(App& app, const std::wstring& text, unsigned style) {
    if (app.Closing()) return std::nullopt;
    int answer = app.host.MsgBox(text, kTitle, style);
    if (app.Closing()) return std::nullopt;
    return answer;
}

Activation LoadSettings(App& app) {
    const std::wstring path = ConfigPath(app);
    if (Outcome o = CreateOnFirstStart(app, path)) return *o;
    SettingsRecord settings;
    if (Outcome o = ReadUntilDevicesMatch(app, path, settings)) return *o;
    if (Outcome o = RegisterShortcut(app, settings)) return *o;
    return OpenDevices(app, settings);
}

void Main(App& app) {
    Host& h = app.host;
    if (h.AnotherInstanceRunning()) {
        Ask(app, Text(text::kAlreadyRunning), kMbIconExclamation);
        return EndAtOnce(app);
    }
    if (h.midiInGetNumDevs() == 0) {
        Ask(app, Text(text::kNoMidiInput), kMbIconError);
        return EndAtOnce(app);
    }
    app.MainWindow = h.LoadMainWindow();
    switch (LoadSettings(app)) {
        case Activation::Active:
        case Activation::ShortcutRefused:  // the program runs without it; the user was told
            break;
        case Activation::Stopped:
            return EndAtOnce(app);
        case Activation::Closing:
            // frmMain is gone and whatever the dialog opened is released; the loop ends at once.
            return;
    }
    app.HeldNotes = 0;
    ShowRecognitionState(app, TrayOp::Add);
    app.PrevWndProc = h.SetWndProc(app.MainWindow, kGwlpWndProc, h.WindowProcAddress());
    app.life = Life::Running;
}

void ReleaseDevicesAndShortcut(App& app) {
    CloseMidiIn(app);
    if (app.ThruEnabled) CloseMidiOut(app);
    app.MidiInPort = app.MidiOutPort = Port::Closed;
    app.host.UnregisterHotKey(app.MainWindow, app.HotkeyId);
}

void Shutdown(App& app) {
    Host& h = app.host;
    ReleaseDevicesAndShortcut(app);
    h.SetWndProc(app.MainWindow, kGwlpWndProc, app.PrevWndProc);
    SetTrayIcon(app, kPictureEnabled, L"", TrayOp::Delete);
}

}  // namespace vos
