// Script callbacks, page execute registrations and the page batch.
//
// Everything here runs on the main thread. Callback records are freed only
// by the process step once their count is 0, so a record found by id stays
// valid for the whole dispatch that found it. Each queued item is written
// into the batch's text as it comes; the batch is one JSON array of the
// queued objects, delivered to every registered page in one call per page
// and process step, with each item's sender and retained flag beside it.
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/script/interop_internal.h"
#include "runtime/text/string.h"
#include "runtime/time.h"

namespace {

bool BudgetSpent(float64 Start) { return Time_GetCurrent() - Start >= InteropStepBudget; }

int32 DeleteRegistration(void *HandleAddress) {
    auto **Handle = static_cast<InteropExecuteCallback **>(HandleAddress);
    InteropExecuteCallback *Registration = *Handle;
    InteropList_Unlink(GlobalInterop->Registrations, Registration);
    Memory_Delete(Registration);
    *Handle = nullptr;
    return TRUE;
}

// The one bound of what waits for the pages: the batch's text (Text bytes
// of it before the item) and what is held for them elsewhere. A refusal is
// counted, and logged once a batch.
bool Admitted(InteropStruct *Global, size_t Text, size_t Bytes) {
    InteropPending &Pending = *Global->Pending;
    if (Text + Global->Held + Bytes <= INTEROP_QUEUE_LIMIT) return true;
    Global->Refused++;
    if (!Pending.Told)
        Log_Warning("Interop - An item for the pages was refused: what waits for them is bounded to "
                    INTEROP_QUEUE_LIMIT_TEXT "\n");
    Pending.Told = true;
    return false;
}

// A stream that appends to the pending text, so that an item is written
// once, where it waits.
struct TextSink {
    StreamStruct Record;
    std::string *Text;
};

int32 SinkWrite(void *Handle, const void *Buffer, uint32 Length, uint32 *Count) {
    static_cast<TextSink *>(Handle)->Text->append(static_cast<const char *>(Buffer), Length);
    *Count = Length;
    return TRUE;
}

// The members of a container as the writer puts them (nothing for none).
int64 Measure(JSON *Writer, Dictionary *Members) {
    int32 Size = 0;
    JSON_SetDictionaryHandle(Writer, Members);
    JSON_SaveBufferEstimate(Writer, &Size);
    return Size;
}

// An info whose tree costs more than this is measured before it is written,
// so that a large one is refused before its text exists and its room is
// taken once; smaller items are written as they come and measured after.
constexpr int64 MeasuredFrom = 64 << 10;

// Whether an item of Bytes may wait, the batch holding Text bytes before it:
// within the pages' bound (an item goes alone when the batch is empty, so
// that the host's own items still reach a page that holds the bound in
// delayed fires) and charged to the memory budget while it waits.
bool Admit(InteropStruct *Global, size_t Text, int64 Bytes) {
    InteropPending &Pending = *Global->Pending;
    if (Text != 0 && !Admitted(Global, Text, (size_t)Bytes)) return false;
    if (!MemoryBudget_Take(Bytes)) {
        Global->Refused++;
        if (!Pending.Told)
            Log_Warning("Interop - An item for the pages was refused: it passes the memory budget of %lld MiB\n",
                        (long long)(MemoryBudget_GetLimit() >> 20));
        Pending.Told = true;
        return false;
    }
    Pending.Charged += Bytes;
    return true;
}

// Queues Item, with Info's members as its "info" object when WithInfo, into
// the pending batch, written straight into it.
int32 Queue(InteropStruct *Global, Dictionary *Item, bool WithInfo, Dictionary *Info) {
    InteropPending &Pending = *Global->Pending;
    const size_t Before = Pending.Text.size();
    int64 Cost = 0;
    if (Info != nullptr) Dictionary_GetCost(Info, &Cost);
    const bool Measured = Cost > MeasuredFrom;
    if (Measured) {
        const int64 Size = Measure(Global->Writer, Item) + 13 + Measure(Global->Writer, Info);
        if (!Admit(Global, Before, Size)) return FALSE;
        // With room for the batch's closing bracket: nothing is moved while
        // the item is written or the batch closed.
        Pending.Text.reserve(Before + (size_t)Size + 1);
    }
    TextSink Sink{{}, &Pending.Text};
    Sink.Record.Handle = &Sink;
    Sink.Record.Write = SinkWrite;
    Pending.Text.append(Before == 0 ? "[{" : ",{");
    JSON_SetDictionaryHandle(Global->Writer, Item);
    JSON_SaveStream(Global->Writer, &Sink.Record);
    if (WithInfo) {
        Pending.Text.append(Pending.Text.size() > Before + 2 ? ",\"info\":{" : "\"info\":{");
        JSON_SetDictionaryHandle(Global->Writer, Info);
        if (Info != nullptr) JSON_SaveStream(Global->Writer, &Sink.Record);
        Pending.Text.append("}");
    }
    Pending.Text.append("}");
    if (!Measured && !Admit(Global, Before, (int64)(Pending.Text.size() - Before))) {
        Pending.Text.resize(Before);
        return FALSE;
    }
    const char *Sender = nullptr;
    uint32 Retained = FALSE;
    Pending.Senders.emplace_back(Dictionary_GetStringPtrByKey(Item, "sender", &Sender) && Sender != nullptr ? Sender
                                                                                                            : "");
    Pending.Retained.push_back(Dictionary_GetBooleanByKey(Item, "retained", &Retained) && Retained ? 1 : 0);
    Pending.Loop.push_back(Global->RaisingLoop ? 1 : 0);
    Interop_PostProcess();
    return TRUE;
}

// Calls every registration with the batch. Each is held while it runs, since
// a page may close (and drop its registration) from inside the call.
void Deliver(InteropStruct *Global, std::string &Batch, InteropBatchFacts *Facts) {
    InteropExecuteCallback *Registration = Global->Registrations.Head;
    if (Registration != nullptr) Class_AddRef(Registration);
    while (Registration != nullptr) {
        // The last page may take the text; it is read through a pointer
        // taken before, which taking leaves valid for this call only.
        const bool Last = Registration->Next == nullptr;
        Facts->Text = Last ? &Batch : nullptr;
        if (Registration->Function != nullptr)
            Registration->Function(Registration->User, Registration->Class.InstanceId, Batch.c_str(), Facts);
        // A page registered during that call came after this batch was made.
        InteropExecuteCallback *Next = Last ? nullptr : Registration->Next;
        if (Next != nullptr) Class_AddRef(Next);
        Class_Release(&Registration);
        Registration = Next;
    }
}

} // namespace

int32 Interop_AddCallback(const char *Id, void *User, Interop_CallbackFunc Function, InteropCallback **Callback) {
    Interop_AssertMainThread();
    InteropStruct *Global = Interop_Global();
    Debug_CheckPointer(Callback);
    auto *Record = static_cast<InteropCallback *>(Pool_Alloc(Global->CallbackPool, (int32)sizeof(InteropCallback)));
    *Record = InteropCallback{};
    if (Id == nullptr || Id[0] == 0) Interop_GenerateInstanceId(Record->Id, (int32)sizeof(Record->Id));
    else String_CopyLength(Record->Id, Id, (int32)sizeof(Record->Id));
    Record->User = User;
    Record->Function = Function;
    Record->RefCount = 1;
    InteropList_Append(Global->Callbacks, Record);
    *Callback = Record;
    return TRUE;
}

// A record already released (count 0, waiting for the process step) is no
// longer found: it has no holder left that could answer through it. Ids are
// compared as stored, cut to 39 characters, so the id a record was added
// with always finds it.
int32 Interop_GetCallbackById(const char *Id, InteropCallback **Callback) {
    Interop_AssertMainThread();
    InteropStruct *Global = Interop_Global();
    Debug_CheckPointer(Id);
    Debug_CheckPointer(Callback);
    *Callback = nullptr;
    char Wanted[INTEROP_CALLBACK_ID_SIZE];
    String_CopyLength(Wanted, Id, (int32)sizeof(Wanted));
    for (InteropCallback *Record = Global->Callbacks.Head; Record != nullptr; Record = Record->Next) {
        if (Record->RefCount == 0 || !String_CompareWithoutCase(Record->Id, Wanted)) continue;
        *Callback = Record;
        return TRUE;
    }
    return FALSE;
}

int32 Interop_RaiseCallback(InteropCallback *Callback, void *Argument) {
    Debug_CheckPointer(Callback);
    if (Callback->Function == nullptr) return FALSE;
    return Callback->Function(Callback->User, Argument);
}

InteropCallback *Interop_AddRefCallback(InteropCallback *Callback) {
    Interop_AssertMainThread();
    Debug_CheckPointer(Callback);
    Callback->RefCount++;
    return Callback;
}

int32 Interop_ReleaseCallback(InteropCallback **Callback) {
    Interop_AssertMainThread();
    Debug_CheckPointer(Callback);
    Debug_CheckPointer(*Callback);
    Debug_Assert((*Callback)->RefCount > 0, "Callback released more often than referenced (%s)", (*Callback)->Id);
    // What its holder kept beside it goes now; the record itself waits for
    // the process step.
    if (--(*Callback)->RefCount == 0) {
        MemoryBudget_Give((*Callback)->Charged);
        (*Callback)->Charged = 0;
    }
    *Callback = nullptr;
    return TRUE;
}

int32 Interop_GetCallbackUserPtr(InteropCallback *Callback, void **User) {
    Debug_CheckPointer(Callback);
    Debug_CheckPointer(User);
    *User = Callback->User;
    return TRUE;
}

const char *Interop_GetCallbackId(InteropCallback *Callback) {
    Debug_CheckPointer(Callback);
    return Callback->Id;
}

int32 Interop_ChargeCallback(InteropCallback *Callback, int64 Bytes) {
    Debug_CheckPointer(Callback);
    if (!MemoryBudget_Take(Bytes)) return FALSE;
    Callback->Charged += Bytes;
    return TRUE;
}

int32 Interop_AddExecuteCallback(InteropExecuteCallback **Registration, void *User, Interop_ExecuteFunc Function) {
    Interop_AssertMainThread();
    InteropStruct *Global = Interop_Global();
    Debug_CheckPointer(Registration);
    for (InteropExecuteCallback *Record = Global->Registrations.Head; Record != nullptr; Record = Record->Next) {
        if (Record->User != User || Record->Function != Function) continue;
        *Registration = static_cast<InteropExecuteCallback *>(Class_AddRef(Record));
        return TRUE;
    }
    InteropExecuteCallback *Record = Memory_New(InteropExecuteCallback);
    Class_InitHeader(Record, INTEROP_EXECUTECALLBACK_CLASSID, DeleteRegistration);
    Class_GenerateInstanceId(Record);
    Record->User = User;
    Record->Function = Function;
    InteropList_Append(Global->Registrations, Record);
    *Registration = Record;
    return TRUE;
}

// Drops the caller's share; the registration leaves the list with the last.
int32 Interop_RemoveExecuteCallback(InteropExecuteCallback **Registration) {
    Interop_AssertMainThread();
    Interop_Global();
    Debug_CheckPointer(Registration);
    Class_CheckHandle(*Registration, INTEROP_EXECUTECALLBACK_CLASSID);
    Class_Release(Registration);
    return FALSE;
}

int32 Interop_GetExecuteCallbackCount(void) {
    Interop_AssertMainThread();
    return (int32)Interop_Global()->Registrations.Count;
}

int32 Interop_Execute(void *User, void *DictionaryHandle) {
    (void)User;
    Interop_AssertMainThread();
    auto *Source = static_cast<Dictionary *>(DictionaryHandle);
    Class_CheckHandle(Source, DICTIONARY_CLASSID);
    return Queue(Interop_Global(), Source, false, nullptr);
}

int32 Interop_RaiseCallbackWithInfo(InteropCallback *Callback, Dictionary *Item, Dictionary *Info, int32 Loop) {
    Debug_CheckPointer(Callback);
    Class_CheckHandle(Item, DICTIONARY_CLASSID);
    InteropStruct *Global = Interop_Global();
    const int32 Outer = Global->RaisingLoop;
    if (Loop) Global->RaisingLoop = TRUE;
    int32 Raised = FALSE;
    if (Callback->Function == Interop_Execute) {
        Interop_AssertMainThread();
        Raised = Queue(Global, Item, true, Info);
    } else {
        // Another receiver gets one dictionary: the info is copied into it.
        Dictionary *Copy = nullptr;
        Dictionary_AddDictionary(Item, "info", &Copy, nullptr);
        if (Info != nullptr) Dictionary_Merge(Copy, Info, DICTIONARY_MERGE_OVERWRITE);
        Raised = Interop_RaiseCallback(Callback, Item);
    }
    Global->RaisingLoop = Outer;
    return Raised;
}

int32 Interop_Hold(size_t Bytes) {
    Interop_AssertMainThread();
    InteropStruct *Global = Interop_Global();
    if (!Admitted(Global, Global->Pending->Text.size(), Bytes)) return FALSE;
    // Charged to the memory budget too while it is held.
    if (!MemoryBudget_Take((int64)Bytes)) {
        Global->Refused++;
        return FALSE;
    }
    Global->Held += Bytes;
    return TRUE;
}

int32 Interop_Unhold(size_t Bytes) {
    Interop_AssertMainThread();
    InteropStruct *Global = Interop_Global();
    const size_t Given = Bytes < Global->Held ? Bytes : Global->Held;
    Global->Held -= Given;
    MemoryBudget_Give((int64)Given);
    return TRUE;
}

uint32 Interop_GetRefusedCount(void) { return Interop_Global()->Refused; }

void Interop_ProcessCallbacks(float64 Start) {
    InteropStruct *Global = GlobalInterop;
    InteropCallback *Record = Global->Callbacks.Head;
    while (Record != nullptr) {
        InteropCallback *Next = Record->Next;
        if (Record->RefCount == 0) {
            MemoryBudget_Give(Record->Charged);
            InteropList_Unlink(Global->Callbacks, Record);
            Pool_Free(Global->CallbackPool, &Record, (int32)sizeof(InteropCallback));
        }
        if (Next != nullptr && BudgetSpent(Start)) {
            Interop_PostProcess();
            return;
        }
        Record = Next;
    }
}

void Interop_ProcessBatch(void) {
    InteropStruct *Global = GlobalInterop;
    if (Global->Pending->Text.empty()) return;
    if (Global->Delivering) {
        // A page called back into a step while the last batch is still being
        // handed out: the next one waits until it returns.
        Interop_PostProcess();
        return;
    }
    InteropPending Batch;
    std::swap(Batch, *Global->Pending);
    Batch.Text += ']';
    std::vector<const char *> Senders;
    Senders.reserve(Batch.Senders.size());
    for (const std::string &Sender : Batch.Senders) Senders.push_back(Sender.c_str());
    InteropBatchFacts Facts{(int32)Senders.size(), Senders.data(), Batch.Retained.data(), Batch.Loop.data(),
                            nullptr};
    Global->Delivering = TRUE;
    Deliver(Global, Batch.Text, &Facts);
    Global->Delivering = FALSE;
    MemoryBudget_Give(Batch.Charged);
}

void Interop_RemoveBatch(InteropStruct *Global) {
    while (Global->Registrations.Head != nullptr) {
        InteropExecuteCallback *Registration = Global->Registrations.Head;
        DeleteRegistration(&Registration);
    }
    while (Global->Callbacks.Head != nullptr) {
        InteropCallback *Record = Global->Callbacks.Head;
        if (Record->RefCount > 0) Log_Debug("Interop - Callback not removed - Id %s\n", Record->Id);
        MemoryBudget_Give(Record->Charged);
        InteropList_Unlink(Global->Callbacks, Record);
        Pool_Free(Global->CallbackPool, &Record, (int32)sizeof(InteropCallback));
    }
    MemoryBudget_Give(Global->Pending->Charged);
    *Global->Pending = InteropPending{};
}
