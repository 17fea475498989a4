// Registry helpers by text and the {Registry:...} macro. Each helper opens
// and closes its own key and turns every failure into 0 (and, for reads,
// the caller's default).
#include <inttypes.h>
#include <string.h>

#include <string>

#include "platform/posix/platform_registry.h"
#include "platform/registry.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/text/string.h"
#include "runtime/text/string_print.h"

namespace {

// The class number of a text naming classes 1 to 6, else 0.
int32 ClassOf(const char *Text) { return Registry_ConvertClassFromString(Text); }

// The view number of a text naming one ("default", "32", "64", without
// case), else -1: a text that names no view is refused, never read as the
// default one.
int32 ViewOf(const char *Text) {
    if (Text == nullptr) return -1;
    for (const char *Name : {"default", "32", "64"})
        if (String_CompareWithoutCase(Text, Name)) return Registry_ConvertViewFromString(Name);
    Log_Debug("Registry view refused (%.64s)\n", Text);
    return -1;
}

// The class and view numbers; false when either text names none.
bool Known(const char *View, const char *Class, int32 &ViewNumber, int32 &ClassNumber) {
    ViewNumber = ViewOf(View);
    ClassNumber = ClassOf(Class);
    return ViewNumber >= 0 && ClassNumber != PLATFORM_REGISTRYCLASS_UNKNOWN;
}

void CopyDefault(const char *Default, char *Out, int32 Length) {
    if (Out != nullptr && Length > 0) String_CopyLength(Out, Default != nullptr ? Default : "", Length);
}

// Create, security, one typed write, close: the write counts only when the
// key was also stored.
template <typename Write>
int32 SetHelper(const char *View, const char *Security, const char *Class, const char *Path, Write &&Typed) {
    Debug_CheckPointer(Path);
    int32 Number, Which;
    if (!Known(View, Class, Which, Number)) return FALSE;
    void *Key = nullptr;
    if (!Registry_Create(&Key, Which, Number, Path)) return FALSE;
    if (Security != nullptr && !String_CompareWithoutCase(Security, "default")) Registry_SetSecurity(Key, Security);
    int32 Written = Typed(Key);
    int32 Closed = Registry_Close(&Key);
    return Written && Closed ? TRUE : FALSE;
}

// Opens the key for reading; false when the class text names no class.
bool OpenForReading(const char *View, const char *Class, const char *Path, void **Key) {
    int32 Number, Which;
    return Known(View, Class, Which, Number) && Registry_OpenReadOnly(Key, Which, Number, Path);
}

} // namespace

extern "C" int32 Registry_HelperCreateKey(const char *View, const char *Class, const char *Path) {
    int32 Number, Which;
    if (!Known(View, Class, Which, Number)) return FALSE;
    if (Registry_DoesExist(Which, Number, Path)) return TRUE;
    void *Key = nullptr;
    if (!Registry_AggressiveOpen(&Key, Which, Number, Path)) return FALSE;
    return Registry_Close(&Key);
}

extern "C" int32 Registry_HelperDoesExist(const char *View, const char *Class, const char *Path) {
    int32 Number, Which;
    if (!Known(View, Class, Which, Number)) return FALSE;
    return Registry_DoesExist(Which, Number, Path);
}

extern "C" int32 Registry_HelperDeleteKey(const char *View, const char *Class, const char *Path) {
    int32 Number, Which;
    if (!Known(View, Class, Which, Number) || !Registry_DoesExist(Which, Number, Path)) return FALSE;
    return Registry_DeleteKey(Which, Number, Path);
}

extern "C" int32 Registry_HelperDeleteValue(const char *View, const char *Class, const char *Path,
                                           const char *ValueName) {
    Debug_CheckPointer(ValueName);
    int32 Number, Which;
    if (!Known(View, Class, Which, Number) || !Registry_DoesExist(Which, Number, Path)) return FALSE;
    void *Key = nullptr;
    if (!Registry_Open(&Key, Which, Number, Path)) return FALSE;
    int32 Deleted = Platform_RegistryDeleteValue(Key, ValueName);
    int32 Closed = Registry_Close(&Key);
    return Deleted && Closed ? TRUE : FALSE;
}

extern "C" int32 Registry_HelperSetString(const char *View, const char *Security, const char *Class,
                                         const char *Path, const char *ValueName, const char *Text) {
    return SetHelper(View, Security, Class, Path, [&](void *Key) { return Registry_SetChar(Key, ValueName, Text); });
}

extern "C" int32 Registry_HelperSetInt32(const char *View, const char *Security, const char *Class, const char *Path,
                                        const char *ValueName, int32 Value) {
    return SetHelper(View, Security, Class, Path, [&](void *Key) { return Registry_SetInt32(Key, ValueName, Value); });
}

extern "C" int32 Registry_HelperSetInt64(const char *View, const char *Security, const char *Class, const char *Path,
                                        const char *ValueName, int64 Value) {
    return SetHelper(View, Security, Class, Path, [&](void *Key) { return Registry_SetInt64(Key, ValueName, Value); });
}

extern "C" int32 Registry_HelperSetData(const char *View, const char *Security, const char *Class, const char *Path,
                                       const char *ValueName, const void *Data, int32 Length) {
    return SetHelper(View, Security, Class, Path,
                     [&](void *Key) { return Registry_SetData(Key, ValueName, Data, Length); });
}

extern "C" int32 Registry_HelperGetString(const char *View, const char *Class, const char *Path,
                                         const char *ValueName, const char *Default, char *Out, int32 Length) {
    return Registry_HelperGetKeyValue(View, Class, Path, ValueName, Default, Out, Length);
}

extern "C" int32 Registry_HelperGetKeyValue(const char *View, const char *Class, const char *Path,
                                           const char *ValueName, const char *Default, char *Out, int32 Length) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(ValueName);
    Debug_CheckPointer(Out);
    void *Key = nullptr;
    int32 Found = FALSE;
    if (Length > 0 && OpenForReading(View, Class, Path, &Key)) {
        int64 Wide = 0;
        int32 Narrow = 0;
        if (Registry_GetChar(Key, ValueName, Out, Length) || Registry_GetMultiChar(Key, ValueName, Out, Length) ||
            Registry_GetExpandChar(Key, ValueName, Out, Length))
            Found = TRUE;
        else if (Registry_GetInt64(Key, ValueName, &Wide))
            Found = String_Print(Out, Length, "%lld", (long long)Wide) >= 0;
        else if (Registry_GetInt32(Key, ValueName, &Narrow))
            Found = String_Print(Out, Length, "%d", Narrow) >= 0;
        Registry_Close(&Key);
    }
    if (!Found) CopyDefault(Default, Out, Length);
    return Found ? TRUE : FALSE;
}

extern "C" int32 Registry_HelperGetInt32(const char *View, const char *Class, const char *Path,
                                        const char *ValueName, int32 Default, int32 *Out) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Out);
    void *Key = nullptr;
    int32 Found = FALSE;
    if (OpenForReading(View, Class, Path, &Key)) {
        Found = Registry_GetInt32(Key, ValueName, Out);
        Registry_Close(&Key);
    }
    if (!Found) *Out = Default;
    return Found;
}

extern "C" int32 Registry_HelperGetInt64(const char *View, const char *Class, const char *Path,
                                        const char *ValueName, int64 Default, int64 *Out) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Out);
    void *Key = nullptr;
    int32 Found = FALSE;
    if (OpenForReading(View, Class, Path, &Key)) {
        int32 Narrow = 0;
        Found = Registry_GetInt64(Key, ValueName, Out);
        if (!Found && Registry_GetInt32(Key, ValueName, &Narrow)) {
            *Out = Narrow;
            Found = TRUE;
        }
        Registry_Close(&Key);
    }
    if (!Found) *Out = Default;
    return Found;
}

extern "C" int32 Registry_HelperGetData(const char *View, const char *Class, const char *Path,
                                       const char *ValueName, const void *Default, int32 DefaultLength, uint8 **Out,
                                       int32 *OutLength) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(ValueName);
    Debug_CheckPointer(Out);
    Debug_CheckPointer(OutLength);
    *Out = nullptr;
    *OutLength = 0;
    void *Key = nullptr;
    if (OpenForReading(View, Class, Path, &Key)) {
        int32 Size = 0, Read = 0;
        if (Registry_GetData(Key, ValueName, nullptr, 0, &Size) && Size > 0 && Size < INT32_MAX) {
            auto *Buffer = static_cast<uint8 *>(Memory_AllocZero(Size + 1));
            if (Registry_GetData(Key, ValueName, Buffer, Size, &Read) && Read == Size) {
                *Out = Buffer;
                *OutLength = Size;
            } else {
                Memory_Free(Buffer, Size + 1);
            }
        }
        Registry_Close(&Key);
    }
    if (*Out != nullptr) return TRUE;
    if (Default != nullptr && DefaultLength >= 1) {
        *Out = static_cast<uint8 *>(Memory_AllocZero(DefaultLength + 1));
        memcpy(*Out, Default, (size_t)DefaultLength);
        *OutLength = DefaultLength;
    }
    return FALSE;
}

extern "C" int32 Registry_HelperReleaseData(const char *View, const char *Class, const char *Path,
                                           const char *ValueName, const void *Default, int32 DefaultLength,
                                           uint8 **Out, int32 *OutLength) {
    (void)View, (void)Class, (void)Path, (void)ValueName, (void)Default, (void)DefaultLength;
    Debug_CheckPointer(Out);
    Debug_CheckPointer(OutLength);
    if (*Out != nullptr) Memory_Free(*Out, *OutLength + 1);
    *Out = nullptr;
    *OutLength = 0;
    return TRUE;
}

extern "C" int32 Registry_ExpandKey(void *User, const char *Name, const char *Argument, char *Output, int32 Size) {
    (void)User;
    Debug_CheckPointer(Name);
    if (!String_CompareWithoutCase(Name, "Registry")) return FALSE;
    // Cleared first: a macro without its fields expands to nothing, not to
    // whatever the buffer held.
    if (Output != nullptr && Size > 0) Output[0] = 0;
    if (Argument == nullptr || Output == nullptr || Size < 1) return TRUE;
    std::string Text(Argument);
    size_t First = Text.find(',');
    if (First == std::string::npos) return TRUE;
    size_t Second = Text.find(',', First + 1);
    if (Second == std::string::npos) return TRUE;
    std::string View = Text.substr(0, First), Class = Text.substr(First + 1, Second - First - 1);
    std::string Rest = Text.substr(Second + 1), Key = "/", ValueName = Rest;
    size_t Split = Rest.rfind('/');
    if (Split == std::string::npos) Split = Rest.rfind('\\');
    if (Split != std::string::npos) {
        Key = Rest.substr(0, Split);
        ValueName = Rest.substr(Split + 1);
    }
    Registry_HelperGetKeyValue(View.c_str(), Class.c_str(), Key.c_str(), ValueName.c_str(), "", Output, Size);
    return TRUE;
}
