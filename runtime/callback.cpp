// Callbacks: the 16-byte (user, function) pair is only ever written and read
// with cmpxchg16b, so a reader sees one setter's pair whole. A read is a
// compare-and-swap of the value with itself (an atomic 16-byte load does not
// exist on x86-64 without it).
//
// The lowest bit of the stored user value marks a held reference; an odd
// user value can therefore not be stored without one (fatal stop), or a
// later reset would release a value that is no object.
#include "runtime/callback.h"

#include "runtime/class.h"
#include "runtime/critical_section.h"
#include "runtime/debug.h"

namespace {

using Pair = unsigned __int128;

constexpr uintptr ReferenceMark = 1;

inline Pair *PairOf(CallbackBaseStruct *Callback) { return reinterpret_cast<Pair *>(Callback); }

inline Pair Pack(uintptr User, void *Function) {
    return static_cast<Pair>(User) | (static_cast<Pair>(reinterpret_cast<uintptr>(Function)) << 64);
}

inline uintptr UserOf(Pair Value) { return static_cast<uintptr>(static_cast<uint64>(Value)); }

inline void *FunctionOf(Pair Value) { return reinterpret_cast<void *>(static_cast<uintptr>(Value >> 64)); }

inline Pair ReadPair(CallbackBaseStruct *Callback) {
    return __sync_val_compare_and_swap(PairOf(Callback), static_cast<Pair>(0), static_cast<Pair>(0));
}

void CheckAlignment(CallbackBaseStruct *CallbackPointers) {
    Debug_CheckPointer(CallbackPointers);
    Debug_Assert(((intptr)CallbackPointers & (CALLBACK_ALIGN_BYTES - 1)) == 0, "Unaligned value");
}

// A callback that holds a user reference must be reset before it is set
// again, or the reference would leak.
void CheckNotHoldingReference(Pair Current) {
    if ((UserOf(Current) & ReferenceMark) != 0)
        Debug_AbortInt(__FILE__, __LINE__,
                       "Assertion failed (WasUserPtrRefCounted == FALSE || CallbackPointers->UserPtr == NULL)\n"
                       "Callback already registered");
}

// Swaps in Desired and answers the pair it replaced.
Pair ExchangePair(CallbackBaseStruct *Callback, Pair Desired, bool CheckEachRead) {
    Pair Expected = ReadPair(Callback);
    for (;;) {
        if (CheckEachRead) CheckNotHoldingReference(Expected);
        Pair Found = __sync_val_compare_and_swap(PairOf(Callback), Expected, Desired);
        if (Found == Expected) return Found;
        Expected = Found;
    }
}

} // namespace

int32 CallbackBase_CheckStruct(CallbackBaseStruct *Callback) {
    CheckAlignment(Callback);
    CheckNotHoldingReference(ReadPair(Callback));
    return TRUE;
}

int32 CallbackBase_SetReal(CallbackBaseStruct *Callback, int32 AddReference, void *User, void *Function) {
    CallbackBase_CheckStruct(Callback);
    uintptr Stored = reinterpret_cast<uintptr>(User);
    Debug_Assert((Stored & ReferenceMark) == 0, "Callback user value must be even [0x%p]", User);
    if (AddReference == TRUE && User != nullptr) {
        Class_AddRef(User);
        Stored |= ReferenceMark;
    }
    ExchangePair(Callback, Pack(Stored, Function), true);
    return TRUE;
}

int32 CallbackBase_GetReal(CallbackBaseStruct *Callback, void **User, void **Function) {
    CheckAlignment(Callback);
    Pair Current = ReadPair(Callback);
    void *Found = FunctionOf(Current);
    if (User != nullptr) *User = reinterpret_cast<void *>(UserOf(Current) & ~ReferenceMark);
    if (Function != nullptr) *Function = Found;
    return Found != nullptr;
}

int32 CallbackBase_ResetReal(CallbackBaseStruct *Callback) {
    CheckAlignment(Callback);
    // Both words clear at once; a held reference is dropped only after no
    // reader can fetch the pair any more.
    uintptr Old = UserOf(ExchangePair(Callback, 0, false));
    if ((Old & ReferenceMark) != 0) {
        void *Object = reinterpret_cast<void *>(Old & ~ReferenceMark);
        Class_Release(&Object);
    }
    return TRUE;
}

int32 CallbackRef_SetReal(CallbackRef *Callback, void *Scope, void *User, void *Function) {
    Debug_CheckPointer(Callback);
    if (Function == nullptr) return CallbackRef_ResetReal(Callback);
    if (Scope != nullptr && User != nullptr) {
        void *PrevUserScopeHandle = Callback->UserScopeHandle;
        Debug_Assert(PrevUserScopeHandle == NULL, "CallbackRef already registered");
        Callback->UserScopeHandle = Class_AddRef(Scope);
    }
    return CallbackBase_SetReal(&Callback->Base, FALSE, User, Function);
}

int32 CallbackRef_ResetReal(CallbackRef *Callback) {
    Debug_CheckPointer(Callback);
    CallbackBase_ResetReal(&Callback->Base);
    if (Callback->UserScopeHandle != nullptr) Class_Release(&Callback->UserScopeHandle);
    return TRUE;
}

int32 CallbackSync_SetReal(CallbackSync *Callback, void *User, void *Function) {
    Debug_CheckPointer(Callback);
    if (Function == nullptr) return CallbackSync_ResetReal(Callback, TRUE);
    void *Lock = __atomic_load_n(&Callback->Lock, __ATOMIC_ACQUIRE);
    if (Lock == nullptr) {
        void *New = nullptr;
        CriticalSection_Create(&New);
        Debug_CheckPointer(New);
        if (__atomic_compare_exchange_n(&Callback->Lock, &Lock, New, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) {
            Lock = New;
        } else {
            CriticalSection_Delete(&New);
        }
    }
    CriticalSection_Lock(Lock);
    int32 Result = CallbackBase_SetReal(&Callback->Base, FALSE, User, Function);
    CriticalSection_Unlock(Lock);
    return Result;
}

int32 CallbackSync_ResetReal(CallbackSync *Callback, int32 KeepLock) {
    Debug_CheckPointer(Callback);
    void *Lock = __atomic_load_n(&Callback->Lock, __ATOMIC_ACQUIRE);
    if (Lock == nullptr) return TRUE;
    CriticalSection_Lock(Lock);
    CallbackBase_ResetReal(&Callback->Base);
    CriticalSection_Unlock(Lock);
    if (KeepLock != TRUE) {
        __atomic_store_n(&Callback->Lock, nullptr, __ATOMIC_RELEASE);
        CriticalSection_Delete(&Lock);
    }
    return TRUE;
}

int32 Callback_Init(void) { return TRUE; }

int32 Callback_Remove(void) { return TRUE; }
