// Dictionary records, items, values and change reports: options, keys
// (private marks, the 119-byte cut at a UTF-8 boundary), duplicates,
// typed values and their conversions (number reads checked against Python's
// float()/int()), change reports (child first, relative paths, nothing for
// unchanged values), the operation table, the dump, and memory: every tree
// released leaves no bytes behind, with tracking on and with pools in debug
// mode, and misuse of a child container is a clear fatal stop.
#include "runtime/containers/dictionary.h"

#include <gtest/gtest.h>
#include <math.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/containers/dictionary_internal.h"
#include "runtime/memory.h"
#include "runtime/text/string.h"
#include "runtime/text/string_print.h"
#include "tests/runtime/containers/dictionary_render.h"
#include "tests/support/dictionary_tracked.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"

namespace {

class DictionaryTest : public DictionaryTrackedTest {
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
    std::string Render() { return RenderDictionary(Root); }
};

// Change reports recorded as text: "<level> <kind> <path> <old>".
struct Recorder {
    std::vector<std::string> Events;
};
struct Tag {
    Recorder *Log;
    const char *Name;
};

int32 OnRemove(Dictionary *, DictionaryItem *, void *User, const char *Path) {
    Tag *Level = static_cast<Tag *>(User);
    Level->Log->Events.push_back(std::string(Level->Name) + " remove " + Path);
    return 1;
}
int32 OnKey(Dictionary *, DictionaryItem *, void *User, const char *Path, const char *OldKey) {
    Tag *Level = static_cast<Tag *>(User);
    Level->Log->Events.push_back(std::string(Level->Name) + " key " + Path + " " + (OldKey ? OldKey : "(null)"));
    return 1;
}
int32 OnValue(Dictionary *, DictionaryItem *, void *User, const char *Path, const char *Old, int32 OldLength) {
    Tag *Level = static_cast<Tag *>(User);
    Level->Log->Events.push_back(std::string(Level->Name) + " value " + Path + " " +
                                 (Old ? std::string(Old, (size_t)OldLength) : "(null)"));
    return 1;
}

void Watch(Dictionary *Handle, Tag *Level) {
    Dictionary_SetItemRemoveCallback(Handle, Level, OnRemove);
    Dictionary_SetItemKeyChangeCallback(Handle, Level, OnKey);
    Dictionary_SetItemValueChangeCallback(Handle, Level, OnValue);
}

// Print lines captured without their "Dictionary.<id> - " prefix.
int32 CaptureLine(void *User, const char *Format, ...) {
    char Line[4096];
    va_list Arguments;
    va_start(Arguments, Format);
    String_VPrint(Line, (int32)sizeof(Line), Format, Arguments);
    va_end(Arguments);
    std::string Text = Line;
    const size_t Dash = Text.find(" - ");
    if (Dash != std::string::npos) Text = Text.substr(Dash + 3);
    if (!Text.empty() && Text.back() == '\n') Text.pop_back();
    static_cast<std::vector<std::string> *>(User)->push_back(Text);
    return 1;
}

int32 IgnoreLine(void *, const char *, ...) { return 1; }

// Print lines captured whole, prefix included.
int32 CaptureWholeLine(void *User, const char *Format, ...) {
    char Line[4096];
    va_list Arguments;
    va_start(Arguments, Format);
    String_VPrint(Line, (int32)sizeof(Line), Format, Arguments);
    va_end(Arguments);
    static_cast<std::vector<std::string> *>(User)->push_back(Line);
    return 1;
}

std::string KeyOf(Dictionary *Handle, DictionaryItem *Item) {
    const char *Key = nullptr;
    return Dictionary_ItemGetKeyPtr(Handle, Item, &Key) ? Key : "(none)";
}

} // namespace

// ---- Create and options ----

TEST_F(DictionaryTest, NewDictionaryHasTheDefaults) {
    uint32 Value = 99;
    Dictionary_GetCaseSensitive(Root, &Value);
    EXPECT_EQ(Value, 1u);
    Dictionary_GetPrivateKeys(Root, &Value);
    EXPECT_EQ(Value, 1u);
    Dictionary_GetAllowDuplicates(Root, &Value);
    EXPECT_EQ(Value, 1u);
    Dictionary_GetStringPool(Root, &Value);
    EXPECT_EQ(Value, 0u);
    int32 Count = -1;
    Dictionary_ItemGetCount(Root, &Count);
    EXPECT_EQ(Count, 0);
    DictionaryItem *Item = reinterpret_cast<DictionaryItem *>(1);
    EXPECT_EQ(Dictionary_ItemGetFirst(Root, &Item), 0);
    EXPECT_EQ(Item, nullptr);
    Dictionary *Parent = nullptr;
    DictionaryItem *ParentItem = nullptr;
    EXPECT_EQ(Dictionary_GetParent(Root, &Parent, &ParentItem), 0);
    EXPECT_EQ(reinterpret_cast<DictionaryHeader *>(Root)->Vtbl, &GlobalDictionaryVtbl);
}

TEST_F(DictionaryTest, ChildCopiesOptionsButNotLaterChanges) {
    Dictionary_SetCaseSensitive(Root, 0);
    Dictionary_SetPrivateKeys(Root, 0);
    Dictionary *Child = nullptr;
    DictionaryItem *Holder = nullptr;
    Dictionary_AddDictionary(Root, "c", &Child, &Holder);
    Dictionary_SetCaseSensitive(Root, 1);
    uint32 Value = 9;
    Dictionary_GetCaseSensitive(Child, &Value);
    EXPECT_EQ(Value, 0u);
    Dictionary_GetPrivateKeys(Child, &Value);
    EXPECT_EQ(Value, 0u);
    Dictionary *Parent = nullptr;
    DictionaryItem *ParentItem = nullptr;
    EXPECT_EQ(Dictionary_GetParent(Child, &Parent, &ParentItem), 1);
    EXPECT_EQ(Parent, Root);
    EXPECT_EQ(ParentItem, Holder);
    EXPECT_EQ(reinterpret_cast<DictionaryHeader *>(Child)->Vtbl, &GlobalDictionaryVtbl);
    EXPECT_EQ(reinterpret_cast<ClassStruct *>(Child)->RefCount, 0);
}

// Options keep the value given, whatever its size, and a child made later
// reads the same values; any value other than 1 means off for the options
// tested against 1.
TEST_F(DictionaryTest, OptionsStoreEveryValueUnchanged) {
    using Setter = int32 (*)(Dictionary *, uint32);
    using Getter = int32 (*)(Dictionary *, uint32 *);
    const struct {
        Setter Set;
        Getter Get;
    } Options[] = {{Dictionary_SetCaseSensitive, Dictionary_GetCaseSensitive},
                   {Dictionary_SetPrivateKeys, Dictionary_GetPrivateKeys},
                   {Dictionary_SetAllowDuplicates, Dictionary_GetAllowDuplicates},
                   {Dictionary_SetStringPool, Dictionary_GetStringPool}};
    for (uint32 Value : {0u, 1u, 2u, 254u, 255u, 256u, 70000u, 0xffffffffu}) {
        for (const auto &Option : Options) {
            Dictionary *Tree = nullptr;
            Dictionary_Create(&Tree);
            Option.Set(Tree, Value);
            Dictionary *Child = nullptr;
            Dictionary_AddDictionary(Tree, "c", &Child, nullptr);
            Option.Set(Tree, 3);
            uint32 Read = 7;
            Option.Get(Tree, &Read);
            EXPECT_EQ(Read, 3u);
            Option.Get(Child, &Read);
            EXPECT_EQ(Read, Value);
            Dictionary_Release(&Tree);
        }
    }
    // A large value is not 1: private marks stay part of the key.
    Dictionary_SetPrivateKeys(Root, 257);
    DictionaryItem *Item = nullptr;
    Dictionary_Add(Root, "#kept", &Item);
    EXPECT_EQ(KeyOf(Root, Item), "#kept");
}

TEST_F(DictionaryTest, GetInstanceIdCopiesAtMostSizeMinusOne) {
    memcpy(Root->Class.InstanceId, "0123456789abcdef0123456789abcdef", 33);
    char Full[64];
    Dictionary_GetInstanceId(Root, Full, (int32)sizeof(Full));
    EXPECT_EQ(strlen(Full), 32u);
    char Short[10];
    memset(Short, 'x', sizeof(Short));
    Dictionary_GetInstanceId(Root, Short, (int32)sizeof(Short));
    EXPECT_EQ(std::string(Short), std::string(Full, 9));
    char One[1] = {'x'};
    Dictionary_GetInstanceId(Root, One, 1);
    EXPECT_EQ(One[0], 0);
}

// ---- Insert, order and duplicates ----

TEST_F(DictionaryTest, InsertLinksAfterTheGivenItemOrAtTheFront) {
    DictionaryItem *A = nullptr;
    DictionaryItem *B = nullptr;
    Dictionary_Insert(Root, nullptr, "a", &A);
    Dictionary_Insert(Root, nullptr, "b", &B); // front
    Dictionary_Insert(Root, B, "c", nullptr);  // after b
    Dictionary_Insert(Root, A, "d", nullptr);  // after a, the last
    EXPECT_EQ(Render(), "{b:?,c:?,a:?,d:?}");
    int32 Index = -1;
    Dictionary_ItemGetIndex(Root, A, &Index);
    EXPECT_EQ(Index, 2);
    DictionaryItem *Last = nullptr;
    Dictionary_ItemGetLast(Root, &Last);
    DictionaryItem *Prev = nullptr;
    Dictionary_ItemGetPrev(Root, Last, &Prev);
    EXPECT_EQ(Prev, A);
}

TEST_F(DictionaryTest, InsertSortedPlacesBeforeTheFirstAcceptedItem) {
    auto Compare = [](Dictionary *Handle, DictionaryItem *Item, const char *Key, void *) -> int32 {
        return strcmp(KeyOf(Handle, Item).c_str(), Key) > 0;
    };
    for (const char *Key : {"m", "c", "x", "a", "n"}) Dictionary_InsertSorted(Root, Key, nullptr, nullptr, Compare);
    EXPECT_EQ(Render(), "{a:?,c:?,m:?,n:?,x:?}");
}

TEST_F(DictionaryTest, DuplicatesAreKeptUnlessDisallowed) {
    DictionaryItem *First = nullptr;
    DictionaryItem *Second = nullptr;
    Dictionary_Add(Root, "k", &First);
    Dictionary_Add(Root, "k", &Second);
    EXPECT_NE(First, Second);
    Dictionary_SetAllowDuplicates(Root, 0);
    DictionaryItem *Again = nullptr;
    Dictionary_AddString(Root, "k", "new", &Again);
    EXPECT_EQ(Again, First);
    EXPECT_EQ(Render(), "{k:new,k:?}");
    // The lookup behind the duplicate check drops a private mark as well.
    Dictionary_AddInt64(Root, "#k", 5, &Again);
    EXPECT_EQ(Again, First);
    EXPECT_EQ(Render(), "{k:5,k:?}");
}

TEST_F(DictionaryTest, RemoveUnlinksAndClearsTheHandle) {
    DictionaryItem *Middle = nullptr;
    Dictionary_AddString(Root, "a", "1", nullptr);
    Dictionary_AddString(Root, "b", "2", &Middle);
    Dictionary_AddString(Root, "c", "3", nullptr);
    EXPECT_EQ(Dictionary_Remove(Root, &Middle), 1);
    EXPECT_EQ(Middle, nullptr);
    EXPECT_EQ(Render(), "{a:1,c:3}");
    int32 Count = 0;
    Dictionary_ItemGetCount(Root, &Count);
    EXPECT_EQ(Count, 2);
}

// ---- Keys ----

TEST_F(DictionaryTest, PrivateMarkIsDroppedAndReportedOnlyWhilePrivateKeysIsOn) {
    DictionaryItem *Item = nullptr;
    Dictionary_AddString(Root, "#hidden", "x", &Item);
    EXPECT_EQ(KeyOf(Root, Item), "hidden");
    uint32 Flag = 0;
    Dictionary_ItemGetPrivate(Root, Item, &Flag);
    EXPECT_EQ(Flag, 1u);
    Dictionary_SetPrivateKeys(Root, 0);
    Dictionary_ItemGetPrivate(Root, Item, &Flag);
    EXPECT_EQ(Flag, 0u);
    DictionaryItem *Literal = nullptr;
    Dictionary_AddString(Root, "#hidden", "y", &Literal);
    EXPECT_EQ(KeyOf(Root, Literal), "#hidden");
    Dictionary_SetPrivateKeys(Root, 1);
    // A later key without the mark clears the flag; SetPrivate sets it.
    Dictionary_ItemSetKey(Root, Item, ".dot");
    Dictionary_ItemGetPrivate(Root, Item, &Flag);
    EXPECT_EQ(Flag, 1u);
    EXPECT_EQ(KeyOf(Root, Item), "dot");
    Dictionary_ItemSetKey(Root, Item, "plain");
    Dictionary_ItemGetPrivate(Root, Item, &Flag);
    EXPECT_EQ(Flag, 0u);
    Dictionary_ItemSetPrivate(Root, Item, 1);
    Dictionary_ItemGetPrivate(Root, Item, &Flag);
    EXPECT_EQ(Flag, 1u);
    Dictionary_ItemSetPrivate(Root, Item, 2);
    Dictionary_ItemGetPrivate(Root, Item, &Flag);
    EXPECT_EQ(Flag, 0u);
}

TEST_F(DictionaryTest, LongKeysAreCutTo119BytesWithOnePrint) {
    std::vector<std::string> Lines;
    Dictionary_SetPrintCallback(Root, &Lines, CaptureLine);
    const std::string Long(130, 'k');
    DictionaryItem *Item = nullptr;
    Dictionary_Add(Root, Long.c_str(), &Item);
    EXPECT_EQ(KeyOf(Root, Item), Long.substr(0, 119));
    ASSERT_EQ(Lines.size(), 1u);
    EXPECT_EQ(Lines[0], "Key exceeds maximum length " + Long + " (130 > 119)");

    Lines.clear();
    const std::string Exact(119, 'e');
    Dictionary_Add(Root, Exact.c_str(), &Item);
    EXPECT_EQ(KeyOf(Root, Item), Exact);
    EXPECT_TRUE(Lines.empty());
    // The private mark is dropped before the length is judged.
    Dictionary_Add(Root, ("#" + Exact).c_str(), &Item);
    EXPECT_EQ(KeyOf(Root, Item), Exact);
    EXPECT_TRUE(Lines.empty());
}

TEST_F(DictionaryTest, LongKeyIsCutAtACharacterBoundary) {
    Dictionary_SetPrintCallback(Root, nullptr, IgnoreLine);
    // 118 ASCII bytes, then a 3-byte character straddling byte 119.
    const std::string Key = std::string(118, 'a') + "\xE2\x82\xAC" + "tail";
    DictionaryItem *Item = nullptr;
    Dictionary_Add(Root, Key.c_str(), &Item);
    EXPECT_EQ(KeyOf(Root, Item), std::string(118, 'a'));
    // A character ending exactly at byte 119 stays.
    const std::string Fits = std::string(116, 'b') + "\xE2\x82\xAC" + "tail";
    Dictionary_Add(Root, Fits.c_str(), &Item);
    EXPECT_EQ(KeyOf(Root, Item), Fits.substr(0, 119));
}

TEST_F(DictionaryTest, KeyLengthAndEmptyAndMissingKeys) {
    DictionaryItem *Item = nullptr;
    Dictionary_Add(Root, nullptr, &Item);
    const char *Key = reinterpret_cast<const char *>(1);
    EXPECT_EQ(Dictionary_ItemGetKeyPtr(Root, Item, &Key), 0);
    EXPECT_EQ(Key, nullptr);
    char Buffer[8] = "junk";
    EXPECT_EQ(Dictionary_ItemGetKey(Root, Item, Buffer, (int32)sizeof(Buffer)), 0);
    EXPECT_STREQ(Buffer, "");
    Dictionary_ItemSetKeyLength(Root, Item, "abcdef", 3);
    EXPECT_EQ(KeyOf(Root, Item), "abc");
    Dictionary_ItemSetKey(Root, Item, "");
    EXPECT_EQ(Dictionary_ItemGetKeyPtr(Root, Item, &Key), 1);
    EXPECT_STREQ(Key, "");
    Dictionary_ItemSetKey(Root, Item, "longer-key");
    EXPECT_EQ(Dictionary_ItemGetKey(Root, Item, Buffer, 5), 1);
    EXPECT_STREQ(Buffer, "long");
}

// ---- Types and values ----

TEST_F(DictionaryTest, TypedAdditionsStoreTheirTextForms) {
    Dictionary_AddNull(Root, "n", nullptr);
    Dictionary_AddBoolean(Root, "t", 1, nullptr);
    Dictionary_AddBoolean(Root, "f", 2, nullptr); // only 1 is true
    Dictionary_AddInt32(Root, "i", -7, nullptr);
    Dictionary_AddInt64(Root, "j", INT64_MIN, nullptr);
    Dictionary_AddFloat64(Root, "x", 0.5, nullptr);
    Dictionary_AddString(Root, "s", "", nullptr);
    Dictionary_AddList(Root, "l", nullptr, nullptr);
    Dictionary_AddDictionary(Root, "d", nullptr, nullptr);
    EXPECT_EQ(Render(), "{n:null,t:true,f:false,i:-7,j:-9223372036854775808,x:0.5,s:,l:[],d:{}}");
    const char *Text = nullptr;
    int32 Length = -1;
    EXPECT_EQ(Dictionary_GetBufferPtrByKey(Root, "l", &Text, &Length), 0);
    EXPECT_EQ(Text, nullptr);
    EXPECT_EQ(Dictionary_GetBufferPtrByKey(Root, "s", &Text, &Length), 1);
    EXPECT_STREQ(Text, "");
    EXPECT_EQ(Length, 0);
    EXPECT_STREQ(Dictionary_TranslateType(9), "Unknown");
    EXPECT_STREQ(Dictionary_TranslateType(-1), "Unknown");
    EXPECT_STREQ(Dictionary_TranslateType(DICTIONARY_TYPE_DICTIONARY), "Dictionary");
    for (int32 Type = 0; Type < 8; Type++) EXPECT_EQ(Dictionary_TypeStringTable[Type].Type, Type);
}

TEST_F(DictionaryTest, GettersRefuseOtherTypes) {
    Dictionary_AddString(Root, "s", "12", nullptr);
    Dictionary_AddBoolean(Root, "b", 1, nullptr);
    Dictionary_AddInt64(Root, "i", 3, nullptr);
    int64 Wide = 99;
    EXPECT_EQ(Dictionary_GetInt64ByKey(Root, "s", &Wide), 0);
    EXPECT_EQ(Wide, 0);
    EXPECT_EQ(Dictionary_GetInt64ByKey(Root, "b", &Wide), 0);
    uint32 Flag = 7;
    EXPECT_EQ(Dictionary_GetBooleanByKey(Root, "i", &Flag), 0);
    EXPECT_EQ(Flag, 0u);
    char Buffer[8] = "junk";
    EXPECT_EQ(Dictionary_GetStringByKey(Root, "i", Buffer, (int32)sizeof(Buffer)), 0);
    EXPECT_STREQ(Buffer, "");
    const char *Text = "junk";
    EXPECT_EQ(Dictionary_GetStringPtrByKey(Root, "b", &Text), 0);
    EXPECT_EQ(Text, nullptr);
    float64 Real = 1;
    EXPECT_EQ(Dictionary_GetFloat64ByKey(Root, "i", &Real), 1);
    EXPECT_EQ(Real, 3.0);
    EXPECT_EQ(Dictionary_GetStringByKey(Root, "s", Buffer, 2), 1);
    EXPECT_STREQ(Buffer, "1");
}

TEST_F(DictionaryTest, FloatTextsReadAsIntegersByValue) {
    DictionaryItem *Item = nullptr;
    Dictionary_AddFloat64(Root, "half", 0.5, &Item);
    int64 Wide = 9;
    EXPECT_EQ(Dictionary_ItemGetInt64(Root, Item, &Wide), 1);
    EXPECT_EQ(Wide, 0);
    Dictionary_AddFloat64(Root, "big", 1.7e12, &Item);
    const char *Text = nullptr;
    Dictionary_ItemGetBufferPtr(Root, Item, &Text, nullptr);
    EXPECT_STREQ(Text, "1.7e+12");
    Dictionary_ItemGetInt64(Root, Item, &Wide);
    EXPECT_EQ(Wide, 1700000000000LL);
    struct {
        const char *Text;
        int64 Integer;
        float64 Real;
    } Cases[] = {
        {"1.7e+12", 1700000000000LL, 1.7e12},
        {"1E3", 1000, 1000.0},
        {"+1", 1, 1.0},
        {"0x1F", 31, 31.0},
        {"-2.9", -2, -2.9},
        {"1e400", INT64_MAX, HUGE_VAL},
        {"-1e400", INT64_MIN, -HUGE_VAL},
        {"1e-400", 0, 0.0},
        {"9223372036854775807", INT64_MAX, 9223372036854775807.0},
        {"99999999999999999999", INT64_MAX, 1e20},
        {"nan", 0, 0.0},
        {"12abc", 12, 12.0},
        {"abc", 0, 0.0},
    };
    for (const auto &Case : Cases) {
        Dictionary_ItemSetBuffer(Root, Item, Case.Text, (int32)strlen(Case.Text));
        Dictionary_ItemGetInt64(Root, Item, &Wide);
        EXPECT_EQ(Wide, Case.Integer) << Case.Text;
        float64 Real = 0;
        Dictionary_ItemGetFloat64(Root, Item, &Real);
        if (strcmp(Case.Text, "nan") != 0) {
            EXPECT_EQ(Real, Case.Real) << Case.Text;
        }
    }
    // Out of range on the side its digits put it, whatever its exponent's sign.
    for (const auto &[Text, Real] : {std::pair{"1" + std::string(400, '0') + "e-10", HUGE_VAL},
                                     {"0." + std::string(330, '0') + "1", 0.0}, {"-0." + std::string(330, '0') + "1e2", -0.0}}) {
        float64 Read = 1;
        Dictionary_ItemSetBuffer(Root, Item, Text.c_str(), (int32)Text.size());
        Dictionary_ItemGetFloat64(Root, Item, &Read);
        EXPECT_TRUE(Read == Real && signbit(Read) == signbit(Real)) << Text;
    }
    int32 Narrow = 0;
    Dictionary_ItemSetBuffer(Root, Item, "1e10", 4);
    Dictionary_ItemGetInt32(Root, Item, &Narrow);
    EXPECT_EQ(Narrow, (int32)(uint32)10000000000ULL);
}

TEST_F(DictionaryTest, NumberReadsMatchPython) {
    const std::string Vectors = RunPython(R"(
import random, math
random.seed(1110)
texts = ['0', '-0', '1e308', '4.9e-324', '2e-308', '123456789012345678', '-9223372036854775808',
         '9223372036854775808', '1.5e19', '-1.5e19', 'inf', '-inf', '.5', '5.', '1e+0']
for i in range(3000):
    x = random.uniform(-1, 1) * 10 ** random.randint(-30, 30)
    f = random.choice(['%g', '%e', '%.15g', '%.3e', 'r', '%f', '%.17g', '%E'])
    texts.append(repr(x) if f == 'r' else f % x)
for t in texts:
    v = float(t)
    if math.isnan(v): i = 0
    elif v >= 2.0 ** 63: i = 2 ** 63 - 1
    elif v <= -2.0 ** 63: i = -2 ** 63
    else: i = int(v)
    if 'e' not in t.lower() and '.' not in t and 'inf' not in t:
        i = max(-2 ** 63, min(2 ** 63 - 1, int(t)))
    print(t, i, v.hex())
)");
    std::istringstream Lines(Vectors);
    DictionaryItem *Item = nullptr;
    Dictionary_AddFloat64(Root, "x", 0, &Item);
    std::string Text;
    long long Expected = 0;
    std::string Hex;
    int32 Checked = 0;
    while (Lines >> Text >> Expected >> Hex) {
        Dictionary_ItemSetBuffer(Root, Item, Text.data(), (int32)Text.size());
        int64 Wide = 0;
        Dictionary_ItemGetInt64(Root, Item, &Wide);
        ASSERT_EQ(Wide, Expected) << Text;
        int32 Narrow = 0;
        Dictionary_ItemGetInt32(Root, Item, &Narrow);
        ASSERT_EQ(Narrow, (int32)(uint32)(uint64)Expected) << Text;
        float64 Real = 0;
        Dictionary_ItemGetFloat64(Root, Item, &Real);
        ASSERT_EQ(Real, strtod(Hex.c_str(), nullptr)) << Text;
        Checked++;
    }
    EXPECT_EQ(Checked, 3015);
}

TEST_F(DictionaryTest, SetBufferOnBooleanReadsTheFirstLetter) {
    DictionaryItem *Item = nullptr;
    Dictionary_AddBoolean(Root, "b", 0, &Item);
    uint32 Flag = 0;
    Dictionary_ItemSetBuffer(Root, Item, "True", 4);
    Dictionary_ItemGetBoolean(Root, Item, &Flag);
    EXPECT_EQ(Flag, 1u);
    Dictionary_ItemSetBuffer(Root, Item, "", 0);
    Dictionary_ItemGetBoolean(Root, Item, &Flag);
    EXPECT_EQ(Flag, 1u);
    Dictionary_ItemSetBuffer(Root, Item, "yes", 3);
    Dictionary_ItemGetBoolean(Root, Item, &Flag);
    EXPECT_EQ(Flag, 0u);
    Dictionary_ItemSetBuffer(Root, Item, "t", 1);
    Dictionary_ItemGetBoolean(Root, Item, &Flag);
    EXPECT_EQ(Flag, 1u);
    const char *Text = nullptr;
    int32 Length = 0;
    Dictionary_ItemGetBufferPtr(Root, Item, &Text, &Length);
    EXPECT_EQ(std::string(Text, (size_t)Length), "true");
}

TEST_F(DictionaryTest, NullItemsIgnoreValues) {
    DictionaryItem *Item = nullptr;
    Dictionary_AddNull(Root, "n", &Item);
    Dictionary_ItemSetString(Root, Item, "text");
    Dictionary_ItemSetStringPrint(Root, Item, "%d", 5);
    Dictionary_ItemSetBuffer(Root, Item, "abc", 3);
    EXPECT_EQ(Dictionary_ItemSetNull(Root, Item), 1);
    EXPECT_EQ(Render(), "{n:null}");
    EXPECT_EQ(Dictionary_ItemIsNull(Root, Item), 1);
}

TEST_F(DictionaryTest, SettersKeepTheTypeAndFormatNumbers) {
    DictionaryItem *Item = nullptr;
    Dictionary_AddString(Root, "s", "x", &Item);
    Dictionary_ItemSetInt32(Root, Item, -12);
    Dictionary_ItemSetFloat64(Root, Item, 2.5); // still a String
    EXPECT_EQ(Render(), "{s:2.5}");
    EXPECT_EQ(Dictionary_ItemCompareType(Root, Item, DICTIONARY_TYPE_STRING), 1);
    Dictionary_ItemSetStringPrint(Root, Item, "%s-%lld-%s", "a", (long long)INT64_MAX, std::string(600, 'z').c_str());
    const char *Text = nullptr;
    Dictionary_ItemGetStringPtr(Root, Item, &Text);
    EXPECT_EQ(std::string(Text), "a-9223372036854775807-" + std::string(600, 'z'));
    Dictionary_ItemSetStringPrint(Root, Item, "%s", "");
    Dictionary_ItemGetStringPtr(Root, Item, &Text);
    EXPECT_STREQ(Text, "");
    // An unknown item may hold a value too, without reports.
    DictionaryItem *Unknown = nullptr;
    Dictionary_Add(Root, "u", &Unknown);
    Dictionary_ItemSetString(Root, Unknown, "raw");
    int32 Length = 0;
    EXPECT_EQ(Dictionary_ItemGetBufferPtr(Root, Unknown, &Text, &Length), 1);
    EXPECT_EQ(Length, 3);
}

TEST_F(DictionaryTest, SetTypeConvertsAndReplacesTheChild) {
    DictionaryItem *Item = nullptr;
    Dictionary_AddString(Root, "s", "text", &Item);
    Dictionary_ItemSetType(Root, Item, DICTIONARY_TYPE_LIST);
    Dictionary *Child = nullptr;
    ASSERT_EQ(Dictionary_ItemGetDictionaryHandle(Root, Item, &Child), 1);
    Dictionary_AddString(Child, nullptr, "member", nullptr);
    EXPECT_EQ(Render(), "{s:[member]}");
    EXPECT_EQ(Dictionary_ItemIsContainer(Root, Item), 1);
    uint32 Active = 0;
    Pool_GetActiveCount(DictionaryInt_RootRecord(Root)->ContainerPool, &Active);
    EXPECT_EQ(Active, 1u);
    Dictionary_ItemSetType(Root, Item, DICTIONARY_TYPE_STRING);
    EXPECT_EQ(Dictionary_ItemGetDictionaryHandle(Root, Item, &Child), 0);
    Pool_GetActiveCount(DictionaryInt_RootRecord(Root)->ContainerPool, &Active);
    EXPECT_EQ(Active, 0u);
    EXPECT_EQ(Render(), "{s:}");
    // The same type changes nothing; a type outside the table is refused.
    Dictionary_ItemSetString(Root, Item, "kept");
    EXPECT_EQ(Dictionary_ItemSetType(Root, Item, DICTIONARY_TYPE_STRING), 1);
    EXPECT_EQ(Dictionary_ItemSetType(Root, Item, 9), 0);
    EXPECT_EQ(Render(), "{s:kept}");
    // Private and Boolean bits survive a type change.
    Dictionary_ItemSetPrivate(Root, Item, 1);
    Dictionary_ItemSetType(Root, Item, DICTIONARY_TYPE_INT64);
    uint32 Flag = 0;
    Dictionary_ItemGetPrivate(Root, Item, &Flag);
    EXPECT_EQ(Flag, 1u);
}

// ---- Change reports ----

TEST_F(DictionaryTest, ValueReportsOnlyForRealChanges) {
    Recorder Log;
    Tag Top{&Log, "root"};
    Watch(Root, &Top);
    DictionaryItem *Item = nullptr;
    Dictionary_AddString(Root, "s", "one", &Item);
    Dictionary_ItemSetString(Root, Item, "one");  // unchanged
    Dictionary_ItemSetString(Root, Item, "two");  // changed
    Dictionary_ItemSetString(Root, Item, "");     // cleared: no report
    Dictionary_ItemSetString(Root, Item, "back"); // from nothing
    Dictionary_ItemSetType(Root, Item, DICTIONARY_TYPE_INT64); // type change: no report
    Dictionary_ItemSetInt64(Root, Item, 5);
    Dictionary_ItemSetInt64(Root, Item, 5);
    DictionaryItem *Flag = nullptr;
    Dictionary_AddBoolean(Root, "b", 0, &Flag); // false to false: no report
    Dictionary_ItemSetBoolean(Root, Flag, 1);
    Dictionary_ItemSetBoolean(Root, Flag, 1);
    Dictionary_ItemSetBuffer(Root, Flag, "false", 5);
    DictionaryItem *Unknown = nullptr;
    Dictionary_Add(Root, nullptr, &Unknown);
    Dictionary_ItemSetString(Root, Unknown, "no report for an unknown item");
    const std::vector<std::string> Expected = {
        "root key s (null)", "root value s (null)", "root value s one", "root value s (null)",
        "root value s (null)", "root key b (null)", "root value b false", "root value b true",
    };
    EXPECT_EQ(Log.Events, Expected);
    Dictionary_Release(&Root); // before the recorder goes out of scope
}

TEST_F(DictionaryTest, KeyReportsCarryTheOldKey) {
    Recorder Log;
    Tag Top{&Log, "root"};
    Watch(Root, &Top);
    DictionaryItem *Item = nullptr;
    Dictionary_Add(Root, "old", &Item);
    Dictionary_ItemSetKey(Root, Item, "new");
    Dictionary_ItemSetKey(Root, Item, nullptr); // keyless: no report
    Dictionary_ItemSetKey(Root, Item, "again");
    const std::vector<std::string> Expected = {"root key old (null)", "root key new old", "root key again (null)"};
    EXPECT_EQ(Log.Events, Expected);
    Dictionary_Release(&Root); // before the recorder goes out of scope
}

TEST_F(DictionaryTest, ReportsBubbleChildFirstWithRelativePaths) {
    Recorder Log;
    Tag Top{&Log, "root"};
    Tag Middle{&Log, "mid"};
    Dictionary *Config = nullptr;
    Dictionary_AddDictionary(Root, "config", &Config, nullptr);
    Dictionary *Servers = nullptr;
    Dictionary_AddList(Config, "servers", &Servers, nullptr);
    Dictionary *First = nullptr;
    Dictionary_AddDictionary(Servers, nullptr, &First, nullptr);
    Dictionary *Second = nullptr;
    Dictionary_AddDictionary(Servers, nullptr, &Second, nullptr);
    DictionaryItem *Host = nullptr;
    Dictionary_AddString(Second, "host", "a", &Host);
    Watch(Root, &Top);
    Watch(Servers, &Middle);
    Dictionary_ItemSetString(Second, Host, "b");
    const std::vector<std::string> Expected = {"mid value [1].host a", "root value config.servers[1].host a"};
    EXPECT_EQ(Log.Events, Expected);
    Dictionary_Release(&Root); // before the recorder goes out of scope
}

TEST_F(DictionaryTest, RemovalReportsSeeKeyAndValueChildrenFirst) {
    Recorder Log;
    Tag Top{&Log, "root"};
    Tag Inner{&Log, "list"};
    Dictionary *List = nullptr;
    Dictionary_AddList(Root, "l", &List, nullptr);
    Dictionary_AddString(List, nullptr, "x", nullptr);
    Dictionary_AddString(List, nullptr, "y", nullptr);
    Dictionary_AddString(Root, "tail", "t", nullptr);
    // Each level sees its own item on the way down: the removed item itself
    // in the list, the container item "l" at the root.
    auto Seen = [](Dictionary *Handle, DictionaryItem *Item, void *User, const char *Path) -> int32 {
        Tag *Level = static_cast<Tag *>(User);
        const char *Text = nullptr;
        int32 Length = 0;
        Dictionary_ItemGetBufferPtr(Handle, Item, &Text, &Length);
        Level->Log->Events.push_back(std::string(Level->Name) + " " + Path + "=" +
                                     (Text ? std::string(Text, (size_t)Length) : "-") + " " + KeyOf(Handle, Item));
        return 1;
    };
    Dictionary_SetItemRemoveCallback(Root, &Top, Seen);
    Dictionary_SetItemRemoveCallback(List, &Inner, Seen);
    Dictionary_Reset(Root);
    const std::vector<std::string> Expected = {
        "root tail=t tail", "list [1]=y (none)", "root l[1]=- l", "list [0]=x (none)", "root l[0]=- l", "root l=- l",
    };
    EXPECT_EQ(Log.Events, Expected);
    Dictionary_Release(&Root); // before the recorder goes out of scope
}

TEST_F(DictionaryTest, ListMembersAreReportedRekeyedWhenTheirIndexMoves) {
    Recorder Log;
    Tag Top{&Log, "root"};
    Dictionary *List = nullptr;
    Dictionary_AddList(Root, "l", &List, nullptr);
    DictionaryItem *Members[4] = {};
    for (auto &Member : Members) Dictionary_AddString(List, nullptr, "m", &Member);
    Dictionary_SetItemKeyChangeCallback(Root, &Top, OnKey);
    Dictionary_Remove(List, &Members[1]);
    EXPECT_EQ(Log.Events, (std::vector<std::string>{"root key l[1] (null)", "root key l[2] (null)"}));
    Log.Events.clear();
    Dictionary_Insert(List, nullptr, nullptr, nullptr);
    EXPECT_EQ(Log.Events,
              (std::vector<std::string>{"root key l[1] (null)", "root key l[2] (null)", "root key l[3] (null)"}));
    // Only a key-change callback on the root asks for these reports.
    Log.Events.clear();
    Dictionary_SetItemKeyChangeCallback(Root, nullptr, nullptr);
    Tag Inner{&Log, "list"};
    Dictionary_SetItemKeyChangeCallback(List, &Inner, OnKey);
    Dictionary_Insert(List, nullptr, nullptr, nullptr);
    EXPECT_TRUE(Log.Events.empty());
    // A Dictionary child (not a List) makes none either.
    Dictionary *Map = nullptr;
    Dictionary_AddDictionary(Root, "m", &Map, nullptr);
    Dictionary_SetItemKeyChangeCallback(Root, &Top, OnKey);
    Dictionary_Add(Map, nullptr, nullptr);
    Dictionary_Insert(Map, nullptr, nullptr, nullptr);
    EXPECT_TRUE(Log.Events.empty());
    Dictionary_Release(&Root); // before the recorder goes out of scope
}

TEST_F(DictionaryTest, CallbackGettersAnswerWhetherSet) {
    void *User = reinterpret_cast<void *>(8);
    Dictionary_ItemRemoveFunc Function = OnRemove;
    EXPECT_EQ(Dictionary_GetItemRemoveCallback(Root, &User, &Function), 0);
    EXPECT_EQ(Function, nullptr);
    Recorder Log;
    Dictionary_SetItemRemoveCallback(Root, &Log, OnRemove);
    EXPECT_EQ(Dictionary_GetItemRemoveCallback(Root, &User, &Function), 1);
    EXPECT_EQ(User, &Log);
    EXPECT_EQ(Function, OnRemove);
    Dictionary_ItemValueChangeFunc Value = nullptr;
    EXPECT_EQ(Dictionary_GetItemValueChangeCallback(Root, &User, &Value), 0);
    Dictionary_Release(&Root); // before the recorder goes out of scope
}

// ---- Operation table ----

TEST(DictionaryTable, EverySlotHoldsTheOperationOfItsPlace) {
#define SLOT(Function) reinterpret_cast<const void *>(&Function)
    const void *Expected[] = {
    SLOT(Dictionary_GetParent), SLOT(Dictionary_Add), SLOT(Dictionary_AddNull), SLOT(Dictionary_AddString),
    SLOT(Dictionary_AddInt32), SLOT(Dictionary_AddInt64), SLOT(Dictionary_AddFloat64), SLOT(Dictionary_AddBoolean),
    SLOT(Dictionary_AddList), SLOT(Dictionary_AddDictionary), SLOT(Dictionary_Append), SLOT(Dictionary_Insert),
    SLOT(Dictionary_Remove), SLOT(Dictionary_ConvertFromString), SLOT(Dictionary_ConvertToString),
    SLOT(Dictionary_ContainsKey), SLOT(Dictionary_EnsureIndex), SLOT(Dictionary_EnsureListByIndex),
    SLOT(Dictionary_EnsureDictionaryByIndex), SLOT(Dictionary_EnsureKey), SLOT(Dictionary_EnsureList),
    SLOT(Dictionary_EnsureDictionary), SLOT(Dictionary_GetTypeByKey), SLOT(Dictionary_SetStringByKey),
    SLOT(Dictionary_GetStringByKey), SLOT(Dictionary_SetStringByKeyV), SLOT(Dictionary_GetStringPtrByKey),
    SLOT(Dictionary_GetBufferPtrByKey), SLOT(Dictionary_SetInt32ByKey), SLOT(Dictionary_GetInt32ByKey),
    SLOT(Dictionary_SetInt64ByKey), SLOT(Dictionary_GetInt64ByKey), SLOT(Dictionary_SetFloat64ByKey),
    SLOT(Dictionary_GetFloat64ByKey), SLOT(Dictionary_SetBooleanByKey), SLOT(Dictionary_GetBooleanByKey),
    SLOT(Dictionary_GetListByIndex), SLOT(Dictionary_GetDictionaryByIndex), SLOT(Dictionary_GetListByKey),
    SLOT(Dictionary_GetDictionaryByKey), SLOT(Dictionary_RemoveByKey), SLOT(Dictionary_ItemGetPath),
    SLOT(Dictionary_ItemIsContainer), SLOT(Dictionary_ItemIsNull), SLOT(Dictionary_ItemGetIndex),
    SLOT(Dictionary_ItemSetType), SLOT(Dictionary_ItemGetType), SLOT(Dictionary_ItemCompareType),
    SLOT(Dictionary_ItemSetKey), SLOT(Dictionary_ItemSetKeyLength), SLOT(Dictionary_ItemGetKey),
    SLOT(Dictionary_ItemGetKeyPtr), SLOT(Dictionary_ItemSetString), SLOT(Dictionary_ItemSetStringV),
    SLOT(Dictionary_ItemGetString), SLOT(Dictionary_ItemGetStringPtr), SLOT(Dictionary_ItemSetBuffer),
    SLOT(Dictionary_ItemGetBufferPtr), SLOT(Dictionary_ItemSetFloat64), SLOT(Dictionary_ItemGetFloat64),
    SLOT(Dictionary_ItemSetInt32), SLOT(Dictionary_ItemGetInt32), SLOT(Dictionary_ItemSetInt64),
    SLOT(Dictionary_ItemGetInt64), SLOT(Dictionary_ItemSetBoolean), SLOT(Dictionary_ItemGetBoolean),
    SLOT(Dictionary_ItemSetNull), SLOT(Dictionary_ItemGetDictionaryHandle), SLOT(Dictionary_ItemFindByPath),
    SLOT(Dictionary_ItemFindByKey), SLOT(Dictionary_ItemFindByBuffer), SLOT(Dictionary_ItemFindByIndex),
    SLOT(Dictionary_ItemGetNext), SLOT(Dictionary_ItemGetPrev), SLOT(Dictionary_ItemGetFirst),
    SLOT(Dictionary_ItemGetLast), SLOT(Dictionary_ItemGetCount), SLOT(Dictionary_Print), SLOT(Dictionary_PrintTabbed),
    SLOT(Dictionary_SetPrintCallback), SLOT(Dictionary_GetPrintCallback), SLOT(Dictionary_Sync),
    SLOT(Dictionary_SyncAt), SLOT(Dictionary_RemoveMissing), SLOT(Dictionary_Merge), SLOT(Dictionary_MergeAt),
    SLOT(Dictionary_SkipRoot), SLOT(Dictionary_Reset), SLOT(Dictionary_Dump), SLOT(Dictionary_SetCaseSensitive),
    SLOT(Dictionary_GetCaseSensitive), SLOT(Dictionary_SetAllowDuplicates), SLOT(Dictionary_GetAllowDuplicates),
    SLOT(Dictionary_SetStringPool), SLOT(Dictionary_GetStringPool), SLOT(Dictionary_SetPoolChunkSize),
    SLOT(Dictionary_SetItemRemoveCallback), SLOT(Dictionary_GetItemRemoveCallback),
    SLOT(Dictionary_SetItemKeyChangeCallback), SLOT(Dictionary_GetItemKeyChangeCallback),
    SLOT(Dictionary_SetItemValueChangeCallback), SLOT(Dictionary_GetItemValueChangeCallback),
    SLOT(Dictionary_MergeItem), SLOT(Dictionary_SetStringByKeyPrint), SLOT(Dictionary_ItemSetStringPrint),
    SLOT(Dictionary_SetStringByPath), SLOT(Dictionary_GetStringByPath), SLOT(Dictionary_GetBufferPtrByPath),
    SLOT(Dictionary_SetInt32ByPath), SLOT(Dictionary_GetInt32ByPath), SLOT(Dictionary_SetInt64ByPath),
    SLOT(Dictionary_GetInt64ByPath), SLOT(Dictionary_SetFloat64ByPath), SLOT(Dictionary_GetFloat64ByPath),
    SLOT(Dictionary_SetBooleanByPath), SLOT(Dictionary_GetBooleanByPath), SLOT(Dictionary_SkipRootContainer),
    SLOT(Dictionary_ItemSetPrivate), SLOT(Dictionary_ItemGetPrivate), SLOT(Dictionary_SetPrivateKeys),
    SLOT(Dictionary_GetPrivateKeys), SLOT(Dictionary_AddRef), SLOT(Dictionary_Release),
    SLOT(Dictionary_EnsureDictionaryByPath), SLOT(Dictionary_ContainsPath), SLOT(Dictionary_GetStringPtrByPath),
    SLOT(Dictionary_ContainsString), SLOT(Dictionary_RemoveByString), SLOT(Dictionary_GetDictionaryByPath),
    };
#undef SLOT
    static_assert(sizeof(Expected) / sizeof(Expected[0]) == 129);
    static_assert(sizeof(GlobalDictionaryVtbl) == 129 * sizeof(void *));
    const void *const *Slots = reinterpret_cast<const void *const *>(&GlobalDictionaryVtbl);
    for (int32 Slot = 0; Slot < 129; Slot++) EXPECT_EQ(Slots[Slot], Expected[Slot]) << "slot " << Slot;
}

TEST_F(DictionaryTest, TableCallsReachTheSameTree) {
    const DictionaryVtbl *Table = reinterpret_cast<DictionaryHeader *>(Root)->Vtbl;
    Table->SetStringByPath(Root, "a.b", "v");
    const char *Text = nullptr;
    EXPECT_EQ(Table->GetStringPtrByPath(Root, "a.b", &Text), 1);
    EXPECT_STREQ(Text, "v");
    Dictionary *Owner = nullptr;
    DictionaryItem *Item = nullptr;
    ASSERT_EQ(Table->ItemFindByPath(Root, "a.b", &Owner, &Item), 1);
    Table->ItemSetStringPrint(Owner, Item, "%d", 42);
    int32 Value = 0;
    Table->GetInt32ByPath(Root, "a.b", &Value);
    EXPECT_EQ(Value, 0); // still a String: the setter keeps the type
    EXPECT_EQ(Render(), "{a:{b:42}}");
}

// ---- Dump and print ----

TEST_F(DictionaryTest, DumpPrintsOneLinePerVisibleItem) {
    std::vector<std::string> Lines;
    Dictionary_SetPrintCallback(Root, &Lines, CaptureLine);
    EXPECT_EQ(Dictionary_Dump(Root), 0);
    Dictionary_AddString(Root, "a", "x", nullptr);
    Dictionary_AddString(Root, "#p", "hidden", nullptr);
    Dictionary *List = nullptr;
    Dictionary_AddList(Root, "l", &List, nullptr);
    Dictionary_AddInt64(List, nullptr, 1, nullptr);
    Dictionary *Inner = nullptr;
    Dictionary_AddDictionary(List, nullptr, &Inner, nullptr);
    Dictionary_AddBoolean(Inner, "t", 1, nullptr);
    Dictionary_AddDictionary(Inner, "#secret", nullptr, nullptr);
    Dictionary_AddNull(Root, "n", nullptr);
    Dictionary_Add(Root, "u", nullptr);
    DictionaryItem *Raw = nullptr;
    Dictionary_AddString(Root, "z", "", &Raw);
    Dictionary_ItemSetBuffer(Root, Raw, "abc\0def", 7);
    EXPECT_EQ(Dictionary_Dump(Root), 1);
    const std::vector<std::string> Expected = {
        "a=x (String)",      "l (List)", "    =1 (Int64)", "     (Dictionary)", "        t=true (Boolean)",
        "n=null (Null)", "u= (Unknown)", "z=abc (String)",
    };
    EXPECT_EQ(Lines, Expected);
    // With private keys off nothing is hidden.
    Lines.clear();
    Dictionary_SetPrivateKeys(Root, 0);
    Dictionary_Dump(Root);
    EXPECT_EQ(Lines.size(), Expected.size() + 1);
}

// A value under a key that names a secret dumps as the mask, at any depth
// below it; its neighbours as they are.
TEST_F(DictionaryTest, DumpMasksSecrets) {
    std::vector<std::string> Lines;
    Dictionary_SetPrintCallback(Root, &Lines, CaptureLine);
    Dictionary_AddString(Root, "user", "ada", nullptr);
    Dictionary_AddString(Root, "Password", "pw", nullptr);
    Dictionary *Headers = nullptr, *Cookies = nullptr;
    Dictionary_AddDictionary(Root, "headers", &Headers, nullptr);
    Dictionary_AddString(Headers, "X-Auth-Token", "t", nullptr);
    Dictionary_AddString(Headers, "Accept", "*/*", nullptr);
    Dictionary_AddDictionary(Root, "cookies", &Cookies, nullptr);
    Dictionary_AddString(Cookies, "sid", "s", nullptr);
    Dictionary_Dump(Root);
    EXPECT_EQ(Lines, (std::vector<std::string>{"user=ada (String)", "Password=*** (String)", "headers (Dictionary)",
                                               "    X-Auth-Token=*** (String)", "    Accept=*/* (String)",
                                               "cookies (Dictionary)", "    sid=*** (String)"}));
}

TEST_F(DictionaryTest, PrintFamilyUsesTheRecord) {
    std::vector<std::string> Lines;
    Dictionary_SetPrintCallback(Root, &Lines, CaptureLine);
    Dictionary_SetPrintIdentifier(Root, "ident");
    Dictionary_Print(Root, "hello %d", 7);
    Dictionary_PrintTabbed(Root, 2, "deeper");
    EXPECT_EQ(Dictionary_VerboseLog(Root, 1, "quiet"), 0);
    Dictionary_SetVerbose(Root, 1);
    int32 Verbose = 0;
    Dictionary_GetVerbose(Root, &Verbose);
    EXPECT_EQ(Verbose, 1);
    EXPECT_EQ(Dictionary_IsVerboseLevel(Root, 0), 1);
    EXPECT_EQ(Lines, (std::vector<std::string>{"hello 7", "        deeper"}));
    void *User = nullptr;
    ClassPrint_Func Function = nullptr;
    Dictionary_GetPrintCallback(Root, &User, &Function);
    EXPECT_EQ(User, &Lines);
    EXPECT_EQ(Function, CaptureLine);
}

// A root's print callback is kept in its root record until something makes
// the extra record, which then takes it over: in any order of settings the
// callback read back and the one a print reaches are the last one set, and a
// root given only a callback makes no extra record.
TEST_F(DictionaryTest, RootPrintCallbackSurvivesTheExtraRecordInAnyOrder) {
    // Steps: 'a'/'b' set callback A/B, '0' clears it, 'i' sets an identifier,
    // 'v' sets verbose, 'p' prints one line.
    const struct {
        const char *Steps;
        bool ExtraMade;
    } Cases[] = {{"a", false}, {"ab", false}, {"a0", false}, {"ap", true}, {"aip", true},
                 {"iap", true}, {"avbp", true}, {"ab0p", true}, {"pa", true}, {"apbp", true}};
    for (const auto &Case : Cases) {
        SCOPED_TRACE(Case.Steps);
        Dictionary *Tree = nullptr;
        Dictionary_Create(&Tree);
        std::vector<std::string> A, B;
        std::vector<std::string> *Last = nullptr;
        size_t Prints = 0;
        for (const char *Step = Case.Steps; *Step != 0; Step++) {
            if (*Step == 'a' || *Step == 'b' || *Step == '0') {
                Last = *Step == 'a' ? &A : *Step == 'b' ? &B : nullptr;
                Dictionary_SetPrintCallback(Tree, Last, Last != nullptr ? CaptureLine : nullptr);
            } else if (*Step == 'i') {
                Dictionary_SetPrintIdentifier(Tree, "id");
            } else if (*Step == 'v') {
                Dictionary_SetVerbose(Tree, 1);
            } else {
                if (Last != nullptr) Last->clear();
                Dictionary_Print(Tree, "line");
                if (Last != nullptr) {
                    EXPECT_EQ(*Last, (std::vector<std::string>{"line"}));
                }
                Prints++;
            }
            void *User = &Prints;
            ClassPrint_Func Function = IgnoreLine;
            Dictionary_GetPrintCallback(Tree, &User, &Function);
            // A print without a callback installs the module printer.
            const bool Default = Last == nullptr && *Step == 'p';
            EXPECT_EQ(User, Default ? static_cast<void *>(Tree) : Last);
            EXPECT_EQ(Function == CaptureLine, Last != nullptr);
            EXPECT_EQ(Function != nullptr, Last != nullptr || Default);
        }
        EXPECT_EQ(Tree->Extra != nullptr, Case.ExtraMade);
        // Its children print as before: without the root's callback.
        Dictionary *Child = nullptr;
        Dictionary_AddDictionary(Tree, "c", &Child, nullptr);
        void *User = &Prints;
        Dictionary_GetPrintCallback(Child, &User, nullptr);
        EXPECT_EQ(User, nullptr);
        Dictionary_Release(&Tree);
    }
}

// A child prints under its root's id text and the identifier its parent had
// when the child was made; a later change on the parent does not reach it.
TEST_F(DictionaryTest, ChildPrintsUnderTheRootIdAndTheIdentifierItWasMadeWith) {
    std::vector<std::string> Lines;
    const ClassPrint_Func Raw = CaptureWholeLine;
    Dictionary_SetPrintIdentifier(Root, "one");
    Dictionary *Child = nullptr;
    Dictionary_AddDictionary(Root, "c", &Child, nullptr);
    Dictionary_SetPrintIdentifier(Root, "two");
    Dictionary_SetPrintCallback(Root, &Lines, Raw);
    Dictionary_SetPrintCallback(Child, &Lines, Raw);
    Dictionary_Print(Child, "x");
    Dictionary_SetPrintIdentifier(Root, "one");
    Dictionary_Print(Root, "x");
    ASSERT_EQ(Lines.size(), 2u);
    EXPECT_EQ(Lines[0], Lines[1]);
    EXPECT_NE(Lines[0].find(".one - x"), std::string::npos) << Lines[0];
    void *User = &Lines;
    ClassPrint_Func Function = Raw;
    Dictionary *Other = nullptr;
    Dictionary_AddDictionary(Root, "d", &Other, nullptr);
    Dictionary_GetPrintCallback(Other, &User, &Function);
    EXPECT_EQ(User, nullptr);
    EXPECT_EQ(Function, nullptr);
    int32 Verbose = 7;
    Dictionary_GetVerbose(Other, &Verbose);
    EXPECT_EQ(Verbose, 0);
}

// Short texts live inside the item, longer ones outside it: across every
// length around that border, with and without the string pool, keys and
// values keep their bytes and terminator, a value change leaves the key
// where it was, and each report sees the old text intact.
TEST_F(DictionaryTest, TextsOfEveryLengthSurviveEveryChange) {
    struct Seen {
        std::vector<std::string> Old;
    };
    auto OnKeyCopy = [](Dictionary *, DictionaryItem *, void *User, const char *, const char *OldKey) -> int32 {
        static_cast<Seen *>(User)->Old.push_back(OldKey != nullptr ? OldKey : "(null)");
        return 1;
    };
    auto OnValueCopy = [](Dictionary *, DictionaryItem *, void *User, const char *, const char *Old,
                          int32 Length) -> int32 {
        static_cast<Seen *>(User)->Old.push_back(Old != nullptr ? std::string(Old, (size_t)Length) : "(null)");
        return 1;
    };
    const int32 Lengths[] = {0, 1, 7, 21, 22, 23, 24, 25, 40, 119};
    for (uint32 Pooled : {0u, 1u}) {
        Dictionary *Tree = nullptr;
        Dictionary_Create(&Tree);
        Dictionary_SetStringPool(Tree, Pooled);
        Seen Keys, Values;
        Dictionary_SetItemKeyChangeCallback(Tree, &Keys, OnKeyCopy);
        Dictionary_SetItemValueChangeCallback(Tree, &Values, OnValueCopy);
        for (int32 KeyLength : Lengths) {
            for (int32 ValueLength : Lengths) {
                SCOPED_TRACE(std::to_string(Pooled) + " " + std::to_string(KeyLength) + " " + std::to_string(ValueLength));
                const std::string Key(KeyLength, 'k'), Key2(std::min(KeyLength + 2, 119), 'K');
                const std::string First(ValueLength, 'a'), Second(ValueLength, 'b'), Third(ValueLength + 3, 'c');
                Keys.Old.clear();
                Values.Old.clear();
                DictionaryItem *Item = nullptr;
                Dictionary_AddString(Tree, Key.c_str(), First.c_str(), &Item);
                const char *KeyPointer = nullptr;
                ASSERT_EQ(Dictionary_ItemGetKeyPtr(Tree, Item, &KeyPointer), 1);
                for (const std::string *Next : {&Second, &Third, &First}) {
                    Dictionary_ItemSetString(Tree, Item, Next->c_str());
                    const char *Key0 = nullptr, *Text = nullptr;
                    Dictionary_ItemGetKeyPtr(Tree, Item, &Key0);
                    EXPECT_EQ(Key0, KeyPointer) << "a value change leaves the key in place";
                    ASSERT_EQ(Dictionary_ItemGetStringPtr(Tree, Item, &Text), 1);
                    EXPECT_EQ(std::string(Text), *Next);
                }
                Dictionary_ItemSetKey(Tree, Item, Key2.c_str());
                Dictionary_ItemSetKey(Tree, Item, Key.c_str());
                const char *Text = nullptr;
                Dictionary_ItemGetKeyPtr(Tree, Item, &Text);
                EXPECT_EQ(std::string(Text), Key);
                Dictionary_ItemGetStringPtr(Tree, Item, &Text);
                EXPECT_EQ(std::string(Text), First);
                const std::vector<std::string> ExpectedKeys = {"(null)", Key, Key2};
                EXPECT_EQ(Keys.Old, ExpectedKeys);
                std::vector<std::string> ExpectedValues;
                if (ValueLength > 0)
                    ExpectedValues = {"(null)", First, Second, Third};
                else
                    ExpectedValues = {"(null)"};
                EXPECT_EQ(Values.Old, ExpectedValues);
            }
        }
        Dictionary_SetItemKeyChangeCallback(Tree, nullptr, nullptr);
        Dictionary_SetItemValueChangeCallback(Tree, nullptr, nullptr);
        Dictionary_Release(&Tree);
    }
}

// A child's print record and callbacks are freed with it, also when an
// unwatched tree is dropped whole.
TEST_F(DictionaryTest, ChildExtraRecordsGoWithTheirTree) {
    for (uint32 Pooled : {0u, 1u}) {
        Dictionary *Tree = nullptr;
        Dictionary_Create(&Tree);
        Dictionary_SetStringPool(Tree, Pooled);
        Dictionary_AddString(Tree, "pools", "made", nullptr); // the pools stay across resets
        Dictionary_Reset(Tree);
        int32 Before = 0, After = 0;
        Memory_GetSize(&Before);
        Dictionary *Child = nullptr, *Inner = nullptr;
        Dictionary_AddDictionary(Tree, "c", &Child, nullptr);
        Dictionary_AddList(Child, "l", &Inner, nullptr);
        Dictionary_SetPrintCallback(Inner, nullptr, IgnoreLine);
        Dictionary_SetItemRemoveCallback(Child, nullptr, OnRemove);
        Dictionary_SetItemRemoveCallback(Child, nullptr, nullptr);
        Dictionary_SetVerbose(Child, 0);
        Dictionary_Reset(Tree);
        Memory_GetSize(&After);
        EXPECT_EQ(After, Before) << Pooled;
        Dictionary_Release(&Tree);
    }
}

// A reset gives back a root's container pool, record included, once no child
// is left; a pool someone set to another mode keeps its record and mode. A
// child made after the reset gets a pool again.
TEST_F(DictionaryTest, ResetGivesBackAnEmptyContainerPool) {
    for (bool Debug : {false, true}) {
        Dictionary *Tree = nullptr;
        Dictionary_Create(&Tree);
        Dictionary_AddString(Tree, "pools", "made", nullptr);
        Dictionary_Reset(Tree);
        DictionaryRoot *Record = DictionaryInt_RootRecord(Tree);
        if (Debug) {
            DictionaryInt_EnsurePools(Tree);
            Pool_SetDebugMode(Record->ContainerPool, 1);
        }
        Pool *Made = Record->ContainerPool;
        int32 Before = 0, After = 0;
        Memory_GetSize(&Before);
        Dictionary *Child = nullptr;
        Dictionary_AddDictionary(Tree, "c", &Child, nullptr);
        Dictionary_AddString(Child, "s", "v", nullptr);
        Dictionary_Reset(Tree);
        Memory_GetSize(&After);
        EXPECT_EQ(After, Before) << Debug;
        EXPECT_EQ(Record->ContainerPool, Made) << Debug;
        uint32 Mode = 0;
        if (Debug) {
            EXPECT_TRUE(Pool_GetDebugMode(Record->ContainerPool, &Mode) && Mode == 1);
        }
        Dictionary_AddList(Tree, "again", &Child, nullptr);
        Dictionary_AddInt64(Child, nullptr, 1, nullptr);
        EXPECT_EQ(RenderDictionary(Tree), "{again:[1]}") << Debug;
        Dictionary_Release(&Tree);
    }
}

// ---- Memory ----

struct MemoryCase {
    bool Tracking;
    bool DebugPools;
    bool StringPool;
};

class DictionaryMemoryTest : public RuntimeTest, public ::testing::WithParamInterface<MemoryCase> {
  protected:
    DictionaryMemoryTest() { Flags = GetParam().Tracking ? DEBUG_FLAG_MEMORYTRACKING : 0; }
};

// A tree with every kind of item, rewritten, retyped and partly removed.
void BuildVariedTree(Dictionary *Root, int32 Rounds) {
    Dictionary_SetPrintCallback(Root, nullptr, IgnoreLine);
    for (int32 Round = 0; Round < Rounds; Round++) {
        char Key[32];
        String_Print(Key, (int32)sizeof(Key), "k%d", Round);
        Dictionary *Map = nullptr;
        Dictionary_AddDictionary(Root, Key, &Map, nullptr);
        Dictionary *List = nullptr;
        Dictionary_AddList(Map, "list", &List, nullptr);
        for (int32 Member = 0; Member < 5; Member++) Dictionary_AddInt64(List, nullptr, Member, nullptr);
        Dictionary_SetStringByPath(Root, (std::string(Key) + ".a.b.c").c_str(), "deep");
        Dictionary_SetStringByKey(Map, "s", std::string(300, 's').c_str());
        Dictionary_SetStringByKey(Map, "s", "short");
        Dictionary_SetFloat64ByKey(Map, "f", Round * 0.25);
        Dictionary_SetBooleanByKey(Map, "b", 1);
        if (Round % 10 == 0) Dictionary_Add(Map, std::string(200, 'L').c_str(), nullptr);
        DictionaryItem *Item = nullptr;
        Dictionary_ItemFindByKey(Map, "list", nullptr, &Item);
        if (Round % 3 == 0) Dictionary_ItemSetType(Map, Item, DICTIONARY_TYPE_STRING);
        if (Round % 4 == 1) Dictionary_Remove(Map, &Item);
        Dictionary_ConvertFromString(Map, "x=1;y;z=2", 9, '=', ';');
    }
    Dictionary *Copy = nullptr;
    Dictionary_Create(&Copy);
    Dictionary_Merge(Copy, Root, DICTIONARY_MERGE_OVERWRITE);
    Dictionary_Sync(Root, Copy, nullptr, nullptr);
    Dictionary_Release(&Copy);
}

TEST_P(DictionaryMemoryTest, ReleasingTheRootFreesEverything) {
    int32 Before = 0;
    Memory_GetSize(&Before);
    Dictionary *Root = nullptr;
    Dictionary_Create(&Root);
    Dictionary_SetPoolChunkSize(Root, 3);
    if (GetParam().StringPool) Dictionary_SetStringPool(Root, 1);
    if (GetParam().DebugPools) {
        DictionaryInt_EnsurePools(Root);
        Pool_SetDebugMode(DictionaryInt_RootRecord(Root)->ContainerPool, 1);
        Pool_SetDebugMode(DictionaryInt_RootRecord(Root)->ItemPool, 1);
        if (DictionaryInt_RootRecord(Root)->Strings != nullptr) Pool_SetDebugMode(DictionaryInt_RootRecord(Root)->Strings, 1);
    }
    if (GetParam().DebugPools) {
        ASSERT_EQ(DictionaryInt_RootRecord(Root)->Strings != nullptr, GetParam().StringPool);
    }
    BuildVariedTree(Root, 40);
    int32 During = 0;
    Memory_GetSize(&During);
    EXPECT_GT(During, Before);
    Dictionary_Reset(Root);
    BuildVariedTree(Root, 10);
    if (GetParam().Tracking) {
        EXPECT_EQ(Memory_Check("dictionary"), 1);
    }
    Dictionary_Release(&Root);
    EXPECT_EQ(Root, nullptr);
    int32 After = 0;
    Memory_GetSize(&After);
    EXPECT_EQ(After, Before);
}

INSTANTIATE_TEST_SUITE_P(Modes, DictionaryMemoryTest,
                         ::testing::Values(MemoryCase{false, false, false}, MemoryCase{true, false, false},
                                           MemoryCase{true, true, false}, MemoryCase{true, false, true},
                                           MemoryCase{true, true, true}, MemoryCase{false, false, true}));

// Texts around the inline and item-record sizes, as keys and values, set,
// replaced and removed: a tree without a string pool (record or allocation
// by length) answers and reports as one with a string pool (every text
// from the pool), and gives back every byte, dropped whole or item by item.
std::vector<std::string> TextSizesRun(uint32 Pooled, bool Watched, int32 *Leaked) {
    const int32 Lengths[] = {22, 23, 24, 25, 36, 70, 71, 72, 73, 79, 80, 200};
    int32 Before = 0, After = 0;
    Memory_GetSize(&Before);
    Dictionary *Tree = nullptr;
    Dictionary_Create(&Tree);
    Dictionary_SetStringPool(Tree, Pooled);
    Recorder Log;
    Tag Level{&Log, "root"};
    if (Watched) Watch(Tree, &Level);
    for (int32 Length : Lengths) {
        const std::string Key((size_t)Length, (char)('a' + Length % 26));
        const std::string Value((size_t)Length, (char)('A' + Length % 26));
        Dictionary_SetStringByKey(Tree, Key.c_str(), Value.c_str());
        Dictionary_SetStringByKey(Tree, "k", Value.c_str());
        Dictionary_AddString(Tree, nullptr, (Value + "+").c_str(), nullptr);
    }
    for (int32 Length : Lengths) {
        const std::string Key((size_t)Length, (char)('a' + Length % 26));
        Dictionary_SetStringByKey(Tree, Key.c_str(), std::string((size_t)Length + 1, 'x').c_str());
        DictionaryItem *Item = nullptr;
        Dictionary_ItemFindByKey(Tree, Key.c_str(), nullptr, &Item);
        Dictionary_ItemSetKey(Tree, Item, (Key + "-").c_str());
        if (Length % 2 == 0) Dictionary_Remove(Tree, &Item);
    }
    Log.Events.push_back(RenderDictionary(Tree));
    Dictionary_Reset(Tree);
    Dictionary_AddString(Tree, std::string(40, 'r').c_str(), std::string(50, 'v').c_str(), nullptr);
    Log.Events.push_back(RenderDictionary(Tree));
    Dictionary_Release(&Tree);
    Memory_GetSize(&After);
    *Leaked = After - Before;
    return Log.Events;
}

// A value set again and again under keys of every inline size: each report
// names the value replaced, and each read the value set.
TEST_F(DictionaryTest, ReplacedShortValuesAreReportedWhole) {
    const char *Values[] = {"1", "22", "1", "333", "4444", "55555", "1", "xxxxxxxxxxxxxxxxxxxx", "7", "", "88"};
    Recorder Log;
    Tag Level{&Log, "root"};
    Dictionary_SetItemValueChangeCallback(Root, &Level, OnValue);
    for (int32 KeyLength : {1, 10, 17, 20, 22, 23, 30}) {
        const std::string Key((size_t)KeyLength, 'k');
        std::string Previous = "(null)";
        for (const char *Value : Values) {
            Log.Events.clear();
            Dictionary_SetStringByKey(Root, Key.c_str(), Value);
            const char *Read = nullptr;
            ASSERT_EQ(Dictionary_GetStringPtrByKey(Root, Key.c_str(), &Read), 1);
            EXPECT_STREQ(Read, Value);
            const std::vector<std::string> Expected{"root value " + Key + " " + Previous};
            // An empty text stores no value and makes no report.
            EXPECT_EQ(Log.Events, Value[0] != 0 ? Expected : std::vector<std::string>{}) << KeyLength << " " << Value;
            Previous = Value[0] != 0 ? Value : "(null)";
        }
        DictionaryItem *Item = nullptr;
        Dictionary_ItemFindByKey(Root, Key.c_str(), nullptr, &Item);
        Dictionary_Remove(Root, &Item);
    }
    Dictionary_SetItemValueChangeCallback(Root, nullptr, nullptr);
}

// A String set under a new key answers, reports and prints as the steps it
// stands for: an added key, the String type, the text.
std::vector<std::string> NewKeyRun(bool Steps, const char *Key, const char *Text, uint32 Duplicates, bool Watched) {
    Dictionary *Tree = nullptr;
    Dictionary_Create(&Tree);
    Dictionary_SetAllowDuplicates(Tree, Duplicates);
    Recorder Log;
    Dictionary_SetPrintCallback(Tree, &Log.Events, CaptureLine);
    Dictionary *Inner = nullptr;
    Dictionary_AddDictionary(Tree, "inner", &Inner, nullptr);
    Dictionary_AddString(Inner, "x", "1", nullptr);
    Tag Level{&Log, "root"};
    if (Watched) Watch(Tree, &Level);
    if (Steps) {
        DictionaryItem *Item = nullptr;
        Dictionary_Add(Inner, Key, &Item);
        Dictionary_ItemSetType(Inner, Item, DICTIONARY_TYPE_STRING);
        Dictionary_ItemSetString(Inner, Item, Text);
    } else {
        Dictionary_SetStringByKey(Inner, Key, Text);
    }
    uint32 Private = 2;
    DictionaryItem *Last = nullptr;
    Dictionary_ItemGetLast(Inner, &Last);
    Dictionary_ItemGetPrivate(Inner, Last, &Private);
    const char *Stored = nullptr;
    Dictionary_ItemGetKeyPtr(Inner, Last, &Stored);
    Log.Events.push_back(RenderDictionary(Tree) + " " + std::to_string(Private) + " " + Stored);
    Dictionary_Release(&Tree);
    return Log.Events;
}

TEST_F(DictionaryTest, StringSetUnderANewKeyEqualsItsSteps) {
    const std::string Long(130, 'k');
    const std::string LongText(80, 't');
    const struct {
        const char *Key;
        const char *Text;
    } Cases[] = {{"y", "2"},          {"name", ""},           {"name", nullptr},     {".hidden", "p"},
                 {"#", "mark only"},  {Long.c_str(), "long"}, {"k", LongText.c_str()}, {"keyof23charactersxxxxx", "v"},
                 {"", "empty key"}};
    for (const auto &Case : Cases)
        for (uint32 Duplicates : {0u, 1u})
            for (bool Watched : {false, true})
                EXPECT_EQ(NewKeyRun(false, Case.Key, Case.Text, Duplicates, Watched),
                          NewKeyRun(true, Case.Key, Case.Text, Duplicates, Watched))
                    << Case.Key << " " << Duplicates << " " << Watched;
}

// A key lookup tells apart keys of every short length that differ in any
// one byte, with and without case.
TEST_F(DictionaryTest, KeysDifferingInOneByteAreToldApart) {
    for (uint32 Case : {1u, 0u}) {
        Dictionary_Reset(Root);
        Dictionary_SetCaseSensitive(Root, Case);
        for (int32 Length = 1; Length <= 20; Length++) {
            std::string Key;
            for (int32 At = 0; At < Length; At++) Key += (char)('a' + At);
            Dictionary_SetInt64ByKey(Root, Key.c_str(), Length);
        }
        for (int32 Length = 1; Length <= 20; Length++) {
            std::string Key;
            for (int32 At = 0; At < Length; At++) Key += (char)('a' + At);
            int64 Value = 0;
            EXPECT_EQ(Dictionary_GetInt64ByKey(Root, Key.c_str(), &Value), 1) << Key;
            EXPECT_EQ(Value, Length);
            for (int32 At = 0; At < Length; At++) {
                std::string Other = Key;
                Other[(size_t)At] = 'z';
                EXPECT_EQ(Dictionary_ContainsKey(Root, Other.c_str()), 0) << Other;
                Other[(size_t)At] = (char)(Key[(size_t)At] - 32);
                EXPECT_EQ(Dictionary_ContainsKey(Root, Other.c_str()), Case == 0 ? 1 : 0) << Other;
            }
        }
    }
}

TEST_F(DictionaryTest, TextsOfEverySizeAnswerAsFromAStringPool) {
    for (bool Watched : {false, true}) {
        int32 Leaked = 1;
        const std::vector<std::string> Expected = TextSizesRun(1, Watched, &Leaked);
        EXPECT_EQ(Leaked, 0);
        const std::vector<std::string> Got = TextSizesRun(0, Watched, &Leaked);
        EXPECT_EQ(Leaked, 0) << Watched;
        EXPECT_EQ(Got, Expected) << Watched;
        EXPECT_GT(Expected.size(), Watched ? 100u : 1u);
    }
}

TEST_F(DictionaryTest, StringPoolOptionChangedWithItemsPresentKeepsStorageApart) {
    Dictionary_SetStringPool(Root, 1);
    Dictionary_AddString(Root, "a", "pooled", nullptr);
    ASSERT_NE(DictionaryInt_RootRecord(Root)->Strings, nullptr);
    Dictionary_SetStringPool(Root, 0); // misuse: the tree keeps its pool until it is emptied
    Dictionary_AddString(Root, "b", "also pooled", nullptr);
    Dictionary_SetStringByKey(Root, "a", "replaced");
    EXPECT_EQ(Render(), "{a:replaced,b:also pooled}");
    Dictionary_Reset(Root);
    EXPECT_EQ(DictionaryInt_RootRecord(Root)->Strings, nullptr);
    Dictionary_AddString(Root, "c", "general", nullptr);
    Dictionary_SetStringPool(Root, 1); // items present: no pool appears under them
    Dictionary_AddString(Root, "d", "general too", nullptr);
    EXPECT_EQ(DictionaryInt_RootRecord(Root)->Strings, nullptr);
    EXPECT_EQ(Render(), "{c:general,d:general too}");
}

TEST_F(DictionaryTest, DeepTreesAreReleasedWithoutRecursion) {
    Dictionary *Level = Root;
    DictionaryItem *Item = nullptr;
    for (int32 Depth = 0; Depth < 50000; Depth++) Dictionary_AddDictionary(Level, "d", &Level, &Item);
    Dictionary_AddString(Level, "leaf", "x", &Item);
    char Path[64];
    EXPECT_EQ(Dictionary_ItemGetPath(Level, Item, nullptr, Path, (int32)sizeof(Path)), 1);
    std::string Expected;
    while (Expected.size() < 63) Expected += "d.";
    EXPECT_EQ(std::string(Path), Expected.substr(0, 63));
    Dictionary_Reset(Root);
    int32 Count = 1;
    Dictionary_ItemGetCount(Root, &Count);
    EXPECT_EQ(Count, 0);
}

// A root reset takes an unwatched tree down whole; one watcher anywhere in
// the tree brings back the item-by-item removal with its reports, last first.
TEST_F(DictionaryTest, RootResetReportsWhileAnyLevelWatches) {
    Dictionary_AddString(Root, "pools", "made", nullptr); // the pools stay across resets
    Dictionary_Reset(Root);
    for (bool Watched : {true, false}) {
        int32 Before = 0;
        Memory_GetSize(&Before);
        Dictionary *Outer = nullptr, *Inner = nullptr;
        Dictionary_AddString(Root, "first", "1", nullptr);
        Dictionary_AddDictionary(Root, "outer", &Outer, nullptr);
        Dictionary_AddString(Outer, "a", "x", nullptr);
        Dictionary_AddList(Outer, "inner", &Inner, nullptr);
        Dictionary_AddInt64(Inner, nullptr, 7, nullptr);
        Dictionary_AddString(Root, "last", "2", nullptr);
        Recorder Log;
        Tag Level{&Log, "inner"};
        Dictionary_SetItemRemoveCallback(Inner, &Level, OnRemove);
        if (!Watched) Dictionary_SetItemRemoveCallback(Inner, nullptr, nullptr);
        Dictionary_Reset(Root);
        EXPECT_EQ(Log.Events, Watched ? std::vector<std::string>{"inner remove [0]"} : std::vector<std::string>{});
        int32 Count = -1, After = 0;
        Dictionary_ItemGetCount(Root, &Count);
        EXPECT_EQ(Count, 0);
        EXPECT_EQ(Render(), "{}");
        Memory_GetSize(&After);
        EXPECT_EQ(After, Before) << (Watched ? "watched" : "unwatched");
        Dictionary_AddString(Root, "again", "y", nullptr);
        EXPECT_EQ(Render(), "{again:y}");
        Dictionary_Reset(Root);
    }
}

TEST_F(DictionaryTest, IndexWalksAgreeWithLinks) {
    std::vector<DictionaryItem *> Items;
    for (int32 Index = 0; Index < 300; Index++) {
        DictionaryItem *Item = nullptr;
        Dictionary_AddInt64(Root, nullptr, Index, &Item);
        Items.push_back(Item);
    }
    // Asking for the index of another Dictionary's item must not mislead later lookups.
    Dictionary *Other = nullptr;
    Dictionary_Create(&Other);
    for (int32 Index = 0; Index < 5; Index++) Dictionary_AddInt64(Other, nullptr, Index, nullptr);
    DictionaryItem *Foreign = nullptr;
    Dictionary_ItemFindByIndex(Other, 2, nullptr, &Foreign);
    int32 Ignored = 0;
    Dictionary_ItemGetIndex(Root, Foreign, &Ignored);
    DictionaryItem *Fourth = nullptr;
    Dictionary_ItemFindByIndex(Root, 3, nullptr, &Fourth);
    EXPECT_EQ(Fourth, Items[3]);
    Dictionary_Release(&Other);
    // Mixed access orders exercise the remembered position.
    const int32 Order[] = {5, 6, 7, 299, 150, 151, 149, 0, 298, -1, -300, 42, 43, 41};
    for (int32 Wanted : Order) {
        DictionaryItem *Found = nullptr;
        ASSERT_EQ(Dictionary_ItemFindByIndex(Root, Wanted, nullptr, &Found), 1);
        EXPECT_EQ(Found, Items[(size_t)(Wanted < 0 ? 300 + Wanted : Wanted)]) << Wanted;
        int32 Index = -1;
        Dictionary_ItemGetIndex(Root, Found, &Index);
        EXPECT_EQ(Index, Wanted < 0 ? 300 + Wanted : Wanted);
    }
    DictionaryItem *Found = nullptr;
    EXPECT_EQ(Dictionary_ItemFindByIndex(Root, 300, nullptr, &Found), 0);
    EXPECT_EQ(Dictionary_ItemFindByIndex(Root, -301, nullptr, &Found), 0);
    // Insertions and removals at the front, middle and end keep answers right.
    Dictionary_ItemFindByIndex(Root, 100, nullptr, &Found);
    Dictionary_Insert(Root, nullptr, "front", nullptr);
    Dictionary_ItemFindByIndex(Root, 101, nullptr, &Found);
    EXPECT_EQ(Found, Items[100]);
    DictionaryItem *First = nullptr;
    Dictionary_ItemGetFirst(Root, &First);
    Dictionary_Remove(Root, &First);
    Dictionary_ItemFindByIndex(Root, 100, nullptr, &Found);
    EXPECT_EQ(Found, Items[100]);
    DictionaryItem *Gone = Items[50];
    Dictionary_Remove(Root, &Gone);
    Dictionary_ItemFindByIndex(Root, 99, nullptr, &Found);
    EXPECT_EQ(Found, Items[100]);
    Dictionary_ItemFindByIndex(Root, 2, Items[10], &Found);
    EXPECT_EQ(Found, Items[12]);
    Dictionary_ItemFindByIndex(Root, -3, Items[10], &Found);
    EXPECT_EQ(Found, Items[7]);
    EXPECT_EQ(Dictionary_ItemFindByIndex(Root, -20, Items[10], &Found), 0);
}

// Children remember positions too (in their extra record, made by a long
// walk), across front changes and a whole-tree reset; a grandchild made
// under an identifier inherits it.
TEST_F(DictionaryTest, ChildPositionsAndIdentifiersSurviveChangesAndReset) {
    for (int32 Round = 0; Round < 2; Round++) {
        Dictionary_SetPrintIdentifier(Root, Round == 0 ? nullptr : "outer");
        Dictionary *List = nullptr;
        ASSERT_EQ(Dictionary_AddList(Root, "list", &List, nullptr), 1);
        std::vector<DictionaryItem *> Items;
        for (int32 Index = 0; Index < 100; Index++) {
            DictionaryItem *Item = nullptr;
            Dictionary_AddInt64(List, nullptr, Index, &Item);
            Items.push_back(Item);
        }
        const struct {
            int32 Wanted;
            const char *Change; // applied before the lookup
            int32 Expected;     // index into Items
        } Steps[] = {{40, nullptr, 40}, {41, nullptr, 41}, {42, "front", 41}, {43, "drop", 43}, {-1, nullptr, 99}};
        for (const auto &Step : Steps) {
            if (Step.Change != nullptr && strcmp(Step.Change, "front") == 0) Dictionary_Insert(List, nullptr, nullptr, nullptr);
            if (Step.Change != nullptr && strcmp(Step.Change, "drop") == 0) {
                DictionaryItem *First = nullptr;
                Dictionary_ItemGetFirst(List, &First);
                Dictionary_Remove(List, &First);
            }
            DictionaryItem *Found = nullptr;
            ASSERT_EQ(Dictionary_ItemFindByIndex(List, Step.Wanted, nullptr, &Found), 1) << Step.Wanted;
            EXPECT_EQ(Found, Items[(size_t)Step.Expected]) << Step.Wanted;
            int32 Index = -1;
            Dictionary_ItemGetIndex(List, Found, &Index);
            EXPECT_EQ(Index, Step.Wanted < 0 ? 99 : Step.Wanted);
        }
        Dictionary *Grandchild = nullptr;
        Dictionary_AddDictionary(List, nullptr, &Grandchild, nullptr);
        std::vector<std::string> Lines;
        Dictionary_SetPrintCallback(Grandchild, &Lines, CaptureWholeLine);
        Dictionary_Print(Grandchild, "x");
        ASSERT_EQ(Lines.size(), 1u);
        EXPECT_EQ(Lines[0].find(".outer - x") != std::string::npos, Round == 1) << Lines[0];
        Dictionary_Reset(Root);
    }
}

// ---- Fatal stops ----

class DictionaryDeathTest : public DictionaryTest {
  protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        DictionaryTest::SetUp();
    }
};

TEST_F(DictionaryDeathTest, DeletingAChildContainerStops) {
    Dictionary *Child = nullptr;
    Dictionary_AddDictionary(Root, "c", &Child, nullptr);
    EXPECT_EXIT(Dictionary_Delete(&Child), ::testing::KilledBySignal(SIGILL), "child container may not be deleted");
    EXPECT_EXIT(
        {
            Dictionary_AddRef(Child);
            Dictionary_Release(&Child);
        },
        ::testing::KilledBySignal(SIGILL), "child container may not be deleted");
}

// Numbers are stored as the print engine's "%lld" and "%g" print them (a
// whole number below a million takes a shorter road), through every setter,
// whole or not, at the edges of that range.
TEST_F(DictionaryTest, NumberTextsAreThoseOfPrintf) {
    const float64 Floats[] = {0.0, -0.0, 1.0, -1.0, 7.0, 42.0, 0.5, -2.5, 1e-7, 99999.0, 100000.0, 999999.0,
                              -999999.0, 1e6, -1e6, 1234567.0, 999999.5, 123456.7, 1e21, 3e-310, INFINITY, -INFINITY,
                              NAN, 4503599627370496.0, -9.2233720368547758e18};
    const int64 Integers[] = {0, 1, -1, 9, 10, -10, 1234567890123LL, INT64_MAX, INT64_MIN, INT64_MIN + 1};
    auto Stored = [&](const char *Key) {
        DictionaryItem *Item = nullptr;
        const char *Text = nullptr;
        int32 Length = 0;
        if (!Dictionary_ItemFindByKey(Root, Key, nullptr, &Item) || !Dictionary_ItemGetBufferPtr(Root, Item, &Text, &Length))
            return std::string("(none)");
        return std::string(Text, (size_t)Length);
    };
    for (float64 Value : Floats) {
        char Expected[64];
        String_Print(Expected, (int32)sizeof(Expected), "%g", Value);
        Dictionary_SetFloat64ByKey(Root, "f", Value);
        DictionaryItem *Item = nullptr;
        Dictionary_AddFloat64(Root, "a", Value, &Item);
        EXPECT_EQ(Stored("f"), Expected) << Value;
        EXPECT_EQ(Stored("a"), Expected) << Value;
        Dictionary_ItemSetFloat64(Root, Item, -Value);
        String_Print(Expected, (int32)sizeof(Expected), "%g", -Value);
        EXPECT_EQ(Stored("a"), Expected) << -Value;
        Dictionary_RemoveByKey(Root, "a");
    }
    for (int64 Value : Integers) {
        const std::string Expected = std::to_string(Value);
        Dictionary_SetInt64ByKey(Root, "i", Value);
        DictionaryItem *Item = nullptr;
        Dictionary_AddInt64(Root, "a", Value, &Item);
        EXPECT_EQ(Stored("i"), Expected);
        EXPECT_EQ(Stored("a"), Expected);
        Dictionary_ItemSetInt64(Root, Item, Value / 7);
        EXPECT_EQ(Stored("a"), std::to_string(Value / 7));
        Dictionary_RemoveByKey(Root, "a");
    }
}

TEST_F(DictionaryDeathTest, NullAndForeignHandlesStop) {
    EXPECT_EXIT(Dictionary_AddNull(nullptr, "k", nullptr), ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    ClassStruct Foreign = {};
    Foreign.ClassId = 0x12345678;
    EXPECT_EXIT(Dictionary_Reset(reinterpret_cast<Dictionary *>(&Foreign)), ::testing::KilledBySignal(SIGILL),
                "Class mismatch pointer \\(0x.*: expected 0xc1d1faa9 but was 0x12345678\\)");
    uint64 FakeItem[8] = {0x1111};
    EXPECT_EXIT(Dictionary_ItemSetKey(Root, reinterpret_cast<DictionaryItem *>(FakeItem), "k"),
                ::testing::KilledBySignal(SIGILL), "expected 0x4139ca17 but was 0x00001111");
    EXPECT_EXIT(Dictionary_AddString(Root, "k", nullptr, nullptr), ::testing::KilledBySignal(SIGILL),
                "Pointer is NULL");
    EXPECT_EXIT(Dictionary_ItemFindByKey(Root, nullptr, nullptr, nullptr), ::testing::KilledBySignal(SIGILL),
                "Pointer is NULL");
}

TEST_F(DictionaryDeathTest, RemovingAnotherDictionarysItemStops) {
    Dictionary *Other = nullptr;
    Dictionary_AddDictionary(Root, "o", &Other, nullptr);
    DictionaryItem *Item = nullptr;
    Dictionary_AddString(Other, "x", "1", &Item);
    EXPECT_EXIT(Dictionary_Remove(Root, &Item), ::testing::KilledBySignal(SIGILL), "not held by this Dictionary");
}

// A fraction's text is the print engine's "%g" of it whichever way it is
// made: fractions of every small denominator, halves at the twelfth digit,
// decade edges and spread magnitudes of both signs.
TEST_F(DictionaryTest, FractionTextsAreThoseOfThePrintEngine) {
    std::vector<double> Values = {0.5, 1.00000000005, 1.00000000015, 2.5e-5, 1e-4, 0.99999999999949, 0.9999999999995,
                                  99999999999.95, 999999999999.5, 999999999999.4, 1e11 - 1e-4, 0.000123456789012,
                                  0.1 + 0.2, 1.0 / 3, 2.0 / 3, 123456.7, 1e12, 9.99999999999e-5};
    for (int Denominator = 1; Denominator <= 400; Denominator++)
        for (int Numerator = 0; Numerator <= Denominator; Numerator++) Values.push_back((double)Numerator / Denominator);
    uint64 State = 0x9e3779b97f4a7c15ull;
    for (int Index = 0; Index < 20000; Index++) {
        State = State * 6364136223846793005ull + 1442695040888963407ull;
        const double Unit = (double)(State >> 11) / 9007199254740992.0;
        Values.push_back((Index & 1 ? -1 : 1) * pow(10.0, -6 + 20 * Unit));
    }
    char Expected[64];
    int Mismatches = 0;
    for (double Value : Values) {
        Dictionary_SetFloat64ByKey(Root, "n", Value);
        const char *Text = nullptr;
        int32 Length = 0;
        Dictionary_GetBufferPtrByKey(Root, "n", &Text, &Length);
        String_Print(Expected, (int32)sizeof(Expected), "%g", Value);
        if (std::string(Text, (size_t)Length) != Expected && Mismatches++ < 5)
            ADD_FAILURE() << Value << ": " << std::string(Text, (size_t)Length) << " vs " << Expected;
    }
    EXPECT_EQ(Mismatches, 0);
}

// The typed additions against the general path they shorten (an insert at
// the end, a type, a value): the same items, keys, types, marks and texts,
// and the same reports in the same order, under every option that changes
// what an addition does.
namespace {

std::string Detail(Dictionary *Handle) {
    std::string Text;
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(Handle, &Item); Item != nullptr; Dictionary_ItemGetNext(Handle, Item, &Item)) {
        const char *Key = nullptr, *Value = nullptr;
        int32 Type = 0, Length = -1;
        uint32 Private = 0, Flag = 0;
        Text += Dictionary_ItemGetKeyPtr(Handle, Item, &Key) && Key != nullptr ? "'" + std::string(Key) + "'" : "-";
        Dictionary_ItemGetType(Handle, Item, &Type);
        Dictionary_ItemGetPrivate(Handle, Item, &Private);
        Dictionary_ItemGetBoolean(Handle, Item, &Flag);
        Text += ":" + std::to_string(Type) + (Private ? "p" : "") + (Flag ? "t" : "");
        if (Dictionary_ItemGetBufferPtr(Handle, Item, &Value, &Length))
            Text += "=" + (Value != nullptr ? std::string(Value, (size_t)Length) : std::string("null"));
        Dictionary *Child = nullptr;
        if (Dictionary_ItemGetDictionaryHandle(Handle, Item, &Child)) Text += "(" + Detail(Child) + ")";
        Text += ";";
    }
    return Text;
}

int32 LogValue(Dictionary *, DictionaryItem *, void *User, const char *Path, const char *Old, int32 Length) {
    *static_cast<std::string *>(User) += std::string("v ") + Path + " " + (Old ? std::string(Old, (size_t)Length) : "null") + "\n";
    return TRUE;
}
int32 LogKey(Dictionary *, DictionaryItem *, void *User, const char *Path, const char *Old) {
    *static_cast<std::string *>(User) += std::string("k ") + Path + " " + (Old ? Old : "null") + "\n";
    return TRUE;
}
int32 LogRemove(Dictionary *, DictionaryItem *, void *User, const char *Path) {
    *static_cast<std::string *>(User) += std::string("r ") + Path + "\n";
    return TRUE;
}

} // namespace

TEST_F(DictionaryTest, TypedAdditionsMatchInsertTypeAndSet) {
    const std::string Long(150, 'q');
    const char *Keys[] = {"k", nullptr, "", ".p", "#", "K", "k", Long.c_str(), "an identifier thirty-six long xxxxx"};
    for (uint32 Options = 0; Options < 16; Options++) {
        SCOPED_TRACE(Options);
        std::string Tree[2], Reports[2];
        for (int32 Path = 0; Path < 2; Path++) {
            Dictionary *Handle = nullptr;
            Dictionary_Create(&Handle);
            Dictionary_SetAllowDuplicates(Handle, Options & 1);
            Dictionary_SetPrivateKeys(Handle, (Options >> 1) & 1);
            Dictionary_SetCaseSensitive(Handle, (Options >> 2) & 1);
            if (Options & 8) {
                Dictionary_SetItemValueChangeCallback(Handle, &Reports[Path], LogValue);
                Dictionary_SetItemKeyChangeCallback(Handle, &Reports[Path], LogKey);
                Dictionary_SetItemRemoveCallback(Handle, &Reports[Path], LogRemove);
            }
            // Twice round the keys, so that each meets several types.
            for (int32 Round = 1; Round <= 18; Round++) {
                const char *Key = Keys[Round % 9];
                const int32 Type = DICTIONARY_TYPE_NULL + Round % 7;
                const int64 Number = -42 * Round;
                const uint32 Flag = Round % 3; // 2 is not true
                const std::string Text = Round % 2 ? "v" + std::to_string(Round) : Long;
                Dictionary *Child = nullptr;
                if (Path == 0) {
                    switch (Type) {
                    case DICTIONARY_TYPE_NULL: Dictionary_AddNull(Handle, Key, nullptr); break;
                    case DICTIONARY_TYPE_BOOLEAN: Dictionary_AddBoolean(Handle, Key, Flag, nullptr); break;
                    case DICTIONARY_TYPE_INT64: Dictionary_AddInt64(Handle, Key, Number, nullptr); break;
                    case DICTIONARY_TYPE_FLOAT64: Dictionary_AddFloat64(Handle, Key, Number / 8.0, nullptr); break;
                    case DICTIONARY_TYPE_STRING: Dictionary_AddString(Handle, Key, Text.c_str(), nullptr); break;
                    case DICTIONARY_TYPE_LIST: Dictionary_AddList(Handle, Key, &Child, nullptr); break;
                    default: Dictionary_AddDictionary(Handle, Key, &Child, nullptr); break;
                    }
                } else {
                    DictionaryItem *Item = nullptr;
                    Dictionary_Add(Handle, Key, &Item);
                    Dictionary_ItemSetType(Handle, Item, Type);
                    switch (Type) {
                    case DICTIONARY_TYPE_BOOLEAN: Dictionary_ItemSetBoolean(Handle, Item, Flag); break;
                    case DICTIONARY_TYPE_INT64: Dictionary_ItemSetInt64(Handle, Item, Number); break;
                    case DICTIONARY_TYPE_FLOAT64: Dictionary_ItemSetFloat64(Handle, Item, Number / 8.0); break;
                    case DICTIONARY_TYPE_STRING: Dictionary_ItemSetString(Handle, Item, Text.c_str()); break;
                    case DICTIONARY_TYPE_LIST:
                    case DICTIONARY_TYPE_DICTIONARY: Dictionary_ItemGetDictionaryHandle(Handle, Item, &Child); break;
                    }
                }
                if (Child != nullptr) Dictionary_AddString(Child, "in", "x", nullptr);
            }
            Tree[Path] = Detail(Handle);
            Dictionary_Release(&Handle);
        }
        EXPECT_EQ(Tree[0], Tree[1]);
        EXPECT_EQ(Reports[0], Reports[1]);
        if (Options & 8) {
            EXPECT_NE(Reports[0], "");
        }
    }
}
