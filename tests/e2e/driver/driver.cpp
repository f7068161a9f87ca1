// Test driver: runs inside the Wine prefix beside the program under test and
// looks at / pokes its windows the way a person or the system would.
//
//   wine driver.exe <command> [--option value]...
//
// Results go to stdout as key=value lines (UTF-8). Exit status 0 means the
// command did what was asked; anything else comes with a message on stderr.
// Every wait is bounded (--timeout, default 5000 ms) so a stuck program can
// never stall a test run.
//
// The commands, grouped by what they drive, live in the *_commands.cpp files
// beside this one; the table below names them all.
#include "driver.h"
// windows.h first: the headers below need it
#include <tlhelp32.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cwchar>

namespace driver {

namespace {

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

}  // namespace

void say(const wstring& s) { write_utf8(GetStdHandle(STD_OUTPUT_HANDLE), s + L"\n"); }

int fail(const wstring& s, int code) {
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
namespace {

// A control character and the letter that stands for it after a backslash.
const std::pair<wchar_t, wchar_t> kEscapes[] = {
    {L'\r', L'r'}, {L'\n', L'n'}, {L'\t', L't'}, {L'\\', L'\\'}};

}  // namespace

wstring escape(const wstring& s) {
    wstring o;
    for (wchar_t c : s) {
        auto e = std::find_if(std::begin(kEscapes), std::end(kEscapes),
                              [&](const auto& p) { return p.first == c; });
        if (e == std::end(kEscapes))
            o += c;
        else
            o += {L'\\', e->second};
    }
    return o;
}

wstring unescape(const wstring& s) {
    wstring o;
    for (size_t i = 0; i < s.size(); i++) {
        auto e = std::end(kEscapes);
        if (s[i] == L'\\' && i + 1 < s.size())
            e = std::find_if(std::begin(kEscapes), std::end(kEscapes),
                             [&](const auto& p) { return p.second == s[i + 1]; });
        if (e == std::end(kEscapes)) {
            o += s[i];
        } else {
            o += e->first;
            i++;
        }
    }
    return o;
}

// ---------------------------------------------------------------------------
// The program's texts

bool text_language(const Args& a, vos::Language& language, wstring& error) {
    wstring name = a.get(L"lang");
    if (name.empty()) {
        const wchar_t* set = _wgetenv(L"VOS_E2E_LANG");
        name = set ? set : L"";
    }
    if (name.empty()) {
        language = vos::ChooseLanguage(GetUserDefaultUILanguage(), L"");
    } else if (name == L"ja" || name == L"en") {
        language = name == L"ja" ? vos::Language::Japanese : vos::Language::English;
    } else {
        error = L"no language \"" + name + L"\" (ja or en)";
        return false;
    }
    return true;
}

namespace {

// The number of values a text takes: its highest place {n}.
size_t places_of(std::wstring_view text) {
    size_t n = 0;
    for (size_t i = 0; i + 2 < text.size(); i++)
        if (text[i] == L'{' && text[i + 2] == L'}' && text[i + 1] >= L'1' && text[i + 1] <= L'9')
            n = std::max(n, static_cast<size_t>(text[i + 1] - L'0'));
    return n;
}

// The text of key `name` filled from values[next...], which it consumes.
bool fill_key(const wstring& name, vos::Language language, const std::vector<wstring>& values,
              size_t& next, wstring& out, wstring& error) {
    std::optional<vos::text::Key> key;
    if (std::all_of(name.begin(), name.end(), [](wchar_t c) { return c > 0 && c < 0x80; }))
        key = vos::KeyNamed(std::string(name.begin(), name.end()));
    if (!key) {
        error = L"no text has the key \"" + name + L"\" (app/texts.h)";
        return false;
    }
    const wchar_t* text = vos::Text(*key, language);
    const size_t places = places_of(text);
    // Fill takes its values as a list written out: nine, as many places as a text can have.
    std::array<wstring, 9> filled;
    for (size_t i = 0; i < places; i++) {
        if (next == values.size()) {
            error = name + L" takes " + num(static_cast<long long>(places)) +
                    L" values, and fewer follow it";
            return false;
        }
        const wstring& v = values[next++];
        if (v.starts_with(L"@@")) {
            filled[i] = v.substr(1);
        } else if (v.starts_with(L"@")) {
            if (!fill_key(v.substr(1), language, values, next, filled[i], error)) return false;
        } else {
            filled[i] = v;
        }
    }
    out = vos::Fill(text, {filled[0], filled[1], filled[2], filled[3], filled[4], filled[5],
                           filled[6], filled[7], filled[8]});
    return true;
}

}  // namespace

std::optional<wstring> key_text(const Args& a, const wstring& key, wstring& error) {
    vos::Language language;
    wstring text;
    size_t next = 0;
    if (!text_language(a, language, error) || !fill_key(key, language, a.values, next, text, error))
        return std::nullopt;
    if (next != a.values.size()) {
        error = L"more values than " + key + L" has places for";
        return std::nullopt;
    }
    return text;
}

std::optional<wstring> wanted_text(const Args& a, const wchar_t* text_opt, const wchar_t* key_opt,
                                   wstring& error) {
    if (a.has(text_opt)) return unescape(a.get(text_opt));
    if (!a.has(key_opt)) return std::nullopt;
    return key_text(a, a.get(key_opt), error);
}

wchar_t access_letter(const wstring& text) {
    size_t amp = text.find(L'&');
    return amp != wstring::npos && amp + 1 < text.size() ? text[amp + 1] : 0;
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

std::vector<Proc> processes() {
    std::vector<Proc> v;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return v;
    PROCESSENTRY32W pe;
    pe.dwSize = sizeof pe;
    for (BOOL ok = Process32FirstW(snap, &pe); ok; ok = Process32NextW(snap, &pe))
        v.push_back({pe.th32ProcessID, pe.szExeFile, pe.cntThreads});
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

HWND find_dialog(const wstring& title, DWORD pid) {
    for (HWND h : top_windows())
        if (IsWindowVisible(h) && (!pid || pid_of(h) == pid) && GetParent(h) == nullptr &&
            class_of(h) != L"#32770" && window_text(h) == title)
            return h;
    return nullptr;
}

HWND wait_dialog(const Args& a) {
    wstring title = a.get(L"title", kDialogTitle);
    HWND found = nullptr;
    wait_for(a.num(L"timeout", 5000), [&] { return (found = find_dialog(title)) != nullptr; });
    return found;
}

HWND find_menu(DWORD pid) {
    for (HWND h : top_windows())
        if (IsWindowVisible(h) && class_of(h) == L"#32768" && (!pid || pid_of(h) == pid)) return h;
    return nullptr;
}

bool send_within(HWND h, UINT msg, WPARAM w, LPARAM l, UINT ms, DWORD_PTR* res) {
    DWORD_PTR ignored = 0;
    return SendMessageTimeoutW(h, msg, w, l, SMTO_ABORTIFHUNG, ms, res ? res : &ignored) != 0;
}

std::vector<DWORD> paint_pixels(HDC like, int w, int h,
                                const std::function<void(HDC, DWORD*)>& paint) {
    HDC mem = CreateCompatibleDC(like);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bm = CreateDIBSection(like, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bm);
    paint(mem, static_cast<DWORD*>(bits));
    GdiFlush();
    std::vector<DWORD> px(static_cast<DWORD*>(bits), static_cast<DWORD*>(bits) + w * h);
    SelectObject(mem, old);
    DeleteObject(bm);
    DeleteDC(mem);
    for (DWORD& p : px) p &= 0xFFFFFF;
    return px;
}

std::vector<DWORD> grab(HDC src, int x, int y, int w, int h) {
    return paint_pixels(src, w, h,
                        [&](HDC mem, DWORD*) { BitBlt(mem, 0, 0, w, h, src, x, y, SRCCOPY); });
}

long long now_us() {
    static LARGE_INTEGER freq{};
    if (!freq.QuadPart) QueryPerformanceFrequency(&freq);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<long long>(t.QuadPart / freq.QuadPart * 1000000 +
                                  t.QuadPart % freq.QuadPart * 1000000 / freq.QuadPart);
}

// ---------------------------------------------------------------------------
// Keys

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

std::vector<WORD> modifier_keys(const wstring& mods) {
    std::vector<WORD> held;
    if (mods.find(L"ctrl") != wstring::npos) held.push_back(VK_CONTROL);
    if (mods.find(L"alt") != wstring::npos) held.push_back(VK_MENU);
    if (mods.find(L"shift") != wstring::npos) held.push_back(VK_SHIFT);
    if (mods.find(L"win") != wstring::npos) held.push_back(VK_LWIN);
    return held;
}

// ---------------------------------------------------------------------------
// The commands

namespace {

struct Entry {
    const wchar_t* name;
    Command run;
};

// Their options are in tests/e2e/README.md.
// clang-format off: a line for each group, as in driver.h
const Entry kCommands[] = {
    {L"msgbox", cmd_msgbox},
    {L"no-msgbox", cmd_no_msgbox},
    {L"window", cmd_window},
    {L"windows", cmd_windows},
    {L"tray", cmd_tray},
    {L"close-main", cmd_close_main},
    {L"tray-rect", cmd_tray_rect},
    {L"hold-tray", cmd_hold_tray},
    {L"start-to-tray", cmd_start_to_tray},
    {L"tray-icon", cmd_tray_icon},
    {L"endsession", cmd_endsession},
    {L"devices-changed", cmd_devices_changed},
    {L"process-running", cmd_process_running},
    {L"wait-exit", cmd_wait_exit},
    {L"processes", cmd_processes},
    {L"menu", cmd_menu},
    {L"menu-key", cmd_menu_key},
    {L"hotkey", cmd_hotkey},
    {L"hold-hotkey", cmd_hold_hotkey},
    {L"dialog", cmd_dialog},
    {L"controls", cmd_controls},
    {L"focus", cmd_focus},
    {L"keys", cmd_keys},
    {L"tab-walk", cmd_tab_walk},
    {L"settext", cmd_settext},
    {L"nc-hit", cmd_nc_hit},
    {L"move", cmd_move},
    {L"pixels", cmd_pixels},
    {L"acc", cmd_acc},
    {L"leak-sample", cmd_leak_sample},
    {L"post-burst", cmd_post_burst},
    {L"dialog-cycles", cmd_dialog_cycles},
    {L"edit-timing", cmd_edit_timing},
    {L"window-cycles", cmd_window_cycles},
};
// clang-format on

int usage() {
    wstring text = L"usage: driver <command> [--option value]...\n  commands:";
    for (const Entry& e : kCommands) text += L" " + wstring(e.name);
    say(text + L" serve");
    return 2;
}

Args parse_args(int argc, wchar_t** argv, int from) {
    Args a;
    for (int i = from; i < argc; i++) {
        wstring s = argv[i];
        if (s.size() > 2 && s.compare(0, 2, L"--") == 0) {
            wstring k = s.substr(2);
            a.opt[k] = (i + 1 < argc) ? argv[++i] : L"";
            if (k == L"value") a.values.push_back(a.opt[k]);
        } else {
            a.pos.push_back(s);
        }
    }
    return a;
}

int run(int argc, wchar_t** argv) {
    if (argc < 2) return usage();
    wstring cmd = argv[1];
    for (const Entry& e : kCommands)
        if (cmd == e.name) return e.run(parse_args(argc, argv, 2));
    return usage();
}

wstring from_utf8(const std::string& s) {
    if (s.empty()) return L"";
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

// Runs commands read from stdin, one a line, arguments separated by tabs;
// after each one prints a line "\x1e rc=N" (errors go to stdout too). Saves
// starting a Wine process (~0.5 s) per command.
int serve() {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    SetStdHandle(STD_ERROR_HANDLE, GetStdHandle(STD_OUTPUT_HANDLE));
    std::string buf;
    char chunk[4096];
    for (;;) {
        size_t nl;
        while ((nl = buf.find('\n')) == std::string::npos) {
            DWORD got = 0;
            if (!ReadFile(in, chunk, sizeof chunk, &got, nullptr) || got == 0) return 0;
            buf.append(chunk, got);
        }
        std::string line = buf.substr(0, nl);
        buf.erase(0, nl + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<wstring> parts{L"driver"};
        wstring w = from_utf8(line);
        size_t start = 0;
        for (;;) {
            size_t tab = w.find(L'\t', start);
            parts.push_back(w.substr(start, tab == wstring::npos ? wstring::npos : tab - start));
            if (tab == wstring::npos) break;
            start = tab + 1;
        }
        std::vector<wchar_t*> argv;
        for (wstring& p : parts) argv.push_back(p.data());
        argv.push_back(nullptr);
        int rc = parts.size() > 1 && parts[1] == L"serve"
                     ? 2
                     : run(static_cast<int>(parts.size()), argv.data());
        say(L"\x1e rc=" + num(rc));
    }
}

}  // namespace

}  // namespace driver

int wmain(int argc, wchar_t** argv) {
    if (argc >= 2 && wcscmp(argv[1], L"serve") == 0) return driver::serve();
    return driver::run(argc, argv);
}
