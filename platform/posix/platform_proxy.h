// The system's proxy settings and proxy auto-config (PAC) evaluation: what
// the HTTP client asks of the operating system about proxies. Text answers
// are copied into the caller's buffer (cut to fit, always terminated).
//
// Proxy settings come from the proxy settings file (a key=value text, see
// below), else from the http_proxy, https_proxy and no_proxy variables; the
// auto-config URL from DHCP (option 252) from the DHCP client's leases. Files
// are steered through the stand-in seam (platform_stand_in.h).
//
// Proxy settings file: one "key=value" per line, "#" starts a comment; keys
// HTTPEnable, HTTPProxy, HTTPPort, HTTPSEnable, HTTPSProxy, HTTPSPort,
// ExceptionsList (comma-separated), ProxyAutoConfigEnable,
// ProxyAutoConfigURLString, ProxyAutoDiscoveryEnable. A flag counts only when
// its value is exactly 1.
//
// PAC scripts run in one Duktape heap per process, made on first use, with
// the utility functions of PAC files, dnsResolve and myIpAddress. The
// request's URL and host are handed to FindProxyForURL as string values,
// never spliced into source. An evaluation is bounded in time and memory; a
// script that throws, runs too long, or answers anything but a string gives
// 0 and a log line. Platform_Remove frees the heap.
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

typedef int32 (*Platform_ProxyGetForURLFunc)(const char *URL, char *Buffer, int32 Length, int32 Selector,
                                             int32 *OutFound);
typedef int32 (*Platform_ProxyResetFunc)(void);

// ---- System proxy settings ----

int32 Platform_ProxyGetByProtocol(const char *Protocol, char *Buffer, int32 Length);
int32 Platform_ProxyGetBypass(char *Buffer, int32 Length);
int32 Platform_ProxyGetWpadURL(char *Buffer, int32 Length);
int32 Platform_ProxyGetAutoDetect(int32 *Out);
int32 Platform_ProxyGetWpadURLFromDHCP(void *Ignored, char *Buffer, int32 Length);

// ---- Hooks of the proxy resolver ----

int32 Platform_ProxyGetForURLOverride(Platform_ProxyGetForURLFunc Function);
int32 Platform_ProxyResetOverride(Platform_ProxyResetFunc Function);
// *OutFound 0; without a hook 1 (no proxy), else the hook's answer.
int32 Platform_ProxyGetForURL(const char *URL, char *Buffer, int32 Length, int32 Selector, int32 *OutFound);
int32 Platform_ProxyReset(void);

// ---- PAC evaluation ----

int32 Platform_ProxyGetForURLWithScript(const char *Script, void *Ignored, const char *URL, char *Buffer,
                                        int32 Length);
int32 PlatformJSCore_ProxyGetForURLWithScript(const char *Script, void *Ignored, const char *URL, char *Buffer,
                                              int32 Length);
// Nothing is made before first use: 1.
int32 PlatformJSCore_Init(void);
// Frees the heap (a later evaluation makes a new one). 1.
int32 PlatformJSCore_Remove(void);
// The utility script evaluated into every new heap.
const char *PlatformJSCore_GetUtilityScript(void);
// TEST HOOK: the time one evaluation may take (default 5,000 ms; 0 restores it).
int32 PlatformJSCore_SetTimeLimit(int32 Milliseconds);
// Engine pieces: a native function made global under Name (1, 0 when the
// engine refuses); a script evaluated with any exception logged and dropped
// (1 when it ran through); the native behind dnsResolve.
struct duk_hthread;
int32 PlatformJSCore_InitGlobalFunction(struct duk_hthread *Context, const char *Name,
                                        int (*Function)(struct duk_hthread *));
int32 PlatformJSCore_EvaluateScript(struct duk_hthread *Context, const char *Script);
int PlatformJSCore_DnsResolve(struct duk_hthread *Context);

RUNTIME_EXTERN_C_END

#ifdef __cplusplus
#include <map>
#include <string>
#include <string_view>
// Parsers of the system files, shared with the fuzz targets.
// The keys of a proxy settings text ("key=value" lines, "#" comments).
std::map<std::string, std::string> PlatformNetwork_ProxySettings(std::string_view Text);
// The last auto-config URL (option 252) of a DHCP client's lease text.
std::string PlatformNetwork_LeaseWpadURL(std::string_view Text);
#endif
