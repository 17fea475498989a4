// Private to the byte-string module (string.cpp, string_search.cpp): the
// character tests its copies, comparisons and searches share, so that every
// operation folds case and matches separator sets by the same rule.
#pragma once

namespace string_detail {

// ASCII letters only: bytes of UTF-8 sequences pass unchanged.
inline constexpr unsigned char Fold(char Ch) {
    unsigned char Byte = (unsigned char)Ch;
    return (Byte >= 'A' && Byte <= 'Z') ? (unsigned char)(Byte + ('a' - 'A')) : Byte;
}

// The terminator is never in a set, so a scan over a text stops at its end.
inline bool InSet(const char *Set, char Ch) {
    if (Ch == 0) return false;
    for (; *Set; Set++)
        if (*Set == Ch) return true;
    return false;
}

} // namespace string_detail
