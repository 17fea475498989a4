// DirectoryList (see directory_list.h): enumeration through the find
// callbacks, and the walk, one stack list per level.
#include "core/directory_list.h"

#include <errno.h>
#include <string.h>

#include <string_view>

#include "core/debug.h"
#include "core/log.h"
#include "core/memory.h"
#include "core/path.h"
#include "core/string.h"
#include "core/time.h"

CLASSPRINT_DEFINE(DirectoryList, DirectoryList, DIRECTORYLIST_CLASSID, "DirectoryList", Print)

#define DirectoryList_Check(Handle) Class_CheckHandle((Handle), DIRECTORYLIST_CLASSID)

namespace {

constexpr uint32 DefaultWalkFlags = 0xF;

int32 DefaultFindFirst(void *, const char *Pattern, PlatformFindEntry *Entry, void **Handle) {
    return Platform_FindFirstFile(Pattern, Entry, Handle);
}
int32 DefaultFindNext(void *, void *Handle, PlatformFindEntry *Entry) { return Platform_FindNextFile(Handle, Entry); }
int32 DefaultFindClose(void *, void **Handle) { return Platform_FindClose(Handle); }

void InstallDefaults(DirectoryList *List) {
    List->WalkFlags = DefaultWalkFlags;
    List->WalkOrder = DIRECTORYLIST_ORDER_PRE;
    List->MaxDepth = -1;
    List->FindFirstFunction = DefaultFindFirst;
    List->FindNextFunction = DefaultFindNext;
    List->FindCloseFunction = DefaultFindClose;
}

int32 DeleteThroughClass(void *HandleAddress) {
    return DirectoryList_Delete(static_cast<DirectoryList **>(HandleAddress));
}

bool IsDots(const char *Name) { return strcmp(Name, ".") == 0 || strcmp(Name, "..") == 0; }

int32 HasAttribute(DirectoryList *Handle, uint32 Bit) {
    DirectoryList_Check(Handle);
    return (Handle->Entry.Attributes & Bit) != 0 ? 1 : 0;
}

// Directory + name into a path buffer, with or without a trailing "/"; false
// (errno set) when the name cannot be addressed or the path does not fit.
bool EntryPath(const char *Directory, const char *Name, bool Trailing, char (&Path)[MAX_PATH_SIZE]) {
    if (strchr(Name, '\\') != nullptr) {
        errno = EINVAL;
        return false;
    }
    size_t Length = strlen(Directory) + strlen(Name) + (Trailing ? 1 : 0);
    if (Length >= MAX_PATH_SIZE - 1) {
        errno = ENAMETOOLONG;
        return false;
    }
    size_t DirectoryLength = strlen(Directory);
    memcpy(Path, Directory, DirectoryLength);
    memcpy(Path + DirectoryLength, Name, strlen(Name) + 1);
    Path_Fix(Path, sizeof(Path), Trailing ? PATH_FIX_ENSURE_TRAILING : PATH_FIX_REMOVE_TRAILING);
    return true;
}

uint32 Report(DirectoryList *Walker, DirectoryList *Level, int32 Depth, const char *Path) {
    if (Walker->WalkFunction == nullptr) return 1;
    return Walker->WalkFunction(Level, Walker->WalkUser, Depth, Path);
}

// One level of the walk: subdirectories (with their subtrees) first, then the
// files. 0 when a subtree failed (which ends every enclosing level) or a file
// was refused (the level still visits its other files).
int32 WalkLevel(DirectoryList *Walker, int32 Depth, const char *Directory, const char *FilePattern) {
    if (Walker->MaxDepth != -1 && Depth > Walker->MaxDepth) return 1;
    DirectoryList Level;
    DirectoryList_Stack(&Level);
    String_CopyLength(Level.Directory, Walker->Directory, sizeof(Level.Directory));
    int32 Result = 1;
    char Path[MAX_PATH_SIZE];

    for (int32 More = DirectoryList_Start(&Level, 0, Directory); More; More = DirectoryList_GetNext(&Level)) {
        if (IsDots(Level.Entry.Name) || !DirectoryList_IsDirectory(&Level) || DirectoryList_IsSymLink(&Level))
            continue;
        if (!EntryPath(Directory, Level.Entry.Name, true, Path)) {
            Result = 0;
            continue;
        }
        int32 SubResult = 1;
        if (Walker->WalkOrder == DIRECTORYLIST_ORDER_POST) {
            // The subtree's own levels overwrite this level's entry.
            PlatformFindEntry Saved = Level.Entry;
            SubResult = WalkLevel(Walker, Depth + 1, Path, FilePattern);
            Level.Entry = Saved;
        }
        if (Walker->WalkFlags & DIRECTORYLIST_WALK_DIRECTORIES) {
            DirectoryList_VerboseLog(Walker, 0, "Directory - %s", Path);
            if (Report(Walker, &Level, Depth, Path) == 0) continue;
        }
        if (Walker->WalkOrder == DIRECTORYLIST_ORDER_PRE) SubResult = WalkLevel(Walker, Depth + 1, Path, FilePattern);
        if (SubResult == 0) {
            DirectoryList_Stop(&Level);
            return 0;
        }
    }
    DirectoryList_Stop(&Level);

    if (Walker->WalkFlags & DIRECTORYLIST_WALK_FILES) {
        for (int32 More = DirectoryList_Start(&Level, 0, Directory); More; More = DirectoryList_GetNext(&Level)) {
            if (IsDots(Level.Entry.Name) || DirectoryList_IsDirectory(&Level)) continue;
            if (!EntryPath(Directory, Level.Entry.Name, false, Path)) {
                Result = 0;
                continue;
            }
            DirectoryList_VerboseLog(Walker, 0, "File - %s", Path);
            if (FilePattern != nullptr && FilePattern[0] != 0 &&
                !String_CompareWildcardListWithoutCase(Level.Entry.Name, FilePattern))
                continue;
            if (Report(Walker, &Level, Depth, Path) == 0) Result = 0;
        }
        DirectoryList_Stop(&Level);
    }
    return Result;
}

} // namespace

CLASS_DEFINE_REFERENCE(DirectoryList, DirectoryList, DIRECTORYLIST_CLASSID)

int32 DirectoryList_Create(DirectoryList **Handle) {
    Debug_CheckPointer(Handle);
    DirectoryList *List = Memory_New(DirectoryList);
    Class_InitHeader(List, DIRECTORYLIST_CLASSID, DeleteThroughClass);
    InstallDefaults(List);
    *Handle = List;
    return TRUE;
}

int32 DirectoryList_Delete(DirectoryList **Handle) {
    Debug_CheckPointer(Handle);
    DirectoryList_Check(*Handle);
    DirectoryList_Stop(*Handle);
    Memory_Delete(*Handle);
    *Handle = nullptr;
    return TRUE;
}

int32 DirectoryList_VerboseLog(DirectoryList *Handle, int32 Level, const char *Format, ...) {
    DirectoryList_Check(Handle);
    if (!DirectoryList_IsVerboseLevel(Handle, Level)) return FALSE;
    va_list Arguments;
    va_start(Arguments, Format);
    int32 Result = DirectoryList_VPrint(Handle, 0, Format, Arguments);
    va_end(Arguments);
    return Result;
}

int32 DirectoryList_SizeOf(void) { return (int32)sizeof(DirectoryList); }

int32 DirectoryList_Stack(void *Memory) {
    Debug_CheckPointer(Memory);
    memset(Memory, 0, sizeof(DirectoryList));
    auto *List = static_cast<DirectoryList *>(Memory);
    Class_InitHeader(List, DIRECTORYLIST_CLASSID, nullptr);
    InstallDefaults(List);
    return TRUE;
}

int32 DirectoryList_Unstack(DirectoryList *Handle) { return DirectoryList_Stop(Handle); }

int32 DirectoryList_Start(DirectoryList *Handle, int32 Flags, const char *Path) {
    DirectoryList_Check(Handle);
    Debug_CheckPointer(Path);
    DirectoryList_Stop(Handle);
    Path_Resolve(Path, Handle->Directory, sizeof(Handle->Directory));
    const char *Filename;
    Path_ParseFilenamePtr(Handle->Directory, &Filename);
    size_t DirectoryLength = (size_t)(Filename - Handle->Directory);
    // The find callbacks fill (and may clear) the entry, pattern included,
    // so the pattern is handed to them from a copy of its own.
    char Pattern[sizeof(Handle->Entry.Pattern)];
    // The pattern must fit whole: a cut one would list another directory.
    size_t PatternLength = DirectoryLength + (Flags != 0 ? strlen(Filename) : 1);
    if (PatternLength >= sizeof(Pattern)) {
        Handle->Directory[0] = 0;
        errno = ENAMETOOLONG;
        return 0;
    }
    memcpy(Pattern, Handle->Directory, DirectoryLength);
    strcpy(Pattern + DirectoryLength, Flags != 0 ? Filename : "*");
    if (Flags != 0) Handle->Directory[DirectoryLength] = 0;
    if (Handle->FindFirstFunction(Handle->FindFirstUser, Pattern, &Handle->Entry, &Handle->FindHandle)) return 1;
    Handle->FindHandle = nullptr;
    return 0;
}

int32 DirectoryList_GetNext(DirectoryList *Handle) {
    DirectoryList_Check(Handle);
    if (Handle->FindHandle == nullptr) return 0;
    return Handle->FindNextFunction(Handle->FindNextUser, Handle->FindHandle, &Handle->Entry) ? 1 : 0;
}

int32 DirectoryList_Stop(DirectoryList *Handle) {
    DirectoryList_Check(Handle);
    Handle->Directory[0] = 0;
    return Handle->FindCloseFunction(Handle->FindCloseUser, &Handle->FindHandle);
}

int32 DirectoryList_GetName(DirectoryList *Handle, char *Output, int32 Size) {
    DirectoryList_Check(Handle);
    Debug_CheckPointer(Output);
    return String_CopyLength(Output, Handle->Entry.Name, Size);
}

int32 DirectoryList_GetSize(DirectoryList *Handle, uint64 *Bytes) {
    DirectoryList_Check(Handle);
    Debug_CheckPointer(Bytes);
    *Bytes = Handle->Entry.Size;
    return TRUE;
}

int32 DirectoryList_GetAllocatedSize(DirectoryList *Handle, uint64 *Bytes) {
    DirectoryList_Check(Handle);
    Debug_CheckPointer(Bytes);
    *Bytes = Handle->Entry.AllocatedSize;
    return TRUE;
}

int32 DirectoryList_GetCreationTime(DirectoryList *Handle, float64 *Time) {
    DirectoryList_Check(Handle);
    Debug_CheckPointer(Time);
    return Time_ConvertTmToEncoded(&Handle->Entry.CreationTime, Time);
}

int32 DirectoryList_GetModifiedTime(DirectoryList *Handle, float64 *Time) {
    DirectoryList_Check(Handle);
    Debug_CheckPointer(Time);
    return Time_ConvertTmToEncoded(&Handle->Entry.LastWriteTime, Time);
}

int32 DirectoryList_IsDirectory(DirectoryList *Handle) { return HasAttribute(Handle, PLATFORM_ATTRIBUTE_DIRECTORY); }
int32 DirectoryList_IsSymLink(DirectoryList *Handle) { return HasAttribute(Handle, PLATFORM_ATTRIBUTE_SYMLINK); }
int32 DirectoryList_IsSystem(DirectoryList *Handle) { return HasAttribute(Handle, PLATFORM_ATTRIBUTE_SYSTEM); }
int32 DirectoryList_IsReadOnly(DirectoryList *Handle) { return HasAttribute(Handle, PLATFORM_ATTRIBUTE_READONLY); }
int32 DirectoryList_IsHidden(DirectoryList *Handle) { return HasAttribute(Handle, PLATFORM_ATTRIBUTE_HIDDEN); }

int32 DirectoryList_IsDots(DirectoryList *Handle) {
    DirectoryList_Check(Handle);
    return IsDots(Handle->Entry.Name) ? 1 : 0;
}

int32 DirectoryList_SetDirectory(DirectoryList *Handle, const char *Path) {
    DirectoryList_Check(Handle);
    Debug_CheckPointer(Path);
    return String_CopyLength(Handle->Directory, Path, sizeof(Handle->Directory));
}

int32 DirectoryList_GetDirectory(DirectoryList *Handle, char *Output, int32 Size) {
    DirectoryList_Check(Handle);
    Debug_CheckPointer(Output);
    return String_CopyLength(Output, Handle->Directory, Size);
}

int32 DirectoryList_SetMaxDepth(DirectoryList *Handle, int32 Depth) {
    DirectoryList_Check(Handle);
    Handle->MaxDepth = Depth;
    return TRUE;
}

int32 DirectoryList_SetWalkFlags(DirectoryList *Handle, uint32 Flags) {
    DirectoryList_Check(Handle);
    Handle->WalkFlags = Flags;
    return TRUE;
}

int32 DirectoryList_SetWalkOrder(DirectoryList *Handle, uint32 Order) {
    DirectoryList_Check(Handle);
    Handle->WalkOrder = Order;
    return TRUE;
}

int32 DirectoryList_SetWalkCallback(DirectoryList *Handle, void *User, DirectoryList_WalkFunc Function) {
    DirectoryList_Check(Handle);
    Handle->WalkUser = User;
    Handle->WalkFunction = Function;
    return TRUE;
}

int32 DirectoryList_SetFindFirstFileCallback(DirectoryList *Handle, void *User, DirectoryList_FindFirstFunc Function) {
    DirectoryList_Check(Handle);
    Handle->FindFirstUser = User;
    Handle->FindFirstFunction = Function != nullptr ? Function : DefaultFindFirst;
    return TRUE;
}

int32 DirectoryList_SetFindNextFileCallback(DirectoryList *Handle, void *User, DirectoryList_FindNextFunc Function) {
    DirectoryList_Check(Handle);
    Handle->FindNextUser = User;
    Handle->FindNextFunction = Function != nullptr ? Function : DefaultFindNext;
    return TRUE;
}

int32 DirectoryList_SetFindCloseCallback(DirectoryList *Handle, void *User, DirectoryList_FindCloseFunc Function) {
    DirectoryList_Check(Handle);
    Handle->FindCloseUser = User;
    Handle->FindCloseFunction = Function != nullptr ? Function : DefaultFindClose;
    return TRUE;
}

int32 DirectoryList_Walk(DirectoryList *Handle, const char *Root, const char *FilePattern) {
    DirectoryList_Check(Handle);
    Debug_CheckPointer(Root);
    char Directory[MAX_PATH_SIZE];
    Path_Resolve(Root, Directory, sizeof(Directory));
    if (strlen(Directory) >= sizeof(Directory) - 2) {
        errno = ENAMETOOLONG;
        return 0;
    }
    Path_Fix(Directory, sizeof(Directory), PATH_FIX_ENSURE_TRAILING);
    DirectoryList_VerboseLog(Handle, 0, "Root - %s", Directory);
    int32 Result = WalkLevel(Handle, 0, Directory, FilePattern);
    DirectoryList_Stop(Handle);
    return Result != 0 ? 1 : 0;
}
