// The host's session services: the single-instance guard, sleep prevention,
// restart, and the shortcut and privilege calls this platform does not have.
#pragma once

#include "runtime/types.h"

// Messages of the power callback and its answers.
#define PLATFORM_POWER_CAN_SLEEP 1
#define PLATFORM_POWER_WILL_SLEEP 2
#define PLATFORM_POWER_ALLOW 1
#define PLATFORM_POWER_CANCEL 0
#define PLATFORM_POWER_NO_ANSWER (-1)

RUNTIME_EXTERN_C_BEGIN

typedef int32 (*Platform_SingletonDataFunc)(void *User, const void *Data, int32 Length);

// Single instance: 0 when this process holds "<Name>-EXCLUSIVE", 1 when
// another one does.
int32 Platform_Singleton(const char *Name, int32 TimeoutMs);
int32 Platform_SingletonGetName(char *Buffer, int32 Length);
int32 Platform_SingletonSetDataCallback(void *User, Platform_SingletonDataFunc Function);
int32 Platform_SingletonReadData(void);
int32 Platform_SingletonSendData(const void *Data, int32 Length);
int32 Platform_SingletonEnd(void);

// Sleep prevention: each call with 1 keeps the machine awake for 300 more
// seconds of the monotonic clock; 0 ends it. The hold on display sleep is
// released as soon as prevention ends or its deadline passes.
int32 Platform_PreventSystemSleep(int32 Prevent);
// The answer to a power message (PLATFORM_POWER_*).
int32 Platform_SleepCallBack(int32 Message);
// 1 while sleep is held off.
int32 Platform_IsSleepPrevented(void);

int32 Platform_Reboot(void);
int32 Platform_CreateShortcut(const char *Executable, const char *Parameter, int32 IconId, const char *Location,
                              const char *Description, const char *IconLocation, int32 Flags);
int32 Platform_RemoveShortcut(const char *Location, const char *Description);
int32 Platform_EnablePrivilege(const char *Name);

RUNTIME_EXTERN_C_END
