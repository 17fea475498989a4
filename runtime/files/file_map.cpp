// FileMap: a read-only view of an open File (see file.h). Users of the view
// hold a reference to the map, so the view outlives them.
#include <string.h>

#include "runtime/debug.h"
#include "runtime/files/file_internal.h"
#include "runtime/files/path.h"
#include "runtime/memory.h"
#include "runtime/posix/platform.h"

struct FileMap {
    ClassStruct Class;
    void *View;
    uint64 Size;
};

#define FileMap_Check(Handle) Class_CheckHandle((Handle), FILEMAP_CLASSID)

namespace {

int32 DeleteThroughClass(void *HandleAddress) { return FileMap_Delete(static_cast<FileMap **>(HandleAddress)); }

} // namespace

CLASS_DEFINE_REFERENCE(FileMap, FileMap, FILEMAP_CLASSID)

int32 FileMap_Create(FileMap **Handle) {
    Debug_CheckPointer(Handle);
    FileMap *Map = Memory_New(FileMap);
    Class_InitHeader(Map, FILEMAP_CLASSID, DeleteThroughClass);
    *Handle = Map;
    return TRUE;
}

int32 FileMap_Delete(FileMap **Handle) {
    Debug_CheckPointer(Handle);
    FileMap *Map = *Handle;
    FileMap_Check(Map);
    if (Map->View != nullptr) {
        Log_Debug("View not properly unmapped on delete\n");
        FileMap_UnmapViewOfFile(Map);
    }
    Map->Class.ClassId = 0;
    Memory_Delete(Map);
    *Handle = nullptr;
    return TRUE;
}

int32 FileMap_MapViewOfFile(FileMap *Handle, File *Source) {
    FileMap_Check(Handle);
    File_Check(Source);
    if (Handle->View != nullptr)
        Debug_Abort("Assertion failed (FileMap->View == NULL)\n"
                    "Previous view of file must be unmapped before mapping new view of file [%s]\n",
                    Source->Path);
    int64 Size = 0;
    File_GetFilesizeBytes(Source, &Size);
    Handle->Size = (uint64)Size;
    const char *Name;
    Path_ParseFilenamePtr(Source->Path, &Name);
    if (Source->Descriptor == 0 || !Platform_MapViewOfFile(Source->Descriptor, 0, Name, &Handle->View, &Handle->Size)) {
        Handle->View = nullptr;
        Handle->Size = 0;
        return FALSE;
    }
    return TRUE;
}

int32 FileMap_UnmapViewOfFile(FileMap *Handle) {
    FileMap_Check(Handle);
    if (Handle->View == nullptr) return TRUE;
    if (!Platform_UnmapViewOfFile(&Handle->View, Handle->Size)) return FALSE;
    Handle->Size = 0;
    return TRUE;
}

int32 FileMap_IsViewMapped(FileMap *Handle) {
    FileMap_Check(Handle);
    return Handle->View != nullptr;
}

int32 FileMap_GetPointer(FileMap *Handle, void **Address, uint64 *Size) {
    FileMap_Check(Handle);
    Debug_CheckPointer(Address);
    Debug_CheckPointer(Size);
    *Address = Handle->View;
    *Size = Handle->View != nullptr ? Handle->Size : 0;
    if (Handle->View == nullptr) return FALSE;
    FileMap_AddRef(Handle);
    return TRUE;
}

int32 FileMap_ReleasePointer(FileMap *Handle, void **Address) {
    FileMap_Check(Handle);
    Debug_CheckPointer(Address);
    *Address = nullptr;
    return FileMap_Release(&Handle);
}
