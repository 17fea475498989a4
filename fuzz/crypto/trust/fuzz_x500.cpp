// X.500 names from arbitrary DER: the build answers 1 or 0, every field it
// keeps is a terminated text without a zero byte cut into it, and names
// compare with themselves.
#include <stdint.h>
#include <string.h>

#include <vector>

#include "crypto/keys/asn1.h"
#include "crypto/trust/x509.h"
#include "runtime/debug.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    static const bool Started = Debug_Init("/tmp/fuzz-x500.log", nullptr, 0) != 0;
    (void)Started;
    if (Size > 1 << 14) return 0;
    std::vector<uint8_t> Bytes(Data, Data + Size);
    ASN1 *Root = nullptr;
    ASN1_Create(&Root);
    ASN1_Decode(Root, Bytes.data(), (int32)Bytes.size());
    X500 *Name = nullptr;
    X500_Create(&Name);
    const int32 Result = X500_Build(Name, ASN1_GetElement(Root, 0));
    Check(Result == 0 || Result == 1);
    char Text[X500_MAX_TEXT_LENGTH + 1];
    for (auto Get : {X500_GetCN, X500_GetO, X500_GetOU}) {
        Get(Name, Text, sizeof(Text));
        Check(strnlen(Text, sizeof(Text)) < sizeof(Text));
    }
    Check(X500_Compare(Name, Name) == 1);
    X500_Release(&Name);
    ASN1_Delete(&Root);
    return 0;
}
