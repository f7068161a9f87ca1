// The hidden main window's handlers: the tray menu and unloading.
#pragma once

#include <cstdint>

#include "app/app.h"

namespace vos {

void ShowTrayMenu(App& app);
void mnuRCConfig_Click(App& app);
void mnuRCHelp_Click(App& app);
void mnuRCEnd_Click(App& app);

// Runs once, whatever the reason for unloading (Exit, log-off, shutdown).
void Form_QueryUnload(App& app);
// Unload handler, then the window goes and the message loop ends.
void UnloadMain(App& app);
// An input message that reached frmMain's own window procedure. Before WindowProc is in place
// only the dialog of the first activation can have opened an input, to learn a chord; afterwards
// WindowProc has handled the message already and passes it on to here.
void Form_MidiData(App& app, std::uint32_t message);
// The shell's task bar was re-created (Explorer restarted): the icon must be added again.
void OnTaskbarCreated(App& app);

}  // namespace vos
