// Dictionary sync, merge and conversions: sync keeps matching items and
// reports only real changes, filters, merge under each flag, text split and
// join, enumeration, root skipping, the refusal of overlapping trees, and
// what a copy costs in the memory budget.
#include "runtime/containers/dictionary.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <thread>
#include <vector>

#include "runtime/memory.h"
#include "tests/runtime/containers/dictionary_render.h"
#include "tests/support/dictionary_tracked.h"
#include "tests/support/json_text.h"
#include "tests/support/runtime.h"

namespace {

// The item operations a merge of Item (in From) onto Target (in Built) is
// made of: type, private mark, then the source's text form.
void SetAsMergeDoes(Dictionary *From, DictionaryItem *Item, Dictionary *Built, DictionaryItem *Target, int32 Type) {
    uint32 Private = 0;
    Dictionary_ItemGetPrivate(From, Item, &Private);
    const char *Text = nullptr;
    int32 Length = 0;
    Dictionary_ItemGetBufferPtr(From, Item, &Text, &Length);
    Dictionary_ItemSetType(Built, Target, Type);
    Dictionary_ItemSetPrivate(Built, Target, Private);
    Dictionary_ItemSetBuffer(Built, Target, Text, Length);
}

// The merged tree equals the built one: print, reports, and the private mark
// of the merged item (the last one) against the built Target.
void ExpectSameAsBuilt(Dictionary *Merged, Dictionary *Built, DictionaryItem *Target,
                       const std::vector<std::string> &MergedLog, const std::vector<std::string> &BuiltLog,
                       const std::string &Name) {
    EXPECT_EQ(RenderDictionary(Merged), RenderDictionary(Built)) << Name;
    EXPECT_EQ(MergedLog, BuiltLog) << Name;
    DictionaryItem *Last = nullptr;
    Dictionary_ItemGetLast(Merged, &Last);
    uint32 MergedPrivate = 2, BuiltPrivate = 3;
    Dictionary_ItemGetPrivate(Merged, Last, &MergedPrivate);
    Dictionary_ItemGetPrivate(Built, Target, &BuiltPrivate);
    EXPECT_EQ(MergedPrivate, BuiltPrivate) << Name;
}

class DictionaryMergeTest : public DictionaryTrackedTest {
  protected:
    Dictionary *Destination = nullptr;
    Dictionary *Source = nullptr;
    std::vector<std::string> Events;
    void SetUp() override {
        DictionaryTrackedTest::SetUp();
        Dictionary_Create(&Destination);
        Dictionary_Create(&Source);
    }
    void TearDown() override {
        Dictionary_Release(&Destination);
        Dictionary_Release(&Source);
        DictionaryTrackedTest::TearDown();
    }
    void WatchDestination() {
        Dictionary_SetItemRemoveCallback(Destination, &Events,
                                         [](Dictionary *, DictionaryItem *, void *User, const char *Path) -> int32 {
                                             static_cast<std::vector<std::string> *>(User)->push_back(
                                                 std::string("remove ") + Path);
                                             return 1;
                                         });
        Dictionary_SetItemKeyChangeCallback(
            Destination, &Events,
            [](Dictionary *, DictionaryItem *, void *User, const char *Path, const char *) -> int32 {
                static_cast<std::vector<std::string> *>(User)->push_back(std::string("key ") + Path);
                return 1;
            });
        Dictionary_SetItemValueChangeCallback(
            Destination, &Events,
            [](Dictionary *, DictionaryItem *, void *User, const char *Path, const char *, int32) -> int32 {
                static_cast<std::vector<std::string> *>(User)->push_back(std::string("value ") + Path);
                return 1;
            });
    }
};

// {a:1, b:[x, y]}
void BuildSyncSource(Dictionary *Source) {
    Dictionary_AddInt64(Source, "a", 1, nullptr);
    Dictionary *List = nullptr;
    Dictionary_AddList(Source, "b", &List, nullptr);
    Dictionary_AddString(List, nullptr, "x", nullptr);
    Dictionary_AddString(List, nullptr, "y", nullptr);
}

} // namespace

// ---- Sync ----

TEST_F(DictionaryMergeTest, SyncChangesOnlyWhatDiffers) {
    BuildSyncSource(Source);
    Dictionary *List = nullptr;
    Dictionary_AddList(Destination, "b", &List, nullptr);
    Dictionary_AddString(List, nullptr, "x", nullptr);
    Dictionary_AddBoolean(Destination, "c", 1, nullptr);
    WatchDestination();
    EXPECT_EQ(Dictionary_Sync(Destination, Source, nullptr, nullptr), 1);
    EXPECT_EQ(RenderDictionary(Destination), "{b:[x,y],a:1}");
    const std::vector<std::string> Expected = {"key a", "value a", "value b[1]", "remove c"};
    EXPECT_EQ(Events, Expected);
    // A second sync finds nothing to change.
    Events.clear();
    Dictionary_Sync(Destination, Source, nullptr, nullptr);
    EXPECT_TRUE(Events.empty());
    EXPECT_EQ(RenderDictionary(Destination), "{b:[x,y],a:1}");
}

TEST_F(DictionaryMergeTest, SyncConvertsTypesAndFollowsListLength) {
    Dictionary *List = nullptr;
    Dictionary_AddList(Source, "l", &List, nullptr);
    Dictionary_AddBoolean(List, nullptr, 1, nullptr);
    Dictionary_AddNull(List, nullptr, nullptr);
    Dictionary_AddString(Source, "#p", "secret", nullptr);
    Dictionary *Old = nullptr;
    Dictionary_AddList(Destination, "l", &Old, nullptr);
    for (const char *Text : {"1", "2", "3", "4"}) Dictionary_AddString(Old, nullptr, Text, nullptr);
    Dictionary_AddString(Destination, "l2", "gone", nullptr);
    Dictionary_Sync(Destination, Source, nullptr, nullptr);
    EXPECT_EQ(RenderDictionary(Destination), "{l:[true,null],p:secret}");
    DictionaryItem *Private = nullptr;
    Dictionary_ItemFindByKey(Destination, "p", nullptr, &Private);
    uint32 Flag = 0;
    Dictionary_ItemGetPrivate(Destination, Private, &Flag);
    EXPECT_EQ(Flag, 1u);
    // Shrinking a List back.
    Dictionary_Reset(List);
    Dictionary_AddInt64(List, nullptr, 5, nullptr);
    Dictionary_Sync(Destination, Source, nullptr, nullptr);
    EXPECT_EQ(RenderDictionary(Destination), "{l:[5],p:secret}");
}

TEST_F(DictionaryMergeTest, SyncFilterLeavesRejectedItemsAlone) {
    Dictionary_AddString(Source, "internal", "from source", nullptr);
    Dictionary_AddString(Source, "public", "p", nullptr);
    Dictionary_AddString(Destination, "internal", "mine", nullptr);
    auto Filter = [](Dictionary *, void *User, Dictionary *Handle, DictionaryItem *Item) -> int32 {
        const char *Key = nullptr;
        Dictionary_ItemGetKeyPtr(Handle, Item, &Key);
        return Key == nullptr || strcmp(Key, static_cast<const char *>(User)) != 0;
    };
    char Rejected[] = "internal";
    Dictionary_Sync(Destination, Source, Rejected, Filter);
    EXPECT_EQ(RenderDictionary(Destination), "{internal:mine,public:p}");
}

TEST_F(DictionaryMergeTest, SyncAtStartsFromAGivenItem) {
    for (const char *Text : {"a", "b", "c"}) Dictionary_AddString(Source, nullptr, Text, nullptr);
    for (const char *Text : {"0", "1", "2"}) Dictionary_AddString(Destination, nullptr, Text, nullptr);
    DictionaryItem *Start = nullptr;
    Dictionary_ItemFindByIndex(Source, 1, nullptr, &Start);
    Dictionary_SyncAt(Destination, Source, Start, nullptr, nullptr);
    EXPECT_EQ(RenderDictionary(Destination), "{0,b,c}");
}

TEST_F(DictionaryMergeTest, RemoveMissingAndRemoveMissingKeys) {
    Dictionary_AddString(Destination, "keep", "1", nullptr);
    Dictionary_AddString(Destination, "drop", "2", nullptr);
    Dictionary_AddString(Destination, nullptr, "keyless", nullptr);
    Dictionary_AddString(Source, "keep", "x", nullptr);
    Dictionary *Names = nullptr;
    Dictionary_Create(&Names);
    Dictionary_AddString(Names, nullptr, "keep", nullptr);
    Dictionary_RemoveMissingKeys(Destination, Names);
    EXPECT_EQ(RenderDictionary(Destination), "{keep:1,keyless}");
    Dictionary_Release(&Names);
    // The keyless item has no source item at its position.
    Dictionary_RemoveMissing(Destination, Source);
    EXPECT_EQ(RenderDictionary(Destination), "{keep:1}");
}

// ---- Merge ----

TEST_F(DictionaryMergeTest, MergeKeepsOrOverwrites) {
    Dictionary_AddInt64(Destination, "a", 1, nullptr);
    Dictionary_AddInt64(Source, "a", 2, nullptr);
    Dictionary_Merge(Destination, Source, 0);
    EXPECT_EQ(RenderDictionary(Destination), "{a:1}");
    Dictionary_Merge(Destination, Source, DICTIONARY_MERGE_OVERWRITE);
    EXPECT_EQ(RenderDictionary(Destination), "{a:2}");
}

TEST_F(DictionaryMergeTest, MergeReplacesOrExtendsLists) {
    Dictionary *Target = nullptr;
    Dictionary_AddList(Destination, "l", &Target, nullptr);
    Dictionary_AddInt64(Target, nullptr, 1, nullptr);
    Dictionary_AddInt64(Target, nullptr, 2, nullptr);
    Dictionary *List = nullptr;
    Dictionary_AddList(Source, "l", &List, nullptr);
    Dictionary_AddInt64(List, nullptr, 3, nullptr);
    Dictionary *Copy = nullptr;
    Dictionary_Create(&Copy);
    Dictionary_Merge(Copy, Destination, 0);
    Dictionary_Merge(Destination, Source, 0);
    EXPECT_EQ(RenderDictionary(Destination), "{l:[3]}");
    Dictionary_Merge(Copy, Source, DICTIONARY_MERGE_LISTS);
    EXPECT_EQ(RenderDictionary(Copy), "{l:[1,2,3]}");
    Dictionary_Release(&Copy);
}

TEST_F(DictionaryMergeTest, MergeRecursesIntoDictionariesButNotIntoKeptScalars) {
    Dictionary_SetStringByPath(Destination, "cfg.a", "1");
    Dictionary_SetStringByPath(Destination, "cfg.b", "2");
    Dictionary_SetStringByKey(Destination, "s", "scalar");
    Dictionary_SetStringByPath(Source, "cfg.b", "20");
    Dictionary_SetStringByPath(Source, "cfg.c", "30");
    Dictionary_SetStringByPath(Source, "s.inner", "x");
    Dictionary_Merge(Destination, Source, 0);
    EXPECT_EQ(RenderDictionary(Destination), "{cfg:{a:1,b:2,c:30},s:scalar}");
    Dictionary_Merge(Destination, Source, DICTIONARY_MERGE_OVERWRITE);
    EXPECT_EQ(RenderDictionary(Destination), "{cfg:{a:1,b:20,c:30},s:{inner:x}}");
}

// Each kind of scalar merged into an item that has no type or value yet (a
// new one, or a kept Unknown item that was once a true Boolean) gives the
// tree and the reports that the item operations the merge is made of give:
// a new item with the key, then type, private mark and text form set.
TEST_F(DictionaryMergeTest, MergeIntoNewItemsMatchesTheItemOperations) {
    auto Watch = [](Dictionary *Handle, std::vector<std::string> *Log) {
        Dictionary_SetItemKeyChangeCallback(Handle, Log,
                                            [](Dictionary *, DictionaryItem *, void *User, const char *Path,
                                               const char *Old) -> int32 {
                                                static_cast<std::vector<std::string> *>(User)->push_back(
                                                    std::string("key ") + Path + " " + (Old ? Old : "-"));
                                                return 1;
                                            });
        Dictionary_SetItemValueChangeCallback(
            Handle, Log,
            [](Dictionary *, DictionaryItem *, void *User, const char *Path, const char *Old, int32 Length) -> int32 {
                static_cast<std::vector<std::string> *>(User)->push_back(
                    std::string("value ") + Path + " " + (Old ? std::string(Old, (size_t)Length) : "-"));
                return 1;
            });
    };
    const std::string Long(40, 'L');
    struct Case {
        const char *Key;
        int32 Type;
        const char *Text; // set with Dictionary_ItemSetBuffer, or null
        bool KeptTrue;    // the destination holds the key as an Unknown item that was a true Boolean
    };
    const Case Cases[] = {
        {"n", DICTIONARY_TYPE_NULL, nullptr, false},        {"t", DICTIONARY_TYPE_BOOLEAN, "true", false},
        {"f", DICTIONARY_TYPE_BOOLEAN, "false", false},     {"f", DICTIONARY_TYPE_BOOLEAN, "false", true},
        {"t", DICTIONARY_TYPE_BOOLEAN, "true", true},       {"i", DICTIONARY_TYPE_INT64, "42", false},
        {"d", DICTIONARY_TYPE_FLOAT64, "0.5", true},        {"s", DICTIONARY_TYPE_STRING, "", false},
        {"s", DICTIONARY_TYPE_STRING, "x", false},          {"s", DICTIONARY_TYPE_STRING, Long.c_str(), true},
        {"#p", DICTIONARY_TYPE_STRING, "hidden", false},    {nullptr, DICTIONARY_TYPE_INT64, "7", false},
        {"u", DICTIONARY_TYPE_UNKNOWN, "kept text", false}, {"u", DICTIONARY_TYPE_UNKNOWN, nullptr, true},
    };
    for (const Case &Each : Cases) {
        Dictionary *From = nullptr, *Merged = nullptr, *Built = nullptr;
        Dictionary_Create(&From);
        Dictionary_Create(&Merged);
        Dictionary_Create(&Built);
        DictionaryItem *Item = nullptr;
        Dictionary_Append(From, Each.Key, &Item);
        Dictionary_ItemSetType(From, Item, Each.Type);
        if (Each.Text != nullptr) Dictionary_ItemSetBuffer(From, Item, Each.Text, (int32)strlen(Each.Text));
        for (Dictionary *Into : {Merged, Built}) {
            Dictionary_AddString(Into, "other", "o", nullptr);
            if (!Each.KeptTrue) continue;
            DictionaryItem *Kept = nullptr;
            Dictionary_AddBoolean(Into, Each.Key, 1, &Kept);
            Dictionary_ItemSetType(Into, Kept, DICTIONARY_TYPE_UNKNOWN);
        }
        std::vector<std::string> MergedLog, BuiltLog;
        Watch(Merged, &MergedLog);
        Watch(Built, &BuiltLog);
        Dictionary_Merge(Merged, From, DICTIONARY_MERGE_OVERWRITE);
        DictionaryItem *Target = nullptr;
        if (!Each.KeptTrue || !Dictionary_ItemFindByKey(Built, Each.Key, nullptr, &Target))
            Dictionary_Append(Built, Each.Key, &Target);
        SetAsMergeDoes(From, Item, Built, Target, Each.Type);
        const std::string Name = std::string(Each.Key ? Each.Key : "(none)") + (Each.KeptTrue ? " kept" : "");
        ExpectSameAsBuilt(Merged, Built, Target, MergedLog, BuiltLog, Name);
        for (Dictionary **Handle : {&From, &Merged, &Built}) Dictionary_Release(Handle);
    }
}

// A scalar merged over an existing item (same type or not, text equal or
// not, inline or not, with a private mark or without) gives the tree, marks
// and value reports of the item operations the merge is made of: type,
// private mark, then the source's text form set on the found item.
TEST_F(DictionaryMergeTest, MergeOverExistingItemsMatchesTheItemOperations) {
    const std::string Long(40, 'L'), Longer(50, 'M');
    struct Case {
        int32 OldType;
        const char *OldText;
        int32 NewType;
        const char *NewText;
        const char *Key; // a "#" key is private in the source
    };
    const Case Cases[] = {
        {DICTIONARY_TYPE_STRING, "abc", DICTIONARY_TYPE_STRING, "abc", "k"},
        {DICTIONARY_TYPE_STRING, "abc", DICTIONARY_TYPE_STRING, "abd", "k"},
        {DICTIONARY_TYPE_STRING, "abc", DICTIONARY_TYPE_STRING, "abcdefghijklmnopq", "k"},
        {DICTIONARY_TYPE_STRING, "abc", DICTIONARY_TYPE_STRING, Long.c_str(), "a-rather-long-key-name"},
        {DICTIONARY_TYPE_STRING, Long.c_str(), DICTIONARY_TYPE_STRING, Longer.c_str(), "k"},
        {DICTIONARY_TYPE_STRING, Long.c_str(), DICTIONARY_TYPE_STRING, "s", "k"},
        {DICTIONARY_TYPE_STRING, "abc", DICTIONARY_TYPE_STRING, "", "k"},
        {DICTIONARY_TYPE_STRING, "", DICTIONARY_TYPE_STRING, "x", "k"},
        {DICTIONARY_TYPE_STRING, "abc", DICTIONARY_TYPE_STRING, "xyz", "#p"},
        {DICTIONARY_TYPE_INT64, "42", DICTIONARY_TYPE_INT64, "-7", "k"},
        {DICTIONARY_TYPE_INT64, "1", DICTIONARY_TYPE_INT64, "-0x10", "k"},
        {DICTIONARY_TYPE_FLOAT64, "0.5", DICTIONARY_TYPE_FLOAT64, "1e+20", "k"},
        {DICTIONARY_TYPE_FLOAT64, "0.5", DICTIONARY_TYPE_FLOAT64, "-0", "#p"},
        {DICTIONARY_TYPE_FLOAT64, "3", DICTIONARY_TYPE_FLOAT64, "0.333333333333333314829616256247", "k"},
        {DICTIONARY_TYPE_INT64, "42", DICTIONARY_TYPE_FLOAT64, "42", "k"},
        {DICTIONARY_TYPE_BOOLEAN, "true", DICTIONARY_TYPE_BOOLEAN, "false", "k"},
        {DICTIONARY_TYPE_BOOLEAN, "true", DICTIONARY_TYPE_STRING, "true", "k"},
    };
    auto Watch = [](Dictionary *Handle, std::vector<std::string> *Log) {
        Dictionary_SetItemValueChangeCallback(
            Handle, Log,
            [](Dictionary *Container, DictionaryItem *Item, void *User, const char *Path, const char *Old,
               int32 Length) -> int32 {
                const char *Now = nullptr;
                int32 NowLength = 0;
                Dictionary_ItemGetBufferPtr(Container, Item, &Now, &NowLength);
                static_cast<std::vector<std::string> *>(User)->push_back(
                    std::string(Path) + " " + (Old ? std::string(Old, (size_t)Length) : "-") + " > " +
                    std::string(Now ? Now : "-", Now ? (size_t)NowLength : 1));
                return 1;
            });
    };
    auto Add = [](Dictionary *Handle, const char *Key, int32 Type, const char *Text) {
        DictionaryItem *Item = nullptr;
        Dictionary_Append(Handle, Key, &Item);
        Dictionary_ItemSetType(Handle, Item, Type);
        if (Text != nullptr) Dictionary_ItemSetBuffer(Handle, Item, Text, (int32)strlen(Text));
        return Item;
    };
    for (const Case &Each : Cases) {
        const std::string Name = std::string(Each.OldText ? Each.OldText : "-") + " <- " + Each.NewText;
        Dictionary *From = nullptr, *Merged = nullptr, *Built = nullptr;
        Dictionary_Create(&From);
        Dictionary_Create(&Merged);
        Dictionary_Create(&Built);
        DictionaryItem *Item = Add(From, Each.Key, Each.NewType, Each.NewText);
        std::vector<std::string> MergedLog, BuiltLog;
        DictionaryItem *Target = nullptr;
        for (Dictionary *Into : {Merged, Built}) {
            Dictionary_AddString(Into, "other", "o", nullptr);
            Target = Add(Into, Each.Key[0] == '#' ? Each.Key + 1 : Each.Key, Each.OldType, Each.OldText);
            Watch(Into, Into == Merged ? &MergedLog : &BuiltLog);
        }
        Dictionary_Merge(Merged, From, DICTIONARY_MERGE_OVERWRITE);
        SetAsMergeDoes(From, Item, Built, Target, Each.NewType);
        ExpectSameAsBuilt(Merged, Built, Target, MergedLog, BuiltLog, Name);
        for (Dictionary **Handle : {&From, &Merged, &Built}) Dictionary_Release(Handle);
    }
}

// New keyed Strings and numbers merged into an unwatched destination are
// appended in one step; a watched destination takes them step by step. Both
// end alike: keys (a stored private mark included), types, texts, private
// marks and order.
TEST_F(DictionaryMergeTest, MergeIntoAnUnwatchedDestinationEqualsTheSteps) {
    const std::string Long(60, 'v');
    struct Case {
        const char *Key;
        int32 Type;
        const char *Text;
        uint32 SourcePrivateKeys; // 0 stores a leading mark as part of the key
        uint32 Duplicates;        // of the destination
    };
    const Case Cases[] = {
        {"s", DICTIONARY_TYPE_STRING, "x", 1, 1},          {"s", DICTIONARY_TYPE_STRING, "", 1, 1},
        {"i", DICTIONARY_TYPE_INT64, "42", 1, 1},          {"d", DICTIONARY_TYPE_FLOAT64, "0.5", 1, 0},
        {"#p", DICTIONARY_TYPE_STRING, "hidden", 1, 1},    {".q", DICTIONARY_TYPE_STRING, "marked", 0, 1},
        {".q", DICTIONARY_TYPE_STRING, "marked", 0, 0},    {"other", DICTIONARY_TYPE_STRING, "again", 1, 1},
        {"k23456789012345678901", DICTIONARY_TYPE_STRING, Long.c_str(), 1, 1},
        {"b", DICTIONARY_TYPE_BOOLEAN, "true", 1, 1},
    };
    auto Describe = [](Dictionary *Handle) {
        std::string Text = RenderDictionary(Handle);
        DictionaryItem *Item = nullptr;
        for (bool Any = Dictionary_ItemGetFirst(Handle, &Item); Any; Any = Dictionary_ItemGetNext(Handle, Item, &Item)) {
            uint32 Private = 2;
            const char *Key = nullptr;
            Dictionary_ItemGetPrivate(Handle, Item, &Private);
            Dictionary_ItemGetKeyPtr(Handle, Item, &Key);
            Text += std::string(" ") + (Key ? Key : "-") + "/" + std::to_string(Private);
        }
        return Text;
    };
    for (const Case &Each : Cases) {
        Dictionary *From = nullptr;
        Dictionary_Create(&From);
        Dictionary_SetPrivateKeys(From, Each.SourcePrivateKeys);
        DictionaryItem *Item = nullptr;
        Dictionary_Append(From, Each.Key, &Item);
        Dictionary_ItemSetType(From, Item, Each.Type);
        Dictionary_ItemSetBuffer(From, Item, Each.Text, (int32)strlen(Each.Text));
        Dictionary_AddString(From, "last", "z", nullptr);
        std::string Results[2];
        for (int32 Watched = 0; Watched < 2; Watched++) {
            Dictionary *Into = nullptr;
            Dictionary_Create(&Into);
            Dictionary_SetAllowDuplicates(Into, Each.Duplicates);
            Dictionary_AddString(Into, "other", "o", nullptr);
            if (Watched)
                Dictionary_SetItemRemoveCallback(Into, nullptr,
                                                 [](Dictionary *, DictionaryItem *, void *, const char *) -> int32 { return 1; });
            Dictionary_Merge(Into, From, 0);
            Results[Watched] = Describe(Into);
            Dictionary_Release(&Into);
        }
        EXPECT_EQ(Results[0], Results[1]) << Each.Key;
        Dictionary_Release(&From);
    }
}

// New Booleans, Nulls, Lists and Dictionaries merged into a destination
// nobody watches are appended in one step, and a Boolean over a Boolean
// takes the flag: the trees equal those of a watched destination, which
// takes new items step by step, and the watched one reports the values that
// changed or came new (a Null or a false Boolean has none).
TEST_F(DictionaryMergeTest, NewContainersBooleansAndNullsEqualTheSteps) {
    struct Case {
        const char *Into, *From;
        uint32 Flags;
        const char *Merged, *Reports;
    };
    const Case Cases[] = {
        {R"({"o":1})", R"({"b":true,"c":false,"n":null})", 0, "{o:1,b:true,c:false,n:null}", "b;"},
        {R"({"o":1})", R"({"d":{"x":1,"y":[true,null,{"z":"s"}]},"l":[1,[2]]})", 0,
         "{o:1,d:{x:1,y:[true,null,{z:s}]},l:[1,[2]]}", "d.x;d.y[0];d.y[2].z;l[0];l[1][0];"},
        {R"({"o":1,"l":[9]})", R"({"d":{},"l":[8],"e":[]})", 0, "{o:1,l:[8],d:{},e:[]}", "l[0];"},
        {R"({"o":1,"l":[9]})", R"({"l":[8]})", DICTIONARY_MERGE_LISTS, "{o:1,l:[9,8]}", "l[1];"},
        {R"({"o":1})", R"({"d":{"x":1},"b":true})", DICTIONARY_MERGE_INSERTFRONT, "{b:true,d:{x:1},o:1}", "d.x;b;"},
        {R"({"b":true,"c":false,"d":{"b":false}})", R"({"b":false,"c":false,"d":{"b":true},"e":true})",
         DICTIONARY_MERGE_OVERWRITE, "{b:false,c:false,d:{b:true},e:true}", "b;d.b;e;"},
        {R"({"b":true})", R"({"b":true,"c":null})", DICTIONARY_MERGE_OVERWRITE, "{b:true,c:null}", ""},
        {R"({"b":true})", R"({"b":false})", 0, "{b:true}", ""},
    };
    for (const Case &Each : Cases) {
        Dictionary *FromRoot = JsonRoot(Each.From), *From = nullptr;
        Dictionary_SkipRoot(FromRoot, &From);
        std::string Reports;
        for (const bool Watched : {false, true}) {
            Dictionary *Root = JsonRoot(Each.Into), *Into = nullptr;
            Dictionary_SkipRoot(Root, &Into);
            if (Watched)
                Dictionary_SetItemValueChangeCallback(
                    Into, &Reports, [](Dictionary *, DictionaryItem *, void *User, const char *Path, const char *, int32) -> int32 {
                        *static_cast<std::string *>(User) += std::string(Path) + ";";
                        return 1;
                    });
            Dictionary_Merge(Into, From, Each.Flags);
            EXPECT_EQ(RenderDictionary(Into), Each.Merged) << Each.From << (Watched ? " watched" : "");
            Dictionary_Release(&Root);
        }
        EXPECT_EQ(Reports, Each.Reports) << Each.From;
        Dictionary_Release(&FromRoot);
    }
}

TEST_F(DictionaryMergeTest, MergeAtTheFrontReversesNewItems) {
    Dictionary_AddString(Destination, "a", "0", nullptr);
    Dictionary_AddString(Source, "x", "1", nullptr);
    Dictionary_AddString(Source, "y", "2", nullptr);
    Dictionary_Merge(Destination, Source, DICTIONARY_MERGE_INSERTFRONT);
    EXPECT_EQ(RenderDictionary(Destination), "{y:2,x:1,a:0}");
}

TEST_F(DictionaryMergeTest, MergeCanSkipPrivateItems) {
    Dictionary_AddString(Source, "#p", "secret", nullptr);
    Dictionary_AddString(Source, "q", "open", nullptr);
    Dictionary_Merge(Destination, Source, DICTIONARY_MERGE_SKIPPRIVATE);
    EXPECT_EQ(RenderDictionary(Destination), "{q:open}");
    Dictionary_Merge(Destination, Source, 0);
    EXPECT_EQ(RenderDictionary(Destination), "{q:open,p:secret}");
    // Private marks come across with the item.
    DictionaryItem *Item = nullptr;
    Dictionary_ItemFindByKey(Destination, "p", nullptr, &Item);
    uint32 Flag = 0;
    Dictionary_ItemGetPrivate(Destination, Item, &Flag);
    EXPECT_EQ(Flag, 1u);
    // MergeItem and MergeAt take single items and tails.
    Dictionary_AddString(Source, nullptr, "tail", &Item);
    Dictionary_MergeItem(Destination, Source, Item, 0);
    Dictionary_MergeAt(Destination, Source, Item, 0);
    EXPECT_EQ(RenderDictionary(Destination), "{q:open,p:secret,tail,tail}");
}

TEST_F(DictionaryMergeTest, OverlappingTreesAreRefused) {
    Dictionary_AddString(Source, nullptr, "x", nullptr);
    Dictionary *Child = nullptr;
    Dictionary_AddDictionary(Source, "c", &Child, nullptr);
    EXPECT_EQ(Dictionary_Merge(Source, Source, 0), 0);
    EXPECT_EQ(Dictionary_Merge(Child, Source, 0), 0);
    EXPECT_EQ(Dictionary_Merge(Source, Child, DICTIONARY_MERGE_OVERWRITE), 0);
    EXPECT_EQ(Dictionary_Sync(Child, Source, nullptr, nullptr), 0);
    EXPECT_EQ(RenderDictionary(Source), "{x,c:{}}");
    // Separate subtrees of one root are fine.
    Dictionary *Other = nullptr;
    Dictionary_AddDictionary(Source, "o", &Other, nullptr);
    Dictionary_AddString(Child, "k", "v", nullptr);
    EXPECT_EQ(Dictionary_Merge(Other, Child, 0), 1);
    EXPECT_EQ(RenderDictionary(Source), "{x,c:{k:v},o:{k:v}}");
}

// Removing the item that holds the source would free the source while it is
// still searched.
TEST_F(DictionaryMergeTest, RemoveMissingRefusesASourceInsideTheDestination) {
    Dictionary_AddString(Destination, "z", "1", nullptr);
    Dictionary *Inner = nullptr;
    Dictionary_AddDictionary(Destination, "holder", &Inner, nullptr);
    Dictionary_AddString(Inner, nullptr, "other", nullptr);
    Dictionary_AddString(Destination, "y", "2", nullptr);
    EXPECT_EQ(Dictionary_RemoveMissing(Destination, Inner), 0);
    EXPECT_EQ(Dictionary_RemoveMissingKeys(Destination, Inner), 0);
    EXPECT_EQ(Dictionary_RemoveMissingKeys(Destination, Destination), 0);
    EXPECT_EQ(RenderDictionary(Destination), "{z:1,holder:{other},y:2}");
    // Separate subtrees of one root are fine.
    Dictionary *Names = nullptr;
    Dictionary_AddList(Destination, "names", &Names, nullptr);
    Dictionary_AddString(Inner, "gone", "x", nullptr);
    Dictionary_AddString(Inner, "names", "x", nullptr);
    EXPECT_EQ(Dictionary_RemoveMissingKeys(Inner, Names), 1);
    EXPECT_EQ(RenderDictionary(Destination), "{z:1,holder:{other},y:2,names:[]}");
    Dictionary_AddString(Names, nullptr, "other", nullptr);
    EXPECT_EQ(Dictionary_RemoveMissing(Inner, Names), 1);
    EXPECT_EQ(RenderDictionary(Destination), "{z:1,holder:{other},y:2,names:[other]}");
}

// ---- Text split and join ----

TEST_F(DictionaryMergeTest, SplitAndJoinText) {
    const char Text[] = "a=1;;b";
    Dictionary_ConvertFromString(Destination, Text, (int32)strlen(Text), '=', ';');
    EXPECT_EQ(RenderDictionary(Destination), "{a:1,b:true}");
    int32 Type = 0;
    Dictionary_GetTypeByKey(Destination, "a", &Type);
    EXPECT_EQ(Type, DICTIONARY_TYPE_STRING);
    Dictionary_GetTypeByKey(Destination, "b", &Type);
    EXPECT_EQ(Type, DICTIONARY_TYPE_BOOLEAN);
    char Buffer[32];
    Dictionary_ConvertToString(Destination, Buffer, (int32)sizeof(Buffer), '=', ';');
    EXPECT_STREQ(Buffer, "a=1;b;");
    Dictionary_ConvertToString(Destination, Buffer, 4, '=', ';');
    EXPECT_STREQ(Buffer, "a=1");
}

TEST_F(DictionaryMergeTest, SplitEdgeCases) {
    const char List[] = "one, two,,three";
    Dictionary_ConvertFromString(Destination, List, (int32)strlen(List), 0, ',');
    EXPECT_EQ(RenderDictionary(Destination), "{one, two,three}");
    Dictionary_Reset(Destination);
    Dictionary_ConvertFromString(Destination, ";x", 2, 0, ';');
    EXPECT_EQ(RenderDictionary(Destination), "{,x}"); // a leading separator gives one empty item
    Dictionary_Reset(Destination);
    const char Pairs[] = "  k == v ;#p=q;  lone";
    Dictionary_ConvertFromString(Destination, Pairs, (int32)strlen(Pairs), '=', ';');
    EXPECT_EQ(RenderDictionary(Destination), "{k : v ,p:q,lone:true}");
    Dictionary_Reset(Destination);
    Dictionary_ConvertFromString(Destination, "a=1", 0, '=', ';');
    Dictionary_ConvertFromString(Destination, "a=1", -5, '=', ';');
    int32 Count = 1;
    Dictionary_ItemGetCount(Destination, &Count);
    EXPECT_EQ(Count, 0);
    // Only the given length is read.
    Dictionary_ConvertFromString(Destination, "ab;cd", 4, 0, ';');
    EXPECT_EQ(RenderDictionary(Destination), "{ab,c}");
}

TEST_F(DictionaryMergeTest, JoinWritesOnlyStringsAndKeyedBooleans) {
    Dictionary_AddString(Destination, nullptr, "v1", nullptr);
    Dictionary_AddString(Destination, "k", "v2", nullptr);
    Dictionary_AddBoolean(Destination, "off", 0, nullptr);
    Dictionary_AddBoolean(Destination, nullptr, 1, nullptr);
    Dictionary_AddInt64(Destination, "n", 5, nullptr);
    char Buffer[64];
    Dictionary_ConvertToString(Destination, Buffer, (int32)sizeof(Buffer), '=', ',');
    EXPECT_STREQ(Buffer, "v1,k=v2,off,,");
    Dictionary_ConvertToString(Destination, Buffer, (int32)sizeof(Buffer), 0, ',');
    EXPECT_STREQ(Buffer, "v1,kv2,off,,");
}

// ---- Enumeration ----

namespace {
struct Seen {
    std::vector<std::string> Texts;
    int32 StopAfter = 1000;
    int32 Answer = 1;
};
int32 TakeText(void *User, const char *Text) {
    Seen *Log = static_cast<Seen *>(User);
    Log->Texts.push_back(Text);
    return (int32)Log->Texts.size() >= Log->StopAfter ? 0 : Log->Answer;
}
// What a tree is charged as it is made (the allocator's own count) is what
// Dictionary_GetCost says a copy of it costs, shape by shape; past the
// budget the making throws, and what it held goes back.
TEST(DictionaryCost, IsWhatACopyIsCharged) {
    RuntimeScope Scope(0);
    const std::string Long(200, 'x');
    const struct {
        const char *Shape;
        void (*Add)(Dictionary *, int32, const std::string &);
    } Shapes[] = {
        {"empty objects", [](Dictionary *List, int32, const std::string &) {
             Dictionary_AddDictionary(List, nullptr, nullptr, nullptr);
         }},
        {"numbers", [](Dictionary *List, int32 Index, const std::string &) {
             Dictionary_AddInt32(List, nullptr, Index, nullptr);
         }},
        {"keyed ids", [](Dictionary *List, int32 Index, const std::string &) {
             Dictionary_AddString(List, std::to_string(Index).c_str(), "0123456789-0123456789-0123456789", nullptr);
         }},
        {"long texts", [](Dictionary *List, int32, const std::string &Text) {
             Dictionary_AddString(List, nullptr, Text.c_str(), nullptr);
         }}};
    for (const auto &Shape : Shapes) {
        Dictionary *Source = nullptr, *List = nullptr, *Copy = nullptr;
        Dictionary_Create(&Source);
        if (Shape.Shape[0] == 'k') Dictionary_AddDictionary(Source, "z", &List, nullptr);
        else Dictionary_AddList(Source, "z", &List, nullptr);
        for (int32 Index = 0; Index < 100000; Index++) Shape.Add(List, Index, Long);
        int64 Cost = 0;
        ASSERT_TRUE(Dictionary_GetCost(Source, &Cost));
        MemoryCharge Charge{};
        Memory_SetThreadCharge(&Charge);
        Dictionary_Create(&Copy);
        Dictionary_Merge(Copy, Source, DICTIONARY_MERGE_OVERWRITE);
        Memory_SetThreadCharge(nullptr);
        EXPECT_GT(Cost, Charge.Bytes * 85 / 100) << Shape.Shape << " charged " << Charge.Bytes;
        EXPECT_LT(Cost, Charge.Bytes * 115 / 100) << Shape.Shape << " charged " << Charge.Bytes;
        MemoryBudget_Give(Charge.Bytes);
        Dictionary_Release(&Copy);
        Dictionary_Release(&Source);
    }
    const int64 Held = MemoryBudget_GetUsed(), Limit = MemoryBudget_GetLimit();
    MemoryBudget_SetLimit(Held + (1 << 20));
    std::thread([] {
        Dictionary *Tree = nullptr;
        Dictionary_Create(&Tree);
        MemoryCharge Charge{};
        Memory_SetThrowWhenExhausted(TRUE, nullptr);
        Memory_SetThreadCharge(&Charge);
        EXPECT_THROW(for (;;) Dictionary_AddDictionary(Tree, nullptr, nullptr, nullptr), std::bad_alloc);
        Dictionary_Release(&Tree);
        Memory_SetThreadCharge(nullptr);
        Memory_SetThrowWhenExhausted(FALSE, nullptr);
        EXPECT_EQ(Charge.Refused, 1);
        MemoryBudget_Give(Charge.Bytes);
    }).join();
    EXPECT_EQ(MemoryBudget_GetUsed(), Held);
    MemoryBudget_SetLimit(Limit);
}

} // namespace

TEST_F(DictionaryMergeTest, EnumerationVisitsTheRightItems) {
    Seen Log;
    EXPECT_EQ(Dictionary_EnumerateString(Destination, &Log, TakeText), 0);
    Dictionary_AddInt64(Destination, "n", 5, nullptr);
    EXPECT_EQ(Dictionary_EnumerateString(Destination, &Log, TakeText), 0);
    EXPECT_TRUE(Log.Texts.empty());
    Dictionary_AddString(Destination, "a", "x", nullptr);
    Dictionary_AddString(Destination, nullptr, "y", nullptr);
    Dictionary_AddString(Destination, "b", "z", nullptr);
    EXPECT_EQ(Dictionary_EnumerateString(Destination, &Log, TakeText), 1);
    EXPECT_EQ(Log.Texts, (std::vector<std::string>{"x", "y", "z"}));
    Log = Seen{};
    Log.StopAfter = 2;
    Dictionary_EnumerateKey(Destination, &Log, TakeText);
    EXPECT_EQ(Log.Texts, (std::vector<std::string>{"n", "a"}));
    std::vector<std::string> Pairs;
    Dictionary_EnumerateKeyString(Destination, &Pairs, [](void *User, const char *Key, const char *Text) -> int32 {
        static_cast<std::vector<std::string> *>(User)->push_back(std::string(Key) + "=" + Text);
        return 1;
    });
    EXPECT_EQ(Pairs, (std::vector<std::string>{"a=x", "b=z"}));
    Pairs.clear();
    Dictionary_EnumerateKeyBuffer(Destination, &Pairs,
                                  [](void *User, const char *Key, const char *Text, int32 Length) -> int32 {
                                      static_cast<std::vector<std::string> *>(User)->push_back(
                                          std::string(Key) + "=" + std::string(Text, (size_t)Length));
                                      return 1;
                                  });
    EXPECT_EQ(Pairs, (std::vector<std::string>{"n=5", "a=x", "b=z"}));
}

TEST_F(DictionaryMergeTest, ListEnumerationTakesSingleItemsOrMembers) {
    Dictionary *List = nullptr;
    Dictionary_AddList(Destination, "l", &List, nullptr);
    Dictionary_AddString(List, nullptr, "s1", nullptr);
    Dictionary_AddInt64(List, nullptr, 7, nullptr);
    Dictionary_AddFloat64(List, nullptr, 1.7e12, nullptr);
    Dictionary_AddString(List, nullptr, "s2", nullptr);
    Dictionary_AddString(Destination, "one", "only", nullptr);
    Dictionary_AddInt64(Destination, "num", 9, nullptr);
    Seen Log;
    EXPECT_EQ(Dictionary_EnumerateListString(Destination, "l", &Log, TakeText), 1);
    EXPECT_EQ(Log.Texts, (std::vector<std::string>{"s1", "s2"}));
    Log = Seen{};
    EXPECT_EQ(Dictionary_EnumerateListString(Destination, "one", &Log, TakeText), 1);
    Log = Seen{};
    Log.Answer = 2; // nonzero but not 1: a single item needs exactly 1
    EXPECT_EQ(Dictionary_EnumerateListString(Destination, "one", &Log, TakeText), 0);
    EXPECT_EQ(Dictionary_EnumerateListString(Destination, "l", &Log, TakeText), 1);
    EXPECT_EQ(Dictionary_EnumerateListString(Destination, "missing", &Log, TakeText), 0);
    EXPECT_EQ(Dictionary_EnumerateListString(Destination, "num", &Log, TakeText), 0);
    std::vector<int32> Numbers;
    auto TakeNumber = [](void *User, int32 Value) -> int32 {
        static_cast<std::vector<int32> *>(User)->push_back(Value);
        return 1;
    };
    EXPECT_EQ(Dictionary_EnumerateListInt32(Destination, "l", &Numbers, TakeNumber), 1);
    EXPECT_EQ(Numbers, (std::vector<int32>{7, (int32)(uint32)1700000000000ULL}));
    Numbers.clear();
    EXPECT_EQ(Dictionary_EnumerateListInt32(Destination, "num", &Numbers, TakeNumber), 1);
    EXPECT_EQ(Numbers, (std::vector<int32>{9}));
    int32 Calls = 0;
    auto Count = [](void *User, Dictionary *, DictionaryItem *) -> int32 {
        ++*static_cast<int32 *>(User);
        return 1;
    };
    EXPECT_EQ(Dictionary_EnumerateList(Destination, "l", &Calls, Count), 1);
    EXPECT_EQ(Calls, 4);
    EXPECT_EQ(Dictionary_EnumerateList(Destination, "num", &Calls, Count), 1);
    EXPECT_EQ(Calls, 5);
    Dictionary_AddDictionary(Destination, "d", nullptr, nullptr);
    EXPECT_EQ(Dictionary_EnumerateList(Destination, "d", &Calls, Count), 0);
    EXPECT_EQ(Calls, 5);
}

// ---- Root skipping ----

TEST_F(DictionaryMergeTest, SkipRootStepsOverOneAnonymousContainer) {
    Dictionary *Inner = nullptr;
    Dictionary_AddDictionary(Destination, nullptr, &Inner, nullptr);
    Dictionary *Found = nullptr;
    Dictionary_SkipRoot(Destination, &Found);
    EXPECT_EQ(Found, Inner);
    Dictionary_SkipRoot(Inner, &Found); // not a root
    EXPECT_EQ(Found, Inner);
    Dictionary_AddNull(Destination, nullptr, nullptr);
    Dictionary_SkipRoot(Destination, &Found);
    EXPECT_EQ(Found, Destination);
    Dictionary *List = nullptr;
    Dictionary_AddList(Source, nullptr, &List, nullptr);
    Dictionary_SkipRoot(Source, &Found);
    EXPECT_EQ(Found, Source);
    Dictionary_SkipRootContainer(Source, &Found);
    EXPECT_EQ(Found, List);
    Dictionary_Reset(Source);
    Dictionary_AddList(Source, "named", &List, nullptr);
    Dictionary_SkipRootContainer(Source, &Found);
    EXPECT_EQ(Found, Source);
}
