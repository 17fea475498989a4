// The application's HTTP pool, caches and request routing (see
// workflow_app_web.h).
#include "workflow/app/workflow_app_web.h"

#include "net/async_http.h"
#include "runtime/notification/notification_center.h"
#include "runtime/text/string.h"
#include "workflow/app/workflow_app_config.h"

namespace {

struct WebRecord {
    bool Started = false;
    WorkflowApp_WebRequestFunc Add = nullptr;
    WorkflowApp_WebRequestFunc Remove = nullptr;
    WebGetCacheStore *Alias = nullptr;
    WebGetCacheStore *Workflow = nullptr;
};

WebRecord Web;

// A failed connection becomes the application's connection-error
// notification (the analytics "WebGetError" is made from it).
int32 ReportConnectionError(const char *Host, int32 Port, int32 Error, int32 SubCode) {
    NotificationCenter_FireWithJSON("WebGetConnection", "Error", nullptr,
                                    "{\"reportError\":true,\"remoteIp\":\"%js\",\"remotePort\":%d,\"error\":%d,"
                                    "\"subCode\":%d}",
                                    Host, Port, Error, SubCode);
    return TRUE;
}

} // namespace

int32 WorkflowApp_WebStart(void) {
    if (Web.Started) return FALSE;
    WebGetPool_Init();
    WebGetCache_Init();
    AsyncHTTP_SetRequestHandlers(WorkflowApp_WebGetRequestAdd, WorkflowApp_WebGetRequestRemove);
    WebGetPool_SetErrorCallback(ReportConnectionError);
    Web.Started = true;
    // The pool limits and cache stores the configuration asks for so far.
    WorkflowApp_ApplyWebConfig();
    return TRUE;
}

int32 WorkflowApp_WebProcess(void) {
    if (!Web.Started) return FALSE;
    WebGetPool_Process();
    WebGetCache_Expire();
    return TRUE;
}

int32 WorkflowApp_WebStop(void) {
    if (!Web.Started) return TRUE;
    AsyncHTTP_SetRequestHandlers(nullptr, nullptr);
    WebGetPool_SetErrorCallback(nullptr);
    if (Web.Alias != nullptr) WebGetCacheStore_Release(&Web.Alias);
    if (Web.Workflow != nullptr) WebGetCacheStore_Release(&Web.Workflow);
    WebGetPool_Remove();
    WebGetCache_Remove();
    Web = WebRecord();
    return TRUE;
}

int32 WorkflowApp_SetWebRequestHandler(WorkflowApp_WebRequestFunc Add, WorkflowApp_WebRequestFunc Remove) {
    if ((Add == nullptr) != (Remove == nullptr)) return FALSE;
    Web.Add = Add;
    Web.Remove = Remove;
    return TRUE;
}

int32 WorkflowApp_WebGetRequestAdd(WebGetRequest *Request) {
    if (Web.Add != nullptr && Web.Add(Request)) return TRUE;
    return WebGetPool_RequestAdd(Request);
}

int32 WorkflowApp_WebGetRequestRemove(WebGetRequest *Request) {
    if (Web.Remove != nullptr && Web.Remove(Request)) return TRUE;
    return WebGetPool_RequestRemove(Request);
}

WebGetCacheStore *WorkflowApp_GetCacheStore(const char *Name) {
    Debug_CheckPointer(Name);
    if (String_CompareWithoutCase(Name, "alias")) return Web.Alias;
    if (String_CompareWithoutCase(Name, "workflow")) return Web.Workflow;
    return nullptr;
}

int32 WorkflowApp_WebHoldCache(const char *Name, int32 MinAge) {
    Debug_CheckPointer(Name);
    if (!Web.Started) return FALSE;
    bool IsAlias = String_CompareWithoutCase(Name, "alias");
    if (!IsAlias && !String_CompareWithoutCase(Name, "workflow")) return FALSE;
    WebGetCacheStore *&Held = IsAlias ? Web.Alias : Web.Workflow;
    if (Held == nullptr) Held = WebGetCache_AddStore(Name);
    if (Held == nullptr) return FALSE;
    if (MinAge >= 0) WebGetCacheStore_SetMinAge(Held, MinAge);
    return TRUE;
}
