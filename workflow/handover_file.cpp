// The hand-over file (see handover_file.h).
#include "workflow/handover_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "runtime/debug.h"
#include "runtime/log.h"

namespace {

constexpr const char *FileName = "endpoint";
constexpr size_t TextLimit = 4096;

std::string Folder(const char *Path) {
    const char *Slash = strrchr(Path, '/');
    return Slash != nullptr ? std::string(Path, (size_t)(Slash - Path)) : std::string();
}

// Owned by the owner or root, of the given kind, no right for anyone else.
const char *Refusal(const struct stat &Info, mode_t Kind, uint32 Owner) {
    if ((Info.st_mode & S_IFMT) != Kind) return "not of the expected kind";
    if (Info.st_uid != Owner && Info.st_uid != 0) return "owned by another user";
    if ((Info.st_mode & 077) != 0) return "open to other users";
    return nullptr;
}

} // namespace

int32 HandOverFile_Write(const char *Text, char *Path, int32 Size) {
    Debug_CheckPointer(Text);
    Debug_CheckPointer(Path);
    if (Size > 0) Path[0] = 0;
    const char *Base = getenv("TMPDIR");
    std::string Made = std::string(Base != nullptr && Base[0] == '/' ? Base : "/tmp") + "/velmarsh-handover-XXXXXX";
    if (mkdtemp(Made.data()) == nullptr) { // 0700 by construction
        Log_Error("Cannot make the hand-over folder %s [LE: %d]\n", Made.c_str(), 100000 + errno);
        return FALSE;
    }
    std::string File = Made + "/" + FileName;
    if (File.size() + 1 > (size_t)Size) {
        rmdir(Made.c_str());
        return FALSE;
    }
    int Fd = open(File.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    const size_t Length = strlen(Text);
    bool Written = Fd >= 0 && write(Fd, Text, Length) == (ssize_t)Length;
    if (Fd >= 0) Written = close(Fd) == 0 && Written;
    if (!Written) {
        Log_Error("Cannot write the hand-over file %s [LE: %d]\n", File.c_str(), 100000 + errno);
        unlink(File.c_str());
        rmdir(Made.c_str());
        return FALSE;
    }
    memcpy(Path, File.c_str(), File.size() + 1);
    return TRUE;
}

int32 HandOverFile_Read(const char *Path, uint32 Owner, char *Text, int32 Size) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Text);
    if (Size > 0) Text[0] = 0;
    const std::string Directory = Folder(Path);
    struct stat Info {};
    const char *Why = nullptr;
    if (Path[0] != '/' || Directory.empty()) Why = "not an absolute path";
    else if (lstat(Directory.c_str(), &Info) != 0) Why = "its folder is missing";
    else Why = Refusal(Info, S_IFDIR, Owner);
    int Fd = -1;
    if (Why == nullptr) {
        Fd = open(Path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        if (Fd < 0 || fstat(Fd, &Info) != 0) Why = "it cannot be opened";
        else if ((Why = Refusal(Info, S_IFREG, Owner)) == nullptr && Info.st_nlink != 1) Why = "it has other names";
    }
    std::string Read;
    if (Why == nullptr) {
        char Buffer[512];
        ssize_t Got = 0;
        while ((Got = read(Fd, Buffer, sizeof(Buffer))) > 0 && Read.size() <= TextLimit) Read.append(Buffer, (size_t)Got);
        if (Got < 0 || Read.size() > TextLimit || Read.empty()) Why = "its content is not usable";
    }
    if (Fd >= 0) close(Fd);
    if (Why != nullptr) {
        Log_Error("Hand-over file %s refused: %s\n", Path, Why);
        return FALSE;
    }
    HandOverFile_Remove(Path);
    while (!Read.empty() && (Read.back() == '\n' || Read.back() == '\r')) Read.pop_back();
    const size_t Count = std::min(Read.size(), (size_t)(Size > 0 ? Size - 1 : 0));
    if (Size > 0) {
        memcpy(Text, Read.data(), Count);
        Text[Count] = 0;
    }
    return TRUE;
}

int32 HandOverFile_Remove(const char *Path) {
    Debug_CheckPointer(Path);
    if (Path[0] == 0) return TRUE;
    unlink(Path);
    const std::string Directory = Folder(Path);
    if (!Directory.empty()) rmdir(Directory.c_str());
    return TRUE;
}
