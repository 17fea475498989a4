// PKCS#7 SignedData: see pkcs7.h.
#include "crypto/trust/pkcs7.h"

#include <stdarg.h>
#include <string.h>

#include <string>
#include <vector>

#include "crypto/crypt.h"
#include "crypto/keys/asn1.h"
#include "crypto/keys/big_int.h"
#include "crypto/keys/rsa.h"
#include "crypto/trust/x509.h"
#include "crypto/trust/x509_chain.h"
#include "runtime/memory.h"

namespace {

constexpr const char *SignedDataOid = "1.2.840.113549.1.7.2";
constexpr const char *IndirectDataOid = "1.3.6.1.4.1.311.2.1.4";
constexpr const char *MessageDigestOid = "1.2.840.113549.1.9.4";
constexpr uint8 TagContext0 = 0xa0;
constexpr uint8 TagContext1 = 0xa1;
constexpr uint8 TagOctetString = 0x04;
constexpr uint8 TagConstructedOctetString = 0x24;
// PKCS7_Verify's digest buffer.
constexpr uint32 DigestBuffer = 1024;

uint8 TagOf(ASN1 *Node) {
    uint8 Tag = 0;
    if (Node != nullptr) ASN1_GetTag(Node, &Tag);
    return Tag;
}

bool OidIs(ASN1 *Node, const char *Oid) {
    char Text[64];
    return Node != nullptr && ASN1_GetType(Node) == ASN1_TYPE_OID && ASN1_ParseOid(Node, Text, sizeof(Text)) &&
           strcmp(Text, Oid) == 0;
}

// The bytes of an OCTET STRING, also one built of pieces.
bool OctetBytes(ASN1 *Node, std::string &Out) {
    const uint8 Tag = TagOf(Node);
    if (Tag == TagOctetString) {
        Out.assign(reinterpret_cast<const char *>(ASN1_GetValuePtr(Node)), (size_t)ASN1_GetValueSize(Node));
        return true;
    }
    if (Tag != TagConstructedOctetString) return false;
    Out.clear();
    int32 Count = 0;
    ASN1_GetElementCount(Node, &Count);
    for (int32 Index = 0; Index < Count; Index++) {
        std::string Piece;
        if (!OctetBytes(ASN1_GetElement(Node, Index), Piece)) return false;
        Out += Piece;
    }
    return true;
}

} // namespace

struct PKCS7 {
    ClassStruct Class;
    ClassPrintStruct Print;
    std::vector<uint8> Der;
    ASN1 *Tree = nullptr;
    uint32 Version = 0;
    ASN1 *ContentInfo = nullptr; // the encapsulated content info
    ASN1 *Content = nullptr;     // its [0] content, when present
    X509Chain *Chain = nullptr;
    uint32 SignerVersion = 0;
    X500 *Issuer = nullptr;
    BigInt *Serial = nullptr;
    const HashInterface *Digest = nullptr;
    ASN1 *SignedAttributes = nullptr;
    ASN1 *SignatureAlgorithm = nullptr;
    ASN1 *EncryptedDigest = nullptr;
    ASN1 *UnsignedAttributes = nullptr;
    ASN1 *ContentDigest = nullptr;   // the digest the signature vouches for
    ASN1 *MessageDigest = nullptr;   // the signed attribute, when present
    bool Indirect = false;           // Authenticode indirect data
};

#define PKCS7_Check(Handle) Class_CheckHandle((Handle), PKCS7_CLASSID)

static int32 PKCS7_DeleteObject(void *HandleAddress) { return PKCS7_Delete(static_cast<PKCS7 **>(HandleAddress)); }

CLASS_DEFINE_REFERENCE(PKCS7, PKCS7, PKCS7_CLASSID)
CLASSPRINT_DEFINE(PKCS7, PKCS7, PKCS7_CLASSID, "PKCS7", Print)

int32 PKCS7_VerboseLog(PKCS7 *Handle, int32 Level, const char *Format, ...) {
    PKCS7_Check(Handle);
    if (!PKCS7_IsVerboseLevel(Handle, Level)) return FALSE;
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = PKCS7_VPrint(Handle, 0, Format, Arguments);
    va_end(Arguments);
    return Result;
}

namespace {

// Forgets what a previous build read.
void Clear(PKCS7 *Self) {
    ASN1_Reset(Self->Tree);
    X509Chain_Reset(Self->Chain);
    Self->Version = Self->SignerVersion = 0;
    Self->ContentInfo = Self->Content = nullptr;
    Self->Digest = nullptr;
    Self->SignedAttributes = Self->SignatureAlgorithm = Self->EncryptedDigest = nullptr;
    Self->UnsignedAttributes = Self->ContentDigest = Self->MessageDigest = nullptr;
    Self->Indirect = false;
}

// The messageDigest attribute's OCTET STRING among the signed attributes.
ASN1 *FindMessageDigest(ASN1 *Attributes) {
    int32 Count = 0;
    ASN1_GetElementCount(Attributes, &Count);
    for (int32 Index = 0; Index < Count; Index++) {
        ASN1 *Attribute = ASN1_GetElement(Attributes, Index);
        if (!OidIs(ASN1_GetElement(Attribute, 0), MessageDigestOid)) continue;
        ASN1 *Value = ASN1_GetElement(ASN1_GetElement(Attribute, 1), 0);
        return TagOf(Value) == TagOctetString ? Value : nullptr;
    }
    return nullptr;
}

// The SpcIndirectDataContent SEQUENCE: the content itself, or (as CMS tools
// wrap any content type) the element inside its OCTET STRING.
ASN1 *IndirectData(ASN1 *Content) {
    ASN1 *Inner = ASN1_GetElement(Content, 0);
    if (TagOf(Inner) == TagOctetString) Inner = ASN1_GetElement(Inner, 0);
    return ASN1_GetType(Inner) == ASN1_TYPE_SEQUENCE ? Inner : nullptr;
}

bool ReadSigner(PKCS7 *Self, ASN1 *Signer) {
    if (!ASN1_ParseInt32(ASN1_GetElement(Signer, 0), &Self->SignerVersion)) return false;
    ASN1 *Identifier = ASN1_GetElement(Signer, 1);
    // A subject key identifier ([0]) names no issuer and serial number.
    if (ASN1_GetType(Identifier) != ASN1_TYPE_SEQUENCE || TagOf(Identifier) == TagContext0) return false;
    if (!X500_Build(Self->Issuer, ASN1_GetElement(Identifier, 0)) ||
        !ASN1_ParseBigInt(ASN1_GetElement(Identifier, 1), Self->Serial))
        return false;
    char Oid[64];
    if (!ASN1_ParseOid(ASN1_GetElement(ASN1_GetElement(Signer, 2), 0), Oid, sizeof(Oid)) ||
        !Hash_InterfaceFromOid(Oid, &Self->Digest)) {
        Self->Digest = nullptr;
        return false;
    }
    int32 Field = 3;
    if (TagOf(ASN1_GetElement(Signer, Field)) == TagContext0) Self->SignedAttributes = ASN1_GetElement(Signer, Field++);
    Self->SignatureAlgorithm = ASN1_GetElement(Signer, Field++);
    Self->EncryptedDigest = ASN1_GetElement(Signer, Field++);
    if (TagOf(Self->EncryptedDigest) != TagOctetString) Self->EncryptedDigest = nullptr;
    if (TagOf(ASN1_GetElement(Signer, Field)) == TagContext1) Self->UnsignedAttributes = ASN1_GetElement(Signer, Field);
    return true;
}

bool Read(PKCS7 *Self) {
    ASN1 *Holder = nullptr;
    if (!ASN1_Find(Self->Tree, SignedDataOid, 0xffffffffu, &Holder) || Holder == nullptr) return false;
    ASN1 *SignedData = TagOf(Holder) == TagContext0 ? ASN1_GetElement(Holder, 0) : Holder;
    if (ASN1_GetType(SignedData) != ASN1_TYPE_SEQUENCE) return false;
    if (!ASN1_ParseInt32(ASN1_GetElement(SignedData, 0), &Self->Version)) return false;
    Self->ContentInfo = ASN1_GetElement(SignedData, 2);
    if (ASN1_GetType(Self->ContentInfo) != ASN1_TYPE_SEQUENCE ||
        ASN1_GetType(ASN1_GetElement(Self->ContentInfo, 0)) != ASN1_TYPE_OID)
        return false;
    Self->Content = ASN1_GetElement(Self->ContentInfo, 1);
    int32 Field = 3;
    ASN1 *Next = ASN1_GetElement(SignedData, Field);
    if (TagOf(Next) == TagContext0) {
        int32 Count = 0;
        ASN1_GetElementCount(Next, &Count);
        for (int32 Index = 0; Index < Count; Index++) {
            X509 *Certificate = nullptr;
            X509_Create(&Certificate);
            const int32 Added =
                X509_Build(Certificate, ASN1_GetElement(Next, Index)) && X509Chain_Add(Self->Chain, Certificate);
            X509_Release(&Certificate);
            if (!Added) return false;
        }
        Next = ASN1_GetElement(SignedData, ++Field);
    }
    if (TagOf(Next) == TagContext1) Next = ASN1_GetElement(SignedData, ++Field);
    if (ASN1_GetType(Next) != ASN1_TYPE_SET) return false;
    ASN1 *Signer = ASN1_GetElement(Next, 0);
    if (Signer != nullptr && !ReadSigner(Self, Signer)) return false;
    if (Self->SignedAttributes != nullptr) Self->MessageDigest = FindMessageDigest(Self->SignedAttributes);
    // The digest the signer vouches for.
    Self->Indirect = OidIs(ASN1_GetElement(Self->ContentInfo, 0), IndirectDataOid);
    if (Self->Indirect) {
        ASN1 *DigestInfo = ASN1_GetElement(IndirectData(Self->Content), 1);
        Self->ContentDigest = ASN1_GetElement(DigestInfo, 1);
        if (TagOf(Self->ContentDigest) != TagOctetString) Self->ContentDigest = nullptr;
    } else {
        Self->ContentDigest = Self->MessageDigest;
    }
    return true;
}

bool SameDigest(const HashInterface *Digest, const std::string &Bytes, ASN1 *Expected) {
    uint8 Computed[HASH_MAX_DIGEST_SIZE];
    return Expected != nullptr && (uint32)ASN1_GetValueSize(Expected) == Digest->DigestSize &&
           Hash_QuickDigest(Digest, Bytes.data(), (uint32)Bytes.size(), Computed, sizeof(Computed)) &&
           memcmp(Computed, ASN1_GetValuePtr(Expected), Digest->DigestSize) == 0;
}

// The signed attributes' messageDigest must be the digest of the content
// carried inside: for Authenticode the indirect data (its content octets, or
// the whole element as CMS tools digest it), for data the octets. Detached
// content is the caller's to digest.
bool ContentBound(PKCS7 *Self) {
    ASN1 *Inner = ASN1_GetElement(Self->Content, 0);
    if (Inner == nullptr) return true;
    if (Self->Indirect) {
        Inner = IndirectData(Self->Content);
        if (Inner == nullptr) return false;
        const std::string Value(reinterpret_cast<const char *>(ASN1_GetValuePtr(Inner)), (size_t)ASN1_GetValueSize(Inner));
        const std::string Whole(reinterpret_cast<const char *>(ASN1_GetNodePtr(Inner)), (size_t)ASN1_GetNodeSize(Inner));
        return SameDigest(Self->Digest, Value, Self->MessageDigest) || SameDigest(Self->Digest, Whole, Self->MessageDigest);
    }
    std::string Octets;
    return OctetBytes(Inner, Octets) && SameDigest(Self->Digest, Octets, Self->MessageDigest);
}

} // namespace

int32 PKCS7_Create(PKCS7 **Handle) {
    Debug_CheckPointer(Handle);
    PKCS7 *Self = new PKCS7{};
    Class_InitHeader(Self, PKCS7_CLASSID, PKCS7_DeleteObject);
    ASN1_Create(&Self->Tree);
    X509Chain_Create(&Self->Chain);
    X500_Create(&Self->Issuer);
    BigInt_Create(&Self->Serial);
    *Handle = Self;
    return TRUE;
}

int32 PKCS7_Delete(PKCS7 **Handle) {
    Debug_CheckPointer(Handle);
    PKCS7 *Self = *Handle;
    PKCS7_Check(Self);
    ASN1_Release(&Self->Tree);
    X509Chain_Release(&Self->Chain);
    X500_Release(&Self->Issuer);
    BigInt_Release(&Self->Serial);
    delete Self;
    *Handle = nullptr;
    return TRUE;
}

int32 PKCS7_BuildFromBuffer(PKCS7 *Handle, const void *Data, uint32 Size) {
    PKCS7_Check(Handle);
    Clear(Handle);
    if (Data == nullptr || Size == 0 || Size > (uint32)INT32_MAX) return FALSE;
    Handle->Der.assign(static_cast<const uint8 *>(Data), static_cast<const uint8 *>(Data) + Size);
    if (!ASN1_Decode(Handle->Tree, Handle->Der.data(), (int32)Size) || !Read(Handle)) {
        Clear(Handle);
        return FALSE;
    }
    return TRUE;
}

const HashInterface *PKCS7_GetHashInterface(PKCS7 *Handle) {
    PKCS7_Check(Handle);
    return Handle->Digest;
}

int32 PKCS7_Verify(PKCS7 *Handle, CertStoreInterface *Store, void *Stream, PKCS7_DigestFunc Function) {
    PKCS7_Check(Handle);
    Debug_CheckPointer(Function);
    if (Handle->Digest == nullptr) {
        PKCS7_Print(Handle, "Missing essential information");
        return FALSE;
    }
    Hash *Digest = nullptr;
    Hash_Create(&Digest);
    Hash_SetInterface(Digest, Handle->Digest);
    uint8 Buffer[DigestBuffer] = {};
    int32 Result = FALSE;
    if (!Function(Stream, Digest)) PKCS7_Print(Handle, "Hash process failed");
    else if (!Hash_Generate(Digest)) PKCS7_Print(Handle, "Hash generate failed");
    else if (!Hash_GetDigest(Digest, Buffer, sizeof(Buffer))) PKCS7_Print(Handle, "Get digest failed");
    else Result = PKCS7_VerifyDigest(Handle, Store, Buffer, sizeof(Buffer));
    Hash_Release(&Digest);
    return Result;
}

int32 PKCS7_VerifyDigest(PKCS7 *Handle, CertStoreInterface *Store, const void *Digest, uint32 Size) {
    PKCS7_Check(Handle);
    Debug_CheckPointer(Digest);
    if (Handle->Digest == nullptr || Handle->Digest->DigestSize > Size) {
        PKCS7_Print(Handle, "Missing signer info hash type");
        return FALSE;
    }
    const uint32 DigestSize = Handle->Digest->DigestSize;
    if (Handle->EncryptedDigest == nullptr) {
        PKCS7_Print(Handle, "Missing encrypted digest");
        return FALSE;
    }
    X509 *Signer = nullptr;
    if (!X509Chain_IssuerAndSerialNumberFind(Handle->Chain, Handle->Issuer, Handle->Serial, &Signer) ||
        Signer == nullptr) {
        PKCS7_Print(Handle, "Signer info certificate not found in chain");
        return FALSE;
    }
    if (!X509Chain_VerifyX509(Handle->Chain, Signer, Store)) {
        PKCS7_Print(Handle, "Unable to verify certificate chain");
        X509Chain_Dump(Handle->Chain);
        return FALSE;
    }
    const uint8 *Signature = ASN1_GetValuePtr(Handle->EncryptedDigest);
    const uint32 SignatureSize = (uint32)ASN1_GetValueSize(Handle->EncryptedDigest);
    uint8 Signed[HASH_MAX_DIGEST_SIZE];
    if (Handle->SignedAttributes != nullptr) {
        if (Handle->MessageDigest == nullptr || !ContentBound(Handle)) {
            PKCS7_Print(Handle, "Message digest does not match the content");
            return FALSE;
        }
        if (Handle->ContentDigest == nullptr) {
            PKCS7_Print(Handle, "Missing content info");
            return FALSE;
        }
        const uint32 ContentSize = (uint32)ASN1_GetValueSize(Handle->ContentDigest);
        // The attributes are signed as a SET, not as the [0] they are stored as.
        std::string Attributes(reinterpret_cast<const char *>(ASN1_GetNodePtr(Handle->SignedAttributes)),
                               (size_t)ASN1_GetNodeSize(Handle->SignedAttributes));
        Attributes[0] = 0x31;
        if (!Hash_QuickDigest(Handle->Digest, Attributes.data(), (uint32)Attributes.size(), Signed, sizeof(Signed))) {
            PKCS7_Print(Handle, "Header hash generate failed");
            return FALSE;
        }
        if (!X509_VerifyDigest(Signer, Signed, DigestSize, Signature, SignatureSize, RSA_SIGNATURE_VERSION_PCS21)) {
            PKCS7_Print(Handle, "Header verify signature failed");
            PKCS7_Print(Handle, "Failed to verify header");
            return FALSE;
        }
        if (ContentSize != DigestSize) {
            PKCS7_Print(Handle, "Digest size doesn't match content hash size (%d:%d)", (int32)ContentSize,
                        (int32)DigestSize);
            return FALSE;
        }
        if (!Crypt_CompareConstantTime(ASN1_GetValuePtr(Handle->ContentDigest), Digest, DigestSize)) {
            PKCS7_Print(Handle, "Verification failed");
            return FALSE;
        }
        return TRUE;
    }
    // Without signed attributes the signature is over the content digest
    // itself: the indirect data for Authenticode (whose own digest must then
    // be the caller's), the caller's digest otherwise.
    if (Handle->Indirect) {
        ASN1 *Inner = IndirectData(Handle->Content);
        if (Inner == nullptr || Handle->ContentDigest == nullptr ||
            (uint32)ASN1_GetValueSize(Handle->ContentDigest) != DigestSize ||
            !Hash_QuickDigest(Handle->Digest, ASN1_GetValuePtr(Inner), (uint32)ASN1_GetValueSize(Inner), Signed,
                              sizeof(Signed))) {
            PKCS7_Print(Handle, "Missing content info");
            return FALSE;
        }
        if (!X509_VerifyDigest(Signer, Signed, DigestSize, Signature, SignatureSize, RSA_SIGNATURE_VERSION_PCS21) ||
            !Crypt_CompareConstantTime(ASN1_GetValuePtr(Handle->ContentDigest), Digest, DigestSize)) {
            PKCS7_Print(Handle, "Verification failed");
            return FALSE;
        }
        return TRUE;
    }
    if (!X509_VerifyDigest(Signer, Digest, DigestSize, Signature, SignatureSize, RSA_SIGNATURE_VERSION_PCS21)) {
        PKCS7_Print(Handle, "Verification failed");
        return FALSE;
    }
    return TRUE;
}
