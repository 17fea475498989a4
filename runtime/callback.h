// Callbacks: a user value and a function that are set together and read
// without a lock, so that one thread may set or reset a callback while
// another is about to call it. The pair is 16 bytes, 16-aligned, and always
// exchanged and read whole (one 16-byte compare-and-swap), so a reader never
// pairs a function with another setter's user value.
//
// A set with "add reference" takes a reference on the user object (a class
// header object) and marks the lowest bit of the stored user value; the
// reset releases it. Such a callback must be reset before it is set again.
// CallbackRef also holds a reference on a separate scope object. CallbackSync
// carries a lock so that, once its reset returns, no call is in progress:
// callers read it, take the lock, read again, call only when still set, and
// release the lock.
//
// Setters take the user value before the function; callbacks receive the user
// value first.
#pragma once

#include "runtime/class.h"
#include "runtime/critical_section.h"
#include "runtime/types.h"

#define CALLBACK_ALIGN_BYTES 16

RUNTIME_EXTERN_C_BEGIN

typedef struct alignas(CALLBACK_ALIGN_BYTES) CallbackBaseStruct {
    void *UserPtr;  // lowest bit set: the callback holds a reference on it
    void *Function; // null: the callback is empty
} CallbackBaseStruct;

// The callback field other records embed.
typedef struct CallbackStruct {
    CallbackBaseStruct Base;
} CallbackStruct;

typedef struct CallbackRef {
    CallbackBaseStruct Base;
    void *UserScopeHandle; // a class-header object the callback holds a reference on
} CallbackRef;

typedef struct CallbackSync {
    CallbackBaseStruct Base;
    void *Lock; // critical section, created on the first set
} CallbackSync;

int32 CallbackBase_CheckStruct(CallbackBaseStruct *Callback);
int32 CallbackBase_SetReal(CallbackBaseStruct *Callback, int32 AddReference, void *User, void *Function);
int32 CallbackBase_GetReal(CallbackBaseStruct *Callback, void **User, void **Function);
int32 CallbackBase_ResetReal(CallbackBaseStruct *Callback);

int32 CallbackRef_SetReal(CallbackRef *Callback, void *Scope, void *User, void *Function);
int32 CallbackRef_ResetReal(CallbackRef *Callback);

int32 CallbackSync_SetReal(CallbackSync *Callback, void *User, void *Function);
int32 CallbackSync_ResetReal(CallbackSync *Callback, int32 KeepLock);

int32 Callback_Init(void);
int32 Callback_Remove(void);

RUNTIME_EXTERN_C_END

#ifdef __cplusplus
static_assert(sizeof(CallbackBaseStruct) == 16 && alignof(CallbackBaseStruct) == 16);
static_assert(sizeof(CallbackStruct) == 16 && alignof(CallbackStruct) == 16);
static_assert(offsetof(CallbackRef, UserScopeHandle) == 16);
static_assert(offsetof(CallbackSync, Lock) == 16);
#endif

// Typed front ends: any callback record (its base comes first) and any
// function pointer.
#define CallbackBase_Set(Callback, User, Function) \
    CallbackBase_SetReal((CallbackBaseStruct *)(Callback), FALSE, (void *)(User), (void *)(Function))
#define CallbackBase_SetWithReference(Callback, User, Function) \
    CallbackBase_SetReal((CallbackBaseStruct *)(Callback), TRUE, (void *)(User), (void *)(Function))
#define CallbackBase_Get(Callback, User, Function) \
    CallbackBase_GetReal((CallbackBaseStruct *)(Callback), (void **)(User), (void **)(Function))
#define CallbackBase_Reset(Callback) CallbackBase_ResetReal((CallbackBaseStruct *)(Callback))
#define CallbackRef_Set(Callback, Scope, User, Function) \
    CallbackRef_SetReal((Callback), (void *)(Scope), (void *)(User), (void *)(Function))
#define CallbackRef_Reset(Callback) CallbackRef_ResetReal(Callback)
#define CallbackSync_Set(Callback, User, Function) \
    CallbackSync_SetReal((Callback), (void *)(User), (void *)(Function))
#define CallbackSync_Reset(Callback, KeepLock) CallbackSync_ResetReal((Callback), (KeepLock))
