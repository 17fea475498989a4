// The least loopback HTTP server (see web_server.h).
#include "net/web_server.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "net/web_get.h"
#include "runtime/log.h"
#include "runtime/posix/platform_network.h"
#include "runtime/text/string.h"
#include "runtime/time.h"

namespace {

// A connection has this long, from its accept or from the end of its last
// response, to send a whole request (its head and any body it announces).
// Peers are on this machine, so a request that takes longer is held open on
// purpose.
constexpr float64 RequestSeconds = 10.0;
constexpr int32 MaxConnections = 64;
constexpr int32 ReadBlock = 16384;
constexpr size_t BodyChunk = 65536;
// A streaming reader that stalls keeps at most this much waiting before the
// server stops asking the body callback for more.
constexpr size_t OutHighWater = 1 << 20;

enum class Phase { Reading, SkippingBody, Writing, Closing };

const char *Reason(int32 Code) {
    switch (Code) {
    case 200: return "OK";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    default: return "Status";
    }
}

bool HeaderValue(const std::string &Headers, const char *Name, std::string *Value) {
    char Buffer[WEBSERVER_HEADER_LIMIT];
    if (!WebGet_HeaderGetByName(Headers.c_str(), Name, Buffer, (int32)sizeof(Buffer))) return false;
    *Value = Buffer;
    return true;
}

bool HasToken(const std::string &Value, const char *Token) {
    size_t Length = strlen(Token);
    for (size_t At = 0; At + Length <= Value.size(); At++)
        if (strncasecmp(Value.c_str() + At, Token, Length) == 0) return true;
    return false;
}

} // namespace

struct WebServerConnection {
    int Fd = -1;
    int32 RemotePort = 0;
    Phase State = Phase::Reading;
    std::string In;
    std::string Out;
    size_t OutAt = 0;
    WebServerRequest Request;
    int64 SkipLeft = 0;
    int32 Code = 0;
    int64 ContentLength = -1;
    int64 BodyLeft = 0;
    std::string ResponseHeaders;
    bool KeepAlive = true;
    bool Streaming = false;
    bool InBodyCall = false;
    size_t BodyAllowance = 0;
    bool Opened = false;
    bool PeerClosed = false; // the peer sends no more; what it sent is answered
    float64 RequestSince = 0; // when the server began to wait for the current request
    void *User = nullptr;
};

struct WebServer {
    ClassStruct Class;
    std::string ListenIP = "127.0.0.1";
    int32 ListenPort = 0;
    int32 ActivePort = 0;
    int32 Persistent = 1;
    int ListenFd = -1;
    // When the listener was last found empty (-1: ask at the next step), and
    // the steps since.
    float64 ListenChecked = -1;
    uint32 ListenQuietSteps = 0;
    void *PrintUser = nullptr;
    ClassPrint_Func Print = nullptr;
    void *OpenUser = nullptr, *RequestUser = nullptr, *ResponseUser = nullptr, *BodyUser = nullptr,
         *CloseUser = nullptr, *ListenUser = nullptr;
    WebServer_ConnectionFunc Open = nullptr, RequestHeader = nullptr, ResponseHeader = nullptr, Close = nullptr;
    WebServer_ResponseBodyFunc Body = nullptr;
    WebServer_ListenChangedFunc ListenChanged = nullptr;
    std::vector<std::unique_ptr<WebServerConnection>> Connections;
};

#define WebServer_Check(Handle) Class_CheckHandle((Handle), WEBSERVER_CLASSID)

namespace {

int32 DeleteObject(void *HandleAddress) { return WebServer_Delete(static_cast<WebServer **>(HandleAddress)); }

// Server lines go to the print callback, else to the log at DEBUG; peer
// text only ever travels as a "%s" argument.
void Say(WebServer *Server, const char *Line, const std::string &Detail) {
    if (Server->Print != nullptr) Server->Print(Server->PrintUser, "%s - %s\n", Line, Detail.c_str());
    else Log_Debug("WebServer: %s - %s\n", Line, Detail.c_str());
}

void QueueStatus(WebServerConnection *Connection, int32 Code, const std::string &Headers, int64 Length) {
    char Line[64];
    String_Print(Line, (int32)sizeof(Line), "HTTP/1.1 %d %s\r\n", Code, Reason(Code));
    Connection->Out += Line;
    Connection->Out += Headers;
    if (Length >= 0) Connection->Out += "Content-Length: " + std::to_string(Length) + "\r\n";
    if (!Connection->KeepAlive) Connection->Out += "Connection: close\r\n";
    Connection->Out += "\r\n";
}

// A request the server cannot serve: a status, no body, and the end.
void Reject(WebServer *Server, WebServerConnection *Connection, int32 Code, const char *Why) {
    Say(Server, Why, std::to_string(Connection->RemotePort));
    Connection->KeepAlive = false;
    QueueStatus(Connection, Code, "", 0);
    Connection->In.clear();
    Connection->State = Phase::Closing;
}

void CloseConnection(WebServer *Server, WebServerConnection *Connection) {
    if (Connection->Fd < 0) return;
    if (Connection->Opened && Server->Close != nullptr) Server->Close(Server->CloseUser, Server, Connection);
    close(Connection->Fd);
    Connection->Fd = -1;
}

// Answers the parsed request through the callbacks.
void Answer(WebServer *Server, WebServerConnection *Connection) {
    Connection->Code = 200;
    Connection->ContentLength = 0;
    Connection->ResponseHeaders.clear();
    Connection->KeepAlive = Server->Persistent && Connection->Request.KeepAlive;
    if (Server->RequestHeader != nullptr) Server->RequestHeader(Server->RequestUser, Server, Connection);
    int32 Accepted = FALSE;
    if (Server->ResponseHeader != nullptr) {
        Accepted = Server->ResponseHeader(Server->ResponseUser, Server, Connection);
    } else {
        Connection->Code = 404;
    }
    if (!Accepted) {
        // The callback that refused tells why in its own log line.
        if (Server->ResponseHeader != nullptr && Connection->Code < 300) Connection->Code = 403;
        Connection->KeepAlive = false;
        QueueStatus(Connection, Connection->Code, "", 0);
        Connection->State = Phase::Closing;
        return;
    }
    bool Head = Connection->Request.Method == "HEAD";
    Connection->Streaming = Connection->ContentLength < 0;
    if (Connection->Streaming) Connection->KeepAlive = false;
    QueueStatus(Connection, Connection->Code, Connection->ResponseHeaders, Connection->ContentLength);
    Connection->BodyLeft = Head ? 0 : std::max<int64>(Connection->ContentLength, 0);
    if (Head) Connection->Streaming = false;
    Connection->State = Phase::Writing;
}

// Pulls body bytes until the response is complete or enough waits.
void PullBody(WebServer *Server, WebServerConnection *Connection) {
    while (Server->Body != nullptr && (Connection->Streaming || Connection->BodyLeft > 0) &&
           Connection->Out.size() - Connection->OutAt < OutHighWater) {
        size_t Wanted = Connection->Streaming ? BodyChunk : (size_t)std::min<int64>(Connection->BodyLeft, BodyChunk);
        size_t Before = Connection->Out.size();
        Connection->InBodyCall = true;
        Connection->BodyAllowance = Wanted;
        int32 Keep = Server->Body(Server->BodyUser, Server, Connection, (int32)Wanted);
        Connection->InBodyCall = false;
        size_t Added = Connection->Out.size() - Before;
        if (!Connection->Streaming) Connection->BodyLeft -= (int64)Added;
        if (!Keep) {
            Connection->KeepAlive = false;
            Connection->State = Phase::Closing;
            return;
        }
        if (Added == 0) break;
    }
    // A body of known length that the callback cannot fill is cut short, and
    // then the connection cannot be reused.
    if (!Connection->Streaming && Connection->BodyLeft > 0 && Server->Body == nullptr) {
        Connection->KeepAlive = false;
        Connection->State = Phase::Closing;
    }
}

// Parses requests waiting in the input while none is being answered.
void ReadRequests(WebServer *Server, WebServerConnection *Connection) {
    while (Connection->Fd >= 0 && (Connection->State == Phase::Reading || Connection->State == Phase::SkippingBody)) {
        if (Connection->State == Phase::SkippingBody) {
            size_t Take = (size_t)std::min<int64>(Connection->SkipLeft, (int64)Connection->In.size());
            Connection->In.erase(0, Take);
            Connection->SkipLeft -= (int64)Take;
            if (Connection->SkipLeft > 0) return;
            Answer(Server, Connection);
            return;
        }
        size_t Consumed = 0;
        WebServerRequest Request;
        int32 Result = WebServer_ParseRequest(Connection->In.data(), Connection->In.size(), &Request, &Consumed);
        if (Result == WEBSERVER_PARSE_MORE) return;
        if (Result == WEBSERVER_PARSE_TOOLARGE) return Reject(Server, Connection, 431, "Request header too large");
        if (Result == WEBSERVER_PARSE_UNSUPPORTED) return Reject(Server, Connection, 501, "Request not supported");
        if (Result != WEBSERVER_PARSE_DONE) return Reject(Server, Connection, 400, "Malformed request");
        Connection->In.erase(0, Consumed);
        Connection->Request = std::move(Request);
        if (Connection->Request.Method != "GET" && Connection->Request.Method != "HEAD" &&
            Connection->Request.Method != "POST")
            return Reject(Server, Connection, 405, "Method not allowed");
        Connection->SkipLeft = Connection->Request.BodyLength;
        Connection->State = Phase::SkippingBody;
    }
}

// One connection's tick; false when it is finished.
bool Step(WebServer *Server, WebServerConnection *Connection, float64 Now) {
    char Buffer[ReadBlock];
    for (int32 Round = 0; Round < 16 && !Connection->PeerClosed; Round++) {
        ssize_t Got = recv(Connection->Fd, Buffer, sizeof(Buffer), 0);
        if (Got == 0) {
            Connection->PeerClosed = true;
            break;
        }
        if (Got < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) break;
            return false;
        }
        // Bytes that arrive while a stream is written are not requests.
        if (Connection->State == Phase::Writing && Connection->Streaming) continue;
        Connection->In.append(Buffer, (size_t)Got);
        if (Connection->In.size() > WEBSERVER_HEADER_LIMIT * 4 && Connection->State != Phase::SkippingBody) break;
    }
    ReadRequests(Server, Connection);
    for (int32 Round = 0; Round < 64; Round++) {
        if (Connection->State == Phase::Writing) PullBody(Server, Connection);
        while (Connection->OutAt < Connection->Out.size()) {
            ssize_t Sent = send(Connection->Fd, Connection->Out.data() + Connection->OutAt,
                                Connection->Out.size() - Connection->OutAt, MSG_NOSIGNAL);
            if (Sent < 0) {
                if (errno == EINTR) continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK) break;
                return false;
            }
            Connection->OutAt += (size_t)Sent;
        }
        if (Connection->OutAt == Connection->Out.size()) {
            Connection->Out.clear();
            Connection->OutAt = 0;
        } else {
            break; // the socket takes no more now
        }
        if (Connection->State == Phase::Closing) return false;
        if (Connection->State == Phase::Writing && !Connection->Streaming && Connection->BodyLeft <= 0) {
            if (!Connection->KeepAlive) return false;
            Connection->State = Phase::Reading;
            Connection->RequestSince = Now;
            ReadRequests(Server, Connection);
            continue;
        }
        break;
    }
    if (Connection->PeerClosed && Connection->OutAt == Connection->Out.size() &&
        (Connection->State != Phase::Writing || Connection->Streaming))
        return false;
    if ((Connection->State == Phase::Reading || Connection->State == Phase::SkippingBody) &&
        Now - Connection->RequestSince > RequestSeconds) {
        Say(Server, "Request not complete in time", std::to_string(Connection->RemotePort));
        return false;
    }
    return true;
}

// Whether a new connection fits. When every slot is taken, the connection
// that has waited longest for a request gives way: an idle one (nothing of a
// request received, a kept-alive connection between requests) before one
// that is part way through its request. Connections being answered, streams
// above all, are never cut for a newcomer.
bool MakeRoom(WebServer *Server) {
    int32 Live = 0;
    WebServerConnection *Idle = nullptr, *Partial = nullptr;
    for (const auto &Each : Server->Connections) {
        WebServerConnection *Connection = Each.get();
        if (Connection->Fd < 0) continue;
        Live++;
        WebServerConnection **Slot = nullptr;
        if (Connection->State == Phase::Reading && Connection->In.find_first_not_of("\r\n") == std::string::npos)
            Slot = &Idle;
        else if (Connection->State == Phase::Reading || Connection->State == Phase::SkippingBody)
            Slot = &Partial;
        if (Slot != nullptr && (*Slot == nullptr || Connection->RequestSince < (*Slot)->RequestSince))
            *Slot = Connection;
    }
    if (Live < MaxConnections) return true;
    WebServerConnection *Victim = Idle != nullptr ? Idle : Partial;
    if (Victim == nullptr) return false;
    Say(Server, "Connection gives way to a new one", std::to_string(Victim->RemotePort));
    CloseConnection(Server, Victim);
    return true;
}

// A busy loop steps the server thousands of times a second; asking the
// listener whether anyone waits costs far less than an accept that finds
// nobody, which builds and drops a socket in the kernel each time.
bool Pending(int ListenFd) {
    pollfd Listener{ListenFd, POLLIN, 0};
    return poll(&Listener, 1, 0) > 0;
}

// Even that question is a system call, and a loop busy with work steps far
// more often than connections come. After the listener is found empty it is
// asked again once a millisecond has passed, or after a number of steps, so
// that a clock that stands still (a test's) never shuts a client out. A
// connection found brings the next question to the next step.
constexpr float64 ListenQuietSeconds = 0.001;
constexpr uint32 ListenQuietStepsMost = 32;

void Accept(WebServer *Server, float64 Now) {
    if (Now >= Server->ListenChecked && Now - Server->ListenChecked < ListenQuietSeconds &&
        ++Server->ListenQuietSteps < ListenQuietStepsMost)
        return;
    Server->ListenQuietSteps = 0;
    if (!Pending(Server->ListenFd)) {
        Server->ListenChecked = Now;
        return;
    }
    Server->ListenChecked = -1;
    for (int32 Round = 0; Round < 16; Round++) {
        sockaddr_in Peer{};
        socklen_t Size = sizeof(Peer);
        int Fd = accept4(Server->ListenFd, reinterpret_cast<sockaddr *>(&Peer), &Size, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (Fd < 0) return;
        if (!MakeRoom(Server)) {
            Say(Server, "Too many connections", std::to_string(ntohs(Peer.sin_port)));
            close(Fd);
            continue;
        }
        int One = 1;
        setsockopt(Fd, IPPROTO_TCP, TCP_NODELAY, &One, sizeof(One));
        auto Connection = std::make_unique<WebServerConnection>();
        Connection->Fd = Fd;
        Connection->RemotePort = ntohs(Peer.sin_port);
        Connection->RequestSince = Now;
        Connection->Opened = true;
        WebServerConnection *Raw = Connection.get();
        Server->Connections.push_back(std::move(Connection));
        if (Server->Open != nullptr) Server->Open(Server->OpenUser, Server, Raw);
    }
}

} // namespace

int32 WebServer_ParseRequest(const char *Bytes, size_t Length, WebServerRequest *Request, size_t *Consumed) {
    Debug_CheckPointer(Request);
    Debug_CheckPointer(Consumed);
    *Consumed = 0;
    std::string_view Text(Bytes != nullptr ? Bytes : "", Bytes != nullptr ? Length : 0);
    // Blank lines before a request are tolerated.
    size_t Start = 0;
    while (Start + 1 < Text.size() && Text[Start] == '\r' && Text[Start + 1] == '\n') Start += 2;
    size_t End = Text.find("\r\n\r\n", Start);
    if (End == std::string_view::npos)
        return Text.size() - Start > WEBSERVER_HEADER_LIMIT ? WEBSERVER_PARSE_TOOLARGE : WEBSERVER_PARSE_MORE;
    if (End + 4 - Start > WEBSERVER_HEADER_LIMIT) return WEBSERVER_PARSE_TOOLARGE;
    std::string_view Block = Text.substr(Start, End + 2 - Start);
    if (Block.find('\0') != std::string_view::npos) return WEBSERVER_PARSE_MALFORMED;
    size_t LineEnd = Block.find("\r\n");
    std::string_view Line = Block.substr(0, LineEnd);
    size_t Space1 = Line.find(' ');
    size_t Space2 = Space1 == std::string_view::npos ? Space1 : Line.find(' ', Space1 + 1);
    if (Space1 == 0 || Space2 == std::string_view::npos || Space2 == Space1 + 1) return WEBSERVER_PARSE_MALFORMED;
    std::string_view Method = Line.substr(0, Space1), Target = Line.substr(Space1 + 1, Space2 - Space1 - 1),
                     Version = Line.substr(Space2 + 1);
    for (char C : Method)
        if (C < 'A' || C > 'Z') return WEBSERVER_PARSE_MALFORMED;
    if (Target[0] != '/') return WEBSERVER_PARSE_MALFORMED;
    for (char C : Target)
        if ((unsigned char)C <= ' ' || C == 0x7f) return WEBSERVER_PARSE_MALFORMED;
    if (Version.size() != 8 || Version.substr(0, 7) != "HTTP/1." || Version[7] < '0' || Version[7] > '9')
        return WEBSERVER_PARSE_MALFORMED;
    WebServerRequest Parsed;
    Parsed.Method = std::string(Method);
    Parsed.Target = std::string(Target);
    Parsed.Path = Parsed.Target.substr(0, Parsed.Target.find_first_of("?#"));
    Parsed.Minor = Version[7] - '0';
    // Header lines: a name of token characters, a colon, a value without
    // control characters; folded lines are refused.
    for (size_t At = LineEnd + 2; At < Block.size();) {
        size_t Next = Block.find("\r\n", At);
        std::string_view Header = Block.substr(At, Next - At);
        At = Next + 2;
        size_t Colon = Header.find(':');
        if (Colon == 0 || Colon == std::string_view::npos) return WEBSERVER_PARSE_MALFORMED;
        for (size_t K = 0; K < Colon; K++) {
            unsigned char C = (unsigned char)Header[K];
            if (C <= ' ' || C >= 0x7f || strchr("()<>@,;\\\"/[]?={}", C) != nullptr) return WEBSERVER_PARSE_MALFORMED;
        }
        for (size_t K = Colon + 1; K < Header.size(); K++) {
            unsigned char C = (unsigned char)Header[K];
            if ((C < ' ' && C != '\t') || C == 0x7f) return WEBSERVER_PARSE_MALFORMED;
        }
        Parsed.Headers.append(Header.data(), Header.size());
        Parsed.Headers += "\r\n";
    }
    std::string Value;
    if (HeaderValue(Parsed.Headers, "Transfer-Encoding", &Value)) return WEBSERVER_PARSE_UNSUPPORTED;
    if (HeaderValue(Parsed.Headers, "Content-Length", &Value)) {
        if (Value.empty() || Value.size() > 12 || Value.find_first_not_of("0123456789") != std::string::npos)
            return WEBSERVER_PARSE_MALFORMED;
        Parsed.BodyLength = atoll(Value.c_str());
    }
    Parsed.KeepAlive = Parsed.Minor >= 1;
    if (HeaderValue(Parsed.Headers, "Connection", &Value)) {
        if (HasToken(Value, "close")) Parsed.KeepAlive = false;
        else if (HasToken(Value, "keep-alive")) Parsed.KeepAlive = true;
    }
    *Request = std::move(Parsed);
    *Consumed = End + 4;
    return WEBSERVER_PARSE_DONE;
}

CLASS_DEFINE_REFERENCE(WebServer, WebServer, WEBSERVER_CLASSID)

int32 WebServer_Create(WebServer **Handle) {
    Debug_CheckPointer(Handle);
    WebServer *Server = new WebServer();
    Class_InitHeader(Server, WEBSERVER_CLASSID, DeleteObject);
    *Handle = Server;
    return TRUE;
}

int32 WebServer_Delete(WebServer **Handle) {
    Debug_CheckPointer(Handle);
    if (*Handle == nullptr) return TRUE;
    WebServer_Check(*Handle);
    WebServer_Stop(*Handle);
    delete *Handle;
    *Handle = nullptr;
    return TRUE;
}

int32 WebServer_SetListenIP(WebServer *Handle, const char *Address) {
    WebServer_Check(Handle);
    Debug_CheckPointer(Address);
    in_addr Parsed{};
    if (inet_pton(AF_INET, Address, &Parsed) != 1 || (ntohl(Parsed.s_addr) >> 24) != 127) {
        Log_Error("Listen address is not a loopback address (%s)\n", Address);
        return FALSE;
    }
    Handle->ListenIP = Address;
    return TRUE;
}

int32 WebServer_SetListenPort(WebServer *Handle, int32 Port) {
    WebServer_Check(Handle);
    if (Port < 0 || Port > 65535) return FALSE;
    Handle->ListenPort = Port;
    return TRUE;
}

int32 WebServer_SetPersistentConnections(WebServer *Handle, int32 Flag) {
    WebServer_Check(Handle);
    Handle->Persistent = Flag != 0;
    return TRUE;
}

int32 WebServer_SetPrintCallback(WebServer *Handle, void *User, ClassPrint_Func Function) {
    WebServer_Check(Handle);
    Handle->PrintUser = User;
    Handle->Print = Function;
    return TRUE;
}

#define WEBSERVER_SETTER(Name, UserField, FunctionField, Type)          \
    int32 WebServer_Set##Name(WebServer *Handle, void *User, Type Function) { \
        WebServer_Check(Handle);                                          \
        Handle->UserField = User;                                         \
        Handle->FunctionField = Function;                                 \
        return TRUE;                                                      \
    }
WEBSERVER_SETTER(ConnectionOpenCallback, OpenUser, Open, WebServer_ConnectionFunc)
WEBSERVER_SETTER(ConnectionRequestHeaderCallback, RequestUser, RequestHeader, WebServer_ConnectionFunc)
WEBSERVER_SETTER(ConnectionResponseHeaderCallback, ResponseUser, ResponseHeader, WebServer_ConnectionFunc)
WEBSERVER_SETTER(ConnectionResponseBodyCallback, BodyUser, Body, WebServer_ResponseBodyFunc)
WEBSERVER_SETTER(ConnectionCloseCallback, CloseUser, Close, WebServer_ConnectionFunc)
WEBSERVER_SETTER(ListenChangedCallback, ListenUser, ListenChanged, WebServer_ListenChangedFunc)
#undef WEBSERVER_SETTER

int32 WebServer_Start(WebServer *Handle) {
    WebServer_Check(Handle);
    if (Handle->ListenFd >= 0) return TRUE;
    int Fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (Fd < 0) {
        Log_Error("Unable to create listen socket [%d]\n", errno);
        return FALSE;
    }
    int One = 1;
    setsockopt(Fd, SOL_SOCKET, SO_REUSEADDR, &One, sizeof(One));
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_port = htons((uint16_t)Handle->ListenPort);
    inet_pton(AF_INET, Handle->ListenIP.c_str(), &Address.sin_addr);
    socklen_t Size = sizeof(Address);
    if (bind(Fd, reinterpret_cast<sockaddr *>(&Address), sizeof(Address)) != 0 || listen(Fd, 64) != 0 ||
        getsockname(Fd, reinterpret_cast<sockaddr *>(&Address), &Size) != 0) {
        Log_Error("Unable to listen on %s:%d [%d]\n", Handle->ListenIP.c_str(), Handle->ListenPort, errno);
        close(Fd);
        return FALSE;
    }
    Handle->ListenFd = Fd;
    Handle->ListenChecked = -1;
    Handle->ActivePort = ntohs(Address.sin_port);
    Say(Handle, "Listening", Handle->ListenIP + ":" + std::to_string(Handle->ActivePort));
    if (Handle->ListenChanged != nullptr) Handle->ListenChanged(Handle->ListenUser, Handle);
    return TRUE;
}

int32 WebServer_Stop(WebServer *Handle) {
    WebServer_Check(Handle);
    // Close callbacks may look at the server; the list is emptied first.
    std::vector<std::unique_ptr<WebServerConnection>> Closing;
    Closing.swap(Handle->Connections);
    for (auto &Connection : Closing) CloseConnection(Handle, Connection.get());
    if (Handle->ListenFd >= 0) {
        close(Handle->ListenFd);
        Handle->ListenFd = -1;
        Handle->ActivePort = 0;
    }
    return TRUE;
}

int32 WebServer_Process(WebServer *Handle) {
    WebServer_Check(Handle);
    if (Handle->ListenFd < 0) return FALSE;
    float64 Now = Time_GetCurrent();
    Accept(Handle, Now);
    for (size_t K = 0; K < Handle->Connections.size(); K++) {
        WebServerConnection *Connection = Handle->Connections[K].get();
        if (Connection->Fd >= 0 && !Step(Handle, Connection, Now)) CloseConnection(Handle, Connection);
        if (Handle->ListenFd < 0) return TRUE; // stopped from a callback
    }
    Handle->Connections.erase(std::remove_if(Handle->Connections.begin(), Handle->Connections.end(),
                                             [](const std::unique_ptr<WebServerConnection> &Connection) {
                                                 return Connection->Fd < 0;
                                             }),
                              Handle->Connections.end());
    return TRUE;
}

int32 WebServer_IsRunning(WebServer *Handle) {
    WebServer_Check(Handle);
    return Handle->ListenFd >= 0;
}

int32 WebServer_GetActiveListenPort(WebServer *Handle, int32 *Port) {
    WebServer_Check(Handle);
    Debug_CheckPointer(Port);
    *Port = Handle->ActivePort;
    return Handle->ListenFd >= 0;
}

int32 WebServer_GetConnectionCount(WebServer *Handle) {
    WebServer_Check(Handle);
    return (int32)Handle->Connections.size();
}

int32 WebServer_ConnectionGetRequestHeader(WebServer *Handle, WebServerConnection *Connection, const char *Name,
                                           char *Buffer, int32 Size) {
    WebServer_Check(Handle);
    Debug_CheckPointer(Connection);
    return WebGet_HeaderGetByName(Connection->Request.Headers.c_str(), Name, Buffer, Size);
}

const char *WebServer_ConnectionGetFilenamePtr(WebServer *Handle, WebServerConnection *Connection) {
    WebServer_Check(Handle);
    Debug_CheckPointer(Connection);
    return Connection->Request.Path.c_str();
}

const char *WebServer_ConnectionGetMethodPtr(WebServer *Handle, WebServerConnection *Connection) {
    WebServer_Check(Handle);
    Debug_CheckPointer(Connection);
    return Connection->Request.Method.c_str();
}

int32 WebServer_ConnectionSetResponse(WebServer *Handle, WebServerConnection *Connection, int32 Code,
                                      int64 ContentLength) {
    WebServer_Check(Handle);
    Debug_CheckPointer(Connection);
    if (Code < 100 || Code > 999) return FALSE;
    Connection->Code = Code;
    Connection->ContentLength = ContentLength < 0 ? -1 : ContentLength;
    return TRUE;
}

int32 WebServer_ConnectionSetResponseHeader(WebServer *Handle, WebServerConnection *Connection, const char *Name,
                                            const char *Value) {
    WebServer_Check(Handle);
    Debug_CheckPointer(Connection);
    Debug_CheckPointer(Name);
    Debug_CheckPointer(Value);
    if (Name[0] == 0 || strpbrk(Name, "\r\n:") != nullptr || strpbrk(Value, "\r\n") != nullptr) return FALSE;
    Connection->ResponseHeaders += std::string(Name) + ": " + Value + "\r\n";
    return TRUE;
}

int32 WebServer_ConnectionResponseWrite(WebServer *Handle, WebServerConnection *Connection, const void *Bytes,
                                        int32 Length) {
    WebServer_Check(Handle);
    Debug_CheckPointer(Connection);
    if (Length <= 0 || Connection->Fd < 0 || Connection->State != Phase::Writing) return 0;
    size_t Take = (size_t)Length;
    if (Connection->InBodyCall) {
        Take = std::min(Take, Connection->BodyAllowance);
        Connection->BodyAllowance -= Take;
    } else if (!Connection->Streaming) {
        Take = (size_t)std::min<int64>((int64)Take, Connection->BodyLeft);
        Connection->BodyLeft -= (int64)Take;
    }
    Connection->Out.append(static_cast<const char *>(Bytes), Take);
    return (int32)Take;
}

int32 WebServer_ConnectionSetUserHandle(WebServer *Handle, WebServerConnection *Connection, void *User) {
    WebServer_Check(Handle);
    Debug_CheckPointer(Connection);
    Connection->User = User;
    return TRUE;
}

void *WebServer_ConnectionGetUserHandle(WebServer *Handle, WebServerConnection *Connection) {
    WebServer_Check(Handle);
    Debug_CheckPointer(Connection);
    return Connection->User;
}

int32 WebServer_ConnectionGetRemotePort(WebServer *Handle, WebServerConnection *Connection) {
    WebServer_Check(Handle);
    Debug_CheckPointer(Connection);
    return Connection->RemotePort;
}

int32 WebServer_ConnectionGetPeerUid(WebServer *Handle, WebServerConnection *Connection, uint32 *Uid) {
    WebServer_Check(Handle);
    Debug_CheckPointer(Connection);
    Debug_CheckPointer(Uid);
    *Uid = 0;
    return Connection->Fd >= 0 && Platform_GetTcpPeerUid(Connection->Fd, Uid);
}
