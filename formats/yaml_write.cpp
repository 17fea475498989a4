// YAML writer: a Dictionary as block YAML, two blanks per level.
//
// Output goes through a 4,096-byte staging buffer handed to the stream whole;
// a write that fails or takes fewer bytes than given fails the save.
//
// Every String and key is written so that both our reader and other YAML
// readers give back the same text: it is double-quoted whenever a plain
// scalar would read as something else (another type, a comment, a key, an
// indicator, cut blanks) or when it holds a character that must be escaped.
// Inside double quotes, quote, backslash, control characters, DEL, C1
// controls, line and paragraph separators and noncharacters are escaped;
// everything else, text above U+FFFF included, is written as UTF-8 (an
// escaped surrogate pair would read back as two lone halves elsewhere).
// Bytes that are not UTF-8 are written as U+FFFD.
//
// Empty collections are written in flow form ("[]", "{}"), which reads back
// as the same empty collection. A key the Dictionary holds as private (its
// "." or "#" taken off when read) is written with a "." again. Number texts that do not read back as
// numbers (NaN, Inf) are written as null.
#include <string.h>

#include <new>

#include "formats/yaml.h"
#include "formats/yaml_internal.h"
#include "runtime/documents/document_stage.h"
#include "runtime/documents/document_stream.h"
#include "runtime/memory.h"
#include "runtime/text/unicode_codec.h"

namespace {

constexpr int32 IndentWidth = 2;

bool IsBreakOrBlank(char Character) {
    return Character == ' ' || Character == '\t' || Character == '\n' || Character == '\r';
}

bool IsDigit(char Character) { return Character >= '0' && Character <= '9'; }

// Whether a character at Text must be escaped inside double quotes; Length
// receives its byte count.
bool NeedsEscape(const char *Text, int32 Available, int32 *Length, uint32 *CodePoint) {
    const uint8 Byte = (uint8)Text[0];
    if (Byte < 0x80) {
        *Length = 1;
        *CodePoint = Byte;
        return Byte < 0x20 || Byte == 0x7F || Byte == '"' || Byte == '\\';
    }
    bool Valid = false;
    *Length = unicode::DecodeUtf8(reinterpret_cast<const uint8 *>(Text), (size_t)Available, CodePoint, &Valid);
    if (!Valid) return true;
    const uint32 Code = *CodePoint;
    return Code <= 0x9F || Code == 0x2028 || Code == 0x2029 || Code == 0xFEFF || Code == 0xFFFE || Code == 0xFFFF;
}

bool WordWithoutCase(const char *Text, int32 Length, const char *Word) {
    const int32 WordLength = (int32)strlen(Word);
    if (Length != WordLength) return false;
    for (int32 i = 0; i < Length; i++) {
        char Character = Text[i];
        if (Character >= 'A' && Character <= 'Z') Character = (char)(Character - 'A' + 'a');
        if (Character != Word[i]) return false;
    }
    return true;
}

// Whether a text must be written in double quotes.
bool NeedsQuotes(const char *Text, int32 Length) {
    if (Length == 0) return true;
    if (IsBreakOrBlank(Text[0]) || IsBreakOrBlank(Text[Length - 1])) return true;
    // Indicators, and what starts a number, a date or a sign.
    if (strchr("-?:,[]{}#&*!|>'\"%@`+.<=~", Text[0]) != nullptr || IsDigit(Text[0])) return true;
    if (Text[Length - 1] == ':') return true;
    static const char *const Words[] = {"null", "true", "false", "yes", "no", "on", "off"};
    for (const char *Word : Words)
        if (WordWithoutCase(Text, Length, Word)) return true;
    for (int32 i = 0; i < Length;) {
        const char Character = Text[i];
        if (Character == '#' || Character == '\'') return true;
        if (Character == ':' && i + 1 < Length && IsBreakOrBlank(Text[i + 1])) return true;
        int32 Bytes = 1;
        uint32 CodePoint = 0;
        if (NeedsEscape(Text + i, Length - i, &Bytes, &CodePoint)) return true;
        i += Bytes;
    }
    return false;
}

// Decimal, 0x or 0o text as the reader types it as a number outside flow
// collections.
bool IsNumberText(const char *Text, int32 Length) {
    int32 i = 0;
    if (Length > 0 && (Text[0] == '-' || Text[0] == '+')) i++;
    if (Length - i >= 3 && Text[i] == '0' && (Text[i + 1] == 'x' || Text[i + 1] == 'o')) {
        for (int32 j = i + 2; j < Length; j++) {
            const char c = Text[j];
            const bool Ok = Text[i + 1] == 'x' ? (IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))
                                               : (c >= '0' && c <= '7');
            if (!Ok) return false;
        }
        return true;
    }
    int32 Digits = 0, Points = 0;
    for (; i < Length && (IsDigit(Text[i]) || Text[i] == '.'); i++) {
        if (Text[i] == '.')
            Points++;
        else
            Digits++;
    }
    if (Digits == 0 || Points > 1) return false;
    if (i < Length && (Text[i] == 'e' || Text[i] == 'E')) {
        i++;
        if (i < Length && (Text[i] == '+' || Text[i] == '-')) i++;
        const int32 Start = i;
        while (i < Length && IsDigit(Text[i])) i++;
        if (i == Start) return false;
    }
    return i == Length;
}

class Writer : public DocumentStage {
  public:
    explicit Writer(StreamStruct *Stream) : DocumentStage(Stream) {}

    // The members of Container at Level. A top-level value without a key
    // (the document's unnamed item) writes its members at the same level;
    // deeper in a mapping, a collection without a key is written under the
    // empty key, since a mapping cannot hold it otherwise.
    void Members(Dictionary *Container, int32 Level, bool InList, bool Top = false) {
        DictionaryItem *Item = nullptr;
        for (int32 Have = Dictionary_ItemGetFirst(Container, &Item); Have && !Failed;
             Have = Dictionary_ItemGetNext(Container, Item, &Item)) {
            int32 Type = DICTIONARY_TYPE_UNKNOWN;
            Dictionary_ItemGetType(Container, Item, &Type);
            Dictionary *Child = nullptr;
            const bool IsCollection = Type == DICTIONARY_TYPE_LIST || Type == DICTIONARY_TYPE_DICTIONARY;
            int32 Count = 0;
            if (IsCollection && Dictionary_ItemGetDictionaryHandle(Container, Item, &Child))
                Dictionary_ItemGetCount(Child, &Count);
            const bool ChildIsList = Type == DICTIONARY_TYPE_LIST;
            const char *Key = nullptr;
            bool Keyed = !InList && Dictionary_ItemGetKeyPtr(Container, Item, &Key) && Key != nullptr;
            // A collection without a key, even an empty one, written bare
            // in a mapping would read back as a member of the mapping's
            // parent (or turn the mapping into a list).
            if (!Keyed && !InList && IsCollection && (Count > 0 || !Top)) {
                if (Top) {
                    Members(Child, Level, ChildIsList);
                    continue;
                }
                Key = "";
                Keyed = true;
            }
            Indent(Level);
            if (Keyed) {
                // A key whose "." or "#" the Dictionary took off when it was
                // read gets its mark back, as the JSON writer gives it.
                uint32 Private = 0;
                Dictionary_ItemGetPrivate(Container, Item, &Private);
                Text(Key, (int32)strlen(Key), Private != 0);
                Put(':');
                if (Count > 0) {
                    Put('\n');
                    Members(Child, Level + 1, ChildIsList);
                    continue;
                }
                Put(' ');
            } else if (InList) {
                if (Count > 0) {
                    Put("-\n", 2);
                    Members(Child, Level + 1, ChildIsList);
                    continue;
                }
                Put("- ", 2);
            }
            if (IsCollection)
                Put(ChildIsList ? "[]" : "{}", 2);
            else
                Scalar(Container, Item, Type, !Keyed && !InList);
            Put('\n');
        }
    }

  private:
    void Indent(int32 Level) {
        for (int32 i = 0; i < Level * IndentWidth; i++) Put(' ');
    }

    // PrivateMark puts "." before the text, which then always needs quotes.
    void Text(const char *Text, int32 Length, bool PrivateMark = false) {
        if (!PrivateMark && !NeedsQuotes(Text, Length)) {
            Put(Text, Length);
            return;
        }
        Put('"');
        if (PrivateMark) Put('.');
        int32 Plain = 0;
        for (int32 i = 0; i < Length;) {
            int32 Bytes = 1;
            uint32 CodePoint = 0;
            if (!NeedsEscape(Text + i, Length - i, &Bytes, &CodePoint)) {
                i += Bytes;
                continue;
            }
            Put(Text + Plain, i - Plain);
            Escape(Text[i], CodePoint);
            i += Bytes;
            Plain = i;
        }
        Put(Text + Plain, Length - Plain);
        Put('"');
    }

    void Escape(char First, uint32 CodePoint) {
        switch (First) {
            case '"': Put("\\\"", 2); return;
            case '\\': Put("\\\\", 2); return;
            case '\n': Put("\\n", 2); return;
            case '\t': Put("\\t", 2); return;
            case '\r': Put("\\r", 2); return;
            default: break;
        }
        static const char Digits[] = "0123456789ABCDEF";
        const char Escaped[6] = {'\\', 'u', Digits[(CodePoint >> 12) & 15], Digits[(CodePoint >> 8) & 15],
                                 Digits[(CodePoint >> 4) & 15], Digits[CodePoint & 15]};
        Put(Escaped, 6);
    }

    // LineStart: the scalar stands at the start of its line (a member
    // without a key), where a plain "-5" would read as a broken entry; such
    // a number is written quoted and reads back as its text.
    void Scalar(Dictionary *Container, DictionaryItem *Item, int32 Type, bool LineStart) {
        const char *Value = nullptr;
        int32 Length = 0;
        switch (Type) {
            case DICTIONARY_TYPE_BOOLEAN: {
                uint32 Flag = 0;
                Dictionary_ItemGetBoolean(Container, Item, &Flag);
                if (Flag)
                    Put("true", 4);
                else
                    Put("false", 5);
                return;
            }
            case DICTIONARY_TYPE_INT64:
            case DICTIONARY_TYPE_FLOAT64:
                if (!Dictionary_ItemGetBufferPtr(Container, Item, &Value, &Length) || Value == nullptr ||
                    !IsNumberText(Value, Length))
                    Put("null", 4);
                else if (LineStart && Value[0] == '-')
                    Text(Value, Length);
                else
                    Put(Value, Length);
                return;
            case DICTIONARY_TYPE_STRING:
                if (!Dictionary_ItemGetBufferPtr(Container, Item, &Value, &Length) || Value == nullptr) Length = 0;
                Text(Value != nullptr ? Value : "", Length);
                return;
            default: Put("null", 4); return;
        }
    }
};

} // namespace

int32 YAML_SaveStream(YAML *Handle, StreamStruct *Stream) {
    YAML_Check(Handle);
    Debug_CheckPointer(Stream);
    if (Handle->Dict == nullptr) return FALSE;
    int32 Count = 0;
    Dictionary_ItemGetCount(Handle->Dict, &Count);
    if (Count == 0) return FALSE;
    // The staging buffer is too large for small thread stacks.
    Writer *Out = new (Memory_Alloc((int32)sizeof(Writer))) Writer(Stream);
    Out->Members(Handle->Dict, 0, false, true);
    const bool Written = Out->Ok() && Out->Flush();
    Out->~Writer();
    Memory_Free(Out, (int32)sizeof(Writer));
    return Written;
}

int32 YAML_SaveBuffer(YAML *Handle, void *Buffer, int32 Capacity, int32 *Written) {
    YAML_Check(Handle);
    return DocumentStream_SaveBuffer(Buffer, Capacity, Written,
                                     [Handle](StreamStruct *Stream) { return YAML_SaveStream(Handle, Stream); });
}

int32 YAML_SaveBufferEstimate(YAML *Handle, int32 *Size) {
    YAML_Check(Handle);
    return DocumentStream_SaveEstimate(Size,
                                       [Handle](StreamStruct *Stream) { return YAML_SaveStream(Handle, Stream); });
}
