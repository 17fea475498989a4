// End, Error, Shutdown and Implode: the types that end a run or the
// application.
#include <math.h>
#include <stdio.h>

#include <string>

#include "runtime/debug.h"
#include "runtime/text/string.h"
#include "workflow/task_internal.h"
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

} // namespace

bool TaskType_CheckExitCode(Task *Owner, float64 Code, const char *What) {
    // A fraction is refused too: cut to a whole number, 1.5 would exit as 1.
    if (isfinite(Code) && Code == trunc(Code) && Code > -2147483649.0 && Code < 2147483648.0) return true;
    char Why[128];
    snprintf(Why, sizeof(Why), "is %.*g: a whole number from -2147483648 to 2147483647 is asked",
             fabs(Code) < 1e20 && Code == trunc(Code) ? 20 : 17, Code);
    TaskInt_RefuseArgument(Owner, What, Why);
    return false;
}

namespace {

// "path" given as anything but a text is the document's mistake: imploding
// the program itself in its place would do what nobody asked for.
bool PathIsText(Task *Owner) {
    int32 Type = DICTIONARY_TYPE_UNKNOWN;
    if (!Task_GetArgumentType(Owner, "path", &Type) || Type == DICTIONARY_TYPE_STRING) return true;
    TaskInt_RefuseArgument(Owner, "\"path\"", "is not a text");
    return false;
}

int32 OnEndStart(void *User, const char *, const char *, const char *, Dictionary *) {
    Task *Owner = static_cast<End *>(User)->Owner;
    const char *Type = Task_GetType(Owner);
    float64 Code = 0;
    bool Numeric = Task_GetNumberArgument(Owner, "exitCode", &Code);
    // An exit code that is no number ends the task here: a Shutdown would
    // otherwise end the application with the code of a success.
    // The process exit code is 32 bits wide: a number past it would arrive
    // cut to some other code (4294967296 to 0, a success), so it is refused
    // with why and the recorded code stays as it was. It is taken only when
    // the task acts, below: a refusal on the way takes nothing.
    if (Numeric) TaskType_CheckExitCode(Owner, Code, "\"exitCode\"");
    if (Task_IsArgumentRefused(Owner)) return Task_Complete(Owner, nullptr);

    if (String_CompareWithoutCase(Type, "Shutdown")) {
        Task_Print(Owner, "Initiating shutdown\n");
        Dictionary *Payload = nullptr, *Definition = nullptr;
        Dictionary_Create(&Payload);
        Task_GetDictionaryHandle(Owner, &Definition);
        Dictionary_Merge(Payload, Definition, DICTIONARY_MERGE_OVERWRITE);
        Task_ExpandDictionary(Owner, Payload);
        // A macro the expansion refused leaves the task refused: it shuts
        // nothing down.
        if (Task_IsArgumentRefused(Owner)) {
            Dictionary_Release(&Payload);
            return Task_Complete(Owner, nullptr);
        }
        // The application takes the code this task read and checked, not the
        // raw value, which it would read otherwise (1e308 as -1).
        if (Numeric) Debug_SetExitCode((int32)Code), Dictionary_SetInt32ByKey(Payload, "exitCode", (int32)Code);
        else Dictionary_RemoveByKey(Payload, "exitCode");
        uint32 SelfUpdate = FALSE;
        if (Task_GetBooleanArgument(Owner, "selfUpdate", &SelfUpdate) && SelfUpdate)
            Dictionary_SetBooleanByKey(Payload, "canRemote", FALSE);
        NotificationCenter_FireAfterDelay("WorkflowApp", "Shutdown", ((ClassStruct *)Owner)->InstanceId, 0, Payload);
        Dictionary_Release(&Payload);
        return Task_Complete(Owner, nullptr);
    }
    if (Numeric) Debug_SetExitCode((int32)Code);
    const char *Key = String_CompareWithoutCase(Type, "Error") ? "message" : "error";
    char Text[TextSize] = "";
    int32 KeyType = DICTIONARY_TYPE_UNKNOWN;
    if (Task_GetStringArgument(Owner, Key, Text, (int32)sizeof(Text))) {
        Task_AddError(Owner, "%s", Text);
    } else if (Task_GetArgumentType(Owner, Key, &KeyType) &&
               (KeyType == DICTIONARY_TYPE_LIST || KeyType == DICTIONARY_TYPE_DICTIONARY)) {
        // An error given as a list or object is still an error: passed
        // over, the task would end as a success.
        TaskInt_RefuseArgument(Owner, String_CompareWithoutCase(Type, "Error") ? "\"message\"" : "\"error\"",
                               "is a list or object, not a text");
    }
    return Task_Complete(Owner, nullptr);
}

int32 OnImplodeStart(void *User, const char *, const char *, const char *, Dictionary *) {
    Task *Owner = static_cast<Implode *>(User)->Owner;
    char Path[TextSize] = "";
    if (!PathIsText(Owner)) return Task_Complete(Owner, nullptr);
    if (Task_GetStringArgument(Owner, "path", Path, (int32)sizeof(Path))) {
        WorkflowApp_SetImplodePath(Path);
    } else if (!Task_IsArgumentRefused(Owner)) {
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
