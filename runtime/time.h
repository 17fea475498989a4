// Time: the monotonic clock that times events, time-outs, budgets and rates,
// and "encoded" calendar times (float64 seconds since 1970-01-01 00:00:00 of
// whatever broken-down time was encoded, computed by our own Gregorian
// arithmetic so that local and universal times encode alike), with their
// formats for HTTP headers, log stamps and durations, and the HTTP date parser.
//
// Nothing here keeps shared state except the monotonic clock's start reading,
// set on first use, and the test clock below. Broken-down fields are hour,
// minute, second, month 1-12 and day 1-31 as 8-bit values and a 32-bit year.
#pragma once

#include <time.h>

#include "runtime/types.h"

// Time_EncodedString: the first of the three whole-date forms that is set
// decides; otherwise the field flags compose "m/d/y h:m:s".
#define TIME_FORMAT_YEAR 0x1
#define TIME_FORMAT_MONTH 0x2
#define TIME_FORMAT_DAY 0x8
#define TIME_FORMAT_HOUR 0x10
#define TIME_FORMAT_MINUTE 0x20
#define TIME_FORMAT_SECOND 0x40
#define TIME_FORMAT_NOPAD 0x2000             // "%d" numbers, year modulo 1000
#define TIME_FORMAT_RFC1123_SHORT 0x10000000 // "Sun, 06 Nov 94 08:49:37 GMT" (year modulo 1000)
#define TIME_FORMAT_RFC850 0x20000000        // "Sunday, 06-Nov-94 08:49:37 GMT"
#define TIME_FORMAT_HTTP 0x40000000          // "Sun, 06 Nov 1994 08:49:37 GMT"
#define TIME_FORMAT_LOGSTAMP 123             // month/day/year hour:minute:second
#define TIME_FORMAT_LOGDATE 11               // month/day/year

// Time_DurationString flags.
#define TIME_DURATION_WEEKS 0x4
#define TIME_DURATION_DAYS 0x8
#define TIME_DURATION_HOURS 0x10
#define TIME_DURATION_MINUTES 0x20
#define TIME_DURATION_SECONDS 0x40
#define TIME_DURATION_MILLISECONDS 0x80
#define TIME_DURATION_LETTERS 0x100  // "1h 2m"
#define TIME_DURATION_WORDS 0x200    // "1 hour 2 minutes"
#define TIME_DURATION_ZEROS 0x400    // print units below 1 too
#define TIME_DURATION_CARRY 0x800    // an unselected unit carries into the next smaller one
#define TIME_DURATION_ZEROPAD 0x1000 // "%.2d" instead of space padding
#define TIME_DURATION_TWOUNITS 0x2000
#define TIME_DURATION_LOG 508 // weeks to milliseconds with letters

RUNTIME_EXTERN_C_BEGIN

int32 Time_Init(void);
int32 Time_Remove(void);

// Monotonic clock: milliseconds (and seconds) since the first reading.
uint64 Time_GetCycleCount(void);
float64 Time_GetCurrent(void);
// Processor time used by the process, in clock ticks.
float64 Time_GetClockCount(void);

// Calendar clock. The broken-down outs are the C library's, may be null, and
// hold the time that was encoded (local or universal).
float64 Time_GetCurrentEncoded(void);
float64 Time_GetCurrentEncodedLocal(struct tm *BrokenDown);
float64 Time_GetCurrentEncodedGMT(struct tm *BrokenDown);

int32 Time_GetEncoded(float64 *Encoded, uint8 Hour, uint8 Minute, uint8 Second, uint8 Month, uint8 Day, int32 Year);
int32 Time_GetDecoded(uint8 *Hour, uint8 *Minute, uint8 *Second, uint8 *Month, uint8 *Day, int32 *Year,
                      float64 Encoded);
int32 Time_ConvertTmToEncoded(const struct tm *BrokenDown, float64 *Encoded);
int32 Time_ConvertEncodedToTm(struct tm *BrokenDown, float64 Encoded);
// 100-nanosecond units since 1601 to encoded seconds.
int32 Time_ConvertUniversalToUnix(int64 FileTime, float64 *Encoded);
// Packed date-and-time words: seconds/2, minutes, hours, day, month, years since 1980.
int32 Time_ConvertDosDateToEncoded(float64 *Encoded, uint32 Packed);
int32 Time_ConvertEncodedToDosDate(uint32 *Packed, float64 Encoded);

// 0 (Sunday) to 6.
int32 Time_GetDayOfWeek(uint8 Month, uint8 Day, int32 Year, int32 *DayOfWeek);
// Months 1-12, days 1 (Sunday) to 7; "" for any other number.
const char *Time_GetMonthName(int32 Month);
const char *Time_GetShortMonthName(int32 Month);
const char *Time_GetDayName(int32 Day);
const char *Time_GetShortDayName(int32 Day);

int32 Time_EncodedString(uint32 Flags, char *Output, int32 Size, float64 Encoded);
int32 Time_DurationString(uint32 Flags, char *Output, int32 Size, float64 Seconds);

// Zones by name ("GMT", "EST", "Z", ...) or as "+hhmm"/"-hhmm".
int32 Time_ParseOffsetString(const char *Text, int8 *Hours, int8 *Minutes);
// HTTP dates in RFC 1123, RFC 850 and asctime form. A zone moves the hour and
// minute as signed amounts, so they may read below 0 as int8 or beyond their
// range; Time_ParseStringEncoded counts them that way.
int32 Time_ParseString(const char *Text, uint8 *Hour, uint8 *Minute, uint8 *Second, uint8 *Month, uint8 *Day,
                       int32 *Year);
int32 Time_ParseStringEncoded(const char *Text, float64 *Encoded);

// Daily windows "hh:mm"; a window whose start is after its end spans midnight.
int32 Time_SpanParse(const char *Text, float64 *Encoded);
int32 Time_SpanCompare(int32 Hour, int32 Minute, int32 StartHour, int32 StartMinute, int32 EndHour,
                       int32 EndMinute);

// TEST HOOKS ONLY - the runtime never calls these. They replace the reading
// behind Time_GetCycleCount (hence Time_GetCurrent) in every thread, so tests
// of delays, budgets, meters and deadlines step time instead of sleeping.
// A null function restores the real clock.
typedef uint64 (*Time_CycleCountFunc)(void);
int32 Time_SetCycleCountOverride(Time_CycleCountFunc Function);
// A manual clock: Start installs it at the given milliseconds, Advance moves it
// forward (from any thread), Stop restores the real clock.
int32 Time_TestClockStart(uint64 Milliseconds);
int32 Time_TestClockAdvance(uint64 Milliseconds);
int32 Time_TestClockStop(void);

// Waits between attempts of a retried operation: sleeps Milliseconds (at
// least 15) on the real clock; while the test clock is installed it moves
// that clock forward instead and answers at once, so retry loops run through
// under test without waiting.
int32 Time_SleepForRetry(int32 Milliseconds);

RUNTIME_EXTERN_C_END
