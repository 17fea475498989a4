// CertStoreJWKS: a JSON Web Key Set ({"keys": [...]}) as a store. Members are
// matched only when their "use" is "sig" and their "alg" is the algorithm in
// question, by "kid", "x5t#S256" or "x5t". A certificate is trusted when a
// member names its SHA-256 or SHA-1 thumbprint (RS algorithms only); a JWS
// header is trusted when a member named by it (or by its first "x5c"
// certificate's thumbprint) yields a key, built from "n" and "e" or "x" and
// "y". Filled once after creation, then read-only: no lock.
#pragma once

#include "crypto/trust/cert_store.h"
#include "runtime/class.h"
#include "runtime/containers/dictionary.h"
#include "runtime/types.h"

#define CERTSTOREJWKS_CLASSID 0xd573d6e0u

RUNTIME_EXTERN_C_BEGIN

typedef struct CertStoreJWKS CertStoreJWKS;

int32 CertStoreJWKS_Create(CertStoreJWKS **Handle);
int32 CertStoreJWKS_Delete(CertStoreJWKS **Handle);
CLASS_DECLARE_REFERENCE(CertStoreJWKS, CertStoreJWKS)
int32 CertStoreJWKS_GetInterfaceHandle(CertStoreJWKS *Handle, CertStoreInterface **Interface);
// Copies the key set into the store.
int32 CertStoreJWKS_SetJWKSHandle(CertStoreJWKS *Handle, Dictionary *KeySet);

RUNTIME_EXTERN_C_END
