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

// Learning a chord by playing it. The input in use is listened to; with none open, `device` is
// opened for as long as learning lasts. False when it cannot be opened: the user has been told.
bool StartLearning(App& app, int device);
void StopLearning(App& app);

}  // namespace vos
