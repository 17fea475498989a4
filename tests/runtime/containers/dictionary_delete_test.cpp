// Deleting a root straight (its pools dropped whole when nothing watches the
// tree) against a reset first and the delete after: every shape of tree gives
// back every byte either way, logs no leak, and a watched tree still reports
// each removal.
#include "runtime/containers/dictionary.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/debug.h"
#include "runtime/memory.h"
#include "tests/support/log_capture.h"
#include "tests/support/runtime.h"

namespace {

class DictionaryDeleteTest : public RuntimeTest {
  protected:
    DictionaryDeleteTest() { Flags = DEBUG_FLAG_MEMORYTRACKING; }
};

int32 CountRemove(Dictionary *, DictionaryItem *, void *User, const char *) {
    ++*static_cast<int32 *>(User);
    return TRUE;
}

int32 IgnoreLine(void *, const char *, ...) { return TRUE; }

const std::string LongText(300, 'x');

struct Shape {
    const char *Name;
    void (*Build)(Dictionary *Tree);
};

const Shape Shapes[] = {
    {"empty", [](Dictionary *) {}},
    {"short texts", [](Dictionary *Tree) {
         for (const char *Key : {"a", "b", "c", "d", "e"}) Dictionary_AddString(Tree, Key, "v", nullptr);
     }},
    {"long texts", [](Dictionary *Tree) {
         Dictionary_AddString(Tree, LongText.c_str(), LongText.c_str(), nullptr);
         Dictionary_AddString(Tree, "k", LongText.c_str(), nullptr);
     }},
    {"pooled texts", [](Dictionary *Tree) {
         Dictionary_SetStringPool(Tree, 1);
         Dictionary_AddString(Tree, LongText.c_str(), LongText.c_str(), nullptr);
         Dictionary_AddString(Tree, "k", "v", nullptr);
     }},
    {"children with their own records", [](Dictionary *Tree) {
         Dictionary *Child = nullptr, *Inner = nullptr;
         Dictionary_AddDictionary(Tree, "c", &Child, nullptr);
         Dictionary_AddList(Child, "l", &Inner, nullptr);
         Dictionary_AddString(Inner, nullptr, LongText.c_str(), nullptr);
         Dictionary_SetPrintCallback(Inner, nullptr, IgnoreLine);
         Dictionary_SetVerbose(Child, 0);
     }},
    // The container pool's first slab shares its record's block: one child,
    // more than the first chunk holds, a block too large to share, and a
    // pool given back by a reset and made again.
    {"children in chunks of every size", [](Dictionary *Tree) {
         for (const uint32 Chunk : {1u, 3u, 10000u}) {
             Dictionary_SetPoolChunkSize(Tree, Chunk);
             for (int32 Round = 0; Round < 2; Round++) {
                 Dictionary_Reset(Tree);
                 Dictionary *Child = nullptr;
                 for (int32 Index = 0; Index < 5; Index++) Dictionary_AddList(Tree, "c", &Child, nullptr);
                 Dictionary_AddString(Child, nullptr, "v", nullptr);
             }
         }
     }},
    {"indexed container", [](Dictionary *Tree) {
         for (int32 Index = 0; Index < 100; Index++)
             Dictionary_AddString(Tree, ("key" + std::to_string(Index)).c_str(), LongText.c_str(), nullptr);
     }},
};

TEST_F(DictionaryDeleteTest, StraightDeleteGivesBackWhatResetThenDeleteGivesBack) {
    Debug_PrintCallback(CaptureLog);
    for (const Shape &Case : Shapes) {
        int32 ReportedAfterReset = -1;
        for (bool ResetFirst : {true, false}) {
            for (bool Watched : {false, true}) {
                SCOPED_TRACE(std::string(Case.Name) + (ResetFirst ? ", reset first" : ", straight") +
                             (Watched ? ", watched" : ""));
                Captured.clear();
                int32 Before = 0, After = 0, Removed = 0;
                Memory_GetSize(&Before);
                Dictionary *Tree = nullptr;
                Dictionary_Create(&Tree);
                Case.Build(Tree);
                if (Watched) Dictionary_SetItemRemoveCallback(Tree, &Removed, CountRemove);
                if (ResetFirst) Dictionary_Reset(Tree);
                Dictionary_Release(&Tree);
                Memory_GetSize(&After);
                EXPECT_EQ(After, Before);
                EXPECT_EQ(Captured.find("Not all pool memory"), std::string::npos) << Captured;
                EXPECT_EQ(Tree, nullptr);
                // A watched tree reports every removal, at every level, either way.
                if (Watched && ResetFirst) ReportedAfterReset = Removed;
                if (Watched && !ResetFirst) {
                    EXPECT_EQ(Removed, ReportedAfterReset);
                }
            }
        }
    }
}

} // namespace
