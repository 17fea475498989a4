// The notification center's records, shared by its source files; the engine's
// task events also queue their fires through the measured-name entry below.
//
// Everything below is guarded by the center's recursive lock. Entries and key
// records are unlinked and freed only by the removal flush, which never runs
// while DeliveryDepth is above 0: a delivery walks key records and entries
// with the lock released around each observer call, and what it holds (the
// current entry, its saved successor, the key record, the pending fire being
// delivered) must outlive every call it makes.
#pragma once

#include <string.h>

#include "runtime/class.h"
#include "runtime/containers/hash_table.h"
#include "runtime/containers/pool.h"
#include "runtime/containers/probe_table.h"
#include "runtime/critical_section_internal.h"
#include "runtime/notification/notification_center.h"
#include "runtime/notification/notification_names.h"
#include "runtime/signal.h"
#include "runtime/text/string_internal.h"

// Type, name and instance fields: at most 39 bytes and the terminator.
constexpr int32 NotificationNameSize = 40;
constexpr uint32 NotificationNameSlots = 1024;
// The center's own notifications: "NotificationCenter"/"Process" (the
// process step) and "NotificationCenter"/"Interop" (page references).
constexpr const char *NotificationCenterType = "NotificationCenter";
constexpr const char *NotificationProcessName = "Process";
constexpr const char *NotificationInteropName = "Interop";

template <typename Record> struct NotificationList {
    Record *Head;
    Record *Tail;
    uint32 Count;
};

template <typename Record> void NotificationList_Append(NotificationList<Record> &List, Record *Item) {
    Item->Prev = List.Tail;
    Item->Next = nullptr;
    if (List.Tail != nullptr)
        List.Tail->Next = Item;
    else
        List.Head = Item;
    List.Tail = Item;
    List.Count++;
}

template <typename Record> void NotificationList_Unlink(NotificationList<Record> &List, Record *Item) {
    if (Item->Prev != nullptr)
        Item->Prev->Next = Item->Next;
    else
        List.Head = Item->Next;
    if (Item->Next != nullptr)
        Item->Next->Prev = Item->Prev;
    else
        List.Tail = Item->Prev;
    Item->Next = Item->Prev = nullptr;
    List.Count--;
}

struct NotificationKeyRecord;

struct NotificationObserverRecord {
    uint32 Removed; // set by a removal; the entry is never called again
    void *User;
    NotificationCenter_ObserverFunc Function;
    NotificationObserverRecord *Next;
    NotificationObserverRecord *Prev;
    NotificationKeyRecord *Record; // the key record whose list holds it
    // Its place among the live entries of its user, in registration order
    // (NotificationUserCounts); unlinked when flagged removed.
    NotificationObserverRecord *UserNext;
    NotificationObserverRecord *UserPrev;
};

struct NotificationProcessRecord;

// One per distinct key; the names as first registered, cut to 39 bytes.
// A look-up of the key reads the record's first bytes: its observers, the
// key's hash and length, and the key itself.
struct NotificationKeyRecord {
    NotificationList<NotificationObserverRecord> Observers;
    uint32 Hash;     // the key's probe hash
    uint8 KeyLength; // at most NotificationKeySize - 1
    char Key[NotificationKeySize]; // the key text as first registered
    char Type[NotificationNameSize];
    char Name[NotificationNameSize];
    char Instance[NotificationNameSize];
    NotificationProcessRecord *ProcessNode; // set for "NotificationCenter"/"Process" keys
    uint32 NameSlot; // its name part's slot in the center's name counts
    uint32 GlobalRest; // 1 when the rest of its key, past the name part, is "Global"
    uint8 TypeLength;  // the three fields' lengths
    uint8 NameLength;
    uint8 InstanceLength;
    uint8 Whole; // 1 when no name was cut: the fields print its key
};

// Sits below every clock reading: a fire due at once, queued outside a walk,
// is due for every walk that meets it, since every such walk reads its start
// under the lock after the fire was appended.
constexpr float64 NotificationQueuedBeforeAnyStep = -__builtin_inf();

struct NotificationPendingFire {
    char Type[NotificationNameSize];
    char Name[NotificationNameSize];
    char Instance[NotificationNameSize];
    uint8 TypeLength; // the three fields' lengths
    uint8 NameLength;
    uint8 InstanceLength;
    uint32 NameSlot; // as NotificationFireNames carries it
    uint8 Own;       // as NotificationFireNames carries it
    uint8 Echo;      // as NotificationFireNames carries it
    uint8 Awaited;   // counted in the center's Awaited while queued
    // Monotonic seconds, or NotificationQueuedBeforeAnyStep for a fire
    // due at once that was queued while no step walked the queued fires.
    float64 Queued;
    float64 Delay;  // seconds
    Dictionary *UserInfo; // the center's own copy
    // Bytes held for it against the pages' bound while it is queued.
    uint32 Held;
    // A blocked firer's signal, its delivered flag and its thread; the firer
    // owns all three and deletes the signal once it is set.
    Signal *Waiter;
    int32 *Delivered;
    uint32 WaiterThreadId;
    NotificationPendingFire *Next;
    NotificationPendingFire *Prev;
};

struct NotificationRemoveRecord {
    NotificationKeyRecord *Record;
    NotificationObserverRecord *Observer;
    NotificationRemoveRecord *Next;
    NotificationRemoveRecord *Prev;
};

struct NotificationProcessRecord {
    NotificationKeyRecord *Record;
    NotificationProcessRecord *Next;
    NotificationProcessRecord *Prev;
};

// User pointer -> count of its live entries (those not flagged removed),
// and those of them the center registers here, oldest first, linked through
// the entries themselves: a removal finds the entry it takes among its
// user's without printing and hashing the key, which is what most removals
// cost. A probe table: one probe run in one array per look-up, where a node
// map chases a pointer per entry. Absent pointers count 0 (a slot is free
// while its count is 0, so a null user counts too); a count that falls to 0
// leaves the table.
class NotificationUserCounts {
  private:
    struct Slot {
        const void *User = nullptr;
        uint32 Count = 0;
        NotificationObserverRecord *Head = nullptr;
        NotificationObserverRecord *Tail = nullptr;
        bool Free() const { return Count == 0; }
    };
    ProbeTable<Slot> Table;

    static uint64 HashOf(const void *User) {
        uint64 Bits = (uint64)(uintptr)User;
        Bits ^= Bits >> 33;
        Bits *= 0xff51afd7ed558ccdull;
        return Bits ^ (Bits >> 33);
    }
    static auto SameUser(const void *User) {
        return [User](const Slot &Each) { return Each.User == User; };
    }

  public:
    uint32 Count(const void *User) const { return Table.Get(HashOf(User), SameUser(User)).Count; }
    // The oldest live entry of the user, or null.
    NotificationObserverRecord *First(const void *User) const {
        return Table.Get(HashOf(User), SameUser(User)).Head;
    }
    void Add(const void *User) { Counted(User); }
    // Counts the entry's user and appends the entry to its list.
    void Add(NotificationObserverRecord *Entry) {
        Slot &Each = Counted(Entry->User);
        Entry->UserNext = nullptr;
        Entry->UserPrev = Each.Tail;
        if (Each.Tail != nullptr) Each.Tail->UserNext = Entry;
        else Each.Head = Entry;
        Each.Tail = Entry;
    }
    // False when User has no count to take one from.
    bool Take(const void *User) {
        Slot *Each = Table.Find(HashOf(User), SameUser(User));
        if (Each == nullptr) return false;
        Uncount(*Each);
        return true;
    }
    // The same for an entry added with Add(Entry), which leaves its list.
    bool Take(NotificationObserverRecord *Entry) {
        Slot *Each = Table.Find(HashOf(Entry->User), SameUser(Entry->User));
        if (Each == nullptr) return false;
        NotificationObserverRecord *Prev = Entry->UserPrev, *Next = Entry->UserNext;
        if (Prev != nullptr) Prev->UserNext = Next;
        else Each->Head = Next;
        if (Next != nullptr) Next->UserPrev = Prev;
        else Each->Tail = Prev;
        Entry->UserNext = Entry->UserPrev = nullptr;
        Uncount(*Each);
        return true;
    }

    // Calls Visit(user, count) for every user, in no particular order.
    template <typename Visitor> void ForEach(Visitor &&Visit) const {
        Table.ForEach([&Visit](const Slot &Each) { Visit(Each.User, Each.Count); });
    }

    // Starts reading the user's home slot (see ProbeTable::Prefetch).
    void Prefetch(const void *User) const { Table.Prefetch(HashOf(User)); }

  private:
    // The user's slot, one more in its count; made when absent.
    Slot &Counted(const void *User) {
        const uint64 Hash = HashOf(User);
        if (Slot *Each = Table.Find(Hash, SameUser(User))) {
            Each->Count++;
            return *Each;
        }
        return Table.Add(Hash, Slot{User, 1, nullptr, nullptr});
    }
    // One less in the slot's count; the last leaves the table (taken out
    // while its count still marks the slot used).
    void Uncount(Slot &Each) {
        if (Each.Count > 1) Each.Count--;
        else Table.Erase(HashOf(Each.User), SameUser(Each.User));
    }
};

// Keys are hashed in two steps. The first takes the key's name part: its text
// up to and including its second dot, or the whole key when it has fewer.
// Equal keys have equal name parts whatever dots their type, name and
// instance hold, and the keys of one dot-free type and name share theirs, so
// a fire hashes it once for all its keys; its hash also picks the key's slot
// in the center's name counts. The second step takes the rest.
struct NotificationNamePart {
    size_t Length;
    uint64 Hash;
};

// A fire's "type.name." prefix and its name part depend on the two names
// alone, and most fires repeat a few pairs of names: the center keeps the
// prefix of each pair it meets, one place per pair, so that a fire of names
// nobody observes under any instance is answered without printing and
// hashing them again. Only names of at most 39 bytes each, whose prefix is
// never cut.
struct NotificationPrefixMemo {
    uint32 Lengths; // NotificationCenter_MemoLengths of its names; 0 while unused
    uint32 Used;    // the prefix's length
    NotificationNamePart Part;
    char Prefix[2 * NotificationNameSize + 8]; // printed, terminated
};
constexpr uint32 NotificationPrefixMemoBits = 6;
constexpr uint32 NotificationPrefixMemos = 1u << NotificationPrefixMemoBits;
inline uint32 NotificationCenter_MemoLengths(size_t TypeLength, size_t NameLength) {
    return (uint32)TypeLength | (uint32)NameLength << 8 | 1u << 16;
}

struct NotificationCenter {
    ClassStruct Class;
    void *Lock;
    uint32 OwnerThreadId;
    uint32 Verbose;
    uint32 ToldObserverBudget; // set once a page's observer past the budget was logged
    ProbeTable<NotificationKeyRecord *> *Observers; // by key text, letters' cases alike
    HashTable *RetainedInstances; // instance id -> 1
    Pool *KeyPool;
    Pool *ObserverPool;
    Pool *PendingPool;
    Pool *RemovePool;
    Pool *ProcessPool;
    NotificationList<NotificationPendingFire> Pending;
    // The queued fires from the head up to Walked were walked and are not
    // due before LeftDue (monotonic seconds): a step before then starts
    // after them, so many delayed fires cost each step nothing. Null: none.
    NotificationPendingFire *Walked = nullptr;
    float64 LeftDue = 0;
    uint32 WalkEpoch = 0; // moved by whatever makes a left fire due early
    NotificationList<NotificationRemoveRecord> Removals;
    NotificationList<NotificationProcessRecord> ProcessObservers;
    Dictionary *InteropReferences; // instance id -> page reference count
    // What those entries are charged to the memory budget while they live
    // (a page names the ids, so their number and length are its own).
    int64 ReferencesCharged;
    uint32 ToldReferenceBudget; // set once a reference past the budget was logged
    // User pointer -> number of its entries not flagged removed, kept in step
    // with every addition and removal so that the instance check of a delete
    // need not walk every entry. An absent pointer has none.
    NotificationUserCounts *LiveUsers;
    // The key record of "Global.Global.Global" (every fire looks for it), or
    // null: set when that record is made, cleared when it is freed.
    NotificationKeyRecord *Wildcard;
    // Key records per slot of their name part, and those of them whose rest
    // is "Global". Most fires name a type and name that nobody observes
    // under any instance, or under none but "Global", or under no "Global":
    // these counts answer that without looking up the key.
    uint32 NameCounts[NotificationNameSlots];
    uint32 GlobalCounts[NotificationNameSlots];
    int32 DeliveryDepth;   // observer calls in progress on the owner thread
    uint32 ProcessDeferred; // a step ran inside a delivery: post one when the depth is 0 again
    uint8 DeliveringOwn;    // the fire whose observers are called now is an Own fire
    // A page's answer to the loop alone (NotificationCenter_BeginLoopEcho):
    // the page's own fires made meanwhile, and those being delivered now.
    uint8 PageEcho = 0;
    uint32 EchoDepth = 0;
    uint8 DeliveringEcho = 0;
    // The center's process event is queued on the owner's queue: set as it is
    // posted, cleared as it starts to run. No second one is posted meanwhile.
    uint32 ProcessPosted;
    // Prefixes of recently fired names.
    NotificationPrefixMemo Prefixes[NotificationPrefixMemos];
    // Set while a process step walks the queued fires (owner thread), and
    // the walk's newest clock reading: the queue time of the fires due at
    // once that its observers queue.
    uint32 Walking;
    float64 WalkClock;
    // Queued fires the program waits for before it ends (a document's).
    uint32 Awaited;
    // Observer calls made so far: a walk tells by it whether a delivery ran
    // any observer, and so whether it took time worth a clock reading.
    uint32 Calls;
};

// The class-check stop at the caller's line for an absent or broken center.
[[noreturn]] void NotificationCenter_StopUnchecked(const NotificationCenter *Center, const char *File, int32 Line);
// The center, or that stop. Inline: every fire and every observer call
// starts here.
inline NotificationCenter *NotificationCenter_GetChecked(const char *File, int32 Line) {
    NotificationCenter *Center = GlobalNotificationCenter;
    if (Center == nullptr || Center->Class.ClassId != NOTIFICATIONCENTER_CLASSID) [[unlikely]]
        NotificationCenter_StopUnchecked(Center, File, Line);
    return Center;
}
#define NotificationCenter_Checked() NotificationCenter_GetChecked(__FILE__, __LINE__)

// The center's lock, through the section's inline paths: a fire takes it
// several times.
#define NotificationCenter_Lock(Center) CriticalSectionInt_Lock((Center)->Lock, __FILE__, __LINE__)
#define NotificationCenter_Unlock(Center) CriticalSectionInt_Unlock((Center)->Lock, __FILE__, __LINE__)

// Copies the first Length bytes of a longer text, cut to 39 bytes so that it
// never ends inside a UTF-8 sequence; the length copied.
size_t NotificationCenter_CopyCutName(char *Field, const char *Text, size_t Length);

// Copies Length bytes (at most 39) with a few fixed-size moves that may
// overlap, instead of a library call: a queued fire copies three names,
// mostly ids of 32 bytes.
inline void NotificationCenter_CopyBytes(char *To, const char *From, size_t Length) {
    static_assert(NotificationNameSize - 1 <= 32 + 8);
    if (Length >= 32) {
        memcpy(To, From, 32);
        memcpy(To + Length - 8, From + Length - 8, 8);
    } else {
        string_detail::CopyShort(To, From, Length);
    }
}

// Copies at most 39 bytes, never ending inside a UTF-8 sequence; the length
// copied. Inline: a queued fire copies three names.
inline size_t NotificationCenter_CopyName(char *Field, const char *Text) {
    const size_t Length = strnlen(Text, NotificationNameSize - 1);
    if (Length == NotificationNameSize - 1 && Text[Length] != '\0')
        return NotificationCenter_CopyCutName(Field, Text, Length);
    NotificationCenter_CopyBytes(Field, Text, Length);
    Field[Length] = '\0';
    return Length;
}

// The same copy of a name whose length NotificationCenter_PartLength gave.
inline size_t NotificationCenter_CopyMeasuredName(char *Field, const char *Text, size_t Length) {
    if (Length >= NotificationNameSize - 1) return NotificationCenter_CopyName(Field, Text);
    NotificationCenter_CopyBytes(Field, Text, Length);
    Field[Length] = '\0';
    return Length;
}

// The names as a caller gave them: each part ("" for none) with its length.
inline NotificationFireNames NotificationCenter_MeasureNames(const char *Type, const char *Name, const char *Instance) {
    Type = NotificationCenter_Part(Type);
    Name = NotificationCenter_Part(Name);
    Instance = NotificationCenter_Part(Instance);
    return {Type,
            Name,
            Instance,
            NotificationCenter_PartLength(Type),
            NotificationCenter_PartLength(Name),
            NotificationCenter_PartLength(Instance)};
}


// "type.name.instance", cut to 121 bytes; its length.
size_t NotificationCenter_PrintKey(char *Key, const char *Type, const char *Name, const char *Instance);
// The same key in two steps, so that keys of one type and name with several
// instances share the first: "type.name." (as cut) and its length, then the
// instance written behind that length, and the whole key's length. Lengths
// are the parts' as NotificationCenter_PartLength gives them.
size_t NotificationCenter_PrintKeyPrefix(char *Key, const char *Type, size_t TypeLength, const char *Name,
                                         size_t NameLength);
size_t NotificationCenter_PrintKeyInstance(char *Key, size_t Used, const char *Instance, size_t InstanceLength);

// A printed key, its length and its hash: what the observer table takes as a
// key, so that a key is measured and hashed once however often it is probed.
struct NotificationKeyProbe {
    const char *Text;
    size_t Length; // at most NotificationKeySize - 1
    uint32 Hash;
};

// The name part of the Length bytes at Key (a key, or any start of one that
// holds its name part).
NotificationNamePart NotificationCenter_NamePart(const char *Key, size_t Length);
inline uint32 NotificationCenter_NameSlot(const NotificationNamePart &Part) {
    static_assert((NotificationNameSlots & (NotificationNameSlots - 1)) == 0);
    return (uint32)(Part.Hash ^ (Part.Hash >> 32)) & (NotificationNameSlots - 1);
}
constexpr size_t NotificationGlobalLength = sizeof(NOTIFICATIONCENTER_GLOBAL) - 1;

// Whether the Length bytes at Text are "Global", without case. Every byte of
// it is a letter, and setting bit 5 of a byte gives a lower-case letter only
// for that letter's two cases: one word compare is exact.
inline bool NotificationCenter_IsGlobal(const char *Text, size_t Length) {
    static_assert(NotificationGlobalLength == 6);
    if (Length != NotificationGlobalLength) return false;
    uint32 Head;
    uint16 Tail;
    memcpy(&Head, Text, 4);
    memcpy(&Tail, Text + 4, 2);
    return (Head | 0x20202020u) == ('g' | 'l' << 8 | 'o' << 16 | (uint32)'b' << 24) &&
           (Tail | 0x2020u) == ('a' | 'l' << 8);
}
// Whether the rest of a key past its name part is "Global", without case:
// a key can equal only a key record of the same name part and kind of rest.
inline bool NotificationCenter_HasGlobalRest(const char *Key, size_t Length, const NotificationNamePart &Part) {
    return NotificationCenter_IsGlobal(Key + Part.Length, Length - Part.Length);
}
// Lock held. Key records of this name part and kind of rest (may count more:
// name parts share slots).
inline uint32 NotificationCenter_KeysLike(const NotificationCenter *Center, const NotificationNamePart &Part,
                                          bool GlobalRest) {
    const uint32 Slot = NotificationCenter_NameSlot(Part);
    return GlobalRest ? Center->GlobalCounts[Slot] : Center->NameCounts[Slot] - Center->GlobalCounts[Slot];
}
// Whether the memo holds the Length bytes at Field at Offset of its prefix.
// A name in a field of NotificationNameSize bytes is compared a whole word
// at a step, the bytes past it masked; the memo's prefix has room for the
// same words behind either name.
inline bool NotificationCenter_MemoFieldHolds(const NotificationPrefixMemo &Memo, size_t Offset, const char *Field,
                                              size_t Length) {
    static_assert(sizeof(Memo.Prefix) >= NotificationNameSize + NotificationNameSize);
    size_t At = 0;
    uint64 Mine, Theirs;
    for (; At + 8 <= Length; At += 8) {
        memcpy(&Mine, Memo.Prefix + Offset + At, 8);
        memcpy(&Theirs, Field + At, 8);
        if (Mine != Theirs) return false;
    }
    if (At == Length) return true;
    memcpy(&Mine, Memo.Prefix + Offset + At, 8);
    memcpy(&Theirs, Field + At, 8);
    return ((Mine ^ Theirs) & (~0ull >> (8 * (8 - (Length - At))))) == 0;
}
// The same for names anywhere, never reading a byte past them.
bool NotificationCenter_MemoHolds(const NotificationPrefixMemo &Memo, const NotificationFireNames &Fired);
// Prints the names' prefix into the memo and hashes its name part.
void NotificationCenter_MemoMake(NotificationPrefixMemo &Memo, const NotificationFireNames &Fired, uint32 Lengths);

// Lock held. The prefix of a type and name of at most 39 bytes each (as
// NotificationCenter_PrintKeyPrefix prints it) and its name part, kept from
// an earlier fire of the same bytes or made now. One place per pair, picked
// by its lengths and a few bytes (every name has at least its end byte to
// read); pairs sharing one replace each other.
inline const NotificationPrefixMemo &NotificationCenter_PrefixMemo(NotificationCenter *Center,
                                                                   const NotificationFireNames &Fired) {
    const size_t TypeLength = Fired.TypeLength, NameLength = Fired.NameLength;
    const uint32 Lengths = NotificationCenter_MemoLengths(TypeLength, NameLength);
    const uint32 Bytes = (uint8)Fired.Type[0] | (uint8)Fired.Name[0] << 8 |
                         (uint8)Fired.Name[NameLength > 0 ? NameLength - 1 : 0] << 16;
    const uint64 Mix = ((uint64)Lengths << 32 | Bytes) * 0x9e3779b97f4a7c15ull;
    NotificationPrefixMemo &Memo = Center->Prefixes[Mix >> (64 - NotificationPrefixMemoBits)];
    // Bytes, not letters: a pair fired in another case has a memo of its own.
    if (Memo.Lengths == Lengths &&
        (Fired.InFields ? NotificationCenter_MemoFieldHolds(Memo, 0, Fired.Type, TypeLength) &&
                              NotificationCenter_MemoFieldHolds(Memo, TypeLength + 1, Fired.Name, NameLength)
                        : NotificationCenter_MemoHolds(Memo, Fired)))
        return Memo;
    NotificationCenter_MemoMake(Memo, Fired, Lengths);
    return Memo;
}
// The probe of a key whose name part is already hashed.
NotificationKeyProbe NotificationCenter_ProbeRest(const char *Key, size_t Length, const NotificationNamePart &Part);
// Both steps.
NotificationKeyProbe NotificationCenter_Probe(const char *Key, size_t Length);

// Lock held. Counts a key record in (+1) or out (-1) of the name counts.
void NotificationCenter_CountName(NotificationCenter *Center, NotificationKeyRecord *Record, int32 Change);
// Lock held.
NotificationKeyRecord *NotificationCenter_Find(NotificationCenter *Center, const char *Type, const char *Name,
                                               const char *Instance);
// Lock held. The key record of a probed key, or null.
NotificationKeyRecord *NotificationCenter_FindProbe(NotificationCenter *Center, const NotificationKeyProbe &Probe);
void NotificationCenter_RemoveFlush(NotificationCenter *Center);
int32 NotificationCenter_IsRetained(NotificationCenter *Center, const char *Instance);
// Owner thread, lock held.
void NotificationCenter_FireInternal(NotificationCenter *Center, const char *Type, const char *Name,
                                     const char *Instance, Dictionary *UserInfo);
// The same with the names measured; none of them null.
void NotificationCenter_FireNamesInternal(NotificationCenter *Center, const NotificationFireNames &Fired,
                                          Dictionary *UserInfo);
void NotificationCenter_FireCallbacksInternal(NotificationCenter *Center, NotificationKeyRecord *Record,
                                              const char *Type, const char *Name, const char *Instance,
                                              Dictionary *UserInfo);
// Queues the center's process event on the owner thread's queue.
void NotificationCenter_PostProcess(NotificationCenter *Center);
// A page's delayed fire: its record and payload are held against the pages'
// bound (Interop_Hold) while it is queued, so that fires far ahead cannot
// swell the host; 0, with nothing queued, past the bound.
int32 NotificationCenter_FireAfterDelayHeld(const char *Type, const char *Name, const char *Instance,
                                            int32 DelayMilliseconds, Dictionary *UserInfo);
// Lock held. Gives back what a fire leaving the queue held.
void NotificationCenter_GiveBack(NotificationCenter *Center, NotificationPendingFire *Fire);
