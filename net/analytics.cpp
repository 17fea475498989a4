// Analytics event queue and batches (see analytics.h).
#include "net/analytics.h"

#include <string.h>
#include <time.h>

#include <string>

#include "runtime/documents/json.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/text/string.h"
#include "runtime/time.h"

namespace {

constexpr int32 UrlSize = 4096;
constexpr int32 KeySize = 256;

struct AnalyticsState {
    Dictionary *Global;
    Dictionary *Holder;
    Dictionary *Queue; // the list "events" of Holder: event Dictionaries in order
    MeterRW *Meter;
    uint32 Enabled;
    uint32 CrashDump;
    char EndPoint[UrlSize];
    char Key[KeySize];
    int32 MaxEvents;
    int32 MaxSendEvents;
    float64 SendInterval;
    float64 LastSend;
    int32 InFlight; // events of the batch on its way; they stay queued until delivered
    void *SendUser;
    Analytics_SendFunc Send;
};

AnalyticsState *State = nullptr;

int32 ReadInt(Dictionary *Source, const char *Path, int32 Default) {
    int32 Value = 0;
    return Dictionary_GetInt32ByPath(Source, Path, &Value) ? Value : Default;
}

bool Configured() { return State != nullptr && State->Enabled && State->EndPoint[0] != 0 && State->Key[0] != 0; }

// Up to MaxSendEvents events as one JSON array text.
bool BuildBatch(int32 Count, char **Text, int32 *Length, int32 *Capacity) {
    Dictionary *Batch = nullptr, *Root = nullptr;
    Dictionary_Create(&Batch);
    Dictionary_AddList(Batch, nullptr, &Root, nullptr);
    DictionaryItem *Item = nullptr;
    int32 Taken = 0;
    for (Dictionary_ItemGetFirst(State->Queue, &Item); Item != nullptr && Taken < Count;
         Dictionary_ItemGetNext(State->Queue, Item, &Item), Taken++) {
        Dictionary *Event = nullptr, *Copy = nullptr;
        if (!Dictionary_ItemGetDictionaryHandle(State->Queue, Item, &Event) || Event == nullptr) continue;
        Dictionary_AddDictionary(Root, nullptr, &Copy, nullptr);
        Dictionary_Merge(Copy, Event, DICTIONARY_MERGE_OVERWRITE);
    }
    std::string Saved;
    const bool Written = JSON_SaveMinifiedText(Batch, Saved) != 0;
    if (Written) {
        *Length = (int32)Saved.size();
        *Capacity = *Length + 1;
        *Text = static_cast<char *>(Memory_Alloc(*Capacity));
        memcpy(*Text, Saved.data(), Saved.size());
        (*Text)[*Length] = 0;
    }
    Dictionary_Release(&Batch);
    return Written;
}

} // namespace

int32 Analytics_Init(void) {
    if (State != nullptr) return FALSE;
    State = Memory_New(AnalyticsState);
    Dictionary_Create(&State->Global);
    Dictionary_Create(&State->Holder);
    Dictionary_AddList(State->Holder, "events", &State->Queue, nullptr);
    MeterRW_Create(&State->Meter);
    State->MaxEvents = 1000;
    State->MaxSendEvents = 50;
    State->SendInterval = 30.0;
    State->LastSend = Time_GetCurrent();
    return TRUE;
}

int32 Analytics_Remove(void) {
    if (State == nullptr) return TRUE;
    Dictionary_Release(&State->Global);
    Dictionary_Release(&State->Holder);
    MeterRW_Delete(&State->Meter);
    Memory_Delete(State);
    State = nullptr;
    return TRUE;
}

int32 Analytics_LoadConfigFromDictionary(Dictionary *Configuration) {
    Debug_CheckPointer(Configuration);
    if (State == nullptr) return FALSE;
    uint32 Flag = 0;
    if (Dictionary_GetBooleanByPath(Configuration, "analytics\\enabled", &Flag)) State->Enabled = Flag;
    if (Dictionary_GetBooleanByPath(Configuration, "analytics\\crashDump", &Flag)) State->CrashDump = Flag;
    char Text[UrlSize];
    if (Dictionary_GetStringByPath(Configuration, "analytics\\endPoint", Text, UrlSize))
        String_CopyLength(State->EndPoint, Text, UrlSize);
    if (Dictionary_GetStringByPath(Configuration, "analytics\\key", Text, KeySize))
        String_CopyLength(State->Key, Text, KeySize);
    State->MaxEvents = ReadInt(Configuration, "analytics\\maxEvents", State->MaxEvents);
    State->MaxSendEvents = ReadInt(Configuration, "analytics\\maxSendEvents", State->MaxSendEvents);
    float64 Interval = 0;
    if (Dictionary_GetFloat64ByPath(Configuration, "analytics\\sendInterval", &Interval) && Interval >= 0)
        State->SendInterval = Interval;
    if (State->MaxEvents < 1) State->MaxEvents = 1;
    if (State->MaxSendEvents < 1) State->MaxSendEvents = 1;
    return TRUE;
}

int32 Analytics_IsEnabled(void) { return Configured(); }
int32 Analytics_IsCrashDumpEnabled(void) { return Configured() && State->CrashDump; }

int32 Analytics_SendEvent(const char *Name, Dictionary *Arguments) {
    Debug_CheckPointer(Name);
    if (!Configured()) return FALSE;
    Dictionary *Event = nullptr;
    Dictionary_AddDictionary(State->Queue, nullptr, &Event, nullptr);
    Dictionary_SetStringByKey(Event, "event", Name);
    Dictionary_SetInt64ByKey(Event, "time", (int64)time(nullptr));
    Dictionary_Merge(Event, State->Global, DICTIONARY_MERGE_OVERWRITE);
    if (Arguments != nullptr) Dictionary_Merge(Event, Arguments, DICTIONARY_MERGE_OVERWRITE);
    int32 Count = 0;
    Dictionary_ItemGetCount(State->Queue, &Count);
    for (; Count > State->MaxEvents; Count--) {
        DictionaryItem *Oldest = nullptr;
        Dictionary_ItemGetFirst(State->Queue, &Oldest);
        Dictionary_Remove(State->Queue, &Oldest);
    }
    return TRUE;
}

int32 Analytics_SendEventXCache(Dictionary *Counts) { return Analytics_SendEvent("XCache", Counts); }

int32 Analytics_FillCrashEvent(const char *Format, const char *Version, Dictionary *Record, Dictionary *Macros) {
    Debug_CheckPointer(Record);
    Dictionary *Copy = nullptr;
    Dictionary_Create(&Copy);
    Dictionary_Merge(Copy, Record, DICTIONARY_MERGE_OVERWRITE);
    Dictionary_Reset(Record);
    Dictionary_SetStringByKey(Record, "format", Format != nullptr ? Format : "");
    Dictionary_SetStringByKey(Record, "version", Version != nullptr ? Version : "");
    Dictionary_Merge(Record, Copy, DICTIONARY_MERGE_OVERWRITE);
    if (Macros != nullptr) Dictionary_Merge(Record, Macros, DICTIONARY_MERGE_OVERWRITE);
    Dictionary_Release(&Copy);
    return TRUE;
}

int32 Analytics_GetGlobalDictionaryHandle(Dictionary **Global) {
    Debug_CheckPointer(Global);
    *Global = State != nullptr ? State->Global : nullptr;
    return *Global != nullptr;
}

MeterRW *Analytics_GetRemoteMeterRWHandle(void) { return State != nullptr ? State->Meter : nullptr; }

int32 Analytics_GetQueuedCount(int32 *Count) {
    Debug_CheckPointer(Count);
    *Count = 0;
    return State != nullptr && Dictionary_ItemGetCount(State->Queue, Count);
}

int32 Analytics_SetSendFunction(void *User, Analytics_SendFunc Function) {
    if (State == nullptr) return FALSE;
    State->SendUser = User;
    State->Send = Function;
    return TRUE;
}

int32 Analytics_SendDone(int32 Delivered) {
    if (State == nullptr || State->InFlight == 0) return FALSE;
    // Events dropped meanwhile for the cap were the oldest: the batch's own.
    int32 Count = 0;
    Dictionary_ItemGetCount(State->Queue, &Count);
    if (Delivered) {
        for (int32 Index = 0; Index < State->InFlight && Index < Count; Index++) {
            DictionaryItem *First = nullptr;
            Dictionary_ItemGetFirst(State->Queue, &First);
            Dictionary_Remove(State->Queue, &First);
        }
    }
    State->InFlight = 0;
    return TRUE;
}

int32 Analytics_IsSending(void) { return State != nullptr && State->InFlight > 0; }

int32 Analytics_Flush(void) {
    if (State == nullptr) return FALSE;
    State->LastSend = Time_GetCurrent() - State->SendInterval - 1.0;
    return TRUE;
}

int32 Analytics_Process(void) {
    if (!Configured() || State->Send == nullptr || State->InFlight > 0) return TRUE;
    float64 Now = Time_GetCurrent();
    if (Now - State->LastSend < State->SendInterval) return TRUE;
    State->LastSend = Now;
    int32 Count = 0;
    Dictionary_ItemGetCount(State->Queue, &Count);
    if (Count == 0) return TRUE;
    if (Count > State->MaxSendEvents) Count = State->MaxSendEvents;
    char *Body = nullptr;
    int32 Length = 0, Capacity = 0;
    if (!BuildBatch(Count, &Body, &Length, &Capacity)) {
        Log_Error("Analytics - cannot write a batch of %d events\n", Count);
        return TRUE;
    }
    if (State->Send(State->SendUser, State->EndPoint, State->Key, Body, Length)) State->InFlight = Count;
    Memory_Free(Body, Capacity);
    return TRUE;
}
