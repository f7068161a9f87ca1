#include "app/modHook.h"

#include "app/frmMain.h"
#include "app/modMain.h"
#include "midi/chord.h"
#include "midi/modMidiIO.h"

#include <utility>

namespace vos {

void Toggle(App& app) {
    // Notes still sounding through thru would hang while recognition is off.
    if (app.Enabled && app.ThruEnabled) SilenceMidiOut(app);
    app.Enabled = !app.Enabled;
    // While the input is missing the icon goes on saying so; the choice shows once it is back.
    ShowRecognitionState(app);
}

void TrayNotice(App& app, LParam event) {
    switch (event) {
        case kWmLButtonDown:
            app.TraySelectFollows = true;
            return Toggle(app);
        case kWmRButtonDown:
            app.TrayContextMenuFollows = true;
            return ShowTrayMenu(app);
        case kNinSelect:  // after a click, or Enter on the icon the mouse chose
            if (!std::exchange(app.TraySelectFollows, false)) Toggle(app);
            return;
        case kNinKeySelect:  // Space or Enter on the icon the keyboard chose
            return Toggle(app);
        case kWmContextMenu:  // after a right click, or the menu key or Shift+F10
            if (!std::exchange(app.TrayContextMenuFollows, false)) ShowTrayMenu(app);
            return;
        default:
            // The second click of a double click comes as a double click and is not toggled
            // again, but it is followed by its own NIN_SELECT.
            if (event > kWmLButtonDown && event <= kWmLButtonDblClk) app.TraySelectFollows = true;
            if (event > kWmRButtonDown && event <= kWmRButtonDblClk) {
                app.TrayContextMenuFollows = true;
            }
            return;
    }
}

LResult WindowProc(App& app, WindowHandle window, std::uint32_t message, WParam wParam,
                   LParam lParam) {
    switch (message) {
        case kWmHotkey:
            Toggle(app);
            break;
        case kMmMimData:
            // What a device that has just gone still had on its way is not the keys held now. An
            // input the dialog opened to learn a chord is heard while the settings' one is gone.
            if (app.MidiInPort == Port::Open || app.Learn.ownsInput) {
                HandleMidiData(app, static_cast<std::uint32_t>(lParam));
            }
            break;
        case kMmMimClose:  // the driver closed the input: its device has gone
            CheckDevices(app);
            break;
        case kWmDeviceChange:
            if (wParam == kDbtDevNodesChanged) CheckDevices(app);
            break;
        case kTrayCallback:
            TrayNotice(app, lParam & 0xFFFF);  // the high word is the icon's id
            break;
        case kWmTimer:
            if (wParam == kTrayTimerId) RetryTrayIcon(app);
            break;
        default:
            break;
    }
    return app.host.CallWndProc(app.PrevWndProc, window, message, wParam, lParam);
}

}  // namespace vos
