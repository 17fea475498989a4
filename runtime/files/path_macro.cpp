// The path macros of macro expansion: {PathSlash}, {PathParse:kind,path},
// {PathFix:path[,trailing]}, {PathJoin:a,b,...}, {PathToUrl:path} and
// {PathFromUrl:url}. Pure text work: nothing here touches the disk.
//
// Every macro but PathSlash needs an argument; without one the name is not
// ours, so the expansion goes on to its other providers.
#include <string.h>

#include <string>
#include <string_view>

#include "runtime/files/path.h"
#include "runtime/text/string.h"
#include "runtime/version.h"

namespace {

bool IsSeparator(char Character) { return Character == '/' || Character == '\\'; }

bool NameIs(const char *Name, const char *Expected) { return String_CompareWithoutCase(Name, Expected) == 1; }

// Fixes Text into Output, in a buffer as large as the text so that nothing is
// cut before the final copy.
void FixInto(std::string Text, int32 Flags, char *Output, int32 Size) {
    Text.resize(Text.size() + 3, 0);
    Path_Fix(Text.data(), (int32)Text.size(), Flags);
    String_CopyLength(Output, Text.c_str(), Size);
}

// {PathParse:kind,path}: an unknown kind, or no comma, gives the empty text.
void Parse(const char *Argument, char *Output, int32 Size) {
    const char *Comma = strchr(Argument, ',');
    if (Comma == nullptr) return;
    std::string Kind(Argument, (size_t)(Comma - Argument));
    const char *Path = Comma + 1;
    if (NameIs(Kind.c_str(), "dir") || NameIs(Kind.c_str(), "directory"))
        Path_ParseDirectory(Path, Output, Size);
    else if (NameIs(Kind.c_str(), "name") || NameIs(Kind.c_str(), "filename"))
        Path_ParseFilename(Path, Output, Size);
    else if (NameIs(Kind.c_str(), "nameWithoutExtension") || NameIs(Kind.c_str(), "filenameWithoutExtension") ||
             NameIs(Kind.c_str(), "title"))
        Path_ParseFilenameWithoutExtension(Path, Output, Size);
    else if (NameIs(Kind.c_str(), "extension"))
        Path_ParseExtension(Path, 0, Output, Size);
    else if (NameIs(Kind.c_str(), "extensionWithDot"))
        Path_ParseExtension(Path, 1, Output, Size);
}

// {PathFix:path[,trailing]}: the text after the last comma is the trailing
// flag only when it reads as a boolean, so a path may hold commas.
void Fix(const char *Argument, char *Output, int32 Size) {
    std::string_view Text(Argument);
    int32 Trailing = 1;
    size_t Comma = Text.rfind(',');
    if (Comma != std::string_view::npos) {
        std::string Flag(Text.substr(Comma + 1));
        int32 Value;
        if (!Flag.empty() && String_DecodeBoolean(Flag.c_str(), &Value, 1)) {
            Trailing = Value;
            Text = Text.substr(0, Comma);
        }
    }
    FixInto(std::string(Text), Trailing ? PATH_FIX_ENSURE_TRAILING : PATH_FIX_REMOVE_TRAILING, Output, Size);
}

// {PathJoin:a,b,...}: members joined with one slash where none is.
void Join(const char *Argument, char *Output, int32 Size) {
    std::string Joined;
    std::string_view Rest(Argument);
    for (;;) {
        size_t Comma = Rest.find(',');
        std::string_view Member = Rest.substr(0, Comma);
        if (!Joined.empty() && Joined.back() != '/') Joined += '/';
        Joined += Member;
        if (Comma == std::string_view::npos) break;
        Rest.remove_prefix(Comma + 1);
    }
    bool Trailing = !Joined.empty() && IsSeparator(Joined.back());
    FixInto(std::move(Joined), Trailing ? PATH_FIX_ENSURE_TRAILING : PATH_FIX_REMOVE_TRAILING, Output, Size);
}

} // namespace

extern "C" int32 Path_ExpandKey(void *User, const char *Name, const char *Argument, char *Output, int32 Size) {
    (void)User;
    if (Name == nullptr || Output == nullptr || Size < 1) return 0;
    Output[0] = 0;
    if (NameIs(Name, "PathSlash")) {
        String_CopyLength(Output, "/", Size);
        return 1;
    }
    if (Argument == nullptr) return 0;
    if (NameIs(Name, "PathParse"))
        Parse(Argument, Output, Size);
    else if (NameIs(Name, "PathFix"))
        Fix(Argument, Output, Size);
    else if (NameIs(Name, "PathJoin"))
        Join(Argument, Output, Size);
    else if (NameIs(Name, "PathToUrl"))
        Path_ConvertToURL(Argument, Output, Size);
    else if (NameIs(Name, "PathFromUrl"))
        Path_ConvertFromURL(Argument, Output, Size);
    else
        return 0;
    return 1;
}
