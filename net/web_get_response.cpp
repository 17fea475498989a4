// HTTP/1.x response reading (see web_get_response.h).
#include "net/web_get_response.h"

#include <string.h>
#include <strings.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "net/web_get.h"
#include "runtime/log.h"
#include "runtime/text/string.h"

namespace {

enum class Phase { StatusLine, Headers, Body, ChunkSize, ChunkData, ChunkDataEnd, Trailer, Done, Failed };
enum class Framing { Length, Chunked, Close, None };

// A chunk-size line longer than this is not a size.
constexpr size_t ChunkLineLimit = 1024;

} // namespace

struct WebGetResponse {
    Phase State = Phase::StatusLine;
    Framing Mode = Framing::None;
    int32 Result = WEBGETRESPONSE_MORE;
    int32 Head = 0;
    int32 Status = 0;
    int32 Minor = 1;
    int32 KeepAlive = 0;
    int64 Limit = -1;
    int64 Remaining = 0; // of the Content-Length body or the current chunk
    int64 Chunk = 0;     // the current chunk's size
    int64 BodyBytes = 0;
    int64 RawBytes = 0;  // body bytes as sent (compressed when gzip)
    int64 HeadBytes = 0; // status lines, header and trailer lines, interim responses and chunk extensions included
    std::string Line;
    std::string Headers;
    // Why the response failed, where that can be said, and whether a new
    // attempt could fare otherwise (see WebGetResponse_GetFailure).
    std::string Why;
    bool Final = false;
    bool Gzip = false;
    bool GzipEnded = false; // the gzip member ended and its CRC and length checked
    bool InflateReady = false;
    z_stream Inflate{};
    void *SinkUser = nullptr;
    WebGetResponse_SinkFunc Sink = nullptr;
    void *HeaderUser = nullptr;
    WebGetResponse_HeaderFunc HeaderDone = nullptr;

    ~WebGetResponse() {
        if (InflateReady) inflateEnd(&Inflate);
    }
};

namespace {

int32 Fail(WebGetResponse *Self, int32 Result) {
    Self->State = Phase::Failed;
    Self->Result = Result;
    return Result;
}

// A failure that the same peer gives again on every attempt.
int32 FailFinal(WebGetResponse *Self, int32 Result, std::string Why) {
    Self->Why = std::move(Why);
    Self->Final = true;
    return Fail(Self, Result);
}

// An answer that cannot be read: the same peer sends it the same way again,
// so it fails at once, never retried, with what was wrong in it. Every
// malformed answer the reader finds comes through here.
int32 FailMalformed(WebGetResponse *Self, const std::string &What) {
    return FailFinal(Self, WEBGETRESPONSE_MALFORMED, "malformed answer: " + What);
}

int32 FailTooLarge(WebGetResponse *Self) {
    return FailFinal(Self, WEBGETRESPONSE_TOOLARGE,
                     "the answer's body is larger than its limit of " + std::to_string(Self->Limit) + " bytes");
}

// Hands decoded bytes on, counting them against the limit first.
int32 Deliver(WebGetResponse *Self, const uint8 *Bytes, size_t Length) {
    if (Length == 0) return WEBGETRESPONSE_MORE;
    if (Self->Limit >= 0 && Self->BodyBytes + (int64)Length > Self->Limit) return FailTooLarge(Self);
    Self->BodyBytes += (int64)Length;
    if (Self->Sink != nullptr && !Self->Sink(Self->SinkUser, Bytes, (int32)Length))
        return Fail(Self, WEBGETRESPONSE_SINKSTOP);
    return WEBGETRESPONSE_MORE;
}

// Body bytes as sent: inflated first when the body is gzip. The output is
// produced a bounded block at a time, so a small input cannot make an
// unbounded allocation; the limit stops a bomb. The bytes as sent count
// against the limit too, so a stream that inflates to nothing (empty
// deflate blocks) cannot go on for ever.
int32 TakeBody(WebGetResponse *Self, const uint8 *Bytes, size_t Length) {
    if (Self->Limit >= 0 && Self->RawBytes + (int64)Length > Self->Limit) return FailTooLarge(Self);
    Self->RawBytes += (int64)Length;
    if (!Self->Gzip) return Deliver(Self, Bytes, Length);
    uint8 Out[16384];
    Self->Inflate.next_in = const_cast<Bytef *>(Bytes);
    Self->Inflate.avail_in = (uInt)Length;
    while (Self->Inflate.avail_in > 0) {
        // A gzip body may hold several members, one after the other (as a
        // file of them does); each is read, so none is dropped unread.
        if (Self->GzipEnded) {
            inflateReset(&Self->Inflate);
            Self->GzipEnded = false;
        }
        Self->Inflate.next_out = Out;
        Self->Inflate.avail_out = sizeof(Out);
        int Code = inflate(&Self->Inflate, Z_NO_FLUSH);
        if (Code != Z_OK && Code != Z_STREAM_END && Code != Z_BUF_ERROR)
            return FailMalformed(Self, std::string("its gzip body cannot be read (") +
                                           (Self->Inflate.msg != nullptr ? Self->Inflate.msg : "damaged") + ")");
        int32 Result = Deliver(Self, Out, sizeof(Out) - Self->Inflate.avail_out);
        if (Result != WEBGETRESPONSE_MORE) return Result;
        if (Code == Z_STREAM_END) Self->GzipEnded = true;
        else if (Code == Z_BUF_ERROR && Self->Inflate.avail_out != 0) break;
    }
    return WEBGETRESPONSE_MORE;
}

// The body's framing is complete. A gzip body is whole only when its
// stream ended and the trailer (CRC and length) checked; one cut before
// that is as truncated as a body cut short of its framing. (A gzip body of
// no bytes at all counts as empty.)
int32 Complete(WebGetResponse *Self) {
    if (Self->Gzip && !Self->GzipEnded && Self->RawBytes > 0)
        return FailMalformed(Self, "its gzip body ends before the gzip data does");
    Self->State = Phase::Done;
    return Self->Result = WEBGETRESPONSE_DONE;
}

bool Contains(const char *Text, const char *Word) {
    const char *Position = nullptr;
    return String_FindStringWithoutCase(Text, Word, &Position) != 0;
}

// Strict decimal: digits only, at most 18 of them.
bool ParseDecimal(const char *Text, int64 *Value) {
    while (*Text == ' ' || *Text == '\t') Text++;
    int64 Number = 0;
    int32 Digits = 0;
    for (; *Text >= '0' && *Text <= '9'; Text++) {
        if (++Digits > 18) return false;
        Number = Number * 10 + (*Text - '0');
    }
    while (*Text == ' ' || *Text == '\t') Text++;
    if (Digits == 0 || *Text != 0) return false;
    *Value = Number;
    return true;
}

// Hexadecimal chunk size, extensions after ";" ignored; at most 15 digits.
// Extra: the line's bytes after the digits (white space and extensions).
bool ParseChunkSize(const std::string &Line, int64 *Value, size_t *Extra) {
    int64 Number = 0;
    int32 Digits = 0;
    size_t At = 0;
    for (; At < Line.size(); At++) {
        char C = Line[At];
        int Digit = C >= '0' && C <= '9' ? C - '0' : C >= 'a' && C <= 'f' ? C - 'a' + 10 : C >= 'A' && C <= 'F' ? C - 'A' + 10 : -1;
        if (Digit < 0) break;
        if (++Digits > 15) return false;
        Number = Number * 16 + Digit;
    }
    while (At < Line.size() && (Line[At] == ' ' || Line[At] == '\t')) At++;
    if (Digits == 0 || (At < Line.size() && Line[At] != ';')) return false;
    *Value = Number;
    *Extra = Line.size() - (size_t)Digits;
    return true;
}

// The value of every header line of that name (without regard to case),
// white space around it removed.
template <typename Visit> void EachHeaderValue(const std::string &Headers, const char *Name, Visit Function) {
    const size_t NameLength = strlen(Name);
    size_t At = 0;
    while (At < Headers.size()) {
        size_t End = Headers.find("\r\n", At);
        if (End == std::string::npos) End = Headers.size();
        if (End - At > NameLength && Headers[At + NameLength] == ':' &&
            strncasecmp(Headers.c_str() + At, Name, NameLength) == 0) {
            size_t Start = At + NameLength + 1, Stop = End;
            while (Start < Stop && (Headers[Start] == ' ' || Headers[Start] == '\t')) Start++;
            while (Stop > Start && (Headers[Stop - 1] == ' ' || Headers[Stop - 1] == '\t')) Stop--;
            Function(Headers.substr(Start, Stop - Start));
        }
        At = End + 2;
    }
}

// The items of a comma-separated list, trimmed; empty items kept, so that
// "5," is not taken for "5".
void SplitList(const std::string &Text, std::vector<std::string> *Items) {
    size_t At = 0;
    while (true) {
        size_t Comma = Text.find(',', At);
        std::string Item = Text.substr(At, Comma == std::string::npos ? std::string::npos : Comma - At);
        size_t First = Item.find_first_not_of(" \t"), Last = Item.find_last_not_of(" \t");
        Items->push_back(First == std::string::npos ? std::string() : Item.substr(First, Last - First + 1));
        if (Comma == std::string::npos) return;
        At = Comma + 1;
    }
}

// A peer's text as a message may quote it: short, and printable only.
std::string Printable(const std::string &Text) {
    std::string Out;
    for (char C : Text.substr(0, 64)) Out += C >= 0x20 && C < 0x7F ? C : '?';
    if (Text.size() > 64) Out += "...";
    return Out;
}

// Whether the status line's bytes so far can still start "HTTP/1.0 " or
// "HTTP/1.1 ": an answer in another version (0.9's bare body, 2's binary
// preface) is refused at its first bytes, not when a line end comes.
bool StatusLineCanStart(const std::string &L) {
    constexpr const char *Start = "HTTP/1.x ";
    for (size_t At = 0; At < L.size() && At < 9; At++)
        if (At == 7 ? L[At] != '0' && L[At] != '1' : L[At] != Start[At]) return false;
    return true;
}

// What makes a line of the head unreadable, whichever line it is (status,
// header, trailer, chunk size): one reader for all, so that bytes a head line
// is refused for are refused in every other line too. A bare CR would end the
// line for a reader that takes CR alone as a line end, and so hide the next
// line inside this one; a NUL ends it for a reader in C. Header-like lines
// (headers and trailers) must also be a name and a value, never folded, the
// name without white space or control bytes (as the server's reader asks).
const char *LineFault(const std::string &Line, bool HeaderLike) {
    if (HeaderLike && !Line.empty() && (Line[0] == ' ' || Line[0] == '\t')) return "is folded onto the one before";
    if (Line.find('\0') != std::string::npos) return "holds a NUL";
    if (Line.find('\r') != std::string::npos) return "holds a CR that ends no line";
    if (!HeaderLike) return nullptr;
    const size_t Colon = Line.find(':');
    if (Colon == std::string::npos) return "has no colon";
    if (Colon == 0) return "has no name before its colon";
    // "Content-Length : 5" names no header here, yet a reader that trims
    // the name would take it for the length: one reading or none.
    for (size_t At = 0; At < Colon; At++)
        if ((unsigned char)Line[At] <= ' ' || (unsigned char)Line[At] >= 0x7F)
            return "has white space or a control byte in its name";
    return nullptr;
}

// Fails the response when the line is unreadable, naming it ("its trailer
// line"); false then.
bool CheckLine(WebGetResponse *Self, const char *Name, bool HeaderLike) {
    const char *Wrong = LineFault(Self->Line, HeaderLike);
    if (Wrong == nullptr) return true;
    FailMalformed(Self, std::string("its ") + Name + " line \"" + Printable(Self->Line) + "\" " + Wrong);
    return false;
}

int32 FailStatusLine(WebGetResponse *Self) {
    return FailMalformed(Self, "its status line \"" + Printable(Self->Line) + "\" is not one of HTTP/1.0 or HTTP/1.1");
}

int32 ParseStatusLine(WebGetResponse *Self) {
    const std::string &L = Self->Line;
    if (!CheckLine(Self, "status", false)) return Self->Result;
    if (L.size() < 12 || !StatusLineCanStart(L) || (L.size() > 12 && L[12] != ' ')) return FailStatusLine(Self);
    Self->Minor = L[7] - '0';
    int32 Code = 0;
    for (int i = 9; i < 12; i++) {
        if (L[i] < '0' || L[i] > '9') return FailStatusLine(Self);
        Code = Code * 10 + (L[i] - '0');
    }
    if (Code < 100 || Code > 599) return FailMalformed(Self, "status " + L.substr(9, 3) + " is not a status");
    Self->Status = Code;
    Self->State = Phase::Headers;
    return WEBGETRESPONSE_MORE;
}

// The header block is complete: choose the framing.
int32 EndHeaders(WebGetResponse *Self) {
    char Value[256];
    const char *H = Self->Headers.c_str();
    Self->KeepAlive = Self->Minor >= 1;
    if (WebGet_HeaderGetByName(H, "Connection", Value, sizeof(Value))) {
        if (Contains(Value, "close")) Self->KeepAlive = 0;
        else if (Contains(Value, "keep-alive")) Self->KeepAlive = 1;
    }
    // Every line of the codings counts: two lines of gzip are a body
    // compressed twice, as one line listing it twice would be.
    std::string Codings;
    EachHeaderValue(Self->Headers, "Content-Encoding", [&](const std::string &Text) {
        if (!Text.empty()) Codings += (Codings.empty() ? "" : ", ") + Text;
    });
    if (!Codings.empty()) {
        const char *Coding = Codings.c_str();
        if (String_CompareWithoutCase(Coding, "gzip") || String_CompareWithoutCase(Coding, "x-gzip")) {
            Self->Gzip = true;
            // 16 + MAX_WBITS: a gzip wrapper only.
            if (inflateInit2(&Self->Inflate, 16 + MAX_WBITS) != Z_OK)
                return FailFinal(Self, WEBGETRESPONSE_MALFORMED, "the memory for reading a gzip body is not there");
            Self->InflateReady = true;
        } else if (!String_CompareWithoutCase(Coding, "identity")) {
            Log_Warning("Unsupported content encoding (%s)\n", Printable(Codings).c_str());
            // Only gzip is asked for: the same peer answers the same again.
            return FailFinal(Self, WEBGETRESPONSE_MALFORMED,
                             "the answer's Content-Encoding \"" + Printable(Codings) + "\" is not gzip, the only one read");
        }
    }
    // The body's framing, read from every line of its headers: an answer
    // that frames itself twice cannot be read safely either way.
    std::vector<std::string> TransferCodings, LengthTexts;
    std::string TransferValue;
    EachHeaderValue(Self->Headers, "Transfer-Encoding", [&](const std::string &Text) {
        TransferValue += (TransferValue.empty() ? "" : ", ") + Text;
        SplitList(Text, &TransferCodings);
    });
    EachHeaderValue(Self->Headers, "Content-Length", [&](const std::string &Text) { SplitList(Text, &LengthTexts); });
    std::vector<int64> Lengths;
    for (const std::string &Text : LengthTexts) {
        int64 Length = 0;
        if (!ParseDecimal(Text.c_str(), &Length))
            return FailMalformed(Self, "Content-Length \"" + Printable(Text) + "\" is not a length");
        if (!Lengths.empty() && Lengths[0] != Length)
            return FailMalformed(Self, "two different Content-Length headers (" + std::to_string(Lengths[0]) +
                                           " and " + std::to_string(Length) + ")");
        Lengths.push_back(Length);
    }
    if (!TransferCodings.empty() && !Lengths.empty())
        return FailMalformed(Self, "both Transfer-Encoding and Content-Length frame its body");
    // A 204 has no body whatever the request; one framed otherwise is out
    // of step with its own status.
    if (Self->Status == 204 && (!TransferCodings.empty() || (!Lengths.empty() && Lengths[0] != 0)))
        return FailMalformed(Self, "a 204 (no content) answer frames a body");
    bool NoBody = Self->Head || Self->Status == 204 || Self->Status == 304 || (Self->Status >= 100 && Self->Status < 200);
    if (NoBody) {
        Self->Mode = Framing::None;
    } else if (!TransferCodings.empty()) {
        // Chunked is the only transfer coding read here; a body in another
        // could not be told from its framing.
        if (TransferCodings.size() != 1 || !String_CompareWithoutCase(TransferCodings[0].c_str(), "chunked"))
            return FailMalformed(Self, "unsupported Transfer-Encoding \"" + Printable(TransferValue) + "\"");
        Self->Mode = Framing::Chunked;
    } else if (!Lengths.empty()) {
        int64 Length = Lengths[0];
        // A body larger than the limit is refused before a byte of it.
        if (Self->Limit >= 0 && Length > Self->Limit) return FailTooLarge(Self);
        Self->Mode = Framing::Length;
        Self->Remaining = Length;
    } else {
        Self->Mode = Framing::Close;
        Self->KeepAlive = 0;
    }
    if (Self->HeaderDone != nullptr && !Self->HeaderDone(Self->HeaderUser, Self))
        return Fail(Self, WEBGETRESPONSE_SINKSTOP);
    if (Self->Mode == Framing::None || (Self->Mode == Framing::Length && Self->Remaining == 0)) return Complete(Self);
    Self->State = Self->Mode == Framing::Chunked ? Phase::ChunkSize : Phase::Body;
    return WEBGETRESPONSE_MORE;
}

// Collects one line (without CR LF) into Line; false while incomplete.
bool TakeLine(WebGetResponse *Self, const uint8 *Bytes, int32 Length, int32 *At, size_t Cap, bool *TooLong) {
    while (*At < Length) {
        char C = (char)Bytes[(*At)++];
        if (C == '\n') {
            if (!Self->Line.empty() && Self->Line.back() == '\r') Self->Line.pop_back();
            return true;
        }
        if (Self->Line.size() >= Cap) {
            *TooLong = true;
            return false;
        }
        Self->Line.push_back(C);
    }
    return false;
}

// One line of the head: a status line, a header or a trailer. Every such
// line, those of interim responses and of trailers included, counts against
// the one header cap, so a peer cannot go on sending heads for ever. False
// while incomplete or on failure.
bool TakeHeadLine(WebGetResponse *Self, const uint8 *Bytes, int32 Length, int32 *At) {
    const int32 Start = *At;
    // The line's bytes so far are counted already.
    const int64 Left = WEBGETRESPONSE_HEADER_LIMIT - Self->HeadBytes;
    const size_t Cap = (Left > 0 ? (size_t)Left : 0) + Self->Line.size();
    bool TooLong = false;
    const bool Whole = TakeLine(Self, Bytes, Length, At, Cap, &TooLong);
    Self->HeadBytes += *At - Start;
    if (TooLong || Self->HeadBytes > WEBGETRESPONSE_HEADER_LIMIT) {
        FailFinal(Self, WEBGETRESPONSE_TOOLARGE,
                  "the answer's head is larger than " + std::to_string(WEBGETRESPONSE_HEADER_LIMIT) + " bytes");
        return false;
    }
    return Whole;
}

// Where in the answer the reading stands, in words, for a cut: how many
// bytes of how many had come.
std::string Position(const WebGetResponse *Self) {
    const std::string Body = std::to_string(Self->RawBytes);
    switch (Self->State) {
    case Phase::StatusLine:
    case Phase::Headers:
        if (Self->HeadBytes == 0) return "before answering";
        return "within the answer's head, after " + std::to_string(Self->HeadBytes) + " bytes of it";
    case Phase::Body:
        if (Self->Mode == Framing::Length)
            return "after " + Body + " of the body's " + std::to_string(Self->RawBytes + Self->Remaining) + " bytes";
        return "after " + Body + " bytes of the body";
    case Phase::ChunkData:
        return "after " + std::to_string(Self->Chunk - Self->Remaining) + " of a chunk's " +
               std::to_string(Self->Chunk) + " bytes (" + Body + " bytes of the body in all)";
    case Phase::Trailer:
        return "within the trailer of its chunked body, after " + Body + " bytes of the body";
    default:
        return "after " + Body + " bytes of the chunked body, before its last chunk";
    }
}

} // namespace

int32 WebGetResponse_Create(WebGetResponse **Handle) {
    Debug_CheckPointer(Handle);
    *Handle = new WebGetResponse();
    return TRUE;
}

int32 WebGetResponse_Delete(WebGetResponse **Handle) {
    Debug_CheckPointer(Handle);
    delete *Handle;
    *Handle = nullptr;
    return TRUE;
}

int32 WebGetResponse_Reset(WebGetResponse *Self, int32 HeadRequest) {
    Debug_CheckPointer(Self);
    if (Self->InflateReady) inflateEnd(&Self->Inflate);
    Self->InflateReady = false;
    Self->Inflate = z_stream{};
    Self->Gzip = false;
    Self->State = Phase::StatusLine;
    Self->Mode = Framing::None;
    Self->Result = WEBGETRESPONSE_MORE;
    Self->Head = HeadRequest;
    Self->Status = 0;
    Self->Minor = 1;
    Self->KeepAlive = 0;
    Self->Remaining = 0;
    Self->Chunk = 0;
    Self->BodyBytes = 0;
    Self->RawBytes = 0;
    Self->HeadBytes = 0;
    Self->GzipEnded = false;
    Self->Line.clear();
    Self->Headers.clear();
    Self->Why.clear();
    Self->Final = false;
    return TRUE;
}

int32 WebGetResponse_SetLimitBodySize(WebGetResponse *Self, int64 Limit) {
    Debug_CheckPointer(Self);
    Self->Limit = Limit;
    return TRUE;
}

int32 WebGetResponse_SetSink(WebGetResponse *Self, void *User, WebGetResponse_SinkFunc Sink) {
    Debug_CheckPointer(Self);
    Self->SinkUser = User;
    Self->Sink = Sink;
    return TRUE;
}

int32 WebGetResponse_SetHeaderCallback(WebGetResponse *Self, void *User, WebGetResponse_HeaderFunc Function) {
    Debug_CheckPointer(Self);
    Self->HeaderUser = User;
    Self->HeaderDone = Function;
    return TRUE;
}

int32 WebGetResponse_Feed(WebGetResponse *Self, const uint8 *Bytes, int32 Length, int32 *Consumed) {
    Debug_CheckPointer(Self);
    Debug_CheckPointer(Consumed);
    int32 At = 0;
    *Consumed = 0;
    if (Length < 0 || (Bytes == nullptr && Length > 0)) return Fail(Self, WEBGETRESPONSE_MALFORMED);
    while (Self->State != Phase::Done && Self->State != Phase::Failed) {
        bool TooLong = false;
        switch (Self->State) {
        case Phase::StatusLine:
        case Phase::Headers: {
            if (!TakeHeadLine(Self, Bytes, Length, &At)) {
                if (Self->State == Phase::StatusLine && !StatusLineCanStart(Self->Line)) FailStatusLine(Self);
                goto out;
            }
            if (Self->State == Phase::StatusLine) {
                // An interim 1xx response is skipped whole.
                if (ParseStatusLine(Self) != WEBGETRESPONSE_MORE) goto out;
            } else if (Self->Line.empty()) {
                if (Self->Status >= 100 && Self->Status < 200) {
                    Self->Headers.clear();
                    Self->State = Phase::StatusLine;
                } else if (EndHeaders(Self) != WEBGETRESPONSE_MORE) {
                    goto out;
                }
            } else {
                if (!CheckLine(Self, "header", true)) goto out;
                Self->Headers += Self->Line;
                Self->Headers += "\r\n";
            }
            Self->Line.clear();
            break;
        }
        case Phase::Body: {
            int32 Available = Length - At;
            if (Available == 0) goto out;
            int64 Take = Available;
            if (Self->Mode == Framing::Length && Take > Self->Remaining) Take = Self->Remaining;
            int32 Result = TakeBody(Self, Bytes + At, (size_t)Take);
            At += (int32)Take;
            if (Result != WEBGETRESPONSE_MORE) goto out;
            if (Self->Mode == Framing::Length) {
                Self->Remaining -= Take;
                if (Self->Remaining == 0 && Complete(Self) != WEBGETRESPONSE_DONE) goto out;
            }
            break;
        }
        case Phase::ChunkSize: {
            if (!TakeLine(Self, Bytes, Length, &At, ChunkLineLimit, &TooLong)) {
                if (TooLong)
                    FailMalformed(Self, "a chunk size line is longer than " + std::to_string(ChunkLineLimit) + " bytes");
                goto out;
            }
            int64 Size = 0;
            size_t Extra = 0;
            if (!CheckLine(Self, "chunk size", false)) goto out;
            if (!ParseChunkSize(Self->Line, &Size, &Extra)) {
                FailMalformed(Self, "chunk size \"" + Printable(Self->Line) +
                                        "\" is not a size (1 to 15 hexadecimal digits)");
                goto out;
            }
            // Extensions carry nothing we read: they count against the
            // header cap, so chunks of a byte with a kilobyte of them
            // cannot make the framing a thousand times the body.
            Self->HeadBytes += (int64)Extra;
            if (Self->HeadBytes > WEBGETRESPONSE_HEADER_LIMIT) {
                FailFinal(Self, WEBGETRESPONSE_TOOLARGE,
                          "the answer's head is larger than " + std::to_string(WEBGETRESPONSE_HEADER_LIMIT) + " bytes");
                goto out;
            }
            Self->Line.clear();
            if (Size == 0) {
                Self->State = Phase::Trailer;
            } else {
                // A chunk announced beyond the limit is refused before its bytes.
                if (Self->Limit >= 0 && Self->RawBytes + Size > Self->Limit) {
                    FailTooLarge(Self);
                    goto out;
                }
                Self->Remaining = Self->Chunk = Size;
                Self->State = Phase::ChunkData;
            }
            break;
        }
        case Phase::ChunkData: {
            int32 Available = Length - At;
            if (Available == 0) goto out;
            int64 Take = Available < Self->Remaining ? Available : Self->Remaining;
            int32 Result = TakeBody(Self, Bytes + At, (size_t)Take);
            At += (int32)Take;
            if (Result != WEBGETRESPONSE_MORE) goto out;
            Self->Remaining -= Take;
            if (Self->Remaining == 0) Self->State = Phase::ChunkDataEnd;
            break;
        }
        case Phase::ChunkDataEnd:
            if (!TakeLine(Self, Bytes, Length, &At, 2, &TooLong)) {
                if (TooLong) FailMalformed(Self, "a chunk's data runs past its size");
                goto out;
            }
            if (!Self->Line.empty()) {
                FailMalformed(Self, "a chunk's data runs past its size");
                goto out;
            }
            Self->State = Phase::ChunkSize;
            break;
        case Phase::Trailer: {
            if (!TakeHeadLine(Self, Bytes, Length, &At)) goto out;
            bool End = Self->Line.empty();
            if (!End && !CheckLine(Self, "trailer", true)) goto out;
            Self->Line.clear();
            if (End && Complete(Self) != WEBGETRESPONSE_DONE) goto out;
            break;
        }
        default:
            goto out;
        }
    }
out:
    if (Self->State == Phase::Done && Self->Status == 204 && At < Length)
        FailMalformed(Self, "a 204 (no content) answer carries a body");
    *Consumed = At;
    return Self->Result;
}

int32 WebGetResponse_Finish(WebGetResponse *Self) {
    Debug_CheckPointer(Self);
    if (Self->State == Phase::Body && Self->Mode == Framing::Close) Complete(Self);
    else WebGetResponse_Cut(Self, "the peer closed the connection");
    return Self->Result;
}

int32 WebGetResponse_Cut(WebGetResponse *Self, const char *How) {
    Debug_CheckPointer(Self);
    Debug_CheckPointer(How);
    if (Self->State == Phase::Done || Self->State == Phase::Failed) return Self->Result;
    // A connection cut short may go through on the next attempt: not final.
    Self->Why = std::string(How) + " " + Position(Self);
    return Fail(Self, WEBGETRESPONSE_MALFORMED);
}

int32 WebGetResponse_IsHeaderDone(WebGetResponse *Self) {
    Debug_CheckPointer(Self);
    return Self->State != Phase::StatusLine && Self->State != Phase::Headers &&
           !(Self->State == Phase::Failed && Self->Mode == Framing::None && Self->Status < 200);
}

int32 WebGetResponse_GetStatusCode(WebGetResponse *Self) { return Self != nullptr ? Self->Status : 0; }
int32 WebGetResponse_GetMinorVersion(WebGetResponse *Self) { return Self != nullptr ? Self->Minor : 0; }
const char *WebGetResponse_GetHeaderPtr(WebGetResponse *Self) { return Self != nullptr ? Self->Headers.c_str() : ""; }
int32 WebGetResponse_IsKeepAlive(WebGetResponse *Self) { return Self != nullptr && Self->KeepAlive; }
int64 WebGetResponse_GetBodyBytes(WebGetResponse *Self) { return Self != nullptr ? Self->BodyBytes : 0; }

int32 WebGetResponse_GetFailure(WebGetResponse *Self, const char **Why) {
    Debug_CheckPointer(Self);
    Debug_CheckPointer(Why);
    *Why = Self->Why.c_str();
    return Self->State == Phase::Failed && Self->Final;
}
