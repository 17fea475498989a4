// The host-whitelist decision and the HTTP script classes' dispatchers, in
// the form this host can give them without an HTTP client (see web_get.h).
#include "core/web_get.h"

#include <string.h>

#include "core/api_gen.h"
#include "core/log.h"
#include "core/string.h"

namespace {

WebGet_AuthorizeFunc AuthorizeHook = nullptr;

// The host part of a URL for the log line: after "//", before the path, the
// query or the fragment, without user information and port.
void ParseHost(const char *AfterSlashes, char *Host, int32 Size) {
    size_t Length = strcspn(AfterSlashes, "/?#");
    const char *At = static_cast<const char *>(memchr(AfterSlashes, '@', Length));
    if (At != nullptr) {
        Length -= (size_t)(At + 1 - AfterSlashes);
        AfterSlashes = At + 1;
    }
    const char *Colon = static_cast<const char *>(memchr(AfterSlashes, ':', Length));
    if (Colon != nullptr && AfterSlashes[0] != '[') Length = (size_t)(Colon - AfterSlashes);
    String_CopyLength(Host, AfterSlashes, Length + 1 < (size_t)Size ? (int32)Length + 1 : Size);
}

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
    const char *Slashes = strstr(Url, "//");
    if (Slashes == nullptr) {
        Log_Warning("Malformed url (%s)\n", Url);
        return FALSE;
    }
    char Host[MAX_PATH_SIZE];
    ParseHost(Slashes + 2, Host, (int32)sizeof(Host));
    // The whitelist is empty and authentication on: nothing is allowed.
    Log_Warning("Hostname not found in whitelist (%s)\n", Host);
    return FALSE;
}

int32 WebGet_AuthorizeOverride(WebGet_AuthorizeFunc Function) {
    __atomic_store_n(&AuthorizeHook, Function, __ATOMIC_RELEASE);
    return TRUE;
}

// No method of the HTTP client is built in this host.
int32 WebGet_Invoke(void *, Dictionary *Request, Dictionary *) { return RefuseMethod(Request, "WebGet"); }

// No analytics method is built in this host.
int32 Analytics_Invoke(void *, Dictionary *Request, Dictionary *) { return RefuseMethod(Request, "Analytics"); }
