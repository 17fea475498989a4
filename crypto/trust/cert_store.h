// Certificate stores: the one small object through which every trust decision
// is asked (CertStoreInterface), the name table that registers such objects
// (CertStoreTable), and the two simplest store kinds, a store that trusts
// nothing (CertStoreNull) and a list that asks its members in order
// (CertStoreList).
//
// Ownership: an interface has no reference count of its own; its AddRef and
// Release callbacks change the count of the store that owns it, so holding an
// interface handle keeps its store alive. Every GetInterfaceHandle adds such a
// reference; the caller ends it with CertStoreInterface_Release.
//
// While authentication is off (Authenticate_Enabled, crypto/trust/authenticate.h)
// the trust questions answer 1 without asking the store.
//
// Threads: tables and lists lock their own critical section; a list holds its
// lock while it asks its members.
#pragma once

#include "runtime/class.h"
#include "runtime/callback.h"
#include "runtime/containers/dictionary.h"
#include "runtime/types.h"

#define CERTSTOREINTERFACE_CLASSID 0x3c9e052bu
#define CERTSTORETABLE_CLASSID 0x10c29036u
#define CERTSTORELIST_CLASSID 0x62acf23du
#define CERTSTORENULL_CLASSID 0xdd07624bu
// The longest store name a table keeps.
#define CERTSTORE_MAX_NAME_LENGTH 320

RUNTIME_EXTERN_C_BEGIN

typedef struct CertStoreInterface CertStoreInterface;
typedef struct CertStoreTable CertStoreTable;
typedef struct CertStoreList CertStoreList;
typedef struct CertStoreNull CertStoreNull;
// Certificates and public keys are opaque to the stores built here.
typedef struct X509 X509;
typedef struct CryptAsymmetric CryptAsymmetric;

typedef CertStoreInterface *(*CertStoreInterface_AddRefFunc)(CertStoreInterface *Interface, void *User);
typedef int32 (*CertStoreInterface_ReleaseFunc)(CertStoreInterface **Interface, void *User);
typedef int32 (*CertStoreInterface_GetKeyFunc)(CertStoreInterface *Interface, void *User, const uint8 **Key,
                                               uint32 *Size);
// 1: trusted. 0 with Stop 1: positively refused, ask nothing further.
typedef int32 (*CertStoreInterface_X509IsTrustedFunc)(CertStoreInterface *Interface, void *User, X509 *Certificate,
                                                      uint32 *Stop);
// The answer about Path[Count - 1], given with the certificates below it
// (Path[0] the one first asked about, each issued by the next), for a store
// that anchors the path in a certificate of its own and must check the
// whole path up to it (X509Chain_CheckPath). Optional: a store without it is
// asked about the last certificate alone.
typedef int32 (*CertStoreInterface_X509PathIsTrustedFunc)(CertStoreInterface *Interface, void *User,
                                                          X509 *const *Path, int32 Count, uint32 *Stop);
typedef int32 (*CertStoreInterface_X509IsTrustedJWSFunc)(CertStoreInterface *Interface, void *User,
                                                         Dictionary *Header, CryptAsymmetric **Key, uint32 *Stop);

// ---- Interface object (made and deleted by the owning store only) ----
int32 CertStoreInterface_Create(CertStoreInterface **Handle);
int32 CertStoreInterface_Delete(CertStoreInterface **Handle);
int32 CertStoreInterface_SetAddRefCallback(CertStoreInterface *Handle, void *User, CertStoreInterface_AddRefFunc Function);
int32 CertStoreInterface_SetReleaseCallback(CertStoreInterface *Handle, void *User,
                                            CertStoreInterface_ReleaseFunc Function);
int32 CertStoreInterface_SetGetKeyCallback(CertStoreInterface *Handle, void *User, CertStoreInterface_GetKeyFunc Function);
int32 CertStoreInterface_SetX509IsTrustedCallback(CertStoreInterface *Handle, void *User,
                                                  CertStoreInterface_X509IsTrustedFunc Function);
int32 CertStoreInterface_SetX509PathIsTrustedCallback(CertStoreInterface *Handle, void *User,
                                                      CertStoreInterface_X509PathIsTrustedFunc Function);
int32 CertStoreInterface_SetX509IsTrustedJWSCallback(CertStoreInterface *Handle, void *User,
                                                     CertStoreInterface_X509IsTrustedJWSFunc Function);
CertStoreInterface *CertStoreInterface_AddRef(CertStoreInterface *Handle);
int32 CertStoreInterface_Release(CertStoreInterface **Handle);
int32 CertStoreInterface_GetKey(CertStoreInterface *Handle, const uint8 **Key, uint32 *Size);
int32 CertStoreInterface_X509IsTrusted(CertStoreInterface *Handle, X509 *Certificate, uint32 *Stop);
// The store's answer about the top of the path (X509Chain_VerifyX509 asks
// it, and takes a yes only for a path that passes X509Chain_CheckPath).
int32 CertStoreInterface_X509PathIsTrusted(CertStoreInterface *Handle, X509 *const *Path, int32 Count, uint32 *Stop);
int32 CertStoreInterface_X509IsTrustedJWS(CertStoreInterface *Handle, Dictionary *Header, CryptAsymmetric **Key,
                                          uint32 *Stop);

// ---- Name table (names compare without case) ----
int32 CertStoreTable_Create(CertStoreTable **Handle);
int32 CertStoreTable_Delete(CertStoreTable **Handle);
CLASS_DECLARE_REFERENCE(CertStoreTable, CertStoreTable)
// 0 when the name is held by a permanent entry; a replaceable one is replaced.
int32 CertStoreTable_Add(CertStoreTable *Handle, const char *Name, uint32 Replaceable, CertStoreInterface *Interface);
// 1 only when a replaceable entry was removed.
int32 CertStoreTable_Remove(CertStoreTable *Handle, const char *Name);
// A new reference, or 0 and a null handle.
int32 CertStoreTable_GetInterfaceHandle(CertStoreTable *Handle, const char *Name, CertStoreInterface **Interface);

// ---- Store that trusts nothing ----
int32 CertStoreNull_Create(CertStoreNull **Handle);
int32 CertStoreNull_Delete(CertStoreNull **Handle);
CLASS_DECLARE_REFERENCE(CertStoreNull, CertStoreNull)
int32 CertStoreNull_GetInterfaceHandle(CertStoreNull *Handle, CertStoreInterface **Interface);

// ---- Ordered list of member stores ----
int32 CertStoreList_Create(CertStoreList **Handle);
int32 CertStoreList_Delete(CertStoreList **Handle);
CLASS_DECLARE_REFERENCE(CertStoreList, CertStoreList)
int32 CertStoreList_GetInterfaceHandle(CertStoreList *Handle, CertStoreInterface **Interface);
// Appends a new reference on the member; 0 (and an error logged) when the
// member is this list or a list that holds it, directly or deeper.
int32 CertStoreList_Add(CertStoreList *Handle, CertStoreInterface *Member);
int32 CertStoreList_Reset(CertStoreList *Handle);
int32 CertStoreList_GetCount(CertStoreList *Handle, int32 *Count);

RUNTIME_EXTERN_C_END
