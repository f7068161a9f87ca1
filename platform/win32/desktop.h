// What every window of the program takes from the desktop: the DPI it lays out with and its
// icons at the sizes the system draws them now.
#pragma once

#include <windows.h>

#include "scoped.h"

namespace vos::win32 {

// The DPI of the screen as a whole; 96 when it cannot be read.
int SystemDpi();

enum class IconSize { Big, Small };
// One of the program's icon resources at the system's size for big or small icons.
ScopedIcon LoadIconResource(HINSTANCE instance, int resource, IconSize size);

}  // namespace vos::win32
