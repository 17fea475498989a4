// HashTable: the runtime's chained hash table with a fixed bucket count (no
// rehashing). Members come from the table's own pool in chunks of 10; each
// keeps its key in a key area of the table's key size, one 64-bit value, and
// its key's hash so that chains compare hashes before keys. Hashing, key
// copying and key comparison are callbacks; the string forms are the
// defaults, and case-less string, string-pointer, pointer and 32-bit-number
// forms are built in.
//
// Copied string keys are kept cut to key size - 1 bytes; the string hash and
// compare of such tables look at the same cut text, so a key longer than the
// area is still found and removed by its full text (and by any text with the
// same first key size - 1 bytes). The first cut is logged once per process.
//
// Only the member count is atomic: a table is used under its owner's
// discipline (a lock, or one thread). Values are the caller's: Reset,
// RemoveAll and Delete forget members without calling anything per member.
#pragma once

#include "runtime/types.h"

#define HASHTABLE_CLASS_ID 0x3cf21d39u
#define HASHTABLE_MEMBER_ID 0x1e7d9d7au

RUNTIME_EXTERN_C_BEGIN

typedef struct HashTable HashTable;
typedef struct HashTableMember HashTableMember;

// Key is a text for the string forms and the key value itself (cast to a
// pointer) for the pointer and 32-bit forms.
typedef int32 (*HashTable_KeyAssignFunc)(HashTable *Table, void *UserPtr, void *KeyArea, uint32 KeySize,
                                         const void *Key);
typedef uint32 (*HashTable_ValueFunc)(HashTable *Table, void *UserPtr, const void *Key);
typedef int32 (*HashTable_CompareFunc)(HashTable *Table, void *UserPtr, const void *StoredKeyArea, const void *Key);

int32 HashTable_Create(HashTable **Table, uint32 KeySize, uint32 BucketCount);
int32 HashTable_Delete(HashTable **Table);

int32 HashTable_SetKeyAssignCallback(HashTable *Table, void *UserPtr, HashTable_KeyAssignFunc Function);
int32 HashTable_SetValueCallback(HashTable *Table, void *UserPtr, HashTable_ValueFunc Function);
int32 HashTable_SetCompareCallback(HashTable *Table, void *UserPtr, HashTable_CompareFunc Function);
// With Growable 1, an addition that leaves more than two members per bucket
// quadruples the buckets (members keep their hashes; the walk order of
// MemberGetFirst/Next changes, and no walk may be under way). Off by default:
// the bucket count stays as created.
int32 HashTable_SetGrowable(HashTable *Table, uint32 Growable);

int32 HashTable_Add(HashTable *Table, const void *Key, uint64 Value);
int32 HashTable_AddEx(HashTable *Table, const void *Key, uint64 Value, HashTableMember **Member);
int32 HashTable_GetValue(HashTable *Table, const void *Key, uint64 *Value);
int32 HashTable_ContainsKey(HashTable *Table, const void *Key);
int32 HashTable_MemberFindByKey(HashTable *Table, const void *Key, HashTableMember **Member);
// The member under Key, added with the value 0 when absent (*Added then 1),
// with the key hashed once for both.
int32 HashTable_MemberFindOrAdd(HashTable *Table, const void *Key, HashTableMember **Member, int32 *Added);
int32 HashTable_Remove(HashTable *Table, const void *Key);
int32 HashTable_MemberRemove(HashTable *Table, HashTableMember **Member);

int32 HashTable_MemberGetFirst(HashTable *Table, HashTableMember **Member);
int32 HashTable_MemberGetNext(HashTable *Table, HashTableMember *Member, HashTableMember **Next);
int32 HashTable_MemberGetKey(HashTable *Table, HashTableMember *Member, void **KeyArea);
int32 HashTable_MemberGetValue(HashTable *Table, HashTableMember *Member, uint64 *Value);
int32 HashTable_MemberSetValue(HashTable *Table, HashTableMember *Member, uint64 Value);
int32 HashTable_MemberGet(HashTable *Table, HashTableMember *Member, void **KeyArea, uint64 *Value);

int32 HashTable_Reset(HashTable *Table);
int32 HashTable_RemoveAll(HashTable *Table);
int32 HashTable_GetCount(HashTable *Table, uint32 *Count);
int32 HashTable_GetKeySize(HashTable *Table, uint32 *KeySize);
int32 HashTable_ValidHandle(HashTable *Table);

// Built-in callbacks. The defaults of a new table are the three string forms.
int32 HashTable_StringKeyAssign(HashTable *Table, void *UserPtr, void *KeyArea, uint32 KeySize, const void *Key);
uint32 HashTable_StringValue(HashTable *Table, void *UserPtr, const void *Key);
int32 HashTable_StringCompare(HashTable *Table, void *UserPtr, const void *StoredKeyArea, const void *Key);
uint32 HashTable_StringValueWithoutCase(HashTable *Table, void *UserPtr, const void *Key);
int32 HashTable_StringCompareWithoutCase(HashTable *Table, void *UserPtr, const void *StoredKeyArea,
                                         const void *Key);
int32 HashTable_StringPointerKeyAssign(HashTable *Table, void *UserPtr, void *KeyArea, uint32 KeySize,
                                       const void *Key);
int32 HashTable_StringPointerCompare(HashTable *Table, void *UserPtr, const void *StoredKeyArea, const void *Key);
int32 HashTable_StringPointerCompareWithoutCase(HashTable *Table, void *UserPtr, const void *StoredKeyArea,
                                                const void *Key);
int32 HashTable_PointerKeyAssign(HashTable *Table, void *UserPtr, void *KeyArea, uint32 KeySize, const void *Key);
uint32 HashTable_PointerValue(HashTable *Table, void *UserPtr, const void *Key);
int32 HashTable_PointerCompare(HashTable *Table, void *UserPtr, const void *StoredKeyArea, const void *Key);
int32 HashTable_Int32KeyAssign(HashTable *Table, void *UserPtr, void *KeyArea, uint32 KeySize, const void *Key);
uint32 HashTable_Int32Value(HashTable *Table, void *UserPtr, const void *Key);
int32 HashTable_Int32Compare(HashTable *Table, void *UserPtr, const void *StoredKeyArea, const void *Key);

RUNTIME_EXTERN_C_END
