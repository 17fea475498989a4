// The print engine's floating-point conversions (%f, %e, %g and their
// upper-case forms).
//
// The engine's rules: precision defaults to 12 (not 6); rounding is half-up at
// the last shown digit; only the first 16 significant digits (26 with "!")
// come from the value, later positions print "0"; g strips trailing zeros
// unless "#", e and f only with "!"; "!" also always shows a point, and a
// point left bare by stripping gets one "0" ("%!f" of 1 is "1.0"). NaN prints
// "NaN" and infinities "Inf" after the sign, neither zero-padded.
//
// Digits are taken from the exact decimal expansion of the double (every
// finite double has one, at most 1,074 fraction digits), not from repeated
// multiplication in double precision, whose error reaches the 15th digit for
// values that need many scaling steps. Half-up rounding of the exact value
// then agrees with correctly rounding printf everywhere except on exact ties.
#include "runtime/text/string_print_float.h"

#include <math.h>
#include <string.h>

#include <algorithm>
#include <charconv>

#include "runtime/debug.h"
#include "runtime/text/string_print.h"

namespace print {
namespace {

// Longest exact fixed expansion: "0." and 1,074 fraction digits of the
// smallest subnormal, or the 309 integer digits of the largest double.
constexpr int32 ExactSize = 1536;

// Significant digits of a non-negative value; Count 0 means zero.
struct Decimal {
    char Digits[ExactSize];
    int32 Count = 0;
    int32 Exponent = 0;  // power of ten of Digits[0]
};

void ExactDigits(float64 Value, Decimal &Out) {
    uint64 Bits;
    memcpy(&Bits, &Value, sizeof Bits);
    const int32 Biased = (int32)((Bits >> 52) & 0x7FF);
    uint64 Mantissa = Bits & ((1ULL << 52) - 1);
    int32 Power2 = -1074;
    if (Biased != 0) {
        Mantissa |= 1ULL << 52;
        Power2 = Biased - 1075;
    }
    // Value = odd * 2^Power2, whose decimal expansion ends -Power2 places
    // behind the point, so printing that many fraction digits is exact.
    Power2 += __builtin_ctzll(Mantissa);
    char Text[ExactSize];
    const auto Result =
        std::to_chars(Text, Text + sizeof Text, Value, std::chars_format::fixed, Power2 < 0 ? -Power2 : 0);
    Debug_Assert(Result.ec == std::errc(), "Exact float expansion does not fit");
    const int32 Length = (int32)(Result.ptr - Text);
    const char *Point = (const char *)memchr(Text, '.', (size_t)Length);
    int32 Power = (int32)((Point ? Point - Text : Length) - 1);
    Out.Count = 0;
    for (int32 i = 0; i < Length; i++) {
        const char C = Text[i];
        if (C == '.') continue;
        if (Out.Count == 0) {
            if (C == '0') {
                Power--;
                continue;
            }
            Out.Exponent = Power;
        }
        Out.Digits[Out.Count++] = C;
    }
    while (Out.Count > 0 && Out.Digits[Out.Count - 1] == '0') Out.Count--;
}

// Keeps Keep significant digits, rounding half-up on the first dropped one.
void RoundHalfUp(Decimal &D, int32 Keep) {
    if (D.Count == 0 || Keep >= D.Count) return;
    if (Keep < 0) {
        D.Count = 0;
        return;
    }
    const bool Up = D.Digits[Keep] >= '5';
    D.Count = Keep;
    if (!Up) {
        while (D.Count > 0 && D.Digits[D.Count - 1] == '0') D.Count--;
        return;
    }
    int32 i = Keep - 1;
    while (i >= 0 && D.Digits[i] == '9') D.Digits[i--] = '0';
    if (i >= 0) {
        D.Digits[i]++;
    } else {
        // All nines (or nothing kept): the value becomes the next power of ten.
        D.Digits[0] = '1';
        D.Exponent++;
        if (D.Count == 0) D.Count = 1;
    }
    while (D.Count > 0 && D.Digits[D.Count - 1] == '0') D.Count--;
}

// Removes trailing fraction zeros; a bare point goes, or gets one "0" with "!".
char *StripZeros(char *Begin, char *End, bool Bang) {
    if (!memchr(Begin, '.', (size_t)(End - Begin))) return End;
    while (End[-1] == '0') End--;
    if (End[-1] == '.') {
        if (Bang)
            *End++ = '0';
        else
            End--;
    }
    return End;
}

}  // namespace

int32 FormatFloat(float64 Value, const FloatFormat &Format, char *Area) {
    char *Out = Area;
    if (isnan(Value)) {
        memcpy(Out, "NaN", 3);
        return 3;
    }
    const char Sign = Value < 0 ? '-' : Format.Plus ? '+' : Format.Space ? ' ' : 0;
    if (Sign) *Out++ = Sign;
    if (isinf(Value)) {
        memcpy(Out, "Inf", 3);
        return (int32)(Out - Area) + 3;
    }
    char *Body = Out;

    const int32 Precision = Format.Precision < 0 ? 12 : Format.Precision;
    int32 Digits = std::min(Precision, 165);
    if (Format.Type == 'g' && Precision > 0) Digits--;

    Decimal D;
    const float64 Magnitude = fabs(Value);
    if (Magnitude != 0) ExactDigits(Magnitude, D);
    // f rounds at a fixed place behind the point, e and g at Digits + 1 significant digits.
    RoundHalfUp(D, Format.Type == 'f' ? D.Exponent + 1 + Digits : Digits + 1);
    const int32 Exponent = D.Count ? D.Exponent : 0;
    const int32 Significant = Format.Bang ? 26 : 16;
    auto Digit = [&](int32 Index) {
        return Index >= 0 && Index < D.Count && Index < Significant ? D.Digits[Index] : '0';
    };

    const bool ExponentForm = Format.Type == 'e' || (Format.Type == 'g' && (Digits < Exponent || Exponent < -4));
    const bool Strip = Format.Type == 'g' ? !Format.Hash : Format.Bang;
    if (ExponentForm) {
        *Out++ = Digit(0);
        if (Format.Hash || Format.Bang || Digits > 0) *Out++ = '.';
        for (int32 i = 1; i <= Digits; i++) *Out++ = Digit(i);
        if (Strip) Out = StripZeros(Body, Out, Format.Bang);
        const int32 Magnitude10 = Exponent < 0 ? -Exponent : Exponent;
        *Out++ = Format.ExponentLetter;
        *Out++ = Exponent < 0 ? '-' : '+';
        if (Magnitude10 >= 100) *Out++ = (char)('0' + Magnitude10 / 100);
        *Out++ = (char)('0' + Magnitude10 / 10 % 10);
        *Out++ = (char)('0' + Magnitude10 % 10);
    } else {
        const int32 Fraction = Format.Type == 'f' ? Digits : Digits - Exponent;
        if (Exponent >= 0) {
            for (int32 i = 0; i <= Exponent; i++) *Out++ = Digit(i);
        } else {
            *Out++ = '0';
        }
        if (Format.Hash || Format.Bang || Fraction > 0) *Out++ = '.';
        for (int32 j = 1; j <= Fraction; j++) *Out++ = Digit(Exponent + j);
        if (Strip) Out = StripZeros(Body, Out, Format.Bang);
    }

    int32 Length = (int32)(Out - Area);
    if (Format.Zero && !Format.Left && Length < Format.Width) {
        const int32 Pad = Format.Width - Length;
        memmove(Body + Pad, Body, (size_t)(Out - Body));
        memset(Body, '0', (size_t)Pad);
        Length = Format.Width;
    }
    return Length;
}

}  // namespace print

int32 Float64_GetDigit(float64 *Value, int32 *DigitsLeft, char *Digit) {
    Debug_CheckPointer(Value);
    Debug_CheckPointer(DigitsLeft);
    Debug_CheckPointer(Digit);
    if (*DigitsLeft <= 0) {
        *Digit = '0';
        return 1;
    }
    int32 Whole = (int32)*Value;
    Whole = Whole < 0 ? 0 : Whole > 9 ? 9 : Whole;
    *Digit = (char)('0' + Whole);
    *Value = (*Value - Whole) * 10;
    (*DigitsLeft)--;
    return 1;
}
