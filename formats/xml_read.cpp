// XML reader: the tag scanner and the loaders built on it.
//
// The scanner keeps its whole state in the object, so a document may arrive
// in pieces of any size. Runs of text, quoted values and names are found with
// one pass over the chunk and appended to the value buffer at once; the
// buffer then holds the token or text until the character that ends it.
//
// Broken markup is absorbed rather than refused (stray text, unclosed and
// mismatched elements); the only failures are an empty input and a tag that
// would open a 32nd level. Every token is bounded by the input it came from,
// so memory grows with the document and nothing else.
#include <string.h>

#include <string>
#include <string_view>

#include "formats/xml.h"
#include "formats/xml_internal.h"
#include "runtime/documents/document_stream.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/text/string.h"
#include "runtime/text/unicode_codec.h"

namespace {

constexpr int32 ChunkSize = 4096;
// A key segment keeps "-" or nothing in front and the terminator behind.
constexpr int32 MaxNameLength = XML_KEY_SIZE - 2;
// "&#x0010FFFF;" is the longest reference decoded.
constexpr int32 MaxReferenceLength = 12;

bool IsBlank(uint8 Character) {
    return Character == ' ' || Character == '\t' || Character == '\n' || Character == '\r';
}

bool EndsUnquoted(uint8 Character) { return IsBlank(Character) || Character == '=' || Character == '>'; }

// The value of "&#N;" or "&#xN;" (Name is what lies between "&" and ";");
// -1 unless it is a Unicode scalar value.
int64 CharacterReference(std::string_view Name) {
    if (Name.size() < 2 || Name[0] != '#') return -1;
    const bool Hex = Name[1] == 'x';
    size_t At = Hex ? 2 : 1;
    if (At == Name.size()) return -1;
    int64 Value = 0;
    for (; At < Name.size(); At++) {
        const char Digit = Name[At];
        int32 Number;
        if (Digit >= '0' && Digit <= '9')
            Number = Digit - '0';
        else if (Hex && Digit >= 'a' && Digit <= 'f')
            Number = Digit - 'a' + 10;
        else if (Hex && Digit >= 'A' && Digit <= 'F')
            Number = Digit - 'A' + 10;
        else
            return -1;
        Value = Value * (Hex ? 16 : 10) + Number;
    }
    if (Value > 0x10FFFF || (Value >= 0xD800 && Value <= 0xDFFF)) return -1;
    return Value;
}

// Decodes the predefined entities and character references in place (every
// decoded form is shorter than its reference); others stay as written.
int32 DecodeReferences(char *Text, int32 Length) {
    const char *First = static_cast<const char *>(memchr(Text, '&', (size_t)Length));
    if (First == nullptr) return Length;
    int32 Read = (int32)(First - Text), Write = Read;
    while (Read < Length) {
        if (Text[Read] != '&') {
            Text[Write++] = Text[Read++];
            continue;
        }
        int32 End = Read + 1;
        while (End < Length && End - Read <= MaxReferenceLength && Text[End] != ';' && Text[End] != '&') End++;
        if (End < Length && Text[End] == ';') {
            const std::string_view Name(Text + Read + 1, (size_t)(End - Read - 1));
            char Plain = 0;
            if (Name == "amp") Plain = '&';
            else if (Name == "lt") Plain = '<';
            else if (Name == "gt") Plain = '>';
            else if (Name == "quot") Plain = '"';
            else if (Name == "apos") Plain = '\'';
            if (Plain != 0) {
                Text[Write++] = Plain;
                Read = End + 1;
                continue;
            }
            const int64 CodePoint = CharacterReference(Name);
            if (CodePoint >= 0) {
                char Bytes[4];
                const int32 Count = unicode::EncodeUtf8((uint32)CodePoint, Bytes);
                memcpy(Text + Write, Bytes, (size_t)Count);
                Write += Count;
                Read = End + 1;
                continue;
            }
        }
        Text[Write++] = Text[Read++];
    }
    return Write;
}

// One pass over a chunk of input.
class Scanner {
  public:
    Scanner(XML *Xml, const uint8 *Chunk, int32 Length) : X(Xml), Chunk(Chunk), Length(Length) {
        Base = X->CharCount;
        CallbackBase_Get(&X->ValueCallback, &CallbackUser, &Callback);
        Verbose = XML_IsVerboseLevel(X, 9) != 0;
    }

    void Process() {
        while (Pos < Length && X->LastError == XML_ERROR_NONE) {
            switch (X->ScanState) {
                case XmlOutside: Outside(); break;
                case XmlContent: Content(); break;
                default: Tag(); break;
            }
        }
        X->CharCount = Base + Pos;
    }

    int32 Consumed() const { return Pos; }

  private:
    XML *X;
    const uint8 *Chunk;
    int32 Length;
    int32 Pos = 0;
    int64 Base = 0;
    void *CallbackUser = nullptr;
    XML_ValueFunc Callback = nullptr;
    bool Verbose = false;

    int32 Column() const { return (int32)(Base + Pos - X->LineStart + 1); }

    // Counts the line feeds of Chunk[From, To).
    void CountLines(int32 From, int32 To) {
        const uint8 *At = Chunk + From;
        const uint8 *End = Chunk + To;
        while (At < End) {
            const uint8 *Feed = static_cast<const uint8 *>(memchr(At, '\n', (size_t)(End - At)));
            if (Feed == nullptr) break;
            X->Line++;
            X->LineStart = Base + (Feed - Chunk) + 1;
            At = Feed + 1;
        }
    }

    void Append(int32 From, int32 To) {
        if (To <= From) return;
        uint32 Written = 0;
        MemoryStream_Write(X->Value, Chunk + From, (uint32)(To - From), &Written);
    }

    // The collected text, terminated and pinned until the holder goes;
    // Length excludes the terminator.
    class Collected {
      public:
        explicit Collected(MemoryStream *Value) : Value(Value) {
            uint32 Written = 0;
            MemoryStream_Write(Value, "", 1, &Written);
            Length = MemoryStream_GetUsed(Value) - 1;
            MemoryStream_GetPointer(Value, &Text);
        }
        ~Collected() { MemoryStream_ReleasePointer(Value, &Text); }
        Collected(const Collected &) = delete;
        Collected &operator=(const Collected &) = delete;
        MemoryStream *Value;
        char *Text = nullptr;
        int32 Length = 0;
    };

    void BeginTag() {
        MemoryStream_DiscardAll(X->Value);
        X->ScanState = XmlTagName;
        X->TokenState = XmlTokenBlank;
        X->Element = 1;
        X->Closing = 0;
        X->Attribute[0] = 0;
    }

    // ---- Raising values ----

    // The value path: the open levels' keys and Key, joined by backslashes.
    void BuildPath(const char *Key, char *Path, int32 Size) const {
        int32 Used = 0;
        auto Add = [&](const char *Segment) {
            if (Segment[0] == 0) return;
            if (Used > 0 && Used < Size - 1) Path[Used++] = '\\';
            for (const char *p = Segment; *p != 0 && Used < Size - 1; p++) Path[Used++] = *p;
        };
        for (int32 Level = 1; Level <= X->Open; Level++) Add(X->Levels[Level].Key);
        Add(Key);
        Path[Used] = 0;
    }

    Dictionary *Target() const {
        for (int32 Level = X->Open; Level >= 1; Level--)
            if (X->Levels[Level].Target != nullptr) return X->Levels[Level].Target;
        return X->Dict;
    }

    // Hands a value to the callback, then stores it under Key (nothing is
    // stored for an empty key). Child receives an element's Dictionary.
    DictionaryItem *Raise(int32 Kind, const char *Key, const char *Text, int32 TextLength, Dictionary **Owner,
                          Dictionary **Child) {
        if (Verbose || Callback != nullptr) {
            char Path[XML_PATH_SIZE];
            BuildPath(Key, Path, (int32)sizeof(Path));
            if (Verbose)
                XML_VerboseLog(X, 9, "Path %s Depth %d Type %d Buf %s BufSize %d StreamPos %lld NodePos %d NodeSize %d",
                               Path, X->Open + 1, Kind, Log_IsSecretPath(Path) ? LOG_SECRET_MASK : Text, TextLength,
                               (long long)X->ValueStart, TextLength, TextLength);
            if (Callback != nullptr)
                Callback(X, CallbackUser, Path, Kind, Text, TextLength, X->ValueStart, TextLength, TextLength);
        }
        Dictionary *Into = Target();
        if (Owner != nullptr) *Owner = Into;
        if (Child != nullptr) *Child = nullptr;
        if (Into == nullptr || Key[0] == 0) return nullptr;
        DictionaryItem *Item = nullptr;
        Dictionary_Add(Into, Key, &Item);
        switch (Kind) {
            case XML_KIND_TEXT:
                Dictionary_ItemSetType(Into, Item, DICTIONARY_TYPE_STRING);
                Dictionary_ItemSetBuffer(Into, Item, Text, TextLength);
                break;
            case XML_KIND_ELEMENT:
                Dictionary_ItemSetType(Into, Item, DICTIONARY_TYPE_DICTIONARY);
                if (Child != nullptr) Dictionary_ItemGetDictionaryHandle(Into, Item, Child);
                break;
            case XML_KIND_ATTRIBUTE:
            case XML_KIND_DECLARATION_END: Dictionary_ItemSetType(Into, Item, DICTIONARY_TYPE_NULL); break;
            default: break;
        }
        return Item;
    }

    // Whether a name of Length bytes may become a key of the Dictionary
    // loading (Stored: its length as a key). A Dictionary keeps keys of at
    // most DICTIONARY_MAX_KEY_LENGTH bytes without a NUL: an element's or
    // attribute's name that does not fit fails the load, since cutting it
    // would make two names one. A word of a declaration or comment is no
    // data: one that does not fit is passed over.
    bool NameFits(const char *Name, int32 Length, int32 Stored) {
        Dictionary *Into = Target();
        if (Into == nullptr) return true;
        const bool Nul = Length > 0 && memchr(Name, 0, (size_t)Length) != nullptr;
        if (Stored > DICTIONARY_MAX_KEY_LENGTH && Stored == Length &&
            Dictionary_KeptKeyLength(Into, Name, Length) <= DICTIONARY_MAX_KEY_LENGTH)
            Stored--;
        if (!Nul && Stored <= DICTIONARY_MAX_KEY_LENGTH) return true;
        if (!X->Element) return false;
        if (Nul)
            XmlInternal_Fail(X, XML_ERROR_KEY, "Name holds a NUL [@ %d:%d]", X->Line, Column() - 1);
        else
            XmlInternal_Fail(X, XML_ERROR_KEY, "Name of %d bytes exceeds the %d-byte key limit [@ %d:%d]", Stored,
                             DICTIONARY_MAX_KEY_LENGTH, X->Line, Column() - 1);
        return false;
    }

    // An attribute name or declaration word: "-" and the token.
    void RaiseWord(int32 Kind, const char *Token, int32 TokenLength) {
        if (TokenLength == 0 || !NameFits(Token, TokenLength, TokenLength + 1) || TokenLength > MaxNameLength) return;
        char Key[XML_KEY_SIZE];
        Key[0] = '-';
        memcpy(Key + 1, Token, (size_t)TokenLength);
        Key[TokenLength + 1] = 0;
        Raise(Kind, Key, "", 0, nullptr, nullptr);
    }

    void PopLevel() {
        if (X->Open == 0) return;
        XMLLevel &Level = X->Levels[X->Open];
        Level.Kind = XML_KIND_NONE;
        Level.Target = nullptr;
        Level.Owner = nullptr;
        Level.Item = nullptr;
        Level.Key[0] = 0;
        X->Open--;
    }

    // A start tag or declaration opens a level holding its item.
    bool OpenLevel(const char *Name, int32 NameLength) {
        if (X->Open >= XML_MAX_LEVELS - 1) {
            // The column of the character that ended the tag's name.
            XmlInternal_Fail(X, XML_ERROR_DEPTH, "Nesting limit exceeded [%s @ %d:%d]", Name, X->Line, Column() - 1);
            return false;
        }
        const bool Fits = NameFits(Name, NameLength, NameLength);
        if (X->LastError != XML_ERROR_NONE) return false;
        char Key[XML_KEY_SIZE];
        Key[0] = 0;
        if (Fits && NameLength <= MaxNameLength) {
            memcpy(Key, Name, (size_t)NameLength);
            Key[NameLength] = 0;
        }
        Dictionary *Owner = nullptr;
        Dictionary *Child = nullptr;
        DictionaryItem *Item = Raise(XML_KIND_ELEMENT, Key, "", 0, &Owner, &Child);
        XMLLevel &Level = X->Levels[++X->Open];
        Level.Kind = XML_KIND_ELEMENT;
        Level.Target = Child;
        Level.Owner = Owner;
        Level.Item = Item;
        memcpy(Level.Key, Key, strlen(Key) + 1);
        return true;
    }

    // A closing tag closes the innermost element, whatever its name. An
    // element that holds only its text becomes a String item; under another
    // name the text moves to the parent without a key.
    void CloseLevel(const char *Name, int32 NameLength) {
        if (X->Open == 0) return;  // stray closing tag
        XMLLevel &Level = X->Levels[X->Open];
        DictionaryItem *Only = nullptr;
        int32 Count = 0;
        const char *Key = nullptr;
        if (Level.Item != nullptr && Level.Target != nullptr && Dictionary_ItemGetCount(Level.Target, &Count) &&
            Count == 1 && Dictionary_ItemGetFirst(Level.Target, &Only) &&
            Dictionary_ItemGetKeyPtr(Level.Target, Only, &Key) && strcmp(Key, "#text") == 0 &&
            Dictionary_ItemCompareType(Level.Target, Only, DICTIONARY_TYPE_STRING)) {
            const char *Text = nullptr;
            int32 TextLength = 0;
            Dictionary_ItemGetBufferPtr(Level.Target, Only, &Text, &TextLength);
            const std::string Copy(Text != nullptr ? Text : "", Text != nullptr ? (size_t)TextLength : 0);
            const bool Same = (size_t)NameLength == strlen(Level.Key) && memcmp(Name, Level.Key, (size_t)NameLength) == 0;
            if (Same) {
                Dictionary_ItemSetType(Level.Owner, Level.Item, DICTIONARY_TYPE_STRING);
                Dictionary_ItemSetBuffer(Level.Owner, Level.Item, Copy.data(), (int32)Copy.size());
            } else {
                DictionaryItem *Moved = nullptr;
                Dictionary_Add(Level.Owner, nullptr, &Moved);
                Dictionary_ItemSetType(Level.Owner, Moved, DICTIONARY_TYPE_STRING);
                Dictionary_ItemSetBuffer(Level.Owner, Moved, Copy.data(), (int32)Copy.size());
                Dictionary_Remove(Level.Owner, &Level.Item);
            }
        }
        PopLevel();
    }

    // ---- States ----

    void Outside() {
        const uint8 *Open = static_cast<const uint8 *>(memchr(Chunk + Pos, '<', (size_t)(Length - Pos)));
        const int32 End = Open != nullptr ? (int32)(Open - Chunk) : Length;
        CountLines(Pos, End);
        Pos = End;
        if (Open == nullptr) return;
        Pos++;
        BeginTag();
    }

    void Content() {
        if (MemoryStream_GetUsed(X->Value) == 0) {
            while (!X->KeepBlanks && Pos < Length && IsBlank(Chunk[Pos])) {
                if (Chunk[Pos] == '\n') CountLines(Pos, Pos + 1);
                Pos++;
            }
            if (Pos == Length) return;
            X->ValueStart = Base + Pos;
        }
        const uint8 *Open = static_cast<const uint8 *>(memchr(Chunk + Pos, '<', (size_t)(Length - Pos)));
        const int32 End = Open != nullptr ? (int32)(Open - Chunk) : Length;
        CountLines(Pos, End);
        Append(Pos, End);
        Pos = End;
        if (Open == nullptr) return;
        Pos++;
        {
            Collected Value(X->Value);
            char *Text = Value.Text;
            int32 TextLength = Value.Length;
            while (!X->KeepBlanks && TextLength > 0 && IsBlank((uint8)Text[TextLength - 1])) TextLength--;
            if (TextLength > 0) {
                TextLength = DecodeReferences(Text, TextLength);
                Text[TextLength] = 0;
                Raise(XML_KIND_TEXT, "#text", Text, TextLength, nullptr, nullptr);
            }
        }
        BeginTag();
    }

    // Reads one token of a tag; hands it on when it ends.
    void Tag() {
        switch (X->TokenState) {
            case XmlTokenBlank: {
                while (Pos < Length && IsBlank(Chunk[Pos])) {
                    if (Chunk[Pos] == '\n') CountLines(Pos, Pos + 1);
                    Pos++;
                }
                if (Pos == Length) return;
                const uint8 Character = Chunk[Pos];
                X->ValueStart = Base + Pos;
                // Names are never quoted: a quote in a tag's name is text,
                // so a name never holds a blank or ">" the writer could not
                // write back.
                if ((Character == '"' || Character == '\'') && X->ScanState != XmlTagName) {
                    X->Quote = Character;
                    Pos++;
                    X->ValueStart = Base + Pos;
                    X->TokenState = XmlTokenQuoted;
                } else if (Character == '>' || Character == '=') {
                    Pos++;
                    TokenDone(Character);
                } else {
                    X->TokenState = XmlTokenUnquoted;
                }
                return;
            }
            case XmlTokenUnquoted: {
                int32 End = Pos;
                while (End < Length && !EndsUnquoted(Chunk[End])) End++;
                Append(Pos, End);
                Pos = End;
                if (Pos == Length) return;
                const uint8 Character = Chunk[Pos];
                if (Character == '\n') CountLines(Pos, Pos + 1);
                Pos++;
                TokenDone(Character);
                return;
            }
            default: {
                const uint8 *Quote = static_cast<const uint8 *>(memchr(Chunk + Pos, X->Quote, (size_t)(Length - Pos)));
                const int32 End = Quote != nullptr ? (int32)(Quote - Chunk) : Length;
                CountLines(Pos, End);
                Append(Pos, End);
                Pos = End;
                if (Quote == nullptr) return;
                Pos++;
                TokenDone(X->Quote);
                return;
            }
        }
    }

    void TokenDone(uint8 Ending) {
        X->TokenState = XmlTokenBlank;
        {
            Collected Token(X->Value);
            switch (X->ScanState) {
                case XmlTagName: TagName(Token.Text, Token.Length, Ending); break;
                case XmlAttributeName: AttributeName(Token.Text, Token.Length, Ending); break;
                default: AttributeValue(Token.Text, Token.Length, Ending); break;
            }
        }
        MemoryStream_DiscardAll(X->Value);
    }

    void TagName(char *Name, int32 NameLength, uint8 Ending) {
        if (NameLength > 0 && Name[0] == '/') {
            CloseLevel(Name + 1, NameLength - 1);
            // Words after the name of a closing tag are passed over.
            X->Closing = Ending != '>';
            X->ScanState = Ending == '>' ? XmlContent : XmlAttributeName;
            return;
        }
        const bool SelfClosing = NameLength > 0 && Name[NameLength - 1] == '/';
        while (NameLength > 0 && Name[NameLength - 1] == '/') Name[--NameLength] = 0;
        X->Element = !(NameLength > 0 && (Name[0] == '!' || Name[0] == '?'));
        if (!OpenLevel(Name, NameLength)) return;
        if (SelfClosing) {
            PopLevel();
            X->ScanState = Ending == '>' ? XmlContent : XmlAttributeName;
            X->Closing = Ending != '>';
            return;
        }
        if (Ending != '>') {
            X->ScanState = XmlAttributeName;
        } else if (X->Element) {
            X->ScanState = XmlContent;
        } else {
            PopLevel();
            X->ScanState = XmlOutside;
        }
    }

    void AttributeName(char *Token, int32 TokenLength, uint8 Ending) {
        if (X->Closing) {
            if (Ending == '>') {
                X->Closing = 0;
                X->ScanState = XmlContent;
            }
            return;
        }
        if (Ending == '=') {
            X->Attribute[0] = 0;
            if (TokenLength > 0 && NameFits(Token, TokenLength, TokenLength + 1) && TokenLength <= MaxNameLength) {
                X->Attribute[0] = '-';
                memcpy(X->Attribute + 1, Token, (size_t)TokenLength + 1);
            }
            X->ScanState = XmlAttributeValue;
            return;
        }
        if (Ending != '>') {
            RaiseWord(XML_KIND_ATTRIBUTE, Token, TokenLength);
            return;
        }
        if (!X->Element) {
            // "?" of "?>", "--" of a comment's end: the declaration's last word.
            RaiseWord(XML_KIND_DECLARATION_END, Token, TokenLength);
            PopLevel();
            X->ScanState = XmlOutside;
            return;
        }
        const bool Closes = TokenLength > 0 && Token[TokenLength - 1] == '/';
        RaiseWord(XML_KIND_ATTRIBUTE, Token, Closes ? TokenLength - 1 : TokenLength);
        if (Closes) PopLevel();
        X->ScanState = XmlContent;
    }

    void AttributeValue(char *Token, int32 TokenLength, uint8 Ending) {
        if (X->Attribute[0] != 0) {
            TokenLength = DecodeReferences(Token, TokenLength);
            Token[TokenLength] = 0;
            Raise(XML_KIND_TEXT, X->Attribute, Token, TokenLength, nullptr, nullptr);
        }
        X->Attribute[0] = 0;
        if (Ending != '>') {
            X->ScanState = XmlAttributeName;
        } else if (X->Element) {
            // An unquoted value right before ">" leaves the element without
            // content: its text is passed over.
            X->ScanState = XmlOutside;
        } else {
            PopLevel();
            X->ScanState = XmlOutside;
        }
    }
};

int32 ScanStream(XML *Xml, StreamStruct *Stream, int32 *Count) {
    *Count = 0;
    if (Xml->LastError != XML_ERROR_NONE) return FALSE;
    int64 Length = 0;
    Stream_Length(Stream, &Length);
    if (Length <= 0) {
        XmlInternal_Fail(Xml, XML_ERROR_ZEROLENGTH, "Input has zero length [@ %d:%d]", Xml->Line,
                         (int32)(Xml->CharCount - Xml->LineStart + 1));
        return FALSE;
    }
    uint8 Chunk[ChunkSize];
    int64 Consumed = 0;
    for (;;) {
        const int64 Remaining = Length - Consumed;
        const uint32 Want = Remaining < ChunkSize ? (uint32)Remaining : (uint32)ChunkSize;
        uint32 Got = 0;
        const int32 Read = Stream_Read(Stream, Chunk, Want, &Got);
        if (Got == 0) return FALSE;
        if (Got > Want) Got = Want;
        Scanner Scan(Xml, Chunk, (int32)Got);
        Scan.Process();
        Consumed += Scan.Consumed();
        *Count = Consumed < INT32_MAX ? (int32)Consumed : INT32_MAX;
        if (Xml->LastError != XML_ERROR_NONE) return FALSE;
        if (Consumed >= Length) return TRUE;
        if (!Read) return FALSE;
    }
}

} // namespace

int32 XML_Scan(XML *Handle, StreamStruct *Stream, int32 *Count) {
    XML_Check(Handle);
    Debug_CheckPointer(Stream);
    Debug_CheckPointer(Count);
    return ScanStream(Handle, Stream, Count);
}

int32 XML_LoadStream(XML *Handle, StreamStruct *Stream) {
    XML_Check(Handle);
    Debug_CheckPointer(Stream);
    XML_Reset(Handle);
    int32 Count = 0;
    while (ScanStream(Handle, Stream, &Count)) {
    }
    if (Stream_HasError(Stream)) return FALSE;
    if (Handle->LastError != XML_ERROR_NONE) {
        Stream_SetLastError(Stream, Handle->LastError);
        return FALSE;
    }
    return TRUE;
}

int32 XML_LoadBuffer(XML *Handle, const void *Bytes, int32 Size) {
    XML_Check(Handle);
    return DocumentStream_LoadBuffer(Bytes, Size,
                                     [Handle](StreamStruct *Record) { return XML_LoadStream(Handle, Record); });
}

int32 XML_LoadStringV(XML *Handle, const char *Format, va_list Arguments) {
    XML_Check(Handle);
    return DocumentStream_LoadPrinted(
        Format, Arguments, [Handle](const char *Text, int32 Length) { return XML_LoadBuffer(Handle, Text, Length); });
}

int32 XML_LoadString(XML *Handle, const char *Format, ...) {
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = XML_LoadStringV(Handle, Format, Arguments);
    va_end(Arguments);
    return Result;
}
