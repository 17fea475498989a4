// The GTK 3 backend of the native UI (see core/posix/native_ui_backend.h):
// real windows, modal message dialogs, the system's file choosers, desktop
// notifications through libnotify, the progress window, and the dock tile's
// drawing painted with cairo as the application's window icon.
//
// Only programs that link this library and call NativeUIGtk_Register before
// NativeUI_Init use it; NativeUI_Init then takes it when a display (X11 or
// Wayland) opens and falls back to the headless model otherwise.
#pragma once

#include "core/types.h"

RUNTIME_EXTERN_C_BEGIN

int32 NativeUIGtk_Register(void);

RUNTIME_EXTERN_C_END
