// The host-whitelist decision and the HTTP script classes' dispatchers, in
// the form this host can give them without an HTTP client (see web_get.h).
#include "net/web_get.h"

#include <errno.h>
#include <string.h>

#include <mutex>
#include <string>
#include <vector>

#include "crypto/trust/authenticate.h"
#include "runtime/log.h"
#include "runtime/script/api_gen.h"
#include "runtime/text/string.h"
#include "runtime/text/url.h"

namespace {

WebGet_AuthorizeFunc AuthorizeHook = nullptr;

std::mutex WhitelistLock;
std::vector<std::string> Whitelist;

bool IsWhitelisted(const char *Host) {
    std::lock_guard<std::mutex> Guard(WhitelistLock);
    for (const std::string &Entry : Whitelist)
        if (String_CompareWithoutCase(Entry.c_str(), Host)) return true;
    return false;
}

struct ErrorName {
    int32 Code;
    const char *Name;
};
constexpr ErrorName ErrorNames[] = {
    {0, "Unknown"},      {WEBGET_ERROR_CUSTOM, "Custom"}, {WEBGET_ERROR_CONNECT, "Connect"},
    {WEBGET_ERROR_USERABORT, "UserAbort"}, {WEBGET_ERROR_TIMEOUT, "Timeout"}, {WEBGET_ERROR_OS, "OS"},
    {WEBGET_ERROR_JSON, "JSON"}, {WEBGET_ERROR_VCDIFF, "VCDiff"}, {WEBGET_ERROR_STORAGE, "Storage"},
    {WEBGET_ERROR_YAML, "YAML"},
};

struct ConnectCause {
    int32 Number;
    const char *Words;
};
// An unresolved name reaches here as EHOSTUNREACH (runtime/posix/socket.h).
constexpr ConnectCause ConnectCauses[] = {
    {ECONNREFUSED, "connection refused"},      {ECONNRESET, "connection reset by the peer"},
    {ECONNABORTED, "connection aborted"},      {EPIPE, "connection closed by the peer"},
    {ETIMEDOUT, "connection timed out"},       {EHOSTUNREACH, "host not found or unreachable"},
    {ENETUNREACH, "network unreachable"},      {ENETDOWN, "network down"},
    {EADDRNOTAVAIL, "address not available"},
};

// A dispatcher with no method to run still reads the method, so that a
// request without one is logged like at every other class; it answers 0.
int32 RefuseMethod(Dictionary *Request, const char *ClassName) {
    const char *Method = nullptr;
    uint32 Hash = 0;
    ApiGen_GetMethod(Request, ClassName, &Method, &Hash);
    return FALSE;
}

} // namespace

int32 WebGet_Authorize(const char *Url) {
    WebGet_AuthorizeFunc Hook = __atomic_load_n(&AuthorizeHook, __ATOMIC_ACQUIRE);
    if (Hook != nullptr) return Hook(Url);
    Debug_CheckPointer(Url);
    // The host the fetch connects to ("http://a@127.0.0.1:80@b/" goes to b),
    // as every other use of the URL reads it.
    UrlParts Parts;
    if (!URL_Read(Url, &Parts, nullptr)) {
        Log_Warning("Malformed url (%s)\n", URL_OneLine(Url).c_str());
        return FALSE;
    }
    const std::string &Host = Parts.Host;
    if (IsWhitelisted(Host.c_str()) ||
        (Host.size() > 2 && Host[0] == '[' && IsWhitelisted(Host.substr(1, Host.size() - 2).c_str())))
        return TRUE;
    // A URL without a host (file:///path) has nothing to look up.
    if (!Host.empty()) Log_Warning("Hostname not found in whitelist (%s)\n", Host.c_str());
    return Authenticate_Enabled() ? FALSE : TRUE;
}

int32 WebGet_AuthorizeOverride(WebGet_AuthorizeFunc Function) {
    __atomic_store_n(&AuthorizeHook, Function, __ATOMIC_RELEASE);
    return TRUE;
}

int32 WebGet_WhitelistAdd(const char *Host) {
    Debug_CheckPointer(Host);
    std::lock_guard<std::mutex> Guard(WhitelistLock);
    Whitelist.emplace_back(Host);
    return TRUE;
}

int32 WebGet_WhitelistReset(void) {
    std::lock_guard<std::mutex> Guard(WhitelistLock);
    Whitelist.clear();
    return TRUE;
}

const char *WebGet_DescribeConnectError(int32 SubCode) {
    for (const ConnectCause &Each : ConnectCauses)
        if (Each.Number == SubCode) return Each.Words;
    return nullptr;
}

const char *WebGet_TranslateError(int32 Code) {
    for (const ErrorName &Entry : ErrorNames)
        if (Entry.Code == Code) return Entry.Name;
    return "Unknown";
}

// No method of the HTTP client is built in this host.
int32 WebGet_Invoke(void *, Dictionary *Request, Dictionary *) { return RefuseMethod(Request, "WebGet"); }

// No analytics method is built in this host.
int32 Analytics_Invoke(void *, Dictionary *Request, Dictionary *) { return RefuseMethod(Request, "Analytics"); }
