// The format engine and its buffer wrappers.
//
// The engine parses one conversion at a time, converts numbers, characters and
// addresses in a fixed area on its own stack, and passes strings to the
// callback straight from the argument; only UTF-16 or wide arguments, %S and
// %js texts that need escaping go through a temporary copy (on the stack when
// short, from the runtime allocator otherwise). Blank padding is written one
// callback call per blank, so that the end-of-format flag can mark the exact
// last piece.
#include "runtime/text/string_print.h"

#include <string.h>

#include <algorithm>
#include <charconv>

#include "runtime/class.h"
#include "runtime/debug.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/text/string_print_float.h"
#include "runtime/text/unicode.h"
#include "runtime/text/unicode_codec.h"

namespace {

// Conversion types of the format table.
enum : uint8 {
    STRINGFORMAT_TYPEUNKNOWN = 0,
    STRINGFORMAT_TYPEINTEGER = 1,
    STRINGFORMAT_TYPEFIXED = 2,
    STRINGFORMAT_TYPEEXPONENT = 3,
    STRINGFORMAT_TYPEGENERAL = 4,
    STRINGFORMAT_TYPESTRING = 5,
    STRINGFORMAT_TYPEJSON = 6,
    STRINGFORMAT_TYPEPERCENT = 7,
    STRINGFORMAT_TYPECHARACTER = 8,
    STRINGFORMAT_TYPEPOINTER = 9,
    STRINGFORMAT_TYPEORDINAL = 10,
    STRINGFORMAT_TYPEIPV4 = 11,
};

// Row flags: a sign character may be produced; precision is not capped.
constexpr uint8 RowSigned = 0x1;
constexpr uint8 RowString = 0x2;

struct FormatRow {
    char Char;
    uint8 Radix;
    uint8 Flags;
    uint8 Type;
    // Integers: offset of the digits in DigitText (0 upper, 16 lower case);
    // floats: index of the exponent letter in DigitText; S and C: 1 = upper-case.
    uint8 Aux;
    uint8 Prefix;  // offset into GlobalStringConversionPrefix
};

// Searched in this order by the conversion character.
constexpr FormatRow GlobalStringFormatTypes[21] = {
    {'d', 10, RowSigned, STRINGFORMAT_TYPEINTEGER, 0, 0},
    {'s', 0, RowString, STRINGFORMAT_TYPESTRING, 0, 0},
    {'g', 0, RowSigned, STRINGFORMAT_TYPEGENERAL, 30, 0},
    {'c', 0, 0, STRINGFORMAT_TYPECHARACTER, 0, 0},
    {'o', 8, 0, STRINGFORMAT_TYPEINTEGER, 0, 2},
    {'u', 10, 0, STRINGFORMAT_TYPEINTEGER, 0, 0},
    {'x', 16, 0, STRINGFORMAT_TYPEINTEGER, 16, 1},
    {'X', 16, 0, STRINGFORMAT_TYPEINTEGER, 0, 4},
    {'f', 0, RowSigned, STRINGFORMAT_TYPEFIXED, 0, 0},
    {'e', 0, RowSigned, STRINGFORMAT_TYPEEXPONENT, 30, 0},
    {'E', 0, RowSigned, STRINGFORMAT_TYPEEXPONENT, 14, 0},
    {'G', 0, RowSigned, STRINGFORMAT_TYPEGENERAL, 14, 0},
    {'i', 10, RowSigned, STRINGFORMAT_TYPEINTEGER, 0, 0},
    {'%', 0, 0, STRINGFORMAT_TYPEPERCENT, 0, 0},
    {'p', 16, 0, STRINGFORMAT_TYPEPOINTER, 16, 1},
    {'r', 10, RowSigned, STRINGFORMAT_TYPEORDINAL, 0, 0},
    {'v', 0, RowString, STRINGFORMAT_TYPEIPV4, 0, 0},
    {'S', 0, RowString, STRINGFORMAT_TYPESTRING, 1, 0},
    {'C', 0, 0, STRINGFORMAT_TYPECHARACTER, 1, 0},
    {'j', 0, RowString, STRINGFORMAT_TYPEJSON, 0, 0},
    {'a', 0, 0, STRINGFORMAT_TYPECHARACTER, 2, 0},
};
constexpr const FormatRow &RowJson = GlobalStringFormatTypes[19];
constexpr const FormatRow &RowIpv4 = GlobalStringFormatTypes[16];

constexpr char DigitText[] = "0123456789ABCDEF0123456789abcdef";
// Prefix bytes are put in front one by one, so "x","0" reads "0x". Offsets 0,
// 3 and 6 mean no prefix.
constexpr char GlobalStringConversionPrefix[7] = {'-', 'x', '0', 0, 'X', '0', 0};

constexpr int32 MaxWidth = 340;
constexpr int32 MaxPrecision = 310;
// Numbers, characters and addresses are converted here. The largest text is a
// wide character repeated 310 times (6 bytes each); floats need FloatAreaSize.
constexpr int32 AreaSize = 2048;
static_assert(AreaSize >= print::FloatAreaSize && AreaSize >= MaxPrecision * 6 + 8);

struct Conversion {
    bool Left = false, Plus = false, Space = false, Bang = false, Hash = false, Zero = false;
    bool Wide = false, Is64 = false;
    int32 Width = 0;
    int32 Precision = -1;
    const FormatRow *Row = nullptr;
};

// A text copy that lives on the stack when short and in the runtime allocator
// otherwise; null when the allocation fails.
class TempText {
  public:
    TempText() = default;
    TempText(const TempText &) = delete;
    TempText &operator=(const TempText &) = delete;
    ~TempText() {
        if (Heap) Memory_Free(Heap, HeapSize);
    }
    char *Get(int64 Size) {
        if (Size <= (int64)sizeof(Inline)) return Inline;
        if (Size > INT32_MAX) return nullptr;
        HeapSize = (int32)Size;
        Heap = static_cast<char *>(Memory_Alloc(HeapSize));
        return Heap;
    }

  private:
    char Inline[256];
    char *Heap = nullptr;
    int32 HeapSize = 0;
};

int32 ClampLength(size_t Length) { return Length > (size_t)INT32_MAX ? INT32_MAX : (int32)Length; }

// Hands pieces to the callback with the first/last flags.
class Writer {
  public:
    Writer(void *User, String_WriteCallbackEx Callback) : User(User), Callback(Callback) {}

    void Piece(const char *Text, int32 Length, bool Last) {
        const uint32 Flags = (FirstDone ? 0 : STRING_WRITE_FIRST) | (Last ? STRING_WRITE_LAST : 0);
        uint32 Written = 0;
        Callback(User, Flags, Text, Length, &Written);
    }

    // A converted text padded with blanks to the width, one call per blank.
    // At the end of the format the text and the blanks behind it carry LAST;
    // an empty text passes LAST to its last leading blank.
    void Converted(const char *Text, int32 Length, const Conversion &C, bool AtEnd) {
        const int32 Pad = C.Width > Length ? C.Width - Length : 0;
        if (!C.Left)
            for (int32 i = 0; i < Pad; i++) Piece(" ", 1, AtEnd && Length == 0 && i == Pad - 1);
        if (Length > 0 || (AtEnd && Pad == 0)) Piece(Text, Length, AtEnd);
        if (C.Left)
            for (int32 i = 0; i < Pad; i++) Piece(" ", 1, AtEnd);
        FirstDone = true;
    }

  private:
    void *User;
    String_WriteCallbackEx Callback;
    bool FirstDone = false;
};

const FormatRow *FindRow(char Char) {
    for (const FormatRow &Row : GlobalStringFormatTypes)
        if (Row.Char == Char) return &Row;
    return nullptr;
}

// Reads decimal digits, saturating far above every cap.
int32 ReadNumber(const char *&p) {
    int32 Value = 0;
    while (*p >= '0' && *p <= '9') {
        if (Value < 100000000) Value = Value * 10 + (*p - '0');
        p++;
    }
    return Value;
}

// Integers, pointers and ordinals, built from the least significant end of
// Area; Text receives where the converted text begins.
int32 FormatInteger(const Conversion &C, va_list *Arguments, char *Area, const char **Text) {
    const FormatRow &Row = *C.Row;
    const bool Signed = Row.Flags & RowSigned;
    uint64 Magnitude;
    bool Negative = false;
    if (Row.Type == STRINGFORMAT_TYPEPOINTER) {
        Magnitude = (uint64)(uintptr)va_arg(*Arguments, void *);
    } else if (C.Is64) {
        const uint64 Raw = va_arg(*Arguments, uint64);
        Negative = Signed && (int64)Raw < 0;
        Magnitude = Negative ? 0 - Raw : Raw;
    } else if (Signed) {
        const int64 Raw = va_arg(*Arguments, int32);
        Negative = Raw < 0;
        Magnitude = (uint64)(Negative ? -Raw : Raw);
    } else {
        Magnitude = va_arg(*Arguments, uint32);
    }
    const char Sign = !Signed ? 0 : Negative ? '-' : C.Plus ? '+' : C.Space ? ' ' : 0;

    char *const End = Area + AreaSize;
    char *p = End;
    if (Row.Type == STRINGFORMAT_TYPEORDINAL) {
        const uint64 Tens = Magnitude / 10 % 10, Last = Magnitude % 10;
        const char *Suffix = Tens == 1 || Last == 0 || Last > 3 ? "th" : Last == 1 ? "st" : Last == 2 ? "nd" : "rd";
        *--p = Suffix[1];
        *--p = Suffix[0];
    }
    const uint64 Value = Magnitude;
    const char *Digits = DigitText + Row.Aux;
    // Constant divisors per radix: a division by a variable costs far more.
    if (Row.Radix == 10) {
        do {
            *--p = Digits[Magnitude % 10];
            Magnitude /= 10;
        } while (Magnitude != 0);
    } else {
        const uint32 Shift = Row.Radix == 16 ? 4 : 3;
        do {
            *--p = Digits[Magnitude & (Row.Radix - 1)];
            Magnitude >>= Shift;
        } while (Magnitude != 0);
    }
    // "0" pads to the width even when left-justified (%-05d of 1 is 00001).
    int32 MinDigits = C.Precision;
    if (C.Zero) MinDigits = std::max(MinDigits, C.Width - (Sign ? 1 : 0));
    while (End - p < MinDigits) *--p = '0';
    if (Sign) *--p = Sign;
    if (C.Hash && Value != 0 && Row.Prefix != 0)
        for (int32 i = Row.Prefix; GlobalStringConversionPrefix[i] != 0; i++) *--p = GlobalStringConversionPrefix[i];
    *Text = p;
    return (int32)(End - p);
}

int32 FormatCharacter(const Conversion &C, va_list *Arguments, char *Area) {
    int32 Value = va_arg(*Arguments, int32);
    if (C.Row->Aux == 1 && Value >= 'a' && Value <= 'z') Value -= 32;
    const int32 Count = C.Precision < 0 ? 1 : C.Precision;
    char Sequence[8];
    int32 Length = 1;
    if (C.Wide) {
        CharUtf64_CopyToUtf8((uint32)Value, Sequence, (int32)sizeof Sequence, &Length);
    } else {
        Sequence[0] = (char)Value;
    }
    for (int32 i = 0; i < Count; i++) memcpy(Area + i * Length, Sequence, (size_t)Length);
    return Count * Length;
}

int32 FormatIpv4(const uint8 *Address, char *Area) {
    if (Address == nullptr) return 0;
    char *p = Area;
    for (int32 i = 0; i < 4; i++) {
        if (i > 0) *p++ = '.';
        const uint8 Byte = Address[i];
        if (Byte >= 100) *p++ = (char)('0' + Byte / 100);
        if (Byte >= 10) *p++ = (char)('0' + Byte / 10 % 10);
        *p++ = (char)('0' + Byte % 10);
    }
    return (int32)(p - Area);
}

// Bytes the JSON form of a UTF-8 text takes.
int64 JsonEscapedLength(const uint8 *Text, int32 Length) {
    int64 Escaped = 0;
    for (int32 i = 0; i < Length;) {
        const uint8 Byte = Text[i];
        if (Byte < 0x80) {
            i++;
            if (Byte == '"' || Byte == '\\' || Byte == '\b' || Byte == '\t' || Byte == '\n' || Byte == '\f' ||
                Byte == '\r')
                Escaped += 2;
            else if (Byte < 0x20 || Byte == 0x7F)
                Escaped += 6;
            else
                Escaped += 1;
            continue;
        }
        uint32 CodePoint;
        i += unicode::DecodeUtf8(Text + i, (size_t)(Length - i), &CodePoint);
        Escaped += CodePoint >= 0x10000 ? 12 : 6;
    }
    return Escaped;
}

char *WriteUnitEscape(char *Out, uint32 Unit) {
    *Out++ = '\\';
    *Out++ = 'u';
    for (int32 Shift = 12; Shift >= 0; Shift -= 4) *Out++ = DigitText[(Unit >> Shift) & 0xF];
    return Out;
}

// Control characters become short or \u00XX escapes; every character above
// ASCII becomes \uXXXX escapes of its UTF-16 units (a pair above U+FFFF), so
// the result is plain ASCII that any JSON parser accepts.
char *JsonEscape(const uint8 *Text, int32 Length, char *Out) {
    for (int32 i = 0; i < Length;) {
        const uint8 Byte = Text[i];
        if (Byte < 0x80) {
            i++;
            char Short = 0;
            switch (Byte) {
                case '"': Short = '"'; break;
                case '\\': Short = '\\'; break;
                case '\b': Short = 'b'; break;
                case '\t': Short = 't'; break;
                case '\n': Short = 'n'; break;
                case '\f': Short = 'f'; break;
                case '\r': Short = 'r'; break;
                default: break;
            }
            if (Short) {
                *Out++ = '\\';
                *Out++ = Short;
            } else if (Byte < 0x20 || Byte == 0x7F) {
                Out = WriteUnitEscape(Out, Byte);
            } else {
                *Out++ = (char)Byte;
            }
            continue;
        }
        uint32 CodePoint;
        i += unicode::DecodeUtf8(Text + i, (size_t)(Length - i), &CodePoint);
        uint16 Units[2];
        const int32 Count = unicode::EncodeUtf16(CodePoint, Units);
        for (int32 Unit = 0; Unit < Count; Unit++) Out = WriteUnitEscape(Out, Units[Unit]);
    }
    return Out;
}

// Strings (s, S, js): the argument as UTF-8, converted from UTF-16 ("!") or
// 32-bit units (l, w or "#"), cut to the precision (UTF-8 arguments of s and S
// only), upper-cased for S, escaped for js; then written padded.
void WriteString(Writer &Out, const Conversion &C, va_list *Arguments, bool AtEnd) {
    const void *Argument = va_arg(*Arguments, const void *);
    const char *Text = "";
    int32 Length = 0;
    TempText Converted, Copy, Escaped;
    bool Owned = false;  // Text is our own copy and may be changed in place
    if (Argument != nullptr) {
        if (C.Wide || C.Hash) {
            const uint32 *Wide = static_cast<const uint32 *>(Argument);
            const int32 Bytes = StringUtf32_LengthUtf8(Wide);
            if (char *Buffer = Converted.Get((int64)Bytes + 1)) {
                Length = StringUtf32_CopyToUtf8(Buffer, Wide, Bytes + 1);
                Text = Buffer;
                Owned = true;
            }
        } else if (C.Bang) {
            const uint16 *Utf16 = static_cast<const uint16 *>(Argument);
            const int32 Bytes = StringUtf16_LengthUtf8(Utf16);
            if (char *Buffer = Converted.Get((int64)Bytes + 1)) {
                Length = StringUtf16_CopyToUtf8(Buffer, Utf16, Bytes + 1);
                Text = Buffer;
                Owned = true;
            }
        } else {
            Text = static_cast<const char *>(Argument);
            const bool Cut = C.Row->Type == STRINGFORMAT_TYPESTRING && C.Precision >= 0;
            Length = ClampLength(Cut ? strnlen(Text, (size_t)C.Precision) : strlen(Text));
        }
    }
    if (C.Row->Aux == 1 && Length > 0) {
        char *Upper = Owned ? const_cast<char *>(Text) : Copy.Get(Length);
        if (Upper == nullptr) {
            Length = 0;
        } else {
            for (int32 i = 0; i < Length; i++) {
                const char Char = Text[i];
                Upper[i] = Char >= 'a' && Char <= 'z' ? (char)(Char - 32) : Char;
            }
            Text = Upper;
        }
    }
    if (C.Row->Type == STRINGFORMAT_TYPEJSON && Length > 0) {
        const int64 EscapedLength = JsonEscapedLength((const uint8 *)Text, Length);
        if (EscapedLength > Length) {
            char *Buffer = EscapedLength <= INT32_MAX ? Escaped.Get(EscapedLength) : nullptr;
            if (Buffer == nullptr) {
                Length = 0;
            } else {
                JsonEscape((const uint8 *)Text, Length, Buffer);
                Text = Buffer;
                Length = (int32)EscapedLength;
            }
        }
    }
    Out.Converted(Text, Length, C, AtEnd);
}

// Parses the conversion behind a "%" (p points behind it). Answers false for
// an unknown conversion character; p then stays on it.
bool ParseConversion(const char *&p, Conversion &C, va_list *Arguments) {
    for (;; p++) {
        if (*p == ' ')
            C.Space = true;
        else if (*p == '!')
            C.Bang = true;
        else if (*p == '#')
            C.Hash = true;
        else if (*p == '0')
            C.Zero = true;
        else if (*p == '-')
            C.Left = true;
        else if (*p == '+')
            C.Plus = true;
        else
            break;
    }
    int64 Width;
    if (*p == '*') {
        p++;
        Width = va_arg(*Arguments, int32);
        if (Width < 0) {
            C.Left = true;
            Width = -Width;
        }
    } else {
        Width = ReadNumber(p);
    }
    C.Width = (int32)std::min<int64>(Width, MaxWidth);
    if (*p == '.') {
        p++;
        int64 Precision;
        if (*p == '*') {
            p++;
            Precision = va_arg(*Arguments, int32);
            if (Precision < 0) Precision = -Precision;
        } else {
            Precision = ReadNumber(p);
        }
        C.Precision = (int32)std::min<int64>(Precision, INT32_MAX);
    }
    if (*p == 'l') {
        C.Wide = true;
        if (p[1] == 'l') {
            C.Is64 = true;
            p++;
        }
        p++;
    }
    if (*p == 'I') {
        // "I64" widens; an "I" or "I6" that does not complete it is skipped.
        if (p[1] == '6' && p[2] == '4') {
            C.Is64 = true;
            p += 3;
        } else {
            p += p[1] == '6' ? 2 : 1;
        }
    }
    if (*p == 'w') {
        C.Wide = true;
        p++;
    }
    if (*p == 'z') {
        C.Is64 = true;
        p++;
    }
    if (p[0] == 'j' && p[1] == 's') {
        C.Row = &RowJson;
        p += 2;
    } else if (p[0] == 'i' && p[1] == 'p' && p[2] == 'v' && p[3] == '4') {
        C.Row = &RowIpv4;
        p += 4;
    } else {
        C.Row = FindRow(*p);
        if (C.Row == nullptr) return false;
        p++;
    }
    if (!(C.Row->Flags & RowString) && C.Precision > MaxPrecision) C.Precision = MaxPrecision;
    return true;
}

int32 RunEngine(const char *Format, Writer &Out, va_list *Arguments) {
    char Area[AreaSize];
    const char *p = Format;
    while (*p != 0) {
        const char *Percent = strchr(p, '%');
        if (Percent == nullptr) {
            Out.Piece(p, ClampLength(strlen(p)), true);
            return 1;
        }
        if (Percent > p) Out.Piece(p, ClampLength((size_t)(Percent - p)), false);
        p = Percent + 1;
        if (*p == 0) {
            Out.Piece("%", 1, true);
            return 1;
        }
        Conversion C;
        if (!ParseConversion(p, C, Arguments)) return 0;
        const bool AtEnd = *p == 0;
        const uint8 Type = C.Row->Type;
        switch (Type) {
            case STRINGFORMAT_TYPEINTEGER:
            case STRINGFORMAT_TYPEPOINTER:
            case STRINGFORMAT_TYPEORDINAL: {
                if (Type == STRINGFORMAT_TYPEPOINTER && C.Width == 0) {
                    C.Width = 16;
                    C.Zero = true;
                }
                const char *Text;
                const int32 Length = FormatInteger(C, Arguments, Area, &Text);
                Out.Converted(Text, Length, C, AtEnd);
                break;
            }
            case STRINGFORMAT_TYPEFIXED:
            case STRINGFORMAT_TYPEEXPONENT:
            case STRINGFORMAT_TYPEGENERAL: {
                const char Letter = Type == STRINGFORMAT_TYPEFIXED     ? 'f'
                                    : Type == STRINGFORMAT_TYPEEXPONENT ? 'e'
                                                                        : 'g';
                const print::FloatFormat Float{Letter,  DigitText[C.Row->Aux], C.Precision, C.Width, C.Left,
                                               C.Plus,  C.Space,               C.Bang,      C.Hash,  C.Zero};
                const float64 Value = va_arg(*Arguments, float64);
                Out.Converted(Area, print::FormatFloat(Value, Float, Area), C, AtEnd);
                break;
            }
            case STRINGFORMAT_TYPESTRING:
            case STRINGFORMAT_TYPEJSON:
                WriteString(Out, C, Arguments, AtEnd);
                break;
            case STRINGFORMAT_TYPECHARACTER:
                Out.Converted(Area, FormatCharacter(C, Arguments, Area), C, AtEnd);
                break;
            case STRINGFORMAT_TYPEIPV4:
                Out.Converted(Area, FormatIpv4(va_arg(*Arguments, const uint8 *), Area), C, AtEnd);
                break;
            case STRINGFORMAT_TYPEPERCENT:
                Out.Converted("%", 1, C, AtEnd);
                break;
            default:
                Debug_Assert((Type == STRINGFORMAT_TYPEUNKNOWN), "Invalid string format type encountered [%c]",
                             C.Row->Char);
                return 0;
        }
    }
    return 1;
}

void InitStringBuffer(StringBuffer *Record, char *Buffer, int32 Capacity) {
    memset(Record, 0, sizeof *Record);
    Record->Class.ClassId = STRINGBUFFER_CLASSID;
    Record->Buffer = Buffer;
    Record->Capacity = Capacity;
}

int32 StringBuffer_WriteCallback(void *User, uint32, const char *Text, int32 Length, uint32 *Written) {
    return StringBuffer_Append(static_cast<StringBuffer *>(User), Text, Length, Written);
}

// Formats whose only conversions are plain "%s" or "%d" (most log lines,
// keys and names) are printed into a buffer directly: the same bytes, cut at
// the same place, as the engine writes through a StringBuffer record.
struct PlainBuffer {
    char *Buffer;
    int32 Capacity;
    int32 Used = 0;
    bool Overflow = false;

    void Append(const char *Text, size_t Length) {
        if (Overflow) return;
        if ((uint64)Used + Length >= (uint64)Capacity) {
            Overflow = true;
            Length = (size_t)(Capacity - Used - 1);
        }
        memcpy(Buffer + Used, Text, Length);
        Used += (int32)Length;
    }
};

// Prints Format into Out and terminates it when its only conversions are
// plain "%s" or "%d" (at most PlainMost of them); false, with nothing written, for
// any other format (the engine then prints it). The format is checked
// first: an argument may be the buffer's own earlier text, which must still
// be there for the engine.
constexpr int32 PlainMost = 8;
bool PrintPlain(PlainBuffer &Out, const char *Format, va_list Arguments) {
    const char *Percent[PlainMost + 1];
    int32 Count = 0;
    for (const char *p = strchrnul(Format, '%');; p = strchrnul(p + 2, '%')) {
        Percent[Count] = p;
        if (*p == 0) break;
        if ((p[1] != 's' && p[1] != 'd') || Count == PlainMost) return false;
        Count++;
    }
    va_list Copy;
    va_copy(Copy, Arguments);
    const char *Literal = Format;
    for (int32 i = 0; i < Count; i++) {
        Out.Append(Literal, (size_t)(Percent[i] - Literal));
        if (Percent[i][1] == 'd') {
            char Digits[12];
            const char *End = std::to_chars(Digits, Digits + sizeof(Digits), va_arg(Copy, int32)).ptr;
            Out.Append(Digits, (size_t)(End - Digits));
        } else if (const char *Text = va_arg(Copy, const char *)) {
            Out.Append(Text, strlen(Text));
        }
        Literal = Percent[i] + 2;
    }
    va_end(Copy);
    Out.Append(Literal, (size_t)(Percent[Count] - Literal));
    Out.Buffer[Out.Used] = 0;
    return true;
}

void ReportOverrun(const char *Format) {
    Log_PrintString("\n\nERROR: The next string overran the print buffer!\nLINE: ");
    Log_PrintString(Format);
}

}  // namespace

int32 String_VPrintFormatEx(const char *Format, void *User, String_WriteCallbackEx Callback, va_list Arguments) {
    Debug_CheckPointer(Format);
    Debug_CheckPointer(Callback);
    Writer Out(User, Callback);
    va_list Copy;
    va_copy(Copy, Arguments);
    const int32 Result = RunEngine(Format, Out, &Copy);
    va_end(Copy);
    return Result;
}

int32 String_WriteCallbackInt(void *Pair, uint32, const char *Text, int32 Length, uint32 *Written) {
    const StringWriteCallbackPair *Target = static_cast<const StringWriteCallbackPair *>(Pair);
    return Target->Callback(Target->User, Text, Length, Written);
}

int32 String_VPrintFormat(const char *Format, void *User, String_WriteCallback Callback, va_list Arguments) {
    Debug_CheckPointer(Callback);
    StringWriteCallbackPair Pair{User, Callback};
    return String_VPrintFormatEx(Format, &Pair, String_WriteCallbackInt, Arguments);
}

int32 String_PrintFormat(const char *Format, void *User, String_WriteCallback Callback, ...) {
    va_list Arguments;
    va_start(Arguments, Callback);
    const int32 Result = String_VPrintFormat(Format, User, Callback, Arguments);
    va_end(Arguments);
    return Result;
}

int32 String_PrintFormatEx(const char *Format, void *User, String_WriteCallbackEx Callback, ...) {
    va_list Arguments;
    va_start(Arguments, Callback);
    const int32 Result = String_VPrintFormatEx(Format, User, Callback, Arguments);
    va_end(Arguments);
    return Result;
}

int32 String_VPrint(char *Buffer, int32 Size, const char *Format, va_list Arguments) {
    Debug_CheckPointer(Buffer);
    Debug_CheckPointer(Format);
    if (Size < 1) return 0;
    int32 Used = 0;
    if (!StringPrint_VPrintFits(Buffer, Size, Format, Arguments, &Used)) ReportOverrun(Format);
    return Used;
}

int32 String_Print(char *Buffer, int32 Size, const char *Format, ...) {
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = String_VPrint(Buffer, Size, Format, Arguments);
    va_end(Arguments);
    return Result;
}

int32 String_GetVPrintLength(const char *Format, va_list Arguments) {
    Debug_CheckPointer(Format);
    StringBuffer Record;
    InitStringBuffer(&Record, nullptr, 0);
    String_VPrintFormatEx(Format, &Record, StringBuffer_WriteCallback, Arguments);
    return Record.Used;
}

int32 String_GetPrintLength(const char *Format, ...) {
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = String_GetVPrintLength(Format, Arguments);
    va_end(Arguments);
    return Result;
}

int32 String_VPrintCat(char *Buffer, int32 Size, const char *Format, va_list Arguments) {
    Debug_CheckPointer(Buffer);
    Debug_CheckPointer(Format);
    if (Size < 1) return 0;
    int32 Length = (int32)strnlen(Buffer, (size_t)Size);
    if (Length >= Size) {
        // No terminator within Size: treat the buffer as full.
        Length = Size - 1;
        Buffer[Length] = 0;
    }
    if (PlainBuffer Out{Buffer + Length, Size - Length}; PrintPlain(Out, Format, Arguments)) return 1;
    StringBuffer Record;
    InitStringBuffer(&Record, Buffer + Length, Size - Length);
    const int32 Result = String_VPrintFormatEx(Format, &Record, StringBuffer_WriteCallback, Arguments);
    StringBuffer_Finalize(&Record);
    return Result;
}

int32 String_PrintCat(char *Buffer, int32 Size, const char *Format, ...) {
    Debug_CheckPointer(Buffer);
    Debug_CheckPointer(Format);
    if (Size < 1) return 0;
    const int32 Length = (int32)strnlen(Buffer, (size_t)Size);
    if (Length >= Size) return 0;
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = String_VPrint(Buffer + Length, Size - Length, Format, Arguments);
    va_end(Arguments);
    return Result;
}

int32 StringBuffer_Append(StringBuffer *Buffer, const char *Text, int32 Length, uint32 *Written) {
    Class_CheckHandle(Buffer, STRINGBUFFER_CLASSID);
    Debug_CheckPointer(Written);
    *Written = 0;
    if (Buffer->Overflow & 1) return 0;
    if (Text == nullptr || Length == 0) return 1;
    if (Length < 0) Length = ClampLength(strlen(Text));
    if (Buffer->Buffer == nullptr) {
        Buffer->Used = (int32)std::min<int64>((int64)Buffer->Used + Length, INT32_MAX);
        *Written = (uint32)Length;
        return 1;
    }
    if ((int64)Buffer->Used + Length >= Buffer->Capacity) {
        Buffer->Overflow |= 1;
        const int32 Room = Buffer->Capacity - Buffer->Used - 1;
        if (Room >= 1) {
            memcpy(Buffer->Buffer + Buffer->Used, Text, (size_t)Room);
            Buffer->Used += Room;
            *Written = (uint32)Room;
        }
        return 0;
    }
    memcpy(Buffer->Buffer + Buffer->Used, Text, (size_t)Length);
    Buffer->Used += Length;
    *Written = (uint32)Length;
    return 1;
}

int32 StringBuffer_Finalize(StringBuffer *Buffer) {
    Class_CheckHandle(Buffer, STRINGBUFFER_CLASSID);
    if (Buffer->Buffer != nullptr && Buffer->Capacity > 0)
        Buffer->Buffer[std::min(Buffer->Used, Buffer->Capacity - 1)] = 0;
    return 1;
}

int64 StringPrint_JsonEscapedLength(const uint8 *Text, int32 Length) { return JsonEscapedLength(Text, Length); }

char *StringPrint_JsonEscape(const uint8 *Text, int32 Length, char *Out) { return JsonEscape(Text, Length, Out); }

bool StringPrint_VPrintFits(char *Buffer, int32 Size, const char *Format, va_list Arguments, int32 *Used) {
    Debug_CheckPointer(Buffer);
    Debug_CheckPointer(Format);
    Debug_CheckPointer(Used);
    *Used = 0;
    if (Size < 1) return false;
    if (PlainBuffer Out{Buffer, Size}; PrintPlain(Out, Format, Arguments)) {
        *Used = Out.Used;
        return !Out.Overflow;
    }
    StringBuffer Record;
    InitStringBuffer(&Record, Buffer, Size);
    String_VPrintFormatEx(Format, &Record, StringBuffer_WriteCallback, Arguments);
    StringBuffer_Finalize(&Record);
    *Used = Record.Used;
    return (Record.Overflow & 1) == 0;
}
