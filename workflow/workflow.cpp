// Workflow object: creation, documents, macros, status, errors and the
// notifications it observes on itself (see workflow.h).
#include "workflow/workflow.h"

#include <string.h>

#include <atomic>
#include <initializer_list>

#include "runtime/documents/json.h"
#include "formats/yaml.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/notification/notification_center.h"
#include "runtime/files/path.h"
#include "runtime/text/string.h"
#include "runtime/text/string_print.h"
#include "workflow/workflow_application.h"
#include "workflow/task_internal.h"
#include "workflow/workflow_internal.h"

CLASSPRINT_DEFINE(Workflow, Workflow, WORKFLOW_CLASSID, "Workflow", Print)

namespace {

constexpr int32 MessageSize = 1024;
constexpr int32 DirectorySize = 320;

int32 DeleteObject(void *HandleAddress) { return Workflow_Delete(static_cast<Workflow **>(HandleAddress)); }

int32 OnStatus(void *User, const char *, const char *, const char *, Dictionary *Info) {
    Workflow *Self = static_cast<Workflow *>(User);
    if (Info == nullptr || Info == Self->Status) return TRUE;
    // The errors and warnings it records are the program's alone: a page or
    // a document's Notification task may fire the same name with any words.
    if (!NotificationCenter_IsOwnFire() &&
        (Dictionary_ContainsKey(Info, "errors") || Dictionary_ContainsKey(Info, "warnings"))) {
        Dictionary *Kept = nullptr;
        Dictionary_Create(&Kept);
        Dictionary_Merge(Kept, Info, DICTIONARY_MERGE_OVERWRITE);
        Dictionary_RemoveByKey(Kept, "errors");
        Dictionary_RemoveByKey(Kept, "warnings");
        Dictionary_Merge(Self->Status, Kept, DICTIONARY_MERGE_OVERWRITE);
        Dictionary_Release(&Kept);
        return TRUE;
    }
    Dictionary_Merge(Self->Status, Info, DICTIONARY_MERGE_OVERWRITE);
    return TRUE;
}

int32 OnCancel(void *User, const char *, const char *, const char *, Dictionary *) {
    Workflow_CancelTasks(static_cast<Workflow *>(User));
    return TRUE;
}

int32 OnRetry(void *User, const char *, const char *, const char *, Dictionary *) {
    Workflow *Self = static_cast<Workflow *>(User);
    Workflow_CancelTasks(Self);
    if (Self->Owner != nullptr)
        NotificationCenter_FireAfterDelay("Task", "Retry", ((ClassStruct *)Self->Owner)->InstanceId, 0, nullptr);
    return TRUE;
}

int32 OnInteropReference(void *User, const char *, const char *, const char *, Dictionary *Info) {
    Workflow *Self = static_cast<Workflow *>(User);
    uint32 AddRef = 0;
    if (!NotificationCenter_TakeInteropReferenceChange(Self->Class.InstanceId, Info, &Self->PageReferenceHeld,
                                                       &AddRef))
        return TRUE;
    if (AddRef) Workflow_AddRef(Self);
    else Workflow_Release(&Self);
    return TRUE;
}

// Tasks of a type that leaves the workflow's list go with it.
int32 OnTypeRemoved(void *User, const TaskInterface *Record) {
    Workflow *Self = static_cast<Workflow *>(User);
    for (WorkflowTaskRecord *Entry = Self->Last; Entry != nullptr;) {
        WorkflowTaskRecord *Prev = Entry->Prev;
        if (Entry->Owned->InterfaceSource == Record) {
            Workflow_ClearTasksByHandle(Self, Entry->Owned);
            Prev = Self->Last; // the walk starts again: descendants went too
        }
        Entry = Prev;
    }
    return TRUE;
}

int32 ExpandThroughWorkflow(void *User, const char *Name, const char *Argument, char *Output, int32 Size) {
    return Workflow_ExpandKey(static_cast<Workflow *>(User), Name, Argument, Output, Size);
}

const char *const ObservedNames[] = {"Status", "Cancel", "Retry"};
const NotificationCenter_ObserverFunc ObservedFunctions[] = {OnStatus, OnCancel, OnRetry};

// The document text read into a Dictionary: JSON or YAML.
bool ReadDocument(const char *Path, bool AsJson, Dictionary *Target) {
    if (AsJson) {
        JSON *Reader = nullptr;
        JSON_Create(&Reader);
        JSON_SetDictionaryHandle(Reader, Target);
        int32 Loaded = JSON_LoadFile(Reader, Path);
        JSON_Release(&Reader);
        return Loaded != 0;
    }
    YAML *Reader = nullptr;
    YAML_Create(&Reader);
    YAML_SetDictionaryHandle(Reader, Target);
    int32 Loaded = YAML_LoadFile(Reader, Path);
    YAML_Release(&Reader);
    return Loaded != 0;
}

// The document below its unnamed root must be a Dictionary of tasks.
bool MergeParsed(Workflow *Self, Dictionary *Parsed) {
    Dictionary *Inner = nullptr;
    if (!Dictionary_SkipRoot(Parsed, &Inner) || Inner == nullptr || Inner == Parsed) return false;
    Dictionary *Parent = nullptr;
    DictionaryItem *ParentItem = nullptr;
    if (!Dictionary_GetParent(Inner, &Parent, &ParentItem) || ParentItem == nullptr ||
        !Dictionary_ItemCompareType(Parent, ParentItem, DICTIONARY_TYPE_DICTIONARY))
        return false;
    return Workflow_LoadDictionary(Self, Inner, 1) != 0;
}

// The document read (by Read, into the root it is given) and taken in. A
// first document (the workflow's own is empty and unwatched) is read
// straight into the workflow's and its tasks lifted from under the unnamed
// root, so that a workflow of many tasks is not copied item by item; the
// lift declines a document that is no Dictionary of tasks or repeats a key
// somewhere, which the merge folds, and that one goes the merge's way after
// all. Any later document is read apart and merged.
template <typename Reader> bool TakeDocument(Workflow *Self, Reader &&Read) {
    Dictionary *Own = Self->Document;
    int32 Count = 0;
    const bool First = Dictionary_ItemGetCount(Own, &Count) && Count == 0 && !Dictionary_IsWatched(Own);
    if (First && !Read(Own)) {
        Dictionary_Reset(Own);
        return false;
    }
    if (First && Dictionary_LiftRoot(Own)) return true;
    Dictionary *Parsed = nullptr;
    Dictionary_Create(&Parsed);
    bool Taken = false;
    if (First) {
        Dictionary_Merge(Parsed, Own, DICTIONARY_MERGE_OVERWRITE);
        Dictionary_Reset(Own);
        Taken = MergeParsed(Self, Parsed);
    } else {
        Taken = Read(Parsed) && MergeParsed(Self, Parsed);
    }
    Dictionary_Release(&Parsed);
    return Taken;
}

} // namespace

int32 Workflow_Create(Workflow **Handle) {
    Debug_CheckPointer(Handle);
    Workflow *Self = Memory_New(Workflow);
    Class_InitHeader(Self, WORKFLOW_CLASSID, DeleteObject);
    Class_GenerateInstanceId(Self);
    Class_TrackInstance(Self, Self->Class.InstanceId);
    Workflow_SetPrintIdentifier(Self, "Workflow");
    Self->UseDefaultTaskTypes = 1;
    Self->Records = new std::unordered_map<const Task *, WorkflowTaskRecord *>;
    for (Dictionary **Target : {&Self->Document, &Self->EventQueue, &Self->Status, &Self->Macros, &Self->Analytics})
        Dictionary_Create(Target);
    Dictionary_SetCaseSensitive(Self->Macros, FALSE);
    TaskTypeList_Create(&Self->Types);
    TaskTypeList_SetRemoveCallback(Self->Types, Self, OnTypeRemoved);
    CertStoreTable_Create(&Self->CertStores);
    CallbackBase_Set(&Self->ExpandString, nullptr, WorkflowApplication_ExpandKey);
    for (int32 Index = 0; Index < 3; Index++)
        NotificationCenter_AddInstanceObserver("Workflow", ObservedNames[Index], Self->Class.InstanceId, Self,
                                               ObservedFunctions[Index]);
    NotificationCenter_AddInteropObserver(Self->Class.InstanceId, Self, OnInteropReference);
    NotificationCenter_Fire("Workflow", "Create", Self->Class.InstanceId, nullptr);
    *Handle = Self;
    return TRUE;
}

int32 Workflow_Delete(Workflow **Handle) {
    Debug_CheckPointer(Handle);
    Workflow *Self = *Handle;
    Class_CheckHandle(Self, WORKFLOW_CLASSID);
    for (int32 Index = 0; Index < 3; Index++)
        NotificationCenter_RemoveInstanceObserver("Workflow", ObservedNames[Index], Self->Class.InstanceId, Self,
                                                  ObservedFunctions[Index]);
    NotificationCenter_RemoveInteropObserver(Self->Class.InstanceId, Self, OnInteropReference);
    Workflow_Reset(Self);
    TaskTypeList_Release(&Self->Types);
    CertStoreTable_Release(&Self->CertStores);
    for (Dictionary **Target : {&Self->Document, &Self->EventQueue, &Self->Status, &Self->Macros, &Self->Analytics})
        Dictionary_Release(Target);
    delete Self->Records;
    Class_UntrackInstance(Self->Class.InstanceId);
    Memory_Delete(Self);
    *Handle = nullptr;
    return TRUE;
}

CLASS_DEFINE_REFERENCE(Workflow, Workflow, WORKFLOW_CLASSID)

int32 Workflow_ValidHandle(Workflow *Handle) {
    return Handle != nullptr && Handle->Class.ClassId == WORKFLOW_CLASSID;
}

// ---- Documents ----

int32 Workflow_LoadFile(Workflow *Handle, const char *Path) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Debug_CheckPointer(Path);
    const bool AsJson = String_CompareEndingWithoutCase(Path, "json") != 0;
    if (!TakeDocument(Handle, [&](Dictionary *Target) { return ReadDocument(Path, AsJson, Target); })) {
        Workflow_Print(Handle, "Unable to load workflow (%s)\n", Path);
        return FALSE;
    }
    char Directory[DirectorySize];
    if (!Path_ParseDirectory(Path, Directory, (int32)sizeof(Directory))) Directory[0] = 0;
    size_t Length = strlen(Directory);
    if (Length > 1 && Directory[Length - 1] == '/') Directory[Length - 1] = 0;
    Workflow_AddMacro(Handle, "workflowPath", Path);
    Workflow_AddMacro(Handle, "workflowDirectory", Directory);
    return TRUE;
}

int32 Workflow_LoadBuffer(Workflow *Handle, const void *Bytes, int32 Length) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Debug_CheckPointer(Bytes);
    if (Length < 0) return FALSE;
    return TakeDocument(Handle, [&](Dictionary *Target) {
        JSON *Reader = nullptr;
        JSON_Create(&Reader);
        JSON_SetDictionaryHandle(Reader, Target);
        const int32 Loaded = JSON_LoadBuffer(Reader, Bytes, Length);
        JSON_Release(&Reader);
        return Loaded != 0;
    });
}

int32 Workflow_LoadDictionary(Workflow *Handle, Dictionary *Document, int32 Merge) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Debug_CheckPointer(Document);
    if (!Merge) Dictionary_Reset(Handle->Document);
    // A task replaced by name is replaced whole, not merged key by key.
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(Document, &Item); Item != nullptr; Dictionary_ItemGetNext(Document, Item, &Item)) {
        const char *Key = nullptr;
        if (Dictionary_ItemGetKeyPtr(Document, Item, &Key) && Key != nullptr)
            Dictionary_RemoveByKey(Handle->Document, Key);
    }
    return Dictionary_Merge(Handle->Document, Document, DICTIONARY_MERGE_OVERWRITE);
}

int32 Workflow_TakeDictionary(Workflow *Handle, Dictionary *Document) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Debug_CheckPointer(Document);
    int32 Count = 0;
    Dictionary *Parent = nullptr;
    DictionaryItem *ParentItem = nullptr;
    if (Dictionary_ItemGetCount(Handle->Document, &Count) && Count == 0 && !Dictionary_IsWatched(Handle->Document) &&
        !Dictionary_GetParent(Document, &Parent, &ParentItem)) {
        Dictionary_Release(&Handle->Document);
        Handle->Document = Dictionary_AddRef(Document);
        return TRUE;
    }
    return Workflow_LoadDictionary(Handle, Document, 1);
}

// ---- Macros ----

int32 Workflow_CheckMacroValue(const char *Value, int32 Length, char *Why, int32 WhySize) {
    Debug_CheckPointer(Value);
    if (Length < 0 || strnlen(Value, (size_t)Length) != (size_t)Length)
        return String_CopyLength(Why, "holds a NUL byte", WhySize), FALSE;
    if (Length >= STRING_EXPAND_RESULT_SIZE) {
        String_Print(Why, WhySize, "is %d bytes, past the %d a macro's value may take", Length,
                     STRING_EXPAND_RESULT_SIZE - 1);
        return FALSE;
    }
    return TRUE;
}

int32 Workflow_GetMacroCost(const char *Key, int32 Length, int64 *Bytes) {
    Debug_CheckPointer(Key);
    Debug_CheckPointer(Bytes);
    // The texts, and the record and block headers that keep them.
    constexpr int64 RecordBytes = 96;
    *Bytes = (int64)strlen(Key) + (Length > 0 ? Length : 0) + 2 + RecordBytes;
    return TRUE;
}

int32 Workflow_StoreMacro(Dictionary *Macros, const char *Key, const char *Value, int32 Length) {
    Debug_CheckPointer(Key);
    char Why[96];
    if (Macros == nullptr) return FALSE;
    if (!Workflow_CheckMacroValue(Value, Length, Why, (int32)sizeof(Why))) {
        Log_Error("Macro \"%.120s\" not set: its value %s\n", Key, Why);
        return FALSE;
    }
    // The table holds what its macros cost under the memory budget for as
    // long as it keeps them; a value it replaces gives its part back.
    const char *Old = nullptr;
    int32 OldLength = 0;
    int64 Cost = 0, Freed = 0;
    Workflow_GetMacroCost(Key, Length, &Cost);
    if (strlen(Key) <= DICTIONARY_MAX_KEY_LENGTH && Dictionary_GetBufferPtrByKey(Macros, Key, &Old, &OldLength) &&
        Old != nullptr)
        Workflow_GetMacroCost(Key, OldLength, &Freed);
    // A flood of stores past the budget (a page's loop) is said once, until
    // a store is taken again.
    static std::atomic<bool> Told{false};
    if (!MemoryBudget_Take(Cost)) {
        if (!Told.exchange(true))
            Log_Error("Macro \"%.120s\" not set: its value (%d bytes) passes the memory budget of %d MiB that a "
                      "process's documents, bodies, macros and task arguments share (%lld MiB held); later ones are "
                      "not logged until a macro is stored again\n",
                      Key, Length, (int32)(MemoryBudget_GetLimit() >> 20), (long long)(MemoryBudget_GetUsed() >> 20));
        return FALSE;
    }
    if (Told.load(std::memory_order_relaxed)) Told.store(false);
    if (!Dictionary_SetStringByKey(Macros, Key, Value)) {
        MemoryBudget_Give(Cost);
        return FALSE;
    }
    Dictionary_HoldCharge(Macros, Cost - Freed);
    if (Freed > 0) MemoryBudget_Give(Freed);
    return TRUE;
}

int32 Workflow_CopyMacroValue(const char *Value, int32 Length, char *Output, int32 Size) {
    Debug_CheckPointer(Value);
    Debug_CheckPointer(Output);
    if (Size < 1) return FALSE;
    if (Length >= Size) {
        String_Print(Output, Size, "is %d bytes, past the %d a macro's value may take", Length, Size - 1);
        return 2;
    }
    memcpy(Output, Value, (size_t)Length);
    Output[Length] = 0;
    return TRUE;
}

int32 Workflow_AddMacro(Workflow *Handle, const char *Key, const char *Value) {
    Debug_CheckPointer(Value);
    return Workflow_AddMacroLength(Handle, Key, Value, (int32)strlen(Value));
}

int32 Workflow_AddMacroLength(Workflow *Handle, const char *Key, const char *Value, int32 Length) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Debug_CheckPointer(Key);
    Debug_CheckPointer(Value);
    if (!Workflow_StoreMacro(Handle->Macros, Key, Value, Length)) return FALSE;
    if (WorkflowApplication_GetVerbose()) Workflow_Print(Handle, "Added macro %s=%s\n", Key, Value);
    return TRUE;
}

int32 Workflow_AddMacroJSON(Workflow *Handle, const char *JsonText) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Debug_CheckPointer(JsonText);
    Dictionary *Parsed = nullptr;
    Dictionary_Create(&Parsed);
    // A page's text: charged while it lives, refused past the memory budget.
    int32 Refused = FALSE;
    int32 Loaded = JSON_LoadTextCharged(Parsed, JsonText, &Refused);
    Dictionary *Inner = Parsed;
    if (Loaded) Dictionary_SkipRoot(Parsed, &Inner);
    DictionaryItem *Item = nullptr;
    for (Loaded && Inner != nullptr && Dictionary_ItemGetFirst(Inner, &Item); Item != nullptr;
         Dictionary_ItemGetNext(Inner, Item, &Item)) {
        const char *Key = nullptr, *Text = nullptr;
        int32 Length = 0;
        if (!Dictionary_ItemIsContainer(Inner, Item) && Dictionary_ItemGetKeyPtr(Inner, Item, &Key) && Key != nullptr &&
            Dictionary_ItemGetBufferPtr(Inner, Item, &Text, &Length) && Text != nullptr)
            Workflow_AddMacroLength(Handle, Key, Text, Length);
    }
    Dictionary_Release(&Parsed);
    return Loaded;
}

int32 Workflow_ExpandString(Workflow *Handle, char *Buffer, int32 Size) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    return String_Expand(Buffer, Size, Handle, ExpandThroughWorkflow);
}

int32 Workflow_ExpandStringInterop(Workflow *Handle, const char *Source, char *Target, int32 Size) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Debug_CheckPointer(Source);
    String_CopyLength(Target, Source, Size);
    return Workflow_ExpandString(Handle, Target, Size);
}

int32 Workflow_ExpandKey(Workflow *Handle, const char *Key, const char *Argument, char *Output, int32 Size) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    const char *Text = nullptr;
    int32 Length = 0;
    // A name longer than a key names no macro (its first bytes would find
    // another).
    if (strlen(Key) <= DICTIONARY_MAX_KEY_LENGTH && Dictionary_GetBufferPtrByKey(Handle->Macros, Key, &Text, &Length) &&
        Text != nullptr)
        return Workflow_CopyMacroValue(Text, Length, Output, Size);
    void *User = nullptr;
    String_ExpandFunc Function = nullptr;
    CallbackBase_Get(&Handle->ExpandString, &User, &Function);
    int32 Answer = Function != nullptr ? Function(User, Key, Argument, Output, Size) : 0;
    return Answer == 1 || Answer == 2 ? Answer : FALSE;
}

int32 Workflow_SetExpandStringCallback(Workflow *Handle, void *User, String_ExpandFunc Function) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    CallbackBase_Set(&Handle->ExpandString, User, Function);
    return TRUE;
}

int32 Workflow_GetExpandStringCallback(Workflow *Handle, void **User, String_ExpandFunc *Function) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    void *FoundUser = nullptr;
    String_ExpandFunc Found = nullptr;
    CallbackBase_Get(&Handle->ExpandString, &FoundUser, &Found);
    if (User != nullptr) *User = FoundUser;
    if (Function != nullptr) *Function = Found;
    return Found != nullptr;
}

// ---- Status and errors ----

int32 Workflow_SetStatusWithDictionary(Workflow *Handle, Dictionary *Change) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    return NotificationCenter_Fire("Workflow", "Status", Handle->Class.InstanceId, Change);
}

int32 Workflow_SetStatusString(Workflow *Handle, const char *Key, const char *Text) {
    Dictionary *Change = nullptr;
    Dictionary_Create(&Change);
    Dictionary_SetStringByKey(Change, Key, Text);
    int32 Result = Workflow_SetStatusWithDictionary(Handle, Change);
    Dictionary_Release(&Change);
    return Result;
}

int32 Workflow_SetStatusNumber(Workflow *Handle, const char *Key, float64 Number) {
    Dictionary *Change = nullptr;
    Dictionary_Create(&Change);
    Dictionary_SetFloat64ByKey(Change, Key, Number);
    int32 Result = Workflow_SetStatusWithDictionary(Handle, Change);
    Dictionary_Release(&Change);
    return Result;
}

int32 Workflow_SetStatus(Workflow *Handle, const char *Text) { return Workflow_SetStatusString(Handle, "status", Text); }

int32 Workflow_AddError(Workflow *Handle, const char *Format, ...) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Debug_CheckPointer(Format);
    char Message[MessageSize];
    va_list Arguments;
    va_start(Arguments, Format);
    String_VPrint(Message, (int32)sizeof(Message), Format, Arguments);
    va_end(Arguments);
    Workflow_ExpandString(Handle, Message, (int32)sizeof(Message));
    Workflow_Print(Handle, "Error - %s\n", Message);
    Dictionary *Change = nullptr;
    Dictionary_Create(&Change);
    Dictionary *List = nullptr;
    Dictionary_AddList(Change, "errors", &List, nullptr);
    Dictionary *Current = nullptr;
    if (Dictionary_GetListByKey(Handle->Status, "errors", &Current)) Dictionary_Merge(List, Current, 0);
    if (!Dictionary_ContainsString(List, Message)) Dictionary_AddString(List, nullptr, Message, nullptr);
    NotificationCenter_FireOwn("Workflow", "Status", Handle->Class.InstanceId, Change);
    Dictionary_SetStringByKey(Change, "message", Message);
    NotificationCenter_Fire("Workflow", "Error", Handle->Class.InstanceId, Change);
    Dictionary_Release(&Change);
    return TRUE;
}

int32 Workflow_ClearErrors(Workflow *Handle) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Dictionary_RemoveByKey(Handle->Status, "errors");
    NotificationCenter_FireOwn("Workflow", "Status", Handle->Class.InstanceId, Handle->Status);
    NotificationCenter_Fire("Workflow", "Error", Handle->Class.InstanceId, nullptr);
    return TRUE;
}

int32 Workflow_GetErrorCount(Workflow *Handle, int32 *Count) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Debug_CheckPointer(Count);
    *Count = 0;
    Dictionary *List = nullptr;
    if (Dictionary_GetListByKey(Handle->Status, "errors", &List)) Dictionary_ItemGetCount(List, Count);
    return TRUE;
}

int32 Workflow_Complete(Workflow *Handle, Dictionary *Result) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Workflow_Print(Handle, "Complete\n");
    Dictionary *Copy = nullptr;
    Dictionary_Create(&Copy);
    if (Result != nullptr) Dictionary_Merge(Copy, Result, DICTIONARY_MERGE_OVERWRITE);
    Dictionary_SetBooleanByKey(Copy, "canRemote", FALSE);
    NotificationCenter_FireAfterDelay("Workflow", "Complete", Handle->Class.InstanceId, 0, Copy);
    Dictionary_Release(&Copy);
    return TRUE;
}

// ---- Identity and handles ----

int32 Workflow_SetRemoteInstanceId(Workflow *Handle, const char *Text) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Debug_CheckPointer(Text);
    Workflow_Print(Handle, "Remote instance - %s\n", Text);
    String_CopyLength(Handle->RemoteInstanceId, Text, (int32)sizeof(Handle->RemoteInstanceId));
    return TRUE;
}

int32 Workflow_GetRemoteInstanceId(Workflow *Handle, char *Buffer, int32 Size) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    String_CopyLength(Buffer, Handle->RemoteInstanceId, Size);
    return Handle->RemoteInstanceId[0] != 0;
}

#define WORKFLOW_DICTIONARY_GETTER(Function, Field)         \
    int32 Function(Workflow *Handle, Dictionary **Target) { \
        Class_CheckHandle(Handle, WORKFLOW_CLASSID);        \
        Debug_CheckPointer(Target);                         \
        *Target = Handle->Field;                            \
        return TRUE;                                        \
    }
WORKFLOW_DICTIONARY_GETTER(Workflow_GetDictionaryHandle, Document)
WORKFLOW_DICTIONARY_GETTER(Workflow_GetStatusDictionaryHandle, Status)
WORKFLOW_DICTIONARY_GETTER(Workflow_GetMacroDictionaryHandle, Macros)
WORKFLOW_DICTIONARY_GETTER(Workflow_GetAnalyticsDictionaryHandle, Analytics)
#undef WORKFLOW_DICTIONARY_GETTER

CertStoreTable *Workflow_GetCertStoreTableHandle(Workflow *Handle) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    return Handle->CertStores;
}

TaskTypeList *Workflow_GetTaskTypeListHandle(Workflow *Handle) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    return Handle->Types;
}

int32 Workflow_SetTaskHandle(Workflow *Handle, Task *Owner) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Handle->Owner = Owner;
    return TRUE;
}

int32 Workflow_GetTaskHandle(Workflow *Handle, Task **Owner) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Debug_CheckPointer(Owner);
    *Owner = Handle->Owner;
    return Handle->Owner != nullptr;
}

int32 Workflow_SetGlobal(Workflow *Handle, uint32 Flag) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Handle->Global = Flag;
    return TRUE;
}

int32 Workflow_IsGlobal(Workflow *Handle) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    return Handle->Global != 0;
}

int32 Workflow_VerboseLog(Workflow *Handle, int32 Level, const char *Format, ...) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    if (!Workflow_IsVerboseLevel(Handle, Level)) return FALSE;
    va_list Arguments;
    va_start(Arguments, Format);
    int32 Result = Workflow_VPrint(Handle, 0, Format, Arguments);
    va_end(Arguments);
    return Result;
}

int32 WorkflowInt_PrintsOnlyToLog(void *User) {
    void *Target = nullptr;
    ClassPrint_Func Function = nullptr;
    Workflow_GetPrintCallback(static_cast<Workflow *>(User), &Target, &Function);
    return Function == nullptr || Function == Workflow_ModulePrinter;
}

int32 WorkflowInt_VPrintLine(Workflow *Handle, const char *Format, va_list Arguments) {
    // The workflow's own printer only logs the line: the log formats it
    // once, straight from the caller's arguments.
    if (WorkflowInt_PrintsOnlyToLog(Handle))
        return Log_PrintVInt(LOG_DEBUG, __FILE__, __LINE__, 0, Format, TRUE, Arguments);
    void *User = nullptr;
    ClassPrint_Func Function = nullptr;
    Workflow_GetPrintCallback(Handle, &User, &Function);
    char Line[2048];
    String_VPrint(Line, (int32)sizeof(Line), Format, Arguments);
    return Function(User, "%s", Line);
}
