#include "win32_host.h"

#include <cderr.h>
#include <commdlg.h>
#include <dbt.h>
#include <mmsystem.h>
#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>
#include <cstddef>
#include <cwchar>
#include <utility>
#include <vector>

#include "app/frmMain.h"
#include "app/modHook.h"
#include "app/texts.h"
#include "config_dialog/layout.h"
#include "config_window.h"
#include "desktop.h"
#include "midi/modMidiIO.h"
#include "resource.h"
#include "system_library.h"

namespace vos::win32 {
namespace {

// The core hands its MIDIHDR to winmm as is; the two layouts must stay the same.
static_assert(sizeof(MidiHeader) == sizeof(MIDIHDR));
static_assert(offsetof(MidiHeader, Data) == offsetof(MIDIHDR, lpData));
static_assert(offsetof(MidiHeader, BufferLength) == offsetof(MIDIHDR, dwBufferLength));
static_assert(offsetof(MidiHeader, BytesRecorded) == offsetof(MIDIHDR, dwBytesRecorded));
static_assert(offsetof(MidiHeader, User) == offsetof(MIDIHDR, dwUser));
static_assert(offsetof(MidiHeader, Flags) == offsetof(MIDIHDR, dwFlags));
static_assert(offsetof(MidiHeader, Next) == offsetof(MIDIHDR, lpNext));
static_assert(offsetof(MidiHeader, Offset) == offsetof(MIDIHDR, dwOffset));
static_assert(sizeof(WindowHandle) == sizeof(HWND) && sizeof(LParam) == sizeof(LPARAM));

constexpr wchar_t kMainClass[] = L"VosselmarMain";
constexpr wchar_t kMutexName[] = L"Local\\Vosselmar.SingleInstance";
constexpr UINT kCmdConfig = 1, kCmdHelp = 2, kCmdEnd = 3;

// The longest path the file-open dialog can return, with its terminating NUL.
constexpr std::size_t kLongPathChars = 32768;

// frmMain's client area is 2115 x 810 twips; it is never shown, but keep its size honest.
constexpr int kFormWidthTwips = 2115, kFormHeightTwips = 810;

HWND Hwnd(WindowHandle h) { return reinterpret_cast<HWND>(h); }
HMIDIIN In(MidiHandle h) { return reinterpret_cast<HMIDIIN>(h); }
HMIDIOUT Out(MidiHandle h) { return reinterpret_cast<HMIDIOUT>(h); }
MIDIHDR* Hdr(MidiHeader* h) { return reinterpret_cast<MIDIHDR*>(h); }
// A negative index reaches winmm as the unsigned value, as it would from any caller.
UINT_PTR DeviceId(int device) { return static_cast<UINT_PTR>(static_cast<UINT>(device)); }

FileStatus FromError(DWORD error, const std::wstring& path) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return FileStatus::NotFound;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return FileStatus::DiskFull;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT: {
            DWORD attributes = GetFileAttributesW(path.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                return FileStatus::IsFolder;
            }
            return FileStatus::AccessDenied;
        }
        default:
            return FileStatus::OtherError;
    }
}

}  // namespace

Win32Host::Win32Host(HINSTANCE instance, const Winmm& winmm) : instance_(instance), winmm_(winmm) {}

// The members go in the order that matters: the dialog, then the main window, then what they used.
Win32Host::~Win32Host() = default;

// --- MIDI ---

unsigned Win32Host::midiInGetNumDevs() { return winmm_->midiInGetNumDevs(); }
unsigned Win32Host::midiOutGetNumDevs() { return winmm_->midiOutGetNumDevs(); }

MmResult Win32Host::midiInGetDevName(int device, std::wstring& name) {
    MIDIINCAPSW caps{};
    MMRESULT r = winmm_->midiInGetDevCapsW(DeviceId(device), &caps, sizeof caps);
    name.assign(caps.szPname, wcsnlen(caps.szPname, MAXPNAMELEN));
    return r;
}

MmResult Win32Host::midiOutGetDevName(int device, std::wstring& name) {
    MIDIOUTCAPSW caps{};
    MMRESULT r = winmm_->midiOutGetDevCapsW(DeviceId(device), &caps, sizeof caps);
    name.assign(caps.szPname, wcsnlen(caps.szPname, MAXPNAMELEN));
    return r;
}

MmResult Win32Host::midiInOpen(MidiHandle& handle, int device, WindowHandle callback,
                               std::uintptr_t instance, std::uint32_t flags) {
    HMIDIIN h = nullptr;
    MMRESULT r = winmm_->midiInOpen(&h, static_cast<UINT>(device), callback, instance, flags);
    handle = reinterpret_cast<MidiHandle>(h);
    return r;
}

MmResult Win32Host::midiInPrepareHeader(MidiHandle handle, MidiHeader* header, std::uint32_t size) {
    return winmm_->midiInPrepareHeader(In(handle), Hdr(header), size);
}
MmResult Win32Host::midiInAddBuffer(MidiHandle handle, MidiHeader* header, std::uint32_t size) {
    return winmm_->midiInAddBuffer(In(handle), Hdr(header), size);
}
MmResult Win32Host::midiInStart(MidiHandle handle) { return winmm_->midiInStart(In(handle)); }
MmResult Win32Host::midiInStop(MidiHandle handle) { return winmm_->midiInStop(In(handle)); }
MmResult Win32Host::midiInReset(MidiHandle handle) { return winmm_->midiInReset(In(handle)); }
MmResult Win32Host::midiInUnprepareHeader(MidiHandle handle, MidiHeader* header,
                                          std::uint32_t size) {
    return winmm_->midiInUnprepareHeader(In(handle), Hdr(header), size);
}
MmResult Win32Host::midiInClose(MidiHandle handle) { return winmm_->midiInClose(In(handle)); }

MmResult Win32Host::midiOutOpen(MidiHandle& handle, int device, std::uintptr_t callback,
                                std::uintptr_t instance, std::uint32_t flags) {
    HMIDIOUT h = nullptr;
    MMRESULT r = winmm_->midiOutOpen(&h, static_cast<UINT>(device), callback, instance, flags);
    handle = reinterpret_cast<MidiHandle>(h);
    return r;
}
MmResult Win32Host::midiOutShortMsg(MidiHandle handle, std::uint32_t message) {
    return winmm_->midiOutShortMsg(Out(handle), message);
}
MmResult Win32Host::midiOutClose(MidiHandle handle) { return winmm_->midiOutClose(Out(handle)); }

MmResult Win32Host::midiInGetID(MidiHandle handle, unsigned& device) {
    UINT id = 0;
    MMRESULT r = winmm_->midiInGetID(In(handle), &id);
    device = id;
    return r;
}

MmResult Win32Host::midiOutGetID(MidiHandle handle, unsigned& device) {
    UINT id = 0;
    MMRESULT r = winmm_->midiOutGetID(Out(handle), &id);
    device = id;
    return r;
}

// --- Shell and window manager ---

std::intptr_t Win32Host::ShellExec(WindowHandle owner, const std::wstring& operation,
                                   const std::wstring& file,
                                   const std::optional<std::wstring>& parameters,
                                   const std::wstring& directory, int showCommand) {
    HINSTANCE r =
        ::ShellExecuteW(Hwnd(owner), operation.c_str(), file.c_str(),
                        parameters ? parameters->c_str() : nullptr, directory.c_str(), showCommand);
    return reinterpret_cast<std::intptr_t>(r);
}

HICON Win32Host::TrayIcon(TrayPicture picture) {
    // Loaded at the size the shell draws now, so the tray stays sharp at 150 % and 200 %; each
    // picture only once it is shown, as many users never switch recognition off.
    int size = GetSystemMetrics(SM_CXSMICON);
    if (size != trayIconSize_) {
        trayEnabled_.Reset();
        trayDisabled_.Reset();
        trayIconSize_ = size;
    }
    const bool enabled = picture == kPictureEnabled;
    ScopedIcon& icon = enabled ? trayEnabled_ : trayDisabled_;
    if (!icon) {
        icon = LoadIconResource(instance_, enabled ? IDI_TRAY_ENABLED : IDI_TRAY_DISABLED,
                                IconSize::Small);
    }
    return icon.Get();
}

bool Win32Host::NotifyIcon(TrayOp operation, const NotifyIconData& data) {
    NOTIFYICONDATAW nid{};
    nid.cbSize = sizeof nid;
    nid.hWnd = Hwnd(data.Window);
    nid.uID = data.Id;
    // At NOTIFYICON_VERSION_4 the shell shows the tip only when asked to.
    nid.uFlags = data.Flags | NIF_SHOWTIP;
    nid.uCallbackMessage = data.CallbackMessage;
    nid.hIcon = TrayIcon(data.Icon);
    wcsncpy(nid.szTip, data.Tip.c_str(), ARRAYSIZE(nid.szTip) - 1);
    if (operation != TrayOp::Modify) trayVersion4_ = false;  // a new icon starts at version 0
    if (!::Shell_NotifyIconW(static_cast<DWORD>(operation), &nid)) return false;
    // The version that tells of the keyboard too: Space or Enter on the icon, the menu key. Set on
    // a modify as well when the add that made the icon timed out and was carried out all the same.
    if (operation != TrayOp::Delete && !trayVersion4_) {
        nid.uVersion = NOTIFYICON_VERSION_4;
        trayVersion4_ = ::Shell_NotifyIconW(NIM_SETVERSION, &nid) != FALSE;
    }
    return true;
}

void Win32Host::SetTimer(WindowHandle window, std::uintptr_t id, unsigned milliseconds) {
    ::SetTimer(Hwnd(window), id, milliseconds, nullptr);
}

void Win32Host::KillTimer(WindowHandle window, std::uintptr_t id) { ::KillTimer(Hwnd(window), id); }

bool Win32Host::RegisterHotKey(WindowHandle window, int id, unsigned modifiers, unsigned key) {
    return ::RegisterHotKey(Hwnd(window), id, modifiers, key) != FALSE;
}

bool Win32Host::UnregisterHotKey(WindowHandle window, int id) {
    return ::UnregisterHotKey(Hwnd(window), id) != FALSE;
}

WndProcValue Win32Host::SetWndProc(WindowHandle window, int index, WndProcValue value) {
    return ::SetWindowLongPtrW(Hwnd(window), index, value);
}

LResult Win32Host::CallWndProc(WndProcValue previous, WindowHandle window, std::uint32_t message,
                               WParam wParam, LParam lParam) {
    return ::CallWindowProcW(reinterpret_cast<WNDPROC>(previous), Hwnd(window), message, wParam,
                             lParam);
}

WndProcValue Win32Host::WindowProcAddress() { return reinterpret_cast<WndProcValue>(&HookProc); }

LRESULT CALLBACK Win32Host::HookProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<Win32Host*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    // The menu the keyboard asks for opens at the icon (wParam at NOTIFYICON_VERSION_4), not at
    // the mouse pointer, wherever that is.
    if (message == kTrayCallback) {
        self->menuAnchor_.reset();
        if (LOWORD(lParam) == WM_CONTEXTMENU) {
            self->menuAnchor_ = POINT{GET_X_LPARAM(wParam), GET_Y_LPARAM(wParam)};
        }
    }
    return vos::WindowProc(*self->app_, reinterpret_cast<WindowHandle>(hwnd), message, wParam,
                           lParam);
}

LRESULT CALLBACK Win32Host::FormProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<Win32Host*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr || self->app_ == nullptr)
        return DefWindowProcW(hwnd, message, wParam, lParam);
    return self->HandleFormMessage(hwnd, message, wParam, lParam);
}

LRESULT Win32Host::HandleFormMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == taskbarCreated_ && taskbarCreated_ != 0) {
        OnTaskbarCreated(*app_);
        return 0;
    }
    switch (message) {
        case WM_CLOSE:
            UnloadMain(*app_);
            return 0;
        case WM_QUERYENDSESSION:
            return TRUE;
        case MM_MIM_DATA:
            Form_MidiData(*app_, static_cast<std::uint32_t>(lParam));
            return 0;
        case WM_DEVICECHANGE:
            // Once the program runs, WindowProc has seen it before it was passed on to here.
            if (!app_->Running() && wParam == DBT_DEVNODES_CHANGED) CheckDevices(*app_);
            return TRUE;
        case WM_ENDSESSION:
            // The session ends: the same path as Exit, so the program is gone even where the
            // system waits for it rather than ending it.
            if (wParam) UnloadMain(*app_);
            return 0;
        case WM_DESTROY:
            mainWindow_.Release();
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

// --- Windows of the program ---

bool Win32Host::AnotherInstanceRunning() {
    instanceMutex_.Reset(CreateMutexW(nullptr, FALSE, kMutexName));
    return GetLastError() == ERROR_ALREADY_EXISTS;
}

WindowHandle Win32Host::LoadMainWindow() {
    taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
    // No icons: the window is never shown, and the dialog has its own.
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &FormProc;
    wc.hInstance = instance_;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kMainClass;
    RegisterClassExW(&wc);

    const int dpi = SystemDpi();
    RECT r{0, 0, layout::ToPixels(kFormWidthTwips, dpi), layout::ToPixels(kFormHeightTwips, dpi)};
    AdjustWindowRectEx(&r, WS_OVERLAPPEDWINDOW, FALSE, 0);
    mainWindow_.Reset(CreateWindowExW(0, kMainClass, L"Form1", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                      CW_USEDEFAULT, r.right - r.left, r.bottom - r.top, nullptr,
                                      nullptr, instance_, this));

    menu_.Reset(CreatePopupMenu());
    AppendMenuW(menu_.Get(), MF_STRING, kCmdConfig, Text(text::kMenuConfig));
    AppendMenuW(menu_.Get(), MF_STRING, kCmdHelp, Text(text::kMenuHelp));
    AppendMenuW(menu_.Get(), MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu_.Get(), MF_STRING, kCmdEnd, Text(text::kMenuEnd));
    return reinterpret_cast<WindowHandle>(mainWindow_.Get());
}

void Win32Host::DestroyMainWindow() { mainWindow_.Reset(); }

MenuChoice Win32Host::PopupMenu(WindowHandle owner) {
    POINT pt{};
    const bool fromKeyboard = menuAnchor_.has_value();
    if (fromKeyboard) {
        pt = *std::exchange(menuAnchor_, std::nullopt);
    } else {
        GetCursorPos(&pt);
    }
    // Without the foreground the menu would not close when the user clicks elsewhere.
    SetForegroundWindow(Hwnd(owner));
    UINT cmd = static_cast<UINT>(TrackPopupMenu(menu_.Get(), TPM_RETURNCMD | TPM_NONOTIFY, pt.x,
                                                pt.y, 0, Hwnd(owner), nullptr));
    PostMessageW(Hwnd(owner), WM_NULL, 0, 0);
    if (fromKeyboard && cmd == 0) {
        // Esc: the keyboard goes back to the notification area, where it came from.
        NOTIFYICONDATAW nid{};
        nid.cbSize = sizeof nid;
        nid.hWnd = Hwnd(owner);
        ::Shell_NotifyIconW(NIM_SETFOCUS, &nid);
    }
    switch (cmd) {
        case kCmdConfig:
            return MenuChoice::mnuRCConfig;
        case kCmdHelp:
            return MenuChoice::mnuRCHelp;
        case kCmdEnd:
            return MenuChoice::mnuRCEnd;
        default:
            return MenuChoice::None;
    }
}

int Win32Host::MsgBox(const std::wstring& text, const std::wstring& title, unsigned style) {
    // Owned by the open dialog, so the dialog cannot be used (OK pressed again) behind its own
    // question; the hidden main window keeps receiving MIDI, hotkey and tray messages regardless.
    std::shared_ptr<ConfigWindow> dialog = dialog_;
    HWND owner = dialog && dialog->IsOpen() ? dialog->Hwnd() : nullptr;
    return MessageBoxW(owner, text.c_str(), title.c_str(), style);
}

// --- The configuration dialog ---

HWND Win32Host::ConfigWindowHandle() const { return dialog_ ? dialog_->Hwnd() : nullptr; }

bool Win32Host::RouteDialogMessage(MSG& msg) {
    std::shared_ptr<ConfigWindow> dialog = dialog_;
    return dialog && dialog->PreTranslate(msg);
}

bool Win32Host::PumpMessage(Loop loop, Wait wait) {
    MSG msg;
    if (wait == Wait::Yes) {
        // 0 is WM_QUIT, seen below.
        if (GetMessageW(&msg, nullptr, 0, 0) == -1) return false;
    } else if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        return false;
    }
    if (msg.message == WM_QUIT) {
        if (loop == Loop::Nested) PostQuitMessage(static_cast<int>(msg.wParam));
        return false;
    }
    // Tab and the access keys of the modeless configuration dialog need the dialog manager.
    if (RouteDialogMessage(msg)) return true;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
    return true;
}

void Win32Host::ShowConfigModeless() {
    if (!app_ || !app_->dialog.Config) return;
    if (dialog_ && !dialog_->IsOpen()) dialog_.reset();
    if (!dialog_) {
        dialog_ = ConfigWindow::Open(instance_, *app_, *app_->dialog.Config);
        if (!dialog_) return;
    }
    dialog_->BringToFront();
}

void Win32Host::ShowConfigModal() {
    ShowConfigModeless();
    // This very window, even if another one is opened meanwhile.
    std::shared_ptr<ConfigWindow> dialog = dialog_;
    if (!dialog) return;
    dialog->Flush();
    while (dialog->IsOpen() && PumpMessage(Loop::Nested, Wait::Yes)) {
    }
}

void Win32Host::UnloadConfig() {
    // The window goes now; the object goes when the last handler that runs in it has returned.
    std::shared_ptr<ConfigWindow> dialog = std::move(dialog_);
    if (dialog) dialog->Close();
}

std::optional<std::wstring> Win32Host::OpenFileDialog(unsigned flags, const std::wstring& filter,
                                                      const std::wstring& initialFile) {
    static const auto getOpenFileName =
        OnDemandFunction<decltype(&GetOpenFileNameW)>(OnDemand::Comdlg32, "GetOpenFileNameW");
    static const auto extendedError = OnDemandFunction<decltype(&CommDlgExtendedError)>(
        OnDemand::Comdlg32, "CommDlgExtendedError");
    // Without the system's file dialog the path box still takes a path typed in; say so, or the
    // button would seem to do nothing.
    if (!getOpenFileName || !extendedError) {
        MsgBox(Text(text::kNoFileDialog), kTitle, MB_ICONEXCLAMATION);
        return std::nullopt;
    }
    std::shared_ptr<ConfigWindow> dialog = dialog_;
    HWND owner = nullptr;
    if (dialog && dialog->IsOpen()) {
        dialog->Flush();
        owner = dialog->Hwnd();
    }
    const std::wstring filters = MakeFilterList(filter);
    // Room for the longest path Windows can hand back, so no choice is ever refused as too long.
    std::vector<wchar_t> file(kLongPathChars, L'\0');
    initialFile.copy(file.data(), std::min(initialFile.size(), file.size() - 1));

    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filters.empty() ? nullptr : filters.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    // Browsing must not move the program's current folder: launched programs inherit it.
    ofn.Flags = flags | OFN_EXPLORER | OFN_NOCHANGEDIR;
    if (getOpenFileName(&ofn)) return std::wstring(file.data());
    // The path box may hold anything, such as a web address. Rather than refuse to open, the
    // dialog then starts with an empty name; the caller keeps the text when nothing is chosen.
    if (extendedError() == FNERR_INVALIDFILENAME) {
        file[0] = L'\0';
        if (getOpenFileName(&ofn)) return std::wstring(file.data());
    }
    return std::nullopt;
}

void Win32Host::DoEvents() {
    if (dialog_) dialog_->Flush();
    while (PumpMessage(Loop::Nested, Wait::No)) {
    }
}

void Win32Host::EndAtOnce() { ExitProcess(0); }

// --- Files ---

std::wstring Win32Host::ProgramFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    std::size_t slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos) return path;
    path.resize(slash);
    // "C:" alone would mean the drive's current folder; the root needs its backslash.
    if (path.size() == 2 && path[1] == L':') path.push_back(L'\\');
    return path;
}

std::optional<std::uint32_t> Win32Host::FileAttributes(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
    return attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                         FILE_ATTRIBUTE_DIRECTORY);
}

FileStatus Win32Host::ReadWholeFile(const std::wstring& path, std::vector<std::uint8_t>& bytes,
                                    std::size_t maxBytes) {
    ScopedFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return FromError(GetLastError(), path);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size)) return FromError(GetLastError(), path);
    if (static_cast<unsigned long long>(size.QuadPart) > maxBytes) return FileStatus::TooLarge;
    bytes.assign(static_cast<std::size_t>(size.QuadPart), 0);
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
        if (!::ReadFile(file.Get(), bytes.data() + done, want, &got, nullptr)) {
            return FromError(GetLastError(), path);
        }
        if (got == 0) break;
        done += got;
    }
    bytes.resize(done);
    return FileStatus::Ok;
}

FileStatus Win32Host::ReplaceFileContents(const std::wstring& path,
                                          const std::vector<std::uint8_t>& bytes) {
    const DWORD old = GetFileAttributesW(path.c_str());
    if (old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_DIRECTORY)) {
        return FileStatus::IsFolder;
    }
    // A read-only file is one the user does not want changed, whoever may write it.
    if (old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_READONLY)) {
        return FileStatus::AccessDenied;
    }
    const std::wstring temporary = path + L".tmp";
    // What a save cut short left behind is of no use, and may not be writable as it is.
    SetFileAttributesW(temporary.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(temporary.c_str());
    FileStatus status = FileStatus::Ok;
    {
        ScopedFile file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return FromError(GetLastError(), temporary);
        std::size_t done = 0;
        while (status == FileStatus::Ok && done < bytes.size()) {
            DWORD wrote = 0;
            DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
            if (!::WriteFile(file.Get(), bytes.data() + done, want, &wrote, nullptr) || wrote == 0) {
                DWORD error = GetLastError();
                status = error == ERROR_SUCCESS ? FileStatus::DiskFull : FromError(error, temporary);
            }
            done += wrote;
        }
        // On disk before the swap, so the swap can never reveal a file still being written.
        if (status == FileStatus::Ok && !FlushFileBuffers(file.Get())) {
            status = FromError(GetLastError(), temporary);
        }
    }
    if (status == FileStatus::Ok &&
        !MoveFileExW(temporary.c_str(), path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        status = FromError(GetLastError(), path);
    }
    if (status != FileStatus::Ok) {
        DeleteFileW(temporary.c_str());
        return status;
    }
    // A user who hid the file keeps it hidden.
    const DWORD kept = old == INVALID_FILE_ATTRIBUTES
                           ? 0
                           : old & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    if (kept != 0) SetFileAttributesW(path.c_str(), kept);
    return FileStatus::Ok;
}

FileStatus Win32Host::CopyFileTo(const std::wstring& from, const std::wstring& to) {
    if (::CopyFileW(from.c_str(), to.c_str(), FALSE)) return FileStatus::Ok;
    return FromError(GetLastError(), to);
}

}  // namespace vos::win32
