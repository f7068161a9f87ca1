// Checks the simulated winmm.dll against the behaviour of the system's MIDI
// API that the program relies on. If the simulation drifts from the real
// thing, end-to-end results stop meaning anything, so this runs first.
//
// Run by scenarios/00_fakewinmm.sh with the DLL beside it (winmm=n) and:
//   VOS_MIDI_IN  = <31 full-width characters>|Port B|<40 ASCII characters>
//   VOS_MIDI_OUT = Out A
// Prints one "ok"/"FAIL" line per check; exit status = number of failures.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// (the headers below need windows.h first)
#include <mmsystem.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

int g_failures = 0;

void check(bool ok, const char* what, const std::string& detail = "") {
    if (!ok) g_failures++;
    std::printf("%s %s%s%s\n", ok ? "ok  " : "FAIL", what, detail.empty() ? "" : ": ",
                detail.c_str());
    std::fflush(stdout);
}

std::string str(long long v) { return std::to_string(v); }

std::string utf8(const wchar_t* w) {
    char b[512];
    WideCharToMultiByte(CP_UTF8, 0, w, -1, b, sizeof b, nullptr, nullptr);
    return b;
}

// Hands control lines to the DLL's control thread and waits until taken,
// the same handshake lib.sh uses.
bool control(const std::string& lines) {
    wchar_t path[MAX_PATH];
    if (!GetEnvironmentVariableW(L"VOS_MIDI_INJECT", path, MAX_PATH)) return false;
    std::wstring tmp = std::wstring(path) + L".tmp";
    HANDLE f = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD n;
    WriteFile(f, lines.data(), static_cast<DWORD>(lines.size()), &n, nullptr);
    CloseHandle(f);
    if (!MoveFileExW(tmp.c_str(), path, MOVEFILE_REPLACE_EXISTING)) return false;
    for (int i = 0; i < 500; i++) {
        if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) {
            Sleep(30);  // taken; give the thread time to act on the lines
            return true;
        }
        Sleep(10);
    }
    return false;
}

// A window that collects what the DLL posts to it.
struct Posted {
    UINT msg;
    WPARAM wp;
    LPARAM lp;
};
std::vector<Posted> g_posted;

LRESULT CALLBACK collect(HWND h, UINT m, WPARAM wp, LPARAM lp) {
    if (m >= MM_MIM_OPEN && m <= MM_MOM_DONE) g_posted.push_back({m, wp, lp});
    return DefWindowProcW(h, m, wp, lp);
}

void pump(DWORD ms) {
    ULONGLONG end = GetTickCount64() + ms;
    MSG msg;
    do {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        Sleep(5);
    } while (GetTickCount64() < end);
}

bool got(UINT m, WPARAM wp, LPARAM lp) {
    for (const Posted& p : g_posted)
        if (p.msg == m && p.wp == wp && p.lp == lp) return true;
    return false;
}

struct Called {
    UINT msg;
    DWORD_PTR inst, p1, p2;
};
std::vector<Called> g_called;

void CALLBACK on_midi(HMIDIIN, UINT m, DWORD_PTR inst, DWORD_PTR p1, DWORD_PTR p2) {
    g_called.push_back({m, inst, p1, p2});
}

}  // namespace

int wmain() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = collect;
    wc.lpszClassName = L"ProbeSink";
    RegisterClassW(&wc);
    HWND sink = CreateWindowExW(0, wc.lpszClassName, L"probe", 0, 0, 0, 0, 0, nullptr, nullptr,
                                nullptr, nullptr);
    auto cbw = reinterpret_cast<DWORD_PTR>(sink);

    // --- enumeration and names -------------------------------------------
    const wchar_t* long_ascii = L"0123456789012345678901234567890123456789";
    wchar_t full31[32];
    for (int i = 0; i < 31; i++) full31[i] = static_cast<wchar_t>(0xFF21 + i % 26);  // Ａ..Ｚ
    full31[31] = 0;

    check(midiInGetNumDevs() == 3, "three inputs from VOS_MIDI_IN", str(midiInGetNumDevs()));
    check(midiOutGetNumDevs() == 1, "one output from VOS_MIDI_OUT", str(midiOutGetNumDevs()));

    struct NameCase {
        UINT dev;
        std::wstring expect;
        const char* what;
    } names[] = {{0, full31, "31-character name reported whole"},
                 {1, L"Port B", "plain name"},
                 {2, std::wstring(long_ascii, 31), "longer name cut to 31 characters"}};
    for (const NameCase& c : names) {
        MIDIINCAPSW caps{};
        MMRESULT r = midiInGetDevCapsW(c.dev, &caps, sizeof caps);
        check(r == MMSYSERR_NOERROR && c.expect == caps.szPname, c.what, utf8(caps.szPname));
    }
    {
        // code page 932: 31 double-byte characters do not fit in 31 bytes;
        // the cut must fall between characters
        MIDIINCAPSA caps{};
        MMRESULT r = midiInGetDevCapsA(0, &caps, sizeof caps);
        char expect[64];
        int n = WideCharToMultiByte(932, 0, full31, 15, expect, sizeof expect, nullptr, nullptr);
        expect[n] = 0;
        check(r == MMSYSERR_NOERROR && std::strcmp(caps.szPname, expect) == 0 && n == 30,
              "ANSI name in code page 932, cut at a character boundary",
              str(std::strlen(caps.szPname)) + " bytes");
        MIDIOUTCAPSA oc{};
        r = midiOutGetDevCapsA(0, &oc, sizeof oc);
        check(r == MMSYSERR_NOERROR && std::strcmp(oc.szPname, "Out A") == 0, "ANSI output name",
              oc.szPname);
    }

    struct ErrCase {
        const char* what;
        MMRESULT got, want;
    };
    MIDIINCAPSW ic{};
    HMIDIIN dummy = nullptr;
    ErrCase errs[] = {
        {"caps for a device past the end", midiInGetDevCapsW(3, &ic, sizeof ic),
         MMSYSERR_BADDEVICEID},
        {"caps into a null structure", midiInGetDevCapsW(0, nullptr, sizeof ic),
         MMSYSERR_INVALPARAM},
        {"open a device past the end", midiInOpen(&dummy, 3, 0, 0, CALLBACK_NULL),
         MMSYSERR_BADDEVICEID},
        {"open with a null handle pointer", midiInOpen(nullptr, 0, 0, 0, CALLBACK_NULL),
         MMSYSERR_INVALPARAM},
        {"start a handle never opened", midiInStart(reinterpret_cast<HMIDIIN>(0x1234)),
         MMSYSERR_INVALHANDLE},
        {"send on a handle never opened", midiOutShortMsg(reinterpret_cast<HMIDIOUT>(0x1234), 0x90),
         MMSYSERR_INVALHANDLE},
    };
    for (const ErrCase& e : errs)
        check(e.got == e.want, e.what, "returned " + str(e.got) + ", expected " + str(e.want));

    // --- open, exclusivity, notifications ---------------------------------
    HMIDIIN in = nullptr, in2 = nullptr, again = nullptr;
    MMRESULT r = midiInOpen(&in, 0, cbw, 0, CALLBACK_WINDOW);
    check(r == MMSYSERR_NOERROR && in, "open input 0 with a callback window", str(r));
    pump(50);
    check(got(MM_MIM_OPEN, reinterpret_cast<WPARAM>(in), 0), "MM_MIM_OPEN posted with the handle");
    check(midiInOpen(&again, 0, 0, 0, CALLBACK_NULL) == MMSYSERR_ALLOCATED,
          "second open of the same input is refused");
    r = midiInOpen(&in2, 1, 0, 0, CALLBACK_NULL);
    check(r == MMSYSERR_NOERROR && in2 && in2 != in, "another input opens with its own handle");
    UINT id = 99;
    r = midiInGetID(in2, &id);
    check(r == MMSYSERR_NOERROR && id == 1, "handle maps back to its device", str(id));
    midiInClose(in2);
    check(midiInStart(in2) == MMSYSERR_INVALHANDLE, "a closed handle is no longer valid");
    HMIDIIN reopened = nullptr;
    midiInOpen(&reopened, 1, 0, 0, CALLBACK_NULL);
    check(reopened && reopened != in2, "reopening gives a new handle");
    midiInClose(reopened);

    // --- buffers --------------------------------------------------------
    char buf[256];
    MIDIHDR hdr{};
    hdr.lpData = buf;
    hdr.dwBufferLength = sizeof buf;
    check(midiInAddBuffer(in, &hdr, sizeof hdr) == MIDIERR_UNPREPARED,
          "an unprepared buffer is refused");
    check(midiInPrepareHeader(in, &hdr, sizeof hdr) == MMSYSERR_NOERROR &&
              (hdr.dwFlags & MHDR_PREPARED),
          "prepare marks the header");
    check(midiInAddBuffer(in, &hdr, sizeof hdr) == MMSYSERR_NOERROR && (hdr.dwFlags & MHDR_INQUEUE),
          "added buffer is queued");
    check(midiInUnprepareHeader(in, &hdr, sizeof hdr) == MIDIERR_STILLPLAYING,
          "a queued buffer cannot be unprepared");
    check(midiInClose(in) == MIDIERR_STILLPLAYING, "an input holding buffers cannot be closed");

    // --- injection --------------------------------------------------------
    g_posted.clear();
    control("msg 0x00403c90\n");
    pump(50);
    check(!got(MM_MIM_DATA, reinterpret_cast<WPARAM>(in), 0x00403c90),
          "nothing is delivered before midiInStart");
    check(midiInStart(in) == MMSYSERR_NOERROR, "start");
    control("msg 0x00403c90\nmsg 0x00003c80\n");
    pump(50);
    check(got(MM_MIM_DATA, reinterpret_cast<WPARAM>(in), 0x00403c90) &&
              got(MM_MIM_DATA, reinterpret_cast<WPARAM>(in), 0x00003c80),
          "injected messages arrive as MM_MIM_DATA(handle, message)");
    control("sysex F0 7E 7F 06 01 F7\n");
    pump(50);
    check(got(MM_MIM_LONGDATA, reinterpret_cast<WPARAM>(in), reinterpret_cast<LPARAM>(&hdr)) &&
              hdr.dwBytesRecorded == 6 && static_cast<BYTE>(buf[5]) == 0xF7 &&
              (hdr.dwFlags & MHDR_DONE) && !(hdr.dwFlags & MHDR_INQUEUE),
          "system exclusive fills the queued buffer and returns it",
          str(hdr.dwBytesRecorded) + " bytes");
    midiInAddBuffer(in, &hdr, sizeof hdr);
    midiInStop(in);
    g_posted.clear();
    control("msg 0x00403c90\n");
    pump(50);
    check(!got(MM_MIM_DATA, reinterpret_cast<WPARAM>(in), 0x00403c90),
          "nothing is delivered after midiInStop");

    // --- reset and close ------------------------------------------------
    g_posted.clear();
    check(midiInReset(in) == MMSYSERR_NOERROR && (hdr.dwFlags & MHDR_DONE) &&
              !(hdr.dwFlags & MHDR_INQUEUE),
          "reset hands the buffer back marked done");
    pump(50);
    check(got(MM_MIM_LONGDATA, reinterpret_cast<WPARAM>(in), reinterpret_cast<LPARAM>(&hdr)),
          "reset posts MM_MIM_LONGDATA for the buffer");
    check(midiInUnprepareHeader(in, &hdr, sizeof hdr) == MMSYSERR_NOERROR &&
              !(hdr.dwFlags & MHDR_PREPARED),
          "unprepare after reset");
    HMIDIIN closed = in;
    check(midiInClose(in) == MMSYSERR_NOERROR, "close");
    pump(50);
    check(got(MM_MIM_CLOSE, reinterpret_cast<WPARAM>(closed), 0), "MM_MIM_CLOSE posted");

    // --- function callbacks -----------------------------------------------
    r = midiInOpen(&in, 0, reinterpret_cast<DWORD_PTR>(on_midi), 77, CALLBACK_FUNCTION);
    check(r == MMSYSERR_NOERROR && !g_called.empty() && g_called[0].msg == MIM_OPEN &&
              g_called[0].inst == 77,
          "a callback function hears MIM_OPEN during the open");
    midiInStart(in);
    control("msg 0x00007cb0\n");
    pump(50);
    bool heard = false;
    for (const Called& c : g_called)
        heard |= c.msg == MIM_DATA && c.p1 == 0x00007cb0 && c.inst == 77;
    check(heard, "a callback function hears MIM_DATA with the message");
    midiInReset(in);
    midiInClose(in);

    // --- output ----------------------------------------------------------
    HMIDIOUT out = nullptr;
    check(midiOutOpen(&out, 0, 0, 0, CALLBACK_NULL) == MMSYSERR_NOERROR, "open output");
    check(midiOutShortMsg(out, 0x00007cb0) == MMSYSERR_NOERROR, "send a short message");
    midiOutClose(out);
    check(midiOutShortMsg(out, 0x00007cb0) == MMSYSERR_INVALHANDLE,
          "send on a closed output is refused");

    // --- failures and hot-plug set at run time ------------------------------
    struct FailCase {
        const char* ctl;
        MMRESULT want;
        const char* what;
    } fails[] = {{"fail in_open\n", MMSYSERR_ALLOCATED, "in_open fails as 'in use' by default"},
                 {"fail in_open:6\n", MMSYSERR_NODRIVER, "in_open fails with a chosen code"},
                 {"fail\n", MMSYSERR_NOERROR, "an empty list clears failures"}};
    for (const FailCase& f : fails) {
        control(f.ctl);
        HMIDIIN h = nullptr;
        MMRESULT fr = midiInOpen(&h, 0, 0, 0, CALLBACK_NULL);
        check(fr == f.want, f.what, "returned " + str(fr));
        if (fr == MMSYSERR_NOERROR) midiInClose(h);
    }
    control("in-devices New|Two\n");
    MIDIINCAPSW nc{};
    midiInGetDevCapsW(0, &nc, sizeof nc);
    check(midiInGetNumDevs() == 2 && std::wstring(nc.szPname) == L"New",
          "the device list can change while running");
    control("in-devices\n");
    check(midiInGetNumDevs() == 0, "and can become empty");

    // --- devices that go and come back under open handles -----------------
    control("in-devices Keys A|Keys B\n");
    HMIDIIN ka = nullptr, kb = nullptr;
    midiInOpen(&ka, 0, cbw, 0, CALLBACK_WINDOW);
    midiInPrepareHeader(ka, &hdr, sizeof hdr);
    midiInAddBuffer(ka, &hdr, sizeof hdr);
    midiInStart(ka);
    g_called.clear();
    midiInOpen(&kb, 1, reinterpret_cast<DWORD_PTR>(on_midi), 5, CALLBACK_FUNCTION);
    HMIDIOUT oa = nullptr;
    midiOutOpen(&oa, 0, cbw, 0, CALLBACK_WINDOW);
    g_posted.clear();
    control("in-devices Other|Keys A\n");  // A moves to 1, B is gone
    pump(50);
    auto id_of = [](HMIDIIN h) {
        UINT d = 99;
        MMRESULT e = midiInGetID(h, &d);
        return e == MMSYSERR_NOERROR ? static_cast<long long>(d) : -static_cast<long long>(e);
    };
    auto closes = [](UINT m, WPARAM h) {
        int n = 0;
        for (const Posted& q : g_posted) n += q.msg == m && q.wp == h;
        return n;
    };
    auto heard_close = [] {
        int n = 0;
        for (const Called& c : g_called) n += c.msg == MIM_CLOSE && c.inst == 5;
        return n;
    };
    check(id_of(ka) == 1 && !closes(MM_MIM_CLOSE, reinterpret_cast<WPARAM>(ka)),
          "a port whose device is still listed follows it to its new index", str(id_of(ka)));
    HMIDIIN taken = nullptr;
    check(midiInOpen(&taken, 1, 0, 0, CALLBACK_NULL) == MMSYSERR_ALLOCATED,
          "and stays exclusive there");
    g_posted.clear();
    control("msg 0x00403c90\n");
    pump(50);
    check(got(MM_MIM_DATA, reinterpret_cast<WPARAM>(ka), 0x00403c90), "and keeps receiving");
    check(heard_close() == 1, "a port whose device has gone hears the close notice");
    struct DeadCase {
        const char* what;
        MMRESULT got;
    } dead[] = {
        {"start", midiInStart(kb)},
        {"get id", midiInGetID(kb, &id)},
        {"caps by handle", midiInGetDevCapsW(reinterpret_cast<UINT_PTR>(kb), &ic, sizeof ic)},
        {"prepare", midiInPrepareHeader(kb, &hdr, sizeof hdr)}};
    for (const DeadCase& d : dead)
        check(d.got == MMSYSERR_NODRIVER, "a dead input refuses",
              std::string(d.what) + " returned " + str(d.got));
    check(midiInClose(kb) == MMSYSERR_NOERROR && heard_close() == 1,
          "closing a dead handle succeeds with no second notice");
    check(midiInClose(kb) == MMSYSERR_INVALHANDLE, "and frees it");

    // the queued buffer is dropped, the claim freed: reopen before closing
    g_posted.clear();
    control("in-devices Other\n");
    pump(50);
    check(closes(MM_MIM_CLOSE, reinterpret_cast<WPARAM>(ka)) == 1 &&
              !(hdr.dwFlags & MHDR_INQUEUE) &&
              midiInUnprepareHeader(ka, &hdr, sizeof hdr) == MMSYSERR_NODRIVER,
          "an input unplugged while holding a buffer: notice, buffer out of the queue, calls "
          "refused");
    control("msg 0x00403c90\n");
    control("in-devices Keys A|Other\n");
    HMIDIIN back = nullptr;
    r = midiInOpen(&back, 0, 0, 0, CALLBACK_NULL);
    check(r == MMSYSERR_NOERROR && id_of(back) == 0,
          "the device is free to open again at once when it returns", str(r));
    check(midiInClose(ka) == MMSYSERR_NOERROR, "a dead input holding buffers still closes");
    pump(50);
    check(closes(MM_MIM_CLOSE, reinterpret_cast<WPARAM>(ka)) == 1 && id_of(back) == 0,
          "once, with one notice, and the new handle is untouched");
    midiInClose(back);

    g_posted.clear();
    control("out-devices\n");
    pump(50);
    UINT oid = 0;
    check(closes(MM_MOM_CLOSE, reinterpret_cast<WPARAM>(oa)) == 1 &&
              midiOutShortMsg(oa, 0x00007cb0) == MMSYSERR_NODRIVER &&
              midiOutGetID(oa, &oid) == MMSYSERR_NODRIVER,
          "an unplugged output: MM_MOM_CLOSE, then sending refused");
    check(midiOutClose(oa) == MMSYSERR_NOERROR && midiOutClose(oa) == MMSYSERR_INVALHANDLE &&
              closes(MM_MOM_CLOSE, reinterpret_cast<WPARAM>(oa)) == 1,
          "its close succeeds once");
    control("in-devices\nout-devices Out A\n");

    // --- odds and ends ---------------------------------------------------
    wchar_t text[128] = L"";
    r = midiInGetErrorTextW(MMSYSERR_ALLOCATED, text, 128);
    check(r == MMSYSERR_NOERROR &&
              std::wstring(text).find(L"MMSYSERR_ALLOCATED") != std::wstring::npos,
          "error text names the code", utf8(text));
    HANDLE ev = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    UINT timer = timeSetEvent(10, 1, reinterpret_cast<LPTIMECALLBACK>(ev), 0,
                              TIME_ONESHOT | TIME_CALLBACK_EVENT_SET);
    check(timer && WaitForSingleObject(ev, 1000) == WAIT_OBJECT_0,
          "one-shot multimedia timer fires");
    DWORD t0 = timeGetTime();
    Sleep(50);
    DWORD dt = timeGetTime() - t0;
    check(dt >= 45 && dt < 1000, "timeGetTime advances in milliseconds", str(dt));

    control("mark probe-done\n");
    std::printf("%d failed\n", g_failures);
    return g_failures;
}
