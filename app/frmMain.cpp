#include "app/frmMain.h"

#include "app/modMain.h"
#include "config_dialog/frmConfig.h"

namespace vos {

void ShowTrayMenu(App& app) {
    switch (app.host.PopupMenu(app.MainWindow)) {
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
    app.host.ShowConfigModeless();
}

void mnuRCHelp_Click(App& app) {
    app.host.ShellExec(app.MainWindow, L"open", ManualPath(app), std::nullopt, L"", kSwShow);
}

void mnuRCEnd_Click(App& app) { UnloadMain(app); }

void Form_QueryUnload(App& app) {
    if (app.MainUnloaded || !app.Started) return;
    app.MainUnloaded = true;
    UnloadConfigDialog(app);
    Shutdown(app);
}

void UnloadMain(App& app) {
    Form_QueryUnload(app);
    app.host.DestroyMainWindow();
}

void OnTaskbarCreated(App& app) {
    if (!app.Started || app.MainUnloaded) return;
    SetTrayIcon(app, app.TrayShowsEnabled ? TrayPicture::picIcon1 : TrayPicture::picIcon2,
                app.TrayShowsEnabled ? kTipEnabled : kTipDisabled, TrayOp::Add);
}

}  // namespace vos
