// Paths: free functions over path texts and the file system. The slash is the
// separator; a backslash is accepted everywhere as one and written as a
// slash. When the last component is located a colon also counts as a
// separator. A leading "~" stands for the user's home directory.
//
// The functions keep no state and may run on any thread. Results are cut to
// the caller's buffer size and always terminated; paths are built in
// MAX_PATH_SIZE (320-byte) buffers. Error outputs are platform error numbers.
#pragma once

#include <sys/stat.h>

#include "core/types.h"

// Path_Fix flags.
#define PATH_FIX_REMOVE_TRAILING 1
#define PATH_FIX_ENSURE_TRAILING 2
#define PATH_FIX_KEEP_LEADING_PARENTS 4

RUNTIME_EXTERN_C_BEGIN

// Texts (no file-system access except the home directory of Path_Resolve).
int32 Path_Resolve(const char *Path, char *Output, int32 Size);
int32 Path_Fix(char *Path, int32 Size, int32 Flags);
int32 Path_FixSlash(char *Path, int32 Size, int32 Trailing);
int32 Path_Compare(const char *A, const char *B, int32 IgnoreCase);
int32 Path_ParseFilenamePtr(const char *Path, const char **Filename);
int32 Path_ParseFilename(const char *Path, char *Output, int32 Size);
int32 Path_ParseDirectory(const char *Path, char *Output, int32 Size);
int32 Path_ParseExtensionPtr(const char *Path, int32 IncludeDot, const char **Extension);
int32 Path_ParseExtension(const char *Path, int32 IncludeDot, char *Output, int32 Size);
int32 Path_RemoveExtension(char *Path);
int32 Path_RemoveFilename(char *Path);

// Examination ("~" resolved and the path fixed first).
int32 Path_Stat(const char *Path, struct stat *Status);
int32 Path_Exists(const char *Path);
int32 Path_IsDirectory(const char *Path);
int32 Path_DirectoryExists(const char *Path);

// Creates the directory with all missing parents; with StripFilename 1 the
// last component is a file name and is dropped first. *Error (may be null)
// receives the platform error of a failure, 0 on success.
int32 Path_CreateDirectory(const char *Path, int32 StripFilename, int32 *Error);
// Makes an existing path writable for its owner: the owner's write bit added
// and, for a file, its read-only mark (the immutable flag) cleared. 0 when
// the path is missing or a link, or its mode cannot be read or changed.
int32 Path_EnsureWritable(const char *Path);

RUNTIME_EXTERN_C_END
