// AppMark: a named mark that one process at a time holds, with a mailbox
// through which a later process hands the holder a message (its command line).
//
// The mark is the marker file "/tmp/<md5>" (the lower-case hex MD5 of the
// lower-cased name, so names differing in letter case share one mark): its
// holder keeps an exclusive flock on it, which the kernel drops when the
// holder dies, so a dead holder never keeps the mark. The mailbox is the
// POSIX shared-memory object "/<md5>" (8,192 bytes): a state word (0 empty,
// 1 being written, 2 waiting), the message length and 4,096 bytes of data.
// A new holder empties the mailbox, so a writer that died while writing
// blocks nobody. Both names can be worked out by anyone: the marker is made
// with O_EXCL, readable by all, and only a regular file of this user's with
// one name is ever taken (anything else there, another user's file included,
// counts as held); the mailbox is made anew by the holder with O_EXCL,
// owner-only, and mapped by others only when it is still so, so no other
// user can shrink it under a mapping. Its pages are reserved as it is made:
// where /dev/shm has no room the holder has no mailbox (and says so) rather
// than die at its first write. The holder removes both.
#pragma once

#include "runtime/class.h"
#include "runtime/types.h"

#define APPMARK_CLASSID 0xfe633915u
#define APPMARK_NAME_SIZE 120
#define APPMARK_PATH_SIZE 180
#define APPMARK_MESSAGE_SIZE 4096
#define APPMARK_SEGMENT_SIZE 8192

RUNTIME_EXTERN_C_BEGIN

typedef struct AppMark AppMark;
typedef int32 (*AppMark_DataFunc)(void *User, const void *Data, int32 Length);

// The mailbox as every process maps it (native byte order).
typedef struct AppMarkSegment {
    uint32 State;
    uint32 Length;
    uint8 Data[APPMARK_MESSAGE_SIZE];
} AppMarkSegment;

int32 AppMark_Create(AppMark **Mark);
// Unmaps the mailbox; the holder also removes the mailbox and the marker.
int32 AppMark_Delete(AppMark **Mark);
CLASS_DECLARE_REFERENCE(AppMark, AppMark)

int32 AppMark_SetName(AppMark *Mark, const char *Name);
int32 AppMark_GetName(AppMark *Mark, char *Output, int32 Size);
// The marker file's path for a name ("/tmp/" and 32 hex digits).
int32 AppMark_GetMarkerPath(const char *Name, char *Output, int32 Size);
int32 AppMark_SetOnDataCallback(AppMark *Mark, void *User, AppMark_DataFunc Function);
// 1 when this process holds the mark (also when the mark has no name, or
// no marker can be made at all: a process is never held back by a broken
// mark; but a name taken by anything it cannot prove free holds it back).
// Tries once, then once a second until TimeoutMs has passed. Not acquired:
// the mailbox is still mapped so that messages can be written.
int32 AppMark_AcquireWithTimeout(AppMark *Mark, int32 TimeoutMs);
// The holder's tick: hands a waiting message (at most 4,096 bytes, whatever
// length a writer stored) to the callback and empties the mailbox. Always 1.
int32 AppMark_ReadData(AppMark *Mark);
// Posts the first 4,096 bytes of Data to the holder; waits up to 20 seconds
// for the mailbox to be free. 0 when no mailbox is mapped or it stayed busy.
int32 AppMark_WriteData(AppMark *Mark, const void *Data, int32 Length);
// The mapped mailbox (tests read and corrupt it), null when none.
AppMarkSegment *AppMark_GetSegment(AppMark *Mark);

RUNTIME_EXTERN_C_END
