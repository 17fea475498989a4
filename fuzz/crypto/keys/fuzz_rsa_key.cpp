// RSA key import on arbitrary bytes (key files, certificate keys, JWKS
// members): PKCS#1 and PKCS#8 private keys, RSAPublicKey, and a
// SubjectPublicKeyInfo through the public-key object. Import answers 1 or 0
// and never hangs on a hostile modulus; an imported key obeys the key rules
// and verifies, encrypts and (with a private key) signs without a fault.
#include <stdint.h>
#include <string.h>

#include <vector>

#include "crypto/keys/asn1.h"
#include "crypto/keys/crypt_asymmetric.h"
#include "crypto/keys/rsa.h"
#include "runtime/debug.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

void Exercise(RSA *Key, bool Imported) {
    const int32 K = RSA_GetModulusByteCount(Key);
    Check(Imported ? (K >= 64 && K <= 1024) : K == 0);
    if (!Imported) return;
    std::vector<uint8> Out((size_t)K + 1), Digest(32, 0x5a);
    int32 Written = 0;
    Check(RSA_PublicKeyEncrypt(Key, Digest.data(), 32, Out.data(), K + 1, &Written) == 1 && Written == K);
    RSA_Verify(Key, Digest.data(), 32, Out.data(), K, RSA_SIGNATURE_VERSION_PCS21);
    if (RSA_HasPrivateKey(Key) && K <= 256) {
        // A key whose numbers do not fit together signs nothing.
        if (RSA_Sign(Key, Digest.data(), 32, Out.data(), K + 1, &Written))
            Check(RSA_Verify(Key, Digest.data(), 32, Out.data(), K, RSA_SIGNATURE_VERSION_PCS15) == 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    static const bool Started = Debug_Init("/tmp/fuzz-rsa-key.log", nullptr, 0) != 0;
    (void)Started;
    if (Size > 1 << 13) return 0;
    std::vector<uint8_t> Bytes(Data, Data + Size);
    RSA *Key = nullptr;
    RSA_Create(&Key);
    Exercise(Key, RSA_SetPrivateKey(Key, Bytes.data(), (int32)Size) == 1);
    Exercise(Key, RSA_SetPublicKey(Key, Bytes.data(), (int32)Size) == 1);
    RSA_Delete(&Key);

    ASN1 *Root = nullptr;
    ASN1_Create(&Root);
    if (ASN1_Decode(Root, Bytes.data(), (int32)Size)) {
        CryptAsymmetric *Object = nullptr;
        CryptAsymmetric_Create(&Object);
        if (CryptAsymmetric_SetPublicKeyFromASN1(Object, ASN1_GetElement(Root, 0)))
            Check(CryptAsymmetric_IsRSA(Object) == 1 && CryptAsymmetric_CanSign(Object) == 0);
        CryptAsymmetric_Delete(&Object);
    }
    ASN1_Delete(&Root);
    return 0;
}
