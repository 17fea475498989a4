// SystemText: the few readers of the system's own text files (kernel tables
// under /proc, resolver and proxy settings, DHCP leases) that the network
// facts and the proxy settings share. Views point into the caller's text.
#pragma once

#include <ctype.h>
#include <string.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "runtime/types.h"

namespace SystemText {

// Text into Buffer, cut to Length - 1 bytes; 0 when Buffer holds nothing.
inline int32 Copy(std::string_view Text, char *Buffer, int32 Length) {
    if (Length < 1) return 0;
    const size_t Count = std::min(Text.size(), (size_t)Length - 1);
    memcpy(Buffer, Text.data(), Count);
    Buffer[Count] = 0;
    return 1;
}

inline std::string_view Trim(std::string_view Text) {
    while (!Text.empty() && isspace((unsigned char)Text.front())) Text.remove_prefix(1);
    while (!Text.empty() && isspace((unsigned char)Text.back())) Text.remove_suffix(1);
    return Text;
}

// Calls Visit for each line of Text.
template <typename Function> void Lines(std::string_view Text, Function Visit) {
    while (!Text.empty()) {
        const size_t End = Text.find('\n');
        Visit(Text.substr(0, End));
        if (End == std::string_view::npos) break;
        Text.remove_prefix(End + 1);
    }
}

// Blank-separated fields of a line.
inline std::vector<std::string_view> Fields(std::string_view Line) {
    std::vector<std::string_view> Found;
    size_t At = 0;
    while (At < Line.size()) {
        while (At < Line.size() && isspace((unsigned char)Line[At])) At++;
        const size_t Start = At;
        while (At < Line.size() && !isspace((unsigned char)Line[At])) At++;
        if (At > Start) Found.push_back(Line.substr(Start, At - Start));
    }
    return Found;
}

// 1 to 16 hexadecimal digits, nothing else.
inline bool ParseHex(std::string_view Text, uint64 &Value) {
    if (Text.empty() || Text.size() > 16) return false;
    Value = 0;
    for (char Digit : Text) {
        if (!isxdigit((unsigned char)Digit)) return false;
        Value = Value * 16 + (uint64)(isdigit((unsigned char)Digit) ? Digit - '0' : (tolower(Digit) - 'a' + 10));
    }
    return true;
}

// 1 or more decimal digits, nothing else, of a value no greater than Max.
inline bool ParseDecimal(std::string_view Text, uint64 Max, uint64 &Value) {
    if (Text.empty()) return false;
    Value = 0;
    for (char Digit : Text) {
        const uint64 Next = (uint64)(Digit - '0');
        if (!isdigit((unsigned char)Digit) || Value > (Max - Next) / 10) return false;
        Value = Value * 10 + Next;
    }
    return true;
}

} // namespace SystemText
