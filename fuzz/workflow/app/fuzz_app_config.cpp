// Arbitrary bytes as an application configuration document: parsed as JSON
// and applied (macros, host whitelist, store lists, redirect rules compiled
// by PCRE2, TLS tables), then read back through a few paths.
#include <stddef.h>
#include <stdint.h>

#include "crypto/trust/authenticate.h"
#include "runtime/debug.h"
#include "runtime/event_queue.h"
#include "runtime/documents/json.h"
#include "runtime/notification/notification_center.h"
#include "runtime/thread.h"
#include "net/web_get.h"
#include "net/web_get_redirect.h"
#include "content/content_register.h"
#include "crypto/crypto_register.h"
#include "net/net_register.h"
#include "platform/platform_register.h"
#include "workflow/app/workflow_app.h"
#include "workflow/app/workflow_app_config.h"

namespace {

int32 Quiet(const char *) { return 1; }

bool Started() {
    Crypto_Register();
    PlatformServices_Register();
    Content_Register();
    Net_Register();
    Debug_Init("/tmp/fuzz-app-config.log", nullptr, DEBUG_FLAG_EXTERNALPRINT);
    Debug_PrintCallback(Quiet);
    Thread_Init();
    EventQueue_Init();
    NotificationCenter_Init();
    Authenticate_Init();
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    static bool Ready = Started();
    (void)Ready;
    if (Size > 65536) return 0;
    WorkflowApp_Init();
    Dictionary *Loaded = nullptr;
    Dictionary_Create(&Loaded);
    JSON *Reader = nullptr;
    JSON_Create(&Reader);
    JSON_SetDictionaryHandle(Reader, Loaded);
    JSON_LoadBuffer(Reader, Data, (int32)Size);
    JSON_Release(&Reader);
    WorkflowApp_LoadConfigFromDictionary(Loaded);
    Dictionary_Release(&Loaded);
    char Text[512];
    WorkflowApp_GetConfig("storage.requests", "", Text, (int32)sizeof(Text));
    WorkflowApp_ExpandString("{AppVersion}{brand}", Text, (int32)sizeof(Text));
    WebGet_RedirectApply("http://cdn.example.test/a_b", Text, (int32)sizeof(Text));
    WebGet_Authorize("http://cdn.example.test/");
    WebGet_RedirectReset();
    WebGet_WhitelistReset();
    WorkflowApp_Remove();
    EventQueue_Flush(nullptr);
    NotificationCenter_Process();
    return 0;
}
