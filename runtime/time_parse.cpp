// Parsing of time texts: zones, the three HTTP date forms and daily windows.
// The texts come from the network and from settings, so every field is
// checked: a bad text answers 0, never a guessed date.
//
// The HTTP forms are told apart by their second token: a month name there is
// asctime ("Sun Nov  6 08:49:37 1994"); a number is RFC 1123 ("Sun, 06 Nov
// 1994 08:49:37 GMT") or RFC 850 ("Sunday, 06-Nov-94 08:49:37 GMT").
#include <string.h>
#include <time.h>

#include <string_view>

#include "runtime/debug.h"
#include "runtime/text/string.h"
#include "runtime/time.h"
#include "runtime/time_internal.h"

namespace {

struct NamedZone {
    const char *Name;
    int8 Hours;
};

constexpr NamedZone NamedZones[] = {
    {"", 0},     {"UT", 0},   {"UTC", 0},  {"GMT", 0},  {"Z", 0},    {"EST", -5}, {"EDT", -4},
    {"CST", -6}, {"CDT", -5}, {"MST", -7}, {"MDT", -6}, {"PST", -8}, {"PDT", -7}, {"A", -1},
    {"M", -12},  {"N", 1},    {"Y", 12},
};

constexpr int32 MaxDateText = 319;
constexpr int32 MaxTokens = 10;

bool IsDigit(char Ch) { return Ch >= '0' && Ch <= '9'; }

// A whole token of at most MaxDigits decimal digits.
bool ReadNumber(std::string_view Token, int32 MaxDigits, int64 *Value) {
    if (Token.empty() || Token.size() > (size_t)MaxDigits) return false;
    int64 Result = 0;
    for (char Ch : Token) {
        if (!IsDigit(Ch)) return false;
        Result = Result * 10 + (Ch - '0');
    }
    *Value = Result;
    return true;
}

// 1-12 for a short month name in any case, else 0.
int64 MonthFromName(std::string_view Token) {
    for (int32 Month = 1; Month <= 12; Month++) {
        const char *Name = Time_GetShortMonthName(Month);
        if (Token.size() == strlen(Name) && String_CompareLengthWithoutCase(Token.data(), Name, (int32)Token.size()))
            return Month;
    }
    return 0;
}

bool IsDateSeparator(char Ch) { return Ch == ' ' || Ch == ',' || Ch == '-' || Ch == ':'; }

// The date fields before narrowing; the zone has already moved hour and minute.
bool ParseDate(const char *Text, TimeFields *Fields) {
    *Fields = TimeFields{};
    if (Text == nullptr) return false;
    size_t Length = strnlen(Text, MaxDateText);
    if (Length == 0) return false;

    std::string_view Tokens[MaxTokens];
    int32 Count = 0;
    size_t Position = 0;
    while (Position < Length) {
        while (Position < Length && IsDateSeparator(Text[Position])) Position++;
        if (Position >= Length) break;
        size_t Start = Position;
        while (Position < Length && !IsDateSeparator(Text[Position])) Position++;
        if (Count == MaxTokens) return false;
        Tokens[Count++] = std::string_view(Text + Start, Position - Start);
    }
    if (Count != 7 && Count != 8) return false;

    int64 Day, Year, Hour, Minute, Second, Month;
    bool Read;
    if (!IsDigit(Tokens[1][0])) {
        Month = MonthFromName(Tokens[1]);
        Read = ReadNumber(Tokens[2], 2, &Day) && ReadNumber(Tokens[3], 2, &Hour) &&
               ReadNumber(Tokens[4], 2, &Minute) && ReadNumber(Tokens[5], 2, &Second) &&
               ReadNumber(Tokens[6], 9, &Year);
    } else {
        Month = MonthFromName(Tokens[2]);
        Read = ReadNumber(Tokens[1], 2, &Day) && ReadNumber(Tokens[3], 9, &Year) &&
               ReadNumber(Tokens[4], 2, &Hour) && ReadNumber(Tokens[5], 2, &Minute) &&
               ReadNumber(Tokens[6], 2, &Second);
    }
    if (!Read || Month == 0) return false;
    if (Day < 1 || Day > 31 || Hour > 23 || Minute > 59 || Second > 60) return false;

    if (Count == 8 && IsDigit(Tokens[1][0])) {
        // The zone token ends at a separator, so it is terminated in a copy.
        char Zone[MaxDateText + 1];
        memcpy(Zone, Tokens[7].data(), Tokens[7].size());
        Zone[Tokens[7].size()] = '\0';
        int8 ZoneHours, ZoneMinutes;
        if (Time_ParseOffsetString(Zone, &ZoneHours, &ZoneMinutes)) {
            Hour -= ZoneHours;
            Minute -= ZoneMinutes;
        }
    }
    // Two-digit years: 00-69 are this century, 70-99 the last one.
    if (Year < 70)
        Year += 2000;
    else if (Year < 100)
        Year += 1900;

    *Fields = TimeFields{Year, Month, Day, Hour, Minute, Second};
    return true;
}

// "hh" or "mm" of a window: digits with optional blanks around; empty is 0.
bool ReadSpanNumber(std::string_view Part, int64 *Value) {
    while (!Part.empty() && Part.front() == ' ') Part.remove_prefix(1);
    while (!Part.empty() && Part.back() == ' ') Part.remove_suffix(1);
    *Value = 0;
    return Part.empty() || ReadNumber(Part, 9, Value);
}

} // namespace

int32 Time_ParseOffsetString(const char *Text, int8 *Hours, int8 *Minutes) {
    Debug_CheckPointer(Hours);
    Debug_CheckPointer(Minutes);
    *Hours = 0;
    *Minutes = 0;
    if (Text == nullptr) return 0;
    for (const NamedZone &Zone : NamedZones)
        if (strcmp(Text, Zone.Name) == 0) {
            *Hours = Zone.Hours;
            return 1;
        }
    size_t Length = strlen(Text);
    if (Length < 4) return 0;
    // "-0500" reaches here as "0500" after the date splitter ate the hyphen,
    // which is why a missing "+" means west.
    int32 Sign = (Text[0] == '+') ? 1 : -1;
    const char *Digits = (Text[0] == '+' || Text[0] == '-') ? Text + 1 : Text;
    for (int32 Index = 0; Index < 4; Index++)
        if (!IsDigit(Digits[Index])) return 0;
    *Hours = (int8)(Sign * ((Digits[0] - '0') * 10 + (Digits[1] - '0')));
    *Minutes = (int8)(Sign * ((Digits[2] - '0') * 10 + (Digits[3] - '0')));
    return 1;
}

int32 Time_ParseString(const char *Text, uint8 *Hour, uint8 *Minute, uint8 *Second, uint8 *Month, uint8 *Day,
                       int32 *Year) {
    Debug_CheckPointer(Hour);
    Debug_CheckPointer(Minute);
    Debug_CheckPointer(Second);
    Debug_CheckPointer(Month);
    Debug_CheckPointer(Day);
    Debug_CheckPointer(Year);
    TimeFields Fields;
    bool Parsed = ParseDate(Text, &Fields);
    TimeInt_WriteFields(&Fields, Hour, Minute, Second, Month, Day, Year);
    return Parsed ? 1 : 0;
}

int32 Time_ParseStringEncoded(const char *Text, float64 *Encoded) {
    Debug_CheckPointer(Encoded);
    *Encoded = 0.0;
    TimeFields Fields;
    if (!ParseDate(Text, &Fields)) return 0;
    return TimeInt_Encode(Encoded, Fields.Hour, Fields.Minute, Fields.Second, Fields.Month, Fields.Day, Fields.Year);
}

int32 Time_SpanParse(const char *Text, float64 *Encoded) {
    Debug_CheckPointer(Encoded);
    *Encoded = 0.0;
    if (Text == nullptr) return 0;
    std::string_view Span(Text);
    int64 Hours = 0, Minutes = 0;
    size_t Colon = Span.find(':');
    if (Colon != std::string_view::npos &&
        (!ReadSpanNumber(Span.substr(0, Colon), &Hours) || !ReadSpanNumber(Span.substr(Colon + 1), &Minutes)))
        return 0;
    if (Hours > 24 || Minutes > 60) return 0;
    time_t Now = time(nullptr);
    struct tm Universal;
    if (Now == (time_t)-1 || gmtime_r(&Now, &Universal) == nullptr) return 0;
    return TimeInt_Encode(Encoded, Hours, Minutes, Universal.tm_sec, 1, 1, (int64)Universal.tm_year + 1900);
}

int32 Time_SpanCompare(int32 Hour, int32 Minute, int32 StartHour, int32 StartMinute, int32 EndHour,
                       int32 EndMinute) {
    int64 Time = (int64)Hour * 60 + Minute;
    int64 Start = (int64)StartHour * 60 + StartMinute;
    int64 End = (int64)EndHour * 60 + EndMinute;
    if (Start <= End) return (Start <= Time && Time < End) ? 1 : 0;
    return (Time >= Start || Time < End) ? 1 : 0;
}
