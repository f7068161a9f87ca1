#include "midi/chord.h"

#include "midi/modMidiIO.h"

#include <bit>
#include <utility>

namespace vos {
namespace {

std::int32_t PitchClassesOf(const std::bitset<128>& keys) {
    std::int32_t mask = 0;
    for (int note = 0; note < 128; ++note) {
        if (keys.test(static_cast<std::size_t>(note))) mask |= std::int32_t{1} << note % 12;
    }
    return mask;
}

// Keys, not pitch classes, tell when the hands are off the keyboard: letting go of one C while
// another is still down does not end the chord.
void Learn(App& app, NoteEvent event, std::uint32_t m) {
    Recognition::Learning& learn = app.recognition.Learn;
    const std::size_t note = (m >> 8) & 0x7Fu;
    learn.keys.set(note, event == NoteEvent::Press);
    const std::int32_t held = PitchClassesOf(learn.keys);
    // A chord is what sounded together: of an arpeggio only its fullest moment counts.
    if (std::popcount(static_cast<std::uint32_t>(held)) >
        std::popcount(static_cast<std::uint32_t>(learn.largest))) {
        learn.largest = held;
    }
    std::int32_t chord = 0;
    if (learn.keys.none()) chord = std::exchange(learn.largest, 0);
    if (learn.heard) learn.heard(held, chord);
}

// The scan alone, with nothing else in the loop to keep its values from registers: with hundreds
// of codes and no match it is nearly all of a note event's time.
std::size_t NextMatch(const std::vector<LaunchCode>& codes, std::int32_t held, std::size_t from) {
    const std::size_t size = codes.size();
    while (from < size && codes[from].Code != held) ++from;
    return from;
}

// Kept out of line so that the scan above stays small. A copy: the list may be replaced while the
// shell opens the target.
[[gnu::noinline]] void Launch(App& app, std::size_t index) {
    const LaunchCode code = app.recognition.LaunchCodes[index];
    app.host.ShellExec(app.program.MainWindow, L"open", code.Path, code.Command, L"", kSwShow);
}

}  // namespace

NoteEvent ClassifyMessage(std::uint32_t m) {
    if ((m & 0xFF00F0u) == 0x90u || (m & 0xF0u) == 0x80u) return NoteEvent::Release;
    if ((m & 0xF0u) == 0x90u) return NoteEvent::Press;
    return NoteEvent::Other;
}

int PitchClassOf(std::uint32_t m) { return static_cast<int>((m >> 8) & 0xFFu) % 12; }

void HandleMidiData(App& app, std::uint32_t m) {
    // Thru happens before anything else so the synthesizer hears every message, notes or not.
    if (app.recognition.Enabled && app.ports.ThruEnabled()) ForwardMidiOut(app, m);
    NoteEvent event = ClassifyMessage(m);
    if (event == NoteEvent::Other) return;
    // Keys are followed while recognition is off too (nothing is forwarded or launched then), so
    // that once it is back on the held set is the keys really held.
    const std::int32_t bit = std::int32_t{1} << PitchClassOf(m);
    if (event == NoteEvent::Press) {
        app.recognition.HeldNotes |= bit;
    } else {
        app.recognition.HeldNotes &= ~bit;
    }
    if (app.recognition.Learn.on) {
        Learn(app, event, m);
        return;
    }
    if (app.recognition.Enabled) LaunchMatchingCodes(app);
}

void LaunchMatchingCodes(App& app) {
    std::size_t i = 0;
    for (;;) {
        i = NextMatch(app.recognition.LaunchCodes, app.recognition.HeldNotes, i);
        if (i >= app.recognition.LaunchCodes.size()) return;
        // The list and the held set are read again after every launch: the shell may run a
        // message loop while it opens the target, in which settings applied replace the list,
        // more notes arrive, or Exit ends the program.
        if (app.Closing()) return;
        Launch(app, i++);
    }
}

void ForgetHeldNotes(App& app) { app.recognition.HeldNotes = 0; }

bool StartLearning(App& app, int device, Recognition::Learning::Ear heard) {
    Recognition::Learning& learn = app.recognition.Learn;
    if (!learn.on) {
        learn = Recognition::Learning{};
        if (app.ports.MidiInHandle == 0) {
            // A failure has been told in a box, during which the program may have begun closing.
            if (!OpenMidiIn(app, device)) return false;
            learn.ownsInput = true;
            learn.input = app.ports.MidiInHandle;
        }
        learn.on = true;
    }
    learn.heard = std::move(heard);
    return true;
}

void StopLearning(App& app) {
    Recognition::Learning& learn = app.recognition.Learn;
    if (!learn.on) return;
    // Only the input opened here, and only while it is still the one open: settings applied
    // meanwhile have closed it and opened their own.
    if (learn.ownsInput && app.ports.MidiInHandle == learn.input && app.ports.MidiInHandle != 0) {
        CloseMidiIn(app);
    }
    learn = Recognition::Learning{};
}

}  // namespace vos
