// Executable information: whether a file is an executable or installer
// package this system reads (PE, Mach-O, flat package, ELF, tested in that
// order), the version values it carries ("FileVersion", "ProductVersion",
// "ProductName", "LegalCopyright", "CompanyName", "CommandLine" and any other
// key of its version resource, ".version.json" section or bundle
// Info.plist), whether its code signature is sound, and the data store
// stamped into it (executable_data_store.cpp).
//
// The values of the running module (the program file, or the executable its
// "skin" switch names) are cached on first use; module state belongs to the
// main thread.
#pragma once

#include "crypto/trust/cert_store.h"
#include "runtime/containers/dictionary.h"
#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

// 0 when the path does not exist; 1 for a PE image, a Mach-O file, a flat
// installer package or an ELF file.
int32 Executable_IsValid(const char *Path);
// 1 when a PE image carries an attribute certificate or a Mach-O file a CMS
// signature blob.
int32 Executable_HasCertificate(const char *Path);
// The code signature against Store: a PE image by Authenticode, a Mach-O file
// by its CMS signature and page hashes, a flat package by its table of
// contents' signature and checksums. ELF files carry no signature: a valid
// one is authentic without any check. Anything else (a folder, a disk
// image, no file) is not.
int32 Executable_Authenticate(CertStoreInterface *Store, const char *Path);

// Fills Dict with the file's info values: an application bundle, a PE
// image's version resource or an ELF file's ".version.json". Reserved is not
// used. 1 when the reader succeeded.
int32 Executable_GetInfoDictionary(const char *Path, void *Reserved, Dictionary *Dict);
// Out cleared, then the value of Key (cut to Size); 1 when found. A null or
// empty path means the running module, answered from the cache.
int32 Executable_GetInfoValue(const char *Path, const char *Key, char *Out, int32 Size);
int32 Executable_GetFileVersion(const char *Path, char *Text, int32 Size);
int32 Executable_GetProductVersion(const char *Path, char *Text, int32 Size);
int32 Executable_GetProductName(const char *Path, char *Text, int32 Size);
int32 Executable_GetLegalCopyright(const char *Path, char *Text, int32 Size);
int32 Executable_GetCompanyName(const char *Path, char *Text, int32 Size);
int32 Executable_GetCommandLine(const char *Path, char *Text, int32 Size);

// Makes the cache from the running program's file, once; 1.
int32 Executable_Init(void);
// Path (at most 320 bytes) stands for the running module from now on; the
// cache is refilled from it. 1.
int32 Executable_SetCurrentModuleAppPath(const char *Path);
int32 Executable_GetCurrentModuleAppPath(char *Out, int32 Size);
// Puts the cache made at start-up back; 1.
int32 Executable_Shutdown(void);
// Releases the cache; 1.
int32 Executable_Remove(void);

// Macro provider: "FileVersion", "ProductVersion", "CompanyName",
// "ProductName", names beginning with "Copyright" (the LegalCopyright value),
// "DataStore" and "FileDataStore", of the file the argument names (none: the
// running module). 1 for those keys, found or not; 0 for any other.
int32 Executable_ExpandKey(void *User, const char *Key, const char *Argument, char *Out, int32 Size);

// The data store stamped into the file at Path (null: the running program,
// or the ".dmg" disk image it was started from): a PE image's certificate
// table, a disk image's region named in its "koly" trailer, or an ELF
// file's ".datastore" section, holding either "TQXDATASTORE" and a text of
// at most 4,096 bytes, or "TQXDS" with version, capacity, length, inflated
// length (version 3 on), CRC-32 and data area, all big-endian. 1 with a new
// zero-terminated text and its length; 0 (null, 0) when the file holds no
// sound store. Give the text back through Executable_ReleaseDataStore. A
// text past EXECUTABLE_DATASTORE_MOST bytes, or one the process's memory
// budget cannot hold, is refused with a line saying why.
#define EXECUTABLE_DATASTORE_MOST (4 * 1024 * 1024)
int32 Executable_GetDataStore(const char *Path, char **Text, int32 *Length);
// Frees the text and clears both; Path is not used. 1.
int32 Executable_ReleaseDataStore(const char *Path, char **Text, int32 *Length);

RUNTIME_EXTERN_C_END

#ifdef __cplusplus
#include <functional>
#include <string>

// A file to search for a data store: its size and a reader of whole ranges
// (false when the range cannot be read whole).
struct ExecutableSource {
    uint64 Size;
    std::function<bool(uint64 Offset, void *Out, size_t Length)> Read;
};
// The store's text, when the source holds a sound one.
bool ExecutableDataStore_Find(const ExecutableSource &File, std::string &Text);
#endif
