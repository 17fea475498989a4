// Copying and moving: copies checked against Python's os.stat, os.getxattr and
// a SHA-256 of the content, on one volume and across to /dev/shm; progress,
// cancellation and failures leave no partial file; "fail if exists" has one
// winner among racing processes; moves that replace keep the old target until
// the new one is complete, and a move across volumes deletes its source only
// after a complete copy.
#include "runtime/posix/platform.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/support/python.h"
#include "tests/support/requirement.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

void WriteFile(const std::string &Path, const std::string &Content) {
    FILE *Output = fopen(Path.c_str(), "wb");
    ASSERT_NE(Output, nullptr) << Path;
    fwrite(Content.data(), 1, Content.size(), Output);
    fclose(Output);
}

std::string RandomBytes(size_t Size, uint32 Seed) {
    std::mt19937 Random(Seed);
    std::string Bytes(Size, 0);
    for (char &Byte : Bytes) Byte = (char)Random();
    return Bytes;
}

std::set<std::string> Names(const std::string &Directory) {
    std::set<std::string> Found;
    DIR *Search = opendir(Directory.c_str());
    while (struct dirent *Entry = readdir(Search))
        if (strcmp(Entry->d_name, ".") && strcmp(Entry->d_name, "..")) Found.insert(Entry->d_name);
    closedir(Search);
    return Found;
}

// What Python sees of a file: size, mode, owner, modification time in
// nanoseconds, every extended attribute and the SHA-256 of the content. (The
// access time moves when the content is read.)
std::string Described(const std::string &Path) {
    return RunPython("import os,hashlib\n"
                     "p='" + Path + "'\n"
                     "s=os.stat(p,follow_symlinks=False)\n"
                     "x=sorted((n,os.getxattr(p,n).hex()) for n in os.listxattr(p))\n"
                     "print(s.st_size,oct(s.st_mode),s.st_uid,s.st_gid,s.st_mtime_ns,x,"
                     "hashlib.sha256(open(p,'rb').read()).hexdigest())\n");
}

// A POSIX access-control list (user 1234 may read) in its extended-attribute form.
const char *AccessListScript = "import os,struct,sys\n"
                               "acl=struct.pack('<I',2)+b''.join(struct.pack('<HHI',t,p,i) for t,p,i in "
                               "[(1,6,0xffffffff),(2,4,1234),(4,4,0xffffffff),(0x10,4,0xffffffff),(0x20,0,0xffffffff)])\n"
                               "os.setxattr(sys.argv[1] if len(sys.argv)>1 else P,'system.posix_acl_access',acl)\n";

// Whether files in the folder keep user.* extended attributes (tmpfs keeps
// them only from Linux 6.6 on, and a copy drops what the target refuses).
bool HoldsUserAttributes(const std::string &Folder) {
    std::string Probe = Folder + "/.attribute-probe";
    int Descriptor = open(Probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (Descriptor < 0) return false;
    bool Holds = fsetxattr(Descriptor, "user.probe", "1", 1, 0) == 0;
    close(Descriptor);
    unlink(Probe.c_str());
    return Holds;
}

struct Progress {
    std::vector<int64> Copied;
    int64 Total = -1;
    size_t StopAfter = (size_t)-1; // answer 0 on this report
    static int32 Report(void *User, const char *Source, const char *Destination, int64 Copied, int64 Total) {
        (void)Source;
        (void)Destination;
        auto *Self = static_cast<Progress *>(User);
        Self->Copied.push_back(Copied);
        Self->Total = Total;
        return Self->Copied.size() > Self->StopAfter ? 0 : 1;
    }
};

class PlatformCopyTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        char Template[] = "/dev/shm/platform_copy_XXXXXX";
        ASSERT_NE(mkdtemp(Template), nullptr);
        Shm = Template;
        TempHoldsAttributes = HoldsUserAttributes(Temp.Path);
    }
    void TearDown() override {
        ASSERT_EQ(system(("rm -rf '" + Shm + "'").c_str()), 0);
        RuntimeTest::TearDown();
    }
    // A source with content, mode, owner, times, user attributes and an ACL.
    // Without UserAttributes (or where the folder keeps none) the source has
    // only its ACL.
    std::string MakeSource(const std::string &Name, size_t Size, uint32 Seed, bool UserAttributes = true) {
        std::string Path = Temp / Name;
        WriteFile(Path, RandomBytes(Size, Seed));
        chmod(Path.c_str(), 04751);
        if (getuid() == 0) {
            EXPECT_EQ(chown(Path.c_str(), 1234, 5678), 0);
        }
        chmod(Path.c_str(), 04751); // chown cleared set-user-id
        if (UserAttributes && TempHoldsAttributes) {
            EXPECT_EQ(setxattr(Path.c_str(), "user.binary", "\x00\x01\xff", 3, 0), 0) << strerror(errno);
            EXPECT_EQ(setxattr(Path.c_str(), "user.empty", "", 0, 0), 0) << strerror(errno);
        }
        if (getuid() == 0) RunPython(std::string("P='") + Path + "'\n" + AccessListScript);
        struct timespec Times[2] = {{1234567890, 123456789}, {1111111111, 987654321}};
        utimensat(AT_FDCWD, Path.c_str(), Times, 0);
        return Path;
    }
    // Copies into Folder carry everything Python sees of the source.
    void CheckCopiesInto(const std::string &Folder) {
        // Sizes around the 8 MiB step between progress reports.
        const size_t Sizes[] = {0, 1, 8u << 20, (8u << 20) + 1, 20u << 20};
        uint32 Seed = 1;
        for (size_t Size : Sizes) {
            SCOPED_TRACE(std::to_string(Size) + " bytes into " + Folder);
            std::string Source = MakeSource("source" + std::to_string(Seed), Size, Seed);
            std::string Destination = Folder + "/copy" + std::to_string(Seed++);
            Progress Reports;
            ASSERT_EQ(Platform_CopyFileWithProgress(Source.c_str(), Destination.c_str(), 1, &Reports, Progress::Report), 1);
            struct stat Status;
            ASSERT_EQ(stat(Destination.c_str(), &Status), 0);
            EXPECT_EQ(Status.st_atim.tv_sec, 1234567890);
            EXPECT_EQ(Status.st_atim.tv_nsec, 123456789);
            EXPECT_EQ(Described(Destination), Described(Source));
            if (Size > 0) {
                EXPECT_EQ(Reports.Total, (int64)Size);
                EXPECT_EQ(Reports.Copied.back(), (int64)Size);
                EXPECT_EQ(Reports.Copied.size(), (Size + (8u << 20) - 1) / (8u << 20));
            }
            // Nothing but the copy is left in the folder.
            EXPECT_EQ(Names(Folder).count("copy" + std::to_string(Seed - 1)), 1u);
            for (const std::string &Name : Names(Folder)) EXPECT_EQ(Name.find(".copy-"), std::string::npos) << Name;
        }
    }
    TempDirectory Temp;
    std::string Shm;
    bool TempHoldsAttributes = false;
};

} // namespace

TEST_F(PlatformCopyTest, CopiesOnOneVolumeCarryDataModeOwnerTimesAndAttributes) {
    if (!TempHoldsAttributes) GTEST_SKIP() << Temp.Path << " keeps no user extended attributes";
    CheckCopiesInto(Temp.Path);
}

TEST_F(PlatformCopyTest, CopiesAcrossVolumesCarryDataModeOwnerTimesAndAttributes) {
    if (!TempHoldsAttributes) GTEST_SKIP() << Temp.Path << " keeps no user extended attributes";
    if (!HoldsUserAttributes(Shm))
        GTEST_SKIP() << "/dev/shm keeps no user extended attributes (tmpfs keeps them from Linux 6.6 on)";
    CheckCopiesInto(Shm);
}

TEST_F(PlatformCopyTest, ACancelledOrFailedCopyLeavesNoPartialFile) {
    std::string Source = MakeSource("source", 20u << 20, 7);
    std::string Destination = Temp / "target";
    Progress Cancel;
    Cancel.StopAfter = 1;
    EXPECT_EQ(Platform_CopyFileWithProgress(Source.c_str(), Destination.c_str(), 0, &Cancel, Progress::Report), 0);
    EXPECT_EQ(Platform_GetLastError(), 100000 + ECANCELED);
    EXPECT_EQ(Names(Temp.Path), std::set<std::string>{"source"});

    // Replacing: the old target stays whole until the copy completes.
    WriteFile(Destination, "old target");
    std::string Before = Described(Destination);
    EXPECT_EQ(Platform_CopyFileWithProgress(Source.c_str(), Destination.c_str(), 0, &Cancel, Progress::Report), 0);
    EXPECT_EQ(Described(Destination), Before);
    EXPECT_EQ(Names(Temp.Path), (std::set<std::string>{"source", "target"}));
    EXPECT_EQ(Platform_CopyFile(Source.c_str(), Destination.c_str(), 0), 1);
    EXPECT_EQ(Described(Destination), Described(Source));

    struct Case {
        const char *Name;
        std::string Source, Destination;
        int32 FailIfExists, Error;
    } Cases[] = {
        {"existing target", Source, Destination, 1, EEXIST},
        {"missing source", Temp / "none", Temp / "new", 0, ENOENT},
        {"directory source", Temp.Path, Temp / "new", 0, EISDIR},
        {"missing folder", Source, Temp / "no/such/folder", 0, ENOENT},
        {"directory target", Source, Temp.Path, 0, EISDIR},
        {"pipe source", Shm + "/fifo", Temp / "new", 0, EINVAL},
    };
    ASSERT_EQ(mkfifo((Shm + "/fifo").c_str(), 0600), 0);
    for (const Case &C : Cases) {
        EXPECT_EQ(Platform_CopyFile(C.Source.c_str(), C.Destination.c_str(), C.FailIfExists), 0) << C.Name;
        EXPECT_EQ(Platform_GetLastError(), 100000 + C.Error) << C.Name;
        EXPECT_EQ(Names(Temp.Path), (std::set<std::string>{"source", "target"})) << C.Name;
    }
    EXPECT_EQ(Platform_CopyFile(nullptr, Destination.c_str(), 0), 0);
    EXPECT_EQ(Platform_CopyFile(Source.c_str(), nullptr, 0), 0);
}

TEST_F(PlatformCopyTest, OneOfSeveralProcessesCopyingToOneTargetWins) {
    std::string Target = Temp / "target";
    std::string Command = "cd '" + Temp.Path + "' && for i in 0 1 2 3 4 5 6 7; do head -c 3000000 /dev/urandom > s$i; done; ";
    for (int i = 0; i < 8; i++)
        Command += "PLATFORM_COPY_SOURCE='" + Temp.Path + "/s" + std::to_string(i) + "' PLATFORM_COPY_TARGET='" + Target +
                   "' " + SelfExecutable() +
                   " --gtest_also_run_disabled_tests --gtest_filter=PlatformCopyChild.DISABLED_Copy > out" +
                   std::to_string(i) + " 2>&1 & ";
    Command += "wait; grep -h 'copied=' out*";
    std::string Output = CommandOutput(Command);
    size_t Winners = 0, Losers = 0, Winner = 0;
    for (int i = 0; i < 8; i++) {
        if (Output.find("s" + std::to_string(i) + " copied=1 ") != std::string::npos) Winners++, Winner = (size_t)i;
        if (Output.find("s" + std::to_string(i) + " copied=0 error=100017") != std::string::npos) Losers++;
    }
    EXPECT_EQ(Winners, 1u) << Output;
    EXPECT_EQ(Losers, 7u) << Output;
    EXPECT_EQ(RunPython("import hashlib;print(hashlib.sha256(open('" + Target + "','rb').read()).hexdigest())"),
              RunPython("import hashlib;print(hashlib.sha256(open('" + Temp.Path + "/s" + std::to_string(Winner) +
                        "','rb').read()).hexdigest())"));
    for (const std::string &Name : Names(Temp.Path)) EXPECT_EQ(Name.find(".copy-"), std::string::npos) << Name;
}

TEST(PlatformCopyChild, DISABLED_Copy) {
    const char *Source = getenv("PLATFORM_COPY_SOURCE");
    int32 Result = Platform_CopyFile(Source, getenv("PLATFORM_COPY_TARGET"), 1);
    printf("%s copied=%d error=%d\n", strrchr(Source, '/') + 1, Result, Platform_GetLastError());
}

TEST_F(PlatformCopyTest, CopiesAsAnUnprivilegedUser) {
    SKIP_UNLESS_RUN(RunAsRoot(), "dropping privileges needs root");
    SharedDirectory Shared; // root-owned 0755
    WriteFile(Shared / "secret", "root only");
    chmod((Shared / "secret").c_str(), 0600);
    WriteFile(Shared / "public", "for all");
    chmod((Shared / "public").c_str(), 0644);
    ASSERT_EQ(chmod(Shm.c_str(), 0777), 0);
    auto AsNobody = [](const std::string &Source, const std::string &Target) {
        return RunChildTest("PlatformCopyChild.DISABLED_Copy",
                            "PLATFORM_COPY_SOURCE='" + Source + "' PLATFORM_COPY_TARGET='" + Target + "' " + Nobody);
    };
    EXPECT_NE(AsNobody(Shared / "secret", Shm + "/a").find("copied=0 error=100013"), std::string::npos);
    EXPECT_NE(AsNobody(Shared / "public", Shared / "b").find("copied=0 error=100013"), std::string::npos);
    // Allowed: the copy belongs to the user, who cannot give files away.
    EXPECT_NE(AsNobody(Shared / "public", Shm + "/c").find("copied=1"), std::string::npos);
    EXPECT_EQ(RunPython("import os;s=os.stat('" + Shm + "/c');print(s.st_uid,oct(s.st_mode&0o777))"),
              "65534 0o644\n");
    EXPECT_EQ(Names(Shm), std::set<std::string>{"c"});
    EXPECT_EQ(Names(Shared.Path), (std::set<std::string>{"public", "secret"}));
}

TEST_F(PlatformCopyTest, MovesOnOneVolumeRename) {
    std::string Source = MakeSource("source", 1000, 3);
    std::string Target = Temp / "target";
    std::string Expected = Described(Source);
    WriteFile(Target, "old");
    // Without "replace" an existing target stays and so does the source.
    EXPECT_EQ(Platform_MoveFile(nullptr, Source.c_str(), Target.c_str(), 0), 0);
    EXPECT_EQ(Platform_GetLastError(), 100000 + EEXIST);
    EXPECT_EQ(Names(Temp.Path), (std::set<std::string>{"source", "target"}));
    Progress Reports;
    ASSERT_EQ(Platform_MoveFileWithProgress(Source.c_str(), Target.c_str(), 2 | 4, &Reports, Progress::Report), 1);
    EXPECT_EQ(Reports.Copied, std::vector<int64>{1000});
    EXPECT_EQ(Reports.Total, 1000);
    EXPECT_EQ(Described(Target), Expected);
    EXPECT_EQ(Names(Temp.Path), std::set<std::string>{"target"});
    EXPECT_EQ(Platform_MoveFile(nullptr, Source.c_str(), (Temp / "x").c_str(), 0), 0); // no source
    EXPECT_EQ(Platform_GetLastError(), 100000 + ENOENT);
}

TEST_F(PlatformCopyTest, AFifoMovedWithWriteThroughIsNotWaitedOn) {
    const std::string Source = Temp / "fifo", Target = Temp / "moved";
    ASSERT_EQ(mkfifo(Source.c_str(), 0600), 0);
    auto Move = std::async(std::launch::async, [&] {
        return Platform_MoveFile(nullptr, Source.c_str(), Target.c_str(), PLATFORM_MOVE_WRITE_THROUGH);
    });
    if (Move.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        ADD_FAILURE() << "the move waits on the FIFO";
        close(open(Target.c_str(), O_WRONLY | O_NONBLOCK)); // lets it go
    }
    EXPECT_EQ(Move.get(), 1);
    EXPECT_EQ(Names(Temp.Path), std::set<std::string>{"moved"});
}

TEST_F(PlatformCopyTest, MovesAcrossVolumesCopyThenDelete) {
    // Where /dev/shm keeps no user attributes (tmpfs before Linux 6.6) the
    // source has none, so that the rest of the move is still checked.
    std::string Source = MakeSource("source", 12u << 20, 5, HoldsUserAttributes(Shm));
    std::string Expected = Described(Source);
    std::string Target = Shm + "/moved";
    // Without a callback a move is a rename, which cannot cross volumes.
    EXPECT_EQ(Platform_MoveFile(nullptr, Source.c_str(), Target.c_str(), 1 | 2), 0);
    EXPECT_EQ(Platform_GetLastError(), 100000 + EXDEV);
    Progress Reports;
    EXPECT_EQ(Platform_MoveFileWithProgress(Source.c_str(), Target.c_str(), 2, &Reports, Progress::Report), 0);
    EXPECT_EQ(Platform_GetLastError(), 100000 + EXDEV);
    EXPECT_TRUE(Reports.Copied.empty());

    // Cancelled: the source and the old target stay, nothing partial appears.
    WriteFile(Target, "old target");
    std::string Old = Described(Target);
    Progress Cancel;
    Cancel.StopAfter = 1;
    EXPECT_EQ(Platform_MoveFileWithProgress(Source.c_str(), Target.c_str(), 1 | 2, &Cancel, Progress::Report), 0);
    EXPECT_EQ(Described(Source), Expected);
    EXPECT_EQ(Described(Target), Old);
    EXPECT_EQ(Names(Shm), std::set<std::string>{"moved"});
    // Without "replace" the old target is kept.
    EXPECT_EQ(Platform_MoveFileWithProgress(Source.c_str(), Target.c_str(), 1, &Reports, Progress::Report), 0);
    EXPECT_EQ(Platform_GetLastError(), 100000 + EEXIST);

    ASSERT_EQ(Platform_MoveFileWithProgress(Source.c_str(), Target.c_str(), 1 | 2 | 4, &Reports, Progress::Report), 1);
    EXPECT_EQ(Reports.Copied.back(), 12 << 20);
    EXPECT_EQ(Described(Target), Expected);
    EXPECT_EQ(access(Source.c_str(), F_OK), -1);
    EXPECT_EQ(Names(Shm), std::set<std::string>{"moved"});

    // A link crosses as a link.
    ASSERT_EQ(symlink("some/where", (Temp / "link").c_str()), 0);
    ASSERT_EQ(Platform_MoveFileWithProgress((Temp / "link").c_str(), (Shm + "/link").c_str(), 1, &Reports,
                                            Progress::Report),
              1);
    EXPECT_EQ(RunPython("import os;print(os.readlink('" + Shm + "/link'))"), "some/where\n");
    EXPECT_EQ(Names(Temp.Path), std::set<std::string>{});
}
