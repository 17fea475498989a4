// The loopback HTTP pieces and the notification end point, in one run:
// keep-alive GETs from our persistent client connection to our server, and
// the same client against Python's ThreadingHTTPServer (HTTP/1.1, the same
// 5-byte body); notifications per second from one end point to another, and
// the round trip parent -> worker -> parent (a Ping re-fired by the
// receiver, answered with a Pong that comes back).
#include <benchmark/benchmark.h>
#include <signal.h>
#include <stdio.h>

#include <string>

#include "runtime/debug.h"
#include "runtime/event_queue.h"
#include "runtime/notification/notification_center.h"
#include "runtime/thread.h"
#include "net/web_get_connection.h"
#include "net/web_get_request.h"
#include "net/web_server.h"
#include "content/content_register.h"
#include "crypto/crypto_register.h"
#include "net/net_register.h"
#include "platform/platform_register.h"
#include "workflow/notification_end_point.h"
#include "workflow/workflow_run.h"

namespace {

int32 Quiet(const char *) { return 1; }

struct Runtime {
    Runtime() {
        Crypto_Register();
        PlatformServices_Register();
        Content_Register();
        Net_Register();
        Debug_Init("/tmp/end-point-bench.log", nullptr, DEBUG_FLAG_EXTERNALPRINT);
        Debug_PrintCallback(Quiet);
        Thread_Init();
        EventQueue_Init();
        NotificationCenter_Init();
    }
    ~Runtime() {
        NotificationCenter_Remove();
        EventQueue_Remove();
        Thread_Remove();
        Debug_Remove();
    }
};

int32 Answer(void *, WebServer *Server, WebServerConnection *Connection) {
    WebServer_ConnectionSetResponse(Server, Connection, 200, 5);
    return TRUE;
}
int32 Body(void *, WebServer *Server, WebServerConnection *Connection, int32) {
    WebServer_ConnectionResponseWrite(Server, Connection, "hello", 5);
    return TRUE;
}

// Keep-alive GETs on one connection; Server null means the peer runs apart.
void RunGets(benchmark::State &State, const std::string &Url, WebServer *Server) {
    WebGetConnection *Connection = nullptr;
    WebGetConnection_Create(&Connection);
    WebGetRequest *Request = nullptr;
    WebGetRequest_Create(&Request);
    WebGetRequest_SetAllowCompressedContent(Request, 0);
    for (auto _ : State) {
        WebGetRequest_Reset(Request);
        WebGetRequest_SetURL(Request, Url.c_str());
        WebGetConnection_RequestAdd(Connection, Request);
        while (!WebGetRequest_IsDone(Request)) {
            WebGetConnection_Process(Connection);
            if (Server != nullptr) WebServer_Process(Server);
        }
        int32 Error = 0, SubCode = 0;
        WebGetRequest_GetError(Request, &Error, &SubCode);
        if (Error != 0) {
            State.SkipWithError("request failed");
            break;
        }
    }
    State.SetItemsProcessed(State.iterations());
    WebGetRequest_Release(&Request);
    WebGetConnection_Release(&Connection);
}

void BM_KeepAliveGet_OurServer(benchmark::State &State) {
    Runtime Scope;
    WebServer *Server = nullptr;
    WebServer_Create(&Server);
    WebServer_SetConnectionResponseHeaderCallback(Server, nullptr, Answer);
    WebServer_SetConnectionResponseBodyCallback(Server, nullptr, Body);
    WebServer_Start(Server);
    int32 Port = 0;
    WebServer_GetActiveListenPort(Server, &Port);
    RunGets(State, "http://127.0.0.1:" + std::to_string(Port) + "/b", Server);
    WebServer_Release(&Server);
}
BENCHMARK(BM_KeepAliveGet_OurServer)->UseRealTime();

void BM_KeepAliveGet_PythonThreadingHTTPServer(benchmark::State &State) {
    Runtime Scope;
    FILE *Peer = popen("python3 -c '"
                       "import http.server as H, sys\n"
                       "class R(H.BaseHTTPRequestHandler):\n"
                       "    protocol_version = \"HTTP/1.1\"\n"
                       "    disable_nagle_algorithm = True\n"
                       "    wbufsize = 65536\n"
                       "    def do_GET(self):\n"
                       "        self.send_response(200); self.send_header(\"Content-Length\", \"5\"); self.end_headers()\n"
                       "        self.wfile.write(b\"hello\")\n"
                       "    def log_message(self, *a): pass\n"
                       "s = H.ThreadingHTTPServer((\"127.0.0.1\", 0), R)\n"
                       "print(s.server_address[1], flush=True)\n"
                       "s.serve_forever()' & echo $!",
                       "r");
    int Port = 0, Pid = 0;
    if (Peer == nullptr || fscanf(Peer, "%d %d", &Pid, &Port) != 2) {
        State.SkipWithError("no Python peer");
        return;
    }
    RunGets(State, "http://127.0.0.1:" + std::to_string(Port) + "/b", nullptr);
    kill(Pid, SIGTERM);
    pclose(Peer);
}
BENCHMARK(BM_KeepAliveGet_PythonThreadingHTTPServer)->UseRealTime();

struct Pair {
    NotificationEndPoint *Parent = nullptr, *Worker = nullptr;
    int Received = 0, Pongs = 0;
    Pair() {
        // Benchmarks run as root: neither end may filter as an elevated one.
        WorkflowRun_SetElevatedOverride(0);
        NotificationEndPoint_Create(&Parent);
        NotificationEndPoint_Create(&Worker);
        NotificationEndPoint_Start(Parent);
        NotificationEndPoint_Start(Worker);
        char Url[128];
        NotificationEndPoint_GetWebServerURL(Parent, TRUE, Url, (int32)sizeof(Url));
        NotificationEndPoint_AddEndPoint(Worker, Url);
        for (int Round = 0; Round < 100000 && !(NotificationEndPoint_IsConnected(Parent) &&
                                                 NotificationEndPoint_IsConnected(Worker));
             Round++)
            Tick();
    }
    ~Pair() {
        NotificationEndPoint_Release(&Worker);
        NotificationEndPoint_Release(&Parent);
    }
    void Tick() {
        EventQueue_Flush(nullptr);
        NotificationCenter_Process();
        NotificationEndPoint_Process(Parent);
        NotificationEndPoint_Process(Worker);
    }
};

bool IsRemote(Dictionary *Info) {
    uint32 Flag = 0;
    return Info != nullptr && Dictionary_GetBooleanByKey(Info, "isRemote", &Flag) && Flag;
}

int32 OnNote(void *User, const char *, const char *, const char *, Dictionary *Info) {
    if (IsRemote(Info)) static_cast<Pair *>(User)->Received++;
    return TRUE;
}

// Every notification of the process crosses both streams, so each fire
// arrives twice (once per direction).
void BM_EndPointNotificationsPerSecond(benchmark::State &State) {
    Runtime Scope;
    Pair Ends;
    NotificationCenter_AddObserver("Bench", "Note", &Ends, OnNote);
    const int Batch = 100;
    for (auto _ : State) {
        Ends.Received = 0;
        for (int K = 0; K < Batch; K++) NotificationCenter_FireWithJSON("Bench", "Note", nullptr, "{\"n\":%d}", K);
        while (Ends.Received < 2 * Batch) Ends.Tick();
    }
    State.SetItemsProcessed(State.iterations() * Batch);
    NotificationCenter_RemoveObserver("Bench", "Note", &Ends, OnNote);
}
BENCHMARK(BM_EndPointNotificationsPerSecond)->UseRealTime();

int32 OnPing(void *User, const char *, const char *, const char *, Dictionary *Info) {
    // The first remote copy of a Ping is answered once.
    Pair *Ends = static_cast<Pair *>(User);
    if (IsRemote(Info) && Ends->Received++ == 0) NotificationCenter_Fire("Bench", "Pong", nullptr, nullptr);
    return TRUE;
}
int32 OnPong(void *User, const char *, const char *, const char *, Dictionary *Info) {
    if (IsRemote(Info)) static_cast<Pair *>(User)->Pongs++;
    return TRUE;
}

void BM_EndPointRoundTrip(benchmark::State &State) {
    Runtime Scope;
    Pair Ends;
    NotificationCenter_AddObserver("Bench", "Ping", &Ends, OnPing);
    NotificationCenter_AddObserver("Bench", "Pong", &Ends, OnPong);
    for (auto _ : State) {
        Ends.Received = Ends.Pongs = 0;
        NotificationCenter_Fire("Bench", "Ping", nullptr, nullptr);
        while (Ends.Pongs == 0) Ends.Tick();
        // Let the second copies drain before the next round.
        State.PauseTiming();
        for (int K = 0; K < 20; K++) Ends.Tick();
        State.ResumeTiming();
    }
    NotificationCenter_RemoveObserver("Bench", "Ping", &Ends, OnPing);
    NotificationCenter_RemoveObserver("Bench", "Pong", &Ends, OnPong);
}
BENCHMARK(BM_EndPointRoundTrip)->UseRealTime();

} // namespace
