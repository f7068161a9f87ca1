// The configuration dialog's logic: its controls as models, its handlers and its working copy of
// the launch codes. The platform shows it; everything it decides happens here.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "app/app.h"
#include "app/settings.h"
#include "config_dialog/controls.h"
#include "config_dialog/layout.h"

namespace vos {

inline constexpr wchar_t kUndefinedPath[] = L"(undefined)";
inline constexpr std::size_t kInstrumentCount = 128;
inline constexpr std::size_t kShortcutKeyCount = 77;

// The model behind a control of the layout, as the kind of model the control shows. A label has
// no state of its own beyond what every control has.
using ControlModel =
    std::variant<Control*, ListBox*, Button*, TextBox*, CheckBox*, ComboBox*, KeyFace*>;

class frmConfig {
  public:
    explicit frmConfig(App& app);
    frmConfig(const frmConfig&) = delete;
    frmConfig& operator=(const frmConfig&) = delete;

    // Controls, named as on the form.
    ListBox lstCP;
    Button cmdAdd, cmdDel, cmdSansyo, cmdOK, cmdCancel, cmdHelp;
    TextBox txtPath, txtCommand;
    std::array<KeyFace, 12> picKey;
    ComboBox cmbMIDev, cmbMODev, cmbPC, cmbSKey;
    CheckBox chkShortcut{1}, chkShift, chkCtrl, chkAlt, chkMidiOut{1};
    CheckBox chkLearn;  // push-like: while it is down, playing sets the selected entry's chord
    Control Label1, Label2, Label3, Label4, Label5;

    std::vector<LaunchCode> WorkingCodes;

    // The one place where a view finds the model behind a control of the layout.
    ControlModel ModelOf(layout::Id id);
    // The same model as a control of any kind: whether it is enabled, and its Updated.
    Control& ControlOf(layout::Id id);

    // Fills the dialog from config.bin, the devices and the side files. False (after telling the
    // user why) when something it needs is missing; the dialog then does not open.
    bool Form_Load();

    void lstCP_Click();
    void txtPath_Change();
    void txtCommand_Change();
    void cmdAdd_Click();
    void cmdDel_Click();
    void cmdSansyo_Click();
    void picKey_Click(int index);
    void chkLearn_Click();
    void cmbMIDev_Click();
    void chkMidiOut_Click();
    void chkShortcut_Click();
    void cmdOK_Click();
    void cmdCancel_Click();
    void cmdHelp_Click();
    // A device has come or gone while the dialog is open.
    void DevicesChanged();

    void RefreshCodeList();
    void AppendCode(const LaunchCode& entry);
    void RemoveCode(int index);
    void DrawKeyboard();
    // Lights the keys of a mask: the selected entry's chord, or while learning the keys held.
    void DrawKeys(std::int32_t mask);
    // From the core while learning: keys held now, and the chord once they are all up.
    void KeysHeard(std::int32_t held, std::int32_t chord);
    bool CheckMissingCodes();
    bool CheckDuplicateCodes();
    std::int32_t GetKeyIndex(std::uint8_t code);
    std::optional<std::uint8_t> GetKeyCode(std::int32_t position);

  private:
    // A message box; nullopt when, by its return, the program is closing or this dialog has been
    // unloaded: the handler then stops.
    std::optional<int> Say(const std::wstring& text, unsigned style);
    bool Gone() const;
    std::wstring SideFile(const wchar_t* name) const;
    // The header OK writes, from the controls; nullopt (after a message) when a needed choice is
    // missing.
    std::optional<SettingsRecord> BuildHeader();

    App& app_;
    // As read when the dialog opened: keeps values the controls cannot show (a key code that is
    // not in the list, a program number past 127) when the user leaves them alone.
    SettingsRecord loaded_{};
};

// Loads the dialog unless it is loaded already. False when it cannot open.
bool LoadConfigDialog(App& app);
// Unloads the dialog when it is loaded; safe from inside the dialog's own handlers.
void UnloadConfigDialog(App& app);
// Frees unloaded dialogs. Only where no handler of theirs can be running: the top of the loop.
void CollectUnloadedDialogs(App& app);

// Shows the dialog modally. Applied when its OK has already activated the new settings.
enum class Modal { Cancelled, Applied, CannotOpen, Closing };
Modal ShowConfigModal(App& app);

}  // namespace vos
