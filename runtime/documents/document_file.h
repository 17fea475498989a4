// A document's file, as the format modules load and save it: opened to read
// or to write (both letting others read meanwhile), closed and released when
// it goes out of scope. A save writes through a 4,096-byte buffer and cuts
// the file at the end of the new text, so a shorter document never leaves
// the tail of an older one behind. Shared by the document formats; each format
// reports an unopened file in its own words.
#pragma once

#include "runtime/files/file.h"
#include "runtime/streams/buffered_stream.h"

class DocumentFile {
public:
    DocumentFile();
    ~DocumentFile();
    DocumentFile(const DocumentFile &) = delete;
    DocumentFile &operator=(const DocumentFile &) = delete;

    // An existing file; FALSE when it does not open.
    int32 OpenForReading(const char *Path);
    // A missing file is created; FALSE when it does not open.
    int32 OpenForWriting(const char *Path);
    // The open file's stream.
    StreamStruct *Stream();
    // Saves the document through Save, then cuts and closes the file: TRUE
    // only when every step went through. Pending bytes are written only
    // after a whole document; a failed one stops where the writes stopped.
    template <typename SaveFunction> int32 Write(SaveFunction Save) {
        StreamStruct *Buffered = BeginWrite();
        return EndWrite(Save(Buffered));
    }

private:
    StreamStruct *BeginWrite();
    int32 EndWrite(int32 Result);

    File *Handle = nullptr;
    BufferedStream *Buffered = nullptr;
    bool Open = false;
};
