#include "runtime/documents/document_stream.h"

#include <stdint.h>

#include "runtime/debug.h"
#include "runtime/memory.h"
#include "runtime/streams/buffered_stream.h"
#include "runtime/streams/memory_stream.h"
#include "runtime/streams/null_stream.h"
#include "runtime/text/string_print.h"

namespace {

constexpr int32 ReadBufferSize = 4096;

// Deletes the stream however the load ends: a load given up unwinds (an
// allocation that throws) and leaves nothing behind.
template <typename Handle, int32 (*Delete)(Handle **)> struct Owned {
    Handle *Stream = nullptr;
    ~Owned() {
        if (Stream != nullptr) Delete(&Stream);
    }
};

} // namespace

int32 DocumentStream_LoadBuffer(const void *Bytes, int32 Size, const DocumentLoad &Load) {
    if (Size > 0) Debug_CheckPointer(Bytes);
    Owned<MemoryStream, MemoryStream_Delete> Memory;
    MemoryStream_Create(&Memory.Stream);
    if (Size > 0) MemoryStream_SetPointer(Memory.Stream, const_cast<void *>(Bytes), Size, Size);
    StreamStruct *Record = nullptr;
    MemoryStream_GetStreamHandle(Memory.Stream, &Record);
    return Load(Record);
}

int32 DocumentStream_LoadBuffered(StreamStruct *Stream, const DocumentLoad &Load) {
    Owned<BufferedStream, BufferedStream_Delete> Buffered;
    BufferedStream_Create(&Buffered.Stream);
    BufferedStream_SetReadBufferSize(Buffered.Stream, ReadBufferSize);
    BufferedStream_SetBaseStreamHandle(Buffered.Stream, Stream);
    StreamStruct *Record = nullptr;
    BufferedStream_GetStreamHandle(Buffered.Stream, &Record);
    return Load(Record);
}

int32 DocumentStream_LoadPrinted(const char *Format, va_list Arguments,
                                 const std::function<int32(const char *Text, int32 Length)> &Load) {
    Debug_CheckPointer(Format);
    va_list Measure;
    va_copy(Measure, Arguments);
    const int32 Length = String_GetVPrintLength(Format, Measure);
    va_end(Measure);
    const int32 Size = Length + 1;
    struct Printed {
        char *Text;
        int32 Size;
        ~Printed() { Memory_Free(Text, Size); }
    } Held{static_cast<char *>(Memory_Alloc(Size)), Size};
    va_list Print;
    va_copy(Print, Arguments);
    String_VPrint(Held.Text, Size, Format, Print);
    va_end(Print);
    return Load(Held.Text, Length);
}

int32 DocumentStream_SaveBuffer(void *Buffer, int32 Capacity, int32 *Written, const DocumentSave &Save) {
    Debug_CheckPointer(Written);
    *Written = 0;
    if (Capacity > 0) Debug_CheckPointer(Buffer);
    MemoryStream *Memory = nullptr;
    MemoryStream_Create(&Memory);
    if (Capacity > 0) MemoryStream_SetPointer(Memory, Buffer, 0, Capacity);
    StreamStruct *Record = nullptr;
    MemoryStream_GetStreamHandle(Memory, &Record);
    const int32 Result = Save(Record);
    *Written = MemoryStream_GetUsed(Memory);
    MemoryStream_Delete(&Memory);
    return Result;
}

int32 DocumentStream_SaveEstimate(int32 *Size, const DocumentSave &Save) {
    Debug_CheckPointer(Size);
    *Size = 0;
    NullStream *Counter = nullptr;
    NullStream_Create(&Counter);
    StreamStruct *Record = nullptr;
    NullStream_GetStreamHandle(Counter, &Record);
    const int32 Result = Save(Record);
    const int64 Used = NullStream_GetUsed(Counter);
    *Size = Used > INT32_MAX ? INT32_MAX : (int32)Used;
    NullStream_Delete(&Counter);
    return Result;
}
