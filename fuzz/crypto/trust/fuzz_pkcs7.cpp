// SignedData as it arrives in signed files: a build answers 1 or 0 and never
// reads outside the copy; whatever was built verifies (against a store that
// trusts everything, so the signature and digest checks run too) without a
// stop.
#include <stdint.h>

#include <vector>

#include "crypto/trust/cert_store.h"
#include "crypto/trust/pkcs7.h"
#include "runtime/debug.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

int32 Always(CertStoreInterface *, void *, X509 *, uint32 *Stop) {
    *Stop = 0;
    return 1;
}

int32 Feed(void *Stream, Hash *Digest) {
    const std::vector<uint8_t> *Bytes = static_cast<const std::vector<uint8_t> *>(Stream);
    uint32 Processed = 0;
    return Hash_Process(Digest, Bytes->data(), (uint32)Bytes->size(), &Processed);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    static const bool Started = Debug_Init("/tmp/fuzz-pkcs7.log", nullptr, 0) != 0;
    static CertStoreInterface *Store = [] {
        CertStoreInterface *Interface = nullptr;
        CertStoreInterface_Create(&Interface);
        CertStoreInterface_SetX509IsTrustedCallback(Interface, nullptr, Always);
        return Interface;
    }();
    (void)Started;
    if (Size > 1 << 16) return 0;
    std::vector<uint8_t> Bytes(Data, Data + Size);
    PKCS7 *Signed = nullptr;
    PKCS7_Create(&Signed);
    const int32 Built = PKCS7_BuildFromBuffer(Signed, Bytes.data(), (uint32)Bytes.size());
    Check(Built == 0 || Built == 1);
    uint8 Digest[64] = {};
    const int32 Verified = PKCS7_VerifyDigest(Signed, Store, Digest, sizeof(Digest));
    Check(Verified == 0 || Verified == 1);
    if (Built) Check(PKCS7_Verify(Signed, Store, &Bytes, Feed) <= 1);
    PKCS7_Release(&Signed);
    return 0;
}
