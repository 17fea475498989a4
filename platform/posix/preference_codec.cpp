// The XML property-list reader and writer. The reader is a small recursive
// descent over the handful of elements a property list has; it keeps to
// what an XML 1.0 parser accepts (expat under plistlib), so a file either
// means the same to both or is refused by both.
#include <charconv>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <numeric>

#include "platform/posix/preference_value.h"
#include "runtime/text/base64.h"

namespace {

using Kind = PreferenceValue::Kind;

bool IsSpace(char Ch) { return Ch == ' ' || Ch == '\t' || Ch == '\n' || Ch == '\r'; }

bool IsNameChar(char Ch) {
    return (Ch >= 'a' && Ch <= 'z') || (Ch >= 'A' && Ch <= 'Z') || (Ch >= '0' && Ch <= '9') || Ch == '-' ||
           Ch == '_' || Ch == ':' || Ch == '.' || (uint8)Ch >= 0x80;
}

std::string_view Trim(std::string_view Text) {
    while (!Text.empty() && IsSpace(Text.front())) Text.remove_prefix(1);
    while (!Text.empty() && IsSpace(Text.back())) Text.remove_suffix(1);
    return Text;
}

// A key given more than once keeps its first place and takes its last
// value. Found by sorting, not by a search per member (the cost of which
// grew with the square of the members) nor by hashing (whose worst case
// keys could be chosen for): n log n comparisons at most.
void MergeRepeated(std::vector<PreferenceMember> &Members) {
    std::vector<size_t> Order(Members.size());
    std::iota(Order.begin(), Order.end(), 0);
    std::stable_sort(Order.begin(), Order.end(), [&](size_t A, size_t B) { return Members[A].Key < Members[B].Key; });
    std::vector<bool> Dropped(Members.size());
    bool Any = false;
    for (size_t Run = 0, End; Run < Order.size(); Run = End) {
        for (End = Run + 1; End < Order.size() && Members[Order[End]].Key == Members[Order[Run]].Key; End++)
            Dropped[Order[End]] = Any = true;
        if (End - Run > 1) Members[Order[Run]].Value = std::move(Members[Order[End - 1]].Value);
    }
    if (!Any) return;
    size_t Kept = 0;
    for (size_t Index = 0; Index < Members.size(); Index++) {
        if (Dropped[Index]) continue;
        if (Kept != Index) Members[Kept] = std::move(Members[Index]);
        Kept++;
    }
    Members.resize(Kept);
}

void AppendUtf8(std::string &Out, uint32 Code) {
    if (Code < 0x80) {
        Out += (char)Code;
    } else if (Code < 0x800) {
        Out += (char)(0xC0 | (Code >> 6));
        Out += (char)(0x80 | (Code & 0x3F));
    } else if (Code < 0x10000) {
        Out += (char)(0xE0 | (Code >> 12));
        Out += (char)(0x80 | ((Code >> 6) & 0x3F));
        Out += (char)(0x80 | (Code & 0x3F));
    } else {
        Out += (char)(0xF0 | (Code >> 18));
        Out += (char)(0x80 | ((Code >> 12) & 0x3F));
        Out += (char)(0x80 | ((Code >> 6) & 0x3F));
        Out += (char)(0x80 | (Code & 0x3F));
    }
}

// Days from 1970-01-01 to a civil date (proleptic Gregorian), and back.
int64 DaysFromCivil(int64 Year, int64 Month, int64 Day) {
    Year -= Month <= 2;
    const int64 Era = (Year >= 0 ? Year : Year - 399) / 400;
    const int64 YearOfEra = Year - Era * 400;
    const int64 DayOfYear = (153 * (Month + (Month > 2 ? -3 : 9)) + 2) / 5 + Day - 1;
    const int64 DayOfEra = YearOfEra * 365 + YearOfEra / 4 - YearOfEra / 100 + DayOfYear;
    return Era * 146097 + DayOfEra - 719468;
}

void CivilFromDays(int64 Days, int64 &Year, int64 &Month, int64 &Day) {
    Days += 719468;
    const int64 Era = (Days >= 0 ? Days : Days - 146096) / 146097;
    const int64 DayOfEra = Days - Era * 146097;
    const int64 YearOfEra = (DayOfEra - DayOfEra / 1460 + DayOfEra / 36524 - DayOfEra / 146096) / 365;
    const int64 DayOfYear = DayOfEra - (365 * YearOfEra + YearOfEra / 4 - YearOfEra / 100);
    const int64 MonthIndex = (5 * DayOfYear + 2) / 153;
    Day = DayOfYear - (153 * MonthIndex + 2) / 5 + 1;
    Month = MonthIndex < 10 ? MonthIndex + 3 : MonthIndex - 9;
    Year = YearOfEra + Era * 400 + (Month <= 2);
}

bool IsLeap(int64 Year) { return (Year % 4 == 0 && Year % 100 != 0) || Year % 400 == 0; }

// plistlib's date form: YYYY[-MM[-DD[THH[:MM[:SS]]]]]Z, in UTC.
bool ParseDate(std::string_view Text, int64 &Seconds) {
    int64 Fields[6] = {0, 1, 1, 0, 0, 0};
    const char Separators[6] = {0, '-', '-', 'T', ':', ':'};
    size_t At = 0;
    auto Digits = [&](int32 Count, int64 &Value) {
        if (At + (size_t)Count > Text.size()) return false;
        Value = 0;
        for (int32 Index = 0; Index < Count; Index++) {
            char Ch = Text[At + (size_t)Index];
            if (Ch < '0' || Ch > '9') return false;
            Value = Value * 10 + (Ch - '0');
        }
        At += (size_t)Count;
        return true;
    };
    if (!Digits(4, Fields[0])) return false;
    for (int32 Field = 1; Field < 6 && At < Text.size() && Text[At] == Separators[Field]; Field++) {
        At++;
        if (!Digits(2, Fields[Field])) return false;
    }
    if (At + 1 != Text.size() || Text[At] != 'Z') return false;
    static const int32 MonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (Fields[0] < 1 || Fields[1] < 1 || Fields[1] > 12 || Fields[2] < 1 || Fields[3] > 23 || Fields[4] > 59 ||
        Fields[5] > 59)
        return false;
    if (Fields[2] > MonthDays[Fields[1] - 1] + (Fields[1] == 2 && IsLeap(Fields[0]) ? 1 : 0)) return false;
    Seconds = DaysFromCivil(Fields[0], Fields[1], Fields[2]) * 86400 + Fields[3] * 3600 + Fields[4] * 60 + Fields[5];
    return true;
}

// Decimal with an optional sign, or "0x" hexadecimal, within
// [INT64_MIN, UINT64_MAX].
bool ParseInteger(std::string_view Text, PreferenceValue &Out) {
    bool Negative = false;
    int32 Base = 10;
    if (Text.size() > 2 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X')) {
        Base = 16;
        Text.remove_prefix(2);
    } else if (!Text.empty() && (Text[0] == '-' || Text[0] == '+')) {
        Negative = Text[0] == '-';
        Text.remove_prefix(1);
    }
    if (Text.empty()) return false;
    uint64 Magnitude = 0;
    auto [End, Status] = std::from_chars(Text.data(), Text.data() + Text.size(), Magnitude, Base);
    if (Status != std::errc() || End != Text.data() + Text.size()) return false;
    Out.Type = Kind::Integer;
    Out.Unsigned = false;
    if (Negative) {
        if (Magnitude > (uint64)INT64_MAX + 1) return false;
        Out.Number = (int64)(0 - Magnitude);
    } else {
        Out.Unsigned = Magnitude > (uint64)INT64_MAX;
        Out.Number = (int64)Magnitude;
    }
    return true;
}

bool ParseReal(std::string_view Text, double &Out) {
    if (!Text.empty() && Text[0] == '+') Text.remove_prefix(1);
    if (Text.empty()) return false;
    auto [End, Status] = std::from_chars(Text.data(), Text.data() + Text.size(), Out);
    return Status == std::errc() && End == Text.data() + Text.size();
}

bool DecodeBase64(std::string_view Text, std::string &Out) {
    std::string Compact;
    for (char Ch : Text)
        if (!IsSpace(Ch)) Compact += Ch;
    Out.clear();
    if (Compact.empty()) return true;
    if (Compact.size() > (size_t)INT32_MAX / 2) return false;
    int32 Size = 0, Written = 0;
    Base64_CalculateDecodeSize((int32)Compact.size(), &Size);
    Out.resize((size_t)Size);
    if (!Base64_Decode(Compact.c_str(), (int32)Compact.size(), Out.data(), Size, &Written)) return false;
    Out.resize((size_t)Written);
    return true;
}

struct Tag {
    std::string_view Name;
    bool Closing = false; // </name>
    bool Empty = false;   // <name/>
};

class Reader {
  public:
    explicit Reader(std::string_view Document) : Doc(Document) {}

    bool Document(PreferenceValue &Out) {
        if (Doc.substr(0, 3) == "\xEF\xBB\xBF") Pos = 3;
        if (!Misc(true)) return false;
        Tag Root;
        if (!NextTag(Root)) return false;
        if (Root.Closing || Root.Empty || Root.Name != "plist") return Fail("the root element is not <plist>");
        if (!Misc(false)) return false;
        Tag Open;
        if (!NextTag(Open)) return false;
        if (Open.Closing) return Fail("<plist> holds no value");
        if (!Value(Open, Out, 1)) return false;
        if (!Misc(false)) return false;
        Tag Close;
        if (!NextTag(Close)) return false;
        if (!Close.Closing || Close.Name != "plist") return Fail("<plist> holds more than one value");
        if (!Misc(false)) return false;
        if (Pos != Doc.size()) return Fail("text after </plist>");
        return true;
    }

    std::string Error;

  private:
    std::string_view Doc;
    size_t Pos = 0;

    bool Fail(const char *Why) {
        if (Error.empty()) {
            char Text[160];
            snprintf(Text, sizeof(Text), "%s (offset %u)", Why, (uint32)Pos);
            Error = Text;
        }
        return false;
    }

    bool StartsWith(std::string_view Prefix) const { return Doc.substr(Pos, Prefix.size()) == Prefix; }

    // Moves behind Terminator; false when the document ends first.
    bool SkipPast(std::string_view Terminator) {
        size_t Found = Doc.find(Terminator, Pos);
        if (Found == std::string_view::npos) return false;
        Pos = Found + Terminator.size();
        return true;
    }

    // White space, comments and processing instructions between elements;
    // the prolog also allows the XML declaration and one document type
    // declaration without an internal subset (no entity declarations).
    bool Misc(bool Prolog) {
        for (;;) {
            while (Pos < Doc.size() && IsSpace(Doc[Pos])) Pos++;
            if (StartsWith("<!--")) {
                Pos += 4;
                if (!SkipPast("-->")) return Fail("unterminated comment");
            } else if (StartsWith("<?")) {
                Pos += 2;
                if (!SkipPast("?>")) return Fail("unterminated processing instruction");
            } else if (Prolog && StartsWith("<!DOCTYPE")) {
                size_t End = Doc.find('>', Pos);
                if (End == std::string_view::npos) return Fail("unterminated document type");
                if (Doc.substr(Pos, End - Pos).find('[') != std::string_view::npos)
                    return Fail("entity declarations are not supported");
                Pos = End + 1;
                Prolog = false;
            } else {
                return true;
            }
        }
    }

    bool NextTag(Tag &Out) {
        Out = Tag();
        if (Pos >= Doc.size() || Doc[Pos] != '<') return Fail("an element was expected");
        Pos++;
        if (Pos < Doc.size() && Doc[Pos] == '/') {
            Out.Closing = true;
            Pos++;
        }
        size_t Start = Pos;
        while (Pos < Doc.size() && IsNameChar(Doc[Pos])) Pos++;
        if (Pos == Start) return Fail("an element name was expected");
        Out.Name = Doc.substr(Start, Pos - Start);
        for (;;) {
            bool Spaced = false;
            while (Pos < Doc.size() && IsSpace(Doc[Pos])) Pos++, Spaced = true;
            if (Pos >= Doc.size()) return Fail("unterminated tag");
            if (Doc[Pos] == '>') {
                Pos++;
                return true;
            }
            if (!Out.Closing && StartsWith("/>")) {
                Pos += 2;
                Out.Empty = true;
                return true;
            }
            if (Out.Closing || !Spaced) return Fail("malformed tag");
            // An attribute: name = "value" (its value is not used).
            size_t NameStart = Pos;
            while (Pos < Doc.size() && IsNameChar(Doc[Pos])) Pos++;
            if (Pos == NameStart) return Fail("malformed attribute");
            while (Pos < Doc.size() && IsSpace(Doc[Pos])) Pos++;
            if (Pos >= Doc.size() || Doc[Pos] != '=') return Fail("malformed attribute");
            Pos++;
            while (Pos < Doc.size() && IsSpace(Doc[Pos])) Pos++;
            if (Pos >= Doc.size() || (Doc[Pos] != '"' && Doc[Pos] != '\'')) return Fail("malformed attribute");
            char Quote = Doc[Pos++];
            size_t End = Doc.find(Quote, Pos);
            if (End == std::string_view::npos) return Fail("unterminated attribute");
            if (Doc.substr(Pos, End - Pos).find('<') != std::string_view::npos) return Fail("malformed attribute");
            Pos = End + 1;
        }
    }

    bool Reference(std::string &Out) {
        size_t End = Doc.find(';', Pos);
        if (End == std::string_view::npos || End - Pos > 12) return Fail("malformed character reference");
        std::string_view Name = Doc.substr(Pos + 1, End - Pos - 1);
        Pos = End + 1;
        if (Name == "lt") Out += '<';
        else if (Name == "gt") Out += '>';
        else if (Name == "amp") Out += '&';
        else if (Name == "quot") Out += '"';
        else if (Name == "apos") Out += '\'';
        else if (Name.size() > 1 && Name[0] == '#') {
            int32 Base = 10;
            Name.remove_prefix(1);
            if (Name[0] == 'x') {
                Base = 16;
                Name.remove_prefix(1);
            }
            uint32 Code = 0;
            auto [Stop, Status] = std::from_chars(Name.data(), Name.data() + Name.size(), Code, Base);
            if (Name.empty() || Status != std::errc() || Stop != Name.data() + Name.size())
                return Fail("malformed character reference");
            bool Valid = Code == '\t' || Code == '\n' || Code == '\r' || (Code >= 0x20 && Code <= 0xD7FF) ||
                         (Code >= 0xE000 && Code <= 0xFFFD) || (Code >= 0x10000 && Code <= 0x10FFFF);
            if (!Valid) return Fail("reference to an invalid character");
            AppendUtf8(Out, Code);
        } else {
            return Fail("unknown entity");
        }
        return true;
    }

    // Character data up to the end tag of Name (already behind the start
    // tag): text, references, CDATA sections and comments.
    bool Text(std::string_view Name, std::string &Out) {
        Out.clear();
        for (;;) {
            if (Pos >= Doc.size()) return Fail("unterminated element");
            char Ch = Doc[Pos];
            if (Ch == '&') {
                if (!Reference(Out)) return false;
            } else if (Ch == '<') {
                if (StartsWith("<![CDATA[")) {
                    size_t End = Doc.find("]]>", Pos + 9);
                    if (End == std::string_view::npos) return Fail("unterminated CDATA section");
                    std::string_view Raw = Doc.substr(Pos + 9, End - Pos - 9);
                    if (!PreferenceText_IsValid(Raw)) return Fail("invalid character");
                    for (size_t Index = 0; Index < Raw.size(); Index++) AppendRaw(Out, Raw, Index);
                    Pos = End + 3;
                } else if (StartsWith("<!--")) {
                    Pos += 4;
                    if (!SkipPast("-->")) return Fail("unterminated comment");
                } else if (StartsWith("<?")) {
                    Pos += 2;
                    if (!SkipPast("?>")) return Fail("unterminated processing instruction");
                } else {
                    Tag Close;
                    if (!NextTag(Close)) return false;
                    if (!Close.Closing || Close.Name != Name) return Fail("unexpected element inside text");
                    return true;
                }
            } else {
                size_t End = Doc.find_first_of("<&", Pos);
                if (End == std::string_view::npos) End = Doc.size();
                std::string_view Raw = Doc.substr(Pos, End - Pos);
                if (!PreferenceText_IsValid(Raw)) return Fail("invalid character");
                if (Raw.find("]]>") != std::string_view::npos) return Fail("\"]]>\" in text");
                for (size_t Index = 0; Index < Raw.size(); Index++) AppendRaw(Out, Raw, Index);
                Pos = End;
            }
        }
    }

    // XML reads a carriage return, alone or before a line feed, as a line feed.
    static void AppendRaw(std::string &Out, std::string_view Raw, size_t &Index) {
        if (Raw[Index] != '\r') {
            Out += Raw[Index];
            return;
        }
        Out += '\n';
        if (Index + 1 < Raw.size() && Raw[Index + 1] == '\n') Index++;
    }

    bool TextOf(const Tag &Open, std::string &Out) {
        if (Open.Empty) {
            Out.clear();
            return true;
        }
        return Text(Open.Name, Out);
    }

    bool Value(const Tag &Open, PreferenceValue &Out, int32 Depth) {
        if (Depth > PREFERENCE_MAX_DEPTH) return Fail("nesting too deep");
        Out = PreferenceValue();
        const std::string_view Name = Open.Name;
        std::string Content;
        if (Name == "dict") {
            Out.Type = Kind::Dictionary;
            if (Open.Empty) return true;
            for (;;) {
                if (!Misc(false)) return false;
                Tag Key;
                if (!NextTag(Key)) return false;
                if (Key.Closing && Key.Name == "dict") return MergeRepeated(Out.Members), true;
                if (Key.Closing || Key.Name != "key") return Fail("<key> expected in <dict>");
                if (!TextOf(Key, Content)) return false;
                if (!Misc(false)) return false;
                Tag Inner;
                if (!NextTag(Inner)) return false;
                if (Inner.Closing) return Fail("<key> without a value");
                PreferenceValue Member;
                if (!Value(Inner, Member, Depth + 1)) return false;
                Out.Members.push_back({std::move(Content), std::move(Member)});
            }
        }
        if (Name == "array") {
            Out.Type = Kind::Array;
            if (Open.Empty) return true;
            for (;;) {
                if (!Misc(false)) return false;
                Tag Inner;
                if (!NextTag(Inner)) return false;
                if (Inner.Closing && Inner.Name == "array") return true;
                if (Inner.Closing) return Fail("mismatched end tag");
                Out.Items.emplace_back();
                if (!Value(Inner, Out.Items.back(), Depth + 1)) return false;
            }
        }
        if (Name == "true" || Name == "false") {
            Out.Type = Kind::Boolean;
            Out.Number = Name == "true";
            if (!TextOf(Open, Content)) return false;
            return Content.empty() ? true : Fail("text inside a Boolean");
        }
        if (!TextOf(Open, Content)) return false;
        if (Name == "string") {
            Out.Type = Kind::String;
            Out.Text = std::move(Content);
            return true;
        }
        if (Name == "data") {
            Out.Type = Kind::Data;
            return DecodeBase64(Content, Out.Text) ? true : Fail("malformed Base64 data");
        }
        if (Name == "integer") return ParseInteger(Trim(Content), Out) ? true : Fail("malformed integer");
        if (Name == "real") {
            Out.Type = Kind::Real;
            return ParseReal(Trim(Content), Out.Real) ? true : Fail("malformed real");
        }
        if (Name == "date") {
            Out.Type = Kind::Date;
            return ParseDate(Trim(Content), Out.Number) ? true : Fail("malformed date");
        }
        return Fail("unknown element");
    }
};

void Escape(std::string &Out, std::string_view Text) {
    for (char Ch : Text) {
        switch (Ch) {
        case '&': Out += "&amp;"; break;
        case '<': Out += "&lt;"; break;
        case '>': Out += "&gt;"; break;
        // A raw carriage return would be read back as a line feed.
        case '\r': Out += "&#13;"; break;
        default: Out += Ch;
        }
    }
}

void Write(std::string &Out, const PreferenceValue &Value, int32 Indent) {
    const std::string Tabs((size_t)Indent, '\t');
    Out += Tabs;
    char Number[160];
    switch (Value.Type) {
    case Kind::Dictionary:
        if (Value.Members.empty()) {
            Out += "<dict/>\n";
            return;
        }
        Out += "<dict>\n";
        for (const PreferenceMember &Member : Value.Members) {
            Out += Tabs + "\t<key>";
            Escape(Out, Member.Key);
            Out += "</key>\n";
            Write(Out, Member.Value, Indent + 1);
        }
        Out += Tabs + "</dict>\n";
        return;
    case Kind::Array:
        if (Value.Items.empty()) {
            Out += "<array/>\n";
            return;
        }
        Out += "<array>\n";
        for (const PreferenceValue &Item : Value.Items) Write(Out, Item, Indent + 1);
        Out += Tabs + "</array>\n";
        return;
    case Kind::String:
        Out += "<string>";
        Escape(Out, Value.Text);
        Out += "</string>\n";
        return;
    case Kind::Data: {
        int32 Size = 0, Written = 0;
        Base64_CalculateEncodeSize((int32)Value.Text.size(), &Size);
        std::string Encoded((size_t)Size, '\0');
        Base64_Encode(Value.Text.data(), (int32)Value.Text.size(), Encoded.data(), Size, &Written);
        Encoded.resize((size_t)Written);
        Out += "<data>" + Encoded + "</data>\n";
        return;
    }
    case Kind::Integer:
        if (Value.Unsigned)
            snprintf(Number, sizeof(Number), "%llu", (unsigned long long)(uint64)Value.Number);
        else
            snprintf(Number, sizeof(Number), "%lld", (long long)Value.Number);
        Out += std::string("<integer>") + Number + "</integer>\n";
        return;
    case Kind::Real: {
        // The shortest text that reads back as the same double.
        auto [End, Status] = std::to_chars(Number, Number + sizeof(Number) - 1, Value.Real);
        *End = 0;
        (void)Status;
        Out += std::string("<real>") + Number + "</real>\n";
        return;
    }
    case Kind::Boolean:
        Out += Value.Number ? "<true/>\n" : "<false/>\n";
        return;
    case Kind::Date: {
        int64 Days = Value.Number >= 0 ? Value.Number / 86400 : -((-Value.Number + 86399) / 86400);
        int64 Rest = Value.Number - Days * 86400, Year, Month, Day;
        CivilFromDays(Days, Year, Month, Day);
        snprintf(Number, sizeof(Number), "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", (long long)Year,
                     (long long)Month, (long long)Day, (long long)(Rest / 3600), (long long)(Rest / 60 % 60),
                     (long long)(Rest % 60));
        Out += std::string("<date>") + Number + "</date>\n";
        return;
    }
    }
}

} // namespace

bool PreferenceCodec_Read(std::string_view Document, PreferenceValue &Out, std::string *Error) {
    Reader Parser(Document);
    PreferenceValue Value;
    if (!Parser.Document(Value)) {
        if (Error != nullptr) *Error = Parser.Error;
        return false;
    }
    Out = std::move(Value);
    return true;
}

std::string PreferenceCodec_Write(const PreferenceValue &Value) {
    std::string Out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                      "<plist version=\"1.0\">\n";
    Write(Out, Value, 0);
    Out += "</plist>\n";
    return Out;
}
