// Dictionary: records, pools, item order, removal and change reports.
// Typed values live in dictionary_item.cpp, lookups in dictionary_key.cpp
// and dictionary_path.cpp, whole-tree operations in dictionary_merge.cpp.
//
// Removal runs without recursion (a subtree is taken down by walking to its
// deepest last item and climbing back), so a document nested thousands of
// levels deep is released without exhausting the stack, in the same order
// and with the same reports as a recursive reset.
#include <string.h>

#include <array>
#include <vector>

#include "runtime/containers/dictionary_internal.h"
#include "runtime/containers/pool_internal.h"
#include "runtime/log.h"
#include "runtime/memory.h"

namespace {

constexpr uint32 DefaultChunkSize = 8;
// String chunks: one record of 2,048 bytes per chunk.
constexpr uint32 StringChunkBytes = 2048;
// A child is a whole container-pool record.
constexpr uint32 ContainerRecordSize = (uint32)sizeof(Dictionary);
// Largest first container slab kept in the pool record's block; a larger
// chunk size gets a slab of its own.
constexpr uint64 LentSlabMost = 1024 * 1024;
static_assert(sizeof(Pool) % 16 == 0, "the lent slab behind the pool record stays 16-byte aligned");


Pool *MakePool(uint32 MemberSize, uint32 ChunkSize) {
    Pool *Made = nullptr;
    Pool_Create(&Made);
    Pool_SetMemorySize(Made, MemberSize);
    Pool_SetChunkSize(Made, ChunkSize);
    return Made;
}

} // namespace

namespace {

// Clears a new root record up to its pool records with plain 16-byte stores,
// as DictionaryInt_ClearRecord clears a child (the general allocator's blocks
// need not be 16-byte aligned here).
void ClearRoot(DictionaryRoot *Record) {
    constexpr size_t Bytes = DictionaryRootClearedBytes;
#if defined(__SSE2__)
    const __m128i Zero = _mm_setzero_si128();
    __m128i *Lines = reinterpret_cast<__m128i *>(Record);
#pragma GCC unroll 16
    for (size_t Line = 0; Line < Bytes / 16; Line++) _mm_storeu_si128(Lines + Line, Zero);
    if constexpr (Bytes % 16 != 0) memset(reinterpret_cast<char *>(Record) + Bytes / 16 * 16, 0, Bytes % 16);
#else
    memset(static_cast<void *>(Record), 0, Bytes);
#endif
}

// A fixed pool of the root, made in its record. Items and containers are
// cleared by the code that takes them, once.
Pool *MakeRootPool(Pool *Record, uint32 MemberSize, uint32 ChunkSize) {
    PoolInt_InitFixed(Record, MemberSize, ChunkSize, 0, __FILE__, __LINE__);
    return Record;
}

// Gives back a root's container pool that hands out no child, its record
// included, so that a reset returns a tree to what it held before its first
// child, as it does for the item pool's chunks. A pool someone set to another
// mode (debug mode, a lock) keeps its record and only drops its chunks.
void ReleaseContainerPool(DictionaryRoot *Root) {
    Pool *Containers = Root->ContainerPool;
    if (Containers == nullptr || Containers->ActiveCount != 0) return;
    if ((Containers->StringMode | Containers->DebugMode | Containers->ZeroOnAlloc | Containers->Verbose |
         Containers->AllowLock) != 0) {
        Pool_RemoveAll(Containers);
        return;
    }
    PoolInt_Destroy(Containers);
    Memory_Free(Containers, (int32)Root->ContainerBytes);
    Root->ContainerPool = nullptr;
}

bool CallbackSet(const CallbackStruct *Callback) {
    return __atomic_load_n(&Callback->Base.Function, __ATOMIC_ACQUIRE) != nullptr;
}

// The report kinds, as indexes of the root's watcher counts.
constexpr int32 WatchRemove = 0;
constexpr int32 WatchKey = 1;
constexpr int32 WatchValue = 2;

CallbackStruct DictionaryExtra::*const WatchField[3] = {
    &DictionaryExtra::RemoveCallback, &DictionaryExtra::KeyChangeCallback, &DictionaryExtra::ValueChangeCallback};

DictionaryExtra *LoadExtra(const Dictionary *Handle) { return __atomic_load_n(&Handle->Extra, __ATOMIC_ACQUIRE); }

// The callback of Kind of Handle, or null when Handle never had an extra record.
CallbackStruct *WatchOf(const Dictionary *Handle, int32 Kind) {
    DictionaryExtra *Extra = LoadExtra(Handle);
    return Extra != nullptr ? &(Extra->*WatchField[Kind]) : nullptr;
}

uint32 Watchers(Dictionary *Handle, int32 Kind) { return DictionaryInt_RootRecord(Handle)->Watchers[Kind]; }

// Sets or clears one change callback and keeps the root's count of watched
// Dictionaries in step. Clearing a callback never set makes no record.
int32 SetWatch(Dictionary *Handle, int32 Kind, void *User, void *Function) {
    if (Function == nullptr && LoadExtra(Handle) == nullptr) return TRUE;
    CallbackStruct *Callback = &(DictionaryInt_Extra(Handle)->*WatchField[Kind]);
    const bool Was = CallbackSet(Callback);
    if (Function == nullptr)
        CallbackBase_Reset(Callback);
    else
        CallbackBase_Set(Callback, User, Function);
    const bool Now = Function != nullptr;
    if (Was != Now) DictionaryInt_RootRecord(Handle)->Watchers[Kind] += Now ? 1u : (uint32)-1;
    return TRUE;
}

// Calls the callback of Kind at every level from Handle up to the root, with
// that level's item on the way to Item and Item's path relative to the level.
template <typename Caller> void Bubble(Dictionary *Handle, DictionaryItem *Item, int32 Kind, const Caller &Call) {
    if (Watchers(Handle->Root, Kind) == 0) return;
    DictionaryItem *LevelItem = Item;
    for (Dictionary *Level = Handle; Level != nullptr; Level = Level->Parent) {
        CallbackStruct *Callback = WatchOf(Level, Kind);
        void *User = nullptr;
        void *Function = nullptr;
        if (Callback != nullptr && CallbackSet(Callback) && CallbackBase_Get(Callback, &User, &Function)) {
            char Path[DictionaryPathWorkSize];
            DictionaryInt_GetPath(Handle, Item, Level, Path, (int32)sizeof(Path));
            Call(Level, LevelItem, User, Function, Path);
        }
        LevelItem = Level->ParentItem;
    }
}

// Steps 2 to 5 of a removal, for an item whose child (if any) is empty.
void RemoveOne(Dictionary *Handle, DictionaryItem *Item) {
    DictionaryInt_ReportRemove(Handle, Item);
    if (DictionaryInt_MayBeIndexed(Handle)) DictionaryInt_IndexRemove(Handle, Item);
    if (Item->Key != nullptr) DictionaryInt_ReleaseText(Handle, Item, &Item->Key, Item->KeyLength);
    Item->KeyLength = 0;
    if (Item->Value != nullptr) DictionaryInt_ReleaseText(Handle, Item, &Item->Value, Item->ValueLength);
    Item->ValueLength = 0;
    if (Item->Child != nullptr) DictionaryInt_FreeChild(Handle, &Item->Child);
    Item->Flags = 0;

    DictionaryItem *Following = Item->Next;
    DictionaryItemList &List = Handle->Items;
    if (Item->Prev != nullptr)
        Item->Prev->Next = Item->Next;
    else
        List.First = Item->Next;
    if (Item->Next != nullptr)
        Item->Next->Prev = Item->Prev;
    else
        List.Last = Item->Prev;
    List.Count--;
    if (DictionaryExtra *Extra = LoadExtra(Handle); Extra != nullptr && Extra->CursorItem != nullptr) {
        if (Extra->CursorItem == Item || (Item->Prev != nullptr && Following != nullptr))
            Extra->CursorItem = nullptr;
        else if (Item->Prev == nullptr)
            Extra->CursorIndex--;
    }
    Item->Next = Item->Prev = nullptr;
    Item->ClassId = 0;
    Pool_Free(DictionaryInt_RootRecord(Handle)->ItemPool, &Item, (int32)sizeof(DictionaryItem));

    DictionaryInt_ReportListRekey(Handle, Following);
}

bool PoolInDebugMode(Pool *Handle) { return Handle != nullptr && Handle->DebugMode != 0; }

// No remove, key or value callback anywhere in the root's tree: taking it
// down makes no report, so nothing can tell one item's removal from the
// next. Pools in debug mode hand out single allocations, which only a free
// of each record gives back.
bool Droppable(DictionaryRoot *Root) {
    return Watchers(Root, WatchRemove) == 0 && Watchers(Root, WatchKey) == 0 && Watchers(Root, WatchValue) == 0 &&
           !PoolInDebugMode(Root->ItemPool) && !PoolInDebugMode(Root->ContainerPool) &&
           !PoolInDebugMode(Root->Strings);
}

// Empties an unwatched root at once: its texts go back to the general
// allocator and its containers' extra records are freed (a string pool
// takes the texts back whole instead, and without extra records there is
// nothing to free), and the item and container pools drop every chunk,
// records included. Every record the root's pools hand out is an item or a
// container of its tree, so the records are visited in the order they lie
// in the pools rather than along the tree's links.
void FreeItemTexts(void *Record, void *) {
    DictionaryItem *Item = static_cast<DictionaryItem *>(Record);
    // A text record of the pool goes with the pool's chunks.
    if (Item->ClassId != DICTIONARYITEM_CLASSID) return;
    if (Item->Key != nullptr && !DictionaryInt_IsInline(Item, Item->Key) &&
        !DictionaryInt_IsRecordText(Item->KeyLength))
        Item->Key = static_cast<char *>(Memory_Free(Item->Key, Item->KeyLength + 1));
    if (Item->Value != nullptr && !DictionaryInt_IsInline(Item, Item->Value) &&
        !DictionaryInt_IsRecordText(Item->ValueLength))
        Item->Value = static_cast<char *>(Memory_Free(Item->Value, Item->ValueLength + 1));
}

void FreeChildExtra(void *Record, void *) {
    Dictionary *Child = static_cast<Dictionary *>(Record);
    if (Child->Extra != nullptr) DictionaryInt_FreeExtra(Child);
}

// Frees the texts kept outside the item pool and the children's extra
// records, and empties the tree's list; the pools keep their records.
void DropOutsidePools(DictionaryRoot *Root) {
    // Items come with the pool records, so a root with an item pool has them.
    if (Root->Strings == nullptr && Root->ItemPool != nullptr && Root->AllocatedTexts != 0)
        PoolInt_VisitRecords(Root->ItemPool, FreeItemTexts, nullptr);
    Root->AllocatedTexts = 0;
    if (Root->ChildExtras != 0 && Root->ContainerPool != nullptr)
        PoolInt_VisitRecords(Root->ContainerPool, FreeChildExtra, nullptr);
    Root->Items.First = Root->Items.Last = nullptr;
    Root->Items.Count = 0;
}

void DropTree(DictionaryRoot *Root) {
    DropOutsidePools(Root);
    if (DictionaryExtra *Extra = LoadExtra(Root)) {
        DictionaryInt_IndexDrop(Root);
        Extra->CursorItem = nullptr;
        Extra->CursorIndex = 0;
    }
    if (Root->ItemPool != nullptr) Pool_RemoveAll(Root->ItemPool);
    if (Root->ContainerPool != nullptr) Pool_RemoveAll(Root->ContainerPool);
    ReleaseContainerPool(Root);
}

// What a reset of an unwatched root would free, for a root about to be
// deleted: its texts and children's extra records, and its item and
// container pools' chunks. The tree's list, cursor and index are left as
// they are (the root record and its extra record go next), and so are the
// pool records, which the delete destroys. Each pool is emptied first, as a
// reset empties it: a destroy counts records still handed out as a leak.
void DropForDelete(DictionaryRoot *Root) {
    Dictionary_CheckList(Root);
    DropOutsidePools(Root);
    if (Root->ItemPool != nullptr) Pool_RemoveAll(Root->ItemPool);
    if (Root->ContainerPool != nullptr) Pool_RemoveAll(Root->ContainerPool);
    if (Root->Strings != nullptr) Pool_RemoveAll(Root->Strings);
}

// The options in the order of DictionaryExtra::LargeOptions.
uint8 Dictionary::*const OptionField[4] = {&Dictionary::CaseSensitive, &Dictionary::PrivateKeys,
                                           &Dictionary::AllowDuplicates, &Dictionary::StringPool};

void SetOption(Dictionary *Handle, int32 Index, uint32 Value) {
    if (Value < DictionaryLargeOption) {
        Handle->*OptionField[Index] = (uint8)Value;
    } else {
        DictionaryInt_Extra(Handle)->LargeOptions[Index] = Value;
        Handle->*OptionField[Index] = DictionaryLargeOption;
    }
    // The key index folds keys as the case rule says.
    if (OptionField[Index] == &Dictionary::CaseSensitive && Handle->Extra != nullptr && Handle->Extra->Index != nullptr)
        DictionaryInt_IndexRebuild(Handle);
}

uint32 GetOption(Dictionary *Handle, int32 Index) {
    const uint8 Stored = Handle->*OptionField[Index];
    return Stored == DictionaryLargeOption ? DictionaryInt_Extra(Handle)->LargeOptions[Index] : Stored;
}

} // namespace

Dictionary *DictionaryInt_Root(Dictionary *Handle) { return Handle->Root; }

int32 DictionaryInt_DeleteThunk(void *HandleAddress) {
    return Dictionary_Delete(static_cast<Dictionary **>(HandleAddress));
}

DictionaryExtra *DictionaryInt_Extra(Dictionary *Handle) {
    DictionaryExtra *Extra = LoadExtra(Handle);
    if (Extra != nullptr) return Extra;
    // Print settings are read and written atomically, so a record made by two
    // threads at once must end up as one: the loser frees its copy.
    DictionaryExtra *Made = static_cast<DictionaryExtra *>(Memory_Alloc((int32)sizeof(DictionaryExtra)));
    memset(Made, 0, sizeof(DictionaryExtra));
    // A child prints under its root's id text; a root's record takes over
    // the print callback its root record kept.
    if (Handle->Parent != nullptr) {
        Made->Print.InstanceIdText = Handle->Root->Class.InstanceId;
    } else {
        const DictionaryRoot *Root = DictionaryInt_RootRecord(Handle);
        Made->Print.PrintUser = __atomic_load_n(&Root->PrintUser, __ATOMIC_SEQ_CST);
        Made->Print.PrintFunction = __atomic_load_n(&Root->PrintFunction, __ATOMIC_SEQ_CST);
    }
    if (!__atomic_compare_exchange_n(&Handle->Extra, &Extra, Made, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) {
        Memory_Free(Made, (int32)sizeof(DictionaryExtra));
        return Extra;
    }
    if (Handle->Parent != nullptr) DictionaryInt_RootRecord(Handle)->ChildExtras++;
    return Made;
}

void DictionaryInt_FreeExtra(Dictionary *Handle) {
    DictionaryExtra *Extra = Handle->Extra;
    if (Extra == nullptr) return;
    Handle->Extra = nullptr;
    if (Handle->Parent != nullptr) DictionaryInt_RootRecord(Handle)->ChildExtras--;
    if (Extra->Index != nullptr) DictionaryInt_IndexFree(Extra->Index);
    Memory_Free(Extra, (int32)sizeof(DictionaryExtra));
}

void DictionaryInt_EnsurePools(Dictionary *Handle) {
    DictionaryRoot *Root = DictionaryInt_RootRecord(Handle);
    if (Root->ContainerPool == nullptr) {
        // The pool is made for its first child, so its first slab is needed
        // at once: it comes in the record's own block, which spares an
        // allocation and its free for every root with children.
        const uint32 Chunk = Root->PoolChunkSize > 0 ? Root->PoolChunkSize : 1;
        const uint64 Slab = PoolInt_LentSlabBytes(ContainerRecordSize, Chunk);
        const uint64 Bytes = sizeof(Pool) + (Slab <= LentSlabMost ? Slab : 0);
        Pool *Record = static_cast<Pool *>(Memory_Alloc((int32)Bytes));
        Root->ContainerBytes = (uint32)Bytes;
        Root->ContainerPool = MakeRootPool(Record, ContainerRecordSize, Chunk);
        if (Bytes > sizeof(Pool)) PoolInt_LendSlab(Record, Record + 1, Slab);
    }
    DictionaryInt_EnsureItemPools(Root);
}

void DictionaryInt_EnsureItemPools(Dictionary *Handle) {
    DictionaryRoot *Root = DictionaryInt_RootRecord(Handle);
    if (Root->ItemPool == nullptr)
        Root->ItemPool = MakeRootPool(&Root->ItemRecord, (uint32)sizeof(DictionaryItem),
                                      Root->PoolChunkSize > 0 ? Root->PoolChunkSize : 1);
    // The string storage of a tree follows the pool it was built with, so the
    // string pool comes and goes only while the tree is empty: a change of the
    // option with items present can never mix the two allocators.
    if (Root->Items.Count != 0) return;
    if (Root->StringPool == 1 && Root->Strings == nullptr) {
        Root->Strings = MakePool(StringChunkBytes, 1);
        Pool_SetStringMode(Root->Strings, 1);
    } else if (Root->StringPool != 1 && Root->Strings != nullptr) {
        Pool_Delete(&Root->Strings);
    }
}

Dictionary *DictionaryInt_CreateChild(Dictionary *Parent, DictionaryItem *Item) {
    return DictionaryInt_NewChild(Parent, Item);
}

void DictionaryInt_CopyExtraSettings(Dictionary *Parent, Dictionary *Child) {
    const DictionaryExtra *From = LoadExtra(Parent);
    for (int32 Index = 0; Index < 4; Index++)
        if (Parent->*OptionField[Index] == DictionaryLargeOption)
            DictionaryInt_Extra(Child)->LargeOptions[Index] = From->LargeOptions[Index];
    if (From->Print.PrintIdentifier != nullptr) DictionaryInt_Extra(Child)->Print.PrintIdentifier = From->Print.PrintIdentifier;
}

void DictionaryInt_FreeChild(Dictionary *Parent, Dictionary **Child) {
    (void)Parent;
    Dictionary *Freed = *Child;
    DictionaryInt_RemoveAll(Freed);
    for (int32 Kind = 0; Kind < 3; Kind++) {
        CallbackStruct *Callback = WatchOf(Freed, Kind);
        if (Callback != nullptr && CallbackSet(Callback)) SetWatch(Freed, Kind, nullptr, nullptr);
    }
    DictionaryInt_FreeExtra(Freed);
    Freed->Class.ClassId = 0;
    Freed->Items.ClassId = 0;
    Pool_Free(DictionaryInt_RootRecord(Freed)->ContainerPool, Child, (int32)ContainerRecordSize);
}

char *DictionaryInt_AllocText(Dictionary *Handle, int32 Length) {
    DictionaryRoot *Root = DictionaryInt_RootRecord(Handle);
    Pool *Strings = Root->Strings;
    if (Strings != nullptr) {
        if (void *Text = PoolInt_TakeText(Strings, Length + 1)) return static_cast<char *>(Text);
        return static_cast<char *>(Pool_Alloc(Strings, Length + 1));
    }
    if (DictionaryInt_IsRecordText(Length)) {
        // Only a tree with items stores texts, so its item pool exists.
        char *Record = static_cast<char *>(PoolInt_Alloc(Root->ItemPool, (int32)sizeof(DictionaryItem)));
        const uint32 Tag = 0;
        memcpy(Record, &Tag, sizeof(Tag));
        return Record + DictionaryRecordTextOffset;
    }
    Root->AllocatedTexts++;
    return static_cast<char *>(Memory_Alloc(Length + 1));
}

void DictionaryInt_FreeText(Dictionary *Handle, char **Text, int32 Length) {
    DictionaryRoot *Root = DictionaryInt_RootRecord(Handle);
    if (Root->Strings != nullptr) {
        Pool_Free(Root->Strings, Text, Length + 1);
    } else if (DictionaryInt_IsRecordText(Length)) {
        void *Record = *Text - DictionaryRecordTextOffset;
        Pool_Free(Root->ItemPool, &Record, (int32)sizeof(DictionaryItem));
        *Text = nullptr;
    } else {
        Root->AllocatedTexts--;
        *Text = static_cast<char *>(Memory_Free(*Text, Length + 1));
    }
}

void DictionaryInt_ReleaseText(Dictionary *Handle, DictionaryItem *Item, char **Text, int32 Length) {
    if (DictionaryInt_IsInline(Item, *Text))
        *Text = nullptr;
    else
        DictionaryInt_FreeText(Handle, Text, Length);
}

DictionaryItem *DictionaryInt_Link(Dictionary *Handle, DictionaryItem *After) {
    // Children carry the root's pools; only a root may still lack them.
    DictionaryInt_PreparePools(Handle);
    DictionaryItem *Item = static_cast<DictionaryItem *>(
        PoolInt_Alloc(DictionaryInt_RootRecord(Handle)->ItemPool, (int32)sizeof(DictionaryItem)));
    memset(Item, 0, DictionaryItemFixedBytes);
    Item->ClassId = DICTIONARYITEM_CLASSID;
    DictionaryItemList &List = Handle->Items;
    if (After != nullptr) {
        Item->Prev = After;
        Item->Next = After->Next;
        if (After->Next != nullptr)
            After->Next->Prev = Item;
        else
            List.Last = Item;
        After->Next = Item;
        // Appending leaves every earlier position as it was.
        if (DictionaryExtra *Extra = LoadExtra(Handle); Extra != nullptr && Item->Next != nullptr)
            Extra->CursorItem = nullptr;
    } else {
        Item->Next = List.First;
        if (List.First != nullptr)
            List.First->Prev = Item;
        else
            List.Last = Item;
        List.First = Item;
        if (DictionaryExtra *Extra = LoadExtra(Handle)) Extra->CursorIndex++;
    }
    List.Count++;
    return Item;
}

DictionaryItem *DictionaryInt_LinkKeyed(Dictionary *Handle, DictionaryItem *After, const char *Key, int32 Length) {
    // Linked before its key is stored, so that the key report names an item
    // an observer can already find by that path.
    DictionaryItem *Item = DictionaryInt_Link(Handle, After);
    if (Key != nullptr) DictionaryInt_SetMeasuredKey(Handle, Item, Key, Length);
    if (Item->Next != nullptr) DictionaryInt_ReportListRekey(Handle, Item->Next);
    return Item;
}

DictionaryItem *DictionaryInt_Insert(Dictionary *Handle, DictionaryItem *After, const char *Key) {
    if (Key == nullptr) return DictionaryInt_LinkKeyed(Handle, After, nullptr, 0);
    const size_t Length = strlen(Key);
    if (Handle->AllowDuplicates == 0) {
        DictionaryItem *Found = DictionaryInt_FindByKeyLength(Handle, Key, Length, nullptr);
        if (Found != nullptr) return Found;
    }
    return DictionaryInt_LinkKeyed(Handle, After, Key, (int32)Length);
}

DictionaryItem *DictionaryInt_AppendSteps(Dictionary *Handle, const char *Key, int32 Type, const char *Text,
                                          int32 TextLength) {
    DictionaryItem *Item = DictionaryInt_Insert(Handle, Handle->Items.Last, Key);
    DictionaryInt_SetType(Handle, Item, Type);
    if (Type == DICTIONARY_TYPE_BOOLEAN)
        DictionaryInt_SetBoolean(Handle, Item, TextLength == 4 && memcmp(Text, "true", 4) == 0);
    else if (Type == DICTIONARY_TYPE_STRING || DictionaryInt_IsNumberType(Type))
        DictionaryInt_SetBuffer(Handle, Item, Text, TextLength);
    return Item;
}

void DictionaryInt_RemoveItem(Dictionary *Top, DictionaryItem *Target) {
    Dictionary *Current = Top;
    DictionaryItem *Item = Target;
    for (;;) {
        while (Item->Child != nullptr && Item->Child->Items.Count > 0) {
            Current = Item->Child;
            Item = Current->Items.Last;
        }
        if (Item == Target) {
            RemoveOne(Current, Item);
            return;
        }
        Dictionary *Up = Current->Parent;
        DictionaryItem *UpItem = Current->ParentItem;
        RemoveOne(Current, Item);
        if (Current->Items.Count > 0) {
            Item = Current->Items.Last;
        } else {
            Item = UpItem;
            Current = Up;
        }
    }
}

void DictionaryInt_RemoveAll(Dictionary *Handle) {
    while (Handle->Items.Last != nullptr) DictionaryInt_RemoveItem(Handle, Handle->Items.Last);
}

namespace {

// A walk of this many steps or more is remembered even where that makes the
// container's extra record: walking a long list by position stays linear.
// A shorter one costs little to repeat and is remembered only where a record
// exists already.
constexpr int64 RememberedWalk = 16;

void Remember(Dictionary *Handle, DictionaryExtra *Extra, DictionaryItem *Item, int32 Index, int64 Steps) {
    if (Extra == nullptr) {
        if (Steps < RememberedWalk) return;
        Extra = DictionaryInt_Extra(Handle);
    }
    Extra->CursorItem = Item;
    Extra->CursorIndex = Index;
}

} // namespace

int32 DictionaryInt_IndexOf(Dictionary *Handle, DictionaryItem *Item) {
    DictionaryExtra *Extra = LoadExtra(Handle);
    if (Extra != nullptr && Item == Extra->CursorItem) return Extra->CursorIndex;
    DictionaryItem *Back = Item;
    DictionaryItem *Forward = Item;
    int32 Steps = 0;
    int32 Index;
    bool Member;
    for (;; Steps++) {
        if (Back->Prev == nullptr) {
            Index = Steps;
            Member = Back == Handle->Items.First;
            break;
        }
        if (Forward->Next == nullptr) {
            Index = (int32)Handle->Items.Count - 1 - Steps;
            Member = Forward == Handle->Items.Last;
            break;
        }
        Back = Back->Prev;
        Forward = Forward->Next;
    }
    // Only an item of this list may become its remembered position.
    if (Member) Remember(Handle, Extra, Item, Index, Steps);
    return Index;
}

DictionaryItem *DictionaryInt_ItemAt(Dictionary *Handle, int32 Index) {
    const int64 Count = Handle->Items.Count;
    int64 Wanted = Index < 0 ? Count + Index : Index;
    if (Wanted < 0 || Wanted >= Count) return nullptr;
    // Start from whichever known position is nearest: either end or the
    // cursor, so that walking a list by ascending index stays linear.
    DictionaryItem *Item;
    int64 Position;
    if (Wanted <= Count - 1 - Wanted) {
        Item = Handle->Items.First;
        Position = 0;
    } else {
        Item = Handle->Items.Last;
        Position = Count - 1;
    }
    DictionaryExtra *Extra = LoadExtra(Handle);
    if (Extra != nullptr && Extra->CursorItem != nullptr && Extra->CursorIndex >= 0 && Extra->CursorIndex < Count) {
        const int64 FromCursor = Wanted > Extra->CursorIndex ? Wanted - Extra->CursorIndex : Extra->CursorIndex - Wanted;
        const int64 FromEnd = Wanted > Position ? Wanted - Position : Position - Wanted;
        if (FromCursor < FromEnd) {
            Item = Extra->CursorItem;
            Position = Extra->CursorIndex;
        }
    }
    const int64 Steps = Wanted > Position ? Wanted - Position : Position - Wanted;
    while (Position < Wanted) {
        Item = Item->Next;
        Position++;
    }
    while (Position > Wanted) {
        Item = Item->Prev;
        Position--;
    }
    Remember(Handle, Extra, Item, (int32)Wanted, Steps);
    return Item;
}

void DictionaryInt_BubbleRemove(Dictionary *Handle, DictionaryItem *Item) {
    Bubble(Handle, Item, WatchRemove,
           [](Dictionary *Level, DictionaryItem *LevelItem, void *User, void *Function, const char *Path) {
               reinterpret_cast<Dictionary_ItemRemoveFunc>(Function)(Level, LevelItem, User, Path);
           });
}

void DictionaryInt_BubbleKey(Dictionary *Handle, DictionaryItem *Item, const char *OldKey) {
    Bubble(Handle, Item, WatchKey,
           [OldKey](Dictionary *Level, DictionaryItem *LevelItem, void *User, void *Function, const char *Path) {
               reinterpret_cast<Dictionary_ItemKeyChangeFunc>(Function)(Level, LevelItem, User, Path, OldKey);
           });
}

void DictionaryInt_BubbleValue(Dictionary *Handle, DictionaryItem *Item, const char *OldValue, int32 OldLength) {
    Bubble(Handle, Item, WatchValue,
           [OldValue, OldLength](Dictionary *Level, DictionaryItem *LevelItem, void *User, void *Function,
                                 const char *Path) {
               reinterpret_cast<Dictionary_ItemValueChangeFunc>(Function)(Level, LevelItem, User, Path, OldValue,
                                                                          OldLength);
           });
}

void DictionaryInt_ReportListRekey(Dictionary *Handle, DictionaryItem *First) {
    if (First == nullptr || Handle->ParentItem == nullptr) return;
    if (DictionaryInt_Type(Handle->ParentItem) != DICTIONARY_TYPE_LIST) return;
    CallbackStruct *RootWatch = WatchOf(Handle->Root, WatchKey);
    if (RootWatch == nullptr || !CallbackSet(RootWatch)) return;
    for (DictionaryItem *Item = First; Item != nullptr; Item = Item->Next) DictionaryInt_ReportKey(Handle, Item, nullptr);
}

// ---- Lifecycle and options ----

CLASS_DEFINE_REFERENCE(Dictionary, Dictionary, DICTIONARY_CLASSID)

int32 Dictionary_Create(Dictionary **Handle) {
    Debug_CheckPointer(Handle);
    DictionaryRoot *Created = static_cast<DictionaryRoot *>(Memory_Alloc((int32)sizeof(DictionaryRoot)));
    ClearRoot(Created);
    Class_InitHeader(Created, DICTIONARY_CLASSID, DictionaryInt_DeleteThunk);
    Created->Vtbl = &GlobalDictionaryVtbl;
    Created->CaseSensitive = 1;
    Created->PrivateKeys = 1;
    Created->AllowDuplicates = 1;
    Created->StringPool = 0;
    Created->PoolChunkSize = DefaultChunkSize;
    Created->Items.ClassId = DICTIONARYITEM_CLASSID;
    Created->Root = Created;
    *Handle = Created;
    return TRUE;
}

int32 Dictionary_Delete(Dictionary **Handle) {
    Debug_CheckPointer(Handle);
    Dictionary *Deleted = *Handle;
    Dictionary_CheckHandle(Deleted);
    // A child container belongs to its item and lives in the root's pool;
    // freeing it as a root would hand pool memory to the general allocator.
    if (Deleted->Parent != nullptr)
        Debug_Abort("Dictionary child container may not be deleted; its item owns it [0x%p]\n", (void *)Deleted);
    DictionaryRoot *Record = DictionaryInt_RootRecord(Deleted);
    if (Droppable(Record))
        DropForDelete(Record);
    else
        Dictionary_Reset(Deleted);
    if (Record->Strings != nullptr) Pool_Delete(&Record->Strings);
    if (Record->ItemPool != nullptr) PoolInt_Destroy(Record->ItemPool);
    if (Record->ContainerPool != nullptr) {
        PoolInt_Destroy(Record->ContainerPool);
        Memory_Free(Record->ContainerPool, (int32)Record->ContainerBytes);
    }
    DictionaryInt_FreeExtra(Deleted);
    if (Record->Charged != 0) MemoryBudget_Give(Record->Charged);
    Deleted->Class.ClassId = 0;
    Deleted->Items.ClassId = 0;
    Memory_Free(Record, (int32)sizeof(DictionaryRoot));
    *Handle = nullptr;
    return TRUE;
}

int32 Dictionary_Reset(Dictionary *Handle) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckList(Handle);
    if (Handle->Parent != nullptr) {
        DictionaryInt_RemoveAll(Handle);
        return TRUE;
    }
    DictionaryRoot *Root = DictionaryInt_RootRecord(Handle);
    // A dropped tree's item and container pools gave everything back already.
    const bool Dropped = Droppable(Root);
    if (Dropped)
        DropTree(Root);
    else
        DictionaryInt_RemoveAll(Handle);
    // A root gives its pools' memory back at once; a report callback that
    // added items while the tree came down keeps the pools as they are.
    uint32 Active = 0;
    if (Root->Strings != nullptr && Root->Items.Count == 0) {
        if (Root->StringPool == 1)
            Pool_Reset(Root->Strings);
        else
            Pool_Delete(&Root->Strings);
    }
    if (Root->Items.Count == 0 && Root->Charged != 0) {
        MemoryBudget_Give(Root->Charged);
        Root->Charged = 0;
    }
    if (Dropped) return TRUE;
    if (Root->ItemPool != nullptr && Pool_GetActiveCount(Root->ItemPool, &Active) && Active == 0)
        Pool_RemoveAll(Root->ItemPool);
    ReleaseContainerPool(Root);
    return TRUE;
}

#define DICTIONARY_OPTION(Name, Index)                                                               \
    int32 Dictionary_Set##Name(Dictionary *Handle, uint32 Value) {                                   \
        Dictionary_CheckHandle(Handle);                                                              \
        SetOption(Handle, Index, Value);                                                             \
        return TRUE;                                                                                 \
    }                                                                                                \
    int32 Dictionary_Get##Name(Dictionary *Handle, uint32 *Value) {                                  \
        Dictionary_CheckHandle(Handle);                                                              \
        Debug_CheckPointer(Value);                                                                   \
        *Value = GetOption(Handle, Index);                                                           \
        return TRUE;                                                                                 \
    }

DICTIONARY_OPTION(CaseSensitive, 0)
DICTIONARY_OPTION(PrivateKeys, 1)
DICTIONARY_OPTION(AllowDuplicates, 2)
DICTIONARY_OPTION(StringPool, 3)

int32 Dictionary_SetPoolChunkSize(Dictionary *Handle, uint32 Count) {
    Dictionary_CheckHandle(Handle);
    // Only a root makes pools; a child has nothing the count could change.
    if (Handle->Parent == nullptr) DictionaryInt_RootRecord(Handle)->PoolChunkSize = Count;
    return TRUE;
}

int32 Dictionary_GetParent(Dictionary *Handle, Dictionary **Parent, DictionaryItem **ParentItem) {
    Dictionary_CheckHandle(Handle);
    Debug_CheckPointer(Parent);
    Debug_CheckPointer(ParentItem);
    *Parent = Handle->Parent;
    *ParentItem = Handle->ParentItem;
    return Handle->Parent != nullptr && Handle->ParentItem != nullptr;
}

// ---- Items and order ----

int32 Dictionary_Insert(Dictionary *Handle, DictionaryItem *After, const char *Key, DictionaryItem **Item) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckList(Handle);
    if (After != nullptr) Dictionary_CheckItem(After);
    DictionaryInt_ClearOut(Item);
    DictionaryItem *Inserted = DictionaryInt_Insert(Handle, After, Key);
    if (Item != nullptr) *Item = Inserted;
    return TRUE;
}

int32 Dictionary_Append(Dictionary *Handle, const char *Key, DictionaryItem **Item) {
    Dictionary_CheckHandle(Handle);
    return Dictionary_Insert(Handle, Handle->Items.Last, Key, Item);
}

int32 Dictionary_Add(Dictionary *Handle, const char *Key, DictionaryItem **Item) {
    Dictionary_CheckHandle(Handle);
    return Dictionary_Insert(Handle, Handle->Items.Last, Key, Item);
}

int32 Dictionary_InsertSorted(Dictionary *Handle, const char *Key, DictionaryItem **Item, void *User,
                              Dictionary_CompareFunc Compare) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckList(Handle);
    Debug_CheckPointer(Compare);
    DictionaryItem *After = Handle->Items.Last;
    for (DictionaryItem *Walk = Handle->Items.First; Walk != nullptr; Walk = Walk->Next) {
        if (Compare(Handle, Walk, Key, User) == 1) {
            After = Walk->Prev;
            break;
        }
    }
    return Dictionary_Insert(Handle, After, Key, Item);
}

int32 Dictionary_Remove(Dictionary *Handle, DictionaryItem **Item) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckList(Handle);
    Debug_CheckPointer(Item);
    DictionaryItem *Removed = *Item;
    Dictionary_CheckItem(Removed);
    const bool Linked = (Removed->Prev != nullptr ? Removed->Prev->Next == Removed : Handle->Items.First == Removed) &&
                        (Removed->Next != nullptr ? Removed->Next->Prev == Removed : Handle->Items.Last == Removed);
    if (!Linked)
        Debug_Abort("Dictionary item is not held by this Dictionary [0x%p 0x%p]\n", (void *)Removed, (void *)Handle);
    DictionaryInt_RemoveItem(Handle, Removed);
    *Item = nullptr;
    return TRUE;
}

int32 Dictionary_ItemGetFirst(Dictionary *Handle, DictionaryItem **Item) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckList(Handle);
    Debug_CheckPointer(Item);
    *Item = Handle->Items.First;
    return *Item != nullptr;
}

int32 Dictionary_ItemGetLast(Dictionary *Handle, DictionaryItem **Item) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckList(Handle);
    Debug_CheckPointer(Item);
    *Item = Handle->Items.Last;
    return *Item != nullptr;
}

int32 Dictionary_ItemGetNext(Dictionary *Handle, DictionaryItem *Item, DictionaryItem **Next) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckItem(Item);
    Debug_CheckPointer(Next);
    *Next = Item->Next;
    return *Next != nullptr;
}

int32 Dictionary_ItemGetPrev(Dictionary *Handle, DictionaryItem *Item, DictionaryItem **Prev) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckItem(Item);
    Debug_CheckPointer(Prev);
    *Prev = Item->Prev;
    return *Prev != nullptr;
}

int32 Dictionary_ItemGetCount(Dictionary *Handle, int32 *Count) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckList(Handle);
    Debug_CheckPointer(Count);
    *Count = (int32)Handle->Items.Count;
    return TRUE;
}

int32 Dictionary_ItemGetIndex(Dictionary *Handle, DictionaryItem *Item, int32 *Index) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckList(Handle);
    Dictionary_CheckItem(Item);
    Debug_CheckPointer(Index);
    *Index = DictionaryInt_IndexOf(Handle, Item);
    return TRUE;
}

int32 Dictionary_ItemGetDictionaryHandle(Dictionary *Handle, DictionaryItem *Item, Dictionary **Child) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckItem(Item);
    Debug_CheckPointer(Child);
    *Child = Item->Child;
    return *Child != nullptr;
}

// ---- Change callbacks ----

#define DICTIONARY_CALLBACK(Name, Field, Kind, FunctionType)                                         \
    int32 Dictionary_Set##Name(Dictionary *Handle, void *User, FunctionType Function) {              \
        Dictionary_CheckHandle(Handle);                                                              \
        return SetWatch(Handle, Kind, User, reinterpret_cast<void *>(Function));                     \
    }                                                                                                \
    int32 Dictionary_Get##Name(Dictionary *Handle, void **User, FunctionType *Function) {            \
        Dictionary_CheckHandle(Handle);                                                              \
        DictionaryInt_ClearOut(User);                                                                \
        DictionaryInt_ClearOut(Function);                                                            \
        CallbackStruct *Callback = WatchOf(Handle, Kind);                                            \
        return Callback != nullptr ? CallbackBase_Get(Callback, User, Function) : FALSE;             \
    }

DICTIONARY_CALLBACK(ItemRemoveCallback, RemoveCallback, WatchRemove, Dictionary_ItemRemoveFunc)
DICTIONARY_CALLBACK(ItemKeyChangeCallback, KeyChangeCallback, WatchKey, Dictionary_ItemKeyChangeFunc)
DICTIONARY_CALLBACK(ItemValueChangeCallback, ValueChangeCallback, WatchValue, Dictionary_ItemValueChangeFunc)

int32 Dictionary_IsWatched(Dictionary *Handle) {
    Dictionary_CheckHandle(Handle);
    return DictionaryInt_WatchedAtAll(Handle) ? TRUE : FALSE;
}

int32 Dictionary_HoldCharge(Dictionary *Handle, int64 Bytes) {
    Dictionary_CheckHandle(Handle);
    DictionaryInt_RootRecord(Handle)->Charged += Bytes;
    return TRUE;
}

// What a copy into a fresh root takes: the item and container pools' slabs
// for its records (the doubling slabs' slack included), and each text where
// its length puts it: inline (nothing more), an item-pool record, the
// string pool, or a block of the general allocator with its overhead.
int32 Dictionary_GetCost(Dictionary *Handle, int64 *Bytes) {
    Dictionary_CheckHandle(Handle);
    Debug_CheckPointer(Bytes);
    const bool Pooled = DictionaryInt_RootRecord(Handle)->StringPool != 0;
    uint64 Items = 0, Containers = 0, Texts = 0;
    auto Text = [&](int32 Length) {
        if (Length < DictionaryInlineBytes) return;
        if (Pooled) Texts += (uint64)Length + 1;
        else if (DictionaryInt_IsRecordText(Length)) Items++;
        else Texts += (((uint64)Length + 1 + 3) & ~3ull) + 2 * MEMORY_GUARD_SIZE + 16;
    };
    // Most dictionaries measured are a task's small notices, measured at
    // each event: the walk's first containers wait in place, not on the heap.
    std::array<Dictionary *, 32> Near;
    size_t NearCount = 0;
    std::vector<Dictionary *> Far;
    Dictionary *Walk = Handle;
    while (Walk != nullptr) {
        for (DictionaryItem *Item = Walk->Items.First; Item != nullptr; Item = Item->Next) {
            Items++;
            if (Item->Key != nullptr) Text(Item->KeyLength);
            if (Item->Child != nullptr) {
                Containers++;
                if (NearCount < Near.size()) Near[NearCount++] = Item->Child;
                else Far.push_back(Item->Child);
            } else if (Item->Value != nullptr) {
                Text(Item->ValueLength);
            }
        }
        if (!Far.empty()) {
            Walk = Far.back();
            Far.pop_back();
        } else {
            Walk = NearCount > 0 ? Near[--NearCount] : nullptr;
        }
    }
    *Bytes = (int64)(PoolInt_FixedBytesFor(Items, sizeof(DictionaryItem), DefaultChunkSize) +
                     (Containers > 0 ? PoolInt_FixedBytesFor(Containers, sizeof(Dictionary), DefaultChunkSize) : 0) +
                     Texts);
    return TRUE;
}
