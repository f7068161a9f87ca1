// The one interface through which the program reaches its platform. The Windows host passes each
// call straight to the real API; the simulated host in tests/sim records the calls and answers from
// a script. Nothing here includes <windows.h>: handles and message parameters are plain integers of
// the same width as on 64-bit Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vos {

// Member names follow the Windows calls they stand for, changed only where <windows.h> would turn
// the name into a macro (MessageBox -> MessageBoxW) or hide the real function inside the host.

using WindowHandle = std::uintptr_t;  // HWND
using WParam = std::uintptr_t;        // WPARAM
using LParam = std::intptr_t;         // LPARAM
using LResult = std::intptr_t;        // LRESULT
using WndProcValue = std::intptr_t;   // LONG_PTR holding a window procedure
using MidiHandle = std::uintptr_t;    // HMIDIIN / HMIDIOUT
using MmResult = std::uint32_t;       // MMRESULT

inline constexpr MmResult kMmSysErrNoError = 0;
inline constexpr MmResult kMmSysErrBadDeviceId = 2;
inline constexpr MmResult kMmSysErrError = 1;

// Window messages and constants the program relies on, with their Windows values.
inline constexpr std::uint32_t kWmClose = 0x0010;
inline constexpr std::uint32_t kWmEndSession = 0x0016;
inline constexpr std::uint32_t kWmHotkey = 0x0312;
inline constexpr std::uint32_t kMmMimClose = 0x03C2;
inline constexpr std::uint32_t kMmMimData = 0x03C3;
inline constexpr std::uint32_t kWmDeviceChange = 0x0219;
inline constexpr WParam kDbtDevNodesChanged = 0x0007;
inline constexpr std::uint32_t kWmTimer = 0x0113;
inline constexpr std::uint32_t kTrayCallback = 0x0401;  // WM_USER + 1
// What the tray's callback message reports in the low word of lParam: the mouse messages, and the
// shell's own notifications (the icon is at NOTIFYICON_VERSION_4).
inline constexpr LParam kWmLButtonDown = 0x0201;
inline constexpr LParam kWmLButtonDblClk = 0x0203;
inline constexpr LParam kWmRButtonDown = 0x0204;
inline constexpr LParam kWmRButtonDblClk = 0x0206;
inline constexpr LParam kWmContextMenu = 0x007B;
inline constexpr LParam kNinSelect = 0x0400, kNinKeySelect = 0x0401;
inline constexpr int kGwlpWndProc = -4;
inline constexpr std::uint32_t kCallbackWindow = 0x00010000;
inline constexpr int kSwShow = 5;

// MIDIHDR with the field layout of 64-bit Windows (whose multimedia records are byte-packed), so
// the Windows host can hand it to winmm as is.
#pragma pack(push, 1)
struct MidiHeader {
    char* Data = nullptr;
    std::uint32_t BufferLength = 0;
    std::uint32_t BytesRecorded = 0;
    std::uintptr_t User = 0;
    std::uint32_t Flags = 0;
    MidiHeader* Next = nullptr;
    std::uintptr_t Reserved = 0;
    std::uint32_t Offset = 0;
    std::uintptr_t Reserved2[8] = {};
};
#pragma pack(pop)
// The first-version record ends before Offset; that is the size handed to winmm.
inline constexpr std::uint32_t kMidiHeaderSize = offsetof(MidiHeader, Offset);

// RegisterHotKey's modifier bits, which config.bin stores as they are.
inline constexpr std::uint8_t kModAlt = 1, kModControl = 2, kModShift = 4;

// Message box styles and answers.
inline constexpr unsigned kMbOk = 0;
inline constexpr unsigned kMbYesNo = 4;
inline constexpr unsigned kMbIconError = 16;
inline constexpr unsigned kMbIconExclamation = 48;
inline constexpr unsigned kMbIconInformation = 64;
inline constexpr unsigned kMbDefButton2 = 256;
inline constexpr int kIdOk = 1;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// Shell_NotifyIcon operations and the pictures the tray icon can show.
enum class TrayOp : std::uint32_t { Add = 0, Modify = 1, Delete = 2 };
enum class TrayPicture { picIcon1, picIcon2 };
inline constexpr TrayPicture kPictureEnabled = TrayPicture::picIcon1;
inline constexpr TrayPicture kPictureDisabled = TrayPicture::picIcon2;
// NOTIFYICONDATA's flags: which of the callback message, the icon and the tip are valid.
inline constexpr std::uint32_t kNifMessage = 1, kNifIcon = 2, kNifTip = 4;

struct NotifyIconData {
    WindowHandle Window = 0;
    std::uint32_t Id = 0;
    std::uint32_t Flags = kNifMessage | kNifIcon | kNifTip;
    std::uint32_t CallbackMessage = kTrayCallback;
    TrayPicture Icon = kPictureEnabled;
    std::wstring Tip;
};

// Items of the tray menu mnuRC, as TrackPopupMenu reports the choice.
enum class MenuChoice { None, mnuRCConfig, mnuRCHelp, mnuRCEnd };

// Result of a file operation; Ok or what went wrong, in words the user understands.
enum class FileStatus { Ok, NotFound, AccessDenied, IsFolder, DiskFull, TooLarge, OtherError };

class Host {
  public:
    virtual ~Host() = default;

    // --- MIDI (winmm) ---
    virtual unsigned midiInGetNumDevs() = 0;
    virtual unsigned midiOutGetNumDevs() = 0;
    // The device's name as the driver reports it (up to 31 characters); empty when the call fails.
    virtual MmResult midiInGetDevName(int device, std::wstring& name) = 0;
    virtual MmResult midiOutGetDevName(int device, std::wstring& name) = 0;
    virtual MmResult midiInOpen(MidiHandle& handle, int device, WindowHandle callback,
                                std::uintptr_t instance, std::uint32_t flags) = 0;
    virtual MmResult midiInPrepareHeader(MidiHandle handle, MidiHeader* header,
                                         std::uint32_t size) = 0;
    virtual MmResult midiInAddBuffer(MidiHandle handle, MidiHeader* header, std::uint32_t size) = 0;
    virtual MmResult midiInStart(MidiHandle handle) = 0;
    virtual MmResult midiInStop(MidiHandle handle) = 0;
    virtual MmResult midiInReset(MidiHandle handle) = 0;
    virtual MmResult midiInUnprepareHeader(MidiHandle handle, MidiHeader* header,
                                           std::uint32_t size) = 0;
    virtual MmResult midiInClose(MidiHandle handle) = 0;
    virtual MmResult midiOutOpen(MidiHandle& handle, int device, std::uintptr_t callback,
                                 std::uintptr_t instance, std::uint32_t flags) = 0;
    virtual MmResult midiOutShortMsg(MidiHandle handle, std::uint32_t message) = 0;
    virtual MmResult midiOutClose(MidiHandle handle) = 0;
    // Which device an open handle is on now; an error once the device has gone away.
    virtual MmResult midiInGetID(MidiHandle handle, unsigned& device) = 0;
    virtual MmResult midiOutGetID(MidiHandle handle, unsigned& device) = 0;

    // --- Shell and window manager ---
    // parameters: nullopt stands for a null pointer, which differs from an empty string.
    virtual std::intptr_t ShellExec(WindowHandle owner, const std::wstring& operation,
                                    const std::wstring& file,
                                    const std::optional<std::wstring>& parameters,
                                    const std::wstring& directory, int showCommand) = 0;
    // False when the shell did not take it (not ready yet, or it timed out). An icon that was
    // added is put at NOTIFYICON_VERSION_4.
    virtual bool NotifyIcon(TrayOp operation, const NotifyIconData& data) = 0;
    // WM_TIMER with wParam id to window every milliseconds, until KillTimer.
    virtual void SetTimer(WindowHandle window, std::uintptr_t id, unsigned milliseconds) = 0;
    virtual void KillTimer(WindowHandle window, std::uintptr_t id) = 0;
    virtual bool RegisterHotKey(WindowHandle window, int id, unsigned modifiers, unsigned key) = 0;
    virtual bool UnregisterHotKey(WindowHandle window, int id) = 0;
    virtual WndProcValue SetWndProc(WindowHandle window, int index, WndProcValue value) = 0;
    virtual LResult CallWndProc(WndProcValue previous, WindowHandle window, std::uint32_t message,
                                WParam wParam, LParam lParam) = 0;
    // The value that stands for the program's own WindowProc when it is installed.
    virtual WndProcValue WindowProcAddress() = 0;

    // --- Windows of the program ---
    virtual bool AnotherInstanceRunning() = 0;
    // Creates the hidden frmMain window and returns its handle.
    virtual WindowHandle LoadMainWindow() = 0;
    // Destroys frmMain after its unload handler has run; the message loop then ends.
    virtual void DestroyMainWindow() = 0;
    // Shows mnuRC at the mouse position and returns the item chosen once the menu has closed.
    virtual MenuChoice PopupMenu(WindowHandle owner) = 0;
    virtual int MsgBox(const std::wstring& text, const std::wstring& title, unsigned style) = 0;
    // Shows the configuration dialog modally; returns after it has been closed.
    virtual void ShowConfigModal() = 0;
    // Opens the configuration dialog without blocking, or brings the open one to the front.
    virtual void ShowConfigModeless() = 0;
    // Destroys the configuration dialog's window when there is one. Called from inside the
    // dialog's own handlers too, so the window may only go once they have returned.
    virtual void UnloadConfig() = 0;
    // The system's file-open dialog. filter is in the "name|pattern" form; returns the chosen
    // path, or nullopt when the user cancelled.
    virtual std::optional<std::wstring> OpenFileDialog(unsigned flags, const std::wstring& filter,
                                                       const std::wstring& initialFile) = 0;
    // Dispatches the window messages that are waiting, once.
    virtual void DoEvents() = 0;
    // Ends the process at once, without unload handlers. The simulated host records it and
    // returns; callers stop by returning.
    virtual void EndAtOnce() = 0;

    // --- Files ---
    // The program's folder, without a trailing backslash unless it is a drive's root ("C:\").
    virtual std::wstring ProgramFolder() = 0;
    // File attributes (1 read-only, 2 hidden, 4 system, 16 folder) or nullopt when nothing of
    // that name exists.
    virtual std::optional<std::uint32_t> FileAttributes(const std::wstring& path) = 0;
    // Reads a whole file, refusing files larger than maxBytes (TooLarge) before reading them.
    virtual FileStatus ReadWholeFile(const std::wstring& path, std::vector<std::uint8_t>& bytes,
                                     std::size_t maxBytes) = 0;
    // Replaces the whole file with bytes (creating it when absent) as one step: they are written
    // to "<path>.tmp" beside it and flushed, and that file is then swapped in with write-through,
    // keeping the old file's hidden and system attributes. A forced end at any moment leaves the
    // old file or the new one, never a mix; after a failure the old file is as it was.
    virtual FileStatus ReplaceFileContents(const std::wstring& path,
                                           const std::vector<std::uint8_t>& bytes) = 0;
    // Copies a file, overwriting the target; used to keep a backup of a damaged settings file.
    virtual FileStatus CopyFileTo(const std::wstring& from, const std::wstring& to) = 0;
};

}  // namespace vos
