// Elliptic-curve input from outside on arbitrary bytes: an encoded point
// (a TLS server's ECDHE share, a certificate's key), a DER signature, a raw
// r || s signature, a SubjectPublicKeyInfo and an ECPrivateKey, on every
// built-in curve. Each answers 1 or 0 and never stops; an imported point
// lies on its curve; a signature accepted under the base point as key came
// from no one (the digest is fixed), so acceptance is checked against a
// second verification of the same bytes.
#include <stdint.h>
#include <string.h>

#include "crypto/keys/ec.h"
#include "crypto/keys/ecdhe.h"
#include "crypto/keys/ecdsa.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

constexpr const char *Oids[] = {"1.3.132.0.31", "1.2.840.10045.3.1.1", "1.3.132.0.32", "1.3.132.0.33",
                                "1.3.132.0.10", "1.2.840.10045.3.1.7", "1.3.132.0.34", "1.3.132.0.35"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    if (Size < 1 || Size > 4096) return 0;
    const char *Oid = Oids[Data[0] & 7];
    const uint8 *Bytes = Data + 1;
    const int32 Length = (int32)Size - 1;

    EC *Curve = nullptr;
    EC_Create(&Curve);
    Check(EC_InitParams(Curve, Oid) == 1);
    ECPoint Point;
    ECPoint_Init(&Point);
    if (ECPoint_ImportBinary(&Point, Curve, Bytes, Length)) Check(EC_ValidatePoint(Curve, &Point) == 1);
    ECPoint_Release(&Point);
    EC_Delete(&Curve);

    ECDHE *Exchange = nullptr;
    ECDHE_Create(&Exchange);
    ECDHE_InitParams(Exchange, Oid);
    ECDHE_SetPublicKey(Exchange, Bytes, Length);
    ECDHE_Delete(&Exchange);

    ECDSA *Key = nullptr;
    ECDSA_Create(&Key);
    ECDSA_InitParams(Key, Oid);
    EC *KeyCurve = nullptr;
    ECDSA_GetECHandle(Key, &KeyCurve);
    ECPoint *G = EC_GetG(KeyCurve);
    Check(ECDSA_SetPublicKeyPair(Key, G->X, G->Y) == 1);
    static const uint8 Digest[64] = {1, 2, 3};
    const int32 First = ECDSA_Verify(Key, Digest, 32, Bytes, Length, 0);
    Check(First == ECDSA_Verify(Key, Digest, 32, Bytes, Length, 0));
    uint8 Der[300];
    int32 Written = 0;
    if (ECDSA_SignatureFromRaw(Key, Bytes, Length, Der, sizeof(Der), &Written)) {
        Check(Written > 0 && Written <= (int32)sizeof(Der));
        ECDSA_Verify(Key, Digest, 64, Der, Written, 0);
    }
    ECDSA_SetPublicKeyFromASN1(Key, Bytes, Length);
    ECDSA_SetPrivateKeyFromASN1(Key, Bytes, Length);
    ECDSA_InitParams(Key, Oid);
    ECDSA_SetPrivateKey(Key, Bytes, Length);
    ECDSA_Delete(&Key);
    return 0;
}
