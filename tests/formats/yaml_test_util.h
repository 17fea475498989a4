// Helpers shared by the YAML tests: a YAML object bound to a fresh
// Dictionary, and a canonical text of a parsed tree that a Python script can
// produce from PyYAML's result.
#pragma once

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "formats/yaml.h"
#include "runtime/containers/dictionary.h"
#include "runtime/streams/memory_stream.h"
#include "tests/support/dictionary_canon.h"
#include "tests/support/python.h"

namespace yamltest {

// Canonical text of a root: numbers as their text, or with Numeric as
// N%.17g of their value (PyYAML's numbers go through float).
inline std::string Canon(Dictionary *Root, bool Numeric = false) {
    if (!Numeric) return CanonText(Root);
    return CanonText(Root, [](Dictionary *Container, DictionaryItem *Item, int32) {
        const char *Text = nullptr;
        int32 Length = 0;
        Dictionary_ItemGetBufferPtr(Container, Item, &Text, &Length);
        const std::string Number(Text ? Text : "", Text ? (size_t)Length : 0);
        char Printed[64];
        snprintf(Printed, sizeof(Printed), "%.17g", strtod(Number.c_str(), nullptr));
        return "N" + std::string(Printed);
    });
}

// The same canonical text from Python values (PyYAML's result).
inline const char *PythonCanon = R"PY(
def canon(v):
    if isinstance(v, bool): return 'T' if v else 'F'
    if v is None: return 'Z'
    if isinstance(v, (int, float)): return 'N' + format(float(v), '.17g')
    if isinstance(v, str): return 'S' + v.encode('utf-8', 'surrogatepass').hex()
    if isinstance(v, list): return '[' + ''.join(canon(x) + ',' for x in v) + ']'
    if isinstance(v, dict): return '{' + ''.join('K' + k.encode().hex() + '=' + canon(x) + ',' for k, x in v.items()) + '}'
    return '?'
)PY";

struct Doc {
    YAML *Yaml = nullptr;
    Dictionary *Dict = nullptr;
    Doc() {
        YAML_Create(&Yaml);
        Dictionary_Create(&Dict);
        // Keys are compared as written: no private-key marker is taken off.
        Dictionary_SetPrivateKeys(Dict, 0);
        YAML_SetDictionaryHandle(Yaml, Dict);
    }
    ~Doc() {
        YAML_Release(&Yaml);
        Dictionary_Release(&Dict);
    }
    int32 Load(const std::string &Text) { return YAML_LoadBuffer(Yaml, Text.data(), (int32)Text.size()); }
    int32 Error() const {
        int32 Code = 0;
        YAML_GetLastError(Yaml, &Code);
        return Code;
    }
    std::string Save(int32 *Result = nullptr) {
        int32 Size = 0;
        const int32 Estimated = YAML_SaveBufferEstimate(Yaml, &Size);
        std::string Out((size_t)Size, '\0');
        int32 Written = 0;
        const int32 Saved = YAML_SaveBuffer(Yaml, Out.data(), Size, &Written);
        EXPECT_EQ(Estimated, Saved);
        EXPECT_EQ(Written, Size);
        if (Result != nullptr) *Result = Saved;
        return Out;
    }
};

} // namespace yamltest
