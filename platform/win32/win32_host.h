// The real platform: each Host call goes straight to the Windows API.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>

#include "app/app.h"
#include "platform/host.h"
#include "scoped.h"
#include "winmm_api.h"

namespace vos::win32 {

class ConfigWindow;

class Win32Host final : public Host {
  public:
    // winmm must have loaded (Winmm::Loaded) and outlive the host.
    Win32Host(HINSTANCE instance, const Winmm& winmm);
    ~Win32Host() override;
    // The core state the window procedures report to; set once, before Main.
    void Attach(App* app) { app_ = app; }
    // The one message pump of the program, for the main loop and the loops nested in it (a modal
    // dialog, DoEvents): takes the next message, waiting for one or not, and hands it on. False
    // when the loop has nothing more to do: no message is waiting, or the program is ending. A
    // nested loop puts the quit message back, so that the loops around it end too.
    enum class Loop { Main, Nested };
    enum class Wait { Yes, No };
    bool PumpMessage(Loop loop, Wait wait);
    // Lets the open configuration dialog handle Tab, access keys, Enter and Esc. True when the
    // message has been handled.
    bool RouteDialogMessage(MSG& msg);
    // The configuration dialog's window while one is open, else null.
    HWND ConfigWindowHandle() const;

    unsigned midiInGetNumDevs() override;
    unsigned midiOutGetNumDevs() override;
    MmResult midiInGetDevName(int device, std::wstring& name) override;
    MmResult midiOutGetDevName(int device, std::wstring& name) override;
    MmResult midiInOpen(MidiHandle& handle, int device, WindowHandle callback,
                        std::uintptr_t instance, std::uint32_t flags) override;
    MmResult midiInPrepareHeader(MidiHandle handle, MidiHeader* header,
                                 std::uint32_t size) override;
    MmResult midiInAddBuffer(MidiHandle handle, MidiHeader* header, std::uint32_t size) override;
    MmResult midiInStart(MidiHandle handle) override;
    MmResult midiInStop(MidiHandle handle) override;
    MmResult midiInReset(MidiHandle handle) override;
    MmResult midiInUnprepareHeader(MidiHandle handle, MidiHeader* header,
                                   std::uint32_t size) override;
    MmResult midiInClose(MidiHandle handle) override;
    MmResult midiOutOpen(MidiHandle& handle, int device, std::uintptr_t callback,
                         std::uintptr_t instance, std::uint32_t flags) override;
    MmResult midiOutShortMsg(MidiHandle handle, std::uint32_t message) override;
    MmResult midiOutClose(MidiHandle handle) override;
    MmResult midiInGetID(MidiHandle handle, unsigned& device) override;
    MmResult midiOutGetID(MidiHandle handle, unsigned& device) override;

    std::intptr_t ShellExec(WindowHandle owner, const std::wstring& operation,
                            const std::wstring& file, const std::optional<std::wstring>& parameters,
                            const std::wstring& directory, int showCommand) override;
    bool NotifyIcon(TrayOp operation, const NotifyIconData& data) override;
    void SetTimer(WindowHandle window, std::uintptr_t id, unsigned milliseconds) override;
    void KillTimer(WindowHandle window, std::uintptr_t id) override;
    bool RegisterHotKey(WindowHandle window, int id, unsigned modifiers, unsigned key) override;
    bool UnregisterHotKey(WindowHandle window, int id) override;
    WndProcValue SetWndProc(WindowHandle window, int index, WndProcValue value) override;
    LResult CallWndProc(WndProcValue previous, WindowHandle window, std::uint32_t message,
                        WParam wParam, LParam lParam) override;
    WndProcValue WindowProcAddress() override;

    bool AnotherInstanceRunning() override;
    WindowHandle LoadMainWindow() override;
    void DestroyMainWindow() override;
    MenuChoice PopupMenu(WindowHandle owner) override;
    int MsgBox(const std::wstring& text, const std::wstring& title, unsigned style) override;
    void ShowConfigModal() override;
    void ShowConfigModeless() override;
    void UnloadConfig() override;
    std::optional<std::wstring> OpenFileDialog(unsigned flags, const std::wstring& filter,
                                               const std::wstring& initialFile) override;
    void DoEvents() override;
    void EndAtOnce() override;

    std::wstring ProgramFolder() override;
    std::optional<std::uint32_t> FileAttributes(const std::wstring& path) override;
    FileStatus ReadWholeFile(const std::wstring& path, std::vector<std::uint8_t>& bytes,
                             std::size_t maxBytes) override;
    FileStatus ReplaceFileContents(const std::wstring& path,
                                   const std::vector<std::uint8_t>& bytes) override;
    FileStatus CopyFileTo(const std::wstring& from, const std::wstring& to) override;

  private:
    static LRESULT CALLBACK FormProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK HookProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleFormMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    HICON TrayIcon(TrayPicture picture);

    HINSTANCE instance_;
    const Winmm& winmm_;
    App* app_ = nullptr;
    UINT taskbarCreated_ = 0;
    ScopedHandle instanceMutex_;
    ScopedMenu menu_;
    ScopedIcon trayEnabled_, trayDisabled_;
    int trayIconSize_ = 0;
    bool trayVersion4_ = false;
    // Where the menu opens when the keyboard asked for it (the icon's place); else at the mouse.
    std::optional<POINT> menuAnchor_;
    // Destroyed before the icons and the menu it uses; WM_DESTROY lets go of it when the window
    // goes by any other way.
    ScopedWindow mainWindow_;
    // The open configuration dialog. Shared, because a window procedure that is running keeps
    // its own reference while the dialog is being unloaded from inside it.
    std::shared_ptr<ConfigWindow> dialog_;
};

}  // namespace vos::win32
