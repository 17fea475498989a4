// URL text helpers: the host, path and file name of a URL, scheme and host
// comparison, the local-host test, path normalisation and percent decoding.
// Pure functions on caller buffers; no state.
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

// Host with any port, after "//" (or from the start when there is none), up
// to the first "/", "\", "?" or "#". 0 when it does not fit.
int32 URL_ParseHost(const char *Url, char *Host, int32 Size);
// The last path segment without query and fragment; 0 when empty or cut.
int32 URL_ParseFilename(const char *Url, char *Filename, int32 Size);
// 1 when the URL's scheme (before "://") equals Scheme without case.
int32 URL_CompareProtocol(const char *Url, const char *Scheme);
// 1 when both URLs name the same host and port without case; an absent port
// is the scheme's default (80 for http, 443 for https).
int32 URL_CompareHosts(const char *A, const char *B);
// 1 when the host (without port) is "127.0.0.1" or "localhost", without case.
int32 URL_IsLocalhost(const char *Url);
// Normalises the path: "\" becomes "/", repeated "/" collapse, "." and ".."
// segments resolve (never above the root); query and fragment are kept. 0
// when the result does not fit. Flags are reserved (0).
int32 URL_FixPath(const char *Url, uint32 Flags, char *Output, int32 Size);
// The host alone: no user information, port or IPv6 brackets ("[::1]:80"
// gives "::1"). The authority follows "scheme://" or a leading "//", else
// the URL starts with it. 0 with an empty Host when there is no host, an
// IPv6 literal is unclosed or the host does not fit.
int32 URL_ParseHostWithoutPort(const char *Url, char *Host, int32 Size);
// The path after the authority, without query and fragment (may be empty);
// still percent-encoded. 0 with an empty Path when it does not fit.
int32 URL_ParsePath(const char *Url, char *Path, int32 Size);
// Percent-decodes Text into Buffer, which may be Text itself. A "%" not
// followed by two hex digits, and "%00", stay as they are, so the result is
// never cut short. 0 with an empty Buffer when the result does not fit.
int32 URL_DecodeString(const char *Text, char *Buffer, int32 Size);
// The place a URL names, as a server resolves it, for comparing places:
// "scheme://host:port" in lower case (no user information; an http or https
// URL without a port gets the scheme's default), then the path percent-decoded
// once, "\" taken as "/", with its dot segments removed (RFC 3986 section
// 5.2.4); no query or fragment. 0 with an empty Output when the URL has no
// scheme, the result does not fit, or the path has no one place: once decoded
// it holds an encoded "/" or "\", a NUL, a ";" (a server that strips a
// segment's parameters serves "..;/" as "../"), or a "%" and two hex digits
// still (a server that decodes again would find other segments there), or an
// encoded "." or ".." segment (a server that decodes first climbs there, an
// object store keyed by the path as written or a file system that follows a
// link before it takes ".." does not). Scheme and host are compared without
// case, the path with case (RFC 3986 section 6.2.2.1).
int32 URL_ResolvePlace(const char *Url, char *Output, int32 Size);
// Removes a leading "scheme://" in place; 1 when one was removed.
int32 URL_RemoveProtocol(char *Url);

RUNTIME_EXTERN_C_END

RUNTIME_EXTERN_C_BEGIN
// Macro provider (names without case; 0 for any other name):
//   UrlEncode       every byte but A-Z a-z 0-9 "-_.~" as %XX (upper case)
//   UrlQueryEncode  the same with a blank as "+"
//   UrlDecode       %XX decoded ("+" stays)
//   UrlFix          URL_FixPath
//   UrlJoin         "base,reference": the reference resolved against the base
//                   (RFC 3986 section 5.2; the first comma splits)
//   UrlParse        "part,url" with part path, query, fragment, port, domain
//                   (host and port as written), hostWithoutPort,
//                   pathWithQuery, pathWithoutFilename, queryWithFragment,
//                   urlWithoutQuery, urlWithoutFragment, urlWithoutFilename
// A result that does not fit is cut to Size.
int32 URL_ExpandKey(void *User, const char *Name, const char *Argument, char *Output, int32 Size);
RUNTIME_EXTERN_C_END
