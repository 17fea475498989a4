// "*" wildcard matching for byte texts, pattern lists and UTF-16 texts.
//
// "*" matches any run (also none); every other unit matches itself, without
// case (ASCII only) when asked; "?" is not special. In byte patterns "\*" is a
// literal star and a backslash before anything else is literal. A pattern ends
// at its NUL or at the terminator (";" inside lists).
//
// The match is the iterative greedy one: on a mismatch only the most recent
// star widens by one unit. Texts come from pages and workflows, so recursion
// over every tail (exponential on "*a*a*a...b") is not an option; with "*" as
// the only wildcard the greedy walk gives the same answers in O(text x pattern).
#include "runtime/debug.h"
#include "runtime/text/string.h"
#include "runtime/text/string_internal.h"

namespace {

using string_detail::Fold;

template <typename Unit, bool Escapes>
class Matcher {
  public:
    Matcher(Unit Terminator, bool WithoutCase) : Terminator(Terminator), WithoutCase(WithoutCase) {}

    bool Match(const Unit *Text, const Unit *Pattern) const {
        const Unit *StarPattern = nullptr, *StarText = nullptr;
        while (*Text) {
            if (IsStar(Pattern)) {
                if (IsEnd(Pattern + 1)) return true;
                StarPattern = ++Pattern;
                StarText = Text;
                continue;
            }
            int32 Width = 0;
            if (!IsEnd(Pattern) && Same(Literal(Pattern, &Width), *Text)) {
                Text++;
                Pattern += Width;
                continue;
            }
            if (StarPattern == nullptr) return false;
            Pattern = StarPattern;
            Text = ++StarText;
        }
        while (IsStar(Pattern)) Pattern++;
        return IsEnd(Pattern);
    }

  private:
    Unit Terminator;
    bool WithoutCase;

    bool IsEnd(const Unit *Pattern) const { return *Pattern == 0 || (Terminator != 0 && *Pattern == Terminator); }
    static bool IsStar(const Unit *Pattern) { return *Pattern == '*'; }

    // The unit a literal token stands for, and how many pattern units it takes.
    static Unit Literal(const Unit *Pattern, int32 *Width) {
        if (Escapes && Pattern[0] == '\\' && Pattern[1] == '*') {
            *Width = 2;
            return '*';
        }
        *Width = 1;
        return Pattern[0];
    }

    bool Same(Unit A, Unit B) const { return WithoutCase ? Fold(A) == Fold(B) : A == B; }
};

}  // namespace

int32 String_CompareWildcardInt(const char *Text, const char *Pattern, char Terminator, int32 WithoutCase) {
    Debug_CheckPointer(Text);
    Debug_CheckPointer(Pattern);
    return Matcher<char, true>(Terminator, WithoutCase != 0).Match(Text, Pattern);
}

int32 String_CompareWildcard(const char *Text, const char *Pattern) {
    return String_CompareWildcardInt(Text, Pattern, 0, 0);
}

int32 String_CompareWildcardWithoutCase(const char *Text, const char *Pattern) {
    return String_CompareWildcardInt(Text, Pattern, 0, 1);
}

int32 String_CompareWildcardListInt(const char *Text, const char *PatternList, int32 WithoutCase) {
    Debug_CheckPointer(Text);
    Debug_CheckPointer(PatternList);
    if (PatternList[0] == 0) return 0;
    if (PatternList[0] == '*' && PatternList[1] == 0) return 1;
    Matcher<char, true> Member(';', WithoutCase != 0);
    for (const char *Start = PatternList;;) {
        if (Member.Match(Text, Start)) return 1;
        while (*Start && *Start != ';') Start++;
        if (*Start == 0) return 0;
        Start++;
        while (*Start == ' ') Start++;
    }
}

int32 String_CompareWildcardList(const char *Text, const char *PatternList) {
    return String_CompareWildcardListInt(Text, PatternList, 0);
}

int32 String_CompareWildcardListWithoutCase(const char *Text, const char *PatternList) {
    return String_CompareWildcardListInt(Text, PatternList, 1);
}

int32 StringUtf16_CompareWildcardInt(const uint16 *Text, const uint16 *Pattern, int32 WithoutCase) {
    Debug_CheckPointer(Text);
    Debug_CheckPointer(Pattern);
    return Matcher<uint16, false>(0, WithoutCase != 0).Match(Text, Pattern);
}

int32 StringUtf16_CompareWildcard(const uint16 *Text, const uint16 *Pattern) {
    return StringUtf16_CompareWildcardInt(Text, Pattern, 0);
}

int32 StringUtf16_CompareWildcardWithoutCase(const uint16 *Text, const uint16 *Pattern) {
    return StringUtf16_CompareWildcardInt(Text, Pattern, 1);
}
