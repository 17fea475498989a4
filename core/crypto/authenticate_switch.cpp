// The authentication switch: an atomic flag and its forwarding hook.
#include "core/crypto/authenticate.h"

namespace {

int32 Enabled = 1;
Authenticate_EnabledFunc Hook = nullptr;

} // namespace

extern "C" int32 Authenticate_Enabled(void) {
    Authenticate_EnabledFunc Installed = __atomic_load_n(&Hook, __ATOMIC_ACQUIRE);
    if (Installed != nullptr) return Installed();
    return __atomic_load_n(&Enabled, __ATOMIC_ACQUIRE);
}

extern "C" int32 Authenticate_SetEnabled(int32 Value) {
    __atomic_store_n(&Enabled, Value != 0 ? 1 : 0, __ATOMIC_RELEASE);
    return 1;
}

extern "C" int32 Authenticate_EnabledOverride(Authenticate_EnabledFunc Function) {
    __atomic_store_n(&Hook, Function, __ATOMIC_RELEASE);
    return 1;
}
