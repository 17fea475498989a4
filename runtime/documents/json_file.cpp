// JSON documents in files: a load reads through a 4,096-byte buffer; a save
// goes through DocumentFile, which cuts the file at the end of the new text.

#include "runtime/containers/dictionary.h"
#include "runtime/documents/document_file.h"
#include "runtime/documents/json.h"
#include "runtime/documents/json_internal.h"

int32 JSON_LoadFile(JSON *Handle, const char *Path) {
    JSON_Check(Handle);
    Debug_CheckPointer(Path);
    JSON_Reset(Handle);
    DocumentFile Input;
    if (!Input.OpenForReading(Path)) {
        JSON_Print(Handle, "Unable to open file (%s)", Path);
        return FALSE;
    }
    return JSON_LoadStreamBuffered(Handle, Input.Stream());
}

int32 JSON_SaveFile(JSON *Handle, const char *Path) {
    JSON_Check(Handle);
    Debug_CheckPointer(Path);
    // Nothing to write fails the save; check before opening, because the
    // file is cut behind what was written and would lose its old content.
    DictionaryItem *First = nullptr;
    if (Handle->Dict == nullptr || !Dictionary_ItemGetFirst(Handle->Dict, &First)) return FALSE;
    DocumentFile Output;
    if (!Output.OpenForWriting(Path)) {
        JSON_Print(Handle, "Unable to open file (%s)", Path);
        return FALSE;
    }
    return Output.Write([Handle](StreamStruct *Stream) { return JSON_SaveStream(Handle, Stream); });
}
