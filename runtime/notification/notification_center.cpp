// Notification center: lifecycle, observer registration and removal, the
// removal flush, retained instances and the instance check. Delivery, queued
// fires and the process step are in notification_center_fire.cpp.
#include "runtime/notification/notification_center.h"

#include <string.h>

#include <string>

#include "runtime/containers/pool_internal.h"
#include "runtime/critical_section.h"
#include "runtime/debug.h"
#include "runtime/event_queue.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/notification/notification_center_internal.h"
#include "runtime/text/string.h"
#include "runtime/text/unicode_codec.h"
#include "runtime/thread.h"

NotificationCenter *GlobalNotificationCenter = nullptr;

namespace {

constexpr uint32 TableBuckets = 512;
constexpr uint32 RetainedKeySize = 40;
constexpr uint32 RecordsPerChunk = 10;
// The key of "Global"/"Global" observers of every instance.
constexpr const char WildcardKey[] = NOTIFICATIONCENTER_GLOBAL "." NOTIFICATIONCENTER_GLOBAL "." NOTIFICATIONCENTER_GLOBAL;
constexpr size_t WildcardKeyLength = sizeof(WildcardKey) - 1;
constexpr size_t ProcessTypeLength = std::char_traits<char>::length(NotificationCenterType);
constexpr size_t ProcessNameLength = std::char_traits<char>::length(NotificationProcessName);

NotificationCenter_AddInstanceObserverFunc AddInstanceObserverHook = nullptr;
NotificationCenter_RemoveInstanceObserverFunc RemoveInstanceObserverHook = nullptr;
NotificationCenter_AssertInstanceFunc AssertInstanceHook = nullptr;

// The owner thread of the center while its join check is installed.
uint32 JoinCheckOwner = 0;

// A thread blocked in a cross-thread fire waits for the owner thread's
// delivery, so the owner joining it would wait for ever. Only the owner's
// joins look at the center: the owner alone removes it, so it cannot vanish
// under the look.
int32 JoinWaitsForFire(uint32 ThreadId) {
    if (Thread_GetCurrentId() != __atomic_load_n(&JoinCheckOwner, __ATOMIC_ACQUIRE)) return FALSE;
    return NotificationCenter_IsThreadBlockedInFire(ThreadId);
}

template <typename Function> Function LoadHook(Function &Hook) { return __atomic_load_n(&Hook, __ATOMIC_ACQUIRE); }
template <typename Function> int32 StoreHook(Function &Hook, Function Value) {
    __atomic_store_n(&Hook, Value, __ATOMIC_RELEASE);
    return TRUE;
}

// Records are taken and returned from several threads, always under the
// center's lock: the pools need no lock of their own. Their makers set every
// field, so they need no clearing either.
Pool *CreatePool(uint32 RecordSize) {
    Pool *Handle = nullptr;
    Pool_Create(&Handle);
    Pool_SetMemorySize(Handle, RecordSize);
    Pool_SetChunkSize(Handle, RecordsPerChunk);
    Pool_SetZeroOnAlloc(Handle, FALSE);
    return Handle;
}

// Every fire looks up two or three keys of some sixty bytes (an instance
// part is a GUID), so the tables hash and compare keys eight bytes at a
// step. Equality folds ASCII letters to lower case as the table's own
// caseless functions fold them; the hash only sets bit 5 of every byte,
// which gives a letter's two cases one value (and a few punctuation pairs
// too, which the comparison then tells apart). The hash is the center's
// private business: keys are only ever compared within one table.
constexpr uint64 Bytes01 = 0x0101010101010101ull;
constexpr uint64 HashFold = Bytes01 * 0x20;
constexpr uint64 HashMultiplier = 0xff51afd7ed558ccdull;

inline uint64 FoldWord(uint64 Word) {
    const uint64 Low = Word & (Bytes01 * 0x7f);
    // High bit of each byte: at least 'A', above 'Z', and below 0x80.
    const uint64 Upper = (Low + Bytes01 * (0x80 - 'A')) & ~(Low + Bytes01 * (0x80 - 'Z' - 1)) & ~Word & (Bytes01 * 0x80);
    return Word | (Upper >> 2);
}

inline uint64 Load8(const char *Text) {
    uint64 Word;
    memcpy(&Word, Text, 8);
    return Word;
}

// The Length < 8 bytes at Text (little-endian, as full words load, the rest
// zero); never a byte outside the text. Texts of 8 bytes or more read their
// last 8 and shift the bytes before Text out.
inline uint64 LoadTail(const char *Text, size_t Length, size_t Whole) {
    if (Whole >= 8) return Length == 0 ? 0 : Load8(Text + Length - 8) >> (8 * (8 - Length));
    uint64 Word = 0;
    size_t At = 0;
    if (Length & 4) {
        uint32 Part;
        memcpy(&Part, Text, 4);
        Word = Part;
        At = 4;
    }
    if (Length & 2) {
        uint16 Part;
        memcpy(&Part, Text + At, 2);
        Word |= (uint64)Part << (8 * At);
        At += 2;
    }
    if (Length & 1) Word |= (uint64) static_cast<uint8>(Text[At]) << (8 * At);
    return Word;
}

// Whether Length bytes (at most 39) at Mine and Theirs are equal, a word or
// less at a step; the last step's load ends at the last byte, overlapping
// the one before it, so that no byte past either is read.
bool ShortBytesEqual(const char *Mine, const char *Theirs, size_t Length) {
    if (Length >= 8) {
        for (size_t At = 0; At + 8 < Length; At += 8)
            if (Load8(Mine + At) != Load8(Theirs + At)) return false;
        return Load8(Mine + Length - 8) == Load8(Theirs + Length - 8);
    }
    if (Length >= 4) {
        uint32 A, B, C, D;
        memcpy(&A, Mine, 4), memcpy(&B, Theirs, 4);
        memcpy(&C, Mine + Length - 4, 4), memcpy(&D, Theirs + Length - 4, 4);
        return A == B && C == D;
    }
    if (Length >= 2) {
        uint16 A, B, C, D;
        memcpy(&A, Mine, 2), memcpy(&B, Theirs, 2);
        memcpy(&C, Mine + Length - 2, 2), memcpy(&D, Theirs + Length - 2, 2);
        return A == B && C == D;
    }
    return Length == 0 || Mine[0] == Theirs[0];
}

inline const char *KeyText(const void *Key) { return Key != nullptr ? static_cast<const char *>(Key) : ""; }

// The table's stored text length rides as the callbacks' user value, doubled:
// a callback's user value must be even.
inline size_t LimitOf(void *User) { return reinterpret_cast<uintptr>(User) >> 1; }

inline uint64 MixWord(uint64 Hash, uint64 Word) {
    Hash = (Hash ^ (Word | HashFold)) * HashMultiplier;
    return Hash ^ (Hash >> 29);
}

// Mixes Length bytes of Text into Hash a word at a time, letters' cases
// alike. Before bytes ahead of Text belong to the same text: a short tail
// then loads as one word ending at the text's end.
[[gnu::always_inline]] inline uint64 MixFolded(uint64 Hash, const char *Text, size_t Length, size_t Before = 0) {
    size_t At = 0;
    for (; At + 8 <= Length; At += 8) Hash = MixWord(Hash, Load8(Text + At));
    if (At < Length) Hash = MixWord(Hash, LoadTail(Text + At, Length - At, Before + Length));
    return Hash;
}

// The retained instances' keys are single ids with no name part to share:
// one pass over the text.
uint32 HashKeyText(const char *Text, size_t Length) {
    uint64 Hash = MixFolded(0x9e3779b97f4a7c15ull ^ Length, Text, Length);
    Hash = (Hash ^ Length) * HashMultiplier;
    return (uint32)(Hash ^ (Hash >> 32));
}

// Whether the Length bytes at Text, letters' cases alike, are the stored key
// (a text of at most Most bytes, ended by a 0 byte below that).
bool KeyTextEqual(const char *Stored, const char *Text, size_t Length, size_t Most) {
    // The stored key is as long when it ends where the text does (or both
    // reach the limit) and holds no earlier end, which the compares below
    // find: an end byte never equals a letter, folded or not.
    if (Length < Most && Stored[Length] != 0) return false;
    // A key is mostly looked up as it was stored.
    if (memcmp(Stored, Text, Length) == 0) return true;
    size_t At = 0;
    for (; At + 8 <= Length; At += 8)
        if (FoldWord(Load8(Stored + At)) != FoldWord(Load8(Text + At))) return false;
    return At == Length ||
           FoldWord(LoadTail(Stored + At, Length - At, Length)) == FoldWord(LoadTail(Text + At, Length - At, Length));
}

// The retained instances' table keys are plain texts.
uint32 KeyHash(HashTable *, void *Limit, const void *Key) {
    const char *Text = KeyText(Key);
    return HashKeyText(Text, strnlen(Text, LimitOf(Limit)));
}

int32 KeyEqual(HashTable *, void *Limit, const void *StoredKeyArea, const void *Key) {
    const char *Text = KeyText(Key);
    const size_t Most = LimitOf(Limit);
    return KeyTextEqual(static_cast<const char *>(StoredKeyArea), Text, strnlen(Text, Most), Most) ? TRUE : FALSE;
}

HashTable *CreateCaselessTable(uint32 KeySize) {
    HashTable *Table = nullptr;
    HashTable_Create(&Table, KeySize, TableBuckets);
    // Every live task is retained under its own instance id: a workflow of
    // many tasks puts as many keys here, and the chains must stay short.
    HashTable_SetGrowable(Table, 1);
    void *Limit = reinterpret_cast<void *>(static_cast<uintptr>(KeySize - 1) << 1);
    HashTable_SetValueCallback(Table, Limit, KeyHash);
    HashTable_SetCompareCallback(Table, Limit, KeyEqual);
    return Table;
}

// Records come and go with every observer a task adds and removes: the
// pool's inline take and give serve them, its whole path only when the pool
// is in another mode (a test's debug mode, say).
template <typename Record> Record *TakeRecord(Pool *Handle) {
    return static_cast<Record *>(PoolInt_Alloc(Handle, (int32)sizeof(Record)));
}

template <typename Record> void FreeRecord(Pool *Handle, Record *Item) {
    PoolInt_Free(Handle, Item, (int32)sizeof(Record));
}

// Lock held. Frees the key record's process node, if any.
void DropProcessNode(NotificationCenter *Center, NotificationKeyRecord *Record) {
    NotificationProcessRecord *Node = Record->ProcessNode;
    if (Node == nullptr) return;
    NotificationList_Unlink(Center->ProcessObservers, Node);
    Record->ProcessNode = nullptr;
    FreeRecord(Center->ProcessPool, Node);
}

// Lock held. Flags a live entry removed and queues it for the flush. The
// entry stays linked until then, so that a delivery in progress can still
// step over it.
void FlagRemoved(NotificationCenter *Center, NotificationObserverRecord *Entry) {
    NotificationKeyRecord *Record = Entry->Record;
    Entry->Removed = 1;
    const bool Taken = Center->LiveUsers->Take(Entry);
    Debug_Assert(Taken, "NotificationCenter - Live observer count broken\n");
    auto *Removal = TakeRecord<NotificationRemoveRecord>(Center->RemovePool);
    Removal->Record = Record;
    Removal->Observer = Entry;
    NotificationList_Append(Center->Removals, Removal);
    if (Center->Verbose)
        Log_Debug("NotificationCenter - Remove observer - %s.%s - %s [0x%p]\n", Record->Type, Record->Name,
                  Record->Instance, Entry->User);
}

// Whether the Length bytes at Text equal a key record's field of FieldLength
// bytes, ASCII letters' cases alike as the observer table compares them.
bool FieldHolds(const char *Field, size_t FieldLength, const char *Text, size_t Length) {
    if (FieldLength != Length) return false;
    if (Length < NotificationNameSize ? ShortBytesEqual(Field, Text, Length) : memcmp(Field, Text, Length) == 0)
        return true;
    for (size_t At = 0; At < Length; At++) {
        const uint8 Mine = (uint8)Field[At], Theirs = (uint8)Text[At];
        if (Mine == Theirs) continue;
        if ((Mine | 0x20) != (Theirs | 0x20) || (uint8)((Mine | 0x20) - 'a') > 'z' - 'a') return false;
    }
    return true;
}

// Live entries of one user a removal looks at before it leaves the choice to
// the key's look-up: a user observing many keys (one per task, say) must not
// make every removal walk them all.
constexpr int32 UserSteps = 8;

// Lock held. The removal by the live entries of the user, when they decide
// it: true when an entry was flagged or none can be. The first of them with
// the function in the key's record is the first such entry of that record
// too, as both lists keep registration order. A key record
// matches when none of its names was cut and its fields are the names, each
// shorter than a field holds (so its key is never cut either): it then has
// the names' key. Names without dots also print no key but those of
// records with their very fields, so when no entry's record matches, no
// entry of that key exists. Anything else is left to the key's look-up.
bool RemoveByUser(NotificationCenter *Center, const NotificationFireNames &Names, void *User,
                  NotificationCenter_ObserverFunc Function) {
    NotificationObserverRecord *Entry = Center->LiveUsers->First(User);
    // No live entry with this user anywhere: nothing to remove.
    if (Entry == nullptr) return true;
    constexpr size_t Most = NotificationNameSize - 1;
    if (Names.TypeLength >= Most || Names.NameLength >= Most || Names.InstanceLength >= Most) return false;
    for (int32 Step = 0; Entry != nullptr; Entry = Entry->UserNext, Step++) {
        if (Step == UserSteps) return false;
        if (Entry->Function != Function) continue;
        const NotificationKeyRecord *Record = Entry->Record;
        if (Record == Center->Wildcard) {
            // Its type and name fields hold the last fired names, not its key's.
            if (!NotificationCenter_IsGlobal(Names.Type, Names.TypeLength) ||
                !NotificationCenter_IsGlobal(Names.Name, Names.NameLength) ||
                !NotificationCenter_IsGlobal(Names.Instance, Names.InstanceLength))
                return false;
            FlagRemoved(Center, Entry);
            return true;
        }
        if (Record->Whole && FieldHolds(Record->Instance, Record->InstanceLength, Names.Instance, Names.InstanceLength) &&
            FieldHolds(Record->Name, Record->NameLength, Names.Name, Names.NameLength) &&
            FieldHolds(Record->Type, Record->TypeLength, Names.Type, Names.TypeLength)) {
            FlagRemoved(Center, Entry);
            return true;
        }
    }
    return memchr(Names.Type, '.', Names.TypeLength) == nullptr && memchr(Names.Name, '.', Names.NameLength) == nullptr &&
           memchr(Names.Instance, '.', Names.InstanceLength) == nullptr;
}

// Lock held. The names' key written to Key, its length and its name part;
// the prefix is the center's kept one where the names allow.
size_t ComposeKey(NotificationCenter *Center, const NotificationFireNames &Names, char *Key,
                  NotificationNamePart &Part) {
    if (Names.TypeLength < NotificationNameSize && Names.NameLength < NotificationNameSize) {
        // A prefix that is not cut holds the key's name part.
        const NotificationPrefixMemo &Memo = NotificationCenter_PrefixMemo(Center, Names);
        // The whole field, a fixed move: the bytes past the prefix are
        // written over by the instance or never read.
        static_assert(sizeof(Memo.Prefix) <= NotificationKeySize);
        memcpy(Key, Memo.Prefix, sizeof(Memo.Prefix));
        Part = Memo.Part;
        return NotificationCenter_PrintKeyInstance(Key, Memo.Used, Names.Instance, Names.InstanceLength);
    }
    const size_t Length = NotificationCenter_PrintKeyInstance(
        Key, NotificationCenter_PrintKeyPrefix(Key, Names.Type, Names.TypeLength, Names.Name, Names.NameLength),
        Names.Instance, Names.InstanceLength);
    Part = NotificationCenter_NamePart(Key, Length);
    return Length;
}

// The names of an instance's "NotificationCenter"/"Interop" key.
NotificationFireNames InteropNames(const char *Instance) {
    constexpr size_t TypeLength = std::char_traits<char>::length(NotificationCenterType);
    constexpr size_t NameLength = std::char_traits<char>::length(NotificationInteropName);
    return {NotificationCenterType, NotificationInteropName, Instance, TypeLength, NameLength,
            NotificationCenter_PartLength(Instance)};
}

// Lock held. Adds an entry for the user and function under the names' key,
// making its key record when it is the first.
void AddLocked(NotificationCenter *Center, const NotificationFireNames &Names, void *User,
               NotificationCenter_ObserverFunc Function) {
    const char *Type = Names.Type, *Name = Names.Name, *Instance = Names.Instance;
    const size_t TypeLength = Names.TypeLength, NameLength = Names.NameLength, InstanceLength = Names.InstanceLength;
    char Key[NotificationKeySize];
    NotificationNamePart NamePart;
    const size_t Length = ComposeKey(Center, Names, Key, NamePart);
    const NotificationKeyProbe Probe = NotificationCenter_ProbeRest(Key, Length, NamePart);
    // With as many keys and users as a large workflow has live tasks, both
    // slots below are most often out of cache: read together, not in turn.
    Center->Observers->Prefetch(Probe.Hash);
    Center->LiveUsers->Prefetch(User);
    NotificationKeyRecord *Record = NotificationCenter_FindProbe(Center, Probe);
    if (Record == nullptr) {
        Record = TakeRecord<NotificationKeyRecord>(Center->KeyPool);
        Record->Hash = Probe.Hash;
        Record->KeyLength = (uint8)Probe.Length;
        memcpy(Record->Key, Probe.Text, Probe.Length);
        Record->Key[Probe.Length] = '\0';
        Record->TypeLength = (uint8)NotificationCenter_CopyMeasuredName(Record->Type, Type, TypeLength);
        Record->NameLength = (uint8)NotificationCenter_CopyMeasuredName(Record->Name, Name, NameLength);
        Record->InstanceLength = (uint8)NotificationCenter_CopyMeasuredName(Record->Instance, Instance, InstanceLength);
        Record->Whole = Record->TypeLength == TypeLength && Record->NameLength == NameLength &&
                        Record->InstanceLength == InstanceLength;
        Record->Observers = {};
        Record->ProcessNode = nullptr;
        Record->NameSlot = NotificationCenter_NameSlot(NamePart);
        Record->GlobalRest = NotificationCenter_HasGlobalRest(Key, Length, NamePart) ? 1 : 0;
        NotificationCenter_CountName(Center, Record, +1);
        if (TypeLength == ProcessTypeLength && NameLength == ProcessNameLength &&
            String_Compare(Type, NotificationCenterType) && String_Compare(Name, NotificationProcessName)) {
            auto *Node = TakeRecord<NotificationProcessRecord>(Center->ProcessPool);
            Node->Record = Record;
            Record->ProcessNode = Node;
            NotificationList_Append(Center->ProcessObservers, Node);
        }
        Center->Observers->Add(Record->Hash, Record);
        if (Length == WildcardKeyLength && String_CompareWithoutCase(Key, WildcardKey)) Center->Wildcard = Record;
    }
    if (Center->Verbose)
        Log_Debug("NotificationCenter - Add observer - %s.%s - %s [0x%p]\n", Record->Type, Record->Name, Instance,
                  User);
    auto *Entry = TakeRecord<NotificationObserverRecord>(Center->ObserverPool);
    Entry->Removed = 0;
    Entry->User = User;
    Entry->Function = Function;
    Entry->Record = Record;
    NotificationList_Append(Record->Observers, Entry);
    Center->LiveUsers->Add(Entry);
}

// Lock held. Flags the first live entry of the user and function under the
// names' key, if any.
void RemoveLocked(NotificationCenter *Center, const NotificationFireNames &Names, void *User,
                  NotificationCenter_ObserverFunc Function) {
    if (RemoveByUser(Center, Names, User, Function)) return;
    char Key[NotificationKeySize];
    NotificationNamePart NamePart;
    const NotificationKeyProbe Probe =
        NotificationCenter_ProbeRest(Key, ComposeKey(Center, Names, Key, NamePart), NamePart);
    NotificationKeyRecord *Record = NotificationCenter_FindProbe(Center, Probe);
    if (Record == nullptr) return;
    for (NotificationObserverRecord *Entry = Record->Observers.Head; Entry != nullptr; Entry = Entry->Next) {
        if (Entry->Removed || Entry->Function != Function || Entry->User != User) continue;
        FlagRemoved(Center, Entry);
        return;
    }
}

} // namespace

// ---- Helpers shared with the other sources ----

void NotificationCenter_StopUnchecked(const NotificationCenter *Center, const char *File, int32 Line) {
    Class_CheckTagAt(Center, Class.ClassId, NOTIFICATIONCENTER_CLASSID, File, Line);
    // Called only when that check fails, so it has stopped already.
    __builtin_unreachable();
}

size_t NotificationCenter_CopyCutName(char *Field, const char *Text, size_t Length) {
    // Back off continuation bytes so that a cut never splits a character.
    Length = unicode::CutLengthUtf8(Text, Length);
    memcpy(Field, Text, Length);
    Field[Length] = '\0';
    return Length;
}

// Composed by hand: a key over 121 bytes is cut silently, like a print into
// the 122-byte slot, without the print engine's overrun report.
size_t NotificationCenter_PrintKeyPrefix(char *Key, const char *Type, size_t TypeLength, const char *Name,
                                         size_t NameLength) {
    constexpr size_t Most = NotificationKeySize - 1;
    size_t Used = TypeLength < Most ? TypeLength : Most;
    memcpy(Key, Type, Used);
    if (Used < Most) Key[Used++] = '.';
    const size_t Taken = NameLength < Most - Used ? NameLength : Most - Used;
    memcpy(Key + Used, Name, Taken);
    Used += Taken;
    if (Used < Most) Key[Used++] = '.';
    Key[Used] = '\0';
    return Used;
}

size_t NotificationCenter_PrintKeyInstance(char *Key, size_t Used, const char *Instance, size_t InstanceLength) {
    const size_t Room = NotificationKeySize - 1 - Used;
    const size_t Taken = InstanceLength < Room ? InstanceLength : Room;
    // Mostly an id of 32 to 36 bytes: a few fixed moves, not a library call.
    if (Taken <= NotificationNameSize - 1)
        NotificationCenter_CopyBytes(Key + Used, Instance, Taken);
    else
        memcpy(Key + Used, Instance, Taken);
    Key[Used + Taken] = '\0';
    return Used + Taken;
}

size_t NotificationCenter_PrintKey(char *Key, const char *Type, const char *Name, const char *Instance) {
    Type = NotificationCenter_Part(Type);
    Name = NotificationCenter_Part(Name);
    Instance = NotificationCenter_Part(Instance);
    const size_t Prefix = NotificationCenter_PrintKeyPrefix(Key, Type, NotificationCenter_PartLength(Type), Name,
                                                            NotificationCenter_PartLength(Name));
    return NotificationCenter_PrintKeyInstance(Key, Prefix, Instance, NotificationCenter_PartLength(Instance));
}

NotificationNamePart NotificationCenter_NamePart(const char *Key, size_t Length) {
    size_t End = Length;
    if (const auto *First = static_cast<const char *>(memchr(Key, '.', Length))) {
        const size_t After = (size_t)(First - Key) + 1;
        if (const auto *Second = static_cast<const char *>(memchr(Key + After, '.', Length - After)))
            End = (size_t)(Second - Key) + 1;
    }
    return NotificationNamePart{End, MixFolded(0x9e3779b97f4a7c15ull ^ End, Key, End)};
}

bool NotificationCenter_MemoHolds(const NotificationPrefixMemo &Memo, const NotificationFireNames &Fired) {
    return ShortBytesEqual(Memo.Prefix, Fired.Type, Fired.TypeLength) &&
           ShortBytesEqual(Memo.Prefix + Fired.TypeLength + 1, Fired.Name, Fired.NameLength);
}

void NotificationCenter_MemoMake(NotificationPrefixMemo &Memo, const NotificationFireNames &Fired, uint32 Lengths) {
    Memo.Used = (uint32)NotificationCenter_PrintKeyPrefix(Memo.Prefix, Fired.Type, Fired.TypeLength, Fired.Name,
                                                          Fired.NameLength);
    Memo.Part = NotificationCenter_NamePart(Memo.Prefix, Memo.Used);
    Memo.Lengths = Lengths;
}

uint32 NotificationCenter_NameSlotOf(const char *Type, size_t TypeLength, const char *Name, size_t NameLength) {
    char Prefix[NotificationKeySize];
    const size_t Used = NotificationCenter_PrintKeyPrefix(Prefix, Type, TypeLength, Name, NameLength);
    return NotificationCenter_NameSlot(NotificationCenter_NamePart(Prefix, Used));
}

NotificationKeyProbe NotificationCenter_ProbeRest(const char *Key, size_t Length, const NotificationNamePart &Part) {
    uint64 Hash = MixFolded(Part.Hash, Key + Part.Length, Length - Part.Length, Part.Length);
    Hash = (Hash ^ Length) * HashMultiplier;
    return NotificationKeyProbe{Key, Length, (uint32)(Hash ^ (Hash >> 32))};
}

NotificationKeyProbe NotificationCenter_Probe(const char *Key, size_t Length) {
    return NotificationCenter_ProbeRest(Key, Length, NotificationCenter_NamePart(Key, Length));
}

void NotificationCenter_CountName(NotificationCenter *Center, NotificationKeyRecord *Record, int32 Change) {
    uint32 &Count = Center->NameCounts[Record->NameSlot];
    uint32 &Global = Center->GlobalCounts[Record->NameSlot];
    Debug_Assert(Change > 0 || (Count > 0 && (Global > 0 || !Record->GlobalRest)),
                 "NotificationCenter - Name count broken\n");
    Count += (uint32)Change;
    if (Record->GlobalRest) Global += (uint32)Change;
}

NotificationKeyRecord *NotificationCenter_Find(NotificationCenter *Center, const char *Type, const char *Name,
                                               const char *Instance) {
    char Key[NotificationKeySize];
    const size_t Length = NotificationCenter_PrintKey(Key, Type, Name, Instance);
    return NotificationCenter_FindProbe(Center, NotificationCenter_Probe(Key, Length));
}

NotificationKeyRecord *NotificationCenter_FindProbe(NotificationCenter *Center, const NotificationKeyProbe &Probe) {
    static_assert(NotificationKeySize - 1 <= 255, "a key's length is kept in a byte");
    return Center->Observers->Get(Probe.Hash, [&Probe](const NotificationKeyRecord *Record) {
        return Record->KeyLength == Probe.Length &&
               KeyTextEqual(Record->Key, Probe.Text, Probe.Length, NotificationKeySize - 1);
    });
}

void NotificationCenter_RemoveFlush(NotificationCenter *Center) {
    while (NotificationRemoveRecord *Removal = Center->Removals.Head) {
        NotificationList_Unlink(Center->Removals, Removal);
        NotificationKeyRecord *Record = Removal->Record;
        NotificationList_Unlink(Record->Observers, Removal->Observer);
        FreeRecord(Center->ObserverPool, Removal->Observer);
        if (Record->Observers.Count == 0) {
            DropProcessNode(Center, Record);
            Center->Observers->Erase(Record->Hash,
                                     [Record](const NotificationKeyRecord *Each) { return Each == Record; });
            if (Center->Wildcard == Record) Center->Wildcard = nullptr;
            NotificationCenter_CountName(Center, Record, -1);
            FreeRecord(Center->KeyPool, Record);
        }
        FreeRecord(Center->RemovePool, Removal);
    }
}

int32 NotificationCenter_IsRetained(NotificationCenter *Center, const char *Instance) {
    if (Instance == nullptr) return FALSE;
    NotificationCenter_Lock(Center);
    int32 Result = HashTable_ContainsKey(Center->RetainedInstances, Instance);
    NotificationCenter_Unlock(Center);
    return Result;
}

// ---- Lifecycle ----

int32 NotificationCenter_Init(void) {
    if (GlobalNotificationCenter != nullptr) return TRUE;
    NotificationCenter *Center = Memory_New(NotificationCenter);
    Class_InitHeader(Center, NOTIFICATIONCENTER_CLASSID, nullptr);
    CriticalSection_Create(&Center->Lock);
    Debug_CheckPointer(Center->Lock);
    Center->OwnerThreadId = Thread_GetCurrentId();
    int32 Level = 0;
    Log_GetVerboseLevel("NotificationCenter", &Level);
    Center->Verbose = Level > 0 ? 1 : 0;
    Center->Observers = new ProbeTable<NotificationKeyRecord *>;
    Center->RetainedInstances = CreateCaselessTable(RetainedKeySize);
    Center->KeyPool = CreatePool(sizeof(NotificationKeyRecord));
    Center->ObserverPool = CreatePool(sizeof(NotificationObserverRecord));
    Center->PendingPool = CreatePool(sizeof(NotificationPendingFire));
    Center->RemovePool = CreatePool(sizeof(NotificationRemoveRecord));
    Center->ProcessPool = CreatePool(sizeof(NotificationProcessRecord));
    Center->LiveUsers = new NotificationUserCounts();
    Dictionary_Create(&Center->InteropReferences);
    // Instance ids are matched without case everywhere else too.
    Dictionary_SetCaseSensitive(Center->InteropReferences, 0);
    __atomic_store_n(&GlobalNotificationCenter, Center, __ATOMIC_RELEASE);
    __atomic_store_n(&JoinCheckOwner, Center->OwnerThreadId, __ATOMIC_RELEASE);
    Thread_SetJoinCheck(JoinWaitsForFire);
    return TRUE;
}

int32 NotificationCenter_Remove(void) {
    NotificationCenter *Center = GlobalNotificationCenter;
    if (Center == nullptr) return TRUE;
    Debug_Assert(Center->DeliveryDepth == 0, "NotificationCenter - Remove called from inside a delivery\n");
    Thread_SetJoinCheck(nullptr);
    __atomic_store_n(&JoinCheckOwner, 0u, __ATOMIC_RELEASE);

    NotificationCenter_Lock(Center);
    NotificationCenter_RemoveFlush(Center);
    if (Center->ProcessPosted) EventQueue_RemoveInstanceByThreadId(Center->OwnerThreadId, Center);

    Center->Walked = nullptr;
    while (NotificationPendingFire *Fire = Center->Pending.Head) {
        NotificationList_Unlink(Center->Pending, Fire);
        if (Center->Verbose)
            Log_Debug("NotificationCenter - Skipping pending fire - %s.%s - %s\n", Fire->Type, Fire->Name,
                      Fire->Instance);
        NotificationCenter_GiveBack(Center, Fire);
        if (Fire->UserInfo != nullptr) Dictionary_Release(&Fire->UserInfo);
        // A thread blocked on this fire would otherwise wait for ever; its
        // delivered flag stays 0.
        Signal *Waiter = Fire->Waiter;
        FreeRecord(Center->PendingPool, Fire);
        if (Waiter != nullptr) Signal_Set(Waiter, 1);
    }
    while (NotificationProcessRecord *Node = Center->ProcessObservers.Head) {
        NotificationList_Unlink(Center->ProcessObservers, Node);
        FreeRecord(Center->ProcessPool, Node);
    }
    Center->Observers->ForEach([Center](NotificationKeyRecord *Record) {
        while (NotificationObserverRecord *Entry = Record->Observers.Head) {
            Log_Debug("NotificationCenter - Callback not removed %s.%s - %s\n", Record->Type, Record->Name,
                      Record->Instance);
            NotificationList_Unlink(Record->Observers, Entry);
            FreeRecord(Center->ObserverPool, Entry);
        }
        NotificationCenter_CountName(Center, Record, -1);
        FreeRecord(Center->KeyPool, Record);
    });
    Center->Wildcard = nullptr;
    delete Center->Observers;
    Center->Observers = nullptr;
    HashTable_Delete(&Center->RetainedInstances);
    Pool_Delete(&Center->KeyPool);
    Pool_Delete(&Center->ObserverPool);
    Pool_Delete(&Center->PendingPool);
    Pool_Delete(&Center->RemovePool);
    Pool_Delete(&Center->ProcessPool);
    Dictionary_Release(&Center->InteropReferences);
    MemoryBudget_Give(Center->ReferencesCharged);
    Center->ReferencesCharged = 0;
    delete Center->LiveUsers;
    Center->LiveUsers = nullptr;
    __atomic_store_n(&GlobalNotificationCenter, nullptr, __ATOMIC_RELEASE);
    NotificationCenter_Unlock(Center);

    CriticalSection_Delete(&Center->Lock);
    Center->Class.ClassId = 0;
    Memory_Delete(Center);
    return TRUE;
}

int32 NotificationCenter_SetVerbose(uint32 Flag) {
    NotificationCenter *Center = NotificationCenter_Checked();
    NotificationCenter_Lock(Center);
    Center->Verbose = Flag;
    NotificationCenter_Unlock(Center);
    return TRUE;
}

// ---- Observers ----

int32 NotificationCenter_AddInstanceObserver(const char *Type, const char *Name, const char *Instance, void *User,
                                             NotificationCenter_ObserverFunc Function) {
    if (auto Hook = LoadHook(AddInstanceObserverHook)) return Hook(Type, Name, Instance, User, Function);
    NotificationCenter *Center = NotificationCenter_Checked();
    const NotificationFireNames Names = NotificationCenter_MeasureNames(Type, Name, Instance);
    NotificationCenter_Lock(Center);
    AddLocked(Center, Names, User, Function);
    NotificationCenter_Unlock(Center);
    return TRUE;
}

int32 NotificationCenter_AddObserver(const char *Type, const char *Name, void *User,
                                     NotificationCenter_ObserverFunc Function) {
    return NotificationCenter_AddInstanceObserver(Type, Name, NOTIFICATIONCENTER_GLOBAL, User, Function);
}

int32 NotificationCenter_RemoveInstanceObserver(const char *Type, const char *Name, const char *Instance,
                                                void *User, NotificationCenter_ObserverFunc Function) {
    if (auto Hook = LoadHook(RemoveInstanceObserverHook)) return Hook(Type, Name, Instance, User, Function);
    NotificationCenter *Center = NotificationCenter_Checked();
    const NotificationFireNames Names = NotificationCenter_MeasureNames(Type, Name, Instance);
    NotificationCenter_Lock(Center);
    RemoveLocked(Center, Names, User, Function);
    // Outside any delivery on the owner thread nothing walks the entries:
    // the removal frees at once, so that a caller adding and removing in a
    // loop (a page's script) holds no more than its live observers.
    if (Center->DeliveryDepth == 0 && Thread_GetCurrentId() == Center->OwnerThreadId)
        NotificationCenter_RemoveFlush(Center);
    NotificationCenter_Unlock(Center);
    return TRUE;
}

int32 NotificationCenter_RemoveObserver(const char *Type, const char *Name, void *User,
                                        NotificationCenter_ObserverFunc Function) {
    return NotificationCenter_RemoveInstanceObserver(Type, Name, NOTIFICATIONCENTER_GLOBAL, User, Function);
}

int32 NotificationCenter_AddProcessObserver(const char *Instance, void *User,
                                            NotificationCenter_ObserverFunc Function) {
    return NotificationCenter_AddInstanceObserver(NotificationCenterType, NotificationProcessName, Instance, User,
                                                  Function);
}

int32 NotificationCenter_RemoveProcessObserver(const char *Instance, void *User,
                                               NotificationCenter_ObserverFunc Function) {
    return NotificationCenter_RemoveInstanceObserver(NotificationCenterType, NotificationProcessName, Instance, User,
                                                     Function);
}

// ---- Retained instances and interop observers ----

int32 NotificationCenter_RetainInstance(const char *Instance) {
    NotificationCenter *Center = NotificationCenter_Checked();
    if (Instance == nullptr) return FALSE;
    NotificationCenter_Lock(Center);
    HashTable_Add(Center->RetainedInstances, Instance, 1);
    NotificationCenter_Unlock(Center);
    return TRUE;
}

int32 NotificationCenter_UnretainInstance(const char *Instance) {
    NotificationCenter *Center = NotificationCenter_Checked();
    if (Instance == nullptr) return FALSE;
    NotificationCenter_Lock(Center);
    HashTable_Remove(Center->RetainedInstances, Instance);
    NotificationCenter_Unlock(Center);
    return TRUE;
}

int32 NotificationCenter_AddInteropObserver(const char *Instance, void *User,
                                            NotificationCenter_ObserverFunc Function) {
    if (Instance == nullptr || LoadHook(AddInstanceObserverHook) != nullptr) {
        NotificationCenter_RetainInstance(Instance);
        return NotificationCenter_AddInstanceObserver(NotificationCenterType, NotificationInteropName, Instance, User,
                                                      Function);
    }
    // Both under one hold of the lock, the instance measured once.
    NotificationCenter *Center = NotificationCenter_Checked();
    const NotificationFireNames Names = InteropNames(Instance);
    NotificationCenter_Lock(Center);
    HashTable_Add(Center->RetainedInstances, Instance, 1);
    AddLocked(Center, Names, User, Function);
    NotificationCenter_Unlock(Center);
    return TRUE;
}

int32 NotificationCenter_RemoveInteropObserver(const char *Instance, void *User,
                                               NotificationCenter_ObserverFunc Function) {
    if (Instance == nullptr || LoadHook(RemoveInstanceObserverHook) != nullptr) {
        NotificationCenter_UnretainInstance(Instance);
        return NotificationCenter_RemoveInstanceObserver(NotificationCenterType, NotificationInteropName, Instance,
                                                         User, Function);
    }
    // Both under one hold of the lock, the instance measured once.
    NotificationCenter *Center = NotificationCenter_Checked();
    const NotificationFireNames Names = InteropNames(Instance);
    NotificationCenter_Lock(Center);
    HashTable_Remove(Center->RetainedInstances, Instance);
    RemoveLocked(Center, Names, User, Function);
    NotificationCenter_Unlock(Center);
    return TRUE;
}

// ---- Checks ----

int32 NotificationCenter_AssertInstance(void *Object) {
    if (auto Hook = LoadHook(AssertInstanceHook)) return Hook(Object);
    NotificationCenter *Center = NotificationCenter_Checked();
    Debug_CheckPointer(Object);
    int32 Count = 0;
    NotificationCenter_Lock(Center);
    // The walk only names the entries for the log; most deletes have none.
    if (Center->LiveUsers->Count(Object) == 0) {
        NotificationCenter_Unlock(Center);
        return TRUE;
    }
    Center->Observers->ForEach([&Count, Object](NotificationKeyRecord *Record) {
        for (NotificationObserverRecord *Entry = Record->Observers.Head; Entry != nullptr; Entry = Entry->Next) {
            if (Entry->Removed || Entry->User != Object) continue;
            Log_Debug("NotificationCenter - Observer still references instance - %s.%s - %s [0x%p]\n",
                      Record->Type, Record->Name, Record->Instance, Object);
            Count++;
        }
    });
    NotificationCenter_Unlock(Center);
    if (Count > 0) {
        char InstanceId[37];
        Class_CopyInstanceId(Object, InstanceId, (int32)sizeof(InstanceId));
        Debug_Abort("Assertion failed (RefCount == 0)\nNotificationCenter - Instance still has %d references - %s "
                    "[0x%p]\n",
                    Count, InstanceId, Object);
    }
    return TRUE;
}

int32 NotificationCenter_IsThreadBlockedInFire(uint32 ThreadId) {
    NotificationCenter *Center = __atomic_load_n(&GlobalNotificationCenter, __ATOMIC_ACQUIRE);
    if (Center == nullptr) return FALSE;
    int32 Found = FALSE;
    NotificationCenter_Lock(Center);
    for (NotificationPendingFire *Fire = Center->Pending.Head; Fire != nullptr && !Found; Fire = Fire->Next)
        Found = Fire->Waiter != nullptr && Fire->WaiterThreadId == ThreadId;
    NotificationCenter_Unlock(Center);
    return Found;
}

// ---- Forwarding hooks ----

int32 NotificationCenter_AddInstanceObserverOverride(NotificationCenter_AddInstanceObserverFunc Function) {
    return StoreHook(AddInstanceObserverHook, Function);
}

int32 NotificationCenter_RemoveInstanceObserverOverride(NotificationCenter_RemoveInstanceObserverFunc Function) {
    return StoreHook(RemoveInstanceObserverHook, Function);
}

int32 NotificationCenter_AssertInstanceOverride(NotificationCenter_AssertInstanceFunc Function) {
    return StoreHook(AssertInstanceHook, Function);
}
