// The trust-question object, the store name table, and the null and list
// store kinds (see cert_store.h).
#include "crypto/trust/cert_store.h"

#include <string.h>

#include "crypto/trust/authenticate.h"
#include "runtime/critical_section.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/text/string.h"

struct CertStoreInterface {
    ClassStruct Class;
    CallbackStruct AddRef;
    CallbackStruct Release;
    CallbackStruct GetKey;
    CallbackStruct X509IsTrusted;
    CallbackStruct X509PathIsTrusted;
    CallbackStruct X509IsTrustedJWS;
};

namespace {

constexpr uint32 TableEntryCheck = 0x253fae89u;
constexpr uint32 ListCheck = 0x4a2a902cu;

struct TableEntry {
    uint32 Check;
    char Name[CERTSTORE_MAX_NAME_LENGTH + 1];
    uint32 Replaceable;
    CertStoreInterface *Interface;
    TableEntry *Next;
};

struct ListEntry {
    CertStoreInterface *Member;
    ListEntry *Prev;
    ListEntry *Next;
};

// Asks one trust callback; a store without it is a programming error.
template <typename Func>
Func RequireCallback(CallbackStruct *Callback, void **User, const char *What) {
    Func Function = nullptr;
    CallbackBase_Get(Callback, User, &Function);
    if (Function == nullptr) Debug_AbortInt(__FILE__, __LINE__, "Certificate store has no %s callback\n", What);
    return Function;
}

} // namespace

struct CertStoreTable {
    ClassStruct Class;
    void *Lock;
    TableEntry *First;
};

struct CertStoreNull {
    ClassStruct Class;
    CertStoreInterface *Interface;
};

struct CertStoreList {
    ClassStruct Class;
    CertStoreInterface *Interface;
    uint32 Check;
    int32 Count;
    ListEntry *First;
    ListEntry *Last;
    void *Lock;
};

// ---- Interface ----

int32 CertStoreInterface_Create(CertStoreInterface **Handle) {
    Debug_CheckPointer(Handle);
    CertStoreInterface *Interface = Memory_New(CertStoreInterface);
    Interface->Class.ClassId = CERTSTOREINTERFACE_CLASSID;
    *Handle = Interface;
    return TRUE;
}

int32 CertStoreInterface_Delete(CertStoreInterface **Handle) {
    Debug_CheckPointer(Handle);
    Class_CheckHandle(*Handle, CERTSTOREINTERFACE_CLASSID);
    Memory_Delete(*Handle);
    *Handle = nullptr;
    return TRUE;
}

#define CERTSTORE_SETTER(Name, Field, FuncType)                                                  \
    int32 CertStoreInterface_Set##Name##Callback(CertStoreInterface *Handle, void *User, FuncType Function) { \
        Class_CheckHandle(Handle, CERTSTOREINTERFACE_CLASSID);                                   \
        CallbackBase_Set(&Handle->Field, User, Function);                                        \
        return TRUE;                                                                             \
    }
CERTSTORE_SETTER(AddRef, AddRef, CertStoreInterface_AddRefFunc)
CERTSTORE_SETTER(Release, Release, CertStoreInterface_ReleaseFunc)
CERTSTORE_SETTER(GetKey, GetKey, CertStoreInterface_GetKeyFunc)
CERTSTORE_SETTER(X509IsTrusted, X509IsTrusted, CertStoreInterface_X509IsTrustedFunc)
CERTSTORE_SETTER(X509PathIsTrusted, X509PathIsTrusted, CertStoreInterface_X509PathIsTrustedFunc)
CERTSTORE_SETTER(X509IsTrustedJWS, X509IsTrustedJWS, CertStoreInterface_X509IsTrustedJWSFunc)
#undef CERTSTORE_SETTER

CertStoreInterface *CertStoreInterface_AddRef(CertStoreInterface *Handle) {
    Class_CheckHandle(Handle, CERTSTOREINTERFACE_CLASSID);
    void *User = nullptr;
    auto Function = RequireCallback<CertStoreInterface_AddRefFunc>(&Handle->AddRef, &User, "AddRef");
    return Function(Handle, User);
}

int32 CertStoreInterface_Release(CertStoreInterface **Handle) {
    Debug_CheckPointer(Handle);
    Class_CheckHandle(*Handle, CERTSTOREINTERFACE_CLASSID);
    void *User = nullptr;
    auto Function = RequireCallback<CertStoreInterface_ReleaseFunc>(&(*Handle)->Release, &User, "Release");
    int32 Result = Function(Handle, User);
    *Handle = nullptr;
    return Result;
}

int32 CertStoreInterface_GetKey(CertStoreInterface *Handle, const uint8 **Key, uint32 *Size) {
    Class_CheckHandle(Handle, CERTSTOREINTERFACE_CLASSID);
    Debug_CheckPointer(Key);
    Debug_CheckPointer(Size);
    void *User = nullptr;
    CertStoreInterface_GetKeyFunc Function = nullptr;
    CallbackBase_Get(&Handle->GetKey, &User, &Function);
    if (Function == nullptr) return FALSE;
    return Function(Handle, User, Key, Size);
}

int32 CertStoreInterface_X509IsTrusted(CertStoreInterface *Handle, X509 *Certificate, uint32 *Stop) {
    return CertStoreInterface_X509PathIsTrusted(Handle, &Certificate, 1, Stop);
}

int32 CertStoreInterface_X509PathIsTrusted(CertStoreInterface *Handle, X509 *const *Path, int32 Count, uint32 *Stop) {
    Class_CheckHandle(Handle, CERTSTOREINTERFACE_CLASSID);
    Debug_CheckPointer(Stop);
    *Stop = 0;
    if (!Authenticate_Enabled()) return TRUE;
    if (Path == nullptr || Count < 1) return FALSE;
    void *User = nullptr;
    CertStoreInterface_X509PathIsTrustedFunc PathFunction = nullptr;
    CallbackBase_Get(&Handle->X509PathIsTrusted, &User, &PathFunction);
    if (PathFunction != nullptr) return PathFunction(Handle, User, Path, Count, Stop);
    auto Function = RequireCallback<CertStoreInterface_X509IsTrustedFunc>(&Handle->X509IsTrusted, &User, "X509IsTrusted");
    return Function(Handle, User, Path[Count - 1], Stop);
}

int32 CertStoreInterface_X509IsTrustedJWS(CertStoreInterface *Handle, Dictionary *Header, CryptAsymmetric **Key,
                                          uint32 *Stop) {
    Class_CheckHandle(Handle, CERTSTOREINTERFACE_CLASSID);
    Debug_CheckPointer(Key);
    Debug_CheckPointer(Stop);
    *Key = nullptr;
    *Stop = 0;
    if (!Authenticate_Enabled()) return TRUE;
    void *User = nullptr;
    auto Function =
        RequireCallback<CertStoreInterface_X509IsTrustedJWSFunc>(&Handle->X509IsTrustedJWS, &User, "X509IsTrustedJWS");
    return Function(Handle, User, Header, Key, Stop);
}

// ---- Table ----

static TableEntry **CertStoreTable_FindLink(CertStoreTable *Table, const char *Name) {
    for (TableEntry **Link = &Table->First; *Link != nullptr; Link = &(*Link)->Next) {
        Class_CheckTag(*Link, Check, TableEntryCheck);
        if (String_CompareWithoutCase((*Link)->Name, Name)) return Link;
    }
    return nullptr;
}

static void CertStoreTable_FreeEntry(TableEntry **Link) {
    TableEntry *Entry = *Link;
    *Link = Entry->Next;
    CertStoreInterface_Release(&Entry->Interface);
    Memory_Delete(Entry);
}

static int32 CertStoreTable_DeleteObject(void *HandleAddress) {
    return CertStoreTable_Delete(static_cast<CertStoreTable **>(HandleAddress));
}

int32 CertStoreTable_Create(CertStoreTable **Handle) {
    Debug_CheckPointer(Handle);
    CertStoreTable *Table = Memory_New(CertStoreTable);
    Class_InitHeader(Table, CERTSTORETABLE_CLASSID, CertStoreTable_DeleteObject);
    CriticalSection_Create(&Table->Lock);
    *Handle = Table;
    return TRUE;
}

int32 CertStoreTable_Delete(CertStoreTable **Handle) {
    Debug_CheckPointer(Handle);
    CertStoreTable *Table = *Handle;
    Class_CheckHandle(Table, CERTSTORETABLE_CLASSID);
    CriticalSection_Lock(Table->Lock);
    while (Table->First != nullptr) CertStoreTable_FreeEntry(&Table->First);
    CriticalSection_Unlock(Table->Lock);
    CriticalSection_Delete(&Table->Lock);
    Memory_Delete(Table);
    *Handle = nullptr;
    return TRUE;
}

CLASS_DEFINE_REFERENCE(CertStoreTable, CertStoreTable, CERTSTORETABLE_CLASSID)

int32 CertStoreTable_Add(CertStoreTable *Handle, const char *Name, uint32 Replaceable, CertStoreInterface *Interface) {
    Class_CheckHandle(Handle, CERTSTORETABLE_CLASSID);
    Debug_CheckPointer(Name);
    Class_CheckHandle(Interface, CERTSTOREINTERFACE_CLASSID);
    CriticalSection_Lock(Handle->Lock);
    TableEntry **Link = CertStoreTable_FindLink(Handle, Name);
    if (Link != nullptr && !(*Link)->Replaceable) {
        CriticalSection_Unlock(Handle->Lock);
        return FALSE;
    }
    if (Link != nullptr) CertStoreTable_FreeEntry(Link);
    TableEntry *Entry = Memory_New(TableEntry);
    Entry->Check = TableEntryCheck;
    String_CopyLength(Entry->Name, Name, (int32)sizeof(Entry->Name));
    Entry->Replaceable = Replaceable ? 1 : 0;
    Entry->Interface = CertStoreInterface_AddRef(Interface);
    Entry->Next = Handle->First;
    Handle->First = Entry;
    CriticalSection_Unlock(Handle->Lock);
    return TRUE;
}

int32 CertStoreTable_Remove(CertStoreTable *Handle, const char *Name) {
    Class_CheckHandle(Handle, CERTSTORETABLE_CLASSID);
    Debug_CheckPointer(Name);
    CriticalSection_Lock(Handle->Lock);
    TableEntry **Link = CertStoreTable_FindLink(Handle, Name);
    int32 Removed = Link != nullptr && (*Link)->Replaceable == 1;
    if (Removed) CertStoreTable_FreeEntry(Link);
    CriticalSection_Unlock(Handle->Lock);
    return Removed;
}

int32 CertStoreTable_GetInterfaceHandle(CertStoreTable *Handle, const char *Name, CertStoreInterface **Interface) {
    Class_CheckHandle(Handle, CERTSTORETABLE_CLASSID);
    Debug_CheckPointer(Name);
    Debug_CheckPointer(Interface);
    *Interface = nullptr;
    CriticalSection_Lock(Handle->Lock);
    TableEntry **Link = CertStoreTable_FindLink(Handle, Name);
    if (Link != nullptr) *Interface = CertStoreInterface_AddRef((*Link)->Interface);
    CriticalSection_Unlock(Handle->Lock);
    return *Interface != nullptr;
}

// ---- Null store ----

static CertStoreInterface *CertStoreNull_InterfaceAddRef(CertStoreInterface *Interface, void *User) {
    CertStoreNull_AddRef(static_cast<CertStoreNull *>(User));
    return Interface;
}

static int32 CertStoreNull_InterfaceRelease(CertStoreInterface **Interface, void *User) {
    CertStoreNull *Store = static_cast<CertStoreNull *>(User);
    *Interface = nullptr;
    return CertStoreNull_Release(&Store);
}

static int32 CertStoreNull_InterfaceX509IsTrusted(CertStoreInterface *, void *, X509 *, uint32 *Stop) {
    *Stop = 0;
    return FALSE;
}

static int32 CertStoreNull_InterfaceX509IsTrustedJWS(CertStoreInterface *, void *, Dictionary *, CryptAsymmetric **Key,
                                                    uint32 *Stop) {
    *Key = nullptr;
    *Stop = 0;
    return FALSE;
}

static int32 CertStoreNull_DeleteObject(void *HandleAddress) {
    return CertStoreNull_Delete(static_cast<CertStoreNull **>(HandleAddress));
}

int32 CertStoreNull_Create(CertStoreNull **Handle) {
    Debug_CheckPointer(Handle);
    CertStoreNull *Store = Memory_New(CertStoreNull);
    Class_InitHeader(Store, CERTSTORENULL_CLASSID, CertStoreNull_DeleteObject);
    CertStoreInterface_Create(&Store->Interface);
    CertStoreInterface_SetAddRefCallback(Store->Interface, Store, CertStoreNull_InterfaceAddRef);
    CertStoreInterface_SetReleaseCallback(Store->Interface, Store, CertStoreNull_InterfaceRelease);
    CertStoreInterface_SetX509IsTrustedCallback(Store->Interface, Store, CertStoreNull_InterfaceX509IsTrusted);
    CertStoreInterface_SetX509IsTrustedJWSCallback(Store->Interface, Store, CertStoreNull_InterfaceX509IsTrustedJWS);
    *Handle = Store;
    return TRUE;
}

int32 CertStoreNull_Delete(CertStoreNull **Handle) {
    Debug_CheckPointer(Handle);
    Class_CheckHandle(*Handle, CERTSTORENULL_CLASSID);
    CertStoreInterface_Delete(&(*Handle)->Interface);
    Memory_Delete(*Handle);
    *Handle = nullptr;
    return TRUE;
}

CLASS_DEFINE_REFERENCE(CertStoreNull, CertStoreNull, CERTSTORENULL_CLASSID)

int32 CertStoreNull_GetInterfaceHandle(CertStoreNull *Handle, CertStoreInterface **Interface) {
    Class_CheckHandle(Handle, CERTSTORENULL_CLASSID);
    Debug_CheckPointer(Interface);
    *Interface = CertStoreInterface_AddRef(Handle->Interface);
    return TRUE;
}

// ---- List store ----

static CertStoreInterface *CertStoreList_InterfaceAddRef(CertStoreInterface *Interface, void *User) {
    CertStoreList_AddRef(static_cast<CertStoreList *>(User));
    return Interface;
}

static int32 CertStoreList_InterfaceRelease(CertStoreInterface **Interface, void *User) {
    CertStoreList *Store = static_cast<CertStoreList *>(User);
    *Interface = nullptr;
    return CertStoreList_Release(&Store);
}

// The first member that trusts answers; a member's positive refusal ends the walk.
static int32 CertStoreList_InterfaceX509PathIsTrusted(CertStoreInterface *, void *User, X509 *const *Path,
                                                      int32 Count, uint32 *Stop) {
    CertStoreList *Store = static_cast<CertStoreList *>(User);
    int32 Trusted = FALSE;
    *Stop = 0;
    CriticalSection_Lock(Store->Lock);
    Class_CheckTag(Store, Check, ListCheck);
    for (ListEntry *Entry = Store->First; Entry != nullptr && !Trusted && !*Stop; Entry = Entry->Next)
        Trusted = CertStoreInterface_X509PathIsTrusted(Entry->Member, Path, Count, Stop);
    CriticalSection_Unlock(Store->Lock);
    return Trusted;
}

static int32 CertStoreList_InterfaceX509IsTrusted(CertStoreInterface *Interface, void *User, X509 *Certificate,
                                                  uint32 *Stop) {
    return CertStoreList_InterfaceX509PathIsTrusted(Interface, User, &Certificate, 1, Stop);
}

static int32 CertStoreList_InterfaceX509IsTrustedJWS(CertStoreInterface *, void *User, Dictionary *Header,
                                                    CryptAsymmetric **Key, uint32 *Stop) {
    CertStoreList *Store = static_cast<CertStoreList *>(User);
    int32 Trusted = FALSE;
    *Key = nullptr;
    *Stop = 0;
    CriticalSection_Lock(Store->Lock);
    Class_CheckTag(Store, Check, ListCheck);
    for (ListEntry *Entry = Store->First; Entry != nullptr && !Trusted && !*Stop; Entry = Entry->Next)
        Trusted = CertStoreInterface_X509IsTrustedJWS(Entry->Member, Header, Key, Stop);
    CriticalSection_Unlock(Store->Lock);
    return Trusted;
}

// The first member that holds a key gives it, so that a task's list of key
// stores serves the keyed JWS checks as its single store would.
static int32 CertStoreList_InterfaceGetKey(CertStoreInterface *, void *User, const uint8 **Key, uint32 *Size) {
    CertStoreList *Store = static_cast<CertStoreList *>(User);
    int32 Found = FALSE;
    CriticalSection_Lock(Store->Lock);
    Class_CheckTag(Store, Check, ListCheck);
    for (ListEntry *Entry = Store->First; Entry != nullptr && !Found; Entry = Entry->Next)
        Found = CertStoreInterface_GetKey(Entry->Member, Key, Size);
    CriticalSection_Unlock(Store->Lock);
    return Found;
}

static int32 CertStoreList_DeleteObject(void *HandleAddress) {
    return CertStoreList_Delete(static_cast<CertStoreList **>(HandleAddress));
}

int32 CertStoreList_Create(CertStoreList **Handle) {
    Debug_CheckPointer(Handle);
    CertStoreList *Store = Memory_New(CertStoreList);
    Class_InitHeader(Store, CERTSTORELIST_CLASSID, CertStoreList_DeleteObject);
    Store->Check = ListCheck;
    CriticalSection_Create(&Store->Lock);
    CertStoreInterface_Create(&Store->Interface);
    CertStoreInterface_SetAddRefCallback(Store->Interface, Store, CertStoreList_InterfaceAddRef);
    CertStoreInterface_SetReleaseCallback(Store->Interface, Store, CertStoreList_InterfaceRelease);
    CertStoreInterface_SetX509IsTrustedCallback(Store->Interface, Store, CertStoreList_InterfaceX509IsTrusted);
    CertStoreInterface_SetX509PathIsTrustedCallback(Store->Interface, Store, CertStoreList_InterfaceX509PathIsTrusted);
    CertStoreInterface_SetX509IsTrustedJWSCallback(Store->Interface, Store, CertStoreList_InterfaceX509IsTrustedJWS);
    CertStoreInterface_SetGetKeyCallback(Store->Interface, Store, CertStoreList_InterfaceGetKey);
    *Handle = Store;
    return TRUE;
}

int32 CertStoreList_Delete(CertStoreList **Handle) {
    Debug_CheckPointer(Handle);
    CertStoreList *Store = *Handle;
    Class_CheckHandle(Store, CERTSTORELIST_CLASSID);
    CertStoreList_Reset(Store);
    CriticalSection_Delete(&Store->Lock);
    CertStoreInterface_Delete(&Store->Interface);
    Memory_Delete(Store);
    *Handle = nullptr;
    return TRUE;
}

CLASS_DEFINE_REFERENCE(CertStoreList, CertStoreList, CERTSTORELIST_CLASSID)

int32 CertStoreList_GetInterfaceHandle(CertStoreList *Handle, CertStoreInterface **Interface) {
    Class_CheckHandle(Handle, CERTSTORELIST_CLASSID);
    Debug_CheckPointer(Interface);
    *Interface = CertStoreInterface_AddRef(Handle->Interface);
    return TRUE;
}

// The list behind an interface, or null when another kind of store owns it.
static CertStoreList *ListOf(CertStoreInterface *Interface) {
    void *User = nullptr;
    CertStoreInterface_ReleaseFunc Function = nullptr;
    CallbackBase_Get(&Interface->Release, &User, &Function);
    return Function == CertStoreList_InterfaceRelease ? static_cast<CertStoreList *>(User) : nullptr;
}

// True when Member is Target or a list that holds Target at any depth. Lists
// are only ever added without a cycle, so the walk ends.
static bool Reaches(CertStoreInterface *Member, CertStoreList *Target) {
    CertStoreList *Inner = ListOf(Member);
    if (Inner == nullptr) return false;
    if (Inner == Target) return true;
    bool Found = false;
    CriticalSection_Lock(Inner->Lock);
    for (ListEntry *Entry = Inner->First; Entry != nullptr && !Found; Entry = Entry->Next)
        Found = Reaches(Entry->Member, Target);
    CriticalSection_Unlock(Inner->Lock);
    return Found;
}

int32 CertStoreList_Add(CertStoreList *Handle, CertStoreInterface *Member) {
    Class_CheckHandle(Handle, CERTSTORELIST_CLASSID);
    Class_CheckHandle(Member, CERTSTOREINTERFACE_CLASSID);
    // A list inside itself would ask itself for ever (under its own lock)
    // and, holding its own reference, never be freed.
    if (Reaches(Member, Handle)) {
        Log_Error("Certificate store list cannot hold itself\n");
        return FALSE;
    }
    ListEntry *Entry = Memory_New(ListEntry);
    Entry->Member = CertStoreInterface_AddRef(Member);
    CriticalSection_Lock(Handle->Lock);
    Class_CheckTag(Handle, Check, ListCheck);
    Entry->Prev = Handle->Last;
    if (Handle->Last != nullptr) Handle->Last->Next = Entry;
    else Handle->First = Entry;
    Handle->Last = Entry;
    Handle->Count++;
    CriticalSection_Unlock(Handle->Lock);
    return TRUE;
}

int32 CertStoreList_Reset(CertStoreList *Handle) {
    Class_CheckHandle(Handle, CERTSTORELIST_CLASSID);
    CriticalSection_Lock(Handle->Lock);
    ListEntry *Entry = Handle->First;
    Handle->First = Handle->Last = nullptr;
    Handle->Count = 0;
    CriticalSection_Unlock(Handle->Lock);
    // Members are released outside the lock: a member may be a list that
    // leads back here.
    while (Entry != nullptr) {
        ListEntry *Next = Entry->Next;
        CertStoreInterface_Release(&Entry->Member);
        Memory_Delete(Entry);
        Entry = Next;
    }
    return TRUE;
}

int32 CertStoreList_GetCount(CertStoreList *Handle, int32 *Count) {
    Class_CheckHandle(Handle, CERTSTORELIST_CLASSID);
    Debug_CheckPointer(Count);
    CriticalSection_Lock(Handle->Lock);
    *Count = Handle->Count;
    CriticalSection_Unlock(Handle->Lock);
    return TRUE;
}
