// The GTK 3 backend of the native UI (see platform/posix/native_ui_backend.h):
// real windows, modal message dialogs, the system's file choosers, desktop
// notifications through libnotify, the progress window, and the dock tile's
// drawing painted with cairo as the application's window icon.
//
// Only programs that link this library and call NativeUIGtk_Register before
// NativeUI_Init use it; NativeUI_Init then takes it when a display (X11 or
// Wayland) opens and falls back to the headless model otherwise. The same
// source also builds a module that a program loads only when a display is
// there (see platform/posix/native_ui_gtk_module.h), so that a run without one
// never maps the GTK libraries.
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

int32 NativeUIGtk_Register(void);

// The module's one entry (NativeUIGtk_ModuleCreate): the backend when a
// display opens, else null; Log is the program's Log_PrintInt.
typedef int32 (*NativeUIGtk_LogFunc)(uint32 Level, const char *File, int32 Line, int32 Indent, const char *Format,
                                     ...);

RUNTIME_EXTERN_C_END
