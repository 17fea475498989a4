// The File record, shared by the File module's sources; not for other modules.
#pragma once

#include <sys/stat.h>

#include "runtime/class.h"
#include "runtime/files/file.h"
#include "runtime/streams/stream.h"

struct File {
    ClassStruct Class;
    ClassPrintStruct Print;
    StreamStruct Stream;         // its Handle is the File itself
    struct stat Status;          // of the opened file, taken before an open's truncation
    int32 Retries;               // open attempts of an existing file
    int32 AutoCreateDirectories; // 1: a write open makes missing parents
    char Path[MAX_PATH_SIZE];    // resolved and fixed path of the last open
    uint32 Flags;                // flag word of the last open
    int32 Descriptor;            // 0: nothing open
};

#define File_Check(Handle) Class_CheckHandle((Handle), FILE_CLASSID)

// true when a descriptor is open; otherwise logs "No file handle is open -
// cannot <Operation>" (with the path and Length when WithLength).
bool FileInt_HasDescriptor(File *Handle, const char *Operation, bool WithLength, uint32 Length);
