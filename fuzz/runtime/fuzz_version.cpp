// Version and boolean decoding on arbitrary bytes; comparison must be
// antisymmetric and reflexive for the texts it accepts.
#include <stdint.h>

#include <string>

#include "runtime/text/string.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    std::string Input(reinterpret_cast<const char *>(Data), Size);
    size_t Split = Input.find('\n');
    std::string A = Input.substr(0, Split);
    std::string B = Split == std::string::npos ? std::string("1.0") : Input.substr(Split + 1);

    int32 Parts[4];
    String_DecodeVersion(A.c_str(), &Parts[0], &Parts[1], &Parts[2], &Parts[3]);

    int32 Forward = 0, Backward = 0, Self = 7;
    int32 Valid = String_CompareVersion(A.c_str(), B.c_str(), &Forward);
    if (String_CompareVersion(B.c_str(), A.c_str(), &Backward) != Valid) __builtin_trap();
    if (Forward != -Backward) __builtin_trap();
    if (String_CompareVersion(A.c_str(), A.c_str(), &Self) && Self != 0) __builtin_trap();

    int32 Value = -1;
    String_DecodeBoolean(A.c_str(), &Value, 5);
    if (Value != 0 && Value != 1 && Value != 5) __builtin_trap();
    return 0;
}
