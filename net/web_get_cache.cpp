// Named HTTP response caches (see web_get_cache.h).
#include "net/web_get_cache.h"

#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "runtime/charged_bytes.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/text/string.h"
#include "runtime/time.h"

struct WebGetCacheStore {
    int32 References = 1;
    std::string Name;
    int32 MinAge = 0;
    int32 Hits = 0;
    int32 Misses = 0;
    struct Entry {
        std::string ContentType;
        ChargedBytes Body; // under the memory budget while it is kept
        float64 Stored = 0;
    };
    std::map<std::string, Entry> Entries;
};

namespace {

std::vector<WebGetCacheStore *> *Stores = nullptr;
constexpr size_t NameLimit = 59;

} // namespace

int32 WebGetCache_Init(void) {
    if (Stores != nullptr) return FALSE;
    Stores = new std::vector<WebGetCacheStore *>();
    return TRUE;
}

int32 WebGetCache_Remove(void) {
    if (Stores == nullptr) return TRUE;
    for (WebGetCacheStore *Store : *Stores) {
        Store->Entries.clear();
        WebGetCacheStore_Release(&Store);
    }
    delete Stores;
    Stores = nullptr;
    return TRUE;
}

int32 WebGetCache_Expire(void) {
    if (Stores == nullptr) return FALSE;
    float64 Now = Time_GetCurrent();
    for (WebGetCacheStore *Store : *Stores)
        for (auto It = Store->Entries.begin(); It != Store->Entries.end();)
            It = Now - It->second.Stored >= Store->MinAge ? Store->Entries.erase(It) : std::next(It);
    return TRUE;
}

WebGetCacheStore *WebGetCache_AddStore(const char *Name) {
    Debug_CheckPointer(Name);
    if (Stores == nullptr || strlen(Name) > NameLimit) return nullptr;
    for (WebGetCacheStore *Store : *Stores)
        if (String_CompareWithoutCase(Store->Name.c_str(), Name)) {
            Store->References++;
            return Store;
        }
    WebGetCacheStore *Store = new WebGetCacheStore();
    Store->Name = Name;
    Stores->push_back(Store);
    Store->References++; // the table's and the caller's
    return Store;
}

int32 WebGetCacheStore_Release(WebGetCacheStore **Handle) {
    Debug_CheckPointer(Handle);
    if (*Handle == nullptr) return TRUE;
    if (--(*Handle)->References == 0) delete *Handle;
    *Handle = nullptr;
    return TRUE;
}

int32 WebGetCacheStore_SetMinAge(WebGetCacheStore *Handle, int32 Seconds) {
    Debug_CheckPointer(Handle);
    if (Seconds < 0) return FALSE;
    Handle->MinAge = Seconds;
    return TRUE;
}

int32 WebGetCacheStore_Put(WebGetCacheStore *Handle, const char *Url, const char *ContentType, const uint8 *Body,
                           int32 Length) {
    Debug_CheckPointer(Handle);
    Debug_CheckPointer(Url);
    if (Length < 0 || (Body == nullptr && Length > 0)) return FALSE;
    if (Handle->MinAge <= 0) return TRUE; // nothing would ever be served
    auto &Entry = Handle->Entries[Url];
    Entry.ContentType = ContentType != nullptr ? ContentType : "";
    try {
        Entry.Body.assign(Body, Body + Length);
    } catch (const std::bad_alloc &) {
        // A copy the budget or the memory cannot hold is not kept: the
        // next load fetches it again.
        Handle->Entries.erase(Url);
        Log_Warning("Not cached (%d bytes): past the memory budget or the memory left\n", Length);
        return FALSE;
    }
    Entry.Stored = Time_GetCurrent();
    return TRUE;
}

int32 WebGetCacheStore_Get(WebGetCacheStore *Handle, const char *Url, char *ContentType, int32 TypeSize, uint8 **Body,
                           int32 *Length) {
    Debug_CheckPointer(Handle);
    Debug_CheckPointer(Url);
    Debug_CheckPointer(Body);
    Debug_CheckPointer(Length);
    *Body = nullptr;
    *Length = 0;
    auto It = Handle->Entries.find(Url);
    if (It == Handle->Entries.end() || Time_GetCurrent() - It->second.Stored >= Handle->MinAge) {
        Handle->Misses++;
        return FALSE;
    }
    Handle->Hits++;
    if (ContentType != nullptr) String_CopyLength(ContentType, It->second.ContentType.c_str(), TypeSize);
    *Length = (int32)It->second.Body.size();
    *Body = static_cast<uint8 *>(Memory_Alloc(*Length + 1));
    if (*Length > 0) memcpy(*Body, It->second.Body.data(), (size_t)*Length);
    return TRUE;
}

int32 WebGetCacheStore_GetCounts(WebGetCacheStore *Handle, int32 *Hits, int32 *Misses) {
    Debug_CheckPointer(Handle);
    *Hits = Handle->Hits;
    *Misses = Handle->Misses;
    return TRUE;
}
