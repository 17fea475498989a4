// Stream: the generic operations over the slot record. Each is a slot test
// and a call; the copies keep their buffers on the stack. See stream.h.
#include "runtime/streams/stream.h"

#include <string.h>

#include "runtime/debug.h"
#include "runtime/text/string_print.h"

namespace {

constexpr uint32 CopyBufferSize = 4096;
constexpr uint32 CopyLengthBufferSize = 16384;

template <typename Value>
int32 WriteValue(StreamStruct *Stream, Value Data, uint32 *Count) {
    return Stream_Write(Stream, &Data, sizeof(Data), Count);
}

template <typename Value>
int32 ReadValue(StreamStruct *Stream, Value *Data, uint32 *Count) {
    Debug_CheckPointer(Count);
    const int32 Result = Stream_Read(Stream, Data, sizeof(*Data), Count);
    return Result && *Count == sizeof(*Data);
}

// Where Stream_WritePrint sends its pieces, and whether one fell short.
struct PrintTarget {
    StreamStruct *Stream;
    bool Short;
};

} // namespace

int32 Stream_CanPeek(StreamStruct *Stream) { Debug_CheckPointer(Stream); return Stream->Peek != nullptr; }
int32 Stream_CanWrite(StreamStruct *Stream) { Debug_CheckPointer(Stream); return Stream->Write != nullptr; }
int32 Stream_CanWriteAsync(StreamStruct *Stream) { Debug_CheckPointer(Stream); return Stream->WriteAsync != nullptr; }
int32 Stream_CanRead(StreamStruct *Stream) { Debug_CheckPointer(Stream); return Stream->Read != nullptr; }
int32 Stream_CanReadAsync(StreamStruct *Stream) { Debug_CheckPointer(Stream); return Stream->ReadAsync != nullptr; }
int32 Stream_CanSeek(StreamStruct *Stream) { Debug_CheckPointer(Stream); return Stream->Seek != nullptr; }
int32 Stream_CanFlush(StreamStruct *Stream) { Debug_CheckPointer(Stream); return Stream->Flush != nullptr; }
int32 Stream_CanTell(StreamStruct *Stream) { Debug_CheckPointer(Stream); return Stream->Tell != nullptr; }
int32 Stream_CanLength(StreamStruct *Stream) { Debug_CheckPointer(Stream); return Stream->Length != nullptr; }
int32 Stream_CanIsOpen(StreamStruct *Stream) { Debug_CheckPointer(Stream); return Stream->IsOpen != nullptr; }
int32 Stream_CanClose(StreamStruct *Stream) { Debug_CheckPointer(Stream); return Stream->Close != nullptr; }

int32 Stream_Peek(StreamStruct *Stream, void *Buffer, uint32 Length, uint32 *Count) {
    Debug_CheckPointer(Stream);
    Debug_CheckPointer(Buffer);
    Debug_CheckPointer(Count);
    *Count = 0;
    if (Stream->Peek == nullptr) return FALSE;
    return Stream->Peek(Stream->Handle, Buffer, Length, Count);
}

int32 Stream_Write(StreamStruct *Stream, const void *Buffer, uint32 Length, uint32 *Count) {
    Debug_CheckPointer(Stream);
    Debug_CheckPointer(Buffer);
    Debug_CheckPointer(Count);
    *Count = 0;
    if (Stream->Write == nullptr) return FALSE;
    return Stream->Write(Stream->Handle, Buffer, Length, Count);
}

int32 Stream_Read(StreamStruct *Stream, void *Buffer, uint32 Length, uint32 *Count) {
    Debug_CheckPointer(Stream);
    Debug_CheckPointer(Buffer);
    Debug_CheckPointer(Count);
    *Count = 0;
    if (Stream->Read == nullptr) return FALSE;
    return Stream->Read(Stream->Handle, Buffer, Length, Count);
}

int32 Stream_WriteAsync(StreamStruct *Stream, int64 Offset, const void *Buffer, uint32 Length, void *Callback,
                        void *User) {
    Debug_CheckPointer(Stream);
    Debug_CheckPointer(Buffer);
    if (Stream->WriteAsync == nullptr) return FALSE;
    return Stream->WriteAsync(Stream->Handle, Offset, Buffer, Length, Callback, User);
}

int32 Stream_ReadAsync(StreamStruct *Stream, int64 Offset, void *Buffer, uint32 Length, void *Callback, void *User) {
    Debug_CheckPointer(Stream);
    Debug_CheckPointer(Buffer);
    if (Stream->ReadAsync == nullptr) return FALSE;
    return Stream->ReadAsync(Stream->Handle, Offset, Buffer, Length, Callback, User);
}

int32 Stream_Seek(StreamStruct *Stream, int64 Offset, int32 Origin) {
    Debug_CheckPointer(Stream);
    if (Stream->Seek == nullptr) return FALSE;
    return Stream->Seek(Stream->Handle, Offset, Origin);
}

int32 Stream_Flush(StreamStruct *Stream) {
    Debug_CheckPointer(Stream);
    if (Stream->Flush == nullptr) return FALSE;
    return Stream->Flush(Stream->Handle);
}

int32 Stream_Tell(StreamStruct *Stream, int64 *Position) {
    Debug_CheckPointer(Stream);
    Debug_CheckPointer(Position);
    *Position = 0;
    if (Stream->Tell == nullptr) return FALSE;
    return Stream->Tell(Stream->Handle, Position);
}

int32 Stream_Length(StreamStruct *Stream, int64 *Length) {
    Debug_CheckPointer(Stream);
    Debug_CheckPointer(Length);
    *Length = 0;
    if (Stream->Length == nullptr) return FALSE;
    return Stream->Length(Stream->Handle, Length);
}

int32 Stream_IsOpen(StreamStruct *Stream) {
    Debug_CheckPointer(Stream);
    if (Stream->IsOpen == nullptr) return FALSE;
    return Stream->IsOpen(Stream->Handle);
}

int32 Stream_Close(StreamStruct *Stream) {
    Debug_CheckPointer(Stream);
    if (Stream->Close == nullptr) return FALSE;
    return Stream->Close(Stream->Handle);
}

int32 Stream_WriteChar(StreamStruct *Stream, int32 Character, uint32 *Count) {
    return WriteValue(Stream, (uint8)Character, Count);
}

int32 Stream_WriteString(StreamStruct *Stream, const char *Text, uint32 *Count) {
    Debug_CheckPointer(Text);
    return Stream_Write(Stream, Text, (uint32)strlen(Text), Count);
}

int32 Stream_WriteInt16(StreamStruct *Stream, int16 Value, uint32 *Count) { return WriteValue(Stream, Value, Count); }
int32 Stream_WriteUInt16(StreamStruct *Stream, uint16 Value, uint32 *Count) { return WriteValue(Stream, Value, Count); }
int32 Stream_WriteInt32(StreamStruct *Stream, int32 Value, uint32 *Count) { return WriteValue(Stream, Value, Count); }
int32 Stream_WriteUInt32(StreamStruct *Stream, uint32 Value, uint32 *Count) { return WriteValue(Stream, Value, Count); }
int32 Stream_WriteInt64(StreamStruct *Stream, int64 Value, uint32 *Count) { return WriteValue(Stream, Value, Count); }
int32 Stream_WriteUInt64(StreamStruct *Stream, uint64 Value, uint32 *Count) { return WriteValue(Stream, Value, Count); }

int32 Stream_PrintCallback(void *User, const char *Text, int32 Length, uint32 *Written) {
    if (Length < 0) return FALSE;
    return Stream_Write(static_cast<StreamStruct *>(User), Text, (uint32)Length, Written);
}

// The print engine goes on after a piece the stream did not take; the write
// that fell short is remembered so that a cut text is not reported as
// written.
int32 Stream_WritePrint(StreamStruct *Stream, const char *Format, ...) {
    Debug_CheckPointer(Stream);
    PrintTarget Target{Stream, false};
    auto Write = [](void *User, const char *Text, int32 Length, uint32 *Written) -> int32 {
        auto *Sink = static_cast<PrintTarget *>(User);
        if (Length == 0) return TRUE;
        const int32 Result = Stream_PrintCallback(Sink->Stream, Text, Length, Written);
        if (!Result || *Written != (uint32)Length) Sink->Short = true;
        return Result;
    };
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = String_VPrintFormat(Format, &Target, Write, Arguments);
    va_end(Arguments);
    return Result && !Target.Short;
}

int32 Stream_ReadChar(StreamStruct *Stream, uint8 *Byte, uint32 *Count) { return Stream_Read(Stream, Byte, 1, Count); }
int32 Stream_ReadInt16(StreamStruct *Stream, int16 *Value, uint32 *Count) { return ReadValue(Stream, Value, Count); }
int32 Stream_ReadUInt16(StreamStruct *Stream, uint16 *Value, uint32 *Count) { return ReadValue(Stream, Value, Count); }
int32 Stream_ReadInt32(StreamStruct *Stream, int32 *Value, uint32 *Count) { return ReadValue(Stream, Value, Count); }
int32 Stream_ReadUInt32(StreamStruct *Stream, uint32 *Value, uint32 *Count) { return ReadValue(Stream, Value, Count); }
int32 Stream_ReadInt64(StreamStruct *Stream, int64 *Value, uint32 *Count) { return ReadValue(Stream, Value, Count); }
int32 Stream_ReadUInt64(StreamStruct *Stream, uint64 *Value, uint32 *Count) { return ReadValue(Stream, Value, Count); }

// The slots are called directly: the loop owns its buffer and counts. A read
// that delivers nothing ends the copy even when it reports success, so a
// source that never fails cannot keep the copy going forever; bytes that
// come with a failing read (a buffered stream's last piece) are still
// written before the copy ends.
int32 Stream_Copy(StreamStruct *Destination, StreamStruct *Source) {
    Debug_CheckPointer(Destination);
    Debug_CheckPointer(Source);
    uint8 Buffer[CopyBufferSize];
    while (Source->Read != nullptr) {
        uint32 Read = 0;
        const int32 ReadResult = Source->Read(Source->Handle, Buffer, CopyBufferSize, &Read);
        if (Read > CopyBufferSize) return FALSE;
        if (Read == 0) return TRUE;
        if (Destination->Write == nullptr) return FALSE;
        uint32 Written = 0;
        if (!Destination->Write(Destination->Handle, Buffer, Read, &Written) || Written != Read) return FALSE;
        if (!ReadResult) return TRUE;
    }
    return TRUE;
}

// A read that succeeds without bytes while some are still owed fails the
// copy: the source has ended early and waiting for more would never end.
int32 Stream_CopyLength(StreamStruct *Destination, StreamStruct *Source, int64 Length) {
    Debug_CheckPointer(Destination);
    Debug_CheckPointer(Source);
    if (Length < 0) return FALSE;
    uint8 Buffer[CopyLengthBufferSize];
    int64 Remaining = Length;
    while (Remaining > 0) {
        const uint32 Chunk = Remaining < CopyLengthBufferSize ? (uint32)Remaining : CopyLengthBufferSize;
        if (Source->Read == nullptr) return FALSE;
        uint32 Read = 0;
        if (!Source->Read(Source->Handle, Buffer, Chunk, &Read) || Read == 0 || Read > Chunk) return FALSE;
        if (Destination->Write == nullptr) return FALSE;
        uint32 Written = 0;
        if (!Destination->Write(Destination->Handle, Buffer, Read, &Written) || Written != Read) return FALSE;
        Remaining -= Written;
    }
    return TRUE;
}

bool Stream_ResolveSeek(int64 Position, int64 End, int64 Offset, int32 Origin, int64 *Target) {
    switch (Origin) {
    case STREAM_SEEK_SET: *Target = Offset; return true;
    case STREAM_SEEK_CUR: return !__builtin_add_overflow(Position, Offset, Target);
    case STREAM_SEEK_END: *Target = End; return true;
    default: return false;
    }
}

int32 Stream_HasError(StreamStruct *Stream) {
    Debug_CheckPointer(Stream);
    return Stream->LastError > 0;
}

int32 Stream_ClearLastError(StreamStruct *Stream) {
    Debug_CheckPointer(Stream);
    Stream->LastError = 0;
    return TRUE;
}

int32 Stream_SetLastError(StreamStruct *Stream, int32 Code) {
    Debug_CheckPointer(Stream);
    Stream->LastError = Code;
    return TRUE;
}

int32 Stream_GetLastError(StreamStruct *Stream) {
    Debug_CheckPointer(Stream);
    return Stream->LastError;
}

int32 Stream_SetBaseStreamHandle(StreamStruct *Stream, StreamStruct *Base) {
    Debug_CheckPointer(Stream);
    Stream->BaseStreamHandle = Base;
    return TRUE;
}
