// Network facts: name servers against /etc/resolv.conf, adapters against
// `ip -j addr`, the default gateway in a network namespace made by the test,
// the owner of a TCP endpoint against a Python listener, and the parsers of
// the system files.
#include <arpa/inet.h>
#include <signal.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "runtime/posix/platform.h"
#include "tests/support/log_capture.h"
#include "tests/support/python.h"
#include "tests/support/requirement.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

std::string Adapters() {
    std::string Text;
    PlatformAdapter Adapter;
    for (int32 Index = 0; Platform_GetAdapterByIndex(Index, 0, &Adapter); Index++) {
        char Hardware[32];
        const uint8 *B = Adapter.HardwareAddress;
        snprintf(Hardware, sizeof(Hardware), "%02x:%02x:%02x:%02x:%02x:%02x", B[0], B[1], B[2], B[3], B[4], B[5]);
        Text += std::string(Adapter.Name) + " " + Adapter.AddressText + " " + Adapter.MaskText + " " + Hardware + " " +
                std::to_string(Adapter.Up) + std::to_string(Adapter.Loopback) + std::to_string(Adapter.Always) +
                std::to_string(Adapter.HasHardwareAddress) + " gw=" + Adapter.GatewayText + "\n";
    }
    return Text;
}

class NetworkTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        Debug_PrintCallback(CaptureLogMirrored);
        Captured.clear();
    }
    void TearDown() override {
        PlatformStandIn_Set("RESOLV_CONF", nullptr);
        RuntimeTest::TearDown();
    }
    TempDirectory Temp;
};

TEST_F(NetworkTest, NameServersOfTheResolverConfiguration) {
    const std::string Expected = RunPython(R"(
import ipaddress
servers = []
for line in open('/etc/resolv.conf'):
    parts = line.split()
    if len(parts) >= 2 and parts[0] == 'nameserver':
        try:
            servers.append(str(ipaddress.IPv4Address(parts[1])))
        except ValueError:
            pass
print(' '.join((servers + ['', ''])[:2]) if servers else 'none')
)");
    char Primary[48], Secondary[48];
    if (Expected != "none\n") {
        ASSERT_EQ(Platform_GetDNS(Primary, Secondary), 1);
        EXPECT_EQ(std::string(Primary) + " " + Secondary + "\n", Expected);
    }
    // Steered: IPv6 servers are skipped, blanks and comments ignored.
    std::ofstream(Temp / "resolv") << "# comment\nsearch example\nnameserver ::1\nnameserver 10.0.0.1\n"
                                      "  nameserver\t10.0.0.2  \nnameserver 10.0.0.3\nnameserver 300.1.1.1\n";
    PlatformStandIn_Set("RESOLV_CONF", (Temp / "resolv").c_str());
    ASSERT_EQ(Platform_GetDNS(Primary, Secondary), 1);
    EXPECT_STREQ(Primary, "10.0.0.1");
    EXPECT_STREQ(Secondary, "10.0.0.2");
    std::ofstream(Temp / "resolv") << "nameserver 192.168.7.7\n";
    ASSERT_EQ(Platform_GetDNS(Primary, Secondary), 1);
    EXPECT_STREQ(Primary, "192.168.7.7");
    EXPECT_STREQ(Secondary, "");
    std::ofstream(Temp / "resolv") << "options rotate\n";
    EXPECT_EQ(Platform_GetDNS(Primary, Secondary), 0);
}

TEST_F(NetworkTest, AdaptersMatchIpAddr) {
    SKIP_UNLESS(HaveCommand("ip"), "ip (iproute2) is not installed");
    const std::string Expected = RunPython(R"(
import ipaddress, json, subprocess
links = {l['ifname']: l for l in json.loads(subprocess.run(['ip', '-j', 'link'], capture_output=True, text=True).stdout)}
for entry in json.loads(subprocess.run(['ip', '-j', 'addr'], capture_output=True, text=True).stdout):
    link = links[entry['ifname']]
    mac = link.get('address', '00:00:00:00:00:00')
    if len(mac.split(':')) != 6: mac = '00:00:00:00:00:00'
    for info in entry.get('addr_info', []):
        if info['family'] != 'inet': continue
        mask = ipaddress.IPv4Network('0.0.0.0/%d' % info['prefixlen']).netmask
        up = 'UP' in entry['flags']
        loop = 'LOOPBACK' in entry['flags']
        name = info.get('label', entry['ifname'])
        print('%s %s %s %s %d%d1%d gw=' % (name, info['local'], mask, mac, up, loop, mac != '00:00:00:00:00:00'))
)");
    std::string Ours = Adapters();
    // Gateways are checked in their own namespace; here only the rest.
    std::string Stripped;
    for (size_t Start = 0; Start < Ours.size();) {
        size_t End = Ours.find('\n', Start);
        std::string Line = Ours.substr(Start, End - Start);
        Stripped += Line.substr(0, Line.find(" gw=")) + " gw=\n";
        Start = End + 1;
    }
    EXPECT_EQ(Stripped, Expected);
    PlatformAdapter Adapter;
    EXPECT_EQ(Platform_GetAdapterByIndex(0, 1, &Adapter), 0); // kinds above 0
    EXPECT_EQ(Platform_GetAdapterByIndex(1000, 0, &Adapter), 0);
}

TEST_F(NetworkTest, DISABLED_PrintAdapters) { printf("ADAPTERS\n%sEND\n", Adapters().c_str()); }

TEST_F(NetworkTest, GatewayComesFromTheDefaultRouteInANamespace) {
    const std::string Setup = "ip link add v0 type veth peer name v1 && ip addr add 10.1.2.3/16 dev v0 && "
                              "ip link set v1 up && ip link set v0 up && ip route add default via 10.1.0.1 dev v0";
    const std::string Output =
        CommandOutput("unshare -n sh -c '" + Setup + " && exec " + SelfExecutable() +
                      " --gtest_also_run_disabled_tests --gtest_filter=*DISABLED_PrintAdapters' 2>&1");
    if (Output.find("ADAPTERS") == std::string::npos)
        GTEST_SKIP() << "network namespaces or veth links are not allowed here: " << Output;
    // The broadcast 10.1.255.255 would give "10.1.1" if guessed; the route says 10.1.0.1.
    EXPECT_NE(Output.find("v0 10.1.2.3 255.255.0.0 "), std::string::npos) << Output;
    EXPECT_NE(Output.find(" gw=10.1.0.1\n"), std::string::npos) << Output;
}

TEST_F(NetworkTest, OwnerOfATcpEndpoint) {
    int Listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(Listener, reinterpret_cast<sockaddr *>(&Address), sizeof(Address)), 0);
    ASSERT_EQ(listen(Listener, 1), 0);
    socklen_t Size = sizeof(Address);
    getsockname(Listener, reinterpret_cast<sockaddr *>(&Address), &Size);
    int32 Pid = 0;
    EXPECT_EQ(Platform_GetSocketPID(Address.sin_addr.s_addr, ntohs(Address.sin_port), &Pid), 1);
    EXPECT_EQ(Pid, getpid());
    close(Listener);
    EXPECT_EQ(Platform_GetSocketPID(Address.sin_addr.s_addr, ntohs(Address.sin_port), &Pid), 0);
    EXPECT_EQ(Pid, 0);

    // Another process's listener, against the pid Python reports.
    FILE *Child = popen((std::string(RUNTIME_PYTHON) + " -c \"import os,socket,time\n"
                         "s=socket.socket(); s.bind(('127.0.0.1',0)); s.listen(); "
                         "print(os.getpid(), s.getsockname()[1], flush=True); time.sleep(60)\"")
                            .c_str(),
                        "r");
    ASSERT_NE(Child, nullptr);
    int ChildPid = 0, Port = 0;
    ASSERT_EQ(fscanf(Child, "%d %d", &ChildPid, &Port), 2);
    EXPECT_EQ(Platform_GetSocketPID(htonl(INADDR_LOOPBACK), Port, &Pid), 1);
    EXPECT_EQ(Pid, ChildPid);
    kill(ChildPid, SIGTERM);
    pclose(Child);
}

TEST(NetworkParsers, RoutesAndSockets) {
    const std::string Routes =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
        "eth0\t0000010A\t00000000\t0001\t0\t0\t0\t0000FFFF\t0\t0\t0\n"
        "eth1\t00000000\t0100000A\t0001\t0\t0\t0\t00000000\t0\t0\t0\n"  // not through a gateway
        "eth0\t00000000\t0100010A\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
        "eth0\t00000000\t0200010A\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"; // the first default wins
    EXPECT_EQ(PlatformNetwork_DefaultGateway(Routes, "eth0"), inet_addr("10.1.0.1"));
    EXPECT_EQ(PlatformNetwork_DefaultGateway(Routes, "eth1"), 0u);
    EXPECT_EQ(PlatformNetwork_DefaultGateway("eth0 zz", "eth0"), 0u);
    const std::string Tcp =
        "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
        "   0: 0100007F:1F90 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 12345 1\n"
        "   1: 00000000:0016 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 99x 1\n";
    EXPECT_EQ(PlatformNetwork_TcpInode(Tcp, inet_addr("127.0.0.1"), 8080), 12345u);
    EXPECT_EQ(PlatformNetwork_TcpInode(Tcp, 0, 22), 0u); // a broken inode field
    EXPECT_EQ(PlatformNetwork_TcpInode(Tcp, inet_addr("127.0.0.1"), 8081), 0u);
}

// Owners of both ends of real loopback connections, with the other end held
// by user 65534 (setpriv): its dual-stack listener and its IPv4 and IPv6
// (mapped) connections to ours; our own pair answers root, also with an
// IPv6-only listener of that user on our port.
TEST(NetworkSockets, OwnersOfLoopbackConnections) {
    SKIP_UNLESS_RUN(RunAsRoot(), "dropping to another user needs root");
    auto Listen = [] {
        int Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in Address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        EXPECT_EQ(bind(Fd, reinterpret_cast<sockaddr *>(&Address), sizeof(Address)), 0);
        EXPECT_EQ(listen(Fd, 4), 0);
        return Fd;
    };
    auto Port = [](int Fd) {
        sockaddr_in Address{};
        socklen_t Size = sizeof(Address);
        getsockname(Fd, reinterpret_cast<sockaddr *>(&Address), &Size);
        return (int)ntohs(Address.sin_port);
    };
    auto Connect = [](int To) {
        int Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in Address{AF_INET, htons((uint16_t)To), {htonl(INADDR_LOOPBACK)}, {}};
        EXPECT_EQ(connect(Fd, reinterpret_cast<sockaddr *>(&Address), sizeof(Address)), 0);
        return Fd;
    };
    int Ours = Listen();
    const std::string Script =
        "import socket, sys\n"
        "l = socket.socket(socket.AF_INET6); l.bind(('::', 0)); l.listen(1)\n"
        // Beside our IPv4 listener, one that can never take an IPv4 connection.
        "v = socket.socket(socket.AF_INET6); v.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 1)\n"
        "v.bind(('::', " + std::to_string(Port(Ours)) + ")); v.listen(1)\n"
        "a = socket.create_connection(('127.0.0.1', " + std::to_string(Port(Ours)) + "))\n"
        "b = socket.socket(socket.AF_INET6); b.connect(('::ffff:127.0.0.1', " + std::to_string(Port(Ours)) + "))\n"
        "print(l.getsockname()[1], flush=True)\n"
        "l.accept()[0].recv(1)\n";
    FILE *Other = popen(("setpriv --reuid=65534 --regid=65534 --clear-groups /usr/bin/python3 -c \"" + Script +
                         "\"").c_str(), "r");
    ASSERT_NE(Other, nullptr);
    int TheirPort = 0;
    ASSERT_EQ(fscanf(Other, "%d", &TheirPort), 1);
    int FromThem4 = accept(Ours, nullptr, nullptr), FromThem6 = accept(Ours, nullptr, nullptr);
    int ToThem = Connect(TheirPort), ToUs = Connect(Port(Ours)), FromUs = accept(Ours, nullptr, nullptr);
    // From our side of a connection we made, the owner is the listener's.
    struct Case {
        int Fd;
        int32 Found;
        uint32 Uid;
    } Cases[] = {{FromThem4, 1, 65534}, {FromThem6, 1, 65534}, {ToThem, 1, 65534},
                 {ToUs, 1, 0},          {FromUs, 1, 0},        {Ours, 0, 0}};
    for (const Case &Each : Cases) {
        uint32 Uid = 12345;
        EXPECT_EQ(Platform_GetTcpPeerUid(Each.Fd, &Uid), Each.Found) << &Each - Cases;
        EXPECT_EQ(Uid, Each.Uid) << &Each - Cases;
    }
    for (int Fd : {FromThem4, FromThem6, ToThem, ToUs, FromUs, Ours}) close(Fd);
    EXPECT_EQ(pclose(Other), 0);
}

// The owners come from the kernel's answer about each socket, not from the
// socket tables: a process that has no /proc (an empty folder mounted over
// it) still names them, for IPv4 and IPv6 connections of a user made
// by a child that changed its uid (accepted and not yet accepted ones), and
// for our own pair. The other user's socket is one among a few hundred.
TEST(NetworkSockets, OwnersWithoutTheSocketTables) {
    SKIP_UNLESS_RUN(RunAsRoot(), "making sockets as another user needs root");
    auto Address = [](int Family, int Port) {
        sockaddr_storage Storage{};
        if (Family == AF_INET) {
            auto *Four = reinterpret_cast<sockaddr_in *>(&Storage);
            *Four = {AF_INET, htons((uint16_t)Port), {htonl(INADDR_LOOPBACK)}, {}};
        } else {
            auto *Six = reinterpret_cast<sockaddr_in6 *>(&Storage);
            Six->sin6_family = AF_INET6;
            Six->sin6_port = htons((uint16_t)Port);
            Six->sin6_addr = in6addr_loopback;
        }
        return Storage;
    };
    auto Listen = [&](int Family) {
        int Fd = socket(Family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_storage Storage = Address(Family, 0);
        if (bind(Fd, reinterpret_cast<sockaddr *>(&Storage), sizeof(Storage)) != 0 || listen(Fd, 512) != 0) return -1;
        return Fd;
    };
    auto Port = [](int Fd) {
        sockaddr_in6 Storage{};
        socklen_t Size = sizeof(Storage);
        getsockname(Fd, reinterpret_cast<sockaddr *>(&Storage), &Size);
        return (int)ntohs(Storage.sin6_port); // at the same place in both families
    };
    auto Connect = [&](int Family, int To) {
        int Fd = socket(Family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_storage Storage = Address(Family, To);
        return connect(Fd, reinterpret_cast<sockaddr *>(&Storage), sizeof(Storage)) == 0 ? Fd : -1;
    };
    const int Ours4 = Listen(AF_INET), Ours6 = Listen(AF_INET6);
    ASSERT_GE(Ours4, 0);
    ASSERT_GE(Ours6, 0);
    int Ports[2], Done[2];
    ASSERT_EQ(pipe(Ports), 0);
    ASSERT_EQ(pipe(Done), 0);
    const pid_t Other = fork();
    if (Other == 0) {
        // User 65534: connections to ours, then listeners of its own (one
        // accepts, one never does), and a crowd of its own pairs.
        close(Ports[0]);
        close(Done[1]);
        if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0) _exit(2);
        std::vector<int> Held = {Connect(AF_INET, Port(Ours4)), Connect(AF_INET6, Port(Ours6))};
        const int Taking = Listen(AF_INET6), Waiting = Listen(AF_INET), Crowd = Listen(AF_INET);
        for (int Pair = 0; Pair < 200; Pair++) Held.push_back(Connect(AF_INET, Port(Crowd)));
        int Sent[2] = {Port(Taking), Port(Waiting)};
        if (write(Ports[1], Sent, sizeof(Sent)) != (ssize_t)sizeof(Sent)) _exit(3);
        Held.push_back(accept(Taking, nullptr, nullptr));
        char Byte;
        while (read(Done[0], &Byte, 1) > 0) {}
        _exit(0);
    }
    close(Ports[1]);
    close(Done[0]);
    int Theirs[2] = {};
    ASSERT_EQ(read(Ports[0], Theirs, sizeof(Theirs)), (ssize_t)sizeof(Theirs));
    const int FromThem4 = accept(Ours4, nullptr, nullptr), FromThem6 = accept(Ours6, nullptr, nullptr);
    const int ToThem6 = Connect(AF_INET6, Theirs[0]), ToThemUnaccepted = Connect(AF_INET, Theirs[1]);
    const int ToUs = Connect(AF_INET6, Port(Ours6)), FromUs = accept(Ours6, nullptr, nullptr);
    // Root's, not accepted yet: its listener answers (also where the kernel
    // shows every such connection as root's).
    const int ToUsUnaccepted = Connect(AF_INET, Port(Ours4));
    struct Case {
        int Fd;
        int32 Found;
        uint32 Uid;
    } Cases[] = {{FromThem4, 1, 65534}, {FromThem6, 1, 65534}, {ToThem6, 1, 65534}, {ToThemUnaccepted, 1, 65534},
                 {ToUs, 1, 0},          {FromUs, 1, 0},        {ToUsUnaccepted, 1, 0}, {Ours4, 0, 0}};
    // The answers of a process whose socket tables read empty.
    int Answers[2];
    ASSERT_EQ(pipe(Answers), 0);
    const pid_t Asker = fork();
    if (Asker == 0) {
        close(Answers[0]);
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("none", "/proc", "tmpfs", 0, nullptr) != 0)
            _exit(4);
        if (access("/proc/net/tcp", F_OK) == 0) _exit(5);
        for (const Case &Each : Cases) {
            uint32 Answer[2] = {0, 12345};
            Answer[0] = (uint32)Platform_GetTcpPeerUid(Each.Fd, &Answer[1]);
            if (write(Answers[1], Answer, sizeof(Answer)) != (ssize_t)sizeof(Answer)) _exit(6);
        }
        _exit(0);
    }
    close(Answers[1]);
    int Status = 0;
    ASSERT_EQ(waitpid(Asker, &Status, 0), Asker);
    if (WIFEXITED(Status) && WEXITSTATUS(Status) == 4) {
        close(Answers[0]);
        close(Done[1]);
        waitpid(Other, nullptr, 0);
        GTEST_SKIP() << "mount namespaces are not allowed here";
    }
    EXPECT_TRUE(WIFEXITED(Status) && WEXITSTATUS(Status) == 0) << Status;
    for (const Case &Each : Cases) {
        uint32 Answer[2] = {};
        ASSERT_EQ(read(Answers[0], Answer, sizeof(Answer)), (ssize_t)sizeof(Answer));
        EXPECT_EQ((int32)Answer[0], Each.Found) << &Each - Cases;
        EXPECT_EQ(Answer[1], Each.Uid) << &Each - Cases;
    }
    close(Answers[0]);
    close(Done[1]);
    ASSERT_EQ(waitpid(Other, &Status, 0), Other);
    EXPECT_TRUE(WIFEXITED(Status) && WEXITSTATUS(Status) == 0) << Status;
    for (int Fd : {Ours4, Ours6, FromThem4, FromThem6, ToThem6, ToThemUnaccepted, ToUs, FromUs, ToUsUnaccepted})
        close(Fd);
}

} // namespace
