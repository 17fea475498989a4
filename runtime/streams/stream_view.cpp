// StreamView: a stream over the caller's block. See stream_view.h.
#include "runtime/streams/stream_view.h"

#include <string.h>

#include <algorithm>

#include "runtime/debug.h"
#include "runtime/memory.h"

struct StreamView {
    ClassStruct Class;
    StreamStruct Stream;
    uint8 *Data; // the caller's block; null when closed
    int32 Capacity;
    int64 Position;
    int32 Used;
};

#define StreamView_Check(Handle) Class_CheckHandle((Handle), STREAMVIEW_CLASSID)

namespace {

int32 DeleteThroughClass(void *HandleAddress) { return StreamView_Delete(static_cast<StreamView **>(HandleAddress)); }

// Copies up to Length bytes from the position; the count of bytes copied.
uint32 CopyOut(StreamView *View, void *Buffer, uint32 Length) {
    const int64 Bytes = std::min<int64>(Length, View->Used - View->Position);
    if (View->Data == nullptr || Bytes <= 0) return 0;
    Debug_CheckPointer(Buffer);
    memcpy(Buffer, View->Data + View->Position, (size_t)Bytes);
    return (uint32)Bytes;
}

StreamView *Self(void *Handle) { return static_cast<StreamView *>(Handle); }

void FillSlots(StreamView *View) {
    StreamStruct *Record = &View->Stream;
    Record->Handle = View;
    Record->Peek = [](void *H, void *B, uint32 L, uint32 *C) { return StreamView_Peek(Self(H), B, L, C); };
    Record->Write = [](void *H, const void *B, uint32 L, uint32 *C) { return StreamView_Write(Self(H), B, L, C); };
    Record->Read = [](void *H, void *B, uint32 L, uint32 *C) { return StreamView_Read(Self(H), B, L, C); };
    Record->Seek = [](void *H, int64 O, int32 W) { return StreamView_Seek(Self(H), O, W); };
    Record->Tell = [](void *H, int64 *P) { return StreamView_Tell(Self(H), P); };
    Record->Length = [](void *H, int64 *L) { return StreamView_Length(Self(H), L); };
    Record->IsOpen = [](void *H) { return StreamView_IsOpen(Self(H)); };
    Record->Close = [](void *H) { return StreamView_Close(Self(H)); };
}

} // namespace

CLASS_DEFINE_REFERENCE(StreamView, StreamView, STREAMVIEW_CLASSID)

int32 StreamView_Create(StreamView **Handle) {
    Debug_CheckPointer(Handle);
    StreamView *View = Memory_New(StreamView);
    Class_InitHeader(View, STREAMVIEW_CLASSID, DeleteThroughClass);
    FillSlots(View);
    *Handle = View;
    return TRUE;
}

int32 StreamView_Delete(StreamView **Handle) {
    Debug_CheckPointer(Handle);
    StreamView *View = *Handle;
    StreamView_Check(View);
    StreamView_Close(View);
    View->Class.ClassId = 0;
    Memory_Delete(View);
    *Handle = nullptr;
    return TRUE;
}

int32 StreamView_GetStreamHandle(StreamView *Handle, StreamStruct **Record) {
    StreamView_Check(Handle);
    Debug_CheckPointer(Record);
    *Record = &Handle->Stream;
    return TRUE;
}

int32 StreamView_SetPointer(StreamView *Handle, void *Data, int32 Used, int32 Capacity) {
    StreamView_Check(Handle);
    if (Data != nullptr && (Capacity < 0 || Used < 0 || Used > Capacity)) return FALSE;
    StreamView_Close(Handle);
    if (Data == nullptr) return TRUE;
    Handle->Data = static_cast<uint8 *>(Data);
    Handle->Used = Used;
    Handle->Capacity = Capacity;
    Handle->Position = 0;
    return TRUE;
}

int32 StreamView_Peek(StreamView *Handle, void *Buffer, uint32 Length, uint32 *Count) {
    StreamView_Check(Handle);
    Debug_CheckPointer(Count);
    *Count = CopyOut(Handle, Buffer, Length);
    return *Count > 0;
}

int32 StreamView_Read(StreamView *Handle, void *Buffer, uint32 Length, uint32 *Count) {
    StreamView_Check(Handle);
    Debug_CheckPointer(Count);
    *Count = CopyOut(Handle, Buffer, Length);
    Handle->Position += *Count;
    return *Count > 0;
}

int32 StreamView_Write(StreamView *Handle, const void *Data, uint32 Length, uint32 *Count) {
    StreamView_Check(Handle);
    Debug_CheckPointer(Count);
    *Count = 0;
    const int64 Written = std::min<int64>(Length, Handle->Capacity - Handle->Position);
    if (Handle->Data == nullptr || Written <= 0) return FALSE;
    Debug_CheckPointer(Data);
    memcpy(Handle->Data + Handle->Position, Data, (size_t)Written);
    Handle->Position += Written;
    Handle->Used = (int32)std::max<int64>(Handle->Used, Handle->Position);
    *Count = (uint32)Written;
    return TRUE;
}

int32 StreamView_Seek(StreamView *Handle, int64 Offset, int32 Origin) {
    StreamView_Check(Handle);
    int64 Target = 0;
    if (!Stream_ResolveSeek(Handle->Position, Handle->Used, Offset, Origin, &Target)) return FALSE;
    if (Target < 0 || Target > Handle->Used) return FALSE;
    Handle->Position = Target;
    return TRUE;
}

int32 StreamView_Tell(StreamView *Handle, int64 *Position) {
    StreamView_Check(Handle);
    Debug_CheckPointer(Position);
    *Position = Handle->Position;
    return TRUE;
}

int32 StreamView_Length(StreamView *Handle, int64 *Length) {
    StreamView_Check(Handle);
    Debug_CheckPointer(Length);
    *Length = Handle->Used;
    return TRUE;
}

int32 StreamView_IsOpen(StreamView *Handle) {
    StreamView_Check(Handle);
    return Handle->Data != nullptr;
}

int32 StreamView_Close(StreamView *Handle) {
    StreamView_Check(Handle);
    Handle->Data = nullptr;
    Handle->Capacity = 0;
    Handle->Position = 0;
    Handle->Used = 0;
    return TRUE;
}
