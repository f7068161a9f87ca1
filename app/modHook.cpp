#include "app/modHook.h"

#include "app/frmMain.h"
#include "app/modMain.h"
#include "midi/chord.h"
#include "midi/modMidiIO.h"

namespace vos {

void Toggle(App& app) {
    // Notes still sounding through thru would hang while recognition is off.
    if (app.Enabled && app.ThruEnabled) SilenceMidiOut(app);
    app.Enabled = !app.Enabled;
    // While the input is missing the icon goes on saying so; the choice shows once it is back.
    ShowRecognitionState(app);
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
            if (lParam == kWmLButtonDown) {
                Toggle(app);
            } else if (lParam == kWmRButtonDown) {
                ShowTrayMenu(app);
            }
            break;
        default:
            break;
    }
    return app.host.CallWndProc(app.PrevWndProc, window, message, wParam, lParam);
}

}  // namespace vos
