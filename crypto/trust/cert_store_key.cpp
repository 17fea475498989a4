// CertStoreKey: see cert_store_key.h.
#include "crypto/trust/cert_store_key.h"

#include <string.h>

#include "runtime/memory.h"
#include "runtime/text/base64.h"

struct CertStoreKey {
    ClassStruct Class;
    CertStoreInterface *Interface;
    uint8 *Key;
    uint32 Allocated;
    uint32 Length;
};

#define CertStoreKey_Check(Handle) Class_CheckHandle((Handle), CERTSTOREKEY_CLASSID)

namespace {

int32 DeleteObject(void *HandleAddress) { return CertStoreKey_Delete(static_cast<CertStoreKey **>(HandleAddress)); }

void FreeKey(CertStoreKey *Store) {
    if (Store->Key != nullptr) {
        explicit_bzero(Store->Key, Store->Allocated);
        Store->Key = static_cast<uint8 *>(Memory_Free(Store->Key, (int32)Store->Allocated));
    }
    Store->Allocated = Store->Length = 0;
}

CertStoreInterface *InterfaceAddRef(CertStoreInterface *Interface, void *User) {
    CertStoreKey_AddRef(static_cast<CertStoreKey *>(User));
    return Interface;
}

int32 InterfaceRelease(CertStoreInterface **Interface, void *User) {
    CertStoreKey *Store = static_cast<CertStoreKey *>(User);
    *Interface = nullptr;
    return CertStoreKey_Release(&Store);
}

int32 CertStoreKey_InterfaceGetKey(CertStoreInterface *, void *User, const uint8 **Key, uint32 *Size) {
    CertStoreKey *Store = static_cast<CertStoreKey *>(User);
    *Key = Store->Key;
    *Size = Store->Length;
    return Store->Key != nullptr;
}

int32 InterfaceX509IsTrusted(CertStoreInterface *, void *, X509 *, uint32 *Stop) {
    *Stop = 0;
    return FALSE;
}

int32 InterfaceX509IsTrustedJWS(CertStoreInterface *, void *, Dictionary *, CryptAsymmetric **Key, uint32 *Stop) {
    *Key = nullptr;
    *Stop = 0;
    return FALSE;
}

} // namespace

int32 CertStoreKey_Create(CertStoreKey **Handle) {
    Debug_CheckPointer(Handle);
    CertStoreKey *Store = Memory_New(CertStoreKey);
    Class_InitHeader(Store, CERTSTOREKEY_CLASSID, DeleteObject);
    CertStoreInterface_Create(&Store->Interface);
    CertStoreInterface_SetAddRefCallback(Store->Interface, Store, InterfaceAddRef);
    CertStoreInterface_SetReleaseCallback(Store->Interface, Store, InterfaceRelease);
    CertStoreInterface_SetGetKeyCallback(Store->Interface, Store, CertStoreKey_InterfaceGetKey);
    CertStoreInterface_SetX509IsTrustedCallback(Store->Interface, Store, InterfaceX509IsTrusted);
    CertStoreInterface_SetX509IsTrustedJWSCallback(Store->Interface, Store, InterfaceX509IsTrustedJWS);
    *Handle = Store;
    return TRUE;
}

int32 CertStoreKey_Delete(CertStoreKey **Handle) {
    Debug_CheckPointer(Handle);
    CertStoreKey_Check(*Handle);
    FreeKey(*Handle);
    CertStoreInterface_Delete(&(*Handle)->Interface);
    Memory_Delete(*Handle);
    return TRUE;
}

CLASS_DEFINE_REFERENCE(CertStoreKey, CertStoreKey, CERTSTOREKEY_CLASSID)

int32 CertStoreKey_GetInterfaceHandle(CertStoreKey *Handle, CertStoreInterface **Interface) {
    CertStoreKey_Check(Handle);
    Debug_CheckPointer(Interface);
    *Interface = CertStoreInterface_AddRef(Handle->Interface);
    return TRUE;
}

int32 CertStoreKey_Decode(CertStoreKey *Handle, const char *Text) {
    CertStoreKey_Check(Handle);
    Debug_CheckPointer(Text);
    FreeKey(Handle);
    const size_t Length = strlen(Text);
    if (Length > (size_t)INT32_MAX / 2) return FALSE;
    int32 Size = 0, Written = 0;
    Base64_CalculateDecodeSize((int32)Length, &Size);
    Handle->Key = static_cast<uint8 *>(Memory_Alloc(Size));
    Handle->Allocated = (uint32)Size;
    const int32 Result = Base64_Decode(Text, (int32)Length, Handle->Key, Size, &Written);
    if (!Result || Written <= 0) {
        FreeKey(Handle);
        return FALSE;
    }
    Handle->Length = (uint32)Written;
    return Result;
}
