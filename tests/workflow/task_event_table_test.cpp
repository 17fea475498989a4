#include "workflow/task_event_table.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>

namespace {

// Adds, erases and finds at random against a std::map, through growths and
// the long probe runs a half-full table builds: every entry stays where it
// was made and is found by its id alone, and the table visits exactly the
// ids it holds.
TEST(TaskEventTable, AgreesWithAMapThroughGrowthAndErasure) {
    std::mt19937 Random(35);
    std::vector<std::string> Ids{""};
    for (int Index = 0; Index < 3000; Index++)
        Ids.push_back(Index % 7 == 0 ? std::string(40 + Index % 90, 'a' + Index % 26) + std::to_string(Index)
                                     : std::to_string(Index * 7919));
    TaskEventTable Table;
    std::map<std::string, TaskEventTable::Entry *> Model;
    for (int Step = 0; Step < 120000; Step++) {
        const std::string &Id = Ids[Random() % Ids.size()];
        auto Known = Model.find(Id);
        ASSERT_EQ(Table.Find(Id), Known != Model.end() ? Known->second : nullptr) << Id;
        // Mostly adds at first, then as many erases as adds.
        const bool Add = Random() % 100 < (Step < 20000 ? 90 : 50);
        if (Add && Known == Model.end()) {
            TaskEventTable::Entry *Made = Table.Add(Id);
            ASSERT_STREQ(Made->Id(), Id.c_str());
            Made->Events.Sequence = (uint64)Step;
            Model[Id] = Made;
        } else if (!Add && Known != Model.end()) {
            Table.Erase(Known->second);
            Model.erase(Known);
        }
        ASSERT_EQ(Table.Size(), Model.size());
        if (Step % 10000 == 0) {
            std::map<std::string, TaskEventTable::Entry *> Seen;
            Table.ForEach([&Seen](TaskEventTable::Entry &Each) { Seen[Each.Id()] = &Each; });
            ASSERT_EQ(Seen, Model);
        }
    }
    for (auto &[Id, Entry] : Model) EXPECT_EQ(Table.Find(Id), Entry);
}

} // namespace
