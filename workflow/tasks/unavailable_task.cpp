// The shared type object of the task types this build does not carry (see
// unavailable_task.h).
#include "workflow/tasks/unavailable_task.h"

#include "runtime/text/string_print.h"
#include "workflow/task_type_object.h"

struct UnavailableTask {
    ClassStruct Class;
    Task *Owner; // not referenced: the task owns this object
};

namespace {

int32 OnStart(void *User, const char *, const char *, const char *, Dictionary *) {
    Task *Owner = static_cast<UnavailableTask *>(User)->Owner;
    const char *Type = Task_GetType(Owner);
    Task_Print(Owner, "Task type %s is not available in this build\n", Type);
    char Identifier[TASK_NAME_SIZE + 32];
    String_Print(Identifier, (int32)sizeof(Identifier), "%s_Error_NotAvailable", Type);
    Task_AddErrorAlways(Owner, Identifier);
    Task_Complete(Owner, nullptr);
    return TRUE;
}

void FreeNothing(void *) {}

} // namespace

TASKTYPE_OBJECT_DEFINE(UnavailableTask, UnavailableTask, UNAVAILABLETASK_CLASSID, OnStart, FreeNothing)

#define UNAVAILABLETASK_DEFINE(Type)                                                                         \
    const TaskInterface Type##_INTERFACE = {#Type, UnavailableTask_Create, UnavailableTask_AddRef,             \
                                            UnavailableTask_Release};
UNAVAILABLETASK_SYSTEM_TYPES(UNAVAILABLETASK_DEFINE)
UNAVAILABLETASK_ENGINE_TYPES(UNAVAILABLETASK_DEFINE)
#undef UNAVAILABLETASK_DEFINE
