// AuthenticateAsync: see authenticate_async.h.
#include "crypto/trust/authenticate_async.h"

#include "crypto/trust/authenticate.h"
#include "runtime/memory.h"
#include "runtime/text/string.h"
#include "runtime/thread.h"

struct AuthenticateAsync {
    ClassStruct Class;
    ClassPrintStruct Print;
    Thread *Worker; // null when no thread runs or the last one was joined
    CertStoreInterface *Store;
    uint32 State;
    uint32 SourceKind;
    char SourcePath[AUTHENTICATEASYNC_PATH_SIZE];
    int32 Result; // written by the worker, read after the join
    void *CompleteUser;
    AuthenticateAsync_CompleteFunc CompleteFunction;
    int32 DeleteTimeoutMS;
};

#define AuthenticateAsync_Check(Handle) Class_CheckHandle((Handle), AUTHENTICATEASYNC_CLASSID)

namespace {

// What one thread works on: its own references and its own copy of the path,
// so the owner may change or drop the request's settings meanwhile.
struct Job {
    AuthenticateAsync *Request;
    CertStoreInterface *Store;
    uint32 SourceKind;
    char Path[AUTHENTICATEASYNC_PATH_SIZE];
};

int32 Destroy(void *HandleAddress) {
    AuthenticateAsync **Handle = static_cast<AuthenticateAsync **>(HandleAddress);
    AuthenticateAsync *Object = *Handle;
    // The last reference may be the worker's own: its record then detaches.
    if (Object->Worker != nullptr) Thread_Release(&Object->Worker);
    if (Object->Store != nullptr) CertStoreInterface_Release(&Object->Store);
    Memory_Delete(*Handle);
    return TRUE;
}

void AuthenticateAsync_InternalRaiseComplete(AuthenticateAsync *Handle, int32 Result) {
    if (Handle->CompleteFunction != nullptr) Handle->CompleteFunction(Handle, Handle->CompleteUser, Result);
}

int32 AuthenticateAsync_InternalThreadProcess(void *User) {
    Job *Work = static_cast<Job *>(User);
    Thread *Record = nullptr;
    if (Thread_FindThreadById(Thread_GetCurrentId(), &Record)) {
        Thread_SetName(Record, "AuthenticateAsync");
        Thread_Release(&Record);
    }
    int32 Result = TRUE;
    if (!Authenticate_Enabled())
        AuthenticateAsync_Print(Work->Request, "Skipping authentication (%d) (%s)", Work->SourceKind, Work->Path);
    else
        Result = Authenticate_Validate(Work->Store, Work->Path);
    __atomic_store_n(&Work->Request->Result, Result, __ATOMIC_RELEASE);
    if (Work->Store != nullptr) CertStoreInterface_Release(&Work->Store);
    AuthenticateAsync_Release(&Work->Request);
    Memory_Delete(Work);
    return 0;
}

} // namespace

CLASS_DEFINE_REFERENCE(AuthenticateAsync, AuthenticateAsync, AUTHENTICATEASYNC_CLASSID)
CLASSPRINT_DEFINE(AuthenticateAsync, AuthenticateAsync, AUTHENTICATEASYNC_CLASSID, "AuthenticateAsync", Print)

int32 AuthenticateAsync_VerboseLog(AuthenticateAsync *Handle, const char *Format, ...) {
    AuthenticateAsync_Check(Handle);
    if (!AuthenticateAsync_IsVerboseLevel(Handle, 0)) return FALSE;
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = AuthenticateAsync_VPrint(Handle, 0, Format, Arguments);
    va_end(Arguments);
    return Result;
}

int32 AuthenticateAsync_Create(AuthenticateAsync **Handle) {
    Debug_CheckPointer(Handle);
    AuthenticateAsync *Object = Memory_New(AuthenticateAsync);
    Class_InitHeader(Object, AUTHENTICATEASYNC_CLASSID, Destroy);
    Object->SourceKind = AUTHENTICATEASYNC_SOURCE_FILE;
    Object->DeleteTimeoutMS = AUTHENTICATEASYNC_DELETE_TIMEOUT_MS;
    *Handle = Object;
    return TRUE;
}

int32 AuthenticateAsync_Delete(AuthenticateAsync **Handle) {
    Debug_CheckPointer(Handle);
    AuthenticateAsync *Object = *Handle;
    AuthenticateAsync_Check(Object);
    if (Object->Worker != nullptr && !Thread_Join(Object->DeleteTimeoutMS, &Object->Worker)) {
        AuthenticateAsync_Print(Object, "Timeout waiting on authenticate thread shutdown");
        // The worker's own reference keeps the request until it ends.
        Thread_Release(&Object->Worker);
    }
    return AuthenticateAsync_Release(Handle);
}

int32 AuthenticateAsync_SetDeleteTimeout(AuthenticateAsync *Handle, int32 TimeoutMS) {
    AuthenticateAsync_Check(Handle);
    Handle->DeleteTimeoutMS = TimeoutMS;
    return TRUE;
}

int32 AuthenticateAsync_SetCertStoreHandle(AuthenticateAsync *Handle, CertStoreInterface *Store) {
    AuthenticateAsync_Check(Handle);
    if (Handle->Store != nullptr) CertStoreInterface_Release(&Handle->Store);
    if (Store != nullptr) Handle->Store = CertStoreInterface_AddRef(Store);
    return TRUE;
}

int32 AuthenticateAsync_SetSourcePath(AuthenticateAsync *Handle, const char *Path) {
    AuthenticateAsync_Check(Handle);
    Debug_CheckPointer(Path);
    String_CopyLength(Handle->SourcePath, Path, (int32)sizeof(Handle->SourcePath));
    return TRUE;
}

int32 AuthenticateAsync_GetSourcePath(AuthenticateAsync *Handle, char *Output, int32 Size) {
    AuthenticateAsync_Check(Handle);
    Debug_CheckPointer(Output);
    String_CopyLength(Output, Handle->SourcePath, Size);
    return TRUE;
}

int32 AuthenticateAsync_SetCompleteCallback(AuthenticateAsync *Handle, void *User,
                                            AuthenticateAsync_CompleteFunc Function) {
    AuthenticateAsync_Check(Handle);
    Handle->CompleteUser = User;
    Handle->CompleteFunction = Function;
    return TRUE;
}

int32 AuthenticateAsync_Start(AuthenticateAsync *Handle) {
    AuthenticateAsync_Check(Handle);
    if (Handle->Worker != nullptr) {
        AuthenticateAsync_Print(Handle, "Already running");
        return FALSE;
    }
    if (!Authenticate_Enabled()) {
        AuthenticateAsync_Print(Handle, "Skipping authentication (%d) (%s)", Handle->SourceKind, Handle->SourcePath);
        Handle->Result = TRUE;
        Handle->State = AUTHENTICATEASYNC_STATE_RUNNING;
        return TRUE;
    }
    Handle->Result = FALSE;
    Job *Work = Memory_New(Job);
    Work->Request = AuthenticateAsync_AddRef(Handle);
    if (Handle->Store != nullptr) Work->Store = CertStoreInterface_AddRef(Handle->Store);
    Work->SourceKind = Handle->SourceKind;
    String_CopyLength(Work->Path, Handle->SourcePath, (int32)sizeof(Work->Path));
    if (!Thread_Begin(&Handle->Worker, Work, AuthenticateAsync_InternalThreadProcess)) {
        if (Work->Store != nullptr) CertStoreInterface_Release(&Work->Store);
        AuthenticateAsync_Release(&Work->Request);
        Memory_Delete(Work);
        AuthenticateAsync_Print(Handle, "Unable to create authentication process thread");
        AuthenticateAsync_InternalRaiseComplete(Handle, FALSE);
        return FALSE;
    }
    Handle->State = AUTHENTICATEASYNC_STATE_RUNNING;
    return TRUE;
}

int32 AuthenticateAsync_Process(AuthenticateAsync *Handle) {
    AuthenticateAsync_Check(Handle);
    switch (Handle->State) {
    case AUTHENTICATEASYNC_STATE_IDLE: break;
    case AUTHENTICATEASYNC_STATE_RUNNING:
        if (Handle->Worker != nullptr && !Thread_Join(0, &Handle->Worker)) break;
        Handle->State = AUTHENTICATEASYNC_STATE_IDLE;
        AuthenticateAsync_InternalRaiseComplete(Handle, __atomic_load_n(&Handle->Result, __ATOMIC_ACQUIRE));
        break;
    default: AuthenticateAsync_Print(Handle, "Unknown state (%d)", Handle->State); break;
    }
    return TRUE;
}

int32 AuthenticateAsync_GetState(AuthenticateAsync *Handle, uint32 *State) {
    AuthenticateAsync_Check(Handle);
    Debug_CheckPointer(State);
    *State = Handle->State;
    return TRUE;
}
