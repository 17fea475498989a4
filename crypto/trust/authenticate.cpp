// The process-wide trust registry (see authenticate.h).
#include "crypto/trust/authenticate.h"

#include "crypto/trust/cert_store_platform.h"
#include "crypto/trust/x509_chain.h"
#include "runtime/files/file.h"
#include "runtime/log.h"
#include "runtime/memory.h"

namespace {

struct AuthenticateRecord {
    ClassStruct Class;
    CertStoreTable *CertStores;
    CertStoreTable *KeyStores;
    CertStoreList *AppList;
};

AuthenticateRecord *Record = nullptr;
// A certificate file is a few KiB: one of more is refused before it is read,
// so that a page naming a large file does not make this process hold it.
constexpr int64 MaximumCertificateSize = 1024 * 1024;
// The executable module's signature check (Authenticate_SetSignatureCheck).
Authenticate_SignatureFunc SignatureCheck = nullptr;

// Registers a store's interface permanently and drops the caller's reference.
void RegisterPermanent(const char *Name, CertStoreInterface *Interface) {
    CertStoreTable_Add(Record->CertStores, Name, 0, Interface);
    CertStoreInterface_Release(&Interface);
}

} // namespace

int32 Authenticate_Init(void) {
    if (Record != nullptr) return FALSE;
    Record = Memory_New(AuthenticateRecord);
    Record->Class.ClassId = AUTHENTICATE_CLASSID;
    Authenticate_SetEnabled(1);
    CertStoreTable_Create(&Record->CertStores);
    CertStoreTable_Create(&Record->KeyStores);
    CertStoreList_Create(&Record->AppList);

    CertStoreInterface *Interface = nullptr;
    CertStoreList_GetInterfaceHandle(Record->AppList, &Interface);
    RegisterPermanent("app", Interface);

    CertStorePlatform *Platform = nullptr;
    CertStorePlatform_Create(&Platform);
    CertStorePlatform_GetInterfaceHandle(Platform, &Interface);
    CertStoreTable_Add(Record->CertStores, "platform", 0, Interface);
    CertStoreList_Add(Record->AppList, Interface);
    CertStoreInterface_Release(&Interface);
    CertStorePlatform_Release(&Platform);

    CertStoreNull *Null = nullptr;
    CertStoreNull_Create(&Null);
    CertStoreNull_GetInterfaceHandle(Null, &Interface);
    RegisterPermanent("null", Interface);
    CertStoreNull_Release(&Null);
    return TRUE;
}

int32 Authenticate_Remove(void) {
    if (Record == nullptr) return TRUE;
    CertStoreTable_Release(&Record->CertStores);
    CertStoreTable_Release(&Record->KeyStores);
    CertStoreList_Release(&Record->AppList);
    Memory_Delete(Record);
    Record = nullptr;
    Authenticate_SetEnabled(1);
    return TRUE;
}

CertStoreTable *Authenticate_GetCertStoreTableHandle(void) { return Record != nullptr ? Record->CertStores : nullptr; }
CertStoreTable *Authenticate_GetKeyStoreTableHandle(void) { return Record != nullptr ? Record->KeyStores : nullptr; }
CertStoreList *Authenticate_GetCertStoreAppListHandle(void) { return Record != nullptr ? Record->AppList : nullptr; }

CertStoreInterface *Authenticate_CertStoreGet(const char *Name) {
    Debug_CheckPointer(Name);
    CertStoreInterface *Interface = nullptr;
    if (Record != nullptr && CertStoreTable_GetInterfaceHandle(Record->CertStores, Name, &Interface)) return Interface;
    Log_Error("Unable to find certificate store (%s)\n", Name);
    CertStoreNull *Null = nullptr;
    CertStoreNull_Create(&Null);
    CertStoreNull_GetInterfaceHandle(Null, &Interface);
    CertStoreNull_Release(&Null);
    return Interface;
}

int32 Authenticate_CertStoreRelease(CertStoreInterface **Handle) {
    if (Handle == nullptr || *Handle == nullptr) return TRUE;
    return CertStoreInterface_Release(Handle);
}

int32 Authenticate_SetSignatureCheck(Authenticate_SignatureFunc Check) {
    // Every start-up sets the same check again: only a change is written.
    if (__atomic_load_n(&SignatureCheck, __ATOMIC_ACQUIRE) != Check)
        __atomic_store_n(&SignatureCheck, Check, __ATOMIC_RELEASE);
    return TRUE;
}

int32 Authenticate_Validate(CertStoreInterface *Store, const char *Path) {
    Debug_CheckPointer(Path);
    if (!Authenticate_Enabled()) {
        Log_Debug("Skipping library authentication (%s)\n", Path);
        return TRUE;
    }
    Authenticate_SignatureFunc Check = __atomic_load_n(&SignatureCheck, __ATOMIC_ACQUIRE);
    if (Check != nullptr && Check(Store, Path)) return TRUE;
    Log_Debug("Library validation failed (%s)\n", Path);
    return FALSE;
}

int32 Authenticate_ValidateX509MemoryInt(CertStoreInterface *Store, const void *Bytes, int32 Length) {
    if (Bytes == nullptr || Length <= 0) return FALSE;
    X509 *Certificate = nullptr;
    X509Chain *Chain = nullptr;
    X509_Create(&Certificate);
    X509Chain_Create(&Chain);
    const int32 Result = X509_BuildFromBuffer(Certificate, Bytes, (uint32)Length) &&
                         X509Chain_Add(Chain, Certificate) && X509Chain_VerifyX509(Chain, Certificate, Store);
    X509Chain_Release(&Chain);
    X509_Release(&Certificate);
    return Result;
}

int32 Authenticate_ValidateX509(CertStoreInterface *Store, const char *Path) {
    Debug_CheckPointer(Path);
    if (!Authenticate_Enabled()) {
        Log_Debug("Skipping certificate authentication (%s)\n", Path);
        return TRUE;
    }
    File *Source = nullptr;
    File_Create(&Source);
    File_SetRetries(Source, 1);
    int32 Result = FALSE;
    int64 Size = 0;
    if (File_Open(Source, Path, FILE_READ | FILE_SHAREREAD)) {
        File_GetFilesizeBytes(Source, &Size);
        if (Size < 1 || Size > MaximumCertificateSize) {
            Log_Error("Invalid size for file [%s] (%I64d)\n", Path, Size);
        } else {
            MemoryScope<uint8> Bytes((int32)Size);
            uint32 Have = 0, Count = 0;
            while (Have < (uint32)Size && File_Read(Source, Bytes.Get() + Have, (uint32)Size - Have, &Count) && Count > 0)
                Have += Count;
            if (Have == (uint32)Size) Result = Authenticate_ValidateX509MemoryInt(Store, Bytes.Get(), (int32)Size);
        }
        File_Close(Source);
    }
    File_Delete(&Source);
    if (!Result) Log_Debug("Ceritificate file validation (%s) failed\n", Path);
    return Result;
}

int32 Authenticate_ValidateX509Interop(const char *StoreName, const char *Path) {
    Debug_CheckPointer(StoreName);
    Debug_CheckPointer(Path);
    CertStoreInterface *Named = Authenticate_CertStoreGet(StoreName);
    CertStoreList *List = nullptr;
    CertStoreList_Create(&List);
    CertStoreList_Add(List, Named);
    CertStoreInterface *Store = nullptr;
    CertStoreList_GetInterfaceHandle(List, &Store);
    const int32 Result = Authenticate_ValidateX509(Store, Path);
    CertStoreInterface_Release(&Store);
    CertStoreList_Release(&List);
    Authenticate_CertStoreRelease(&Named);
    return Result;
}
