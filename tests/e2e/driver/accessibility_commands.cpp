// What a screen reader learns of each control of a window, from outside the
// program through the system's accessibility interface:
//   acc <hwnd> <role> <state, hex> <name>   (tab-separated; name "-" when there is none)
#include "driver.h"
// windows.h first: the headers below need it
#include <oleacc.h>

namespace driver {
namespace {

// Spelt out: the import library's IID_IAccessible is an import of oleacc.dll, not the IID.
const IID kIidAccessible = {
    0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

wstring describe_accessible(HWND h) {
    IAccessible* acc = nullptr;
    HRESULT hr = AccessibleObjectFromWindow(h, static_cast<DWORD>(OBJID_CLIENT), kIidAccessible,
                                            reinterpret_cast<void**>(&acc));
    wstring line = L"acc\t" + hexw(reinterpret_cast<ULONG_PTR>(h)) + L"\t";
    if (FAILED(hr) || !acc) return line + L"error " + hexw(static_cast<DWORD>(hr));
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    VARIANT role{}, state{};
    BSTR name = nullptr;
    const bool gotRole = SUCCEEDED(acc->get_accRole(self, &role)) && role.vt == VT_I4;
    const bool gotState = SUCCEEDED(acc->get_accState(self, &state)) && state.vt == VT_I4;
    const bool gotName = acc->get_accName(self, &name) == S_OK && name;
    line += (gotRole ? num(role.lVal) : L"-") + L"\t" +
            (gotState ? hexw(static_cast<DWORD>(state.lVal)) : L"-") + L"\t" +
            (gotName ? escape(name) : L"-");
    if (name) SysFreeString(name);
    acc->Release();
    return line;
}

}  // namespace

int cmd_acc(const Args& a) {
    HWND dlg = wait_dialog(a);
    if (!dlg) return fail(L"no visible window \"" + a.get(L"title", kDialogTitle) + L"\"");
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    for (HWND c = GetWindow(dlg, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        say(describe_accessible(c));
    if (SUCCEEDED(com)) CoUninitialize();
    return 0;
}
}  // namespace driver
