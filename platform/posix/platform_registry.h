// Registry keys and values kept in the application's preferences (see
// preference_store.h for where they live). A key path "A/B/C" names the
// top-level preference A, a dictionary, and the dictionaries B and C nested
// in it; values live in the innermost one. "\" separates as "/" does, empty
// segments are skipped, and "." and ".." segments are refused (they name no
// key). Class and view are not used by this store.
//
// A key handle works on its own copy of the top-level preference; changes
// reach the file when the handle closes, which applies each value and subkey
// the handle set or removed to what the file holds then, under the writers'
// lock (names other processes wrote meanwhile, in this key or elsewhere,
// stay as they left them). A handle
// opened on the empty path is a root handle over a copy of all preferences:
// it has no current dictionary, and its deletions go to the file at once.
//
// Value types: 1 string, 2 expandable string, 3 data, 4 32-bit integer,
// 7 multi-string, 11 64-bit integer. Strings are stored as preference
// strings (they must be valid UTF-8 without control characters other than
// tab, line feed and carriage return), data as data, both integer types as
// integers. Read back, a string is type 1 and data type 3; an integer, a
// Boolean or a date is type 4 when it fits 32 bits, and any of them reads as
// type 11. A name held by a subkey is never overwritten by a value, nor a
// value by a new subkey.
#pragma once

#include "runtime/types.h"

#define PLATFORMREGISTRY_CLASSID 0x77f3fc3du

#define PLATFORM_REGISTRYTYPE_STRING 1
#define PLATFORM_REGISTRYTYPE_EXPANDSTRING 2
#define PLATFORM_REGISTRYTYPE_BINARY 3
#define PLATFORM_REGISTRYTYPE_INT32 4
#define PLATFORM_REGISTRYTYPE_MULTISTRING 7
#define PLATFORM_REGISTRYTYPE_INT64 11

RUNTIME_EXTERN_C_BEGIN

int32 Platform_RegistryOpen(void **Handle, int32 Class, int32 View, const char *Path);
int32 Platform_RegistryCreate(void **Handle, int32 Class, int32 View, const char *Path);
// 0 when a changed key could not be written back (the handle is freed all the same).
int32 Platform_RegistryClose(void **Handle);
int32 Platform_RegistrySetSecurity(void *Handle, const char *Descriptor);

int32 Platform_RegistrySetType(void *Handle, int32 Type, const char *Name, const void *Data, int32 Length);
// With Buffer null (Length 0) the size the value needs is answered without
// copying. Strings are always terminated (cut to Length - 1 bytes) and their
// size counts the terminator.
int32 Platform_RegistryGetType(void *Handle, int32 Type, const char *Name, void *Buffer, int32 Length,
                               int32 *Size);
int32 Platform_RegistryGetSize(void *Handle, const char *Name, int32 *Size);
int32 Platform_RegistryDeleteValue(void *Handle, const char *Name);
int32 Platform_RegistryDeleteKey(void *Handle, const char *Name);

// Index 0 rebuilds the name lists; the end is 0 for keys and an empty name
// (answer 1) for values.
int32 Platform_RegistryEnumKey(void *Handle, int32 Index, char *Buffer, int32 Length);
int32 Platform_RegistryEnumValue(void *Handle, int32 Index, char *NameBuffer, int32 NameLength, void *DataBuffer,
                                 int32 DataLength, int32 *Size, int32 *Type);

RUNTIME_EXTERN_C_END
