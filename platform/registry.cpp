// Registry module: whitelists, authorisation, keys by number and typed values.
#include "platform/registry.h"

#include <string.h>

#include <new>
#include <string>
#include <vector>

#include "crypto/trust/authenticate.h"
#include "platform/posix/platform_registry.h"
#include "runtime/class.h"
#include "runtime/files/path.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/text/string.h"

namespace {

struct RegistryState {
    ClassStruct Class;
    // Normalised entries ("class/key/"); kept whole, as a cut entry would
    // admit more than was configured.
    std::vector<std::string> ReadOnly, ReadWrite;
};

RegistryState *GlobalRegistry = nullptr;
Registry_AuthorizeFunc AuthorizeHook = nullptr;

constexpr const char *ViewNames[] = {"default", "32", "64"};
constexpr const char *ClassNames[] = {"unknown", "user", "performance", "machine", "root", "config", "desktopuser"};

// "." and ".." segments: the whitelist would resolve them, the store would not.
bool HasRelativeSegment(const char *Path) {
    const char *Start = Path;
    for (const char *At = Path;; At++) {
        if (*At == '/' || *At == '\\' || *At == 0) {
            size_t Length = (size_t)(At - Start);
            if ((Length == 1 && Start[0] == '.') || (Length == 2 && Start[0] == '.' && Start[1] == '.')) return true;
            if (*At == 0) return false;
            Start = At + 1;
        }
    }
}

// Normalises "class/key" as the whitelist entries are (trailing separator);
// false when the result does not fit a path buffer, since a cut path could
// match an entry the whole path does not.
bool NormaliseEntry(const std::string &Text, std::string &Out) {
    std::vector<char> Work(Text.begin(), Text.end());
    Work.resize(Text.size() + 3, 0);
    Path_FixSlash(Work.data(), (int32)Work.size(), 1);
    Out = Work.data();
    return Out.size() < MAX_PATH_SIZE;
}

bool MatchesAny(const std::vector<std::string> &Entries, const std::string &Path) {
    for (const std::string &Entry : Entries)
        if (String_CompareBeginningWithoutCase(Path.c_str(), Entry.c_str())) return true;
    return false;
}

int32 DeleteState(void *HandleAddress) {
    auto **State = static_cast<RegistryState **>(HandleAddress);
    (*State)->~RegistryState();
    Memory_Delete(*State);
    return TRUE;
}

int32 TypedGet(void *Key, int32 Type, const char *ValueName, void *Out, int32 Length, int32 *OutLength) {
    int32 Size = 0;
    int32 Result = Platform_RegistryGetType(Key, Type, ValueName, Out, Length, &Size);
    if (OutLength != nullptr) *OutLength = Size;
    return Result;
}

} // namespace

extern "C" int32 Registry_Init(void) {
    if (GlobalRegistry != nullptr) return TRUE;
    RegistryState *State = new (Memory_New(RegistryState)) RegistryState();
    Class_InitHeader(State, REGISTRY_CLASSID, DeleteState);
    GlobalRegistry = State;
    return TRUE;
}

extern "C" int32 Registry_Remove(void) {
    if (GlobalRegistry == nullptr) return TRUE;
    Class_CheckHandle(GlobalRegistry, REGISTRY_CLASSID);
    DeleteState(&GlobalRegistry);
    GlobalRegistry = nullptr;
    return TRUE;
}

extern "C" int32 Registry_WhitelistAdd(int32 ReadWrite, const char *Path) {
    Debug_CheckPointer(Path);
    Class_CheckHandle(GlobalRegistry, REGISTRY_CLASSID);
    std::string Entry;
    // A cut entry would admit every key that begins like it.
    if (!NormaliseEntry(Path, Entry)) {
        Log_Error("Registry whitelist path is too long (%s)\n", Path);
        return TRUE;
    }
    std::vector<std::string> &List = ReadWrite ? GlobalRegistry->ReadWrite : GlobalRegistry->ReadOnly;
    bool Present = false;
    for (const std::string &Known : List) Present = Present || String_CompareWithoutCase(Known.c_str(), Entry.c_str());
    if (!Present) List.push_back(Entry);
    Log_Debug("Added %s registry path to whitelist (%s)\n", ReadWrite ? "read write" : "read only", Entry.c_str());
    return TRUE;
}

extern "C" int32 Registry_AuthorizeOverride(Registry_AuthorizeFunc Function) {
    __atomic_store_n(&AuthorizeHook, Function, __ATOMIC_RELEASE);
    return TRUE;
}

extern "C" int32 Registry_Authorize(int32 Access, int32 Class, const char *Key) {
    Debug_CheckPointer(Key);
    if (!Authenticate_Enabled()) {
        Log_Debug("Skipping registry authentication (%d) (%d) (%s)\n", Access, Class, Key);
        return TRUE;
    }
    if (Registry_AuthorizeFunc Hook = __atomic_load_n(&AuthorizeHook, __ATOMIC_ACQUIRE))
        return Hook(Access, Class, Key);
    if (GlobalRegistry == nullptr) return FALSE;
    std::string Text = std::string(Registry_ConvertClass(Class)) + "/" + Key, Path;
    if (HasRelativeSegment(Key) || !NormaliseEntry(Text, Path)) {
        Log_Warning("Registry path refused (%d) (%s)\n", Access, Text.c_str());
        return FALSE;
    }
    if (MatchesAny(GlobalRegistry->ReadWrite, Path)) return TRUE;
    if (Access == REGISTRY_ACCESS_READ && MatchesAny(GlobalRegistry->ReadOnly, Path)) return TRUE;
    Log_Warning("Registry path not found in whitelist (%d) (%s)\n", Access, Path.c_str());
    return FALSE;
}

extern "C" int32 Registry_OpenReadOnly(void **Key, int32 View, int32 Class, const char *Path) {
    Debug_CheckPointer(Key);
    Debug_CheckPointer(Path);
    *Key = nullptr;
    if (!Registry_Authorize(REGISTRY_ACCESS_READ, Class, Path)) return FALSE;
    return Platform_RegistryOpen(Key, Class, View, Path);
}

extern "C" int32 Registry_Open(void **Key, int32 View, int32 Class, const char *Path) {
    Debug_CheckPointer(Key);
    Debug_CheckPointer(Path);
    *Key = nullptr;
    if (!Registry_Authorize(REGISTRY_ACCESS_READWRITE, Class, Path)) return FALSE;
    return Platform_RegistryOpen(Key, Class, View, Path);
}

extern "C" int32 Registry_Create(void **Key, int32 View, int32 Class, const char *Path) {
    Debug_CheckPointer(Key);
    Debug_CheckPointer(Path);
    *Key = nullptr;
    if (!Registry_Authorize(REGISTRY_ACCESS_READWRITE, Class, Path)) return FALSE;
    return Platform_RegistryCreate(Key, Class, View, Path);
}

extern "C" int32 Registry_AggressiveOpen(void **Key, int32 View, int32 Class, const char *Path) {
    if (Registry_DoesExist(View, Class, Path)) {
        if (Registry_Open(Key, View, Class, Path)) return TRUE;
        Log_Debug("Unable to open key '%s'\n", Path);
        return FALSE;
    }
    if (Registry_Create(Key, View, Class, Path)) return TRUE;
    Log_Debug("Unable to create key '%s'\n", Path);
    return FALSE;
}

extern "C" int32 Registry_DoesExist(int32 View, int32 Class, const char *Path) {
    void *Key = nullptr;
    if (!Registry_OpenReadOnly(&Key, View, Class, Path)) return FALSE;
    Platform_RegistryClose(&Key);
    return TRUE;
}

extern "C" int32 Registry_DeleteKey(int32 View, int32 Class, const char *Path) {
    Debug_CheckPointer(Path);
    // The subtree goes with the key: that takes write access to the key
    // itself. Relative segments are refused also when nothing is checked,
    // as the store refuses them everywhere else.
    if (HasRelativeSegment(Path) || !Registry_Authorize(REGISTRY_ACCESS_READWRITE, Class, Path)) return FALSE;
    char Key[MAX_PATH_SIZE];
    String_CopyLength(Key, Path, (int32)sizeof(Key));
    Path_FixSlash(Key, (int32)sizeof(Key), 0);
    char *Slash = strrchr(Key, '/');
    const char *Segment = Key;
    std::string Parent;
    if (Slash != nullptr) {
        Parent.assign(Key, (size_t)(Slash - Key));
        Segment = Slash + 1;
    }
    void *Handle = nullptr;
    if (!Platform_RegistryOpen(&Handle, Class, View, Parent.c_str())) return FALSE;
    int32 Deleted = Platform_RegistryDeleteKey(Handle, Segment);
    int32 Closed = Platform_RegistryClose(&Handle);
    return Deleted && Closed ? TRUE : FALSE;
}

extern "C" int32 Registry_Close(void **Key) { return Platform_RegistryClose(Key); }

extern "C" int32 Registry_EnumKey(void *Key, int32 Index, char *Name, int32 Length) {
    return Platform_RegistryEnumKey(Key, Index, Name, Length);
}

extern "C" int32 Registry_EnumValue(void *Key, int32 Index, char *Name, int32 NameLength, void *Data,
                                    int32 DataLength, int32 *Size, int32 *Type) {
    return Platform_RegistryEnumValue(Key, Index, Name, NameLength, Data, DataLength, Size, Type);
}

extern "C" int32 Registry_GetSize(void *Key, const char *ValueName, int32 *Size) {
    return Platform_RegistryGetSize(Key, ValueName, Size);
}

extern "C" int32 Registry_DeleteValue(void *Key, const char *ValueName) {
    return Platform_RegistryDeleteValue(Key, ValueName);
}

extern "C" int32 Registry_SetSecurity(void *Key, const char *Security) {
    return Platform_RegistrySetSecurity(Key, Security);
}

extern "C" int32 Registry_SetChar(void *Key, const char *ValueName, const char *Text) {
    Debug_CheckPointer(Text);
    return Platform_RegistrySetType(Key, PLATFORM_REGISTRYTYPE_STRING, ValueName, Text, (int32)strlen(Text));
}

extern "C" int32 Registry_GetChar(void *Key, const char *ValueName, char *Out, int32 Length) {
    return TypedGet(Key, PLATFORM_REGISTRYTYPE_STRING, ValueName, Out, Length, nullptr);
}

extern "C" int32 Registry_SetExpandChar(void *Key, const char *ValueName, const char *Text) {
    Debug_CheckPointer(Text);
    return Platform_RegistrySetType(Key, PLATFORM_REGISTRYTYPE_EXPANDSTRING, ValueName, Text, (int32)strlen(Text));
}

extern "C" int32 Registry_GetExpandChar(void *Key, const char *ValueName, char *Out, int32 Length) {
    return TypedGet(Key, PLATFORM_REGISTRYTYPE_EXPANDSTRING, ValueName, Out, Length, nullptr);
}

extern "C" int32 Registry_GetMultiChar(void *Key, const char *ValueName, char *Out, int32 Length) {
    return TypedGet(Key, PLATFORM_REGISTRYTYPE_MULTISTRING, ValueName, Out, Length, nullptr);
}

extern "C" int32 Registry_SetInt32(void *Key, const char *ValueName, int32 Value) {
    return Platform_RegistrySetType(Key, PLATFORM_REGISTRYTYPE_INT32, ValueName, &Value, 4);
}

extern "C" int32 Registry_GetInt32(void *Key, const char *ValueName, int32 *Out) {
    Debug_CheckPointer(Out);
    return TypedGet(Key, PLATFORM_REGISTRYTYPE_INT32, ValueName, Out, 4, nullptr);
}

extern "C" int32 Registry_SetInt64(void *Key, const char *ValueName, int64 Value) {
    return Platform_RegistrySetType(Key, PLATFORM_REGISTRYTYPE_INT64, ValueName, &Value, 8);
}

extern "C" int32 Registry_GetInt64(void *Key, const char *ValueName, int64 *Out) {
    Debug_CheckPointer(Out);
    return TypedGet(Key, PLATFORM_REGISTRYTYPE_INT64, ValueName, Out, 8, nullptr);
}

extern "C" int32 Registry_SetData(void *Key, const char *ValueName, const void *Data, int32 Length) {
    return Platform_RegistrySetType(Key, PLATFORM_REGISTRYTYPE_BINARY, ValueName, Data, Length);
}

extern "C" int32 Registry_GetData(void *Key, const char *ValueName, void *Out, int32 Length, int32 *OutLength) {
    return TypedGet(Key, PLATFORM_REGISTRYTYPE_BINARY, ValueName, Out, Length, OutLength);
}

extern "C" const char *Registry_ConvertClass(int32 Value) {
    Debug_Assert(Value >= 0 && Value <= PLATFORM_REGISTRYCLASS_DESKTOPUSER, "Registry class out side of range");
    return ClassNames[Value];
}

extern "C" const char *Registry_ConvertView(int32 Value) {
    Debug_Assert(Value >= 0 && Value <= PLATFORM_REGISTRYVIEW_64BIT, "Registry view out side of range");
    return ViewNames[Value];
}

extern "C" int32 Registry_ConvertClassFromString(const char *Text) {
    if (Text == nullptr) return PLATFORM_REGISTRYCLASS_UNKNOWN;
    for (int32 Index = 0; Index <= PLATFORM_REGISTRYCLASS_DESKTOPUSER; Index++)
        if (String_CompareWithoutCase(Text, ClassNames[Index])) return Index;
    return PLATFORM_REGISTRYCLASS_UNKNOWN;
}

extern "C" int32 Registry_ConvertViewFromString(const char *Text) {
    if (Text == nullptr) return PLATFORM_REGISTRYVIEW_DEFAULT;
    for (int32 Index = 0; Index <= PLATFORM_REGISTRYVIEW_64BIT; Index++)
        if (String_CompareWithoutCase(Text, ViewNames[Index])) return Index;
    return PLATFORM_REGISTRYVIEW_DEFAULT;
}
