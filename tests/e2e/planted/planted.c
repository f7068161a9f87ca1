/*
 * A DLL that someone else left in a folder: planted beside the program or in
 * the folder it is started from, under the name of a system DLL, it leaves a
 * mark when anything loads it. The mark is a file beside the DLL, its own
 * name with ".loaded" added, one line per loading process (the process's
 * executable), so a scenario sees at once whether and by whom it was taken.
 *
 * It exports the winmm functions the program used to import, as stubs that
 * report no devices and fail every call: a program that imports winmm still
 * starts with it, so DllMain runs and the mark is written, and nothing it
 * does afterwards reaches a device. Under any other name the exports are
 * simply not what the caller looks for.
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#define STUB_ERROR 6 /* MMSYSERR_NODRIVER */

static void leave_mark(HINSTANCE self) {
    WCHAR path[MAX_PATH + 16], exe[MAX_PATH];
    DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    lstrcatW(path, L".loaded");
    DWORD e = GetModuleFileNameW(NULL, exe, MAX_PATH);
    if (e == 0 || e >= MAX_PATH) lstrcpyW(exe, L"?");
    HANDLE f = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (f == INVALID_HANDLE_VALUE) return;
    char line[MAX_PATH * 3 + 2];
    int len = WideCharToMultiByte(CP_UTF8, 0, exe, -1, line, MAX_PATH * 3, NULL, NULL);
    if (len > 0) {
        line[len - 1] = '\n';
        DWORD written;
        WriteFile(f, line, (DWORD)len, &written, NULL);
    }
    CloseHandle(f);
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) leave_mark(self);
    return TRUE;
}

UINT WINAPI midiInGetNumDevs(void) { return 0; }
UINT WINAPI midiOutGetNumDevs(void) { return 0; }

/* Every other export: the arguments are never looked at, and stdcall is the
 * same as the x64 convention, so one signature serves them all. */
#define STUB(name) \
    UINT WINAPI name(void) { return STUB_ERROR; }
STUB(midiInGetDevCapsW)
STUB(midiOutGetDevCapsW)
STUB(midiInOpen)
STUB(midiInPrepareHeader)
STUB(midiInAddBuffer)
STUB(midiInStart)
STUB(midiInStop)
STUB(midiInReset)
STUB(midiInUnprepareHeader)
STUB(midiInClose)
STUB(midiOutOpen)
STUB(midiOutShortMsg)
STUB(midiOutClose)
STUB(midiInGetID)
STUB(midiOutGetID)
