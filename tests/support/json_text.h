// Test helpers: a Dictionary as one line of minified JSON with its braces (the
// writer gives a root as its items), for comparing payloads as strings; and
// JSON text loaded into a new root.
#pragma once

#include <string>

#include "runtime/documents/json.h"

inline std::string JsonText(Dictionary *Root) {
    std::string Items;
    JSON_SaveMinifiedText(Root, Items);
    return "{" + Items + "}";
}

// A new root holding Text's document, or null when it does not parse. The
// caller releases it; Dictionary_SkipRoot gives the document's top container.
inline Dictionary *JsonRoot(const char *Text) {
    Dictionary *Loaded = nullptr;
    Dictionary_Create(&Loaded);
    JSON *Reader = nullptr;
    JSON_Create(&Reader);
    JSON_SetDictionaryHandle(Reader, Loaded);
    const bool Parsed = JSON_LoadString(Reader, "%s", Text) != 0;
    JSON_Delete(&Reader);
    if (!Parsed) Dictionary_Release(&Loaded);
    return Loaded;
}
