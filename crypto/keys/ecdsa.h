// ECDSA keys on the built-in curves (ec.h): the algorithm behind
// ECDSA_INTERFACE of the public-key object. Verifies the signatures of
// certificates, JWS documents and TLS handshakes and signs with a client key.
//
// Calling order: InitParams (the curve's dotted OID), then SetPublicKey or
// SetPublicKeyPair for verification, SetPrivateKey for signing (or one of
// the ASN1 forms, which choose the curve themselves). Signatures are DER
// (a SEQUENCE of the INTEGERs r and s). Verification takes only strict DER
// with 1 <= r, s < n; anything else is refused with 0, never a fatal stop.
// The private scalar is wiped on Reset and Delete.
#pragma once

#include "crypto/keys/big_int.h"
#include "crypto/keys/crypt_asymmetric.h"
#include "crypto/keys/ec.h"
#include "runtime/class.h"
#include "runtime/types.h"

#define ECDSA_CLASSID 0x0f4213bau

RUNTIME_EXTERN_C_BEGIN

typedef struct ECDSA ECDSA;

// The public-key object's table for ECDSA keys.
extern const CryptAsymmetricInterface ECDSA_INTERFACE;

int32 ECDSA_Create(ECDSA **Handle);
int32 ECDSA_Delete(ECDSA **Handle);
CLASS_DECLARE_REFERENCE(ECDSA, ECDSA)

// EC_InitParams of the key's curve; forgets any key set before.
int32 ECDSA_InitParams(ECDSA *Handle, const char *Oid);
int32 ECDSA_HasPrivateKey(ECDSA *Handle);
// DER ECPrivateKey: version 1 and the private value, which must lie in
// 1 ... n - 1 of the curve already chosen. The flag becomes the result.
int32 ECDSA_SetPrivateKey(ECDSA *Handle, const void *Der, int32 Size);
// An encoded point (ECPoint_ImportBinary); clears the private-key flag.
int32 ECDSA_SetPublicKey(ECDSA *Handle, const void *Bytes, int32 Size);
// Q = (X, Y), 1 when it passes EC_ValidatePoint; clears the flag.
int32 ECDSA_SetPublicKeyPair(ECDSA *Handle, const BigInt *X, const BigInt *Y);
// Elliptic-curve keys do not encrypt: always 0.
int32 ECDSA_PublicKeyEncrypt(ECDSA *Handle, const void *Data, int32 Size, void *Output, int32 OutputSize,
                             int32 *Written);
// Signs a digest with a fresh random nonce; the DER signature is written
// and its size reported. A buffer below the longest signature of the curve
// is a fatal stop (callers size it from the curve); 0 without a private key.
int32 ECDSA_Sign(ECDSA *Handle, const void *Digest, int32 DigestSize, void *Output, int32 OutputSize,
                 int32 *Written);
// 1 when the DER signature is valid for the digest; Mode is ignored.
int32 ECDSA_Verify(ECDSA *Handle, const void *Digest, int32 DigestSize, const void *Signature, int32 SignatureSize,
                   int32 Mode);
// No curve, no key.
int32 ECDSA_Reset(ECDSA *Handle);

int32 ECDSA_GetECHandle(ECDSA *Handle, EC **Curve);
// A whole RFC 5915 ECPrivateKey (version 1, private key, [0] curve OID,
// [1] public key), which chooses the curve.
int32 ECDSA_SetPrivateKeyFromASN1(ECDSA *Handle, const void *Der, int32 Size);
// A SubjectPublicKeyInfo with the id-ecPublicKey OID and a named curve.
int32 ECDSA_SetPublicKeyFromASN1(ECDSA *Handle, const void *Der, int32 Size);

// The DER form of a raw r || s signature (the form of JWS and PKCS#11),
// which must be exactly 2·ByteCount(n) bytes; 0 for any other size or a
// buffer too small.
int32 ECDSA_SignatureFromRaw(ECDSA *Handle, const void *Raw, int32 RawSize, void *Output, int32 OutputSize,
                             int32 *Written);

RUNTIME_EXTERN_C_END
