// Dictionary: the system's universal record, an ordered tree of typed items.
// Configuration, script calls and answers, parsed documents, notification
// payloads and status dumps are all Dictionaries.
//
// Ownership. A root (Dictionary_Create) is reference-counted and owns three
// pools (child containers, items and, optionally, strings) that the whole
// tree shares; releasing the root returns every item, child and text at once.
// The child container of a List or Dictionary item is owned by that item,
// lives in the root's pool and is never reference-counted: deleting one as if
// it were a root is a fatal stop. Items therefore never move between trees;
// they are copied (Dictionary_Merge, Dictionary_Sync).
//
// Values are kept as text (numbers too: "%lld" and "%g"); the typed getters
// convert. Keys are at most 119 bytes (longer ones are cut at a UTF-8
// boundary and reported). Lookups are linear walks of the sibling list.
//
// A tree has no lock: one thread uses it at a time, and change callbacks run
// on that thread inside the changing operation, child level first.
//
// Every operation checks its handles: a null one stops with "Pointer is
// NULL\n", a foreign one with the class-mismatch stop.
#pragma once

#include "runtime/callback.h"
#include "runtime/class.h"
#include "runtime/types.h"

#define DICTIONARY_CLASSID 0xc1d1faa9u
#define DICTIONARYITEM_CLASSID 0x4139ca17u

// Item types (bits 0-2 of an item's flags).
#define DICTIONARY_TYPE_UNKNOWN 0
#define DICTIONARY_TYPE_NULL 1
#define DICTIONARY_TYPE_BOOLEAN 2
#define DICTIONARY_TYPE_INT64 3
#define DICTIONARY_TYPE_FLOAT64 4
#define DICTIONARY_TYPE_STRING 5
#define DICTIONARY_TYPE_LIST 6
#define DICTIONARY_TYPE_DICTIONARY 7

// Dictionary_Merge flags.
#define DICTIONARY_MERGE_OVERWRITE 0x1
#define DICTIONARY_MERGE_INSERTFRONT 0x2
#define DICTIONARY_MERGE_LISTS 0x4
#define DICTIONARY_MERGE_SKIPPRIVATE 0x8

// The longest key kept, in bytes.
#define DICTIONARY_MAX_KEY_LENGTH 119

RUNTIME_EXTERN_C_BEGIN

typedef struct Dictionary Dictionary;
typedef struct DictionaryItem DictionaryItem;
typedef struct DictionaryVtbl DictionaryVtbl;

typedef struct DictionaryTypeString {
    int32 Type;
    const char *Name;
} DictionaryTypeString;

extern const DictionaryTypeString Dictionary_TypeStringTable[8];

// Change reports: Path is the changed item's path relative to the Dictionary
// the callback is set on. Old texts are freed after the call.
typedef int32 (*Dictionary_ItemRemoveFunc)(Dictionary *Dictionary, DictionaryItem *Item, void *User,
                                           const char *Path);
typedef int32 (*Dictionary_ItemKeyChangeFunc)(Dictionary *Dictionary, DictionaryItem *Item, void *User,
                                              const char *Path, const char *OldKey);
typedef int32 (*Dictionary_ItemValueChangeFunc)(Dictionary *Dictionary, DictionaryItem *Item, void *User,
                                                const char *Path, const char *OldValue, int32 OldLength);
// 1: insert the new item before Item.
typedef int32 (*Dictionary_CompareFunc)(Dictionary *Dictionary, DictionaryItem *Item, const char *Key, void *User);
// 1: take the source item.
typedef int32 (*Dictionary_FilterFunc)(Dictionary *Destination, void *User, Dictionary *Source,
                                       DictionaryItem *SourceItem);
// Enumeration: a result of 0 ends the walk.
typedef int32 (*Dictionary_EnumerateStringFunc)(void *User, const char *Text);
typedef int32 (*Dictionary_EnumerateKeyStringFunc)(void *User, const char *Key, const char *Text);
typedef int32 (*Dictionary_EnumerateKeyBufferFunc)(void *User, const char *Key, const char *Text, int32 Length);
typedef int32 (*Dictionary_EnumerateListFunc)(void *User, Dictionary *Container, DictionaryItem *Item);
typedef int32 (*Dictionary_EnumerateInt32Func)(void *User, int32 Value);

// ---- Lifecycle and options ----
int32 Dictionary_Create(Dictionary **Handle);
CLASS_DECLARE_REFERENCE(Dictionary, Dictionary)
// Runs when the last reference goes: resets, deletes a root's pools, frees
// the record and clears the handle. A child container is a fatal stop.
int32 Dictionary_Delete(Dictionary **Handle);
int32 Dictionary_Reset(Dictionary *Handle);
int32 Dictionary_SetCaseSensitive(Dictionary *Handle, uint32 Value);
int32 Dictionary_GetCaseSensitive(Dictionary *Handle, uint32 *Value);
int32 Dictionary_SetPrivateKeys(Dictionary *Handle, uint32 Value);
int32 Dictionary_GetPrivateKeys(Dictionary *Handle, uint32 *Value);
int32 Dictionary_SetAllowDuplicates(Dictionary *Handle, uint32 Value);
int32 Dictionary_GetAllowDuplicates(Dictionary *Handle, uint32 *Value);
// Set before the first insertion: a tree keeps the string storage it was
// built with until it is emptied.
int32 Dictionary_SetStringPool(Dictionary *Handle, uint32 Value);
int32 Dictionary_GetStringPool(Dictionary *Handle, uint32 *Value);
int32 Dictionary_SetPoolChunkSize(Dictionary *Handle, uint32 Count);
int32 Dictionary_GetParent(Dictionary *Handle, Dictionary **Parent, DictionaryItem **ParentItem);

// What the tree really costs in memory (its records at their pools'
// strides, its texts where they are kept), for a budget charged before a
// copy of it is made.
int32 Dictionary_GetCost(Dictionary *Handle, int64 *Bytes);
// The root keeps Bytes of the process's memory budget (runtime/memory.h),
// already taken, and gives them back when it is emptied or goes.
int32 Dictionary_HoldCharge(Dictionary *Handle, int64 Bytes);

// ---- Items and order ----
// Links the new item after After, at the front when After is null.
int32 Dictionary_Insert(Dictionary *Handle, DictionaryItem *After, const char *Key, DictionaryItem **Item);
int32 Dictionary_Append(Dictionary *Handle, const char *Key, DictionaryItem **Item);
int32 Dictionary_Add(Dictionary *Handle, const char *Key, DictionaryItem **Item);
int32 Dictionary_InsertSorted(Dictionary *Handle, const char *Key, DictionaryItem **Item, void *User,
                              Dictionary_CompareFunc Compare);
int32 Dictionary_Remove(Dictionary *Handle, DictionaryItem **Item);
int32 Dictionary_ItemGetFirst(Dictionary *Handle, DictionaryItem **Item);
int32 Dictionary_ItemGetLast(Dictionary *Handle, DictionaryItem **Item);
int32 Dictionary_ItemGetNext(Dictionary *Handle, DictionaryItem *Item, DictionaryItem **Next);
int32 Dictionary_ItemGetPrev(Dictionary *Handle, DictionaryItem *Item, DictionaryItem **Prev);
int32 Dictionary_ItemGetCount(Dictionary *Handle, int32 *Count);
int32 Dictionary_ItemGetIndex(Dictionary *Handle, DictionaryItem *Item, int32 *Index);
int32 Dictionary_ItemGetDictionaryHandle(Dictionary *Handle, DictionaryItem *Item, Dictionary **Child);

// ---- Typed additions (append under Key; Item and Child are optional) ----
int32 Dictionary_AddNull(Dictionary *Handle, const char *Key, DictionaryItem **Item);
int32 Dictionary_AddString(Dictionary *Handle, const char *Key, const char *Text, DictionaryItem **Item);
int32 Dictionary_AddInt32(Dictionary *Handle, const char *Key, int32 Value, DictionaryItem **Item);
int32 Dictionary_AddInt64(Dictionary *Handle, const char *Key, int64 Value, DictionaryItem **Item);
int32 Dictionary_AddFloat64(Dictionary *Handle, const char *Key, float64 Value, DictionaryItem **Item);
int32 Dictionary_AddBoolean(Dictionary *Handle, const char *Key, uint32 Value, DictionaryItem **Item);
int32 Dictionary_AddList(Dictionary *Handle, const char *Key, Dictionary **Child, DictionaryItem **Item);
int32 Dictionary_AddDictionary(Dictionary *Handle, const char *Key, Dictionary **Child, DictionaryItem **Item);

// ---- Type ----
int32 Dictionary_ItemSetType(Dictionary *Handle, DictionaryItem *Item, int32 Type);
int32 Dictionary_ItemGetType(Dictionary *Handle, DictionaryItem *Item, int32 *Type);
int32 Dictionary_ItemCompareType(Dictionary *Handle, DictionaryItem *Item, int32 Type);
int32 Dictionary_ItemIsContainer(Dictionary *Handle, DictionaryItem *Item);
int32 Dictionary_ItemIsNull(Dictionary *Handle, DictionaryItem *Item);
const char *Dictionary_TranslateType(int32 Type);

// ---- Keys ----
int32 Dictionary_ItemSetKeyLength(Dictionary *Handle, DictionaryItem *Item, const char *Key, int32 Length);
int32 Dictionary_ItemSetKey(Dictionary *Handle, DictionaryItem *Item, const char *Key);
int32 Dictionary_ItemGetKeyPtr(Dictionary *Handle, DictionaryItem *Item, const char **Key);
int32 Dictionary_ItemGetKey(Dictionary *Handle, DictionaryItem *Item, char *Buffer, int32 Size);
// The length a key of Length bytes is kept with here: less its private mark
// when this Dictionary takes marks off. A reader refuses a key whose kept
// length is past DICTIONARY_MAX_KEY_LENGTH rather than let it be cut.
int32 Dictionary_KeptKeyLength(Dictionary *Handle, const char *Key, int32 Length);
int32 Dictionary_ItemSetPrivate(Dictionary *Handle, DictionaryItem *Item, uint32 Flag);
int32 Dictionary_ItemGetPrivate(Dictionary *Handle, DictionaryItem *Item, uint32 *Flag);

// ---- Values (setters never change the type) ----
int32 Dictionary_ItemSetBuffer(Dictionary *Handle, DictionaryItem *Item, const void *Bytes, int32 Length);
int32 Dictionary_ItemSetString(Dictionary *Handle, DictionaryItem *Item, const char *Text);
int32 Dictionary_ItemSetStringPrint(Dictionary *Handle, DictionaryItem *Item, const char *Format, ...);
int32 Dictionary_ItemSetStringV(Dictionary *Handle, DictionaryItem *Item, const char *Format, va_list Arguments);
int32 Dictionary_ItemSetInt32(Dictionary *Handle, DictionaryItem *Item, int32 Value);
int32 Dictionary_ItemSetInt64(Dictionary *Handle, DictionaryItem *Item, int64 Value);
int32 Dictionary_ItemSetFloat64(Dictionary *Handle, DictionaryItem *Item, float64 Value);
int32 Dictionary_ItemSetBoolean(Dictionary *Handle, DictionaryItem *Item, uint32 Value);
int32 Dictionary_ItemSetNull(Dictionary *Handle, DictionaryItem *Item);
// Length is optional.
int32 Dictionary_ItemGetBufferPtr(Dictionary *Handle, DictionaryItem *Item, const char **Text, int32 *Length);
int32 Dictionary_ItemGetStringPtr(Dictionary *Handle, DictionaryItem *Item, const char **Text);
int32 Dictionary_ItemGetString(Dictionary *Handle, DictionaryItem *Item, char *Buffer, int32 Size);
int32 Dictionary_ItemGetInt32(Dictionary *Handle, DictionaryItem *Item, int32 *Value);
int32 Dictionary_ItemGetInt64(Dictionary *Handle, DictionaryItem *Item, int64 *Value);
int32 Dictionary_ItemGetFloat64(Dictionary *Handle, DictionaryItem *Item, float64 *Value);
int32 Dictionary_ItemGetBoolean(Dictionary *Handle, DictionaryItem *Item, uint32 *Value);

// ---- Change callbacks (Get answers 1 when a function is set) ----
int32 Dictionary_SetItemRemoveCallback(Dictionary *Handle, void *User, Dictionary_ItemRemoveFunc Function);
int32 Dictionary_GetItemRemoveCallback(Dictionary *Handle, void **User, Dictionary_ItemRemoveFunc *Function);
int32 Dictionary_SetItemKeyChangeCallback(Dictionary *Handle, void *User, Dictionary_ItemKeyChangeFunc Function);
int32 Dictionary_GetItemKeyChangeCallback(Dictionary *Handle, void **User, Dictionary_ItemKeyChangeFunc *Function);
int32 Dictionary_SetItemValueChangeCallback(Dictionary *Handle, void *User, Dictionary_ItemValueChangeFunc Function);
int32 Dictionary_GetItemValueChangeCallback(Dictionary *Handle, void **User,
                                            Dictionary_ItemValueChangeFunc *Function);
// 1 when a change callback of any kind is set anywhere in Handle's tree.
int32 Dictionary_IsWatched(Dictionary *Handle);

// ---- Print family and dump ----
int32 Dictionary_SetVerbose(Dictionary *Handle, int32 Verbose);
int32 Dictionary_GetVerbose(Dictionary *Handle, int32 *Verbose);
int32 Dictionary_SetPrintCallback(Dictionary *Handle, void *User, ClassPrint_Func Function);
int32 Dictionary_GetPrintCallback(Dictionary *Handle, void **User, ClassPrint_Func *Function);
int32 Dictionary_SetPrintIdentifier(Dictionary *Handle, const char *Identifier);
int32 Dictionary_IsVerboseLevel(Dictionary *Handle, int32 Level);
int32 Dictionary_VPrint(Dictionary *Handle, int32 Indent, const char *Format, va_list Arguments);
int32 Dictionary_Print(Dictionary *Handle, const char *Format, ...);
int32 Dictionary_PrintTabbed(Dictionary *Handle, int32 Indent, const char *Format, ...);
int32 Dictionary_VerboseLog(Dictionary *Handle, int32 Level, const char *Format, ...);
// One line per item, depth first; private items are hidden. 0 when empty.
int32 Dictionary_Dump(Dictionary *Handle);

// ---- Lookups ----
int32 Dictionary_ItemFindByKey(Dictionary *Handle, const char *Key, DictionaryItem *Start, DictionaryItem **Item);
int32 Dictionary_ItemFindByIndex(Dictionary *Handle, int32 Index, DictionaryItem *Start, DictionaryItem **Item);
int32 Dictionary_ItemFindByBuffer(Dictionary *Handle, const void *Bytes, int32 Length, DictionaryItem *Start,
                                  DictionaryItem **Item);
// Owner is optional.
int32 Dictionary_ItemFindByPath(Dictionary *Handle, const char *Path, Dictionary **Owner, DictionaryItem **Item);
int32 Dictionary_ContainsKey(Dictionary *Handle, const char *Key);
int32 Dictionary_ContainsString(Dictionary *Handle, const char *Text);
int32 Dictionary_ContainsPath(Dictionary *Handle, const char *Path);
int32 Dictionary_GetTypeByKey(Dictionary *Handle, const char *Key, int32 *Type);
int32 Dictionary_RemoveByKey(Dictionary *Handle, const char *Key);
int32 Dictionary_RemoveByString(Dictionary *Handle, const char *Text);

// ---- Ensure (create what is missing; Item and Child are optional) ----
int32 Dictionary_EnsureKey(Dictionary *Handle, const char *Key, DictionaryItem **Item);
int32 Dictionary_EnsureList(Dictionary *Handle, const char *Key, DictionaryItem **Item, Dictionary **Child);
int32 Dictionary_EnsureDictionary(Dictionary *Handle, const char *Key, DictionaryItem **Item, Dictionary **Child);
int32 Dictionary_EnsureIndex(Dictionary *Handle, int32 Index, DictionaryItem **Item);
int32 Dictionary_EnsureListByIndex(Dictionary *Handle, int32 Index, DictionaryItem **Item, Dictionary **Child);
int32 Dictionary_EnsureDictionaryByIndex(Dictionary *Handle, int32 Index, DictionaryItem **Item,
                                         Dictionary **Child);
int32 Dictionary_EnsureDictionaryByPath(Dictionary *Handle, const char *Path, Dictionary **Child);

// ---- By key ----
int32 Dictionary_SetStringByKey(Dictionary *Handle, const char *Key, const char *Text);
int32 Dictionary_SetStringByKeyPrint(Dictionary *Handle, const char *Key, const char *Format, ...);
int32 Dictionary_SetStringByKeyV(Dictionary *Handle, const char *Key, const char *Format, va_list Arguments);
int32 Dictionary_SetInt32ByKey(Dictionary *Handle, const char *Key, int32 Value);
int32 Dictionary_SetInt64ByKey(Dictionary *Handle, const char *Key, int64 Value);
int32 Dictionary_SetFloat64ByKey(Dictionary *Handle, const char *Key, float64 Value);
int32 Dictionary_SetBooleanByKey(Dictionary *Handle, const char *Key, uint32 Value);
int32 Dictionary_GetStringByKey(Dictionary *Handle, const char *Key, char *Buffer, int32 Size);
int32 Dictionary_GetStringPtrByKey(Dictionary *Handle, const char *Key, const char **Text);
int32 Dictionary_GetBufferPtrByKey(Dictionary *Handle, const char *Key, const char **Text, int32 *Length);
int32 Dictionary_GetInt32ByKey(Dictionary *Handle, const char *Key, int32 *Value);
int32 Dictionary_GetInt64ByKey(Dictionary *Handle, const char *Key, int64 *Value);
int32 Dictionary_GetFloat64ByKey(Dictionary *Handle, const char *Key, float64 *Value);
int32 Dictionary_GetBooleanByKey(Dictionary *Handle, const char *Key, uint32 *Value);
int32 Dictionary_GetListByKey(Dictionary *Handle, const char *Key, Dictionary **Child);
int32 Dictionary_GetDictionaryByKey(Dictionary *Handle, const char *Key, Dictionary **Child);
int32 Dictionary_GetListStringByKey(Dictionary *Handle, const char *Key, char *Buffer, int32 Size);
int32 Dictionary_GetListStringLengthByKey(Dictionary *Handle, const char *Key, int32 *Length);

// ---- By index ----
int32 Dictionary_GetListByIndex(Dictionary *Handle, int32 Index, Dictionary **Child);
int32 Dictionary_GetDictionaryByIndex(Dictionary *Handle, int32 Index, Dictionary **Child);

// ---- By path ----
int32 Dictionary_GetStringByPath(Dictionary *Handle, const char *Path, char *Buffer, int32 Size);
int32 Dictionary_GetStringPtrByPath(Dictionary *Handle, const char *Path, const char **Text);
int32 Dictionary_GetBufferPtrByPath(Dictionary *Handle, const char *Path, const char **Text, int32 *Length);
int32 Dictionary_GetInt32ByPath(Dictionary *Handle, const char *Path, int32 *Value);
int32 Dictionary_GetInt64ByPath(Dictionary *Handle, const char *Path, int64 *Value);
int32 Dictionary_GetFloat64ByPath(Dictionary *Handle, const char *Path, float64 *Value);
int32 Dictionary_GetBooleanByPath(Dictionary *Handle, const char *Path, uint32 *Value);
int32 Dictionary_GetDictionaryByPath(Dictionary *Handle, const char *Path, Dictionary **Child);
// The path (at most 319 bytes) splits at its last "."; a parent member that
// names a scalar item leaves nothing stored (still 1).
int32 Dictionary_SetStringByPath(Dictionary *Handle, const char *Path, const char *Text);
int32 Dictionary_SetInt32ByPath(Dictionary *Handle, const char *Path, int32 Value);
int32 Dictionary_SetInt64ByPath(Dictionary *Handle, const char *Path, int64 Value);
int32 Dictionary_SetFloat64ByPath(Dictionary *Handle, const char *Path, float64 Value);
int32 Dictionary_SetBooleanByPath(Dictionary *Handle, const char *Path, uint32 Value);

// ---- Item paths and path text ----
// The item's path below Stop (exclusive; null for the root). 0 when Stop is
// not an ancestor; the buffer then holds the path from the root.
int32 Dictionary_ItemGetPath(Dictionary *Handle, DictionaryItem *Item, Dictionary *Stop, char *Buffer, int32 Size);
int32 Dictionary_PathGetKey(const char *Path, char *Buffer, int32 Size);
int32 Dictionary_PathGetParent(const char *Path, char *Buffer, int32 Size);
int32 Dictionary_PathHasParent(const char *Path);
int32 Dictionary_PathSkipRoot(const char *Path, char *Buffer, int32 Size);

// ---- Sync, merge, text split and join ----
// Source and destination must be separate: one inside the other is refused
// (error line, 0).
int32 Dictionary_Sync(Dictionary *Destination, Dictionary *Source, void *User, Dictionary_FilterFunc Filter);
int32 Dictionary_SyncAt(Dictionary *Destination, Dictionary *Source, DictionaryItem *Start, void *User,
                        Dictionary_FilterFunc Filter);
int32 Dictionary_RemoveMissing(Dictionary *Destination, Dictionary *Source);
int32 Dictionary_RemoveMissingKeys(Dictionary *Destination, Dictionary *Names);
int32 Dictionary_Merge(Dictionary *Destination, Dictionary *Source, uint32 Flags);
int32 Dictionary_MergeAt(Dictionary *Destination, Dictionary *Source, DictionaryItem *Start, uint32 Flags);
int32 Dictionary_MergeItem(Dictionary *Destination, Dictionary *Source, DictionaryItem *SourceItem, uint32 Flags);
int32 Dictionary_ConvertFromString(Dictionary *Handle, const char *Text, int32 Length, char KeySeparator,
                                   char ItemSeparator);
int32 Dictionary_ConvertToString(Dictionary *Handle, char *Buffer, int32 Size, char KeySeparator,
                                 char ItemSeparator);

// ---- Enumeration (1 when some call answered nonzero) ----
int32 Dictionary_EnumerateString(Dictionary *Handle, void *User, Dictionary_EnumerateStringFunc Function);
int32 Dictionary_EnumerateKey(Dictionary *Handle, void *User, Dictionary_EnumerateStringFunc Function);
int32 Dictionary_EnumerateKeyString(Dictionary *Handle, void *User, Dictionary_EnumerateKeyStringFunc Function);
int32 Dictionary_EnumerateKeyBuffer(Dictionary *Handle, void *User, Dictionary_EnumerateKeyBufferFunc Function);
int32 Dictionary_EnumerateList(Dictionary *Handle, const char *Key, void *User,
                               Dictionary_EnumerateListFunc Function);
int32 Dictionary_EnumerateListString(Dictionary *Handle, const char *Key, void *User,
                                     Dictionary_EnumerateStringFunc Function);
int32 Dictionary_EnumerateListInt32(Dictionary *Handle, const char *Key, void *User,
                                    Dictionary_EnumerateInt32Func Function);

// ---- Root skipping ----
int32 Dictionary_SkipRoot(Dictionary *Handle, Dictionary **Inner);
int32 Dictionary_SkipRootContainer(Dictionary *Handle, Dictionary **Inner);
// A root holding only an unnamed Dictionary (a document as a reader leaves
// it) takes that Dictionary's items as its own, in their order, without a
// copy, as a merge of it into the empty root would leave the tree. 0, with
// nothing changed, unless the root holds just that, nobody watches the tree,
// and no container in it repeats a key (which a merge folds together).
int32 Dictionary_LiftRoot(Dictionary *Handle);

// ---- Operation table ----
// Code that holds only a handle (interop libraries) calls through the table
// whose address every Dictionary carries directly behind its class header.
// The slot order is fixed; never reorder, insert or remove a slot.
struct DictionaryVtbl {
    int32 (*GetParent)(Dictionary *, Dictionary **, DictionaryItem **);
    int32 (*Add)(Dictionary *, const char *, DictionaryItem **);
    int32 (*AddNull)(Dictionary *, const char *, DictionaryItem **);
    int32 (*AddString)(Dictionary *, const char *, const char *, DictionaryItem **);
    int32 (*AddInt32)(Dictionary *, const char *, int32, DictionaryItem **);
    int32 (*AddInt64)(Dictionary *, const char *, int64, DictionaryItem **);
    int32 (*AddFloat64)(Dictionary *, const char *, float64, DictionaryItem **);
    int32 (*AddBoolean)(Dictionary *, const char *, uint32, DictionaryItem **);
    int32 (*AddList)(Dictionary *, const char *, Dictionary **, DictionaryItem **);
    int32 (*AddDictionary)(Dictionary *, const char *, Dictionary **, DictionaryItem **);
    int32 (*Append)(Dictionary *, const char *, DictionaryItem **);
    int32 (*Insert)(Dictionary *, DictionaryItem *, const char *, DictionaryItem **);
    int32 (*Remove)(Dictionary *, DictionaryItem **);
    int32 (*ConvertFromString)(Dictionary *, const char *, int32, char, char);
    int32 (*ConvertToString)(Dictionary *, char *, int32, char, char);
    int32 (*ContainsKey)(Dictionary *, const char *);
    int32 (*EnsureIndex)(Dictionary *, int32, DictionaryItem **);
    int32 (*EnsureListByIndex)(Dictionary *, int32, DictionaryItem **, Dictionary **);
    int32 (*EnsureDictionaryByIndex)(Dictionary *, int32, DictionaryItem **, Dictionary **);
    int32 (*EnsureKey)(Dictionary *, const char *, DictionaryItem **);
    int32 (*EnsureList)(Dictionary *, const char *, DictionaryItem **, Dictionary **);
    int32 (*EnsureDictionary)(Dictionary *, const char *, DictionaryItem **, Dictionary **);
    int32 (*GetTypeByKey)(Dictionary *, const char *, int32 *);
    int32 (*SetStringByKey)(Dictionary *, const char *, const char *);
    int32 (*GetStringByKey)(Dictionary *, const char *, char *, int32);
    int32 (*SetStringByKeyV)(Dictionary *, const char *, const char *, va_list);
    int32 (*GetStringPtrByKey)(Dictionary *, const char *, const char **);
    int32 (*GetBufferPtrByKey)(Dictionary *, const char *, const char **, int32 *);
    int32 (*SetInt32ByKey)(Dictionary *, const char *, int32);
    int32 (*GetInt32ByKey)(Dictionary *, const char *, int32 *);
    int32 (*SetInt64ByKey)(Dictionary *, const char *, int64);
    int32 (*GetInt64ByKey)(Dictionary *, const char *, int64 *);
    int32 (*SetFloat64ByKey)(Dictionary *, const char *, float64);
    int32 (*GetFloat64ByKey)(Dictionary *, const char *, float64 *);
    int32 (*SetBooleanByKey)(Dictionary *, const char *, uint32);
    int32 (*GetBooleanByKey)(Dictionary *, const char *, uint32 *);
    int32 (*GetListByIndex)(Dictionary *, int32, Dictionary **);
    int32 (*GetDictionaryByIndex)(Dictionary *, int32, Dictionary **);
    int32 (*GetListByKey)(Dictionary *, const char *, Dictionary **);
    int32 (*GetDictionaryByKey)(Dictionary *, const char *, Dictionary **);
    int32 (*RemoveByKey)(Dictionary *, const char *);
    int32 (*ItemGetPath)(Dictionary *, DictionaryItem *, Dictionary *, char *, int32);
    int32 (*ItemIsContainer)(Dictionary *, DictionaryItem *);
    int32 (*ItemIsNull)(Dictionary *, DictionaryItem *);
    int32 (*ItemGetIndex)(Dictionary *, DictionaryItem *, int32 *);
    int32 (*ItemSetType)(Dictionary *, DictionaryItem *, int32);
    int32 (*ItemGetType)(Dictionary *, DictionaryItem *, int32 *);
    int32 (*ItemCompareType)(Dictionary *, DictionaryItem *, int32);
    int32 (*ItemSetKey)(Dictionary *, DictionaryItem *, const char *);
    int32 (*ItemSetKeyLength)(Dictionary *, DictionaryItem *, const char *, int32);
    int32 (*ItemGetKey)(Dictionary *, DictionaryItem *, char *, int32);
    int32 (*ItemGetKeyPtr)(Dictionary *, DictionaryItem *, const char **);
    int32 (*ItemSetString)(Dictionary *, DictionaryItem *, const char *);
    int32 (*ItemSetStringV)(Dictionary *, DictionaryItem *, const char *, va_list);
    int32 (*ItemGetString)(Dictionary *, DictionaryItem *, char *, int32);
    int32 (*ItemGetStringPtr)(Dictionary *, DictionaryItem *, const char **);
    int32 (*ItemSetBuffer)(Dictionary *, DictionaryItem *, const void *, int32);
    int32 (*ItemGetBufferPtr)(Dictionary *, DictionaryItem *, const char **, int32 *);
    int32 (*ItemSetFloat64)(Dictionary *, DictionaryItem *, float64);
    int32 (*ItemGetFloat64)(Dictionary *, DictionaryItem *, float64 *);
    int32 (*ItemSetInt32)(Dictionary *, DictionaryItem *, int32);
    int32 (*ItemGetInt32)(Dictionary *, DictionaryItem *, int32 *);
    int32 (*ItemSetInt64)(Dictionary *, DictionaryItem *, int64);
    int32 (*ItemGetInt64)(Dictionary *, DictionaryItem *, int64 *);
    int32 (*ItemSetBoolean)(Dictionary *, DictionaryItem *, uint32);
    int32 (*ItemGetBoolean)(Dictionary *, DictionaryItem *, uint32 *);
    int32 (*ItemSetNull)(Dictionary *, DictionaryItem *);
    int32 (*ItemGetDictionaryHandle)(Dictionary *, DictionaryItem *, Dictionary **);
    int32 (*ItemFindByPath)(Dictionary *, const char *, Dictionary **, DictionaryItem **);
    int32 (*ItemFindByKey)(Dictionary *, const char *, DictionaryItem *, DictionaryItem **);
    int32 (*ItemFindByBuffer)(Dictionary *, const void *, int32, DictionaryItem *, DictionaryItem **);
    int32 (*ItemFindByIndex)(Dictionary *, int32, DictionaryItem *, DictionaryItem **);
    int32 (*ItemGetNext)(Dictionary *, DictionaryItem *, DictionaryItem **);
    int32 (*ItemGetPrev)(Dictionary *, DictionaryItem *, DictionaryItem **);
    int32 (*ItemGetFirst)(Dictionary *, DictionaryItem **);
    int32 (*ItemGetLast)(Dictionary *, DictionaryItem **);
    int32 (*ItemGetCount)(Dictionary *, int32 *);
    int32 (*Print)(Dictionary *, const char *, ...);
    int32 (*PrintTabbed)(Dictionary *, int32, const char *, ...);
    int32 (*SetPrintCallback)(Dictionary *, void *, ClassPrint_Func);
    int32 (*GetPrintCallback)(Dictionary *, void **, ClassPrint_Func *);
    int32 (*Sync)(Dictionary *, Dictionary *, void *, Dictionary_FilterFunc);
    int32 (*SyncAt)(Dictionary *, Dictionary *, DictionaryItem *, void *, Dictionary_FilterFunc);
    int32 (*RemoveMissing)(Dictionary *, Dictionary *);
    int32 (*Merge)(Dictionary *, Dictionary *, uint32);
    int32 (*MergeAt)(Dictionary *, Dictionary *, DictionaryItem *, uint32);
    int32 (*SkipRoot)(Dictionary *, Dictionary **);
    int32 (*Reset)(Dictionary *);
    int32 (*Dump)(Dictionary *);
    int32 (*SetCaseSensitive)(Dictionary *, uint32);
    int32 (*GetCaseSensitive)(Dictionary *, uint32 *);
    int32 (*SetAllowDuplicates)(Dictionary *, uint32);
    int32 (*GetAllowDuplicates)(Dictionary *, uint32 *);
    int32 (*SetStringPool)(Dictionary *, uint32);
    int32 (*GetStringPool)(Dictionary *, uint32 *);
    int32 (*SetPoolChunkSize)(Dictionary *, uint32);
    int32 (*SetItemRemoveCallback)(Dictionary *, void *, Dictionary_ItemRemoveFunc);
    int32 (*GetItemRemoveCallback)(Dictionary *, void **, Dictionary_ItemRemoveFunc *);
    int32 (*SetItemKeyChangeCallback)(Dictionary *, void *, Dictionary_ItemKeyChangeFunc);
    int32 (*GetItemKeyChangeCallback)(Dictionary *, void **, Dictionary_ItemKeyChangeFunc *);
    int32 (*SetItemValueChangeCallback)(Dictionary *, void *, Dictionary_ItemValueChangeFunc);
    int32 (*GetItemValueChangeCallback)(Dictionary *, void **, Dictionary_ItemValueChangeFunc *);
    int32 (*MergeItem)(Dictionary *, Dictionary *, DictionaryItem *, uint32);
    int32 (*SetStringByKeyPrint)(Dictionary *, const char *, const char *, ...);
    int32 (*ItemSetStringPrint)(Dictionary *, DictionaryItem *, const char *, ...);
    int32 (*SetStringByPath)(Dictionary *, const char *, const char *);
    int32 (*GetStringByPath)(Dictionary *, const char *, char *, int32);
    int32 (*GetBufferPtrByPath)(Dictionary *, const char *, const char **, int32 *);
    int32 (*SetInt32ByPath)(Dictionary *, const char *, int32);
    int32 (*GetInt32ByPath)(Dictionary *, const char *, int32 *);
    int32 (*SetInt64ByPath)(Dictionary *, const char *, int64);
    int32 (*GetInt64ByPath)(Dictionary *, const char *, int64 *);
    int32 (*SetFloat64ByPath)(Dictionary *, const char *, float64);
    int32 (*GetFloat64ByPath)(Dictionary *, const char *, float64 *);
    int32 (*SetBooleanByPath)(Dictionary *, const char *, uint32);
    int32 (*GetBooleanByPath)(Dictionary *, const char *, uint32 *);
    int32 (*SkipRootContainer)(Dictionary *, Dictionary **);
    int32 (*ItemSetPrivate)(Dictionary *, DictionaryItem *, uint32);
    int32 (*ItemGetPrivate)(Dictionary *, DictionaryItem *, uint32 *);
    int32 (*SetPrivateKeys)(Dictionary *, uint32);
    int32 (*GetPrivateKeys)(Dictionary *, uint32 *);
    Dictionary *(*AddRef)(Dictionary *);
    int32 (*Release)(Dictionary **);
    int32 (*EnsureDictionaryByPath)(Dictionary *, const char *, Dictionary **);
    int32 (*ContainsPath)(Dictionary *, const char *);
    int32 (*GetStringPtrByPath)(Dictionary *, const char *, const char **);
    int32 (*ContainsString)(Dictionary *, const char *);
    int32 (*RemoveByString)(Dictionary *, const char *);
    int32 (*GetDictionaryByPath)(Dictionary *, const char *, Dictionary **);
};

extern const DictionaryVtbl GlobalDictionaryVtbl;

// The leading fields of every Dictionary record, root or child: code that
// holds only a handle reads the operation table through them.
typedef struct DictionaryHeader {
    ClassStruct Class;
    const DictionaryVtbl *Vtbl;
} DictionaryHeader;

RUNTIME_EXTERN_C_END

#ifdef __cplusplus
static_assert(sizeof(DictionaryVtbl) == 129 * sizeof(void *), "the operation table has 129 fixed slots");
#endif
