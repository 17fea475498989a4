// Helpers shared by the file-system primitives' sources; not for other modules.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include "runtime/types.h"

// Paths are resolved into buffers of this size.
#define PLATFORM_RESOLVED_PATH_SIZE 1024

// Path_Resolve into Resolved; false with ENAMETOOLONG when it does not fit
// (a cut path names another file).
bool PlatformFile_Resolve(const char *Path, char (&Resolved)[PLATFORM_RESOLVED_PATH_SIZE]);
// Attribute bits of a file named Name (null: no name test) with the status
// (null: status failed, only "hidden" can be set).
uint32 PlatformFile_Attributes(const char *Name, const struct statx *Status);
bool PlatformFile_LookUpGroup(const char *Name, gid_t *Group);
