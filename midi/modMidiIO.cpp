#include "midi/modMidiIO.h"

#include "app/modMain.h"

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
    SendMidiOut(app, SilenceMessage);
    app.host.midiOutClose(app.MidiOutHandle);
    app.MidiOutHandle = 0;
    app.ThruEnabled = false;
}

void SendMidiOut(App& app, std::uint32_t message) {
    app.host.midiOutShortMsg(app.MidiOutHandle, message);
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
