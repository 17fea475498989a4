// The process-wide trust registry and the authentication switch (see
// authenticate.h).
#include "core/crypto/authenticate.h"

#include "core/executable.h"
#include "core/log.h"
#include "core/memory.h"

namespace {

struct AuthenticateRecord {
    ClassStruct Class;
    CertStoreTable *CertStores;
    CertStoreTable *KeyStores;
    CertStoreList *AppList;
    uint32 Enabled;
};

AuthenticateRecord *Record = nullptr;
Authenticate_EnabledFunc EnabledHook = nullptr;
// The switch outside Init ... Remove: on, so that nothing unsigned slips
// through before the host has started the registry.
uint32 EnabledWithoutRecord = 1;

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
    Record->Enabled = 1;
    CertStoreTable_Create(&Record->CertStores);
    CertStoreTable_Create(&Record->KeyStores);
    CertStoreList_Create(&Record->AppList);

    CertStoreInterface *Interface = nullptr;
    CertStoreList_GetInterfaceHandle(Record->AppList, &Interface);
    RegisterPermanent("app", Interface);

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
    EnabledWithoutRecord = 1;
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

int32 Authenticate_SetEnabled(uint32 Flag) {
    if (Record != nullptr) __atomic_store_n(&Record->Enabled, Flag ? 1u : 0u, __ATOMIC_RELAXED);
    else __atomic_store_n(&EnabledWithoutRecord, Flag ? 1u : 0u, __ATOMIC_RELAXED);
    return TRUE;
}

int32 Authenticate_Enabled(void) {
    Authenticate_EnabledFunc Hook = __atomic_load_n(&EnabledHook, __ATOMIC_ACQUIRE);
    if (Hook != nullptr) return Hook();
    if (Record != nullptr) return (int32)__atomic_load_n(&Record->Enabled, __ATOMIC_RELAXED);
    return (int32)__atomic_load_n(&EnabledWithoutRecord, __ATOMIC_RELAXED);
}

int32 Authenticate_EnabledOverride(Authenticate_EnabledFunc Function) {
    __atomic_store_n(&EnabledHook, Function, __ATOMIC_RELEASE);
    return TRUE;
}

int32 Authenticate_Validate(CertStoreInterface *Store, const char *Path) {
    Debug_CheckPointer(Path);
    if (!Authenticate_Enabled()) {
        Log_Debug("Skipping library authentication (%s)\n", Path);
        return TRUE;
    }
    if (Executable_Authenticate(Store, Path)) return TRUE;
    Log_Debug("Library validation failed (%s)\n", Path);
    return FALSE;
}
