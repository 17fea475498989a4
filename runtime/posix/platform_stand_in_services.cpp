// The desktop services of the stand-in seam (see platform_stand_in.h). The
// paths and ids live in the seam's keyed table, so a child process reaches
// them through the same environment variables as every other stand-in.
#include "runtime/posix/platform_stand_in.h"

#include <errno.h>
#include <pwd.h>
#include <sys/wait.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <utmpx.h>

#include <mutex>
#include <string>

#include "runtime/log.h"
#include "runtime/posix/platform_spawn.h"
#include "runtime/text/string.h"

namespace {

std::mutex RebootLock;
Platform_RebootFunc RebootOverride = nullptr;

constexpr const char *DefaultElevator = "/usr/bin/pkexec";
constexpr const char *DefaultOpener = "/usr/bin/xdg-open";

int32 CopyOut(const std::string &Text, char *Buffer, int32 Length) {
    if (Buffer == nullptr || Length < 1) return FALSE;
    String_CopyLength(Buffer, Text.c_str(), Length);
    return Text.empty() ? FALSE : TRUE;
}

// A steered console user, "uid:gid"; false (with a warning) when the text is
// no such pair.
bool SteeredConsoleUser(const std::string &Text, int32 *UserId, int32 *GroupId) {
    const char *At = Text.c_str();
    char *End = nullptr;
    errno = 0;
    const long User = strtol(At, &End, 10);
    bool Valid = End != At && *End == ':' && errno == 0;
    long Group = -1;
    if (Valid) {
        At = End + 1;
        Group = strtol(At, &End, 10);
        Valid = End != At && *End == 0 && errno == 0;
    }
    if (!Valid || User < INT32_MIN || User > INT32_MAX || Group < INT32_MIN || Group > INT32_MAX) {
        Log_Warning("Console user stand-in (%s) is no uid:gid pair\n", Text.c_str());
        return false;
    }
    *UserId = (int32)User;
    *GroupId = (int32)Group;
    return true;
}

bool ReadId(const char *Name, int32 *Value) {
    const char *Text = getenv(Name);
    if (Text == nullptr || *Text == 0) return false;
    char *End = nullptr;
    long Number = strtol(Text, &End, 10);
    if (*End != 0 || Number <= 0 || Number > 0x7fffffff) return false;
    *Value = (int32)Number;
    return true;
}

// A user process on an X display (its line or host starts with ":").
bool GraphicalLogin(int32 *UserId, int32 *GroupId) {
    bool Found = false;
    setutxent();
    while (const utmpx *Entry = getutxent()) {
        if (Entry->ut_type != USER_PROCESS) continue;
        if (Entry->ut_line[0] != ':' && Entry->ut_host[0] != ':') continue;
        char Name[sizeof(Entry->ut_user) + 1] = "";
        memcpy(Name, Entry->ut_user, sizeof(Entry->ut_user));
        passwd Record{}, *Result = nullptr;
        char Storage[1024];
        if (getpwnam_r(Name, &Record, Storage, sizeof(Storage), &Result) != 0 || Result == nullptr) continue;
        if (Record.pw_uid == 0) continue;
        *UserId = (int32)Record.pw_uid;
        *GroupId = (int32)Record.pw_gid;
        Found = true;
        break;
    }
    endutxent();
    return Found;
}

int32 SystemReboot(void) {
    // An orderly restart: reboot(2) would not sync or stop services.
    PlatformSpawn Request;
    Request.Path = "/usr/bin/systemctl";
    Request.Arguments = {"systemctl", "reboot"};
    pid_t Child = -1;
    if (Platform_SpawnProcess(Request, &Child) != 0) return FALSE;
    int Status = 0;
    while (waitpid(Child, &Status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(Status) && WEXITSTATUS(Status) == 0 ? TRUE : FALSE;
}

} // namespace

int32 Platform_SetElevator(const char *Path) { return PlatformStandIn_Set("ELEVATOR", Path); }

int32 Platform_GetElevator(char *Buffer, int32 Length) {
    std::string Path = PlatformStandIn_Value("ELEVATOR", "");
    if (Path.empty() && access(DefaultElevator, X_OK) == 0) Path = DefaultElevator;
    return CopyOut(Path, Buffer, Length);
}

int32 Platform_SetConsoleUser(int32 UserId, int32 GroupId) {
    if (UserId < 0) return PlatformStandIn_Set("CONSOLE_USER", nullptr);
    const std::string Pair = std::to_string(UserId) + ":" + std::to_string(GroupId);
    return PlatformStandIn_Set("CONSOLE_USER", Pair.c_str());
}

int32 Platform_GetConsoleUser(int32 *UserId, int32 *GroupId) {
    int32 User = -1, Group = -1;
    const std::string Steered = PlatformStandIn_Value("CONSOLE_USER", "");
    if (Steered.empty() || !SteeredConsoleUser(Steered, &User, &Group)) User = Group = -1;
    if (User < 0 && geteuid() == 0) {
        int32 SudoGroup = -1;
        if (ReadId("SUDO_UID", &User)) {
            if (!ReadId("SUDO_GID", &SudoGroup)) {
                passwd Record{}, *Result = nullptr;
                char Storage[1024];
                if (getpwuid_r((uid_t)User, &Record, Storage, sizeof(Storage), &Result) == 0 && Result != nullptr)
                    SudoGroup = (int32)Record.pw_gid;
            }
            Group = SudoGroup;
        } else if (ReadId("PKEXEC_UID", &User)) {
            passwd Record{}, *Result = nullptr;
            char Storage[1024];
            if (getpwuid_r((uid_t)User, &Record, Storage, sizeof(Storage), &Result) == 0 && Result != nullptr)
                Group = (int32)Record.pw_gid;
            else
                Group = User;
        } else {
            User = -1;
        }
    }
    if (User < 0 && !GraphicalLogin(&User, &Group)) User = Group = -1;
    if (User < 0 || Group < 0) User = Group = -1;
    if (UserId != nullptr) *UserId = User;
    if (GroupId != nullptr) *GroupId = Group;
    return User >= 0 ? TRUE : FALSE;
}

int32 Platform_SetOpener(const char *Path) { return PlatformStandIn_Set("OPENER", Path); }

int32 Platform_GetOpener(char *Buffer, int32 Length) {
    const std::string Path = PlatformStandIn_Value("OPENER", "");
    return CopyOut(Path.empty() ? DefaultOpener : Path, Buffer, Length);
}

int32 Platform_SetRebootSink(Platform_RebootFunc Function) {
    std::lock_guard<std::mutex> Guard(RebootLock);
    RebootOverride = Function;
    return TRUE;
}

Platform_RebootFunc Platform_GetRebootSink(void) {
    std::lock_guard<std::mutex> Guard(RebootLock);
    return RebootOverride != nullptr ? RebootOverride : SystemReboot;
}
