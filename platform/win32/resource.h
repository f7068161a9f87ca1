#pragma once

#define IDI_PROGRAM 1
#define IDI_TRAY_ENABLED 101
#define IDI_TRAY_DISABLED 102
