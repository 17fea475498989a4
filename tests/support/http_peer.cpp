// Local HTTP peers (see http_peer.h).
#include "tests/support/http_peer.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

extern char **environ;

HttpPeer::HttpPeer() {
    std::string Script = std::string(RUNTIME_SOURCE_DIR) + "/tests/peers/httppeer.py";
    const char *Arguments[] = {RUNTIME_PYTHON, "-u", Script.c_str(), nullptr};
    Start(Arguments, true);
}

HttpPeer::HttpPeer(const std::string &Directory) {
    const char *Arguments[] = {RUNTIME_PYTHON,        "-u", "-m", "http.server", "0", "--bind", "127.0.0.1",
                               "--directory", Directory.c_str(), nullptr};
    Start(Arguments, false);
}

void HttpPeer::Start(const char *const *Arguments, bool ReadsPortLine) {
    int In[2], Out[2];
    // Close-on-exec, so that no other child keeps the peer's pipes open.
    ASSERT_EQ(pipe2(In, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(Out, O_CLOEXEC), 0);
    posix_spawn_file_actions_t Actions;
    posix_spawn_file_actions_init(&Actions);
    posix_spawn_file_actions_adddup2(&Actions, In[0], 0);
    posix_spawn_file_actions_adddup2(&Actions, Out[1], 1);
    posix_spawn_file_actions_addclose(&Actions, In[1]);
    posix_spawn_file_actions_addclose(&Actions, Out[0]);
    pid_t Child = -1;
    int Code = posix_spawn(&Child, Arguments[0], &Actions, nullptr, const_cast<char *const *>(Arguments), environ);
    posix_spawn_file_actions_destroy(&Actions);
    close(In[0]);
    close(Out[1]);
    ASSERT_EQ(Code, 0);
    Pid = Child;
    Input = In[1];
    Output = Out[0];
    // "PORT n" from the scripted peer; http.server prints
    // "Serving HTTP on 127.0.0.1 port n (...)".
    std::string Line;
    while (PortNumber == 0 && ReadLine(Line, 30)) {
        size_t At = Line.find(ReadsPortLine ? "PORT " : " port ");
        if (At != std::string::npos) PortNumber = atoi(Line.c_str() + At + (ReadsPortLine ? 5 : 6));
    }
    ASSERT_GT(PortNumber, 0) << "peer did not report its port";
}

bool HttpPeer::ReadLine(std::string &Line, double Seconds) {
    auto Deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(Seconds);
    for (;;) {
        size_t End = Pending.find('\n');
        if (End != std::string::npos) {
            Line = Pending.substr(0, End);
            Pending.erase(0, End + 1);
            return true;
        }
        auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - std::chrono::steady_clock::now());
        if (Left.count() <= 0) return false;
        pollfd Poll{Output, POLLIN, 0};
        int Ready = poll(&Poll, 1, (int)Left.count());
        if (Ready < 0 && errno == EINTR) continue;
        if (Ready <= 0) return false;
        char Buffer[512];
        ssize_t Count = read(Output, Buffer, sizeof(Buffer));
        if (Count <= 0) return false; // the peer ended
        Pending.append(Buffer, (size_t)Count);
    }
}

bool HttpPeer::WaitForLine(const std::string &Wanted, double Seconds) {
    auto Deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(Seconds);
    std::string Line;
    for (;;) {
        double Left = std::chrono::duration<double>(Deadline - std::chrono::steady_clock::now()).count();
        if (Left <= 0 || !ReadLine(Line, Left)) return false;
        if (Line == Wanted) return true;
    }
}

HttpPeer::~HttpPeer() {
    if (Input >= 0) close(Input);
    if (Pid > 0) {
        kill(Pid, SIGTERM);
        waitpid(Pid, nullptr, 0);
    }
    if (Output >= 0) close(Output);
}

std::string HttpPeer::Url(const std::string &Path) const {
    return "http://127.0.0.1:" + std::to_string(PortNumber) + Path;
}

RefusingPort::RefusingPort() { Open(); }

void RefusingPort::Open() {
    Socket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(Socket, 0) << strerror(errno);
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(Socket, reinterpret_cast<sockaddr *>(&Address), sizeof(Address)), 0) << strerror(errno);
    socklen_t Length = sizeof(Address);
    ASSERT_EQ(getsockname(Socket, reinterpret_cast<sockaddr *>(&Address), &Length), 0) << strerror(errno);
    PortNumber = ntohs(Address.sin_port);
}

RefusingPort::~RefusingPort() {
    if (Socket >= 0) close(Socket);
}
