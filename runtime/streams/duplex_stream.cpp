// DuplexStream: two queue-style memory streams, one per direction. Each
// operation picks its side and forwards; see duplex_stream.h.
#include "runtime/streams/duplex_stream.h"

#include "runtime/debug.h"
#include "runtime/memory.h"

struct DuplexStream {
    ClassStruct Class;
    MemoryStream *ReadSide;
    MemoryStream *WriteSide;
};

#define DuplexStream_Check(Handle) Class_CheckHandle((Handle), DUPLEXSTREAM_CLASSID)

namespace {

int32 DeleteThroughClass(void *HandleAddress) {
    return DuplexStream_Delete(static_cast<DuplexStream **>(HandleAddress));
}

MemoryStream *CreateSide() {
    MemoryStream *Side = nullptr;
    MemoryStream_Create(&Side);
    MemoryStream_SetAutoGrow(Side, TRUE);
    MemoryStream_SetMaxCapacity(Side, DUPLEXSTREAM_MAXCAPACITY);
    return Side;
}

MemoryStream *ReadSide(DuplexStream *Handle) {
    DuplexStream_Check(Handle);
    return Handle->ReadSide;
}

MemoryStream *WriteSide(DuplexStream *Handle) {
    DuplexStream_Check(Handle);
    return Handle->WriteSide;
}

int32 Put(MemoryStream *Side, const void *Data, uint32 Length) {
    uint32 Count = 0;
    return MemoryStream_Put(Side, Data, Length, &Count);
}

int32 BufferUsed(MemoryStream *Side, int32 *Bytes) {
    Debug_CheckPointer(Bytes);
    *Bytes = MemoryStream_GetUsed(Side);
    return TRUE;
}

int32 BufferLeft(MemoryStream *Side, int32 *Bytes) {
    Debug_CheckPointer(Bytes);
    *Bytes = MemoryStream_GetAvailableCapacity(Side);
    return TRUE;
}

int32 GetPointer(MemoryStream *Side, void *PointerAddress, int32 *Used) {
    Debug_CheckPointer(Used);
    const int32 Result = MemoryStream_GetPointer(Side, PointerAddress);
    *Used = MemoryStream_GetUsed(Side);
    return Result;
}

} // namespace

CLASS_DEFINE_REFERENCE(DuplexStream, DuplexStream, DUPLEXSTREAM_CLASSID)

int32 DuplexStream_Create(DuplexStream **Handle) {
    Debug_CheckPointer(Handle);
    DuplexStream *Stream = Memory_New(DuplexStream);
    Class_InitHeader(Stream, DUPLEXSTREAM_CLASSID, DeleteThroughClass);
    Stream->ReadSide = CreateSide();
    Stream->WriteSide = CreateSide();
    DuplexStream_SetAllowLock(Stream, TRUE);
    *Handle = Stream;
    return TRUE;
}

int32 DuplexStream_Delete(DuplexStream **Handle) {
    Debug_CheckPointer(Handle);
    DuplexStream *Stream = *Handle;
    DuplexStream_Check(Stream);
    MemoryStream_Delete(&Stream->ReadSide);
    MemoryStream_Delete(&Stream->WriteSide);
    Stream->Class.ClassId = 0;
    Memory_Delete(Stream);
    *Handle = nullptr;
    return TRUE;
}

// The read-side family.
int32 DuplexStream_ReadLock(DuplexStream *Handle) { return MemoryStream_Lock(ReadSide(Handle)); }
int32 DuplexStream_ReadUnlock(DuplexStream *Handle) { return MemoryStream_Unlock(ReadSide(Handle)); }
int32 DuplexStream_ReadTransactionActive(DuplexStream *Handle) {
    return MemoryStream_TransactionActive(ReadSide(Handle));
}
int32 DuplexStream_ReadTransactionStart(DuplexStream *Handle) {
    return MemoryStream_TransactionStart(ReadSide(Handle));
}
int32 DuplexStream_ReadTransactionEnd(DuplexStream *Handle, int32 Rollback) {
    return MemoryStream_TransactionEnd(ReadSide(Handle), Rollback);
}
int32 DuplexStream_ReadGetBufferUsed(DuplexStream *Handle, int32 *Bytes) {
    return BufferUsed(ReadSide(Handle), Bytes);
}
int32 DuplexStream_ReadGetBufferLeft(DuplexStream *Handle, int32 *Bytes) {
    return BufferLeft(ReadSide(Handle), Bytes);
}
int32 DuplexStream_ReadGet(DuplexStream *Handle, void *Buffer, uint32 Length, uint32 *Count) {
    return MemoryStream_Get(ReadSide(Handle), Buffer, Length, Count);
}
int32 DuplexStream_ReadPut(DuplexStream *Handle, const void *Data, uint32 Length) {
    return Put(ReadSide(Handle), Data, Length);
}
int32 DuplexStream_ReadPutFormat(DuplexStream *Handle, const char *Format, ...) {
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = DuplexStream_ReadVPutFormat(Handle, Format, Arguments);
    va_end(Arguments);
    return Result;
}
int32 DuplexStream_ReadVPutFormat(DuplexStream *Handle, const char *Format, va_list Arguments) {
    return MemoryStream_VPrint(ReadSide(Handle), Format, Arguments);
}
int32 DuplexStream_ReadFill(DuplexStream *Handle, DuplexStream *Other) {
    return MemoryStream_Fill(ReadSide(Handle), ReadSide(Other));
}
int32 DuplexStream_ReadGetPointer(DuplexStream *Handle, void *PointerAddress, int32 *Used) {
    return GetPointer(ReadSide(Handle), PointerAddress, Used);
}
int32 DuplexStream_ReadReleasePointer(DuplexStream *Handle, void *PointerAddress) {
    return MemoryStream_ReleasePointer(ReadSide(Handle), PointerAddress);
}

// The write-side family.
int32 DuplexStream_WriteLock(DuplexStream *Handle) { return MemoryStream_Lock(WriteSide(Handle)); }
int32 DuplexStream_WriteUnlock(DuplexStream *Handle) { return MemoryStream_Unlock(WriteSide(Handle)); }
int32 DuplexStream_WriteTransactionActive(DuplexStream *Handle) {
    return MemoryStream_TransactionActive(WriteSide(Handle));
}
int32 DuplexStream_WriteTransactionStart(DuplexStream *Handle) {
    return MemoryStream_TransactionStart(WriteSide(Handle));
}
int32 DuplexStream_WriteTransactionEnd(DuplexStream *Handle, int32 Rollback) {
    return MemoryStream_TransactionEnd(WriteSide(Handle), Rollback);
}
int32 DuplexStream_WriteGetBufferUsed(DuplexStream *Handle, int32 *Bytes) {
    return BufferUsed(WriteSide(Handle), Bytes);
}
int32 DuplexStream_WriteGetBufferLeft(DuplexStream *Handle, int32 *Bytes) {
    return BufferLeft(WriteSide(Handle), Bytes);
}
int32 DuplexStream_WriteGet(DuplexStream *Handle, void *Buffer, uint32 Length, uint32 *Count) {
    return MemoryStream_Get(WriteSide(Handle), Buffer, Length, Count);
}
int32 DuplexStream_WritePut(DuplexStream *Handle, const void *Data, uint32 Length) {
    return Put(WriteSide(Handle), Data, Length);
}
int32 DuplexStream_WritePutFormat(DuplexStream *Handle, const char *Format, ...) {
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = DuplexStream_WriteVPutFormat(Handle, Format, Arguments);
    va_end(Arguments);
    return Result;
}
int32 DuplexStream_WriteVPutFormat(DuplexStream *Handle, const char *Format, va_list Arguments) {
    return MemoryStream_VPrint(WriteSide(Handle), Format, Arguments);
}
int32 DuplexStream_WriteFill(DuplexStream *Handle, DuplexStream *Other) {
    return MemoryStream_Fill(WriteSide(Handle), WriteSide(Other));
}
int32 DuplexStream_WriteGetPointer(DuplexStream *Handle, void *PointerAddress, int32 *Used) {
    return GetPointer(WriteSide(Handle), PointerAddress, Used);
}
int32 DuplexStream_WriteReleasePointer(DuplexStream *Handle, void *PointerAddress) {
    return MemoryStream_ReleasePointer(WriteSide(Handle), PointerAddress);
}

int32 DuplexStream_GetReadMemoryStreamHandle(DuplexStream *Handle, MemoryStream **Side) {
    Debug_CheckPointer(Side);
    *Side = ReadSide(Handle);
    return *Side != nullptr;
}

int32 DuplexStream_GetWriteMemoryStreamHandle(DuplexStream *Handle, MemoryStream **Side) {
    Debug_CheckPointer(Side);
    *Side = WriteSide(Handle);
    return *Side != nullptr;
}

int32 DuplexStream_Reset(DuplexStream *Handle) {
    MemoryStream_DiscardAll(ReadSide(Handle));
    MemoryStream_DiscardAll(WriteSide(Handle));
    return TRUE;
}

int32 DuplexStream_SetAllowLock(DuplexStream *Handle, int32 Allow) {
    MemoryStream_SetAllowLock(ReadSide(Handle), Allow);
    MemoryStream_SetAllowLock(WriteSide(Handle), Allow);
    return TRUE;
}

int32 DuplexStream_GetAllowLock(DuplexStream *Handle, int32 *Allow) {
    return MemoryStream_GetAllowLock(ReadSide(Handle), Allow);
}
