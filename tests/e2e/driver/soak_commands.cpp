// Resource readings, soak and timing runs: counts of a process's resources
// that work under Wine, many posted messages at once, many openings of the
// settings dialog in one go, the time a keystroke in it takes, and Wine's own
// cost of a window like it.
#include "driver.h"
// windows.h first: the headers below need it
#include <psapi.h>

#include <algorithm>
#include <cwchar>

namespace driver {
namespace {

// Sorted copy's value at fraction q (nearest rank), for medians and tails.
long long quantile(std::vector<long long> v, double q) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    size_t rank = static_cast<size_t>(q * static_cast<double>(v.size()) + 0.5);
    if (rank < 1) rank = 1;
    if (rank > v.size()) rank = v.size();
    return v[rank - 1];
}

// The soaks allow a busy program longer than a reading does.
bool send_msg(HWND h, UINT msg, WPARAM w, LPARAM l, DWORD_PTR* res = nullptr) {
    return send_within(h, msg, w, l, 5000, res);
}

// ---------------------------------------------------------------------------
// leak-sample

// Wine 8 answers GetGuiResources and GetProcessHandleCount with 0, so each
// count falls back to another source, and says which:
// - GDI objects: the process's own GDI handle table, which Wine keeps where
//   Windows does (PEB GdiSharedHandleTable), read across processes. A live
//   entry has a non-zero type; stock objects carry the stock flag.
// - handles: the HandleCount of the process in NtQuerySystemInformation's
//   process list (under Wine the size of its handle table); open_handles
//   counts them one by one.
// - USER objects: only windows can be counted from outside (every window of
//   the process, children included); menus, icons and cursors cannot.
using NtQueryInformationProcessFn = LONG(WINAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
using NtQuerySystemInformationFn = LONG(WINAPI*)(int, PVOID, ULONG, PULONG);

template <class Fn>
Fn ntdll(const char* name) {
    return reinterpret_cast<Fn>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name)));
}

struct ProcessBasicInformation {
    LONG ExitStatus;
    PVOID PebBaseAddress;
    ULONG_PTR AffinityMask;
    LONG BasePriority;
    ULONG_PTR UniqueProcessId;
    ULONG_PTR InheritedFromUniqueProcessId;
};

// Offset of GdiSharedHandleTable in the 64-bit PEB, and the size of one
// entry of the table (Object 8, Owner 4, Unique 2, Type 1, Flags 1, User 8).
constexpr size_t kPebGdiTable = 0xF8;
constexpr size_t kGdiEntry = 24;
constexpr size_t kGdiEntries = 0x10000;

// Live, non-stock GDI objects in the table; -1 when it cannot be read.
long long gdi_table_count(HANDLE p) {
    auto query = ntdll<NtQueryInformationProcessFn>("NtQueryInformationProcess");
    if (!query) return -1;
    ProcessBasicInformation pbi{};
    if (query(p, 0, &pbi, sizeof pbi, nullptr) != 0 || !pbi.PebBaseAddress) return -1;
    ULONG_PTR table = 0;
    SIZE_T got = 0;
    if (!ReadProcessMemory(p, static_cast<char*>(pbi.PebBaseAddress) + kPebGdiTable, &table,
                           sizeof table, &got) ||
        !table)
        return -1;
    // Handles are taken from the start of the table on, so the first piece
    // in which no entry was ever used (its generation still 0) is the end.
    // Reading further would also make the untouched rest of the table
    // resident in the program, and its memory figures would grow by that.
    const size_t per_chunk = 512;
    std::vector<unsigned char> buf(per_chunk * kGdiEntry);
    long long live = 0;
    bool any = false;
    for (size_t first = 0; first < kGdiEntries; first += per_chunk) {
        if (!ReadProcessMemory(p, reinterpret_cast<char*>(table) + first * kGdiEntry, buf.data(),
                               buf.size(), &got) ||
            got != buf.size())
            break;
        any = true;
        bool used = false;
        for (size_t e = 0; e < buf.size(); e += kGdiEntry) {
            unsigned char ext = buf[e + 12];  // ExtType:7 StockFlag:1
            unsigned char generation = buf[e + 13];
            unsigned char type = buf[e + 14];
            used |= generation != 0;
            if (type && !(ext & 0x80)) live++;
        }
        if (!used) break;
    }
    return any ? live : -1;
}

// HandleCount of the process in the system process list; -1 when unknown.
long long process_handle_count(DWORD pid) {
    auto query = ntdll<NtQuerySystemInformationFn>("NtQuerySystemInformation");
    if (!query) return -1;
    std::vector<unsigned char> buf(1 << 20);
    ULONG need = 0;
    LONG st;
    while ((st = query(5 /* SystemProcessInformation */, buf.data(), static_cast<ULONG>(buf.size()),
                       &need)) == static_cast<LONG>(0xC0000004) /* length mismatch */
           && buf.size() < (64u << 20))
        buf.resize(buf.size() * 2);
    if (st != 0) return -1;
    // SYSTEM_PROCESS_INFORMATION (64-bit): NextEntryOffset at 0,
    // UniqueProcessId at 0x50, HandleCount at 0x60.
    size_t off = 0;
    for (;;) {
        const unsigned char* e = buf.data() + off;
        ULONG next = *reinterpret_cast<const ULONG*>(e);
        ULONG_PTR id = *reinterpret_cast<const ULONG_PTR*>(e + 0x50);
        if (id == pid) return *reinterpret_cast<const ULONG*>(e + 0x60);
        if (!next) return -1;
        off += next;
        if (off + 0x68 > buf.size()) return -1;
    }
}

// Handles the process has open, from the system's list of handles; -1 when
// unknown. Wine's HandleCount above is the size of the process's handle
// table, which grows in steps of 32, so it cannot show a few handles.
long long open_handle_count(DWORD pid) {
    auto query = ntdll<NtQuerySystemInformationFn>("NtQuerySystemInformation");
    if (!query) return -1;
    std::vector<unsigned char> buf(1 << 20);
    ULONG need = 0;
    LONG st;
    while ((st = query(16 /* SystemHandleInformation */, buf.data(), static_cast<ULONG>(buf.size()),
                       &need)) == static_cast<LONG>(0xC0000004) && buf.size() < (64u << 20))
        buf.resize(buf.size() * 2);
    if (st != 0) return -1;
    // The count, then 24-byte entries (64-bit) from offset 8, the owner's id first.
    const ULONG count = *reinterpret_cast<const ULONG*>(buf.data());
    long long n = 0;
    for (size_t i = 0, off = 8; i < count && off + 24 <= buf.size(); i++, off += 24)
        if (*reinterpret_cast<const ULONG*>(buf.data() + off) == pid) n++;
    return n;
}

void count_child_windows(HWND parent, DWORD pid, long long& n) {
    for (HWND c : child_windows(parent))
        if (pid_of(c) == pid) n++;
}

struct DialogControls {
    HWND dlg = nullptr, list = nullptr, path = nullptr, command = nullptr, key0 = nullptr;
};

// The controls by kind and place: the list box, the upper edit box (the
// path) and the lower one (parameters), and the leftmost key (C).
bool dialog_controls(HWND dlg, DialogControls& d) {
    d = DialogControls{};
    d.dlg = dlg;
    LONG path_top = 0, command_top = 0, key_left = 0;
    for (HWND c : child_windows(dlg)) {
        if (GetParent(c) != dlg) continue;
        wstring cls = class_of(c);
        RECT r{};
        GetWindowRect(c, &r);
        if (_wcsicmp(cls.c_str(), L"ListBox") == 0) {
            d.list = c;
        } else if (_wcsicmp(cls.c_str(), L"Edit") == 0) {
            if (!d.path || r.top < path_top) {
                if (d.path) {
                    d.command = d.path;
                    command_top = path_top;
                }
                d.path = c;
                path_top = r.top;
            } else if (!d.command || r.top < command_top) {
                d.command = c;
                command_top = r.top;
            }
        } else if (cls == L"VosselmarKey") {
            if (!d.key0 || r.left < key_left) {
                d.key0 = c;
                key_left = r.left;
            }
        }
    }
    return d.list && d.path && d.command && d.key0;
}

wstring edit_text(HWND h) {
    DWORD_PTR len = 0;
    if (!send_msg(h, WM_GETTEXTLENGTH, 0, 0, &len)) return L"";
    wstring s(len + 1, L'\0');
    DWORD_PTR got = 0;
    send_msg(h, WM_GETTEXT, len + 1, reinterpret_cast<LPARAM>(s.data()), &got);
    s.resize(got);
    return s;
}

// The list's selected line; "" with nothing selected.
wstring selected_line(HWND list) {
    DWORD_PTR sel = 0, len = 0;
    if (!send_msg(list, LB_GETCURSEL, 0, 0, &sel) || static_cast<LONG_PTR>(sel) < 0) return L"";
    if (!send_msg(list, LB_GETTEXTLEN, sel, 0, &len) || static_cast<LONG_PTR>(len) < 0) return L"";
    wstring s(len + 1, L'\0');
    send_msg(list, LB_GETTEXT, sel, reinterpret_cast<LPARAM>(s.data()));
    s.resize(len);
    return s;
}

bool ends_with(const wstring& s, const wstring& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The colour the screen shows in the middle of a window, after it has
// painted what it had to (RDW_UPDATENOW paints windows of other threads too,
// by sending them WM_PAINT).
COLORREF centre_colour(HWND h) {
    RedrawWindow(h, nullptr, nullptr, RDW_UPDATENOW);
    RECT r{};
    GetWindowRect(h, &r);
    HDC screen = GetDC(nullptr);
    COLORREF c = GetPixel(screen, (r.left + r.right) / 2, r.top + (r.bottom - r.top) * 3 / 4);
    ReleaseDC(nullptr, screen);
    return c;
}

// One opening: tray menu, its row `settings` (the key of that row), wait for the window. Fails
// with a message.
bool open_dialog(HWND main, DWORD pid, const wstring& title, long long timeout, WORD settings,
                 HWND& dlg, wstring& why) {
    if (!PostMessageW(main, WM_USER + 1, 0, WM_RBUTTONDOWN)) {
        why = L"tray callback not posted";
        return false;
    }
    HWND menu = nullptr;
    if (!wait_for_fine(timeout, [&] { return (menu = find_menu(pid)) != nullptr; })) {
        why = L"the tray menu did not open";
        return false;
    }
    UINT scan = MapVirtualKeyW(settings, MAPVK_VK_TO_VSC);
    LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16);
    PostMessageW(menu, WM_KEYDOWN, settings, down);
    PostMessageW(menu, WM_KEYUP, settings, down | (1LL << 30) | (1LL << 31));
    if (!wait_for_fine(timeout, [&] { return (dlg = find_dialog(title, pid)) != nullptr; })) {
        why = L"the dialog did not open from the menu";
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// window-cycles: Wine's own cost of a window like the dialog
//
//   window-cycles --count N [--warm-up W] [--sync FOLDER]
//
// Wine keeps windows, menus, icons and GDI objects in its unix-side libraries
// (win32u, winex11, Xlib), whose memory grows a little with every window
// made and destroyed. This makes the same kinds of windows in this process,
// so that growth can be told apart from the program's.

LRESULT CALLBACK baseline_proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_PAINT && GetWindowLongPtrW(h, GWLP_USERDATA) == 1) {
        // a key: a face filled with a brush made for the occasion
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(h, &ps);
        RECT r;
        GetClientRect(h, &r);
        HBRUSH b = CreateSolidBrush(RGB(255, 0, 0));
        FillRect(dc, &r, b);
        DeleteObject(b);
        FrameRect(dc, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        EndPaint(h, &ps);
        return 0;
    }
    return DefWindowProcW(h, m, w, l);
}

void pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// One opening of a window built like the configuration dialog, preceded by
// a popup menu, as the program's tray menu does: 4 drop-down lists (128, 77,
// 1 and 1 lines), a list box, 2 edit boxes, 6 buttons, 5 check boxes, 5
// labels and 12 painted keys, two fonts, two icons, a trimmed system menu;
// shown, brought to the front, typed into, destroyed.
void baseline_once(HWND owner, HMENU menu) {
    SetTimer(owner, 1, 1, [](HWND, UINT, UINT_PTR id, DWORD) {
        EndMenu();
        (void)id;
    });
    SetForegroundWindow(owner);
    TrackPopupMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY, 10, 10, 0, owner, nullptr);
    KillTimer(owner, 1);
    PostMessageW(owner, WM_NULL, 0, 0);
    pump();

    HINSTANCE inst = GetModuleHandleW(nullptr);
    HWND w = CreateWindowExW(WS_EX_APPWINDOW, L"SoakBaseline", L"baseline",
                             WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN, 100, 100, 330, 520, nullptr,
                             nullptr, inst, nullptr);
    HICON big = static_cast<HICON>(LoadImageW(nullptr, IDI_APPLICATION, IMAGE_ICON, 32, 32, 0));
    HICON small = static_cast<HICON>(LoadImageW(nullptr, IDI_APPLICATION, IMAGE_ICON, 16, 16, 0));
    SendMessageW(w, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    SendMessageW(w, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
    if (HMENU sys = GetSystemMenu(w, FALSE))
        for (UINT c : {SC_RESTORE, SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE})
            DeleteMenu(sys, c, MF_BYCOMMAND);
    LOGFONTW lf{};
    lf.lfHeight = -12;
    wcscpy(lf.lfFaceName, L"MS UI Gothic");
    HFONT ui = CreateFontIndirectW(&lf);
    wcscpy(lf.lfFaceName, L"MS Gothic");
    HFONT fixed = CreateFontIndirectW(&lf);
    std::vector<HWND> kids;
    auto add = [&](const wchar_t* cls, DWORD style, DWORD ex, int x, int y, int cx, int cy,
                   const wchar_t* text = L"") {
        HWND c = CreateWindowExW(ex, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, cx, cy, w,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(100 + kids.size())),
                                 inst, nullptr);
        SendMessageW(c, WM_SETFONT,
                     reinterpret_cast<WPARAM>(_wcsicmp(cls, L"LISTBOX") ? ui : fixed), FALSE);
        kids.push_back(c);
        return c;
    };
    HWND list = add(L"LISTBOX", LBS_NOTIFY | WS_VSCROLL, WS_EX_CLIENTEDGE, 8, 8, 300, 100);
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L" 1  C:\\some\\program.exe"));
    HWND edit =
        add(L"EDIT", ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, 8, 160, 300, 20, L"C:\\some\\program.exe");
    add(L"EDIT", ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, 200, 240, 100, 20);
    for (int i = 0; i < 4; i++) {
        HWND combo =
            add(L"COMBOBOX", CBS_DROPDOWNLIST | WS_VSCROLL, 0, 160, 300 + 24 * i, 140, 200);
        int lines = i == 0 ? 128 : i == 1 ? 77 : 1;
        for (int k = 0; k < lines; k++)
            SendMessageW(combo, CB_ADDSTRING, 0,
                         reinterpret_cast<LPARAM>((L"item " + std::to_wstring(k)).c_str()));
        SendMessageW(combo, CB_SETCURSEL, 0, 0);
    }
    for (int i = 0; i < 6; i++)
        add(L"BUTTON", BS_PUSHBUTTON, 0, 8 + 50 * i, 450, 48, 24, L"&Button");
    for (int i = 0; i < 5; i++) add(L"BUTTON", BS_CHECKBOX, 0, 8, 300 + 24 * i, 140, 20, L"Check");
    for (int i = 0; i < 5; i++)
        add(L"STATIC", SS_LEFTNOWORDWRAP, 0, 8, 130 + 6 * i, 140, 16, L"ラベル");
    for (int i = 0; i < 12; i++) {
        HWND key = add(L"SoakBaseline", 0, 0, 8 + 20 * i, 190, 20, 60);
        SetWindowLongPtrW(key, GWLP_USERDATA, 1);
    }
    ShowWindow(w, SW_SHOW);
    SetForegroundWindow(w);
    UpdateWindow(w);
    SetFocus(edit);
    SendMessageW(edit, EM_SETSEL, 100, 100);
    for (wchar_t ch : wstring(L"xyz")) SendMessageW(edit, WM_CHAR, ch, 1);
    RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    pump();
    DestroyWindow(w);
    DeleteObject(ui);
    DeleteObject(fixed);
    DestroyIcon(big);
    DestroyIcon(small);
    pump();
}

// Keeps the manifest of another program (--actctx EXE) active while it
// lives, so that the standard controls made meanwhile are the same version
// (Common Controls 6) as in that program, not the driver's own.
class Activation {
  public:
    explicit Activation(const wstring& exe) {
        if (exe.empty()) return;
        ACTCTXW ctx{};
        ctx.cbSize = sizeof ctx;
        ctx.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
        ctx.lpSource = exe.c_str();
        ctx.lpResourceName = MAKEINTRESOURCEW(1);
        context_ = CreateActCtxW(&ctx);
        if (context_ == INVALID_HANDLE_VALUE || !ActivateActCtx(context_, &cookie_)) {
            failed_ = true;
            return;
        }
        // Loaded inside the context: the version 6 library, which registers its own controls.
        comctl_ = LoadLibraryW(L"comctl32.dll");
        failed_ = comctl_ == nullptr;
    }
    ~Activation() {
        if (comctl_) FreeLibrary(comctl_);
        if (cookie_) DeactivateActCtx(0, cookie_);
        if (context_ != INVALID_HANDLE_VALUE) ReleaseActCtx(context_);
    }
    Activation(const Activation&) = delete;
    Activation& operator=(const Activation&) = delete;
    bool failed() const { return failed_; }

  private:
    HANDLE context_ = INVALID_HANDLE_VALUE;
    ULONG_PTR cookie_ = 0;
    HMODULE comctl_ = nullptr;
    bool failed_ = false;
};

}  // namespace

int cmd_leak_sample(const Args& a) {
    wstring exe = a.get(L"name", L"Vosselmar.exe");
    DWORD pid = static_cast<DWORD>(a.num(L"pid", 0));
    if (!pid) {
        std::vector<DWORD> pids = pids_named(exe);
        if (pids.empty()) return fail(exe + L" is not running");
        pid = pids[0];
    }
    HANDLE p = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!p) return fail(L"cannot open process " + num(pid) + L": error " + num(GetLastError()));

    PROCESS_MEMORY_COUNTERS_EX mc{};
    mc.cb = sizeof mc;
    GetProcessMemoryInfo(p, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&mc), sizeof mc);
    long long threads = 0;
    for (const Proc& proc : processes())
        if (proc.pid == pid) threads = proc.threads;
    long long top = 0, windows = 0;
    for (HWND h : top_windows()) {
        if (pid_of(h) != pid) continue;
        top++;
        windows++;
        count_child_windows(h, pid, windows);
    }
    for (HWND h = nullptr; (h = FindWindowExW(HWND_MESSAGE, h, nullptr, nullptr)) != nullptr;)
        if (pid_of(h) == pid) windows++;

    wstring gdi = L"unsupported", gdi_from = L"none";
    if (DWORD g = GetGuiResources(p, GR_GDIOBJECTS)) {
        gdi = num(g);
        gdi_from = L"GetGuiResources";
    } else if (long long t = gdi_table_count(p); t >= 0) {
        gdi = num(t);
        gdi_from = L"handle-table";
    }
    DWORD user_objects = GetGuiResources(p, GR_USEROBJECTS);
    wstring handles = L"unsupported", handles_from = L"none";
    DWORD hc = 0;
    if (GetProcessHandleCount(p, &hc) && hc) {
        handles = num(hc);
        handles_from = L"GetProcessHandleCount";
    } else if (long long c = process_handle_count(pid); c > 0) {
        handles = num(c);
        handles_from = L"process-list";
    }
    CloseHandle(p);
    auto or_unsupported = [](unsigned long long v) {
        return v ? num(static_cast<long long>(v)) : wstring(L"unsupported");
    };
    say(L"pid=" + num(pid) + L" private_bytes=" + or_unsupported(mc.PrivateUsage) +
        L" pagefile_bytes=" + or_unsupported(mc.PagefileUsage) + L" working_set=" +
        or_unsupported(mc.WorkingSetSize) + L" threads=" + num(threads) + L" top_windows=" +
        num(top) + L" windows=" + num(windows) + L" gdi=" + gdi + L" gdi_from=" + gdi_from +
        L" user=" + or_unsupported(user_objects) + L" handles=" + handles + L" handles_from=" +
        handles_from + L" open_handles=" + num(open_handle_count(pid)));
    return 0;
}

// ---------------------------------------------------------------------------
// post-burst

// Posts only: the caller waits for the effect (for toggles with thru on, one
// silencing message in the MIDI log per switch-off). There is no barrier
// that would tell from outside when the program has taken them: a sent
// message (WM_NULL) is handled at the program's next GetMessage, ahead of
// posted messages still queued, and Wine ignores posted state changes that
// could be read back (WM_SETICON with another process's icon,
// WM_UPDATEUISTATE on a window without children).
int cmd_post_burst(const Args& a) {
    HWND h = wait_main(a);
    if (!h) return fail(L"no window \"" + a.get(L"title", L"Form1") + L"\"");
    long long count = a.num(L"count", 0);
    if (count <= 0) return fail(L"post-burst needs --count N", 2);
    UINT msg = static_cast<UINT>(a.num(L"msg", 0x401));
    WPARAM wp = static_cast<WPARAM>(a.num(L"wparam", 0));
    LPARAM lp = static_cast<LPARAM>(a.num(L"lparam", 0x201));
    long long posted = 0, failed = 0;
    DWORD first_error = 0;
    long long t0 = now_us();
    for (long long i = 0; i < count; i++) {
        if (PostMessageW(h, msg, wp, lp)) {
            posted++;
        } else {
            if (!failed) first_error = GetLastError();
            failed++;
        }
    }
    say(L"posted=" + num(posted) + L" failed=" + num(failed) + L" us=" + num(now_us() - t0));
    if (failed)
        return fail(L"PostMessage failed " + num(failed) + L" times, first error " +
                    num(first_error));
    return 0;
}

int cmd_dialog_cycles(const Args& a) {
    HWND main = wait_main(a);
    if (!main) return fail(L"no main window");
    DWORD pid = pid_of(main);
    long long count = a.num(L"count", 1);
    long long timeout = a.num(L"timeout", 5000);
    wstring title = a.get(L"title", kDialogTitle);
    wstring typed = a.get(L"type", L"xyz");
    vos::Language language;
    wstring why;
    if (!text_language(a, language, why)) return fail(why, 2);
    Key settings{};
    key_of(wstring(1, access_letter(vos::Text(vos::text::kMenuConfig, language))), settings);
    std::vector<long long> cycle_us;
    for (long long i = 0; i < count; i++) {
        long long t0 = now_us();
        HWND dlg = nullptr;
        if (!open_dialog(main, pid, title, timeout, settings.vk, dlg, why))
            return fail(L"cycle " + num(i + 1) + L": " + why);
        DialogControls d;
        if (!wait_for(timeout, [&] { return dialog_controls(dlg, d); }))
            return fail(L"cycle " + num(i + 1) +
                        L": the dialog's list, edit boxes or keys are missing");

        // typing: every character reaches the path box and the code list
        wstring path = edit_text(d.path);
        wstring line = selected_line(d.list);
        if (path.empty() || !ends_with(line, path))
            return fail(L"cycle " + num(i + 1) + L": the selected line \"" + escape(line) +
                        L"\" does not show the path \"" + escape(path) + L"\"");
        // the caret to the end, as a click behind the text puts it
        send_msg(d.path, EM_SETSEL, path.size(), static_cast<LPARAM>(path.size()));
        for (wchar_t ch : typed)
            if (!send_msg(d.path, WM_CHAR, ch, 1))
                return fail(L"cycle " + num(i + 1) + L": the path box did not take a character");
        if (edit_text(d.path) != path + typed || !ends_with(selected_line(d.list), path + typed))
            return fail(L"cycle " + num(i + 1) + L": typed \"" + escape(typed) +
                        L"\" but the list shows \"" + escape(selected_line(d.list)) + L"\"");

        // a click on the first key changes its colour
        COLORREF before = centre_colour(d.key0);
        if (!send_msg(d.key0, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3)) ||
            !send_msg(d.key0, WM_LBUTTONUP, 0, MAKELPARAM(3, 3)))
            return fail(L"cycle " + num(i + 1) + L": the key did not take the click");
        COLORREF after = before;
        wait_for_fine(timeout, [&] { return (after = centre_colour(d.key0)) != before; });
        if (after == before)
            return fail(L"cycle " + num(i + 1) + L": the key still shows " + hexw(before) +
                        L" after a click");

        // the close box: gone, nothing saved
        if (!PostMessageW(dlg, WM_CLOSE, 0, 0))
            return fail(L"cycle " + num(i + 1) + L": WM_CLOSE not posted");
        if (!wait_for_fine(timeout, [&] { return !IsWindow(dlg); }))
            return fail(L"cycle " + num(i + 1) + L": the dialog is still there after WM_CLOSE");
        cycle_us.push_back(now_us() - t0);
    }
    long long total = 0;
    for (long long v : cycle_us) total += v;
    say(L"cycles=" + num(count) + L" total_ms=" + num(total / 1000) + L" median_ms=" +
        num(quantile(cycle_us, 0.5) / 1000) + L" max_ms=" + num(quantile(cycle_us, 1.0) / 1000));
    return 0;
}

// Time of a character typed into an edit box (a sent WM_CHAR: the box
// changes, tells the dialog, the dialog's handler runs) and until the code
// list has been repainted with what it shows now.
int cmd_edit_timing(const Args& a) {
    HWND main = wait_main(a);
    if (!main) return fail(L"no main window");
    DWORD pid = pid_of(main);
    wstring title = a.get(L"title", kDialogTitle);
    HWND dlg = nullptr;
    if (!wait_for(a.num(L"timeout", 5000),
                  [&] { return (dlg = find_dialog(title, pid)) != nullptr; }))
        return fail(L"the dialog is not open");
    DialogControls d;
    if (!dialog_controls(dlg, d)) return fail(L"the dialog's list or edit boxes are missing");
    long long count = a.num(L"count", 200);
    DWORD_PTR lines = 0;
    send_msg(d.list, LB_GETCOUNT, 0, 0, &lines);

    struct Box {
        const wchar_t* name;
        HWND edit;
        std::vector<long long> handled, painted;
    } boxes[2] = {{L"path", d.path, {}, {}}, {L"parameters", d.command, {}, {}}};
    for (Box& b : boxes) {
        wstring start = edit_text(b.edit);
        for (long long i = 0; i < count; i++) {
            // a character, then Backspace: the text stays short and changes every time
            wchar_t ch = (i & 1) ? L'\b' : static_cast<wchar_t>(L'a' + (i / 2) % 26);
            long long t0 = now_us();
            if (!send_msg(b.edit, WM_CHAR, ch, 1)) return fail(L"the edit box did not answer");
            long long t1 = now_us();
            RedrawWindow(d.list, nullptr, nullptr, RDW_UPDATENOW);
            long long t2 = now_us();
            b.handled.push_back(t1 - t0);
            b.painted.push_back(t2 - t0);
        }
        if (edit_text(b.edit) != start) return fail(L"the edit box does not hold its text again");
    }
    // the list followed the path box all the way
    if (!ends_with(selected_line(d.list), edit_text(d.path)))
        return fail(L"the selected line \"" + escape(selected_line(d.list)) +
                    L"\" does not show the path");
    say(L"list_lines=" + num(static_cast<long long>(lines)) + L" keystrokes=" + num(count));
    for (Box& b : boxes)
        say(wstring(b.name) + L"_handled_median_us=" + num(quantile(b.handled, 0.5)) + L" " +
            b.name + L"_handled_p99_us=" + num(quantile(b.handled, 0.99)) + L" " + b.name +
            L"_painted_median_us=" + num(quantile(b.painted, 0.5)) + L" " + b.name +
            L"_painted_p99_us=" + num(quantile(b.painted, 0.99)));
    return 0;
}

int cmd_window_cycles(const Args& a) {
    long long count = a.num(L"count", 100);
    long long warm = a.num(L"warm-up", std::max(5LL, count / 10));
    Activation activation(a.get(L"actctx"));
    if (activation.failed()) return fail(L"cannot use the manifest of " + a.get(L"actctx"));
    WNDCLASSW wc{};
    wc.lpfnWndProc = baseline_proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"SoakBaseline";
    RegisterClassW(&wc);
    HWND owner = CreateWindowExW(0, L"SoakBaseline", L"SoakBaselineOwner", WS_OVERLAPPEDWINDOW, 0,
                                 0, 100, 100, nullptr, nullptr, wc.hInstance, nullptr);
    vos::Language language;
    wstring why;
    if (!text_language(a, language, why)) return fail(why, 2);
    HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING, 1, vos::Text(vos::text::kMenuConfig, language));
    AppendMenuW(menu, MF_STRING, 2, vos::Text(vos::text::kMenuHelp, language));
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, 3, vos::Text(vos::text::kMenuEnd, language));
    // --sync FOLDER: the caller samples this process from outside (its
    // memory as Linux sees it) when a file "warm" appears there, and answers
    // with a file "go"; the same with "done" and "end" after the cycles.
    wstring sync = a.get(L"sync");
    auto handshake = [&](const wchar_t* mark, const wchar_t* answer) {
        if (sync.empty()) return true;
        HANDLE f = CreateFileW((sync + L"\\" + mark).c_str(), GENERIC_WRITE, 0, nullptr,
                               CREATE_ALWAYS, 0, nullptr);
        if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
        wstring want = sync + L"\\" + answer;
        return wait_for(a.num(L"timeout", 30000), [&] {
            return GetFileAttributesW(want.c_str()) != INVALID_FILE_ATTRIBUTES;
        });
    };
    for (long long i = 0; i < warm; i++) baseline_once(owner, menu);
    if (!handshake(L"warm", L"go")) return fail(L"no answer to warm");
    long long t0 = now_us();
    for (long long i = 0; i < count; i++) baseline_once(owner, menu);
    long long t1 = now_us();
    if (!handshake(L"done", L"end")) return fail(L"no answer to done");
    DestroyMenu(menu);
    DestroyWindow(owner);
    say(L"cycles=" + num(count) + L" warm_up=" + num(warm) + L" mean_ms=" +
        num((t1 - t0) / 1000 / std::max(1LL, count)));
    return 0;
}
}  // namespace driver
