// A stream of short MIDI messages and toggles through the window procedure, with a few launch
// codes and thru on or off. While recognition is on, every message is forwarded exactly once and
// before anything it launches; the held set never holds more than the twelve pitch classes; well-
// formed note messages move it as a keyboard would; and the entries whose code equals the held
// set open, in list order, after every note message and at no other time. While it is off,
// nothing is forwarded or opened, but keys still move the held set. Switching off with thru sends
// the all-notes-off, then exactly one note-off for every note forwarded on and not released, and a
// release for every pedal forwarded down. The input or the output may go and come back at any
// step: the input's going forgets the held keys and releases what thru left sounding, nothing is
// heard while it is gone, and every return of the output to an open input sends the program change
// again before thru resumes.
#include <algorithm>
#include <set>
#include <utility>

#include "app/app.h"
#include "app/modHook.h"
#include "app/settings.h"
#include "fuzz_check.h"
#include "midi/modMidiIO.h"
#include "sim/sim_host.h"

namespace vos::fuzz {
namespace {

constexpr WindowHandle kMain = sim::SimHost::kMainWindow;

struct Step {
    enum Kind { Toggle, NoteLike, Raw, Input, Output } kind;
    std::uint32_t message = 0;
};

// Four bytes a step: the first picks the kind. NoteLike messages are well formed (a status byte,
// two data bytes below 0x80); Raw ones are any three bytes, as a broken driver might deliver.
// Input and Output unplug that device, or plug it back in.
Step NextStep(Input& in) {
    const std::uint8_t kind = in.Byte() % 16;
    const std::uint32_t b1 = in.Byte(), b2 = in.Byte(), b3 = in.Byte();
    if (kind == 14) return {Step::Input};
    if (kind == 15) return {Step::Output};
    if (kind % 4 == 0) return {Step::Toggle};
    if (kind % 4 == 1) return {Step::NoteLike, (b1 | 0x80u) | (b2 & 0x7Fu) << 8 | (b3 & 0x7Fu) << 16};
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

// What a synthesizer behind thru has sounding: (channel, note) pairs and (channel, pedal) pairs.
struct Sounding {
    std::set<std::pair<std::uint32_t, std::uint32_t>> notes, pedals;

    void Hear(std::uint32_t m) {
        const std::uint32_t status = m & 0xFFu, a = (m >> 8) & 0xFFu, b = (m >> 16) & 0xFFu;
        if (status < 0x80u || status >= 0xF0u || a >= 0x80u || b >= 0x80u) return;
        const std::uint32_t channel = status & 0xFu, kind = status & 0xF0u;
        if (kind == 0x90u && b > 0) notes.insert({channel, a});
        if (kind == 0x80u || (kind == 0x90u && b == 0)) notes.erase({channel, a});
        if (kind != 0xB0u) return;
        if (a == 64 || a == 66 || a == 67) {
            if (b >= 64) {
                pedals.insert({channel, a});
            } else {
                pedals.erase({channel, a});
            }
        }
        if (a == 120 || a >= 123) std::erase_if(notes, [&](auto n) { return n.first == channel; });
        if (a == 121) std::erase_if(pedals, [&](auto p) { return p.first == channel; });
    }
    // The messages that end it all, channel by channel: its notes, then its pedals.
    std::vector<std::uint32_t> Releases() const {
        std::vector<std::uint32_t> out = {SilenceMessage};
        for (std::uint32_t channel = 0; channel < 16; ++channel) {
            for (auto [c, note] : notes) {
                if (c == channel) out.push_back(0x80u | c | note << 8 | 64u << 16);
            }
            for (auto [c, pedal] : pedals) {
                if (c == channel) out.push_back(0xB0u | c | pedal << 8);
            }
        }
        return out;
    }
};

std::vector<std::wstring> Matching(const App& app) {
    std::vector<std::wstring> out;
    for (const LaunchCode& c : app.recognition.LaunchCodes) {
        if (c.Code == app.recognition.HeldNotes) out.push_back(c.Path);
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
    app.program.MainWindow = fuzz::kMain;
    app.program.life = Life::Running;
    app.recognition.Enabled = true;
    app.watch.InForce = DefaultSettings(L"Sim MIDI In");
    app.watch.InForce.MidiOutName = MakeNameField(L"Sim MIDI Out");
    app.watch.InForce.Program = 9;
    host.midiInOpen(app.ports.MidiInHandle, 0, fuzz::kMain, 0, kCallbackWindow);
    app.ports.MidiInPort = Port::Open;
    for (int i = 0, n = (flags >> 1) & 7; i < n; ++i) {
        const auto v = static_cast<std::int32_t>(in.Le(2));
        app.recognition.LaunchCodes.push_back(
            {(v & 0x8000) ? v : (v & 0xFFF), L"code" + std::to_wstring(i), L""});
    }
    if (thru) {
        host.midiOutOpen(app.ports.MidiOutHandle, 0, 0, 0, 0);
        app.ports.MidiOutPort = Port::Open;
    }

    fuzz::Sounding sounding;
    while (in.Left() > 0) {
        const fuzz::Step step = fuzz::NextStep(in);
        const bool enabled = app.recognition.Enabled;
        const std::int32_t held = app.recognition.HeldNotes;
        const std::size_t sent = host.sent.size(), launched = host.launches.size(),
                          logged = host.log.size();
        const bool inPresent = !host.inputs.empty(), outPresent = !host.outputs.empty();
        auto sentSince = [&] {
            return std::vector<std::uint32_t>(host.sent.begin() + static_cast<std::ptrdiff_t>(sent),
                                              host.sent.end());
        };
        if (step.kind == fuzz::Step::Input || step.kind == fuzz::Step::Output) {
            const bool input = step.kind == fuzz::Step::Input;
            std::vector<std::wstring>& list = input ? host.inputs : host.outputs;
            list = list.empty() ? std::vector<std::wstring>{input ? L"Sim MIDI In" : L"Sim MIDI Out"}
                                : std::vector<std::wstring>{};
            host.DevicesChanged();
            WindowProc(app, fuzz::kMain, kWmDeviceChange, kDbtDevNodesChanged, 0);
            VOS_REQUIRE(app.recognition.Enabled == enabled);
            VOS_REQUIRE(host.launches.size() == launched && host.boxes.empty());
            VOS_REQUIRE(host.openInputs.size() == (host.inputs.empty() ? 0u : 1u));
            const bool outOpen = thru && !host.inputs.empty() && !host.outputs.empty();
            VOS_REQUIRE(host.openOutputs.size() == (outOpen ? 1u : 0u) &&
                        app.ports.ThruEnabled() == outOpen);
            std::vector<std::uint32_t> expected;
            if (input && inPresent) {
                VOS_REQUIRE(app.recognition.HeldNotes == 0);
                // An output that is still there hears the releases before it is closed.
                if (thru && outPresent) expected = sounding.Releases();
            } else if (input || inPresent) {
                VOS_REQUIRE(app.recognition.HeldNotes == held);
            }
            if (outOpen && !(inPresent && outPresent)) expected = {0x09C0};
            VOS_REQUIRE(sentSince() == expected);
            if (!outOpen) sounding = {};
            continue;
        }
        const bool forwarding = thru && inPresent && outPresent;
        if (step.kind == fuzz::Step::Toggle) {
            WindowProc(app, fuzz::kMain, kWmHotkey, 0, 0);
            VOS_REQUIRE(app.recognition.Enabled != enabled);
            VOS_REQUIRE(app.recognition.HeldNotes == held);
            VOS_REQUIRE(host.launches.size() == launched);
            // Switching off releases what thru left sounding; switching on sends nothing.
            VOS_REQUIRE(sentSince() == (enabled && forwarding ? sounding.Releases()
                                                              : std::vector<std::uint32_t>{}));
            if (enabled) sounding = {};
            continue;
        }
        WindowProc(app, fuzz::kMain, kMmMimData, 0, static_cast<LParam>(step.message));
        VOS_REQUIRE((app.recognition.HeldNotes & ~0xFFF) == 0);
        if (!inPresent) {
            // Whatever was still on its way from a device that has gone.
            VOS_REQUIRE(host.sent.size() == sent && host.launches.size() == launched);
            VOS_REQUIRE(app.recognition.HeldNotes == held);
            continue;
        }
        if (!enabled) {
            VOS_REQUIRE(host.sent.size() == sent);
            VOS_REQUIRE(host.launches.size() == launched);
            if (step.kind == fuzz::Step::NoteLike) {
                const std::int32_t expected = fuzz::Expected(held, step.message);
                VOS_REQUIRE(app.recognition.HeldNotes == (expected < 0 ? held : expected));
            }
            continue;
        }
        if (forwarding) {
            sounding.Hear(step.message);
            VOS_REQUIRE(host.sent.size() == sent + 1 && host.sent.back() == step.message);
            VOS_REQUIRE(host.log[logged].name == "midiOutShortMsg");
        } else {
            VOS_REQUIRE(host.sent.size() == sent);
        }
        const std::vector<std::wstring> opened = fuzz::LaunchedSince(host, launched);
        const std::uint32_t status = step.message & 0xF0u;
        if (status != 0x80u && status != 0x90u) {
            // Only note messages move the held set or open anything.
            VOS_REQUIRE(app.recognition.HeldNotes == held);
            VOS_REQUIRE(opened.empty());
            continue;
        }
        if (step.kind == fuzz::Step::NoteLike) {
            VOS_REQUIRE(app.recognition.HeldNotes == fuzz::Expected(held, step.message));
        }
        VOS_REQUIRE(opened == fuzz::Matching(app));
    }
    return 0;
}
