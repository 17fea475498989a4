// The key index of a large Dictionary container.
//
// The sibling list stays the container's one truth: its order, duplicates
// and every report come from it. Beside it, a container of many keyed items
// keeps an open-addressing table from a key (folded as the container
// compares keys) to the item carrying it and the number of items that do. A
// lookup that the table answers alone (one item with that key) costs a hash
// and a compare; a key several items share falls back to the list walk, so
// that "the first in list order" is the list's own answer.
//
// The table is made when a container reaches IndexThreshold items, at a key
// change (never by a lookup, so concurrent readers see a table that only
// writers touch), kept in step by every key change and removal, and dropped
// with the container's items or a change of its case rule.
#include <string.h>

#include <vector>

#include "runtime/containers/dictionary_internal.h"

struct DictionaryKeyIndex {
    struct Slot {
        DictionaryItem *Item; // null: free
        uint32 Hash;
        uint32 Count; // items whose key equals this slot's
    };
    std::vector<Slot> Slots; // a power of two in size
    uint32 Used = 0;
};

namespace {

inline uint8 FoldAscii(uint8 Ch) { return Ch >= 'A' && Ch <= 'Z' ? (uint8)(Ch + 32) : Ch; }

// FNV-1a over the bytes as the container compares them.
uint32 HashKey(const Dictionary *Handle, const char *Key, int32 Length) {
    uint32 Hash = 2166136261u;
    if (Handle->CaseSensitive != 0)
        for (int32 Index = 0; Index < Length; Index++) Hash = (Hash ^ (uint8)Key[Index]) * 16777619u;
    else
        for (int32 Index = 0; Index < Length; Index++) Hash = (Hash ^ FoldAscii((uint8)Key[Index])) * 16777619u;
    return Hash;
}

bool IsListContainer(const Dictionary *Handle) {
    return Handle->ParentItem != nullptr && DictionaryInt_Type(Handle->ParentItem) == DICTIONARY_TYPE_LIST;
}

DictionaryKeyIndex *IndexOf(const Dictionary *Handle) {
    const DictionaryExtra *Extra = __atomic_load_n(&Handle->Extra, __ATOMIC_ACQUIRE);
    return Extra != nullptr ? Extra->Index : nullptr;
}

// The slot holding Key, or the free slot where it would go.
DictionaryKeyIndex::Slot *Probe(const Dictionary *Handle, DictionaryKeyIndex *Index, const char *Key, int32 Length,
                                uint32 Hash) {
    const size_t Mask = Index->Slots.size() - 1;
    for (size_t At = Hash & Mask;; At = (At + 1) & Mask) {
        DictionaryKeyIndex::Slot &Each = Index->Slots[At];
        if (Each.Item == nullptr) return &Each;
        if (Each.Hash == Hash && DictionaryInt_KeyEquals(Handle, Each.Item, Key, Length)) return &Each;
    }
}

void Grow(DictionaryKeyIndex *Index, size_t Size) {
    std::vector<DictionaryKeyIndex::Slot> Old;
    Old.swap(Index->Slots);
    Index->Slots.assign(Size, DictionaryKeyIndex::Slot{nullptr, 0, 0});
    const size_t Mask = Size - 1;
    for (const DictionaryKeyIndex::Slot &Each : Old) {
        if (Each.Item == nullptr) continue;
        size_t At = Each.Hash & Mask;
        while (Index->Slots[At].Item != nullptr) At = (At + 1) & Mask;
        Index->Slots[At] = Each;
    }
}

void Add(Dictionary *Handle, DictionaryKeyIndex *Index, DictionaryItem *Item) {
    if ((size_t)(Index->Used + 1) * 2 > Index->Slots.size()) Grow(Index, Index->Slots.size() * 2);
    const uint32 Hash = HashKey(Handle, Item->Key, Item->KeyLength);
    DictionaryKeyIndex::Slot *Found = Probe(Handle, Index, Item->Key, Item->KeyLength, Hash);
    if (Found->Item != nullptr) {
        Found->Count++;
        return;
    }
    *Found = {Item, Hash, 1};
    Index->Used++;
}

// Backward-shift deletion: later slots of the probe run move up, so that no
// run is ever broken by a hole.
void Vacate(DictionaryKeyIndex *Index, DictionaryKeyIndex::Slot *Slot) {
    const size_t Mask = Index->Slots.size() - 1;
    size_t Hole = (size_t)(Slot - Index->Slots.data());
    for (size_t At = (Hole + 1) & Mask;; At = (At + 1) & Mask) {
        DictionaryKeyIndex::Slot &Each = Index->Slots[At];
        if (Each.Item == nullptr) break;
        const size_t Home = Each.Hash & Mask;
        // Each may fill the hole when its home is not within (Hole, At].
        const bool Stays = Hole <= At ? (Home > Hole && Home <= At) : (Home > Hole || Home <= At);
        if (Stays) continue;
        Index->Slots[Hole] = Each;
        Hole = At;
    }
    Index->Slots[Hole] = {nullptr, 0, 0};
    Index->Used--;
}

} // namespace

void DictionaryInt_IndexFree(DictionaryKeyIndex *Index) { delete Index; }

void DictionaryInt_IndexDrop(Dictionary *Handle) {
    DictionaryExtra *Extra = __atomic_load_n(&Handle->Extra, __ATOMIC_ACQUIRE);
    if (Extra == nullptr || Extra->Index == nullptr) return;
    delete Extra->Index;
    Extra->Index = nullptr;
}

void DictionaryInt_IndexRebuild(Dictionary *Handle) {
    DictionaryInt_IndexDrop(Handle);
    if (Handle->Items.Count < DictionaryIndexThreshold || IsListContainer(Handle)) return;
    auto *Index = new DictionaryKeyIndex;
    size_t Size = 64;
    while (Size < (size_t)Handle->Items.Count * 2) Size *= 2;
    Index->Slots.assign(Size, DictionaryKeyIndex::Slot{nullptr, 0, 0});
    for (DictionaryItem *Item = Handle->Items.First; Item != nullptr; Item = Item->Next)
        if (Item->Key != nullptr) Add(Handle, Index, Item);
    DictionaryInt_Extra(Handle)->Index = Index;
}

void DictionaryInt_IndexAdd(Dictionary *Handle, DictionaryItem *Item) {
    DictionaryKeyIndex *Index = IndexOf(Handle);
    if (Index == nullptr) {
        // The item is already in the list, so a new table takes it in.
        if (Handle->Items.Count >= DictionaryIndexThreshold && !IsListContainer(Handle))
            DictionaryInt_IndexRebuild(Handle);
        return;
    }
    if (Item->Key != nullptr) Add(Handle, Index, Item);
}

void DictionaryInt_IndexRemove(Dictionary *Handle, DictionaryItem *Item) {
    DictionaryKeyIndex *Index = IndexOf(Handle);
    if (Index == nullptr || Item->Key == nullptr) return;
    const uint32 Hash = HashKey(Handle, Item->Key, Item->KeyLength);
    DictionaryKeyIndex::Slot *Found = Probe(Handle, Index, Item->Key, Item->KeyLength, Hash);
    if (Found->Item == nullptr) return;
    if (--Found->Count == 0) {
        Vacate(Index, Found);
        return;
    }
    if (Found->Item != Item) return;
    // Another item carries the key: the slot names it instead.
    for (DictionaryItem *Other = Handle->Items.First; Other != nullptr; Other = Other->Next)
        if (Other != Item && DictionaryInt_KeyEquals(Handle, Other, Item->Key, Item->KeyLength)) {
            Found->Item = Other;
            return;
        }
}

DictionaryItem *DictionaryInt_IndexFind(Dictionary *Handle, const char *Key, int32 Length, bool *Answered) {
    DictionaryKeyIndex *Index = IndexOf(Handle);
    *Answered = false;
    if (Index == nullptr) return nullptr;
    DictionaryKeyIndex::Slot *Found = Probe(Handle, Index, Key, Length, HashKey(Handle, Key, Length));
    if (Found->Item != nullptr && Found->Count > 1) return nullptr; // the list decides between them
    *Answered = true;
    return Found->Item;
}

bool DictionaryInt_KeysDistinct(Dictionary *Handle) {
    uint32 Keyed = 0;
    for (DictionaryItem *Item = Handle->Items.First; Item != nullptr; Item = Item->Next)
        if (Item->Key != nullptr) Keyed++;
    // The table holds one slot per distinct key.
    if (const DictionaryKeyIndex *Index = IndexOf(Handle)) return Index->Used == Keyed;
    if (Keyed >= DictionaryIndexThreshold) return false; // not proven, not worth a table here
    for (DictionaryItem *Item = Handle->Items.First; Item != nullptr; Item = Item->Next) {
        if (Item->Key == nullptr) continue;
        for (DictionaryItem *Other = Item->Next; Other != nullptr; Other = Other->Next)
            if (Other->Key != nullptr && DictionaryInt_KeyEquals(Handle, Other, Item->Key, Item->KeyLength))
                return false;
    }
    return true;
}
