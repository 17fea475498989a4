// Base64Stream: Base64 encoding on Read and decoding on Write over a base
// stream, through one 1,024-byte buffer (see base64_stream.h).
//
// Between calls the buffer holds only read-ahead bytes of the base: Write
// hands every byte it decodes to the base before it returns, and drops any
// read-ahead first, so the two directions never share buffered bytes. The
// unfinished group of Write (0 to 3 sextets) is the only state that outlives
// a Write call.
#include "runtime/streams/base64_stream.h"

#include <string.h>

#include <algorithm>

#include "runtime/text/base64.h"
#include "runtime/debug.h"
#include "runtime/memory.h"

namespace {

constexpr int32 BufferSize = 1024;

} // namespace

struct Base64Stream {
    ClassStruct Class;
    StreamStruct Stream;
    uint8 Buffer[BufferSize];
    int32 Used;   // bytes in Buffer
    int32 Offset; // reading: the first buffered byte not yet encoded
    // Writing: the sextets of the unfinished group, oldest in the high bits.
    uint32 GroupBits;
    int32 GroupCount;
};

#define Base64Stream_Check(Handle) Class_CheckHandle((Handle), BASE64STREAM_CLASSID)

namespace {

StreamStruct *BaseOf(Base64Stream *Stream) { return Stream->Stream.BaseStreamHandle; }

void Reset(Base64Stream *Stream) {
    Stream->Used = 0;
    Stream->Offset = 0;
    Stream->GroupBits = 0;
    Stream->GroupCount = 0;
}

// Hands the buffered bytes to the base; they are gone either way, and a
// base that takes fewer fails the write.
bool FlushBuffer(Base64Stream *Stream) {
    if (Stream->Used == 0) return true;
    uint32 Written = 0;
    const int32 Result = Stream_Write(BaseOf(Stream), Stream->Buffer, (uint32)Stream->Used, &Written);
    const bool Complete = Result && Written == (uint32)Stream->Used;
    Stream->Used = 0;
    return Complete;
}

bool PutByte(Base64Stream *Stream, uint8 Byte) {
    if (Stream->Used == BufferSize && !FlushBuffer(Stream)) return false;
    Stream->Buffer[Stream->Used++] = Byte;
    return true;
}

// The bytes a fourth sextet or a "=" completes: 2 sextets carry one byte, 3
// carry two, 4 carry three; 0 or 1 carry none.
bool CompleteGroup(Base64Stream *Stream) {
    const int32 Sextets = Stream->GroupCount;
    const uint32 Bits = Stream->GroupBits << (6 * (4 - Sextets));
    Stream->GroupBits = 0;
    Stream->GroupCount = 0;
    for (int32 Index = 0; Index < Sextets - 1; Index++)
        if (!PutByte(Stream, (uint8)(Bits >> (16 - 8 * Index)))) return false;
    return true;
}

// Moves the unencoded rest (fewer than three bytes) to the front and fills
// the buffer behind it from the base: false when the base has no more.
bool Refill(Base64Stream *Stream) {
    const int32 Rest = Stream->Used - Stream->Offset;
    if (Rest > 0) memmove(Stream->Buffer, Stream->Buffer + Stream->Offset, (size_t)Rest);
    Stream->Used = Rest;
    Stream->Offset = 0;
    uint32 Got = 0;
    const uint32 Room = (uint32)(BufferSize - Rest);
    if (!Stream_Read(BaseOf(Stream), Stream->Buffer + Rest, Room, &Got) || Got == 0) return false;
    Stream->Used += (int32)std::min(Got, Room);
    return true;
}

int32 DeleteThroughClass(void *HandleAddress) {
    return Base64Stream_Delete(static_cast<Base64Stream **>(HandleAddress));
}

// Stream slots: the record's Handle is the Base64 stream.
Base64Stream *Self(void *Handle) { return static_cast<Base64Stream *>(Handle); }

void FillSlots(Base64Stream *Stream) {
    StreamStruct *Record = &Stream->Stream;
    Record->Handle = Stream;
    Record->Write = [](void *H, const void *B, uint32 L, uint32 *C) { return Base64Stream_Write(Self(H), B, L, C); };
    Record->Read = [](void *H, void *B, uint32 L, uint32 *C) { return Base64Stream_Read(Self(H), B, L, C); };
    Record->Seek = [](void *H, int64 O, int32 W) { return Base64Stream_Seek(Self(H), O, W); };
    Record->Flush = [](void *H) { return Base64Stream_Flush(Self(H)); };
    Record->Tell = [](void *H, int64 *P) { return Base64Stream_Tell(Self(H), P); };
    Record->Length = [](void *H, int64 *L) { return Base64Stream_Length(Self(H), L); };
    Record->IsOpen = [](void *H) { return Base64Stream_IsOpen(Self(H)); };
    Record->Close = [](void *H) { return Base64Stream_Close(Self(H)); };
}

} // namespace

CLASS_DEFINE_REFERENCE(Base64Stream, Base64Stream, BASE64STREAM_CLASSID)

int32 Base64Stream_Create(Base64Stream **Handle) {
    Debug_CheckPointer(Handle);
    Base64Stream *Stream = Memory_New(Base64Stream);
    Class_InitHeader(Stream, BASE64STREAM_CLASSID, DeleteThroughClass);
    Class_GenerateInstanceId(Stream);
    FillSlots(Stream);
    *Handle = Stream;
    return TRUE;
}

int32 Base64Stream_Delete(Base64Stream **Handle) {
    Debug_CheckPointer(Handle);
    Base64Stream *Stream = *Handle;
    Base64Stream_Check(Stream);
    Stream->Class.ClassId = 0;
    Memory_Delete(Stream);
    *Handle = nullptr;
    return TRUE;
}

int32 Base64Stream_GetStreamHandle(Base64Stream *Handle, StreamStruct **Record) {
    Base64Stream_Check(Handle);
    Debug_CheckPointer(Record);
    *Record = &Handle->Stream;
    return TRUE;
}

int32 Base64Stream_SetBaseStreamHandle(Base64Stream *Handle, StreamStruct *Base) {
    Base64Stream_Check(Handle);
    return Stream_SetBaseStreamHandle(&Handle->Stream, Base);
}

int32 Base64Stream_Read(Base64Stream *Handle, void *Output, uint32 Size, uint32 *Count) {
    Base64Stream_Check(Handle);
    Debug_CheckPointer(Count);
    *Count = 0;
    StreamStruct *Base = BaseOf(Handle);
    if (Base == nullptr || !Stream_CanRead(Base) || Size < 1) return FALSE;
    Debug_CheckPointer(Output);
    char *Text = static_cast<char *>(Output);
    const uint32 Room = Size / 4 * 4;
    uint32 Produced = 0;
    bool Ended = false;
    while (Produced < Room) {
        const int32 Available = Handle->Used - Handle->Offset;
        if (Available < 3 && !Ended) {
            Ended = !Refill(Handle);
            continue;
        }
        if (Available == 0) break;
        // Whole groups while there are any; the last one or two bytes only
        // once the base has ended.
        const int32 Bytes =
            Available >= 3 ? (int32)std::min<uint32>((uint32)Available / 3, (Room - Produced) / 4) * 3 : Available;
        int32 Written = 0;
        Base64_Encode(Handle->Buffer + Handle->Offset, Bytes, Text + Produced, (Bytes + 2) / 3 * 4, &Written);
        Handle->Offset += Bytes;
        Produced += (uint32)Written;
    }
    *Count = Produced;
    return Produced > 0;
}

int32 Base64Stream_Write(Base64Stream *Handle, const void *Text, uint32 Length, uint32 *Count) {
    Base64Stream_Check(Handle);
    Debug_CheckPointer(Count);
    *Count = 0;
    StreamStruct *Base = BaseOf(Handle);
    if (Base == nullptr || !Stream_CanWrite(Base)) return FALSE;
    if (Length > 0) Debug_CheckPointer(Text);
    Handle->Used = 0; // read-ahead of the other direction
    Handle->Offset = 0;
    const uint8 *Characters = static_cast<const uint8 *>(Text);
    for (uint32 Index = 0; Index < Length; Index++) {
        const uint8 Character = Characters[Index];
        bool Stored = true;
        // "=" reads as 0 in the lookup table, so it is told apart first.
        if (Character == '=') {
            Stored = CompleteGroup(Handle);
        } else if ((Base64DecodeLookup[Character] & 128) == 0) {
            Handle->GroupBits = Handle->GroupBits << 6 | Base64DecodeLookup[Character];
            if (++Handle->GroupCount == 4) Stored = CompleteGroup(Handle);
        }
        if (!Stored) {
            *Count = Index;
            return FALSE;
        }
    }
    *Count = Length;
    return FlushBuffer(Handle);
}

int32 Base64Stream_Seek(Base64Stream *Handle, int64 Offset, int32 Origin) {
    Base64Stream_Check(Handle);
    if (Offset != 0 || Origin != STREAM_SEEK_SET || BaseOf(Handle) == nullptr) return FALSE;
    Reset(Handle);
    return Stream_Seek(BaseOf(Handle), 0, STREAM_SEEK_SET);
}

int32 Base64Stream_Flush(Base64Stream *Handle) {
    Base64Stream_Check(Handle);
    StreamStruct *Base = BaseOf(Handle);
    return Base != nullptr && Stream_CanWrite(Base) ? Stream_Flush(Base) : FALSE;
}

int32 Base64Stream_Tell(Base64Stream *Handle, int64 *Position) {
    Base64Stream_Check(Handle);
    Debug_CheckPointer(Position);
    *Position = 0;
    return BaseOf(Handle) != nullptr ? Stream_Tell(BaseOf(Handle), Position) : FALSE;
}

int32 Base64Stream_Length(Base64Stream *Handle, int64 *Length) {
    Base64Stream_Check(Handle);
    Debug_CheckPointer(Length);
    *Length = 0;
    return BaseOf(Handle) != nullptr ? Stream_Length(BaseOf(Handle), Length) : FALSE;
}

int32 Base64Stream_IsOpen(Base64Stream *Handle) {
    Base64Stream_Check(Handle);
    return BaseOf(Handle) != nullptr ? Stream_IsOpen(BaseOf(Handle)) : FALSE;
}

int32 Base64Stream_Close(Base64Stream *Handle) {
    Base64Stream_Check(Handle);
    Reset(Handle);
    return BaseOf(Handle) != nullptr ? Stream_Close(BaseOf(Handle)) : FALSE;
}
