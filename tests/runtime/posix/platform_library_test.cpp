// Shared libraries: load, symbol look-up and unload, on the test interop
// library and on a library that cannot be loaded.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>
#include <string.h>

#include <string>

#include "runtime/posix/platform.h"
#include "tests/support/log_capture.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

const std::string Fixture = std::string(RUNTIME_BINARY_DIR) + "/tests/fixtures/interop_fixture.so";

// Whether an image with this file name is mapped in the process.
bool IsMapped(const std::string &Path) {
    struct Search {
        const std::string *Path;
        bool Found;
    } State{&Path, false};
    dl_iterate_phdr(
        [](dl_phdr_info *Info, size_t, void *Data) {
            auto *Look = static_cast<Search *>(Data);
            if (Info->dlpi_name != nullptr && *Look->Path == Info->dlpi_name) Look->Found = true;
            return 0;
        },
        &State);
    return State.Found;
}

class PlatformLibraryTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        Debug_PrintCallback(CaptureLogMirrored);
        Captured.clear();
    }
};

} // namespace

TEST_F(PlatformLibraryTest, LoadsLooksUpAndUnloads) {
    ASSERT_FALSE(IsMapped(Fixture));
    void *Library = Platform_LoadLibrary(Fixture.c_str(), 1);
    ASSERT_NE(Library, nullptr) << Captured;
    EXPECT_TRUE(IsMapped(Fixture));
    // The exports are found; hidden symbols of its own runtime copy are not.
    for (const char *Name : {"Interop_Load", "Interop_Unload", "Interop_CreateInstance", "Interop_SetOverride",
                             "Interop_SetOption"})
        EXPECT_NE(Platform_GetProcAddress(Library, Name), nullptr) << Name;
    EXPECT_EQ(Platform_GetProcAddress(Library, "Memory_AllocInt"), nullptr);
    EXPECT_EQ(Platform_GetProcAddress(Library, "NoSuchSymbol"), nullptr);
    // Local binding: the library's symbols do not join the global scope.
    EXPECT_EQ(dlsym(RTLD_DEFAULT, "Interop_CreateInstance"), nullptr);
    // The module look-up finds it by file name and answers the same handle.
    EXPECT_EQ(Platform_GetModuleHandle("interop_fixture.so"), Library);
    char File[1024];
    EXPECT_EQ(Platform_GetModuleFilename(Library, File, sizeof(File)), 1);
    EXPECT_EQ(std::string(File), Fixture);

    EXPECT_EQ(Platform_FreeLibrary(Library), 1);
    EXPECT_FALSE(IsMapped(Fixture));
    EXPECT_EQ(Platform_FreeLibrary(nullptr), 0);
    EXPECT_EQ(Captured, "");
}

TEST_F(PlatformLibraryTest, PathsAreResolved) {
    TempDirectory Temp;
    ASSERT_EQ(symlink(Fixture.c_str(), (Temp / "lib.so").c_str()), 0);
    {
        ScopedEnv Home("HOME", Temp.Path.c_str());
        void *Library = Platform_LoadLibrary("~/./sub/../lib.so", 1);
        ASSERT_NE(Library, nullptr) << Captured;
        EXPECT_EQ(Platform_FreeLibrary(Library), 1);
    }
    // "./lib.so" names the file in the working directory, not one on the
    // loader's search path.
    char Saved[1024];
    ASSERT_NE(getcwd(Saved, sizeof(Saved)), nullptr);
    ASSERT_EQ(chdir(Temp.Path.c_str()), 0);
    void *Library = Platform_LoadLibrary("./lib.so", 1);
    EXPECT_EQ(chdir(Saved), 0);
    ASSERT_NE(Library, nullptr) << Captured;
    EXPECT_EQ(Platform_FreeLibrary(Library), 1);
}

TEST_F(PlatformLibraryTest, FailuresLogOnlyWhenAsked) {
    TempDirectory Temp;
    std::string NotElf = Temp / "text.so";
    FILE *File = fopen(NotElf.c_str(), "w");
    fputs("not a library", File);
    fclose(File);

    EXPECT_EQ(Platform_LoadLibrary(NotElf.c_str(), 0), nullptr);
    EXPECT_EQ(Platform_LoadLibrary((Temp / "missing.so").c_str(), 0), nullptr);
    EXPECT_EQ(Captured, "");

    EXPECT_EQ(Platform_LoadLibrary(NotElf.c_str(), 1), nullptr);
    EXPECT_NE(Captured.find("Unable to load library (" + NotElf + ") ("), std::string::npos) << Captured;
    EXPECT_NE(Captured.find("text.so"), Captured.rfind("text.so")); // the loader's own text names it too
    Captured.clear();
    EXPECT_EQ(Platform_LoadSystemLibrary((Temp / "missing.so").c_str(), 1), nullptr);
    EXPECT_NE(Captured.find("Unable to load library (" + Temp / "missing.so" + ") ("), std::string::npos);

    // A path longer than the loader's buffer is refused, never cut.
    Captured.clear();
    std::string Long = Temp.Path + "/" + std::string(1100, 'x') + ".so";
    EXPECT_EQ(Platform_LoadLibrary(Long.c_str(), 1), nullptr);
    EXPECT_EQ(errno, ENAMETOOLONG);
    EXPECT_NE(Captured.find("Unable to load library ("), std::string::npos);
}

TEST_F(PlatformLibraryTest, SystemFolders) {
    char Buffer[64];
    EXPECT_EQ(Platform_GetSystemDrive(Buffer, sizeof(Buffer)), 1);
    EXPECT_STREQ(Buffer, "/");
    char System[64];
    EXPECT_EQ(Platform_GetSystemDirectory(System, sizeof(System)), 1);
    EXPECT_EQ(Platform_GetPlatformDirectory(Buffer, sizeof(Buffer)), 1);
    EXPECT_STREQ(Buffer, System);
    EXPECT_EQ(Platform_GetLongPath("/a/b~1/c", Buffer, sizeof(Buffer)), 1);
    EXPECT_STREQ(Buffer, "/a/b~1/c");
    strcpy(Buffer, "junk");
    EXPECT_EQ(Platform_GetAppFilename(Buffer, sizeof(Buffer)), 0);
    EXPECT_STREQ(Buffer, "");
}

TEST_F(PlatformLibraryTest, ChangesTheWorkingDirectory) {
    TempDirectory Temp;
    char Saved[1024], Now[1024];
    ASSERT_NE(getcwd(Saved, sizeof(Saved)), nullptr);
    {
        ScopedEnv Home("HOME", Temp.Path.c_str());
        ASSERT_EQ(mkdir((Temp / "sub").c_str(), 0755), 0);
        EXPECT_EQ(Platform_SetCurrentDirectory("~/sub/"), 1);
        EXPECT_EQ(Platform_GetCurrentDirectory(Now, sizeof(Now)), 1);
        EXPECT_EQ(std::string(Now), Temp / "sub/");
        EXPECT_EQ(Platform_SetCurrentDirectory("~/missing"), 0);
        EXPECT_EQ(Platform_GetLastError(), 100000 + ENOENT);
    }
    EXPECT_EQ(Platform_SetCurrentDirectory(Saved), 1);
}
