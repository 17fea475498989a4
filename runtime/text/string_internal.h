// Private to the string modules (string.cpp, string_search.cpp,
// string_wildcard.cpp and the UTF-16 counterparts in unicode.cpp): the
// character tests their copies, comparisons and searches share, so that every
// operation folds case and matches separator sets by the same rule. Also the
// short copy of the code that moves many small texts (the Dictionary's keys
// and values, the document writers' pieces).
#pragma once

#include <stddef.h>
#include <stdint.h>
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

// The eight lower-case hex digits of four bytes, the first byte's first,
// made in one word: every nibble is spread into a byte of its own, and the
// bytes holding 10 to 15 (which reach bit 4 with 6 added) take the step
// from '9' to 'a' on top of '0'.
inline void HexDigits4(const unsigned char *Bytes, char *Out) {
    uint32_t Four;
    memcpy(&Four, Bytes, 4);
    uint64_t Spread = Four;
    Spread = (Spread | Spread << 16) & 0x0000ffff0000ffffull;
    Spread = (Spread | Spread << 8) & 0x00ff00ff00ff00ffull;
    // Little-endian: a byte's high nibble goes to the lower address.
    Spread = ((Spread >> 4) & 0x000f000f000f000full) | (Spread & 0x000f000f000f000full) << 8;
    const uint64_t Letters = ((Spread + 0x0606060606060606ull) >> 4) & 0x0101010101010101ull;
    Spread += 0x3030303030303030ull + Letters * ('a' - '0' - 10);
    memcpy(Out, &Spread, 8);
}

} // namespace string_detail
