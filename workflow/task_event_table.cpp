// TaskEventTable: see task_event_table.h.
//
// Invariants: Slots is empty or a power of two in size and never more than
// half used; an entry sits in the first free-less run of slots from its
// home (hash & mask) onwards, so a probe stops at the first free slot; each
// slot's Hash is its entry's.
#include "workflow/task_event_table.h"

#include <string.h>

#include <functional>
#include <new>

namespace {

uint64 HashOf(std::string_view Id) { return std::hash<std::string_view>{}(Id); }

} // namespace

TaskEventTable::~TaskEventTable() {
    for (Slot &Each : Slots)
        if (Each.Item != nullptr) {
            Each.Item->~Entry();
            ::operator delete(Each.Item);
        }
}

TaskEventTable::Entry *TaskEventTable::Find(std::string_view Id) const {
    if (Slots.empty()) return nullptr;
    const uint64 Hash = HashOf(Id);
    for (size_t At = Hash & Mask();; At = (At + 1) & Mask()) {
        const Slot &Each = Slots[At];
        if (Each.Item == nullptr) return nullptr;
        if (Each.Hash == Hash && Each.Item->Length == Id.size() && memcmp(Each.Item->Id(), Id.data(), Id.size()) == 0)
            return Each.Item;
    }
}

TaskEventTable::Entry *TaskEventTable::Add(std::string_view Id) {
    if ((Used + 1) * 2 > Slots.size()) Grow();
    Entry *Item = new (::operator new(sizeof(Entry) + Id.size() + 1)) Entry;
    Item->Hash = HashOf(Id);
    Item->Length = (uint32)Id.size();
    char *Text = reinterpret_cast<char *>(Item + 1);
    memcpy(Text, Id.data(), Id.size());
    Text[Id.size()] = '\0';
    size_t At = Item->Hash & Mask();
    while (Slots[At].Item != nullptr) At = (At + 1) & Mask();
    Slots[At] = Slot{Item->Hash, Item};
    Used++;
    return Item;
}

void TaskEventTable::Erase(Entry *Item) {
    size_t Hole = Item->Hash & Mask();
    while (Slots[Hole].Item != Item) Hole = (Hole + 1) & Mask();
    // Backward shift: a later entry of the run moves into the hole unless
    // its home lies after the hole, where a probe for it would stop short.
    for (size_t Next = (Hole + 1) & Mask(); Slots[Next].Item != nullptr; Next = (Next + 1) & Mask()) {
        const size_t Home = Slots[Next].Hash & Mask();
        if (((Next - Home) & Mask()) >= ((Next - Hole) & Mask())) {
            Slots[Hole] = Slots[Next];
            Hole = Next;
        }
    }
    Slots[Hole] = Slot{0, nullptr};
    Used--;
    Item->~Entry();
    ::operator delete(Item);
}

// Rehoming reads only the slots' hashes, never the entries.
void TaskEventTable::Grow() {
    std::vector<Slot> Old(Slots.empty() ? 64 : Slots.size() * 2, Slot{0, nullptr});
    Old.swap(Slots);
    for (const Slot &Each : Old) {
        if (Each.Item == nullptr) continue;
        size_t At = Each.Hash & Mask();
        while (Slots[At].Item != nullptr) At = (At + 1) & Mask();
        Slots[At] = Each;
    }
}
