// Property-list files of the user: reading, and writing under a lock through
// a synced temporary file and a rename.
#include "platform/posix/preference_store.h"

#include <ctype.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "runtime/log.h"
#include "runtime/posix/platform.h"
#include "runtime/posix/platform_folder.h"

namespace {

// Larger files are not preferences; refusing them keeps every size in 32 bits.
constexpr off_t MaximumFileSize = 64 * 1024 * 1024;

std::string Parent(const std::string &Path) { return Path.substr(0, Path.rfind('/') + 1); }

// Makes every missing folder of Folder with mode 0700.
bool EnsureFolder(const std::string &Folder) {
    for (size_t Slash = Folder.find('/', 1); Slash != std::string::npos; Slash = Folder.find('/', Slash + 1)) {
        std::string Part = Folder.substr(0, Slash);
        if (mkdir(Part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat Status;
    return stat(Folder.c_str(), &Status) == 0 && S_ISDIR(Status.st_mode);
}

// The credential folder: a real folder of the effective user, mode 0700.
bool EnsurePrivateFolder(const std::string &Folder) {
    if (!EnsureFolder(Folder)) return false;
    std::string Bare = Folder.substr(0, Folder.size() - 1);
    int Descriptor = open(Bare.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (Descriptor < 0) return false;
    struct stat Status;
    bool Good = fstat(Descriptor, &Status) == 0 && Status.st_uid == geteuid() &&
                ((Status.st_mode & 077) == 0 || fchmod(Descriptor, 0700) == 0);
    int Saved = errno;
    close(Descriptor);
    if (!Good) {
        Log_Error("Credential folder is not private (%s)\n", Folder.c_str());
        errno = Saved != 0 ? Saved : EPERM;
    }
    return Good;
}

bool WriteAll(int Descriptor, const std::string &Text) {
    size_t Done = 0;
    while (Done < Text.size()) {
        ssize_t Count = write(Descriptor, Text.data() + Done, Text.size() - Done);
        if (Count < 0 && errno == EINTR) continue;
        if (Count <= 0) return false;
        Done += (size_t)Count;
    }
    return true;
}

// The temporary files of a store are hidden and marked as such
// (".velmarsh.plist.tmp-" and mkostemp's six letters or digits): a name no
// user gives a file of their own, which the sweep below would delete.
constexpr size_t TemporarySuffix = 6;

std::string TemporaryStem(const std::string &Base) { return "." + Base + ".tmp-"; }

bool IsTemporaryOf(const char *Name, const std::string &Base) {
    const std::string Stem = TemporaryStem(Base);
    if (strncmp(Name, Stem.c_str(), Stem.size()) != 0) return false;
    const char *Suffix = Name + Stem.size();
    if (strlen(Suffix) != TemporarySuffix) return false;
    for (const char *At = Suffix; *At != 0; At++)
        if (!isalnum((unsigned char)*At)) return false;
    return true;
}

// Removes what writers of this store killed midway left behind: a
// credential store's would hold every secret. Called under the writers'
// lock, so no live writer of the store has a temporary file; a file made
// after the lock was taken (by no writer of ours) is left alone, as is
// anything not a regular file of the user.
void RemoveStaleTemporaries(const std::string &Path) {
    struct timespec Now;
    clock_gettime(CLOCK_REALTIME, &Now);
    const std::string Folder = Parent(Path), Base = Path.substr(Folder.size());
    DIR *Listing = opendir(Folder.c_str());
    if (Listing == nullptr) return;
    const int At = dirfd(Listing);
    while (const struct dirent *Entry = readdir(Listing)) {
        if (!IsTemporaryOf(Entry->d_name, Base)) continue;
        struct stat Status;
        if (fstatat(At, Entry->d_name, &Status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(Status.st_mode) ||
            Status.st_uid != geteuid() || Status.st_mtim.tv_sec > Now.tv_sec)
            continue;
        if (unlinkat(At, Entry->d_name, 0) == 0)
            Log_Info("Removed temporary file of an interrupted write (%s%s)\n", Folder.c_str(), Entry->d_name);
    }
    closedir(Listing);
}

// A store that would grow past what a load reads is not written: the load
// would then answer nothing for every value the writes answered true for.
bool WriteReplacing(const std::string &Path, const PreferenceValue &Root) {
    const std::string Text = PreferenceCodec_Write(Root);
    if ((uint64)Text.size() > (uint64)MaximumFileSize) {
        Log_Error("Property list (%s) would grow to %llu bytes, past the %lld a store may hold\n", Path.c_str(),
                  (unsigned long long)Text.size(), (long long)MaximumFileSize);
        PlatformFolder_TellOnce("the settings file " + Path + " would grow past " +
                                std::to_string(MaximumFileSize >> 20) + " MiB; it is left as it was");
        errno = EFBIG;
        return false;
    }
    const std::string Folder = Parent(Path);
    std::string Temporary = Folder + TemporaryStem(Path.substr(Folder.size())) + "XXXXXX";
    int Descriptor = mkostemp(Temporary.data(), O_CLOEXEC);
    if (Descriptor < 0) return false;
    bool Written = fchmod(Descriptor, 0600) == 0 && WriteAll(Descriptor, Text) && fsync(Descriptor) == 0;
    int Saved = errno;
    if (close(Descriptor) != 0 && Written) Written = false, Saved = errno;
    if (!Written || rename(Temporary.c_str(), Path.c_str()) != 0) {
        if (Written) Saved = errno;
        unlink(Temporary.c_str());
        errno = Saved;
        return false;
    }
    // The rename itself is durable once the folder is synced.
    int Synced = open(Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (Synced >= 0) {
        fsync(Synced);
        close(Synced);
    }
    return true;
}

// Moves a store that does not parse to a name no earlier one took
// ("<file>.unreadable", then ".unreadable.2", ...), so that every copy set
// aside is kept, and says on stderr where it went. False, with the store
// left in place, when it cannot be moved.
bool MoveAside(const std::string &Path, const std::string &Why) {
    constexpr int32 MaximumCopies = 1000;
    for (int32 Copy = 1; Copy <= MaximumCopies; Copy++) {
        const std::string Aside = Path + ".unreadable" + (Copy > 1 ? "." + std::to_string(Copy) : std::string());
        int Moved = renameat2(AT_FDCWD, Path.c_str(), AT_FDCWD, Aside.c_str(), RENAME_NOREPLACE);
        if (Moved != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // A file system without the flag: a new link cannot replace one.
            Moved = link(Path.c_str(), Aside.c_str());
            if (Moved == 0 && unlink(Path.c_str()) != 0) {
                const int Saved = errno;
                unlink(Aside.c_str());
                errno = Saved;
                Moved = -1;
            }
        }
        if (Moved == 0) {
            Log_Error("Moved unreadable property list aside (%s)\n", Aside.c_str());
            PlatformFolder_TellOnce("the settings file " + Path + " could not be read (" + Why + "); it was moved to " +
                                    Aside + " and a new one started");
            return true;
        }
        if (errno != EEXIST) break;
    }
    Log_Error("Unable to move unreadable property list aside (%s) [LE: %d]\n", Path.c_str(),
              PLATFORM_ERROR_ERRNO_BASE + errno);
    PlatformFolder_TellOnce("the settings file " + Path + " could not be read nor moved aside (" + strerror(errno) +
                            "); it is left as it is and nothing is written to it");
    return false;
}

} // namespace

std::string PreferenceStore_ApplicationId() {
    char Path[1024];
    if (!Platform_GetModuleFilename(nullptr, Path, (int32)sizeof(Path))) return "runtime";
    std::string Name(Path);
    Name = Name.substr(Name.rfind('/') + 1);
    size_t Dot = Name.rfind('.');
    if (Dot != std::string::npos && Dot > 0) Name.resize(Dot);
    return Name.empty() ? "runtime" : Name;
}

std::string PreferenceStore_UserPath() {
    std::string Folder = PlatformFolder_BaseDirectory("XDG_CONFIG_HOME", ".config");
    return Folder.empty() ? Folder : Folder + PreferenceStore_ApplicationId() + ".plist";
}

std::string PreferenceStore_AnyUserPath() {
    std::string Folder = "/etc/xdg/";
    if (const char *List = getenv("XDG_CONFIG_DIRS"); List != nullptr && List[0] == '/') {
        Folder = std::string(List);
        Folder = Folder.substr(0, Folder.find(':')) + "/";
    }
    return Folder + PreferenceStore_ApplicationId() + ".plist";
}

std::string PreferenceStore_CredentialPath() {
    std::string Folder = PlatformFolder_BaseDirectory("XDG_DATA_HOME", ".local/share");
    return Folder.empty() ? Folder : Folder + PreferenceStore_ApplicationId() + "/credentials.plist";
}

PreferenceLoad PreferenceStore_Load(const std::string &Path, PreferenceValue &Out, bool Private, bool FollowLink,
                                    std::string *Why) {
    Out = PreferenceValue();
    if (Path.empty()) return PreferenceLoad::Missing;
    // Without blocking, so that a FIFO put there cannot hold the caller, and
    // without following a link, whose target is nobody's store (and would
    // have its mode changed below).
    int Descriptor = Platform_OpenRegular(Path.c_str(), O_RDONLY | (FollowLink ? 0 : O_NOFOLLOW), 0);
    if (Descriptor < 0 && (errno == ENOENT || errno == ENOTDIR)) return PreferenceLoad::Missing;
    if (Descriptor < 0 && errno != ELOOP && errno != EINVAL && errno != EISDIR) {
        // A file that cannot be opened (its mode, say) is not damaged: it
        // stays as it is, and the writes that would replace it fail.
        const int Saved = errno;
        Log_Error("Unable to open property list (%s) [LE: %d]\n", Path.c_str(), PLATFORM_ERROR_ERRNO_BASE + Saved);
        PlatformFolder_TellOnce("cannot open the settings file " + Path + ": " + strerror(Saved) +
                                "; it is left as it is and nothing is written to it");
        errno = Saved;
        return PreferenceLoad::Refused;
    }
    struct stat Status;
    if (Descriptor < 0 || fstat(Descriptor, &Status) != 0) {
        const int Saved = Descriptor < 0 ? errno : EINVAL;
        if (Descriptor >= 0) close(Descriptor);
        Log_Error("Unable to read property list (%s) (not a regular file) [LE: %d]\n", Path.c_str(),
                  PLATFORM_ERROR_ERRNO_BASE + Saved);
        PlatformFolder_TellOnce("the settings file " + Path +
                                " is not a regular file; it is left as it is and nothing is written to it");
        errno = Saved;
        return PreferenceLoad::Refused;
    }
    std::string Text;
    bool Read = Status.st_size <= MaximumFileSize, Failed = false;
    if (Read && Private && (Status.st_mode & 077) != 0 && Status.st_uid == geteuid())
        fchmod(Descriptor, Status.st_mode & 0700); // a read-only store stays read-only
    if (Read) {
        Text.resize((size_t)Status.st_size);
        size_t Done = 0;
        for (;;) {
            if (Done == Text.size()) Text.resize(Text.size() + 4096);
            ssize_t Count = read(Descriptor, Text.data() + Done, Text.size() - Done);
            if (Count < 0 && errno == EINTR) continue;
            if (Count < 0) Read = false, Failed = true;
            if (Count <= 0) break;
            Done += (size_t)Count;
            if ((off_t)Done > MaximumFileSize) {
                Read = false;
                break;
            }
        }
        Text.resize(Done);
    }
    const int ReadError = errno;
    close(Descriptor);
    if (Failed) {
        // Nor is one the system could not read (an I/O error).
        Log_Error("Unable to read property list (%s) [LE: %d]\n", Path.c_str(), PLATFORM_ERROR_ERRNO_BASE + ReadError);
        PlatformFolder_TellOnce("cannot read the settings file " + Path + ": " + strerror(ReadError) +
                                "; it is left as it is and nothing is written to it");
        errno = ReadError;
        return PreferenceLoad::Refused;
    }
    std::string Error = Read ? "" : "larger than " + std::to_string(MaximumFileSize >> 20) + " MiB";
    PreferenceValue Root;
    if (!Read || !PreferenceCodec_Read(Text, Root, &Error) || !Root.IsDictionary()) {
        if (Error.empty()) Error = "not a dictionary";
        Log_Error("Unable to read property list (%s) (%s)\n", Path.c_str(), Error.c_str());
        if (Why != nullptr) *Why = Error;
        return PreferenceLoad::Unreadable;
    }
    Out = std::move(Root);
    return PreferenceLoad::Loaded;
}

bool PreferenceStore_Update(const std::string &Path, bool Private,
                            const std::function<bool(PreferenceValue &Root)> &Change) {
    if (Path.empty()) {
        errno = ENOENT;
        return false;
    }
    std::string Folder = Parent(Path);
    if (!(Private ? EnsurePrivateFolder(Folder) : EnsureFolder(Folder))) {
        Log_Error("Unable to create folder (%s) [LE: %d]\n", Folder.c_str(), PLATFORM_ERROR_ERRNO_BASE + errno);
        return false;
    }
    std::string LockPath = Path + ".lock";
    int Lock = open(LockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    struct stat LockStatus;
    if (Lock >= 0 && (fstat(Lock, &LockStatus) != 0 || !S_ISREG(LockStatus.st_mode))) {
        close(Lock);
        Lock = -1;
        errno = EINVAL;
    }
    if (Lock < 0) {
        Log_Error("Unable to open lock (%s) [LE: %d]\n", LockPath.c_str(), PLATFORM_ERROR_ERRNO_BASE + errno);
        return false;
    }
    while (flock(Lock, LOCK_EX) != 0 && errno == EINTR) {
    }
    RemoveStaleTemporaries(Path);
    PreferenceValue Root;
    std::string Why;
    const PreferenceLoad Loaded = PreferenceStore_Load(Path, Root, Private, false, &Why);
    if (Loaded == PreferenceLoad::Refused) {
        close(Lock);
        return false;
    }
    // A store its user made read-only is theirs to keep as it is: it is
    // read, never replaced (which would take it over with mode 0600).
    struct stat Current;
    if (Loaded != PreferenceLoad::Missing && lstat(Path.c_str(), &Current) == 0 && S_ISREG(Current.st_mode) &&
        (Current.st_mode & S_IWUSR) == 0) {
        Log_Error("Property list is read-only (%s)\n", Path.c_str());
        PlatformFolder_TellOnce("the settings file " + Path + " is read-only; it is left as it is and nothing is " +
                                "written to it");
        close(Lock);
        errno = EACCES;
        return false;
    }
    if (Loaded == PreferenceLoad::Unreadable) {
        if (!MoveAside(Path, Why)) {
            close(Lock);
            return false;
        }
        Root = PreferenceValue();
    }
    bool Result = Change(Root);
    if (Result && !WriteReplacing(Path, Root)) {
        Log_Error("Unable to write property list (%s) [LE: %d]\n", Path.c_str(), PLATFORM_ERROR_ERRNO_BASE + errno);
        Result = false;
    }
    close(Lock); // also drops the lock
    return Result;
}

bool PreferenceStore_CopyValue(std::string_view Key, PreferenceValue &Out) {
    for (const bool AnyUser : {false, true}) {
        PreferenceValue Root;
        if (PreferenceStore_Load(AnyUser ? PreferenceStore_AnyUserPath() : PreferenceStore_UserPath(), Root, false,
                                 AnyUser) != PreferenceLoad::Loaded)
            continue;
        if (PreferenceValue *Found = Root.Find(Key)) {
            Out = std::move(*Found);
            return true;
        }
    }
    return false;
}

bool PreferenceStore_CopyAll(PreferenceValue &Out) {
    for (const bool AnyUser : {false, true})
        if (PreferenceStore_Load(AnyUser ? PreferenceStore_AnyUserPath() : PreferenceStore_UserPath(), Out, false,
                                 AnyUser) == PreferenceLoad::Loaded &&
            !Out.Members.empty())
            return true;
    return false;
}

bool PreferenceStore_SetValue(std::string_view Key, const PreferenceValue *Value) {
    return PreferenceStore_Update(PreferenceStore_UserPath(), false, [&](PreferenceValue &Root) {
        if (Value != nullptr) {
            Root.Set(Key, *Value);
            return true;
        }
        return Root.Remove(Key);
    });
}
