// Flat installer packages (xar archives): recognised by their "xar!" header;
// the zlib-compressed XML table of contents; and the package check: the
// table's checksum, its signature, and every file's archived checksum.
#pragma once

#include "crypto/trust/cert_store.h"
#include "runtime/containers/dictionary.h"
#include "runtime/streams/stream.h"
#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

int32 PKGFile_IsValid(const char *Path);
int32 PKGFile_IsValidStream(StreamStruct *Stream);
// 1 when the table of contents' checksum matches, its signature is sound and
// chains to a certificate Store trusts, and every file's checksum matches.
int32 PKGFile_Verify(CertStoreInterface *Store, const char *Path);

RUNTIME_EXTERN_C_END

#ifdef __cplusplus
#include <string>

#include "content/executable_file.h"

// The largest table of contents inflated.
constexpr uint64 PKG_TOC_CAP = 64ull << 20;

struct PkgHeader {
    uint64 HeaderSize = 0, Compressed = 0, Inflated = 0, Heap = 0;
    uint32 Algorithm = 0;
};
// The header, and the table of contents: its compressed bytes and the XML
// text of exactly what inflated (never more than the stated length).
bool PkgFile_ReadTableOfContents(const ExecutableSource &File, PkgHeader &Head, std::string &Compressed,
                                 std::string &Xml);
// The check of PKGFile_Verify on an open file.
bool PkgFile_Verify(CertStoreInterface *Store, const ExecutableSource &File);
#endif
