// HandOverFile: hands the parent's end-point URL to the elevated worker
// without putting it where another user can read it. The parent writes the
// URL into a file of its own (0600) inside a fresh folder of its own (0700)
// and names only the file on the worker's command line; the worker reads
// it once, after checking that folder and file belong to the user who
// launched it (or root) and that nobody else may open or replace them, and
// removes both. The parent removes them too when the worker never came.
#pragma once

#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

// Makes the folder (under $TMPDIR when it is absolute, else /tmp) and the
// file holding Text; its path goes to Path. 0 when either cannot be made.
int32 HandOverFile_Write(const char *Text, char *Path, int32 Size);
// Reads the file at Path into Text (cut to Size - 1 bytes) when the file and
// its folder are owned by Owner or root, are no links, and neither group nor
// others have any right on them; then removes both. 0, with a log line
// naming the reason, otherwise (nothing is removed then).
int32 HandOverFile_Read(const char *Path, uint32 Owner, char *Text, int32 Size);
// Removes the file and its folder when they are still there. 1.
int32 HandOverFile_Remove(const char *Path);

RUNTIME_EXTERN_C_END
