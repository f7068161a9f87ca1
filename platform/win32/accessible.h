// What a screen reader learns about a control that the system's own description gets wrong or
// leaves out: the keys of the picture keyboard are plain windows (no name, no role, no state),
// the learning toggle is a push-like check box, and edit boxes and drop-down lists take their
// names from the label in front of them, which not every system's description looks for.
#pragma once

#include <windows.h>


namespace vos::win32 {

struct AccessibleInfo {
    HWND nameFrom = nullptr;  // the window whose name this one takes (its label); null: its own
    long role = 0;            // ROLE_SYSTEM_*; 0 keeps the system's
    bool checkable = false;
    bool checked = false;
};

// What a control is now, read from the window itself (its check state, its extra bytes).
using Describe = AccessibleInfo (*)(HWND control);

// The answer to WM_GETOBJECT for the control's client object: the system's description of the
// window with name, role and state as `describe` tells them at each question. Returns 0 (let the
// window's procedure answer) for every other object.
LRESULT AnswerGetObject(HWND hwnd, WPARAM wParam, LPARAM lParam, Describe describe);

// Tells listening screen readers that a control's state as described has changed.
void NotifyStateChange(HWND hwnd);

}  // namespace vos::win32
