// JSON reader: the incremental scanner and the loaders built on it.
//
// The scanner examines one character at a time under the value kind of the
// current level. A character is either consumed or left to be examined again
// under the new state (the character that ends a number or a literal starts
// the next token). Characters are read from the stream in chunks for speed;
// the text of a scalar is appended to the value buffer in runs, so that a
// string costs one copy however it is split between pieces. A scan that ends
// inside a chunk gives the unread bytes back to a stream that can seek, so
// nothing after the top-level value is taken from the caller's stream.
//
// Between values, tokens that lie whole in the chunk (a string without
// escapes, a number in the usual form, a literal with the byte after it)
// are taken in one step each; the per-character states carry on only where a
// token is cut by the end of a piece or takes an unusual form, and they give
// the same result. A buffer load without verbose line or value callback
// reads the caller's bytes where they lie instead of copying them in chunks.
//
// Whole-document loaders treat the end of the input as one blank: a number or
// literal that ends there is complete, anything still open is an error
// ("UnknownLength") instead of a cut document reported as success.
#include <string.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <array>
#include <charconv>
#include <vector>

#include "runtime/containers/dictionary_internal.h"
#include "runtime/documents/document_stream.h"
#include "runtime/documents/json.h"
#include "runtime/log.h"
#include "runtime/documents/json_internal.h"
#include "runtime/memory.h"
#include "runtime/text/string.h"
#include "runtime/text/unicode_codec.h"

namespace {

constexpr int32 ChunkSize = 4096;
// Key segments keep the terminator, so the longest key is one byte shorter.
constexpr int32 MaxKeyLength = JSON_KEY_SIZE - 2;

enum class Outcome { More, Done, Failed };

int32 DictionaryType(int32 Kind) {
    switch (Kind) {
        case JSON_KIND_STRING: return DICTIONARY_TYPE_STRING;
        case JSON_KIND_NUMBER: return DICTIONARY_TYPE_FLOAT64;
        case JSON_KIND_OBJECT: return DICTIONARY_TYPE_DICTIONARY;
        case JSON_KIND_ARRAY: return DICTIONARY_TYPE_LIST;
        case JSON_KIND_BOOLEAN: return DICTIONARY_TYPE_BOOLEAN;
        case JSON_KIND_NULL: return DICTIONARY_TYPE_NULL;
        default: return DICTIONARY_TYPE_UNKNOWN;
    }
}

int32 HexValue(char Digit) {
    if (Digit >= '0' && Digit <= '9') return Digit - '0';
    if (Digit >= 'a' && Digit <= 'f') return Digit - 'a' + 10;
    if (Digit >= 'A' && Digit <= 'F') return Digit - 'A' + 10;
    return -1;
}

// Bytes that end a run of plain string text (a line feed is only counted).
constexpr auto StringStops = [] {
    std::array<bool, 256> Table{};
    Table['"'] = Table['\\'] = Table['\n'] = true;
    return Table;
}();

// The first byte at or after Start (before End) that ends a run of plain
// string text, or End. Sixteen bytes are looked at a time where they can be.
inline int32 FindStringStop(const uint8 *Chunk, int32 Start, int32 End) {
    int32 At = Start;
#if defined(__SSE2__)
    const __m128i Quote = _mm_set1_epi8('"'), Backslash = _mm_set1_epi8('\\'), LineFeed = _mm_set1_epi8('\n');
    for (; At + 16 <= End; At += 16) {
        const __m128i Bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(Chunk + At));
        const __m128i Stops = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(Bytes, Quote), _mm_cmpeq_epi8(Bytes, Backslash)),
                                           _mm_cmpeq_epi8(Bytes, LineFeed));
        const int32 Mask = _mm_movemask_epi8(Stops);
        if (Mask != 0) return At + __builtin_ctz((uint32)Mask);
    }
#endif
    while (At < End && !StringStops[Chunk[At]]) At++;
    return At;
}

// Bytes the number states act on; any other byte ends a number.
constexpr auto NumberBytes = [] {
    std::array<bool, 256> Table{};
    for (const char Byte : "0123456789+-.eE") Table[(uint8)Byte] = true;
    Table[0] = false;
    return Table;
}();

inline bool IsDigit(uint8 Byte) { return (uint8)(Byte - '0') <= 9; }

// The first byte at or after At (before End) that is not a decimal digit,
// or End. Sixteen bytes are looked at a time where they can be: long
// fractions are the common case of coordinates and measurements.
inline int32 SkipDigits(const uint8 *Chunk, int32 At, int32 End) {
#if defined(__SSE2__)
    const __m128i Zero = _mm_set1_epi8('0'), Flip = _mm_set1_epi8((char)0x80), Nine = _mm_set1_epi8((char)(0x80 ^ 9));
    for (; At + 16 <= End; At += 16) {
        const __m128i Bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(Chunk + At));
        // Byte - '0' above 9, compared without sign by moving both into the signed range.
        const __m128i Others = _mm_cmpgt_epi8(_mm_xor_si128(_mm_sub_epi8(Bytes, Zero), Flip), Nine);
        const int32 Mask = _mm_movemask_epi8(Others);
        if (Mask != 0) return At + __builtin_ctz((uint32)Mask);
    }
#endif
    while (At < End && IsDigit(Chunk[At])) At++;
    return At;
}

// The end of a number in the usual form (-?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?)
// that starts at Start and is followed by a byte that ends it, all before
// End; 0 when the text is in any other form or runs to End. The number
// states accept every such text and end it at the same byte, so the states
// are needed only for the other forms.
inline int32 PlainNumberEnd(const uint8 *Chunk, int32 Start, int32 End) {
#if defined(__SSE2__)
    // Most numbers end within sixteen bytes: their digit runs are found in
    // one mask of those bytes. A number reaching the sixteenth byte is
    // measured again below.
    if (End - Start > 16) {
        const uint8 *Bytes = Chunk + Start;
        const __m128i Lane = _mm_loadu_si128(reinterpret_cast<const __m128i *>(Bytes));
        const __m128i Flip = _mm_set1_epi8((char)0x80), Nine = _mm_set1_epi8((char)(0x80 ^ 9));
        const __m128i Others = _mm_cmpgt_epi8(_mm_xor_si128(_mm_sub_epi8(Lane, _mm_set1_epi8('0')), Flip), Nine);
        // Bit i: byte i is not a digit; bit 16 stands for the bytes beyond.
        const uint32 Stops = (uint32)_mm_movemask_epi8(Others) | 0x10000u;
        const auto NextStop = [Stops](int32 From) { return (int32)__builtin_ctz(Stops >> From << From); };
        int32 At = Bytes[0] == '-' ? 1 : 0;
        if (Bytes[At] == '0') {
            At++;
        } else {
            const int32 Next = NextStop(At);
            if (Next == At) return 0;
            At = Next;
        }
        if (At < 16 && Bytes[At] == '.') {
            const int32 Next = NextStop(At + 1);
            if (Next == At + 1) return 0;
            At = Next;
        }
        if (At < 16 && (Bytes[At] == 'e' || Bytes[At] == 'E')) {
            At++;
            if (At < 16 && (Bytes[At] == '+' || Bytes[At] == '-')) At++;
            const int32 Next = NextStop(At);
            if (Next == At && At < 16) return 0;
            At = Next;
        }
        if (At < 16) return NumberBytes[Bytes[At]] ? 0 : Start + At;
    }
#endif
    int32 At = Start;
    if (At < End && Chunk[At] == '-') At++;
    if (At == End) return 0;
    if (Chunk[At] == '0') {
        At++;
    } else if (IsDigit(Chunk[At])) {
        At = SkipDigits(Chunk, At + 1, End);
    } else {
        return 0;
    }
    if (At < End && Chunk[At] == '.') {
        const int32 Digits = ++At;
        At = SkipDigits(Chunk, At, End);
        if (At == Digits) return 0;
    }
    if (At < End && (Chunk[At] == 'e' || Chunk[At] == 'E')) {
        At++;
        if (At < End && (Chunk[At] == '+' || Chunk[At] == '-')) At++;
        const int32 Digits = At;
        while (At < End && IsDigit(Chunk[At])) At++;
        if (At == Digits) return 0;
    }
    if (At == End || NumberBytes[Chunk[At]]) return 0;
    return At;
}

// The length of the key text in Key from Start on, which ends at the first
// NUL (an escaped or raw NUL ends it early; Key[Length] is one). Key is a
// key segment, readable for 16 bytes whatever the key's length.
inline int32 StoredKeyLength(const char *Key, int32 Start, int32 Length) {
#if defined(__SSE2__)
    if (Length < 16) {
        const __m128i Bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(Key));
        const uint32 Nuls = (uint32)_mm_movemask_epi8(_mm_cmpeq_epi8(Bytes, _mm_setzero_si128())) >> Start;
        return (int32)__builtin_ctz(Nuls | 1u << (Length - Start));
    }
#endif
    return (int32)strlen(Key + Start);
}

// The same for a key text of Length bytes (less than 16) before it is
// stored: Text need not be terminated, but 16 bytes from it must be readable.
inline int32 TextKeyLength(const char *Text, int32 Length) {
#if defined(__SSE2__)
    const __m128i Bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(Text));
    const uint32 Nuls = (uint32)_mm_movemask_epi8(_mm_cmpeq_epi8(Bytes, _mm_setzero_si128()));
    return (int32)__builtin_ctz(Nuls | 1u << Length);
#else
    const void *Nul = memchr(Text, 0, (size_t)Length);
    return Nul != nullptr ? (int32)(static_cast<const char *>(Nul) - Text) : Length;
#endif
}

// The byte each one-letter escape stands for; 0 for any other letter.
constexpr auto SimpleEscapes = [] {
    std::array<char, 256> Table{};
    Table['"'] = '"';
    Table['/'] = '/';
    Table['\\'] = '\\';
    Table['b'] = 0x08;
    Table['f'] = 0x0C;
    Table['n'] = 0x0A;
    Table['r'] = 0x0D;
    Table['t'] = 0x09;
    return Table;
}();

using unicode::CombineSurrogates;
using unicode::EncodeUtf8;
using unicode::IsHighSurrogate;
using unicode::IsLowSurrogate;

// The key segments of levels 0 ... Depth - 1 joined by backslashes, cut to the
// buffer; empty segments at the front add no separator. An array level's
// segment is the index of its current element, printed only here.
void BuildPath(const JSON *Json, int32 Depth, char *Path, int32 Size) {
    int32 Used = 0;
    bool Started = false;
    for (int32 Level = 0; Level < Depth; Level++) {
        const JSONLevel &Current = Json->Levels[Level];
        const char *Segment = Current.Key;
        char Index[16] = "";
        if (Current.Kind == JSON_KIND_ARRAY) {
            if (Current.Index >= 0) *std::to_chars(Index, Index + sizeof(Index) - 1, Current.Index).ptr = 0;
            Segment = Index;
        }
        if (!Started && Segment[0] == 0) continue;
        if (Started && Used < Size - 1) Path[Used++] = '\\';
        for (const char *p = Segment; *p != 0 && Used < Size - 1; p++) Path[Used++] = *p;
        Started = true;
    }
    Path[Used] = 0;
}

// One pass over a chunk of input.
class Scanner {
  public:
    // The chunk must be writable: a scalar that lies whole inside it is handed
    // on in place, terminated for the moment by the byte that ended it.
    Scanner(JSON *Json, uint8 *Chunk, int32 Length) : J(Json), Chunk(Chunk), Length(Length), Writable(Chunk) {
        Base = J->CharCount;
        Take();
        CallbackBase_Get(&J->ValueCallback, &CallbackUser, &Callback);
        Verbose = JSON_IsVerboseLevel(J, 9) != 0;
        Announcing = Verbose || Callback != nullptr;
        Parent = KindAbove(Depth);
        // A string or number interrupted by the end of the last piece goes on.
        const int32 Kind = J->Levels[Depth].Kind;
        if ((Kind == JSON_KIND_STRING && J->SubState == JsonStringPlain) || Kind == JSON_KIND_NUMBER) RunStart = 0;
        Spilled = MemoryStream_GetUsed(J->Value) > 0;
    }

    Outcome Process() {
        Outcome Result = Outcome::More;
        while (Pos < Length && Result == Outcome::More) {
            switch (J->Levels[Depth].Kind) {
                case JSON_KIND_NONE: Result = Between(); break;
                case JSON_KIND_STRING: Result = String(); break;
                case JSON_KIND_NUMBER: Result = Number(); break;
                case JSON_KIND_BOOLEAN: Result = Boolean(); break;
                case JSON_KIND_NULL: Result = Null(); break;
                default: Result = Fail(JSON_ERROR_TYPE, "Unexpected scanner state [%d @ %d:%d]",
                                       J->Levels[Depth].Kind, J->Line, Column());
            }
        }
        if (Result == Outcome::More) FlushRun(Pos);
        FlushStaged();
        Give();
        J->CharCount = Base + Pos;
        return Result;
    }

    int32 Consumed() const { return Pos; }

    // Over the caller's read-only bytes: only without a verbose line or a
    // value callback, which see each text terminated.
    Scanner(JSON *Json, const uint8 *Bytes, int32 Length) : Scanner(Json, static_cast<uint8 *>(nullptr), Length) {
        Chunk = Bytes;
    }
    static bool ReadsInPlace(JSON *Json) {
        void *User = nullptr;
        JSON_ValueFunc Function = nullptr;
        CallbackBase_Get(&Json->ValueCallback, &User, &Function);
        return Function == nullptr && !JSON_IsVerboseLevel(Json, 9);
    }

  private:
    JSON *J;
    const uint8 *Chunk;
    int32 Length;
    // Null when the chunk is the caller's and read-only: a scalar is then
    // handed on unterminated, which only the Dictionary sees (see ReadsInPlace).
    uint8 *Writable;
    int32 Pos = 0;
    int64 Base = 0;
    int32 RunStart = -1; // start of scalar bytes not yet appended to the value buffer
    bool Direct = false; // the whole scalar so far is the run, and the value buffer is empty
    void *CallbackUser = nullptr;
    JSON_ValueFunc Callback = nullptr;
    bool Verbose = false;
    bool Announcing = false; // a verbose line or a value callback is made for each value
    int32 Parent = JSON_KIND_NONE; // kind of the container being read (level Depth - 1), none at the top

    // The object's depth, key bits and separator marks, kept here while the
    // scan runs, so that a token does not go through the object (and its
    // level stack) for each of them. They go back (Give) before any caller's
    // code runs and on leaving, and are taken again (Take) after it, since
    // that code may even reset the object.
    int32 Depth = 0;
    uint32 KeyBits = 0;
    int32 ValueSeen = 0;
    int32 CommaSeen = 0;

    // The Dictionary receiving the values of level Depth (null without one).
    Dictionary *Receiver = nullptr;

    void Take() {
        Depth = J->Depth;
        KeyBits = J->KeyBits;
        ValueSeen = J->ValueSeen;
        CommaSeen = J->CommaSeen;
        TakeReceiver();
    }
    void TakeReceiver() { Receiver = Depth == 0 ? J->Dict : J->Levels[Depth].Target; }
    void Give() {
        J->Depth = Depth;
        J->KeyBits = KeyBits;
        J->ValueSeen = ValueSeen;
        J->CommaSeen = CommaSeen;
    }

    int32 Column() const { return (int32)(Base + Pos - J->LineStart + 1); }

    void Consume() {
        if (Chunk[Pos] == '\n') {
            J->Line++;
            J->LineStart = Base + Pos + 1;
        }
        Pos++;
    }

    // A message through the print family. Its print callback is the
    // caller's code, which may even reset the object: what the scanner keeps
    // of the level stack is taken again afterwards (as after a value callback).
    template <typename... Arguments> void Report(const char *Format, Arguments... Values) {
        Give();
        JsonInternal_Report(J, Format, Values...);
        Take();
        Parent = KindAbove(Depth);
    }

    template <typename... Arguments>
    Outcome Fail(int32 Code, const char *Format, Arguments... Values) {
        RunStart = -1;
        Give();
        JsonInternal_Fail(J, Code, Format, Values...);
        Take();
        return Outcome::Failed;
    }

    // Short pieces of a scalar's text (escapes, runs between them) gather
    // here and reach the value buffer in one write.
    char Staged[256];
    int32 StagedBytes = 0;

    // The value buffer holds text of the current scalar (from an earlier
    // chunk, or more than the staging buffer took).
    bool Spilled = false;

    void Write(const void *Data, int32 Bytes) {
        Spilled = true;
        uint32 Written = 0;
        MemoryStream_Write(J->Value, Data, (uint32)Bytes, &Written);
    }

    void FlushStaged() {
        if (StagedBytes > 0) Write(Staged, StagedBytes);
        StagedBytes = 0;
    }

    void Append(const void *Data, int32 Bytes) {
        if (Bytes <= 0) return;
        if (Bytes <= (int32)sizeof(Staged) - StagedBytes) {
            memcpy(Staged + StagedBytes, Data, (size_t)Bytes);
            StagedBytes += Bytes;
            return;
        }
        FlushStaged();
        if (Bytes <= (int32)sizeof(Staged)) {
            memcpy(Staged, Data, (size_t)Bytes);
            StagedBytes = Bytes;
            return;
        }
        Write(Data, Bytes);
    }

    void FlushRun(int32 End) {
        if (RunStart >= 0 && End > RunStart) Append(Chunk + RunStart, End - RunStart);
        RunStart = -1;
        Direct = false;
    }

    void SetBit(int32 Level) { KeyBits |= 1u << Level; }
    void ClearBit(int32 Level) { KeyBits &= ~(1u << Level); }
    bool HasBit(int32 Level) const { return (KeyBits >> Level) & 1u; }
    bool ParentIs(int32 Kind) const { return Parent == Kind; }
    int32 KindAbove(int32 Level) const { return Level > 0 ? J->Levels[Level - 1].Kind : JSON_KIND_NONE; }

    // A value begins at Pos. Its kind is stored on its level only when the
    // dispatch in Process needs it (a container, or a token that goes to the
    // per-character states, see BeginStates), and where it began only when
    // someone is told of the value: a token taken whole needs neither.
    void BeginValue(uint8 Character) {
        if (ValueSeen && !CommaSeen)
            Report("Comma expected [%c @ %d:%d]", Character, J->Line, Column());
        ValueSeen = 0;
        CommaSeen = 0;
        if (ParentIs(JSON_KIND_ARRAY)) J->Levels[Depth - 1].Index++;
        if (Announcing) J->ValueStart = Base + Pos;
    }

    // A scalar of Kind whose text began at Start goes on in the
    // per-character states, perhaps in a later piece: its kind, start and
    // the state those keep of it, cleared here since a token taken whole
    // never reads them.
    void BeginStates(int32 Kind, int32 Start, int32 SubState) {
        J->Levels[Depth].Kind = Kind;
        J->ValueStart = Base + Start;
        J->SubState = SubState;
        J->NumberFlags = 0;
        J->LiteralLength = 0;
        J->UnicodeCount = 0;
        J->PendingSurrogate = 0;
    }

    // The verbose line and the value callback; false when the callback
    // refuses the value. Kept out of line: most loads have neither.
    __attribute__((noinline)) bool Announce(int32 Kind, const char *Text, int32 TextLength) {
        char Path[JSON_PATH_SIZE];
        BuildPath(J, Depth, Path, (int32)sizeof(Path));
        if (Verbose)
            JSON_VerboseLog(J, 9, "Path %s Type %d Buf %s BufSize %d StreamPos %lld NodePos %d NodeSize %d", Path, Kind,
                            Log_IsSecretPath(Path) ? LOG_SECRET_MASK : Text, TextLength, (long long)J->ValueStart,
                            TextLength, TextLength);
        if (Callback != nullptr) {
            int32 ErrorCode = 0;
            if (!Callback(J, CallbackUser, Path, Kind, Text, TextLength, J->ValueStart, TextLength, TextLength,
                          &ErrorCode)) {
                Debug_Assert(ErrorCode != 0, "Error code not set during json parsing");
                J->LastError = ErrorCode;
                return false;
            }
        }
        return true;
    }

    // DictionaryInt_AppendValue into a watched tree, whose reports run the
    // caller's code: the item's child.
    __attribute__((noinline)) Dictionary *AppendWatched(Dictionary *Target, const char *Key, int32 KeyLength,
                                                       int32 Type, const char *Text, int32 TextLength) {
        Give();
        Dictionary *Child = DictionaryInt_AppendValue(Target, Key, KeyLength, Type, Text, TextLength)->Child;
        Take();
        Parent = KindAbove(Depth);
        return Child;
    }

    // Hands a completed value to the callback and the Dictionary.
    [[gnu::always_inline]] bool Raise(int32 Kind, const char *Text, int32 TextLength) {
        if (Announcing) {
            Give();
            const bool Accepted = Announce(Kind, Text, TextLength);
            Take();
            Parent = KindAbove(Depth);
            if (!Accepted) return false;
        }
        Dictionary *const Target = Receiver;
        Dictionary *Child = nullptr;
        if (Target != nullptr) {
            // The key is the member's key segment; only the text after its
            // last backslash, as the value path would give it.
            const char *Key = nullptr;
            int32 KeyLength = 0;
            if (ParentIs(JSON_KIND_OBJECT) && HasBit(Depth - 1)) {
                const JSONLevel &Member = J->Levels[Depth - 1];
                Key = Member.Key + Member.KeyStart;
                KeyLength = Member.KeyLength;
            }
            Dictionary_CheckHandle(Target);
            Dictionary_CheckList(Target);
            // The Dictionary's change reports run the caller's code too;
            // only a watched tree makes them.
            const uint32 *Watched = DictionaryInt_RootRecord(Target)->Watchers;
            if ((Watched[0] | Watched[1] | Watched[2]) != 0)
                Child = AppendWatched(Target, Key, KeyLength, DictionaryType(Kind), Text, TextLength);
            else
                Child = DictionaryInt_AppendValue(Target, Key, KeyLength, DictionaryType(Kind), Text, TextLength)->Child;
        }
        if ((Kind == JSON_KIND_OBJECT || Kind == JSON_KIND_ARRAY) && Depth + 1 < JSON_MAX_LEVELS)
            J->Levels[Depth + 1].Target = Child;
        return true;
    }

    // A scalar is complete: inside an object without a waiting key it is the
    // member's key, otherwise a value.
    // Readable: bytes that may be read from Text on, at least its length.
    // Only a text that went through the value buffer can hold a backslash
    // (in the chunk, a string stops at its first one): the others are
    // marked Plain and their key needs no search for one.
    [[gnu::always_inline]] Outcome CompleteScalar(int32 Kind, const char *Text, int32 TextLength, int32 Readable = 0,
                                                  bool Plain = false) {
        // The level of this scalar, whatever the caller's code run for it does.
        const int32 Depth = this->Depth;
        if (ParentIs(JSON_KIND_OBJECT) && !HasBit(Depth - 1)) {
            if (TextLength > MaxKeyLength)
                return Fail(JSON_ERROR_STRING, "Key exceeds maximum length [%d @ %d:%d]", TextLength, J->Line,
                            Column());
            char *Key = J->Levels[Depth - 1].Key;
            // Most keys are short: one fixed copy where the bytes behind the
            // key may be read too.
            if (TextLength <= 16 && Readable >= 16)
                memcpy(Key, Text, 16);
            else
                memcpy(Key, Text, (size_t)TextLength);
            Key[TextLength] = 0;
            int32 KeyStart = 0;
            int32 KeyLength;
            if (Plain && TextLength < 16 && Readable >= 16) {
                // Found in the text itself: reading the copy just written
                // would wait for the stores to drain.
                KeyLength = TextKeyLength(Text, TextLength);
            } else {
                if (!Plain)
                    if (const void *Slash = memrchr(Key, '\\', (size_t)TextLength))
                        KeyStart = (int32)(static_cast<const char *>(Slash) - Key) + 1;
                KeyLength = StoredKeyLength(Key, KeyStart, TextLength);
            }
            // A Dictionary keeps keys of at most DICTIONARY_MAX_KEY_LENGTH
            // bytes without a NUL: one that does not fit is refused, since
            // cutting it would make two keys one.
            if (Receiver != nullptr) {
                if (KeyStart + KeyLength < TextLength)
                    return Fail(JSON_ERROR_STRING, "Key holds a NUL [@ %d:%d]", J->Line, Column());
                if (KeyLength > DICTIONARY_MAX_KEY_LENGTH &&
                    Dictionary_KeptKeyLength(Receiver, Key + KeyStart, KeyLength) > DICTIONARY_MAX_KEY_LENGTH)
                    return Fail(JSON_ERROR_STRING, "Key of %d bytes exceeds the %d-byte key limit [@ %d:%d]", KeyLength,
                                DICTIONARY_MAX_KEY_LENGTH, J->Line, Column());
            }
            J->Levels[Depth - 1].KeyStart = KeyStart;
            J->Levels[Depth - 1].KeyLength = KeyLength;
            SetBit(Depth - 1);
            return Outcome::More;
        }
        if (!Raise(Kind, Text, TextLength)) return Outcome::Failed;
        ValueSeen = 1;
        if (Depth > 0) ClearBit(Depth - 1);
        return Depth == 0 ? Outcome::Done : Outcome::More;
    }

    // Completes a scalar whose text is the chunk's bytes Start ... End - 1,
    // terminated for the moment where it ends.
    [[gnu::always_inline]] Outcome CompleteInPlace(int32 Kind, int32 Start, int32 End) {
        const char *Text = reinterpret_cast<const char *>(Chunk + Start);
        if (Writable == nullptr) return CompleteScalar(Kind, Text, End - Start, Length - Start, true);
        const uint8 Saved = Writable[End];
        Writable[End] = 0;
        const Outcome Result = CompleteScalar(Kind, Text, End - Start, Length - Start, true);
        Writable[End] = Saved;
        return Result;
    }

    // Completes the string or number whose text ends at End: in place when it
    // lies whole in this chunk, else from the value buffer.
    Outcome CompleteText(int32 Kind, int32 End) {
        // The level's kind is set only for the per-character states (a
        // token taken whole leaves it none).
        J->Levels[Depth].Kind = JSON_KIND_NONE;
        if (Direct) {
            const int32 Start = RunStart;
            RunStart = -1;
            Direct = false;
            return CompleteInPlace(Kind, Start, End);
        }
        FlushRun(End);
        // A text that began in this chunk and fits the staging buffer is
        // completed from there, without the value buffer.
        if (!Spilled && StagedBytes < (int32)sizeof(Staged)) {
            const int32 TextLength = StagedBytes;
            Staged[TextLength] = 0;
            StagedBytes = 0;
            return CompleteScalar(Kind, Staged, TextLength);
        }
        Append("", 1);
        FlushStaged();
        const int32 TextLength = MemoryStream_GetUsed(J->Value) - 1;
        // The pin goes however the scalar's storing ends: a read given up
        // (an allocation that throws) leaves none behind for the reset.
        struct Pinned {
            MemoryStream *Stream;
            char *Text = nullptr;
            ~Pinned() { MemoryStream_ReleasePointer(Stream, &Text); }
        } Pin{J->Value};
        MemoryStream_GetPointer(J->Value, &Pin.Text);
        const Outcome Result = CompleteScalar(Kind, Pin.Text, TextLength);
        MemoryStream_ReleasePointer(J->Value, &Pin.Text);
        MemoryStream_DiscardAll(J->Value);
        Spilled = false;
        return Result;
    }

    Outcome CompleteLiteral(int32 Kind) {
        J->Levels[Depth].Kind = JSON_KIND_NONE;
        J->Literal[J->LiteralLength] = 0;
        const int32 TextLength = J->LiteralLength;
        J->LiteralLength = 0;
        return CompleteScalar(Kind, J->Literal, TextLength);
    }

    [[gnu::always_inline]] Outcome OpenContainer(int32 Kind, uint8 Character) {
        BeginValue(Character);
        if (!Raise(Kind, "", 0)) return Outcome::Failed;
        if (Depth + 1 >= JSON_MAX_LEVELS)
            return Fail(JSON_ERROR_FIELDTYPE, "Nesting limit exceeded (at most %d levels) [%c @ %d:%d]",
                        JSON_MAX_LEVELS - 1, Character, J->Line, Column());
        JSONLevel &Level = J->Levels[Depth];
        Level.Kind = Kind;
        Level.Index = -1;
        Level.Key[0] = 0;
        ClearBit(Depth);
        Depth++;
        TakeReceiver();
        Parent = Kind;
        J->Levels[Depth].Kind = JSON_KIND_NONE;
        Pos++;
        return Outcome::More;
    }

    // Any closing bracket closes the current container, whatever opened it.
    Outcome CloseContainer(uint8 Character) {
        if (Depth > 0 && CommaSeen) Report("Comma not expected [, @ %d:%d]", J->Line, Column());
        // (Checked after the message: its print callback may have reset the object.)
        if (Depth == 0)
            return Fail(JSON_ERROR_FIELDTYPE, "Unknown field type [%c @ %d:%d]", Character, J->Line, Column());
        Pos++;
        --Depth;
        TakeReceiver();
        Parent = KindAbove(Depth);
        // The closed container's key segment and index are not read again
        // before a container opened on this level sets them anew.
        JSONLevel &Level = J->Levels[Depth];
        ClearBit(Depth);
        if (ParentIs(JSON_KIND_OBJECT)) {
            J->Levels[Depth - 1].Key[0] = 0;
            ClearBit(Depth - 1);
        }
        Level.Kind = JSON_KIND_NONE;
        ValueSeen = 1;
        CommaSeen = 0;
        return Depth == 0 ? Outcome::Done : Outcome::More;
    }

    // Runs of blanks, line feeds, NUL and colons between tokens.
    static constexpr auto Skipped = [] {
        std::array<bool, 256> Table{};
        Table[' '] = Table['\t'] = Table['\n'] = Table['\r'] = Table[0] = Table[':'] = true;
        return Table;
    }();

    // Between values: tokens follow one another here without going back to
    // the dispatch in Process, as long as each lies whole in the chunk. A
    // token cut by the end of the chunk, an escape in a string or a literal
    // too close to the end leave their state for the dispatch to go on with.
    void Comma() {
        CommaSeen = 1;
        ValueSeen = 0;
        // A key that received no value is dropped.
        if (ParentIs(JSON_KIND_OBJECT)) ClearBit(Depth - 1);
        Pos++;
    }

    // A string token (Pos at its quote).
    [[gnu::always_inline]] Outcome QuotedToken() {
        BeginValue('"');
        Pos++;
        if (Announcing) J->ValueStart = Base + Pos;
        const int32 Start = Pos;
        const int32 End = FindStringStop(Chunk, Pos, Length);
        if (End < Length && Chunk[End] == '"') {
            Pos = End + 1;
            return CompleteInPlace(JSON_KIND_STRING, Start, End);
        }
        if (const Outcome Decoded = CompleteDecoded(Start, End); Decoded != Outcome::More || Pos > End) return Decoded;
        // Escapes, line feeds and the end of the chunk.
        BeginStates(JSON_KIND_STRING, Start, JsonStringPlain);
        RunStart = Start;
        Direct = true;
        Pos = End;
        return String();
    }

    Outcome Between() {
        for (;;) {
            if (Pos == Length) return Outcome::More;
            const uint8 Character = Chunk[Pos];
            Outcome Result;
            // Strings, the most common token, are told apart before the
            // jump on the byte: a branch of its own is better predicted.
            if (Character == '"') {
                Result = QuotedToken();
            } else switch (Character) {
                case ' ':
                case '\t':
                case '\n':
                case '\r':
                case 0:
                case ':':
                    do {
                        Consume();
                    } while (Pos < Length && Skipped[Chunk[Pos]]);
                    continue;
                case '-':
                case '+':
                case '.':
                case '0':
                case '1':
                case '2':
                case '3':
                case '4':
                case '5':
                case '6':
                case '7':
                case '8':
                case '9':
                    BeginValue(Character);
                    if (const int32 End = PlainNumberEnd(Chunk, Pos, Length); End > 0) {
                        const int32 Start = Pos;
                        Pos = End;
                        Result = CompleteInPlace(JSON_KIND_NUMBER, Start, End);
                        break;
                    }
                    BeginStates(JSON_KIND_NUMBER, Pos, JsonNumberStart);
                    RunStart = Pos;
                    Direct = true;
                    Result = Number();
                    break;
                case 't':
                case 'f':
                case 'n': {
                    const int32 Kind = Character == 'n' ? JSON_KIND_NULL : JSON_KIND_BOOLEAN;
                    BeginValue(Character);
                    // A literal followed by its next character in this chunk
                    // completes at once, as collecting it would.
                    const char *Word = Character == 't' ? "true" : Character == 'f' ? "false" : "null";
                    const int32 Size = Character == 'f' ? 5 : 4;
                    if (Length - Pos > Size && memcmp(Chunk + Pos, Word, 4) == 0 && (Size == 4 || Chunk[Pos + 4] == 'e')) {
                        Pos += Size;
                        Result = CompleteScalar(Kind, Word, Size, 0, true);
                        break;
                    }
                    BeginStates(Kind, Pos, 0);
                    return Outcome::More;
                }
                case '{': Result = OpenContainer(JSON_KIND_OBJECT, Character); break;
                case '[': Result = OpenContainer(JSON_KIND_ARRAY, Character); break;
                case ',':
                    Comma();
                    continue;
                case ']':
                case '}': Result = CloseContainer(Character); break;
                default:
                    return Fail(JSON_ERROR_FIELDTYPE, "Unknown field type [%c @ %d:%d]", Character, J->Line, Column());
            }
            // A string or number cut by the end of the chunk leaves Pos there.
            if (Result != Outcome::More) return Result;
            // The colon after a key and the comma after a value are taken
            // at once, without the dispatch.
            if (Pos < Length) {
                if (Chunk[Pos] == ':')
                    Pos++;
                else if (Chunk[Pos] == ',')
                    Comma();
            }
        }
    }

    // A string with escapes that lies whole in the chunk, decoded into the
    // staging buffer as the string states would decode it: its length, Pos
    // behind the closing quote. -1 (nothing changed) for what those states
    // must take: a line feed, a surrogate escape, an escape they reject, a
    // text longer than the staging buffer, the end of the chunk. Stop is
    // the first backslash (or other stop) behind Start.
    int32 DecodeWhole(int32 Start, int32 Stop) {
        if (Spilled || StagedBytes != 0) return -1;
        int32 Used = 0;
        int32 At = Start;
        for (;;) {
            // Room for the run, the longest escape and the terminator.
            const int32 Run = Stop - At;
            if (Run > (int32)sizeof(Staged) - 4 - Used) return -1;
            if (Run < 32)
                DictionaryInt_CopyShort(Staged + Used, reinterpret_cast<const char *>(Chunk + At), (size_t)Run);
            else
                memcpy(Staged + Used, Chunk + At, (size_t)Run);
            Used += Run;
            if (Stop == Length) return -1;
            if (Chunk[Stop] == '"') break;
            if (Chunk[Stop] != '\\' || Stop + 1 >= Length) return -1;
            if (const char Plain = SimpleEscapes[Chunk[Stop + 1]]; Plain != 0) {
                Staged[Used++] = Plain;
                At = Stop + 2;
            } else {
                if (Chunk[Stop + 1] != 'u' || Stop + 6 > Length) return -1;
                int32 Unit = 0;
                for (int32 i = 2; i < 6 && Unit >= 0; i++) {
                    const int32 Value = HexValue((char)Chunk[Stop + i]);
                    Unit = Value < 0 ? -1 : Unit << 4 | Value;
                }
                if (Unit < 0 || IsHighSurrogate((uint32)Unit) || IsLowSurrogate((uint32)Unit)) return -1;
                Used += EncodeUtf8((uint32)Unit, Staged + Used);
                At = Stop + 6;
            }
            Stop = FindStringStop(Chunk, At, Length);
        }
        Staged[Used] = 0;
        Pos = Stop + 1;
        return Used;
    }

    // The string DecodeWhole decodes, completed; More with Pos unchanged
    // when it cannot be. Out of line, as the value steps are inlined once
    // for the strings without escapes.
    __attribute__((noinline)) Outcome CompleteDecoded(int32 Start, int32 Stop) {
        const int32 Decoded = DecodeWhole(Start, Stop);
        if (Decoded < 0) return Outcome::More;
        return CompleteScalar(JSON_KIND_STRING, Staged, Decoded);
    }

    void AppendCodePoint(uint32 CodePoint) {
        char Bytes[4];
        Append(Bytes, EncodeUtf8(CodePoint, Bytes));
    }

    // A high surrogate escape not followed by a low one stands alone.
    void DropPendingSurrogate() {
        if (J->PendingSurrogate == 0) return;
        J->PendingSurrogate = 0;
        AppendCodePoint(0xFFFD);
    }

    void AppendUnit(uint32 Unit) {
        if (J->PendingSurrogate != 0 && IsLowSurrogate(Unit)) {
            AppendCodePoint(CombineSurrogates(J->PendingSurrogate, Unit));
            J->PendingSurrogate = 0;
            return;
        }
        DropPendingSurrogate();
        if (IsHighSurrogate(Unit))
            J->PendingSurrogate = Unit;
        else
            AppendCodePoint(IsLowSurrogate(Unit) ? 0xFFFD : Unit);
    }

    // Runs on until the string ends, the chunk ends or an escape fails.
    Outcome String() {
        while (Pos < Length) {
            const uint8 Character = Chunk[Pos];
            if (J->SubState == JsonStringPlain) {
                if (J->PendingSurrogate != 0 && Character != '\\') DropPendingSurrogate();
                // Plain bytes, raw control characters and UTF-8 included, are
                // taken as they are.
                int32 End = FindStringStop(Chunk, Pos, Length);
                while (End < Length && Chunk[End] == '\n') {
                    J->Line++;
                    J->LineStart = Base + End + 1;
                    End = FindStringStop(Chunk, End + 1, Length);
                }
                Pos = End;
                if (Pos == Length) return Outcome::More;
                if (Chunk[Pos] == '"') {
                    Consume();
                    return CompleteText(JSON_KIND_STRING, Pos - 1);
                }
                FlushRun(Pos);
                // An escape that lies whole in the chunk is decoded here, as
                // the escape states would decode it.
                if (Pos + 1 < Length) {
                    const char Plain = SimpleEscapes[Chunk[Pos + 1]];
                    if (Plain != 0) {
                        DropPendingSurrogate();
                        Append(&Plain, 1);
                        Pos += 2;
                        RunStart = Pos;
                        continue;
                    }
                    if (Chunk[Pos + 1] == 'u' && Pos + 6 <= Length) {
                        int32 Unit = 0;
                        for (int32 i = 2; i < 6 && Unit >= 0; i++) {
                            const int32 Value = HexValue((char)Chunk[Pos + i]);
                            Unit = Value < 0 ? -1 : Unit << 4 | Value;
                        }
                        if (Unit >= 0) {
                            Pos += 6;
                            AppendUnit((uint32)Unit);
                            RunStart = Pos;
                            continue;
                        }
                    }
                }
                Consume();
                J->SubState = JsonStringEscape;
                continue;
            }
            if (J->SubState == JsonStringEscape) {
                if (Character != 'u') DropPendingSurrogate();
                char Plain;
                switch (Character) {
                    case '"':
                    case '/':
                    case '\\': Plain = (char)Character; break;
                    case 'b': Plain = 0x08; break;
                    case 'f': Plain = 0x0C; break;
                    case 'n': Plain = 0x0A; break;
                    case 'r': Plain = 0x0D; break;
                    case 't': Plain = 0x09; break;
                    case 'u':
                        Consume();
                        J->SubState = JsonStringUnicode;
                        J->UnicodeCount = 0;
                        continue;
                    default:
                        return Fail(JSON_ERROR_STRING, "Unexpected escape character in string [%c @ %d:%d]", Character,
                                    J->Line, Column());
                }
                Append(&Plain, 1);
                Consume();
                J->SubState = JsonStringPlain;
                RunStart = Pos;
                continue;
            }
            J->UnicodeDigits[J->UnicodeCount++] = (char)Character;
            if (J->UnicodeCount < 4) {
                Consume();
                continue;
            }
            uint32 Unit = 0;
            for (const char Digit : J->UnicodeDigits) {
                const int32 Value = HexValue(Digit);
                if (Value < 0)
                    return Fail(JSON_ERROR_STRING, "Unexpected unicode hex characters [%.4s @ %d:%d]",
                                J->UnicodeDigits, J->Line, Column());
                Unit = Unit << 4 | (uint32)Value;
            }
            Consume();
            AppendUnit(Unit);
            J->SubState = JsonStringPlain;
            RunStart = Pos;
        }
        return Outcome::More;
    }

    // Numbers never hold a line feed, so the loop only advances the position.
    // The state lives in locals while the loop runs and is stored on leaving.
    Outcome Number() {
        int32 State = J->SubState;
        int32 Flags = J->NumberFlags;
        const uint8 *const Bytes = Chunk;
        const int32 End = Length;
        int32 At = Pos;
        uint8 Character = 0;
        for (; At < End; At++) {
            // Within digits every further digit leaves the state as it is.
            if (State == JsonNumberDigits) {
                while (At < End && (uint8)(Bytes[At] - '0') <= 9) At++;
                if (At == End) break;
            }
            Character = Bytes[At];
            switch (Character) {
                case '0':
                    if (State == JsonNumberStart || State == JsonNumberLeadingMinus)
                        State = JsonNumberLeadingZero;
                    else if (State == JsonNumberExponentMark || State == JsonNumberNeedDigit)
                        State = JsonNumberDigits;
                    continue;
                case '1':
                case '2':
                case '3':
                case '4':
                case '5':
                case '6':
                case '7':
                case '8':
                case '9':
                    if (State == JsonNumberLeadingZero) goto Bad;
                    State = JsonNumberDigits;
                    continue;
                case '+':
                    if (State != JsonNumberStart && State != JsonNumberExponentMark) goto Bad;
                    State = JsonNumberNeedDigit;
                    continue;
                case '-':
                    if (State == JsonNumberStart)
                        State = JsonNumberLeadingMinus;
                    else if (State == JsonNumberExponentMark)
                        State = JsonNumberNeedDigit;
                    else
                        goto Bad;
                    continue;
                case '.':
                    if ((Flags & JSON_NUMBER_POINT) || State == JsonNumberNeedDigit) goto Bad;
                    Flags |= JSON_NUMBER_POINT;
                    State = JsonNumberNeedDigit;
                    continue;
                case 'e':
                case 'E':
                    if ((Flags & JSON_NUMBER_EXPONENT) || State == JsonNumberStart || State == JsonNumberNeedDigit ||
                        State == JsonNumberLeadingMinus)
                        goto Bad;
                    Flags |= JSON_NUMBER_EXPONENT;
                    State = JsonNumberExponentMark;
                    continue;
                default:
                    if (State == JsonNumberExponentMark || State == JsonNumberNeedDigit) goto Bad;
                    // The ending character is examined again as the next token.
                    Pos = At;
                    J->SubState = State;
                    J->NumberFlags = Flags;
                    return CompleteText(JSON_KIND_NUMBER, Pos);
            }
        }
        Pos = At;
        J->SubState = State;
        J->NumberFlags = Flags;
        return Outcome::More;
    Bad:
        Pos = At;
        J->SubState = State;
        J->NumberFlags = Flags;
        return Fail(JSON_ERROR_INTEGER, "Unexpected character parsing integer [%c @ %d:%d]", Character, J->Line,
                    Column());
    }

    // Literals are compared when the character after them arrives, which is
    // then examined again.
    Outcome Boolean() {
        const uint8 Character = Chunk[Pos];
        if (J->LiteralLength == 4 && memcmp(J->Literal, "true", 4) == 0) return CompleteLiteral(JSON_KIND_BOOLEAN);
        if (J->LiteralLength == 5) return CompleteLiteral(JSON_KIND_BOOLEAN);
        J->Literal[J->LiteralLength++] = (char)Character;
        if (J->LiteralLength == 5 && memcmp(J->Literal, "false", 5) != 0)
            return Fail(JSON_ERROR_BOOLEAN, "Unexpected characters parsing boolean [%.5s @ %d:%d]", J->Literal, J->Line,
                        Column());
        Consume();
        return Outcome::More;
    }

    Outcome Null() {
        const uint8 Character = Chunk[Pos];
        if (J->LiteralLength == 4) {
            if (memcmp(J->Literal, "null", 4) == 0) return CompleteLiteral(JSON_KIND_NULL);
            return Fail(JSON_ERROR_NULL, "Unexpected characters parsing null [%.3s @ %d:%d]", J->Literal, J->Line,
                        Column());
        }
        J->Literal[J->LiteralLength++] = (char)Character;
        Consume();
        return Outcome::More;
    }
};

// Scans one piece. GiveBack: return unread bytes to a stream that can seek
// (a stream that cannot is then read one byte at a time).
int32 ScanStream(JSON *Json, StreamStruct *Stream, int32 *Count, bool GiveBack) {
    *Count = 0;
    // A failed document stays failed until the next reset: its state is
    // that of the character that failed.
    if (Json->LastError != JSON_ERROR_NONE) return FALSE;
    int64 Length = 0;
    Stream_Length(Stream, &Length);
    if (Length <= 0) {
        JsonInternal_Fail(Json, JSON_ERROR_ZEROLENGTH, "Input has zero length [@ %d:%d]", Json->Line,
                          (int32)(Json->CharCount - Json->LineStart + 1));
        return FALSE;
    }
    const bool CanGiveBack = GiveBack && Stream_CanSeek(Stream);
    uint8 Chunk[ChunkSize];
    // A file stream may hold more than 2 GiB: count in 64 bits, report saturated.
    int64 Consumed = 0;
    for (;;) {
        const int64 Remaining = Length - Consumed;
        uint32 Want = Remaining < ChunkSize ? (uint32)Remaining : (uint32)ChunkSize;
        if (GiveBack && !CanGiveBack) Want = 1;
        uint32 Got = 0;
        const int32 Read = Stream_Read(Stream, Chunk, Want, &Got);
        if (Got == 0) return FALSE;
        if (Got > Want) Got = Want;
        Scanner Scan(Json, Chunk, (int32)Got);
        const Outcome Result = Scan.Process();
        Consumed += Scan.Consumed();
        *Count = Consumed < INT32_MAX ? (int32)Consumed : INT32_MAX;
        if (Result != Outcome::More) {
            const int32 Unread = (int32)Got - Scan.Consumed();
            if (CanGiveBack && Unread > 0) Stream_Seek(Stream, -(int64)Unread, STREAM_SEEK_CUR);
            return FALSE;
        }
        if (Consumed >= Length) return TRUE;
        if (!Read) return FALSE;
    }
}

// The end of a whole document: one blank completes a trailing number or
// literal; whatever is still open then makes the document incomplete.
void FinishDocument(JSON *Json) {
    if (Json->LastError != JSON_ERROR_NONE) return;
    uint8 Blank[1] = {' '};
    const int64 Count = Json->CharCount;
    Scanner Scan(Json, Blank, 1);
    Scan.Process();
    Json->CharCount = Count;
    if (Json->LastError == JSON_ERROR_NONE && (Json->Depth > 0 || Json->Levels[0].Kind != JSON_KIND_NONE))
        JsonInternal_Fail(Json, JSON_ERROR_UNKNOWNLENGTH, "Unexpected end of input [@ %d:%d]", Json->Line,
                          (int32)(Json->CharCount - Json->LineStart + 1));
}

bool StreamsFailed(StreamStruct *Stream, StreamStruct *Base) {
    return Stream_HasError(Stream) || (Base != nullptr && Stream_HasError(Base));
}

// Loads a whole document; parse failures are also left on Report (the
// caller's stream) unless a stream has an error of its own.
int32 LoadDocument(JSON *Json, StreamStruct *Stream, StreamStruct *Report, bool GiveBack) {
    JSON_Reset(Json);
    int32 Count = 0;
    while (ScanStream(Json, Stream, &Count, GiveBack)) {
    }
    if (!StreamsFailed(Stream, Report)) FinishDocument(Json);
    if (Json->LastError == JSON_ERROR_NONE && !StreamsFailed(Stream, Report)) return TRUE;
    if (!StreamsFailed(Stream, Report)) Stream_SetLastError(Report != nullptr ? Report : Stream, Json->LastError);
    return FALSE;
}

// A whole document in the caller's memory, read where it lies: what a load
// through a memory stream over the bytes does, without copying them piece
// by piece. The memory stream would take the parse error as its own last
// error, but nobody sees that stream.
int32 LoadInPlace(JSON *Json, const uint8 *Bytes, int32 Size) {
    JSON_Reset(Json);
    // Windows of at most 1 GiB keep every position sum inside 32 bits.
    constexpr int32 Window = 1 << 30;
    for (int32 At = 0; At < Size;) {
        const int32 Length = Size - At < Window ? Size - At : Window;
        Scanner Scan(Json, Bytes + At, Length);
        if (Scan.Process() != Outcome::More) break;
        At += Length;
    }
    FinishDocument(Json);
    return Json->LastError == JSON_ERROR_NONE;
}

} // namespace

int32 JSON_Scan(JSON *Handle, StreamStruct *Stream, int32 *Count) {
    JSON_Check(Handle);
    Debug_CheckPointer(Stream);
    Debug_CheckPointer(Count);
    return ScanStream(Handle, Stream, Count, true);
}

int32 JSON_LoadStream(JSON *Handle, StreamStruct *Stream) {
    JSON_Check(Handle);
    Debug_CheckPointer(Stream);
    return LoadDocument(Handle, Stream, nullptr, true);
}

int32 JSON_LoadStreamBuffered(JSON *Handle, StreamStruct *Stream) {
    JSON_Check(Handle);
    Debug_CheckPointer(Stream);
    // The read buffer runs ahead of the document anyway, so nothing is given back.
    return DocumentStream_LoadBuffered(
        Stream, [Handle, Stream](StreamStruct *Record) { return LoadDocument(Handle, Record, Stream, false); });
}

int32 JSON_LoadBuffer(JSON *Handle, const void *Bytes, int32 Size) {
    JSON_Check(Handle);
    if (Size > 0 && Scanner::ReadsInPlace(Handle)) {
        Debug_CheckPointer(Bytes);
        return LoadInPlace(Handle, static_cast<const uint8 *>(Bytes), Size);
    }
    return DocumentStream_LoadBuffer(
        Bytes, Size, [Handle](StreamStruct *Record) { return LoadDocument(Handle, Record, nullptr, false); });
}

int32 JSON_LoadBufferWhole(JSON *Handle, const void *Bytes, int32 Size) {
    JSON_Check(Handle);
    if (Size <= 0) return JSON_LoadBuffer(Handle, Bytes, Size);
    Debug_CheckPointer(Bytes);
    // A writable copy, which a verbose line or a value callback may need
    // (see Scanner).
    std::vector<uint8> Copy(static_cast<const uint8 *>(Bytes), static_cast<const uint8 *>(Bytes) + Size);
    JSON_Reset(Handle);
    constexpr int32 Window = 1 << 30;
    int32 At = 0;
    for (Outcome Result = Outcome::More; At < Size && Result == Outcome::More;) {
        const int32 Length = Size - At < Window ? Size - At : Window;
        Scanner Scan(Handle, Copy.data() + At, Length);
        Result = Scan.Process();
        At += Scan.Consumed();
    }
    FinishDocument(Handle);
    if (Handle->LastError != JSON_ERROR_NONE) return FALSE;
    for (; At < Size; At++) {
        const uint8 Ch = Copy[(size_t)At];
        if (Ch == '\n') Handle->Line++, Handle->LineStart = At + 1;
        if (Ch != ' ' && Ch != '\t' && Ch != '\r' && Ch != '\n') {
            JsonInternal_Fail(Handle, JSON_ERROR_TYPE, "Unexpected characters after the document [@ %d:%d]",
                              Handle->Line, (int32)(At - Handle->LineStart + 1));
            return FALSE;
        }
    }
    return TRUE;
}

int32 JSON_LoadStringV(JSON *Handle, const char *Format, va_list Arguments) {
    JSON_Check(Handle);
    // The terminator is loaded too: it ends a trailing number like a blank.
    const int32 Loaded = DocumentStream_LoadPrinted(Format, Arguments, [Handle](const char *Text, int32 Length) {
        return JSON_LoadBuffer(Handle, Text, Length + 1);
    });
    return Loaded || Handle->LastError == JSON_ERROR_NONE;
}

int32 JSON_LoadString(JSON *Handle, const char *Format, ...) {
    va_list Arguments;
    va_start(Arguments, Format);
    const int32 Result = JSON_LoadStringV(Handle, Format, Arguments);
    va_end(Arguments);
    return Result;
}

int32 JSON_GetKeyByDepth(const char *Path, int32 Index, char *Output, int32 Size) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Output);
    if (Size > 0) Output[0] = 0;
    if (Index < 0) return FALSE;
    const char *Segment = Path;
    for (int32 i = 0; i < Index; i++) {
        Segment = strchr(Segment, '\\');
        if (Segment == nullptr) return FALSE;
        Segment++;
    }
    const char *End = strchr(Segment, '\\');
    const size_t Bytes = End != nullptr ? (size_t)(End - Segment) : strlen(Segment);
    String_CopyLengthSafe(Output, Size, Segment, Bytes < (size_t)INT32_MAX ? (int32)Bytes : INT32_MAX);
    return TRUE;
}
