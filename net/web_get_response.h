// The reading side of one HTTP/1.x exchange: status line, header block and
// body framing (Content-Length, chunked, or delimited by the peer's close),
// with gzip bodies inflated on the way. Bytes are fed as they arrive; the
// body reaches a sink de-chunked and inflated.
//
// Nothing the peer says about sizes is trusted: the head is capped (every
// status, header and trailer line, interim responses and the extensions of
// every chunk-size line included), chunk sizes
// and Content-Length are checked against the body limit before a byte is
// taken, and both the bytes as sent and the inflated output count against
// that limit. A gzip body is complete only with its stream's end and a
// trailer that checks.
#pragma once

#include "runtime/types.h"

#define WEBGETRESPONSE_HEADER_LIMIT 65536

// Feed results.
#define WEBGETRESPONSE_MORE 0      // wants more bytes
#define WEBGETRESPONSE_DONE 1      // the response is complete
#define WEBGETRESPONSE_MALFORMED 2 // the peer broke the protocol
#define WEBGETRESPONSE_TOOLARGE 3  // the body (or the header block) passed its limit
#define WEBGETRESPONSE_SINKSTOP 4  // the sink refused the bytes

RUNTIME_EXTERN_C_BEGIN

typedef struct WebGetResponse WebGetResponse;
// Receives body bytes; 0 stops the response (WEBGETRESPONSE_SINKSTOP).
typedef int32 (*WebGetResponse_SinkFunc)(void *User, const uint8 *Bytes, int32 Length);
// Called once when the header block is complete; 0 stops as above.
typedef int32 (*WebGetResponse_HeaderFunc)(void *User, WebGetResponse *Response);

int32 WebGetResponse_Create(WebGetResponse **Handle);
int32 WebGetResponse_Delete(WebGetResponse **Handle);
// Ready for a new response; HeadRequest: the response has no body.
int32 WebGetResponse_Reset(WebGetResponse *Handle, int32 HeadRequest);
// Body bytes allowed, as sent and as decoded (negative: no limit).
int32 WebGetResponse_SetLimitBodySize(WebGetResponse *Handle, int64 Limit);
// Why the response failed, where that can be said (else ""); TRUE when the
// same peer would give the same failure again (a body past its limit, an
// answer that frames itself twice), so that no retry is worth making.
int32 WebGetResponse_GetFailure(WebGetResponse *Handle, const char **Why);
int32 WebGetResponse_SetSink(WebGetResponse *Handle, void *User, WebGetResponse_SinkFunc Sink);
int32 WebGetResponse_SetHeaderCallback(WebGetResponse *Handle, void *User, WebGetResponse_HeaderFunc Function);

// Takes up to Length bytes; Consumed says how many were used (bytes after a
// complete response belong to the next one on the connection).
int32 WebGetResponse_Feed(WebGetResponse *Handle, const uint8 *Bytes, int32 Length, int32 *Consumed);
// The peer closed: completes a close-delimited body, else MALFORMED (a cut
// response is never a success), as WebGetResponse_Cut with "the peer closed
// the connection".
int32 WebGetResponse_Finish(WebGetResponse *Handle);
// The connection ended before the response did, as How says ("connection
// reset by the peer"): MALFORMED, and the failure (see
// WebGetResponse_GetFailure, not final) says How and where the answer was
// cut ("... after 50 of the body's 1000 bytes", "... before answering").
// Nothing changes for a response already complete or failed.
int32 WebGetResponse_Cut(WebGetResponse *Handle, const char *How);

int32 WebGetResponse_IsHeaderDone(WebGetResponse *Handle);
int32 WebGetResponse_GetStatusCode(WebGetResponse *Handle);
// Minor version of "HTTP/1.x".
int32 WebGetResponse_GetMinorVersion(WebGetResponse *Handle);
// The raw header block after the status line, "Name: value\r\n" lines.
const char *WebGetResponse_GetHeaderPtr(WebGetResponse *Handle);
// 1 when the connection may carry another request after this response.
int32 WebGetResponse_IsKeepAlive(WebGetResponse *Handle);
int64 WebGetResponse_GetBodyBytes(WebGetResponse *Handle);

RUNTIME_EXTERN_C_END
