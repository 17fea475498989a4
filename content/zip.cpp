// Zip: all-or-nothing extraction (see zip.h). Three passes: plan (every
// name, link and conflict checked, link targets read, nothing written),
// stage (folders made and every file written to a temporary name, verified,
// and given its time and execute bit; a file that a later one of the same
// path replaces is only verified), commit (temporary files renamed, then
// links made). A failure before the commit removes what staging wrote.
//
// The file system work per file is kept to what it needs: one status read
// while planning (folders are resolved once), then create, write, time,
// close and rename.
#include "content/zip.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "content/zip_backend.h"
#include "content/zip_internal.h"
#include "runtime/debug.h"
#include "runtime/files/path.h"
#include "runtime/log.h"
#include "runtime/text/crc.h"
#include "runtime/text/string.h"

namespace {

constexpr size_t MaximumPath = MAX_PATH_SIZE - 1;
constexpr size_t MaximumLinkTarget = 1024;
constexpr size_t PieceSize = 64 * 1024;

enum class Kind { Folder, File, Link };

struct Entry {
    zip_uint64_t Index;
    Kind Type;
    std::string Relative; // components joined by "/"
    std::string Final;    // Destination + "/" + Relative
    std::string Temporary;
    std::string LinkTarget;
    zip_stat_t Stat;
    bool Executable;
    bool Superseded; // a later file entry goes to the same path
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
// destination when resolved by its text.
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

// Most links one link's target may pass through, as the kernel's limit.
constexpr int MaximumLinkHops = 40;

// The components (relative to the destination) that the target of the link
// at Relative reaches once the archive's links (Relative -> target) all
// exist, resolved as the file system will: each component added is looked
// up among the links and replaced by that link's target. False when any
// step leaves the destination, or for a loop or an absolute target on the
// way. Link targets separate components by "/" only, as the file system
// does; the text check before this one already refuses a ".." behind a
// backslash.
bool ResolveThroughLinks(const std::map<std::string, std::string> &Links, const std::string &Relative,
                         std::vector<std::string> &Resolved) {
    Resolved.clear();
    std::deque<std::string> Pending;
    const auto Queue = [&Pending](const std::string &Target, std::deque<std::string>::iterator At) {
        std::vector<std::string> Parts;
        size_t Start = 0;
        for (size_t End; (End = Target.find('/', Start)) != std::string::npos; Start = End + 1)
            Parts.push_back(Target.substr(Start, End - Start));
        Parts.push_back(Target.substr(Start));
        Pending.insert(At, Parts.begin(), Parts.end());
    };
    Queue(Relative, Pending.end());
    Pending.pop_back(); // the link's own name: its target starts in its folder
    Resolved.assign(Pending.begin(), Pending.end());
    Pending.clear();
    const auto Own = Links.find(Relative);
    if (Own == Links.end()) return true;
    Queue(Own->second, Pending.end());
    for (int Hops = 0; !Pending.empty();) {
        const std::string Part = std::move(Pending.front());
        Pending.pop_front();
        if (Part.empty() || Part == ".") continue;
        if (Part == "..") {
            if (Resolved.empty()) return false;
            Resolved.pop_back();
            continue;
        }
        Resolved.push_back(Part);
        const auto Found = Links.find(Join(Resolved, Resolved.size()));
        if (Found == Links.end()) continue;
        if (++Hops > MaximumLinkHops || Found->second.empty() || Found->second[0] == '/') return false;
        Resolved.pop_back();
        Queue(Found->second, Pending.begin());
    }
    return true;
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

class Extraction {
  public:
    Extraction(const char *Path, int64 StartOffset, const char *Destination, const char *Password)
        : Path(Path), StartOffset(StartOffset), Destination(Destination), Password(Password) {}

    ~Extraction() { RollBack(); }

    bool Run() {
        return Prepare() && Plan() && Stage() && Commit();
    }

  private:
    const char *Path;
    int64 StartOffset;
    std::string Destination;
    const char *Password;
    std::string Root; // the destination, resolved
    ArchiveOwner Archive;
    std::vector<Entry> Entries;
    std::vector<std::string> MadeFolders;
    bool Committed = false;
    // Folders known to stand (made or seen), and the planning's answers per
    // folder: nothing is written while planning, so they cannot change, and
    // an archive's entries share few folders.
    std::unordered_set<std::string> KnownFolders;
    std::unordered_map<std::string, bool> FolderInside;
    std::string TemporaryPrefix;
    uint64 TemporaryCount = 0;

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

    bool Refuse(const std::string &Reason, const std::string &Name = "") {
        if (Name.empty()) Log_Error("Zip: %s (%s)\n", Reason.c_str(), Path);
        else Log_Error("Zip: %s: \"%s\" (%s)\n", Reason.c_str(), Name.c_str(), Path);
        return false;
    }

    bool MakeFolder(const std::string &Folder) {
        if (KnownFolders.count(Folder) != 0) return true;
        if (mz_os_is_dir(Folder.c_str()) != MZ_OK) {
            // Parents first, each remembered for the roll-back.
            const size_t Slash = Folder.rfind('/');
            if (Slash != std::string::npos && Slash > 0 && !MakeFolder(Folder.substr(0, Slash))) return false;
            if (mz_os_make_dir(Folder.c_str()) != MZ_OK) return false;
            MadeFolders.push_back(Folder);
        }
        KnownFolders.insert(Folder);
        return true;
    }

    bool Prepare() {
        char Resolved[MAX_PATH_SIZE];
        if (Destination.empty() || !Path_Resolve(Destination.c_str(), Resolved, sizeof(Resolved)) ||
            strlen(Resolved) >= MaximumPath)
            return Refuse("destination path is not usable");
        Destination = Resolved;
        while (Destination.size() > 1 && Destination.back() == '/') Destination.pop_back();
        if (!MakeFolder(Destination)) return Refuse("cannot create the destination");
        Root = RealPath(Destination);
        if (Root.empty()) return Refuse("cannot resolve the destination");
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
        if (Count < 0) return Refuse("cannot read the archive's directory");
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
            zip_uint8_t System = 0;
            zip_uint32_t Attributes = 0;
            zip_file_get_external_attributes(Archive.Handle, Index, 0, &System, &Attributes);
            const uint32 Mode = System == ZIP_OPSYS_UNIX ? Attributes >> 16 : 0;
            if (IsSeparator(Name.back()) || S_ISDIR(Mode)) Item.Type = Kind::Folder;
            else if (S_ISLNK(Mode)) Item.Type = Kind::Link;
            else Item.Type = Kind::File;
            Item.Executable = Item.Type == Kind::File && (Mode & 0111) != 0;
            if (!(Item.Stat.valid & ZIP_STAT_SIZE)) return Refuse("entry has no size", Name);
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
            if (Item.Type != Kind::Folder && Exists && S_ISDIR(Status.st_mode))
                return Refuse("a folder stands where a file goes", Name);
            Entries.push_back(Item);
        }
        // A file or link must not also be a folder on the way to another
        // entry (nothing may be written through a link made by the archive).
        for (const std::string &Taken : Occupied)
            if (Prefixes.count(Taken) != 0) return Refuse("entry is both a file and a folder", Taken);
        // Each target checked alone can still leave through other links of
        // the archive ("d/b" -> "..", "d/a" -> "b/.."): every link is
        // resolved through them all, and what it reaches through links
        // already in the destination must stay inside too.
        std::map<std::string, std::string> Links;
        for (const Entry &Item : Entries)
            if (Item.Type == Kind::Link) Links[Item.Relative] = Item.LinkTarget;
        std::vector<std::string> Resolved;
        struct stat Reached;
        bool Exists = false;
        for (const auto &[Relative, Target] : Links)
            if (!ResolveThroughLinks(Links, Relative, Resolved) ||
                (!Resolved.empty() &&
                 !ResolvesInside(Destination + "/" + Join(Resolved, Resolved.size()), Reached, Exists)))
                return Refuse("link leads outside the destination", Relative);
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

    // One random mark per extraction and a count per file.
    std::string TemporaryName() {
        if (TemporaryPrefix.empty()) {
            uint8 Random[8];
            mz_os_rand(Random, sizeof(Random));
            char Hex[2 * sizeof(Random) + 1];
            String_ConvertToHex(Random, sizeof(Random), TRUE, Hex, sizeof(Hex));
            TemporaryPrefix = Destination + "/.unzip-" + Hex + "-";
        }
        return TemporaryPrefix + std::to_string(TemporaryCount++) + ".tmp";
    }

    // The entry goes into a new file under a temporary name (never through
    // a link, never over another file), which gets the entry's time and
    // execute bit while still open and waits for the commit under that name.
    bool StageFile(Entry &Item) {
        const size_t Slash = Item.Final.rfind('/');
        if (!MakeFolder(Item.Final.substr(0, Slash))) return Refuse("cannot create a folder", Item.Relative);
        int Descriptor = -1;
        for (int Attempt = 0; Attempt < 8 && Descriptor < 0; Attempt++) {
            const std::string Name = TemporaryName();
            Descriptor = open(Name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (Descriptor >= 0) Item.Temporary = Name;
            else if (errno != EEXIST && errno != EINTR) break;
        }
        if (Descriptor < 0) return Refuse("cannot create a file", Item.Relative);
        std::string Error;
        const bool Read = ReadEntry(Item, [&](const uint8 *Data, size_t Length) {
            return WriteAll(Descriptor, Data, Length);
        }, Error);
        if (Read) {
            // As before the file was renamed: a time or mode that cannot be
            // set does not fail the extraction.
            if (Item.Stat.valid & ZIP_STAT_MTIME) {
                const struct timespec Times[2] = {{Item.Stat.mtime, 0}, {Item.Stat.mtime, 0}};
                futimens(Descriptor, Times);
            }
            // Execute only: a read-only mark would stop later updates.
            struct stat Status;
            if (Item.Executable && fstat(Descriptor, &Status) == 0) fchmod(Descriptor, (Status.st_mode & 07777) | 0111);
        }
        const bool Closed = close(Descriptor) == 0;
        if (!Read) return Refuse(Error, Item.Relative);
        if (!Closed) return Refuse("write failed", Item.Relative);
        return true;
    }

    // Of the files that go to one path the last one stands, as if each were
    // written over the one before. The others are read and checked all the
    // same, so that a corrupt one still refuses the archive, but not written:
    // a temporary file for each, renamed over one another at the commit,
    // made many same-named entries cost a file system's worth of work.
    void MarkSuperseded() {
        std::unordered_map<std::string_view, Entry *> Last;
        for (Entry &Item : Entries) {
            if (Item.Type != Kind::File) continue;
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
        MarkSuperseded();
        for (Entry &Item : Entries) {
            if (Item.Type == Kind::Folder && !MakeFolder(Item.Final))
                return Refuse("cannot create a folder", Item.Relative);
            if (Item.Type == Kind::File && !(Item.Superseded ? CheckFile(Item) : StageFile(Item))) return false;
            // A link's folder is made here too, so that a refusal takes it back.
            if (Item.Type == Kind::Link && !MakeFolder(Item.Final.substr(0, Item.Final.rfind('/'))))
                return Refuse("cannot create a folder", Item.Relative);
        }
        return true;
    }

    bool Commit() {
        Committed = true;
        bool Complete = true;
        for (Entry &Item : Entries) {
            if (Item.Type != Kind::File || Item.Superseded) continue;
            // The plain call first: the temporary file is ours and the folder
            // stands. A folder on another file system inside the destination
            // takes the back end's move, which copies.
            const bool Moved = rename(Item.Temporary.c_str(), Item.Final.c_str()) == 0 ||
                               (errno == EXDEV && mz_os_rename(Item.Temporary.c_str(), Item.Final.c_str()) == MZ_OK);
            if (!Moved) {
                Complete = Refuse("cannot move a file into place", Item.Relative);
                mz_os_unlink(Item.Temporary.c_str());
                continue;
            }
            Item.Temporary.clear();
        }
        for (Entry &Item : Entries) {
            if (Item.Type != Kind::Link) continue;
            if (mz_os_is_symlink(Item.Final.c_str()) == MZ_OK || mz_os_file_exists(Item.Final.c_str()) == MZ_OK)
                mz_os_unlink(Item.Final.c_str());
            if (mz_os_make_symlink(Item.Final.c_str(), Item.LinkTarget.c_str()) != MZ_OK)
                Complete = Refuse("cannot make a link", Item.Relative);
        }
        return Complete;
    }

    // Removes what staging wrote: temporary files always, the folders this
    // call made only when nothing was committed.
    void RollBack() {
        for (Entry &Item : Entries)
            if (!Item.Temporary.empty()) mz_os_unlink(Item.Temporary.c_str());
        if (Committed) return;
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
