// The public-key object: one key of one algorithm behind a constant table of
// operations, chosen by name or by the key's algorithm OID. Certificates
// build their key from a SubjectPublicKeyInfo through it, JWS and key stores
// verify with it, client bundles sign with it.
//
// Each algorithm supplies a CryptAsymmetricInterface (RSA_INTERFACE in rsa.h,
// ECDSA_INTERFACE in ecdsa.h) and one row in the algorithm list of
// crypt_asymmetric.cpp, which names it, gives its key OID and says whether
// the AlgorithmIdentifier's parameter (a named curve) goes to InitParams.
// Adding an algorithm is adding a row.
#pragma once

#include "crypto/keys/asn1.h"
#include "crypto/keys/big_int.h"
#include "runtime/class.h"
#include "runtime/types.h"

#define CRYPTASYMMETRIC_CLASSID 0xe6f040d7u

RUNTIME_EXTERN_C_BEGIN

// The operations of one algorithm; the handle is the algorithm's own object.
typedef struct CryptAsymmetricInterface {
    const char *Name;
    int32 (*Create)(void **HandleAddress);
    int32 (*Delete)(void **HandleAddress);
    int32 (*InitParams)(void *Handle, const char *Params);
    int32 (*HasPrivateKey)(void *Handle);
    int32 (*SetPrivateKey)(void *Handle, const void *Der, int32 Size);
    int32 (*SetPublicKey)(void *Handle, const void *Bytes, int32 Size);
    int32 (*SetPublicKeyPair)(void *Handle, const BigInt *First, const BigInt *Second);
    int32 (*PublicKeyEncrypt)(void *Handle, const void *Data, int32 Size, void *Output, int32 OutputSize,
                              int32 *Written);
    int32 (*Sign)(void *Handle, const void *Digest, int32 DigestSize, void *Output, int32 OutputSize,
                  int32 *Written);
    int32 (*Verify)(void *Handle, const void *Digest, int32 DigestSize, const void *Signature, int32 SignatureSize,
                    int32 Mode);
    int32 (*Reset)(void *Handle);
} CryptAsymmetricInterface;

typedef struct CryptAsymmetric CryptAsymmetric;

int32 CryptAsymmetric_Create(CryptAsymmetric **Handle);
int32 CryptAsymmetric_Delete(CryptAsymmetric **Handle);
CLASS_DECLARE_REFERENCE(CryptAsymmetric, CryptAsymmetric)
CLASSPRINT_DECLARE(CryptAsymmetric, CryptAsymmetric)
// Prints only when the object's verbose level admits Level.
int32 CryptAsymmetric_VerboseLog(CryptAsymmetric *Handle, int32 Level, const char *Format, ...);

// "RSA" or "ECDSA" without case, or the key's dotted algorithm OID exactly;
// anything else logs "Unsupported asymmetric cryptographic algorithm %s" and
// answers 0.
int32 CryptAsymmetric_InterfaceFromName(const char *Name, const CryptAsymmetricInterface **Interface);
int32 CryptAsymmetric_InterfaceFromOid(const char *Oid, const CryptAsymmetricInterface **Interface);

// Installs a table (its Name, Create, Delete, HasPrivateKey, SetPrivateKey,
// SetPublicKey, PublicKeyEncrypt and Verify must be filled) with a fresh,
// empty algorithm object, deleting the old one.
int32 CryptAsymmetric_ResetInterface(CryptAsymmetric *Handle, const CryptAsymmetricInterface *Interface);
const CryptAsymmetricInterface *CryptAsymmetric_GetInterface(CryptAsymmetric *Handle);
// The chosen algorithm's own object (an RSA or ECDSA handle, as the table
// says); null before a table is chosen.
void *CryptAsymmetric_GetAlgorithmHandle(CryptAsymmetric *Handle);
int32 CryptAsymmetric_IsRSA(CryptAsymmetric *Handle);
int32 CryptAsymmetric_IsECDSA(CryptAsymmetric *Handle);

// Pass through to the table's slot of the same name (a fatal stop before a
// table is chosen or when the slot is empty).
int32 CryptAsymmetric_CanSign(CryptAsymmetric *Handle);
int32 CryptAsymmetric_InitParams(CryptAsymmetric *Handle, const char *Params);
int32 CryptAsymmetric_SetPrivateKey(CryptAsymmetric *Handle, const void *Der, int32 Size);
int32 CryptAsymmetric_SetPublicKey(CryptAsymmetric *Handle, const void *Bytes, int32 Size);
int32 CryptAsymmetric_SetPublicKeyPair(CryptAsymmetric *Handle, const BigInt *First, const BigInt *Second);
int32 CryptAsymmetric_PublicKeyEncrypt(CryptAsymmetric *Handle, const void *Data, int32 Size, void *Output,
                                       int32 OutputSize, int32 *Written);
int32 CryptAsymmetric_Sign(CryptAsymmetric *Handle, const void *Digest, int32 DigestSize, void *Output,
                           int32 OutputSize, int32 *Written);
int32 CryptAsymmetric_Verify(CryptAsymmetric *Handle, const void *Digest, int32 DigestSize, const void *Signature,
                             int32 SignatureSize, int32 Mode);
// Forgets the key, keeps the table; 1 when no table is chosen yet.
int32 CryptAsymmetric_Reset(CryptAsymmetric *Handle);

// Algorithm and public key from a decoded SubjectPublicKeyInfo node. 0 for
// an unknown algorithm ("Unsupported public key algorithm %s"), a BIT STRING
// with unused bits ("Unsupported BIT STRING unused bits count (%d)"), or a
// key the algorithm refuses.
int32 CryptAsymmetric_SetPublicKeyFromASN1(CryptAsymmetric *Handle, ASN1 *Node);

RUNTIME_EXTERN_C_END
