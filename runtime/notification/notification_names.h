// Names measured once: the fast path of a caller that fires (or asks about)
// the same type and name many times. The lengths are taken as a key can hold
// them, and constant names are placed in the center's name counts at
// start-up, so that a fire of names nobody observes is answered from those
// counts without building a key. The slow path (NotificationCenter_Fire and
// its kin in notification_center.h) gives the same answers.
#pragma once

#include <stddef.h>
#include <string.h>

#include "runtime/containers/dictionary.h"
#include "runtime/notification/notification_center.h"

// Key texts "type.name.instance": at most 121 bytes and the terminator.
constexpr int32 NotificationKeySize = 122;

// A null name part stands for "Global".
inline const char *NotificationCenter_Part(const char *Text) {
    return Text != nullptr ? Text : NOTIFICATIONCENTER_GLOBAL;
}

// A name part's length as far as a key can hold it: a part is never measured
// past NotificationKeySize - 1 bytes.
inline size_t NotificationCenter_PartLength(const char *Text) { return strnlen(Text, NotificationKeySize - 1); }

// A fire's names and their lengths (as NotificationCenter_PartLength gives
// them), measured once for every key the fire looks up.
constexpr uint32 NotificationNoSlot = 0xffffffffu;

struct NotificationFireNames {
    const char *Type;
    const char *Name;
    const char *Instance;
    size_t TypeLength;
    size_t NameLength;
    size_t InstanceLength;
    // Type and name sit in fields of NotificationNameSize bytes (a queued
    // fire's): whole words of them may be read.
    bool InFields = false;
    // The name counts' slot of the names' key prefix, as
    // NotificationCenter_NameSlotOf gives it, or NotificationNoSlot: a fire
    // of names nobody observes under any instance is then answered from the
    // counts alone, without finding the prefix.
    uint32 NameSlot = NotificationNoSlot;
    // Fired by the program's own code about its own objects (the Own fires),
    // never by a page, a document's task or a peer.
    bool Own = false;
    // A page's fire made in answer to nothing but the loop (a loop fire to
    // the pages that hear it).
    bool Echo = false;
};

// The slot of the names' prefix in the center's name counts: a pure function
// of the names, the same for every center.
uint32 NotificationCenter_NameSlotOf(const char *Type, size_t TypeLength, const char *Name, size_t NameLength);

// Constant names, measured and placed once (at start-up) for all their fires.
struct NotificationConstNames {
    const char *Type;
    const char *Name;
    size_t TypeLength;
    size_t NameLength;
    uint32 NameSlot;
    // The names fired under Instance, measured as NotificationCenter_PartLength does.
    NotificationFireNames Under(const char *Instance) const {
        Instance = NotificationCenter_Part(Instance);
        return {Type, Name, Instance, TypeLength, NameLength, NotificationCenter_PartLength(Instance), false, NameSlot};
    }
};
template <size_t TypeSize, size_t NameSize>
NotificationConstNames NotificationCenter_ConstNames(const char (&Type)[TypeSize], const char (&Name)[NameSize]) {
    static_assert(TypeSize - 1 <= NotificationKeySize - 1 && NameSize - 1 <= NotificationKeySize - 1);
    return {Type, Name, TypeSize - 1, NameSize - 1,
            NotificationCenter_NameSlotOf(Type, TypeSize - 1, Name, NameSize - 1)};
}

// NotificationCenter_FireAfterDelayShared of names the caller measured (as
// NotificationCenter_PartLength does), none null: a caller that fires
// constant names knows their lengths, and spares measuring them per fire.
int32 NotificationCenter_FireAfterDelaySharedNames(const NotificationFireNames &Fired, int32 DelayMilliseconds,
                                                   Dictionary *UserInfo);
// NotificationCenter_IsObserved of measured names, none null; a known name
// slot answers names nobody observes from the counts alone.
int32 NotificationCenter_IsObservedNames(const NotificationFireNames &Fired);
