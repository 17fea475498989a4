// ASN.1 DER reader and writers. See asn1.h.
//
// Sizes are compared as differences of offsets inside the buffer, never by
// adding a length to a pointer, so no length value can wrap past the end.
#include "crypto/keys/asn1.h"

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "runtime/memory.h"
#include "runtime/text/unicode.h"
#include "runtime/time.h"

struct ASN1 {
    ClassStruct Class;
    const uint8 *NodeStart; // first header byte; null for a root
    uint32 Tag;             // identifier byte, or the number of a multi-byte tag
    int32 Length;           // content bytes (indefinite: what the content consumed)
    const uint8 *Value;     // first content byte
    ASN1 **Children;
    int32 Count;
    int32 Capacity;
};

#define ASN1_Check(Handle) Class_CheckHandle((Handle), ASN1_CLASSID)

namespace {

constexpr uint8 Constructed = 0x20;
constexpr uint8 EndOfContents = 0;
constexpr int32 MaxLengthBytes = 4;
constexpr int32 MaxTagBytes = 4;

int32 DeleteThroughClass(void *HandleAddress) { return ASN1_Delete(static_cast<ASN1 **>(HandleAddress)); }

struct Header {
    uint32 Tag;
    uint8 Identifier;
    size_t HeaderSize;
    size_t Length;
    bool Indefinite;
};

// Reads an identifier and length from Bytes[0 .. Available). False for a
// refused tag number, a length of more than four bytes or over 2^31 - 1, the
// length byte FF, an indefinite length on a primitive element, or a header
// that runs past the available bytes.
bool ASN1_DecodeTL(const uint8 *Bytes, size_t Available, Header &Out) {
    size_t At = 0;
    if (Available < 2) return false;
    Out.Identifier = Bytes[At++];
    Out.Tag = Out.Identifier;
    if ((Out.Identifier & 0x1f) == 0x1f) {
        uint32 Number = 0;
        for (int32 Count = 0;; Count++) {
            if (At >= Available || Count == MaxTagBytes) return false;
            const uint8 Byte = Bytes[At++];
            Number = (Number << 7) | (Byte & 0x7f);
            if (!(Byte & 0x80)) break;
        }
        Out.Tag = Number;
    }
    const uint32 Type = Out.Tag & 0x1f;
    if ((Type >= 13 && Type <= 15) || Type == 29 || Type == 31) return false;
    if (At >= Available) return false;
    const uint8 First = Bytes[At++];
    Out.Indefinite = false;
    if (First < 0x80) {
        Out.Length = First;
    } else if (First == 0x80) {
        if (!(Out.Identifier & Constructed)) return false;
        Out.Indefinite = true;
        Out.Length = 0;
    } else {
        const int32 Count = First & 0x7f;
        if (Count > MaxLengthBytes || (size_t)Count > Available - At) return false;
        uint64 Length = 0;
        for (int32 Index = 0; Index < Count; Index++) Length = (Length << 8) | Bytes[At++];
        if (Length > 0x7fffffff) return false;
        Out.Length = (size_t)Length;
    }
    Out.HeaderSize = At;
    return true;
}

void AppendChild(ASN1 *Parent, ASN1 *Child) {
    if (Parent->Count == Parent->Capacity) {
        const int32 Capacity = Parent->Capacity ? Parent->Capacity * 2 : 4;
        ASN1 **Grown = static_cast<ASN1 **>(Memory_Alloc(Capacity * (int32)sizeof(ASN1 *)));
        if (Parent->Count) memcpy(Grown, Parent->Children, (size_t)Parent->Count * sizeof(ASN1 *));
        if (Parent->Children) Memory_Free(Parent->Children, Parent->Capacity * (int32)sizeof(ASN1 *));
        Parent->Children = Grown;
        Parent->Capacity = Capacity;
    }
    Parent->Children[Parent->Count++] = Child;
}

// Decodes Bytes[Start .. End) into Parent's children. In end-of-contents mode
// (the content of an indefinite-length element) the range must close with
// 00 00; Consumed then counts those two bytes too. Otherwise the range must
// be used up, give or take one stray byte at its end.
bool DecodeRange(ASN1 *Parent, const uint8 *Bytes, size_t Start, size_t End, int32 Depth, bool UntilEnd,
                 size_t &Consumed) {
    if (Depth > ASN1_MAX_DEPTH) return false;
    size_t At = Start;
    if (!UntilEnd && Start == End) {
        Consumed = 0;
        return true;
    }
    while (At < End) {
        Header Head;
        if (!ASN1_DecodeTL(Bytes + At, End - At, Head)) break;
        if (UntilEnd && Head.Tag == EndOfContents) {
            if (Head.Length != 0) break;
            At += Head.HeaderSize;
            Consumed = At - Start;
            return true;
        }
        const size_t ContentStart = At + Head.HeaderSize;
        if (Head.Length > End - ContentStart) break;
        ASN1 *Child = nullptr;
        ASN1_Create(&Child);
        Child->NodeStart = Bytes + At;
        Child->Tag = Head.Tag;
        Child->Length = (int32)Head.Length;
        Child->Value = Bytes + ContentStart;
        AppendChild(Parent, Child);
        if (Head.Identifier & Constructed) {
            size_t Inner = 0;
            const bool Decoded =
                Head.Indefinite ? DecodeRange(Child, Bytes, ContentStart, End, Depth + 1, true, Inner)
                                : DecodeRange(Child, Bytes, ContentStart, ContentStart + Head.Length, Depth + 1,
                                              false, Inner);
            if (!Decoded) {
                ASN1_Reset(Parent);
                return false;
            }
            if (Head.Indefinite) Child->Length = (int32)Inner;
        } else if (Head.Length > 0 && (Head.Identifier == ASN1_TYPE_OCTETSTRING || Head.Identifier == ASN1_TYPE_BITSTRING)) {
            // Contents that are DER themselves (a key in a BIT STRING after its
            // unused-bits count, an extension value) become children; other
            // contents simply have none.
            const size_t Skip = Head.Identifier == ASN1_TYPE_BITSTRING ? 1 : 0;
            size_t Inner = 0;
            if (Skip == 0 || Bytes[ContentStart] == 0) {
                if (!DecodeRange(Child, Bytes, ContentStart + Skip, ContentStart + Head.Length, Depth + 1, false,
                                 Inner))
                    ASN1_Reset(Child);
            }
        }
        At = ContentStart + (size_t)Child->Length;
        if (!UntilEnd && At + 1 >= End) {
            Consumed = At - Start;
            return true;
        }
    }
    return false;
}

int32 DecodeInto(ASN1 *Handle, const void *Bytes, int32 Size) {
    if (Bytes == nullptr || Size <= 0) return FALSE;
    size_t Consumed = 0;
    return DecodeRange(Handle, static_cast<const uint8 *>(Bytes), 0, (size_t)Size, 0, false, Consumed);
}

// The first rule of DER that Bytes[Start .. End) breaks, or null when it
// holds whole elements in DER only: definite lengths in their shortest form,
// constructed form for SEQUENCE and SET alone, and BOOLEAN, INTEGER, BIT
// STRING, NULL and OBJECT IDENTIFIER contents in their one encoding. Counts
// the elements of the range. Primitive contents are not looked into.
const char *DerFault(const uint8 *Bytes, size_t Start, size_t End, int32 Depth, size_t &Elements) {
    if (Depth > ASN1_MAX_DEPTH) return "nesting deeper than 64 levels";
    Elements = 0;
    for (size_t At = Start; At < End; Elements++) {
        if (End - At < 2) return "an element cut short";
        const uint8 Identifier = Bytes[At++], First = Bytes[At++];
        if ((Identifier & 0x1f) == 0x1f) return "a tag number above 30";
        size_t Length = First;
        if (First == 0x80) return "an indefinite length";
        if (First > 0x80) {
            const size_t Count = First & 0x7f;
            if (Count > (size_t)MaxLengthBytes || Count > End - At) return "a length of more than four bytes";
            if (Bytes[At] == 0) return "a length with a leading zero byte";
            Length = 0;
            for (size_t Index = 0; Index < Count; Index++) Length = (Length << 8) | Bytes[At++];
            if (Length < 0x80) return "a long-form length under 128";
        }
        if (Length > End - At) return "a length past the end of its element";
        const uint8 *Content = Bytes + At;
        const bool IsConstructed = (Identifier & Constructed) != 0;
        const uint8 Number = Identifier & 0x1f;
        if ((Identifier & 0xc0) == 0) {
            if (IsConstructed != (Number == ASN1_TYPE_SEQUENCE || Number == ASN1_TYPE_SET))
                return "a universal type in the wrong form";
            switch (Number) {
            case 0: return "an end-of-contents marker";
            case 1:
                if (Length != 1 || (Content[0] != 0 && Content[0] != 0xff)) return "a BOOLEAN other than 00 or FF";
                break;
            case ASN1_TYPE_INTEGER:
            case 10: // ENUMERATED
                if (Length == 0) return "an empty INTEGER";
                if (Length > 1 && ((Content[0] == 0 && Content[1] < 0x80) || (Content[0] == 0xff && Content[1] >= 0x80)))
                    return "an INTEGER not in its shortest form";
                break;
            case ASN1_TYPE_BITSTRING:
                if (Length == 0 || Content[0] > 7 || (Length == 1 && Content[0] != 0) ||
                    (Content[Length - 1] & ((1u << Content[0]) - 1)) != 0)
                    return "a BIT STRING with a bad count of unused bits";
                break;
            case ASN1_TYPE_NULL:
                if (Length != 0) return "a NULL with content";
                break;
            case ASN1_TYPE_OID:
                if (Length == 0 || (Content[Length - 1] & 0x80) != 0) return "a malformed OBJECT IDENTIFIER";
                for (size_t Index = 0; Index < Length; Index++)
                    if (Content[Index] == 0x80 && (Index == 0 || (Content[Index - 1] & 0x80) == 0))
                        return "a malformed OBJECT IDENTIFIER";
                break;
            default: break;
            }
        }
        if (IsConstructed) {
            size_t Inner = 0;
            if (const char *Fault = DerFault(Bytes, At, At + Length, Depth + 1, Inner)) return Fault;
        }
        At += Length;
    }
    return nullptr;
}

// The OID's dotted text, or false for a malformed OID.
bool OidText(ASN1 *Handle, std::string &Text) {
    if (Handle == nullptr || ASN1_GetType(Handle) != ASN1_TYPE_OID || Handle->Length < 1) return false;
    Text.clear();
    const uint8 *Bytes = Handle->Value;
    bool First = true;
    for (int32 At = 0; At < Handle->Length;) {
        // An arc may not start with a padding byte 80.
        if (Bytes[At] == 0x80) return false;
        uint64 Arc = 0;
        for (;;) {
            if (At >= Handle->Length) return false;
            const uint8 Byte = Bytes[At++];
            Arc = (Arc << 7) | (Byte & 0x7f);
            if (Arc > 0xffffffffu) return false;
            if (!(Byte & 0x80)) break;
        }
        char Part[32];
        if (First) {
            const uint64 Top = Arc < 80 ? Arc / 40 : 2;
            snprintf(Part, sizeof(Part), "%u.%u", (unsigned)Top, (unsigned)(Arc - 40 * Top));
            First = false;
        } else {
            snprintf(Part, sizeof(Part), ".%u", (unsigned)Arc);
        }
        Text += Part;
    }
    return true;
}

bool FindInt(ASN1 *Node, const std::string &Oid, uint32 Depth, ASN1 **Value) {
    std::string Text;
    if (OidText(Node, Text) && Text == Oid) {
        *Value = nullptr;
        return true;
    }
    if (Depth == 0) return false;
    const uint32 Next = Depth == 0xffffffffu ? Depth : Depth - 1;
    for (int32 Index = 0; Index < Node->Count; Index++) {
        ASN1 *Found = nullptr;
        if (!FindInt(Node->Children[Index], Oid, Next, &Found)) continue;
        if (Found == nullptr) {
            if (Index + 1 >= Node->Count) return false;
            Found = Node->Children[Index + 1];
        }
        *Value = Found;
        return true;
    }
    return false;
}

size_t LengthBytes(size_t Length) { return Length < 0x80 ? 1 : Length < 0x100 ? 2 : Length < 0x10000 ? 3 : Length < 0x1000000 ? 4 : 5; }

void WriteLength(uint8 *Out, size_t Length) {
    const size_t Count = LengthBytes(Length);
    if (Count == 1) {
        Out[0] = (uint8)Length;
        return;
    }
    Out[0] = (uint8)(0x80 | (Count - 1));
    for (size_t At = 1; At < Count; At++) Out[At] = (uint8)(Length >> (8 * (Count - 1 - At)));
}

} // namespace

CLASS_DEFINE_REFERENCE(ASN1, ASN1, ASN1_CLASSID)

int32 ASN1_Create(ASN1 **Handle) {
    Debug_CheckPointer(Handle);
    ASN1 *Object = Memory_New(ASN1);
    Class_InitHeader(Object, ASN1_CLASSID, DeleteThroughClass);
    *Handle = Object;
    return TRUE;
}

int32 ASN1_Delete(ASN1 **Handle) {
    Debug_CheckPointer(Handle);
    ASN1_Check(*Handle);
    ASN1_Reset(*Handle);
    if ((*Handle)->Children) Memory_Free((*Handle)->Children, (*Handle)->Capacity * (int32)sizeof(ASN1 *));
    Memory_Delete(*Handle);
    return TRUE;
}

int32 ASN1_Decode(ASN1 *Handle, const void *Bytes, int32 Size) {
    ASN1_Check(Handle);
    return DecodeInto(Handle, Bytes, Size);
}

int32 ASN1_Reset(ASN1 *Handle) {
    ASN1_Check(Handle);
    for (int32 Index = 0; Index < Handle->Count; Index++) ASN1_Delete(&Handle->Children[Index]);
    Handle->Count = 0;
    return TRUE;
}

ASN1 *ASN1_GetElement(ASN1 *Handle, int32 Index) {
    if (Handle == nullptr) return nullptr;
    ASN1_Check(Handle);
    if (Index < 0) Index = 0;
    return Index < Handle->Count ? Handle->Children[Index] : nullptr;
}

int32 ASN1_GetElementCount(ASN1 *Handle, int32 *Count) {
    Debug_CheckPointer(Count);
    *Count = 0;
    if (Handle == nullptr) return FALSE;
    ASN1_Check(Handle);
    *Count = Handle->Count;
    return TRUE;
}

int32 ASN1_GetType(ASN1 *Handle) {
    if (Handle == nullptr) return 0;
    ASN1_Check(Handle);
    return (int32)(Handle->Tag & 0x1f);
}

int32 ASN1_GetTag(ASN1 *Handle, uint8 *Tag) {
    Debug_CheckPointer(Tag);
    *Tag = 0;
    if (Handle == nullptr) return FALSE;
    ASN1_Check(Handle);
    *Tag = (uint8)Handle->Tag;
    return TRUE;
}

const uint8 *ASN1_GetNodePtr(ASN1 *Handle) {
    if (Handle == nullptr) return nullptr;
    ASN1_Check(Handle);
    return Handle->NodeStart;
}

int32 ASN1_GetNodeSize(ASN1 *Handle) {
    if (Handle == nullptr) return 0;
    ASN1_Check(Handle);
    if (Handle->NodeStart == nullptr) return 0;
    return (int32)(Handle->Value - Handle->NodeStart) + Handle->Length;
}

const uint8 *ASN1_GetValuePtr(ASN1 *Handle) {
    if (Handle == nullptr) return nullptr;
    ASN1_Check(Handle);
    return Handle->Value;
}

int32 ASN1_GetValueSize(ASN1 *Handle) {
    if (Handle == nullptr) return 0;
    ASN1_Check(Handle);
    return Handle->Length;
}

int32 ASN1_ParseBigInt(ASN1 *Handle, BigInt *Number) {
    if (Handle == nullptr || ASN1_GetType(Handle) != ASN1_TYPE_INTEGER) return FALSE;
    return BigInt_ImportBinary(Number, Handle->Value, Handle->Length);
}

int32 ASN1_ParseInt32(ASN1 *Handle, uint32 *Value) {
    Debug_CheckPointer(Value);
    *Value = 0;
    if (Handle == nullptr || ASN1_GetType(Handle) != ASN1_TYPE_INTEGER || Handle->Length > 4) return FALSE;
    for (int32 At = 0; At < Handle->Length; At++) *Value = (*Value << 8) | Handle->Value[At];
    return TRUE;
}

int32 ASN1_ParseOid(ASN1 *Handle, char *Text, int32 Size) {
    Debug_CheckPointer(Text);
    if (Size > 0) Text[0] = 0;
    std::string Dotted;
    if (!OidText(Handle, Dotted) || (int32)Dotted.size() >= Size) return FALSE;
    memcpy(Text, Dotted.c_str(), Dotted.size() + 1);
    return TRUE;
}

int32 ASN1_ParseString(ASN1 *Handle, char *Text, int32 Size) {
    Debug_CheckPointer(Text);
    if (Size < 1) return FALSE;
    Text[0] = 0;
    if (Handle == nullptr) return FALSE;
    const int32 Type = ASN1_GetType(Handle);
    if (Type == ASN1_TYPE_UTF8STRING || Type == ASN1_TYPE_PRINTABLESTRING || Type == ASN1_TYPE_T61STRING ||
        Type == ASN1_TYPE_IA5STRING) {
        if (memchr(Handle->Value, 0, (size_t)Handle->Length) != nullptr) return FALSE;
        const int32 Count = Handle->Length < Size - 1 ? Handle->Length : Size - 1;
        memcpy(Text, Handle->Value, (size_t)Count);
        Text[Count] = 0;
        return TRUE;
    }
    if (Type == ASN1_TYPE_BMPSTRING) {
        const int32 Units = Handle->Length / 2;
        std::vector<uint16> Swapped((size_t)Units + 1, 0);
        memcpy(Swapped.data(), Handle->Value, (size_t)Units * 2);
        for (int32 At = 0; At < Units; At++)
            if (Swapped[(size_t)At] == 0) return FALSE;
        StringUtf16_ESCopyLengthToUtf8(Text, Size, Swapped.data(), Units);
        return TRUE;
    }
    return FALSE;
}

int32 ASN1_ParseUTCTime(ASN1 *Handle, float64 *Time) {
    Debug_CheckPointer(Time);
    *Time = 0;
    if (Handle == nullptr || ASN1_GetType(Handle) != ASN1_TYPE_UTCTIME || Handle->Length < 6) return FALSE;
    int32 Fields[6] = {};
    for (int32 Field = 0; Field < 6 && 2 * Field + 2 <= Handle->Length; Field++) {
        const uint8 High = Handle->Value[2 * Field], Low = Handle->Value[2 * Field + 1];
        if (High < '0' || High > '9' || Low < '0' || Low > '9') {
            // The time-zone suffix may follow any whole field after the date.
            if (Field >= 3) break;
            return FALSE;
        }
        Fields[Field] = (High - '0') * 10 + (Low - '0');
    }
    return Time_GetEncoded(Time, (uint8)Fields[3], (uint8)Fields[4], (uint8)Fields[5], (uint8)Fields[1],
                           (uint8)Fields[2], 2000 + Fields[0]);
}

int32 ASN1_CheckDer(const void *Bytes, int32 Size, const char **Fault) {
    const char *Found = Bytes == nullptr || Size <= 0 ? "no bytes" : nullptr;
    size_t Elements = 0;
    if (Found == nullptr) Found = DerFault(static_cast<const uint8 *>(Bytes), 0, (size_t)Size, 0, Elements);
    if (Found == nullptr && Elements != 1) Found = "bytes after the element";
    if (Fault != nullptr) *Fault = Found;
    return Found == nullptr;
}

int32 ASN1_Find(ASN1 *Handle, const char *Oid, uint32 Depth, ASN1 **Value) {
    Debug_CheckPointer(Oid);
    Debug_CheckPointer(Value);
    *Value = nullptr;
    if (Handle == nullptr) return FALSE;
    ASN1_Check(Handle);
    return FindInt(Handle, Oid, Depth, Value);
}

int32 ASN1_EncodeBigInt(ASN1 *Handle, const BigInt *Number, void *Buffer, int32 Size) {
    Debug_CheckPointer(Buffer);
    if (Handle != nullptr) ASN1_Reset(Handle);
    if (BigInt_GetSign(Number) < 0) return FALSE;
    const int32 Bytes = BigInt_ByteCount(Number);
    // A zero byte in front keeps the value non-negative; zero is one 00 byte.
    const bool Pad = Bytes == 0 || BigInt_IsBitSet(Number, 8 * Bytes - 1);
    const size_t Content = (size_t)Bytes + (Pad ? 1 : 0);
    const size_t Total = 1 + LengthBytes(Content) + Content;
    if (Size < 0 || Total > (size_t)Size) return FALSE;
    uint8 *Out = static_cast<uint8 *>(Buffer);
    Out[0] = ASN1_TYPE_INTEGER;
    WriteLength(Out + 1, Content);
    uint8 *Digits = Out + 1 + LengthBytes(Content);
    if (Pad) *Digits++ = 0;
    if (Bytes > 0) BigInt_ExportBinaryFixedSize(Number, Digits, Bytes);
    if (Handle != nullptr) DecodeInto(Handle, Buffer, (int32)Total);
    return (int32)Total;
}

int32 ASN1_EncodeHeader(uint8 Tag, uint32 Length, void *Buffer, int32 Size) {
    Debug_CheckPointer(Buffer);
    const size_t Total = 1 + LengthBytes(Length);
    if (Size < 0 || Total > (size_t)Size) return 0;
    uint8 *Out = static_cast<uint8 *>(Buffer);
    Out[0] = Tag;
    WriteLength(Out + 1, Length);
    return (int32)Total;
}

int32 ASN1_EncodeSequenceAddNode(ASN1 *Handle, void *Buffer, int32 Size, const void *Element, int32 ElementSize,
                                 int32 *SequenceSize) {
    Debug_CheckPointer(Buffer);
    Debug_Assert(Size >= 2, "DataSize is too small");
    if (SequenceSize != nullptr) *SequenceSize = 0;
    uint8 *Out = static_cast<uint8 *>(Buffer);
    Header Item;
    if (Element == nullptr || ElementSize < 2 || !ASN1_DecodeTL(static_cast<const uint8 *>(Element), (size_t)ElementSize, Item) ||
        Item.Indefinite || Item.Length > (size_t)ElementSize - Item.HeaderSize)
        return FALSE;
    const size_t ItemSize = Item.HeaderSize + Item.Length;
    size_t HeaderSize = 2, Content = 0;
    if (Out[0] == 0x30) {
        Header Sequence;
        if (!ASN1_DecodeTL(Out, (size_t)Size, Sequence) || Sequence.Indefinite ||
            Sequence.Length > (size_t)Size - Sequence.HeaderSize)
            return FALSE;
        HeaderSize = Sequence.HeaderSize;
        Content = Sequence.Length;
    } else if (Out[0] != 0 || Out[1] != 0) {
        return FALSE;
    }
    const size_t NewContent = Content + ItemSize;
    const size_t NewHeader = 1 + LengthBytes(NewContent);
    if (NewHeader + NewContent > (size_t)Size || NewContent > 0x7fffffff - 8) return FALSE;
    memmove(Out + NewHeader, Out + HeaderSize, Content);
    memcpy(Out + NewHeader + Content, Element, ItemSize);
    Out[0] = 0x30;
    WriteLength(Out + 1, NewContent);
    if (SequenceSize != nullptr) *SequenceSize = (int32)(NewHeader + NewContent);
    if (Handle != nullptr) {
        ASN1_Reset(Handle);
        DecodeInto(Handle, Buffer, (int32)(NewHeader + NewContent));
    }
    return TRUE;
}
