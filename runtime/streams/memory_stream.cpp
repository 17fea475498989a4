// MemoryStream: growable byte buffer, file-like stream and front-consumed
// queue in one. See memory_stream.h for the invariants.
//
// The private helpers below run with the lock already taken (or without
// locks) and keep the invariants themselves: Size never exceeds Capacity,
// Used never exceeds Size, Position never exceeds Used. A write therefore
// writes only what the buffer can hold after growing, however large the
// request, and discards and rollbacks never take Used below 0 or above
// what is really there.
#include "runtime/streams/memory_stream.h"

#include <string.h>

#include <algorithm>

#include "runtime/critical_section.h"
#include "runtime/debug.h"
#include "runtime/memory.h"
#include "runtime/text/string_print.h"

struct MemoryStream {
    ClassStruct Class;
    StreamStruct Stream;
    uint8 *Buffer;
    int32 RefCount; // pins handed out and not yet released (atomic)
    int32 Capacity;
    int32 MaxCapacity; // 0 or below: no bound
    int32 Size;
    int64 Position;
    int32 IsOpen;
    int32 IsForeign;
    int32 AutoGrow;
    int32 Used;
    int32 TransactionStart; // Used at the start of the open transaction; -1 when none
    int32 AllowLock;
    void *Lock;
    int32 TransactionLocked; // 1 while the open transaction holds the lock
};

#define MemoryStream_Check(Handle) Class_CheckHandle((Handle), MEMORYSTREAM_CLASSID)

namespace {

// Writes grow the buffer by at least this much.
constexpr int64 GrowthStep = 4096;
// Largest buffer the stream allocates (sizes are 32-bit, the allocator adds
// its guards).
constexpr int64 MaximumCapacity = 0x7fff0000;

// Takes the stream's lock for a scope when locks are allowed.
struct StreamLock : CriticalSectionGuard {
    explicit StreamLock(MemoryStream *Stream) : CriticalSectionGuard(Stream->AllowLock == 1 ? Stream->Lock : nullptr) {}
};

int32 PinCount(MemoryStream *Stream) { return __atomic_load_n(&Stream->RefCount, __ATOMIC_ACQUIRE); }

void CheckNoPins(MemoryStream *Stream) {
    const int32 Pins = PinCount(Stream);
    if (Pins != 0)
        Debug_Abort("Assertion failed (MemoryStream->RefCount == 0)\n"
                    "Reference to buffer not released before being reset [%d]\n",
                    Pins);
}

void ClampPosition(MemoryStream *Stream) { Stream->Position = std::min<int64>(Stream->Position, Stream->Used); }

void CloseBuffer(MemoryStream *Stream) {
    CheckNoPins(Stream);
    if (Stream->Buffer != nullptr && !Stream->IsForeign) Memory_Free(Stream->Buffer, Stream->Capacity);
    Stream->Buffer = nullptr;
    Stream->Capacity = 0;
    Stream->Used = 0;
    Stream->Size = 0;
    Stream->Position = 0;
    Stream->IsOpen = FALSE;
    Stream->IsForeign = FALSE;
}

int32 Resize(MemoryStream *Stream, int64 Size, int32 KeepData, int32 Reallocate, const char *File, int32 Line) {
    if (Stream->IsForeign) return FALSE;
    if (Size < 0 || Size > MaximumCapacity) return FALSE;
    if (Size == 0) {
        CloseBuffer(Stream);
        return TRUE;
    }
    const bool Keep = KeepData == 1;
    const bool Bounded = Stream->MaxCapacity > 0;
    // The buffer stays when it is large enough, or already as large as the
    // bound allows (a new one could not be larger).
    const bool Fits = Stream->Capacity >= Size || (Bounded && Stream->Capacity >= Stream->MaxCapacity);
    if (Fits && Reallocate != 1) {
        Stream->Size = (int32)std::min<int64>(Size, Stream->Capacity);
    } else {
        int64 Capacity = Stream->Capacity == 0 ? Size : std::min(Size + Size / 2, MaximumCapacity);
        if (Bounded) Capacity = std::min<int64>(Capacity, Stream->MaxCapacity);
        CheckNoPins(Stream);
        uint8 *Buffer = static_cast<uint8 *>(Memory_AllocInt((int32)Capacity, MEMORY_FLAG_PLAIN, File, Line));
        const int32 NewSize = (int32)std::min(Size, Capacity);
        const int32 Kept = Keep ? std::min({Stream->Used, Stream->Size, NewSize}) : 0;
        if (Kept > 0) memcpy(Buffer, Stream->Buffer, (size_t)Kept);
        if (Stream->Buffer != nullptr) Memory_Free(Stream->Buffer, Stream->Capacity);
        Stream->Buffer = Buffer;
        Stream->Capacity = (int32)Capacity;
        Stream->Size = NewSize;
        Stream->Used = Kept;
    }
    if (Keep) {
        Stream->Used = std::min(Stream->Used, Stream->Size);
        ClampPosition(Stream);
    } else {
        Stream->Used = 0;
        Stream->Position = 0;
    }
    Stream->IsOpen = TRUE;
    return TRUE;
}

// Writes at the position (or, appending, behind the data), growing the
// buffer when AutoGrow allows; only what fits is written.
int32 WriteAt(MemoryStream *Stream, bool Append, const void *Data, uint32 Length, uint32 *Count) {
    *Count = 0;
    auto Offset = [Stream, Append]() -> int64 { return Append ? Stream->Used : Stream->Position; };
    int64 Room = Stream->Size - Offset();
    if ((int64)Length > Room && Stream->AutoGrow == 1 && !Stream->IsForeign) {
        const int64 Target = std::min(Stream->Size + std::max((int64)Length - Room, GrowthStep), MaximumCapacity);
        if (!Resize(Stream, Target, TRUE, FALSE, __FILE__, __LINE__)) return FALSE;
        Room = Stream->Size - Offset();
    }
    const int64 Written = std::min<int64>(Length, Room);
    if (Written <= 0) return FALSE;
    const int64 At = Offset();
    memcpy(Stream->Buffer + At, Data, (size_t)Written);
    Stream->Used = (int32)std::max<int64>(Stream->Used, At + Written);
    *Count = (uint32)Written;
    return TRUE;
}

// Write and Put: an empty write answers 0, and a write at the position (not
// appended) moves the position past what it wrote.
int32 LockedWrite(MemoryStream *Stream, bool Append, const void *Data, uint32 Length, uint32 *Count) {
    Debug_CheckPointer(Count);
    *Count = 0;
    if (Length == 0) return FALSE;
    Debug_CheckPointer(Data);
    StreamLock Guard(Stream);
    if (!WriteAt(Stream, Append, Data, Length, Count)) return FALSE;
    if (!Append) Stream->Position += *Count;
    return TRUE;
}

void DiscardFront(MemoryStream *Stream, int64 Bytes) {
    Bytes = std::clamp<int64>(Bytes, 0, Stream->Used);
    if (Bytes == 0) return;
    const int64 Rest = Stream->Used - Bytes;
    if (Rest > 0) memmove(Stream->Buffer, Stream->Buffer + Bytes, (size_t)Rest);
    Stream->Used = (int32)Rest;
    ClampPosition(Stream);
}

int32 GetPointerAtOffset(MemoryStream *Stream, int64 Offset, void *PointerAddress) {
    Debug_CheckPointer(PointerAddress);
    void **Pointer = static_cast<void **>(PointerAddress);
    uint8 *Buffer = Stream->Buffer;
    if (Buffer == nullptr || Offset < 0 || Offset > Stream->Capacity) {
        *Pointer = nullptr;
        return FALSE;
    }
    *Pointer = Buffer + Offset;
    __atomic_add_fetch(&Stream->RefCount, 1, __ATOMIC_ACQ_REL);
    return TRUE;
}

int32 DeleteThroughClass(void *HandleAddress) {
    return MemoryStream_Delete(static_cast<MemoryStream **>(HandleAddress));
}

// Stream slots: the record's Handle is the memory stream.
MemoryStream *Self(void *Handle) { return static_cast<MemoryStream *>(Handle); }

void FillSlots(MemoryStream *Stream) {
    StreamStruct *Record = &Stream->Stream;
    Record->Handle = Stream;
    Record->Write = [](void *H, const void *B, uint32 L, uint32 *C) { return MemoryStream_Write(Self(H), B, L, C); };
    Record->Read = [](void *H, void *B, uint32 L, uint32 *C) { return MemoryStream_Read(Self(H), B, L, C); };
    Record->Seek = [](void *H, int64 O, int32 W) { return MemoryStream_Seek(Self(H), O, W); };
    Record->Tell = [](void *H, int64 *P) { return MemoryStream_Tell(Self(H), P); };
    Record->Length = [](void *H, int64 *L) { return MemoryStream_Length(Self(H), L); };
    Record->IsOpen = [](void *H) { return MemoryStream_IsOpen(Self(H)); };
    Record->Close = [](void *H) { return MemoryStream_Close(Self(H)); };
}

} // namespace

CLASS_DEFINE_REFERENCE(MemoryStream, MemoryStream, MEMORYSTREAM_CLASSID)

int32 MemoryStream_Create(MemoryStream **Handle) {
    Debug_CheckPointer(Handle);
    MemoryStream *Stream = Memory_New(MemoryStream);
    Class_InitHeader(Stream, MEMORYSTREAM_CLASSID, DeleteThroughClass);
    FillSlots(Stream);
    Stream->TransactionStart = -1;
    *Handle = Stream;
    return TRUE;
}

int32 MemoryStream_Delete(MemoryStream **Handle) {
    Debug_CheckPointer(Handle);
    MemoryStream *Stream = *Handle;
    MemoryStream_Check(Stream);
    CloseBuffer(Stream);
    if (Stream->TransactionLocked) CriticalSection_Unlock(Stream->Lock);
    if (Stream->Lock != nullptr) CriticalSection_Delete(&Stream->Lock);
    Stream->Class.ClassId = 0;
    Memory_Delete(Stream);
    *Handle = nullptr;
    return TRUE;
}

int32 MemoryStream_GetStreamHandle(MemoryStream *Handle, StreamStruct **Record) {
    MemoryStream_Check(Handle);
    Debug_CheckPointer(Record);
    *Record = &Handle->Stream;
    return TRUE;
}

int32 MemoryStream_SetAutoGrow(MemoryStream *Handle, int32 Flag) {
    MemoryStream_Check(Handle);
    Handle->AutoGrow = Flag;
    return TRUE;
}

int32 MemoryStream_GetAutoGrow(MemoryStream *Handle, int32 *Flag) {
    MemoryStream_Check(Handle);
    Debug_CheckPointer(Flag);
    *Flag = Handle->AutoGrow;
    return TRUE;
}

int32 MemoryStream_SetMaxCapacity(MemoryStream *Handle, int32 Bytes) {
    MemoryStream_Check(Handle);
    Handle->MaxCapacity = Bytes;
    return TRUE;
}

int32 MemoryStream_SetAllowLock(MemoryStream *Handle, int32 Allow) {
    MemoryStream_Check(Handle);
    if (Allow == 1 && Handle->Lock == nullptr) CriticalSection_Create(&Handle->Lock);
    if (Allow != 1 && Handle->Lock != nullptr) CriticalSection_Delete(&Handle->Lock);
    Handle->AllowLock = Allow;
    return TRUE;
}

int32 MemoryStream_GetAllowLock(MemoryStream *Handle, int32 *Allow) {
    MemoryStream_Check(Handle);
    Debug_CheckPointer(Allow);
    *Allow = Handle->AllowLock;
    return TRUE;
}

int32 MemoryStream_SizeInt(MemoryStream *Handle, int32 Size, int32 KeepData, int32 Reallocate, const char *File,
                           int32 Line) {
    MemoryStream_Check(Handle);
    if (Handle->IsForeign) return FALSE;
    StreamLock Guard(Handle);
    return Resize(Handle, Size, KeepData, Reallocate, File, Line);
}

int32 MemoryStream_Close(MemoryStream *Handle) {
    MemoryStream_Check(Handle);
    StreamLock Guard(Handle);
    CloseBuffer(Handle);
    return TRUE;
}

int32 MemoryStream_DiscardAll(MemoryStream *Handle) {
    MemoryStream_Check(Handle);
    StreamLock Guard(Handle);
    Handle->Used = 0;
    Handle->Position = 0;
    return TRUE;
}

int32 MemoryStream_SetPointer(MemoryStream *Handle, void *Data, int32 Used, int32 Capacity) {
    MemoryStream_Check(Handle);
    if (Data != nullptr && (Capacity < 0 || Used < 0 || Used > Capacity)) return FALSE;
    StreamLock Guard(Handle);
    CloseBuffer(Handle);
    if (Data == nullptr) return TRUE;
    Handle->Buffer = static_cast<uint8 *>(Data);
    Handle->Size = Handle->Capacity = Capacity;
    Handle->Used = Used;
    Handle->Position = 0;
    Handle->IsOpen = TRUE;
    Handle->IsForeign = TRUE;
    return TRUE;
}

int32 MemoryStream_GetPointerAt(MemoryStream *Handle, int32 Offset, void *PointerAddress) {
    MemoryStream_Check(Handle);
    return GetPointerAtOffset(Handle, Offset, PointerAddress);
}

int32 MemoryStream_GetPointer(MemoryStream *Handle, void *PointerAddress) {
    MemoryStream_Check(Handle);
    return GetPointerAtOffset(Handle, 0, PointerAddress);
}

int32 MemoryStream_GetAvailablePointer(MemoryStream *Handle, void *PointerAddress) {
    MemoryStream_Check(Handle);
    return GetPointerAtOffset(Handle, Handle->Used, PointerAddress);
}

int32 MemoryStream_ReleasePointer(MemoryStream *Handle, void *PointerAddress) {
    MemoryStream_Check(Handle);
    Debug_CheckPointer(PointerAddress);
    void **Pointer = static_cast<void **>(PointerAddress);
    if (*Pointer != nullptr) __atomic_sub_fetch(&Handle->RefCount, 1, __ATOMIC_ACQ_REL);
    *Pointer = nullptr;
    return TRUE;
}

int32 MemoryStream_GetUsed(MemoryStream *Handle) {
    MemoryStream_Check(Handle);
    StreamLock Guard(Handle);
    return Handle->Used;
}

// The room queries read Used under the lock like GetUsed: a producer asks
// for room on one thread while the consumer takes bytes on another.
int32 MemoryStream_GetAvailable(MemoryStream *Handle) {
    MemoryStream_Check(Handle);
    StreamLock Guard(Handle);
    return Handle->Size - Handle->Used;
}

int32 MemoryStream_GetAvailableCapacity(MemoryStream *Handle) {
    MemoryStream_Check(Handle);
    StreamLock Guard(Handle);
    if (Handle->MaxCapacity <= 0) return 0;
    return std::max(Handle->MaxCapacity - Handle->Used, 0);
}

int32 MemoryStream_GetSize(MemoryStream *Handle) {
    MemoryStream_Check(Handle);
    return Handle->Size;
}

int32 MemoryStream_GetCapacity(MemoryStream *Handle) {
    MemoryStream_Check(Handle);
    return Handle->Capacity;
}

int32 MemoryStream_Write(MemoryStream *Handle, const void *Data, uint32 Length, uint32 *Count) {
    MemoryStream_Check(Handle);
    return LockedWrite(Handle, false, Data, Length, Count);
}

int32 MemoryStream_Read(MemoryStream *Handle, void *Buffer, uint32 Length, uint32 *Count) {
    MemoryStream_Check(Handle);
    Debug_CheckPointer(Count);
    *Count = 0;
    StreamLock Guard(Handle);
    const int64 Bytes = std::min<int64>(Length, Handle->Used - Handle->Position);
    if (Bytes <= 0) return FALSE;
    Debug_CheckPointer(Buffer);
    memcpy(Buffer, Handle->Buffer + Handle->Position, (size_t)Bytes);
    Handle->Position += Bytes;
    *Count = (uint32)Bytes;
    return TRUE;
}

int32 MemoryStream_Seek(MemoryStream *Handle, int64 Offset, int32 Origin) {
    MemoryStream_Check(Handle);
    int64 Target = 0;
    if (!Stream_ResolveSeek(Handle->Position, Handle->Used, Offset, Origin, &Target)) return FALSE;
    if (Target < 0 || Target > Handle->Used) return FALSE;
    Handle->Position = Target;
    return TRUE;
}

int32 MemoryStream_Tell(MemoryStream *Handle, int64 *Position) {
    MemoryStream_Check(Handle);
    Debug_CheckPointer(Position);
    *Position = Handle->Position;
    return TRUE;
}

int32 MemoryStream_Length(MemoryStream *Handle, int64 *Length) {
    MemoryStream_Check(Handle);
    Debug_CheckPointer(Length);
    StreamLock Guard(Handle);
    *Length = Handle->Used;
    return TRUE;
}

int32 MemoryStream_IsOpen(MemoryStream *Handle) {
    MemoryStream_Check(Handle);
    return Handle->IsOpen;
}

int32 MemoryStream_Put(MemoryStream *Handle, const void *Data, uint32 Length, uint32 *Count) {
    MemoryStream_Check(Handle);
    return LockedWrite(Handle, true, Data, Length, Count);
}

int32 MemoryStream_Get(MemoryStream *Handle, void *Buffer, uint32 Length, uint32 *Count) {
    MemoryStream_Check(Handle);
    Debug_CheckPointer(Count);
    *Count = 0;
    StreamLock Guard(Handle);
    const int64 Bytes = std::min<int64>(Length, Handle->Used);
    if (Buffer != nullptr) {
        if (Bytes <= 0) return FALSE;
        memcpy(Buffer, Handle->Buffer, (size_t)Bytes);
    }
    DiscardFront(Handle, Bytes);
    *Count = (uint32)Bytes;
    return TRUE;
}

int32 MemoryStream_DiscardBegin(MemoryStream *Handle, int32 Bytes) {
    MemoryStream_Check(Handle);
    StreamLock Guard(Handle);
    DiscardFront(Handle, Bytes);
    return Handle->Used > 0;
}

int32 MemoryStream_DiscardEnd(MemoryStream *Handle, int32 Bytes) {
    MemoryStream_Check(Handle);
    StreamLock Guard(Handle);
    Handle->Used -= std::clamp(Bytes, 0, Handle->Used);
    ClampPosition(Handle);
    return TRUE;
}

int32 MemoryStream_Claim(MemoryStream *Handle, int32 Bytes) {
    MemoryStream_Check(Handle);
    StreamLock Guard(Handle);
    if (Bytes < 0 || (int64)Handle->Used + Bytes > Handle->Size) return FALSE;
    Handle->Used += Bytes;
    return TRUE;
}

int32 MemoryStream_Fill(MemoryStream *Destination, MemoryStream *Source) {
    MemoryStream_Check(Destination);
    MemoryStream_Check(Source);
    if (Destination == Source) return FALSE;
    StreamLock DestinationGuard(Destination);
    StreamLock SourceGuard(Source);
    const bool Bounded = Destination->MaxCapacity > 0;
    const bool Full = Bounded && Destination->Used >= Destination->MaxCapacity;
    if (Source->Used == 0) return !Full;
    int64 Amount = Source->Used;
    if (Bounded) Amount = std::clamp<int64>(Destination->MaxCapacity - Destination->Used, 0, Amount);
    if (Amount == 0) return FALSE;
    uint32 Count = 0;
    const int32 Result = WriteAt(Destination, true, Source->Buffer, (uint32)Amount, &Count);
    if (!Result || Count == 0) return Result;
    DiscardFront(Source, Count);
    return TRUE;
}

int32 MemoryStream_ReadToWriteCallback(MemoryStream *Handle, void *User, MemoryStream_TransferFunc Callback,
                                       int32 *Count) {
    MemoryStream_Check(Handle);
    Debug_CheckPointer(Callback);
    Debug_CheckPointer(Count);
    *Count = 0;
    StreamLock Guard(Handle);
    const int64 Offered = Handle->Used - Handle->Position;
    if (Offered <= 0) return TRUE;
    int32 Done = 0;
    const int32 Result = Callback(User, Handle->Buffer + Handle->Position, (int32)Offered, &Done);
    if (Result == 1) {
        const int32 Taken = (int32)std::clamp<int64>(Done, 0, Offered);
        DiscardFront(Handle, Taken);
        *Count = Taken;
    }
    return Result;
}

// The room offered lies behind the data, where a queue's next bytes belong:
// in queue style the position stays at 0, and handing out the room from
// there would let the producer overwrite bytes not yet consumed.
int32 MemoryStream_WriteFromReadCallback(MemoryStream *Handle, void *User, MemoryStream_TransferFunc Callback,
                                         int32 *Count) {
    MemoryStream_Check(Handle);
    Debug_CheckPointer(Callback);
    Debug_CheckPointer(Count);
    *Count = 0;
    StreamLock Guard(Handle);
    const int32 Room = Handle->Size - Handle->Used;
    uint8 *At = Handle->Buffer != nullptr ? Handle->Buffer + Handle->Used : nullptr;
    int32 Done = 0;
    const int32 Result = Callback(User, At, Room, &Done);
    if (Result == 1) {
        const int32 Produced = std::clamp(Done, 0, Room);
        Handle->Used += Produced;
        *Count = Produced;
    }
    return Result;
}

int32 MemoryStream_Print(MemoryStream *Handle, const char *Format, ...) {
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = MemoryStream_VPrint(Handle, Format, Arguments);
    va_end(Arguments);
    return Result;
}

int32 MemoryStream_VPrint(MemoryStream *Handle, const char *Format, va_list Arguments) {
    MemoryStream_Check(Handle);
    Debug_CheckPointer(Format);
    va_list Measure;
    va_copy(Measure, Arguments);
    const int64 Length = String_GetVPrintLength(Format, Measure);
    va_end(Measure);
    if (Length <= 0) return TRUE;
    StreamLock Guard(Handle);
    // The text is printed with its terminator, which needs one byte of room
    // beyond the counted length.
    if ((int64)Handle->Size - Handle->Used <= Length) {
        if (Handle->AutoGrow != 1 || Handle->IsForeign) return FALSE;
        const int64 Target = std::min(Handle->Size + std::max(Length + 1, GrowthStep), MaximumCapacity);
        if (!Resize(Handle, Target, TRUE, FALSE, __FILE__, __LINE__)) return FALSE;
        if ((int64)Handle->Size - Handle->Used <= Length) return FALSE;
    }
    String_VPrint(reinterpret_cast<char *>(Handle->Buffer + Handle->Used), (int32)(Length + 1), Format, Arguments);
    Handle->Used += (int32)Length;
    return TRUE;
}

int32 MemoryStream_TransactionActive(MemoryStream *Handle) {
    MemoryStream_Check(Handle);
    return Handle->TransactionStart != -1;
}

int32 MemoryStream_TransactionStart(MemoryStream *Handle) {
    MemoryStream_Check(Handle);
    const bool Locked = Handle->AllowLock == 1 && Handle->Lock != nullptr;
    if (Locked) CriticalSection_Lock(Handle->Lock);
    if (Handle->TransactionStart != -1)
        Debug_Abort("Assertion failed (MemoryStream->TransactionStart == -1)\nBuffer already in transaction");
    Handle->TransactionStart = Handle->Used;
    Handle->TransactionLocked = Locked;
    return TRUE;
}

// A rollback after bytes were taken from the front cannot tell them from the
// bytes added: it keeps no more than what is still held, so it never claims
// bytes that are not there.
int32 MemoryStream_TransactionEnd(MemoryStream *Handle, int32 Rollback) {
    MemoryStream_Check(Handle);
    if (Handle->TransactionStart == -1)
        Debug_Abort("Assertion failed (MemoryStream->TransactionStart != -1)\nBuffer not in transaction");
    if (Rollback == 1) {
        Handle->Used = std::min(Handle->Used, Handle->TransactionStart);
        ClampPosition(Handle);
    }
    Handle->TransactionStart = -1;
    if (Handle->TransactionLocked) {
        Handle->TransactionLocked = FALSE;
        CriticalSection_Unlock(Handle->Lock);
    }
    return TRUE;
}

int32 MemoryStream_Lock(MemoryStream *Handle) {
    MemoryStream_Check(Handle);
    if (Handle->AllowLock != 1 || Handle->Lock == nullptr) return FALSE;
    return CriticalSection_Lock(Handle->Lock);
}

int32 MemoryStream_Unlock(MemoryStream *Handle) {
    MemoryStream_Check(Handle);
    if (Handle->AllowLock != 1 || Handle->Lock == nullptr) return FALSE;
    return CriticalSection_Unlock(Handle->Lock);
}
