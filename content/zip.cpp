// Zip: all-or-nothing extraction (see zip.h). Three passes: plan (every
// name, link, conflict and bound checked, link targets read, nothing
// written), stage (folders made and every file written, for this user only,
// to a temporary name in its own folder, verified and given its time; a
// file or link that a later entry of the same path replaces is only
// verified), commit (each staged file given its mode and then each link
// swapped into place, what it replaced kept aside until the last one
// stands). A failure at any point puts back what the commit replaced and
// removes what this call made.
//
// Other extractions may run into the same folders at once, or have been
// killed there. Each holds a lock file named by its mark in its
// destination while it runs; staged files carry the mark, so a later one
// removes those of this user whose lock no one holds any more.
//
// The file system work per file is kept to what it needs: one status read
// while planning (folders are resolved once), then create, write, time,
// close, and at commit open, status, mode, close and one rename (two when
// something stood there).
#include "content/zip.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "content/zip_backend.h"
#include "content/zip_internal.h"
#include "content/zip_layout.h"
#include "runtime/debug.h"
#include "runtime/files/path.h"
#include "runtime/log.h"
#include "runtime/text/crc.h"
#include "runtime/text/string.h"

namespace {

constexpr size_t MaximumPath = MAX_PATH_SIZE - 1;
constexpr size_t MaximumName = 255; // one component, as file systems allow
constexpr size_t MaximumLinkTarget = 1024;
constexpr size_t PieceSize = 64 * 1024;
// Bounds on what an archive may ask for (see zip.h).
constexpr uint64 OutputRatio = 256;
constexpr uint64 OutputAllowance = 1 << 20;
constexpr size_t MaximumFolders = 65536;
// Most links one link's target may pass through, as the kernel's limit.
constexpr int MaximumLinkHops = 40;
// Path components all link resolutions together may step through.
constexpr uint64 LinkStepsBase = 1 << 18;
constexpr uint64 LinkStepsPerLink = 32;
// Longest path a resolution may pass through, relative to the destination.
constexpr size_t MaximumResolvedPath = MaximumPath + MaximumLinkTarget;

enum class Kind { Folder, File, Link };

struct Entry {
    zip_uint64_t Index;
    Kind Type;
    std::string Relative; // components joined by "/"
    std::string Final;    // Destination + "/" + Relative
    std::string Temporary;
    std::string Backup; // what stood at Final before the commit
    std::string LinkTarget;
    std::string LinkPlace; // where the link lands, resolved, relative to the destination
    zip_stat_t Stat;
    bool Executable;
    bool Superseded; // a later file or link entry goes to the same path
    bool Existed; // something stood at Final while planning: this one
    dev_t SeenDevice;
    ino_t SeenInode;
    mode_t SeenType;
    bool Placed;
    mode_t Mode;
    dev_t Device;
    ino_t Inode;
};

struct ArchiveOwner {
    zip_t *Handle = nullptr;
    ~ArchiveOwner() {
        if (Handle != nullptr) zip_discard(Handle);
    }
};

bool IsSeparator(char Character) { return Character == '/' || Character == '\\'; }

// Staged files are named ".unzip-MARK-N.tmp" (with "-old" behind for one
// set aside), lock files ".unzip-MARK.lock"; Owner receives the MARK.
constexpr std::string_view StagedPrefix = ".unzip-";
constexpr size_t MarkLength = 16;
bool StagedName(std::string_view Name, std::string &Owner) {
    const auto Hex = [](char C) { return (C >= '0' && C <= '9') || (C >= 'a' && C <= 'f'); };
    if (Name.substr(0, StagedPrefix.size()) != StagedPrefix || Name.size() < StagedPrefix.size() + MarkLength + 5)
        return false;
    const std::string_view Mark = Name.substr(StagedPrefix.size(), MarkLength);
    std::string_view Rest = Name.substr(StagedPrefix.size() + MarkLength);
    if (!std::all_of(Mark.begin(), Mark.end(), Hex)) return false;
    if (Rest != ".lock") {
        if (Rest.size() > 4 && Rest.substr(Rest.size() - 4) == "-old") Rest.remove_suffix(4);
        if (Rest.size() < 6 || Rest[0] != '-' || Rest.substr(Rest.size() - 4) != ".tmp") return false;
        const std::string_view Count = Rest.substr(1, Rest.size() - 5);
        if (!std::all_of(Count.begin(), Count.end(), [](char C) { return C >= '0' && C <= '9'; })) return false;
    }
    Owner = Mark;
    return true;
}

// The name's components without "." and empty ones (none for a name such as
// "./", the destination itself); false for an empty or absolute name
// (leading separator or drive letter) or a ".." component.
bool SplitName(const std::string &Name, std::vector<std::string> &Parts) {
    if (Name.empty() || IsSeparator(Name[0])) return false;
    if (Name.size() >= 2 && Name[1] == ':') return false;
    std::string Part;
    for (size_t I = 0; I <= Name.size(); I++) {
        if (I == Name.size() || IsSeparator(Name[I])) {
            if (Part == "..") return false;
            if (!Part.empty() && Part != ".") Parts.push_back(Part);
            Part.clear();
        } else {
            Part += Name[I];
        }
    }
    return true;
}

std::string Join(const std::vector<std::string> &Parts, size_t Count) {
    std::string Path;
    for (size_t I = 0; I < Count; I++) Path += (I ? "/" : "") + Parts[I];
    return Path;
}

// Whether a link at Relative (components) with Target stays inside the
// destination when resolved by its text, backslashes counted as separators.
bool LinkStaysInside(const std::vector<std::string> &Where, const std::string &Target) {
    if (Target.empty() || IsSeparator(Target[0]) || (Target.size() >= 2 && Target[1] == ':')) return false;
    std::vector<std::string> Stack(Where.begin(), Where.end() - 1);
    std::string Part;
    for (size_t I = 0; I <= Target.size(); I++) {
        if (I == Target.size() || IsSeparator(Target[I])) {
            if (Part == "..") {
                if (Stack.empty()) return false;
                Stack.pop_back();
            } else if (!Part.empty() && Part != ".") {
                Stack.push_back(Part);
            }
            Part.clear();
        } else {
            Part += Target[I];
        }
    }
    return true;
}

// Puts the "/"-separated components of Path in front of Pending, in order.
void PushFront(std::deque<std::string> &Pending, const std::string &Path) {
    std::vector<std::string> Parts;
    size_t Start = 0;
    for (size_t End; (End = Path.find('/', Start)) != std::string::npos; Start = End + 1)
        Parts.push_back(Path.substr(Start, End - Start));
    Parts.push_back(Path.substr(Start));
    Pending.insert(Pending.begin(), Parts.begin(), Parts.end());
}

std::string RealPath(const std::string &Path) {
    char Buffer[PATH_MAX];
    return realpath(Path.c_str(), Buffer) != nullptr ? std::string(Buffer) : std::string();
}

bool Inside(const std::string &Root, const std::string &Path) {
    return Path == Root || (Path.size() > Root.size() && Path.compare(0, Root.size(), Root) == 0 &&
                            (Root.back() == '/' || Path[Root.size()] == '/'));
}

bool WriteAll(int Descriptor, const uint8 *Data, size_t Length) {
    while (Length > 0) {
        const ssize_t Done = write(Descriptor, Data, Length);
        if (Done < 0 && errno == EINTR) continue;
        if (Done <= 0) return false;
        Data += Done;
        Length -= (size_t)Done;
    }
    return true;
}

// The process's file mode mask, read without changing it (umask() would,
// for a moment, for every thread).
mode_t ProcessUmask() {
    FILE *Status = fopen("/proc/self/status", "re");
    unsigned Mask = 022;
    if (Status != nullptr) {
        char Line[256];
        while (fgets(Line, sizeof(Line), Status) != nullptr)
            if (sscanf(Line, "Umask: %o", &Mask) == 1) break;
        fclose(Status);
    }
    return (mode_t)Mask & 0777;
}

class Extraction {
  public:
    Extraction(const char *Path, int64 StartOffset, const char *Destination, const char *Password)
        : Path(Path), StartOffset(StartOffset), Destination(Destination), Password(Password) {}

    ~Extraction() { RollBack(); }

    bool Run() { return Prepare() && Plan() && Stage() && Commit(); }

  private:
    const char *Path;
    int64 StartOffset;
    std::string Destination;
    const char *Password;
    std::string Root; // the destination, resolved
    ArchiveOwner Archive;
    std::vector<Entry> Entries;
    std::vector<ZipLayoutEntry> Layout;
    uint64 ArchiveSize = 0; // from StartOffset on
    std::vector<std::string> MadeFolders;
    bool Succeeded = false;
    // Folders known to stand (made or seen), and the planning's answers per
    // folder: nothing is written while planning, so they cannot change, and
    // an archive's entries share few folders.
    std::unordered_set<std::string> KnownFolders;
    std::unordered_map<std::string, std::string> FolderPlace;
    std::string Mark, LockPath;
    int Lock = -1;
    uint64 TemporaryCount = 0;
    std::unordered_set<std::string> Swept;
    std::unordered_map<std::string, bool> Owners; // other marks met: whether gone
    mode_t FileMode = 0;
    // Link resolution: the archive's links by where they land, what stands
    // in the destination now (read once per path that stands) and the work
    // done.
    std::unordered_map<std::string, std::string> Links;
    std::unordered_map<std::string, std::optional<std::string>> StandingLinks;
    uint64 LinkSteps = 0, LinkStepBudget = LinkStepsBase;

    // Where Folder lies once resolved: its deepest existing ancestor through
    // any links, the missing rest as named; empty where that is outside the
    // resolved destination.
    const std::string &ResolvedFolder(const std::string &Folder) {
        const auto Known = FolderPlace.find(Folder);
        if (Known != FolderPlace.end()) return Known->second;
        struct stat Status;
        std::string Answer;
        const size_t Slash = Folder.rfind('/');
        if (lstat(Folder.c_str(), &Status) == 0) Answer = RealPath(Folder);
        else if (Slash != std::string::npos && Slash != 0 && !ResolvedFolder(Folder.substr(0, Slash)).empty())
            Answer = ResolvedFolder(Folder.substr(0, Slash)) + Folder.substr(Slash);
        if (!Inside(Root, Answer)) Answer.clear();
        return FolderPlace.emplace(Folder, std::move(Answer)).first->second;
    }

    // Puts the entry where the file system will: its folder resolved, and a
    // folder entry that is a link already there by what the link leads to
    // (a file or link entry replaces such a link, never writes through it,
    // but it must lead inside all the same). Status and Exists then describe
    // the path itself, not followed. False where it lies outside.
    bool Resolve(Entry &Item, struct stat &Status, bool &Exists) {
        const size_t Slash = Item.Final.rfind('/');
        const std::string &Folder = ResolvedFolder(Item.Final.substr(0, Slash == 0 ? 1 : Slash));
        if (Folder.empty()) return false;
        Item.Final = Folder + Item.Final.substr(Slash);
        Exists = lstat(Item.Final.c_str(), &Status) == 0;
        if (Exists && S_ISLNK(Status.st_mode)) {
            const std::string Real = RealPath(Item.Final);
            if (!Inside(Root, Real)) return false;
            if (Item.Type == Kind::Folder) Exists = lstat((Item.Final = Real).c_str(), &Status) == 0;
        }
        Item.Relative = Item.Final.size() > Root.size() ? Item.Final.substr(Root.size() + (Root.back() != '/')) : "";
        return true;
    }

    // The entry's name goes in brackets after the reason, never right after
    // a word such as "password" where the log would take it for a secret.
    bool Refuse(const std::string &Reason, const std::string &Name = "") {
        if (Name.empty()) Log_Error("Zip: %s (%s)\n", Reason.c_str(), Path);
        else Log_Error("Zip: %s (entry \"%s\" of %s)\n", Reason.c_str(), Name.c_str(), Path);
        return false;
    }

    bool MakeFolder(const std::string &Folder) {
        if (KnownFolders.count(Folder) != 0) return true;
        if (mz_os_is_dir(Folder.c_str()) == MZ_OK) {
            Sweep(Folder);
        } else {
            // Parents first, each remembered for the roll-back.
            const size_t Slash = Folder.rfind('/');
            if (Slash != std::string::npos && Slash > 0 && !MakeFolder(Folder.substr(0, Slash))) return false;
            // Another extraction may make the same folder at the same time.
            if (mkdir(Folder.c_str(), 0777) == 0) MadeFolders.push_back(Folder);
            else if (errno != EEXIST || mz_os_is_dir(Folder.c_str()) != MZ_OK) return false;
        }
        KnownFolders.insert(Folder);
        return true;
    }

    // The destination's own path is the caller's choice: links on it are
    // followed, and what it resolves to is where everything goes.
    bool MakeDestination(const std::string &Folder) {
        struct stat Status;
        if (stat(Folder.c_str(), &Status) == 0) return S_ISDIR(Status.st_mode);
        const size_t Slash = Folder.rfind('/');
        if (Slash != std::string::npos && Slash > 0 && !MakeDestination(Folder.substr(0, Slash))) return false;
        if (mkdir(Folder.c_str(), 0777) != 0) return errno == EEXIST && stat(Folder.c_str(), &Status) == 0;
        MadeFolders.push_back(Folder);
        return true;
    }

    // Where each entry's bytes lie, read from the file itself before libzip
    // reads it: entries sharing bytes or reaching outside the archive's data
    // are refused here. Plan holds libzip's reading of the directory to this
    // one, entry by entry.
    bool ReadLayout() {
        const int Descriptor = open(Path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        struct stat Status;
        if (Descriptor < 0 || fstat(Descriptor, &Status) != 0 || !S_ISREG(Status.st_mode) || StartOffset < 0 ||
            StartOffset > Status.st_size) {
            if (Descriptor >= 0) close(Descriptor);
            return Refuse("cannot read the archive");
        }
        ArchiveSize = (uint64)(Status.st_size - StartOffset);
        std::string Error;
        const bool Read = ZipLayout_Read(ArchiveSize, [&](uint64 Offset, uint8 *Data, size_t Length) {
            if (Offset > ArchiveSize || Length > ArchiveSize - Offset) return false;
            for (off_t At = (off_t)(StartOffset + Offset); Length > 0;) {
                const ssize_t Got = pread(Descriptor, Data, Length, At);
                if (Got < 0 && errno == EINTR) continue;
                if (Got <= 0) return false;
                Data += Got;
                Length -= (size_t)Got;
                At += Got;
            }
            return true;
        }, Layout, Error);
        close(Descriptor);
        return Read || Refuse(Error);
    }

    bool Prepare() {
        if (!ReadLayout()) return false;
        char Resolved[MAX_PATH_SIZE];
        if (Destination.empty() || !Path_Resolve(Destination.c_str(), Resolved, sizeof(Resolved)) ||
            strlen(Resolved) >= MaximumPath)
            return Refuse("destination path is not usable");
        Destination = Resolved;
        while (Destination.size() > 1 && Destination.back() == '/') Destination.pop_back();
        // Another extraction's roll-back may take a folder it made away
        // between the two steps: once more then.
        for (int Attempt = 0; Attempt < 2 && Root.empty(); Attempt++) {
            if (!MakeDestination(Destination)) return Refuse("cannot create the destination");
            Root = RealPath(Destination);
        }
        if (Root.empty() || Root.size() >= MaximumPath) return Refuse("cannot resolve the destination");
        Destination = Root;
        FileMode = 0666 & ~ProcessUmask();
        std::string Error;
        Archive.Handle = ZipInt_Open(Path, StartOffset, Error);
        if (Archive.Handle == nullptr) return Refuse("cannot read the archive: " + Error);
        return true;
    }

    bool ReadLinkTarget(Entry &Item) {
        if (Item.Stat.size > MaximumLinkTarget) return Refuse("link target too long", Item.Relative);
        std::string Target;
        std::string Error;
        if (!ReadEntry(Item, [&](const uint8 *Data, size_t Length) {
                Target.append(reinterpret_cast<const char *>(Data), Length);
                return Target.size() <= MaximumLinkTarget;
            }, Error))
            return Refuse("cannot read link: " + Error, Item.Relative);
        if (Target.find('\0') != std::string::npos) return Refuse("link target is not a path", Item.Relative);
        Item.LinkTarget = Target;
        return true;
    }

    bool Plan() {
        const zip_int64_t Count = zip_get_num_entries(Archive.Handle, 0);
        if (Count < 0 || (uint64)Count != Layout.size()) return Refuse("the archive's directory reads two ways");
        const uint64 OutputLimit = ArchiveSize > (UINT64_MAX - OutputAllowance) / OutputRatio
                                       ? UINT64_MAX
                                       : OutputAllowance + OutputRatio * ArchiveSize;
        uint64 Output = 0;
        std::set<std::string> Occupied, Prefixes;
        for (zip_uint64_t Index = 0; Index < (zip_uint64_t)Count; Index++) {
            Entry Item{};
            Item.Index = Index;
            if (zip_stat_index(Archive.Handle, Index, 0, &Item.Stat) != 0 || !(Item.Stat.valid & ZIP_STAT_NAME))
                return Refuse("cannot read an entry");
            const std::string Name = Item.Stat.name;
            std::vector<std::string> Parts;
            if (!SplitName(Name, Parts)) return Refuse("unsafe entry name", Name);
            // A folder entry for the destination itself adds nothing.
            if (Parts.empty() && IsSeparator(Name.back())) continue;
            if (Parts.empty()) return Refuse("unsafe entry name", Name);
            Item.Relative = Join(Parts, Parts.size());
            Item.Final = Destination + "/" + Item.Relative;
            if (Item.Final.size() > MaximumPath) return Refuse("entry path too long", Name);
            for (const std::string &Part : Parts)
                if (Part.size() > MaximumName) return Refuse("entry name too long", Name);
            zip_uint8_t System = 0;
            zip_uint32_t Attributes = 0;
            zip_file_get_external_attributes(Archive.Handle, Index, 0, &System, &Attributes);
            const uint32 Mode = System == ZIP_OPSYS_UNIX ? Attributes >> 16 : 0;
            if (IsSeparator(Name.back()) || S_ISDIR(Mode)) Item.Type = Kind::Folder;
            else if (S_ISLNK(Mode)) Item.Type = Kind::Link;
            else Item.Type = Kind::File;
            Item.Executable = Item.Type == Kind::File && (Mode & 0111) != 0;
            if (!(Item.Stat.valid & ZIP_STAT_SIZE) || !(Item.Stat.valid & ZIP_STAT_COMP_SIZE))
                return Refuse("entry has no size", Name);
            // The entry the layout placed must be this one, else libzip read
            // another directory than the layout did. Not by name: libzip
            // puts a Unicode name from an extra field in the stored one's
            // place; nor by CRC where libzip holds none (AE-2).
            const ZipLayoutEntry &Place = Layout[Index];
            if (Place.CompressedSize != Item.Stat.comp_size || Place.Size != Item.Stat.size ||
                ((Item.Stat.valid & ZIP_STAT_CRC) && Place.Crc != Item.Stat.crc))
                return Refuse("the archive's directory reads two ways", Name);
            if (Item.Type == Kind::File && Item.Stat.size > OutputLimit - Output)
                return Refuse("archive expands to more than " + std::to_string(OutputRatio) +
                              " times its size", Name);
            if (Item.Type == Kind::File) Output += Item.Stat.size;
            struct stat Status {};
            bool Exists = false;
            if (!Resolve(Item, Status, Exists)) return Refuse("entry path leads outside the destination", Name);
            if (Item.Final.size() > MaximumPath) return Refuse("entry path too long", Name);
            Parts.clear();
            SplitName(Item.Relative, Parts);
            if (Item.Type == Kind::Link) {
                if (!ReadLinkTarget(Item)) return false;
                if (!LinkStaysInside(Parts, Item.LinkTarget)) return Refuse("link leads outside the destination", Name);
            }
            for (size_t Depth = 1; Depth < Parts.size(); Depth++) Prefixes.insert(Join(Parts, Depth));
            if (Item.Type == Kind::Folder) Prefixes.insert(Item.Relative);
            else Occupied.insert(Item.Relative);
            if (Prefixes.size() > MaximumFolders)
                return Refuse("archive makes more than " + std::to_string(MaximumFolders) + " folders");
            if (Item.Type != Kind::Folder && Exists && S_ISDIR(Status.st_mode))
                return Refuse("a folder stands where a file goes", Name);
            Item.Existed = Exists;
            Item.SeenDevice = Status.st_dev;
            Item.SeenInode = Status.st_ino;
            Item.SeenType = Status.st_mode & S_IFMT;
            Entries.push_back(Item);
        }
        // A file or link must not also be a folder on the way to another
        // entry (nothing may be written through a link made by the archive).
        for (const std::string &Taken : Occupied)
            if (Prefixes.count(Taken) != 0) return Refuse("entry is both a file and a folder", Taken);
        MarkSuperseded();
        return CheckSpace() && CheckLinks() && CheckStandingLinks();
    }

    // What the files that stand need must fit on the destination's file
    // system beside what is there (what they replace is kept until the end).
    bool CheckSpace() {
        uint64 Needed = 0;
        for (const Entry &Item : Entries)
            if (Item.Type == Kind::File && !Item.Superseded) Needed += Item.Stat.size;
        struct statvfs Space;
        if (statvfs(Root.c_str(), &Space) == 0 && Needed > (uint64)Space.f_bavail * Space.f_frsize)
            return Refuse("not enough free space in the destination for " + std::to_string(Needed) + " bytes");
        return true;
    }

    // The link standing at Relative (resolved, relative to the destination)
    // once the archive's links are made: the archive's own, else the one
    // there now, looked for only while Missing is false; null for none.
    // Missing turns true when nothing stands there, which then holds for
    // every path below it too. Paths that stand are remembered, paths that
    // do not are not: there is no end to those an archive can name.
    const std::string *LinkAt(const std::string &Relative, bool &Missing) {
        const auto Own = Links.find(Relative);
        if (Own != Links.end()) return &Own->second;
        if (Missing) return nullptr;
        const auto Known = StandingLinks.find(Relative);
        if (Known != StandingLinks.end()) return Known->second ? &*Known->second : nullptr;
        char Target[PATH_MAX];
        const ssize_t Length = readlink((Destination + "/" + Relative).c_str(), Target, sizeof(Target));
        if (Length < 0 && errno != EINVAL) return Missing = true, nullptr;
        auto &Standing = StandingLinks[Relative];
        // A target too long to read leads nowhere known: as if outside.
        if (Length >= (ssize_t)sizeof(Target)) Standing = "/";
        else if (Length >= 0) Standing = std::string(Target, (size_t)Length);
        return Standing ? &*Standing : nullptr;
    }

    // Walks Pending from the folder Current, both relative to the resolved
    // destination, as the file system will once the archive's links stand
    // beside the ones already there: each component that is a link is
    // replaced by its target. Current ends resolved. Null, or why not.
    const char *Walk(std::string &Current, std::deque<std::string> &Pending) {
        size_t Absent = std::string::npos; // Current's length where nothing stood
        for (int Hops = 0; !Pending.empty();) {
            if (++LinkSteps > LinkStepBudget) return "links take too much work to resolve";
            const std::string Part = std::move(Pending.front());
            Pending.pop_front();
            if (Part.empty() || Part == ".") continue;
            if (Part == "..") {
                if (Current.empty()) return "link leads outside the destination";
                const size_t Slash = Current.rfind('/');
                Current.erase(Slash == std::string::npos ? 0 : Slash);
                if (Current.size() < Absent) Absent = std::string::npos;
                continue;
            }
            const size_t Before = Current.size();
            Current += (Current.empty() ? "" : "/") + Part;
            if (Current.size() > MaximumResolvedPath) return "link leads too deep";
            bool Missing = Absent != std::string::npos;
            const std::string *Target = LinkAt(Current, Missing);
            if (Missing && Absent == std::string::npos) Absent = Current.size();
            if (Target == nullptr) continue;
            if (++Hops > MaximumLinkHops || Target->empty()) return "link leads outside the destination";
            Current.erase(Before);
            if (Current.size() < Absent) Absent = std::string::npos;
            if ((*Target)[0] == '/') {
                // An absolute target of a link already there: fine while it
                // names a place inside the destination.
                if (!Inside(Root, *Target)) return "link leads outside the destination";
                Current.clear();
                Absent = std::string::npos;
                PushFront(Pending, Target->substr(Root.size()));
            } else {
                PushFront(Pending, *Target);
            }
        }
        return nullptr;
    }

    // Each link's target resolved from where the link lands, through the
    // archive's other links and those already in the destination, must stay
    // inside; a walk's work is bounded in all by the count of links.
    bool CheckLinks() {
        std::deque<std::string> Pending;
        for (Entry &Item : Entries) {
            if (Item.Type != Kind::Link || Item.Superseded) continue;
            LinkStepBudget += LinkStepsPerLink;
            const size_t Slash = Item.Relative.rfind('/');
            if (Slash != std::string::npos) PushFront(Pending, Item.Relative.substr(0, Slash));
            std::string Folder;
            if (const char *Why = Walk(Folder, Pending)) return Refuse(Why, Item.Relative);
            Item.LinkPlace = Folder + (Folder.empty() ? "" : "/") + Item.Relative.substr(Slash + 1);
        }
        for (const Entry &Item : Entries)
            if (Item.Type == Kind::Link && !Item.Superseded) Links[Item.LinkPlace] = Item.LinkTarget;
        for (const Entry &Item : Entries) {
            if (Item.Type != Kind::Link || Item.Superseded) continue;
            std::string Current = Item.LinkPlace;
            const size_t Slash = Current.rfind('/');
            Current.erase(Slash == std::string::npos ? 0 : Slash);
            PushFront(Pending, Item.LinkTarget);
            if (const char *Why = Walk(Current, Pending)) return Refuse(Why, Item.Relative);
        }
        return true;
    }

    // The links under Folder (an open descriptor, taken over) and their
    // targets, relative to the destination, none followed. False where a
    // folder cannot be read.
    static bool FindLinks(int Folder, const std::string &Relative,
                          std::vector<std::pair<std::string, std::string>> &Found) {
        DIR *Listing = fdopendir(Folder);
        if (Listing == nullptr) return close(Folder), false;
        bool Good = true;
        while (struct dirent *Item = readdir(Listing)) {
            const std::string Name = Item->d_name, Inner = Relative + (Relative.empty() ? "" : "/") + Name;
            struct stat Status;
            if (Name == "." || Name == ".." || fstatat(dirfd(Listing), Item->d_name, &Status, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            if (S_ISLNK(Status.st_mode)) {
                char Target[PATH_MAX];
                const ssize_t Length = readlinkat(dirfd(Listing), Item->d_name, Target, sizeof(Target));
                // A target too long to read leads nowhere known: as if outside.
                Found.emplace_back(Inner, Length >= 0 && Length < (ssize_t)sizeof(Target)
                                              ? std::string(Target, (size_t)Length) : std::string("/"));
            } else if (S_ISDIR(Status.st_mode)) {
                const int Inside =
                    openat(dirfd(Listing), Item->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (!(Good = Inside >= 0 && FindLinks(Inside, Inner, Found))) break;
            }
        }
        closedir(Listing);
        return Good;
    }

    // The archive's links change the way of links already in the
    // destination that pass where they land (`p -> q/..` beside a new
    // `q -> .`). Each link there that the archive does not replace is
    // resolved as it stands and as it will: one that stays inside now must
    // stay inside then.
    bool CheckStandingLinks() {
        if (Links.empty()) return true;
        std::vector<std::pair<std::string, std::string>> Found;
        const int Folder = open(Root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (Folder < 0 || !FindLinks(Folder, "", Found)) return Refuse("cannot read the links in the destination");
        std::unordered_set<std::string_view> Replaced;
        for (const Entry &Item : Entries)
            if (Item.Type != Kind::Folder) Replaced.insert(Item.Relative);
        std::unordered_map<std::string, std::string> None;
        std::deque<std::string> Pending;
        for (const auto &[Relative, Target] : Found) {
            if (Replaced.count(Relative) != 0) continue;
            LinkStepBudget += 2 * LinkStepsPerLink;
            const char *Why[2];
            for (int Later = 0; Later < 2; Later++) {
                const size_t Slash = Relative.rfind('/');
                std::string Current = Slash == std::string::npos ? "" : Relative.substr(0, Slash);
                Links.swap(None); // the archive's links stand only the second time
                PushFront(Pending, Target);
                Why[Later] = Walk(Current, Pending);
                Pending.clear();
            }
            if (LinkSteps > LinkStepBudget) return Refuse("links take too much work to resolve");
            if (Why[0] == nullptr && Why[1] != nullptr)
                return Refuse("the archive's links would lead the link " + Relative +
                              " already in the destination outside");
        }
        return true;
    }

    bool ReadEntry(const Entry &Item, const ZipSink &Sink, std::string &Error) {
        const zip_stat_t &Stat = Item.Stat;
        const uint16 Method = (Stat.valid & ZIP_STAT_ENCRYPTION_METHOD) ? Stat.encryption_method : ZIP_EM_NONE;
        uint64 Total = 0;
        uint32 Crc = 0;
        // libzip checks the CRC of what it deciphers and inflates itself once
        // an entry is read to its end; AES entries are read raw, so their CRC
        // is ours to check.
        const bool Aes = ZipInt_AesKeyLength(Method) != 0;
        const ZipSink Counted = [&](const uint8 *Data, size_t Length) {
            Total += Length;
            if (Total > Stat.size) return false; // more than the entry declares
            if (Aes) Crc = CRC_Update(Crc, Data, (uint32)Length);
            return Sink(Data, Length);
        };
        if (Aes) {
            if (!ZipInt_ReadAesEntry(Archive.Handle, Item.Index, Stat, Password, Counted, Error)) {
                if (Total > Stat.size) Error = "entry is larger than it declares";
                return false;
            }
        } else {
            zip_file_t *File = nullptr;
            if (Method == ZIP_EM_NONE) {
                File = zip_fopen_index(Archive.Handle, Item.Index, 0);
            } else if (Method == ZIP_EM_TRAD_PKWARE) {
                if (Password == nullptr) {
                    Error = "a password is needed";
                    return false;
                }
                File = zip_fopen_index_encrypted(Archive.Handle, Item.Index, 0, Password);
            } else {
                Error = "unsupported encryption method";
                return false;
            }
            if (File == nullptr) {
                Error = zip_strerror(Archive.Handle);
                return false;
            }
            std::unique_ptr<uint8[]> Buffer(new uint8[PieceSize]);
            bool Good = true;
            for (;;) {
                const zip_int64_t Got = zip_fread(File, Buffer.get(), PieceSize);
                if (Got == 0) break;
                if (Got < 0) {
                    Error = zip_file_strerror(File);
                    Good = false;
                    break;
                }
                if (!Counted(Buffer.get(), (size_t)Got)) {
                    Error = Total > Stat.size ? "entry is larger than it declares" : "write failed";
                    Good = false;
                    break;
                }
            }
            zip_fclose(File);
            if (!Good) return false;
        }
        if (Total != Stat.size) {
            Error = "entry is shorter than it declares";
            return false;
        }
        // AE-2 entries store no CRC: their authentication code stands for it.
        const bool CrcStored = Aes && (Stat.valid & ZIP_STAT_CRC) && Stat.crc != 0;
        if (CrcStored && Crc != Stat.crc) {
            Error = "CRC does not match";
            return false;
        }
        return true;
    }

    // A name in Folder no one else uses: the extraction's mark and a count.
    std::string TemporaryName(const std::string &Folder) {
        return Folder + "/" + std::string(StagedPrefix) + Mark + "-" + std::to_string(TemporaryCount++) + ".tmp";
    }

    // A random mark for this extraction and its lock file in the
    // destination, made before the first file this call stages (nothing
    // is made before an archive's first checked bytes) and held until the
    // end; true once held. A lock file that a sweep took for
    // an abandoned one and removed before it was held is made again.
    bool TakeLock() {
        if (Lock >= 0) return true;
        uint8 Random[MarkLength / 2];
        mz_os_rand(Random, sizeof(Random));
        char Hex[MarkLength + 1];
        String_ConvertToHex(Random, sizeof(Random), TRUE, Hex, sizeof(Hex));
        Mark = Hex;
        LockPath = Root + "/" + std::string(StagedPrefix) + Mark + ".lock";
        for (int Attempt = 0; Attempt < 8 && Lock < 0; Attempt++) {
            const int Descriptor = open(LockPath.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (Descriptor < 0) return false;
            struct stat Held, Named;
            if (flock(Descriptor, LOCK_EX) == 0 && fstat(Descriptor, &Held) == 0 &&
                lstat(LockPath.c_str(), &Named) == 0 && Held.st_dev == Named.st_dev && Held.st_ino == Named.st_ino)
                Lock = Descriptor;
            else close(Descriptor);
        }
        return Lock >= 0;
    }

    // Whether the extraction marked Owner is gone: its lock file, looked
    // for from Folder up (its destination holds whatever it staged), is not
    // this user's, is missing or is held by no one. The lock file of one
    // gone is removed.
    bool Abandoned(const std::string &Owner, std::string Folder) {
        const auto Known = Owners.find(Owner);
        if (Known != Owners.end()) return Known->second;
        bool Gone = true;
        for (bool Top = false; !Top;) {
            const std::string Name = Folder + "/" + std::string(StagedPrefix) + Owner + ".lock";
            const int Descriptor = open(Name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            struct stat Status;
            const bool Ours = Descriptor >= 0 && fstat(Descriptor, &Status) == 0 && S_ISREG(Status.st_mode) &&
                              Status.st_uid == geteuid();
            if (Ours) {
                if (flock(Descriptor, LOCK_EX | LOCK_NB) == 0) unlink(Name.c_str());
                else Gone = false;
            }
            if (Descriptor >= 0) close(Descriptor);
            const size_t Slash = Folder.rfind('/');
            Top = Ours || Slash == std::string::npos || Folder.size() <= 1;
            if (!Top) Folder.erase(Slash == 0 ? 1 : Slash);
        }
        Owners.emplace(Owner, Gone);
        return Gone;
    }

    // Removes from Folder what extractions of this user that are gone
    // (killed) left there: their staged files, replaced files kept aside
    // and lock files. Another user's, and those of a live extraction, stay.
    void Sweep(const std::string &Folder) {
        if (!Swept.insert(Folder).second) return;
        DIR *Listing = opendir(Folder.c_str());
        if (Listing == nullptr) return;
        while (struct dirent *Item = readdir(Listing)) {
            std::string Owner;
            struct stat Status;
            if (StagedName(Item->d_name, Owner) && Owner != Mark &&
                fstatat(dirfd(Listing), Item->d_name, &Status, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(Status.st_mode) &&
                Status.st_uid == geteuid() && Abandoned(Owner, Folder))
                unlinkat(dirfd(Listing), Item->d_name, 0);
        }
        closedir(Listing);
    }

    // A new file of this user's only (0600) beside the entry's final place,
    // so that the rename stays on one file system; a folder another
    // extraction's roll-back took away is made again.
    int OpenTemporary(Entry &Item) {
        const std::string Folder = Item.Final.substr(0, Item.Final.rfind('/'));
        for (int Attempt = 0; Attempt < 8; Attempt++) {
            if (!MakeFolder(Folder)) break;
            if (!TakeLock()) {
                if (errno != ENOENT) break;
                KnownFolders.clear();
                continue;
            }
            const std::string Name = TemporaryName(Folder);
            const int Descriptor = open(Name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (Descriptor >= 0) {
                Item.Temporary = Name;
                return Descriptor;
            }
            if (errno == ENOENT) KnownFolders.clear();
            else if (errno != EEXIST && errno != EINTR) break;
        }
        return -1;
    }

    // The entry goes into a new file under a temporary name (never through
    // a link, never over another file), made only once the first checked
    // bytes arrive: an AES entry's code is checked before any plaintext is.
    // The file gets the entry's time and its mode while still open.
    bool StageFile(Entry &Item) {
        int Descriptor = -1;
        bool Created = true;
        std::string Error;
        const bool Read = ReadEntry(Item, [&](const uint8 *Data, size_t Length) {
            if (Descriptor < 0 && (Descriptor = OpenTemporary(Item)) < 0) return Created = false;
            return WriteAll(Descriptor, Data, Length);
        }, Error);
        if (Read && Descriptor < 0 && (Descriptor = OpenTemporary(Item)) < 0) Created = false;
        if (!Created) return Refuse("cannot create a file", Item.Relative);
        if (!Read) {
            if (Descriptor >= 0) close(Descriptor);
            return Refuse(Error, Item.Relative);
        }
        // A time that cannot be set does not fail the extraction.
        if (Item.Stat.valid & ZIP_STAT_MTIME) {
            const struct timespec Times[2] = {{Item.Stat.mtime, 0}, {Item.Stat.mtime, 0}};
            futimens(Descriptor, Times);
        }
        // The mode waits for the commit: until the whole archive checked out
        // no one else may read a byte of it. Execute only: a read-only mark
        // would stop later updates.
        Item.Mode = FileMode | (Item.Executable ? 0111 : 0);
        struct stat Status;
        const bool Good = fstat(Descriptor, &Status) == 0;
        if (Good) {
            Item.Device = Status.st_dev;
            Item.Inode = Status.st_ino;
        }
        if (!(close(Descriptor) == 0 && Good)) return Refuse("write failed", Item.Relative);
        return true;
    }

    // Of the files and links that go to one path the last one stands, as if
    // each were written over the one before. The files before it are read
    // and checked all the same, so that a corrupt one still refuses the
    // archive, but not written (their size counts in the output bound).
    void MarkSuperseded() {
        std::unordered_map<std::string_view, Entry *> Last;
        for (Entry &Item : Entries) {
            if (Item.Type == Kind::Folder) continue;
            const auto [At, New] = Last.try_emplace(Item.Final, &Item);
            if (!New) {
                At->second->Superseded = true;
                At->second = &Item;
            }
        }
    }

    bool CheckFile(const Entry &Item) {
        std::string Error;
        if (!ReadEntry(Item, [](const uint8 *, size_t) { return true; }, Error)) return Refuse(Error, Item.Relative);
        return true;
    }

    bool Stage() {
        for (Entry &Item : Entries) {
            if (Item.Type == Kind::Folder && !MakeFolder(Item.Final))
                return Refuse("cannot create a folder", Item.Relative);
            if (Item.Type == Kind::File && !(Item.Superseded ? CheckFile(Item) : StageFile(Item))) return false;
        }
        return true;
    }

    // Whether what stands at Path is what stood at the entry's place while
    // planning.
    static bool Seen(const Entry &Item, const std::string &Path) {
        struct stat Status;
        return Item.Existed && lstat(Path.c_str(), &Status) == 0 && Status.st_dev == Item.SeenDevice &&
               Status.st_ino == Item.SeenInode && (Status.st_mode & S_IFMT) == Item.SeenType;
    }

    // Swaps the staged Temporary into Final; what stood there stays under
    // the temporary name (Backup) until the whole archive is in place. Only
    // what the plan saw there is replaced: whatever another extraction or
    // anyone else put there meanwhile (a folder with their files, say)
    // stays, and the commit fails.
    static bool Place(Entry &Item) {
        if (ZipInt_BeforePlace != nullptr && !ZipInt_BeforePlace(Item.Relative.c_str())) return false;
        const char *From = Item.Temporary.c_str(), *To = Item.Final.c_str();
        const auto Move = [From, To](unsigned Flags) { return renameat2(AT_FDCWD, From, AT_FDCWD, To, Flags) == 0; };
        struct stat Status;
        if (!Item.Existed && Move(RENAME_NOREPLACE)) {
            // Nothing stood there.
        } else if (!Item.Existed && errno != EINVAL) {
            return false;
        } else if (Item.Existed && Move(RENAME_EXCHANGE)) {
            Item.Backup = Item.Temporary;
            if (!Seen(Item, Item.Backup)) {
                // Back where it was; if even that fails, the roll-back does it.
                if (Move(RENAME_EXCHANGE)) {
                    Item.Backup.clear();
                } else {
                    Item.Temporary.clear();
                    Item.Placed = true;
                }
                return false;
            }
        } else if (Item.Existed && errno == ENOENT) {
            if (!Move(RENAME_NOREPLACE)) return false;
        } else {
            // A file system without the swap: the old one aside, then ours.
            const std::string Aside = Item.Temporary + "-old";
            if (lstat(To, &Status) == 0) {
                if (!Seen(Item, Item.Final) || rename(To, Aside.c_str()) != 0) return false;
                Item.Backup = Aside;
            }
            if (rename(From, To) != 0) {
                if (!Item.Backup.empty() && rename(Item.Backup.c_str(), To) == 0) Item.Backup.clear();
                return false;
            }
        }
        Item.Temporary.clear();
        Item.Placed = true;
        return true;
    }

    // The staged file gets its mode, through a descriptor of the very file
    // staged (its folder may be another's to write).
    static bool SetMode(const Entry &Item) {
        const int Descriptor = open(Item.Temporary.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        struct stat Status;
        const bool Good = Descriptor >= 0 && fstat(Descriptor, &Status) == 0 && Status.st_dev == Item.Device &&
                          Status.st_ino == Item.Inode && fchmod(Descriptor, Item.Mode) == 0;
        if (Descriptor >= 0) close(Descriptor);
        return Good;
    }

    bool Commit() {
        for (Entry &Item : Entries)
            if (Item.Type == Kind::File && !Item.Superseded && !(SetMode(Item) && Place(Item)))
                return Refuse("cannot move a file into place", Item.Relative);
        // Folders again, as another extraction's roll-back may have taken an
        // empty one, then the links, each made under a temporary name first.
        KnownFolders.clear();
        for (Entry &Item : Entries) {
            if (Item.Type == Kind::Folder && !MakeFolder(Item.Final))
                return Refuse("cannot create a folder", Item.Relative);
            if (Item.Type != Kind::Link || Item.Superseded) continue;
            const std::string Folder = Item.Final.substr(0, Item.Final.rfind('/'));
            struct stat Status;
            if (!MakeFolder(Folder) || !TakeLock()) return Refuse("cannot create a folder", Item.Relative);
            const std::string Name = TemporaryName(Folder);
            if (symlink(Item.LinkTarget.c_str(), Name.c_str()) != 0 || lstat(Name.c_str(), &Status) != 0)
                return Refuse("cannot make a link", Item.Relative);
            Item.Temporary = Name;
            Item.Device = Status.st_dev;
            Item.Inode = Status.st_ino;
            if (!Place(Item)) return Refuse("cannot make a link", Item.Relative);
        }
        Succeeded = true;
        return true;
    }

    // What this call replaced at a path that someone else has taken over
    // since: never removed, it is left beside the path as NAME.unzip-kept
    // (-2, -3 ... where that is taken; .unzip-kept-N in its folder for a
    // name too long for that).
    void Keep(const Entry &Item) {
        const size_t Slash = Item.Final.rfind('/');
        for (int Count = 1; Count <= 100; Count++) {
            const std::string Suffix = "unzip-kept" + (Count > 1 ? "-" + std::to_string(Count) : "");
            const std::string Names[] = {Item.Final + "." + Suffix, Item.Final.substr(0, Slash + 1) + "." + Suffix};
            for (const std::string &Name : Names) {
                if (renameat2(AT_FDCWD, Item.Backup.c_str(), AT_FDCWD, Name.c_str(), RENAME_NOREPLACE) == 0) {
                    Log_Warning("Zip: %s changed while the extraction failed; what stood there is kept as %s\n",
                                Item.Final.c_str(), Name.c_str());
                    return;
                }
                if (errno != ENAMETOOLONG) break;
            }
        }
        Log_Error("Zip: %s changed while the extraction failed; what stood there stays as %s\n", Item.Final.c_str(),
                  Item.Backup.c_str());
    }

    // Whether Path is still what this call put there.
    static bool StillOurs(const Entry &Item) {
        struct stat Status;
        return lstat(Item.Final.c_str(), &Status) == 0 && Status.st_dev == Item.Device && Status.st_ino == Item.Inode;
    }

    // After a success removes what the commit replaced; otherwise puts it
    // back, latest first, where what this call placed still stands, and
    // removes the temporary files and the folders this call made that hold
    // nothing (rmdir leaves any folder where another has put an entry).
    void RollBack() {
        for (auto Item = Entries.rbegin(); Item != Entries.rend(); ++Item) {
            if (!Item->Temporary.empty()) unlink(Item->Temporary.c_str());
            const bool Ours = Item->Placed && StillOurs(*Item);
            if (Item->Backup.empty()) {
                if (!Succeeded && Ours) unlink(Item->Final.c_str());
            } else if (Succeeded) {
                unlink(Item->Backup.c_str());
            } else if (Item->Placed && !Ours) {
                Keep(*Item);
            } else {
                rename(Item->Backup.c_str(), Item->Final.c_str());
            }
        }
        if (Lock >= 0) {
            unlink(LockPath.c_str());
            close(Lock);
        }
        if (Succeeded) return;
        for (auto Folder = MadeFolders.rbegin(); Folder != MadeFolders.rend(); ++Folder) rmdir(Folder->c_str());
    }
};

} // namespace

bool (*ZipInt_BeforePlace)(const char *Relative) = nullptr;

int32 Zip_Extract(const char *Path, int64 StartOffset, const char *Destination, const char *Password) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Destination);
    Extraction Job(Path, StartOffset, Destination, Password);
    return Job.Run() ? TRUE : FALSE;
}
