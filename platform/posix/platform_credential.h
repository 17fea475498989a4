// Credentials: the stand-in for the keychain.
//
// Credentials live in an owner-only property-list file (see
// preference_store.h: credentials.plist, 0600 in a 0700 folder that is
// tightened when it exists with looser modes); they are protected by file
// permissions only. A generic item is identified by its service; a web item
// by protocol, host, port and security domain. After a set there is one
// item per identity. Passwords read back are always terminated (cut to the
// buffer less one byte).
//
// Web credential types: 0 HTTP and HTTPS, 1 HTTP proxy and HTTPS proxy,
// 2 HTTP, 3 HTTPS, 4 HTTP proxy, 5 HTTPS proxy; any other type answers 0
// (page input never stops the program). A server is "host[:port]" of at
// most 120 bytes; the port defaults to 80.
#pragma once

#include "runtime/types.h"

#define PLATFORM_WEBCREDENTIAL_HTTPANDHTTPS 0
#define PLATFORM_WEBCREDENTIAL_PROXIES 1
#define PLATFORM_WEBCREDENTIAL_HTTP 2
#define PLATFORM_WEBCREDENTIAL_HTTPS 3
#define PLATFORM_WEBCREDENTIAL_HTTPPROXY 4
#define PLATFORM_WEBCREDENTIAL_HTTPSPROXY 5

RUNTIME_EXTERN_C_BEGIN

// User and password both given: store or replace; both null: delete (0
// when there was nothing). Only one of them null is a fatal stop.
int32 Platform_SetCredential(const char *Service, const char *User, const char *Password);
int32 Platform_GetCredential(const char *Service, char *User, int32 UserLength, char *Password,
                             int32 PasswordLength);

int32 Platform_SetWebCredential(int32 Type, const char *Server, const char *SecurityDomain, const char *User,
                                const char *Password);
int32 Platform_GetWebCredential(int32 Type, const char *Server, const char *SecurityDomain, char *User,
                                int32 UserLength, char *Password, int32 PasswordLength);

RUNTIME_EXTERN_C_END
