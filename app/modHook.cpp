#include "app/modHook.h"

#include "app/frmMain.h"
#include "app/modMain.h"
#include "midi/chord.h"
#include "midi/modMidiIO.h"

namespace vos {

void Toggle(App& app) {
    if (app.Enabled) {
        // Notes still sounding through thru would hang while recognition is off.
        if (app.ThruEnabled) SilenceMidiOut(app);
        SetTrayIcon(app, TrayPicture::picIcon2, kTipDisabled, TrayOp::Modify);
        app.Enabled = false;
    } else {
        SetTrayIcon(app, TrayPicture::picIcon1, kTipEnabled, TrayOp::Modify);
        app.Enabled = true;
    }
}

LResult WindowProc(App& app, WindowHandle window, std::uint32_t message, WParam wParam,
                   LParam lParam) {
    switch (message) {
        case kWmHotkey:
            Toggle(app);
            break;
        case kMmMimData:
            HandleMidiData(app, static_cast<std::uint32_t>(lParam));
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
