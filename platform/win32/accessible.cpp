#include "accessible.h"

#include <oleacc.h>

#include "system_library.h"

namespace vos::win32 {
namespace {

// Spelt out: the import library's IID_IAccessible is a symbol of oleacc.dll, and a program linked
// statically against it gets the address of a thunk instead of the IID. The other two would need
// a library of their own.
constexpr IID kIidAccessible = {0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
constexpr IID kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kIidDispatch = {0x00020400, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

bool IsSelf(const VARIANT& child) { return child.vt == VT_I4 && child.lVal == CHILDID_SELF; }

// oleacc is loaded the first time a screen reader asks: most sessions never do.
IAccessible* StandardObject(HWND hwnd) {
    static const auto create = OnDemandFunction<decltype(&CreateStdAccessibleObject)>(
        OnDemand::Oleacc, "CreateStdAccessibleObject");
    IAccessible* object = nullptr;
    if (!create || FAILED(create(hwnd, OBJID_CLIENT, kIidAccessible,
                                 reinterpret_cast<void**>(&object)))) {
        return nullptr;
    }
    return object;
}

// The system's object for the window with three answers replaced. Everything else (place,
// parent, focus, navigation) is the system's, so the control behaves as any other for the
// screen reader. A screen reader may keep the object: what it reports is read afresh at every
// question.
class Described final : public IAccessible {
  public:
    Described(IAccessible* standard, HWND hwnd, Describe describe)
        : standard_(standard), hwnd_(hwnd), describe_(describe) {}
    Described(const Described&) = delete;
    Described& operator=(const Described&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == kIidUnknown || iid == kIidDispatch || iid == kIidAccessible) {
            *out = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    // IDispatch: screen readers call IAccessible directly.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }

    // The three answers of our own.
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        const AccessibleInfo info = Now();
        if (!IsSelf(child) || !info.nameFrom) return standard_->get_accName(child, name);
        // The label's own description says its text as the system would, access key and all.
        IAccessible* label = StandardObject(info.nameFrom);
        if (!label) return standard_->get_accName(child, name);
        const HRESULT hr = label->get_accName(child, name);
        label->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        const AccessibleInfo info = Now();
        if (!IsSelf(child) || info.role == 0) return standard_->get_accRole(child, role);
        if (!role) return E_POINTER;
        role->vt = VT_I4;
        role->lVal = info.role;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        HRESULT hr = standard_->get_accState(child, state);
        const AccessibleInfo info = Now();
        if (!IsSelf(child) || !info.checkable || !state) return hr;
        if (FAILED(hr) || state->vt != VT_I4) {
            state->vt = VT_I4;
            state->lVal = 0;
        }
        const LONG mark = info.role == ROLE_SYSTEM_PUSHBUTTON ? STATE_SYSTEM_PRESSED
                                                             : STATE_SYSTEM_CHECKED;
        state->lVal = info.checked ? (state->lVal | mark) : (state->lVal & ~mark);
        return S_OK;
    }

    // The rest is the system's.
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
        return standard_->get_accParent(parent);
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override {
        return standard_->get_accChildCount(count);
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
        return standard_->get_accChild(child, out);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        return standard_->get_accValue(child, value);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override {
        return standard_->get_accDescription(child, text);
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* text) override {
        return standard_->get_accHelp(child, text);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override {
        return standard_->get_accHelpTopic(file, child, topic);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* text) override {
        return standard_->get_accKeyboardShortcut(child, text);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override {
        return standard_->get_accFocus(child);
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override {
        return standard_->get_accSelection(children);
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* text) override {
        return standard_->get_accDefaultAction(child, text);
    }
    HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override {
        return standard_->accSelect(flags, child);
    }
    HRESULT STDMETHODCALLTYPE accLocation(LONG* x, LONG* y, LONG* w, LONG* h,
                                          VARIANT child) override {
        return standard_->accLocation(x, y, w, h, child);
    }
    HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override {
        return standard_->accNavigate(direction, start, end);
    }
    HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* child) override {
        return standard_->accHitTest(x, y, child);
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        return standard_->accDoDefaultAction(child);
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

  private:
    ~Described() { standard_->Release(); }
    // A window that has gone is described by the system alone.
    AccessibleInfo Now() const { return IsWindow(hwnd_) ? describe_(hwnd_) : AccessibleInfo{}; }

    LONG refs_ = 1;
    IAccessible* standard_;
    HWND hwnd_;
    Describe describe_;
};

}  // namespace

LRESULT AnswerGetObject(HWND hwnd, WPARAM wParam, LPARAM lParam, Describe describe) {
    if (static_cast<LONG>(lParam) != OBJID_CLIENT) return 0;
    static const auto answer =
        OnDemandFunction<decltype(&LresultFromObject)>(OnDemand::Oleacc, "LresultFromObject");
    IAccessible* standard = answer ? StandardObject(hwnd) : nullptr;
    if (!standard) return 0;
    auto* described = new Described(standard, hwnd, describe);
    const LRESULT result = answer(kIidAccessible, wParam, described);
    described->Release();
    return result < 0 ? 0 : result;
}

void NotifyStateChange(HWND hwnd) {
    NotifyWinEvent(EVENT_OBJECT_STATECHANGE, hwnd, OBJID_CLIENT, CHILDID_SELF);
}

}  // namespace vos::win32
