// The window procedure of frmMain while the program runs, and the enable toggle.
#pragma once

#include "app/app.h"

namespace vos {

LResult WindowProc(App& app, WindowHandle window, std::uint32_t message, WParam wParam,
                   LParam lParam);
void Toggle(App& app);

}  // namespace vos
