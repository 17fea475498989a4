// One HTTP request of the least client and the per-host connection pool that
// carries it: HTTP/1.1 GET (POST with a body) over plain TCP, keep-alive
// reuse, bodies by length, chunks or close, gzip inflated, a body limit and
// an inactivity time-out (connect, then no byte for N seconds) and bounds on
// the whole: the response's head within 4 time-outs plus a second per 64 KiB
// of the header cap, the exchange within that plus a second per 64 KiB of
// the body limit (none without a limit, as for a long-lived stream), so no
// peer keeps a request going for ever by sending a byte now and then.
//
// A request is reference counted; the pool holds one reference while the
// request is queued or running. Everything runs on the main thread:
// WebGetPool_Process ticks the sockets with zero-wait polls.
//
// Failures (the request's error and sub-code): 950 Connect (refused,
// unreachable, unresolved, "https"), 961 Timeout, 956 UserAbort (removed
// before done), 900 Custom with the status as sub-code for any status but
// 2xx, 900 with sub-code 0 for a body over the limit or a broken response,
// 950 with the system's error number (EPIPE for a close) for a connection
// closed or reset before the answer's end.
// A failure no later attempt can mend (the URL asks for what this client
// cannot do: "https", a malformed URL; a body past its limit, an answer that
// frames itself twice, a body the memory cannot hold) also carries a final
// reason.
#pragma once

#include "runtime/containers/dictionary.h"
#include "runtime/types.h"

#define WEBGETREQUEST_CLASSID 0x3c1b9a57u
#define WEBGETREQUEST_HEADER_SIZE 8192
#define WEBGETREQUEST_URL_SIZE 4096
// The most body bytes (decoded) a request may hold in memory: 256 MiB.
#define WEBGETREQUEST_LIMIT_BODY_MAX (256LL * 1024 * 1024)

// The final reason of an "https" request: there is no TLS client.
#define WEBGET_TEXT_NO_TLS "TLS is not available in this build"
// The final reason of a URL without a usable host, port or path.
#define WEBGET_TEXT_MALFORMED_URL "malformed URL (no usable host, port or path)"

// Phases.
#define WEBGETREQUEST_PHASE_IDLE 0
#define WEBGETREQUEST_PHASE_QUEUED 1
#define WEBGETREQUEST_PHASE_RUNNING 2
#define WEBGETREQUEST_PHASE_DONE 3

RUNTIME_EXTERN_C_BEGIN

typedef struct WebGetRequest WebGetRequest;
// Header block received; 0 refuses the response.
typedef int32 (*WebGetRequest_HeaderDoneFunc)(void *User, WebGetRequest *Request);
// De-chunked, inflated body bytes; 0 stops the request.
typedef int32 (*WebGetRequest_FillBodyFunc)(void *User, WebGetRequest *Request, const uint8 *Bytes, int32 Length);

int32 WebGetRequest_Create(WebGetRequest **Handle);
WebGetRequest *WebGetRequest_AddRef(WebGetRequest *Handle);
int32 WebGetRequest_Release(WebGetRequest **Handle);
// Back to idle for another attempt: response, body and error cleared.
int32 WebGetRequest_Reset(WebGetRequest *Handle);

int32 WebGetRequest_SetURL(WebGetRequest *Handle, const char *Url);
const char *WebGetRequest_GetURLPtr(WebGetRequest *Handle);
// A body makes the request a POST.
int32 WebGetRequest_SetPostData(WebGetRequest *Handle, const void *Bytes, int32 Length);
int32 WebGetRequest_SetVerbose(WebGetRequest *Handle, int32 Flag);
// The URL's path is a key (a one-time token): no line the client logs about
// the request shows it, whatever the level; the URL is shown as
// "http://host:port/..." (default off).
int32 WebGetRequest_SetSecretPath(WebGetRequest *Handle, int32 Flag);
// Inactivity time-out in seconds (default 60; values below 1 refused).
int32 WebGetRequest_SetTimeout(WebGetRequest *Handle, int32 Seconds);
// Stored only: this client neither uses proxies nor resumes.
int32 WebGetRequest_SetAllowProxy(WebGetRequest *Handle, int32 Flag);
int32 WebGetRequest_SetAllowResume(WebGetRequest *Handle, int32 Flag);
// Sends "Accept-Encoding: gzip" (default on).
int32 WebGetRequest_SetAllowCompressedContent(WebGetRequest *Handle, int32 Flag);
// Body bytes allowed, as sent and decoded (default 64 MiB; negative: none).
// A body collected in the request (the default sink) never passes
// WEBGETREQUEST_LIMIT_BODY_MAX: a larger limit, or none, is read as that cap;
// only a body that goes to a sink of its own (a long-lived stream) may go
// without a limit.
int32 WebGetRequest_SetLimitBodySize(WebGetRequest *Handle, int64 Limit);
// Extra request headers (raw text, see WebGet_HeaderSet). One of a name the
// client sends itself (Host, User-Agent, Accept-Encoding, Cookie) takes the
// place of the client's; Content-Length and Transfer-Encoding are refused,
// since the client frames the body itself.
int32 WebGetRequest_SetHeader(WebGetRequest *Handle, const char *Name, const char *Value, int32 Replace);
int32 WebGetRequest_GetHeader(WebGetRequest *Handle, char *Buffer, int32 Size);
// A cookie for the Cookie line; a name of the same text is replaced.
int32 WebGetRequest_CookieSet(WebGetRequest *Handle, const char *Name, const char *Value, const char *Path,
                              const char *Domain, uint32 Flags);
int32 WebGetRequest_SetHeaderDoneCallback(WebGetRequest *Handle, void *User, WebGetRequest_HeaderDoneFunc Function);
int32 WebGetRequest_SetFillBodyCallback(WebGetRequest *Handle, void *User, WebGetRequest_FillBodyFunc Function);
// Collects the body in the request (the default); see WebGetRequest_GetBody.
int32 WebGetRequest_SetFillBodyCallbackDefault(WebGetRequest *Handle);

int32 WebGetRequest_GetPhase(WebGetRequest *Handle);
int32 WebGetRequest_IsDone(WebGetRequest *Handle);
// 0 error means success.
int32 WebGetRequest_GetError(WebGetRequest *Handle, int32 *Error, int32 *SubCode);
// 1 when the request failed in a way no later attempt can mend, with the
// reason in Buffer ("TLS is not available in this build"); 0 and an empty
// text for a success or a failure that a retry may mend.
int32 WebGetRequest_GetFinalReason(WebGetRequest *Handle, char *Buffer, int32 Size);
// Why the request failed, in words: the final reason, or for a failure a
// retry may mend what is known of it ("the peer closed the connection after
// 50 of the body's 1000 bytes"); 0 and an empty text when nothing is known.
int32 WebGetRequest_GetReason(WebGetRequest *Handle, char *Buffer, int32 Size);
int32 WebGetRequest_GetStatusCode(WebGetRequest *Handle);
int32 WebGetRequest_GetResponseHeader(WebGetRequest *Handle, const char *Name, char *Value, int32 Size);
// The collected body (default fill callback); valid until Reset or Release.
int32 WebGetRequest_GetBody(WebGetRequest *Handle, const uint8 **Bytes, int32 *Length);

// The pool (process-wide, main thread).
int32 WebGetPool_Init(void);
int32 WebGetPool_Remove(void);
int32 WebGetPool_Process(void);
// Queues the request (takes a reference). 0 when it is already queued or
// running, or the pool is not started.
int32 WebGetPool_RequestAdd(WebGetRequest *Handle);
// Stops and drops a queued or running request: it ends with 956.
int32 WebGetPool_RequestRemove(WebGetRequest *Handle);
// Stops the pool, as when the program is asked to end: every queued and
// running request ends with 956, and so does every request added from now
// on, at once, until the pool is removed. 0 when the pool is not started.
int32 WebGetPool_Stop(void);
int32 WebGetPool_IsStopped(void);
// Hosts served at once (default 5) and connections per host (default 6).
int32 WebGetPool_SetMaxHostCount(int32 Count);
int32 WebGetPool_SetMaxHostConnectionCount(int32 Count);
// Told of every failed connection (refused, unreachable, time-out, reset),
// with the peer's host and port; the application turns it into its
// connection-error notification. Null removes it.
typedef int32 (*WebGetPool_ErrorFunc)(const char *RemoteHost, int32 RemotePort, int32 Error, int32 SubCode);
int32 WebGetPool_SetErrorCallback(WebGetPool_ErrorFunc Function);
// 1 when the (address, port) pair has not been reported in the last 3,600 s
// (and records it now), so that one dead peer is reported once an hour.
int32 WebGet_ErrorFilter(const char *Address, int32 Port);
// Client settings kept for callers: this client answers no authentication
// challenge and speaks no TLS, so neither changes a request.
int32 WebGet_SetAllowAuthentication(int32 Flag);
int32 WebGet_GetAllowAuthentication(void);
int32 WebGet_CertStoreSetDefaultHandle(void *Store);
void *WebGet_CertStoreGetDefaultHandle(void);
// Open connections (tests: keep-alive reuse).
int32 WebGetPool_GetConnectionCount(void);

RUNTIME_EXTERN_C_END

RUNTIME_EXTERN_C_BEGIN
// X-Cache counts of the responses received: a Dictionary keyed by host, each
// entry {"hit": n, "miss": n} counted from the first word of the response's
// "X-Cache" header ("HIT" or "MISS", without case). Lock hands out the
// Dictionary under the client's lock; every Lock needs its Unlock.
int32 WebGet_XCacheLockDictionaryHandle(Dictionary **Counts);
int32 WebGet_XCacheUnlockDictionaryHandle(void);
// Frees the counts (they start again from none).
int32 WebGet_XCacheRemove(void);
RUNTIME_EXTERN_C_END
