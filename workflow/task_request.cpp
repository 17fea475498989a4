// A task's document request (see task_request.h).
#include "workflow/task_request.h"

#include <math.h>
#include <string.h>

#include <string>
#include <vector>

#include "crypto/trust/cert_store.h"
#include "net/async_http.h"
#include "net/web_get.h"
#include "net/web_get_cache.h"
#include "net/web_get_request.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/notification/notification_center.h"
#include "runtime/text/string.h"
#include "runtime/text/url.h"
#include "runtime/time.h"
#include "workflow/task_internal.h"

struct TaskRequest {
    uint32 ClassId;
    Task *Owner;
    // The task's id, for the process observer: the callback may end the task.
    char Instance[36];
    AsyncHTTP *Loader;
    CertStoreInterface *CertStore;
    WebGetCacheStore *Cache;
    char Url[TASKREQUEST_URL_SIZE];
    int16 MaxRetries;
    void *User;
    Task_RequestFunc DocumentCallback;
    Task_RequestURLFunc BodyCallback;
};

namespace {

// Calls the type once with the final result.
void Deliver(TaskRequest *Self, int32 Error, int32 SubCode) {
    if (Self->DocumentCallback != nullptr) {
        // Handed on whole: a callback that keeps it takes a reference.
        Dictionary *Document = nullptr;
        AsyncHTTP_TakeDictionary(Self->Loader, &Document);
        Self->DocumentCallback(Self->Owner, Self->User, Document, Error, SubCode);
        Dictionary_Release(&Document);
    } else if (Self->BodyCallback != nullptr) {
        const uint8 *Body = nullptr;
        int32 Length = 0;
        AsyncHTTP_GetOriginal(Self->Loader, &Body, &Length);
        Self->BodyCallback(Self->Owner, Self->User, Body, Length, Error, SubCode);
    }
}

int32 Process(void *User, const char *, const char *, const char *, Dictionary *);

void Free(TaskRequest *Self, bool Notify) {
    NotificationCenter_RemoveProcessObserver(Self->Instance, Self, Process);
    if (Notify && Self->Owner != nullptr && !AsyncHTTP_IsLoadComplete(Self->Loader) && Task_IsCompleted(Self->Owner))
        Deliver(Self, WEBGET_ERROR_USERABORT, 0);
    AsyncHTTP_Reset(Self->Loader);
    AsyncHTTP_Release(&Self->Loader);
    if (Self->Cache != nullptr) WebGetCacheStore_Release(&Self->Cache);
    if (Self->CertStore != nullptr) CertStoreInterface_Release(&Self->CertStore);
    Self->ClassId = 0;
    Memory_Delete(Self);
}

int32 Process(void *User, const char *, const char *, const char *, Dictionary *) {
    TaskRequest *Self = static_cast<TaskRequest *>(User);
    Task *Owner = Self->Owner;
    if (AsyncHTTP_IsLoadComplete(Self->Loader)) {
        int32 Error = 0, SubCode = 0;
        AsyncHTTP_GetLastError(Self->Loader, &Error, &SubCode);
        // The request leaves its task before the callback, so that the
        // callback sees a task without a request.
        Owner->Request = nullptr;
        Deliver(Self, Error, SubCode);
        Self->Owner = nullptr;
        Free(Self, false);
        return TRUE;
    }
    float64 Resume = 0;
    AsyncHTTP_GetResumeTime(Self->Loader, &Resume);
    // A retry waiting for its time when the pool stops ends now: its attempt
    // fails at once, and no further one is made (OnError).
    if (!AsyncHTTP_IsAlive(Self->Loader) && (Time_GetCurrent() >= Resume || WebGetPool_IsStopped()))
        AsyncHTTP_Load(Self->Loader, Self->Url, Task_IsAuthenticationRequiredFor(Owner, Self->Url));
    return TRUE;
}

// The attempt's reasons, as the "errors" of what is told: whatever the
// task's "ignoreError" keeps out of its own errors, the user still hears why
// the document was not had.
void PutReasons(Dictionary *Info, const std::vector<std::string> &Reasons) {
    Dictionary *List = nullptr;
    Dictionary_EnsureList(Info, "errors", nullptr, &List);
    for (const std::string &Each : Reasons)
        if (!Dictionary_ContainsString(List, Each.c_str())) Dictionary_AddString(List, nullptr, Each.c_str(), nullptr);
}

// Tells who watches (the host's user) that a document is tried again later.
void AnnounceRetry(TaskRequest *Self, float64 Delay, int32 Attempt, const std::vector<std::string> &Reasons) {
    Dictionary *Info = nullptr;
    Dictionary_Create(&Info);
    Dictionary_SetStringByKey(Info, "url", Self->Url);
    Dictionary_SetFloat64ByKey(Info, "delay", Delay);
    Dictionary_SetInt32ByKey(Info, "retry", Attempt);
    Dictionary_SetInt32ByKey(Info, "maxRetries", Self->MaxRetries);
    PutReasons(Info, Reasons);
    NotificationCenter_FireOwn("TaskRequest", "Retry", Self->Instance, Info);
    Dictionary_Release(&Info);
}

// Tells who watches that a document will not be had: no attempt is left,
// or none can succeed. (Not when the program is ending: that is no fault.)
int32 Announce(Task *Owner, const char *Instance, const char *Url, const std::vector<std::string> &Reasons) {
    if (WebGetPool_IsStopped()) return ASYNCHTTP_ERROR_GIVEUP;
    Dictionary *Info = nullptr;
    Dictionary_Create(&Info);
    Dictionary_SetStringByKey(Info, "url", Url);
    Dictionary_SetStringByKey(Info, "type", Task_GetType(Owner));
    PutReasons(Info, Reasons);
    // The task kept none of them ("ignoreError"): its own outcome will not
    // say why the document was not had, so this is all that will.
    Dictionary_SetBooleanByKey(Info, "ignored", !Task_HasError(Owner, nullptr));
    NotificationCenter_FireOwn("TaskRequest", "Failed", Instance, Info);
    Dictionary_Release(&Info);
    return ASYNCHTTP_ERROR_GIVEUP;
}

int32 AnnounceFailure(TaskRequest *Self, const std::vector<std::string> &Reasons) {
    return Announce(Self->Owner, Self->Instance, Self->Url, Reasons);
}

int32 OnError(AsyncHTTP *Loader, void *User, int32 Failures, int32, int32 Error, int32 SubCode,
              float64 *ResumeTime) {
    TaskRequest *Self = static_cast<TaskRequest *>(User);
    Task_AddErrorFromCode(Self->Owner, Error, SubCode);
    std::vector<std::string> Reasons = TaskInt_ErrorsFromCode(Error, SubCode);
    char Text[TASKREQUEST_URL_SIZE] = "";
    if (AsyncHTTP_GetLastErrorText(Loader, Text, (int32)sizeof(Text))) {
        Task_Print(Self->Owner, "%s - %s", URL_OneLine(Self->Url).c_str(), Text);
        Task_AddError(Self->Owner, "%s", Text);
        Reasons.emplace_back(Text);
    }
    // A fetch that can never work (https in this build, a malformed URL)
    // fails alike a minute later.
    if (AsyncHTTP_IsLastErrorFinal(Loader)) return AnnounceFailure(Self, Reasons);
    // A local file that cannot be read or parsed, or lacks its signature,
    // reads the same a minute later: only remote documents are tried again.
    if (URL_CompareProtocol(Self->Url, "file")) return AnnounceFailure(Self, Reasons);
    // So does a document that arrived whole and failed its signature check.
    if (Error == WEBGET_ERROR_JSON && SubCode == ASYNCHTTP_JSON_ERROR_AUTHENTICATE) return AnnounceFailure(Self, Reasons);
    // The program is ending: no request starts any more.
    if (WebGetPool_IsStopped()) return ASYNCHTTP_ERROR_GIVEUP;
    if (Self->MaxRetries >= 0 && Failures >= Self->MaxRetries) return AnnounceFailure(Self, Reasons);
    float64 Delay = Failures < 0 ? 0 : 15.0 * (float64)(1 << (Failures < 8 ? Failures : 8));
    Task_Print(Self->Owner, "Waiting for retry %.02fs (%d/%d)", Delay, Failures + 1, (int32)Self->MaxRetries);
    *ResumeTime = Time_GetCurrent() + Delay;
    AnnounceRetry(Self, Delay, Failures + 1, Reasons);
    return 0;
}

// The stores the task's documents answer to, for the text of an untrusted
// signer: store "app", or stores "a", "b".
std::string StoreWords(Task *Handle) {
    Dictionary *Definition = nullptr;
    Dictionary *Names = nullptr;
    std::vector<std::string> List;
    const char *Name = nullptr;
    Task_GetDictionaryHandle(Handle, &Definition);
    if (Definition != nullptr && Dictionary_GetListByKey(Definition, "store", &Names) && Names != nullptr) {
        DictionaryItem *Item = nullptr;
        for (Dictionary_ItemGetFirst(Names, &Item); Item != nullptr; Dictionary_ItemGetNext(Names, Item, &Item))
            if (Dictionary_ItemCompareType(Names, Item, DICTIONARY_TYPE_STRING) &&
                Dictionary_ItemGetStringPtr(Names, Item, &Name) && Name != nullptr)
                List.emplace_back(Name);
    } else if (Definition != nullptr && Dictionary_GetStringPtrByKey(Definition, "store", &Name) && Name != nullptr) {
        List.emplace_back(Name);
    } else {
        char Default[TASKREQUEST_CACHE_NAME_SIZE] = "";
        if (Task_GetDefaultCertStore(Handle, Default, (int32)sizeof(Default)) && Default[0] != 0)
            List.emplace_back(Default);
    }
    if (List.empty()) return {};
    std::string Words = List.size() == 1 ? "store " : "stores ";
    for (size_t Index = 0; Index < List.size(); Index++)
        Words += (Index ? ", \"" : "\"") + List[Index] + "\"";
    return Words;
}

int32 OnBuild(AsyncHTTP *, void *User, WebGetRequest *Request) {
    TaskRequest *Self = static_cast<TaskRequest *>(User);
    Task_ClearErrors(Self->Owner);
    return Task_RequestConfig(Self->Owner, Request);
}

int32 Start(Task *Handle, const char *Url, void *User, Task_RequestFunc Document, Task_RequestURLFunc Body,
            int32 Kind) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Url);
    Task_RequestDelete(Handle, FALSE);
    TaskRequest *Self = Memory_New(TaskRequest);
    Self->ClassId = TASKREQUEST_CLASSID;
    Self->Owner = Handle;
    Self->MaxRetries = TASKREQUEST_MAX_RETRIES;
    if (!URL_FixPath(Url, 0, Self->Url, (int32)sizeof(Self->Url))) String_CopyLength(Self->Url, Url, sizeof(Self->Url));
    if (Task_HasArgument(Handle, "cache")) {
        char Name[TASKREQUEST_CACHE_NAME_SIZE] = "";
        Task_GetStringArgument(Handle, "cache", Name, (int32)sizeof(Name));
        Self->Cache = WebGetCache_AddStore(Name);
    }
    CertStoreList *Stores = nullptr;
    Task_GetCertStoreListHandle(Handle, &Stores);
    if (Stores != nullptr) CertStoreList_GetInterfaceHandle(Stores, &Self->CertStore);
    AsyncHTTP_Create(&Self->Loader);
    AsyncHTTP_SetCertStoreName(Self->Loader, StoreWords(Handle).c_str());
    AsyncHTTP_SetParser(Self->Loader, ASYNCHTTP_PARSER_JSON);
    AsyncHTTP_SetCertStoreHandle(Self->Loader, Self->CertStore);
    AsyncHTTP_SetCacheStoreHandle(Self->Loader, Self->Cache);
    AsyncHTTP_SetErrorCallback(Self->Loader, Self, OnError);
    AsyncHTTP_SetRequestBuildCallback(Self->Loader, Self, OnBuild);
    String_CopyLength(Self->Instance, Handle->Class.InstanceId, (int32)sizeof(Self->Instance));
    NotificationCenter_AddProcessObserver(Self->Instance, Self, Process);
    Self->User = User;
    Self->DocumentCallback = Document;
    Self->BodyCallback = Body;
    if (Body != nullptr) AsyncHTTP_SetKeepOriginal(Self->Loader, TRUE);
    else AsyncHTTP_SetParser(Self->Loader, Kind);
    Handle->Request = Self;
    return TRUE;
}

// Each keyed text of the object argument, as the check of the arguments
// read it (expanded, within its limit): never the definition's text again.
template <typename Apply> void EachChecked(Task *Handle, const char *Name, Apply Function) {
    Dictionary *Items = TaskInt_GetCheckedObject(Handle, Name);
    DictionaryItem *Item = nullptr;
    for (Items != nullptr && Dictionary_ItemGetFirst(Items, &Item); Item != nullptr;
         Dictionary_ItemGetNext(Items, Item, &Item) ? (void)0 : (void)(Item = nullptr)) {
        const char *Key = nullptr, *Text = nullptr;
        if (!Dictionary_ItemGetKeyPtr(Items, Item, &Key) || Key == nullptr || Dictionary_ItemIsContainer(Items, Item) ||
            !Dictionary_ItemGetBufferPtr(Items, Item, &Text, nullptr) || Text == nullptr)
            continue;
        Function(Key, Text);
    }
}

} // namespace

int32 Task_RequestTellRefused(Task *Handle, const char *Url, const char *Reason) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    Debug_CheckPointer(Url);
    Debug_CheckPointer(Reason);
    Announce(Handle, Handle->Class.InstanceId, Url, {Reason});
    return TRUE;
}

int32 Task_RequestJSON(Task *Handle, const char *Url, void *User, Task_RequestFunc Callback) {
    return Start(Handle, Url, User, Callback, nullptr, ASYNCHTTP_PARSER_JSON);
}

int32 Task_RequestXML(Task *Handle, const char *Url, void *User, Task_RequestFunc Callback) {
    return Start(Handle, Url, User, Callback, nullptr, ASYNCHTTP_PARSER_XML);
}

int32 Task_RequestAuto(Task *Handle, const char *Url, void *User, Task_RequestFunc Callback) {
    return Start(Handle, Url, User, Callback, nullptr, ASYNCHTTP_PARSER_AUTO);
}

int32 Task_RequestURL(Task *Handle, const char *Url, void *User, Task_RequestURLFunc Callback) {
    return Start(Handle, Url, User, nullptr, Callback, ASYNCHTTP_PARSER_JSON);
}

int32 Task_RequestConfig(Task *Handle, WebGetRequest *Request) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    uint32 Flag = 0;
    float64 Number = 0;
    int32 Verbose = 0;
    Task_GetVerbose(Handle, &Verbose);
    if (Verbose) WebGetRequest_SetVerbose(Request, TRUE);
    // Only a number a whole count of seconds can hold is converted; any other
    // leaves the default, as a time-out below a second does.
    if (Task_GetNumberArgument(Handle, "timeout", &Number) && Number >= 1 && Number <= (float64)INT32_MAX)
        WebGetRequest_SetTimeout(Request, (int32)Number);
    if (Task_GetBooleanArgument(Handle, "allowProxy", &Flag)) WebGetRequest_SetAllowProxy(Request, (int32)Flag);
    if (Task_GetBooleanArgument(Handle, "allowResume", &Flag)) WebGetRequest_SetAllowResume(Request, (int32)Flag);
    if (Task_GetBooleanArgument(Handle, "allowGzip", &Flag))
        WebGetRequest_SetAllowCompressedContent(Request, (int32)Flag);
    if (Task_GetNumberArgument(Handle, "limitBodySize", &Number)) {
        // No document lifts the hard cap: a limit that is no size (zero,
        // negative, not finite) or passes the cap reads as the cap.
        const float64 Most = (float64)WEBGETREQUEST_LIMIT_BODY_MAX;
        if (!isfinite(Number) || Number < 1 || Number > Most) {
            Task_Print(Handle, "limitBodySize %g is not from 1 to %.0f: the body is capped at %.0f bytes", Number, Most,
                       Most);
            Task_AddWarning(Handle, "limitBodySize %g is not from 1 to %.0f: the body is capped at %.0f bytes", Number,
                            Most, Most);
            Number = Most;
        }
        WebGetRequest_SetLimitBodySize(Request, (int64)Number);
    }
    EachChecked(Handle, "headers", [&](const char *Key, const char *Value) {
        if (WebGetRequest_SetHeader(Request, Key, Value, TRUE)) return;
        // Not sent: the run goes on, and the summary's warnings say so.
        const bool Framing =
            String_CompareWithoutCase(Key, "Content-Length") || String_CompareWithoutCase(Key, "Transfer-Encoding");
        Task_Print(Handle, "Header refused - %s", Key);
        Task_AddWarning(Handle, "header \"%s\" refused: %s", Key,
                        Framing ? "the client frames the body it sends itself" : "not a header name or value");
    });
    EachChecked(Handle, "cookies", [&](const char *Key, const char *Value) {
        if (!WebGetRequest_CookieSet(Request, Key, Value, "", "", 0)) Task_Print(Handle, "Cookie refused - %s", Key);
    });
    return TRUE;
}

int32 Task_HasRequest(Task *Handle) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    return Handle->Request != nullptr;
}

int32 Task_RequestDelete(Task *Handle, int32 Notify) {
    Class_CheckHandle(Handle, TASK_CLASSID);
    TaskRequest *Self = Handle->Request;
    if (Self == nullptr) return FALSE;
    Handle->Request = nullptr;
    Free(Self, Notify != 0);
    return TRUE;
}
