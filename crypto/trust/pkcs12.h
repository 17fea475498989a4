// PKCS12: a client certificate bundle (PFX) read for the TLS client: the
// integrity MAC is checked with the password, then the shrouded private key
// (RSA or ECDSA) and the certificates are decrypted. Only the profile common
// tools wrote for years is read: version 3, a password MAC, and
// pbeWithSHAAnd128BitRC4 for key and certificates (RFC 7292). A MAC with a
// digest longer than SHA-1's derives its key with its own hash.
//
// Every failure is logged at DEBUG and answers 0 with key and certificates
// emptied. Decryption works on copies: the caller's decoded bytes stay as
// they were. Keys and derived secrets are wiped after use.
#pragma once

#include "crypto/keys/asn1.h"
#include "crypto/keys/crypt_asymmetric.h"
#include "crypto/trust/x509.h"
#include "crypto/trust/x509_chain.h"
#include "runtime/class.h"
#include "runtime/types.h"

#define PKCS12_CLASSID 0xf6f257fbu

RUNTIME_EXTERN_C_BEGIN

typedef struct PKCS12 PKCS12;

int32 PKCS12_Create(PKCS12 **Handle);
int32 PKCS12_Delete(PKCS12 **Handle);
CLASS_DECLARE_REFERENCE(PKCS12, PKCS12)

// Pfx is the decoded file (its element 0 the PFX SEQUENCE); Password UTF-8,
// possibly empty.
int32 PKCS12_Build(PKCS12 *Handle, ASN1 *Pfx, const char *Password);
// A certificate by index, in bundle order, without a new reference.
int32 PKCS12_Get(PKCS12 *Handle, int32 Index, X509 **Certificate);
int32 PKCS12_IssuerFind(PKCS12 *Handle, X509 *Certificate, X509 **Issuer);
// Signs with the bundle's private key.
int32 PKCS12_Sign(PKCS12 *Handle, const void *Digest, int32 DigestSize, void *Output, int32 OutputSize,
                  int32 *Written);
// The private key without a new reference; 0 when there is none.
int32 PKCS12_GetCryptAsymmetricHandle(PKCS12 *Handle, CryptAsymmetric **Key);

// 1 when the AlgorithmIdentifier is pbeWithSHAAnd128BitRC4 with an 8-byte
// salt and an integer iteration count.
int32 PKCS12_GetPBEParams(ASN1 *Algorithm, const uint8 **Salt, uint32 *Iterations);
// The RFC 7292 appendix B derivation with SHA-1 over the UTF-8 password
// (as BMPString with its two zero bytes): with Id 1 the data is deciphered
// in place with RC4 under the first 16 bytes; with any other id the derived
// bytes are written to the data.
int32 PKCS12_Decrypt(const char *Password, uint32 PasswordLength, const uint8 *Salt, uint32 Iterations, uint8 *Data,
                     uint32 Length, uint32 Id);

RUNTIME_EXTERN_C_END
