#include "app/frmMain.h"

#include "app/modMain.h"
#include "config_dialog/frmConfig.h"
#include "midi/chord.h"

namespace vos {

void ShowTrayMenu(App& app) {
    const MenuChoice choice = app.host.PopupMenu(app.program.MainWindow);
    // The menu's own loop dispatches messages; a log-off may have come meanwhile.
    if (app.Closing()) return;
    switch (choice) {
        case MenuChoice::mnuRCConfig:
            return mnuRCConfig_Click(app);
        case MenuChoice::mnuRCHelp:
            return mnuRCHelp_Click(app);
        case MenuChoice::mnuRCEnd:
            return mnuRCEnd_Click(app);
        case MenuChoice::None:
            return;
    }
}

void mnuRCConfig_Click(App& app) {
    if (!LoadConfigDialog(app)) return;
    app.host.DoEvents();
    // What DoEvents dispatched may have been Exit, or the dialog's own Cancel.
    if (app.Closing() || !app.dialog.Config) return;
    app.host.ShowConfigModeless();
}

void mnuRCHelp_Click(App& app) {
    app.host.ShellExec(app.program.MainWindow, L"open", ManualPath(app), std::nullopt, L"",
                       kSwShow);
}

void mnuRCEnd_Click(App& app) { UnloadMain(app); }

void Form_QueryUnload(App& app) {
    if (app.Closing()) return;
    const bool running = app.Running();
    app.program.life = Life::Closing;
    UnloadConfigDialog(app);
    if (running) {
        Shutdown(app);
    } else {
        // Still starting (the dialog or a box of the first activation is up): the tray icon and
        // WindowProc are not in place yet, but the dialog's OK may have opened the devices.
        ReleaseDevicesAndShortcut(app);
    }
}

void UnloadMain(App& app) {
    Form_QueryUnload(app);
    app.host.DestroyMainWindow();
}

void Form_MidiData(App& app, std::uint32_t message) {
    if (app.program.life == Life::Starting) HandleMidiData(app, message);
}

void OnTaskbarCreated(App& app) {
    if (!app.Running()) return;
    ShowRecognitionState(app, TrayOp::Add);
}

}  // namespace vos
