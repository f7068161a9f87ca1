// Message boxes: wait for one, read its text, buttons, default button and
// icon, compare them with what was expected, and answer it as a person would.
#include <algorithm>
#include <cwchar>

#include "driver.h"

namespace driver {
namespace {

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

std::vector<DWORD> render_icon(HICON icon, int w, int h, DWORD bg) {
    HDC screen = GetDC(nullptr);
    std::vector<DWORD> px = paint_pixels(screen, w, h, [&](HDC mem, DWORD* bits) {
        std::fill(bits, bits + w * h, bg);
        DrawIconEx(mem, 0, 0, icon, w, h, 0, nullptr, DI_NORMAL);
    });
    ReleaseDC(nullptr, screen);
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

}  // namespace

int cmd_msgbox(const Args& a) {
    wstring title = a.get(L"title", L"Vosselmar");
    long long timeout = a.num(L"timeout", 5000);
    wstring why;
    std::optional<wstring> text = wanted_text(a, L"expect-text", L"expect-key", why);
    if (!why.empty()) return fail(why, 2);
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
    if (text) check(L"text", *text, bi.text);
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
}  // namespace driver
