// The notification end point (see notification_end_point.h).
#include "workflow/notification_end_point.h"

#include <stdarg.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "crypto/ciphers/rc4.h"
#include "net/web_get_connection.h"
#include "net/web_get_request.h"
#include "runtime/containers/dictionary.h"
#include "runtime/documents/json.h"
#include "runtime/notification/notification_center.h"
#include "runtime/posix/platform_network.h"
#include "runtime/text/string.h"
#include "runtime/text/url.h"
#include "workflow/workflow_run.h"

namespace {

constexpr int32 IdSize = 40;          // peer ids, classes, names, senders: 39 bytes
constexpr int32 UrlSize = 4096;       // peer URLs: 4,095 bytes
constexpr size_t MessageLimit = 4 << 20;
constexpr int32 MaxDepth = 64;
constexpr int32 SubscriptionTimeout = 45;
const char *const ClassName = "NotificationEndPoint";

struct RC4Key {
    RC4 *Cipher = nullptr;
    RC4Key() { RC4_Create(&Cipher); }
    ~RC4Key() { RC4_Delete(&Cipher); }
    bool SetKey(const std::string &Key) {
        return RC4_SetKey(Cipher, reinterpret_cast<const uint8 *>(Key.data()), (int32)Key.size()) != 0;
    }
};

} // namespace

struct ServedConnection {
    NotificationEndPoint *Owner = nullptr;
    WebServerConnection *Connection = nullptr;
    std::string PeerId;
    RC4Key Cipher;
    std::string Pending; // enciphered chunks waiting for the socket
    uint32 Counter = 0;
    bool Subscribed = false;
};

struct RemoteEndPoint {
    NotificationEndPoint *Owner = nullptr;
    std::string PeerId;
    std::string Url;
    std::string Token;
    RC4Key Cipher;
    NotificationEndPointChunkReader Reader;
    WebGetConnection *Connection = nullptr;
    WebGetRequest *Request = nullptr;
    bool SentUrl = false;
    std::string Offered; // our URL sent in EndPoint-URL, while its token may serve
    bool Started = false;
    bool Incoming = false;
    ~RemoteEndPoint() {
        WebGetConnection_Close(Connection);
        WebGetConnection_Release(&Connection);
        WebGetRequest_Release(&Request);
    }
};

struct PeerState {
    std::string Id;
    int32 Outgoing = -1;
    int32 Incoming = -1;
};

struct NotificationEndPoint {
    ClassStruct Class;
    ClassPrintStruct Print;
    WebServer *Server = nullptr;
    std::set<std::string> Tokens;
    uint32 Elevated = 0;
    uint32 TrustedUid = 0;
    std::vector<ServedConnection *> Served;
    std::vector<std::unique_ptr<RemoteEndPoint>> Remotes;
    std::vector<PeerState> Peers;
    bool KeepAliveArmed = false;
    bool KeepAlivePending = false;
    int32 LastPort = 0;
};

#define NotificationEndPoint_Check(Handle) Class_CheckHandle((Handle), NOTIFICATIONENDPOINT_CLASSID)

// The print record sits right behind the class header; the C++ members
// after it make the type non-standard-layout, which offsetof tolerates here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
CLASSPRINT_DEFINE(NotificationEndPoint, NotificationEndPoint, NOTIFICATIONENDPOINT_CLASSID, "NotificationEndPoint",
                  Print)
#pragma GCC diagnostic pop
CLASS_DEFINE_REFERENCE(NotificationEndPoint, NotificationEndPoint, NOTIFICATIONENDPOINT_CLASSID)

void NotificationEndPointChunkReader::Feed(const char *Bytes, size_t Length, std::vector<std::string> *Messages) {
    for (size_t K = 0; K < Length; K++) {
        char C = Bytes[K];
        if (Depth == 0) {
            if (C != '{') continue;
            Current.clear();
            Closers.clear();
            Dropping = false;
            InString = Escape = false;
        }
        if (!Dropping) Current.push_back(C);
        if (InString) {
            if (Escape) Escape = false;
            else if (C == '\\') Escape = true;
            else if (C == '"') InString = false;
        } else if (C == '"') {
            InString = true;
        } else if (C == '{' || C == '[') {
            if (Closers.size() < (size_t)MaxDepth) Closers.push_back(C == '{' ? '}' : ']');
            if (++Depth > MaxDepth) Dropping = true;
        } else if (C == '}' || C == ']') {
            // A closer that does not match its opener ("{]") makes the
            // message malformed: it is dropped and reading starts again at
            // the next "{". Past MaxDepth the message is dropped anyway.
            if (Depth <= MaxDepth) {
                if (Closers.back() != C) {
                    Depth = 0;
                    Current.clear();
                    continue;
                }
                Closers.pop_back();
            }
            if (--Depth == 0) {
                if (!Dropping) Messages->push_back(std::move(Current));
                Current.clear();
            }
        }
        if (!Dropping && Current.size() > MessageLimit) {
            Dropping = true;
            Current.clear();
            Current.shrink_to_fit();
        }
    }
}

namespace {

std::string InstanceId(NotificationEndPoint *Self) {
    char Id[IdSize] = "";
    NotificationEndPoint_GetInstanceId(Self, Id, (int32)sizeof(Id));
    return Id;
}

void Fire(NotificationEndPoint *Self, const char *Name, int32 Delay) {
    NotificationCenter_FireAfterDelayOwn(ClassName, Name, InstanceId(Self).c_str(), Delay, nullptr);
}

bool AnyConnected(NotificationEndPoint *Self) {
    for (const PeerState &Peer : Self->Peers)
        if (Peer.Incoming == 1 || Peer.Outgoing == 1) return true;
    return false;
}

// Keep-alives run while a stream of any peer is up; one fire is pending at
// a time, so arming again after a pause never starts a second chain.
void ArmKeepAlive(NotificationEndPoint *Self) {
    Self->KeepAliveArmed = true;
    if (Self->KeepAlivePending) return;
    Self->KeepAlivePending = true;
    Fire(Self, "KeepAlive", NOTIFICATIONENDPOINT_KEEPALIVE_MS);
}

int32 OnKeepAlive(void *User, const char *, const char *, const char *, Dictionary *) {
    NotificationEndPoint *Self = static_cast<NotificationEndPoint *>(User);
    Self->KeepAlivePending = false;
    if (Self->KeepAliveArmed && WebServer_IsRunning(Self->Server)) ArmKeepAlive(Self);
    return TRUE;
}

void TrackConnection(NotificationEndPoint *Self, const std::string &PeerId, bool Incoming, bool Connected) {
    bool Before = AnyConnected(Self);
    auto Peer = std::find_if(Self->Peers.begin(), Self->Peers.end(),
                             [&](const PeerState &Each) { return strcasecmp(Each.Id.c_str(), PeerId.c_str()) == 0; });
    if (Peer == Self->Peers.end()) {
        Self->Peers.push_back(PeerState{PeerId, -1, -1});
        Peer = Self->Peers.end() - 1;
    }
    (Incoming ? Peer->Incoming : Peer->Outgoing) = Connected ? 1 : 0;
    PeerState Now = *Peer;
    if (Connected && !Self->KeepAliveArmed) ArmKeepAlive(Self);
    else if (!Connected && Before && !AnyConnected(Self)) Self->KeepAliveArmed = false;
    NotificationEndPoint_Print(Self, "Connection Changed - %s - %s - %s\n", PeerId.c_str(),
                               Incoming ? "Incoming" : "Outgoing", Connected ? "Connected" : "Disconnected");
    if (Now.Incoming == 1 && Now.Outgoing == 1) Fire(Self, "Connected", 0);
    else if (Now.Incoming == 0 || Now.Outgoing == 0) Fire(Self, "Disconnected", 0);
}

// Serialises a Dictionary as compact JSON.
std::string ToJSON(Dictionary *Message) {
    std::string Text;
    JSON_SaveMinifiedText(Message, Text);
    while (!Text.empty() && (Text.back() == '\0' || Text.back() == '\n')) Text.pop_back();
    return Text;
}

// Every notification of this process while the subscription stands.
int32 OnAnyNotification(void *User, const char *Type, const char *Name, const char *Instance, Dictionary *Payload) {
    ServedConnection *Served = static_cast<ServedConnection *>(User);
    uint32 Flag = 0;
    if (Payload != nullptr) {
        if (Dictionary_GetBooleanByKey(Payload, "canRemote", &Flag) && !Flag) return TRUE;
        if (Dictionary_GetBooleanByKey(Payload, "isRemote", &Flag) && Flag) return TRUE;
    }
    // The document's top-level object is the root's one keyless item.
    Dictionary *Root = nullptr, *Message = nullptr;
    Dictionary_Create(&Root);
    Dictionary_AddDictionary(Root, nullptr, &Message, nullptr);
    Dictionary_AddString(Message, "id", std::to_string(Served->Counter++).c_str(), nullptr);
    Dictionary_AddString(Message, "type", Type, nullptr);
    Dictionary_AddString(Message, "notification", Name, nullptr);
    Dictionary_AddString(Message, "sender", Instance != nullptr ? Instance : NOTIFICATIONCENTER_GLOBAL, nullptr);
    if (Payload != nullptr) {
        Dictionary *Arguments = nullptr;
        Dictionary_AddDictionary(Message, "arguments", &Arguments, nullptr);
        Dictionary_Merge(Arguments, Payload, DICTIONARY_MERGE_OVERWRITE);
        Dictionary_RemoveByKey(Arguments, "canLocal");
    }
    std::string Text = ToJSON(Root);
    Dictionary_Release(&Root);
    if (Text.empty()) return TRUE;
    char Size[20];
    String_Print(Size, (int32)sizeof(Size), "%x\r\n", (uint32)Text.size());
    RC4_Encrypt(Served->Cipher.Cipher, reinterpret_cast<const uint8 *>(Text.data()),
                reinterpret_cast<uint8 *>(Text.data()), (int32)Text.size());
    Served->Pending += Size;
    Served->Pending += Text;
    Served->Pending += "\r\n";
    return TRUE;
}

bool AllowedWhenElevated(const char *Type, const char *Name) {
    static const char *const Allowed[][2] = {
        {"WorkflowRun", "Start"},   {"Challenge", "Response"},  {"WorkflowApp", "RemoteLimit"},
        {"WorkflowApp", "LocalLimit"}, {"Workflow", "Cancel"}, {"Task", "Pause"},
        {"Task", "Resume"},         {"Repository", "ChallengeResponse"},
    };
    for (const auto &Pair : Allowed)
        if (strcasecmp(Type, Pair[0]) == 0 && strcasecmp(Name, Pair[1]) == 0) return true;
    return false;
}

void HandleMessage(NotificationEndPoint *Self, const std::string &Text) {
    Dictionary *Root = nullptr;
    Dictionary_Create(&Root);
    JSON *Json = nullptr;
    JSON_Create(&Json);
    JSON_SetDictionaryHandle(Json, Root);
    Dictionary *Message = nullptr;
    char Type[IdSize] = "", Name[IdSize] = "", Sender[IdSize] = "";
    if (JSON_LoadBuffer(Json, Text.data(), (int32)Text.size()) && Dictionary_SkipRoot(Root, &Message) &&
        Message != Root && Dictionary_GetStringByKey(Message, "type", Type, (int32)sizeof(Type)) &&
        Dictionary_GetStringByKey(Message, "notification", Name, (int32)sizeof(Name)) &&
        Dictionary_GetStringByKey(Message, "sender", Sender, (int32)sizeof(Sender)) && Type[0] && Name[0]) {
        bool Allowed = Self->Elevated ? AllowedWhenElevated(Type, Name)
                                      : !(strcasecmp(Type, ClassName) == 0 && strcasecmp(Name, "KeepAlive") == 0);
        if (!Allowed) {
            if (Self->Print.Verbose) NotificationEndPoint_Print(Self, "Not allowed - %s.%s\n", Type, Name);
        } else {
            Dictionary *Arguments = nullptr;
            Dictionary_Create(&Arguments);
            Dictionary *Given = nullptr;
            if (Dictionary_GetDictionaryByKey(Message, "arguments", &Given) && Given != nullptr)
                Dictionary_Merge(Arguments, Given, DICTIONARY_MERGE_OVERWRITE);
            Dictionary_SetBooleanByKey(Arguments, "isRemote", TRUE);
            NotificationCenter_FireAfterDelay(Type, Name, Sender, 0, Arguments);
            Dictionary_Release(&Arguments);
        }
    }
    JSON_Delete(&Json);
    Dictionary_Release(&Root);
}

// --- subscriber side -------------------------------------------------------

int32 OnSubscriptionHeader(void *User, WebGetRequest *Request) {
    RemoteEndPoint *Remote = static_cast<RemoteEndPoint *>(User);
    char Id[IdSize] = "";
    WebGetRequest_GetResponseHeader(Request, "EndPoint-ID", Id, (int32)sizeof(Id));
    if (Id[0] == 0) return FALSE;
    Remote->PeerId = Id;
    Remote->Cipher.SetKey(Remote->Token);
    Remote->Incoming = true;
    // A peer that already subscribes to us never uses the URL we offered it:
    // its token is withdrawn now rather than left to serve someone else.
    NotificationEndPoint *Self = Remote->Owner;
    if (!Remote->Offered.empty() &&
        std::any_of(Self->Served.begin(), Self->Served.end(),
                    [&](ServedConnection *Each) { return strcasecmp(Each->PeerId.c_str(), Id) == 0; })) {
        NotificationEndPoint_RemoveWebServerURL(Self, Remote->Offered.c_str());
        Remote->Offered.clear();
    }
    TrackConnection(Remote->Owner, Remote->PeerId, true, true);
    return TRUE;
}

bool Trusted(NotificationEndPoint *Self, uint32 Uid) { return Uid == Self->TrustedUid || Uid == 0; }

// Whoever holds the port of a peer URL gets nothing from us, not even our
// id or a URL of ours, unless the socket that took this connection is the
// trusted user's or root's. What else listens on that port (another address
// or family) does not matter. The URL is not logged: its token is a secret.
int32 OnSubscriptionConnected(void *User, int32 Socket) {
    RemoteEndPoint *Remote = static_cast<RemoteEndPoint *>(User);
    uint32 Uid = 0;
    if (Platform_GetTcpPeerUid(Socket, &Uid) && Trusted(Remote->Owner, Uid)) return TRUE;
    NotificationEndPoint_Print(Remote->Owner, "Refused endpoint - its listener is not of user %u or root\n",
                               Remote->Owner->TrustedUid);
    return FALSE;
}

int32 OnSubscriptionBody(void *User, WebGetRequest *, const uint8 *Bytes, int32 Length) {
    RemoteEndPoint *Remote = static_cast<RemoteEndPoint *>(User);
    std::string Plain(reinterpret_cast<const char *>(Bytes), (size_t)Length);
    RC4_Decrypt(Remote->Cipher.Cipher, reinterpret_cast<const uint8 *>(Plain.data()),
                reinterpret_cast<uint8 *>(Plain.data()), Length);
    std::vector<std::string> Messages;
    Remote->Reader.Feed(Plain.data(), Plain.size(), &Messages);
    for (const std::string &Text : Messages) HandleMessage(Remote->Owner, Text);
    return TRUE;
}

std::string LastSegment(const char *Url) {
    const char *Slash = strrchr(Url, '/');
    return Slash != nullptr ? std::string(Slash + 1) : std::string();
}

// An end point's URL as a log line may show it: the last segment is its
// token, a key to the peer's notifications, and is never written.
std::string WithoutToken(const char *Url) {
    const char *Slash = strrchr(Url, '/');
    return Slash != nullptr ? std::string(Url, (size_t)(Slash - Url)) + "/..." : std::string("...");
}

bool ValidToken(const std::string &Token) {
    if (Token.empty() || Token.size() > NOTIFICATIONENDPOINT_TOKEN_LENGTH) return false;
    return std::all_of(Token.begin(), Token.end(), [](char C) { return isalnum((unsigned char)C) != 0; });
}

// --- server side -----------------------------------------------------------

int32 OnOpen(void *User, WebServer *Server, WebServerConnection *Connection) {
    ServedConnection *Served = new ServedConnection();
    Served->Owner = static_cast<NotificationEndPoint *>(User);
    Served->Connection = Connection;
    WebServer_ConnectionSetUserHandle(Server, Connection, Served);
    return TRUE;
}

// The request's headers are only read here; nothing a request asks for
// (its EndPoint-URL above all) is acted on before its token and id passed,
// so a refused request changes nothing.
int32 OnRequestHeader(void *, WebServer *Server, WebServerConnection *Connection) {
    ServedConnection *Served = static_cast<ServedConnection *>(WebServer_ConnectionGetUserHandle(Server, Connection));
    char Id[IdSize] = "";
    WebServer_ConnectionGetRequestHeader(Server, Connection, "EndPoint-ID", Id, (int32)sizeof(Id));
    Served->PeerId = Id;
    return TRUE;
}

bool ValidPeerId(const std::string &Id) {
    if (Id.empty() || Id.size() > 39) return false;
    return std::all_of(Id.begin(), Id.end(), [](char C) { return isxdigit((unsigned char)C) != 0 || C == '-'; });
}

int32 OnResponseHeader(void *User, WebServer *Server, WebServerConnection *Connection) {
    NotificationEndPoint *Self = static_cast<NotificationEndPoint *>(User);
    ServedConnection *Served = static_cast<ServedConnection *>(WebServer_ConnectionGetUserHandle(Server, Connection));
    const char *Path = WebServer_ConnectionGetFilenamePtr(Server, Connection);
    std::string Token = Path[0] == '/' ? std::string(Path + 1) : std::string(Path);
    // Who the peer is counts before what it knows: a socket of another user
    // is refused whatever token it holds, and a token it holds is no secret
    // any more: it is withdrawn. The path is the token: it is never logged.
    uint32 Uid = 0;
    if (!WebServer_ConnectionGetPeerUid(Server, Connection, &Uid) || !Trusted(Self, Uid)) {
        bool Withdrawn = Self->Tokens.erase(Token) != 0;
        NotificationEndPoint_Print(Self, "Refused subscription - %s - its socket is not of user %u or root%s\n",
                                   Served->PeerId.c_str(), Self->TrustedUid,
                                   Withdrawn ? " - the token it presented is withdrawn" : "");
        WebServer_ConnectionSetResponse(Server, Connection, 403, 0);
        return FALSE;
    }
    bool Issued = ValidToken(Token) && Self->Tokens.count(Token) != 0;
    if (Served->Subscribed || !Issued || !ValidPeerId(Served->PeerId)) {
        NotificationEndPoint_Print(Self, "Refused subscription - %s%s\n", Served->PeerId.c_str(),
                                   Issued ? "" : " - no token of ours");
        WebServer_ConnectionSetResponse(Server, Connection, 403, 0);
        return FALSE;
    }
    Self->Tokens.erase(Token);
    Served->Cipher.SetKey(Token);
    Served->Subscribed = true;
    WebServer_ConnectionSetResponse(Server, Connection, 200, -1);
    WebServer_ConnectionSetResponseHeader(Server, Connection, "Content-Type", "application/json");
    WebServer_ConnectionSetResponseHeader(Server, Connection, "Transfer-Encoding", "chunked");
    WebServer_ConnectionSetResponseHeader(Server, Connection, "EndPoint-ID", InstanceId(Self).c_str());
    Self->Served.push_back(Served);
    NotificationCenter_AddInstanceObserver(NOTIFICATIONCENTER_GLOBAL, NOTIFICATIONCENTER_GLOBAL,
                                           NOTIFICATIONCENTER_GLOBAL, Served, OnAnyNotification);
    TrackConnection(Self, Served->PeerId, false, true);
    // The peer that holds one of our tokens may ask to be subscribed back.
    char Url[UrlSize] = "";
    if (WebServer_ConnectionGetRequestHeader(Server, Connection, "EndPoint-URL", Url, (int32)sizeof(Url)) && Url[0])
        NotificationEndPoint_AddEndPoint(Self, Url);
    return TRUE;
}

int32 OnResponseBody(void *, WebServer *Server, WebServerConnection *Connection, int32 Wanted) {
    ServedConnection *Served = static_cast<ServedConnection *>(WebServer_ConnectionGetUserHandle(Server, Connection));
    if (Served->Pending.empty()) return TRUE;
    int32 Taken = WebServer_ConnectionResponseWrite(Server, Connection, Served->Pending.data(),
                                                    (int32)std::min<size_t>(Served->Pending.size(), (size_t)Wanted));
    Served->Pending.erase(0, (size_t)Taken);
    return TRUE;
}

int32 OnClose(void *User, WebServer *Server, WebServerConnection *Connection) {
    NotificationEndPoint *Self = static_cast<NotificationEndPoint *>(User);
    ServedConnection *Served = static_cast<ServedConnection *>(WebServer_ConnectionGetUserHandle(Server, Connection));
    if (Served == nullptr) return TRUE;
    WebServer_ConnectionSetUserHandle(Server, Connection, nullptr);
    auto It = std::find(Self->Served.begin(), Self->Served.end(), Served);
    if (It != Self->Served.end()) {
        Self->Served.erase(It);
        NotificationCenter_RemoveInstanceObserver(NOTIFICATIONCENTER_GLOBAL, NOTIFICATIONCENTER_GLOBAL,
                                                  NOTIFICATIONCENTER_GLOBAL, Served, OnAnyNotification);
        TrackConnection(Self, Served->PeerId, false, false);
    }
    delete Served;
    return TRUE;
}

int32 OnListenChanged(void *User, WebServer *Server) {
    NotificationEndPoint *Self = static_cast<NotificationEndPoint *>(User);
    int32 Port = 0;
    WebServer_GetActiveListenPort(Server, &Port);
    if (Port != Self->LastPort) {
        Self->LastPort = Port;
        Fire(Self, "Running", 0);
    }
    return TRUE;
}

int32 DeleteThroughClass(void *HandleAddress) {
    return NotificationEndPoint_Delete(static_cast<NotificationEndPoint **>(HandleAddress));
}

} // namespace

int32 NotificationEndPoint_VerboseLog(NotificationEndPoint *Handle, int32 Level, const char *Format, ...) {
    NotificationEndPoint_Check(Handle);
    if (!NotificationEndPoint_IsVerboseLevel(Handle, Level)) return FALSE;
    va_list Arguments;
    va_start(Arguments, Format);
    int32 Result = NotificationEndPoint_VPrint(Handle, 0, Format, Arguments);
    va_end(Arguments);
    return Result;
}

int32 NotificationEndPoint_Create(NotificationEndPoint **Handle) {
    Debug_CheckPointer(Handle);
    NotificationEndPoint *Self = new NotificationEndPoint();
    Class_InitHeader(Self, NOTIFICATIONENDPOINT_CLASSID, DeleteThroughClass);
    Class_GenerateInstanceId(Self);
    NotificationEndPoint_SetPrintIdentifier(Self, ClassName);
    Self->Elevated = WorkflowRun_IsElevated() ? 1 : 0;
    Self->TrustedUid = (uint32)geteuid();
    WebServer_Create(&Self->Server);
    WebServer_SetListenIP(Self->Server, "127.0.0.1");
    WebServer_SetListenPort(Self->Server, 0);
    WebServer_SetPersistentConnections(Self->Server, 1);
    WebServer_SetConnectionOpenCallback(Self->Server, Self, OnOpen);
    WebServer_SetConnectionRequestHeaderCallback(Self->Server, Self, OnRequestHeader);
    WebServer_SetConnectionResponseHeaderCallback(Self->Server, Self, OnResponseHeader);
    WebServer_SetConnectionResponseBodyCallback(Self->Server, Self, OnResponseBody);
    WebServer_SetConnectionCloseCallback(Self->Server, Self, OnClose);
    WebServer_SetListenChangedCallback(Self->Server, Self, OnListenChanged);
    NotificationCenter_AddInstanceObserver(ClassName, "KeepAlive", InstanceId(Self).c_str(), Self, OnKeepAlive);
    *Handle = Self;
    return TRUE;
}

int32 NotificationEndPoint_Delete(NotificationEndPoint **Handle) {
    Debug_CheckPointer(Handle);
    NotificationEndPoint *Self = *Handle;
    if (Self == nullptr) return TRUE;
    NotificationEndPoint_Check(Self);
    NotificationCenter_RemoveInstanceObserver(ClassName, "KeepAlive", InstanceId(Self).c_str(), Self, OnKeepAlive);
    NotificationEndPoint_Reset(Self);
    WebServer_Stop(Self->Server);
    WebServer_SetConnectionOpenCallback(Self->Server, nullptr, nullptr);
    WebServer_SetConnectionRequestHeaderCallback(Self->Server, nullptr, nullptr);
    WebServer_SetConnectionResponseHeaderCallback(Self->Server, nullptr, nullptr);
    WebServer_SetConnectionResponseBodyCallback(Self->Server, nullptr, nullptr);
    WebServer_SetConnectionCloseCallback(Self->Server, nullptr, nullptr);
    WebServer_SetListenChangedCallback(Self->Server, nullptr, nullptr);
    WebServer_Release(&Self->Server);
    delete Self;
    *Handle = nullptr;
    return TRUE;
}

int32 NotificationEndPoint_Start(NotificationEndPoint *Handle) {
    NotificationEndPoint_Check(Handle);
    return WebServer_Start(Handle->Server);
}

int32 NotificationEndPoint_Stop(NotificationEndPoint *Handle) {
    NotificationEndPoint_Check(Handle);
    WebServer_Stop(Handle->Server);
    Handle->LastPort = 0;
    return TRUE;
}

int32 NotificationEndPoint_IsRunning(NotificationEndPoint *Handle) {
    NotificationEndPoint_Check(Handle);
    return WebServer_IsRunning(Handle->Server);
}

int32 NotificationEndPoint_IsConnected(NotificationEndPoint *Handle) {
    NotificationEndPoint_Check(Handle);
    return WebServer_IsRunning(Handle->Server) && !Handle->Served.empty();
}

int32 NotificationEndPoint_SetTrustedUid(NotificationEndPoint *Handle, uint32 Uid) {
    NotificationEndPoint_Check(Handle);
    Handle->TrustedUid = Uid;
    return TRUE;
}

int32 NotificationEndPoint_IsElevated(NotificationEndPoint *Handle) {
    NotificationEndPoint_Check(Handle);
    return (int32)Handle->Elevated;
}

int32 NotificationEndPoint_Process(NotificationEndPoint *Handle) {
    NotificationEndPoint_Check(Handle);
    WebServer_Process(Handle->Server);
    if (!WebServer_IsRunning(Handle->Server)) return TRUE;
    std::string Own = InstanceId(Handle);
    for (size_t K = 0; K < Handle->Remotes.size(); K++) {
        RemoteEndPoint *Remote = Handle->Remotes[K].get();
        WebGetConnection_Process(Remote->Connection);
        if (Remote->Started && WebGetRequest_IsDone(Remote->Request)) {
            std::string Url = Remote->Url;
            if (Remote->Incoming) TrackConnection(Handle, Remote->PeerId, true, false);
            NotificationEndPoint_RemoveEndPoint(Handle, Url.c_str());
            break;
        }
        if (!WebGetConnection_RequestPending(Remote->Connection)) {
            WebGetRequest_Reset(Remote->Request);
            WebGetRequest_SetURL(Remote->Request, Remote->Url.c_str());
            WebGetRequest_SetHeader(Remote->Request, "EndPoint-ID", Own.c_str(), TRUE);
            if (!Remote->SentUrl) {
                char Url[UrlSize];
                if (NotificationEndPoint_GetWebServerURL(Handle, TRUE, Url, (int32)sizeof(Url))) {
                    WebGetRequest_SetHeader(Remote->Request, "EndPoint-URL", Url, TRUE);
                    Remote->Offered = Url;
                }
                Remote->SentUrl = true;
            }
            Remote->Started = WebGetConnection_RequestAdd(Remote->Connection, Remote->Request) != 0;
        }
    }
    return !Handle->Remotes.empty();
}

int32 NotificationEndPoint_GetWebServerURL(NotificationEndPoint *Handle, int32 WithToken, char *Buffer, int32 Size) {
    NotificationEndPoint_Check(Handle);
    Debug_CheckPointer(Buffer);
    int32 Port = 0;
    WebServer_GetActiveListenPort(Handle->Server, &Port);
    char Token[NOTIFICATIONENDPOINT_TOKEN_LENGTH + 1] = "";
    if (WithToken) {
        // A token never repeats one still waiting to be used.
        for (int32 Attempt = 0; Attempt < 4 && (Token[0] == 0 || Handle->Tokens.count(Token)); Attempt++)
            if (!String_Random(Token, (int32)sizeof(Token))) Token[0] = 0;
        if (!ValidToken(Token) || Handle->Tokens.count(Token)) {
            Buffer[0] = 0;
            return FALSE;
        }
    }
    std::string Expected = "http://127.0.0.1:" + std::to_string(Port) + "/" + Token;
    if (Expected.size() + 1 > (size_t)Size) {
        Buffer[0] = 0;
        return FALSE;
    }
    memcpy(Buffer, Expected.c_str(), Expected.size() + 1);
    if (WithToken) Handle->Tokens.insert(Token);
    return TRUE;
}

int32 NotificationEndPoint_RemoveWebServerURL(NotificationEndPoint *Handle, const char *Url) {
    NotificationEndPoint_Check(Handle);
    Debug_CheckPointer(Url);
    if (strchr(Url, '/') == nullptr) return FALSE;
    Handle->Tokens.erase(LastSegment(Url));
    return TRUE;
}

int32 NotificationEndPoint_AddEndPoint(NotificationEndPoint *Handle, const char *Url) {
    NotificationEndPoint_Check(Handle);
    Debug_CheckPointer(Url);
    char Host[256] = "";
    if (!URL_CompareProtocol(Url, "http") || !URL_ParseHostWithoutPort(Url, Host, (int32)sizeof(Host)) ||
        (strcmp(Host, "127.0.0.1") != 0 && strcasecmp(Host, "localhost") != 0)) {
        NotificationEndPoint_Print(Handle, "Refused endpoint - not a loopback http URL\n");
        return FALSE;
    }
    for (const auto &Remote : Handle->Remotes)
        if (URL_CompareHosts(Remote->Url.c_str(), Url)) return TRUE;
    std::string Token = LastSegment(Url);
    if (!ValidToken(Token) || strlen(Url) >= (size_t)UrlSize) {
        NotificationEndPoint_Print(Handle, "Refused endpoint - without a usable key\n");
        return FALSE;
    }
    auto Remote = std::make_unique<RemoteEndPoint>();
    Remote->Owner = Handle;
    Remote->Url = Url;
    Remote->Token = Token;
    WebGetConnection_Create(&Remote->Connection);
    WebGetConnection_SetPersistent(Remote->Connection, 1);
    WebGetConnection_SetTimeout(Remote->Connection, SubscriptionTimeout);
    WebGetConnection_SetPersistentTimeout(Remote->Connection, 0);
    WebGetConnection_SetAllowProxy(Remote->Connection, 0);
    WebGetConnection_SetAllowProxyLoopback(Remote->Connection, 0);
    WebGetConnection_SetReportError(Remote->Connection, 0);
    WebGetConnection_SetConnectedCallback(Remote->Connection, Remote.get(), OnSubscriptionConnected);
    WebGetRequest_Create(&Remote->Request);
    WebGetRequest_SetAllowCompressedContent(Remote->Request, 0);
    WebGetRequest_SetLimitBodySize(Remote->Request, -1);
    WebGetRequest_SetHeaderDoneCallback(Remote->Request, Remote.get(), OnSubscriptionHeader);
    WebGetRequest_SetFillBodyCallback(Remote->Request, Remote.get(), OnSubscriptionBody);
    WebGetRequest_SetSecretPath(Remote->Request, 1);
    NotificationEndPoint_Print(Handle, "Added endpoint - %s\n", WithoutToken(Url).c_str());
    Handle->Remotes.push_back(std::move(Remote));
    return TRUE;
}

int32 NotificationEndPoint_RemoveEndPoint(NotificationEndPoint *Handle, const char *Url) {
    NotificationEndPoint_Check(Handle);
    Debug_CheckPointer(Url);
    for (auto It = Handle->Remotes.begin(); It != Handle->Remotes.end(); ++It)
        if (strcasecmp((*It)->Url.c_str(), Url) == 0) {
            NotificationEndPoint_Print(Handle, "Removed endpoint - %s\n", WithoutToken(Url).c_str());
            std::unique_ptr<RemoteEndPoint> Gone = std::move(*It);
            // With the peer gone, the URL offered to it serves nobody.
            if (!Gone->Offered.empty()) Handle->Tokens.erase(LastSegment(Gone->Offered.c_str()));
            Handle->Remotes.erase(It);
            return TRUE;
        }
    return TRUE;
}

int32 NotificationEndPoint_HasRemoteEndPoint(NotificationEndPoint *Handle) {
    NotificationEndPoint_Check(Handle);
    for (const auto &Remote : Handle->Remotes)
        if (!URL_CompareProtocol(Remote->Url.c_str(), "file")) return TRUE;
    return FALSE;
}

int32 NotificationEndPoint_Reset(NotificationEndPoint *Handle) {
    NotificationEndPoint_Check(Handle);
    for (const auto &Remote : Handle->Remotes)
        if (!Remote->Offered.empty()) Handle->Tokens.erase(LastSegment(Remote->Offered.c_str()));
    Handle->Remotes.clear();
    Handle->Peers.clear();
    return TRUE;
}

int32 NotificationEndPoint_GetWebServerHandle(NotificationEndPoint *Handle, WebServer **Server) {
    NotificationEndPoint_Check(Handle);
    Debug_CheckPointer(Server);
    *Server = Handle->Server;
    return Handle->Server != nullptr;
}
