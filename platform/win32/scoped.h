// One small move-only owner per kind of Windows handle.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <utility>

namespace vos::win32 {

template <typename H, typename Traits>
class Scoped {
  public:
    Scoped() = default;
    explicit Scoped(H h) : h_(h) {}
    ~Scoped() { Reset(); }
    Scoped(Scoped&& o) noexcept : h_(std::exchange(o.h_, Traits::Invalid())) {}
    Scoped& operator=(Scoped&& o) noexcept {
        if (this != &o) {
            Reset();
            h_ = std::exchange(o.h_, Traits::Invalid());
        }
        return *this;
    }
    Scoped(const Scoped&) = delete;
    Scoped& operator=(const Scoped&) = delete;

    H Get() const { return h_; }
    explicit operator bool() const { return h_ != Traits::Invalid(); }
    void Reset(H h = Traits::Invalid()) {
        if (h_ != Traits::Invalid()) Traits::Close(h_);
        h_ = h;
    }

  private:
    H h_ = Traits::Invalid();
};

struct HandleTraits {
    static HANDLE Invalid() { return nullptr; }
    static void Close(HANDLE h) { CloseHandle(h); }
};
struct FileTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { CloseHandle(h); }
};
struct IconTraits {
    static HICON Invalid() { return nullptr; }
    static void Close(HICON h) { DestroyIcon(h); }
};
struct MenuTraits {
    static HMENU Invalid() { return nullptr; }
    static void Close(HMENU h) { DestroyMenu(h); }
};
struct FontTraits {
    static HFONT Invalid() { return nullptr; }
    static void Close(HFONT h) { DeleteObject(h); }
};
struct BrushTraits {
    static HBRUSH Invalid() { return nullptr; }
    static void Close(HBRUSH h) { DeleteObject(h); }
};
struct WindowTraits {
    static HWND Invalid() { return nullptr; }
    static void Close(HWND h) { DestroyWindow(h); }
};

// COM on the calling thread, apartment-threaded as the shell requires, while the object lives.
class ScopedCom {
  public:
    ScopedCom()
        : initialised_(SUCCEEDED(
              CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
    ~ScopedCom() {
        if (initialised_) CoUninitialize();
    }
    ScopedCom(const ScopedCom&) = delete;
    ScopedCom& operator=(const ScopedCom&) = delete;

  private:
    bool initialised_;
};

using ScopedHandle = Scoped<HANDLE, HandleTraits>;
using ScopedFile = Scoped<HANDLE, FileTraits>;
using ScopedIcon = Scoped<HICON, IconTraits>;
using ScopedMenu = Scoped<HMENU, MenuTraits>;
using ScopedFont = Scoped<HFONT, FontTraits>;
using ScopedBrush = Scoped<HBRUSH, BrushTraits>;

}  // namespace vos::win32
