// The authentication switch (see authenticate_switch.h).
#include "crypto/authenticate_switch.h"

namespace {

uint32 Enabled = 1;
Authenticate_EnabledFunc EnabledHook = nullptr;

} // namespace

int32 Authenticate_SetEnabled(uint32 Flag) {
    __atomic_store_n(&Enabled, Flag ? 1u : 0u, __ATOMIC_RELAXED);
    return TRUE;
}

int32 Authenticate_Enabled(void) {
    Authenticate_EnabledFunc Hook = __atomic_load_n(&EnabledHook, __ATOMIC_ACQUIRE);
    if (Hook != nullptr) return Hook();
    return (int32)__atomic_load_n(&Enabled, __ATOMIC_RELAXED);
}

int32 Authenticate_EnabledOverride(Authenticate_EnabledFunc Function) {
    __atomic_store_n(&EnabledHook, Function, __ATOMIC_RELEASE);
    return TRUE;
}
