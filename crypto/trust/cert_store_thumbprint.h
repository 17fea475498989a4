// CertStoreThumbprint: trusts the certificates whose thumbprint (the digest
// of the DER encoding) it lists. Thumbprints come as standard Base64 texts
// whose decoded length names the hash: 20 bytes SHA-1, 28 SHA-224, 32
// SHA-256, 48 SHA-384, 64 SHA-512. A JWS header is trusted when the first
// certificate of its "x5c" list is trusted through this store (a chain walk
// over the list). Filled once after creation, then read-only: no lock.
#pragma once

#include "crypto/digests/hash.h"
#include "crypto/trust/cert_store.h"
#include "runtime/class.h"
#include "runtime/containers/dictionary.h"
#include "runtime/types.h"

#define CERTSTORETHUMBPRINT_CLASSID 0x72fb4c45u

RUNTIME_EXTERN_C_BEGIN

typedef struct CertStoreThumbprint CertStoreThumbprint;

int32 CertStoreThumbprint_Create(CertStoreThumbprint **Handle);
int32 CertStoreThumbprint_Delete(CertStoreThumbprint **Handle);
CLASS_DECLARE_REFERENCE(CertStoreThumbprint, CertStoreThumbprint)
CLASSPRINT_DECLARE(CertStoreThumbprint, CertStoreThumbprint)
int32 CertStoreThumbprint_VerboseLog(CertStoreThumbprint *Handle, const char *Format, ...);
int32 CertStoreThumbprint_GetInterfaceHandle(CertStoreThumbprint *Handle, CertStoreInterface **Interface);

// Trusts every text item of the Dictionary that decodes to a thumbprint of a
// known length; 1 when at least one was taken. Others are logged and skipped.
int32 CertStoreThumbprint_TrustDictionary(CertStoreThumbprint *Handle, Dictionary *Thumbprints);
// One thumbprint of the hash's digest size.
int32 CertStoreThumbprint_Trust(CertStoreThumbprint *Handle, const HashInterface *Interface, const void *Digest);
int32 CertStoreThumbprint_Reset(CertStoreThumbprint *Handle);

RUNTIME_EXTERN_C_END
