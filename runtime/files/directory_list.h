// DirectoryList: the entries of one directory (name, attributes, sizes,
// times) through three replaceable find callbacks, and the recursive walk of
// a directory tree to a maximum depth, reporting files and/or directories,
// each directory before (order 1) or after (order 2) its contents.
//
// A list lives on the heap (DirectoryList_Create, reference counted) or in
// the caller's memory (DirectoryList_Stack/Unstack, no delete function); the
// record is public for the second use. One thread at a time uses a list; the
// walk runs its callback on the calling thread and keeps one stack list per
// level, so its stack use grows with the depth of the tree.
//
// Entry paths of a walk are built in MAX_PATH_SIZE bytes: directory paths end
// with "/", file paths do not. An entry whose path does not fit, or whose
// name holds a backslash (which every path operation reads as a separator,
// so the path would name another file), is not reported: the walk fails with
// ENAMETOOLONG or EINVAL instead of acting on a different file. Symbolic
// links are never followed: a link to a directory is reported as a file.
//
// The walk reads each directory once, for both its passes: an entry removed
// before it is reached is not reported, one added meanwhile is not seen. An
// entry's status is read just before it is reported; one whose status cannot
// be read (a directory that may be listed but not searched) is reported with
// only its name, as a file.
#pragma once

#include <stdarg.h>

#include "runtime/class.h"
#include "runtime/posix/platform.h"
#include "runtime/types.h"

#define DIRECTORYLIST_CLASSID 0x146f58aeu
#define DIRECTORYLIST_DIRECTORY_SIZE 1024

// Walk flags: what the walk reports.
#define DIRECTORYLIST_WALK_FILES 0x1
#define DIRECTORYLIST_WALK_DIRECTORIES 0x2
// Walk orders: a directory before descending into it, or after.
#define DIRECTORYLIST_ORDER_PRE 1
#define DIRECTORYLIST_ORDER_POST 2

RUNTIME_EXTERN_C_BEGIN

typedef struct DirectoryList DirectoryList;

// Find callbacks: first answers nonzero with an entry current in *Entry and
// the enumeration in *Handle; next answers nonzero with a further entry;
// close ends the enumeration and clears *Handle.
typedef int32 (*DirectoryList_FindFirstFunc)(void *User, const char *Pattern, PlatformFindEntry *Entry,
                                             void **Handle);
typedef int32 (*DirectoryList_FindNextFunc)(void *User, void *Handle, PlatformFindEntry *Entry);
typedef int32 (*DirectoryList_FindCloseFunc)(void *User, void **Handle);
// Walk callback, with the level's list (its current entry is the one
// reported), the depth (the root's own entries are depth 0) and the entry's
// path. For a directory, 0 keeps the walk out of it (order 1); for a file, 0
// fails the walk without stopping the level.
typedef uint32 (*DirectoryList_WalkFunc)(DirectoryList *List, void *User, int32 Depth, const char *Path);

struct DirectoryList {
    ClassStruct Class;
    ClassPrintStruct Print;
    void *FindHandle;
    PlatformFindEntry Entry;
    char Directory[DIRECTORYLIST_DIRECTORY_SIZE];
    uint32 WalkFlags;
    uint32 WalkOrder;
    int32 MaxDepth;
    void *WalkUser;
    DirectoryList_WalkFunc WalkFunction;
    void *FindFirstUser;
    DirectoryList_FindFirstFunc FindFirstFunction;
    void *FindNextUser;
    DirectoryList_FindNextFunc FindNextFunction;
    void *FindCloseUser;
    DirectoryList_FindCloseFunc FindCloseFunction;
    // During a walk's callback: the open folder the reported entry lies in
    // (see DirectoryList_GetWalkFolder); -1 otherwise.
    int32 WalkFolder;
};

int32 DirectoryList_Create(DirectoryList **Handle);
// Stops the enumeration, frees the list and clears the handle.
int32 DirectoryList_Delete(DirectoryList **Handle);
CLASS_DECLARE_REFERENCE(DirectoryList, DirectoryList)
CLASSPRINT_DECLARE(DirectoryList, DirectoryList)
// Prints only when the list's verbose level reaches Level.
int32 DirectoryList_VerboseLog(DirectoryList *Handle, int32 Level, const char *Format, ...);

// A list in the caller's memory (DirectoryList_SizeOf bytes): Stack zeroes it
// and writes the defaults; Unstack stops its enumeration.
int32 DirectoryList_SizeOf(void);
int32 DirectoryList_Stack(void *Memory);
int32 DirectoryList_Unstack(DirectoryList *Handle);

// Enumeration. Start with Flags 0 lists the directory Path names ("dir/"
// lists dir, "a/dir" lists a); with Flags nonzero the last component of Path
// is a file-name wildcard. 1 when an entry is current; a missing or
// unreadable directory answers 0 without a message.
int32 DirectoryList_Start(DirectoryList *Handle, int32 Flags, const char *Path);
int32 DirectoryList_GetNext(DirectoryList *Handle);
// Ends the enumeration; may be called again.
int32 DirectoryList_Stop(DirectoryList *Handle);

// The current entry.
int32 DirectoryList_GetName(DirectoryList *Handle, char *Output, int32 Size);
int32 DirectoryList_GetSize(DirectoryList *Handle, uint64 *Bytes);
int32 DirectoryList_GetAllocatedSize(DirectoryList *Handle, uint64 *Bytes);
int32 DirectoryList_GetCreationTime(DirectoryList *Handle, float64 *Time);
int32 DirectoryList_GetModifiedTime(DirectoryList *Handle, float64 *Time);
int32 DirectoryList_IsDirectory(DirectoryList *Handle);
int32 DirectoryList_IsSymLink(DirectoryList *Handle);
int32 DirectoryList_IsSystem(DirectoryList *Handle);
int32 DirectoryList_IsReadOnly(DirectoryList *Handle);
int32 DirectoryList_IsHidden(DirectoryList *Handle);
// The name is exactly "." or "..".
int32 DirectoryList_IsDots(DirectoryList *Handle);

int32 DirectoryList_SetDirectory(DirectoryList *Handle, const char *Path);
int32 DirectoryList_GetDirectory(DirectoryList *Handle, char *Output, int32 Size);

// Walk settings: depth -1 (the default) has no limit; flags default to all
// entries, order to DIRECTORYLIST_ORDER_PRE.
int32 DirectoryList_SetMaxDepth(DirectoryList *Handle, int32 Depth);
int32 DirectoryList_SetWalkFlags(DirectoryList *Handle, uint32 Flags);
int32 DirectoryList_SetWalkOrder(DirectoryList *Handle, uint32 Order);
int32 DirectoryList_SetWalkCallback(DirectoryList *Handle, void *User, DirectoryList_WalkFunc Function);

// Find callbacks; the defaults are the platform's find primitives.
int32 DirectoryList_SetFindFirstFileCallback(DirectoryList *Handle, void *User, DirectoryList_FindFirstFunc Function);
int32 DirectoryList_SetFindNextFileCallback(DirectoryList *Handle, void *User, DirectoryList_FindNextFunc Function);
int32 DirectoryList_SetFindCloseCallback(DirectoryList *Handle, void *User, DirectoryList_FindCloseFunc Function);

// Walks the tree under Root. FilePattern (may be null) is a ";"-separated
// wildcard list, compared without case, that files must match. Each level
// reports its subdirectories (and their subtrees) before its own files. 1 on
// success; a root that cannot be listed is an empty level (1).
int32 DirectoryList_Walk(DirectoryList *Handle, const char *Root, const char *FilePattern);
// Within a walk callback, with the level's list it was handed: the descriptor
// of the folder the reported entry lies in, opened by the walk without
// following a link, so that the callback can act on the entry by its name
// there (the "at" calls) and reach that very entry even when a folder on its
// path has since been moved or replaced. -1 outside a walk's callback.
int32 DirectoryList_GetWalkFolder(DirectoryList *Handle);

RUNTIME_EXTERN_C_END
