// The URL text helpers on arbitrary text, each result in an exact-size heap
// buffer so a write past it is caught. Checks: results are terminated inside
// their sizes; a failed call leaves an empty output; decoding never grows the
// text and gives the same answer in place; a host or path found is part of
// the URL; removing a scheme leaves a suffix of the URL; a resolved place
// keeps no dot segment in its path; a URL read whole has a port in range and
// the password a line hides of it is the one it was read with.
#include <stdint.h>
#include <string.h>

#include <memory>
#include <string>

#include "runtime/text/url.h"
#include "runtime/types.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

bool Terminated(const char *Buffer, int32 Size) { return memchr(Buffer, 0, (size_t)Size) != nullptr; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Length) {
    if (Length < 1 || Length > 4096) return 0;
    const int32 Size = 1 + Data[0] % 80;
    const std::string Url(reinterpret_cast<const char *>(Data) + 1, Length - 1);
    const char *Text = Url.c_str();
    auto Buffer = std::unique_ptr<char[]>(new char[(size_t)Size]);

    for (auto Function : {URL_ParseHostWithoutPort, URL_ParsePath, URL_DecodeString}) {
        const int32 Result = Function(Text, Buffer.get(), Size);
        Check(Result == 0 || Result == 1);
        Check(Terminated(Buffer.get(), Size));
        if (Result == 0) Check(Buffer[0] == 0);
        if (Result == 1 && Function != URL_DecodeString) Check(strstr(Text, Buffer.get()) != nullptr);
        if (Function == URL_DecodeString && Result == 1) {
            Check(strlen(Buffer.get()) <= strlen(Text));
            std::string Copy(Text);
            Copy.resize(strlen(Copy.c_str()) > (size_t)Size ? strlen(Copy.c_str()) : (size_t)Size);
            Check(URL_DecodeString(Copy.data(), Copy.data(), Size) == 1);
            Check(strcmp(Copy.c_str(), Buffer.get()) == 0);
        }
    }
    const int32 Placed = URL_ResolvePlace(Text, Buffer.get(), Size);
    Check((Placed == 0 || Placed == 1) && Terminated(Buffer.get(), Size));
    if (Placed == 0) Check(Buffer[0] == 0);
    if (Placed == 1) {
        const char *Scheme = strstr(Buffer.get(), "://");
        Check(Scheme != nullptr);
        std::string Path = Scheme + 3;
        Path.erase(0, Path.find('/'));
        Check(Path[0] == '/' && Path.find("/./") == std::string::npos && Path.find("/../") == std::string::npos);
        Check(Path != "/." && Path != "/.." && (Path.size() < 3 || (Path.compare(Path.size() - 2, 2, "/.") != 0 &&
                                                                  Path.compare(Path.size() - 3, 3, "/..") != 0)));
    }
    UrlParts Parts;
    const char *Why = nullptr;
    if (URL_Read(Url, &Parts, &Why)) {
        const size_t After = Url.find("://") + 3;
        size_t Start = 0, End = 0;
        const bool Found = URL_FindPassword(std::string_view(Url).substr(After), &Start, &End);
        Check(Parts.Port >= 0 && Parts.Port <= 65535 && Found == (Parts.HasPassword && !Parts.Password.empty()));
        Check(!Found || Url.substr(After + Start, End - Start) == Parts.Password);
    } else {
        Check(Why != nullptr && Why[0] != 0);
    }
    std::string Stripped(Text);
    URL_RemoveProtocol(Stripped.data());
    const size_t Kept = strlen(Stripped.c_str()), Whole = strlen(Text);
    Check(Kept <= Whole && strcmp(Text + (Whole - Kept), Stripped.c_str()) == 0);
    return 0;
}
