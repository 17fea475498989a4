// ELF files: recognised by their identification bytes (32 or 64 bits, either
// byte order), sections found by name, version values from the JSON object of
// the ".version.json" section, and the ".datastore" section that may hold the
// data store. ELF files carry no code signature here.
#pragma once

#include <elf.h>

#include "runtime/containers/dictionary.h"
#include "runtime/streams/stream.h"
#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

// Reads the file header into Header32 or Header64 by the file's class (either
// may be null; both are cleared first). Of a big-endian file's header only
// the section-table fields (e_shoff, e_shentsize, e_shnum, e_shstrndx) are
// turned into the host's order. The class (1 or 2), or 0 when not ELF.
int32 ELFFile_GetHeaders(StreamStruct *Stream, Elf32_Ehdr *Header32, Elf64_Ehdr *Header64);
// Reads the next section header at the stream's position, in the class and
// byte order that Header (the Elf32_Ehdr or Elf64_Ehdr filled above) names
// in its identification bytes, into Section32 or Section64; of a big-endian
// file's entry only sh_name, sh_offset and sh_size are turned. 1 on success.
int32 ELFFile_ReadSection(StreamStruct *Stream, const void *Header, Elf32_Shdr *Section32, Elf64_Shdr *Section64);

// 1 when the file (not a folder) starts with a whole ELF file header.
int32 ELFFile_IsValid(const char *Path);
int32 ELFFile_IsValidStream(StreamStruct *Stream);
// The section of that name (without case): its class (1 or 2) with its file
// offset and size; else 0 with both cleared. Of each section's name only the
// bytes Name has and the one after are read, whatever the name table holds.
int32 ELFFile_GetSectionOffset(StreamStruct *Stream, const char *Name, uint64 *Offset, uint64 *Size);
// The ".datastore" section when it has a nonzero size; else 0 with both cleared.
int32 ELFFile_GetDataStoreOffset(StreamStruct *Stream, uint64 *Offset, uint64 *Size);
// Merges the members of ".version.json"'s top-level object into Dict (made
// case-insensitive); 0 without the section or when it does not parse.
int32 ELFFile_GetInfoDictionary(const char *Path, Dictionary *Dict);
// Out cleared, then the value of Key (without case), cut to Size; 1 when found.
int32 ELFFile_GetInfoValue(const char *Path, const char *Key, char *Out, int32 Size);

RUNTIME_EXTERN_C_END

#ifdef __cplusplus
#include <string_view>

#include "content/executable_file.h"

// The file's class (1: 32-bit, 2: 64-bit) or 0 when it is not ELF.
int ElfFile_Class(const ExecutableSource &File);
// The first section named Name (without case); its class or 0.
int ElfFile_FindSection(const ExecutableSource &File, std::string_view Name, uint64 &Offset, uint64 &Size);
// Dict filled from the file's ".version.json".
bool ElfFile_ReadInfo(const ExecutableSource &File, Dictionary *Dict);
#endif
