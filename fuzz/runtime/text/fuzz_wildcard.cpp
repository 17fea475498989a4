// Wildcard matching on a pattern and a text split from the input at the first
// NUL byte: it must finish quickly, and a pattern that is the text itself
// with every "*" escaped, or "*", must match.
#include <stdint.h>

#include <string>
#include <vector>

#include "runtime/text/string.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    std::string Input(reinterpret_cast<const char *>(Data), Size);
    size_t Split = Input.find('\0');
    std::string Pattern = Input.substr(0, Split);
    std::string Text = Split == std::string::npos ? std::string() : Input.substr(Split + 1);
    Text = Text.substr(0, Text.find('\0'));

    String_CompareWildcard(Text.c_str(), Pattern.c_str());
    String_CompareWildcardWithoutCase(Text.c_str(), Pattern.c_str());
    String_CompareWildcardList(Text.c_str(), Pattern.c_str());
    String_CompareWildcardListWithoutCase(Text.c_str(), Pattern.c_str());

    if (!String_CompareWildcard(Text.c_str(), "*")) __builtin_trap();
    std::string Literal;
    for (char Ch : Text) {
        if (Ch == '*') Literal += '\\';
        Literal += Ch;
    }
    // A backslash right before an escaped star would pair with it instead.
    if (Literal.find("\\\\*") == std::string::npos && !String_CompareWildcard(Text.c_str(), Literal.c_str()))
        __builtin_trap();

    std::vector<uint16> WideText(Text.begin(), Text.end()), WidePattern(Pattern.begin(), Pattern.end());
    WideText.push_back(0);
    WidePattern.push_back(0);
    StringUtf16_CompareWildcard(WideText.data(), WidePattern.data());
    StringUtf16_CompareWildcardWithoutCase(WideText.data(), WidePattern.data());
    return 0;
}
