// Number readers on arbitrary bytes: integer, float, hex and IPv4 parsing
// must stay inside the text and the output, and agree with each other where
// their rules overlap.
#include <math.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "runtime/text/string.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    std::string Text(reinterpret_cast<const char *>(Data), Size);
    const char *Input = Text.c_str();

    int64 Signed = String_AtoI64(Input);
    uint64 Unsigned = String_AtoU64(Input);
    if (Input[0] != '-' && (uint64)Signed != Unsigned) __builtin_trap();
    if (String_AtoI(Input) != (int32)Signed) __builtin_trap();

    float64 Value = String_AtoF(Input);
    if (String_IsNumeric(Input) && Input[0] != 0 && strcmp(Input, "-") != 0 && isnan(Value)) __builtin_trap();

    uint64 Hex = 0;
    if (String_ConvertToHexInternal(Input, &Hex) && Hex != Unsigned) __builtin_trap();

    uint8 Bytes[64];
    int32 Length = -1;
    String_ConvertFromHexLength(Input, (int32)Size, Bytes, sizeof(Bytes), &Length);
    if (Length < 0 || Length > (int32)sizeof(Bytes)) __builtin_trap();

    char HexText[129];
    if (Length > 0) {
        String_ConvertToHex(Bytes, Length, 1, HexText, sizeof(HexText));
        if ((int32)strlen(HexText) != 2 * Length) __builtin_trap();
    }

    uint32 Address = 0;
    int32 Port = -1;
    if (String_ConvertToIP(Input, &Address, &Port)) {
        if (Port < 0 || Port > 65535) __builtin_trap();
        // An accepted address is a dotted quad (or "::1"): every byte is
        // a digit, ".", or ":".
        if (strcmp(Input, "::1") != 0 && strspn(Input, "0123456789.:") != strlen(Input)) __builtin_trap();
    }
    return 0;
}
