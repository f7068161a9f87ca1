// winmm, taken from the system folder and nowhere else.
//
// winmm.dll is not one of the DLLs Windows always takes from the system, so a static import would
// load whatever winmm.dll lies beside the program (often Downloads, where anybody's files land).
// The program links no import of it: this module loads System32's copy and looks up each function
// the host calls.
#pragma once

#include <windows.h>
// (needs windows.h first)
#include <mmsystem.h>

#include <string>

namespace vos::win32 {

// Every winmm function the host calls; one lookup each.
#define VOS_WINMM_FUNCTIONS(X) \
    X(midiInGetNumDevs)        \
    X(midiOutGetNumDevs)       \
    X(midiInGetDevCapsW)       \
    X(midiOutGetDevCapsW)      \
    X(midiInOpen)              \
    X(midiInPrepareHeader)     \
    X(midiInAddBuffer)         \
    X(midiInStart)             \
    X(midiInStop)              \
    X(midiInReset)             \
    X(midiInUnprepareHeader)   \
    X(midiInClose)             \
    X(midiOutOpen)             \
    X(midiOutShortMsg)         \
    X(midiOutClose)            \
    X(midiInGetID)             \
    X(midiOutGetID)

struct WinmmFunctions {
#define VOS_WINMM_POINTER(name) decltype(&::name) name = nullptr;
    VOS_WINMM_FUNCTIONS(VOS_WINMM_POINTER)
#undef VOS_WINMM_POINTER
};

class Winmm {
  public:
    // Loads the system's winmm.dll and every function of the table. When that fails, nothing is
    // usable and Problem() tells the user why. The DLL stays loaded to the end of the process:
    // its driver threads may still run after the last device closed, and freeing it under them
    // crashes the program on its way out.
    Winmm();
    Winmm(const Winmm&) = delete;
    Winmm& operator=(const Winmm&) = delete;

    bool Loaded() const { return problem_.empty(); }
    // The message box text, in the language in force, when Loaded() is false.
    const std::wstring& Problem() const { return problem_; }
    const WinmmFunctions* operator->() const { return &functions_; }

  private:
    WinmmFunctions functions_;
    std::wstring problem_;
};

}  // namespace vos::win32
