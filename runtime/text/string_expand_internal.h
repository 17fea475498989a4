// Shared between the files of macro expansion only: the engine
// (string_expand.cpp) asks the built-in functions (string_expand_builtin.cpp)
// after the platform values (string_expand_platform.cpp).
#pragma once

#include <string_view>

#include "runtime/types.h"

enum class ExpandAnswer {
    NotMine,  // not a built-in, or one that needs an argument it lacks
    Answered, // the value is in the output
    Overflow, // the value would not fit its output: the expansion fails
};

// Work is the whole working text (for {This}); Output has Size bytes.
ExpandAnswer StringExpand_BuiltIn(const char *Work, const char *Name, const char *Argument, char *Output,
                                  int32 Size);

// Copies Value and its terminator into Output; Overflow when it does not fit.
ExpandAnswer StringExpand_Put(char *Output, int32 Size, std::string_view Value);
