// The small window with a label and a progress bar that the host shows
// during a self-update, when no skin window exists. It keeps itself
// responsive by dispatching one pending user-interface event on every tick
// of the notification center. A fraction below 1.0 is shown at most every
// 40 milliseconds of the monotonic clock (the schedule advances from its own
// previous time, not from now); 1.0 or more is always shown. Main thread.
#pragma once

#include "runtime/containers/dictionary.h"
#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

typedef struct ProgressWindow ProgressWindow;

int32 ProgressWindow_Create(ProgressWindow **Window, const char *Title, const char *Text);
int32 ProgressWindow_SetProgress(ProgressWindow *Window, float64 Fraction);
int32 ProgressWindow_Delete(ProgressWindow **Window);
// The event pump (a notification-center observer).
int32 ProgressWindow_Process(void *User, const char *Type, const char *Name, const char *Instance,
                             Dictionary *UserInfo);

RUNTIME_EXTERN_C_END
