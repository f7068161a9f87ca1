// Entry point: start the core, then live in the message loop until frmMain is gone.
#include <windows.h>

#include "app/app.h"
#include "app/modMain.h"
#include "config_dialog/frmConfig.h"
#include "win32_host.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // Before the first shell call, and released after the last window has gone.
    vos::win32::ScopedCom com;
    vos::win32::Win32Host host(instance);
    vos::App app(host);
    host.Attach(&app);
    vos::Main(app);
    // Ended at once, or closed (WM_CLOSE, a log-off) before the start was complete.
    if (!app.Running()) return 0;

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        // Tab and the access keys of the modeless configuration dialog need the dialog manager.
        if (host.RouteDialogMessage(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
        vos::CollectUnloadedDialogs(app);
    }
    return 0;
}
