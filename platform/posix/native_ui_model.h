// The headless model of the windowing system (see native_ui_backend.h), and
// the hooks through which tests and the host steer and read it.
//
// Windows lie on a virtual screen (1920 x 1080 unless set); a titled frame
// adds a 22-point title bar. Every alert is recorded and answered by the
// responder as 1000 + a button index; without a responder the first button
// is taken at once, so nothing ever waits for a user. Panels are answered by
// their responder (none: cancelled). The notification centre is present
// unless switched off, in which case the modules fall back to alert-style
// notifications. The dock tile keeps the last display list it was given.
#pragma once

#include <functional>
#include <map>

#include "platform/posix/native_ui_backend.h"

struct NativeModelProgressWindow {
    std::string Title, Text;
    float64 Fraction = 0;
    int32 Updates = 0; // fractions shown
    int32 Visible = 1;
};

struct NativeModelState {
    int32 ScreenWidth = 1920, ScreenHeight = 1080;
    std::function<int32(const NativeAlertRequest &)> AlertResponder;
    std::vector<NativeAlertRequest> Alerts;
    std::function<int32(NativePanelRequest &)> PanelResponder;
    std::vector<NativePanelRequest> Panels;
    int32 NotificationCentre = 1;
    std::vector<NativeNotification> Delivered;     // the centre's list
    std::vector<NativeNotification> Presented;     // every delivery, in order
    std::map<int32, NativeNotification> AlertNotes; // shown alert-style notifications
    NativeDisplayList DockTile;
    int32 DockTileRedisplays = 0;
    void *ApplicationIcon = nullptr;
    std::vector<NativeModelProgressWindow *> ProgressWindows;
    int32 EventsPumped = 0;
};

// The model's state while it is the running backend, else null.
NativeModelState *NativeUIModel_State();

// A window record on the running backend (either one), frame in bottom-left
// screen coordinates; Delete closes and frees it. A view lies in a window.
NativeWindowRecord *NativeUIModel_CreateWindow(int32 X, int32 Y, int32 Width, int32 Height);
NativeWindowRecord *NativeUIModel_CreateView(NativeWindowRecord *Window);
void NativeUIModel_DeleteWindow(NativeWindowRecord *Window);

// Whether the model offers a notification centre; also before NativeUI_Init,
// which reads it when it makes the model (default: present).
int32 NativeUIModel_SetNotificationCentre(int32 Present);

// The model backend (NativeUI_Init makes it when no display backend runs).
NativeUIBackend *NativeUIModel_Create();
