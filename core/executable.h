// Version information of executables: the values "FileVersion",
// "ProductVersion", "ProductName" and "CompanyName" that the log header prints
// and the module log directory uses.
//
// The readers of executable formats are not part of this tree yet, so no file
// is known to carry these values: every query answers 0 with an empty text,
// and the callers leave out what they would have shown. Only the region of a
// file that may hold a data store is found (executable_data_store.cpp).
#pragma once

#include "core/crypto/cert_store.h"
#include "core/types.h"

RUNTIME_EXTERN_C_BEGIN

// The code signature of an executable, library or package file against the
// store. Only ELF files are read here, and they carry no signature: a file
// with a whole ELF file header is authentic, any other file (or a folder, or
// no file) is not. The store is not asked.
int32 Executable_Authenticate(CertStoreInterface *Store, const char *Path);

// Path null: the running executable. 1 and the value copied into Text (cut to
// Size) when the file carries it; else 0 and an empty text.
int32 Executable_GetFileVersion(const char *Path, char *Text, int32 Size);
int32 Executable_GetProductVersion(const char *Path, char *Text, int32 Size);
int32 Executable_GetProductName(const char *Path, char *Text, int32 Size);
int32 Executable_GetCompanyName(const char *Path, char *Text, int32 Size);
// Releases what was cached about the running executable; 1.
int32 Executable_Shutdown(void);

// The data store stamped into the file at Path (null: the running program,
// or the ".dmg" disk image it was started from): a PE image's certificate
// table, a disk image's region named in its "koly" trailer, or an ELF
// file's ".datastore" section, holding either "TQXDATASTORE" and a text of
// at most 4,096 bytes, or "TQXDS" with version, capacity, length, inflated
// length (version 3 on), CRC-32 and data area, all big-endian. 1 with a new
// zero-terminated text and its length; 0 (null, 0) when the file holds no
// sound store. Give the text back through Executable_ReleaseDataStore.
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
