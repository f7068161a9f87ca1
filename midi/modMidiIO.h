// The MIDI device layer: the one open input and output, opened and closed in a fixed order.
#pragma once

#include <cstdint>
#include <string>

#include "app/app.h"

namespace vos {

// Control change 124 on channel 1 (Omni Off, which also ends sounding notes), value 0.
inline constexpr std::uint32_t SilenceMessage = 0x00007CB0;

// Opening and closing leave recognition as it was: whether it is on is modMain's business.
// False when the input could not be opened; the user has been told already.
bool OpenMidiIn(App& app, int device);
void CloseMidiIn(App& app);
// The devices of new settings, as their activation opens them: the input, then the output (when
// the settings use one). A device that would not open is told of and waited for. False when the
// program began closing meanwhile.
bool OpenInForceInput(App& app, const SettingsRecord& settings);
bool OpenInForceOutput(App& app);
// Before new settings take effect, and at the end.
void ClosePorts(App& app);
// Thru: sends a message from the input on, and remembers what it leaves sounding.
void ForwardMidiOut(App& app, std::uint32_t message);
// Wherever forwarding stops: SilenceMessage as always, then a note-off (velocity 64) for each note
// still sounding, on its own channel, and a release of each pedal still down; channels that are
// silent get nothing more.
void SilenceMidiOut(App& app);

// Sustain, sostenuto and soft: the pedals a player can leave down.
inline constexpr std::uint8_t kPedalControllers[] = {64, 66, 67};

// A device may have gone or come (WM_DEVICECHANGE, or the driver closed the input): a device in use
// that is gone is closed, and one that is back is opened again as activation opened it. Nothing
// else changes, config.bin least of all. The open settings dialog's device lists follow.
void CheckDevices(App& app);

// The device's name as the driver reports it; empty for an index that is not a device.
std::wstring GetMidiInName(App& app, int device);
std::wstring GetMidiOutName(App& app, int device);

}  // namespace vos
