// Directory listing and walking: walks of a random tree against os.walk
// (order, depth limit, pre- and post-order, what is reported), the rules for
// links, patterns and callbacks, enumeration, and entries that cannot be
// named safely.
#include "runtime/files/directory_list.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "runtime/files/path.h"
#include "tests/support/log_capture.h"
#include "tests/support/python.h"
#include "tests/support/requirement.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

void Touch(const std::string &Path, size_t Bytes = 0) {
    FILE *File = fopen(Path.c_str(), "w");
    ASSERT_NE(File, nullptr) << Path;
    std::string Data(Bytes, 'x');
    fwrite(Data.data(), 1, Data.size(), File);
    fclose(File);
}

// A directory's size as its file system gives it (4096 on ext4, less on tmpfs).
std::string SizeOf(const std::string &Path) {
    struct stat Status;
    return stat(Path.c_str(), &Status) == 0 ? std::to_string(Status.st_size) : "?";
}

struct Seen {
    std::vector<std::string> Lines;
    std::vector<std::string> Names;
    uint32 Answer = 1;
    std::string RefuseDirectory; // a directory the callback answers 0 for
    std::string RefuseFile;
    std::string Victim; // a directory the callback removes
};

uint32 Record(DirectoryList *Level, void *User, int32 Depth, const char *Path) {
    auto *Out = static_cast<Seen *>(User);
    uint64 Size = 0;
    DirectoryList_GetSize(Level, &Size);
    char Name[MAX_PATH_SIZE];
    DirectoryList_GetName(Level, Name, sizeof(Name));
    Out->Names.push_back(Name);
    Out->Lines.push_back(std::to_string(Depth) + " " + Path + " " + std::to_string(Size));
    if (Out->RefuseDirectory == Path || Out->RefuseFile == Path) return 0;
    return Out->Answer;
}

std::string Joined(const std::vector<std::string> &Lines) {
    std::string Text;
    for (const std::string &Line : Lines) Text += Line + "\n";
    return Text;
}

Seen Walk(const std::string &Root, uint32 Order, uint32 Flags, int32 Depth, const char *Pattern = nullptr,
          int32 *Result = nullptr) {
    Seen Out;
    DirectoryList List;
    DirectoryList_Stack(&List);
    DirectoryList_SetWalkOrder(&List, Order);
    DirectoryList_SetWalkFlags(&List, Flags);
    DirectoryList_SetMaxDepth(&List, Depth);
    DirectoryList_SetWalkCallback(&List, &Out, Record);
    int32 Answer = DirectoryList_Walk(&List, Root.c_str(), Pattern);
    if (Result != nullptr) *Result = Answer;
    else EXPECT_EQ(Answer, 1);
    DirectoryList_Unstack(&List);
    return Out;
}

// A random tree: directories to depth 4, files of random sizes, hidden
// names, links to files and directories (inside and outside), a dangling one.
constexpr const char *MakeTree = R"(
import os, random, sys
root = sys.argv[1]
random.seed(1207)
dirs = [root]
for i in range(260):
    parent = random.choice(dirs)
    kind = random.random()
    name = random.choice(['', '.']) + ''.join(random.choice('abcXYZ_-.0') for _ in range(random.randint(1, 8)))
    path = os.path.join(parent, name)
    if os.path.lexists(path) or name in ('.', '..'):
        continue
    if kind < 0.3 and path.count('/') - root.count('/') < 5:
        os.mkdir(path); dirs.append(path)
    elif kind < 0.85:
        with open(path, 'wb') as f:
            f.write(b'y' * random.randint(0, 5000))
    elif kind < 0.93:
        os.symlink(random.choice(dirs), path)
    else:
        os.symlink('/nonexistent/' + name, path)
)";

// The walk as the runtime does it, built on os.walk's view of the tree: each
// level reports its real subdirectories (a link is never one) with their
// subtrees first, then everything else, each group in listing order.
constexpr const char *WalkModel = R"(
import os, sys
root, order, flags, maxdepth = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
tree = {}
for dirpath, dirnames, filenames in os.walk(root):
    tree[dirpath.rstrip('/')] = set(dirnames) | set(filenames)
out = []
def size(p):
    return os.lstat(p).st_size
def level(d, depth):
    if maxdepth != -1 and depth > maxdepth:
        return
    names = os.listdir(d)
    assert set(names) == tree[d.rstrip('/')]
    real = [n for n in names if os.path.isdir(d + n) and not os.path.islink(d + n)]
    for n in real:
        p = d + n + '/'
        if order == 2: level(p, depth + 1)
        if flags & 2: out.append('%d %s %d' % (depth, p, size(p)))
        if order == 1: level(p, depth + 1)
    if flags & 1:
        for n in names:
            if n not in real:
                out.append('%d %s %d' % (depth, d + n, size(d + n)))
level(root.rstrip('/') + '/', 0)
print('\n'.join(out))
)";

class DirectoryListTest : public RuntimeTest {
  protected:
    TempDirectory Temp;
};

} // namespace

TEST_F(DirectoryListTest, WalksMatchOsWalk) {
    std::string Root = Temp / "tree";
    ASSERT_EQ(mkdir(Root.c_str(), 0755), 0);
    RunPython(std::string("import sys\nsys.argv = ['', '") + Root + "']\n" + MakeTree);
    struct Case {
        uint32 Order, Flags;
        int32 Depth;
    };
    const Case Cases[] = {{1, 0xF, -1}, {2, 0xF, -1}, {1, 1, -1}, {1, 2, -1}, {2, 2, -1},
                          {1, 0xF, 0},  {2, 3, 1},    {1, 1, 0},  {1, 3, 2},  {2, 1, 3}};
    for (const Case &Row : Cases) {
        std::string Script = "import sys\nsys.argv = ['', '" + Root + "', '" + std::to_string(Row.Order) + "', '" +
                             std::to_string(Row.Flags) + "', '" + std::to_string(Row.Depth) + "']\n" + WalkModel;
        std::string Expected = RunPython(Script);
        Seen Out = Walk(Root, Row.Order, Row.Flags, Row.Depth);
        EXPECT_GT(Out.Lines.size(), Row.Depth == 0 ? 5u : 20u);
        EXPECT_EQ(Joined(Out.Lines), Expected)
            << "order " << Row.Order << " flags " << Row.Flags << " depth " << Row.Depth;
    }
}

// What each reported entry carries, against os.lstat at the same moment: the
// attribute word, sizes and modification time, and the level's directory and
// pattern texts, as an enumeration of that directory would hold them.
constexpr const char *FactsModel = R"(
import os, stat, sys
root = sys.argv[1].rstrip('/') + '/'
out = []
for dirpath, dirnames, filenames in os.walk(root):
    d = dirpath.rstrip('/') + '/'
    for n in dirnames + filenames:
        p = d + n
        s = os.lstat(p)
        a = 2 if n.startswith('.') else 0
        if stat.S_ISLNK(s.st_mode): a |= 32
        else:
            if stat.S_ISDIR(s.st_mode): a |= 16
            if s.st_mode & 0o111 == 0o111: a |= 8
            if not s.st_mode & 0o200: a |= 1
        if stat.S_ISDIR(s.st_mode) and not stat.S_ISLNK(s.st_mode): p += '/'
        out.append('%s %d %d %d %d %s %s*' % (p, a, s.st_size, s.st_blocks * 512, int(s.st_mtime), d, d))
print('\n'.join(sorted(out)))
)";

uint32 RecordFacts(DirectoryList *Level, void *User, int32, const char *Path) {
    float64 Modified = 0;
    uint64 Allocated = 0;
    DirectoryList_GetModifiedTime(Level, &Modified);
    DirectoryList_GetAllocatedSize(Level, &Allocated);
    char Directory[DIRECTORYLIST_DIRECTORY_SIZE];
    DirectoryList_GetDirectory(Level, Directory, sizeof(Directory));
    static_cast<std::vector<std::string> *>(User)->push_back(
        std::string(Path) + " " + std::to_string(Level->Entry.Attributes) + " " + std::to_string(Level->Entry.Size) +
        " " + std::to_string(Allocated) + " " + std::to_string((int64)Modified) + " " + Directory + " " +
        Level->Entry.Pattern);
    return 1;
}

TEST_F(DirectoryListTest, ReportedFactsMatchLstat) {
    std::string Root = Temp / "tree";
    ASSERT_EQ(mkdir(Root.c_str(), 0755), 0);
    RunPython(std::string("import sys\nsys.argv = ['', '") + Root + "']\n" + MakeTree);
    Touch(Root + "/readonly", 10);
    ASSERT_EQ(chmod((Root + "/readonly").c_str(), 0444), 0);
    Touch(Root + "/tool", 3);
    ASSERT_EQ(chmod((Root + "/tool").c_str(), 0755), 0);
    for (uint32 Order : {DIRECTORYLIST_ORDER_PRE, DIRECTORYLIST_ORDER_POST}) {
        std::vector<std::string> Lines;
        DirectoryList List;
        DirectoryList_Stack(&List);
        DirectoryList_SetWalkOrder(&List, Order);
        DirectoryList_SetWalkCallback(&List, &Lines, RecordFacts);
        EXPECT_EQ(DirectoryList_Walk(&List, Root.c_str(), nullptr), 1);
        std::sort(Lines.begin(), Lines.end());
        EXPECT_EQ(Joined(Lines), RunPython("import sys\nsys.argv = ['', '" + Root + "']\n" + FactsModel))
            << "order " << Order;
    }
}

// Relative roots are walked from the working directory, one that folds away
// entirely ("x/..") is the working directory itself.
TEST_F(DirectoryListTest, RelativeRoots) {
    ASSERT_EQ(mkdir((Temp / "r").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((Temp / "r/a").c_str(), 0755), 0);
    Touch(Temp / "r/a/x");
    char Saved[4096];
    ASSERT_NE(getcwd(Saved, sizeof(Saved)), nullptr);
    ASSERT_EQ(chdir(Temp.Path.c_str()), 0);
    const std::string A = SizeOf("r/a"), R = SizeOf("r");
    const std::pair<const char *, std::string> Cases[] = {
        {"r", "0 r/a/ " + A + "\n1 r/a/x 0\n"},
        {"r/a/..", "0 r/a/ " + A + "\n1 r/a/x 0\n"},
        {"x/..", "0 r/ " + R + "\n1 r/a/ " + A + "\n2 r/a/x 0\n"},
    };
    for (const auto &[Root, Expected] : Cases) EXPECT_EQ(Joined(Walk(Root, 1, 0xF, -1).Lines), Expected) << Root;
    ASSERT_EQ(chdir(Saved), 0);
}

// A directory swapped for a link between its report and the descent (as
// someone racing an erase would do) is not entered: the walk never leaves
// the tree through a link.
uint32 SwapForLink(DirectoryList *, void *User, int32, const char *Path) {
    auto *Out = static_cast<Seen *>(User);
    Out->Lines.push_back(Path);
    if (Out->RefuseDirectory == Path) {
        std::string Directory(Path, strlen(Path) - 1);
        EXPECT_EQ(rename(Directory.c_str(), (Directory + ".moved").c_str()), 0);
        EXPECT_EQ(symlink(Out->RefuseFile.c_str(), Directory.c_str()), 0);
    }
    return 1;
}

TEST_F(DirectoryListTest, DirectorySwappedForALinkIsNotEntered) {
    for (const char *Directory : {"r", "r/a", "outside"}) ASSERT_EQ(mkdir((Temp / Directory).c_str(), 0755), 0);
    Touch(Temp / "r/a/inside");
    Touch(Temp / "outside/precious");
    Seen Out;
    Out.RefuseDirectory = Temp / "r/a/";
    Out.RefuseFile = Temp / "outside";
    DirectoryList List;
    DirectoryList_Stack(&List);
    DirectoryList_SetWalkFlags(&List, DIRECTORYLIST_WALK_FILES | DIRECTORYLIST_WALK_DIRECTORIES);
    DirectoryList_SetWalkCallback(&List, &Out, SwapForLink);
    EXPECT_EQ(DirectoryList_Walk(&List, (Temp / "r").c_str(), nullptr), 1);
    EXPECT_EQ(Joined(Out.Lines), Temp / "r/a/\n") << "the link's target was walked";
}

// Entries removed while the walk runs (here by the callback itself) are not
// reported afterwards, as a fresh listing would not show them.
uint32 RemoveSiblings(DirectoryList *Level, void *User, int32, const char *Path) {
    auto *Out = static_cast<Seen *>(User);
    Out->Lines.push_back(Path);
    if (Out->RefuseDirectory == Path) {
        char Directory[DIRECTORYLIST_DIRECTORY_SIZE];
        DirectoryList_GetDirectory(Level, Directory, sizeof(Directory));
        for (const std::string &Name : {std::string("gone"), Out->Victim + "/inner", Out->Victim})
            remove((std::string(Directory) + Name).c_str());
    }
    return 1;
}

TEST_F(DirectoryListTest, EntriesRemovedDuringTheWalkAreNotReported) {
    std::string R = Temp / "r";
    ASSERT_EQ(mkdir(R.c_str(), 0755), 0);
    // Whichever directory is listed first removes the others' victims, so the
    // victim directory must not be listed first: made before the others (tmpfs
    // lists the newest first), and renamed while it is (ext4 lists by hash).
    std::string Victim = "gone-dir0";
    ASSERT_EQ(mkdir((R + "/" + Victim).c_str(), 0755), 0);
    Touch(R + "/" + Victim + "/inner");
    for (const char *Directory : {"r/a", "r/b", "r/c"}) ASSERT_EQ(mkdir((Temp / Directory).c_str(), 0755), 0);
    Touch(R + "/gone");
    Touch(R + "/kept");
    auto FirstDirectory = [&] {
        std::string First;
        DIR *Stream = opendir(R.c_str());
        while (struct dirent *Found = Stream ? readdir(Stream) : nullptr)
            if (Found->d_type == DT_DIR && Found->d_name[0] != '.' && First.empty()) First = Found->d_name;
        if (Stream) closedir(Stream);
        return First;
    };
    std::string First = FirstDirectory();
    for (int Attempt = 1; Attempt < 32 && First == Victim; Attempt++) {
        const std::string Renamed = "gone-dir" + std::to_string(Attempt);
        ASSERT_EQ(rename((R + "/" + Victim).c_str(), (R + "/" + Renamed).c_str()), 0);
        Victim = Renamed;
        First = FirstDirectory();
    }
    ASSERT_NE(First, Victim);
    Seen Out;
    Out.Victim = Victim;
    Out.RefuseDirectory = R + "/" + First + "/";
    DirectoryList List;
    DirectoryList_Stack(&List);
    DirectoryList_SetWalkCallback(&List, &Out, RemoveSiblings);
    EXPECT_EQ(DirectoryList_Walk(&List, R.c_str(), nullptr), 1);
    std::sort(Out.Lines.begin(), Out.Lines.end());
    EXPECT_EQ(Joined(Out.Lines), R + "/a/\n" + R + "/b/\n" + R + "/c/\n" + R + "/kept\n");
}

// An entry whose status cannot be read is known only by its name: it is
// reported in the file pass, even when the listing says it is a directory.
TEST_F(DirectoryListTest, EntriesWithoutStatusAreFiles) {
    SKIP_UNLESS_RUN(RunAsRoot(), "dropping privileges needs root");
    SharedDirectory Shared; // root-owned 0755
    std::string Root = Shared / "s";
    ASSERT_EQ(mkdir(Root.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((Root + "/locked").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((Root + "/locked/sub").c_str(), 0755), 0);
    Touch(Root + "/locked/f", 5);
    // Readable but not searchable by others: names are listed, statuses refused.
    ASSERT_EQ(chmod((Root + "/locked").c_str(), 0744), 0);
    std::string Output = RunChildTest("DirectoryListChild.DISABLED_Walk", "DIRECTORY_LIST_TEST_ROOT='" + Root + "' " + Nobody);
    EXPECT_NE(Output.find("walked 1\n0 " + Root + "/locked/ " + SizeOf(Root + "/locked") + "\n"), std::string::npos)
        << Output;
    EXPECT_NE(Output.find("1 " + Root + "/locked/sub 0\n"), std::string::npos) << Output;
    EXPECT_NE(Output.find("1 " + Root + "/locked/f 0\n"), std::string::npos) << Output;
    EXPECT_EQ(Output.find(Root + "/locked/sub/"), std::string::npos) << Output;
}

TEST(DirectoryListChild, DISABLED_Walk) {
    RuntimeScope Runtime(DEBUG_FLAG_EXTERNALPRINT);
    Seen Out = Walk(getenv("DIRECTORY_LIST_TEST_ROOT"), 1, 0xF, -1);
    printf("walked 1\n%s", Joined(Out.Lines).c_str());
}

TEST_F(DirectoryListTest, ReportingRules) {
    std::string R = Temp / "r";
    ASSERT_EQ(mkdir(R.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((R + "/a").c_str(), 0755), 0);
    Touch(R + "/a/x");
    Touch(R + "/b");
    const std::string A = SizeOf(R + "/a");
    // Defaults: r/a/ (depth 0), r/a/x (depth 1), r/b (depth 0).
    Seen Out = Walk(R, 1, 0xF, -1);
    EXPECT_EQ(Joined(Out.Lines), "0 " + R + "/a/ " + A + "\n1 " + R + "/a/x 0\n0 " + R + "/b 0\n");
    // Post-order: r/a/x before r/a/.
    Out = Walk(R, 2, 0xF, -1);
    EXPECT_EQ(Out.Lines[0], "1 " + R + "/a/x 0");
    EXPECT_EQ(Out.Lines[1], "0 " + R + "/a/ " + A);
    // Depth 0 with files only: the root's files.
    Out = Walk(R, 1, DIRECTORYLIST_WALK_FILES, 0);
    EXPECT_EQ(Joined(Out.Lines), "0 " + R + "/b 0\n");

    // A directory refused under order 1 is not entered; the walk succeeds.
    {
        Seen Refusing;
        Refusing.RefuseDirectory = R + "/a/";
        DirectoryList List;
        DirectoryList_Stack(&List);
        DirectoryList_SetWalkCallback(&List, &Refusing, Record);
        EXPECT_EQ(DirectoryList_Walk(&List, R.c_str(), nullptr), 1);
        EXPECT_EQ(Joined(Refusing.Lines), "0 " + R + "/a/ " + A + "\n0 " + R + "/b 0\n");
    }
    // A refused file fails the walk, yet the level's other files are visited.
    Touch(R + "/c");
    {
        Seen Refusing;
        Refusing.RefuseFile = R + "/a/x";
        DirectoryList List;
        DirectoryList_Stack(&List);
        DirectoryList_SetWalkCallback(&List, &Refusing, Record);
        Touch(R + "/a/y");
        EXPECT_EQ(DirectoryList_Walk(&List, R.c_str(), nullptr), 0);
        // The failed subtree ends the enclosing level: its files are not reached.
        EXPECT_EQ(Refusing.Lines.size(), 3u) << Joined(Refusing.Lines);
        unlink((R + "/a/y").c_str());
    }
    unlink((R + "/c").c_str());

    // A link to a directory is reported in the file pass and never entered.
    ASSERT_EQ(symlink((R + "/a").c_str(), (R + "/l").c_str()), 0);
    Out = Walk(R, 1, 0xF, -1);
    ASSERT_EQ(Out.Lines.size(), 4u) << Joined(Out.Lines);
    // The file pass lists b and l in the file system's order.
    std::sort(Out.Lines.begin() + 2, Out.Lines.end());
    EXPECT_EQ(Out.Lines[2], "0 " + R + "/b 0");
    EXPECT_EQ(Out.Lines[3].substr(0, R.size() + 5), "0 " + R + "/l ") << Joined(Out.Lines);
}

TEST_F(DirectoryListTest, FilePatterns) {
    Touch(Temp / "a.txt");
    Touch(Temp / "B.LOG");
    Touch(Temp / "c.log");
    Touch(Temp / "d.ini");
    Seen Out = Walk(Temp.Path, 1, 0xF, -1, "*.log");
    std::sort(Out.Names.begin(), Out.Names.end());
    EXPECT_EQ(Out.Names, (std::vector<std::string>{"B.LOG", "c.log"}));
    Out = Walk(Temp.Path, 1, 0xF, -1, "*.log; *.INI");
    EXPECT_EQ(Out.Names.size(), 3u);
    Out = Walk(Temp.Path, 1, 0xF, -1, "");
    EXPECT_EQ(Out.Names.size(), 4u); // an empty pattern filters nothing
}

TEST_F(DirectoryListTest, EnumerationAndEntryFacts) {
    ASSERT_EQ(mkdir((Temp / "dir").c_str(), 0755), 0);
    Touch(Temp / "dir/.hidden", 700);
    Touch(Temp / "dir/one.txt", 5);
    ASSERT_EQ(symlink("one.txt", (Temp / "dir/link").c_str()), 0);

    DirectoryList *List = nullptr;
    ASSERT_EQ(DirectoryList_Create(&List), 1);
    // "a/dir" without a trailing separator lists a; "a/dir/" lists a/dir.
    std::vector<std::string> Names;
    for (int32 More = DirectoryList_Start(List, 0, (Temp / "dir").c_str()); More; More = DirectoryList_GetNext(List)) {
        char Name[MAX_PATH_SIZE];
        DirectoryList_GetName(List, Name, sizeof(Name));
        Names.push_back(Name);
    }
    std::sort(Names.begin(), Names.end());
    EXPECT_EQ(Names, (std::vector<std::string>{".", "..", "dir"}));

    Names.clear();
    int32 Dots = 0;
    for (int32 More = DirectoryList_Start(List, 0, (Temp / "dir/").c_str()); More; More = DirectoryList_GetNext(List)) {
        char Name[MAX_PATH_SIZE];
        DirectoryList_GetName(List, Name, sizeof(Name));
        std::string Text = Name;
        Dots += DirectoryList_IsDots(List);
        uint64 Size = 0, Allocated = 0;
        DirectoryList_GetSize(List, &Size);
        DirectoryList_GetAllocatedSize(List, &Allocated);
        struct stat Status;
        ASSERT_EQ(lstat((Temp / "dir/" + Text).c_str(), &Status), 0);
        EXPECT_EQ(Size, (uint64)Status.st_size) << Text;
        EXPECT_EQ(Allocated, (uint64)Status.st_blocks * 512) << Text;
        EXPECT_EQ(DirectoryList_IsHidden(List), Text[0] == '.' ? 1 : 0) << Text;
        EXPECT_EQ(DirectoryList_IsSymLink(List), Text == "link" ? 1 : 0) << Text;
        EXPECT_EQ(DirectoryList_IsDirectory(List), Text == "." || Text == ".." ? 1 : 0) << Text;
        EXPECT_EQ(DirectoryList_IsSystem(List), 0);
        float64 Modified = 0;
        EXPECT_EQ(DirectoryList_GetModifiedTime(List, &Modified), 1);
        EXPECT_EQ((int64)Modified, (int64)Status.st_mtim.tv_sec) << Text;
        Names.push_back(Text);
    }
    EXPECT_EQ(Dots, 2);
    EXPECT_EQ(Names.size(), 5u);
    char Directory[DIRECTORYLIST_DIRECTORY_SIZE];
    DirectoryList_GetDirectory(List, Directory, sizeof(Directory));
    EXPECT_EQ(std::string(Directory), Temp / "dir/");
    DirectoryList_Stop(List);
    DirectoryList_Stop(List); // again: nothing to do
    DirectoryList_GetDirectory(List, Directory, sizeof(Directory));
    EXPECT_STREQ(Directory, "");

    // A file pattern as the last component; a missing directory answers 0.
    EXPECT_EQ(DirectoryList_Start(List, 1, (Temp / "dir/*.TXT").c_str()), 1);
    char Name[MAX_PATH_SIZE];
    DirectoryList_GetName(List, Name, sizeof(Name));
    EXPECT_STREQ(Name, "one.txt");
    EXPECT_EQ(DirectoryList_GetNext(List), 0);
    EXPECT_EQ(DirectoryList_Start(List, 0, (Temp / "missing/").c_str()), 0);
    EXPECT_EQ(DirectoryList_GetNext(List), 0);
    EXPECT_EQ(DirectoryList_Release(&List), 0);
    EXPECT_EQ(List, nullptr);
}

namespace {

struct FakeFind {
    std::vector<std::string> Names;
    size_t Next = 0;
    std::string Pattern;
    int32 Closed = 0;
};

int32 FakeFirst(void *User, const char *Pattern, PlatformFindEntry *Entry, void **Handle) {
    auto *Fake = static_cast<FakeFind *>(User);
    Fake->Pattern = Pattern;
    Fake->Next = 0;
    *Handle = Fake;
    if (Fake->Names.empty()) return 0;
    snprintf(Entry->Name, sizeof(Entry->Name), "%s", Fake->Names[Fake->Next++].c_str());
    return 1;
}

int32 FakeNext(void *, void *Handle, PlatformFindEntry *Entry) {
    auto *Fake = static_cast<FakeFind *>(Handle);
    if (Fake->Next >= Fake->Names.size()) return 0;
    snprintf(Entry->Name, sizeof(Entry->Name), "%s", Fake->Names[Fake->Next++].c_str());
    return 1;
}

int32 FakeClose(void *User, void **Handle) {
    if (*Handle != nullptr) static_cast<FakeFind *>(User)->Closed++;
    *Handle = nullptr;
    return 1;
}

} // namespace

TEST_F(DirectoryListTest, ReplaceableFindCallbacks) {
    FakeFind Fake;
    Fake.Names = {"p", "q"};
    DirectoryList List;
    DirectoryList_Stack(&List);
    DirectoryList_SetFindFirstFileCallback(&List, &Fake, FakeFirst);
    DirectoryList_SetFindNextFileCallback(&List, &Fake, FakeNext);
    DirectoryList_SetFindCloseCallback(&List, &Fake, FakeClose);
    ScopedEnv Home("HOME", "/home/lister");
    ASSERT_EQ(DirectoryList_Start(&List, 0, "~/x/"), 1);
    EXPECT_EQ(Fake.Pattern, "/home/lister/x/*");
    EXPECT_EQ(DirectoryList_GetNext(&List), 1);
    EXPECT_STREQ(List.Entry.Name, "q");
    EXPECT_EQ(DirectoryList_GetNext(&List), 0);
    DirectoryList_Unstack(&List);
    EXPECT_EQ(Fake.Closed, 1);
    EXPECT_EQ(DirectoryList_Start(&List, 3, "/a/b*.c"), 1);
    EXPECT_EQ(Fake.Pattern, "/a/b*.c");
    DirectoryList_Stop(&List);
}

TEST_F(DirectoryListTest, EntriesThatCannotBeNamedFailTheWalk) {
    Touch(Temp / "fine");
    // Every path operation reads a backslash as a separator: "..\\x" would
    // name a file outside the tree.
    Touch(Temp / "..\\escape");
    int32 Result = -1;
    Seen Out = Walk(Temp.Path, 1, 0xF, -1, nullptr, &Result);
    EXPECT_EQ(Result, 0);
    EXPECT_EQ(Out.Names, (std::vector<std::string>{"fine"}));

    // A path longer than the walk's path buffer is not cut.
    TempDirectory Deep;
    std::string Path = Deep.Path;
    while (Path.size() < 280) {
        Path += "/" + std::string(40, 'd');
        ASSERT_EQ(mkdir(Path.c_str(), 0755), 0);
    }
    Touch(Path + "/" + std::string(60, 'f'));
    Out = Walk(Deep.Path, 1, 0xF, -1, nullptr, &Result);
    EXPECT_EQ(Result, 0);
    for (const std::string &Line : Out.Lines) EXPECT_EQ(Line.find(std::string(60, 'f')), std::string::npos);

    // A root that cannot be listed is an empty level.
    Out = Walk(Temp / "missing", 1, 0xF, -1, nullptr, &Result);
    EXPECT_EQ(Result, 1);
    EXPECT_TRUE(Out.Lines.empty());
}

TEST_F(DirectoryListTest, VerboseLinesOnlyWhenAsked) {
    Debug_PrintCallback(CaptureLogMirrored);
    ASSERT_EQ(mkdir((Temp / "s").c_str(), 0755), 0);
    Touch(Temp / "s/f");
    DirectoryList List;
    DirectoryList_Stack(&List);
    Captured.clear();
    EXPECT_EQ(DirectoryList_Walk(&List, Temp.Path.c_str(), nullptr), 1);
    EXPECT_EQ(Captured, "");
    DirectoryList_SetVerbose(&List, 1);
    EXPECT_EQ(DirectoryList_Walk(&List, Temp.Path.c_str(), nullptr), 1);
    EXPECT_NE(Captured.find("Root - " + Temp.Path + "/"), std::string::npos) << Captured;
    EXPECT_NE(Captured.find("Directory - " + Temp.Path + "/s/"), std::string::npos) << Captured;
    EXPECT_NE(Captured.find("File - " + Temp.Path + "/s/f"), std::string::npos) << Captured;
}

TEST(DirectoryListDeathTest, NullOrForeignHandlesStop) {
    EXPECT_DEATH(DirectoryList_Start(nullptr, 0, "/"), "Pointer is NULL");
    uint32 NotAList[700] = {};
    EXPECT_DEATH(DirectoryList_GetNext(reinterpret_cast<DirectoryList *>(NotAList)), "Class mismatch");
}
