// User notifications by an integer id: shown, updated in place and removed.
// Where the system has a user-notification centre they go there; otherwise
// they are alert-style notifications kept in a table under the module lock.
// Types: 1 warning, 2 error (the title then becomes the subtitle under
// "Warning" or "Error"), any other plain. Titles and messages may hold
// decimal character references. Main thread.
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

int32 NativeNotify_Add(void *Window);
int32 NativeNotify_Update(void *Window, int32 Id, int32 Type, const char *Title, const char *Message);
// 1 when a notification with this id was shown, else 0.
int32 NativeNotify_Remove(void *Window, int32 Id);
// Cancels one alert-style notification (also for every one left at stop).
int32 NativeUI_ReleaseUserNotification(int32 Key, void *Notification);

RUNTIME_EXTERN_C_END
