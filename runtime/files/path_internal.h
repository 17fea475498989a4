// What the path module's sources share: resolving a path into a path buffer
// without cutting it, and the waits between attempts.
#pragma once

#include "runtime/types.h"

// Resolves "~" and fixes Path into a MAX_PATH_SIZE buffer; false (errno
// ENAMETOOLONG) when it does not fit: a cut path would name another file.
bool PathInt_ResolveFitting(const char *Path, char (&Output)[MAX_PATH_SIZE], int32 FixFlags);
// The platform error of a path that was refused before touching the disk.
int32 PathInt_NameTooLong(void);
