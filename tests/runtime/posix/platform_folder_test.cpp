// Special folders, the home and temporary directories, module paths and the
// module log folder, under controlled environment variables.
#include "runtime/posix/platform.h"

#include <dlfcn.h>
#include <pwd.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <string>

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
        ScopedEnv Temp("TMPDIR", "/var/tmp/x");
        EXPECT_EQ(Special(12), "/var/tmp/x/");
        char Buffer[64];
        EXPECT_EQ(Platform_GetPipeDirectory(Buffer, sizeof(Buffer)), 1);
        EXPECT_STREQ(Buffer, "/var/tmp/x/");
    }
    {
        ScopedEnv Temp("TMPDIR", nullptr);
        EXPECT_EQ(Special(12), "/tmp/");
    }
    char Cwd[4096];
    ASSERT_NE(getcwd(Cwd, sizeof(Cwd)), nullptr);
    EXPECT_EQ(Special(23), std::string(Cwd) + (std::string(Cwd) == "/" ? "" : "/"));
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
    ScopedEnv Tmp("TMPDIR", "/var/tmp/folders");
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
        "/var/tmp/folders/",          // 12 Temp
        "/var/run/",                  // 13 AdminTemp
        "/System/",                   // 14 SystemDirectory
        "/",                          // 15 SystemDrive
        Self,                         // 16 ModulePath
        SelfDirectory,                // 17 ModuleDirectory
        "<0:>",                       // 18 ModuleAppPath (no bundle)
        "<0:>",                       // 19 ModuleAppDirectory
        Self,                         // 20 ModuleDllPath (the runtime is linked in)
        SelfDirectory,                // 21 ModuleDllDirectory
        "/var/tmp/folders/",          // 22 PipePath
        Working,                      // 23 WorkingDirectory
        Temp / "Downloads/",          // 24 UserDownloads
        Temp / "data/",               // 25 application support
    };
    for (int32 Id = 1; Id <= 25; Id++) EXPECT_EQ(Special(Id), Expected[Id]) << "id " << Id;
}
