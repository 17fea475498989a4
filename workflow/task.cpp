// Task object, identity, definition loading and argument access (see task.h).
#include "workflow/task.h"
#include "workflow/task_request.h"

#include <math.h>
#include <string.h>

#include <initializer_list>
#include <string_view>

#include "crypto/trust/authenticate.h"
#include "net/web_get.h"
#include "net/web_get_redirect.h"
#include "runtime/documents/json.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/notification/notification_center.h"
#include "runtime/text/string.h"
#include "runtime/text/string_expand.h"
#include "runtime/text/string_print.h"
#include "runtime/text/url.h"
#include "runtime/time.h"
#include "workflow/task_arguments.h"
#include "workflow/task_internal.h"
#include "workflow/workflow.h"
#include "workflow/workflow_application.h"

CLASSPRINT_DEFINE(Task, Task, TASK_CLASSID, "Task", Print)

namespace {

constexpr int32 TemplateNameSize = 512;
constexpr int32 ScalarArgumentSize = 320;
constexpr int32 ListElementSize = 1024;
constexpr int32 DictionaryArgumentSize = 16320;
// Records per pool chunk of the task's definition and status.
constexpr uint32 SmallTreeChunkSize = 2;

// Stores From, cut to FullSize - 1 bytes as String_CopyLength cuts, in a
// task text now at Current: in Inline (InlineSize bytes) when it fits there
// and the text has no block yet, else in the text's block of FullSize bytes
// (made the first time). A block, once made, is kept until the task goes, so
// that a pointer read from the text earlier never dangles. Returns where the
// text now is.
char *SetText(char *Current, char *Inline, int32 InlineSize, int32 FullSize, const char *From) {
    char *Target = Current;
    if (Current == nullptr || Current == Inline)
        Target = strnlen(From, (size_t)InlineSize) < (size_t)InlineSize ? Inline
                                                                       : static_cast<char *>(Memory_Alloc(FullSize));
    String_CopyLength(Target, From, Target == Inline ? InlineSize : FullSize);
    return Target;
}

// Frees the text's block, if it has one.
void FreeText(char *Current, char *Inline, int32 FullSize) {
    if (Current != nullptr && Current != Inline) Memory_Free(Current, FullSize);
}

int32 DictionaryPrintThroughTask(void *User, const char *Format, ...) {
    va_list Arguments;
    va_start(Arguments, Format);
    int32 Result = Task_VPrint(static_cast<Task *>(User), 0, Format, Arguments);
    va_end(Arguments);
    return Result;
}

int32 InteropReferenceObserver(void *User, const char *, const char *, const char *, Dictionary *Info) {
    Task *Handle = static_cast<Task *>(User);
    uint32 AddRef = 0;
    if (!NotificationCenter_TakeInteropReferenceChange(Handle->Class.InstanceId, Info, &Handle->PageReferenceHeld,
                                                       &AddRef))
        return TRUE;
    if (AddRef) Task_AddRef(Handle);
    else Task_Release(&Handle);
    return TRUE;
}

int32 DeleteObject(void *HandleAddress) { return Task_Delete(static_cast<Task **>(HandleAddress)); }

DictionaryItem *FindArgument(Task *Handle, const char *Name) {
    DictionaryItem *Item = nullptr;
    Dictionary_ItemFindByKey(Handle->Definition, Name, nullptr, &Item);
    return Item;
}

// Refuses a text argument: why, said to the task's log and its errors. What
// names the argument ("a key of ..."), or is its bare name when Quote is set.
bool RefuseText(Task *Handle, const char *What, const char *Why, bool Quote = false) {
    if (!Quote) return TaskInt_RefuseArgument(Handle, What, Why), false;
    char Quoted[ScalarArgumentSize];
    String_Print(Quoted, (int32)sizeof(Quoted), "\"%s\"", What);
    TaskInt_RefuseArgument(Handle, Quoted, Why);
    return false;
}

// TaskInt_ReadText; without Refuse a text that does not fit only answers
// false, and the task is left as it was.
bool ReadText(Task *Handle, const char *What, bool Quote, const char *Stored, int32 Length, char *Buffer, int32 Size,
              bool Expand, bool Refuse = true);

// The item's text read as TaskInt_ReadText reads it; false also for an item
// without text.
bool ReadExpanded(Task *Handle, const char *Name, DictionaryItem *Item, char *Buffer, int32 Size,
                  bool Refuse = true) {
    const char *Text = nullptr;
    int32 Length = 0;
    if (Dictionary_ItemIsContainer(Handle->Definition, Item) ||
        !Dictionary_ItemGetBufferPtr(Handle->Definition, Item, &Text, &Length) || Text == nullptr)
        return false;
    // The value the check before the start read and expanded: the type acts
    // on that one, not on a second expansion that may differ from it.
    const char *Checked = nullptr;
    if (Handle->Checked != nullptr && Dictionary_GetStringPtrByKey(Handle->Checked, Name, &Checked) && Checked != nullptr)
        return ReadText(Handle, Name, true, Checked, (int32)strlen(Checked), Buffer, Size, false, Refuse);
    return ReadText(Handle, Name, true, Text, Length, Buffer, Size, true, Refuse);
}

// "1", "TRUE", "YES", "ON" (without case) are true; anything else false.
bool DecodeBoolean(const char *Text) {
    for (const char *Word : {"1", "TRUE", "YES", "ON"})
        if (String_CompareWithoutCase(Text, Word)) return true;
    return false;
}

// Whether Url lies beside the application's content (its own content place,
// never a "contentUrl" macro that a task or loaded data set), compared as the
// server will resolve both, not as written: scheme and host without case,
// the path with case (a case-sensitive server serves "/A/" apart from
// "/a/"), at a whole segment; a URL of no one place ("..;/", "%2e%2e/",
// which servers resolve apart) is beside nothing. The content's data store is not its own:
// its first segment below the content named "datastore" in any spelling a
// server may still serve as that (any case, trailing blanks or dots), and
// what lies under it. Content whose URL holds a query or a fragment (a
// workflow served as "/get?file=signed/main.jws") has no place (see
// WorkflowApp_SetContentDocument): what a server makes of a query
// ("?file=signed/../other/x") no comparison of the text can tell.
bool BesideContent(const char *Url) {
    char Place[4096], ContentPlace[4096];
    if (!WorkflowApplication_GetContentPlace(ContentPlace, (int32)sizeof(ContentPlace)) ||
        !URL_ResolvePlace(Url, Place, (int32)sizeof(Place)))
        return false;
    size_t Length = strlen(ContentPlace);
    if (strncmp(Place, ContentPlace, Length) != 0) return false;
    if (Length > 0 && ContentPlace[Length - 1] != '/') {
        if (Place[Length] != '/' && Place[Length] != 0) return false;
        if (Place[Length] == '/') Length++;
    }
    std::string_view Below(Place + Length);
    std::string_view First = Below.substr(0, Below.find('/'));
    while (!First.empty() && (First.back() == ' ' || First.back() == '.' || First.back() == '\t'))
        First.remove_suffix(1);
    return !(First.size() == 9 && String_CompareLengthWithoutCase(First.data(), "datastore", 9));
}

// Whether the "authenticate" argument waives authentication: only a value
// that plainly says no does (false, 0, or "0", "FALSE", "NO", "OFF" without
// case once expanded). Anything else (empty, null, a list or object, a macro
// left unexpanded, a word of no meaning) keeps documents authenticated, and
// says so, since a typing slip must not turn a security check off.
bool AuthenticateWaived(Task *Handle) {
    int32 Type = DICTIONARY_TYPE_UNKNOWN;
    Task_GetArgumentType(Handle, "authenticate", &Type);
    char Text[ScalarArgumentSize] = "";
    bool Scalar = Type == DICTIONARY_TYPE_BOOLEAN || Type == DICTIONARY_TYPE_INT64 || Type == DICTIONARY_TYPE_FLOAT64 ||
                  Type == DICTIONARY_TYPE_STRING;
    // Text with a NUL in it reads as what stands before the NUL ("false\u0000x" as
    // "false"), so it never says no plainly.
    const char *Raw = nullptr;
    int32 RawLength = 0;
    DictionaryItem *Item = FindArgument(Handle, "authenticate");
    if (Scalar && Item != nullptr && Dictionary_ItemGetBufferPtr(Handle->Definition, Item, &Raw, &RawLength) &&
        Raw != nullptr && strlen(Raw) != (size_t)RawLength)
        Scalar = false;
    if (Scalar) Task_GetStringArgument(Handle, "authenticate", Text, (int32)sizeof(Text));
    for (const char *Word : {"0", "FALSE", "NO", "OFF"})
        if (Scalar && String_CompareWithoutCase(Text, Word)) return true;
    if (!Scalar || !DecodeBoolean(Text))
        Task_Print(Handle, "Argument \"authenticate\" (%s) says neither yes nor no: documents stay authenticated\n",
                   Scalar ? Text : Type == DICTIONARY_TYPE_NULL ? "null" : "not a single value");
    return false;
}

// A decimal number as a document writes it: an optional "-", digits with at
// most one ".", and an optional exponent ("2.5e2", "1E-3"); the empty text
// counts as 0. Whatever else (words, "1.2.3", hex, "nan", "inf") is no number.
bool ReadNumberText(const char *Text, float64 *Number) {
    *Number = 0;
    if (Text[0] == 0) return true;
    const char *At = Text;
    if (*At == '-') At++;
    int32 Digits = 0;
    while (*At >= '0' && *At <= '9') At++, Digits++;
    if (*At == '.') {
        At++;
        while (*At >= '0' && *At <= '9') At++, Digits++;
    }
    if (Digits == 0) return false;
    if (*At == 'e' || *At == 'E') {
        At++;
        if (*At == '-' || *At == '+') At++;
        if (!(*At >= '0' && *At <= '9')) return false;
        while (*At >= '0' && *At <= '9') At++;
    }
    if (*At != 0) return false;
    *Number = String_AtoF(Text);
    return true;
}

} // namespace

bool TaskInt_ReadNumberText(const char *Text, float64 *Number) { return ReadNumberText(Text, Number); }

const GlobalTaskVtblStruct GlobalTaskVtbl = {
    Task_SubAction_Null, Task_SubAction_Complete, Task_IsCompleted, Task_IsCancelled, Task_GetType,
    Task_GetTimeElapsed, Task_GetName, Task_GetNamePtr, Task_HasArgument, Task_GetArgumentPtr,
    Task_GetArgumentType, Task_GetStringArgument, Task_GetMultiStringArgument, Task_GetBooleanArgument,
    Task_GetNumberArgument, Task_SetStatus, Task_SetStatusString, Task_SetStatusNumber,
    Task_SetStatusWithDictionary, Task_SetProgress, Task_RunSubAction, Task_RunSubTask, Task_Start,
    Task_Complete, Task_Cancel, Task_Dump, Task_Print, Task_VPrint, Task_VerboseLog, Task_ExpandString,
    Task_LoadFromDictionary, Task_HasError, Task_HasWarning, Task_GetErrorCount, Task_GetWarningCount,
    Task_AddError, Task_AddErrorFromMap, Task_GetError, Task_AddWarning, Task_GetWarning, Task_ClearErrors,
    Task_ClearWarnings, Task_SetDelayedCancel, Task_GetDelayedCancel, Task_GetWorkflowHandle,
    Task_GetDictionaryHandle, Task_GetStatusDictionaryHandle, Task_SetExpandStringCallback,
    Task_GetExpandStringCallback, nullptr,
};

// ---- Object ----

TaskBudget &TaskInt_Budget() {
    static TaskBudget Budget;
    return Budget;
}

int32 Task_Create(Task **Handle) {
    Debug_CheckPointer(Handle);
    Task *Self = Memory_New(Task);
    TaskInt_Budget().Live++;
    Class_InitHeader(Self, TASK_CLASSID, DeleteObject);
    Class_GenerateInstanceId(Self);
    Class_TrackInstance(Self, Self->Class.InstanceId);
    Self->Vtbl = &GlobalTaskVtbl;
    Self->Name = Self->NameInline;
    Self->DefaultCertStore = Self->DefaultCertStoreInline;
    String_Copy(Self->DefaultCertStore, "app");
    CallbackBase_Set(&Self->Authenticate, Self, Task_DefaultAuthenticateCallback);
    // The macro Dictionary, which few tasks fill, is made on first use. The
    // definition and status of most tasks hold a few keys and live as long as
    // the task: their pools start with chunks of two records and grow by
    // doubling, rather than with eight records of which most stay unused.
    for (Dictionary **Target : {&Self->Definition, &Self->Status}) {
        Dictionary_Create(Target);
        Dictionary_SetPoolChunkSize(*Target, SmallTreeChunkSize);
        Dictionary_SetPrintCallback(*Target, Self, DictionaryPrintThroughTask);
    }
    NotificationCenter_AddInteropObserver(Self->Class.InstanceId, Self, InteropReferenceObserver);
    NotificationCenter_Fire("Task", "Create", Self->Class.InstanceId, nullptr);
    *Handle = Self;
    return TRUE;
}

int32 Task_Delete(Task **Handle) {
    Debug_CheckPointer(Handle);
    Task *Self = *Handle;
    Class_CheckHandle(Self, TASK_CLASSID);
    // The request goes first and silently: its type object is released next.
    Task_RequestDelete(Self, FALSE);
    if (Self->CertStores != nullptr) CertStoreList_Release(&Self->CertStores);
    Task_SetInterface(Self, nullptr);
    NotificationCenter_RemoveInteropObserver(Self->Class.InstanceId, Self, InteropReferenceObserver);
    TaskInt_FreeLists(Self);
    if (Self->StatusObserved) {
        NotificationCenter_RemoveInstanceObserver("Task", "Status", Self->Class.InstanceId, Self,
                                                  TaskInt_StatusObserver);
        TaskInt_Budget().Running--;
    }
    NotificationCenter_AssertInstance(Self);
    Dictionary_Release(&Self->Definition);
    if (Self->Macros != nullptr) Dictionary_Release(&Self->Macros);
    TaskInt_ForgetCheckedArguments(Self);
    Dictionary_Release(&Self->Status);
    Class_UntrackInstance(Self->Class.InstanceId);
    FreeText(const_cast<char *>(Self->InterfaceCopy.Name), Self->InterfaceNameInline, TASK_NAME_SIZE);
    FreeText(Self->Name, Self->NameInline, TASK_NAME_SIZE);
    FreeText(Self->DefaultCertStore, Self->DefaultCertStoreInline, TASK_CERTSTORE_NAME_SIZE);
    Memory_Delete(Self);
    TaskInt_Budget().Live--;
    *Handle = nullptr;
    return TRUE;
}

CLASS_DEFINE_REFERENCE(Task, Task, TASK_CLASSID)

int32 Task_ValidHandle(Task *Handle) { return Handle != nullptr && Handle->Class.ClassId == TASK_CLASSID; }

// ---- Definition and identity ----

int32 Task_LoadFromDictionary(Task *Handle, Dictionary *WorkflowDocument, const char *Name) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(WorkflowDocument);
    Debug_CheckPointer(Name);
    DictionaryItem *Item = nullptr;
    Dictionary *Definition = nullptr;
    // A name longer than a key is kept names no task (its first bytes would
    // find another).
    if (strlen(Name) > DICTIONARY_MAX_KEY_LENGTH || !Dictionary_ItemFindByKey(WorkflowDocument, Name, nullptr, &Item) ||
        !Dictionary_ItemCompareType(WorkflowDocument, Item, DICTIONARY_TYPE_DICTIONARY) ||
        !Dictionary_ItemGetDictionaryHandle(WorkflowDocument, Item, &Definition))
        return FALSE;
    const char *Key = nullptr;
    Dictionary_ItemGetKeyPtr(WorkflowDocument, Item, &Key);
    Task_SetName(Handle, Key);
    Dictionary_ItemGetPrivate(WorkflowDocument, Item, &Handle->Private);

    // Templates first, in order, each over the one before; the definition last.
    int32 Type = DICTIONARY_TYPE_UNKNOWN;
    // A name that holds a NUL or does not fit, as written or once expanded,
    // leads nowhere: cut, it would name another template.
    auto ApplyTemplate = [&](const char *TemplateName, int32 Length) {
        char Path[TemplateNameSize];
        if (TemplateName == nullptr || Length < 0 || Length >= (int32)sizeof(Path) - 1 ||
            strnlen(TemplateName, (size_t)Length) != (size_t)Length)
            return;
        memcpy(Path, TemplateName, (size_t)Length);
        Path[Length] = 0;
        if (Handle->Owner != nullptr) Workflow_ExpandString(Handle->Owner, Path, (int32)sizeof(Path));
        if (strlen(Path) >= sizeof(Path) - 1) return;
        Dictionary *Template = nullptr;
        if (Dictionary_GetDictionaryByPath(WorkflowDocument, Path, &Template) && Template != Definition)
            Dictionary_Merge(Handle->Definition, Template, DICTIONARY_MERGE_OVERWRITE);
    };
    if (Dictionary_GetTypeByKey(Definition, "template", &Type)) {
        const char *TemplateName = nullptr;
        int32 Length = 0;
        if (Type == DICTIONARY_TYPE_STRING &&
            Dictionary_GetBufferPtrByKey(Definition, "template", &TemplateName, &Length))
            ApplyTemplate(TemplateName, Length);
        else if (Type == DICTIONARY_TYPE_LIST) {
            Dictionary *List = nullptr;
            Dictionary_GetListByKey(Definition, "template", &List);
            DictionaryItem *NameItem = nullptr;
            if (List != nullptr) Dictionary_ItemGetFirst(List, &NameItem);
            for (; NameItem != nullptr;
                 Dictionary_ItemGetNext(List, NameItem, &NameItem))
                if (Dictionary_ItemCompareType(List, NameItem, DICTIONARY_TYPE_STRING) &&
                    Dictionary_ItemGetBufferPtr(List, NameItem, &TemplateName, &Length))
                    ApplyTemplate(TemplateName, Length);
        }
    }
    Dictionary_Merge(Handle->Definition, Definition, DICTIONARY_MERGE_OVERWRITE);

    uint32 Verbose = 0;
    if (Task_HasArgument(Handle, "verbose") && Task_GetBooleanArgument(Handle, "verbose", &Verbose))
        Task_SetVerbose(Handle, (int32)Verbose);
    return TRUE;
}

int32 Task_SetName(Task *Handle, const char *Name) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Name);
    Handle->Name = SetText(Handle->Name, Handle->NameInline, TaskNameInlineSize, TASK_NAME_SIZE, Name);
    Task_SetPrintIdentifier(Handle, Handle->Name);
    return TRUE;
}

int32 Task_GetName(Task *Handle, char *Buffer, int32 Size) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Buffer);
    String_CopyLength(Buffer, Handle->Name, Size);
    return TRUE;
}

const char *Task_GetNamePtr(Task *Handle) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    return Handle->Name;
}

int32 Task_SetWorkflowHandle(Task *Handle, Workflow *Owner) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Handle->Owner = Owner;
    return TRUE;
}

int32 Task_GetWorkflowHandle(Task *Handle, Workflow **Owner) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Owner);
    *Owner = Handle->Owner;
    return Handle->Owner != nullptr;
}

#define TASK_DICTIONARY_GETTER(Function, Field)            \
    int32 Function(Task *Handle, Dictionary **Target) {    \
        Class_CheckHandle(Handle, TASK_CLASSID);           \
        Debug_CheckPointer(Target);                        \
        *Target = Handle->Field;                           \
        return TRUE;                                       \
    }
TASK_DICTIONARY_GETTER(Task_GetDictionaryHandle, Definition)
TASK_DICTIONARY_GETTER(Task_GetStatusDictionaryHandle, Status)
#undef TASK_DICTIONARY_GETTER

int32 Task_GetMacroDictionaryHandle(Task *Handle, Dictionary **Target) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Target);
    if (Handle->Macros == nullptr) {
        Dictionary_Create(&Handle->Macros);
        Dictionary_SetPrintCallback(Handle->Macros, Handle, DictionaryPrintThroughTask);
    }
    *Target = Handle->Macros;
    return TRUE;
}

int32 Task_SetPrivate(Task *Handle, uint32 Flag) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Handle->Private = Flag;
    return TRUE;
}

int32 Task_GetPrivate(Task *Handle, uint32 *Flag) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Flag);
    *Flag = Handle->Private;
    return TRUE;
}

int32 Task_SetInterface(Task *Handle, const TaskInterface *Record) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    if (Handle->Interface != nullptr && Handle->InterfaceHandle != nullptr)
        Handle->Interface->Release(&Handle->InterfaceHandle);
    Handle->InterfaceHandle = nullptr;
    Handle->Interface = nullptr;
    Handle->InterfaceSource = Record;
    if (Record == nullptr) return TRUE;
    char *TypeName = const_cast<char *>(Handle->InterfaceCopy.Name);
    TypeName = SetText(TypeName, Handle->InterfaceNameInline, TaskTypeNameInlineSize, TASK_NAME_SIZE,
                       Record->Name != nullptr ? Record->Name : "");
    Handle->InterfaceCopy = *Record;
    Handle->InterfaceCopy.Name = TypeName;
    Handle->Interface = &Handle->InterfaceCopy;
    if (Record->Create != nullptr) Record->Create(&Handle->InterfaceHandle, Handle);
    return TRUE;
}

int32 Task_GetInterface(Task *Handle, const TaskInterface **Record) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Record);
    *Record = Handle->Interface;
    return Handle->Interface != nullptr;
}

int32 Task_GetInterfaceHandle(Task *Handle, void **TypeObject) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(TypeObject);
    *TypeObject = Handle->InterfaceHandle;
    return Handle->InterfaceHandle != nullptr;
}

const char *Task_GetType(Task *Handle) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    if (Handle->Interface == nullptr) Debug_AbortInt(__FILE__, __LINE__, "Task interface is not set\n");
    return Handle->Interface->Name;
}

int32 Task_Dump(Task *Handle) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    return Dictionary_Dump(Handle->Definition);
}

int32 Task_SetDefaultCertStore(Task *Handle, const char *Name) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Name);
    Handle->DefaultCertStore = SetText(Handle->DefaultCertStore, Handle->DefaultCertStoreInline,
                                       TaskCertStoreInlineSize, TASK_CERTSTORE_NAME_SIZE, Name);
    return TRUE;
}

int32 Task_GetDefaultCertStore(Task *Handle, char *Buffer, int32 Size) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Buffer);
    String_CopyLength(Buffer, Handle->DefaultCertStore, Size);
    return TRUE;
}

// Resolves one store name: the process-wide table, then the workflow's;
// a name neither holds adds a store that trusts nothing.
static void Task_AddCertStoreByName(Task *Handle, const char *Name) {
    CertStoreInterface *Interface = nullptr;
    CertStoreTable *Global = Authenticate_GetCertStoreTableHandle();
    CertStoreTable *Local = Handle->Owner != nullptr ? Workflow_GetCertStoreTableHandle(Handle->Owner) : nullptr;
    if ((Global == nullptr || !CertStoreTable_GetInterfaceHandle(Global, Name, &Interface)) &&
        (Local == nullptr || !CertStoreTable_GetInterfaceHandle(Local, Name, &Interface))) {
        Task_Print(Handle, "Unable to find certificate store (%s)\n", Name);
        CertStoreNull *Null = nullptr;
        CertStoreNull_Create(&Null);
        CertStoreNull_GetInterfaceHandle(Null, &Interface);
        CertStoreNull_Release(&Null);
    }
    CertStoreList_Add(Handle->CertStores, Interface);
    CertStoreInterface_Release(&Interface);
}

int32 Task_GetCertStoreListHandle(Task *Handle, CertStoreList **List) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(List);
    if (Handle->CertStores == nullptr) {
        CertStoreList_Create(&Handle->CertStores);
        int32 Type = DICTIONARY_TYPE_UNKNOWN;
        const char *Name = nullptr;
        if (Dictionary_GetTypeByKey(Handle->Definition, "store", &Type) && Type == DICTIONARY_TYPE_LIST) {
            Dictionary *Names = nullptr;
            Dictionary_GetListByKey(Handle->Definition, "store", &Names);
            DictionaryItem *Item = nullptr;
            for (Dictionary_ItemGetFirst(Names, &Item); Item != nullptr; Dictionary_ItemGetNext(Names, Item, &Item))
                if (Dictionary_ItemCompareType(Names, Item, DICTIONARY_TYPE_STRING) &&
                    Dictionary_ItemGetStringPtr(Names, Item, &Name))
                    Task_AddCertStoreByName(Handle, Name);
        } else if (Type == DICTIONARY_TYPE_STRING && Dictionary_GetStringPtrByKey(Handle->Definition, "store", &Name))
            Task_AddCertStoreByName(Handle, Name);
        else
            Task_AddCertStoreByName(Handle, Handle->DefaultCertStore);
    }
    *List = Handle->CertStores;
    return TRUE;
}

int32 Task_SetExpandStringCallback(Task *Handle, void *User, Task_ExpandStringFunc Function) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    CallbackBase_Set(&Handle->ExpandString, User, Function);
    return TRUE;
}

int32 Task_GetExpandStringCallback(Task *Handle, void **User, Task_ExpandStringFunc *Function) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Task_ExpandStringFunc Found = nullptr;
    void *FoundUser = nullptr;
    CallbackBase_Get(&Handle->ExpandString, &FoundUser, &Found);
    if (User != nullptr) *User = FoundUser;
    if (Function != nullptr) *Function = Found;
    return Found != nullptr;
}

int32 Task_SetAuthenticateCallback(Task *Handle, void *User, Task_AuthenticateFunc Function) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    CallbackBase_Set(&Handle->Authenticate, User, Function);
    return TRUE;
}

int32 Task_IsAuthenticationRequired(Task *Handle) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    void *User = nullptr;
    Task_AuthenticateFunc Function = nullptr;
    CallbackBase_Get(&Handle->Authenticate, &User, &Function);
    return Function != nullptr ? Function(User, Handle) : TRUE;
}

namespace {

// The default decision for a fetch of Url (null: the task fetches no URL).
int32 DefaultDecision(Task *Handle, const char *Url) {
    bool HasAuthenticate = Task_HasArgument(Handle, "authenticate") != 0;
    int32 Flag = HasAuthenticate && AuthenticateWaived(Handle) ? FALSE : TRUE;
    int32 Required = Flag;
    if (Url != nullptr) {
        char Fixed[4096], Final[4096];
        if (!URL_FixPath(Url, 0, Fixed, (int32)sizeof(Fixed))) String_CopyLength(Fixed, Url, (int32)sizeof(Fixed));
        // The client fetches the URL its redirect rules make of this one,
        // sent as the rules wrote it: that is the document judged.
        bool Redirected = WebGet_RedirectApply(Fixed, Final, (int32)sizeof(Final)) != 0;
        if (!Redirected) String_CopyLength(Final, Fixed, (int32)sizeof(Final));
        bool Resolved = !Redirected || (URL_FixPath(Final, 0, Fixed, (int32)sizeof(Fixed)) && strcmp(Fixed, Final) == 0);
        if (URL_CompareProtocol(Final, "https")) Required = FALSE;
        if (Resolved && BesideContent(Final) && WebGet_Authorize(Final)) Required = FALSE;
    }
    if (!Authenticate_Enabled()) return FALSE;
    if (Task_HasArgument(Handle, "store")) return TRUE;
    return Required;
}

} // namespace

int32 Task_IsAuthenticationRequiredFor(Task *Handle, const char *Url) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Url);
    void *User = nullptr;
    Task_AuthenticateFunc Function = nullptr;
    CallbackBase_Get(&Handle->Authenticate, &User, &Function);
    if (Function == Task_DefaultAuthenticateCallback) return DefaultDecision(Handle, Url);
    return Function != nullptr ? Function(User, Handle) : TRUE;
}

int32 Task_DefaultAuthenticateCallback(void *, Task *Handle) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    if (!Task_HasArgument(Handle, "url")) return DefaultDecision(Handle, nullptr);
    char Url[4096];
    Task_GetStringArgument(Handle, "url", Url, (int32)sizeof(Url));
    return DefaultDecision(Handle, Url);
}

int32 Task_VerboseLog(Task *Handle, int32 Level, const char *Format, ...) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    if (!Task_IsVerboseLevel(Handle, Level)) return FALSE;
    va_list Arguments;
    va_start(Arguments, Format);
    int32 Result = Task_VPrint(Handle, 0, Format, Arguments);
    va_end(Arguments);
    return Result;
}

// ---- Arguments ----

int32 Task_HasArgument(Task *Handle, const char *Name) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Name);
    return FindArgument(Handle, Name) != nullptr;
}

int32 Task_GetArgumentPtr(Task *Handle, const char *Name, const char **Text) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Text);
    *Text = nullptr;
    DictionaryItem *Item = FindArgument(Handle, Name);
    return Item != nullptr && !Dictionary_ItemIsContainer(Handle->Definition, Item) &&
           Dictionary_ItemGetBufferPtr(Handle->Definition, Item, Text, nullptr) && *Text != nullptr;
}

int32 Task_GetArgumentType(Task *Handle, const char *Name, int32 *Type) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Type);
    return Dictionary_GetTypeByKey(Handle->Definition, Name, Type);
}

int32 Task_GetStringArgument(Task *Handle, const char *Name, char *Buffer, int32 Size) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Buffer);
    if (Size > 0) Buffer[0] = 0;
    DictionaryItem *Item = FindArgument(Handle, Name);
    if (Item == nullptr || Dictionary_ItemIsContainer(Handle->Definition, Item)) return FALSE;
    return ReadExpanded(Handle, Name, Item, Buffer, Size);
}

int32 Task_IsArgumentRefused(Task *Handle) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    return Handle->RefusedArgument != 0;
}

int32 Task_GetMultiStringArgument(Task *Handle, const char *Name, char *Buffer, int32 Size) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Buffer);
    if (Size > 0) Buffer[0] = 0;
    DictionaryItem *Item = FindArgument(Handle, Name);
    if (Item == nullptr) return FALSE;
    if (!Dictionary_ItemCompareType(Handle->Definition, Item, DICTIONARY_TYPE_LIST))
        return Task_GetStringArgument(Handle, Name, Buffer, Size);
    Dictionary *List = nullptr;
    Dictionary_ItemGetDictionaryHandle(Handle->Definition, Item, &List);
    DictionaryItem *Element = nullptr;
    char What[ScalarArgumentSize];
    String_Print(What, (int32)sizeof(What), "an element of \"%s\"", Name);
    size_t Used = 0;
    for (Dictionary_ItemGetFirst(List, &Element); Element != nullptr; Dictionary_ItemGetNext(List, Element, &Element)) {
        const char *Text = nullptr;
        int32 Length = 0;
        if (!Dictionary_ItemGetStringPtr(List, Element, &Text) || Text == nullptr ||
            !Dictionary_ItemGetBufferPtr(List, Element, &Text, &Length))
            continue;
        char Value[ListElementSize];
        if (!TaskInt_ReadText(Handle, What, Text, Length, Value, (int32)sizeof(Value))) return Buffer[0] = 0, FALSE;
        // The quoted list must fit whole: a cut one would hand on other items.
        size_t Adding = strlen(Value) + 3;
        if (Used + Adding >= (size_t)Size) {
            char Why[96];
            String_Print(Why, (int32)sizeof(Why), "does not fit its limit of %d bytes as a quoted list", Size - 1);
            return Buffer[0] = 0, RefuseText(Handle, Name, Why, true), FALSE;
        }
        String_Print(Buffer + Used, Size - (int32)Used, "\"%s\" ", Value);
        Used += Adding;
    }
    return TRUE;
}

int32 Task_GetBooleanArgument(Task *Handle, const char *Name, uint32 *Flag) {
    return TaskInt_ReadBoolean(Handle, Name, Flag, true);
}

int32 TaskInt_ReadBoolean(Task *Handle, const char *Name, uint32 *Flag, bool Refuse) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Flag);
    *Flag = 0;
    DictionaryItem *Item = FindArgument(Handle, Name);
    if (Item == nullptr) return FALSE;
    char Text[ScalarArgumentSize];
    if (ReadExpanded(Handle, Name, Item, Text, (int32)sizeof(Text), Refuse)) *Flag = DecodeBoolean(Text) ? 1 : 0;
    return TRUE;
}

int32 Task_GetNumberArgument(Task *Handle, const char *Name, float64 *Number) {
    return TaskInt_ReadNumber(Handle, Name, Number, true);
}

int32 TaskInt_ReadNumber(Task *Handle, const char *Name, float64 *Number, bool Refuse) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Number);
    *Number = 0;
    DictionaryItem *Item = FindArgument(Handle, Name);
    int32 Type = DICTIONARY_TYPE_UNKNOWN;
    if (Item == nullptr || !Dictionary_ItemGetType(Handle->Definition, Item, &Type) || Type == DICTIONARY_TYPE_NULL)
        return FALSE;
    // A value stored as a number is that number, whatever text it was
    // written as (2.5e2, 1e10).
    float64 Value = 0;
    char Text[ScalarArgumentSize] = "";
    const bool Container = Dictionary_ItemIsContainer(Handle->Definition, Item) != 0;
    bool Read = false;
    if (Type == DICTIONARY_TYPE_INT64 || Type == DICTIONARY_TYPE_FLOAT64)
        Read = Dictionary_ItemGetFloat64(Handle->Definition, Item, &Value) != 0;
    else if (!Container && !ReadExpanded(Handle, Name, Item, Text, (int32)sizeof(Text), Refuse))
        return FALSE; // it does not fit, or holds a NUL (refused when asked to)
    else if (!Container)
        Read = ReadNumberText(Text, &Value);
    if (!Refuse) {
        *Number = Read && isfinite(Value) ? Value : 0;
        return Read && isfinite(Value);
    }
    // A value that is no number, or no finite one, is refused rather than
    // read as 0 or skipped: it may decide an outcome (an exit code, a wait,
    // a comparison, a limit).
    if (!Read || !isfinite(Value)) {
        char Why[ScalarArgumentSize + 64];
        String_Print(Why, (int32)sizeof(Why), "is not a finite number (%s)",
                     Text[0] != 0 ? Text : Read ? "an infinity or NaN" : Container ? "a list or object" : "a word");
        return RefuseText(Handle, Name, Why, true), FALSE;
    }
    *Number = Value;
    return TRUE;
}

bool TaskInt_ReadText(Task *Handle, const char *What, const char *Stored, int32 Length, char *Buffer, int32 Size,
                      bool Expand) {
    return ReadText(Handle, What, false, Stored, Length, Buffer, Size, Expand);
}

namespace {

bool ReadText(Task *Handle, const char *What, bool Quote, const char *Stored, int32 Length, char *Buffer, int32 Size,
              bool Expand, bool Refuse) {
    if (Size <= 0) return false;
    Buffer[0] = 0;
    auto No = [&](const char *Why) { return Refuse ? RefuseText(Handle, What, Why, Quote) : false; };
    const int32 Limit = Size - 1;
    char Why[128];
    if (Length < 0 || strnlen(Stored, (size_t)Length) != (size_t)Length)
        return No("holds a NUL byte");
    if (Length > Limit) {
        String_Print(Why, (int32)sizeof(Why), "is %d bytes, past its limit of %d", Length, Limit);
        return No(Why);
    }
    if (!Expand || memchr(Stored, '{', (size_t)Length) == nullptr) {
        memcpy(Buffer, Stored, (size_t)Length);
        Buffer[Length] = 0;
        return true;
    }
    // Expansion works in a buffer of its own size and cuts there: a value
    // that reaches that size may have been cut, and is refused as well.
    constexpr int32 WorkSize = STRING_EXPAND_WORK_SIZE;
    const int32 Room = Limit < WorkSize - 2 ? Limit : WorkSize - 2;
    if (Length > Room) {
        String_Print(Why, (int32)sizeof(Why), "is %d bytes, past its limit of %d", Length, Room);
        return No(Why);
    }
    MemoryScope<char> Work(WorkSize);
    memcpy(Work.Get(), Stored, (size_t)Length);
    Work.Get()[Length] = 0;
    const bool RefusedBefore = Handle->RefusedArgument != 0;
    Task_ExpandString(Handle, Work.Get(), WorkSize);
    // A macro met on the way held a NUL or did not fit: refused there.
    if (!RefusedBefore && Handle->RefusedArgument) return false;
    size_t Expanded = strlen(Work.Get());
    if (Expanded > (size_t)Room) {
        String_Print(Why, (int32)sizeof(Why), "is %d bytes once expanded, past its limit of %d", (int32)Expanded, Room);
        return No(Why);
    }
    memcpy(Buffer, Work.Get(), Expanded + 1);
    return true;
}

} // namespace

int32 Task_DecodeJSON(Task *Handle, const char *Text, Dictionary *Target) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Text);
    Debug_CheckPointer(Target);
    Dictionary *Parsed = nullptr;
    Dictionary_Create(&Parsed);
    JSON *Reader = nullptr;
    JSON_Create(&Reader);
    JSON_SetDictionaryHandle(Reader, Parsed);
    int32 Loaded = JSON_LoadBuffer(Reader, Text, (int32)strlen(Text));
    JSON_Release(&Reader);
    if (Loaded) {
        Dictionary *Inner = Parsed;
        Dictionary_SkipRoot(Parsed, &Inner);
        Dictionary_Merge(Target, Inner, DICTIONARY_MERGE_OVERWRITE);
    }
    Dictionary_Release(&Parsed);
    return Loaded;
}

int32 Task_GetDictionaryArgument(Task *Handle, const char *Name, Dictionary *Target) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Target);
    // What the check made of the argument, when it made something of it.
    if (Dictionary *Checked = TaskInt_GetCheckedObject(Handle, Name); Checked != nullptr)
        return Dictionary_Merge(Target, Checked, DICTIONARY_MERGE_OVERWRITE);
    DictionaryItem *Item = FindArgument(Handle, Name);
    if (Item == nullptr) return FALSE;
    Dictionary *Child = nullptr;
    if (Dictionary_ItemCompareType(Handle->Definition, Item, DICTIONARY_TYPE_DICTIONARY)) {
        Dictionary_ItemGetDictionaryHandle(Handle->Definition, Item, &Child);
        return Dictionary_Merge(Target, Child, DICTIONARY_MERGE_OVERWRITE);
    }
    if (Dictionary_ItemCompareType(Handle->Definition, Item, DICTIONARY_TYPE_LIST)) {
        Dictionary_ItemGetDictionaryHandle(Handle->Definition, Item, &Child);
        Dictionary *List = nullptr;
        Dictionary_AddList(Target, nullptr, &List, nullptr);
        return Dictionary_Merge(List, Child, DICTIONARY_MERGE_OVERWRITE | DICTIONARY_MERGE_LISTS);
    }
    MemoryScope<char> Text(DictionaryArgumentSize);
    if (!Task_GetStringArgument(Handle, Name, Text.Get(), DictionaryArgumentSize)) return FALSE;
    return Task_DecodeJSON(Handle, Text.Get(), Target);
}

int32 Task_HasKeyValuePairs(Task *Handle) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    return Task_HasArgument(Handle, "keyValuePairs") ||
           (Task_HasArgument(Handle, "key") && Task_HasArgument(Handle, "value"));
}

int32 Task_EnumerateKeyValuePairs(Task *Handle, void *User, Task_KeyValueFunc Function) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Function);
    // The pairs as the check left them: values expanded.
    Dictionary *Pairs = TaskInt_GetCheckedObject(Handle, "keyValuePairs");
    int32 Count = 0;
    if (Pairs != nullptr && Dictionary_ItemGetCount(Pairs, &Count) && Count > 0) {
        int32 Handed = FALSE;
        DictionaryItem *Item = nullptr;
        for (Dictionary_ItemGetFirst(Pairs, &Item); Item != nullptr; Dictionary_ItemGetNext(Pairs, Item, &Item)) {
            const char *Key = nullptr;
            if (!Dictionary_ItemGetKeyPtr(Pairs, Item, &Key) || Key == nullptr) continue;
            char Expanded[ScalarArgumentSize];
            if (!TaskInt_ReadText(Handle, "a key of \"keyValuePairs\"", Key, (int32)strlen(Key), Expanded,
                                  (int32)sizeof(Expanded)))
                return FALSE;
            Handed = TRUE;
            if (!Function(User, Expanded, Pairs, Item)) break;
        }
        return Handed;
    }
    char Key[ScalarArgumentSize];
    DictionaryItem *Value = nullptr;
    // Kept by the check when it read otherwise than written; else as written.
    Dictionary *Holder = Handle->Checked;
    if (Holder == nullptr || !Dictionary_ItemFindByKey(Holder, "value", nullptr, &Value) || Value == nullptr)
        Dictionary_ItemFindByKey(Holder = Handle->Definition, "value", nullptr, &Value);
    if (Value == nullptr || Dictionary_ItemIsContainer(Holder, Value) ||
        !Task_GetStringArgument(Handle, "key", Key, (int32)sizeof(Key)))
        return FALSE;
    return Function(User, Key, Holder, Value) == 1;
}
