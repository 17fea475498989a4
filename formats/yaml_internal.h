// Private to the YAML module (yaml.cpp, yaml_read.cpp, yaml_write.cpp,
// yaml_file.cpp): the object's record.
//
// The reader works a line at a time: bytes are gathered in the line buffer
// until a line end, then the line is taken whole. Levels 0 ... Depth - 1 of
// the stack are the open collections, innermost last; block collections
// record the column (from 0) of their node, flow collections -1. A level's
// waiting bit says it expects a value: a mapping's key segment holds a key
// without a value yet, or a sequence has an entry "- " without one.
#pragma once

#include "formats/yaml.h"
#include "runtime/streams/memory_stream.h"

#define YAML_Check(Handle) Class_CheckHandle((Handle), YAML_CLASSID)

typedef struct YAMLLevel {
    int32 Indent;       // column of the node; -1 for a flow collection
    int32 Kind;         // YAML_TYPE_SEQUENCE ... YAML_TYPE_FLOW_MAP
    Dictionary *Target; // receives the level's items; null without a Dictionary
    char Key[YAML_KEY_SIZE];
} YAMLLevel;

struct YAML {
    ClassStruct Class;
    ClassPrintStruct Print;
    int32 LastError;
    int64 CharCount;        // bytes taken since the last reset
    int32 Line;             // of the line being read, from 1
    int32 Column;           // of the character being looked at, from 1
    int32 ScalarLine;       // where the scalar in the value buffer began
    int32 ScalarColumn;
    int32 SubState;         // YAML_TYPE_NONE, or the quoted kind a scalar continues in
    YAMLLevel Levels[YAML_MAX_LEVELS];
    uint32 WaitingBits;     // bit d: level d waits for a value
    int32 Depth;            // open levels
    int32 FlowBase;         // Depth below the outermost open flow collection; -1 outside
    int32 PendingPlain;     // the value buffer holds a plain scalar that may go on
    int32 PendingIndent;    // a continuation line must be indented more than this
    int32 FoldBreaks;       // line breaks met inside a quoted scalar not yet folded
    int32 FoldNoBlank;      // the last line ended in an escaped line break
    int32 FoldKeep;         // value bytes that trailing-blank trimming must keep
    int32 ContentSeen;      // a value or collection was stored
    int32 Ended;            // an end marker or error stopped the reading
    MemoryStream *Value;    // text of the scalar being read
    MemoryStream *LineBuffer; // a line that arrived in pieces
    Dictionary *Dict;       // attached, not owned
};
