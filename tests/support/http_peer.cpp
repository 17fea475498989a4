// Local HTTP peers (see http_peer.h).
#include "tests/support/http_peer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

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
    ASSERT_EQ(pipe(In), 0);
    ASSERT_EQ(pipe(Out), 0);
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
    // "PORT n" from the scripted peer; http.server prints
    // "Serving HTTP on 127.0.0.1 port n (...)".
    FILE *Reader = fdopen(Out[0], "r");
    char Line[512];
    while (fgets(Line, sizeof(Line), Reader) != nullptr) {
        const char *At = ReadsPortLine ? strstr(Line, "PORT ") : strstr(Line, " port ");
        if (At != nullptr) {
            PortNumber = atoi(At + (ReadsPortLine ? 5 : 6));
            break;
        }
    }
    fclose(Reader);
    ASSERT_GT(PortNumber, 0) << "peer did not report its port";
}

HttpPeer::~HttpPeer() {
    if (Input >= 0) close(Input);
    if (Pid > 0) {
        kill(Pid, SIGTERM);
        waitpid(Pid, nullptr, 0);
    }
}

std::string HttpPeer::Url(const std::string &Path) const {
    return "http://127.0.0.1:" + std::to_string(PortNumber) + Path;
}

int RefusingPort() {
    int Fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(Fd, reinterpret_cast<sockaddr *>(&Address), sizeof(Address));
    socklen_t Length = sizeof(Address);
    getsockname(Fd, reinterpret_cast<sockaddr *>(&Address), &Length);
    close(Fd);
    return ntohs(Address.sin_port);
}
