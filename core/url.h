// URL text helpers: the host and file name of a URL, scheme and host
// comparison, the local-host test and path normalisation. Pure functions on
// caller buffers; no state.
#pragma once

#include "core/types.h"

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

RUNTIME_EXTERN_C_END
