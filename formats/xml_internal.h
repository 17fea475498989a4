// Private to the XML module (xml.cpp, xml_read.cpp, xml_write.cpp,
// xml_file.cpp): the object's record and what its files share.
//
// Levels 1 ... Open hold the open elements (and, while its tag is read, a
// declaration); level 0 stands for the document itself. Each level keeps the
// tag as its key segment, the element's own Dictionary as the target of what
// is raised inside it (null when the tag was not stored), and the element's
// item with the Dictionary that holds it, for the collapse at its closing tag.
#pragma once

#include "formats/xml.h"
#include "runtime/callback.h"
#include "runtime/streams/memory_stream.h"

#define XML_Check(Handle) Class_CheckHandle((Handle), XML_CLASSID)

// Scan states.
enum XmlScanState : int32 {
    XmlOutside = 0,
    XmlTagName = 1,
    XmlAttributeName = 2,
    XmlAttributeValue = 3,
    XmlContent = 4,
};

// Token states inside a tag.
enum XmlTokenState : int32 {
    XmlTokenBlank = 0,
    XmlTokenUnquoted = 1,
    XmlTokenQuoted = 8,
};

typedef struct XMLLevel {
    int32 Kind;
    Dictionary *Target;     // receives what is raised inside the element
    Dictionary *Owner;      // holds Item
    DictionaryItem *Item;   // the element's item; null when not stored
    char Key[XML_KEY_SIZE]; // the tag; empty when not stored
} XMLLevel;

struct XML {
    ClassStruct Class;
    ClassPrintStruct Print;
    XMLLevel Levels[XML_MAX_LEVELS];
    int32 Open;               // open levels, 0 ... 31
    MemoryStream *Value;      // token or text being collected
    int32 TokenState;
    uint8 Quote;              // the quote that opened a quoted token
    int32 ScanState;
    int32 Element;            // the tag being read is an element, not a declaration
    int32 Closing;            // the tag being read is a closing tag
    char Attribute[XML_KEY_SIZE]; // "-name" waiting for its value; empty drops the value
    int64 CharCount;          // characters consumed since the reset
    int64 LineStart;          // CharCount just behind the last line feed
    int32 Line;
    int64 ValueStart;         // CharCount where the collected text began
    int32 LastError;
    Dictionary *Dict;         // attached, not owned
    CallbackStruct ValueCallback;
    int32 Minify;
    int32 KeepBlanks;         // text keeps its blanks (property lists)
};

// Text is kept whole, blanks at its ends and blank-only text included, so
// that formats whose strings are exact (property lists) lose nothing; they
// skip the blank "#text" items between their elements themselves.
void XmlInternal_SetKeepBlanks(XML *Xml, int32 Keep);
void XmlInternal_Fail(XML *Xml, int32 Code, const char *Format, ...);
