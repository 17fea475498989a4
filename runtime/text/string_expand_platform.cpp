// The platform macros: folders, module paths, system, user, processor,
// memory and disk facts, and environment variables, as this system tells them.
//
// System, processor, memory, display, user and disk facts answer from the
// system facts (platform_system.h); free space comes from statvfs. Facts
// this machine cannot tell (graphics library, DirectX, security products)
// expand to the empty text, as when their query fails.
//
// Folder, user, system-name and environment macros whose query fails are
// left to the later providers; numeric ones then expand to the empty text.
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "runtime/debug.h"
#include "runtime/files/path.h"
#include "runtime/log.h"
#include "runtime/posix/platform.h"
#include "runtime/posix/platform_folder.h"
#include "runtime/posix/platform_system.h"
#include "runtime/text/string.h"
#include "runtime/text/string_expand.h"
#include "runtime/text/string_expand_internal.h"

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

bool Is(const char *Name, const char *Macro) { return String_CompareWithoutCase(Name, Macro) == 1; }

int32 Deliver(std::string_view Value, char *Output) {
    String_CopyLengthSafe(Output, OutputSize, Value.data(), (int32)std::min<size_t>(Value.size(), INT32_MAX));
    return TRUE;
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
    if (Is(Name, "DiskSerial")) return Platform_GetDiskSerialFromPath(Argument, Output, OutputSize);
    if (Is(Name, "DiskImage")) return Platform_GetDiskImageFromPath(Argument, Output, OutputSize);
    if (Is(Name, "DiskSpace")) {
        int64 Bytes = 0;
        bool Known = FreeDiskSpace(Argument, &Bytes);
        return Number(Known, Bytes, Output);
    }
    return FALSE;
}

// A text fact answered into the output: the query's result is the macro's.
int32 Text(int32 (*Query)(char *, int32), char *Output) { return Query(Output, OutputSize); }

// An indexed display or product fact; the List forms join every index with ",".
int32 Indexed(const char *Name, char *Output) {
    const bool List = String_CompareWithoutCase(Name + strlen(Name) - 4, "List") == 1;
    std::string Joined;
    for (int32 Index = 0;; Index++) {
        char Item[OutputSize] = {};
        int32 Found = 0;
        if (Is(Name, "VideoCardType") || Is(Name, "VideoCardTypeList"))
            Found = Platform_GetVideoCardType(Index, Item, sizeof(Item));
        else if (Is(Name, "VideoCardMemory") || Is(Name, "VideoCardMemoryList")) {
            int64 Bytes = 0;
            Found = Platform_GetVideoCardMemory(Index, &Bytes);
            if (Found) String_Print(Item, sizeof(Item), "%lld", (long long)Bytes);
        } else
            Found = Platform_GetAntiVirus(Index, Item, sizeof(Item));
        if (!Found) break;
        if (!Joined.empty()) Joined += ",";
        Joined += Item;
        if (!List) break;
    }
    return Deliver(Joined, Output);
}

int32 Facts(const char *Name, char *Output) {
    if (Is(Name, "SystemShortName")) return Text(Platform_GetShortName, Output);
    if (Is(Name, "SystemName")) return Text(Platform_GetName, Output);
    if (Is(Name, "SystemVersion")) return Text(Platform_GetVersion, Output);
    if (Is(Name, "CPUVendor")) return Text(Platform_GetCPUVendor, Output), TRUE;
    if (Is(Name, "CPUDescription")) return Text(Platform_GetCPUDescription, Output);
    if (Is(Name, "DirectXVersion")) return Text(Platform_GetDirectXVersion, Output), TRUE;
    if (Is(Name, "OpenGLVersion")) return Text(Platform_GetOpenGLVersion, Output), TRUE;
    if (Is(Name, "UserName")) return Text(Platform_GetUserName, Output);
    if (Is(Name, "UserISO639LangName")) return Text(Platform_GetUserLang, Output);
    if (Is(Name, "UserISO3166CountryName")) return Text(Platform_GetUserCountry, Output);
    for (const char *Macro : {"VideoCardType", "VideoCardTypeList", "VideoCardMemory", "VideoCardMemoryList",
                              "AntiVirus", "AntiVirusList"})
        if (Is(Name, Macro)) return Indexed(Name, Output);
    int32 Value32 = 0;
    int64 Value64 = 0;
    bool Known = false;
    if (Is(Name, "SystemBitness")) return Known = Platform_GetSystemBitness(&Value32), Number(Known, Value32, Output);
    if (Is(Name, "SystemMemory")) return Known = Platform_GetSystemMemory(&Value64), Number(Known, Value64, Output);
    if (Is(Name, "CPUCount")) return Known = Platform_GetCPUCount(&Value32), Number(Known, Value32, Output);
    if (Is(Name, "CPUSpeed")) return Known = Platform_GetCPUSpeed(&Value32), Number(Known, Value32, Output);
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

    if (Is(Name, "ModuleLogDirectory")) return Platform_GetModuleLogDirectory(nullptr, Output, OutputSize);
    if (Is(Name, "ModuleFileName") || Is(Name, "ModuleFileTitle")) return ModuleFile(Name, Output);
    if (Is(Name, "ModuleElevated")) {
        int32 Elevated = 0;
        Platform_IsElevated(&Elevated);
        return Number(true, Elevated, Output);
    }
    if (Is(Name, "ProcessId")) return Number(true, getpid(), Output);
    if (Facts(Name, Output)) return TRUE;
    if (Argument != nullptr) return WithArgument(Name, Argument, Output);
    return FALSE;
}
