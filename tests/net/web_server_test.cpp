// The loopback server: the request reader on a table of header blocks, raw
// requests from a plain socket (good, malformed, over-long, refused),
// keep-alive GETs from the HTTP client on one connection, requests that drip
// past their deadline, and a newcomer when every slot is taken.
#include "net/web_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/web_get_connection.h"
#include "net/web_get_request.h"
#include "runtime/time.h"
#include "tests/support/runtime.h"

namespace {

struct Served {
    std::string Body = "hello";
    int32 Opened = 0, Closed = 0;
};

int32 OnOpen(void *User, WebServer *, WebServerConnection *) {
    static_cast<Served *>(User)->Opened++;
    return TRUE;
}
int32 OnClose(void *User, WebServer *, WebServerConnection *) {
    static_cast<Served *>(User)->Closed++;
    return TRUE;
}
// "/deny" is refused, everything else answers the body.
int32 OnResponse(void *User, WebServer *Server, WebServerConnection *Connection) {
    std::string Path = WebServer_ConnectionGetFilenamePtr(Server, Connection);
    if (Path == "/deny") {
        WebServer_ConnectionSetResponse(Server, Connection, 403, 0);
        return FALSE;
    }
    WebServer_ConnectionSetResponse(Server, Connection, 200, (int64) static_cast<Served *>(User)->Body.size());
    WebServer_ConnectionSetResponseHeader(Server, Connection, "Content-Type", "text/plain");
    if (Path == "/k") WebServer_ConnectionSetResponseHeader(Server, Connection, "X-Cache", "Hit from test");
    return TRUE;
}
int32 OnBody(void *User, WebServer *Server, WebServerConnection *Connection, int32) {
    const std::string &Body = static_cast<Served *>(User)->Body;
    WebServer_ConnectionResponseWrite(Server, Connection, Body.data(), (int32)Body.size());
    return TRUE;
}

struct ServerFixture {
    WebServer *Server = nullptr;
    Served State;
    int32 Port = 0;
    ServerFixture() {
        WebServer_Create(&Server);
        WebServer_SetConnectionOpenCallback(Server, &State, OnOpen);
        WebServer_SetConnectionCloseCallback(Server, &State, OnClose);
        WebServer_SetConnectionResponseHeaderCallback(Server, &State, OnResponse);
        WebServer_SetConnectionResponseBodyCallback(Server, &State, OnBody);
        EXPECT_TRUE(WebServer_Start(Server));
        WebServer_GetActiveListenPort(Server, &Port);
    }
    ~ServerFixture() { WebServer_Release(&Server); }
};

// A plain socket connected to the server's port.
int Connect(ServerFixture &Fixture) {
    int Fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_port = htons((uint16_t)Fixture.Port);
    Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(Fd, reinterpret_cast<sockaddr *>(&Address), sizeof(Address)), 0);
    return Fd;
}

// Sends Raw on a fresh socket while ticking the server, and answers what
// came back until the server closed (or 2,000 ticks passed).
std::string Exchange(ServerFixture &Fixture, const std::string &Raw) {
    int Fd = Connect(Fixture);
    EXPECT_EQ(send(Fd, Raw.data(), Raw.size(), MSG_NOSIGNAL), (ssize_t)Raw.size());
    shutdown(Fd, SHUT_WR);
    std::string Reply;
    char Buffer[4096];
    for (int Round = 0; Round < 2000; Round++) {
        WebServer_Process(Fixture.Server);
        ssize_t Got = recv(Fd, Buffer, sizeof(Buffer), MSG_DONTWAIT);
        if (Got == 0) break;
        if (Got > 0) Reply.append(Buffer, (size_t)Got);
        else usleep(500);
    }
    close(Fd);
    return Reply;
}

TEST(WebServer, RequestReader) {
    struct Case {
        std::string Raw;
        int32 Result;
        const char *Path;
        int64 Body;
        bool KeepAlive;
    } Cases[] = {
        {"GET /a?x=1 HTTP/1.1\r\nHost: h\r\n\r\n", WEBSERVER_PARSE_DONE, "/a", 0, true},
        {"\r\nGET / HTTP/1.0\r\n\r\n", WEBSERVER_PARSE_DONE, "/", 0, false},
        {"GET / HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n", WEBSERVER_PARSE_DONE, "/", 0, true},
        {"POST /p HTTP/1.1\r\nContent-Length: 12\r\nConnection: close\r\n\r\n", WEBSERVER_PARSE_DONE, "/p", 12, false},
        {"GET / HTTP/1.1\r\nHost: h\r\n", WEBSERVER_PARSE_MORE, "", 0, true},
        {"GET / HTTP/2.0\r\n\r\n", WEBSERVER_PARSE_MALFORMED, "", 0, true},
        {"GET noslash HTTP/1.1\r\n\r\n", WEBSERVER_PARSE_MALFORMED, "", 0, true},
        {"get / HTTP/1.1\r\n\r\n", WEBSERVER_PARSE_MALFORMED, "", 0, true},
        {"GET / HTTP/1.1\r\n folded\r\n\r\n", WEBSERVER_PARSE_MALFORMED, "", 0, true},
        {"GET / HTTP/1.1\r\nBad\x01: v\r\n\r\n", WEBSERVER_PARSE_MALFORMED, "", 0, true},
        {"GET / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", WEBSERVER_PARSE_MALFORMED, "", 0, true},
        {"GET / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", WEBSERVER_PARSE_UNSUPPORTED, "", 0, true},
        {"GET / HTTP/1.1\r\nX: " + std::string(WEBSERVER_HEADER_LIMIT, 'a'), WEBSERVER_PARSE_TOOLARGE, "", 0, true},
    };
    for (const Case &Each : Cases) {
        WebServerRequest Request;
        size_t Consumed = 0;
        int32 Result = WebServer_ParseRequest(Each.Raw.data(), Each.Raw.size(), &Request, &Consumed);
        EXPECT_EQ(Result, Each.Result) << Each.Raw.substr(0, 60);
        if (Result != WEBSERVER_PARSE_DONE) continue;
        EXPECT_EQ(Request.Path, Each.Path);
        EXPECT_EQ(Request.BodyLength, Each.Body);
        EXPECT_EQ(Request.KeepAlive, Each.KeepAlive) << Each.Raw;
        EXPECT_EQ(Consumed, Each.Raw.size());
    }
}

TEST(WebServer, RawRequests) {
    RuntimeScope Scope;
    ServerFixture Fixture;
    ASSERT_GT(Fixture.Port, 0);
    struct Case {
        std::string Raw;
        std::string Expect; // the reply starts with this
        int Answers;        // status lines in the reply
    } Cases[] = {
        {"GET /x HTTP/1.1\r\nHost: a\r\n\r\n", "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 5\r\n\r\nhello", 1},
        // Two pipelined requests on one connection, the second closing it.
        {"GET /1 HTTP/1.1\r\n\r\nGET /2 HTTP/1.1\r\nConnection: close\r\n\r\n", "HTTP/1.1 200 OK", 2},
        // A request body is skipped, then the next request is answered.
        {"POST /p HTTP/1.1\r\nContent-Length: 3\r\n\r\nabcGET /q HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK", 2},
        {"HEAD /h HTTP/1.1\r\nConnection: close\r\n\r\n", "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 5\r\nConnection: close\r\n\r\n", 1},
        {"GET /deny HTTP/1.1\r\n\r\n", "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\nConnection: close\r\n\r\n", 1},
        {"BROKEN\r\n\r\n", "HTTP/1.1 400 Bad Request", 1},
        {"PUT /x HTTP/1.1\r\n\r\n", "HTTP/1.1 405", 1},
        {"GET / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", "HTTP/1.1 501", 1},
        {"GET / HTTP/1.1\r\nX: " + std::string(20000, 'b') + "\r\n\r\n", "HTTP/1.1 431", 1},
        {"GET /%s%n HTTP/1.1\r\nConnection: close\r\n\r\n", "HTTP/1.1 200 OK", 1},
    };
    for (const Case &Each : Cases) {
        std::string Reply = Exchange(Fixture, Each.Raw);
        EXPECT_EQ(Reply.substr(0, Each.Expect.size()), Each.Expect) << Each.Raw.substr(0, 40);
        int Answers = 0;
        for (size_t At = Reply.find("HTTP/1.1 "); At != std::string::npos; At = Reply.find("HTTP/1.1 ", At + 1))
            Answers++;
        EXPECT_EQ(Answers, Each.Answers) << Each.Raw.substr(0, 40);
    }
    EXPECT_TRUE(WebServer_IsRunning(Fixture.Server));
    EXPECT_EQ(Fixture.State.Opened, Fixture.State.Closed + WebServer_GetConnectionCount(Fixture.Server));
    EXPECT_FALSE(WebServer_SetListenIP(Fixture.Server, "0.0.0.0"));
    EXPECT_FALSE(WebServer_SetListenIP(Fixture.Server, "10.0.0.1"));
    EXPECT_TRUE(WebServer_SetListenIP(Fixture.Server, "127.0.0.2"));
}

// The client's persistent connection carries many GETs on one socket.
TEST(WebServer, KeepAliveClient) {
    RuntimeScope Scope;
    ServerFixture Fixture;
    WebGetConnection *Connection = nullptr;
    WebGetConnection_Create(&Connection);
    WebGetRequest *Request = nullptr;
    WebGetRequest_Create(&Request);
    std::string Url = "http://127.0.0.1:" + std::to_string(Fixture.Port) + "/k";
    for (int K = 0; K < 20; K++) {
        WebGetRequest_Reset(Request);
        WebGetRequest_SetURL(Request, Url.c_str());
        ASSERT_TRUE(WebGetConnection_RequestAdd(Connection, Request));
        EXPECT_FALSE(WebGetConnection_RequestAdd(Connection, Request));
        for (int Round = 0; Round < 5000 && !WebGetRequest_IsDone(Request); Round++) {
            WebGetConnection_Process(Connection);
            WebServer_Process(Fixture.Server);
        }
        int32 Error = -1, SubCode = 0;
        WebGetRequest_GetError(Request, &Error, &SubCode);
        EXPECT_EQ(Error, 0);
        const uint8 *Body = nullptr;
        int32 Length = 0;
        WebGetRequest_GetBody(Request, &Body, &Length);
        EXPECT_EQ(std::string((const char *)Body, (size_t)Length), "hello");
    }
    EXPECT_EQ(Fixture.State.Opened, 1);
    // Every answer said "Hit": the client counted each for the host.
    Dictionary *Counts = nullptr, *Entry = nullptr;
    int64 Hits = 0;
    WebGet_XCacheLockDictionaryHandle(&Counts);
    if (Dictionary_GetDictionaryByKey(Counts, "127.0.0.1", &Entry) && Entry != nullptr)
        Dictionary_GetInt64ByKey(Entry, "hit", &Hits);
    WebGet_XCacheUnlockDictionaryHandle();
    EXPECT_EQ(Hits, 20);
    WebGet_XCacheRemove();
    WebGetConnection_Release(&Connection);
    WebGetRequest_Release(&Request);
}

// A busy loop asks the listener only now and then; with the clock standing
// still a waiting client is still taken within a bounded number of steps.
TEST(WebServer, AcceptsWhileTheClockStandsStill) {
    ServerFixture Fixture;
    Time_SetCycleCountOverride([]() -> uint64 { return 5000; });
    for (int Step = 0; Step < 5; Step++) WebServer_Process(Fixture.Server);
    int Fd = Connect(Fixture);
    int Steps = 0;
    for (; Fixture.State.Opened == 0 && Steps < 1000; Steps++) WebServer_Process(Fixture.Server);
    Time_SetCycleCountOverride(nullptr);
    close(Fd);
    EXPECT_EQ(Fixture.State.Opened, 1);
    EXPECT_LE(Steps, 40);
}

// What the server has sent on Fd while it is ticked: the reply once it
// holds Until, or everything up to the server's close ("" + Closed).
std::string ReadReply(ServerFixture &Fixture, int Fd, const std::string &Until, bool *Closed = nullptr,
                      int Rounds = 20000) {
    std::string Reply;
    char Buffer[4096];
    for (int Round = 0; Round < Rounds && Reply.find(Until) == std::string::npos; Round++) {
        WebServer_Process(Fixture.Server);
        ssize_t Got = recv(Fd, Buffer, sizeof(Buffer), MSG_DONTWAIT);
        if (Got == 0) {
            if (Closed != nullptr) *Closed = true;
            break;
        }
        if (Got > 0) Reply.append(Buffer, (size_t)Got);
        else usleep(100);
    }
    return Reply;
}

// A request head or body that drips a line every two seconds is cut at
// the request deadline, ten seconds after the accept, however lively it is.
TEST(WebServer, SlowRequestsAreCutAtTheirDeadline) {
    RuntimeScope Scope;
    Time_TestClockStart(1000000);
    ServerFixture Fixture;
    struct Case {
        const char *Name, *Start, *Drip;
    } Cases[] = {
        {"head", "GET /slow HTTP/1.1\r\n", "X-Slow: 1\r\n"},
        {"body", "POST /slow HTTP/1.1\r\nContent-Length: 100000\r\n\r\n", "0123456789"},
    };
    for (const Case &Each : Cases) {
        int Fd = Connect(Fixture);
        int32 Closed = Fixture.State.Closed;
        send(Fd, Each.Start, strlen(Each.Start), MSG_NOSIGNAL);
        int Seconds = 0;
        bool Cut = false;
        for (; Seconds <= 30 && !Cut; Seconds += 2) {
            send(Fd, Each.Drip, strlen(Each.Drip), MSG_NOSIGNAL);
            ReadReply(Fixture, Fd, "\x01", &Cut, 200); // ticks until the server closes, or a while
            if (!Cut) Time_TestClockAdvance(2000);
        }
        close(Fd);
        EXPECT_TRUE(Cut) << Each.Name;
        EXPECT_LE(Seconds, 14) << Each.Name;
        EXPECT_EQ(Fixture.State.Closed, Closed + 1) << Each.Name;
    }
    Time_TestClockStop();
}

// With every slot held, a newcomer is served: of the connections that wait
// for a request, the one idle longest gives way, before an older one part
// way through its head.
TEST(WebServer, NewcomerIsServedWhenEverySlotIsTaken) {
    RuntimeScope Scope;
    ServerFixture Fixture;
    const std::string Get = "GET /x HTTP/1.1\r\n\r\n";
    std::vector<int> Held;
    for (int K = 0; K < 65; K++) {
        int Fd = Connect(Fixture);
        Held.push_back(Fd);
        if (K == 0) {
            send(Fd, Get.data(), 8, MSG_NOSIGNAL);
            continue;
        }
        send(Fd, Get.data(), Get.size(), MSG_NOSIGNAL);
        std::string Reply = ReadReply(Fixture, Fd, "hello");
        ASSERT_EQ(Reply.substr(0, 15), "HTTP/1.1 200 OK") << "connection " << K;
    }
    bool Closed[2] = {false, false};
    for (int K = 0; K < 2; K++) ReadReply(Fixture, Held[K], "\x01", &Closed[K], 200);
    EXPECT_FALSE(Closed[0]);
    EXPECT_TRUE(Closed[1]);
    EXPECT_EQ(Fixture.State.Closed, 1);
    EXPECT_EQ(WebServer_GetConnectionCount(Fixture.Server), 64);
    for (int Fd : Held) close(Fd);
}

} // namespace
