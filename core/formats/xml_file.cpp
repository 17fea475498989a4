// XML documents in files. A load reads the file stream directly (the scanner
// reads it in chunks of its own); a save writes through a 4,096-byte buffer
// and cuts the file at the end of the new text, so a shorter document never
// leaves the tail of an older one behind.
#include "core/buffered_stream.h"
#include "core/dictionary.h"
#include "core/file.h"
#include "core/formats/xml.h"
#include "core/formats/xml_internal.h"

namespace {

// Read an existing file; write, creating a missing one. Both let others read.
constexpr uint32 OpenForReading = FILE_READ | FILE_SHAREREAD;
constexpr uint32 OpenForWriting = FILE_WRITE | FILE_SHAREREAD;
constexpr int32 WriteBufferSize = 4096;

} // namespace

int32 XML_LoadFile(XML *Handle, const char *Path) {
    XML_Check(Handle);
    Debug_CheckPointer(Path);
    XML_Reset(Handle);
    File *Input = nullptr;
    File_Create(&Input);
    if (!File_Open(Input, Path, OpenForReading)) {
        XML_Print(Handle, "Unable to open file (%s)", Path);
        File_Delete(&Input);
        return FALSE;
    }
    StreamStruct *Stream = nullptr;
    File_GetStreamHandle(Input, &Stream);
    const int32 Result = XML_LoadStream(Handle, Stream);
    File_Close(Input);
    File_Delete(&Input);
    return Result;
}

int32 XML_SaveFile(XML *Handle, const char *Path) {
    XML_Check(Handle);
    Debug_CheckPointer(Path);
    // Nothing to write fails the save; check before opening, because the
    // file is cut behind what was written and would lose its old content.
    DictionaryItem *First = nullptr;
    if (Handle->Dict == nullptr || !Dictionary_ItemGetFirst(Handle->Dict, &First)) return FALSE;
    File *Output = nullptr;
    File_Create(&Output);
    if (!File_Open(Output, Path, OpenForWriting)) {
        XML_Print(Handle, "Unable to open file (%s)", Path);
        File_Delete(&Output);
        return FALSE;
    }
    StreamStruct *Stream = nullptr;
    File_GetStreamHandle(Output, &Stream);
    BufferedStream *Buffered = nullptr;
    BufferedStream_Create(&Buffered);
    BufferedStream_SetWriteBufferSize(Buffered, WriteBufferSize);
    BufferedStream_SetBaseStreamHandle(Buffered, Stream);
    StreamStruct *Record = nullptr;
    BufferedStream_GetStreamHandle(Buffered, &Record);
    int32 Result = XML_SaveStream(Handle, Record);
    if (Result && !BufferedStream_Flush(Buffered)) Result = FALSE;
    BufferedStream_Delete(&Buffered);
    if (!File_Truncate(Output)) Result = FALSE;
    if (!File_Close(Output)) Result = FALSE;
    File_Delete(&Output);
    return Result;
}
