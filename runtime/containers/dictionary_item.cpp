// Dictionary items: type, key, value, the typed additions and the getters
// with their conversions.
//
// Values are text. Integer reads of a number parse it as a number: an
// Int64 text exactly, a Float64 text (which "%g" may have put in exponent
// form, "1.7e+12") as a decimal truncated toward zero and saturated to
// 64 bits. Reading only the leading digits would turn 1.7e+12 into 1.
#include <ctype.h>
#include <math.h>
#include <string.h>

#include <charconv>
#include <limits>

#include "runtime/containers/dictionary_internal.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/text/string.h"
#include "runtime/text/string_print_float.h"

namespace {

constexpr int32 KeyShownMax = 1024;

// A growing print target for the formatted setters; small texts stay on the
// stack.
class PrintTarget {
  public:
    PrintTarget() = default;
    PrintTarget(const PrintTarget &) = delete;
    PrintTarget &operator=(const PrintTarget &) = delete;
    ~PrintTarget() {
        if (Data != Local) Memory_Free(Data, Capacity);
    }
    static int32 Write(void *User, const char *Text, int32 Length, uint32 *Written) {
        PrintTarget *Target = static_cast<PrintTarget *>(User);
        if (Length < 0) Length = (int32)strlen(Text);
        if ((int64)Target->Used + Length >= Target->Capacity) Target->Grow((int64)Target->Used + Length + 1);
        memcpy(Target->Data + Target->Used, Text, (size_t)Length);
        Target->Used += Length;
        if (Written != nullptr) *Written = (uint32)Length;
        return TRUE;
    }
    const char *Text() const { return Data; }
    int32 Length() const { return Used; }

  private:
    void Grow(int64 Needed) {
        int64 Size = (int64)Capacity * 2;
        while (Size < Needed) Size *= 2;
        Debug_Assert(Size <= INT32_MAX, "Formatted Dictionary value too large\n");
        char *Grown = static_cast<char *>(Memory_Alloc((int32)Size));
        memcpy(Grown, Data, (size_t)Used);
        if (Data != Local) Memory_Free(Data, Capacity);
        Data = Grown;
        Capacity = (int32)Size;
    }
    char Local[256];
    char *Data = Local;
    int32 Used = 0;
    int32 Capacity = (int32)sizeof(Local);
};

// A whole number with a "0x" (hexadecimal) or "0o" (octal) prefix behind an
// optional sign, as document readers store them ("-0x10", "0o17"); the sign
// applies, and digits past 64 bits wrap. 0 when the text has no such prefix.
bool ParsePrefixedInteger(const char *Text, const char *End, int64 *Value) {
    bool Negative = false;
    if (Text < End && (*Text == '+' || *Text == '-')) Negative = *Text++ == '-';
    if (End - Text < 2 || Text[0] != '0') return false;
    const int32 Base = (Text[1] == 'x' || Text[1] == 'X') ? 16 : (Text[1] == 'o' || Text[1] == 'O') ? 8 : 0;
    if (Base == 0) return false;
    uint64 Result = 0;
    for (const char *Digit = Text + 2; Digit < End; Digit++) {
        const char c = *Digit;
        const int32 Number = c >= '0' && c <= '9' ? c - '0'
                             : c >= 'a' && c <= 'f' ? c - 'a' + 10
                             : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                    : 99;
        if (Number >= Base) break;
        Result = Result * (uint64)Base + (uint64)Number;
    }
    *Value = (int64)(Negative ? 0 - Result : Result);
    return true;
}

// Whether a decimal text out of a double's range is past its top (else
// below its least): told by its power of ten, from where its first digit
// that is not 0 stands and its exponent, never by the exponent's sign alone
// (1 and 400 zeros "e-10" is past the top, 0. and 330 zeros "1" below).
bool PastTop(const char *Text, const char *End) {
    const char *Walk = Text;
    if (Walk < End && (*Walk == '-' || *Walk == '+')) Walk++;
    int64 Power = 0, Exponent = 0;
    bool Seen = false, Point = false;
    for (; Walk < End && (isdigit((unsigned char)*Walk) || *Walk == '.'); Walk++) {
        if (*Walk == '.') {
            Point = true;
            continue;
        }
        Seen = Seen || *Walk != '0';
        if (!Seen && Point) Power--;
        else if (Seen && !Point) Power++;
    }
    if (Walk < End && (*Walk == 'e' || *Walk == 'E')) {
        const bool Negative = ++Walk < End && *Walk == '-';
        if (Walk < End && (*Walk == '-' || *Walk == '+')) Walk++;
        for (; Walk < End && isdigit((unsigned char)*Walk); Walk++)
            if (Exponent < 1000000000000LL) Exponent = Exponent * 10 + (*Walk - '0');
        if (Negative) Exponent = -Exponent;
    }
    return Power + Exponent > 0;
}

float64 ParseDecimal(const char *Text, const char *End) {
    if (Text < End && *Text == '+') Text++;
    float64 Value = 0;
    auto [Stop, Error] = std::from_chars(Text, End, Value, std::chars_format::general);
    if (Error == std::errc::result_out_of_range) {
        const bool Negative = Text < End && *Text == '-';
        if (!PastTop(Text, Stop)) return Negative ? -0.0 : 0.0;
        return Negative ? -HUGE_VAL : HUGE_VAL;
    }
    if (Error != std::errc()) return 0;
    return Value;
}

int64 ParseInteger(const char *Text, int32 Length) {
    const char *End = Text + Length;
    int64 Prefixed = 0;
    if (ParsePrefixedInteger(Text, End, &Prefixed)) return Prefixed;
    const char *Start = Text < End && *Text == '+' ? Text + 1 : Text;
    int64 Whole = 0;
    auto [Stop, Error] = std::from_chars(Start, End, Whole);
    const bool Fraction = Stop < End && (*Stop == '.' || *Stop == 'e' || *Stop == 'E');
    if (!Fraction) {
        if (Error == std::errc()) return Whole;
        if (Error == std::errc::result_out_of_range)
            return *Start == '-' ? std::numeric_limits<int64>::min() : std::numeric_limits<int64>::max();
    }
    const float64 Value = ParseDecimal(Text, End);
    if (isnan(Value)) return 0;
    if (Value >= 9223372036854775808.0) return std::numeric_limits<int64>::max();
    if (Value <= -9223372036854775808.0) return std::numeric_limits<int64>::min();
    return (int64)Value;
}

// The item an addition of Type under Key (or keyless) holding Text makes:
// DictionaryInt_AppendValue, which takes the insert at the end, the type and
// the text at once while nothing watches the tree, and one by one, with the
// duplicate rule's lookup and every report, otherwise.
DictionaryItem *AddTyped(Dictionary *Handle, const char *Key, int32 Type, const char *Text = nullptr,
                         int32 TextLength = 0) {
    return DictionaryInt_AppendValue(Handle, Key, Key != nullptr ? (int32)strlen(Key) : 0, Type, Text, TextLength);
}

} // namespace

const DictionaryTypeString Dictionary_TypeStringTable[8] = {
    {DICTIONARY_TYPE_UNKNOWN, "Unknown"}, {DICTIONARY_TYPE_NULL, "Null"},     {DICTIONARY_TYPE_BOOLEAN, "Boolean"},
    {DICTIONARY_TYPE_INT64, "Int64"},     {DICTIONARY_TYPE_FLOAT64, "Float64"}, {DICTIONARY_TYPE_STRING, "String"},
    {DICTIONARY_TYPE_LIST, "List"},       {DICTIONARY_TYPE_DICTIONARY, "Dictionary"},
};

// ---- Shared helpers ----

int32 DictionaryInt_TextForm(const DictionaryItem *Item, const char **Text, int32 *Length) {
    switch (DictionaryInt_Type(Item)) {
    case DICTIONARY_TYPE_NULL:
        *Text = "null";
        *Length = 4;
        return TRUE;
    case DICTIONARY_TYPE_BOOLEAN:
        if (Item->Flags & DictionaryBooleanFlag) {
            *Text = "true";
            *Length = 4;
        } else {
            *Text = "false";
            *Length = 5;
        }
        return TRUE;
    case DICTIONARY_TYPE_INT64:
    case DICTIONARY_TYPE_FLOAT64:
    case DICTIONARY_TYPE_STRING:
        *Text = Item->Value != nullptr ? Item->Value : "";
        *Length = Item->ValueLength;
        return TRUE;
    default:
        *Text = Item->Value;
        *Length = Item->ValueLength;
        return Item->Value != nullptr;
    }
}

int32 DictionaryInt_SetType(Dictionary *Handle, DictionaryItem *Item, int32 Type) {
    if (Type < DICTIONARY_TYPE_UNKNOWN || Type > DICTIONARY_TYPE_DICTIONARY) {
        Log_Error("Dictionary item type %d is not a Dictionary type\n", Type);
        return FALSE;
    }
    if (DictionaryInt_Type(Item) == Type) return TRUE;
    if (Item->Value != nullptr) DictionaryInt_ReleaseText(Handle, Item, &Item->Value, Item->ValueLength);
    Item->ValueLength = 0;
    if (Item->Child != nullptr) DictionaryInt_FreeChild(Handle, &Item->Child);
    Item->Flags = (uint8)((Item->Flags & ~DictionaryTypeMask) | Type);
    if (DictionaryInt_IsContainerType(Type)) Item->Child = DictionaryInt_CreateChild(Handle, Item);
    return TRUE;
}

int32 DictionaryInt_SetKeyLength(Dictionary *Handle, DictionaryItem *Item, const char *Key, int32 Length) {
    if (Key != nullptr) Length = Length > 0 ? (int32)strnlen(Key, (size_t)Length) : 0;
    return DictionaryInt_SetMeasuredKey(Handle, Item, Key, Length);
}

int32 DictionaryInt_SetMeasuredKey(Dictionary *Handle, DictionaryItem *Item, const char *Key, int32 Length) {
    if (Key != nullptr && Handle->PrivateKeys == 1 && Length >= 1 && (Key[0] == '.' || Key[0] == '#')) {
        Key++;
        Length--;
        Item->Flags |= DictionaryPrivateFlag;
    } else {
        Item->Flags &= (uint8)~DictionaryPrivateFlag;
    }
    if (Key != nullptr && Length > DICTIONARY_MAX_KEY_LENGTH) {
        char Shown[KeyShownMax + 1];
        const int32 ShownLength = Length < KeyShownMax ? Length : KeyShownMax;
        memcpy(Shown, Key, (size_t)ShownLength);
        Shown[ShownLength] = 0;
        Dictionary_Print(Handle, "Key exceeds maximum length %s (%d > %d)", Shown, Length, DICTIONARY_MAX_KEY_LENGTH);
        Length = DictionaryInt_CutKeyLength(Key);
    }
    char *OldKey = Item->Key;
    const int32 OldLength = Item->KeyLength;
    if (DictionaryInt_MayBeIndexed(Handle)) DictionaryInt_IndexRemove(Handle, Item);
    if (Key != nullptr) {
        // Room is found while the old key still holds its place.
        char *Stored = DictionaryInt_KeyRoom(Handle, Item, Length);
        DictionaryInt_CopyText(Stored, Key, Length);
        Stored[Length] = 0;
        Item->Key = Stored;
        Item->KeyLength = Length;
        if (DictionaryInt_MayBeIndexed(Handle) || Handle->Items.Count >= DictionaryIndexThreshold)
            DictionaryInt_IndexAdd(Handle, Item);
        DictionaryInt_ReportKey(Handle, Item, OldKey);
    } else {
        Item->Key = nullptr;
        Item->KeyLength = 0;
    }
    if (OldKey != nullptr) DictionaryInt_ReleaseText(Handle, Item, &OldKey, OldLength);
    return TRUE;
}

int32 DictionaryInt_SetBoolean(Dictionary *Handle, DictionaryItem *Item, uint32 Value) {
    const bool Was = (Item->Flags & DictionaryBooleanFlag) != 0;
    const bool Now = Value == 1;
    if (Was == Now) return TRUE;
    if (Now)
        Item->Flags |= DictionaryBooleanFlag;
    else
        Item->Flags &= (uint8)~DictionaryBooleanFlag;
    if (DictionaryInt_Type(Item) == DICTIONARY_TYPE_BOOLEAN) {
        int32 Length = 0;
        const char *Text = DictionaryInt_BooleanText(Was, &Length);
        DictionaryInt_ReportValue(Handle, Item, Text, Length);
    }
    return TRUE;
}

int32 DictionaryInt_SetBuffer(Dictionary *Handle, DictionaryItem *Item, const void *Bytes, int32 Length) {
    const int32 Type = DictionaryInt_Type(Item);
    if (Length > 0 && Length == Item->ValueLength && Item->Value != nullptr) {
        bool Same;
        if (Bytes != nullptr) {
            Same = memcmp(Bytes, Item->Value, (size_t)Length) == 0;
        } else {
            Same = true;
            for (int32 Index = 0; Index < Length && Same; Index++) Same = Item->Value[Index] == 0;
        }
        if (Same) return TRUE;
    }
    char *OldValue = Item->Value;
    const int32 OldLength = Item->ValueLength;
    // Room is found while the old value still holds its place.
    char *Stored = Type != DICTIONARY_TYPE_NULL && Type != DICTIONARY_TYPE_BOOLEAN && Length > 0
                       ? DictionaryInt_ValueRoom(Handle, Item, Length)
                       : nullptr;
    Item->Value = nullptr;
    Item->ValueLength = 0;
    if (Type == DICTIONARY_TYPE_NULL) {
        // the type itself is the value
    } else if (Type == DICTIONARY_TYPE_BOOLEAN) {
        if (Bytes != nullptr && Length > 0) {
            const char First = *static_cast<const char *>(Bytes);
            DictionaryInt_SetBoolean(Handle, Item, First == 'T' || First == 't' ? 1 : 0);
        }
    } else if (Stored != nullptr) {
        if (Bytes != nullptr)
            DictionaryInt_CopyText(Stored, static_cast<const char *>(Bytes), Length);
        else
            memset(Stored, 0, (size_t)Length);
        Stored[Length] = 0;
        Item->Value = Stored;
        Item->ValueLength = Length;
        if (Type == DICTIONARY_TYPE_INT64 || Type == DICTIONARY_TYPE_FLOAT64 || Type == DICTIONARY_TYPE_STRING)
            DictionaryInt_ReportValue(Handle, Item, OldValue, OldLength);
    }
    if (OldValue != nullptr) DictionaryInt_ReleaseText(Handle, Item, &OldValue, OldLength);
    return TRUE;
}

int32 DictionaryInt_SetStringV(Dictionary *Handle, DictionaryItem *Item, const char *Format, va_list Arguments) {
    Debug_CheckPointer(Format);
    if (DictionaryInt_Type(Item) == DICTIONARY_TYPE_NULL) return TRUE;
    PrintTarget Target;
    va_list Copy;
    va_copy(Copy, Arguments);
    String_VPrintFormat(Format, &Target, PrintTarget::Write, Copy);
    va_end(Copy);
    return DictionaryInt_SetBuffer(Handle, Item, Target.Text(), Target.Length());
}

int32 DictionaryInt_Int64Text(int64 Value, char *Area) {
    return (int32)(std::to_chars(Area, Area + 24, Value).ptr - Area);
}

int32 DictionaryInt_SetInt64(Dictionary *Handle, DictionaryItem *Item, int64 Value) {
    if (DictionaryInt_Type(Item) == DICTIONARY_TYPE_NULL) return TRUE;
    char Text[DictionaryNumberAreaSize];
    return DictionaryInt_SetBuffer(Handle, Item, Text, DictionaryInt_Int64Text(Value, Text));
}

namespace {

// The print engine's "%g" (twelve significant digits, halves rounded up)
// of a value between 1e-4 and 1e12 that the exact decimal expansion is not
// needed for: scaled by an exact power of ten into [1e11, 1e12), the double
// product is within 2^-13 of the true one, so a rounding not near a half
// (nor a scale near a decade's edge) is the one the expansion gives. False
// leaves the value to the full conversion.
bool FormatShortGeneral(float64 Value, char *Area, int32 *Length) {
    constexpr int32 MostDecimals = 15;
    static constexpr float64 Powers[MostDecimals + 1] = {1,    1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                         1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    constexpr float64 Low = 1e11, High = 1e12, Margin = 1e-3;
    const float64 Magnitude = Value < 0 ? -Value : Value;
    if (!(Magnitude >= 1e-4 && Magnitude < High)) return false;
    int32 Decimals = 0;
    float64 Scaled = Magnitude;
    while (Scaled < Low) {
        if (++Decimals > MostDecimals) return false;
        Scaled = Magnitude * Powers[Decimals];
    }
    if (Scaled - Low < Margin || High - Scaled < Margin) return false;
    const float64 Whole = floor(Scaled);
    const float64 Fraction = Scaled - Whole;
    if (Fraction > 0.5 - Margin && Fraction < 0.5 + Margin) return false;
    const int64 Digits = (int64)Whole + (Fraction > 0.5 ? 1 : 0);
    if (Digits >= (int64)High) return false;
    static constexpr int64 Units[MostDecimals + 1] = {1,           10,           100,           1000,
                                                      10000,       100000,       1000000,       10000000,
                                                      100000000,   1000000000,   10000000000,   100000000000,
                                                      1000000000000, 10000000000000, 100000000000000,
                                                      1000000000000000};
    const int64 Unit = Units[Decimals];
    char *Out = Area;
    if (Value < 0) *Out++ = '-';
    Out = std::to_chars(Out, Area + print::FloatAreaSize, Digits / Unit).ptr;
    int64 Rest = Digits % Unit;
    int32 Kept = Decimals;
    // A short fraction has many trailing zeros: four at a time first.
    while (Kept >= 4 && Rest % 10000 == 0) {
        Rest /= 10000;
        Kept -= 4;
    }
    while (Kept > 0 && Rest % 10 == 0) {
        Rest /= 10;
        Kept--;
    }
    if (Kept > 0) {
        *Out++ = '.';
        for (int32 Place = Kept - 1; Place >= 0; Place--) {
            Out[Place] = (char)('0' + Rest % 10);
            Rest /= 10;
        }
        Out += Kept;
    }
    *Out = 0;
    *Length = (int32)(Out - Area);
    return true;
}

} // namespace

int32 DictionaryInt_Float64Text(float64 Value, char *Area) {
    // Counts, sizes and whole percentages are most numbers stored: below a
    // million "%g" prints a whole number exactly as its digits, which needs
    // none of the print engine's float conversion. Negative zero keeps "%g"'s
    // own "-0".
    if (Value > -1e6 && Value < 1e6 && Value == (float64)(int64)Value && !(Value == 0 && signbit(Value)))
        return DictionaryInt_Int64Text((int64)Value, Area);
    // The print engine's own "%g" conversion (no flags, width or precision),
    // without parsing a format for it.
    static constexpr print::FloatFormat General{'g', 'e', -1, 0, false, false, false, false, false, false};
    int32 Length = 0;
    if (!FormatShortGeneral(Value, Area, &Length)) Length = print::FormatFloat(Value, General, Area);
    return Length;
}

int32 DictionaryInt_SetFloat64(Dictionary *Handle, DictionaryItem *Item, float64 Value) {
    if (DictionaryInt_Type(Item) == DICTIONARY_TYPE_NULL) return TRUE;
    char Area[DictionaryNumberAreaSize];
    return DictionaryInt_SetBuffer(Handle, Item, Area, DictionaryInt_Float64Text(Value, Area));
}

int32 DictionaryInt_SetStringPrint(Dictionary *Handle, DictionaryItem *Item, const char *Format, ...) {
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = DictionaryInt_SetStringV(Handle, Item, Format, Arguments);
    va_end(Arguments);
    return Result;
}

uint32 DictionaryInt_GetPrivate(Dictionary *Handle, const DictionaryItem *Item) {
    return Handle->PrivateKeys == 1 && (Item->Flags & DictionaryPrivateFlag) != 0;
}

int32 DictionaryInt_GetInt64(const DictionaryItem *Item, int64 *Value) {
    *Value = 0;
    if (!DictionaryInt_IsNumberType(DictionaryInt_Type(Item))) return FALSE;
    if (Item->Value != nullptr) *Value = ParseInteger(Item->Value, Item->ValueLength);
    return TRUE;
}

int32 DictionaryInt_GetFloat64(const DictionaryItem *Item, float64 *Value) {
    *Value = 0;
    if (!DictionaryInt_IsNumberType(DictionaryInt_Type(Item))) return FALSE;
    if (Item->Value == nullptr) return TRUE;
    const char *End = Item->Value + Item->ValueLength;
    int64 Prefixed = 0;
    if (ParsePrefixedInteger(Item->Value, End, &Prefixed))
        *Value = (float64)Prefixed;
    else
        *Value = ParseDecimal(Item->Value, End);
    return TRUE;
}

// ---- Typed additions ----

int32 Dictionary_AddNull(Dictionary *Handle, const char *Key, DictionaryItem **Item) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckList(Handle);
    DictionaryInt_ClearOut(Item);
    DictionaryItem *Added = AddTyped(Handle, Key, DICTIONARY_TYPE_NULL);
    if (Item != nullptr) *Item = Added;
    return TRUE;
}

int32 Dictionary_AddString(Dictionary *Handle, const char *Key, const char *Text, DictionaryItem **Item) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckList(Handle);
    Debug_CheckPointer(Text);
    DictionaryInt_ClearOut(Item);
    DictionaryItem *Added = AddTyped(Handle, Key, DICTIONARY_TYPE_STRING, Text, (int32)strlen(Text));
    if (Item != nullptr) *Item = Added;
    return TRUE;
}

int32 Dictionary_AddInt32(Dictionary *Handle, const char *Key, int32 Value, DictionaryItem **Item) {
    return Dictionary_AddInt64(Handle, Key, Value, Item);
}

int32 Dictionary_AddInt64(Dictionary *Handle, const char *Key, int64 Value, DictionaryItem **Item) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckList(Handle);
    DictionaryInt_ClearOut(Item);
    char Text[DictionaryNumberAreaSize];
    DictionaryItem *Added = AddTyped(Handle, Key, DICTIONARY_TYPE_INT64, Text, DictionaryInt_Int64Text(Value, Text));
    if (Item != nullptr) *Item = Added;
    return TRUE;
}

int32 Dictionary_AddFloat64(Dictionary *Handle, const char *Key, float64 Value, DictionaryItem **Item) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckList(Handle);
    DictionaryInt_ClearOut(Item);
    char Area[DictionaryNumberAreaSize];
    DictionaryItem *Added =
        AddTyped(Handle, Key, DICTIONARY_TYPE_FLOAT64, Area, DictionaryInt_Float64Text(Value, Area));
    if (Item != nullptr) *Item = Added;
    return TRUE;
}

int32 Dictionary_AddBoolean(Dictionary *Handle, const char *Key, uint32 Value, DictionaryItem **Item) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckList(Handle);
    DictionaryInt_ClearOut(Item);
    // Only 1 is true, as the setter takes it.
    int32 Length = 0;
    const char *Text = DictionaryInt_BooleanText(Value == 1, &Length);
    DictionaryItem *Added = AddTyped(Handle, Key, DICTIONARY_TYPE_BOOLEAN, Text, Length);
    if (Item != nullptr) *Item = Added;
    return TRUE;
}

static int32 AddContainer(Dictionary *Handle, const char *Key, int32 Type, Dictionary **Child, DictionaryItem **Item) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckList(Handle);
    DictionaryInt_ClearOut(Child);
    DictionaryInt_ClearOut(Item);
    DictionaryItem *Added = AddTyped(Handle, Key, Type);
    if (Child != nullptr) *Child = Added->Child;
    if (Item != nullptr) *Item = Added;
    return TRUE;
}

int32 Dictionary_AddList(Dictionary *Handle, const char *Key, Dictionary **Child, DictionaryItem **Item) {
    return AddContainer(Handle, Key, DICTIONARY_TYPE_LIST, Child, Item);
}

int32 Dictionary_AddDictionary(Dictionary *Handle, const char *Key, Dictionary **Child, DictionaryItem **Item) {
    return AddContainer(Handle, Key, DICTIONARY_TYPE_DICTIONARY, Child, Item);
}

// ---- Type ----

int32 Dictionary_ItemSetType(Dictionary *Handle, DictionaryItem *Item, int32 Type) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckItem(Item);
    return DictionaryInt_SetType(Handle, Item, Type);
}

int32 Dictionary_ItemGetType(Dictionary *Handle, DictionaryItem *Item, int32 *Type) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckItem(Item);
    Debug_CheckPointer(Type);
    *Type = DictionaryInt_Type(Item);
    return TRUE;
}

int32 Dictionary_ItemCompareType(Dictionary *Handle, DictionaryItem *Item, int32 Type) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckItem(Item);
    return DictionaryInt_Type(Item) == Type;
}

int32 Dictionary_ItemIsContainer(Dictionary *Handle, DictionaryItem *Item) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckItem(Item);
    return DictionaryInt_IsContainerType(DictionaryInt_Type(Item));
}

int32 Dictionary_ItemIsNull(Dictionary *Handle, DictionaryItem *Item) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckItem(Item);
    return DictionaryInt_Type(Item) == DICTIONARY_TYPE_NULL;
}

const char *Dictionary_TranslateType(int32 Type) {
    if (Type < DICTIONARY_TYPE_UNKNOWN || Type > DICTIONARY_TYPE_DICTIONARY) return Dictionary_TypeStringTable[0].Name;
    return Dictionary_TypeStringTable[Type].Name;
}

// ---- Keys ----

int32 Dictionary_ItemSetKeyLength(Dictionary *Handle, DictionaryItem *Item, const char *Key, int32 Length) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckItem(Item);
    return DictionaryInt_SetKeyLength(Handle, Item, Key, Length);
}

int32 Dictionary_ItemSetKey(Dictionary *Handle, DictionaryItem *Item, const char *Key) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckItem(Item);
    return DictionaryInt_SetKeyLength(Handle, Item, Key, Key != nullptr ? (int32)strlen(Key) : 0);
}

int32 Dictionary_ItemGetKeyPtr(Dictionary *Handle, DictionaryItem *Item, const char **Key) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckItem(Item);
    Debug_CheckPointer(Key);
    *Key = Item->Key;
    return Item->Key != nullptr;
}

int32 Dictionary_KeptKeyLength(Dictionary *Handle, const char *Key, int32 Length) {
    Dictionary_CheckHandle(Handle);
    const bool Marked = Handle->PrivateKeys == 1 && Length >= 1 && (Key[0] == '.' || Key[0] == '#');
    return Marked ? Length - 1 : Length;
}

int32 Dictionary_ItemGetKey(Dictionary *Handle, DictionaryItem *Item, char *Buffer, int32 Size) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckItem(Item);
    Debug_CheckPointer(Buffer);
    if (Size < 1) return FALSE;
    Buffer[0] = 0;
    if (Item->Key == nullptr) return FALSE;
    String_CopyLengthSafe(Buffer, Size, Item->Key, Item->KeyLength);
    return TRUE;
}

int32 Dictionary_ItemSetPrivate(Dictionary *Handle, DictionaryItem *Item, uint32 Flag) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckItem(Item);
    if (Flag == 1)
        Item->Flags |= DictionaryPrivateFlag;
    else
        Item->Flags &= (uint8)~DictionaryPrivateFlag;
    return TRUE;
}

int32 Dictionary_ItemGetPrivate(Dictionary *Handle, DictionaryItem *Item, uint32 *Flag) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckItem(Item);
    Debug_CheckPointer(Flag);
    *Flag = DictionaryInt_GetPrivate(Handle, Item);
    return TRUE;
}

// ---- Values ----

int32 Dictionary_ItemSetBuffer(Dictionary *Handle, DictionaryItem *Item, const void *Bytes, int32 Length) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckItem(Item);
    return DictionaryInt_SetBuffer(Handle, Item, Bytes, Length);
}

int32 Dictionary_ItemSetString(Dictionary *Handle, DictionaryItem *Item, const char *Text) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckItem(Item);
    if (DictionaryInt_Type(Item) == DICTIONARY_TYPE_NULL) return TRUE;
    return DictionaryInt_SetBuffer(Handle, Item, Text, Text != nullptr ? (int32)strlen(Text) : 0);
}

int32 Dictionary_ItemSetStringPrint(Dictionary *Handle, DictionaryItem *Item, const char *Format, ...) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckItem(Item);
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = DictionaryInt_SetStringV(Handle, Item, Format, Arguments);
    va_end(Arguments);
    return Result;
}

int32 Dictionary_ItemSetStringV(Dictionary *Handle, DictionaryItem *Item, const char *Format, va_list Arguments) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckItem(Item);
    return DictionaryInt_SetStringV(Handle, Item, Format, Arguments);
}

int32 Dictionary_ItemSetInt32(Dictionary *Handle, DictionaryItem *Item, int32 Value) {
    return Dictionary_ItemSetStringPrint(Handle, Item, "%d", Value);
}

int32 Dictionary_ItemSetInt64(Dictionary *Handle, DictionaryItem *Item, int64 Value) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckItem(Item);
    return DictionaryInt_SetInt64(Handle, Item, Value);
}

int32 Dictionary_ItemSetFloat64(Dictionary *Handle, DictionaryItem *Item, float64 Value) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckItem(Item);
    return DictionaryInt_SetFloat64(Handle, Item, Value);
}

int32 Dictionary_ItemSetBoolean(Dictionary *Handle, DictionaryItem *Item, uint32 Value) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckItem(Item);
    return DictionaryInt_SetBoolean(Handle, Item, Value);
}

int32 Dictionary_ItemSetNull(Dictionary *Handle, DictionaryItem *Item) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckItem(Item);
    return TRUE;
}

int32 Dictionary_ItemGetBufferPtr(Dictionary *Handle, DictionaryItem *Item, const char **Text, int32 *Length) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckItem(Item);
    Debug_CheckPointer(Text);
    int32 Found = 0;
    const int32 Result = DictionaryInt_TextForm(Item, Text, &Found);
    if (Length != nullptr) *Length = Found;
    return Result;
}

int32 Dictionary_ItemGetStringPtr(Dictionary *Handle, DictionaryItem *Item, const char **Text) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckItem(Item);
    Debug_CheckPointer(Text);
    *Text = nullptr;
    if (DictionaryInt_Type(Item) != DICTIONARY_TYPE_STRING) return FALSE;
    *Text = Item->Value != nullptr ? Item->Value : "";
    return TRUE;
}

int32 Dictionary_ItemGetString(Dictionary *Handle, DictionaryItem *Item, char *Buffer, int32 Size) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckItem(Item);
    Debug_CheckPointer(Buffer);
    if (Size < 1) return FALSE;
    Buffer[0] = 0;
    if (DictionaryInt_Type(Item) != DICTIONARY_TYPE_STRING) return FALSE;
    if (Item->Value != nullptr) String_CopyLengthSafe(Buffer, Size, Item->Value, Item->ValueLength);
    return TRUE;
}

int32 Dictionary_ItemGetInt32(Dictionary *Handle, DictionaryItem *Item, int32 *Value) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckItem(Item);
    Debug_CheckPointer(Value);
    int64 Wide = 0;
    const int32 Result = DictionaryInt_GetInt64(Item, &Wide);
    *Value = (int32)(uint32)(uint64)Wide;
    return Result;
}

int32 Dictionary_ItemGetInt64(Dictionary *Handle, DictionaryItem *Item, int64 *Value) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckItem(Item);
    Debug_CheckPointer(Value);
    return DictionaryInt_GetInt64(Item, Value);
}

int32 Dictionary_ItemGetFloat64(Dictionary *Handle, DictionaryItem *Item, float64 *Value) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckItem(Item);
    Debug_CheckPointer(Value);
    return DictionaryInt_GetFloat64(Item, Value);
}

int32 Dictionary_ItemGetBoolean(Dictionary *Handle, DictionaryItem *Item, uint32 *Value) {
    Dictionary_CheckHandle(Handle);
    Dictionary_CheckItem(Item);
    Debug_CheckPointer(Value);
    *Value = 0;
    if (DictionaryInt_Type(Item) != DICTIONARY_TYPE_BOOLEAN) return FALSE;
    *Value = (Item->Flags & DictionaryBooleanFlag) != 0;
    return TRUE;
}
