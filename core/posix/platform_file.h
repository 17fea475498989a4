// File-system primitives: the thin layer between the runtime's file and path
// modules and the system calls. Every path argument first goes through
// Path_Resolve ("~" becomes the home directory, the path is normalised) into
// a 1,024-byte buffer. Results are 1 or 0 with the cause in errno
// (Platform_GetLastError); Platform_Open answers a descriptor or -1.
//
// Only the primitives the log needs exist so far: opening, status, existence
// and one-level directory creation. Writing, syncing and closing an open
// descriptor are the system's own write(2), fsync(2) and close(2).
#pragma once

#include <sys/stat.h>

#include "core/types.h"

// Permission bits of Platform_Open: read, write, execute for owner, group and
// others (0444, 0222, 0111), less the process's file-creation mask.
#define PLATFORM_PERMISSION_READ 0x100
#define PLATFORM_PERMISSION_WRITE 0x80
#define PLATFORM_PERMISSION_EXECUTE 0x40

RUNTIME_EXTERN_C_BEGIN

// OpenFlags are the system's O_* flags, handed over unchanged (close-on-exec
// is always added, so launched programs never inherit runtime descriptors).
// Share is not used on this platform.
int32 Platform_Open(const char *Path, int32 OpenFlags, int32 Share, int32 Permissions);
// Status without following a final symbolic link; Status is zeroed first.
int32 Platform_Stat(const char *Path, struct stat *Status);
int32 Platform_FileExists(const char *Path);
// One level, permissions 0777 less the process's file-creation mask.
int32 Platform_CreateDirectory(const char *Path);

RUNTIME_EXTERN_C_END
