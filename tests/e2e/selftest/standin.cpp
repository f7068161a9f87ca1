// Stand-in GUI program for proving the end-to-end harness itself.
//
// It behaves, in outline, the way the tray program is expected to behave
// (hidden main window, tray icon, MIDI in through window messages, MIDI out,
// launching a file on a note-on), so the harness can be tested end to end
// before and independently of the real program. Never shipped.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// (the headers below need windows.h first)
#include <mmsystem.h>
#include <shellapi.h>

#include <string>

namespace {

constexpr UINT kTrayMessage = WM_USER + 1;
constexpr UINT kTrayId = 1;
constexpr int kHotkeyId = 1;
enum : UINT { kMenuConfig = 101, kMenuHelp = 102, kMenuExit = 103 };

HMIDIIN g_in = nullptr;
HMIDIOUT g_out = nullptr;
MIDIHDR g_hdr{};
char g_buf[1024];
bool g_closing = false;
std::wstring g_dir;

void launch(HWND hwnd, const std::wstring& args) {
    std::wstring exe = g_dir + L"\\recorder.exe";
    ShellExecuteW(hwnd, L"open", exe.c_str(), args.c_str(), g_dir.c_str(), SW_SHOWNORMAL);
}

void shut_midi() {
    if (g_closing) return;
    g_closing = true;
    if (g_in) {
        midiInStop(g_in);
        midiInReset(g_in);
        midiInUnprepareHeader(g_in, &g_hdr, sizeof g_hdr);
        midiInClose(g_in);
        g_in = nullptr;
    }
    if (g_out) {
        midiOutReset(g_out);
        midiOutClose(g_out);
        g_out = nullptr;
    }
}

void remove_tray(HWND hwnd) {
    NOTIFYICONDATAW nid{};
    nid.cbSize = sizeof nid;
    nid.hWnd = hwnd;
    nid.uID = kTrayId;
    Shell_NotifyIconW(NIM_DELETE, &nid);
}

void show_menu(HWND hwnd) {
    HMENU m = CreatePopupMenu();
    AppendMenuW(m, MF_STRING, kMenuConfig, L"設定(&C)...");
    AppendMenuW(m, MF_STRING, kMenuHelp, L"ヘルプ(&H)");
    AppendMenuW(m, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(m, MF_STRING, kMenuExit, L"終了(&X)");
    POINT pt;
    GetCursorPos(&pt);
    // the owner must be foreground or the menu never closes on an outside click
    SetForegroundWindow(hwnd);
    TrackPopupMenu(m, TPM_RIGHTBUTTON, pt.x, pt.y, 0, hwnd, nullptr);
    PostMessageW(hwnd, WM_NULL, 0, 0);
    DestroyMenu(m);
}

LRESULT CALLBACK wndproc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case MM_MIM_DATA: {
            DWORD m = static_cast<DWORD>(lp);
            if (g_out) midiOutShortMsg(g_out, m);
            BYTE status = m & 0xFF, note = (m >> 8) & 0x7F, vel = (m >> 16) & 0x7F;
            if ((status & 0xF0) == 0x90 && vel > 0)
                launch(hwnd, L"note " + std::to_wstring(note) + L" \"ファイル 名.txt\"");
            return 0;
        }
        case MM_MIM_LONGDATA:
            if (!g_closing && g_in) midiInAddBuffer(g_in, &g_hdr, sizeof g_hdr);
            return 0;
        case kTrayMessage:
            if (lp == WM_LBUTTONDOWN)
                launch(hwnd, L"tray-left");
            else if (lp == WM_RBUTTONDOWN)
                show_menu(hwnd);
            return 0;
        case WM_COMMAND:
            switch (LOWORD(wp)) {
                case kMenuConfig:
                    launch(hwnd, L"menu-config");
                    break;
                case kMenuHelp:
                    launch(hwnd, L"menu-help");
                    break;
                case kMenuExit:
                    DestroyWindow(hwnd);
                    break;
            }
            return 0;
        case WM_HOTKEY:
            launch(hwnd, L"hotkey");
            return 0;
        case WM_DEVICECHANGE:
            // where is my input now? (the harness checks the broadcast arrives)
            if (wp == 0x0007 && g_in) {
                UINT id = 0;
                midiInGetID(g_in, &id);
            }
            return TRUE;
        case WM_QUERYENDSESSION:
            return TRUE;
        case WM_ENDSESSION:
            if (wp) {
                shut_midi();
                remove_tray(hwnd);
            }
            return 0;
        case WM_DESTROY:
            shut_midi();
            remove_tray(hwnd);
            UnregisterHotKey(hwnd, kHotkeyId);
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

void open_midi(HWND hwnd) {
    if (midiInGetNumDevs() == 0) {
        MessageBoxW(hwnd, L"MIDI 入力デバイスがありません。", L"Vosselmar", MB_OK | MB_ICONWARNING);
        return;
    }
    MIDIINCAPSW caps{};
    midiInGetDevCapsW(0, &caps, sizeof caps);
    MMRESULT r = midiInOpen(&g_in, 0, reinterpret_cast<DWORD_PTR>(hwnd), 0, CALLBACK_WINDOW);
    if (r != MMSYSERR_NOERROR) {
        g_in = nullptr;
        std::wstring text = L"MIDI 入力「" + std::wstring(caps.szPname) +
                            L"」を開けません。\r\nエラー " + std::to_wstring(r);
        MessageBoxW(hwnd, text.c_str(), L"Vosselmar", MB_OK | MB_ICONERROR);
        return;
    }
    g_hdr.lpData = g_buf;
    g_hdr.dwBufferLength = sizeof g_buf;
    midiInPrepareHeader(g_in, &g_hdr, sizeof g_hdr);
    midiInAddBuffer(g_in, &g_hdr, sizeof g_hdr);
    if (midiOutGetNumDevs() > 0 && midiOutOpen(&g_out, 0, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR)
        g_out = nullptr;
    midiInStart(g_in);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE, LPWSTR, int) {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    g_dir = path;
    g_dir.resize(g_dir.find_last_of(L'\\'));

    if (MessageBoxW(nullptr, L"セルフテストを始めます。\r\nMIDI を開きますか?", L"Vosselmar",
                    MB_YESNO | MB_ICONQUESTION) != IDYES)
        return 3;

    WNDCLASSW wc{};
    wc.lpfnWndProc = wndproc;
    wc.hInstance = inst;
    wc.lpszClassName = L"VosStandIn";
    RegisterClassW(&wc);
    HWND hwnd = CreateWindowExW(0, wc.lpszClassName, L"Form1", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 300, 200, nullptr, nullptr, inst, nullptr);
    if (!hwnd) return 4;

    NOTIFYICONDATAW nid{};
    nid.cbSize = sizeof nid;
    nid.hWnd = hwnd;
    nid.uID = kTrayId;
    nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    nid.uCallbackMessage = kTrayMessage;
    nid.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    lstrcpynW(nid.szTip, L"Vosselmar", ARRAYSIZE(nid.szTip));
    Shell_NotifyIconW(NIM_ADD, &nid);
    RegisterHotKey(hwnd, kHotkeyId, MOD_CONTROL | MOD_NOREPEAT, VK_F12);

    open_midi(hwnd);

    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0) > 0) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
    return 0;
}
