// The window procedure of frmMain while the program runs, and the enable toggle.
#pragma once

#include "app/app.h"

namespace vos {

LResult WindowProc(App& app, WindowHandle window, std::uint32_t message, WParam wParam,
                   LParam lParam);
void Toggle(App& app);
// What the tray icon's callback reports: the mouse toggles recognition with a left click and opens
// the menu with a right one, the keyboard with Space or Enter and with the menu key or Shift+F10.
void TrayNotice(App& app, LParam event);

}  // namespace vos
