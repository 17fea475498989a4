// NotificationEndPoint: carries notifications between the windowed process
// and its elevated workflow worker over loopback HTTP. Each process runs one:
// a server on 127.0.0.1 (port chosen by the system) and one persistent
// subscription per peer. A subscriber requests a one-time URL of the peer
// ("http://127.0.0.1:<port>/<token>"); nothing a subscription request asks
// for, its EndPoint-URL included, is acted on before its token and its
// EndPoint-ID passed. The answer is an endless chunked
// stream with one RC4-enciphered JSON message per notification of the peer's
// process (the token is the key; the key stream runs on across chunks). A
// token serves one subscription; the one offered in EndPoint-URL is also
// withdrawn once the peer answers while it already subscribes to us (it
// will not use it), or when the peer's end point is removed. The
// receiver re-fires each message locally with "isRemote" true; an elevated
// end point accepts only a short list of commands.
//
// Messages are re-assembled from the deciphered bytes however TCP splits or
// merges the chunks, and every complete message is handled in order.
// Notifications fired (class "NotificationEndPoint", under the end point's
// instance): Running, Connected, Disconnected and KeepAlive (every 8 s while
// a stream of any peer is up). Main thread only.
#pragma once

#include "net/web_server.h"
#include "runtime/class.h"
#include "runtime/types.h"

#define NOTIFICATIONENDPOINT_CLASSID 0xd287e47fu
#define NOTIFICATIONENDPOINT_TOKEN_LENGTH 11
#define NOTIFICATIONENDPOINT_KEEPALIVE_MS 8000

RUNTIME_EXTERN_C_BEGIN

typedef struct NotificationEndPoint NotificationEndPoint;

int32 NotificationEndPoint_Create(NotificationEndPoint **Handle);
int32 NotificationEndPoint_Delete(NotificationEndPoint **Handle);
CLASS_DECLARE_REFERENCE(NotificationEndPoint, NotificationEndPoint)
CLASSPRINT_DECLARE(NotificationEndPoint, NotificationEndPoint)
int32 NotificationEndPoint_VerboseLog(NotificationEndPoint *Handle, int32 Level, const char *Format, ...);

int32 NotificationEndPoint_Start(NotificationEndPoint *Handle);
int32 NotificationEndPoint_Stop(NotificationEndPoint *Handle);
int32 NotificationEndPoint_IsRunning(NotificationEndPoint *Handle);
// The server runs and answers at least one subscription.
int32 NotificationEndPoint_IsConnected(NotificationEndPoint *Handle);
// One tick; whether any remote end point remains (1 while not running).
int32 NotificationEndPoint_Process(NotificationEndPoint *Handle);

// "http://127.0.0.1:<port>/", with WithToken followed by a new token that is
// issued for one subscription. 0 when the token cannot be made or the text
// does not fit.
int32 NotificationEndPoint_GetWebServerURL(NotificationEndPoint *Handle, int32 WithToken, char *Buffer, int32 Size);
// Withdraws the unused token of a URL handed out (text after the last "/").
int32 NotificationEndPoint_RemoveWebServerURL(NotificationEndPoint *Handle, const char *Url);
// Subscribes to a peer on the loopback address whose URL ends in a token of
// 1 to 11 characters (0 otherwise); 1 without change when a remote end point
// for the same host and port exists.
int32 NotificationEndPoint_AddEndPoint(NotificationEndPoint *Handle, const char *Url);
int32 NotificationEndPoint_RemoveEndPoint(NotificationEndPoint *Handle, const char *Url);
int32 NotificationEndPoint_HasRemoteEndPoint(NotificationEndPoint *Handle);
int32 NotificationEndPoint_Reset(NotificationEndPoint *Handle);
int32 NotificationEndPoint_GetWebServerHandle(NotificationEndPoint *Handle, WebServer **Server);
// The user whose processes (besides root's) may subscribe here and whose
// listeners (besides root's) this end point subscribes to; the effective
// user from creation. Each side is checked on the socket itself, whatever
// token it holds: a subscription from another user's socket gets 403, and
// a peer URL whose port another user listens on is dropped unsent. Each
// refusal is one log line.
int32 NotificationEndPoint_SetTrustedUid(NotificationEndPoint *Handle, uint32 Uid);
// Whether this end point was made in an elevated process (it then accepts
// only the commands a worker takes from its parent).
int32 NotificationEndPoint_IsElevated(NotificationEndPoint *Handle);

RUNTIME_EXTERN_C_END

#ifdef __cplusplus
#include <string>
#include <vector>
// The receiver's message reader: takes deciphered body bytes in any pieces
// and hands out each complete top-level JSON object in order. Text outside
// objects is skipped; an object over 4 MiB or nested deeper than 64 levels
// is dropped whole and reading starts over at the next "{".
class NotificationEndPointChunkReader {
  public:
    void Feed(const char *Bytes, size_t Length, std::vector<std::string> *Messages);

  private:
    std::string Current;
    std::string Closers; // the closer each open bracket expects, innermost last
    int32 Depth = 0;
    bool InString = false, Escape = false, Dropping = false;
};
#endif
