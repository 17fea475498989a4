// JWS helpers: see jws.h.
#include "crypto/trust/jws.h"

#include <string.h>

#include <string>

#include "crypto/digests/sha256.h"
#include "crypto/digests/sha512.h"
#include "crypto/keys/crypt_asymmetric.h"
#include "crypto/trust/x509_internal.h"
#include "runtime/memory.h"
#include "runtime/text/base64.h"
#include "runtime/text/string.h"

namespace {

struct Algorithm {
    const char *Name;
    const HashInterface *Digest;
    const char *Curve;
};

const Algorithm Algorithms[] = {
    {"Unknown", nullptr, nullptr},
    {"HS256", &SHA256_INTERFACE, nullptr},
    {"HS384", &SHA384_INTERFACE, nullptr},
    {"HS512", &SHA512_INTERFACE, nullptr},
    {"RS256", &SHA256_INTERFACE, nullptr},
    {"RS384", &SHA384_INTERFACE, nullptr},
    {"RS512", &SHA512_INTERFACE, nullptr},
    {"ES256", &SHA256_INTERFACE, "1.2.840.10045.3.1.7"},
    {"ES384", &SHA384_INTERFACE, "1.3.132.0.34"},
    {"ES512", &SHA512_INTERFACE, "1.3.132.0.35"},
};
constexpr uint32 AlgorithmCount = sizeof(Algorithms) / sizeof(Algorithms[0]);

// The DER bytes of one standard-Base64 "x5c" entry.
bool DecodeEntry(Dictionary *List, DictionaryItem *Item, std::string &Der) {
    const char *Text = nullptr;
    if (!Dictionary_ItemCompareType(List, Item, DICTIONARY_TYPE_STRING) ||
        !Dictionary_ItemGetStringPtr(List, Item, &Text) || Text == nullptr)
        return false;
    const size_t Length = strlen(Text);
    if (Length == 0 || Length > (size_t)INT32_MAX / 2) return false;
    int32 Size = 0, Written = 0;
    Base64_CalculateDecodeSize((int32)Length, &Size);
    Der.resize((size_t)Size);
    if (!Base64_Decode(Text, (int32)Length, Der.data(), Size, &Written)) return false;
    Der.resize((size_t)Written);
    return true;
}

} // namespace

uint32 JWS_TranslateAlgorithmString(const char *Text) {
    if (Text == nullptr) return JWS_ALGORITHM_UNKNOWN;
    for (uint32 Id = 1; Id < AlgorithmCount; Id++)
        if (String_CompareWithoutCase(Algorithms[Id].Name, Text)) return Id;
    return JWS_ALGORITHM_UNKNOWN;
}

const char *JWS_TranslateAlgorithmOid(uint32 Id) { return JWS_IsES(Id) ? Algorithms[Id].Curve : nullptr; }

const HashInterface *JWS_GetAlgorithmHash(uint32 Id) { return Id < AlgorithmCount ? Algorithms[Id].Digest : nullptr; }

int32 JWS_IsRS(uint32 Id) { return Id >= JWS_ALGORITHM_RS256 && Id <= JWS_ALGORITHM_RS512; }
int32 JWS_IsES(uint32 Id) { return Id >= JWS_ALGORITHM_ES256 && Id <= JWS_ALGORITHM_ES512; }

uint32 JWS_GetAlgorithmRS(const HashInterface *Interface) {
    for (uint32 Id = JWS_ALGORITHM_RS256; Id <= JWS_ALGORITHM_RS512; Id++)
        if (Interface != nullptr && Algorithms[Id].Digest == Interface) return Id;
    return JWS_ALGORITHM_UNKNOWN;
}

int32 JWS_HeaderGetAlgorithm(Dictionary *Header, uint32 *Id) {
    Debug_CheckPointer(Id);
    const char *Text = nullptr;
    *Id = JWS_ALGORITHM_UNKNOWN;
    // Names are case-sensitive in a header: "hs256" names no algorithm.
    if (Header != nullptr && Dictionary_GetStringPtrByKey(Header, "alg", &Text)) *Id = JWS_TranslateAlgorithmString(Text);
    if (*Id != JWS_ALGORITHM_UNKNOWN && strcmp(Algorithms[*Id].Name, Text) != 0) *Id = JWS_ALGORITHM_UNKNOWN;
    return *Id != JWS_ALGORITHM_UNKNOWN;
}

int32 JWS_HeaderBase64ThumbprintFromX5C(Dictionary *Header, const HashInterface *Interface, char *Output,
                                         int32 Size) {
    Debug_CheckPointer(Interface);
    Debug_CheckPointer(Output);
    if (Size > 0) Output[0] = 0;
    Dictionary *List = nullptr;
    if (Header == nullptr || !Dictionary_GetListByKey(Header, "x5c", &List) || List == nullptr) return FALSE;
    DictionaryItem *First = nullptr;
    if (!Dictionary_ItemGetFirst(List, &First) || First == nullptr) return TRUE;
    std::string Der;
    if (!DecodeEntry(List, First, Der)) return FALSE;
    uint8 Digest[HASH_MAX_DIGEST_SIZE];
    if (!Hash_QuickDigest(Interface, Der.data(), (uint32)Der.size(), Digest, (int32)sizeof(Digest))) return FALSE;
    int32 Written = 0;
    return Base64_UrlEncode(Digest, (int32)Interface->DigestSize, Output, Size, &Written);
}

int32 JWS_HeaderX509ChainHandleFromX5C(Dictionary *Header, X509Chain *Chain) {
    Dictionary *List = nullptr;
    if (Header == nullptr || !Dictionary_GetListByKey(Header, "x5c", &List) || List == nullptr) return TRUE;
    // No path is longer than the depth cap, so a longer list is refused
    // before any of it is decoded.
    int32 Count = 0;
    if (!Dictionary_ItemGetCount(List, &Count) || Count > X509CHAIN_MAX_DEPTH) return FALSE;
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(List, &Item); Item != nullptr; Dictionary_ItemGetNext(List, Item, &Item)) {
        std::string Der;
        if (!DecodeEntry(List, Item, Der)) return FALSE;
        X509 *Certificate = nullptr;
        X509_Create(&Certificate);
        if (!X509_BuildFromBuffer(Certificate, Der.data(), (uint32)Der.size())) {
            X509_Release(&Certificate);
            return FALSE;
        }
        X509Chain_Take(Chain, &Certificate);
    }
    return TRUE;
}

int32 JWS_HeaderIsTrustedThroughX5C(Dictionary *Header, CertStoreInterface *Store, CryptAsymmetric **Key,
                                    uint32 *Stop) {
    Debug_CheckPointer(Key);
    Debug_CheckPointer(Stop);
    *Key = nullptr;
    X509Chain *Chain = nullptr;
    X509Chain_Create(&Chain);
    X509 *First = nullptr;
    int32 Trusted = JWS_HeaderX509ChainHandleFromX5C(Header, Chain) && X509Chain_Get(Chain, 0, &First) &&
                    X509Chain_VerifyX509(Chain, First, Store);
    CryptAsymmetric *Public = nullptr;
    if (Trusted && X509_GetCryptAsymmetricHandle(First, &Public)) *Key = CryptAsymmetric_AddRef(Public);
    else Trusted = FALSE;
    X509Chain_Release(&Chain);
    return Trusted;
}
