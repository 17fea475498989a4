// The log file: its name for the current line (date, file id, process and
// thread parts), switching files when that name changes, opening with retries
// and writing. Callers hold the log lock or are alone (start and end).
//
// A log is written only into a folder of the user's own that no one else can
// write, into a file it makes or one of its own (see OpenFolder and
// OpenInFolder). Only a passing failure (interrupted, busy, out of
// descriptors) is retried; a path that cannot be opened at all (a missing or
// unwritable folder, a folder or file of another user's, a file in the way, a
// link) is told once on stderr, and until the path changes
// later lines try a single open, so a bad log folder drops lines instead of
// stalling every caller.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "runtime/debug.h"
#include "runtime/files/path.h"
#include "runtime/log.h"
#include "runtime/posix/platform.h"
#include "runtime/posix/trusted_path.h"
#include "runtime/text/string.h"
#include "runtime/time.h"

namespace {

constexpr int32 OpenAttempts = 10;
constexpr int32 OpenRetryMs = 100;
constexpr char DefaultExtension[] = ".log";

// Set when every attempt on the current path failed; cleared when it changes.
bool CurrentPathFailed = false;

// "Errors" of our own: why a log is not written where the path says.
constexpr int NotRegularFile = -1;
constexpr int FolderIsLink = -2;
constexpr int FolderOfAnother = -3;
constexpr int FolderWritable = -4;
constexpr int FileOfAnother = -5;
constexpr int FileLinked = -6;
constexpr int FolderAbove = -7;

// Why a folder above the log's was refused (FolderAbove), as the walk said.
char AboveWhy[TRUSTEDPATH_WHERE_SIZE + 80];

// Failures that may pass by themselves; every other one is final.
bool IsPassingFailure(int Error) {
    return Error == EINTR || Error == EAGAIN || Error == EBUSY || Error == ETXTBSY || Error == EMFILE ||
           Error == ENFILE;
}

// The log cannot report on itself: the one line goes to stderr, written
// directly so that it needs no runtime buffer.
void ReportUnopenable(const char *Path, int Error) {
    char Reason[256];
    const char *Text = Error == ELOOP             ? "the path is a symbolic link"
                       : Error == NotRegularFile  ? "not a regular file"
                       : Error == FolderIsLink    ? "its folder is a symbolic link"
                       : Error == FolderOfAnother ? "its folder belongs to another user"
                       : Error == FolderWritable  ? "other users may write in its folder"
                       : Error == FileOfAnother   ? "the file belongs to another user"
                       : Error == FileLinked      ? "the file has other links"
                       : Error == FolderAbove     ? AboveWhy
                                                  : strerror_r(Error, Reason, sizeof(Reason));
    char Line[LOG_NAME_SIZE + 320];
    String_Print(Line, sizeof(Line), "Unable to open log file (%s): %s\n", Path, Text);
    for (const char *p = Line; *p != 0;) {
        ssize_t Written = write(2, p, strlen(p));
        if (Written <= 0) break;
        p += Written;
    }
}

// A folder of the path is missing because it could not be made: the reason
// is then the deepest existing folder above it, which the user may not write.
int WhyMissing(const char *Path, int Error) {
    if (Error != ENOENT) return Error;
    char Folder[LOG_NAME_SIZE];
    String_CopyLength(Folder, Path, sizeof(Folder));
    for (char *Slash = strrchr(Folder, '/'); Slash != nullptr && Slash != Folder; Slash = strrchr(Folder, '/')) {
        *Slash = 0;
        if (access(Folder, F_OK) != 0) continue;
        bool Refused = access(Folder, W_OK | X_OK) != 0 && (errno == EACCES || errno == EROFS);
        return Refused ? errno : Error;
    }
    return Error;
}

// Appends to a LOG_NAME_SIZE path, cutting what does not fit.
void Append(char *Path, const char *Text) { String_CatLength(Path, Text, LOG_NAME_SIZE); }

// The base name with the parts the flags ask for between stem and extension.
void BuildFilePath(const LogStruct *Log, uint32 Flags, char *Path) {
    String_CopyLength(Path, Log->BaseName, LOG_NAME_SIZE);
    char Extension[LOG_NAME_SIZE];
    const char *Name = Path;
    for (const char *p = Path; *p != 0; p++)
        if (*p == '/' || *p == '\\') Name = p + 1;
    char *Dot = strrchr((char *)Name, '.');
    if (Dot != nullptr) {
        String_CopyLength(Extension, Dot, sizeof(Extension));
        *Dot = 0;
    } else {
        String_CopyLength(Extension, DefaultExtension, sizeof(Extension));
    }

    if (Flags & DEBUG_FLAG_PERDAY) {
        char Date[32];
        if (Time_EncodedString(TIME_FORMAT_LOGDATE, Date, sizeof(Date), Time_GetCurrentEncodedLocal(nullptr))) {
            for (char *p = Date; *p != 0; p++)
                if (*p == '/') *p = '.';
            Append(Path, ".");
            Append(Path, Date);
        }
    }
    if (Log->FileId[0] != 0) {
        Append(Path, ".");
        Append(Path, Log->FileId);
    }
    char Number[32];
    if (Flags & DEBUG_FLAG_PERPROCESS) {
        String_Print(Number, sizeof(Number), ".P%u", Debug_ProcessId());
        Append(Path, Number);
    }
    uint32 ThreadId = Platform_ThreadGetCurrentId();
    if ((Flags & DEBUG_FLAG_PERTHREAD) && ThreadId != Debug_MainThreadId()) {
        String_Print(Number, sizeof(Number), ".T%u", ThreadId);
        Append(Path, Number);
    }
    Append(Path, Extension);
}

// The folder of Path opened, or -1 with the reason in Error. A log goes
// only into a folder of this user's own (the effective one: root's, for a
// root worker) that no other user can write, walked to from "/" under the
// trusted-path rules (for a root process every folder above held to them
// too): anyone who can make names there, or move a folder above it, could
// plant the log's file, read what the program writes into it, or swap it
// for another. The file is then made in that very folder.
int OpenFolder(const char *Path, int &Error) {
    char Folder[LOG_NAME_SIZE];
    String_CopyLength(Folder, Path, sizeof(Folder));
    char *Slash = strrchr(Folder, '/');
    if (Slash == nullptr && getcwd(Folder, sizeof(Folder)) == nullptr) {
        Error = errno;
        return -1;
    }
    if (Slash == Folder) Folder[1] = 0;
    else if (Slash != nullptr) *Slash = 0;
    constexpr uint32 Flags = TRUSTEDPATH_FOLDER | TRUSTEDPATH_OWN | TRUSTEDPATH_ABOVE_IF_ROOT;
    TrustedPathRefusal Refusal;
    int32 Handle = -1;
    if (TrustedPath_Open(Folder, Flags, &Handle, &Refusal)) return Handle;
    switch (Refusal.Reason) {
    case TRUSTEDPATH_LINK: Error = FolderIsLink; break;
    case TRUSTEDPATH_OTHER: Error = FolderOfAnother; break;
    case TRUSTEDPATH_WRITABLE: Error = FolderWritable; break;
    case TRUSTEDPATH_KIND: Error = ENOTDIR; break;
    case TRUSTEDPATH_ERROR:
    case TRUSTEDPATH_ABOVE_MISSING: Error = WhyMissing(Path, Refusal.Error); break;
    default:
        TrustedPath_Explain(&Refusal, Flags, AboveWhy, (int32)sizeof(AboveWhy));
        Error = FolderAbove;
    }
    return -1;
}

// The log file in the opened folder: made new, owner-only (a log holds
// command lines, paths and ids), never through a link planted at its name.
// A file already there is taken only when it is a regular file of this
// user's with no other link (another name of it could be anywhere), and
// only then emptied or appended to. The open does not wait: a FIFO at the
// name would hold it until a reader came. -1 with the reason in Error.
int OpenInFolder(int Folder, const char *Name, bool AppendMode, int &Error) {
    const int Mode = O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | (AppendMode ? O_APPEND : 0);
    int File = openat(Folder, Name, Mode | O_CREAT | O_EXCL, 0600);
    if (File < 0 && errno == EEXIST) {
        File = openat(Folder, Name, Mode);
        if (File >= 0) {
            struct stat Facts {};
            if (fstat(File, &Facts) != 0) Error = errno;
            else if (!S_ISREG(Facts.st_mode)) Error = NotRegularFile;
            else if (Facts.st_uid != geteuid()) Error = FileOfAnother;
            else if (Facts.st_nlink != 1) Error = FileLinked;
            else if (!AppendMode && ftruncate(File, 0) != 0) Error = errno;
            else Error = 0;
            if (Error != 0) {
                close(File);
                return -1;
            }
        }
    }
    if (File < 0) {
        // A FIFO without a reader refuses a writer that does not wait.
        Error = errno == ENXIO ? NotRegularFile : errno;
        return -1;
    }
    fcntl(File, F_SETFL, fcntl(File, F_GETFL) & ~O_NONBLOCK);
    if (File == 0) { // descriptor 0 is the record's "closed"
        int Moved = fcntl(File, F_DUPFD_CLOEXEC, 1);
        Error = errno;
        close(File);
        File = Moved;
    }
    return File;
}

// Opens the current path; the first failure on a path is reported.
int32 OpenFile(const LogStruct *Log, bool AppendMode, bool Report) {
    char Resolved[LOG_NAME_SIZE];
    const char *Path = Log->CurrentPath;
    if (Path[0] == '~' && Path_Resolve(Path, Resolved, sizeof(Resolved))) Path = Resolved;
    const char *Slash = strrchr(Path, '/');
    const char *Name = Slash != nullptr ? Slash + 1 : Path;
    int Error = *Name == 0 ? EISDIR : 0;
    bool Vanished = false;
    for (int32 Attempt = 0; Attempt < OpenAttempts && Error != EISDIR; Attempt++) {
        if (Attempt > 0 && Error != EINTR && !Vanished) Platform_SleepMS(OpenRetryMs);
        int Folder = OpenFolder(Path, Error);
        if (Folder < 0) {
            if (!Report || !IsPassingFailure(Error)) break;
            continue;
        }
        int File = OpenInFolder(Folder, Name, AppendMode, Error);
        close(Folder);
        if (File > 0) return File;
        // The file went between the two opens: it is made anew, once.
        if (Error == ENOENT && !Vanished) {
            Vanished = true;
            continue;
        }
        Vanished = false;
        if (!Report || !IsPassingFailure(Error)) break;
    }
    if (Report) ReportUnopenable(Path, Error);
    return 0;
}

bool WriteAll(int File, const char *Text, size_t Length) {
    while (Length > 0) {
        ssize_t Written = write(File, Text, Length);
        if (Written < 0 && errno == EINTR) continue;
        if (Written <= 0) return false;
        Text += Written;
        Length -= (size_t)Written;
    }
    return true;
}

// The last path built and what it was built from. A line's path is the
// same as long as these are: the flags, the base name and file id, the
// process, the thread (per-thread files) and the second (per-day files; the
// date moves only with it). Rebuilding it for every line cost more than the
// rest of the write.
struct PathMemo {
    bool Valid = false;
    uint32 Flags = 0;
    uint32 ProcessId = 0;
    uint32 ThreadId = 0;
    time_t Second = 0;
    char BaseName[LOG_NAME_SIZE];
    char FileId[LOG_NAME_SIZE];
    char Path[LOG_NAME_SIZE];
};
PathMemo LastPath;

// The current line's path (Flags has the file bit), built only when one of
// its inputs changed since the last line.
const char *FilePathFor(const LogStruct *Log, uint32 Flags) {
    PathMemo &Memo = LastPath;
    const uint32 ThreadId = (Flags & DEBUG_FLAG_PERTHREAD) ? Platform_ThreadGetCurrentId() : 0;
    const time_t Second = (Flags & DEBUG_FLAG_PERDAY) ? time(nullptr) : 0;
    if (Memo.Valid && Memo.Flags == Flags && Memo.ProcessId == Debug_ProcessId() && Memo.ThreadId == ThreadId &&
        Memo.Second == Second && strcmp(Memo.BaseName, Log->BaseName) == 0 && strcmp(Memo.FileId, Log->FileId) == 0)
        return Memo.Path;
    BuildFilePath(Log, Flags, Memo.Path);
    Memo.Flags = Flags;
    Memo.ProcessId = Debug_ProcessId();
    Memo.ThreadId = ThreadId;
    Memo.Second = Second;
    String_CopyLength(Memo.BaseName, Log->BaseName, sizeof(Memo.BaseName));
    String_CopyLength(Memo.FileId, Log->FileId, sizeof(Memo.FileId));
    // A name cut to the record's size would compare equal to a longer one.
    Memo.Valid = strnlen(Log->BaseName, sizeof(Memo.BaseName)) < sizeof(Memo.BaseName) - 1 &&
                 strnlen(Log->FileId, sizeof(Memo.FileId)) < sizeof(Memo.FileId) - 1;
    return Memo.Path;
}

} // namespace

int32 Log_WriteFile(const char *Text, int32 Abort) {
    LogStruct *Log = GlobalLog;
    if (Log == nullptr || Text == nullptr) return 0;
    uint32 Flags = Debug_Flags();
    char ErrPath[LOG_NAME_SIZE];
    const char *Path = ErrPath;
    if (Abort && (Flags & DEBUG_FLAG_ERRFILE)) {
        String_CopyLength(ErrPath, Log->BaseName, sizeof(ErrPath));
        Append(ErrPath, ".err");
    } else {
        if (!(Flags & DEBUG_FLAG_FILE)) return 0;
        Path = FilePathFor(Log, Flags);
    }

    if (strcmp(Path, Log->CurrentPath) != 0 && !String_CompareWithoutCase(Path, Log->CurrentPath)) {
        String_CopyLength(Log->CurrentPath, Path, sizeof(Log->CurrentPath));
        Platform_SetConsoleTitle(Path);
        Log_CloseFile();
        CurrentPathFailed = false;
    }
    if (Log->File == 0) {
        Log->File = OpenFile(Log, (Flags & DEBUG_FLAG_APPEND) || Abort, !CurrentPathFailed);
        CurrentPathFailed = Log->File == 0;
    }
    if (Log->File == 0) return 0; // dropped
    if (!WriteAll(Log->File, Text, strlen(Text))) return 0;
    if (Abort || (Flags & DEBUG_FLAG_COMMIT)) fsync(Log->File);
    return 1;
}

int32 Log_OpenFolder(const char *FilePath) {
    Debug_CheckPointer(FilePath);
    char Resolved[LOG_NAME_SIZE];
    if (FilePath[0] == '~' && Path_Resolve(FilePath, Resolved, sizeof(Resolved))) FilePath = Resolved;
    int Error = 0;
    return OpenFolder(FilePath, Error);
}

int32 Log_CloseFile(void) {
    LogStruct *Log = GlobalLog;
    if (Log == nullptr || Log->File == 0) return 0;
    close(Log->File);
    Log->File = 0;
    return 1;
}
