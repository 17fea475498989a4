// AuthenticateAsync: one file authentication (Authenticate_Validate) run on a
// worker thread of its own, so that the thread that owns the request never
// blocks on it. The owner sets the store, the path and the complete callback,
// calls Start, then Process on each tick; Process delivers the result through
// the callback, on the owner's thread, once the thread has ended.
//
// With authentication off no thread is made: Start succeeds at once and the
// next Process delivers 1. Exactly one complete callback follows each Start
// that answered 1; a thread that cannot be made completes inside Start with 0.
//
// Lifetime: the worker holds a reference on the request (and so on its store)
// until it ends. AuthenticateAsync_Delete waits up to 120,000 ms for the
// thread and then drops the owner's reference; a thread that outlives the
// wait frees the request itself when it ends.
#pragma once

#include "crypto/trust/cert_store.h"
#include "runtime/class.h"
#include "runtime/types.h"

#define AUTHENTICATEASYNC_CLASSID 0x316d72f1u
#define AUTHENTICATEASYNC_STATE_IDLE 0
#define AUTHENTICATEASYNC_STATE_RUNNING 1
// The only source kind: a file path.
#define AUTHENTICATEASYNC_SOURCE_FILE 1
// The longest path kept, with its terminator.
#define AUTHENTICATEASYNC_PATH_SIZE 320
// How long Delete waits for a running thread.
#define AUTHENTICATEASYNC_DELETE_TIMEOUT_MS 120000

RUNTIME_EXTERN_C_BEGIN

typedef struct AuthenticateAsync AuthenticateAsync;

typedef int32 (*AuthenticateAsync_CompleteFunc)(AuthenticateAsync *Handle, void *User, int32 Result);

int32 AuthenticateAsync_Create(AuthenticateAsync **Handle);
// Waits for a running thread (at most 120,000 ms), then drops the reference.
int32 AuthenticateAsync_Delete(AuthenticateAsync **Handle);
CLASS_DECLARE_REFERENCE(AuthenticateAsync, AuthenticateAsync)
CLASSPRINT_DECLARE(AuthenticateAsync, AuthenticateAsync)
int32 AuthenticateAsync_VerboseLog(AuthenticateAsync *Handle, const char *Format, ...);

// Takes a reference on the store, dropping the one held; null clears.
int32 AuthenticateAsync_SetCertStoreHandle(AuthenticateAsync *Handle, CertStoreInterface *Store);
int32 AuthenticateAsync_SetSourcePath(AuthenticateAsync *Handle, const char *Path);
int32 AuthenticateAsync_GetSourcePath(AuthenticateAsync *Handle, char *Output, int32 Size);
int32 AuthenticateAsync_SetCompleteCallback(AuthenticateAsync *Handle, void *User,
                                            AuthenticateAsync_CompleteFunc Function);

// 1 when started (or, with authentication off, when completion is pending);
// 0 while a thread exists already, or when none could be made.
int32 AuthenticateAsync_Start(AuthenticateAsync *Handle);
// The owner's tick: delivers the result once the thread has ended. 1.
int32 AuthenticateAsync_Process(AuthenticateAsync *Handle);
int32 AuthenticateAsync_GetState(AuthenticateAsync *Handle, uint32 *State);
// How long Delete waits for a running thread (tests shorten it).
int32 AuthenticateAsync_SetDeleteTimeout(AuthenticateAsync *Handle, int32 TimeoutMS);

RUNTIME_EXTERN_C_END
