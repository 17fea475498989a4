// One HTTP request: its settings, its request bytes and its result (see
// web_get_request.h). The pool (web_get_pool.cpp) carries it.
#include "net/web_get_internal.h"

#include <arpa/inet.h>
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <algorithm>
#include <mutex>
#include <new>

#include "net/web_get.h"
#include "net/web_get_redirect.h"
#include "runtime/log.h"
#include "runtime/text/string.h"
#include "runtime/text/string_expand.h"
#include "runtime/text/url.h"

namespace {

int32 DeleteObject(void *HandleAddress) {
    WebGetRequest **Handle = static_cast<WebGetRequest **>(HandleAddress);
    delete *Handle;
    *Handle = nullptr;
    return TRUE;
}

// Room for a body known to be Length bytes as it arrives: the length the
// answer declares, when its bytes are not decoded first.
int64 DeclaredLength(WebGetRequest *Request) {
    char Text[32] = "", Coding[32] = "";
    if (!WebGet_HeaderGetByName(Request->ResponseHeaders.c_str(), "Content-Length", Text, (int32)sizeof(Text)) ||
        WebGet_HeaderGetByName(Request->ResponseHeaders.c_str(), "Content-Encoding", Coding, (int32)sizeof(Coding)))
        return 0;
    char *End = nullptr;
    const long long Length = strtoll(Text, &End, 10);
    return End != Text && *End == 0 && Length > 0 ? (int64)Length : 0;
}

// The body is held whole in memory, under the process's memory budget from
// its first byte: never past the hard cap, whatever limit the request was
// given, and a body the budget or the memory cannot hold stops the response
// with that reason rather than ending the program. A declared length is
// taken whole at the first byte, so that a body which cannot fit is refused
// before it is read, and one that fits holds no doubled room; others grow
// by doubling, never past their limit.
int32 CollectBody(void *, WebGetRequest *Request, const uint8 *Bytes, int32 Length) {
    const size_t Have = Request->Body.size(), Need = Have + (size_t)Length;
    if ((int64)Need > WEBGETREQUEST_LIMIT_BODY_MAX) {
        Request->SinkFailure = "the answer's body is larger than " + std::to_string(WEBGETREQUEST_LIMIT_BODY_MAX) +
                               " bytes, the most a body may hold";
        return FALSE;
    }
    size_t Room = Need;
    try {
        if (Need > Request->Body.capacity()) {
            const int64 Limit = WebGetRequestInt_BodyLimit(Request);
            int64 Want = Have == 0 ? DeclaredLength(Request) : 0;
            if (Want == 0) Want = std::max<int64>((int64)Request->Body.capacity() * 2, 65536);
            if (Limit >= 0) Want = std::min(Want, Limit);
            Room = std::max((size_t)Want, Need);
            Request->Body.reserve(Room);
        }
        Request->Body.insert(Request->Body.end(), Bytes, Bytes + Length);
    } catch (const MemoryBudgetRefused &) {
        ChargedBytes().swap(Request->Body);
        char Words[256];
        snprintf(Words, sizeof(Words),
                 "the answer's body is refused: the room it takes as it arrives (%zu bytes) passes the memory budget of %lld MiB that "
                 "a process's documents, bodies and task arguments share (%lld MiB held by others)",
                 Room, (long long)(MemoryBudget_GetLimit() >> 20), (long long)(MemoryBudget_GetUsed() >> 20));
        Request->SinkFailure = Words;
        return FALSE;
    } catch (const std::bad_alloc &) {
        const size_t Had = Request->Body.size();
        ChargedBytes().swap(Request->Body);
        Request->SinkFailure =
            "out of memory: the answer's body cannot be held (" + std::to_string(Had + (size_t)Length) + " bytes)";
        return FALSE;
    }
    return TRUE;
}

} // namespace

std::string WebGetRequestInt_Shown(const WebGetRequest *Request) {
    if (!Request->SecretPath) return URL_OneLine(Request->Url);
    // Scheme, host and port only: a password holding "/" would otherwise
    // show up to that "/", and the '@' that ends it go with the path.
    UrlParts Parts;
    if (!URL_Read(Request->Url, &Parts, nullptr)) return "(a URL that cannot be read)/...";
    return Parts.Scheme + "://" + Parts.Host + ":" + std::to_string(Parts.Port) + "/...";
}

int64 WebGetRequestInt_BodyLimit(WebGetRequest *Request) {
    // A body kept in the request cannot pass the hard cap; only a stream
    // read by a sink of its own may go without a limit.
    const int64 Limit = Request->LimitBodySize;
    if (Request->FillBody == CollectBody && (Limit < 0 || Limit > WEBGETREQUEST_LIMIT_BODY_MAX))
        return WEBGETREQUEST_LIMIT_BODY_MAX;
    return Limit;
}

void WebGetRequestInt_Finish(WebGetRequest *Request, int32 Error, int32 SubCode, const char *FinalReason,
                             const char *Reason) {
    Request->Error = Error;
    Request->SubCode = SubCode;
    Request->FinalReason = FinalReason != nullptr && Error != 0 ? FinalReason : "";
    Request->Reason = Reason != nullptr && Error != 0 ? Reason : "";
    Request->Phase = WEBGETREQUEST_PHASE_DONE;
    Request->Connection = nullptr;
    if (Error != 0)
        Log_Warning("Request failed (%s) %s [%d]\n", WebGetRequestInt_Shown(Request).c_str(), WebGet_TranslateError(Error),
                    SubCode);
    else if (Request->Verbose)
        Log_Info("Request done (%s) status %d\n", WebGetRequestInt_Shown(Request).c_str(), Request->Status);
}

namespace {

// A host a request can be made of: a bracketed IPv6 address, an IPv4
// address in four decimal parts, or a name of labels of letters, digits,
// '-' and '_' (1 to 63 characters, no '-' at either end) joined by single
// dots (a last dot allowed), at most 253 characters. What else would only
// ever fail the name look-up, and then again at each retry; a name whose
// last label is a number ("0", "256.0.0.1") is an address that is not one.
bool IsHostText(const std::string &Host) {
    if (!Host.empty() && Host[0] == '[') {
        in6_addr Address;
        return Host.size() > 2 && Host.back() == ']' &&
               inet_pton(AF_INET6, Host.substr(1, Host.size() - 2).c_str(), &Address) == 1;
    }
    std::string Name = Host;
    if (!Name.empty() && Name.back() == '.') Name.pop_back();
    if (Name.empty() || Name.size() > 253) return false;
    size_t Start = 0;
    std::string Last;
    while (Start <= Name.size()) {
        size_t Dot = Name.find('.', Start);
        if (Dot == std::string::npos) Dot = Name.size();
        const std::string Label = Name.substr(Start, Dot - Start);
        if (Label.empty() || Label.size() > 63 || Label.front() == '-' || Label.back() == '-') return false;
        for (char Ch : Label)
            if (!isalnum((unsigned char)Ch) && Ch != '-' && Ch != '_') return false;
        Last = Label;
        Start = Dot + 1;
    }
    if (Last.find_first_not_of("0123456789") == std::string::npos) {
        in_addr Address;
        return inet_pton(AF_INET, Name.c_str(), &Address) == 1;
    }
    return true;
}

} // namespace

bool WebGetRequestInt_SplitURL(const std::string &Url, std::string *Host, int32 *Port, std::string *Path) {
    // The parts every other use of the URL reads (the place it names, the
    // password a line hides), sent as written.
    UrlParts Parts;
    if (!URL_Read(Url, &Parts, nullptr) || Parts.Scheme != "http" || !IsHostText(Parts.Host) ||
        (!Parts.RawPath.empty() && Parts.RawPath[0] != '/'))
        return false;
    *Host = Parts.Host;
    *Port = Parts.Port;
    *Path = (Parts.RawPath.empty() ? "/" : Parts.RawPath) + (Parts.HasQuery ? "?" + Parts.Query : "");
    return Path->find_first_of(" \r\n") == std::string::npos;
}

int32 WebGet_CheckURL(const char *Url) {
    Debug_CheckPointer(Url);
    std::string Host, Path;
    int32 Port = 0;
    return WebGetRequestInt_SplitURL(Url, &Host, &Port, &Path) ? TRUE : FALSE;
}

namespace {

// The request's own headers: each of the client's is left out where the
// caller set one of that name (compared without case), so that no header
// goes twice.
bool CallerSets(WebGetRequest *Request, const char *Name) {
    const size_t Length = strlen(Name);
    for (const char *Line = Request->Headers; *Line != 0;) {
        if (strncasecmp(Line, Name, Length) == 0 && Line[Length] == ':') return true;
        const char *End = strchr(Line, '\n');
        if (End == nullptr) break;
        Line = End + 1;
    }
    return false;
}

} // namespace

std::string WebGetRequestInt_Build(WebGetRequest *Request, const std::string &Host, int32 Port,
                                   const std::string &Path) {
    std::string Out = Request->Post ? "POST " : "GET ";
    Out += Path;
    Out += " HTTP/1.1\r\n";
    if (!CallerSets(Request, "Host")) {
        Out += "Host: ";
        Out += Host;
        if (Port != 80) Out += ":" + std::to_string(Port);
        Out += "\r\n";
    }
    char Value[1024];
    if (!CallerSets(Request, "User-Agent")) {
        // The agent's expansion must not open a second header line.
        bool Have = WebGet_GetUserAgent(Value, sizeof(Value)) && Value[0] != 0;
        if (Have) String_Expand(Value, sizeof(Value), nullptr, nullptr);
        if (Have && strpbrk(Value, "\r\n") == nullptr) {
            Out += "User-Agent: ";
            Out += Value;
            Out += "\r\n";
        }
    }
    if (Request->AllowGzip && !CallerSets(Request, "Accept-Encoding")) Out += "Accept-Encoding: gzip\r\n";
    if (!Request->Cookies.empty() && !CallerSets(Request, "Cookie")) {
        Out += "Cookie: ";
        for (size_t i = 0; i < Request->Cookies.size(); i++) {
            if (i > 0) Out += "; ";
            Out += Request->Cookies[i].first + "=" + Request->Cookies[i].second;
        }
        Out += "\r\n";
    }
    Out += Request->Headers;
    if (Request->Post) Out += "Content-Length: " + std::to_string(Request->PostData.size()) + "\r\n";
    Out += "\r\n";
    if (Request->Post) Out += Request->PostData;
    return Out;
}

int32 WebGetRequest_Create(WebGetRequest **Handle) {
    Debug_CheckPointer(Handle);
    WebGetRequest *Self = new WebGetRequest();
    Class_InitHeader(Self, WEBGETREQUEST_CLASSID, DeleteObject);
    Self->FillBody = CollectBody;
    *Handle = Self;
    return TRUE;
}

WebGetRequest *WebGetRequest_AddRef(WebGetRequest *Self) {
    Class_CheckHandle(Self, WEBGETREQUEST_CLASSID);
    Class_AddRef(Self);
    return Self;
}

int32 WebGetRequest_Release(WebGetRequest **Handle) {
    Debug_CheckPointer(Handle);
    if (*Handle == nullptr) return TRUE;
    Class_CheckHandle(*Handle, WEBGETREQUEST_CLASSID);
    return Class_Release(Handle);
}

int32 WebGetRequest_Reset(WebGetRequest *Self) {
    Class_CheckHandle(Self, WEBGETREQUEST_CLASSID);
    if (Self->Phase == WEBGETREQUEST_PHASE_QUEUED || Self->Phase == WEBGETREQUEST_PHASE_RUNNING)
        WebGetPool_RequestRemove(Self);
    Self->Phase = WEBGETREQUEST_PHASE_IDLE;
    Self->Error = Self->SubCode = Self->Status = 0;
    Self->FinalReason.clear();
    Self->Reason.clear();
    Self->SinkFailure.clear();
    Self->ResponseHeaders.clear();
    Self->Body.clear();
    return TRUE;
}

int32 WebGetRequest_SetURL(WebGetRequest *Self, const char *Url) {
    Class_CheckHandle(Self, WEBGETREQUEST_CLASSID);
    Debug_CheckPointer(Url);
    if (strlen(Url) >= WEBGETREQUEST_URL_SIZE) return FALSE;
    Self->Url = Url;
    return TRUE;
}

const char *WebGetRequest_GetURLPtr(WebGetRequest *Self) {
    Class_CheckHandle(Self, WEBGETREQUEST_CLASSID);
    return Self->Url.c_str();
}

int32 WebGetRequest_SetPostData(WebGetRequest *Self, const void *Bytes, int32 Length) {
    Class_CheckHandle(Self, WEBGETREQUEST_CLASSID);
    if (Length < 0 || (Bytes == nullptr && Length > 0)) return FALSE;
    Self->PostData.assign(static_cast<const char *>(Bytes), (size_t)Length);
    Self->Post = true;
    return TRUE;
}

#define WEBGETREQUEST_SETTER(Name, Field)                                                                              \
    int32 WebGetRequest_Set##Name(WebGetRequest *Self, int32 Flag) {                                                   \
        Class_CheckHandle(Self, WEBGETREQUEST_CLASSID);                                                                \
        Self->Field = Flag != 0;                                                                                       \
        return TRUE;                                                                                                   \
    }
WEBGETREQUEST_SETTER(Verbose, Verbose)
WEBGETREQUEST_SETTER(SecretPath, SecretPath)
WEBGETREQUEST_SETTER(AllowProxy, AllowProxy)
WEBGETREQUEST_SETTER(AllowResume, AllowResume)
WEBGETREQUEST_SETTER(AllowCompressedContent, AllowGzip)

int32 WebGetRequest_SetTimeout(WebGetRequest *Self, int32 Seconds) {
    Class_CheckHandle(Self, WEBGETREQUEST_CLASSID);
    if (Seconds < 1) return FALSE;
    Self->Timeout = Seconds;
    return TRUE;
}

int32 WebGetRequest_SetLimitBodySize(WebGetRequest *Self, int64 Limit) {
    Class_CheckHandle(Self, WEBGETREQUEST_CLASSID);
    Self->LimitBodySize = Limit;
    return TRUE;
}

int32 WebGetRequest_SetHeader(WebGetRequest *Self, const char *Name, const char *Value, int32 Replace) {
    Class_CheckHandle(Self, WEBGETREQUEST_CLASSID);
    Debug_CheckPointer(Name);
    // The client frames the body it sends itself: a length or coding given
    // from outside could only contradict it.
    if (strcasecmp(Name, "Content-Length") == 0 || strcasecmp(Name, "Transfer-Encoding") == 0) return FALSE;
    return WebGet_HeaderSet(Self->Headers, (int32)sizeof(Self->Headers), Name, Value, Replace);
}

int32 WebGetRequest_GetHeader(WebGetRequest *Self, char *Buffer, int32 Size) {
    Class_CheckHandle(Self, WEBGETREQUEST_CLASSID);
    Debug_CheckPointer(Buffer);
    return String_CopyLength(Buffer, Self->Headers, Size) && (int32)strlen(Self->Headers) < Size;
}

int32 WebGetRequest_CookieSet(WebGetRequest *Self, const char *Name, const char *Value, const char *, const char *,
                              uint32) {
    Class_CheckHandle(Self, WEBGETREQUEST_CLASSID);
    Debug_CheckPointer(Name);
    Debug_CheckPointer(Value);
    // A cookie must not break the Cookie line or start another header.
    if (Name[0] == 0 || strpbrk(Name, "=;\r\n ") != nullptr || strpbrk(Value, ";\r\n") != nullptr) return FALSE;
    for (auto &Cookie : Self->Cookies)
        if (Cookie.first == Name) {
            Cookie.second = Value;
            return TRUE;
        }
    Self->Cookies.emplace_back(Name, Value);
    return TRUE;
}

int32 WebGetRequest_SetHeaderDoneCallback(WebGetRequest *Self, void *User, WebGetRequest_HeaderDoneFunc Function) {
    Class_CheckHandle(Self, WEBGETREQUEST_CLASSID);
    Self->HeaderDoneUser = User;
    Self->HeaderDone = Function;
    return TRUE;
}

int32 WebGetRequest_SetFillBodyCallback(WebGetRequest *Self, void *User, WebGetRequest_FillBodyFunc Function) {
    Class_CheckHandle(Self, WEBGETREQUEST_CLASSID);
    Self->FillBodyUser = User;
    Self->FillBody = Function != nullptr ? Function : CollectBody;
    return TRUE;
}

int32 WebGetRequest_SetFillBodyCallbackDefault(WebGetRequest *Self) {
    return WebGetRequest_SetFillBodyCallback(Self, nullptr, nullptr);
}

int32 WebGetRequest_GetPhase(WebGetRequest *Self) {
    Class_CheckHandle(Self, WEBGETREQUEST_CLASSID);
    return Self->Phase;
}

int32 WebGetRequest_IsDone(WebGetRequest *Self) { return WebGetRequest_GetPhase(Self) == WEBGETREQUEST_PHASE_DONE; }

int32 WebGetRequest_GetError(WebGetRequest *Self, int32 *Error, int32 *SubCode) {
    Class_CheckHandle(Self, WEBGETREQUEST_CLASSID);
    Debug_CheckPointer(Error);
    Debug_CheckPointer(SubCode);
    *Error = Self->Error;
    *SubCode = Self->SubCode;
    return TRUE;
}

int32 WebGetRequest_GetFinalReason(WebGetRequest *Self, char *Buffer, int32 Size) {
    Class_CheckHandle(Self, WEBGETREQUEST_CLASSID);
    Debug_CheckPointer(Buffer);
    if (Size < 1) return FALSE;
    String_CopyLength(Buffer, Self->FinalReason.c_str(), Size);
    return !Self->FinalReason.empty();
}

int32 WebGetRequest_GetReason(WebGetRequest *Self, char *Buffer, int32 Size) {
    Class_CheckHandle(Self, WEBGETREQUEST_CLASSID);
    Debug_CheckPointer(Buffer);
    if (Size < 1) return FALSE;
    String_CopyLength(Buffer, (Self->FinalReason.empty() ? Self->Reason : Self->FinalReason).c_str(), Size);
    return Buffer[0] != 0;
}

int32 WebGetRequest_GetStatusCode(WebGetRequest *Self) {
    Class_CheckHandle(Self, WEBGETREQUEST_CLASSID);
    return Self->Status;
}

int32 WebGetRequest_GetResponseHeader(WebGetRequest *Self, const char *Name, char *Value, int32 Size) {
    Class_CheckHandle(Self, WEBGETREQUEST_CLASSID);
    return WebGet_HeaderGetByName(Self->ResponseHeaders.c_str(), Name, Value, Size);
}

int32 WebGetRequest_GetBody(WebGetRequest *Self, const uint8 **Bytes, int32 *Length) {
    Class_CheckHandle(Self, WEBGETREQUEST_CLASSID);
    Debug_CheckPointer(Bytes);
    Debug_CheckPointer(Length);
    *Bytes = Self->Body.data();
    *Length = (int32)Self->Body.size();
    return TRUE;
}

namespace {
std::mutex XCacheLock;
Dictionary *XCacheCounts = nullptr;
} // namespace

void WebGetRequestInt_CountXCache(WebGetRequest *Request) {
    char Value[256] = "";
    if (!WebGet_HeaderGetByName(Request->ResponseHeaders.c_str(), "X-Cache", Value, (int32)sizeof(Value))) return;
    const char *Key = strncasecmp(Value, "HIT", 3) == 0 ? "hit" : strncasecmp(Value, "MISS", 4) == 0 ? "miss" : nullptr;
    std::string Host, Path;
    int32 Port = 0;
    if (Key == nullptr || !WebGetRequestInt_SplitURL(Request->Url, &Host, &Port, &Path)) return;
    std::lock_guard<std::mutex> Guard(XCacheLock);
    if (XCacheCounts == nullptr) Dictionary_Create(&XCacheCounts);
    Dictionary *Entry = nullptr;
    if (!Dictionary_GetDictionaryByKey(XCacheCounts, Host.c_str(), &Entry) || Entry == nullptr) {
        Dictionary_AddDictionary(XCacheCounts, Host.c_str(), &Entry, nullptr);
        Dictionary_SetInt64ByKey(Entry, "hit", 0);
        Dictionary_SetInt64ByKey(Entry, "miss", 0);
    }
    int64 Count = 0;
    Dictionary_GetInt64ByKey(Entry, Key, &Count);
    Dictionary_SetInt64ByKey(Entry, Key, Count + 1);
}

int32 WebGet_XCacheLockDictionaryHandle(Dictionary **Counts) {
    Debug_CheckPointer(Counts);
    XCacheLock.lock();
    if (XCacheCounts == nullptr) Dictionary_Create(&XCacheCounts);
    *Counts = XCacheCounts;
    return TRUE;
}

int32 WebGet_XCacheRemove(void) {
    std::lock_guard<std::mutex> Guard(XCacheLock);
    if (XCacheCounts != nullptr) Dictionary_Release(&XCacheCounts);
    return TRUE;
}

int32 WebGet_XCacheUnlockDictionaryHandle(void) {
    XCacheLock.unlock();
    return TRUE;
}
