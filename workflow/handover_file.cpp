// The hand-over file (see handover_file.h). Everything past the choice of
// the place goes through descriptors of folders already checked: a name
// another user swaps or links afterwards is never followed.
#include "workflow/handover_file.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "runtime/debug.h"
#include "runtime/log.h"
#include "runtime/posix/platform.h"

struct HandOverFile {
    int Place = -1;  // the folder the hand-over folder was made in
    int Folder = -1; // the hand-over folder, open since it was made
    dev_t Device = 0;
    ino_t Inode = 0;
    std::string Name; // of the hand-over folder, in Place
    std::string Path; // of the file
};

namespace {

constexpr const char *FileName = "endpoint";
constexpr const char *Prefix = "velmarsh-handover-";
constexpr size_t SuffixLength = 6;
constexpr const char Letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr size_t TextLimit = 12288; // the URL and the arguments

// A folder name Write makes: the parent's id and start time (so that a later
// parent can tell a folder whose maker is gone) and random letters.
bool ParseName(const std::string &Name, int32 *Pid, uint64 *Start) {
    const size_t Length = strlen(Prefix);
    if (Name.compare(0, Length, Prefix) != 0 || Name.size() < Length + SuffixLength + 4) return false;
    const std::string Suffix = Name.substr(Name.size() - SuffixLength);
    if (Suffix.find_first_not_of(Letters) != std::string::npos || Name[Name.size() - SuffixLength - 1] != '-')
        return false;
    const std::string Middle = Name.substr(Length, Name.size() - Length - SuffixLength - 1);
    const size_t Point = Middle.find('.');
    if (Point == std::string::npos || Point == 0 || Point > 10 || Middle.size() - Point - 1 == 0 ||
        Middle.size() - Point - 1 > 20 || Middle.find_first_not_of("0123456789.") != std::string::npos ||
        Middle.find('.', Point + 1) != std::string::npos)
        return false;
    const unsigned long long Id = strtoull(Middle.c_str(), nullptr, 10);
    if (Id == 0 || Id > 0x7fffffff) return false;
    *Pid = (int32)Id;
    *Start = strtoull(Middle.c_str() + Point + 1, nullptr, 10);
    return true;
}

// A place where no other user can rename our folder away or put another in
// its stead: owned by us or root, and writable by nobody else unless sticky.
const char *PlaceRefusal(int Fd) {
    struct stat Info {};
    if (fstat(Fd, &Info) != 0 || !S_ISDIR(Info.st_mode)) return "is not a folder";
    if (Info.st_uid != getuid() && Info.st_uid != 0) return "belongs to another user";
    if ((Info.st_mode & 022) != 0 && (Info.st_mode & S_ISVTX) == 0) return "is writable by other users";
    return nullptr;
}

// Owned by the owner or root, of the given kind, no right for anyone else.
const char *Refusal(const struct stat &Info, mode_t Kind, uint32 Owner) {
    if ((Info.st_mode & S_IFMT) != Kind) return "not of the expected kind";
    if (Info.st_uid != Owner && Info.st_uid != 0) return "owned by another user";
    if ((Info.st_mode & 077) != 0) return "open to other users";
    return nullptr;
}

// The names in a folder, "." and ".." left out; false when it cannot be read.
bool Names(int Folder, std::vector<std::string> *Out) {
    const int Own = openat(Folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *List = Own >= 0 ? fdopendir(Own) : nullptr;
    if (List == nullptr) {
        if (Own >= 0) close(Own);
        return false;
    }
    while (dirent *Entry = readdir(List))
        if (strcmp(Entry->d_name, ".") != 0 && strcmp(Entry->d_name, "..") != 0) Out->emplace_back(Entry->d_name);
    closedir(List);
    return true;
}

// Removes the file in the open folder, then the folder itself, but only
// while Name in Place still is that very folder.
void RemoveThrough(int Place, int Folder, const std::string &Name, dev_t Device, ino_t Inode) {
    unlinkat(Folder, FileName, 0);
    struct stat Now {};
    if (fstatat(Place, Name.c_str(), &Now, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(Now.st_mode) &&
        Now.st_dev == Device && Now.st_ino == Inode)
        unlinkat(Place, Name.c_str(), AT_REMOVEDIR);
}

// Folders of this user's earlier parents that no longer run (killed while
// the elevator asked): their files are worthless but would pile up. Only a
// folder holding nothing but a hand-over file goes. The place may be shared
// (/tmp): another user can fill it with names like ours, so a name is first
// checked for its owner, which costs no /proc read nor open, and one sweep
// reads no more than the first SweepLimit names there, so that it ends in
// milliseconds however full the place is and never holds up a signal's
// effect. A stale folder past them waits for a later sweep or the user.
constexpr size_t SweepLimit = 4096;

void RemoveStale(int Place) {
    const int Own = openat(Place, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *List = Own >= 0 ? fdopendir(Own) : nullptr;
    if (List == nullptr) {
        if (Own >= 0) close(Own);
        return;
    }
    const size_t PrefixLength = strlen(Prefix);
    size_t Read = 0;
    while (Read++ < SweepLimit) {
        const dirent *Entry = readdir(List);
        if (Entry == nullptr) break;
        const std::string Name = Entry->d_name;
        int32 Pid = 0;
        uint64 Start = 0;
        struct stat Info {};
        if (Name.compare(0, PrefixLength, Prefix) != 0 ||
            fstatat(Place, Name.c_str(), &Info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(Info.st_mode) ||
            Info.st_uid != getuid() || !ParseName(Name, &Pid, &Start) || Platform_GetProcessStartTime(Pid) == Start)
            continue;
        const int Folder = openat(Place, Name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (Folder < 0) continue;
        std::vector<std::string> Inside;
        if (fstat(Folder, &Info) == 0 && Info.st_uid == getuid() && Refusal(Info, S_IFDIR, Info.st_uid) == nullptr &&
            Names(Folder, &Inside) && (Inside.empty() || (Inside.size() == 1 && Inside[0] == FileName))) {
            Log_Info("Removing the stale hand-over folder %s\n", Name.c_str());
            RemoveThrough(Place, Folder, Name, Info.st_dev, Info.st_ino);
        }
        close(Folder);
    }
    closedir(List);
}

// Writes all of Text; 0, else the error of the call that failed.
int WriteAll(int Fd, const char *Text, size_t Length) {
    while (Length > 0) {
        const ssize_t Count = write(Fd, Text, Length);
        if (Count < 0 && errno == EINTR) continue;
        if (Count < 0) return errno;
        if (Count == 0) return EIO;
        Text += Count;
        Length -= (size_t)Count;
    }
    return 0;
}

// The place for the folder, open; its path in Path. -1 with the reason.
int ChoosePlace(std::string *Path, std::string *Reason) {
    std::string Refused;
    for (const char *Variable : {"TMPDIR", "XDG_RUNTIME_DIR", ""}) {
        const char *Value = Variable[0] != 0 ? getenv(Variable) : "/tmp";
        if (Value == nullptr || Value[0] == 0) continue;
        std::string Why;
        int Fd = -1;
        if (Value[0] != '/') Why = "is not an absolute path";
        else if ((Fd = open(Value, O_RDONLY | O_DIRECTORY | O_CLOEXEC)) < 0)
            Why = std::string("cannot be opened: ") + strerror(errno);
        else if (const char *Bad = PlaceRefusal(Fd)) Why = Bad;
        if (Why.empty()) {
            if (!Refused.empty()) Log_Info("The hand-over folder goes to %s: %s\n", Value, Refused.c_str());
            *Path = Value;
            return Fd;
        }
        if (Fd >= 0) close(Fd);
        Refused += (Refused.empty() ? "" : "; ") +
                   (Variable[0] != 0 ? std::string(Variable) + "=" + Value : std::string(Value)) + " " + Why;
    }
    *Reason = "no usable folder for the hand-over file (" + Refused + ")";
    return -1;
}

} // namespace

int32 HandOverFile_Write(const char *Text, HandOverFile **Handle, char *Reason, int32 ReasonSize) {
    Debug_CheckPointer(Text);
    Debug_CheckPointer(Handle);
    *Handle = nullptr;
    if (ReasonSize > 0) Reason[0] = 0;
    auto Fail = [&](const std::string &Why) {
        Log_Error("Cannot hand over: %s\n", Why.c_str());
        if (ReasonSize > 0) snprintf(Reason, (size_t)ReasonSize, "%s", Why.c_str());
        return FALSE;
    };
    std::string Place, Why;
    const int PlaceFd = ChoosePlace(&Place, &Why);
    if (PlaceFd < 0) return Fail(Why);
    RemoveStale(PlaceFd);
    const int32 Own = (int32)getpid();
    const std::string Stem =
        Prefix + std::to_string(Own) + "." + std::to_string(Platform_GetProcessStartTime(Own)) + "-";
    std::string Name;
    int Error = EEXIST;
    for (int32 Attempt = 0; Attempt < 100 && Error == EEXIST; Attempt++) {
        uint8 Random[SuffixLength];
        if (getrandom(Random, sizeof(Random), 0) != (ssize_t)sizeof(Random)) {
            Error = errno;
            break;
        }
        Name = Stem;
        for (uint8 Byte : Random) Name += Letters[Byte % (sizeof(Letters) - 1)];
        Error = mkdirat(PlaceFd, Name.c_str(), 0700) == 0 ? 0 : errno;
    }
    if (Error != 0) {
        close(PlaceFd);
        return Fail("cannot make the hand-over folder in " + Place + ": " + strerror(Error));
    }
    const int Folder = openat(PlaceFd, Name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat Info {};
    if (Folder < 0 || fstat(Folder, &Info) != 0) {
        // Nobody else may rename or fill it in this place, so the empty
        // folder under that name is still the one just made.
        Error = errno;
        if (Folder >= 0) close(Folder);
        unlinkat(PlaceFd, Name.c_str(), AT_REMOVEDIR);
        close(PlaceFd);
        return Fail("cannot open the hand-over folder in " + Place + ": " + strerror(Error));
    }
    auto File = new HandOverFile;
    File->Place = PlaceFd;
    File->Folder = Folder;
    File->Device = Info.st_dev;
    File->Inode = Info.st_ino;
    File->Name = Name;
    File->Path = Place + (Place.back() == '/' ? "" : "/") + Name + "/" + FileName;
    const int Fd = openat(Folder, FileName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    Error = Fd < 0 ? errno : WriteAll(Fd, Text, strlen(Text));
    if (Fd >= 0 && close(Fd) != 0 && Error == 0) Error = errno;
    if (Error != 0) {
        HandOverFile_Remove(&File);
        return Fail("cannot write the hand-over file in " + Place + ": " + strerror(Error));
    }
    *Handle = File;
    return TRUE;
}

int32 HandOverFile_GetPath(HandOverFile *Handle, char *Path, int32 Size) {
    Debug_CheckPointer(Handle);
    if (Handle->Path.size() + 1 > (size_t)Size) return FALSE;
    memcpy(Path, Handle->Path.c_str(), Handle->Path.size() + 1);
    return TRUE;
}

int32 HandOverFile_Remove(HandOverFile **Handle) {
    Debug_CheckPointer(Handle);
    HandOverFile *File = *Handle;
    if (File == nullptr) return TRUE;
    if (File->Folder >= 0) {
        RemoveThrough(File->Place, File->Folder, File->Name, File->Device, File->Inode);
        close(File->Folder);
    }
    if (File->Place >= 0) close(File->Place);
    delete File;
    *Handle = nullptr;
    return TRUE;
}

namespace {

// HandOverFile_Read without its log line: null and the text in Read, or why
// the file was refused.
const char *TakeFile(const char *Path, uint32 Owner, std::string &Read) {
    // <place>/<folder>/endpoint, the folder named as Write names it.
    const std::string Whole = Path;
    const size_t Last = Whole.rfind('/');
    const size_t Middle = Last == std::string::npos || Last == 0 ? std::string::npos : Whole.rfind('/', Last - 1);
    const std::string Name = Middle == std::string::npos ? "" : Whole.substr(Middle + 1, Last - Middle - 1);
    const std::string Place = Middle == std::string::npos ? "" : Middle == 0 ? "/" : Whole.substr(0, Middle);
    int32 Pid = 0;
    uint64 Start = 0;
    struct stat Info {};
    const char *Why = nullptr;
    int PlaceFd = -1, Folder = -1, Fd = -1;
    std::vector<std::string> Inside;
    if (Path[0] != '/' || Name.empty() || Whole.compare(Last + 1, std::string::npos, FileName) != 0 ||
        !ParseName(Name, &Pid, &Start))
        Why = "not a hand-over file";
    else if ((PlaceFd = open(Place.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) < 0 ||
             (Folder = openat(PlaceFd, Name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)) < 0 ||
             fstat(Folder, &Info) != 0)
        Why = "its folder is missing or not a folder";
    else if (const char *Bad = Refusal(Info, S_IFDIR, Owner)) Why = Bad;
    else if (!Names(Folder, &Inside) || Inside.size() != 1 || Inside[0] != FileName)
        Why = "its folder holds something else";
    const dev_t Device = Info.st_dev;
    const ino_t Inode = Info.st_ino;
    if (Why == nullptr) {
        Fd = openat(Folder, FileName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        if (Fd < 0 || fstat(Fd, &Info) != 0) Why = "it cannot be opened";
        else if ((Why = Refusal(Info, S_IFREG, Owner)) == nullptr && Info.st_nlink != 1) Why = "it has other names";
    }
    if (Why == nullptr) {
        char Buffer[512];
        ssize_t Got = 0;
        while ((Got = read(Fd, Buffer, sizeof(Buffer))) > 0 && Read.size() <= TextLimit) Read.append(Buffer, (size_t)Got);
        if (Got < 0 || Read.size() > TextLimit || Read.empty()) Why = "its content is not usable";
    }
    if (Fd >= 0) close(Fd);
    if (Why == nullptr) RemoveThrough(PlaceFd, Folder, Name, Device, Inode);
    if (Folder >= 0) close(Folder);
    if (PlaceFd >= 0) close(PlaceFd);
    return Why;
}

} // namespace

int32 HandOverFile_Read(const char *Path, uint32 Owner, char *Text, int32 Size) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Text);
    if (Size > 0) Text[0] = 0;
    std::string Read;
    if (const char *Why = TakeFile(Path, Owner, Read)) {
        Log_Error("Hand-over file %s refused: %s\n", Path, Why);
        return FALSE;
    }
    while (!Read.empty() && (Read.back() == '\n' || Read.back() == '\r')) Read.pop_back();
    const size_t Count = std::min(Read.size(), (size_t)(Size > 0 ? Size - 1 : 0));
    if (Size > 0) {
        memcpy(Text, Read.data(), Count);
        Text[Count] = 0;
    }
    return TRUE;
}

namespace {

// What the worker claimed at its start, or why it could not (told once the
// log is open: the claim comes before it).
struct Claimed {
    bool Held = false;
    std::string Url, Arguments, Refused;
};
Claimed &TheClaim() {
    static Claimed Kept;
    return Kept;
}

} // namespace

int32 HandOverFile_Claim(const char *Path, uint32 Owner) {
    Debug_CheckPointer(Path);
    std::string Whole;
    Claimed &Kept = TheClaim();
    if (const char *Why = TakeFile(Path, Owner, Whole)) {
        Kept.Refused = std::string("Hand-over file ") + Path + " refused: " + Why;
        return FALSE;
    }
    while (!Whole.empty() && (Whole.back() == '\n' || Whole.back() == '\r')) Whole.pop_back();
    const size_t Break = Whole.find('\n');
    Kept.Url = Whole.substr(0, Break);
    Kept.Arguments = Break == std::string::npos ? "" : Whole.substr(Break + 1);
    Kept.Held = true;
    return TRUE;
}

int32 HandOverFile_GetClaimed(char *Url, int32 UrlSize, char *Arguments, int32 ArgumentsSize) {
    Claimed &Kept = TheClaim();
    if (!Kept.Refused.empty()) Log_Error("%s\n", Kept.Refused.c_str());
    Kept.Refused.clear();
    auto Copy = [](const std::string &From, char *To, int32 Size) {
        if (To == nullptr || Size <= 0) return;
        const size_t Count = std::min(From.size(), (size_t)Size - 1);
        memcpy(To, From.data(), Count);
        To[Count] = 0;
    };
    Copy(Kept.Held ? Kept.Url : "", Url, UrlSize);
    Copy(Kept.Held ? Kept.Arguments : "", Arguments, ArgumentsSize);
    return Kept.Held ? TRUE : FALSE;
}
