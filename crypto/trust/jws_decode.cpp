// JWS_Decode: split, check and parse a compact JWS (see jws.h).
//
// The check is chosen by the header but bound by the key: the header only
// names a key; the key's own kind, curve and size must then fit the "alg"
// or the signature is refused. So a document cannot steer a public key into
// an HMAC secret or an RSA key into an EC check.
//
// The header itself must read the same to every reader: a member named
// twice (readers differ on which one counts) and the extensions "crit" and
// "b64" (which this reader does not implement, and which change what a
// signature covers) refuse the document.
#include "crypto/trust/jws.h"

#include <ctype.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_set>

#include "crypto/crypt.h"
#include "crypto/digests/hmac.h"
#include "crypto/keys/asn1.h"
#include "crypto/keys/crypt_asymmetric.h"
#include "crypto/keys/ec.h"
#include "crypto/keys/ecdsa.h"
#include "crypto/keys/rsa.h"
#include "crypto/trust/authenticate.h"
#include "runtime/log.h"
#include "runtime/text/base64.h"

namespace {

// Longest DER signature an ES check builds (P-521 needs 139 bytes).
constexpr int32 MaxEcSignature = 320;

// One Base64url part without padding (the compact form's only spelling, so
// that one document has one text); an empty part decodes to nothing.
bool DecodePart(const char *Text, size_t Length, std::string &Out) {
    Out.clear();
    if (Length == 0) return true;
    if (Length > (size_t)INT32_MAX / 2) return false;
    for (size_t At = 0; At < Length; At++)
        if (!isalnum((unsigned char)Text[At]) && Text[At] != '-' && Text[At] != '_') return false;
    int32 Room = 0;
    Base64_CalculateDecodeSize((int32)Length, &Room);
    Out.resize((size_t)Room);
    int32 Written = 0;
    if (!Base64_UrlDecode(Text, (int32)Length, Out.data(), (int32)Out.size(), &Written)) return false;
    Out.resize((size_t)Written);
    return true;
}

// A signed part is read whole: bytes after its value ("{...}xx",
// "{...}{...}") would be signed and yet unread.
bool ParseJson(JSON *Reader, const std::string &Bytes) {
    return JSON_LoadBufferWhole(Reader, Bytes.data(), (int32)Bytes.size()) != 0;
}

// A text of the header that holds a NUL, raw or escaped, is refused as the
// scan reads it: "ES256\u0000" reads as "ES256" to one reader and as another
// name to the next. (The scan refuses a name with a NUL itself; this sees the
// values, decoded, as each completes.) User: an int32 set when one was.
int32 RefuseNul(JSON *, void *User, const char *, int32 Kind, const char *Text, int32 Length, int64, int32, int32,
                int32 *ErrorCode) {
    if (Kind != JSON_KIND_STRING || Length <= 0 || memchr(Text, 0, (size_t)Length) == nullptr) return TRUE;
    *static_cast<int32 *>(User) = 1;
    *ErrorCode = JSON_ERROR_STRING;
    return FALSE;
}

// The key fits the algorithm: RSA for RS ids, ECDSA on the id's own curve
// for ES ids.
bool KeyFits(CryptAsymmetric *Key, uint32 Id) {
    if (JWS_IsRS(Id)) return CryptAsymmetric_IsRSA(Key) != 0;
    if (!JWS_IsES(Id) || !CryptAsymmetric_IsECDSA(Key)) return false;
    EC *Curve = nullptr;
    ECDSA *Ecdsa = static_cast<ECDSA *>(CryptAsymmetric_GetAlgorithmHandle(Key));
    if (Ecdsa == nullptr || !ECDSA_GetECHandle(Ecdsa, &Curve) || Curve == nullptr) return false;
    const char *Name = EC_GetCurveName(Curve);
    return Name != nullptr && strcmp(Name, JWS_TranslateAlgorithmOid(Id)) == 0;
}

// The node is, or holds, a public key: a SubjectPublicKeyInfo (alone, or in
// a certificate or certificate request) or a PKCS#1 RSAPublicKey.
bool HoldsPublicKey(ASN1 *Node) {
    if (ASN1_GetType(Node) == ASN1_TYPE_SEQUENCE) {
        ASN1 *First = ASN1_GetElement(Node, 0), *Second = ASN1_GetElement(Node, 1);
        int32 Count = 0;
        ASN1_GetElementCount(Node, &Count);
        char Oid[64];
        const CryptAsymmetricInterface *Interface = nullptr;
        if (Count == 2 && ASN1_GetType(Second) == ASN1_TYPE_BITSTRING &&
            ASN1_ParseOid(ASN1_GetElement(First, 0), Oid, (int32)sizeof(Oid)) &&
            CryptAsymmetric_InterfaceFromOid(Oid, &Interface)) {
            CryptAsymmetric *Key = nullptr;
            CryptAsymmetric_Create(&Key);
            const bool Public = CryptAsymmetric_SetPublicKeyFromASN1(Key, Node) != 0;
            CryptAsymmetric_Release(&Key);
            if (Public) return true;
        }
        if (Count == 2 && ASN1_GetType(First) == ASN1_TYPE_INTEGER && ASN1_GetType(Second) == ASN1_TYPE_INTEGER) {
            RSA *Rsa = nullptr;
            RSA_Create(&Rsa);
            const bool Public = RSA_SetPublicKey(Rsa, ASN1_GetNodePtr(Node), ASN1_GetNodeSize(Node)) != 0;
            RSA_Release(&Rsa);
            if (Public) return true;
        }
    }
    int32 Count = 0;
    ASN1_GetElementCount(Node, &Count);
    for (int32 Index = 0; Index < Count; Index++)
        if (HoldsPublicKey(ASN1_GetElement(Node, Index))) return true;
    return false;
}

bool DerHoldsPublicKey(const void *Bytes, size_t Size) {
    if (Size == 0 || Size > (size_t)INT32_MAX) return false;
    ASN1 *Tree = nullptr;
    ASN1_Create(&Tree);
    // Also what a failed decode left: a key followed by bytes is still a key.
    ASN1_Decode(Tree, Bytes, (int32)Size);
    const bool Public = HoldsPublicKey(Tree);
    ASN1_Release(&Tree);
    return Public;
}

// An OpenSSH public key line ("ssh-rsa AAAA...", "ecdsa-sha2-nistp256 ...",
// options first in authorized_keys): a key type followed by Base64 whose
// blob starts with that same type, length first. Or an RFC 4716 block.
bool HoldsOpensshKey(std::string_view Text) {
    if (Text.find("BEGIN SSH2 PUBLIC KEY") != std::string_view::npos) return true;
    std::string_view Previous;
    for (size_t At = 0; At < Text.size();) {
        const size_t Start = Text.find_first_not_of(" \t\r\n", At);
        if (Start == std::string_view::npos) break;
        const size_t End = std::min(Text.find_first_of(" \t\r\n", Start), Text.size());
        const std::string_view Word = Text.substr(Start, End - Start);
        At = End;
        if (!Previous.empty() && Word.size() >= 8 && Word.size() < (size_t)INT32_MAX / 2) {
            int32 Room = 0, Written = 0;
            Base64_CalculateDecodeSize((int32)Word.size(), &Room);
            std::string Blob((size_t)Room, '\0');
            const std::string Encoded(Word);
            if (Base64_Decode(Encoded.c_str(), (int32)Encoded.size(), Blob.data(), Room, &Written) &&
                (size_t)Written >= 4 + Previous.size()) {
                const uint32 Length = (uint32)(uint8)Blob[0] << 24 | (uint32)(uint8)Blob[1] << 16 |
                                      (uint32)(uint8)Blob[2] << 8 | (uint8)Blob[3];
                if (Length == Previous.size() && Blob.compare(4, Length, Previous) == 0) return true;
            }
        }
        Previous = Word;
    }
    return false;
}

// A JSON Web Key of a public key, alone or in a set: a "kty" other than
// "oct" and no private member "d".
bool IsPublicJwk(Dictionary *Key) {
    const char *Type = nullptr;
    if (Key == nullptr) return false;
    Dictionary *Keys = nullptr;
    if (Dictionary_GetListByKey(Key, "keys", &Keys) && Keys != nullptr) {
        DictionaryItem *Item = nullptr;
        for (Dictionary_ItemGetFirst(Keys, &Item); Item != nullptr; Dictionary_ItemGetNext(Keys, Item, &Item)) {
            Dictionary *Member = nullptr;
            if (Dictionary_ItemGetDictionaryHandle(Keys, Item, &Member) && IsPublicJwk(Member)) return true;
        }
    }
    return Dictionary_GetStringPtrByKey(Key, "kty", &Type) && Type != nullptr && strcmp(Type, "oct") != 0 &&
           !Dictionary_ContainsKey(Key, "d");
}

bool HoldsPublicJwk(const uint8 *Bytes, uint32 Size) {
    if (Size == 0 || Size > (uint32)INT32_MAX || memchr(Bytes, '{', Size) == nullptr) return false;
    Dictionary *Scratch = nullptr, *Root = nullptr;
    Dictionary_Create(&Scratch);
    JSON *Reader = nullptr;
    JSON_Create(&Reader);
    JSON_SetDictionaryHandle(Reader, Scratch);
    const bool Public = JSON_LoadBuffer(Reader, Bytes, (int32)Size) && Dictionary_SkipRoot(Scratch, &Root) &&
                        IsPublicJwk(Root);
    JSON_Release(&Reader);
    Dictionary_Release(&Scratch);
    return Public;
}

// Bytes whose owner cannot keep them secret: a public key or a certificate,
// in DER or in PEM (a block whose label names one, or whose body holds one),
// an OpenSSH public key, or a JSON Web Key of a public key.
bool IsPublicMaterial(const uint8 *Bytes, uint32 Size) {
    if (DerHoldsPublicKey(Bytes, Size)) return true;
    const std::string_view Text(reinterpret_cast<const char *>(Bytes), Size);
    if (HoldsOpensshKey(Text) || HoldsPublicJwk(Bytes, Size)) return true;
    constexpr std::string_view Begin = "-----BEGIN ", Dashes = "-----";
    for (size_t At = Text.find(Begin); At != std::string_view::npos; At = Text.find(Begin, At + 1)) {
        const size_t LabelAt = At + Begin.size(), LabelEnd = Text.find(Dashes, LabelAt);
        if (LabelEnd == std::string_view::npos) break;
        const std::string_view Label = Text.substr(LabelAt, LabelEnd - LabelAt);
        if (Label.find("PUBLIC KEY") != std::string_view::npos || Label.find("CERTIFICATE") != std::string_view::npos)
            return true;
        const size_t BodyAt = LabelEnd + Dashes.size();
        std::string Body;
        for (char Character : Text.substr(BodyAt, Text.find(Dashes, BodyAt) - BodyAt))
            if (isalnum((unsigned char)Character) || Character == '+' || Character == '/' || Character == '=')
                Body += Character;
        if (Body.empty() || Body.size() > (size_t)INT32_MAX / 2) continue;
        int32 Room = 0, Written = 0;
        Base64_CalculateDecodeSize((int32)Body.size(), &Room);
        std::string Der((size_t)Room, '\0');
        if (Base64_Decode(Body.c_str(), (int32)Body.size(), Der.data(), Room, &Written) &&
            DerHoldsPublicKey(Der.data(), (size_t)Written))
            return true;
    }
    return false;
}

// Why a header cannot be read safely, or null when it can: a member named
// twice (readers disagree on which one counts) or an extension this reader
// does not implement.
const char *HeaderNotUnderstood(Dictionary *Header) {
    std::unordered_set<std::string_view> Names;
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(Header, &Item); Item != nullptr; Dictionary_ItemGetNext(Header, Item, &Item)) {
        const char *Name = nullptr;
        if (!Dictionary_ItemGetKeyPtr(Header, Item, &Name) || Name == nullptr) return "it has a member without a name";
        if (!Names.insert(Name).second) {
            Log_Error("JWS header names a member twice\n");
            return "it names a member twice";
        }
        if (strcmp(Name, "crit") == 0 || strcmp(Name, "b64") == 0) {
            Log_Error("JWS header extension \"%s\" is not supported\n", Name);
            return strcmp(Name, "crit") == 0 ? "its extension \"crit\" is not supported"
                                             : "its extension \"b64\" is not supported";
        }
    }
    return nullptr;
}

// A public key made from DER bytes (a SubjectPublicKeyInfo); null otherwise.
CryptAsymmetric *PublicKeyFromDer(const uint8 *Bytes, uint32 Size) {
    if (Bytes == nullptr || Size == 0 || Size > (uint32)INT32_MAX) return nullptr;
    ASN1 *Tree = nullptr;
    ASN1_Create(&Tree);
    CryptAsymmetric *Key = nullptr;
    if (ASN1_Decode(Tree, Bytes, (int32)Size)) {
        CryptAsymmetric_Create(&Key);
        if (!CryptAsymmetric_SetPublicKeyFromASN1(Key, ASN1_GetElement(Tree, 0))) CryptAsymmetric_Release(&Key);
    }
    ASN1_Release(&Tree);
    return Key;
}

// "x5c", "kid", "x5t" or "x5t#S256": the store decides which key signs.
// Each check sets Reason to what refused it: the signer until a key is
// trusted, the signature after.
bool JWS_CAX509Decode(Dictionary *Header, CertStoreInterface *Store, uint32 Id, const char *Input, size_t InputSize,
                      const std::string &Signature, int32 &Reason) {
    Reason = JWS_REFUSAL_UNTRUSTED;
    CryptAsymmetric *Key = nullptr;
    uint32 Stop = 0;
    const int32 Trusted = CertStoreInterface_X509IsTrustedJWS(Store, Header, &Key, &Stop);
    bool Passed = false;
    if (Trusted && !Stop && Key != nullptr) Reason = JWS_REFUSAL_SIGNATURE;
    if (Trusted && !Stop && Key != nullptr) Passed = JWS_CASignatureVerify(Key, Id, Input, (uint32)InputSize, Signature.data(), (uint32)Signature.size());
    // A trust answer without a key is the switch's, and only the switch may
    // waive the signature.
    else if (Trusted && !Stop) Passed = !Authenticate_Enabled();
    if (Key != nullptr) CryptAsymmetric_Release(&Key);
    return Passed;
}

bool JWS_HSDecode(CertStoreInterface *Store, uint32 Id, const char *Input, size_t InputSize,
               const std::string &Signature, int32 &Reason) {
    Reason = JWS_REFUSAL_UNTRUSTED;
    const uint8 *Secret = nullptr;
    uint32 SecretSize = 0;
    if (!CertStoreInterface_GetKey(Store, &Secret, &SecretSize) || Secret == nullptr) return false;
    Reason = JWS_REFUSAL_SIGNATURE;
    const HashInterface *Digest = JWS_GetAlgorithmHash(Id);
    if (Signature.size() != Digest->DigestSize) return false;
    // The public half of a signing key, or a certificate, is no secret:
    // whoever has it could sign HS documents that the key store would accept.
    if (IsPublicMaterial(Secret, SecretSize)) {
        Log_Error("JWS HMAC key is a public key or certificate\n");
        Reason = JWS_REFUSAL_UNTRUSTED;
        return false;
    }
    uint8 Mac[HASH_MAX_DIGEST_SIZE];
    if (!HMAC_QuickDigest(Digest, Input, (uint32)InputSize, Secret, SecretSize, Mac, (int32)sizeof(Mac))) return false;
    return Crypt_CompareConstantTime(Mac, Signature.data(), Digest->DigestSize) != 0;
}

bool JWS_CAKeyDecode(CertStoreInterface *Store, uint32 Id, const char *Input, size_t InputSize,
                     const std::string &Signature, int32 &Reason) {
    Reason = JWS_REFUSAL_UNTRUSTED;
    const uint8 *Bytes = nullptr;
    uint32 Size = 0;
    if (!CertStoreInterface_GetKey(Store, &Bytes, &Size)) return false;
    CryptAsymmetric *Key = PublicKeyFromDer(Bytes, Size);
    if (Key == nullptr) return false;
    Reason = JWS_REFUSAL_SIGNATURE;
    const bool Passed = JWS_CASignatureVerify(Key, Id, Input, (uint32)InputSize, Signature.data(), (uint32)Signature.size());
    CryptAsymmetric_Release(&Key);
    return Passed;
}

#define JWS_TEXT(Value) #Value
#define JWS_NUMBER(Value) JWS_TEXT(Value)

// An "x5c" longer than any certification path is refused before any of it
// is read, which the store can only answer as a signer it does not trust:
// such a refusal names the limit instead.
constexpr const char *X5cTooLong =
    "its \"x5c\" holds more than " JWS_NUMBER(X509CHAIN_MAX_DEPTH) " certificates, the most a path may have";

bool HeaderX5cTooLong(Dictionary *Header) {
    Dictionary *List = nullptr;
    int32 Count = 0;
    return Dictionary_GetListByKey(Header, "x5c", &List) && List != nullptr && Dictionary_ItemGetCount(List, &Count) &&
           Count > X509CHAIN_MAX_DEPTH;
}

bool HeaderNamesKey(Dictionary *Header) {
    for (const char *Name : {"x5c", "kid", "x5t", "x5t#S256"})
    {
        DictionaryItem *Item = nullptr;
        if (Dictionary_ItemFindByKey(Header, Name, nullptr, &Item) && Item != nullptr) return true;
    }
    return false;
}

} // namespace

int32 JWS_CASignatureVerify(CryptAsymmetric *Key, uint32 Id, const void *Input, uint32 InputSize,
                            const void *Signature, uint32 SignatureSize) {
    Class_CheckHandle(Key, CRYPTASYMMETRIC_CLASSID);
    if ((!JWS_IsRS(Id) && !JWS_IsES(Id)) || !KeyFits(Key, Id) || SignatureSize > (uint32)INT32_MAX) return FALSE;
    const HashInterface *Digest = JWS_GetAlgorithmHash(Id);
    uint8 Hashed[HASH_MAX_DIGEST_SIZE];
    if (!Hash_QuickDigest(Digest, Input, InputSize, Hashed, (int32)sizeof(Hashed))) return FALSE;
    if (JWS_IsRS(Id))
        return CryptAsymmetric_Verify(Key, Hashed, (int32)Digest->DigestSize, Signature, (int32)SignatureSize,
                                      RSA_SIGNATURE_VERSION_PCS21);
    // r then s, each exactly the size of the curve's order.
    uint8 Der[MaxEcSignature];
    int32 DerSize = 0;
    ECDSA *Ecdsa = static_cast<ECDSA *>(CryptAsymmetric_GetAlgorithmHandle(Key));
    if (!ECDSA_SignatureFromRaw(Ecdsa, Signature, (int32)SignatureSize, Der, (int32)sizeof(Der), &DerSize))
        return FALSE;
    return CryptAsymmetric_Verify(Key, Hashed, (int32)Digest->DigestSize, Der, DerSize, RSA_SIGNATURE_VERSION_PCS21);
}

int32 JWS_Decode(JSON *Json, JWSClaims *Claims, CertStoreInterface *Store, const char *Text, int32 Size,
                 int32 Verify) {
    return JWS_DecodeExplained(Json, Claims, Store, Text, Size, Verify, nullptr);
}

int32 JWS_DecodeExplained(JSON *Json, JWSClaims *Claims, CertStoreInterface *Store, const char *Text, int32 Size,
                          int32 Verify, JWSRefusal *Refusal) {
    Debug_CheckPointer(Json);
    JWSRefusal Ignored;
    if (Refusal == nullptr) Refusal = &Ignored;
    *Refusal = JWSRefusal{};
    Verify = Verify == 1;
    if (Verify) Debug_CheckPointer(Store);
    size_t Length = Text == nullptr || Size < 0 ? 0 : (size_t)Size;
    // A document file or body usually ends with a line break, which is no
    // part of the signature.
    while (Length > 0 && strchr(" \t\r\n", Text[Length - 1]) != nullptr && Text[Length - 1] != 0) Length--;
    const char *End = Text + Length;
    const char *First = Length ? static_cast<const char *>(memchr(Text, '.', Length)) : nullptr;
    const char *Second = First ? static_cast<const char *>(memchr(First + 1, '.', (size_t)(End - First - 1))) : nullptr;
    std::string HeaderBytes, Payload, Signature;
    if (Second == nullptr || !DecodePart(Text, (size_t)(First - Text), HeaderBytes) ||
        !DecodePart(First + 1, (size_t)(Second - First - 1), Payload) ||
        !DecodePart(Second + 1, (size_t)(End - Second - 1), Signature)) {
        if (Verify) Refusal->Reason = JWS_REFUSAL_UNSIGNED;
        JSON_SetLastError(Json, JSON_ERROR_DECODESIGNATURE);
        return FALSE;
    }
    if (Verify) {
        Dictionary *Scratch = nullptr;
        Dictionary_Create(&Scratch);
        JSON *Reader = nullptr;
        JSON_Create(&Reader);
        JSON_SetDictionaryHandle(Reader, Scratch);
        int32 HeldNul = 0;
        JSON_SetValueCallback(Reader, &HeldNul, RefuseNul);
        int32 Error = 0;
        const bool Parsed = ParseJson(Reader, HeaderBytes);
        if (HeldNul) {
            Log_Error("JWS header holds a NUL in a text\n");
            Error = JSON_ERROR_AUTHENTICATE;
            Refusal->Reason = JWS_REFUSAL_HEADER;
            Refusal->Header = "a text in it holds a NUL";
        } else if (!Parsed) {
            // A header that reads but for what follows it is a signed
            // header read strictly, not an unsigned document.
            const bool Trailing = JSON_LoadBuffer(Reader, HeaderBytes.data(), (int32)HeaderBytes.size()) != 0;
            Error = Trailing ? JSON_ERROR_AUTHENTICATE : JSON_ERROR_DECODESIGNATURE;
            Refusal->Reason = Trailing ? JWS_REFUSAL_HEADER : JWS_REFUSAL_UNSIGNED;
            if (Trailing) Refusal->Header = "it has bytes after its JSON object";
        } else {
            Dictionary *Header = nullptr;
            Dictionary_SkipRoot(Scratch, &Header);
            uint32 Id = JWS_ALGORITHM_UNKNOWN;
            const size_t InputSize = (size_t)(Second - Text);
            bool Passed = false;
            int32 Reason = JWS_REFUSAL_ALGORITHM;
            const char *Unread = Header != nullptr ? HeaderNotUnderstood(Header) : nullptr;
            if (Unread != nullptr) {
                Reason = JWS_REFUSAL_HEADER;
                Refusal->Header = Unread;
            } else if (Header != nullptr && JWS_HeaderGetAlgorithm(Header, &Id)) {
                if (HeaderNamesKey(Header)) {
                    Passed = JWS_CAX509Decode(Header, Store, Id, Text, InputSize, Signature, Reason);
                    if (!Passed && Reason == JWS_REFUSAL_UNTRUSTED && HeaderX5cTooLong(Header)) {
                        Reason = JWS_REFUSAL_HEADER;
                        Refusal->Header = X5cTooLong;
                    }
                } else if (Id <= JWS_ALGORITHM_HS512) {
                    Passed = JWS_HSDecode(Store, Id, Text, InputSize, Signature, Reason);
                } else {
                    Passed = JWS_CAKeyDecode(Store, Id, Text, InputSize, Signature, Reason);
                }
            } else if (Header != nullptr) {
                Dictionary_GetStringByKey(Header, "alg", Refusal->Algorithm, (int32)sizeof(Refusal->Algorithm));
            }
            if (!Passed) {
                Error = JSON_ERROR_AUTHENTICATE;
                Refusal->Reason = Reason;
            }
        }
        JSON_Release(&Reader);
        Dictionary_Release(&Scratch);
        if (Error != 0) {
            JSON_SetLastError(Json, Error);
            return FALSE;
        }
    }
    if (!ParseJson(Json, Payload)) return FALSE;
    if (Verify && Claims != nullptr) {
        Dictionary *Document = nullptr, *Root = nullptr;
        JSON_GetDictionaryHandle(Json, &Document);
        if (Document != nullptr) Dictionary_SkipRoot(Document, &Root);
        if (!JWSClaims_Validate(Claims, Root)) {
            Refusal->Reason = JWS_REFUSAL_CLAIMS;
            if (Document != nullptr) Dictionary_Reset(Document);
            return FALSE;
        }
    }
    return TRUE;
}
