// The Dictionary's records and the helpers its source files share. Only the
// dictionary*.cpp files, the JSON reader and writer (which build and walk
// whole trees record by record) and white-box tests include this header;
// everyone else works through runtime/containers/dictionary.h.
//
// Invariants:
// - A root has Parent == null, RefCount >= 1 and owns ContainerPool, ItemPool
//   and Strings (each made on demand: the item pool in the root record, the
//   container pool with the first child and given back by a reset that
//   leaves no child). A child has Parent and ParentItem set, RefCount 0, and
//   uses its root's pools; it never makes pools.
// - Items.First/Last/Count describe a doubly linked list of items; Items.ClassId
//   is DICTIONARYITEM_CLASSID while the list is alive.
// - An item of type List or Dictionary has a Child; no other item does.
// - Keys and values are NUL-terminated copies of KeyLength / ValueLength bytes.
//   A short text lives in its item's Inline area (key at its start, value
//   behind an inline key, a replacing value in front of or behind the one it
//   replaces); a longer one is taken from Strings when the tree
//   was built with a string pool, else (up to DictionaryRecordTextMost
//   bytes) from a record of ItemPool or from the general allocator, and is
//   returned the same way with the length plus one. A new text never takes
//   the inline room of the text it replaces, so the old text stays readable
//   for the change report.
// - Print state, the print identifier and change callbacks live in Extra,
//   made on first need. A root without one keeps a print callback set on it
//   in its root record; the record made later starts with that callback and
//   is from then on the only place it is kept. A child made while its parent
//   has a print identifier gets an extra record holding a copy of it.
// - Extra's CursorItem/CursorIndex remember the last item reached by
//   position; a change to this Dictionary's list moves or clears them. A
//   container without an extra record remembers no position: a short walk
//   makes none, a long one makes the record to remember its end.
// - A child is one container-pool record of exactly sizeof(Dictionary)
//   bytes. The change callbacks, whose 16-byte swaps need that alignment,
//   live in Extra, a general-allocator block (16-byte aligned).
// - Root is the tree's root (a root points at itself), a DictionaryRoot
//   record. Its Watchers count the Dictionaries of the tree with a remove,
//   key-change and value-change callback set, so that an unwatched tree
//   makes no report walk.
#pragma once

#include <string.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "runtime/callback.h"
#include "runtime/class.h"
#include "runtime/containers/dictionary.h"
#include "runtime/containers/pool.h"
#include "runtime/containers/pool_internal.h"
#include "runtime/debug.h"
#include "runtime/text/string_internal.h"
#include "runtime/text/unicode_codec.h"

// Item flag bits: the type, the private mark and a Boolean's value.
constexpr uint8 DictionaryTypeMask = 0x07;
constexpr uint8 DictionaryPrivateFlag = 0x40;
constexpr uint8 DictionaryBooleanFlag = 0x80;

// A Boolean's text form, "true" or "false", and its length.
inline const char *DictionaryInt_BooleanText(bool Value, int32 *Length) {
    *Length = Value ? 4 : 5;
    return Value ? "true" : "false";
}

// Working size of item paths built for change reports and ItemGetPath.
constexpr int32 DictionaryPathWorkSize = 4096;
// Largest path given to a set-by-path operation, terminator included.
constexpr int32 DictionarySetPathSize = 320;

struct DictionaryItemList {
    uint32 ClassId; // DICTIONARYITEM_CLASSID; tested on every walk
    uint32 Count;
    DictionaryItem *First;
    DictionaryItem *Last;
};

// The rarely used part of a Dictionary, made the first time it is needed
// (a print, a print setting, a change callback) and freed with the record:
// most containers of a loaded document never need one.
struct DictionaryExtra {
    ClassPrintStruct Print;
    CallbackStruct RemoveCallback;
    CallbackStruct KeyChangeCallback;
    CallbackStruct ValueChangeCallback;
    // The exact option values of 255 and above (the option byte holds 255).
    uint32 LargeOptions[4];
    // The key index of a large container (dictionary_index.cpp), or null.
    struct DictionaryKeyIndex *Index;
    // The last item reached by position and its index (meaningful only while
    // CursorItem is set).
    DictionaryItem *CursorItem;
    int32 CursorIndex;
};

// Options are kept in a byte each: values up to 254 as they are, larger ones
// as DictionaryLargeOption with the value in the extra record. Every use
// compares with 0 or 1, which the byte answers alike.
constexpr uint8 DictionaryLargeOption = 255;

// A loaded document holds one record per container, so the record keeps to
// 128 bytes (a pool stride of 144): what only some containers need (print
// state and identifier, callbacks, the position cursor) is in Extra.
struct Dictionary {
    ClassStruct Class;
    const DictionaryVtbl *Vtbl;
    uint8 CaseSensitive;
    uint8 PrivateKeys;
    uint8 AllowDuplicates;
    uint8 StringPool;
    Dictionary *Parent;
    DictionaryItem *ParentItem;
    DictionaryItemList Items;
    Dictionary *Root;
    DictionaryExtra *Extra; // null until needed; published atomically
};

// Bytes of short key and value text kept inside the item record.
constexpr int32 DictionaryInlineBytes = 24;

struct DictionaryItem {
    uint32 ClassId;
    uint8 Flags;
    int32 KeyLength;
    int32 ValueLength;
    char *Key;
    char *Value;
    Dictionary *Child;
    DictionaryItem *Next;
    DictionaryItem *Prev;
    // Not cleared when the item is made: only bytes a text was copied into
    // are ever read.
    char Inline[DictionaryInlineBytes];
};

static_assert(offsetof(Dictionary, Vtbl) == offsetof(DictionaryHeader, Vtbl), "table pointer behind the header");
static_assert(sizeof(Dictionary) == 128);

// A root: the record and what only a root keeps: the pools of its whole
// tree and their chunk size. Watchers count the
// Dictionaries of its tree with a remove, key-change and value-change
// callback set; ChildExtras the child containers holding an extra record,
// which a whole-tree drop must free; AllocatedTexts the tree's texts taken
// from the general allocator, so that a tree dropped whole without any
// visits none of its items.
struct DictionaryRoot : Dictionary {
    uint32 PoolChunkSize;
    uint32 Watchers[3];
    uint32 ChildExtras;
    uint32 AllocatedTexts;
    // Bytes of the container pool's block: its record and, behind it, the
    // pool's first slab (lent to it), one allocation for both.
    uint32 ContainerBytes;
    // The print callback until Extra is made (then Extra's Print holds it):
    // a long-lived root whose owner prints through it, and which is never
    // printed itself, needs no extra record for it.
    void *PrintUser;
    ClassPrint_Func PrintFunction;
    // What the tree holds of the process's memory budget: given back when it
    // is emptied or goes (Dictionary_HoldCharge).
    int64 Charged;
    Pool *ContainerPool;
    Pool *ItemPool;
    Pool *Strings;
    // The record behind ItemPool, made in place with the root's first item
    // (until then not even cleared): nearly every root takes items, and its
    // item pool in the root's own allocation spares it a second allocation
    // and its overhead. The container pool, which many long-lived roots of a
    // few scalars never need, is an allocation of its own, made with the
    // first child and given back by a reset that leaves it empty.
    Pool ItemRecord;
};
// The part of a root that Dictionary_Create clears: all but the pool
// record, which ends the record with nothing behind it.
constexpr size_t DictionaryRootClearedBytes = sizeof(DictionaryRoot) - sizeof(Pool);
static_assert(sizeof(Pool) % alignof(DictionaryRoot) == 0 && DictionaryRootClearedBytes % 8 == 0);
inline DictionaryRoot *DictionaryInt_RootRecord(Dictionary *Handle) { return static_cast<DictionaryRoot *>(Handle->Root); }
static_assert(offsetof(DictionaryItem, ClassId) == 0);
static_assert(sizeof(DictionaryItem) == 80);
// The part of an item cleared when it is made.
constexpr size_t DictionaryItemFixedBytes = offsetof(DictionaryItem, Inline);

// A text too long for the inline area but short enough for an item-pool
// record behind a tag word is kept in such a record when the tree has no
// string pool: a 36-character identifier costs a record of the pool the
// tree already has, not an allocation of its own, and goes with the pool's
// chunks when the tree is dropped whole. The tag (0, never an item's class
// id) tells the records apart when a drop visits the pool's items. Which
// home a text has follows from its length alone, so the length a text is
// given back with finds it.
constexpr int32 DictionaryRecordTextOffset = 8;
constexpr int32 DictionaryRecordTextMost = (int32)sizeof(DictionaryItem) - DictionaryRecordTextOffset - 1;
inline bool DictionaryInt_IsRecordText(int32 Length) {
    return Length >= DictionaryInlineBytes && Length <= DictionaryRecordTextMost;
}

inline bool DictionaryInt_IsInline(const DictionaryItem *Item, const char *Text) {
    return Text >= Item->Inline && Text < Item->Inline + DictionaryInlineBytes;
}

// The item handle check: null and foreign records stop as class checks do.
#define Dictionary_CheckItem(Item) Class_CheckTag((Item), ClassId, DICTIONARYITEM_CLASSID)

#define Dictionary_CheckHandle(Handle) Class_CheckHandle((Handle), DICTIONARY_CLASSID)

// The list header check made at the start of every walk.
#define Dictionary_CheckList(Handle)                                                                 \
    do {                                                                                             \
        if ((Handle)->Items.ClassId != DICTIONARYITEM_CLASSID)                                       \
            Debug_AbortInt(__FILE__, __LINE__, "Class mismatch pointer (0x%p: expected 0x%08x but was 0x%08x)\n", \
                           (const void *)&(Handle)->Items, DICTIONARYITEM_CLASSID, (Handle)->Items.ClassId); \
    } while (0)

inline int32 DictionaryInt_Type(const DictionaryItem *Item) { return Item->Flags & DictionaryTypeMask; }
// Sets or clears an item's private mark.
inline void DictionaryInt_MarkPrivate(DictionaryItem *Item, uint32 Private) {
    Item->Flags = (uint8)((Item->Flags & ~DictionaryPrivateFlag) | (Private ? DictionaryPrivateFlag : 0));
}
inline bool DictionaryInt_IsContainerType(int32 Type) {
    return Type == DICTIONARY_TYPE_LIST || Type == DICTIONARY_TYPE_DICTIONARY;
}
inline bool DictionaryInt_IsNumberType(int32 Type) {
    return Type == DICTIONARY_TYPE_INT64 || Type == DICTIONARY_TYPE_FLOAT64;
}
// The stored length of a key of more than 119 bytes: its first 119, less a
// character that would be split. Lookups cut a long key alike, so that it
// finds the item stored under it.
inline int32 DictionaryInt_CutKeyLength(const char *Key) {
    return (int32)unicode::CutLengthUtf8(Key, DICTIONARY_MAX_KEY_LENGTH);
}
inline void DictionaryInt_ClearOut(void *Out) {
    if (Out != nullptr) *static_cast<void **>(Out) = nullptr;
}

// ---- dictionary.cpp ----
Dictionary *DictionaryInt_Root(Dictionary *Handle);
// Makes a root's missing pools (string pool only while the tree is empty).
void DictionaryInt_EnsurePools(Dictionary *Root);
// The same without the container pool, which waits for the first child: a
// small tree of scalars never makes one.
void DictionaryInt_EnsureItemPools(Dictionary *Root);
// DictionaryInt_EnsureItemPools for a Dictionary about to take an item,
// called only where it can change something: a root without pools yet, or
// an empty root (whose string pool follows the option).
inline void DictionaryInt_PreparePools(Dictionary *Handle) {
    if (Handle->Parent == nullptr &&
        (Handle->Items.Count == 0 || DictionaryInt_RootRecord(Handle)->ItemPool == nullptr))
        DictionaryInt_EnsureItemPools(Handle);
}
// A new child container for Item of Parent, from the root's container pool
// (DictionaryInt_NewChild, at the end of this header, is the same inline).
Dictionary *DictionaryInt_CreateChild(Dictionary *Parent, DictionaryItem *Item);
// What a new child copies from its parent's extra record: the option values
// of 255 and above (kept only there) and the print identifier.
void DictionaryInt_CopyExtraSettings(Dictionary *Parent, Dictionary *Child);
// The delete function of every Dictionary's class header.
int32 DictionaryInt_DeleteThunk(void *HandleAddress);
// Resets a child container and returns it to the container pool.
void DictionaryInt_FreeChild(Dictionary *Parent, Dictionary **Child);
// Key and value storage (length plus one bytes, from the tree's string pool
// when it has one).
char *DictionaryInt_AllocText(Dictionary *Handle, int32 Length);
void DictionaryInt_FreeText(Dictionary *Handle, char **Text, int32 Length);
// Room for Item's new key or value of Length bytes plus the NUL: inline when
// it fits beside the texts that stay, else from DictionaryInt_AllocText
// (DictionaryInt_KeyRoom and DictionaryInt_ValueRoom, inline, at the end of
// this header).
// Gives back a key or value of Item (nothing to give for an inline text) and
// clears the pointer.
void DictionaryInt_ReleaseText(Dictionary *Handle, DictionaryItem *Item, char **Text, int32 Length);
// A new keyless Unknown item linked after After (at the front when null).
DictionaryItem *DictionaryInt_Link(Dictionary *Handle, DictionaryItem *After);
// Dictionary_Insert without the handle checks: the existing item under Key
// when duplicates are off, else a new item after After.
DictionaryItem *DictionaryInt_Insert(Dictionary *Handle, DictionaryItem *After, const char *Key);
// The new item of DictionaryInt_Insert (no duplicate lookup) under Key, whose
// length the caller measured (strlen), or keyless when Key is null.
DictionaryItem *DictionaryInt_LinkKeyed(Dictionary *Handle, DictionaryItem *After, const char *Key, int32 Length);
// DictionaryInt_AppendValue (at the end of this header, inline: a loader
// calls it for every value) appends an item of Type under Key (or keyless;
// KeyLength is Key's length, and Key is NUL-terminated too) holding Text (a
// String's or number's bytes, a Boolean's "true" or "false"): Dictionary_Add,
// _ItemSetType and _ItemSetBuffer (_ItemSetBoolean) in turn, with the same
// result and reports. While nothing in the tree watches, a new item's steps
// are taken at once, since none of them can be told apart; otherwise
// DictionaryInt_AppendSteps takes them one by one, with their lookups and
// reports.
DictionaryItem *DictionaryInt_AppendSteps(Dictionary *Handle, const char *Key, int32 Type, const char *Text,
                                          int32 TextLength);
// Removes Item and its subtree, children first, with every report.
void DictionaryInt_RemoveItem(Dictionary *Handle, DictionaryItem *Item);
// Removes every item, last first.
void DictionaryInt_RemoveAll(Dictionary *Handle);
// The number of items before Item (walks from both ends of Item's list).
int32 DictionaryInt_IndexOf(Dictionary *Handle, DictionaryItem *Item);
// The Index-th item (negative from the end), or null.
DictionaryItem *DictionaryInt_ItemAt(Dictionary *Handle, int32 Index);
// Handle's extra record, made when missing.
DictionaryExtra *DictionaryInt_Extra(Dictionary *Handle);
// Frees Handle's extra record (a child's is counted in its root's).
void DictionaryInt_FreeExtra(Dictionary *Handle);
// Change reports, bubbled from Handle up to the root. The report functions
// (inline, at the end of this header) make no call while nothing in the
// tree watches that kind of change.
void DictionaryInt_BubbleRemove(Dictionary *Handle, DictionaryItem *Item);
void DictionaryInt_BubbleKey(Dictionary *Handle, DictionaryItem *Item, const char *OldKey);
void DictionaryInt_BubbleValue(Dictionary *Handle, DictionaryItem *Item, const char *OldValue, int32 OldLength);
// Re-key reports for the items from First on when Handle is a List's child
// and the root watches keys.
void DictionaryInt_ReportListRekey(Dictionary *Handle, DictionaryItem *First);

// ---- dictionary_item.cpp ----
// The item's text form: "null", "true"/"false", or the stored bytes.
int32 DictionaryInt_TextForm(const DictionaryItem *Item, const char **Text, int32 *Length);
int32 DictionaryInt_SetType(Dictionary *Handle, DictionaryItem *Item, int32 Type);
int32 DictionaryInt_SetKeyLength(Dictionary *Handle, DictionaryItem *Item, const char *Key, int32 Length);
// DictionaryInt_SetKeyLength for a Key with no NUL in its first Length bytes.
int32 DictionaryInt_SetMeasuredKey(Dictionary *Handle, DictionaryItem *Item, const char *Key, int32 Length);
int32 DictionaryInt_SetBuffer(Dictionary *Handle, DictionaryItem *Item, const void *Bytes, int32 Length);
int32 DictionaryInt_SetBoolean(Dictionary *Handle, DictionaryItem *Item, uint32 Value);
int32 DictionaryInt_SetStringV(Dictionary *Handle, DictionaryItem *Item, const char *Format, va_list Arguments);
int32 DictionaryInt_SetStringPrint(Dictionary *Handle, DictionaryItem *Item, const char *Format, ...);
// The texts "%lld" and "%g" print for a number.
int32 DictionaryInt_SetInt64(Dictionary *Handle, DictionaryItem *Item, int64 Value);
int32 DictionaryInt_SetFloat64(Dictionary *Handle, DictionaryItem *Item, float64 Value);
// Those texts, written to Area (DictionaryNumberAreaSize bytes); the length.
constexpr int32 DictionaryNumberAreaSize = 512;
int32 DictionaryInt_Int64Text(int64 Value, char *Area);
int32 DictionaryInt_Float64Text(float64 Value, char *Area);
uint32 DictionaryInt_GetPrivate(Dictionary *Handle, const DictionaryItem *Item);
// Number reads of Int64 and Float64 texts (0 for other types).
int32 DictionaryInt_GetInt64(const DictionaryItem *Item, int64 *Value);
int32 DictionaryInt_GetFloat64(const DictionaryItem *Item, float64 *Value);

// ---- dictionary_key.cpp ----
// Key equality under Handle's CaseSensitive.
bool DictionaryInt_KeyEquals(const Dictionary *Handle, const DictionaryItem *Item, const char *Key, int32 Length);
bool DictionaryInt_TextEquals(const Dictionary *Handle, const char *A, int32 ALength, const char *B, int32 BLength);
// The first item whose stored key equals Key exactly (no index form, no
// private-mark rule): the counterpart rule of sync and merge.
DictionaryItem *DictionaryInt_FindStoredKey(Dictionary *Handle, const char *Key, int32 Length);
DictionaryItem *DictionaryInt_FindByKey(Dictionary *Handle, const char *Key, DictionaryItem *Start);
// DictionaryInt_FindByKey with Key's length (strlen) measured by the caller.
DictionaryItem *DictionaryInt_FindByKeyLength(Dictionary *Handle, const char *Key, size_t Length,
                                              DictionaryItem *Start);
DictionaryItem *DictionaryInt_EnsureKey(Dictionary *Handle, const char *Key);

// ---- dictionary_index.cpp ----
// A container gets a key index once it holds this many items.
constexpr uint32 DictionaryIndexThreshold = 32;
// Key changes: Remove before an item's key goes (its old text still stored),
// Add once the new key is stored and the item linked.
void DictionaryInt_IndexAdd(Dictionary *Handle, DictionaryItem *Item);
// Only a Dictionary with an extra record can have an index: the others skip
// the index calls (IndexAdd also makes one once the list is long enough).
inline bool DictionaryInt_MayBeIndexed(const Dictionary *Handle) {
    return __atomic_load_n(&Handle->Extra, __ATOMIC_ACQUIRE) != nullptr;
}
void DictionaryInt_IndexRemove(Dictionary *Handle, DictionaryItem *Item);
// The item under an exact stored key. *Answered is false when the container
// has no index or several items carry the key: the list walk decides then.
DictionaryItem *DictionaryInt_IndexFind(Dictionary *Handle, const char *Key, int32 Length, bool *Answered);
// Drops the index (items gone at once), or makes it anew from the list (the
// case rule changed).
void DictionaryInt_IndexDrop(Dictionary *Handle);
void DictionaryInt_IndexRebuild(Dictionary *Handle);
void DictionaryInt_IndexFree(struct DictionaryKeyIndex *Index);
// Whether no two items of Handle carry one key, as Handle compares keys
// (false also for a large container without its table).
bool DictionaryInt_KeysDistinct(Dictionary *Handle);

// ---- dictionary_path.cpp ----
int32 DictionaryInt_FindByPath(Dictionary *Handle, const char *Path, Dictionary **Owner, DictionaryItem **Item);
int32 DictionaryInt_GetPath(Dictionary *Handle, DictionaryItem *Item, Dictionary *Stop, char *Buffer, int32 Size);

// ---- dictionary_print.cpp ----
ClassPrintStruct *DictionaryInt_PrintRecord(Dictionary *Handle);

// Copies Length bytes (less than 32) with a few fixed-size moves: every
// short key and value goes through it.
inline void DictionaryInt_CopyShort(char *To, const char *From, size_t Length) {
    string_detail::CopyShort(To, From, Length);
}

// Copies a key or value text: a short one with DictionaryInt_CopyShort.
inline void DictionaryInt_CopyText(char *To, const char *From, int32 Length) {
    if (Length < 32)
        DictionaryInt_CopyShort(To, From, (size_t)Length);
    else
        memcpy(To, From, (size_t)Length);
}

// The root's count of Dictionaries watching Kind (0 remove, 1 key, 2 value).
inline bool DictionaryInt_Watched(Dictionary *Handle, int32 Kind) {
    return DictionaryInt_RootRecord(Handle)->Watchers[Kind] != 0;
}
// Whether anything in Handle's tree watches a change of any kind.
inline bool DictionaryInt_WatchedAtAll(Dictionary *Handle) {
    const uint32 *Watched = DictionaryInt_RootRecord(Handle)->Watchers;
    return (Watched[0] | Watched[1] | Watched[2]) != 0;
}
inline void DictionaryInt_ReportRemove(Dictionary *Handle, DictionaryItem *Item) {
    if (DictionaryInt_Watched(Handle, 0)) DictionaryInt_BubbleRemove(Handle, Item);
}
inline void DictionaryInt_ReportKey(Dictionary *Handle, DictionaryItem *Item, const char *OldKey) {
    if (DictionaryInt_Watched(Handle, 1)) DictionaryInt_BubbleKey(Handle, Item, OldKey);
}
inline void DictionaryInt_ReportValue(Dictionary *Handle, DictionaryItem *Item, const char *OldValue,
                                      int32 OldLength) {
    if (DictionaryInt_Watched(Handle, 2)) DictionaryInt_BubbleValue(Handle, Item, OldValue, OldLength);
}

inline char *DictionaryInt_KeyRoom(Dictionary *Handle, DictionaryItem *Item, int32 Length) {
    const bool Free = (Item->Key == nullptr || !DictionaryInt_IsInline(Item, Item->Key)) &&
                      (Item->Value == nullptr || !DictionaryInt_IsInline(Item, Item->Value));
    if (Free && Length < DictionaryInlineBytes) return Item->Inline;
    return DictionaryInt_AllocText(Handle, Length);
}

inline char *DictionaryInt_ValueRoom(Dictionary *Handle, DictionaryItem *Item, int32 Length) {
    const int32 Start = Item->Key != nullptr && DictionaryInt_IsInline(Item, Item->Key) ? Item->KeyLength + 1 : 0;
    if (Item->Value == nullptr || !DictionaryInt_IsInline(Item, Item->Value)) {
        if (Length < DictionaryInlineBytes - Start) return Item->Inline + Start;
    } else {
        // The old value stays where it is until its change is reported: the
        // new one takes the inline bytes in front of it or behind it when it
        // fits there, so that a short value set again and again stays inline.
        const int32 OldStart = (int32)(Item->Value - Item->Inline);
        const int32 OldEnd = OldStart + Item->ValueLength + 1;
        if (Length < OldStart - Start) return Item->Inline + Start;
        if (Length < DictionaryInlineBytes - OldEnd) return Item->Inline + OldEnd;
    }
    return DictionaryInt_AllocText(Handle, Length);
}

// DictionaryInt_SetType, with what it does to an item of the same type or an
// item holding no text and no child given a scalar type done in place.
inline int32 DictionaryInt_Retype(Dictionary *Handle, DictionaryItem *Item, int32 Type) {
    if (DictionaryInt_Type(Item) == Type) return TRUE;
    if (Type >= DICTIONARY_TYPE_UNKNOWN && Type <= DICTIONARY_TYPE_STRING && Item->Value == nullptr &&
        Item->Child == nullptr) {
        Item->ValueLength = 0;
        Item->Flags = (uint8)((Item->Flags & ~DictionaryTypeMask) | Type);
        return TRUE;
    }
    return DictionaryInt_SetType(Handle, Item, Type);
}

// Clears a container record with plain 16-byte stores (pool records are
// 16-byte aligned): the compiler would make a string fill of a whole-record
// clear, whose start-up costs more than the record's few lines.
inline void DictionaryInt_ClearRecord(Dictionary *Record) {
#if defined(__SSE2__)
    static_assert(sizeof(Dictionary) % 16 == 0);
    const __m128i Zero = _mm_setzero_si128();
    __m128i *Lines = reinterpret_cast<__m128i *>(Record);
#pragma GCC unroll 16
    for (size_t Line = 0; Line < sizeof(Dictionary) / 16; Line++) _mm_store_si128(Lines + Line, Zero);
#else
    *Record = Dictionary{};
#endif
}

[[gnu::always_inline]] inline Dictionary *DictionaryInt_NewChild(Dictionary *Parent, DictionaryItem *Item) {
    DictionaryRoot *Root = DictionaryInt_RootRecord(Parent);
    // Items are linked before their child is made: only the container pool
    // may be missing.
    if (Root->ContainerPool == nullptr) DictionaryInt_EnsurePools(Root);
    Dictionary *Child = static_cast<Dictionary *>(PoolInt_Alloc(Root->ContainerPool, (int32)sizeof(Dictionary)));
    DictionaryInt_ClearRecord(Child);
    Class_InitHeader(Child, DICTIONARY_CLASSID, DictionaryInt_DeleteThunk);
    Child->Class.RefCount = 0;
    Child->Vtbl = &GlobalDictionaryVtbl;
    Child->CaseSensitive = Parent->CaseSensitive;
    Child->PrivateKeys = Parent->PrivateKeys;
    Child->AllowDuplicates = Parent->AllowDuplicates;
    Child->StringPool = Parent->StringPool;
    Child->Parent = Parent;
    Child->ParentItem = Item;
    Child->Items.ClassId = DICTIONARYITEM_CLASSID;
    Child->Root = Root;
    if (Parent->Extra != nullptr) DictionaryInt_CopyExtraSettings(Parent, Child);
    return Child;
}

[[gnu::always_inline]] inline DictionaryItem *DictionaryInt_AppendValue(Dictionary *Handle, const char *Key,
                                                                         int32 KeyLength, int32 Type, const char *Text,
                                                                         int32 TextLength) {
    // A key under the duplicate rule, one too long (cut with a print) or
    // anyone watching: the steps one by one, with their lookups and reports.
    if (DictionaryInt_WatchedAtAll(Handle) ||
        (Key != nullptr && (Handle->AllowDuplicates == 0 || KeyLength > DICTIONARY_MAX_KEY_LENGTH)))
        return DictionaryInt_AppendSteps(Handle, Key, Type, Text, TextLength);
    // DictionaryInt_Link at the end of the list, with every field of the new
    // item written once.
    DictionaryInt_PreparePools(Handle);
    DictionaryItem *Item = static_cast<DictionaryItem *>(
        PoolInt_Alloc(DictionaryInt_RootRecord(Handle)->ItemPool, (int32)sizeof(DictionaryItem)));
    DictionaryItemList &List = Handle->Items;
    DictionaryItem *Last = List.Last;
    uint8 Flags = (uint8)Type;
    char *StoredKey = nullptr;
    // Where the value may start inside the item: behind an inline key.
    int32 InlineUsed = 0;
    int32 Length = KeyLength;
    if (Key != nullptr) {
        if (Handle->PrivateKeys == 1 && Length >= 1 && (Key[0] == '.' || Key[0] == '#')) {
            Key++;
            Length--;
            Flags |= DictionaryPrivateFlag;
        }
        // A new item has neither key nor value yet: a short key goes inline.
        StoredKey = Item->Inline;
        if (Length < DictionaryInlineBytes) {
            InlineUsed = Length + 1;
            DictionaryInt_CopyShort(StoredKey, Key, (size_t)Length);
        } else {
            StoredKey = DictionaryInt_AllocText(Handle, Length);
            memcpy(StoredKey, Key, (size_t)Length);
        }
        StoredKey[Length] = 0;
    } else {
        Length = 0;
    }
    char *StoredValue = nullptr;
    int32 ValueLength = 0;
    if (Type == DICTIONARY_TYPE_BOOLEAN) {
        // Byte by byte: a memcmp here draws a false over-read warning where
        // a caller passes a one-byte text with a length of 0.
        if (TextLength == 4 && Text[0] == 't' && Text[1] == 'r' && Text[2] == 'u' && Text[3] == 'e')
            Flags |= DictionaryBooleanFlag;
    } else if (TextLength > 0 && (Type == DICTIONARY_TYPE_STRING || DictionaryInt_IsNumberType(Type))) {
        // As DictionaryInt_ValueRoom gives it for an item without a value.
        if (TextLength < DictionaryInlineBytes - InlineUsed) {
            StoredValue = Item->Inline + InlineUsed;
            DictionaryInt_CopyShort(StoredValue, Text, (size_t)TextLength);
        } else {
            StoredValue = DictionaryInt_AllocText(Handle, TextLength);
            memcpy(StoredValue, Text, (size_t)TextLength);
        }
        StoredValue[TextLength] = 0;
        ValueLength = TextLength;
    }
    Item->ClassId = DICTIONARYITEM_CLASSID;
    Item->Flags = Flags;
    Item->KeyLength = Length;
    Item->ValueLength = ValueLength;
    Item->Key = StoredKey;
    Item->Value = StoredValue;
    Item->Child = nullptr;
    Item->Next = nullptr;
    Item->Prev = Last;
    if (Last != nullptr)
        Last->Next = Item;
    else
        List.First = Item;
    List.Last = Item;
    if (Last == nullptr && Handle->Extra != nullptr) Handle->Extra->CursorIndex++;
    List.Count++;
    // A small container has no key index to keep, nor reaches the size that
    // makes one.
    if (StoredKey != nullptr && (Handle->Extra != nullptr || List.Count >= DictionaryIndexThreshold))
        DictionaryInt_IndexAdd(Handle, Item);
    if (DictionaryInt_IsContainerType(Type)) Item->Child = DictionaryInt_NewChild(Handle, Item);
    return Item;
}
