// PE images (PE32 and PE32+): recognised by their DOS and NT headers; the
// attribute certificate table of the security directory (which also holds the
// data store); the Authenticode image digest; and the version resource of the
// ".rsrc" section as info values ("FileVersion", "ProductVersion" and every
// string of every string table). All fields are little-endian.
#pragma once

#include "crypto/digests/hash.h"
#include "crypto/trust/cert_store.h"
#include "runtime/containers/dictionary.h"
#include "runtime/streams/stream.h"
#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

// The NT headers as the file holds them (little-endian, the host's order
// here): the "PE\0\0" signature, the COFF file header and the optional
// header of a PE32 (224 bytes) or PE32+ (240 bytes) image.
typedef struct PEFileHeader {
    uint16 Machine, NumberOfSections;
    uint32 TimeDateStamp, PointerToSymbolTable, NumberOfSymbols;
    uint16 SizeOfOptionalHeader, Characteristics;
} PEFileHeader;

typedef struct PEDataDirectory {
    uint32 VirtualAddress, Size;
} PEDataDirectory;

#define PE_DIRECTORY_COUNT 16
#define PE_DIRECTORY_SECURITY 4

typedef struct PEOptionalHeader32 {
    uint16 Magic;
    uint8 MajorLinkerVersion, MinorLinkerVersion;
    uint32 SizeOfCode, SizeOfInitializedData, SizeOfUninitializedData, AddressOfEntryPoint, BaseOfCode, BaseOfData;
    uint32 ImageBase, SectionAlignment, FileAlignment;
    uint16 MajorOperatingSystemVersion, MinorOperatingSystemVersion, MajorImageVersion, MinorImageVersion;
    uint16 MajorSubsystemVersion, MinorSubsystemVersion;
    uint32 Win32VersionValue, SizeOfImage, SizeOfHeaders, CheckSum;
    uint16 Subsystem, DllCharacteristics;
    uint32 SizeOfStackReserve, SizeOfStackCommit, SizeOfHeapReserve, SizeOfHeapCommit;
    uint32 LoaderFlags, NumberOfRvaAndSizes;
    PEDataDirectory DataDirectory[PE_DIRECTORY_COUNT];
} PEOptionalHeader32;

typedef struct PEOptionalHeader64 {
    uint16 Magic;
    uint8 MajorLinkerVersion, MinorLinkerVersion;
    uint32 SizeOfCode, SizeOfInitializedData, SizeOfUninitializedData, AddressOfEntryPoint, BaseOfCode;
    uint64 ImageBase;
    uint32 SectionAlignment, FileAlignment;
    uint16 MajorOperatingSystemVersion, MinorOperatingSystemVersion, MajorImageVersion, MinorImageVersion;
    uint16 MajorSubsystemVersion, MinorSubsystemVersion;
    uint32 Win32VersionValue, SizeOfImage, SizeOfHeaders, CheckSum;
    uint16 Subsystem, DllCharacteristics;
    uint64 SizeOfStackReserve, SizeOfStackCommit, SizeOfHeapReserve, SizeOfHeapCommit;
    uint32 LoaderFlags, NumberOfRvaAndSizes;
    PEDataDirectory DataDirectory[PE_DIRECTORY_COUNT];
} PEOptionalHeader64;

typedef struct PEHeaders32 {
    uint32 Signature;
    PEFileHeader FileHeader;
    PEOptionalHeader32 OptionalHeader;
} PEHeaders32;

typedef struct PEHeaders64 {
    uint32 Signature;
    PEFileHeader FileHeader;
    PEOptionalHeader64 OptionalHeader;
} PEHeaders64;

// Reads the DOS header's e_lfanew (into NtOffset, when given) and the NT
// headers into Headers32 or Headers64 (either may be null; both are cleared
// first). 32 for PE32, 64 for PE32+, -1 when the stream holds no PE image.
int32 PEFile_GetHeaders(StreamStruct *Stream, uint32 *NtOffset, PEHeaders32 *Headers32, PEHeaders64 *Headers64);

// 1 when the file (not a folder) has a DOS header, the "PE\0\0" signature and
// a PE32 or PE32+ optional header.
int32 PEFile_IsValid(const char *Path);
int32 PEFile_IsValidStream(StreamStruct *Stream);
// The security directory entry: the certificate table's file offset and size.
int32 PEFile_GetDataDirectoryOffset(StreamStruct *Stream, uint64 *Offset, uint64 *Size);
// That entry when its size is not 0; else 0 with both cleared.
int32 PEFile_GetDataStoreOffset(StreamStruct *Stream, uint64 *Offset, uint64 *Size);
// The first certificate entry: its offset and its dwLength (at least 11 and
// within the table and the file).
int32 PEFile_GetCertificateOffset(StreamStruct *Stream, uint64 *Offset, uint32 *Length);
// The first entry's dwLength and, with a Buffer (of at least that size), its
// bytes, header included.
int32 PEFile_GetCertificate(StreamStruct *Stream, void *Buffer, uint32 *Length);
// The first entry's dwLength alone (0 and a return of 0 when there is none).
int32 PEFile_GetCertificateLength(StreamStruct *Stream, uint32 *Length);
int32 PEFile_HasCertificate(const char *Path);
int32 PEFile_HasCertificateData(StreamStruct *Stream);
// Feeds the Authenticode image digest's bytes into Hash (not finished):
// everything but the checksum, the security directory entry and the
// certificate table: the headers up to SizeOfHeaders, then the sections in
// file order, then what follows them.
int32 PEFile_CalcSignedHash(StreamStruct *Stream, Hash *Digest);
// Authenticode: the first certificate's PKCS#7 signature over the image
// digest, chained to a certificate Store trusts. 1 when sound.
int32 PEFile_Verify(CertStoreInterface *Store, const char *Path);
int32 PEFile_VerifyData(CertStoreInterface *Store, StreamStruct *Stream);
// Fills Dict from the version resource; 1 when a fixed version block with the
// right signature was read, or, without one, at least one string table.
int32 PEFile_GetInfoDictionary(const char *Path, Dictionary *Dict);
// Out cleared, then the value of Key (without case), cut to Size; 1 when found.
int32 PEFile_GetInfoValue(const char *Path, const char *Key, char *Out, int32 Size);

RUNTIME_EXTERN_C_END

#ifdef __cplusplus
#include <functional>
#include <string_view>

#include "content/executable_file.h"

struct PeHeaders {
    int Kind = 0; // 32 (PE32) or 64 (PE32+)
    uint64 NtOffset = 0;
    uint32 Sections = 0, OptionalSize = 0, FileAlignment = 0, HeadersSize = 0, Directories = 0;
    uint64 SecurityEntry = 0; // file offset of the security directory entry
    uint32 TableOffset = 0, TableSize = 0; // the certificate table it names
};
// 32, 64, or 0 when the file is not a PE image.
int PeFile_ReadHeaders(const ExecutableSource &File, PeHeaders &Out);
// The first certificate entry (8-byte header and the PKCS#7 bytes).
bool PeFile_ReadCertificate(const ExecutableSource &File, std::string &Entry);
// The image digest's bytes in order, handed to Feed.
bool PeFile_HashImage(const ExecutableSource &File, const std::function<bool(const void *, size_t)> &Feed);
// Version values from the bytes of a resource section.
bool PeFile_ReadVersionResource(std::string_view Resource, Dictionary *Dict);
bool PeFile_ReadInfo(const ExecutableSource &File, Dictionary *Dict);
// The signature check of the Verify operations on an open file.
bool PeFile_Verify(CertStoreInterface *Store, const ExecutableSource &File);
#endif
