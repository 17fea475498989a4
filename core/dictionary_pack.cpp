// Packed form: a container is its item count (4 bytes), then its items. An
// item is its flags byte (type, private mark, Boolean value), its key and
// its text, each as a length plus one (4 bytes, 0 for none) and the bytes
// with a closing zero, then, for a List or Dictionary, its container. Lengths
// are in the machine's order: packed bytes never leave the process.
#include "core/dictionary_pack.h"

#include <string.h>

#include "core/dictionary_internal.h"

namespace {

// Deeper trees stay as they are; the reader stops at the same depth, so
// that no bytes can nest it deeper than the stack allows.
constexpr int32 DeepestContainer = 256;
constexpr uint8 KeptFlags = DictionaryTypeMask | DictionaryPrivateFlag | DictionaryBooleanFlag;

void PutLength(std::string &Out, uint32 Value) { Out.append(reinterpret_cast<const char *>(&Value), sizeof(Value)); }

void PutText(std::string &Out, const char *Text, int32 Length) {
    if (Text == nullptr) {
        PutLength(Out, 0);
        return;
    }
    PutLength(Out, (uint32)Length + 1);
    Out.append(Text, (size_t)Length);
    Out.push_back(0);
}

bool WriteItems(Dictionary *Handle, std::string &Out, int32 Depth) {
    if (Depth > DeepestContainer) return false;
    PutLength(Out, Handle->Items.Count);
    for (DictionaryItem *Item = Handle->Items.First; Item != nullptr; Item = Item->Next) {
        const int32 Type = DictionaryInt_Type(Item);
        const bool Container = DictionaryInt_IsContainerType(Type);
        if (Type == DICTIONARY_TYPE_UNKNOWN || (Container && (Item->Value != nullptr || Item->Child == nullptr)))
            return false;
        uint8 Flags = (uint8)Type;
        if (DictionaryInt_GetPrivate(Handle, Item)) Flags |= DictionaryPrivateFlag;
        if (Type == DICTIONARY_TYPE_BOOLEAN && (Item->Flags & DictionaryBooleanFlag)) Flags |= DictionaryBooleanFlag;
        Out.push_back((char)Flags);
        PutText(Out, Item->Key, Item->Key != nullptr ? (int32)strnlen(Item->Key, (size_t)Item->KeyLength) : 0);
        const bool Text = Type == DICTIONARY_TYPE_STRING || DictionaryInt_IsNumberType(Type);
        PutText(Out, Text && Item->ValueLength > 0 ? Item->Value : nullptr, Item->ValueLength);
        if (Container && !WriteItems(Item->Child, Out, Depth + 1)) return false;
    }
    return true;
}

struct Reader {
    std::string_view Bytes;
    size_t At = 0;

    bool Length(uint32 *Value) {
        if (Bytes.size() - At < sizeof(*Value)) return false;
        memcpy(Value, Bytes.data() + At, sizeof(*Value));
        At += sizeof(*Value);
        return true;
    }
    // A text and its length; null for none. Its closing zero must be there.
    bool Text(const char **Start, int32 *Size, uint32 Most) {
        uint32 Stored = 0;
        if (!Length(&Stored)) return false;
        *Start = nullptr;
        *Size = 0;
        if (Stored == 0) return true;
        if (Stored - 1 > Most || Bytes.size() - At < (size_t)Stored || Bytes[At + Stored - 1] != 0) return false;
        *Start = Bytes.data() + At;
        *Size = (int32)(Stored - 1);
        At += Stored;
        return true;
    }
};

bool ReadItems(Dictionary *Handle, Reader &In, int32 Depth) {
    uint32 Count = 0;
    if (Depth > DeepestContainer || !In.Length(&Count)) return false;
    for (uint32 Index = 0; Index < Count; Index++) {
        if (In.At >= In.Bytes.size()) return false;
        const uint8 Flags = (uint8)In.Bytes[In.At++];
        const int32 Type = Flags & DictionaryTypeMask;
        const bool Text = Type == DICTIONARY_TYPE_STRING || DictionaryInt_IsNumberType(Type);
        const char *Key = nullptr, *Value = nullptr;
        int32 KeyLength = 0, ValueLength = 0;
        if ((Flags & ~KeptFlags) != 0 || Type == DICTIONARY_TYPE_UNKNOWN ||
            ((Flags & DictionaryBooleanFlag) && Type != DICTIONARY_TYPE_BOOLEAN) ||
            !In.Text(&Key, &KeyLength, DICTIONARY_MAX_KEY_LENGTH) || !In.Text(&Value, &ValueLength, INT32_MAX - 1) ||
            (Value != nullptr && (!Text || ValueLength == 0)))
            return false;
        // As a merge appends a Boolean: by its value's text.
        if (Type == DICTIONARY_TYPE_BOOLEAN)
            Value = DictionaryInt_BooleanText((Flags & DictionaryBooleanFlag) != 0, &ValueLength);
        DictionaryItem *Item = DictionaryInt_AppendValue(Handle, Key, KeyLength, Type, Value, ValueLength);
        DictionaryInt_MarkPrivate(Item, Flags & DictionaryPrivateFlag);
        if (DictionaryInt_IsContainerType(Type) && (Item->Child == nullptr || !ReadItems(Item->Child, In, Depth + 1)))
            return false;
    }
    return true;
}

} // namespace

int32 DictionaryPack_Write(Dictionary *Handle, std::string *Packed) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckList(Handle);
    Debug_CheckPointer(Packed);
    const size_t Before = Packed->size();
    if (WriteItems(Handle, *Packed, 0)) return TRUE;
    Packed->resize(Before);
    return FALSE;
}

int32 DictionaryPack_Read(Dictionary *Handle, std::string_view Packed) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckList(Handle);
    Reader In{Packed};
    return ReadItems(Handle, In, 0) && In.At == Packed.size();
}
