// Feeds arbitrary bytes to the command-line scanner, switch lookups and the
// splitter, and checks that a vector (the input cut at NUL bytes) joined by
// CommandLine_Build comes back whole from the field scanner.
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "runtime/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
    std::string Text(reinterpret_cast<const char *>(Data), Size);
    const char *Line = Text.c_str();
    char Output[256];

    int32 Count = 0;
    CommandLine_GetFieldCount(Line, &Count);
    for (int32 Index = 0; Index < Count && Index < 64; Index++) {
        const char *Field;
        CommandLine_GetField(Line, Index, Output, sizeof(Output));
        CommandLine_GetField(Line, Index, Output, 2);
        if (CommandLine_GetFieldPtr(Line, Index, &Field)) {
            CommandLine_GetFieldName(Field, Output, sizeof(Output));
            CommandLine_GetFieldValue(Field, Output, sizeof(Output));
        }
    }
    CommandLine_IsFieldSet(Line, "debug");
    CommandLine_GetFieldByName(Line, "debug", Output, sizeof(Output));
    CommandLine_GetFieldByName(Line, "", Output, 1);
    char **Vector;
    if (Arguments_Build(Line, &Count, &Vector)) Arguments_Free(&Count, &Vector);

    std::vector<std::string> Arguments;
    size_t Start = 0;
    for (size_t Index = 0; Index <= Size; Index++)
        if (Index == Size || Data[Index] == 0) {
            Arguments.emplace_back(Text, Start, Index - Start);
            Start = Index + 1;
        }
    std::vector<const char *> Pointers;
    size_t Needed = 0;
    for (const std::string &Argument : Arguments) {
        Pointers.push_back(Argument.c_str());
        Needed += 2 * Argument.size() + 3;
    }
    static char Joined[1 << 16];
    if (Needed >= sizeof(Joined)) return 0;
    CommandLine_Build((int32)Pointers.size(), Pointers.data(), Joined, sizeof(Joined));
    if (!CommandLine_GetFieldCount(Joined, &Count) || Count != (int32)Arguments.size()) __builtin_trap();
    std::string Field(sizeof(Joined), '\0');
    for (size_t Index = 0; Index < Arguments.size(); Index++) {
        CommandLine_GetField(Joined, (int32)Index, Field.data(), (int32)Field.size());
        if (Arguments[Index] != Field.c_str()) __builtin_trap();
    }
    return 0;
}
