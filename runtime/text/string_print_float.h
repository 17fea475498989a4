// Private to the print engine: the %f, %e and %g conversions.
#pragma once

#include "runtime/types.h"

namespace print {

// Room the float conversion needs: 309 integer digits, a point, 165 fraction
// digits and a sign, or a zero-padded width of at most 340.
inline constexpr int32 FloatAreaSize = 512;

struct FloatFormat {
    char Type;            // 'f' fixed, 'e' exponent, 'g' general
    char ExponentLetter;  // 'e' or 'E'
    int32 Precision;      // -1 when absent; at most 310
    int32 Width;          // at most 340
    bool Left, Plus, Space, Bang, Hash, Zero;
};

// Writes the converted text (without blank padding) into Area, which holds
// FloatAreaSize bytes; returns its length.
int32 FormatFloat(float64 Value, const FloatFormat &Format, char *Area);

}  // namespace print
