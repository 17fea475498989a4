// Stand-ins for desktop services: see platform_standin.h. The settings are
// plain words written by the start-up code or a test before any launch reads
// them; a mutex keeps a reader from seeing half of a path.
#include "core/posix/platform_standin.h"

#include <errno.h>
#include <pwd.h>
#include <sys/wait.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <utmpx.h>

#include <mutex>
#include <string>

#include "core/posix/platform_spawn.h"
#include "core/string.h"

namespace {

std::mutex SettingsLock;
std::string ElevatorOverride;
std::string OpenerOverride;
int32 ConsoleUserOverride = -1;
int32 ConsoleGroupOverride = -1;
Platform_RebootFunc RebootOverride = nullptr;

constexpr const char *DefaultElevator = "/usr/bin/pkexec";
constexpr const char *DefaultOpener = "/usr/bin/xdg-open";

int32 CopyOut(const std::string &Text, char *Buffer, int32 Length) {
    if (Buffer == nullptr || Length < 1) return FALSE;
    String_CopyLength(Buffer, Text.c_str(), Length);
    return Text.empty() ? FALSE : TRUE;
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

int32 Platform_SetElevator(const char *Path) {
    std::lock_guard<std::mutex> Guard(SettingsLock);
    ElevatorOverride = Path != nullptr ? Path : "";
    return TRUE;
}

int32 Platform_GetElevator(char *Buffer, int32 Length) {
    std::string Path;
    {
        std::lock_guard<std::mutex> Guard(SettingsLock);
        Path = ElevatorOverride;
    }
    if (Path.empty() && access(DefaultElevator, X_OK) == 0) Path = DefaultElevator;
    return CopyOut(Path, Buffer, Length);
}

int32 Platform_SetConsoleUser(int32 UserId, int32 GroupId) {
    std::lock_guard<std::mutex> Guard(SettingsLock);
    ConsoleUserOverride = UserId;
    ConsoleGroupOverride = UserId < 0 ? -1 : GroupId;
    return TRUE;
}

int32 Platform_GetConsoleUser(int32 *UserId, int32 *GroupId) {
    int32 User = -1, Group = -1;
    {
        std::lock_guard<std::mutex> Guard(SettingsLock);
        User = ConsoleUserOverride;
        Group = ConsoleGroupOverride;
    }
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

int32 Platform_SetOpener(const char *Path) {
    std::lock_guard<std::mutex> Guard(SettingsLock);
    OpenerOverride = Path != nullptr ? Path : "";
    return TRUE;
}

int32 Platform_GetOpener(char *Buffer, int32 Length) {
    std::string Path;
    {
        std::lock_guard<std::mutex> Guard(SettingsLock);
        Path = OpenerOverride.empty() ? DefaultOpener : OpenerOverride;
    }
    return CopyOut(Path, Buffer, Length);
}

int32 Platform_SetRebootSink(Platform_RebootFunc Function) {
    std::lock_guard<std::mutex> Guard(SettingsLock);
    RebootOverride = Function;
    return TRUE;
}

Platform_RebootFunc Platform_GetRebootSink(void) {
    std::lock_guard<std::mutex> Guard(SettingsLock);
    return RebootOverride != nullptr ? RebootOverride : SystemReboot;
}
