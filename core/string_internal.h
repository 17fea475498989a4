// Private to the string modules (string.cpp, string_search.cpp,
// string_wildcard.cpp and the UTF-16 counterparts in unicode.cpp): the
// character tests their copies, comparisons and searches share, so that every
// operation folds case and matches separator sets by the same rule. Also the
// short copy of the code that moves many small texts (the Dictionary's keys
// and values, the document writers' pieces).
#pragma once

#include <stddef.h>
#include <string.h>

#include <type_traits>

namespace string_detail {

// ASCII letters only: bytes of UTF-8 sequences and other UTF-16 units pass
// unchanged. Bytes come back unsigned, so folded texts order as unsigned bytes.
template <typename Unit>
inline constexpr std::make_unsigned_t<Unit> Fold(Unit Ch) {
    using Code = std::make_unsigned_t<Unit>;
    const Code Value = (Code)Ch;
    return (Value >= 'A' && Value <= 'Z') ? (Code)(Value + ('a' - 'A')) : Value;
}

// The terminator is never in a set, so a scan over a text stops at its end.
inline bool InSet(const char *Set, char Ch) {
    if (Ch == 0) return false;
    for (; *Set; Set++)
        if (*Set == Ch) return true;
    return false;
}

// Copies Length bytes (less than 32) with a few fixed-size moves that may
// overlap, instead of a library call for every short text.
inline void CopyShort(char *To, const char *From, size_t Length) {
    if (Length >= 16) {
        memcpy(To, From, 16);
        memcpy(To + Length - 16, From + Length - 16, 16);
    } else if (Length >= 8) {
        memcpy(To, From, 8);
        memcpy(To + Length - 8, From + Length - 8, 8);
    } else if (Length >= 4) {
        memcpy(To, From, 4);
        memcpy(To + Length - 4, From + Length - 4, 4);
    } else if (Length > 0) {
        To[0] = From[0];
        To[Length / 2] = From[Length / 2];
        To[Length - 1] = From[Length - 1];
    }
}

} // namespace string_detail
