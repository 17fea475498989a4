// BufferedStream: read and write buffers over a base stream. See
// buffered_stream.h. Traces go to the stream's print record at level 11
// ("Close" at level 0) and cost nothing unless that level is enabled.
#include "runtime/streams/buffered_stream.h"

#include <string.h>

#include <algorithm>

#include "runtime/debug.h"
#include "runtime/memory.h"

struct BufferedStream {
    ClassStruct Class;
    ClassPrintStruct Print;
    StreamStruct Stream; // BaseStreamHandle is the base stream
    uint8 *ReadBuffer;
    int32 ReadBufferSize;
    int32 ReadLength;   // bytes held in the read buffer
    int32 ReadPosition; // bytes of them already handed out
    int32 ReadCopies;
    int32 ReadFills;
    uint8 *WriteBuffer;
    int32 WriteBufferSize;
    int32 WriteLength;   // bytes held (the highest position written)
    int32 WritePosition; // where the next byte goes
    int32 WriteCopies;
    int32 WriteFlushes;
    int64 Position;
};

CLASSPRINT_DEFINE(BufferedStream, BufferedStream, BUFFEREDSTREAM_CLASSID, "BufferedStream", Print)

#define BufferedStream_Check(Handle) Class_CheckHandle((Handle), BUFFEREDSTREAM_CLASSID)
#define Trace(Handle, ...) BufferedStream_VerboseLog((Handle), TraceLevel, __VA_ARGS__)

namespace {

constexpr int32 TraceLevel = 11;

int32 DeleteThroughClass(void *HandleAddress) {
    return BufferedStream_Delete(static_cast<BufferedStream **>(HandleAddress));
}

StreamStruct *BaseWith(BufferedStream *Stream, int32 (*HasSlot)(StreamStruct *)) {
    StreamStruct *Base = Stream->Stream.BaseStreamHandle;
    return Base != nullptr && HasSlot(Base) ? Base : nullptr;
}

void ReplaceBuffer(uint8 *&Buffer, int32 &BufferSize, int32 Size) {
    if (Buffer != nullptr) Buffer = static_cast<uint8 *>(Memory_Free(Buffer, BufferSize));
    BufferSize = 0;
    if (Size < 1) return;
    Buffer = static_cast<uint8 *>(Memory_Alloc(Size));
    BufferSize = Size;
}

// Where the caller stands: inside the read buffer, inside the write buffer,
// or at the anchor when nothing is buffered.
int64 LogicalPosition(const BufferedStream *Stream) {
    if (Stream->ReadLength > 0) return Stream->Position - Stream->ReadLength + Stream->ReadPosition;
    if (Stream->WriteLength > 0) return Stream->Position + Stream->WritePosition;
    return Stream->Position;
}

// A seek outside the buffered bytes: write what is pending, move the base
// stream and start again with empty buffers.
int32 Reposition(BufferedStream *Stream, int64 Offset, int32 Origin) {
    StreamStruct *Base = BaseWith(Stream, Stream_CanSeek);
    if (Base == nullptr) return FALSE;
    int64 Target = Offset;
    if (Origin == STREAM_SEEK_CUR && __builtin_add_overflow(LogicalPosition(Stream), Offset, &Target)) return FALSE;
    if (Origin != STREAM_SEEK_END && Target < 0) return FALSE;
    if (Stream->WriteLength > 0 && !BufferedStream_Flush(Stream)) return FALSE;
    Stream->WriteLength = Stream->WritePosition = 0;
    Stream->ReadLength = Stream->ReadPosition = 0;
    if (Origin == STREAM_SEEK_END) {
        int64 End = 0;
        if (!Stream_Seek(Base, Offset, STREAM_SEEK_END) || !Stream_Tell(Base, &End)) return FALSE;
        Stream->Position = End;
        return TRUE;
    }
    if (!Stream_Seek(Base, Target, STREAM_SEEK_SET)) return FALSE;
    Stream->Position = Target;
    return TRUE;
}

BufferedStream *Self(void *Handle) { return static_cast<BufferedStream *>(Handle); }

void FillSlots(BufferedStream *Stream) {
    StreamStruct *Record = &Stream->Stream;
    Record->Handle = Stream;
    Record->Write = [](void *H, const void *B, uint32 L, uint32 *C) { return BufferedStream_Write(Self(H), B, L, C); };
    Record->Read = [](void *H, void *B, uint32 L, uint32 *C) { return BufferedStream_Read(Self(H), B, L, C); };
    Record->Seek = [](void *H, int64 O, int32 W) { return BufferedStream_Seek(Self(H), O, W); };
    Record->Flush = [](void *H) { return BufferedStream_Flush(Self(H)); };
    Record->Tell = [](void *H, int64 *P) { return BufferedStream_Tell(Self(H), P); };
    Record->Length = [](void *H, int64 *L) { return BufferedStream_Length(Self(H), L); };
    Record->IsOpen = [](void *H) { return BufferedStream_IsOpen(Self(H)); };
    Record->Close = [](void *H) { return BufferedStream_Close(Self(H)); };
}

} // namespace

CLASS_DEFINE_REFERENCE(BufferedStream, BufferedStream, BUFFEREDSTREAM_CLASSID)

int32 BufferedStream_Create(BufferedStream **Handle) {
    Debug_CheckPointer(Handle);
    BufferedStream *Stream = Memory_New(BufferedStream);
    Class_InitHeader(Stream, BUFFEREDSTREAM_CLASSID, DeleteThroughClass);
    FillSlots(Stream);
    *Handle = Stream;
    return TRUE;
}

int32 BufferedStream_Delete(BufferedStream **Handle) {
    Debug_CheckPointer(Handle);
    BufferedStream *Stream = *Handle;
    BufferedStream_Check(Stream);
    ReplaceBuffer(Stream->ReadBuffer, Stream->ReadBufferSize, 0);
    ReplaceBuffer(Stream->WriteBuffer, Stream->WriteBufferSize, 0);
    Stream->Class.ClassId = 0;
    Memory_Delete(Stream);
    *Handle = nullptr;
    return TRUE;
}

int32 BufferedStream_VerboseLog(BufferedStream *Handle, int32 Level, const char *Format, ...) {
    BufferedStream_Check(Handle);
    if (!BufferedStream_IsVerboseLevel(Handle, Level)) return FALSE;
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = BufferedStream_VPrint(Handle, 0, Format, Arguments);
    va_end(Arguments);
    return Result;
}

int32 BufferedStream_SetBaseStreamHandle(BufferedStream *Handle, StreamStruct *Base) {
    BufferedStream_Check(Handle);
    return Stream_SetBaseStreamHandle(&Handle->Stream, Base);
}

int32 BufferedStream_SetReadBufferSize(BufferedStream *Handle, int32 Size) {
    BufferedStream_Check(Handle);
    ReplaceBuffer(Handle->ReadBuffer, Handle->ReadBufferSize, Size);
    Handle->ReadLength = Handle->ReadPosition = 0;
    return TRUE;
}

int32 BufferedStream_SetWriteBufferSize(BufferedStream *Handle, int32 Size) {
    BufferedStream_Check(Handle);
    ReplaceBuffer(Handle->WriteBuffer, Handle->WriteBufferSize, Size);
    Handle->WriteLength = Handle->WritePosition = 0;
    return TRUE;
}

int32 BufferedStream_GetStreamHandle(BufferedStream *Handle, StreamStruct **Record) {
    BufferedStream_Check(Handle);
    Debug_CheckPointer(Record);
    *Record = &Handle->Stream;
    return TRUE;
}

int32 BufferedStream_Read(BufferedStream *Handle, void *Buffer, uint32 Length, uint32 *Count) {
    BufferedStream_Check(Handle);
    Debug_CheckPointer(Count);
    *Count = 0;
    StreamStruct *Base = BaseWith(Handle, Stream_CanRead);
    if (Base == nullptr) return FALSE;
    Trace(Handle, "Read [Size %d Pos %lld]", (int32)Length, Handle->Position);
    if (Handle->WriteLength > 0) Trace(Handle, "Switch from write to read, not yet supported [%lld]", Handle->Position);
    if (Length < 1) return TRUE;
    Debug_CheckPointer(Buffer);

    uint8 *Out = static_cast<uint8 *>(Buffer);
    int64 Wanted = Length;
    int32 Result = FALSE;
    while (Wanted > 0) {
        if (Handle->ReadLength == 0 || Handle->ReadPosition == Handle->ReadLength) {
            if (Handle->ReadLength == Handle->ReadBufferSize) Handle->ReadLength = Handle->ReadPosition = 0;
            const uint32 Asked = (uint32)(Handle->ReadBufferSize - Handle->ReadLength);
            // Without a read buffer there is no room to fill: the stream
            // cannot read.
            if (Asked == 0) break;
            uint32 Received = 0;
            Stream_Read(Base, Handle->ReadBuffer + Handle->ReadLength, Asked, &Received);
            Received = std::min(Received, Asked);
            Handle->ReadFills += 1;
            Handle->ReadLength += (int32)Received;
            Handle->Position += Received;
            Trace(Handle, "Filled [Read %d/%d Buf %d:%d Pos %lld]", (int32)Received, (int32)Asked,
                  Handle->ReadPosition, Handle->ReadLength, Handle->Position);
            if (Received == 0) break;
        }
        const int32 Copied = (int32)std::min<int64>(Wanted, Handle->ReadLength - Handle->ReadPosition);
        memcpy(Out, Handle->ReadBuffer + Handle->ReadPosition, (size_t)Copied);
        Out += Copied;
        Wanted -= Copied;
        Handle->ReadCopies += 1;
        Handle->ReadPosition += Copied;
        Trace(Handle, "Emptied [Copied %d Remaining %d Buf %d:%d Pos %lld]", Copied, (int32)Wanted,
              Handle->ReadPosition, Handle->ReadLength, Handle->Position);
        if (Wanted == 0) Result = TRUE;
    }
    *Count = (uint32)(Length - Wanted);
    return Result;
}

int32 BufferedStream_Write(BufferedStream *Handle, const void *Data, uint32 Length, uint32 *Count) {
    BufferedStream_Check(Handle);
    Debug_CheckPointer(Count);
    *Count = 0;
    StreamStruct *Base = BaseWith(Handle, Stream_CanWrite);
    if (Base == nullptr) return FALSE;
    Trace(Handle, "Write [Size %d Len %d Pos %lld]", (int32)Length, Handle->WriteLength, Handle->Position);
    if (Handle->ReadLength > 0) {
        Handle->Position = LogicalPosition(Handle);
        Handle->ReadLength = Handle->ReadPosition = 0;
        Trace(Handle, "Switch from read to write [%lld]", Handle->Position);
        if (!Stream_CanSeek(Base) || !Stream_Seek(Base, Handle->Position, STREAM_SEEK_SET)) return FALSE;
    }
    if (Length < 1) return TRUE;
    Debug_CheckPointer(Data);

    const uint8 *In = static_cast<const uint8 *>(Data);
    int64 Remaining = Length;
    while (Remaining > 0) {
        int32 Room = Handle->WriteBufferSize - std::min(Handle->WriteLength, Handle->WritePosition);
        if (Room == 0) {
            if (!BufferedStream_Flush(Handle)) return FALSE;
            Room = Handle->WriteBufferSize - std::min(Handle->WriteLength, Handle->WritePosition);
            if (Room == 0) return FALSE;
        }
        const int32 Copied = (int32)std::min<int64>(Remaining, Room);
        memcpy(Handle->WriteBuffer + Handle->WritePosition, In, (size_t)Copied);
        Trace(Handle, "Write copy [Remaining %d Write %d:%d Len %d]", Copied, (int32)Length, (int32)Remaining,
              Handle->WriteLength);
        In += Copied;
        Remaining -= Copied;
        Handle->WritePosition += Copied;
        Handle->WriteCopies += 1;
        Handle->WriteLength = std::max(Handle->WriteLength, Handle->WritePosition);
    }
    *Count = Length;
    return TRUE;
}

// A base stream that takes part of the buffer and then fails keeps the
// written part: it is dropped from the buffer (and the anchor moves past
// it), so a later flush writes only what the base stream has not yet got.
int32 BufferedStream_Flush(BufferedStream *Handle) {
    BufferedStream_Check(Handle);
    StreamStruct *Base = BaseWith(Handle, Stream_CanWrite);
    if (Base == nullptr) return FALSE;
    if (Handle->WriteLength < 1) {
        Handle->WriteLength = Handle->WritePosition = 0;
        return FALSE;
    }
    int32 Taken = 0;
    while (Taken < Handle->WriteLength) {
        const uint32 Left = (uint32)(Handle->WriteLength - Taken);
        uint32 Written = 0;
        const int32 Result = Stream_Write(Base, Handle->WriteBuffer + Taken, Left, &Written);
        Handle->WriteFlushes += 1;
        Trace(Handle, "Write flush [%d:%d Len %d]\n", Handle->WriteLength, (int32)Left, Handle->WriteLength);
        if (!Result || Written == 0 || Written > Left) {
            if (Taken > 0) {
                memmove(Handle->WriteBuffer, Handle->WriteBuffer + Taken, (size_t)(Handle->WriteLength - Taken));
                Handle->WriteLength -= Taken;
                Handle->WritePosition = std::max(Handle->WritePosition - Taken, 0);
            }
            return FALSE;
        }
        Taken += (int32)Written;
        Handle->Position += Written;
    }
    Handle->WriteLength = Handle->WritePosition = 0;
    return TRUE;
}

int32 BufferedStream_Seek(BufferedStream *Handle, int64 Offset, int32 Origin) {
    BufferedStream_Check(Handle);
    Trace(Handle, "Seek [Origin %d Offset %llu Pos %lld]\n", Origin, (uint64)Offset, Handle->Position);
    const bool Reading = Handle->ReadLength > 0, Writing = Handle->WriteLength > 0;
    switch (Origin) {
    case STREAM_SEEK_SET:
        if (Writing && Handle->Position <= Offset && Offset <= Handle->Position + Handle->WriteLength) {
            Handle->WritePosition = (int32)(Offset - Handle->Position);
            return TRUE;
        }
        if (Reading && Handle->Position - Handle->ReadLength <= Offset && Offset < Handle->Position) {
            Handle->ReadPosition = (int32)(Offset - (Handle->Position - Handle->ReadLength));
            return TRUE;
        }
        break;
    case STREAM_SEEK_CUR:
        if (Reading && Offset >= -(int64)Handle->ReadPosition &&
            Offset <= Handle->ReadLength - Handle->ReadPosition) {
            Handle->ReadPosition += (int32)Offset;
            return TRUE;
        }
        if (Writing && Offset >= -(int64)Handle->WritePosition &&
            Offset <= Handle->WriteLength - Handle->WritePosition) {
            Handle->WritePosition += (int32)Offset;
            return TRUE;
        }
        break;
    case STREAM_SEEK_END:
        if (Writing && Offset == 0) {
            Handle->WritePosition = Handle->WriteLength;
            return TRUE;
        }
        break;
    default: return FALSE;
    }
    return Reposition(Handle, Offset, Origin);
}

int32 BufferedStream_Tell(BufferedStream *Handle, int64 *Position) {
    BufferedStream_Check(Handle);
    Debug_CheckPointer(Position);
    *Position = 0;
    StreamStruct *Base = BaseWith(Handle, Stream_CanTell);
    if (Base == nullptr) return FALSE;
    int64 At = 0;
    if (!Stream_Tell(Base, &At)) return FALSE;
    Handle->Position = At;
    Trace(Handle, "Tell [Pos %llu ReadPos %d WritePos %d]\n", (uint64)At, Handle->ReadPosition, Handle->WritePosition);
    *Position = LogicalPosition(Handle);
    return TRUE;
}

int32 BufferedStream_Length(BufferedStream *Handle, int64 *Length) {
    BufferedStream_Check(Handle);
    Debug_CheckPointer(Length);
    *Length = 0;
    StreamStruct *Base = Handle->Stream.BaseStreamHandle;
    return Base != nullptr ? Stream_Length(Base, Length) : FALSE;
}

int32 BufferedStream_IsOpen(BufferedStream *Handle) {
    BufferedStream_Check(Handle);
    StreamStruct *Base = Handle->Stream.BaseStreamHandle;
    return Base != nullptr ? Stream_IsOpen(Base) : FALSE;
}

int32 BufferedStream_Close(BufferedStream *Handle) {
    BufferedStream_Check(Handle);
    BufferedStream_Flush(Handle);
    BufferedStream_VerboseLog(Handle, 0, "Close");
    if (Handle->ReadCopies + Handle->ReadFills != 0)
        Trace(Handle, "Read efficiency %.02f%%",
              (float64)Handle->ReadCopies / (float64)(Handle->ReadFills + Handle->ReadCopies) * 100.0);
    if (Handle->WriteCopies + Handle->WriteFlushes != 0)
        Trace(Handle, "Write efficiency %.02f%%",
              (float64)Handle->WriteCopies / (float64)(Handle->WriteFlushes + Handle->WriteCopies) * 100.0);
    StreamStruct *Base = Handle->Stream.BaseStreamHandle;
    return Base != nullptr ? Stream_Close(Base) : FALSE;
}
