// The per-host connection pool of the HTTP client: queued requests wait for
// a connection of their host (within the host and per-host limits), sockets
// are ticked with zero-wait polls, and connections that end a response with
// keep-alive wait idle for the next request of the same host.
#include <errno.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "runtime/log.h"
#include "runtime/posix/socket.h"
#include "runtime/text/string.h"
#include "runtime/time.h"
#include "net/web_get.h"
#include "net/web_get_redirect.h"
#include "net/web_get_internal.h"
#include "runtime/text/url.h"
#include "net/web_get_response.h"

namespace {

// An idle keep-alive connection is closed after this many seconds.
constexpr float64 IdleSeconds = 30.0;
// The head of a response must be whole within this many inactivity
// time-outs plus one second for each BoundRate bytes of the header cap, and
// the whole exchange within that plus a second per BoundRate bytes of the
// body limit: a peer that sends a byte just before each time-out still ends
// the request. A request without a body limit asked for a body without end
// (a long-lived stream lives for hours on keep-alives), so only its head is
// bounded.
constexpr float64 BoundTimeouts = 4.0;
constexpr float64 BoundRate = 65536.0;
constexpr int32 ReadBlock = 65536;
// A host whose every connection has waited this long for its peer, with no
// byte either way, holds no slot under the host limit: a host that never
// answers, or sends less than a byte a second, does not hold back the
// fetches of the others.
constexpr float64 WaitingSeconds = 1.0;
using State = WebGetPoolConnection::State;

} // namespace

namespace {

struct PoolRecord {
    int32 MaxHosts = 5;
    int32 MaxHostConnections = 6;
    bool Stopped = false;
    std::deque<WebGetRequest *> Queue;
    std::vector<std::unique_ptr<WebGetPoolConnection>> Connections;
};

PoolRecord *Pool = nullptr;
WebGetPool_ErrorFunc ErrorReporter = nullptr;
// Hold-off of the error filter, seconds.
constexpr float64 ErrorHoldOff = 3600.0;
std::mutex FilterLock;
std::map<std::string, float64> Reported;

std::string HostKey(const std::string &Host, int32 Port) {
    std::string Key = Host + ":" + std::to_string(Port);
    for (char &C : Key) C = (char)tolower((unsigned char)C);
    return Key;
}

// Ends the connection's request and drops the pool's reference on it.
void FinishCurrent(WebGetPoolConnection *Connection, int32 Error, int32 SubCode, const char *Reason = nullptr) {
    WebGetRequest *Request = Connection->Current;
    Connection->Current = nullptr;
    if (Request == nullptr) return;
    WebGetRequestInt_Finish(Request, Error, SubCode, nullptr, Reason);
    WebGetRequest_Release(&Request);
}

// A connection failure: the request fails, the socket closes, and a report
// goes to whoever watches connection errors.
void FailConnection(WebGetPoolConnection *Connection, int32 Error, int32 SubCode, const char *Reason = nullptr) {
    Socket_Close(&Connection->Fd);
    FinishCurrent(Connection, Error, SubCode, Reason);
    // A reused connection the peer closed is retried, not reported.
    if (Error > 0 && ErrorReporter != nullptr && Connection->ReportErrors) ErrorReporter(Connection->Host.c_str(), Connection->Port, Error, SubCode);
}

int32 SinkBody(void *User, const uint8 *Bytes, int32 Length) {
    WebGetRequest *Request = static_cast<WebGetRequest *>(User);
    return Request->FillBody(Request->FillBodyUser, Request, Bytes, Length);
}

int32 HeaderDone(void *User, WebGetResponse *Response) {
    WebGetRequest *Request = static_cast<WebGetRequest *>(User);
    Request->Status = WebGetResponse_GetStatusCode(Response);
    Request->ResponseHeaders = WebGetResponse_GetHeaderPtr(Response);
    WebGetRequestInt_CountXCache(Request);
    // A failed status keeps its body away from the caller's sink.
    if (Request->Status < 200 || Request->Status > 299) return FALSE;
    if (Request->HeaderDone != nullptr) return Request->HeaderDone(Request->HeaderDoneUser, Request);
    return TRUE;
}

// Hands the request to the connection and prepares its bytes.
void AssignInt(WebGetPoolConnection *Connection, WebGetRequest *Request, const std::string &Path) {
    Connection->Current = Request;
    Connection->GotBytes = false;
    Request->Connection = Connection;
    Request->Phase = WEBGETREQUEST_PHASE_RUNNING;
    Connection->Out = WebGetRequestInt_Build(Request, Connection->Host, Connection->Port, Path);
    Connection->OutAt = 0;
    WebGetResponse_Reset(Connection->Parser, 0);
    const int64 Limit = WebGetRequestInt_BodyLimit(Request);
    WebGetResponse_SetLimitBodySize(Connection->Parser, Limit);
    WebGetResponse_SetSink(Connection->Parser, Request, SinkBody);
    WebGetResponse_SetHeaderCallback(Connection->Parser, Request, HeaderDone);
    Connection->LastActivity = Time_GetCurrent();
    Connection->Started = Connection->LastActivity;
    Connection->HeadBound = BoundTimeouts * Request->Timeout + WEBGETRESPONSE_HEADER_LIMIT / BoundRate;
    Connection->Bound =
        Limit >= 0 ? Connection->HeadBound + (float64)Limit / BoundRate : 0;
    if (Request->Verbose) Log_Info("Requesting (%s)\n", WebGetRequestInt_Shown(Request).c_str());
}

// The response parser's verdict on the request.
void Conclude(WebGetPoolConnection *Connection, int32 Result) {
    WebGetRequest *Request = Connection->Current;
    int32 Status = WebGetResponse_GetStatusCode(Connection->Parser);
    bool HeaderSeen = WebGetResponse_IsHeaderDone(Connection->Parser) || Request->Status != 0;
    if (HeaderSeen && (Status < 200 || Status > 299)) {
        Log_Warning("Response status %d (%s)\n", Status, WebGetRequestInt_Shown(Request).c_str());
        Socket_Close(&Connection->Fd);
        FinishCurrent(Connection, WEBGET_ERROR_CUSTOM, Status);
        return;
    }
    if (Result == WEBGETRESPONSE_DONE) {
        bool Keep = WebGetResponse_IsKeepAlive(Connection->Parser);
        FinishCurrent(Connection, 0, 0);
        if (Keep) {
            Connection->Phase = State::Idle;
            Connection->Reused = true;
            Connection->LastActivity = Time_GetCurrent();
        } else {
            Socket_Close(&Connection->Fd);
        }
        return;
    }
    // A failure the same answer would give again (a body past its limit,
    // framing that contradicts itself, a body the memory cannot hold) ends
    // the request with its reason, and no retry is made of it.
    const char *Why = "";
    bool Final = WebGetResponse_GetFailure(Connection->Parser, &Why) != 0;
    if (Result == WEBGETRESPONSE_SINKSTOP && !Request->SinkFailure.empty()) {
        Final = true;
        Why = Request->SinkFailure.c_str();
    }
    if (Final) Log_Error("%s (%s)\n", Why, WebGetRequestInt_Shown(Request).c_str());
    else if (Result == WEBGETRESPONSE_TOOLARGE) Log_Error("Response body exceeds limit (%s)\n", WebGetRequestInt_Shown(Request).c_str());
    else if (Result == WEBGETRESPONSE_MALFORMED)
        Log_Error("%s (%s)\n", *Why != 0 ? Why : "Malformed response", WebGetRequestInt_Shown(Request).c_str());
    Socket_Close(&Connection->Fd);
    WebGetRequest *Ending = Connection->Current;
    Connection->Current = nullptr;
    WebGetRequestInt_Finish(Ending,
                            Result == WEBGETRESPONSE_SINKSTOP && !Final ? WEBGET_ERROR_USERABORT : WEBGET_ERROR_CUSTOM, 0,
                            Final ? Why : nullptr);
    WebGetRequest_Release(&Ending);
}

// The connection ended (closed or reset) before the answer did: a failed
// connection, as a refused one is, whose words say how and where the answer
// was cut. Another attempt may fare otherwise, so the failure is not final.
void FailCut(WebGetPoolConnection *Connection, int32 Error, const char *How) {
    WebGetRequest *Request = Connection->Current;
    if (How != nullptr) WebGetResponse_Cut(Connection->Parser, How);
    const char *Why = "";
    WebGetResponse_GetFailure(Connection->Parser, &Why);
    if (*Why == 0) return FailConnection(Connection, WEBGET_ERROR_CONNECT, Error);
    Log_Error("%s (%s)\n", Why, WebGetRequestInt_Shown(Request).c_str());
    const std::string Reason = Why;
    FailConnection(Connection, WEBGET_ERROR_CONNECT, Error, Reason.c_str());
}

void StepInt(WebGetPoolConnection *Connection) {
    WebGetRequest *Request = Connection->Current;
    float64 Now = Time_GetCurrent();
    int32 Error = 0;
    if (Connection->Phase == State::Connecting) {
        int32 Result = Socket_ConnectStep(Connection->Fd, &Error);
        if (Result == SOCKET_FAILED) {
            Log_Error("Unable to connect (%s) [%d]\n", Connection->Key.c_str(), Error);
            return FailConnection(Connection, WEBGET_ERROR_CONNECT, Error);
        }
        if (Result == SOCKET_READY) {
            if (Connection->Connected && !Connection->Connected(Connection->Fd))
                return FailConnection(Connection, WEBGET_ERROR_CONNECT, EACCES);
            Connection->Phase = State::Sending;
            Connection->LastActivity = Now;
        }
    }
    if (Connection->Phase == State::Sending) {
        while (Connection->OutAt < Connection->Out.size()) {
            int32 Sent = 0;
            size_t Left = Connection->Out.size() - Connection->OutAt;
            if (!Socket_Send(Connection->Fd, Connection->Out.data() + Connection->OutAt,
                             (int32)std::min<size_t>(Left, 1 << 20), &Sent, &Error))
                return FailConnection(Connection, WEBGET_ERROR_CONNECT, Error);
            if (Sent == 0) break;
            Connection->OutAt += (size_t)Sent;
            Connection->LastActivity = Now;
        }
        if (Connection->OutAt == Connection->Out.size()) Connection->Phase = State::Receiving;
    }
    if (Connection->Phase == State::Receiving) {
        static uint8 Buffer[ReadBlock];
        // Bounded work per tick, so one fast peer cannot starve the loop.
        for (int32 Round = 0; Round < 64 && Connection->Current == Request; Round++) {
            int32 Received = 0, Closed = 0;
            if (!Socket_Receive(Connection->Fd, Buffer, sizeof(Buffer), &Received, &Closed, &Error)) {
                if (!Connection->GotBytes && Connection->Reused) return FailConnection(Connection, -1, 0);
                return FailCut(Connection, Error, WebGet_DescribeConnectError(Error));
            }
            if (Closed) {
                if (!Connection->GotBytes && Connection->Reused) return FailConnection(Connection, -1, 0);
                const int32 Result = WebGetResponse_Finish(Connection->Parser);
                const char *Why = "";
                if (Result == WEBGETRESPONSE_DONE || WebGetResponse_GetFailure(Connection->Parser, &Why))
                    return Conclude(Connection, Result);
                return FailCut(Connection, EPIPE, nullptr);
            }
            if (Received == 0) break;
            Connection->GotBytes = true;
            Connection->LastActivity = Now;
            int32 Consumed = 0;
            int32 Result = WebGetResponse_Feed(Connection->Parser, Buffer, Received, &Consumed);
            if (Result != WEBGETRESPONSE_MORE) {
                // Bytes beyond the response: the peer is out of step, so the
                // connection is not reused.
                if (Result == WEBGETRESPONSE_DONE && Consumed < Received) {
                    Conclude(Connection, Result);
                    Socket_Close(&Connection->Fd);
                    return;
                }
                return Conclude(Connection, Result);
            }
        }
    }
    if (Connection->Current != nullptr && Now - Connection->LastActivity >= Request->Timeout) {
        Log_Error("Request timed out after %d s without data (%s)\n", Request->Timeout,
                  WebGetRequestInt_Shown(Request).c_str());
        const std::string Why = std::string(Connection->Phase == State::Connecting ? "no connection was made in "
                                                                                    : "no byte came for ") +
                                std::to_string(Request->Timeout) + " s (timeout)";
        return FailConnection(Connection, WEBGET_ERROR_TIMEOUT, 0, Why.c_str());
    }
    if (Connection->Current == nullptr) return;
    const float64 Elapsed = Now - Connection->Started;
    const bool HeadLate = Elapsed >= Connection->HeadBound && !WebGetResponse_IsHeaderDone(Connection->Parser);
    if (HeadLate || (Connection->Bound > 0 && Elapsed >= Connection->Bound)) {
        Log_Error("Request timed out after %.0f s in all (%s)\n", Elapsed, WebGetRequestInt_Shown(Request).c_str());
        const std::string Why = std::string(HeadLate ? "the answer's head" : "the answer") + " did not end within " +
                                std::to_string((int64)Elapsed) + " s, though bytes came";
        return FailConnection(Connection, WEBGET_ERROR_TIMEOUT, 0, Why.c_str());
    }
}

// An idle connection the peer closed (or that idled too long) is dropped.
bool IdleExpiredInt(WebGetPoolConnection *Connection, float64 Limit) {
    if (Connection->Fd < 0) return true;
    if (Limit > 0 && Time_GetCurrent() - Connection->LastActivity > Limit) return true;
    uint8 Byte;
    int32 Received = 0, Closed = 0, Error = 0;
    if (!Socket_Receive(Connection->Fd, &Byte, 1, &Received, &Closed, &Error)) return true;
    return Closed || Received > 0;
}

// Closes the keep-alive connections of one host that has nothing in flight,
// so that a host waiting for a slot under the host limit gets it now rather
// than when they idle out. False when every host is busy.
bool DropIdleHost(const std::string &Waiting) {
    for (auto &Candidate : Pool->Connections) {
        const std::string Key = Candidate->Key;
        if (Key == Waiting) continue;
        bool Busy = false;
        for (auto &Connection : Pool->Connections)
            if (Connection->Key == Key && (Connection->Phase != State::Idle || Connection->Current != nullptr))
                Busy = true;
        if (Busy) continue;
        Pool->Connections.erase(std::remove_if(Pool->Connections.begin(), Pool->Connections.end(),
                                               [&Key](const std::unique_ptr<WebGetPoolConnection> &Connection) {
                                                   return Connection->Key == Key;
                                               }),
                                Pool->Connections.end());
        return true;
    }
    return false;
}

bool IsWaiting(const WebGetPoolConnection *Connection, float64 Now) {
    return Connection->Current != nullptr && Connection->Phase != State::Idle &&
           Now - Connection->LastActivity >= WaitingSeconds;
}

// Starts queued requests on idle or new connections, in queue order.
void Dispatch() {
    const float64 Now = Time_GetCurrent();
    for (auto It = Pool->Queue.begin(); It != Pool->Queue.end();) {
        WebGetRequest *Request = *It;
        std::string Host, Path;
        int32 Port = 0;
        if (!WebGetRequestInt_SplitURL(Request->Url, &Host, &Port, &Path)) {
            It = Pool->Queue.erase(It);
            Log_Error("Malformed url (%s)\n", WebGetRequestInt_Shown(Request).c_str());
            WebGetRequestInt_Finish(Request, WEBGET_ERROR_CONNECT, EINVAL, WEBGET_TEXT_MALFORMED_URL);
            WebGetRequest_Release(&Request);
            continue;
        }
        std::string Key = HostKey(Host, Port);
        WebGetPoolConnection *Chosen = nullptr;
        int32 HostConnections = 0;
        std::vector<std::string> Hosts;
        for (auto &Connection : Pool->Connections) {
            if (!IsWaiting(Connection.get(), Now) && std::find(Hosts.begin(), Hosts.end(), Connection->Key) == Hosts.end())
                Hosts.push_back(Connection->Key);
            if (Connection->Key != Key) continue;
            HostConnections++;
            if (Chosen == nullptr && Connection->Phase == State::Idle && Connection->Current == nullptr)
                Chosen = Connection.get();
        }
        if (Chosen == nullptr) {
            const bool HostActive = std::find_if(Pool->Connections.begin(), Pool->Connections.end(), [&Key](auto &Held) {
                                        return Held->Key == Key;
                                    }) != Pool->Connections.end();
            if (HostConnections >= Pool->MaxHostConnections) {
                ++It;
                continue;
            }
            if (!HostActive && (int32)Hosts.size() >= Pool->MaxHosts) {
                // Look again once an idle host has given its slot up. Hosts
                // that trickle hold theirs: the wait for one is the fetch's
                // own, bounded by its time-out as a connection would be.
                if (DropIdleHost(Key)) continue;
                if (Now - Request->QueuedAt < Request->Timeout) {
                    ++It;
                    continue;
                }
                It = Pool->Queue.erase(It);
                Log_Error("Request timed out after %d s waiting for one of the pool's %d hosts (%s)\n", Request->Timeout,
                          Pool->MaxHosts, WebGetRequestInt_Shown(Request).c_str());
                const std::string Why = "no connection within " + std::to_string(Request->Timeout) + " s: the pool's " +
                                        std::to_string(Pool->MaxHosts) + " hosts were all busy";
                WebGetRequestInt_Finish(Request, WEBGET_ERROR_TIMEOUT, 0, nullptr, Why.c_str());
                WebGetRequest_Release(&Request);
                continue;
            }
            auto Connection = std::make_unique<WebGetPoolConnection>();
            Connection->Key = Key;
            Connection->Host = Host;
            Connection->Port = Port;
            int32 Error = 0;
            if (!Socket_Connect(Host.c_str(), Port, &Connection->Fd, &Error)) {
                It = Pool->Queue.erase(It);
                Log_Error("Unable to connect (%s) [%d]\n", Key.c_str(), Error);
                WebGetRequestInt_Finish(Request, WEBGET_ERROR_CONNECT, Error);
                WebGetRequest_Release(&Request);
                if (ErrorReporter != nullptr) ErrorReporter(Host.c_str(), Port, WEBGET_ERROR_CONNECT, Error);
                continue;
            }
            Connection->Phase = State::Connecting;
            Chosen = Connection.get();
            Pool->Connections.push_back(std::move(Connection));
        } else {
            Chosen->Phase = State::Sending;
        }
        It = Pool->Queue.erase(It);
        AssignInt(Chosen, Request, Path);
    }
}

} // namespace

void WebGetPoolInt_Assign(WebGetPoolConnection *Connection, WebGetRequest *Request, const std::string &Path) {
    AssignInt(Connection, Request, Path);
}
void WebGetPoolInt_Step(WebGetPoolConnection *Connection) { StepInt(Connection); }
bool WebGetPoolInt_IdleExpired(WebGetPoolConnection *Connection, float64 Limit) {
    return IdleExpiredInt(Connection, Limit);
}

int32 WebGetPool_Init(void) {
    if (Pool != nullptr) return FALSE;
    Pool = new PoolRecord();
    return TRUE;
}

int32 WebGetPool_Remove(void) {
    if (Pool == nullptr) return TRUE;
    for (WebGetRequest *Request : Pool->Queue) {
        WebGetRequestInt_Finish(Request, WEBGET_ERROR_USERABORT, 0);
        WebGetRequest_Release(&Request);
    }
    for (auto &Connection : Pool->Connections) FinishCurrent(Connection.get(), WEBGET_ERROR_USERABORT, 0);
    delete Pool;
    Pool = nullptr;
    return TRUE;
}

int32 WebGetPool_Process(void) {
    if (Pool == nullptr) return FALSE;
    std::vector<WebGetRequest *> Retry;
    for (auto &Connection : Pool->Connections) {
        if (Connection->Current == nullptr) continue;
        WebGetRequest *Request = Connection->Current;
        WebGetRequest_AddRef(Request);
        StepInt(Connection.get());
        // A reused connection the peer had closed: the request goes again on
        // a fresh one (FailConnection with -1 marks it).
        if (Request->Phase == WEBGETREQUEST_PHASE_DONE && Request->Error == -1) {
            Request->Phase = WEBGETREQUEST_PHASE_QUEUED;
            Request->Error = 0;
            Request->Status = 0;
            Request->SinkFailure.clear();
            Request->Body.clear();
            Retry.push_back(WebGetRequest_AddRef(Request));
        }
        WebGetRequest_Release(&Request);
    }
    for (auto It = Retry.rbegin(); It != Retry.rend(); ++It) {
        (*It)->QueuedAt = Time_GetCurrent();
        Pool->Queue.push_front(*It);
    }
    Pool->Connections.erase(std::remove_if(Pool->Connections.begin(), Pool->Connections.end(),
                                           [](const std::unique_ptr<WebGetPoolConnection> &Connection) {
                                               if (Connection->Current != nullptr) return false;
                                               return Connection->Phase != State::Idle || IdleExpiredInt(Connection.get(), IdleSeconds);
                                           }),
                            Pool->Connections.end());
    Dispatch();
    return TRUE;
}

int32 WebGetPool_RequestAdd(WebGetRequest *Request) {
    Class_CheckHandle(Request, WEBGETREQUEST_CLASSID);
    if (Pool == nullptr) return FALSE;
    if (Request->Phase == WEBGETREQUEST_PHASE_QUEUED || Request->Phase == WEBGETREQUEST_PHASE_RUNNING) return FALSE;
    Request->Phase = WEBGETREQUEST_PHASE_QUEUED;
    Request->Error = Request->SubCode = Request->Status = 0;
    Request->SinkFailure.clear();
    Request->Body.clear();
    Request->ResponseHeaders.clear();
    WebGetRequest_AddRef(Request);
    if (Pool->Stopped) {
        // The program is ending: nothing new goes out.
        WebGetRequestInt_Finish(Request, WEBGET_ERROR_USERABORT, 0);
        WebGetRequest_Release(&Request);
        return TRUE;
    }
    char Redirected[WEBGET_URL_SIZE];
    if (WebGet_RedirectApply(Request->Url.c_str(), Redirected, (int32)sizeof(Redirected))) Request->Url = Redirected;
    if (URL_CompareProtocol(Request->Url.c_str(), "https")) {
        // There is no TLS client: the attempt fails at once, never silently,
        // and says that no retry can help.
        Log_Error(WEBGET_TEXT_NO_TLS " (%s)\n", WebGetRequestInt_Shown(Request).c_str());
        WebGetRequestInt_Finish(Request, WEBGET_ERROR_CONNECT, 0, WEBGET_TEXT_NO_TLS);
        WebGetRequest_Release(&Request);
        return TRUE;
    }
    Request->QueuedAt = Time_GetCurrent();
    Pool->Queue.push_back(Request);
    return TRUE;
}

int32 WebGetPool_RequestRemove(WebGetRequest *Request) {
    Class_CheckHandle(Request, WEBGETREQUEST_CLASSID);
    if (Pool == nullptr) return FALSE;
    auto Queued = std::find(Pool->Queue.begin(), Pool->Queue.end(), Request);
    if (Queued != Pool->Queue.end()) {
        Pool->Queue.erase(Queued);
        WebGetRequestInt_Finish(Request, WEBGET_ERROR_USERABORT, 0);
        WebGetRequest_Release(&Request);
        return TRUE;
    }
    for (auto &Connection : Pool->Connections)
        if (Connection->Current == Request) {
            // The response is cut short, so the connection cannot be reused.
            Socket_Close(&Connection->Fd);
            FinishCurrent(Connection.get(), WEBGET_ERROR_USERABORT, 0);
            return TRUE;
        }
    return FALSE;
}

int32 WebGetPool_Stop(void) {
    if (Pool == nullptr) return FALSE;
    Pool->Stopped = true;
    std::deque<WebGetRequest *> Queued;
    Queued.swap(Pool->Queue);
    for (WebGetRequest *Request : Queued) {
        WebGetRequestInt_Finish(Request, WEBGET_ERROR_USERABORT, 0);
        WebGetRequest_Release(&Request);
    }
    for (auto &Connection : Pool->Connections)
        if (Connection->Current != nullptr) {
            Socket_Close(&Connection->Fd);
            FinishCurrent(Connection.get(), WEBGET_ERROR_USERABORT, 0);
        }
    return TRUE;
}

int32 WebGetPool_IsStopped(void) { return Pool != nullptr && Pool->Stopped; }

int32 WebGetPool_SetMaxHostCount(int32 Count) {
    if (Pool == nullptr || Count < 1) return FALSE;
    Pool->MaxHosts = Count;
    return TRUE;
}

int32 WebGetPool_SetMaxHostConnectionCount(int32 Count) {
    if (Pool == nullptr || Count < 1) return FALSE;
    Pool->MaxHostConnections = Count;
    return TRUE;
}

int32 WebGetPool_SetErrorCallback(WebGetPool_ErrorFunc Function) {
    ErrorReporter = Function;
    return TRUE;
}

int32 WebGet_ErrorFilter(const char *Address, int32 Port) {
    Debug_CheckPointer(Address);
    std::string Key = std::string(Address) + ":" + std::to_string(Port);
    float64 Now = Time_GetCurrent();
    std::lock_guard<std::mutex> Guard(FilterLock);
    auto It = Reported.find(Key);
    if (It != Reported.end() && Now - It->second < ErrorHoldOff) return FALSE;
    Reported[Key] = Now;
    return TRUE;
}

namespace {
std::atomic<int32> AllowAuthentication{1};
std::atomic<void *> DefaultStore{nullptr};
} // namespace

int32 WebGet_SetAllowAuthentication(int32 Flag) {
    AllowAuthentication.store(Flag != 0);
    return TRUE;
}

int32 WebGet_GetAllowAuthentication(void) { return AllowAuthentication.load(); }

int32 WebGet_CertStoreSetDefaultHandle(void *Store) {
    DefaultStore.store(Store);
    return TRUE;
}

void *WebGet_CertStoreGetDefaultHandle(void) { return DefaultStore.load(); }

int32 WebGetPool_GetConnectionCount(void) { return Pool != nullptr ? (int32)Pool->Connections.size() : 0; }
