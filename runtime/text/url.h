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
// segment's parameters serves "..;/" as "../"), or a "%" still (a server
// that decodes again, or reads "%u002e" as ".", would find other segments
// there), or an
// encoded "." anywhere (a server that decodes first climbs a "%2e%2e"
// segment, an object store keyed by the path as written or a file system
// that follows a link before it takes ".." does not), or bytes that are not
// UTF-8 in its shortest form (a server may read "%C0%AE" as "."). Nor has a URL that
// URL_Read refuses. Scheme and host are compared without case, the path with
// case (RFC 3986 section 6.2.2.1).
int32 URL_ResolvePlace(const char *Url, char *Output, int32 Size);
// Removes a leading "scheme://" in place; 1 when one was removed.
int32 URL_RemoveProtocol(char *Url);

RUNTIME_EXTERN_C_END

#ifdef __cplusplus
#include <string>
#include <string_view>

// A URL read once. The fetch and the place it names ("beside" a document)
// take these parts, and URL_Read refuses a URL whose password would not be
// the one URL_FindPassword hides in a line, so that no two of them can read
// one URL two ways.
struct UrlParts {
    std::string Scheme; // lower case
    std::string User, Password;
    bool HasUser = false, HasPassword = false;
    std::string Host;   // lower case, an IPv6 address in its brackets
    int32 Port = 0;     // as given, else 80 for http and 443 for https, else 0
    std::string RawPath; // as written, "\" included; may be empty
    std::string Query, Fragment;
    bool HasQuery = false, HasFragment = false;
    // The path as URL_ResolvePlace takes it (decoded once, dot segments
    // removed); empty, with OnePlace false, when it has no one place.
    std::string Path;
    bool OnePlace = false;
};

// Reads Url into Parts: 1 when it reads one way. 0, with Why in words, when
// it has no "scheme://", holds a line break, its port is not a number from 1
// to 65535, its authority holds a blank, or its user information is not the
// one URL_FindPassword finds (a password holding "/", "?", "#" or "\" ends
// the authority where a parser stops, while the user meant the last '@').
int32 URL_Read(std::string_view Url, UrlParts *Parts, const char **Why);
// In Text, which starts right after a URL's "://" and ends where its line
// does (or at the last '@' of the line, for a caller that found it): the
// password, [Start, End). The user information runs to the last '@' in Text,
// whatever comes before it ("/", "?", "#", "\", blanks and further '@'
// included: the one rule that hides a password whatever it holds), and its
// password from after its first ':'. 0 when there is none.
int32 URL_FindPassword(std::string_view Text, size_t *Start, size_t *End);
// Url as a line shows it: each control byte as %XX (upper case), and the
// password of a "scheme:user:pw@host" spelling (no "//") as "***". A password
// holding a line break would otherwise end its line before its '@', and no
// line would hide it.
std::string URL_OneLine(std::string_view Url);
#endif

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
