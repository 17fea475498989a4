// The engine's control-flow task types: End, Error and Shutdown; Implode;
// Sleep; Log; Notification; Status; the comparisons (StringContains,
// StringCompare, NumberCompare, VersionCompare); Singleton; and Environment
// (also named EnvironmentGet and EnvironmentSet). Each is a type object
// bound to one task (workflow/task_type_object.h); all run on the main
// thread and end their task exactly once.
#pragma once

#include "workflow/task.h"

#define END_CLASSID 0x5f860722u
#define IMPLODE_CLASSID 0xb461f6e7u
#define SLEEP_CLASSID 0x2f6b2793u
#define LOGTASK_CLASSID 0x571f5012u
#define NOTIFICATIONTASK_CLASSID 0xdc1552f5u
#define STATUS_CLASSID 0xd86db48cu
#define STRINGCONTAINS_CLASSID 0xbbcc7c7eu
#define STRINGCOMPARE_CLASSID 0xb0ac3d70u
#define NUMBERCOMPARE_CLASSID 0xcc7a554eu
#define VERSIONCOMPARE_CLASSID 0x0201ec17u
#define SINGLETON_CLASSID 0xdc9201aau
#define ENVIRONMENT_CLASSID 0x1e728477u

RUNTIME_EXTERN_C_BEGIN

typedef struct End End;
typedef struct Implode Implode;
typedef struct Sleep Sleep;
typedef struct LogTask LogTask;
typedef struct NotificationTask NotificationTask;
typedef struct Status Status;
typedef struct StringContains StringContains;
typedef struct StringCompare StringCompare;
typedef struct NumberCompare NumberCompare;
typedef struct VersionCompare VersionCompare;
typedef struct Singleton Singleton;
typedef struct Environment Environment;

#define CONTROLTASK_DECLARE(Type)                                                                            \
    int32 Type##_Create(void **Handle, Task *Owner);                                                           \
    int32 Type##_Delete(Type **Handle);                                                                        \
    void *Type##_AddRef(void *Handle);                                                                         \
    int32 Type##_Release(void **Handle);
CONTROLTASK_DECLARE(End)
CONTROLTASK_DECLARE(Implode)
CONTROLTASK_DECLARE(Sleep)
CONTROLTASK_DECLARE(LogTask)
CONTROLTASK_DECLARE(NotificationTask)
CONTROLTASK_DECLARE(Status)
CONTROLTASK_DECLARE(StringContains)
CONTROLTASK_DECLARE(StringCompare)
CONTROLTASK_DECLARE(NumberCompare)
CONTROLTASK_DECLARE(VersionCompare)
CONTROLTASK_DECLARE(Singleton)
CONTROLTASK_DECLARE(Environment)
#undef CONTROLTASK_DECLARE

extern const TaskInterface End_INTERFACE;
extern const TaskInterface Error_INTERFACE;
extern const TaskInterface Shutdown_INTERFACE;
extern const TaskInterface Implode_INTERFACE;
extern const TaskInterface Sleep_INTERFACE;
extern const TaskInterface Log_INTERFACE;
extern const TaskInterface Notification_INTERFACE;
extern const TaskInterface Status_INTERFACE;
extern const TaskInterface StringContains_INTERFACE;
extern const TaskInterface StringCompare_INTERFACE;
extern const TaskInterface NumberCompare_INTERFACE;
extern const TaskInterface VersionCompare_INTERFACE;
extern const TaskInterface Singleton_INTERFACE;
extern const TaskInterface Environment_INTERFACE;
extern const TaskInterface EnvironmentGet_INTERFACE;
extern const TaskInterface EnvironmentSet_INTERFACE;

RUNTIME_EXTERN_C_END
