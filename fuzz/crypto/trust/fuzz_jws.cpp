// Compact JWS texts as they arrive in fetched documents: JWS_Decode answers
// 1 or 0 and never stops, checked and unchecked, against a list holding an
// HMAC key store, a thumbprint store and a JWKS store (so every check path
// runs: certificate headers with "x5c", "kid" and "x5t", HS and key checks).
// A checked decode that succeeds must have come through the HMAC key: it
// must also succeed unchecked.
#include <stdint.h>
#include <string.h>

#include <string>

#include "crypto/digests/sha256.h"
#include "crypto/trust/cert_store.h"
#include "crypto/trust/cert_store_jwks.h"
#include "crypto/trust/cert_store_key.h"
#include "crypto/trust/cert_store_thumbprint.h"
#include "crypto/trust/jws.h"
#include "runtime/debug.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

CertStoreInterface *MakeStores() {
    CertStoreList *List = nullptr;
    CertStoreList_Create(&List);
    CertStoreInterface *Member = nullptr;
    CertStoreKey *Key = nullptr;
    CertStoreKey_Create(&Key);
    CertStoreKey_Decode(Key, "c2VjcmV0IGtleSBvZiB0aGUgZnV6emVyLCAzMiBieXRlcw==");
    CertStoreKey_GetInterfaceHandle(Key, &Member);
    CertStoreKey_Release(&Key);
    CertStoreList_Add(List, Member);
    CertStoreInterface_Release(&Member);
    CertStoreThumbprint *Prints = nullptr;
    CertStoreThumbprint_Create(&Prints);
    uint8 Digest[32] = {1, 2, 3};
    CertStoreThumbprint_Trust(Prints, &SHA256_INTERFACE, Digest);
    CertStoreThumbprint_GetInterfaceHandle(Prints, &Member);
    CertStoreThumbprint_Release(&Prints);
    CertStoreList_Add(List, Member);
    CertStoreInterface_Release(&Member);
    Dictionary *Set = nullptr, *Root = nullptr;
    Dictionary_Create(&Set);
    JSON *Json = nullptr;
    JSON_Create(&Json);
    JSON_SetDictionaryHandle(Json, Set);
    const char *Text = "{\"keys\":[{\"use\":\"sig\",\"alg\":\"ES256\",\"kid\":\"k\",\"x\":\"AQ\",\"y\":\"Ag\"},"
                       "{\"use\":\"sig\",\"alg\":\"RS256\",\"kid\":\"r\",\"n\":\"AQAB\",\"e\":\"AQAB\"}]}";
    JSON_LoadBuffer(Json, Text, (int32)strlen(Text));
    JSON_Release(&Json);
    Dictionary_SkipRoot(Set, &Root);
    CertStoreJWKS *Jwks = nullptr;
    CertStoreJWKS_Create(&Jwks);
    CertStoreJWKS_SetJWKSHandle(Jwks, Root);
    Dictionary_Release(&Set);
    CertStoreJWKS_GetInterfaceHandle(Jwks, &Member);
    CertStoreJWKS_Release(&Jwks);
    CertStoreList_Add(List, Member);
    CertStoreInterface_Release(&Member);
    CertStoreInterface *Store = nullptr;
    CertStoreList_GetInterfaceHandle(List, &Store);
    CertStoreList_Release(&List);
    return Store;
}

int32 Decode(CertStoreInterface *Store, const std::string &Text, int32 Verify) {
    Dictionary *Document = nullptr;
    Dictionary_Create(&Document);
    JSON *Json = nullptr;
    JSON_Create(&Json);
    JSON_SetDictionaryHandle(Json, Document);
    JWSClaims *Claims = nullptr;
    JWSClaims_Create(&Claims);
    JWSClaims_Add(Claims, (void *)1, JWSClaim_Exp);
    JWSClaims_Add(Claims, (void *)1, JWSClaim_Nbf);
    const int32 Result = JWS_Decode(Json, Claims, Store, Text.data(), (int32)Text.size(), Verify);
    JWSClaims_Release(&Claims);
    JSON_Release(&Json);
    Dictionary_Release(&Document);
    return Result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    static const bool Started = Debug_Init("/tmp/fuzz-jws.log", nullptr, 0) != 0;
    static CertStoreInterface *Store = MakeStores();
    (void)Started;
    if (Size > 1 << 16) return 0;
    // Not terminated: the decoder must keep within Size.
    const std::string Text(reinterpret_cast<const char *>(Data), Size);
    const int32 Checked = Decode(Store, Text, 1);
    const int32 Unchecked = Decode(Store, Text, 0);
    Check(Checked == 0 || Checked == 1);
    Check(Unchecked == 0 || Unchecked == 1);
    if (Checked) Check(Unchecked == 1);
    return 0;
}
