#include "midi/modMidiIO.h"

#include "app/modMain.h"
#include "config_dialog/frmConfig.h"
#include "midi/chord.h"

#include <iterator>

namespace vos {
namespace {

void ReportOpenFailure(App& app, bool input, const std::wstring& name) {
    Ask(app, Fill(input ? text::kCannotOpenInput : text::kCannotOpenOutput, {name}),
        kMbIconExclamation);
}

// Opens and starts the input; recognition's state is the caller's business.
bool StartMidiIn(App& app, int device) {
    Host& h = app.host;
    if (h.midiInOpen(app.MidiInHandle, device, app.MainWindow, 0, kCallbackWindow) !=
        kMmSysErrNoError) {
        app.MidiInHandle = 0;
        return false;
    }
    app.MidiInHeader = MidiHeader{};
    app.MidiInHeader.BufferLength = static_cast<std::uint32_t>(app.MidiInBuffer.size());
    app.MidiInHeader.Data = app.MidiInBuffer.data();
    h.midiInPrepareHeader(app.MidiInHandle, &app.MidiInHeader, kMidiHeaderSize);
    h.midiInAddBuffer(app.MidiInHandle, &app.MidiInHeader, kMidiHeaderSize);
    h.midiInStart(app.MidiInHandle);
    return true;
}

bool StartMidiOut(App& app, int device) {
    if (app.host.midiOutOpen(app.MidiOutHandle, device, 0, 0, 0) == kMmSysErrNoError) return true;
    app.MidiOutHandle = 0;
    return false;
}

}  // namespace

bool OpenMidiIn(App& app, int device) {
    const bool opened = StartMidiIn(app, device);
    if (!opened) {
        ReportOpenFailure(app, true, GetMidiInName(app, device));
        // Closed meanwhile: recognition must stay off.
        if (app.Closing()) return false;
    }
    app.Enabled = true;
    return opened;
}

void CloseMidiIn(App& app) {
    Host& h = app.host;
    app.Enabled = false;
    h.midiInStop(app.MidiInHandle);
    h.midiInReset(app.MidiInHandle);
    h.midiInUnprepareHeader(app.MidiInHandle, &app.MidiInHeader, kMidiHeaderSize);
    h.midiInClose(app.MidiInHandle);
    app.MidiInHandle = 0;
}

bool OpenMidiOut(App& app, int device) {
    if (StartMidiOut(app, device)) return true;
    ReportOpenFailure(app, false, GetMidiOutName(app, device));
    return false;
}

void CloseMidiOut(App& app) {
    SilenceMidiOut(app);
    app.host.midiOutClose(app.MidiOutHandle);
    app.MidiOutHandle = 0;
    app.ThruEnabled = false;
}

void StartThru(App& app, std::uint8_t program) {
    // A number past 127 has no program change; its byte would read as a status byte.
    if (program <= 127) SendMidiOut(app, 0xC0u + program * 256u);
    app.ThruEnabled = true;
    app.MidiOutPort = Port::Open;
}

void SendMidiOut(App& app, std::uint32_t message) {
    app.host.midiOutShortMsg(app.MidiOutHandle, message);
}

void ForwardMidiOut(App& app, std::uint32_t m) {
    SendMidiOut(app, m);
    const std::uint32_t status = m & 0xFFu, data1 = (m >> 8) & 0xFFu, data2 = (m >> 16) & 0xFFu;
    // A message whose data bytes are not data is one the synthesizer cannot read as a note or a
    // pedal either.
    if (status < 0x80u || status >= 0xF0u || data1 >= 0x80u || data2 >= 0x80u) return;
    const std::size_t channel = status & 0x0Fu;
    switch (status & 0xF0u) {
        case 0x90u:
            app.SoundingNotes[channel].set(data1, data2 > 0);
            break;
        case 0x80u:
            app.SoundingNotes[channel].reset(data1);
            break;
        case 0xB0u:
            for (std::size_t p = 0; p < std::size(kPedalControllers); ++p) {
                if (data1 != kPedalControllers[p]) continue;
                const auto bit = static_cast<std::uint8_t>(1u << p);
                app.PedalsDown[channel] = data2 >= 64 ? app.PedalsDown[channel] | bit
                                                      : app.PedalsDown[channel] & ~bit;
            }
            // All sound off, all notes off and the mode messages end the channel's notes; reset
            // all controllers lifts its pedals.
            if (data1 == 120 || data1 >= 123) app.SoundingNotes[channel].reset();
            if (data1 == 121) app.PedalsDown[channel] = 0;
            break;
        default:
            break;
    }
}

void SilenceMidiOut(App& app) {
    SendMidiOut(app, SilenceMessage);
    for (std::uint32_t channel = 0; channel < 16; ++channel) {
        std::bitset<128>& notes = app.SoundingNotes[channel];
        for (std::uint32_t note = 0; notes.any() && note < 128; ++note) {
            if (notes.test(note)) SendMidiOut(app, 0x80u | channel | note << 8 | 64u << 16);
        }
        notes.reset();
        for (std::size_t p = 0; p < std::size(kPedalControllers); ++p) {
            if (app.PedalsDown[channel] & (1u << p)) {
                SendMidiOut(app, 0xB0u | channel | std::uint32_t{kPedalControllers[p]} << 8);
            }
        }
        app.PedalsDown[channel] = 0;
    }
}

std::wstring GetMidiInName(App& app, int device) {
    std::wstring name;
    if (app.host.midiInGetDevName(device, name) != kMmSysErrNoError) return {};
    return name;
}

std::wstring GetMidiOutName(App& app, int device) {
    std::wstring name;
    if (app.host.midiOutGetDevName(device, name) != kMmSysErrNoError) return {};
    return name;
}


namespace {

// Where a device of the stored name is now, or -1.
int FindDevice(App& app, bool input, const NameField& name) {
    const unsigned count = input ? app.host.midiInGetNumDevs() : app.host.midiOutGetNumDevs();
    for (unsigned i = 0; i < count; ++i) {
        const int device = static_cast<int>(i);
        if (NameMatches(name, input ? GetMidiInName(app, device) : GetMidiOutName(app, device))) {
            return device;
        }
    }
    return -1;
}

// An open device is still there while winmm knows where its handle is and the device there has
// the stored name (a handle may outlive its device, or the index may now be another device's).
bool StillThere(App& app, bool input) {
    unsigned id = 0;
    if (input) {
        return app.host.midiInGetID(app.MidiInHandle, id) == kMmSysErrNoError &&
               NameMatches(app.InForce.MidiInName, GetMidiInName(app, static_cast<int>(id)));
    }
    return app.host.midiOutGetID(app.MidiOutHandle, id) == kMmSysErrNoError &&
           NameMatches(app.InForce.MidiOutName, GetMidiOutName(app, static_cast<int>(id)));
}

void LoseInput(App& app) {
    const bool enabled = app.Enabled;
    CloseMidiIn(app);
    app.Enabled = enabled;
    // Keys held on a device that is gone are never released.
    app.HeldNotes = 0;
    app.MidiInPort = Port::Gone;
    // Thru has nothing to forward; the output is let go with what it left sounding.
    if (app.MidiOutPort == Port::Open) {
        CloseMidiOut(app);
        app.MidiOutPort = Port::Gone;
    }
}

// Each returns false when it told the user something: the box's message loop may have changed
// anything, so the look at the devices starts again.
bool ReopenInput(App& app) {
    const int device = FindDevice(app, true, app.InForce.MidiInName);
    if (device < 0) {
        app.MidiInPort = Port::Gone;
        return true;
    }
    // An input the dialog opened to learn a chord gives way to the one of the settings.
    if (app.Learn.ownsInput) StopLearning(app);
    if (StartMidiIn(app, device)) {
        app.MidiInPort = Port::Open;
        app.MidiInRefusalTold = false;
        app.InForce.MidiInDevice = device;
        return true;
    }
    app.MidiInPort = Port::Refused;
    if (app.MidiInRefusalTold) return true;
    app.MidiInRefusalTold = true;
    ShowRecognitionState(app);
    ReportOpenFailure(app, true, GetMidiInName(app, device));
    return false;
}

bool ReopenOutput(App& app) {
    const int device = FindDevice(app, false, app.InForce.MidiOutName);
    if (device < 0) {
        app.MidiOutPort = Port::Gone;
        return true;
    }
    if (StartMidiOut(app, device)) {
        app.MidiOutRefusalTold = false;
        app.InForce.MidiOutDevice = device;
        StartThru(app, app.InForce.Program);
        return true;
    }
    app.MidiOutPort = Port::Refused;
    if (app.MidiOutRefusalTold) return true;
    app.MidiOutRefusalTold = true;
    ReportOpenFailure(app, false, GetMidiOutName(app, device));
    return false;
}

bool Waiting(Port port) { return port == Port::Gone || port == Port::Refused; }

bool LookAtDevices(App& app) {
    if (app.MidiInPort == Port::Open && !StillThere(app, true)) LoseInput(app);
    if (app.MidiOutPort == Port::Open && !StillThere(app, false)) {
        CloseMidiOut(app);
        app.MidiOutPort = Port::Gone;
    }
    if (Waiting(app.MidiInPort) && !ReopenInput(app)) return false;
    if (app.MidiInPort == Port::Open && Waiting(app.MidiOutPort) && !ReopenOutput(app)) return false;
    return true;
}

}  // namespace

void CheckDevices(App& app) {
    // Before the start is complete nothing is in force yet, but the dialog may be up asking for a
    // device, perhaps the one just plugged in. While closing, everything goes anyway.
    if (!app.Running()) {
        if (app.life == Life::Starting && app.Config) app.Config->DevicesChanged();
        return;
    }
    if (app.CheckingDevices) {
        app.RecheckDevices = true;
        return;
    }
    app.CheckingDevices = true;
    do {
        app.RecheckDevices = false;
        if (!LookAtDevices(app)) app.RecheckDevices = true;
        if (app.Running()) ShowRecognitionState(app);
        if (app.Running() && app.Config) app.Config->DevicesChanged();
    } while (app.RecheckDevices && app.Running());
    app.CheckingDevices = false;
}

}  // namespace vos
