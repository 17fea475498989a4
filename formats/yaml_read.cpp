// YAML reader. Input is gathered into lines; each line is taken whole under
// the state the lines before it left: inside a quoted scalar, inside a flow
// collection, or in block context, where the line's indentation closes the
// deeper collections and joins or opens the one its key or "- " belongs to.
// A plain scalar stays pending for one line, since a more deeply indented
// line that is neither a key nor an entry continues it.
//
// Nothing is read ahead of the line in hand, so a document may arrive in
// pieces of any size (YAML_Scan); the line buffer grows only with a line
// that arrived in several pieces, the value buffer with the scalar.
#include <string.h>
#include <strings.h>

#include "formats/yaml.h"
#include "formats/yaml_internal.h"
#include "runtime/documents/document_stream.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/text/unicode_codec.h"

namespace {

// A stream's text pinned for the scope: released however the scope ends, so
// that a read given up (an allocation that throws) leaves no pin behind for
// the reset that follows.
struct PinnedText {
    MemoryStream *Stream;
    char *Text = nullptr;
    explicit PinnedText(MemoryStream *Of) : Stream(Of) { MemoryStream_GetPointer(Stream, &Text); }
    ~PinnedText() { MemoryStream_ReleasePointer(Stream, &Text); }
    PinnedText(const PinnedText &) = delete;
    PinnedText &operator=(const PinnedText &) = delete;
};

constexpr int32 ChunkSize = 4096;
// Key segments keep the terminator, so the longest key is one byte shorter.
constexpr int32 MaxKeyLength = YAML_KEY_SIZE - 2;
// Open collections at once.
constexpr int32 MaxOpen = YAML_MAX_LEVELS - 1;

bool IsBlank(char Character) { return Character == ' ' || Character == '\t'; }
bool IsDigit(char Character) { return Character >= '0' && Character <= '9'; }
bool IsBlock(int32 Kind) { return Kind == YAML_TYPE_SEQUENCE || Kind == YAML_TYPE_MAP_KEY; }
bool IsMapping(int32 Kind) { return Kind == YAML_TYPE_MAP_KEY || Kind == YAML_TYPE_FLOW_MAP; }

int32 HexValue(char Digit) {
    if (Digit >= '0' && Digit <= '9') return Digit - '0';
    if (Digit >= 'a' && Digit <= 'f') return Digit - 'a' + 10;
    if (Digit >= 'A' && Digit <= 'F') return Digit - 'A' + 10;
    return -1;
}

// Decimal with at most one point and an optional exponent, 0x hexadecimal or
// 0o octal; a leading sign, inside flow collections only "-" before decimals.
bool IsNumber(const char *Text, int32 Length, bool Flow) {
    int32 i = 0;
    const bool Signed = Length > 0 && (Text[0] == '-' || (!Flow && Text[0] == '+'));
    if (Signed) i++;
    if (!(Flow && Signed) && Length - i >= 3 && Text[i] == '0' && (Text[i + 1] == 'x' || Text[i + 1] == 'o')) {
        const bool Hex = Text[i + 1] == 'x';
        for (int32 j = i + 2; j < Length; j++)
            if (Hex ? HexValue(Text[j]) < 0 : (Text[j] < '0' || Text[j] > '7')) return false;
        return true;
    }
    int32 Digits = 0, Points = 0;
    for (; i < Length && (IsDigit(Text[i]) || Text[i] == '.'); i++) {
        if (Text[i] == '.') {
            if (++Points > 1) return false;
        } else {
            Digits++;
        }
    }
    if (Digits == 0) return false;
    if (i < Length && (Text[i] == 'e' || Text[i] == 'E')) {
        i++;
        if (i < Length && (Text[i] == '+' || Text[i] == '-')) i++;
        const int32 Start = i;
        while (i < Length && IsDigit(Text[i])) i++;
        if (i == Start) return false;
    }
    return i == Length;
}

bool SameWord(const char *Text, int32 Length, const char *Word, bool Flow) {
    const int32 WordLength = (int32)strlen(Word);
    if (Length != WordLength) return false;
    return Flow ? memcmp(Text, Word, (size_t)Length) == 0 : strncasecmp(Text, Word, (size_t)Length) == 0;
}

int32 PlainType(const char *Text, int32 Length, bool Flow) {
    if (SameWord(Text, Length, "null", Flow)) return DICTIONARY_TYPE_NULL;
    if (SameWord(Text, Length, "true", Flow) || SameWord(Text, Length, "false", Flow)) return DICTIONARY_TYPE_BOOLEAN;
    if (IsNumber(Text, Length, Flow)) return DICTIONARY_TYPE_FLOAT64;
    return DICTIONARY_TYPE_STRING;
}

// The value buffer: the scalar being read.
class ValueText {
  public:
    explicit ValueText(MemoryStream *Buffer) : Buffer(Buffer) {}
    void Clear() { MemoryStream_DiscardAll(Buffer); }
    void Append(const void *Data, int32 Length) {
        if (Length <= 0) return;
        uint32 Written = 0;
        MemoryStream_Write(Buffer, Data, (uint32)Length, &Written);
    }
    void Append(char Character) { Append(&Character, 1); }
    int32 Used() const { return MemoryStream_GetUsed(Buffer); }
    // Cuts trailing blanks and tabs, keeping the first Keep bytes.
    void TrimBlanks(int32 Keep) {
        int32 Length = Used();
        if (Length <= Keep) return;
        int32 End = Length;
        {
            PinnedText Pin(Buffer);
            while (End > Keep && IsBlank(Pin.Text[End - 1])) End--;
        }
        if (End < Length) MemoryStream_DiscardEnd(Buffer, Length - End);
    }

  private:
    MemoryStream *Buffer;
};

class Reader {
  public:
    explicit Reader(YAML *Yaml) : Y(Yaml), Value(Yaml->Value) {}

    // One line without its line end.
    void Line(const char *Text, int32 Length) {
        S = Text;
        N = Length;
        Y->Column = 1;
        if (Y->SubState != YAML_TYPE_NONE)
            ContinueQuoted();
        else if (Y->FlowBase >= 0)
            Flow(0);
        else
            Block();
        Y->Line++;
    }

    // The end of the input.
    void Finish() {
        if (Y->Ended) return;
        if (Y->CharCount == 0) {
            Y->LastError = YAML_ERROR_EMPTY;
            Y->Ended = TRUE;
            return;
        }
        Y->Column = 1;
        if (Y->SubState != YAML_TYPE_NONE || Y->FlowBase >= 0) {
            Fail(YAML_ERROR_END_OF_STREAM, "Unexpected end of stream [%d:%d]", Y->Line, Y->Column);
            return;
        }
        CloseDocument();
        Y->Ended = TRUE;
    }

  private:
    YAML *Y;
    ValueText Value;
    const char *S = nullptr;
    int32 N = 0;

    template <typename... Arguments>
    void Fail(int32 Code, const char *Format, Arguments... Values) {
        Y->LastError = Code;
        Y->Ended = TRUE;
        YAML_Print(Y, Format, Values...);
    }

    int32 SkipBlanks(int32 Position) const {
        while (Position < N && IsBlank(S[Position])) Position++;
        return Position;
    }

    bool Waiting(int32 Level) const { return (Y->WaitingBits >> Level) & 1u; }
    void SetWaiting(int32 Level) { Y->WaitingBits |= 1u << Level; }
    void ClearWaiting(int32 Level) { Y->WaitingBits &= ~(1u << Level); }
    YAMLLevel *Top() { return Y->Depth > 0 ? &Y->Levels[Y->Depth - 1] : nullptr; }

    // Whether the value under Key, inside the open levels, is a secret the
    // verbose line masks: its key or that of a level around it names one.
    bool SecretAt(const char *Key) const {
        if (Key != nullptr && Log_IsSecretName(Key, -1)) return true;
        for (int32 Level = 0; Level < Y->Depth; Level++)
            if (Log_IsSecretName(Y->Levels[Level].Key, -1)) return true;
        return false;
    }

    // Stores a value in the innermost open collection (the document's root
    // when none is open), under the waiting key of a mapping.
    Dictionary *Store(int32 Type, const char *Text, int32 Length) {
        Dictionary *Target = Y->Dict;
        const char *Key = nullptr;
        if (Y->Depth > 0) {
            YAMLLevel &Level = Y->Levels[Y->Depth - 1];
            Target = Level.Target;
            if (IsMapping(Level.Kind) && Waiting(Y->Depth - 1)) Key = Level.Key;
            ClearWaiting(Y->Depth - 1);
        }
        Y->ContentSeen = TRUE;
        if (YAML_IsVerboseLevel(Y, YAML_VERBOSELEVEL_PARSE))
            YAML_VerboseLog(Y, YAML_VERBOSELEVEL_PARSE, "Key %s Type %d Value %s [%d:%d]", Key ? Key : "", Type,
                            Text == nullptr ? "" : SecretAt(Key) ? LOG_SECRET_MASK : Text, Y->ScalarLine,
                            Y->ScalarColumn);
        if (Target == nullptr) return nullptr;
        DictionaryItem *Item = nullptr;
        Dictionary_Add(Target, Key, &Item);
        Dictionary_ItemSetType(Target, Item, Type);
        Dictionary *Child = nullptr;
        switch (Type) {
            case DICTIONARY_TYPE_STRING:
            case DICTIONARY_TYPE_FLOAT64: Dictionary_ItemSetBuffer(Target, Item, Text, Length); break;
            case DICTIONARY_TYPE_BOOLEAN:
                Dictionary_ItemSetBoolean(Target, Item, Length == 4 && strncasecmp(Text, "true", 4) == 0);
                break;
            case DICTIONARY_TYPE_LIST:
            case DICTIONARY_TYPE_DICTIONARY: Dictionary_ItemGetDictionaryHandle(Target, Item, &Child); break;
            default: break;
        }
        return Child;
    }

    // Stores the value buffer's text with Type (or typed as a plain scalar
    // when Type is 0), then empties the buffer.
    void StoreValue(int32 Type, bool Flow) {
        Value.Append('\0');
        {
            PinnedText Pin(Y->Value);
            const int32 Length = Value.Used() - 1;
            Store(Type != 0 ? Type : PlainType(Pin.Text, Length, Flow), Pin.Text, Length);
        }
        Value.Clear();
    }

    bool Open(int32 Kind, int32 Indent) {
        if (Y->Depth >= MaxOpen) {
            if (Indent < 0)
                Fail(YAML_ERROR_FIELDTYPE, "Nesting limit exceeded (at most %d levels) [%c @ %d:%d]", MaxOpen,
                     Kind == YAML_TYPE_FLOW_MAP ? '{' : '[', Y->Line, Y->Column);
            else
                Fail(YAML_ERROR_DEPTH, "Nesting limit exceeded (at most %d levels) [%d:%d]", MaxOpen, Y->Line,
                     Y->Column);
            return false;
        }
        const bool IsList = Kind == YAML_TYPE_SEQUENCE || Kind == YAML_TYPE_FLOW_SEQUENCE;
        Dictionary *Child = Store(IsList ? DICTIONARY_TYPE_LIST : DICTIONARY_TYPE_DICTIONARY, "", 0);
        YAMLLevel &Level = Y->Levels[Y->Depth];
        Level.Indent = Indent;
        Level.Kind = Kind;
        Level.Target = Child;
        Level.Key[0] = 0;
        ClearWaiting(Y->Depth);
        Y->Depth++;
        return true;
    }

    // Closes the innermost collection; a key or entry still waiting gets Null.
    void Close() {
        const int32 Level = Y->Depth - 1;
        if (Waiting(Level)) Store(DICTIONARY_TYPE_NULL, nullptr, 0);
        ClearWaiting(Level);
        Y->Levels[Level].Key[0] = 0;
        Y->Levels[Level].Kind = YAML_TYPE_NONE;
        Y->Depth--;
    }

    void CloseDeeper(int32 Indent) {
        while (Y->Depth > 0 && IsBlock(Top()->Kind) && Top()->Indent > Indent) Close();
    }

    void RaisePending() {
        if (!Y->PendingPlain) return;
        Y->PendingPlain = FALSE;
        StoreValue(0, false);
    }

    void CloseDocument() {
        RaisePending();
        while (Y->Depth > 0) Close();
    }

    // ---- Block context ----

    void Block() {
        const int32 Start = SkipBlanks(0);
        if (Start == N) return;
        const char First = S[Start];
        Y->Column = Start + 1;
        // Indentation is spaces; a tab may only follow it, as a separator.
        int32 Spaces = 0;
        while (Spaces < Start && S[Spaces] == ' ') Spaces++;
        if (Y->PendingPlain) {
            if (First != '#' && Spaces > Y->PendingIndent && !StartsEntry(Start) && FindKeyColon(Start) < 0 &&
                !(Start == 0 && IsMarkerLine())) {
                int32 End = Start;
                while (End < N && S[End] != '#') End++;
                Value.Append(' ');
                Value.Append(S + Start, End - Start);
                Value.TrimBlanks(0);
                if (End < N) RaisePending();
                return;
            }
            RaisePending();
        }
        if (First == '#') return;
        // A tab would set the line's column as no reader of the text sees
        // it, and hang the line under another parent without a word.
        if (Spaces < Start) {
            Fail(YAML_ERROR_FIELDTYPE, "Tab in indentation (indent with spaces) [@ %d:%d]", Y->Line, Spaces + 1);
            return;
        }
        if (Start == 0 && N >= 3 && memcmp(S, "---", 3) == 0) {
            DocumentStart();
            return;
        }
        if (Start == 0 && N >= 3 && memcmp(S, "...", 3) == 0 && SkipBlanks(3) == N) {
            CloseDocument();
            // The reader's user learns where, as of any other failure.
            Fail(YAML_ERROR_END_OF_DOCUMENT,
                 "Document end marker (a file holds one document, read to its end) [@ %d:%d]", Y->Line, 1);
            return;
        }
        if (First == '-' && Start + 1 < N && S[Start + 1] == '-') {
            int32 After = Start;
            while (After < N && S[After] == '-') After++;
            YAML_Print(Y, "Unexpected character in document directive [%c @ %d:%d]", After < N ? S[After] : ' ',
                       Y->Line, After + 1);
            return;
        }
        Node(Start, true);
    }

    bool IsMarkerLine() const {
        return N >= 3 && (memcmp(S, "---", 3) == 0 || memcmp(S, "...", 3) == 0);
    }

    bool StartsEntry(int32 Position) const {
        return S[Position] == '-' && (Position + 1 == N || IsBlank(S[Position + 1]));
    }

    // The ":" that makes a plain key: followed by a blank or the line end,
    // before any "#".
    int32 FindKeyColon(int32 Position) const {
        if (S[Position] == '[' || S[Position] == '{' || S[Position] == '"' || S[Position] == '\'') return -1;
        for (int32 i = Position; i < N; i++) {
            if (S[i] == '#') return -1;
            if (S[i] == ':' && (i + 1 == N || IsBlank(S[i + 1]))) return i;
        }
        return -1;
    }

    void DocumentStart() {
        const int32 After = SkipBlanks(3);
        if (After < N && S[After] != '#') {
            Fail(YAML_ERROR_FIELDTYPE, "Unexpected character in document directive [%c @ %d:%d]", S[After], Y->Line,
                 After + 1);
            return;
        }
        if (Y->ContentSeen) {
            CloseDocument();
            Fail(YAML_ERROR_END_OF_DOCUMENT, "Second document (a file holds one document) [@ %d:%d]", Y->Line, 1);
        }
    }

    // A node at Position: an entry, a key, or a value.
    void Node(int32 Position, bool LineStart) {
        Y->Column = Position + 1;
        const char First = S[Position];
        // Whatever a line holds belongs to the collection of its
        // indentation: the deeper ones end before it, and so does a sequence
        // whose dashes stand at its column when it is not an entry.
        if (LineStart) {
            CloseDeeper(Position);
            YAMLLevel *Level = Top();
            if (!StartsEntry(Position) && Level != nullptr && Level->Kind == YAML_TYPE_SEQUENCE &&
                Level->Indent == Position)
                Close();
        }
        if (StartsEntry(Position)) {
            Entry(Position);
            return;
        }
        if (First == '-' && LineStart) {
            Fail(YAML_ERROR_FIELDTYPE, "Unexpected character parsing block sequence [%c @ %d:%d]", S[Position + 1],
                 Y->Line, Position + 2);
            return;
        }
        if (First == '"' || First == '\'') {
            const int32 End = BeginQuoted(Position);
            if (End < 0) return;
            const int32 After = SkipBlanks(End);
            if (After < N && S[After] == ':' && (After + 1 == N || IsBlank(S[After + 1]))) {
                // The key leaves the value buffer for the value behind it.
                char KeyText[YAML_KEY_SIZE];
                const int32 Length = Value.Used();
                char *Text = nullptr;
                MemoryStream_GetPointer(Y->Value, &Text);
                const int32 Kept = Length < (int32)sizeof(KeyText) - 1 ? Length : (int32)sizeof(KeyText) - 1;
                if (Kept > 0) memcpy(KeyText, Text, (size_t)Kept);
                KeyText[Kept] = 0;
                MemoryStream_ReleasePointer(Y->Value, &Text);
                Value.Clear();
                Key(Position, KeyText, Length, After + 1);
                return;
            }
            StoreValue(DICTIONARY_TYPE_STRING, false);
            return;
        }
        const int32 Colon = FindKeyColon(Position);
        if (Colon >= 0) {
            int32 End = Colon;
            while (End > Position && IsBlank(S[End - 1])) End--;
            Key(Position, S + Position, End - Position, Colon + 1);
            return;
        }
        BlockValue(Position);
    }

    void Entry(int32 Indent) {
        CloseDeeper(Indent);
        YAMLLevel *Level = Top();
        if (Level != nullptr && Level->Kind == YAML_TYPE_SEQUENCE && Level->Indent == Indent) {
            if (Waiting(Y->Depth - 1)) Store(DICTIONARY_TYPE_NULL, nullptr, 0);
        } else if (!Open(YAML_TYPE_SEQUENCE, Indent)) {
            return;
        }
        SetWaiting(Y->Depth - 1);
        const int32 Rest = SkipBlanks(Indent + 1);
        if (Rest < N && S[Rest] != '#') Node(Rest, false);
    }

    // A Dictionary keeps keys of at most DICTIONARY_MAX_KEY_LENGTH bytes
    // without a NUL: a key loaded into one that does not fit is refused,
    // since cutting it would make two keys one.
    bool KeyFits(const char *Text, int32 Length, int32 Line, int32 Column) {
        if (Y->Dict == nullptr) return true;
        if (Length > 0 && memchr(Text, 0, (size_t)Length) != nullptr) {
            Fail(YAML_ERROR_FIELDTYPE, "Map key holds a NUL [@ %d:%d]", Line, Column);
            return false;
        }
        if (Length > DICTIONARY_MAX_KEY_LENGTH &&
            Dictionary_KeptKeyLength(Y->Dict, Text, Length) > DICTIONARY_MAX_KEY_LENGTH) {
            Fail(YAML_ERROR_FIELDTYPE, "Map key of %d bytes exceeds the %d-byte key limit [@ %d:%d]", Length,
                 DICTIONARY_MAX_KEY_LENGTH, Line, Column);
            return false;
        }
        return true;
    }

    void Key(int32 Indent, const char *Text, int32 Length, int32 After) {
        if (Length > MaxKeyLength) {
            // Text holds at least the first MaxKeyLength + 1 bytes.
            char Shown[YAML_KEY_SIZE];
            memcpy(Shown, Text, MaxKeyLength + 1);
            Shown[MaxKeyLength + 1] = 0;
            Fail(YAML_ERROR_FIELDTYPE, "Map key exceeded length limit [%s @ %d:%d]", Shown, Y->Line, Indent + 1);
            return;
        }
        if (!KeyFits(Text, Length, Y->Line, Indent + 1)) return;
        CloseDeeper(Indent);
        // A sequence may stand at its key's own indentation; the next key
        // at that column ends it.
        YAMLLevel *Level = Top();
        if (Level != nullptr && Level->Kind == YAML_TYPE_SEQUENCE && Level->Indent == Indent) Close();
        Level = Top();
        if (Level != nullptr && Level->Kind == YAML_TYPE_MAP_KEY && Level->Indent == Indent) {
            if (Waiting(Y->Depth - 1)) Store(DICTIONARY_TYPE_NULL, nullptr, 0);
        } else if (!Open(YAML_TYPE_MAP_KEY, Indent)) {
            return;
        }
        Level = Top();
        memcpy(Level->Key, Text, (size_t)Length);
        Level->Key[Length] = 0;
        SetWaiting(Y->Depth - 1);
        const int32 Rest = SkipBlanks(After);
        if (Rest < N && S[Rest] != '#') BlockValue(Rest);
    }

    void BlockValue(int32 Position) {
        // Reserved indicators are reported and passed over.
        while (S[Position] == '@' || S[Position] == '`') {
            YAML_Print(Y, " Invalid use of Reserved Indicator [%c @ %d:%d]", S[Position], Y->Line, Position + 1);
            Position = SkipBlanks(Position + 1);
            if (Position == N || S[Position] == '#') return;
        }
        Y->Column = Position + 1;
        Y->ScalarLine = Y->Line;
        Y->ScalarColumn = Position + 1;
        switch (S[Position]) {
            case '"':
            case '\'':
                if (BeginQuoted(Position) >= 0) StoreValue(DICTIONARY_TYPE_STRING, false);
                return;
            case '[':
            case '{':
                if (!Open(S[Position] == '[' ? YAML_TYPE_FLOW_SEQUENCE : YAML_TYPE_FLOW_MAP, -1)) return;
                Y->FlowBase = Y->Depth - 1;
                Flow(Position + 1);
                return;
            case '#': return;
            default: break;
        }
        int32 End = Position;
        while (End < N && S[End] != '#') End++;
        Value.Clear();
        Value.Append(S + Position, End - Position);
        Value.TrimBlanks(0);
        Y->PendingPlain = TRUE;
        Y->PendingIndent = Y->Depth > 0 ? Top()->Indent : -1;
        // A comment ends the scalar: no line continues it.
        if (End < N) RaisePending();
    }

    // ---- Flow context ----

    void Flow(int32 Position) {
        while (Position < N && !Y->Ended) {
            const char Character = S[Position];
            if (IsBlank(Character)) {
                Position++;
                continue;
            }
            Y->Column = Position + 1;
            if (Y->FlowBase < 0) {
                // The outermost bracket closed: only a comment may follow.
                if (Character != '#')
                    Fail(YAML_ERROR_FIELDTYPE, "Unknown field type [%c @ %d:%d]", Character, Y->Line, Position + 1);
                return;
            }
            YAMLLevel *Level = Top();
            // In a mapping still without a key, ":" ends the key.
            const bool KeyNext = Level->Kind == YAML_TYPE_FLOW_MAP && !Waiting(Y->Depth - 1);
            if (Y->PendingPlain) {
                // A plain scalar that reached the end of a line goes on in
                // the next one, folded with one blank, up to an indicator.
                Y->PendingPlain = FALSE;
                if (!EndsFlowPlain(Character, KeyNext)) {
                    Value.Append(' ');
                    Position = FlowPlain(Position, KeyNext);
                    continue;
                }
                FlowScalar(0);
                if (Y->Ended) return;
            }
            switch (Character) {
                case '#': return;
                case '[':
                case '{':
                    if (!Open(Character == '[' ? YAML_TYPE_FLOW_SEQUENCE : YAML_TYPE_FLOW_MAP, -1)) return;
                    Position++;
                    continue;
                case ']':
                case '}':
                    if (Level->Kind != (Character == ']' ? YAML_TYPE_FLOW_SEQUENCE : YAML_TYPE_FLOW_MAP)) {
                        Fail(YAML_ERROR_FIELDTYPE, "Unknown field type [%c @ %d:%d]", Character, Y->Line,
                             Position + 1);
                        return;
                    }
                    Close();
                    if (Y->Depth == Y->FlowBase) Y->FlowBase = -1;
                    Position++;
                    continue;
                case ',':
                    if (Level->Kind == YAML_TYPE_FLOW_MAP && Waiting(Y->Depth - 1))
                        Store(DICTIONARY_TYPE_NULL, nullptr, 0);
                    Position++;
                    continue;
                case ':': Position++; continue;
                case '"':
                case '\'': {
                    Y->ScalarLine = Y->Line;
                    Y->ScalarColumn = Position + 1;
                    const int32 End = BeginQuoted(Position);
                    if (End < 0) return;
                    FlowScalar(DICTIONARY_TYPE_STRING);
                    Position = End;
                    continue;
                }
                case '@':
                case '`':
                    YAML_Print(Y, " Invalid use of Reserved Indicator [%c @ %d:%d]", Character, Y->Line,
                               Position + 1);
                    Position++;
                    continue;
                default: break;
            }
            Y->ScalarLine = Y->Line;
            Y->ScalarColumn = Position + 1;
            Value.Clear();
            Position = FlowPlain(Position, KeyNext);
        }
    }

    static bool EndsFlowPlain(char Character, bool KeyNext) {
        return Character == ',' || Character == ']' || Character == '}' || Character == '#' ||
               (KeyNext && Character == ':');
    }

    // Adds this line's part of a plain scalar to the value buffer and
    // answers where it ends. At the line's end the scalar may go on in the
    // next line and stays pending; otherwise it is stored.
    int32 FlowPlain(int32 Position, bool KeyNext) {
        int32 End = Position;
        while (End < N && !EndsFlowPlain(S[End], KeyNext)) End++;
        Value.Append(S + Position, End - Position);
        Value.TrimBlanks(0);
        if (End == N)
            Y->PendingPlain = TRUE;
        else
            FlowScalar(0);
        return End;
    }

    // A scalar of a flow collection in the value buffer: the key of a mapping
    // member still without one, else a value.
    void FlowScalar(int32 Type) {
        const int32 Level = Y->Depth - 1;
        if (Y->Levels[Level].Kind == YAML_TYPE_FLOW_MAP && !Waiting(Level)) {
            const int32 Length = Value.Used();
            if (Length > MaxKeyLength) {
                Value.Clear();
                Fail(YAML_ERROR_FIELDTYPE, "Map key exceeded length limit [%s @ %d:%d]", "", Y->ScalarLine,
                     Y->ScalarColumn);
                return;
            }
            char *Text = nullptr;
            MemoryStream_GetPointer(Y->Value, &Text);
            if (!KeyFits(Text, Length, Y->ScalarLine, Y->ScalarColumn)) {
                MemoryStream_ReleasePointer(Y->Value, &Text);
                Value.Clear();
                return;
            }
            if (Length > 0) memcpy(Y->Levels[Level].Key, Text, (size_t)Length);
            Y->Levels[Level].Key[Length] = 0;
            MemoryStream_ReleasePointer(Y->Value, &Text);
            Value.Clear();
            SetWaiting(Level);
            return;
        }
        StoreValue(Type, true);
    }

    // ---- Quoted scalars ----

    // Starts the quoted scalar at Position (its quote). Answers the position
    // behind the closing quote, or -1 when the scalar goes on past this line
    // or failed.
    int32 BeginQuoted(int32 Position) {
        Value.Clear();
        Y->FoldKeep = 0;
        const int32 Kind = S[Position] == '"' ? YAML_TYPE_DOUBLE_QUOTED : YAML_TYPE_SINGLE_QUOTED;
        return Quoted(Position + 1, Kind);
    }

    void ContinueQuoted() {
        const int32 Kind = Y->SubState;
        const int32 Start = SkipBlanks(0);
        if (Start == N) {
            Y->FoldBreaks++;
            return;
        }
        if (!Y->FoldNoBlank) {
            if (Y->FoldBreaks <= 1)
                Value.Append(' ');
            else
                for (int32 i = 1; i < Y->FoldBreaks; i++) Value.Append('\n');
        }
        Y->FoldBreaks = 0;
        Y->FoldNoBlank = FALSE;
        Y->FoldKeep = Value.Used();
        const int32 End = Quoted(Start, Kind);
        if (End < 0) return;
        if (Y->FlowBase >= 0) {
            FlowScalar(DICTIONARY_TYPE_STRING);
            Flow(End);
        } else {
            StoreValue(DICTIONARY_TYPE_STRING, false);
        }
    }

    // The rest of a quoted scalar from Position on this line.
    int32 Quoted(int32 Position, int32 Kind) {
        Y->SubState = YAML_TYPE_NONE;
        if (Kind == YAML_TYPE_SINGLE_QUOTED) {
            while (Position < N) {
                const char *Quote = static_cast<const char *>(memchr(S + Position, '\'', (size_t)(N - Position)));
                if (Quote == nullptr) break;
                const int32 At = (int32)(Quote - S);
                Value.Append(S + Position, At - Position);
                if (At + 1 < N && S[At + 1] == '\'') {
                    Value.Append('\'');
                    Y->FoldKeep = Value.Used();
                    Position = At + 2;
                    continue;
                }
                return At + 1;
            }
            Value.Append(S + Position, N - Position);
            LineEndInQuote(Kind, false);
            return -1;
        }
        while (Position < N) {
            int32 At = Position;
            while (At < N && S[At] != '"' && S[At] != '\\') At++;
            Value.Append(S + Position, At - Position);
            if (At == N) break;
            if (S[At] == '"') return At + 1;
            if (At + 1 == N) {
                LineEndInQuote(Kind, true);
                return -1;
            }
            Position = Escape(At);
            if (Position < 0) return -1;
            Y->FoldKeep = Value.Used();
        }
        LineEndInQuote(Kind, false);
        return -1;
    }

    void LineEndInQuote(int32 Kind, bool EscapedBreak) {
        if (!EscapedBreak) Value.TrimBlanks(Y->FoldKeep);
        Y->FoldBreaks = 1;
        Y->FoldNoBlank = EscapedBreak;
        Y->SubState = Kind;
    }

    // The escape whose backslash is at At; answers the position behind it,
    // or -1 after a failure.
    int32 Escape(int32 At) {
        const char Code = S[At + 1];
        const int32 Column = At + 2;
        char Single = 0;
        switch (Code) {
            case '0': Single = 0; break;
            case 'a': Single = 7; break;
            case 'b': Single = 8; break;
            case 't':
            case '\t': Single = 9; break;
            case 'n': Single = 10; break;
            case 'v': Single = 11; break;
            case 'f': Single = 12; break;
            case 'r': Single = 13; break;
            case 'e': Single = 27; break;
            case ' ':
            case '"':
            case '/':
            case '\\': Single = Code; break;
            case 'N': Value.Append("\xC2\x85", 2); return At + 2;
            case '_': Value.Append("\xC2\xA0", 2); return At + 2;
            case 'L': Value.Append("\xE2\x80\xA8", 3); return At + 2;
            case 'P': Value.Append("\xE2\x80\xA9", 3); return At + 2;
            case 'x': return Unicode(At, 2);
            case 'u': return Unicode(At, 4);
            case 'U': return Unicode(At, 8);
            default:
                Fail(YAML_ERROR_ESCAPE, "Unexpected escape character in string [%c @ %d:%d]", Code, Y->Line, Column);
                return -1;
        }
        Value.Append(Single);
        return At + 2;
    }

    // Hex digits after the escape letter at At + 1; 0 when they are not all
    // there and hexadecimal.
    bool ReadHex(int32 From, int32 Digits, uint32 *CodePoint) {
        uint32 Result = 0;
        for (int32 i = 0; i < Digits; i++) {
            const int32 Digit = From + i < N ? HexValue(S[From + i]) : -1;
            if (Digit < 0) return false;
            Result = (Result << 4) | (uint32)Digit;
        }
        *CodePoint = Result;
        return true;
    }

    int32 Unicode(int32 At, int32 Digits) {
        const int32 From = At + 2;
        uint32 CodePoint = 0;
        if (!ReadHex(From, Digits, &CodePoint)) {
            char Shown[9] = {0};
            for (int32 i = 0; i < Digits && From + i < N; i++) Shown[i] = S[From + i];
            Fail(YAML_ERROR_ESCAPE, "Unexpected Unicode hex characters [%.4s @ %d:%d]", Shown, Y->Line, From + 1);
            return -1;
        }
        int32 Next = From + Digits;
        if (CodePoint > 0x10FFFF) {
            Fail(YAML_ERROR_ESCAPE, "Unexpected Unicode character value [\\u%0x @ %d:%d]", CodePoint, Y->Line,
                 From + 1);
            return -1;
        }
        // A high surrogate joins the low one of a following \u escape; a
        // lone half is U+FFFD.
        if (unicode::IsHighSurrogate(CodePoint)) {
            uint32 Low = 0;
            if (Next + 1 < N && S[Next] == '\\' && S[Next + 1] == 'u' && ReadHex(Next + 2, 4, &Low) &&
                unicode::IsLowSurrogate(Low)) {
                CodePoint = unicode::CombineSurrogates(CodePoint, Low);
                Next += 6;
            } else {
                CodePoint = unicode::Replacement;
            }
        } else if (unicode::IsLowSurrogate(CodePoint)) {
            CodePoint = unicode::Replacement;
        }
        char Bytes[4];
        Value.Append(Bytes, unicode::EncodeUtf8(CodePoint, Bytes));
        return Next;
    }
};

// Takes one complete line (without its line feed): a carriage return before
// the line feed is dropped, one inside the line ends a line of its own.
void TakeLine(YAML *Yaml, const char *Text, int32 Length) {
    if (Length > 0 && Text[Length - 1] == '\r') Length--;
    // A byte order mark before the first line is not part of it.
    if (Yaml->Line == 1 && Length >= 3 && memcmp(Text, "\xEF\xBB\xBF", 3) == 0) {
        Text += 3;
        Length -= 3;
    }
    Reader Read(Yaml);
    while (!Yaml->Ended) {
        const char *Return = static_cast<const char *>(memchr(Text, '\r', (size_t)Length));
        const int32 Piece = Return != nullptr ? (int32)(Return - Text) : Length;
        Read.Line(Text, Piece);
        if (Return == nullptr) break;
        Text += Piece + 1;
        Length -= Piece + 1;
    }
}

// Feeds bytes: whole lines are taken at once, the rest waits in the line
// buffer for its line end.
void Feed(YAML *Yaml, const char *Bytes, int32 Length) {
    while (Length > 0 && !Yaml->Ended) {
        const char *Feed = static_cast<const char *>(memchr(Bytes, '\n', (size_t)Length));
        const int32 Piece = Feed != nullptr ? (int32)(Feed - Bytes) : Length;
        uint32 Written = 0;
        if (Feed == nullptr) {
            MemoryStream_Write(Yaml->LineBuffer, Bytes, (uint32)Piece, &Written);
            Yaml->CharCount += Piece;
            return;
        }
        if (MemoryStream_GetUsed(Yaml->LineBuffer) == 0) {
            TakeLine(Yaml, Bytes, Piece);
        } else {
            if (Piece > 0) MemoryStream_Write(Yaml->LineBuffer, Bytes, (uint32)Piece, &Written);
            {
                PinnedText Line(Yaml->LineBuffer);
                TakeLine(Yaml, Line.Text, MemoryStream_GetUsed(Yaml->LineBuffer));
            }
            MemoryStream_DiscardAll(Yaml->LineBuffer);
        }
        Yaml->CharCount += Piece + 1;
        Bytes += Piece + 1;
        Length -= Piece + 1;
    }
}

void FinishInput(YAML *Yaml) {
    if (!Yaml->Ended && MemoryStream_GetUsed(Yaml->LineBuffer) > 0) {
        {
            PinnedText Line(Yaml->LineBuffer);
            TakeLine(Yaml, Line.Text, MemoryStream_GetUsed(Yaml->LineBuffer));
        }
        MemoryStream_DiscardAll(Yaml->LineBuffer);
    }
    Reader Read(Yaml);
    Read.Finish();
}

int32 ScanStream(YAML *Yaml, StreamStruct *Stream, int32 *Count) {
    *Count = 0;
    if (Yaml->Ended) return FALSE;
    int64 Length = 0;
    const bool Known = Stream_Length(Stream, &Length) && Length > 0;
    char Chunk[ChunkSize];
    int64 Consumed = 0;
    for (;;) {
        uint32 Want = ChunkSize;
        if (Known) {
            if (Consumed >= Length) return TRUE;
            if (Length - Consumed < ChunkSize) Want = (uint32)(Length - Consumed);
        }
        uint32 Got = 0;
        const int32 Read = Stream_Read(Stream, Chunk, Want, &Got);
        if (Got > Want) Got = Want;
        if (Got == 0) {
            if (!Stream_HasError(Stream)) FinishInput(Yaml);
            return FALSE;
        }
        Feed(Yaml, Chunk, (int32)Got);
        Consumed += Got;
        *Count = Consumed < INT32_MAX ? (int32)Consumed : INT32_MAX;
        if (Yaml->Ended) return FALSE;
        if (!Read && !Known) {
            if (!Stream_HasError(Stream)) FinishInput(Yaml);
            return FALSE;
        }
    }
}

bool StreamsFailed(StreamStruct *Stream, StreamStruct *Base) {
    return Stream_HasError(Stream) || (Base != nullptr && Stream_HasError(Base));
}

int32 LoadDocument(YAML *Yaml, StreamStruct *Stream, StreamStruct *Report) {
    YAML_Reset(Yaml);
    int32 Count = 0;
    while (ScanStream(Yaml, Stream, &Count)) {
    }
    if (StreamsFailed(Stream, Report)) return FALSE;
    if (Yaml->LastError == YAML_ERROR_NONE) return TRUE;
    Stream_SetLastError(Report != nullptr ? Report : Stream, Yaml->LastError);
    return FALSE;
}

} // namespace

int32 YAML_Scan(YAML *Handle, StreamStruct *Stream, int32 *Count) {
    YAML_Check(Handle);
    Debug_CheckPointer(Stream);
    Debug_CheckPointer(Count);
    return ScanStream(Handle, Stream, Count);
}

int32 YAML_LoadStream(YAML *Handle, StreamStruct *Stream) {
    YAML_Check(Handle);
    Debug_CheckPointer(Stream);
    return LoadDocument(Handle, Stream, nullptr);
}

int32 YAML_LoadStreamBuffered(YAML *Handle, StreamStruct *Stream) {
    YAML_Check(Handle);
    Debug_CheckPointer(Stream);
    return DocumentStream_LoadBuffered(
        Stream, [Handle, Stream](StreamStruct *Record) { return LoadDocument(Handle, Record, Stream); });
}

int32 YAML_LoadBuffer(YAML *Handle, const void *Bytes, int32 Size) {
    YAML_Check(Handle);
    return DocumentStream_LoadBuffer(Bytes, Size,
                                     [Handle](StreamStruct *Record) { return LoadDocument(Handle, Record, nullptr); });
}
