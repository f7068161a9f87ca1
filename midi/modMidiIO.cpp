#include "midi/modMidiIO.h"

#include "app/modMain.h"
#include "config_dialog/frmConfig.h"
#include "midi/chord.h"

#include <iterator>

namespace vos {
namespace {

std::wstring DeviceName(App& app, bool input, int device) {
    std::wstring name;
    const MmResult result = input ? app.host.midiInGetDevName(device, name)
                                  : app.host.midiOutGetDevName(device, name);
    return result == kMmSysErrNoError ? name : std::wstring{};
}

void ReportOpenFailure(App& app, bool input, int device) {
    Ask(app, Fill(input ? text::kCannotOpenInput : text::kCannotOpenOutput,
                  {DeviceName(app, input, device)}),
        kMbIconExclamation);
}

bool StartMidiIn(App& app, int device) {
    Host& h = app.host;
    Ports& p = app.ports;
    if (h.midiInOpen(p.MidiInHandle, device, app.program.MainWindow, 0, kCallbackWindow) !=
        kMmSysErrNoError) {
        p.MidiInHandle = 0;
        return false;
    }
    p.MidiInHeader = MidiHeader{};
    p.MidiInHeader.BufferLength = static_cast<std::uint32_t>(p.MidiInBuffer.size());
    p.MidiInHeader.Data = p.MidiInBuffer.data();
    h.midiInPrepareHeader(p.MidiInHandle, &p.MidiInHeader, kMidiHeaderSize);
    h.midiInAddBuffer(p.MidiInHandle, &p.MidiInHeader, kMidiHeaderSize);
    h.midiInStart(p.MidiInHandle);
    return true;
}

bool StartMidiOut(App& app, int device) {
    MidiHandle& out = app.ports.MidiOutHandle;
    if (app.host.midiOutOpen(out, device, 0, 0, 0) == kMmSysErrNoError) return true;
    out = 0;
    return false;
}

void SendMidiOut(App& app, std::uint32_t message) {
    app.host.midiOutShortMsg(app.ports.MidiOutHandle, message);
}

void CloseMidiOut(App& app) {
    SilenceMidiOut(app);
    app.host.midiOutClose(app.ports.MidiOutHandle);
    app.ports.MidiOutHandle = 0;
    app.ports.MidiOutPort = Port::Closed;
}

// The output is open: its program is chosen and thru begins.
void StartThru(App& app, std::uint8_t program) {
    // A number past 127 has no program change; its byte would read as a status byte.
    if (program <= 127) SendMidiOut(app, 0xC0u + program * 256u);
    app.ports.MidiOutPort = Port::Open;
}

}  // namespace

bool OpenMidiIn(App& app, int device) {
    if (StartMidiIn(app, device)) return true;
    ReportOpenFailure(app, true, device);
    return false;
}

void CloseMidiIn(App& app) {
    Host& h = app.host;
    Ports& p = app.ports;
    h.midiInStop(p.MidiInHandle);
    h.midiInReset(p.MidiInHandle);
    h.midiInUnprepareHeader(p.MidiInHandle, &p.MidiInHeader, kMidiHeaderSize);
    h.midiInClose(p.MidiInHandle);
    p.MidiInHandle = 0;
}

bool OpenInForceInput(App& app, const SettingsRecord& s) {
    app.watch.InForce = s;
    const bool opened = OpenMidiIn(app, s.MidiInDevice);
    if (app.Closing()) return false;
    // A device that would not open is tried again at the next device change.
    app.ports.MidiInPort = opened ? Port::Open : Port::Refused;
    app.watch.MidiInRefusalTold = !opened;
    app.watch.MidiOutRefusalTold = false;
    return true;
}

bool OpenInForceOutput(App& app) {
    const SettingsRecord& s = app.watch.InForce;
    if (!IsOn(s.UseMidiOut)) return true;
    if (StartMidiOut(app, s.MidiOutDevice)) {
        StartThru(app, s.Program);
        return true;
    }
    ReportOpenFailure(app, false, s.MidiOutDevice);
    if (app.Closing()) return false;
    app.ports.MidiOutPort = Port::Refused;
    app.watch.MidiOutRefusalTold = true;
    return true;
}

void ClosePorts(App& app) {
    CloseMidiIn(app);
    if (app.ports.ThruEnabled()) CloseMidiOut(app);
    app.ports.MidiInPort = app.ports.MidiOutPort = Port::Closed;
}

void ForwardMidiOut(App& app, std::uint32_t m) {
    SendMidiOut(app, m);
    const std::uint32_t status = m & 0xFFu, data1 = (m >> 8) & 0xFFu, data2 = (m >> 16) & 0xFFu;
    // A message whose data bytes are not data is one the synthesizer cannot read as a note or a
    // pedal either.
    if (status < 0x80u || status >= 0xF0u || data1 >= 0x80u || data2 >= 0x80u) return;
    const std::size_t channel = status & 0x0Fu;
    std::bitset<128>& notes = app.ports.SoundingNotes[channel];
    std::uint8_t& pedals = app.ports.PedalsDown[channel];
    switch (status & 0xF0u) {
        case 0x90u:
            notes.set(data1, data2 > 0);
            break;
        case 0x80u:
            notes.reset(data1);
            break;
        case 0xB0u:
            for (std::size_t p = 0; p < std::size(kPedalControllers); ++p) {
                if (data1 != kPedalControllers[p]) continue;
                const auto bit = static_cast<std::uint8_t>(1u << p);
                pedals = data2 >= 64 ? pedals | bit : pedals & ~bit;
            }
            // All sound off, all notes off and the mode messages end the channel's notes; reset
            // all controllers lifts its pedals.
            if (data1 == 120 || data1 >= 123) notes.reset();
            if (data1 == 121) pedals = 0;
            break;
        default:
            break;
    }
}

void SilenceMidiOut(App& app) {
    SendMidiOut(app, SilenceMessage);
    for (std::uint32_t channel = 0; channel < 16; ++channel) {
        std::bitset<128>& notes = app.ports.SoundingNotes[channel];
        for (std::uint32_t note = 0; notes.any() && note < 128; ++note) {
            if (notes.test(note)) SendMidiOut(app, 0x80u | channel | note << 8 | 64u << 16);
        }
        notes.reset();
        std::uint8_t& pedals = app.ports.PedalsDown[channel];
        for (std::size_t p = 0; p < std::size(kPedalControllers); ++p) {
            if (pedals & (1u << p)) {
                SendMidiOut(app, 0xB0u | channel | std::uint32_t{kPedalControllers[p]} << 8);
            }
        }
        pedals = 0;
    }
}

std::wstring GetMidiInName(App& app, int device) { return DeviceName(app, true, device); }
std::wstring GetMidiOutName(App& app, int device) { return DeviceName(app, false, device); }

namespace {

// Where a device of the stored name is now, or -1.
int FindDevice(App& app, bool input, const NameField& name) {
    const unsigned count = input ? app.host.midiInGetNumDevs() : app.host.midiOutGetNumDevs();
    for (unsigned i = 0; i < count; ++i) {
        const int device = static_cast<int>(i);
        if (NameMatches(name, DeviceName(app, input, device))) return device;
    }
    return -1;
}

// An open device is still there while winmm knows where its handle is and the device there has
// the stored name (a handle may outlive its device, or the index may now be another device's).
bool StillThere(App& app, bool input) {
    unsigned id = 0;
    if (input) {
        return app.host.midiInGetID(app.ports.MidiInHandle, id) == kMmSysErrNoError &&
               NameMatches(app.watch.InForce.MidiInName, GetMidiInName(app, static_cast<int>(id)));
    }
    return app.host.midiOutGetID(app.ports.MidiOutHandle, id) == kMmSysErrNoError &&
           NameMatches(app.watch.InForce.MidiOutName, GetMidiOutName(app, static_cast<int>(id)));
}

void LoseOutput(App& app) {
    CloseMidiOut(app);
    app.ports.MidiOutPort = Port::Gone;
}

void LoseInput(App& app) {
    CloseMidiIn(app);
    ForgetHeldNotes(app);
    app.ports.MidiInPort = Port::Gone;
    // Thru has nothing to forward; the output is let go with what it left sounding.
    if (app.ports.MidiOutPort == Port::Open) LoseOutput(app);
}

// False when it told the user something: the box's message loop may have changed anything, so
// the look at the devices starts again.
bool Reopen(App& app, bool input) {
    Port& port = input ? app.ports.MidiInPort : app.ports.MidiOutPort;
    bool& told = input ? app.watch.MidiInRefusalTold : app.watch.MidiOutRefusalTold;
    const SettingsRecord& s = app.watch.InForce;
    const int device = FindDevice(app, input, input ? s.MidiInName : s.MidiOutName);
    if (device < 0) {
        port = Port::Gone;
        return true;
    }
    // An input the dialog opened to learn a chord gives way to the one of the settings.
    if (input && app.recognition.Learn.ownsInput) StopLearning(app);
    if (input ? StartMidiIn(app, device) : StartMidiOut(app, device)) {
        told = false;
        port = Port::Open;
        if (!input) StartThru(app, s.Program);
        return true;
    }
    port = Port::Refused;
    if (told) return true;
    told = true;
    if (input) ShowRecognitionState(app);
    ReportOpenFailure(app, input, device);
    return false;
}

bool Waiting(Port port) { return port == Port::Gone || port == Port::Refused; }

bool LookAtDevices(App& app) {
    Ports& p = app.ports;
    if (p.MidiInPort == Port::Open && !StillThere(app, true)) LoseInput(app);
    if (p.MidiOutPort == Port::Open && !StillThere(app, false)) LoseOutput(app);
    if (Waiting(p.MidiInPort) && !Reopen(app, true)) return false;
    if (p.MidiInPort == Port::Open && Waiting(p.MidiOutPort) && !Reopen(app, false)) return false;
    return true;
}

}  // namespace

void CheckDevices(App& app) {
    // Before the start is complete nothing is in force yet, but the dialog may be up asking for a
    // device, perhaps the one just plugged in. While closing, everything goes anyway.
    if (!app.Running()) {
        if (app.program.life == Life::Starting && app.dialog.Config) {
            app.dialog.Config->DevicesChanged();
        }
        return;
    }
    if (app.watch.CheckingDevices) {
        app.watch.RecheckDevices = true;
        return;
    }
    app.watch.CheckingDevices = true;
    do {
        app.watch.RecheckDevices = false;
        if (!LookAtDevices(app)) app.watch.RecheckDevices = true;
        if (app.Running()) ShowRecognitionState(app);
        if (app.Running() && app.dialog.Config) app.dialog.Config->DevicesChanged();
    } while (app.watch.RecheckDevices && app.Running());
    app.watch.CheckingDevices = false;
}

}  // namespace vos
