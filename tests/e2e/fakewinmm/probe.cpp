// Checks the simulated winmm.dll against the behaviour of the system's MIDI
// API that the program relies on. If the simulation drifts from the real
// thing, end-to-end results stop meaning anything, so this runs first.
//
// Run by scenarios/00_fakewinmm.sh with the DLL beside it (winmm=n) and:
//   VOS_MIDI_IN  = <31 full-width characters>|Port B|<40 ASCII characters>
//   VOS_MIDI_OUT = Out A
// The tests run in the order written: the first reads the devices these give.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// (the headers below need windows.h first)
#include <gtest/gtest.h>
#include <mmsystem.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

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
HWND g_sink;

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
int count_posted(UINT m, WPARAM h) {
    int n = 0;
    for (const Posted& q : g_posted) n += q.msg == m && q.wp == h;
    return n;
}

struct Called {
    UINT msg;
    DWORD_PTR inst, p1, p2;
};
std::vector<Called> g_called;

void CALLBACK on_midi(HMIDIIN, UINT m, DWORD_PTR inst, DWORD_PTR p1, DWORD_PTR p2) {
    g_called.push_back({m, inst, p1, p2});
}

class SimulatedWinmm : public ::testing::Test {
protected:
    void SetUp() override {
        g_posted.clear();
        g_called.clear();
    }
    static DWORD_PTR Sink() { return reinterpret_cast<DWORD_PTR>(g_sink); }
    void Control(const std::string& lines) { EXPECT_TRUE(control(lines)) << "control " << lines; }
    // Input 0 opened to the sink window with a prepared buffer in its queue.
    HMIDIIN OpenWithBuffer() {
        HMIDIIN in = nullptr;
        EXPECT_EQ(midiInOpen(&in, 0, Sink(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
        EXPECT_EQ(midiInPrepareHeader(in, &hdr, sizeof hdr), MMSYSERR_NOERROR);
        EXPECT_EQ(midiInAddBuffer(in, &hdr, sizeof hdr), MMSYSERR_NOERROR);
        return in;
    }
    char buf[256] = {};
    MIDIHDR hdr{buf, sizeof buf, 0, 0, 0, nullptr, 0, 0, {}};
};

TEST_F(SimulatedWinmm, DevicesAndNamesComeFromTheEnvironment) {
    const wchar_t* long_ascii = L"0123456789012345678901234567890123456789";
    wchar_t full31[32];
    for (int i = 0; i < 31; i++) full31[i] = static_cast<wchar_t>(0xFF21 + i % 26);  // Ａ..Ｚ
    full31[31] = 0;

    EXPECT_EQ(midiInGetNumDevs(), 3u) << "three inputs from VOS_MIDI_IN";
    EXPECT_EQ(midiOutGetNumDevs(), 1u) << "one output from VOS_MIDI_OUT";

    const struct {
        UINT dev;
        std::wstring expect;
        const char* what;
    } names[] = {{0, full31, "31-character name reported whole"},
                 {1, L"Port B", "plain name"},
                 {2, std::wstring(long_ascii, 31), "longer name cut to 31 characters"}};
    for (const auto& c : names) {
        MIDIINCAPSW caps{};
        EXPECT_EQ(midiInGetDevCapsW(c.dev, &caps, sizeof caps), MMSYSERR_NOERROR) << c.what;
        EXPECT_EQ(caps.szPname, c.expect) << c.what << ": " << utf8(caps.szPname);
    }
    // code page 932: 31 double-byte characters do not fit in 31 bytes; the cut must fall
    // between characters
    MIDIINCAPSA caps{};
    EXPECT_EQ(midiInGetDevCapsA(0, &caps, sizeof caps), MMSYSERR_NOERROR);
    char expect[64];
    int n = WideCharToMultiByte(932, 0, full31, 15, expect, sizeof expect, nullptr, nullptr);
    expect[n] = 0;
    EXPECT_EQ(n, 30);
    EXPECT_STREQ(caps.szPname, expect) << "ANSI name in code page 932, cut at a character boundary";
    MIDIOUTCAPSA oc{};
    EXPECT_EQ(midiOutGetDevCapsA(0, &oc, sizeof oc), MMSYSERR_NOERROR);
    EXPECT_STREQ(oc.szPname, "Out A") << "ANSI output name";
}

TEST_F(SimulatedWinmm, BadArgumentsAreRefused) {
    MIDIINCAPSW ic{};
    HMIDIIN dummy = nullptr;
    const struct {
        const char* what;
        MMRESULT got, want;
    } errs[] = {
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
    for (const auto& e : errs) EXPECT_EQ(e.got, e.want) << e.what;
}

TEST_F(SimulatedWinmm, OpenIsExclusiveAndNotifies) {
    HMIDIIN in = nullptr, in2 = nullptr, again = nullptr;
    ASSERT_EQ(midiInOpen(&in, 0, Sink(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    ASSERT_NE(in, nullptr);
    pump(50);
    EXPECT_TRUE(got(MM_MIM_OPEN, reinterpret_cast<WPARAM>(in), 0))
        << "MM_MIM_OPEN posted with the handle";
    EXPECT_EQ(midiInOpen(&again, 0, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED)
        << "second open of the same input is refused";
    EXPECT_EQ(midiInOpen(&in2, 1, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    EXPECT_TRUE(in2 && in2 != in) << "another input opens with its own handle";
    UINT id = 99;
    EXPECT_EQ(midiInGetID(in2, &id), MMSYSERR_NOERROR);
    EXPECT_EQ(id, 1u) << "handle maps back to its device";
    midiInClose(in2);
    EXPECT_EQ(midiInStart(in2), MMSYSERR_INVALHANDLE) << "a closed handle is no longer valid";
    HMIDIIN reopened = nullptr;
    midiInOpen(&reopened, 1, 0, 0, CALLBACK_NULL);
    EXPECT_TRUE(reopened && reopened != in2) << "reopening gives a new handle";
    midiInClose(reopened);
    midiInClose(in);
}

TEST_F(SimulatedWinmm, BuffersAndDelivery) {
    HMIDIIN in = nullptr;
    ASSERT_EQ(midiInOpen(&in, 0, Sink(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    EXPECT_EQ(midiInAddBuffer(in, &hdr, sizeof hdr), MIDIERR_UNPREPARED)
        << "an unprepared buffer is refused";
    EXPECT_EQ(midiInPrepareHeader(in, &hdr, sizeof hdr), MMSYSERR_NOERROR);
    EXPECT_TRUE(hdr.dwFlags & MHDR_PREPARED) << "prepare marks the header";
    EXPECT_EQ(midiInAddBuffer(in, &hdr, sizeof hdr), MMSYSERR_NOERROR);
    EXPECT_TRUE(hdr.dwFlags & MHDR_INQUEUE) << "added buffer is queued";
    EXPECT_EQ(midiInUnprepareHeader(in, &hdr, sizeof hdr), MIDIERR_STILLPLAYING)
        << "a queued buffer cannot be unprepared";
    EXPECT_EQ(midiInClose(in), MIDIERR_STILLPLAYING) << "an input holding buffers cannot be closed";

    const auto handle = reinterpret_cast<WPARAM>(in);
    Control("msg 0x00403c90\n");
    pump(50);
    EXPECT_FALSE(got(MM_MIM_DATA, handle, 0x00403c90)) << "nothing is delivered before midiInStart";
    EXPECT_EQ(midiInStart(in), MMSYSERR_NOERROR);
    Control("msg 0x00403c90\nmsg 0x00003c80\n");
    pump(50);
    EXPECT_TRUE(got(MM_MIM_DATA, handle, 0x00403c90) && got(MM_MIM_DATA, handle, 0x00003c80))
        << "injected messages arrive as MM_MIM_DATA(handle, message)";
    Control("sysex F0 7E 7F 06 01 F7\n");
    pump(50);
    EXPECT_TRUE(got(MM_MIM_LONGDATA, handle, reinterpret_cast<LPARAM>(&hdr)))
        << "system exclusive returns the queued buffer";
    EXPECT_EQ(hdr.dwBytesRecorded, 6u);
    EXPECT_EQ(static_cast<BYTE>(buf[5]), 0xF7);
    EXPECT_TRUE((hdr.dwFlags & MHDR_DONE) && !(hdr.dwFlags & MHDR_INQUEUE))
        << "system exclusive fills the queued buffer and returns it";
    midiInAddBuffer(in, &hdr, sizeof hdr);
    midiInStop(in);
    g_posted.clear();
    Control("msg 0x00403c90\n");
    pump(50);
    EXPECT_FALSE(got(MM_MIM_DATA, handle, 0x00403c90)) << "nothing is delivered after midiInStop";
    midiInReset(in);
    midiInUnprepareHeader(in, &hdr, sizeof hdr);
    midiInClose(in);
}

// A stopped input holding a buffer, as the program leaves it before closing.
TEST_F(SimulatedWinmm, ResetHandsTheBufferBackAndCloseNotifies) {
    HMIDIIN in = OpenWithBuffer();
    midiInStart(in);
    midiInStop(in);
    g_posted.clear();
    EXPECT_EQ(midiInReset(in), MMSYSERR_NOERROR);
    EXPECT_TRUE((hdr.dwFlags & MHDR_DONE) && !(hdr.dwFlags & MHDR_INQUEUE))
        << "reset hands the buffer back marked done";
    pump(50);
    EXPECT_TRUE(got(MM_MIM_LONGDATA, reinterpret_cast<WPARAM>(in), reinterpret_cast<LPARAM>(&hdr)))
        << "reset posts MM_MIM_LONGDATA for the buffer";
    EXPECT_EQ(midiInUnprepareHeader(in, &hdr, sizeof hdr), MMSYSERR_NOERROR);
    EXPECT_FALSE(hdr.dwFlags & MHDR_PREPARED) << "unprepare after reset";
    HMIDIIN closed = in;
    EXPECT_EQ(midiInClose(in), MMSYSERR_NOERROR);
    pump(50);
    EXPECT_TRUE(got(MM_MIM_CLOSE, reinterpret_cast<WPARAM>(closed), 0)) << "MM_MIM_CLOSE posted";
}

TEST_F(SimulatedWinmm, CallbackFunctionsHearOpenAndData) {
    HMIDIIN in = nullptr;
    EXPECT_EQ(midiInOpen(&in, 0, reinterpret_cast<DWORD_PTR>(on_midi), 77, CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    EXPECT_TRUE(!g_called.empty() && g_called[0].msg == MIM_OPEN && g_called[0].inst == 77)
        << "a callback function hears MIM_OPEN during the open";
    midiInStart(in);
    Control("msg 0x00007cb0\n");
    pump(50);
    bool heard = false;
    for (const Called& c : g_called)
        heard |= c.msg == MIM_DATA && c.p1 == 0x00007cb0 && c.inst == 77;
    EXPECT_TRUE(heard) << "a callback function hears MIM_DATA with the message";
    midiInReset(in);
    midiInClose(in);
}

TEST_F(SimulatedWinmm, Output) {
    HMIDIOUT out = nullptr;
    EXPECT_EQ(midiOutOpen(&out, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutShortMsg(out, 0x00007cb0), MMSYSERR_NOERROR) << "send a short message";
    midiOutClose(out);
    EXPECT_EQ(midiOutShortMsg(out, 0x00007cb0), MMSYSERR_INVALHANDLE)
        << "send on a closed output is refused";
}

TEST_F(SimulatedWinmm, FailuresSetAtRunTime) {
    const struct {
        const char* ctl;
        MMRESULT want;
        const char* what;
    } fails[] = {{"fail in_open\n", MMSYSERR_ALLOCATED, "in_open fails as 'in use' by default"},
                 {"fail in_open:6\n", MMSYSERR_NODRIVER, "in_open fails with a chosen code"},
                 {"fail\n", MMSYSERR_NOERROR, "an empty list clears failures"}};
    for (const auto& f : fails) {
        Control(f.ctl);
        HMIDIIN h = nullptr;
        MMRESULT fr = midiInOpen(&h, 0, 0, 0, CALLBACK_NULL);
        EXPECT_EQ(fr, f.want) << f.what;
        if (fr == MMSYSERR_NOERROR) midiInClose(h);
    }
}

TEST_F(SimulatedWinmm, DeviceListChangesWhileRunning) {
    Control("in-devices New|Two\n");
    MIDIINCAPSW nc{};
    midiInGetDevCapsW(0, &nc, sizeof nc);
    EXPECT_EQ(midiInGetNumDevs(), 2u);
    EXPECT_EQ(std::wstring(nc.szPname), L"New");
    Control("in-devices\n");
    EXPECT_EQ(midiInGetNumDevs(), 0u) << "and can become empty";
}

// Inputs that go and come back under open handles.
TEST_F(SimulatedWinmm, UnpluggedInputs) {
    Control("in-devices Keys A|Keys B\n");
    HMIDIIN ka = OpenWithBuffer(), kb = nullptr;
    midiInStart(ka);
    midiInOpen(&kb, 1, reinterpret_cast<DWORD_PTR>(on_midi), 5, CALLBACK_FUNCTION);
    g_posted.clear();
    Control("in-devices Other|Keys A\n");  // A moves to 1, B is gone
    pump(50);
    auto id_of = [](HMIDIIN h) {
        UINT d = 99;
        MMRESULT e = midiInGetID(h, &d);
        return e == MMSYSERR_NOERROR ? static_cast<long long>(d) : -static_cast<long long>(e);
    };
    auto heard_close = [] {
        int n = 0;
        for (const Called& c : g_called) n += c.msg == MIM_CLOSE && c.inst == 5;
        return n;
    };
    const auto a = reinterpret_cast<WPARAM>(ka);
    EXPECT_EQ(id_of(ka), 1) << "a port whose device is still listed follows it to its new index";
    EXPECT_EQ(count_posted(MM_MIM_CLOSE, a), 0) << "and is not closed";
    HMIDIIN taken = nullptr;
    EXPECT_EQ(midiInOpen(&taken, 1, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED)
        << "and stays exclusive there";
    g_posted.clear();
    Control("msg 0x00403c90\n");
    pump(50);
    EXPECT_TRUE(got(MM_MIM_DATA, a, 0x00403c90)) << "and keeps receiving";
    EXPECT_EQ(heard_close(), 1) << "a port whose device has gone hears the close notice";
    MIDIINCAPSW ic{};
    UINT id = 99;
    const struct {
        const char* what;
        MMRESULT got;
    } dead[] = {
        {"start", midiInStart(kb)},
        {"get id", midiInGetID(kb, &id)},
        {"caps by handle", midiInGetDevCapsW(reinterpret_cast<UINT_PTR>(kb), &ic, sizeof ic)},
        {"prepare", midiInPrepareHeader(kb, &hdr, sizeof hdr)}};
    for (const auto& d : dead) EXPECT_EQ(d.got, MMSYSERR_NODRIVER) << "a dead input refuses " << d.what;
    EXPECT_EQ(midiInClose(kb), MMSYSERR_NOERROR) << "closing a dead handle succeeds";
    EXPECT_EQ(heard_close(), 1) << "with no second notice";
    EXPECT_EQ(midiInClose(kb), MMSYSERR_INVALHANDLE) << "and frees it";

    // the queued buffer is dropped, the claim freed: reopen before closing
    g_posted.clear();
    Control("in-devices Other\n");
    pump(50);
    EXPECT_EQ(count_posted(MM_MIM_CLOSE, a), 1) << "an input unplugged while holding a buffer: notice";
    EXPECT_FALSE(hdr.dwFlags & MHDR_INQUEUE) << "buffer out of the queue";
    EXPECT_EQ(midiInUnprepareHeader(ka, &hdr, sizeof hdr), MMSYSERR_NODRIVER) << "calls refused";
    Control("msg 0x00403c90\n");
    Control("in-devices Keys A|Other\n");
    HMIDIIN back = nullptr;
    EXPECT_EQ(midiInOpen(&back, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR)
        << "the device is free to open again at once when it returns";
    EXPECT_EQ(id_of(back), 0);
    EXPECT_EQ(midiInClose(ka), MMSYSERR_NOERROR) << "a dead input holding buffers still closes";
    pump(50);
    EXPECT_EQ(count_posted(MM_MIM_CLOSE, a), 1) << "once, with one notice";
    EXPECT_EQ(id_of(back), 0) << "and the new handle is untouched";
    midiInClose(back);
}

TEST_F(SimulatedWinmm, UnpluggedOutput) {
    HMIDIOUT oa = nullptr;
    ASSERT_EQ(midiOutOpen(&oa, 0, Sink(), 0, CALLBACK_WINDOW), MMSYSERR_NOERROR);
    g_posted.clear();
    Control("out-devices\n");
    pump(50);
    const auto o = reinterpret_cast<WPARAM>(oa);
    UINT oid = 0;
    EXPECT_EQ(count_posted(MM_MOM_CLOSE, o), 1) << "an unplugged output: MM_MOM_CLOSE";
    EXPECT_EQ(midiOutShortMsg(oa, 0x00007cb0), MMSYSERR_NODRIVER) << "then sending refused";
    EXPECT_EQ(midiOutGetID(oa, &oid), MMSYSERR_NODRIVER);
    EXPECT_EQ(midiOutClose(oa), MMSYSERR_NOERROR) << "its close succeeds once";
    EXPECT_EQ(midiOutClose(oa), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(count_posted(MM_MOM_CLOSE, o), 1);
    Control("out-devices Out A\n");
}

TEST_F(SimulatedWinmm, ErrorTextNamesTheCode) {
    wchar_t text[128] = L"";
    EXPECT_EQ(midiInGetErrorTextW(MMSYSERR_ALLOCATED, text, 128), MMSYSERR_NOERROR);
    EXPECT_NE(std::wstring(text).find(L"MMSYSERR_ALLOCATED"), std::wstring::npos) << utf8(text);
}

TEST_F(SimulatedWinmm, Timers) {
    HANDLE ev = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    UINT timer = timeSetEvent(10, 1, reinterpret_cast<LPTIMECALLBACK>(ev), 0,
                              TIME_ONESHOT | TIME_CALLBACK_EVENT_SET);
    EXPECT_NE(timer, 0u);
    EXPECT_EQ(WaitForSingleObject(ev, 1000), WAIT_OBJECT_0) << "one-shot multimedia timer fires";
    CloseHandle(ev);
    DWORD t0 = timeGetTime();
    Sleep(50);
    DWORD dt = timeGetTime() - t0;
    EXPECT_TRUE(dt >= 45 && dt < 1000) << "timeGetTime advances in milliseconds: " << dt;
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    WNDCLASSW wc{};
    wc.lpfnWndProc = collect;
    wc.lpszClassName = L"ProbeSink";
    RegisterClassW(&wc);
    g_sink = CreateWindowExW(0, wc.lpszClassName, L"probe", 0, 0, 0, 0, 0, nullptr, nullptr,
                             nullptr, nullptr);
    const int failed = RUN_ALL_TESTS();
    control("mark probe-done\n");  // the scenario checks the log up to here
    return failed;
}
