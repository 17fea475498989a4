// Special folders, the home and temporary directories, module paths and the
// module log folder, under controlled environment variables.
#include "runtime/posix/platform.h"

#include <dlfcn.h>
#include <pwd.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "tests/support/requirement.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

std::string Special(int32 Id) {
    char Buffer[1024] = "garbage";
    int32 Result = Platform_GetSpecialPath(Id, Buffer, sizeof(Buffer));
    return Result ? Buffer : std::string("<0:") + Buffer + ">";
}


} // namespace

TEST(PlatformFolder, FixedAndCoincidingIds) {
    TempDirectory Own; // so that no folder of the program's own is made for the temporary ids
    ScopedEnv Tmpdir("TMPDIR", Own.Path.c_str());
    EXPECT_EQ(Special(13), "/var/run/");
    EXPECT_EQ(Special(15), "/");
    std::string Shared = Special(11);
    EXPECT_EQ(Shared.substr(Shared.size() - 8), "/Shared/");
    for (int32 Id : {2, 3, 4}) EXPECT_EQ(Special(Id), Special(1));
    EXPECT_EQ(Special(8), Special(7));
    EXPECT_EQ(Special(10), Special(9));
    EXPECT_EQ(Special(25), Special(9));
    EXPECT_EQ(Special(22), Special(12));
    EXPECT_EQ(Special(18), "<0:>"); // no application bundle
    EXPECT_EQ(Special(19), "<0:>");
    for (int32 Id = 1; Id <= 25; Id++) {
        if (Id == 16 || Id == 18 || Id == 19 || Id == 20) continue; // files, or no answer
        std::string Path = Special(Id);
        EXPECT_EQ(Path.back(), '/') << Id << " " << Path;
    }
}

TEST(PlatformFolder, HomeTempAndWorkingDirectory) {
    {
        ScopedEnv Home("HOME", "/home/someone");
        EXPECT_EQ(Special(5), "/home/someone/");
    }
    {
        // Without $HOME the user database answers.
        ScopedEnv Home("HOME", nullptr);
        std::string Expected = std::string(getpwuid(getuid())->pw_dir);
        if (Expected.back() != '/') Expected += '/';
        EXPECT_EQ(Special(5), Expected);
    }
    {
        TempDirectory Own;
        ScopedEnv Temp("TMPDIR", Own.Path.c_str());
        EXPECT_EQ(Special(12), Own.Path + "/");
        char Buffer[1024];
        EXPECT_EQ(Platform_GetPipeDirectory(Buffer, sizeof(Buffer)), 1);
        EXPECT_EQ(Buffer, Own.Path + "/");
        EXPECT_EQ(Platform_GetTempDirectory(Buffer, sizeof(Buffer)), 1);
        EXPECT_EQ(Buffer, Own.Path + "/");
    }
    char Cwd[4096];
    ASSERT_NE(getcwd(Cwd, sizeof(Cwd)), nullptr);
    EXPECT_EQ(Special(23), std::string(Cwd) + (std::string(Cwd) == "/" ? "" : "/"));
}

// The temporary folder is one no other user can write or make names in:
// $TMPDIR only when it is such a folder of this user's, else this program's
// own 0700 folder under $XDG_RUNTIME_DIR, else under the cache folder, each
// refused (and told once on stderr, with why) when another user has or could
// have taken it.
TEST(PlatformFolder, TemporaryFolderIsTheUsersOwn) {
    enum Answer { AtTmpdir, AtRuntime, AtCache, AtNone };
    struct Case {
        const char *Name;
        const char *Tmpdir;  // "own:MODE", "other" (65534's), "link", "relative", nullptr: unset
        const char *Runtime; // "own:MODE", nullptr: unset
        const char *Taken;   // what already stands at the cache folder's name: "other", "link", "own:MODE"
        Answer Expected;
        const char *Told;
    };
    const Case Cases[] = {
        {"own TMPDIR", "own:700", nullptr, nullptr, AtTmpdir, nullptr},
        {"own TMPDIR others may read", "own:755", nullptr, nullptr, AtTmpdir, nullptr},
        {"sticky shared TMPDIR", "own:1777", nullptr, nullptr, AtCache, "other users may write in it"},
        {"group may write in TMPDIR", "own:770", nullptr, nullptr, AtCache, "other users may write in it"},
        {"relative TMPDIR", "relative", nullptr, nullptr, AtCache, "it is not an absolute path"},
        {"TMPDIR a link to an own folder", "link", nullptr, nullptr, AtCache, "it is a link"},
        {"TMPDIR of another user", "other", nullptr, nullptr, AtCache, "it belongs to another user"},
        {"unset TMPDIR, own runtime folder", nullptr, "own:700", nullptr, AtRuntime, nullptr},
        {"shared runtime folder", nullptr, "own:1777", nullptr, AtCache, "other users may write in it"},
        {"name taken by another user", nullptr, nullptr, "other", AtNone, "it belongs to another user"},
        {"name taken by a link", nullptr, nullptr, "link", AtNone, "it is a link"},
        {"name open to others", nullptr, nullptr, "own:755", AtNone, "other users have rights on it"},
    };
    const std::string Self = SelfExecutable();
    const std::string Own = Self.substr(Self.rfind('/') + 1) + "-tmp";
    ScopedEnv CacheHome("XDG_CACHE_HOME", nullptr);
    for (const Case &Each : Cases) {
        if ((Each.Tmpdir != nullptr && strcmp(Each.Tmpdir, "other") == 0) ||
            (Each.Taken != nullptr && strcmp(Each.Taken, "other") == 0)) {
            if (!RunAsRoot()) {
                printf("%s: skipped, another user's folder is made as root\n", Each.Name);
                continue;
            }
        }
        TempDirectory Home;
        // A folder at Path as Kind says; its path.
        auto Make = [&](const std::string &Path, const char *Kind) {
            if (strncmp(Kind, "own:", 4) == 0) {
                EXPECT_EQ(mkdir(Path.c_str(), 0700), 0);
                EXPECT_EQ(chmod(Path.c_str(), (mode_t)strtol(Kind + 4, nullptr, 8)), 0);
            } else if (strcmp(Kind, "other") == 0) {
                EXPECT_EQ(mkdir(Path.c_str(), 0700), 0);
                EXPECT_EQ(chown(Path.c_str(), 65534, 65534), 0);
            } else if (strcmp(Kind, "link") == 0) {
                EXPECT_EQ(mkdir((Path + ".real").c_str(), 0700), 0);
                EXPECT_EQ(symlink((Path + ".real").c_str(), Path.c_str()), 0);
            }
            return strcmp(Kind, "relative") == 0 ? std::string("relative/tmp") : Path;
        };
        ScopedEnv HomeEnv("HOME", Home.Path.c_str());
        const std::string Tmpdir = Each.Tmpdir != nullptr ? Make(Home / "tmp", Each.Tmpdir) : "";
        ScopedEnv TmpdirEnv("TMPDIR", Each.Tmpdir != nullptr ? Tmpdir.c_str() : nullptr);
        const std::string Runtime = Each.Runtime != nullptr ? Make(Home / "run", Each.Runtime) : "";
        ScopedEnv RuntimeEnv("XDG_RUNTIME_DIR", Each.Runtime != nullptr ? Runtime.c_str() : nullptr);
        if (Each.Taken != nullptr) {
            ASSERT_EQ(mkdir((Home / ".cache").c_str(), 0700), 0);
            Make(Home / ".cache/" + Own, Each.Taken);
        }
        const std::string Expected[] = {Tmpdir + "/", Runtime + "/" + Own + "/", Home / ".cache/" + Own + "/", "<0:>"};
        testing::internal::CaptureStderr();
        const std::string Temp = Special(12), Pipe = Special(22);
        const std::string Told = testing::internal::GetCapturedStderr();
        EXPECT_EQ(Temp, Expected[Each.Expected]) << Each.Name;
        EXPECT_EQ(Pipe, Temp) << Each.Name;
        // One line for the folder refused, saying why.
        if (Each.Told == nullptr) {
            EXPECT_EQ(Told, "") << Each.Name;
        } else {
            const size_t Line = Told.find(std::string(" is not used for temporary files: ") + Each.Told + "\n");
            EXPECT_NE(Line, std::string::npos) << Each.Name << ": " << Told;
            EXPECT_EQ(Told.find(" is not used ", Line + 1), std::string::npos) << Each.Name << ": " << Told;
        }
        // Told once only.
        testing::internal::CaptureStderr();
        EXPECT_EQ(Special(12), Temp) << Each.Name;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << Each.Name;
        struct stat Info {};
        if (Each.Expected == AtRuntime || Each.Expected == AtCache) {
            ASSERT_EQ(lstat(Temp.c_str(), &Info), 0) << Each.Name;
            EXPECT_TRUE(S_ISDIR(Info.st_mode)) << Each.Name;
            EXPECT_EQ(Info.st_mode & 0777, 0700u) << Each.Name;
            EXPECT_EQ(Info.st_uid, geteuid()) << Each.Name;
        }
        if (Each.Expected == AtCache) {
            ASSERT_EQ(lstat((Home / ".cache").c_str(), &Info), 0);
            EXPECT_EQ(Info.st_mode & 0777, 0700u) << Each.Name;
        }
    }
}

// Every folder above $TMPDIR must keep it in place: root's or the user's,
// and closed to others unless sticky. A link on the way is followed and what
// it leads to checked the same way; a path naming "." or ".." is refused.
TEST(PlatformFolder, FoldersAboveTheTemporaryFolderHoldItInPlace) {
    TempDirectory Home;
    auto Make = [&](const std::string &Name, mode_t Mode) {
        EXPECT_EQ(mkdir((Home / Name).c_str(), 0700), 0) << Name;
        EXPECT_EQ(chmod((Home / Name).c_str(), Mode), 0) << Name;
    };
    Make("open", 0777);
    Make("open/tmp", 0700);
    Make("sticky", 01777);
    Make("sticky/tmp", 0700);
    Make("real", 0700);
    Make("real/tmp", 0700);
    ASSERT_EQ(symlink((Home / "real").c_str(), (Home / "link").c_str()), 0);
    ASSERT_EQ(symlink("open", (Home / "relative").c_str()), 0);
    const std::string Open = " is not used for temporary files: other users may write in the folder above it " +
                             Home / "open" + "\n";
    const std::pair<std::string, std::string> Cases[] = {
        {"open/tmp", Open},
        {"sticky/tmp", ""},
        {"link/tmp", ""},
        {"relative/tmp", Open},
        {"real/tmp/.", " is not used for temporary files: it names \".\" or \"..\"\n"},
        {"open/../real/tmp", " is not used for temporary files: it names \".\" or \"..\"\n"},
    };
    ScopedEnv HomeEnv("HOME", Home.Path.c_str());
    ScopedEnv Runtime("XDG_RUNTIME_DIR", nullptr);
    ScopedEnv CacheHome("XDG_CACHE_HOME", nullptr);
    for (const auto &[Name, Told] : Cases) {
        ScopedEnv Tmpdir("TMPDIR", (Home / Name).c_str());
        testing::internal::CaptureStderr();
        const std::string Temp = Special(12);
        const std::string Said = testing::internal::GetCapturedStderr();
        if (Told.empty()) {
            EXPECT_EQ(Temp, Home / Name + "/") << Name;
            EXPECT_EQ(Said, "") << Name;
        } else {
            EXPECT_NE(Temp, Home / Name + "/") << Name;
            EXPECT_NE(Said.find("TMPDIR=" + Home / Name + Told), std::string::npos) << Name << ": " << Said;
        }
    }
}

TEST(PlatformFolder, UserFoldersFollowUserDirs) {
    TempDirectory Temp;
    ScopedEnv Home("HOME", Temp.Path.c_str());
    ScopedEnv Config("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(Special(7), Temp.Path + "/Desktop/");
    EXPECT_EQ(Special(6), Temp.Path + "/Documents/");
    EXPECT_EQ(Special(24), Temp.Path + "/Downloads/");
    EXPECT_EQ(Special(9), Temp.Path + "/.local/share/");

    ASSERT_EQ(system(("mkdir -p '" + Temp.Path + "/.config'").c_str()), 0);
    std::ofstream(Temp.Path + "/.config/user-dirs.dirs")
        << "# written by xdg-user-dirs-update\n"
        << "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n"
        << "XDG_DOWNLOAD_DIR=\"/srv/down loads\"\n"
        << "XDG_DOCUMENTS_DIR=relative/not/allowed\n";
    EXPECT_EQ(Special(7), Temp.Path + "/Schreibtisch/");
    EXPECT_EQ(Special(8), Temp.Path + "/Schreibtisch/");
    EXPECT_EQ(Special(24), "/srv/down loads/");
    EXPECT_EQ(Special(6), Temp.Path + "/Documents/");

    ScopedEnv Data("XDG_DATA_HOME", "/data/home");
    EXPECT_EQ(Special(25), "/data/home/");
    ScopedEnv RelativeData("XDG_DATA_HOME", "relative");
    EXPECT_EQ(Special(25), Temp.Path + "/.local/share/"); // a relative value is ignored
}

TEST(PlatformFolder, AnswersAreCutAndBuffersEmptied) {
    ScopedEnv Home("HOME", "/home/someone");
    char Small[6] = "xxxxx";
    EXPECT_EQ(Platform_GetSpecialPath(5, Small, sizeof(Small)), 1);
    EXPECT_STREQ(Small, "/home");
    char Untouched[4] = "abc";
    EXPECT_EQ(Platform_GetSpecialPath(5, Untouched, 0), 0);
    EXPECT_STREQ(Untouched, "abc");
    char Emptied[16] = "garbage";
    EXPECT_EQ(Platform_GetSpecialPath(18, Emptied, sizeof(Emptied)), 0);
    EXPECT_STREQ(Emptied, "");
}

TEST(PlatformFolderDeathTest, UnsupportedIdsStop) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    char Buffer[64];
    EXPECT_EXIT(Platform_GetSpecialPath(26, Buffer, sizeof(Buffer)), ::testing::KilledBySignal(SIGILL),
                "Unsupported directory \\[Type: 26\\]");
    EXPECT_EXIT(Platform_GetSpecialPath(0, Buffer, sizeof(Buffer)), ::testing::KilledBySignal(SIGILL),
                "Unsupported directory \\[Type: 0\\]");
}

TEST(PlatformModule, ExecutableAndModuleFiles) {
    std::string Self = SelfExecutable();
    std::string Directory = Self.substr(0, Self.rfind('/') + 1);
    char Buffer[4096];
    EXPECT_EQ(Platform_GetModuleFilename(nullptr, Buffer, sizeof(Buffer)), 1);
    EXPECT_EQ(Buffer, Self);
    void *Main = Platform_GetModuleHandle(nullptr);
    ASSERT_NE(Main, nullptr);
    EXPECT_EQ(Platform_GetCurrentModuleHandle(), Main);
    // The runtime is linked into this program, so "the image holding this code" is it.
    EXPECT_EQ(Platform_GetModuleFilename(Main, Buffer, sizeof(Buffer)), 1);
    EXPECT_EQ(Buffer, Self);
    EXPECT_EQ(Platform_GetModuleDirectory(Main, Buffer, sizeof(Buffer)), 1);
    EXPECT_EQ(Buffer, Directory);
    EXPECT_EQ(Special(16), Self);
    EXPECT_EQ(Special(17), Directory);
    EXPECT_EQ(Special(20), Self);
    EXPECT_EQ(Special(21), Directory);

    void *Libc = Platform_GetModuleHandle("libc.so.6");
    ASSERT_NE(Libc, nullptr);
    EXPECT_EQ(Libc, dlopen("libc.so.6", RTLD_LAZY | RTLD_NOLOAD));
    dlclose(Libc);
    EXPECT_EQ(Platform_GetModuleFilename(Libc, Buffer, sizeof(Buffer)), 1);
    EXPECT_EQ(std::string(Buffer).substr(std::string(Buffer).rfind('/')), "/libc.so.6");
    EXPECT_EQ(Platform_GetModuleHandle("no-such-library.so"), nullptr);
    int NotAHandle;
    EXPECT_EQ(Platform_GetModuleFilename(&NotAHandle, Buffer, sizeof(Buffer)), 0);
    EXPECT_STREQ(Buffer, "");
}

TEST(PlatformModule, LogDirectory) {
    TempDirectory Temp;
    ScopedEnv Home("HOME", Temp.Path.c_str());
    std::string Self = SelfExecutable();
    std::string Name = Self.substr(Self.rfind('/') + 1); // "platform_folder_test": no extension
    char Buffer[1024];
    {
        ScopedEnv State("XDG_STATE_HOME", nullptr);
        EXPECT_EQ(Platform_GetModuleLogDirectory(nullptr, Buffer, sizeof(Buffer)), 1);
        EXPECT_EQ(Buffer, Temp.Path + "/.local/state/" + Name + "/");
    }
    {
        ScopedEnv State("XDG_STATE_HOME", "/var/state/");
        EXPECT_EQ(Platform_GetModuleLogDirectory(nullptr, Buffer, sizeof(Buffer)), 1);
        EXPECT_EQ(Buffer, "/var/state/" + Name + "/");
    }
    EXPECT_EQ(Platform_GetModuleLogDirectory(nullptr, Buffer, 0), 0);
    // Not created here.
    EXPECT_NE(access((Temp.Path + "/.local").c_str(), F_OK), 0);

    // A module handle without company and product names: the module's directory.
    RuntimeScope Runtime;
    EXPECT_EQ(Platform_GetModuleLogDirectory(Platform_GetModuleHandle(nullptr), Buffer, sizeof(Buffer)), 1);
    EXPECT_EQ(Buffer, Self.substr(0, Self.rfind('/') + 1));
}

TEST(PlatformFolder, EveryIdUnderAControlledEnvironment) {
    TempDirectory Temp;
    ScopedEnv Home("HOME", Temp.Path.c_str());
    ScopedEnv Data("XDG_DATA_HOME", (Temp / "data").c_str());
    ScopedEnv Config("XDG_CONFIG_HOME", (Temp / "config").c_str());
    ASSERT_EQ(mkdir((Temp / "tmp").c_str(), 0700), 0);
    ScopedEnv Tmp("TMPDIR", (Temp / "tmp").c_str());
    char Cwd[1024];
    ASSERT_NE(getcwd(Cwd, sizeof(Cwd)), nullptr);
    std::string Self = SelfExecutable(), SelfDirectory = Self.substr(0, Self.rfind('/') + 1);
    std::string Working = std::string(Cwd) + (std::string(Cwd) == "/" ? "" : "/");
    const std::string Expected[26] = {
        "",
        "/opt/",                      // 1 UserStartMenu
        "/opt/",                      // 2 CommonStartMenu
        "/opt/",                      // 3 ProgramFiles
        "/opt/",                      // 4 ProgramFiles64
        Temp.Path + "/",              // 5 UserHome
        Temp / "Documents/",          // 6 UserDocuments
        Temp / "Desktop/",            // 7 UserDesktop
        Temp / "Desktop/",            // 8 CommonDesktop
        Temp / "data/",               // 9 UserAppData
        Temp / "data/",               // 10 UserAppDataRoaming
        "/var/lib/Shared/",           // 11 CommonAppData
        Temp / "tmp/",                // 12 Temp
        "/var/run/",                  // 13 AdminTemp
        "/System/",                   // 14 SystemDirectory
        "/",                          // 15 SystemDrive
        Self,                         // 16 ModulePath
        SelfDirectory,                // 17 ModuleDirectory
        "<0:>",                       // 18 ModuleAppPath (no bundle)
        "<0:>",                       // 19 ModuleAppDirectory
        Self,                         // 20 ModuleDllPath (the runtime is linked in)
        SelfDirectory,                // 21 ModuleDllDirectory
        Temp / "tmp/",                // 22 PipePath
        Working,                      // 23 WorkingDirectory
        Temp / "Downloads/",          // 24 UserDownloads
        Temp / "data/",               // 25 application support
    };
    for (int32 Id = 1; Id <= 25; Id++) EXPECT_EQ(Special(Id), Expected[Id]) << "id " << Id;
}
