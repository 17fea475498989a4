// CertStoreKey: a store holding one raw key (decoded from standard Base64),
// handed out through GetKey for the JWS HMAC and key checks. It trusts no
// certificate and no JWS header. Read-only once filled; no lock.
#pragma once

#include "crypto/trust/cert_store.h"
#include "runtime/class.h"
#include "runtime/types.h"

#define CERTSTOREKEY_CLASSID 0x3f1c0a15u

RUNTIME_EXTERN_C_BEGIN

typedef struct CertStoreKey CertStoreKey;

int32 CertStoreKey_Create(CertStoreKey **Handle);
int32 CertStoreKey_Delete(CertStoreKey **Handle);
CLASS_DECLARE_REFERENCE(CertStoreKey, CertStoreKey)
int32 CertStoreKey_GetInterfaceHandle(CertStoreKey *Handle, CertStoreInterface **Interface);
// Replaces the key by the bytes of the Base64 text; on failure the store is
// left without a key. The decoder's result.
int32 CertStoreKey_Decode(CertStoreKey *Handle, const char *Text);

RUNTIME_EXTERN_C_END
