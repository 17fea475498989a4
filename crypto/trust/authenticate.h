// The process-wide trust registry: the certificate-store table ("app",
// "platform" and "null" built in and permanent), the key-store table (empty
// at start) and the app store list (at start only "platform", the system's CA
// bundle). Init and Remove turn the authentication switch
// (crypto/authenticate_switch.h) on; its override outlives the record.
#pragma once

#include "crypto/authenticate_switch.h"
#include "crypto/trust/cert_store.h"
#include "runtime/types.h"

#define AUTHENTICATE_CLASSID 0x584e1303u

RUNTIME_EXTERN_C_BEGIN

// 0 when the record exists already.
int32 Authenticate_Init(void);
// 1 also when there is none.
int32 Authenticate_Remove(void);

// The record's tables and list, without a new reference (null without Init).
CertStoreTable *Authenticate_GetCertStoreTableHandle(void);
CertStoreTable *Authenticate_GetKeyStoreTableHandle(void);
CertStoreList *Authenticate_GetCertStoreAppListHandle(void);
// A new reference to the named store; an unknown name is logged and answered
// with a fresh store that trusts nothing, so trust fails closed.
CertStoreInterface *Authenticate_CertStoreGet(const char *Name);
int32 Authenticate_CertStoreRelease(CertStoreInterface **Handle);

// The code signature of an executable, library or package file against the
// store (Executable_Authenticate); 1 at once while the switch is off. The
// executable module sits above this one and hands its check down at
// start-up; until then every file fails.
typedef int32 (*Authenticate_SignatureFunc)(CertStoreInterface *Store, const char *Path);
int32 Authenticate_SetSignatureCheck(Authenticate_SignatureFunc Check);
int32 Authenticate_Validate(CertStoreInterface *Store, const char *Path);
// A certificate file (DER) decided against the store as a chain of itself
// alone; 1 at once while the switch is off. Empty, unreadable, oversized or
// unparsable files fail.
int32 Authenticate_ValidateX509(CertStoreInterface *Store, const char *Path);
int32 Authenticate_ValidateX509MemoryInt(CertStoreInterface *Store, const void *Bytes, int32 Length);
// The same against the store registered under the name (an unknown name
// trusts nothing), for the platform script class.
int32 Authenticate_ValidateX509Interop(const char *StoreName, const char *Path);

RUNTIME_EXTERN_C_END
