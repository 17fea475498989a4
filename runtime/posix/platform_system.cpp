// System facts: see platform_system.h.
//
// The version is cached on first success for the life of the process, as the
// log header and crash reports read it repeatedly; the cache is filled under
// a lock so concurrent first readers agree; a failed read is tried again.
#include <ctype.h>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/debug.h"
#include "runtime/files/path.h"
#include "runtime/posix/platform.h"
#include "runtime/posix/platform_stand_in.h"

namespace {

constexpr size_t VersionCacheSize = 120;
constexpr size_t SmallFileLimit = 1 << 20;

char CachedVersion[VersionCacheSize];
std::mutex VersionLock;

int32 Copy(std::string_view Text, char *Buffer, int32 Length) {
    if (Length < 1) return 0;
    size_t Count = std::min(Text.size(), (size_t)Length - 1);
    memcpy(Buffer, Text.data(), Count);
    Buffer[Count] = 0;
    return Count > 0;
}

int32 Empty(char *Buffer, int32 Length) {
    Debug_CheckPointer(Buffer);
    if (Length > 0) Buffer[0] = 0;
    return 0;
}

// At most Limit bytes of a small system file.
bool ReadSmallFile(const std::string &Path, std::string &Text, size_t Limit = SmallFileLimit) {
    return PlatformStandIn_ReadFile(Path, Text, Limit);
}

std::string Trimmed(std::string Text) {
    while (!Text.empty() && isspace((unsigned char)Text.back())) Text.pop_back();
    return Text;
}

std::string ProcPath(const char *Name) { return PlatformStandIn_Value("PROC_ROOT", "/proc") + "/" + Name; }
std::string SysPath(const std::string &Name) { return PlatformStandIn_Value("SYS_ROOT", "/sys") + "/" + Name; }

std::string OsRelease(std::string_view Key) {
    const std::string Steered = PlatformStandIn_Value("OS_RELEASE", "");
    for (const std::string &Path : Steered.empty() ? std::vector<std::string>{"/etc/os-release", "/usr/lib/os-release"}
                                                   : std::vector<std::string>{Steered}) {
        std::string Text;
        if (ReadSmallFile(Path, Text)) return PlatformSystem_OsReleaseValue(Text, Key);
    }
    return {};
}

bool CpuInfo(std::string_view Key, std::string &Value) {
    std::string Text;
    return ReadSmallFile(ProcPath("cpuinfo"), Text) && PlatformSystem_CpuInfoValue(Text, Key, Value);
}

// The user's locale without codeset and modifier; empty for none, "C" or "POSIX".
std::string UserLocale() {
    for (const char *Variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char *Value = getenv(Variable);
        if (Value != nullptr && Value[0] != 0) return PlatformSystem_LocaleOf(Value);
    }
    return "";
}

// The system's current locale: LANG of the locale file, else "en_US".
std::string SystemLocale() {
    const std::string Steered = PlatformStandIn_Value("LOCALE_CONF", "");
    for (const std::string &Path : Steered.empty() ? std::vector<std::string>{"/etc/locale.conf", "/etc/default/locale"}
                                                   : std::vector<std::string>{Steered}) {
        std::string Text;
        if (!ReadSmallFile(Path, Text)) continue;
        std::string Locale = PlatformSystem_LocaleOf(PlatformSystem_OsReleaseValue(Text, "LANG"));
        if (Locale.find('_') != std::string::npos) return Locale;
    }
    return "en_US";
}

// The locale's part before (Which 0) or after (Which 1) "_", else the system's.
int32 LocalePart(int Which, char *Buffer, int32 Length) {
    Empty(Buffer, Length);
    std::string Locale = UserLocale();
    size_t Underscore = Locale.find('_');
    if (Underscore == std::string::npos || Underscore == 0 || Underscore + 1 >= Locale.size()) {
        Locale = SystemLocale();
        Underscore = Locale.find('_');
    }
    std::string_view Text(Locale);
    Copy(Which == 0 ? Text.substr(0, Underscore) : Text.substr(Underscore + 1), Buffer, Length);
    return 1;
}

// The device behind a path, "~" resolved.
bool DeviceOf(const char *Path, unsigned *Major, unsigned *Minor) {
    char Resolved[MAX_PATH_SIZE * 4];
    Path_Resolve(Path, Resolved, sizeof(Resolved));
    struct stat Status;
    if (stat(Resolved, &Status) != 0) return false;
    *Major = major(Status.st_dev);
    *Minor = minor(Status.st_dev);
    return true;
}

struct DisplayAdapter {
    std::string Name; // the device's folder under bus/pci/devices
    std::string Ids;  // "vendor:device"
};

// PCI display devices (class 0x03xxxx) in the kernel's order.
std::vector<DisplayAdapter> DisplayAdapters() {
    std::vector<DisplayAdapter> Found;
    const std::string Folder = SysPath("bus/pci/devices");
    DIR *Directory = opendir(Folder.c_str());
    if (Directory == nullptr) return Found;
    std::vector<std::string> Names;
    while (dirent *Entry = readdir(Directory))
        if (Entry->d_name[0] != '.') Names.push_back(Entry->d_name);
    closedir(Directory);
    std::sort(Names.begin(), Names.end());
    for (const std::string &Name : Names) {
        std::string Class, Vendor, Device;
        if (!ReadSmallFile(Folder + "/" + Name + "/class", Class, 64) || strtoul(Class.c_str(), nullptr, 16) >> 16 != 3)
            continue;
        ReadSmallFile(Folder + "/" + Name + "/vendor", Vendor, 64);
        ReadSmallFile(Folder + "/" + Name + "/device", Device, 64);
        auto Id = [](std::string Text) {
            Text = Trimmed(Text);
            return Text.rfind("0x", 0) == 0 ? Text.substr(2) : Text;
        };
        Found.push_back({Name, Id(Vendor) + ":" + Id(Device)});
    }
    return Found;
}

} // namespace

std::string PlatformSystem_OsReleaseValue(std::string_view Text, std::string_view Key) {
    while (!Text.empty()) {
        size_t End = Text.find('\n');
        std::string_view Line = Text.substr(0, End);
        Text = End == std::string_view::npos ? std::string_view() : Text.substr(End + 1);
        while (!Line.empty() && isspace((unsigned char)Line.back())) Line.remove_suffix(1);
        while (!Line.empty() && isspace((unsigned char)Line.front())) Line.remove_prefix(1);
        if (Line.size() <= Key.size() || Line.substr(0, Key.size()) != Key || Line[Key.size()] != '=') continue;
        std::string_view Value = Line.substr(Key.size() + 1);
        std::string Result;
        if (Value.size() >= 2 && (Value.front() == '"' || Value.front() == '\'') && Value.back() == Value.front()) {
            const bool Double = Value.front() == '"';
            Value = Value.substr(1, Value.size() - 2);
            for (size_t Index = 0; Index < Value.size(); Index++) {
                if (Double && Value[Index] == '\\' && Index + 1 < Value.size()) Index++;
                Result += Value[Index];
            }
            return Result;
        }
        return std::string(Value);
    }
    return {};
}

bool PlatformSystem_CpuInfoValue(std::string_view Text, std::string_view Key, std::string &Value) {
    while (!Text.empty()) {
        size_t End = Text.find('\n');
        std::string_view Line = Text.substr(0, End);
        Text = End == std::string_view::npos ? std::string_view() : Text.substr(End + 1);
        size_t Colon = Line.find(':');
        if (Colon == std::string_view::npos) continue;
        std::string_view Name = Line.substr(0, Colon);
        while (!Name.empty() && (Name.back() == ' ' || Name.back() == '\t')) Name.remove_suffix(1);
        if (Name != Key) continue;
        std::string_view Rest = Line.substr(Colon + 1);
        while (!Rest.empty() && (Rest.front() == ' ' || Rest.front() == '\t')) Rest.remove_prefix(1);
        while (!Rest.empty() && isspace((unsigned char)Rest.back())) Rest.remove_suffix(1);
        Value.assign(Rest);
        return true;
    }
    return false;
}

std::string PlatformSystem_LocaleOf(std::string_view Value) {
    std::string Locale(Value.substr(0, Value.find_first_of(".@")));
    if (Locale == "C" || Locale == "POSIX") return "";
    return Locale;
}

extern "C" int32 Platform_GetShortName(char *Buffer, int32 Length) {
    Empty(Buffer, Length);
    Copy("mac", Buffer, Length);
    return 1;
}

extern "C" int32 Platform_GetVersion(char *Buffer, int32 Length) {
    Empty(Buffer, Length);
    std::lock_guard Guard(VersionLock);
    if (CachedVersion[0] == 0) Copy(OsRelease("VERSION_ID"), CachedVersion, VersionCacheSize);
    return Copy(CachedVersion, Buffer, Length);
}

extern "C" int32 Platform_GetName(char *Buffer, int32 Length) {
    Empty(Buffer, Length);
    return Copy(OsRelease("NAME"), Buffer, Length);
}

extern "C" int32 Platform_GetSystemBitness(int32 *Bitness) {
    Debug_CheckPointer(Bitness);
    *Bitness = 0;
    utsname Names{};
    if (uname(&Names) != 0) return 0;
    *Bitness = strcasecmp(Names.machine, "x86_64") == 0 ? 64 : 32;
    return 1;
}

extern "C" int32 Platform_GetSystemMemory(int64 *Bytes) {
    Debug_CheckPointer(Bytes);
    const long Pages = sysconf(_SC_PHYS_PAGES), PageSize = sysconf(_SC_PAGESIZE);
    *Bytes = Pages > 0 && PageSize > 0 ? (int64)Pages * PageSize : 0;
    return *Bytes > 0;
}

extern "C" int32 Platform_GetPageSize(int32 *Bytes) {
    Debug_CheckPointer(Bytes);
    *Bytes = (int32)sysconf(_SC_PAGESIZE);
    return 1;
}

extern "C" int32 Platform_GetCPUCount(int32 *Count) {
    Debug_CheckPointer(Count);
    const long Online = sysconf(_SC_NPROCESSORS_ONLN);
    *Count = Online > 0 ? (int32)Online : 0;
    return Online > 0;
}

extern "C" int32 Platform_GetCPUSpeed(int32 *MHz) {
    Debug_CheckPointer(MHz);
    *MHz = 0;
    std::string Text;
    for (const char *File : {"devices/system/cpu/cpu0/cpufreq/base_frequency",
                             "devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq"})
        if (ReadSmallFile(SysPath(File), Text, 64) && atoll(Text.c_str()) > 0) {
            *MHz = (int32)(atoll(Text.c_str()) / 1000); // kHz
            return 1;
        }
    if (CpuInfo("cpu MHz", Text)) *MHz = (int32)atof(Text.c_str());
    return 1;
}

extern "C" int32 Platform_GetCPUVendor(char *Buffer, int32 Length) {
    Empty(Buffer, Length);
    std::string Brand;
    if (!CpuInfo("model name", Brand)) return 0;
    const size_t Cut = Brand.find_first_of(" (");
    if (Cut == std::string::npos) return 0;
    Copy(std::string_view(Brand).substr(0, Cut), Buffer, Length);
    return 1;
}

extern "C" int32 Platform_GetCPUDescription(char *Buffer, int32 Length) {
    Empty(Buffer, Length);
    std::string Brand;
    if (CpuInfo("model name", Brand)) Copy(Brand, Buffer, Length);
    return 1;
}

extern "C" int32 Platform_GetDirectXVersion(char *Buffer, int32 Length) { return Empty(Buffer, Length); }

extern "C" int32 Platform_GetOpenGLVersion(char *Buffer, int32 Length) { return Empty(Buffer, Length); }

extern "C" int32 Platform_GetVideoCardType(int32 Index, char *Buffer, int32 Length) {
    Empty(Buffer, Length);
    std::vector<DisplayAdapter> Adapters = DisplayAdapters();
    if (Index < 0 || (size_t)Index >= Adapters.size()) return 0;
    Copy(Adapters[(size_t)Index].Ids, Buffer, Length);
    return 1;
}

extern "C" int32 Platform_GetVideoCardMemory(int32 Index, int64 *Bytes) {
    Debug_CheckPointer(Bytes);
    *Bytes = 0;
    int32 Seen = 0;
    for (const DisplayAdapter &Adapter : DisplayAdapters()) {
        // "start end flags" per region; memory regions have flag bit 0x200.
        std::string Text;
        if (!ReadSmallFile(SysPath("bus/pci/devices/" + Adapter.Name + "/resource"), Text, 4096)) continue;
        for (size_t Start = 0; Start < Text.size();) {
            size_t End = Text.find('\n', Start);
            if (End == std::string::npos) End = Text.size();
            unsigned long long First = 0, Last = 0, Flags = 0;
            const std::string Line = Text.substr(Start, End - Start);
            Start = End + 1;
            if (sscanf(Line.c_str(), "%llx %llx %llx", &First, &Last, &Flags) != 3 || !(Flags & 0x200) || Last <= First)
                continue;
            if (Seen++ == Index) {
                *Bytes = (int64)(Last - First + 1);
                return 1;
            }
        }
    }
    return 0;
}

extern "C" int32 Platform_GetAntiVirus(int32 Index, char *Buffer, int32 Length) {
    (void)Index;
    return Empty(Buffer, Length);
}

extern "C" int32 Platform_GetAntiVirusCount(int32 *Count) {
    Debug_CheckPointer(Count);
    char Name[260];
    *Count = 0;
    while (Platform_GetAntiVirus(*Count, Name, sizeof(Name))) (*Count)++;
    return 1;
}

extern "C" int32 Platform_GetSystemTheme(char *Buffer, int32 Length) {
    Empty(Buffer, Length);
    std::string Theme = PlatformStandIn_Value("THEME", "");
    if (Theme.empty()) Theme = "light";
    if (Theme[0] >= 'A' && Theme[0] <= 'Z') Theme[0] = (char)(Theme[0] - 'A' + 'a');
    Copy(Theme, Buffer, Length);
    return 1;
}

extern "C" int32 Platform_GetUserName(char *Buffer, int32 Length) {
    Empty(Buffer, Length);
    std::vector<char> Scratch(16384);
    struct passwd Entry, *Found = nullptr;
    if (getpwuid_r(geteuid(), &Entry, Scratch.data(), Scratch.size(), &Found) != 0 || Found == nullptr ||
        Found->pw_name == nullptr)
        return 0;
    return Copy(Found->pw_name, Buffer, Length);
}

extern "C" int32 Platform_GetUserLocale(char *Buffer, int32 Length) {
    Empty(Buffer, Length);
    return Copy(UserLocale(), Buffer, Length);
}

extern "C" int32 Platform_GetUserLang(char *Buffer, int32 Length) { return LocalePart(0, Buffer, Length); }

extern "C" int32 Platform_GetUserCountry(char *Buffer, int32 Length) { return LocalePart(1, Buffer, Length); }

extern "C" int32 Platform_GetDiskSerialFromPath(const char *Path, char *Buffer, int32 Length) {
    Debug_CheckPointer(Path);
    Empty(Buffer, Length);
    unsigned Major = 0, Minor = 0;
    if (!DeviceOf(Path, &Major, &Minor)) return 0;
    // The udev database first (it also knows USB and NVMe serials), then the
    // device's own serial file, also the whole disk's for a partition.
    std::string Text;
    const std::string Record = PlatformStandIn_Value("UDEV_ROOT", "/run/udev") + "/data/b" + std::to_string(Major) +
                               ":" + std::to_string(Minor);
    if (ReadSmallFile(Record, Text)) {
        for (std::string_view Key : {"E:ID_SERIAL_SHORT=", "E:ID_SERIAL="}) {
            std::string Value = PlatformSystem_OsReleaseValue(Text, Key.substr(0, Key.size() - 1));
            if (!Value.empty()) return Copy(Value, Buffer, Length), 1;
        }
    }
    // No block device (tmpfs, overlay, proc): no disk, no answer.
    const std::string Device = "dev/block/" + std::to_string(Major) + ":" + std::to_string(Minor);
    struct stat Status;
    if (stat(SysPath(Device).c_str(), &Status) != 0) return 0;
    for (const char *File : {"/device/serial", "/../device/serial", "/serial", "/../serial"})
        if (ReadSmallFile(SysPath(Device + File), Text, 4096) && !Trimmed(Text).empty())
            return Copy(Trimmed(Text), Buffer, Length), 1;
    return 1;
}

extern "C" int32 Platform_GetDiskImageFromPath(const char *Path, char *Buffer, int32 Length) {
    Debug_CheckPointer(Path);
    Empty(Buffer, Length);
    unsigned Major = 0, Minor = 0;
    if (!DeviceOf(Path, &Major, &Minor)) return 0;
    const std::string Device = "dev/block/" + std::to_string(Major) + ":" + std::to_string(Minor);
    for (const char *File : {"/loop/backing_file", "/../loop/backing_file"}) {
        std::string Text;
        if (ReadSmallFile(SysPath(Device + File), Text, 8192) && !Trimmed(Text).empty())
            return Copy(Trimmed(Text), Buffer, Length);
    }
    return 0;
}

extern "C" int32 Platform_GetDebugFlagsFromKey(uint32 *Flags) {
    Debug_CheckPointer(Flags);
    return 0;
}
