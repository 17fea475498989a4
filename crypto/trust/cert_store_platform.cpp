// CertStorePlatform: see cert_store_platform.h.
#include "crypto/trust/cert_store_platform.h"

#include "crypto/trust/jws.h"
#include "crypto/trust/platform_trust.h"
#include "crypto/trust/x509.h"
#include "runtime/memory.h"

struct CertStorePlatform {
    ClassStruct Class;
    CertStoreInterface *Interface;
};

#define CertStorePlatform_Check(Handle) Class_CheckHandle((Handle), CERTSTOREPLATFORM_CLASSID)

namespace {

int32 DeleteObject(void *HandleAddress) {
    return CertStorePlatform_Delete(static_cast<CertStorePlatform **>(HandleAddress));
}

CertStoreInterface *InterfaceAddRef(CertStoreInterface *Interface, void *User) {
    CertStorePlatform_AddRef(static_cast<CertStorePlatform *>(User));
    return Interface;
}

int32 InterfaceRelease(CertStoreInterface **Interface, void *User) {
    CertStorePlatform *Store = static_cast<CertStorePlatform *>(User);
    *Interface = nullptr;
    return CertStorePlatform_Release(&Store);
}

int32 InterfaceX509IsTrusted(CertStoreInterface *, void *, X509 *Certificate, uint32 *Stop) {
    *Stop = 0;
    int32 Denied = 0;
    const int32 Trusted = Certificate != nullptr && PlatformTrust_AuthenticatePath(&Certificate, 1, &Denied);
    *Stop = Denied ? 1 : 0;
    return Trusted;
}

// The path goes to the platform as the chain walk built it, so that no
// certificate of it is parsed again however often the walk asks; the
// platform finds the anchor above it and checks the whole path up to it.
int32 InterfaceX509PathIsTrusted(CertStoreInterface *, void *, X509 *const *Path, int32 Count, uint32 *Stop) {
    *Stop = 0;
    int32 Denied = 0;
    const int32 Trusted = PlatformTrust_AuthenticatePath(Path, Count, &Denied);
    *Stop = Denied ? 1 : 0;
    return Trusted;
}

int32 InterfaceX509IsTrustedJWS(CertStoreInterface *Interface, void *, Dictionary *Header, CryptAsymmetric **Key,
                                uint32 *Stop) {
    return JWS_HeaderIsTrustedThroughX5C(Header, Interface, Key, Stop);
}

} // namespace

int32 CertStorePlatform_Create(CertStorePlatform **Handle) {
    Debug_CheckPointer(Handle);
    CertStorePlatform *Store = Memory_New(CertStorePlatform);
    Class_InitHeader(Store, CERTSTOREPLATFORM_CLASSID, DeleteObject);
    CertStoreInterface_Create(&Store->Interface);
    CertStoreInterface_SetAddRefCallback(Store->Interface, Store, InterfaceAddRef);
    CertStoreInterface_SetReleaseCallback(Store->Interface, Store, InterfaceRelease);
    CertStoreInterface_SetX509IsTrustedCallback(Store->Interface, Store, InterfaceX509IsTrusted);
    CertStoreInterface_SetX509PathIsTrustedCallback(Store->Interface, Store, InterfaceX509PathIsTrusted);
    CertStoreInterface_SetX509IsTrustedJWSCallback(Store->Interface, Store, InterfaceX509IsTrustedJWS);
    *Handle = Store;
    return TRUE;
}

int32 CertStorePlatform_Delete(CertStorePlatform **Handle) {
    Debug_CheckPointer(Handle);
    CertStorePlatform_Check(*Handle);
    CertStoreInterface_Delete(&(*Handle)->Interface);
    Memory_Delete(*Handle);
    return TRUE;
}

CLASS_DEFINE_REFERENCE(CertStorePlatform, CertStorePlatform, CERTSTOREPLATFORM_CLASSID)

int32 CertStorePlatform_GetInterfaceHandle(CertStorePlatform *Handle, CertStoreInterface **Interface) {
    CertStorePlatform_Check(Handle);
    Debug_CheckPointer(Interface);
    *Interface = CertStoreInterface_AddRef(Handle->Interface);
    return TRUE;
}
