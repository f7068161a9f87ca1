// What every group of driver commands shares: output in key=value lines,
// the parsed options, finding windows and processes, bounded waits, keys,
// and the table of commands (driver.cpp).
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/texts.h"

namespace driver {

using std::wstring;

// --- output -----------------------------------------------------------------

void say(const wstring& s);
// The message goes to stderr; returns `code`, so a command can end with it.
int fail(const wstring& s, int code = 1);
wstring hexw(ULONG_PTR v);
wstring num(long long v);
wstring rect_str(const RECT& r);
// Texts are printed on one line: CR, LF, tab and backslash are escaped, and
// expected texts given on the command line use the same escapes, so a path
// such as Z:\tmp\run is written Z:\\tmp\\run.
wstring escape(const wstring& s);
wstring unescape(const wstring& s);

// --- arguments ----------------------------------------------------------------

struct Args {
    std::map<wstring, wstring> opt;
    std::vector<wstring> pos;
    std::vector<wstring> values;  // every --value, in order

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

// --- the program's texts, named by their keys in app/texts.h instead of copied ------

// --lang ja|en, else VOS_E2E_LANG, else the program's own choice for this user.
bool text_language(const Args& a, vos::Language& language, wstring& error);
// The text of `key`, its places filled by vos::Fill with the --value options in
// order, as written. A value "@K" is the text of key K, filled in turn by the
// values after it; "@@x" is the value "@x". Nothing, and `error` says why, for
// an unknown key or values that do not fit its places.
std::optional<wstring> key_text(const Args& a, const wstring& key, wstring& error);
// --TEXT_OPT (escapes undone), else key_text of --KEY_OPT, else nothing.
std::optional<wstring> wanted_text(const Args& a, const wchar_t* text_opt, const wchar_t* key_opt,
                                   wstring& error);
// The access key of a menu row or caption: the letter after its '&', or 0.
wchar_t access_letter(const wstring& text);

// --- windows and processes ------------------------------------------------------

const wchar_t kDialogTitle[] = L"Vosselmar の設定";

wstring window_text(HWND h);
wstring class_of(HWND h);
DWORD pid_of(HWND h);

struct Proc {
    DWORD pid;
    wstring name;
    DWORD threads;
};
std::vector<Proc> processes();
wstring process_name(DWORD pid);
bool same_name(const wstring& a, const wstring& b);
std::vector<DWORD> pids_named(const wstring& name);
std::vector<HWND> top_windows();
std::vector<HWND> child_windows(HWND parent);

// The program's hidden main window: --title (Form1) of --name (Vosselmar.exe),
// --pid when several run; waits up to --timeout.
HWND wait_main(const Args& a);
// A visible top-level window titled `title` that is no message box (of
// process `pid`, unless 0), such as the settings dialog.
HWND find_dialog(const wstring& title, DWORD pid = 0);
// find_dialog for --title (default kDialogTitle), waiting up to --timeout.
HWND wait_dialog(const Args& a);
// The open popup menu (of process `pid`, unless 0).
HWND find_menu(DWORD pid = 0);
// SendMessageTimeout that gives up on a hung window after `ms`.
bool send_within(HWND h, UINT msg, WPARAM w, LPARAM l, UINT ms, DWORD_PTR* res = nullptr);

// Pixels (0xRRGGBB, row by row) of a w x h picture that `paint` draws into a
// memory DC like `like`, given its bits to fill first if it wants.
std::vector<DWORD> paint_pixels(HDC like, int w, int h,
                                const std::function<void(HDC, DWORD*)>& paint);
// Screen pixels of a rectangle of `src`.
std::vector<DWORD> grab(HDC src, int x, int y, int w, int h);

// --- time ----------------------------------------------------------------------------

// Microseconds of the performance counter.
long long now_us();

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
    long long t0 = now_us();
    for (;;) {
        if (probe()) return true;
        if ((now_us() - t0) / 1000 >= timeout_ms) return false;
        Sleep(1);
    }
}

// --- keys --------------------------------------------------------------------------------

struct Key {
    WORD vk;
    wchar_t ch;  // character the key types, 0 for none
};
// "Down", "Return", "F12", "Space", a letter ...
bool key_of(const wstring& name, Key& k);
void send_input_key(WORD vk, bool up);
// Modifier keys named in `mods` ("ctrl", "alt+shift", ...), as virtual keys.
std::vector<WORD> modifier_keys(const wstring& mods);

// --- the commands ------------------------------------------------------------------------

using Command = int (*)(const Args&);

// message boxes (msgbox_commands.cpp)
int cmd_msgbox(const Args& a);
int cmd_no_msgbox(const Args& a);
// top-level windows, the tray, the session, processes (window_commands.cpp)
int cmd_window(const Args& a);
int cmd_windows(const Args& a);
int cmd_tray(const Args& a);
int cmd_close_main(const Args& a);
int cmd_tray_rect(const Args& a);
int cmd_hold_tray(const Args& a);
int cmd_start_to_tray(const Args& a);
int cmd_tray_icon(const Args& a);
int cmd_endsession(const Args& a);
int cmd_devices_changed(const Args& a);
int cmd_process_running(const Args& a);
int cmd_wait_exit(const Args& a);
int cmd_processes(const Args& a);
// keys: popup menus, hotkeys (key_commands.cpp)
int cmd_menu(const Args& a);
int cmd_menu_key(const Args& a);
int cmd_hotkey(const Args& a);
int cmd_hold_hotkey(const Args& a);
// a window of child controls such as the settings dialog (dialog_commands.cpp)
int cmd_dialog(const Args& a);
int cmd_controls(const Args& a);
int cmd_focus(const Args& a);
int cmd_keys(const Args& a);
int cmd_tab_walk(const Args& a);
int cmd_settext(const Args& a);
int cmd_nc_hit(const Args& a);
int cmd_move(const Args& a);
int cmd_pixels(const Args& a);
// what a screen reader learns (accessibility_commands.cpp)
int cmd_acc(const Args& a);
// resource readings, soak and timing runs (soak_commands.cpp)
int cmd_leak_sample(const Args& a);
int cmd_post_burst(const Args& a);
int cmd_dialog_cycles(const Args& a);
int cmd_edit_timing(const Args& a);
int cmd_window_cycles(const Args& a);

}  // namespace driver
