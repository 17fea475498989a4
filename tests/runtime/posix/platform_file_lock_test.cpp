// Record locks against a Python fcntl.lockf child, memory maps, sparse mode
// and the group access descriptor.
#include "runtime/posix/platform.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/python.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

// Python's answer for each offset: "free" when it could take an exclusive
// (or, with Shared, a shared) lock of one byte there, else "locked".
std::string Probe(const std::string &Path, const std::string &Offsets, bool Shared = false) {
    return RunPython("import fcntl,os\n"
                     "fd=os.open('" + Path + "',os.O_RDWR)\n"
                     "for at in [" + Offsets + "]:\n"
                     "    try:\n"
                     "        fcntl.lockf(fd,fcntl.LOCK_" + (Shared ? "SH" : "EX") + "|fcntl.LOCK_NB,1,at)\n"
                     "        print('free',end=' ');fcntl.lockf(fd,fcntl.LOCK_UN,1,at)\n"
                     "    except OSError:\n"
                     "        print('locked',end=' ')\n");
}

} // namespace

TEST(PlatformLock, TypesRangesAndPositions) {
    RuntimeScope Runtime;
    TempDirectory Temp;
    std::string Path = Temp / "locked";
    int Descriptor = Platform_Open(Path.c_str(), O_RDWR | O_CREAT, 0, 0x180);
    ASSERT_GT(Descriptor, 0);
    ASSERT_EQ(ftruncate(Descriptor, 100), 0);
    // From the position, Length bytes; 64-bit lengths.
    lseek(Descriptor, 10, SEEK_SET);
    EXPECT_EQ(Platform_Lock(Descriptor, 1, 20), 0);
    EXPECT_EQ(Probe(Path, "9,10,29,30"), "free locked locked free ");
    EXPECT_EQ(Platform_Lock(Descriptor, 0, 20), 0);
    EXPECT_EQ(Probe(Path, "10,29"), "free free ");
    // Shared: others may share, not take it exclusively.
    lseek(Descriptor, 0, SEEK_SET);
    EXPECT_EQ(Platform_Lock(Descriptor, 3, 50), 0);
    EXPECT_EQ(Probe(Path, "0,49", true), "free free ");
    EXPECT_EQ(Probe(Path, "0,49,50"), "locked locked free ");
    EXPECT_EQ(Platform_Lock(Descriptor, 4, 50), 0); // waiting form, nothing to wait for
    EXPECT_EQ(Platform_Lock(Descriptor, 2, 0), 0);  // 0: to the end and beyond
    EXPECT_EQ(Probe(Path, "0,99,6000000000"), "locked locked locked ");
    EXPECT_EQ(Platform_Lock(Descriptor, 0, 0), 0);
    EXPECT_EQ(Probe(Path, "0,6000000000"), "free free ");
    EXPECT_EQ(Platform_Lock(Descriptor, 5, 1), -1);
    EXPECT_EQ(Platform_GetLastError(), 100000 + EINVAL);

    // Refused while another open file of the path holds the range.
    int Other = Platform_Open(Path.c_str(), O_RDWR, 0, 0);
    lseek(Descriptor, 0, SEEK_SET);
    lseek(Other, 0, SEEK_SET);
    EXPECT_EQ(Platform_Lock(Descriptor, 1, 5ll << 30), 0);
    EXPECT_EQ(Platform_Lock(Other, 1, 1), -1);
    EXPECT_EQ(Platform_GetLastError(), 100000 + EAGAIN);
    close(Other); // closing another descriptor keeps the lock
    EXPECT_EQ(Probe(Path, "4831838208"), "locked ");
    close(Descriptor);
    EXPECT_EQ(Probe(Path, "0"), "free ");
    EXPECT_EQ(Platform_Lock(-1, 1, 1), -1);
    EXPECT_EQ(Platform_GetLastError(), 100000 + EBADF);
}

TEST(PlatformMap, ViewsReadAndWriteTheFile) {
    RuntimeScope Runtime;
    TempDirectory Temp;
    std::string Path = Temp / "mapped";
    int Descriptor = Platform_Open(Path.c_str(), O_RDWR | O_CREAT, 0, 0x180);
    ASSERT_EQ(write(Descriptor, "0123456789", 10), 10);
    void *View = nullptr;
    uint64 Length = 0; // the whole file
    ASSERT_EQ(Platform_MapViewOfFile(Descriptor, 2, "ignored", &View, &Length), 1);
    EXPECT_EQ(Length, 10u);
    memcpy(View, "ab", 2);
    EXPECT_EQ(RunPython("print(open('" + Path + "').read())"), "ab23456789\n");
    EXPECT_EQ(Platform_UnmapViewOfFile(&View, Length), 1);
    EXPECT_EQ(View, nullptr);
    EXPECT_EQ(Platform_UnmapViewOfFile(&View, Length), 1);
    Length = 4;
    ASSERT_EQ(Platform_MapViewOfFile(Descriptor, 0, nullptr, &View, &Length), 1);
    EXPECT_EQ(std::string(static_cast<char *>(View), 4), "ab23");
    EXPECT_EQ(Platform_UnmapViewOfFile(&View, Length), 1);
    ASSERT_EQ(ftruncate(Descriptor, 0), 0);
    Length = 0;
    EXPECT_EQ(Platform_MapViewOfFile(Descriptor, 0, nullptr, &View, &Length), 0);
    EXPECT_EQ(View, nullptr);
    close(Descriptor);
    Length = 5;
    EXPECT_EQ(Platform_MapViewOfFile(-1, 0, nullptr, &View, &Length), 0);
    EXPECT_EQ(Platform_SparseMode(3), 0);
    EXPECT_EQ(Platform_GetLastError(), 100000 + EOPNOTSUPP);
}

TEST(PlatformSecurity, DescriptorForAGroup) {
    RuntimeScope Runtime;
    void *Handle = nullptr;
    ASSERT_EQ(Platform_SecurityCreate("nogroup", &Handle), 1);
    PlatformSecurityDescriptor *Descriptor = nullptr;
    ASSERT_EQ(Platform_SecurityGetDescriptor(Handle, &Descriptor), 1);
    EXPECT_EQ(RunPython("import grp;print(grp.getgrnam('nogroup').gr_gid)"),
              std::to_string(Descriptor->GroupId) + "\n");
    EXPECT_EQ(Descriptor->FileMode, 0660u);
    EXPECT_EQ(Platform_SecurityDelete(&Handle), 1);
    EXPECT_EQ(Handle, nullptr);
    EXPECT_EQ(Platform_SecurityCreate("no-such-group-here", &Handle), 0);
    EXPECT_EQ(Handle, nullptr);
    uint64 NotOne[8] = {}; // large enough to hold a class header
    EXPECT_DEATH(Platform_SecurityGetDescriptor(NotOne, &Descriptor), "Class mismatch");
}
