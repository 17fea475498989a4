// DirectoryList (see directory_list.h): enumeration through the find
// callbacks, and the walk, one stack list per level.
#include "runtime/files/directory_list.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <string_view>
#include <vector>

#include "runtime/debug.h"
#include "runtime/files/path.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/text/string.h"
#include "runtime/time.h"

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
    List->WalkFolder = -1;
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

// One directory of the walk, read once for both of its passes. The listing
// keeps each entry's name and the type the directory itself records, so a
// status is read only where the walk needs one: to tell directories (and
// entries of unknown type) apart, and for an entry about to be reported,
// read then so that the callback sees the entry as it is at that moment.
class LevelListing {
  public:
    struct Item {
        uint32 Name;   // offset into Names
        uint8 Type;    // d_type of the listing
        bool File;     // reported in the file pass
        bool Recheck;  // classed by a status: read it again in the file pass
    };

    ~LevelListing() {
        if (Stream != nullptr) closedir(Stream);
    }

    // Opens Name relative to Parent (a subdirectory: never through a link)
    // or the path itself (the root) and reads every entry but "." and "..".
    bool Read(int Parent, const char *Name, bool Root) {
        int Flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (Root ? 0 : O_NOFOLLOW);
        int Descriptor = openat(Parent, Name, Flags);
        if (Descriptor < 0) return false;
        Stream = fdopendir(Descriptor);
        if (Stream == nullptr) {
            close(Descriptor);
            return false;
        }
        for (;;) {
            errno = 0;
            struct dirent *Found = readdir(Stream);
            if (Found == nullptr) break;
            size_t Length = strlen(Found->d_name);
            if (IsDots(Found->d_name) || Length >= MAX_PATH_SIZE) continue; // too long: cannot be named
            Items.push_back({(uint32)Names.size(), Found->d_type, false, false});
            Names.insert(Names.end(), Found->d_name, Found->d_name + Length + 1);
        }
        return true;
    }

    int Descriptor() const { return dirfd(Stream); }
    const char *NameOf(const Item &Entry) const { return Names.data() + Entry.Name; }
    std::vector<Item> Items;

  private:
    DIR *Stream = nullptr;
    std::vector<char> Names;
};

// A type the listing reports for certain as not a directory.
bool SurelyNotDirectory(uint8 Type) { return Type != DT_DIR && Type != DT_UNKNOWN; }

bool IsRealDirectory(const PlatformFindEntry &Entry) {
    return (Entry.Attributes & PLATFORM_ATTRIBUTE_DIRECTORY) && !(Entry.Attributes & PLATFORM_ATTRIBUTE_SYMLINK);
}

// The level's list as a start on Directory would leave it: its directory
// text and the pattern of its entries. False when the pattern cannot be held.
bool PrepareLevel(DirectoryList *Level, const char *Directory) {
    Path_Resolve(Directory, Level->Directory, sizeof(Level->Directory));
    size_t Length = strlen(Level->Directory);
    if (Length + 1 >= sizeof(Level->Entry.Pattern)) return false;
    char Pattern[sizeof(Level->Entry.Pattern)];
    memcpy(Pattern, Level->Directory, Length);
    strcpy(Pattern + Length, "*");
    Path_Resolve(Pattern, Level->Entry.Pattern, sizeof(Level->Entry.Pattern));
    return true;
}

int32 WalkLevel(DirectoryList *Walker, int32 Depth, int Parent, const char *Name, const char *Directory,
                const char *FilePattern);

// The directory pass: each subdirectory with its subtree, in listing order.
// 0 when a subtree failed; *Result 0 when an entry could not be named.
int32 DirectoryPass(DirectoryList *Walker, DirectoryList *Level, LevelListing &Listing, int32 Depth,
                    const char *Directory, const char *FilePattern, int32 *Result) {
    char Path[MAX_PATH_SIZE];
    for (LevelListing::Item &Item : Listing.Items) {
        const char *Name = Listing.NameOf(Item);
        if (SurelyNotDirectory(Item.Type)) {
            Item.File = true;
            continue;
        }
        if (!Platform_FindReadEntry(Listing.Descriptor(), Name, &Level->Entry) && errno == ENOENT)
            continue; // removed since the listing
        if (!IsRealDirectory(Level->Entry)) {
            Item.File = Item.Recheck = true;
            continue;
        }
        if (!EntryPath(Directory, Name, true, Path)) {
            *Result = 0;
            continue;
        }
        int32 SubResult = 1;
        if (Walker->WalkOrder == DIRECTORYLIST_ORDER_POST) {
            // The subtree's own levels overwrite this level's entry.
            PlatformFindEntry Saved = Level->Entry;
            SubResult = WalkLevel(Walker, Depth + 1, Listing.Descriptor(), Name, Path, FilePattern);
            Level->Entry = Saved;
        }
        if (Walker->WalkFlags & DIRECTORYLIST_WALK_DIRECTORIES) {
            DirectoryList_VerboseLog(Walker, 0, "Directory - %s", Path);
            if (Report(Walker, Level, Depth, Path) == 0) continue;
        }
        if (Walker->WalkOrder == DIRECTORYLIST_ORDER_PRE)
            SubResult = WalkLevel(Walker, Depth + 1, Listing.Descriptor(), Name, Path, FilePattern);
        if (SubResult == 0) return 0;
    }
    return 1;
}

// The file pass: every entry that is not a directory (links included), in
// listing order; a refused file makes *Result 0 and the pass goes on.
void FilePass(DirectoryList *Walker, DirectoryList *Level, LevelListing &Listing, int32 Depth,
              const char *Directory, const char *FilePattern, int32 *Result) {
    char Path[MAX_PATH_SIZE];
    const bool Filtered = FilePattern != nullptr && FilePattern[0] != 0;
    for (const LevelListing::Item &Item : Listing.Items) {
        if (!Item.File) continue;
        const char *Name = Listing.NameOf(Item);
        bool Read = false;
        if (Item.Recheck) {
            if (!Platform_FindReadEntry(Listing.Descriptor(), Name, &Level->Entry)) {
                if (errno == ENOENT) continue;
            } else if (Level->Entry.Attributes & PLATFORM_ATTRIBUTE_DIRECTORY) {
                continue;
            }
            Read = true;
        }
        if (!EntryPath(Directory, Name, false, Path)) {
            *Result = 0;
            continue;
        }
        DirectoryList_VerboseLog(Walker, 0, "File - %s", Path);
        if (Filtered && !String_CompareWildcardListWithoutCase(Name, FilePattern)) continue;
        if (!Read && !Platform_FindReadEntry(Listing.Descriptor(), Name, &Level->Entry) && errno == ENOENT)
            continue; // removed since the listing
        if (Report(Walker, Level, Depth, Path) == 0) *Result = 0;
    }
}

// One level of the walk: subdirectories (with their subtrees) first, then the
// files. 0 when a subtree failed (which ends every enclosing level) or a file
// was refused (the level still visits its other files). Name is the level's
// directory relative to Parent (the root: its path, Parent unused).
int32 WalkLevel(DirectoryList *Walker, int32 Depth, int Parent, const char *Name, const char *Directory,
                const char *FilePattern) {
    if (Walker->MaxDepth != -1 && Depth > Walker->MaxDepth) return 1;
    DirectoryList Level;
    DirectoryList_Stack(&Level);
    LevelListing Listing;
    const bool Root = Depth == 0;
    // An empty root (a relative path that folded away) is the working directory.
    if (Root && Name[0] == 0) Name = ".";
    if (!PrepareLevel(&Level, Directory) || !Listing.Read(Root ? AT_FDCWD : Parent, Name, Root)) return 1;
    Level.WalkFolder = Listing.Descriptor();
    int32 Result = 1;
    if (!DirectoryPass(Walker, &Level, Listing, Depth, Directory, FilePattern, &Result)) return 0;
    if (Walker->WalkFlags & DIRECTORYLIST_WALK_FILES)
        FilePass(Walker, &Level, Listing, Depth, Directory, FilePattern, &Result);
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

int32 DirectoryList_GetWalkFolder(DirectoryList *Handle) {
    DirectoryList_Check(Handle);
    return Handle->WalkFolder;
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
    int32 Result = WalkLevel(Handle, 0, AT_FDCWD, Directory, Directory, FilePattern);
    DirectoryList_Stop(Handle);
    return Result != 0 ? 1 : 0;
}
