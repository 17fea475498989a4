// Dictionary lookups by key, index and text, the Ensure operations and the
// by-key and by-index getter and setter families.
//
// A key lookup is a linear walk of one Dictionary's items, or, in a large
// container, a look into its key index (dictionary_index.cpp). Keys are
// compared by length first, so a miss costs one integer compare per sibling. A key of
// the form "[n]" also selects the n-th item from the start of the walk,
// unless an earlier item carries that literal key.
#include <string.h>

#include "runtime/containers/dictionary_internal.h"
#include "runtime/text/string.h"

namespace {

inline uint8 FoldAscii(uint8 Ch) { return Ch >= 'A' && Ch <= 'Z' ? (uint8)(Ch + 32) : Ch; }

// Whether the container has a key index now. Many containers have an extra
// record (a print callback, an identifier) and no index: their look-ups walk
// at once instead of asking the index code, which would only say so.
inline bool HasKeyIndex(const Dictionary *Handle) {
    const DictionaryExtra *Extra = __atomic_load_n(&Handle->Extra, __ATOMIC_ACQUIRE);
    return Extra != nullptr && Extra->Index != nullptr;
}

} // namespace

bool DictionaryInt_TextEquals(const Dictionary *Handle, const char *A, int32 ALength, const char *B, int32 BLength) {
    if (ALength != BLength) return false;
    if (ALength == 0) return true;
    if (Handle->CaseSensitive != 0) return memcmp(A, B, (size_t)ALength) == 0;
    for (int32 Index = 0; Index < ALength; Index++)
        if (FoldAscii((uint8)A[Index]) != FoldAscii((uint8)B[Index])) return false;
    return true;
}

bool DictionaryInt_KeyEquals(const Dictionary *Handle, const DictionaryItem *Item, const char *Key, int32 Length) {
    // Most keys of a walk differ in length: no call for them.
    return Item->Key != nullptr && Item->KeyLength == Length &&
           DictionaryInt_TextEquals(Handle, Item->Key, Length, Key, Length);
}

namespace {

template <typename Word> Word LoadWord(const char *At) {
    Word Value;
    memcpy(&Value, At, sizeof(Value));
    return Value;
}

// Equality of two texts of Length bytes (at least 1): a key of up to 16
// bytes with two overlapping word compares, a longer one with memcmp.
inline bool SameText(const char *A, const char *B, int32 Length) {
    if (Length > 16) return memcmp(A, B, (size_t)Length) == 0;
    if (Length >= 8)
        return LoadWord<uint64>(A) == LoadWord<uint64>(B) &&
               LoadWord<uint64>(A + Length - 8) == LoadWord<uint64>(B + Length - 8);
    if (Length >= 4)
        return LoadWord<uint32>(A) == LoadWord<uint32>(B) &&
               LoadWord<uint32>(A + Length - 4) == LoadWord<uint32>(B + Length - 4);
    return A[0] == B[0] && A[Length / 2] == B[Length / 2] && A[Length - 1] == B[Length - 1];
}

// The first item from Item on whose stored key equals Key: the walk of
// DictionaryInt_KeyEquals with the case rule read once, and a short key
// compared without a call.
[[gnu::always_inline]] inline DictionaryItem *WalkForKey(const Dictionary *Handle, DictionaryItem *Item, const char *Key, int32 Length) {
    if (Length == 0) {
        for (; Item != nullptr; Item = Item->Next)
            if (Item->KeyLength == 0 && Item->Key != nullptr) return Item;
        return nullptr;
    }
    const uint8 First = (uint8)Key[0];
    if (Handle->CaseSensitive != 0) {
        for (; Item != nullptr; Item = Item->Next)
            if (Item->KeyLength == Length && Item->Key != nullptr && SameText(Item->Key, Key, Length)) return Item;
        return nullptr;
    }
    const uint8 Folded = FoldAscii(First);
    for (; Item != nullptr; Item = Item->Next)
        if (Item->KeyLength == Length && Item->Key != nullptr && FoldAscii((uint8)Item->Key[0]) == Folded &&
            DictionaryInt_TextEquals(Handle, Item->Key + 1, Length - 1, Key + 1, Length - 1))
            return Item;
    return nullptr;
}

// The walk of a "[n]" key: the n-th item from the start, unless an earlier
// item carries the literal key.
DictionaryItem *WalkForNth(const Dictionary *Handle, DictionaryItem *Item, const char *Key, int32 Length, int64 Nth) {
    for (int64 Position = 0; Item != nullptr; Item = Item->Next, Position++) {
        if (DictionaryInt_KeyEquals(Handle, Item, Key, Length)) return Item;
        if (Position == Nth) return Item;
    }
    return nullptr;
}

} // namespace

DictionaryItem *DictionaryInt_FindStoredKey(Dictionary *Handle, const char *Key, int32 Length) {
    if (HasKeyIndex(Handle)) {
        bool Answered = false;
        DictionaryItem *Indexed = DictionaryInt_IndexFind(Handle, Key, Length, &Answered);
        if (Answered) return Indexed;
    }
    return WalkForKey(Handle, Handle->Items.First, Key, Length);
}

namespace {

// DictionaryInt_FindByKeyLength past the private mark for a key that may be
// of the "[n]" form, one too long to store, or a lookup the key index may
// answer.
[[gnu::noinline]] DictionaryItem *FindByKeyFully(Dictionary *Handle, DictionaryItem *Item, const char *Key,
                                                 size_t Length, DictionaryItem *Start) {
    int64 Nth = -1;
    if (Length >= 2 && Key[0] == '[' && Key[Length - 1] == ']') {
        Nth = String_AtoI64(Key + 1);
        if (Nth < 0) Nth = -1;
    }
    // A key too long to store is compared as it was stored.
    const int32 Compared = Length > DICTIONARY_MAX_KEY_LENGTH ? DictionaryInt_CutKeyLength(Key) : (int32)Length;
    if (Nth >= 0) return WalkForNth(Handle, Item, Key, Compared, Nth);
    if (Start == nullptr && HasKeyIndex(Handle)) {
        bool Answered = false;
        DictionaryItem *Indexed = DictionaryInt_IndexFind(Handle, Key, Compared, &Answered);
        if (Answered) return Indexed;
    }
    return WalkForKey(Handle, Item, Key, Compared);
}

} // namespace

DictionaryItem *DictionaryInt_FindByKeyLength(Dictionary *Handle, const char *Key, size_t Length,
                                              DictionaryItem *Start) {
    DictionaryItem *Item = Start != nullptr ? Start : Handle->Items.First;
    if (Item == nullptr) return nullptr;
    if (Handle->PrivateKeys == 1 && (Key[0] == '.' || Key[0] == '#')) {
        Key++;
        Length--;
    }
    if (Key[0] == '[' || Length > DICTIONARY_MAX_KEY_LENGTH || (Start == nullptr && HasKeyIndex(Handle)))
        return FindByKeyFully(Handle, Item, Key, Length, Start);
    return WalkForKey(Handle, Item, Key, (int32)Length);
}

DictionaryItem *DictionaryInt_FindByKey(Dictionary *Handle, const char *Key, DictionaryItem *Start) {
    return DictionaryInt_FindByKeyLength(Handle, Key, strlen(Key), Start);
}

DictionaryItem *DictionaryInt_EnsureKey(Dictionary *Handle, const char *Key) {
    // Measured once for the lookup and the new item's key; a miss makes the
    // new item at once, since the duplicate rule's lookup would miss again.
    const size_t Length = strlen(Key);
    DictionaryItem *Item = DictionaryInt_FindByKeyLength(Handle, Key, Length, nullptr);
    if (Item == nullptr) Item = DictionaryInt_LinkKeyed(Handle, Handle->Items.Last, Key, (int32)Length);
    return Item;
}

namespace {

DictionaryItem *FindByText(Dictionary *Handle, const void *Bytes, int32 Length, DictionaryItem *Start) {
    for (DictionaryItem *Item = Start != nullptr ? Start : Handle->Items.First; Item != nullptr; Item = Item->Next) {
        const char *Text = nullptr;
        int32 TextLength = 0;
        if (DictionaryInt_TextForm(Item, &Text, &TextLength) && TextLength == Length &&
            (Length == 0 || memcmp(Text, Bytes, (size_t)Length) == 0))
            return Item;
    }
    return nullptr;
}

// The item under Key, after the checks every by-key operation makes.
DictionaryItem *KeyedItem(Dictionary *Handle, const char *Key) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckList(Handle);
    Debug_CheckPointer(Key);
    return DictionaryInt_FindByKey(Handle, Key, nullptr);
}

DictionaryItem *EnsureTyped(Dictionary *Handle, const char *Key, int32 Type) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckList(Handle);
    Debug_CheckPointer(Key);
    DictionaryItem *Item = DictionaryInt_EnsureKey(Handle, Key);
    DictionaryInt_Retype(Handle, Item, Type);
    return Item;
}

// The item under Key made (or kept) of Type and given Text: a String's
// bytes or a number's printed form. An existing item is retyped and set; a
// new one is appended as a loader appends, which takes the steps of a new
// key, the type and the text at once while nothing watches.
int32 SetTextByKey(Dictionary *Handle, const char *Key, int32 Type, const char *Text, int32 TextLength) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckList(Handle);
    Debug_CheckPointer(Key);
    const size_t Length = strlen(Key);
    DictionaryItem *Item = DictionaryInt_FindByKeyLength(Handle, Key, Length, nullptr);
    if (Item == nullptr) {
        DictionaryInt_AppendValue(Handle, Key, (int32)Length, Type, Text, TextLength);
        return TRUE;
    }
    DictionaryInt_Retype(Handle, Item, Type);
    return DictionaryInt_SetBuffer(Handle, Item, Text, TextLength);
}

int32 EnsureContainer(Dictionary *Handle, const char *Key, int32 Type, DictionaryItem **Item, Dictionary **Child) {
    DictionaryInt_ClearOut(Item);
    DictionaryInt_ClearOut(Child);
    DictionaryItem *Found = EnsureTyped(Handle, Key, Type);
    if (Item != nullptr) *Item = Found;
    if (Child != nullptr) *Child = Found->Child;
    return TRUE;
}

int32 EnsureContainerByIndex(Dictionary *Handle, int32 Index, int32 Type, DictionaryItem **Item, Dictionary **Child) {
    DictionaryInt_ClearOut(Item);
    DictionaryInt_ClearOut(Child);
    DictionaryItem *Found = nullptr;
    if (!Dictionary_EnsureIndex(Handle, Index, &Found)) return FALSE;
    DictionaryInt_SetType(Handle, Found, Type);
    if (Item != nullptr) *Item = Found;
    if (Child != nullptr) *Child = Found->Child;
    return TRUE;
}

int32 ChildOfType(DictionaryItem *Item, int32 Type, Dictionary **Child) {
    if (Item == nullptr || DictionaryInt_Type(Item) != Type) return FALSE;
    *Child = Item->Child;
    return TRUE;
}

} // namespace

// ---- Lookups ----

int32 Dictionary_ItemFindByKey(Dictionary *Handle, const char *Key, DictionaryItem *Start, DictionaryItem **Item) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckList(Handle);
    Debug_CheckPointer(Key);
    Debug_CheckPointer(Item);
    if (Start != nullptr) Dictionary_CheckItem(Start);
    *Item = DictionaryInt_FindByKey(Handle, Key, Start);
    return *Item != nullptr;
}

int32 Dictionary_ItemFindByIndex(Dictionary *Handle, int32 Index, DictionaryItem *Start, DictionaryItem **Item) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckList(Handle);
    Debug_CheckPointer(Item);
    *Item = nullptr;
    if (Start == nullptr) {
        *Item = DictionaryInt_ItemAt(Handle, Index);
        return *Item != nullptr;
    }
    Dictionary_CheckItem(Start);
    DictionaryItem *Walk = Start;
    for (int64 Steps = Index; Walk != nullptr && Steps > 0; Steps--) Walk = Walk->Next;
    for (int64 Steps = Index; Walk != nullptr && Steps < 0; Steps++) Walk = Walk->Prev;
    *Item = Walk;
    return Walk != nullptr;
}

int32 Dictionary_ItemFindByBuffer(Dictionary *Handle, const void *Bytes, int32 Length, DictionaryItem *Start,
                                  DictionaryItem **Item) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckList(Handle);
    Debug_CheckPointer(Bytes);
    Debug_CheckPointer(Item);
    if (Start != nullptr) Dictionary_CheckItem(Start);
    *Item = FindByText(Handle, Bytes, Length, Start);
    return *Item != nullptr;
}

int32 Dictionary_ContainsKey(Dictionary *Handle, const char *Key) { return KeyedItem(Handle, Key) != nullptr; }

int32 Dictionary_ContainsString(Dictionary *Handle, const char *Text) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckList(Handle);
    Debug_CheckPointer(Text);
    return FindByText(Handle, Text, (int32)strlen(Text), nullptr) != nullptr;
}

int32 Dictionary_GetTypeByKey(Dictionary *Handle, const char *Key, int32 *Type) {
    Debug_CheckPointer(Type);
    *Type = DICTIONARY_TYPE_UNKNOWN;
    DictionaryItem *Item = KeyedItem(Handle, Key);
    if (Item == nullptr) return FALSE;
    *Type = DictionaryInt_Type(Item);
    return TRUE;
}

int32 Dictionary_RemoveByKey(Dictionary *Handle, const char *Key) {
    DictionaryItem *Item = KeyedItem(Handle, Key);
    if (Item == nullptr) return FALSE;
    DictionaryInt_RemoveItem(Handle, Item);
    return TRUE;
}

int32 Dictionary_RemoveByString(Dictionary *Handle, const char *Text) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckList(Handle);
    Debug_CheckPointer(Text);
    DictionaryItem *Item = FindByText(Handle, Text, (int32)strlen(Text), nullptr);
    if (Item == nullptr) return FALSE;
    DictionaryInt_RemoveItem(Handle, Item);
    return TRUE;
}

// ---- Ensure ----

int32 Dictionary_EnsureKey(Dictionary *Handle, const char *Key, DictionaryItem **Item) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckList(Handle);
    Debug_CheckPointer(Key);
    DictionaryInt_ClearOut(Item);
    DictionaryItem *Found = DictionaryInt_EnsureKey(Handle, Key);
    if (Item != nullptr) *Item = Found;
    return TRUE;
}

int32 Dictionary_EnsureList(Dictionary *Handle, const char *Key, DictionaryItem **Item, Dictionary **Child) {
    return EnsureContainer(Handle, Key, DICTIONARY_TYPE_LIST, Item, Child);
}

int32 Dictionary_EnsureDictionary(Dictionary *Handle, const char *Key, DictionaryItem **Item, Dictionary **Child) {
    return EnsureContainer(Handle, Key, DICTIONARY_TYPE_DICTIONARY, Item, Child);
}

int32 Dictionary_EnsureIndex(Dictionary *Handle, int32 Index, DictionaryItem **Item) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckList(Handle);
    DictionaryInt_ClearOut(Item);
    while ((int64)Handle->Items.Count <= (int64)Index) DictionaryInt_Insert(Handle, Handle->Items.Last, nullptr);
    DictionaryItem *Found = DictionaryInt_ItemAt(Handle, Index);
    if (Item != nullptr) *Item = Found;
    return Found != nullptr;
}

int32 Dictionary_EnsureListByIndex(Dictionary *Handle, int32 Index, DictionaryItem **Item, Dictionary **Child) {
    return EnsureContainerByIndex(Handle, Index, DICTIONARY_TYPE_LIST, Item, Child);
}

int32 Dictionary_EnsureDictionaryByIndex(Dictionary *Handle, int32 Index, DictionaryItem **Item,
                                         Dictionary **Child) {
    return EnsureContainerByIndex(Handle, Index, DICTIONARY_TYPE_DICTIONARY, Item, Child);
}

// ---- By key: setters ----

int32 Dictionary_SetStringByKey(Dictionary *Handle, const char *Key, const char *Text) {
    return SetTextByKey(Handle, Key, DICTIONARY_TYPE_STRING, Text, Text != nullptr ? (int32)strlen(Text) : 0);
}

int32 Dictionary_SetStringByKeyPrint(Dictionary *Handle, const char *Key, const char *Format, ...) {
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = Dictionary_SetStringByKeyV(Handle, Key, Format, Arguments);
    va_end(Arguments);
    return Result;
}

int32 Dictionary_SetStringByKeyV(Dictionary *Handle, const char *Key, const char *Format, va_list Arguments) {
    DictionaryItem *Item = EnsureTyped(Handle, Key, DICTIONARY_TYPE_STRING);
    return DictionaryInt_SetStringV(Handle, Item, Format, Arguments);
}

int32 Dictionary_SetInt32ByKey(Dictionary *Handle, const char *Key, int32 Value) {
    return Dictionary_SetInt64ByKey(Handle, Key, Value);
}

int32 Dictionary_SetInt64ByKey(Dictionary *Handle, const char *Key, int64 Value) {
    char Text[DictionaryNumberAreaSize];
    return SetTextByKey(Handle, Key, DICTIONARY_TYPE_INT64, Text, DictionaryInt_Int64Text(Value, Text));
}

int32 Dictionary_SetFloat64ByKey(Dictionary *Handle, const char *Key, float64 Value) {
    char Text[DictionaryNumberAreaSize];
    return SetTextByKey(Handle, Key, DICTIONARY_TYPE_FLOAT64, Text, DictionaryInt_Float64Text(Value, Text));
}

int32 Dictionary_SetBooleanByKey(Dictionary *Handle, const char *Key, uint32 Value) {
    DictionaryItem *Item = EnsureTyped(Handle, Key, DICTIONARY_TYPE_BOOLEAN);
    return DictionaryInt_SetBoolean(Handle, Item, Value);
}

// ---- By key: getters ----

int32 Dictionary_GetStringByKey(Dictionary *Handle, const char *Key, char *Buffer, int32 Size) {
    Debug_CheckPointer(Buffer);
    if (Size >= 1) Buffer[0] = 0;
    DictionaryItem *Item = KeyedItem(Handle, Key);
    return Item != nullptr && Dictionary_ItemGetString(Handle, Item, Buffer, Size);
}

int32 Dictionary_GetStringPtrByKey(Dictionary *Handle, const char *Key, const char **Text) {
    Debug_CheckPointer(Text);
    *Text = nullptr;
    DictionaryItem *Item = KeyedItem(Handle, Key);
    return Item != nullptr && Dictionary_ItemGetStringPtr(Handle, Item, Text);
}

int32 Dictionary_GetBufferPtrByKey(Dictionary *Handle, const char *Key, const char **Text, int32 *Length) {
    Debug_CheckPointer(Text);
    *Text = nullptr;
    if (Length != nullptr) *Length = 0;
    DictionaryItem *Item = KeyedItem(Handle, Key);
    return Item != nullptr && Dictionary_ItemGetBufferPtr(Handle, Item, Text, Length);
}

int32 Dictionary_GetInt32ByKey(Dictionary *Handle, const char *Key, int32 *Value) {
    Debug_CheckPointer(Value);
    *Value = 0;
    DictionaryItem *Item = KeyedItem(Handle, Key);
    return Item != nullptr && Dictionary_ItemGetInt32(Handle, Item, Value);
}

int32 Dictionary_GetInt64ByKey(Dictionary *Handle, const char *Key, int64 *Value) {
    Debug_CheckPointer(Value);
    *Value = 0;
    DictionaryItem *Item = KeyedItem(Handle, Key);
    return Item != nullptr && Dictionary_ItemGetInt64(Handle, Item, Value);
}

int32 Dictionary_GetFloat64ByKey(Dictionary *Handle, const char *Key, float64 *Value) {
    Debug_CheckPointer(Value);
    *Value = 0;
    DictionaryItem *Item = KeyedItem(Handle, Key);
    return Item != nullptr && Dictionary_ItemGetFloat64(Handle, Item, Value);
}

int32 Dictionary_GetBooleanByKey(Dictionary *Handle, const char *Key, uint32 *Value) {
    Debug_CheckPointer(Value);
    *Value = 0;
    DictionaryItem *Item = KeyedItem(Handle, Key);
    return Item != nullptr && Dictionary_ItemGetBoolean(Handle, Item, Value);
}

int32 Dictionary_GetListByKey(Dictionary *Handle, const char *Key, Dictionary **Child) {
    Debug_CheckPointer(Child);
    *Child = nullptr;
    return ChildOfType(KeyedItem(Handle, Key), DICTIONARY_TYPE_LIST, Child);
}

int32 Dictionary_GetDictionaryByKey(Dictionary *Handle, const char *Key, Dictionary **Child) {
    Debug_CheckPointer(Child);
    *Child = nullptr;
    return ChildOfType(KeyedItem(Handle, Key), DICTIONARY_TYPE_DICTIONARY, Child);
}

int32 Dictionary_GetListStringByKey(Dictionary *Handle, const char *Key, char *Buffer, int32 Size) {
    Debug_CheckPointer(Buffer);
    if (Size < 1) return FALSE;
    Buffer[0] = 0;
    DictionaryItem *Item = KeyedItem(Handle, Key);
    if (Item == nullptr) return FALSE;
    if (DictionaryInt_Type(Item) == DICTIONARY_TYPE_STRING) return Dictionary_ItemGetString(Handle, Item, Buffer, Size);
    if (DictionaryInt_Type(Item) != DICTIONARY_TYPE_LIST) return FALSE;
    int32 Used = 0;
    int32 Appended = 0;
    for (DictionaryItem *Member = Item->Child->Items.First; Member != nullptr; Member = Member->Next) {
        if (DictionaryInt_Type(Member) != DICTIONARY_TYPE_STRING) continue;
        const int32 Room = Size - 1 - Used;
        const int32 Copied = Member->ValueLength < Room ? Member->ValueLength : Room;
        if (Copied > 0) memcpy(Buffer + Used, Member->Value, (size_t)Copied);
        Used += Copied;
        Appended++;
    }
    Buffer[Used] = 0;
    return Appended > 0;
}

int32 Dictionary_GetListStringLengthByKey(Dictionary *Handle, const char *Key, int32 *Length) {
    Debug_CheckPointer(Length);
    *Length = 0;
    DictionaryItem *Item = KeyedItem(Handle, Key);
    if (Item == nullptr) return FALSE;
    if (DictionaryInt_Type(Item) == DICTIONARY_TYPE_STRING) {
        *Length = Item->ValueLength;
        return TRUE;
    }
    if (DictionaryInt_Type(Item) != DICTIONARY_TYPE_LIST) return FALSE;
    int64 Sum = 0;
    for (DictionaryItem *Member = Item->Child->Items.First; Member != nullptr; Member = Member->Next)
        if (DictionaryInt_Type(Member) == DICTIONARY_TYPE_STRING) Sum += Member->ValueLength;
    *Length = Sum > INT32_MAX ? INT32_MAX : (int32)Sum;
    return TRUE;
}

// ---- By index ----

int32 Dictionary_GetListByIndex(Dictionary *Handle, int32 Index, Dictionary **Child) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckList(Handle);
    Debug_CheckPointer(Child);
    *Child = nullptr;
    return ChildOfType(DictionaryInt_ItemAt(Handle, Index), DICTIONARY_TYPE_LIST, Child);
}

int32 Dictionary_GetDictionaryByIndex(Dictionary *Handle, int32 Index, Dictionary **Child) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckList(Handle);
    Debug_CheckPointer(Child);
    *Child = nullptr;
    return ChildOfType(DictionaryInt_ItemAt(Handle, Index), DICTIONARY_TYPE_DICTIONARY, Child);
}
