// The owner of the other end of a loopback connection (Platform_GetTcpPeerUid)
// with no other connection on the machine and with 10,000 more held open,
// beside reading the kernel's socket tables once (/proc/net/tcp and tcp6),
// which the owner check used to do for every request it judged: its cost is
// the least the old way paid, and grows with the connections.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "runtime/posix/platform.h"

namespace {

int Listener(int *Port) {
    int Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in Address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t Size = sizeof(Address);
    bind(Fd, reinterpret_cast<sockaddr *>(&Address), sizeof(Address));
    listen(Fd, 4096);
    getsockname(Fd, reinterpret_cast<sockaddr *>(&Address), &Size);
    *Port = ntohs(Address.sin_port);
    return Fd;
}

int Connect(int Port) {
    int Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in Address{AF_INET, htons((uint16_t)Port), {htonl(INADDR_LOOPBACK)}, {}};
    return connect(Fd, reinterpret_cast<sockaddr *>(&Address), sizeof(Address)) == 0 ? Fd : (close(Fd), -1);
}

// The connection whose peer is asked about, and a crowd of others: this
// process holds the accepted ends, a child the connecting ones (each within
// its own descriptor limit).
struct Machine {
    int Asked = -1, AskedPeer = -1;
    pid_t Child = -1;
    std::vector<int> Held;

    Machine() {
        int Port = 0;
        const int Listening = Listener(&Port);
        Asked = Connect(Port);
        AskedPeer = accept(Listening, nullptr, nullptr);
        close(Listening);
    }
    bool Crowd(int Count) {
        rlimit Limit{};
        getrlimit(RLIMIT_NOFILE, &Limit);
        Limit.rlim_cur = Limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &Limit) != 0 || Limit.rlim_cur < (rlim_t)Count + 64) return false;
        int Port = 0;
        const int Listening = Listener(&Port);
        Child = fork();
        if (Child == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            std::vector<int> Ends;
            for (int Each = 0; Each < Count; Each++) Ends.push_back(Connect(Port));
            pause();
            _exit(0);
        }
        while ((int)Held.size() < Count) {
            const int Fd = accept(Listening, nullptr, nullptr);
            if (Fd < 0) break;
            Held.push_back(Fd);
        }
        close(Listening);
        return (int)Held.size() == Count;
    }
    ~Machine() {
        if (Child > 0) {
            kill(Child, SIGTERM);
            waitpid(Child, nullptr, 0);
        }
        for (int Fd : Held) close(Fd);
        close(Asked);
        close(AskedPeer);
    }
};

// The crowd, once made, stays to the end of the program: the quiet cases
// are registered first.
Machine &TheMachine(int Crowd) {
    static Machine Quiet;
    static std::unique_ptr<Machine> Busy;
    if (Crowd == 0) return Quiet;
    if (Busy == nullptr) {
        Busy = std::make_unique<Machine>();
        if (!Busy->Crowd(Crowd)) Busy->Held.clear();
    }
    return *Busy;
}

size_t ReadWhole(const char *Path) {
    const int Fd = open(Path, O_RDONLY | O_CLOEXEC);
    if (Fd < 0) return 0;
    std::string Text(1 << 16, '\0');
    size_t Total = 0;
    for (ssize_t Got; (Got = read(Fd, Text.data(), Text.size())) > 0;) Total += (size_t)Got;
    close(Fd);
    return Total;
}

void BM_PeerOwner(benchmark::State &State) {
    Machine &Here = TheMachine((int)State.range(0));
    if (State.range(0) != 0 && Here.Held.empty()) return State.SkipWithError("the crowd of connections was not made");
    for (auto _ : State) {
        uint32 Uid = 1;
        if (!Platform_GetTcpPeerUid(Here.Asked, &Uid) || Uid != (uint32)geteuid())
            return State.SkipWithError("the owner was not found");
        benchmark::DoNotOptimize(Uid);
    }
}

void BM_ReadSocketTables(benchmark::State &State) {
    Machine &Here = TheMachine((int)State.range(0));
    if (State.range(0) != 0 && Here.Held.empty()) return State.SkipWithError("the crowd of connections was not made");
    size_t Bytes = 0;
    for (auto _ : State) {
        Bytes = ReadWhole("/proc/net/tcp") + ReadWhole("/proc/net/tcp6");
        benchmark::DoNotOptimize(Bytes);
    }
    State.counters["table_bytes"] = (double)Bytes;
}
BENCHMARK(BM_PeerOwner)->Arg(0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadSocketTables)->Arg(0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PeerOwner)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReadSocketTables)->Arg(10000)->Unit(benchmark::kMicrosecond);

} // namespace
