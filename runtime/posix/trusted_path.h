// TrustedPath: the one way this program opens a file or folder that it
// trusts (a log folder, its temporary folder, a program it checked before it
// runs it, a library it authenticates before it loads it).
//
// The path is walked from "/" one folder at a time, each opened with
// O_NOFOLLOW through the descriptor of the one above, so nothing on the way
// can be swapped between a check and a use: the answer is a descriptor, and
// the caller hashes, reads, runs or loads through it, never by the name
// again. Every folder on the way must be root's or this user's (the
// effective one: root's alone, for a root worker) and, unless sticky, closed
// to other users' writes: whoever may write in a folder above can move what
// is below it away and put another thing, or a link, at its name. A link on
// the way is followed only when it is itself root's or this user's (a link
// in a sticky shared folder may be another user's); it may not lead more
// than 40 times; a link at the name of a FOLDER is refused. "." and ".." in
// Path are refused, since a path kept as text would name something else
// later ("link/." names what the link points to); in a link's target they
// are walked, from folders already held open.
#pragma once

#include "runtime/types.h"

// What Path must name.
#define TRUSTEDPATH_FILE 0    // a regular file, opened to read, root's or this user's, closed to others' writes
#define TRUSTEDPATH_FOLDER 1  // a folder, under the same rules as those above it
#define TRUSTEDPATH_MAKE 2    // with FOLDER: missing folders are made (0700) on the way
#define TRUSTEDPATH_OWN 4     // the last is this user's own and no other user may write it
#define TRUSTEDPATH_PRIVATE 8 // with OWN: no other user has any right on it
// The owner and mode of the folders above are held to the rules only in a
// root process (a log: an ordinary user's may sit below a shared folder, the
// walk still refusing others' links and the last folder still checked).
#define TRUSTEDPATH_ABOVE_IF_ROOT 16

// Why a path was refused.
#define TRUSTEDPATH_ERROR 1           // a call failed: Error holds its errno
#define TRUSTEDPATH_DOTS 2            // the path names "." or ".."
#define TRUSTEDPATH_ABOVE_KIND 3      // a name above is no folder
#define TRUSTEDPATH_ABOVE_OTHER 4     // a folder or link above is another user's
#define TRUSTEDPATH_ABOVE_WRITABLE 5  // other users may write in a folder above
#define TRUSTEDPATH_ABOVE_LINK 6      // a link above cannot be followed
#define TRUSTEDPATH_LINK 7            // the last is a link
#define TRUSTEDPATH_KIND 8            // the last is not of the kind asked
#define TRUSTEDPATH_OTHER 9           // the last is another user's
#define TRUSTEDPATH_WRITABLE 10       // other users may write it
#define TRUSTEDPATH_RIGHTS 11         // other users have rights on it (PRIVATE)
#define TRUSTEDPATH_ABOVE_MISSING 12   // a folder above cannot be looked at: Error holds why
#define TRUSTEDPATH_WHERE_SIZE 1024

RUNTIME_EXTERN_C_BEGIN

typedef struct TrustedPathRefusal {
    int32 Reason;                        // TRUSTEDPATH_* above, 0 when opened
    int32 Error;                         // the errno of TRUSTEDPATH_ERROR
    char Where[TRUSTEDPATH_WHERE_SIZE]; // the folder or link refused
} TrustedPathRefusal;

// Opens Path (a relative one from the working folder) under the rules above.
// 1 and the descriptor (close-on-exec), or 0
// with why in Refusal (may be null).
int32 TrustedPath_Open(const char *Path, uint32 Flags, int32 *Descriptor, TrustedPathRefusal *Refusal);
// The refusal as one line of text without the path itself ("the folder above
// it /x belongs to another user", "it is a link", ...).
int32 TrustedPath_Explain(const TrustedPathRefusal *Refusal, uint32 Flags, char *Output, int32 Size);

RUNTIME_EXTERN_C_END
