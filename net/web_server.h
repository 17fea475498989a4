// WebServer: the least HTTP/1.1 server, for peers on this machine only. It
// listens on a loopback address (127.0.0.1 unless told another 127.x.y.z),
// on a port the system picks when the port is 0, accepts without blocking
// and ticks one state machine per connection on the main thread.
//
// A connection reads one request header block (GET or HEAD; a request body
// is skipped by its Content-Length), asks RequestHeader and then
// ResponseHeader of its callbacks, writes exactly the status line and the
// headers set (SetResponse(code, -1): no Content-Length, and no framing of
// the server's own), then pulls the body from ResponseBody. A body of known
// length ends the response and, on a persistent connection, the next
// request is read; a body without length streams until either side closes.
// ResponseHeader answering 0 refuses the request: the status set (403 when
// none was) goes out with an empty body and the connection closes (the
// callback logs why).
//
// Nothing a peer sends stops the server: a header block over 16 KiB, a
// broken request line or a chunked request body end that connection with
// 400 (431, 501) and a log line. A connection has 10 seconds from its
// accept, or from the end of its previous response, to send a whole request
// (head and announced body), however it drips the bytes; then it is closed.
// Of 64 connections at most, when all are taken the one that has waited
// longest for a request gives way to a new one, an idle kept-alive
// connection before one part way through its request.
#pragma once

#include "runtime/class.h"
#include "runtime/types.h"

#define WEBSERVER_CLASSID 0x5e7b1c42u
#define WEBSERVER_HEADER_LIMIT 16384

RUNTIME_EXTERN_C_BEGIN

typedef struct WebServer WebServer;
typedef struct WebServerConnection WebServerConnection;

// Open, RequestHeader, ResponseHeader and Close. ResponseHeader's 0
// refuses the request; the others' results are ignored.
typedef int32 (*WebServer_ConnectionFunc)(void *User, WebServer *Server, WebServerConnection *Connection);
// Asked for up to Wanted body bytes, which it hands over with
// WebServer_ConnectionResponseWrite; 0 closes the connection.
typedef int32 (*WebServer_ResponseBodyFunc)(void *User, WebServer *Server, WebServerConnection *Connection,
                                            int32 Wanted);
typedef int32 (*WebServer_ListenChangedFunc)(void *User, WebServer *Server);

int32 WebServer_Create(WebServer **Handle);
int32 WebServer_Delete(WebServer **Handle);
CLASS_DECLARE_REFERENCE(WebServer, WebServer)

// A dotted IPv4 address in 127.0.0.0/8; anything else is refused (0).
int32 WebServer_SetListenIP(WebServer *Handle, const char *Address);
// 0: the system chooses. Takes effect at the next Start.
int32 WebServer_SetListenPort(WebServer *Handle, int32 Port);
int32 WebServer_SetPersistentConnections(WebServer *Handle, int32 Flag);
int32 WebServer_SetPrintCallback(WebServer *Handle, void *User, ClassPrint_Func Function);

int32 WebServer_SetConnectionOpenCallback(WebServer *Handle, void *User, WebServer_ConnectionFunc Function);
int32 WebServer_SetConnectionRequestHeaderCallback(WebServer *Handle, void *User, WebServer_ConnectionFunc Function);
int32 WebServer_SetConnectionResponseHeaderCallback(WebServer *Handle, void *User, WebServer_ConnectionFunc Function);
int32 WebServer_SetConnectionResponseBodyCallback(WebServer *Handle, void *User, WebServer_ResponseBodyFunc Function);
int32 WebServer_SetConnectionCloseCallback(WebServer *Handle, void *User, WebServer_ConnectionFunc Function);
int32 WebServer_SetListenChangedCallback(WebServer *Handle, void *User, WebServer_ListenChangedFunc Function);

// Start binds and listens (1, or 0 with a log line); Stop closes every
// connection (each gets Close) and the listener.
int32 WebServer_Start(WebServer *Handle);
int32 WebServer_Stop(WebServer *Handle);
// One tick: accepts, reads, answers and writes what the sockets take now.
int32 WebServer_Process(WebServer *Handle);
int32 WebServer_IsRunning(WebServer *Handle);
int32 WebServer_GetActiveListenPort(WebServer *Handle, int32 *Port);
int32 WebServer_GetConnectionCount(WebServer *Handle);

// Connection access, valid inside the callbacks and until Close.
int32 WebServer_ConnectionGetRequestHeader(WebServer *Handle, WebServerConnection *Connection, const char *Name,
                                           char *Buffer, int32 Size);
// The requested path without query ("/" at least).
const char *WebServer_ConnectionGetFilenamePtr(WebServer *Handle, WebServerConnection *Connection);
const char *WebServer_ConnectionGetMethodPtr(WebServer *Handle, WebServerConnection *Connection);
// ContentLength -1: none (the body streams until a side closes).
int32 WebServer_ConnectionSetResponse(WebServer *Handle, WebServerConnection *Connection, int32 Code,
                                      int64 ContentLength);
// 0 for a name or value with a line break.
int32 WebServer_ConnectionSetResponseHeader(WebServer *Handle, WebServerConnection *Connection, const char *Name,
                                            const char *Value);
// Bytes taken (at most what ResponseBody was asked for, or all of them
// outside that call for a streaming response).
int32 WebServer_ConnectionResponseWrite(WebServer *Handle, WebServerConnection *Connection, const void *Bytes,
                                        int32 Length);
int32 WebServer_ConnectionSetUserHandle(WebServer *Handle, WebServerConnection *Connection, void *User);
void *WebServer_ConnectionGetUserHandle(WebServer *Handle, WebServerConnection *Connection);
int32 WebServer_ConnectionGetRemotePort(WebServer *Handle, WebServerConnection *Connection);
// The user owning the peer's socket (a process on this machine); 0 when it
// cannot be told.
int32 WebServer_ConnectionGetPeerUid(WebServer *Handle, WebServerConnection *Connection, uint32 *Uid);

// The request reader, on its own for tests and fuzzing: parses one header
// block from the front of Bytes. Results below; Consumed is the header
// block's length on DONE.
#define WEBSERVER_PARSE_MORE 0
#define WEBSERVER_PARSE_DONE 1
#define WEBSERVER_PARSE_MALFORMED 2
#define WEBSERVER_PARSE_TOOLARGE 3
#define WEBSERVER_PARSE_UNSUPPORTED 4

RUNTIME_EXTERN_C_END

#ifdef __cplusplus
#include <string>
struct WebServerRequest {
    std::string Method, Target, Path, Headers; // Headers: "Name: value\r\n" lines
    int32 Minor = 1;
    int64 BodyLength = 0;
    bool KeepAlive = true;
};
int32 WebServer_ParseRequest(const char *Bytes, size_t Length, WebServerRequest *Request, size_t *Consumed);
#endif
