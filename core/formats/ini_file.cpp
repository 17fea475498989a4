// INI files: a load reads through a 4,096-byte buffer; a save writes through
// one, then cuts the file at the end of the new text, so a shorter file never
// keeps the tail of an older one.
//
// Compiled once core/file.h, the File module, is part of the tree.
#if __has_include("core/file.h")

#include "core/buffered_stream.h"
#include "core/file.h"
#include "core/formats/ini.h"
#include "core/formats/ini_internal.h"

namespace {

// Open flag words: read an existing file; write, creating a missing one.
// Both let others read meanwhile.
constexpr uint32 OpenForReading = 33;
constexpr uint32 OpenForWriting = 34;
constexpr int32 BufferSize = 4096;

} // namespace

int32 Ini_LoadFile(Ini *Handle, const char *Path) {
    Ini_Check(Handle);
    Debug_CheckPointer(Path);
    File *Input = nullptr;
    File_Create(&Input);
    if (!File_Open(Input, Path, OpenForReading)) {
        Ini_VerboseLog(Handle, INI_VERBOSELEVEL_PARSE, "Unable to open file (%s)", Path);
        File_Delete(&Input);
        return FALSE;
    }
    StreamStruct *Stream = nullptr;
    File_GetStreamHandle(Input, &Stream);
    BufferedStream *Buffered = nullptr;
    BufferedStream_Create(&Buffered);
    BufferedStream_SetReadBufferSize(Buffered, BufferSize);
    BufferedStream_SetBaseStreamHandle(Buffered, Stream);
    StreamStruct *Record = nullptr;
    BufferedStream_GetStreamHandle(Buffered, &Record);
    const int32 Result = Ini_LoadStream(Handle, Record) && !Stream_HasError(Stream);
    BufferedStream_Delete(&Buffered);
    File_Close(Input);
    File_Delete(&Input);
    return Result;
}

int32 Ini_SaveFile(Ini *Handle, const char *Path) {
    Ini_Check(Handle);
    Debug_CheckPointer(Path);
    if (Handle->Dict == nullptr) return FALSE;
    File *Output = nullptr;
    File_Create(&Output);
    if (!File_Open(Output, Path, OpenForWriting)) {
        Ini_Print(Handle, "Unable to open file (%s)", Path);
        File_Delete(&Output);
        return FALSE;
    }
    StreamStruct *Stream = nullptr;
    File_GetStreamHandle(Output, &Stream);
    BufferedStream *Buffered = nullptr;
    BufferedStream_Create(&Buffered);
    BufferedStream_SetWriteBufferSize(Buffered, BufferSize);
    BufferedStream_SetBaseStreamHandle(Buffered, Stream);
    StreamStruct *Record = nullptr;
    BufferedStream_GetStreamHandle(Buffered, &Record);
    int32 Result = Ini_SaveStream(Handle, Record);
    if (!BufferedStream_Flush(Buffered)) Result = FALSE;
    BufferedStream_Delete(&Buffered);
    if (!File_Truncate(Output)) Result = FALSE;
    if (!File_Close(Output)) Result = FALSE;
    File_Delete(&Output);
    return Result;
}

#endif
