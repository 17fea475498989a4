// The stand-in seam: the one place where everything the platform layer takes
// from the machine can be steered, so tests (and their child processes) see a
// chosen machine. Each provider has a production default and a setter; a
// child process reaches the same provider through the environment variable
// "VELMARSH_" + its key. A value set here wins, then the environment, then the
// production default.
//
// File and folder sources (keys): PROC_ROOT ("/proc": process queries,
// processor and network facts), SYS_ROOT ("/sys"), UDEV_ROOT ("/run/udev"),
// OS_RELEASE (os-release file: system name and version), LOCALE_CONF (the
// system locale file), RESOLV_CONF (read instead of the resolver's own
// configuration), PROXY_SETTINGS (the proxy settings file), DHCP_LEASES (a
// DHCP client lease file), THEME (the appearance, e.g. "Dark"), TRUST_ANCHORS
// (the PEM bundle of trust anchors; Platform_SetCertificateTrust sets it).
//
// ELEVATED ("1" or "0") answers Platform_IsElevated in place of the user id
// (tests run an unprivileged child as the elevated worker).
//
// Desktop services this platform does not have, each with its own setter
// below and a key for child processes: ELEVATOR, CONSOLE_USER ("uid:gid"),
// OPENER. The reboot sink is a function and so stays in its process.
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

// Value null clears the key's stand-in. 1.
int32 PlatformStandIn_Set(const char *Key, const char *Value);
// 1 with the stand-in (set here or in the environment), 0 with Default.
int32 PlatformStandIn_Get(const char *Key, const char *Default, char *Buffer, int32 Length);

typedef int32 (*Platform_RebootFunc)(void);

// The elevator program: run as "<elevator> <program> <arguments...>", it must
// exec the program with administrator rights (pkexec does). Default:
// "/usr/bin/pkexec" when present. 1 with the path, 0 (empty) when none.
int32 Platform_SetElevator(const char *Path);
int32 Platform_GetElevator(char *Buffer, int32 Length);

// The user logged in at the console. Default: the user who asked for root
// (SUDO_UID/SUDO_GID or PKEXEC_UID) when running as root, else a graphical
// login recorded in utmp. A negative UserId restores the default. 1 with the
// ids, 0 (both -1) when there is none.
int32 Platform_SetConsoleUser(int32 UserId, int32 GroupId);
int32 Platform_GetConsoleUser(int32 *UserId, int32 *GroupId);

// The opener of documents and URLs, run as "<opener> <target>". Default:
// "/usr/bin/xdg-open".
int32 Platform_SetOpener(const char *Path);
int32 Platform_GetOpener(char *Buffer, int32 Length);

// The restart sink (null restores the default). Default: an orderly restart
// through "systemctl reboot".
int32 Platform_SetRebootSink(Platform_RebootFunc Function);
Platform_RebootFunc Platform_GetRebootSink(void);

RUNTIME_EXTERN_C_END

#ifdef __cplusplus
#include <string>
// The key's value, or Default.
std::string PlatformStandIn_Value(const char *Key, const char *Default);
// At most Limit bytes of a small machine file (/proc, /sys, /etc, or the file
// a stand-in names) into Text; false when it cannot be opened or is no
// regular file.
bool PlatformStandIn_ReadFile(const std::string &Path, std::string &Text, size_t Limit);
#endif
