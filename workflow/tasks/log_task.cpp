// Log, Notification and Status: the types that speak to the outside.
#include <string.h>

#include "runtime/text/string.h"
#include "workflow/task_internal.h"
#include "workflow/task_type_object.h"
#include "workflow/tasks/control_task.h"
#include "workflow/workflow.h"

struct LogTask {
    ClassStruct Class;
    Task *Owner;
};

struct NotificationTask {
    ClassStruct Class;
    Task *Owner;
};

struct Status {
    ClassStruct Class;
    Task *Owner;
};

namespace {

constexpr int32 MessageSize = 4096;
constexpr int32 EventSize = 320;

// One element of a "message" list, as the check of the arguments expanded
// it: one that does not fit, or holds a NUL, is refused, not logged cut.
bool LogOne(Task *Owner, const char *Message, int32 Length) {
    char Text[MessageSize];
    if (!TaskInt_ReadText(Owner, "an element of \"message\"", Message, Length, Text, MessageSize, false)) return false;
    Task_SetStatusString(Owner, "message", Text);
    // An empty message makes no line: nothing to format.
    if (Text[0] != 0) Task_Print(Owner, "%s\n", Text);
    return true;
}

int32 OnLogStart(void *User, const char *, const char *, const char *, Dictionary *) {
    Task *Owner = static_cast<LogTask *>(User)->Owner;
    Dictionary *Definition = nullptr;
    Task_GetDictionaryHandle(Owner, &Definition);
    // One search for the argument serves its type and, for an empty text,
    // its value.
    DictionaryItem *Message = nullptr;
    if (!Dictionary_ItemFindByKey(Definition, "message", nullptr, &Message) || Message == nullptr)
        return TaskType_MissingArgument(Owner, "message");
    if (Dictionary_ItemCompareType(Definition, Message, DICTIONARY_TYPE_LIST)) {
        Dictionary *List = TaskInt_GetCheckedList(Owner, "message");
        DictionaryItem *Item = nullptr;
        for (List != nullptr && Dictionary_ItemGetFirst(List, &Item); Item != nullptr; Dictionary_ItemGetNext(List, Item, &Item)) {
            const char *Text = nullptr;
            int32 Length = 0;
            if (Dictionary_ItemCompareType(List, Item, DICTIONARY_TYPE_STRING) &&
                Dictionary_ItemGetBufferPtr(List, Item, &Text, &Length) && Text != nullptr &&
                !LogOne(Owner, Text, Length))
                break;
        }
    } else {
        // On the stack like the other start handlers' buffers: every Log
        // task passes here, and a heap block per message costs more than
        // the rest of the handler's own work.
        char Text[MessageSize];
        Text[0] = 0;
        // An empty text expands to nothing: no copy, no expansion.
        const char *Stored = nullptr;
        if (Dictionary_ItemIsContainer(Definition, Message) ||
            (Dictionary_ItemGetBufferPtr(Definition, Message, &Stored, nullptr) && Stored != nullptr && Stored[0] != 0))
            Task_GetStringArgument(Owner, "message", Text, MessageSize);
        // Already expanded by the getter; print it as it stands.
        Task_SetStatusString(Owner, "message", Text);
        if (Text[0] != 0) Task_Print(Owner, "%s\n", Text);
    }
    return Task_Complete(Owner, nullptr);
}

int32 OnNotificationStart(void *User, const char *, const char *, const char *, Dictionary *) {
    Task *Owner = static_cast<NotificationTask *>(User)->Owner;
    char Event[EventSize] = "";
    if (!Task_GetStringArgument(Owner, "event", Event, (int32)sizeof(Event)))
        return Task_IsArgumentRefused(Owner) ? Task_Complete(Owner, nullptr) : TaskType_MissingArgument(Owner, "event");
    char Class[EventSize];
    String_CopyLength(Class, Event, (int32)sizeof(Class));
    const char *Name = Event;
    const char *Dot = nullptr;
    if (String_FindChar(Event, '.', &Dot)) {
        Class[Dot - Event] = 0;
        Name = Dot + 1;
    }
    float64 Delay = 0;
    if (!Task_GetNumberArgument(Owner, "delay", &Delay)) Delay = 0;
    if (!(Delay > -2147483649.0 && Delay < 2147483648.0)) {
        TaskInt_RefuseArgument(Owner, "\"delay\"", "is out of range: at most 2147483647 milliseconds");
        return Task_Complete(Owner, nullptr);
    }
    Dictionary *Payload = nullptr;
    Dictionary_Create(&Payload);
    Task_GetDictionaryArgument(Owner, "content", Payload);
    if (Task_IsArgumentRefused(Owner)) {
        Dictionary_Release(&Payload);
        return Task_Complete(Owner, nullptr);
    }
    Dictionary *Inner = nullptr;
    if (Dictionary_SkipRoot(Payload, &Inner) && Inner != Payload) {
        Dictionary *Unwrapped = nullptr;
        Dictionary_Create(&Unwrapped);
        Dictionary_Merge(Unwrapped, Inner, DICTIONARY_MERGE_OVERWRITE);
        Dictionary_Release(&Payload);
        Payload = Unwrapped;
    }
    // The application ends with a shutdown's exit code as the Shutdown task
    // hands it on: one that does not fit 32 bits is refused here as there,
    // rather than ending the process with another code (4294967296 as 0).
    // A code given as a text is read as the Shutdown task reads one and
    // handed on as the number it is: the application takes numbers only, and
    // would end with 0, a success, in its place. One that is no number is
    // refused.
    int32 CodeType = DICTIONARY_TYPE_UNKNOWN;
    float64 Code = 0;
    if (String_CompareWithoutCase(Class, "WorkflowApp") && String_CompareWithoutCase(Name, "Shutdown") &&
        Dictionary_GetTypeByKey(Payload, "exitCode", &CodeType) && CodeType != DICTIONARY_TYPE_NULL) {
        const char *Text = nullptr;
        bool Read = CodeType == DICTIONARY_TYPE_INT64 || CodeType == DICTIONARY_TYPE_FLOAT64;
        // As written, or as the check expanded it: the text of the number.
        Dictionary_GetBufferPtrByKey(Payload, "exitCode", &Text, nullptr);
        const bool TooSmall = Text != nullptr && TaskInt_IsTooSmall(Text);
        if (Read) {
            Dictionary_GetFloat64ByKey(Payload, "exitCode", &Code);
        } else if (CodeType == DICTIONARY_TYPE_STRING && Dictionary_GetStringPtrByKey(Payload, "exitCode", &Text) &&
                   Text != nullptr && Text[0] != 0 && TaskInt_ReadNumberText(Text, &Code)) {
            Read = true;
            Dictionary_SetFloat64ByKey(Payload, "exitCode", Code);
        }
        if (!Read) TaskInt_RefuseArgument(Owner, "\"exitCode\" of the content", "is no number");
        else if (Code == 0 && TooSmall)
            TaskInt_RefuseArgument(Owner, "\"exitCode\" of the content", "is too small to be told from 0");
        if (Task_IsArgumentRefused(Owner)) Read = false;
        if (!Read || !TaskType_CheckExitCode(Owner, Code, "\"exitCode\" of the content")) {
            Dictionary_Release(&Payload);
            return Task_Complete(Owner, nullptr);
        }
    }
    // What fires is what the check passed, and only while the task stands
    // by it: a refusal on the way (of the code above, say) fires nothing.
    if (Task_IsArgumentRefused(Owner)) {
        Dictionary_Release(&Payload);
        return Task_Complete(Owner, nullptr);
    }
    Task_Print(Owner, "Firing event %s.%s after %.02fms\n", Class, Name, Delay);
    // Awaited: the run ends only once it went out, whatever its delay.
    NotificationCenter_FireAfterDelayAwaited(Class, Name, ((ClassStruct *)Owner)->InstanceId, (int32)Delay, Payload);
    Dictionary_Release(&Payload);
    return Task_Complete(Owner, nullptr);
}

int32 OnStatusStart(void *User, const char *, const char *, const char *, Dictionary *) {
    Task *Owner = static_cast<Status *>(User)->Owner;
    Dictionary *Definition = nullptr, *Change = nullptr;
    Task_GetDictionaryHandle(Owner, &Definition);
    Dictionary_Create(&Change);
    Dictionary_Merge(Change, Definition, DICTIONARY_MERGE_OVERWRITE);
    Dictionary_RemoveByKey(Change, "type");
    Dictionary_RemoveByKey(Change, "target");
    const char *Target = nullptr;
    int32 TargetType = DICTIONARY_TYPE_UNKNOWN;
    const bool Given = Dictionary_GetTypeByKey(Definition, "target", &TargetType) && TargetType != DICTIONARY_TYPE_NULL;
    // A target that is no text, or does not fit a path, is refused: passed
    // over or cut, the status would go to another task.
    char Checked[EventSize - 8];
    if (Given && (TargetType == DICTIONARY_TYPE_LIST || TargetType == DICTIONARY_TYPE_DICTIONARY)) {
        TaskInt_RefuseArgument(Owner, "\"target\"", "is a list or object, not a text");
    } else if (int32 Length = 0; Given && Dictionary_GetBufferPtrByKey(Definition, "target", &Target, &Length) &&
                                  Target != nullptr &&
                                  !TaskInt_ReadText(Owner, "\"target\"", Target, Length, Checked,
                                                    (int32)sizeof(Checked), false)) {
        // Refused, with why.
    } else if (!Given || Target == nullptr) {
        Task_SetStatusWithDictionary(Owner, Change);
    } else {
        int32 Kind = TASK_OBJECT_NONE;
        void *Object = nullptr;
        // "parent:<name>" and "parent" walk up from this task.
        char Path[EventSize];
        String_CopyLength(Path, String_CompareBeginningWithoutCase(Target, "parent") ? "this." : "", (int32)sizeof(Path));
        String_CatLength(Path, Target, (int32)sizeof(Path));
        if (Task_EvaluatePathToObject(Owner, Path, &Kind, &Object) && Kind == TASK_OBJECT_WORKFLOW) {
            Workflow_SetStatusWithDictionary(static_cast<Workflow *>(Object), Change);
        } else if (Kind == TASK_OBJECT_TASK && Object != nullptr) {
            Task_SetStatusWithDictionary(static_cast<Task *>(Object), Change);
        } else {
            Task_Print(Owner, "Cannot locate target\n");
            Task_AddError(Owner, "%s", "Task_Error_InvalidArg");
        }
    }
    Dictionary_Release(&Change);
    return Task_Complete(Owner, nullptr);
}

template <typename T> void FreeNothing(T *) {}

} // namespace

TASKTYPE_OBJECT_DEFINE(LogTask, LogTask, LOGTASK_CLASSID, OnLogStart, FreeNothing<LogTask>)
TASKTYPE_OBJECT_DEFINE(NotificationTask, NotificationTask, NOTIFICATIONTASK_CLASSID, OnNotificationStart,
                       FreeNothing<NotificationTask>)
TASKTYPE_OBJECT_DEFINE(Status, Status, STATUS_CLASSID, OnStatusStart, FreeNothing<Status>)
TASKTYPE_INTERFACE_DEFINE(Log, LogTask)
TASKTYPE_INTERFACE_DEFINE(Notification, NotificationTask)
TASKTYPE_INTERFACE_DEFINE(Status, Status)
