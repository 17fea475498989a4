// XML writer: a Dictionary as XML, minified or one element per line indented
// by four blanks per level.
//
// Items keyed "-name" are the attributes of the element that holds them
// (Null: a bare word, String: name="value"); a List writes each member as a
// sibling element named by the List's key; "#text" writes its text alone;
// a keyless Dictionary writes its members in its place. Null, Boolean and
// number items that are not attributes are not written.
//
// Text and attribute values are escaped so that the reader gives back the
// exact bytes: the five markup characters as entities, control characters
// and CR as character references, and blanks at either end of a text (which
// the reader trims) as references too. Output goes through a 4,096-byte
// staging buffer; a stream write that fails or takes fewer bytes fails the
// save, as does an element nested deeper than the reader accepts.
#include <string.h>

#include <array>
#include <new>

#include "formats/xml.h"
#include "formats/xml_internal.h"
#include "runtime/documents/document_stage.h"
#include "runtime/documents/document_stream.h"
#include "runtime/memory.h"
#include "runtime/text/string.h"

namespace {

constexpr int32 IndentWidth = 4;
// Elements at this level would open the reader's 32nd level.
constexpr int32 MaxElementLevel = XML_MAX_LEVELS - 1;
// Lists and Dictionaries nested inside each other, elements or not.
constexpr int32 MaxContainers = 256;

// Bytes copied as they are inside a text, and inside an attribute value
// (which escapes tab and line feed as well: a conforming reader would turn
// them into blanks).
constexpr std::array<bool, 256> PlainBytes(bool Attribute) {
    std::array<bool, 256> Table{};
    for (int32 Byte = 0; Byte < 256; Byte++) Table[Byte] = Byte >= 0x20 || (!Attribute && (Byte == '\t' || Byte == '\n'));
    for (const char Special : {'&', '<', '>', '"', '\''}) Table[(uint8)Special] = false;
    return Table;
}
constexpr auto PlainText = PlainBytes(false);
constexpr auto PlainAttribute = PlainBytes(true);

bool IsEdgeBlank(char Character) {
    return Character == ' ' || Character == '\t' || Character == '\n' || Character == '\r';
}

class Writer : public DocumentStage {
  public:
    Writer(StreamStruct *Stream, bool Minify) : DocumentStage(Stream), Minify(Minify) {}

    bool Items(Dictionary *Container, int32 Level) {
        DictionaryItem *Item = nullptr;
        for (int32 Have = Dictionary_ItemGetFirst(Container, &Item); Have && !Failed;
             Have = Dictionary_ItemGetNext(Container, Item, &Item)) {
            const char *Key = nullptr;
            Dictionary_ItemGetKeyPtr(Container, Item, &Key);
            if (Key != nullptr && Key[0] == '-') continue;
            Write(Container, Item, Key, Level);
        }
        return !Failed;
    }

  private:
    bool Minify;
    int32 Containers = 0;

    using DocumentStage::Put;
    void Put(const char *Text) { Put(Text, (int32)strlen(Text)); }

    void Indent(int32 Level) {
        if (Minify) return;
        static const char Blanks[] = "                                ";
        for (int32 Count = Level * IndentWidth; Count > 0;) {
            const int32 Piece = Count < (int32)sizeof(Blanks) - 1 ? Count : (int32)sizeof(Blanks) - 1;
            Put(Blanks, Piece);
            Count -= Piece;
        }
    }

    void LineFeed() {
        if (!Minify) Put('\n');
    }

    void Reference(uint8 Byte) {
        char Text[8];
        const int32 Length = String_Print(Text, (int32)sizeof(Text), "&#%d;", (int32)Byte);
        Put(Text, Length);
    }

    void Escaped(uint8 Byte) {
        switch (Byte) {
            case '&': Put("&amp;", 5); break;
            case '<': Put("&lt;", 4); break;
            case '>': Put("&gt;", 4); break;
            case '"': Put("&quot;", 6); break;
            case '\'': Put("&apos;", 6); break;
            default: Reference(Byte); break;
        }
    }

    void Text(const char *Bytes, int32 Length, bool Attribute) {
        int32 Start = 0, End = Length;
        if (!Attribute) {
            while (Start < End && IsEdgeBlank(Bytes[Start])) Reference((uint8)Bytes[Start++]);
            while (End > Start && IsEdgeBlank(Bytes[End - 1])) End--;
        }
        const std::array<bool, 256> &Plain = Attribute ? PlainAttribute : PlainText;
        int32 Run = Start;
        for (int32 At = Start; At < End; At++) {
            const uint8 Byte = (uint8)Bytes[At];
            if (Plain[Byte]) continue;
            Put(Bytes + Run, At - Run);
            Escaped(Byte);
            Run = At + 1;
        }
        Put(Bytes + Run, End - Run);
        for (int32 At = End; At < Length; At++) Reference((uint8)Bytes[At]);
    }

    void ItemText(Dictionary *Container, DictionaryItem *Item, bool Attribute) {
        const char *Bytes = nullptr;
        int32 Length = 0;
        Dictionary_ItemGetBufferPtr(Container, Item, &Bytes, &Length);
        if (Bytes != nullptr) Text(Bytes, Length, Attribute);
    }

    bool TooDeep(int32 Level) {
        if (Level >= MaxElementLevel) Failed = true;
        return Failed;
    }

    // The only member of an element is its text: written on the tag's line.
    static bool OnlyText(Dictionary *Element, DictionaryItem **Text) {
        int32 Count = 0;
        const char *Key = nullptr;
        return Dictionary_ItemGetCount(Element, &Count) && Count == 1 && Dictionary_ItemGetFirst(Element, Text) &&
               Dictionary_ItemGetKeyPtr(Element, *Text, &Key) && String_CompareWithoutCase(Key, "#text") &&
               Dictionary_ItemCompareType(Element, *Text, DICTIONARY_TYPE_STRING);
    }

    // A bare word read from a quoted token may hold what ends a word; one
    // given with its quotes (DOCTYPE identifiers) is written as it is.
    void Word(const char *Name) {
        const size_t Length = strlen(Name);
        const bool HasQuotes = Length >= 2 && (Name[0] == '"' || Name[0] == '\'') && Name[Length - 1] == Name[0];
        const bool NeedsQuotes = Name[strcspn(Name, " \t\r\n=>")] != 0 || Name[0] == '"' || Name[0] == '\'';
        if (HasQuotes || !NeedsQuotes) {
            Put(Name);
            return;
        }
        const char Quote = strchr(Name, '"') != nullptr ? '\'' : '"';
        Put(Quote);
        Put(Name);
        Put(Quote);
    }

    void Attributes(Dictionary *Element, bool Declaration) {
        bool AfterQuote = false;
        DictionaryItem *Member = nullptr;
        for (int32 Have = Dictionary_ItemGetFirst(Element, &Member); Have;
             Have = Dictionary_ItemGetNext(Element, Member, &Member)) {
            const char *Key = nullptr;
            if (!Dictionary_ItemGetKeyPtr(Element, Member, &Key) || Key[0] != '-') continue;
            int32 Type = DICTIONARY_TYPE_UNKNOWN;
            Dictionary_ItemGetType(Element, Member, &Type);
            if (Type == DICTIONARY_TYPE_NULL) {
                // The "?" of "?>" follows a quoted value at once; after a
                // bare word it needs its blank to stay a word of its own.
                if (!(Declaration && AfterQuote && strcmp(Key + 1, "?") == 0)) Put(' ');
                Word(Key + 1);
                AfterQuote = false;
            } else if (Type == DICTIONARY_TYPE_STRING) {
                Put(' ');
                Put(Key + 1);
                Put("=\"", 2);
                ItemText(Element, Member, true);
                Put('"');
                AfterQuote = true;
            }
        }
    }

    void Write(Dictionary *Container, DictionaryItem *Item, const char *Name, int32 Level) {
        int32 Type = DICTIONARY_TYPE_UNKNOWN;
        Dictionary_ItemGetType(Container, Item, &Type);
        if (Type == DICTIONARY_TYPE_STRING) {
            Indent(Level);
            if (Name == nullptr || String_CompareWithoutCase(Name, "#text")) {
                ItemText(Container, Item, false);
            } else {
                if (TooDeep(Level)) return;
                Put('<');
                Put(Name);
                Put('>');
                ItemText(Container, Item, false);
                Put("</", 2);
                Put(Name);
                Put('>');
            }
            LineFeed();
            return;
        }
        if (Type != DICTIONARY_TYPE_LIST && Type != DICTIONARY_TYPE_DICTIONARY) return;
        // Lists and keyless Dictionaries open no element; their nesting is
        // bounded apart, so that no tree runs the stack out.
        if (Containers == MaxContainers) {
            Failed = true;
            return;
        }
        Containers++;
        Nested(Container, Item, Type == DICTIONARY_TYPE_LIST, Name, Level);
        Containers--;
    }

    void Nested(Dictionary *Container, DictionaryItem *Item, bool IsList, const char *Name, int32 Level) {
        Dictionary *Child = nullptr;
        Dictionary_ItemGetDictionaryHandle(Container, Item, &Child);
        if (IsList) {
            DictionaryItem *Member = nullptr;
            for (int32 Have = Dictionary_ItemGetFirst(Child, &Member); Have && !Failed;
                 Have = Dictionary_ItemGetNext(Child, Member, &Member))
                Write(Child, Member, Name, Level);
            return;
        }
        if (Name == nullptr) {
            Items(Child, Level);
            return;
        }
        if (TooDeep(Level)) return;
        Indent(Level);
        Put('<');
        Put(Name);
        const bool Declaration = Name[0] == '!' || Name[0] == '?';
        Attributes(Child, Declaration);
        Put('>');
        if (Declaration) {
            // A declaration has no content and no closing tag.
            LineFeed();
            Items(Child, Level + 1);
            return;
        }
        DictionaryItem *Text = nullptr;
        if (OnlyText(Child, &Text)) {
            ItemText(Child, Text, false);
        } else {
            LineFeed();
            Items(Child, Level + 1);
            Indent(Level);
        }
        Put("</", 2);
        Put(Name);
        Put('>');
        LineFeed();
    }
};

} // namespace

int32 XML_SaveStream(XML *Handle, StreamStruct *Stream) {
    XML_Check(Handle);
    Debug_CheckPointer(Stream);
    if (Handle->Dict == nullptr) return FALSE;
    int32 Count = 0;
    Dictionary_ItemGetCount(Handle->Dict, &Count);
    if (Count == 0) return FALSE;
    // The staging buffer is too large for small thread stacks.
    Writer *Out = static_cast<Writer *>(Memory_Alloc((int32)sizeof(Writer)));
    new (Out) Writer(Stream, Handle->Minify != 0);
    const bool Written = Out->Items(Handle->Dict, 0) && Out->Flush();
    Out->~Writer();
    Memory_Free(Out, (int32)sizeof(Writer));
    return Written;
}

int32 XML_SaveBuffer(XML *Handle, void *Buffer, int32 Capacity, int32 *Written) {
    XML_Check(Handle);
    return DocumentStream_SaveBuffer(Buffer, Capacity, Written,
                                     [Handle](StreamStruct *Stream) { return XML_SaveStream(Handle, Stream); });
}

int32 XML_SaveBufferEstimate(XML *Handle, int32 *Size) {
    XML_Check(Handle);
    return DocumentStream_SaveEstimate(Size, [Handle](StreamStruct *Stream) { return XML_SaveStream(Handle, Stream); });
}
