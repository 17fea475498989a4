// BitField: a fixed-size array of bits with a kept count of the set bits.
// The block pool marks its used blocks in one; content storage marks which
// pieces are complete and combines such maps; the repository takes piece
// masks as Base64 text. Its bit order and text forms are therefore data
// exchanged with other settings:
//
//   bit i is the bit with mask 0x80 >> (i % 8) of byte i / 8, so bit 0 is the
//   most significant bit of byte 0 and the bytes read like the bits from left
//   to right.
//
// Invariants: NonZeroBits always equals the number of set bits (kept by
// every operation, never recounted on query), and the low-order bits of the
// last byte that lie past TotalBits are always 0. The field owns its bytes.
// Index and size mismatches are fatal stops; the text forms and BufferRead
// report bad input with 0. No lock: one thread at a time.
#pragma once

#include "runtime/class.h"
#include "runtime/types.h"

#define BITFIELD_CLASSID 0x2efcb6e2u

RUNTIME_EXTERN_C_BEGIN

typedef struct BitField BitField;

// A field with no bits and one reference. Always 1.
int32 BitField_Create(BitField **Handle);
// Frees the bytes and the field and clears the handle (normally reached
// through BitField_Release).
int32 BitField_Delete(BitField **Handle);
CLASS_DECLARE_REFERENCE(BitField, BitField)
int32 BitField_ValidHandle(BitField *Handle);

// Sizing: a negative count gives 0 bits; the same count keeps the contents;
// any other count gives that many clear bits.
int32 BitField_SetTotalBits(BitField *Handle, int32 Bits);
// Sizes Destination like Source and copies its bits.
int32 BitField_Copy(BitField *Destination, BitField *Source);

// Single bits: an index outside 0 ... TotalBits - 1 is a fatal stop.
int32 BitField_Set(BitField *Handle, int32 Index);
int32 BitField_Clear(BitField *Handle, int32 Index);
int32 BitField_IsSet(BitField *Handle, int32 Index);
int32 BitField_IsClear(BitField *Handle, int32 Index);
// 1 when 0 <= Index < TotalBits (no stop).
int32 BitField_IsValidRange(BitField *Handle, int32 Index);

// Ranges act on min(TotalBits - Start, Count) bits from Start; fewer than 1
// does nothing (the range tests then answer 1).
int32 BitField_SetRange(BitField *Handle, int32 Start, int32 Count);
int32 BitField_ClearRange(BitField *Handle, int32 Start, int32 Count);
int32 BitField_IsRangeSet(BitField *Handle, int32 Start, int32 Count);
int32 BitField_IsRangeClear(BitField *Handle, int32 Start, int32 Count);

// Whole field.
int32 BitField_SetAll(BitField *Handle);
int32 BitField_ClearAll(BitField *Handle);
int32 BitField_Invert(BitField *Handle);
// Destination OR / AND / AND NOT Source; different bit counts are a fatal stop.
int32 BitField_Combine(BitField *Destination, BitField *Source);
int32 BitField_And(BitField *Destination, BitField *Source);
int32 BitField_Except(BitField *Destination, BitField *Source);

// Searches: 1 and the index, or 0 and -1 when there is none.
int32 BitField_GetFirstSet(BitField *Handle, int32 *Index);
int32 BitField_GetFirstClear(BitField *Handle, int32 *Index);
int32 BitField_GetLastSet(BitField *Handle, int32 *Index);
int32 BitField_GetLastClear(BitField *Handle, int32 *Index);

// Counts (1 each) and states (the answer). An empty field is full.
int32 BitField_GetTotalBits(BitField *Handle, int32 *Bits);
int32 BitField_GetTotalBytes(BitField *Handle, int32 *Bytes);
int32 BitField_GetNonZeroBits(BitField *Handle, int32 *Count);
int32 BitField_GetZeroBits(BitField *Handle, int32 *Count);
int32 BitField_IsFull(BitField *Handle);
int32 BitField_IsEmpty(BitField *Handle);
// Percentages, not rounded; an empty field gives 100 and 0.
int32 BitField_GetPercentFull(BitField *Handle, float64 *Percent);
int32 BitField_GetPercentEmpty(BitField *Handle, float64 *Percent);

// Raw bytes: Length must equal TotalBytes (BufferRead answers 0 otherwise,
// BufferWrite stops).
int32 BitField_BufferRead(BitField *Handle, const void *Buffer, int32 Length);
int32 BitField_BufferWrite(BitField *Handle, void *Buffer, int32 Length);

// Hex text: two upper-case digits per byte. The readers fill the existing
// bytes (optional "0x", either case, at most TotalBytes bytes) and answer 1
// when the whole text was read.
int32 BitField_ToHexStringLength(BitField *Handle, int32 *Length);
int32 BitField_ToHexString(BitField *Handle, char *Buffer, int32 Size);
int32 BitField_FromHexString(BitField *Handle, const char *Text);
int32 BitField_FromHexStringLength(BitField *Handle, const char *Text, int32 Length);

// Base64 text (standard alphabet, "=" padding). The readers need the field
// already sized to exactly the decoded byte count.
int32 BitField_ToBase64StringLength(BitField *Handle, int32 *Length);
int32 BitField_ToBase64String(BitField *Handle, char *Buffer, int32 Size);
int32 BitField_FromBase64String(BitField *Handle, const char *Text);
int32 BitField_FromBase64StringLength(BitField *Handle, const char *Text, int32 Length);

// One log line: "label:HEX" and "label (20 columns):BASE64".
int32 BitField_Dump(BitField *Handle, const char *Label);
int32 BitField_DumpBase64(BitField *Handle, const char *Label);

CLASSPRINT_DECLARE(BitField, BitField)
// Prints only when the field's verbose level admits Level.
int32 BitField_VerboseLog(BitField *Handle, int32 Level, const char *Format, ...);

RUNTIME_EXTERN_C_END
