// HashTable: chained buckets of pool members; see hash_table.h.
//
// Invariants: every member in bucket b's chain has Bucket == b and Hash ==
// hash(key) as computed when it was added; chains are doubly linked with the
// newest member at the head; MemberCount equals the number of linked members
// and is changed only atomically.
#include "runtime/containers/hash_table.h"

#include <string.h>

#include "runtime/callback.h"
#include "runtime/class.h"
#include "runtime/containers/pool.h"
#include "runtime/containers/pool_internal.h"
#include "runtime/debug.h"
#include "runtime/log.h"
#include "runtime/memory.h"

struct HashTableMember {
    uint32 MemberId;
    uint32 Hash;
    uint64 Value;
    HashTableMember *Previous;
    HashTableMember *Next;
    uint32 Bucket;
    uint32 Reserved;
    // The key area (the table's key size, at least 8 bytes) follows.
};

struct HashTable {
    ClassStruct Class;
    Pool *MemberPool;
    HashTableMember **Buckets;
    uint32 BucketCount;
    uint32 KeySize;
    uint32 MemberSize;
    uint32 MemberCount;
    // Set by HashTable_SetGrowable: the bucket array grows as members come.
    uint32 Growable;
    // BucketCount - 1 when the count is a power of two above 1 (a bucket is
    // then the hash's low bits, as the modulo gives), else 0.
    uint32 BucketMask;
    uint32 Spare[2];
    CallbackStruct KeyAssign;
    CallbackStruct Value;
    CallbackStruct Compare;
};

static_assert(offsetof(HashTableMember, Value) == 8);
static_assert(offsetof(HashTableMember, Bucket) == 32);
static_assert(sizeof(HashTableMember) == 40);
static_assert(offsetof(HashTable, MemberPool) == sizeof(ClassStruct));
static_assert(offsetof(HashTable, KeyAssign) % CALLBACK_ALIGN_BYTES == 0);

namespace {

constexpr uint32 MemberChunkSize = 10;
// The storing key-assign forms write an 8-byte value, so no key area is
// smaller than that, whatever key size the table reports.
constexpr uint32 MinimumKeyArea = 8;
constexpr uint32 MaximumKeySize = 1u << 24;
constexpr uint32 MaximumBucketCount = 1u << 27;

// Set once the first cut key has been logged, so a table fed long keys in a
// loop does not flood the log.
int32 LongKeyLogged = 0;

inline char *KeyAreaOf(HashTableMember *Member) { return reinterpret_cast<char *>(Member) + sizeof(HashTableMember); }

inline const char *TextOf(const void *Key) { return Key != nullptr ? static_cast<const char *>(Key) : ""; }

inline uint8 FoldAscii(uint8 Byte) { return (Byte >= 'A' && Byte <= 'Z') ? (uint8)(Byte + ('a' - 'A')) : Byte; }

// Longest text a table's copied keys keep; unlimited for tables that do not
// copy string keys (pointer keys, or no table at hand).
uint32 StoredTextLimit(const HashTable *Table) {
    if (Table == nullptr) return UINT32_MAX;
    if (Table->KeyAssign.Base.Function != reinterpret_cast<void *>(&HashTable_StringKeyAssign)) return UINT32_MAX;
    return Table->KeySize > 0 ? Table->KeySize - 1 : 0;
}

uint32 Avalanche(uint32 Hash) {
    Hash += Hash << 13;
    Hash ^= Hash >> 7;
    Hash += Hash << 3;
    Hash ^= Hash >> 17;
    Hash += Hash << 5;
    return Hash;
}

template <bool Fold> uint32 HashText(const char *Text, uint32 Limit) {
    uint32 Hash = 0x811c9dc5u;
    for (uint32 Index = 0; Index < Limit && Text[Index] != 0; Index++) {
        uint8 Byte = static_cast<uint8>(Text[Index]);
        Hash ^= Fold ? FoldAscii(Byte) : Byte;
        Hash *= 16777619u;
    }
    return Avalanche(Hash);
}

template <bool Fold> bool TextEqual(const char *Stored, const char *Key, uint32 Limit) {
    if constexpr (!Fold) {
        return (Limit == UINT32_MAX ? strcmp(Stored, Key) : strncmp(Stored, Key, Limit)) == 0;
    } else {
        for (uint32 Index = 0; Index < Limit; Index++) {
            uint8 A = static_cast<uint8>(Stored[Index]), B = static_cast<uint8>(Key[Index]);
            if (FoldAscii(A) != FoldAscii(B)) return false;
            if (A == 0) return true;
        }
        return true;
    }
}

uint32 WangMix(uint32 Key) {
    Key += ~(Key << 15);
    Key ^= Key >> 10;
    Key += Key << 3;
    Key ^= Key >> 6;
    Key += ~(Key << 11);
    Key ^= Key >> 16;
    return Key;
}

uint64 KeyValue(const void *Key) { return static_cast<uint64>(reinterpret_cast<uintptr>(Key)); }

uint64 StoredValue(const void *StoredKeyArea) {
    uint64 Value;
    memcpy(&Value, StoredKeyArea, sizeof(Value));
    return Value;
}

// The tables' callbacks are set while the table is set up and read under the
// owner's discipline, so the lookups read the pair directly.
uint32 ComputeHash(HashTable *Table, const void *Key) {
    auto Function = reinterpret_cast<HashTable_ValueFunc>(Table->Value.Base.Function);
    return Function != nullptr ? Function(Table, Table->Value.Base.UserPtr, Key) : 0;
}

uint32 MaskFor(uint32 Count) { return Count > 1 && (Count & (Count - 1)) == 0 ? Count - 1 : 0; }

// Hash modulo the bucket count, without a division where the count allows.
inline uint32 BucketOf(const HashTable *Table, uint32 Hash) {
    return Table->BucketMask != 0 ? Hash & Table->BucketMask : Hash % Table->BucketCount;
}

HashTableMember *FindMember(HashTable *Table, const void *Key, uint32 Hash) {
    auto Compare = reinterpret_cast<HashTable_CompareFunc>(Table->Compare.Base.Function);
    for (HashTableMember *Member = Table->Buckets[BucketOf(Table, Hash)]; Member != nullptr;
         Member = Member->Next) {
        if (Member->Hash != Hash) continue;
        if (Compare == nullptr || Compare(Table, Table->Compare.Base.UserPtr, KeyAreaOf(Member), Key)) return Member;
    }
    return nullptr;
}

HashTableMember *FindMember(HashTable *Table, const void *Key) { return FindMember(Table, Key, ComputeHash(Table, Key)); }

HashTableMember *FirstFromBucket(HashTable *Table, uint32 Bucket) {
    for (; Bucket < Table->BucketCount; Bucket++)
        if (Table->Buckets[Bucket] != nullptr) return Table->Buckets[Bucket];
    return nullptr;
}

// Four times the buckets, each member relinked under its stored hash: chains
// stay near two members long, whatever the table holds.
void Grow(HashTable *Table) {
    const uint32 Count = Table->BucketCount * 4;
    auto **Buckets = static_cast<HashTableMember **>(Memory_AllocZero((int32)(sizeof(HashTableMember *) * Count)));
    for (uint32 Bucket = 0; Bucket < Table->BucketCount; Bucket++) {
        for (HashTableMember *Member = Table->Buckets[Bucket]; Member != nullptr;) {
            HashTableMember *Next = Member->Next;
            const uint32 Target = Member->Hash % Count;
            Member->Bucket = Target;
            Member->Previous = nullptr;
            Member->Next = Buckets[Target];
            if (Member->Next != nullptr) Member->Next->Previous = Member;
            Buckets[Target] = Member;
            Member = Next;
        }
    }
    Memory_Free(Table->Buckets, (int32)(sizeof(HashTableMember *) * Table->BucketCount));
    Table->Buckets = Buckets;
    Table->BucketCount = Count;
    Table->BucketMask = MaskFor(Count);
}

void ForgetMembers(HashTable *Table) {
    memset(Table->Buckets, 0, sizeof(HashTableMember *) * Table->BucketCount);
    __atomic_store_n(&Table->MemberCount, 0u, __ATOMIC_SEQ_CST);
}

} // namespace

int32 HashTable_Create(HashTable **Table, uint32 KeySize, uint32 BucketCount) {
    Debug_CheckPointer(Table);
    Debug_Assert(KeySize <= MaximumKeySize, "Hash table key size too large (%u)", KeySize);
    Debug_Assert(BucketCount <= MaximumBucketCount, "Hash table bucket count too large (%u)", BucketCount);
    if (BucketCount == 0) BucketCount = 1;

    HashTable *New = Memory_New(HashTable);
    Class_InitHeader(New, HASHTABLE_CLASS_ID, nullptr);
    New->BucketCount = BucketCount;
    New->BucketMask = MaskFor(BucketCount);
    New->KeySize = KeySize;
    New->MemberSize = (uint32)sizeof(HashTableMember) + (KeySize > MinimumKeyArea ? KeySize : MinimumKeyArea);
    New->Buckets = static_cast<HashTableMember **>(Memory_AllocZero((int32)(sizeof(HashTableMember *) * BucketCount)));
    Pool_CreateInt(&New->MemberPool, __FILE__, __LINE__);
    Pool_SetMemorySize(New->MemberPool, New->MemberSize);
    Pool_SetChunkSize(New->MemberPool, MemberChunkSize);
    // A new member is cleared where it is taken, with its key area.
    Pool_SetZeroOnAlloc(New->MemberPool, 0);
    CallbackBase_SetReal(&New->KeyAssign.Base, FALSE, nullptr, reinterpret_cast<void *>(&HashTable_StringKeyAssign));
    CallbackBase_SetReal(&New->Value.Base, FALSE, nullptr, reinterpret_cast<void *>(&HashTable_StringValue));
    CallbackBase_SetReal(&New->Compare.Base, FALSE, nullptr, reinterpret_cast<void *>(&HashTable_StringCompare));
    *Table = New;
    return TRUE;
}

int32 HashTable_Delete(HashTable **Table) {
    Debug_CheckPointer(Table);
    HashTable *Old = *Table;
    Class_CheckHandle(Old, HASHTABLE_CLASS_ID);
    ForgetMembers(Old);
    Pool_RemoveAll(Old->MemberPool);
    Pool_Delete(&Old->MemberPool);
    Memory_Free(Old->Buckets, (int32)(sizeof(HashTableMember *) * Old->BucketCount));
    Old->Class.ClassId = 0;
    Memory_Delete(Old);
    *Table = nullptr;
    return TRUE;
}

int32 HashTable_SetKeyAssignCallback(HashTable *Table, void *UserPtr, HashTable_KeyAssignFunc Function) {
    Class_CheckHandle(Table, HASHTABLE_CLASS_ID);
    return CallbackBase_SetReal(&Table->KeyAssign.Base, FALSE, UserPtr, reinterpret_cast<void *>(Function));
}

int32 HashTable_SetValueCallback(HashTable *Table, void *UserPtr, HashTable_ValueFunc Function) {
    Class_CheckHandle(Table, HASHTABLE_CLASS_ID);
    return CallbackBase_SetReal(&Table->Value.Base, FALSE, UserPtr, reinterpret_cast<void *>(Function));
}

int32 HashTable_SetCompareCallback(HashTable *Table, void *UserPtr, HashTable_CompareFunc Function) {
    Class_CheckHandle(Table, HASHTABLE_CLASS_ID);
    return CallbackBase_SetReal(&Table->Compare.Base, FALSE, UserPtr, reinterpret_cast<void *>(Function));
}

int32 HashTable_Add(HashTable *Table, const void *Key, uint64 Value) {
    return HashTable_AddEx(Table, Key, Value, nullptr);
}

int32 HashTable_AddEx(HashTable *Table, const void *Key, uint64 Value, HashTableMember **Member) {
    Class_CheckHandle(Table, HASHTABLE_CLASS_ID);
    HashTableMember *Found = nullptr;
    HashTable_MemberFindOrAdd(Table, Key, &Found, nullptr);
    Found->Value = Value;
    if (Member != nullptr) *Member = Found;
    return TRUE;
}

int32 HashTable_MemberFindOrAdd(HashTable *Table, const void *Key, HashTableMember **Member, int32 *Added) {
    Class_CheckHandle(Table, HASHTABLE_CLASS_ID);
    Debug_CheckPointer(Member);
    uint32 Hash = ComputeHash(Table, Key);
    HashTableMember *Found = FindMember(Table, Key, Hash);
    if (Added != nullptr) *Added = Found == nullptr;
    if (Found == nullptr) {
        uint32 Bucket = BucketOf(Table, Hash);
        Found = static_cast<HashTableMember *>(PoolInt_Alloc(Table->MemberPool, (int32)Table->MemberSize));
        memset(Found, 0, Table->MemberSize);
        Found->MemberId = HASHTABLE_MEMBER_ID;
        auto Assign = reinterpret_cast<HashTable_KeyAssignFunc>(Table->KeyAssign.Base.Function);
        if (Assign != nullptr) Assign(Table, Table->KeyAssign.Base.UserPtr, KeyAreaOf(Found), Table->KeySize, Key);
        Found->Hash = Hash;
        Found->Bucket = Bucket;
        Found->Next = Table->Buckets[Bucket];
        if (Found->Next != nullptr) Found->Next->Previous = Found;
        Table->Buckets[Bucket] = Found;
        const uint32 Members = __atomic_add_fetch(&Table->MemberCount, 1u, __ATOMIC_SEQ_CST);
        if (Table->Growable && Members > Table->BucketCount && Table->BucketCount <= MaximumBucketCount / 4)
            Grow(Table);
    }
    *Member = Found;
    return TRUE;
}

int32 HashTable_SetGrowable(HashTable *Table, uint32 Growable) {
    Class_CheckHandle(Table, HASHTABLE_CLASS_ID);
    Table->Growable = Growable ? 1 : 0;
    return TRUE;
}

int32 HashTable_GetValue(HashTable *Table, const void *Key, uint64 *Value) {
    Class_CheckHandle(Table, HASHTABLE_CLASS_ID);
    HashTableMember *Found = FindMember(Table, Key);
    if (Value != nullptr) *Value = Found != nullptr ? Found->Value : 0;
    return Found != nullptr;
}

int32 HashTable_ContainsKey(HashTable *Table, const void *Key) {
    Class_CheckHandle(Table, HASHTABLE_CLASS_ID);
    return FindMember(Table, Key) != nullptr;
}

int32 HashTable_MemberFindByKey(HashTable *Table, const void *Key, HashTableMember **Member) {
    Class_CheckHandle(Table, HASHTABLE_CLASS_ID);
    Debug_CheckPointer(Member);
    *Member = FindMember(Table, Key);
    return *Member != nullptr;
}

int32 HashTable_Remove(HashTable *Table, const void *Key) {
    Class_CheckHandle(Table, HASHTABLE_CLASS_ID);
    HashTableMember *Found = FindMember(Table, Key);
    if (Found == nullptr) return FALSE;
    return HashTable_MemberRemove(Table, &Found);
}

int32 HashTable_MemberRemove(HashTable *Table, HashTableMember **Member) {
    Class_CheckHandle(Table, HASHTABLE_CLASS_ID);
    Debug_CheckPointer(Member);
    HashTableMember *Old = *Member;
    Class_CheckTag(Old, MemberId, HASHTABLE_MEMBER_ID);
    Debug_Assert(Old->Bucket < Table->BucketCount, "Hash table member is not in this table");
    if (Old->Previous != nullptr) {
        Old->Previous->Next = Old->Next;
    } else {
        Debug_Assert(Table->Buckets[Old->Bucket] == Old, "Hash table member is not in this table");
        Table->Buckets[Old->Bucket] = Old->Next;
    }
    if (Old->Next != nullptr) Old->Next->Previous = Old->Previous;
    Old->MemberId = 0;
    PoolInt_Free(Table->MemberPool, Old, (int32)Table->MemberSize);
    __atomic_sub_fetch(&Table->MemberCount, 1u, __ATOMIC_SEQ_CST);
    *Member = nullptr;
    return TRUE;
}

int32 HashTable_MemberGetFirst(HashTable *Table, HashTableMember **Member) {
    Class_CheckHandle(Table, HASHTABLE_CLASS_ID);
    Debug_CheckPointer(Member);
    *Member = __atomic_load_n(&Table->MemberCount, __ATOMIC_SEQ_CST) == 0 ? nullptr : FirstFromBucket(Table, 0);
    return *Member != nullptr;
}

int32 HashTable_MemberGetNext(HashTable *Table, HashTableMember *Member, HashTableMember **Next) {
    Class_CheckHandle(Table, HASHTABLE_CLASS_ID);
    Class_CheckTag(Member, MemberId, HASHTABLE_MEMBER_ID);
    Debug_CheckPointer(Next);
    *Next = Member->Next != nullptr ? Member->Next : FirstFromBucket(Table, Member->Bucket + 1);
    return *Next != nullptr;
}

int32 HashTable_MemberGetKey(HashTable *Table, HashTableMember *Member, void **KeyArea) {
    Class_CheckHandle(Table, HASHTABLE_CLASS_ID);
    Class_CheckTag(Member, MemberId, HASHTABLE_MEMBER_ID);
    Debug_CheckPointer(KeyArea);
    *KeyArea = KeyAreaOf(Member);
    return TRUE;
}

int32 HashTable_MemberGetValue(HashTable *Table, HashTableMember *Member, uint64 *Value) {
    Class_CheckHandle(Table, HASHTABLE_CLASS_ID);
    Class_CheckTag(Member, MemberId, HASHTABLE_MEMBER_ID);
    Debug_CheckPointer(Value);
    *Value = Member->Value;
    return TRUE;
}

int32 HashTable_MemberSetValue(HashTable *Table, HashTableMember *Member, uint64 Value) {
    Class_CheckHandle(Table, HASHTABLE_CLASS_ID);
    Class_CheckTag(Member, MemberId, HASHTABLE_MEMBER_ID);
    Member->Value = Value;
    return TRUE;
}

int32 HashTable_MemberGet(HashTable *Table, HashTableMember *Member, void **KeyArea, uint64 *Value) {
    Class_CheckHandle(Table, HASHTABLE_CLASS_ID);
    Class_CheckTag(Member, MemberId, HASHTABLE_MEMBER_ID);
    if (KeyArea != nullptr) *KeyArea = KeyAreaOf(Member);
    if (Value != nullptr) *Value = Member->Value;
    return TRUE;
}

int32 HashTable_Reset(HashTable *Table) {
    Class_CheckHandle(Table, HASHTABLE_CLASS_ID);
    ForgetMembers(Table);
    Pool_Reset(Table->MemberPool);
    return TRUE;
}

int32 HashTable_RemoveAll(HashTable *Table) {
    Class_CheckHandle(Table, HASHTABLE_CLASS_ID);
    ForgetMembers(Table);
    Pool_RemoveAll(Table->MemberPool);
    return TRUE;
}

int32 HashTable_GetCount(HashTable *Table, uint32 *Count) {
    Class_CheckHandle(Table, HASHTABLE_CLASS_ID);
    Debug_CheckPointer(Count);
    *Count = __atomic_load_n(&Table->MemberCount, __ATOMIC_SEQ_CST);
    return TRUE;
}

int32 HashTable_GetKeySize(HashTable *Table, uint32 *KeySize) {
    Class_CheckHandle(Table, HASHTABLE_CLASS_ID);
    Debug_CheckPointer(KeySize);
    *KeySize = Table->KeySize;
    return TRUE;
}

int32 HashTable_ValidHandle(HashTable *Table) {
    return Table != nullptr && Table->Class.ClassId == HASHTABLE_CLASS_ID;
}

// Built-in callbacks.

int32 HashTable_StringKeyAssign(HashTable *, void *, void *KeyArea, uint32 KeySize, const void *Key) {
    if (KeySize == 0) return TRUE;
    const char *Text = TextOf(Key);
    size_t Length = strnlen(Text, KeySize);
    if (Length >= KeySize) {
        Length = KeySize - 1;
        if (__atomic_exchange_n(&LongKeyLogged, 1, __ATOMIC_RELAXED) == 0)
            Log_Warning("Hash table key longer than %u bytes kept cut; lookups compare its first %u bytes\n",
                        KeySize - 1, KeySize - 1);
    }
    memcpy(KeyArea, Text, Length);
    static_cast<char *>(KeyArea)[Length] = 0;
    return TRUE;
}

uint32 HashTable_StringValue(HashTable *Table, void *, const void *Key) {
    return HashText<false>(TextOf(Key), StoredTextLimit(Table));
}

int32 HashTable_StringCompare(HashTable *Table, void *, const void *StoredKeyArea, const void *Key) {
    return TextEqual<false>(static_cast<const char *>(StoredKeyArea), TextOf(Key), StoredTextLimit(Table));
}

uint32 HashTable_StringValueWithoutCase(HashTable *Table, void *, const void *Key) {
    return HashText<true>(TextOf(Key), StoredTextLimit(Table));
}

int32 HashTable_StringCompareWithoutCase(HashTable *Table, void *, const void *StoredKeyArea, const void *Key) {
    return TextEqual<true>(static_cast<const char *>(StoredKeyArea), TextOf(Key), StoredTextLimit(Table));
}

int32 HashTable_StringPointerKeyAssign(HashTable *, void *, void *KeyArea, uint32, const void *Key) {
    memcpy(KeyArea, &Key, sizeof(Key));
    return TRUE;
}

// A key looked up through the very text its entry points at (an owner
// removing its own entry) is settled by the address, before the texts.
int32 HashTable_StringPointerCompare(HashTable *, void *, const void *StoredKeyArea, const void *Key) {
    const char *Stored;
    memcpy(&Stored, StoredKeyArea, sizeof(Stored));
    return Stored == Key || TextEqual<false>(TextOf(Stored), TextOf(Key), UINT32_MAX);
}

int32 HashTable_StringPointerCompareWithoutCase(HashTable *, void *, const void *StoredKeyArea, const void *Key) {
    const char *Stored;
    memcpy(&Stored, StoredKeyArea, sizeof(Stored));
    return Stored == Key || TextEqual<true>(TextOf(Stored), TextOf(Key), UINT32_MAX);
}

int32 HashTable_PointerKeyAssign(HashTable *, void *, void *KeyArea, uint32, const void *Key) {
    uint64 Value = KeyValue(Key);
    memcpy(KeyArea, &Value, sizeof(Value));
    return TRUE;
}

uint32 HashTable_PointerValue(HashTable *, void *, const void *Key) { return WangMix((uint32)KeyValue(Key)); }

int32 HashTable_PointerCompare(HashTable *, void *, const void *StoredKeyArea, const void *Key) {
    return StoredValue(StoredKeyArea) == KeyValue(Key);
}

int32 HashTable_Int32KeyAssign(HashTable *Table, void *UserPtr, void *KeyArea, uint32 KeySize, const void *Key) {
    return HashTable_PointerKeyAssign(Table, UserPtr, KeyArea, KeySize, Key);
}

uint32 HashTable_Int32Value(HashTable *Table, void *UserPtr, const void *Key) {
    return HashTable_PointerValue(Table, UserPtr, Key);
}

int32 HashTable_Int32Compare(HashTable *, void *, const void *StoredKeyArea, const void *Key) {
    return (uint32)StoredValue(StoredKeyArea) == (uint32)KeyValue(Key);
}
