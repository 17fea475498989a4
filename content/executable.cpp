// Executable information and authentication (see executable.h): one
// dispatcher over the format readers, and the cache of the running module.
#include "content/executable.h"

#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "content/app_bundle.h"
#include "content/elf_file.h"
#include "content/macho_file.h"
#include "content/pe_file.h"
#include "content/pkg_file.h"
#include "runtime/debug.h"
#include "runtime/posix/platform.h"
#include "runtime/text/string.h"

namespace {

constexpr size_t ModulePathSize = 320;

// Plain data only: a copy of the runtime inside an interop library removes
// this state on the thread that unloads it, and a destructor run at dlclose
// on another thread would race with that.
struct ModuleState {
    char Path[ModulePathSize];
    Dictionary *Cache = nullptr;
    Dictionary *StartUp = nullptr;
    bool Recorded = false;
};
ModuleState Module;

bool Exists(const char *Path, bool *Folder = nullptr) {
    struct stat Status;
    if (Path == nullptr || *Path == 0 || stat(Path, &Status) != 0) return false;
    if (Folder) *Folder = S_ISDIR(Status.st_mode);
    return true;
}

// The path made absolute, with its backslashes turned into slashes.
std::string Normalised(const char *Path) {
    std::string Text(Path);
    std::replace(Text.begin(), Text.end(), '\\', '/');
    if (!Text.empty() && Text[0] != '/') {
        char Folder[4096];
        if (getcwd(Folder, sizeof(Folder)) != nullptr) Text = std::string(Folder) + "/" + Text;
    }
    return Text;
}

int32 ValueOf(const char *Path, const char *Key, char *Out, int32 Size) { return Executable_GetInfoValue(Path, Key, Out, Size); }

} // namespace

int32 Executable_IsValid(const char *Path) {
    Debug_CheckPointer(Path);
    if (!Exists(Path)) return FALSE;
    return PEFile_IsValid(Path) || MachOFile_IsValid(Path) || PKGFile_IsValid(Path) || ELFFile_IsValid(Path);
}

int32 Executable_HasCertificate(const char *Path) {
    Debug_CheckPointer(Path);
    return PEFile_HasCertificate(Path) || MachOFile_HasCertificate(Path);
}

int32 Executable_Authenticate(CertStoreInterface *Store, const char *Path) {
    Debug_CheckPointer(Path);
    // One open for the whole check: the file the format was told from is the
    // file that is verified.
    ExecutableFile File(Path);
    if (!File.IsOpen()) return FALSE;
    const ExecutableSource &Source = File.Source();
    PeHeaders Head;
    MachOSlice Slice;
    uint8 Magic[28];
    if (PeFile_ReadHeaders(Source, Head)) return PeFile_Verify(Store, Source) ? TRUE : FALSE;
    if (MachOFile_ReadSlice(Source, Slice)) return MachOFile_Verify(Store, Source) ? TRUE : FALSE;
    if (Source.Read(0, Magic, sizeof(Magic)) && memcmp(Magic, "xar!", 4) == 0)
        return PkgFile_Verify(Store, Source) ? TRUE : FALSE;
    return ElfFile_Class(Source) != 0 ? TRUE : FALSE;
}

int32 Executable_GetInfoDictionary(const char *Path, void *Reserved, Dictionary *Dict) {
    (void)Reserved;
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Dict);
    bool Folder = false;
    if (AppBundle_IsValid(Path)) return AppBundle_GetInfoDictionary(Path, Dict);
    if (!Exists(Path, &Folder) || Folder || MachOFile_IsValid(Path)) return FALSE;
    if (PEFile_IsValid(Path)) return PEFile_GetInfoDictionary(Path, Dict);
    if (ELFFile_IsValid(Path)) return ELFFile_GetInfoDictionary(Path, Dict);
    return FALSE;
}

int32 Executable_GetInfoValue(const char *Path, const char *Key, char *Out, int32 Size) {
    Debug_CheckPointer(Key);
    Debug_CheckPointer(Out);
    if (Size > 0) Out[0] = 0;
    if (Path == nullptr || *Path == 0) {
        Executable_Init();
        return Module.Cache != nullptr && Dictionary_GetStringByKey(Module.Cache, Key, Out, Size) ? TRUE : FALSE;
    }
    const std::string Absolute = Normalised(Path);
    if (Module.Cache != nullptr && Absolute == Module.Path)
        return Dictionary_GetStringByKey(Module.Cache, Key, Out, Size) ? TRUE : FALSE;
    Dictionary *Values = nullptr;
    Dictionary_Create(&Values);
    const int32 Found =
        Executable_GetInfoDictionary(Absolute.c_str(), nullptr, Values) && Dictionary_GetStringByKey(Values, Key, Out, Size);
    Dictionary_Release(&Values);
    if (!Found && Size > 0) Out[0] = 0;
    return Found ? TRUE : FALSE;
}

int32 Executable_GetFileVersion(const char *Path, char *Text, int32 Size) { return ValueOf(Path, "FileVersion", Text, Size); }
int32 Executable_GetProductVersion(const char *Path, char *Text, int32 Size) {
    return ValueOf(Path, "ProductVersion", Text, Size);
}
int32 Executable_GetProductName(const char *Path, char *Text, int32 Size) { return ValueOf(Path, "ProductName", Text, Size); }
int32 Executable_GetLegalCopyright(const char *Path, char *Text, int32 Size) {
    return ValueOf(Path, "LegalCopyright", Text, Size);
}
int32 Executable_GetCompanyName(const char *Path, char *Text, int32 Size) { return ValueOf(Path, "CompanyName", Text, Size); }
int32 Executable_GetCommandLine(const char *Path, char *Text, int32 Size) { return ValueOf(Path, "CommandLine", Text, Size); }

int32 Executable_Init(void) {
    if (Module.Cache != nullptr) return TRUE;
    Dictionary_Create(&Module.Cache);
    // The cache lives in the runtime's memory: the runtime removes it before
    // its memory goes.
    Debug_SetModuleRemove(Executable_Remove);
    // The program file stands for the application bundle here.
    char Path[4096] = "";
    Platform_GetSpecialPath(PLATFORM_PATH_MODULEPATH, Path, sizeof(Path));
    std::replace(Path, Path + strlen(Path), '\\', '/');
    return Executable_SetCurrentModuleAppPath(Path);
}

int32 Executable_SetCurrentModuleAppPath(const char *Path) {
    Debug_CheckPointer(Path);
    String_CopyLength(Module.Path, Normalised(Path).c_str(), (int32)sizeof(Module.Path));
    Debug_SetModuleRemove(Executable_Remove);
    if (Module.Cache == nullptr) Dictionary_Create(&Module.Cache);
    if (!Module.Recorded) {
        Module.StartUp = Module.Cache;
        Module.Recorded = true;
    } else if (Module.Cache == Module.StartUp) {
        Dictionary_Create(&Module.Cache);
    }
    Dictionary_Reset(Module.Cache);
    if (Module.Path[0] != 0) Executable_GetInfoDictionary(Module.Path, nullptr, Module.Cache);
    return TRUE;
}

int32 Executable_GetCurrentModuleAppPath(char *Out, int32 Size) {
    Debug_CheckPointer(Out);
    String_CopyLength(Out, Module.Path, Size);
    return TRUE;
}

int32 Executable_Shutdown(void) {
    if (Module.Cache != nullptr && Module.StartUp != nullptr && Module.Cache != Module.StartUp) {
        Dictionary_Release(&Module.Cache);
        Module.Cache = Module.StartUp;
    }
    return TRUE;
}

int32 Executable_Remove(void) {
    if (Module.StartUp != nullptr && Module.StartUp != Module.Cache) Dictionary_Release(&Module.StartUp);
    if (Module.Cache != nullptr) Dictionary_Release(&Module.Cache);
    Module = {};
    return TRUE;
}

int32 Executable_ExpandKey(void *User, const char *Key, const char *Argument, char *Out, int32 Size) {
    (void)User;
    Debug_CheckPointer(Key);
    Debug_CheckPointer(Out);
    const char *Path = Argument != nullptr && *Argument != 0 ? Argument : nullptr;
    for (const char *Name : {"FileVersion", "ProductVersion", "CompanyName", "ProductName"})
        if (String_CompareWithoutCase(Key, Name)) {
            Executable_GetInfoValue(Path, Name, Out, Size);
            return TRUE;
        }
    if (String_CompareBeginningWithoutCase(Key, "Copyright")) {
        Executable_GetInfoValue(Path, "LegalCopyright", Out, Size);
        return TRUE;
    }
    if (!String_CompareWithoutCase(Key, "DataStore") && !String_CompareWithoutCase(Key, "FileDataStore")) return FALSE;
    char *Text = nullptr;
    int32 Length = 0;
    if (Executable_GetDataStore(Path, &Text, &Length)) {
        if (Size > 0) String_CopyLength(Out, Text, Size);
        Executable_ReleaseDataStore(Path, &Text, &Length);
    }
    return TRUE;
}
