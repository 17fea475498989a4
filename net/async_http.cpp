// The asynchronous document loader (see async_http.h).
#include "net/async_http.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <fcntl.h>
#include <math.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <new>
#include <string>
#include <vector>

#include "crypto/trust/jws.h"
#include "formats/xml.h"
#include "formats/yaml.h"
#include "net/web_get.h"
#include "net/web_get_internal.h"
#include "runtime/class.h"
#include "runtime/documents/json.h"
#include "runtime/files/path.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/posix/platform.h"
#include "runtime/text/string.h"
#include "runtime/text/url.h"
#include "runtime/thread.h"
#include "runtime/time.h"

namespace {


enum class State { Idle, Fetching, Parsing, Complete };

// One attempt's parse (and, for files, read) on the worker thread.
struct ParseJob {
    std::atomic<int32> Done{0};
    int32 Kind = ASYNCHTTP_PARSER_JSON;
    int32 Authenticate = 0;
    CertStoreInterface *Store = nullptr; // the owner's, alive while the job runs
    std::string Url;
    std::string ContentType;
    std::string FilePath; // set for "file://" URLs
    int64 FileLimit = WEBGETREQUEST_LIMIT_BODY_MAX; // the request's body limit, for a file
    ChargedBytes Body;
    Dictionary *Document = nullptr;
    int32 Error = 0;
    int32 SubCode = 0;
    std::string Message; // the parser's last message, with its position
    std::string ReadAs;  // which parser read the body, and why
    std::string StoreName; // for the message of an untrusted signer
    bool Final = false;    // no later attempt can fare otherwise
    volatile int32 GiveUp = 0; // set by the owner that no longer waits for the parse
};

// Which time claim refused the document, and its value.
struct ClaimRefusal {
    const char *Name = nullptr;
    float64 Value = 0;
    bool Number = true;
    bool Twice = false;
};

void NoteClaim(ClaimRefusal *Into, const char *Name, Dictionary *Payload) {
    Into->Name = Name;
    Into->Number = Dictionary_GetFloat64ByKey(Payload, Name, &Into->Value) != 0;
    Into->Twice = JWSClaim_CountNamed(Payload, Name) > 1;
}

// The built-in checks, letting documents without the claim through, that
// remember which one failed.
int32 CheckExp(Dictionary *Payload, void *User) {
    if (JWSClaim_Exp(Payload, reinterpret_cast<void *>(1))) return TRUE;
    NoteClaim(static_cast<ClaimRefusal *>(User), "exp", Payload);
    return FALSE;
}

int32 CheckNbf(Dictionary *Payload, void *User) {
    if (JWSClaim_Nbf(Payload, reinterpret_cast<void *>(1))) return TRUE;
    NoteClaim(static_cast<ClaimRefusal *>(User), "nbf", Payload);
    return FALSE;
}

// A claim's time as the user reads it: UTC, to the second.
// A claim's time as a date of the years 0 to 9999; any other is told as
// out of range, never as a bare number.
std::string ClaimTime(float64 Seconds) {
    char Text[64];
    struct tm Parts {};
    if (Seconds >= -62167219200.0 && Seconds < 253402300800.0) {
        time_t Whole = (time_t)floor(Seconds);
        if (gmtime_r(&Whole, &Parts) != nullptr) {
            snprintf(Text, sizeof(Text), "%04d-%02d-%02d %02d:%02d:%02d UTC", Parts.tm_year + 1900, Parts.tm_mon + 1,
                     Parts.tm_mday, Parts.tm_hour, Parts.tm_min, Parts.tm_sec);
            return Text;
        }
    }
    return "a time out of range (before the year 0 or after 9999)";
}

// Text from outside (a header, a parser's quote of the body) as a line may
// hold it: each control or non-ASCII byte is a '?'.
std::string Printable(std::string Text) {
    for (char &Each : Text)
        if ((unsigned char)Each < 0x20 || (unsigned char)Each >= 0x7f) Each = '?';
    return Text;
}

// One line for each way a signed document is refused.
std::string RefusalText(const JWSRefusal &Refusal, const ClaimRefusal &Claim, const std::string &Store) {
    switch (Refusal.Reason) {
    case JWS_REFUSAL_UNSIGNED:
        return ASYNCHTTP_TEXT_UNSIGNED;
    case JWS_REFUSAL_ALGORITHM: {
        const std::string Name = Printable(Refusal.Algorithm);
        return Name.empty() ? "Document signature names no algorithm"
                            : "Document signature algorithm is not supported: " + Name;
    }
    case JWS_REFUSAL_UNTRUSTED:
        return "Document signer is not trusted by the " + (Store.empty() ? std::string("certificate store") : Store);
    case JWS_REFUSAL_SIGNATURE:
        return "Document signature does not verify: the document was changed after it was signed";
    case JWS_REFUSAL_HEADER:
        return std::string("Document signature header is refused: ") + Refusal.Header;
    case JWS_REFUSAL_CLAIMS:
        if (Claim.Name == nullptr) break;
        if (Claim.Twice) return std::string("Document claim \"") + Claim.Name + "\" is named twice";
        if (!Claim.Number) return std::string("Document claim \"") + Claim.Name + "\" is not a number";
        if (strcmp(Claim.Name, "exp") == 0) return "Document expired at " + ClaimTime(Claim.Value) + " (\"exp\")";
        return "Document is not valid before " + ClaimTime(Claim.Value) + " (\"nbf\")";
    default:
        break;
    }
    return "Document signature not accepted";
}

AsyncHTTP_RequestFunc AddHandler = WebGetPool_RequestAdd;
AsyncHTTP_RequestFunc RemoveHandler = WebGetPool_RequestRemove;

bool Contains(const std::string &Text, const char *Word) {
    const char *Position = nullptr;
    return String_FindStringWithoutCase(Text.c_str(), Word, &Position) != 0;
}

// The parser for content type 5: the type, then the URL's extension, then
// JSON; Why says which rule chose it, for the message of a failed parse.
int32 ChooseKind(const std::string &ContentType, const std::string &Url, std::string *Why) {
    for (auto [Word, Kind] : {std::pair{"json", ASYNCHTTP_PARSER_JSON}, std::pair{"xml", ASYNCHTTP_PARSER_XML},
                              std::pair{"yaml", ASYNCHTTP_PARSER_YAML}})
        if (Contains(ContentType, Word)) {
            *Why = "the server's content type is " + Printable(ContentType);
            return Kind;
        }
    char Name[320] = "";
    URL_ParseFilename(Url.c_str(), Name, sizeof(Name));
    const char *Dot = strrchr(Name, '.');
    if (Dot != nullptr) {
        *Why = "the name ends in " + Printable(Dot);
        if (String_CompareWithoutCase(Dot, ".xml")) return ASYNCHTTP_PARSER_XML;
        if (String_CompareWithoutCase(Dot, ".yaml") || String_CompareWithoutCase(Dot, ".yml"))
            return ASYNCHTTP_PARSER_YAML;
        if (String_CompareWithoutCase(Dot, ".json")) return ASYNCHTTP_PARSER_JSON;
    }
    *Why = "the name does not end in .yaml, .yml or .xml";
    return ASYNCHTTP_PARSER_JSON;
}

const char *KindName(int32 Kind) {
    return Kind == ASYNCHTTP_PARSER_XML ? "XML" : Kind == ASYNCHTTP_PARSER_YAML ? "YAML" : "JSON";
}

bool Blank(const ChargedBytes &Body) {
    for (uint8 Each : Body)
        if (Each != ' ' && Each != '\t' && Each != '\r' && Each != '\n') return false;
    return true;
}

// A failed parse as the user reads it: an empty document is said to be
// empty; otherwise the parser that read it, why that one, and what it said.
void ExplainParseFailure(ParseJob *Job) {
    if (Blank(Job->Body)) {
        Job->Message = ASYNCHTTP_TEXT_EMPTY;
        return;
    }
    Job->Message = Job->ReadAs + ": " + (Job->Message.empty() ? std::string("it does not parse") : Job->Message);
}

// Why, in words beside the code ("permission denied"), as a refused
// connection says.
std::string ErrorWords(int Number) {
    char Words[128];
    std::string Text = strerror_r(Number, Words, sizeof(Words));
    if (!Text.empty() && Text[0] >= 'A' && Text[0] <= 'Z') Text[0] += 'a' - 'A';
    return Text;
}

bool ReadFile(ParseJob *Job) {
    // Without blocking: a FIFO (or a device) at the path would hold the open
    // until a writer came. Only regular files are documents; one the system
    // makes as it is read and that waits for its next line (/proc/kmsg)
    // fails its read rather than hold the fetch.
    int Fd = Platform_OpenRegular(Job->FilePath.c_str(), O_RDONLY | O_NONBLOCK, 0);
    if (Fd < 0 && (errno == EISDIR || errno == EINVAL)) {
        Job->Error = WEBGET_ERROR_OS;
        Job->SubCode = PLATFORM_ERROR_ERRNO_BASE + errno;
        Job->Message = errno == EISDIR ? "is a directory" : "Not a regular file (" + Job->FilePath + ")";
        return false;
    }
    if (Fd < 0) {
        int Number = errno;
        Job->Error = WEBGET_ERROR_OS;
        Job->SubCode = PLATFORM_ERROR_ERRNO_BASE + Number;
        // A missing file's code says it plainly.
        if (Number != ENOENT) Job->Message = ErrorWords(Number);
        return false;
    }
    struct stat Facts{};
    const int64 Limit = Job->FileLimit;
    if (fstat(Fd, &Facts) != 0 || Facts.st_size > Limit) {
        Job->Error = WEBGET_ERROR_OS;
        Job->SubCode = PLATFORM_ERROR_ERRNO_BASE + (Facts.st_size > Limit ? EFBIG : errno);
        if (Facts.st_size > Limit)
            Job->Message = "is " + std::to_string((long long)Facts.st_size) + " bytes, past the body limit of " +
                           std::to_string((long long)Limit) + " bytes (limitBodySize)";
        close(Fd);
        return false;
    }
    // Read to the end, not to the size the file reports: a file the system
    // makes as it is read (/proc) says 0, and one may grow meanwhile. The
    // limit bounds it all the same: a byte past it is refused.
    size_t Have = 0;
    int Failed = 0;
    Job->Body.resize((size_t)std::min<int64>(std::max<int64>(Facts.st_size, 0) + 1, Limit + 1));
    while (true) {
        if (Have == Job->Body.size()) {
            if ((int64)Have > Limit) break;
            Job->Body.resize((size_t)std::min<int64>((int64)Have * 2 + 65536, Limit + 1));
        }
        ssize_t Count = read(Fd, Job->Body.data() + Have, Job->Body.size() - Have);
        if (Count < 0 && errno == EINTR) continue;
        if (Count < 0) Failed = errno;
        if (Count <= 0) break;
        Have += (size_t)Count;
    }
    close(Fd);
    Job->Body.resize(std::min<size_t>(Have, (size_t)Limit));
    if ((int64)Have > Limit || Failed != 0) {
        Job->Error = WEBGET_ERROR_OS;
        Job->SubCode = PLATFORM_ERROR_ERRNO_BASE + (Failed != 0 ? Failed : EFBIG);
        Job->Message = Failed != 0 ? ErrorWords(Failed)
                                   : "is larger than the body limit of " + std::to_string((long long)Limit) +
                                         " bytes (limitBodySize)";
        return false;
    }
    return true;
}


// Runs its action when the scope ends, unwinding included: a parse given up
// (or out of memory) still releases its reader.
template <typename Action> struct AtExit {
    Action Run;
    ~AtExit() { Run(); }
};
template <typename Action> AtExit(Action) -> AtExit<Action>;

void Parse(ParseJob *Job) {
    std::string Why = "as the request asks";
    int32 Kind = Job->Kind == ASYNCHTTP_PARSER_AUTO ? ChooseKind(Job->ContentType, Job->Url, &Why) : Job->Kind;
    if (Job->Authenticate && Kind != ASYNCHTTP_PARSER_JSON) Why = "a signed document is JSON";
    if (Job->Authenticate) Kind = ASYNCHTTP_PARSER_JSON;
    Job->ReadAs = std::string("read as ") + KindName(Kind) + " (" + Why + ")";
    if (Kind == ASYNCHTTP_PARSER_JSON) {
        // A signed document is JSON inside a JWS. Unsigned JSON is read as it
        // is unless a signature was required, or one was present and failed.
        JSON *Reader = nullptr;
        JSON_Create(&Reader);
        AtExit ReleaseReader{[&Reader] {
            if (Reader != nullptr) JSON_Release(&Reader);
        }};
        JSON_SetDictionaryHandle(Reader, Job->Document);
        JSON_SetPrintCallback(Reader, &Job->Message, AsyncHTTP_KeepParserMessage);
        ClaimRefusal Claim;
        JWSRefusal Refusal{};
        JWSClaims *Claims = nullptr;
        JWSClaims_Create(&Claims);
        AtExit ReleaseClaims{[&Claims] {
            if (Claims != nullptr) JWSClaims_Release(&Claims);
        }};
        JWSClaims_Add(Claims, &Claim, CheckExp);
        JWSClaims_Add(Claims, &Claim, CheckNbf);
        const char *Text = reinterpret_cast<const char *>(Job->Body.data());
        const int32 Length = (int32)Job->Body.size();
        int32 Code = JSON_ERROR_AUTHENTICATE;
        // Without a store nothing can vouch for a signature.
        int32 Loaded = (Job->Store != nullptr || !Job->Authenticate) &&
                       JWS_DecodeExplained(Reader, Job->Authenticate ? Claims : nullptr, Job->Store, Text, Length,
                                           Job->Authenticate ? 1 : 0, &Refusal);
        if (Job->Store == nullptr && Job->Authenticate) Refusal.Reason = JWS_REFUSAL_UNTRUSTED;
        if (!Loaded && (Job->Store != nullptr || !Job->Authenticate)) JSON_GetLastError(Reader, &Code);
        const bool Unsigned = Code == JSON_ERROR_DECODESIGNATURE;
        // Where a signature is required, a body without one and a signature
        // out of its time are refused as any other unaccepted signature.
        if (!Loaded && Job->Authenticate && (Code == JSON_ERROR_DECODESIGNATURE || Code == JSON_ERROR_NONE))
            Code = JSON_ERROR_AUTHENTICATE;
        if (!Loaded && !Job->Authenticate && Code != JSON_ERROR_AUTHENTICATE) {
            Dictionary_Reset(Job->Document);
            JSON_SetLastError(Reader, JSON_ERROR_NONE);
            Loaded = JSON_LoadBuffer(Reader, Text, Length);
            if (!Loaded) JSON_GetLastError(Reader, &Code);
        }
        JSON_Release(&Reader);
        JWSClaims_Release(&Claims);
        if (!Loaded) {
            Job->Error = WEBGET_ERROR_JSON;
            Job->SubCode = Code;
            if (Code == JSON_ERROR_AUTHENTICATE) {
                if (Unsigned) Refusal.Reason = JWS_REFUSAL_UNSIGNED;
                Job->Message = RefusalText(Refusal, Claim, Job->StoreName);
                Log_Error("%s (%s) [%d]\n", Job->Message.c_str(), Job->Url.c_str(), Code);
            } else {
                Log_Error("Unable to parse document (%s) [%d] %s\n", Job->Url.c_str(), Code, Job->Message.c_str());
                ExplainParseFailure(Job);
            }
        }
        return;
    }
    const uint8 *Bytes = Job->Body.data();
    int32 Length = (int32)Job->Body.size();
    int32 Code = 0;
    if (Kind == ASYNCHTTP_PARSER_XML) {
        XML *Reader = nullptr;
        XML_Create(&Reader);
        AtExit ReleaseReader{[&Reader] {
            if (Reader != nullptr) XML_Release(&Reader);
        }};
        XML_SetDictionaryHandle(Reader, Job->Document);
        XML_SetPrintCallback(Reader, &Job->Message, AsyncHTTP_KeepParserMessage);
        if (!XML_LoadBuffer(Reader, Bytes, Length)) {
            XML_GetLastError(Reader, &Code);
            Job->Error = WEBGET_ERROR_XML;
        }
        XML_Release(&Reader);
    } else if (Kind == ASYNCHTTP_PARSER_YAML) {
        YAML *Reader = nullptr;
        YAML_Create(&Reader);
        AtExit ReleaseReader{[&Reader] {
            if (Reader != nullptr) YAML_Release(&Reader);
        }};
        YAML_SetDictionaryHandle(Reader, Job->Document);
        YAML_SetPrintCallback(Reader, &Job->Message, AsyncHTTP_KeepParserMessage);
        if (!YAML_LoadBuffer(Reader, Bytes, Length)) {
            YAML_GetLastError(Reader, &Code);
            Job->Error = WEBGET_ERROR_YAML;
        }
        YAML_Release(&Reader);
    } else {
        JSON *Reader = nullptr;
        JSON_Create(&Reader);
        AtExit ReleaseReader{[&Reader] {
            if (Reader != nullptr) JSON_Release(&Reader);
        }};
        JSON_SetDictionaryHandle(Reader, Job->Document);
        JSON_SetPrintCallback(Reader, &Job->Message, AsyncHTTP_KeepParserMessage);
        if (!JSON_LoadBuffer(Reader, Bytes, Length)) {
            JSON_GetLastError(Reader, &Code);
            Job->Error = WEBGET_ERROR_JSON;
        }
        JSON_Release(&Reader);
    }
    if (Job->Error != 0) {
        Job->SubCode = Code;
        Log_Error("Unable to parse document (%s) [%d] %s\n", Job->Url.c_str(), Code, Job->Message.c_str());
        ExplainParseFailure(Job);
    }
}

int32 ParseThread(void *User) {
    ParseJob *Job = static_cast<ParseJob *>(User);
    // A document too large for the memory left fails with that reason;
    // the program goes on.
    // A parse its owner gave up (the task was cancelled, the program is
    // ending) stops at its next allocation rather than holding them.
    // What the parse leaves is charged to the process's memory budget as
    // it is made, so that a document past it is refused before it takes
    // the memory; the parsed tree then holds its charge until it goes.
    const int32 Was = Memory_SetThrowWhenExhausted(TRUE, &Job->GiveUp);
    MemoryCharge Charge{};
    try {
        if (Job->FilePath.empty() || ReadFile(Job)) {
            Memory_SetThreadCharge(&Charge);
            Parse(Job);
            Memory_SetThreadCharge(nullptr);
            if (Job->Error == 0) Dictionary_HoldCharge(Job->Document, Charge.Bytes);
            else MemoryBudget_Give(Charge.Bytes);
        }
        Memory_SetThrowWhenExhausted(Was, nullptr);
    } catch (const std::bad_alloc &Refusal) {
        Memory_SetThrowWhenExhausted(Was, nullptr);
        // The body read from a file is held under the budget as well.
        const bool PastBudget = Charge.Refused || dynamic_cast<const MemoryBudgetRefused *>(&Refusal) != nullptr;
        ChargedBytes().swap(Job->Body);
        Dictionary_Reset(Job->Document);
        Memory_SetThreadCharge(nullptr);
        MemoryBudget_Give(Charge.Bytes);
        Job->Error = WEBGET_ERROR_CUSTOM;
        Job->SubCode = 0;
        char Budget[192];
        snprintf(Budget, sizeof(Budget),
                 "the document is refused: as it is read it passes the memory budget of %lld MiB that a process's documents "
                 "and task arguments share (%lld MiB held by others)",
                 (long long)(MemoryBudget_GetLimit() >> 20), (long long)(MemoryBudget_GetUsed() >> 20));
        Job->Message = __atomic_load_n(&Job->GiveUp, __ATOMIC_ACQUIRE) != 0 ? "the document's reading was given up"
                       : PastBudget                                         ? Budget
                                                                            : "out of memory: the document cannot be read";
        Job->Final = true;
    }
    Job->Done.store(1, std::memory_order_release);
    // As an event post, so that a main loop waiting for events wakes now and
    // polls the job on its next pass instead of at its next timed tick.
    Thread_SignalEvent(Thread_GetMainId());
    return 0;
}

// The parsers end a message with the position each in a form of its own
// ("[4:1]", "[@ 1:41]", "[s @ 1:1]"); the user reads one form, with the text
// the parser quoted: "Unknown field type 's' at line 1, column 1".
std::string PositionInWords(const std::string &Message) {
    size_t Open = Message.find(" [");
    if (Open == std::string::npos || Message.size() < Open + 3 || Message.back() != ']') return Message;
    std::string Inside = Message.substr(Open + 2, Message.size() - Open - 3), Quoted;
    if (size_t At = Inside.rfind(" @ "); At != std::string::npos) {
        Quoted = Inside.substr(0, At);
        Inside.erase(0, At + 3);
    } else if (Inside.rfind("@ ", 0) == 0) {
        Inside.erase(0, 2);
    }
    size_t Colon = Inside.find(':');
    if (Colon == std::string::npos || Colon == 0 || Colon + 1 == Inside.size() ||
        Inside.find_first_not_of("0123456789:") != std::string::npos || Inside.find(':', Colon + 1) != std::string::npos)
        return Message;
    std::string Words = Message.substr(0, Open);
    if (!Quoted.empty()) Words += " '" + Quoted + "'";
    return Words + " at line " + Inside.substr(0, Colon) + ", column " + Inside.substr(Colon + 1);
}

} // namespace

int32 AsyncHTTP_KeepParserMessage(void *User, const char *Format, ...) {
    char Text[1024];
    va_list Arguments;
    va_start(Arguments, Format);
    vsnprintf(Text, sizeof(Text), Format, Arguments);
    va_end(Arguments);
    std::string &Message = *static_cast<std::string *>(User);
    Message = Text;
    // Without the reader's "<identifier> - " in front.
    if (size_t Dash = Message.find(" - "); Dash != std::string::npos) Message.erase(0, Dash + 3);
    while (!Message.empty() && (Message.back() == '\n' || Message.back() == ' ')) Message.pop_back();
    // It may quote a byte of a binary file.
    Message = Printable(std::move(Message));
    while (!Message.empty() && Message.front() == ' ') Message.erase(0, 1);
    Message = PositionInWords(Message);
    return TRUE;
}

struct AsyncHTTP {
    ClassStruct Class;
    State Phase = State::Idle;
    int32 Kind = ASYNCHTTP_PARSER_JSON;
    int32 KeepOriginal = 0;
    int32 Authenticate = 0;
    CertStoreInterface *CertStore = nullptr;
    std::string CertStoreName;
    WebGetCacheStore *Cache = nullptr;
    void *ErrorUser = nullptr;
    AsyncHTTP_ErrorFunc ErrorFunction = nullptr;
    void *BuildUser = nullptr;
    AsyncHTTP_RequestBuildFunc BuildFunction = nullptr;
    std::string Url;
    int32 Failures = 0;
    float64 ResumeTime = 0;
    int32 Error = 0;
    int32 SubCode = 0;
    std::string Message;
    bool Final = false; // the last failure cannot be mended by a retry
    WebGetRequest *Request = nullptr;
    Thread *Worker = nullptr;
    ParseJob *Job = nullptr;
    Dictionary *Document = nullptr;
    ChargedBytes Original; // the body as it came, when it is kept
};

namespace {

int32 DeleteObject(void *HandleAddress) {
    AsyncHTTP **Handle = static_cast<AsyncHTTP **>(HandleAddress);
    AsyncHTTP_Reset(*Handle);
    Dictionary_Release(&(*Handle)->Document);
    delete *Handle;
    *Handle = nullptr;
    return TRUE;
}

void DropJob(AsyncHTTP *Self) {
    if (Self->Job != nullptr) __atomic_store_n(&Self->Job->GiveUp, 1, __ATOMIC_RELEASE);
    if (Self->Worker != nullptr) Thread_Join(-1, &Self->Worker);
    if (Self->Job != nullptr) {
        if (Self->Job->Document != nullptr) Dictionary_Release(&Self->Job->Document);
        delete Self->Job;
        Self->Job = nullptr;
    }
}

void DropRequest(AsyncHTTP *Self) {
    if (Self->Request == nullptr) return;
    int32 Phase = WebGetRequest_GetPhase(Self->Request);
    if (Phase == WEBGETREQUEST_PHASE_QUEUED || Phase == WEBGETREQUEST_PHASE_RUNNING) RemoveHandler(Self->Request);
    WebGetRequest_Release(&Self->Request);
}

// The attempt failed: the owner decides between giving up and a retry,
// unless no retry can succeed.
void AttemptFailed(AsyncHTTP *Self, int32 Phase, int32 Error, int32 SubCode, std::string Message = {},
                   bool Final = false) {
    Self->Message = std::move(Message);
    Self->Error = Error;
    Self->SubCode = SubCode;
    Self->Final = Final;
    float64 Resume = Time_GetCurrent();
    int32 Answer = ASYNCHTTP_ERROR_GIVEUP;
    if (Self->ErrorFunction != nullptr)
        Answer = Self->ErrorFunction(Self, Self->ErrorUser, Self->Failures, Phase, Error, SubCode, &Resume);
    if (Answer == ASYNCHTTP_ERROR_GIVEUP || Final) {
        Self->Phase = State::Complete;
        return;
    }
    Self->Failures++;
    Self->ResumeTime = Resume;
    Self->Phase = State::Idle;
}

void StartParse(AsyncHTTP *Self, ParseJob *Job) {
    Job->Kind = Self->Kind == ASYNCHTTP_PARSER_NONE ? ASYNCHTTP_PARSER_JSON : Self->Kind;
    Job->Authenticate = Self->Authenticate;
    Job->Store = Self->CertStore;
    Job->StoreName = Self->CertStoreName;
    Job->Url = Self->Url;
    Dictionary_Create(&Job->Document);
    Self->Job = Job;
    Self->Phase = State::Parsing;
    if (!Thread_Begin(&Self->Worker, Job, ParseThread)) {
        // No thread: parse here rather than leave the load hanging.
        ParseThread(Job);
    }
}

void FetchDone(AsyncHTTP *Self) {
    int32 Error = 0, SubCode = 0;
    WebGetRequest_GetError(Self->Request, &Error, &SubCode);
    if (Error != 0) {
        char Reason[256] = "";
        bool Final = WebGetRequest_GetFinalReason(Self->Request, Reason, (int32)sizeof(Reason)) != 0;
        // A connection that failed says why in words, beside the code.
        const char *Cause = Error == WEBGET_ERROR_CONNECT ? WebGet_DescribeConnectError(SubCode) : nullptr;
        if (!WebGetRequest_GetReason(Self->Request, Reason, (int32)sizeof(Reason)) && Cause != nullptr)
            String_CopyLength(Reason, Cause, (int32)sizeof(Reason));
        WebGetRequest_Release(&Self->Request);
        return AttemptFailed(Self, ASYNCHTTP_PHASE_FETCH, Error, SubCode, Reason, Final);
    }
    ParseJob *Job = new ParseJob();
    char Type[256] = "";
    WebGetRequest_GetResponseHeader(Self->Request, "Content-Type", Type, sizeof(Type));
    Job->ContentType = Type;
    // The body moves to the job, so that it is held once.
    Job->Body.swap(Self->Request->Body);
    WebGetRequest_Release(&Self->Request);
    if (Self->Cache != nullptr)
        WebGetCacheStore_Put(Self->Cache, Self->Url.c_str(), Type, Job->Body.data(), (int32)Job->Body.size());
    StartParse(Self, Job);
}

void ParseDone(AsyncHTTP *Self) {
    Thread_Join(-1, &Self->Worker);
    ParseJob *Job = Self->Job;
    Self->Job = nullptr;
    if (Self->KeepOriginal) Self->Original.swap(Job->Body);
    int32 Error = Job->Error, SubCode = Job->SubCode;
    std::string Message = std::move(Job->Message);
    if (Error == 0) {
        Dictionary_Release(&Self->Document);
        Self->Document = Job->Document;
        Job->Document = nullptr;
        Self->Error = Self->SubCode = 0;
        Self->Phase = State::Complete;
    } else {
        Dictionary_Release(&Job->Document);
    }
    // A body that arrived whole and does not parse (or cannot be held)
    // reads the same on the next attempt: it fails now, with the parser's
    // reason.
    const bool Final = Job->Final || Job->FilePath.empty();
    delete Job;
    if (Error != 0) AttemptFailed(Self, ASYNCHTTP_PHASE_PARSE, Error, SubCode, std::move(Message), Final);
}

} // namespace

int32 AsyncHTTP_Create(AsyncHTTP **Handle) {
    Debug_CheckPointer(Handle);
    AsyncHTTP *Self = new AsyncHTTP();
    Class_InitHeader(Self, ASYNCHTTP_CLASSID, DeleteObject);
    Dictionary_Create(&Self->Document);
    *Handle = Self;
    return TRUE;
}

int32 AsyncHTTP_Release(AsyncHTTP **Handle) {
    Debug_CheckPointer(Handle);
    if (*Handle == nullptr) return TRUE;
    Class_CheckHandle(*Handle, ASYNCHTTP_CLASSID);
    return Class_Release(Handle);
}

#define ASYNCHTTP_CHECK(Self) Class_CheckHandle(Self, ASYNCHTTP_CLASSID)

int32 AsyncHTTP_SetParser(AsyncHTTP *Self, int32 Kind) {
    ASYNCHTTP_CHECK(Self);
    if (Kind != ASYNCHTTP_PARSER_NONE && (Kind < ASYNCHTTP_PARSER_JSON || Kind > ASYNCHTTP_PARSER_AUTO)) return FALSE;
    Self->Kind = Kind;
    return TRUE;
}

int32 AsyncHTTP_SetCertStoreHandle(AsyncHTTP *Self, CertStoreInterface *Store) {
    ASYNCHTTP_CHECK(Self);
    Self->CertStore = Store;
    return TRUE;
}

int32 AsyncHTTP_SetCertStoreName(AsyncHTTP *Self, const char *Name) {
    ASYNCHTTP_CHECK(Self);
    Self->CertStoreName = Name != nullptr ? Name : "";
    return TRUE;
}

int32 AsyncHTTP_SetCacheStoreHandle(AsyncHTTP *Self, WebGetCacheStore *Store) {
    ASYNCHTTP_CHECK(Self);
    Self->Cache = Store;
    return TRUE;
}

int32 AsyncHTTP_SetKeepOriginal(AsyncHTTP *Self, int32 Flag) {
    ASYNCHTTP_CHECK(Self);
    Self->KeepOriginal = Flag != 0;
    return TRUE;
}

int32 AsyncHTTP_SetErrorCallback(AsyncHTTP *Self, void *User, AsyncHTTP_ErrorFunc Function) {
    ASYNCHTTP_CHECK(Self);
    Self->ErrorUser = User;
    Self->ErrorFunction = Function;
    return TRUE;
}

int32 AsyncHTTP_SetRequestBuildCallback(AsyncHTTP *Self, void *User, AsyncHTTP_RequestBuildFunc Function) {
    ASYNCHTTP_CHECK(Self);
    Self->BuildUser = User;
    Self->BuildFunction = Function;
    return TRUE;
}

int32 AsyncHTTP_Load(AsyncHTTP *Self, const char *Url, int32 Authenticate) {
    ASYNCHTTP_CHECK(Self);
    Debug_CheckPointer(Url);
    if (Self->Phase != State::Idle) return FALSE;
    Self->Url = Url;
    Self->Authenticate = Authenticate != 0;
    Self->Error = Self->SubCode = 0;
    Self->Message.clear();
    Self->Final = false;
    ChargedBytes().swap(Self->Original);
    Dictionary_Reset(Self->Document);
    WebGetRequest_Create(&Self->Request);
    WebGetRequest_SetURL(Self->Request, Url);
    if (Self->BuildFunction != nullptr) Self->BuildFunction(Self, Self->BuildUser, Self->Request);
    Self->Phase = State::Fetching;

    if (URL_CompareProtocol(Url, "file")) {
        // A file obeys the body limit an http:// answer would.
        const int64 Limit = Self->Request->LimitBodySize;
        WebGetRequest_Release(&Self->Request);
        ParseJob *Job = new ParseJob();
        if (Limit >= 0 && Limit < WEBGETREQUEST_LIMIT_BODY_MAX) Job->FileLimit = Limit;
        char Path[4096];
        if (!Path_ConvertFromURL(Url, Path, sizeof(Path)) || Path[0] == 0) {
            delete Job;
            AttemptFailed(Self, ASYNCHTTP_PHASE_FETCH, WEBGET_ERROR_OS, PLATFORM_ERROR_ERRNO_BASE + ENOENT);
            return TRUE;
        }
        Job->FilePath = Path;
        StartParse(Self, Job);
        return TRUE;
    }
    if (Self->Cache != nullptr) {
        char Type[256] = "";
        uint8 *Body = nullptr;
        int32 Length = 0;
        if (WebGetCacheStore_Get(Self->Cache, Url, Type, sizeof(Type), &Body, &Length)) {
            WebGetRequest_Release(&Self->Request);
            ParseJob *Job = new ParseJob();
            Job->ContentType = Type;
            bool Held = true;
            try {
                Job->Body.assign(Body, Body + Length);
            } catch (const std::bad_alloc &) {
                Held = false;
            }
            Memory_Free(Body, Length + 1);
            if (!Held) {
                delete Job;
                AttemptFailed(Self, ASYNCHTTP_PHASE_FETCH, WEBGET_ERROR_CUSTOM, 0,
                              "the cached body is refused: it passes the memory budget or the memory left", true);
                return TRUE;
            }
            StartParse(Self, Job);
            return TRUE;
        }
    }
    if (!URL_CompareProtocol(Url, "http") && !URL_CompareProtocol(Url, "https")) {
        Log_Error("Unsupported url (%s)\n", URL_OneLine(Url).c_str());
        WebGetRequest_Release(&Self->Request);
        AttemptFailed(Self, ASYNCHTTP_PHASE_FETCH, WEBGET_ERROR_CONNECT, EPROTONOSUPPORT,
                      strstr(Url, "://") != nullptr ? ASYNCHTTP_TEXT_SCHEME : "not a URL (http:// and file:// are taken)",
                      true);
        return TRUE;
    }
    if (!AddHandler(Self->Request)) {
        WebGetRequest_Release(&Self->Request);
        AttemptFailed(Self, ASYNCHTTP_PHASE_FETCH, WEBGET_ERROR_CONNECT, 0);
    }
    return TRUE;
}

int32 AsyncHTTP_IsLoadComplete(AsyncHTTP *Self) {
    ASYNCHTTP_CHECK(Self);
    if (Self->Phase == State::Fetching && Self->Request != nullptr && WebGetRequest_IsDone(Self->Request))
        FetchDone(Self);
    if (Self->Phase == State::Parsing && Self->Job != nullptr && Self->Job->Done.load(std::memory_order_acquire))
        ParseDone(Self);
    return Self->Phase == State::Complete;
}

int32 AsyncHTTP_IsAlive(AsyncHTTP *Self) {
    ASYNCHTTP_CHECK(Self);
    return Self->Phase == State::Fetching || Self->Phase == State::Parsing;
}

int32 AsyncHTTP_GetResumeTime(AsyncHTTP *Self, float64 *Time) {
    ASYNCHTTP_CHECK(Self);
    Debug_CheckPointer(Time);
    *Time = Self->ResumeTime;
    return TRUE;
}

int32 AsyncHTTP_GetLastError(AsyncHTTP *Self, int32 *Error, int32 *SubCode) {
    ASYNCHTTP_CHECK(Self);
    Debug_CheckPointer(Error);
    Debug_CheckPointer(SubCode);
    *Error = Self->Error;
    *SubCode = Self->SubCode;
    return TRUE;
}

int32 AsyncHTTP_IsLastErrorFinal(AsyncHTTP *Self) {
    ASYNCHTTP_CHECK(Self);
    return Self->Error != 0 && Self->Final;
}

int32 AsyncHTTP_GetLastErrorText(AsyncHTTP *Self, char *Buffer, int32 Size) {
    ASYNCHTTP_CHECK(Self);
    Debug_CheckPointer(Buffer);
    if (Size < 1) return FALSE;
    String_CopyLength(Buffer, Self->Message.c_str(), Size);
    return Buffer[0] != 0;
}

int32 AsyncHTTP_GetDictionaryHandle(AsyncHTTP *Self, Dictionary **Document) {
    ASYNCHTTP_CHECK(Self);
    Debug_CheckPointer(Document);
    *Document = Self->Document;
    return TRUE;
}

int32 AsyncHTTP_TakeDictionary(AsyncHTTP *Self, Dictionary **Document) {
    ASYNCHTTP_CHECK(Self);
    Debug_CheckPointer(Document);
    *Document = Self->Document;
    Self->Document = nullptr;
    Dictionary_Create(&Self->Document);
    return TRUE;
}

int32 AsyncHTTP_GetOriginal(AsyncHTTP *Self, const uint8 **Body, int32 *Length) {
    ASYNCHTTP_CHECK(Self);
    Debug_CheckPointer(Body);
    Debug_CheckPointer(Length);
    *Body = Self->Original.data();
    *Length = (int32)Self->Original.size();
    return TRUE;
}

int32 AsyncHTTP_Reset(AsyncHTTP *Self) {
    ASYNCHTTP_CHECK(Self);
    DropRequest(Self);
    DropJob(Self);
    Self->Phase = State::Idle;
    Self->Failures = 0;
    Self->ResumeTime = 0;
    Self->Error = Self->SubCode = 0;
    Self->Message.clear();
    Self->Final = false;
    ChargedBytes().swap(Self->Original);
    Dictionary_Reset(Self->Document);
    return TRUE;
}

int32 AsyncHTTP_SetRequestHandlers(AsyncHTTP_RequestFunc Add, AsyncHTTP_RequestFunc Remove) {
    AddHandler = Add != nullptr ? Add : WebGetPool_RequestAdd;
    RemoveHandler = Remove != nullptr ? Remove : WebGetPool_RequestRemove;
    return TRUE;
}
