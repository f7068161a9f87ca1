// The configuration dialog on screen: a window of real Windows controls built from layout::kItems
// and kept in step with the control models of one frmConfig. The models decide; this file only
// shows what they hold and reports what the user does.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/app.h"
#include "config_dialog/layout.h"
#include "scoped.h"

namespace vos {
class Control;
class frmConfig;
}  // namespace vos

namespace vos::win32 {

// Control ids start well above IDOK (1) and IDCANCEL (2), which the dialog manager sends for Enter
// and Esc; those two must never reach a control's handler.
inline constexpr int kFirstControlId = 100;
constexpr int ControlId(layout::Id id) { return kFirstControlId + static_cast<int>(id); }

// Where things go in the client area, in pixels, at a given DPI.
SIZE ClientSize(int dpi);
RECT ItemRect(const layout::Item& item, int dpi);
// Keys are placed edge to edge in pixels, so that every white key overlaps its right-hand
// neighbour by exactly one pixel at any DPI and the two share one outline.
RECT KeyRect(int index, int dpi);
// The etched separator's lines, each one device pixel per 96 DPI thick, stacked without gaps.
RECT LineRect(std::size_t line, int dpi);
const layout::Item& ItemOf(layout::Id id);

// "name|pattern|name|pattern" as the dialog's logic writes a filter, turned into the list of
// NUL-terminated strings ending in an empty one that GetOpenFileName reads. Empty stays empty.
std::wstring MakeFilterList(std::wstring_view filter);

class ConfigWindow : public std::enable_shared_from_this<ConfigWindow> {
  public:
    // Creates the (hidden) window with every control showing the models' state; null on failure.
    static std::shared_ptr<ConfigWindow> Open(HINSTANCE instance, App& app, frmConfig& form);
    ~ConfigWindow();
    ConfigWindow(const ConfigWindow&) = delete;
    ConfigWindow& operator=(const ConfigWindow&) = delete;

    HWND Hwnd() const { return hwnd_; }
    bool IsOpen() const { return hwnd_ != nullptr; }
    HWND Control(layout::Id id) const { return controls_[Index(id)]; }

    // Shows the window (restoring it when minimised) and makes it the active window.
    void BringToFront();
    // Lets the dialog manager handle Tab, access keys, Enter and Esc for this window.
    bool PreTranslate(MSG& msg);
    // Puts what the models changed into the controls at once, e.g. before a nested message loop.
    void Flush();
    // Stops mirroring the models and destroys the window. Safe from inside the window's own
    // handlers: the object stays alive until the last of them has returned.
    void Close();

  private:
    static constexpr std::size_t kCount = layout::kItems.size();
    static constexpr std::size_t Index(layout::Id id) { return static_cast<std::size_t>(id); }

    ConfigWindow(HINSTANCE instance, App& app, frmConfig& form);
    bool Create();
    bool CreateFrame();
    bool CreateControl(const layout::Item& item);
    void Equip(HWND control, layout::Kind kind);

    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK KeyProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleKeyMessage(HWND hwnd, int index, UINT message, WPARAM wParam, LPARAM lParam);
    // A key of the computer's keyboard on one of the picture's keys; false when it is not theirs.
    bool OnKeyboard(int index, WPARAM key, LPARAM lParam);
    void OnCommand(int id, int code, HWND control);
    void OnActivate(bool active);
    void Paint();
    void PaintKey(HWND key, int index);
    void ClickKey(int index);
    // Moves the focus to a key (0 to 11), which becomes the keyboard's Tab stop.
    void MoveKeyFocus(int index);

    void ApplyLayout(int dpi, const RECT* suggested);
    void MakeFonts(int dpi);
    void FitDropDown(HWND combo, const RECT& rect);

    // The model a control shows, as the kind of model the control's kind has.
    template <typename M>
    M& ModelAs(layout::Id id) const;
    void Detach();
    void ModelUpdated(layout::Id id);
    void Push(layout::Id id);
    void PushList();
    void PushDropDown(layout::Id id);
    void PushText(layout::Id id);
    void PushEnabled(HWND control, bool enabled);
    // Runs a user action against the models; whatever they change meanwhile reaches the controls
    // once, when it is over, so a chain of handlers never shows its intermediate states.
    template <typename Action>
    void UserAction(Action&& action);

    HINSTANCE instance_;
    App& app_;
    frmConfig* form_;  // null once detached
    int dpi_ = 96;
    int batch_ = 0;     // user actions running
    int updating_ = 0;  // pushes running: native notifications they cause are not the user's
    HWND focus_ = nullptr;
    int keyStop_ = 0;  // the key that Tab reaches
    std::array<bool, kCount> dirty_{};
    std::array<std::vector<std::wstring>, kCount> shownItems_;
    // The destructor destroys the window before these go, so no control outlives its font.
    ScopedIcon bigIcon_, smallIcon_;
    ScopedFont uiFont_, listFont_;
    std::array<HWND, kCount> controls_{};
    HWND hwnd_ = nullptr;
};

}  // namespace vos::win32
