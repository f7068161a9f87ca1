/*
 * Launch target for end-to-end runs: records how it was started.
 *
 * Appends one line to the file named by VOS_RECORDER_LOG: the command line
 * exactly as the process received it (UTF-8), a tab, the current directory,
 * CR LF. Many launches may land at once, so the line goes out in a single
 * append-only write and lines from different processes never interleave.
 * No window, no message loop: it is done before the launcher's next step.
 *
 * With VOS_RECORDER_STAMP set (to anything), the line gets a third field:
 * the process's creation time in 100 ns units. Launches started one after
 * the other can then be put in the order they were started, whatever order
 * their lines landed in.
 */
#define WIN32_LEAN_AND_MEAN
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>
#include <windows.h>

static int utf8_append(char* out, int at, int cap, const WCHAR* w) {
    int n = WideCharToMultiByte(CP_UTF8, 0, w, (int)wcslen(w), out + at, cap - at, NULL, NULL);
    return at + (n > 0 ? n : 0);
}

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE prev, LPWSTR cmd, int show) {
    WCHAR path[MAX_PATH * 2];
    WCHAR cwd[MAX_PATH * 2];
    const WCHAR* line = GetCommandLineW();
    DWORD n, written;
    int cap, len;
    char* buf;
    HANDLE f;
    (void)inst;
    (void)prev;
    (void)cmd;
    (void)show;

    n = GetEnvironmentVariableW(L"VOS_RECORDER_LOG", path, MAX_PATH * 2);
    if (n == 0 || n >= MAX_PATH * 2) return 2;
    if (!GetCurrentDirectoryW(MAX_PATH * 2, cwd)) cwd[0] = 0;

    cap = (int)(wcslen(line) + wcslen(cwd)) * 4 + 40;
    buf = (char*)malloc((size_t)cap);
    if (!buf) return 3;
    len = utf8_append(buf, 0, cap, line);
    buf[len++] = '\t';
    len = utf8_append(buf, len, cap, cwd);
    if (GetEnvironmentVariableW(L"VOS_RECORDER_STAMP", NULL, 0) > 0) {
        FILETIME created, exited, kernel, user;
        WCHAR stamp[32];
        if (GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
            swprintf(stamp, 32, L"\t%llu",
                     ((unsigned long long)created.dwHighDateTime << 32) | created.dwLowDateTime);
            len = utf8_append(buf, len, cap, stamp);
        }
    }
    buf[len++] = '\r';
    buf[len++] = '\n';

    f = CreateFileW(path, FILE_APPEND_DATA | SYNCHRONIZE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL, NULL);
    if (f == INVALID_HANDLE_VALUE) return 4;
    if (!WriteFile(f, buf, (DWORD)len, &written, NULL) || written != (DWORD)len) {
        CloseHandle(f);
        return 5;
    }
    CloseHandle(f);
    free(buf);
    return 0;
}
