#include "desktop.h"

namespace vos::win32 {

int SystemDpi() {
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
