// Certificates as they arrive from servers, signed files and JWS headers: a
// build answers 1 or 0 and never reads outside the buffer; whatever was
// built answers every query (names, thumbprint, issuing rights, a
// self-signature check, a one-link chain walk and its refusal, the path
// checks) without a stop.
#include <stdint.h>
#include <string.h>

#include <vector>

#include "crypto/digests/sha256.h"
#include "crypto/trust/cert_store.h"
#include "crypto/trust/x509.h"
#include "crypto/trust/x509_chain.h"
#include "runtime/debug.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

int32 Never(CertStoreInterface *, void *, X509 *, uint32 *Stop) {
    *Stop = 0;
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    static const bool Started = Debug_Init("/tmp/fuzz-x509.log", nullptr, 0) != 0;
    (void)Started;
    if (Size > 1 << 16) return 0;
    std::vector<uint8_t> Bytes(Data, Data + Size);
    X509 *Certificate = nullptr;
    X509_Create(&Certificate);
    const int32 Result = X509_BuildFromBuffer(Certificate, Bytes.data(), (uint32)Bytes.size());
    Check(Result == 0 || Result == 1);
    X500 *Subject = nullptr;
    X509_GetSubjectHandle(Certificate, &Subject);
    char Text[X500_MAX_TEXT_LENGTH + 1];
    X500_GetCN(Subject, Text, sizeof(Text));
    Check(strnlen(Text, sizeof(Text)) < sizeof(Text));
    uint8 Digest[32];
    X509_Thumbprint(Certificate, &SHA256_INTERFACE, Digest, sizeof(Digest));
    X509_CanIssue(Certificate);
    X509_VerifyIssued(Certificate, Certificate);
    X509_CompareIssuer(Certificate, Certificate);
    if (Result) {
        static CertStoreInterface *Store = [] {
            CertStoreInterface *Made = nullptr;
            CertStoreInterface_Create(&Made);
            CertStoreInterface_SetX509IsTrustedCallback(Made, nullptr, Never);
            return Made;
        }();
        X509Chain *Chain = nullptr;
        X509Chain_Create(&Chain);
        Check(X509Chain_Add(Chain, Certificate) == 1);
        Check(X509Chain_VerifyX509(Chain, Certificate, Store) == 0);
        const char *Why = nullptr;
        Check(X509Chain_GetRefusal(Chain, &Why) == 1 && Why[0] != 0);
        // The path checks read the extensions and names again, by themselves.
        X509 *Path[] = {Certificate, Certificate};
        const int32 Holds = X509Chain_CheckPath(Path, 2);
        Check(Holds == 0 || Holds == 1);
        X509Chain_Release(&Chain);
    }
    X509_Release(&Certificate);
    return 0;
}
