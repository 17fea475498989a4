// Credentials in the owner-only file: item identities, terminated passwords,
// refused types, the file checked as another user under setpriv, paths that
// hold no regular file, and temporary files of killed writers.
#include <gtest/gtest.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include <string>

#include "platform/posix/platform_credential.h"
#include "platform/posix/preference_store.h"
#include "tests/support/python.h"
#include "tests/support/requirement.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

class CredentialTest : public RuntimeTest {
  protected:
    // Others may walk down to the store, so only its own modes keep them out.
    SharedDirectory Temp;
    ScopedEnv Data{"XDG_DATA_HOME", (Temp / "data").c_str()};
    std::string File() { return PreferenceStore_CredentialPath(); }
    std::string Folder() { return File().substr(0, File().rfind('/')); }
    std::string Items() {
        return RunPython("import plistlib,sys\nd=plistlib.load(open(sys.stdin.read(),'rb'))\n"
                         "print(sorted((i['protocol'],i['server'],i['port'],i['securityDomain'],i['account'],i['secret'])"
                         " for i in d.get('internet',[])))",
                         File());
    }
};

// 0 when the user nobody can read the path.
int ReadAsNobody(const std::string &Path) {
    std::string Command = Nobody + " cat '" + Path + "' >/dev/null 2>&1";
    return system(Command.c_str());
}

} // namespace

TEST_F(CredentialTest, GenericItemsByService) {
    char User[64], Password[64];
    EXPECT_FALSE(Platform_GetCredential("svc", User, sizeof(User), Password, sizeof(Password)));
    EXPECT_FALSE(Platform_SetCredential("svc", nullptr, nullptr)) << "nothing to delete";
    EXPECT_TRUE(Platform_SetCredential("svc", "ada", "s3cret"));
    EXPECT_TRUE(Platform_SetCredential("other", "bob", "pw"));
    EXPECT_TRUE(Platform_SetCredential("svc", "ada2", "n3w"));
    EXPECT_TRUE(Platform_GetCredential("svc", User, sizeof(User), Password, sizeof(Password)));
    EXPECT_STREQ(User, "ada2");
    EXPECT_STREQ(Password, "n3w");
    EXPECT_FALSE(Platform_GetCredential("svc", User, 0, Password, sizeof(Password)));
    EXPECT_FALSE(Platform_GetCredential("svc", User, sizeof(User), Password, 0));
    EXPECT_TRUE(Platform_GetCredential("svc", User, 3, Password, 3));
    EXPECT_STREQ(User, "ad");
    EXPECT_STREQ(Password, "n3");
    EXPECT_TRUE(Platform_SetCredential("svc", nullptr, nullptr));
    EXPECT_FALSE(Platform_GetCredential("svc", User, sizeof(User), Password, sizeof(Password)));
    EXPECT_TRUE(Platform_GetCredential("other", User, sizeof(User), Password, sizeof(Password)));
    EXPECT_EQ(RunPython("import plistlib,sys\nd=plistlib.load(open(sys.stdin.read(),'rb'))\n"
                        "print([(i['service'],i['account'],i['secret']) for i in d['generic']])",
                        File()),
              "[('other', 'bob', b'pw')]\n");
    EXPECT_DEATH(Platform_SetCredential("svc", "only-user", nullptr), "Pointer is NULL");
}

TEST_F(CredentialTest, PasswordsAreAlwaysTerminated) {
    std::string Long(8192, 'p');
    ASSERT_TRUE(Platform_SetCredential("svc", "u", Long.c_str()));
    ASSERT_TRUE(Platform_SetWebCredential(2, "host", nullptr, "u", Long.c_str()));
    std::string Buffer(8192, 'x');
    char User[8];
    ASSERT_TRUE(Platform_GetCredential("svc", User, sizeof(User), Buffer.data(), 8192));
    EXPECT_EQ(strlen(Buffer.c_str()), 8191u);
    Buffer.assign(8192, 'x');
    ASSERT_TRUE(Platform_GetWebCredential(2, "host", nullptr, User, sizeof(User), Buffer.data(), 8192));
    EXPECT_EQ(strlen(Buffer.c_str()), 8191u);
}

TEST_F(CredentialTest, WebItemsByProtocolHostPortAndDomain) {
    char User[64], Password[64];
    EXPECT_TRUE(Platform_SetWebCredential(0, "example.com", nullptr, "ada", "pw1"));
    EXPECT_EQ(Items(), "[('htps', 'example.com', 80, '', 'ada', b'pw1'), ('http', 'example.com', 80, '', 'ada', b'pw1')]\n");
    // Setting again leaves one item per identity.
    EXPECT_TRUE(Platform_SetWebCredential(2, "EXAMPLE.com:80", nullptr, "bob", "pw2"));
    EXPECT_TRUE(Platform_SetWebCredential(5, "proxy:3128", "realm", "carl", "pw3"));
    EXPECT_TRUE(Platform_SetWebCredential(5, "proxy:3128", "realm", "carl", "pw4"));
    EXPECT_EQ(Items(), "[('htps', 'example.com', 80, '', 'ada', b'pw1'), ('htsx', 'proxy', 3128, 'realm', 'carl', "
                       "b'pw4'), ('http', 'EXAMPLE.com', 80, '', 'bob', b'pw2')]\n");
    EXPECT_TRUE(Platform_GetWebCredential(0, "example.com", nullptr, User, sizeof(User), Password, sizeof(Password)));
    EXPECT_STREQ(User, "bob");
    EXPECT_TRUE(Platform_GetWebCredential(3, "example.com:80", nullptr, User, sizeof(User), Password, sizeof(Password)));
    EXPECT_STREQ(User, "ada");
    // Type 1 looks for the HTTP proxy only; the HTTPS proxy item needs type 5.
    EXPECT_FALSE(Platform_GetWebCredential(1, "proxy:3128", nullptr, User, sizeof(User), Password, sizeof(Password)));
    EXPECT_TRUE(Platform_GetWebCredential(5, "proxy:3128", nullptr, User, sizeof(User), Password, sizeof(Password)));
    EXPECT_STREQ(Password, "pw4");
    EXPECT_FALSE(Platform_GetWebCredential(5, "proxy:3128", "other", User, sizeof(User), Password, sizeof(Password)));
    EXPECT_FALSE(Platform_GetWebCredential(5, "proxy", nullptr, User, sizeof(User), Password, sizeof(Password)));
    // Page input outside the types, bad ports and long servers answer 0; the process lives on.
    for (int32 Type : {-1, 6, 7, 1000}) {
        EXPECT_FALSE(Platform_SetWebCredential(Type, "example.com", nullptr, "u", "p")) << Type;
        EXPECT_FALSE(Platform_GetWebCredential(Type, "example.com", nullptr, User, sizeof(User), Password,
                                               sizeof(Password)))
            << Type;
    }
    for (const char *Server : {"host:", "host:99999", "host:x", ":80", ""})
        EXPECT_FALSE(Platform_SetWebCredential(2, Server, nullptr, "u", "p")) << Server;
    EXPECT_FALSE(Platform_SetWebCredential(2, std::string(121, 'h').c_str(), nullptr, "u", "p"));
    // Without user or password the first matching item goes.
    EXPECT_TRUE(Platform_SetWebCredential(0, "example.com", nullptr, nullptr, nullptr));
    EXPECT_FALSE(Platform_SetWebCredential(3, "example.com", nullptr, nullptr, nullptr));
    EXPECT_EQ(Items(), "[('htsx', 'proxy', 3128, 'realm', 'carl', b'pw4')]\n");
}

TEST_F(CredentialTest, OtherUsersCannotReadTheFile) {
    SKIP_UNLESS_RUN(RunAsRoot(), "dropping privileges needs root");
    // A folder and a file left with loose modes are tightened.
    ASSERT_EQ(system(("mkdir -p '" + Folder() + "' && chmod 0777 '" + Folder() + "'").c_str()), 0);
    ASSERT_EQ(system(("printf '<plist><dict/></plist>' > '" + File() + "' && chmod 0644 '" + File() + "'").c_str()), 0);
    EXPECT_EQ(ReadAsNobody(File()), 0) << "the loose file is readable before";
    ASSERT_TRUE(Platform_SetCredential("svc", "ada", "s3cret"));
    struct stat Status;
    ASSERT_EQ(stat(File().c_str(), &Status), 0);
    EXPECT_EQ(Status.st_mode & 0777, 0600u);
    ASSERT_EQ(stat(Folder().c_str(), &Status), 0);
    EXPECT_EQ(Status.st_mode & 0777, 0700u);
    EXPECT_NE(ReadAsNobody(File()), 0);
    // Even with the folder opened up again, the file itself stays private.
    chmod(Folder().c_str(), 0755);
    EXPECT_NE(ReadAsNobody(File()), 0);
    // A file made readable by others is tightened when it is read.
    chmod(File().c_str(), 0644);
    char User[16], Password[16];
    ASSERT_TRUE(Platform_GetCredential("svc", User, sizeof(User), Password, sizeof(Password)));
    EXPECT_NE(ReadAsNobody(File()), 0);
    // A folder owned by someone else is not used.
    std::string Foreign = Temp / "foreign";
    ScopedEnv Other("XDG_DATA_HOME", Foreign.c_str());
    ASSERT_EQ(system(("mkdir -p '" + Folder() + "' && chown 65534 '" + Folder() + "'").c_str()), 0);
    EXPECT_FALSE(Platform_SetCredential("svc", "ada", "s3cret"));
}

// A FIFO, a link or a folder at the store's path (or a FIFO at its lock) is
// an error at once: nothing blocks, nothing behind a link is read, merged or
// has its mode changed. An alarm bounds a read that would block.
TEST_F(CredentialTest, PathsThatHoldNoRegularFileAreRefused) {
    const std::string Outside = Temp / "outside.plist";
    const std::string Keys = "<plist><dict><key>generic</key><array><dict><key>service</key><string>svc</string>"
                             "<key>account</key><string>eve</string><key>secret</key><data>cHc=</data></dict>"
                             "</array></dict></plist>";
    const struct {
        const char *Name, *Make;
    } Cases[] = {
        {"fifo", "mkfifo \"$F\""},
        {"link", "ln -s \"$O\" \"$F\""},
        {"folder", "mkdir \"$F\""},
        {"fifo lock", "mkfifo \"$F.lock\""},
    };
    for (const auto &Each : Cases) {
        SCOPED_TRACE(Each.Name);
        ASSERT_EQ(system(("rm -rf '" + Folder() + "' && mkdir -p -m 0700 '" + Folder() + "'").c_str()), 0);
        std::ofstream(Outside) << Keys;
        chmod(Outside.c_str(), 0644);
        const std::string Make = std::string("F='") + File() + "' O='" + Outside + "'; " + Each.Make;
        ASSERT_EQ(system(Make.c_str()), 0);
        alarm(20);
        char User[16] = "", Password[16] = "";
        const bool Lock = strstr(Each.Name, "lock") != nullptr;
        if (!Lock) {
            EXPECT_FALSE(Platform_GetCredential("svc", User, sizeof(User), Password, sizeof(Password)));
        }
        EXPECT_FALSE(Platform_SetCredential("svc", "ada", "s3cret"));
        EXPECT_FALSE(Platform_SetWebCredential(2, "example.test", nullptr, "ada", "s3cret"));
        alarm(0);
        struct stat Status;
        ASSERT_EQ(stat(Outside.c_str(), &Status), 0);
        EXPECT_EQ(Status.st_mode & 0777, 0644u);
        std::stringstream Text;
        Text << std::ifstream(Outside).rdbuf();
        EXPECT_EQ(Text.str(), Keys);
        EXPECT_NE(access((File() + ".unreadable").c_str(), F_OK), 0) << "nothing is moved aside";
    }
}

// The next writer removes the temporary files that killed writers of its
// own store left (each would hold every secret), and nothing else: a file
// of the user's named like the store plus six letters is theirs.
TEST_F(CredentialTest, StaleTemporaryFilesAreRemoved) {
    ASSERT_TRUE(Platform_SetCredential("svc", "ada", "s3cret"));
    const std::string Outside = Temp / "outside";
    std::ofstream(Outside) << "x";
    const std::string Hidden = Folder() + "/.credentials.plist.tmp-";
    const struct {
        std::string Name;
        bool Removed;
    } Cases[] = {
        {Hidden + "Ab12Cd", true},      {Hidden + "zzzzzz", true},          {File() + ".unreadable", false},
        {File() + ".Ab12Cd", false},    {File() + ".backup", false},        {Hidden + "abc", false},
        {Hidden + "Ab12Cd7", false},    {Hidden + "Ab-2Cd", false},         {Folder() + "/.other.plist.tmp-Ab12Cd", false},
        {Hidden + "LnkLnk", false},
    };
    for (const auto &Each : Cases) {
        if (Each.Name.find("LnkLnk") == std::string::npos) {
            std::ofstream(Each.Name) << "<plist><dict/></plist>";
        } else {
            EXPECT_EQ(symlink(Outside.c_str(), Each.Name.c_str()), 0);
        }
    }
    ASSERT_TRUE(Platform_SetCredential("other", "bob", "pw"));
    for (const auto &Each : Cases) {
        struct stat Status;
        EXPECT_EQ(lstat(Each.Name.c_str(), &Status) != 0, Each.Removed) << Each.Name;
    }
    EXPECT_EQ(access(Outside.c_str(), F_OK), 0);
}
