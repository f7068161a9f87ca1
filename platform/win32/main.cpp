// Entry point: start the core, then live in the message loop until frmMain is gone.
#include <windows.h>

#include "app/app.h"
#include "app/modMain.h"
#include "app/texts.h"
#include "config_dialog/frmConfig.h"
#include "win32_host.h"
#include "winmm_api.h"

namespace {

// DLLs the system loads for the program by name (the shell opening a target, the file dialog,
// the controls) would otherwise be looked for in the program's folder and the current folder
// first, where anybody may have left a file of that name. Only the system folder is searched from
// here on. Windows 7 without the update that brought SetDefaultDllDirectories still loses the
// current folder.
void SearchDllsInSystemFolderOnly() {
    using SetDirectories = BOOL(WINAPI*)(DWORD);
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    FARPROC proc = kernel32 ? GetProcAddress(kernel32, "SetDefaultDllDirectories") : nullptr;
    auto setDirectories = reinterpret_cast<SetDirectories>(reinterpret_cast<void (*)()>(proc));
    if (!setDirectories || !setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryW(L"");
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
    SearchDllsInSystemFolderOnly();
    // Once, before the first text: every box, even the one about winmm, speaks it.
    vos::SetLanguage(
        vos::ChooseLanguage(GetUserDefaultUILanguage(), commandLine ? commandLine : L""));
    // Without MIDI there is nothing to do: say so before any window, device or file is touched.
    vos::win32::Winmm winmm;
    if (!winmm.Loaded()) {
        MessageBoxW(nullptr, winmm.Problem().c_str(), vos::kTitle, MB_OK | MB_ICONERROR);
        return 1;
    }
    // Before the first shell call, and released after the last window has gone.
    vos::win32::ScopedCom com;
    vos::win32::Win32Host host(instance, winmm);
    vos::App app(host);
    host.Attach(&app);
    vos::Main(app);
    // Ended at once, or closed (WM_CLOSE, a log-off) before the start was complete.
    if (!app.Running()) return 0;

    using Win32Host = vos::win32::Win32Host;
    while (host.PumpMessage(Win32Host::Loop::Main, Win32Host::Wait::Yes)) {
        vos::CollectUnloadedDialogs(app);
    }
    return 0;
}
