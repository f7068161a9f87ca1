// Keys as a person presses them: into the open popup menu, global hotkeys,
// and a hotkey held by another program.
#include "driver.h"

namespace driver {

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

// Delivers one key to the open popup menu. "post" queues WM_KEYDOWN/WM_KEYUP
// on the menu's thread, where the menu's own modal loop reads (and for
// letters translates) them; "char" queues only the WM_CHAR of an access key;
// "input" synthesises a hardware key press, which reaches the menu because
// its owner is in the foreground while the menu is open.
int cmd_menu_key(const Args& a) {
    wstring name = a.pos.empty() ? wstring() : a.pos[0];
    if (a.has(L"row")) {  // the access key of the row whose text is the program's text --row
        wstring why;
        std::optional<wstring> row = key_text(a, a.get(L"row"), why);
        if (!row) return fail(why, 2);
        if (!access_letter(*row)) return fail(a.get(L"row") + L" has no access key", 2);
        name = wstring(1, access_letter(*row));
    }
    if (name.empty())
        return fail(L"menu-key needs a key (Down, Up, Return, Escape or a letter) or --row", 2);
    Key k{};
    if (!key_of(name, k)) return fail(L"unknown key " + name, 2);
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
    say(L"key=" + name + L" method=" + method + L" menu=" + hexw(reinterpret_cast<ULONG_PTR>(m)));
    return 0;
}

// Presses a key chord through the system input queue, where registered
// hotkeys are matched.
int cmd_hotkey(const Args& a) {
    wstring mods = a.get(L"mods", L"ctrl");
    Key k{};
    if (!key_of(a.get(L"key", L"F12"), k)) return fail(L"unknown --key", 2);
    std::vector<WORD> held = modifier_keys(mods);
    for (WORD vk : held) send_input_key(vk, false);
    send_input_key(k.vk, false);
    send_input_key(k.vk, true);
    for (auto it = held.rbegin(); it != held.rend(); ++it) send_input_key(*it, true);
    say(L"hotkey=" + mods + L"+" + a.get(L"key", L"F12"));
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
}  // namespace driver
