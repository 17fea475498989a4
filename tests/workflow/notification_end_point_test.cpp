// The notification end point: two end points in one process subscribe to
// each other; curl with a Python RC4 reader (itself checked on RFC 6229)
// reads a served stream; a Python fake end point writes one chunk in two
// writes and two chunks in one; the message reader on a table of pieces;
// refusals (reused, unknown and empty tokens, foreign hosts), and a refused
// request whose EndPoint-URL must not be followed; keep-alives.
#include "workflow/notification_end_point.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdio.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "runtime/containers/dictionary.h"
#include "runtime/notification/notification_center.h"
#include "runtime/time.h"
#include "tests/support/log_capture.h"
#include "tests/support/python.h"
#include "tests/support/system.h"
#include "tests/support/workflow_loop.h"
#include "workflow/workflow_run.h"

namespace {

struct Seen {
    std::string Type, Name, Sender;
    bool Remote = false;
    std::string Value;
};
std::vector<Seen> Received;

int32 OnTest(void *, const char *Type, const char *Name, const char *Sender, Dictionary *Info) {
    Seen Each{Type, Name, Sender, false, ""};
    uint32 Flag = 0;
    if (Info != nullptr && Dictionary_GetBooleanByKey(Info, "isRemote", &Flag)) Each.Remote = Flag != 0;
    const char *Value = nullptr;
    if (Info != nullptr && Dictionary_GetStringPtrByKey(Info, "value", &Value)) Each.Value = Value;
    Received.push_back(Each);
    return TRUE;
}

int LineCount(const std::string &Path) {
    std::string Text = ReadFile(Path);
    return (int)std::count(Text.begin(), Text.end(), '\n');
}

int CountRemote(const char *Type, const char *Name) {
    int Count = 0;
    for (const Seen &Each : Received)
        if (Each.Remote && Each.Type == Type && Each.Name == Name) Count++;
    return Count;
}

std::string Id(NotificationEndPoint *EndPoint) {
    char Text[40];
    NotificationEndPoint_GetInstanceId(EndPoint, Text, (int32)sizeof(Text));
    return Text;
}

// The RC4 reader and chunk parser shared by the Python peers; it proves
// itself on RFC 6229's first vector before it reads anything.
const char *PythonRC4 = R"(
import sys
def rc4(key):
    S = list(range(256)); j = 0
    for i in range(256):
        j = (j + S[i] + key[i % len(key)]) & 255; S[i], S[j] = S[j], S[i]
    i = j = 0
    while True:
        i = (i + 1) & 255; j = (j + S[i]) & 255; S[i], S[j] = S[j], S[i]
        yield S[(S[i] + S[j]) & 255]
g = rc4(bytes([1, 2, 3, 4, 5]))
assert bytes(next(g) for _ in range(16)).hex() == 'b2396305f03dc027ccc3524a0a1118a8'
)";

class EndPointTest : public WorkflowTest {
  protected:
    std::vector<NotificationEndPoint *> EndPoints;
    void SetUp() override {
        WorkflowTest::SetUp();
        Received.clear();
        NotificationCenter_AddInstanceObserver(nullptr, nullptr, nullptr, this, OnTest);
        SetMainLoopTick([this] {
            for (NotificationEndPoint *EndPoint : EndPoints) NotificationEndPoint_Process(EndPoint);
        });
    }
    void TearDown() override {
        SetMainLoopTick(nullptr);
        for (NotificationEndPoint *&EndPoint : EndPoints) NotificationEndPoint_Release(&EndPoint);
        NotificationCenter_RemoveInstanceObserver(nullptr, nullptr, nullptr, this, OnTest);
        WorkflowRun_SetElevatedOverride(-1);
        WorkflowTest::TearDown();
    }
    NotificationEndPoint *Make(bool Elevated) {
        WorkflowRun_SetElevatedOverride(Elevated ? 1 : 0);
        NotificationEndPoint *EndPoint = nullptr;
        NotificationEndPoint_Create(&EndPoint);
        WorkflowRun_SetElevatedOverride(-1);
        EXPECT_TRUE(NotificationEndPoint_Start(EndPoint));
        EndPoints.push_back(EndPoint);
        return EndPoint;
    }
    std::string Url(NotificationEndPoint *EndPoint) {
        char Text[128];
        EXPECT_TRUE(NotificationEndPoint_GetWebServerURL(EndPoint, TRUE, Text, (int32)sizeof(Text)));
        return Text;
    }
    int ConnectedCount(NotificationEndPoint *EndPoint) {
        int Count = 0;
        for (const Seen &Each : Received)
            if (!Each.Remote && Each.Name == "Connected" && Each.Sender == Id(EndPoint)) Count++;
        return Count;
    }
};

TEST_F(EndPointTest, PairExchangesWithoutEcho) {
    NotificationEndPoint *Parent = Make(false);
    NotificationEndPoint *Worker = Make(true);
    // The worker subscribes to the parent, which subscribes back.
    ASSERT_TRUE(NotificationEndPoint_AddEndPoint(Worker, Url(Parent).c_str()));
    ASSERT_TRUE(RunMainLoopUntil([&] { return ConnectedCount(Parent) == 1 && ConnectedCount(Worker) == 1; }));
    EXPECT_TRUE(NotificationEndPoint_IsConnected(Parent));
    EXPECT_TRUE(NotificationEndPoint_IsConnected(Worker));
    Received.clear();
    // Every notification of the process reaches both streams; each receiver
    // filters. The elevated worker drops Task.Cancel and takes Task.Pause and
    // Workflow.Cancel; canRemote false stays home.
    struct Case {
        const char *Type, *Name, *Json;
        int Copies;
    } Cases[] = {
        {"Test", "Ping", "{\"value\":\"a b\\\"c\"}", 1}, {"Test", "Quiet", "{\"canRemote\":false}", 0},
        {"Task", "Cancel", "{}", 1},                      {"Task", "Pause", "{}", 2},
        {"Workflow", "Cancel", "{\"canLocal\":false}", 2},
    };
    for (const Case &Each : Cases) NotificationCenter_FireWithJSON(Each.Type, Each.Name, "Sender-1", "%s", Each.Json);
    RunMainLoopUntil([] { return CountRemote("Workflow", "Cancel") == 2; });
    RunMainLoopPasses(50);
    for (const Case &Each : Cases) EXPECT_EQ(CountRemote(Each.Type, Each.Name), Each.Copies) << Each.Name;
    for (const Seen &Each : Received)
        if (Each.Remote && Each.Name == "Ping") {
            EXPECT_EQ(Each.Sender, "Sender-1");
            EXPECT_EQ(Each.Value, "a b\"c");
        }
    // A second URL for the same host and port adds nothing.
    EXPECT_TRUE(NotificationEndPoint_AddEndPoint(Worker, (Url(Parent) + "x").c_str()));
    // The parent stops: the worker's subscription ends and it reports
    // Disconnected, once.
    NotificationEndPoint_Stop(Parent);
    ASSERT_TRUE(RunMainLoopUntil([&] { return !NotificationEndPoint_HasRemoteEndPoint(Worker); }));
    RunMainLoopPasses(20);
    int Disconnected = 0;
    for (const Seen &Each : Received)
        if (Each.Name == "Disconnected" && Each.Sender == Id(Worker)) Disconnected++;
    EXPECT_GE(Disconnected, 1);
}

TEST_F(EndPointTest, RefusedSubscriptionsAndUrls) {
    NotificationEndPoint *Server = Make(false);
    std::string Good = Url(Server);
    int32 Port = 0;
    WebServer *Web = nullptr;
    NotificationEndPoint_GetWebServerHandle(Server, &Web);
    WebServer_GetActiveListenPort(Web, &Port);
    std::string Base = "http://127.0.0.1:" + std::to_string(Port) + "/";
    // curl in the background, each answer's status code on its own line.
    TempDirectory Directory;
    std::string Out = Directory / "codes";
    std::string Script;
    for (const std::string &Path : {Good, Good, Base + "unknownTok", Base, Base + "%25s%25n"})
        Script += "curl -s -o /dev/null -m 2 -w '%{http_code}\\n' -H 'EndPoint-ID: 00ab' '" + Path + "' >> " + Out + ";";
    Script += "curl -s -o /dev/null -m 2 -w '%{http_code}\\n' '" + Url(Server) + "' >> " + Out + ";";
    ASSERT_EQ(system(("(" + Script + ") >/dev/null 2>&1 &").c_str()), 0);
    RunMainLoopUntil([&] { return LineCount(Out) >= 6; }, 20);
    // The first use of a token streams (curl gives up after 2 s with 200);
    // its reuse, unknown and empty tokens, and a request without an end-point
    // id are refused.
    EXPECT_EQ(ReadFile(Out), "200\n403\n403\n403\n403\n403\n");
    struct UrlCase {
        const char *Url;
        int32 Result;
    } Urls[] = {{"http://10.0.0.1:80/abc", 0}, {"http://example.com:80/abc", 0}, {"http://127.0.0.1:9/", 0},
                {"http://127.0.0.1:9/abcdefghijkl", 0}, {"https://127.0.0.1:9/abc", 0}, {"http://LOCALHOST:9/abc", 1},
                {"http://127.0.0.1:9/other", 1}};
    for (const UrlCase &Each : Urls) EXPECT_EQ(NotificationEndPoint_AddEndPoint(Server, Each.Url), Each.Result) << Each.Url;
    EXPECT_TRUE(NotificationEndPoint_RemoveWebServerURL(Server, Good.c_str()));
    EXPECT_FALSE(NotificationEndPoint_RemoveWebServerURL(Server, "no-slash"));
    EXPECT_TRUE(NotificationEndPoint_IsRunning(Server));
}

// A request refused for its token or its id acts on nothing it carries: its
// EndPoint-URL gets no subscription and no connection, the token it missed
// still serves, and each refusal is one log line.
TEST_F(EndPointTest, RefusedRequestFollowsNoEndPointUrl) {
    NotificationEndPoint *Server = Make(false);
    std::vector<std::string> Lines;
    NotificationEndPoint_SetPrintCallback(Server, &Lines, CapturePrintLine);
    WebServer *Web = nullptr;
    NotificationEndPoint_GetWebServerHandle(Server, &Web);
    WebServer_SetPrintCallback(Web, &Lines, CapturePrintLine);
    int32 Port = 0;
    WebServer_GetActiveListenPort(Web, &Port);
    // The hostile peer listens for the subscription it asks for.
    int Listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t Size = sizeof(Address);
    ASSERT_EQ(bind(Listener, reinterpret_cast<sockaddr *>(&Address), Size), 0);
    ASSERT_EQ(listen(Listener, 8), 0);
    getsockname(Listener, reinterpret_cast<sockaddr *>(&Address), &Size);
    std::string Hostile = "EndPoint-URL: http://127.0.0.1:" + std::to_string(ntohs(Address.sin_port)) + "/Evil1\r\n";
    std::string Good = Url(Server);
    std::string Token = Good.substr(Good.rfind('/'));
    Address.sin_port = htons((uint16_t)Port);
    auto Send = [&](const std::string &Request) {
        int Fd = socket(AF_INET, SOCK_STREAM, 0);
        EXPECT_EQ(connect(Fd, reinterpret_cast<sockaddr *>(&Address), sizeof(Address)), 0);
        EXPECT_EQ(send(Fd, Request.data(), Request.size(), MSG_NOSIGNAL), (ssize_t)Request.size());
        return Fd;
    };
    for (const std::string &Head : {std::string("GET /wrongToken1 HTTP/1.1\r\nEndPoint-ID: 00ab\r\n"), "GET " + Token + " HTTP/1.1\r\n",
                                     "GET " + Token + " HTTP/1.1\r\nEndPoint-ID: not-hex\r\n"}) {
        Lines.clear();
        int Fd = Send(Head + Hostile + "\r\n");
        std::string Reply;
        ASSERT_TRUE(RunMainLoopUntil([&] {
            char Buffer[512];
            ssize_t Got = recv(Fd, Buffer, sizeof(Buffer), MSG_DONTWAIT);
            if (Got > 0) Reply.append(Buffer, (size_t)Got);
            return Got == 0;
        }));
        close(Fd);
        EXPECT_EQ(Reply.substr(0, 12), "HTTP/1.1 403") << Head;
        RunMainLoopPasses(50);
        EXPECT_FALSE(NotificationEndPoint_HasRemoteEndPoint(Server)) << Head;
        EXPECT_LT(accept(Listener, nullptr, nullptr), 0) << Head;
        ASSERT_EQ(Lines.size(), 1u) << Head;
        EXPECT_NE(Lines[0].find("Refused subscription - "), std::string::npos) << Lines[0];
    }
    close(Listener);
    // The token no refused request used still opens the stream.
    int Fd = Send("GET " + Token + " HTTP/1.1\r\nEndPoint-ID: 00ab\r\n\r\n");
    EXPECT_TRUE(RunMainLoopUntil([&] { return NotificationEndPoint_IsConnected(Server); }));
    close(Fd);
    NotificationEndPoint_SetPrintCallback(Server, nullptr, nullptr);
    WebServer_SetPrintCallback(Web, nullptr, nullptr);
}

// The URL an end point offers a peer that already subscribes to it (as a
// parent offers its worker) is withdrawn once the peer answers: it cannot
// open a second stream, and its close is no disconnect of the real peer.
TEST_F(EndPointTest, OfferedUrlIsWithdrawnOnceThePeerAnswers) {
    NotificationEndPoint *Parent = Make(false);
    int Listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in Address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t Size = sizeof(Address);
    ASSERT_EQ(bind(Listener, reinterpret_cast<sockaddr *>(&Address), Size), 0);
    ASSERT_EQ(listen(Listener, 4), 0);
    getsockname(Listener, reinterpret_cast<sockaddr *>(&Address), &Size);
    const std::string Own = "http://127.0.0.1:" + std::to_string(ntohs(Address.sin_port)) + "/workerTok1";
    WebServer *Web = nullptr;
    int32 Port = 0;
    NotificationEndPoint_GetWebServerHandle(Parent, &Web);
    WebServer_GetActiveListenPort(Web, &Port);
    Address.sin_port = htons((uint16_t)Port);
    auto Subscribe = [&](const std::string &Path, const char *Id) {
        int Fd = socket(AF_INET, SOCK_STREAM, 0);
        EXPECT_EQ(connect(Fd, reinterpret_cast<sockaddr *>(&Address), sizeof(Address)), 0);
        std::string Head = "GET " + Path + " HTTP/1.1\r\nEndPoint-ID: " + Id + "\r\nEndPoint-URL: " + Own + "\r\n\r\n";
        send(Fd, Head.data(), Head.size(), MSG_NOSIGNAL);
        std::string Reply;
        RunMainLoopUntil([&] {
            char Buffer[256];
            ssize_t Got = recv(Fd, Buffer, sizeof(Buffer), MSG_DONTWAIT);
            if (Got > 0) Reply.append(Buffer, (size_t)Got);
            return Reply.find("\r\n\r\n") != std::string::npos || Got == 0;
        });
        return std::make_pair(Fd, Reply.substr(0, 12));
    };
    std::string Granted = Url(Parent);
    auto Worker = Subscribe(Granted.substr(Granted.rfind('/')), "00ab");
    ASSERT_EQ(Worker.second, "HTTP/1.1 200");
    // The parent subscribes back and offers a URL; the worker answers.
    int Back = -1;
    ASSERT_TRUE(RunMainLoopUntil([&] { return (Back = accept(Listener, nullptr, nullptr)) >= 0; }));
    std::string Request;
    ASSERT_TRUE(RunMainLoopUntil([&] {
        char Buffer[1024];
        ssize_t Got = recv(Back, Buffer, sizeof(Buffer), MSG_DONTWAIT);
        if (Got > 0) Request.append(Buffer, (size_t)Got);
        return Request.find("\r\n\r\n") != std::string::npos;
    }));
    size_t At = Request.find("EndPoint-URL: http://127.0.0.1:");
    ASSERT_NE(At, std::string::npos) << Request;
    std::string Offered = Request.substr(At, Request.find("\r\n", At) - At);
    Offered = Offered.substr(Offered.rfind('/'));
    const std::string Answer = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nEndPoint-ID: 00ab\r\n\r\n";
    send(Back, Answer.data(), Answer.size(), MSG_NOSIGNAL);
    ASSERT_TRUE(RunMainLoopUntil([&] { return ConnectedCount(Parent) == 1; }));
    Received.clear();
    auto Stolen = Subscribe(Offered, "00cd");
    EXPECT_EQ(Stolen.second, "HTTP/1.1 403");
    close(Stolen.first);
    RunMainLoopPasses(30);
    for (const Seen &Each : Received) EXPECT_NE(Each.Name, "Disconnected");
    for (int Fd : {Worker.first, Back, Listener}) close(Fd);
}

TEST_F(EndPointTest, CurlAndPythonReadTheStream) {
    NotificationEndPoint *Server = Make(false);
    std::string Target = Url(Server);
    std::string Token = Target.substr(Target.rfind('/') + 1);
    TempDirectory Directory;
    std::ofstream(Directory / "reader.py") << PythonRC4 << R"(
key = sys.argv[1].encode()
g = rc4(key)
src = sys.stdin.buffer
while True:
    line = src.readline()
    if not line: break
    size = int(line.strip(), 16)
    data = src.read(size)
    assert src.read(2) == b'\r\n'
    print(bytes(b ^ next(g) for b in data).decode(), flush=True)
)";
    std::string Out = Directory / "messages";
    std::string Command = "(timeout 20 curl -sN --raw -H 'EndPoint-ID: 0123abcd' '" + Target + "' | python3 " +
                          (Directory / "reader.py") + " " + Token + " > " + Out + ") >/dev/null 2>&1 &";
    ASSERT_EQ(system(Command.c_str()), 0);
    ASSERT_TRUE(RunMainLoopUntil([&] { return NotificationEndPoint_IsConnected(Server); }, 10));
    for (int K = 0; K < 3; K++) NotificationCenter_FireWithJSON("Test", "Line", nullptr, "{\"value\":\"%d\"}", K);
    NotificationCenter_FireWithJSON("Test", "Hidden", nullptr, "{\"canRemote\":false}");
    auto Lines = [&] { return LineCount(Out); };
    ASSERT_TRUE(RunMainLoopUntil([&] { return Lines() >= 3; }, 10));
    std::string Text = ReadFile(Out);
    EXPECT_NE(Text.find("{\"id\":\"0\",\"type\":\"Test\",\"notification\":\"Line\",\"sender\":\"Global\","
                        "\"arguments\":{\"value\":\"0\"}}"),
              std::string::npos)
        << Text;
    EXPECT_NE(Text.find("\"id\":\"2\""), std::string::npos) << Text;
    EXPECT_EQ(Text.find("Hidden"), std::string::npos);
    NotificationEndPoint_Stop(Server);
}

TEST_F(EndPointTest, SplitAndMergedChunksFromPythonPeer) {
    NotificationEndPoint *Client = Make(false);
    // The fake peer answers one subscription: message 1 in two writes, then
    // messages 2 and 3 in one write.
    std::string Script = std::string(PythonRC4) + R"(
import socket, time
srv = socket.socket(); srv.bind(('127.0.0.1', 0)); srv.listen(1)
print(srv.getsockname()[1], flush=True)
c, _ = srv.accept()
req = b''
while b'\r\n\r\n' not in req: req += c.recv(4096)
assert b'EndPoint-ID:' in req and b'EndPoint-URL: http://127.0.0.1:' in req
c.sendall(b'HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\nEndPoint-ID: 00ff\r\n\r\n')
g = rc4(b'Tok1')
def chunk(i):
    m = ('{"id":"%d","type":"Test","notification":"Piece","sender":"Global","arguments":{"value":"%d"}}' % (i, i)).encode()
    return b'%x\r\n' % len(m) + bytes(b ^ next(g) for b in m) + b'\r\n'
one = chunk(1)
c.sendall(one[:30]); time.sleep(0.3); c.sendall(one[30:])
time.sleep(0.3)
c.sendall(chunk(2) + chunk(3))
time.sleep(1.0)
c.close()
)";
    TempDirectory Directory;
    std::ofstream(Directory / "peer.py") << Script;
    FILE *Peer = popen(("python3 " + (Directory / "peer.py")).c_str(), "r");
    ASSERT_NE(Peer, nullptr);
    int Port = 0;
    ASSERT_EQ(fscanf(Peer, "%d", &Port), 1);
    ASSERT_TRUE(NotificationEndPoint_AddEndPoint(Client, ("http://127.0.0.1:" + std::to_string(Port) + "/Tok1").c_str()));
    ASSERT_TRUE(RunMainLoopUntil([] { return CountRemote("Test", "Piece") == 3; }, 10));
    std::vector<std::string> Values;
    for (const Seen &Each : Received)
        if (Each.Name == "Piece") Values.push_back(Each.Value);
    EXPECT_EQ(Values, (std::vector<std::string>{"1", "2", "3"}));
    // The peer closes: the remote end point goes and the stream is reported.
    EXPECT_TRUE(RunMainLoopUntil([&] { return !NotificationEndPoint_HasRemoteEndPoint(Client); }, 10));
    EXPECT_EQ(pclose(Peer), 0);
}

TEST(EndPointReader, PiecesGiveWholeMessages) {
    struct Case {
        std::vector<std::string> Pieces;
        std::vector<std::string> Messages;
    } Cases[] = {
        {{"{\"a\":1}"}, {"{\"a\":1}"}},
        {{"{\"a\":", "1}{\"b\"", ":2}"}, {"{\"a\":1}", "{\"b\":2}"}},
        {{"{\"s\":\"}{\\\"\"}"}, {"{\"s\":\"}{\\\"\"}"}},
        {{"junk}]{\"x\":[1,{}]}"}, {"{\"x\":[1,{}]}"}},
        {{std::string(70, '[')}, {}},
        {{"{" + std::string(70, '[') + std::string(70, ']') + "}", "{\"ok\":1}"}, {"{\"ok\":1}"}},
        {{"{\"a\":[1}]}", "{\"b\":2]", "{\"ok\":1}"}, {"{\"ok\":1}"}},
    };
    for (const Case &Each : Cases) {
        NotificationEndPointChunkReader Reader;
        std::vector<std::string> Got;
        for (const std::string &Piece : Each.Pieces) Reader.Feed(Piece.data(), Piece.size(), &Got);
        EXPECT_EQ(Got, Each.Messages) << Each.Pieces[0];
    }
}

// Keep-alives come every 8 s while any peer's stream is up: after one of two
// peers leaves, the other still gets them.
TEST_F(EndPointTest, KeepAliveOutlivesOnePeer) {
    NotificationEndPoint *Hub = Make(false);
    NotificationEndPoint *First = Make(false);
    NotificationEndPoint *Second = Make(false);
    ASSERT_TRUE(NotificationEndPoint_AddEndPoint(First, Url(Hub).c_str()));
    ASSERT_TRUE(NotificationEndPoint_AddEndPoint(Second, Url(Hub).c_str()));
    ASSERT_TRUE(RunMainLoopUntil([&] { return ConnectedCount(Hub) == 2; }));
    NotificationEndPoint_Stop(First);
    Received.clear();
    float64 Start = Time_GetCurrent();
    std::vector<float64> Times;
    RunMainLoopUntil([&] {
        for (; Times.size() < Received.size();) {
            const Seen &Each = Received[Times.size()];
            Times.push_back(Each.Name == "KeepAlive" && Each.Sender == Id(Hub) && !Each.Remote ? Time_GetCurrent() : -1);
        }
        return std::count_if(Times.begin(), Times.end(), [](float64 T) { return T > 0; }) >= 2;
    }, 20);
    std::vector<float64> Alive;
    for (float64 T : Times)
        if (T > 0) Alive.push_back(T);
    ASSERT_EQ(Alive.size(), 2u);
    // Every 8 s; a busy machine may deliver either one late, never both early.
    EXPECT_GT(Alive[1] - Alive[0], 6.5);
    EXPECT_LT(Alive[1] - Alive[0], 10.0);
    EXPECT_LT(Alive[1] - Start, 17.0);
}

} // namespace
