// Test helper: a Dictionary as one line of minified JSON with its braces (the
// writer gives a root as its items), for comparing payloads as strings.
#pragma once

#include <string>

#include "core/formats/json.h"

inline std::string JsonText(Dictionary *Root) {
    std::string Items;
    JSON_SaveMinifiedText(Root, Items);
    return "{" + Items + "}";
}
