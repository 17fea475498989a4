// The platform macros: folders, module paths, system, user, processor,
// memory and disk facts, and environment variables, as this system tells them.
//
// Linux sources: processor facts from /proc/cpuinfo and sysconf, memory from
// sysconf, free space from statvfs, the user from the password database, the
// language and country from the locale variables (LC_ALL, LC_MESSAGES, LANG),
// a disk's serial from the udev database and a disk image from the backing
// file of a loop device. There is no source for a graphics library version,
// display adapter names or memory, or installed security products: those
// macros expand to the empty text, as when their query fails.
//
// Folder, user, system-name and environment macros whose query fails are
// left to the later providers; numeric ones then expand to the empty text.
#include <fcntl.h>
#include <pwd.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "core/debug.h"
#include "core/log.h"
#include "core/path.h"
#include "core/posix/platform.h"
#include "core/posix/platform_folder.h"
#include "core/posix/platform_system.h"
#include "core/string.h"
#include "core/string_expand.h"
#include "core/string_expand_internal.h"

namespace {

constexpr int32 OutputSize = STRING_EXPAND_RESULT_SIZE;
// Paths given to the disk queries are resolved into buffers of this size.
constexpr int32 ResolvedPathSize = 1024;

struct PathMacro {
    const char *Name;
    int32 Id;
};

constexpr PathMacro PathMacros[] = {
    {"ModulePath", PLATFORM_PATH_MODULEPATH},
    {"ModuleDirectory", PLATFORM_PATH_MODULEDIRECTORY},
    {"ModuleAppPath", PLATFORM_PATH_MODULEAPPPATH},
    {"ModuleAppDirectory", PLATFORM_PATH_MODULEAPPDIRECTORY},
    {"ModuleDllPath", PLATFORM_PATH_MODULEDLLPATH},
    {"ModuleDllDirectory", PLATFORM_PATH_MODULEDLLDIRECTORY},
    {"WorkingDirectory", PLATFORM_PATH_WORKINGDIRECTORY},
    {"Temp", PLATFORM_PATH_TEMP},
    {"AdminTemp", PLATFORM_PATH_ADMINTEMP},
    {"PipePath", PLATFORM_PATH_PIPEPATH},
    {"ProgramFiles", PLATFORM_PATH_PROGRAMFILES},
    {"ProgramFiles64", PLATFORM_PATH_PROGRAMFILES64},
    {"UserStartMenu", PLATFORM_PATH_USERSTARTMENU},
    {"CommonStartMenu", PLATFORM_PATH_COMMONSTARTMENU},
    {"UserHome", PLATFORM_PATH_USERHOME},
    {"UserDocuments", PLATFORM_PATH_USERDOCUMENTS},
    {"UserDesktop", PLATFORM_PATH_USERDESKTOP},
    {"CommonDesktop", PLATFORM_PATH_COMMONDESKTOP},
    {"UserDownloads", PLATFORM_PATH_USERDOWNLOADS},
    {"UserAppData", PLATFORM_PATH_USERAPPDATA},
    {"UserAppDataRoaming", PLATFORM_PATH_USERAPPDATAROAMING},
    {"CommonAppData", PLATFORM_PATH_COMMONAPPDATA},
    {"SystemDirectory", PLATFORM_PATH_SYSTEMDIRECTORY},
    {"SystemDrive", PLATFORM_PATH_SYSTEMDRIVE},
};

struct FixedMacro {
    const char *Name;
    const char *Value;
};

// "dylib" stays: the loader ignores extensions, and texts naming libraries
// keep naming the same files.
constexpr FixedMacro FixedMacros[] = {
    {"ModuleBitness", "64"}, {"ToolSuffix", ""}, {"BundleSuffix", ".app"},
    {"LibraryPrefix", "lib"}, {"LibraryExtension", "dylib"},
};

// Expand to the empty text: nothing on this system can answer them.
constexpr const char *SourcelessMacros[] = {
    "DirectXVersion", "OpenGLVersion",      "VideoCardType", "VideoCardTypeList",
    "VideoCardMemory", "VideoCardMemoryList", "AntiVirus",     "AntiVirusList",
};

bool Is(const char *Name, const char *Macro) { return String_CompareWithoutCase(Name, Macro) == 1; }

int32 Deliver(std::string_view Value, char *Output) {
    String_CopyLengthSafe(Output, OutputSize, Value.data(), (int32)std::min<size_t>(Value.size(), INT32_MAX));
    return TRUE;
}

// At most Limit bytes of a small system file.
bool ReadSmallFile(const char *Path, std::string &Text, size_t Limit = 65536) {
    int Descriptor = open(Path, O_RDONLY | O_CLOEXEC);
    if (Descriptor < 0) return false;
    Text.clear();
    char Chunk[4096];
    for (ssize_t Count; Text.size() < Limit && (Count = read(Descriptor, Chunk, sizeof(Chunk))) > 0;)
        Text.append(Chunk, (size_t)Count);
    close(Descriptor);
    if (Text.size() > Limit) Text.resize(Limit);
    return true;
}

// The value of the first "Key<blanks>: value" line of /proc/cpuinfo.
bool CpuInfo(std::string_view Key, std::string &Value) {
    std::string Text;
    if (!ReadSmallFile("/proc/cpuinfo", Text)) return false;
    for (size_t Start = 0; Start < Text.size();) {
        size_t End = Text.find('\n', Start);
        if (End == std::string::npos) End = Text.size();
        std::string_view Line(Text.data() + Start, End - Start);
        Start = End + 1;
        size_t Colon = Line.find(':');
        if (Colon == std::string_view::npos) continue;
        std::string_view Name = Line.substr(0, Colon);
        while (!Name.empty() && (Name.back() == ' ' || Name.back() == '\t')) Name.remove_suffix(1);
        if (Name != Key) continue;
        std::string_view Rest = Line.substr(Colon + 1);
        while (!Rest.empty() && Rest.front() == ' ') Rest.remove_prefix(1);
        Value.assign(Rest);
        return true;
    }
    return false;
}

// The user's locale without codeset and modifier ("fr_CA" of "fr_CA.UTF-8");
// empty for none and for the portable "C"/"POSIX" locale.
std::string UserLocale() {
    for (const char *Variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char *Value = getenv(Variable);
        if (Value == nullptr || Value[0] == 0) continue;
        std::string Locale(Value);
        Locale.resize(Locale.find_first_of(".@") == std::string::npos ? Locale.size() : Locale.find_first_of(".@"));
        if (Locale == "C" || Locale == "POSIX") return "";
        return Locale;
    }
    return "";
}

bool UserName(char *Output) {
    std::vector<char> Scratch(16384);
    struct passwd Entry, *Found = nullptr;
    if (getpwuid_r(geteuid(), &Entry, Scratch.data(), Scratch.size(), &Found) != 0 || Found == nullptr ||
        Found->pw_name == nullptr || Found->pw_name[0] == 0)
        return false;
    return Deliver(Found->pw_name, Output);
}

// The device behind a path, "~" resolved.
bool DeviceOf(const char *Path, unsigned *Major, unsigned *Minor) {
    char Resolved[ResolvedPathSize];
    Path_Resolve(Path, Resolved, sizeof(Resolved));
    struct stat Status;
    if (stat(Resolved, &Status) != 0) return false;
    *Major = major(Status.st_dev);
    *Minor = minor(Status.st_dev);
    return true;
}

// The serial number udev recorded for the disk (or partition) holding Path;
// a known device without one answers an empty text.
bool DiskSerial(const char *Path, char *Output) {
    unsigned Major = 0, Minor = 0;
    if (!DeviceOf(Path, &Major, &Minor)) return false;
    char File[64];
    String_Print(File, sizeof(File), "/run/udev/data/b%u:%u", Major, Minor);
    std::string Text;
    if (!ReadSmallFile(File, Text)) return false;
    for (std::string_view Key : {"\nE:ID_SERIAL_SHORT=", "\nE:ID_SERIAL="}) {
        size_t At = ("\n" + Text).find(Key);
        if (At == std::string::npos) continue;
        size_t Start = At + Key.size() - 1;
        return Deliver(std::string_view(Text).substr(Start, Text.find('\n', Start) - Start), Output);
    }
    return Deliver("", Output);
}

// The image file behind a loop device (or a partition of one) holding Path.
bool DiskImage(const char *Path, char *Output) {
    unsigned Major = 0, Minor = 0;
    if (!DeviceOf(Path, &Major, &Minor)) return false;
    for (const char *Format : {"/sys/dev/block/%u:%u/loop/backing_file", "/sys/dev/block/%u:%u/../loop/backing_file"}) {
        char File[96];
        String_Print(File, sizeof(File), Format, Major, Minor);
        std::string Text;
        if (!ReadSmallFile(File, Text)) continue;
        while (!Text.empty() && Text.back() == '\n') Text.pop_back();
        if (Text.empty()) continue;
        return Deliver(Text, Output);
    }
    return false;
}

// Bytes available to unprivileged users on the volume of a directory path,
// which must end with a separator once resolved.
bool FreeDiskSpace(const char *Path, int64 *Bytes) {
    char Resolved[ResolvedPathSize];
    Path_Resolve(Path, Resolved, sizeof(Resolved));
    size_t Length = strlen(Resolved);
    if (Length == 0 || (Resolved[Length - 1] != '/' && Resolved[Length - 1] != '\\')) {
        Log_Debug("Path is invalid (%s)\n", Resolved);
        return false;
    }
    String_CatLength(Resolved, ".", sizeof(Resolved));
    struct statvfs Volume;
    if (statvfs(Resolved, &Volume) != 0) return false;
    *Bytes = (int64)Volume.f_bavail * (int64)Volume.f_frsize;
    return true;
}

// Numbers print as text; a failed query expands to the empty text.
int32 Number(bool Known, long long Value, char *Output) {
    if (Known) String_Print(Output, OutputSize, "%lld", Value);
    return TRUE;
}

int32 ModuleFile(const char *Name, char *Output) {
    char Path[MAX_PATH_SIZE];
    if (!Platform_GetSpecialPath(PLATFORM_PATH_MODULEPATH, Path, sizeof(Path))) return FALSE;
    std::string_view File(Path);
    if (size_t Slash = File.find_last_of("/\\"); Slash != std::string_view::npos) File.remove_prefix(Slash + 1);
    if (Is(Name, "ModuleFileTitle")) File = File.substr(0, File.rfind('.'));
    return Deliver(File, Output);
}

// Macros that take their argument as is: disks and environment.
int32 WithArgument(const char *Name, const char *Argument, char *Output) {
    if (Is(Name, "Env")) return Platform_GetEnvironmentVariable(Argument, Output, OutputSize);
    if (Is(Name, "DiskSerial")) return DiskSerial(Argument, Output);
    if (Is(Name, "DiskImage")) return DiskImage(Argument, Output);
    if (Is(Name, "DiskSpace")) {
        int64 Bytes = 0;
        bool Known = FreeDiskSpace(Argument, &Bytes);
        return Number(Known, Bytes, Output);
    }
    return FALSE;
}

// The processor facts; CPUSpeed is 0 where the kernel shows no clock rate.
int32 Processor(const char *Name, char *Output) {
    std::string Value;
    if (Is(Name, "CPUCount")) {
        long Count = sysconf(_SC_NPROCESSORS_ONLN);
        return Number(Count > 0, Count, Output);
    }
    if (Is(Name, "CPUSpeed")) return Number(true, CpuInfo("cpu MHz", Value) ? (long long)atof(Value.c_str()) : 0, Output);
    if (Is(Name, "CPUDescription")) {
        if (CpuInfo("model name", Value)) Deliver(Value, Output);
        return TRUE;
    }
    if (Is(Name, "CPUVendor")) {
        // The vendor word in front of the first blank or "(": "Intel(R) Xeon(R) ..." gives "Intel".
        if (CpuInfo("model name", Value) && Value.find_first_of(" (") != std::string::npos)
            Deliver(std::string_view(Value).substr(0, Value.find_first_of(" (")), Output);
        return TRUE;
    }
    return FALSE;
}

} // namespace

int32 String_ExpandPlatform(const char *Name, const char *Argument, char *Output) {
    Debug_CheckPointer(Name);
    Debug_CheckPointer(Output);
    Output[0] = 0;
    for (const PathMacro &Macro : PathMacros)
        if (Is(Name, Macro.Name)) return Platform_GetSpecialPath(Macro.Id, Output, OutputSize);
    for (const FixedMacro &Macro : FixedMacros)
        if (Is(Name, Macro.Name)) return Deliver(Macro.Value, Output);
    for (const char *Macro : SourcelessMacros)
        if (Is(Name, Macro)) return TRUE;

    if (Is(Name, "ModuleLogDirectory")) return Platform_GetModuleLogDirectory(nullptr, Output, OutputSize);
    if (Is(Name, "ModuleFileName") || Is(Name, "ModuleFileTitle")) return ModuleFile(Name, Output);
    if (Is(Name, "ModuleElevated")) {
        int32 Elevated = 0;
        Platform_IsElevated(&Elevated);
        return Number(true, Elevated, Output);
    }
    if (Is(Name, "SystemShortName")) return Deliver("linux", Output);
    if (Is(Name, "SystemName")) return Platform_GetName(Output, OutputSize);
    if (Is(Name, "SystemVersion")) return Platform_GetVersion(Output, OutputSize);
    if (Is(Name, "SystemBitness")) {
        int32 Bitness = 0;
        Platform_GetSystemBitness(&Bitness);
        return Number(true, Bitness, Output);
    }
    if (Is(Name, "ProcessId")) return Number(true, getpid(), Output);
    if (Is(Name, "SystemMemory")) {
        long Pages = sysconf(_SC_PHYS_PAGES), PageSize = sysconf(_SC_PAGESIZE);
        return Number(Pages > 0 && PageSize > 0, (long long)Pages * PageSize, Output);
    }
    if (Processor(Name, Output)) return TRUE;

    if (Is(Name, "UserName")) return UserName(Output);
    if (Is(Name, "UserISO639LangName") || Is(Name, "UserISO3166CountryName")) {
        std::string Locale = UserLocale();
        size_t Underscore = Locale.find('_');
        if (Is(Name, "UserISO639LangName"))
            return !Locale.empty() && Underscore != 0 && Deliver(std::string_view(Locale).substr(0, Underscore), Output);
        return Underscore != std::string::npos && Underscore + 1 < Locale.size() &&
               Deliver(std::string_view(Locale).substr(Underscore + 1), Output);
    }
    if (Argument != nullptr) return WithArgument(Name, Argument, Output);
    return FALSE;
}
