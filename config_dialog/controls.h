// Models of the dialog's controls. They carry the notification rules in one place, so that the
// handlers run exactly when the dialog's logic expects them to, whatever the platform's controls
// do:
//  - a text box raises Change when its text becomes different, never when it gets the same text;
//  - selecting a list line raises Click, also from code; emptying the list raises nothing;
//  - a check box raises Click when its value becomes different, also from code;
//  - choosing another line of a drop-down list raises its Click, also from code; only the input
//    device list has a handler.
// A view (the Windows binding) mirrors every change made here through `Updated`, and reports what
// the user does through the User* calls.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace vos {

class Control {
  public:
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled) {
        if (enabled_ == enabled) return;
        enabled_ = enabled;
        Notify();
    }
    // Called after every change of state made from code, for the view to catch up.
    std::function<void()> Updated;

  protected:
    void Notify() const {
        if (Updated) Updated();
    }

  private:
    bool enabled_ = true;
};

class TextBox : public Control {
  public:
    const std::wstring& Text() const { return text_; }
    void SetText(const std::wstring& text) {
        if (text == text_) return;
        text_ = text;
        Notify();
        if (Change) Change();
    }
    // The user typed: the view already shows the text, so only the handler runs.
    void UserSetText(const std::wstring& text) {
        if (text == text_) return;
        text_ = text;
        if (Change) Change();
    }
    std::function<void()> Change;

  private:
    std::wstring text_;
};

class ListBox : public Control {
  public:
    const std::vector<std::wstring>& Items() const { return items_; }
    int ListCount() const { return static_cast<int>(items_.size()); }
    int ListIndex() const { return index_; }
    void Clear() {
        items_.clear();
        index_ = -1;
        Notify();
    }
    void AddItem(const std::wstring& item) {
        items_.push_back(item);
        Notify();
    }
    void AddItems(std::vector<std::wstring> items) {
        items_.insert(items_.end(), items.begin(), items.end());
        Notify();
    }
    void SetListIndex(int index) {
        if (index < -1 || index >= ListCount()) return;
        index_ = index;
        Notify();
        if (index >= 0 && Click) Click();
    }
    void UserSelect(int index) {
        if (index < 0 || index >= ListCount()) return;
        index_ = index;
        if (Click) Click();
    }
    std::function<void()> Click;

  private:
    std::vector<std::wstring> items_;
    int index_ = -1;
};

// A drop-down list the user can only choose from.
class ComboBox : public Control {
  public:
    const std::vector<std::wstring>& Items() const { return items_; }
    int ListCount() const { return static_cast<int>(items_.size()); }
    int ListIndex() const { return index_; }
    void AddItem(const std::wstring& item) {
        items_.push_back(item);
        Notify();
    }
    void SetListIndex(int index) {
        // An index that names no item leaves nothing selected rather than failing.
        const int before = std::exchange(index_, (index >= 0 && index < ListCount()) ? index : -1);
        Notify();
        if (index_ != before && Click) Click();
    }
    void UserSelect(int index) {
        const int before = std::exchange(index_, (index >= 0 && index < ListCount()) ? index : -1);
        if (index_ != before && Click) Click();
    }
    // A refill that keeps the chosen device, perhaps at another place: the choice is the same.
    void SetItems(std::vector<std::wstring> items, int index) {
        items_ = std::move(items);
        index_ = (index >= 0 && index < ListCount()) ? index : -1;
        Notify();
    }
    std::function<void()> Click;

  private:
    std::vector<std::wstring> items_;
    int index_ = -1;
};

class CheckBox : public Control {
  public:
    explicit CheckBox(int value = 0) : value_(value) {}
    int Value() const { return value_; }
    bool Checked() const { return value_ == 1; }
    void SetValue(int value) {
        if (value == value_) return;
        value_ = value;
        Notify();
        if (Click) Click();
    }
    void UserClick() {
        value_ = value_ == 1 ? 0 : 1;
        if (Click) Click();
    }
    std::function<void()> Click;

  private:
    int value_;
};

class Button : public Control {
  public:
    void UserClick() {
        if (Enabled() && Click) Click();
    }
    std::function<void()> Click;
};

// One key of the picture keyboard: a face filled with one colour (0x00BBGGRR).
class KeyFace : public Control {
  public:
    std::uint32_t BackColor() const { return color_; }
    void SetBackColor(std::uint32_t color) {
        color_ = color;
        Notify();
    }

  private:
    std::uint32_t color_ = 0xFFFFFF;
};

}  // namespace vos
