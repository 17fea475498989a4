// URL text helpers (see url.h).
#include "runtime/text/url.h"

#include <ctype.h>
#include <string.h>

#include <algorithm>

#include <string>
#include <string_view>
#include <vector>

#include "runtime/debug.h"
#include "runtime/text/string.h"

namespace {

// The text after "//", or the whole text when there is none.
const char *AfterScheme(const char *Url) {
    const char *Slashes = strstr(Url, "//");
    return Slashes != nullptr ? Slashes + 2 : Url;
}

std::string_view HostPort(const char *Url) {
    const char *Start = AfterScheme(Url);
    return std::string_view(Start, strcspn(Start, "/\\?#"));
}

bool CopyOut(std::string_view Text, char *Output, int32 Size) {
    if (Size < 1) return false;
    const int32 Count = (int32)std::min(Text.size(), (size_t)Size);
    String_CopyLengthSafe(Output, Size, Text.empty() ? "" : Text.data(), Count);
    return Text.size() < (size_t)Size;
}

std::string Lower(std::string_view Text) {
    std::string Result(Text);
    String_Lower(Result.data());
    return Result;
}

// "host:port" with the scheme's default port filled in, lower case.
std::string CanonicalHost(const char *Url) {
    std::string Host = Lower(HostPort(Url));
    size_t At = Host.rfind('@');
    if (At != std::string::npos) Host.erase(0, At + 1);
    size_t Bracket = Host.rfind(']');
    size_t Colon = Host.rfind(':');
    if (Colon != std::string::npos && (Bracket == std::string::npos || Colon > Bracket)) return Host;
    return Host + (URL_CompareProtocol(Url, "https") ? ":443" : ":80");
}

// Length of a leading "scheme://" (letter, then letters, digits, "+", "-",
// "."), or 0 when the URL does not start with one.
size_t SchemeLength(std::string_view Url) {
    size_t Index = 0;
    auto IsAlpha = [](char Ch) { return (Ch >= 'a' && Ch <= 'z') || (Ch >= 'A' && Ch <= 'Z'); };
    if (Url.empty() || !IsAlpha(Url[0])) return 0;
    while (Index < Url.size() && (IsAlpha(Url[Index]) || (Url[Index] >= '0' && Url[Index] <= '9') ||
                                  Url[Index] == '+' || Url[Index] == '-' || Url[Index] == '.'))
        Index++;
    return Url.substr(Index, 3) == "://" ? Index + 3 : 0;
}

// Splits off the authority: after "scheme://" or "//", else the URL starts
// with it unless it starts with a path, query or fragment.
std::string_view Authority(std::string_view Url, std::string_view *Rest) {
    if (size_t Skip = SchemeLength(Url); Skip != 0) Url.remove_prefix(Skip);
    else if (Url.substr(0, 2) == "//") Url.remove_prefix(2);
    size_t End = std::min(Url.find_first_of("/?#"), Url.size());
    if (Rest != nullptr) *Rest = Url.substr(End);
    return Url.substr(0, End);
}

// Like CopyOut, but a cut result leaves the output empty.
bool CopyWhole(std::string_view Text, char *Output, int32 Size) {
    if (CopyOut(Text, Output, Size)) return true;
    if (Size > 0) Output[0] = 0;
    return false;
}

int HexValue(char Ch) {
    if (Ch >= '0' && Ch <= '9') return Ch - '0';
    if (Ch >= 'a' && Ch <= 'f') return Ch - 'a' + 10;
    if (Ch >= 'A' && Ch <= 'F') return Ch - 'A' + 10;
    return -1;
}

} // namespace

int32 URL_ParseHost(const char *Url, char *Host, int32 Size) {
    Debug_CheckPointer(Url);
    Debug_CheckPointer(Host);
    return CopyOut(HostPort(Url), Host, Size);
}

int32 URL_ParseFilename(const char *Url, char *Filename, int32 Size) {
    Debug_CheckPointer(Url);
    Debug_CheckPointer(Filename);
    std::string_view Text(Url, strcspn(Url, "?#"));
    size_t Slash = Text.find_last_of("/\\");
    if (Slash != std::string_view::npos) Text.remove_prefix(Slash + 1);
    return CopyOut(Text, Filename, Size) && !Text.empty();
}

int32 URL_CompareProtocol(const char *Url, const char *Scheme) {
    Debug_CheckPointer(Url);
    Debug_CheckPointer(Scheme);
    const char *End = strstr(Url, "://");
    if (End == nullptr) return FALSE;
    size_t Length = strlen(Scheme);
    return (size_t)(End - Url) == Length && String_CompareLengthWithoutCase(Url, Scheme, (int32)Length);
}

int32 URL_CompareHosts(const char *A, const char *B) {
    Debug_CheckPointer(A);
    Debug_CheckPointer(B);
    return CanonicalHost(A) == CanonicalHost(B);
}

int32 URL_IsLocalhost(const char *Url) {
    Debug_CheckPointer(Url);
    std::string Host = Lower(HostPort(Url));
    size_t At = Host.rfind('@');
    if (At != std::string::npos) Host.erase(0, At + 1);
    size_t Colon = Host.find(':');
    if (Colon != std::string::npos) Host.resize(Colon);
    return Host == "127.0.0.1" || Host == "localhost";
}

int32 URL_FixPath(const char *Url, uint32 Flags, char *Output, int32 Size) {
    Debug_CheckPointer(Url);
    Debug_CheckPointer(Output);
    (void)Flags;
    std::string_view Text(Url);
    size_t TailAt = Text.find_first_of("?#");
    std::string_view Tail = TailAt == std::string_view::npos ? std::string_view() : Text.substr(TailAt);
    std::string Body(Text.substr(0, TailAt == std::string_view::npos ? Text.size() : TailAt));
    for (char &Ch : Body)
        if (Ch == '\\') Ch = '/';
    // The scheme and authority stay as they are; only the path is resolved.
    std::string Prefix;
    size_t Scheme = Body.find("://");
    if (Scheme != std::string::npos) {
        size_t PathAt = Body.find('/', Scheme + 3);
        Prefix = Body.substr(0, PathAt == std::string::npos ? Body.size() : PathAt);
        Body = PathAt == std::string::npos ? std::string() : Body.substr(PathAt);
    }
    bool Rooted = !Body.empty() && Body[0] == '/';
    bool TrailingSlash = Body.size() > 1 && Body.back() == '/';
    std::vector<std::string_view> Segments;
    std::string_view Rest(Body);
    while (!Rest.empty()) {
        size_t Slash = Rest.find('/');
        std::string_view Segment = Rest.substr(0, Slash);
        Rest = Slash == std::string_view::npos ? std::string_view() : Rest.substr(Slash + 1);
        if (Segment.empty() || Segment == ".") continue;
        if (Segment == "..") {
            if (!Segments.empty() && Segments.back() != "..") Segments.pop_back();
            else if (!Rooted) Segments.push_back(Segment);
            continue;
        }
        Segments.push_back(Segment);
    }
    std::string Result = Prefix;
    if (Rooted) Result += '/';
    for (size_t Index = 0; Index < Segments.size(); Index++) {
        if (Index > 0) Result += '/';
        Result += Segments[Index];
    }
    if (TrailingSlash && !Segments.empty()) Result += '/';
    Result += Tail;
    return CopyOut(Result, Output, Size);
}

int32 URL_ParseHostWithoutPort(const char *Url, char *Host, int32 Size) {
    Debug_CheckPointer(Url);
    Debug_CheckPointer(Host);
    std::string_view Text = Authority(Url, nullptr);
    if (size_t At = Text.rfind('@'); At != std::string_view::npos) Text.remove_prefix(At + 1);
    if (!Text.empty() && Text.front() == '[') {
        size_t Close = Text.find(']');
        Text = Close == std::string_view::npos ? std::string_view() : Text.substr(1, Close - 1);
    } else {
        Text = Text.substr(0, Text.find(':'));
    }
    return CopyWhole(Text, Host, Size) && !Text.empty();
}

int32 URL_ParsePath(const char *Url, char *Path, int32 Size) {
    Debug_CheckPointer(Url);
    Debug_CheckPointer(Path);
    std::string_view Rest;
    Authority(Url, &Rest);
    return CopyWhole(Rest.substr(0, Rest.find_first_of("?#")), Path, Size);
}

int32 URL_DecodeString(const char *Text, char *Buffer, int32 Size) {
    Debug_CheckPointer(Text);
    Debug_CheckPointer(Buffer);
    if (Size < 1) return FALSE;
    // Decoding never lengthens the text, so writing into the text being read
    // stays behind the reading position.
    int32 Written = 0;
    for (size_t Index = 0; Text[Index] != 0; Written++) {
        if (Written >= Size - 1) {
            Buffer[0] = 0;
            return FALSE;
        }
        char Ch = Text[Index];
        int High = Ch == '%' ? HexValue(Text[Index + 1]) : -1;
        int Low = High >= 0 ? HexValue(Text[Index + 2]) : -1;
        if (Low >= 0 && (High | Low) != 0) {
            Buffer[Written] = (char)(High * 16 + Low);
            Index += 3;
        } else {
            Buffer[Written] = Ch;
            Index++;
        }
    }
    Buffer[Written] = 0;
    return TRUE;
}

namespace {

std::string RemoveDotSegments(const std::string &Path);

// Whether Text is UTF-8 in its shortest form (RFC 3629). Servers that read an
// overlong form ("%C0%AE" for ".", "%C0%AF" for "/") as the character it
// spells would find other segments in a path that holds one.
bool ShortestUtf8(std::string_view Text) {
    for (size_t Index = 0; Index < Text.size();) {
        const unsigned char Lead = (unsigned char)Text[Index];
        if (Lead < 0x80) {
            Index++;
            continue;
        }
        const size_t Count = Lead >= 0xC2 && Lead <= 0xDF ? 1 : Lead >= 0xE0 && Lead <= 0xEF ? 2
                             : Lead >= 0xF0 && Lead <= 0xF4                  ? 3
                                                                             : 0;
        if (Count == 0 || Index + Count >= Text.size()) return false;
        // The second byte's range rules out overlong forms, surrogates and
        // what lies past U+10FFFF.
        const unsigned char Second = (unsigned char)Text[Index + 1];
        const unsigned char Low = Lead == 0xE0 ? 0xA0 : Lead == 0xF0 ? 0x90 : 0x80;
        const unsigned char High = Lead == 0xED ? 0x9F : Lead == 0xF4 ? 0x8F : 0xBF;
        if (Second < Low || Second > High) return false;
        for (size_t Next = 2; Next <= Count; Next++)
            if (((unsigned char)Text[Index + Next] & 0xC0) != 0x80) return false;
        Index += Count + 1;
    }
    return true;
}

// The path decoded once, segment by segment; false when it has no one place
// (see URL_ResolvePlace).
bool DecodePlacePath(std::string_view Raw, std::string &Path) {
    Path.clear();
    while (!Raw.empty()) {
        size_t Slash = Raw.find('/');
        std::string_view Segment = Raw.substr(0, Slash);
        std::string Decoded;
        for (size_t Index = 0; Index < Segment.size(); Index++) {
            int High = Segment[Index] == '%' && Index + 2 < Segment.size() ? HexValue(Segment[Index + 1]) : -1;
            int Low = High >= 0 ? HexValue(Segment[Index + 2]) : -1;
            if (Low < 0) {
                Decoded += Segment[Index];
                continue;
            }
            // An encoded "/" or "\\" is a separator to one server and a
            // name's byte to another; an encoded "." a dot segment to a server
            // that decodes first, a name to an object store keyed as written.
            char Ch = (char)(High * 16 + Low);
            if (Ch == '/' || Ch == '\\' || Ch == '.' || Ch == 0) return false;
            Decoded += Ch;
            Index += 2;
        }
        // Servers that take ";" as the start of a segment's parameters
        // serve "..;" as "..", and "name;x" as "name": no one place.
        // A "%" left once decoded is a name's byte to one server, an escape
        // to another: one that decodes twice, or reads "%u002e" as ".".
        if (Decoded.find_first_of(";%") != std::string::npos) return false;
        if (!ShortestUtf8(Decoded)) return false;
        Path += Decoded;
        if (Slash == std::string_view::npos) break;
        Path += '/';
        Raw.remove_prefix(Slash + 1);
    }
    return true;
}

} // namespace

int32 URL_FindPassword(std::string_view Text, size_t *Start, size_t *End) {
    Debug_CheckPointer(Start);
    Debug_CheckPointer(End);
    const size_t LastAt = Text.rfind('@');
    const size_t Colon = LastAt == std::string_view::npos ? LastAt : Text.substr(0, LastAt).find(':');
    if (Colon == std::string_view::npos || Colon + 1 >= LastAt) return FALSE;
    *Start = Colon + 1;
    *End = LastAt;
    return TRUE;
}

std::string URL_OneLine(std::string_view Url) {
    static const char Hex[] = "0123456789ABCDEF";
    std::string Line;
    for (const char Ch : Url) {
        const unsigned char Byte = (unsigned char)Ch;
        if (Byte >= 0x20 && Byte != 0x7f) Line += Ch;
        else Line += {'%', Hex[Byte >> 4], Hex[Byte & 15]};
    }
    // "http:user:pw@host" and "http:/user:pw@host" are refused, but the line
    // that says so would show the password: the masking of a line looks for
    // "://" only, so such a spelling is masked here.
    size_t Scheme = 0;
    while (Scheme < Line.size() && (isalnum((unsigned char)Line[Scheme]) || Line[Scheme] == '+' ||
                                    Line[Scheme] == '-' || Line[Scheme] == '.'))
        Scheme++;
    if (Scheme == 0 || !isalpha((unsigned char)Line[0]) || Scheme >= Line.size() || Line[Scheme] != ':' ||
        Line.compare(Scheme, 3, "://") == 0)
        return Line;
    size_t From = Scheme + 1, Start = 0, End = 0;
    while (From < Line.size() && Line[From] == '/') From++;
    if (URL_FindPassword(std::string_view(Line).substr(From), &Start, &End))
        Line.replace(From + Start, End - Start, "***");
    return Line;
}

int32 URL_Read(std::string_view Url, UrlParts *Out, const char **Why) {
    Debug_CheckPointer(Out);
    constexpr size_t None = std::string_view::npos;
    *Out = UrlParts();
    auto Refuse = [&](const char *Words) {
        if (Why != nullptr) *Why = Words;
        return FALSE;
    };
    if (Why != nullptr) *Why = nullptr;
    if (Url.find_first_of("\r\n") != None) return Refuse("it holds a line break");
    const size_t Skip = SchemeLength(Url);
    if (Skip == 0) return Refuse("it has no scheme://");
    UrlParts Parts;
    Parts.Scheme = Lower(Url.substr(0, Skip - 3));
    const std::string_view Rest = Url.substr(Skip);
    const std::string_view Authority = Rest.substr(0, std::min(Rest.find_first_of("/\\?#"), Rest.size()));
    // A line hides the password up to the last '@' it finds: when a parser
    // would split the user information off elsewhere, the two readings
    // differ (a password holding "/" or "?", a host followed by "...@").
    const size_t At = Authority.rfind('@'), LastAt = Rest.rfind('@');
    const bool UserColon = At != None && Authority.substr(0, At).find(':') != None;
    const bool LineColon = LastAt != None && Rest.substr(0, LastAt).find(':') != None;
    if (At != LastAt && (UserColon || LineColon))
        return Refuse("its user information is unclear: a password holding \"/\", \"?\", \"#\" or \"\\\", "
                      "or an '@' after its host");
    for (char Ch : Authority)
        if ((unsigned char)Ch <= ' ' || Ch == 0x7f)
            return Refuse("its user information or host holds a blank or a control character");
    std::string_view HostPort = Authority;
    if (At != None) {
        const std::string_view User = Authority.substr(0, At);
        const size_t Colon = User.find(':');
        Parts.HasUser = true;
        Parts.User = User.substr(0, Colon);
        Parts.HasPassword = Colon != None;
        if (Parts.HasPassword) Parts.Password = User.substr(Colon + 1);
        HostPort.remove_prefix(At + 1);
    }
    const size_t Bracket = HostPort.rfind(']'), Colon = HostPort.rfind(':');
    if (!HostPort.empty() && HostPort[0] == '[' && Bracket == None) return Refuse("its IPv6 address is not closed");
    const bool HasPort = Colon != None && (Bracket == None || Colon > Bracket);
    Parts.Host = Lower(HostPort.substr(0, HasPort ? Colon : None));
    Parts.Port = Parts.Scheme == "http" ? 80 : Parts.Scheme == "https" ? 443 : 0;
    if (HasPort) {
        const std::string_view Digits = HostPort.substr(Colon + 1);
        int32 Port = 0;
        for (char Ch : Digits) Port = Ch >= '0' && Ch <= '9' && Port <= 65535 ? Port * 10 + (Ch - '0') : 65536;
        if (Port < 1 || Port > 65535) return Refuse("its port is not a number from 1 to 65535");
        Parts.Port = Port;
    }
    std::string_view Tail = Rest.substr(Authority.size());
    if (const size_t Hash = Tail.find('#'); Hash != None) {
        Parts.HasFragment = true;
        Parts.Fragment = Tail.substr(Hash + 1);
        Tail = Tail.substr(0, Hash);
    }
    if (const size_t Question = Tail.find('?'); Question != None) {
        Parts.HasQuery = true;
        Parts.Query = Tail.substr(Question + 1);
        Tail = Tail.substr(0, Question);
    }
    Parts.RawPath = Tail;
    std::string Slashed(Tail);
    std::replace(Slashed.begin(), Slashed.end(), '\\', '/');
    Parts.OnePlace = DecodePlacePath(Slashed, Parts.Path);
    Parts.Path = Parts.OnePlace ? RemoveDotSegments(Parts.Path.empty() ? "/" : Parts.Path) : std::string();
    *Out = std::move(Parts);
    return TRUE;
}

int32 URL_ResolvePlace(const char *Url, char *Output, int32 Size) {
    Debug_CheckPointer(Url);
    Debug_CheckPointer(Output);
    if (Size > 0) Output[0] = 0;
    UrlParts Parts;
    if (!URL_Read(Url, &Parts, nullptr) || !Parts.OnePlace) return FALSE;
    std::string Place = Parts.Scheme + "://" + Parts.Host;
    if (Parts.Port != 0) Place += ":" + std::to_string(Parts.Port);
    return CopyWhole(Place + Parts.Path, Output, Size);
}

int32 URL_RemoveProtocol(char *Url) {
    Debug_CheckPointer(Url);
    size_t Length = strlen(Url);
    size_t Skip = SchemeLength(std::string_view(Url, Length));
    if (Skip == 0) return FALSE;
    memmove(Url, Url + Skip, Length - Skip + 1);
    return TRUE;
}

namespace {

// The five parts of a URL as RFC 3986 appendix B splits them.
struct UrlParts {
    std::string Scheme, Authority, Path, Query, Fragment;
    bool HasScheme = false, HasAuthority = false, HasQuery = false, HasFragment = false;
};

UrlParts SplitUrl(std::string_view Text) {
    UrlParts Parts;
    size_t Hash = Text.find('#');
    if (Hash != std::string_view::npos) {
        Parts.HasFragment = true;
        Parts.Fragment = std::string(Text.substr(Hash + 1));
        Text = Text.substr(0, Hash);
    }
    size_t Question = Text.find('?');
    if (Question != std::string_view::npos) {
        Parts.HasQuery = true;
        Parts.Query = std::string(Text.substr(Question + 1));
        Text = Text.substr(0, Question);
    }
    size_t Colon = Text.find(':');
    if (Colon != std::string_view::npos && Colon > 0 && isalpha((unsigned char)Text[0]) &&
        Text.substr(0, Colon).find_first_not_of(
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+-.") == std::string_view::npos) {
        Parts.HasScheme = true;
        Parts.Scheme = std::string(Text.substr(0, Colon));
        Text = Text.substr(Colon + 1);
    }
    if (Text.substr(0, 2) == "//") {
        Parts.HasAuthority = true;
        size_t End = Text.find('/', 2);
        Parts.Authority = std::string(Text.substr(2, End == std::string_view::npos ? End : End - 2));
        Text = End == std::string_view::npos ? std::string_view() : Text.substr(End);
    }
    Parts.Path = std::string(Text);
    return Parts;
}

std::string JoinUrl(const UrlParts &Parts, bool Query, bool Fragment) {
    std::string Text;
    if (Parts.HasScheme) Text += Parts.Scheme + ":";
    if (Parts.HasAuthority) Text += "//" + Parts.Authority;
    Text += Parts.Path;
    if (Query && Parts.HasQuery) Text += "?" + Parts.Query;
    if (Fragment && Parts.HasFragment) Text += "#" + Parts.Fragment;
    return Text;
}

std::string RemoveDotSegments(const std::string &Path) {
    std::string In = Path, Out;
    while (!In.empty()) {
        if (In.rfind("../", 0) == 0) In.erase(0, 3);
        else if (In.rfind("./", 0) == 0) In.erase(0, 2);
        else if (In.rfind("/./", 0) == 0) In.replace(0, 3, "/");
        else if (In == "/.") In = "/";
        else if (In.rfind("/../", 0) == 0 || In == "/..") {
            In = In == "/.." ? "/" : In.substr(3);
            size_t Cut = Out.rfind('/');
            Out.erase(Cut == std::string::npos ? 0 : Cut);
        } else if (In == "." || In == "..") In.clear();
        else {
            size_t Next = In.find('/', In[0] == '/' ? 1 : 0);
            Out += In.substr(0, Next);
            In.erase(0, Next == std::string::npos ? In.size() : Next);
        }
    }
    return Out;
}

std::string Resolve(const std::string &Base, const std::string &Reference) {
    UrlParts B = SplitUrl(Base), R = SplitUrl(Reference), T;
    if (R.HasScheme) {
        T = R;
        T.Path = RemoveDotSegments(R.Path);
        return JoinUrl(T, true, true);
    }
    T.HasScheme = B.HasScheme;
    T.Scheme = B.Scheme;
    if (R.HasAuthority) {
        T.HasAuthority = true;
        T.Authority = R.Authority;
        T.Path = RemoveDotSegments(R.Path);
        T.HasQuery = R.HasQuery;
        T.Query = R.Query;
    } else {
        T.HasAuthority = B.HasAuthority;
        T.Authority = B.Authority;
        if (R.Path.empty()) {
            T.Path = B.Path;
            T.HasQuery = R.HasQuery || B.HasQuery;
            T.Query = R.HasQuery ? R.Query : B.Query;
        } else {
            if (R.Path[0] == '/') {
                T.Path = RemoveDotSegments(R.Path);
            } else {
                std::string Merged = B.HasAuthority && B.Path.empty()
                                         ? "/" + R.Path
                                         : B.Path.substr(0, B.Path.rfind('/') == std::string::npos ? 0 : B.Path.rfind('/') + 1) + R.Path;
                T.Path = RemoveDotSegments(Merged);
            }
            T.HasQuery = R.HasQuery;
            T.Query = R.Query;
        }
    }
    T.HasFragment = R.HasFragment;
    T.Fragment = R.Fragment;
    return JoinUrl(T, true, true);
}

std::string Encode(const char *Text, bool Query) {
    static const char Hex[] = "0123456789ABCDEF";
    std::string Out;
    for (const unsigned char *At = reinterpret_cast<const unsigned char *>(Text); *At; At++) {
        if (isalnum(*At) || strchr("-_.~", *At) != nullptr) Out += (char)*At;
        else if (Query && *At == ' ') Out += '+';
        else {
            Out += '%';
            Out += Hex[*At >> 4];
            Out += Hex[*At & 15];
        }
    }
    return Out;
}

std::string Part(const std::string &Name, const char *Url) {
    UrlParts Parts = SplitUrl(Url);
    std::string Authority = Parts.Authority.substr(Parts.Authority.rfind('@') == std::string::npos
                                                       ? 0
                                                       : Parts.Authority.rfind('@') + 1);
    size_t Colon = Authority.rfind(':');
    if (Colon != std::string::npos && Authority.find(']', Colon) != std::string::npos) Colon = std::string::npos;
    std::string Directory = Parts.Path.substr(0, Parts.Path.rfind('/') == std::string::npos ? 0 : Parts.Path.rfind('/') + 1);
    auto Is = [&](const char *Wanted) { return String_CompareWithoutCase(Name.c_str(), Wanted) == 1; };
    if (Is("path")) return Parts.Path;
    if (Is("query")) return Parts.Query;
    if (Is("fragment")) return Parts.Fragment;
    if (Is("port")) return Colon == std::string::npos ? "" : Authority.substr(Colon + 1);
    if (Is("domain")) return Authority;
    if (Is("hostWithoutPort")) return Authority.substr(0, Colon);
    if (Is("pathWithQuery")) return Parts.Path + (Parts.HasQuery ? "?" + Parts.Query : "");
    if (Is("pathWithoutFilename")) return Directory;
    if (Is("queryWithFragment")) return Parts.Query + (Parts.HasFragment ? "#" + Parts.Fragment : "");
    if (Is("urlWithoutQuery")) return JoinUrl(Parts, false, false);
    if (Is("urlWithoutFragment")) return JoinUrl(Parts, true, false);
    if (Is("urlWithoutFilename")) {
        Parts.Path = Directory;
        return JoinUrl(Parts, false, false);
    }
    return "";
}

} // namespace

int32 URL_ExpandKey(void *User, const char *Name, const char *Argument, char *Output, int32 Size) {
    (void)User;
    Debug_CheckPointer(Name);
    auto Is = [&](const char *Wanted) { return String_CompareWithoutCase(Name, Wanted) == 1; };
    if (!Is("UrlParse") && !Is("UrlDecode") && !Is("UrlEncode") && !Is("UrlQueryEncode") && !Is("UrlFix") &&
        !Is("UrlJoin"))
        return FALSE;
    const char *Text = Argument != nullptr ? Argument : "";
    std::string Result;
    if (Is("UrlEncode") || Is("UrlQueryEncode")) {
        Result = Encode(Text, Is("UrlQueryEncode"));
    } else if (Is("UrlDecode")) {
        std::string Buffer(strlen(Text) + 1, '\0');
        URL_DecodeString(Text, Buffer.data(), (int32)Buffer.size());
        Result = Buffer.c_str();
    } else if (Is("UrlFix")) {
        std::string Buffer(strlen(Text) + 2, '\0');
        if (URL_FixPath(Text, 0, Buffer.data(), (int32)Buffer.size())) Result = Buffer.c_str();
    } else {
        const char *Comma = strchr(Text, ',');
        if (Comma == nullptr) {
            if (Size > 0) Output[0] = 0;
            return TRUE;
        }
        std::string First(Text, (size_t)(Comma - Text));
        Result = Is("UrlJoin") ? Resolve(First, Comma + 1) : Part(First, Comma + 1);
    }
    String_CopyLength(Output, Result.c_str(), Size);
    return TRUE;
}
