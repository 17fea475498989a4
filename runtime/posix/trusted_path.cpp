// TrustedPath: see trusted_path.h.
#include "runtime/posix/trusted_path.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "runtime/text/string.h"

namespace {

constexpr int32 MostLinks = 40;
constexpr int FolderOpen = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

int32 Refuse(TrustedPathRefusal *Refusal, int32 Reason, const std::string &Where, int Error = 0) {
    if (Refusal != nullptr) {
        Refusal->Reason = Reason;
        Refusal->Error = Error;
        String_CopyLength(Refusal->Where, Where.empty() ? "/" : Where.c_str(), (int32)sizeof(Refusal->Where));
    }
    return FALSE;
}

// Root's or this user's.
bool Trusted(uid_t Owner) { return Owner == 0 || Owner == geteuid(); }

// A folder on the way: root's or this user's, closed to others' writes
// unless sticky (no one may then move away what is not theirs).
int32 CheckAbove(const struct stat &Info, uint32 Flags, const std::string &Where, TrustedPathRefusal *Refusal) {
    if (!S_ISDIR(Info.st_mode)) return Refuse(Refusal, TRUSTEDPATH_ABOVE_KIND, Where);
    if ((Flags & TRUSTEDPATH_ABOVE_IF_ROOT) && geteuid() != 0) return TRUE;
    if (!Trusted(Info.st_uid)) return Refuse(Refusal, TRUSTEDPATH_ABOVE_OTHER, Where);
    if (!(Info.st_mode & S_ISVTX) && (Info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return Refuse(Refusal, TRUSTEDPATH_ABOVE_WRITABLE, Where);
    return TRUE;
}

int32 CheckLast(const struct stat &Info, uint32 Flags, const std::string &Where, TrustedPathRefusal *Refusal) {
    const bool Folder = (Flags & TRUSTEDPATH_FOLDER) != 0;
    if (S_ISLNK(Info.st_mode)) return Refuse(Refusal, TRUSTEDPATH_LINK, Where);
    if (Folder ? !S_ISDIR(Info.st_mode) : !S_ISREG(Info.st_mode)) return Refuse(Refusal, TRUSTEDPATH_KIND, Where);
    if ((Flags & TRUSTEDPATH_OWN) ? Info.st_uid != geteuid() : !Trusted(Info.st_uid))
        return Refuse(Refusal, TRUSTEDPATH_OTHER, Where);
    if ((Flags & (TRUSTEDPATH_OWN | TRUSTEDPATH_PRIVATE)) == (TRUSTEDPATH_OWN | TRUSTEDPATH_PRIVATE) &&
        (Info.st_mode & 077) != 0)
        return Refuse(Refusal, TRUSTEDPATH_RIGHTS, Where);
    // A folder of the user's own is closed to others' writes; a shared one
    // (FOLDER without OWN) may be sticky, like any folder on the way.
    const bool Sticky = Folder && !(Flags & TRUSTEDPATH_OWN) && (Info.st_mode & S_ISVTX);
    if (!Sticky && (Info.st_mode & (S_IWGRP | S_IWOTH)) != 0) return Refuse(Refusal, TRUSTEDPATH_WRITABLE, Where);
    return TRUE;
}

// The segments of an absolute path, "" and "." in the middle dropped; false
// when it names ".." (unless Up: a link's target, walked folder by folder)
// or "." at its end.
bool Split(const std::string &Path, std::vector<std::string> *Out, bool Up = false) {
    for (size_t Start = 0; Start <= Path.size();) {
        size_t End = Path.find('/', Start);
        if (End == std::string::npos) End = Path.size();
        std::string Each = Path.substr(Start, End - Start);
        if (Each == ".." && !Up) return false;
        if (Each == "." && End >= Path.size() && !Up) return false;
        if (!Each.empty() && Each != ".") Out->push_back(Each);
        Start = End + 1;
    }
    return true;
}

// The folders walked so far, each open; the last is where the next name is
// looked up. Closes them all when the walk ends.
struct Walk {
    std::vector<int> Folders;
    std::string Shown; // the path walked, links resolved
    ~Walk() {
        for (int Each : Folders) close(Each);
    }
    int Here() const { return Folders.back(); }
};

} // namespace

int32 TrustedPath_Open(const char *Path, uint32 Flags, int32 *Descriptor, TrustedPathRefusal *Refusal) {
    if (Descriptor != nullptr) *Descriptor = -1;
    if (Refusal != nullptr) memset(Refusal, 0, sizeof(*Refusal));
    if (Path == nullptr || Path[0] == 0) return Refuse(Refusal, TRUSTEDPATH_ERROR, "", ENOENT);
    std::string Full = Path;
    if (Full[0] != '/') {
        char Here[4096];
        if (getcwd(Here, sizeof(Here)) == nullptr) return Refuse(Refusal, TRUSTEDPATH_ERROR, "", errno);
        Full = std::string(Here) + "/" + Full;
    }
    std::vector<std::string> Names;
    if (!Split(Full, &Names)) return Refuse(Refusal, TRUSTEDPATH_DOTS, Path);
    if (Names.empty()) Names.push_back("."); // "/" itself: looked at as its own last
    // The names still to walk, last first; a link's target is pushed in front.
    std::vector<std::string> Pending(Names.rbegin(), Names.rend());
    Walk Way;
    struct stat Info {};
    int Root = open("/", FolderOpen);
    if (Root < 0) return Refuse(Refusal, TRUSTEDPATH_ERROR, "/", errno);
    Way.Folders.push_back(Root);
    if (fstat(Root, &Info) != 0) return Refuse(Refusal, TRUSTEDPATH_ERROR, "/", errno);
    if (!CheckAbove(Info, Flags, "/", Refusal)) return FALSE;
    for (int32 Links = 0; !Pending.empty();) {
        const std::string Name = Pending.back();
        Pending.pop_back();
        const bool Last = Pending.empty();
        const std::string Next = Way.Shown + "/" + Name;
        if (Name == "..") { // in a link's target: back to the folder walked before
            if (Way.Folders.size() > 1) {
                close(Way.Folders.back());
                Way.Folders.pop_back();
                Way.Shown.resize(Way.Shown.rfind('/'));
            }
            if (!Last) continue;
            Pending.push_back(".");
            continue;
        }
        if (Name == ".") { // the folder walked last is the last
            const int Again = fcntl(Way.Here(), F_DUPFD_CLOEXEC, 3);
            const std::string Shown = Way.Shown.empty() ? "/" : Way.Shown;
            if (Again < 0) return Refuse(Refusal, TRUSTEDPATH_ERROR, Shown, errno);
            if (fstat(Again, &Info) != 0 || !CheckLast(Info, Flags, Shown, Refusal)) return close(Again), FALSE;
            if (Descriptor != nullptr) *Descriptor = Again;
            else close(Again);
            return TRUE;
        }
        if (fstatat(Way.Here(), Name.c_str(), &Info, AT_SYMLINK_NOFOLLOW) != 0) {
            const int Error = errno;
            const bool Make = (Flags & TRUSTEDPATH_MAKE) && (Flags & TRUSTEDPATH_FOLDER) && Error == ENOENT;
            if (!Make || (mkdirat(Way.Here(), Name.c_str(), 0700) != 0 && errno != EEXIST) ||
                fstatat(Way.Here(), Name.c_str(), &Info, AT_SYMLINK_NOFOLLOW) != 0)
                return Refuse(Refusal, Last ? TRUSTEDPATH_ERROR : TRUSTEDPATH_ABOVE_MISSING, Next, Error);
        }
        if (S_ISLNK(Info.st_mode) && !(Last && (Flags & TRUSTEDPATH_FOLDER))) {
            if (!Trusted(Info.st_uid)) return Refuse(Refusal, TRUSTEDPATH_ABOVE_OTHER, Next);
            char Target[4096];
            const ssize_t Count = readlinkat(Way.Here(), Name.c_str(), Target, sizeof(Target) - 1);
            if (Count <= 0 || (size_t)Count >= sizeof(Target) - 1 || ++Links > MostLinks)
                return Refuse(Refusal, TRUSTEDPATH_ABOVE_LINK, Next);
            std::vector<std::string> Inside;
            const std::string Text(Target, (size_t)Count);
            Split(Text[0] == '/' ? Text : "/" + Text, &Inside, true);
            if (Text[0] == '/') {
                while (Way.Folders.size() > 1) {
                    close(Way.Folders.back());
                    Way.Folders.pop_back();
                }
                Way.Shown.clear();
            }
            if (Inside.empty() && Last) Inside.push_back(".");
            Pending.insert(Pending.end(), Inside.rbegin(), Inside.rend());
            continue;
        }
        const bool Folder = !Last || (Flags & TRUSTEDPATH_FOLDER);
        const int Opened = openat(Way.Here(), Name.c_str(),
                                  Folder ? FolderOpen : O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (Opened < 0) {
            if (Last && (errno == ELOOP || errno == ENOTDIR))
                return Refuse(Refusal, S_ISLNK(Info.st_mode) ? TRUSTEDPATH_LINK : TRUSTEDPATH_KIND, Next);
            return Refuse(Refusal, Last ? TRUSTEDPATH_ERROR : TRUSTEDPATH_ABOVE_KIND, Next, errno);
        }
        if (fstat(Opened, &Info) != 0) {
            close(Opened);
            return Refuse(Refusal, TRUSTEDPATH_ERROR, Next, errno);
        }
        if (Last) {
            if (!CheckLast(Info, Flags, Next, Refusal)) return close(Opened), FALSE;
            if (!Folder) fcntl(Opened, F_SETFL, fcntl(Opened, F_GETFL) & ~O_NONBLOCK);
            if (Descriptor != nullptr) *Descriptor = Opened;
            else close(Opened);
            return TRUE;
        }
        Way.Folders.push_back(Opened);
        Way.Shown = Next;
        if (!CheckAbove(Info, Flags, Next, Refusal)) return FALSE;
    }
    return TRUE;
}

int32 TrustedPath_Explain(const TrustedPathRefusal *Refusal, uint32 Flags, char *Output, int32 Size) {
    if (Output == nullptr || Size <= 0) return FALSE;
    const char *Where = Refusal != nullptr ? Refusal->Where : "";
    const int32 Reason = Refusal != nullptr ? Refusal->Reason : TRUSTEDPATH_ERROR;
    const bool Folder = (Flags & TRUSTEDPATH_FOLDER) != 0;
    char Error[200] = "";
    switch (Reason) {
    case 0: String_CopyLength(Output, "", Size); break;
    case TRUSTEDPATH_DOTS: String_CopyLength(Output, "it names \".\" or \"..\"", Size); break;
    case TRUSTEDPATH_ABOVE_KIND: String_Print(Output, Size, "the folder above it %s is not a folder", Where); break;
    case TRUSTEDPATH_ABOVE_OTHER:
        String_Print(Output, Size, "the folder above it %s belongs to another user", Where);
        break;
    case TRUSTEDPATH_ABOVE_WRITABLE:
        String_Print(Output, Size, "other users may write in the folder above it %s", Where);
        break;
    case TRUSTEDPATH_ABOVE_MISSING:
        String_Print(Output, Size, "the folder above it %s: %s", Where,
                     strerror_r(Refusal->Error, Error, sizeof(Error)));
        break;
    case TRUSTEDPATH_ABOVE_LINK: String_Print(Output, Size, "the link above it %s cannot be followed", Where); break;
    case TRUSTEDPATH_LINK: String_CopyLength(Output, "it is a link", Size); break;
    case TRUSTEDPATH_KIND:
        String_CopyLength(Output, Folder ? "it is not a folder" : "it is not a regular file", Size);
        break;
    case TRUSTEDPATH_OTHER: String_CopyLength(Output, "it belongs to another user", Size); break;
    case TRUSTEDPATH_WRITABLE:
        String_CopyLength(Output, Folder ? "other users may write in it" : "other users may write it", Size);
        break;
    case TRUSTEDPATH_RIGHTS: String_CopyLength(Output, "other users have rights on it", Size); break;
    default: {
        const int Number = Refusal != nullptr ? Refusal->Error : EINVAL;
        if (Number == ENOENT) String_CopyLength(Output, "it does not exist", Size);
        else String_CopyLength(Output, strerror_r(Number, Error, sizeof(Error)), Size);
    }
    }
    return TRUE;
}
