// Items by hash in an open-addressed slot array: linear probing, at most
// half full, each slot holding its item's full hash beside a pointer to it.
//
// For tables that hold one item for every live task of a large workflow and
// are searched for every event: a look-up reads the slot array and, when the
// hashes agree, the item itself, where a chained table reads a bucket, a
// member and then the item the member names. The items are the owner's; the
// table never moves or reads them, so they stay where they are and the
// owner decides what "the same key" means (Find's Same).
//
// Invariants: Slots is empty or a power of two in size and never more than
// half used; an item sits in the run of used slots that starts at its home
// (hash & mask), so a probe stops at the first free slot.
#pragma once

#include <vector>

#include "core/types.h"

template <typename Item> class ProbeTable {
  public:
    // The item under Hash for which Same(item) holds, or null.
    template <typename Match> Item *Find(uint64 Hash, Match &&Same) const {
        if (Slots.empty()) return nullptr;
        for (size_t At = Hash & Mask();; At = (At + 1) & Mask()) {
            const Slot &Each = Slots[At];
            if (Each.Value == nullptr) return nullptr;
            if (Each.Hash == Hash && Same(*Each.Value)) return Each.Value;
        }
    }

    // Value must not be in the table.
    void Add(uint64 Hash, Item *Value) {
        if ((Used + 1) * 2 > Slots.size()) Grow();
        size_t At = Hash & Mask();
        while (Slots[At].Value != nullptr) At = (At + 1) & Mask();
        Slots[At] = Slot{Hash, Value};
        Used++;
    }

    // Value must be in the table, under Hash.
    void Erase(uint64 Hash, const Item *Value) {
        size_t Hole = Hash & Mask();
        while (Slots[Hole].Value != Value) Hole = (Hole + 1) & Mask();
        // Backward shift, so no tombstones are left: a later item of the run
        // moves into the hole unless its home lies after the hole, where a
        // probe for it would stop short.
        for (size_t Next = (Hole + 1) & Mask(); Slots[Next].Value != nullptr; Next = (Next + 1) & Mask()) {
            const size_t Home = Slots[Next].Hash & Mask();
            if (((Next - Home) & Mask()) >= ((Next - Hole) & Mask())) {
                Slots[Hole] = Slots[Next];
                Hole = Next;
            }
        }
        Slots[Hole] = Slot{0, nullptr};
        Used--;
    }

    size_t Size() const { return Used; }

    // Calls Visit(item) for every item, in no particular order. Visit may
    // free the item it is given, but must not add or erase.
    template <typename Visitor> void ForEach(Visitor &&Visit) const {
        for (const Slot &Each : Slots)
            if (Each.Value != nullptr) Visit(Each.Value);
    }

  private:
    struct Slot {
        uint64 Hash;
        Item *Value; // null: the slot is free
    };
    std::vector<Slot> Slots;
    size_t Used = 0;

    size_t Mask() const { return Slots.size() - 1; }

    // Rehoming reads only the slots' hashes, never the items.
    void Grow() {
        std::vector<Slot> Old(Slots.empty() ? 64 : Slots.size() * 2, Slot{0, nullptr});
        Old.swap(Slots);
        for (const Slot &Each : Old) {
            if (Each.Value == nullptr) continue;
            size_t At = Each.Hash & Mask();
            while (Slots[At].Value != nullptr) At = (At + 1) & Mask();
            Slots[At] = Each;
        }
    }
};
