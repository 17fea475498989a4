// PKCS7: one SignedData structure (PKCS#7 / CMS) as code signatures carry
// it: an Authenticode signature, the CMS blob of a code signature, a signed
// package. Built from DER, used for one verification, deleted by its reader.
//
// A verification asks three things: the first signer's certificate chains to
// a certificate the caller's store trusts; the signature covers the signed
// attributes (or, without them, the content digest itself); and the content
// digest the signer vouches for equals the digest the caller computed over
// its file. The signed attributes' messageDigest must also match the
// content carried inside the structure (the Authenticode indirect data), so
// a vouched-for digest cannot be swapped for another file's.
//
// Only the first signer counts; signers named by subject key identifier,
// signing times, validity periods, key usages and counter-signatures are
// not read. Hostile bytes give 0 and a message, never a stop.
#pragma once

#include "crypto/digests/hash.h"
#include "crypto/trust/cert_store.h"
#include "runtime/class.h"
#include "runtime/types.h"

#define PKCS7_CLASSID 0x28edb31fu

RUNTIME_EXTERN_C_BEGIN

typedef struct PKCS7 PKCS7;
// Feeds the signed content into Digest; 1 on success.
typedef int32 (*PKCS7_DigestFunc)(void *Stream, Hash *Digest);

int32 PKCS7_Create(PKCS7 **Handle);
int32 PKCS7_Delete(PKCS7 **Handle);
CLASS_DECLARE_REFERENCE(PKCS7, PKCS7)
CLASSPRINT_DECLARE(PKCS7, PKCS7)
int32 PKCS7_VerboseLog(PKCS7 *Handle, int32 Level, const char *Format, ...);

// Copies the bytes and reads the structure; 1 on success (size 0 fails).
int32 PKCS7_BuildFromBuffer(PKCS7 *Handle, const void *Data, uint32 Size);
// Digests the content through Function (with the signer's hash) and checks
// the result as PKCS7_VerifyDigest does.
int32 PKCS7_Verify(PKCS7 *Handle, CertStoreInterface *Store, void *Stream, PKCS7_DigestFunc Function);
// Checks against a digest the caller has; its first bytes (the signer's
// digest size, which must not exceed Size) are compared.
int32 PKCS7_VerifyDigest(PKCS7 *Handle, CertStoreInterface *Store, const void *Digest, uint32 Size);
// The signer's digest algorithm (null before a successful build).
const HashInterface *PKCS7_GetHashInterface(PKCS7 *Handle);

RUNTIME_EXTERN_C_END
