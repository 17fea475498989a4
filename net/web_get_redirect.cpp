// URL redirection rules on PCRE2 (see web_get_redirect.h).
#define PCRE2_CODE_UNIT_WIDTH 8
#include "net/web_get_redirect.h"

#include <pcre2.h>
#include <string.h>

#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/log.h"
#include "runtime/text/string.h"
#include "runtime/text/string_expand.h"

namespace {

struct Rule {
    std::string Name;
    uint32 Mutable;
    std::string Replacement;
    uint32 SubstituteOptions;
    pcre2_code *Code;
};

struct OptionName {
    const char *Name;
    uint32 Value;
};

constexpr OptionName CompileNames[] = {
    {"anchored", PCRE2_ANCHORED},
    {"caseless", PCRE2_CASELESS},
    {"dollar_endonly", PCRE2_DOLLAR_ENDONLY},
    {"dotall", PCRE2_DOTALL},
    {"dupnames", PCRE2_DUPNAMES},
    {"endanchored", PCRE2_ENDANCHORED},
    {"extended", PCRE2_EXTENDED},
    {"extended_more", PCRE2_EXTENDED_MORE},
    {"firstline", PCRE2_FIRSTLINE},
    {"literal", PCRE2_LITERAL},
    {"multiline", PCRE2_MULTILINE},
    {"never_backslash_c", PCRE2_NEVER_BACKSLASH_C},
    {"no_auto_capture", PCRE2_NO_AUTO_CAPTURE},
    {"ucp", PCRE2_UCP},
    {"ungreedy", PCRE2_UNGREEDY},
    {"utf", PCRE2_UTF},
};

constexpr OptionName SubstituteNames[] = {
    {"global", PCRE2_SUBSTITUTE_GLOBAL},
    {"extended", PCRE2_SUBSTITUTE_EXTENDED},
    {"unset_empty", PCRE2_SUBSTITUTE_UNSET_EMPTY},
    {"unknown_unset", PCRE2_SUBSTITUTE_UNKNOWN_UNSET},
    {"literal", PCRE2_SUBSTITUTE_LITERAL},
    {"replacement_only", PCRE2_SUBSTITUTE_REPLACEMENT_ONLY},
    {"notbol", PCRE2_NOTBOL},
    {"noteol", PCRE2_NOTEOL},
    {"notempty", PCRE2_NOTEMPTY},
    {"notempty_atstart", PCRE2_NOTEMPTY_ATSTART},
};

std::mutex Lock;
std::vector<Rule> Rules;
std::map<std::string, std::string> Macros; // names compared without case: stored lower-cased
std::string UserAgent;

std::string Lower(std::string_view Text) {
    std::string Out(Text);
    for (char &Ch : Out)
        if (Ch >= 'A' && Ch <= 'Z') Ch = (char)(Ch - 'A' + 'a');
    return Out;
}

uint32 Translate(const char *List, const OptionName *Table, size_t Count, const char *Kind) {
    uint32 Options = 0;
    String_ForEachListMember(List, [&](std::string_view Member) {
        std::string Name = Lower(Member);
        for (size_t Index = 0; Index < Count; Index++)
            if (Name == Table[Index].Name) {
                Options |= Table[Index].Value;
                return;
            }
        Log_Warning("Unknown redirect %s option (%s)\n", Kind, Name.c_str());
    });
    return Options;
}

int32 ExpandMacro(void *, const char *Name, const char *, char *Output, int32 Size) {
    auto Found = Macros.find(Lower(Name));
    if (Found == Macros.end()) return FALSE;
    String_CopyLength(Output, Found->second.c_str(), Size);
    return TRUE;
}

} // namespace

int32 WebGet_RedirectAdd(const char *Name, uint32, uint32 Mutable, const char *Pattern, const char *Replacement,
                         uint32 CompileOptions, uint32 SubstituteOptions) {
    Debug_CheckPointer(Name);
    Debug_CheckPointer(Pattern);
    Debug_CheckPointer(Replacement);
    int ErrorCode = 0;
    PCRE2_SIZE Offset = 0;
    pcre2_code *Code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(Pattern), PCRE2_ZERO_TERMINATED, CompileOptions,
                                     &ErrorCode, &Offset, nullptr);
    if (Code == nullptr) {
        PCRE2_UCHAR Message[256];
        pcre2_get_error_message(ErrorCode, Message, sizeof(Message));
        Log_Error("Redirect rule (%s) does not compile at %d: %s\n", Name, (int32)Offset,
                  reinterpret_cast<const char *>(Message));
        return FALSE;
    }
    std::lock_guard<std::mutex> Guard(Lock);
    std::vector<char> Expanded(WEBGET_URL_SIZE);
    String_CopyLength(Expanded.data(), Replacement, (int32)Expanded.size());
    String_Expand(Expanded.data(), (int32)Expanded.size(), nullptr, ExpandMacro);
    for (Rule &Existing : Rules) {
        if (!String_CompareWithoutCase(Existing.Name.c_str(), Name)) continue;
        if (!Existing.Mutable) {
            pcre2_code_free(Code);
            return FALSE;
        }
        pcre2_code_free(Existing.Code);
        Existing = Rule{Name, Mutable, Expanded.data(), SubstituteOptions, Code};
        return TRUE;
    }
    Rules.push_back(Rule{Name, Mutable, Expanded.data(), SubstituteOptions, Code});
    return TRUE;
}

int32 WebGet_RedirectRemove(const char *Name) {
    Debug_CheckPointer(Name);
    std::lock_guard<std::mutex> Guard(Lock);
    for (auto It = Rules.begin(); It != Rules.end(); ++It)
        if (String_CompareWithoutCase(It->Name.c_str(), Name)) {
            pcre2_code_free(It->Code);
            Rules.erase(It);
            return TRUE;
        }
    return FALSE;
}

int32 WebGet_RedirectReset(void) {
    std::lock_guard<std::mutex> Guard(Lock);
    for (Rule &Each : Rules) pcre2_code_free(Each.Code);
    Rules.clear();
    Macros.clear();
    UserAgent.clear();
    return TRUE;
}

int32 WebGet_RedirectGetCount(int32 *Count) {
    Debug_CheckPointer(Count);
    std::lock_guard<std::mutex> Guard(Lock);
    *Count = (int32)Rules.size();
    return TRUE;
}

int32 WebGet_RedirectApply(const char *Url, char *Output, int32 Size) {
    Debug_CheckPointer(Url);
    Debug_CheckPointer(Output);
    if (Size <= 0) return FALSE;
    std::lock_guard<std::mutex> Guard(Lock);
    std::string Current(Url);
    bool Changed = false;
    std::vector<PCRE2_UCHAR> Buffer(WEBGET_URL_SIZE);
    for (const Rule &Each : Rules) {
        pcre2_match_data *Match = pcre2_match_data_create_from_pattern(Each.Code, nullptr);
        PCRE2_SIZE Length = Buffer.size();
        int Result = pcre2_substitute(Each.Code, reinterpret_cast<PCRE2_SPTR>(Current.data()), Current.size(), 0,
                                      Each.SubstituteOptions, Match, nullptr,
                                      reinterpret_cast<PCRE2_SPTR>(Each.Replacement.c_str()), PCRE2_ZERO_TERMINATED,
                                      Buffer.data(), &Length);
        pcre2_match_data_free(Match);
        if (Result > 0) {
            Current.assign(reinterpret_cast<const char *>(Buffer.data()), Length);
            Changed = true;
        } else if (Result < 0 && Result != PCRE2_ERROR_NOMATCH) {
            PCRE2_UCHAR Message[256];
            pcre2_get_error_message(Result, Message, sizeof(Message));
            Log_Error("Redirect rule (%s) failed: %s\n", Each.Name.c_str(), reinterpret_cast<const char *>(Message));
        }
    }
    if ((int32)Current.size() >= Size) {
        String_CopyLength(Output, Url, Size);
        return FALSE;
    }
    String_CopyLength(Output, Current.c_str(), Size);
    return Changed ? TRUE : FALSE;
}

uint32 WebGet_RedirectFlagsFromStringList(const char *List) {
    String_ForEachListMember(List, [](std::string_view Member) {
        std::string Name(Member);
        Log_Warning("Unknown redirect flag (%s)\n", Name.c_str());
    });
    return 0;
}

uint32 WebGet_RedirectCompileOptionsFromStringList(const char *List) {
    return Translate(List, CompileNames, sizeof(CompileNames) / sizeof(CompileNames[0]), "compile");
}

uint32 WebGet_RedirectSubstituteOptionsFromStringList(const char *List) {
    return Translate(List, SubstituteNames, sizeof(SubstituteNames) / sizeof(SubstituteNames[0]), "substitute");
}

int32 WebGet_RedirectAddMacro(const char *Name, const char *Value) {
    Debug_CheckPointer(Name);
    Debug_CheckPointer(Value);
    std::lock_guard<std::mutex> Guard(Lock);
    Macros[Lower(Name)] = Value;
    return TRUE;
}

int32 WebGet_SetUserAgent(const char *Template) {
    Debug_CheckPointer(Template);
    std::lock_guard<std::mutex> Guard(Lock);
    UserAgent.assign(Template, strnlen(Template, WEBGET_USERAGENT_SIZE - 1));
    return TRUE;
}

int32 WebGet_GetUserAgent(char *Buffer, int32 Size) {
    Debug_CheckPointer(Buffer);
    std::lock_guard<std::mutex> Guard(Lock);
    return String_CopyLength(Buffer, UserAgent.c_str(), Size);
}
