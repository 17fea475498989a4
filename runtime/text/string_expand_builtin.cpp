// The built-in macro functions: text, hex, comparison, arithmetic, random,
// command-line and time values. Names are compared without case; a function
// that needs an argument leaves a macro without one to the later providers.
// Lists inside an argument are separated by ",", and the last field takes the
// rest, commas and all ({Replace:a,b,x,y,z} replaces in "x,y,z").
//
// Arithmetic wraps at 64 bits instead of overflowing: values come from
// configuration and fetched workflow texts, and INT64_MIN / -1 must not trap.
#include <math.h>
#include <string.h>

#include <string>
#include <string_view>

#include "runtime/command_line.h"
#include "runtime/text/string.h"
#include "runtime/text/string_expand.h"
#include "runtime/text/string_expand_internal.h"
#include "runtime/time.h"

namespace {

using Answer = ExpandAnswer;

bool Is(const char *Name, const char *Builtin) { return String_CompareWithoutCase(Name, Builtin) == 1; }

bool Begins(std::string_view Text, std::string_view Prefix) {
    return Text.size() >= Prefix.size() &&
           String_CompareLengthWithoutCase(Text.data(), Prefix.data(), (int32)Prefix.size()) == 1;
}

// Takes the text up to the next "," from Rest; Found tells whether there was one.
std::string_view NextField(std::string_view &Rest, bool *Found = nullptr) {
    size_t Comma = Rest.find(',');
    if (Found != nullptr) *Found = Comma != std::string_view::npos;
    std::string_view Field = Rest.substr(0, Comma);
    Rest = Comma == std::string_view::npos ? std::string_view() : Rest.substr(Comma + 1);
    return Field;
}

int64 ToInt64(std::string_view Field) { return String_AtoI64(std::string(Field).c_str()); }
uint64 ToUInt64(std::string_view Field) { return String_AtoU64(std::string(Field).c_str()); }

Answer Print(char *Output, int32 Size, const char *Format, auto Value) {
    String_Print(Output, Size, Format, Value);
    return Answer::Answered;
}

Answer Flag(char *Output, int32 Size, bool Value) { return StringExpand_Put(Output, Size, Value ? "1" : "0"); }

// Operators ">", "<", ">=", "<=", "=", "=="; any other text compares false.
template <typename Number> bool Compare(Number A, std::string_view Operator, Number B) {
    if (Operator == ">") return A > B;
    if (Operator == "<") return A < B;
    if (Operator == ">=") return A >= B;
    if (Operator == "<=") return A <= B;
    if (Operator == "=" || Operator == "==") return A == B;
    return false;
}

// Operators matched without case on their beginning; a zero divisor gives 0.
// Unsigned arithmetic wraps where signed arithmetic would be undefined.
int64 Calculate(std::string_view Operator, int64 A, int64 B) {
    const uint64 UA = (uint64)A, UB = (uint64)B;
    if (Begins(Operator, "add")) return (int64)(UA + UB);
    if (Begins(Operator, "sub")) return (int64)(UA - UB);
    if (Begins(Operator, "mul")) return (int64)(UA * UB);
    if (Begins(Operator, "div")) {
        if (B == 0) return 0;
        if (B == -1) return (int64)(0 - UA); // INT64_MIN / -1 wraps to INT64_MIN
        return A / B;
    }
    if (Begins(Operator, "mod")) {
        if (B == 0 || B == -1) return 0;
        return A % B;
    }
    return 0;
}

Answer Hex(const void *Bytes, int32 Count, char *Output, int32 Size) {
    return String_ConvertToHex(Bytes, Count, 0, Output, Size) ? Answer::Answered : Answer::Overflow;
}

// Bytes in memory order: the least significant first on this processor.
template <typename Number> Answer NumberHex(Number Value, char *Output, int32 Size) {
    return Hex(&Value, (int32)sizeof(Value), Output, Size);
}

Answer Substring(std::string_view Rest, char *Output, int32 Size) {
    int64 Start = ToInt64(NextField(Rest));
    int64 End = ToInt64(NextField(Rest));
    const int64 Length = (int64)Rest.size();
    if (End == -1 || End > Length) End = Length;
    // A start below 0 counts from the beginning.
    Start = std::max<int64>(Start, 0);
    if (Start >= Length || Start > End) return StringExpand_Put(Output, Size, "");
    return StringExpand_Put(Output, Size, Rest.substr((size_t)Start, (size_t)(End - Start)));
}

Answer Replace(std::string_view Rest, char *Output, int32 Size) {
    std::string Find(NextField(Rest));
    std::string Replacement(NextField(Rest));
    if (Answer Copied = StringExpand_Put(Output, Size, Rest); Copied != Answer::Answered) return Copied;
    if (Find.empty() || Rest.empty()) return Answer::Answered;
    return String_ReplaceLengthEx(Find.c_str(), Replacement.c_str(), 0, Output, Size) ? Answer::Answered
                                                                                       : Answer::Overflow;
}

Answer Trim(std::string_view Rest, char *Output, int32 Size) {
    bool HasSet = false;
    std::string_view Set = NextField(Rest, &HasSet);
    std::string_view Text = Rest;
    if (!HasSet) {
        Text = Set;
        Set = " \t\r\n";
    }
    size_t First = Text.find_first_not_of(Set);
    if (First == std::string_view::npos) return StringExpand_Put(Output, Size, "");
    size_t Last = Text.find_last_not_of(Set);
    return StringExpand_Put(Output, Size, Text.substr(First, Last - First + 1));
}

Answer Limit(std::string_view Rest, char *Output, int32 Size) {
    bool HasText = false;
    int64 Count = ToInt64(NextField(Rest, &HasText));
    if (!HasText || Count < 1) return StringExpand_Put(Output, Size, "");
    return StringExpand_Put(Output, Size, Rest.substr(0, (size_t)std::min<int64>(Count, (int64)Rest.size())));
}

Answer IndexOf(std::string_view Rest, bool Last, char *Output, int32 Size) {
    std::string_view Needle = NextField(Rest);
    size_t Found = Last ? Rest.rfind(Needle) : Rest.find(Needle);
    return Print(Output, Size, "%lld", Found == std::string_view::npos ? -1LL : (long long)Found);
}

Answer If(std::string_view Rest, char *Output, int32 Size) {
    std::string Condition(NextField(Rest));
    std::string_view Then = NextField(Rest);
    int32 Value = 0;
    String_DecodeBoolean(Condition.c_str(), &Value, 0);
    return StringExpand_Put(Output, Size, Value == 1 ? Then : Rest);
}

Answer VersionCompare(std::string_view Rest, char *Output, int32 Size) {
    std::string A(NextField(Rest));
    std::string_view Operator = NextField(Rest);
    int32 Order = 0;
    if (!String_CompareVersion(A.c_str(), std::string(Rest).c_str(), &Order)) return StringExpand_Put(Output, Size, "");
    return Flag(Output, Size, Compare(Order, Operator, 0));
}

Answer CommandLine(const char *Argument, char *Output, int32 Size) {
    if (Argument != nullptr && Argument[0] != 0) {
        // A switch that is not given expands to the empty text.
        CommandLine_GetFieldByName(nullptr, Argument, Output, Size);
        return Answer::Answered;
    }
    const char *Line = nullptr, *Second = nullptr;
    if (CommandLine_Get(&Line) && Line != nullptr && CommandLine_GetFieldPtr(Line, 1, &Second) && Second != nullptr) {
        String_CopyLength(Output, Second, Size);
        return Answer::Answered;
    }
    return StringExpand_Put(Output, Size, "");
}

Answer TimeStamp(const char *Argument, char *Output, int32 Size) {
    uint8 Hour = 0, Minute = 0, Second = 0, Month = 0, Day = 0;
    int32 Year = 0;
    if (!Time_GetDecoded(&Hour, &Minute, &Second, &Month, &Day, &Year, (float64)String_AtoI64(Argument)))
        return StringExpand_Put(Output, Size, "");
    String_Print(Output, Size, "%04d%02d%02d%02d%02d%02d", Year, (int32)Month, (int32)Day, (int32)Hour,
                 (int32)Minute, (int32)Second);
    return Answer::Answered;
}

// The functions that need an argument, in the order they are checked.
Answer WithArgument(const char *Name, const char *Argument, char *Output, int32 Size) {
    const std::string_view Text(Argument);
    std::string_view Rest = Text;
    if (Is(Name, "Copy")) return StringExpand_Put(Output, Size, Text);
    if (Is(Name, "SubCopy") || Is(Name, "Substring")) return Substring(Rest, Output, Size);
    if (Is(Name, "Replace")) return Replace(Rest, Output, Size);
    if (Is(Name, "FromHex")) {
        int32 Written = 0;
        String_ConvertFromHexLength(Argument, (int32)Text.size(), Output, Size - 1, &Written);
        Output[Written] = 0;
        return Answer::Answered;
    }
    if (Is(Name, "ToHex")) return Hex(Argument, (int32)Text.size(), Output, Size);
    if (Is(Name, "Int32ToHex")) return NumberHex((uint32)String_AtoI64(Argument), Output, Size);
    if (Is(Name, "UInt32ToHex")) return NumberHex((uint32)String_AtoU64(Argument), Output, Size);
    if (Is(Name, "Int64ToHex")) return NumberHex((uint64)String_AtoI64(Argument), Output, Size);
    if (Is(Name, "UInt64ToHex")) return NumberHex(String_AtoU64(Argument), Output, Size);
    if (Is(Name, "Int64Compare") || Is(Name, "UInt64Compare")) {
        std::string_view A = NextField(Rest);
        std::string_view Operator = NextField(Rest);
        if (Is(Name, "Int64Compare")) return Flag(Output, Size, Compare(ToInt64(A), Operator, ToInt64(Rest)));
        return Flag(Output, Size, Compare(ToUInt64(A), Operator, ToUInt64(Rest)));
    }
    if (Is(Name, "Limit")) return Limit(Rest, Output, Size);
    if (Is(Name, "Trim")) return Trim(Rest, Output, Size);
    if (Is(Name, "Upper") || Is(Name, "Lower")) {
        Answer Copied = StringExpand_Put(Output, Size, Text);
        if (Copied != Answer::Answered) return Copied;
        if (Is(Name, "Upper")) String_Upper(Output);
        else String_Lower(Output);
        return Copied;
    }
    if (Is(Name, "Capitalize") || Is(Name, "Uncapitalize")) {
        Answer Copied = StringExpand_Put(Output, Size, Text);
        if (Copied != Answer::Answered) return Copied;
        char &First = Output[0];
        if (Is(Name, "Capitalize") && First >= 'a' && First <= 'z') First = (char)(First - 'a' + 'A');
        if (Is(Name, "Uncapitalize") && First >= 'A' && First <= 'Z') First = (char)(First - 'A' + 'a');
        return Copied;
    }
    if (Is(Name, "IndexOf")) return IndexOf(Rest, false, Output, Size);
    if (Is(Name, "LastIndexOf")) return IndexOf(Rest, true, Output, Size);
    return Answer::NotMine;
}

} // namespace

ExpandAnswer StringExpand_BuiltIn(const char *Work, const char *Name, const char *Argument, char *Output,
                                  int32 Size) {
    if (Is(Name, "This")) return StringExpand_Put(Output, Size, std::string_view(Work).substr(0, strcspn(Work, "{")));
    if (Argument != nullptr) {
        Answer Result = WithArgument(Name, Argument, Output, Size);
        if (Result != Answer::NotMine) return Result;
    }
    if (Is(Name, "Random")) {
        String_Random(Output, 121);
        return Answer::Answered;
    }
    if (Is(Name, "Guid")) {
        String_Guid(Output, Size, 0);
        return Answer::Answered;
    }
    if (Argument != nullptr) {
        std::string_view Rest(Argument);
        if (Is(Name, "If")) return If(Rest, Output, Size);
        if (Is(Name, "Equals")) {
            std::string_view A = NextField(Rest);
            return Flag(Output, Size, A == Rest);
        }
        if (Is(Name, "VersionCompare")) return VersionCompare(Rest, Output, Size);
        bool Comma = false;
        if (Is(Name, "Math")) {
            std::string_view Operator = NextField(Rest);
            std::string_view A = NextField(Rest, &Comma);
            if (Comma) return Print(Output, Size, "%I64d", Calculate(Operator, ToInt64(A), ToInt64(Rest)));
        } else if (Begins(Name, "Add") || Begins(Name, "Sub") || Begins(Name, "Mod") || Begins(Name, "Div")) {
            std::string_view A = NextField(Rest, &Comma);
            if (Comma) return Print(Output, Size, "%I64d", Calculate(Name, ToInt64(A), ToInt64(Rest)));
        }
    }
    if (Is(Name, "CommandLine")) return CommandLine(Argument, Output, Size);
    if (Is(Name, "Time")) return Print(Output, Size, "%.0f", floor(Time_GetCurrentEncoded()));
    if (Is(Name, "Time60")) {
        int64 Seconds = (int64)floor(Time_GetCurrentEncoded());
        return Print(Output, Size, "%lld", (long long)(Seconds - Seconds % 60));
    }
    if (Argument != nullptr && Is(Name, "TimeStamp")) return TimeStamp(Argument, Output, Size);
    return Answer::NotMine;
}
