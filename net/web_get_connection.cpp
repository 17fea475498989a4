// One persistent HTTP connection (see web_get_connection.h), on the pool's
// connection machinery.
#include "net/web_get_connection.h"

#include <errno.h>

#include <memory>
#include <string>

#include "net/web_get.h"
#include "net/web_get_internal.h"
#include "net/web_get_redirect.h"
#include "runtime/log.h"
#include "runtime/text/url.h"

struct WebGetConnection {
    ClassStruct Class;
    int32 Persistent = 1;
    int32 Timeout = 60;
    int32 PersistentTimeout = 30;
    int32 AllowProxy = 0, AllowProxyLoopback = 0;
    int32 ReportError = 1;
    WebGetRequest *Waiting = nullptr; // added, not yet started
    std::string Path;
    std::unique_ptr<WebGetPoolConnection> Socket;
    void *ConnectedUser = nullptr;
    WebGetConnection_ConnectedFunc Connected = nullptr;
};

#define WebGetConnection_Check(Handle) Class_CheckHandle((Handle), WEBGETCONNECTION_CLASSID)

namespace {

int32 DeleteObject(void *HandleAddress) {
    WebGetConnection **Handle = static_cast<WebGetConnection **>(HandleAddress);
    WebGetConnection_Close(*Handle);
    delete *Handle;
    *Handle = nullptr;
    return TRUE;
}

void Fail(WebGetRequest *Request, int32 Error, int32 SubCode, const char *FinalReason = nullptr) {
    WebGetRequestInt_Finish(Request, Error, SubCode, FinalReason);
    WebGetRequest_Release(&Request);
}

// Starts the waiting request on the kept socket when it is the same host
// and still open, else on a new one.
void Start(WebGetConnection *Self) {
    WebGetRequest *Request = Self->Waiting;
    Self->Waiting = nullptr;
    std::string Host, Path;
    int32 Port = 0;
    if (!WebGetRequestInt_SplitURL(Request->Url, &Host, &Port, &Path)) {
        Log_Error("Malformed url (%s)\n", WebGetRequestInt_Shown(Request).c_str());
        return Fail(Request, WEBGET_ERROR_CONNECT, EINVAL, WEBGET_TEXT_MALFORMED_URL);
    }
    auto &Socket = Self->Socket;
    if (Socket != nullptr &&
        (Socket->Host != Host || Socket->Port != Port || WebGetPoolInt_IdleExpired(Socket.get(), 0)))
        Socket.reset();
    if (Socket == nullptr) {
        Socket = std::make_unique<WebGetPoolConnection>();
        Socket->Host = Host;
        Socket->Port = Port;
        Socket->Key = Host + ":" + std::to_string(Port);
        int32 Error = 0;
        if (!Socket_Connect(Host.c_str(), Port, &Socket->Fd, &Error)) {
            Socket.reset();
            Log_Error("Unable to connect (%s:%d) [%d]\n", Host.c_str(), Port, Error);
            return Fail(Request, WEBGET_ERROR_CONNECT, Error);
        }
        Socket->Phase = WebGetPoolConnection::State::Connecting;
        if (Self->Connected != nullptr) {
            void *User = Self->ConnectedUser;
            WebGetConnection_ConnectedFunc Check = Self->Connected;
            Socket->Connected = [User, Check](int32 Fd) { return Check(User, Fd) != 0; };
        }
    } else {
        Socket->Phase = WebGetPoolConnection::State::Sending;
    }
    Socket->ReportErrors = Self->ReportError != 0;
    Request->Timeout = Self->Timeout;
    WebGetPoolInt_Assign(Socket.get(), Request, Path);
}

} // namespace

CLASS_DEFINE_REFERENCE(WebGetConnection, WebGetConnection, WEBGETCONNECTION_CLASSID)

int32 WebGetConnection_Create(WebGetConnection **Handle) {
    Debug_CheckPointer(Handle);
    WebGetConnection *Self = new WebGetConnection();
    Class_InitHeader(Self, WEBGETCONNECTION_CLASSID, DeleteObject);
    *Handle = Self;
    return TRUE;
}

int32 WebGetConnection_SetPersistent(WebGetConnection *Handle, int32 Flag) {
    WebGetConnection_Check(Handle);
    Handle->Persistent = Flag != 0;
    return TRUE;
}

int32 WebGetConnection_SetTimeout(WebGetConnection *Handle, int32 Seconds) {
    WebGetConnection_Check(Handle);
    if (Seconds < 1) return FALSE;
    Handle->Timeout = Seconds;
    return TRUE;
}

int32 WebGetConnection_SetPersistentTimeout(WebGetConnection *Handle, int32 Seconds) {
    WebGetConnection_Check(Handle);
    if (Seconds < 0) return FALSE;
    Handle->PersistentTimeout = Seconds;
    return TRUE;
}

int32 WebGetConnection_SetAllowProxy(WebGetConnection *Handle, int32 Flag) {
    WebGetConnection_Check(Handle);
    Handle->AllowProxy = Flag != 0;
    return TRUE;
}

int32 WebGetConnection_SetAllowProxyLoopback(WebGetConnection *Handle, int32 Flag) {
    WebGetConnection_Check(Handle);
    Handle->AllowProxyLoopback = Flag != 0;
    return TRUE;
}

int32 WebGetConnection_SetReportError(WebGetConnection *Handle, int32 Flag) {
    WebGetConnection_Check(Handle);
    Handle->ReportError = Flag != 0;
    return TRUE;
}

int32 WebGetConnection_SetConnectedCallback(WebGetConnection *Handle, void *User,
                                            WebGetConnection_ConnectedFunc Function) {
    WebGetConnection_Check(Handle);
    Handle->ConnectedUser = User;
    Handle->Connected = Function;
    return TRUE;
}

int32 WebGetConnection_RequestPending(WebGetConnection *Handle) {
    WebGetConnection_Check(Handle);
    return Handle->Waiting != nullptr || (Handle->Socket != nullptr && Handle->Socket->Current != nullptr);
}

int32 WebGetConnection_RequestAdd(WebGetConnection *Handle, WebGetRequest *Request) {
    WebGetConnection_Check(Handle);
    Class_CheckHandle(Request, WEBGETREQUEST_CLASSID);
    if (WebGetConnection_RequestPending(Handle)) return FALSE;
    if (Request->Phase == WEBGETREQUEST_PHASE_QUEUED || Request->Phase == WEBGETREQUEST_PHASE_RUNNING) return FALSE;
    Request->Phase = WEBGETREQUEST_PHASE_QUEUED;
    Request->Error = Request->SubCode = Request->Status = 0;
    Request->Body.clear();
    Request->ResponseHeaders.clear();
    char Redirected[WEBGET_URL_SIZE];
    if (WebGet_RedirectApply(Request->Url.c_str(), Redirected, (int32)sizeof(Redirected))) Request->Url = Redirected;
    Handle->Waiting = WebGetRequest_AddRef(Request);
    if (URL_CompareProtocol(Request->Url.c_str(), "https")) {
        Log_Error(WEBGET_TEXT_NO_TLS " (%s)\n", WebGetRequestInt_Shown(Request).c_str());
        Handle->Waiting = nullptr;
        Fail(Request, WEBGET_ERROR_CONNECT, 0, WEBGET_TEXT_NO_TLS);
    }
    return TRUE;
}

int32 WebGetConnection_Process(WebGetConnection *Handle) {
    WebGetConnection_Check(Handle);
    if (Handle->Waiting != nullptr) Start(Handle);
    auto &Socket = Handle->Socket;
    if (Socket == nullptr) return TRUE;
    if (Socket->Current != nullptr) {
        WebGetRequest *Request = WebGetRequest_AddRef(Socket->Current);
        WebGetPoolInt_Step(Socket.get());
        // The kept socket had been closed by the peer: once more, afresh.
        if (Request->Phase == WEBGETREQUEST_PHASE_DONE && Request->Error == -1) {
            Socket.reset();
            Request->Phase = WEBGETREQUEST_PHASE_QUEUED;
            Request->Error = Request->Status = 0;
            Request->Body.clear();
            Handle->Waiting = WebGetRequest_AddRef(Request);
        }
        WebGetRequest_Release(&Request);
    }
    if (Socket != nullptr && Socket->Current == nullptr &&
        (!Handle->Persistent || Socket->Fd < 0 || WebGetPoolInt_IdleExpired(Socket.get(), Handle->PersistentTimeout)))
        Socket.reset();
    return TRUE;
}

int32 WebGetConnection_Close(WebGetConnection *Handle) {
    WebGetConnection_Check(Handle);
    if (Handle->Waiting != nullptr) {
        WebGetRequest *Request = Handle->Waiting;
        Handle->Waiting = nullptr;
        Fail(Request, WEBGET_ERROR_USERABORT, 0);
    }
    if (Handle->Socket != nullptr && Handle->Socket->Current != nullptr) {
        Socket_Close(&Handle->Socket->Fd);
        WebGetRequest *Request = Handle->Socket->Current;
        Handle->Socket->Current = nullptr;
        Fail(Request, WEBGET_ERROR_USERABORT, 0);
    }
    Handle->Socket.reset();
    return TRUE;
}
