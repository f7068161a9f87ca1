// Test driver: runs inside the Wine prefix beside the program under test and
// looks at / pokes its windows the way a person or the system would.
//
//   wine driver.exe <command> [--option value]...
//
// Results go to stdout as key=value lines (UTF-8). Exit status 0 means the
// command did what was asked; anything else comes with a message on stderr.
// Every wait is bounded (--timeout, default 5000 ms) so a stuck program can
// never stall a test run.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// (the headers below need windows.h first)
#include <oleacc.h>
#include <psapi.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

namespace {

using std::wstring;

// ---------------------------------------------------------------------------
// Output

void write_utf8(HANDLE h, const wstring& s) {
    if (s.empty()) return;
    int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string buf(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), buf.data(), n, nullptr,
                        nullptr);
    DWORD written = 0;
    WriteFile(h, buf.data(), static_cast<DWORD>(buf.size()), &written, nullptr);
}

void say(const wstring& s) { write_utf8(GetStdHandle(STD_OUTPUT_HANDLE), s + L"\n"); }

int fail(const wstring& s, int code = 1) {
    write_utf8(GetStdHandle(STD_ERROR_HANDLE), L"driver: " + s + L"\n");
    return code;
}

wstring hexw(ULONG_PTR v) {
    wchar_t b[32];
    swprintf(b, 32, L"0x%llx", static_cast<unsigned long long>(v));
    return b;
}

wstring num(long long v) { return std::to_wstring(v); }

wstring rect_str(const RECT& r) {
    return num(r.left) + L"," + num(r.top) + L"," + num(r.right) + L"," + num(r.bottom);
}

// Texts are printed on one line: CR, LF, tab and backslash are escaped, and
// expected texts given on the command line use the same escapes, so a path
// such as Z:\tmp\run is written Z:\\tmp\\run.
wstring escape(const wstring& s) {
    wstring o;
    for (wchar_t c : s) {
        switch (c) {
            case L'\r':
                o += L"\\r";
                break;
            case L'\n':
                o += L"\\n";
                break;
            case L'\t':
                o += L"\\t";
                break;
            case L'\\':
                o += L"\\\\";
                break;
            default:
                o += c;
        }
    }
    return o;
}

wstring unescape(const wstring& s) {
    wstring o;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] == L'\\' && i + 1 < s.size()) {
            wchar_t n = s[++i];
            switch (n) {
                case L'r':
                    o += L'\r';
                    break;
                case L'n':
                    o += L'\n';
                    break;
                case L't':
                    o += L'\t';
                    break;
                case L'\\':
                    o += L'\\';
                    break;
                default:
                    o += L'\\';
                    o += n;
            }
        } else {
            o += s[i];
        }
    }
    return o;
}

// ---------------------------------------------------------------------------
// Arguments

struct Args {
    std::map<wstring, wstring> opt;
    std::vector<wstring> pos;

    bool has(const wchar_t* k) const { return opt.count(k) != 0; }
    wstring get(const wchar_t* k, const wchar_t* def = L"") const {
        auto it = opt.find(k);
        return it == opt.end() ? wstring(def) : it->second;
    }
    long long num(const wchar_t* k, long long def) const {
        auto it = opt.find(k);
        return it == opt.end() ? def : std::wcstoll(it->second.c_str(), nullptr, 0);
    }
};

Args parse_args(int argc, wchar_t** argv, int from) {
    Args a;
    for (int i = from; i < argc; i++) {
        wstring s = argv[i];
        if (s.size() > 2 && s.compare(0, 2, L"--") == 0) {
            wstring k = s.substr(2);
            a.opt[k] = (i + 1 < argc) ? argv[++i] : L"";
        } else {
            a.pos.push_back(s);
        }
    }
    return a;
}

// ---------------------------------------------------------------------------
// Windows and processes

wstring window_text(HWND h) {
    wchar_t b[1024];
    b[0] = 0;
    // SendMessageTimeout rather than GetWindowText: the latter does not read
    // another process's control text, and a hung program must not hang us.
    DWORD_PTR res = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(b), SMTO_ABORTIFHUNG,
                             1000, &res))
        GetWindowTextW(h, b, 1024);
    b[1023] = 0;
    return b;
}

wstring class_of(HWND h) {
    wchar_t b[256];
    if (!GetClassNameW(h, b, 256)) return L"";
    return b;
}

DWORD pid_of(HWND h) {
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    return pid;
}

struct Proc {
    DWORD pid;
    wstring name;
};

std::vector<Proc> processes() {
    std::vector<Proc> v;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return v;
    PROCESSENTRY32W pe;
    pe.dwSize = sizeof pe;
    for (BOOL ok = Process32FirstW(snap, &pe); ok; ok = Process32NextW(snap, &pe))
        v.push_back({pe.th32ProcessID, pe.szExeFile});
    CloseHandle(snap);
    return v;
}

wstring process_name(DWORD pid) {
    for (const Proc& p : processes())
        if (p.pid == pid) return p.name;
    return L"";
}

bool same_name(const wstring& a, const wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::vector<DWORD> pids_named(const wstring& name) {
    std::vector<DWORD> v;
    for (const Proc& p : processes())
        if (same_name(p.name, name)) v.push_back(p.pid);
    return v;
}

std::vector<HWND> top_windows() {
    std::vector<HWND> v;
    EnumWindows(
        [](HWND h, LPARAM l) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(l)->push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&v));
    return v;
}

std::vector<HWND> child_windows(HWND parent) {
    std::vector<HWND> v;
    EnumChildWindows(
        parent,
        [](HWND h, LPARAM l) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(l)->push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&v));
    return v;
}

// Polls `probe` every 10 ms until it returns true or `timeout_ms` passes.
template <class F>
bool wait_for(long long timeout_ms, F probe) {
    ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(timeout_ms < 0 ? 0 : timeout_ms);
    for (;;) {
        if (probe()) return true;
        if (GetTickCount64() >= end) return false;
        Sleep(10);
    }
}

// As wait_for, polling every millisecond (for timings).
template <class F>
bool wait_for_fine(long long timeout_ms, F probe) {
    LARGE_INTEGER f, t0, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t0);
    for (;;) {
        if (probe()) return true;
        QueryPerformanceCounter(&t);
        if ((t.QuadPart - t0.QuadPart) * 1000 / f.QuadPart >= timeout_ms) return false;
        Sleep(1);
    }
}

// The program's main window: a hidden top-level window (or a message-only
// one) with the given title, owned by a process with the given image name
// (and id, when several instances run).
HWND find_main(const wstring& title, const wstring& exe, DWORD pid) {
    auto ours = [&](HWND h) {
        DWORD p = pid_of(h);
        return (!pid || p == pid) && same_name(process_name(p), exe);
    };
    for (HWND h : top_windows())
        if (window_text(h) == title && ours(h)) return h;
    for (HWND h = nullptr; (h = FindWindowExW(HWND_MESSAGE, h, nullptr, title.c_str())) != nullptr;)
        if (ours(h)) return h;
    return nullptr;
}

HWND wait_main(const Args& a) {
    wstring title = a.get(L"title", L"Form1");
    wstring exe = a.get(L"name", L"Vosselmar.exe");
    DWORD pid = static_cast<DWORD>(a.num(L"pid", 0));
    HWND found = nullptr;
    wait_for(a.num(L"timeout", 5000),
             [&] { return (found = find_main(title, exe, pid)) != nullptr; });
    return found;
}

// ---------------------------------------------------------------------------
// Message boxes

HWND find_msgbox(const wstring& title) {
    for (HWND h : top_windows())
        if (IsWindowVisible(h) && class_of(h) == L"#32770" && window_text(h) == title) return h;
    return nullptr;
}

struct Button {
    int id;
    const wchar_t* name;
};

const Button kButtons[] = {{IDOK, L"ok"},       {IDCANCEL, L"cancel"}, {IDABORT, L"abort"},
                           {IDRETRY, L"retry"}, {IDIGNORE, L"ignore"}, {IDYES, L"yes"},
                           {IDNO, L"no"},       {10, L"tryagain"},     {11, L"continue"}};

int button_id(const wstring& name) {
    for (const Button& b : kButtons)
        if (name == b.name) return b.id;
    return 0;
}

// Identifies the standard icon shown in the box by drawing each candidate on
// the same background and comparing pixels with the screen: another process
// cannot read an icon's bits on Wine, but it can read the screen.
struct IconGuess {
    wstring name;
    wstring detail;
};

std::vector<DWORD> grab(HDC src, int x, int y, int w, int h) {
    HDC mem = CreateCompatibleDC(src);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bm = CreateDIBSection(src, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bm);
    BitBlt(mem, 0, 0, w, h, src, x, y, SRCCOPY);
    GdiFlush();
    std::vector<DWORD> px(static_cast<DWORD*>(bits), static_cast<DWORD*>(bits) + w * h);
    SelectObject(mem, old);
    DeleteObject(bm);
    DeleteDC(mem);
    for (DWORD& p : px) p &= 0xFFFFFF;
    return px;
}

std::vector<DWORD> render_icon(HICON icon, int w, int h, DWORD bg) {
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bm = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bm);
    for (int i = 0; i < w * h; i++) static_cast<DWORD*>(bits)[i] = bg;
    DrawIconEx(mem, 0, 0, icon, w, h, 0, nullptr, DI_NORMAL);
    GdiFlush();
    std::vector<DWORD> px(static_cast<DWORD*>(bits), static_cast<DWORD*>(bits) + w * h);
    SelectObject(mem, old);
    DeleteObject(bm);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    for (DWORD& p : px) p &= 0xFFFFFF;
    return px;
}

IconGuess guess_icon(HWND box) {
    HWND icon = nullptr;
    for (HWND c : child_windows(box)) {
        LONG style = GetWindowLongW(c, GWL_STYLE);
        if (IsWindowVisible(c) && _wcsicmp(class_of(c).c_str(), L"Static") == 0 &&
            (style & SS_TYPEMASK) == SS_ICON) {
            icon = c;
            break;
        }
    }
    if (!icon) return {L"none", L""};
    RECT r;
    GetWindowRect(icon, &r);
    int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0 || w > 256 || h > 256)
        return {L"unknown", L"size " + num(w) + L"x" + num(h)};
    struct Cand {
        const wchar_t* name;
        LPCWSTR res;
    };
    const Cand cands[] = {{L"error", IDI_HAND},
                          {L"question", IDI_QUESTION},
                          {L"warning", IDI_EXCLAMATION},
                          {L"information", IDI_ASTERISK}};
    IconGuess best{L"unknown", L""};
    // the box may not have painted yet: retry for a short while
    for (int attempt = 0; attempt < 30; attempt++) {
        HDC screen = GetDC(nullptr);
        std::vector<DWORD> shot = grab(screen, r.left, r.top, w, h);
        ReleaseDC(nullptr, screen);
        DWORD bg = shot[0];
        size_t best_diff = shot.size() + 1, second = shot.size() + 1;
        const wchar_t* best_name = nullptr;
        for (const Cand& c : cands) {
            HICON ic = static_cast<HICON>(LoadImageW(nullptr, c.res, IMAGE_ICON, w, h, LR_SHARED));
            if (!ic) continue;
            std::vector<DWORD> ref = render_icon(ic, w, h, bg);
            size_t diff = 0;
            for (size_t i = 0; i < shot.size(); i++) diff += shot[i] != ref[i];
            if (diff < best_diff) {
                second = best_diff;
                best_diff = diff;
                best_name = c.name;
            } else if (diff < second) {
                second = diff;
            }
        }
        best.detail = L"diff " + num(static_cast<long long>(best_diff)) + L"/" +
                      num(static_cast<long long>(shot.size()));
        // accept a clear winner: nearly identical, and far from the runner-up
        if (best_name && best_diff * 20 <= shot.size() && best_diff * 4 < second) {
            best.name = best_name;
            return best;
        }
        Sleep(20);
    }
    return best;
}

struct BoxInfo {
    wstring text;
    std::vector<int> buttons;
    int def = 0;
    IconGuess icon;
};

BoxInfo read_box(HWND box, bool want_icon) {
    BoxInfo bi;
    HWND text = GetDlgItem(box, 0xFFFF);
    if (text) bi.text = window_text(text);
    for (const Button& b : kButtons) {
        HWND bt = GetDlgItem(box, b.id);
        if (!bt || !IsWindowVisible(bt)) continue;
        bi.buttons.push_back(b.id);
        if ((GetWindowLongW(bt, GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON) bi.def = b.id;
    }
    if (!bi.def) {
        DWORD_PTR res = 0;
        if (SendMessageTimeoutW(box, DM_GETDEFID, 0, 0, SMTO_ABORTIFHUNG, 1000, &res) &&
            HIWORD(res) == DC_HASDEFID)
            bi.def = LOWORD(res);
    }
    if (want_icon) bi.icon = guess_icon(box);
    return bi;
}

wstring button_name(int id) {
    for (const Button& b : kButtons)
        if (b.id == id) return b.name;
    return num(id);
}

wstring button_list(const std::vector<int>& ids) {
    wstring s;
    for (int id : ids) s += (s.empty() ? L"" : L",") + button_name(id);
    return s;
}

// "yesno", "okcancel", ... or an explicit comma list, in the box's order.
wstring canonical_buttons(const wstring& names) {
    static const std::map<wstring, wstring> sets = {
        {L"ok", L"ok"},
        {L"okcancel", L"ok,cancel"},
        {L"yesno", L"yes,no"},
        {L"yesnocancel", L"yes,no,cancel"},
        {L"retrycancel", L"retry,cancel"},
        {L"abortretryignore", L"abort,retry,ignore"},
        {L"canceltrycontinue", L"cancel,tryagain,continue"}};
    auto it = sets.find(names);
    return it == sets.end() ? names : it->second;
}

// Orders button ids the way kButtons lists them so comparisons are stable.
wstring sorted_list(const wstring& csv) {
    std::vector<int> ids;
    size_t start = 0;
    while (start <= csv.size()) {
        size_t comma = csv.find(L',', start);
        wstring item = csv.substr(start, comma == wstring::npos ? wstring::npos : comma - start);
        int id = button_id(item);
        if (!item.empty()) ids.push_back(id ? id : -1);
        if (comma == wstring::npos) break;
        start = comma + 1;
    }
    std::vector<int> ordered;
    for (const Button& b : kButtons)
        for (int id : ids)
            if (id == b.id) ordered.push_back(id);
    for (int id : ids)
        if (id == -1) ordered.push_back(-1);
    return button_list(ordered);
}

bool click(HWND box, int id) {
    return PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                        reinterpret_cast<LPARAM>(GetDlgItem(box, id))) != 0;
}

int cmd_msgbox(const Args& a) {
    wstring title = a.get(L"title", L"Vosselmar");
    long long timeout = a.num(L"timeout", 5000);
    HWND box = nullptr;
    if (!wait_for(timeout, [&] { return (box = find_msgbox(title)) != nullptr; }))
        return fail(L"no message box titled \"" + title + L"\" within " + num(timeout) + L" ms");
    // let the box finish creating its controls before reading them
    wait_for(500, [&] { return GetDlgItem(box, 0xFFFF) != nullptr; });

    bool want_icon = !a.has(L"no-icon");
    BoxInfo bi = read_box(box, want_icon);
    say(L"hwnd=" + hexw(reinterpret_cast<ULONG_PTR>(box)));
    say(L"pid=" + num(pid_of(box)));
    say(L"text=" + escape(bi.text));
    if (want_icon)
        say(L"icon=" + bi.icon.name +
            (bi.icon.detail.empty() ? L"" : L" (" + bi.icon.detail + L")"));
    say(L"buttons=" + button_list(bi.buttons));
    say(L"default=" + (bi.def ? button_name(bi.def) : wstring(L"none")));

    std::vector<wstring> bad;
    auto check = [&](const wchar_t* what, const wstring& expected, const wstring& actual) {
        if (expected != actual)
            bad.push_back(wstring(what) + L": expected \"" + escape(expected) + L"\" actual \"" +
                          escape(actual) + L"\"");
    };
    if (a.has(L"expect-text")) check(L"text", unescape(a.get(L"expect-text")), bi.text);
    if (a.has(L"expect-buttons"))
        check(L"buttons", sorted_list(canonical_buttons(a.get(L"expect-buttons"))),
              button_list(bi.buttons));
    if (a.has(L"expect-default"))
        check(L"default", a.get(L"expect-default"), bi.def ? button_name(bi.def) : L"none");
    if (a.has(L"expect-icon")) check(L"icon", a.get(L"expect-icon"), bi.icon.name);

    int rc = 0;
    for (const wstring& b : bad) rc = fail(L"MISMATCH " + b);

    wstring answer = a.get(L"answer");
    if (answer.empty() || answer == L"none") return rc;
    int id = answer == L"default" ? bi.def : button_id(answer);
    bool present = false;
    for (int b : bi.buttons) present |= b == id;
    if (!present) {
        rc = fail(L"the box has no \"" + answer + L"\" button (it has " + button_list(bi.buttons) +
                  L")");
        // still close it, so the program is not left waiting: the least
        // committal choice it offers
        for (int pick : {IDCANCEL, IDNO, IDOK, bi.def})
            for (int b : bi.buttons)
                if (!present && b == pick) {
                    id = pick;
                    present = true;
                }
        if (!present && !bi.buttons.empty()) id = bi.buttons.front();
    }
    if (!click(box, id))
        return fail(L"could not post the button click: error " + num(GetLastError()));
    say(L"answered=" + button_name(id));
    if (!wait_for(timeout, [&] { return !IsWindow(box) || !IsWindowVisible(box); }))
        return fail(L"the box is still open " + num(timeout) + L" ms after answering");
    return rc;
}

int cmd_no_msgbox(const Args& a) {
    wstring title = a.get(L"title", L"Vosselmar");
    long long span = a.num(L"for", 1000);
    HWND box = nullptr;
    if (wait_for(span, [&] { return (box = find_msgbox(title)) != nullptr; })) {
        wait_for(300, [&] { return GetDlgItem(box, 0xFFFF) != nullptr; });
        BoxInfo bi = read_box(box, false);
        say(L"hwnd=" + hexw(reinterpret_cast<ULONG_PTR>(box)));
        say(L"text=" + escape(bi.text));
        say(L"buttons=" + button_list(bi.buttons));
        return fail(L"an unexpected message box appeared: \"" + escape(bi.text) + L"\"");
    }
    say(L"no-msgbox=" + num(span) + L"ms");
    return 0;
}

struct Key {
    WORD vk;
    wchar_t ch;  // character the key types, 0 for none
};
bool key_of(const wstring& name, Key& k);

// ---------------------------------------------------------------------------
// Windows

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

int cmd_window(const Args& a) {
    wstring title = a.get(L"title");
    wstring cls = a.get(L"class");
    if (!a.has(L"title") && !a.has(L"class"))
        return fail(L"window needs --title and/or --class", 2);
    std::vector<HWND> found;
    wait_for(a.num(L"timeout", 5000), [&] {
        found.clear();
        for (HWND h : top_windows())
            if ((!a.has(L"title") || window_text(h) == title) &&
                (!a.has(L"class") || class_of(h) == cls) &&
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

int cmd_tray(const Args& a) {
    if (!a.has(L"lparam"))
        return fail(L"tray needs --lparam (e.g. 0x201 left down, 0x204 right down, 0x205 right up)",
                    2);
    return post_main(a, static_cast<UINT>(a.num(L"msg", WM_USER + 1)),
                     static_cast<WPARAM>(a.num(L"wparam", 0)),
                     static_cast<LPARAM>(a.num(L"lparam", 0)), L"tray-callback");
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

// Used tray slots right now; 0 when the tray window is not there (as before
// the first icon of a server, or after the last one went).
int tray_count() { return scan_tray(find_tray(), false).used; }

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
        return fail(L"no new tray icon within the timeout" +
                    (code == STILL_ACTIVE ? wstring(L"") : L" (it ended, code " + num(code) + L")"));
    }
    wchar_t ms[32];
    swprintf(ms, 32, L"%.1f", 1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) /
                                 static_cast<double>(f.QuadPart));
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
// Hotkeys held by another process

// Registers a hotkey the way another program would and keeps it for --for
// ms (0: just try). Exit 0 and registered=1 when it was free, 1 when someone
// else holds it.
int cmd_hold_hotkey(const Args& a) {
    wstring mods = a.get(L"mods", L"ctrl");
    Key k{};
    if (!key_of(a.get(L"key", L"F12"), k)) return fail(L"unknown --key", 2);
    UINT m = 0;
    if (mods.find(L"ctrl") != wstring::npos) m |= MOD_CONTROL;
    if (mods.find(L"alt") != wstring::npos) m |= MOD_ALT;
    if (mods.find(L"shift") != wstring::npos) m |= MOD_SHIFT;
    if (!RegisterHotKey(nullptr, 1, m, k.vk)) {
        DWORD err = GetLastError();
        say(L"registered=0 error=" + num(err));
        return 1;
    }
    say(L"registered=1");
    long long hold = a.num(L"for", 0);
    if (hold > 0) Sleep(static_cast<DWORD>(hold));
    UnregisterHotKey(nullptr, 1);
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
// Menus and keys

HWND find_menu() {
    for (HWND h : top_windows())
        if (IsWindowVisible(h) && class_of(h) == L"#32768") return h;
    return nullptr;
}

int cmd_menu(const Args& a) {
    if (a.has(L"wait-gone")) {
        if (!wait_for(a.num(L"wait-gone", 2000), [] { return find_menu() == nullptr; }))
            return fail(L"a popup menu is still open");
        say(L"menu=closed");
        return 0;
    }
    HWND m = nullptr;
    if (!wait_for(a.num(L"wait", 2000), [&] { return (m = find_menu()) != nullptr; }))
        return fail(L"no popup menu appeared");
    RECT r;
    GetWindowRect(m, &r);
    say(L"hwnd=" + hexw(reinterpret_cast<ULONG_PTR>(m)) + L" pid=" + num(pid_of(m)) + L" rect=" +
        rect_str(r));
    return 0;
}

bool key_of(const wstring& name, Key& k) {
    static const std::map<wstring, WORD> named = {
        {L"Down", VK_DOWN},     {L"Up", VK_UP},      {L"Left", VK_LEFT},     {L"Right", VK_RIGHT},
        {L"Home", VK_HOME},     {L"End", VK_END},    {L"Return", VK_RETURN}, {L"Enter", VK_RETURN},
        {L"Escape", VK_ESCAPE}, {L"Esc", VK_ESCAPE}, {L"Tab", VK_TAB},       {L"Space", VK_SPACE},
        {L"F12", VK_F12},       {L"F1", VK_F1}};
    auto it = named.find(name);
    if (it != named.end()) {
        k = {it->second, static_cast<wchar_t>(it->second == VK_RETURN   ? L'\r'
                                              : it->second == VK_ESCAPE ? 0x1B
                                                                        : 0)};
        return true;
    }
    if (name.size() == 1) {
        wchar_t c = name[0];
        SHORT vk = VkKeyScanW(c);
        if (vk == -1) return false;
        k = {static_cast<WORD>(LOBYTE(vk)), c};
        return true;
    }
    return false;
}

void send_input_key(WORD vk, bool up) {
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    if (vk == VK_DOWN || vk == VK_UP || vk == VK_LEFT || vk == VK_RIGHT || vk == VK_HOME ||
        vk == VK_END)
        in.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
    SendInput(1, &in, sizeof in);
}

// Delivers one key to the open popup menu. "post" queues WM_KEYDOWN/WM_KEYUP
// on the menu's thread, where the menu's own modal loop reads (and for
// letters translates) them; "char" queues only the WM_CHAR of an access key;
// "input" synthesises a hardware key press, which reaches the menu because
// its owner is in the foreground while the menu is open.
int cmd_menu_key(const Args& a) {
    if (a.pos.empty())
        return fail(L"menu-key needs a key: Down, Up, Return, Escape or a letter", 2);
    Key k{};
    if (!key_of(a.pos[0], k)) return fail(L"unknown key " + a.pos[0], 2);
    HWND m = nullptr;
    if (!wait_for(a.num(L"timeout", 2000), [&] { return (m = find_menu()) != nullptr; }))
        return fail(L"no popup menu is open");
    wstring method = a.get(L"method", L"post");
    UINT scan = MapVirtualKeyW(k.vk, MAPVK_VK_TO_VSC);
    LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16);
    LPARAM up = down | (1LL << 30) | (1LL << 31);
    if (method == L"post") {
        // the menu loop translates the key press into the character itself
        PostMessageW(m, WM_KEYDOWN, k.vk, down);
        PostMessageW(m, WM_KEYUP, k.vk, up);
    } else if (method == L"char") {
        PostMessageW(m, WM_CHAR, k.ch, down);
    } else if (method == L"input") {
        send_input_key(k.vk, false);
        send_input_key(k.vk, true);
    } else {
        return fail(L"unknown --method " + method + L" (post, char, input)", 2);
    }
    say(L"key=" + a.pos[0] + L" method=" + method + L" menu=" +
        hexw(reinterpret_cast<ULONG_PTR>(m)));
    return 0;
}

// Presses a key chord through the system input queue, where registered
// hotkeys are matched.
int cmd_hotkey(const Args& a) {
    wstring mods = a.get(L"mods", L"ctrl");
    Key k{};
    if (!key_of(a.get(L"key", L"F12"), k)) return fail(L"unknown --key", 2);
    std::vector<WORD> held;
    if (mods.find(L"ctrl") != wstring::npos) held.push_back(VK_CONTROL);
    if (mods.find(L"alt") != wstring::npos) held.push_back(VK_MENU);
    if (mods.find(L"shift") != wstring::npos) held.push_back(VK_SHIFT);
    if (mods.find(L"win") != wstring::npos) held.push_back(VK_LWIN);
    for (WORD vk : held) send_input_key(vk, false);
    send_input_key(k.vk, false);
    send_input_key(k.vk, true);
    for (auto it = held.rbegin(); it != held.rend(); ++it) send_input_key(*it, true);
    say(L"hotkey=" + mods + L"+" + a.get(L"key", L"F12"));
    return 0;
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

// Counts for leak tests. Wine 8 does not implement GetGuiResources or the
// handle count (both read 0), so a zero is printed as "unsupported" rather
// than passed off as a measurement; the window and thread counts and the
// working set are real.
int cmd_gui_resources(const Args& a) {
    wstring exe = a.get(L"name", L"Vosselmar.exe");
    std::vector<DWORD> pids = pids_named(exe);
    if (pids.empty()) return fail(exe + L" is not running");
    DWORD pid = pids[0];
    HANDLE p = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!p) return fail(L"cannot open process " + num(pid) + L": error " + num(GetLastError()));
    auto count_or = [](unsigned long long v) {
        return v ? num(static_cast<long long>(v)) : wstring(L"unsupported");
    };
    DWORD handles = 0;
    GetProcessHandleCount(p, &handles);
    PROCESS_MEMORY_COUNTERS_EX mc{};
    mc.cb = sizeof mc;
    GetProcessMemoryInfo(p, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&mc), sizeof mc);
    long long threads = 0;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap != INVALID_HANDLE_VALUE) {
        PROCESSENTRY32W pe;
        pe.dwSize = sizeof pe;
        for (BOOL ok = Process32FirstW(snap, &pe); ok; ok = Process32NextW(snap, &pe))
            if (pe.th32ProcessID == pid) threads = pe.cntThreads;
        CloseHandle(snap);
    }
    long long windows = 0;
    for (HWND h : top_windows()) windows += pid_of(h) == pid;
    say(L"pid=" + num(pid));
    say(L"gdi=" + count_or(GetGuiResources(p, GR_GDIOBJECTS)));
    say(L"user=" + count_or(GetGuiResources(p, GR_USEROBJECTS)));
    say(L"handles=" + count_or(handles));
    say(L"private_bytes=" + count_or(mc.PrivateUsage));
    say(L"pagefile_bytes=" + count_or(mc.PagefileUsage));
    say(L"working_set=" + count_or(mc.WorkingSetSize));
    say(L"threads=" + num(threads));
    say(L"top_windows=" + num(windows));
    CloseHandle(p);
    return 0;
}

// ---------------------------------------------------------------------------
// Dialog windows: controls, focus, keys (commands in dialog_commands.inc)

#include "dialog_commands.inc"

// ---------------------------------------------------------------------------
// Soak, leak and timing runs (commands in soak_commands.inc)

#include "soak_commands.inc"

int usage() {
    say(L"usage: driver <command> [--option value]...\n"
        L"  msgbox [--timeout ms] [--title T] [--expect-text T] [--expect-buttons "
        L"yesno|ok|okcancel|...]\n"
        L"         [--expect-default yes|no|ok|cancel] [--expect-icon "
        L"error|question|warning|information|none]\n"
        L"         [--answer yes|no|ok|cancel|default|none]\n"
        L"  no-msgbox --for ms [--title T]\n"
        L"  window --title T [--class C] [--visible 1|0] [--timeout ms]     windows [--name exe]\n"
        L"  tray --lparam 0x201 [--msg 0x401] [--wparam 0] [--title Form1] [--name Vosselmar.exe] "
        L"[--pid N]\n"
        L"  tray-rect [--timeout ms]     (also iconK_rgb=R,G,B px=N per used slot)\n"
        L"  start-to-tray --exe PATH [--args A] [--dir D] [--timeout ms] [--close-title T]\n"
        L"  tray-icon [--for ms]     (a minimal tray program, for comparisons)\n"
        L"  hold-hotkey [--mods ctrl] [--key F12] [--for ms]\n"
        L"  close-main | endsession [--kill-after ms]   (both also take --title, --name, --pid)\n"
        L"  devices-changed [--timeout ms]   (WM_DEVICECHANGE DBT_DEVNODES_CHANGED to all "
        L"windows)\n"
        L"  menu [--wait ms | --wait-gone ms]     menu-key <key> [--method post|char|input]\n"
        L"  hotkey [--mods ctrl] [--key F12]\n"
        L"  process-running --name N | wait-exit --name N --timeout ms | processes | gui-resources "
        L"--name N");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return usage();
    wstring cmd = argv[1];
    Args a = parse_args(argc, argv, 2);
    if (cmd == L"msgbox") return cmd_msgbox(a);
    if (cmd == L"no-msgbox") return cmd_no_msgbox(a);
    if (cmd == L"window") return cmd_window(a);
    if (cmd == L"windows") return cmd_windows(a);
    if (cmd == L"tray") return cmd_tray(a);
    if (cmd == L"tray-rect") return cmd_tray_rect(a);
    if (cmd == L"start-to-tray") return cmd_start_to_tray(a);
    if (cmd == L"tray-icon") return cmd_tray_icon(a);
    if (cmd == L"hold-hotkey") return cmd_hold_hotkey(a);
    if (cmd == L"close-main") return post_main(a, WM_CLOSE, 0, 0, L"WM_CLOSE");
    if (cmd == L"endsession") return cmd_endsession(a);
    if (cmd == L"devices-changed") return cmd_devices_changed(a);
    if (cmd == L"menu") return cmd_menu(a);
    if (cmd == L"menu-key") return cmd_menu_key(a);
    if (cmd == L"hotkey") return cmd_hotkey(a);
    if (cmd == L"process-running") return cmd_process_running(a);
    if (cmd == L"wait-exit") return cmd_wait_exit(a);
    if (cmd == L"processes") return cmd_processes(a);
    if (cmd == L"gui-resources") return cmd_gui_resources(a);
    if (int rc = dialog_command(cmd, a); rc != -1) return rc;
    if (int rc = soak_command(cmd, a); rc != -1) return rc;
    if (cmd == L"serve") return serve_commands(wmain);
    return usage();
}
