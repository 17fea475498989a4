// End, Error, Shutdown and Implode: the types that end a run or the
// application.
#include <string>

#include "runtime/debug.h"
#include "runtime/text/string.h"
#include "workflow/task_type_object.h"
#include "workflow/tasks/control_task.h"
#include "workflow/app/workflow_app_life.h"

struct End {
    ClassStruct Class;
    Task *Owner;
};

struct Implode {
    ClassStruct Class;
    Task *Owner;
};

namespace {

constexpr int32 TextSize = 320;

int32 OnEndStart(void *User, const char *, const char *, const char *, Dictionary *) {
    Task *Owner = static_cast<End *>(User)->Owner;
    const char *Type = Task_GetType(Owner);
    float64 Code = 0;
    if (Task_GetNumberArgument(Owner, "exitCode", &Code)) Debug_SetExitCode((int32)Code);

    if (String_CompareWithoutCase(Type, "Shutdown")) {
        Task_Print(Owner, "Initiating shutdown\n");
        Dictionary *Payload = nullptr, *Definition = nullptr;
        Dictionary_Create(&Payload);
        Task_GetDictionaryHandle(Owner, &Definition);
        Dictionary_Merge(Payload, Definition, DICTIONARY_MERGE_OVERWRITE);
        Task_ExpandDictionary(Owner, Payload);
        uint32 SelfUpdate = FALSE;
        if (Task_GetBooleanArgument(Owner, "selfUpdate", &SelfUpdate) && SelfUpdate)
            Dictionary_SetBooleanByKey(Payload, "canRemote", FALSE);
        NotificationCenter_FireAfterDelay("WorkflowApp", "Shutdown", ((ClassStruct *)Owner)->InstanceId, 0, Payload);
        Dictionary_Release(&Payload);
        return Task_Complete(Owner, nullptr);
    }
    const char *Key = String_CompareWithoutCase(Type, "Error") ? "message" : "error";
    char Text[TextSize] = "";
    if (Task_GetStringArgument(Owner, Key, Text, (int32)sizeof(Text))) Task_AddError(Owner, "%s", Text);
    return Task_Complete(Owner, nullptr);
}

int32 OnImplodeStart(void *User, const char *, const char *, const char *, Dictionary *) {
    Task *Owner = static_cast<Implode *>(User)->Owner;
    char Path[TextSize] = "";
    if (Task_GetStringArgument(Owner, "path", Path, (int32)sizeof(Path))) {
        WorkflowApp_SetImplodePath(Path);
    } else {
        Task_Print(Owner, "Imploding\n");
        WorkflowApp_Implode();
    }
    return Task_Complete(Owner, nullptr);
}

void FreeNothing(void *) {}

} // namespace

TASKTYPE_OBJECT_DEFINE(End, End, END_CLASSID, OnEndStart, FreeNothing)
TASKTYPE_OBJECT_DEFINE(Implode, Implode, IMPLODE_CLASSID, OnImplodeStart, FreeNothing)
TASKTYPE_INTERFACE_DEFINE(End, End)
TASKTYPE_INTERFACE_DEFINE(Error, End)
TASKTYPE_INTERFACE_DEFINE(Shutdown, End)
TASKTYPE_INTERFACE_DEFINE(Implode, Implode)

int32 TaskType_MissingArgument(Task *Owner, const char *Name) {
    Task_Print(Owner, "\"%s\" argument not defined\n", Name);
    Task_AddMissingArgumentError(Owner, ("\"" + std::string(Name) + "\"").c_str());
    Task_Complete(Owner, nullptr);
    return TRUE;
}
