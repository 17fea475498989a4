// The HTTP client's face to pages and to the rest of the network layer: the
// host-whitelist decision that the script bridge hands to every class family
// ("WebGet_Authorize"), the client's error names and raw header helpers, and
// the dispatchers of the script classes "TQX.WebGet" and "TQX.Analytics".
//
// The client itself is web_get_request.h (one request and the connection
// pool), and async_http.h loads documents through it. WebGet_Authorize allows
// the hosts added to the whitelist, and every other host only while
// authentication is off (crypto/authenticate_switch.h). The two script
// classes offer pages no request of their own: their dispatchers know no
// method (they read the selector and answer 0, as for any unknown method).
// A loaded family installs the host's decision with WebGet_AuthorizeOverride.
#pragma once

#include "runtime/containers/dictionary.h"
#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

typedef int32 (*WebGet_AuthorizeFunc)(const char *Url);

// 1 when the URL may be fetched. A URL without "//" is malformed (0).
int32 WebGet_Authorize(const char *Url);
// Stores a replacement for WebGet_Authorize; null removes it. Always 1.
int32 WebGet_AuthorizeOverride(WebGet_AuthorizeFunc Function);
// 1 when the client can make a request of the http:// URL: a host as RFC 3986
// writes one (a name or a bracketed IPv6 address), a port from 1 to 65535
// when one is given, no blank or line break. Any other URL would fail every
// attempt the same way.
int32 WebGet_CheckURL(const char *Url);
// Adds a host name (without port; compared without case) to the whitelist.
int32 WebGet_WhitelistAdd(const char *Host);
// Empties the whitelist (tests and the application's stop).
int32 WebGet_WhitelistReset(void);

// HTTP client error codes, named by WebGet_TranslateError ("Unknown" for
// codes without a name).
#define WEBGET_ERROR_CUSTOM 900
#define WEBGET_ERROR_CONNECT 950
#define WEBGET_ERROR_USERABORT 956
#define WEBGET_ERROR_TIMEOUT 961
#define WEBGET_ERROR_OS 964
#define WEBGET_ERROR_JSON 987
#define WEBGET_ERROR_VCDIFF 988
#define WEBGET_ERROR_STORAGE 989
#define WEBGET_ERROR_XML 992
// A YAML body that does not parse (sub-code: the YAML parser's error).
#define WEBGET_ERROR_YAML 993
const char *WebGet_TranslateError(int32 Code);
// Why a connection failed, from the system's error number (the sub-code of
// WEBGET_ERROR_CONNECT), in words of our own for the causes a user meets
// ("connection refused"); null for any other number.
const char *WebGet_DescribeConnectError(int32 SubCode);

// Raw header text ("Name: value\r\n" lines), names compared without case.
// Get copies the first value of the name, trimmed (0 when absent or cut).
int32 WebGet_HeaderGetByName(const char *Headers, const char *Name, char *Value, int32 Size);
// Set appends the line, or with Replace rewrites every line of that name;
// 0 when the result would not fit in Size or the name or value holds a line
// break (header injection).
int32 WebGet_HeaderSet(char *Headers, int32 Size, const char *Name, const char *Value, int32 Replace);

// Stateless dispatchers (User is none).
int32 WebGet_Invoke(void *User, Dictionary *Request, Dictionary *Result);
int32 Analytics_Invoke(void *User, Dictionary *Request, Dictionary *Result);

RUNTIME_EXTERN_C_END
