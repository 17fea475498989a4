// PKCS#12 bundles as a user hands them in: a build over any decoded bytes
// answers 1 or 0 and never stops, with the empty password and another; a
// bundle that loaded a key can sign.
#include <stdint.h>

#include <vector>

#include "crypto/keys/asn1.h"
#include "crypto/trust/pkcs12.h"
#include "runtime/debug.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    static const bool Started = Debug_Init("/tmp/fuzz-pkcs12.log", nullptr, 0) != 0;
    (void)Started;
    if (Size > 1 << 16) return 0;
    std::vector<uint8_t> Bytes(Data, Data + Size);
    ASN1 *Tree = nullptr;
    ASN1_Create(&Tree);
    ASN1_Decode(Tree, Bytes.data(), (int32)Bytes.size());
    for (const char *Password : {"", "pw"}) {
        PKCS12 *Bundle = nullptr;
        PKCS12_Create(&Bundle);
        const int32 Built = PKCS12_Build(Bundle, Tree, Password);
        Check(Built == 0 || Built == 1);
        CryptAsymmetric *Key = nullptr;
        if (Built && PKCS12_GetCryptAsymmetricHandle(Bundle, &Key)) {
            uint8 Digest[32] = {}, Signature[1200];
            int32 Written = 0;
            PKCS12_Sign(Bundle, Digest, 32, Signature, sizeof(Signature), &Written);
        }
        PKCS12_Release(&Bundle);
    }
    ASN1_Release(&Tree);
    return 0;
}
