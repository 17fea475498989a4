// Path texts, examination and directory creation (see path.h).
//
// Normalising works on a local copy split into parts, then writes the result
// back cut to the caller's size. Operations that touch the file system refuse
// a path that does not fit their 320-byte buffer instead of cutting it: a cut
// path names another file.
#include "runtime/files/path.h"

#include <errno.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/debug.h"
#include "runtime/files/path_internal.h"
#include "runtime/log.h"
#include "runtime/posix/platform.h"
#include "runtime/text/string.h"

namespace {

bool IsSeparator(char Character) { return Character == '/' || Character == '\\'; }
bool IsComponentEnd(char Character) { return IsSeparator(Character) || Character == ':'; }

void CopyCut(std::string_view Text, char *Output, int32 Size) {
    if (Size < 1) return;
    size_t Count = std::min(Text.size(), (size_t)Size - 1);
    memmove(Output, Text.data(), Count);
    Output[Count] = 0;
}

// Offset of the last component (behind the last slash, backslash or colon).
size_t FilenameOffset(std::string_view Path) {
    size_t Offset = Path.size();
    while (Offset > 0 && !IsComponentEnd(Path[Offset - 1])) Offset--;
    return Offset;
}


// lstat, and stat when the path is a link: 1 when it is (or leads to) a directory.
bool IsDirectoryOrLinkToOne(const char *Path, bool *Exists) {
    struct stat Status;
    *Exists = lstat(Path, &Status) == 0;
    if (!*Exists) return false;
    if (S_ISDIR(Status.st_mode)) return true;
    if (!S_ISLNK(Status.st_mode)) return false;
    if (stat(Path, &Status) != 0) {
        *Exists = false; // a dangling link counts as missing: its parents may be made
        return false;
    }
    return S_ISDIR(Status.st_mode);
}

int32 CreateDirectoryStep(const char *Path, int32 *Error) {
    bool Exists;
    if (IsDirectoryOrLinkToOne(Path, &Exists)) return 1;
    if (!Exists) {
        char Parent[MAX_PATH_SIZE];
        CopyCut(Path, Parent, sizeof(Parent));
        if (Path_RemoveFilename(Parent)) {
            Path_Fix(Parent, sizeof(Parent), PATH_FIX_REMOVE_TRAILING);
            if (Parent[0] != 0 && !CreateDirectoryStep(Parent, Error)) return 0;
        }
    }
    if (Platform_CreateDirectory(Path)) return 1;
    int32 Failure = Platform_GetLastError();
    // Another thread may have made it between the test and the creation.
    if (Platform_ErrorAlreadyExists(Failure) && IsDirectoryOrLinkToOne(Path, &Exists)) return 1;
    *Error = Failure;
    if (!Platform_ErrorAlreadyExists(Failure))
        Log_Debug("Unable to create directory (%s) [LE: %d:%.8X]\n", Path, Failure, (uint32)Failure);
    return 0;
}

} // namespace

bool PathInt_ResolveFitting(const char *Path, char (&Output)[MAX_PATH_SIZE], int32 FixFlags) {
    // Resolving into a larger buffer tells a path that fits exactly from a
    // cut one.
    char Work[MAX_PATH_SIZE + 2];
    Path_Resolve(Path, Work, sizeof(Work));
    Path_Fix(Work, sizeof(Work), FixFlags);
    if (strlen(Work) >= MAX_PATH_SIZE) {
        Output[0] = 0;
        errno = ENAMETOOLONG;
        return false;
    }
    memcpy(Output, Work, strlen(Work) + 1);
    return true;
}

int32 PathInt_NameTooLong(void) { return PLATFORM_ERROR_ERRNO_BASE + ENAMETOOLONG; }

extern "C" int32 Path_Fix(char *Path, int32 Size, int32 Flags) {
    Debug_CheckPointer(Path);
    if (Size < 1) return 0;
    std::string_view Text(Path);
    if (Text.empty()) {
        Path[0] = 0;
        return 1;
    }
    const bool Absolute = IsSeparator(Text.front());
    const bool Trailing = IsSeparator(Text.back());
    const bool LoneDot = Text == ".";

    std::vector<std::string_view> Parts;
    for (size_t Start = 0; Start < Text.size();) {
        size_t End = Start;
        while (End < Text.size() && !IsSeparator(Text[End])) End++;
        std::string_view Part = Text.substr(Start, End - Start);
        Start = End + 1;
        if (Part.empty() || Part == ".") continue;
        if (Part == "..") {
            if (!Parts.empty() && Parts.back() != "..")
                Parts.pop_back();
            else if ((Flags & PATH_FIX_KEEP_LEADING_PARENTS) && !Absolute)
                Parts.push_back(Part);
            continue;
        }
        Parts.push_back(Part);
    }

    std::string Result = Absolute ? "/" : "";
    for (size_t Index = 0; Index < Parts.size(); Index++) {
        if (Index > 0) Result += '/';
        Result += Parts[Index];
    }
    if (Result.empty() && LoneDot) Result = ".";

    if (Flags & PATH_FIX_REMOVE_TRAILING) {
        // The root keeps its slash: without it the path would be relative.
    } else if (Flags & PATH_FIX_ENSURE_TRAILING) {
        if (Result.empty() || Result == ".")
            Result = Size >= 4 ? "./" : ".";
        else if (Result.back() != '/' && (int64)Size - (int64)Result.size() >= 3)
            Result += '/';
    } else if (Trailing && !Result.empty() && Result.back() != '/') {
        Result += '/';
    }
    CopyCut(Result, Path, Size);
    return 1;
}

extern "C" int32 Path_FixSlash(char *Path, int32 Size, int32 Trailing) {
    return Path_Fix(Path, Size, Trailing == 1 ? PATH_FIX_ENSURE_TRAILING : PATH_FIX_REMOVE_TRAILING);
}

extern "C" int32 Path_Resolve(const char *Path, char *Output, int32 Size) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Output);
    if (Size < 1) return 1;
    std::string_view Rest(Path);
    std::string Text;
    char Home[MAX_PATH_SIZE];
    if (!Rest.empty() && Rest.front() == '~' && Platform_GetSpecialPath(PLATFORM_PATH_USERHOME, Home, sizeof(Home))) {
        Rest.remove_prefix(1);
        if (!Rest.empty() && IsSeparator(Rest.front())) Rest.remove_prefix(1);
        Text = Home;
        if (!Text.empty() && !IsSeparator(Text.back())) Text += '/';
    }
    Text += Rest;
    bool Trailing = !Rest.empty() && IsSeparator(Rest.back());
    // Fix in a buffer as large as the text so that nothing is cut before the
    // final copy; a trailing separator needs room for itself and the terminator.
    std::vector<char> Work(Text.begin(), Text.end());
    Work.resize(Text.size() + 3, 0);
    Path_Fix(Work.data(), (int32)Work.size(), Trailing ? PATH_FIX_ENSURE_TRAILING : PATH_FIX_REMOVE_TRAILING);
    CopyCut(Work.data(), Output, Size);
    return 1;
}

extern "C" int32 Path_Compare(const char *A, const char *B, int32 IgnoreCase) {
    Debug_CheckPointer(A);
    Debug_CheckPointer(B);
    auto Fold = [](char Character) { return Character >= 'A' && Character <= 'Z' ? (char)(Character + 32) : Character; };
    for (;; A++, B++) {
        if (*A == 0 || *B == 0) return *A == *B;
        if (*A == *B || (IsSeparator(*A) && IsSeparator(*B))) continue;
        if (IgnoreCase == 1 && Fold(*A) == Fold(*B)) continue;
        return 0;
    }
}

extern "C" int32 Path_ParseFilenamePtr(const char *Path, const char **Filename) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Filename);
    std::string_view Text(Path);
    *Filename = Path + FilenameOffset(Text);
    return **Filename != 0;
}

extern "C" int32 Path_ParseFilename(const char *Path, char *Output, int32 Size) {
    Debug_CheckPointer(Output);
    const char *Filename;
    int32 Found = Path_ParseFilenamePtr(Path, &Filename);
    CopyCut(Filename, Output, Size);
    return Found;
}

extern "C" int32 Path_ParseDirectory(const char *Path, char *Output, int32 Size) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Output);
    std::string_view Text(Path);
    CopyCut(Text.substr(0, FilenameOffset(Text)), Output, Size);
    return 1;
}

extern "C" int32 Path_ParseExtensionPtr(const char *Path, int32 IncludeDot, const char **Extension) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Extension);
    *Extension = nullptr;
    for (size_t Offset = strlen(Path); Offset > 0; Offset--) {
        char Character = Path[Offset - 1];
        if (IsComponentEnd(Character)) return 0;
        if (Character == '.') {
            *Extension = Path + Offset - (IncludeDot == 1 ? 1 : 0);
            return 1;
        }
    }
    return 0;
}

extern "C" int32 Path_ParseExtension(const char *Path, int32 IncludeDot, char *Output, int32 Size) {
    Debug_CheckPointer(Output);
    const char *Extension;
    CopyCut(Path_ParseExtensionPtr(Path, IncludeDot, &Extension) ? Extension : "", Output, Size);
    return 1;
}

extern "C" int32 Path_RemoveExtension(char *Path) {
    const char *Extension;
    if (!Path_ParseExtensionPtr(Path, 1, &Extension)) return 0;
    Path[Extension - Path] = 0;
    return 1;
}

extern "C" int32 Path_RemoveFilename(char *Path) {
    const char *Filename;
    if (!Path_ParseFilenamePtr(Path, &Filename)) return 0;
    Path[Filename - Path] = 0;
    return 1;
}

extern "C" int32 Path_ParseFilenameWithoutExtension(const char *Path, char *Output, int32 Size) {
    Debug_CheckPointer(Output);
    const char *Filename;
    int32 Found = Path_ParseFilenamePtr(Path, &Filename);
    std::string_view Name(Filename);
    const char *Extension;
    if (Path_ParseExtensionPtr(Filename, 1, &Extension)) Name = Name.substr(0, (size_t)(Extension - Filename));
    CopyCut(Name, Output, Size);
    return Found;
}

extern "C" int32 Path_RemoveDirectory(char *Path) {
    const char *Filename;
    int32 Found = Path_ParseFilenamePtr(Path, &Filename);
    memmove(Path, Filename, strlen(Filename) + 1);
    return Found;
}

extern "C" int32 Path_ConvertToURL(const char *Path, char *Output, int32 Size) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Output);
    std::string_view Text(Path);
    std::string Url;
    if (Text.starts_with('.') || (Text.size() >= 2 && IsSeparator(Text[0]) && IsSeparator(Text[1])))
        Url = "file:";
    else if (!Text.empty() && IsSeparator(Text[0]))
        Url = "file://";
    else
        Url = "file:./";
    Url += Text;
    std::replace(Url.begin(), Url.end(), '\\', '/');
    CopyCut(Url, Output, Size);
    return 1;
}

extern "C" int32 Path_ConvertFromURL(const char *Url, char *Output, int32 Size) {
    Debug_CheckPointer(Url);
    Debug_CheckPointer(Output);
    CopyCut("", Output, Size);
    std::string_view Text(Url);
    // A scheme is compared without case: "FILE:///x" is a file URL too.
    if (Text.size() < 5 || strncasecmp(Url, "file:", 5) != 0) return 0;
    Text.remove_prefix(5);
    if (Text.starts_with("./") || Text.starts_with("../")) {
        CopyCut(Text, Output, Size);
        return 1;
    }
    if (!Text.starts_with("//") || Text.size() == 2) return 0;
    if (Text[2] == '/') {
        // Three or more slashes: a local absolute path.
        Text.remove_prefix(Text.find_first_not_of('/') == std::string_view::npos ? Text.size() - 1
                                                                                  : Text.find_first_not_of('/') - 1);
        CopyCut(Text, Output, Size);
        return 1;
    }
    constexpr std::string_view Localhost = "localhost/";
    if (Text.size() >= 2 + Localhost.size() &&
        String_CompareLengthWithoutCase(Text.data() + 2, Localhost.data(), (int32)Localhost.size())) {
        Text.remove_prefix(2 + Localhost.size() - 1);
        CopyCut(Text, Output, Size);
        return 1;
    }
    CopyCut(Text, Output, Size); // another host: kept as a network path
    return 1;
}

extern "C" int32 Path_Stat(const char *Path, struct stat *Status) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Status);
    char Fixed[MAX_PATH_SIZE];
    if (!PathInt_ResolveFitting(Path, Fixed, PATH_FIX_REMOVE_TRAILING)) {
        memset(Status, 0, sizeof(*Status));
        return 0;
    }
    return Platform_Stat(Fixed, Status);
}

extern "C" int32 Path_Exists(const char *Path) {
    struct stat Status;
    return Path_Stat(Path, &Status);
}

extern "C" int32 Path_IsDirectory(const char *Path) {
    struct stat Status;
    if (!Path_Stat(Path, &Status)) return 0;
    return S_ISDIR(Status.st_mode) ? 1 : 0;
}

extern "C" int32 Path_DirectoryExists(const char *Path) { return Path_IsDirectory(Path); }

extern "C" int32 Path_CreateDirectory(const char *Path, int32 StripFilename, int32 *Error) {
    Debug_CheckPointer(Path);
    int32 Ignored;
    if (Error == nullptr) Error = &Ignored;
    *Error = 0;
    char Fixed[MAX_PATH_SIZE];
    if (!PathInt_ResolveFitting(Path, Fixed, 0)) {
        *Error = PathInt_NameTooLong();
        Log_Debug("Unable to create directory (%s) [LE: %d:%.8X]\n", Path, *Error, (uint32)*Error);
        return 0;
    }
    if (StripFilename == 1) Path_RemoveFilename(Fixed);
    Path_Fix(Fixed, sizeof(Fixed), PATH_FIX_REMOVE_TRAILING);
    if (Fixed[0] == 0) return 1;
    return CreateDirectoryStep(Fixed, Error);
}
