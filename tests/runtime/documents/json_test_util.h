// Helpers shared by the JSON tests: a JSON object bound to a fresh
// Dictionary, captured log lines, piece-by-piece feeding and a canonical text
// of a parsed tree that a Python script can produce from the same document.
#pragma once

#include <gtest/gtest.h>
#include <stdarg.h>

#include <regex>
#include <string>
#include <vector>

#include "runtime/containers/dictionary.h"
#include "runtime/documents/json.h"
#include "runtime/streams/memory_stream.h"
#include "runtime/text/string_print.h"
#include "tests/support/dictionary_canon.h"
#include "tests/support/log_capture.h"
#include "tests/support/python.h"

namespace jsontest {

inline std::string Hex(const char *Bytes, size_t Length) { return ToHex(std::string(Bytes, Length)); }

// The Python side of CanonText (numbers as their text), for documents read with parse_float and
// parse_int keeping the number text and object_pairs_hook keeping order.
inline const char *PythonCanon = R"PY(
import json
class Num:
    def __init__(self, text): self.text = text
class Obj(list): pass
def canon(v):
    if isinstance(v, Num): return 'N' + v.text
    if isinstance(v, str): return 'S' + v.encode('utf-8', 'surrogatepass').hex()
    if v is True: return 'T'
    if v is False: return 'F'
    if v is None: return 'Z'
    if isinstance(v, Obj):
        return '{' + ''.join('K' + k.encode('utf-8').hex() + '=' + canon(x) + ',' for k, x in v) + '}'
    if isinstance(v, list): return '[' + ''.join(canon(x) + ',' for x in v) + ']'
    raise TypeError(repr(v))
def strict(text):
    return json.loads(text, parse_float=Num, parse_int=Num, object_pairs_hook=Obj)
)PY";

// Log lines printed by one object.
class Capture {
  public:
    explicit Capture(JSON *Json) { JSON_SetPrintCallback(Json, &Lines, CapturePrintLine); }
    std::vector<std::string> Lines;
    std::string All() const {
        std::string Out;
        for (const std::string &Line : Lines) Out += Line;
        return Out;
    }
    bool Contains(const std::string &Text) const { return All().find(Text) != std::string::npos; }
};

// A JSON object with its own Dictionary.
class Doc {
  public:
    Doc() {
        JSON_Create(&Json);
        Dictionary_Create(&Dict);
        JSON_SetDictionaryHandle(Json, Dict);
    }
    ~Doc() {
        JSON_Release(&Json);
        Dictionary_Release(&Dict);
    }
    Doc(const Doc &) = delete;
    Doc &operator=(const Doc &) = delete;

    // Parse messages are dropped (tests that expect thousands of failures).
    void Quiet() { JSON_SetPrintCallback(Json, nullptr, Drop); }
    static int32 Drop(void *, const char *, ...) { return 1; }

    int32 Load(const std::string &Text) { return JSON_LoadBuffer(Json, Text.data(), (int32)Text.size()); }
    int32 Error() const {
        int32 Code = -1;
        JSON_GetLastError(Json, &Code);
        return Code;
    }
    std::string Canon() const { return CanonText(Dict); }
    // The writer's output (empty when the save fails).
    std::string Save(int32 *Result = nullptr) {
        int32 Size = 0;
        JSON_SaveBufferEstimate(Json, &Size);
        std::string Out((size_t)Size + 1, '\0');
        int32 Written = 0;
        const int32 Saved = JSON_SaveBuffer(Json, Out.data(), (int32)Out.size(), &Written);
        if (Result) *Result = Saved;
        Out.resize((size_t)Written);
        return Out;
    }
    // Feeds the pieces through JSON_Scan as the notification end point does;
    // answers the number of pieces consumed before the scan ended.
    size_t Feed(const std::vector<std::string> &Pieces) {
        JSON_Reset(Json);
        size_t Used = 0;
        for (const std::string &Piece : Pieces) {
            MemoryStream *Memory = nullptr;
            MemoryStream_Create(&Memory);
            MemoryStream_SetPointer(Memory, const_cast<char *>(Piece.data()), (int32)Piece.size(),
                                    (int32)Piece.size());
            StreamStruct *Stream = nullptr;
            MemoryStream_GetStreamHandle(Memory, &Stream);
            int32 Count = 0;
            const int32 More = JSON_Scan(Json, Stream, &Count);
            MemoryStream_Delete(&Memory);
            Used++;
            if (!More) break;
        }
        return Used;
    }

    JSON *Json = nullptr;
    Dictionary *Dict = nullptr;
};

// "[... @ line:column]" of the last message that carries a position.
inline bool LastPosition(const Capture &Lines, int32 *Line, int32 *Column) {
    static const std::regex Position(R"(@ (\d+):(\d+)\])");
    for (auto Line_ = Lines.Lines.rbegin(); Line_ != Lines.Lines.rend(); ++Line_) {
        std::smatch Match;
        if (std::regex_search(*Line_, Match, Position)) {
            *Line = std::stoi(Match[1]);
            *Column = std::stoi(Match[2]);
            return true;
        }
    }
    return false;
}

} // namespace jsontest
