// Bit field text readers on arbitrary bytes: the first two bytes choose the
// field's size, the rest is read as hex and as Base64 text (counted, not
// terminated). Whatever the text, the field must keep its invariants (no set
// overflow bits, the kept count equal to the bits) and its own texts must
// read back to the same bytes.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <bit>
#include <vector>

#include "runtime/containers/bit_field.h"
#include "runtime/debug.h"

namespace {

void CheckInvariants(BitField *Field) {
    int32 Bits = 0, Bytes = 0, NonZero = 0;
    BitField_GetTotalBits(Field, &Bits);
    BitField_GetTotalBytes(Field, &Bytes);
    BitField_GetNonZeroBits(Field, &NonZero);
    std::vector<uint8> Data(Bytes);
    BitField_BufferWrite(Field, Data.data(), Bytes);
    int32 Count = 0;
    for (uint8 Byte : Data) Count += std::popcount(Byte);
    if (Count != NonZero) abort();
    if (Bits % 8 && Bytes && (Data[Bytes - 1] & (0xFF >> (Bits % 8)))) abort();
}

void CheckRoundTrips(BitField *Field) {
    BitField *Copy = nullptr;
    BitField_Create(&Copy);
    BitField_Copy(Copy, Field);
    int32 Length = 0;
    BitField_ToHexStringLength(Field, &Length);
    std::vector<char> Hex(Length);
    if (!BitField_ToHexString(Field, Hex.data(), Length)) abort();
    BitField_ClearAll(Copy);
    if (!BitField_FromHexString(Copy, Hex.data())) abort();
    BitField_ToBase64StringLength(Field, &Length);
    std::vector<char> Base64(Length);
    if (!BitField_ToBase64String(Field, Base64.data(), Length)) abort();
    BitField_ClearAll(Copy);
    if (!BitField_FromBase64String(Copy, Base64.data())) abort();
    BitField_Invert(Copy);
    BitField_Invert(Copy);
    BitField_Except(Copy, Field);
    if (!BitField_IsEmpty(Copy)) abort();
    BitField_Release(&Copy);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    Debug_Init("/tmp/fuzz-bit-field.log", nullptr, 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    if (Size < 2 || Size > 65536) return 0;
    const int32 Bits = ((Data[0] << 8) | Data[1]) % 2048;
    const char *Text = reinterpret_cast<const char *>(Data + 2);
    const int32 Length = (int32)(Size - 2);
    BitField *Field = nullptr;
    BitField_Create(&Field);
    BitField_SetTotalBits(Field, Bits);
    BitField_FromHexStringLength(Field, Text, Length);
    CheckInvariants(Field);
    CheckRoundTrips(Field);
    BitField_FromBase64StringLength(Field, Text, Length);
    CheckInvariants(Field);
    CheckRoundTrips(Field);
    BitField_Release(&Field);
    return 0;
}
