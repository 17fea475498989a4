// What the manager tracks around its queue: availability of state tasks,
// dependencies between workflows, the relay of task events, run tracking,
// overall progress and the status notification.
#include <string.h>

#include <algorithm>
#include <string>
#include <unordered_set>
#include <vector>

#include "runtime/class.h"
#include "runtime/containers/dictionary_pack.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/notification/notification_center.h"
#include "runtime/notification/notification_names.h"
#include "runtime/text/string.h"
#include "runtime/time.h"
#include "workflow/workflow_manager_internal.h"
#include "workflow/workflow_run.h"

namespace {

constexpr float64 RecordLifetime = 30.0;
constexpr int32 IdSize = 40;
constexpr uint32 RecordChunk = 5;
const char *const SteeringErrors[] = {"Application_NotInstalled", "Application_RepairRequired",
                                      "Application_UpdateRequired"};

WorkflowManager *M() { return GlobalWorkflowManager; }

bool IsSteering(const char *Text) {
    for (const char *Each : SteeringErrors)
        if (String_Compare(Each, Text)) return true;
    return false;
}

void RemoveSteering(Dictionary *Record) {
    Dictionary *Errors = nullptr;
    if (!Dictionary_GetListByKey(Record, "errors", &Errors) || Errors == nullptr) return;
    for (const char *Each : SteeringErrors)
        while (Dictionary_RemoveByString(Errors, Each)) {
        }
}

Dictionary *AvailableList(const char *WorkflowId, bool Create) {
    Dictionary *List = nullptr;
    if (Dictionary_GetListByKey(M()->Available, WorkflowId, &List) && List != nullptr) return List;
    if (!Create) return nullptr;
    Dictionary_EnsureList(M()->Available, WorkflowId, nullptr, &List);
    return List;
}

bool ListHas(Dictionary *List, const char *Name) { return List != nullptr && Dictionary_ContainsString(List, Name); }

// ---- Task events ----

// The relayed events, in the order of the bits of TaskEventRecord::Fired.
enum RelayedEvent : uint32 { EventStart, EventStatus, EventComplete, EventError, EventWarning, EventCount };
const char *const EventNames[] = {"Start", "Status", "Complete", "Error", "Warning"};
// The names the manager relays them under, measured and placed in the
// center's name counts once: the relay asks whether they are observed, and
// fires them, for every task.
const NotificationConstNames RelayedConstNames[] = {
    NotificationCenter_ConstNames("WorkflowManager", "TaskStart"),
    NotificationCenter_ConstNames("WorkflowManager", "TaskStatus"),
    NotificationCenter_ConstNames("WorkflowManager", "TaskComplete"),
    NotificationCenter_ConstNames("WorkflowManager", "TaskError"),
    NotificationCenter_ConstNames("WorkflowManager", "TaskWarning")};
// The relayed names with the manager's id as the instance.
NotificationFireNames RelayedFireNames(uint32 Event) { return RelayedConstNames[Event].Under(ManagerId()); }

bool RelayShortcuts = true;

Dictionary *MakeRecord();

using TaskEventEntry = TaskEventTable::Entry;

// The entry the last relay used. A task's events come in runs (a Queue's
// status reports follow one another), so most relays find their record
// without hashing the id. Entries stay where they are while the map grows;
// the entry is forgotten when it is erased and when the manager starts.
TaskEventEntry *LastEntry = nullptr;

// What a record in use holds of the process's memory before its payloads
// (measured: about 2 KB with a small status); a packed one, its bytes.
constexpr int64 LiveRecordCost = 2048;
constexpr int64 PackedRecordCost = (int64)sizeof(TaskEventEntry) + 64;
bool RecordRefusalSaid = false;

// The task's entry, made when it has none (*Known tells which); null when
// it has none and none is to be made.
TaskEventEntry *FindEntry(const char *TaskId, bool Create, bool *Known) {
    TaskEventEntry *Entry = RelayShortcuts ? LastEntry : nullptr;
    if (Entry == nullptr || strcmp(Entry->Id(), TaskId) != 0) Entry = M()->TaskEvents.Find(TaskId);
    *Known = Entry != nullptr;
    if (Entry == nullptr && Create) {
        // Anyone may fire a task's notifications under a sender of their
        // own (a page does), and a record without a completion never goes:
        // each is charged to the memory budget while it lives, and one the
        // budget cannot hold is not made.
        if (!MemoryBudget_Take(LiveRecordCost)) {
            if (!RecordRefusalSaid)
                Log_Warning("WorkflowManager - Task %s - events not kept: past the memory budget of %d MiB\n", TaskId,
                            (int32)(MemoryBudget_GetLimit() >> 20));
            RecordRefusalSaid = true;
            return nullptr;
        }
        Entry = M()->TaskEvents.Add(TaskId);
        Entry->Events.Record = MakeRecord();
        Entry->Events.Sequence = M()->TaskEventSequence++;
        Entry->Events.Charged = LiveRecordCost;
    }
    if (Entry != nullptr) LastEntry = Entry;
    return Entry;
}

// A task's record: a simple task's holds a dozen or so items in two
// containers and lives 30 s past the task, so its pools grow five records
// at a time, which leaves less of them unused than the default eight.
Dictionary *MakeRecord() {
    Dictionary *Record = nullptr;
    Dictionary_Create(&Record);
    Dictionary_SetPoolChunkSize(Record, RecordChunk);
    return Record;
}

// A completed task's record waits 30 s for a late event of its task, and a
// host that runs thousands of tasks holds thousands of them: it waits packed,
// in a tenth of the memory, and is unpacked for the event that needs it. The
// general steps (shortcuts off) keep every record as it is, for comparison.
void RestRecord(TaskEventRecord &Entry) {
    if (!RelayShortcuts || Entry.Expire == 0 || Entry.Record == nullptr) return;
    Entry.Packed.clear();
    if (!DictionaryPack_Write(Entry.Record, &Entry.Packed)) return;
    // Relayed notifications still waiting hold the record until delivered.
    Dictionary_Release(&Entry.Record);
    Entry.Status = nullptr;
    // All it holds is now in the packed bytes: what its payloads were
    // charged (each merge over the same keys again) comes back.
    const int64 Packed = PackedRecordCost + (int64)Entry.Packed.capacity();
    if (Packed < Entry.Charged) {
        MemoryBudget_Give(Entry.Charged - Packed);
        Entry.Charged = Packed;
        Entry.Definition = 0;
    }
}

Dictionary *RecordOf(TaskEventRecord &Entry) {
    if (Entry.Record == nullptr) {
        Entry.Record = MakeRecord();
        const int32 Unpacked = DictionaryPack_Read(Entry.Record, Entry.Packed);
        Debug_Assert(Unpacked, "WorkflowManager - Packed record of %zu bytes broken\n", Entry.Packed.size());
        std::string().swap(Entry.Packed);
    }
    return Entry.Record;
}

// The record to change. Relayed notifications deliver the record itself
// (copying a Queue's record, which holds its whole definition, for each of
// its events made the run quadratic in its actions); while one still waits
// for delivery, the record is copied first, so that it delivers what it held
// at its fire. A fire that nobody observes is let be.
Dictionary *WritableRecord(TaskEventRecord &Entry) {
    RecordOf(Entry);
    if (__atomic_load_n(&((ClassStruct *)Entry.Record)->RefCount, __ATOMIC_ACQUIRE) <= 1) {
        Entry.Fired = 0;
        return Entry.Record;
    }
    bool Observed = false;
    for (uint32 Index = 0; Index < EventCount && !Observed; Index++)
        Observed = (Entry.Fired & (1u << Index)) &&
                   NotificationCenter_IsObservedNames(RelayedFireNames(Index));
    if (!Observed) return Entry.Record;
    Entry.Fired = 0;
    Dictionary *Copy = MakeRecord();
    Dictionary_Merge(Copy, Entry.Record, DICTIONARY_MERGE_OVERWRITE);
    Dictionary_Release(&Entry.Record);
    Entry.Record = Copy;
    Entry.Status = nullptr;
    return Copy;
}

// What a payload's top level may hold of the keys the relay treats apart.
// A key found absent is absent for every by-key look-up (a look-up only
// matches a stored key of the same letters, whatever the case rule); one
// that may be there is read by its look-up. Large payloads, which the
// Dictionary may index, and the general steps are not scanned.
struct PayloadKeys {
    bool Workflow, IsRemote, Errors, Message, Status, Task;
};

constexpr int32 ScannedItems = 16;

// Key equals Word (lower case letters) under ASCII case folding.
bool FoldedEquals(const char *Key, const char *Word) {
    for (; *Word != 0; Key++, Word++)
        if ((*Key | 0x20) != *Word) return false;
    return *Key == 0;
}

// Notes one key of a payload's top level among the keys the relay treats apart.
int32 NoteKey(void *User, const char *Key) {
    PayloadKeys &Keys = *static_cast<PayloadKeys *>(User);
    switch (*Key | 0x20) {
        case 'w': Keys.Workflow = Keys.Workflow || FoldedEquals(Key, "workflow"); break;
        case 'i': Keys.IsRemote = Keys.IsRemote || FoldedEquals(Key, "isremote"); break;
        case 'e': Keys.Errors = Keys.Errors || FoldedEquals(Key, "errors"); break;
        case 'm': Keys.Message = Keys.Message || FoldedEquals(Key, "message"); break;
        case 's': Keys.Status = Keys.Status || FoldedEquals(Key, "status"); break;
        case 't': Keys.Task = Keys.Task || FoldedEquals(Key, "task"); break;
        default: break;
    }
    return 1;
}

PayloadKeys ScanKeys(Dictionary *Source) {
    PayloadKeys Keys = {true, true, true, true, true, true};
    int32 Count = 0;
    if (!RelayShortcuts || Source == nullptr || !Dictionary_ItemGetCount(Source, &Count) || Count > ScannedItems)
        return Keys;
    Keys = {false, false, false, false, false, false};
    Dictionary_EnumerateKey(Source, &Keys, NoteKey);
    return Keys;
}

// The container a start notice holds under the task's name: the copy of
// the task's definition (Task_Start). Null when there is none.
DictionaryItem *DefinitionItem(Dictionary *Handle, const char *Key) {
    DictionaryItem *Item = nullptr;
    if (Key == nullptr || String_Compare(Key, "status") || !Dictionary_ItemFindByKey(Handle, Key, nullptr, &Item) ||
        Item == nullptr || !Dictionary_ItemIsContainer(Handle, Item))
        return nullptr;
    return Item;
}

// Source's top-level items but Skip, in a new record: made without ever
// copying what Skip holds.
Dictionary *CopyWithout(Dictionary *Source, DictionaryItem *Skip) {
    Dictionary *Copy = MakeRecord();
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(Source, &Item); Item != nullptr; Dictionary_ItemGetNext(Source, Item, &Item))
        if (Item != Skip) Dictionary_MergeItem(Copy, Source, Item, DICTIONARY_MERGE_OVERWRITE);
    return Copy;
}

// A completed task's record keeps what its late events and their observers
// read (its name, type, workflow, title, status and outcome), not the copy
// of its definition: only the relays up to its completion carry that. Else
// every task finished in the last 30 s would hold a copy of its definition.
void DropDefinition(TaskEventRecord &Entry) {
    if (Entry.DefinitionKey.empty()) return;
    Dictionary *Record = RecordOf(Entry);
    if (DictionaryItem *Item = DefinitionItem(Record, Entry.DefinitionKey.c_str())) {
        // Relayed notifications still waiting keep the record they were fired with.
        if (__atomic_load_n(&((ClassStruct *)Record)->RefCount, __ATOMIC_ACQUIRE) <= 1) {
            Dictionary_Remove(Record, &Item);
        } else {
            Dictionary *Copy = CopyWithout(Record, Item);
            Dictionary_Release(&Entry.Record);
            Entry.Record = Copy;
            Entry.Status = nullptr;
            Entry.Fired = 0;
        }
    }
    MemoryBudget_Give(Entry.Definition);
    Entry.Charged -= Entry.Definition;
    Entry.Definition = 0;
    std::string().swap(Entry.DefinitionKey);
}

int32 Relay(RelayedEvent Event, const char *TaskId, Dictionary *Info) {
    if (TaskId == nullptr) return TRUE;
    bool IsError = Event == EventError, IsWarning = Event == EventWarning;
    bool Known = false;
    TaskEventEntry *Found = FindEntry(TaskId, !IsError, &Known);
    if (Found == nullptr) return TRUE;
    if (IsError) {
        const char *Message = nullptr;
        if (!Known) return TRUE;
        Dictionary *Kept = RecordOf(Found->Events);
        if (!Dictionary_ContainsKey(Kept, "workflow") || !Dictionary_ContainsKey(Kept, "name") ||
            (Info != nullptr && Dictionary_GetStringPtrByKey(Info, "message", &Message) && Message != nullptr &&
             IsSteering(Message))) {
            RestRecord(Found->Events);
            return TRUE;
        }
    }
    TaskEventRecord &Entry = Found->Events;
    Dictionary *Record = WritableRecord(Entry);
    Dictionary *Target = Record;
    const bool Nested = Event == EventStatus || IsError || IsWarning;
    if (Nested && RelayShortcuts && Entry.Status != nullptr) {
        Target = Entry.Status;
    } else if (Nested) {
        Dictionary_EnsureDictionary(Record, "status", nullptr, &Target);
        Entry.Status = RelayShortcuts ? Target : nullptr;
    }
    const PayloadKeys Keys = ScanKeys(Info);
    // A working copy only for a payload that loses an entry the target may
    // hold for another reason ("message" of an error or warning under
    // "status"), or that is not a tree of its own apart from the record (an
    // observer may fire a relayed record on). The rest merge as they came
    // and are mended in the target: "isRemote" never stays in a record.
    Dictionary *Payload = nullptr;
    Dictionary *Above = nullptr;
    DictionaryItem *AboveItem = nullptr;
    if (Info != nullptr && (Info == Record || Info == Target || Dictionary_GetParent(Info, &Above, &AboveItem) ||
                            ((IsError || IsWarning) && Keys.Message && Dictionary_ContainsKey(Info, "message")))) {
        Dictionary_Create(&Payload);
        Dictionary_Merge(Payload, Info, DICTIONARY_MERGE_OVERWRITE);
        Dictionary_RemoveByKey(Payload, "isRemote");
        if (IsError || IsWarning) Dictionary_RemoveByKey(Payload, "message");
    }
    Dictionary *Source = Payload != nullptr ? Payload : Info;
    // A payload is charged to the memory budget while the record keeps it
    // (a Macro's status of a whole document's pairs, or one item holding a
    // list a page fired); one the budget cannot hold is not kept, and a line
    // says so (once: a page can fire them without end). A status merged
    // again over its own keys is charged again while the task runs: the
    // charge errs high, never low, until measured anew.
    int32 Items = 0;
    if (Source != nullptr && Dictionary_ItemGetCount(Source, &Items) && (Items > ScannedItems || Event != EventStart)) {
        int64 Cost = 0;
        Dictionary_GetCost(Source, &Cost);
        if (MemoryBudget_Take(Cost)) {
            Entry.Charged += Cost;
        } else {
            if (!RecordRefusalSaid)
                Log_Warning("WorkflowManager - Task %s - %s of %d items (%lld KiB) not kept: past the memory budget of "
                            "%d MiB\n",
                            TaskId, EventNames[Event], Items, (long long)(Cost >> 10),
                            (int32)(MemoryBudget_GetLimit() >> 20));
            RecordRefusalSaid = true;
            Source = nullptr;
        }
    } else if (Event == EventStart && Source != nullptr) {
        // A start notice is charged while the record keeps it; the copy of
        // the definition it brings only until the task completes. One the
        // budget cannot hold is kept without that copy, or not at all.
        const char *Name = nullptr;
        Dictionary_GetStringPtrByKey(Source, "name", &Name);
        DictionaryItem *Definition = DefinitionItem(Source, Name);
        int64 Cost = 0;
        Dictionary_GetCost(Source, &Cost);
        if (MemoryBudget_Take(Cost)) {
            Entry.Charged += Cost;
            if (Definition != nullptr) {
                // A start again replaces the copy the record held.
                MemoryBudget_Give(Entry.Definition);
                Entry.Charged -= Entry.Definition;
                Entry.Definition = Cost;
                Entry.DefinitionKey = Name;
            }
        } else {
            Log_Warning("WorkflowManager - Task %s - Start of %lld KiB %s: past the memory budget of %d MiB\n",
                        TaskId, (long long)(Cost >> 10),
                        Definition != nullptr ? "kept without its definition" : "not kept",
                        (int32)(MemoryBudget_GetLimit() >> 20));
            Dictionary *Rest = Definition != nullptr ? CopyWithout(Source, Definition) : nullptr;
            if (Payload != nullptr) Dictionary_Release(&Payload);
            Payload = Rest;
            if (Payload != nullptr) Dictionary_RemoveByKey(Payload, "isRemote");
            Source = Payload;
        }
    }
    const char *Flow = nullptr;
    char Local[IdSize], Remote[IdSize];
    Local[0] = Remote[0] = 0;
    bool Named =
        Source != nullptr && Keys.Workflow && Dictionary_GetStringPtrByKey(Source, "workflow", &Flow) && Flow != nullptr;
    if (Named) {
        // The task's own workflow here; a workflow named by a payload from
        // the other process is kept as the remote one. The record's is read
        // before the merge replaces it.
        String_CopyLength(Local, Flow, (int32)sizeof(Local));
        const char *Known2 = nullptr;
        if (Dictionary_GetStringPtrByKey(Record, "workflow", &Known2) && Known2 != nullptr && Known2[0] != 0 &&
            !String_Compare(Known2, Local)) {
            String_CopyLength(Remote, Local, (int32)sizeof(Remote));
            String_CopyLength(Local, Known2, (int32)sizeof(Local));
        }
    }
    if (Source != nullptr) {
        Dictionary_Merge(Target, Source, DICTIONARY_MERGE_OVERWRITE);
        if (Payload == nullptr && Keys.IsRemote && Dictionary_ContainsKey(Source, "isRemote"))
            Dictionary_RemoveByKey(Target, "isRemote");
        // A "status" merged at the top may have replaced the sub-dictionary
        // and brought errors of its own.
        if (!Nested && Keys.Status) {
            Entry.Status = nullptr;
            Entry.StatusClean = false;
            Entry.StatusTask = false;
        }
        if (Keys.Task) (Nested ? Entry.StatusTask : Entry.TopTask) = false;
    }
    if (Named) {
        if (Remote[0] != 0) Dictionary_SetStringByKey(Target, "remoteWorkflow", Remote);
        Dictionary_SetStringByKey(Target, "workflow", Local);
        // The task id stands where an earlier event set it, unless a payload
        // brought a "task" of its own since.
        bool &HasTask = Nested ? Entry.StatusTask : Entry.TopTask;
        if (!RelayShortcuts || !HasTask) Dictionary_SetStringByKey(Target, "task", TaskId);
        HasTask = RelayShortcuts;
    }
    // What a running task's record was charged for its payloads, reports
    // merged over the same keys again and again included, is measured
    // anew once it has grown by half since last measured (so each byte
    // merged is measured a bounded number of times).
    if (Entry.Charged > Entry.Measured + Entry.Measured / 2 + LiveRecordCost) {
        int64 Cost = 0;
        Dictionary_GetCost(Record, &Cost);
        Cost += LiveRecordCost;
        if (Cost < Entry.Charged) {
            MemoryBudget_Give(Entry.Charged - Cost);
            Entry.Charged = Cost;
            Entry.Definition = std::min(Entry.Definition, Cost);
        }
        Entry.Measured = Entry.Charged;
    }
    // Only a merged "errors" list can hold the steering identifiers anew.
    if (!RelayShortcuts || Keys.Errors || (Nested && !Entry.StatusClean)) RemoveSteering(Target);
    if (Nested) Entry.StatusClean = true;
    if (Payload != nullptr) Dictionary_Release(&Payload);
    if (M()->Verbose == 1) {
        Log_Info("WorkflowManager - Task %s - %s\n", EventNames[Event], TaskId);
        Dictionary_Dump(Record);
    }
    int32 Tracked = 0;
    if (Event == EventStatus && Info != nullptr && Dictionary_ItemGetCount(M()->Progress, &Tracked) && Tracked > 0) {
        float64 Number = 0;
        const char *Owner = nullptr;
        bool Has = Dictionary_GetFloat64ByKey(Info, "aggregateProgress", &Number) ||
                   Dictionary_GetFloat64ByKey(Info, "overallProgress", &Number);
        if (Has && Dictionary_GetStringPtrByKey(Record, "workflow", &Owner) && Owner != nullptr &&
            Dictionary_ContainsKey(M()->Progress, Owner)) {
            Dictionary_SetFloat64ByKey(M()->Progress, Owner, Number);
            // The next step computes it, before the task's completion can
            // drop the entry with its last figure unpublished.
            M()->Dirty = TRUE;
        }
    }
    if (Event == EventComplete) {
        Entry.Expire = Time_GetCurrent() + RecordLifetime;
        Dictionary_SetFloat64ByKey(Record, "expireTime", Entry.Expire);
        M()->Expiring.emplace_back(Entry.Expire, Found);
        Found->Queued++;
    }
    Entry.Fired |= 1u << Event;
    NotificationCenter_FireAfterDelaySharedNames(RelayedFireNames(Event), 0, Record);
    if (Event == EventComplete) DropDefinition(Entry);
    RestRecord(Entry);
    return TRUE;
}

int32 OnTaskStart(void *, const char *, const char *, const char *I, Dictionary *Info) { return Relay(EventStart, I, Info); }
int32 OnTaskStatus(void *, const char *, const char *, const char *I, Dictionary *Info) {
    return Relay(EventStatus, I, Info);
}
int32 OnTaskComplete(void *, const char *, const char *, const char *I, Dictionary *Info) {
    return Relay(EventComplete, I, Info);
}
int32 OnTaskError(void *, const char *, const char *, const char *I, Dictionary *Info) { return Relay(EventError, I, Info); }
int32 OnTaskWarning(void *, const char *, const char *, const char *I, Dictionary *Info) {
    return Relay(EventWarning, I, Info);
}

bool ReadNameAndWorkflow(Dictionary *Info, const char **Name, const char **Flow) {
    return Info != nullptr && Dictionary_GetStringPtrByKey(Info, "name", Name) && *Name != nullptr &&
           Dictionary_GetStringPtrByKey(Info, "workflow", Flow) && *Flow != nullptr;
}

int32 OnEventStart(void *, const char *, const char *, const char *, Dictionary *Info) {
    const char *Name = nullptr, *Flow = nullptr;
    if (!ReadNameAndWorkflow(Info, &Name, &Flow)) return TRUE;
    return ManagerInt_OnEventStart(Flow, Name);
}

int32 OnEventComplete(void *, const char *, const char *, const char *, Dictionary *Info) {
    const char *Name = nullptr, *Flow = nullptr;
    uint32 Successful = 0;
    if (!NotificationCenter_IsOwnFire() || !ReadNameAndWorkflow(Info, &Name, &Flow)) return TRUE;
    Dictionary_GetBooleanByKey(Info, "successful", &Successful);
    std::string NameText = Name, FlowText = Flow;
    return ManagerInt_OnEventComplete(FlowText.c_str(), NameText.c_str(), Successful, Info);
}

int32 OnRun(void *, const char *, const char *, const char *, Dictionary *) {
    if (M()->StateInterval >= 1) M()->StateReference = Time_GetCurrent() + M()->StateInterval;
    return TRUE;
}

int32 OnRunStart(void *, const char *, const char *, const char *, Dictionary *Info) {
    uint32 Elevated = 0;
    const char *Flow = nullptr;
    if (Info == nullptr) return TRUE;
    if (Dictionary_GetBooleanByPath(Info, "arguments\\elevated", &Elevated) &&
        (Elevated != 0) != (WorkflowRun_IsElevated() != 0))
        return TRUE;
    if (!Dictionary_GetStringPtrByKey(Info, "workflow", &Flow) || Flow == nullptr) return TRUE;
    Workflow *Handle = ManagerInt_FindWorkflow(Flow);
    if (Handle == nullptr) return TRUE;
    if (std::find(M()->Loaded.begin(), M()->Loaded.end(), Handle) != M()->Loaded.end()) return TRUE;
    Workflow_AddRef(Handle);
    M()->Loaded.push_back(Handle);
    AvailableList(Flow, true);
    M()->Dirty = TRUE;
    return TRUE;
}

struct Observed {
    const char *Type;
    const char *Name;
    NotificationCenter_ObserverFunc Function;
};

const Observed Observers[] = {
    {"Task", "Start", OnTaskStart},          {"Task", "Status", OnTaskStatus},
    {"Task", "Complete", OnTaskComplete},    {"Task", "Error", OnTaskError},
    {"Task", "Warning", OnTaskWarning},      {"WorkflowEvent", "Start", OnEventStart},
    {"WorkflowEvent", "Complete", OnEventComplete}, {"WorkflowRun", "Run", OnRun},
    {"WorkflowRun", "RunStart", OnRunStart},
};

// ---- Availability after a completed event ----

struct Row {
    int8 Install, Uninstall, Update, Repair, Launch; // 1 = A, 0 = off, 2 = P (repair keeps update)
};

void ApplyRow(Workflow *Handle, const Row &Each) {
    static const char *const Names[] = {"install", "uninstall", "update", "repair", "launch"};
    const int8 Values[] = {Each.Install, Each.Uninstall, Each.Update, Each.Repair, Each.Launch};
    Dictionary *Previous = nullptr;
    Dictionary_GetListByKey(M()->Previous, WorkflowIdOf(Handle), &Previous);
    for (int32 Index = 0; Index < 5; Index++) {
        uint32 On = 0;
        if (Values[Index] == 1) On = Workflow_CanCreateTask(Handle, Names[Index]) ? 1 : 0;
        else if (Values[Index] == 2) On = ListHas(Previous, "update") && Workflow_CanCreateTask(Handle, "update");
        WorkflowManager_SetTaskAvailability(Handle, Names[Index], On);
    }
    WorkflowManager_SetTaskAvailability(Handle, "state", FALSE);
}

bool ErrorsHold(Dictionary *Errors, const char *Name) { return Errors != nullptr && Dictionary_ContainsString(Errors, Name); }

// ---- Dependencies ----

Workflow *WorkflowWithId(const char *Id) {
    DictionaryItem *Item = nullptr;
    Dictionary *Ids = M()->WorkflowIds;
    for (Dictionary_ItemGetFirst(Ids, &Item); Item != nullptr; Dictionary_ItemGetNext(Ids, Item, &Item)) {
        const char *Value = nullptr, *Flow = nullptr;
        if (Dictionary_ItemGetStringPtr(Ids, Item, &Value) && Value != nullptr && String_Compare(Value, Id) &&
            Dictionary_ItemGetKeyPtr(Ids, Item, &Flow))
            return ManagerInt_FindWorkflow(Flow);
    }
    return nullptr;
}

int32 ActOn(Workflow *Reached, int32 Mode, const char *Name, Workflow *From) {
    const char *Id = nullptr;
    Dictionary_GetStringPtrByKey(M()->WorkflowIds, WorkflowIdOf(Reached), &Id);
    if (Mode == 1 || Mode == 2) {
        Dictionary *List = AvailableList(WorkflowIdOf(Reached), false);
        if (!ListHas(List, Name)) return FALSE;
        Log_Info("WorkflowManager - Dependency - Queue - %s -  %s (%s)\n", Id != nullptr ? Id : "", WorkflowIdOf(Reached),
                 Name);
        ManagerInt_PushToQueue(Reached, Name, nullptr, M()->DependencyQueue);
        return TRUE;
    }
    (void)From;
    Log_Info("WorkflowManager - Failed Dependent - Queue - %s -  %s (%s)\n", Id != nullptr ? Id : "",
             WorkflowIdOf(Reached), Name);
    ManagerInt_RemoveEntries(M()->Queue, WorkflowIdOf(Reached));
    Dictionary_SetStringByKey(M()->Failed, WorkflowIdOf(Reached), Name);
    Workflow_AddError(Reached, "%s", "Task_Error_DependencyFailure");
    ManagerInt_UpdateAvailability(Reached, Name, FALSE, nullptr);
    return TRUE;
}

int32 Walk(Workflow *Handle, int32 Mode, const char *Name, std::vector<Workflow *> &Path) {
    const char *Id = nullptr;
    if (!Dictionary_GetStringPtrByKey(M()->WorkflowIds, WorkflowIdOf(Handle), &Id) || Id == nullptr) return FALSE;
    std::string Own = Id;
    Path.push_back(Handle);
    int32 Acted = FALSE;
    Dictionary *Entries = M()->Dependencies;
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(Entries, &Item); Item != nullptr; Dictionary_ItemGetNext(Entries, Item, &Item)) {
        const char *Key = nullptr, *Value = nullptr;
        Dictionary_ItemGetKeyPtr(Entries, Item, &Key);
        Dictionary_ItemGetStringPtr(Entries, Item, &Value);
        if (Key == nullptr || Value == nullptr) continue;
        const char *Next = nullptr;
        if ((Mode == 1 || Mode == 2) && Own == Key) Next = Value;
        else if ((Mode == 3 || Mode == 4) && Own == Value) Next = Key;
        if (Next == nullptr) continue;
        Workflow *Reached = WorkflowWithId(Next);
        // A cycle among the entries ends the walk where it closes.
        if (Reached == nullptr || std::find(Path.begin(), Path.end(), Reached) != Path.end()) continue;
        if (Mode == 1 || Mode == 4) Acted |= ActOn(Reached, Mode, Name, Handle);
        Acted |= Walk(Reached, Mode, Name, Path);
        if (Mode == 2 || Mode == 3) Acted |= ActOn(Reached, Mode, Name, Handle);
    }
    Path.pop_back();
    return Acted;
}

Dictionary *CopyInto(Dictionary *Status, const char *Key, Dictionary *Source) {
    Dictionary *Copy = nullptr;
    Dictionary_AddDictionary(Status, Key, &Copy, nullptr);
    if (Source != nullptr) Dictionary_Merge(Copy, Source, DICTIONARY_MERGE_OVERWRITE);
    return Copy;
}

void AddQueuedNames(Dictionary *Target, Dictionary *Queue) {
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(Queue, &Item); Item != nullptr; Dictionary_ItemGetNext(Queue, Item, &Item)) {
        const char *Flow = nullptr;
        Dictionary *Tasks = nullptr, *List = nullptr;
        if (!Dictionary_ItemGetKeyPtr(Queue, Item, &Flow) || Flow == nullptr ||
            !Dictionary_ItemGetDictionaryHandle(Queue, Item, &Tasks) || Tasks == nullptr)
            continue;
        Dictionary_EnsureList(Target, Flow, nullptr, &List);
        DictionaryItem *Task = nullptr;
        for (Dictionary_ItemGetFirst(Tasks, &Task); Task != nullptr; Dictionary_ItemGetNext(Tasks, Task, &Task)) {
            const char *Name = nullptr;
            if (Dictionary_ItemGetKeyPtr(Tasks, Task, &Name) && Name != nullptr) Dictionary_AddString(List, nullptr, Name, nullptr);
        }
    }
}

} // namespace

int32 ManagerInt_InitState(void) {
    LastEntry = nullptr;
    for (const Observed &Each : Observers) NotificationCenter_AddObserver(Each.Type, Each.Name, M(), Each.Function);
    return TRUE;
}

int32 ManagerInt_RemoveState(void) {
    LastEntry = nullptr;
    for (const Observed &Each : Observers) NotificationCenter_RemoveObserver(Each.Type, Each.Name, M(), Each.Function);
    return TRUE;
}

int32 ManagerInt_OnEventStart(const char *WorkflowId, const char *Name) {
    const char *Running = nullptr;
    if (Dictionary_GetStringPtrByKey(M()->Active, WorkflowId, &Running) && Running != nullptr &&
        String_CompareWithoutCase(Running, Name))
        NotificationCenter_FireAfterDelayWithJSON("Workflow", "Status", WorkflowId, 0, "{\"queued\":false}");
    Dictionary *Now = AvailableList(WorkflowId, false), *Before = nullptr;
    Dictionary_RemoveByKey(M()->Previous, WorkflowId);
    Dictionary_EnsureList(M()->Previous, WorkflowId, nullptr, &Before);
    if (Now != nullptr) {
        Dictionary_Merge(Before, Now, DICTIONARY_MERGE_OVERWRITE);
        Dictionary_Reset(Now);
        M()->Dirty = TRUE;
    }
    return TRUE;
}

int32 ManagerInt_OnEventComplete(const char *WorkflowId, const char *Name, uint32 Successful, Dictionary *Payload) {
    WorkflowManager *Manager = M();
    if (String_CompareWithoutCase(Name, "load") && ManagerInt_FindWorkflow(WorkflowId) != nullptr)
        Manager->LoadCompleted.insert(WorkflowId);
    const char *Running = nullptr;
    if (Dictionary_GetStringPtrByKey(Manager->Active, WorkflowId, &Running) && Running != nullptr) {
        int32 OthersBefore = ManagerInt_CountActive(false);
        bool IsState = String_CompareWithoutCase(Running, "state");
        int32 Limit = IsState ? Manager->MaximumActiveStateTasks : Manager->MaximumActiveTasks;
        if (String_CompareWithoutCase(Running, Name)) {
            Dictionary_RemoveByKey(Manager->Active, WorkflowId);
            if (ManagerInt_NameIn(Manager->ProgressTaskNames, Name)) {
                // The task's last figure is published before its entry goes,
                // even when its final report and its end share one pass.
                ManagerInt_ComputeProgress();
                if (Manager->Dirty) {
                    ManagerInt_PublishStatus();
                    Manager->Dirty = FALSE;
                }
                Dictionary_RemoveByKey(Manager->Progress, WorkflowId);
            }
            Manager->Dirty = TRUE;
            Log_Info("WorkflowManager - Task Queue - %s - Complete - %s (%d/%d)\n", WorkflowId, Name,
                     ManagerInt_CountActive(IsState), Limit);
        }
        int32 Queued = 0;
        Dictionary_ItemGetCount(Manager->Queue, &Queued);
        if (OthersBefore > 0 && ManagerInt_CountActive(false) == 0 && Queued == 0)
            NotificationCenter_Fire("WorkflowManager", "Deactivate", ManagerId(), nullptr);
    }
    Workflow *Flow = ManagerInt_FindWorkflow(WorkflowId);
    if (Flow != nullptr) ManagerInt_UpdateAvailability(Flow, Name, Successful, Payload);
    if (!ManagerInt_NameIn(Manager->QueueTaskNames, Name)) return TRUE;
    if (!Successful) {
        Dictionary_SetStringByKey(Manager->Failed, WorkflowId, Name);
        std::string Marked = std::string("!") + Name;
        if (Flow != nullptr && Manager->HardDependency &&
            (ManagerInt_NameIn(Manager->DependencyTaskNames, Name) ||
             ManagerInt_NameIn(Manager->DependencyTaskNames, Marked.c_str())))
            ManagerInt_WalkDependencies(Flow, 3, Name);
    } else {
        Dictionary_RemoveByKey(Manager->Failed, WorkflowId);
    }
    return TRUE;
}

int32 ManagerInt_UpdateAvailability(Workflow *Handle, const char *Name, uint32 Successful, Dictionary *Payload) {
    Dictionary *Errors = nullptr;
    if (Payload != nullptr) Dictionary_GetListByKey(Payload, "errors", &Errors);
    if (String_CompareWithoutCase(Name, "state")) {
        if (Successful) return ApplyRow(Handle, {0, 1, 0, 1, 1}), TRUE;
        if (Errors == nullptr) return TRUE;
        if (ErrorsHold(Errors, "Application_NotInstalled")) ApplyRow(Handle, {1, 0, 0, 0, 0});
        else if (ErrorsHold(Errors, "Application_RepairRequired")) ApplyRow(Handle, {0, 1, 0, 1, 0});
        else if (ErrorsHold(Errors, "Application_UpdateRequired")) ApplyRow(Handle, {0, 1, 1, 1, 0});
        else WorkflowManager_SetTaskAvailability(Handle, "state", TRUE);
        return TRUE;
    }
    struct Outcome {
        const char *Name;
        Row Success, Failure;
    };
    static const Outcome Table[] = {
        {"install", {0, 1, 0, 1, 1}, {1, 0, 0, 0, 0}}, {"uninstall", {1, 0, 0, 0, 0}, {0, 1, 0, 1, 0}},
        {"update", {0, 1, 0, 1, 1}, {0, 1, 1, 0, 0}},  {"repair", {0, 1, 2, 1, 1}, {0, 1, 2, 1, 0}},
        {"start", {0, 0, 0, 1, 1}, {0, 0, 0, 1, 0}},   {"launch", {0, 0, 0, 1, 1}, {0, 0, 0, 1, 1}},
    };
    for (const Outcome &Each : Table)
        if (String_CompareWithoutCase(Each.Name, Name)) ApplyRow(Handle, Successful ? Each.Success : Each.Failure);
    return TRUE;
}

int32 ManagerInt_WalkDependencies(Workflow *Handle, int32 Mode, const char *Name) {
    std::vector<Workflow *> Path;
    return Walk(Handle, Mode, Name, Path);
}

Workflow *ManagerInt_DependencyOf(Workflow *Handle) {
    const char *Id = nullptr, *Dependency = nullptr;
    if (!Dictionary_GetStringPtrByKey(M()->WorkflowIds, WorkflowIdOf(Handle), &Id) || Id == nullptr) return nullptr;
    if (!Dictionary_GetStringPtrByKey(M()->Dependencies, Id, &Dependency) || Dependency == nullptr) return nullptr;
    return WorkflowWithId(Dependency);
}

void ManagerInt_SetRelayShortcuts(uint32 On) {
    RelayShortcuts = On != 0;
    LastEntry = nullptr;
    if (M() == nullptr) return;
    M()->TaskEvents.ForEach([](TaskEventEntry &Each) {
        Each.Events.Status = nullptr;
        Each.Events.StatusClean = Each.Events.TopTask = Each.Events.StatusTask = false;
    });
}

int32 ManagerInt_ExpireTaskEvents(void) {
    // Lifetimes are equal, so completion order is expiry order; an entry a
    // later completion of the same task moved on is passed over.
    float64 Now = Time_GetCurrent();
    auto &Expiring = M()->Expiring;
    while (!Expiring.empty() && Expiring.front().first <= Now) {
        TaskEventEntry *Item = Expiring.front().second;
        if (--Item->Queued == 0 && Item->Events.Expire == Expiring.front().first) {
            if (LastEntry == Item) LastEntry = nullptr;
            if (Item->Events.Record != nullptr) Dictionary_Release(&Item->Events.Record);
            M()->TaskEvents.Erase(Item);
        }
        Expiring.pop_front();
    }
    return TRUE;
}

int32 ManagerInt_ComputeProgress(void) {
    Dictionary *Progress = M()->Progress;
    int32 Count = 0;
    Dictionary_ItemGetCount(Progress, &Count);
    float64 Result = -2.0, Sum = 0;
    if (Count > 0) {
        bool Negative = false;
        DictionaryItem *Item = nullptr;
        for (Dictionary_ItemGetFirst(Progress, &Item); Item != nullptr; Dictionary_ItemGetNext(Progress, Item, &Item)) {
            float64 Value = 0;
            Dictionary_ItemGetFloat64(Progress, Item, &Value);
            if (Value < 0) {
                Result = Value;
                Negative = true;
                break;
            }
            Sum += Value;
        }
        if (!Negative) Result = Sum > 0 ? Sum / Count : Sum;
    }
    int32 Percent = Result >= 0 ? (int32)(Result * 100.0) : (int32)Result;
    if (Percent != M()->LastProgress) {
        Log_Info("WorkflowManager - Overall Progress - %.02f (%d)\n", Result, Count);
        M()->LastProgress = Percent;
        M()->Dirty = TRUE;
    }
    return TRUE;
}

int32 ManagerInt_PublishStatus(void) {
    WorkflowManager *Manager = M();
    Dictionary *Status = nullptr, *Queued = nullptr, *Dependencies = nullptr;
    Dictionary_Create(&Status);
    Dictionary_SetInt32ByKey(Status, "progress", Manager->LastProgress);
    CopyInto(Status, "active", Manager->Active);
    CopyInto(Status, "available", Manager->Available);
    Dictionary_AddList(Status, "dependencies", &Dependencies, nullptr);
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(Manager->Dependencies, &Item); Item != nullptr;
         Dictionary_ItemGetNext(Manager->Dependencies, Item, &Item)) {
        const char *Key = nullptr, *Value = nullptr;
        Dictionary *Entry = nullptr;
        Dictionary_ItemGetKeyPtr(Manager->Dependencies, Item, &Key);
        Dictionary_ItemGetStringPtr(Manager->Dependencies, Item, &Value);
        Dictionary_AddDictionary(Dependencies, nullptr, &Entry, nullptr);
        Dictionary_SetStringByKey(Entry, Key != nullptr ? Key : "", Value != nullptr ? Value : "");
    }
    Dictionary_AddDictionary(Status, "queued", &Queued, nullptr);
    AddQueuedNames(Queued, Manager->Queue);
    AddQueuedNames(Queued, Manager->DependencyQueue);
    Dictionary_AddDictionary(Status, "queuedDependencies", &Queued, nullptr);
    AddQueuedNames(Queued, Manager->DependencyQueue);
    CopyInto(Status, "workflowId", Manager->WorkflowIds);
    NotificationCenter_FireAfterDelayOwn("WorkflowManager", "Status", ManagerId(), 0, Status);
    Dictionary_Release(&Status);
    return TRUE;
}

// ---- Public availability, dependency and progress operations ----

int32 ManagerInt_SetAvailability(const char *WorkflowId, const char *Name, uint32 Available) {
    if (M() == nullptr || !M()->Full || WorkflowId == nullptr || Name == nullptr) return FALSE;
    Dictionary *List = AvailableList(WorkflowId, true);
    bool Has = ListHas(List, Name);
    if (Available && !Has) {
        Dictionary_AddString(List, nullptr, Name, nullptr);
        M()->Dirty = TRUE;
    } else if (!Available && Has) {
        Dictionary_RemoveByString(List, Name);
        M()->Dirty = TRUE;
    }
    return TRUE;
}

int32 ManagerInt_ClearAvailability(const char *WorkflowId) {
    if (M() == nullptr || !M()->Full || WorkflowId == nullptr) return FALSE;
    Dictionary *List = AvailableList(WorkflowId, false);
    int32 Count = 0;
    if (List != nullptr && Dictionary_ItemGetCount(List, &Count) && Count > 0) {
        Dictionary_Reset(List);
        M()->Dirty = TRUE;
    }
    return TRUE;
}

int32 WorkflowManager_SetTaskAvailability(Workflow *Handle, const char *Name, uint32 Available) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Debug_CheckPointer(Name);
    return ManagerInt_SetAvailability(WorkflowIdOf(Handle), Name, Available);
}

int32 WorkflowManager_ClearTaskAvailability(Workflow *Handle) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    return ManagerInt_ClearAvailability(WorkflowIdOf(Handle));
}

int32 WorkflowManager_IsTaskAvailable(const char *WorkflowId, const char *Name) {
    if (M() == nullptr || !M()->Full || WorkflowId == nullptr || Name == nullptr) return FALSE;
    return ListHas(AvailableList(WorkflowId, false), Name);
}

int32 WorkflowManager_QueueAvailableTasks(const char *Name) {
    if (M() == nullptr || !M()->Full) return FALSE;
    std::vector<std::string> Ids;
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(M()->Available, &Item); Item != nullptr;
         Dictionary_ItemGetNext(M()->Available, Item, &Item)) {
        const char *Key = nullptr;
        if (Dictionary_ItemGetKeyPtr(M()->Available, Item, &Key) && Key != nullptr) Ids.push_back(Key);
    }
    for (const std::string &Id : Ids) WorkflowManager_QueueAvailableTasksByWorkflow(Name, Id.c_str());
    return TRUE;
}

int32 WorkflowManager_QueueAvailableTasksByWorkflow(const char *Name, const char *WorkflowId) {
    if (!WorkflowManager_IsTaskAvailable(WorkflowId, Name)) return FALSE;
    return WorkflowManager_QueueTaskInterop(WorkflowId, Name, nullptr);
}

namespace {

// Whether From is To, or waits on it through the dependencies recorded.
bool DependsOn(const char *From, const char *To) {
    std::vector<std::string> Open{From};
    std::unordered_set<std::string> Seen{From};
    while (!Open.empty()) {
        std::string Each = std::move(Open.back());
        Open.pop_back();
        if (Each == To) return true;
        DictionaryItem *Item = nullptr;
        for (Dictionary_ItemGetFirst(M()->Dependencies, &Item); Item != nullptr;
             Dictionary_ItemGetNext(M()->Dependencies, Item, &Item)) {
            const char *Key = nullptr, *Value = nullptr;
            if (Dictionary_ItemGetKeyPtr(M()->Dependencies, Item, &Key) && Key != nullptr && Each == Key &&
                Dictionary_ItemGetStringPtr(M()->Dependencies, Item, &Value) && Value != nullptr &&
                Seen.emplace(Value).second)
                Open.emplace_back(Value);
        }
    }
    return false;
}

} // namespace

int32 WorkflowManager_AddDependency(const char *Id, const char *DependencyId) {
    Debug_CheckPointer(Id);
    Debug_CheckPointer(DependencyId);
    if (M() == nullptr || !M()->Full) return FALSE;
    // A workflow waiting on itself, or on one that waits on it however far
    // round, would wait for good: nothing could ever run.
    if (DependsOn(DependencyId, Id)) {
        Log_Warning("WorkflowManager - Dependency - Refused - %s -> %s: %s\n", Id, DependencyId,
                    String_Compare(Id, DependencyId) ? "a workflow cannot wait on itself"
                                                     : "it would close a cycle of dependencies");
        return FALSE;
    }
    Log_Info("WorkflowManager - Dependency - Added - %s -> %s\n", Id, DependencyId);
    Dictionary_AddString(M()->Dependencies, Id, DependencyId, nullptr);
    M()->Dirty = TRUE;
    return TRUE;
}

int32 WorkflowManager_SetProgress(Workflow *Handle, const char *Name, float64 Progress) {
    Class_CheckHandle(Handle, WORKFLOW_CLASSID);
    Debug_CheckPointer(Name);
    if (M() == nullptr || !M()->Full || !ManagerInt_NameIn(M()->ProgressTaskNames, Name) ||
        !Dictionary_ContainsKey(M()->Active, WorkflowIdOf(Handle)))
        return FALSE;
    Dictionary_SetFloat64ByKey(M()->Progress, WorkflowIdOf(Handle), Progress);
    return TRUE;
}

int32 WorkflowManager_CancelRunningTasks(void) {
    if (M() == nullptr || !M()->Full) return FALSE;
    std::vector<std::pair<uint64, std::string>> Ordered;
    M()->TaskEvents.ForEach([&Ordered](const TaskEventEntry &Each) {
        if (Each.Events.Expire == 0) Ordered.emplace_back(Each.Events.Sequence, Each.Id());
    });
    std::sort(Ordered.begin(), Ordered.end());
    std::vector<std::string> Running;
    for (auto &Each : Ordered) Running.push_back(std::move(Each.second));
    int32 Cancelled = 0;
    for (const std::string &Id : Running) {
        void *Object = Class_ConvertFromInstanceId(Id.c_str());
        if (Object == nullptr || ((ClassStruct *)Object)->ClassId != TASK_CLASSID) continue;
        Task *Each = static_cast<Task *>(Object);
        if (!Task_IsCompleted(Each) && Task_Cancel(Each)) Cancelled++;
    }
    return Cancelled;
}

int32 WorkflowManager_PrintState(void) {
    if (M() == nullptr || !M()->Full) return FALSE;
    struct Table {
        const char *Title;
        Dictionary *Handle;
    };
    const Table Tables[] = {{"Available Task List", M()->Available},   {"Queued Task List", M()->Queue},
                            {"Active Task List", M()->Active},         {"Active Progress Task List", M()->Progress},
                            {"Workflow Id List", M()->WorkflowIds},    {"Workflow Priority List", M()->Priorities},
                            {"Dependency/Workflow List", M()->Dependencies},
                            {"Dependency Task List", M()->DependencyQueue}};
    auto PrintNames = [](const char *Title, const std::vector<std::string> &List) {
        std::string Joined;
        for (const std::string &Each : List) Joined += (Joined.empty() ? "" : ",") + Each;
        Log_Info("%s\n%s\n", Title, Joined.c_str());
    };
    PrintNames("Queuable Tasks List", M()->QueueTaskNames);
    PrintNames("Progressable Tasks List", M()->ProgressTaskNames);
    for (const Table &Each : Tables) {
        Log_Info("%s\n", Each.Title);
        Dictionary_Dump(Each.Handle);
    }
    PrintNames("Dependency Task Names List", M()->DependencyTaskNames);
    return TRUE;
}
