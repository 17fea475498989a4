// Paths: normalising, resolving "~", splitting, comparing, examination, and
// creating directories with their parents (also as an unprivileged user).
#include "runtime/files/path.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "runtime/posix/platform.h"
#include "tests/support/python.h"
#include "tests/support/requirement.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

std::string Fix(const std::string &Text, int32 Flags, int32 Size = MAX_PATH_SIZE) {
    std::vector<char> Buffer(std::max<size_t>(Text.size() + 1, (size_t)Size), 0);
    memcpy(Buffer.data(), Text.c_str(), Text.size() + 1);
    EXPECT_EQ(Path_Fix(Buffer.data(), Size, Flags), 1);
    return Buffer.data();
}

} // namespace

TEST(PathFix, Normalises) {
    EXPECT_EQ(Fix("a\\\\b", 0), "a/b");
    EXPECT_EQ(Fix("/a/./b/", PATH_FIX_REMOVE_TRAILING), "/a/b");
    EXPECT_EQ(Fix("../../a/../b", PATH_FIX_KEEP_LEADING_PARENTS), "../../b");
    EXPECT_EQ(Fix("..\\a", PATH_FIX_KEEP_LEADING_PARENTS), "../a");
    EXPECT_EQ(Fix("../a", 0), "a");
    EXPECT_EQ(Fix("/a//b///c", 0), "/a/b/c");
    EXPECT_EQ(Fix("//server/share", 0), "/server/share");
    EXPECT_EQ(Fix("a/./b", 0), "a/b");
    EXPECT_EQ(Fix("./a", 0), "a");
    EXPECT_EQ(Fix("a/b/.", 0), "a/b");
    EXPECT_EQ(Fix(".", 0), ".");
    EXPECT_EQ(Fix("a/b/../c", 0), "a/c");
    EXPECT_EQ(Fix("a/b/..", 0), "a");
    EXPECT_EQ(Fix(".a/..b/.../c", 0), ".a/..b/.../c");
    EXPECT_EQ(Fix("", PATH_FIX_ENSURE_TRAILING), "");
    EXPECT_EQ(Fix("C:\\dir\\", 0), "C:/dir/");
}

TEST(PathFix, TrailingSeparatorFlags) {
    EXPECT_EQ(Fix("a/b/", 0), "a/b/");
    EXPECT_EQ(Fix("a/b", 0), "a/b");
    EXPECT_EQ(Fix("a/b/", PATH_FIX_REMOVE_TRAILING), "a/b");
    EXPECT_EQ(Fix("a/b", PATH_FIX_ENSURE_TRAILING), "a/b/");
    EXPECT_EQ(Fix("abc", PATH_FIX_ENSURE_TRAILING, 6), "abc/");
    EXPECT_EQ(Fix("abcd", PATH_FIX_ENSURE_TRAILING, 6), "abcd");
    EXPECT_EQ(Fix("a/..", PATH_FIX_ENSURE_TRAILING), "./");
    EXPECT_EQ(Fix("a/..", PATH_FIX_ENSURE_TRAILING, 3), ".");
    EXPECT_EQ(Fix("/", PATH_FIX_REMOVE_TRAILING), "/");
    EXPECT_EQ(Fix("/", PATH_FIX_ENSURE_TRAILING), "/");
    char Path[8] = "x/y/";
    EXPECT_EQ(Path_FixSlash(Path, sizeof(Path), 0), 1);
    EXPECT_STREQ(Path, "x/y");
    EXPECT_EQ(Path_FixSlash(Path, sizeof(Path), 1), 1);
    EXPECT_STREQ(Path, "x/y/");
}

TEST(PathFix, CutsToTheSize) {
    EXPECT_EQ(Fix("abcdefgh", 0, 5), "abcd");
    EXPECT_EQ(Fix("a/./b/./c/./d", 0, 4), "a/b");
    char Untouched[] = "abc";
    EXPECT_EQ(Path_Fix(Untouched, 0, 0), 0);
    EXPECT_STREQ(Untouched, "abc");
}

TEST(PathResolve, ReplacesTheLeadingTilde) {
    ScopedEnv Home("HOME", "/home/tester");
    char Out[MAX_PATH_SIZE];
    EXPECT_EQ(Path_Resolve("~/x/", Out, sizeof(Out)), 1);
    EXPECT_STREQ(Out, "/home/tester/x/");
    EXPECT_EQ(Path_Resolve("~", Out, sizeof(Out)), 1);
    EXPECT_STREQ(Out, "/home/tester");
    EXPECT_EQ(Path_Resolve("~\\a\\.\\b", Out, sizeof(Out)), 1);
    EXPECT_STREQ(Out, "/home/tester/a/b");
    EXPECT_EQ(Path_Resolve("/a/b/../c\\", Out, sizeof(Out)), 1);
    EXPECT_STREQ(Out, "/a/c/");
    EXPECT_EQ(Path_Resolve("rel/~/x", Out, sizeof(Out)), 1);
    EXPECT_STREQ(Out, "rel/~/x");
    EXPECT_EQ(Path_Resolve("~/abcdefgh", Out, 10), 1);
    EXPECT_STREQ(Out, "/home/tes");
}

TEST(PathText, Compare) {
    EXPECT_EQ(Path_Compare("a/b", "a\\b", 0), 1);
    EXPECT_EQ(Path_Compare("a/b", "a/b/", 0), 0);
    EXPECT_EQ(Path_Compare("A/B", "a/b", 0), 0);
    EXPECT_EQ(Path_Compare("A/B", "a/b", 1), 1);
    EXPECT_EQ(Path_Compare("", "", 0), 1);
    EXPECT_EQ(Path_Compare("a", "", 1), 0);
}

TEST(PathText, FilenamesDirectoriesAndExtensions) {
    const char *Pointer = nullptr;
    EXPECT_EQ(Path_ParseFilenamePtr("dir/", &Pointer), 0);
    EXPECT_STREQ(Pointer, "");
    EXPECT_EQ(Path_ParseFilenamePtr("name", &Pointer), 1);
    EXPECT_STREQ(Pointer, "name");
    EXPECT_EQ(Path_ParseFilenamePtr("a\\b:c", &Pointer), 1);
    EXPECT_STREQ(Pointer, "c");

    char Out[MAX_PATH_SIZE];
    EXPECT_EQ(Path_ParseFilename("/x/y/log.txt", Out, sizeof(Out)), 1);
    EXPECT_STREQ(Out, "log.txt");
    EXPECT_EQ(Path_ParseFilename("/x/y/", Out, sizeof(Out)), 0);
    EXPECT_STREQ(Out, "");
    EXPECT_EQ(Path_ParseDirectory("a/b/c", Out, sizeof(Out)), 1);
    EXPECT_STREQ(Out, "a/b/");
    EXPECT_EQ(Path_ParseDirectory("c", Out, sizeof(Out)), 1);
    EXPECT_STREQ(Out, "");

    EXPECT_EQ(Path_ParseExtension("a/b.tar.gz", 0, Out, sizeof(Out)), 1);
    EXPECT_STREQ(Out, "gz");
    EXPECT_EQ(Path_ParseExtension("a/b.tar.gz", 1, Out, sizeof(Out)), 1);
    EXPECT_STREQ(Out, ".gz");
    EXPECT_EQ(Path_ParseExtension(".profile", 0, Out, sizeof(Out)), 1);
    EXPECT_STREQ(Out, "profile");
    EXPECT_EQ(Path_ParseExtension("a.b/c", 0, Out, sizeof(Out)), 1);
    EXPECT_STREQ(Out, "");
    EXPECT_EQ(Path_ParseExtensionPtr("a.b/c", 1, &Pointer), 0);
    EXPECT_EQ(Path_ParseExtensionPtr("a.b:c", 1, &Pointer), 0);
    EXPECT_EQ(Path_ParseExtensionPtr("noext", 1, &Pointer), 0);

    char Name[] = "dir.d/host.developer.log";
    EXPECT_EQ(Path_RemoveExtension(Name), 1);
    EXPECT_STREQ(Name, "dir.d/host.developer");
    EXPECT_EQ(Path_RemoveFilename(Name), 1);
    EXPECT_STREQ(Name, "dir.d/");
    EXPECT_EQ(Path_RemoveFilename(Name), 0);
    EXPECT_EQ(Path_RemoveExtension(Name), 0);
}

namespace {

// Random texts of the characters that matter, with a fixed seed.
std::vector<std::string> RandomPaths(const char *Alphabet, int Count, uint32 Seed) {
    std::vector<std::string> Texts;
    uint32 State = Seed;
    auto Next = [&State] { return State = State * 1103515245u + 12345u, (State >> 16) & 0x7fff; };
    size_t Letters = strlen(Alphabet);
    for (int Index = 0; Index < Count; Index++) {
        std::string Text;
        for (uint32 Length = Next() % 14; Length > 0; Length--) Text += Alphabet[Next() % Letters];
        Texts.push_back(Text);
    }
    return Texts;
}

std::string Lines(const std::vector<std::string> &Texts) {
    std::string Joined;
    for (const std::string &Text : Texts) Joined += Text + "\n";
    return Joined;
}

// posixpath.normpath, after the differences that are ours: a backslash is a
// separator, "//" is not kept, a ".." with nothing before it is dropped
// unless flag 4 keeps it (relative paths only), an empty result stays empty
// (only a lone "." stays "."), and the trailing separator follows the flags.
constexpr const char *NormpathModel = R"(
import posixpath, sys
flags = int(sys.argv[1])
for s in sys.stdin.read().split('\n')[:-1]:
    t = s.replace('\\', '/')
    if t == '':
        print(''); continue
    n = posixpath.normpath(t)
    if n.startswith('//') and not n.startswith('///'):
        n = n[1:]
    if not t.startswith('/') and not flags & 4:
        parts = n.split('/')
        while parts and parts[0] == '..':
            parts.pop(0)
        n = '/'.join(parts)
    if n in ('', '.'):
        n = '.' if s == '.' else ''
    if flags & 1:
        pass
    elif flags & 2:
        if n in ('', '.'):
            n = './'
        elif not n.endswith('/'):
            n += '/'
    elif t.endswith('/') and n and not n.endswith('/'):
        n += '/'
    print(n)
)";

} // namespace

TEST(PathFix, MatchesNormpathOnRandomTexts) {
    std::vector<std::string> Texts = RandomPaths("ab./\\", 4000, 20261207);
    for (int32 Flags : {0, 1, 2, 4, 5, 6}) {
        std::string Script = std::string("import sys\nsys.argv = ['', '") + std::to_string(Flags) + "']\n" + NormpathModel;
        std::string Expected = RunPython(Script, Lines(Texts));
        std::string Actual;
        for (const std::string &Text : Texts) Actual += Fix(Text, Flags, 64) + "\n";
        ASSERT_EQ(Actual, Expected) << "flags " << Flags;
    }
}

// Splitting as posixpath.split/basename/splitext see it once a backslash and
// a colon count as separators; the one difference: a leading dot starts an
// extension (".profile" has the extension "profile").
TEST(PathText, SplittingMatchesPosixpathOnRandomTexts) {
    std::vector<std::string> Texts = RandomPaths("ab./\\:", 4000, 7);
    std::string Expected = RunPython(R"(
import posixpath, sys
for s in sys.stdin.read().split('\n')[:-1]:
    t = s.replace('\\', '/').replace(':', '/')
    tail = s[len(t) - len(posixpath.basename(t)):]
    head = s[:len(s) - len(tail)]
    e = posixpath.splitext(tail)[1]
    if e == '' and '.' in tail:
        e = tail[tail.rfind('.'):]
    print('\t'.join([head, tail, str(int(tail != '')), tail[:len(tail) - len(e)], e[1:], e]))
)",
                                     Lines(Texts));
    std::string Actual;
    for (const std::string &Text : Texts) {
        char Directory[64], Name[64], Title[64], Extension[64], Dotted[64];
        Path_ParseDirectory(Text.c_str(), Directory, sizeof(Directory));
        int32 Found = Path_ParseFilename(Text.c_str(), Name, sizeof(Name));
        Path_ParseFilenameWithoutExtension(Text.c_str(), Title, sizeof(Title));
        Path_ParseExtension(Text.c_str(), 0, Extension, sizeof(Extension));
        Path_ParseExtension(Text.c_str(), 1, Dotted, sizeof(Dotted));
        Actual += std::string(Directory) + "\t" + Name + "\t" + std::to_string(Found) + "\t" + Title + "\t" +
                  Extension + "\t" + Dotted + "\n";
    }
    EXPECT_EQ(Actual, Expected);
}

TEST(PathText, RemoveDirectoryAndNameWithoutExtension) {
    char Out[MAX_PATH_SIZE];
    EXPECT_EQ(Path_ParseFilenameWithoutExtension("a/b.txt", Out, sizeof(Out)), 1);
    EXPECT_STREQ(Out, "b");
    EXPECT_EQ(Path_ParseFilenameWithoutExtension("a.d/b", Out, sizeof(Out)), 1);
    EXPECT_STREQ(Out, "b");
    EXPECT_EQ(Path_ParseFilenameWithoutExtension("a/", Out, sizeof(Out)), 0);
    EXPECT_STREQ(Out, "");
    char Path[] = "x\\y:z/name.txt";
    EXPECT_EQ(Path_RemoveDirectory(Path), 1);
    EXPECT_STREQ(Path, "name.txt");
    char Directory[] = "x/y/";
    EXPECT_EQ(Path_RemoveDirectory(Directory), 0);
    EXPECT_STREQ(Directory, "");
}

TEST(PathUrl, ToAndFromFileUrls) {
    struct Case {
        const char *Path, *Url;
    };
    const Case ToUrl[] = {
        {"./a", "file:./a"},         {"//srv/x", "file://srv/x"}, {"\\\\srv\\x", "file://srv/x"},
        {"/a/b", "file:///a/b"},     {"\\a", "file:///a"},        {"a/b", "file:./a/b"},
        {"C:\\dir", "file:./C:/dir"}, {"", "file:./"},            {"../up", "file:../up"},
    };
    char Out[MAX_PATH_SIZE];
    for (const Case &Row : ToUrl) {
        EXPECT_EQ(Path_ConvertToURL(Row.Path, Out, sizeof(Out)), 1);
        EXPECT_STREQ(Out, Row.Url) << Row.Path;
    }
    const Case FromUrl[] = {
        {"file:./a", "./a"},           {"file:../a", "../a"},       {"file:///a/b", "/a/b"},
        {"file://///a", "/a"},         {"file:///", "/"},           {"file://localhost/a", "/a"},
        {"file://LocalHost/a/b", "/a/b"}, {"file://host/a", "//host/a"}, {"FILE:///a", "/a"},
    };
    for (const Case &Row : FromUrl) {
        EXPECT_EQ(Path_ConvertFromURL(Row.Path, Out, sizeof(Out)), 1) << Row.Path;
        EXPECT_STREQ(Out, Row.Url) << Row.Path;
    }
    for (const char *Bad : {"http://x/a", "file://", "file:a", "file:/a", "file:.a", ""}) {
        strcpy(Out, "junk");
        EXPECT_EQ(Path_ConvertFromURL(Bad, Out, sizeof(Out)), 0) << Bad;
        EXPECT_STREQ(Out, "") << Bad;
    }
    EXPECT_EQ(Path_ConvertToURL("/abcdef", Out, 8), 1); // cut, terminated
    EXPECT_STREQ(Out, "file://");
}

class PathFileTest : public RuntimeTest {
  protected:
    TempDirectory Temp;
};

TEST_F(PathFileTest, Examination) {
    std::string File = Temp.Path + "/file", Link = Temp.Path + "/link", Dangling = Temp.Path + "/dangling";
    close(open(File.c_str(), O_CREAT | O_WRONLY, 0644));
    ASSERT_EQ(symlink(Temp.Path.c_str(), Link.c_str()), 0);
    ASSERT_EQ(symlink((Temp.Path + "/missing/x").c_str(), Dangling.c_str()), 0);

    EXPECT_EQ(Path_Exists(File.c_str()), 1);
    EXPECT_EQ(Path_Exists(Dangling.c_str()), 1); // a dangling link exists
    EXPECT_EQ(Path_Exists((Temp.Path + "/missing").c_str()), 0);
    EXPECT_EQ(Path_IsDirectory(Temp.Path.c_str()), 1);
    EXPECT_EQ(Path_IsDirectory((Temp.Path + "/").c_str()), 1);
    EXPECT_EQ(Path_IsDirectory(File.c_str()), 0);
    EXPECT_EQ(Path_IsDirectory(Link.c_str()), 0); // a link to a directory is not one
    EXPECT_EQ(Path_DirectoryExists((Temp.Path + "/missing").c_str()), 0);
    struct stat Status;
    EXPECT_EQ(Path_Stat(Link.c_str(), &Status), 1);
    EXPECT_TRUE(S_ISLNK(Status.st_mode));
    std::string Long = Temp.Path + "/" + std::string(400, 'x');
    EXPECT_EQ(Path_Exists(Long.c_str()), 0); // too long for a path buffer: refused, not cut
}

TEST_F(PathFileTest, CreatesDirectoriesWithParents) {
    int32 Error = -1;
    std::string Deep = Temp.Path + "/a/b/c/d";
    EXPECT_EQ(Path_CreateDirectory(Deep.c_str(), 0, &Error), 1);
    EXPECT_EQ(Error, 0);
    EXPECT_EQ(Path_IsDirectory(Deep.c_str()), 1);
    EXPECT_EQ(Path_CreateDirectory(Deep.c_str(), 0, &Error), 1); // already there
    EXPECT_EQ(Error, 0);

    // With StripFilename the last component is a file name.
    std::string Log = Temp.Path + "/logs/x/host.developer.log";
    EXPECT_EQ(Path_CreateDirectory(Log.c_str(), 1, nullptr), 1);
    EXPECT_EQ(Path_IsDirectory((Temp.Path + "/logs/x").c_str()), 1);
    EXPECT_EQ(Path_Exists(Log.c_str()), 0);

    // Through a link to a directory, with backslashes and dot parts.
    std::string Link = Temp.Path + "/link";
    ASSERT_EQ(symlink((Temp.Path + "/a").c_str(), Link.c_str()), 0);
    EXPECT_EQ(Path_CreateDirectory((Link + "\\.\\e\\f\\").c_str(), 0, &Error), 1);
    EXPECT_EQ(Path_IsDirectory((Temp.Path + "/a/e/f").c_str()), 1);

    EXPECT_EQ(Path_CreateDirectory("", 0, &Error), 1);
}

TEST_F(PathFileTest, CreationFailures) {
    std::string File = Temp.Path + "/file";
    close(open(File.c_str(), O_CREAT | O_WRONLY, 0644));
    int32 Error = 0;
    // An existing file: fails with "already exists".
    EXPECT_EQ(Path_CreateDirectory(File.c_str(), 0, &Error), 0);
    EXPECT_EQ(Error, 100000 + EEXIST);
    // Below a file: the parent step fails.
    EXPECT_EQ(Path_CreateDirectory((File + "/sub/dir").c_str(), 0, &Error), 0);
    EXPECT_NE(Error, 0);
    // A dangling link: its target's parents do not exist, and the link stays.
    // (The target lies in the test's own folder: nothing outside can make it.)
    std::string Dangling = Temp.Path + "/dangling";
    ASSERT_EQ(symlink((Temp.Path + "/missing/x").c_str(), Dangling.c_str()), 0);
    EXPECT_EQ(Path_CreateDirectory(Dangling.c_str(), 0, &Error), 0);
    EXPECT_EQ(Error, 100000 + EEXIST);
    // Too long for a path buffer.
    EXPECT_EQ(Path_CreateDirectory((Temp.Path + "/" + std::string(400, 'y')).c_str(), 0, &Error), 0);
    EXPECT_EQ(Error, 100000 + ENAMETOOLONG);
}

TEST_F(PathFileTest, ConcurrentCreationOfOneTreeSucceedsEverywhere) {
    std::string Deep = Temp.Path + "/p/q/r/s/t/u/v";
    std::vector<std::thread> Threads;
    std::vector<int32> Results(8, -1);
    for (int Index = 0; Index < 8; Index++)
        Threads.emplace_back([&, Index] { Results[Index] = Path_CreateDirectory(Deep.c_str(), 0, nullptr); });
    for (std::thread &Thread : Threads) Thread.join();
    for (int32 Result : Results) EXPECT_EQ(Result, 1);
    EXPECT_EQ(Path_IsDirectory(Deep.c_str()), 1);
}

TEST_F(PathFileTest, UnprivilegedUserCannotCreateInARootOwnedDirectory) {
    SKIP_UNLESS_RUN(RunAsRoot(), "dropping privileges needs root");
    SharedDirectory Shared; // root-owned 0755: everyone may enter it, only root may write to it
    std::string Target = Shared.Path + "/denied/deeper";
    std::string Output = RunChildTest("PathChild.DISABLED_CreateDirectory", "PATH_TEST_TARGET='" + Target + "' " + Nobody);
    EXPECT_NE(Output.find("result=0 error=" + std::to_string(100000 + EACCES)), std::string::npos) << Output;
    EXPECT_NE(Output.find("Unable to create directory (" + Shared.Path + "/denied) [LE: 100013:000186AD]"),
              std::string::npos)
        << Output;
    EXPECT_EQ(Path_Exists((Shared.Path + "/denied").c_str()), 0);
    // Root can.
    EXPECT_EQ(Path_CreateDirectory(Target.c_str(), 0, nullptr), 1);
}

TEST(PathChild, DISABLED_CreateDirectory) {
    RuntimeScope Runtime(DEBUG_FLAG_EXTERNALPRINT);
    int32 Error = 0;
    int32 Result = Path_CreateDirectory(getenv("PATH_TEST_TARGET"), 0, &Error);
    printf("result=%d error=%d uid=%d\n", Result, Error, (int)getuid());
}
