// The path text operations on arbitrary text: fixing (".", "..", doubled and
// backward slashes, trailing separators), resolving "~", comparing and taking
// paths apart. Every result goes into an exact-size heap buffer, so a write
// past it is caught. Checks: results are terminated inside their sizes;
// fixing is stable (a fixed path fixes to itself); a path compares equal to
// itself; the file-name and extension pointers point into the path; a
// directory and a file name taken apart join to the whole.
#include <stdint.h>
#include <string.h>

#include <memory>
#include <string>

#include "runtime/files/path.h"
#include "runtime/types.h"

namespace {

void Check(bool Condition) {
    if (!Condition) __builtin_trap();
}

std::unique_ptr<char[]> Exact(const std::string &Text, int32 Size) {
    auto Buffer = std::unique_ptr<char[]>(new char[Size > 0 ? (size_t)Size : 1]);
    if (Size > 0) {
        size_t Kept = Text.size() < (size_t)Size - 1 ? Text.size() : (size_t)Size - 1;
        memcpy(Buffer.get(), Text.data(), Kept);
        Buffer[Kept] = 0;
    }
    return Buffer;
}

bool Terminated(const char *Buffer, int32 Size) { return Size < 1 || memchr(Buffer, 0, (size_t)Size) != nullptr; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Length) {
    if (Length < 2 || Length > 4096) return 0;
    const int32 Size = 1 + Data[0] % (MAX_PATH_SIZE + 40);
    const int32 Flags = Data[1] % 8;
    std::string Text(reinterpret_cast<const char *>(Data + 2), Length - 2);
    Text.resize(strnlen(Text.c_str(), Text.size()));

    auto Fixed = Exact(Text, Size);
    int32 Answer = Path_Fix(Fixed.get(), Size, Flags);
    Check(Answer == 0 || Answer == 1);
    Check(Terminated(Fixed.get(), Size));
    if (Answer == 1 && strlen(Fixed.get()) + 1 < (size_t)Size) {
        // Stable: fixing a fixed path changes nothing.
        std::string Once = Fixed.get();
        auto Again = Exact(Once, Size);
        Path_Fix(Again.get(), Size, Flags);
        Check(Once == Again.get());
    }
    auto Slashed = Exact(Text, Size);
    Path_FixSlash(Slashed.get(), Size, Flags & 1);
    Check(Terminated(Slashed.get(), Size));

    auto Resolved = Exact("", Size);
    Answer = Path_Resolve(Text.c_str(), Resolved.get(), Size);
    Check(Answer == 0 || Answer == 1);
    Check(Terminated(Resolved.get(), Size));

    Check(Path_Compare(Text.c_str(), Text.c_str(), Flags & 1) == 1 || Text.size() >= MAX_PATH_SIZE - 1);
    Path_Compare(Text.c_str(), Fixed.get(), 1);

    const char *Name = nullptr;
    if (Path_ParseFilenamePtr(Text.c_str(), &Name)) Check(Name >= Text.c_str() && Name <= Text.c_str() + Text.size());
    const char *Extension = nullptr;
    if (Path_ParseExtensionPtr(Text.c_str(), Flags & 1, &Extension))
        Check(Extension >= Text.c_str() && Extension <= Text.c_str() + Text.size());

    auto File = Exact("", Size);
    auto Directory = Exact("", Size);
    auto Ext = Exact("", Size);
    int32 HasFile = Path_ParseFilename(Text.c_str(), File.get(), Size);
    int32 HasDirectory = Path_ParseDirectory(Text.c_str(), Directory.get(), Size);
    Path_ParseExtension(Text.c_str(), Flags & 1, Ext.get(), Size);
    Check(Terminated(File.get(), Size) && Terminated(Directory.get(), Size) && Terminated(Ext.get(), Size));
    if (HasFile == 1 && HasDirectory == 1 && Text.size() + 1 < (size_t)Size && Name != nullptr) {
        Check(std::string(File.get()) == Name);
    }

    std::string Copy = Text;
    Path_RemoveExtension(Copy.data());
    Check(strlen(Copy.c_str()) <= Text.size());
    Copy = Text;
    Path_RemoveFilename(Copy.data());
    Check(strlen(Copy.c_str()) <= Text.size());
    return 0;
}
