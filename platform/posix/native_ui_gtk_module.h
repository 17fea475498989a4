// The GTK backend as a module loaded on demand: the program registers a
// display factory that loads "velmarsh_gtk.so" from its own folder only when
// a display is named (DISPLAY or WAYLAND_DISPLAY), so that a run without one
// never maps GTK, libnotify and the seventy-odd libraries beneath them. A
// module that is missing or fails to load leaves the headless model in place,
// with a warning in the log.
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

// Before NativeUI_Init. Path null: the module beside the program.
int32 NativeUIGtkModule_Register(const char *Path);

RUNTIME_EXTERN_C_END
