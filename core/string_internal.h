// Private to the string modules (string.cpp, string_search.cpp,
// string_wildcard.cpp and the UTF-16 counterparts in unicode.cpp): the
// character tests their copies, comparisons and searches share, so that every
// operation folds case and matches separator sets by the same rule.
#pragma once

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

} // namespace string_detail
