// The cryptography's registrations with the runtime. See crypto_register.h.
#include "crypto/crypto_register.h"

#include "crypto/digests/hash.h"
#include "crypto/digests/hmac.h"
#include "crypto/trust/authenticate.h"
#include "runtime/script/interop.h"
#include "runtime/text/string_expand.h"

int32 Crypto_Register(void) {
    String_SetExpandProvider(STRING_EXPAND_PROVIDER_HASH, Hash_ExpandKey);
    String_SetExpandProvider(STRING_EXPAND_PROVIDER_HMAC, HMAC_ExpandKey);
    Interop_SetHandOver("Authenticate_Enabled", (void *)Authenticate_Enabled, [](void *Function) {
        return Authenticate_EnabledOverride(reinterpret_cast<Authenticate_EnabledFunc>(Function));
    });
    return TRUE;
}
