// The network modules' registrations with the runtime. See net_register.h.
#include "core/net_register.h"

#include "core/core_script.h"
#include "core/interop.h"
#include "core/web_get.h"

int32 Net_Register(void) {
    CoreInterop_AddClass("TQX.WebGet", WebGet_Invoke, nullptr, nullptr, nullptr);
    CoreInterop_AddClass("TQX.Analytics", Analytics_Invoke, nullptr, nullptr, nullptr);
    Interop_SetHandOver("WebGet_Authorize", (void *)WebGet_Authorize, [](void *Function) {
        return WebGet_AuthorizeOverride(reinterpret_cast<WebGet_AuthorizeFunc>(Function));
    });
    return TRUE;
}
