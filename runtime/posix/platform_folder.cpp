// Special folders and module paths on Linux (see platform_folder.h).
//
// Where the system has a convention it is followed: the home directory is
// $HOME (the base of every XDG path), else the user database; user folders
// come from the XDG user-dirs file; data and logs go under $XDG_DATA_HOME and
// $XDG_STATE_HOME. Applications go to "/opt/" and the machine-wide shared
// data to "/var/lib/Shared/"; the system folder keeps its fixed name
// "/System/" (and its drive "/"), which stored configuration may name.
// The temporary folder is one no other user can write in (see
// TempDirectory). Nothing here keeps state or logs, except the fatal stop for
// a bad id and the one line on stderr telling why a temporary folder is not
// used.
#include <dlfcn.h>
#include <errno.h>
#include <link.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/debug.h"
#include "runtime/files/path.h"
#include "runtime/posix/platform.h"
#include "runtime/posix/trusted_path.h"

namespace {

using Answer = std::optional<std::string>;

// Copies the answer (cut to fit); the buffer is emptied first in every case.
int32 Deliver(const Answer &Text, char *Buffer, int32 Length) {
    Debug_CheckPointer(Buffer);
    if (Length < 1) return 0;
    Buffer[0] = 0;
    if (!Text || Text->empty()) return 0;
    size_t Count = std::min(Text->size(), (size_t)Length - 1);
    memcpy(Buffer, Text->data(), Count);
    Buffer[Count] = 0;
    return 1;
}

std::string WithSlash(std::string Path) {
    if (Path.empty() || Path.back() != '/') Path += '/';
    return Path;
}

std::string Directory(const std::string &File) { return File.substr(0, File.rfind('/') + 1); }

Answer UserHome() {
    const char *Home = getenv("HOME");
    if (Home != nullptr && Home[0] == '/') return WithSlash(Home);
    std::vector<char> Scratch(16384);
    passwd Entry{}, *Found = nullptr;
    if (getpwuid_r(getuid(), &Entry, Scratch.data(), Scratch.size(), &Found) != 0 || Found == nullptr ||
        Found->pw_dir == nullptr || Found->pw_dir[0] != '/')
        return std::nullopt;
    return WithSlash(Found->pw_dir);
}

// An XDG base directory: the variable when it holds an absolute path, else
// the home directory followed by the default.
Answer BaseDirectory(const char *Variable, const char *HomeDefault) {
    const char *Value = getenv(Variable);
    if (Value != nullptr && Value[0] == '/') return WithSlash(Value);
    Answer Home = UserHome();
    if (!Home) return std::nullopt;
    return WithSlash(*Home + HomeDefault);
}

// A user folder from user-dirs.dirs ("$HOME/..." or an absolute path in double
// quotes), else the home directory followed by the default name.
Answer UserDirectory(std::string_view Key, const char *HomeDefault) {
    Answer Home = UserHome();
    if (!Home) return std::nullopt;
    Answer Config = BaseDirectory("XDG_CONFIG_HOME", ".config");
    if (Config) {
        if (FILE *File = fopen((*Config + "user-dirs.dirs").c_str(), "re")) {
            Answer Found;
            char Line[1024];
            while (!Found && fgets(Line, sizeof(Line), File) != nullptr) {
                std::string_view Text(Line);
                while (!Text.empty() && (Text.back() == '\n' || Text.back() == '\r')) Text.remove_suffix(1);
                if (Text.size() < Key.size() + 3 || Text.substr(0, Key.size()) != Key || Text[Key.size()] != '=') continue;
                Text.remove_prefix(Key.size() + 1);
                if (Text.size() < 2 || Text.front() != '"' || Text.back() != '"') continue;
                Text = Text.substr(1, Text.size() - 2);
                std::string Value;
                for (size_t Index = 0; Index < Text.size(); Index++) {
                    if (Text[Index] == '\\' && Index + 1 < Text.size()) Index++;
                    Value += Text[Index];
                }
                if (Value.starts_with("$HOME"))
                    Found = WithSlash(*Home + Value.substr(Value.size() > 5 && Value[5] == '/' ? 6 : 5));
                else if (!Value.empty() && Value[0] == '/')
                    Found = WithSlash(Value);
            }
            fclose(File);
            if (Found) return Found;
        }
    }
    return WithSlash(*Home + HomeDefault);
}

Answer CurrentDirectory() {
    std::vector<char> Scratch(4096);
    if (getcwd(Scratch.data(), Scratch.size()) == nullptr) return std::nullopt;
    return WithSlash(Scratch.data());
}

Answer ExecutableFile() {
    std::vector<char> Scratch(4096);
    ssize_t Count = readlink("/proc/self/exe", Scratch.data(), Scratch.size() - 1);
    if (Count <= 0 || (size_t)Count >= Scratch.size() - 1) return std::nullopt;
    return std::string(Scratch.data(), (size_t)Count);
}

// Tells on stderr, once for each text, why a folder is not used for
// temporary files: the answer moves elsewhere, and the user should know why.
void TellOnce(const std::string &Text) { PlatformFolder_TellOnce(Text); }

std::string WithoutSlash(std::string Path) {
    while (Path.size() > 1 && Path.back() == '/') Path.pop_back();
    return Path;
}

// Why the folder at Path is not one of this user's own that no one else may
// write in (or, with Private, have any right on), kept where it is by the
// folders above it (the trusted-path rules); empty when it is. The folder
// itself is looked at, never what a link at its name points to.
std::string NotOwnFolder(const std::string &Path, bool Private) {
    if (Path.empty() || Path[0] != '/') return "it is not an absolute path";
    const uint32 Flags = TRUSTEDPATH_FOLDER | TRUSTEDPATH_OWN | (Private ? TRUSTEDPATH_PRIVATE : 0);
    TrustedPathRefusal Refusal;
    int32 Descriptor = -1;
    if (TrustedPath_Open(Path.c_str(), Flags, &Descriptor, &Refusal)) {
        close(Descriptor);
        return "";
    }
    char Why[TRUSTEDPATH_WHERE_SIZE + 80];
    TrustedPath_Explain(&Refusal, Flags, Why, (int32)sizeof(Why));
    return Why;
}

// The name of this program's own temporary folder: its file name without
// extension, and "-tmp".
std::string OwnFolderName() {
    Answer File = ExecutableFile();
    std::string Name = File ? File->substr(File->rfind('/') + 1) : "";
    if (size_t Dot = Name.rfind('.'); Dot != std::string::npos && Dot > 0) Name.resize(Dot);
    return (Name.empty() ? std::string("runtime") : Name) + "-tmp";
}

// The per-user temporary folder: one in which no other user can write or
// create names, since documents and pipes use fixed names in it (a sticky
// shared folder such as /tmp is not enough: another user could take such a
// name first). $TMPDIR when it is such a folder; else a 0700 folder of this
// program's own under $XDG_RUNTIME_DIR, else under the cache folder, whose
// parent must itself be of this user's alone, so that nobody else can make
// the name first.
Answer TempDirectory() {
    const char *Value = getenv("TMPDIR");
    if (Value != nullptr && Value[0] != 0) {
        const std::string Why = NotOwnFolder(Value, false);
        if (Why.empty()) return WithSlash(Value);
        TellOnce(std::string("TMPDIR=") + Value + " is not used for temporary files: " + Why);
    }
    const char *Runtime = getenv("XDG_RUNTIME_DIR");
    Answer Cache = BaseDirectory("XDG_CACHE_HOME", ".cache");
    struct Candidate {
        std::string Name, Parent;
        bool Make; // the parent may be made
    };
    std::vector<Candidate> Candidates;
    if (Runtime != nullptr && Runtime[0] != 0) Candidates.push_back({"XDG_RUNTIME_DIR", Runtime, false});
    if (Cache) Candidates.push_back({"the cache folder", *Cache, true});
    const std::string Own = OwnFolderName();
    for (const Candidate &Each : Candidates) {
        if (Each.Make && Each.Parent[0] == '/') mkdir(WithoutSlash(Each.Parent).c_str(), 0700);
        if (std::string Why = NotOwnFolder(Each.Parent, false); !Why.empty()) {
            TellOnce(Each.Name + " (" + Each.Parent + ") is not used for temporary files: " + Why);
            continue;
        }
        const std::string Folder = WithSlash(Each.Parent) + Own;
        if (mkdir(Folder.c_str(), 0700) != 0 && errno != EEXIST) {
            TellOnce(Folder + " cannot be made for temporary files: " + strerror(errno));
            continue;
        }
        if (std::string Why = NotOwnFolder(Folder, true); !Why.empty()) {
            TellOnce(Folder + " is not used for temporary files: " + Why);
            continue;
        }
        return WithSlash(Folder);
    }
    TellOnce("no folder for temporary files: TMPDIR, XDG_RUNTIME_DIR and the cache folder are all unusable");
    return std::nullopt;
}

void *MainProgramHandle() {
    // The main program stays loaded for the life of the process, so the
    // reference this takes is never dropped.
    static void *Handle = dlopen(nullptr, RTLD_LAZY);
    return Handle;
}

// The loaded images in load order (the main program first, with an empty name).
struct Image {
    std::string Name;
    uintptr Base;
    std::vector<std::pair<uintptr, uintptr>> Segments;
};

std::vector<Image> LoadedImages() {
    std::vector<Image> Images;
    dl_iterate_phdr(
        [](dl_phdr_info *Info, size_t, void *Data) {
            Image Entry{Info->dlpi_name ? Info->dlpi_name : "", (uintptr)Info->dlpi_addr, {}};
            for (int Index = 0; Index < Info->dlpi_phnum; Index++)
                if (Info->dlpi_phdr[Index].p_type == PT_LOAD) {
                    uintptr Start = Info->dlpi_addr + Info->dlpi_phdr[Index].p_vaddr;
                    Entry.Segments.emplace_back(Start, Start + Info->dlpi_phdr[Index].p_memsz);
                }
            static_cast<std::vector<Image> *>(Data)->push_back(std::move(Entry));
            return 0;
        },
        &Images);
    return Images;
}

// The handle opening the image again without loading yields; the extra
// reference is dropped at once, as the image stays loaded anyway.
void *HandleOf(const Image &Entry) {
    if (Entry.Name.empty()) return MainProgramHandle();
    void *Handle = dlopen(Entry.Name.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (Handle != nullptr) dlclose(Handle);
    return Handle;
}

Answer ImageFile(const Image &Entry) { return Entry.Name.empty() ? ExecutableFile() : Answer(Entry.Name); }

Answer ModuleFile(void *Module) {
    if (Module == nullptr) return ExecutableFile();
    std::vector<Image> Images = LoadedImages();
    if (Module == MainProgramHandle()) {
        // The image that holds this code (the runtime may be linked into a library).
        auto Here = (uintptr)(void *)&ModuleFile;
        for (const Image &Entry : Images)
            for (const auto &[Start, End] : Entry.Segments)
                if (Here >= Start && Here < End) return ImageFile(Entry);
        return std::nullopt;
    }
    for (auto Entry = Images.rbegin(); Entry != Images.rend(); ++Entry)
        if (HandleOf(*Entry) == Module) return ImageFile(*Entry);
    return std::nullopt;
}

Answer SpecialPath(int32 Id) {
    switch (Id) {
    case PLATFORM_PATH_USERSTARTMENU:
    case PLATFORM_PATH_COMMONSTARTMENU:
    case PLATFORM_PATH_PROGRAMFILES:
    case PLATFORM_PATH_PROGRAMFILES64: return "/opt/";
    case PLATFORM_PATH_USERHOME: return UserHome();
    case PLATFORM_PATH_USERDOCUMENTS: return UserDirectory("XDG_DOCUMENTS_DIR", "Documents");
    case PLATFORM_PATH_USERDESKTOP:
    case PLATFORM_PATH_COMMONDESKTOP: return UserDirectory("XDG_DESKTOP_DIR", "Desktop");
    case PLATFORM_PATH_USERAPPDATA:
    case PLATFORM_PATH_USERAPPDATAROAMING:
    case PLATFORM_PATH_APPLICATIONSUPPORT: return BaseDirectory("XDG_DATA_HOME", ".local/share");
    case PLATFORM_PATH_COMMONAPPDATA: return "/var/lib/Shared/";
    case PLATFORM_PATH_TEMP:
    case PLATFORM_PATH_PIPEPATH: return TempDirectory();
    case PLATFORM_PATH_ADMINTEMP: return "/var/run/";
    case PLATFORM_PATH_SYSTEMDIRECTORY: return "/System/";
    case PLATFORM_PATH_SYSTEMDRIVE: return "/";
    case PLATFORM_PATH_MODULEPATH: return ExecutableFile();
    case PLATFORM_PATH_MODULEDIRECTORY: {
        Answer File = ExecutableFile();
        return File ? Answer(Directory(*File)) : std::nullopt;
    }
    case PLATFORM_PATH_MODULEAPPPATH:
    case PLATFORM_PATH_MODULEAPPDIRECTORY: return std::nullopt; // no application bundle
    case PLATFORM_PATH_MODULEDLLPATH: return ModuleFile(MainProgramHandle());
    case PLATFORM_PATH_MODULEDLLDIRECTORY: {
        Answer File = ModuleFile(MainProgramHandle());
        return File ? Answer(Directory(*File)) : std::nullopt;
    }
    case PLATFORM_PATH_WORKINGDIRECTORY: return CurrentDirectory();
    case PLATFORM_PATH_USERDOWNLOADS: return UserDirectory("XDG_DOWNLOAD_DIR", "Downloads");
    default: Debug_Abort("Unsupported directory [Type: %d]", Id);
    }
}

} // namespace

extern "C" int32 Platform_GetSpecialPath(int32 Id, char *Buffer, int32 Length) {
    if (Buffer != nullptr && Length > 0) Buffer[0] = 0;
    Answer Path = SpecialPath(Id);
    return Buffer != nullptr && Deliver(Path, Buffer, Length);
}

extern "C" int32 Platform_GetUserHome(char *Buffer, int32 Length) { return Deliver(UserHome(), Buffer, Length); }

extern "C" int32 Platform_GetTempDirectory(char *Buffer, int32 Length) {
    return Deliver(TempDirectory(), Buffer, Length);
}

extern "C" int32 Platform_GetPipeDirectory(char *Buffer, int32 Length) {
    return Deliver(TempDirectory(), Buffer, Length);
}

extern "C" int32 Platform_GetCurrentDirectory(char *Buffer, int32 Length) {
    return Deliver(CurrentDirectory(), Buffer, Length);
}

extern "C" void *Platform_GetModuleHandle(const char *Name) {
    if (Name == nullptr) return MainProgramHandle();
    std::vector<Image> Images = LoadedImages();
    for (auto Entry = Images.rbegin(); Entry != Images.rend(); ++Entry) {
        if (Entry->Name.empty()) continue;
        size_t Slash = Entry->Name.rfind('/');
        if (Entry->Name.compare(Slash == std::string::npos ? 0 : Slash + 1, std::string::npos, Name) == 0)
            return HandleOf(*Entry);
    }
    return nullptr;
}

extern "C" void *Platform_GetCurrentModuleHandle(void) { return Platform_GetModuleHandle(nullptr); }

extern "C" int32 Platform_GetModuleFilename(void *Module, char *Buffer, int32 Length) {
    return Deliver(ModuleFile(Module), Buffer, Length);
}

extern "C" int32 Platform_GetModuleDirectory(void *Module, char *Buffer, int32 Length) {
    Answer File = ModuleFile(Module);
    Deliver(File ? Answer(Directory(*File)) : std::nullopt, Buffer, Length);
    return 1;
}

extern "C" int32 Platform_GetModuleLogDirectory(void *Module, char *Buffer, int32 Length) {
    Debug_CheckPointer(Buffer);
    if (Length > 0) Buffer[0] = 0;
    constexpr int32 NameSize = 120;
    if (Module != nullptr) {
        char File[MAX_PATH_SIZE], Company[NameSize], Product[NameSize];
        Answer Support = SpecialPath(PLATFORM_PATH_USERAPPDATA);
        if (Platform_GetModuleFilename(Module, File, sizeof(File)) && Support &&
            Debug_GetModuleValue(File, "CompanyName", Company, NameSize) &&
            Debug_GetModuleValue(File, "ProductName", Product, NameSize))
            return Deliver(*Support + Company + "/" + Product + "/", Buffer, Length);
        return Platform_GetModuleDirectory(Module, Buffer, Length);
    }
    // There is no application bundle to name the folder, so the main
    // executable's file name without extension does.
    char Name[NameSize] = "";
    Answer File = ExecutableFile();
    if (!File) return 0;
    Path_ParseFilename(File->c_str(), Name, NameSize);
    Path_RemoveExtension(Name);
    Answer State = BaseDirectory("XDG_STATE_HOME", ".local/state");
    if (!State || Name[0] == 0) return 0;
    return Deliver(*State + Name + "/", Buffer, Length);
}

extern "C" int32 Platform_SetCurrentDirectory(const char *Path) {
    Debug_CheckPointer(Path);
    char Resolved[MAX_PATH_SIZE];
    Path_Resolve(Path, Resolved, sizeof(Resolved));
    if (strlen(Resolved) >= sizeof(Resolved) - 1) {
        errno = ENAMETOOLONG;
        return 0;
    }
    return chdir(Resolved) == 0 ? 1 : 0;
}

extern "C" int32 Platform_GetPlatformDirectory(char *Buffer, int32 Length) {
    return Platform_GetSpecialPath(PLATFORM_PATH_SYSTEMDIRECTORY, Buffer, Length);
}

extern "C" int32 Platform_GetSystemDirectory(char *Buffer, int32 Length) {
    return Platform_GetSpecialPath(PLATFORM_PATH_SYSTEMDIRECTORY, Buffer, Length);
}

extern "C" int32 Platform_GetSystemDrive(char *Buffer, int32 Length) {
    return Platform_GetSpecialPath(PLATFORM_PATH_SYSTEMDRIVE, Buffer, Length);
}

extern "C" int32 Platform_GetLongPath(const char *Path, char *Buffer, int32 Length) {
    Debug_CheckPointer(Path);
    return Deliver(std::string(Path), Buffer, Length);
}

extern "C" int32 Platform_GetAppFilename(char *Buffer, int32 Length) { return Deliver(std::nullopt, Buffer, Length); }

void PlatformFolder_TellOnce(const std::string &Text) {
    static std::mutex Lock;
    static std::set<std::string> Told;
    std::lock_guard<std::mutex> Guard(Lock);
    if (Told.insert(Text).second) fprintf(stderr, "%s: %s\n", program_invocation_short_name, Text.c_str());
}

std::string PlatformFolder_BaseDirectory(const char *Variable, const char *HomeDefault) {
    return BaseDirectory(Variable, HomeDefault).value_or(std::string());
}
