// A task's status reports, error identifiers and warnings. The status
// Dictionary changes only through the task's own "Task"/"Status" observer,
// which Task_Start registers; every change is also fired to whoever listens.
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "formats/xml.h"
#include "formats/yaml.h"
#include "net/web_get.h"
#include "runtime/documents/json.h"
#include "runtime/notification/notification_center.h"
#include "runtime/posix/platform.h"
#include "runtime/text/string.h"
#include "runtime/text/string_print.h"
#include "runtime/thread.h"
#include "workflow/task_internal.h"
#include "workflow/app/workflow_app.h"
#include "workflow/workflow_run.h"

namespace {

constexpr int32 IdentifierSize = 1024;

// A copy of the status list under Key with Text appended unless present,
// wrapped as {Key: [...]}.
Dictionary *BuildListChange(Task *Handle, const char *Key, const char *Text) {
    Dictionary *Change = nullptr;
    Dictionary_Create(&Change);
    Dictionary *List = nullptr;
    Dictionary_AddList(Change, Key, &List, nullptr);
    Dictionary *Current = nullptr;
    if (Dictionary_GetListByKey(Handle->Status, Key, &Current)) Dictionary_Merge(List, Current, 0);
    if (!Dictionary_ContainsString(List, Text)) Dictionary_AddString(List, nullptr, Text, nullptr);
    return Change;
}

// The identifier of an error: an error may carry its words after it
// ("Task_Error_InvalidArg: \"path\" of task ..."), and is still that identifier.
std::string_view IdentifierOf(const char *Error) {
    std::string_view Text(Error);
    size_t Colon = Text.find(": ");
    if (Colon == std::string_view::npos || Colon == 0 || Text.substr(0, Colon).find(' ') != std::string_view::npos)
        return Text;
    return Text.substr(0, Colon);
}

bool IsIgnored(Task *Handle, const char *Identifier) {
    int32 Type = DICTIONARY_TYPE_UNKNOWN;
    if (TaskInt_IsLimitError(Identifier) || !Task_GetArgumentType(Handle, "ignoreError", &Type)) return false;
    if (Type == DICTIONARY_TYPE_LIST) {
        Dictionary *List = nullptr;
        Dictionary_GetListByKey(Handle->Definition, "ignoreError", &List);
        const std::string Named(IdentifierOf(Identifier));
        return Dictionary_ContainsString(List, Named.c_str()) != 0;
    }
    // A macro in it that is refused adds an error, which would ask this
    // again, without end: that error stands (the value that would ignore it
    // is the one refused), and the text left unexpanded ignores nothing.
    if (Handle->ReadingIgnore) return false;
    uint32 Flag = 0;
    Handle->ReadingIgnore = 1;
    TaskInt_ReadBoolean(Handle, "ignoreError", &Flag, false);
    Handle->ReadingIgnore = 0;
    return Flag != 0;
}

// ---- Lists added to in place ----
//
// A change that carries the whole list, made and merged by every observer
// for each entry, made adding the n-th error cost n: a page's 10,000 errors
// took seconds each thousand. A running task on the owner thread (where its
// status observer would run at once anyway) appends to its own status list,
// with the texts it holds in a set for the duplicate check; its observers
// hear the whole list once per turn of the event loop ("Task"/"StatusFlush"
// to itself, fired after no delay) and before the completion, rather than
// once per entry. Anything else that changes a list (a fire from elsewhere,
// a clear) goes through the status observer, which makes the set be read
// again from the list at the next addition.

constexpr const char *ListKeys[2] = {"errors", "warnings"};
constexpr const char *FlushName = "StatusFlush";

struct TaskLists {
    std::unordered_set<std::string> Texts[2];
    bool Known[2] = {false, false};   // Texts holds the list's entries
    bool Pending[2] = {false, false}; // appended since the observers heard
    bool Queued = false;              // the flush is on its way
    Dictionary *Flushing = nullptr;   // the change the flush fires
};

// The tasks that added in place, beside the task record rather than in it
// (few tasks do, and the record keeps its size). A task's entry is used on
// the owner thread; the table itself may be reached from a thread that
// deletes a task.
struct ListsTable {
    std::mutex Lock;
    std::unordered_map<const Task *, std::unique_ptr<TaskLists>> Of;
    std::atomic<int32> Count{0};
};

ListsTable &Table() {
    static ListsTable Each;
    return Each;
}

TaskLists *FindLists(const Task *Handle, bool Make) {
    ListsTable &All = Table();
    if (!Make && All.Count.load(std::memory_order_acquire) == 0) return nullptr;
    std::lock_guard<std::mutex> Hold(All.Lock);
    auto Found = All.Of.find(Handle);
    if (Found != All.Of.end()) return Found->second.get();
    if (!Make) return nullptr;
    TaskLists *Made = All.Of.emplace(Handle, std::make_unique<TaskLists>()).first->second.get();
    All.Count.fetch_add(1, std::memory_order_release);
    return Made;
}

int32 OnFlush(void *User, const char *, const char *, const char *, Dictionary *) {
    Task *Handle = static_cast<Task *>(User);
    if (TaskLists *Lists = FindLists(Handle, false)) Lists->Queued = false;
    TaskInt_FlushLists(Handle);
    return TRUE;
}

// Appends Text to the list at Index of the running task's status unless it
// holds it; false when the task does not add in place (not running, or off
// the owner thread), and the caller fires the change the old way.
bool AppendInPlace(Task *Handle, int32 Index, const char *Text, bool *Added) {
    *Added = false;
    if (!Handle->StatusObserved || Handle->Completed || !NotificationCenter_FiresInPlace()) return false;
    TaskLists *Found = FindLists(Handle, false);
    if (Found == nullptr) {
        Found = FindLists(Handle, true);
        NotificationCenter_AddInstanceObserver("Task", FlushName, Handle->Class.InstanceId, Handle, OnFlush);
    }
    TaskLists &Lists = *Found;
    Dictionary *List = nullptr;
    Dictionary_EnsureList(Handle->Status, ListKeys[Index], nullptr, &List);
    if (!Lists.Known[Index]) {
        Lists.Texts[Index].clear();
        DictionaryItem *Item = nullptr;
        for (Dictionary_ItemGetFirst(List, &Item); Item != nullptr; Dictionary_ItemGetNext(List, Item, &Item)) {
            const char *Entry = nullptr;
            int32 Length = 0;
            if (Dictionary_ItemGetBufferPtr(List, Item, &Entry, &Length) && Entry != nullptr)
                Lists.Texts[Index].emplace(Entry, (size_t)Length);
        }
        Lists.Known[Index] = true;
    }
    if (!Lists.Texts[Index].emplace(Text).second) return true;
    Dictionary_AddString(List, nullptr, Text, nullptr);
    *Added = true;
    Lists.Pending[Index] = true;
    if (!Lists.Queued) {
        Lists.Queued = true;
        NotificationCenter_FireAfterDelay("Task", FlushName, Handle->Class.InstanceId, 0, nullptr);
    }
    return true;
}

void RecordError(Task *Handle, const char *Identifier) {
    bool Added = false;
    if (AppendInPlace(Handle, 0, Identifier, &Added)) {
        // The message alone: the list itself follows with the flush.
        Dictionary *Message = nullptr;
        Dictionary_Create(&Message);
        Dictionary_SetStringByKey(Message, "message", Identifier);
        NotificationCenter_Fire("Task", "Error", Handle->Class.InstanceId, Message);
        Dictionary_Release(&Message);
        return;
    }
    Dictionary *Change = BuildListChange(Handle, "errors", Identifier);
    NotificationCenter_FireOwn("Task", "Status", Handle->Class.InstanceId, Change);
    Dictionary_SetStringByKey(Change, "message", Identifier);
    NotificationCenter_Fire("Task", "Error", Handle->Class.InstanceId, Change);
    Dictionary_Release(&Change);
}

void AddIdentifier(Task *Handle, const char *Identifier) {
    bool Ignored = IsIgnored(Handle, Identifier);
    Task_Print(Handle, "Error - %s%s\n", Identifier, Ignored ? " (Ignored)" : "");
    if (!Ignored) RecordError(Handle, Identifier);
}

void AddWarningText(Task *Handle, const char *Text) {
    Task_Print(Handle, "Warning - %s\n", Text);
    bool Added = false;
    if (!AppendInPlace(Handle, 1, Text, &Added)) {
        Dictionary *Change = BuildListChange(Handle, "warnings", Text);
        NotificationCenter_FireOwn("Task", "Status", Handle->Class.InstanceId, Change);
        Dictionary_Release(&Change);
    }
    Dictionary *Message = nullptr;
    Dictionary_Create(&Message);
    Dictionary_SetStringByKey(Message, "message", Text);
    NotificationCenter_Fire("Task", "Warning", Handle->Class.InstanceId, Message);
    Dictionary_Release(&Message);
}

int32 GetListEntry(Task *Handle, const char *Key, int32 Index, const char **Text) {
    *Text = "";
    // A path index below 0 would count from the end.
    if (Index < 0) return FALSE;
    char Path[64];
    String_Print(Path, (int32)sizeof(Path), "%s[%d]", Key, Index);
    const char *Found = nullptr;
    if (!Dictionary_GetStringPtrByPath(Handle->Status, Path, &Found) || Found == nullptr) return FALSE;
    *Text = Found;
    return TRUE;
}

int32 CountList(Task *Handle, const char *Key, int32 *Count) {
    *Count = 0;
    Dictionary *List = nullptr;
    if (Dictionary_GetListByKey(Handle->Status, Key, &List)) Dictionary_ItemGetCount(List, Count);
    return TRUE;
}

int32 HasListEntry(Task *Handle, const char *Key, const char *Text) {
    Dictionary *List = nullptr;
    if (!Dictionary_GetListByKey(Handle->Status, Key, &List)) return FALSE;
    if (Text == nullptr) {
        int32 Count = 0;
        Dictionary_ItemGetCount(List, &Count);
        return Count > 0;
    }
    if (Dictionary_ContainsString(List, Text)) return TRUE;
    // An error that carries its words is still its identifier.
    if (strcmp(Key, "errors") != 0) return FALSE;
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(List, &Item); Item != nullptr; Dictionary_ItemGetNext(List, Item, &Item)) {
        const char *Entry = nullptr;
        if (Dictionary_ItemGetStringPtr(List, Item, &Entry) && Entry != nullptr && IdentifierOf(Entry) == Text)
            return TRUE;
    }
    return FALSE;
}

void CopyList(Task *Handle, const char *Key, Dictionary *Target) {
    Dictionary *Source = nullptr;
    if (!Dictionary_GetListByKey(Handle->Status, Key, &Source)) return;
    Dictionary *List = nullptr;
    Dictionary_EnsureList(Target, Key, nullptr, &List);
    int32 Count = 0;
    Dictionary_ItemGetCount(Source, &Count);
    if (Count == 0) return;
    Dictionary_Reset(List);
    Dictionary_Merge(List, Source, DICTIONARY_MERGE_LISTS);
}

void ClearList(Task *Handle, const char *Key, const char *Notification) {
    Dictionary *Change = nullptr;
    Dictionary_Create(&Change);
    Dictionary_AddList(Change, Key, nullptr, nullptr);
    NotificationCenter_FireOwn("Task", "Status", Handle->Class.InstanceId, Change);
    NotificationCenter_Fire("Task", Notification, Handle->Class.InstanceId, Change);
    Dictionary_Release(&Change);
}

int32 AddFromDictionary(Task *Handle, Dictionary *Source, const char *Key, bool Errors) {
    Dictionary *List = nullptr;
    if (!Dictionary_GetListByKey(Source, Key, &List)) return FALSE;
    // A limit's identifier comes with the line that says which limit: both
    // stay, whatever "ignoreError" says.
    const bool Always = Errors && TaskInt_ResultHitLimit(Source);
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(List, &Item); Item != nullptr; Dictionary_ItemGetNext(List, Item, &Item)) {
        const char *Text = nullptr;
        if (!Dictionary_ItemCompareType(List, Item, DICTIONARY_TYPE_STRING) ||
            !Dictionary_ItemGetStringPtr(List, Item, &Text) || Text == nullptr)
            continue;
        if (Always) Task_AddErrorAlways(Handle, Text);
        else if (Errors) Task_AddError(Handle, "%s", Text);
        else Task_AddWarning(Handle, "%s", Text);
    }
    return TRUE;
}

// One-key changes kept for the next change of the same key: a root made and
// freed for every status cost more than the fire's own bookkeeping. A change
// fires at once and observers may not keep its payload, so after the fire it
// is ours again; one that someone still holds (its reference count tells),
// or that an observer changed, is let go instead. A slot is empty while its
// change fires, so a status set from inside an observer makes its own. Only
// the thread that kept the first change uses the slots, and only while the
// application lives: its end lets them go.
constexpr int32 ChangeSlots = 4;

struct KeptChanges {
    Dictionary *Slot[ChangeSlots] = {};
    // The one key of each kept change, its own text: nobody else holds a
    // kept change, so it stays as it was kept until it is taken.
    const char *Key[ChangeSlots] = {};
    int32 Next = 0;
    // Read by every thread that sets a status, written by the first.
    std::atomic<uint32> Thread{0};
};

KeptChanges &Changes() {
    static KeptChanges Each;
    return Each;
}

const char *OnlyKey(Dictionary *Change) {
    int32 Count = 0;
    DictionaryItem *Item = nullptr;
    const char *Key = nullptr;
    if (!Dictionary_ItemGetCount(Change, &Count) || Count != 1 || !Dictionary_ItemGetFirst(Change, &Item) ||
        !Dictionary_ItemGetKeyPtr(Change, Item, &Key))
        return nullptr;
    return Key;
}

bool OnHomeThread(KeptChanges &All) {
    const uint32 Current = Thread_GetCurrentId();
    uint32 Home = 0;
    return All.Thread.compare_exchange_strong(Home, Current) || Home == Current;
}

// An empty change, or a kept one holding just Key.
Dictionary *TakeChange(const char *Key) {
    KeptChanges &All = Changes();
    if (OnHomeThread(All)) {
        for (int32 Index = 0; Index < ChangeSlots; Index++) {
            if (All.Slot[Index] == nullptr || strcmp(All.Key[Index], Key) != 0) continue;
            Dictionary *Change = All.Slot[Index];
            All.Slot[Index] = nullptr;
            return Change;
        }
    }
    Dictionary *Change = nullptr;
    Dictionary_Create(&Change);
    return Change;
}

void KeepChange(Dictionary *Change) {
    KeptChanges &All = Changes();
    const char *Key = TaskInt_HeldAlone(Change) ? OnlyKey(Change) : nullptr;
    if (Key == nullptr || !OnHomeThread(All) || WorkflowApp_GetTaskTypeListHandle() == nullptr) {
        Dictionary_Release(&Change);
        return;
    }
    int32 Place = -1;
    for (int32 Index = 0; Index < ChangeSlots && Place < 0; Index++)
        if (All.Slot[Index] == nullptr) Place = Index;
    if (Place < 0) {
        Place = All.Next;
        All.Next = (All.Next + 1) % ChangeSlots;
        Dictionary_Release(&All.Slot[Place]);
    }
    All.Slot[Place] = Change;
    All.Key[Place] = Key;
}

} // namespace

void TaskInt_ForgetStatusChanges(void) {
    KeptChanges &All = Changes();
    if (!OnHomeThread(All)) return;
    for (Dictionary *&Each : All.Slot)
        if (Each != nullptr) Dictionary_Release(&Each);
    All.Thread.store(0);
}

void TaskInt_FormatExpanded(Task *Handle, char *Output, int32 Size, const char *Format, va_list Arguments) {
    String_VPrint(Output, Size, Format, Arguments);
    Task_ExpandString(Handle, Output, Size);
}

int32 TaskInt_StatusObserver(void *User, const char *, const char *, const char *, Dictionary *Info) {
    Task *Handle = static_cast<Task *>(User);
    // A task's status (its errors, warnings and progress among it) is what
    // the program recorded: a page or a document's Notification task may
    // fire the same name with any sender and words, also after the task
    // completed, and changes nothing.
    if (Info == nullptr || !NotificationCenter_IsOwnFire()) return TRUE;
    if (TaskLists *Lists = FindLists(Handle, false)) {
        // Its own flush brings the lists it holds already.
        if (Info == Lists->Flushing) return TRUE;
        for (int32 Index = 0; Index < 2; Index++)
            if (Dictionary_ContainsKey(Info, ListKeys[Index])) Lists->Known[Index] = false;
    }
    Dictionary_Merge(Handle->Status, Info, DICTIONARY_MERGE_OVERWRITE);
    return TRUE;
}

void TaskInt_FlushLists(Task *Handle) {
    TaskLists *Lists = FindLists(Handle, false);
    if (Lists == nullptr || (!Lists->Pending[0] && !Lists->Pending[1])) return;
    Dictionary *Change = nullptr;
    Dictionary_Create(&Change);
    for (int32 Index = 0; Index < 2; Index++) {
        if (!Lists->Pending[Index]) continue;
        Lists->Pending[Index] = false;
        Dictionary *Source = nullptr, *Copy = nullptr;
        Dictionary_AddList(Change, ListKeys[Index], &Copy, nullptr);
        if (Dictionary_GetListByKey(Handle->Status, ListKeys[Index], &Source))
            Dictionary_Merge(Copy, Source, DICTIONARY_MERGE_LISTS);
    }
    // Held through the fire: an observer may complete the task and let go.
    Task *Held = Task_AddRef(Handle);
    Lists->Flushing = Change;
    NotificationCenter_FireOwn("Task", "Status", Handle->Class.InstanceId, Change);
    Lists->Flushing = nullptr;
    Dictionary_Release(&Change);
    Task_Release(&Held);
}

void TaskInt_FreeLists(Task *Handle) {
    if (FindLists(Handle, false) == nullptr) return;
    NotificationCenter_RemoveInstanceObserver("Task", FlushName, Handle->Class.InstanceId, Handle, OnFlush);
    ListsTable &All = Table();
    std::lock_guard<std::mutex> Hold(All.Lock);
    All.Of.erase(Handle);
    All.Count.fetch_sub(1, std::memory_order_release);
}

// ---- Status ----

int32 Task_SetStatusWithDictionary(Task *Handle, Dictionary *Change) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    return NotificationCenter_FireOwn("Task", "Status", Handle->Class.InstanceId, Change);
}

int32 Task_SetStatusString(Task *Handle, const char *Key, const char *Text) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Key);
    Dictionary *Change = TakeChange(Key);
    Dictionary_SetStringByKey(Change, Key, Text);
    int32 Result = Task_SetStatusWithDictionary(Handle, Change);
    KeepChange(Change);
    return Result;
}

int32 Task_SetStatusNumber(Task *Handle, const char *Key, float64 Number) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Key);
    Dictionary *Change = TakeChange(Key);
    Dictionary_SetFloat64ByKey(Change, Key, Number);
    int32 Result = Task_SetStatusWithDictionary(Handle, Change);
    KeepChange(Change);
    return Result;
}

void TaskInt_AddWarningText(Task *Handle, const char *Text) { AddWarningText(Handle, Text); }

void TaskInt_RefuseArgument(Task *Handle, const char *What, const char *Why) {
    Handle->RefusedArgument = TRUE;
    // Not expanded: the words may quote a value as the document wrote it.
    std::string Error = std::string("Task_Error_InvalidArg: ") + What + " of task \"" + Handle->Name + "\" " + Why;
    AddIdentifier(Handle, Error.c_str());
}

bool TaskInt_IsLimitError(const char *Identifier) {
    static constexpr const char *Limits[] = {TASK_ERROR_TOO_DEEP, TASK_ERROR_TOO_MANY, WORKFLOWRUN_ERROR_TOO_DEEP,
                                             WORKFLOWRUN_ERROR_TOO_MANY};
    for (const char *Each : Limits)
        if (strcmp(Identifier, Each) == 0) return true;
    return false;
}

bool TaskInt_ResultHitLimit(Dictionary *Result) {
    Dictionary *Errors = nullptr;
    if (Result == nullptr || !Dictionary_GetListByKey(Result, "errors", &Errors) || Errors == nullptr) return false;
    DictionaryItem *Item = nullptr;
    const char *Text = nullptr;
    for (Dictionary_ItemGetFirst(Errors, &Item); Item != nullptr; Dictionary_ItemGetNext(Errors, Item, &Item))
        if (Dictionary_ItemGetStringPtr(Errors, Item, &Text) && Text != nullptr && TaskInt_IsLimitError(Text))
            return true;
    return false;
}

int32 Task_SetStatus(Task *Handle, const char *Text) { return Task_SetStatusString(Handle, "status", Text); }
int32 Task_SetProgress(Task *Handle, float64 Progress) { return Task_SetStatusNumber(Handle, "progress", Progress); }

// ---- Errors and warnings ----

int32 Task_AddError(Task *Handle, const char *Format, ...) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Format);
    char Identifier[IdentifierSize];
    va_list Arguments;
    va_start(Arguments, Format);
    TaskInt_FormatExpanded(Handle, Identifier, (int32)sizeof(Identifier), Format, Arguments);
    va_end(Arguments);
    AddIdentifier(Handle, Identifier);
    return TRUE;
}

int32 Task_AddErrorAlways(Task *Handle, const char *Identifier) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Identifier);
    Task_Print(Handle, "Error - %s\n", Identifier);
    RecordError(Handle, Identifier);
    return TRUE;
}

int32 Task_AddWarning(Task *Handle, const char *Format, ...) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Format);
    char Text[IdentifierSize];
    va_list Arguments;
    va_start(Arguments, Format);
    TaskInt_FormatExpanded(Handle, Text, (int32)sizeof(Text), Format, Arguments);
    va_end(Arguments);
    AddWarningText(Handle, Text);
    return TRUE;
}

int32 Task_AddErrorFromMap(Task *Handle, int32 Code, const char *DefaultIdentifier) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Dictionary *Map = nullptr;
    if (Dictionary_GetDictionaryByKey(Handle->Definition, "errorMap", &Map)) {
        char Key[16];
        String_Print(Key, (int32)sizeof(Key), "%d", Code);
        const char *Identifier = nullptr;
        if (!Dictionary_GetStringPtrByKey(Map, Key, &Identifier) || Identifier == nullptr) return FALSE;
        return Task_AddError(Handle, "%s", Identifier);
    }
    if (DefaultIdentifier == nullptr) return FALSE;
    return Task_AddError(Handle, "%s", DefaultIdentifier);
}

namespace {

std::string Translated(const char *Module, int32 Code, Task_TranslateFunc Translate) {
    const char *Name = Translate(Code);
    if (Name == nullptr || String_Compare(Name, "Unknown") || String_Compare(Name, "None"))
        return std::string(Module) + "_" + std::to_string(Code);
    return std::string(Module) + "_" + Name;
}

} // namespace

int32 Task_AddErrorFromTranslate(Task *Handle, const char *Module, int32 Code, Task_TranslateFunc Translate) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Module);
    Debug_CheckPointer(Translate);
    return Task_AddError(Handle, "%s", Translated(Module, Code, Translate).c_str());
}

std::vector<std::string> TaskInt_ErrorsFromCode(int32 Code, int32 SubCode) {
    std::vector<std::string> Names;
    if (Code == WEBGET_ERROR_XML) Names.push_back(Translated("Xml_Error", SubCode, XML_TranslateError));
    else if (Code == WEBGET_ERROR_JSON) Names.push_back(Translated("Json_Error", SubCode, JSON_TranslateError));
    else if (Code == WEBGET_ERROR_YAML) Names.push_back(Translated("Yaml_Error", SubCode, YAML_TranslateError));
    // A server's refusal names its status, so that a missing document reads
    // apart from other failures the client reports as "Custom".
    else if (Code == WEBGET_ERROR_CUSTOM && SubCode >= 100 && SubCode <= 599)
        Names.push_back("Http_Error_" + std::to_string(SubCode));
    else if (Code == WEBGET_ERROR_OS)
        return {Translated("Platform_Error", SubCode, Platform_TranslateError)};
    Names.push_back(Translated("WebGet_Error", Code, WebGet_TranslateError));
    return Names;
}

int32 Task_AddErrorFromCode(Task *Handle, int32 Code, int32 SubCode) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    for (const std::string &Name : TaskInt_ErrorsFromCode(Code, SubCode)) Task_AddError(Handle, "%s", Name.c_str());
    return TRUE;
}

int32 Task_AddMissingArgumentError(Task *Handle, const char *Names) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Names);
    Task_AddError(Handle, "%s", "Task_Error_MissingArg");
    // The identifier alone is what "ignoreError" lists name: an ignored one
    // must not come back as the line.
    if (!Task_HasError(Handle, "Task_Error_MissingArg")) return TRUE;
    // A "load" moved aside for the macro task is named "load.<GUID>": the
    // user wrote "load" (as a task that cannot be made is named).
    std::string Shown = Task_GetNamePtr(Handle);
    if (size_t Dot = Shown.find('.'); Dot != std::string::npos && Shown.size() - Dot - 1 >= 32 &&
                                      Shown.find_first_not_of("0123456789abcdefABCDEF-", Dot + 1) == std::string::npos)
        Shown.erase(Dot);
    char Line[IdentifierSize];
    String_Print(Line, (int32)sizeof(Line), TASK_MISSING_ARGUMENT "%s of task \"%s\" (type %s)", Names, Shown.c_str(),
                 Task_GetType(Handle));
    return Task_AddError(Handle, "%s", Line);
}

int32 Task_AddErrorFromDictionary(Task *Handle, Dictionary *Source) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    return AddFromDictionary(Handle, Source, "errors", true);
}

int32 Task_AddWarningFromDictionary(Task *Handle, Dictionary *Source) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    return AddFromDictionary(Handle, Source, "warnings", false);
}

int32 Task_HasError(Task *Handle, const char *Identifier) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    return HasListEntry(Handle, "errors", Identifier);
}

int32 Task_HasWarning(Task *Handle, const char *Text) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    return HasListEntry(Handle, "warnings", Text);
}

int32 Task_GetErrorCount(Task *Handle, int32 *Count) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Count);
    return CountList(Handle, "errors", Count);
}

int32 Task_GetWarningCount(Task *Handle, int32 *Count) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Count);
    return CountList(Handle, "warnings", Count);
}

int32 Task_GetErrorPtr(Task *Handle, int32 Index, const char **Text) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Text);
    return GetListEntry(Handle, "errors", Index, Text);
}

int32 Task_GetWarningPtr(Task *Handle, int32 Index, const char **Text) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Text);
    return GetListEntry(Handle, "warnings", Index, Text);
}

int32 Task_GetError(Task *Handle, int32 Index, char *Buffer, int32 Size) {
    const char *Text = nullptr;
    int32 Found = Task_GetErrorPtr(Handle, Index, &Text);
    String_CopyLength(Buffer, Text, Size);
    return Found;
}

int32 Task_GetWarning(Task *Handle, int32 Index, char *Buffer, int32 Size) {
    const char *Text = nullptr;
    int32 Found = Task_GetWarningPtr(Handle, Index, &Text);
    String_CopyLength(Buffer, Text, Size);
    return Found;
}

int32 Task_CopyErrors(Task *Handle, Dictionary *Target) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    CopyList(Handle, "errors", Target);
    return TRUE;
}

int32 Task_CopyWarnings(Task *Handle, Dictionary *Target) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    CopyList(Handle, "warnings", Target);
    return TRUE;
}

int32 Task_ClearErrors(Task *Handle) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    ClearList(Handle, "errors", "Error");
    return TRUE;
}

int32 Task_ClearWarnings(Task *Handle) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    ClearList(Handle, "warnings", "Warning");
    return TRUE;
}
