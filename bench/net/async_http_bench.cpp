// Fetching and parsing a 10 MB JSON document from the local peer
// (tests/peers/httppeer.py) through the document loader, beside curl
// fetching the same document to /dev/null, in one run.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "net/async_http.h"
#include "runtime/debug.h"
#include "runtime/thread.h"

extern char **environ;

namespace {

constexpr int32 DocumentBytes = 10 * 1024 * 1024;

int32 Quiet(const char *) { return TRUE; }

// The peer, started once for the program.
struct Peer {
    pid_t Pid = -1;
    int Input = -1;
    int Port = 0;

    Peer() {
        std::string Script = std::string(RUNTIME_SOURCE_DIR) + "/tests/peers/httppeer.py";
        const char *Arguments[] = {"/usr/bin/python3", "-u", Script.c_str(), nullptr};
        int In[2], Out[2];
        if (pipe(In) != 0 || pipe(Out) != 0) return;
        posix_spawn_file_actions_t Actions;
        posix_spawn_file_actions_init(&Actions);
        posix_spawn_file_actions_adddup2(&Actions, In[0], 0);
        posix_spawn_file_actions_adddup2(&Actions, Out[1], 1);
        posix_spawn_file_actions_addclose(&Actions, In[1]);
        posix_spawn_file_actions_addclose(&Actions, Out[0]);
        posix_spawn(&Pid, Arguments[0], &Actions, nullptr, const_cast<char *const *>(Arguments), environ);
        posix_spawn_file_actions_destroy(&Actions);
        close(In[0]);
        close(Out[1]);
        Input = In[1];
        FILE *Reader = fdopen(Out[0], "r");
        char Line[128];
        if (fgets(Line, sizeof(Line), Reader) != nullptr && strncmp(Line, "PORT ", 5) == 0) Port = atoi(Line + 5);
        fclose(Reader);
    }
    ~Peer() {
        if (Input >= 0) close(Input);
        if (Pid > 0) {
            kill(Pid, SIGTERM);
            waitpid(Pid, nullptr, 0);
        }
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(Port) + "/big/" + std::to_string(DocumentBytes); }
};

Peer &TheListener() {
    static Peer Instance;
    return Instance;
}

void BM_LoaderFetchAndParse10MB(benchmark::State &State) {
    Peer &Server = TheListener();
    if (Server.Port == 0) return State.SkipWithError("peer did not start");
    Debug_Init("/tmp/async-http-bench.log", nullptr, DEBUG_FLAG_EXTERNALPRINT);
    Debug_PrintCallback(Quiet);
    Thread_Init();
    WebGetPool_Init();
    AsyncHTTP *Loader = nullptr;
    AsyncHTTP_Create(&Loader);
    std::string Url = Server.Url();
    for (auto _ : State) {
        AsyncHTTP_Reset(Loader);
        AsyncHTTP_Load(Loader, Url.c_str(), 0);
        while (!AsyncHTTP_IsLoadComplete(Loader)) {
            WebGetPool_Process();
            Thread_Wait(1);
        }
        int32 Error = 0, SubCode = 0;
        AsyncHTTP_GetLastError(Loader, &Error, &SubCode);
        if (Error != 0) State.SkipWithError("the load failed");
    }
    State.SetBytesProcessed((int64_t)State.iterations() * DocumentBytes);
    AsyncHTTP_Release(&Loader);
    WebGetPool_Remove();
    Thread_Remove();
    Debug_Remove();
}

// The transfer alone (no parse), to show where the loader's time goes.
void BM_RequestFetchOnly10MB(benchmark::State &State) {
    Peer &Server = TheListener();
    if (Server.Port == 0) return State.SkipWithError("peer did not start");
    Debug_Init("/tmp/async-http-bench.log", nullptr, DEBUG_FLAG_EXTERNALPRINT);
    Debug_PrintCallback(Quiet);
    WebGetPool_Init();
    std::string Url = Server.Url();
    for (auto _ : State) {
        WebGetRequest *Request = nullptr;
        WebGetRequest_Create(&Request);
        WebGetRequest_SetURL(Request, Url.c_str());
        WebGetPool_RequestAdd(Request);
        while (!WebGetRequest_IsDone(Request)) WebGetPool_Process();
        int32 Error = 0, SubCode = 0;
        WebGetRequest_GetError(Request, &Error, &SubCode);
        if (Error != 0) State.SkipWithError("the request failed");
        WebGetRequest_Release(&Request);
    }
    State.SetBytesProcessed((int64_t)State.iterations() * DocumentBytes);
    WebGetPool_Remove();
    Debug_Remove();
}

void BM_Curl10MB(benchmark::State &State) {
    Peer &Server = TheListener();
    if (Server.Port == 0) return State.SkipWithError("peer did not start");
    if (access("/usr/bin/curl", X_OK) != 0) return State.SkipWithError("curl is not installed");
    std::string Command = "/usr/bin/curl -s -o /dev/null " + Server.Url();
    for (auto _ : State)
        if (system(Command.c_str()) != 0) State.SkipWithError("curl failed");
    State.SetBytesProcessed((int64_t)State.iterations() * DocumentBytes);
}

BENCHMARK(BM_LoaderFetchAndParse10MB)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_RequestFetchOnly10MB)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_Curl10MB)->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace
