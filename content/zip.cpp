// Zip: all-or-nothing extraction (see zip.h). Three passes: plan (every
// name, link, conflict and bound checked, link targets read, nothing
// written), stage (folders made and every file written to a temporary name
// in its own folder, verified, and given its time and mode; a file or link
// that a later entry of the same path replaces is only verified), commit
// (each staged file and then each link swapped into place, what it replaced
// kept aside until the last one stands). A failure at any point puts back
// what the commit replaced and removes what this call made.
//
// The file system work per file is kept to what it needs: one status read
// while planning (folders are resolved once), then create, write, time,
// mode, close and one rename (two when something stood there).
#include "content/zip.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
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
    bool Existed; // something stood at Final while planning
    bool Placed;
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
    std::unordered_map<std::string, bool> FolderInside;
    std::string TemporaryMark;
    uint64 TemporaryCount = 0;
    mode_t FileMode = 0;
    // Link resolution: the archive's links by where they land, what stands
    // in the destination now (read once per path that stands) and the work
    // done.
    std::unordered_map<std::string, std::string> Links;
    std::unordered_map<std::string, std::optional<std::string>> StandingLinks;
    uint64 LinkSteps = 0, LinkStepBudget = LinkStepsBase;

    // Whether Folder, or its deepest existing ancestor, resolved through any
    // links, lies inside the resolved destination.
    bool FolderResolvesInside(const std::string &Folder) {
        const auto Known = FolderInside.find(Folder);
        if (Known != FolderInside.end()) return Known->second;
        struct stat Status;
        bool Answer;
        if (lstat(Folder.c_str(), &Status) == 0) {
            Answer = Inside(Root, RealPath(Folder));
        } else {
            const size_t Slash = Folder.rfind('/');
            Answer = Slash != std::string::npos && Slash != 0 && FolderResolvesInside(Folder.substr(0, Slash));
        }
        FolderInside.emplace(Folder, Answer);
        return Answer;
    }

    // The same for an entry's path; Status and Exists describe the path
    // itself (not followed). A path that is not a link lies where its
    // folder resolves to.
    bool ResolvesInside(const std::string &Path, struct stat &Status, bool &Exists) {
        Exists = lstat(Path.c_str(), &Status) == 0;
        if (Exists && S_ISLNK(Status.st_mode)) return Inside(Root, RealPath(Path));
        const size_t Slash = Path.rfind('/');
        if (Slash == std::string::npos || Slash == 0) return Exists && Inside(Root, RealPath(Path));
        return FolderResolvesInside(Path.substr(0, Slash));
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
        if (mz_os_is_dir(Folder.c_str()) != MZ_OK) {
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
            if (Item.Type == Kind::Link) {
                if (!ReadLinkTarget(Item)) return false;
                if (!LinkStaysInside(Parts, Item.LinkTarget)) return Refuse("link leads outside the destination", Name);
            }
            struct stat Status;
            bool Exists = false;
            if (!ResolvesInside(Item.Final, Status, Exists))
                return Refuse("entry path leads outside the destination", Name);
            for (size_t Depth = 1; Depth < Parts.size(); Depth++) Prefixes.insert(Join(Parts, Depth));
            if (Item.Type == Kind::Folder) Prefixes.insert(Item.Relative);
            else Occupied.insert(Item.Relative);
            if (Prefixes.size() > MaximumFolders)
                return Refuse("archive makes more than " + std::to_string(MaximumFolders) + " folders");
            if (Item.Type != Kind::Folder && Exists && S_ISDIR(Status.st_mode))
                return Refuse("a folder stands where a file goes", Name);
            Item.Existed = Exists;
            Entries.push_back(Item);
        }
        // A file or link must not also be a folder on the way to another
        // entry (nothing may be written through a link made by the archive).
        for (const std::string &Taken : Occupied)
            if (Prefixes.count(Taken) != 0) return Refuse("entry is both a file and a folder", Taken);
        MarkSuperseded();
        return CheckSpace() && CheckLinks();
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

    // A name in Folder no one else uses: one random mark per extraction and
    // a count.
    std::string TemporaryName(const std::string &Folder) {
        if (TemporaryMark.empty()) {
            uint8 Random[8];
            mz_os_rand(Random, sizeof(Random));
            char Hex[2 * sizeof(Random) + 1];
            String_ConvertToHex(Random, sizeof(Random), TRUE, Hex, sizeof(Hex));
            TemporaryMark = std::string("/.unzip-") + Hex + "-";
        }
        return Folder + TemporaryMark + std::to_string(TemporaryCount++) + ".tmp";
    }

    // A new file of this user's only (0600) beside the entry's final place,
    // so that the rename stays on one file system; a folder another
    // extraction's roll-back took away is made again.
    int OpenTemporary(Entry &Item) {
        const std::string Folder = Item.Final.substr(0, Item.Final.rfind('/'));
        for (int Attempt = 0; Attempt < 8; Attempt++) {
            if (!MakeFolder(Folder)) break;
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
        // Execute only: a read-only mark would stop later updates.
        struct stat Status;
        const bool Good = fchmod(Descriptor, FileMode | (Item.Executable ? 0111 : 0)) == 0 &&
                          fstat(Descriptor, &Status) == 0;
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

    // Swaps the staged Temporary into Final; what stood there stays under
    // the temporary name (Backup) until the whole archive is in place.
    static bool Place(Entry &Item) {
        const char *From = Item.Temporary.c_str(), *To = Item.Final.c_str();
        const auto Move = [From, To](unsigned Flags) { return renameat2(AT_FDCWD, From, AT_FDCWD, To, Flags) == 0; };
        if (!Item.Existed && Move(RENAME_NOREPLACE)) {
            // Nothing stood there.
        } else if (Move(RENAME_EXCHANGE)) {
            Item.Backup = Item.Temporary;
        } else if (errno == ENOENT) {
            if (!Move(RENAME_NOREPLACE)) return false;
        } else {
            // A file system without the swap: the old one aside, then ours.
            struct stat Status;
            const std::string Aside = Item.Temporary + "-old";
            if (lstat(To, &Status) == 0) {
                if (rename(To, Aside.c_str()) != 0) return false;
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

    bool Commit() {
        for (Entry &Item : Entries)
            if (Item.Type == Kind::File && !Item.Superseded && !Place(Item))
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
            if (!MakeFolder(Folder)) return Refuse("cannot create a folder", Item.Relative);
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
            } else if (Succeeded || (Item->Placed && !Ours)) {
                unlink(Item->Backup.c_str());
            } else {
                rename(Item->Backup.c_str(), Item->Final.c_str());
            }
        }
        if (Succeeded) return;
        for (auto Folder = MadeFolders.rbegin(); Folder != MadeFolders.rend(); ++Folder) rmdir(Folder->c_str());
    }
};

} // namespace

int32 Zip_Extract(const char *Path, int64 StartOffset, const char *Destination, const char *Password) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Destination);
    Extraction Job(Path, StartOffset, Destination, Password);
    return Job.Run() ? TRUE : FALSE;
}
