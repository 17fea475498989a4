#include "runtime/documents/document_file.h"

namespace {

constexpr uint32 ReadFlags = FILE_READ | FILE_SHAREREAD;
constexpr uint32 WriteFlags = FILE_WRITE | FILE_SHAREREAD;
constexpr int32 WriteBufferSize = 4096;

} // namespace

DocumentFile::DocumentFile() { File_Create(&Handle); }

DocumentFile::~DocumentFile() {
    if (Buffered != nullptr) BufferedStream_Delete(&Buffered);
    if (Open) File_Close(Handle);
    File_Delete(&Handle);
}

int32 DocumentFile::OpenForReading(const char *Path) {
    Open = File_Open(Handle, Path, ReadFlags) != 0;
    return Open;
}

int32 DocumentFile::OpenForWriting(const char *Path) {
    Open = File_Open(Handle, Path, WriteFlags) != 0;
    return Open;
}

StreamStruct *DocumentFile::Stream() {
    StreamStruct *Record = nullptr;
    File_GetStreamHandle(Handle, &Record);
    return Record;
}

StreamStruct *DocumentFile::BeginWrite() {
    BufferedStream_Create(&Buffered);
    BufferedStream_SetWriteBufferSize(Buffered, WriteBufferSize);
    BufferedStream_SetBaseStreamHandle(Buffered, Stream());
    StreamStruct *Record = nullptr;
    BufferedStream_GetStreamHandle(Buffered, &Record);
    return Record;
}

int32 DocumentFile::EndWrite(int32 Result) {
    // Flush answers 0 also when nothing is pending (a document of no lines,
    // or one whose last byte filled the buffer): only output it still holds
    // afterwards, ahead of the file's position, is a failed write.
    if (Result && !BufferedStream_Flush(Buffered)) {
        int64 Logical = 0, Written = 0;
        if (!BufferedStream_Tell(Buffered, &Logical) || !File_Tell(Handle, &Written) || Logical != Written)
            Result = FALSE;
    }
    BufferedStream_Delete(&Buffered);
    if (!File_Truncate(Handle)) Result = FALSE;
    Open = false;
    if (!File_Close(Handle)) Result = FALSE;
    return Result;
}
