// JSON documents in files: what JSON_SaveFile writes Python's json reads as
// the same tree; what Python writes JSON_LoadFile reads back; a save over a
// longer file leaves no tail; failures leave the file alone.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "runtime/time.h"
#include "tests/runtime/documents/json_test_util.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

using jsontest::Capture;
using jsontest::Doc;

std::string PythonCanonOfFile(const std::string &Path) {
    return RunPython(std::string(jsontest::PythonCanon) + "print(canon(strict(open('" + Path +
                     "',encoding='utf-8').read())))");
}

// A document larger than the 4,096-byte buffers, with nesting and escapes.
std::string LargeDocument(uint32 Seed) {
    std::mt19937 Random(Seed);
    std::string Text = "{\"items\":[";
    for (int i = 0; i < 400; i++) {
        if (i) Text += ",";
        Text += "{\"id\":" + std::to_string(Random() % 100000) + ",\"name\":\"n\\u00e9\\\"" + std::to_string(i) +
                "\",\"ok\":" + (Random() % 2 ? "true" : "false") + ",\"v\":[1.5,null,\"x\"]}";
    }
    return Text + "],\"end\":\"\\ud83d\\ude00\"}";
}

class JsonFileTest : public RuntimeTest {
  protected:
    TempDirectory Temp;
};

} // namespace

TEST_F(JsonFileTest, SavedFilesReadAsPythonReadsThem) {
    Doc D;
    ASSERT_EQ(D.Load(LargeDocument(1)), 1);
    const std::string Path = Temp / "new/dir/doc.json";
    ASSERT_EQ(JSON_SaveFile(D.Json, Path.c_str()), 1); // missing folders are made
    EXPECT_EQ(ReadFile(Path), D.Save());
    EXPECT_EQ(PythonCanonOfFile(Path), D.Canon() + "\n");
}

TEST_F(JsonFileTest, AShorterSaveLeavesNoTail) {
    const std::string Path = Temp / "doc.json";
    Doc Long, Short;
    ASSERT_EQ(Long.Load(LargeDocument(2)), 1);
    ASSERT_EQ(Short.Load("{\"a\":1}"), 1);
    ASSERT_EQ(JSON_SaveFile(Long.Json, Path.c_str()), 1);
    ASSERT_EQ(JSON_SaveFile(Short.Json, Path.c_str()), 1);
    EXPECT_EQ(ReadFile(Path), Short.Save());
    EXPECT_EQ(PythonCanonOfFile(Path), Short.Canon() + "\n");
}

TEST_F(JsonFileTest, LoadsWhatPythonWrote) {
    const std::string Path = Temp / "python.json";
    RunPython("import json\n"
              "doc={'k%d'%i:{'s':'t\\u00e9xt\\n'*i,'n':i*1.25,'l':[True,None,i]} for i in range(300)}\n"
              "doc['emoji']='\\U0001F600'\n"
              "open('" + Path + "','w',encoding='utf-8').write(json.dumps(doc,indent=2))\n");
    Doc D;
    ASSERT_EQ(JSON_LoadFile(D.Json, Path.c_str()), 1);
    EXPECT_EQ(D.Canon() + "\n", PythonCanonOfFile(Path));
}

TEST_F(JsonFileTest, FailuresLeaveFilesAlone) {
    Doc D;
    Capture Lines(D.Json);
    const std::string Missing = Temp / "missing.json";
    EXPECT_EQ(JSON_LoadFile(D.Json, Missing.c_str()), 0);
    EXPECT_TRUE(Lines.Contains("Unable to open file (" + Missing + ")")) << Lines.All();
    EXPECT_NE(access(Missing.c_str(), F_OK), 0);

    // Nothing to write: the old document stays.
    const std::string Path = Temp / "kept.json";
    std::ofstream(Path) << "{\"old\":true}";
    EXPECT_EQ(JSON_SaveFile(D.Json, Path.c_str()), 0);
    EXPECT_EQ(ReadFile(Path), "{\"old\":true}");

    // A broken document fails to load.
    std::ofstream(Temp / "broken.json") << "{\"a\":";
    EXPECT_EQ(JSON_LoadFile(D.Json, (Temp / "broken.json").c_str()), 0);
    // A directory cannot be saved to (its open attempts run on the test clock).
    ASSERT_EQ(D.Load("[1]"), 1);
    Time_TestClockStart(0);
    EXPECT_EQ(JSON_SaveFile(D.Json, Temp.Path.c_str()), 0);
    EXPECT_EQ(Time_GetCycleCount(), 19000u);
    Time_TestClockStop();
}
