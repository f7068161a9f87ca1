// The program's flows end to end through the simulated host: start, the settings file in all its
// states, the device and shortcut checks, the window procedure, the toggle and shutdown.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>

#include "app/app.h"
#include "app/frmMain.h"
#include "app/modHook.h"
#include "app/modMain.h"
#include "app/settings.h"
#include "app/texts.h"
#include "config_dialog/frmConfig.h"
#include "config_dialog/layout.h"
#include "midi/modMidiIO.h"
#include "platform/cp932.h"
#include "sim/sim_host.h"
#include "test_util.h"

namespace vos {
namespace {

using test::CallIs;
using test::CallsAre;

constexpr WindowHandle kMain = sim::SimHost::kMainWindow;
constexpr int kIn = 0x1000, kOut = 0x2000;  // the handles the simulated host gives out first
const std::wstring kManual = L"C:\\Vosselmar\\説明書.htm";
const std::wstring kManualEnglish = L"C:\\Vosselmar\\Manual.htm";
// midiInOpen of a device with the main window as callback, and what it returned.
CallIs InputOpened(int device, int result = 0) {
    return {"midiInOpen",
            {{"dev", device}, {"cb", kMain}, {"inst", 0}, {"flags", 0x10000}, {"result", result}}};
}
// The tray icon going at the end: the full set of flags, the enabled picture and no tip.
const CallIs kTrayDelete{"Shell_NotifyIcon",
                         {{"op", TrayOp::Delete},
                          {"wnd", kMain},
                          {"id", 0},
                          {"flags", 7},
                          {"cb", 0x401},
                          {"icon", TrayPicture::picIcon1},
                          {"tip", L""}}};

constexpr LParam On(int note, int channel = 0) { return 0x90 | channel | note << 8 | 100 << 16; }
constexpr LParam Release(int note) { return 0x90 | note << 8; }  // note-on with velocity 0

// The OK handler's part that matters here: close everything, take the new file into use, and
// tell the activation that showed the dialog that it is done.
void ApplyLikeOk(App& app) {
    ReleaseDevicesAndShortcut(app);
    if (LoadSettings(app) == Activation::Active) app.AppliedByDialog = true;
}

// Settings that match the simulated devices: input 0, output 0, shortcut Ctrl+F12.
SettingsRecord Stored(bool thru = false, bool shortcut = false) {
    SettingsRecord h = DefaultSettings(L"Sim MIDI In");
    h.MidiOutName = MakeNameField(L"Sim MIDI Out");
    h.UseMidiOut = thru ? kTrue16 : kFalse16;
    h.UseShortcut = shortcut ? kTrue16 : kFalse16;
    return h;
}

void PutConfig(sim::SimHost& host, const SettingsRecord& h,
               const std::vector<LaunchCode>& codes = {{0x91, L"C:\\x.exe", L""}}) {
    host.PutFile(kConfigFileName, EncodeSettings(h, codes).bytes);
}

::testing::AssertionResult TrayIs(const sim::SimHost& host, TrayOp op, bool enabled) {
    if (host.trayCalls.empty()) return ::testing::AssertionFailure() << "no tray call";
    const sim::TrayCall& c = host.trayCalls.back();
    if (c.op == op && c.data.Icon == (enabled ? TrayPicture::picIcon1 : TrayPicture::picIcon2) &&
        c.data.Tip == Text(enabled ? text::kTipEnabled : text::kTipDisabled)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "op " << static_cast<int>(c.op) << " " << sim::Utf8(c.data.Tip);
}

// Exactly one message box, titled as the program, with this text (or text that starts with it).
::testing::AssertionResult OnlyBox(const sim::SimHost& host, const std::wstring& text,
                                   unsigned style, bool prefix = false) {
    if (host.boxes.size() != 1) {
        return ::testing::AssertionFailure() << host.boxes.size() << " boxes";
    }
    const sim::MsgBoxCall& b = host.boxes[0];
    if ((prefix ? b.text.rfind(text, 0) == 0 : b.text == text) && b.title == L"Vosselmar" &&
        b.style == style) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << b.style << " \"" << sim::Utf8(b.text) << "\"";
}

class FlowTest : public ::testing::Test {
protected:
    std::wstring ConfigFile() const { return host.InFolder(kConfigFileName); }
    std::size_t Count(const char* name) const { return host.Named({name}).size(); }
    void StartWith(const SettingsRecord& h) {
        PutConfig(host, h);
        Main(app);
        ASSERT_TRUE(app.Running());
    }
    sim::SimHost host;
    App app{host};
};

using FlowStart = FlowTest;

// Another instance, no input device, and anything but Yes to the terms at the first start: one
// box, and the program ends at once with nothing written, opened or shown. The first two end
// before the main window is loaded.
TEST_F(FlowStart, RefusedStartsEndAtTheirOnlyBox) {
    const std::vector<std::wstring> in{L"Sim MIDI In"};
    const std::wstring termsEn = Text(text::kTerms, Language::English);
    const struct {
        const char* label;
        bool otherInstance, windowLoaded;
        std::vector<std::wstring> inputs;
        std::deque<int> answers;
        std::wstring text;
        unsigned style;
        Language language = Language::Japanese;
    } cases[] = {
        {"another instance", true, false, in, {}, Text(text::kAlreadyRunning), 48},
        {"no input device", false, false, {}, {}, Text(text::kNoMidiInput), 16},
        {"No to the terms", false, true, in, {kIdNo}, Text(text::kTerms), 308},
        {"the terms closed", false, true, in, {2}, Text(text::kTerms), 308},
        {"the terms with Enter", false, true, in, {}, Text(text::kTerms), 308},
        {"the terms in English", false, true, in, {kIdNo}, termsEn, 308, Language::English},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        sim::SimHost h;
        h.otherInstance = c.otherInstance;
        h.inputs = c.inputs;
        h.answers = c.answers;
        App a(h);
        test::SpeakLanguage speak(c.language);
        Main(a);
        EXPECT_TRUE(OnlyBox(h, c.text, c.style));
        EXPECT_TRUE(h.ended);
        EXPECT_EQ(h.log.back().name, "EndAtOnce");
        EXPECT_EQ(h.Named({"LoadMainWindow"}).size(), c.windowLoaded ? 1u : 0u);
        EXPECT_TRUE(h.Named({"ReplaceFile", "midiInOpen", "RegisterHotKey", "Shell_NotifyIcon",
                             "SetWindowLongPtr", "ShowConfigModal"})
                        .empty());
        EXPECT_FALSE(h.files.count(h.InFolder(kConfigFileName)) || a.Running());
    }
}

TEST_F(FlowStart, StoredSettingsOpenInOrderAndWindowProcComesLast) {
    SettingsRecord h = Stored(true, true);
    h.Program = 5;
    h.ShortcutModifiers = 3;
    h.ShortcutKey = 0x70;
    app.HeldNotes = 0x55;
    StartWith(h);
    EXPECT_TRUE(CallsAre(
        host.log,
        {{"AnotherInstanceRunning"},
         {"LoadMainWindow"},
         {"RegisterHotKey", {{"wnd", kMain}, {"id", 0}, {"mods", 3}, {"key", 112}, {"result", 1}}},
         InputOpened(0),
         {"midiInPrepareHeader",
          {{"h", kIn}, {"buflen", 1024}, {"data", 1}, {"size", kMidiHeaderSize}}},
         {"midiInAddBuffer", {{"h", kIn}, {"buflen", 1024}, {"size", kMidiHeaderSize}}},
         {"midiInStart", {{"h", kIn}}},
         {"midiOutOpen", {{"dev", 0}, {"cb", 0}, {"inst", 0}, {"flags", 0}, {"result", 0}}},
         {"midiOutShortMsg", {{"h", kOut}, {"msg", 0x05c0}}},
         {"Shell_NotifyIcon",
          {{"op", TrayOp::Add},
           {"wnd", kMain},
           {"id", 0},
           {"flags", 7},
           {"cb", 0x401},
           {"icon", TrayPicture::picIcon1},
           {"tip", L"Vosselmar [有効]"}}},
         {"SetWindowLongPtr", {{"wnd", kMain}, {"index", -4}, {"value", 0x5000}}}}));
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_TRUE(app.Enabled && app.ThruEnabled);
    EXPECT_EQ(app.HeldNotes, 0);
    EXPECT_EQ(app.PrevWndProc, sim::SimHost::kFormProc);
}

TEST_F(FlowStart, ProgramChangeOnlyForProgramsAMessageCanCarry) {
    const std::pair<std::uint8_t, std::vector<std::uint32_t>> cases[] = {
        {0, {0x000000c0}}, {127, {0x00007fc0}}, {128, {}}, {255, {}}};
    for (const auto& [program, sent] : cases) {
        sim::SimHost h;
        App a(h);
        SettingsRecord s = Stored(true);
        s.Program = program;
        PutConfig(h, s);
        Main(a);
        EXPECT_EQ(h.sent, sent) << int{program};
        EXPECT_TRUE(a.ThruEnabled);
    }
}

TEST_F(FlowStart, RefusedShortcutOpensNoDeviceAndShortcutOffRegistersNothing) {
    SettingsRecord h = Stored(true, true);
    host.takenHotkeys.insert({h.ShortcutModifiers, h.ShortcutKey});
    PutConfig(host, h);
    app.MainWindow = kMain;
    EXPECT_EQ(LoadSettings(app), Activation::ShortcutRefused);
    EXPECT_TRUE(OnlyBox(host, L"ショートカットキーを設定できませんでした。\r"
                              L"もう一度使用するショートカットキーを選択してください。", 64));
    EXPECT_EQ(Count("midiInOpen") + Count("midiOutOpen"), 0u);

    PutConfig(host, Stored(true, false));
    EXPECT_EQ(LoadSettings(app), Activation::Active);
    EXPECT_EQ(Count("RegisterHotKey"), 1u) << "only the refused attempt";
    EXPECT_EQ(Count("midiInOpen"), 1u);
}

using FlowFirstStart = FlowTest;

TEST_F(FlowFirstStart, YesWritesDefaultsAsksForDeviceThenOpensInputZero) {
    host.inputs = {L"鍵盤 USB", L"Other"};
    host.answers = {kIdYes};
    Main(app);
    ASSERT_TRUE(host.files.count(ConfigFile()));
    EXPECT_EQ(host.files[ConfigFile()].bytes.size(), 83u + 4 + 2 + ToCp932(kManual).size() + 2);
    EXPECT_EQ(NameFieldText(ReadSettings(host, ConfigFile()).decoded.header.MidiInName), L"鍵盤 USB");
    ASSERT_EQ(host.boxes.size(), 2u);
    EXPECT_EQ(host.boxes[0].style, 308u);
    EXPECT_EQ(host.boxes[1].text, L"MIDI入力デバイスを選択してください。");
    EXPECT_EQ(host.boxes[1].style, 64u);
    EXPECT_TRUE(CallsAre(
        host.Named({"MessageBox", "ReplaceFile", "ShowConfigModal", "midiInOpen"}),
        {{"MessageBox"}, {"ReplaceFile"}, {"MessageBox"}, {"ShowConfigModal"}, InputOpened(0)}));
    EXPECT_TRUE(app.Running() && app.LaunchCodes == DefaultCodes(host.folder));
}

// The dialog's OK already activated the settings: the activation that showed it must not do it
// a second time, or the shortcut it registered itself would be reported as taken.
TEST_F(FlowFirstStart, SettingsAppliedByTheDialogAreNotAppliedAgain) {
    SettingsRecord stale = Stored();
    stale.MidiInName = MakeNameField(L"Unplugged");
    for (int run = 0; run < 4; ++run) {
        SCOPED_TRACE(run);
        const bool firstStart = run % 2 == 0, realOk = run >= 2;
        sim::SimHost h;
        App a(h);
        if (firstStart) h.answers = {kIdYes};
        if (!firstStart) PutConfig(h, stale);
        h.modalUser = [&] {
            if (!realOk) {
                PutConfig(h, Stored(true, true));
                return ApplyLikeOk(a);
            }
            ASSERT_TRUE(a.Config);
            a.Config->chkMidiOut.SetValue(1);
            a.Config->chkShortcut.SetValue(1);
            a.Config->cmdOK.UserClick();
        };
        Main(a);
        EXPECT_EQ(h.modalShown, 1);
        EXPECT_TRUE(CallsAre(h.Named({"midiInOpen", "midiOutOpen", "RegisterHotKey"}),
                             {{"RegisterHotKey"}, {"midiInOpen"}, {"midiOutOpen"}}));
        EXPECT_EQ(h.hotkeys.size(), 1u);
        for (const auto& b : h.boxes) EXPECT_EQ(b.text.find(L"ショートカット"), std::wstring::npos);
        EXPECT_TRUE(a.Running() && a.Enabled && a.ThruEnabled && h.trayIconPresent);
    }
}

// Learning in the dialog of the first start: nothing is open yet, so the input chosen in the
// dialog is opened for as long as learning lasts, and reaches the core through frmMain's own
// window procedure. It is closed before OK opens the settings' input: never two at once.
TEST_F(FlowFirstStart, LearningOpensTheChosenInputOnlyWhileItLasts) {
    host.inputs = {L"A", L"B", L"C"};
    host.failingInputs = {2};
    host.answers = {kIdYes};
    std::vector<std::string> opened;  // the inputs open after each step
    auto step = [&](const std::string& what) {
        opened.push_back(what + ":" + std::to_string(host.openInputs.size()));
    };
    host.modalUser = [&] {
        frmConfig& d = *app.Config;
        d.cmbMIDev.UserSelect(1);
        d.chkLearn.UserClick();
        step("on");
        for (LParam m : {On(65), On(69), On(60)}) Form_MidiData(app, static_cast<std::uint32_t>(m));
        EXPECT_EQ(d.picKey[5].BackColor(), layout::kRed) << "held keys light";
        EXPECT_EQ(d.picKey[4].BackColor(), layout::kWhite);
        for (LParam m : {Release(60), Release(65), Release(69)}) Form_MidiData(app, static_cast<std::uint32_t>(m));
        EXPECT_EQ(d.WorkingCodes[0].Code, 0x221);
        d.cmbMIDev.UserSelect(0);  // another device: learning stops
        step("changed");
        EXPECT_EQ(d.chkLearn.Value(), 0);
        d.cmbMIDev.UserSelect(2);
        d.chkLearn.UserClick();  // cannot be opened: told, and off again
        step("failed");
        EXPECT_EQ(d.chkLearn.Value(), 0);
        d.cmbMIDev.UserSelect(1);
        d.chkLearn.UserClick();
        step("again");
        host.answers = {kIdNo};  // no duplicate check
        d.cmdOK.UserClick();
        step("ok");
    };
    Main(app);
    EXPECT_EQ(opened, (std::vector<std::string>{"on:1", "changed:0", "failed:0", "again:1", "ok:1"}));
    EXPECT_TRUE(CallsAre(host.Named({"midiInOpen"}),
                         {InputOpened(1), InputOpened(2, 4), InputOpened(1), InputOpened(1)}));
    EXPECT_EQ(host.boxes.at(2).text,
              L"MIDI入力デバイス「C」を開けませんでした。\r他のプログラムが使用していないか、接続を確認してください。");
    EXPECT_TRUE(app.Running() && app.Enabled);
    ASSERT_EQ(app.LaunchCodes.size(), 1u);
    EXPECT_EQ(app.LaunchCodes[0].Code, 0x221);
    EXPECT_TRUE(host.launches.empty());
    // From now on WindowProc handles the input and passes it on to frmMain's own procedure.
    Form_MidiData(app, static_cast<std::uint32_t>(On(60)));
    EXPECT_EQ(app.HeldNotes, 0);
}

// The input in use has gone: learning opens the device the list shows, found by its name, and
// gives way when the settings' input comes back; a device the list shows that has gone too is
// not opened in its place.
TEST_F(FlowTest, LearningWhileTheInputIsGoneGivesWayWhenItComesBack) {
    host.inputs = {L"Sim MIDI In", L"Other"};
    StartWith(Stored());
    mnuRCConfig_Click(app);
    frmConfig& d = *app.Config;
    host.inputs = {L"Other"};
    host.DevicesChanged();
    WindowProc(app, kMain, kWmDeviceChange, kDbtDevNodesChanged, 0);
    ASSERT_TRUE(host.openInputs.empty());
    d.chkLearn.UserClick();  // "Sim MIDI In" is shown but gone
    EXPECT_EQ(d.chkLearn.Value(), 0);
    EXPECT_EQ(host.boxes.back().text, L"MIDI入力デバイスを選択してください。");
    d.cmbMIDev.UserSelect(1);
    d.chkLearn.UserClick();
    EXPECT_TRUE(CallsAre({host.Named({"midiInOpen"}).back()}, {InputOpened(0)}));
    EXPECT_EQ(host.openInputs.size(), 1u);
    for (LParam m : {On(62), On(65), On(69), Release(62), Release(65), Release(69)}) {
        WindowProc(app, kMain, kMmMimData, 0, m);
    }
    EXPECT_EQ(d.WorkingCodes[0].Code, 0x224) << "heard while the settings' input is gone";
    host.inputs = {L"Other", L"Sim MIDI In"};
    host.DevicesChanged();
    WindowProc(app, kMain, kWmDeviceChange, kDbtDevNodesChanged, 0);
    EXPECT_EQ(d.chkLearn.Value(), 0);
    EXPECT_FALSE(app.Learn.on);
    EXPECT_EQ(host.openInputs.size(), 1u);
    EXPECT_TRUE(CallsAre({host.Named({"midiInOpen"}).back()}, {InputOpened(1)}));
    EXPECT_EQ(app.MidiInPort, Port::Open);
}

using FlowDeviceCheck = FlowTest;

TEST_F(FlowDeviceCheck, ChangedDeviceAsksUntilTheStoredNameMatches) {
    const struct {
        std::wstring what;  // which device
        int device;
        std::wstring stored;
        bool useOut;
        int roundsUntilFixed;  // 0: the stored name matches from the start
    } cases[] = {
        {L"入力", 1, L"Old Keys", false, 1},
        {L"入力", 1, L"Old Keys", false, 2},    // the first dialog is cancelled
        {L"入力", 5, L"Sim MIDI In", false, 1},  // past the last device reads as no name
        {L"出力", 0, L"Old Synth", true, 1},
        {L"出力", 0, L"Old Synth", false, 0},   // the output is not checked while unused
    };
    for (const auto& c : cases) {
        sim::SimHost h;
        h.inputs = {L"Sim MIDI In", L"New Keys"};
        App a(h);
        SettingsRecord s = Stored(c.useOut);
        (c.what == L"入力" ? s.MidiInDevice : s.MidiOutDevice) = c.device;
        (c.what == L"入力" ? s.MidiInName : s.MidiOutName) = MakeNameField(c.stored);
        PutConfig(h, s);
        int rounds = 0;
        h.modalUser = [&] { if (++rounds >= c.roundsUntilFixed) PutConfig(h, Stored()); };
        SCOPED_TRACE(sim::Utf8(c.what + L" " + c.stored));
        Main(a);
        EXPECT_EQ(h.modalShown, c.roundsUntilFixed);
        ASSERT_EQ(h.boxes.size(), static_cast<std::size_t>(c.roundsUntilFixed));
        for (const auto& b : h.boxes) {
            EXPECT_EQ(b.text, L"MIDI" + c.what + L"デバイスが追加・変更されています。\r"
                                                  L"もう一度使用するデバイスを選択してください。");
            EXPECT_EQ(b.style, 64u);
        }
        EXPECT_EQ(h.Named({"midiInOpen"}).size(), 1u);
        EXPECT_TRUE(a.Running());
    }
}

using FlowMend = FlowTest;

TEST_F(FlowMend, DeviceThatCannotBeOpenedIsNamedAndStartGoesOn) {
    for (bool output : {false, true}) {
        sim::SimHost h;
        (output ? h.failingOutputs : h.failingInputs).insert(0);
        App a(h);
        PutConfig(h, Stored(true));
        Main(a);
        EXPECT_TRUE(OnlyBox(h, output ? L"MIDI出力デバイス「Sim MIDI Out」を開けませんでした。\r"
                                      : L"MIDI入力デバイス「Sim MIDI In」を開けませんでした。\r",
                            48, true));
        EXPECT_EQ(a.ThruEnabled, !output);
        EXPECT_EQ(h.sent.empty(), output) << "no program change to a device that is not open";
        EXPECT_TRUE(a.Running() && h.trayIconPresent);
        EXPECT_EQ(h.wndProcs[kMain], sim::SimHost::kWindowProc);
    }
}

// A device that goes while the program runs is closed and waited for; when a device of its name is
// back, at whatever index, it is opened again as activation opened it, recognition as the user left
// it, config.bin untouched. A device that is back but will not open is named once.
TEST_F(FlowMend, DevicesThatGoAreWaitedForAndComeBackAsTheyWere) {
    const std::vector<std::wstring> kIn{L"Sim MIDI In"}, kOut{L"Sim MIDI Out"};
    const struct {
        const char* name;
        bool thru, off, outputGoes;
        std::uint32_t notice;  // how the program hears of it
        std::vector<std::wstring> inputsBack;
        bool refusesOnce;
        int backAt;
        bool stale;  // another device takes its index, where its dead handle still answers
    } cases[] = {
        {"input, back at its index", false, false, false, kWmDeviceChange, kIn, false, 0, false},
        {"input closed by its driver, back behind another", false, false, false, kMmMimClose,
         {L"New Keys", L"Sim MIDI In"}, false, 1, false},
        {"input replaced at its index by another", false, false, false, kWmDeviceChange,
         {L"New Keys", L"Sim MIDI In"}, false, 1, true},
        {"input with thru", true, false, false, kWmDeviceChange, kIn, false, 0, false},
        {"input while recognition is off", true, true, false, kWmDeviceChange, kIn, false, 0, false},
        {"output alone", true, false, true, kWmDeviceChange, kIn, false, 0, false},
        {"input back but busy at first", false, false, false, kWmDeviceChange, kIn, true, 0, false},
        {"output back but busy at first", true, false, true, kWmDeviceChange, kIn, true, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimHost h;
        App a(h);
        SettingsRecord stored = Stored(c.thru);
        stored.Program = 5;
        PutConfig(h, stored);
        Main(a);
        const auto file = h.files;
        if (c.off) WindowProc(a, kMain, kWmHotkey, 0, 0);
        WindowProc(a, kMain, kMmMimData, 0, On(60, 1));
        h.sent.clear();
        auto notice = [&] {
            h.DevicesChanged();
            WindowProc(a, kMain, c.notice, c.notice == kWmDeviceChange ? kDbtDevNodesChanged : 0, 0);
        };

        h.staleIdsAnswer = c.stale;
        (c.outputGoes ? h.outputs : h.inputs).clear();
        if (c.stale) h.inputs = {L"New Keys"};
        notice();
        WindowProc(a, kMain, kMmMimData, 0, On(64));  // on its way before the device went
        EXPECT_EQ(h.openInputs.size(), c.outputGoes ? 1u : 0u);
        EXPECT_TRUE(h.openOutputs.empty());
        EXPECT_FALSE(a.ThruEnabled);
        EXPECT_EQ(a.HeldNotes, c.outputGoes ? 0x11 : 0);
        // What thru left sounding is released on an output that is still there.
        std::vector<std::uint32_t> released{0x00007cb0, 0x00403c81};
        if (c.off) released = {0x00007cb0};
        if (!c.thru || c.outputGoes) released.clear();
        EXPECT_EQ(h.sent, released);
        EXPECT_EQ(h.trayShown.Tip, Text(c.outputGoes ? text::kTipEnabled : text::kTipInputGone));
        if (!c.off) WindowProc(a, kMain, kTrayCallback, 0, kWmLButtonDown);  // off while gone
        if (!c.off) WindowProc(a, kMain, kWmHotkey, 0, 0);                   // and on again
        if (!c.outputGoes) {
            EXPECT_EQ(h.trayShown.Tip, Text(text::kTipInputGone));
        }

        h.inputs = c.inputsBack;
        h.outputs = kOut;
        auto& failing = c.outputGoes ? h.failingOutputs : h.failingInputs;
        if (c.refusesOnce) failing.insert(c.backAt);
        h.log.clear();
        h.sent.clear();
        notice();
        if (c.refusesOnce) {
            EXPECT_TRUE(OnlyBox(h, c.outputGoes ? L"MIDI出力デバイス「Sim MIDI Out」を開けませんでした。\r"
                                                : L"MIDI入力デバイス「Sim MIDI In」を開けませんでした。\r",
                                48, true));
            const std::wstring tip = Text(c.outputGoes ? text::kTipEnabled : text::kTipInputRefused);
            EXPECT_EQ(h.trayShown.Tip, tip);
            notice();
            // Unplugged and plugged in again twice while another program still holds it.
            for (int i = 0; i < 2; ++i) {
                (c.outputGoes ? h.outputs : h.inputs).clear();
                notice();
                h.inputs = c.inputsBack;
                h.outputs = kOut;
                notice();
            }
            EXPECT_EQ(h.boxes.size(), 1u) << "told once, not at every device change";
            EXPECT_EQ(h.trayShown.Tip, tip);
            failing.clear();
            notice();
        } else {
            EXPECT_TRUE(h.boxes.empty());
        }
        EXPECT_EQ(h.openInputs.size(), 1u);
        const std::vector<sim::Call> opened = h.Named({"midiInOpen", "midiOutOpen"});
        ASSERT_FALSE(opened.empty());
        EXPECT_TRUE(
            CallsAre({opened.front()},
                     {c.outputGoes ? CallIs{"midiOutOpen", {{"dev", 0}}}
                                   : CallIs{"midiInOpen", {{"dev", c.backAt}, {"cb", kMain}}}}));
        EXPECT_EQ(h.Named({"midiInStart"}).size(), c.outputGoes ? 0u : 1u);
        EXPECT_EQ(a.ThruEnabled, c.thru);
        EXPECT_EQ(h.sent, c.thru ? std::vector<std::uint32_t>{0x05c0} : std::vector<std::uint32_t>{});
        EXPECT_EQ(a.Enabled, !c.off);
        EXPECT_EQ(h.trayShown.Tip, Text(c.off ? text::kTipDisabled : text::kTipEnabled));
        EXPECT_EQ(h.trayShown.Icon, c.off ? TrayPicture::picIcon2 : TrayPicture::picIcon1);
        EXPECT_TRUE(h.files == file) << "config.bin untouched";
        WindowProc(a, kMain, kMmMimData, 0, On(60));
        WindowProc(a, kMain, kMmMimData, 0, On(64));
        WindowProc(a, kMain, kMmMimData, 0, On(67));
        EXPECT_EQ(h.launches.size(), c.off ? 0u : 1u) << "the chord C-E-G works again";
    }
}

// A device the settings applied by OK no longer use is left alone when it comes and goes, whether
// it was open or already gone at the OK.
TEST_F(FlowMend, DevicesTheNewSettingsDoNotUseAreLeftAlone) {
    const struct {
        const char* name;
        bool goneBeforeOk, inputChanges;
    } cases[] = {
        {"thru turned off, then the output replugged", false, false},
        {"thru turned off while the output is gone", true, false},
        {"another input chosen while the first is gone", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimHost h;
        App a(h);
        h.inputs = {L"Sim MIDI In", L"Other In"};
        PutConfig(h, Stored(true));
        Main(a);
        const auto unplug = [&] {
            if (c.inputChanges) h.inputs = {L"Other In"};
            if (!c.inputChanges) h.outputs.clear();
            h.DevicesChanged();
            WindowProc(a, kMain, kWmDeviceChange, kDbtDevNodesChanged, 0);
        };
        if (c.goneBeforeOk) unplug();
        SettingsRecord next = Stored();
        if (c.inputChanges) next.MidiInName = MakeNameField(L"Other In");
        PutConfig(h, next);
        ApplyLikeOk(a);
        h.log.clear();
        if (!c.goneBeforeOk) unplug();
        h.inputs = {L"Sim MIDI In", L"Other In"};
        h.outputs = {L"Sim MIDI Out"};
        h.DevicesChanged();
        WindowProc(a, kMain, kWmDeviceChange, kDbtDevNodesChanged, 0);
        EXPECT_TRUE(
            CallsAre(h.Named({"midiInOpen", "midiOutOpen", "midiOutShortMsg", "midiOutClose"}), {}));
        EXPECT_TRUE(h.openOutputs.empty() && h.boxes.empty());
        EXPECT_EQ(h.openInputs.size(), 1u);
        EXPECT_EQ(h.trayShown.Tip, Text(text::kTipEnabled));
    }
}

TEST_F(FlowMend, TrayFollowsNewSettingsAndReturnsAfterExplorerRestarts) {
    StartWith(Stored());
    Toggle(app);
    host.trayIconPresent = false;  // the task bar came back empty
    OnTaskbarCreated(app);
    EXPECT_TRUE(TrayIs(host, TrayOp::Add, false));
    EXPECT_TRUE(host.trayIconPresent);

    ApplyLikeOk(app);
    EXPECT_TRUE(TrayIs(host, TrayOp::Modify, true));
    EXPECT_TRUE(app.Enabled);

    host.trayIconPresent = false;
    OnTaskbarCreated(app);
    EXPECT_TRUE(TrayIs(host, TrayOp::Add, true));
}

// At log-on the shell may not take the icon yet; it is tried again on a timer until it is there,
// never added twice, and the timer runs only meanwhile.
TEST_F(FlowMend, TrayIconIsTriedAgainUntilTheShellTakesIt) {
    constexpr TrayOp M = TrayOp::Modify, A = TrayOp::Add;
    const struct {
        const char* name;
        int refusals;
        bool late, restart;
        std::vector<TrayOp> retries;  // the calls of every tick, in order
    } cases[] = {
        {"taken at once", 0, false, false, {}},
        {"the first Add refused", 1, false, false, {M, A}},
        {"the first Add timed out but was carried out", 1, true, false, {M}},
        {"refused at the first tick too", 3, false, false, {M, A, M, A}},
        {"not ready after Explorer restarted", 1, false, true, {M, A}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimHost h;
        App a(h);
        PutConfig(h, Stored());
        h.trayRefusals = c.restart ? 0 : c.refusals;
        h.trayLate = c.late;
        Main(a);
        if (c.restart) {
            h.trayIconPresent = false;
            h.trayRefusals = c.refusals;
            OnTaskbarCreated(a);
        }
        h.trayCalls.clear();
        for (int tick = 0; tick < 5 && !h.timers.empty(); ++tick) {
            WindowProc(a, kMain, kWmTimer, kTrayTimerId, 0);
        }
        WindowProc(a, kMain, kWmTimer, kTrayTimerId, 0);  // one already on its way
        std::vector<TrayOp> ops;
        for (const sim::TrayCall& t : h.trayCalls) ops.push_back(t.op);
        EXPECT_EQ(ops, c.retries);
        EXPECT_TRUE(h.trayIconPresent && h.trayShown.Tip == Text(text::kTipEnabled));
        EXPECT_TRUE(h.timers.empty());
        EXPECT_EQ(h.Named({"SetTimer"}).size(), c.refusals ? 1u : 0u);
    }
}

using FlowWindowProc = FlowTest;

TEST_F(FlowWindowProc, EveryMessageIsChainedAndOnlyItsOwnAreHandled) {
    StartWith(Stored());
    const struct {
        std::uint32_t message;
        LParam lParam;
        bool toggles, menu;
    } cases[] = {
        {kWmHotkey, 0, true, false},           {kTrayCallback, 0x201, true, false},
        {kTrayCallback, 0x204, false, true},   {kTrayCallback, 0x202, false, false},
        {kTrayCallback, 0x203, false, false},  {kTrayCallback, 0x200, false, false},
        {kTrayCallback, 0x205, false, false},
        // What the shell sends after the clicks above, and what the keyboard sends.
        {kTrayCallback, kNinSelect, false, false}, {kTrayCallback, kWmContextMenu, false, false},
        {kTrayCallback, kNinKeySelect, true, false}, {kTrayCallback, kNinSelect, true, false},
        {kTrayCallback, kWmContextMenu, false, true}, {kWmClose, 0x201, false, false},
        {kMmMimData, 0xF8, false, false},      {0x0400, 0x201, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.message) + "/" + std::to_string(c.lParam));
        const bool enabled = app.Enabled;
        const std::size_t menus = Count("TrackPopupMenu");
        const int chained = host.chainedMessages;
        EXPECT_EQ(WindowProc(app, kMain, c.message, 0, c.lParam), 0) << "frmMain's answer";
        EXPECT_EQ(host.chainedMessages, chained + 1);
        EXPECT_EQ(app.Enabled != enabled, c.toggles);
        EXPECT_EQ(Count("TrackPopupMenu") - menus, c.menu ? 1u : 0u);
    }
    EXPECT_EQ(Count("midiInOpen"), 1u);
}

TEST_F(FlowWindowProc, MenuOpensTheDialogAndExitClosesInOrder) {
    StartWith(Stored());
    host.menuChoices = {MenuChoice::mnuRCConfig, MenuChoice::None};
    for (int i = 0; i < 2; ++i) WindowProc(app, kMain, kTrayCallback, 0, kWmRButtonDown);
    EXPECT_EQ(host.modelessShown, 1);

    host.log.clear();
    host.menuChoices = {MenuChoice::mnuRCEnd};
    WindowProc(app, kMain, kTrayCallback, 0, kWmRButtonDown);
    EXPECT_TRUE(CallsAre(
        host.Named({"UnloadConfig", "midiInStop", "Shell_NotifyIcon", "DestroyMainWindow"}),
        {{"UnloadConfig"}, {"midiInStop", {{"h", kIn}}}, kTrayDelete, {"DestroyMainWindow"}}));
    EXPECT_FALSE(host.trayIconPresent);
    EXPECT_FALSE(host.mainWindowLoaded);
}

TEST_F(FlowWindowProc, ToggleSilencesThruAndLeavesDevicesAndHeldNotesAlone) {
    StartWith(Stored(true));
    WindowProc(app, kMain, kMmMimData, 0, On(60));
    ASSERT_EQ(app.HeldNotes, 0x1);
    host.sent.clear();
    const auto before = host.log.size();

    WindowProc(app, kMain, kWmHotkey, 0, 0);
    EXPECT_FALSE(app.Enabled);
    EXPECT_EQ(host.sent, (std::vector<std::uint32_t>{0x00007cb0, 0x00403c80}));
    EXPECT_TRUE(TrayIs(host, TrayOp::Modify, false));

    WindowProc(app, kMain, kMmMimData, 0, On(64, 3));  // followed, not forwarded
    EXPECT_EQ(host.sent.size(), 2u);
    EXPECT_EQ(app.HeldNotes, 0x11);

    WindowProc(app, kMain, kTrayCallback, 0, kWmLButtonDown);
    EXPECT_TRUE(app.Enabled);
    EXPECT_EQ(host.sent.size(), 2u);
    EXPECT_TRUE(TrayIs(host, TrayOp::Modify, true));
    EXPECT_TRUE(app.HeldNotes == 0x11 && app.ThruEnabled);
    EXPECT_EQ(host.openInputs.size() + host.openOutputs.size(), 2u);
    for (std::size_t i = before; i < host.log.size(); ++i) {
        EXPECT_TRUE(host.log[i].name.find("Open") == std::string::npos &&
                    host.log[i].name.find("Close") == std::string::npos)
            << host.log[i].Text();
    }
}

// A note held on another channel when OK re-applies the settings, and when the program ends, is
// released at the output before it closes.
TEST_F(FlowWindowProc, OkAndExitReleaseWhatThruLeftSounding) {
    StartWith(Stored(true));
    WindowProc(app, kMain, kMmMimData, 0, On(65, 9));
    host.sent.clear();
    ApplyLikeOk(app);
    EXPECT_EQ(host.sent, (std::vector<std::uint32_t>{0x00007cb0, 0x00404189, 0x000000c0}));
    WindowProc(app, kMain, kMmMimData, 0, On(67, 2));
    host.sent.clear();
    UnloadMain(app);
    EXPECT_EQ(host.sent, (std::vector<std::uint32_t>{0x00007cb0, 0x00404382}));
}

using FlowShutdown = FlowTest;

TEST_F(FlowShutdown, ClosesEverythingInOrderAndRestoresTheWindowProc) {
    const struct {
        bool thru, inputFails;
        int input;                   // an input that never opened is closed by handle 0
        std::vector<CallIs> output;  // between the input and the shortcut
    } cases[] = {
        {true,
         false,
         kIn,
         {{"midiOutShortMsg", {{"h", kOut}, {"msg", 0x7cb0}}}, {"midiOutClose", {{"h", kOut}}}}},
        {false, true, 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.thru);
        sim::SimHost h;
        if (c.inputFails) h.failingInputs.insert(0);
        App a(h);
        PutConfig(h, Stored(c.thru, true));
        Main(a);
        h.log.clear();
        Shutdown(a);
        std::vector<CallIs> want = {
            {"midiInStop", {{"h", c.input}}},
            {"midiInReset", {{"h", c.input}}},
            {"midiInUnprepareHeader", {{"h", c.input}, {"size", kMidiHeaderSize}}},
            {"midiInClose", {{"h", c.input}}}};
        want.insert(want.end(), c.output.begin(), c.output.end());
        want.insert(want.end(),
                    {{"UnregisterHotKey", {{"wnd", kMain}, {"id", 0}}},
                     {"SetWindowLongPtr", {{"wnd", kMain}, {"index", -4}, {"value", 0x7000}}},
                     kTrayDelete});
        EXPECT_TRUE(CallsAre(h.log, want));
        EXPECT_FALSE(a.ThruEnabled || a.Enabled);
        EXPECT_TRUE(h.openInputs.empty() && h.openOutputs.empty() && h.hotkeys.empty());
        EXPECT_EQ(h.wndProcs[kMain], sim::SimHost::kFormProc);
    }
}

TEST_F(FlowShutdown, ExitAndLogOffTogetherShutDownOnce) {
    StartWith(Stored());
    ASSERT_TRUE(LoadConfigDialog(app));  // the dialog is open, too
    UnloadMain(app);       // Exit from the menu
    Form_QueryUnload(app);  // the session ends while the window goes
    UnloadMain(app);
    EXPECT_EQ(Count("midiInStop"), 1u);
    EXPECT_EQ(Count("UnloadConfig"), 1u);
    EXPECT_EQ(host.Named({"Shell_NotifyIcon"}).size(), 2u) << "one Add, one Delete";
}

using FlowLaunch = FlowTest;

// Everything the program opens, after a first start: the manual from the tray menu and from the
// dialog, and the chords. The shell gets the main window as owner, "open", no folder and the normal
// show state; the parameters are a null pointer for the manual and the stored text, even an empty
// one, for a chord. Texts code page 932 cannot hold reach the shell exactly.
TEST_F(FlowLaunch, EveryShellCallCarriesItsFields) {
    const auto play = [](App& a, std::initializer_list<LParam> messages) {
        for (LParam m : messages) WindowProc(a, kMain, kMmMimData, 0, m);
    };
    const std::wstring player = L"C:\\Tools\\Música 😀\\player.exe",
                       parameters = L"/play \"曲 ї 龘.mid\"";
    const struct {
        const char* label;
        std::function<void(sim::SimHost&, App&)> act;
        std::vector<std::pair<std::wstring, std::optional<std::wstring>>> opened;
        Language language = Language::Japanese;
    } cases[] = {
        {"the manual from the tray menu",
         [](sim::SimHost& h, App& a) {
             h.menuChoices = {MenuChoice::mnuRCHelp};
             WindowProc(a, kMain, kTrayCallback, 0, kWmRButtonDown);
         },
         {{kManual, std::nullopt}}},
        {"the manual from the dialog",
         [](sim::SimHost&, App& a) {
             ASSERT_TRUE(LoadConfigDialog(a));
             a.Config->cmdHelp.UserClick();
         },
         {{kManual, std::nullopt}}},
        // The default chord on any octaves and channels, then D F# A of settings OK applied,
        // and nothing on the way there.
        {"chords before and after new settings",
         [&](sim::SimHost& h, App& a) {
             play(a, {On(48, 2), On(76, 0), On(91, 15)});
             PutConfig(h, Stored(), {{0x84, L"C:\\other.exe", L""}, {0x244, player, parameters}});
             ApplyLikeOk(a);
             play(a, {Release(60), Release(64), Release(67), On(62), On(66), On(81, 9)});
         },
         {{kManual, L""}, {player, parameters}}},
        {"in English: its own manual, from the menu, the dialog and the first start's chord",
         [&](sim::SimHost& h, App& a) {
             h.menuChoices = {MenuChoice::mnuRCHelp};
             WindowProc(a, kMain, kTrayCallback, 0, kWmRButtonDown);
             ASSERT_TRUE(LoadConfigDialog(a));
             a.Config->cmdHelp.UserClick();
             play(a, {On(60), On(64), On(67)});
         },
         {{kManualEnglish, std::nullopt}, {kManualEnglish, std::nullopt}, {kManualEnglish, L""}},
         Language::English},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        sim::SimHost h;
        App a(h);
        h.answers = {kIdYes};
        test::SpeakLanguage speak(c.language);
        Main(a);
        ASSERT_TRUE(a.Running());
        c.act(h, a);
        ASSERT_EQ(h.launches.size(), c.opened.size());
        for (std::size_t i = 0; i < c.opened.size(); ++i) {
            const sim::ShellCall& l = h.launches[i];
            EXPECT_EQ(l.file, c.opened[i].first);
            EXPECT_EQ(l.parameters, c.opened[i].second) << "null and empty differ";
            EXPECT_TRUE(l.owner == kMain && l.operation == L"open" && l.directory.empty() &&
                        l.show == 5);
        }
    }
}

using FlowClosing = FlowTest;

// Exit, a log-off or WM_CLOSE while one of the program's boxes or modal loops is up. Windows goes
// on dispatching there, so the program is unloaded before the box returns; after that nothing may
// be opened, registered, written, launched or shown, and nothing may stay open.
TEST_F(FlowClosing, NothingHappensAfterTheBoxOrLoopInWhichTheProgramClosed) {
    const std::vector<LaunchCode> twins = {{0x91, L"C:\\a.exe", L""}, {0x91, L"C:\\b.exe", L""}};
    SettingsRecord stale = Stored(true);
    stale.MidiInName = MakeNameField(L"Unplugged");
    std::vector<std::uint8_t> damaged = EncodeSettings(Stored(), twins).bytes;
    damaged.resize(90);
    // The dialog from the tray, then OK; the answers the user gives before the close.
    auto ok = [](std::deque<int> answers) {
        return [answers](sim::SimHost& h, App& a) {
            ASSERT_TRUE(LoadConfigDialog(a));
            h.answers = answers;
            a.Config->cmdOK.UserClick();
        };
    };
    const struct {
        const char* label;
        std::function<void(sim::SimHost&)> arrange;  // before the start
        std::wstring closeIn;  // the box whose text starts so, or the loop of that name
        std::function<void(sim::SimHost&, App&)> act;  // once running; none: the start itself
        bool fileKept;
    } cases[] = {
        {"terms", [](sim::SimHost&) {}, L"Vosselmarを使用する前に", nullptr, true},
        {"damaged file", [&](sim::SimHost& h) { h.PutFile(kConfigFileName, damaged); },
         L"設定ファイル「", nullptr, true},
        {"changed device", [&](sim::SimHost& h) { PutConfig(h, stale); },
         L"MIDI入力デバイスが追加・変更", nullptr, true},
        {"dialog at the start", [&](sim::SimHost& h) { PutConfig(h, stale); }, L"modal", nullptr,
         true},
        {"input warning at the start",
         [](sim::SimHost& h) {
             h.failingInputs.insert(0);
             PutConfig(h, Stored(true, true));
         },
         L"MIDI入力デバイス「", nullptr, true},
        {"OK of the dialog at the start, output warning",
         [&](sim::SimHost& h) {
             h.failingOutputs.insert(0);
             PutConfig(h, stale);
         },
         L"MIDI出力デバイス「", nullptr, false},
        {"tray menu", [](sim::SimHost& h) { PutConfig(h, Stored()); }, L"TrackPopupMenu",
         [](sim::SimHost& h, App& a) {
             h.menuChoices = {MenuChoice::mnuRCConfig};
             WindowProc(a, kMain, kTrayCallback, 0, kWmRButtonDown);
         },
         true},
        {"question about contained chords", [&](sim::SimHost& h) { PutConfig(h, Stored(), twins); },
         L"起動コードの重複をチェックしますか？", ok({}), true},
        {"contained chords", [&](sim::SimHost& h) { PutConfig(h, Stored(), twins); },
         L" 1番目と 2番目", ok({kIdYes}), true},
        {"file dialog", [](sim::SimHost& h) { PutConfig(h, Stored()); }, L"GetOpenFileName",
         [](sim::SimHost& h, App& a) {
             ASSERT_TRUE(LoadConfigDialog(a));
             h.fileChoices = {L"C:\\chosen.exe"};
             a.Config->cmdSansyo.UserClick();
         },
         true},
        {"the shell opening the first of two targets of a chord",
         [&](sim::SimHost& h) { PutConfig(h, Stored(), twins); }, L"ShellExecute",
         [](sim::SimHost&, App& a) {
             for (int note : {60, 64, 67}) WindowProc(a, kMain, kMmMimData, 0, On(note));
         },
         true},
        {"input warning after OK", [](sim::SimHost& h) { PutConfig(h, Stored(true)); },
         L"MIDI入力デバイス「",
         [&](sim::SimHost& h, App& a) {
             h.failingInputs.insert(0);
             ok({kIdNo})(h, a);
         },
         false},
        {"shortcut refused after OK", [](sim::SimHost& h) { PutConfig(h, Stored(true, true)); },
         L"ショートカットキーを設定できませんでした",
         [&](sim::SimHost& h, App& a) {
             h.takenHotkeys.insert({2, 123});
             ok({kIdNo})(h, a);
         },
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        sim::SimHost h;
        App a(h);
        h.answers = {kIdYes};
        c.arrange(h);
        bool closed = false;
        auto close = [&] {
            if (closed) return;
            closed = true;
            UnloadMain(a);
        };
        h.insideModalLoop = [&](const std::wstring& what) {
            if (what.rfind(c.closeIn, 0) == 0) close();
        };
        h.modalUser = [&] {
            if (c.closeIn == L"modal") return close();
            // The user fixes the devices, turns thru on and confirms.
            a.Config->cmbMIDev.SetListIndex(0);
            a.Config->chkMidiOut.SetValue(1);
            h.answers = {kIdNo};
            a.Config->cmdOK.UserClick();
        };
        Main(a);
        const std::map<std::wstring, sim::SimFile> before = h.files;
        if (c.act) {
            ASSERT_TRUE(a.Running());
            c.act(h, a);
        }
        ASSERT_TRUE(closed);
        EXPECT_TRUE(a.Closing() && !a.Running());
        if (c.fileKept) {
            EXPECT_EQ(h.files, before);
        }

        const auto gone = std::find_if(h.log.begin(), h.log.end(), [](const sim::Call& call) {
            return call.name == "DestroyMainWindow";
        });
        ASSERT_NE(gone, h.log.end());
        for (auto call = gone + 1; call != h.log.end(); ++call) ADD_FAILURE() << call->Text();
        EXPECT_TRUE(h.openInputs.empty() && h.openOutputs.empty() && h.hotkeys.empty());
        EXPECT_FALSE(h.trayIconPresent);
        EXPECT_FALSE(a.Config);
        EXPECT_FALSE(h.ended) << "unloaded, not ended at once";
    }
}

}  // namespace
}  // namespace vos
