// HashTable: the hashes against a Python reimplementation, lookups against
// std::unordered_map, iteration order, the key forms, cut keys and the
// handle checks.
#include "runtime/containers/hash_table.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <map>
#include <random>
#include <sstream>
#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "runtime/log.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"

namespace {

class HashTableTest : public RuntimeTest {
  protected:
    HashTable *Table = nullptr;
    void TearDown() override {
        if (Table != nullptr) HashTable_Delete(&Table);
        RuntimeTest::TearDown();
    }
    void UsePointerKeys() {
        HashTable_SetKeyAssignCallback(Table, nullptr, HashTable_PointerKeyAssign);
        HashTable_SetValueCallback(Table, nullptr, HashTable_PointerValue);
        HashTable_SetCompareCallback(Table, nullptr, HashTable_PointerCompare);
    }
    std::vector<std::string> KeysInOrder() {
        std::vector<std::string> Keys;
        HashTableMember *Member = nullptr;
        for (int32 More = HashTable_MemberGetFirst(Table, &Member); More;
             More = HashTable_MemberGetNext(Table, Member, &Member)) {
            void *Key = nullptr;
            HashTable_MemberGetKey(Table, Member, &Key);
            Keys.push_back(static_cast<const char *>(Key));
        }
        return Keys;
    }
};

const void *AsKey(uint64 Value) { return reinterpret_cast<const void *>(static_cast<uintptr>(Value)); }

uint32 Count(HashTable *Table) {
    uint32 Result = 0;
    HashTable_GetCount(Table, &Result);
    return Result;
}

} // namespace

TEST(HashTableHash, StringOfAbc) {
    EXPECT_EQ(HashTable_StringValue(nullptr, nullptr, "abc"), 0x02062503u);
    EXPECT_EQ(HashTable_StringValueWithoutCase(nullptr, nullptr, "AbC"), 0x02062503u);
}

TEST(HashTableHash, AgreesWithPythonReference) {
    const char *Script = R"PY(
import random
M = 0xffffffff
def text_hash(data, fold):
    h = 0x811c9dc5
    for b in data:
        if fold and 65 <= b <= 90:
            b += 32
        h = ((h ^ b) * 16777619) & M
    h = (h + (h << 13)) & M; h ^= h >> 7
    h = (h + (h << 3)) & M; h ^= h >> 17
    h = (h + (h << 5)) & M
    return h
def mix(k):
    k = (k + (~(k << 15) & M)) & M; k ^= k >> 10
    k = (k + (k << 3)) & M; k ^= k >> 6
    k = (k + (~(k << 11) & M)) & M; k ^= k >> 16
    return k
random.seed(20240611)
for n in range(400):
    data = bytes(random.randrange(1, 256) for _ in range(random.randrange(0, 48)))
    print("S", data.hex() or "-", text_hash(data, False), text_hash(data, True))
for n in range(400):
    k = random.getrandbits(64) if n % 2 else random.getrandbits(32)
    print("I", k, mix(k & M))
)PY";
    std::istringstream Lines(RunPython(Script));
    std::string Kind;
    int Checked = 0;
    while (Lines >> Kind) {
        if (Kind == "S") {
            std::string Hex;
            uint32 Plain = 0, Folded = 0;
            Lines >> Hex >> Plain >> Folded;
            std::string Text = Hex == "-" ? "" : FromHex(Hex);
            EXPECT_EQ(HashTable_StringValue(nullptr, nullptr, Text.c_str()), Plain) << Hex;
            EXPECT_EQ(HashTable_StringValueWithoutCase(nullptr, nullptr, Text.c_str()), Folded) << Hex;
        } else {
            uint64 Key = 0;
            uint32 Mixed = 0;
            Lines >> Key >> Mixed;
            EXPECT_EQ(HashTable_PointerValue(nullptr, nullptr, AsKey(Key)), Mixed) << Key;
            EXPECT_EQ(HashTable_Int32Value(nullptr, nullptr, AsKey(Key)), Mixed) << Key;
        }
        Checked++;
    }
    EXPECT_EQ(Checked, 800);
}

TEST_F(HashTableTest, CreateAndHandleQueries) {
    EXPECT_FALSE(HashTable_ValidHandle(nullptr));
    EXPECT_EQ(HashTable_Create(&Table, 32, 16), 1);
    EXPECT_TRUE(HashTable_ValidHandle(Table));
    uint32 KeySize = 0;
    HashTable_GetKeySize(Table, &KeySize);
    EXPECT_EQ(KeySize, 32u);
    EXPECT_EQ(Count(Table), 0u);
    HashTableMember *Member = reinterpret_cast<HashTableMember *>(0x1);
    EXPECT_FALSE(HashTable_MemberGetFirst(Table, &Member));
    EXPECT_EQ(Member, nullptr);
    int NotATable[40] = {};
    EXPECT_FALSE(HashTable_ValidHandle(reinterpret_cast<HashTable *>(NotATable)));
}

TEST_F(HashTableTest, AddFindReplaceRemove) {
    HashTable_Create(&Table, 32, 8);
    EXPECT_EQ(HashTable_Add(Table, "alpha", 1), 1);
    EXPECT_EQ(HashTable_Add(Table, "beta", 2), 1);
    uint64 Value = 99;
    EXPECT_TRUE(HashTable_GetValue(Table, "alpha", &Value));
    EXPECT_EQ(Value, 1u);
    // Replacing keeps the member and the count.
    HashTableMember *First = nullptr;
    HashTableMember *Again = nullptr;
    HashTable_MemberFindByKey(Table, "alpha", &First);
    HashTable_AddEx(Table, "alpha", 10, &Again);
    EXPECT_EQ(Again, First);
    EXPECT_EQ(Count(Table), 2u);
    HashTable_GetValue(Table, "alpha", &Value);
    EXPECT_EQ(Value, 10u);
    // Absent keys answer 0 and value 0.
    Value = 99;
    EXPECT_FALSE(HashTable_GetValue(Table, "gamma", &Value));
    EXPECT_EQ(Value, 0u);
    EXPECT_FALSE(HashTable_ContainsKey(Table, "gamma"));
    HashTableMember *Missing = First;
    EXPECT_FALSE(HashTable_MemberFindByKey(Table, "gamma", &Missing));
    EXPECT_EQ(Missing, nullptr);
    EXPECT_FALSE(HashTable_Remove(Table, "gamma"));
    // Keys compare with case by default.
    EXPECT_FALSE(HashTable_ContainsKey(Table, "Alpha"));
    EXPECT_TRUE(HashTable_Remove(Table, "alpha"));
    EXPECT_FALSE(HashTable_ContainsKey(Table, "alpha"));
    EXPECT_EQ(Count(Table), 1u);
    // Member accessors.
    HashTableMember *Member = nullptr;
    HashTable_MemberFindByKey(Table, "beta", &Member);
    void *Key = nullptr;
    HashTable_MemberGet(Table, Member, &Key, &Value);
    EXPECT_STREQ(static_cast<const char *>(Key), "beta");
    EXPECT_EQ(Value, 2u);
    HashTable_MemberSetValue(Table, Member, 0xffffffffffffffffull);
    HashTable_MemberGetValue(Table, Member, &Value);
    EXPECT_EQ(Value, 0xffffffffffffffffull);
    EXPECT_TRUE(HashTable_MemberRemove(Table, &Member));
    EXPECT_EQ(Member, nullptr);
    EXPECT_EQ(Count(Table), 0u);
}

TEST_F(HashTableTest, OneBucketIteratesNewestFirst) {
    HashTable_Create(&Table, 8, 1);
    std::vector<std::string> Added;
    for (int Index = 0; Index < 25; Index++) {
        Added.push_back("k" + std::to_string(Index));
        HashTable_Add(Table, Added.back().c_str(), Index);
    }
    std::vector<std::string> Expected(Added.rbegin(), Added.rend());
    EXPECT_EQ(KeysInOrder(), Expected);
}

TEST_F(HashTableTest, IterationIsByBucketThenNewestFirst) {
    constexpr uint32 Buckets = 7;
    HashTable_Create(&Table, 32, Buckets);
    std::map<uint32, std::vector<std::string>> ByBucket;
    for (int Index = 0; Index < 60; Index++) {
        std::string Key = "key-" + std::to_string(Index * 7919);
        HashTable_Add(Table, Key.c_str(), Index);
        uint32 Bucket = HashTable_StringValue(Table, nullptr, Key.c_str()) % Buckets;
        ByBucket[Bucket].insert(ByBucket[Bucket].begin(), Key);
    }
    std::vector<std::string> Expected;
    for (auto &[Bucket, Keys] : ByBucket) Expected.insert(Expected.end(), Keys.begin(), Keys.end());
    EXPECT_EQ(KeysInOrder(), Expected);
}

TEST_F(HashTableTest, RemovingTheVisitedMemberAfterFetchingNext) {
    HashTable_Create(&Table, 16, 3);
    for (int Index = 0; Index < 40; Index++) HashTable_Add(Table, std::to_string(Index).c_str(), Index);
    int Visited = 0;
    HashTableMember *Member = nullptr;
    int32 More = HashTable_MemberGetFirst(Table, &Member);
    while (More) {
        HashTableMember *Next = nullptr;
        More = HashTable_MemberGetNext(Table, Member, &Next);
        uint64 Value = 0;
        HashTable_MemberGetValue(Table, Member, &Value);
        if (Value % 2 == 0) HashTable_MemberRemove(Table, &Member);
        Member = Next;
        Visited++;
    }
    EXPECT_EQ(Visited, 40);
    EXPECT_EQ(Count(Table), 20u);
    for (int Index = 0; Index < 40; Index++)
        EXPECT_EQ(HashTable_ContainsKey(Table, std::to_string(Index).c_str()), Index % 2 == 1) << Index;
}

TEST_F(HashTableTest, CaseLessTablesJoinKeysDifferingInCase) {
    HashTable_Create(&Table, 32, 32);
    HashTable_Add(Table, "Host", 1);
    HashTable_Add(Table, "host", 2);
    EXPECT_EQ(Count(Table), 2u);
    HashTable_Delete(&Table);

    HashTable_Create(&Table, 32, 32);
    HashTable_SetValueCallback(Table, nullptr, HashTable_StringValueWithoutCase);
    HashTable_SetCompareCallback(Table, nullptr, HashTable_StringCompareWithoutCase);
    HashTable_Add(Table, "Host", 1);
    HashTable_Add(Table, "host", 2);
    EXPECT_EQ(Count(Table), 1u);
    uint64 Value = 0;
    EXPECT_TRUE(HashTable_GetValue(Table, "HOST", &Value));
    EXPECT_EQ(Value, 2u);
    // Only ASCII letters fold.
    HashTable_Add(Table, "\xc3\x89t\xc3\xa9", 3);
    EXPECT_FALSE(HashTable_ContainsKey(Table, "\xc3\xa9t\xc3\xa9"));
    EXPECT_TRUE(HashTable_ContainsKey(Table, "\xc3\x89T\xc3\xa9"));
}

TEST_F(HashTableTest, OverlongKeysAreFoundAndRemovedByTheirFullText) {
    HashTable_Create(&Table, 8, 16);
    const char *Long = "abcdefghij";
    HashTable_Add(Table, Long, 5);
    HashTableMember *Member = nullptr;
    ASSERT_TRUE(HashTable_MemberFindByKey(Table, Long, &Member));
    void *Key = nullptr;
    HashTable_MemberGetKey(Table, Member, &Key);
    EXPECT_STREQ(static_cast<const char *>(Key), "abcdefg");
    // The stored copy is cut, and lookups are cut alike: full and cut texts
    // name the same member, and adding the full text again replaces it.
    EXPECT_TRUE(HashTable_ContainsKey(Table, "abcdefg"));
    HashTable_Add(Table, Long, 6);
    EXPECT_EQ(Count(Table), 1u);
    EXPECT_FALSE(HashTable_ContainsKey(Table, "abcdef"));
    EXPECT_TRUE(HashTable_Remove(Table, Long));
    EXPECT_EQ(Count(Table), 0u);
    EXPECT_FALSE(HashTable_ContainsKey(Table, Long));
    // A key of exactly key size - 1 bytes is kept whole.
    HashTable_Add(Table, "1234567", 1);
    HashTable_Add(Table, "123456", 2);
    EXPECT_EQ(Count(Table), 2u);
}

namespace {
std::vector<std::string> LoggedLines;
int32 CaptureLog(const char *Text) {
    LoggedLines.push_back(Text);
    return TRUE;
}
} // namespace

// The warning is logged once per process, so the test runs in a child of its
// own; the child's exit code reports what it saw.
TEST(HashTableLog, CutKeyIsLoggedOnce) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            RuntimeScope Scope(DEBUG_FLAG_EXTERNALPRINT);
            LoggedLines.clear();
            Debug_PrintCallback(CaptureLog);
            HashTable *Table = nullptr;
            HashTable_Create(&Table, 4, 4);
            HashTable_Add(Table, "long key one", 1);
            HashTable_Add(Table, "long key two", 2);
            HashTable_Add(Table, "other long key", 3);
            Debug_PrintCallback(nullptr);
            HashTable_Delete(&Table);
            bool Once = LoggedLines.size() == 1 &&
                        LoggedLines[0].find("WARNING - Hash table key longer than 3 bytes") != std::string::npos;
            _exit(Once ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(HashTableTest, StringPointerKeysStoreTheCallersText) {
    HashTable_Create(&Table, 8, 32);
    HashTable_SetKeyAssignCallback(Table, nullptr, HashTable_StringPointerKeyAssign);
    HashTable_SetCompareCallback(Table, nullptr, HashTable_StringPointerCompare);
    // Not cut: pointer keys are whole texts of any length.
    std::string First = "a fairly long key text that exceeds eight bytes";
    std::string Second = "a fairly long key text that exceeds eight bytes, too";
    HashTable_Add(Table, First.c_str(), 1);
    HashTable_Add(Table, Second.c_str(), 2);
    EXPECT_EQ(Count(Table), 2u);
    std::string Copy = First;
    uint64 Value = 0;
    EXPECT_TRUE(HashTable_GetValue(Table, Copy.c_str(), &Value));
    EXPECT_EQ(Value, 1u);
    HashTableMember *Member = nullptr;
    HashTable_MemberFindByKey(Table, Copy.c_str(), &Member);
    void *Key = nullptr;
    HashTable_MemberGetKey(Table, Member, &Key);
    EXPECT_EQ(*static_cast<const char **>(Key), First.c_str());
    EXPECT_FALSE(HashTable_ContainsKey(Table, "A FAIRLY LONG KEY TEXT THAT EXCEEDS EIGHT BYTES"));
    HashTable_SetValueCallback(Table, nullptr, HashTable_StringValueWithoutCase);
    HashTable_SetCompareCallback(Table, nullptr, HashTable_StringPointerCompareWithoutCase);
    HashTable_RemoveAll(Table);
    HashTable_Add(Table, First.c_str(), 1);
    EXPECT_TRUE(HashTable_ContainsKey(Table, "A FAIRLY LONG KEY TEXT THAT EXCEEDS EIGHT BYTES"));
}

TEST_F(HashTableTest, PointerAndInt32Forms) {
    HashTable_Create(&Table, 8, 32);
    UsePointerKeys();
    const uint64 Low = 0x12345678ull, High = 0x0000000112345678ull;
    HashTable_Add(Table, AsKey(Low), 1);
    HashTable_Add(Table, AsKey(High), 2);
    EXPECT_EQ(Count(Table), 2u);
    HashTableMember *Member = nullptr;
    HashTable_MemberFindByKey(Table, AsKey(High), &Member);
    void *Key = nullptr;
    HashTable_MemberGetKey(Table, Member, &Key);
    uint64 Stored = 0;
    memcpy(&Stored, Key, sizeof(Stored));
    EXPECT_EQ(Stored, High);
    HashTable_Delete(&Table);

    // The 32-bit compare sees only the low halves: the same two keys are one.
    HashTable_Create(&Table, 8, 32);
    HashTable_SetKeyAssignCallback(Table, nullptr, HashTable_Int32KeyAssign);
    HashTable_SetValueCallback(Table, nullptr, HashTable_Int32Value);
    HashTable_SetCompareCallback(Table, nullptr, HashTable_Int32Compare);
    HashTable_Add(Table, AsKey(Low), 1);
    HashTable_Add(Table, AsKey(High), 2);
    EXPECT_EQ(Count(Table), 1u);
    HashTable_Delete(&Table);

    // A key area smaller than the stored value still holds it.
    HashTable_Create(&Table, 2, 4);
    UsePointerKeys();
    for (uint64 Index = 0; Index < 50; Index++) HashTable_Add(Table, AsKey(Index << 40 | Index), Index);
    for (uint64 Index = 0; Index < 50; Index++) {
        uint64 Value = 0;
        EXPECT_TRUE(HashTable_GetValue(Table, AsKey(Index << 40 | Index), &Value));
        EXPECT_EQ(Value, Index);
    }
}

TEST_F(HashTableTest, ZeroBucketsMeansOne) {
    HashTable_Create(&Table, 16, 0);
    HashTable_Add(Table, "a", 1);
    HashTable_Add(Table, "b", 2);
    EXPECT_EQ(KeysInOrder(), (std::vector<std::string>{"b", "a"}));
}

TEST_F(HashTableTest, ResetAndRemoveAllForgetEverything) {
    HashTable_Create(&Table, 16, 8);
    for (int Round = 0; Round < 3; Round++) {
        for (int Index = 0; Index < 35; Index++) HashTable_Add(Table, std::to_string(Index).c_str(), Index);
        EXPECT_EQ(Count(Table), 35u);
        if (Round % 2 == 0)
            HashTable_Reset(Table);
        else
            HashTable_RemoveAll(Table);
        EXPECT_EQ(Count(Table), 0u);
        HashTableMember *Member = nullptr;
        EXPECT_FALSE(HashTable_MemberGetFirst(Table, &Member));
        EXPECT_FALSE(HashTable_ContainsKey(Table, "3"));
    }
}

TEST_F(HashTableTest, RandomOperationsMatchAStandardMap) {
    HashTable_Create(&Table, 24, 32);
    std::unordered_map<std::string, uint64> Reference;
    std::mt19937_64 Random(7);
    for (int Step = 0; Step < 20000; Step++) {
        std::string Key = "k" + std::to_string(Random() % 3000);
        switch (Random() % 4) {
        case 0:
        case 1: {
            uint64 Value = Random();
            HashTable_Add(Table, Key.c_str(), Value);
            Reference[Key] = Value;
            break;
        }
        case 2:
            EXPECT_EQ(HashTable_Remove(Table, Key.c_str()), (int32)Reference.erase(Key));
            break;
        default: {
            uint64 Value = 0;
            auto Found = Reference.find(Key);
            EXPECT_EQ(HashTable_GetValue(Table, Key.c_str(), &Value), Found != Reference.end());
            EXPECT_EQ(Value, Found != Reference.end() ? Found->second : 0u);
        }
        }
    }
    EXPECT_EQ(Count(Table), Reference.size());
    size_t Seen = 0;
    HashTableMember *Member = nullptr;
    for (int32 More = HashTable_MemberGetFirst(Table, &Member); More;
         More = HashTable_MemberGetNext(Table, Member, &Member)) {
        void *Key = nullptr;
        uint64 Value = 0;
        HashTable_MemberGet(Table, Member, &Key, &Value);
        auto Found = Reference.find(static_cast<const char *>(Key));
        ASSERT_NE(Found, Reference.end());
        EXPECT_EQ(Found->second, Value);
        Seen++;
    }
    EXPECT_EQ(Seen, Reference.size());
}

TEST(HashTableDeath, HandleAndMemberChecks) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            HashTable_Add(nullptr, "a", 1);
        },
        ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            alignas(16) char NotATable[256] = {};
            HashTable_ContainsKey(reinterpret_cast<HashTable *>(NotATable), "a");
        },
        ::testing::KilledBySignal(SIGILL),
        "Class mismatch pointer \\(0x(0x)?[0-9a-fA-F]+: expected 0x3cf21d39 but was 0x00000000\\)");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            HashTable *Table = nullptr;
            HashTable_Create(&Table, 8, 4);
            alignas(16) char NotAMember[64] = {};
            HashTable_MemberGetValue(Table, reinterpret_cast<HashTableMember *>(NotAMember), nullptr);
        },
        ::testing::KilledBySignal(SIGILL),
        "Class mismatch pointer \\(0x(0x)?[0-9a-fA-F]+: expected 0x1e7d9d7a but was 0x00000000\\)");
    EXPECT_EXIT(
        {
            RuntimeScope Scope;
            HashTable *Table = nullptr;
            HashTable_Create(&Table, 8, 4);
            HashTable_MemberGetNext(Table, nullptr, nullptr);
        },
        ::testing::KilledBySignal(SIGILL), "Pointer is NULL");
}

// A growable table keeps finding, replacing, walking and removing every
// member while its buckets multiply under it; a fixed one keeps its count.
TEST_F(HashTableTest, AGrowableTableKeepsEveryMemberAsItGrows) {
    HashTable_Create(&Table, 16, 4);
    HashTable_SetGrowable(Table, 1);
    const int Count = 5000;
    auto KeyOf = [](int Index) { return "key-" + std::to_string(Index); };
    for (int Index = 0; Index < Count; Index++) HashTable_Add(Table, KeyOf(Index).c_str(), (uint64)Index);
    // Replacing values: even keys now hold their index plus 100,000.
    for (int Index = 0; Index < Count; Index += 2)
        HashTable_Add(Table, KeyOf(Index).c_str(), (uint64)Index + 100000);
    EXPECT_EQ(::Count(Table), (uint32)Count);
    for (int Index = 0; Index < Count; Index++) {
        uint64 Value = 0;
        ASSERT_TRUE(HashTable_GetValue(Table, KeyOf(Index).c_str(), &Value)) << Index;
        EXPECT_EQ(Value, (uint64)Index + (Index % 2 == 0 ? 100000 : 0));
    }
    std::vector<int> Seen(Count, 0);
    HashTableMember *Member = nullptr;
    for (int32 More = HashTable_MemberGetFirst(Table, &Member); More && Member != nullptr;
         More = HashTable_MemberGetNext(Table, Member, &Member)) {
        uint64 Value = 0;
        HashTable_MemberGetValue(Table, Member, &Value);
        Seen[Value >= 100000 ? Value - 100000 : Value]++;
    }
    EXPECT_EQ(std::count(Seen.begin(), Seen.end(), 1), Count);
    for (int Index = 0; Index < Count; Index += 3) EXPECT_TRUE(HashTable_Remove(Table, KeyOf(Index).c_str()));
    for (int Index = 0; Index < Count; Index++)
        EXPECT_EQ(HashTable_ContainsKey(Table, KeyOf(Index).c_str()), Index % 3 != 0 ? 1 : 0) << Index;
}

// Find-or-add answers the stored member for a present key and adds the
// others with the value 0, one member per key.
TEST_F(HashTableTest, FindOrAddKeepsOneMemberPerKey) {
    HashTable_Create(&Table, 16, 4);
    struct Step {
        const char *Key;
        int32 Added;
        uint32 Count;
    };
    const Step Steps[] = {{"alpha", 1, 1}, {"beta", 1, 2}, {"alpha", 0, 2}, {"", 1, 3}, {"", 0, 3}};
    for (const Step &Each : Steps) {
        HashTableMember *Member = nullptr;
        int32 Added = -1;
        ASSERT_TRUE(HashTable_MemberFindOrAdd(Table, Each.Key, &Member, &Added));
        EXPECT_EQ(Added, Each.Added) << Each.Key;
        uint64 Value = 99;
        HashTable_MemberGetValue(Table, Member, &Value);
        if (Each.Added) {
            EXPECT_EQ(Value, 0u);
            HashTable_MemberSetValue(Table, Member, (uint64)strlen(Each.Key) + 1);
        } else {
            EXPECT_EQ(Value, strlen(Each.Key) + 1);
        }
        HashTableMember *Found = nullptr;
        EXPECT_TRUE(HashTable_MemberFindByKey(Table, Each.Key, &Found));
        EXPECT_EQ(Found, Member);
        uint32 Count = 0;
        HashTable_GetCount(Table, &Count);
        EXPECT_EQ(Count, Each.Count);
    }
}
