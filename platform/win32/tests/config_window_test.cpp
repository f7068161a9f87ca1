// The configuration dialog's window against real controls: geometry, the model bindings, the
// keyboard through the dialog manager, and unloading. Needs a desktop (Wine in an X server does).
#include "config_window.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/app.h"
#include "config_dialog/frmConfig.h"
#include "config_dialog/layout.h"
#include "win32_host.h"

// Found by argument-dependent lookup, so RECTs compare and print in GoogleTest's checks.
bool operator==(const RECT& a, const RECT& b) { return EqualRect(&a, &b) != FALSE; }
void PrintTo(const RECT& r, std::ostream* os) {
    *os << '{' << r.left << ',' << r.top << ',' << r.right << ',' << r.bottom << '}';
}

using namespace std::literals;
using namespace vos;
using namespace vos::win32;
using layout::Id;
using layout::Kind;

namespace {

std::string Utf8(const std::wstring& s) {
    std::string out(s.size() * 3, '\0');
    out.resize(static_cast<std::size_t>(
        WideCharToMultiByte(CP_UTF8, 0, s.c_str(), static_cast<int>(s.size()), out.data(),
                            static_cast<int>(out.size()), nullptr, nullptr)));
    return out;
}
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
RECT Client(int dpi) { return RECT{0, 0, ClientSize(dpi).cx, ClientSize(dpi).cy}; }

// Counts the calls of a model's handler, which still runs, until the end of the scope.
class CallCounter {
public:
    explicit CallCounter(std::function<void()>& handler) : handler_(handler), saved_(handler) {
        handler_ = [this] {
            ++calls;
            saved_();
        };
    }
    ~CallCounter() { handler_ = saved_; }
    CallCounter(const CallCounter&) = delete;
    CallCounter& operator=(const CallCounter&) = delete;
    int calls = 0;

private:
    std::function<void()>& handler_;
    std::function<void()> saved_;
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

TEST(Layout, Geometry) {
    EXPECT_EQ(ClientSize(96).cx, 314);
    EXPECT_EQ(ClientSize(96).cy, 489);
    EXPECT_EQ(ItemRect(ItemOf(Id::cmdOK), 96), (RECT{16, 456, 105, 481}));
    EXPECT_EQ(KeyRect(0, 96), (RECT{8, 184, 33, 265})) << "C";
    EXPECT_EQ(KeyRect(1, 96), (RECT{24, 184, 41, 233})) << "C sharp";
    const int whites[] = {0, 2, 4, 5, 7, 9, 11};
    for (int dpi : {96, 120, 144, 168, 192, 240, 288}) {
        SCOPED_TRACE("at " + std::to_string(dpi) + " DPI");
        for (int w = 0; w + 1 < 7; ++w) {
            RECT left = KeyRect(whites[w], dpi), right = KeyRect(whites[w + 1], dpi);
            EXPECT_EQ(left.right - right.left, 1) << "white overlap of key " << whites[w];
        }
        for (int b : {1, 3, 6, 8, 10}) {
            RECT black = KeyRect(b, dpi), lower = KeyRect(b - 1, dpi), upper = KeyRect(b + 1, dpi);
            EXPECT_TRUE(black.left > lower.left && black.right < upper.right &&
                        black.left < lower.right && black.right > upper.left &&
                        black.bottom < lower.bottom)
                << "black key " << b << " straddles its neighbours";
        }
        RECT shadow = LineRect(0, dpi), light = LineRect(1, dpi);
        EXPECT_TRUE(light.top == shadow.bottom && shadow.bottom > shadow.top &&
                    light.bottom > light.top)
            << "separator lines touch";
    }
}

TEST(Layout, FilterList) {
    const struct {
        const wchar_t* in;
        std::wstring out;
    } cases[] = {
        {L"すべてのファイル(*.*)|*.*", std::wstring(L"すべてのファイル(*.*)\0*.*\0\0"sv)},
        {L"A|*.a|B|*.b;*.c", std::wstring(L"A\0*.a\0B\0*.b;*.c\0\0"sv)},
        {L"", L""},
    };
    for (const auto& c : cases) EXPECT_EQ(MakeFilterList(c.in), c.out) << Utf8(c.in);
}

// A dialog as LoadConfigDialog would leave it: twenty entries, devices, instruments and keys.
class ConfigWindow : public ::testing::Test {
protected:
    Winmm winmm;
    Win32Host host{GetModuleHandleW(nullptr), winmm};
    App app{host};
    frmConfig* form = nullptr;

    ConfigWindow() {
        host.Attach(&app);
        Load();
        host.ShowConfigModeless();
    }
    ~ConfigWindow() override {
        if (app.Config) UnloadConfigDialog(app);
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
    // held: an auto-repeat of a key already down (lParam's bit 30).
    void Key(UINT message, WPARAM key, bool held = false) {
        MSG msg{GetFocus(), message, key, held ? 1 | 1 << 30 : 1, 0, {}};
        if (!host.RouteDialogMessage(msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        host.DoEvents();
    }
    int Focused() const { return GetDlgCtrlID(GetFocus()); }
    // Every caption, in its control's font, fits inside the control at each usual scaling, once
    // what the control draws around its text is taken off: a button's edges and focus rectangle,
    // a check box's box and the gap after it.
    void ExpectCaptionsFit() {
        RECT suggested{50, 60, 50 + 480, 60 + 760};
        for (int dpi : {96, 120, 144, 192}) {
            SendMessageW(Dialog(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                         reinterpret_cast<LPARAM>(&suggested));
            for (const layout::Item& item : layout::kItems) {
                int aroundX = 0, aroundY = 0;
                if (item.kind == Kind::Button || item.kind == Kind::Toggle) {
                    aroundX = aroundY = 2 * MulDiv(3, dpi, 96);
                } else if (item.kind == Kind::CheckBox) {
                    aroundX = MulDiv(13 + 5, dpi, 96);
                } else if (item.kind != Kind::Label) {
                    continue;
                }
                HWND h = Ctl(item.id);
                const std::wstring caption = Text(h);
                HDC dc = GetDC(h);
                HGDIOBJ old =
                    SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(h, WM_GETFONT, 0, 0)));
                RECT text{};
                DrawTextW(
                    dc, caption.c_str(), -1, &text,
                    DT_CALCRECT | DT_SINGLELINE | (item.kind == Kind::Label ? DT_NOPREFIX : 0));
                SelectObject(dc, old);
                ReleaseDC(h, dc);
                RECT face{};
                GetClientRect(h, &face);
                EXPECT_TRUE(text.right + aroundX <= face.right &&
                            text.bottom + aroundY <= face.bottom)
                    << Name(item.id) << " \"" << Utf8(caption) << "\" needs "
                    << text.right + aroundX << "x" << text.bottom + aroundY << " in " << face.right
                    << "x" << face.bottom << " at " << dpi << " DPI";
            }
        }
    }
    LOGFONTW ListFont() const {
        LOGFONTW lf{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(Ctl(Id::lstCP), WM_GETFONT, 0, 0)),
                   sizeof lf, &lf);
        return lf;
    }
};

TEST_F(ConfigWindow, WindowAndControls) {
    HWND dlg = Dialog();
    ASSERT_NE(dlg, nullptr) << "dialog open";
    const LONG style = GetWindowLongW(dlg, GWL_STYLE), ex = GetWindowLongW(dlg, GWL_EXSTYLE);
    EXPECT_EQ(Text(dlg), std::wstring(layout::kCaption));
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU), WS_CAPTION | WS_SYSMENU);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0)
        << "no sizing, minimise or maximise";
    EXPECT_TRUE((ex & WS_EX_APPWINDOW) && GetWindow(dlg, GW_OWNER) == nullptr)
        << "own task-bar button";
    EXPECT_NE(SendMessageW(dlg, WM_GETICON, ICON_SMALL, 0), 0) << "small icon";
    const int dpi = ScreenDpi();
    RECT client{};
    GetClientRect(dlg, &client);
    EXPECT_EQ(client, Client(dpi));

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
    HFONT uiFont = reinterpret_cast<HFONT>(SendMessageW(Ctl(Id::cmdOK), WM_GETFONT, 0, 0));
    for (const layout::Item& item : layout::kItems) {
        SCOPED_TRACE(Name(item.id));
        HWND h = Ctl(item.id);
        const Expected e = expected(item.kind);
        const LONG s = GetWindowLongW(h, GWL_STYLE);
        wchar_t cls[64] = {};
        GetClassNameW(h, cls, 64);
        EXPECT_EQ(_wcsicmp(cls, e.cls), 0) << "class " << Utf8(cls);
        EXPECT_EQ(s & e.mustHave, e.mustHave) << "style";
        EXPECT_EQ(s & e.typeMask, e.type) << "type";
        // The keyboard is one stop, on C until the arrows move it.
        EXPECT_EQ((s & WS_TABSTOP) != 0, e.tabStop || item.id == Id::picKey0) << "tab stop";
        RECT want = ItemRect(item, dpi);
        if (item.kind == Kind::DropDown) want.bottom = want.top + layout::ToPixels(300, dpi);
        EXPECT_EQ(ClientRectOf(item.id), want) << "place";
        if (item.kind != Kind::ListBox && item.kind != Kind::Edit && item.kind != Kind::DropDown) {
            EXPECT_EQ(Text(h), std::wstring(item.caption)) << "caption";
        }
        if (item.kind != Kind::ListBox && item.kind != Kind::Key) {
            EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(h, WM_GETFONT, 0, 0)), uiFont)
                << "dialog font";
        }
        if (item.kind == Kind::Edit) {
            EXPECT_GE(SendMessageW(h, EM_GETLIMITTEXT, 0, 0), 0x7FFFFFFE) << "unlimited";
        }
    }
    const LOGFONTW lf = ListFont();
    EXPECT_EQ(std::wstring(lf.lfFaceName), std::wstring(layout::kListFontFace));
    EXPECT_EQ(lf.lfHeight, -MulDiv(9, dpi, 72));
    EXPECT_EQ(lf.lfWeight, 400);
    EXPECT_EQ(lf.lfCharSet, SHIFTJIS_CHARSET);
}

// Black keys lie on the white ones: the window under each pixel is the key the layout says.
TEST_F(ConfigWindow, KeyStacking) {
    const int dpi = ScreenDpi();
    int wrong = 0;
    for (int y = KeyRect(0, dpi).top; y < KeyRect(0, dpi).bottom; ++y) {
        for (int x = KeyRect(0, dpi).left; x < KeyRect(11, dpi).right; ++x) {
            HWND hit = ChildWindowFromPointEx(Dialog(), POINT{x, y}, CWP_SKIPINVISIBLE);
            int got = GetDlgCtrlID(hit) - ControlId(Id::picKey0);
            // Pixel centres in twips; exact only at 96 DPI, so elsewhere just the middle of keys.
            int want = layout::KeyAt((x * 1440 + 720) / dpi, (y * 1440 + 720) / dpi);
            bool edge = dpi != 96 && (want != layout::KeyAt((x * 1440) / dpi, (y * 1440) / dpi) ||
                                      want != layout::KeyAt(((x + 1) * 1440 - 1) / dpi,
                                                            ((y + 1) * 1440 - 1) / dpi));
            if (got != want && !edge && wrong++ == 0) {
                EXPECT_EQ(got, want) << "key under pixel " << x << "," << y;
            }
        }
    }
    EXPECT_EQ(wrong, 0) << "pixels on the wrong key";
}

TEST_F(ConfigWindow, ModelsToControls) {
    frmConfig& f = *form;
    EXPECT_EQ(SendMessageW(Ctl(Id::lstCP), LB_GETCOUNT, 0, 0), 20) << "list lines";
    EXPECT_EQ(SendMessageW(Ctl(Id::lstCP), LB_GETCURSEL, 0, 0), 0) << "list selection";
    EXPECT_EQ(Text(Ctl(Id::txtPath)), f.WorkingCodes[0].Path);
    EXPECT_EQ(Text(Ctl(Id::txtCommand)), f.WorkingCodes[0].Command);
    const std::pair<Id, int> selections[] = {
        {Id::cmbMIDev, 1}, {Id::cmbMODev, 0}, {Id::cmbPC, 0}, {Id::cmbSKey, 5}};
    for (auto [id, index] : selections)
        EXPECT_EQ(SendMessageW(Ctl(id), CB_GETCURSEL, 0, 0), index) << Name(id) << " selection";
    EXPECT_EQ(Focused(), ControlId(Id::cmdOK)) << "focus starts on OK";

    {
        CallCounter changes(f.txtCommand.Change);
        f.txtCommand.SetText(L"--new");
        EXPECT_EQ(Text(Ctl(Id::txtCommand)), L"--new"s) << "parameters set from code";
        EXPECT_EQ(changes.calls, 1) << "change handler runs once for a change from code";
    }

    f.chkMidiOut.SetValue(0);
    EXPECT_EQ(SendMessageW(Ctl(Id::chkMidiOut), BM_GETCHECK, 0, 0), BST_UNCHECKED)
        << "check box unchecked from code";
    for (Id id : {Id::cmbMODev, Id::cmbPC, Id::Label2, Id::Label3}) {
        EXPECT_FALSE(IsWindowEnabled(Ctl(id))) << Name(id) << " disabled";
    }
    f.chkMidiOut.SetValue(1);
    EXPECT_TRUE(IsWindowEnabled(Ctl(Id::cmbPC))) << Name(Id::cmbPC) << " enabled again";
}

TEST_F(ConfigWindow, UserEdits) {
    frmConfig& f = *form;
    HWND list = Ctl(Id::lstCP), path = Ctl(Id::txtPath);

    // The user picks line 16 of a list scrolled to line 11.
    SendMessageW(list, LB_SETTOPINDEX, 10, 0);
    SendMessageW(list, LB_SETCURSEL, 15, 0);
    SendMessageW(Dialog(), WM_COMMAND, MAKEWPARAM(ControlId(Id::lstCP), LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(list));
    EXPECT_EQ(f.lstCP.ListIndex(), 15) << "selected entry";
    EXPECT_EQ(Text(path), f.WorkingCodes[15].Path) << "path of the selected entry";

    // ... and types one character at the end of the path.
    {
        CallCounter pathChanges(f.txtPath.Change), listClicks(f.lstCP.Click);
        SetFocus(path);
        const int end = GetWindowTextLengthW(path);
        SendMessageW(path, EM_SETSEL, end, end);
        SendMessageW(path, WM_CHAR, L'x', 1);
        const std::wstring typed = L"C:\\apps\\tool15.exex";
        EXPECT_EQ(f.WorkingCodes[15].Path, typed) << "typed path stored";
        wchar_t line[64] = {};
        SendMessageW(list, LB_GETTEXT, 15, reinterpret_cast<LPARAM>(line));
        EXPECT_EQ(std::wstring(line), L" 16  " + typed) << "line shows the typed path";
        EXPECT_EQ(SendMessageW(list, LB_GETCURSEL, 0, 0), 15) << "selection kept";
        EXPECT_EQ(SendMessageW(list, LB_GETTOPINDEX, 0, 0), 10) << "scroll position kept";
        DWORD from = 0, to = 0;
        SendMessageW(path, EM_GETSEL, reinterpret_cast<WPARAM>(&from),
                     reinterpret_cast<LPARAM>(&to));
        EXPECT_EQ(from, static_cast<DWORD>(end + 1)) << "caret after the typed character";
        EXPECT_EQ(to, static_cast<DWORD>(end + 1)) << "caret after the typed character";
        EXPECT_EQ(pathChanges.calls, 1) << "path handler runs once per keystroke";
        EXPECT_EQ(listClicks.calls, 1) << "list handler runs once per keystroke";
    }

    // Keys: a press and release on E toggles it; a release elsewhere does not.
    const std::int32_t before = f.WorkingCodes[15].Code;
    HWND e = Ctl(Id::picKey4);
    UpdateWindow(e);
    SendMessageW(e, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 60));
    SendMessageW(e, WM_LBUTTONUP, 0, MAKELPARAM(3, 60));
    EXPECT_EQ(f.WorkingCodes[15].Code, before ^ 0x10) << "key click toggles E";
    EXPECT_EQ(f.picKey[4].BackColor(), layout::kRed) << "E turns red";
    RECT dirty{};
    EXPECT_TRUE(GetUpdateRect(e, &dirty, FALSE)) << "E is repainted";
    SendMessageW(e, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 60));
    SendMessageW(e, WM_LBUTTONUP, 0, MAKELPARAM(-20, 60));
    EXPECT_EQ(f.WorkingCodes[15].Code, before ^ 0x10) << "release off the key does nothing";

    // Check boxes show the value the model took, and the handler decides what is enabled.
    for (bool on : {false, true}) {
        SCOPED_TRACE(on ? "shortcut clicked on" : "shortcut clicked off");
        SendMessageW(Ctl(Id::chkShortcut), BM_CLICK, 0, 0);
        EXPECT_EQ(f.chkShortcut.Value(), on ? 1 : 0);
        EXPECT_EQ(SendMessageW(Ctl(Id::chkShortcut), BM_GETCHECK, 0, 0),
                  on ? BST_CHECKED : BST_UNCHECKED);
        for (Id id : {Id::chkShift, Id::chkCtrl, Id::chkAlt, Id::cmbSKey}) {
            EXPECT_EQ(IsWindowEnabled(Ctl(id)) != FALSE, on)
                << Name(id) << " follows the shortcut box";
        }
    }
    // A drop-down choice reaches the model and raises nothing.
    SendMessageW(Ctl(Id::cmbPC), CB_SETCURSEL, 40, 0);
    SendMessageW(Dialog(), WM_COMMAND, MAKEWPARAM(ControlId(Id::cmbPC), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(Ctl(Id::cmbPC)));
    EXPECT_EQ(f.cmbPC.ListIndex(), 40) << "instrument chosen";
}

TEST_F(ConfigWindow, Keyboard) {
    ButtonCounters counters(*form);
    int learnClicks = 0;
    form->chkLearn.Click = [&] { ++learnClicks; };
    // Tab walks the tab indexes; the labels take no focus, the keys are one stop.
    SetFocus(Ctl(Id::cmdOK));
    std::vector<int> want;
    for (const layout::Item& item : layout::kItems) {
        if (item.kind == Kind::Label || (item.kind == Kind::Key && item.id != Id::picKey0)) continue;
        want.push_back(ControlId(item.id));
    }
    want.push_back(ControlId(Id::cmdOK));
    for (std::size_t i = 1; i < want.size(); ++i) {
        Key(WM_KEYDOWN, VK_TAB);
        EXPECT_EQ(Focused(), want[i]) << "Tab step " << i;
    }
    // Neither Enter nor Esc presses anything, wherever the focus is.
    for (Id id : {Id::cmdOK, Id::cmdCancel, Id::txtPath, Id::txtCommand, Id::lstCP, Id::cmbPC}) {
        SetFocus(Ctl(id));
        Key(WM_KEYDOWN, VK_RETURN);
        Key(WM_KEYDOWN, VK_ESCAPE);
        EXPECT_EQ(counters.Total(), 0) << "Enter and Esc on " << Name(id);
    }
    for (Id id : {Id::cmdOK, Id::cmdCancel, Id::cmdHelp, Id::cmdAdd}) {
        EXPECT_EQ(GetWindowLongW(Ctl(id), GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON)
            << Name(id) << " never becomes the default button";
    }
    // Alt with the underlined letter presses the button.
    const std::pair<wchar_t, Id> keys[] = {{L'a', Id::cmdAdd},    {L'd', Id::cmdDel},
                                           {L'r', Id::cmdSansyo}, {L'o', Id::cmdOK},
                                           {L'c', Id::cmdCancel}, {L'h', Id::cmdHelp}};
    SetFocus(Ctl(Id::txtPath));
    for (auto [letter, id] : keys) {
        const int before = counters.Of(id);
        Key(WM_SYSCHAR, letter);
        EXPECT_EQ(counters.Of(id), before + 1)
            << "Alt+" << static_cast<char>(letter) << " presses " << Name(id);
    }
    EXPECT_EQ(counters.Total(), 6) << "access keys press nothing else";
    Key(WM_SYSCHAR, L'l');
    EXPECT_EQ(learnClicks, 1) << "Alt+L clicks the learning toggle";

    // On the keys: the arrows move, Space toggles the key with the focus (a held Space once), Tab
    // leaves and comes back to the same key.
    const auto selected = static_cast<std::size_t>(form->lstCP.ListIndex());
    const std::int32_t code = form->WorkingCodes[selected].Code;
    SetFocus(Ctl(Id::picKey0));
    const struct {
        WPARAM key;
        Id focus;
        std::int32_t code;
        bool held = false;
    } steps[] = {
        {VK_LEFT, Id::picKey0, code},           {VK_RIGHT, Id::picKey1, code},
        {VK_SPACE, Id::picKey1, code ^ 2},      {VK_SPACE, Id::picKey1, code ^ 2, true},
        {VK_END, Id::picKey11, code ^ 2},       {VK_RIGHT, Id::picKey11, code ^ 2},
        {VK_UP, Id::picKey10, code ^ 2},        {VK_SPACE, Id::picKey10, code ^ 0x402},
        {VK_TAB, Id::chkLearn, code ^ 0x402},   {VK_HOME, Id::chkLearn, code ^ 0x402},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE("virtual key " + std::to_string(step.key));
        Key(WM_KEYDOWN, step.key, step.held);
        EXPECT_EQ(Focused(), ControlId(step.focus)) << "focus";
        EXPECT_EQ(form->WorkingCodes[selected].Code, step.code) << "code";
    }
    EXPECT_EQ(form->picKey[10].BackColor(), (code & 0x400) ? layout::kBlack : layout::kRed)
        << "A# shows its new state";
    SetFocus(Ctl(Id::txtPath));
    Key(WM_KEYDOWN, VK_TAB);
    Key(WM_KEYDOWN, VK_TAB);
    EXPECT_EQ(Focused(), ControlId(Id::picKey10)) << "Tab comes back to the key left last";
}

TEST_F(ConfigWindow, DpiChange) {
    RECT suggested{50, 60, 50 + 480, 60 + 760};
    SendMessageW(Dialog(), WM_DPICHANGED, MAKEWPARAM(144, 144),
                 reinterpret_cast<LPARAM>(&suggested));
    RECT client{};
    GetClientRect(Dialog(), &client);
    EXPECT_EQ(client, Client(144));
    for (Id id : {Id::cmdOK, Id::lstCP, Id::picKey1, Id::picKey11, Id::txtCommand}) {
        EXPECT_EQ(ClientRectOf(id), ItemRect(ItemOf(id), 144)) << Name(id) << " at 144";
    }
    RECT combo = ClientRectOf(Id::cmbMIDev);
    EXPECT_EQ(combo.bottom - combo.top, layout::ToPixels(300, 144))
        << "closed drop-down height at 144";
    RECT dropped{};
    SendMessageW(Ctl(Id::cmbMIDev), CB_GETDROPPEDCONTROLRECT, 0,
                 reinterpret_cast<LPARAM>(&dropped));
    const LRESULT line = SendMessageW(Ctl(Id::cmbMIDev), CB_GETITEMHEIGHT, 0, 0);
    // Windows reports the box and its list together, Wine the list alone.
    EXPECT_GE(dropped.bottom - dropped.top, 10 * line) << "opened drop-down shows ten lines";
    EXPECT_EQ(ListFont().lfHeight, -18) << "list font at 144";

    ExpectCaptionsFit();
}

// The dialog as a user of the English face sees it: its captions, the code list's fixed-pitch
// face, and every caption within the same rectangles as the Japanese ones.
struct SpeakingEnglish {
    SpeakingEnglish() { SetLanguage(Language::English); }
    ~SpeakingEnglish() { SetLanguage(Language::Japanese); }
};
class EnglishConfigWindow : private SpeakingEnglish, public ConfigWindow {};

TEST_F(EnglishConfigWindow, CaptionsFontsAndFit) {
    EXPECT_EQ(Text(Dialog()), std::wstring(layout::kCaptionEnglish));
    for (const layout::Item& item : layout::kItems) {
        if (item.kind == Kind::ListBox || item.kind == Kind::Edit || item.kind == Kind::DropDown)
            continue;
        EXPECT_EQ(Text(Ctl(item.id)), std::wstring(item.captionEnglish)) << Name(item.id);
    }
    const LOGFONTW lf = ListFont();
    const std::wstring face(lf.lfFaceName);
    EXPECT_TRUE(face == layout::kListFontFaceEnglish || face == layout::kListFontFallbackEnglish)
        << Utf8(face);
    EXPECT_EQ(lf.lfCharSet, DEFAULT_CHARSET);
    EXPECT_EQ(lf.lfHeight, -MulDiv(9, ScreenDpi(), 72));
    ExpectCaptionsFit();
}

TEST_F(ConfigWindow, CloseBoxUnloads) {
    ButtonCounters counters(*form);
    HWND first = Dialog();
    host.ShowConfigModeless();
    EXPECT_EQ(Dialog(), first) << "a second show keeps the open window";
    frmConfig* shown = form;
    SendMessageW(first, WM_CLOSE, 0, 0);
    EXPECT_TRUE(!app.Config && !app.ConfigUnloaded.empty() &&
                app.ConfigUnloaded.back().get() == shown)
        << "close box unloads";
    EXPECT_TRUE(!IsWindow(first) && Dialog() == nullptr) << "window gone";
    EXPECT_EQ(counters.Total(), 0) << "close box runs no handler";
    EXPECT_TRUE(!shown->txtPath.Updated && !shown->picKey[3].Updated)
        << "models let go of the window";
    shown->txtPath.SetText(L"after");  // must not reach the destroyed window
}

// Cancel unloads from inside its own handler; the window procedure returns through a destroyed
// window. Then the ways a modal dialog ends.
TEST_F(ConfigWindow, CancelUnloadsAndModalReturns) {
    HWND window = Dialog();
    SendMessageW(Ctl(Id::cmdCancel), BM_CLICK, 0, 0);
    EXPECT_TRUE(!app.Config && !IsWindow(window)) << "Cancel unloads";
    // A new opening gets a new window.
    Load();
    host.ShowConfigModeless();
    EXPECT_TRUE(Dialog() != nullptr && Dialog() != window) << "reopened";
    // Modal: returns once the window has gone.
    PostMessageW(Dialog(), WM_CLOSE, 0, 0);
    host.ShowConfigModal();
    EXPECT_TRUE(!app.Config && Dialog() == nullptr) << "modal returns after the close box";
    // Modal: a quit message ends it and is handed on.
    Load();
    PostQuitMessage(7);
    host.ShowConfigModal();
    EXPECT_NE(Dialog(), nullptr) << "modal returns on quit with the window open";
    MSG msg{};
    EXPECT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) && msg.wParam == 7)
        << "quit handed on";
}

}  // namespace
