// WebGetConnection: one persistent HTTP connection that carries its own
// requests one after another, outside the pool: for streams that must not
// wait behind the pool's limits (the notification end point's endless
// chunked subscriptions). Ticked on the main thread.
//
// Time-outs are inactivity time-outs, never totals: a request fails with 961
// when no byte moves for its time-out (SetTimeout, connect included), so a
// stream lives as long as its peer keeps writing. Between requests a kept
// connection is closed after the persistent time-out (0: never).
#pragma once

#include "net/web_get_request.h"
#include "runtime/class.h"
#include "runtime/types.h"

#define WEBGETCONNECTION_CLASSID 0x2f9d06b3u

RUNTIME_EXTERN_C_BEGIN

typedef struct WebGetConnection WebGetConnection;

int32 WebGetConnection_Create(WebGetConnection **Handle);
CLASS_DECLARE_REFERENCE(WebGetConnection, WebGetConnection)

// Keep the socket for the next request (default 1).
int32 WebGetConnection_SetPersistent(WebGetConnection *Handle, int32 Flag);
// Inactivity time-out of each request in seconds (default 60, below 1 refused).
int32 WebGetConnection_SetTimeout(WebGetConnection *Handle, int32 Seconds);
// Idle time of a kept connection before it closes (default 30; 0 never).
int32 WebGetConnection_SetPersistentTimeout(WebGetConnection *Handle, int32 Seconds);
// Stored only: this client uses no proxy.
int32 WebGetConnection_SetAllowProxy(WebGetConnection *Handle, int32 Flag);
int32 WebGetConnection_SetAllowProxyLoopback(WebGetConnection *Handle, int32 Flag);
// Whether a failed connection reaches the pool's error callback (default 1).
int32 WebGetConnection_SetReportError(WebGetConnection *Handle, int32 Flag);

// Called once a new socket has connected, before any byte is sent, with
// the socket; answering 0 ends the request with 950 (sub-code EACCES) and
// closes the socket unused.
typedef int32 (*WebGetConnection_ConnectedFunc)(void *User, int32 Socket);
int32 WebGetConnection_SetConnectedCallback(WebGetConnection *Handle, void *User,
                                            WebGetConnection_ConnectedFunc Function);

// Takes a reference on the request and starts it on the next tick; 0 while
// another request is pending or for a URL this client cannot reach.
int32 WebGetConnection_RequestAdd(WebGetConnection *Handle, WebGetRequest *Request);
// Whether a request is queued or running.
int32 WebGetConnection_RequestPending(WebGetConnection *Handle);
int32 WebGetConnection_Process(WebGetConnection *Handle);
// Ends a pending request with 956 and closes the socket.
int32 WebGetConnection_Close(WebGetConnection *Handle);

RUNTIME_EXTERN_C_END
