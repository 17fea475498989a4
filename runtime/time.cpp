// Time: the monotonic clock (and its test override), calendar encoding and
// decoding, the bridges to the C library's broken-down time and to packed
// date words, and the name tables. Formatting is in time_format.cpp, parsing
// in time_parse.cpp.
//
// Encoding is our own arithmetic, not timegm(): local wall-clock fields are
// encoded exactly like universal ones. Both directions work in closed form
// (400-year cycles), so absurd years or times cost nothing and never loop.
#include "runtime/time.h"

#include <math.h>
#include <string.h>

#include <algorithm>
#include <atomic>

#include "runtime/debug.h"
#include "runtime/posix/platform.h"
#include "runtime/time_internal.h"

namespace {

constexpr const char *MonthNames[12] = {"January", "February", "March",     "April",   "May",      "June",
                                        "July",    "August",   "September", "October", "November", "December"};
constexpr const char *ShortMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char *DayNames[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
constexpr const char *ShortDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr int32 DaysBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
constexpr int32 DaysInMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
constexpr int32 DayOfWeekMonthOffset[12] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};

constexpr int64 SecondsPerDay = 86400;
constexpr int64 DaysPer400Years = 146097;
// Whole seconds beyond this are not decoded: a float64 stops counting single
// seconds at 2^53, long before a year stops fitting 32 bits.
constexpr float64 MaxDecodable = 9007199254740992.0;

bool IsLeapYear(int64 Year) { return (Year % 4 == 0 && Year % 100 != 0) || Year % 400 == 0; }

// Leap years in 1..Year (Year >= 0).
int64 LeapYearsThrough(int64 Year) { return Year / 4 - Year / 100 + Year / 400; }

// The monotonic clock's source: the real clock unless a test installed one.
std::atomic<Time_CycleCountFunc> CycleCountOverride{nullptr};
std::atomic<uint64> TestClockMilliseconds{0};

uint64 ReadTestClock() { return TestClockMilliseconds.load(std::memory_order_acquire); }

uint64 ReadMonotonicNanoseconds() {
    struct timespec Now;
    clock_gettime(CLOCK_MONOTONIC, &Now);
    return (uint64)Now.tv_sec * 1000000000ull + (uint64)Now.tv_nsec;
}

// The present, broken down by the given conversion (local or universal
// time) and encoded; 0.0 when the clock or the conversion fails.
float64 CurrentEncoded(struct tm *(*BreakDown)(const time_t *, struct tm *), struct tm *BrokenDown) {
    time_t Now = time(nullptr);
    struct tm Fields;
    if (Now == (time_t)-1 || BreakDown(&Now, &Fields) == nullptr) return 0.0;
    if (BrokenDown != nullptr) *BrokenDown = Fields;
    float64 Encoded;
    Time_ConvertTmToEncoded(&Fields, &Encoded);
    return Encoded;
}

} // namespace

int32 TimeInt_Encode(float64 *Encoded, int64 Hour, int64 Minute, int64 Second, int64 Month, int64 Day, int64 Year) {
    *Encoded = 0.0;
    if (Month < 1 || Month > 12) return 0;
    // Years before 1971 contribute no days: 1970 and earlier encode as 1970.
    if (Year < 1970) Year = 1970;
    int64 Days = 365 * (Year - 1970) + LeapYearsThrough(Year - 1) - LeapYearsThrough(1969);
    if (IsLeapYear(Year) && Month > 2) Days += 1;
    Days += DaysBeforeMonth[Month - 1] + (Day - 1);
    *Encoded = (float64)(Days * SecondsPerDay + Hour * 3600 + Minute * 60 + Second);
    return 1;
}

int32 TimeInt_Decode(TimeFields *Fields, float64 Encoded) {
    *Fields = TimeFields{};
    if (!(Encoded >= 0.0) || Encoded >= MaxDecodable) return 0;
    int64 Total = (int64)Encoded;
    int64 Days = Total / SecondsPerDay;
    int64 Rest = Total % SecondsPerDay;

    // Any 400 consecutive Gregorian years hold the same number of days.
    int64 Year = 1970 + 400 * (Days / DaysPer400Years);
    Days %= DaysPer400Years;
    for (;;) {
        int64 YearDays = IsLeapYear(Year) ? 366 : 365;
        if (Days < YearDays) break;
        Days -= YearDays;
        Year++;
    }
    int32 Month = 0;
    for (; Month < 11; Month++) {
        int64 MonthDays = DaysInMonth[Month] + ((Month == 1 && IsLeapYear(Year)) ? 1 : 0);
        if (Days < MonthDays) break;
        Days -= MonthDays;
    }
    Fields->Year = Year;
    Fields->Month = Month + 1;
    Fields->Day = Days + 1;
    Fields->Hour = Rest / 3600;
    Fields->Minute = (Rest / 60) % 60;
    Fields->Second = Rest % 60;
    return 1;
}

void TimeInt_WriteFields(const TimeFields *Fields, uint8 *Hour, uint8 *Minute, uint8 *Second, uint8 *Month,
                         uint8 *Day, int32 *Year) {
    *Hour = (uint8)Fields->Hour;
    *Minute = (uint8)Fields->Minute;
    *Second = (uint8)Fields->Second;
    *Month = (uint8)Fields->Month;
    *Day = (uint8)Fields->Day;
    *Year = (int32)Fields->Year;
}

int32 TimeInt_DayOfWeek(int64 Month, int64 Day, int64 Year) {
    int64 Y = (Month < 3) ? Year - 1 : Year;
    int64 Value = (Y + Y / 4 - Y / 100 + Y / 400 + DayOfWeekMonthOffset[Month - 1] + Day) % 7;
    return (int32)((Value + 7) % 7);
}

int32 Time_Init(void) { return 1; }
int32 Time_Remove(void) { return 1; }

uint64 Time_GetCycleCount(void) {
    Time_CycleCountFunc Override = CycleCountOverride.load(std::memory_order_acquire);
    if (Override != nullptr) return Override();
    // Set once, on the first reading in the process (thread-safe static).
    static const uint64 Start = ReadMonotonicNanoseconds();
    uint64 Elapsed = ReadMonotonicNanoseconds() - Start;
    // Nanoseconds to milliseconds through the single-precision 1e-6 that the
    // system has always used; it reads a hair slow and callers expect that.
    constexpr float64 NanosecondsToMilliseconds = (float64)1e-6f;
    return (uint64)((float64)Elapsed * NanosecondsToMilliseconds);
}

float64 Time_GetCurrent(void) { return (float64)Time_GetCycleCount() / 1000.0; }

float64 Time_GetClockCount(void) { return (float64)clock(); }

float64 Time_GetCurrentEncoded(void) { return (float64)time(nullptr); }

float64 Time_GetCurrentEncodedLocal(struct tm *BrokenDown) { return CurrentEncoded(localtime_r, BrokenDown); }

float64 Time_GetCurrentEncodedGMT(struct tm *BrokenDown) { return CurrentEncoded(gmtime_r, BrokenDown); }

int32 Time_GetEncoded(float64 *Encoded, uint8 Hour, uint8 Minute, uint8 Second, uint8 Month, uint8 Day, int32 Year) {
    Debug_CheckPointer(Encoded);
    return TimeInt_Encode(Encoded, Hour, Minute, Second, Month, Day, Year);
}

int32 Time_GetDecoded(uint8 *Hour, uint8 *Minute, uint8 *Second, uint8 *Month, uint8 *Day, int32 *Year,
                      float64 Encoded) {
    Debug_CheckPointer(Hour);
    Debug_CheckPointer(Minute);
    Debug_CheckPointer(Second);
    Debug_CheckPointer(Month);
    Debug_CheckPointer(Day);
    Debug_CheckPointer(Year);
    TimeFields Fields;
    int32 Result = TimeInt_Decode(&Fields, Encoded);
    TimeInt_WriteFields(&Fields, Hour, Minute, Second, Month, Day, Year);
    return Result;
}

int32 Time_ConvertTmToEncoded(const struct tm *BrokenDown, float64 *Encoded) {
    Debug_CheckPointer(BrokenDown);
    Debug_CheckPointer(Encoded);
    return TimeInt_Encode(Encoded, BrokenDown->tm_hour, BrokenDown->tm_min, BrokenDown->tm_sec,
                          (int64)BrokenDown->tm_mon + 1, BrokenDown->tm_mday, (int64)BrokenDown->tm_year + 1900);
}

int32 Time_ConvertEncodedToTm(struct tm *BrokenDown, float64 Encoded) {
    Debug_CheckPointer(BrokenDown);
    memset(BrokenDown, 0, sizeof(*BrokenDown));
    TimeFields Fields;
    if (!TimeInt_Decode(&Fields, Encoded)) return 0;
    if (Fields.Year - 1900 > INT32_MAX) return 0;
    BrokenDown->tm_sec = (int)Fields.Second;
    BrokenDown->tm_min = (int)Fields.Minute;
    BrokenDown->tm_hour = (int)Fields.Hour;
    BrokenDown->tm_mday = (int)Fields.Day;
    BrokenDown->tm_mon = (int)Fields.Month - 1;
    BrokenDown->tm_year = (int)(Fields.Year - 1900);
    return 1;
}

int32 Time_ConvertUniversalToUnix(int64 FileTime, float64 *Encoded) {
    Debug_CheckPointer(Encoded);
    constexpr int64 EpochDifference = 116444736000000000ll; // 1601 to 1970 in 100 ns units
    int64 Units;
    if (__builtin_sub_overflow(FileTime, EpochDifference, &Units)) {
        *Encoded = 0.0;
        return 0;
    }
    *Encoded = (float64)(Units / 10000000);
    return 1;
}

int32 Time_ConvertDosDateToEncoded(float64 *Encoded, uint32 Packed) {
    Debug_CheckPointer(Encoded);
    *Encoded = 0.0;
    uint32 Hour = (Packed >> 11) & 0x1f, Minute = (Packed >> 5) & 0x3f, Second = (Packed & 0x1f) * 2;
    uint32 Day = (Packed >> 16) & 0x1f;
    // Archive headers are outside input: a day 0 or a 25th hour is no date.
    if (Day == 0 || Hour > 23 || Minute > 59 || Second > 59) return 0;
    return TimeInt_Encode(Encoded, Hour, Minute, Second, (Packed >> 21) & 0xf, Day, (int64)(Packed >> 25) + 1980);
}

int32 Time_ConvertEncodedToDosDate(uint32 *Packed, float64 Encoded) {
    Debug_CheckPointer(Packed);
    *Packed = 0;
    TimeFields Fields;
    if (!TimeInt_Decode(&Fields, Encoded)) return 0;
    // The word holds 1980 to 2107; times outside pin to its first or last
    // moment, as archivers do, rather than wrapping into another century.
    if (Fields.Year < 1980) Fields = TimeFields{1980, 1, 1, 0, 0, 0};
    if (Fields.Year > 2107) Fields = TimeFields{2107, 12, 31, 23, 59, 59};
    *Packed = (uint32)((Fields.Year - 1980) << 25) | (uint32)(Fields.Month << 21) | (uint32)(Fields.Day << 16) |
              (uint32)(Fields.Hour << 11) | (uint32)(Fields.Minute << 5) | (uint32)(Fields.Second / 2);
    return 1;
}

int32 Time_GetDayOfWeek(uint8 Month, uint8 Day, int32 Year, int32 *DayOfWeek) {
    if (DayOfWeek == nullptr) return 0;
    *DayOfWeek = 0;
    if (Month < 1 || Month > 12) return 0;
    *DayOfWeek = TimeInt_DayOfWeek(Month, Day, Year);
    return 1;
}

const char *Time_GetMonthName(int32 Month) { return (Month >= 1 && Month <= 12) ? MonthNames[Month - 1] : ""; }
const char *Time_GetShortMonthName(int32 Month) {
    return (Month >= 1 && Month <= 12) ? ShortMonthNames[Month - 1] : "";
}
const char *Time_GetDayName(int32 Day) { return (Day >= 1 && Day <= 7) ? DayNames[Day - 1] : ""; }
const char *Time_GetShortDayName(int32 Day) { return (Day >= 1 && Day <= 7) ? ShortDayNames[Day - 1] : ""; }

int32 Time_SetCycleCountOverride(Time_CycleCountFunc Function) {
    CycleCountOverride.store(Function, std::memory_order_release);
    return 1;
}

int32 Time_TestClockStart(uint64 Milliseconds) {
    TestClockMilliseconds.store(Milliseconds, std::memory_order_release);
    return Time_SetCycleCountOverride(ReadTestClock);
}

int32 Time_TestClockAdvance(uint64 Milliseconds) {
    TestClockMilliseconds.fetch_add(Milliseconds, std::memory_order_acq_rel);
    return 1;
}

int32 Time_TestClockStop(void) { return Time_SetCycleCountOverride(nullptr); }

int32 Time_SleepForRetry(int32 Milliseconds) {
    if (CycleCountOverride.load(std::memory_order_acquire) == ReadTestClock)
        return Time_TestClockAdvance((uint64)std::max(Milliseconds, 0));
    return Platform_SleepMS(Milliseconds);
}
