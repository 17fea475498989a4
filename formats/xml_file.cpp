// XML documents in files. A load reads the file stream directly (the scanner
// reads it in chunks of its own); a save goes through DocumentFile, which
// cuts the file at the end of the new text.

#include "formats/xml.h"
#include "formats/xml_internal.h"
#include "runtime/containers/dictionary.h"
#include "runtime/documents/document_file.h"

int32 XML_LoadFile(XML *Handle, const char *Path) {
    XML_Check(Handle);
    Debug_CheckPointer(Path);
    XML_Reset(Handle);
    DocumentFile Input;
    if (!Input.OpenForReading(Path)) {
        XML_Print(Handle, "Unable to open file (%s)", Path);
        return FALSE;
    }
    return XML_LoadStream(Handle, Input.Stream());
}

int32 XML_SaveFile(XML *Handle, const char *Path) {
    XML_Check(Handle);
    Debug_CheckPointer(Path);
    // Nothing to write fails the save; check before opening, because the
    // file is cut behind what was written and would lose its old content.
    DictionaryItem *First = nullptr;
    if (Handle->Dict == nullptr || !Dictionary_ItemGetFirst(Handle->Dict, &First)) return FALSE;
    DocumentFile Output;
    if (!Output.OpenForWriting(Path)) {
        XML_Print(Handle, "Unable to open file (%s)", Path);
        return FALSE;
    }
    return Output.Write([Handle](StreamStruct *Stream) { return XML_SaveStream(Handle, Stream); });
}
