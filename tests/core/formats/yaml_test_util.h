// Helpers shared by the YAML tests: a YAML object bound to a fresh
// Dictionary, and a canonical text of a parsed tree that a Python script can
// produce from PyYAML's result.
#pragma once

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "core/dictionary.h"
#include "core/formats/yaml.h"
#include "core/memory_stream.h"
#include "tests/support/python.h"

namespace yamltest {

// Canonical text of one item: S<hex> strings, N<text> numbers (or N%.17g of
// the value with Numeric), T, F, Z, [a,b,] lists and {K<hex>=value,} maps.
inline void Canon(Dictionary *Container, DictionaryItem *Item, std::string &Out, bool Numeric) {
    int32 Type = 0;
    Dictionary_ItemGetType(Container, Item, &Type);
    const char *Text = nullptr;
    int32 Length = 0;
    switch (Type) {
        case DICTIONARY_TYPE_STRING:
            Dictionary_ItemGetBufferPtr(Container, Item, &Text, &Length);
            Out += "S" + ToHex(std::string(Text ? Text : "", Text ? (size_t)Length : 0));
            break;
        case DICTIONARY_TYPE_FLOAT64:
        case DICTIONARY_TYPE_INT64: {
            Dictionary_ItemGetBufferPtr(Container, Item, &Text, &Length);
            std::string Number(Text ? Text : "", Text ? (size_t)Length : 0);
            if (Numeric) {
                char Printed[64];
                snprintf(Printed, sizeof(Printed), "%.17g", strtod(Number.c_str(), nullptr));
                Number = Printed;
            }
            Out += "N" + Number;
            break;
        }
        case DICTIONARY_TYPE_BOOLEAN: {
            uint32 Flag = 0;
            Dictionary_ItemGetBoolean(Container, Item, &Flag);
            Out += Flag ? "T" : "F";
            break;
        }
        case DICTIONARY_TYPE_NULL: Out += "Z"; break;
        case DICTIONARY_TYPE_LIST:
        case DICTIONARY_TYPE_DICTIONARY: {
            const bool IsList = Type == DICTIONARY_TYPE_LIST;
            Out += IsList ? "[" : "{";
            Dictionary *Child = nullptr;
            Dictionary_ItemGetDictionaryHandle(Container, Item, &Child);
            DictionaryItem *Member = nullptr;
            for (int32 Have = Dictionary_ItemGetFirst(Child, &Member); Have;
                 Have = Dictionary_ItemGetNext(Child, Member, &Member)) {
                if (!IsList) {
                    const char *Key = nullptr;
                    Dictionary_ItemGetKeyPtr(Child, Member, &Key);
                    Out += "K" + ToHex(Key ? Key : "") + "=";
                }
                Canon(Child, Member, Out, Numeric);
                Out += ",";
            }
            Out += IsList ? "]" : "}";
            break;
        }
        default: Out += "?"; break;
    }
}

// Canonical text of every item of a root, separated by "|".
inline std::string Canon(Dictionary *Root, bool Numeric = false) {
    std::string Out;
    DictionaryItem *Item = nullptr;
    for (int32 Have = Dictionary_ItemGetFirst(Root, &Item); Have; Have = Dictionary_ItemGetNext(Root, Item, &Item)) {
        if (!Out.empty()) Out += "|";
        Canon(Root, Item, Out, Numeric);
    }
    return Out;
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
