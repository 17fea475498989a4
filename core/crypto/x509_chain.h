// X509Chain: an ordered set of certificates (a server's chain, the
// certificates of a signed file, a JWS "x5c" list) and the system's one
// trust decision for a certificate, X509Chain_VerifyX509: ask the store about
// the certificate and, failing that, about each issuer found up the chain,
// each issuer having signed the certificate below it and being allowed to
// issue (X509_CanIssue). The walk checks no dates, ends when a certificate
// comes round again, and a bad link ends it with 0.
//
// Each entry is the chain's own copy of the certificate added. A chain is
// used by one thread at a time; the store may be shared.
#pragma once

#include "core/class.h"
#include "core/crypto/big_int.h"
#include "core/crypto/cert_store.h"
#include "core/crypto/x509.h"
#include "core/types.h"

#define X509CHAIN_CLASSID 0xe91cb12fu

RUNTIME_EXTERN_C_BEGIN

typedef struct X509Chain X509Chain;

int32 X509Chain_Create(X509Chain **Handle);
int32 X509Chain_Delete(X509Chain **Handle);
CLASS_DECLARE_REFERENCE(X509Chain, X509Chain)

// Appends a copy; 0 when the certificate cannot be rebuilt.
int32 X509Chain_Add(X509Chain *Handle, X509 *Certificate);
// Replaces the entries by the certificates of a SET or SEQUENCE node, in
// order; one that fails to build empties the chain and answers 0.
int32 X509Chain_Build(X509Chain *Handle, ASN1 *Node);
int32 X509Chain_Reset(X509Chain *Handle);
int32 X509Chain_GetCount(X509Chain *Handle, int32 *Count);
// Without a new reference; 0 and null when out of range.
int32 X509Chain_Get(X509Chain *Handle, int32 Index, X509 **Certificate);
// The first entry whose subject is the certificate's issuer.
int32 X509Chain_IssuerFind(X509Chain *Handle, X509 *Certificate, X509 **Issuer);
int32 X509Chain_IssuerAndSerialNumberFind(X509Chain *Handle, X500 *Issuer, BigInt *Serial, X509 **Certificate);
// 1 when the store trusts the certificate or an issuer reached through
// correctly signed links.
int32 X509Chain_VerifyX509(X509Chain *Handle, X509 *Certificate, CertStoreInterface *Store);
int32 X509Chain_Dump(X509Chain *Handle);

RUNTIME_EXTERN_C_END
