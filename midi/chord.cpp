#include "midi/chord.h"

#include "midi/modMidiIO.h"

namespace vos {

NoteEvent ClassifyMessage(std::uint32_t m) {
    if ((m & 0xFF00F0u) == 0x90u || (m & 0xF0u) == 0x80u) return NoteEvent::Release;
    if ((m & 0xF0u) == 0x90u) return NoteEvent::Press;
    return NoteEvent::Other;
}

int PitchClassOf(std::uint32_t m) { return static_cast<int>((m >> 8) & 0xFFu) % 12; }

void HandleMidiData(App& app, std::uint32_t m) {
    // Thru happens before anything else so the synthesizer hears every message, notes or not.
    if (app.Enabled && app.ThruEnabled) ForwardMidiOut(app, m);
    NoteEvent event = ClassifyMessage(m);
    if (event == NoteEvent::Other) return;
    // Keys are followed while recognition is off too (nothing is forwarded or launched then), so
    // that once it is back on the held set is the keys really held.
    const std::int32_t bit = std::int32_t{1} << PitchClassOf(m);
    if (event == NoteEvent::Press) {
        app.HeldNotes |= bit;
    } else {
        app.HeldNotes &= ~bit;
    }
    if (app.Enabled) LaunchMatchingCodes(app);
}

void LaunchMatchingCodes(App& app) {
    for (std::size_t i = 0; i < app.LaunchCodes.size(); ++i) {
        if (app.LaunchCodes[i].Code != app.HeldNotes) continue;
        // A copy, and the size checked on every round: the shell may run a message loop while it
        // opens the target, and settings applied inside that loop replace the list, or Exit ends
        // the program.
        if (app.Closing()) return;
        const LaunchCode code = app.LaunchCodes[i];
        app.host.ShellExec(app.MainWindow, L"open", code.Path, code.Command, L"", kSwShow);
    }
}

}  // namespace vos
