#include "midi/modMidiIO.h"

#include "app/modMain.h"

#include <iterator>

namespace vos {
namespace {

void ReportOpenFailure(App& app, const wchar_t* kind, const std::wstring& name) {
    Ask(app,
        std::wstring(L"MIDI") + kind + L"デバイス「" + name + L"」を開けませんでした。\r" +
            L"他のプログラムが使用していないか、接続を確認してください。",
        kMbIconExclamation);
}

}  // namespace

bool OpenMidiIn(App& app, int device) {
    Host& h = app.host;
    MmResult r = h.midiInOpen(app.MidiInHandle, device, app.MainWindow, 0, kCallbackWindow);
    bool opened = r == kMmSysErrNoError;
    if (opened) {
        app.MidiInHeader = MidiHeader{};
        app.MidiInHeader.BufferLength = static_cast<std::uint32_t>(app.MidiInBuffer.size());
        app.MidiInHeader.Data = app.MidiInBuffer.data();
        h.midiInPrepareHeader(app.MidiInHandle, &app.MidiInHeader, kMidiHeaderSize);
        h.midiInAddBuffer(app.MidiInHandle, &app.MidiInHeader, kMidiHeaderSize);
        h.midiInStart(app.MidiInHandle);
    } else {
        app.MidiInHandle = 0;
        ReportOpenFailure(app, L"入力", GetMidiInName(app, device));
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
    MmResult r = app.host.midiOutOpen(app.MidiOutHandle, device, 0, 0, 0);
    if (r == kMmSysErrNoError) return true;
    app.MidiOutHandle = 0;
    ReportOpenFailure(app, L"出力", GetMidiOutName(app, device));
    return false;
}

void CloseMidiOut(App& app) {
    SilenceMidiOut(app);
    app.host.midiOutClose(app.MidiOutHandle);
    app.MidiOutHandle = 0;
    app.ThruEnabled = false;
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

}  // namespace vos
