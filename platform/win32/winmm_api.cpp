#include "winmm_api.h"

#include "app/texts.h"
#include "system_library.h"

namespace vos::win32 {

Winmm::Winmm() {
    const HMODULE module = LoadSystemLibrary(L"winmm.dll");
    if (!module) {
        problem_ = Text(text::kNoWinmm);
        return;
    }
    const char* missing = nullptr;
#define VOS_WINMM_LOOKUP(name)                                             \
    if (!missing) {                                                        \
        FARPROC proc = GetProcAddress(module, #name);                      \
        if (proc)                                                          \
            functions_.name = FunctionOf<decltype(functions_.name)>(proc); \
        else                                                               \
            missing = #name;                                               \
    }
    VOS_WINMM_FUNCTIONS(VOS_WINMM_LOOKUP)
#undef VOS_WINMM_LOOKUP
    if (missing) {
        // The names are ASCII, so each byte is its character.
        std::wstring name(missing, missing + std::char_traits<char>::length(missing));
        problem_ = Fill(text::kWinmmLacks, {name});
        functions_ = WinmmFunctions{};
    }
}

}  // namespace vos::win32
