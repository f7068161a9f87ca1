// A stream of short MIDI messages and toggles through the window procedure, with a few launch
// codes and thru on or off. While recognition is on, every message is forwarded exactly once and
// before anything it launches; the held set never holds more than the twelve pitch classes; well-
// formed note messages move it as a keyboard would; and the entries whose code equals the held
// set open, in list order, after every note message and at no other time. While it is off,
// nothing is forwarded, tracked or opened.
#include <algorithm>

#include "app/app.h"
#include "app/modHook.h"
#include "fuzz_check.h"
#include "midi/modMidiIO.h"
#include "sim/sim_host.h"

namespace vos::fuzz {
namespace {

constexpr WindowHandle kMain = sim::SimHost::kMainWindow;

struct Step {
    enum Kind { Toggle, NoteLike, Raw } kind;
    std::uint32_t message = 0;
};

// Four bytes a step: the first picks the kind. NoteLike messages are well formed (a status byte,
// two data bytes below 0x80); Raw ones are any three bytes, as a broken driver might deliver.
Step NextStep(Input& in) {
    const std::uint8_t kind = in.Byte() % 4;
    const std::uint32_t b1 = in.Byte(), b2 = in.Byte(), b3 = in.Byte();
    if (kind == 0) return {Step::Toggle};
    if (kind == 1) return {Step::NoteLike, (b1 | 0x80u) | (b2 & 0x7Fu) << 8 | (b3 & 0x7Fu) << 16};
    return {Step::Raw, b1 | b2 << 8 | b3 << 16};
}

// What a keyboard player expects of a well-formed message: the held set after it, or -1 when the
// message is not about a key.
std::int32_t Expected(std::int32_t held, std::uint32_t m) {
    const std::uint32_t status = m & 0xF0u, key = (m >> 8) & 0x7Fu, velocity = (m >> 16) & 0x7Fu;
    const std::int32_t bit = std::int32_t{1} << (key % 12);
    if (status == 0x90u && velocity > 0) return held | bit;
    if (status == 0x80u || status == 0x90u) return held & ~bit;
    return -1;
}

std::vector<std::wstring> Matching(const App& app) {
    std::vector<std::wstring> out;
    for (const LaunchCode& c : app.LaunchCodes) {
        if (c.Code == app.HeldNotes) out.push_back(c.Path);
    }
    return out;
}

std::vector<std::wstring> LaunchedSince(const sim::SimHost& host, std::size_t from) {
    std::vector<std::wstring> out;
    for (std::size_t i = from; i < host.launches.size(); ++i) out.push_back(host.launches[i].file);
    return out;
}

}  // namespace
}  // namespace vos::fuzz

// Input: a flags byte (bit 0 thru, bits 1-3 the number of codes), two bytes per code (with bit 15
// set the code keeps bits past the twelve keys and can never match), then the steps.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vos;
    fuzz::Input in(data, size);
    const std::uint8_t flags = in.Byte();
    const bool thru = flags & 1;
    sim::SimHost host = fuzz::FreshHost(false);
    App app(host);
    app.MainWindow = fuzz::kMain;
    app.Enabled = true;
    for (int i = 0, n = (flags >> 1) & 7; i < n; ++i) {
        const auto v = static_cast<std::int32_t>(in.Le(2));
        app.LaunchCodes.push_back({(v & 0x8000) ? v : (v & 0xFFF), L"code" + std::to_wstring(i), L""});
    }
    if (thru) {
        host.midiOutOpen(app.MidiOutHandle, 0, 0, 0, 0);
        app.ThruEnabled = true;
    }

    while (in.Left() > 0) {
        const fuzz::Step step = fuzz::NextStep(in);
        const bool enabled = app.Enabled;
        const std::int32_t held = app.HeldNotes;
        const std::size_t sent = host.sent.size(), launched = host.launches.size(),
                          logged = host.log.size();
        if (step.kind == fuzz::Step::Toggle) {
            WindowProc(app, fuzz::kMain, kWmHotkey, 0, 0);
            VOS_REQUIRE(app.Enabled != enabled);
            VOS_REQUIRE(app.HeldNotes == held);
            VOS_REQUIRE(host.launches.size() == launched);
            // Switching off silences the output once; switching on sends nothing.
            const std::vector<std::uint32_t> silence = {SilenceMessage};
            VOS_REQUIRE(std::vector<std::uint32_t>(host.sent.begin() + static_cast<std::ptrdiff_t>(sent), host.sent.end()) ==
                        (enabled && thru ? silence : std::vector<std::uint32_t>{}));
            continue;
        }
        WindowProc(app, fuzz::kMain, kMmMimData, 0, static_cast<LParam>(step.message));
        VOS_REQUIRE((app.HeldNotes & ~0xFFF) == 0);
        if (!enabled) {
            VOS_REQUIRE(host.sent.size() == sent);
            VOS_REQUIRE(app.HeldNotes == held);
            VOS_REQUIRE(host.launches.size() == launched);
            continue;
        }
        if (thru) {
            VOS_REQUIRE(host.sent.size() == sent + 1 && host.sent.back() == step.message);
            VOS_REQUIRE(host.log[logged].rfind("midiOutShortMsg(", 0) == 0);
        } else {
            VOS_REQUIRE(host.sent.size() == sent);
        }
        const std::vector<std::wstring> opened = fuzz::LaunchedSince(host, launched);
        const std::uint32_t status = step.message & 0xF0u;
        if (status != 0x80u && status != 0x90u) {
            // Only note messages move the held set or open anything.
            VOS_REQUIRE(app.HeldNotes == held);
            VOS_REQUIRE(opened.empty());
            continue;
        }
        if (step.kind == fuzz::Step::NoteLike) {
            VOS_REQUIRE(app.HeldNotes == fuzz::Expected(held, step.message));
        }
        VOS_REQUIRE(opened == fuzz::Matching(app));
    }
    return 0;
}
