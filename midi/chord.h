// Chord tracking: held pitch classes from incoming note messages, and the launch of every code
// equal to them.
#pragma once

#include <cstdint>

#include "app/app.h"

namespace vos {

enum class NoteEvent { Press, Release, Other };

// Channel-independent: note-on with velocity 0 counts as a release.
NoteEvent ClassifyMessage(std::uint32_t message);
int PitchClassOf(std::uint32_t message);

// One short message from the input: thru first, then tracking and matching.
void HandleMidiData(App& app, std::uint32_t message);
void LaunchMatchingCodes(App& app);
// Keys held on a device that has gone are never released.
void ForgetHeldNotes(App& app);

// Learning a chord by playing it. The input in use is listened to; with none open, `device` is
// opened for as long as learning lasts. `heard` is told after every key: the pitch classes down now
// and, once every key is up again, the chord that was learnt (0 until then). False when the input
// cannot be opened: the user has been told.
bool StartLearning(App& app, int device, Recognition::Learning::Ear heard);
void StopLearning(App& app);

}  // namespace vos
