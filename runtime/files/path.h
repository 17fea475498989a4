// Paths: free functions over path texts and the file system. The slash is the
// separator; a backslash is accepted everywhere as one and written as a
// slash. When the last component is located a colon also counts as a
// separator. A leading "~" stands for the user's home directory.
//
// The functions keep no state (but for the one directory-size count) and may
// run on any thread. Text results are cut to the caller's buffer size and
// always terminated; paths are built in MAX_PATH_SIZE (320-byte) buffers, and
// an operation on the disk refuses a path that does not fit with
// ENAMETOOLONG before touching anything: a cut path names another file.
// Error outputs are platform error numbers.
#pragma once

#include <sys/stat.h>

#include "runtime/posix/platform.h"
#include "runtime/types.h"

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
int32 Path_ParseFilenameWithoutExtension(const char *Path, char *Output, int32 Size);
int32 Path_RemoveExtension(char *Path);
int32 Path_RemoveFilename(char *Path);
// Keeps only the last component; 0 when it is empty.
int32 Path_RemoveDirectory(char *Path);
// "file:" URLs: relative paths as "file:./...", absolute ones as "file:///...".
// From a URL: 0 (and an empty Output) for a text that is no file URL.
int32 Path_ConvertToURL(const char *Path, char *Output, int32 Size);
int32 Path_ConvertFromURL(const char *Url, char *Output, int32 Size);

// Examination ("~" resolved and the path fixed first).
int32 Path_Stat(const char *Path, struct stat *Status);
int32 Path_Exists(const char *Path);
int32 Path_IsDirectory(const char *Path);
int32 Path_DirectoryExists(const char *Path);

// Lists the directory: 1 when it holds nothing but "." and "..", also when
// it cannot be listed.
int32 Path_IsDirectoryEmpty(const char *Path);
int32 Path_IsSymLink(const char *Path);
// The text of a link; the final target of a chain of links (at most 25, else
// 0 and an empty Output).
int32 Path_ReadLink(const char *Path, char *Output, int32 Size);
int32 Path_FollowLink(const char *Path, char *Output, int32 Size);
// Size in bytes from the status (0 when there is none); the status's result.
int32 Path_GetFileSize(const char *Path, uint64 *Size);

// Facts and changes with an error output (may be null; 0 on success) and a
// level-3 log line "Operation(path) failed [LE: n]" on failure. Times are
// encoded times (seconds since 1970). A link's mode and group are never
// changed: that would change its target.
int32 Path_GetCreationTime(const char *Path, float64 *Time, int32 *Error);
int32 Path_GetModifiedTime(const char *Path, float64 *Time, int32 *Error);
int32 Path_SetModifiedTime(const char *Path, int32 *Error, float64 Time);
// The 16-bit status mode (type and permission bits).
int32 Path_GetMode(const char *Path, uint32 *Mode, int32 *Error);
int32 Path_SetMode(const char *Path, uint32 Mode, int32 *Error);
// Gives the path to a user or group by name ("Everyone...", "Users..." and
// "Authenticated..." set permission bits instead).
int32 Path_SetGroup(const char *Path, const char *Name);
// PLATFORM_ATTRIBUTE_* bits. A failed read is logged only without Error.
int32 Path_GetAttributes(const char *Path, uint32 *Attributes, int32 *Error);
int32 Path_SetAttributes(const char *Path, uint32 Attributes, int32 *Error);
// 1 when two status records differ in identity, type, links, owner, size or
// the seconds of the modification or status-change time.
int32 Path_HasChanged(const struct stat *A, const struct stat *B);
int32 Path_ResetChanged(struct stat *Status);

// Changes. Attempts are made one second apart (moved on by the test clock
// under test), each retry logged. Error (may be null except for moves and
// renames) receives the platform error, 0 on success.
//
// Creates the directory with all missing parents; with StripFilename 1 the
// last component is a file name and is dropped first.
int32 Path_CreateDirectory(const char *Path, int32 StripFilename, int32 *Error);
// Creates LinkPath (and its parents) holding Target as given.
int32 Path_CreateSymLink(const char *LinkPath, const char *Target, int32 IsDirectory);
// Clears the immutable flag and gives the owner write permission: 1 when the
// path is writable afterwards.
int32 Path_EnsureWritable(const char *Path);
// A missing file is erased (1); a directory is refused. A link is removed
// itself, never its target.
int32 Path_EraseFile(const char *Path, int32 Attempts, int32 *Error);
// Erases the tree, contents first. A missing root is success (with the
// "missing" error); a root that is a link is removed as a link.
int32 Path_EraseDirectory(const char *Path, int32 Attempts, int32 *Error);
// Moves a file, making the target's directory. An existing target is kept
// unless ReplaceExisting is 1, and then stays whole until its replacement is
// complete. Across volumes the data is copied (with Progress; without one
// the move fails) and the source deleted only after a complete copy.
int32 Path_MoveFile(const char *Source, const char *Target, int32 ReplaceExisting, int32 Attempts, int32 *Error,
                    void *User, Platform_CopyProgressFunc Progress);
int32 Path_RenameFile(const char *Source, const char *Target, int32 Attempts, int32 *Error);
// Copies a file with its metadata, making the target's directory. A failed
// or cancelled copy leaves nothing behind. FailIfExists other than 0 or 1 and
// Attempts below 1 are fatal stops.
int32 Path_CopyFile(const char *Source, const char *Target, int32 FailIfExists, int32 Attempts, int32 *Error,
                    void *User, Platform_CopyProgressFunc Progress);
// One move of a directory, no retries.
int32 Path_MoveDirectory(const char *Source, const char *Target);
// Copies the tree (only its first level unless Recursive is 1), keeping
// existing targets unless Overwrite is 1; links are recreated as links.
int32 Path_CopyDirectory(const char *Source, const char *Target, int32 Overwrite, int32 Recursive);

// The path macros of macro expansion (a String_ExpandFunc): PathSlash,
// PathParse, PathFix, PathJoin, PathToUrl, PathFromUrl, names without case.
int32 Path_ExpandKey(void *User, const char *Name, const char *Argument, char *Output, int32 Size);

RUNTIME_EXTERN_C_END
