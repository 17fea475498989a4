#include "runtime/containers/probe_table.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

namespace {

struct Pair {
    int32 Key;
    int32 Value;
    bool Free() const { return Key == 0; }
};

// Five hashes for 300 keys, each home among the last two slots whatever the
// table's size: every run is long and wraps round the end of the slots, where
// a wrong backward shift after an erase strands the items behind the hole.
// Random adds, changes and erases against a std::map.
TEST(ProbeTable, AgreesWithAMapWhenEveryRunIsLongAndWraps) {
    std::mt19937 Random(7);
    auto HashOf = [](int32 Key) { return ((uint64)1 << 40) - 2 + (uint64)(Key % 5); };
    auto Same = [](int32 Key) { return [Key](const Pair &Stored) { return Stored.Key == Key; }; };
    ProbeTable<Pair> Table;
    std::map<int32, int32> Model;
    for (int32 Step = 0; Step < 30000; Step++) {
        const int32 Key = 1 + (int32)(Random() % 300);
        const auto Known = Model.find(Key);
        const Pair Found = Table.Get(HashOf(Key), Same(Key));
        ASSERT_EQ(Found.Key, Known != Model.end() ? Key : 0) << Step;
        if (Known != Model.end()) {
            ASSERT_EQ(Found.Value, Known->second) << Step;
        }
        switch (Random() % 3) {
            case 0:
                if (Known == Model.end()) {
                    Table.Add(HashOf(Key), Pair{Key, Step});
                    Model[Key] = Step;
                } else {
                    Table.Find(HashOf(Key), Same(Key))->Value = Step;
                    Known->second = Step;
                }
                break;
            case 1:
                ASSERT_EQ(Table.Erase(HashOf(Key), Same(Key)), Known != Model.end()) << Step;
                if (Known != Model.end()) Model.erase(Known);
                break;
            default: break;
        }
        ASSERT_EQ(Table.Size(), Model.size());
    }
    std::map<int32, int32> Seen;
    Table.ForEach([&Seen](const Pair &Each) { Seen[Each.Key] = Each.Value; });
    EXPECT_EQ(Seen, Model);
}

} // namespace
