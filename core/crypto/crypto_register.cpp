// The cryptography's registrations with the runtime. See crypto_register.h.
#include "core/crypto/crypto_register.h"

#include "core/crypto/authenticate.h"
#include "core/crypto/hash.h"
#include "core/crypto/hmac.h"
#include "core/interop.h"
#include "core/string_expand.h"

int32 Crypto_Register(void) {
    String_SetExpandProvider(STRING_EXPAND_PROVIDER_HASH, Hash_ExpandKey);
    String_SetExpandProvider(STRING_EXPAND_PROVIDER_HMAC, HMAC_ExpandKey);
    Interop_SetHandOver("Authenticate_Enabled", (void *)Authenticate_Enabled, [](void *Function) {
        return Authenticate_EnabledOverride(reinterpret_cast<Authenticate_EnabledFunc>(Function));
    });
    return TRUE;
}
