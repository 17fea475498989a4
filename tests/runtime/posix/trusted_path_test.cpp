// The trusted-path walk: a row for every refusal the gate lists, and paths
// it opens.
#include "runtime/posix/trusted_path.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <string>

#include "tests/support/requirement.h"
#include "tests/support/system.h"

TEST(TrustedPath, EveryRefusalHasItsCase) {
    TempDirectory Base;
    const bool Root = RunAsRoot();
    auto Give = [&](const char *Name, mode_t Mode, uid_t Owner) {
        EXPECT_EQ(chmod((Base / Name).c_str(), Mode), 0) << Name;
        EXPECT_EQ(Owner == geteuid() || chown((Base / Name).c_str(), Owner, Owner) == 0, true) << Name;
    };
    auto Folder = [&](const char *Name, mode_t Mode, uid_t Owner = geteuid()) {
        mkdir((Base / Name).c_str(), 0700);
        Give(Name, Mode, Owner);
    };
    auto File = [&](const char *Name, mode_t Mode, uid_t Owner = geteuid()) {
        std::ofstream(Base / Name) << "x";
        Give(Name, Mode, Owner);
    };
    Folder("own", 0755);
    Folder("open", 0777);
    Folder("private", 0750);
    File("own/file", 0644);
    File("own/writable", 0666);
    ASSERT_EQ(symlink("loop", (Base / "loop").c_str()), 0);
    ASSERT_EQ(symlink((Base / "own").c_str(), (Base / "linked").c_str()), 0);
    if (Root) {
        Folder("theirs", 0755, 65534);
        File("own/theirs", 0644, 65534);
    }
    struct Row {
        std::string Path;
        uint32 Flags;
        bool NeedsRoot;
    };
    // Reason: the path that must be refused for it.
    const std::map<int32, Row> Rows = {
        {TRUSTEDPATH_ERROR, {"own/missing", TRUSTEDPATH_FILE, false}},
        {TRUSTEDPATH_DOTS, {"own/../own/file", TRUSTEDPATH_FILE, false}},
        {TRUSTEDPATH_ABOVE_KIND, {"own/file/x", TRUSTEDPATH_FILE, false}},
        {TRUSTEDPATH_ABOVE_OTHER, {"theirs/x", TRUSTEDPATH_FILE, true}},
        {TRUSTEDPATH_ABOVE_WRITABLE, {"open/x", TRUSTEDPATH_FILE, false}},
        {TRUSTEDPATH_ABOVE_LINK, {"loop/x", TRUSTEDPATH_FILE, false}},
        {TRUSTEDPATH_LINK, {"linked", TRUSTEDPATH_FOLDER, false}},
        {TRUSTEDPATH_KIND, {"own", TRUSTEDPATH_FILE, false}},
        {TRUSTEDPATH_OTHER, {"own/theirs", TRUSTEDPATH_FILE, true}},
        {TRUSTEDPATH_WRITABLE, {"own/writable", TRUSTEDPATH_FILE, false}},
        {TRUSTEDPATH_RIGHTS, {"private", TRUSTEDPATH_FOLDER | TRUSTEDPATH_OWN | TRUSTEDPATH_PRIVATE, false}},
        {TRUSTEDPATH_ABOVE_MISSING, {"gone/x", TRUSTEDPATH_FILE, false}},
    };
    for (int32 Reason = 1; Reason <= TRUSTEDPATH_ABOVE_MISSING; Reason++) {
        ASSERT_EQ(Rows.count(Reason), 1u) << "no case for reason " << Reason;
        const Row &Each = Rows.at(Reason);
        if (Each.NeedsRoot && !Root) continue; // another owner needs root
        TrustedPathRefusal Refusal;
        int32 Descriptor = 0;
        EXPECT_EQ(TrustedPath_Open((Base / Each.Path).c_str(), Each.Flags, &Descriptor, &Refusal), 0) << Each.Path;
        EXPECT_EQ(Descriptor, -1) << Each.Path;
        EXPECT_EQ(Refusal.Reason, Reason) << Each.Path;
        char Text[TRUSTEDPATH_WHERE_SIZE + 80] = "";
        TrustedPath_Explain(&Refusal, Each.Flags, Text, (int32)sizeof(Text));
        EXPECT_NE(Text[0], 0) << Each.Path;
    }
    // Opened: the very file, through a link of the user's own on the way.
    for (const char *Path : {"own/file", "linked/file"}) {
        int32 Descriptor = -1;
        struct stat Opened {}, Named {};
        ASSERT_EQ(TrustedPath_Open((Base / Path).c_str(), TRUSTEDPATH_FILE, &Descriptor, nullptr), 1) << Path;
        EXPECT_EQ(fstat(Descriptor, &Opened), 0);
        EXPECT_EQ(stat((Base / "own/file").c_str(), &Named), 0);
        EXPECT_EQ(Opened.st_ino, Named.st_ino) << Path;
        close(Descriptor);
    }
}
