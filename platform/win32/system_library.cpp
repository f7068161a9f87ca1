#include "system_library.h"

#include <iterator>
#include <string>

namespace vos::win32 {

HMODULE LoadSystemLibrary(const wchar_t* name) {
    HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module || GetLastError() != ERROR_INVALID_PARAMETER) return module;
    // Windows 7 without the update that brought the search flags: name the file in full instead.
    wchar_t folder[MAX_PATH];
    UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    std::wstring path(folder, length);
    path += L'\\';
    path += name;
    return LoadLibraryExW(path.c_str(), nullptr, 0);
}

HMODULE Library(OnDemand which) {
    // comctl32 by its name alone is the version the program's manifest asks for, as the dialog's
    // controls have it.
    static constexpr const wchar_t* kNames[] = {L"comctl32.dll", L"comdlg32.dll", L"oleacc.dll"};
    static HMODULE loaded[std::size(kNames)];
    static bool tried[std::size(kNames)];
    const auto index = static_cast<std::size_t>(which);
    if (!tried[index]) {
        tried[index] = true;
        loaded[index] = LoadSystemLibrary(kNames[index]);
    }
    return loaded[index];
}

}  // namespace vos::win32
