#include "config_dialog/frmConfig.h"

#include <algorithm>

#include "app/modMain.h"
#include "config_dialog/layout.h"
#include "config_dialog/side_files.h"
#include "midi/chord.h"
#include "midi/modMidiIO.h"

namespace vos {
namespace {

constexpr unsigned kStyleAskDuplicates = kMbYesNo | kMbIconInformation | kMbDefButton2;
constexpr unsigned kStyleDuplicate = kMbYesNo | kMbIconExclamation;
constexpr unsigned kOfnHideReadOnly = 4;

std::wstring LineOf(std::size_t index, const LaunchCode& code) {
    return EntryNumber(index) + L"  " + code.Path;
}

std::vector<std::wstring> DeviceNames(App& app, bool input) {
    std::vector<std::wstring> names;
    const unsigned count = input ? app.host.midiInGetNumDevs() : app.host.midiOutGetNumDevs();
    for (unsigned i = 0; i < count; ++i) {
        const int device = static_cast<int>(i);
        names.push_back(input ? GetMidiInName(app, device) : GetMidiOutName(app, device));
    }
    return names;
}

// The stored device's place in the list: where config.bin says, unless a device that came and
// went while the program ran has moved it; then where its name is now. fallback otherwise.
int StoredDeviceIndex(const std::vector<std::wstring>& names, std::int32_t stored,
                      const NameField& name, int fallback) {
    if (stored >= 0 && stored < static_cast<std::int64_t>(names.size()) &&
        NameMatches(name, names[static_cast<std::size_t>(stored)])) {
        return stored;
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (NameMatches(name, names[i])) return static_cast<int>(i);
    }
    return fallback;
}

// Refills a device list with the devices present now, unless the device chosen in it is gone:
// then the list stays as the user sees it rather than lose the choice.
void FollowDevices(ComboBox& list, std::vector<std::wstring> names) {
    if (names == list.Items()) return;
    int index = -1;
    if (list.ListIndex() >= 0) {
        const std::wstring& chosen = list.Items()[static_cast<std::size_t>(list.ListIndex())];
        auto it = std::find(names.begin(), names.end(), chosen);
        if (it == names.end()) return;
        index = static_cast<int>(it - names.begin());
    }
    list.SetItems(std::move(names), index);
}

}  // namespace

frmConfig::frmConfig(App& app) : app_(app) {
    for (int k = 0; k < 12; ++k)
        picKey[k].SetBackColor(layout::IsBlackKey(k) ? layout::kBlack : layout::kWhite);
    lstCP.Click = [this] { lstCP_Click(); };
    txtPath.Change = [this] { txtPath_Change(); };
    txtCommand.Change = [this] { txtCommand_Change(); };
    cmdAdd.Click = [this] { cmdAdd_Click(); };
    cmdDel.Click = [this] { cmdDel_Click(); };
    cmdSansyo.Click = [this] { cmdSansyo_Click(); };
    chkMidiOut.Click = [this] { chkMidiOut_Click(); };
    chkShortcut.Click = [this] { chkShortcut_Click(); };
    chkLearn.Click = [this] { chkLearn_Click(); };
    cmbMIDev.Click = [this] { cmbMIDev_Click(); };
    cmdOK.Click = [this] { cmdOK_Click(); };
    cmdCancel.Click = [this] { cmdCancel_Click(); };
    cmdHelp.Click = [this] { cmdHelp_Click(); };
}

ControlModel frmConfig::ModelOf(layout::Id id) {
    using layout::Id;
    // The rows of the layout, with the model each one shows.
    // clang-format off
    switch (id) {
        case Id::Label1: return &Label1;
        case Id::Label2: return &Label2;
        case Id::Label3: return &Label3;
        case Id::Label4: return &Label4;
        case Id::Label5: return &Label5;
        case Id::lstCP: return &lstCP;
        case Id::cmdAdd: return &cmdAdd;
        case Id::cmdDel: return &cmdDel;
        case Id::txtPath: return &txtPath;
        case Id::cmdSansyo: return &cmdSansyo;
        case Id::txtCommand: return &txtCommand;
        case Id::cmbMIDev: return &cmbMIDev;
        case Id::chkShortcut: return &chkShortcut;
        case Id::chkShift: return &chkShift;
        case Id::chkCtrl: return &chkCtrl;
        case Id::chkAlt: return &chkAlt;
        case Id::cmbSKey: return &cmbSKey;
        case Id::chkMidiOut: return &chkMidiOut;
        case Id::cmbMODev: return &cmbMODev;
        case Id::cmbPC: return &cmbPC;
        case Id::cmdOK: return &cmdOK;
        case Id::cmdCancel: return &cmdCancel;
        case Id::cmdHelp: return &cmdHelp;
        case Id::picKey0: case Id::picKey1: case Id::picKey2: case Id::picKey3:
        case Id::picKey4: case Id::picKey5: case Id::picKey6: case Id::picKey7:
        case Id::picKey8: case Id::picKey9: case Id::picKey10: case Id::picKey11:
            return &picKey[static_cast<std::size_t>(layout::KeyIndex(id))];
        case Id::chkLearn: return &chkLearn;
    }
    // clang-format on
    return static_cast<Control*>(nullptr);  // not a control of the layout
}

Control& frmConfig::ControlOf(layout::Id id) {
    return *std::visit([](auto* model) -> Control* { return model; }, ModelOf(id));
}

std::optional<int> frmConfig::Say(const std::wstring& text, unsigned style) {
    std::optional<int> answer = Ask(app_, text, style);
    if (Gone()) return std::nullopt;
    return answer;
}

bool frmConfig::Gone() const { return app_.Closing() || app_.Config.get() != this; }

std::wstring frmConfig::SideFile(const wchar_t* name) const {
    return JoinPath(app_.host.ProgramFolder(), name);
}

bool frmConfig::Form_Load() {
    Host& h = app_.host;
    const std::wstring configPath = ConfigPath(app_);
    ReadResult read = ReadSettings(h, configPath);
    if (read.status != ReadStatus::Ok) {
        Say(DescribeReadProblem(read, configPath), kMbIconError);
        return false;
    }
    // Every side file is checked before anything is shown, so a short one cannot leave the
    // dialog half filled.
    // In English the General MIDI names of their own file, where it has been installed.
    const bool englishNames =
        CurrentLanguage() == Language::English && FileExists(app_, SideFile(L"gminst.en.bin"));
    SideLines instruments = ReadSideFileLines(
        h, SideFile(englishNames ? L"gminst.en.bin" : L"gminst.bin"), kInstrumentCount);
    SideLines keyNames = ReadSideFileLines(h, SideFile(L"vkname.bin"), kShortcutKeyCount);
    std::wstring keyValues = CheckKeyValues(h, SideFile(L"vkvalue.bin"));
    const std::wstring& problem = !instruments.ok ? instruments.problem
                                  : !keyNames.ok  ? keyNames.problem
                                                  : keyValues;
    if (!problem.empty()) {
        Say(Fill(text::kDialogCannotOpen, {problem}), kMbIconError);
        return false;
    }

    const SettingsRecord& s = read.decoded.header;
    loaded_ = s;
    WorkingCodes = std::move(read.decoded.codes);
    RefreshCodeList();
    lstCP.SetListIndex(0);

    if (std::vector<std::wstring> names = DeviceNames(app_, true); !names.empty()) {
        const int index = StoredDeviceIndex(names, s.MidiInDevice, s.MidiInName, s.MidiInDevice);
        cmbMIDev.SetItems(std::move(names), index);
    }
    if (std::vector<std::wstring> names = DeviceNames(app_, false); !names.empty()) {
        const bool past = static_cast<std::int64_t>(s.MidiOutDevice) >
                         static_cast<std::int64_t>(names.size()) - 1;
        const int index = StoredDeviceIndex(names, s.MidiOutDevice, s.MidiOutName,
                                            past ? 0 : s.MidiOutDevice);
        cmbMODev.SetItems(std::move(names), index);
    }
    for (const std::wstring& line : instruments.lines) cmbPC.AddItem(line);
    cmbPC.SetListIndex(s.Program);
    for (const std::wstring& line : keyNames.lines) cmbSKey.AddItem(line);
    cmbSKey.SetListIndex(GetKeyIndex(s.ShortcutKey));

    chkShift.SetValue(0);
    chkCtrl.SetValue(0);
    chkAlt.SetValue(0);
    if (s.ShortcutModifiers & kModShift) chkShift.SetValue(1);
    if (s.ShortcutModifiers & kModControl) chkCtrl.SetValue(1);
    if (s.ShortcutModifiers & kModAlt) chkAlt.SetValue(1);

    chkMidiOut.SetValue(IsOn(s.UseMidiOut) ? 1 : 0);
    chkShortcut.SetValue(IsOn(s.UseShortcut) ? 1 : 0);
    return true;
}

void frmConfig::RefreshCodeList() {
    lstCP.Clear();
    std::vector<std::wstring> lines;
    lines.reserve(WorkingCodes.size());
    for (std::size_t i = 0; i < WorkingCodes.size(); ++i)
        lines.push_back(LineOf(i, WorkingCodes[i]));
    lstCP.AddItems(std::move(lines));
}

void frmConfig::AppendCode(const LaunchCode& entry) {
    WorkingCodes.push_back(entry);
}

void frmConfig::RemoveCode(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= WorkingCodes.size()) return;
    WorkingCodes.erase(WorkingCodes.begin() + index);
}

void frmConfig::lstCP_Click() {
    int i = lstCP.ListIndex();
    if (i < 0) return;
    txtPath.SetText(WorkingCodes[static_cast<std::size_t>(i)].Path);
    txtCommand.SetText(WorkingCodes[static_cast<std::size_t>(i)].Command);
    DrawKeyboard();
}

void frmConfig::txtPath_Change() {
    int i = lstCP.ListIndex();
    if (i < 0) return;
    WorkingCodes[static_cast<std::size_t>(i)].Path = txtPath.Text();
    RefreshCodeList();
    lstCP.SetListIndex(i);
}

void frmConfig::txtCommand_Change() {
    int i = lstCP.ListIndex();
    if (i < 0) return;
    WorkingCodes[static_cast<std::size_t>(i)].Command = txtCommand.Text();
}

void frmConfig::cmdAdd_Click() {
    LaunchCode entry{0, kUndefinedPath, L""};
    int n = static_cast<int>(WorkingCodes.size()) - 1;
    AppendCode(entry);
    RefreshCodeList();
    lstCP.SetListIndex(n + 1);
}

void frmConfig::cmdDel_Click() {
    int i = lstCP.ListIndex();
    int c = lstCP.ListCount();
    if (c == 1) {
        Say(Text(text::kOneEntryNeeded), kMbIconExclamation);
        return;
    }
    if (i < 0) return;
    RemoveCode(i);
    RefreshCodeList();
    lstCP.SetListIndex(i > static_cast<int>(WorkingCodes.size()) - 1 ? i - 1 : i);
}

void frmConfig::cmdSansyo_Click() {
    std::optional<std::wstring> chosen =
        app_.host.OpenFileDialog(kOfnHideReadOnly, Text(text::kAllFilesFilter), txtPath.Text());
    // The file dialog runs its own message loop, in which the program may have begun closing.
    if (chosen && !Gone()) txtPath.SetText(*chosen);
}

void frmConfig::DrawKeyboard() {
    int i = lstCP.ListIndex();
    if (i < 0) return;
    DrawKeys(WorkingCodes[static_cast<std::size_t>(i)].Code);
}

void frmConfig::DrawKeys(std::int32_t code) {
    for (int k = 0; k < 12; ++k) {
        std::uint32_t color = (code & (1 << k))       ? layout::kRed
                              : layout::IsBlackKey(k) ? layout::kBlack
                                                      : layout::kWhite;
        picKey[static_cast<std::size_t>(k)].SetBackColor(color);
    }
}

void frmConfig::picKey_Click(int index) {
    int i = lstCP.ListIndex();
    if (i < 0 || index < 0 || index > 11) return;
    WorkingCodes[static_cast<std::size_t>(i)].Code ^= (1 << index);
    DrawKeyboard();
}

void frmConfig::chkLearn_Click() {
    if (!chkLearn.Checked()) {
        StopLearning(app_);
        app_.Learned = nullptr;
        DrawKeyboard();
        return;
    }
    // The input in use is heard as it is; with none open, the one chosen here is opened. The list
    // keeps showing a device that has gone, so the device is looked up by the name shown.
    int device = -1;
    if (int shown = cmbMIDev.ListIndex(); shown >= 0) {
        const std::vector<std::wstring> names = DeviceNames(app_, true);
        auto it = std::find(names.begin(), names.end(), cmbMIDev.Items()[static_cast<std::size_t>(shown)]);
        if (it != names.end()) device = static_cast<int>(it - names.begin());
    }
    if (app_.MidiInHandle == 0 && device < 0) {
        if (Say(Text(text::kChooseInput), kMbIconExclamation)) chkLearn.SetValue(0);
        return;
    }
    if (!StartLearning(app_, device)) {
        // Told in a box already, in which the program may have begun closing.
        if (!Gone()) chkLearn.SetValue(0);
        return;
    }
    app_.Learned = [this](std::int32_t held, std::int32_t chord) { KeysHeard(held, chord); };
}

void frmConfig::KeysHeard(std::int32_t held, std::int32_t chord) {
    if (Gone() || !chkLearn.Checked()) return;
    int i = lstCP.ListIndex();
    if (chord != 0 && i >= 0) {
        // What clicking the keys one by one would leave: the twelve keys' bits are the chord,
        // any bit above them stays as it was.
        std::int32_t& code = WorkingCodes[static_cast<std::size_t>(i)].Code;
        code = (code & ~std::int32_t{0xFFF}) | chord;
        DrawKeyboard();
    } else if (held != 0) {
        DrawKeys(held);
    } else {
        DrawKeyboard();
    }
}

void frmConfig::cmbMIDev_Click() {
    // What is being heard would no longer be the device the list shows.
    chkLearn.SetValue(0);
}

void frmConfig::chkMidiOut_Click() {
    bool on = chkMidiOut.Checked();
    cmbMODev.SetEnabled(on);
    cmbPC.SetEnabled(on);
    Label2.SetEnabled(on);
    Label3.SetEnabled(on);
}

void frmConfig::chkShortcut_Click() {
    bool on = chkShortcut.Checked();
    chkShift.SetEnabled(on);
    chkCtrl.SetEnabled(on);
    chkAlt.SetEnabled(on);
    cmbSKey.SetEnabled(on);
}

bool frmConfig::CheckMissingCodes() {
    for (std::size_t i = 0; i < WorkingCodes.size(); ++i) {
        if (WorkingCodes[i].Code == 0) {
            Say(Fill(text::kNoChord, {EntryNumber(i)}), kMbIconExclamation);
            return false;
        }
    }
    return true;
}

bool frmConfig::CheckDuplicateCodes() {
    for (std::size_t i = 0; i < WorkingCodes.size(); ++i) {
        for (std::size_t j = 0; j < WorkingCodes.size(); ++j) {
            if (i == j) continue;
            std::int32_t a = WorkingCodes[i].Code, b = WorkingCodes[j].Code;
            if ((a & b) != a) continue;
            std::optional<int> answer =
                Say(Fill(text::kContained, {EntryNumber(i), EntryNumber(j)}), kStyleDuplicate);
            if (!answer || *answer == kIdYes) return false;
        }
    }
    return true;
}

std::int32_t frmConfig::GetKeyIndex(std::uint8_t code) {
    return vos::GetKeyIndex(app_.host, SideFile(L"vkvalue.bin"), code);
}

std::optional<std::uint8_t> frmConfig::GetKeyCode(std::int32_t position) {
    return vos::GetKeyCode(app_.host, SideFile(L"vkvalue.bin"), position);
}

std::optional<SettingsRecord> frmConfig::BuildHeader() {
    // A stored device missing from today's list shows as no choice. Saved, that would be device
    // -1 with an empty name: it matches itself at every start, so no start would ask again, and
    // every one would fail to open it.
    if (cmbMIDev.ListIndex() < 0) {
        Say(Text(text::kChooseInput), kMbIconExclamation);
        return std::nullopt;
    }
    if (chkMidiOut.Checked() && cmbMODev.ListIndex() < 0) {
        Say(Text(text::kChooseOutput), kMbIconExclamation);
        return std::nullopt;
    }
    SettingsRecord s = loaded_;
    s.MidiInDevice = cmbMIDev.ListIndex();
    // The name the user saw: a device that went while the dialog was open leaves its list as it
    // was, and the index alone would name whatever device is there now.
    s.MidiInName = MakeNameField(cmbMIDev.Items()[static_cast<std::size_t>(s.MidiInDevice)]);
    s.UseMidiOut = chkMidiOut.Checked() ? kTrue16 : kFalse16;
    // Without thru the output is not used; one the list cannot show stays as stored, ready for
    // when thru is turned on again.
    if (cmbMODev.ListIndex() >= 0) {
        s.MidiOutDevice = cmbMODev.ListIndex();
        s.MidiOutName = MakeNameField(cmbMODev.Items()[static_cast<std::size_t>(s.MidiOutDevice)]);
    }
    // With nothing chosen, what was stored stays: a choice the list cannot show is not lost.
    if (cmbPC.ListIndex() >= 0) {
        s.Program = static_cast<std::uint8_t>(cmbPC.ListIndex());
    } else if (chkMidiOut.Checked() && loaded_.Program > 127) {
        Say(Text(text::kChooseProgram), kMbIconExclamation);
        return std::nullopt;
    }
    s.UseShortcut = chkShortcut.Checked() ? kTrue16 : kFalse16;
    if (std::optional<std::uint8_t> key = GetKeyCode(cmbSKey.ListIndex())) {
        s.ShortcutKey = *key;
    } else if (chkShortcut.Checked()) {
        Say(Text(text::kChooseShortcut), kMbIconExclamation);
        return std::nullopt;
    }
    s.ShortcutModifiers = static_cast<std::uint8_t>((chkShift.Checked() ? kModShift : 0) |
                                                    (chkCtrl.Checked() ? kModControl : 0) |
                                                    (chkAlt.Checked() ? kModAlt : 0));
    s.CodeCount = static_cast<std::int32_t>(WorkingCodes.size());
    return s;
}

void frmConfig::cmdOK_Click() {
    // Before anything can be saved and applied: the input opened for learning must be closed by
    // then, and nothing played while a question is up may change what is being saved.
    chkLearn.SetValue(0);
    if (!CheckMissingCodes()) return;
    std::optional<int> check = Say(Text(text::kAskDuplicates), kStyleAskDuplicates);
    if (!check || (*check == kIdYes && !CheckDuplicateCodes())) return;
    std::optional<SettingsRecord> header = BuildHeader();
    if (!header) return;
    const std::wstring path = ConfigPath(app_);
    WriteResult written = WriteSettings(app_.host, path, *header, WorkingCodes);
    if (written.status != WriteStatus::Ok) {
        // Nothing was applied: the running configuration and every edit stay as they are.
        Say(DescribeWriteProblem(written, path), kMbIconError);
        return;
    }
    ReleaseDevicesAndShortcut(app_);
    // A refused shortcut or an unreadable file keeps the dialog open for another try; a program
    // that began closing meanwhile does nothing more.
    if (LoadSettings(app_) != Activation::Active || Gone()) return;
    app_.AppliedByDialog = true;
    UnloadConfigDialog(app_);
}

void frmConfig::cmdCancel_Click() { UnloadConfigDialog(app_); }

void frmConfig::DevicesChanged() {
    FollowDevices(cmbMIDev, DeviceNames(app_, true));
    FollowDevices(cmbMODev, DeviceNames(app_, false));
    // The input heard is gone, or gave way to the settings' own input coming back.
    if (chkLearn.Checked() && (!app_.Learn.on || app_.MidiInHandle == 0)) chkLearn.SetValue(0);
}

void frmConfig::cmdHelp_Click() {
    app_.host.ShellExec(app_.MainWindow, L"open", ManualPath(app_), std::nullopt, L"", kSwShow);
}

bool LoadConfigDialog(App& app) {
    if (app.Config) return true;
    auto dialog = std::make_unique<frmConfig>(app);
    if (!dialog->Form_Load()) return false;
    app.Config = std::move(dialog);
    return true;
}

void UnloadConfigDialog(App& app) {
    if (!app.Config) return;
    app.Config->chkLearn.SetValue(0);
    app.host.UnloadConfig();
    app.ConfigUnloaded.push_back(std::move(app.Config));
}

void CollectUnloadedDialogs(App& app) { app.ConfigUnloaded.clear(); }

}  // namespace vos
