// HTML character references: the name table, the decoders for UTF-8 and
// UTF-16 texts, and the decimal-reference encoder and decoder.
//
// One decoder template serves both widths; it finds the ";" ahead of an "&"
// once per run of text (the position is kept until the scan passes it), so a
// text full of "&" without ";" decodes in linear time.
#include "runtime/text/html_entities.h"

#include <string.h>

#include <charconv>
#include <iterator>

#include "runtime/debug.h"
#include "runtime/text/string.h"
#include "runtime/text/unicode.h"

namespace {

struct HtmlEntity {
    uint16 Unit;
    const char *Name;
};

// The named references of HTML 4 (with apos), the line-break tags that page
// texts use in place of a line feed, and the empty name, so "&;" gives CR.
constexpr HtmlEntity HtmlEntities[] = {
    {0x0022, "quot"}, {0x0027, "apos"}, {0x0026, "amp"}, {0x003C, "lt"}, {0x003E, "gt"}, {0x00A0, "nbsp"},
    {0x00A1, "iexcl"}, {0x00A2, "cent"}, {0x00A3, "pound"}, {0x00A4, "curren"}, {0x00A5, "yen"}, {0x00A6, "brvbar"},
    {0x00A7, "sect"}, {0x00A8, "uml"}, {0x00A9, "copy"}, {0x00AA, "ordf"}, {0x00AB, "laquo"}, {0x00AC, "not"},
    {0x00AD, "shy"}, {0x00AE, "reg"}, {0x00AF, "macr"}, {0x00B0, "deg"}, {0x00B1, "plusmn"}, {0x00B2, "sup2"},
    {0x00B3, "sup3"}, {0x00B4, "acute"}, {0x00B5, "micro"}, {0x00B6, "para"}, {0x00B7, "middot"}, {0x00B8, "cedil"},
    {0x00B9, "sup1"}, {0x00BA, "ordm"}, {0x00BB, "raquo"}, {0x00BC, "frac14"}, {0x00BD, "frac12"},
    {0x00BE, "frac34"}, {0x00BF, "iquest"}, {0x00D7, "times"}, {0x00F7, "divide"}, {0x00C0, "Agrave"},
    {0x00C1, "Aacute"}, {0x00C2, "Acirc"}, {0x00C3, "Atilde"}, {0x00C4, "Auml"}, {0x00C5, "Aring"},
    {0x00C6, "AElig"}, {0x00C7, "Ccedil"}, {0x00C8, "Egrave"}, {0x00C9, "Eacute"}, {0x00CA, "Ecirc"},
    {0x00CB, "Euml"}, {0x00CC, "Igrave"}, {0x00CD, "Iacute"}, {0x00CE, "Icirc"}, {0x00CF, "Iuml"}, {0x00D0, "ETH"},
    {0x00D1, "Ntilde"}, {0x00D2, "Ograve"}, {0x00D3, "Oacute"}, {0x00D4, "Ocirc"}, {0x00D5, "Otilde"},
    {0x00D6, "Ouml"}, {0x00D8, "Oslash"}, {0x00D9, "Ugrave"}, {0x00DA, "Uacute"}, {0x00DB, "Ucirc"},
    {0x00DC, "Uuml"}, {0x00DD, "Yacute"}, {0x00DE, "THORN"}, {0x00DF, "szlig"}, {0x00E0, "agrave"},
    {0x00E1, "aacute"}, {0x00E2, "acirc"}, {0x00E3, "atilde"}, {0x00E4, "auml"}, {0x00E5, "aring"},
    {0x00E6, "aelig"}, {0x00E7, "ccedil"}, {0x00E8, "egrave"}, {0x00E9, "eacute"}, {0x00EA, "ecirc"},
    {0x00EB, "euml"}, {0x00EC, "igrave"}, {0x00ED, "iacute"}, {0x00EE, "icirc"}, {0x00EF, "iuml"}, {0x00F0, "eth"},
    {0x00F1, "ntilde"}, {0x00F2, "ograve"}, {0x00F3, "oacute"}, {0x00F4, "ocirc"}, {0x00F5, "otilde"},
    {0x00F6, "ouml"}, {0x00F8, "oslash"}, {0x00F9, "ugrave"}, {0x00FA, "uacute"}, {0x00FB, "ucirc"},
    {0x00FC, "uuml"}, {0x00FD, "yacute"}, {0x00FE, "thorn"}, {0x00FF, "yuml"}, {0x2200, "forall"}, {0x2202, "part"},
    {0x2203, "exist"}, {0x2205, "empty"}, {0x2207, "nabla"}, {0x2208, "isin"}, {0x2209, "notin"}, {0x220B, "ni"},
    {0x220F, "prod"}, {0x2211, "sum"}, {0x2212, "minus"}, {0x2217, "lowast"}, {0x221A, "radic"}, {0x221D, "prop"},
    {0x221E, "infin"}, {0x2220, "ang"}, {0x2227, "and"}, {0x2228, "or"}, {0x2229, "cap"}, {0x222A, "cup"},
    {0x222B, "int"}, {0x2234, "there4"}, {0x223C, "sim"}, {0x2245, "cong"}, {0x2248, "asymp"}, {0x2260, "ne"},
    {0x2261, "equiv"}, {0x2264, "le"}, {0x2265, "ge"}, {0x2282, "sub"}, {0x2283, "sup"}, {0x2284, "nsub"},
    {0x2286, "sube"}, {0x2287, "supe"}, {0x2295, "oplus"}, {0x2297, "otimes"}, {0x22A5, "perp"}, {0x22C5, "sdot"},
    {0x0391, "Alpha"}, {0x0392, "Beta"}, {0x0393, "Gamma"}, {0x0394, "Delta"}, {0x0395, "Epsilon"}, {0x0396, "Zeta"},
    {0x0397, "Eta"}, {0x0398, "Theta"}, {0x0399, "Iota"}, {0x039A, "Kappa"}, {0x039B, "Lambda"}, {0x039C, "Mu"},
    {0x039D, "Nu"}, {0x039E, "Xi"}, {0x039F, "Omicron"}, {0x03A0, "Pi"}, {0x03A1, "Rho"}, {0x03A3, "Sigma"},
    {0x03A4, "Tau"}, {0x03A5, "Upsilon"}, {0x03A6, "Phi"}, {0x03A7, "Chi"}, {0x03A8, "Psi"}, {0x03A9, "Omega"},
    {0x03B1, "alpha"}, {0x03B2, "beta"}, {0x03B3, "gamma"}, {0x03B4, "delta"}, {0x03B5, "epsilon"}, {0x03B6, "zeta"},
    {0x03B7, "eta"}, {0x03B8, "theta"}, {0x03B9, "iota"}, {0x03BA, "kappa"}, {0x03BB, "lambda"}, {0x03BC, "mu"},
    {0x03BD, "nu"}, {0x03BE, "xi"}, {0x03BF, "omicron"}, {0x03C0, "pi"}, {0x03C1, "rho"}, {0x03C2, "sigmaf"},
    {0x03C3, "sigma"}, {0x03C4, "tau"}, {0x03C5, "upsilon"}, {0x03C6, "phi"}, {0x03C7, "chi"}, {0x03C8, "psi"},
    {0x03C9, "omega"}, {0x03D1, "thetasym"}, {0x03D2, "upsih"}, {0x03D6, "piv"}, {0x0152, "OElig"},
    {0x0153, "oelig"}, {0x0160, "Scaron"}, {0x0161, "scaron"}, {0x0178, "Yuml"}, {0x0192, "fnof"}, {0x02C6, "circ"},
    {0x02DC, "tilde"}, {0x2002, "ensp"}, {0x2003, "emsp"}, {0x2009, "thinsp"}, {0x200C, "zwnj"}, {0x200D, "zwj"},
    {0x200E, "lrm"}, {0x200F, "rlm"}, {0x2013, "ndash"}, {0x2014, "mdash"}, {0x2018, "lsquo"}, {0x2019, "rsquo"},
    {0x201A, "sbquo"}, {0x201C, "ldquo"}, {0x201D, "rdquo"}, {0x201E, "bdquo"}, {0x2020, "dagger"},
    {0x2021, "Dagger"}, {0x2022, "bull"}, {0x2026, "hellip"}, {0x2030, "permil"}, {0x2032, "prime"},
    {0x2033, "Prime"}, {0x2039, "lsaquo"}, {0x203A, "rsaquo"}, {0x203E, "oline"}, {0x20AC, "euro"},
    {0x2122, "trade"}, {0x2190, "larr"}, {0x2191, "uarr"}, {0x2192, "rarr"}, {0x2193, "darr"}, {0x2194, "harr"},
    {0x21B5, "crarr"}, {0x2308, "lceil"}, {0x2309, "rceil"}, {0x230A, "lfloor"}, {0x230B, "rfloor"}, {0x25CA, "loz"},
    {0x2660, "spades"}, {0x2663, "clubs"}, {0x2665, "hearts"}, {0x2666, "diams"}, {0x000A, "<br>"}, {0x000A, "<BR>"},
    {0x000A, "<Br>"}, {0x000A, "<bR>"}, {0x000A, "<br/>"}, {0x000A, "<BR/>"}, {0x000A, "<Br/>"}, {0x000A, "<bR/>"},
    {0x000A, "<br />"}, {0x000A, "<BR />"}, {0x000A, "<Br />"}, {0x000A, "<bR />"}, {0x000D, ""},
};
static_assert(std::size(HtmlEntities) == 254);

// Longer names are not looked up.
constexpr size_t MaxNameLength = 31;
constexpr uint32 LargestCodePoint = 0x10FFFF;

// Exact case first, so "&Eacute;" and "&eacute;" stay apart; then without
// case, so "&AMP;" still reads as "&".
bool FindEntity(const char *Name, uint32 *CodePoint) {
    for (const HtmlEntity &entity : HtmlEntities) {
        if (strcmp(entity.Name, Name) == 0) {
            *CodePoint = entity.Unit;
            return true;
        }
    }
    for (const HtmlEntity &entity : HtmlEntities) {
        if (String_CompareWithoutCase(entity.Name, Name)) {
            *CodePoint = entity.Unit;
            return true;
        }
    }
    return false;
}

template <typename Unit>
int32 DigitValue(Unit C, int32 Base) {
    if (C >= '0' && C <= '9') return int32(C - '0');
    if (Base == 16 && C >= 'a' && C <= 'f') return int32(C - 'a' + 10);
    if (Base == 16 && C >= 'A' && C <= 'F') return int32(C - 'A' + 10);
    return -1;
}

// The number of a reference, read like String_AtoI (optional sign, "0x" hex
// or decimal) and, with HtmlHex, also HTML's "x" hex form. 0 when there is no
// number or it is 0; U+FFFD when it is no Unicode scalar value.
template <typename Unit>
uint32 ReadReferenceNumber(const Unit *Text, bool HtmlHex) {
    bool negative = false;
    if (*Text == '+' || *Text == '-') negative = *Text++ == '-';
    int32 base = 10;
    if (Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X')) {
        base = 16;
        negative = false;  // String_AtoI gives hex values without their sign
        Text += 2;
    } else if (HtmlHex && (Text[0] == 'x' || Text[0] == 'X')) {
        base = 16;
        Text++;
    }
    uint32 value = 0;
    for (int32 digit; (digit = DigitValue(*Text, base)) >= 0; Text++) {
        value = value * uint32(base) + uint32(digit);
        if (value > LargestCodePoint) value = LargestCodePoint + 1;  // saturate, keep reading
    }
    if (value == 0) return 0;
    if (negative || value > LargestCodePoint || (value >= 0xD800 && value <= 0xDFFF)) return UNICODE_REPLACEMENT;
    return value;
}

// Bytes of one source character kept together on copy: a UTF-8 sequence or
// its maximal ill-formed part, so a cut never splits a character.
size_t CharacterLength(const char *Text) {
    if (uint8(*Text) < 0x80) return 1;
    uint16 unit = 0;
    int32 length = 0;
    CharUtf8_ConvertToUtf16(Text, &unit, &length);
    return length > 0 ? size_t(length) : 1;
}

size_t CharacterLength(const uint16 *Text) {
    return Text[0] >= 0xD800 && Text[0] <= 0xDBFF && Text[1] >= 0xDC00 && Text[1] <= 0xDFFF ? 2 : 1;
}

// Destinations: Size counts units with the terminator; a character either
// fits whole or is refused.
class Utf8Output {
  public:
    Utf8Output(char *Destination, int32 Size) : Destination(Destination), Room(Size - 1) {}
    bool PutCodePoint(uint32 CodePoint) {
        int32 bytes = 0;
        CharUtf64_CopyToUtf8(CodePoint, Destination + Used, Room - Used, &bytes);
        Used += bytes;
        return bytes > 0;
    }
    bool PutUnits(const char *Units, size_t Count) {
        if (Count > size_t(Room - Used)) return false;
        memcpy(Destination + Used, Units, Count);
        Used += int32(Count);
        return true;
    }
    void Finish() { Destination[Used] = 0; }

  private:
    char *Destination;
    int32 Room;
    int32 Used = 0;
};

class Utf16Output {
  public:
    Utf16Output(uint16 *Destination, int32 Units) : Destination(Destination), Room(Units - 1) {}
    bool PutCodePoint(uint32 CodePoint) {
        if (CodePoint < 0x10000) {
            const uint16 unit = uint16(CodePoint);
            return PutUnits(&unit, 1);
        }
        const uint16 pair[2] = {uint16(0xD800 + ((CodePoint - 0x10000) >> 10)),
                                uint16(0xDC00 + ((CodePoint - 0x10000) & 0x3FF))};
        return PutUnits(pair, 2);
    }
    bool PutUnits(const uint16 *Units, size_t Count) {
        if (Count > size_t(Room - Used)) return false;
        memcpy(Destination + Used, Units, Count * sizeof(uint16));
        Used += int32(Count);
        return true;
    }
    void Finish() { Destination[Used] = 0; }

  private:
    uint16 *Destination;
    int32 Room;
    int32 Used = 0;
};

// The reference whose "&" is at Ampersand and whose ";" is at Semicolon:
// the name after the run of "&" and "#" is looked up first; failing that,
// an "&" followed by "#" or "&" is read as a number.
template <typename Unit>
bool ReadReference(const Unit *Source, size_t Ampersand, size_t Semicolon, uint32 *CodePoint) {
    size_t start = Ampersand;
    while (Source[start] == '&' || Source[start] == '#') start++;
    if (Semicolon - start <= MaxNameLength) {
        char name[MaxNameLength + 1];
        bool ascii = true;
        for (size_t i = start; i < Semicolon; i++) {
            ascii = ascii && Source[i] > 0 && Source[i] < 0x80;
            name[i - start] = char(Source[i]);
        }
        name[Semicolon - start] = 0;
        if (ascii && FindEntity(name, CodePoint)) return true;
    }
    if (Source[Ampersand + 1] != '#' && Source[Ampersand + 1] != '&') return false;
    *CodePoint = ReadReferenceNumber(Source + start, true);
    return *CodePoint != 0;
}

template <typename Unit, typename Output>
int32 DecodeHtml(const Unit *Source, Output &Out) {
    size_t semicolon = 0;
    bool noSemicolon = false;
    for (size_t i = 0;;) {
        const Unit c = Source[i];
        if (c == 0) {
            Out.Finish();
            return 1;
        }
        if (c == '\r' || c == '\n') {
            i++;
            continue;
        }
        if (c == '&' && !noSemicolon) {
            if (semicolon <= i) {
                size_t j = i + 1;
                while (Source[j] != 0 && Source[j] != ';') j++;
                semicolon = j;
                noSemicolon = Source[j] == 0;
            }
            uint32 codePoint = 0;
            if (!noSemicolon && ReadReference(Source, i, semicolon, &codePoint)) {
                if (!Out.PutCodePoint(codePoint)) break;
                i = semicolon + 1;
                continue;
            }
        }
        const size_t length = c == '&' ? 1 : CharacterLength(Source + i);
        if (!Out.PutUnits(Source + i, length)) break;
        i += length;
    }
    Out.Finish();
    return 0;
}

}  // namespace

int32 StringUtf8_DecodeHtml(const char *Source, char *Destination, int32 Size) {
    Debug_CheckPointer(Source);
    Debug_CheckPointer(Destination);
    if (Size < 1) return Source[0] == 0;
    Utf8Output out(Destination, Size);
    return DecodeHtml(Source, out);
}

int32 StringUtf16_DecodeHtml(const uint16 *Source, uint16 *Destination, int32 Units) {
    Debug_CheckPointer(Source);
    Debug_CheckPointer(Destination);
    if (Units < 1) return Source[0] == 0;
    Utf16Output out(Destination, Units);
    return DecodeHtml(Source, out);
}

int32 StringUtf8_EncodeString(const char *Source, char *Destination, int32 Size) {
    Debug_CheckPointer(Source);
    Debug_CheckPointer(Destination);
    if (Size < 1) return 1;
    Utf8Output out(Destination, Size);
    for (const char *p = Source; *p != 0;) {
        if (uint8(*p) < 0x80) {
            if (!out.PutUnits(p, 1)) break;
            p++;
            continue;
        }
        uint16 unit = 0;
        int32 length = 0;
        uint32 codePoint = UNICODE_REPLACEMENT;
        // The 16-bit converter validates; a 4-byte sequence it accepts is
        // decoded here in full, since the unit cannot hold it.
        if (CharUtf8_ConvertToUtf16(p, &unit, &length)) {
            codePoint = unit;
            if (length == 4)
                codePoint = (uint32(p[0]) & 7) << 18 | (uint32(p[1]) & 63) << 12 | (uint32(p[2]) & 63) << 6 |
                            (uint32(p[3]) & 63);
        }
        char reference[16] = "&#";
        char *end = std::to_chars(reference + 2, reference + sizeof(reference) - 1, codePoint).ptr;
        *end++ = ';';
        if (!out.PutUnits(reference, size_t(end - reference))) break;
        p += length > 0 ? length : 1;
    }
    out.Finish();
    return 1;
}

int32 StringUtf8_DecodeString(const char *Source, char *Destination, int32 Size) {
    Debug_CheckPointer(Source);
    Debug_CheckPointer(Destination);
    if (Size < 1) return 1;
    Utf8Output out(Destination, Size);
    for (size_t i = 0; Source[i] != 0;) {
        if ((Source[i] == '&' || Source[i] == '#') && Source[i + 1] == '#') {
            const uint32 codePoint = ReadReferenceNumber(Source + i + 2, false);
            if (codePoint != 0) {
                if (!out.PutCodePoint(codePoint)) break;
                i += 2;
                while (Source[i] != 0 && Source[i] != ';') i++;
                if (Source[i] == ';') i++;
                continue;
            }
        }
        const size_t length = CharacterLength(Source + i);
        if (!out.PutUnits(Source + i, length)) break;
        i += length;
    }
    out.Finish();
    return 1;
}
