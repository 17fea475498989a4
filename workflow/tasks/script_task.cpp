// Script-implemented task types (see script_task.h).
#include "workflow/tasks/script_task.h"

#include <string>
#include <vector>

#include "runtime/memory.h"
#include "runtime/script/api_gen_dispatch.h"
#include "runtime/text/crc.h"
#include "runtime/text/string.h"
#include "workflow/task_internal.h"
#include "workflow/task_type_list.h"
#include "workflow/workflow_application.h"

namespace {

struct ScriptTask {
    ClassStruct Class;
    Task *Owner; // no reference: the task owns this object
};

int32 DeleteObject(void *HandleAddress) { return ScriptTask_Delete(static_cast<void **>(HandleAddress)); }

TaskTypeList *AppTypes() { return WorkflowApplication_GetTaskTypeListHandle(); }

// Every live script task, so that the tasks of a page that failed can be
// found and ended.
std::vector<ScriptTask *> &Live() {
    static std::vector<ScriptTask *> Each;
    return Each;
}

// Fails the tasks the test picks that are still running, each with the
// reason as its error. The ids are taken first: a completion may make or
// delete script tasks.
template <typename Pick> int32 FailWhere(const char *Reason, Pick Picked) {
    std::vector<std::string> Ids;
    for (ScriptTask *Each : Live())
        if (Picked(Each->Owner)) Ids.emplace_back(((ClassStruct *)Each->Owner)->InstanceId);
    int32 Count = 0;
    for (const std::string &Id : Ids) {
        for (ScriptTask *Each : Live()) {
            Task *Owner = Each->Owner;
            if (Id != ((ClassStruct *)Owner)->InstanceId) continue;
            if (!Task_IsCompleted(Owner) && !Owner->Completing) {
                Task_AddErrorAlways(Owner, Reason);
                if (Task_Complete(Owner, nullptr)) Count++;
            }
            break;
        }
    }
    return Count;
}

} // namespace

int32 ScriptTask_Create(void **Handle, Task *Owner) {
    Debug_CheckPointer(Handle);
    Class_CheckHandle(Owner, TASK_CLASSID);
    ScriptTask *Self = Memory_New(ScriptTask);
    Class_InitHeader(Self, SCRIPTTASK_CLASSID, DeleteObject);
    Class_GenerateInstanceId(Self);
    Class_TrackInstance(Self, Self->Class.InstanceId);
    Self->Owner = Owner;
    Live().push_back(Self);
    *Handle = Self;
    return TRUE;
}

int32 ScriptTask_Delete(void **Handle) {
    Debug_CheckPointer(Handle);
    ScriptTask *Self = static_cast<ScriptTask *>(*Handle);
    Class_CheckHandle(Self, SCRIPTTASK_CLASSID);
    Class_UntrackInstance(Self->Class.InstanceId);
    std::vector<ScriptTask *> &Each = Live();
    for (size_t Index = 0; Index < Each.size(); Index++)
        if (Each[Index] == Self) {
            Each.erase(Each.begin() + (long)Index);
            break;
        }
    Memory_Delete(Self);
    *Handle = nullptr;
    return TRUE;
}

void *ScriptTask_AddRef(void *Handle) {
    Class_CheckHandle(Handle, SCRIPTTASK_CLASSID);
    return Class_AddRef(Handle);
}

int32 ScriptTask_Release(void **Handle) {
    Debug_CheckPointer(Handle);
    Class_CheckHandle(*Handle, SCRIPTTASK_CLASSID);
    return Class_Release(Handle);
}

int32 ScriptTaskHandler_Register(const char *Name) {
    Debug_CheckPointer(Name);
    TaskTypeList *List = AppTypes();
    if (List == nullptr) return FALSE;
    // The list copies record and name, so the script's text may go.
    const TaskInterface Record = {Name, ScriptTask_Create, nullptr, ScriptTask_Release};
    return TaskTypeList_Add(List, &Record);
}

int32 ScriptTaskHandler_Unregister(const char *Name) {
    Debug_CheckPointer(Name);
    TaskTypeList *List = AppTypes();
    return List != nullptr && TaskTypeList_RemoveByName(List, Name);
}

int32 ScriptTaskHandler_IsRegistered(const char *Name) {
    Debug_CheckPointer(Name);
    const TaskInterface *Record = nullptr;
    TaskTypeList *List = AppTypes();
    return List != nullptr && TaskTypeList_Find(List, Name, &Record);
}

int32 ScriptTask_FailType(const char *TypeName, const char *Reason) {
    Debug_CheckPointer(TypeName);
    Debug_CheckPointer(Reason);
    return FailWhere(Reason, [TypeName](Task *Owner) {
        const char *Type = Task_GetType(Owner);
        return Type != nullptr && String_CompareWithoutCase(Type, TypeName);
    });
}

int32 ScriptTask_FailTask(const char *TaskInstanceId, const char *Reason) {
    Debug_CheckPointer(TaskInstanceId);
    Debug_CheckPointer(Reason);
    return FailWhere(Reason, [TaskInstanceId](Task *Owner) {
        return String_CompareWithoutCase(((ClassStruct *)Owner)->InstanceId, TaskInstanceId);
    });
}

int32 ScriptTaskHandler_Invoke(void *User, Dictionary *Request, Dictionary *Result) {
    (void)User;
    return ApiGenInvoke(Request, Result, "ScriptTaskHandler", [](uint32 Hash, ApiGenParameters &Get, ApiGenAnswer &Out) {
        const char *Name = nullptr;
        switch (Hash) {
        case Crc32Const("register"):
            if (Get.Text("name", &Name).Read) Out.Number = ScriptTaskHandler_Register(Name) ? 1 : 0;
            return true;
        case Crc32Const("unregister"):
            if (Get.Text("name", &Name).Read) Out.Number = ScriptTaskHandler_Unregister(Name) ? 1 : 0;
            return true;
        default: return false;
        }
    });
}
