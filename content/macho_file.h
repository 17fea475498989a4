// Mach-O files, thin or fat (only the first architecture is read): whether a
// file is one, whether it carries a CMS signature, that signature's bytes,
// and the check of the code directory's page hashes against the code.
// Little-endian Mach-O only; code-signature blobs are big-endian.
#pragma once

#include "crypto/digests/hash.h"
#include "crypto/trust/cert_store.h"
#include "runtime/streams/stream.h"
#include "runtime/types.h"

RUNTIME_EXTERN_C_BEGIN

int32 MachOFile_IsValid(const char *Path);
int32 MachOFile_IsValidStream(StreamStruct *Stream);
// 1 when the code signature holds a blob wrapper with a nonzero payload.
int32 MachOFile_HasCertificate(const char *Path);
int32 MachOFile_HasCertificateData(StreamStruct *Stream);
// The wrapper's payload (a DER PKCS#7 SignedData): its size, and with a
// Buffer (of at least that size) its bytes.
int32 MachOFile_GetCertificate(StreamStruct *Stream, void *Buffer, uint32 *Size);
// The CMS signature over the code directories, chained to a certificate
// Store trusts, and the page hashes of a code directory. 1 when sound.
int32 MachOFile_Verify(CertStoreInterface *Store, const char *Path);
int32 MachOFile_VerifyData(CertStoreInterface *Store, StreamStruct *Stream);
// The folder of the application bundle whose "Contents/MacOS" holds Path:
// the text up to and including ".app"; 0 when there is none.
int32 MachOFile_GetAppBundlePath(const char *Path, char *Out, int32 Size);

RUNTIME_EXTERN_C_END

#ifdef __cplusplus
#include <functional>
#include <string>

#include "content/executable_file.h"

struct MachOSlice {
    uint64 Offset = 0, Size = 0; // the slice in the file
    bool Wide = false;
};
bool MachOFile_ReadSlice(const ExecutableSource &File, MachOSlice &Out);
// The whole code-signature superblob of the first slice.
bool MachOFile_ReadSignature(const ExecutableSource &File, MachOSlice &Slice, std::string &Blob);
bool MachOFile_ReadCertificate(const ExecutableSource &File, std::string &Payload);
// Walks the code directories (slots 0 and 0x1000) in index order: each is
// handed whole to Feed, then its page hashes are checked against the slice.
// True at the first directory whose every page matches.
bool MachOFile_CheckCodeDirectories(const ExecutableSource &File,
                                    const std::function<bool(const void *, size_t)> &Feed);
// The signature check of the Verify operations on an open file.
bool MachOFile_Verify(CertStoreInterface *Store, const ExecutableSource &File);
#endif
