// Pipe: see pipe.h.
#include "platform/pipe.h"

#include <errno.h>
#include <string.h>

#include "runtime/memory.h"
#include "runtime/notification/notification_center.h"
#include "runtime/posix/platform.h"
#include "runtime/posix/platform_pipe.h"
#include "runtime/script/api_gen.h"
#include "runtime/text/string.h"

struct Pipe {
    ClassStruct Class;
    ClassPrintStruct Print;
    StreamStruct Stream;
    PlatformPipe *Platform;
    char Name[PIPE_NAME_SIZE];
    uint32 BufferSize;
    uint32 Blocking;
    uint64 BytesRead;
    uint64 BytesWritten;
    uint32 OpenExisting;
    uint32 IsIn;
};

#define Pipe_Check(Handle) Class_CheckHandle((Handle), PIPE_CLASSID)

namespace {

int32 DeleteThroughClass(void *HandleAddress) { return Pipe_Delete(static_cast<Pipe **>(HandleAddress)); }

int32 IsOpenSlot(void *Handle) { return Pipe_IsOpen(static_cast<Pipe *>(Handle)); }
int32 CloseSlot(void *Handle) { return Pipe_Close(static_cast<Pipe *>(Handle)); }
int32 FlushSlot(void *Handle) { return Pipe_Flush(static_cast<Pipe *>(Handle)); }

// One file name inside the pipe directory, nothing that leaves it.
bool NameStaysInside(const char *Name) {
    return strchr(Name, '/') == nullptr && strcmp(Name, ".") != 0 && strcmp(Name, "..") != 0;
}

} // namespace

CLASS_DEFINE_REFERENCE(Pipe, Pipe, PIPE_CLASSID)
CLASSPRINT_DEFINE(Pipe, Pipe, PIPE_CLASSID, "Pipe", Print)

int32 Pipe_VerboseLog(Pipe *Handle, const char *Format, ...) {
    Pipe_Check(Handle);
    if (!Pipe_IsVerboseLevel(Handle, 0)) return FALSE;
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = Pipe_VPrint(Handle, 0, Format, Arguments);
    va_end(Arguments);
    return Result;
}

int32 Pipe_ValidHandle(void *Pointer) {
    return Pointer != nullptr && static_cast<ClassStruct *>(Pointer)->ClassId == PIPE_CLASSID ? TRUE : FALSE;
}

int32 Pipe_Create(Pipe **Handle) {
    Debug_CheckPointer(Handle);
    Pipe *Object = Memory_New(Pipe);
    Class_InitHeader(Object, PIPE_CLASSID, DeleteThroughClass);
    Class_GenerateInstanceId(Object);
    Object->Stream.Handle = Object;
    Object->Stream.Peek = Pipe_PeekCallback;
    Object->Stream.Write = Pipe_WriteCallback;
    Object->Stream.Read = Pipe_ReadCallback;
    Object->Stream.Flush = FlushSlot;
    Object->Stream.IsOpen = IsOpenSlot;
    Object->Stream.Close = CloseSlot;
    Object->IsIn = 1;
    Class_TrackInstance(Object, Object->Class.InstanceId);
    *Handle = Object;
    return TRUE;
}

int32 Pipe_Delete(Pipe **Handle) {
    Debug_CheckPointer(Handle);
    Pipe *Object = *Handle;
    Pipe_Check(Object);
    Class_UntrackInstance(Object->Class.InstanceId);
    Pipe_Close(Object);
    Memory_Delete(Object);
    *Handle = nullptr;
    return TRUE;
}

int32 Pipe_SetName(Pipe *Handle, const char *Name) {
    Pipe_Check(Handle);
    String_CopyLength(Handle->Name, Name != nullptr ? Name : "", PIPE_NAME_SIZE);
    return TRUE;
}

int32 Pipe_GetName(Pipe *Handle, char *Output, int32 Length) {
    Pipe_Check(Handle);
    Debug_CheckPointer(Output);
    String_CopyLength(Output, Handle->Name, Length);
    return TRUE;
}

int32 Pipe_GetNamePtr(Pipe *Handle, const char **Name) {
    Pipe_Check(Handle);
    Debug_CheckPointer(Name);
    *Name = Handle->Name;
    return TRUE;
}

int32 Pipe_SetBufferSize(Pipe *Handle, int32 Size) {
    Pipe_Check(Handle);
    if (Size < 1) return FALSE;
    Handle->BufferSize = (uint32)Size;
    return TRUE;
}

#define PIPE_FLAG_ACCESSORS(Field)                                                                      \
    int32 Pipe_Set##Field(Pipe *Handle, uint32 Value) {                                                 \
        Pipe_Check(Handle);                                                                             \
        Handle->Field = Value;                                                                          \
        return TRUE;                                                                                    \
    }                                                                                                   \
    int32 Pipe_Get##Field(Pipe *Handle, uint32 *Value) {                                                \
        Pipe_Check(Handle);                                                                             \
        Debug_CheckPointer(Value);                                                                      \
        *Value = Handle->Field;                                                                         \
        return TRUE;                                                                                    \
    }
PIPE_FLAG_ACCESSORS(Blocking)
PIPE_FLAG_ACCESSORS(OpenExisting)
PIPE_FLAG_ACCESSORS(IsIn)

int32 Pipe_GetBufferSize(Pipe *Handle, uint32 *Size) {
    Pipe_Check(Handle);
    Debug_CheckPointer(Size);
    *Size = Handle->BufferSize;
    return TRUE;
}

int32 Pipe_Open(Pipe *Handle) {
    Pipe_Check(Handle);
    Pipe_Close(Handle);
    int32 Flags = 0;
    if (Handle->OpenExisting == 1) Flags |= PLATFORM_PIPE_EXISTING;
    if (Handle->Blocking == 1) Flags |= PLATFORM_PIPE_BLOCKING;
    if (Handle->IsIn != 0) Flags |= PLATFORM_PIPE_IN;
    char Path[PIPE_NAME_SIZE] = "";
    if (Handle->Name[0] != 0) {
        if (!NameStaysInside(Handle->Name)) {
            errno = EINVAL;
            return FALSE;
        }
        Platform_GetPipeDirectory(Path, (int32)sizeof(Path));
        const size_t Used = strlen(Path);
        if (Used == 0 || Used + strlen(Handle->Name) >= sizeof(Path)) {
            errno = ENAMETOOLONG;
            return FALSE;
        }
        String_CopyLength(Path + Used, Handle->Name, (int32)(sizeof(Path) - Used));
    }
    return Platform_PipeOpen(&Handle->Platform, Path, (int32)Handle->BufferSize, Flags);
}

int32 Pipe_Start(Pipe *Handle) { return Pipe_Open(Handle); }

int32 Pipe_Close(Pipe *Handle) {
    Pipe_Check(Handle);
    if (Handle->Platform != nullptr) Platform_PipeClose(&Handle->Platform);
    Handle->BytesRead = 0;
    Handle->BytesWritten = 0;
    return TRUE;
}

int32 Pipe_IsOpen(Pipe *Handle) {
    Pipe_Check(Handle);
    return Handle->Platform != nullptr && Platform_PipeIsOpen(Handle->Platform) ? TRUE : FALSE;
}

int32 Pipe_Read(Pipe *Handle, void *Buffer, uint32 Length, uint32 *Read) {
    Pipe_Check(Handle);
    Debug_CheckPointer(Read);
    *Read = 0;
    if (Handle->Platform == nullptr) return FALSE;
    int32 Count = 0;
    const int32 Wanted = Length > 0x7fffffffu ? 0x7fffffff : (int32)Length;
    if (!Platform_PipeRead(Handle->Platform, Buffer, Wanted, &Count)) return FALSE;
    *Read = (uint32)Count;
    Handle->BytesRead += (uint32)Count;
    return TRUE;
}

int32 Pipe_Write(Pipe *Handle, const void *Buffer, uint32 Length, uint32 *Written) {
    Pipe_Check(Handle);
    Debug_CheckPointer(Written);
    *Written = 0;
    if (Handle->Platform == nullptr) return FALSE;
    int32 Count = 0;
    const int32 Wanted = Length > 0x7fffffffu ? 0x7fffffff : (int32)Length;
    if (!Platform_PipeWrite(Handle->Platform, Buffer, Wanted, &Count)) return FALSE;
    *Written = (uint32)Count;
    Handle->BytesWritten += (uint32)Count;
    return TRUE;
}

int32 Pipe_Peek(Pipe *Handle, void *Buffer, uint32 Length, uint32 *Count) {
    Pipe_Check(Handle);
    Debug_CheckPointer(Count);
    *Count = 0;
    if (Handle->Platform == nullptr) return FALSE;
    int32 Available = 0;
    if (!Platform_PipePeek(Handle->Platform, Buffer, (int32)Length, &Available)) return FALSE;
    *Count = (uint32)Available;
    return TRUE;
}

int32 Pipe_Flush(Pipe *Handle) {
    Pipe_Check(Handle);
    return Handle->Platform != nullptr ? Platform_PipeFlush(Handle->Platform) : FALSE;
}

int32 Pipe_GetBytesRead(Pipe *Handle, uint64 *Bytes) {
    Pipe_Check(Handle);
    Debug_CheckPointer(Bytes);
    *Bytes = Handle->BytesRead;
    return TRUE;
}

int32 Pipe_GetBytesWritten(Pipe *Handle, uint64 *Bytes) {
    Pipe_Check(Handle);
    Debug_CheckPointer(Bytes);
    *Bytes = Handle->BytesWritten;
    return TRUE;
}

int32 Pipe_GetStandardHandle(Pipe *Handle, PlatformPipe **Standard) {
    Pipe_Check(Handle);
    Debug_CheckPointer(Standard);
    *Standard = Handle->Platform;
    return Handle->Platform != nullptr ? TRUE : FALSE;
}

int32 Pipe_GetStreamHandle(Pipe *Handle, StreamStruct **Stream) {
    Pipe_Check(Handle);
    Debug_CheckPointer(Stream);
    *Stream = &Handle->Stream;
    return TRUE;
}

int32 Pipe_Process(Pipe *Handle) {
    Pipe_Check(Handle);
    if (Handle->IsIn == 0) return TRUE;
    uint8 Buffer[PIPE_TICK_SIZE];
    uint32 Count = 0;
    if (!Pipe_Read(Handle, Buffer, sizeof(Buffer), &Count) || Count == 0) return TRUE;
    char *Text = nullptr;
    int32 Size = 0;
    if (ApiGen_CreateBase64EncodedBuffer(Buffer, (int32)Count, &Text, &Size)) {
        NotificationCenter_FireWithJSON("Pipe", "Read", Handle->Class.InstanceId, "{\"buffer\":\"%s\"}", Text);
        ApiGen_DeleteBase64EncodedBuffer(&Text, &Size);
    }
    return TRUE;
}

int32 Pipe_Accept(Pipe *Handle) {
    Pipe_Check(Handle);
    return Handle->Platform != nullptr ? Platform_PipeAccept(Handle->Platform) : FALSE;
}

int32 Pipe_GetRemoteProcessId(Pipe *Handle) {
    Pipe_Check(Handle);
    int32 Id = 0;
    return Handle->Platform != nullptr ? Platform_PipeGetRemoteProcessId(Handle->Platform, &Id) : FALSE;
}

int32 Pipe_PeekCallback(void *Handle, void *Buffer, uint32 Length, uint32 *Count) {
    return Pipe_Peek(static_cast<Pipe *>(Handle), Buffer, Length, Count);
}

int32 Pipe_WriteCallback(void *Handle, const void *Buffer, uint32 Length, uint32 *Count) {
    return Pipe_Write(static_cast<Pipe *>(Handle), Buffer, Length, Count);
}

int32 Pipe_ReadCallback(void *Handle, void *Buffer, uint32 Length, uint32 *Count) {
    return Pipe_Read(static_cast<Pipe *>(Handle), Buffer, Length, Count);
}
