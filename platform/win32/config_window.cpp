#include "config_window.h"

#include <commctrl.h>
#include <oleacc.h>

#include <algorithm>
#include <initializer_list>
#include <utility>
#include <variant>

#include "accessible.h"
#include "config_dialog/controls.h"
#include "config_dialog/frmConfig.h"
#include "desktop.h"
#include "resource.h"
#include "system_library.h"

namespace vos::win32 {

using layout::Id;
using layout::Item;
using layout::Kind;

namespace {

constexpr wchar_t kDialogClass[] = L"VosselmarConfig";
constexpr wchar_t kKeyClass[] = L"VosselmarKey";
constexpr DWORD kDialogStyle = WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kDialogExStyle = WS_EX_APPWINDOW;
// White keys overlap by this much as drawn at 96 DPI: one pixel.
constexpr int kKeyOverlapTwips = 15;
// Where a key keeps whether it is lit, for a screen reader that asks.
constexpr int kKeyLitSlot = 0;
// An opened drop-down list shows about this many lines before it scrolls.
constexpr int kDroppedItems = 10;

int Px(int twips, int dpi) { return layout::ToPixels(twips, dpi); }

// --- DPI ---

// Functions of newer Windows versions, looked up so that the program still starts on older ones.
template <typename Fn>
Fn User32Function(const char* name) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    FARPROC proc = user32 ? GetProcAddress(user32, name) : nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}

// Only a per-monitor aware process sees real per-window DPIs; for the others Windows keeps the
// system DPI (and scales the window itself where it must), so that is the one to lay out with.
bool PerMonitorAware() {
    using GetContext = DPI_AWARENESS_CONTEXT(WINAPI*)();
    using GetAwareness = DPI_AWARENESS(WINAPI*)(DPI_AWARENESS_CONTEXT);
    auto getContext = User32Function<GetContext>("GetThreadDpiAwarenessContext");
    auto getAwareness = User32Function<GetAwareness>("GetAwarenessFromDpiAwarenessContext");
    return getContext && getAwareness &&
           getAwareness(getContext()) == DPI_AWARENESS_PER_MONITOR_AWARE;
}

int WindowDpi(HWND hwnd) {
    if (PerMonitorAware()) {
        if (auto getDpi = User32Function<UINT(WINAPI*)(HWND)>("GetDpiForWindow")) {
            if (UINT dpi = getDpi(hwnd)) return static_cast<int>(dpi);
        }
    }
    return SystemDpi();
}

RECT FrameFor(SIZE client, int dpi) {
    RECT r{0, 0, client.cx, client.cy};
    using Adjust = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    auto adjustForDpi =
        PerMonitorAware() ? User32Function<Adjust>("AdjustWindowRectExForDpi") : nullptr;
    if (adjustForDpi) {
        adjustForDpi(&r, kDialogStyle, FALSE, kDialogExStyle, static_cast<UINT>(dpi));
    } else {
        AdjustWindowRectEx(&r, kDialogStyle, FALSE, kDialogExStyle);
    }
    return r;
}

// --- Small helpers ---

std::wstring WindowText(HWND hwnd) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    int got = GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(std::max(got, 0)));
    return text;
}

struct ControlClass {
    const wchar_t* name;
    DWORD style;
    DWORD exStyle;
};

ControlClass ClassOf(Kind kind) {
    switch (kind) {
        // Captions are shown as written: an ampersand in a label is a character, not an access key.
        case Kind::Label:
            return {L"STATIC", SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0};
        // The exact height of the layout, not a whole number of lines.
        case Kind::ListBox:
            return {L"LISTBOX", LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_TABSTOP,
                    WS_EX_CLIENTEDGE};
        case Kind::Button:
            return {L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 0};
        case Kind::Edit:
            return {L"EDIT", ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE};
        // Not an automatic check box: the model owns the value and the view only mirrors it.
        case Kind::CheckBox:
            return {L"BUTTON", BS_CHECKBOX | WS_TABSTOP, 0};
        case Kind::Toggle:
            return {L"BUTTON", BS_CHECKBOX | BS_PUSHLIKE | WS_TABSTOP, 0};
        case Kind::DropDown:
            return {L"COMBOBOX", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 0};
        case Kind::Key:
            return {kKeyClass, 0, 0};
    }
    return {L"STATIC", 0, 0};
}

// --- Subclassing through comctl32, loaded with the first dialog rather than at the start ---

struct Subclassing {
    decltype(&SetWindowSubclass) set;
    decltype(&RemoveWindowSubclass) remove;
    decltype(&DefSubclassProc) pass;
};

// All three, or none: without them the controls keep only their own procedures.
const Subclassing& Comctl32() {
    static const Subclassing functions = [] {
        Subclassing f{
            OnDemandFunction<decltype(&SetWindowSubclass)>(OnDemand::Comctl32, "SetWindowSubclass"),
            OnDemandFunction<decltype(&RemoveWindowSubclass)>(OnDemand::Comctl32,
                                                              "RemoveWindowSubclass"),
            OnDemandFunction<decltype(&DefSubclassProc)>(OnDemand::Comctl32, "DefSubclassProc")};
        if (!f.set || !f.remove || !f.pass) f = {};
        return f;
    }();
    return functions;
}

void Subclass(HWND control, SUBCLASSPROC proc) {
    if (Comctl32().set) Comctl32().set(control, proc, 0, 0);
}

// The dialog manager turns a push button that gets the focus into the default button, after which
// Enter presses it. This dialog has no default button, so Enter must press nothing.
LRESULT CALLBACK PlainButtonProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                 DWORD_PTR) {
    if (message == BM_SETSTYLE && (wParam & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
        wParam = (wParam & ~static_cast<WPARAM>(BS_TYPEMASK)) | BS_PUSHBUTTON;
    } else if (message == WM_NCDESTROY) {
        Comctl32().remove(hwnd, &PlainButtonProc, id);
    }
    return Comctl32().pass(hwnd, message, wParam, lParam);
}

// Edit boxes, drop-down lists and the toggle answer a screen reader's question themselves: the
// name of the label in front of them, the role and state of the toggle.
AccessibleInfo DescribeControl(HWND hwnd) {
    const Id which = static_cast<Id>(GetDlgCtrlID(hwnd) - kFirstControlId);
    AccessibleInfo info;
    if (which == Id::chkLearn) {
        info.role = ROLE_SYSTEM_PUSHBUTTON;
        info.checkable = true;
        info.checked = SendMessageW(hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    for (const layout::NamedBy& named : layout::kNames) {
        if (named.control == which) info.nameFrom = GetDlgItem(GetParent(hwnd), ControlId(named.name));
    }
    if (ItemOf(which).kind == Kind::DropDown) info.role = ROLE_SYSTEM_COMBOBOX;
    return info;
}

// A key's name is its window text, the pitch name; whether it is lit lives in its extra bytes.
AccessibleInfo DescribeKey(HWND key) {
    AccessibleInfo info;
    info.role = ROLE_SYSTEM_CHECKBUTTON;
    info.checkable = true;
    info.checked = GetWindowLongPtrW(key, kKeyLitSlot) != 0;
    return info;
}

LRESULT CALLBACK DescribedControlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                      UINT_PTR id, DWORD_PTR) {
    if (message == WM_GETOBJECT) {
        if (LRESULT answer = AnswerGetObject(hwnd, wParam, lParam, &DescribeControl)) return answer;
    } else if (message == WM_NCDESTROY) {
        Comctl32().remove(hwnd, &DescribedControlProc, id);
    }
    return Comctl32().pass(hwnd, message, wParam, lParam);
}

int CALLBACK FoundFont(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

// The English code list's face: the first choice where it is installed, else the fallback, which
// every Windows has; the font mapper alone might pick a proportional face for a missing one.
std::wstring EnglishListFace() {
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    layout::kListFontFaceEnglish.copy(wanted.lfFaceName, LF_FACESIZE - 1);
    bool found = false;
    if (HDC screen = GetDC(nullptr)) {
        EnumFontFamiliesExW(screen, &wanted, &FoundFont, reinterpret_cast<LPARAM>(&found), 0);
        ReleaseDC(nullptr, screen);
    }
    return std::wstring(found ? layout::kListFontFaceEnglish : layout::kListFontFallbackEnglish);
}

void RegisterClasses(HINSTANCE instance, WNDPROC dialogProc, WNDPROC keyProc) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpfnWndProc = dialogProc;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kDialogClass;
    RegisterClassExW(&wc);  // fails harmlessly when the class is there from an earlier opening

    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = keyProc;
    wc.hbrBackground = nullptr;  // a key paints all of its face
    wc.lpszClassName = kKeyClass;
    wc.cbWndExtra = sizeof(LONG_PTR);  // kKeyLitSlot
    RegisterClassExW(&wc);
}

}  // namespace

// --- Geometry ---

const Item& ItemOf(Id id) {
    for (const Item& item : layout::kItems) {
        if (item.id == id) return item;
    }
    return layout::kItems.front();  // every id is in the table; kept total for the compiler
}

SIZE ClientSize(int dpi) { return {Px(layout::kClientWidth, dpi), Px(layout::kClientHeight, dpi)}; }

RECT KeyRect(int index, int dpi) {
    const Item& item = ItemOf(static_cast<Id>(static_cast<int>(Id::picKey0) + index));
    RECT r{Px(item.left, dpi), Px(item.top, dpi), Px(item.left + item.width, dpi),
           Px(item.top + item.height, dpi)};
    if (!layout::IsBlackKey(index))
        r.right = Px(item.left + item.width - kKeyOverlapTwips, dpi) + 1;
    return r;
}

RECT ItemRect(const Item& item, int dpi) {
    if (item.kind == Kind::Key) return KeyRect(layout::KeyIndex(item.id), dpi);
    return {Px(item.left, dpi), Px(item.top, dpi), Px(item.left + item.width, dpi),
            Px(item.top + item.height, dpi)};
}

RECT LineRect(std::size_t line, int dpi) {
    const int thickness = std::max(1, dpi / USER_DEFAULT_SCREEN_DPI);
    const layout::LineItem& first = layout::kLines.front();
    const layout::LineItem& item = layout::kLines[line];
    int top = Px(first.y1, dpi) + static_cast<int>(line) * thickness;
    return {Px(item.x1, dpi), top, Px(item.x2, dpi), top + thickness};
}

std::wstring MakeFilterList(std::wstring_view filter) {
    if (filter.empty()) return {};
    std::wstring list(filter);
    std::replace(list.begin(), list.end(), L'|', L'\0');
    list.push_back(L'\0');
    list.push_back(L'\0');
    return list;
}

// --- The window ---

ConfigWindow::ConfigWindow(HINSTANCE instance, App& app, frmConfig& form)
    : instance_(instance), app_(app), form_(&form) {}

std::shared_ptr<ConfigWindow> ConfigWindow::Open(HINSTANCE instance, App& app, frmConfig& form) {
    std::shared_ptr<ConfigWindow> window(new ConfigWindow(instance, app, form));
    if (!window->Create()) {
        window->Close();
        return nullptr;
    }
    return window;
}

ConfigWindow::~ConfigWindow() {
    if (!hwnd_) return;
    // The object is going: no message of the window may reach it any more.
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    for (int k = 0; k < 12; ++k) {
        if (HWND key = controls_[Index(Id::picKey0) + static_cast<std::size_t>(k)]) {
            SetWindowLongPtrW(key, GWLP_USERDATA, 0);
        }
    }
    DestroyWindow(hwnd_);
}

namespace {

// Creation order is the window order, which is the Tab order: the table's order. The black keys
// are made before the white ones, so that they lie on top, are seen and take the click where they
// overlap; the keys are one Tab stop, so their order among themselves is free.
std::vector<const Item*> CreationOrder() {
    auto isWhiteKey = [](const Item& item) {
        return item.kind == Kind::Key && !layout::IsBlackKey(layout::KeyIndex(item.id));
    };
    std::vector<const Item*> order;
    for (const Item& item : layout::kItems) {
        if (isWhiteKey(item)) continue;
        order.push_back(&item);
        if (item.id != Id::picKey10) continue;
        for (const Item& white : layout::kItems) {
            if (isWhiteKey(white)) order.push_back(&white);
        }
    }
    return order;
}

}  // namespace

bool ConfigWindow::Create() {
    RegisterClasses(instance_, &WindowProc, &KeyProc);
    if (!CreateFrame()) return false;
    for (const Item* item : CreationOrder()) {
        if (!CreateControl(*item)) return false;
    }
    ApplyLayout(WindowDpi(hwnd_), nullptr);
    focus_ = Control(Id::cmdOK);
    return true;
}

// The dialog's own window, still empty and hidden, sized for the system DPI until the layout is
// applied for the DPI it really has.
bool ConfigWindow::CreateFrame() {
    bigIcon_ = LoadIconResource(instance_, IDI_PROGRAM, IconSize::Big);
    smallIcon_ = LoadIconResource(instance_, IDI_PROGRAM, IconSize::Small);
    const int dpi = SystemDpi();
    const RECT frame = FrameFor(ClientSize(dpi), dpi);
    const std::wstring caption(layout::DialogCaption(CurrentLanguage()));
    HWND hwnd = CreateWindowExW(kDialogExStyle, kDialogClass, caption.c_str(), kDialogStyle,
                                CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                                frame.bottom - frame.top, nullptr, nullptr, instance_, this);
    if (!hwnd) return false;
    hwnd_ = hwnd;
    SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_.Get()));
    SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.Get()));

    // A fixed window offers neither sizing nor minimising and maximising in its system menu.
    if (HMENU menu = GetSystemMenu(hwnd_, FALSE)) {
        for (UINT command : {SC_RESTORE, SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE}) {
            DeleteMenu(menu, command, MF_BYCOMMAND);
        }
    }
    return true;
}

// One control of the layout, showing its model's state from the start and following it from then
// on; placed and sized later, by ApplyLayout.
bool ConfigWindow::CreateControl(const Item& item) {
    const ControlClass cls = ClassOf(item.kind);
    const std::wstring text(layout::CaptionOf(item, CurrentLanguage()));
    DWORD style = cls.style;
    if (item.kind == Kind::Key && layout::KeyIndex(item.id) == keyStop_) style |= WS_TABSTOP;
    HWND control = CreateWindowExW(
        cls.exStyle, cls.name, text.c_str(), WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style, 0, 0,
        0, 0, hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(item.id))), instance_,
        nullptr);
    if (!control) return false;
    controls_[Index(item.id)] = control;
    Equip(control, item.kind);
    Push(item.id);
    std::weak_ptr<ConfigWindow> self = weak_from_this();
    const Id id = item.id;
    form_->ControlOf(id).Updated = [self, id] {
        if (std::shared_ptr<ConfigWindow> window = self.lock()) window->ModelUpdated(id);
    };
    return true;
}

// What a control needs beyond its class and style: a key finds this window through its user data,
// edit boxes, drop-down lists and the toggle describe themselves to a screen reader, and a push
// button never becomes the default button.
void ConfigWindow::Equip(HWND control, Kind kind) {
    switch (kind) {
        case Kind::Key:
            SetWindowLongPtrW(control, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
            break;
        case Kind::Edit:
            SendMessageW(control, EM_SETLIMITTEXT, 0, 0);
            Subclass(control, &DescribedControlProc);
            break;
        case Kind::Button:
            Subclass(control, &PlainButtonProc);
            break;
        case Kind::DropDown:
        case Kind::Toggle:
            Subclass(control, &DescribedControlProc);
            break;
        default:
            break;
    }
}

void ConfigWindow::MakeFonts(int dpi) {
    // Made first and swapped in after the controls have switched, so no control ever holds a
    // deleted font.
    ScopedFont ui;
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        LOGFONTW font = metrics.lfMessageFont;
        font.lfHeight = MulDiv(font.lfHeight, dpi, SystemDpi());
        ui.Reset(CreateFontIndirectW(&font));
    }
    const bool english = CurrentLanguage() == Language::English;
    const std::wstring face = english ? EnglishListFace() : std::wstring(layout::kListFontFace);
    const int charset = english ? layout::kListFontCharsetEnglish : layout::kListFontCharset;
    ScopedFont list(CreateFontW(-MulDiv(layout::kListFontPoints, dpi, 72), 0, 0, 0, FW_NORMAL,
                                FALSE, FALSE, FALSE, static_cast<DWORD>(charset),
                                OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                FIXED_PITCH | FF_MODERN, face.c_str()));
    HFONT uiHandle = ui ? ui.Get() : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    HFONT listHandle = list ? list.Get() : uiHandle;
    for (const Item& item : layout::kItems) {
        HFONT font = item.kind == Kind::ListBox ? listHandle : uiHandle;
        SendMessageW(Control(item.id), WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    uiFont_ = std::move(ui);
    listFont_ = std::move(list);
}

void ConfigWindow::FitDropDown(HWND combo, const RECT& rect) {
    const int width = rect.right - rect.left;
    const int closed = rect.bottom - rect.top;
    // For a drop-down list the window's height is the height with the list opened. Resizing puts
    // the closed part back to the font's height, so the field is fitted afterwards.
    const int line = std::max(1, static_cast<int>(SendMessageW(combo, CB_GETITEMHEIGHT, 0, 0)));
    SetWindowPos(combo, nullptr, rect.left, rect.top, width, closed + kDroppedItems * line + 2,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(combo, CB_SETMINVISIBLE, kDroppedItems, 0);
    // The closed height is the selection field plus a frame that depends on the system's look;
    // set the field, look at the result and correct, rather than assume the frame.
    int field = static_cast<int>(SendMessageW(combo, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0));
    for (int attempt = 0; attempt < 4; ++attempt) {
        RECT now{};
        GetWindowRect(combo, &now);
        const int error = closed - (now.bottom - now.top);
        if (error == 0 || field + error <= 0) break;
        field += error;
        SendMessageW(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), field);
    }
}

void ConfigWindow::ApplyLayout(int dpi, const RECT* suggested) {
    dpi_ = dpi;
    MakeFonts(dpi);
    const SIZE client = ClientSize(dpi);
    RECT frame = FrameFor(client, dpi);
    UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
    if (!suggested) flags |= SWP_NOMOVE;
    SetWindowPos(hwnd_, nullptr, suggested ? suggested->left : 0, suggested ? suggested->top : 0,
                 frame.right - frame.left, frame.bottom - frame.top, flags);
    // Whether the frame follows the new DPI depends on the Windows version and on how the
    // process is DPI aware; whatever it came to, the client area must have the layout's size.
    RECT now{}, inside{};
    GetWindowRect(hwnd_, &now);
    GetClientRect(hwnd_, &inside);
    if (inside.right != client.cx || inside.bottom != client.cy) {
        SetWindowPos(hwnd_, nullptr, 0, 0, now.right - now.left + client.cx - inside.right,
                     now.bottom - now.top + client.cy - inside.bottom,
                     SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
    }
    for (const Item& item : layout::kItems) {
        HWND control = Control(item.id);
        const RECT r = ItemRect(item, dpi);
        if (item.kind == Kind::DropDown) {
            FitDropDown(control, r);
        } else {
            SetWindowPos(control, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
        }
    }
    InvalidateRect(hwnd_, nullptr, TRUE);
}

void ConfigWindow::BringToFront() {
    if (!hwnd_) return;
    ShowWindow(hwnd_, IsIconic(hwnd_) ? SW_RESTORE : SW_SHOW);
    SetForegroundWindow(hwnd_);
}

bool ConfigWindow::PreTranslate(MSG& msg) {
    return hwnd_ != nullptr && IsDialogMessageW(hwnd_, &msg) != FALSE;
}

void ConfigWindow::Close() {
    Detach();
    if (hwnd_) DestroyWindow(hwnd_);
}

// --- Models to controls ---

template <typename M>
M& ConfigWindow::ModelAs(Id id) const {
    return *std::get<M*>(form_->ModelOf(id));
}

void ConfigWindow::Detach() {
    if (!form_) return;
    for (const Item& item : layout::kItems) form_->ControlOf(item.id).Updated = nullptr;
    form_ = nullptr;
}

void ConfigWindow::ModelUpdated(Id id) {
    if (batch_ > 0) {
        dirty_[Index(id)] = true;
    } else {
        Push(id);
    }
}

void ConfigWindow::Flush() {
    for (std::size_t i = 0; i < kCount; ++i) {
        if (!dirty_[i]) continue;
        dirty_[i] = false;
        Push(static_cast<Id>(i));
    }
}

void ConfigWindow::Push(Id id) {
    HWND control = Control(id);
    if (!control || !form_) return;
    ++updating_;
    switch (ItemOf(id).kind) {
        case Kind::ListBox:
            PushList();
            break;
        case Kind::Edit:
            PushText(id);
            break;
        case Kind::DropDown:
            PushDropDown(id);
            break;
        case Kind::CheckBox:
        case Kind::Toggle: {
            const WPARAM state = ModelAs<CheckBox>(id).Checked() ? BST_CHECKED : BST_UNCHECKED;
            const LRESULT before = SendMessageW(control, BM_GETCHECK, 0, 0);
            SendMessageW(control, BM_SETCHECK, state, 0);
            if (ItemOf(id).kind == Kind::Toggle && before != static_cast<LRESULT>(state))
                NotifyStateChange(control);
            break;
        }
        case Kind::Key: {
            const LONG_PTR lit = ModelAs<KeyFace>(id).BackColor() == layout::kRed;
            if (SetWindowLongPtrW(control, kKeyLitSlot, lit) != lit) NotifyStateChange(control);
            InvalidateRect(control, nullptr, FALSE);
            break;
        }
        case Kind::Label:
        case Kind::Button:
            break;
    }
    PushEnabled(control, form_->ControlOf(id).Enabled());
    --updating_;
}

void ConfigWindow::PushText(Id id) {
    HWND control = Control(id);
    const std::wstring& text = ModelAs<TextBox>(id).Text();
    // Setting the same text again would put the caret back to the start while the user types.
    if (WindowText(control) != text) SetWindowTextW(control, text.c_str());
}

void ConfigWindow::PushList() {
    HWND list = Control(Id::lstCP);
    const ListBox& model = ModelAs<ListBox>(Id::lstCP);
    const std::vector<std::wstring>& items = model.Items();
    std::vector<std::wstring>& shown = shownItems_[Index(Id::lstCP)];
    if (items != shown) {
        // Typing in the path box rebuilds the model's list on every key; the control only takes
        // the lines that differ, without redrawing in between, and keeps its scroll position.
        const LRESULT top = SendMessageW(list, LB_GETTOPINDEX, 0, 0);
        SendMessageW(list, WM_SETREDRAW, FALSE, 0);
        if (items.size() == shown.size()) {
            for (std::size_t i = 0; i < items.size(); ++i) {
                if (items[i] == shown[i]) continue;
                SendMessageW(list, LB_DELETESTRING, i, 0);
                SendMessageW(list, LB_INSERTSTRING, i, reinterpret_cast<LPARAM>(items[i].c_str()));
            }
        } else {
            std::size_t same = 0;
            while (same < items.size() && same < shown.size() && items[same] == shown[same]) ++same;
            if (same == 0) {
                SendMessageW(list, LB_RESETCONTENT, 0, 0);
            } else {
                for (std::size_t i = shown.size(); i-- > same;)
                    SendMessageW(list, LB_DELETESTRING, i, 0);
            }
            for (std::size_t i = same; i < items.size(); ++i) {
                SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(items[i].c_str()));
            }
        }
        shown = items;
        SendMessageW(list, LB_SETTOPINDEX, static_cast<WPARAM>(std::max<LRESULT>(top, 0)), 0);
        // Scrolls only when the selected line is out of view.
        SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(model.ListIndex()), 0);
        SendMessageW(list, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(list, nullptr, TRUE);
    } else if (SendMessageW(list, LB_GETCURSEL, 0, 0) != model.ListIndex()) {
        SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(model.ListIndex()), 0);
    }
}

void ConfigWindow::PushDropDown(Id id) {
    HWND combo = Control(id);
    const ComboBox& model = ModelAs<ComboBox>(id);
    std::vector<std::wstring>& shown = shownItems_[Index(id)];
    if (model.Items() != shown) {
        SendMessageW(combo, CB_RESETCONTENT, 0, 0);
        for (const std::wstring& item : model.Items()) {
            SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
        }
        shown = model.Items();
    }
    if (SendMessageW(combo, CB_GETCURSEL, 0, 0) != model.ListIndex()) {
        SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(model.ListIndex()), 0);
    }
}

void ConfigWindow::PushEnabled(HWND control, bool enabled) {
    if ((IsWindowEnabled(control) != FALSE) == enabled) return;
    // A disabled control cannot keep the focus; the keyboard moves on to the next one.
    if (!enabled && GetFocus() == control) {
        HWND next = GetNextDlgTabItem(hwnd_, control, FALSE);
        if (next && next != control) SetFocus(next);
    }
    EnableWindow(control, enabled ? TRUE : FALSE);
}

// --- Controls to models ---

template <typename Action>
void ConfigWindow::UserAction(Action&& action) {
    // A nested action (from a message loop inside a handler) starts from controls that are up to
    // date.
    Flush();
    struct Batch {
        int& depth;
        explicit Batch(int& d) : depth(d) { ++depth; }
        ~Batch() { --depth; }
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;
    };
    {
        Batch batch(batch_);
        action();
    }
    if (form_) Flush();
}

void ConfigWindow::OnCommand(int id, int code, HWND control) {
    // IDOK and IDCANCEL come from the dialog manager for Enter and Esc: nothing is pressed.
    if (id < kFirstControlId || id >= kFirstControlId + static_cast<int>(kCount)) return;
    const Id which = static_cast<Id>(id - kFirstControlId);
    if (!form_ || control == nullptr || control != Control(which) || updating_ > 0) return;
    const std::size_t slot = Index(which);
    switch (ItemOf(which).kind) {
        case Kind::Edit:
            if (code == EN_CHANGE) {
                const std::wstring text = WindowText(control);
                TextBox& box = ModelAs<TextBox>(which);
                UserAction([&] { box.UserSetText(text); });
            }
            break;
        case Kind::ListBox:
            if (code == LBN_SELCHANGE) {
                const int index = static_cast<int>(SendMessageW(control, LB_GETCURSEL, 0, 0));
                ListBox& list = ModelAs<ListBox>(which);
                UserAction([&] {
                    list.UserSelect(index);
                    dirty_[slot] = true;  // a refused selection is put back
                });
            }
            break;
        case Kind::DropDown:
            if (code == CBN_SELCHANGE) {
                const int index = static_cast<int>(SendMessageW(control, CB_GETCURSEL, 0, 0));
                ComboBox& combo = ModelAs<ComboBox>(which);
                UserAction([&] {
                    combo.UserSelect(index);
                    dirty_[slot] = true;
                });
            }
            break;
        case Kind::CheckBox:
        case Kind::Toggle:
            if (code == BN_CLICKED) {
                CheckBox& check = ModelAs<CheckBox>(which);
                UserAction([&] {
                    check.UserClick();
                    dirty_[slot] = true;  // the control shows the value the model took
                });
            }
            break;
        case Kind::Button:
            if (code == BN_CLICKED) {
                Button& button = ModelAs<Button>(which);
                UserAction([&] { button.UserClick(); });
            }
            break;
        case Kind::Label:
        case Kind::Key:
            break;
    }
}

// --- Messages ---

LRESULT CALLBACK ConfigWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* raw = reinterpret_cast<ConfigWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    // Held for the whole message: a handler may unload the dialog, which must not free the
    // object whose code is still running.
    std::shared_ptr<ConfigWindow> self = raw ? raw->weak_from_this().lock() : nullptr;
    if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
    return self->HandleMessage(hwnd, message, wParam, lParam);
}

LRESULT ConfigWindow::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
            return 0;
        case WM_PAINT:
            Paint();
            return 0;
        case WM_ACTIVATE:
            OnActivate(LOWORD(wParam) != WA_INACTIVE);
            return 0;
        case WM_SETFOCUS:
            if (focus_ && IsChild(hwnd, focus_) && IsWindowEnabled(focus_)) SetFocus(focus_);
            return 0;
        case WM_CLOSE:
            // The close box unloads without saving; no handler of the dialog runs.
            if (form_ && app_.dialog.Config.get() == form_) {
                UnloadConfigDialog(app_);
            } else {
                Close();
            }
            return 0;
        case WM_DPICHANGED:
            ApplyLayout(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
            return 0;
        case WM_NCDESTROY:
            hwnd_ = nullptr;
            controls_.fill(nullptr);
            focus_ = nullptr;
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            break;
        default:
            break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

void ConfigWindow::OnActivate(bool active) {
    // A plain window does not remember its focused control as a dialog does; do it here so that
    // coming back to the dialog puts the caret back where it was.
    if (!active) {
        HWND focus = GetFocus();
        if (focus && IsChild(hwnd_, focus)) focus_ = focus;
        return;
    }
    if (!focus_ || !IsChild(hwnd_, focus_) || !IsWindowEnabled(focus_)) {
        focus_ = GetNextDlgTabItem(hwnd_, nullptr, FALSE);
    }
    SetFocus(focus_ ? focus_ : hwnd_);
}

void ConfigWindow::Paint() {
    ScopedPaint paint(hwnd_);
    for (std::size_t i = 0; i < layout::kLines.size(); ++i) {
        const RECT r = LineRect(i, dpi_);
        FillRect(paint.Dc(), &r, GetSysColorBrush(layout::kLines[i].systemColor));
    }
}

LRESULT CALLBACK ConfigWindow::KeyProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* raw = reinterpret_cast<ConfigWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    std::shared_ptr<ConfigWindow> self = raw ? raw->weak_from_this().lock() : nullptr;
    if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
    const int index = GetDlgCtrlID(hwnd) - ControlId(Id::picKey0);
    return self->HandleKeyMessage(hwnd, index, message, wParam, lParam);
}

LRESULT ConfigWindow::HandleKeyMessage(HWND hwnd, int index, UINT message, WPARAM wParam,
                                       LPARAM lParam) {
    switch (message) {
        case WM_ERASEBKGND:
            return 1;  // the face is painted whole
        case WM_PAINT:
            PaintKey(hwnd, index);
            return 0;
        // A click is a press and a release on the same key, as with a button.
        case WM_LBUTTONDOWN:
            SetCapture(hwnd);
            return 0;
        case WM_LBUTTONUP: {
            if (GetCapture() != hwnd) return 0;
            ReleaseCapture();
            POINT pt{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
            RECT client{};
            GetClientRect(hwnd, &client);
            if (PtInRect(&client, pt)) ClickKey(index);
            return 0;
        }
        // The arrows are the keys' own: the dialog manager would move to another control.
        case WM_GETDLGCODE:
            return DLGC_WANTARROWS;
        case WM_KEYDOWN:
            if (OnKeyboard(index, wParam, lParam)) return 0;
            return DefWindowProcW(hwnd, message, wParam, lParam);
        case WM_SETFOCUS:
        case WM_KILLFOCUS:
            InvalidateRect(hwnd, nullptr, FALSE);
            return 0;
        case WM_GETOBJECT:
            if (LRESULT answer = AnswerGetObject(hwnd, wParam, lParam, &DescribeKey)) return answer;
            return DefWindowProcW(hwnd, message, wParam, lParam);
        default:
            return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

bool ConfigWindow::OnKeyboard(int index, WPARAM key, LPARAM lParam) {
    switch (key) {
        case VK_LEFT:
        case VK_UP:
            MoveKeyFocus(index - 1);
            return true;
        case VK_RIGHT:
        case VK_DOWN:
            MoveKeyFocus(index + 1);
            return true;
        case VK_HOME:
            MoveKeyFocus(0);
            return true;
        case VK_END:
            MoveKeyFocus(11);
            return true;
        case VK_SPACE:
            // Repeats of a held Space would toggle the key back and forth.
            if ((lParam & (1 << 30)) == 0) ClickKey(index);
            return true;
        default:
            return false;
    }
}

void ConfigWindow::ClickKey(int index) {
    if (!form_) return;
    frmConfig& f = *form_;
    UserAction([&] { f.picKey_Click(index); });
}

void ConfigWindow::MoveKeyFocus(int index) {
    if (index < 0 || index > 11) return;
    HWND next = Control(static_cast<Id>(static_cast<int>(Id::picKey0) + index));
    HWND previous = Control(static_cast<Id>(static_cast<int>(Id::picKey0) + keyStop_));
    // Tab comes back to the key left last, as to the selected button of a group.
    if (previous && previous != next) {
        SetWindowLongPtrW(previous, GWL_STYLE, GetWindowLongPtrW(previous, GWL_STYLE) & ~WS_TABSTOP);
        SetWindowLongPtrW(next, GWL_STYLE, GetWindowLongPtrW(next, GWL_STYLE) | WS_TABSTOP);
    }
    keyStop_ = index;
    SetFocus(next);
}

void ConfigWindow::PaintKey(HWND key, int index) {
    ScopedPaint paint(key);
    RECT face{};
    GetClientRect(key, &face);
    std::uint32_t color = form_ ? form_->picKey[static_cast<std::size_t>(index)].BackColor()
                          : layout::IsBlackKey(index) ? layout::kBlack
                                                      : layout::kWhite;
    // The models' colours are 0x00BBGGRR already, as a COLORREF is.
    ScopedBrush brush(CreateSolidBrush(static_cast<COLORREF>(color)));
    FillRect(paint.Dc(), &face, brush.Get());
    FrameRect(paint.Dc(), &face, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    if (GetFocus() == key) {
        // Inside the outline, in a colour that shows on white, black and red alike.
        const int inset = std::max(2, MulDiv(3, dpi_, USER_DEFAULT_SCREEN_DPI));
        RECT mark = face;
        InflateRect(&mark, -inset, -inset);
        const COLORREF ink = color == layout::kBlack ? RGB(255, 255, 255) : RGB(0, 0, 0);
        ScopedBrush pen(CreateSolidBrush(ink));
        FrameRect(paint.Dc(), &mark, pen.Get());
        InflateRect(&mark, -1, -1);
        FrameRect(paint.Dc(), &mark, pen.Get());
    }
}

}  // namespace vos::win32
