// JSON Web Signature helpers: the algorithm table ("alg" names, families,
// digests, curves) and the header's "x5c" certificate list, as the
// certificate stores read them.
#pragma once

#include "crypto/trust/cert_store.h"
#include "crypto/digests/hash.h"
#include "crypto/trust/x509_chain.h"
#include "crypto/trust/jws_claims.h"
#include "runtime/containers/dictionary.h"
#include "runtime/documents/json.h"
#include "runtime/types.h"

#define JWS_ALGORITHM_UNKNOWN 0
#define JWS_ALGORITHM_HS256 1
#define JWS_ALGORITHM_HS384 2
#define JWS_ALGORITHM_HS512 3
#define JWS_ALGORITHM_RS256 4
#define JWS_ALGORITHM_RS384 5
#define JWS_ALGORITHM_RS512 6
#define JWS_ALGORITHM_ES256 7
#define JWS_ALGORITHM_ES384 8
#define JWS_ALGORITHM_ES512 9

RUNTIME_EXTERN_C_BEGIN

// The id of an "alg" name, without case; 0 for none, "none", "Unknown" and
// names not in the table.
uint32 JWS_TranslateAlgorithmString(const char *Text);
// The curve OID text of an ES id, null otherwise.
const char *JWS_TranslateAlgorithmOid(uint32 Id);
// The digest of an HS, RS or ES id; null for 0 and unknown ids.
const HashInterface *JWS_GetAlgorithmHash(uint32 Id);
int32 JWS_IsRS(uint32 Id);
int32 JWS_IsES(uint32 Id);
// The RS id whose digest is SHA-256, SHA-384 or SHA-512; 0 for others.
uint32 JWS_GetAlgorithmRS(const HashInterface *Interface);
// Reads "alg"; 1 when it names an algorithm.
int32 JWS_HeaderGetAlgorithm(Dictionary *Header, uint32 *Id);

// The Base64url text of the digest of the first "x5c" certificate's DER.
// 0 when there is no "x5c" list or its first entry is not Base64; 1 with an
// empty text for an empty list.
int32 JWS_HeaderBase64ThumbprintFromX5C(Dictionary *Header, const HashInterface *Interface, char *Output,
                                         int32 Size);
// Appends every "x5c" certificate to the chain, stopping at the first that
// cannot be read (0); 1 when all were added, also for an empty list.
int32 JWS_HeaderX509ChainHandleFromX5C(Dictionary *Header, X509Chain *Chain);
// The JWS question of the certificate stores that trust certificates: builds
// a chain from "x5c" and decides its first certificate through Store. 1 with
// a new reference to that certificate's key when trusted. A header without
// certificates (a bare "kid" or "x5t") is not trusted. Stop is left as is.
int32 JWS_HeaderIsTrustedThroughX5C(Dictionary *Header, CertStoreInterface *Store, CryptAsymmetric **Key,
                                    uint32 *Stop);

// Decodes a compact JWS (three Base64url parts joined by dots, not
// necessarily terminated, trailing white space ignored) and parses its payload into Json's Dictionary.
// With Verify 1 the header is read and the signature checked through Store
// (JSON error 9 "DecodeSignature" when the text cannot be split or decoded
// or the header is not JSON, 10 "Authenticate" when the algorithm, key or
// signature is not accepted), and Claims, when given, must pass (a failure
// empties the document). Any other Verify decodes without checking. The
// check follows the key, never the header alone: "none" is refused, HS
// needs a secret that is neither a public key nor a certificate (DER or
// PEM), RS an RSA key, ES an EC key on the algorithm's curve with a
// signature of exactly twice its order's size. A header that names a member
// twice, or carries "crit" or "b64", is refused (error 10) whatever it signs.
// Checks Signature over Input (the signing input) with an RS or ES id: the
// key must fit the id; ES signatures are r then s of exactly the order's
// size each. 0 for any other id.
int32 JWS_CASignatureVerify(CryptAsymmetric *Key, uint32 Id, const void *Input, uint32 InputSize,
                            const void *Signature, uint32 SignatureSize);

int32 JWS_Decode(JSON *Json, JWSClaims *Claims, CertStoreInterface *Store, const char *Text, int32 Size,
                 int32 Verify);

// Why a JWS_DecodeExplained with Verify 1 refused the document.
#define JWS_REFUSAL_NONE 0
#define JWS_REFUSAL_UNSIGNED 1  // not three Base64url parts, or a header that is not JSON
#define JWS_REFUSAL_ALGORITHM 2 // "alg" names no algorithm this reader checks
#define JWS_REFUSAL_UNTRUSTED 3 // the store trusts no key the header names
#define JWS_REFUSAL_SIGNATURE 4 // a trusted key, but the signature does not verify
#define JWS_REFUSAL_CLAIMS 5    // a claim check failed
#define JWS_REFUSAL_HEADER 6    // a header member named twice, an extension not understood, bytes after
                                // the header's object, a NUL in a text, or an
                                // "x5c" longer than any path, which no store could trust

typedef struct JWSRefusal {
    int32 Reason;
    // With JWS_REFUSAL_ALGORITHM: "alg" as the header gave it (cut, and
    // empty when absent or not a string).
    char Algorithm[32];
    // With JWS_REFUSAL_HEADER: why, as a phrase ("it names a member twice").
    const char *Header;
} JWSRefusal;

// JWS_Decode that also tells why it refused (Refusal may be null; it is
// set to JWS_REFUSAL_NONE when the document was not refused).
int32 JWS_DecodeExplained(JSON *Json, JWSClaims *Claims, CertStoreInterface *Store, const char *Text, int32 Size,
                          int32 Verify, JWSRefusal *Refusal);

RUNTIME_EXTERN_C_END
