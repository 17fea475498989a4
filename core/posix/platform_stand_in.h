// The stand-in seam: the one place where the sources of system facts can be
// steered, so tests (and their child processes) see a chosen machine. Each
// key names a file or folder the platform layer reads; a value set here wins,
// then the environment variable "VELMARSH_" + key, then the production
// default the caller passes.
//
// Keys: PROC_ROOT ("/proc": process queries, processor and network facts),
// SYS_ROOT ("/sys"), UDEV_ROOT ("/run/udev"), OS_RELEASE (os-release file), LOCALE_CONF (the system locale file),
// RESOLV_CONF (read instead of the resolver's own configuration),
// PROXY_SETTINGS (the proxy settings file), DHCP_LEASES (a DHCP client lease
// file), THEME (the appearance, e.g. "Dark").
#pragma once

#include "core/types.h"

RUNTIME_EXTERN_C_BEGIN

// Value null clears the key's stand-in. 1.
int32 PlatformStandIn_Set(const char *Key, const char *Value);
// 1 with the stand-in (set here or in the environment), 0 with Default.
int32 PlatformStandIn_Get(const char *Key, const char *Default, char *Buffer, int32 Length);

RUNTIME_EXTERN_C_END

#ifdef __cplusplus
#include <string>
// The key's value, or Default.
std::string PlatformStandIn_Value(const char *Key, const char *Default);
#endif
