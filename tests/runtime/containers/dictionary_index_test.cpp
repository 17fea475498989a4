// The key index of large containers: the same script of changes, merges,
// syncs and dumps gives the same reports, lookups and tree with and without
// enough items for an index; and random edits never let an indexed lookup
// answer otherwise than a walk of the sibling list.
#include <gtest/gtest.h>
#include <stdarg.h>
#include <string.h>
#include <strings.h>

#include <algorithm>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "runtime/containers/dictionary.h"
#include "runtime/text/string.h"
#include "tests/runtime/containers/dictionary_render.h"
#include "tests/support/dictionary_tracked.h"

namespace {

class DictionaryIndexTest : public DictionaryTrackedTest {};

// Fillers are named "~n": reports and dumps naming one are left out, so that
// a script's outcome can be compared between container sizes.
bool Filler(const std::string &Text) { return Text.find('~') != std::string::npos; }

struct Outcome {
    std::vector<std::string> Events; // reports, lookups, dump lines
    std::string Tree;
};

void Watch(Dictionary *Handle, std::vector<std::string> *Events) {
    Dictionary_SetItemRemoveCallback(Handle, Events, [](Dictionary *, DictionaryItem *, void *User, const char *Path) {
        static_cast<std::vector<std::string> *>(User)->push_back(std::string("remove ") + Path);
        return 1;
    });
    Dictionary_SetItemKeyChangeCallback(
        Handle, Events, [](Dictionary *, DictionaryItem *, void *User, const char *Path, const char *Old) {
            static_cast<std::vector<std::string> *>(User)->push_back(std::string("key ") + Path + " was " +
                                                                      (Old ? Old : "-"));
            return 1;
        });
    Dictionary_SetItemValueChangeCallback(
        Handle, Events, [](Dictionary *, DictionaryItem *, void *User, const char *Path, const char *, int32) {
            static_cast<std::vector<std::string> *>(User)->push_back(std::string("value ") + Path);
            return 1;
        });
}

int32 Capture(void *User, const char *Format, ...) {
    char Line[4096];
    va_list Arguments;
    va_start(Arguments, Format);
    String_VPrint(Line, (int32)sizeof(Line), Format, Arguments);
    va_end(Arguments);
    // Without the print identifier, which names the tree instance.
    std::string Text = Line;
    const size_t Dash = Text.find(" - ");
    if (Dash != std::string::npos) Text = Text.substr(Dash + 3);
    static_cast<std::vector<std::string> *>(User)->push_back("print " + Text);
    return 1;
}

void AddFillers(Dictionary *Handle, int Count) {
    for (int Index = 0; Index < Count; Index++)
        Dictionary_AddInt64(Handle, ("~" + std::to_string(Index)).c_str(), Index, nullptr);
}

Outcome RunScript(int Fillers) {
    Outcome Result;
    Dictionary *Root = nullptr, *Source = nullptr;
    Dictionary_Create(&Root);
    Dictionary_Create(&Source);
    Dictionary_SetCaseSensitive(Root, 0);
    AddFillers(Root, Fillers);
    Dictionary_AddString(Root, "Alpha", "1", nullptr);
    Dictionary_AddString(Root, "beta", "2", nullptr);
    Dictionary *Child = nullptr;
    Dictionary_AddDictionary(Root, "gamma", &Child, nullptr);
    Dictionary_AddString(Child, "x", "y", nullptr);
    Watch(Root, &Result.Events);
    auto Look = [&](const char *Key) {
        const char *Text = nullptr;
        Result.Events.push_back(std::string("get ") + Key + "=" +
                                (Dictionary_GetStringPtrByKey(Root, Key, &Text) && Text ? Text : "none"));
    };
    // Keys are matched without case until the rule changes; a private mark
    // is dropped; "[n]" forms count positions.
    Look("alpha");
    Look("BETA");
    Look("#beta");
    Dictionary_SetStringByKey(Root, "ALPHA", "one");
    Dictionary_SetStringByKey(Root, "delta", "4");
    DictionaryItem *Item = nullptr;
    Dictionary_ItemFindByKey(Root, "beta", nullptr, &Item);
    Dictionary_ItemSetKey(Root, Item, "Epsilon");
    Look("beta");
    Look("epsilon");
    Dictionary_RemoveByKey(Root, "delta");
    Look("delta");
    // Duplicates: the first in list order answers, also after it goes.
    Dictionary_SetAllowDuplicates(Root, 1);
    Dictionary_AddString(Root, "dup", "first", nullptr);
    Dictionary_AddString(Root, "DUP", "second", nullptr);
    Look("dup");
    Dictionary_RemoveByKey(Root, "dup");
    Look("dup");
    Dictionary_SetAllowDuplicates(Root, 0);
    Dictionary_SetCaseSensitive(Root, 1);
    Look("Epsilon");
    Look("epsilon");
    Dictionary_SetCaseSensitive(Root, 0);
    // Merge and sync against a source that holds the fillers too.
    AddFillers(Source, Fillers);
    Dictionary_AddString(Source, "alpha", "merged", nullptr);
    Dictionary_AddString(Source, "zeta", "6", nullptr);
    Dictionary *SourceChild = nullptr;
    Dictionary_AddDictionary(Source, "gamma", &SourceChild, nullptr);
    Dictionary_AddString(SourceChild, "x", "z", nullptr);
    Dictionary_Merge(Root, Source, DICTIONARY_MERGE_OVERWRITE);
    Dictionary_RemoveByKey(Source, "zeta");
    Dictionary_AddString(Source, "eta", "7", nullptr);
    Dictionary_Sync(Root, Source, nullptr, nullptr);
    Look("zeta");
    Look("eta");
    Dictionary_SetPrintCallback(Root, &Result.Events, Capture);
    Dictionary_Dump(Root);
    Dictionary_SetPrintCallback(Root, nullptr, nullptr);
    Result.Tree = RenderDictionary(Root);
    Result.Tree = std::regex_replace(Result.Tree, std::regex("~[0-9]+:[0-9]+,?"), "");
    Dictionary_Release(&Root);
    Dictionary_Release(&Source);
    std::erase_if(Result.Events, Filler);
    return Result;
}

} // namespace

TEST_F(DictionaryIndexTest, AScriptActsAlikeBelowAndAboveTheIndexSize) {
    const Outcome Small = RunScript(0), Large = RunScript(200);
    EXPECT_EQ(Small.Events, Large.Events);
    EXPECT_EQ(Small.Tree, Large.Tree);
    // The script itself did what it says (not only the same thing twice).
    const std::vector<std::string> Lookups = {"get alpha=1",    "get BETA=2",       "get #beta=2",
                                              "get beta=none",  "get epsilon=2",    "get delta=none",
                                              "get dup=first",  "get dup=second",   "get Epsilon=2",
                                              "get epsilon=none", "get zeta=none",  "get eta=7"};
    std::vector<std::string> Seen;
    for (const std::string &Each : Small.Events)
        if (Each.rfind("get ", 0) == 0) Seen.push_back(Each);
    EXPECT_EQ(Seen, Lookups);
    EXPECT_NE(std::find(Small.Events.begin(), Small.Events.end(), "key Epsilon was beta"), Small.Events.end());
}

// Random adds, renames, removals, duplicate and case-rule switches on one
// container: after each, every key of the pool finds by key exactly the item
// a walk of the list finds first.
TEST_F(DictionaryIndexTest, IndexedLookupsMatchAWalkOfTheList) {
    Dictionary *Root = nullptr;
    Dictionary_Create(&Root);
    std::mt19937 Random(35);
    const char *Pool[] = {"a", "A", "b", "key", "KEY", "Key2", "long-key-name", "x", "Y", "z9"};
    auto Walk = [&](const char *Key, uint32 CaseSensitive) -> DictionaryItem * {
        DictionaryItem *Item = nullptr;
        for (int32 More = Dictionary_ItemGetFirst(Root, &Item); More; More = Dictionary_ItemGetNext(Root, Item, &Item)) {
            const char *Stored = nullptr;
            if (!Dictionary_ItemGetKeyPtr(Root, Item, &Stored) || Stored == nullptr) continue;
            if (CaseSensitive ? strcmp(Stored, Key) == 0 : strcasecmp(Stored, Key) == 0) return Item;
        }
        return nullptr;
    };
    uint32 CaseSensitive = 0;
    Dictionary_SetCaseSensitive(Root, CaseSensitive);
    for (int Step = 0; Step < 4000; Step++) {
        const char *Key = Pool[Random() % 10];
        int32 Count = 0;
        Dictionary_ItemGetCount(Root, &Count);
        switch (Random() % 8) {
            case 0:
            case 1:
            case 2: Dictionary_AddString(Root, Key, "v", nullptr); break;
            case 3: {
                DictionaryItem *Item = nullptr;
                if (Count > 0 && Dictionary_ItemFindByIndex(Root, (int32)(Random() % Count), nullptr, &Item))
                    Dictionary_ItemSetKey(Root, Item, Key);
                break;
            }
            case 4: {
                DictionaryItem *Item = nullptr;
                if (Count > 0 && Dictionary_ItemFindByIndex(Root, (int32)(Random() % Count), nullptr, &Item))
                    Dictionary_Remove(Root, &Item);
                break;
            }
            case 5: Dictionary_SetAllowDuplicates(Root, Random() % 2); break;
            case 6:
                CaseSensitive = Random() % 2;
                Dictionary_SetCaseSensitive(Root, CaseSensitive);
                break;
            default:
                // Grow past the index size now and then, and shrink back.
                if (Count > 120) Dictionary_Reset(Root);
                for (int Index = 0; Index < 20; Index++)
                    Dictionary_AddString(Root, ("n" + std::to_string(Random() % 60)).c_str(), "v", nullptr);
                break;
        }
        for (const char *Each : Pool) {
            DictionaryItem *Found = nullptr;
            Dictionary_ItemFindByKey(Root, Each, nullptr, &Found);
            ASSERT_EQ(Found, Walk(Each, CaseSensitive)) << "step " << Step << " key " << Each;
        }
    }
    Dictionary_Release(&Root);
}
