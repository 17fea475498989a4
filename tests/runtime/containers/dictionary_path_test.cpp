// Dictionary keys, indexes and paths: the "[n]" key form, path selectors
// (index, negative index, [name=value], next, last-child), repeated keys,
// set-by-path (including through a scalar), Ensure by path, item paths and
// their round trip back through ItemFindByPath on random trees, and the
// operations on path text.
#include "runtime/containers/dictionary.h"

#include <gtest/gtest.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "runtime/text/string.h"
#include "runtime/memory.h"
#include "tests/runtime/containers/dictionary_render.h"
#include "tests/support/dictionary_tracked.h"
#include "tests/support/runtime.h"

namespace {

class DictionaryPathTest : public DictionaryTrackedTest {
  protected:
    Dictionary *Root = nullptr;
    void SetUp() override {
        DictionaryTrackedTest::SetUp();
        Dictionary_Create(&Root);
    }
    void TearDown() override {
        if (Root != nullptr) Dictionary_Release(&Root);
        DictionaryTrackedTest::TearDown();
    }
    DictionaryItem *ByPath(const char *Path, Dictionary **Owner = nullptr) {
        DictionaryItem *Item = nullptr;
        Dictionary *Found = nullptr;
        Dictionary_ItemFindByPath(Root, Path, &Found, &Item);
        if (Owner != nullptr) *Owner = Found;
        return Item;
    }
    std::string PathOf(Dictionary *Owner, DictionaryItem *Item, Dictionary *Stop = nullptr) {
        char Buffer[4096];
        Dictionary_ItemGetPath(Owner, Item, Stop, Buffer, (int32)sizeof(Buffer));
        return Buffer;
    }
};

int32 IgnoreLine(void *, const char *, ...) { return 1; }

DictionaryItem *Nth(Dictionary *Handle, int32 Index) {
    DictionaryItem *Item = nullptr;
    Dictionary_ItemFindByIndex(Handle, Index, nullptr, &Item);
    return Item;
}

} // namespace

// ---- Keys and indexes ----

TEST_F(DictionaryPathTest, KeyLookupUnderstandsTheIndexForm) {
    Dictionary_AddString(Root, "a", "1", nullptr);
    Dictionary_AddString(Root, "b", "2", nullptr);
    Dictionary_AddString(Root, "[-1]", "literal", nullptr);
    DictionaryItem *Item = nullptr;
    EXPECT_EQ(Dictionary_ItemFindByKey(Root, "[1]", nullptr, &Item), 1);
    EXPECT_EQ(Item, Nth(Root, 1));
    EXPECT_EQ(Dictionary_ItemFindByKey(Root, "[x]", nullptr, &Item), 1);
    EXPECT_EQ(Item, Nth(Root, 0));
    EXPECT_EQ(Dictionary_ItemFindByKey(Root, "[-1]", nullptr, &Item), 1);
    EXPECT_EQ(Item, Nth(Root, 2));
    EXPECT_EQ(Dictionary_ItemFindByKey(Root, "[7]", nullptr, &Item), 0);
    EXPECT_EQ(Item, nullptr);
    // From a start item, n counts from there.
    EXPECT_EQ(Dictionary_ItemFindByKey(Root, "[1]", Nth(Root, 1), &Item), 1);
    EXPECT_EQ(Item, Nth(Root, 2));
    // A leading private mark is dropped from the key looked up.
    EXPECT_EQ(Dictionary_ItemFindByKey(Root, "#b", nullptr, &Item), 1);
    EXPECT_EQ(Item, Nth(Root, 1));
    Dictionary_SetPrivateKeys(Root, 0);
    EXPECT_EQ(Dictionary_ItemFindByKey(Root, "#b", nullptr, &Item), 0);
}

TEST_F(DictionaryPathTest, KeysCompareWithOrWithoutCase) {
    Dictionary_AddString(Root, "Name", "v", nullptr);
    EXPECT_EQ(Dictionary_ContainsKey(Root, "name"), 0);
    EXPECT_EQ(Dictionary_ContainsPath(Root, "NAME"), 0);
    Dictionary_SetCaseSensitive(Root, 0);
    EXPECT_EQ(Dictionary_ContainsKey(Root, "name"), 1);
    EXPECT_EQ(Dictionary_ContainsPath(Root, "NAME"), 1);
    EXPECT_EQ(Dictionary_ContainsKey(Root, "nam"), 0);
}

TEST_F(DictionaryPathTest, FindByBufferUsesTextForms) {
    Dictionary_AddNull(Root, "n", nullptr);
    Dictionary_AddBoolean(Root, "b", 0, nullptr);
    Dictionary_AddInt64(Root, "i", 42, nullptr);
    Dictionary_AddString(Root, "s", "", nullptr);
    Dictionary_AddList(Root, "l", nullptr, nullptr);
    DictionaryItem *Item = nullptr;
    EXPECT_EQ(Dictionary_ItemFindByBuffer(Root, "null", 4, nullptr, &Item), 1);
    EXPECT_EQ(Item, Nth(Root, 0));
    EXPECT_EQ(Dictionary_ItemFindByBuffer(Root, "false", 5, nullptr, &Item), 1);
    EXPECT_EQ(Item, Nth(Root, 1));
    EXPECT_EQ(Dictionary_ItemFindByBuffer(Root, "42", 2, nullptr, &Item), 1);
    EXPECT_EQ(Dictionary_ItemFindByBuffer(Root, "4", 1, nullptr, &Item), 0);
    EXPECT_EQ(Dictionary_ItemFindByBuffer(Root, "", 0, nullptr, &Item), 1);
    EXPECT_EQ(Item, Nth(Root, 3)); // the List has no text form
    EXPECT_EQ(Dictionary_ItemFindByBuffer(Root, "null", 4, Nth(Root, 1), &Item), 0);
    EXPECT_EQ(Dictionary_ContainsString(Root, "42"), 1);
    EXPECT_EQ(Dictionary_RemoveByString(Root, "false"), 1);
    EXPECT_EQ(Dictionary_RemoveByString(Root, "false"), 0);
    EXPECT_EQ(RenderDictionary(Root), "{n:null,i:42,s:,l:[]}");
    int32 Type = -1;
    EXPECT_EQ(Dictionary_GetTypeByKey(Root, "l", &Type), 1);
    EXPECT_EQ(Type, DICTIONARY_TYPE_LIST);
    EXPECT_EQ(Dictionary_GetTypeByKey(Root, "zz", &Type), 0);
    EXPECT_EQ(Type, 0);
    EXPECT_EQ(Dictionary_RemoveByKey(Root, "i"), 1);
    EXPECT_EQ(Dictionary_RemoveByKey(Root, "i"), 0);
}

TEST_F(DictionaryPathTest, EnsureCreatesOnlyWhatIsMissing) {
    DictionaryItem *First = nullptr;
    Dictionary_EnsureKey(Root, "k", &First);
    DictionaryItem *Again = nullptr;
    Dictionary_EnsureKey(Root, "k", &Again);
    EXPECT_EQ(First, Again);
    Dictionary *List = nullptr;
    Dictionary_EnsureList(Root, "k", nullptr, &List); // converts the Unknown item
    ASSERT_NE(List, nullptr);
    DictionaryItem *Member = nullptr;
    EXPECT_EQ(Dictionary_EnsureIndex(List, 2, &Member), 1);
    int32 Count = 0;
    Dictionary_ItemGetCount(List, &Count);
    EXPECT_EQ(Count, 3);
    EXPECT_EQ(Member, Nth(List, 2));
    EXPECT_EQ(Dictionary_EnsureIndex(List, -1, &Member), 1);
    EXPECT_EQ(Member, Nth(List, 2));
    EXPECT_EQ(Dictionary_EnsureIndex(List, -4, &Member), 0);
    Dictionary *Inner = nullptr;
    EXPECT_EQ(Dictionary_EnsureDictionaryByIndex(List, 0, nullptr, &Inner), 1);
    Dictionary_SetInt32ByKey(Inner, "x", 5);
    EXPECT_EQ(Dictionary_EnsureListByIndex(List, 4, nullptr, nullptr), 1);
    EXPECT_EQ(RenderDictionary(Root), "{k:[{x:5},?,?,?,[]]}");
    Dictionary *Child = nullptr;
    EXPECT_EQ(Dictionary_GetDictionaryByIndex(List, 0, &Child), 1);
    EXPECT_EQ(Child, Inner);
    EXPECT_EQ(Dictionary_GetListByIndex(List, 0, &Child), 0);
    EXPECT_EQ(Child, nullptr);
    EXPECT_EQ(Dictionary_GetListByIndex(List, -1, &Child), 1);
    EXPECT_EQ(Dictionary_GetListByKey(Root, "k", &Child), 1);
    EXPECT_EQ(Dictionary_GetDictionaryByKey(Root, "k", &Child), 0);
}

TEST_F(DictionaryPathTest, ByKeySettersSetTypeAndValue) {
    Dictionary_SetInt32ByKey(Root, "i", -3);
    Dictionary_SetInt64ByKey(Root, "j", INT64_MAX);
    Dictionary_SetFloat64ByKey(Root, "f", 0.25);
    Dictionary_SetBooleanByKey(Root, "b", 1);
    Dictionary_SetStringByKeyPrint(Root, "p", "%s/%d", "x", 4);
    Dictionary_SetStringByKey(Root, "i", "now text");
    EXPECT_EQ(RenderDictionary(Root), "{i:now text,j:9223372036854775807,f:0.25,b:true,p:x/4}");
    int32 Narrow = 0;
    EXPECT_EQ(Dictionary_GetInt32ByKey(Root, "j", &Narrow), 1);
    EXPECT_EQ(Narrow, -1); // cut to 32 bits
    int32 Type = 0;
    Dictionary_GetTypeByKey(Root, "i", &Type);
    EXPECT_EQ(Type, DICTIONARY_TYPE_STRING);
}

TEST_F(DictionaryPathTest, ListStringsJoinWithoutSeparator) {
    Dictionary *List = nullptr;
    Dictionary_AddList(Root, "l", &List, nullptr);
    Dictionary_AddString(List, nullptr, "ab", nullptr);
    Dictionary_AddInt64(List, nullptr, 5, nullptr);
    Dictionary_AddString(List, nullptr, "cde", nullptr);
    Dictionary_AddString(Root, "s", "single", nullptr);
    Dictionary_AddInt64(Root, "n", 1, nullptr);
    char Buffer[5];
    EXPECT_EQ(Dictionary_GetListStringByKey(Root, "l", Buffer, (int32)sizeof(Buffer)), 1);
    EXPECT_STREQ(Buffer, "abcd");
    char Large[32];
    Dictionary_GetListStringByKey(Root, "l", Large, (int32)sizeof(Large));
    EXPECT_STREQ(Large, "abcde");
    EXPECT_EQ(Dictionary_GetListStringByKey(Root, "s", Large, (int32)sizeof(Large)), 1);
    EXPECT_STREQ(Large, "single");
    EXPECT_EQ(Dictionary_GetListStringByKey(Root, "n", Large, (int32)sizeof(Large)), 0);
    int32 Length = 0;
    EXPECT_EQ(Dictionary_GetListStringLengthByKey(Root, "l", &Length), 1);
    EXPECT_EQ(Length, 5);
    EXPECT_EQ(Dictionary_GetListStringLengthByKey(Root, "s", &Length), 1);
    EXPECT_EQ(Length, 6);
    EXPECT_EQ(Dictionary_GetListStringLengthByKey(Root, "missing", &Length), 0);
}

// ---- Path resolution ----

TEST_F(DictionaryPathTest, SeparatorsAndIndexSelectors) {
    Dictionary *A = nullptr;
    Dictionary_AddDictionary(Root, "a", &A, nullptr);
    DictionaryItem *B = nullptr;
    Dictionary_AddString(A, "b", "bee", &B);
    Dictionary *Owner = nullptr;
    EXPECT_EQ(ByPath("a.b", &Owner), B);
    EXPECT_EQ(Owner, A);
    EXPECT_EQ(ByPath("a\\b"), B);
    EXPECT_EQ(ByPath("a[0]"), B);
    EXPECT_EQ(ByPath("a[-1]"), B);
    EXPECT_EQ(ByPath("a.[0]"), B);
    EXPECT_EQ(ByPath("a..b"), B);
    EXPECT_EQ(ByPath("a[]"), B); // an empty index counts as 0
    EXPECT_EQ(ByPath(""), nullptr);
    EXPECT_EQ(ByPath("a.c"), nullptr);
    EXPECT_EQ(ByPath("a.b.c"), nullptr); // b is a scalar
    EXPECT_EQ(ByPath("#a.b"), B);       // private mark dropped
    Dictionary *List = nullptr;
    Dictionary_AddList(Root, "list", &List, nullptr);
    for (const char *Text : {"x", "y", "z"}) Dictionary_AddString(List, nullptr, Text, nullptr);
    EXPECT_EQ(ByPath("list[-1]"), Nth(List, 2));
    EXPECT_EQ(ByPath("list[-3]"), Nth(List, 0));
    EXPECT_EQ(ByPath("list[-4]"), nullptr);
    EXPECT_EQ(ByPath("list[5]"), nullptr);
    EXPECT_EQ(ByPath("list[99999999999999]"), nullptr);
    EXPECT_EQ(ByPath("list[1x]"), nullptr); // not a number, no '=', no word
}

TEST_F(DictionaryPathTest, RepeatedKeysAreSearchedInTurn) {
    Dictionary *First = nullptr;
    Dictionary_AddDictionary(Root, "server", &First, nullptr);
    Dictionary_AddString(First, "port", "1", nullptr);
    Dictionary *Second = nullptr;
    Dictionary_AddDictionary(Root, "server", &Second, nullptr);
    DictionaryItem *Name = nullptr;
    Dictionary_AddString(Second, "name", "two", &Name);
    Dictionary_AddString(Root, "server", "scalar", nullptr);
    EXPECT_EQ(ByPath("server.name"), Name);
    char Text[16];
    EXPECT_EQ(Dictionary_GetStringByPath(Root, "server.port", Text, (int32)sizeof(Text)), 1);
    EXPECT_STREQ(Text, "1");
}

TEST_F(DictionaryPathTest, MemberTestSelectsTheContainer) {
    EXPECT_EQ(Dictionary_ContainsPath(Root, "[id=7]"), 0); // empty
    Dictionary_AddInt64(Root, "id", 7, nullptr);
    EXPECT_EQ(Dictionary_ContainsPath(Root, "[id=7]"), 0); // a root has no parent item
    Dictionary *Items = nullptr;
    DictionaryItem *ItemsItem = nullptr;
    Dictionary_AddList(Root, "items", &Items, &ItemsItem);
    Dictionary *First = nullptr;
    DictionaryItem *FirstItem = nullptr;
    Dictionary_AddDictionary(Items, nullptr, &First, &FirstItem);
    Dictionary_AddInt64(First, "id", 7, nullptr);
    Dictionary *Second = nullptr;
    DictionaryItem *SecondItem = nullptr;
    Dictionary_AddDictionary(Items, nullptr, &Second, &SecondItem);
    Dictionary_AddInt64(Second, "id", 8, nullptr);
    DictionaryItem *Title = nullptr;
    Dictionary_AddString(Second, "title", "T", &Title);
    Dictionary *Owner = nullptr;
    // The test applies inside the candidate container.
    EXPECT_EQ(ByPath("items[0][id=7].title", &Owner), FirstItem);
    EXPECT_EQ(Owner, Items);
    EXPECT_EQ(ByPath("items[1][id=7]"), nullptr);
    EXPECT_EQ(ByPath("items[1][id=8].title"), Title);
    EXPECT_EQ(ByPath("items[1][ID=8]"), nullptr);
    Dictionary_SetCaseSensitive(Second, 0);
    EXPECT_EQ(ByPath("items[1][ID=8]"), SecondItem);
    // A repeated key tries each candidate: package[-id=core].
    Dictionary *PackageA = nullptr;
    Dictionary_AddDictionary(Root, "package", &PackageA, nullptr);
    Dictionary_AddString(PackageA, "-id", "base", nullptr);
    Dictionary *PackageB = nullptr;
    DictionaryItem *PackageBItem = nullptr;
    Dictionary_AddDictionary(Root, "package", &PackageB, &PackageBItem);
    Dictionary_AddString(PackageB, "-id", "core", nullptr);
    EXPECT_EQ(ByPath("package[-id=core]", &Owner), PackageBItem);
    EXPECT_EQ(Owner, Root);
    // Booleans and nulls match by their text form.
    Dictionary_AddBoolean(PackageA, "on", 1, nullptr);
    EXPECT_EQ(ByPath("package[on=true]"), Nth(Root, 2));
}

TEST_F(DictionaryPathTest, NextAndLastChildWords) {
    Dictionary *A = nullptr;
    Dictionary_AddDictionary(Root, "a", &A, nullptr);
    Dictionary_AddString(A, "x", "1", nullptr);
    Dictionary *B = nullptr;
    DictionaryItem *BItem = nullptr;
    Dictionary_AddDictionary(Root, "b", &B, &BItem);
    DictionaryItem *Y = nullptr;
    Dictionary_AddString(B, "y", "2", &Y);
    DictionaryItem *Z = nullptr;
    Dictionary_AddString(B, "z", "3", &Z);
    Dictionary *Owner = nullptr;
    EXPECT_EQ(ByPath("a[next]", &Owner), BItem);
    EXPECT_EQ(Owner, Root);
    EXPECT_EQ(ByPath("a[NEXT].y"), Y);
    EXPECT_EQ(ByPath("b[next]"), nullptr);
    EXPECT_EQ(ByPath("[next]"), nullptr);
    EXPECT_EQ(ByPath("b[last-child]"), Z);
    EXPECT_EQ(ByPath("[Last-Child]"), BItem);
    EXPECT_EQ(ByPath("[last-child].z"), Z);
    EXPECT_EQ(ByPath("a[other]"), nullptr);
}

// A segment runs to its separator, however far; one longer than any key
// names no item, rather than the one its first 119 bytes name.
TEST_F(DictionaryPathTest, ASegmentLongerThanAKeyNamesNoItem) {
    Dictionary_SetPrintCallback(Root, nullptr, IgnoreLine);
    const std::string Long(130, 'q'), Fits(119, 'q');
    DictionaryItem *Item = nullptr, *Inner = nullptr;
    Dictionary *Child = nullptr;
    Dictionary_AddDictionary(Root, Fits.c_str(), &Child, &Item);
    Dictionary_AddString(Child, "x", "v", &Inner);
    EXPECT_EQ(ByPath(Fits.c_str()), Item);
    EXPECT_EQ(ByPath((Fits + ".x").c_str()), Inner);
    EXPECT_EQ(ByPath(Long.c_str()), nullptr);
    EXPECT_EQ(ByPath((Long + ".x").c_str()), nullptr);
    EXPECT_EQ(ByPath((Fits + "q.x").c_str()), nullptr);
    EXPECT_EQ(ByPath(std::string(118, 'q').c_str()), nullptr);
    // Set by a path whose member no key holds: refused, nothing added.
    int32 Before = 0, After = 0;
    Dictionary_ItemGetCount(Root, &Before);
    EXPECT_EQ(Dictionary_SetStringByPath(Root, (Long + ".y").c_str(), "w"), 0);
    EXPECT_EQ(Dictionary_SetStringByPath(Root, (Fits + "." + Long).c_str(), "w"), 0);
    Dictionary_ItemGetCount(Root, &After);
    EXPECT_EQ(After, Before);
    int32 Inside = 0;
    Dictionary_ItemGetCount(Child, &Inside);
    EXPECT_EQ(Inside, 1);
    EXPECT_EQ(Dictionary_SetStringByPath(Root, (Fits + ".y").c_str(), "w"), 1);
    EXPECT_NE(ByPath((Fits + ".y").c_str()), nullptr);
}

TEST_F(DictionaryPathTest, LongKeysFindTheItemStoredUnderThem) {
    Dictionary_SetPrintCallback(Root, nullptr, IgnoreLine);
    const std::string Long(130, 'k');
    Dictionary_SetStringByKey(Root, Long.c_str(), "1");
    Dictionary_SetStringByKey(Root, Long.c_str(), "2");
    int32 Count = 0;
    Dictionary_ItemGetCount(Root, &Count);
    EXPECT_EQ(Count, 1);
    char Value[8];
    EXPECT_EQ(Dictionary_GetStringByKey(Root, Long.c_str(), Value, (int32)sizeof(Value)), 1);
    EXPECT_STREQ(Value, "2");
    EXPECT_EQ(Dictionary_ContainsKey(Root, std::string(119, 'k').c_str()), 1);
    EXPECT_EQ(Dictionary_ContainsKey(Root, std::string(118, 'k').c_str()), 0);
    // 118 ASCII bytes, then "é" (2 bytes) straddles the 119-byte limit.
    const std::string Split = std::string(118, 's') + "\xc3\xa9" + "tail";
    DictionaryItem *Item = nullptr;
    Dictionary_AddString(Root, Split.c_str(), "v", &Item);
    const char *Key = nullptr;
    Dictionary_ItemGetKeyPtr(Root, Item, &Key);
    EXPECT_EQ(strlen(Key), 118u);
    DictionaryItem *Found = nullptr;
    EXPECT_EQ(Dictionary_ItemFindByKey(Root, Split.c_str(), nullptr, &Found), 1);
    EXPECT_EQ(Found, Item);
    // A path names no item under a key too long to keep whole.
    EXPECT_EQ(ByPath(Split.c_str()), nullptr);
    EXPECT_EQ(ByPath((Split + ".more").c_str()), nullptr);
}

TEST_F(DictionaryPathTest, ByPathGettersConvertLikeItemGetters) {
    Dictionary_SetStringByPath(Root, "a.s", "text");
    Dictionary_SetInt64ByPath(Root, "a.i", 1LL << 40);
    Dictionary_SetFloat64ByPath(Root, "a.f", 2.5);
    Dictionary_SetBooleanByPath(Root, "a.b", 1);
    Dictionary_SetInt32ByPath(Root, "n", 9);
    EXPECT_EQ(RenderDictionary(Root), "{a:{s:text,i:1099511627776,f:2.5,b:true},n:9}");
    int32 Narrow = 1;
    EXPECT_EQ(Dictionary_GetInt32ByPath(Root, "a.i", &Narrow), 1);
    EXPECT_EQ(Narrow, 0);
    int64 Wide = 0;
    EXPECT_EQ(Dictionary_GetInt64ByPath(Root, "a.f", &Wide), 1);
    EXPECT_EQ(Wide, 2);
    float64 Real = 0;
    EXPECT_EQ(Dictionary_GetFloat64ByPath(Root, "a.i", &Real), 1);
    EXPECT_EQ(Real, 1099511627776.0);
    uint32 Flag = 0;
    EXPECT_EQ(Dictionary_GetBooleanByPath(Root, "a.b", &Flag), 1);
    EXPECT_EQ(Flag, 1u);
    EXPECT_EQ(Dictionary_GetBooleanByPath(Root, "a.s", &Flag), 0);
    const char *Text = nullptr;
    int32 Length = 0;
    EXPECT_EQ(Dictionary_GetBufferPtrByPath(Root, "a.b", &Text, &Length), 1);
    EXPECT_EQ(std::string(Text, (size_t)Length), "true");
    EXPECT_EQ(Dictionary_GetStringPtrByPath(Root, "a.s", &Text), 1);
    EXPECT_STREQ(Text, "text");
    Dictionary *Child = nullptr;
    EXPECT_EQ(Dictionary_GetDictionaryByPath(Root, "a", &Child), 1);
    EXPECT_EQ(Dictionary_GetDictionaryByPath(Root, "a.s", &Child), 0);
    EXPECT_EQ(Child, nullptr);
    EXPECT_EQ(Dictionary_GetStringPtrByPath(Root, "missing", &Text), 0);
    EXPECT_EQ(Text, nullptr);
}

// ---- Set by path and Ensure by path ----

TEST_F(DictionaryPathTest, SetByPathCreatesTheParents) {
    EXPECT_EQ(Dictionary_SetStringByPath(Root, "a.b.c", "v"), 1);
    EXPECT_EQ(RenderDictionary(Root), "{a:{b:{c:v}}}");
    Dictionary_SetStringByPath(Root, "a.b.c", "w");
    Dictionary_SetStringByPath(Root, "a.d", "x");
    Dictionary_SetStringByPath(Root, "top", "y");
    EXPECT_EQ(RenderDictionary(Root), "{a:{b:{c:w},d:x},top:y}");
    // Only the last "." splits; the parent part walks as a get would.
    Dictionary *List = nullptr;
    Dictionary_AddList(Root, "l", &List, nullptr);
    Dictionary_AddDictionary(List, nullptr, nullptr, nullptr);
    Dictionary_SetInt64ByPath(Root, "l[0].n", 3);
    EXPECT_EQ(RenderDictionary(Root), "{a:{b:{c:w},d:x},top:y,l:[{n:3}]}");
    // Blanks after a "." are skipped in the parent part.
    Dictionary_SetStringByPath(Root, "a. b.e", "z");
    EXPECT_EQ(RenderDictionary(Root), "{a:{b:{c:w,e:z},d:x},top:y,l:[{n:3}]}");
}

TEST_F(DictionaryPathTest, SetByPathThroughAScalarStoresNothing) {
    Dictionary_SetStringByKey(Root, "a", "scalar");
    EXPECT_EQ(Dictionary_SetStringByPath(Root, "a.b", "v"), 1);
    EXPECT_EQ(Dictionary_SetBooleanByPath(Root, "a.x.y", 1), 1);
    EXPECT_EQ(RenderDictionary(Root), "{a:scalar}");
    // An overlong path is refused.
    const std::string Long = std::string(200, 'p') + "." + std::string(200, 'q');
    EXPECT_EQ(Dictionary_SetStringByPath(Root, Long.c_str(), "v"), 0);
    EXPECT_EQ(RenderDictionary(Root), "{a:scalar}");
}

TEST_F(DictionaryPathTest, EnsureByPathAddsOrFindsContainers) {
    Dictionary *First = nullptr;
    Dictionary *Second = nullptr;
    EXPECT_EQ(Dictionary_EnsureDictionaryByPath(Root, "log~", &First), 1);
    EXPECT_EQ(Dictionary_EnsureDictionaryByPath(Root, "log~", &Second), 1);
    EXPECT_NE(First, Second);
    EXPECT_EQ(RenderDictionary(Root), "{log:{},log:{}}");
    Dictionary *Same = nullptr;
    Dictionary_EnsureDictionaryByPath(Root, "log", &Same);
    EXPECT_EQ(Same, First);
    Dictionary *Empty = nullptr;
    EXPECT_EQ(Dictionary_EnsureDictionaryByPath(Root, "", &Empty), 1);
    EXPECT_EQ(Empty, Root);
    Dictionary *Deep = nullptr;
    Dictionary_EnsureDictionaryByPath(Root, "x.y~.z", &Deep);
    EXPECT_EQ(RenderDictionary(Root), "{log:{},log:{},x:{y:{z:{}}}}");
    Dictionary_SetStringByKey(Root, "s", "v");
    Dictionary *None = Root;
    EXPECT_EQ(Dictionary_EnsureDictionaryByPath(Root, "s.t", &None), 0);
    EXPECT_EQ(None, nullptr);
    // A List found on the way is descended into as well.
    Dictionary *List = nullptr;
    Dictionary_AddList(Root, "l", &List, nullptr);
    Dictionary *Found = nullptr;
    Dictionary_EnsureDictionaryByPath(Root, "l", &Found);
    EXPECT_EQ(Found, List);
}

// ---- Item paths ----

TEST_F(DictionaryPathTest, ItemPathsUseKeysAndIndexes) {
    Dictionary *X = nullptr;
    Dictionary_AddList(Root, "x", &X, nullptr);
    Dictionary_AddString(X, nullptr, "0", nullptr);
    Dictionary_AddString(X, nullptr, "1", nullptr);
    Dictionary *Third = nullptr;
    DictionaryItem *ThirdItem = nullptr;
    Dictionary_AddDictionary(X, nullptr, &Third, &ThirdItem);
    DictionaryItem *Y = nullptr;
    Dictionary_AddString(Third, "y", "v", &Y);
    EXPECT_EQ(PathOf(X, ThirdItem), "x[2]");
    EXPECT_EQ(PathOf(Third, Y), "x[2].y");
    EXPECT_EQ(PathOf(Third, Y, X), "[2].y");
    EXPECT_EQ(PathOf(Third, Y, Third), "y");
    char Buffer[64];
    // A stop that is no ancestor: 0 and the path from the root.
    Dictionary *Other = nullptr;
    Dictionary_Create(&Other);
    EXPECT_EQ(Dictionary_ItemGetPath(Third, Y, Other, Buffer, (int32)sizeof(Buffer)), 0);
    EXPECT_STREQ(Buffer, "x[2].y");
    Dictionary_Release(&Other);
    EXPECT_EQ(Dictionary_ItemGetPath(Third, Y, nullptr, Buffer, 4), 1);
    EXPECT_STREQ(Buffer, "x[2");
    // Nested lists join indexes directly.
    Dictionary *Inner = nullptr;
    Dictionary_AddList(X, nullptr, &Inner, nullptr);
    DictionaryItem *Deep = nullptr;
    Dictionary_AddInt64(Inner, nullptr, 1, &Deep);
    EXPECT_EQ(PathOf(Inner, Deep), "x[3][0]");
    // An empty key adds nothing, so what follows it joins as if it were absent.
    Dictionary *Empty = nullptr;
    Dictionary_AddList(Third, "", &Empty, nullptr);
    DictionaryItem *Member = nullptr;
    Dictionary_AddString(Empty, nullptr, "m", &Member);
    EXPECT_EQ(PathOf(Empty, Member), "x[2][0]");
    DictionaryItem *Named = nullptr;
    Dictionary *EmptyDictionary = nullptr;
    Dictionary_AddDictionary(Third, "", &EmptyDictionary, nullptr);
    Dictionary_AddString(EmptyDictionary, "n", "v", &Named);
    EXPECT_EQ(PathOf(EmptyDictionary, Named), "x[2]..n");
}

// Random trees of Dictionaries and Lists: the path of every item resolves to
// that item, from the root and from every ancestor used as the stop.
TEST_F(DictionaryPathTest, ItemPathsRoundTripOnRandomTrees) {
    std::mt19937 Random(1111);
    for (int32 Tree = 0; Tree < 20; Tree++) {
        Dictionary_Reset(Root);
        std::vector<std::pair<Dictionary *, DictionaryItem *>> Items;
        std::vector<Dictionary *> Containers = {Root};
        std::vector<bool> IsList = {false};
        int32 NextKey = 0;
        for (int32 Step = 0; Step < 400; Step++) {
            const size_t Pick = Random() % Containers.size();
            Dictionary *Container = Containers[Pick];
            char Key[48];
            // Keys unique within the tree, some with blanks, digits, '-' and '='.
            String_Print(Key, (int32)sizeof(Key), Random() % 4 == 0 ? "k-%d x=y" : "K%d", NextKey++);
            const char *UseKey = IsList[Pick] ? nullptr : Key;
            DictionaryItem *Item = nullptr;
            Dictionary *Child = nullptr;
            switch (Random() % 5) {
            case 0:
                Dictionary_AddList(Container, UseKey, &Child, &Item);
                Containers.push_back(Child);
                IsList.push_back(true);
                break;
            case 1:
                Dictionary_AddDictionary(Container, UseKey, &Child, &Item);
                Containers.push_back(Child);
                IsList.push_back(false);
                break;
            case 2:
                Dictionary_AddInt64(Container, UseKey, Step, &Item);
                break;
            default:
                Dictionary_AddString(Container, UseKey, Key, &Item);
                break;
            }
            Items.push_back({Container, Item});
        }
        for (const auto &[Owner, Item] : Items) {
            const std::string Path = PathOf(Owner, Item);
            Dictionary *FoundOwner = nullptr;
            DictionaryItem *Found = nullptr;
            ASSERT_EQ(Dictionary_ItemFindByPath(Root, Path.c_str(), &FoundOwner, &Found), 1) << Path;
            ASSERT_EQ(Found, Item) << Path;
            ASSERT_EQ(FoundOwner, Owner) << Path;
            // Relative to each ancestor container.
            Dictionary *Parent = nullptr;
            DictionaryItem *ParentItem = nullptr;
            for (Dictionary *Stop = Owner; Stop != nullptr;) {
                const std::string Relative = PathOf(Owner, Item, Stop);
                Found = nullptr;
                // A path that begins with an index is resolved in the stop itself.
                ASSERT_EQ(Dictionary_ItemFindByPath(Stop, Relative.c_str(), nullptr, &Found), 1) << Relative;
                ASSERT_EQ(Found, Item) << Relative;
                if (!Dictionary_GetParent(Stop, &Parent, &ParentItem)) break;
                Stop = Parent;
            }
        }
    }
}

// ---- Path text ----

TEST(DictionaryPathText, KeyParentAndRoot) {
    RuntimeScope Runtime;
    char Buffer[64];
    Dictionary_PathGetKey("a.b[2]", Buffer, (int32)sizeof(Buffer));
    EXPECT_STREQ(Buffer, "[2]");
    Dictionary_PathGetKey("a.b", Buffer, (int32)sizeof(Buffer));
    EXPECT_STREQ(Buffer, "b");
    Dictionary_PathGetKey("a\\c", Buffer, (int32)sizeof(Buffer));
    EXPECT_STREQ(Buffer, "c");
    Dictionary_PathGetKey("plain", Buffer, (int32)sizeof(Buffer));
    EXPECT_STREQ(Buffer, "plain");
    EXPECT_EQ(Dictionary_PathGetParent("a.b[2]", Buffer, (int32)sizeof(Buffer)), 1);
    EXPECT_STREQ(Buffer, "a.b");
    EXPECT_EQ(Dictionary_PathGetParent("a", Buffer, (int32)sizeof(Buffer)), 0);
    EXPECT_STREQ(Buffer, "");
    EXPECT_EQ(Dictionary_PathGetParent(".a", Buffer, (int32)sizeof(Buffer)), 0);
    EXPECT_EQ(Dictionary_PathGetParent("a\\b.c", Buffer, 3), 1);
    EXPECT_STREQ(Buffer, "a\\");
    EXPECT_EQ(Dictionary_PathHasParent("a.b"), 1);
    EXPECT_EQ(Dictionary_PathHasParent("[2]"), 0);
    EXPECT_EQ(Dictionary_PathHasParent("a"), 0);
    EXPECT_EQ(Dictionary_PathSkipRoot("a.b.c", Buffer, (int32)sizeof(Buffer)), 1);
    EXPECT_STREQ(Buffer, "b.c");
    EXPECT_EQ(Dictionary_PathSkipRoot("[2].name", Buffer, (int32)sizeof(Buffer)), 1);
    EXPECT_STREQ(Buffer, "name");
    EXPECT_EQ(Dictionary_PathSkipRoot("a\\\\b", Buffer, (int32)sizeof(Buffer)), 1);
    EXPECT_STREQ(Buffer, "b");
    EXPECT_EQ(Dictionary_PathSkipRoot("single", Buffer, (int32)sizeof(Buffer)), 0);
    EXPECT_STREQ(Buffer, "single");
}
