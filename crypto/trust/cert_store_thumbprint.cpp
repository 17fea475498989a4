// CertStoreThumbprint: see cert_store_thumbprint.h.
#include "crypto/trust/cert_store_thumbprint.h"

#include <string.h>

#include <algorithm>
#include <vector>

#include "crypto/digests/sha1.h"
#include "crypto/digests/sha256.h"
#include "crypto/digests/sha512.h"
#include "crypto/trust/jws.h"
#include "crypto/trust/x509.h"
#include "runtime/memory.h"
#include "runtime/text/base64.h"

namespace {

constexpr uint32 EntriesCheck = 0xb0c985d0u;
constexpr uint32 HashesCheck = 0x0818a14bu;

struct Entry {
    const HashInterface *Interface;
    uint8 Digest[HASH_MAX_DIGEST_SIZE];
};

struct Lists {
    uint32 EntriesCheck;
    std::vector<Entry> Entries;
    uint32 HashesCheck;
    std::vector<const HashInterface *> Hashes; // each distinct hash in use, once
};

} // namespace

struct CertStoreThumbprint {
    ClassStruct Class;
    ClassPrintStruct Print;
    CertStoreInterface *Interface;
    Lists *Trusted;
};

#define CertStoreThumbprint_Check(Handle) Class_CheckHandle((Handle), CERTSTORETHUMBPRINT_CLASSID)

namespace {

int32 DeleteObject(void *HandleAddress) {
    return CertStoreThumbprint_Delete(static_cast<CertStoreThumbprint **>(HandleAddress));
}

Lists &TrustedLists(CertStoreThumbprint *Store) {
    Class_CheckTag(Store->Trusted, EntriesCheck, ::EntriesCheck);
    Class_CheckTag(Store->Trusted, HashesCheck, ::HashesCheck);
    return *Store->Trusted;
}

const HashInterface *HashForLength(int32 Length) {
    switch (Length) {
    case 20: return &SHA1_INTERFACE;
    case 28: return &SHA224_INTERFACE;
    case 32: return &SHA256_INTERFACE;
    case 48: return &SHA384_INTERFACE;
    case 64: return &SHA512_INTERFACE;
    default: return nullptr;
    }
}

CertStoreInterface *InterfaceAddRef(CertStoreInterface *Interface, void *User) {
    CertStoreThumbprint_AddRef(static_cast<CertStoreThumbprint *>(User));
    return Interface;
}

int32 InterfaceRelease(CertStoreInterface **Interface, void *User) {
    CertStoreThumbprint *Store = static_cast<CertStoreThumbprint *>(User);
    *Interface = nullptr;
    return CertStoreThumbprint_Release(&Store);
}

int32 InterfaceX509IsTrusted(CertStoreInterface *, void *User, X509 *Certificate, uint32 *Stop) {
    CertStoreThumbprint *Store = static_cast<CertStoreThumbprint *>(User);
    *Stop = 0;
    if (Certificate == nullptr) return FALSE;
    const Lists &Trusted = TrustedLists(Store);
    for (const HashInterface *Interface : Trusted.Hashes) {
        uint8 Digest[HASH_MAX_DIGEST_SIZE];
        if (!X509_Thumbprint(Certificate, Interface, Digest, (int32)sizeof(Digest))) continue;
        for (const Entry &Each : Trusted.Entries)
            if (Each.Interface == Interface && memcmp(Each.Digest, Digest, Interface->DigestSize) == 0) return TRUE;
    }
    return FALSE;
}

int32 InterfaceX509IsTrustedJWS(CertStoreInterface *Interface, void *, Dictionary *Header, CryptAsymmetric **Key,
                                uint32 *Stop) {
    return JWS_HeaderIsTrustedThroughX5C(Header, Interface, Key, Stop);
}

} // namespace

CLASS_DEFINE_REFERENCE(CertStoreThumbprint, CertStoreThumbprint, CERTSTORETHUMBPRINT_CLASSID)
CLASSPRINT_DEFINE(CertStoreThumbprint, CertStoreThumbprint, CERTSTORETHUMBPRINT_CLASSID, "CertStoreThumbprint", Print)

int32 CertStoreThumbprint_VerboseLog(CertStoreThumbprint *Handle, const char *Format, ...) {
    CertStoreThumbprint_Check(Handle);
    if (!CertStoreThumbprint_IsVerboseLevel(Handle, 0)) return FALSE;
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = CertStoreThumbprint_VPrint(Handle, 0, Format, Arguments);
    va_end(Arguments);
    return Result;
}

int32 CertStoreThumbprint_Create(CertStoreThumbprint **Handle) {
    Debug_CheckPointer(Handle);
    CertStoreThumbprint *Store = Memory_New(CertStoreThumbprint);
    Class_InitHeader(Store, CERTSTORETHUMBPRINT_CLASSID, DeleteObject);
    Store->Trusted = new Lists{EntriesCheck, {}, HashesCheck, {}};
    CertStoreInterface_Create(&Store->Interface);
    CertStoreInterface_SetAddRefCallback(Store->Interface, Store, InterfaceAddRef);
    CertStoreInterface_SetReleaseCallback(Store->Interface, Store, InterfaceRelease);
    CertStoreInterface_SetX509IsTrustedCallback(Store->Interface, Store, InterfaceX509IsTrusted);
    CertStoreInterface_SetX509IsTrustedJWSCallback(Store->Interface, Store, InterfaceX509IsTrustedJWS);
    *Handle = Store;
    return TRUE;
}

int32 CertStoreThumbprint_Delete(CertStoreThumbprint **Handle) {
    Debug_CheckPointer(Handle);
    CertStoreThumbprint_Check(*Handle);
    delete (*Handle)->Trusted;
    CertStoreInterface_Delete(&(*Handle)->Interface);
    Memory_Delete(*Handle);
    return TRUE;
}

int32 CertStoreThumbprint_GetInterfaceHandle(CertStoreThumbprint *Handle, CertStoreInterface **Interface) {
    CertStoreThumbprint_Check(Handle);
    Debug_CheckPointer(Interface);
    *Interface = CertStoreInterface_AddRef(Handle->Interface);
    return TRUE;
}

int32 CertStoreThumbprint_TrustDictionary(CertStoreThumbprint *Handle, Dictionary *Thumbprints) {
    CertStoreThumbprint_Check(Handle);
    int32 Accepted = 0;
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(Thumbprints, &Item); Item != nullptr;
         Dictionary_ItemGetNext(Thumbprints, Item, &Item)) {
        const char *Text = nullptr;
        if (!Dictionary_ItemCompareType(Thumbprints, Item, DICTIONARY_TYPE_STRING) ||
            !Dictionary_ItemGetStringPtr(Thumbprints, Item, &Text) || Text == nullptr)
            continue;
        // Room for the longest digest and the decoder's terminator; a longer
        // text fails to decode.
        uint8 Digest[HASH_MAX_DIGEST_SIZE + 8];
        int32 Written = 0;
        if (strlen(Text) > 4 * (HASH_MAX_DIGEST_SIZE + 2) / 3 + 4 ||
            !Base64_Decode(Text, (int32)strlen(Text), Digest, (int32)sizeof(Digest), &Written)) {
            CertStoreThumbprint_Print(Handle, "Unable to decode certificate base64 thumbprint (%s)\n", Text);
            continue;
        }
        const HashInterface *Interface = HashForLength(Written);
        if (Interface == nullptr) {
            CertStoreThumbprint_Print(Handle, "Unable to detect hash for base64 thumbprint (%s)\n", Text);
            continue;
        }
        CertStoreThumbprint_Trust(Handle, Interface, Digest);
        Accepted++;
    }
    return Accepted > 0;
}

int32 CertStoreThumbprint_Trust(CertStoreThumbprint *Handle, const HashInterface *Interface, const void *Digest) {
    CertStoreThumbprint_Check(Handle);
    Debug_CheckPointer(Interface);
    Debug_CheckPointer(Digest);
    Debug_Assert(Interface->DigestSize <= HASH_MAX_DIGEST_SIZE, "Digest size %u", Interface->DigestSize);
    Lists &Trusted = TrustedLists(Handle);
    if (std::find(Trusted.Hashes.begin(), Trusted.Hashes.end(), Interface) == Trusted.Hashes.end())
        Trusted.Hashes.push_back(Interface);
    Entry Each{Interface, {}};
    memcpy(Each.Digest, Digest, Interface->DigestSize);
    Trusted.Entries.push_back(Each);
    return TRUE;
}

int32 CertStoreThumbprint_Reset(CertStoreThumbprint *Handle) {
    CertStoreThumbprint_Check(Handle);
    Lists &Trusted = TrustedLists(Handle);
    Trusted.Entries.clear();
    Trusted.Hashes.clear();
    return TRUE;
}
