// Packed form: a container is its item count (4 bytes), then its items. An
// item is its flags byte (type, private mark, Boolean value), its key and
// its text, each as a length plus one (4 bytes, 0 for none) and the bytes
// with a closing zero, then, for a List or Dictionary, its container. Lengths
// are in the machine's order: packed bytes never leave the process.
#include "runtime/containers/dictionary_pack.h"

#include <string.h>

#include "runtime/containers/dictionary_internal.h"

namespace {

// Deeper trees stay as they are; the reader stops at the same depth, so
// that no bytes can nest it deeper than the stack allows.
constexpr int32 DeepestContainer = 256;
constexpr uint8 KeptFlags = DictionaryTypeMask | DictionaryPrivateFlag | DictionaryBooleanFlag;

// Strings and numbers keep a text; Booleans keep their value in the flags.
bool TypeHasText(int32 Type) { return Type == DICTIONARY_TYPE_STRING || DictionaryInt_IsNumberType(Type); }

bool HasText(const DictionaryItem *Item) { return TypeHasText(DictionaryInt_Type(Item)) && Item->ValueLength > 0; }

// The bytes Handle's items pack into, or 0 when they cannot be packed. A
// first pass, so that the second writes into room made once.
size_t Measure(Dictionary *Handle, int32 Depth) {
    if (Depth > DeepestContainer) return 0;
    size_t Bytes = sizeof(uint32);
    for (DictionaryItem *Item = Handle->Items.First; Item != nullptr; Item = Item->Next) {
        const int32 Type = DictionaryInt_Type(Item);
        const bool Container = DictionaryInt_IsContainerType(Type);
        if (Type == DICTIONARY_TYPE_UNKNOWN || (Container && (Item->Value != nullptr || Item->Child == nullptr)))
            return 0;
        Bytes += 1 + 2 * sizeof(uint32);
        if (Item->Key != nullptr) Bytes += (size_t)Item->KeyLength + 1;
        if (HasText(Item)) Bytes += (size_t)Item->ValueLength + 1;
        if (Container) {
            const size_t Inner = Measure(Item->Child, Depth + 1);
            if (Inner == 0) return 0;
            Bytes += Inner;
        }
    }
    return Bytes;
}

char *PutLength(char *At, uint32 Value) {
    memcpy(At, &Value, sizeof(Value));
    return At + sizeof(Value);
}

char *PutText(char *At, const char *Text, size_t Length) {
    if (Text == nullptr) return PutLength(At, 0);
    At = PutLength(At, (uint32)Length + 1);
    DictionaryInt_CopyText(At, Text, (int32)Length);
    At[Length] = 0;
    return At + Length + 1;
}

char *WriteItems(Dictionary *Handle, char *At) {
    At = PutLength(At, Handle->Items.Count);
    for (DictionaryItem *Item = Handle->Items.First; Item != nullptr; Item = Item->Next) {
        uint8 Flags = Item->Flags & (DictionaryTypeMask | DictionaryBooleanFlag);
        if (DictionaryInt_Type(Item) != DICTIONARY_TYPE_BOOLEAN) Flags &= DictionaryTypeMask;
        if (Handle->PrivateKeys == 1 && (Item->Flags & DictionaryPrivateFlag)) Flags |= DictionaryPrivateFlag;
        *At++ = (char)Flags;
        At = PutText(At, Item->Key, (size_t)Item->KeyLength);
        At = PutText(At, HasText(Item) ? Item->Value : nullptr, (size_t)Item->ValueLength);
        if (DictionaryInt_IsContainerType(DictionaryInt_Type(Item))) At = WriteItems(Item->Child, At);
    }
    return At;
}

// Whether a key holds a zero byte: no key a tree holds does, and read back
// such a key would lose a byte with every packing. Every key is tested, so a
// short one in one 16-byte compare where the bytes go on that far (its
// closing zero and the value's length follow it); the bytes past it do not
// count.
inline bool KeyHoldsZero(const char *Key, int32 Length, const char *End) {
#if defined(__SSE2__)
    if (Length <= 16 && End - Key >= 16) {
        const __m128i Bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(Key));
        const uint32 Zeros = (uint32)_mm_movemask_epi8(_mm_cmpeq_epi8(Bytes, _mm_setzero_si128()));
        return (Zeros & ((1u << Length) - 1)) != 0;
    }
#endif
    return memchr(Key, 0, (size_t)Length) != nullptr;
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
        const char *Key = nullptr, *Value = nullptr;
        int32 KeyLength = 0, ValueLength = 0;
        if ((Flags & ~KeptFlags) != 0 || Type == DICTIONARY_TYPE_UNKNOWN ||
            ((Flags & DictionaryBooleanFlag) && Type != DICTIONARY_TYPE_BOOLEAN) ||
            !In.Text(&Key, &KeyLength, DICTIONARY_MAX_KEY_LENGTH) ||
            (Key != nullptr && KeyHoldsZero(Key, KeyLength, In.Bytes.data() + In.Bytes.size())) ||
            !In.Text(&Value, &ValueLength, INT32_MAX - 1) ||
            (Value != nullptr && (!TypeHasText(Type) || ValueLength == 0)))
            return false;
        // As a merge appends a Boolean: by its value's text.
        if (Type == DICTIONARY_TYPE_BOOLEAN)
            Value = DictionaryInt_BooleanText((Flags & DictionaryBooleanFlag) != 0, &ValueLength);
        // A tree that reads private keys takes a leading '.' or '#' off a key
        // as its private mark; the stored key has lost that mark already, so
        // one is put back to be taken off again, and the packed flag decides.
        // Only such keys are copied; the others are taken where they lie (an
        // empty key's first byte is its closing zero).
        DictionaryItem *Item = nullptr;
        if (Key != nullptr && ((Flags & DictionaryPrivateFlag) || Key[0] == '.' || Key[0] == '#') &&
            Handle->PrivateKeys == 1) {
            char Marked[DICTIONARY_MAX_KEY_LENGTH + 2];
            Marked[0] = '.';
            memcpy(Marked + 1, Key, (size_t)KeyLength);
            Item = DictionaryInt_AppendValue(Handle, Marked, KeyLength + 1, Type, Value, ValueLength);
        } else {
            Item = DictionaryInt_AppendValue(Handle, Key, KeyLength, Type, Value, ValueLength);
        }
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
    const size_t Bytes = Measure(Handle, 0);
    if (Bytes == 0) return FALSE;
    const size_t Before = Packed->size();
    Packed->resize(Before + Bytes);
    char *End = WriteItems(Handle, Packed->data() + Before);
    Debug_Assert(End == Packed->data() + Packed->size(), "Packed Dictionary of %zu bytes overran\n", Bytes);
    return TRUE;
}

int32 DictionaryPack_Read(Dictionary *Handle, std::string_view Packed) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckList(Handle);
    Reader In{Packed};
    return ReadItems(Handle, In, 0) && In.At == Packed.size();
}
