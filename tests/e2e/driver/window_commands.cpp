// Top-level windows, the program's main window and its tray icon, the
// session's end, device changes and processes: what the system and the shell
// do to the program, and what can be seen of it from outside.
#include "driver.h"
// windows.h first: the headers below need it
#include <shellapi.h>

#include <cwchar>

namespace driver {
namespace {

void describe(HWND h) {
    LONG ex = GetWindowLongW(h, GWL_EXSTYLE);
    RECT r{};
    GetWindowRect(h, &r);
    DWORD pid = pid_of(h);
    say(L"hwnd=" + hexw(reinterpret_cast<ULONG_PTR>(h)) + L" class=" + class_of(h) + L" title=" +
        escape(window_text(h)) + L" pid=" + num(pid) + L" process=" + process_name(pid) +
        L" visible=" + num(IsWindowVisible(h) ? 1 : 0) + L" appwindow=" +
        num((ex & WS_EX_APPWINDOW) ? 1 : 0) + L" toolwindow=" +
        num((ex & WS_EX_TOOLWINDOW) ? 1 : 0) + L" owner=" +
        hexw(reinterpret_cast<ULONG_PTR>(GetWindow(h, GW_OWNER))) + L" rect=" + rect_str(r));
}

int post_main(const Args& a, UINT msg, WPARAM wp, LPARAM lp, const wchar_t* what) {
    HWND h = wait_main(a);
    if (!h)
        return fail(L"no window \"" + a.get(L"title", L"Form1") + L"\" of " +
                    a.get(L"name", L"Vosselmar.exe"));
    if (!PostMessageW(h, msg, wp, lp))
        return fail(wstring(L"posting ") + what + L" failed: error " + num(GetLastError()));
    say(L"posted=" + wstring(what) + L" hwnd=" + hexw(reinterpret_cast<ULONG_PTR>(h)));
    return 0;
}

// The standalone tray lays icons out left to right in slots of the small icon
// size plus a 2-pixel border each side, and keeps room for at least eight. It
// offers no count, so a slot counts as used when its pixels are not all the
// background colour.
struct TraySlots {
    HWND tray = nullptr;
    POINT origin{0, 0};
    RECT client{};
    int slot = 0;
    int slots = 0;
    int used = 0;
    std::vector<std::vector<DWORD>> pixels;  // per used slot
};

HWND find_tray() {
    HWND tray = FindWindowW(L"__winex11_standalone_tray", nullptr);
    return tray && IsWindowVisible(tray) ? tray : nullptr;
}

TraySlots scan_tray(HWND tray, bool keep_pixels) {
    TraySlots t;
    t.tray = tray;
    if (!tray) return t;
    GetClientRect(tray, &t.client);
    ClientToScreen(tray, &t.origin);
    t.slot = GetSystemMetrics(SM_CXSMICON) + 4;
    t.slots = t.slot > 0 ? t.client.right / t.slot : 0;
    HDC screen = GetDC(nullptr);
    for (int i = 0; i < t.slots; i++) {
        std::vector<DWORD> px =
            grab(screen, t.origin.x + i * t.slot, t.origin.y, t.slot, t.client.bottom);
        bool blank = true;
        for (DWORD v : px) blank = blank && v == px[0];
        if (!blank) t.used = i + 1;
        if (keep_pixels) t.pixels.push_back(std::move(px));
    }
    ReleaseDC(nullptr, screen);
    if (keep_pixels) t.pixels.resize(static_cast<size_t>(t.used));
    return t;
}

// Mean colour of the pixels of a slot that differ from its corner (the
// tray's background), and how many there are: enough to tell a coloured
// icon from a grey one without knowing its artwork.
wstring slot_colour(const std::vector<DWORD>& px) {
    unsigned long long r = 0, g = 0, b = 0, n = 0;
    for (DWORD v : px) {
        if (v == px[0]) continue;
        r += (v >> 16) & 0xFF;
        g += (v >> 8) & 0xFF;
        b += v & 0xFF;
        n++;
    }
    if (!n) return L"0,0,0 px=0";
    return num(static_cast<long long>(r / n)) + L"," + num(static_cast<long long>(g / n)) + L"," +
           num(static_cast<long long>(b / n)) + L" px=" + num(static_cast<long long>(n));
}

// Used tray slots right now; 0 when the tray window is not there (as before
// the first icon of a server, or after the last one went).
int tray_count() { return scan_tray(find_tray(), false).used; }

// A minimal tray program for comparisons: a hidden window and one tray icon,
// gone on WM_CLOSE or after --for ms.
LRESULT CALLBACK tray_icon_proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_CLOSE || m == WM_TIMER) {
        DestroyWindow(h);
        return 0;
    }
    if (m == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(h, m, w, l);
}

}  // namespace

int cmd_window(const Args& a) {
    wstring why;
    // A title given as such is taken as written: no window's title holds a control character.
    std::optional<wstring> title =
        a.has(L"title") ? a.get(L"title") : wanted_text(a, L"title", L"title-key", why);
    if (!why.empty()) return fail(why, 2);
    wstring cls = a.get(L"class");
    if (!title && !a.has(L"class"))
        return fail(L"window needs --title (or --title-key) and/or --class", 2);
    std::vector<HWND> found;
    wait_for(a.num(L"timeout", 5000), [&] {
        found.clear();
        for (HWND h : top_windows())
            if ((!title || window_text(h) == *title) && (!a.has(L"class") || class_of(h) == cls) &&
                (!a.has(L"visible") || (IsWindowVisible(h) != 0) == (a.num(L"visible", 1) != 0)))
                found.push_back(h);
        return !found.empty();
    });
    if (found.empty()) return fail(L"no top-level window matches");
    for (HWND h : found) {
        describe(h);
        int visible = 0;
        DWORD pid = pid_of(h);
        for (HWND o : top_windows())
            if (pid_of(o) == pid && IsWindowVisible(o)) visible++;
        say(L"process_visible_windows=" + num(visible));
    }
    return 0;
}

int cmd_windows(const Args& a) {
    wstring exe = a.get(L"name");
    for (HWND h : top_windows())
        if (exe.empty() || same_name(process_name(pid_of(h)), exe)) describe(h);
    return 0;
}

int cmd_tray(const Args& a) {
    if (!a.has(L"lparam"))
        return fail(L"tray needs --lparam (e.g. 0x201 left down, 0x204 right down, 0x205 right up)",
                    2);
    const UINT msg = a.get(L"msg") == L"TaskbarCreated"
                         ? RegisterWindowMessageW(L"TaskbarCreated")
                         : static_cast<UINT>(a.num(L"msg", WM_USER + 1));
    return post_main(a, msg,
                     static_cast<WPARAM>(a.num(L"wparam", 0)),
                     static_cast<LPARAM>(a.num(L"lparam", 0)), L"tray-callback");
}

// A task bar that is not ready yet: a window of its class, found before the shell's own, that
// turns every Shell_NotifyIcon down for --for ms.
LRESULT CALLBACK refusing_tray_proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    return m == WM_COPYDATA ? FALSE : DefWindowProcW(h, m, w, l);
}

int cmd_hold_tray(const Args& a) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = refusing_tray_proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"Shell_TrayWnd";
    RegisterClassW(&wc);
    HWND w = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, wc.lpszClassName, nullptr, WS_POPUP,
                             0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
    if (!w) return fail(L"hold-tray: no window, error " + num(GetLastError()));
    const bool first = FindWindowExW(nullptr, nullptr, wc.lpszClassName, nullptr) == w;
    say(L"held=" + num(first ? 1 : 0));
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(a.num(L"for", 3000));
    for (ULONGLONG now; (now = GetTickCount64()) < end;) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    DestroyWindow(w);
    return first ? 0 : 1;
}

int cmd_close_main(const Args& a) { return post_main(a, WM_CLOSE, 0, 0, L"WM_CLOSE"); }

int cmd_tray_rect(const Args& a) {
    HWND tray = nullptr;
    wait_for(a.num(L"timeout", 5000), [&] { return (tray = find_tray()) != nullptr; });
    if (!tray) return fail(L"no Wine system tray window (it appears with the first icon)");
    RECT r;
    GetWindowRect(tray, &r);
    TraySlots t = scan_tray(tray, true);
    say(L"hwnd=" + hexw(reinterpret_cast<ULONG_PTR>(tray)) + L" visible=" +
        num(IsWindowVisible(tray) ? 1 : 0));
    say(L"rect=" + rect_str(r));
    say(L"client=" + num(t.origin.x) + L"," + num(t.origin.y) + L"," +
        num(t.origin.x + t.client.right) + L"," + num(t.origin.y + t.client.bottom));
    say(L"slot=" + num(t.slot) + L" slots=" + num(t.slots));
    say(L"icons=" + num(t.used));
    for (int i = 0; i < t.used; i++)
        say(L"icon" + num(i + 1) + L"=" + num(t.origin.x + i * t.slot + t.slot / 2) + L"," +
            num(t.origin.y + t.client.bottom / 2));
    for (int i = 0; i < t.used; i++)
        say(L"icon" + num(i + 1) + L"_rgb=" + slot_colour(t.pixels[static_cast<size_t>(i)]));
    return 0;
}

// Starts a program and measures how long its tray icon takes to appear: the
// time from CreateProcess until the tray shows one more used slot than
// before. The program is left running, without our standard handles (so a
// caller reading our output is not kept waiting by it). Wine takes the DLL
// load order of the new process from the driver's own start, so run the
// driver with the WINEDLLOVERRIDES the program needs.
int cmd_start_to_tray(const Args& a) {
    wstring exe = a.get(L"exe");
    if (exe.empty()) return fail(L"start-to-tray needs --exe", 2);
    wstring cmdline = L"\"" + exe + L"\"" + (a.has(L"args") ? L" " + a.get(L"args") : L"");
    wstring dir = a.get(L"dir");
    int before = tray_count();
    LARGE_INTEGER f, t0, t1;
    QueryPerformanceFrequency(&f);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION pi{};
    std::vector<wchar_t> buf(cmdline.begin(), cmdline.end());
    buf.push_back(0);
    QueryPerformanceCounter(&t0);
    if (!CreateProcessW(nullptr, buf.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                        dir.empty() ? nullptr : dir.c_str(), &si, &pi))
        return fail(L"CreateProcess failed: error " + num(GetLastError()));
    bool seen = wait_for_fine(a.num(L"timeout", 10000), [&] { return tray_count() > before; });
    QueryPerformanceCounter(&t1);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    say(L"pid=" + num(pi.dwProcessId) + L" icons_before=" + num(before));
    if (!seen) {
        CloseHandle(pi.hProcess);
        return fail(
            L"no new tray icon within the timeout" +
            (code == STILL_ACTIVE ? wstring(L"") : L" (it ended, code " + num(code) + L")"));
    }
    wchar_t ms[32];
    swprintf(
        ms, 32, L"%.1f",
        1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(f.QuadPart));
    say(L"tray_ms=" + wstring(ms));
    int rc = 0;
    // --close-title T: then close the window titled T of that process and
    // wait for the process to end (saves the caller two more driver runs)
    if (a.has(L"close-title")) {
        Args m;
        m.opt[L"title"] = a.get(L"close-title");
        m.opt[L"name"] = process_name(pi.dwProcessId);
        m.opt[L"pid"] = num(pi.dwProcessId);
        HWND h = wait_main(m);
        if (!h || !PostMessageW(h, WM_CLOSE, 0, 0)) {
            rc = fail(L"cannot close the window \"" + a.get(L"close-title") + L"\"");
        } else if (WaitForSingleObject(pi.hProcess, 5000) != WAIT_OBJECT_0) {
            rc = fail(L"the process did not end within 5000 ms of WM_CLOSE");
        } else {
            GetExitCodeProcess(pi.hProcess, &code);
            say(L"exit_code=" + num(code));
        }
    }
    CloseHandle(pi.hProcess);
    return rc;
}

int cmd_tray_icon(const Args& a) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = tray_icon_proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"E2ETrayIcon";
    RegisterClassW(&wc);
    HWND h = CreateWindowExW(0, wc.lpszClassName, L"E2ETrayIcon", WS_OVERLAPPEDWINDOW, 0, 0, 100,
                             100, nullptr, nullptr, wc.hInstance, nullptr);
    if (!h) return fail(L"CreateWindow failed");
    NOTIFYICONDATAW nid{};
    nid.cbSize = sizeof nid;
    nid.hWnd = h;
    nid.uID = 1;
    nid.uFlags = NIF_ICON | NIF_TIP | NIF_MESSAGE;
    nid.uCallbackMessage = WM_USER + 1;
    nid.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    wcscpy(nid.szTip, L"e2e");
    if (!Shell_NotifyIconW(NIM_ADD, &nid)) return fail(L"Shell_NotifyIcon failed");
    SetTimer(h, 1, static_cast<UINT>(a.num(L"for", 30000)), nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    Shell_NotifyIconW(NIM_DELETE, &nid);
    return 0;
}

// ---------------------------------------------------------------------------
// Session end

int cmd_endsession(const Args& a) {
    HWND h = wait_main(a);
    if (!h) return fail(L"no main window");
    DWORD pid = pid_of(h);
    UINT timeout = static_cast<UINT>(a.num(L"timeout", 5000));
    DWORD_PTR res = 0;
    if (!SendMessageTimeoutW(h, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, timeout,
                             &res))
        return fail(L"WM_QUERYENDSESSION got no answer within " + num(timeout) + L" ms");
    say(L"queryendsession=" + num(static_cast<long long>(res)));
    // a refusal cancels the log-off, and every window then hears it did not happen
    BOOL ending = res != 0;
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutW(h, WM_ENDSESSION, ending, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, timeout,
                             &ignored))
        return fail(L"WM_ENDSESSION did not return within " + num(timeout) + L" ms");
    say(L"endsession=" + num(ending));
    if (!ending) return 0;
    // After WM_ENDSESSION returns the system may end the process at any
    // moment; --kill-after makes that happen so a program that still had
    // work to do is caught.
    HANDLE proc = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (!proc) return 0;
    long long grace = a.num(L"kill-after", -1);
    DWORD wait = WaitForSingleObject(proc, grace >= 0 ? static_cast<DWORD>(grace) : 0);
    say(L"exited=" + num(wait == WAIT_OBJECT_0 ? 1 : 0));
    if (wait != WAIT_OBJECT_0 && grace >= 0) {
        TerminateProcess(proc, 0);
        say(L"terminated=1");
    }
    CloseHandle(proc);
    return 0;
}

// ---------------------------------------------------------------------------
// Devices

// What the system does when a device arrives or leaves: WM_DEVICECHANGE with
// DBT_DEVNODES_CHANGED sent to every top-level window. Sent, so it returns
// once every window has handled it; a window busy in a message box of its
// own holds the broadcast for at most --timeout (per window, as in Windows).
int cmd_devices_changed(const Args& a) {
    constexpr WPARAM kDevNodesChanged = 0x0007;  // DBT_DEVNODES_CHANGED, <dbt.h>
    UINT timeout = static_cast<UINT>(a.num(L"timeout", 1000));
    ULONGLONG t0 = GetTickCount64();
    DWORD_PTR res = 0;
    LRESULT sent = SendMessageTimeoutW(HWND_BROADCAST, WM_DEVICECHANGE, kDevNodesChanged, 0,
                                       SMTO_ABORTIFHUNG, timeout, &res);
    say(L"devices_changed=" + num(sent != 0) + L" ms=" +
        num(static_cast<long long>(GetTickCount64() - t0)));
    return sent ? 0 : fail(L"the WM_DEVICECHANGE broadcast was not sent");
}

// ---------------------------------------------------------------------------
// Processes

int cmd_process_running(const Args& a) {
    wstring exe = a.get(L"name", L"Vosselmar.exe");
    std::vector<DWORD> pids = pids_named(exe);
    if (pids.empty()) {
        say(L"running=0");
        return 1;
    }
    wstring list;
    for (DWORD p : pids) list += (list.empty() ? L"" : L",") + num(p);
    say(L"running=" + num(static_cast<long long>(pids.size())) + L" pids=" + list);
    return 0;
}

int cmd_wait_exit(const Args& a) {
    wstring exe = a.get(L"name", L"Vosselmar.exe");
    long long timeout = a.num(L"timeout", 5000);
    ULONGLONG t0 = GetTickCount64();
    if (!wait_for(timeout, [&] { return pids_named(exe).empty(); }))
        return fail(exe + L" still running after " + num(timeout) + L" ms");
    say(L"exited_after_ms=" + num(static_cast<long long>(GetTickCount64() - t0)));
    return 0;
}

int cmd_processes(const Args&) {
    for (const Proc& p : processes()) say(num(p.pid) + L"\t" + p.name);
    return 0;
}
}  // namespace driver
