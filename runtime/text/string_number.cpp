// Texts to numbers and numbers, bytes, addresses and identifiers to texts.
//
// Dictionaries keep numbers as text and read them back here, so the readers
// take any bytes: they stop at the first byte that does not belong and never
// fail loudly. Integer readers wrap at 64 bits as their callers expect; the
// address reader, whose results pick network peers, rejects what is not a
// dotted IPv4 address instead.
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "runtime/debug.h"
#include "runtime/posix/platform.h"
#include "runtime/text/string.h"
#include "runtime/text/string_internal.h"

static constexpr char UpperDigits[] = "0123456789ABCDEF";
static constexpr char LowerDigits[] = "0123456789abcdef";

static int32 HexValue(char Ch) {
    if (Ch >= '0' && Ch <= '9') return Ch - '0';
    if (Ch >= 'a' && Ch <= 'f') return Ch - 'a' + 10;
    if (Ch >= 'A' && Ch <= 'F') return Ch - 'A' + 10;
    return -1;
}

static bool IsDigit(char Ch) {
    return Ch >= '0' && Ch <= '9';
}

static bool HasHexPrefix(const char *Text) {
    return Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X');
}

// Hex digits behind a "0x" prefix up to the first other byte, wrapping.
static uint64 ReadHex(const char *Digits) {
    uint64 Value = 0;
    for (int32 Digit; (Digit = HexValue(*Digits)) >= 0; Digits++) Value = (Value << 4) | (uint64)Digit;
    return Value;
}

static uint64 ReadDecimal(const char *Digits) {
    uint64 Value = 0;
    for (; IsDigit(*Digits); Digits++) Value = Value * 10 + (uint64)(*Digits - '0');
    return Value;
}

// ---- Integers ----

int64 String_AtoI64(const char *Text) {
    if (Text == nullptr) return 0;
    bool Negative = false;
    if (*Text == '+' || *Text == '-') Negative = *Text++ == '-';
    // A hex value keeps no sign.
    if (HasHexPrefix(Text)) return (int64)ReadHex(Text + 2);
    uint64 Value = ReadDecimal(Text);
    return (int64)(Negative ? 0 - Value : Value);
}

uint64 String_AtoU64(const char *Text) {
    if (Text == nullptr || *Text == '-') return 0;
    if (*Text == '+') Text++;
    if (HasHexPrefix(Text)) return ReadHex(Text + 2);
    return ReadDecimal(Text);
}

int32 String_AtoI(const char *Text) {
    return (int32)String_AtoI64(Text);
}

uint32 String_AtoU(const char *Text) {
    return (uint32)String_AtoU64(Text);
}

uintptr String_AtoP(const char *Text) {
    return (uintptr)String_AtoU64(Text);
}

int32 String_ConvertToHexInternal(const char *Text, uint64 *Value) {
    uint64 Result = 0;
    bool Hex = Text != nullptr && HasHexPrefix(Text);
    if (Hex) Result = ReadHex(Text + 2);
    if (Value) *Value = Result;
    return Hex;
}

int32 String_IsNumeric(const char *Text) {
    if (Text == nullptr) return 0;
    if (*Text == '-') Text++;
    for (; *Text; Text++)
        if (!IsDigit(*Text) && *Text != '.') return 0;
    return 1;
}

// ---- Floating point ----

namespace {

// One "mantissa e exponent" link of a number text. The exponent behind an "e"
// is itself a whole number text, so "1e2e1" is 1 x 10^(2 x 10^1).
struct FloatPart {
    bool Negative = false;
    bool Hex = false;
    uint64 HexValue = 0;
    std::string Digits;  // significant digits, leading zeros dropped
    int64 FractionDigits = 0;
};

// Reads sign, hex or digits with dots; leaves Text behind the part.
FloatPart ReadFloatPart(const char *&Text) {
    FloatPart Part;
    if (*Text == '-') {
        Part.Negative = true;
        Text++;
    }
    if (HasHexPrefix(Text)) {
        Part.Hex = true;
        Part.HexValue = ReadHex(Text + 2);
        return Part;
    }
    bool SeenDot = false;
    for (; IsDigit(*Text) || *Text == '.'; Text++) {
        if (*Text == '.') {
            // Only the last dot places the point; earlier ones are skipped.
            SeenDot = true;
            Part.FractionDigits = 0;
            continue;
        }
        if (!(Part.Digits.empty() && *Text == '0')) Part.Digits.push_back(*Text);
        if (SeenDot) Part.FractionDigits++;
    }
    return Part;
}

// Instead of accumulating digits and dividing by ten per fraction digit, which
// loses a bit per step, the digits and the net power of ten go to strtod
// once: the result is the correctly rounded value the text describes.
float64 EvaluateFloatPart(FloatPart &Part, float64 Exponent) {
    if (Part.Hex) return (float64)Part.HexValue;
    if (Part.Digits.empty()) return Part.Negative ? -0.0 : 0.0;
    float64 Value;
    if (Exponent == floor(Exponent) && fabs(Exponent) < 1e15) {
        Part.Digits += "e" + std::to_string((int64)Exponent - Part.FractionDigits);
        Value = strtod(Part.Digits.c_str(), nullptr);
    } else {
        // A fractional or unbounded exponent scales the mantissa by its power.
        Part.Digits += "e" + std::to_string(-Part.FractionDigits);
        Value = strtod(Part.Digits.c_str(), nullptr);
        if (Value != 0) Value *= pow(10.0, Exponent);
    }
    return Part.Negative ? -Value : Value;
}

}  // namespace

// Each "e" starts a new number text (a "+" right behind it is skipped). The
// chain is read iteratively, so a text of many "e"s cannot exhaust the stack.
float64 String_AtoF(const char *Text) {
    if (Text == nullptr) return 0;
    std::vector<FloatPart> Parts;
    for (;;) {
        Parts.push_back(ReadFloatPart(Text));
        if (Parts.back().Hex || (*Text != 'e' && *Text != 'E')) break;
        Text++;
        if (*Text == '+') Text++;
    }
    float64 Value = 0;
    for (size_t Index = Parts.size(); Index-- > 0;) Value = EvaluateFloatPart(Parts[Index], Value);
    return Value;
}

// ---- Hex and bytes ----

int32 String_ConvertToHex(const void *Bytes, int32 Count, int32 LowerCase, char *Output, int32 Size) {
    int32 MaxHex = Size;
    Debug_Assert(MaxHex > 0, "Unable to null terminate hex string");
    Debug_CheckPointer(Output);
    const char *Digits = LowerCase == 1 ? LowerDigits : UpperDigits;
    const uint8 *Data = (const uint8 *)Bytes;
    int32 Written = 0;
    int32 Index = 0;
    for (; Index < Count && Written + 2 <= MaxHex - 1; Index++) {
        Output[Written++] = Digits[Data[Index] >> 4];
        Output[Written++] = Digits[Data[Index] & 15];
    }
    Output[Written] = 0;
    return Count < 1 || Index == Count;
}

int32 String_ConvertFromHexLength(const char *Text, int32 Length, void *Output, int32 OutputSize,
                                  int32 *OutputLength) {
    if (OutputLength) *OutputLength = 0;
    if (Text == nullptr || Output == nullptr) return 0;
    uint8 *Data = (uint8 *)Output;
    int32 Read = 0, Written = 0;
    if (Length >= 2 && HasHexPrefix(Text)) Read = 2;
    bool Complete = true;
    while (Read < Length) {
        if (Written >= OutputSize) {
            Complete = false;
            break;
        }
        int32 High = HexValue(Text[Read]);
        int32 Low = Read + 1 < Length ? HexValue(Text[Read + 1]) : -1;
        if (High < 0 || Low < 0) {
            // A stray byte or a lone last digit: mark the stop with a 0 byte.
            Complete = false;
            Data[Written] = 0;
            break;
        }
        Data[Written++] = (uint8)(High << 4 | Low);
        Read += 2;
    }
    if (Complete && Written < OutputSize) Data[Written] = 0;
    if (OutputLength) *OutputLength = Written;
    return Complete;
}

int32 String_ConvertFromHex(const char *Text, void *Output, int32 OutputSize, int32 *OutputLength) {
    if (Text == nullptr) {
        if (OutputLength) *OutputLength = 0;
        return 0;
    }
    return String_ConvertFromHexLength(Text, (int32)strnlen(Text, INT32_MAX), Output, OutputSize, OutputLength);
}

// ---- IPv4 ----

// Reads one decimal number of at most Limit; false for no digits or a larger
// value (so "256" or a 20-digit part can never wrap into a valid byte).
static bool ReadBounded(const char **Text, int64 Limit, int64 *Value) {
    const char *Here = *Text;
    int64 Result = 0;
    if (!IsDigit(*Here)) return false;
    for (; IsDigit(*Here); Here++) {
        Result = Result * 10 + (*Here - '0');
        if (Result > Limit) return false;
    }
    *Text = Here;
    *Value = Result;
    return true;
}

int32 String_ConvertToIP(const char *Text, uint32 *Address, int32 *Port) {
    Debug_CheckPointer(Address);
    *Address = 0;
    if (Port) *Port = 0;
    if (Text == nullptr) return 0;
    uint8 Bytes[4] = {127, 0, 0, 1};
    if (strcmp(Text, "::1") == 0) {
        memcpy(Address, Bytes, 4);
        return 1;
    }
    const char *Here = Text;
    for (int32 Part = 0; Part < 4; Part++) {
        if (Part > 0 && *Here++ != '.') return 0;
        int64 Value;
        if (!ReadBounded(&Here, 255, &Value)) return 0;
        Bytes[Part] = (uint8)Value;
    }
    int64 PortValue = 0;
    if (*Here == ':') {
        Here++;
        if (!ReadBounded(&Here, 65535, &PortValue)) return 0;
    }
    if (*Here != 0) return 0;
    memcpy(Address, Bytes, 4);
    if (Port) *Port = (int32)PortValue;
    return 1;
}

int32 String_ConvertFromIP(const uint32 *Address, int32 Port, char *Output, int32 Size) {
    Debug_CheckPointer(Address);
    Debug_CheckPointer(Output);
    if (Port == 0)
        String_Print(Output, Size, "%ipv4", Address);
    else
        String_Print(Output, Size, "%ipv4:%d", Address, Port);
    return 1;
}

// ---- Formatting ----

static constexpr int32 NumberTextSize = 1 + 309 + 1 + 8 + 1;

int32 String_NumberToString(char *Output, int32 Size, int32 GroupThousands, int32 Decimals, int32 TrimZeros,
                            float64 Value) {
    static constexpr const char *Formats[] = {"%.0f", "%.1f", "%.2f", "%.3f", "%.4f",
                                              "%.5f", "%.6f", "%.7f", "%.8f"};
    Debug_CheckPointer(Output);
    if (Decimals < 0 || Decimals > 8) Decimals = 0;
    // Room for every double: a 40-byte area would silently drop the low
    // digits of values from 1e38 up (1e40 would read as 1e38) and log an
    // overflow, so the area holds the sign, 309 digits, "." and 8 decimals.
    char Plain[NumberTextSize];
    String_Print(Plain, sizeof(Plain), Formats[Decimals], Value);
    int32 Length = (int32)strlen(Plain);
    if (TrimZeros == 1 && Decimals > 0 && strchr(Plain, '.')) {
        while (Length > 0 && Plain[Length - 1] == '0') Length--;
        if (Length > 0 && Plain[Length - 1] == '.') Length--;
        Plain[Length] = 0;
    }
    // Room for the printed bytes and a comma for every three of them.
    char Grouped[NumberTextSize + NumberTextSize / 3 + 1];
    int32 Written = 0;
    int32 Start = (Plain[0] == '-' || Plain[0] == '+') ? 1 : 0;
    int32 IntegerEnd = Start;
    while (IsDigit(Plain[IntegerEnd])) IntegerEnd++;
    for (int32 Index = 0; Index < Length; Index++) {
        if (GroupThousands == 1 && Index > Start && Index < IntegerEnd && (IntegerEnd - Index) % 3 == 0)
            Grouped[Written++] = ',';
        Grouped[Written++] = Plain[Index];
    }
    Grouped[Written] = 0;
    String_CopyLength(Output, Grouped, Size);
    return 1;
}

int32 String_FormatMetric(char *Output, int32 Size, uint64 Value, uint64 Unit, int32 Style) {
    static constexpr uint64 Kilo = 1024, Mega = 1048576, Giga = 1073741824;
    Debug_CheckPointer(Output);
    const char *UnitLetter = Style == 3 ? "b" : "B";
    const char *Suffix = Style == 1 ? "" : "/s";
    if (Style == 3) Value *= 8;
    if (Unit == 0) Unit = Value > Giga ? Giga : Value > Mega ? Mega : Value > Kilo ? Kilo : 0;
    const char *Prefix = Unit == Giga ? "G" : Unit == Mega ? "M" : Unit == Kilo ? "K" : nullptr;
    if (Prefix == nullptr || Value <= Kilo)
        String_Print(Output, Size, "%I64d %s%s", (int64)Value, UnitLetter, Suffix);
    else
        String_Print(Output, Size, "%.02f %s%s%s", (float64)Value / (float64)Unit, Prefix, UnitLetter, Suffix);
    return 1;
}

// ---- Tokens and identifiers ----

int32 String_Random(char *Output, int32 Size) {
    Debug_CheckPointer(Output);
    if (Size < 1) return 1;
    uint8 Chunk[256];
    int32 Count = Size - 1;
    for (int32 Done = 0; Done < Count;) {
        int32 Step = Count - Done < (int32)sizeof(Chunk) ? Count - Done : (int32)sizeof(Chunk);
        // Tokens must never come from a weaker source: no fallback.
        if (!Platform_CryptFill(Chunk, Step)) Debug_Abort("Crypt unable to fill buffer (%d)\n", Step);
        for (int32 Index = 0; Index < Step; Index++) {
            int32 Pick = Chunk[Index] % 35;
            char Ch;
            if (Pick >= 26)
                Ch = (char)('1' + (Pick - 26));
            else
                Ch = (char)((Pick % 2 == 0 ? 'a' : 'A') + Pick);
            Output[Done + Index] = Ch;
        }
        Done += Step;
    }
    Output[Count] = 0;
    return 1;
}

int32 String_Guid(char *Output, int32 Size, int32 WithDashes) {
    Debug_CheckPointer(Output);
    uint8 Guid[16];
    Platform_CreateGuid(Guid);
    // An id is made for every object: its digits four bytes a step.
    char Digits[32];
    for (int32 At = 0; At < 16; At += 4) string_detail::HexDigits4(Guid + At, Digits + 2 * At);
    char Text[40];
    int32 Written = 32;
    if (WithDashes == 1) {
        // Groups of 8, 4, 4 and 16 digits.
        memcpy(Text, Digits, 8);
        Text[8] = '-';
        memcpy(Text + 9, Digits + 8, 4);
        Text[13] = '-';
        memcpy(Text + 14, Digits + 12, 4);
        Text[18] = '-';
        memcpy(Text + 19, Digits + 16, 16);
        Written = 35;
    } else {
        memcpy(Text, Digits, 32);
    }
    Text[Written] = 0;
    if (Size > Written)
        memcpy(Output, Text, (size_t)Written + 1);
    else
        String_CopyLength(Output, Text, Size);
    return 1;
}
