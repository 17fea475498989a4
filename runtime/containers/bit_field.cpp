// BitField: bits MSB-first in bytes, with an incrementally kept population
// count. See bit_field.h for the bit order and the invariants.
//
// Single-bit and range operations adjust NonZeroBits by the bits they
// changed; whole-field operations work byte by byte, clear the overflow bits
// and recount.
#include "runtime/containers/bit_field.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <bit>

#include "runtime/text/base64.h"
#include "runtime/debug.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/text/string.h"

struct BitField {
    ClassStruct Class;
    ClassPrintStruct Print;
    uint8 *Data;
    int32 TotalBytes; // (TotalBits + 7) / 8
    int32 TotalBits;
    int32 NonZeroBits;
};

CLASSPRINT_DEFINE(BitField, BitField, BITFIELD_CLASSID, "BitField", Print)

#define BitField_Check(Handle) Class_CheckHandle((Handle), BITFIELD_CLASSID)

namespace {

// Room a dump line keeps for its label, ":" or the padding, "\n" and the terminator.
constexpr int32 DumpExtraBytes = 120;
constexpr int32 DumpLabelMax = DumpExtraBytes - 3;

void CheckIndex(const BitField *Field, int32 Index) {
    if (Index < 0 || Index >= Field->TotalBits)
        Debug_Abort("Bit outside boundary %d >= %d\n", Index, Field->TotalBits);
}

// Bit i is this mask of byte i / 8: bit 0 is the most significant bit.
constexpr uint8 BitField_MaskLookupTable[8] = {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01};
constexpr uint8 BitMask(int32 Index) { return BitField_MaskLookupTable[Index & 7]; }

// The bits of the last byte that lie inside the field.
uint8 LastByteMask(const BitField *Field) {
    const int32 Used = Field->TotalBits & 7;
    return Used ? (uint8)(0xFFu << (8 - Used)) : 0xFF;
}

void BitField_ClearOverflowBits(BitField *Field) {
    if (Field->TotalBytes) Field->Data[Field->TotalBytes - 1] &= LastByteMask(Field);
}

void Recount(BitField *Field) {
    int32 Count = 0;
    for (int32 Byte = 0; Byte < Field->TotalBytes; Byte++) Count += std::popcount(Field->Data[Byte]);
    Field->NonZeroBits = Count;
}

// The number of bits a range operation covers, after the start was checked.
int32 RangeLength(const BitField *Field, int32 Start, int32 Count) {
    const int64 Length = std::min<int64>((int64)Field->TotalBits - Start, Count);
    if (Length < 1) return 0;
    CheckIndex(Field, Start);
    return (int32)Length;
}

// Calls Visit(byte index, mask of the range's bits in that byte) for every
// byte the bits Start ... Start + Length - 1 touch; stops when it answers false.
template <typename Visitor> bool ForEachRangeByte(int32 Start, int32 Length, Visitor Visit) {
    const int32 Last = Start + Length - 1;
    for (int32 Byte = Start / 8; Byte <= Last / 8; Byte++) {
        const int32 Low = std::max(Start, Byte * 8) - Byte * 8;
        const int32 High = std::min(Last, Byte * 8 + 7) - Byte * 8;
        const uint8 Mask = (uint8)((0xFFu >> Low) & (0xFFu << (7 - High)));
        if (!Visit(Byte, Mask)) return false;
    }
    return true;
}

void ChangeRange(BitField *Field, int32 Start, int32 Count, bool Set) {
    const int32 Length = RangeLength(Field, Start, Count);
    if (Length == 0) return;
    ForEachRangeByte(Start, Length, [&](int32 Byte, uint8 Mask) {
        const uint8 Old = Field->Data[Byte];
        const uint8 New = Set ? (uint8)(Old | Mask) : (uint8)(Old & ~Mask);
        Field->NonZeroBits += std::popcount(New) - std::popcount(Old);
        Field->Data[Byte] = New;
        return true;
    });
}

bool RangeHas(BitField *Field, int32 Start, int32 Count, bool Set) {
    const int32 Length = RangeLength(Field, Start, Count);
    if (Length == 0) return true;
    return ForEachRangeByte(Start, Length, [&](int32 Byte, uint8 Mask) {
        return (Field->Data[Byte] & Mask) == (Set ? Mask : 0);
    });
}

template <typename Operation>
void CombineBytes(BitField *Destination, BitField *Source, const char *Message, Operation Apply) {
    BitField_Check(Destination);
    BitField_Check(Source);
    if (Destination->TotalBits != Source->TotalBits)
        Debug_AbortInt(__FILE__, __LINE__, Message, Destination->TotalBits, Source->TotalBits);
    for (int32 Byte = 0; Byte < Destination->TotalBytes; Byte++)
        Destination->Data[Byte] = Apply(Destination->Data[Byte], Source->Data[Byte]);
    BitField_ClearOverflowBits(Destination);
    Recount(Destination);
}

// Byte Byte of the field with set bits where the field has clear ones
// (overflow bits excluded), or as is.
uint8 ByteOf(const BitField *Field, int32 Byte, bool Clear) {
    if (!Clear) return Field->Data[Byte];
    const uint8 Valid = Byte == Field->TotalBytes - 1 ? LastByteMask(Field) : 0xFF;
    return (uint8)(~Field->Data[Byte] & Valid);
}

int32 FindFirst(BitField *Field, int32 *Index, bool Clear) {
    BitField_Check(Field);
    Debug_CheckPointer(Index);
    *Index = -1;
    for (int32 Byte = 0; Byte < Field->TotalBytes; Byte++) {
        const uint8 Bits = ByteOf(Field, Byte, Clear);
        if (Bits) {
            *Index = Byte * 8 + std::countl_zero(Bits);
            return TRUE;
        }
    }
    return FALSE;
}

int32 FindLast(BitField *Field, int32 *Index, bool Clear) {
    BitField_Check(Field);
    Debug_CheckPointer(Index);
    *Index = -1;
    for (int32 Byte = Field->TotalBytes - 1; Byte >= 0; Byte--) {
        const uint8 Bits = ByteOf(Field, Byte, Clear);
        if (Bits) {
            *Index = Byte * 8 + 7 - std::countr_zero(Bits);
            return TRUE;
        }
    }
    return FALSE;
}

int32 DeleteThroughClass(void *HandleAddress) { return BitField_Delete(static_cast<BitField **>(HandleAddress)); }

} // namespace

CLASS_DEFINE_REFERENCE(BitField, BitField, BITFIELD_CLASSID)

int32 BitField_Create(BitField **Handle) {
    Debug_CheckPointer(Handle);
    BitField *Field = Memory_New(BitField);
    Class_InitHeader(Field, BITFIELD_CLASSID, DeleteThroughClass);
    *Handle = Field;
    return TRUE;
}

int32 BitField_Delete(BitField **Handle) {
    Debug_CheckPointer(Handle);
    BitField *Field = *Handle;
    BitField_Check(Field);
    if (Field->Data) Memory_Free(Field->Data, Field->TotalBytes);
    Memory_Delete(Field);
    *Handle = nullptr;
    return TRUE;
}

int32 BitField_ValidHandle(BitField *Handle) {
    return Handle != nullptr && reinterpret_cast<ClassStruct *>(Handle)->ClassId == BITFIELD_CLASSID;
}

int32 BitField_SetTotalBits(BitField *Handle, int32 Bits) {
    BitField_Check(Handle);
    Bits = std::max(Bits, 0);
    if (Bits == Handle->TotalBits) return TRUE;
    if (Handle->Data) Handle->Data = static_cast<uint8 *>(Memory_Free(Handle->Data, Handle->TotalBytes));
    Handle->TotalBits = Bits;
    Handle->TotalBytes = (int32)(((int64)Bits + 7) / 8);
    Handle->NonZeroBits = 0;
    if (Handle->TotalBytes) Handle->Data = static_cast<uint8 *>(Memory_AllocZero(Handle->TotalBytes));
    return TRUE;
}

int32 BitField_Copy(BitField *Destination, BitField *Source) {
    BitField_Check(Destination);
    BitField_Check(Source);
    if (Destination == Source) return TRUE;
    if (!BitField_SetTotalBits(Destination, Source->TotalBits)) return FALSE;
    if (Source->TotalBytes) memcpy(Destination->Data, Source->Data, Source->TotalBytes);
    Destination->NonZeroBits = Source->NonZeroBits;
    return TRUE;
}

int32 BitField_Set(BitField *Handle, int32 Index) {
    BitField_Check(Handle);
    CheckIndex(Handle, Index);
    uint8 &Byte = Handle->Data[Index / 8];
    if (!(Byte & BitMask(Index))) {
        Byte |= BitMask(Index);
        Handle->NonZeroBits++;
    }
    return TRUE;
}

int32 BitField_Clear(BitField *Handle, int32 Index) {
    BitField_Check(Handle);
    CheckIndex(Handle, Index);
    uint8 &Byte = Handle->Data[Index / 8];
    if (Byte & BitMask(Index)) {
        Byte &= (uint8)~BitMask(Index);
        Handle->NonZeroBits--;
    }
    return TRUE;
}

int32 BitField_IsSet(BitField *Handle, int32 Index) {
    BitField_Check(Handle);
    CheckIndex(Handle, Index);
    return (Handle->Data[Index / 8] & BitMask(Index)) != 0;
}

int32 BitField_IsClear(BitField *Handle, int32 Index) { return !BitField_IsSet(Handle, Index); }

int32 BitField_IsValidRange(BitField *Handle, int32 Index) {
    BitField_Check(Handle);
    return Index >= 0 && Index < Handle->TotalBits;
}

int32 BitField_SetRange(BitField *Handle, int32 Start, int32 Count) {
    BitField_Check(Handle);
    ChangeRange(Handle, Start, Count, true);
    return TRUE;
}

int32 BitField_ClearRange(BitField *Handle, int32 Start, int32 Count) {
    BitField_Check(Handle);
    ChangeRange(Handle, Start, Count, false);
    return TRUE;
}

int32 BitField_IsRangeSet(BitField *Handle, int32 Start, int32 Count) {
    BitField_Check(Handle);
    return RangeHas(Handle, Start, Count, true);
}

int32 BitField_IsRangeClear(BitField *Handle, int32 Start, int32 Count) {
    BitField_Check(Handle);
    return RangeHas(Handle, Start, Count, false);
}

int32 BitField_SetAll(BitField *Handle) {
    BitField_Check(Handle);
    if (Handle->TotalBytes == 0) return TRUE;
    memset(Handle->Data, 0xFF, Handle->TotalBytes);
    BitField_ClearOverflowBits(Handle);
    Handle->NonZeroBits = Handle->TotalBits;
    return TRUE;
}

int32 BitField_ClearAll(BitField *Handle) {
    BitField_Check(Handle);
    if (Handle->TotalBytes == 0) return TRUE;
    memset(Handle->Data, 0, Handle->TotalBytes);
    Handle->NonZeroBits = 0;
    return TRUE;
}

int32 BitField_Invert(BitField *Handle) {
    BitField_Check(Handle);
    for (int32 Byte = 0; Byte < Handle->TotalBytes; Byte++) Handle->Data[Byte] = (uint8)~Handle->Data[Byte];
    BitField_ClearOverflowBits(Handle);
    Handle->NonZeroBits = Handle->TotalBits - Handle->NonZeroBits;
    return TRUE;
}

int32 BitField_Combine(BitField *Destination, BitField *Source) {
    CombineBytes(Destination, Source, "Bit mismatch on combine (%d != %d)\n",
                 [](uint8 A, uint8 B) { return (uint8)(A | B); });
    return TRUE;
}

int32 BitField_And(BitField *Destination, BitField *Source) {
    CombineBytes(Destination, Source, "Bit mismatch on and (%d != %d)\n",
                 [](uint8 A, uint8 B) { return (uint8)(A & B); });
    return TRUE;
}

int32 BitField_Except(BitField *Destination, BitField *Source) {
    CombineBytes(Destination, Source, "Bit mismatch on except (%d != %d)\n",
                 [](uint8 A, uint8 B) { return (uint8)(A & ~B); });
    return TRUE;
}

int32 BitField_GetFirstSet(BitField *Handle, int32 *Index) { return FindFirst(Handle, Index, false); }
int32 BitField_GetFirstClear(BitField *Handle, int32 *Index) { return FindFirst(Handle, Index, true); }
int32 BitField_GetLastSet(BitField *Handle, int32 *Index) { return FindLast(Handle, Index, false); }
int32 BitField_GetLastClear(BitField *Handle, int32 *Index) { return FindLast(Handle, Index, true); }

int32 BitField_GetTotalBits(BitField *Handle, int32 *Bits) {
    BitField_Check(Handle);
    Debug_CheckPointer(Bits);
    *Bits = Handle->TotalBits;
    return TRUE;
}

int32 BitField_GetTotalBytes(BitField *Handle, int32 *Bytes) {
    BitField_Check(Handle);
    Debug_CheckPointer(Bytes);
    *Bytes = Handle->TotalBytes;
    return TRUE;
}

int32 BitField_GetNonZeroBits(BitField *Handle, int32 *Count) {
    BitField_Check(Handle);
    Debug_CheckPointer(Count);
    *Count = Handle->NonZeroBits;
    return TRUE;
}

int32 BitField_GetZeroBits(BitField *Handle, int32 *Count) {
    BitField_Check(Handle);
    Debug_CheckPointer(Count);
    *Count = Handle->TotalBits - Handle->NonZeroBits;
    return TRUE;
}

int32 BitField_IsFull(BitField *Handle) {
    BitField_Check(Handle);
    return Handle->NonZeroBits == Handle->TotalBits;
}

int32 BitField_IsEmpty(BitField *Handle) {
    BitField_Check(Handle);
    return Handle->NonZeroBits == 0;
}

int32 BitField_GetPercentFull(BitField *Handle, float64 *Percent) {
    BitField_Check(Handle);
    Debug_CheckPointer(Percent);
    if (Handle->TotalBits == 0) {
        *Percent = 100.0;
        return FALSE;
    }
    *Percent = (float64)Handle->NonZeroBits / Handle->TotalBits * 100.0;
    return TRUE;
}

int32 BitField_GetPercentEmpty(BitField *Handle, float64 *Percent) {
    Debug_CheckPointer(Percent);
    float64 Full = 0;
    if (!BitField_GetPercentFull(Handle, &Full)) {
        *Percent = 100.0;
        return FALSE;
    }
    *Percent = 100.0 - Full;
    return TRUE;
}

int32 BitField_BufferRead(BitField *Handle, const void *Buffer, int32 Length) {
    BitField_Check(Handle);
    if (Length != Handle->TotalBytes) return FALSE;
    if (Length == 0) return TRUE;
    Debug_CheckPointer(Buffer);
    memcpy(Handle->Data, Buffer, Length);
    BitField_ClearOverflowBits(Handle);
    Recount(Handle);
    return TRUE;
}

int32 BitField_BufferWrite(BitField *Handle, void *Buffer, int32 Length) {
    BitField_Check(Handle);
    if (Length != Handle->TotalBytes) Debug_Abort("Buffer mismatch on except (%d != %d)\n", Handle->TotalBytes, Length);
    if (Length == 0) return TRUE;
    Debug_CheckPointer(Buffer);
    memcpy(Buffer, Handle->Data, Length);
    return TRUE;
}

int32 BitField_ToHexStringLength(BitField *Handle, int32 *Length) {
    BitField_Check(Handle);
    Debug_CheckPointer(Length);
    *Length = 2 * Handle->TotalBytes + 1;
    return TRUE;
}

int32 BitField_ToHexString(BitField *Handle, char *Buffer, int32 Size) {
    BitField_Check(Handle);
    static const uint8 NoBytes = 0;
    return String_ConvertToHex(Handle->Data ? Handle->Data : &NoBytes, Handle->TotalBytes, FALSE, Buffer, Size);
}

int32 BitField_FromHexString(BitField *Handle, const char *Text) {
    Debug_CheckPointer(Text);
    return BitField_FromHexStringLength(Handle, Text, (int32)strlen(Text));
}

int32 BitField_FromHexStringLength(BitField *Handle, const char *Text, int32 Length) {
    BitField_Check(Handle);
    Debug_CheckPointer(Text);
    uint8 NoRoom = 0;
    const int32 Result = String_ConvertFromHexLength(Text, std::max(Length, 0), Handle->Data ? Handle->Data : &NoRoom,
                                                     Handle->TotalBytes, nullptr);
    BitField_ClearOverflowBits(Handle);
    Recount(Handle);
    return Result;
}

int32 BitField_ToBase64StringLength(BitField *Handle, int32 *Length) {
    BitField_Check(Handle);
    Debug_CheckPointer(Length);
    return Base64_CalculateEncodeSize(Handle->TotalBytes, Length);
}

int32 BitField_ToBase64String(BitField *Handle, char *Buffer, int32 Size) {
    BitField_Check(Handle);
    Debug_CheckPointer(Buffer);
    int32 Needed = 0;
    Base64_CalculateEncodeSize(Handle->TotalBytes, &Needed);
    if (Size < Needed) return FALSE;
    Buffer[0] = 0;
    if (Handle->TotalBytes == 0) return TRUE;
    int32 Written = 0;
    if (!Base64_Encode(Handle->Data, Handle->TotalBytes, Buffer, Size, &Written)) {
        BitField_VerboseLog(Handle, 0, "Error: Unable to encode bitfield (%d / %d / %d)", Handle->TotalBytes, Needed,
                            Written);
        return FALSE;
    }
    return TRUE;
}

int32 BitField_FromBase64String(BitField *Handle, const char *Text) {
    Debug_CheckPointer(Text);
    return BitField_FromBase64StringLength(Handle, Text, (int32)strlen(Text));
}

int32 BitField_FromBase64StringLength(BitField *Handle, const char *Text, int32 Length) {
    BitField_Check(Handle);
    Debug_CheckPointer(Text);
    // The decoder reads up to a terminator, so a counted text is decoded
    // from a terminated copy of its first Length bytes.
    const void *End = memchr(Text, 0, std::max(Length, 0));
    const int32 TextLength = End ? (int32)(static_cast<const char *>(End) - Text) : std::max(Length, 0);
    int32 DecodeSize = 0;
    Base64_CalculateDecodeSize(TextLength, &DecodeSize);
    if ((int64)DecodeSize + TextLength + 1 > INT32_MAX) return FALSE;
    MemoryScope<> Block(DecodeSize + TextLength + 1);
    char *Copy = reinterpret_cast<char *>(Block.Get() + DecodeSize);
    memcpy(Copy, Text, TextLength);
    Copy[TextLength] = 0;
    int32 Written = 0;
    if (!Base64_Decode(Copy, TextLength, Block.Get(), DecodeSize, &Written)) {
        BitField_VerboseLog(Handle, 0, "Error: Unable to decode bitfield (%d / %d)", DecodeSize, Written);
        return FALSE;
    }
    if (!BitField_BufferRead(Handle, Block.Get(), Written)) {
        BitField_VerboseLog(Handle, 0, "Error: Unable to read bitfield");
        return FALSE;
    }
    return TRUE;
}

int32 BitField_Dump(BitField *Handle, const char *Label) {
    BitField_Check(Handle);
    Debug_CheckPointer(Label);
    const int32 Size = 2 * Handle->TotalBytes + DumpExtraBytes;
    MemoryScope<> Line(Size);
    char *Text = reinterpret_cast<char *>(Line.Get());
    int32 Used = snprintf(Text, Size, "%.*s:", DumpLabelMax, Label);
    BitField_ToHexString(Handle, Text + Used, Size - Used - 1);
    Used += (int32)strlen(Text + Used);
    snprintf(Text + Used, Size - Used, "\n");
    Log_PrintString(Text);
    return TRUE;
}

int32 BitField_DumpBase64(BitField *Handle, const char *Label) {
    BitField_Check(Handle);
    Debug_CheckPointer(Label);
    int32 Encoded = 0;
    Base64_CalculateEncodeSize(Handle->TotalBytes, &Encoded);
    const int32 Size = Encoded + DumpExtraBytes;
    MemoryScope<> Line(Size);
    char *Text = reinterpret_cast<char *>(Line.Get());
    int32 Used = snprintf(Text, Size, "%-20.*s:", DumpLabelMax, Label);
    BitField_ToBase64String(Handle, Text + Used, Size - Used - 1);
    Used += (int32)strlen(Text + Used);
    snprintf(Text + Used, Size - Used, "\n");
    Log_PrintString(Text);
    return TRUE;
}

int32 BitField_VerboseLog(BitField *Handle, int32 Level, const char *Format, ...) {
    BitField_Check(Handle);
    if (!BitField_IsVerboseLevel(Handle, Level)) return FALSE;
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = BitField_VPrint(Handle, 0, Format, Arguments);
    va_end(Arguments);
    return Result;
}
