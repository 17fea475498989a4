// Whole-tree Dictionary operations: sync (make one Dictionary equal to
// another while keeping what already matches, so observers hear only of real
// changes), merge under flags, splitting a separated text into items and
// joining items back, enumeration with a callback, and root skipping.
//
// Items never move between trees: sync and merge copy type, private mark
// and text form. Source and destination must not contain one another (a
// Dictionary merged into itself would grow while it is walked, and one
// merged into its own ancestor could free the items being read; removing
// missing items could free a source held inside the destination), so such
// calls are refused.
#include <string.h>

#include <vector>

#include "runtime/containers/dictionary_internal.h"
#include "runtime/log.h"

namespace {

bool Overlap(Dictionary *One, Dictionary *Two) {
    for (Dictionary *Walk = One; Walk != nullptr; Walk = Walk->Parent)
        if (Walk == Two) return true;
    for (Dictionary *Walk = Two; Walk != nullptr; Walk = Walk->Parent)
        if (Walk == One) return true;
    return false;
}

bool CheckPair(Dictionary *Destination, Dictionary *Source, const char *Operation) {
    Dictionary_CheckHandle(Destination);
    Dictionary_CheckHandle(Source);
    Dictionary_CheckList(Destination);
    Dictionary_CheckList(Source);
    if (!Overlap(Destination, Source)) return true;
    Log_Error("%s: source and destination Dictionary contain one another [0x%p 0x%p]\n", Operation,
              (void *)Source, (void *)Destination);
    return false;
}

// TakeItem for a target that is new (no type, value or child yet) and a
// scalar source, the common case of a merge into an empty container: what
// setting the type and then the text form does to such an item, done
// directly, with the same value report. False when the case does not apply.
bool TakeIntoNew(Dictionary *Destination, DictionaryItem *Target, DictionaryItem *SourceItem, uint32 Private) {
    const int32 Type = DictionaryInt_Type(SourceItem);
    if (DictionaryInt_IsContainerType(Type) || DictionaryInt_Type(Target) != DICTIONARY_TYPE_UNKNOWN ||
        Target->Value != nullptr || Target->Child != nullptr)
        return false;
    Target->Flags = (uint8)((Target->Flags & ~(DictionaryTypeMask | DictionaryPrivateFlag)) | Type |
                            (Private ? DictionaryPrivateFlag : 0));
    if (Type == DICTIONARY_TYPE_BOOLEAN) {
        // The flag an Unknown item kept from an earlier Boolean life counts.
        DictionaryInt_SetBoolean(Destination, Target, (SourceItem->Flags & DictionaryBooleanFlag) ? 1 : 0);
    } else if (Type != DICTIONARY_TYPE_NULL && SourceItem->Value != nullptr && SourceItem->ValueLength > 0) {
        // Numbers and Strings, and the text an Unknown item may carry.
        const int32 Length = SourceItem->ValueLength;
        char *Stored = DictionaryInt_ValueRoom(Destination, Target, Length);
        DictionaryInt_CopyText(Stored, SourceItem->Value, Length);
        Stored[Length] = 0;
        Target->Value = Stored;
        Target->ValueLength = Length;
        if (Type != DICTIONARY_TYPE_UNKNOWN) DictionaryInt_ReportValue(Destination, Target, nullptr, 0);
    }
    return true;
}

// TakeItem for a String or number with text taken into an item of the same
// type, the common case of a status merged again into the record it updated
// before: the type stays, and the text is set straight from the source's.
// A Boolean over a Boolean without text takes the flag, as setting its
// "true" or "false" would. False when the case does not apply.
bool TakeSameScalar(Dictionary *Destination, DictionaryItem *Target, DictionaryItem *SourceItem, uint32 Private) {
    const int32 Type = DictionaryInt_Type(SourceItem);
    if (DictionaryInt_Type(Target) != Type) return false;
    if (Type == DICTIONARY_TYPE_BOOLEAN && Target->Value == nullptr) {
        DictionaryInt_MarkPrivate(Target, Private);
        Target->ValueLength = 0;
        DictionaryInt_SetBoolean(Destination, Target, (SourceItem->Flags & DictionaryBooleanFlag) ? 1 : 0);
        return true;
    }
    if ((Type != DICTIONARY_TYPE_STRING && !DictionaryInt_IsNumberType(Type)) || SourceItem->Value == nullptr ||
        SourceItem->ValueLength <= 0)
        return false;
    DictionaryInt_MarkPrivate(Target, Private);
    DictionaryInt_SetBuffer(Destination, Target, SourceItem->Value, SourceItem->ValueLength);
    return true;
}

// Gives Target the source item's type, private mark and text form.
void TakeItem(Dictionary *Destination, DictionaryItem *Target, DictionaryItem *SourceItem, uint32 Private) {
    if (TakeSameScalar(Destination, Target, SourceItem, Private)) return;
    if (TakeIntoNew(Destination, Target, SourceItem, Private)) return;
    DictionaryInt_Retype(Destination, Target, DictionaryInt_Type(SourceItem));
    DictionaryInt_MarkPrivate(Target, Private);
    const char *Text = nullptr;
    int32 Length = 0;
    if (!DictionaryInt_TextForm(SourceItem, &Text, &Length)) Length = 0;
    DictionaryInt_SetBuffer(Destination, Target, Text, Length);
}

// A new item at the end (or the front) under the source item's key.
DictionaryItem *NewCounterpart(Dictionary *Destination, DictionaryItem *SourceItem, bool Front) {
    DictionaryItem *Item = DictionaryInt_Insert(Destination, Front ? nullptr : Destination->Items.Last, nullptr);
    if (SourceItem->Key != nullptr) DictionaryInt_SetKeyLength(Destination, Item, SourceItem->Key, SourceItem->KeyLength);
    return Item;
}

void SyncAt(Dictionary *Destination, Dictionary *Source, DictionaryItem *Start, void *User,
            Dictionary_FilterFunc Filter);
void RemoveMissing(Dictionary *Destination, Dictionary *Source);

void Sync(Dictionary *Destination, Dictionary *Source, void *User, Dictionary_FilterFunc Filter) {
    if (Source->Items.First != nullptr) SyncAt(Destination, Source, Source->Items.First, User, Filter);
    RemoveMissing(Destination, Source);
}

void SyncAt(Dictionary *Destination, Dictionary *Source, DictionaryItem *Start, void *User,
            Dictionary_FilterFunc Filter) {
    int32 Index = DictionaryInt_IndexOf(Source, Start);
    DictionaryItem *Handled = nullptr;
    for (DictionaryItem *SourceItem = Start; SourceItem != nullptr; SourceItem = SourceItem->Next, Index++) {
        const uint32 Private = DictionaryInt_GetPrivate(Source, SourceItem);
        if (Filter != nullptr && Filter(Destination, User, Source, SourceItem) != 1) continue;
        DictionaryItem *Target;
        if (SourceItem->Key != nullptr)
            Target = DictionaryInt_FindStoredKey(Destination, SourceItem->Key, SourceItem->KeyLength);
        else
            Target = Handled != nullptr ? Handled->Next : DictionaryInt_ItemAt(Destination, Index);
        if (Target == nullptr) Target = NewCounterpart(Destination, SourceItem, false);
        TakeItem(Destination, Target, SourceItem, Private);
        Handled = Target;
        if (Target->Child != nullptr && SourceItem->Child != nullptr)
            Sync(Target->Child, SourceItem->Child, User, Filter);
    }
}

void RemoveMissing(Dictionary *Destination, Dictionary *Source) {
    int32 Position = (int32)Destination->Items.Count - 1;
    DictionaryItem *Matched = nullptr;
    DictionaryItem *Previous = nullptr;
    for (DictionaryItem *Item = Destination->Items.Last; Item != nullptr; Item = Previous, Position--) {
        Previous = Item->Prev;
        DictionaryItem *Counterpart;
        if (Item->Key != nullptr)
            Counterpart = DictionaryInt_FindStoredKey(Source, Item->Key, Item->KeyLength);
        else
            Counterpart = Matched != nullptr ? Matched->Prev : DictionaryInt_ItemAt(Source, Position);
        Matched = Counterpart;
        if (Counterpart == nullptr) DictionaryInt_RemoveItem(Destination, Item);
    }
}

void MergeAt(Dictionary *Destination, Dictionary *Source, DictionaryItem *Start, uint32 Flags);

// Whether a new counterpart of SourceItem can be appended in one step: it
// goes at the end of a destination that takes duplicate keys (so the append
// looks nothing up) and that nobody watches, and it is a String, a number, a
// Boolean or a Null (whose value the append stores as TakeItem would), or
// a List or Dictionary without text (whose new empty child the append makes
// as TakeItem would; its members are merged into it after).
bool AppendsAtOnce(Dictionary *Destination, const DictionaryItem *SourceItem, uint32 Flags) {
    const int32 Type = DictionaryInt_Type(SourceItem);
    return (Type == DICTIONARY_TYPE_STRING || DictionaryInt_IsNumberType(Type) || Type == DICTIONARY_TYPE_BOOLEAN ||
            Type == DICTIONARY_TYPE_NULL || (DictionaryInt_IsContainerType(Type) && SourceItem->Value == nullptr)) &&
           (Flags & DICTIONARY_MERGE_INSERTFRONT) == 0 && Destination->AllowDuplicates != 0 &&
           !DictionaryInt_WatchedAtAll(Destination);
}

void MergeItem(Dictionary *Destination, Dictionary *Source, DictionaryItem *SourceItem, uint32 Flags) {
    const uint32 Private = DictionaryInt_GetPrivate(Source, SourceItem);
    if ((Flags & DICTIONARY_MERGE_SKIPPRIVATE) && Private) return;
    DictionaryItem *Target = nullptr;
    bool Take = false;
    if (SourceItem->Key != nullptr) {
        Target = DictionaryInt_FindStoredKey(Destination, SourceItem->Key, SourceItem->KeyLength);
        Take = Target != nullptr && (Flags & DICTIONARY_MERGE_OVERWRITE);
    }
    if (Target == nullptr && SourceItem->Key != nullptr && AppendsAtOnce(Destination, SourceItem, Flags)) {
        // A keyed item new to an unwatched destination: the new counterpart
        // with its value or empty child in one append, as a loader makes
        // them; a container's members follow.
        const int32 Length = (int32)strnlen(SourceItem->Key, (size_t)SourceItem->KeyLength);
        const int32 Type = DictionaryInt_Type(SourceItem);
        const char *Text = SourceItem->Value;
        int32 TextLength = Text != nullptr ? SourceItem->ValueLength : 0;
        // A Boolean's flag, whatever text an earlier life left.
        if (Type == DICTIONARY_TYPE_BOOLEAN)
            Text = DictionaryInt_BooleanText((SourceItem->Flags & DictionaryBooleanFlag) != 0, &TextLength);
        Target = DictionaryInt_AppendValue(Destination, SourceItem->Key, Length, Type, Text, TextLength);
        DictionaryInt_MarkPrivate(Target, Private);
        if (SourceItem->Child != nullptr && Target->Child != nullptr)
            MergeAt(Target->Child, SourceItem->Child, nullptr, Flags);
        return;
    }
    if (Target == nullptr) {
        Target = NewCounterpart(Destination, SourceItem, (Flags & DICTIONARY_MERGE_INSERTFRONT) != 0);
        Take = true;
    }
    if (Take) TakeItem(Destination, Target, SourceItem, Private);
    if (SourceItem->Child != nullptr && Target->Child != nullptr) {
        if (!(Flags & DICTIONARY_MERGE_LISTS) && DictionaryInt_Type(Target) == DICTIONARY_TYPE_LIST)
            DictionaryInt_RemoveAll(Target->Child);
        MergeAt(Target->Child, SourceItem->Child, nullptr, Flags);
    }
}

void MergeAt(Dictionary *Destination, Dictionary *Source, DictionaryItem *Start, uint32 Flags) {
    for (DictionaryItem *Item = Start != nullptr ? Start : Source->Items.First; Item != nullptr; Item = Item->Next)
        MergeItem(Destination, Source, Item, Flags);
}

void AddPart(Dictionary *Handle, const char *Part, const char *End, char KeySeparator) {
    DictionaryItem *Item = DictionaryInt_Insert(Handle, Handle->Items.Last, nullptr);
    DictionaryInt_SetType(Handle, Item, DICTIONARY_TYPE_STRING);
    if (KeySeparator == 0) {
        DictionaryInt_SetBuffer(Handle, Item, Part, (int32)(End - Part));
        return;
    }
    while (Part < End && *Part == ' ') Part++;
    const char *Separator = static_cast<const char *>(memchr(Part, KeySeparator, (size_t)(End - Part)));
    if (Separator == nullptr) {
        DictionaryInt_SetKeyLength(Handle, Item, Part, (int32)(End - Part));
        DictionaryInt_SetType(Handle, Item, DICTIONARY_TYPE_BOOLEAN);
        DictionaryInt_SetBoolean(Handle, Item, 1);
        return;
    }
    DictionaryInt_SetKeyLength(Handle, Item, Part, (int32)(Separator - Part));
    const char *Value = Separator;
    while (Value < End && *Value == KeySeparator) Value++;
    DictionaryInt_SetBuffer(Handle, Item, Value, (int32)(End - Value));
}

// Calls Visit for each item until it answers 0; 1 when some call answered
// nonzero.
template <typename Visitor> int32 EnumerateItems(Dictionary *Handle, const Visitor &Visit) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckList(Handle);
    int32 Any = FALSE;
    for (DictionaryItem *Item = Handle->Items.First; Item != nullptr; Item = Item->Next) {
        int32 Answer = 0;
        if (!Visit(Item, &Answer)) continue;
        if (Answer == 0) break;
        Any = TRUE;
    }
    return Any;
}

// The List form of enumeration: a single item of the right kind is one call
// whose answer must be 1; a List's members of that kind are walked.
template <typename Visitor>
int32 EnumerateKeyed(Dictionary *Handle, const char *Key, const Visitor &Visit) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckList(Handle);
    Debug_CheckPointer(Key);
    DictionaryItem *Item = DictionaryInt_FindByKey(Handle, Key, nullptr);
    if (Item == nullptr) return FALSE;
    if (DictionaryInt_Type(Item) == DICTIONARY_TYPE_LIST) {
        int32 Any = FALSE;
        for (DictionaryItem *Member = Item->Child->Items.First; Member != nullptr; Member = Member->Next) {
            int32 Answer = 0;
            if (!Visit(Item->Child, Member, &Answer)) continue;
            if (Answer == 0) break;
            Any = TRUE;
        }
        return Any;
    }
    int32 Answer = 0;
    return Visit(Handle, Item, &Answer) && Answer == 1;
}

const char *StringText(const DictionaryItem *Item) { return Item->Value != nullptr ? Item->Value : ""; }

} // namespace

// ---- Sync ----

int32 Dictionary_Sync(Dictionary *Destination, Dictionary *Source, void *User, Dictionary_FilterFunc Filter) {
    if (!CheckPair(Destination, Source, "Dictionary_Sync")) return FALSE;
    Sync(Destination, Source, User, Filter);
    return TRUE;
}

int32 Dictionary_SyncAt(Dictionary *Destination, Dictionary *Source, DictionaryItem *Start, void *User,
                        Dictionary_FilterFunc Filter) {
    if (!CheckPair(Destination, Source, "Dictionary_SyncAt")) return FALSE;
    Dictionary_CheckItem(Start);
    SyncAt(Destination, Source, Start, User, Filter);
    return TRUE;
}

int32 Dictionary_RemoveMissing(Dictionary *Destination, Dictionary *Source) {
    // A source inside the destination could be freed with an item removed.
    if (!CheckPair(Destination, Source, "Dictionary_RemoveMissing")) return FALSE;
    RemoveMissing(Destination, Source);
    return TRUE;
}

int32 Dictionary_RemoveMissingKeys(Dictionary *Destination, Dictionary *Names) {
    if (!CheckPair(Destination, Names, "Dictionary_RemoveMissingKeys")) return FALSE;
    DictionaryItem *Next = nullptr;
    for (DictionaryItem *Item = Destination->Items.First; Item != nullptr; Item = Next) {
        Next = Item->Next;
        if (Item->Key == nullptr) continue;
        DictionaryItem *Named = nullptr;
        if (!Dictionary_ItemFindByBuffer(Names, Item->Key, Item->KeyLength, nullptr, &Named))
            DictionaryInt_RemoveItem(Destination, Item);
    }
    return TRUE;
}

// ---- Merge ----

int32 Dictionary_Merge(Dictionary *Destination, Dictionary *Source, uint32 Flags) {
    if (!CheckPair(Destination, Source, "Dictionary_Merge")) return FALSE;
    MergeAt(Destination, Source, nullptr, Flags);
    return TRUE;
}

int32 Dictionary_MergeAt(Dictionary *Destination, Dictionary *Source, DictionaryItem *Start, uint32 Flags) {
    if (!CheckPair(Destination, Source, "Dictionary_MergeAt")) return FALSE;
    if (Start != nullptr) Dictionary_CheckItem(Start);
    MergeAt(Destination, Source, Start, Flags);
    return TRUE;
}

int32 Dictionary_MergeItem(Dictionary *Destination, Dictionary *Source, DictionaryItem *SourceItem, uint32 Flags) {
    if (!CheckPair(Destination, Source, "Dictionary_MergeItem")) return FALSE;
    Dictionary_CheckItem(SourceItem);
    MergeItem(Destination, Source, SourceItem, Flags);
    return TRUE;
}

// ---- Text split and join ----

int32 Dictionary_ConvertFromString(Dictionary *Handle, const char *Text, int32 Length, char KeySeparator,
                                   char ItemSeparator) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckList(Handle);
    Debug_CheckPointer(Text);
    const char *End = Text + (Length > 0 ? Length : 0);
    for (const char *Part = Text; Part < End;) {
        const char *PartEnd = static_cast<const char *>(memchr(Part, ItemSeparator, (size_t)(End - Part)));
        if (PartEnd == nullptr) PartEnd = End;
        AddPart(Handle, Part, PartEnd, KeySeparator);
        Part = PartEnd;
        while (Part < End && *Part == ItemSeparator) Part++;
    }
    return TRUE;
}

int32 Dictionary_ConvertToString(Dictionary *Handle, char *Buffer, int32 Size, char KeySeparator,
                                 char ItemSeparator) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckList(Handle);
    Debug_CheckPointer(Buffer);
    if (Size < 1) return TRUE;
    int32 Used = 0;
    // Texts go in as "%s" would put them: up to a NUL, cut at the buffer.
    auto Put = [&](const char *Text, int32 Length) {
        Length = (int32)strnlen(Text, (size_t)Length);
        const int32 Copied = Length < Size - 1 - Used ? Length : Size - 1 - Used;
        if (Copied > 0) memcpy(Buffer + Used, Text, (size_t)Copied);
        Used += Copied;
    };
    for (DictionaryItem *Item = Handle->Items.First; Item != nullptr; Item = Item->Next) {
        const int32 Type = DictionaryInt_Type(Item);
        if (Type == DICTIONARY_TYPE_STRING) {
            if (Item->Key != nullptr) Put(Item->Key, Item->KeyLength);
            if (KeySeparator != 0 && Item->Key != nullptr) Put(&KeySeparator, 1);
            Put(StringText(Item), Item->ValueLength);
        } else if (Type == DICTIONARY_TYPE_BOOLEAN) {
            if (Item->Key == nullptr) continue;
            Put(Item->Key, Item->KeyLength);
        }
        if (ItemSeparator != 0) Put(&ItemSeparator, 1);
    }
    Buffer[Used] = 0;
    return TRUE;
}

// ---- Enumeration ----

int32 Dictionary_EnumerateString(Dictionary *Handle, void *User, Dictionary_EnumerateStringFunc Function) {
    Debug_CheckPointer(Function);
    return EnumerateItems(Handle, [&](DictionaryItem *Item, int32 *Answer) {
        if (DictionaryInt_Type(Item) != DICTIONARY_TYPE_STRING) return false;
        *Answer = Function(User, StringText(Item));
        return true;
    });
}

int32 Dictionary_EnumerateKey(Dictionary *Handle, void *User, Dictionary_EnumerateStringFunc Function) {
    Debug_CheckPointer(Function);
    return EnumerateItems(Handle, [&](DictionaryItem *Item, int32 *Answer) {
        if (Item->Key == nullptr) return false;
        *Answer = Function(User, Item->Key);
        return true;
    });
}

int32 Dictionary_EnumerateKeyString(Dictionary *Handle, void *User, Dictionary_EnumerateKeyStringFunc Function) {
    Debug_CheckPointer(Function);
    return EnumerateItems(Handle, [&](DictionaryItem *Item, int32 *Answer) {
        if (Item->Key == nullptr || DictionaryInt_Type(Item) != DICTIONARY_TYPE_STRING) return false;
        *Answer = Function(User, Item->Key, StringText(Item));
        return true;
    });
}

int32 Dictionary_EnumerateKeyBuffer(Dictionary *Handle, void *User, Dictionary_EnumerateKeyBufferFunc Function) {
    Debug_CheckPointer(Function);
    return EnumerateItems(Handle, [&](DictionaryItem *Item, int32 *Answer) {
        const char *Text = nullptr;
        int32 Length = 0;
        if (Item->Key == nullptr || !DictionaryInt_TextForm(Item, &Text, &Length)) return false;
        *Answer = Function(User, Item->Key, Text, Length);
        return true;
    });
}

int32 Dictionary_EnumerateList(Dictionary *Handle, const char *Key, void *User,
                               Dictionary_EnumerateListFunc Function) {
    Debug_CheckPointer(Function);
    return EnumerateKeyed(Handle, Key, [&](Dictionary *Container, DictionaryItem *Item, int32 *Answer) {
        const char *Text = nullptr;
        int32 Length = 0;
        // List members are all visited; a single item needs a text form.
        if (Container == Handle && !DictionaryInt_TextForm(Item, &Text, &Length)) return false;
        *Answer = Function(User, Container, Item);
        return true;
    });
}

int32 Dictionary_EnumerateListString(Dictionary *Handle, const char *Key, void *User,
                                     Dictionary_EnumerateStringFunc Function) {
    Debug_CheckPointer(Function);
    return EnumerateKeyed(Handle, Key, [&](Dictionary *, DictionaryItem *Item, int32 *Answer) {
        if (DictionaryInt_Type(Item) != DICTIONARY_TYPE_STRING) return false;
        *Answer = Function(User, StringText(Item));
        return true;
    });
}

int32 Dictionary_EnumerateListInt32(Dictionary *Handle, const char *Key, void *User,
                                    Dictionary_EnumerateInt32Func Function) {
    Debug_CheckPointer(Function);
    return EnumerateKeyed(Handle, Key, [&](Dictionary *, DictionaryItem *Item, int32 *Answer) {
        if (!DictionaryInt_IsNumberType(DictionaryInt_Type(Item))) return false;
        int64 Value = 0;
        DictionaryInt_GetInt64(Item, &Value);
        *Answer = Function(User, (int32)(uint32)(uint64)Value);
        return true;
    });
}

// ---- Root skipping ----

int32 Dictionary_SkipRoot(Dictionary *Handle, Dictionary **Inner) {
    Dictionary_CheckHandle(Handle);
    Debug_CheckPointer(Inner);
    *Inner = Handle;
    DictionaryItem *Only = Handle->Items.First;
    if (Handle->Parent == nullptr && Handle->Items.Count == 1 && Only->Key == nullptr &&
        DictionaryInt_Type(Only) == DICTIONARY_TYPE_DICTIONARY)
        *Inner = Only->Child;
    return TRUE;
}

int32 Dictionary_SkipRootContainer(Dictionary *Handle, Dictionary **Inner) {
    Dictionary_CheckHandle(Handle);
    Debug_CheckPointer(Inner);
    *Inner = Handle;
    DictionaryItem *Only = Handle->Items.First;
    if (Handle->Parent == nullptr && Handle->Items.Count == 1 && Only->Key == nullptr &&
        DictionaryInt_IsContainerType(DictionaryInt_Type(Only)))
        *Inner = Only->Child;
    return TRUE;
}

// ---- Lifting a read document ----

namespace {

// Whether no Dictionary container in the tree under Handle (itself
// included) holds two items of one key.
bool KeysDistinctThroughout(Dictionary *Handle) {
    std::vector<Dictionary *> Pending{Handle};
    while (!Pending.empty()) {
        Dictionary *Each = Pending.back();
        Pending.pop_back();
        const bool List = Each->ParentItem != nullptr && DictionaryInt_Type(Each->ParentItem) == DICTIONARY_TYPE_LIST;
        if (!List && !DictionaryInt_KeysDistinct(Each)) return false;
        for (DictionaryItem *Item = Each->Items.First; Item != nullptr; Item = Item->Next)
            if (Item->Child != nullptr) Pending.push_back(Item->Child);
    }
    return true;
}

} // namespace

int32 Dictionary_LiftRoot(Dictionary *Handle) {
    Dictionary_CheckHandle(Handle);
    DictionaryItem *Only = Handle->Items.First;
    if (Handle->Parent != nullptr || Handle->Items.Count != 1 || Only->Key != nullptr ||
        DictionaryInt_Type(Only) != DICTIONARY_TYPE_DICTIONARY || Only->Child == nullptr ||
        DictionaryInt_WatchedAtAll(Handle))
        return FALSE;
    Dictionary *Inner = Only->Child;
    // A merge into an empty container copies the tree item for item only
    // while no container in it repeats a key; it would fold repeats.
    if (!KeysDistinctThroughout(Inner)) return FALSE;
    const DictionaryItemList Taken = Inner->Items;
    Inner->Items.First = Inner->Items.Last = nullptr;
    Inner->Items.Count = 0;
    DictionaryInt_IndexDrop(Inner);
    // The root item goes with its container, empty now: nothing is reported
    // (nobody watches) and the taken items keep their pools' blocks, which
    // are the root's.
    DictionaryInt_RemoveItem(Handle, Only);
    Handle->Items.First = Taken.First;
    Handle->Items.Last = Taken.Last;
    Handle->Items.Count = Taken.Count;
    for (DictionaryItem *Item = Taken.First; Item != nullptr; Item = Item->Next)
        if (Item->Child != nullptr) Item->Child->Parent = Handle;
    DictionaryInt_IndexRebuild(Handle);
    return TRUE;
}
