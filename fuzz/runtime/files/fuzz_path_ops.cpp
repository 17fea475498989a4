// Path text operations on arbitrary bytes (up to the first NUL): fixing with
// every flag in buffers of many sizes, splitting, URL conversion and the path
// macros. Besides not crashing, the invariants that callers rely on must
// hold: results are terminated within their buffer, fixing is idempotent and
// never leaves "//", "/./" or a backslash, and splitting gives back the text.
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "runtime/files/path.h"
#include "runtime/text/string_expand.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

std::string FixCopy(const std::string &Text, int32 Flags, int32 Size) {
    std::vector<char> Buffer(Text.size() + 1 + (size_t)Size);
    memcpy(Buffer.data(), Text.c_str(), Text.size() + 1);
    // Bytes past Size must stay untouched.
    memset(Buffer.data() + Text.size() + 1, 0x5a, (size_t)Size);
    Path_Fix(Buffer.data(), Size, Flags);
    for (size_t Index = Text.size() + 1 + (size_t)Size; Index-- > std::max<size_t>((size_t)Size, Text.size() + 1);)
        Check(Buffer[Index] == 0x5a);
    Check(strlen(Buffer.data()) < (size_t)std::max(Size, (int32)Text.size() + 1));
    return Buffer.data();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    std::string Text(reinterpret_cast<const char *>(Data), strnlen(reinterpret_cast<const char *>(Data), Size));

    for (int32 Flags : {0, 1, 2, 4, 5, 6}) {
        std::string Fixed = FixCopy(Text, Flags, (int32)Text.size() + 8);
        Check(Fixed.find('\\') == std::string::npos);
        Check(Fixed.find("//") == std::string::npos);
        Check(Fixed.find("/./") == std::string::npos);
        Check(FixCopy(Fixed, Flags, (int32)Fixed.size() + 8) == Fixed);
        for (int32 Small : {1, 2, 3, 4, 7, 16}) FixCopy(Text, Flags, Small);
    }

    char Out[64];
    Path_ParseDirectory(Text.c_str(), Out, sizeof(Out));
    std::string Directory = Out;
    const char *Name;
    Path_ParseFilenamePtr(Text.c_str(), &Name);
    if (Text.size() < sizeof(Out)) Check(Directory + Name == Text);
    Path_ParseFilename(Text.c_str(), Out, sizeof(Out));
    Path_ParseFilenameWithoutExtension(Text.c_str(), Out, sizeof(Out));
    Path_ParseExtension(Text.c_str(), 1, Out, sizeof(Out));
    Path_ParseExtension(Text.c_str(), 0, Out, 1);
    Path_Compare(Text.c_str(), Out, 1);

    std::vector<char> Url(Text.size() + 16);
    Path_ConvertToURL(Text.c_str(), Url.data(), (int32)Url.size());
    std::vector<char> Back(Url.size());
    Path_ConvertFromURL(Url.data(), Back.data(), (int32)Back.size());
    Path_ConvertFromURL(Text.c_str(), Out, sizeof(Out));

    std::vector<char> Editable(Text.c_str(), Text.c_str() + Text.size() + 1);
    Path_RemoveExtension(Editable.data());
    Path_RemoveFilename(Editable.data());
    Editable.assign(Text.c_str(), Text.c_str() + Text.size() + 1);
    Path_RemoveDirectory(Editable.data());

    char Macro[STRING_EXPAND_RESULT_SIZE];
    for (const char *Key : {"PathParse", "PathFix", "PathJoin", "PathToUrl", "PathFromUrl", "PathSlash"}) {
        Path_ExpandKey(nullptr, Key, Text.c_str(), Macro, sizeof(Macro));
        Check(strlen(Macro) < sizeof(Macro));
        Path_ExpandKey(nullptr, Key, Text.c_str(), Out, 5);
        Check(strlen(Out) < 5);
    }
    return 0;
}
