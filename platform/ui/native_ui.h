// The native user interface's module state. NativeUI_Init runs first among
// the user-interface services, on the main thread: it picks the windowing
// backend once (the GTK backend when a program registered it and a display
// opens, else the headless model; the choice is logged and a missing display
// is no error), installs the fatal-stop hook that shows the stop to the user,
// prepares the notification state and makes the dock tile view. The other
// native modules (native_window.h, native_chooser.h, native_notify.h,
// native_taskbar.h, progress_window.h) work through this state.
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

typedef int32 (*NativeUI_MessageBoxFunc)(void *Window, const char *Text, const char *Caption, uint32 Type);

typedef struct GlobalNativeUIStruct {
    void *Lock;                        // guards the alert-notification table
    void *NotificationCentreClass;     // non-null when the system has a notification centre
    void *NotificationClass;
    NativeUI_MessageBoxFunc MessageBoxOverride;
    void *AlertNotificationTable;      // id -> alert notification, only without a centre
    void *DockTileView;                // NativeDockTileView
    void *NotificationDelegate;        // made on first need
} GlobalNativeUIStruct;

extern GlobalNativeUIStruct *GlobalNativeUI;

int32 NativeUI_Init(void);
int32 NativeUI_Remove(void);
// The fatal-stop hook: shows the stop in an "Internal error..." box unless
// the process runs in command-line mode (debug flag 0x10).
int32 NativeUI_AbortOverride(const char *File, int32 Line, const char *Message);
int32 NativeUI_MessageBoxOverride(NativeUI_MessageBoxFunc Function);
// The name of the running backend ("" before Init).
const char *NativeUI_BackendName(void);
// Runs the windowing system's pending events without waiting (the host's
// main loop calls it on every pass); 1.
int32 NativeUI_Process(void);
// Waits up to TimeoutMS (negative: without end) for Descriptor to become
// readable while the windowing system's events run (the host's main loop
// waits here); 1 when it became readable.
int32 NativeUI_Poll(int32 Descriptor, int32 TimeoutMS);

RUNTIME_EXTERN_C_END
