// Zip extraction against archives made by the real tools: `zip` (plain and
// PKWARE-encrypted with -e), `7z` with WinZip AES-128 and AES-256, Python's
// zipfile for hostile names and links. Trees extract byte for byte with
// times, execute bits and inner links; wrong passwords, corrupt, truncated
// and oversized entries, zip-slip names and escaping links are refused with
// nothing written, also when an earlier entry was fine; an archive behind
// other bytes is read from its offset. Archives go into what stands (links
// of earlier ones, a mount, a linked parent, another extraction at once)
// and past each bound they are refused before anything is written.
#include "content/zip.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <functional>

#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <thread>

#include "content/zip_internal.h"
#include "tests/support/log_capture.h"
#include "tests/support/python.h"
#include "tests/support/requirement.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {


bool Shell(const std::string &Command) { return system((Command + " >/dev/null 2>&1").c_str()) == 0; }

void WriteFile(const std::string &Path, const std::string &Data) {
    std::ofstream(Path, std::ios::binary) << Data;
}

// Everything under Root: relative path -> "file:<bytes>", "link:<target>" or
// "dir"; temporary names would show up here too.
void Walk(const std::string &Root, const std::string &Relative, std::map<std::string, std::string> &Tree) {
    DIR *Folder = opendir((Root + Relative).c_str());
    if (Folder == nullptr) return;
    while (struct dirent *Item = readdir(Folder)) {
        const std::string Name = Item->d_name;
        if (Name == "." || Name == "..") continue;
        const std::string Inner = Relative + "/" + Name, Full = Root + Inner;
        struct stat Status;
        lstat(Full.c_str(), &Status);
        if (S_ISLNK(Status.st_mode)) {
            char Target[1024];
            const ssize_t Length = readlink(Full.c_str(), Target, sizeof(Target));
            Tree[Inner] = "link:" + std::string(Target, (size_t)std::max<ssize_t>(Length, 0));
        } else if (S_ISDIR(Status.st_mode)) {
            Tree[Inner] = "dir";
            Walk(Root, Inner, Tree);
        } else {
            Tree[Inner] = "file:" + ReadFile(Full);
        }
    }
    closedir(Folder);
}

std::map<std::string, std::string> TreeOf(const std::string &Root) {
    std::map<std::string, std::string> Tree;
    Walk(Root, "", Tree);
    return Tree;
}

// What runs between an extraction's plan and each move into place.
std::function<bool(const std::string &)> BeforePlace;
bool CallBeforePlace(const char *Relative) { return BeforePlace(Relative); }

class ZipTest : public RuntimeTest {
  protected:
    TempDirectory Temp;
    std::string Source, Output;

    void TearDown() override {
        ZipInt_BeforePlace = nullptr;
        RuntimeTest::TearDown();
    }

    void SetUp() override {
        RuntimeTest::SetUp();
        Source = Temp / "source";
        Output = Temp / "out";
        // A tree with an empty file, text, incompressible and compressible
        // data over several 64 KiB pieces, a deep folder, an executable and
        // a link inside the tree.
        std::mt19937 Random(1);
        std::string Noise(200000, 0), Text;
        for (char &C : Noise) C = (char)Random();
        for (int I = 0; I < 20000; I++) Text += "line " + std::to_string(I) + "\n";
        Shell("mkdir -p '" + Source + "/deep/er/still' '" + Source + "/empty-folder'");
        WriteFile(Source + "/empty.txt", "");
        WriteFile(Source + "/hello.txt", "hello, world\n");
        WriteFile(Source + "/noise.bin", Noise);
        WriteFile(Source + "/deep/er/still/text.txt", Text);
        WriteFile(Source + "/run.sh", "#!/bin/sh\necho run\n");
        chmod((Source + "/run.sh").c_str(), 0755);
        symlink("../hello.txt", (Source + "/deep/hello-link").c_str());
        // A fixed time, to see it kept.
        Shell("touch -h -d '2021-03-04 05:06:07Z' $(find '" + Source + "' -type f)");
    }

    std::string Archive(const std::string &Name, const std::string &Command) {
        const std::string Path = Temp / Name;
        EXPECT_TRUE(Shell("cd '" + Source + "' && " + Command + " '" + Path + "' .")) << Command;
        return Path;
    }

    void ExpectSameTree() {
        auto Expected = TreeOf(Source), Got = TreeOf(Output);
        EXPECT_EQ(Got.size(), Expected.size());
        for (const auto &[Path, Content] : Expected) {
            auto Found = Got.find(Path);
            ASSERT_NE(Found, Got.end()) << Path;
            EXPECT_TRUE(Found->second == Content) << Path << " differs";
        }
        struct stat Status;
        ASSERT_EQ(stat((Output + "/run.sh").c_str(), &Status), 0);
        EXPECT_TRUE(Status.st_mode & S_IXUSR);
        ASSERT_EQ(stat((Output + "/hello.txt").c_str(), &Status), 0);
        EXPECT_FALSE(Status.st_mode & S_IXUSR);
        EXPECT_TRUE(Status.st_mode & S_IWUSR); // nothing made read-only
    }

    std::string Python(const std::string &Body) {
        return RunPython("import zipfile, stat, sys\n" + Body);
    }

    // An archive of Entries, a Python list of (name, data): data "@target"
    // makes a link, "~data" a deflated file; ("#", n) adds n entries that
    // share the previous one's data under other names, ("*", n) under its
    // own name; ("!", (at, n)) adds n to the 32-bit field at byte at of the
    // last central header.
    void MakeArchive(const std::string &Path, const std::string &Entries) {
        Python("import struct, warnings; warnings.simplefilter('ignore')\n"
               "z = zipfile.ZipFile('" + Path + "', 'w')\n"
               "extra = []\n"
               "for name, data in " + Entries + ":\n"
               "    if name in '#*!':\n"
               "        extra.append((name, data)); continue\n"
               "    i = zipfile.ZipInfo(name)\n"
               "    if data[:1] in ('@', '~'):\n"
               "        i.create_system = 3\n"
               "        i.external_attr = ((stat.S_IFLNK | 0o777) if data[0] == '@' else 0o644) << 16\n"
               "        i.compress_type = zipfile.ZIP_DEFLATED if data[0] == '~' else 0\n"
               "        data = data[1:]\n"
               "    z.writestr(i, data)\n"
               "z.close()\n"
               "b = open('" + Path + "', 'rb').read()\n"
               "c, e = b.rfind(b'PK\\x01\\x02'), b.rfind(b'PK\\x05\\x06')\n"
               "for kind, n in extra:\n"
               "    if kind == '!':\n"
               "        b = b[:c + n[0]] + struct.pack('<I', struct.unpack('<I', b[c + n[0]:c + n[0] + 4])[0] + n[1])"
               " + b[c + n[0] + 4:]; continue\n"
               "    r = b[c:e]\n"
               "    k = 46 + struct.unpack('<H', r[28:30])[0]\n"
               "    rows = [r[:k - 3] + (b'%03d' % j if kind == '#' else r[k - 3:k]) + r[k:] for j in range(n)]\n"
               "    t = bytearray(b[e:])\n"
               "    struct.pack_into('<HHI', t, 8, t[8] + t[9] * 256 + n, t[8] + t[9] * 256 + n,\n"
               "                     struct.unpack('<I', t[12:16])[0] + n * len(r))\n"
               "    b = b[:e] + b''.join(rows) + bytes(t)\n"
               "open('" + Path + "', 'wb').write(b)\n");
    }

    // Rows of archives extracted one after another into one destination,
    // each with its expected answer; Check is a shell test run in the
    // temporary folder afterwards, Logged a text the log must hold.
    struct Step {
        const char *Entries;
        int32 Expected;
    };
    struct Row {
        const char *What, *Before, *Destination;
        std::vector<Step> Steps;
        const char *Check, *Logged, *After;
    };
    void RunRows(const std::vector<Row> &Rows) {
        Debug_PrintCallback(CaptureLogMirrored);
        for (const Row &R : Rows) {
            SCOPED_TRACE(R.What);
            Captured.clear();
            const std::string In = "cd '" + Temp.Path + "' && ";
            Shell(In + "rm -rf out real lnk && " + R.Before);
            for (const Step &S : R.Steps) {
                MakeArchive(Temp / "row.zip", S.Entries);
                EXPECT_EQ(Zip_Extract((Temp / "row.zip").c_str(), 0, (Temp / R.Destination).c_str(), nullptr),
                          S.Expected) << S.Entries;
            }
            EXPECT_TRUE(Shell(In + R.Check)) << R.Check;
            EXPECT_NE(Captured.find(R.Logged), std::string::npos) << Captured;
            Shell(In + R.After);
        }
    }
};

// Plain zip keeps the link (-y) and the time (within the two-second DOS
// resolution).
// With ZIP64 records too (-fz), and a zip stored last, whose own end record
// lies where the archive's is looked for.
TEST_F(ZipTest, PlainZipExtractsByteForByte) {
    SKIP_UNLESS(HaveCommand("zip"), "zip not installed");
    Shell("cd '" + Source + "' && zip -q inner.zip hello.txt");
    for (const std::string Options : {"", " -fz"}) {
        ASSERT_TRUE(Shell("rm -rf '" + Output + "' && cd '" + Source + "' && rm -f ../plain.zip && zip -q -r -y" +
                          Options + " ../plain.zip . -x inner.zip && zip -q" + Options + " ../plain.zip inner.zip"));
        ASSERT_EQ(Zip_Extract((Temp / "plain.zip").c_str(), 0, Output.c_str(), nullptr), 1) << Options;
        ExpectSameTree();
    }
    const std::string Path = Temp / "plain.zip";
    struct stat Status;
    ASSERT_EQ(stat((Output + "/hello.txt").c_str(), &Status), 0);
    struct stat Original;
    stat((Source + "/hello.txt").c_str(), &Original);
    EXPECT_LE(std::abs((long)(Status.st_mtime - Original.st_mtime)), 2);
}

TEST_F(ZipTest, EncryptedArchivesFromZipAnd7z) {
    struct Maker {
        const char *Tool, *Command;
    };
    const Maker Makers[] = {
        {"zip", "zip -q -r -y -P 'pass word'"},
        {"7z", "7z a -tzip -mem=AES128 '-ppass word' -bd"},
        {"7z", "7z a -tzip -mem=AES256 '-ppass word' -bd"},
        {"7z", "7z a -tzip -mem=AES192 -mm=Copy '-ppass word' -bd"},
    };
    for (const Maker &M : Makers) {
        SCOPED_TRACE(M.Command);
        if (!RequirePart(HaveCommand(M.Tool), M.Tool)) continue;
        Shell("rm -rf '" + Output + "' '" + Temp.Path + "/enc.zip'");
        const std::string Path = Archive("enc.zip", M.Command);
        // The wrong password first: nothing appears.
        EXPECT_EQ(Zip_Extract(Path.c_str(), 0, Output.c_str(), "wrong"), 0);
        EXPECT_EQ(access(Output.c_str(), F_OK), -1) << "destination left behind";
        EXPECT_EQ(Zip_Extract(Path.c_str(), 0, Output.c_str(), nullptr), 0);
        EXPECT_EQ(access(Output.c_str(), F_OK), -1);
        ASSERT_EQ(Zip_Extract(Path.c_str(), 0, Output.c_str(), "pass word"), 1);
        auto Expected = TreeOf(Source), Got = TreeOf(Output);
        Expected.erase("/empty-folder"); // 7z and zip differ on empty folders
        Got.erase("/empty-folder");
        for (const auto &[Name, Content] : Expected)
            EXPECT_TRUE(Got.count(Name) && Got[Name] == Content) << Name << " differs";
        EXPECT_EQ(Got.size(), Expected.size());
        struct stat Status;
        ASSERT_EQ(stat((Output + "/run.sh").c_str(), &Status), 0);
        EXPECT_TRUE(Status.st_mode & S_IXUSR);
    }
}

// Flips one byte inside an entry's stored data (found by its local header)
// and expects the whole archive refused with nothing written.
TEST_F(ZipTest, CorruptEntriesLeaveNothing) {
    SKIP_UNLESS(HaveCommand("zip") && HaveCommand("7z"), "zip or 7z not installed");
    struct Case {
        const char *Name, *Command, *Password;
    };
    const Case Cases[] = {
        {"plain.zip", "zip -q -r", nullptr},
        {"pkware.zip", "zip -q -r -P pw", "pw"},
        {"aes.zip", "7z a -tzip -mem=AES256 -ppw -bd", "pw"},
    };
    for (const Case &C : Cases) {
        SCOPED_TRACE(C.Name);
        const std::string Path = Archive(C.Name, C.Command);
        // noise.bin comes after other entries, so earlier ones were fine.
        const std::string Offset = Python("z = zipfile.ZipFile(sys.argv[1] if len(sys.argv) > 1 else '" + Path +
                                          "')\n"
                                          "i = z.getinfo('noise.bin')\n"
                                          "h = open('" + Path + "', 'rb').read()[i.header_offset:]\n"
                                          "import struct\n"
                                          "n, e = struct.unpack('<HH', h[26:30])\n"
                                          "print(i.header_offset + 30 + n + e + 5000)\n");
        std::string Bytes = ReadFile(Path);
        const size_t At = std::stoul(Offset);
        ASSERT_LT(At, Bytes.size());
        Bytes[At] ^= 0x40;
        WriteFile(Temp / "bad.zip", Bytes);
        EXPECT_EQ(Zip_Extract((Temp / "bad.zip").c_str(), 0, Output.c_str(), C.Password), 0);
        EXPECT_EQ(access(Output.c_str(), F_OK), -1) << "output left behind";
        // Truncated archives fail as well.
        WriteFile(Temp / "short.zip", ReadFile(Path).substr(0, 70000));
        EXPECT_EQ(Zip_Extract((Temp / "short.zip").c_str(), 0, Output.c_str(), C.Password), 0);
        EXPECT_EQ(access(Output.c_str(), F_OK), -1);
    }
}

TEST_F(ZipTest, ExistingDestinationKeepsItsContentOnFailure) {
    SKIP_UNLESS(HaveCommand("zip"), "zip not installed");
    const std::string Path = Archive("pkware.zip", "zip -q -r -P pw");
    Shell("mkdir -p '" + Output + "/keep'");
    WriteFile(Output + "/hello.txt", "old");
    const auto Before = TreeOf(Output);
    EXPECT_EQ(Zip_Extract(Path.c_str(), 0, Output.c_str(), "nope"), 0);
    EXPECT_TRUE(TreeOf(Output) == Before);
    ASSERT_EQ(Zip_Extract(Path.c_str(), 0, Output.c_str(), "pw"), 1);
    EXPECT_EQ(ReadFile(Output + "/hello.txt"), "hello, world\n");
}

TEST_F(ZipTest, HostileNamesAndLinksRefuseTheWholeArchive) {
    struct Case {
        const char *What, *Entries;
    };
    // Each archive starts with a harmless entry, which must not appear either.
    const Case Cases[] = {
        {"parent", "[('ok.txt', 'x'), ('../x', 'evil')]"},
        {"absolute", "[('ok.txt', 'x'), ('/abs', 'evil')]"},
        {"inner parent", "[('ok.txt', 'x'), ('a/../../x', 'evil')]"},
        {"backslash parent", "[('ok.txt', 'x'), ('a\\\\..\\\\..\\\\x', 'evil')]"},
        {"drive", "[('ok.txt', 'x'), ('C:/x', 'evil')]"},
        {"link out", "[('ok.txt', 'x'), ('link', '@../../etc'), ('link/file', 'evil')]"},
        {"absolute link", "[('ok.txt', 'x'), ('link', '@/etc')]"},
        {"escaping link", "[('ok.txt', 'x'), ('a/b/link', '@../../../x')]"},
        {"through inner link", "[('ok.txt', 'x'), ('link', '@sub'), ('link/file', 'evil')]"},
        {"chain of links", "[('ok.txt', 'x'), ('d/b', '@..'), ('d/a', '@b/..')]"},
        {"chain to a sibling", "[('ok.txt', 'x'), ('d/a', '@b/../x'), ('d/b', '@..')]"},
        {"chain of two hops", "[('ok.txt', 'x'), ('a/b/c', '@../..'), ('a/b/d', '@c/a/b/c'), ('a/b/e', '@d/../x')]"},
        {"loop of links", "[('ok.txt', 'x'), ('l1', '@l2'), ('l2', '@l1')]"},
        {"long", "[('ok.txt', 'x'), ('d/' * 170 + 'x', 'evil')]"},
        {"the destination as a file", "[('ok.txt', 'x'), ('.', 'evil')]"},
    };
    for (const Case &C : Cases) {
        SCOPED_TRACE(C.What);
        const std::string Path = Temp / "hostile.zip";
        MakeArchive(Path, C.Entries);
        EXPECT_EQ(Zip_Extract(Path.c_str(), 0, Output.c_str(), nullptr), 0);
        EXPECT_EQ(access(Output.c_str(), F_OK), -1) << "something was written";
        EXPECT_EQ(access((Temp.Path + "/x").c_str(), F_OK), -1);
    }
}

TEST_F(ZipTest, WritesNeverFollowALinkAlreadyInTheDestination) {
    Shell("mkdir -p '" + Output + "' '" + Temp.Path + "/elsewhere'");
    symlink((Temp.Path + "/elsewhere").c_str(), (Output + "/out").c_str());
    const std::string Path = Temp / "through.zip";
    Python("z = zipfile.ZipFile('" + Path + "', 'w')\nz.writestr('out/file', 'evil')\nz.close()\n");
    EXPECT_EQ(Zip_Extract(Path.c_str(), 0, Output.c_str(), nullptr), 0);
    EXPECT_EQ(access((Temp.Path + "/elsewhere/file").c_str(), F_OK), -1);
}

TEST_F(ZipTest, InnerLinksAndLinksMadeLast) {
    const std::string Path = Temp / "links.zip";
    Python("z = zipfile.ZipFile('" + Path + "', 'w')\n"
           "def link(name, target):\n"
           "    i = zipfile.ZipInfo(name)\n"
           "    i.create_system = 3\n"
           "    i.external_attr = (stat.S_IFLNK | 0o777) << 16\n"
           "    z.writestr(i, target)\n"
           "z.writestr('./', '')\n"
           "link('a/up', '../b.txt')\n"
           "z.writestr('b.txt', 'bee')\n"
           "link('self', '.')\n"
           "link('a/via', '../self/a/up')\n"
           "link('ab:', 'b.txt')\n"
           "z.close()\n");
    ASSERT_EQ(Zip_Extract(Path.c_str(), 0, Output.c_str(), nullptr), 1);
    EXPECT_EQ(ReadFile(Output + "/a/up"), "bee");
    EXPECT_EQ(ReadFile(Output + "/ab:"), "bee"); // a colon separates nothing
    EXPECT_EQ(ReadFile(Output + "/a/via"), "bee"); // through two links of the archive
    char Target[64] = {0};
    ASSERT_GT(readlink((Output + "/a/up").c_str(), Target, sizeof(Target) - 1), 0);
    EXPECT_STREQ(Target, "../b.txt");
}

// Files that share a path: the last one stands, with its own mode, and the
// ones before it are still checked.
TEST_F(ZipTest, SameNamedFilesLastOneStands) {
    const std::string Path = Temp / "same.zip";
    Python("import warnings; warnings.simplefilter('ignore')\n"
           "z = zipfile.ZipFile('" + Path + "', 'w')\n"
           "for data, mode in (('first', 0o755), ('second', 0o755), ('last', 0o644)):\n"
           "    i = zipfile.ZipInfo('same.txt')\n"
           "    i.create_system = 3\n"
           "    i.external_attr = mode << 16\n"
           "    z.writestr(i, data)\n"
           "z.close()\n");
    ASSERT_EQ(Zip_Extract(Path.c_str(), 0, Output.c_str(), nullptr), 1);
    EXPECT_TRUE(TreeOf(Output) == (std::map<std::string, std::string>{{"/same.txt", "file:last"}}));
    EXPECT_NE(access((Output + "/same.txt").c_str(), X_OK), 0);
    std::string Bytes = ReadFile(Path);
    Bytes[Bytes.find("first")] = 'F'; // its CRC no longer matches
    WriteFile(Temp / "bad.zip", Bytes);
    EXPECT_EQ(Zip_Extract((Temp / "bad.zip").c_str(), 0, (Temp / "other").c_str(), nullptr), 0);
    EXPECT_EQ(access((Temp / "other").c_str(), F_OK), -1);
}

// What stands in the destination, earlier archives' links included, counts:
// a commit is whole or nothing, no link leads out, and the work an archive
// asks for is bounded before anything is written.
TEST_F(ZipTest, ArchivesIntoWhatStandsAndBounds) {
    RunRows({
        {"a long name, a failed commit after a good file", "mkdir out && (printf OLD >out/good.txt) && touch out/d",
         "out",
         {{"[('good.txt', 'NEW'), ('n' * 256, 'x')]", 0}, {"[('good.txt', 'NEW'), ('d/l', '@x')]", 0}},
         "[ \"$(cat out/good.txt)\" = OLD ]", "name too long", ""},
        {"through an earlier link to the destination", "true", "out", {{"[('s', '@.')]", 1}, {"[('x', '@s/..')]", 0}},
         "[ ! -L out/x ]", "leads outside", ""},
        {"through an earlier link up two folders", "true", "out",
         {{"[('a/b/s', '@../..')]", 1}, {"[('y', '@a/b/s/..')]", 0}}, "[ ! -L out/y ]", "leads outside", ""},
        {"through an absolute link already there", "mkdir -p out/a/b && ln -s \"$(pwd -P)/out\" out/a/b/top", "out",
         {{"[('z', '@a/b/top/..')]", 0}, {"[('w', '@a/b/top/f')]", 1}}, "[ ! -L out/z ] && [ -L out/w ]", "outside",
         ""},
        {"a file after a link of its name", "true", "out", {{"[('n', '@t'), ('n', 'data')]", 1}},
         "[ ! -L out/n ] && [ \"$(cat out/n)\" = data ]", "", ""},
        {"a destination inside a linked folder", "mkdir real && ln -s real lnk", "lnk/new", {{"[('f', 'x')]", 1}},
         "[ \"$(cat real/new/f)\" = x ]", "", "rm -rf real lnk"},
        {"a destination that is a link", "mkdir real && ln -s real lnk", "lnk", {{"[('f', 'x')]", 1}},
         "[ -L lnk ] && [ \"$(cat real/f)\" = x ]", "", "rm -rf real lnk"},
        {"chains of long link targets", "true", "out",
         {{"[('l%d_%d' % (c, i), '@' + 'a/' * 200 + '../' * 200 + 'l%d_%d' % (c, i + 1)) for c in range(12) "
           "for i in range(40)]", 0}}, "[ ! -e out ]", "too much work", ""},
        {"names sharing one stream", "true", "out", {{"[('d000', 'z' * 20000), ('#', 60)]", 0}}, "[ ! -e out ]",
         "overlap", ""},
        {"one name many times over shared data", "true", "out", {{"[('same', 'z' * 20000), ('*', 60)]", 0}},
         "[ ! -e out ]", "overlap", ""},
        {"two names at one local header", "true", "out", {{"[('d000', 'abc'), ('#', 2)]", 0}}, "[ ! -e out ]",
         "overlap in the archive", ""},
        {"data across the central directory", "true", "out", {{"[('a', 'x' * 10), ('!', (20, 40))]", 0}},
         "[ ! -e out ]", "outside the archive's data", ""},
        {"a local header past the end", "true", "out", {{"[('a', 'x'), ('!', (42, 10 ** 6))]", 0}}, "[ ! -e out ]",
         "outside the archive's data", ""},
        {"output past the ratio", "true", "out", {{"[('zeros', '~' + '0' * 4000000)]", 0}}, "[ ! -e out ]",
         "times its size", ""},
        {"too many folders", "true", "out", {{"[('%03d/' % i + 'a/' * 99 + 'f', '') for i in range(700)]", 0}},
         "[ ! -e out ]", "folders", ""},
    });
}

// A file system mounted inside the destination, and one too small.
TEST_F(ZipTest, MountsInsideAndFreeSpace) {
    SKIP_UNLESS_RUN(RunAsRoot(), "mounting a file system needs root");
    RunRows({
        {"a file system inside the destination", "mkdir -p out/data && mount -t tmpfs -o size=1m tmpfs out/data",
         "out", {{"[('data/a', 'x'), ('b', 'y')]", 1}}, "[ \"$(cat out/data/a)$(cat out/b)\" = xy ]", "",
         "umount out/data"},
        {"not enough free space", "mkdir out && mount -t tmpfs -o size=256k tmpfs out", "out",
         {{"[('big', 'x' * 600000)]", 0}}, "[ -z \"$(ls -A out)\" ]", "free space", "umount out"},
    });
}

// Two extractions into one folder at once, one of which fails: the other
// stands whole.
TEST_F(ZipTest, AFailingExtractionBesideAnother) {
    MakeArchive(Temp / "good.zip", "[('d%d/f%d' % (i % 20, i), 'x') for i in range(300)]");
    MakeArchive(Temp / "bad.zip", "[('d%d/g%d' % (i % 20, i), 'y') for i in range(300)] + [('z', 'CRC')]");
    std::string Bytes = ReadFile(Temp / "bad.zip");
    Bytes[Bytes.find("CRC")] = 'X';
    WriteFile(Temp / "bad.zip", Bytes);
    for (int Round = 0; Round < 20; Round++) {
        Shell("rm -rf '" + Output + "'");
        int32 Good = 0;
        std::thread Other([&] { Good = Zip_Extract((Temp / "good.zip").c_str(), 0, Output.c_str(), nullptr); });
        EXPECT_EQ(Zip_Extract((Temp / "bad.zip").c_str(), 0, Output.c_str(), nullptr), 0);
        Other.join();
        ASSERT_EQ(Good, 1) << Round;
        ASSERT_EQ(TreeOf(Output).size(), 320u) << Round;
    }
}

// The modes of the temporary files in StagingFolder, read while a log line
// is written: a failing entry's line comes before its file is removed.
std::string StagingFolder;
std::vector<mode_t> StagedModes;
int32 StatStaging(const char *Text) {
    struct stat Status;
    for (const auto &[Name, Content] : TreeOf(StagingFolder))
        if (Name.rfind("/.unzip-", 0) == 0 && Name.find(".tmp") != std::string::npos &&
            lstat((StagingFolder + Name).c_str(), &Status) == 0)
            StagedModes.push_back(Status.st_mode & 07777);
    return CaptureLogMirrored(Text);
}

// An AES entry whose code does not match leaves no file at all, not even a
// temporary one for a moment; the wrong password's line names its entry. A
// plain entry, written before its CRC fails, and a good one before it are
// written for this user only.
TEST_F(ZipTest, UnauthenticatedPlaintextNeverLands) {
    SKIP_UNLESS(HaveCommand("7z"), "7z not installed");
    Debug_PrintCallback(CaptureLogMirrored);
    const std::string Path = Temp / "aes.zip";
    Shell("cd '" + Source + "/deep/er/still' && 7z a -tzip -mem=AES256 -mm=Copy -ppw -bd '" + Path + "' text.txt");
    std::string Bytes = ReadFile(Path);
    Bytes[Bytes.size() / 2] ^= 1; // inside the enciphered text
    WriteFile(Path, Bytes);
    Shell("mkdir -p '" + Output + "'");
    const int Watch = inotify_init1(IN_NONBLOCK);
    ASSERT_GE(inotify_add_watch(Watch, Output.c_str(), IN_CREATE), 0);
    Captured.clear();
    EXPECT_EQ(Zip_Extract(Path.c_str(), 0, Output.c_str(), "pw"), 0);
    char Event[4096];
    EXPECT_LT(read(Watch, Event, sizeof(Event)), 0) << "something was made in the destination";
    close(Watch);
    EXPECT_EQ(Zip_Extract(Path.c_str(), 0, Output.c_str(), "wrong"), 0);
    EXPECT_NE(Captured.find("wrong password (entry \""), std::string::npos) << Captured;
    MakeArchive(Temp / "crc.zip", "[('g', 'good'), ('f', 'CRC' * 1000)]");
    Bytes = ReadFile(Temp / "crc.zip");
    Bytes[Bytes.find("CRC")] = 'X';
    WriteFile(Temp / "crc.zip", Bytes);
    StagingFolder = Output;
    Debug_PrintCallback(StatStaging);
    EXPECT_EQ(Zip_Extract((Temp / "crc.zip").c_str(), 0, Output.c_str(), nullptr), 0);
    EXPECT_EQ(StagedModes, (std::vector<mode_t>{0600, 0600}));
}

// Links already in the destination: a path through one that stays inside
// goes where it leads; one that the archive's links would lead outside
// (three ways) refuses the archive.
TEST_F(ZipTest, LinksAlreadyInTheDestination) {
    RunRows({
        {"a file through a link there", "true", "out",
         {{"[('A/x.txt', 'old'), ('Current', '@A')]", 1}, {"[('A/x.txt', 'old'), ('Current', '@A')]", 1},
          {"[('Current/', ''), ('Current/x.txt', 'new')]", 1}},
         "[ \"$(cat out/A/x.txt)\" = new ] && [ \"$(readlink out/Current)\" = A ]", "", ""},
        {"through a new link", "mkdir out && ln -s q/.. out/p", "out", {{"[('q', '@.')]", 0}}, "[ ! -e out/q ]",
         "would lead the link p", ""},
        {"through a replaced link", "mkdir -p out/s && ln -s s out/q && ln -s q/.. out/p", "out",
         {{"[('q', '@.')]", 0}}, "[ \"$(readlink out/q)\" = s ]", "would lead the link p", ""},
        {"from a folder", "mkdir -p out/d && ln -s ../q/.. out/d/p", "out", {{"[('q', '@d/..')]", 0}},
         "[ ! -e out/q ]", "would lead the link d/p", ""},
    });
}

// Another extraction between this one's plan and commit puts a folder
// where this one places a file: the folder stays, this one fails whole.
TEST_F(ZipTest, WhatAppearsBeforeTheCommitStays) {
    MakeArchive(Temp / "a.zip", "[('x', 'A'), ('y', 'A')]");
    MakeArchive(Temp / "b.zip", "[('x/user.txt', 'B')]");
    bool Nested = false;
    BeforePlace = [&](const std::string &) {
        if (!Nested && (Nested = true)) {
            EXPECT_EQ(Zip_Extract((Temp / "b.zip").c_str(), 0, Output.c_str(), nullptr), 1);
        }
        return true;
    };
    ZipInt_BeforePlace = CallBeforePlace;
    EXPECT_EQ(Zip_Extract((Temp / "a.zip").c_str(), 0, Output.c_str(), nullptr), 0);
    EXPECT_TRUE(TreeOf(Output) == (std::map<std::string, std::string>{{"/x", "dir"}, {"/x/user.txt", "file:B"}}));
}

// A and B place f.txt over OLD in turn, then each fails: A, rolling back
// first, finds f.txt B's and keeps OLD beside it.
TEST_F(ZipTest, TwoFailingCommitsKeepWhatTheyReplaced) {
    Shell("mkdir -p '" + Output + "'");
    WriteFile(Output + "/f.txt", "OLD");
    MakeArchive(Temp / "a.zip", "[('f.txt', 'NEW'), ('g.txt', 'NEW')]");
    std::mutex Guard;
    std::condition_variable Turned;
    int Turn = 0, Calls = 0;
    const auto Await = [&](int Which) {
        std::unique_lock<std::mutex> Lock(Guard);
        Turned.wait(Lock, [&] { return Turn >= Which; });
    };
    const auto Pass = [&](int Which) {
        std::lock_guard<std::mutex> Lock(Guard);
        Turn = Which;
        Turned.notify_all();
    };
    BeforePlace = [&](const std::string &Relative) {
        if (Relative != "g.txt") return true;
        if (Calls++ == 0) Pass(1), Await(2);
        else Pass(2), Await(3);
        return false;
    };
    ZipInt_BeforePlace = CallBeforePlace;
    std::thread A([&] {
        EXPECT_EQ(Zip_Extract((Temp / "a.zip").c_str(), 0, Output.c_str(), nullptr), 0);
        Pass(3);
    });
    Await(1);
    EXPECT_EQ(Zip_Extract((Temp / "a.zip").c_str(), 0, Output.c_str(), nullptr), 0);
    A.join();
    EXPECT_TRUE(TreeOf(Output) ==
                (std::map<std::string, std::string>{{"/f.txt", "file:NEW"}, {"/f.txt.unzip-kept", "file:OLD"}}));
}

// A killed extraction's staged files and lock go with the next extraction
// into their folders; a live one's, and another user's, stay.
TEST_F(ZipTest, WhatAKilledExtractionLeftIsSwept) {
    MakeArchive(Temp / "a.zip", "[('d/f%d' % i, 'x') for i in range(50)]");
    MakeArchive(Temp / "b.zip", "[('d/g', 'y')]");
    BeforePlace = [](const std::string &) { return raise(SIGKILL) == 0; };
    ZipInt_BeforePlace = CallBeforePlace;
    const pid_t Child = fork();
    if (Child == 0) _exit(Zip_Extract((Temp / "a.zip").c_str(), 0, Output.c_str(), nullptr));
    int Status = 0;
    ASSERT_EQ(waitpid(Child, &Status, 0), Child);
    ASSERT_TRUE(WIFSIGNALED(Status));
    ASSERT_GE(TreeOf(Output).size(), 51u); // d and 50 staged files
    const std::string Foreign = Output + "/d/.unzip-0123456789abcdef-1.tmp";
    if (geteuid() == 0) WriteFile(Foreign, "theirs"), chown(Foreign.c_str(), 65534, 65534);
    bool Nested = false;
    BeforePlace = [&](const std::string &) {
        if (!Nested && (Nested = true)) {
            EXPECT_EQ(Zip_Extract((Temp / "b.zip").c_str(), 0, Output.c_str(), nullptr), 1);
        }
        return true;
    };
    ASSERT_EQ(Zip_Extract((Temp / "a.zip").c_str(), 0, Output.c_str(), nullptr), 1);
    EXPECT_EQ(unlink(Foreign.c_str()) == 0, geteuid() == 0);
    EXPECT_EQ(TreeOf(Output).size(), 52u); // d, its 50 files and g
}

TEST_F(ZipTest, OversizedEntryIsRefused) {
    // The central directory claims 10 bytes for an entry that inflates to
    // 100,000: reading stops at the declared size and nothing is written.
    const std::string Path = Temp / "bomb.zip";
    Python("import struct\n"
           "z = zipfile.ZipFile('" + Path + "', 'w', zipfile.ZIP_DEFLATED)\n"
           "z.writestr('big.bin', b'\\0' * 100000)\n"
           "z.close()\n"
           "b = bytearray(open('" + Path + "', 'rb').read())\n"
           "c = b.rfind(b'PK\\x01\\x02')\n"
           "struct.pack_into('<I', b, c + 24, 10)\n"
           "struct.pack_into('<I', b, 22, 10)\n"
           "open('" + Path + "', 'wb').write(b)\n");
    EXPECT_EQ(Zip_Extract(Path.c_str(), 0, Output.c_str(), nullptr), 0);
    EXPECT_EQ(access(Output.c_str(), F_OK), -1);
}

TEST_F(ZipTest, ArchiveBehindOtherBytes) {
    SKIP_UNLESS(HaveCommand("7z"), "7z not installed");
    const std::string Path = Archive("aes.zip", "7z a -tzip -mem=AES256 -ppw -bd");
    const std::string Stub(12345, 'S');
    WriteFile(Temp / "joined.bin", Stub + ReadFile(Path));
    ASSERT_EQ(Zip_Extract((Temp / "joined.bin").c_str(), (int64)Stub.size(), Output.c_str(), "pw"), 1);
    EXPECT_EQ(ReadFile(Output + "/noise.bin"), ReadFile(Source + "/noise.bin"));
    EXPECT_EQ(Zip_Extract((Temp / "joined.bin").c_str(), 5, (Temp / "other").c_str(), "pw"), 0);
    EXPECT_EQ(Zip_Extract((Temp / "missing.zip").c_str(), 0, (Temp / "other").c_str(), "pw"), 0);
    EXPECT_EQ(access((Temp / "other").c_str(), F_OK), -1);
}

} // namespace

// The WinZip AES key stream does not depend on how the data is cut: pieces
// that end inside a block continue it in the next call.
TEST(ZipAesCounterTest, PiecesOfAnyLengthMatchOneCall) {
    RuntimeScope Runtime;
    std::mt19937 Random(5);
    std::string Key(32, 0), Data(5000, 0);
    for (char &C : Key) C = (char)Random();
    for (char &C : Data) C = (char)Random();
    for (int32 Length : {16, 24, 32}) {
        std::string Whole = Data;
        ZipAesCounter One;
        ASSERT_TRUE(One.SetKey(reinterpret_cast<const uint8 *>(Key.data()), Length));
        One.Apply(reinterpret_cast<uint8 *>(Whole.data()), Whole.size());
        EXPECT_NE(Whole, Data);
        for (int Round = 0; Round < 20; Round++) {
            std::string Cut = Data;
            ZipAesCounter Pieces;
            ASSERT_TRUE(Pieces.SetKey(reinterpret_cast<const uint8 *>(Key.data()), Length));
            for (size_t At = 0; At < Cut.size();) {
                const size_t Size = std::min<size_t>(Cut.size() - At, Random() % 70);
                Pieces.Apply(reinterpret_cast<uint8 *>(Cut.data()) + At, Size);
                At += Size;
            }
            ASSERT_EQ(Cut, Whole) << Length;
        }
    }
}
