// JSON writer: a Dictionary as JSON text, minified or indented by four blanks
// per level.
//
// Output goes through a 4,096-byte staging buffer handed to the stream whole;
// a stream write that fails or takes fewer bytes than given fails the save
// (a fixed buffer one byte short must not report a cut document as written).
// Text is escaped by the print engine's %js, so writer and format strings
// agree on escapes; NUL bytes inside a String item are written as \u0000.
//
// What JSON cannot carry is made valid rather than copied: a number text that
// is not a number (NaN, Inf, empty) and items of type Unknown are written as
// null; number texts in the lenient forms the reader accepts (+1, .5, 00) are
// written in standard form; keys of List members are not written; a key
// whose bytes are not all UTF-8 is cut where its read-back form would pass
// the Dictionary's key limit.
#include <string.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <array>
#include <new>

#include "runtime/containers/dictionary_internal.h"
#include "runtime/documents/document_stage.h"
#include "runtime/documents/document_stream.h"
#include "runtime/documents/json.h"
#include "runtime/documents/json_internal.h"
#include "runtime/memory.h"
#include "runtime/streams/memory_stream.h"
#include "runtime/text/string_print.h"
#include "runtime/text/unicode_codec.h"

namespace {

constexpr int32 IndentWidth = 4;
// The most bytes the %js form gives one byte of text: a control byte, or a
// byte that is not UTF-8, as \u00XX or \uFFFD.
constexpr int64 MaxEscapeGrowth = 6;

constexpr auto PlainBytes = [] {
    std::array<bool, 256> Table{};
    for (int32 Byte = 0x20; Byte < 0x7F; Byte++) Table[Byte] = Byte != '"' && Byte != '\\';
    return Table;
}();

bool IsDigit(char Character) { return Character >= '0' && Character <= '9'; }

// The length of the run of plain bytes (see PlainBytes) at the start of a
// text; sixteen bytes are looked at a time where they can be.
#if defined(__SSE2__)
// One bit per byte of the sixteen given that is not plain.
inline uint32 SpecialMask(__m128i Bytes) {
    const __m128i Space = _mm_set1_epi8(0x20), Delete = _mm_set1_epi8(0x7F);
    const __m128i Quote = _mm_set1_epi8('"'), Backslash = _mm_set1_epi8('\\');
    // Signed, bytes from 0x80 up are below the blank too.
    const __m128i Special =
        _mm_or_si128(_mm_or_si128(_mm_cmplt_epi8(Bytes, Space), _mm_cmpeq_epi8(Bytes, Delete)),
                     _mm_or_si128(_mm_cmpeq_epi8(Bytes, Quote), _mm_cmpeq_epi8(Bytes, Backslash)));
    return (uint32)_mm_movemask_epi8(Special);
}

// The sixteen bytes at At, of which only the first few belong to the text.
// The load stays inside At's page (the caller checks), so it cannot fault;
// the bytes past the text are masked off by the caller, whatever they hold.
__attribute__((no_sanitize("address", "thread"))) __m128i LoadInPage(const char *At) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(At));
}
#endif

inline int32 PlainRun(const char *Text, int32 Length) {
    int32 Plain = 0;
#if defined(__SSE2__)
    for (; Plain + 16 <= Length; Plain += 16) {
        const uint32 Mask = SpecialMask(_mm_loadu_si128(reinterpret_cast<const __m128i *>(Text + Plain)));
        if (Mask != 0) return Plain + __builtin_ctz(Mask);
    }
    // Keys and short values end here: their rest is looked at in one load
    // when it does not reach into the next page.
    constexpr uintptr PageSize = 4096;
    if (Plain < Length && ((uintptr)(Text + Plain) & (PageSize - 1)) <= PageSize - 16) {
        const uint32 Mask = SpecialMask(LoadInPage(Text + Plain)) | (~0u << (Length - Plain));
        return Plain + __builtin_ctz(Mask);
    }
#endif
    while (Plain < Length && PlainBytes[(uint8)Text[Plain]]) Plain++;
    return Plain;
}

// The bytes of a key to write. A key holds at most the Dictionary's 119
// bytes, but each byte of it that is not UTF-8 is written as U+FFFD, three
// bytes when read back, which can take it past the reader's key limit. The
// key is cut, at a character, where its read-back form would pass 119
// bytes: the Dictionary reading it back cuts it there anyway.
int32 KeyBytes(const char *Key, int32 Length) {
    constexpr int32 Limit = DICTIONARY_MAX_KEY_LENGTH;
    if (Length * 3 <= Limit) return Length;
    int32 Decoded = 0, At = 0;
    while (At < Length) {
        uint32 CodePoint = 0;
        bool Valid = false;
        const int32 Bytes =
            unicode::DecodeUtf8(reinterpret_cast<const uint8 *>(Key) + At, (size_t)(Length - At), &CodePoint, &Valid);
        const int32 Grows = Valid ? Bytes : 3;
        if (Decoded + Grows > Limit) break;
        Decoded += Grows;
        At += Bytes;
    }
    return At;
}

// A number text already in standard JSON form, written as it is:
// -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
bool IsStandardNumber(const char *Text, int32 Length) {
    const char *At = Text, *End = Text + Length;
    if (At < End && *At == '-') At++;
    if (At == End) return false;
    if (*At == '0') {
        At++;
    } else {
        if (!IsDigit(*At)) return false;
        while (At < End && IsDigit(*At)) At++;
    }
    if (At < End && *At == '.') {
        const char *Digits = ++At;
        while (At < End && IsDigit(*At)) At++;
        if (At == Digits) return false;
    }
    if (At < End && (*At == 'e' || *At == 'E')) {
        At++;
        if (At < End && (*At == '+' || *At == '-')) At++;
        const char *Digits = At;
        while (At < End && IsDigit(*At)) At++;
        if (At == Digits) return false;
    }
    return At == End;
}

class Writer : public DocumentStage {
  public:
    Writer(StreamStruct *Stream, bool Minify, bool PrivateKeys)
        : DocumentStage(Stream), Minify(Minify), PrivateKeys(PrivateKeys) {}

    // The tree is walked through its records directly (with the checks a
    // walk makes), not through the per-item getters: a save visits every
    // item once and the calls would cost as much as the writing.
    bool Items(Dictionary *Container, int32 Level, bool InList) {
        Dictionary_CheckHandle(Container);
        Dictionary_CheckList(Container);
        // In a short container a nested container is most often the last
        // member: its record is asked for now, so that it arrives while the
        // members before it are written. (In a long one, reading the last
        // member this early costs more than the walk waits for the child.)
        if (const DictionaryItem *Last = Container->Items.Last;
            Container->Items.Count <= 4 && Last != nullptr && Last->Child != nullptr) {
            __builtin_prefetch(Last->Child);
            __builtin_prefetch(&Last->Child->Items);
        }
        for (DictionaryItem *Item = Container->Items.First; Item != nullptr && !Failed; Item = Item->Next) {
            Dictionary_CheckItem(Item);
            if (!InList && Item->Key != nullptr) {
                if (!Minify) Indent(Level);
                Put('"');
                if (PrivateKeys && (Item->Flags & DictionaryPrivateFlag) && DictionaryInt_GetPrivate(Container, Item))
                    Put('.');
                Escaped(Item->Key, KeyBytes(Item->Key, Item->KeyLength));
                PutShort("\":", 2);
                if (!Minify) Put(' ');
            }
            if (InList && !Minify) Indent(Level);
            Value(Container, Item, Level);
            if (Item->Next != nullptr) Put(',');
            if (!Minify) Put('\n');
        }
        return !Failed;
    }

    static int32 Collect(void *User, const char *Text, int32 Length, uint32 *Written) {
        static_cast<Writer *>(User)->Put(Text, Length);
        if (Written != nullptr) *Written = (uint32)Length;
        return TRUE;
    }

  private:
    bool Minify;
    bool PrivateKeys;

    void Indent(int32 Level) {
        static const char Blanks[] = "                                ";
        for (int32 Count = Level * IndentWidth; Count > 0;) {
            const int32 Piece = Count < (int32)sizeof(Blanks) - 1 ? Count : (int32)sizeof(Blanks) - 1;
            Put(Blanks, Piece);
            Count -= Piece;
        }
    }

    // Printable ASCII without quote or backslash is what %js leaves as it
    // is, so such a text is copied directly. Any other text takes its %js
    // form, escaped straight into the staging buffer when it fits there;
    // %js itself reads up to a terminator, so a longer text goes through it
    // in pieces between its NUL bytes.
    [[gnu::always_inline]] void Escaped(const char *Text, int32 Length) {
        const int32 Plain = PlainRun(Text, Length);
        PutShort(Text, Plain);
        if (Plain != Length) EscapedRest(Text + Plain, Length - Plain);
    }

    // The rest of a text from its first byte that is not plain.
    [[gnu::noinline]] void EscapedRest(const char *Text, int32 Length) {
        const uint8 *Bytes = reinterpret_cast<const uint8 *>(Text);
        // A text whose longest form fits the staging buffer is escaped there
        // in one pass, without measuring it first.
        if ((int64)Length * MaxEscapeGrowth <= StageSize) {
            if ((int64)Length * MaxEscapeGrowth > StageSize - Used && !Flush()) return;
            Used = (int32)(StringPrint_JsonEscape(Bytes, Length, Stage + Used) - Stage);
            return;
        }
        const int64 Needed = StringPrint_JsonEscapedLength(Bytes, Length);
        if (Needed <= StageSize) {
            if (Needed > StageSize - Used && !Flush()) return;
            StringPrint_JsonEscape(Bytes, Length, Stage + Used);
            Used += (int32)Needed;
            return;
        }
        const char *End = Text + Length;
        while (Text < End && !Failed) {
            const char *Nul = static_cast<const char *>(memchr(Text, 0, (size_t)(End - Text)));
            if (Nul != Text) String_PrintFormat("%js", this, Collect, Text);
            if (Nul == nullptr) break;
            Put("\\u0000", 6);
            Text = Nul + 1;
        }
    }

    // Standard JSON form of a number text in any form the reader accepts
    // (sign, digits, point, exponent); null for anything else.
    void Number(const char *Text, int32 Length) {
        if (IsStandardNumber(Text, Length)) {
            PutShort(Text, Length);
            return;
        }
        int32 i = 0;
        const bool Negative = Length > 0 && Text[0] == '-';
        if (Length > 0 && (Text[0] == '-' || Text[0] == '+')) i++;
        const int32 IntegerStart = i;
        while (i < Length && IsDigit(Text[i])) i++;
        const int32 IntegerEnd = i;
        int32 FractionStart = i, FractionEnd = i;
        if (i < Length && Text[i] == '.') {
            FractionStart = ++i;
            while (i < Length && IsDigit(Text[i])) i++;
            FractionEnd = i;
        }
        const int32 ExponentStart = i;
        bool Valid = IntegerEnd > IntegerStart || FractionEnd > FractionStart;
        if (Valid && i < Length && (Text[i] == 'e' || Text[i] == 'E')) {
            i++;
            if (i < Length && (Text[i] == '+' || Text[i] == '-')) i++;
            const int32 DigitsStart = i;
            while (i < Length && IsDigit(Text[i])) i++;
            Valid = i > DigitsStart;
        }
        if (!Valid || i != Length) {
            Put("null", 4);
            return;
        }
        if (Negative) Put('-');
        int32 Integer = IntegerStart;
        while (Integer < IntegerEnd - 1 && Text[Integer] == '0') Integer++;
        if (Integer < IntegerEnd)
            Put(Text + Integer, IntegerEnd - Integer);
        else
            Put('0');
        if (FractionEnd > FractionStart) {
            Put('.');
            Put(Text + FractionStart, FractionEnd - FractionStart);
        }
        Put(Text + ExponentStart, Length - ExponentStart);
    }

    void Value(Dictionary *Container, DictionaryItem *Item, int32 Level) {
        (void)Container;
        const int32 Type = DictionaryInt_Type(Item);
        const char *Text = nullptr;
        switch (Type) {
            case DICTIONARY_TYPE_BOOLEAN:
                if (Item->Flags & DictionaryBooleanFlag)
                    PutShort("true", 4);
                else
                    PutShort("false", 5);
                break;
            // The stored bytes are the text form of numbers and Strings.
            case DICTIONARY_TYPE_INT64:
            case DICTIONARY_TYPE_FLOAT64:
                Text = Item->Value;
                Number(Text != nullptr ? Text : "", Text != nullptr ? Item->ValueLength : 0);
                break;
            case DICTIONARY_TYPE_STRING:
                Text = Item->Value;
                Put('"');
                if (Text != nullptr) Escaped(Text, Item->ValueLength);
                Put('"');
                break;
            case DICTIONARY_TYPE_LIST:
            case DICTIONARY_TYPE_DICTIONARY: {
                const bool IsList = Type == DICTIONARY_TYPE_LIST;
                Put(IsList ? '[' : '{');
                if (!Minify) Put('\n');
                if (Item->Child != nullptr) Items(Item->Child, Level + 1, IsList);
                if (!Minify) Indent(Level);
                Put(IsList ? ']' : '}');
                break;
            }
            default: Put("null", 4); break;
        }
    }
};

} // namespace

int32 JSON_SaveStream(JSON *Handle, StreamStruct *Stream) {
    JSON_Check(Handle);
    Debug_CheckPointer(Stream);
    if (Handle->Dict == nullptr) return FALSE;
    int32 Count = 0;
    Dictionary_ItemGetCount(Handle->Dict, &Count);
    if (Count == 0) return FALSE;
    // The staging buffer is too large for small thread stacks.
    Writer *Out = static_cast<Writer *>(Memory_Alloc((int32)sizeof(Writer)));
    new (Out) Writer(Stream, Handle->Minify != 0, Handle->PrivateKeys != 0);
    const bool Written = Out->Items(Handle->Dict, 0, false) && Out->Flush();
    Out->~Writer();
    Memory_Free(Out, (int32)sizeof(Writer));
    return Written;
}

int32 JSON_SaveBuffer(JSON *Handle, void *Buffer, int32 Capacity, int32 *Written) {
    JSON_Check(Handle);
    return DocumentStream_SaveBuffer(Buffer, Capacity, Written,
                                     [Handle](StreamStruct *Stream) { return JSON_SaveStream(Handle, Stream); });
}

int32 JSON_SaveBufferEstimate(JSON *Handle, int32 *Size) {
    JSON_Check(Handle);
    return DocumentStream_SaveEstimate(Size,
                                       [Handle](StreamStruct *Stream) { return JSON_SaveStream(Handle, Stream); });
}

int32 JSON_SaveMinifiedText(Dictionary *Root, std::string &Text) {
    Text.clear();
    JSON *Writer = nullptr;
    JSON_Create(&Writer);
    JSON_SetDictionaryHandle(Writer, Root);
    JSON_SetMinify(Writer, TRUE);
    // One pass into a stream that grows, rather than a pass to measure and
    // another to write.
    MemoryStream *Out = nullptr;
    MemoryStream_Create(&Out);
    MemoryStream_SetAutoGrow(Out, TRUE);
    StreamStruct *Stream = nullptr;
    MemoryStream_GetStreamHandle(Out, &Stream);
    const int32 Saved = JSON_SaveStream(Writer, Stream);
    if (Saved) {
        const char *Written = nullptr;
        MemoryStream_GetPointer(Out, &Written);
        if (Written != nullptr) Text.assign(Written, (size_t)MemoryStream_GetUsed(Out));
        MemoryStream_ReleasePointer(Out, &Written);
    }
    MemoryStream_Delete(&Out);
    JSON_Delete(&Writer);
    return Saved;
}
