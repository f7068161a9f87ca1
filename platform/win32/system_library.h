// DLLs taken from the system folder and nowhere else, loaded when first needed.
//
// What only the settings dialog, the file dialog and a screen reader use is not imported: the tray
// program that runs all day would carry it from the start, and a DLL that is not one of those
// Windows always takes from the system folder would be looked for beside the program first.
#pragma once

#include <windows.h>

namespace vos::win32 {

// The DLL of that name in the system folder; null when it cannot be loaded.
HMODULE LoadSystemLibrary(const wchar_t* name);

// GetProcAddress's result as the function type it stands for; through void(*)() so that the
// compiler accepts the conversion between unrelated function types as intended.
template <typename Fn>
Fn FunctionOf(FARPROC proc) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
}

// The libraries loaded on first use, each once, and kept to the end of the process: objects they
// handed out (a screen reader's accessible objects, window procedures of controls) may outlive
// the window that asked for them. Asked for on the thread of the program's windows only.
enum class OnDemand { Comctl32, Comdlg32, Oleacc };
HMODULE Library(OnDemand which);

// A function of one of them; null when the library or the function is missing.
template <typename Fn>
Fn OnDemandFunction(OnDemand library, const char* name) {
    HMODULE module = Library(library);
    return module ? FunctionOf<Fn>(GetProcAddress(module, name)) : nullptr;
}

}  // namespace vos::win32
