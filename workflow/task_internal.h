// The Task record, shared by the task modules of the engine (task*.cpp).
#pragma once

#include <atomic>
#include <deque>
#include <string>
#include <vector>

#include "runtime/callback.h"
#include "workflow/task.h"

typedef struct TaskRequest TaskRequest;
typedef struct TaskEvent TaskEvent;

// Inline room of the task's texts: most names are short (every type the
// engine registers has a name of at most 15 bytes), and a text that does not
// fit moves to a block of its documented size. The sizes keep the record at
// 384 bytes, in the allocator's 432-byte class with the guards.
constexpr int32 TaskNameInlineSize = 24;
constexpr int32 TaskTypeNameInlineSize = 16;
constexpr int32 TaskCertStoreInlineSize = 16;

struct Task {
    ClassStruct Class;
    ClassPrintStruct Print;
    const GlobalTaskVtblStruct *Vtbl;
    // The task keeps its own copy of its type record: the list that handed
    // the record out may drop it while events still hold the task. The
    // copy's Name is the task's own copy of the type name (SetText, task.cpp).
    const TaskInterface *Interface; // &InterfaceCopy, or null
    TaskInterface InterfaceCopy;
    const TaskInterface *InterfaceSource; // identity only, never read
    void *InterfaceHandle;

    // Name and DefaultCertStore point at their inline area or, for a text
    // too long for it, at a block of the full documented size (SetText, task.cpp).
    char *Name;
    char *DefaultCertStore;
    char NameInline[TaskNameInlineSize];
    char InterfaceNameInline[TaskTypeNameInlineSize];
    char DefaultCertStoreInline[TaskCertStoreInlineSize];
    uint8 Completing;
    // The monotonic clock starts at 0, so an end time of 0 cannot mean "running".
    uint8 Completed;
    uint8 DelayedCancelFired;
    uint8 StatusObserved;
    // A text argument was refused (too long, or holding a NUL): the task
    // type must not act on what it read (TaskInt_ReadText).
    uint8 RefusedArgument;
    // The completion steps ("success", "failure", "complete": bits 1, 2, 4)
    // the check refused or did not reach: a refused task runs the others.
    uint8 StepsRefused;
    // "ignoreError" is being read for an error: a refusal met on the way
    // (a macro in it) is not ignored, and asks nothing further.
    uint8 ReadingIgnore;
    uint32 Private;
    uint32 DelayedCancel;
    uint32 PageReferenceHeld; // the reference pages hold through the bridge
    uint32 Starts;            // Task_Start calls
    uint32 StartsTaken;       // of them, those the type's start handler took
    float64 StartTime;
    float64 EndTime;
    Dictionary *Definition;
    Dictionary *Status;
    Dictionary *Macros; // made on first use
    // The values the check before the start read, by argument name (made
    // by the check, task_arguments.cpp): the getters answer these.
    Dictionary *Checked;
    // The completion result while its "Task"/"Complete" fire runs: made for
    // that fire and changed by no one after it (task_complete.cpp).
    Dictionary *FinalResult;
    Workflow *Owner;
    CertStoreList *CertStores;
    // The document request (task_request.cpp), at most one.
    TaskRequest *Request;
    // Last: their 16-byte alignment leaves no hole there.
    CallbackStruct ExpandString;
    CallbackStruct Authenticate;
};

// The process's task budget (task.cpp): tasks made and not yet deleted,
// tasks running (from Task_Start to their completion, as long as they
// observe their own status), tasks started in its life, and the limits a
// sub-task is held to (the documented ones; tests lower them).
struct TaskBudget {
    std::atomic<int64> Live{0};
    std::atomic<int64> Running{0};
    std::atomic<int64> Started{0};
    int64 LiveLimit = TASK_LIVE_LIMIT;
    int64 RunningLimit = TASK_RUNNING_LIMIT;
    int64 StartLimit = TASK_START_LIMIT;
};
TaskBudget &TaskInt_Budget();
// What the copy of task Name's definition, with Arguments merged in, costs
// in the memory budget (0 for a task the workflow has not).
int64 TaskInt_DefinitionCost(Workflow *Flow, const char *Name, Dictionary *Arguments);
// Why a copy of Bytes is refused: "... share a memory budget of 256 MiB".
void TaskInt_BudgetWords(char *Why, int32 Size, int64 Bytes);
// Whether Identifier is one a depth or budget limit records: no
// "ignoreError" hides it, and a result that carries it fails whoever adopts
// it (task_status.cpp).
bool TaskInt_IsLimitError(const char *Identifier);
// The identifiers Task_AddErrorFromCode adds for an HTTP client code and
// sub-code, in order.
std::vector<std::string> TaskInt_ErrorsFromCode(int32 Code, int32 SubCode);
// Whether the "errors" list of Result holds such an identifier.
bool TaskInt_ResultHitLimit(Dictionary *Result);

// Task_AddWarning without the expansion of the text (task_status.cpp): for
// warnings about expansion itself.
void TaskInt_AddWarningText(Task *Handle, const char *Text);

// The task's own observer of its "Task"/"Status" (task_complete.cpp).
int32 TaskInt_StatusObserver(void *User, const char *Type, const char *Name, const char *Instance,
                             Dictionary *Info);
// Formats into 1,024 bytes and expands the task's macros.
void TaskInt_FormatExpanded(Task *Handle, char *Output, int32 Size, const char *Format, va_list Arguments);
// TaskEvent_Complete for a result that nobody changes any more: the event
// keeps a reference to it instead of a copy (task_event.cpp).
int32 TaskEventInt_CompleteWithFinalResult(TaskEvent *Handle, Dictionary *Result);
// Lets go the completion results kept for reuse (task_complete.cpp).
void TaskInt_ForgetCompletionResults(void);
// Ends the current round of events waiting for their completion: the
// application goes, and with it the notification center that served them.
void TaskEventInt_Forget(void);
// Lets go the state a sub-action's callback would have been handed, for a
// step that will never be delivered (task_complete.cpp).
void TaskInt_DropStep(Task_SubActionFunc Function, void *User);
// Lets go the one-key status changes kept for reuse (task_status.cpp).
void TaskInt_ForgetStatusChanges(void);
// Tells the observers of the task's status the errors and warnings added
// since they last heard (the completion does so before it is fired).
void TaskInt_FlushLists(Task *Handle);
// Frees what the task keeps of its lists (its delete).
void TaskInt_FreeLists(Task *Handle);
// True when the caller's reference is the only one left on the Dictionary:
// no queued fire and no observer holds it, so it may be written again.
inline bool TaskInt_HeldAlone(Dictionary *Handle) {
    return __atomic_load_n(&((ClassStruct *)Handle)->RefCount, __ATOMIC_ACQUIRE) <= 1;
}
// The parent task in the workflow's task list (null for none).
Task *TaskInt_GetParent(Task *Handle);
// The object the last check of the arguments made of Name (the members of an
// object as checked, texts expanded; what a JSON text parsed to), or null.
Dictionary *TaskInt_GetCheckedObject(Task *Handle, const char *Name);
// The texts of the list argument Name as the last check read them (expanded;
// its other elements left out), or null.
Dictionary *TaskInt_GetCheckedList(Task *Handle, const char *Name);
// Reads a stored text of Length bytes into Buffer (Size bytes), expanded
// unless Expand is false.
// A text that holds a NUL, or whose stored or expanded value does not fit in
// Size - 1 bytes, is refused rather than cut: the task gets
// "Task_Error_InvalidArg" and a line naming What and the limit, is marked
// (Task_IsArgumentRefused), and the result is false with Buffer empty.
bool TaskInt_ReadText(Task *Handle, const char *What, const char *Stored, int32 Length, char *Buffer, int32 Size,
                      bool Expand = true);
// Refuses an argument: the task gets one error, "Task_Error_InvalidArg: <What>
// of task "<name>" <Why>" (which "ignoreError" treats as that identifier),
// its log the same words, and is marked (Task_IsArgumentRefused).
void TaskInt_RefuseArgument(Task *Handle, const char *What, const char *Why);
// Task_GetNumberArgument, which refuses what is no finite number as it
// refuses a text that does not fit; without Refuse such a value only
// answers 0 (for readers that decide nothing, such as a page's script).
int32 TaskInt_ReadNumber(Task *Handle, const char *Name, float64 *Number, bool Refuse);
// Task_GetBooleanArgument; without Refuse a text that cannot be read is false
// and adds no error (the error check reads "ignoreError": refusing it there
// would add an error, which reads it again).
int32 TaskInt_ReadBoolean(Task *Handle, const char *Name, uint32 *Flag, bool Refuse);
// Whether a number written as Text, read as 0, was written with digits
// before its exponent (1e-400): too small to be told from 0, not 0.
bool TaskInt_IsTooSmall(const char *Text);
// A decimal number as a document writes it ("-", digits with at most one
// ".", an optional exponent); the empty text counts as 0. False for any
// other text (words, hex, "nan").
bool TaskInt_ReadNumberText(const char *Text, float64 *Number);

// Dictionaries of two items (an event's payload, a completion's result) of
// ended events, kept for the ones to come: making a root of two items and
// freeing it again cost about as much as the rest of an event. One is handed
// out again only once nobody else holds it, and only while it still holds
// just its two keys, in order, of their type; they come free in the order
// they were kept. They live on the notification center's thread, and are
// kept only while the application lives: its end lets them go (task_event.cpp).
class TaskKeptPairs {
public:
    TaskKeptPairs(const char *FirstKey, const char *SecondKey, int32 Type)
        : FirstKey(FirstKey), SecondKey(SecondKey), Type(Type) {}
    // {first key: First, second key: Second}, kept or new: Strings or
    // Booleans, as the pair was made for.
    Dictionary *Make(const char *First, const char *Second) { return MakeOf(First, Second); }
    Dictionary *Make(uint32 First, uint32 Second) { return MakeOf(First, Second); }
    // Keeps *Handle (and clears it), or releases it when it no longer holds
    // two items, enough are kept or the application has gone.
    void Keep(Dictionary **Handle);
    void Forget();

private:
    // A kept Dictionary and its two items, or null; one that no longer
    // holds just the two is let go on the way.
    Dictionary *Take(DictionaryItem **First, DictionaryItem **Second);
    template <typename Value> Dictionary *MakeOf(Value First, Value Second);
    bool IsPairItem(Dictionary *Handle, DictionaryItem *Item, const char *Key) const;
    std::deque<Dictionary *> Spare;
    const char *FirstKey;
    const char *SecondKey;
    int32 Type;
};
