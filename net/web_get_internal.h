// The request record shared by the request and pool modules of the HTTP
// client (web_get_request.cpp, web_get_pool.cpp).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "net/web_get_request.h"
#include "net/web_get_response.h"
#include "runtime/charged_bytes.h"
#include "runtime/class.h"
#include "runtime/posix/socket.h"

struct WebGetPoolConnection;
struct WebGetResponse;

struct WebGetRequest {
    ClassStruct Class;
    std::string Url;
    std::string PostData;
    bool Post = false;
    int32 Verbose = 0;
    int32 SecretPath = 0; // see WebGetRequest_SetSecretPath
    int32 Timeout = 60;
    int32 AllowProxy = 0;
    int32 AllowResume = 0;
    int32 AllowGzip = 1;
    int64 LimitBodySize = 64 * 1024 * 1024;
    char Headers[WEBGETREQUEST_HEADER_SIZE] = {};
    std::vector<std::pair<std::string, std::string>> Cookies;
    void *HeaderDoneUser = nullptr;
    WebGetRequest_HeaderDoneFunc HeaderDone = nullptr;
    void *FillBodyUser = nullptr;
    WebGetRequest_FillBodyFunc FillBody = nullptr;

    int32 Phase = WEBGETREQUEST_PHASE_IDLE;
    float64 QueuedAt = 0; // when it last went into the pool's queue
    int32 Error = 0;
    int32 SubCode = 0;
    int32 Status = 0;
    std::string ResponseHeaders;
    ChargedBytes Body; // under the memory budget while it is held
    // Why no later attempt can succeed (see WebGetRequest_GetFinalReason).
    std::string FinalReason;
    // Why the request failed, in words, when a later attempt may fare
    // otherwise (see WebGetRequest_GetReason).
    std::string Reason;
    // Why the body's sink stopped the response, when no retry can mend it
    // (the collected body would pass the hard cap, or memory ran out).
    std::string SinkFailure;
    WebGetPoolConnection *Connection = nullptr;
};

// Ends the request with the error (0: success) and logs a failure. A final
// reason marks a failure that no later attempt can mend; a reason says in
// words why one that a later attempt may mend failed.
void WebGetRequestInt_Finish(WebGetRequest *Request, int32 Error, int32 SubCode, const char *FinalReason = nullptr,
                             const char *Reason = nullptr);
// The URL as the log shows it: without its path when the path is a secret.
std::string WebGetRequestInt_Shown(const WebGetRequest *Request);
// The body limit the request is read with: its own, within the hard cap for
// a body collected in the request (negative: none).
int64 WebGetRequestInt_BodyLimit(WebGetRequest *Request);
// Counts the response's X-Cache answer (see WebGet_XCacheLockDictionaryHandle).
void WebGetRequestInt_CountXCache(WebGetRequest *Request);
// Splits an "http://host[:port]/path" URL; false for anything else.
bool WebGetRequestInt_SplitURL(const std::string &Url, std::string *Host, int32 *Port, std::string *Path);
// The bytes of the request as sent (request line, headers, body).
std::string WebGetRequestInt_Build(WebGetRequest *Request, const std::string &Host, int32 Port,
                                   const std::string &Path);

// One TCP connection of the client, shared by the pool and by the
// persistent connection (web_get_connection.cpp).
struct WebGetPoolConnection {
    enum class State { Connecting, Sending, Receiving, Idle };
    int32 Fd = -1;
    std::string Key; // "host:port"
    std::string Host;
    int32 Port = 0;
    State Phase = State::Connecting;
    WebGetRequest *Current = nullptr;
    float64 LastActivity = 0;
    float64 Started = 0;   // of the current request's exchange
    float64 HeadBound = 0; // seconds its head may take
    float64 Bound = 0;     // seconds the whole exchange may take; 0: no bound
    std::string Out;
    size_t OutAt = 0;
    bool Reused = false;
    bool GotBytes = false;
    bool ReportErrors = true;
    // Asked once the socket has connected, before anything is sent; false
    // ends the request unsent.
    std::function<bool(int32)> Connected;
    WebGetResponse *Parser = nullptr;

    WebGetPoolConnection() { WebGetResponse_Create(&Parser); }
    ~WebGetPoolConnection() {
        Socket_Close(&Fd);
        WebGetResponse_Delete(&Parser);
    }
};


// Hands the request to a connected (or connecting) connection.
void WebGetPoolInt_Assign(WebGetPoolConnection *Connection, WebGetRequest *Request, const std::string &Path);
// One tick of the connection's request: connect, send, receive, time-out.
// The request ends with error -1 when a reused connection turned out closed.
void WebGetPoolInt_Step(WebGetPoolConnection *Connection);
// Whether an idle connection is gone (closed by the peer, or idle past Limit
// seconds; 0: no limit).
bool WebGetPoolInt_IdleExpired(WebGetPoolConnection *Connection, float64 Limit);
