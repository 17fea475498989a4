// The HTTP client's share of the runtime core: the host-whitelist decision
// that the script bridge hands to every class family ("WebGet_Authorize"),
// and the dispatchers of the script classes "TQX.WebGet" and "TQX.Analytics"
// that the core class family makes.
//
// This host has no HTTP client yet: the host whitelist is empty and
// authentication is on (its state after start-up), so WebGet_Authorize
// refuses every URL that no override allows, and the two dispatchers know no
// method (they read the selector and answer 0, as for any unknown method).
// A loaded family installs the host's decision with WebGet_AuthorizeOverride.
#pragma once

#include "core/dictionary.h"
#include "core/types.h"

RUNTIME_EXTERN_C_BEGIN

typedef int32 (*WebGet_AuthorizeFunc)(const char *Url);

// 1 when the URL may be fetched. A URL without "//" is malformed (0).
int32 WebGet_Authorize(const char *Url);
// Stores a replacement for WebGet_Authorize; null removes it. Always 1.
int32 WebGet_AuthorizeOverride(WebGet_AuthorizeFunc Function);

// Stateless dispatchers (User is none).
int32 WebGet_Invoke(void *User, Dictionary *Request, Dictionary *Result);
int32 Analytics_Invoke(void *User, Dictionary *Request, Dictionary *Result);

RUNTIME_EXTERN_C_END
