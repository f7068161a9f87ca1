#include "desktop.h"

#include "system_library.h"

namespace vos::win32 {

int SystemDpi() {
    // Asked without a device context where the system can tell it so: a screen DC, once released,
    // stays cached for the process, and the tray program alone never draws.
    using DpiForSystem = UINT(WINAPI*)();
    static const auto dpiForSystem = FunctionOf<DpiForSystem>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForSystem"));
    if (dpiForSystem) {
        if (const UINT dpi = dpiForSystem()) return static_cast<int>(dpi);
    }
    ScopedDc screen(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen.Get(), LOGPIXELSX) : 0;
    return dpi > 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
}

ScopedIcon LoadIconResource(HINSTANCE instance, int resource, IconSize size) {
    const bool big = size == IconSize::Big;
    const int width = GetSystemMetrics(big ? SM_CXICON : SM_CXSMICON);
    const int height = GetSystemMetrics(big ? SM_CYICON : SM_CYSMICON);
    return ScopedIcon(static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(resource), IMAGE_ICON, width, height, 0)));
}

}  // namespace vos::win32
