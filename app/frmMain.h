// The hidden main window's handlers: the tray menu and unloading.
#pragma once

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
// The shell's task bar was re-created (Explorer restarted): the icon must be added again.
void OnTaskbarCreated(App& app);

}  // namespace vos
