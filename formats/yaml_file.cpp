// YAML documents in files: a load reads through a 4,096-byte buffer.

#include "formats/yaml.h"
#include "formats/yaml_internal.h"
#include "runtime/documents/document_file.h"

int32 YAML_LoadFile(YAML *Handle, const char *Path) {
    YAML_Check(Handle);
    Debug_CheckPointer(Path);
    YAML_Reset(Handle);
    DocumentFile Input;
    if (!Input.OpenForReading(Path)) {
        YAML_Print(Handle, "Unable to open file (%s)", Path);
        return FALSE;
    }
    return YAML_LoadStreamBuffered(Handle, Input.Stream());
}
