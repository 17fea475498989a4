// File and folder choosers on the headless model, with the start folders and
// their clean-up on a real temporary tree.
#include "platform/ui/native_chooser.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "runtime/files/path.h"
#include "tests/support/native_ui.h"
#include "tests/support/temp_root.h"

namespace {

class NativeChooserTest : public NativeUITest {
  protected:
    std::string Root;
    void SetUp() override {
        NativeUITest::SetUp();
        std::string Template = TempRoot() + "/native-chooser-XXXXXX";
        ASSERT_NE(mkdtemp(Template.data()), nullptr);
        Root = Template;
    }
    void TearDown() override {
        Path_EraseDirectory(Root.c_str(), 1, nullptr);
        NativeUITest::TearDown();
    }
    void Answer(const std::string &Chosen) {
        Model->PanelResponder = [Chosen](NativePanelRequest &Panel) {
            Panel.Chosen = Chosen;
            return Chosen.empty() ? 0 : 1;
        };
    }
    static bool IsDirectory(const std::string &Path) {
        struct stat Status;
        return stat(Path.c_str(), &Status) == 0 && S_ISDIR(Status.st_mode);
    }
};

} // namespace

TEST_F(NativeChooserTest, FileChoiceSplitsIntoFolderAndName) {
    for (auto Chooser : {NativeChooser_GetLoadFilename, NativeChooser_GetSaveFilename}) {
        Model->Panels.clear();
        char Directory[320] = "~/start";
        char Filename[64] = "pre.txt";
        Answer("/Users/a/b.txt");
        ASSERT_EQ(Chooser(nullptr, "Open &amp; Save", Directory, sizeof(Directory), Filename, sizeof(Filename)), 1);
        EXPECT_STREQ(Directory, "/Users/a/");
        EXPECT_STREQ(Filename, "b.txt");
        ASSERT_EQ(Model->Panels.size(), 1u);
        EXPECT_EQ(Model->Panels[0].Title, "Open & Save");
        EXPECT_EQ(Model->Panels[0].Filename, "pre.txt");
        EXPECT_EQ(Model->Panels[0].Directory, std::string(getenv("HOME")) + "/start");
    }
    EXPECT_EQ(Model->Panels[0].Type, NativePanelRequest::SaveFile);
}

TEST_F(NativeChooserTest, CancelledOrOversizedChoiceLeavesTheBuffers) {
    struct { const char *Chosen; int32 FilenameSize; } Rows[] = {{"", 64}, {"/a/very-long-file-name.txt", 8}};
    for (auto &Row : Rows) {
        char Directory[320] = "/keep/";
        char Filename[64] = "name";
        Answer(Row.Chosen);
        EXPECT_EQ(NativeChooser_GetLoadFilename(nullptr, "", Directory, sizeof(Directory), Filename,
                                                Row.FilenameSize),
                  0);
        EXPECT_STREQ(Directory, "/keep/");
        EXPECT_STREQ(Filename, "name");
    }
    // An empty title and folder give the panel none.
    EXPECT_EQ(Model->Panels.back().Title, "");
}

TEST_F(NativeChooserTest, PanelAttachesToTheWindowOfAView) {
    NativeWindowRecord *Window = NativeUIModel_CreateWindow(0, 0, 10, 10);
    NativeWindowRecord *View = NativeUIModel_CreateView(Window);
    char Directory[320] = "", Filename[64] = "";
    NativeChooser_GetLoadFilename(View, "t", Directory, sizeof(Directory), Filename, sizeof(Filename));
    EXPECT_EQ(Model->Panels.back().Parent, Window);
    NativeUIModel_DeleteWindow(View);
    NativeUIModel_DeleteWindow(Window);
}

TEST_F(NativeChooserTest, ExistingStartFolderIsLeftAlone) {
    char Out[320] = "";
    Answer("");
    EXPECT_EQ(NativeChooser_GetNewDirectory(nullptr, "Pick", Out, sizeof(Out), Root.c_str()), 0);
    EXPECT_TRUE(IsDirectory(Root));
    EXPECT_EQ(Model->Panels.back().Directory, Root + "/");
    EXPECT_EQ(Model->Panels.back().Type, NativePanelRequest::OpenFolder);
    Answer(Root + "/elsewhere");
    EXPECT_EQ(NativeChooser_GetNewDirectory(nullptr, "Pick", Out, sizeof(Out), Root.c_str()), 1);
    EXPECT_EQ(std::string(Out), Root + "/elsewhere/");
}

TEST_F(NativeChooserTest, MissingStartFolderIsMadeAndCleanedUp) {
    struct {
        const char *Start;   // below the root
        const char *Chosen;  // "" cancels; below the root
        const char *Removed; // gone afterwards ("" nothing)
        const char *Kept;    // still there
    } Rows[] = {
        {"x/", "", "x", ""},
        {"x", "other", "x", ""},
        {"x/", "x", "", "x"},
        {"x/", "X/sub", "", "x"}, // compared without case
        {"x/y/", "", "", "x/y"},   // made both levels: the topmost holds y, so nothing goes
        {"x/y/", "x/y/z", "", "x/y"},
    };
    for (auto &Row : Rows) {
        std::string Start = Root + "/" + Row.Start;
        Model->PanelResponder = [&](NativePanelRequest &Panel) {
            EXPECT_TRUE(IsDirectory(Panel.Directory)) << Panel.Directory;
            if (Row.Chosen[0] == 0) return 0;
            Panel.Chosen = Root + "/" + Row.Chosen;
            return 1;
        };
        char Out[320] = "";
        EXPECT_EQ(NativeChooser_GetNewDirectory(nullptr, "Pick", Out, sizeof(Out), Start.c_str()),
                  Row.Chosen[0] != 0 ? 1 : 0);
        if (Row.Removed[0] != 0) {
            EXPECT_FALSE(IsDirectory(Root + "/" + Row.Removed)) << Row.Start << Row.Chosen;
        }
        if (Row.Kept[0] != 0) {
            EXPECT_TRUE(IsDirectory(Root + "/" + Row.Kept)) << Row.Start << Row.Chosen;
        }
        Path_EraseDirectory((Root + "/x").c_str(), 1, nullptr);
    }
}

TEST_F(NativeChooserTest, OnlyTheFolderItMadeAndOnlyWhileEmpty) {
    // x exists: only y is made, and only y goes.
    mkdir((Root + "/x").c_str(), 0755);
    std::string Start = Root + "/x/y/";
    Answer("");
    char Out[320] = "";
    NativeChooser_GetNewDirectory(nullptr, "", Out, sizeof(Out), Start.c_str());
    EXPECT_TRUE(IsDirectory(Root + "/x"));
    EXPECT_FALSE(IsDirectory(Root + "/x/y"));

    // Something written into the made folder while the panel ran keeps it.
    Model->PanelResponder = [&](NativePanelRequest &Panel) {
        FILE *File = fopen((Panel.Directory + "keep.txt").c_str(), "w");
        if (File != nullptr) fclose(File);
        return 0;
    };
    NativeChooser_GetNewDirectory(nullptr, "", Out, sizeof(Out), Start.c_str());
    EXPECT_TRUE(Path_Exists((Start + "keep.txt").c_str()));

    // A start folder that cannot be made is not removed either.
    FILE *File = fopen((Root + "/file").c_str(), "w");
    fclose(File);
    Answer("");
    NativeChooser_GetNewDirectory(nullptr, "", Out, sizeof(Out), (Root + "/file/sub/").c_str());
    EXPECT_TRUE(Path_Exists((Root + "/file").c_str()));
}
