// The state the modules share. The running program owns one App; a test makes a fresh one.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/settings.h"
#include "platform/host.h"

namespace vos {

class frmConfig;

// Where the program is in its life. A message box, the dialog, the file dialog and the tray menu
// each run a message loop of their own, in which Windows goes on dispatching: Exit, a log-off or a
// WM_CLOSE may end the program before the box returns. Every such return checks Closing() and, when
// it is true, opens, registers, writes, launches and shows nothing more.
enum class Life {
    Starting,  // Main is still at work; the tray icon and WindowProc are not in place yet
    Running,   // Main has finished
    Closing,   // frmMain is being unloaded: everything has been or is being released
    Ended,     // the process was told to end at once
};

// What the program knows of a device the settings in force use. Devices come and go while the
// program runs (a cable pulled, sleep, a driver restarting); one that is not open is waited for,
// and the next device change opens it again.
enum class Port {
    Closed,   // not in use: no settings in force, or they do not use it
    Open,
    Gone,     // no device of its name is present (an output also waits here while the input does)
    Refused,  // present, but it would not open; the user has been told once
};

// The settings in force and recognition. modMain puts settings in force and decides whether
// recognition is on (SetRecognition); the chord tracking (midi/chord) follows the keys and learns.
struct Recognition {
    std::vector<LaunchCode> LaunchCodes;
    std::int32_t HeldNotes = 0;
    bool Enabled = false;
    // Learning a chord from the keyboard (the dialog's toggle): notes launch nothing meanwhile.
    struct Learning {
        bool on = false;
        // The input was opened for learning alone (no input was open) and closes with it.
        bool ownsInput = false;
        MidiHandle input = 0;
        std::bitset<128> keys;     // note numbers down now, whatever the channel
        std::int32_t largest = 0;  // the largest set of pitch classes down at one time
        using Ear = std::function<void(std::int32_t held, std::int32_t chord)>;
        Ear heard;  // the dialog's (StartLearning)
    } Learn;
};

// The ports, owned by modMidiIO: the one open input and output and what thru left sounding.
struct Ports {
    MidiHandle MidiInHandle = 0, MidiOutHandle = 0;
    MidiHeader MidiInHeader{};
    std::array<char, 1024> MidiInBuffer{};
    // Per channel, the notes forwarded on and not yet released, and the pedals forwarded down
    // (bits of kPedalControllers' order).
    std::array<std::bitset<128>, 16> SoundingNotes{};
    std::array<std::uint8_t, 16> PedalsDown{};
    Port MidiInPort = Port::Closed, MidiOutPort = Port::Closed;  // those of the settings in force
    bool ThruEnabled() const { return MidiOutPort == Port::Open; }
};

// What modMidiIO keeps to follow the devices of the settings in force as they come and go.
struct DeviceWatch {
    // The settings' names of the devices, and its program.
    SettingsRecord InForce{};
    // The user has been told that the device would not open. Until it opens, every later try is
    // silent, also after it was unplugged and plugged in again while another program holds it.
    bool MidiInRefusalTold = false, MidiOutRefusalTold = false;
    // A device change that arrives while one is being handled (a warning box runs a message loop)
    // is handled again once the first is done, instead of inside it.
    bool CheckingDevices = false, RecheckDevices = false;
};

// The program's life and its tray icon: modMain, frmMain and modHook.
struct Program {
    Life life = Life::Starting;
    WindowHandle MainWindow = 0;
    WndProcValue PrevWndProc = 0;
    int HotkeyId = 0;
    std::wstring TrayTip;  // empty while there is no icon
    // The shell has not taken the icon: it is tried again on a timer, which runs only meanwhile.
    bool TrayMissing = false;
    // A click on the icon is handled at the button's press; the shell follows its release with
    // the notification the keyboard sends too (NIN_SELECT, WM_CONTEXTMENU), which repeats it.
    bool TraySelectFollows = false, TrayContextMenuFollows = false;
};

// The configuration dialog, owned by frmConfig (LoadConfigDialog, UnloadConfigDialog).
struct Dialog {
    std::unique_ptr<frmConfig> Config;
    // An unloaded dialog lives until the message loop is back at its top, because it is often
    // unloaded from inside its own handlers, and OK may even see a second dialog come and go
    // before it returns.
    std::vector<std::unique_ptr<frmConfig>> ConfigUnloaded;
    // Set by OK once its own activation has succeeded, so that the activation that showed the
    // dialog modally does not open everything a second time.
    bool AppliedByDialog = false;
};

// Each part is changed only by its owner's functions; the others read it.
struct App {
    explicit App(Host& h);
    ~App();
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    bool Running() const { return program.life == Life::Running; }
    bool Closing() const { return program.life == Life::Closing || program.life == Life::Ended; }

    Host& host;
    Recognition recognition;
    Ports ports;
    DeviceWatch watch;
    Program program;
    Dialog dialog;
};

}  // namespace vos
