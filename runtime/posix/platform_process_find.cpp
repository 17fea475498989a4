// Process queries over /proc: the list of processes, one process's parent,
// name and executable, and the search by executable pattern.
//
// /proc/<id>/stat is read after the last ")", because a process name may
// itself hold ")" and blanks. The executable is the "exe" link, less the
// " (deleted)" the kernel adds for a replaced file.
#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/posix/platform_process.h"
#include "runtime/posix/platform_stand_in.h"
#include "runtime/text/string.h"

struct PlatformProcessFind {
    ClassStruct Class;
    std::vector<int32> *Ids;
    size_t Index;
};

namespace {

// Tests steer the /proc tree through the stand-in seam, as for the
// system facts.
std::string Root() { return PlatformStandIn_Value("PROC_ROOT", "/proc"); }

bool ReadSmallFile(const std::string &Path, std::string &Text) { return PlatformStandIn_ReadFile(Path, Text, 4096); }

bool ListIds(std::vector<int32> &Ids) {
    DIR *Directory = opendir(Root().c_str());
    if (Directory == nullptr) {
        Log_Print(LOG_DEBUG, "Error getting proc list: %d\n", errno);
        return false;
    }
    while (dirent *Entry = readdir(Directory)) {
        char *End = nullptr;
        const long Id = strtol(Entry->d_name, &End, 10);
        if (*End == 0 && Id > 0 && Id <= 0x7fffffff) Ids.push_back((int32)Id);
    }
    closedir(Directory);
    // Room for one eighth more, as processes start while the list is read.
    Ids.reserve(Ids.size() + Ids.size() / 8);
    std::sort(Ids.begin(), Ids.end());
    return true;
}

void ExecutablePath(int32 ProcessId, char *Buffer, int32 Length) {
    Buffer[0] = 0;
    char Link[4097];
    const std::string Path = Root() + "/" + std::to_string(ProcessId) + "/exe";
    const ssize_t Count = readlink(Path.c_str(), Link, sizeof(Link) - 1);
    if (Count <= 0) return;
    Link[Count] = 0;
    constexpr const char Deleted[] = " (deleted)";
    const size_t Suffix = sizeof(Deleted) - 1;
    if ((size_t)Count > Suffix && strcmp(Link + Count - Suffix, Deleted) == 0) Link[Count - Suffix] = 0;
    String_CopyLength(Buffer, Link, Length);
}

} // namespace

int32 Platform_ProcessFindFill(int32 ProcessId, PlatformProcessEntry *Entry) {
    Debug_CheckPointer(Entry);
    memset(Entry, 0, sizeof(*Entry));
    Entry->ProcessId = Entry->ParentProcessId = -1;
    const std::string Base = Root() + "/" + std::to_string(ProcessId);
    std::string Stat, Name;
    if (!ReadSmallFile(Base + "/stat", Stat) || !ReadSmallFile(Base + "/comm", Name)) return FALSE;
    const size_t Close = Stat.rfind(')');
    if (Close == std::string::npos) return FALSE;
    char State = 0;
    int Parent = -1;
    if (sscanf(Stat.c_str() + Close + 1, " %c %d", &State, &Parent) != 2) return FALSE;
    if (!Name.empty() && Name.back() == '\n') Name.pop_back();
    Entry->ProcessId = ProcessId;
    Entry->ParentProcessId = Parent;
    String_CopyLength(Entry->Name, Name.c_str(), PLATFORM_PROCESS_NAME_SIZE);
    ExecutablePath(ProcessId, Entry->Path, PLATFORM_PROCESS_PATH_SIZE);
    return TRUE;
}

int32 Platform_ProcessFindFirst(PlatformProcessEntry *Entry, PlatformProcessFind **Handle) {
    Debug_CheckPointer(Entry);
    Debug_CheckPointer(Handle);
    *Handle = nullptr;
    std::vector<int32> Ids;
    if (!ListIds(Ids)) return FALSE;
    PlatformProcessFind *Find = Memory_New(PlatformProcessFind);
    Class_InitHeader(Find, PLATFORMPROCESSFIND_CLASSID, nullptr);
    Find->Ids = new std::vector<int32>(std::move(Ids));
    if (!Platform_ProcessFindNext(Find, Entry)) {
        Platform_ProcessFindClose(&Find);
        return FALSE;
    }
    *Handle = Find;
    return TRUE;
}

int32 Platform_ProcessFindNext(PlatformProcessFind *Handle, PlatformProcessEntry *Entry) {
    Class_CheckHandle(Handle, PLATFORMPROCESSFIND_CLASSID);
    Debug_CheckPointer(Entry);
    // Processes that ended since the list was read are skipped.
    while (Handle->Index < Handle->Ids->size())
        if (Platform_ProcessFindFill((*Handle->Ids)[Handle->Index++], Entry)) return TRUE;
    return FALSE;
}

int32 Platform_ProcessFindClose(PlatformProcessFind **Handle) {
    Debug_CheckPointer(Handle);
    PlatformProcessFind *Find = *Handle;
    Class_CheckHandle(Find, PLATFORMPROCESSFIND_CLASSID);
    delete Find->Ids;
    Memory_Delete(Find);
    *Handle = nullptr;
    return TRUE;
}

int32 Platform_ProcessGetPathById(int32 ProcessId, char *Buffer, int32 Length) {
    Debug_CheckPointer(Buffer);
    if (Length < 1) return FALSE;
    ExecutablePath(ProcessId, Buffer, Length);
    return TRUE;
}

int32 Platform_FindProcess(const char *Pattern, int32 *ProcessId) {
    Debug_CheckPointer(ProcessId);
    *ProcessId = -1;
    if (Pattern == nullptr) return FALSE;
    std::vector<int32> Ids;
    if (!ListIds(Ids)) return FALSE;
    char Path[PLATFORM_PROCESS_PATH_SIZE * 4];
    for (int32 Id : Ids) {
        ExecutablePath(Id, Path, (int32)sizeof(Path));
        if (Path[0] == 0) continue;
        const char *Slash = strrchr(Path, '/');
        if (String_CompareWildcardWithoutCase(Path, Pattern) ||
            (Slash != nullptr && String_CompareWildcardWithoutCase(Slash + 1, Pattern))) {
            *ProcessId = Id;
            return TRUE;
        }
    }
    return FALSE;
}

int32 Platform_FindWindow(const char *Title, const char *Owner, int32 OnScreenOnly, int32 *WindowNumber) {
    (void)Title;
    (void)Owner;
    (void)OnScreenOnly;
    if (WindowNumber != nullptr) *WindowNumber = 0;
    // No window server answers for other applications' windows here.
    return FALSE;
}
