// Items by hash in an open-addressed slot array: linear probing, at most
// half full, each slot holding its item's full hash beside the item.
//
// For tables that hold one item for every live task of a large workflow and
// are searched for every event: a look-up reads the slot array and, when the
// hashes agree, what the item points at, where a chained table reads a
// bucket, a member and then what the member points at. An item is a pointer
// (null: a free slot) or a small struct whose Free() tells a free slot (its
// value-initialised state); the table copies items but never reads what
// they point at, and the owner decides what "the same key" means (Same).
//
// Invariants: Slots is empty or a power of two in size and never more than
// half used; an item sits in the run of used slots that starts at its home
// (hash & mask), so a probe stops at the first free slot.
#pragma once

#include <type_traits>
#include <vector>

#include "runtime/types.h"

template <typename Item> class ProbeTable {
  public:
    // The stored item under Hash for which Same(item) holds, or null; the
    // owner may change what the item holds but not its key.
    template <typename Match> Item *Find(uint64 Hash, Match &&Same) {
        const size_t At = IndexOf(Hash, Same);
        return At != NotFound ? &Slots[At].Value : nullptr;
    }
    // A copy of that item, or a free one.
    template <typename Match> Item Get(uint64 Hash, Match &&Same) const {
        const size_t At = IndexOf(Hash, Same);
        return At != NotFound ? Slots[At].Value : Item{};
    }

    // No item with Value's key may be in the table. The stored item, which
    // stays where it is until the next add or erase.
    Item &Add(uint64 Hash, const Item &Value) {
        if ((Used + 1) * 2 > Slots.size()) Grow();
        size_t At = Hash & Mask();
        while (!IsFree(Slots[At].Value)) At = (At + 1) & Mask();
        Slots[At] = Slot{Hash, Value};
        Used++;
        return Slots[At].Value;
    }

    // Takes out the item under Hash for which Same(item) holds; false when
    // there is none.
    template <typename Match> bool Erase(uint64 Hash, Match &&Same) {
        size_t Hole = IndexOf(Hash, Same);
        if (Hole == NotFound) return false;
        // Backward shift, so no tombstones are left: a later item of the run
        // moves into the hole unless its home lies after the hole, where a
        // probe for it would stop short.
        for (size_t Next = (Hole + 1) & Mask(); !IsFree(Slots[Next].Value); Next = (Next + 1) & Mask()) {
            const size_t Home = Slots[Next].Hash & Mask();
            if (((Next - Home) & Mask()) >= ((Next - Hole) & Mask())) {
                Slots[Hole] = Slots[Next];
                Hole = Next;
            }
        }
        Slots[Hole] = Slot{};
        Used--;
        return true;
    }

    size_t Size() const { return Used; }

    // Starts reading the slot where a look-up under Hash begins, so that a
    // caller with other work to do first does not wait for it later.
    void Prefetch(uint64 Hash) const {
        if (!Slots.empty()) __builtin_prefetch(&Slots[Hash & Mask()]);
    }

    // Calls Visit(item) for every item, in no particular order. Visit may
    // free what the item points at, but must not add or erase.
    template <typename Visitor> void ForEach(Visitor &&Visit) const {
        for (const Slot &Each : Slots)
            if (!IsFree(Each.Value)) Visit(Each.Value);
    }

  private:
    static_assert(std::is_trivially_copyable_v<Item>);
    struct Slot {
        uint64 Hash = 0;
        Item Value{};
    };
    std::vector<Slot> Slots;
    size_t Used = 0;

    static constexpr size_t NotFound = ~(size_t)0;

    size_t Mask() const { return Slots.size() - 1; }
    template <typename Match> size_t IndexOf(uint64 Hash, Match &&Same) const {
        if (Slots.empty()) return NotFound;
        for (size_t At = Hash & Mask();; At = (At + 1) & Mask()) {
            const Slot &Each = Slots[At];
            if (IsFree(Each.Value)) return NotFound;
            if (Each.Hash == Hash && Same(Each.Value)) return At;
        }
    }
    static bool IsFree(const Item &Value) {
        if constexpr (std::is_pointer_v<Item>)
            return Value == nullptr;
        else
            return Value.Free();
    }

    // Rehoming reads only the slots' hashes, never the items.
    void Grow() {
        std::vector<Slot> Old(Slots.empty() ? 64 : Slots.size() * 2);
        Old.swap(Slots);
        for (const Slot &Each : Old) {
            if (IsFree(Each.Value)) continue;
            size_t At = Each.Hash & Mask();
            while (!IsFree(Slots[At].Value)) At = (At + 1) & Mask();
            Slots[At] = Each;
        }
    }
};
