// X.500 names and X.509 certificates (see x509.h).
#include "crypto/trust/x509.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "crypto/trust/x509_internal.h"

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

#include "crypto/digests/md2.h"
#include "crypto/digests/md4.h"
#include "crypto/digests/md5.h"
#include "crypto/digests/sha1.h"
#include "crypto/digests/sha256.h"
#include "crypto/digests/sha512.h"
#include "crypto/keys/asn1.h"
#include "crypto/keys/crypt_asymmetric.h"
#include "crypto/keys/ec.h"
#include "crypto/keys/rsa.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/text/base64.h"
#include "runtime/text/string.h"
#include "runtime/text/unicode.h"

struct X500 {
    ClassStruct Class;
    char O[X500_MAX_TEXT_LENGTH + 1];
    char OU[X500_MAX_TEXT_LENGTH + 1];
    char CN[X500_MAX_TEXT_LENGTH + 1];
    // The whole name as name matching compares it (MatchKey): equal keys,
    // equal names. Empty for an empty or unbuilt name.
    char *Key;
    uint32 KeyLength;
};

struct X509 {
    ClassStruct Class;
    ClassPrintStruct Print;
    uint8 *Der;
    uint32 DerLength;
    const uint8 *Signed; // the to-be-signed part, inside Der
    uint32 SignedLength;
    int32 Version; // 1 when the certificate carries no version field
    BigInt *Serial;
    X500 *Issuer;
    X500 *Subject;
    float64 NotBefore;
    float64 NotAfter;
    const HashInterface *SignatureHash;
    uint32 SignatureIsECDSA;
    uint8 *Signature;
    uint32 SignatureLength;
    ASN1 *Parser;
    CryptAsymmetric *Key;
    // Extensions that decide whether the certificate may issue others.
    uint32 HasExtensions;
    uint32 HasBasicConstraints;
    uint32 IsCA;
    uint32 HasKeyUsage;
    uint32 KeyCertSign;
    uint32 SignatureAt; // offset of the signature BIT STRING in Der
    char Refusal[160];  // why the last build failed; empty after a success
    // What a path evaluation needs (x509_path.cpp); the spans point into Der.
    int32 PathLength; // -1 without a pathLenConstraint
    uint32 UnknownCritical;
    uint32 AltNamesCritical;
    const uint8 *SubjectName, *IssuerName, *NameConstraints, *AltNames, *SubjectKeyId, *AuthorityKeyId;
    uint32 SubjectNameLength, IssuerNameLength, NameConstraintsLength, AltNamesLength, SubjectKeyIdLength,
        AuthorityKeyIdLength;
    // The names and subtrees the name-constraint checks compare, read once
    // by the build; null until a build succeeds that far.
    X509NameFacts *NameFacts;
};

#define X500_Check(Handle) Class_CheckHandle((Handle), X500_CLASSID)
#define X509_Check(Handle) Class_CheckHandle((Handle), X509_CLASSID)

namespace {

constexpr const char *OidCommonName = "2.5.4.3";
constexpr const char *OidOrganization = "2.5.4.10";
constexpr const char *OidOrganizationalUnit = "2.5.4.11";
constexpr const char *OidBasicConstraints = "2.5.29.19";
constexpr const char *OidKeyUsage = "2.5.29.15";
constexpr const char *OidSubjectAltName = "2.5.29.17";
constexpr const char *OidNameConstraints = "2.5.29.30";
constexpr const char *OidExtendedKeyUsage = "2.5.29.37";
constexpr const char *OidCertificatePolicies = "2.5.29.32";
constexpr const char *OidSubjectKeyIdentifier = "2.5.29.14";
constexpr const char *OidAuthorityKeyIdentifier = "2.5.29.35";
// Extensions that may be critical without refusing the certificate: those
// read here, extKeyUsage and certificatePolicies, which the basic policy
// (any purpose, any policy, no explicit policy asked for) leaves without
// effect on the decision.
constexpr const char *OidsUnderstood[] = {"2.5.29.19", "2.5.29.15", "2.5.29.17", "2.5.29.30", "2.5.29.37",
                                          "2.5.29.32"};
constexpr int32 OidTextSize = 320;
// keyUsage bit 5 (keyCertSign) in the first content byte of the BIT STRING.
constexpr uint8 KeyCertSignMask = 0x04;

constexpr int32 TypeBoolean = 1;
constexpr int32 TypeInteger = ASN1_TYPE_INTEGER;
constexpr int32 TypeBitString = ASN1_TYPE_BITSTRING;
constexpr int32 TypeOctetString = ASN1_TYPE_OCTETSTRING;

int32 X500_DeleteObject(void *HandleAddress) { return X500_Delete(static_cast<X500 **>(HandleAddress)); }
int32 X509_DeleteObject(void *HandleAddress) { return X509_Delete(static_cast<X509 **>(HandleAddress)); }

bool ParseOid(ASN1 *Node, char *Text) {
    Text[0] = 0;
    return Node != nullptr && ASN1_ParseOid(Node, Text, OidTextSize) && Text[0] != 0;
}

// Bytes per character of the string types a name's text is read from (0
// for UTF-8, whose characters vary in length); -1 for any other type.
int32 CharacterWidth(uint8 Tag) {
    switch (Tag) {
    case 0x0C: // UTF8String
        return 0;
    case 0x12: // NumericString, PrintableString, T61String, IA5String: Latin-1
    case 0x13:
    case 0x14:
    case 0x16:
        return 1;
    case 0x1E: // BMPString: UCS-2
        return 2;
    case 0x1C: // UniversalString: UCS-4
        return 4;
    default:
        return -1;
    }
}

bool IsUtf8(const uint8 *Bytes, size_t Length);

// The characters of a string Width bytes each (see CharacterWidth; a
// UTF-8 string is taken as it is) in UTF-8; false for a partial character
// (a length that is no multiple of Width, UTF-8 that is cut short or
// malformed) and for one that has no UTF-8 form.
bool ReadCharacters(int32 Width, std::span<const uint8> Content, std::string &Text) {
    Text.clear();
    if (Width < 0 || (Width > 1 && Content.size() % (size_t)Width != 0)) return false;
    if (Width == 0 && !IsUtf8(Content.data(), Content.size())) return false;
    if (Width == 0) Text.assign(Content.begin(), Content.end());
    for (size_t At = 0; Width != 0 && At < Content.size(); At += (size_t)Width) {
        uint32 Code = 0;
        for (size_t Index = 0; Index < (size_t)Width; Index++) Code = Code << 8 | Content[At + Index];
        char Encoded[8];
        int32 Written = 0;
        if (!CharUtf64_CopyToUtf8(Code, Encoded, (int32)sizeof(Encoded), &Written)) return false;
        Text.append(Encoded, (size_t)Written);
    }
    return true;
}

// Copies UTF-8 text into a buffer of Size bytes, cut at the boundary of a
// character: a cut inside one would leave bytes that are no UTF-8.
void CopyText(char *Output, std::string_view Text, int32 Size) {
    if (Size < 1) return;
    size_t Keep = std::min(Text.size(), (size_t)Size - 1);
    while (Keep > 0 && Keep < Text.size() && ((uint8)Text[Keep] & 0xC0) == 0x80) Keep--;
    memcpy(Output, Text.data(), Keep);
    Output[Keep] = 0;
}

// A name attribute's text in UTF-8, its characters read as openssl shows
// them. A zero character inside the value would cut the text short,
// so that "good.example\0.evil" read as "good.example": such a value is
// refused outright.
bool ParseNameText(ASN1 *Value, char *Text, int32 Size) {
    const uint8 *Bytes = ASN1_GetValuePtr(Value);
    const int32 Length = ASN1_GetValueSize(Value);
    uint8 Tag = 0;
    ASN1_GetTag(Value, &Tag);
    const int32 Width = CharacterWidth(Tag);
    if (Bytes == nullptr && Length != 0) return false;
    std::string Utf8;
    if (!ReadCharacters(Width, {Bytes, (size_t)Length}, Utf8) || Utf8.find('\0') != std::string::npos) return false;
    CopyText(Text, Utf8, Size);
    return true;
}

bool ElementCount(ASN1 *Node, int32 &Count) {
    Count = 0;
    return Node != nullptr && ASN1_GetElementCount(Node, &Count) && Count > 0;
}

// A SEQUENCE of Minimum to Maximum elements: a fixed structure holds what
// its definition allows and nothing more, so two readers cannot take one
// certificate for two different ones.
bool IsSequenceOf(ASN1 *Node, int32 Minimum, int32 Maximum) {
    int32 Count = 0;
    if (Node == nullptr || ASN1_GetType(Node) != ASN1_TYPE_SEQUENCE) return false;
    ASN1_GetElementCount(Node, &Count);
    return Count >= Minimum && Count <= Maximum;
}

// AlgorithmIdentifier ::= SEQUENCE { algorithm OBJECT IDENTIFIER, parameters ANY OPTIONAL }
bool IsAlgorithmIdentifier(ASN1 *Node) {
    return IsSequenceOf(Node, 1, 2) && ASN1_GetType(ASN1_GetElement(Node, 0)) == ASN1_TYPE_OID;
}

// Elements whose tags are among Allowed, each at most once and in its order.
bool InOrder(ASN1 *Sequence, std::initializer_list<uint8> Allowed) {
    int32 Count = 0;
    ASN1_GetElementCount(Sequence, &Count);
    auto Next = Allowed.begin();
    for (int32 Index = 0; Index < Count; Index++) {
        uint8 Tag = 0;
        ASN1_GetTag(ASN1_GetElement(Sequence, Index), &Tag);
        while (Next != Allowed.end() && *Next != Tag) ++Next;
        if (Next == Allowed.end()) return false;
        ++Next;
    }
    return true;
}

// The key's algorithm by its table's name; a key without a table (a parse
// that failed before its key) is neither.
bool KeyIs(CryptAsymmetric *Key, const char *Name) {
    const CryptAsymmetricInterface *Table = Key != nullptr ? CryptAsymmetric_GetInterface(Key) : nullptr;
    return Table != nullptr && strcmp(Table->Name, Name) == 0;
}

bool HasKey(CryptAsymmetric *Key) { return KeyIs(Key, "RSA") || KeyIs(Key, "ECDSA"); }

// The certificate signature algorithms taken: RSA (PKCS#1 v1.5) and ECDSA
// with each digest the system offers.
struct SignatureAlgorithm {
    const char *Oid;
    const HashInterface *Hash;
    bool Ecdsa;
};
constexpr SignatureAlgorithm SignatureAlgorithms[] = {
    {"1.2.840.113549.1.1.2", &MD2_INTERFACE, false},    {"1.2.840.113549.1.1.3", &MD4_INTERFACE, false},
    {"1.2.840.113549.1.1.4", &MD5_INTERFACE, false},    {"1.2.840.113549.1.1.5", &SHA1_INTERFACE, false},
    {"1.3.14.3.2.29", &SHA1_INTERFACE, false},          {"1.2.840.113549.1.1.14", &SHA224_INTERFACE, false},
    {"1.2.840.113549.1.1.11", &SHA256_INTERFACE, false}, {"1.2.840.113549.1.1.12", &SHA384_INTERFACE, false},
    {"1.2.840.113549.1.1.13", &SHA512_INTERFACE, false}, {"1.2.840.10045.4.1", &SHA1_INTERFACE, true},
    {"1.2.840.10045.4.3.1", &SHA224_INTERFACE, true},   {"1.2.840.10045.4.3.2", &SHA256_INTERFACE, true},
    {"1.2.840.10045.4.3.3", &SHA384_INTERFACE, true},   {"1.2.840.10045.4.3.4", &SHA512_INTERFACE, true},
};

// Curves an ECDSA issuer may sign on; the curve is the issuer's, so a
// signature's twin is looked for on each.
constexpr const char *CurveOids[] = {"1.3.132.0.31", "1.2.840.10045.3.1.1", "1.3.132.0.32", "1.3.132.0.33",
                                     "1.3.132.0.10", "1.2.840.10045.3.1.7", "1.3.132.0.34", "1.3.132.0.35"};

// Notes why the build fails and answers 0.
int32 Refuse(X509 *Handle, const char *Format, ...) {
    va_list Arguments;
    va_start(Arguments, Format);
    vsnprintf(Handle->Refusal, sizeof(Handle->Refusal), Format, Arguments);
    va_end(Arguments);
    return FALSE;
}

// Why a SubjectPublicKeyInfo gives no key: an RSA modulus outside the sizes
// this host checks is named with its size; anything else "cannot be read".
int32 RefuseKey(X509 *Handle, ASN1 *PublicKey) {
    char Oid[64] = "";
    ASN1_ParseOid(ASN1_GetElement(ASN1_GetElement(PublicKey, 0), 0), Oid, (int32)sizeof(Oid));
    ASN1 *Bits = ASN1_GetElement(PublicKey, 1);
    const uint8 *Content = ASN1_GetValuePtr(Bits);
    const int32 Size = ASN1_GetValueSize(Bits);
    int64 ModulusBits = 0;
    if (strcmp(Oid, "1.2.840.113549.1.1.1") == 0 && Content != nullptr && Size > 1 && Content[0] == 0) {
        // RSAPublicKey ::= SEQUENCE { modulus INTEGER, publicExponent INTEGER }
        ASN1 *Tree = nullptr;
        ASN1_Create(&Tree);
        ASN1 *Modulus =
            ASN1_Decode(Tree, Content + 1, Size - 1) ? ASN1_GetElement(ASN1_GetElement(Tree, 0), 0) : nullptr;
        const uint8 *Number = ASN1_GetValuePtr(Modulus);
        int32 Length = ASN1_GetValueSize(Modulus);
        if (Number != nullptr && ASN1_GetType(Modulus) == ASN1_TYPE_INTEGER) {
            while (Length > 0 && *Number == 0) Number++, Length--;
            if (Length > 0) ModulusBits = (int64)Length * 8 - __builtin_clz((uint32)*Number) + 24;
        }
        ASN1_Release(&Tree);
    }
    if (ModulusBits > RSA_MAX_MODULUS_BITS)
        return Refuse(Handle, "the RSA key of %lld bits is larger than the largest this host checks (%d bits)",
                      (long long)ModulusBits, RSA_MAX_MODULUS_BITS);
    if (ModulusBits > 0 && ModulusBits < RSA_MIN_MODULUS_BITS)
        return Refuse(Handle, "the RSA key of %lld bits is smaller than the smallest this host checks (%d bits)",
                      (long long)ModulusBits, RSA_MIN_MODULUS_BITS);
    return Refuse(Handle, "the public key cannot be read");
}

bool SameBytes(ASN1 *A, ASN1 *B) {
    return A != nullptr && B != nullptr && ASN1_GetNodeSize(A) == ASN1_GetNodeSize(B) &&
           memcmp(ASN1_GetNodePtr(A), ASN1_GetNodePtr(B), (size_t)ASN1_GetNodeSize(A)) == 0;
}

// Appends a DER element with a length in its shortest form.
void AppendElement(std::string &Out, uint8 Tag, const std::string &Content) {
    uint8 Header[8];
    const int32 Size = ASN1_EncodeHeader(Tag, (uint32)Content.size(), Header, (int32)sizeof(Header));
    Out.append((const char *)Header, (size_t)Size);
    Out += Content;
}

void ClearName(X500 *Name) {
    Name->O[0] = Name->OU[0] = Name->CN[0] = 0;
    if (Name->Key != nullptr) Name->Key = static_cast<char *>(Memory_Free(Name->Key, (int32)Name->KeyLength));
    Name->KeyLength = 0;
}

// Appends a piece of a match key with its length in front, so that no two
// different sequences of pieces make the same key.
void AppendPiece(std::string &Key, std::string_view Piece) {
    const uint32 Length = (uint32)Piece.size();
    for (int32 Shift = 24; Shift >= 0; Shift -= 8) Key += (char)(Length >> Shift & 0xFF);
    Key += Piece;
}

} // namespace

// Character strings are read as openssl reads them when it compares names:
// UTF8String as UTF-8; PrintableString, T61String and IA5String as
// Latin-1 (so a T61String "Caf\xE9" is the UTF8String "Caf\xC3\xA9");
// BMPString as UCS-2 and UniversalString as UCS-4; any other value as its
// encoding.
std::string X500_MatchValue(uint8 Tag, std::span<const uint8> Content, std::span<const uint8> Whole) {
    // openssl compares a NumericString as its encoding.
    const int32 Width = Tag == 0x12 ? -1 : CharacterWidth(Tag);
    const auto AsWhole = [&] { return std::string(1, '\1') + std::string(Whole.begin(), Whole.end()); };
    std::string Text;
    if (!ReadCharacters(Width, Content, Text)) return AsWhole();
    std::string Folded(1, '\0');
    bool Space = false;
    for (char Ch : Text) {
        if (Ch == ' ' || (Ch >= '\t' && Ch <= '\r')) {
            Space = Folded.size() > 1;
            continue;
        }
        if (Space) Folded += ' ';
        Space = false;
        Folded += Ch >= 'A' && Ch <= 'Z' ? (char)(Ch - 'A' + 'a') : Ch;
    }
    return Folded;
}

namespace {

// Well-formed UTF-8 (RFC 3629): no overlong form, no surrogate, nothing
// past U+10FFFF, no sequence cut short.
bool IsUtf8(const uint8 *Bytes, size_t Length) {
    for (size_t At = 0; At < Length;) {
        const uint8 Lead = Bytes[At];
        const size_t Count = Lead < 0x80                   ? 1
                             : Lead >= 0xC2 && Lead <= 0xDF ? 2
                             : Lead >= 0xE0 && Lead <= 0xEF ? 3
                             : Lead >= 0xF0 && Lead <= 0xF4 ? 4
                                                            : 0;
        if (Count == 0 || Length - At < Count) return false;
        uint32 Code = Count == 1 ? Lead : Lead & (0x7Fu >> Count);
        for (size_t Index = 1; Index < Count; Index++) {
            if ((Bytes[At + Index] & 0xC0) != 0x80) return false;
            Code = Code << 6 | (Bytes[At + Index] & 0x3F);
        }
        if ((Count == 3 && Code < 0x800) || (Count == 4 && (Code < 0x10000 || Code > 0x10FFFF)) ||
            (Code >= 0xD800 && Code <= 0xDFFF))
            return false;
        At += Count;
    }
    return true;
}

// A value openssl's name reader refuses fails the whole name there, so it
// fails it here too, or the two would take one certificate for two: the
// string types no name may hold (VideotexString, GraphicString,
// VisibleString, GeneralString), a UTF8String that is not UTF-8, and a
// BMPString or UniversalString that holds no whole number of characters or
// a code point no character has (compared as its encoding, such a value
// would match no subtree that names it, so an excluded name could pass).
bool NameValueReadable(ASN1 *Value) {
    uint8 Tag = 0;
    ASN1_GetTag(Value, &Tag);
    if (Tag == 0x15 || Tag == 0x19 || Tag == 0x1A || Tag == 0x1B) return false;
    const size_t Width = Tag == 0x1E ? 2 : Tag == 0x1C ? 4 : 0;
    if (Tag != 0x0C && Width == 0) return true;
    const uint8 *Bytes = ASN1_GetValuePtr(Value);
    const size_t Length = (size_t)ASN1_GetValueSize(Value);
    if (Bytes == nullptr) return Length == 0;
    if (Tag == 0x0C) return IsUtf8(Bytes, Length);
    if (Length % Width != 0) return false;
    for (size_t At = 0; At < Length; At += Width) {
        uint32 Code = 0;
        for (size_t Index = 0; Index < Width; Index++) Code = Code << 8 | Bytes[At + Index];
        if ((Code >= 0xD800 && Code <= 0xDFFF) || Code > 0x10FFFF) return false;
    }
    return true;
}

std::string MatchValue(ASN1 *Value) {
    uint8 Tag = 0;
    ASN1_GetTag(Value, &Tag);
    const uint8 *Bytes = ASN1_GetValuePtr(Value), *Node = ASN1_GetNodePtr(Value);
    const std::span<const uint8> Whole(Node, Node != nullptr ? (size_t)ASN1_GetNodeSize(Value) : 0);
    const size_t Length = (size_t)ASN1_GetValueSize(Value);
    // A value without content bytes to read is compared as its encoding.
    if (Bytes == nullptr && Length != 0) return X500_MatchValue(0, {}, Whole);
    return X500_MatchValue(Tag, std::span<const uint8>(Bytes, Bytes != nullptr ? Length : 0), Whole);
}

// The match key of a Name (SEQUENCE OF RDN, each a SET OF { type, value }):
// each RDN's attributes as type and matched value, in sorted order (a SET
// has no order), and the RDNs in theirs. False for a malformed name.
bool MatchKey(ASN1 *Name, std::string &Key) {
    int32 Count = 0;
    ASN1_GetElementCount(Name, &Count);
    for (int32 Index = 0; Index < Count; Index++) {
        ASN1 *Rdn = ASN1_GetElement(Name, Index);
        uint8 Tag = 0;
        int32 Size = 0;
        ASN1_GetTag(Rdn, &Tag);
        if (Tag != 0x31 || !ASN1_GetElementCount(Rdn, &Size) || Size < 1) return false;
        std::vector<std::string> Attributes;
        for (int32 At = 0; At < Size; At++) {
            ASN1 *Pair = ASN1_GetElement(Rdn, At), *Type = ASN1_GetElement(Pair, 0);
            int32 Parts = 0;
            ASN1_GetTag(Pair, &Tag);
            if (Tag != 0x30 || !ASN1_GetElementCount(Pair, &Parts) || Parts != 2) return false;
            ASN1_GetTag(Type, &Tag);
            if (Tag != 0x06 || ASN1_GetValuePtr(Type) == nullptr || !NameValueReadable(ASN1_GetElement(Pair, 1)))
                return false;
            std::string Attribute;
            const std::string_view Oid((const char *)ASN1_GetValuePtr(Type), (size_t)ASN1_GetValueSize(Type));
            AppendPiece(Attribute, Oid);
            AppendPiece(Attribute, MatchValue(ASN1_GetElement(Pair, 1)));
            Attributes.push_back(std::move(Attribute));
        }
        std::sort(Attributes.begin(), Attributes.end());
        std::string Set;
        for (const std::string &Attribute : Attributes) AppendPiece(Set, Attribute);
        AppendPiece(Key, Set);
    }
    return true;
}

// Clears what a parse fills, so that a handle can be built again.
void ResetParsed(X509 *Handle) {
    Handle->Signed = nullptr;
    Handle->SignedLength = 0;
    Handle->Version = 1;
    Handle->SignatureHash = nullptr;
    Handle->SignatureIsECDSA = 0;
    if (Handle->Signature != nullptr) Handle->Signature = static_cast<uint8 *>(Memory_Free(Handle->Signature, (int32)Handle->SignatureLength));
    Handle->SignatureLength = 0;
    Handle->NotBefore = Handle->NotAfter = 0;
    Handle->HasExtensions = Handle->HasBasicConstraints = Handle->IsCA = 0;
    Handle->HasKeyUsage = Handle->KeyCertSign = 0;
    Handle->SignatureAt = 0;
    Handle->Refusal[0] = 0;
    Handle->PathLength = -1;
    Handle->UnknownCritical = Handle->AltNamesCritical = 0;
    Handle->SubjectName = Handle->IssuerName = Handle->NameConstraints = Handle->AltNames = nullptr;
    Handle->SubjectKeyId = Handle->AuthorityKeyId = nullptr;
    Handle->SubjectNameLength = Handle->IssuerNameLength = Handle->NameConstraintsLength = Handle->AltNamesLength = 0;
    Handle->SubjectKeyIdLength = Handle->AuthorityKeyIdLength = 0;
    X509Path_FreeNameFacts(Handle->NameFacts);
    Handle->NameFacts = nullptr;
    for (X500 *Name : {Handle->Issuer, Handle->Subject}) ClearName(Name);
    BigInt_Reset(Handle->Serial);
    CryptAsymmetric_Release(&Handle->Key);
    CryptAsymmetric_Create(&Handle->Key);
}

// basicConstraints: SEQUENCE { cA BOOLEAN DEFAULT FALSE, pathLenConstraint
// INTEGER (0..MAX) OPTIONAL }. A negative or huge path length is unreadable.
bool ReadBasicConstraints(X509 *Handle, ASN1 *Sequence) {
    if (ASN1_GetType(Sequence) != ASN1_TYPE_SEQUENCE) return false;
    Handle->HasBasicConstraints = 1;
    int32 Count = 0, Next = 0;
    ASN1_GetElementCount(Sequence, &Count);
    ASN1 *First = ASN1_GetElement(Sequence, 0);
    if (Count > 0 && ASN1_GetType(First) == TypeBoolean) {
        Handle->IsCA = ASN1_GetValuePtr(First)[0] != 0;
        Next = 1;
    }
    if (Next < Count) {
        ASN1 *Limit = ASN1_GetElement(Sequence, Next++);
        uint32 Value = 0;
        if (ASN1_GetType(Limit) != TypeInteger || !ASN1_ParseInt32(Limit, &Value) || Value > (uint32)INT32_MAX ||
            (ASN1_GetValuePtr(Limit)[0] & 0x80) != 0)
            return false;
        Handle->PathLength = (int32)Value;
    }
    return Next == Count;
}

bool ReadKeyUsage(X509 *Handle, ASN1 *Bits) {
    if (ASN1_GetType(Bits) != TypeBitString) return false;
    Handle->HasKeyUsage = 1;
    const uint8 *Bytes = ASN1_GetValuePtr(Bits);
    Handle->KeyCertSign = ASN1_GetValueSize(Bits) >= 2 && (Bytes[1] & KeyCertSignMask) != 0;
    return true;
}

// A SEQUENCE of one or more elements, each passing Each.
template <typename Test> bool ReadList(ASN1 *Sequence, Test &&Each) {
    int32 Count = 0;
    if (ASN1_GetType(Sequence) != ASN1_TYPE_SEQUENCE || !ElementCount(Sequence, Count)) return false;
    for (int32 Index = 0; Index < Count; Index++)
        if (!Each(ASN1_GetElement(Sequence, Index))) return false;
    return true;
}

// A GeneralName: one of its nine tags, each in its own form.
bool IsGeneralName(ASN1 *Name) {
    uint8 Tag = 0;
    ASN1_GetTag(Name, &Tag);
    return Tag == 0xA0 || Tag == 0x81 || Tag == 0x82 || Tag == 0xA3 || Tag == 0xA4 || Tag == 0xA5 || Tag == 0x86 ||
           Tag == 0x87 || Tag == 0x88;
}

// The extension's value (the element inside extnValue) read for what it is;
// false when it does not parse. Extensions this reader does not know pass.
bool ReadExtensionValue(X509 *Handle, const char *Oid, ASN1 *Inner) {
    auto Keep = [&](const uint8 *&Bytes, uint32 &Length) {
        Bytes = ASN1_GetNodePtr(Inner);
        Length = (uint32)ASN1_GetNodeSize(Inner);
        return true;
    };
    if (strcmp(Oid, OidBasicConstraints) == 0) return ReadBasicConstraints(Handle, Inner);
    if (strcmp(Oid, OidKeyUsage) == 0) return ReadKeyUsage(Handle, Inner);
    if (strcmp(Oid, OidSubjectAltName) == 0)
        return ReadList(Inner, IsGeneralName) && Keep(Handle->AltNames, Handle->AltNamesLength);
    // Read with the names once the whole certificate is (X509Path_ReadNameFacts).
    if (strcmp(Oid, OidNameConstraints) == 0) return Keep(Handle->NameConstraints, Handle->NameConstraintsLength);
    // The key identifiers only order the candidates for an issuer, so one
    // that is absent or unreadable is left empty rather than refused.
    auto KeepContent = [](ASN1 *Node, uint8 Want, const uint8 *&Bytes, uint32 &Length) {
        uint8 Tag = 0;
        if (Node == nullptr || !ASN1_GetTag(Node, &Tag) || Tag != Want || ASN1_GetValuePtr(Node) == nullptr) return true;
        Bytes = ASN1_GetValuePtr(Node);
        Length = (uint32)ASN1_GetValueSize(Node);
        return true;
    };
    if (strcmp(Oid, OidSubjectKeyIdentifier) == 0)
        return KeepContent(Inner, 0x04, Handle->SubjectKeyId, Handle->SubjectKeyIdLength);
    // AuthorityKeyIdentifier ::= SEQUENCE { keyIdentifier [0],
    // authorityCertIssuer [1], authorityCertSerialNumber [2] }, each optional.
    if (strcmp(Oid, OidAuthorityKeyIdentifier) == 0)
        return IsSequenceOf(Inner, 0, 3) && InOrder(Inner, {0x80, 0xA1, 0x82}) &&
               KeepContent(ASN1_GetElement(Inner, 0), 0x80, Handle->AuthorityKeyId, Handle->AuthorityKeyIdLength);
    if (strcmp(Oid, OidExtendedKeyUsage) == 0)
        return ReadList(Inner, [](ASN1 *Purpose) { return ASN1_GetType(Purpose) == ASN1_TYPE_OID; });
    // PolicyInformation ::= SEQUENCE { policyIdentifier, policyQualifiers
    // SEQUENCE SIZE (1..MAX) OF SEQUENCE { policyQualifierId, qualifier } OPTIONAL }
    if (strcmp(Oid, OidCertificatePolicies) == 0)
        return ReadList(Inner, [](ASN1 *Policy) {
            ASN1 *Qualifiers = ASN1_GetElement(Policy, 1);
            return IsSequenceOf(Policy, 1, 2) && ASN1_GetType(ASN1_GetElement(Policy, 0)) == ASN1_TYPE_OID &&
                   (Qualifiers == nullptr || ReadList(Qualifiers, [](ASN1 *Qualifier) {
                        return IsSequenceOf(Qualifier, 2, 2) && ASN1_GetType(ASN1_GetElement(Qualifier, 0)) == ASN1_TYPE_OID;
                    }));
        });
    return true;
}

// [3] EXPLICIT Extensions: SEQUENCE SIZE (1..MAX) OF { extnID, critical
// BOOLEAN DEFAULT FALSE, extnValue OCTET STRING holding one DER element }.
// basicConstraints and keyUsage are read, the subject's alternative names
// and the name constraints kept for the path checks, a critical extension
// outside OidsUnderstood noted. An extension that comes twice or does not
// parse fails the certificate wherever it stands in a chain: which of two
// readers' instances counts, or what a malformed one means, is a guess.
bool ReadExtensions(X509 *Handle, ASN1 *Tagged) {
    Handle->HasExtensions = 1;
    if (Handle->Version != 3) return Refuse(Handle, "extensions in a version %d certificate", (int)Handle->Version);
    int32 Tagged1 = 0, Count = 0;
    ASN1_GetElementCount(Tagged, &Tagged1);
    ASN1 *List = ASN1_GetElement(Tagged, 0);
    if (Tagged1 != 1 || ASN1_GetType(List) != ASN1_TYPE_SEQUENCE || !ElementCount(List, Count))
        return Refuse(Handle, "an empty or malformed list of extensions");
    std::vector<std::string> Seen;
    for (int32 Index = 0; Index < Count; Index++) {
        ASN1 *Extension = ASN1_GetElement(List, Index);
        char Oid[OidTextSize];
        int32 Parts = 0;
        ASN1_GetElementCount(Extension, &Parts);
        if (ASN1_GetType(Extension) != ASN1_TYPE_SEQUENCE || Parts < 2 || Parts > 3)
            return Refuse(Handle, "extension %d is not an identifier, a critical flag and a value", (int)Index + 1);
        if (!ParseOid(ASN1_GetElement(Extension, 0), Oid))
            return Refuse(Handle, "extension %d has a malformed identifier", (int)Index + 1);
        if (std::find(Seen.begin(), Seen.end(), Oid) != Seen.end())
            return Refuse(Handle, "extension %s appears twice", Oid);
        Seen.emplace_back(Oid);
        ASN1 *Flag = Parts == 3 ? ASN1_GetElement(Extension, 1) : nullptr;
        ASN1 *Value = ASN1_GetElement(Extension, Parts - 1);
        if (Flag != nullptr && ASN1_GetType(Flag) != TypeBoolean)
            return Refuse(Handle, "extension %s has no BOOLEAN where its critical flag goes", Oid);
        if (ASN1_GetType(Value) != TypeOctetString)
            return Refuse(Handle, "extension %s has no OCTET STRING as its value", Oid);
        const char *Fault = nullptr;
        ASN1 *Inner = ASN1_GetElement(Value, 0);
        if (!ASN1_CheckDer(ASN1_GetValuePtr(Value), ASN1_GetValueSize(Value), &Fault) || Inner == nullptr)
            return Refuse(Handle, "extension %s holds no single DER value (%s)", Oid, Fault ? Fault : "too deep");
        if (!ReadExtensionValue(Handle, Oid, Inner)) return Refuse(Handle, "extension %s does not parse", Oid);
        const bool Critical = Flag != nullptr && ASN1_GetValuePtr(Flag)[0] != 0;
        if (strcmp(Oid, OidSubjectAltName) == 0) Handle->AltNamesCritical = Critical;
        if (Critical && std::none_of(std::begin(OidsUnderstood), std::end(OidsUnderstood),
                                     [&](const char *Known) { return strcmp(Known, Oid) == 0; }))
            Handle->UnknownCritical = 1;
    }
    return true;
}

int32 X509_BuildInt(X509 *Handle) {
    X509_ParseCounts().Certificates++;
    ResetParsed(Handle);
    ASN1_Reset(Handle->Parser);
    // A certificate is read as DER and nothing else. Every other encoding of
    // the same signed bytes (a longer length, bytes after the end, other
    // parameters on the outer algorithm) would be a certificate with another
    // thumbprint that still verifies, and so slip past a deny list.
    const char *Fault = nullptr;
    if (!ASN1_CheckDer(Handle->Der, (int32)Handle->DerLength, &Fault)) return Refuse(Handle, "not DER: %s", Fault);
    if (!ASN1_Decode(Handle->Parser, Handle->Der, (int32)Handle->DerLength)) return FALSE;
    ASN1 *Certificate = ASN1_GetElement(Handle->Parser, 0);
    ASN1 *Signed = ASN1_GetElement(Certificate, 0);
    int32 Count = 0, Outer = 0;
    ASN1_GetElementCount(Certificate, &Outer);
    if (ASN1_GetType(Certificate) != ASN1_TYPE_SEQUENCE || Outer != 3 || !ElementCount(Signed, Count) ||
        ASN1_GetType(Signed) != ASN1_TYPE_SEQUENCE)
        return Refuse(Handle, "not a certificate: a SEQUENCE of the signed part, an algorithm and a signature");
    Handle->Signed = ASN1_GetNodePtr(Signed);
    Handle->SignedLength = (uint32)ASN1_GetNodeSize(Signed);

    int32 Field = 0;
    ASN1 *First = ASN1_GetElement(Signed, 0);
    uint8 Tag = 0;
    ASN1_GetTag(First, &Tag);
    ASN1 *VersionNode = ASN1_GetElement(First, 0);
    if (Tag == 0xA0 && VersionNode != nullptr && ASN1_GetType(VersionNode) == TypeInteger) {
        uint32 Version = 0;
        int32 Tagged = 0;
        ASN1_GetElementCount(First, &Tagged);
        if (Tagged != 1) return Refuse(Handle, "the version holds more than an INTEGER");
        if (!ASN1_ParseInt32(VersionNode, &Version) || Version > 2) return FALSE;
        Handle->Version = (int32)Version + 1;
        Field = 1;
    }
    if (Count < Field + 6 || Count > Field + 9) return Refuse(Handle, "the signed part has %d fields", (int)Count);
    ASN1 *Serial = ASN1_GetElement(Signed, Field);
    if (ASN1_GetType(Serial) != TypeInteger || ASN1_GetValueSize(Serial) < 1)
        return Refuse(Handle, "the serial number is not an INTEGER of one byte or more");
    if (!ASN1_ParseBigInt(Serial, Handle->Serial)) return FALSE;

    // The algorithm outside the signed part is the one inside, byte for byte.
    char Inner[OidTextSize];
    ASN1 *Algorithm = ASN1_GetElement(Signed, Field + 1);
    if (!SameBytes(Algorithm, ASN1_GetElement(Certificate, 1)))
        return Refuse(Handle, "the signature algorithm differs from the one signed");
    if (!IsAlgorithmIdentifier(Algorithm) || !ParseOid(ASN1_GetElement(Algorithm, 0), Inner))
        return Refuse(Handle, "the signature algorithm is malformed");
    const auto Known = std::find_if(std::begin(SignatureAlgorithms), std::end(SignatureAlgorithms),
                                    [&](const SignatureAlgorithm &Row) { return strcmp(Row.Oid, Inner) == 0; });
    if (Known == std::end(SignatureAlgorithms)) {
        // The family's own message for a family other than RSA and ECDSA.
        if (strncmp(Inner, "1.2.840.113549.1.1.", 19) != 0 && strncmp(Inner, "1.2.840.10045.4.", 16) != 0)
            X509_VerboseLog(Handle, "Unsupported crypto algorithm %s", Inner);
        return Refuse(Handle, "signature algorithm %s is not supported", Inner);
    }
    Handle->SignatureHash = Known->Hash;
    Handle->SignatureIsECDSA = Known->Ecdsa;

    // The signature: a BIT STRING without unused bits and with at least one
    // byte of signature behind its count byte.
    ASN1 *Signature = ASN1_GetElement(Certificate, 2);
    const uint8 *Bits = ASN1_GetValuePtr(Signature);
    const int32 BitsLength = ASN1_GetValueSize(Signature);
    if (Signature == nullptr || ASN1_GetType(Signature) != TypeBitString || BitsLength < 2 || Bits[0] != 0)
        return Refuse(Handle, "the signature is not a BIT STRING of whole bytes");
    Handle->SignatureAt = (uint32)(ASN1_GetNodePtr(Signature) - Handle->Der);
    Handle->SignatureLength = (uint32)(BitsLength - 1);
    Handle->Signature = static_cast<uint8 *>(Memory_Alloc(BitsLength - 1));
    memcpy(Handle->Signature, Bits + 1, (size_t)(BitsLength - 1));

    ASN1 *IssuerName = ASN1_GetElement(Signed, Field + 2), *SubjectName = ASN1_GetElement(Signed, Field + 4);
    // An issuer is never an empty name; a subject may be, when the names
    // the certificate answers for are in a critical subjectAltName.
    if (!X500_Build(Handle->Issuer, IssuerName)) return Refuse(Handle, "the issuer is not a readable name");
    if (Handle->Issuer->KeyLength == 0) return FALSE;
    Handle->IssuerName = ASN1_GetNodePtr(IssuerName);
    Handle->IssuerNameLength = (uint32)ASN1_GetNodeSize(IssuerName);
    ASN1 *Validity = ASN1_GetElement(Signed, Field + 3);
    // Validity ::= SEQUENCE { notBefore Time, notAfter Time }, each a
    // UTCTime or a GeneralizedTime.
    const auto IsTime = [](ASN1 *Time) {
        uint8 TimeTag = 0;
        return ASN1_GetTag(Time, &TimeTag) && (TimeTag == 0x17 || TimeTag == 0x18);
    };
    if (!IsSequenceOf(Validity, 2, 2) || !IsTime(ASN1_GetElement(Validity, 0)) || !IsTime(ASN1_GetElement(Validity, 1)))
        return Refuse(Handle, "the validity is not two times");
    ASN1_ParseUTCTime(ASN1_GetElement(Validity, 0), &Handle->NotBefore);
    ASN1_ParseUTCTime(ASN1_GetElement(Validity, 1), &Handle->NotAfter);
    if (!X500_Build(Handle->Subject, SubjectName)) return Refuse(Handle, "the subject is not a readable name");
    Handle->SubjectName = ASN1_GetNodePtr(SubjectName);
    Handle->SubjectNameLength = (uint32)ASN1_GetNodeSize(SubjectName);
    // SubjectPublicKeyInfo ::= SEQUENCE { algorithm AlgorithmIdentifier, subjectPublicKey BIT STRING }
    ASN1 *PublicKey = ASN1_GetElement(Signed, Field + 5);
    if (!IsSequenceOf(PublicKey, 2, 2) || !IsAlgorithmIdentifier(ASN1_GetElement(PublicKey, 0)))
        return Refuse(Handle, "the public key is not an algorithm and a key");
    if (!CryptAsymmetric_SetPublicKeyFromASN1(Handle->Key, PublicKey)) return RefuseKey(Handle, PublicKey);
    // issuerUniqueID [1], subjectUniqueID [2] (version 2 or 3), then the
    // extensions [3], each at most once and in that order.
    uint8 Last = 0;
    for (int32 Index = Field + 6; Index < Count; Index++) {
        ASN1 *Optional = ASN1_GetElement(Signed, Index);
        ASN1_GetTag(Optional, &Tag);
        if ((Tag != 0x81 && Tag != 0x82 && Tag != 0xA3) || Tag <= Last || Handle->Version < 2)
            return Refuse(Handle, "an unexpected field after the public key");
        Last = Tag;
        if (Tag == 0xA3 && !ReadExtensions(Handle, Optional)) return FALSE;
    }
    Handle->NameFacts = X509Path_ReadNameFacts(
        {Handle->SubjectName, Handle->SubjectNameLength}, X500_GetMatchKey(Handle->Subject),
        {Handle->AltNames, Handle->AltNamesLength}, {Handle->NameConstraints, Handle->NameConstraintsLength});
    if (Handle->NameFacts == nullptr) return Refuse(Handle, "extension %s does not parse", OidNameConstraints);
    // With an empty subject the names the certificate answers for are all
    // in its subjectAltName, which a reader must not be free to skip.
    if (Handle->Subject->KeyLength == 0 && !Handle->AltNamesCritical)
        return Refuse(Handle, "an empty subject without a critical subjectAltName");
    return TRUE;
}

// Replaces the kept DER with a copy of Bytes.
int32 X509_CopyASN1(X509 *Handle, const void *Bytes, uint32 Length) {
    if (Handle->Der != nullptr) Handle->Der = static_cast<uint8 *>(Memory_Free(Handle->Der, (int32)Handle->DerLength));
    Handle->DerLength = 0;
    if (Bytes == nullptr || Length == 0 || Length > (uint32)INT32_MAX) return FALSE;
    Handle->Der = static_cast<uint8 *>(Memory_Alloc((int32)Length));
    memcpy(Handle->Der, Bytes, Length);
    Handle->DerLength = Length;
    return TRUE;
}

int32 CopyAndBuild(X509 *Handle, const void *Bytes, uint32 Length) {
    const int32 Result = X509_CopyASN1(Handle, Bytes, Length) ? X509_BuildInt(Handle) : FALSE;
    std::string Why = Handle->Refusal[0] != 0 ? Handle->Refusal
                      : Handle->Der == nullptr ? "no bytes" : "the certificate's fields cannot be read";
    // The tree points into the copy; only the copy is kept. Bytes that are
    // not a certificate give the handle no identity to match a thumbprint
    // or an anchor with.
    ASN1_Reset(Handle->Parser);
    if (!Result) {
        ResetParsed(Handle); // nothing may point into the freed copy
        X509_CopyASN1(Handle, nullptr, 0);
        Refuse(Handle, "%s", Why.c_str());
        X509_VerboseLog(Handle, "Certificate refused: %s", Handle->Refusal);
    }
    return Result;
}

void DumpThumbprint(X509 *Handle, const HashInterface *Interface, const char *Hex, const char *Base64) {
    uint8 Digest[HASH_MAX_DIGEST_SIZE];
    if (!X509_Thumbprint(Handle, Interface, Digest, (int32)sizeof(Digest))) return;
    char Text[2 * HASH_MAX_DIGEST_SIZE + 1];
    int32 Written = 0;
    if (Hex != nullptr &&
        Hash_ConvertDigestToString(Digest, (int32)Interface->DigestSize, HASH_STRING_PLAIN, Text, (int32)sizeof(Text)))
        X509_Print(Handle, Hex, Text);
    if (Base64 != nullptr && Base64_Encode(Digest, (int32)Interface->DigestSize, Text, (int32)sizeof(Text), &Written))
        X509_Print(Handle, Base64, Text);
}

} // namespace

// ---- X500 ----

int32 X500_Create(X500 **Handle) {
    Debug_CheckPointer(Handle);
    X500 *Name = Memory_New(X500);
    Class_InitHeader(Name, X500_CLASSID, X500_DeleteObject);
    *Handle = Name;
    return TRUE;
}

int32 X500_Delete(X500 **Handle) {
    Debug_CheckPointer(Handle);
    X500_Check(*Handle);
    ClearName(*Handle);
    Memory_Delete(*Handle);
    return TRUE;
}

CLASS_DEFINE_REFERENCE(X500, X500, X500_CLASSID)

int32 X500_Build(X500 *Handle, ASN1 *Name) {
    X500_Check(Handle);
    ClearName(Handle);
    int32 Count = 0;
    std::string Key;
    if (Name == nullptr || ASN1_GetType(Name) != ASN1_TYPE_SEQUENCE || !MatchKey(Name, Key)) return FALSE;
    ASN1_GetElementCount(Name, &Count);
    for (int32 Index = 0; Index < Count; Index++) {
        ASN1 *Attribute = ASN1_GetElement(ASN1_GetElement(Name, Index), 0);
        char Oid[OidTextSize];
        if (!ParseOid(ASN1_GetElement(Attribute, 0), Oid)) continue;
        char *Field = strcmp(Oid, OidCommonName) == 0           ? Handle->CN
                      : strcmp(Oid, OidOrganization) == 0       ? Handle->O
                      : strcmp(Oid, OidOrganizationalUnit) == 0 ? Handle->OU
                                                                : nullptr;
        if (Field == nullptr) continue;
        ASN1 *Value = ASN1_GetElement(Attribute, 1);
        if (Value == nullptr || !ParseNameText(Value, Field, X500_MAX_TEXT_LENGTH + 1)) {
            ClearName(Handle);
            return FALSE;
        }
    }
    if (!Key.empty()) {
        Handle->Key = static_cast<char *>(Memory_Alloc((int32)Key.size()));
        memcpy(Handle->Key, Key.data(), Key.size());
        Handle->KeyLength = (uint32)Key.size();
    }
    return TRUE;
}

#define X500_GETTER(Field)                                               \
    int32 X500_Get##Field(X500 *Handle, char *Output, int32 Size) {      \
        X500_Check(Handle);                                              \
        Debug_CheckPointer(Output);                                      \
        CopyText(Output, Handle->Field, Size);                           \
        return TRUE;                                                     \
    }
X500_GETTER(O)
X500_GETTER(OU)
X500_GETTER(CN)
#undef X500_GETTER

int32 X500_Compare(X500 *A, X500 *B) {
    X500_Check(A);
    X500_Check(B);
    return A->KeyLength == B->KeyLength && (A->KeyLength == 0 || memcmp(A->Key, B->Key, A->KeyLength) == 0);
}

bool X500_MatchKeyOf(std::span<const uint8> Whole, std::string &Key) {
    Key.clear();
    if (Whole.empty() || Whole.size() > (size_t)INT32_MAX) return false;
    ASN1 *Tree = nullptr;
    ASN1_Create(&Tree);
    int32 Count = 0;
    ASN1 *Name = ASN1_Decode(Tree, Whole.data(), (int32)Whole.size()) ? ASN1_GetElement(Tree, 0) : nullptr;
    ASN1_GetElementCount(Tree, &Count);
    const bool Read = Name != nullptr && Count == 1 && ASN1_GetType(Name) == ASN1_TYPE_SEQUENCE && MatchKey(Name, Key);
    ASN1_Release(&Tree);
    return Read;
}

std::string_view X500_GetMatchKey(X500 *Handle) {
    X500_Check(Handle);
    return std::string_view(Handle->Key, Handle->KeyLength);
}

// ---- X509 ----

CLASS_DEFINE_REFERENCE(X509, X509, X509_CLASSID)
CLASSPRINT_DEFINE(X509, X509, X509_CLASSID, "X509", Print)

int32 X509_VerboseLog(X509 *Handle, const char *Format, ...) {
    X509_Check(Handle);
    if (!X509_IsVerboseLevel(Handle, 0)) return FALSE;
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = X509_VPrint(Handle, 0, Format, Arguments);
    va_end(Arguments);
    return Result;
}

int32 X509_Create(X509 **Handle) {
    Debug_CheckPointer(Handle);
    X509 *Certificate = Memory_New(X509);
    Class_InitHeader(Certificate, X509_CLASSID, X509_DeleteObject);
    Certificate->Version = 1;
    BigInt_Create(&Certificate->Serial);
    X500_Create(&Certificate->Issuer);
    X500_Create(&Certificate->Subject);
    ASN1_Create(&Certificate->Parser);
    CryptAsymmetric_Create(&Certificate->Key);
    *Handle = Certificate;
    return TRUE;
}

int32 X509_Delete(X509 **Handle) {
    Debug_CheckPointer(Handle);
    X509 *Certificate = *Handle;
    X509_Check(Certificate);
    if (Certificate->Der != nullptr) Memory_Free(Certificate->Der, (int32)Certificate->DerLength);
    if (Certificate->Signature != nullptr) Memory_Free(Certificate->Signature, (int32)Certificate->SignatureLength);
    BigInt_Delete(&Certificate->Serial);
    X500_Release(&Certificate->Issuer);
    X500_Release(&Certificate->Subject);
    ASN1_Delete(&Certificate->Parser);
    CryptAsymmetric_Release(&Certificate->Key);
    X509Path_FreeNameFacts(Certificate->NameFacts);
    Memory_Delete(*Handle);
    return TRUE;
}

int32 X509_Build(X509 *Handle, ASN1 *Node) {
    X509_Check(Handle);
    if (Node == nullptr) return FALSE;
    return CopyAndBuild(Handle, ASN1_GetNodePtr(Node), (uint32)ASN1_GetNodeSize(Node));
}

int32 X509_BuildFromBuffer(X509 *Handle, const void *Bytes, uint32 Length) {
    X509_Check(Handle);
    return CopyAndBuild(Handle, Bytes, Length);
}

int32 X509_BuildFromBase64(X509 *Handle, const char *Text, int32 Length) {
    X509_Check(Handle);
    Debug_CheckPointer(Text);
    std::string Clean;
    for (int32 Index = 0; Index < Length && Text[Index] != 0; Index++)
        if (Text[Index] != '\r' && Text[Index] != '\n') Clean += Text[Index];
    int32 Size = 0, Written = 0;
    Base64_CalculateDecodeSize((int32)Clean.size(), &Size);
    MemoryScope<uint8> Bytes(Size);
    if (Clean.empty() || !Base64_Decode(Clean.c_str(), (int32)Clean.size(), Bytes.Get(), Size, &Written)) return FALSE;
    return CopyAndBuild(Handle, Bytes.Get(), (uint32)Written);
}

int32 X509_Copy(X509 *Destination, X509 *Source) {
    X509_Check(Destination);
    X509_Check(Source);
    return CopyAndBuild(Destination, Source->Der, Source->DerLength);
}

int32 X509_VerifyIssued(X509 *Issuer, X509 *Subject) {
    X509_Check(Issuer);
    X509_Check(Subject);
    if (Subject->SignatureHash == nullptr || Subject->Signed == nullptr) return FALSE;
    // The signature's family must be the key's: an RSA signature is never
    // checked with an EC key, nor the other way round.
    if (!KeyIs(Issuer->Key, Subject->SignatureIsECDSA ? "ECDSA" : "RSA")) return FALSE;
    Hash *Digest = nullptr;
    Hash_Create(&Digest);
    Hash_SetInterface(Digest, Subject->SignatureHash);
    int32 Result = FALSE;
    if (!Hash_Process(Digest, Subject->Signed, Subject->SignedLength, nullptr))
        X509_VerboseLog(Subject, "Hash process failed");
    else if (!Hash_Generate(Digest))
        X509_VerboseLog(Subject, "Hash generate failed");
    else
        Result = X509_VerifyHash(Issuer, Digest, Subject->Signature, Subject->SignatureLength);
    Hash_Delete(&Digest);
    return Result;
}

int32 X509_VerifyHash(X509 *Handle, Hash *Digest, const void *Signature, uint32 Length) {
    X509_Check(Handle);
    uint8 Bytes[HASH_MAX_DIGEST_SIZE];
    const int32 Size = Hash_GetDigestSize(Digest);
    if (Size <= 0 || Size > (int32)sizeof(Bytes) || !Hash_GetDigest(Digest, Bytes, (int32)sizeof(Bytes))) {
        X509_VerboseLog(Handle, "Failed to get digest");
        return FALSE;
    }
    return X509_VerifyDigest(Handle, Bytes, (uint32)Size, Signature, Length, RSA_SIGNATURE_VERSION_PCS21);
}

int32 X509_VerifyDigest(X509 *Handle, const void *Digest, uint32 DigestLength, const void *Signature,
                        uint32 SignatureLength, int32 Version) {
    X509_Check(Handle);
    if (Signature == nullptr || SignatureLength == 0 || SignatureLength > (uint32)INT32_MAX ||
        DigestLength > HASH_MAX_DIGEST_SIZE || !HasKey(Handle->Key) ||
        !CryptAsymmetric_Verify(Handle->Key, Digest, (int32)DigestLength, Signature, (int32)SignatureLength, Version)) {
        X509_VerboseLog(Handle, "Verify signature failed");
        return FALSE;
    }
    return TRUE;
}

int32 X509_Encrypt(X509 *Handle, const void *Data, int32 Size, void *Output, int32 OutputSize, int32 *Written) {
    X509_Check(Handle);
    if (!HasKey(Handle->Key)) return FALSE;
    return CryptAsymmetric_PublicKeyEncrypt(Handle->Key, Data, Size, Output, OutputSize, Written);
}

int32 X509_CanIssue(X509 *Handle) {
    X509_Check(Handle);
    if (Handle->Signed == nullptr) return FALSE;
    if (Handle->HasBasicConstraints) return Handle->IsCA && (!Handle->HasKeyUsage || Handle->KeyCertSign);
    // Without basicConstraints only an old root may issue: a certificate
    // without extensions that names itself as issuer.
    return !Handle->HasExtensions && Handle->Version < 3 && X500_Compare(Handle->Issuer, Handle->Subject);
}

int32 X509_Compare(X509 *A, X509 *B) {
    X509_Check(A);
    X509_Check(B);
    return A->DerLength == B->DerLength && A->Der != nullptr && B->Der != nullptr &&
           memcmp(A->Der, B->Der, A->DerLength) == 0;
}

int32 X509_CompareByIssuerAndSerialNumber(X509 *Handle, X500 *Issuer, BigInt *Serial) {
    X509_Check(Handle);
    return X500_Compare(Handle->Issuer, Issuer) && BigInt_Equal(Handle->Serial, Serial);
}

int32 X509_CompareIssuer(X509 *Handle, X509 *Candidate) {
    X509_Check(Handle);
    X509_Check(Candidate);
    return X500_Compare(Handle->Issuer, Candidate->Subject);
}

int32 X509_GetASN1(X509 *Handle, const uint8 **Der, uint32 *Length) {
    X509_Check(Handle);
    Debug_CheckPointer(Der);
    Debug_CheckPointer(Length);
    *Der = Handle->Der;
    *Length = Handle->DerLength;
    return Handle->Der != nullptr;
}

int32 X509_GetHashInterface(X509 *Handle, const HashInterface **Interface) {
    X509_Check(Handle);
    Debug_CheckPointer(Interface);
    *Interface = Handle->SignatureHash;
    return Handle->SignatureHash != nullptr;
}

int32 X509_Thumbprint(X509 *Handle, const HashInterface *Interface, void *Output, int32 Size) {
    X509_Check(Handle);
    Debug_CheckPointer(Interface);
    if (Handle->Der == nullptr || Size < (int32)Interface->DigestSize) return FALSE;
    return Hash_QuickDigest(Interface, Handle->Der, Handle->DerLength, Output, Size);
}

int32 X509_GetCryptAsymmetricHandle(X509 *Handle, CryptAsymmetric **Key) {
    X509_Check(Handle);
    Debug_CheckPointer(Key);
    *Key = Handle->Key;
    return HasKey(Handle->Key);
}

int32 X509_GetSubjectHandle(X509 *Handle, X500 **Name) {
    X509_Check(Handle);
    Debug_CheckPointer(Name);
    *Name = Handle->Subject;
    return TRUE;
}

int32 X509_GetIssuerHandle(X509 *Handle, X500 **Name) {
    X509_Check(Handle);
    Debug_CheckPointer(Name);
    *Name = Handle->Issuer;
    return TRUE;
}

int32 X509_GetSerialNumberHandle(X509 *Handle, BigInt **Serial) {
    X509_Check(Handle);
    Debug_CheckPointer(Serial);
    *Serial = Handle->Serial;
    return TRUE;
}

int32 X509_GetVersion(X509 *Handle, int32 *Version) {
    X509_Check(Handle);
    Debug_CheckPointer(Version);
    *Version = Handle->Version;
    return TRUE;
}

int32 X509_Dump(X509 *Handle) {
    X509_Check(Handle);
    char Text[240];
    const struct {
        const char *Format;
        const char *Value;
    } Names[] = {{"Common Name - %s", Handle->Subject->CN},
                 {"Organization - %s", Handle->Subject->O},
                 {"Organization Unit - %s", Handle->Subject->OU}};
    for (const auto &Name : Names) {
        if (Name.Value[0] == 0) continue;
        CopyText(Text, Name.Value, (int32)sizeof(Text));
        X509_Print(Handle, Name.Format, Text);
    }
    char Serial[2 * 1024 + 1] = "";
    BigInt_ExportHex(Handle->Serial, Serial, (int32)sizeof(Serial));
    X509_Print(Handle, "Serial Number - %s", Serial);
    DumpThumbprint(Handle, &SHA1_INTERFACE, "SHA1 Thumbprint - %s", nullptr);
    DumpThumbprint(Handle, &SHA256_INTERFACE, "SHA256 Thumbprint - %s", nullptr);
    DumpThumbprint(Handle, &SHA1_INTERFACE, nullptr, "SHA1 Base64 Thumbprint - %s");
    DumpThumbprint(Handle, &SHA256_INTERFACE, nullptr, "SHA256 Base64 Thumbprint - %s");
    return TRUE;
}

bool X509_GetPathFacts(X509 *Handle, X509PathFacts &Facts) {
    X509_Check(Handle);
    if (Handle->Signed == nullptr || Handle->SubjectName == nullptr || Handle->IssuerName == nullptr) return false;
    Facts.Subject = {Handle->SubjectName, Handle->SubjectNameLength};
    Facts.Issuer = {Handle->IssuerName, Handle->IssuerNameLength};
    Facts.NameConstraints = {Handle->NameConstraints, Handle->NameConstraintsLength};
    Facts.AltNames = {Handle->AltNames, Handle->AltNamesLength};
    Facts.SubjectKeyId = {Handle->SubjectKeyId, Handle->SubjectKeyIdLength};
    Facts.AuthorityKeyId = {Handle->AuthorityKeyId, Handle->AuthorityKeyIdLength};
    Facts.PathLength = Handle->PathLength;
    Facts.UnknownCritical = Handle->UnknownCritical != 0;
    Facts.SignatureHash = Handle->SignatureHash;
    Facts.Names = Handle->NameFacts;
    return Handle->NameFacts != nullptr;
}

int32 X509_GetRefusal(X509 *Handle, const char **Reason) {
    X509_Check(Handle);
    Debug_CheckPointer(Reason);
    *Reason = Handle->Refusal;
    return Handle->Refusal[0] != 0;
}

std::vector<std::string> X509_EcdsaTwins(X509 *Handle) {
    X509_Check(Handle);
    std::vector<std::string> Twins;
    if (!Handle->SignatureIsECDSA || Handle->Signature == nullptr || Handle->Signed == nullptr) return Twins;
    ASN1 *Tree = nullptr;
    ASN1_Create(&Tree);
    BigInt *S = nullptr, *Other = nullptr;
    BigInt_Create(&S);
    BigInt_Create(&Other);
    EC *Curve = nullptr;
    EC_Create(&Curve);
    ASN1 *Pair = ASN1_Decode(Tree, Handle->Signature, (int32)Handle->SignatureLength) ? ASN1_GetElement(Tree, 0) : nullptr;
    ASN1 *R = ASN1_GetElement(Pair, 0);
    if (ASN1_GetType(R) == TypeInteger && ASN1_ParseBigInt(ASN1_GetElement(Pair, 1), S) && !BigInt_IsZero(S)) {
        // Everything before the signature stays: the outer header is rebuilt,
        // as the twin's length may differ.
        const size_t HeaderSize = (size_t)(Handle->Signed - Handle->Der);
        const std::string Before((const char *)Handle->Signed, Handle->SignatureAt - HeaderSize),
            First((const char *)ASN1_GetNodePtr(R), (size_t)ASN1_GetNodeSize(R));
        for (const char *Oid : CurveOids) {
            uint8 Encoded[200];
            if (!EC_InitParams(Curve, Oid) || BigInt_Compare(S, EC_GetN(Curve)) >= 0) continue;
            BigInt_Subtract(Other, EC_GetN(Curve), S);
            const int32 Size = ASN1_EncodeBigInt(nullptr, Other, Encoded, (int32)sizeof(Encoded));
            if (Size <= 0) continue;
            std::string Signature, Bits(1, '\0'), Body = Before, Twin;
            AppendElement(Signature, 0x30, First + std::string((const char *)Encoded, (size_t)Size));
            AppendElement(Body, 0x03, Bits + Signature);
            AppendElement(Twin, 0x30, Body);
            Twins.push_back(std::move(Twin));
        }
    }
    EC_Release(&Curve);
    BigInt_Delete(&Other);
    BigInt_Delete(&S);
    ASN1_Release(&Tree);
    return Twins;
}
