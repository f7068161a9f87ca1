// The configuration dialog's window against real controls: geometry, the model bindings, the
// keyboard through the dialog manager, and unloading. Needs a desktop (Wine in an X server does).
// Exit status: the number of failed checks.
#include "config_window.h"

#include <windows.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/app.h"
#include "config_dialog/frmConfig.h"
#include "config_dialog/layout.h"
#include "win32_host.h"

using namespace std::literals;
using namespace vos;
using namespace vos::win32;
using layout::Id;
using layout::Kind;

namespace {

int failures = 0;

std::string Utf8(const std::wstring& s) {
    std::string out(s.size() * 3, '\0');
    out.resize(static_cast<std::size_t>(
        WideCharToMultiByte(CP_UTF8, 0, s.c_str(), static_cast<int>(s.size()), out.data(),
                            static_cast<int>(out.size()), nullptr, nullptr)));
    return out;
}
// Formatted without chains of string concatenation, about which GCC 12 warns falsely.
std::string Show(long long v) { return std::to_string(v); }
std::string Show(const std::wstring& s) { return Utf8(s); }
std::string Show(const RECT& r) {
    char text[96];
    std::snprintf(text, sizeof text, "{%ld,%ld,%ld,%ld}", r.left, r.top, r.right, r.bottom);
    return text;
}
bool Same(const RECT& a, const RECT& b) { return EqualRect(&a, &b) != FALSE; }
template <typename T>
bool Same(const T& a, const T& b) {
    return a == b;
}

template <typename A, typename B>
void Expect(int line, const std::string& what, const A& actual, const B& expected) {
    if (Same(actual, static_cast<A>(expected))) return;
    ++failures;
    std::printf("line %d: %s: got %s, want %s\n", line, what.c_str(), Show(actual).c_str(),
                Show(static_cast<A>(expected)).c_str());
}
#define EXPECT_EQ(what, actual, expected) Expect(__LINE__, what, actual, expected)
#define EXPECT_TRUE(what, cond) Expect(__LINE__, what, static_cast<long long>(!!(cond)), 1LL)

std::wstring Text(HWND h) {
    std::wstring s(static_cast<std::size_t>(GetWindowTextLengthW(h)) + 1, L'\0');
    s.resize(static_cast<std::size_t>(GetWindowTextW(h, s.data(), static_cast<int>(s.size()))));
    return s;
}
int ScreenDpi() {
    HDC screen = GetDC(nullptr);
    int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    return dpi;
}
std::string Name(Id id) { return Utf8(std::wstring(ItemOf(id).name)); }

// A dialog as LoadConfigDialog would leave it: twenty entries, devices, instruments and keys.
struct Fixture {
    Winmm winmm;
    Win32Host host{GetModuleHandleW(nullptr), winmm};
    App app{host};
    frmConfig* form = nullptr;

    Fixture() {
        host.Attach(&app);
        Load();
        host.ShowConfigModeless();
    }
    void Load() {
        app.Config = std::make_unique<frmConfig>(app);
        form = app.Config.get();
        for (int i = 0; i < 20; ++i) {
            form->WorkingCodes.push_back({i == 0 ? 0x91 : i,
                                          L"C:\\apps\\tool" + std::to_wstring(i) + L".exe",
                                          L"/n " + std::to_wstring(i)});
        }
        form->RefreshCodeList();
        form->lstCP.SetListIndex(0);
        for (const wchar_t* name : {L"入力A", L"入力B"}) form->cmbMIDev.AddItem(name);
        form->cmbMIDev.SetListIndex(1);
        form->cmbMODev.AddItem(L"出力A");
        form->cmbMODev.SetListIndex(0);
        for (int i = 0; i < 128; ++i) form->cmbPC.AddItem(std::to_wstring(i) + L" 音色");
        form->cmbPC.SetListIndex(0);
        for (int i = 0; i < 77; ++i) form->cmbSKey.AddItem(L"キー" + std::to_wstring(i));
        form->cmbSKey.SetListIndex(5);
    }
    HWND Dialog() const { return host.ConfigWindowHandle(); }
    HWND Ctl(Id id) const { return GetDlgItem(Dialog(), ControlId(id)); }
    RECT ClientRectOf(Id id) const {
        RECT r{};
        GetWindowRect(Ctl(id), &r);
        MapWindowPoints(nullptr, Dialog(), reinterpret_cast<POINT*>(&r), 2);
        return r;
    }
    // A key as the thread would receive it, through the same routing as the program's loops.
    void Key(UINT message, WPARAM key) {
        MSG msg{GetFocus(), message, key, 1, 0, {}};
        if (!host.RouteDialogMessage(msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        host.DoEvents();
    }
    int Focused() const { return GetDlgCtrlID(GetFocus()); }
};

// Every button's handler becomes a counter, so keyboard tests can neither save nor open help.
struct ButtonCounters {
    std::shared_ptr<std::map<Id, int>> count = std::make_shared<std::map<Id, int>>();
    explicit ButtonCounters(frmConfig& f) {
        for (auto [id, button] : {std::pair{Id::cmdAdd, &f.cmdAdd},
                                  {Id::cmdDel, &f.cmdDel},
                                  {Id::cmdSansyo, &f.cmdSansyo},
                                  {Id::cmdOK, &f.cmdOK},
                                  {Id::cmdCancel, &f.cmdCancel},
                                  {Id::cmdHelp, &f.cmdHelp}}) {
            button->Click = [count = count, id = id] { ++(*count)[id]; };
        }
    }
    int Of(Id id) const { return count->count(id) ? count->at(id) : 0; }
    int Total() const {
        int total = 0;
        for (auto& [id, n] : *count) total += n;
        return total;
    }
};

void TestGeometry() {
    EXPECT_EQ("client width at 96", ClientSize(96).cx, 314);
    EXPECT_EQ("client height at 96", ClientSize(96).cy, 489);
    EXPECT_EQ("cmdOK at 96", ItemRect(ItemOf(Id::cmdOK), 96), (RECT{16, 456, 105, 481}));
    EXPECT_EQ("C key at 96", KeyRect(0, 96), (RECT{8, 184, 33, 265}));
    EXPECT_EQ("C sharp key at 96", KeyRect(1, 96), (RECT{24, 184, 41, 233}));
    const int whites[] = {0, 2, 4, 5, 7, 9, 11};
    for (int dpi : {96, 120, 144, 168, 192, 240, 288}) {
        const std::string at = " at " + std::to_string(dpi);
        for (int w = 0; w + 1 < 7; ++w) {
            RECT left = KeyRect(whites[w], dpi), right = KeyRect(whites[w + 1], dpi);
            EXPECT_EQ("white overlap of key " + Show(whites[w]) + at, left.right - right.left, 1);
        }
        for (int b : {1, 3, 6, 8, 10}) {
            RECT black = KeyRect(b, dpi), lower = KeyRect(b - 1, dpi), upper = KeyRect(b + 1, dpi);
            EXPECT_TRUE("black key " + Show(b) + " straddles its neighbours" + at,
                        black.left > lower.left && black.right < upper.right &&
                            black.left < lower.right && black.right > upper.left &&
                            black.bottom < lower.bottom);
        }
        RECT shadow = LineRect(0, dpi), light = LineRect(1, dpi);
        EXPECT_TRUE("separator lines touch" + at, light.top == shadow.bottom &&
                                                      shadow.bottom > shadow.top &&
                                                      light.bottom > light.top);
    }
}

void TestFilterList() {
    const struct {
        const wchar_t* in;
        std::wstring out;
    } cases[] = {
        {L"すべてのファイル(*.*)|*.*", std::wstring(L"すべてのファイル(*.*)\0*.*\0\0"sv)},
        {L"A|*.a|B|*.b;*.c", std::wstring(L"A\0*.a\0B\0*.b;*.c\0\0"sv)},
        {L"", L""},
    };
    for (const auto& c : cases) EXPECT_EQ("filter " + Utf8(c.in), MakeFilterList(c.in), c.out);
}

void TestWindowAndControls(Fixture& fx) {
    HWND dlg = fx.Dialog();
    EXPECT_TRUE("dialog open", dlg != nullptr);
    const LONG style = GetWindowLongW(dlg, GWL_STYLE), ex = GetWindowLongW(dlg, GWL_EXSTYLE);
    EXPECT_EQ("caption", Text(dlg), std::wstring(layout::kCaption));
    EXPECT_EQ("caption and system menu", style & (WS_CAPTION | WS_SYSMENU),
              WS_CAPTION | WS_SYSMENU);
    EXPECT_EQ("no sizing, minimise or maximise",
              style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0);
    EXPECT_TRUE("own task-bar button",
                (ex & WS_EX_APPWINDOW) && GetWindow(dlg, GW_OWNER) == nullptr);
    EXPECT_TRUE("small icon", SendMessageW(dlg, WM_GETICON, ICON_SMALL, 0) != 0);
    const int dpi = ScreenDpi();
    RECT client{};
    GetClientRect(dlg, &client);
    EXPECT_EQ("client size", client, (RECT{0, 0, ClientSize(dpi).cx, ClientSize(dpi).cy}));

    struct Expected {
        const wchar_t* cls;
        LONG mustHave, typeMask, type;
        bool tabStop;
    };
    auto expected = [](Kind kind) -> Expected {
        switch (kind) {
            case Kind::Label:
                return {L"Static", SS_NOPREFIX, 0, 0, false};
            case Kind::ListBox:
                return {L"ListBox", LBS_NOTIFY | WS_VSCROLL, LBS_SORT, 0, true};
            case Kind::Button:
                return {L"Button", 0, BS_TYPEMASK, BS_PUSHBUTTON, true};
            case Kind::Edit:
                return {L"Edit", ES_AUTOHSCROLL, 0, 0, true};
            case Kind::CheckBox:
                return {L"Button", 0, BS_TYPEMASK, BS_CHECKBOX, true};
            case Kind::DropDown:
                return {L"ComboBox", 0, CBS_DROPDOWNLIST, CBS_DROPDOWNLIST, true};
            case Kind::Key:
                return {L"VosselmarKey", WS_CLIPSIBLINGS, 0, 0, false};
            case Kind::Toggle:
                return {L"Button", BS_PUSHLIKE, BS_TYPEMASK, BS_CHECKBOX, true};
        }
        return {};
    };
    HFONT uiFont = reinterpret_cast<HFONT>(SendMessageW(fx.Ctl(Id::cmdOK), WM_GETFONT, 0, 0));
    for (const layout::Item& item : layout::kItems) {
        HWND h = fx.Ctl(item.id);
        const std::string name = Name(item.id);
        const Expected e = expected(item.kind);
        const LONG s = GetWindowLongW(h, GWL_STYLE);
        wchar_t cls[64] = {};
        GetClassNameW(h, cls, 64);
        EXPECT_TRUE(name + " class", _wcsicmp(cls, e.cls) == 0);
        EXPECT_EQ(name + " style", s & e.mustHave, e.mustHave);
        EXPECT_EQ(name + " type", s & e.typeMask, e.type);
        // The keyboard is one stop, on C until the arrows move it.
        EXPECT_EQ(name + " tab stop", (s & WS_TABSTOP) != 0, e.tabStop || item.id == Id::picKey0);
        RECT want = ItemRect(item, dpi);
        if (item.kind == Kind::DropDown) want.bottom = want.top + layout::ToPixels(300, dpi);
        EXPECT_EQ(name + " place", fx.ClientRectOf(item.id), want);
        if (item.kind != Kind::ListBox && item.kind != Kind::Edit && item.kind != Kind::DropDown) {
            EXPECT_EQ(name + " caption", Text(h), std::wstring(item.caption));
        }
        if (item.kind != Kind::ListBox && item.kind != Kind::Key) {
            EXPECT_TRUE(name + " dialog font",
                        reinterpret_cast<HFONT>(SendMessageW(h, WM_GETFONT, 0, 0)) == uiFont);
        }
        if (item.kind == Kind::Edit) {
            EXPECT_TRUE(name + " unlimited", SendMessageW(h, EM_GETLIMITTEXT, 0, 0) >= 0x7FFFFFFE);
        }
    }
    LOGFONTW lf{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(fx.Ctl(Id::lstCP), WM_GETFONT, 0, 0)),
               sizeof lf, &lf);
    EXPECT_EQ("list font face", std::wstring(lf.lfFaceName), std::wstring(layout::kListFontFace));
    EXPECT_EQ("list font height", lf.lfHeight, -MulDiv(9, dpi, 72));
    EXPECT_EQ("list font weight and charset", lf.lfWeight * 1000 + lf.lfCharSet, 400 * 1000 + 128);
}

// Black keys lie on the white ones: the window under each pixel is the key the layout says.
void TestKeyStacking(Fixture& fx) {
    const int dpi = ScreenDpi();
    int wrong = 0;
    for (int y = KeyRect(0, dpi).top; y < KeyRect(0, dpi).bottom; ++y) {
        for (int x = KeyRect(0, dpi).left; x < KeyRect(11, dpi).right; ++x) {
            HWND hit = ChildWindowFromPointEx(fx.Dialog(), POINT{x, y}, CWP_SKIPINVISIBLE);
            int got = GetDlgCtrlID(hit) - ControlId(Id::picKey0);
            // Pixel centres in twips; exact only at 96 DPI, so elsewhere just the middle of keys.
            int want = layout::KeyAt((x * 1440 + 720) / dpi, (y * 1440 + 720) / dpi);
            bool edge = dpi != 96 && (want != layout::KeyAt((x * 1440) / dpi, (y * 1440) / dpi) ||
                                      want != layout::KeyAt(((x + 1) * 1440 - 1) / dpi,
                                                            ((y + 1) * 1440 - 1) / dpi));
            if (got != want && !edge && wrong++ == 0) {
                EXPECT_EQ("key under pixel " + Show(x) + "," + Show(y), got, want);
            }
        }
    }
    EXPECT_EQ("pixels on the wrong key", wrong, 0);
}

void TestModelsToControls(Fixture& fx) {
    frmConfig& f = *fx.form;
    EXPECT_EQ("list lines", SendMessageW(fx.Ctl(Id::lstCP), LB_GETCOUNT, 0, 0), 20);
    EXPECT_EQ("list selection", SendMessageW(fx.Ctl(Id::lstCP), LB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ("path", Text(fx.Ctl(Id::txtPath)), f.WorkingCodes[0].Path);
    EXPECT_EQ("parameters", Text(fx.Ctl(Id::txtCommand)), f.WorkingCodes[0].Command);
    const std::pair<Id, int> selections[] = {
        {Id::cmbMIDev, 1}, {Id::cmbMODev, 0}, {Id::cmbPC, 0}, {Id::cmbSKey, 5}};
    for (auto [id, index] : selections)
        EXPECT_EQ(Name(id) + " selection", SendMessageW(fx.Ctl(id), CB_GETCURSEL, 0, 0), index);
    EXPECT_EQ("focus starts on OK", fx.Focused(), ControlId(Id::cmdOK));

    int changes = 0;
    auto change = f.txtCommand.Change;
    f.txtCommand.Change = [&] {
        ++changes;
        change();
    };
    f.txtCommand.SetText(L"--new");
    EXPECT_EQ("parameters set from code", Text(fx.Ctl(Id::txtCommand)), std::wstring(L"--new"));
    EXPECT_EQ("change handler runs once for a change from code", changes, 1);
    f.txtCommand.Change = change;

    f.chkMidiOut.SetValue(0);
    EXPECT_EQ("check box unchecked from code",
              SendMessageW(fx.Ctl(Id::chkMidiOut), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    for (Id id : {Id::cmbMODev, Id::cmbPC, Id::Label2, Id::Label3}) {
        EXPECT_EQ(Name(id) + " disabled", IsWindowEnabled(fx.Ctl(id)), FALSE);
    }
    f.chkMidiOut.SetValue(1);
    EXPECT_EQ(Name(Id::cmbPC) + " enabled again", IsWindowEnabled(fx.Ctl(Id::cmbPC)), TRUE);
}

void TestUserEdits(Fixture& fx) {
    frmConfig& f = *fx.form;
    HWND list = fx.Ctl(Id::lstCP), path = fx.Ctl(Id::txtPath);
    int pathChanges = 0, listClicks = 0;
    auto pathChange = f.txtPath.Change;
    auto listClick = f.lstCP.Click;
    f.txtPath.Change = [&] {
        ++pathChanges;
        pathChange();
    };
    f.lstCP.Click = [&] {
        ++listClicks;
        listClick();
    };

    // The user picks line 16 of a list scrolled to line 11.
    SendMessageW(list, LB_SETTOPINDEX, 10, 0);
    SendMessageW(list, LB_SETCURSEL, 15, 0);
    SendMessageW(fx.Dialog(), WM_COMMAND, MAKEWPARAM(ControlId(Id::lstCP), LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(list));
    EXPECT_EQ("selected entry", f.lstCP.ListIndex(), 15);
    EXPECT_EQ("path of the selected entry", Text(path), f.WorkingCodes[15].Path);

    // ... and types one character at the end of the path.
    pathChanges = listClicks = 0;
    SetFocus(path);
    const int end = GetWindowTextLengthW(path);
    SendMessageW(path, EM_SETSEL, end, end);
    SendMessageW(path, WM_CHAR, L'x', 1);
    const std::wstring typed = L"C:\\apps\\tool15.exex";
    EXPECT_EQ("typed path stored", f.WorkingCodes[15].Path, typed);
    wchar_t line[64] = {};
    SendMessageW(list, LB_GETTEXT, 15, reinterpret_cast<LPARAM>(line));
    EXPECT_EQ("line shows the typed path", std::wstring(line), L" 16  " + typed);
    EXPECT_EQ("selection kept", SendMessageW(list, LB_GETCURSEL, 0, 0), 15);
    EXPECT_EQ("scroll position kept", SendMessageW(list, LB_GETTOPINDEX, 0, 0), 10);
    DWORD from = 0, to = 0;
    SendMessageW(path, EM_GETSEL, reinterpret_cast<WPARAM>(&from), reinterpret_cast<LPARAM>(&to));
    EXPECT_EQ("caret after the typed character", static_cast<long long>(from) * 1000 + to,
              (end + 1) * 1001LL);
    EXPECT_EQ("path handler runs once per keystroke", pathChanges, 1);
    EXPECT_EQ("list handler runs once per keystroke", listClicks, 1);
    f.txtPath.Change = pathChange;
    f.lstCP.Click = listClick;

    // Keys: a press and release on E toggles it; a release elsewhere does not.
    const std::int32_t before = f.WorkingCodes[15].Code;
    HWND e = fx.Ctl(Id::picKey4);
    UpdateWindow(e);
    SendMessageW(e, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 60));
    SendMessageW(e, WM_LBUTTONUP, 0, MAKELPARAM(3, 60));
    EXPECT_EQ("key click toggles E", f.WorkingCodes[15].Code, before ^ 0x10);
    EXPECT_EQ("E turns red", f.picKey[4].BackColor(), layout::kRed);
    RECT dirty{};
    EXPECT_TRUE("E is repainted", GetUpdateRect(e, &dirty, FALSE));
    SendMessageW(e, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 60));
    SendMessageW(e, WM_LBUTTONUP, 0, MAKELPARAM(-20, 60));
    EXPECT_EQ("release off the key does nothing", f.WorkingCodes[15].Code, before ^ 0x10);

    // Check boxes show the value the model took, and the handler decides what is enabled.
    for (int round = 0; round < 2; ++round) {
        SendMessageW(fx.Ctl(Id::chkShortcut), BM_CLICK, 0, 0);
        const bool on = round == 1;
        EXPECT_EQ("shortcut value", f.chkShortcut.Value(), on ? 1 : 0);
        EXPECT_EQ("shortcut box", SendMessageW(fx.Ctl(Id::chkShortcut), BM_GETCHECK, 0, 0),
                  on ? BST_CHECKED : BST_UNCHECKED);
        for (Id id : {Id::chkShift, Id::chkCtrl, Id::chkAlt, Id::cmbSKey}) {
            EXPECT_EQ(Name(id) + " follows the shortcut box", IsWindowEnabled(fx.Ctl(id)) != FALSE,
                      on);
        }
    }
    // A drop-down choice reaches the model and raises nothing.
    SendMessageW(fx.Ctl(Id::cmbPC), CB_SETCURSEL, 40, 0);
    SendMessageW(fx.Dialog(), WM_COMMAND, MAKEWPARAM(ControlId(Id::cmbPC), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(fx.Ctl(Id::cmbPC)));
    EXPECT_EQ("instrument chosen", f.cmbPC.ListIndex(), 40);
}

void TestKeyboard(Fixture& fx) {
    ButtonCounters counters(*fx.form);
    int learnClicks = 0;
    fx.form->chkLearn.Click = [&] { ++learnClicks; };
    // Tab walks the tab indexes; the labels take no focus, the keys are one stop.
    SetFocus(fx.Ctl(Id::cmdOK));
    std::vector<int> want;
    for (const layout::Item& item : layout::kItems) {
        if (item.kind == Kind::Label || (item.kind == Kind::Key && item.id != Id::picKey0)) continue;
        want.push_back(ControlId(item.id));
    }
    want.push_back(ControlId(Id::cmdOK));
    for (std::size_t i = 1; i < want.size(); ++i) {
        fx.Key(WM_KEYDOWN, VK_TAB);
        EXPECT_EQ("Tab step " + Show(static_cast<long long>(i)), fx.Focused(), want[i]);
    }
    // Neither Enter nor Esc presses anything, wherever the focus is.
    for (Id id : {Id::cmdOK, Id::cmdCancel, Id::txtPath, Id::txtCommand, Id::lstCP, Id::cmbPC}) {
        SetFocus(fx.Ctl(id));
        fx.Key(WM_KEYDOWN, VK_RETURN);
        fx.Key(WM_KEYDOWN, VK_ESCAPE);
        EXPECT_EQ("Enter and Esc on " + Name(id), counters.Total(), 0);
    }
    for (Id id : {Id::cmdOK, Id::cmdCancel, Id::cmdHelp, Id::cmdAdd}) {
        EXPECT_EQ(Name(id) + " never becomes the default button",
                  GetWindowLongW(fx.Ctl(id), GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON);
    }
    // Alt with the underlined letter presses the button.
    const std::pair<wchar_t, Id> keys[] = {{L'a', Id::cmdAdd},    {L'd', Id::cmdDel},
                                           {L'r', Id::cmdSansyo}, {L'o', Id::cmdOK},
                                           {L'c', Id::cmdCancel}, {L'h', Id::cmdHelp}};
    SetFocus(fx.Ctl(Id::txtPath));
    for (auto [letter, id] : keys) {
        const int before = counters.Of(id);
        fx.Key(WM_SYSCHAR, letter);
        EXPECT_EQ(std::string("Alt+") + static_cast<char>(letter) + " presses " + Name(id),
                  counters.Of(id), before + 1);
    }
    EXPECT_EQ("access keys press nothing else", counters.Total(), 6);
    fx.Key(WM_SYSCHAR, L'l');
    EXPECT_EQ("Alt+L clicks the learning toggle", learnClicks, 1);

    // On the keys: the arrows move, Space toggles the key with the focus, Tab leaves and comes
    // back to the same key.
    const auto selected = static_cast<std::size_t>(fx.form->lstCP.ListIndex());
    const std::int32_t code = fx.form->WorkingCodes[selected].Code;
    SetFocus(fx.Ctl(Id::picKey0));
    const struct {
        UINT message;
        WPARAM key;
        Id focus;
        std::int32_t code;
    } steps[] = {
        {WM_KEYDOWN, VK_LEFT, Id::picKey0, code},        {WM_KEYDOWN, VK_RIGHT, Id::picKey1, code},
        {WM_KEYDOWN, VK_SPACE, Id::picKey1, code ^ 2},   {WM_KEYDOWN, VK_END, Id::picKey11, code ^ 2},
        {WM_KEYDOWN, VK_RIGHT, Id::picKey11, code ^ 2},  {WM_KEYDOWN, VK_UP, Id::picKey10, code ^ 2},
        {WM_KEYDOWN, VK_SPACE, Id::picKey10, code ^ 0x402}, {WM_KEYDOWN, VK_TAB, Id::chkLearn, code ^ 0x402},
        {WM_KEYDOWN, VK_HOME, Id::chkLearn, code ^ 0x402},
    };
    for (const auto& step : steps) {
        fx.Key(step.message, step.key);
        EXPECT_EQ("key " + Show(static_cast<long long>(step.key)) + " focus", fx.Focused(),
                  ControlId(step.focus));
        EXPECT_EQ("key " + Show(static_cast<long long>(step.key)) + " code",
                  fx.form->WorkingCodes[selected].Code, step.code);
    }
    EXPECT_EQ("A# shows its new state", fx.form->picKey[10].BackColor(),
              (code & 0x400) ? layout::kBlack : layout::kRed);
    SetFocus(fx.Ctl(Id::txtPath));
    fx.Key(WM_KEYDOWN, VK_TAB);
    fx.Key(WM_KEYDOWN, VK_TAB);
    EXPECT_EQ("Tab comes back to the key left last", fx.Focused(), ControlId(Id::picKey10));
}

void TestDpiChange(Fixture& fx) {
    RECT suggested{50, 60, 50 + 480, 60 + 760};
    SendMessageW(fx.Dialog(), WM_DPICHANGED, MAKEWPARAM(144, 144),
                 reinterpret_cast<LPARAM>(&suggested));
    RECT client{};
    GetClientRect(fx.Dialog(), &client);
    EXPECT_EQ("client at 144", client, (RECT{0, 0, ClientSize(144).cx, ClientSize(144).cy}));
    for (Id id : {Id::cmdOK, Id::lstCP, Id::picKey1, Id::picKey11, Id::txtCommand}) {
        EXPECT_EQ(Name(id) + " at 144", fx.ClientRectOf(id), ItemRect(ItemOf(id), 144));
    }
    RECT combo = fx.ClientRectOf(Id::cmbMIDev);
    EXPECT_EQ("closed drop-down height at 144", combo.bottom - combo.top,
              layout::ToPixels(300, 144));
    RECT dropped{};
    SendMessageW(fx.Ctl(Id::cmbMIDev), CB_GETDROPPEDCONTROLRECT, 0,
                 reinterpret_cast<LPARAM>(&dropped));
    const LRESULT line = SendMessageW(fx.Ctl(Id::cmbMIDev), CB_GETITEMHEIGHT, 0, 0);
    // Windows reports the box and its list together, Wine the list alone.
    EXPECT_TRUE("opened drop-down shows ten lines", dropped.bottom - dropped.top >= 10 * line);
    LOGFONTW lf{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(fx.Ctl(Id::lstCP), WM_GETFONT, 0, 0)),
               sizeof lf, &lf);
    EXPECT_EQ("list font at 144", lf.lfHeight, -18);

    // The toggle's caption fits inside its button's frame at every usual scaling.
    for (int dpi : {96, 120, 144, 192}) {
        SendMessageW(fx.Dialog(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                     reinterpret_cast<LPARAM>(&suggested));
        HWND toggle = fx.Ctl(Id::chkLearn);
        HDC dc = GetDC(toggle);
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(toggle, WM_GETFONT, 0, 0)));
        RECT text{};
        const std::wstring caption(ItemOf(Id::chkLearn).caption);
        DrawTextW(dc, caption.c_str(), -1, &text, DT_CALCRECT | DT_SINGLELINE);
        SelectObject(dc, old);
        ReleaseDC(toggle, dc);
        RECT face{};
        GetClientRect(toggle, &face);
        const int frame = MulDiv(3, dpi, 96);  // edges and the focus rectangle
        EXPECT_TRUE("toggle caption fits at " + Show(dpi) + " DPI",
                    text.right + 2 * frame <= face.right && text.bottom + 2 * frame <= face.bottom);
    }
}

void TestUnloading() {
    {
        Fixture fx;
        ButtonCounters counters(*fx.form);
        HWND first = fx.Dialog();
        fx.host.ShowConfigModeless();
        EXPECT_TRUE("a second show keeps the open window", fx.Dialog() == first);
        frmConfig* form = fx.form;
        SendMessageW(first, WM_CLOSE, 0, 0);
        EXPECT_TRUE("close box unloads", !fx.app.Config && !fx.app.ConfigUnloaded.empty() && fx.app.ConfigUnloaded.back().get() == form);
        EXPECT_TRUE("window gone", !IsWindow(first) && fx.Dialog() == nullptr);
        EXPECT_EQ("close box runs no handler", counters.Total(), 0);
        EXPECT_TRUE("models let go of the window",
                    !form->txtPath.Updated && !form->picKey[3].Updated);
        form->txtPath.SetText(L"after");  // must not reach the destroyed window
    }
    {
        // Cancel unloads from inside its own handler; the window procedure returns through a
        // destroyed window.
        Fixture fx;
        HWND window = fx.Dialog();
        SendMessageW(fx.Ctl(Id::cmdCancel), BM_CLICK, 0, 0);
        EXPECT_TRUE("Cancel unloads", !fx.app.Config && !IsWindow(window));
        // A new opening gets a new window.
        fx.Load();
        fx.host.ShowConfigModeless();
        EXPECT_TRUE("reopened", fx.Dialog() != nullptr && fx.Dialog() != window);
        // Modal: returns once the window has gone.
        PostMessageW(fx.Dialog(), WM_CLOSE, 0, 0);
        fx.host.ShowConfigModal();
        EXPECT_TRUE("modal returns after the close box", !fx.app.Config && fx.Dialog() == nullptr);
        // Modal: a quit message ends it and is handed on.
        fx.Load();
        PostQuitMessage(7);
        fx.host.ShowConfigModal();
        EXPECT_TRUE("modal returns on quit with the window open", fx.Dialog() != nullptr);
        MSG msg{};
        EXPECT_TRUE("quit handed on",
                    PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) && msg.wParam == 7);
        UnloadConfigDialog(fx.app);
    }
}

}  // namespace

int wmain() {
    TestGeometry();
    TestFilterList();
    {
        Fixture fx;
        TestWindowAndControls(fx);
        TestKeyStacking(fx);
        TestModelsToControls(fx);
        TestUserEdits(fx);
        TestKeyboard(fx);
        TestDpiChange(fx);
        UnloadConfigDialog(fx.app);
    }
    TestUnloading();
    std::printf("%s: %d failed check%s\n", failures ? "FAIL" : "ok", failures,
                failures == 1 ? "" : "s");
    return failures;
}
