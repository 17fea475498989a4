// TaskEventTable: see task_event_table.h.
#include "workflow/task_event_table.h"

#include <string.h>

#include <functional>
#include <new>

#include "runtime/memory.h"

namespace {

uint64 HashOf(std::string_view Id) { return std::hash<std::string_view>{}(Id); }

void FreeEntry(TaskEventTable::Entry *Item) {
    Item->~Entry();
    ::operator delete(Item);
}

} // namespace

TaskEventRecord::~TaskEventRecord() {
    if (Charged != 0) MemoryBudget_Give(Charged);
}

TaskEventTable::~TaskEventTable() { Entries.ForEach(FreeEntry); }

TaskEventTable::Entry *TaskEventTable::Find(std::string_view Id) const {
    return Entries.Get(HashOf(Id), [Id](const Entry *Item) {
        return Item->Length == Id.size() && memcmp(Item->Id(), Id.data(), Id.size()) == 0;
    });
}

TaskEventTable::Entry *TaskEventTable::Add(std::string_view Id) {
    Entry *Item = new (::operator new(sizeof(Entry) + Id.size() + 1)) Entry;
    Item->Hash = HashOf(Id);
    Item->Length = (uint32)Id.size();
    char *Text = reinterpret_cast<char *>(Item + 1);
    memcpy(Text, Id.data(), Id.size());
    Text[Id.size()] = '\0';
    Entries.Add(Item->Hash, Item);
    return Item;
}

void TaskEventTable::Erase(Entry *Item) {
    Entries.Erase(Item->Hash, [Item](const Entry *Each) { return Each == Item; });
    FreeEntry(Item);
}
