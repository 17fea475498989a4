// RSA with PKCS#1 v1.5 padding: signature verification (block type 1),
// signing, encryption (block type 2) and decryption, behind RSA_INTERFACE.
//
// Keys are checked when they arrive, whatever their source (certificate,
// JWKS member, key file): the modulus odd and of 512 to 8,192 bits, the
// public exponent odd, at least 3, below the modulus and at most 64 bits
// long, a private exponent non-zero and below the modulus. A key that fails
// leaves the object empty.
//
// Verification takes a signature of exactly the modulus's length below the
// modulus, rebuilds the whole expected block (00 01 FF..FF 00 payload, at
// least eight FF) and compares all of it; signing refuses without a
// private key and for payloads over k - 11 bytes. Private-key operations are
// blinded and use fixed-window powers (with the CRT when the key carries
// consistent primes), and each result is checked with the public exponent
// before it leaves.
#pragma once

#include "crypto/keys/big_int.h"
#include "crypto/keys/crypt_asymmetric.h"
#include "runtime/class.h"
#include "runtime/types.h"

#define RSA_CLASSID 0x8f84840du

// Verify modes: the payload is the digest itself (TLS), or a DigestInfo
// naming the hash of the digest's size (certificates, PKCS#7, JWS). Any
// mode other than 1 is the second.
#define RSA_SIGNATURE_VERSION_PCS15 1
#define RSA_SIGNATURE_VERSION_PCS21 2

#define RSA_MIN_MODULUS_BITS 512
#define RSA_MAX_MODULUS_BITS 8192
#define RSA_MAX_PUBLIC_EXPONENT_BITS 64

RUNTIME_EXTERN_C_BEGIN

typedef struct RSA RSA;

extern const CryptAsymmetricInterface RSA_INTERFACE;

int32 RSA_Create(RSA **Handle);
int32 RSA_Delete(RSA **Handle);
CLASS_DECLARE_REFERENCE(RSA, RSA)

// Ignores its argument.
int32 RSA_InitParams(RSA *Handle, const char *Params);
int32 RSA_HasPrivateKey(RSA *Handle);
// DER RSAPrivateKey (PKCS#1), or a PKCS#8 PrivateKeyInfo holding one.
int32 RSA_SetPrivateKey(RSA *Handle, const void *Der, int32 Size);
// DER RSAPublicKey (the modulus and the public exponent); clears the
// private key.
int32 RSA_SetPublicKey(RSA *Handle, const void *Der, int32 Size);
// The public exponent, then the modulus; clears the private key.
int32 RSA_SetPublicKeyPair(RSA *Handle, const BigInt *Exponent, const BigInt *Modulus);
int32 RSA_SetModulusHandle(RSA *Handle, const BigInt *Modulus);
int32 RSA_SetPublicExponentHandle(RSA *Handle, const BigInt *Exponent);
int32 RSA_SetPrivateExponentHandle(RSA *Handle, const BigInt *Exponent);
// The modulus's size in bytes (k); 0 without a key.
int32 RSA_GetModulusByteCount(RSA *Handle);

// 00 02, at least eight non-zero random bytes, 00, data, raised to e. The
// output buffer must be larger than k bytes; k is written.
int32 RSA_PublicKeyEncrypt(RSA *Handle, const void *Data, int32 Size, void *Output, int32 OutputSize,
                           int32 *Written);
// 00 01 FF..FF 00 payload raised to d; the caller passes the payload (a
// DigestInfo, or the raw digest for TLS). The output buffer must be larger
// than k bytes; k is written.
int32 RSA_Sign(RSA *Handle, const void *Digest, int32 DigestSize, void *Output, int32 OutputSize, int32 *Written);
// 1 when the signature is valid for the digest in the mode; always 1 while
// authentication is switched off.
int32 RSA_Verify(RSA *Handle, const void *Digest, int32 DigestSize, const void *Signature, int32 SignatureSize,
                 int32 Mode);
// Recovers the data of a type-2 block of exactly k bytes. Every malformed
// block gives the same 0, after the same work.
int32 RSA_PrivateKeyDecrypt(RSA *Handle, const void *Cipher, int32 Size, void *Output, int32 OutputSize,
                            int32 *Written);
// Forgets all key material.
int32 RSA_Reset(RSA *Handle);

RUNTIME_EXTERN_C_END
