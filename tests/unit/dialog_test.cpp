// The configuration dialog's logic through the simulated host: opening, the handler chains of the
// code list, the keyboard, and what OK writes and applies.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <variant>

#include "app/app.h"
#include "app/frmMain.h"
#include "app/modMain.h"
#include "app/texts.h"
#include "config_dialog/frmConfig.h"
#include "config_dialog/layout.h"
#include "midi/chord.h"
#include "midi/modMidiIO.h"
#include "sim/sim_host.h"
#include "test_util.h"

namespace vos {
namespace {

using sim::SimHost;

class DialogTest : public ::testing::Test {
protected:
    DialogTest() { app.MainWindow = SimHost::kMainWindow; }

    void Store(const SettingsRecord& header, const std::vector<LaunchCode>& codes) {
        host.PutFile(L"config.bin", EncodeSettings(header, codes).bytes);
    }
    void StoreDefaults() { Store(DefaultSettings(L"Sim MIDI In"), DefaultCodes(host.folder)); }
    frmConfig& Open() {
        EXPECT_TRUE(LoadConfigDialog(app));
        return *app.Config;
    }
    ReadResult Saved() { return ReadSettings(host, host.InFolder(L"config.bin")); }
    std::vector<std::uint32_t> KeyColors(const frmConfig& d) const {
        std::vector<std::uint32_t> out;
        for (const KeyFace& k : d.picKey) out.push_back(k.BackColor());
        return out;
    }

    SimHost host;
    App app{host};
};

SettingsRecord Header(std::uint8_t modifiers = 2, std::int16_t useOut = kFalse16,
                      std::int32_t outDevice = 0) {
    SettingsRecord h = DefaultSettings(L"Sim MIDI In");
    h.ShortcutModifiers = modifiers;
    h.UseMidiOut = useOut;
    h.MidiOutDevice = outDevice;
    return h;
}

TEST_F(DialogTest, OpensWithTheDefaultsShownAndTheirControlsGreyed) {
    StoreDefaults();
    frmConfig& d = Open();
    ASSERT_EQ(d.lstCP.Items(), std::vector<std::wstring>{L" 1  C:\\Vosselmar\\説明書.htm"});
    EXPECT_EQ(d.lstCP.ListIndex(), 0);
    EXPECT_EQ(d.txtPath.Text(), L"C:\\Vosselmar\\説明書.htm");
    const std::uint32_t R = layout::kRed, W = layout::kWhite, B = layout::kBlack;
    EXPECT_EQ(KeyColors(d), (std::vector<std::uint32_t>{R, B, W, B, R, W, B, R, B, W, B, W}));
    EXPECT_EQ(d.cmbSKey.ListIndex(), 23);  // the key whose code is 123
    EXPECT_EQ(d.cmbPC.ListIndex(), 0);
    EXPECT_EQ(d.cmbPC.ListCount(), 128);
    EXPECT_EQ(d.cmbSKey.ListCount(), 77);
    EXPECT_EQ((std::vector<int>{d.chkShift.Value(), d.chkCtrl.Value(), d.chkAlt.Value()}),
              (std::vector<int>{0, 1, 0}));
    for (const Control* c : {static_cast<const Control*>(&d.chkShift), static_cast<const Control*>(&d.chkCtrl),
                             static_cast<const Control*>(&d.chkAlt), static_cast<const Control*>(&d.cmbSKey),
                             static_cast<const Control*>(&d.cmbMODev), static_cast<const Control*>(&d.cmbPC),
                             static_cast<const Control*>(&d.Label2), static_cast<const Control*>(&d.Label3)}) {
        EXPECT_FALSE(c->Enabled());
    }
    EXPECT_TRUE(d.cmbMIDev.Enabled());
    EXPECT_TRUE(host.boxes.empty()) << "opening shows no message";
    EXPECT_TRUE(host.Named({"ReplaceFile"}).empty()) << "opening writes nothing";
}

TEST_F(DialogTest, StoredSwitchesModifiersAndDevicesAsShownAndSavedBack) {
    host.outputs = {L"Out A", L"Out B"};
    const struct {
        std::uint8_t modifiers;
        std::int16_t useOut;
        std::int32_t outDevice;
        std::vector<int> shiftCtrlAlt;
        int midiOut;
        int outIndex;
        std::uint8_t program;
        int chosenProgram;  // before OK; -1 leaves the drop-down alone
    } cases[] = {
        {7, kTrue16, 1, {1, 1, 1}, 1, 1, 5, 0},  // instrument 001 is list line 0, not "none"
        {0, 1, 5, {0, 0, 0}, 0, 0, 127, -1},    // a switch holding 1 is off; an index past the end picks 0
        {5, kTrue16, -1, {1, 0, 1}, 1, -1, 0, -1},
        {4, kFalse16, 0, {1, 0, 0}, 0, 0, 0, -1},  // one modifier alone: each in its own place
        {1, kFalse16, 0, {0, 0, 1}, 0, 0, 0, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.modifiers));
        SettingsRecord stored = Header(c.modifiers, c.useOut, c.outDevice);
        stored.Program = c.program;
        Store(stored, {{1, L"x", L""}});
        app.Config.reset();
        frmConfig& d = Open();
        EXPECT_EQ((std::vector<int>{d.chkShift.Value(), d.chkCtrl.Value(), d.chkAlt.Value()}), c.shiftCtrlAlt);
        EXPECT_EQ(d.chkMidiOut.Value(), c.midiOut);
        EXPECT_EQ(d.cmbMODev.Enabled(), c.midiOut == 1);
        EXPECT_EQ(d.cmbMODev.ListIndex(), c.outIndex);
        EXPECT_EQ(d.cmbPC.ListIndex(), c.program);

        if (c.chosenProgram >= 0) d.cmbPC.UserSelect(c.chosenProgram);
        host.answers = {kIdNo};
        d.cmdOK.UserClick();
        ReadResult r = Saved();
        ASSERT_EQ(r.status, ReadStatus::Ok);
        // Untouched modifiers come back as stored (or the file was left alone).
        EXPECT_EQ(r.decoded.header.ShortcutModifiers, c.modifiers);
        EXPECT_EQ(r.decoded.header.Program, c.chosenProgram >= 0 ? c.chosenProgram : c.program);
    }
}

// Devices come and go while the dialog is open: the list follows them as long as the device chosen
// in it is present, and otherwise stays as the user sees it; OK saves the name that was shown.
TEST_F(DialogTest, DeviceListsFollowTheDevicesWithoutLosingTheChoice) {
    SettingsRecord stored = Header();
    stored.MidiInName = MakeNameField(L"Keys B");
    Store(stored, {{1, L"x", L""}});
    host.inputs = {L"Keys A", L"Keys B"};  // stored at 0, found at 1 since it came back
    frmConfig& d = Open();
    EXPECT_EQ(d.cmbMIDev.ListIndex(), 1);
    const struct {
        std::vector<std::wstring> inputs, shown;
        int index;
    } steps[] = {
        {{L"Keys C", L"Keys B"}, {L"Keys C", L"Keys B"}, 1},
        {{L"Keys B"}, {L"Keys B"}, 0},
        {{L"Keys A"}, {L"Keys B"}, 0},  // the chosen device went: the list is left alone
    };
    for (const auto& step : steps) {
        host.inputs = step.inputs;
        CheckDevices(app);  // the dialog shown at the start, when nothing is open yet
        EXPECT_EQ(d.cmbMIDev.Items(), step.shown);
        EXPECT_EQ(d.cmbMIDev.ListIndex(), step.index);
    }
    // Saved as shown, the activation then finds another device at index 0 and asks again.
    host.answers = {kIdNo};
    host.insideModalLoop = [&](const std::wstring& text) {
        if (text.rfind(L"MIDI入力デバイスが追加", 0) == 0) UnloadMain(app);
    };
    d.chkShift.UserClick();
    d.cmdOK.UserClick();
    ReadResult r = Saved();
    ASSERT_EQ(r.status, ReadStatus::Ok);
    EXPECT_EQ(r.decoded.header.ShortcutModifiers, 6) << "OK wrote the file";
    EXPECT_TRUE(NameMatches(r.decoded.header.MidiInName, L"Keys B")) << "not Keys A, now at 0";
    EXPECT_EQ(host.boxes.back().text.rfind(L"MIDI入力デバイスが追加・変更されています。", 0), 0u);
}

TEST_F(DialogTest, SelectingLinesChangesNoEntryAndRunsEachHandlerAtMostTwice) {
    const std::vector<LaunchCode> codes = {{1, L"a", L"p1"}, {2, L"b", L""}, {4, L"a", L"p3"}};
    Store(Header(), codes);
    frmConfig& d = Open();
    std::map<std::string, int> calls;
    auto count = [&](std::function<void()>& handler, const char* name) {
        handler = [&calls, name, inner = handler] {
            ++calls[name];
            inner();
        };
    };
    count(d.lstCP.Click, "lstCP_Click");
    count(d.txtPath.Change, "txtPath_Change");
    count(d.txtCommand.Change, "txtCommand_Change");

    d.lstCP.UserSelect(1);  // path differs: the full chain through txtPath_Change
    for (const auto& [name, n] : calls) EXPECT_LE(n, 2) << name;
    EXPECT_EQ(calls["txtPath_Change"], 1);
    EXPECT_EQ(d.txtCommand.Text(), L"");
    d.lstCP.UserSelect(2);
    d.lstCP.UserSelect(0);
    EXPECT_EQ(d.WorkingCodes, codes);
    EXPECT_EQ(d.lstCP.ListIndex(), 0);
    EXPECT_EQ(d.txtCommand.Text(), L"p1");
}

TEST_F(DialogTest, TypingEditsTheSelectedEntry) {
    Store(Header(), {{1, L"a", L""}, {2, L"b", L""}});
    frmConfig& d = Open();
    d.lstCP.UserSelect(1);
    d.txtPath.UserSetText(L"bc");
    EXPECT_EQ(d.lstCP.Items()[1], L" 2  bc");
    EXPECT_EQ(d.lstCP.ListIndex(), 1);
    d.txtCommand.UserSetText(L"-q");
    EXPECT_EQ(d.lstCP.Items()[1], L" 2  bc") << "parameters are not shown in the list";
    d.lstCP.UserSelect(0);
    d.lstCP.UserSelect(1);
    EXPECT_EQ(d.txtCommand.Text(), L"-q");
    EXPECT_EQ(d.WorkingCodes[1], (LaunchCode{2, L"bc", L"-q"}));
}

TEST_F(DialogTest, AddAndDeleteKeepOneLineSelected) {
    std::vector<LaunchCode> codes;
    for (int i = 0; i < 9; ++i) codes.push_back({1 << i, L"p" + std::to_wstring(i), L"c"});
    Store(Header(), codes);
    frmConfig& d = Open();
    d.cmdAdd.UserClick();
    ASSERT_EQ(d.lstCP.ListCount(), 10);
    EXPECT_EQ(d.lstCP.Items()[9], L" 10  (undefined)");
    EXPECT_EQ(d.lstCP.ListIndex(), 9);
    EXPECT_EQ(d.txtPath.Text(), L"(undefined)");
    EXPECT_EQ(d.txtCommand.Text(), L"");
    for (const KeyFace& k : d.picKey) EXPECT_NE(k.BackColor(), layout::kRed);

    d.cmdDel.UserClick();  // the last line: the one above is selected
    EXPECT_EQ(d.lstCP.ListIndex(), 8);
    d.lstCP.UserSelect(3);
    d.cmdDel.UserClick();  // a middle line: its successor takes its place
    EXPECT_EQ(d.lstCP.ListIndex(), 3);
    EXPECT_EQ(d.lstCP.Items()[3], L" 4  p4");
    EXPECT_EQ(d.txtPath.Text(), L"p4");

    while (d.lstCP.ListCount() > 1) d.cmdDel.UserClick();
    d.cmdDel.UserClick();
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, L"少なくとも１つの項目は必要です。");
    EXPECT_EQ(host.boxes[0].style, 48u);
    EXPECT_EQ(d.lstCP.ListCount(), 1);
    EXPECT_EQ(d.lstCP.ListIndex(), 0);
}

TEST_F(DialogTest, KeysToggleOneBitAndShowIt) {
    Store(Header(), {{0x91, L"a", L""}, {0, L"b", L""}});
    frmConfig& d = Open();
    d.picKey_Click(4);
    EXPECT_EQ(d.WorkingCodes[0].Code, 0x81);
    EXPECT_EQ(d.picKey[4].BackColor(), layout::kWhite);
    d.picKey_Click(4);
    EXPECT_EQ(d.WorkingCodes[0].Code, 0x91);
    EXPECT_EQ(d.picKey[4].BackColor(), layout::kRed);
    d.lstCP.UserSelect(1);
    for (int k = 0; k < 12; ++k) d.picKey_Click(k);
    EXPECT_EQ(d.WorkingCodes[1].Code, 0xFFF);
    for (const KeyFace& k : d.picKey) EXPECT_EQ(k.BackColor(), layout::kRed);
    EXPECT_EQ(d.lstCP.ListIndex(), 1);
    EXPECT_EQ(d.txtPath.Text(), L"b");
}

TEST_F(DialogTest, BrowseSetsThePathOnlyWhenAFileIsChosen) {
    Store(Header(), {{1, L"C:\\old.txt", L"p"}});
    frmConfig& d = Open();
    d.cmdSansyo.UserClick();  // cancelled
    EXPECT_EQ(d.txtPath.Text(), L"C:\\old.txt");
    host.fileChoices.push_back(L"D:\\新しい\\file.exe");
    d.cmdSansyo.UserClick();
    EXPECT_EQ(d.lstCP.Items()[0], L" 1  D:\\新しい\\file.exe");
    EXPECT_EQ(d.WorkingCodes[0], (LaunchCode{1, L"D:\\新しい\\file.exe", L"p"}));
    EXPECT_TRUE(test::CallsAre({host.Named({"GetOpenFileName"}).at(0)},
                               {{"GetOpenFileName",
                                 {{"flags", 4},
                                  {"filter", std::wstring(Text(text::kAllFilesFilter))},
                                  {"file", std::wstring(L"C:\\old.txt")}}}}));
}

TEST_F(DialogTest, OkRefusesEmptyCodesAndAsksAboutContainedOnes) {
    Store(Header(), {{0x91, L"a", L""}, {0x891, L"b", L""}, {0x91, L"c", L""}});
    frmConfig& d = Open();
    d.lstCP.UserSelect(1);
    d.picKey_Click(0), d.picKey_Click(4), d.picKey_Click(7), d.picKey_Click(11);  // entry 2 now 0
    d.cmdOK.UserClick();
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, L" 2番目の起動コードが設定されていません。");
    d.picKey_Click(0), d.picKey_Click(4), d.picKey_Click(7), d.picKey_Click(11);

    host.boxes.clear();
    host.answers = {kIdYes, kIdNo, kIdNo, kIdNo, kIdYes};  // check; then No, No, No; Yes on (3,1)
    d.cmdOK.UserClick();
    std::vector<std::wstring> texts;
    for (const auto& b : host.boxes) texts.push_back(b.text);
    const std::wstring tail = L"番目のコードが一部、あるいは完全に重複しています。\r設定に戻りますか？";
    EXPECT_EQ(texts, (std::vector<std::wstring>{L"起動コードの重複をチェックしますか？",
                                                L" 1番目と 2" + tail, L" 1番目と 3" + tail,
                                                L" 3番目と 1" + tail, L" 3番目と 2" + tail}));
    EXPECT_EQ(host.boxes[0].style, 324u);
    EXPECT_EQ(host.boxes[1].style, 52u);
    EXPECT_TRUE(app.Config) << "Yes goes back to the dialog";
    EXPECT_TRUE(host.Named({"ReplaceFile"}).empty());
}

TEST_F(DialogTest, OkWritesEveryControlAndAppliesTheNewSettings) {
    host.outputs = {};
    Store(Header(2, kTrue16), {{0x91, L"a", L""}});
    frmConfig& d = Open();
    d.chkShift.UserClick();
    d.chkAlt.UserClick();
    d.chkCtrl.UserClick();          // Shift + Alt = 5
    d.cmbSKey.UserSelect(5);        // code 105, written though the shortcut stays off
    d.cmbPC.UserSelect(127);
    d.chkMidiOut.UserClick();       // thru off, and no output to choose: the stored one stays
    d.cmdAdd.UserClick();
    d.picKey_Click(2);
    d.txtCommand.UserSetText(L"--x");
    host.answers = {kIdNo};         // no duplicate check
    d.cmdOK.UserClick();

    ReadResult r = Saved();
    ASSERT_EQ(r.status, ReadStatus::Ok);
    const SettingsRecord& s = r.decoded.header;
    EXPECT_EQ(s.ShortcutModifiers, 5);
    EXPECT_EQ(s.ShortcutKey, 105);
    EXPECT_EQ(s.UseShortcut, kFalse16);
    EXPECT_EQ(s.UseMidiOut, kFalse16);
    EXPECT_EQ(s.MidiOutDevice, 0);
    EXPECT_EQ(s.MidiOutName, Header().MidiOutName);
    EXPECT_EQ(s.Program, 127);
    EXPECT_EQ(NameFieldText(s.MidiInName), L"Sim MIDI In");
    EXPECT_EQ(r.decoded.codes,
              (std::vector<LaunchCode>{{0x91, L"a", L""}, {0x4, L"(undefined)", L"--x"}}));
    // Written, in one replacement, before any device is touched; then released and opened again.
    EXPECT_TRUE(test::CallsAre(
        host.Named({"ReplaceFile", "midiInStop", "UnregisterHotKey", "midiInOpen"}),
        {{"ReplaceFile"}, {"midiInStop"}, {"UnregisterHotKey"}, {"midiInOpen"}}));
    EXPECT_TRUE(app.Enabled);
    EXPECT_FALSE(app.Config) << "the dialog unloads after a successful OK";
    EXPECT_TRUE(app.AppliedByDialog);
}

TEST_F(DialogTest, OkThatCannotFinishKeepsTheDialogAndEveryEdit) {
    const std::wstring path = host.InFolder(L"config.bin");
    SettingsRecord stored;
    const struct {
        const char* what;
        std::function<void()> before;  // what the file and the devices hold when the dialog opens
        std::function<void(frmConfig&)> arrange;
        bool written;
        std::wstring messageStart;
        unsigned style;
    } cases[] = {
        {"disk full", nullptr, [&](frmConfig&) { host.writeFailures[path] = FileStatus::DiskFull; },
         false, L"設定ファイル「C:\\Vosselmar\\config.bin」に書き込めませんでした。", kMbIconError},
        {"path too long", nullptr,
         [](frmConfig& d) { d.txtPath.UserSetText(std::wstring(70000, L'x')); }, false,
         L" 1番目の起動コードのパスが長すぎます。", kMbIconError},
        {"no key chosen", nullptr,
         [](frmConfig& d) {
             d.chkShortcut.UserClick();
             d.cmbSKey.UserSelect(-1);
         },
         false, L"ショートカットキーを選択してください。", kMbIconExclamation},
        {"hotkey taken", nullptr,
         [&](frmConfig& d) {
             d.chkShortcut.UserClick();
             host.takenHotkeys.insert({2, 123});
         },
         true, L"ショートカットキーを設定できませんでした。", kMbIconInformation},
        // The stored input is not in today's list, so none is selected: saving that would store
        // a device no start can open, and no start would ask for one again.
        {"stored input past the list",
         [&] {
             stored.MidiInDevice = 5;
             stored.MidiInName = MakeNameField(L"Old Keyboard");
         },
         nullptr, false, L"MIDI入力デバイスを選択してください。", kMbIconExclamation},
        {"thru on without any output", [&] { host.outputs.clear(); },
         [](frmConfig& d) { d.chkMidiOut.UserClick(); }, false,
         L"MIDI出力デバイスを選択してください。", kMbIconExclamation},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        host.writeFailures.clear();
        host.takenHotkeys.clear();
        host.outputs = {L"Sim MIDI Out"};
        stored = Header();
        if (c.before) c.before();
        Store(stored, {{0x91, L"a", L""}});
        auto before = host.files[path].bytes;
        app.Config.reset();
        frmConfig& d = Open();
        if (c.arrange) c.arrange(d);
        d.txtCommand.UserSetText(L"edited");
        host.boxes.clear();
        host.answers = {kIdNo};
        d.cmdOK.UserClick();
        ASSERT_FALSE(host.boxes.empty());
        EXPECT_EQ(host.boxes.back().text.rfind(c.messageStart, 0), 0u) << sim::Utf8(host.boxes.back().text);
        EXPECT_EQ(host.boxes.back().style, c.style);
        EXPECT_EQ(host.boxes.back().title, L"Vosselmar");
        EXPECT_EQ(host.files[path].bytes != before, c.written);
        ASSERT_TRUE(app.Config) << "the dialog stays open";
        EXPECT_EQ(app.Config->txtCommand.Text(), L"edited");
        EXPECT_TRUE(host.openInputs.empty() || !c.written);
    }
}

TEST_F(DialogTest, CancelSavesNothing) {
    StoreDefaults();
    auto before = host.files[host.InFolder(L"config.bin")].bytes;
    frmConfig& d = Open();
    d.picKey_Click(1);
    d.cmdCancel.UserClick();
    EXPECT_FALSE(app.Config);
    EXPECT_EQ(host.files[host.InFolder(L"config.bin")].bytes, before);
    EXPECT_TRUE(host.Named({"midiInOpen", "midiInClose"}).empty());
}

// A learnt chord is stored as clicks on its keys would store it: a bit above the keyboard stays.
TEST_F(DialogTest, LearntChordKeepsWhatTheKeysCannotShow) {
    Store(Header(), {{0x1091, L"C:\\x.exe", L""}});
    frmConfig& d = Open();
    d.chkLearn.UserClick();
    for (std::uint32_t m : {0x403C90u, 0x404190u, 0x3C80u, 0x4180u}) HandleMidiData(app, m);
    EXPECT_EQ(d.WorkingCodes[0].Code, 0x1021);
    for (int k = 0; k < 12; ++k) EXPECT_EQ(d.picKey[k].BackColor() == layout::kRed, k == 0 || k == 5);
}

TEST(DialogLayout, GeometryAndKeyOverlap) {
    EXPECT_EQ(layout::ToPixels(layout::kClientWidth, 96), 314);
    EXPECT_EQ(layout::ToPixels(layout::kClientHeight, 96), 489);
    int lowest = 0;
    for (const auto& item : layout::kItems) lowest = std::max(lowest, item.top + item.height);
    EXPECT_EQ(lowest, 7215);
    // The Tab order is the window order of the controls that take the focus; each label lies
    // right before the control it names.
    int previous = 0;  // Label1's
    for (const auto& item : layout::kItems) {
        if (item.kind == layout::Kind::Label) continue;
        EXPECT_EQ(item.tabIndex, previous + 1) << sim::Utf8(std::wstring(item.name));
        previous = item.tabIndex;
    }
    auto position = [](layout::Id id) {
        for (std::size_t i = 0; i < layout::kItems.size(); ++i)
            if (layout::kItems[i].id == id) return i;
        return layout::kItems.size();
    };
    for (const auto& named : layout::kNames) {
        if (named.name == layout::Id::chkShortcut) continue;
        EXPECT_EQ(position(named.name) + 1, position(named.control));
    }
    // The learning toggle lies in the free room between the keyboard and cmdSansyo.
    const auto& learn = layout::kItems[position(layout::Id::chkLearn)];
    EXPECT_GE(learn.left, 2655 + 15);
    EXPECT_LE(learn.left + learn.width, 3720 - 15);
    EXPECT_EQ(learn.tabIndex, 21);
    const struct {
        int x, y, key;
    } points[] = {
        {475, 2800, 1},   // upper boundary between C and D: C sharp
        {475, 3500, 0},   // below the black keys: C
        {500, 3500, 2},   // D
        {2600, 3900, 11}, // B
        {2700, 3000, -1}, // past the keyboard
        {200, 3975, -1},  // below it
    };
    for (const auto& p : points) EXPECT_EQ(layout::KeyAt(p.x, p.y), p.key) << p.x << "," << p.y;
}

bool ShowsKind(const ControlModel& model, layout::Kind kind) {
    switch (kind) {
        case layout::Kind::Label:
            return std::holds_alternative<Control*>(model);
        case layout::Kind::ListBox:
            return std::holds_alternative<ListBox*>(model);
        case layout::Kind::Button:
            return std::holds_alternative<Button*>(model);
        case layout::Kind::Edit:
            return std::holds_alternative<TextBox*>(model);
        case layout::Kind::CheckBox:
        case layout::Kind::Toggle:
            return std::holds_alternative<CheckBox*>(model);
        case layout::Kind::DropDown:
            return std::holds_alternative<ComboBox*>(model);
        case layout::Kind::Key:
            return std::holds_alternative<KeyFace*>(model);
    }
    return false;
}

// The window shows each control's state from the model found here and reports the user's actions
// to it: a row pointing at a neighbour's model would show and change the wrong setting.
TEST_F(DialogTest, EveryControlOfTheLayoutHasItsOwnModelOfItsKind) {
    using layout::Id;
    frmConfig f(app);
    // clang-format off
    std::map<Id, ControlModel> expected = {
        {Id::Label1, &f.Label1}, {Id::Label2, &f.Label2}, {Id::Label3, &f.Label3},
        {Id::Label4, &f.Label4}, {Id::Label5, &f.Label5}, {Id::lstCP, &f.lstCP},
        {Id::cmdAdd, &f.cmdAdd}, {Id::cmdDel, &f.cmdDel}, {Id::txtPath, &f.txtPath},
        {Id::cmdSansyo, &f.cmdSansyo}, {Id::txtCommand, &f.txtCommand},
        {Id::cmbMIDev, &f.cmbMIDev}, {Id::chkShortcut, &f.chkShortcut},
        {Id::chkShift, &f.chkShift}, {Id::chkCtrl, &f.chkCtrl}, {Id::chkAlt, &f.chkAlt},
        {Id::cmbSKey, &f.cmbSKey}, {Id::chkMidiOut, &f.chkMidiOut}, {Id::cmbMODev, &f.cmbMODev},
        {Id::cmbPC, &f.cmbPC}, {Id::cmdOK, &f.cmdOK}, {Id::cmdCancel, &f.cmdCancel},
        {Id::cmdHelp, &f.cmdHelp}, {Id::chkLearn, &f.chkLearn},
    };
    // clang-format on
    for (int k = 0; k < 12; ++k) {
        expected[static_cast<Id>(static_cast<int>(Id::picKey0) + k)] = &f.picKey[k];
    }
    ASSERT_EQ(expected.size(), layout::kItems.size());
    std::set<const Control*> models;
    for (const layout::Item& item : layout::kItems) {
        const std::string name = sim::Utf8(std::wstring(item.name));
        const ControlModel model = f.ModelOf(item.id);
        EXPECT_TRUE(model == expected[item.id]) << name;
        EXPECT_TRUE(ShowsKind(model, item.kind)) << name;
        const Control* any = std::visit([](auto* m) -> const Control* { return m; }, model);
        ASSERT_NE(any, nullptr) << name;
        EXPECT_EQ(&f.ControlOf(item.id), any) << name;
        EXPECT_TRUE(models.insert(any).second) << name << " shares a model";
    }
}

}  // namespace
}  // namespace vos

namespace vos {
namespace {

// A device renamed while OK saves sends the user through the dialog twice more from inside OK;
// the dialog whose OK is still running must outlive both.
TEST_F(DialogTest, OkSurvivesFurtherDialogsOpenedFromItsOwnActivation) {
    StoreDefaults();
    app.life = Life::Running;
    frmConfig& first = Open();
    host.onWrite = [&](const std::wstring&) {
        host.inputs[0] = L"Renamed";
        host.onWrite = nullptr;
    };
    int rounds = 0;
    host.modalUser = [&] {
        if (++rounds == 2) host.inputs[0] = L"Sim MIDI In";  // plugged back in
        app.Config->cmdCancel.UserClick();
    };
    host.answers = {kIdNo};
    first.cmdOK.UserClick();
    EXPECT_EQ(rounds, 2);
    EXPECT_EQ(host.openInputs.size(), 1u);
    CollectUnloadedDialogs(app);
    EXPECT_TRUE(app.ConfigUnloaded.empty());
}

}  // namespace
}  // namespace vos
