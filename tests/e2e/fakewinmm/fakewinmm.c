/*
 * A stand-in winmm.dll for end-to-end runs under Wine.
 *
 * The run installs it as the prefix's system32\winmm.dll and starts the
 * program under test with WINEDLLOVERRIDES=winmm=n, so every MIDI call it
 * makes lands here instead of in a real driver. The test controls the simulated devices through
 * environment variables and a control file, and reads back what the program did from a call log.
 * See ../README.md for the formats; they are an interface the scenario scripts depend on, so change
 * them only together with lib.sh.
 */
#define _WINMM_ /* define the exports ourselves instead of importing them */
#define WIN32_LEAN_AND_MEAN
#define __USE_MINGW_ANSI_STDIO 1
#include <windows.h>
// (the headers below need windows.h first)
#include <mmsystem.h>
#include <objbase.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#define MAX_DEVS 16
#define NAME_CCH 32 /* szPname is 32 WCHARs: 31 characters and the NUL */
#define MAX_PORTS 32
#define MAX_QUEUE 64
#define MAX_FAILS 32

/* ------------------------------------------------------------------ */
/* Clock and call log                                                  */

static LARGE_INTEGER g_freq;

static ULONGLONG now_ticks(void) {
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return (ULONGLONG)c.QuadPart;
}

static ULONGLONG ticks_to_us(ULONGLONG t) {
    ULONGLONG f = (ULONGLONG)g_freq.QuadPart;
    /* split to avoid overflowing 64 bits on a long-running machine */
    return (t / f) * 1000000ull + (t % f) * 1000000ull / f;
}

/* The log lock also orders a posted message against the log line that
 * records it: a forwarded message can never be logged before the injection
 * that caused it. */
static SRWLOCK g_log_lock = SRWLOCK_INIT;
static HANDLE g_log_file = INVALID_HANDLE_VALUE;
static int g_log_state; /* 0 = not looked up, 1 = open, -1 = no log */

static void utf8_of(const WCHAR* w, char* out, int outsz) {
    int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, out, outsz, NULL, NULL);
    if (n <= 0) out[0] = 0;
    out[outsz - 1] = 0;
}

/* Caller holds g_log_lock. */
static void log_open_locked(void) {
    WCHAR path[MAX_PATH * 2];
    DWORD n;
    if (g_log_state != 0) return;
    g_log_state = -1;
    n = GetEnvironmentVariableW(L"VOS_MIDI_LOG", path, MAX_PATH * 2);
    if (n == 0 || n >= MAX_PATH * 2) return;
    /* Append-only access: every WriteFile lands at the current end of file,
     * even when another process (a second instance) logs to the same file,
     * and the Linux side can read it at any moment. */
    g_log_file = CreateFileW(path, FILE_APPEND_DATA | SYNCHRONIZE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (g_log_file != INVALID_HANDLE_VALUE) g_log_state = 1;
}

/* Caller holds g_log_lock. `t` is the moment to stamp (0 = now). */
static void log_write_locked(ULONGLONG t, const char* fmt, va_list ap) {
    char line[2048];
    int len;
    DWORD written;
    log_open_locked();
    if (g_log_state != 1) return;
    if (t == 0) t = now_ticks();
    len = snprintf(line, sizeof line, "%012llu ", ticks_to_us(t) % 1000000000000ull);
    len += vsnprintf(line + len, sizeof line - (size_t)len - 2, fmt, ap);
    if (len > (int)sizeof line - 3) len = (int)sizeof line - 3;
    line[len++] = '\r';
    line[len++] = '\n';
    WriteFile(g_log_file, line, (DWORD)len, &written, NULL);
}

static void logline(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
static void logline(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    AcquireSRWLockExclusive(&g_log_lock);
    log_write_locked(0, fmt, ap);
    ReleaseSRWLockExclusive(&g_log_lock);
    va_end(ap);
}

static void logline_locked(ULONGLONG t, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
static void logline_locked(ULONGLONG t, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    log_write_locked(t, fmt, ap);
    va_end(ap);
}

/* Handles, pointers and flags print as 0x.. hex, zero as a bare 0. */
typedef struct {
    char s[24];
} hexstr;

static hexstr hx(ULONGLONG v) {
    hexstr h;
    if (v == 0)
        strcpy(h.s, "0");
    else
        snprintf(h.s, sizeof h.s, "0x%llx", v);
    return h;
}
#define HX(v) (hx((ULONGLONG)(v)).s)

/* ------------------------------------------------------------------ */
/* Simulated devices                                                   */

typedef struct {
    char op[24];
    MMRESULT code;
} fail_rule;

typedef struct {
    int used;
    int is_in;
    UINT dev;
    UINT_PTR handle;
    DWORD flags;
    DWORD_PTR cb;
    DWORD_PTR inst;
    int started;
    ULONGLONG start_ticks;
    LPMIDIHDR queue[MAX_QUEUE];
    int nqueue;
    HANDLE claim;         /* named object that makes the device busy for others */
    WCHAR name[NAME_CCH]; /* the device's name when opened: how a new list finds it */
    int dead;             /* its device went away: only close is left */
} port;

static SRWLOCK g_lock = SRWLOCK_INIT;
static INIT_ONCE g_once = INIT_ONCE_STATIC_INIT;
static WCHAR g_in_names[MAX_DEVS][NAME_CCH];
static WCHAR g_out_names[MAX_DEVS][NAME_CCH];
static int g_n_in, g_n_out;
static fail_rule g_fails[MAX_FAILS];
static int g_n_fails;
static port g_ports[MAX_PORTS];
static UINT_PTR g_serial;

/* Caller holds g_lock (or runs before any other thread exists). */
static int parse_names(const WCHAR* list, WCHAR names[MAX_DEVS][NAME_CCH]) {
    int n = 0;
    const WCHAR* p = list;
    if (!list || !*list) return 0;
    while (n < MAX_DEVS) {
        const WCHAR* bar = wcschr(p, L'|');
        size_t len = bar ? (size_t)(bar - p) : wcslen(p);
        if (len > NAME_CCH - 1) len = NAME_CCH - 1; /* a driver can report no more than this */
        memcpy(names[n], p, len * sizeof(WCHAR));
        names[n][len] = 0;
        n++;
        if (!bar) break;
        p = bar + 1;
    }
    return n;
}

static void parse_fails(const WCHAR* list) {
    char buf[1024];
    char *tok, *save = NULL;
    g_n_fails = 0;
    if (!list) return;
    utf8_of(list, buf, sizeof buf);
    for (tok = strtok_r(buf, ", ", &save); tok && g_n_fails < MAX_FAILS;
         tok = strtok_r(NULL, ", ", &save)) {
        char* colon = strchr(tok, ':');
        fail_rule* r = &g_fails[g_n_fails++];
        r->code = MMSYSERR_ALLOCATED; /* "device in use" unless told otherwise */
        if (colon) {
            *colon = 0;
            r->code = (MMRESULT)strtoul(colon + 1, NULL, 0);
        }
        snprintf(r->op, sizeof r->op, "%s", tok);
    }
}

static WCHAR* env_dup(const WCHAR* name) {
    DWORD n = GetEnvironmentVariableW(name, NULL, 0);
    WCHAR* v;
    if (n == 0) return NULL;
    v = (WCHAR*)calloc(n + 1, sizeof(WCHAR));
    if (v) GetEnvironmentVariableW(name, v, n + 1);
    return v;
}

static DWORD WINAPI control_thread(LPVOID arg);

static BOOL CALLBACK init_once(PINIT_ONCE once, PVOID param, PVOID* ctx) {
    WCHAR* v;
    HANDLE th;
    (void)once;
    (void)param;
    (void)ctx;
    QueryPerformanceFrequency(&g_freq);
    v = env_dup(L"VOS_MIDI_IN");
    g_n_in = parse_names(v, g_in_names);
    free(v);
    v = env_dup(L"VOS_MIDI_OUT");
    g_n_out = parse_names(v, g_out_names);
    free(v);
    v = env_dup(L"VOS_MIDI_FAIL");
    parse_fails(v);
    free(v);
    /* The control thread starts with the first MIDI call of the process
     * (never from DllMain, which runs under the loader lock). Starting it
     * before any open succeeds lets a test change the device list or the
     * failure set while the program is still looking for a device. */
    th = CreateThread(NULL, 0, control_thread, NULL, 0, NULL);
    if (th) CloseHandle(th);
    return TRUE;
}

static void ensure_init(void) { InitOnceExecuteOnce(&g_once, init_once, NULL, NULL); }

/* Caller holds g_lock. */
static MMRESULT fail_code(const char* op) {
    int i;
    for (i = 0; i < g_n_fails; i++)
        if (strcmp(g_fails[i].op, op) == 0) return g_fails[i].code;
    return MMSYSERR_NOERROR;
}

/* Caller holds g_lock. */
static port* find_port(UINT_PTR h, int is_in) {
    int i;
    if (h == 0) return NULL;
    for (i = 0; i < MAX_PORTS; i++)
        if (g_ports[i].used && g_ports[i].handle == h && g_ports[i].is_in == is_in)
            return &g_ports[i];
    return NULL;
}

/* How a notification reaches the program, copied out of the port so it can
 * be delivered without holding g_lock. */
typedef struct {
    UINT_PTR handle;
    DWORD kind;
    DWORD_PTR cb;
    DWORD_PTR inst;
} target;

static target target_of(const port* p) {
    target t = {0, 0, 0, 0};
    t.handle = p->handle;
    t.kind = p->flags & CALLBACK_TYPEMASK;
    t.cb = p->cb;
    t.inst = p->inst;
    return t;
}

static const char* msg_name(UINT m) {
    switch (m) {
        case MM_MIM_OPEN:
            return "MM_MIM_OPEN";
        case MM_MIM_CLOSE:
            return "MM_MIM_CLOSE";
        case MM_MIM_DATA:
            return "MM_MIM_DATA";
        case MM_MIM_LONGDATA:
            return "MM_MIM_LONGDATA";
        case MM_MOM_OPEN:
            return "MM_MOM_OPEN";
        case MM_MOM_CLOSE:
            return "MM_MOM_CLOSE";
        case MM_MOM_DONE:
            return "MM_MOM_DONE";
        default:
            return "?";
    }
}

/* Posts (window/thread) or calls (function) a driver notification, the way
 * the system's DriverCallback does. `inject_msg` non-zero makes the log line
 * the injection record the scenario scripts look for. Caller holds neither
 * lock. */
static void deliver(const target* t, UINT m, DWORD_PTR p1, DWORD_PTR p2, int inject) {
    char err[32];
    const char* res = "posted";
    BOOL ok = TRUE;
    ULONGLONG when;

    if (t->kind == CALLBACK_FUNCTION) {
        /* The callback may call back into us (midiOutShortMsg), so log
         * first and call with no lock held. */
        if (inject)
            logline("inject msg=0x%08lx -> called", (unsigned long)p1);
        else
            logline("notify %s h=%s to=function:%s -> called", msg_name(m), HX(t->handle),
                    HX(t->cb));
        if (t->cb) ((LPDRVCALLBACK)t->cb)((HDRVR)t->handle, m, t->inst, p1, p2);
        return;
    }

    AcquireSRWLockExclusive(&g_log_lock);
    when = now_ticks();
    switch (t->kind) {
        case CALLBACK_WINDOW:
            ok = PostMessageW((HWND)t->cb, m, (WPARAM)t->handle, (LPARAM)p1);
            break;
        case CALLBACK_THREAD:
            ok = PostThreadMessageW((DWORD)t->cb, m, (WPARAM)t->handle, (LPARAM)p1);
            break;
        case CALLBACK_EVENT:
            ok = SetEvent((HANDLE)t->cb);
            res = "signalled";
            break;
        default:
            res = "no-callback";
            break;
    }
    if (!ok) {
        snprintf(err, sizeof err, "post-failed:%lu", GetLastError());
        res = err;
    }
    if (inject)
        logline_locked(when, "inject msg=0x%08lx -> %s", (unsigned long)p1, res);
    else
        logline_locked(when, "notify %s h=%s to=%s -> %s", msg_name(m), HX(t->handle), HX(t->cb),
                       res);
    ReleaseSRWLockExclusive(&g_log_lock);
}

static void deliver_if(int have, const target* t, UINT m, DWORD_PTR p1, DWORD_PTR p2) {
    if (have && t->kind != CALLBACK_NULL) deliver(t, m, p1, p2, 0);
}

/* ------------------------------------------------------------------ */
/* Capabilities                                                        */

/* The ANSI names use code page 932, cut at a character boundary so a
 * double-byte character is never split by the 31-byte limit. */
static void name_to_932(const WCHAR* w, char out[NAME_CCH]) {
    char buf[NAME_CCH * 3];
    int i = 0, n;
    n = WideCharToMultiByte(932, 0, w, -1, buf, sizeof buf, NULL, NULL);
    if (n <= 0) buf[0] = 0;
    while (buf[i] && i < NAME_CCH - 1) {
        int step = IsDBCSLeadByteEx(932, (BYTE)buf[i]) ? 2 : 1;
        if (i + step > NAME_CCH - 1) break;
        i += step;
    }
    memcpy(out, buf, (size_t)i);
    out[i] = 0;
}

/* The mapper id is (UINT)-1; callers passing it as UINT_PTR may widen it
 * either way. */
static int is_mapper(UINT_PTR id) { return id == (UINT_PTR)MIDI_MAPPER || id == (UINT_PTR)-1; }

/* Resolves a device id that may also be an open handle, as the system
 * allows. Caller holds g_lock. Returns -1 for a bad id, -2 for the handle of
 * a device that has gone. */
static int resolve_dev(UINT_PTR id, int is_in) {
    int count = is_in ? g_n_in : g_n_out;
    port* p;
    if (!is_in && is_mapper(id)) return count > 0 ? 0 : -1;
    if (id < (UINT_PTR)count) return (int)id;
    p = find_port(id, is_in);
    if (p && p->dead) return -2;
    return p ? (int)p->dev : -1;
}

/* What a call on handle `p` gets before it does anything: a handle never
 * opened (or closed) is invalid; one whose device has gone answers like a
 * driver that is no longer there. */
static MMRESULT handle_state(const port* p) {
    if (!p) return MMSYSERR_INVALHANDLE;
    return p->dead ? MMSYSERR_NODRIVER : MMSYSERR_NOERROR;
}

static MMRESULT get_caps(int is_in, UINT_PTR id, void* caps, UINT cb, int wide, const char* fn) {
    MIDIINCAPSW inw;
    MIDIINCAPSA ina;
    MIDIOUTCAPSW outw;
    MIDIOUTCAPSA outa;
    const void* src;
    size_t srcsz;
    MMRESULT r;
    int dev;
    char name8[NAME_CCH * 3] = "";
    char ids[24];

    ensure_init();
    AcquireSRWLockExclusive(&g_lock);
    dev = resolve_dev(id, is_in);
    r = fail_code(is_in ? "in_caps" : "out_caps");
    if (r == MMSYSERR_NOERROR) {
        if (dev == -2)
            r = MMSYSERR_NODRIVER;
        else if (dev < 0)
            r = MMSYSERR_BADDEVICEID;
        else if (!caps)
            r = MMSYSERR_INVALPARAM;
    }
    if (r == MMSYSERR_NOERROR) {
        const WCHAR* name = is_in ? g_in_names[dev] : g_out_names[dev];
        utf8_of(name, name8, sizeof name8);
        if (is_in) {
            memset(&inw, 0, sizeof inw);
            inw.wMid = 0xFFFF; /* no registered manufacturer */
            inw.wPid = 0xFFFF;
            inw.vDriverVersion = 0x0100;
            wcscpy(inw.szPname, name);
            memset(&ina, 0, sizeof ina);
            ina.wMid = inw.wMid;
            ina.wPid = inw.wPid;
            ina.vDriverVersion = inw.vDriverVersion;
            name_to_932(name, ina.szPname);
            src = wide ? (const void*)&inw : (const void*)&ina;
            srcsz = wide ? sizeof inw : sizeof ina;
        } else {
            memset(&outw, 0, sizeof outw);
            outw.wMid = 0xFFFF; /* no registered manufacturer */
            outw.wPid = 0xFFFF;
            outw.vDriverVersion = 0x0100;
            outw.wTechnology = MOD_MIDIPORT;
            outw.wChannelMask = 0xFFFF;
            wcscpy(outw.szPname, name);
            memset(&outa, 0, sizeof outa);
            outa.wMid = outw.wMid;
            outa.wPid = outw.wPid;
            outa.vDriverVersion = outw.vDriverVersion;
            outa.wTechnology = outw.wTechnology;
            outa.wChannelMask = outw.wChannelMask;
            name_to_932(name, outa.szPname);
            src = wide ? (const void*)&outw : (const void*)&outa;
            srcsz = wide ? sizeof outw : sizeof outa;
        }
        /* like the system: copy what fits in the caller's structure */
        memcpy(caps, src, cb < srcsz ? cb : srcsz);
    }
    ReleaseSRWLockExclusive(&g_lock);
    /* a device index prints in decimal; an open handle used as the id in hex */
    if (id < 0x1000)
        snprintf(ids, sizeof ids, "%u", (unsigned)id);
    else if (is_mapper(id))
        strcpy(ids, "mapper");
    else
        snprintf(ids, sizeof ids, "%s", HX(id));
    if (r == MMSYSERR_NOERROR)
        logline("%s dev=%s size=%u -> 0 name=%s", fn, ids, cb, name8);
    else
        logline("%s dev=%s size=%u -> %u", fn, ids, cb, r);
    return r;
}

/* ------------------------------------------------------------------ */
/* Open / close                                                        */

static HANDLE claim_device(int is_in, int dev, const WCHAR* name) {
    /* A MIDI port is exclusive system-wide: a second opener, in this or
     * another process, gets MMSYSERR_ALLOCATED. A named object held while the
     * port is open models that across processes of the Wine prefix, and it
     * disappears by itself if the holder dies. */
    WCHAR objname[128];
    HANDLE h;
    int i;
    _snwprintf(objname, 127, L"Local\\vos-fakemidi-%ls-%d-", is_in ? L"in" : L"out", dev);
    objname[127] = 0;
    i = (int)wcslen(objname);
    for (; *name && i < 126; name++) objname[i++] = (*name == L'\\') ? L'_' : *name;
    objname[i] = 0;
    h = CreateEventW(NULL, TRUE, FALSE, objname);
    if (h && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(h);
        return NULL;
    }
    return h;
}

static MMRESULT do_open(int is_in, UINT_PTR* phandle, UINT id, DWORD_PTR cb, DWORD_PTR inst,
                        DWORD flags) {
    const char* fn = is_in ? "midiInOpen" : "midiOutOpen";
    MMRESULT r;
    int dev = -1, i;
    port* p = NULL;
    target t = {0, 0, 0, 0};
    char devs[16];
    DWORD kind = flags & CALLBACK_TYPEMASK;

    ensure_init();
    AcquireSRWLockExclusive(&g_lock);
    r = fail_code(is_in ? "in_open" : "out_open");
    if (r == MMSYSERR_NOERROR && !phandle) r = MMSYSERR_INVALPARAM;
    if (r == MMSYSERR_NOERROR && kind != CALLBACK_NULL && kind != CALLBACK_WINDOW &&
        kind != CALLBACK_THREAD && kind != CALLBACK_FUNCTION && kind != CALLBACK_EVENT)
        r = MMSYSERR_INVALFLAG;
    if (r == MMSYSERR_NOERROR) {
        int count = is_in ? g_n_in : g_n_out;
        if (!is_in && id == MIDI_MAPPER)
            dev = count > 0 ? 0 : -1;
        else if (id < (UINT)count)
            dev = (int)id;
        if (dev < 0) r = MMSYSERR_BADDEVICEID;
    }
    if (r == MMSYSERR_NOERROR) {
        for (i = 0; i < MAX_PORTS && !p; i++)
            if (!g_ports[i].used) p = &g_ports[i];
        if (!p) r = MMSYSERR_NOMEM;
    }
    if (r == MMSYSERR_NOERROR) {
        HANDLE claim = claim_device(is_in, dev, is_in ? g_in_names[dev] : g_out_names[dev]);
        if (!claim)
            r = MMSYSERR_ALLOCATED;
        else {
            memset(p, 0, sizeof *p);
            p->used = 1;
            p->is_in = is_in;
            p->dev = (UINT)dev;
            /* fresh value per open, so a handle kept after close is caught */
            p->handle = (is_in ? 0xC1000 : 0xC2000) + (++g_serial) * 0x10;
            p->flags = flags;
            p->cb = cb;
            p->inst = inst;
            p->claim = claim;
            wcscpy(p->name, is_in ? g_in_names[dev] : g_out_names[dev]);
            *phandle = p->handle;
            t = target_of(p);
        }
    }
    ReleaseSRWLockExclusive(&g_lock);

    if (id == MIDI_MAPPER && !is_in)
        strcpy(devs, "mapper");
    else
        snprintf(devs, sizeof devs, "%u", id);
    if (r == MMSYSERR_NOERROR) {
        logline("%s dev=%s cb=%s inst=%s flags=%s -> 0 h=%s", fn, devs, HX(cb), HX(inst), HX(flags),
                HX(t.handle));
        deliver_if(1, &t, is_in ? MM_MIM_OPEN : MM_MOM_OPEN, 0, 0);
    } else {
        logline("%s dev=%s cb=%s inst=%s flags=%s -> %u", fn, devs, HX(cb), HX(inst), HX(flags), r);
    }
    return r;
}

static MMRESULT do_close(int is_in, UINT_PTR h) {
    MMRESULT r;
    port* p;
    target t = {0, 0, 0, 0};
    int have = 0;
    ensure_init();
    AcquireSRWLockExclusive(&g_lock);
    p = find_port(h, is_in);
    r = fail_code(is_in ? "in_close" : "out_close");
    if (r == MMSYSERR_NOERROR && !p) r = MMSYSERR_INVALHANDLE;
    /* the system refuses to close an input that still holds buffers */
    if (r == MMSYSERR_NOERROR && p->nqueue > 0) r = MIDIERR_STILLPLAYING;
    if (r == MMSYSERR_NOERROR) {
        /* a dead handle had its close notice when its device went */
        have = !p->dead;
        t = target_of(p);
        if (p->claim) CloseHandle(p->claim);
        memset(p, 0, sizeof *p);
    }
    ReleaseSRWLockExclusive(&g_lock);
    logline("%s h=%s -> %u", is_in ? "midiInClose" : "midiOutClose", HX(h), r);
    deliver_if(have, &t, is_in ? MM_MIM_CLOSE : MM_MOM_CLOSE, 0, 0);
    return r;
}

/* ------------------------------------------------------------------ */
/* MIDI input                                                          */

UINT WINAPI midiInGetNumDevs(void) {
    UINT n;
    ensure_init();
    AcquireSRWLockShared(&g_lock);
    n = (UINT)g_n_in;
    ReleaseSRWLockShared(&g_lock);
    logline("midiInGetNumDevs -> %u", n);
    return n;
}

MMRESULT WINAPI midiInGetDevCapsW(UINT_PTR id, LPMIDIINCAPSW caps, UINT cb) {
    return get_caps(1, id, caps, cb, 1, "midiInGetDevCapsW");
}

MMRESULT WINAPI midiInGetDevCapsA(UINT_PTR id, LPMIDIINCAPSA caps, UINT cb) {
    return get_caps(1, id, caps, cb, 0, "midiInGetDevCapsA");
}

/* The program's thread must be a single-threaded apartment before it calls
 * the shell (ShellExecute and the file dialog rely on it), and no message
 * tells that from outside. So the first midiInOpen of the process, on the
 * caller's thread, asks COM for the other kind of apartment: a thread that is
 * already single-threaded refuses with RPC_E_CHANGED_MODE; any success is
 * undone at once, so the thread is left as it was found. Logged as
 * "com apartment -> sta", "-> mta" (already multithreaded) or "-> none". */
static LONG g_com_seen;

static void log_com_apartment(void) {
    HRESULT hr;
    char state[32];
    if (InterlockedCompareExchange(&g_com_seen, 1, 0) != 0) return;
    hr = CoInitializeEx(NULL, COINIT_MULTITHREADED);
    if (hr == RPC_E_CHANGED_MODE)
        strcpy(state, "sta");
    else if (hr == S_FALSE)
        strcpy(state, "mta");
    else if (hr == S_OK)
        strcpy(state, "none");
    else
        snprintf(state, sizeof state, "error:0x%08lx", (unsigned long)hr);
    if (SUCCEEDED(hr)) CoUninitialize();
    logline("com apartment -> %s", state);
}

MMRESULT WINAPI midiInOpen(LPHMIDIIN ph, UINT id, DWORD_PTR cb, DWORD_PTR inst, DWORD flags) {
    log_com_apartment();
    return do_open(1, (UINT_PTR*)ph, id, cb, inst, flags);
}

MMRESULT WINAPI midiInClose(HMIDIIN h) { return do_close(1, (UINT_PTR)h); }

/* The system checks the header against the part of MIDIHDR that existed
 * before dwOffset was added. */
#define MIN_HDR_SIZE offsetof(MIDIHDR, dwOffset)

static MMRESULT header_op(int is_in, const char* op, const char* fn, HANDLE hv, LPMIDIHDR hdr,
                          UINT cb) {
    MMRESULT r;
    port* p;
    UINT_PTR h = (UINT_PTR)hv;
    ensure_init();
    AcquireSRWLockExclusive(&g_lock);
    p = find_port(h, is_in);
    r = fail_code(op);
    if (r == MMSYSERR_NOERROR) r = handle_state(p);
    if (r == MMSYSERR_NOERROR && (!hdr || cb < MIN_HDR_SIZE || !hdr->lpData))
        r = MMSYSERR_INVALPARAM;
    if (r == MMSYSERR_NOERROR) {
        if (strcmp(op + (is_in ? 3 : 4), "prepare") == 0) {
            hdr->dwFlags |= MHDR_PREPARED;
            hdr->dwFlags &= ~(DWORD)(MHDR_DONE | MHDR_INQUEUE);
        } else if (strcmp(op + (is_in ? 3 : 4), "unprepare") == 0) {
            if (hdr->dwFlags & MHDR_INQUEUE)
                r = MIDIERR_STILLPLAYING;
            else
                hdr->dwFlags &= ~(DWORD)MHDR_PREPARED;
        } else { /* in_addbuffer */
            if (!(hdr->dwFlags & MHDR_PREPARED))
                r = MIDIERR_UNPREPARED;
            else if (hdr->dwFlags & MHDR_INQUEUE)
                r = MIDIERR_STILLPLAYING;
            else if (p->nqueue >= MAX_QUEUE)
                r = MMSYSERR_NOMEM;
            else {
                hdr->dwFlags |= MHDR_INQUEUE;
                hdr->dwFlags &= ~(DWORD)MHDR_DONE;
                hdr->dwBytesRecorded = 0;
                p->queue[p->nqueue++] = hdr;
            }
        }
    }
    ReleaseSRWLockExclusive(&g_lock);
    logline("%s h=%s size=%u buflen=%lu -> %u", fn, HX(h), cb,
            hdr ? (unsigned long)hdr->dwBufferLength : 0ul, r);
    return r;
}

MMRESULT WINAPI midiInPrepareHeader(HMIDIIN h, LPMIDIHDR hdr, UINT cb) {
    return header_op(1, "in_prepare", "midiInPrepareHeader", h, hdr, cb);
}

MMRESULT WINAPI midiInUnprepareHeader(HMIDIIN h, LPMIDIHDR hdr, UINT cb) {
    return header_op(1, "in_unprepare", "midiInUnprepareHeader", h, hdr, cb);
}

MMRESULT WINAPI midiInAddBuffer(HMIDIIN h, LPMIDIHDR hdr, UINT cb) {
    return header_op(1, "in_addbuffer", "midiInAddBuffer", h, hdr, cb);
}

static MMRESULT in_state(HMIDIIN hv, const char* op, const char* fn, int start) {
    MMRESULT r;
    port* p;
    UINT_PTR h = (UINT_PTR)hv;
    ensure_init();
    AcquireSRWLockExclusive(&g_lock);
    p = find_port(h, 1);
    r = fail_code(op);
    if (r == MMSYSERR_NOERROR) r = handle_state(p);
    if (r == MMSYSERR_NOERROR) {
        if (start && !p->started) p->start_ticks = now_ticks();
        p->started = start;
    }
    ReleaseSRWLockExclusive(&g_lock);
    logline("%s h=%s -> %u", fn, HX(h), r);
    return r;
}

MMRESULT WINAPI midiInStart(HMIDIIN h) { return in_state(h, "in_start", "midiInStart", 1); }

MMRESULT WINAPI midiInStop(HMIDIIN h) { return in_state(h, "in_stop", "midiInStop", 0); }

MMRESULT WINAPI midiInReset(HMIDIIN hv) {
    MMRESULT r;
    port* p;
    target t = {0, 0, 0, 0};
    LPMIDIHDR done[MAX_QUEUE];
    int ndone = 0, i;
    DWORD ms = 0;
    UINT_PTR h = (UINT_PTR)hv;
    ensure_init();
    AcquireSRWLockExclusive(&g_lock);
    p = find_port(h, 1);
    r = fail_code("in_reset");
    if (r == MMSYSERR_NOERROR) r = handle_state(p);
    if (r == MMSYSERR_NOERROR) {
        /* Reset stops input and hands every pending buffer back, marked
         * done, through MM_MIM_LONGDATA, as the system does. */
        p->started = 0;
        for (i = 0; i < p->nqueue; i++) {
            LPMIDIHDR hdr = p->queue[i];
            hdr->dwBytesRecorded = 0;
            hdr->dwFlags &= ~(DWORD)MHDR_INQUEUE;
            hdr->dwFlags |= MHDR_DONE;
            done[ndone++] = hdr;
        }
        p->nqueue = 0;
        if (p->start_ticks) ms = (DWORD)(ticks_to_us(now_ticks() - p->start_ticks) / 1000);
        t = target_of(p);
    }
    ReleaseSRWLockExclusive(&g_lock);
    logline("midiInReset h=%s -> %u returned=%d", HX(h), r, ndone);
    for (i = 0; i < ndone; i++) deliver(&t, MM_MIM_LONGDATA, (DWORD_PTR)done[i], ms, 0);
    return r;
}

MMRESULT WINAPI midiInGetID(HMIDIIN h, LPUINT id) {
    MMRESULT r;
    port* p;
    ensure_init();
    AcquireSRWLockShared(&g_lock);
    p = find_port((UINT_PTR)h, 1);
    r = handle_state(p);
    if (r == MMSYSERR_NOERROR) {
        if (!id)
            r = MMSYSERR_INVALPARAM;
        else
            *id = p->dev;
    }
    ReleaseSRWLockShared(&g_lock);
    if (r == MMSYSERR_NOERROR)
        logline("midiInGetID h=%s -> 0 id=%u", HX(h), *id);
    else
        logline("midiInGetID h=%s -> %u", HX(h), r);
    return r;
}

MMRESULT WINAPI midiInMessage(HMIDIIN h, UINT m, DWORD_PTR p1, DWORD_PTR p2) {
    logline("midiInMessage h=%s msg=%s p1=%s p2=%s -> %u", HX(h), HX(m), HX(p1), HX(p2),
            MMSYSERR_NOTSUPPORTED);
    return MMSYSERR_NOTSUPPORTED;
}

/* ------------------------------------------------------------------ */
/* MIDI output                                                         */

UINT WINAPI midiOutGetNumDevs(void) {
    UINT n;
    ensure_init();
    AcquireSRWLockShared(&g_lock);
    n = (UINT)g_n_out;
    ReleaseSRWLockShared(&g_lock);
    logline("midiOutGetNumDevs -> %u", n);
    return n;
}

MMRESULT WINAPI midiOutGetDevCapsW(UINT_PTR id, LPMIDIOUTCAPSW caps, UINT cb) {
    return get_caps(0, id, caps, cb, 1, "midiOutGetDevCapsW");
}

MMRESULT WINAPI midiOutGetDevCapsA(UINT_PTR id, LPMIDIOUTCAPSA caps, UINT cb) {
    return get_caps(0, id, caps, cb, 0, "midiOutGetDevCapsA");
}

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT ph, UINT id, DWORD_PTR cb, DWORD_PTR inst, DWORD flags) {
    return do_open(0, (UINT_PTR*)ph, id, cb, inst, flags);
}

MMRESULT WINAPI midiOutClose(HMIDIOUT h) { return do_close(0, (UINT_PTR)h); }

static MMRESULT out_simple(HMIDIOUT hv, const char* op, port** pp) {
    MMRESULT r;
    port* p;
    ensure_init();
    p = find_port((UINT_PTR)hv, 0);
    r = fail_code(op);
    if (r == MMSYSERR_NOERROR) r = handle_state(p);
    if (pp) *pp = p;
    return r;
}

MMRESULT WINAPI midiOutShortMsg(HMIDIOUT h, DWORD msg) {
    MMRESULT r;
    ensure_init();
    AcquireSRWLockShared(&g_lock);
    r = out_simple(h, "out_shortmsg", NULL);
    ReleaseSRWLockShared(&g_lock);
    logline("midiOutShortMsg h=%s msg=0x%08lx -> %u", HX(h), (unsigned long)msg, r);
    return r;
}

MMRESULT WINAPI midiOutReset(HMIDIOUT h) {
    MMRESULT r;
    ensure_init();
    AcquireSRWLockShared(&g_lock);
    r = out_simple(h, "out_reset", NULL);
    ReleaseSRWLockShared(&g_lock);
    logline("midiOutReset h=%s -> %u", HX(h), r);
    return r;
}

MMRESULT WINAPI midiOutPrepareHeader(HMIDIOUT h, LPMIDIHDR hdr, UINT cb) {
    return header_op(0, "out_prepare", "midiOutPrepareHeader", h, hdr, cb);
}

MMRESULT WINAPI midiOutUnprepareHeader(HMIDIOUT h, LPMIDIHDR hdr, UINT cb) {
    return header_op(0, "out_unprepare", "midiOutUnprepareHeader", h, hdr, cb);
}

MMRESULT WINAPI midiOutLongMsg(HMIDIOUT h, LPMIDIHDR hdr, UINT cb) {
    MMRESULT r;
    port* p;
    target t = {0, 0, 0, 0};
    char data[2 * 128 + 1] = "";
    ensure_init();
    AcquireSRWLockExclusive(&g_lock);
    r = out_simple(h, "out_longmsg", &p);
    if (r == MMSYSERR_NOERROR && (!hdr || cb < MIN_HDR_SIZE || !hdr->lpData))
        r = MMSYSERR_INVALPARAM;
    if (r == MMSYSERR_NOERROR && !(hdr->dwFlags & MHDR_PREPARED)) r = MIDIERR_UNPREPARED;
    if (r == MMSYSERR_NOERROR) {
        DWORD i, n = hdr->dwBufferLength < 128 ? hdr->dwBufferLength : 128;
        for (i = 0; i < n; i++) snprintf(data + 2 * i, 3, "%02x", (BYTE)hdr->lpData[i]);
        /* "sent" at once: done before the call returns */
        hdr->dwFlags |= MHDR_DONE;
        t = target_of(p);
    }
    ReleaseSRWLockExclusive(&g_lock);
    logline("midiOutLongMsg h=%s len=%lu data=%s -> %u", HX(h),
            hdr ? (unsigned long)hdr->dwBufferLength : 0ul, data, r);
    deliver_if(r == MMSYSERR_NOERROR, &t, MM_MOM_DONE, (DWORD_PTR)hdr, 0);
    return r;
}

MMRESULT WINAPI midiOutGetID(HMIDIOUT h, LPUINT id) {
    MMRESULT r;
    port* p;
    ensure_init();
    AcquireSRWLockShared(&g_lock);
    r = out_simple(h, "out_getid", &p);
    if (r == MMSYSERR_NOERROR) {
        if (!id)
            r = MMSYSERR_INVALPARAM;
        else
            *id = p->dev;
    }
    ReleaseSRWLockShared(&g_lock);
    if (r == MMSYSERR_NOERROR)
        logline("midiOutGetID h=%s -> 0 id=%u", HX(h), *id);
    else
        logline("midiOutGetID h=%s -> %u", HX(h), r);
    return r;
}

MMRESULT WINAPI midiOutGetVolume(HMIDIOUT h, LPDWORD vol) {
    if (vol) *vol = 0xFFFFFFFF;
    logline("midiOutGetVolume h=%s -> 0", HX(h));
    return vol ? MMSYSERR_NOERROR : MMSYSERR_INVALPARAM;
}

MMRESULT WINAPI midiOutSetVolume(HMIDIOUT h, DWORD vol) {
    logline("midiOutSetVolume h=%s vol=0x%08lx -> 0", HX(h), (unsigned long)vol);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutMessage(HMIDIOUT h, UINT m, DWORD_PTR p1, DWORD_PTR p2) {
    logline("midiOutMessage h=%s msg=%s p1=%s p2=%s -> %u", HX(h), HX(m), HX(p1), HX(p2),
            MMSYSERR_NOTSUPPORTED);
    return MMSYSERR_NOTSUPPORTED;
}

/* Error texts say plainly that they come from the simulation, so a test
 * that shows one is never mistaken for a real system message. */
static const char* err_name(MMRESULT e) {
    switch (e) {
        case MMSYSERR_NOERROR:
            return "MMSYSERR_NOERROR";
        case MMSYSERR_ERROR:
            return "MMSYSERR_ERROR";
        case MMSYSERR_BADDEVICEID:
            return "MMSYSERR_BADDEVICEID";
        case MMSYSERR_NOTENABLED:
            return "MMSYSERR_NOTENABLED";
        case MMSYSERR_ALLOCATED:
            return "MMSYSERR_ALLOCATED";
        case MMSYSERR_INVALHANDLE:
            return "MMSYSERR_INVALHANDLE";
        case MMSYSERR_NODRIVER:
            return "MMSYSERR_NODRIVER";
        case MMSYSERR_NOMEM:
            return "MMSYSERR_NOMEM";
        case MMSYSERR_NOTSUPPORTED:
            return "MMSYSERR_NOTSUPPORTED";
        case MMSYSERR_BADERRNUM:
            return "MMSYSERR_BADERRNUM";
        case MMSYSERR_INVALFLAG:
            return "MMSYSERR_INVALFLAG";
        case MMSYSERR_INVALPARAM:
            return "MMSYSERR_INVALPARAM";
        case MIDIERR_UNPREPARED:
            return "MIDIERR_UNPREPARED";
        case MIDIERR_STILLPLAYING:
            return "MIDIERR_STILLPLAYING";
        case MIDIERR_NOMAP:
            return "MIDIERR_NOMAP";
        case MIDIERR_NOTREADY:
            return "MIDIERR_NOTREADY";
        case MIDIERR_NODEVICE:
            return "MIDIERR_NODEVICE";
        case MIDIERR_INVALIDSETUP:
            return "MIDIERR_INVALIDSETUP";
        default:
            return NULL;
    }
}

static MMRESULT error_text(const char* fn, MMRESULT e, void* buf, UINT cch, int wide) {
    char text[96];
    MMRESULT r = MMSYSERR_NOERROR;
    const char* name = err_name(e);
    if (!name)
        r = MMSYSERR_BADERRNUM;
    else if (!buf || cch == 0)
        r = MMSYSERR_INVALPARAM;
    else {
        snprintf(text, sizeof text, "simulated MIDI error %u (%s)", e, name);
        if (wide) {
            int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, (WCHAR*)buf, (int)cch);
            if (n <= 0) ((WCHAR*)buf)[cch - 1] = 0;
        } else {
            snprintf((char*)buf, cch, "%s", text);
        }
    }
    logline("%s err=%u cch=%u -> %u", fn, e, cch, r);
    return r;
}

MMRESULT WINAPI midiInGetErrorTextW(MMRESULT e, LPWSTR buf, UINT cch) {
    return error_text("midiInGetErrorTextW", e, buf, cch, 1);
}

MMRESULT WINAPI midiInGetErrorTextA(MMRESULT e, LPSTR buf, UINT cch) {
    return error_text("midiInGetErrorTextA", e, buf, cch, 0);
}

MMRESULT WINAPI midiOutGetErrorTextW(MMRESULT e, LPWSTR buf, UINT cch) {
    return error_text("midiOutGetErrorTextW", e, buf, cch, 1);
}

MMRESULT WINAPI midiOutGetErrorTextA(MMRESULT e, LPSTR buf, UINT cch) {
    return error_text("midiOutGetErrorTextA", e, buf, cch, 0);
}

/* ------------------------------------------------------------------ */
/* Timers and sounds: harmless working versions                        */

DWORD WINAPI timeGetTime(void) {
    if (!g_freq.QuadPart) QueryPerformanceFrequency(&g_freq);
    return (DWORD)(ticks_to_us(now_ticks()) / 1000);
}

MMRESULT WINAPI timeBeginPeriod(UINT ms) { return ms ? TIMERR_NOERROR : TIMERR_NOCANDO; }

MMRESULT WINAPI timeEndPeriod(UINT ms) { return ms ? TIMERR_NOERROR : TIMERR_NOCANDO; }

MMRESULT WINAPI timeGetDevCaps(LPTIMECAPS caps, UINT cb) {
    if (!caps || cb < sizeof(TIMECAPS)) return TIMERR_NOCANDO;
    caps->wPeriodMin = 1;
    caps->wPeriodMax = 1000000;
    return TIMERR_NOERROR;
}

typedef struct {
    int used;
    UINT id;
    HANDLE timer;
    LPTIMECALLBACK fn;
    DWORD_PTR user;
    UINT flags;
} mm_timer;

static mm_timer g_timers[32];
static UINT g_timer_serial;

static VOID CALLBACK timer_fired(PVOID param, BOOLEAN fired) {
    mm_timer* t = (mm_timer*)param;
    (void)fired;
    if (t->flags & TIME_CALLBACK_EVENT_SET)
        SetEvent((HANDLE)t->fn);
    else if (t->flags & TIME_CALLBACK_EVENT_PULSE)
        PulseEvent((HANDLE)t->fn);
    else if (t->fn)
        t->fn(t->id, 0, t->user, 0, 0);
    if (!(t->flags & TIME_PERIODIC))
        t->used = 0; /* one-shot timers free themselves, as the system's do */
}

MMRESULT WINAPI timeSetEvent(UINT delay, UINT res, LPTIMECALLBACK fn, DWORD_PTR user, UINT flags) {
    int i;
    mm_timer* t = NULL;
    (void)res;
    ensure_init();
    AcquireSRWLockExclusive(&g_lock);
    for (i = 0; i < 32 && !t; i++)
        if (!g_timers[i].used) t = &g_timers[i];
    if (t) {
        t->used = 1;
        t->id = ++g_timer_serial;
        t->fn = fn;
        t->user = user;
        t->flags = flags;
        if (!CreateTimerQueueTimer(&t->timer, NULL, timer_fired, t, delay,
                                   (flags & TIME_PERIODIC) ? delay : 0, WT_EXECUTEINTIMERTHREAD))
            t->used = 0;
    }
    ReleaseSRWLockExclusive(&g_lock);
    logline("timeSetEvent delay=%u flags=%s -> %u", delay, HX(flags), t && t->used ? t->id : 0);
    return t && t->used ? t->id : 0;
}

MMRESULT WINAPI timeKillEvent(UINT id) {
    int i;
    HANDLE timer = NULL;
    AcquireSRWLockExclusive(&g_lock);
    for (i = 0; i < 32; i++)
        if (g_timers[i].used && g_timers[i].id == id) {
            timer = g_timers[i].timer;
            g_timers[i].used = 0;
        }
    ReleaseSRWLockExclusive(&g_lock);
    if (timer) DeleteTimerQueueTimer(NULL, timer, INVALID_HANDLE_VALUE);
    logline("timeKillEvent id=%u -> %u", id, timer ? TIMERR_NOERROR : MMSYSERR_INVALPARAM);
    return timer ? TIMERR_NOERROR : MMSYSERR_INVALPARAM;
}

BOOL WINAPI PlaySoundW(LPCWSTR sound, HMODULE mod, DWORD flags) {
    char name[512] = "";
    (void)mod;
    if (sound && !(flags & SND_MEMORY) && (ULONG_PTR)sound > 0xFFFF)
        utf8_of(sound, name, sizeof name);
    logline("PlaySoundW sound=%s flags=%s -> 1", name, HX(flags));
    return TRUE;
}

BOOL WINAPI PlaySoundA(LPCSTR sound, HMODULE mod, DWORD flags) {
    (void)mod;
    logline("PlaySoundA sound=%s flags=%s -> 1",
            sound && !(flags & SND_MEMORY) && (ULONG_PTR)sound > 0xFFFF ? sound : "", HX(flags));
    return TRUE;
}

BOOL WINAPI sndPlaySoundW(LPCWSTR sound, UINT flags) { return PlaySoundW(sound, NULL, flags); }

BOOL WINAPI sndPlaySoundA(LPCSTR sound, UINT flags) { return PlaySoundA(sound, NULL, flags); }

/* ------------------------------------------------------------------ */
/* Control file: the test's hand on the simulated keyboard             */

typedef LONG(NTAPI* delay_fn)(BOOLEAN, PLARGE_INTEGER);

/* Waits for the next message slot. Sleep() only has millisecond steps, and
 * spinning for a whole interval would starve the program and wineserver on
 * a small machine, so sleep in 100 us steps and spin only at the very end. */
static void ctl_sleep_until(ULONGLONG due) {
    static delay_fn delay;
    if (!delay)
        delay = (delay_fn)(void (*)(void))GetProcAddress(GetModuleHandleW(L"ntdll.dll"),
                                                         "NtDelayExecution");
    for (;;) {
        ULONGLONG now = now_ticks();
        ULONGLONG left_us;
        if (now >= due) return;
        left_us = ticks_to_us(due - now);
        if (left_us > 2000) {
            Sleep((DWORD)(left_us / 1000 - 1));
        } else if (left_us > 150 && delay) {
            LARGE_INTEGER rel;
            rel.QuadPart = -1000; /* 100 us, in 100 ns units; negative = relative */
            delay(FALSE, &rel);
        } else {
            SwitchToThread();
        }
    }
}

static ULONGLONG g_rate_interval; /* ticks between messages, 0 = as fast as possible */
static ULONGLONG g_rate_next;

/* Picks the input a message arrives on: `dev` = -1 means the first open one. */
static void ctl_short(DWORD msg, int dev) {
    port* p = NULL;
    target t = {0, 0, 0, 0};
    const char* why = NULL;
    int i;
    ULONGLONG ms = 0;

    if (g_rate_interval) {
        ULONGLONG now = now_ticks();
        if (g_rate_next == 0 || now > g_rate_next + 10 * g_rate_interval)
            g_rate_next = now; /* start, or resynchronise after a long stall */
        ctl_sleep_until(g_rate_next);
        g_rate_next += g_rate_interval;
    }

    AcquireSRWLockShared(&g_lock);
    for (i = 0; i < MAX_PORTS && !p; i++)
        if (g_ports[i].used && g_ports[i].is_in && !g_ports[i].dead &&
            (dev < 0 || g_ports[i].dev == (UINT)dev))
            p = &g_ports[i];
    if (!p)
        why = "dropped-no-input";
    else if (!p->started)
        why = "dropped-not-started";
    else {
        t = target_of(p);
        ms = ticks_to_us(now_ticks() - p->start_ticks) / 1000;
    }
    ReleaseSRWLockShared(&g_lock);
    if (why)
        logline("inject msg=0x%08lx -> %s", (unsigned long)msg, why);
    else
        deliver(&t, MM_MIM_DATA, msg, (DWORD_PTR)ms, 1);
}

/* Fills the first queued buffer with a system-exclusive message and hands it
 * back through MM_MIM_LONGDATA. */
static void ctl_sysex(const char* hex, int dev) {
    BYTE data[1024];
    int n = 0, i;
    port* p = NULL;
    LPMIDIHDR hdr = NULL;
    target t = {0, 0, 0, 0};
    const char* why = NULL;
    ULONGLONG ms = 0;
    while (*hex && n < (int)sizeof data) {
        char* end;
        unsigned long b;
        while (*hex == ' ') hex++;
        if (!*hex) break;
        b = strtoul(hex, &end, 16);
        if (end == hex) break;
        data[n++] = (BYTE)b;
        hex = end;
    }
    AcquireSRWLockExclusive(&g_lock);
    for (i = 0; i < MAX_PORTS && !p; i++)
        if (g_ports[i].used && g_ports[i].is_in && !g_ports[i].dead &&
            (dev < 0 || g_ports[i].dev == (UINT)dev))
            p = &g_ports[i];
    if (!p)
        why = "dropped-no-input";
    else if (!p->started)
        why = "dropped-not-started";
    else if (p->nqueue == 0)
        why = "dropped-no-buffer";
    else {
        hdr = p->queue[0];
        memmove(p->queue, p->queue + 1, (size_t)(p->nqueue - 1) * sizeof p->queue[0]);
        p->nqueue--;
        if ((DWORD)n > hdr->dwBufferLength) n = (int)hdr->dwBufferLength;
        memcpy(hdr->lpData, data, (size_t)n);
        hdr->dwBytesRecorded = (DWORD)n;
        hdr->dwFlags &= ~(DWORD)MHDR_INQUEUE;
        hdr->dwFlags |= MHDR_DONE;
        t = target_of(p);
        ms = ticks_to_us(now_ticks() - p->start_ticks) / 1000;
    }
    ReleaseSRWLockExclusive(&g_lock);
    if (why)
        logline("inject sysex len=%d -> %s", n, why);
    else {
        logline("inject sysex len=%d -> delivering", n);
        deliver(&t, MM_MIM_LONGDATA, (DWORD_PTR)hdr, (DWORD_PTR)ms, 0);
    }
}

/* A new device list reaches the ports already open, as a driver's arrival
 * and removal do: a port whose device is still listed follows it to its new
 * index (and takes its claim along, so it stays exclusive there); a port
 * whose device has gone dies. A dead port forgets its queued buffers (the
 * program still owns them, so they are marked done, not handed back), frees
 * its claim at once, so the device can be opened again when it returns, and
 * its owner hears MM_MIM_CLOSE / MM_MOM_CLOSE as from a driver going away.
 * Everything is logged before the control line itself, so "control
 * in-devices ... -> ok" (or a mark after it) means it has all happened. */
typedef struct {
    target t;
    UINT msg;
    UINT_PTR handle;
    UINT old_dev, new_dev;
    int died, dropped;
    char name8[NAME_CCH * 3];
} replug_note;

static void ctl_devices(int is_in, const WCHAR* list) {
    replug_note notes[MAX_PORTS];
    int taken[MAX_DEVS] = {0};
    int nn = 0, i, k;
    WCHAR(*names)[NAME_CCH] = is_in ? g_in_names : g_out_names;

    AcquireSRWLockExclusive(&g_lock);
    if (is_in)
        g_n_in = parse_names(list, g_in_names);
    else
        g_n_out = parse_names(list, g_out_names);
    for (i = 0; i < MAX_PORTS; i++) {
        port* p = &g_ports[i];
        int count = is_in ? g_n_in : g_n_out, found = -1;
        replug_note* n;
        if (!p->used || p->is_in != is_in || p->dead) continue;
        /* two devices of one name: each open port takes the next one */
        for (k = 0; k < count && found < 0; k++)
            if (!taken[k] && wcscmp(names[k], p->name) == 0) found = k;
        if (found >= 0) {
            taken[found] = 1;
            if ((UINT)found == p->dev) continue;
        }
        n = &notes[nn++];
        memset(n, 0, sizeof *n);
        n->handle = p->handle;
        n->old_dev = p->dev;
        utf8_of(p->name, n->name8, sizeof n->name8);
        if (found >= 0) {
            HANDLE moved = claim_device(is_in, found, p->name);
            if (moved) { /* else someone holds it there already: keep the old one */
                CloseHandle(p->claim);
                p->claim = moved;
            }
            p->dev = (UINT)found;
            n->new_dev = (UINT)found;
            continue;
        }
        n->died = 1;
        n->dropped = p->nqueue;
        for (k = 0; k < p->nqueue; k++) {
            p->queue[k]->dwFlags &= ~(DWORD)MHDR_INQUEUE;
            p->queue[k]->dwFlags |= MHDR_DONE;
        }
        p->nqueue = 0;
        p->started = 0;
        p->dead = 1;
        CloseHandle(p->claim);
        p->claim = NULL;
        n->t = target_of(p);
        n->msg = is_in ? MM_MIM_CLOSE : MM_MOM_CLOSE;
    }
    ReleaseSRWLockExclusive(&g_lock);

    for (i = 0; i < nn; i++) {
        const replug_note* n = &notes[i];
        if (!n->died) {
            logline("renumbered h=%s dev=%u name=%s -> %u", HX(n->handle), n->old_dev, n->name8,
                    n->new_dev);
            continue;
        }
        logline("unplugged h=%s dev=%u name=%s -> dead dropped=%d", HX(n->handle), n->old_dev,
                n->name8, n->dropped);
        deliver_if(1, &n->t, n->msg, 0, 0);
    }
}

static int ctl_dev_arg(const char* rest) {
    const char* d = strstr(rest, "dev=");
    return d ? atoi(d + 4) : -1;
}

static void ctl_line(char* line) {
    char* arg;
    size_t len = strlen(line);
    while (len && (line[len - 1] == '\r' || line[len - 1] == '\n' || line[len - 1] == ' '))
        line[--len] = 0;
    while (*line == ' ' || *line == '\t') line++;
    if (!*line || *line == '#') return;
    arg = strchr(line, ' ');
    if (arg) {
        *arg++ = 0;
        while (*arg == ' ') arg++;
    } else {
        arg = line + strlen(line);
    }

    if (strcmp(line, "msg") == 0) {
        ctl_short((DWORD)strtoul(arg, NULL, 16), ctl_dev_arg(arg));
    } else if (strcmp(line, "sysex") == 0) {
        char* d = strstr(arg, "dev=");
        int dev = ctl_dev_arg(arg);
        if (d) *d = 0;
        ctl_sysex(arg, dev);
    } else if (strcmp(line, "wait") == 0) {
        Sleep((DWORD)strtoul(arg, NULL, 10));
        g_rate_next = 0;
    } else if (strcmp(line, "rate") == 0) {
        unsigned long n = strtoul(arg, NULL, 10);
        g_rate_interval = n ? (ULONGLONG)g_freq.QuadPart / n : 0;
        g_rate_next = 0;
        logline("control rate=%lu -> ok", n);
    } else if (strcmp(line, "mark") == 0) {
        logline("mark %s -> ok", arg);
    } else if (strcmp(line, "fail") == 0 || strcmp(line, "in-devices") == 0 ||
               strcmp(line, "out-devices") == 0) {
        WCHAR w[1024];
        if (MultiByteToWideChar(CP_UTF8, 0, arg, -1, w, 1024) <= 0) w[0] = 0;
        if (line[0] == 'f') {
            AcquireSRWLockExclusive(&g_lock);
            parse_fails(w);
            ReleaseSRWLockExclusive(&g_lock);
        } else {
            ctl_devices(line[0] == 'i', w);
        }
        logline("control %s%s%s -> ok", line, *arg ? " " : "", arg);
    } else {
        logline("control unknown=%s -> ignored", line);
    }
}

static DWORD WINAPI control_thread(LPVOID arg) {
    WCHAR path[MAX_PATH * 2];
    DWORD n;
    (void)arg;
    n = GetEnvironmentVariableW(L"VOS_MIDI_INJECT", path, MAX_PATH * 2);
    if (n == 0 || n >= MAX_PATH * 2) return 0;
    /* Give injected messages the same priority edge a driver thread has,
     * so the harness's own delay stays small next to the program's. */
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
    for (;;) {
        HANDLE f;
        DWORD size, got = 0;
        char *buf, *line, *save = NULL;
        if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) {
            Sleep(2);
            continue;
        }
        f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
        if (f == INVALID_HANDLE_VALUE) {
            Sleep(2);
            continue;
        }
        size = GetFileSize(f, NULL);
        buf = (char*)malloc((size_t)size + 1);
        if (buf && size != INVALID_FILE_SIZE) ReadFile(f, buf, size, &got, NULL);
        CloseHandle(f);
        /* Delete before acting on it: the test waits for the file to vanish
         * before writing the next batch, and batches then run in order. */
        DeleteFileW(path);
        if (!buf) continue;
        buf[got] = 0;
        for (line = strtok_r(buf, "\n", &save); line; line = strtok_r(NULL, "\n", &save))
            ctl_line(line);
        free(buf);
    }
}

BOOL WINAPI DllMain(HINSTANCE inst, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(inst);
    /* Freed while the process goes on (reserved is null then): a driver's
     * threads, like the control thread here, would run on in unmapped code. */
    if (reason == DLL_PROCESS_DETACH && !reserved) logline("winmm unloaded while the process runs");
    return TRUE;
}
