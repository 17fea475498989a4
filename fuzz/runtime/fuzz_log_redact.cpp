// Log masking on arbitrary lines, and its one promise: a value written after
// a secret name, in any of the shapes a line carries one (name=value, a
// header, a JSON member, a list, JSON inside a string, a URL's password
// whatever it holds but a line break), never shows, whatever comes before or
// after it.
#include <stdint.h>
#include <string.h>

#include <string>

#include "runtime/log.h"

namespace {

const char *const Names[] = {"password", "X-Auth-Token", "Proxy-Authorization", "csrftoken", "apiKeys",
                             "private_key", "PASSPHRASE", "Set-Cookie",
                             "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnpassword"};

// The value's own bytes carry this mark, which nothing around them holds.
constexpr char Mark = '\x01';

std::string Without(const std::string &Text, const char *Dropped) {
    std::string Kept;
    for (char C : Text)
        if (C != 0 && C != Mark && strchr(Dropped, C) == nullptr) Kept += C;
    return Kept;
}

std::string Escaped(const std::string &Text, int Levels) {
    std::string Out = Text;
    for (int Level = 0; Level < Levels; Level++) {
        std::string Next;
        for (char C : Out) {
            if (C == '"' || C == '\\') Next += '\\';
            Next += C;
        }
        Out = Next;
    }
    return Out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    const std::string Input(reinterpret_cast<const char *>(Data), Size);
    std::string Output;
    Log_Redact(Without(Input, "").c_str(), Output);
    if (Size < 2) return 0;

    const std::string Rest = Input.substr(2);
    const size_t First = Rest.find('\xff'), Second = First == std::string::npos ? First : Rest.find('\xff', First + 1);
    const std::string Before = Without(Rest.substr(0, First), "");
    const std::string Value = First == std::string::npos ? "v" : Rest.substr(First + 1, Second - First - 1);
    const std::string After = Second == std::string::npos ? "" : Without(Rest.substr(Second + 1), "");
    const std::string Name = Names[Data[1] % (sizeof(Names) / sizeof(Names[0]))];
    const std::string Marked = Mark + Value + Mark;
    std::string Pair;
    switch (Data[0] % 6) {
    case 0: Pair = Name + "=" + Mark + Without(Value, " \t\r\n&;,)\"'}]") + Mark; break;
    case 1: Pair = Name + ": " + Mark + Without(Value, "\r\n") + Mark; break;
    case 2: Pair = "\"" + Name + "\": \"" + Escaped(Marked, 1) + "\""; break;
    case 3: Pair = "\"" + Name + "\": [\"" + Escaped(Marked, 1) + "\", \"" + Escaped(Marked, 1) + "\"]"; break;
    case 4: Pair = "\\\"" + Name + "\\\":\\\"" + Escaped(Marked, 2) + "\\\""; break;
    default: Pair = "http://user:" + (Mark + Without(Value, "\r\n") + Mark) + "@127.0.0.1/x"; break;
    }
    const std::string Line = Before + Pair + After;
    Output.clear();
    if (!Log_Redact(Line.c_str(), Output) || Output.find(Mark) != std::string::npos) __builtin_trap();
    return 0;
}
