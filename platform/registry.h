// Registry: the system's key/value store for settings outside its own files,
// addressed as a hierarchical registry is: a view, a class, a key path of
// segments separated by "/" (or "\") and a value name. The platform layer
// keeps it in the application's preferences (platform/posix/platform_registry.h);
// this module adds what sits above the store:
//
// - authorisation of every open against two whitelists of path prefixes
//   ("read only" and "read write"), each entry "class/key/" with a trailing
//   separator, compared without case; a key with a "." or ".." segment is
//   refused outright, since the store would read it differently from the
//   whitelist;
// - typed reads and writes on open keys;
// - text helpers that take the view and class by name and answer defaults;
// - the macro {Registry:view,class,key/valueName}.
//
// Deleting a key needs write access to that key. The module state lives from
// Registry_Init to Registry_Remove on the main thread; the whitelists are
// filled before use.
#pragma once

#include "runtime/containers/dictionary.h"
#include "runtime/types.h"

#define REGISTRY_CLASSID 0x0d9c00a3u

#define PLATFORM_REGISTRYVIEW_DEFAULT 0
#define PLATFORM_REGISTRYVIEW_32BIT 1
#define PLATFORM_REGISTRYVIEW_64BIT 2

#define PLATFORM_REGISTRYCLASS_UNKNOWN 0
#define PLATFORM_REGISTRYCLASS_USER 1
#define PLATFORM_REGISTRYCLASS_PERFORMANCE 2
#define PLATFORM_REGISTRYCLASS_MACHINE 3
#define PLATFORM_REGISTRYCLASS_ROOT 4
#define PLATFORM_REGISTRYCLASS_CONFIG 5
#define PLATFORM_REGISTRYCLASS_DESKTOPUSER 6

// Access of Registry_Authorize.
#define REGISTRY_ACCESS_READ 0
#define REGISTRY_ACCESS_READWRITE 1

RUNTIME_EXTERN_C_BEGIN

typedef int32 (*Registry_AuthorizeFunc)(int32 Access, int32 Class, const char *Key);

int32 Registry_Init(void);
int32 Registry_Remove(void);
int32 Registry_WhitelistAdd(int32 ReadWrite, const char *Path);
int32 Registry_AuthorizeOverride(Registry_AuthorizeFunc Function);
int32 Registry_Authorize(int32 Access, int32 Class, const char *Key);

// Keys by number. An open key is a platform key handle (void *).
int32 Registry_OpenReadOnly(void **Key, int32 View, int32 Class, const char *Path);
int32 Registry_Open(void **Key, int32 View, int32 Class, const char *Path);
int32 Registry_Create(void **Key, int32 View, int32 Class, const char *Path);
int32 Registry_AggressiveOpen(void **Key, int32 View, int32 Class, const char *Path);
int32 Registry_DoesExist(int32 View, int32 Class, const char *Path);
int32 Registry_DeleteKey(int32 View, int32 Class, const char *Path);
int32 Registry_Close(void **Key);
int32 Registry_EnumKey(void *Key, int32 Index, char *Name, int32 Length);
int32 Registry_EnumValue(void *Key, int32 Index, char *Name, int32 NameLength, void *Data, int32 DataLength,
                         int32 *Size, int32 *Type);
int32 Registry_GetSize(void *Key, const char *ValueName, int32 *Size);
int32 Registry_DeleteValue(void *Key, const char *ValueName);
int32 Registry_SetSecurity(void *Key, const char *Security);

// Typed values on an open key.
int32 Registry_SetChar(void *Key, const char *ValueName, const char *Text);
int32 Registry_GetChar(void *Key, const char *ValueName, char *Out, int32 Length);
int32 Registry_SetExpandChar(void *Key, const char *ValueName, const char *Text);
int32 Registry_GetExpandChar(void *Key, const char *ValueName, char *Out, int32 Length);
int32 Registry_GetMultiChar(void *Key, const char *ValueName, char *Out, int32 Length);
int32 Registry_SetInt32(void *Key, const char *ValueName, int32 Value);
int32 Registry_GetInt32(void *Key, const char *ValueName, int32 *Out);
int32 Registry_SetInt64(void *Key, const char *ValueName, int64 Value);
int32 Registry_GetInt64(void *Key, const char *ValueName, int64 *Out);
int32 Registry_SetData(void *Key, const char *ValueName, const void *Data, int32 Length);
int32 Registry_GetData(void *Key, const char *ValueName, void *Out, int32 Length, int32 *OutLength);

// Names and numbers. A number out of range is a fatal stop; an unknown
// text gives 0.
const char *Registry_ConvertClass(int32 Class);
const char *Registry_ConvertView(int32 View);
int32 Registry_ConvertClassFromString(const char *Text);
int32 Registry_ConvertViewFromString(const char *Text);

// Helpers by text: each opens and closes its own key. The class text must
// name classes 1 to 6 and the view text a view ("default", "32" or "64",
// without case); anything else fails at once (default answered), touching
// nothing.
int32 Registry_HelperCreateKey(const char *View, const char *Class, const char *Path);
int32 Registry_HelperDoesExist(const char *View, const char *Class, const char *Path);
int32 Registry_HelperDeleteKey(const char *View, const char *Class, const char *Path);
int32 Registry_HelperDeleteValue(const char *View, const char *Class, const char *Path, const char *ValueName);
int32 Registry_HelperSetString(const char *View, const char *Security, const char *Class, const char *Path,
                               const char *ValueName, const char *Text);
int32 Registry_HelperSetInt32(const char *View, const char *Security, const char *Class, const char *Path,
                              const char *ValueName, int32 Value);
int32 Registry_HelperSetInt64(const char *View, const char *Security, const char *Class, const char *Path,
                              const char *ValueName, int64 Value);
int32 Registry_HelperSetData(const char *View, const char *Security, const char *Class, const char *Path,
                             const char *ValueName, const void *Data, int32 Length);
int32 Registry_HelperGetString(const char *View, const char *Class, const char *Path, const char *ValueName,
                               const char *Default, char *Out, int32 Length);
int32 Registry_HelperGetKeyValue(const char *View, const char *Class, const char *Path, const char *ValueName,
                                 const char *Default, char *Out, int32 Length);
int32 Registry_HelperGetInt32(const char *View, const char *Class, const char *Path, const char *ValueName,
                              int32 Default, int32 *Out);
int32 Registry_HelperGetInt64(const char *View, const char *Class, const char *Path, const char *ValueName,
                              int64 Default, int64 *Out);
// Out is a new runtime block of *OutLength + 1 bytes (zero after the data),
// also for the default; release it with Registry_HelperReleaseData.
int32 Registry_HelperGetData(const char *View, const char *Class, const char *Path, const char *ValueName,
                             const void *Default, int32 DefaultLength, uint8 **Out, int32 *OutLength);
int32 Registry_HelperReleaseData(const char *View, const char *Class, const char *Path, const char *ValueName,
                                 const void *Default, int32 DefaultLength, uint8 **Out, int32 *OutLength);

// Macro provider for {Registry:view,class,key/valueName}.
int32 Registry_ExpandKey(void *User, const char *Name, const char *Argument, char *Output, int32 Size);

RUNTIME_EXTERN_C_END
