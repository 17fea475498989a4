// X509Chain: an ordered set of certificates (a server's chain, the
// certificates of a signed file, a JWS "x5c" list) and the system's one
// trust decision for a certificate, X509Chain_VerifyX509: ask the store about
// the certificate and, failing that, build paths up through the chain's
// certificates and ask about each issuer reached. An issuer is any entry
// whose subject is the certificate's issuer name (X500_Compare, the whole
// name) and whose key verifies its signature; every candidate is tried, and
// a path that fails (a bad signature, X509Chain_CheckPath, a store's stop)
// is left for the next candidate. The store is given the whole path, and its
// yes counts only for a path that passes X509Chain_CheckPath. No dates are
// checked; a certificate stands at most once in a path, a path is at most
// X509CHAIN_MAX_DEPTH long, and the order of the chain's entries never
// changes the answer.
//
// A decision is bounded whatever the certificates hold: it makes at most
// X509CHAIN_MAX_SIGNATURE_CHECKS signature checks, and at most
// X509CHAIN_MAX_NAME_COMPARISONS name comparisons (a name of a certificate
// against a subtree of an issuer's name constraints) in all its path checks,
// the store's included; past either it refuses, and X509Chain_GetRefusal
// says which. Each partial path of the search is held only to the checks
// whose cost grows with its length (depth, critical extensions, weak
// signatures, issuers allowed to issue, path lengths); name constraints are
// checked once a path reaches a certificate the store trusts, so a chain
// that reaches none costs no name comparison at all.
//
// Each entry is the chain's own copy of the certificate added. A chain is
// used by one thread at a time; the store may be shared.
#pragma once

#include "crypto/keys/big_int.h"
#include "crypto/trust/cert_store.h"
#include "crypto/trust/x509.h"
#include "runtime/class.h"
#include "runtime/types.h"

#define X509CHAIN_CLASSID 0xe91cb12fu
// The longest certification path taken, leaf and trust anchor included.
#define X509CHAIN_MAX_DEPTH 32
// The signature checks one decision may make while it searches for a path,
// beyond which it answers 0: enough for any real chain (a few candidates at
// each of a few levels), and it ends a pool built to be searched for ever,
// such as hundreds of CAs of one name that certify one another.
#define X509CHAIN_MAX_SIGNATURE_CHECKS 100
// The name comparisons one decision may make: a real path compares a few
// names with a few subtrees at each of a few levels, while certificates
// made to stall a decision (a thousand names under a thousand subtrees at
// every level) reach it within one issuer.
#define X509CHAIN_MAX_NAME_COMPARISONS (1 << 20)

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
// correctly signed links on a path that passes X509Chain_CheckPath.
int32 X509Chain_VerifyX509(X509Chain *Handle, X509 *Certificate, CertStoreInterface *Store);
// Why the last X509Chain_VerifyX509 answered 0 (no path reaches a
// certificate the store trusts, or a budget above was spent): 1 and the
// text, or 0 and "" after a yes.
int32 X509Chain_GetRefusal(X509Chain *Handle, const char **Reason);
// 1 when the path, Path[0] the certificate decided and Path[Count - 1] its
// trust anchor, each one issued by the next, holds what an X.509 path
// evaluation under the basic policy asks besides signatures and dates: at
// most X509CHAIN_MAX_DEPTH certificates; no critical extension this reader
// does not understand, in any of them; no signature below the anchor made
// with MD2, MD4 or MD5 (SHA-1 is allowed); every issuer allowed to issue;
// each pathLenConstraint and each issuer's name constraints (directoryName,
// dNSName, rfc822Name and iPAddress; a name of another form under a
// constraint of that form is refused) kept by the certificates below it.
// Every chain walk and every store that anchors a path elsewhere asks it.
// Within a decision its name comparisons come from the decision's budget;
// alone it has X509CHAIN_MAX_NAME_COMPARISONS of its own.
int32 X509Chain_CheckPath(X509 *const *Path, int32 Count);
int32 X509Chain_Dump(X509Chain *Handle);

RUNTIME_EXTERN_C_END
