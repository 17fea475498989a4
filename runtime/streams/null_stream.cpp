// NullStream: counts what is written and stores nothing. See null_stream.h.
//
// A read reports no bytes (and answers 0) rather than claiming to have filled
// the caller's buffer: a copy from a null stream then ends at once instead of
// running forever over bytes that were never there.
#include "runtime/streams/null_stream.h"

#include <algorithm>

#include "runtime/debug.h"
#include "runtime/memory.h"

struct NullStream {
    ClassStruct Class;
    StreamStruct Stream;
    int64 Position;
    int64 Length; // the highest position written
};

#define NullStream_Check(Handle) Class_CheckHandle((Handle), NULLSTREAM_CLASSID)

namespace {

int32 DeleteThroughClass(void *HandleAddress) { return NullStream_Delete(static_cast<NullStream **>(HandleAddress)); }

NullStream *Self(void *Handle) { return static_cast<NullStream *>(Handle); }

void FillSlots(NullStream *Stream) {
    StreamStruct *Record = &Stream->Stream;
    Record->Handle = Stream;
    Record->Write = [](void *H, const void *B, uint32 L, uint32 *C) { return NullStream_Write(Self(H), B, L, C); };
    Record->Read = [](void *H, void *B, uint32 L, uint32 *C) { return NullStream_Read(Self(H), B, L, C); };
    Record->Seek = [](void *H, int64 O, int32 W) { return NullStream_Seek(Self(H), O, W); };
    Record->Flush = [](void *H) { return NullStream_Flush(Self(H)); };
    Record->Tell = [](void *H, int64 *P) { return NullStream_Tell(Self(H), P); };
    Record->Length = [](void *H, int64 *L) { return NullStream_Length(Self(H), L); };
    Record->IsOpen = [](void *H) { return NullStream_IsOpen(Self(H)); };
    Record->Close = [](void *H) { return NullStream_Close(Self(H)); };
}

} // namespace

CLASS_DEFINE_REFERENCE(NullStream, NullStream, NULLSTREAM_CLASSID)

int32 NullStream_Create(NullStream **Handle) {
    Debug_CheckPointer(Handle);
    NullStream *Stream = Memory_New(NullStream);
    Class_InitHeader(Stream, NULLSTREAM_CLASSID, DeleteThroughClass);
    FillSlots(Stream);
    *Handle = Stream;
    return TRUE;
}

int32 NullStream_Delete(NullStream **Handle) {
    Debug_CheckPointer(Handle);
    NullStream *Stream = *Handle;
    NullStream_Check(Stream);
    Stream->Class.ClassId = 0;
    Memory_Delete(Stream);
    *Handle = nullptr;
    return TRUE;
}

int32 NullStream_GetStreamHandle(NullStream *Handle, StreamStruct **Record) {
    NullStream_Check(Handle);
    Debug_CheckPointer(Record);
    *Record = &Handle->Stream;
    return TRUE;
}

int64 NullStream_GetUsed(NullStream *Handle) {
    NullStream_Check(Handle);
    return Handle->Length;
}

int32 NullStream_Write(NullStream *Handle, const void *Data, uint32 Length, uint32 *Count) {
    NullStream_Check(Handle);
    Debug_CheckPointer(Count);
    (void)Data;
    *Count = 0;
    int64 End = 0;
    if (__builtin_add_overflow(Handle->Position, (int64)Length, &End)) return FALSE;
    // A write that starts past the end (after a seek) does not extend it.
    if (Handle->Position <= Handle->Length) Handle->Length = std::max(Handle->Length, End);
    Handle->Position = End;
    *Count = Length;
    return TRUE;
}

int32 NullStream_Read(NullStream *Handle, void *Buffer, uint32 Length, uint32 *Count) {
    NullStream_Check(Handle);
    Debug_CheckPointer(Count);
    (void)Buffer;
    (void)Length;
    *Count = 0;
    return FALSE;
}

int32 NullStream_Seek(NullStream *Handle, int64 Offset, int32 Origin) {
    NullStream_Check(Handle);
    if (Origin < STREAM_SEEK_SET || Origin > STREAM_SEEK_END) Debug_Abort("Invalid seek origin (%d)", Origin);
    int64 Target = 0;
    if (!Stream_ResolveSeek(Handle->Position, Handle->Length, Offset, Origin, &Target) || Target < 0) return FALSE;
    Handle->Position = Target;
    return TRUE;
}

int32 NullStream_Flush(NullStream *Handle) {
    NullStream_Check(Handle);
    return TRUE;
}

int32 NullStream_Tell(NullStream *Handle, int64 *Position) {
    NullStream_Check(Handle);
    Debug_CheckPointer(Position);
    *Position = Handle->Position;
    return TRUE;
}

int32 NullStream_Length(NullStream *Handle, int64 *Length) {
    NullStream_Check(Handle);
    Debug_CheckPointer(Length);
    *Length = Handle->Length;
    return TRUE;
}

int32 NullStream_IsOpen(NullStream *Handle) {
    NullStream_Check(Handle);
    return TRUE;
}

int32 NullStream_Close(NullStream *Handle) {
    NullStream_Check(Handle);
    Handle->Position = 0;
    Handle->Length = 0;
    return TRUE;
}
