#include "winmm_api.h"

#include "app/texts.h"

namespace vos::win32 {
namespace {

HMODULE LoadFromSystemFolder() {
    HMODULE module = LoadLibraryExW(L"winmm.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module || GetLastError() != ERROR_INVALID_PARAMETER) return module;
    // Windows 7 without the update that brought the search flags: name the file in full instead.
    wchar_t folder[MAX_PATH];
    UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    std::wstring path(folder, length);
    path += L"\\winmm.dll";
    return LoadLibraryExW(path.c_str(), nullptr, 0);
}

// GetProcAddress's result as the function type it stands for; through void(*)() so that the
// compiler accepts the conversion between unrelated function types as intended.
template <typename Fn>
void Take(FARPROC proc, Fn& into) {
    into = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}

}  // namespace

Winmm::Winmm() : module_(LoadFromSystemFolder()) {
    if (!module_) {
        problem_ = Text(text::kNoWinmm);
        return;
    }
    const char* missing = nullptr;
#define VOS_WINMM_LOOKUP(name)                         \
    if (!missing) {                                    \
        FARPROC proc = GetProcAddress(module_, #name); \
        if (proc)                                      \
            Take(proc, functions_.name);               \
        else                                           \
            missing = #name;                           \
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

Winmm::~Winmm() {
    if (module_) FreeLibrary(module_);
}

}  // namespace vos::win32
