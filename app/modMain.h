// Start, activation of the stored settings, the tray icon and orderly shutdown.
#pragma once

#include <optional>
#include <string>

#include "app/app.h"
#include "app/texts.h"

namespace vos {


// True when a file or folder of that name exists, whatever its hidden, system and read-only
// attributes.
bool FileExists(App& app, const std::wstring& path);

// Shows a message box titled Vosselmar and returns the button chosen, or nullopt when the program
// began closing while the box was up: the caller then stops at once.
std::optional<int> Ask(App& app, const std::wstring& text, unsigned style);

// How an activation of config.bin ended.
enum class Activation {
    Active,           // the settings are in force (perhaps applied already by the dialog's OK)
    ShortcutRefused,  // the user was told; no device was opened
    Stopped,          // the user was told why config.bin cannot be used; nothing was opened
    Closing,          // the program began closing meanwhile; nothing more may happen
};

// Makes config.bin take effect: creates it on the first start, reads it, sends the user to the
// dialog while a stored device is missing, registers the shortcut and opens the devices.
Activation LoadSettings(App& app);

// Closes the input and, with thru, the output (silencing it first) and gives the shortcut back:
// before new settings take effect, and at the end.
void ReleaseDevicesAndShortcut(App& app);

void Main(App& app);
void Shutdown(App& app);
// A tray icon the shell did not take is tried again every kTrayRetryMs, as Modify first (an Add
// that timed out may have been carried out after all) and then as Add.
inline constexpr std::uintptr_t kTrayTimerId = 1;
inline constexpr unsigned kTrayRetryMs = 3000;
void SetTrayIcon(App& app, TrayPicture picture, const std::wstring& tip, TrayOp operation);
// Puts the icon in the tray (Add, again after Explorer restarted) or brings it up to date
// (Modify, only when it says something else now, or while the shell has not taken it):
// recognition on or off, or the input missing.
void ShowRecognitionState(App& app, TrayOp operation = TrayOp::Modify);
// The retry timer's tick.
void RetryTrayIcon(App& app);

std::wstring ConfigPath(App& app);
std::wstring ManualPath(App& app);

}  // namespace vos
