// INI files: a load reads through a 4,096-byte buffer; a save goes through
// DocumentFile, which cuts the file at the end of the new text.

#include "formats/ini.h"
#include "formats/ini_internal.h"
#include "runtime/documents/document_file.h"
#include "runtime/documents/document_stream.h"

int32 Ini_LoadFile(Ini *Handle, const char *Path) {
    Ini_Check(Handle);
    Debug_CheckPointer(Path);
    DocumentFile Input;
    if (!Input.OpenForReading(Path)) {
        Ini_VerboseLog(Handle, INI_VERBOSELEVEL_PARSE, "Unable to open file (%s)", Path);
        return FALSE;
    }
    StreamStruct *Stream = Input.Stream();
    return DocumentStream_LoadBuffered(Stream, [Handle, Stream](StreamStruct *Record) {
        return Ini_LoadStream(Handle, Record) && !Stream_HasError(Stream);
    });
}

int32 Ini_SaveFile(Ini *Handle, const char *Path) {
    Ini_Check(Handle);
    Debug_CheckPointer(Path);
    if (Handle->Dict == nullptr) return FALSE;
    DocumentFile Output;
    if (!Output.OpenForWriting(Path)) {
        Ini_Print(Handle, "Unable to open file (%s)", Path);
        return FALSE;
    }
    return Output.Write([Handle](StreamStruct *Stream) { return Ini_SaveStream(Handle, Stream); });
}
