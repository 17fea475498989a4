// CertStoreJWKS: see cert_store_jwks.h.
#include "crypto/trust/cert_store_jwks.h"

#include <string.h>

#include <vector>

#include "crypto/digests/sha1.h"
#include "crypto/digests/sha256.h"
#include "crypto/keys/big_int.h"
#include "crypto/keys/crypt_asymmetric.h"
#include "crypto/trust/jws.h"
#include "crypto/trust/x509.h"
#include "runtime/memory.h"
#include "runtime/text/base64.h"

struct CertStoreJWKS {
    ClassStruct Class;
    CertStoreInterface *Interface;
    Dictionary *KeySet;
};

#define CertStoreJWKS_Check(Handle) Class_CheckHandle((Handle), CERTSTOREJWKS_CLASSID)

namespace {

// Room for the Base64url text of a SHA-256 digest and its terminator.
constexpr int32 ThumbprintTextSize = 64;

int32 DeleteObject(void *HandleAddress) { return CertStoreJWKS_Delete(static_cast<CertStoreJWKS **>(HandleAddress)); }

CertStoreInterface *InterfaceAddRef(CertStoreInterface *Interface, void *User) {
    CertStoreJWKS_AddRef(static_cast<CertStoreJWKS *>(User));
    return Interface;
}

int32 InterfaceRelease(CertStoreInterface **Interface, void *User) {
    CertStoreJWKS *Store = static_cast<CertStoreJWKS *>(User);
    *Interface = nullptr;
    return CertStoreJWKS_Release(&Store);
}

bool TextEquals(Dictionary *Member, const char *Name, const char *Value) {
    const char *Text = nullptr;
    return Dictionary_GetStringPtrByKey(Member, Name, &Text) && Text != nullptr && strcmp(Text, Value) == 0;
}

// Every signing member for the algorithm whose member Name is the text Value.
std::vector<Dictionary *> CertStoreJWKS_MemberFromJWKSProperty(CertStoreJWKS *Store, const char *Name, const char *Value,
                                                  uint32 Id) {
    std::vector<Dictionary *> Found;
    Dictionary *Keys = nullptr;
    if (Value == nullptr || !Dictionary_GetListByKey(Store->KeySet, "keys", &Keys) || Keys == nullptr) return Found;
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(Keys, &Item); Item != nullptr; Dictionary_ItemGetNext(Keys, Item, &Item)) {
        Dictionary *Member = nullptr;
        if (!Dictionary_ItemCompareType(Keys, Item, DICTIONARY_TYPE_DICTIONARY) ||
            !Dictionary_ItemGetDictionaryHandle(Keys, Item, &Member) || Member == nullptr)
            continue;
        const char *Algorithm = nullptr;
        if (!TextEquals(Member, "use", "sig") || !Dictionary_GetStringPtrByKey(Member, "alg", &Algorithm) ||
            JWS_TranslateAlgorithmString(Algorithm) != Id || !TextEquals(Member, Name, Value))
            continue;
        Found.push_back(Member);
    }
    return Found;
}

// A Base64url unsigned big-endian integer.
bool CertStoreJWKS_BigIntFromBase64Value(Dictionary *Member, const char *Name, BigInt *Number) {
    const char *Text = nullptr;
    if (!Dictionary_GetStringPtrByKey(Member, Name, &Text) || Text == nullptr || Text[0] == 0) return false;
    const size_t Length = strlen(Text);
    if (Length > 4096) return false;
    std::vector<uint8> Bytes(Length + 8);
    int32 Written = 0;
    return Base64_UrlDecode(Text, (int32)Length, Bytes.data(), (int32)Bytes.size(), &Written) && Written > 0 &&
           BigInt_ImportBinary(Number, Bytes.data(), Written);
}

// The two integers a key is built from, by their property names.
bool CertStoreJWKS_CAFromJWKSPropertyNames(Dictionary *Member, const char *FirstName, const char *SecondName,
                                           BigInt *First, BigInt *Second) {
    return CertStoreJWKS_BigIntFromBase64Value(Member, FirstName, First) && CertStoreJWKS_BigIntFromBase64Value(Member, SecondName, Second);
}

// The member's public key: RS from "n" and "e", ES from "x" and "y" on the
// algorithm's curve.
CryptAsymmetric *CertStoreJWKS_CAFromJWKSProperty(Dictionary *Member, uint32 Id) {
    const bool EC = JWS_IsES(Id);
    const CryptAsymmetricInterface *Table = nullptr;
    if (!CryptAsymmetric_InterfaceFromName(EC ? "ECDSA" : "RSA", &Table)) return nullptr;
    BigInt *First = nullptr, *Second = nullptr;
    BigInt_Create(&First);
    BigInt_Create(&Second);
    CryptAsymmetric *Key = nullptr;
    CryptAsymmetric_Create(&Key);
    CryptAsymmetric_ResetInterface(Key, Table);
    const bool Built =
        (EC ? CertStoreJWKS_CAFromJWKSPropertyNames(Member, "x", "y", First, Second) &&
                  CryptAsymmetric_InitParams(Key, JWS_TranslateAlgorithmOid(Id))
            : CertStoreJWKS_CAFromJWKSPropertyNames(Member, "e", "n", First, Second)) &&
        CryptAsymmetric_SetPublicKeyPair(Key, First, Second);
    BigInt_Delete(&First);
    BigInt_Delete(&Second);
    if (!Built) CryptAsymmetric_Release(&Key);
    return Key;
}

bool CertStoreJWKS_Base64ThumbprintFromX509(X509 *Certificate, const HashInterface *Interface, char *Text) {
    uint8 Digest[HASH_MAX_DIGEST_SIZE];
    int32 Written = 0;
    return X509_Thumbprint(Certificate, Interface, Digest, (int32)sizeof(Digest)) &&
           Base64_UrlEncode(Digest, (int32)Interface->DigestSize, Text, ThumbprintTextSize, &Written);
}

int32 InterfaceX509IsTrusted(CertStoreInterface *, void *User, X509 *Certificate, uint32 *Stop) {
    CertStoreJWKS *Store = static_cast<CertStoreJWKS *>(User);
    *Stop = 0;
    const HashInterface *Interface = nullptr;
    if (Certificate == nullptr || !X509_GetHashInterface(Certificate, &Interface)) return FALSE;
    const uint32 Id = JWS_GetAlgorithmRS(Interface);
    if (Id == JWS_ALGORITHM_UNKNOWN) return FALSE;
    char Text[ThumbprintTextSize];
    if (CertStoreJWKS_Base64ThumbprintFromX509(Certificate, &SHA256_INTERFACE, Text) &&
        !CertStoreJWKS_MemberFromJWKSProperty(Store, "x5t#S256", Text, Id).empty())
        return TRUE;
    return CertStoreJWKS_Base64ThumbprintFromX509(Certificate, &SHA1_INTERFACE, Text) && !CertStoreJWKS_MemberFromJWKSProperty(Store, "x5t", Text, Id).empty();
}

int32 InterfaceX509IsTrustedJWS(CertStoreInterface *, void *User, Dictionary *Header, CryptAsymmetric **Key,
                                uint32 *Stop) {
    CertStoreJWKS *Store = static_cast<CertStoreJWKS *>(User);
    *Key = nullptr;
    *Stop = 0;
    uint32 Id = 0;
    if (Header == nullptr || !JWS_HeaderGetAlgorithm(Header, &Id) || !(JWS_IsRS(Id) || JWS_IsES(Id))) return FALSE;
    auto TryMembers = [&](const char *Name, const char *Value) {
        for (Dictionary *Member : CertStoreJWKS_MemberFromJWKSProperty(Store, Name, Value, Id))
            if ((*Key = CertStoreJWKS_CAFromJWKSProperty(Member, Id)) != nullptr) return true;
        return false;
    };
    for (const char *Name : {"kid", "x5t#S256", "x5t"}) {
        const char *Value = nullptr;
        if (Dictionary_GetStringPtrByKey(Header, Name, &Value) && TryMembers(Name, Value)) return TRUE;
    }
    char Text[ThumbprintTextSize];
    if (Dictionary_ContainsKey(Header, "x5c")) {
        if (JWS_HeaderBase64ThumbprintFromX5C(Header, &SHA256_INTERFACE, Text, (int32)sizeof(Text)) && Text[0] != 0 &&
            TryMembers("x5t#S256", Text))
            return TRUE;
        if (JWS_HeaderBase64ThumbprintFromX5C(Header, &SHA1_INTERFACE, Text, (int32)sizeof(Text)) && Text[0] != 0 &&
            TryMembers("x5t", Text))
            return TRUE;
    }
    return FALSE;
}

} // namespace

int32 CertStoreJWKS_Create(CertStoreJWKS **Handle) {
    Debug_CheckPointer(Handle);
    CertStoreJWKS *Store = Memory_New(CertStoreJWKS);
    Class_InitHeader(Store, CERTSTOREJWKS_CLASSID, DeleteObject);
    Dictionary_Create(&Store->KeySet);
    CertStoreInterface_Create(&Store->Interface);
    CertStoreInterface_SetAddRefCallback(Store->Interface, Store, InterfaceAddRef);
    CertStoreInterface_SetReleaseCallback(Store->Interface, Store, InterfaceRelease);
    CertStoreInterface_SetX509IsTrustedCallback(Store->Interface, Store, InterfaceX509IsTrusted);
    CertStoreInterface_SetX509IsTrustedJWSCallback(Store->Interface, Store, InterfaceX509IsTrustedJWS);
    *Handle = Store;
    return TRUE;
}

int32 CertStoreJWKS_Delete(CertStoreJWKS **Handle) {
    Debug_CheckPointer(Handle);
    CertStoreJWKS_Check(*Handle);
    Dictionary_Delete(&(*Handle)->KeySet);
    CertStoreInterface_Delete(&(*Handle)->Interface);
    Memory_Delete(*Handle);
    return TRUE;
}

CLASS_DEFINE_REFERENCE(CertStoreJWKS, CertStoreJWKS, CERTSTOREJWKS_CLASSID)

int32 CertStoreJWKS_GetInterfaceHandle(CertStoreJWKS *Handle, CertStoreInterface **Interface) {
    CertStoreJWKS_Check(Handle);
    Debug_CheckPointer(Interface);
    *Interface = CertStoreInterface_AddRef(Handle->Interface);
    return TRUE;
}

int32 CertStoreJWKS_SetJWKSHandle(CertStoreJWKS *Handle, Dictionary *KeySet) {
    CertStoreJWKS_Check(Handle);
    Dictionary_Reset(Handle->KeySet);
    return KeySet == nullptr || Dictionary_Merge(Handle->KeySet, KeySet, DICTIONARY_MERGE_OVERWRITE) ? TRUE : FALSE;
}
