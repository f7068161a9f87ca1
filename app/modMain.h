// Start, activation of the stored settings, the tray icon and orderly shutdown.
#pragma once

#include <string>

#include "app/app.h"

namespace vos {

inline constexpr wchar_t kTitle[] = L"Vosselmar";
inline constexpr wchar_t kTipEnabled[] = L"Vosselmar [有効]";
inline constexpr wchar_t kTipDisabled[] = L"Vosselmar [無効]";

// True when a file or folder of that name exists, whatever its hidden, system and read-only
// attributes.
bool FileExists(App& app, const std::wstring& path);

// Makes config.bin take effect. failed is true afterwards only when the shortcut (or the settings
// file itself) could not be taken into use; then no device has been opened.
void LoadSettings(App& app, bool& failed);

void Main(App& app);
void Shutdown(App& app);
void SetTrayIcon(App& app, TrayPicture picture, const std::wstring& tip, TrayOp operation);

std::wstring ConfigPath(App& app);
std::wstring ManualPath(App& app);

}  // namespace vos
