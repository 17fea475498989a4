// Disk-image trailer (see dmg_file.h).
#include "content/dmg_file.h"

#include <string.h>

#include "runtime/debug.h"

bool DmgFile_ReadTrailer(const ExecutableSource &File, uint64 &Offset, uint64 &Size) {
    Offset = Size = 0;
    uint8 Trailer[512];
    if (File.Size < sizeof(Trailer) || !File.Read(File.Size - sizeof(Trailer), Trailer, sizeof(Trailer)) ||
        memcmp(Trailer, "koly", 4) != 0)
        return false;
    Offset = ExecutableSource_Number(Trailer + 296, 8, true);
    Size = ExecutableSource_Number(Trailer + 304, 8, true) & 0xffffffffu;
    return true;
}

int32 DMGFile_IsValid(const char *Path) {
    Debug_CheckPointer(Path);
    ExecutableFile File(Path);
    uint64 Offset, Size;
    return File.IsOpen() && DmgFile_ReadTrailer(File.Source(), Offset, Size) ? TRUE : FALSE;
}

int32 DMGFile_IsValidStream(StreamStruct *Stream) {
    Debug_CheckPointer(Stream);
    uint64 Offset, Size;
    return DmgFile_ReadTrailer(ExecutableSource_FromStream(Stream), Offset, Size) ? TRUE : FALSE;
}

int32 DMGFile_GetDataStoreOffset(StreamStruct *Stream, uint64 *Offset, uint64 *Size) {
    Debug_CheckPointer(Stream);
    Debug_CheckPointer(Offset);
    Debug_CheckPointer(Size);
    if (DmgFile_ReadTrailer(ExecutableSource_FromStream(Stream), *Offset, *Size) && *Size != 0) return TRUE;
    *Offset = *Size = 0;
    return FALSE;
}
