// AppMark: see app_mark.h.
#include "platform/app_mark.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

#include "crypto/digests/hash.h"
#include "crypto/digests/md5.h"
#include "runtime/memory.h"
#include "runtime/posix/platform.h"
#include "runtime/text/string.h"

struct AppMark {
    ClassStruct Class;
    char Name[APPMARK_NAME_SIZE];
    char MarkerPath[APPMARK_PATH_SIZE];
    int32 Marker; // the locked marker file while holding, else -1
    AppMarkSegment *Segment;
    uint32 MadeSegment; // this run made the mailbox (as the holder) and removes it
    void *DataUser;
    AppMark_DataFunc DataFunction;
};

#define AppMark_Check(Handle) Class_CheckHandle((Handle), APPMARK_CLASSID)

namespace {

constexpr int32 RetryMs = 1000;
constexpr int32 WriteWaitMs = 500;
constexpr int32 WriteAttempts = 40;

int32 DeleteThroughClass(void *HandleAddress) { return AppMark_Delete(static_cast<AppMark **>(HandleAddress)); }

std::atomic_ref<uint32> StateOf(AppMarkSegment *Segment) { return std::atomic_ref<uint32>(Segment->State); }

// The digest of the lower-cased name, computed directly: the name is never
// read as macros.
bool Digest(const char *Name, char *Hex, int32 Size) {
    char Lower[APPMARK_NAME_SIZE];
    String_CopyLength(Lower, Name, (int32)sizeof(Lower));
    for (char *At = Lower; *At != 0; At++)
        if (*At >= 'A' && *At <= 'Z') *At = (char)(*At - 'A' + 'a');
    return Hash_QuickString(&MD5_INTERFACE, Lower, (uint32)strlen(Lower), 0, Hex, Size) == TRUE;
}

void SegmentName(const AppMark *Mark, char *Name, size_t Size) {
    char Hex[40] = "";
    Digest(Mark->Name, Hex, (int32)sizeof(Hex));
    snprintf(Name, Size, "/%s", Hex);
}

// The mailbox is mapped shared, so it must be one that no other user can
// shrink under the mapping (a page gone from a shared mapping kills its
// reader with SIGBUS): the holder makes it anew with O_EXCL, owner-only, at
// its full size (a leftover of this user's is removed first; one of another
// user's cannot be, and then there is no mailbox); a writer maps only a
// mailbox of this user's, owner-only and of the full size, which only this
// user's processes could have made so.
bool MapSegment(AppMark *Mark, bool Holder) {
    if (Mark->Segment != nullptr) return true;
    char Name[48];
    SegmentName(Mark, Name, sizeof(Name));
    int Descriptor = -1;
    for (int Attempt = 0; Holder && Attempt < 2 && Descriptor < 0; Attempt++) {
        Descriptor = shm_open(Name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (Descriptor < 0 && (errno != EEXIST || shm_unlink(Name) != 0)) break;
    }
    // The pages are reserved as the size is set (ftruncate alone would leave
    // the mailbox sparse, and a full /dev/shm answer the holder's first store
    // with SIGBUS); the size shows only once they are, so no writer maps a
    // mailbox half made. Without room the holder has no mailbox.
    if (Holder && Descriptor >= 0) {
        if (const int Error = posix_fallocate(Descriptor, 0, APPMARK_SEGMENT_SIZE); Error != 0) {
            close(Descriptor);
            shm_unlink(Name);
            errno = Error;
            Log_Print(LOG_ERROR, "Unable to reserve the mailbox of appmark '%s': held without one [LE: %d]\n",
                      Mark->Name, Platform_GetLastError());
            return false;
        }
    }
    if (!Holder) Descriptor = shm_open(Name, O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0);
    struct stat Status {};
    if (Descriptor < 0 || fstat(Descriptor, &Status) != 0 || !S_ISREG(Status.st_mode) ||
        Status.st_uid != geteuid() || (Status.st_mode & 077) != 0 || Status.st_size != APPMARK_SEGMENT_SIZE) {
        Log_Print(LOG_ERROR, "Unable to use the mailbox of appmark '%s' [LE: %d]\n", Mark->Name,
                  Platform_GetLastError());
        if (Descriptor >= 0) close(Descriptor);
        return false;
    }
    void *Address = mmap(nullptr, APPMARK_SEGMENT_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, Descriptor, 0);
    close(Descriptor);
    if (Address == MAP_FAILED) {
        Log_Print(LOG_ERROR, "Unable to acquire appmark '%s' [LE: %d]\n", Mark->Name, Platform_GetLastError());
        if (Holder) shm_unlink(Name);
        return false;
    }
    Mark->Segment = static_cast<AppMarkSegment *>(Address);
    Mark->MadeSegment = Holder ? 1 : 0;
    return true;
}

// A marker that proves a mark: a regular file with one name. One of this
// user's that nobody holds locked is free; one of another user's is that
// user's mark whether or not it is held now, since its owner may remove it
// and make another at any time (a lock on it proves nothing to a second run
// of ours). Anything else at the name (a FIFO, a folder, a file this user
// cannot open) is never free either.
// One attempt: 1 held, 0 another process holds it (or the name is not a
// mark this run can prove free), -1 the marker cannot be made at all.
int TryHold(AppMark *Mark) {
    int Descriptor = open(Mark->MarkerPath, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (Descriptor < 0 && errno == ENOENT) {
        // Readable by all, so that any user's run sees it held.
        Descriptor = open(Mark->MarkerPath, O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (Descriptor >= 0) fchmod(Descriptor, 0644);
        else if (errno == EEXIST) return 0; // another run made it first: the next attempt looks at it
        else {
            Log_Print(LOG_ERROR, "Unable to create appmark file [LE: %d]\n", Platform_GetLastError());
            return -1;
        }
    }
    if (Descriptor < 0) return 0;
    struct stat Open {}, Named {};
    if (fstat(Descriptor, &Open) != 0 || !S_ISREG(Open.st_mode) || Open.st_nlink != 1 ||
        Open.st_uid != geteuid() || flock(Descriptor, LOCK_EX | LOCK_NB) != 0) {
        close(Descriptor);
        return 0;
    }
    // The holder before may have removed the marker between our open and our
    // lock: the lock counts only while the name still shows this file.
    if (lstat(Mark->MarkerPath, &Named) != 0 || Open.st_dev != Named.st_dev || Open.st_ino != Named.st_ino) {
        close(Descriptor);
        return 0;
    }
    Mark->Marker = Descriptor;
    return 1;
}

} // namespace

CLASS_DEFINE_REFERENCE(AppMark, AppMark, APPMARK_CLASSID)

int32 AppMark_Create(AppMark **Mark) {
    Debug_CheckPointer(Mark);
    AppMark *Object = Memory_New(AppMark);
    Class_InitHeader(Object, APPMARK_CLASSID, DeleteThroughClass);
    Object->Marker = -1;
    *Mark = Object;
    return TRUE;
}

int32 AppMark_Delete(AppMark **Mark) {
    Debug_CheckPointer(Mark);
    AppMark *Object = *Mark;
    AppMark_Check(Object);
    if (Object->Segment != nullptr) munmap(Object->Segment, APPMARK_SEGMENT_SIZE);
    if (Object->MadeSegment) {
        char Name[48];
        SegmentName(Object, Name, sizeof(Name));
        shm_unlink(Name);
    }
    if (Object->Marker >= 0) {
        unlink(Object->MarkerPath);
        close(Object->Marker);
    }
    Memory_Delete(Object);
    *Mark = nullptr;
    return TRUE;
}

int32 AppMark_SetName(AppMark *Mark, const char *Name) {
    AppMark_Check(Mark);
    String_CopyLength(Mark->Name, Name != nullptr ? Name : "", (int32)sizeof(Mark->Name));
    return TRUE;
}

int32 AppMark_GetName(AppMark *Mark, char *Output, int32 Size) {
    AppMark_Check(Mark);
    Debug_CheckPointer(Output);
    String_CopyLength(Output, Mark->Name, Size);
    return TRUE;
}

int32 AppMark_GetMarkerPath(const char *Name, char *Output, int32 Size) {
    Debug_CheckPointer(Output);
    char Hex[40];
    if (Name == nullptr || !Digest(Name, Hex, (int32)sizeof(Hex))) return FALSE;
    String_CopyLength(Output, "/tmp/", Size);
    String_CopyLength(Output + strlen(Output), Hex, Size - (int32)strlen(Output));
    return TRUE;
}

int32 AppMark_SetOnDataCallback(AppMark *Mark, void *User, AppMark_DataFunc Function) {
    AppMark_Check(Mark);
    Mark->DataUser = User;
    Mark->DataFunction = Function;
    return TRUE;
}

int32 AppMark_AcquireWithTimeout(AppMark *Mark, int32 TimeoutMs) {
    AppMark_Check(Mark);
    if (Mark->Marker >= 0) return TRUE;
    if (Mark->Name[0] == 0) {
        Log_Print(LOG_ERROR, "App name is not specified\n");
        return TRUE;
    }
    if (!AppMark_GetMarkerPath(Mark->Name, Mark->MarkerPath, (int32)sizeof(Mark->MarkerPath))) return TRUE;
    for (int32 Remaining = TimeoutMs;; Remaining -= RetryMs) {
        const int Result = TryHold(Mark);
        if (Result < 0) return TRUE;
        if (Result == 1) {
            if (!MapSegment(Mark, true)) return TRUE;
            // A writer that died in the middle of a message blocks nobody.
            StateOf(Mark->Segment).store(0);
            return TRUE;
        }
        if (Remaining < 1) break;
        Platform_SleepMS(RetryMs);
    }
    MapSegment(Mark, false);
    return FALSE;
}

int32 AppMark_ReadData(AppMark *Mark) {
    AppMark_Check(Mark);
    if (Mark->Segment == nullptr || StateOf(Mark->Segment).load() != 2) return TRUE;
    // The length comes from another process: never past the data area.
    uint32 Length = __atomic_load_n(&Mark->Segment->Length, __ATOMIC_ACQUIRE);
    if (Length > APPMARK_MESSAGE_SIZE) Length = APPMARK_MESSAGE_SIZE;
    if (Mark->DataFunction != nullptr) Mark->DataFunction(Mark->DataUser, Mark->Segment->Data, (int32)Length);
    StateOf(Mark->Segment).store(0);
    return TRUE;
}

int32 AppMark_WriteData(AppMark *Mark, const void *Data, int32 Length) {
    AppMark_Check(Mark);
    if (Mark->Segment == nullptr) return FALSE;
    auto State = StateOf(Mark->Segment);
    for (int32 Attempt = 0;; Attempt++) {
        uint32 Expected = 0;
        if (State.compare_exchange_strong(Expected, 1)) break;
        if (Attempt + 1 >= WriteAttempts) {
            Log_Print(LOG_ERROR, "Unable to send data to the first instance");
            return FALSE;
        }
        Platform_SleepMS(WriteWaitMs);
    }
    uint32 Count = Length > 0 ? (uint32)Length : 0;
    if (Count > APPMARK_MESSAGE_SIZE) Count = APPMARK_MESSAGE_SIZE;
    if (Count > 0) memcpy(Mark->Segment->Data, Data, Count);
    __atomic_store_n(&Mark->Segment->Length, Count, __ATOMIC_RELEASE);
    uint32 Expected = 1;
    return State.compare_exchange_strong(Expected, 2) ? TRUE : FALSE;
}

AppMarkSegment *AppMark_GetSegment(AppMark *Mark) {
    AppMark_Check(Mark);
    return Mark->Segment;
}
