// The rows of the fault table in docs/reliability.md that no other unit test covers: what the user
// sees, and what becomes of their files, when config.bin, the side files, the devices, the disk or
// a launch target misbehave. Every problem must be told in a message box titled Vosselmar, and no
// file may change without the user's OK or Yes.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "app/app.h"
#include "app/frmMain.h"
#include "app/modHook.h"
#include "app/modMain.h"
#include "app/settings.h"
#include "config_dialog/frmConfig.h"
#include "platform/cp932.h"
#include "sim/sim_host.h"
#include "test_util.h"

namespace vos {
namespace {

using test::CallsAre;

const std::wstring kConfig = L"C:\\Vosselmar\\config.bin";
const std::wstring kDamaged = L"設定ファイル「C:\\Vosselmar\\config.bin」が壊れています。\r";
const std::wstring kRebuild = L"\r元のファイルを残して、初期設定で作り直しますか？";
const std::wstring kCannotWrite = L"設定ファイル「C:\\Vosselmar\\config.bin」に書き込めませんでした。\r";
const std::wstring kDenied = L"アクセスが拒否されました（読み取り専用か、他のプログラムが使用中です）。";
const std::wstring kNoDialog = L"\r設定画面を開けません。";

// The simulated host with the faults the plain one cannot play: files that cannot be read, a disk
// that fills up part way through a write, and a shell that cannot open anything.
class FaultHost : public sim::SimHost {
public:
    std::map<std::wstring, FileStatus> readFailures;
    // The size no file can grow past. A replacement that needs more fails part way through its
    // temporary file, as on a full disk.
    std::size_t room = std::numeric_limits<std::size_t>::max();
    std::intptr_t shellResult = 33;

    FileStatus ReadWholeFile(const std::wstring& path, std::vector<std::uint8_t>& bytes,
                             std::size_t maxBytes) override {
        if (auto f = readFailures.find(path); f != readFailures.end()) return f->second;
        return SimHost::ReadWholeFile(path, bytes, maxBytes);
    }
    FileStatus ReplaceFileContents(const std::wstring& path,
                                   const std::vector<std::uint8_t>& bytes) override {
        if (bytes.size() <= room) return SimHost::ReplaceFileContents(path, bytes);
        writeFailures[path] = FileStatus::DiskFull;
        const FileStatus wrote = SimHost::ReplaceFileContents(path, bytes);
        writeFailures.erase(path);
        return wrote;
    }
    std::intptr_t ShellExec(WindowHandle owner, const std::wstring& operation,
                            const std::wstring& file, const std::optional<std::wstring>& parameters,
                            const std::wstring& directory, int showCommand) override {
        SimHost::ShellExec(owner, operation, file, parameters, directory, showCommand);
        return shellResult;
    }
};

// Settings that match the simulated devices: input 0, output and shortcut off.
SettingsRecord Matching() {
    SettingsRecord h = DefaultSettings(L"Sim MIDI In");
    h.MidiOutName = MakeNameField(L"Sim MIDI Out");
    return h;
}

std::vector<std::uint8_t> TwoEntryFile() {
    return EncodeSettings(Matching(), {{0x91, L"C:\\音楽\\曲.mid", L"/play"}, {0x800, L"D:\\x", L""}}).bytes;
}

class FaultTest : public ::testing::Test {
protected:
  void Store(const std::vector<std::uint8_t>& bytes) { host.PutFile(kConfigFileName, bytes); }
  void Start() {
      Main(app);
      ASSERT_TRUE(app.Running());
      host.boxes.clear();
    }
    // Every box so far is titled Vosselmar; the last one's text and style.
    void ExpectLastBox(const std::wstring& text, unsigned style) const {
        ASSERT_FALSE(host.boxes.empty());
        for (const sim::MsgBoxCall& box : host.boxes) EXPECT_EQ(box.title, L"Vosselmar");
        EXPECT_EQ(host.boxes.back().text, text);
        EXPECT_EQ(host.boxes.back().style, style);
    }
    FaultHost host;
    App app{host};
};

// --- config.bin at start ---

using FaultsSettingsFile = FaultTest;

// Rows: truncated at every byte of a valid two-entry file; CodeCount 0, -1, 2 147 483 647 and 3
// (more than the bytes hold); a header that counts no entries; the first or the second path
// length past the end; a valid file with a tail that makes it larger than the reader takes. The
// reader refuses each as a whole, keeping no partial list. At the start, No keeps the file as it
// is and ends; Yes keeps it under the first free name of config.bin.bak, .bak2 … (an earlier copy
// is never overwritten) and leaves exactly the defaults, nothing of the old file behind them.
TEST_F(FaultsSettingsFile, DamagedFilesAreReportedAndKeptUnlessTheUserSaysYes) {
    const std::vector<std::uint8_t> valid = TwoEntryFile();
    auto withCount = [&](std::int32_t count) {
        std::vector<std::uint8_t> bytes = valid;
        for (int i = 0; i < 4; ++i) bytes[79 + i] = static_cast<std::uint8_t>(count >> (8 * i));
        return bytes;
    };
    // Counts the entries can hold are no damage: with one, the second entry is old tail.
    const std::vector<LaunchCode> both = DecodeSettings(valid).codes;
    ASSERT_EQ(both.size(), 2u);
    EXPECT_EQ(DecodeSettings(withCount(1)).codes, std::vector<LaunchCode>{both.front()});

    struct Case {
        std::string label;
        std::vector<std::uint8_t> bytes;
        std::optional<DecodeStatus> decoded;  // nothing: any refusal will do
        std::wstring reason;                  // empty: any reason will do
        std::wstring head = kDamaged;
        ReadStatus read = ReadStatus::Damaged;
    };
    std::vector<Case> cases;
    for (std::size_t n = 0; n < valid.size(); ++n) {
        const bool header = n < kHeaderSize;
        cases.push_back({"cut to " + std::to_string(n),
                         {valid.begin(), valid.begin() + static_cast<std::ptrdiff_t>(n)},
                         header ? std::optional(DecodeStatus::ShortHeader) : std::nullopt,
                         header ? L"ファイルが短すぎます。" : L""});
    }
    for (std::int32_t count : {0, -1, 2147483647}) {
        cases.push_back({"count " + std::to_string(count), withCount(count),
                         DecodeStatus::BadCodeCount,
                         L"起動コードの数（" + std::to_wstring(count) + L"）が正しくありません。"});
    }
    std::vector<std::uint8_t> small =
        EncodeSettings(Matching(), {{0x91, L"パス", L"p"}, {0x3, L"q", L""}}).bytes;
    small[79] = 3;  // 22 bytes of entries cannot hold three
    cases.push_back(
        {"count 3", small, DecodeStatus::BadCodeCount, L"起動コードの数（3）が正しくありません。"});
    cases.push_back({"no entries", EncodeSettings(Matching(), {}).bytes, DecodeStatus::BadCodeCount,
                     L"起動コードの数（0）が正しくありません。"});
    std::vector<std::uint8_t> pastEnd = valid;
    pastEnd[kHeaderSize + 4] = pastEnd[kHeaderSize + 5] = 0xFF;  // the first path claims 65 535 bytes
    cases.push_back({"first path past the end", pastEnd, DecodeStatus::ShortEntry,
                     L" 1番目の起動コードが途中で切れています。"});
    pastEnd = valid;
    pastEnd.resize(valid.size() + 16, 0);  // room for the count check, not for the long path
    // The second entry follows the first's code, path and "/play", each path with its length.
    const std::size_t second = kHeaderSize + 4 + 2 + ToCp932(L"C:\\音楽\\曲.mid").size() + 2 + 5;
    pastEnd[second + 4] = pastEnd[second + 5] = 0xFF;
    cases.push_back({"second path past the end", pastEnd, DecodeStatus::ShortEntry,
                     L" 2番目の起動コードが途中で切れています。"});
    std::vector<std::uint8_t> huge = valid;
    huge.resize(kMaxSettingsFileBytes + 1, 0xEE);
    cases.push_back({"too large", std::move(huge), std::nullopt, L"",
                     L"設定ファイル「" + kConfig + L"」が大きすぎます。", ReadStatus::TooLarge});

    const std::vector<std::uint8_t> earlier = {1, 2, 3};
    for (const Case& c : cases) {
        for (int run = 0; run < 4; ++run) {
            const bool yes = run & 1, hadCopy = run & 2;
            SCOPED_TRACE(c.label + (yes ? ", Yes" : ", No") + (hadCopy ? ", earlier copy" : ""));
            FaultHost h;
            h.PutFile(kConfigFileName, c.bytes);
            if (hadCopy) h.PutFile(L"config.bin.bak", earlier);
            const ReadResult read = ReadSettings(h, kConfig);
            EXPECT_EQ(read.status, c.read);
            if (c.decoded) {
                EXPECT_EQ(read.decoded.status, *c.decoded);
            }
            EXPECT_TRUE(read.decoded.codes.empty()) << "a partial list must not pass as valid";
            const std::size_t files = h.files.size();
            h.answers = {yes ? kIdYes : kIdNo};
            App a(h);
            Main(a);
            ASSERT_FALSE(h.boxes.empty());
            const sim::MsgBoxCall& ask = h.boxes[0];
            EXPECT_EQ(ask.title, L"Vosselmar");
            EXPECT_EQ(ask.style, 308u);
            EXPECT_EQ(ask.text.rfind(c.head, 0), 0u) << sim::Utf8(ask.text);
            EXPECT_EQ(ask.text.substr(ask.text.size() - kRebuild.size()), kRebuild);
            if (!c.reason.empty() || c.head != kDamaged) {
                EXPECT_EQ(ask.text, c.head + c.reason + kRebuild);
            }
            if (hadCopy) {
                EXPECT_EQ(h.files[kConfig + L".bak"].bytes, earlier);
            }
            if (!yes) {
                EXPECT_EQ(h.boxes.size(), 1u);
                EXPECT_TRUE(h.ended);
                EXPECT_TRUE(h.files[kConfig].bytes == c.bytes);
                EXPECT_EQ(h.files.size(), files);
                EXPECT_TRUE(h.Named({"ReplaceFile", "CopyFile", "midiInOpen"}).empty());
                continue;
            }
            const std::wstring copy = kConfig + (hadCopy ? L".bak2" : L".bak");
            EXPECT_TRUE(h.files[copy].bytes == c.bytes);
            EXPECT_TRUE(
                h.files[kConfig].bytes ==
                EncodeSettings(DefaultSettings(L"Sim MIDI In"), DefaultCodes(h.folder)).bytes);
            // Copied before anything is written, then the user chooses the input device.
            EXPECT_TRUE(
                CallsAre(h.Named({"CopyFile", "ReplaceFile", "ShowConfigModal", "midiInOpen"}),
                         {{"CopyFile", {{"from", kConfig}, {"to", copy}}},
                          {"ReplaceFile", {{"path", kConfig}}},
                          {"ShowConfigModal"},
                          {"midiInOpen"}}));
            EXPECT_EQ(h.boxes.back().style, kMbIconInformation);
            EXPECT_TRUE(a.Running());
        }
    }
}

// Rows: a folder named config.bin; config.bin locked by another program at start; a disk too full
// for the defaults at the first start. The start ends with an error and leaves the folder as it
// was: no copy, no dialog, no device, no tray icon.
TEST_F(FaultsSettingsFile, FilesThatCannotBeReadOrWrittenEndTheStartWithoutTouchingThem) {
    const struct {
        const char* label;
        std::optional<std::uint32_t> attributes;  // nothing: no config.bin, the first start
        std::optional<FileStatus> readFailure;
        std::wstring text;
    } cases[] = {
        {"folder", 16, std::nullopt,
         L"設定ファイル「" + kConfig +
             L"」を読み込めませんでした。\r同じ名前のフォルダがあります。"},
        {"locked", 0, FileStatus::AccessDenied,
         L"設定ファイル「" + kConfig + L"」を読み込めませんでした。\r" + kDenied},
        {"disk full at the first start", std::nullopt, std::nullopt,
         kCannotWrite + L"ディスクの空き容量が足りません。\rVosselmarを終了します。"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        FaultHost h;
        if (c.attributes) {
            h.PutFile(kConfigFileName, TwoEntryFile(), *c.attributes);
        } else {
            h.answers = {kIdYes};  // to the terms
            h.writeFailures[kConfig] = FileStatus::DiskFull;
        }
        if (c.readFailure) h.readFailures[kConfig] = *c.readFailure;
        App a(h);
        Main(a);
        ASSERT_EQ(h.boxes.size(), c.attributes ? 1u : 2u);
        for (const sim::MsgBoxCall& box : h.boxes) EXPECT_EQ(box.title, L"Vosselmar");
        EXPECT_EQ(h.boxes.back().text, c.text);
        EXPECT_EQ(h.boxes.back().style, kMbIconError);
        EXPECT_TRUE(h.ended && !h.trayIconPresent);
        EXPECT_TRUE(
            h.Named({"CopyFile", "ShowConfigModal", "midiInOpen", "Shell_NotifyIcon"}).empty());
        EXPECT_EQ(h.Named({"ReplaceFile"}).size(), c.attributes ? 0u : 1u);
        if (c.attributes) {
            EXPECT_EQ(h.files[kConfig].bytes, TwoEntryFile());
        } else {
            EXPECT_EQ(h.files.count(kConfig), 0u);
        }
    }
}

// Rows: the first start and the rebuild of a damaged file, in a folder whose name code page 932
// cannot hold. C-E-G opens the manual there, as in any other folder, with no word about the name.
TEST_F(FaultsSettingsFile, FolderNameOutsideCodePage932IsStoredExactly) {
    const std::wstring folder = L"C:\\Users\\José\\Vosselmar Ж";
    for (bool damaged : {false, true}) {
        SCOPED_TRACE(damaged ? "rebuild" : "first start");
        FaultHost h;
        h.folder = folder;
        h.PutSideFiles();
        if (damaged) h.PutFile(kConfigFileName, {1, 2, 3});
        h.answers = {kIdYes};
        App a(h);
        Main(a);
        ASSERT_TRUE(a.Running());
        EXPECT_EQ(h.boxes.size(), 2u) << "the question, then where the copy is or the input";
        for (const sim::MsgBoxCall& b : h.boxes) EXPECT_NE(b.style, kMbIconExclamation);
        EXPECT_EQ(a.LaunchCodes, (std::vector<LaunchCode>{{0x91, folder + L"\\説明書.htm", L""}}));
        EXPECT_EQ(ReadSettings(h, folder + L"\\config.bin").decoded.codes, a.LaunchCodes);
    }
}

// Row: 10 000 launch codes. They load, launch, show in the dialog and save back unchanged.
TEST_F(FaultsSettingsFile, TenThousandCodesLoadLaunchAndSave) {
    std::vector<LaunchCode> codes;
    for (int i = 0; i < 10000; ++i) codes.push_back({i % 4095 + 1, L"C:\\t\\" + std::to_wstring(i), L"-n"});
    Store(EncodeSettings(Matching(), codes).bytes);
    Start();
    EXPECT_EQ(app.LaunchCodes, codes);

    // C, then C E, then C E G: codes 1, 0x11 and 0x91, each held by three entries.
    for (LParam note : {0x643C90, 0x644090, 0x644390}) {
        WindowProc(app, sim::SimHost::kMainWindow, kMmMimData, 0, note);
    }
    std::vector<std::wstring> opened;
    for (const sim::ShellCall& l : host.launches) opened.push_back(l.file.substr(5));
    EXPECT_EQ(opened, (std::vector<std::wstring>{L"0", L"4095", L"8190", L"16", L"4111", L"8206",
                                                 L"144", L"4239", L"8334"}));

    ASSERT_TRUE(LoadConfigDialog(app));
    EXPECT_EQ(app.Config->lstCP.ListCount(), 10000);
    EXPECT_EQ(app.Config->lstCP.Items().back(), L" 10000  C:\\t\\9999");
    host.answers = {kIdNo};  // no check for contained chords
    app.Config->cmdOK.UserClick();
    EXPECT_EQ(host.boxes.size(), 1u) << "only the question about contained chords";
    EXPECT_FALSE(app.Config);
    ReadResult saved = ReadSettings(host, kConfig);
    ASSERT_EQ(saved.status, ReadStatus::Ok);
    EXPECT_EQ(saved.decoded.codes, codes);
}

// --- Saving from the dialog ---

using FaultsSaving = FaultTest;

// Rows: read-only config.bin at OK; locked by another program while OK writes; disk full while
// writing; a 65 535-byte and a 65 536-byte path; paths and parameters with characters outside
// code page 932. What OK saves reads back as the very text the user entered, whatever its
// characters. What it cannot write or refuses to write is told, naming the entry where a text is
// at fault, and nothing changes but the box: config.bin keeps its bytes, the dialog stays open
// with every edit and the running settings stay in use.
TEST_F(FaultsSaving, OkSavesTextsExactlyOrKeepsTheOldFileAndEveryEdit) {
    const std::vector<LaunchCode> old = {{0x91, L"C:\\a.exe", L""}};
    const std::wstring tooLong = L" 2番目の起動コードのパスが長すぎます。\r65535バイト以内にしてください。";
    const struct {
        const char* label;
        std::wstring path, command;
        std::wstring refusal;  // empty: saved
        std::function<void(FaultHost&)> arrange = nullptr;
    } cases[] = {
        {"65 535 bytes", std::wstring(65535, L'x'), L"", L""},
        {"65 535 bytes, Japanese", L"x" + std::wstring(32767, L'鍵'), L"", L""},
        {"Japanese and half-width kana", L"C:\\音楽\\ｵﾝｶﾞｸ～.mid", L"\"Ｃ:\\曲\"", L""},
        {"65 536 bytes", std::wstring(32768, L'あ'), L"", tooLong},
        {"accented letters", L"C:\\Users\\José\\Música\\Set 1.flp", L"", L""},
        {"wave dash", L"C:\\音楽\\曲〜.mid", L"", L""},
        {"euro sign in the parameters", L"C:\\a.exe", L"--price=5€", L""},
        {"yen sign", L"C:\\¥.txt", L"", L""},
        {"Cyrillic and Greek", L"D:\\Музыка\\Ωδή.mid", L"/τ \"Ж\"", L""},
        {"CJK outside code page 932, an emoji", L"C:\\曲\\龘𠮷 😀.mid", L"😀", L""},
        {"read-only", L"C:\\新しい.exe", L"", kCannotWrite + kDenied,
         [](FaultHost& h) { h.files[kConfig].attributes |= 1; }},
        {"locked", L"C:\\新しい.exe", L"", kCannotWrite + kDenied,
         [](FaultHost& h) { h.writeFailures[kConfig] = FileStatus::AccessDenied; }},
        {"disk full part way", L"C:\\新しい.exe", L"",
         kCannotWrite + L"ディスクの空き容量が足りません。",
         [](FaultHost& h) { h.room = h.files[kConfig].bytes.size() + 5; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        FaultHost h;
        h.PutFile(kConfigFileName, EncodeSettings(Matching(), old).bytes);
        const std::vector<std::uint8_t> before = h.files[kConfig].bytes;
        App a(h);
        Main(a);
        ASSERT_TRUE(a.Running());
        ASSERT_TRUE(LoadConfigDialog(a));
        frmConfig& d = *a.Config;
        d.cmdAdd.UserClick();
        d.picKey_Click(2);
        d.txtPath.UserSetText(c.path);
        d.txtCommand.UserSetText(c.command);
        if (c.arrange) c.arrange(h);
        h.answers = {kIdNo};
        d.cmdOK.UserClick();
        const LaunchCode added{0x4, c.path, c.command};
        if (c.refusal.empty()) {
            ReadResult saved = ReadSettings(h, kConfig);
            ASSERT_EQ(saved.status, ReadStatus::Ok);
            EXPECT_EQ(saved.decoded.codes, (std::vector<LaunchCode>{old[0], added}));
            EXPECT_EQ(a.LaunchCodes, saved.decoded.codes) << "read back by the activation";
            EXPECT_FALSE(a.Config);
            continue;
        }
        ASSERT_FALSE(h.boxes.empty());
        EXPECT_EQ(h.boxes.back().title, L"Vosselmar");
        EXPECT_EQ(h.boxes.back().text, c.refusal);
        EXPECT_EQ(h.boxes.back().style, kMbIconError);
        EXPECT_EQ(h.files[kConfig].bytes, before) << "the old settings stay as they were";
        ASSERT_TRUE(a.Config) << "the dialog stays open";
        EXPECT_EQ(a.Config->txtPath.Text(), c.path);
        EXPECT_EQ(a.Config->txtCommand.Text(), c.command);
        EXPECT_EQ(a.Config->WorkingCodes, (std::vector<LaunchCode>{old[0], added}));
        EXPECT_EQ(a.LaunchCodes, old);
        EXPECT_EQ(h.openInputs.size(), 1u) << "the running settings stay in use";
        EXPECT_TRUE(h.Named({"midiInStop", "UnregisterHotKey"}).empty());
    }
}

// --- Side files ---

using FaultsSideFiles = FaultTest;

// Row: side files missing at the first start. The defaults are written and kept, the program
// ends after saying why the dialog cannot open, and the next start needs no dialog.
TEST_F(FaultsSideFiles, FirstStartWithoutThemKeepsTheDefaultsAndEnds) {
    host.files.erase(host.InFolder(L"vkname.bin"));
    host.answers = {kIdYes};
    Main(app);
    ExpectLastBox(L"「vkname.bin」が見つかりません。" + kNoDialog, kMbIconError);
    EXPECT_EQ(host.boxes.size(), 3u) << "terms, choose the input, the side file";
    EXPECT_TRUE(host.ended);
    EXPECT_FALSE(host.trayIconPresent);
    ASSERT_EQ(ReadSettings(host, kConfig).status, ReadStatus::Ok);

    FaultHost again;
    again.files = host.files;
    App next(again);
    Main(next);
    EXPECT_TRUE(again.boxes.empty());
    EXPECT_TRUE(next.Running());
    EXPECT_EQ(again.openInputs.size(), 1u);
}

// --- Devices ---

using FaultsDevices = FaultTest;

// Row: output missing with thru on. The user is sent to the dialog; switching thru off there and
// pressing OK starts the program without an output.
TEST_F(FaultsDevices, OutputMissingWithThruOnAsksForTheDevice) {
    host.outputs = {};
    SettingsRecord s = Matching();
    s.UseMidiOut = kTrue16;
    Store(EncodeSettings(s, {{0x91, L"x", L""}}).bytes);
    host.modalUser = [&] {
        ASSERT_TRUE(app.Config);
        EXPECT_EQ(app.Config->cmbMODev.ListCount(), 0);
        app.Config->chkMidiOut.UserClick();
        host.answers = {kIdNo};
        app.Config->cmdOK.UserClick();
    };
    Main(app);
    ASSERT_GE(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, L"MIDI出力デバイスが追加・変更されています。\r"
                                  L"もう一度使用するデバイスを選択してください。");
    EXPECT_EQ(host.boxes[0].style, kMbIconInformation);
    EXPECT_EQ(host.modalShown, 1);
    EXPECT_TRUE(app.Running());
    EXPECT_FALSE(app.ThruEnabled);
    EXPECT_TRUE(host.Named({"midiOutOpen"}).empty());
    EXPECT_EQ(host.openInputs.size(), 1u);
    EXPECT_EQ(ReadSettings(host, kConfig).decoded.header.UseMidiOut, kFalse16);
}

// --- Launching ---

using FaultsLaunch = FaultTest;

// Row: a launch target that does not exist. The shell's failure changes nothing: no message from
// the program (the manual says so), recognition goes on, and the next chord tries again.
TEST_F(FaultsLaunch, TargetThatCannotBeOpenedLeavesRecognitionRunning) {
    Store(EncodeSettings(Matching(), {{0x1, L"C:\\gone.exe", L""}, {0x10, L"C:\\there.exe", L""}}).bytes);
    Start();
    host.shellResult = 2;  // SE_ERR_FNF
    const LParam c = 0x643C90, e = 0x644090;
    for (LParam m : {c, c & 0xFFFF, e, e & 0xFFFF, c}) {
        WindowProc(app, sim::SimHost::kMainWindow, kMmMimData, 0, m);
    }
    std::vector<std::wstring> opened;
    for (const sim::ShellCall& l : host.launches) opened.push_back(l.file);
    EXPECT_EQ(opened, (std::vector<std::wstring>{L"C:\\gone.exe", L"C:\\there.exe", L"C:\\gone.exe"}));
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_TRUE(app.Enabled);
    EXPECT_EQ(app.HeldNotes, 0x1);
}

}  // namespace
}  // namespace vos
