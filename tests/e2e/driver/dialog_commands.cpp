// A window built of ordinary child controls, such as the settings dialog:
// its controls with their places in client coordinates, the keyboard focus,
// keys pressed into it through the system input queue, a control's text set
// as typing would, where its close box is, and what the screen shows.
//
// --title defaults to the settings dialog's. Control lines are tab-separated
// so that texts may hold blanks:
//   ctrl <hwnd> <id> <class> <l,t,r,b> <enabled> <visible> <style> <state> <text>
// with the rectangle in the dialog's client coordinates and <state> the
// check state of a button, "sel/count" of a list or combo box, "-" otherwise.
#include <cwchar>

#include "driver.h"

namespace driver {
namespace {

DWORD thread_of(HWND h) { return GetWindowThreadProcessId(h, nullptr); }

GUITHREADINFO gui_info(HWND h) {
    GUITHREADINFO gi{};
    gi.cbSize = sizeof gi;
    GetGUIThreadInfo(thread_of(h), &gi);
    return gi;
}

RECT client_rect_of(HWND child, HWND dlg) {
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

long long send_ms(HWND h, UINT msg, WPARAM w, LPARAM l, long long fallback = -1) {
    DWORD_PTR res = 0;
    if (!send_within(h, msg, w, l, 1000, &res)) return fallback;
    return static_cast<long long>(static_cast<LONG_PTR>(res));
}

wstring control_state(HWND h) {
    wstring cls = class_of(h);
    if (_wcsicmp(cls.c_str(), L"Button") == 0) {
        LONG type = GetWindowLongW(h, GWL_STYLE) & BS_TYPEMASK;
        if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON) return L"-";
        return num(send_ms(h, BM_GETCHECK, 0, 0));
    }
    if (_wcsicmp(cls.c_str(), L"ComboBox") == 0)
        return num(send_ms(h, CB_GETCURSEL, 0, 0)) + L"/" + num(send_ms(h, CB_GETCOUNT, 0, 0));
    if (_wcsicmp(cls.c_str(), L"ListBox") == 0)
        return num(send_ms(h, LB_GETCURSEL, 0, 0)) + L"/" + num(send_ms(h, LB_GETCOUNT, 0, 0));
    return L"-";
}

// The text a control shows: for a combo box the selected line, for a list
// box its lines joined by " | " (the selected one marked with '>').
wstring control_text(HWND h) {
    wstring cls = class_of(h);
    wchar_t b[2048];
    if (_wcsicmp(cls.c_str(), L"ComboBox") == 0) {
        long long sel = send_ms(h, CB_GETCURSEL, 0, 0);
        if (sel < 0) return L"";
        long long len = send_ms(h, CB_GETLBTEXTLEN, static_cast<WPARAM>(sel), 0);
        if (len < 0 || len >= 2047) return L"";
        b[0] = 0;
        send_ms(h, CB_GETLBTEXT, static_cast<WPARAM>(sel), reinterpret_cast<LPARAM>(b));
        return b;
    }
    if (_wcsicmp(cls.c_str(), L"ListBox") == 0) {
        long long count = send_ms(h, LB_GETCOUNT, 0, 0);
        long long sel = send_ms(h, LB_GETCURSEL, 0, 0);
        wstring all;
        for (long long i = 0; i < count && i < 100; i++) {
            long long len = send_ms(h, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
            b[0] = 0;
            if (len >= 0 && len < 2047)
                send_ms(h, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(b));
            all += (i ? L" | " : L"") + wstring(i == sel ? L">" : L"") + b;
        }
        return all;
    }
    return window_text(h);
}

wstring describe_control(HWND h, HWND dlg) {
    RECT r = client_rect_of(h, dlg);
    return L"ctrl\t" + hexw(reinterpret_cast<ULONG_PTR>(h)) + L"\t" + num(GetDlgCtrlID(h)) + L"\t" +
           class_of(h) + L"\t" + rect_str(r) + L"\t" + num(IsWindowEnabled(h) ? 1 : 0) + L"\t" +
           num(IsWindowVisible(h) ? 1 : 0) + L"\t" +
           hexw(static_cast<DWORD>(GetWindowLongW(h, GWL_STYLE))) + L"\t" + control_state(h) +
           L"\t" + escape(control_text(h));
}

wstring describe_dialog(HWND dlg) {
    RECT w{}, c{};
    GetWindowRect(dlg, &w);
    GetClientRect(dlg, &c);
    POINT o{0, 0};
    ClientToScreen(dlg, &o);
    GUITHREADINFO gi = gui_info(dlg);
    return L"hwnd=" + hexw(reinterpret_cast<ULONG_PTR>(dlg)) + L" class=" + class_of(dlg) +
           L" pid=" + num(pid_of(dlg)) + L" rect=" + rect_str(w) + L" origin=" + num(o.x) + L"," +
           num(o.y) + L" client=" + num(c.right) + L"x" + num(c.bottom) + L" style=" +
           hexw(static_cast<DWORD>(GetWindowLongW(dlg, GWL_STYLE))) + L" exstyle=" +
           hexw(static_cast<DWORD>(GetWindowLongW(dlg, GWL_EXSTYLE))) + L" owner=" +
           hexw(reinterpret_cast<ULONG_PTR>(GetWindow(dlg, GW_OWNER))) + L" enabled=" +
           num(IsWindowEnabled(dlg) ? 1 : 0) + L" foreground=" +
           num(GetForegroundWindow() == dlg ? 1 : 0) + L" active=" +
           num(gi.hwndActive == dlg ? 1 : 0);
}

wstring describe_focus(HWND dlg) {
    GUITHREADINFO gi = gui_info(dlg);
    HWND f = gi.hwndFocus;
    if (!f) return L"focus\tnone";
    if (f != dlg && !IsChild(dlg, f))
        return L"focus\toutside\t" + hexw(reinterpret_cast<ULONG_PTR>(f));
    if (f == dlg) return L"focus\tdialog";
    // a combo box's own edit or list would be a grandchild: report the control
    while (GetParent(f) && GetParent(f) != dlg) f = GetParent(f);
    return describe_control(f, dlg);
}

// Keys are given as xdotool writes them: "Tab", "shift+Tab", "alt+a", "space".
bool press_chord(const wstring& chord) {
    std::vector<WORD> mods;
    wstring rest = chord;
    for (;;) {
        size_t plus = rest.find(L'+');
        if (plus == wstring::npos || plus + 1 >= rest.size()) break;
        wstring m = rest.substr(0, plus);
        if (_wcsicmp(m.c_str(), L"alt") == 0)
            mods.push_back(VK_MENU);
        else if (_wcsicmp(m.c_str(), L"ctrl") == 0)
            mods.push_back(VK_CONTROL);
        else if (_wcsicmp(m.c_str(), L"shift") == 0)
            mods.push_back(VK_SHIFT);
        else
            return false;
        rest = rest.substr(plus + 1);
    }
    Key k{};
    if (_wcsicmp(rest.c_str(), L"space") == 0) rest = L"Space";
    if (!key_of(rest, k)) return false;
    for (WORD vk : mods) send_input_key(vk, false);
    send_input_key(k.vk, false);
    send_input_key(k.vk, true);
    for (auto it = mods.rbegin(); it != mods.rend(); ++it) send_input_key(*it, true);
    return true;
}

bool bring_forward(HWND dlg) {
    if (GetForegroundWindow() == dlg) return true;
    SetForegroundWindow(dlg);
    return wait_for(2000, [&] { return GetForegroundWindow() == dlg; });
}

// Waits until the dialog's thread has taken every queued input (so the focus
// read afterwards is the result of the keys).
void settle(HWND dlg) {
    DWORD_PTR res = 0;
    for (int i = 0; i < 3; i++)
        SendMessageTimeoutW(dlg, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &res);
    Sleep(30);
    SendMessageTimeoutW(dlg, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &res);
}

}  // namespace

int cmd_dialog(const Args& a) {
    wstring title = a.get(L"title", kDialogTitle);
    if (a.has(L"gone")) {
        if (!wait_for(a.num(L"timeout", 5000), [&] { return find_dialog(title) == nullptr; }))
            return fail(L"window \"" + title + L"\" is still open");
        say(L"dialog=gone");
        return 0;
    }
    HWND dlg = wait_dialog(a);
    if (!dlg) return fail(L"no visible window \"" + title + L"\"");
    say(describe_dialog(dlg));
    return 0;
}

int cmd_controls(const Args& a) {
    HWND dlg = wait_dialog(a);
    if (!dlg) return fail(L"no visible window \"" + a.get(L"title", kDialogTitle) + L"\"");
    say(describe_dialog(dlg));
    for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        say(describe_control(c, dlg));
    return 0;
}

int cmd_focus(const Args& a) {
    HWND dlg = wait_dialog(a);
    if (!dlg) return fail(L"no visible window");
    say(describe_focus(dlg));
    return 0;
}

int cmd_keys(const Args& a) {
    HWND dlg = wait_dialog(a);
    if (!dlg) return fail(L"no visible window");
    if (a.pos.empty()) return fail(L"keys needs at least one key", 2);
    if (!bring_forward(dlg)) return fail(L"the window did not come to the foreground");
    for (const wstring& k : a.pos) {
        if (!press_chord(k)) return fail(L"unknown key " + k, 2);
        settle(dlg);
        if (!IsWindow(dlg)) break;
    }
    say(L"keys=" + num(static_cast<long long>(a.pos.size())));
    return 0;
}

// Presses Tab (or --key) until the focus is back where it started, or --max
// times, printing the focus after each press; the first line is the start.
int cmd_tab_walk(const Args& a) {
    HWND dlg = wait_dialog(a);
    if (!dlg) return fail(L"no visible window");
    if (!bring_forward(dlg)) return fail(L"the window did not come to the foreground");
    wstring key = a.get(L"key", L"Tab");
    long long max = a.num(L"max", 40);
    HWND start = gui_info(dlg).hwndFocus;
    say(describe_focus(dlg));
    for (long long i = 0; i < max; i++) {
        HWND before = gui_info(dlg).hwndFocus;
        if (!press_chord(key)) return fail(L"unknown key " + key, 2);
        settle(dlg);
        wait_for(500, [&] { return gui_info(dlg).hwndFocus != before; });
        say(describe_focus(dlg));
        if (gui_info(dlg).hwndFocus == start) return 0;
    }
    return fail(L"the focus did not come back to its start within " + num(max) + L" presses");
}

// WM_SETTEXT as the system delivers it; an edit control then reports
// EN_CHANGE to its parent itself, as it does for typing.
int cmd_settext(const Args& a) {
    HWND h = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(a.num(L"hwnd", 0)));
    if (!h || !IsWindow(h)) return fail(L"settext needs --hwnd of a live window", 2);
    wstring text = unescape(a.get(L"text"));
    DWORD_PTR res = 0;
    if (!SendMessageTimeoutW(h, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                             SMTO_ABORTIFHUNG, 2000, &res))
        return fail(L"WM_SETTEXT got no answer");
    say(L"settext=" + num(static_cast<long long>(res)) + L" text=" + escape(window_text(h)));
    return 0;
}

// As a person drags it by its caption. Without a window manager (Managed=N)
// a window opened at the top left covers Wine's tray window, and a real drag
// does not move it there.
int cmd_move(const Args& a) {
    HWND dlg = wait_dialog(a);
    if (!dlg) return fail(L"no visible window");
    if (!SetWindowPos(dlg, nullptr, static_cast<int>(a.num(L"x", 0)),
                      static_cast<int>(a.num(L"y", 0)), 0, 0,
                      SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE))
        return fail(L"SetWindowPos failed: " + num(GetLastError()));
    RECT r{};
    GetWindowRect(dlg, &r);
    say(L"rect=" + rect_str(r));
    return 0;
}

// Where on the screen a part of the window frame is (WM_NCHITTEST answers
// with --code, default HTCLOSE): along the middle of the caption from the
// right, then up and down from the middle of what was found. For a real
// click on the close box.
int cmd_nc_hit(const Args& a) {
    HWND dlg = wait_dialog(a);
    if (!dlg) return fail(L"no visible window");
    long long code = a.num(L"code", HTCLOSE);
    RECT r{};
    GetWindowRect(dlg, &r);
    POINT o{0, 0};
    ClientToScreen(dlg, &o);
    auto hit = [&](int x, int y) {
        return send_ms(dlg, WM_NCHITTEST, 0, MAKELPARAM(x, y)) == code;
    };
    int y = (r.top + o.y) / 2, x1 = -1, x2 = -1;
    for (int x = r.right - 1; x >= r.left; x--) {
        if (hit(x, y)) {
            if (x2 < 0) x2 = x;
            x1 = x;
        } else if (x2 >= 0) {
            break;
        }
    }
    if (x2 < 0) return fail(L"no point of the caption answers " + num(code));
    int x = (x1 + x2) / 2, y1 = y, y2 = y;
    while (y1 > r.top && hit(x, y1 - 1)) y1--;
    while (y2 < o.y && hit(x, y2 + 1)) y2++;
    say(L"point=" + num(x) + L"," + num((y1 + y2) / 2) + L" part=" + num(x1) + L"," + num(y1) +
        L"," + num(x2 + 1) + L"," + num(y2 + 1));
    return 0;
}

// Reads the screen as the X server shows it (the desktop window's DC).
int cmd_pixels(const Args& a) {
    if (a.pos.empty()) return fail(L"pixels needs X,Y points", 2);
    std::vector<POINT> pts;
    for (const wstring& p : a.pos) {
        size_t comma = p.find(L',');
        if (comma == wstring::npos) return fail(L"not a point: " + p, 2);
        pts.push_back({static_cast<LONG>(std::wcstol(p.c_str(), nullptr, 10)),
                       static_cast<LONG>(std::wcstol(p.c_str() + comma + 1, nullptr, 10))});
    }
    RECT box{pts[0].x, pts[0].y, pts[0].x + 1, pts[0].y + 1};
    for (const POINT& p : pts) {
        if (p.x < box.left) box.left = p.x;
        if (p.y < box.top) box.top = p.y;
        if (p.x + 1 > box.right) box.right = p.x + 1;
        if (p.y + 1 > box.bottom) box.bottom = p.y + 1;
    }
    int w = box.right - box.left, h = box.bottom - box.top;
    HDC screen = GetDC(nullptr);
    std::vector<DWORD> px = grab(screen, box.left, box.top, w, h);
    ReleaseDC(nullptr, screen);
    wstring line;
    for (const POINT& p : pts) {
        wchar_t b[16];
        swprintf(
            b, 16, L"%06X",
            static_cast<unsigned>(px[static_cast<size_t>((p.y - box.top) * w + (p.x - box.left))]));
        line += (line.empty() ? L"" : L" ") + wstring(b);
    }
    say(line);
    return 0;
}
}  // namespace driver
