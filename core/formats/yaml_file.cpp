// YAML documents in files: a load reads through a 4,096-byte buffer.
//
// Compiled once core/file.h, the File module, is part of the tree.
#if __has_include("core/file.h")

#include "core/file.h"
#include "core/formats/yaml.h"
#include "core/formats/yaml_internal.h"

namespace {

// Open flag word: read an existing file, letting others read meanwhile.
constexpr uint32 OpenForReading = 33;

} // namespace

int32 YAML_LoadFile(YAML *Handle, const char *Path) {
    YAML_Check(Handle);
    Debug_CheckPointer(Path);
    YAML_Reset(Handle);
    File *Input = nullptr;
    File_Create(&Input);
    if (!File_Open(Input, Path, OpenForReading)) {
        YAML_Print(Handle, "Unable to open file (%s)", Path);
        File_Delete(&Input);
        return FALSE;
    }
    StreamStruct *Stream = nullptr;
    File_GetStreamHandle(Input, &Stream);
    const int32 Result = YAML_LoadStreamBuffered(Handle, Stream);
    File_Close(Input);
    File_Delete(&Input);
    return Result;
}

#endif
