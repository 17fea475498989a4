// The network modules' registrations with the runtime. See net_register.h.
#include "net/net_register.h"

#include "net/web_get.h"
#include "runtime/script/core_script.h"
#include "runtime/script/interop.h"

int32 Net_Register(void) {
    CoreInterop_AddClass("TQX.WebGet", WebGet_Invoke, nullptr, nullptr, nullptr);
    CoreInterop_AddClass("TQX.Analytics", Analytics_Invoke, nullptr, nullptr, nullptr);
    Interop_SetHandOver("WebGet_Authorize", (void *)WebGet_Authorize, [](void *Function) {
        return WebGet_AuthorizeOverride(reinterpret_cast<WebGet_AuthorizeFunc>(Function));
    });
    return TRUE;
}
