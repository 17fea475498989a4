// CryptStream: cipher layer over a base stream (see crypt_stream.h). Writes
// encipher through a scratch memory stream so the caller's bytes are never
// changed; reads decipher in the caller's buffer.
#include "crypto/ciphers/crypt_stream.h"

#include <string.h>

#include <algorithm>

#include "runtime/debug.h"
#include "runtime/memory.h"
#include "runtime/streams/memory_stream.h"

struct CryptStream {
    ClassStruct Class;
    ClassPrintStruct Print;
    StreamStruct Stream; // BaseStreamHandle is the base stream
    MemoryStream *Scratch;
    CryptSymmetric *Cipher;
    int32 Bound; // a record is bound
    int32 Keyed; // SetKey succeeded since the last Reset
};

CLASSPRINT_DEFINE(CryptStream, CryptStream, CRYPTSTREAM_CLASSID, "CryptStream", Print)

#define CryptStream_Check(Handle) Class_CheckHandle((Handle), CRYPTSTREAM_CLASSID)

namespace {

// Largest piece enciphered at once (the cipher takes signed 32-bit lengths).
constexpr uint32 PieceSize = 1 << 20;

StreamStruct *BaseWith(CryptStream *Stream, int32 (*HasSlot)(StreamStruct *)) {
    StreamStruct *Base = Stream->Stream.BaseStreamHandle;
    return Base != nullptr && HasSlot(Base) ? Base : nullptr;
}

int32 DeleteThroughClass(void *HandleAddress) {
    return CryptStream_Delete(static_cast<CryptStream **>(HandleAddress));
}

CryptStream *Self(void *Handle) { return static_cast<CryptStream *>(Handle); }

void FillSlots(CryptStream *Stream) {
    StreamStruct *Record = &Stream->Stream;
    Record->Handle = Stream;
    Record->Write = [](void *H, const void *B, uint32 L, uint32 *C) { return CryptStream_Write(Self(H), B, L, C); };
    Record->Read = [](void *H, void *B, uint32 L, uint32 *C) { return CryptStream_Read(Self(H), B, L, C); };
    Record->Seek = [](void *H, int64 O, int32 W) { return CryptStream_Seek(Self(H), O, W); };
    Record->Flush = [](void *H) { return CryptStream_Flush(Self(H)); };
    Record->Tell = [](void *H, int64 *P) { return CryptStream_Tell(Self(H), P); };
    Record->Length = [](void *H, int64 *L) { return CryptStream_Length(Self(H), L); };
    Record->IsOpen = [](void *H) { return CryptStream_IsOpen(Self(H)); };
    Record->Close = [](void *H) { return CryptStream_Close(Self(H)); };
}

// Enciphers one piece in the scratch buffer and hands it to the base.
int32 WritePiece(CryptStream *Stream, StreamStruct *Base, const uint8 *Data, uint32 Length, uint32 *Written) {
    *Written = 0;
    uint32 Copied = 0;
    if (!MemoryStream_Size(Stream->Scratch, (int32)Length, FALSE, FALSE)) return FALSE;
    if (!MemoryStream_Write(Stream->Scratch, Data, Length, &Copied) || Copied != Length) return FALSE;
    uint8 *Bytes = nullptr;
    MemoryStream_GetPointer(Stream->Scratch, &Bytes);
    CryptSymmetric_Encrypt(Stream->Cipher, Bytes, Bytes, (int32)Length);
    const int32 Result = Stream_Write(Base, Bytes, Length, Written);
    MemoryStream_ReleasePointer(Stream->Scratch, &Bytes);
    return Result;
}

} // namespace

CLASS_DEFINE_REFERENCE(CryptStream, CryptStream, CRYPTSTREAM_CLASSID)

int32 CryptStream_VerboseLog(CryptStream *Handle, int32 Level, const char *Format, ...) {
    CryptStream_Check(Handle);
    if (!CryptStream_IsVerboseLevel(Handle, Level)) return FALSE;
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = CryptStream_VPrint(Handle, 0, Format, Arguments);
    va_end(Arguments);
    return Result;
}

int32 CryptStream_Create(CryptStream **Handle) {
    Debug_CheckPointer(Handle);
    CryptStream *Stream = Memory_New(CryptStream);
    Class_InitHeader(Stream, CRYPTSTREAM_CLASSID, DeleteThroughClass);
    Class_GenerateInstanceId(Stream);
    FillSlots(Stream);
    MemoryStream_Create(&Stream->Scratch);
    CryptSymmetric_Create(&Stream->Cipher);
    *Handle = Stream;
    return TRUE;
}

int32 CryptStream_Delete(CryptStream **Handle) {
    Debug_CheckPointer(Handle);
    CryptStream *Stream = *Handle;
    CryptStream_Check(Stream);
    CryptSymmetric_Delete(&Stream->Cipher);
    // The scratch buffer held plaintext of the last write.
    uint8 *Bytes = nullptr;
    if (MemoryStream_GetPointer(Stream->Scratch, &Bytes)) {
        explicit_bzero(Bytes, (size_t)MemoryStream_GetCapacity(Stream->Scratch));
        MemoryStream_ReleasePointer(Stream->Scratch, &Bytes);
    }
    MemoryStream_Delete(&Stream->Scratch);
    Stream->Class.ClassId = 0;
    Memory_Delete(Stream);
    *Handle = nullptr;
    return TRUE;
}

int32 CryptStream_Reset(CryptStream *Handle, const CryptSymmetricInterface *Interface) {
    CryptStream_Check(Handle);
    CryptSymmetric_Reset(Handle->Cipher, Interface);
    Handle->Bound = TRUE;
    Handle->Keyed = FALSE;
    return TRUE;
}

int32 CryptStream_SetKey(CryptStream *Handle, const uint8 *Key, int32 Length) {
    CryptStream_Check(Handle);
    const int32 Result = CryptSymmetric_SetKey(Handle->Cipher, Key, Length);
    Handle->Keyed = Result ? TRUE : FALSE;
    return Result;
}

int32 CryptStream_GetStreamHandle(CryptStream *Handle, StreamStruct **Record) {
    CryptStream_Check(Handle);
    Debug_CheckPointer(Record);
    *Record = &Handle->Stream;
    return TRUE;
}

int32 CryptStream_SetBaseStreamHandle(CryptStream *Handle, StreamStruct *Base) {
    CryptStream_Check(Handle);
    return Stream_SetBaseStreamHandle(&Handle->Stream, Base);
}

int32 CryptStream_Write(CryptStream *Handle, const void *Data, uint32 Length, uint32 *Count) {
    CryptStream_Check(Handle);
    Debug_CheckPointer(Count);
    *Count = 0;
    StreamStruct *Base = BaseWith(Handle, Stream_CanWrite);
    if (Base == nullptr) return FALSE;
    if (!Handle->Keyed) {
        CryptStream_VerboseLog(Handle, 0, "Write without a key\n");
        return FALSE;
    }
    if (Length == 0) return Stream_Write(Base, Data != nullptr ? Data : "", 0, Count);
    Debug_CheckPointer(Data);
    const uint8 *Bytes = static_cast<const uint8 *>(Data);
    int32 Result = TRUE;
    while (*Count < Length) {
        const uint32 Piece = std::min(Length - *Count, PieceSize);
        uint32 Written = 0;
        Result = WritePiece(Handle, Base, Bytes + *Count, Piece, &Written);
        *Count += Written;
        if (!Result || Written < Piece) break;
    }
    return Result;
}

int32 CryptStream_Read(CryptStream *Handle, void *Buffer, uint32 Length, uint32 *Count) {
    CryptStream_Check(Handle);
    Debug_CheckPointer(Count);
    *Count = 0;
    StreamStruct *Base = BaseWith(Handle, Stream_CanRead);
    if (Base == nullptr) return FALSE;
    if (!Handle->Keyed) {
        CryptStream_VerboseLog(Handle, 0, "Read without a key\n");
        return FALSE;
    }
    Debug_CheckPointer(Buffer);
    const int32 Result = Stream_Read(Base, Buffer, std::min<uint32>(Length, 0x7fffffff), Count);
    if (*Count > 0) {
        uint8 *Bytes = static_cast<uint8 *>(Buffer);
        CryptSymmetric_Decrypt(Handle->Cipher, Bytes, Bytes, (int32)*Count);
    }
    return Result;
}

int32 CryptStream_Seek(CryptStream *Handle, int64 Position, int32 Origin) {
    CryptStream_Check(Handle);
    StreamStruct *Base = BaseWith(Handle, Stream_CanSeek);
    return Base != nullptr ? Stream_Seek(Base, Position, Origin) : FALSE;
}

int32 CryptStream_Flush(CryptStream *Handle) {
    CryptStream_Check(Handle);
    StreamStruct *Base = BaseWith(Handle, Stream_CanWrite);
    return Base != nullptr ? Stream_Flush(Base) : FALSE;
}

int32 CryptStream_Tell(CryptStream *Handle, int64 *Position) {
    CryptStream_Check(Handle);
    Debug_CheckPointer(Position);
    *Position = 0;
    StreamStruct *Base = BaseWith(Handle, Stream_CanTell);
    return Base != nullptr ? Stream_Tell(Base, Position) : FALSE;
}

int32 CryptStream_Length(CryptStream *Handle, int64 *Length) {
    CryptStream_Check(Handle);
    Debug_CheckPointer(Length);
    *Length = 0;
    StreamStruct *Base = Handle->Stream.BaseStreamHandle;
    return Base != nullptr ? Stream_Length(Base, Length) : FALSE;
}

int32 CryptStream_IsOpen(CryptStream *Handle) {
    CryptStream_Check(Handle);
    StreamStruct *Base = Handle->Stream.BaseStreamHandle;
    return Base != nullptr ? Stream_IsOpen(Base) : FALSE;
}

int32 CryptStream_Close(CryptStream *Handle) {
    CryptStream_Check(Handle);
    StreamStruct *Base = Handle->Stream.BaseStreamHandle;
    return Base != nullptr ? Stream_Close(Base) : FALSE;
}
