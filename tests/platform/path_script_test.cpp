// "TQX.FileSystem" end to end: created through the core family, called with
// JSON through the script bridge, its selectors checked against zlib.crc32,
// missing and mistyped parameters answered through the error path, and the
// asynchronous directory size delivered to the page as a batch item.
#include "platform/path_script.h"

#include <algorithm>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/path_size.h"
#include "runtime/containers/dictionary.h"
#include "runtime/event_queue.h"
#include "runtime/files/path.h"
#include "runtime/notification/notification_center.h"
#include "runtime/script/core_script.h"
#include "runtime/script/interop.h"
#include "runtime/text/crc.h"
#include "runtime/thread.h"
#include "tests/support/bridge.h"
#include "tests/support/log_capture.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"
#include "tests/support/script_page.h"
#include "tests/support/system.h"

namespace {

std::vector<std::string> Batches;

int32 PageExecute(void *, const char *, const char *Batch, void *) {
    Batches.emplace_back(Batch);
    return TRUE;
}

int Window = 0;

void Write(const std::string &Path, size_t Bytes) {
    int Descriptor = open(Path.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(Descriptor, 0);
    std::string Data(Bytes, 'z');
    ASSERT_EQ(write(Descriptor, Data.data(), Data.size()), (ssize_t)Data.size());
    close(Descriptor);
}

class PathScriptTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        Debug_PrintCallback(CaptureLogMirrored);
        Captured.clear();
        Batches.clear();
        StartBridge();
        Interop_Add("host", CoreInterop_Init, CoreInterop_Remove, CoreInterop_CreateInstance, CoreInterop_SetOverride,
                    CoreInterop_SetOption);
        char Id[INTEROP_ID_SIZE] = "";
        ASSERT_TRUE(Interop_DispatchCreateInstance("TQX.FileSystem", Id, (int32)sizeof(Id), &Window, &Window,
                                                   PageExecute));
        FileSystem = Id;
    }
    void TearDown() override {
        Path_Remove();
        Interop_RemoveInstancesActiveInRequester(nullptr);
        EndBridge();
        RuntimeTest::TearDown();
    }
    std::string Call(const std::string &Json) { return InvokeJson(FileSystem, Json); }
    std::string FileSystem;
    TempDirectory Temp;
};

// The selectors the class answers to, as published for page authors.
constexpr ScriptSelector Selectors[] = {
    {"pathResolve", 0x31f5c758},        {"pathConvertToUrl", 0x498eae40},
    {"pathConvertFromUrl", 0x5e9b09cf}, {"pathParseDirectory", 0x92414f8e},
    {"pathParseName", 0x9c69d6b3},      {"pathParseNameWithoutExtension", 0x51af0934},
    {"pathParseExtension", 0x4b8e3623}, {"pathFixSlash", 0xc05cda25},
    {"pathCompare", 0xead94b39},        {"fileExists", 0x95883f2d},
    {"fileGetSize", 0x7f39d91b},        {"fileErase", 0x33014eb3},
    {"fileCopy", 0x8fa083df},           {"directoryExists", 0x7179db47},
    {"directoryIsEmpty", 0x42cacdf8},   {"directoryCreate", 0x4c305d0c},
    {"directoryErase", 0xcc2a2f3f},     {"directoryGetSize", 0xd2baa0b9},
    {"getFreeDiskSpace", 0xb4d59855},   {"getCreationTime", 0xe6cc6031},
    {"getModifiedTime", 0xeb30fe54},    {"setGroup", 0x64e3f953},
};

} // namespace

TEST_F(PathScriptTest, SelectorsAreTheCrc32OfTheNames) { ExpectSelectors(Selectors); }

TEST_F(PathScriptTest, PathTexts) {
    ScopedEnv Home("HOME", "/home/page");
    struct Case {
        const char *Request, *Answer;
    };
    const Case Cases[] = {
        {R"({"method":"pathResolve","path":"~/a/../b/"})", R"({"returnValue":"/home/page/b/"})"},
        {R"({"method":"pathConvertToUrl","path":"/a b/c"})", R"({"returnValue":"file:///a b/c"})"},
        {R"({"method":"pathConvertFromUrl","url":"file://localhost/x"})", R"({"returnValue":"/x"})"},
        {R"({"method":"pathConvertFromUrl","url":"http://x/"})", R"({"returnValue":""})"},
        {R"({"method":"pathParseDirectory","path":"a/b/c.txt"})", R"({"returnValue":"a/b/"})"},
        {R"({"method":"pathParseName","path":"a/b/c.txt"})", R"({"returnValue":"c.txt"})"},
        {R"({"method":"pathParseNameWithoutExtension","path":"a/b/c.txt"})", R"({"returnValue":"c"})"},
        {R"({"method":"pathParseExtension","path":"a/b.txt","includeDot":false})", R"({"returnValue":"txt"})"},
        {R"({"method":"pathParseExtension","path":"a/b.txt","includeDot":true})", R"({"returnValue":".txt"})"},
        {R"({"method":"pathFixSlash","path":"a\\.\\b","trailingSlash":true})", R"({"returnValue":"a/b/"})"},
        {R"({"method":"pathFixSlash","path":"a/b//","trailingSlash":false})", R"({"returnValue":"a/b"})"},
        {R"({"method":"pathCompare","path":"A/b","comparePath":"a\\B","ignoreCase":true})", R"({"returnValue":true})"},
        {R"({"method":"pathCompare","path":"A/b","comparePath":"a\\B","ignoreCase":false})",
         R"({"returnValue":false})"},
    };
    for (const Case &Row : Cases) EXPECT_EQ(Call(Row.Request), Row.Answer) << Row.Request;
}

TEST_F(PathScriptTest, FilesAndDirectories) {
    std::string File = Temp / "f.bin", Copy = Temp / "sub/deeper/copy.bin", Directory = Temp / "new/dir";
    Write(File, 1234);
    auto Q = [](const std::string &Text) { return JsonQuote(Text); };
    EXPECT_EQ(Call(R"({"method":"fileExists","path":)" + Q(File) + "}"), R"({"returnValue":true})");
    EXPECT_EQ(Call(R"({"method":"fileExists","path":)" + Q(Temp.Path) + "}"), R"({"returnValue":true})");
    EXPECT_EQ(Call(R"({"method":"fileGetSize","path":)" + Q(File) + "}"), R"({"returnValue":1234})");
    EXPECT_EQ(Call(R"({"method":"fileCopy","sourceFilename":)" + Q(File) + R"(,"targetFilename":)" + Q(Copy) +
                   R"(,"failIfExists":true})"),
              R"({"returnValue":true})");
    EXPECT_EQ(Call(R"({"method":"fileCopy","sourceFilename":)" + Q(File) + R"(,"targetFilename":)" + Q(Copy) +
                   R"(,"failIfExists":true})"),
              R"({"returnValue":false})");
    EXPECT_EQ(Call(R"({"method":"fileErase","path":)" + Q(Copy) + "}"), R"({"returnValue":0})");
    EXPECT_EQ(Call(R"({"method":"fileErase","path":)" + Q(Copy) + "}"), R"({"returnValue":0})"); // missing: success
    EXPECT_EQ(Call(R"({"method":"directoryExists","path":)" + Q(Directory) + "}"), R"({"returnValue":false})");
    EXPECT_EQ(Call(R"({"method":"directoryCreate","path":)" + Q(Directory) + "}"), R"({"returnValue":0})");
    EXPECT_EQ(Call(R"({"method":"directoryExists","path":)" + Q(Directory) + "}"), R"({"returnValue":true})");
    EXPECT_EQ(Call(R"({"method":"directoryIsEmpty","path":)" + Q(Directory) + "}"), R"({"returnValue":true})");
    EXPECT_EQ(Call(R"({"method":"directoryIsEmpty","path":)" + Q(Temp.Path) + "}"), R"({"returnValue":false})");
    EXPECT_EQ(Call(R"({"method":"directoryCreate","path":)" + Q(File) + "}"),
              "{\"returnValue\":" + std::to_string(100000 + EEXIST) + "}");
    // Erasing a link to a directory removes the link only.
    ASSERT_EQ(symlink((Temp / "new").c_str(), (Temp / "link").c_str()), 0);
    Write(Directory + "/sentinel", 3);
    EXPECT_EQ(Call(R"({"method":"directoryErase","path":)" + Q(Temp / "link/") + "}"), R"({"returnValue":0})");
    EXPECT_EQ(Call(R"({"method":"fileExists","path":)" + Q(Temp / "link") + "}"), R"({"returnValue":false})");
    EXPECT_EQ(Call(R"({"method":"fileExists","path":)" + Q(Directory + "/sentinel") + "}"), R"({"returnValue":true})");
    EXPECT_EQ(Call(R"({"method":"directoryErase","path":)" + Q(Temp / "new") + "}"), R"({"returnValue":0})");
    EXPECT_EQ(Call(R"({"method":"directoryExists","path":)" + Q(Temp / "new") + "}"), R"({"returnValue":false})");

    // Times as encoded seconds, free space as bytes (the path must end with a separator).
    struct stat Status;
    ASSERT_EQ(stat(File.c_str(), &Status), 0);
    EXPECT_EQ(Call(R"({"method":"getModifiedTime","path":)" + Q(File) + "}"),
              "{\"returnValue\":" + std::to_string(Status.st_mtim.tv_sec) + "}");
    EXPECT_EQ(Call(R"({"method":"getModifiedTime","path":)" + Q(Temp / "none") + "}"), R"({"returnValue":0})");
    EXPECT_TRUE(FreeSpaceMatchesStatvfs(Temp.Path + "/", [&] {
        std::string Space = Call(R"({"method":"getFreeDiskSpace","path":)" + Q(Temp.Path + "/") + "}");
        return (uint64_t)atoll(Space.c_str() + strlen("{\"returnValue\":"));
    }));
    EXPECT_EQ(Call(R"({"method":"getFreeDiskSpace","path":)" + Q(Temp.Path) + "}"), R"({"returnValue":0})");
    EXPECT_EQ(Call(R"({"method":"setGroup","path":)" + Q(File) + R"(,"type":"Everyone"})"), R"({"returnValue":true})");
    ASSERT_EQ(stat(File.c_str(), &Status), 0);
    EXPECT_EQ(Status.st_mode & 0777, 0777u);
    EXPECT_EQ(Call(R"({"method":"setGroup","path":)" + Q(File) + R"(,"type":"no-such-group-xyz"})"),
              R"({"returnValue":false})");
}

TEST_F(PathScriptTest, MissingAndMistypedParametersTakeTheErrorPath) {
    // Through the bridge a failed read is no answer at all...
    EXPECT_EQ(Call(R"({"method":"fileExists"})"), "");
    EXPECT_NE(Captured.find("Parameter missing (Path.fileExists::path)"), std::string::npos) << Captured;
    Captured.clear();
    EXPECT_EQ(Call(R"({"method":"fileCopy","sourceFilename":"a","targetFilename":"b","failIfExists":5})"), "");
    EXPECT_NE(Captured.find("Incorrect parameter type (Path.fileCopy::failIfExists)"), std::string::npos);
    EXPECT_EQ(Call(R"({"method":"pathFixSlash","path":7,"trailingSlash":true})"), "");
    EXPECT_EQ(Call(R"({"method":"pathCompare","path":"a","comparePath":"a","ignoreCase":1})"), "");
    EXPECT_EQ(Call(R"({"method":"noSuchMethod","path":"a"})"), "");
    EXPECT_EQ(Call(R"({"path":"a"})"), "");
    EXPECT_EQ(Call("not json"), "");

    // ...while the dispatcher itself answers 0 with the default "returnValue".
    enum Kind { AText, ANumber, AFlag };
    struct Case {
        const char *Method;
        Kind Answer;
        void (*Fill)(Dictionary *);
    };
    const Case Cases[] = {
        {"pathResolve", AText, [](Dictionary *) {}},
        {"pathParseExtension", AText, [](Dictionary *R) { Dictionary_SetStringByKey(R, "path", "a.b"); }},
        {"fileGetSize", ANumber, [](Dictionary *) {}},
        {"fileErase", ANumber, [](Dictionary *R) { Dictionary_SetBooleanByKey(R, "path", 1); }},
        {"directoryExists", AFlag, [](Dictionary *R) { Dictionary_SetFloat64ByKey(R, "path", 5); }},
        {"getCreationTime", ANumber, [](Dictionary *) {}},
        {"directoryGetSize", AFlag, [](Dictionary *R) { Dictionary_SetStringByKey(R, "path", "/"); }},
    };
    for (const Case &Row : Cases) {
        Dictionary *Request = nullptr, *Result = nullptr;
        Dictionary_Create(&Request);
        Dictionary_Create(&Result);
        Dictionary_SetStringByKey(Request, "method", Row.Method);
        Row.Fill(Request);
        EXPECT_EQ(Interop_DispatchInvoke(FileSystem.c_str(), Request, Result), 0) << Row.Method;
        char Buffer[64] = "x";
        float64 Number = -1;
        uint32 Flag = 1;
        switch (Row.Answer) {
        case AText:
            EXPECT_EQ(Dictionary_GetStringByKey(Result, "returnValue", Buffer, sizeof(Buffer)), 1) << Row.Method;
            EXPECT_STREQ(Buffer, "") << Row.Method;
            break;
        case ANumber:
            EXPECT_EQ(Dictionary_GetFloat64ByKey(Result, "returnValue", &Number), 1) << Row.Method;
            EXPECT_EQ(Number, 0.0) << Row.Method;
            break;
        case AFlag:
            EXPECT_EQ(Dictionary_GetBooleanByKey(Result, "returnValue", &Flag), 1) << Row.Method;
            EXPECT_EQ(Flag, 0u) << Row.Method;
            break;
        }
        Dictionary_Release(&Request);
        Dictionary_Release(&Result);
    }

    // Page input never stops the program: huge, empty and odd paths answer.
    std::string Huge(100000, 'h');
    EXPECT_EQ(Call(R"({"method":"fileErase","path":")" + Huge + "\"}"),
              "{\"returnValue\":" + std::to_string(100000 + ENAMETOOLONG) + "}");
    EXPECT_EQ(Call(R"({"method":"pathFixSlash","path":")" + Huge + R"(","trailingSlash":true})").size(), 8192u + 17);
    EXPECT_EQ(Call(R"({"method":"directoryErase","path":""})"), R"({"returnValue":100002})");
    EXPECT_EQ(Call(R"({"method":"fileCopy","sourceFilename":"","targetFilename":"","failIfExists":false})"),
              R"({"returnValue":false})");
}

TEST_F(PathScriptTest, DirectorySizeReachesThePage) {
    // The page receives batches once it has a notification-center instance.
    char Center[INTEROP_ID_SIZE] = "";
    ASSERT_TRUE(Interop_DispatchCreateInstance("TQX.NotificationCenter", Center, (int32)sizeof(Center), &Window,
                                               &Window, PageExecute));
    std::string Root = Temp / "tree";
    ASSERT_EQ(mkdir(Root.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((Root + "/d").c_str(), 0755), 0);
    Write(Root + "/a", 10000);
    Write(Root + "/d/b", 70000);
    ASSERT_EQ(symlink("/usr", (Root + "/link").c_str()), 0); // counted as itself, never followed

    EXPECT_EQ(Call(R"({"method":"directoryGetSize","path":)" + JsonQuote(Root) + R"(,"callbackId":"first"})"),
              R"({"returnValue":true})");
    // A second request while the first runs answers "successful" false at once.
    EXPECT_EQ(Call(R"({"method":"directoryGetSize","path":)" + JsonQuote(Root) + R"(,"callbackId":"second"})"),
              R"({"returnValue":true})");
    std::string All;
    for (int Pass = 0; Pass < 400 && (All.find("\"first\"") == std::string::npos ||
                                      All.find("\"second\"") == std::string::npos);
         Pass++) {
        EventQueue_Flush(nullptr);
        NotificationCenter_Process();
        Interop_Process();
        for (const std::string &Batch : Batches) All += Batch + "\n";
        Batches.clear();
        if (All.find("\"first\"") == std::string::npos) Thread_Wait(50);
    }
    std::string Size = RunPython(R"(
import os, sys
root = sys.stdin.read()
total = 0
for d, dirs, files in os.walk(root):
    for n in files + [x for x in dirs if os.path.islink(os.path.join(d, x))]:
        total += os.lstat(os.path.join(d, n)).st_blocks * 512
print(total, end='')
)",
                                 Root);
    EXPECT_NE(All.find(R"({"callbackId":"second","type":"FileSystem","sender":"Global","info":{"successful":false,"result":0}})"),
              std::string::npos)
        << All;
    EXPECT_NE(All.find(R"({"callbackId":"first","type":"FileSystem","sender":"Global","info":{"successful":true,"result":)" +
                       Size + "}}"),
              std::string::npos)
        << All;

    // The next request runs again; a missing root reports failure.
    Batches.clear();
    All.clear();
    EXPECT_EQ(
        Call(R"({"method":"directoryGetSize","path":)" + JsonQuote(Temp / "missing") + R"(,"callbackId":"third"})"),
        R"({"returnValue":true})");
    for (int Pass = 0; Pass < 400 && All.find("\"third\"") == std::string::npos; Pass++) {
        EventQueue_Flush(nullptr);
        NotificationCenter_Process();
        Interop_Process();
        for (const std::string &Batch : Batches) All += Batch;
        Batches.clear();
        if (All.find("\"third\"") == std::string::npos) Thread_Wait(50);
    }
    EXPECT_NE(All.find(R"("callbackId":"third","type":"FileSystem","sender":"Global","info":{"successful":false,"result":0})"),
              std::string::npos)
        << All;
}
