// The find-first/find-next search against Python's os.listdir, os.lstat and
// a "*"-only wildcard compared without case.
#include "runtime/posix/platform.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

#include "runtime/time.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

void Touch(const std::string &Path, size_t Size) {
    FILE *Output = fopen(Path.c_str(), "w");
    for (size_t i = 0; i < Size; i++) fputc('x', Output);
    fclose(Output);
}

// name -> "attributes size allocated mtime" from the search.
std::map<std::string, std::string> Search(const std::string &Pattern) {
    std::map<std::string, std::string> Found;
    PlatformFindEntry Entry;
    void *Handle = (void *)1;
    if (!Platform_FindFirstFile(Pattern.c_str(), &Entry, &Handle)) {
        EXPECT_EQ(Handle, nullptr);
        return Found;
    }
    do {
        float64 Modified = 0;
        Time_ConvertTmToEncoded(&Entry.LastWriteTime, &Modified);
        std::ostringstream Text;
        Text << Entry.Attributes << " " << Entry.Size << " " << Entry.AllocatedSize << " " << (int64)Modified;
        // The parent is shared with other programs: its name is enough.
        Found[Entry.Name] = strcmp(Entry.Name, "..") == 0 ? "" : Text.str();
    } while (Platform_FindNextFile(Handle, &Entry));
    EXPECT_EQ(Platform_FindClose(&Handle), 1);
    EXPECT_EQ(Handle, nullptr);
    return Found;
}

std::map<std::string, std::string> Reference(const std::string &Directory, const std::string &Wildcard) {
    std::string Output = RunPython(
        "import os,re,stat\n"
        "d='" + Directory + "';w='" + Wildcard + "'\n"
        "rx=re.compile('.*'.join(re.escape(p) for p in w.split('*'))+r'\\Z',re.I|re.S)\n"
        "for n in sorted(os.listdir(d)+['.','..']):\n"
        "    if w and not rx.match(n): continue\n"
        "    s=os.lstat(os.path.join(d,n));m=s.st_mode;a=0\n"
        "    if n.startswith('.'): a|=2\n"
        "    if stat.S_ISLNK(m): a|=32\n"
        "    else:\n"
        "        if stat.S_ISDIR(m): a|=16\n"
        "        if m&0o111==0o111: a|=8\n"
        "        if not m&0o200: a|=1\n"
        "    print(n,a,s.st_size,s.st_blocks*512,int(s.st_mtime))\n");
    std::map<std::string, std::string> Found;
    std::istringstream Lines(Output);
    std::string Name, Rest;
    while (Lines >> Name && std::getline(Lines, Rest)) Found[Name] = Name == ".." ? "" : Rest.substr(1);
    return Found;
}

} // namespace

TEST(PlatformFind, MatchesPythonsListingWithoutCase) {
    RuntimeScope Runtime;
    TempDirectory Temp;
    Touch(Temp / "a.txt", 10);
    Touch(Temp / "B.TXT", 5000);
    Touch(Temp / "abc", 0);
    Touch(Temp / ".hidden", 1);
    chmod((Temp / "abc").c_str(), 0555);
    mkdir((Temp / "sub").c_str(), 0755);
    symlink("a.txt", (Temp / "link.txt").c_str());
    for (const char *Wildcard : {"", "*", "*.txt", "A*", "*b*", "*.", "nothing*", ".*", "*T"}) {
        SCOPED_TRACE(Wildcard);
        EXPECT_EQ(Search(Temp.Path + "/" + Wildcard), Reference(Temp.Path, Wildcard));
        EXPECT_EQ(Search(Temp.Path + "/" + Wildcard).empty(), std::string(Wildcard) == "nothing*");
    }
    ScopedEnv Home("HOME", Temp.Path.c_str());
    EXPECT_EQ(Search("~/*.TXT"), Reference(Temp.Path, "*.txt"));
}

TEST(PlatformFind, FailuresLeaveNoHandle) {
    RuntimeScope Runtime;
    TempDirectory Temp;
    PlatformFindEntry Entry;
    void *Handle = (void *)1;
    EXPECT_EQ(Platform_FindFirstFile((Temp / "none/*").c_str(), &Entry, &Handle), 0);
    EXPECT_EQ(Handle, nullptr);
    EXPECT_EQ(Platform_GetLastError(), 100000 + ENOENT);
    Handle = (void *)1;
    EXPECT_EQ(Platform_FindFirstFile((Temp / "x*").c_str(), &Entry, &Handle), 0);
    EXPECT_EQ(Handle, nullptr);
    EXPECT_EQ(Platform_FindClose(&Handle), 1);
    // Every search descriptor is close-on-exec and closed again.
    ASSERT_EQ(Platform_FindFirstFile((Temp.Path + "/").c_str(), &Entry, &Handle), 1);
    int Descriptor = -1;
    for (int Candidate = 3; Candidate < 1024; Candidate++) {
        char Link[64], Target[4096];
        snprintf(Link, sizeof(Link), "/proc/self/fd/%d", Candidate);
        ssize_t Count = readlink(Link, Target, sizeof(Target) - 1);
        if (Count > 0 && std::string(Target, (size_t)Count) == Temp.Path) Descriptor = Candidate;
    }
    ASSERT_GE(Descriptor, 0);
    EXPECT_TRUE(fcntl(Descriptor, F_GETFD) & FD_CLOEXEC);
    EXPECT_EQ(Platform_FindClose(&Handle), 1);
    EXPECT_EQ(fcntl(Descriptor, F_GETFD), -1);
}
