// PKCS#12 bundles: see pkcs12.h.
#include "crypto/trust/pkcs12.h"

#include <string.h>

#include <string>
#include <vector>

#include "crypto/ciphers/rc4.h"
#include "crypto/crypt.h"
#include "crypto/digests/hash.h"
#include "crypto/digests/hmac.h"
#include "crypto/digests/sha1.h"
#include "crypto/keys/ecdsa.h"
#include "crypto/keys/rsa.h"
#include "runtime/log.h"

namespace {

constexpr const char *Rc4Oid = "1.2.840.113549.1.12.1.1";
constexpr const char *DataOid = "1.2.840.113549.1.7.1";
constexpr const char *EncryptedDataOid = "1.2.840.113549.1.7.6";
constexpr const char *ShroudedKeyBagOid = "1.2.840.113549.1.12.10.1.2";
constexpr const char *EcKeyOid = "1.2.840.10045.2.1";
constexpr const char *RsaKeyOid = "1.2.840.113549.1.1.1";
constexpr uint32 IdKey = 1, IdMac = 3;
constexpr uint32 MacBufferSize = 1024;
constexpr uint32 Rc4KeySize = 16;

// A byte buffer that wipes itself.
struct Secret : std::vector<uint8> {
    using std::vector<uint8>::vector;
    ~Secret() {
        if (!empty()) explicit_bzero(data(), size());
    }
};

bool Oid(ASN1 *Node, std::string &Text) {
    char Buffer[128];
    if (Node == nullptr || ASN1_GetType(Node) != ASN1_TYPE_OID || !ASN1_ParseOid(Node, Buffer, sizeof(Buffer)))
        return false;
    Text = Buffer;
    return true;
}

uint8 TagOf(ASN1 *Node) {
    uint8 Tag = 0;
    if (Node != nullptr) ASN1_GetTag(Node, &Tag);
    return Tag;
}

// The password as a BMPString (UTF-16 big-endian) with its two zero bytes.
Secret BmpPassword(const char *Password, uint32 Length) {
    Secret Out;
    for (uint32 At = 0; At < Length;) {
        uint32 C = (uint8)Password[At], Extra = 0;
        if (C >= 0xf0) C &= 0x07, Extra = 3;
        else if (C >= 0xe0) C &= 0x0f, Extra = 2;
        else if (C >= 0xc0) C &= 0x1f, Extra = 1;
        At++;
        for (; Extra > 0 && At < Length; Extra--, At++) C = (C << 6) | ((uint8)Password[At] & 0x3f);
        if (C >= 0x10000) {
            C -= 0x10000;
            const uint32 High = 0xd800 | (C >> 10), Low = 0xdc00 | (C & 0x3ff);
            Out.insert(Out.end(), {(uint8)(High >> 8), (uint8)High, (uint8)(Low >> 8), (uint8)Low});
        } else {
            Out.insert(Out.end(), {(uint8)(C >> 8), (uint8)C});
        }
    }
    Out.insert(Out.end(), {0, 0});
    return Out;
}

// RFC 7292 appendix B.2 with hash H (u its digest size, v its block size).
bool Derive(const HashInterface *H, const Secret &Password, const uint8 *Salt, uint32 SaltLength,
            uint32 Iterations, uint32 Id, uint8 *Out, uint32 Length) {
    const uint32 U = H->DigestSize, V = H->BlockSize;
    if (U == 0 || V == 0 || U > HASH_MAX_DIGEST_SIZE) return false;
    if (Iterations < 1) Iterations = 1;
    auto Fill = [V](const uint8 *Bytes, uint32 Size) {
        Secret Block(Size == 0 ? 0 : (size_t)V * ((Size + V - 1) / V));
        for (size_t At = 0; At < Block.size(); At++) Block[At] = Bytes[At % Size];
        return Block;
    };
    Secret I = Fill(Salt, SaltLength), P = Fill(Password.data(), (uint32)Password.size());
    I.insert(I.end(), P.begin(), P.end());
    Secret D(V, (uint8)Id);
    Hash *Context = nullptr;
    Hash_Create(&Context);
    Hash_SetInterface(Context, H);
    bool Done = true;
    for (uint32 Made = 0; Made < Length && Done;) {
        uint8 A[HASH_MAX_DIGEST_SIZE];
        uint32 Processed = 0;
        Hash_Reset(Context);
        Done = Hash_Process(Context, D.data(), V, &Processed) &&
               Hash_Process(Context, I.data(), (uint32)I.size(), &Processed) && Hash_Generate(Context) &&
               Hash_GetDigest(Context, A, sizeof(A));
        for (uint32 Round = 1; Round < Iterations && Done; Round++)
            Done = Hash_QuickDigest(H, A, U, A, sizeof(A)) != 0;
        const uint32 Take = Length - Made < U ? Length - Made : U;
        memcpy(Out + Made, A, Take);
        Made += Take;
        if (Made < Length) {
            // I_j = I_j + B + 1 for every v-byte block of I, B being A
            // repeated to v bytes.
            Secret B(V);
            for (uint32 At = 0; At < V; At++) B[At] = A[At % U];
            for (size_t Block = 0; Block < I.size(); Block += V) {
                uint32 Carry = 1;
                for (int32 At = (int32)V - 1; At >= 0; At--) {
                    Carry += (uint32)I[Block + (size_t)At] + B[(size_t)At];
                    I[Block + (size_t)At] = (uint8)Carry;
                    Carry >>= 8;
                }
            }
        }
        explicit_bzero(A, sizeof(A));
    }
    Hash_Release(&Context);
    return Done;
}

// The decrypted bytes of an RC4-enciphered piece under Algorithm.
bool Decipher(ASN1 *Algorithm, const char *Password, const uint8 *Data, uint32 Size, Secret &Out,
              const char *ParamsMessage) {
    const uint8 *Salt = nullptr;
    uint32 Iterations = 0;
    if (!PKCS12_GetPBEParams(Algorithm, &Salt, &Iterations)) {
        Log_Debug("%s", ParamsMessage);
        return false;
    }
    Out.assign(Data, Data + Size);
    return PKCS12_Decrypt(Password, (uint32)strlen(Password), Salt, Iterations, Out.data(), Size, IdKey) != 0;
}

} // namespace

struct PKCS12 {
    ClassStruct Class;
    X509Chain *Chain = nullptr;
    CryptAsymmetric *Key = nullptr;
};

#define PKCS12_Check(Handle) Class_CheckHandle((Handle), PKCS12_CLASSID)

static int32 PKCS12_DeleteObject(void *HandleAddress) { return PKCS12_Delete(static_cast<PKCS12 **>(HandleAddress)); }

CLASS_DEFINE_REFERENCE(PKCS12, PKCS12, PKCS12_CLASSID)

namespace {

void Empty(PKCS12 *Self) {
    X509Chain_Reset(Self->Chain);
    if (Self->Key != nullptr) CryptAsymmetric_Release(&Self->Key);
    CryptAsymmetric_Create(&Self->Key);
}

bool ReadKey(PKCS12 *Self, ASN1 *Bags, const char *Password) {
    ASN1 *Bag = ASN1_GetElement(Bags, 0);
    std::string Type;
    if (!Oid(ASN1_GetElement(Bag, 0), Type) || Type != ShroudedKeyBagOid) {
        Log_Debug("PKCS12 invalid key bag identifier (%s)\n", Type.c_str());
        return false;
    }
    ASN1 *Shrouded = ASN1_GetElement(ASN1_GetElement(Bag, 1), 0);
    ASN1 *Encrypted = ASN1_GetElement(Shrouded, 1);
    Secret Plain;
    const uint8 *Salt = nullptr;
    uint32 Iterations = 0;
    if (!PKCS12_GetPBEParams(ASN1_GetElement(Shrouded, 0), &Salt, &Iterations)) {
        Log_Debug("PKCS12 unable to retrieve PBE params for private key\n");
        return false;
    }
    if (TagOf(Encrypted) != 0x04 || ASN1_GetValueSize(Encrypted) < 1) {
        Log_Debug("PKCS12 unable to find private key\n");
        return false;
    }
    if (!Decipher(ASN1_GetElement(Shrouded, 0), Password, ASN1_GetValuePtr(Encrypted),
                  (uint32)ASN1_GetValueSize(Encrypted), Plain, "")) {
        Log_Debug("PKCS12 unable to find private key\n");
        return false;
    }
    ASN1 *Tree = nullptr;
    ASN1_Create(&Tree);
    bool Loaded = false;
    ASN1 *Info = nullptr;
    std::string Algorithm, Curve;
    if (!ASN1_Decode(Tree, Plain.data(), (int32)Plain.size()) ||
        ASN1_GetType(Info = ASN1_GetElement(Tree, 0)) != ASN1_TYPE_SEQUENCE) {
        Log_Debug("PKCS12 unable to decode private key store\n");
    } else {
        ASN1 *Identifier = ASN1_GetElement(Info, 1);
        ASN1 *Private = ASN1_GetElement(Info, 2);
        Oid(ASN1_GetElement(Identifier, 0), Algorithm);
        bool Chosen = false;
        if (Algorithm == EcKeyOid) {
            Chosen = Oid(ASN1_GetElement(Identifier, 1), Curve) &&
                     CryptAsymmetric_ResetInterface(Self->Key, &ECDSA_INTERFACE) &&
                     CryptAsymmetric_InitParams(Self->Key, Curve.c_str());
        } else if (Algorithm == RsaKeyOid) {
            Chosen = CryptAsymmetric_ResetInterface(Self->Key, &RSA_INTERFACE) != 0;
        } else {
            Log_Debug("PKCS12 private key must use RSA or ECDSA encryption\n");
        }
        if (Chosen) {
            Loaded = TagOf(Private) == 0x04 &&
                     CryptAsymmetric_SetPrivateKey(Self->Key, ASN1_GetValuePtr(Private), ASN1_GetValueSize(Private)) &&
                     CryptAsymmetric_CanSign(Self->Key);
            if (!Loaded) Log_Debug("PKCS12 unable to find private key\n");
        }
    }
    ASN1_Release(&Tree);
    return Loaded;
}

bool ReadCertificates(PKCS12 *Self, ASN1 *Encrypted, const char *Password) {
    ASN1 *Info = ASN1_GetElement(Encrypted, 1);
    std::string Type;
    if (!Oid(ASN1_GetElement(Info, 0), Type) || Type != DataOid) {
        Log_Debug("PKCS12 invalid certificate data identifier (%s)\n", Type.c_str());
        return false;
    }
    const uint8 *Salt = nullptr;
    uint32 Iterations = 0;
    if (!PKCS12_GetPBEParams(ASN1_GetElement(Info, 1), &Salt, &Iterations)) {
        Log_Debug("PKCS12 unable to retrieve PBE params for certificate\n");
        return false;
    }
    ASN1 *Content = ASN1_GetElement(Info, 2);
    if (TagOf(Content) != 0x80 || ASN1_GetValueSize(Content) < 1) {
        Log_Debug("PKCS12 unable to find certificates\n");
        return false;
    }
    Secret Plain;
    Decipher(ASN1_GetElement(Info, 1), Password, ASN1_GetValuePtr(Content), (uint32)ASN1_GetValueSize(Content), Plain,
             "");
    ASN1 *Tree = nullptr;
    ASN1_Create(&Tree);
    bool Found = false;
    ASN1 *Bags = nullptr;
    if (!ASN1_Decode(Tree, Plain.data(), (int32)Plain.size()) ||
        ASN1_GetType(Bags = ASN1_GetElement(Tree, 0)) != ASN1_TYPE_SEQUENCE) {
        Log_Debug("PKCS12 unable to decode certificate store\n");
        ASN1_Release(&Tree);
        return false;
    }
    int32 Count = 0;
    ASN1_GetElementCount(Bags, &Count);
    for (int32 Index = 0; Index < Count; Index++) {
        // CertBag: [0] { SEQUENCE { certId, [0] { OCTET STRING DER } } }.
        ASN1 *Value = ASN1_GetElement(ASN1_GetElement(ASN1_GetElement(ASN1_GetElement(Bags, Index), 1), 0), 1);
        ASN1 *Octets = ASN1_GetElement(Value, 0);
        X509 *Certificate = nullptr;
        X509_Create(&Certificate);
        const bool Added = TagOf(Octets) == 0x04 &&
                           X509_BuildFromBuffer(Certificate, ASN1_GetValuePtr(Octets), (uint32)ASN1_GetValueSize(Octets)) &&
                           X509Chain_Add(Self->Chain, Certificate);
        X509_Release(&Certificate);
        if (!Added) break;
        Found = true;
    }
    ASN1_Release(&Tree);
    if (!Found) Log_Debug("PKCS12 unable to find certificate in store\n");
    return Found;
}

} // namespace

int32 PKCS12_Create(PKCS12 **Handle) {
    Debug_CheckPointer(Handle);
    PKCS12 *Self = new PKCS12{};
    Class_InitHeader(Self, PKCS12_CLASSID, PKCS12_DeleteObject);
    X509Chain_Create(&Self->Chain);
    CryptAsymmetric_Create(&Self->Key);
    *Handle = Self;
    return TRUE;
}

int32 PKCS12_Delete(PKCS12 **Handle) {
    Debug_CheckPointer(Handle);
    PKCS12 *Self = *Handle;
    PKCS12_Check(Self);
    X509Chain_Release(&Self->Chain);
    CryptAsymmetric_Release(&Self->Key);
    delete Self;
    *Handle = nullptr;
    return TRUE;
}

int32 PKCS12_GetPBEParams(ASN1 *Algorithm, const uint8 **Salt, uint32 *Iterations) {
    Debug_CheckPointer(Salt);
    Debug_CheckPointer(Iterations);
    std::string Type;
    if (!Oid(ASN1_GetElement(Algorithm, 0), Type) || Type != Rc4Oid) {
        Log_Debug("PKCS12 must use PBE-SHA1-RC4-128 (%s)\n", Type.c_str());
        return FALSE;
    }
    ASN1 *Params = ASN1_GetElement(Algorithm, 1);
    ASN1 *SaltNode = ASN1_GetElement(Params, 0);
    if (TagOf(SaltNode) != 0x04 || ASN1_GetValueSize(SaltNode) != 8) {
        Log_Debug("PKCS12 must use PBE-SHA1-RC4-128, invalid salt size\n");
        return FALSE;
    }
    if (!ASN1_ParseInt32(ASN1_GetElement(Params, 1), Iterations)) {
        Log_Debug("PKCS12 invalid pbe iteration\n");
        return FALSE;
    }
    *Salt = ASN1_GetValuePtr(SaltNode);
    return TRUE;
}

int32 PKCS12_Decrypt(const char *Password, uint32 PasswordLength, const uint8 *Salt, uint32 Iterations, uint8 *Data,
                     uint32 Length, uint32 Id) {
    Debug_CheckPointer(Salt);
    Debug_CheckPointer(Data);
    const Secret Bmp = BmpPassword(Password != nullptr ? Password : "", Password != nullptr ? PasswordLength : 0);
    if (Id != IdKey) return Derive(&SHA1_INTERFACE, Bmp, Salt, 8, Iterations, Id, Data, Length);
    Secret Key(Rc4KeySize);
    if (!Derive(&SHA1_INTERFACE, Bmp, Salt, 8, Iterations, Id, Key.data(), Rc4KeySize)) return FALSE;
    RC4 *Cipher = nullptr;
    RC4_Create(&Cipher);
    const int32 Result = RC4_SetKey(Cipher, Key.data(), (int32)Rc4KeySize) &&
                         (Length == 0 || RC4_Decrypt(Cipher, Data, Data, (int32)Length));
    RC4_Release(&Cipher);
    return Result;
}

int32 PKCS12_Build(PKCS12 *Handle, ASN1 *Pfx, const char *Password) {
    PKCS12_Check(Handle);
    Empty(Handle);
    if (Password == nullptr) Password = "";
    ASN1 *Root = ASN1_GetElement(Pfx, 0);
    uint32 Version = 0;
    ASN1_ParseInt32(ASN1_GetElement(Root, 0), &Version);
    if (Version != 3) {
        Log_Debug("PKCS12 must be version 3 (%d)\n", (int32)Version);
        return FALSE;
    }
    ASN1 *Safe = ASN1_GetElement(ASN1_GetElement(ASN1_GetElement(Root, 1), 1), 0);
    if (TagOf(Safe) != 0x04) {
        Log_Debug("PKCS12 unable to find pkcs7\n");
        return FALSE;
    }
    // The MAC over the authenticated safe, checked before anything is
    // deciphered.
    ASN1 *MacData = ASN1_GetElement(Root, 2);
    ASN1 *Mac = ASN1_GetElement(MacData, 0);
    std::string MacOid;
    const HashInterface *Digest = nullptr;
    if (!Oid(ASN1_GetElement(ASN1_GetElement(Mac, 0), 0), MacOid) || !Hash_InterfaceFromOid(MacOid.c_str(), &Digest))
        return FALSE;
    ASN1 *MacSalt = ASN1_GetElement(MacData, 1);
    if (TagOf(MacSalt) != 0x04 || ASN1_GetValueSize(MacSalt) != 8) {
        Log_Debug("PKCS12 must use PBE-SHA1-RC4-128, invalid mac salt size\n");
        return FALSE;
    }
    uint32 MacIterations = 1;
    if (ASN1_GetElement(MacData, 2) != nullptr && !ASN1_ParseInt32(ASN1_GetElement(MacData, 2), &MacIterations)) {
        Log_Debug("PKCS12 invalid mac iteration\n");
        return FALSE;
    }
    if (Digest->DigestSize > MacBufferSize) {
        Log_Debug("PKCS12 key buffer overflow\n");
        return FALSE;
    }
    ASN1 *Stored = ASN1_GetElement(Mac, 1);
    if (TagOf(Stored) != 0x04 || (uint32)ASN1_GetValueSize(Stored) != Digest->DigestSize) {
        Log_Debug("PKCS12 invalid mac digest size\n");
        return FALSE;
    }
    {
        const Secret Bmp = BmpPassword(Password, (uint32)strlen(Password));
        Secret MacKey(Digest->DigestSize);
        uint8 Computed[HASH_MAX_DIGEST_SIZE];
        const bool Verified =
            Derive(Digest, Bmp, ASN1_GetValuePtr(MacSalt), 8, MacIterations, IdMac, MacKey.data(),
                   Digest->DigestSize) &&
            HMAC_QuickDigest(Digest, ASN1_GetValuePtr(Safe), (uint32)ASN1_GetValueSize(Safe), MacKey.data(),
                             Digest->DigestSize, Computed, sizeof(Computed)) &&
            Crypt_CompareConstantTime(Computed, ASN1_GetValuePtr(Stored), Digest->DigestSize);
        explicit_bzero(Computed, sizeof(Computed));
        if (!Verified) {
            Log_Debug("PKCS12 failed verification\n");
            return FALSE;
        }
    }
    // The authenticated safe, read from a copy of its octets.
    const std::vector<uint8> SafeBytes(ASN1_GetValuePtr(Safe), ASN1_GetValuePtr(Safe) + ASN1_GetValueSize(Safe));
    ASN1 *Tree = nullptr;
    ASN1_Create(&Tree);
    bool Good = ASN1_Decode(Tree, SafeBytes.data(), (int32)SafeBytes.size()) != 0;
    ASN1 *Infos = ASN1_GetElement(Tree, 0);
    int32 Count = 0;
    ASN1_GetElementCount(Infos, &Count);
    for (int32 Index = 0; Index < Count && Good; Index++) {
        ASN1 *Info = ASN1_GetElement(Infos, Index);
        std::string Type;
        Oid(ASN1_GetElement(Info, 0), Type);
        ASN1 *Inner = ASN1_GetElement(ASN1_GetElement(Info, 1), 0);
        if (Type == DataOid) {
            // The bags sit in the OCTET STRING; read them from a copy.
            const std::vector<uint8> Bytes(ASN1_GetValuePtr(Inner), ASN1_GetValuePtr(Inner) + ASN1_GetValueSize(Inner));
            ASN1 *Bags = nullptr;
            ASN1_Create(&Bags);
            Good = TagOf(Inner) == 0x04 && ASN1_Decode(Bags, Bytes.data(), (int32)Bytes.size()) &&
                   ReadKey(Handle, ASN1_GetElement(Bags, 0), Password);
            ASN1_Release(&Bags);
        } else if (Type == EncryptedDataOid) {
            Good = ReadCertificates(Handle, Inner, Password);
        } else {
            Log_Debug("PKCS12 invalid data identifier (%s)\n", Type.c_str());
            Good = false;
        }
    }
    ASN1_Release(&Tree);
    if (!Good) {
        Empty(Handle);
        return FALSE;
    }
    return TRUE;
}

int32 PKCS12_Get(PKCS12 *Handle, int32 Index, X509 **Certificate) {
    PKCS12_Check(Handle);
    return X509Chain_Get(Handle->Chain, Index, Certificate);
}

int32 PKCS12_IssuerFind(PKCS12 *Handle, X509 *Certificate, X509 **Issuer) {
    PKCS12_Check(Handle);
    return X509Chain_IssuerFind(Handle->Chain, Certificate, Issuer);
}

int32 PKCS12_Sign(PKCS12 *Handle, const void *Digest, int32 DigestSize, void *Output, int32 OutputSize,
                  int32 *Written) {
    PKCS12_Check(Handle);
    if (CryptAsymmetric_GetInterface(Handle->Key) == nullptr) return FALSE;
    return CryptAsymmetric_Sign(Handle->Key, Digest, DigestSize, Output, OutputSize, Written);
}

int32 PKCS12_GetCryptAsymmetricHandle(PKCS12 *Handle, CryptAsymmetric **Key) {
    PKCS12_Check(Handle);
    Debug_CheckPointer(Key);
    *Key = CryptAsymmetric_GetInterface(Handle->Key) != nullptr && CryptAsymmetric_CanSign(Handle->Key) ? Handle->Key
                                                                                                          : nullptr;
    return *Key != nullptr;
}
