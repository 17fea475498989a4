// CryptStream: a Stream over a base stream that enciphers what is written
// through it and deciphers what is read through it, with a CryptSymmetric
// bound to a cipher record (in use: RC4_INTERFACE, for the notification end
// point). Only the cipher's plain Encrypt and Decrypt are used, so a block
// cipher would need whole blocks on every call.
//
// Calling order: Create, Reset with the record, SetKey, SetBaseStreamHandle,
// GetStreamHandle; then reads and writes through the record. A new base
// keeps the cipher state; SetKey restarts the key stream. Seek moves only the
// base, so a stream cipher stays aligned only for in-order use. Reads and
// writes before a key is set answer 0 and move nothing. The base stream is
// not owned: Close closes it, Delete leaves it alone.
#pragma once

#include "crypto/ciphers/crypt_symmetric.h"
#include "runtime/class.h"
#include "runtime/streams/stream.h"
#include "runtime/types.h"

#define CRYPTSTREAM_CLASSID 0x6473f75bu

RUNTIME_EXTERN_C_BEGIN

typedef struct CryptStream CryptStream;

int32 CryptStream_Create(CryptStream **Handle);
// Deletes the cipher (wiping its key) and the scratch buffer, not the base.
int32 CryptStream_Delete(CryptStream **Handle);
CLASS_DECLARE_REFERENCE(CryptStream, CryptStream)
CLASSPRINT_DECLARE(CryptStream, CryptStream)
// Prints only when the stream's verbose level admits Level.
int32 CryptStream_VerboseLog(CryptStream *Handle, int32 Level, const char *Format, ...);

// Binds the cipher record with a fresh context and no key.
int32 CryptStream_Reset(CryptStream *Handle, const CryptSymmetricInterface *Interface);
// The cipher's SetKey result.
int32 CryptStream_SetKey(CryptStream *Handle, const uint8 *Key, int32 Length);
int32 CryptStream_GetStreamHandle(CryptStream *Handle, StreamStruct **Record);
int32 CryptStream_SetBaseStreamHandle(CryptStream *Handle, StreamStruct *Base);

// Stream slots. Write enciphers a copy (the caller's buffer stays as it
// was) and answers the base's result and count; Read deciphers in place the
// bytes the base delivered. Both answer 0 with a count of 0 when the base
// cannot write or read. Seek, Flush and Tell need the base's slot (else 0);
// Length, IsOpen and Close go to the base.
int32 CryptStream_Write(CryptStream *Handle, const void *Data, uint32 Length, uint32 *Count);
int32 CryptStream_Read(CryptStream *Handle, void *Buffer, uint32 Length, uint32 *Count);
int32 CryptStream_Seek(CryptStream *Handle, int64 Position, int32 Origin);
int32 CryptStream_Flush(CryptStream *Handle);
int32 CryptStream_Tell(CryptStream *Handle, int64 *Position);
int32 CryptStream_Length(CryptStream *Handle, int64 *Length);
int32 CryptStream_IsOpen(CryptStream *Handle);
int32 CryptStream_Close(CryptStream *Handle);

RUNTIME_EXTERN_C_END
