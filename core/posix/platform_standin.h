// Stand-ins for the desktop services this platform does not have, gathered in
// one place so that tests can steer every one of them: the elevator that runs
// a tool with administrator rights, the console user a root process starts
// ordinary programs as, the opener of documents and URLs, and the sink that
// restarts the machine. Each has a production default; a setter replaces it
// (null or -1 restores the default).
#pragma once

#include "core/types.h"

RUNTIME_EXTERN_C_BEGIN

typedef int32 (*Platform_RebootFunc)(void);

// The elevator program: run as "<elevator> <program> <arguments...>", it must
// exec the program with administrator rights (pkexec does). Default:
// "/usr/bin/pkexec" when present. 1 with the path, 0 (empty) when none.
int32 Platform_SetElevator(const char *Path);
int32 Platform_GetElevator(char *Buffer, int32 Length);

// The user logged in at the console. Default: the user who asked for root
// (SUDO_UID/SUDO_GID or PKEXEC_UID) when running as root, else a graphical
// login recorded in utmp. 1 with the ids, 0 (both -1) when there is none.
int32 Platform_SetConsoleUser(int32 UserId, int32 GroupId);
int32 Platform_GetConsoleUser(int32 *UserId, int32 *GroupId);

// The opener of documents and URLs, run as "<opener> <target>". Default:
// "/usr/bin/xdg-open".
int32 Platform_SetOpener(const char *Path);
int32 Platform_GetOpener(char *Buffer, int32 Length);

// The restart sink. Default: an orderly restart through "systemctl reboot".
int32 Platform_SetRebootSink(Platform_RebootFunc Function);
Platform_RebootFunc Platform_GetRebootSink(void);

RUNTIME_EXTERN_C_END
