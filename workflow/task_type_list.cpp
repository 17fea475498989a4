// Task-type registry (see task_type_list.h).
#include "workflow/task_type_list.h"

#include "runtime/callback.h"
#include "runtime/memory.h"
#include "runtime/text/string.h"

namespace {

constexpr uint32 NodeCheck = 0x8985ae37u;

struct Node {
    uint32 Check;
    TaskInterface Record; // Name points at NameCopy
    char NameCopy[TASKTYPELIST_NAME_SIZE];
    Node *Prev;
    Node *Next;
};

bool SameRecord(const TaskInterface &A, const TaskInterface &B) {
    return A.Name != nullptr && B.Name != nullptr && String_Compare(A.Name, B.Name) && A.Create == B.Create &&
           A.AddRef == B.AddRef && A.Release == B.Release;
}

} // namespace

struct TaskTypeList {
    ClassStruct Class;
    Node *First;
    Node *Last;
    int32 Count;
    CallbackStruct RemoveCallback;
};

namespace {

int32 DeleteObject(void *HandleAddress) { return TaskTypeList_Delete(static_cast<TaskTypeList **>(HandleAddress)); }

void RemoveNode(TaskTypeList *List, Node *Entry) {
    Class_CheckTag(Entry, Check, NodeCheck);
    void *User = nullptr;
    TaskTypeList_RemoveFunc Function = nullptr;
    CallbackBase_Get(&List->RemoveCallback, &User, &Function);
    if (Function != nullptr) Function(User, &Entry->Record);
    if (Entry->Prev != nullptr) Entry->Prev->Next = Entry->Next;
    else List->First = Entry->Next;
    if (Entry->Next != nullptr) Entry->Next->Prev = Entry->Prev;
    else List->Last = Entry->Prev;
    List->Count--;
    Memory_Delete(Entry);
}

} // namespace

int32 TaskTypeList_Create(TaskTypeList **Handle) {
    Debug_CheckPointer(Handle);
    TaskTypeList *List = Memory_New(TaskTypeList);
    Class_InitHeader(List, TASKTYPELIST_CLASSID, DeleteObject);
    Class_GenerateInstanceId(List);
    *Handle = List;
    return TRUE;
}

int32 TaskTypeList_Delete(TaskTypeList **Handle) {
    Debug_CheckPointer(Handle);
    Class_CheckHandle(*Handle, TASKTYPELIST_CLASSID);
    TaskTypeList_Reset(*Handle);
    Memory_Delete(*Handle);
    *Handle = nullptr;
    return TRUE;
}

CLASS_DEFINE_REFERENCE(TaskTypeList, TaskTypeList, TASKTYPELIST_CLASSID)

int32 TaskTypeList_Add(TaskTypeList *Handle, const TaskInterface *Record) {
    Class_CheckHandle(Handle, TASKTYPELIST_CLASSID);
    Debug_CheckPointer(Record);
    Debug_CheckPointer(Record->Name);
    for (Node *Entry = Handle->First; Entry != nullptr; Entry = Entry->Next) {
        Class_CheckTag(Entry, Check, NodeCheck);
        if (SameRecord(Entry->Record, *Record)) return TRUE;
    }
    Node *Entry = Memory_New(Node);
    Entry->Check = NodeCheck;
    Entry->Record = *Record;
    String_CopyLength(Entry->NameCopy, Record->Name, (int32)sizeof(Entry->NameCopy));
    Entry->Record.Name = Entry->NameCopy;
    Entry->Prev = Handle->Last;
    if (Handle->Last != nullptr) Handle->Last->Next = Entry;
    else Handle->First = Entry;
    Handle->Last = Entry;
    Handle->Count++;
    return TRUE;
}

int32 TaskTypeList_Find(TaskTypeList *Handle, const char *Name, const TaskInterface **Record) {
    Class_CheckHandle(Handle, TASKTYPELIST_CLASSID);
    Debug_CheckPointer(Name);
    Debug_CheckPointer(Record);
    *Record = nullptr;
    // Every task creation looks its type up here, mostly in the full
    // default table: names whose first letters differ are passed over
    // without a whole comparison.
    const auto Head = String_FoldChar(Name[0]);
    for (Node *Entry = Handle->First; Entry != nullptr; Entry = Entry->Next) {
        Class_CheckTag(Entry, Check, NodeCheck);
        if (String_FoldChar(Entry->NameCopy[0]) == Head && String_CompareWithoutCase(Entry->NameCopy, Name)) {
            *Record = &Entry->Record;
            return TRUE;
        }
    }
    return FALSE;
}

int32 TaskTypeList_Remove(TaskTypeList *Handle, const TaskInterface *Record) {
    Class_CheckHandle(Handle, TASKTYPELIST_CLASSID);
    Debug_CheckPointer(Record);
    TaskInterface Compared = *Record;
    for (Node *Entry = Handle->First; Entry != nullptr; Entry = Entry->Next) {
        Class_CheckTag(Entry, Check, NodeCheck);
        // A record cut to the node's name length still matches its node.
        char Cut[TASKTYPELIST_NAME_SIZE];
        String_CopyLength(Cut, Record->Name, (int32)sizeof(Cut));
        Compared.Name = Cut;
        if (SameRecord(Entry->Record, Compared)) {
            RemoveNode(Handle, Entry);
            return TRUE;
        }
    }
    return FALSE;
}

int32 TaskTypeList_RemoveByName(TaskTypeList *Handle, const char *Name) {
    const TaskInterface *Record = nullptr;
    if (!TaskTypeList_Find(Handle, Name, &Record)) return FALSE;
    RemoveNode(Handle, reinterpret_cast<Node *>(reinterpret_cast<char *>(const_cast<TaskInterface *>(Record)) -
                                                offsetof(Node, Record)));
    return TRUE;
}

int32 TaskTypeList_Reset(TaskTypeList *Handle) {
    Class_CheckHandle(Handle, TASKTYPELIST_CLASSID);
    while (Handle->First != nullptr) RemoveNode(Handle, Handle->First);
    return TRUE;
}

int32 TaskTypeList_GetCount(TaskTypeList *Handle, int32 *Count) {
    Class_CheckHandle(Handle, TASKTYPELIST_CLASSID);
    Debug_CheckPointer(Count);
    *Count = Handle->Count;
    return TRUE;
}

int32 TaskTypeList_SetRemoveCallback(TaskTypeList *Handle, void *User, TaskTypeList_RemoveFunc Function) {
    Class_CheckHandle(Handle, TASKTYPELIST_CLASSID);
    CallbackBase_Set(&Handle->RemoveCallback, User, Function);
    return TRUE;
}

int32 TaskTypeList_AddDefaultTasks(TaskTypeList *Handle) {
    Class_CheckHandle(Handle, TASKTYPELIST_CLASSID);
    for (const TaskInterface *const *Record = GlobalDefaultTaskInterfaces; *Record != nullptr; Record++)
        TaskTypeList_Add(Handle, *Record);
    return TRUE;
}

int32 TaskTypeList_RemoveDefaultTasks(TaskTypeList *Handle) {
    Class_CheckHandle(Handle, TASKTYPELIST_CLASSID);
    for (int32 Index = TASKTYPELIST_DEFAULT_COUNT - 1; Index >= 0; Index--)
        TaskTypeList_Remove(Handle, GlobalDefaultTaskInterfaces[Index]);
    return TRUE;
}
