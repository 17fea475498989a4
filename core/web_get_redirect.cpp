// URL redirect rules of the HTTP client: named PCRE2 patterns, each with a
// replacement that may use redirect macros ("{name}"), applied in order to
// every request URL before it is sent. Also the User-Agent template.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#include <string.h>

#include <mutex>
#include <string>
#include <vector>

#include "core/log.h"
#include "core/string.h"
#include "core/string_expand.h"
#include "core/web_get.h"
#include "core/web_get_internal.h"

namespace {

struct Rule {
    std::string Name;
    uint32 Flags = 0;
    int32 Mutable = 0;
    std::string Replacement;
    uint32 SubstituteOptions = 0;
    pcre2_code *Code = nullptr;
};

std::mutex Lock;
std::vector<Rule> Rules;
std::vector<std::pair<std::string, std::string>> Macros;
std::string UserAgent = "Mozilla/5.0 (X11; Linux x86_64)";

struct OptionName {
    const char *Name;
    uint32 Value;
};

constexpr OptionName CompileOptions[] = {
    {"CASELESS", PCRE2_CASELESS}, {"MULTILINE", PCRE2_MULTILINE}, {"DOTALL", PCRE2_DOTALL},
    {"EXTENDED", PCRE2_EXTENDED}, {"ANCHORED", PCRE2_ANCHORED},   {"DOLLAR_ENDONLY", PCRE2_DOLLAR_ENDONLY},
    {"UNGREEDY", PCRE2_UNGREEDY}, {"UTF", PCRE2_UTF},             {"NO_AUTO_CAPTURE", PCRE2_NO_AUTO_CAPTURE},
};
constexpr OptionName SubstituteOptions[] = {
    {"GLOBAL", PCRE2_SUBSTITUTE_GLOBAL},
    {"EXTENDED", PCRE2_SUBSTITUTE_EXTENDED},
    {"UNSET_EMPTY", PCRE2_SUBSTITUTE_UNSET_EMPTY},
    {"UNKNOWN_UNSET", PCRE2_SUBSTITUTE_UNKNOWN_UNSET},
    {"LITERAL", PCRE2_SUBSTITUTE_LITERAL},
};

template <size_t N> uint32 OptionsFromList(Dictionary *List, const OptionName (&Table)[N], const char *Kind) {
    uint32 Options = 0;
    if (List == nullptr) return 0;
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(List, &Item); Item != nullptr;
         Dictionary_ItemGetNext(List, Item, &Item) ? (void)0 : (void)(Item = nullptr)) {
        const char *Text = nullptr;
        if (!Dictionary_ItemGetStringPtr(List, Item, &Text) || Text == nullptr) continue;
        bool Known = false;
        for (const OptionName &Entry : Table)
            if (String_CompareWithoutCase(Text, Entry.Name)) {
                Options |= Entry.Value;
                Known = true;
            }
        if (!Known) Log_Warning("Unknown redirect %s option (%s)\n", Kind, Text);
    }
    return Options;
}

// "{name}" of a redirect macro becomes its value; other braces stay.
std::string ExpandMacros(const std::string &Text) {
    std::string Out = Text;
    for (const auto &Macro : Macros) {
        std::string Key = "{" + Macro.first + "}";
        for (size_t At = Out.find(Key); At != std::string::npos; At = Out.find(Key, At + Macro.second.size()))
            Out.replace(At, Key.size(), Macro.second);
    }
    return Out;
}

} // namespace

int32 WebGet_RedirectAddMacro(const char *Name, const char *Value) {
    Debug_CheckPointer(Name);
    Debug_CheckPointer(Value);
    std::lock_guard<std::mutex> Guard(Lock);
    for (auto &Macro : Macros)
        if (Macro.first == Name) {
            Macro.second = Value;
            return TRUE;
        }
    Macros.emplace_back(Name, Value);
    return TRUE;
}

int32 WebGet_RedirectAdd(const char *Name, uint32 Flags, int32 Mutable, const char *Pattern, const char *Replacement,
                         uint32 CompileOptions, uint32 SubstituteOptionsValue) {
    Debug_CheckPointer(Name);
    Debug_CheckPointer(Pattern);
    Debug_CheckPointer(Replacement);
    int ErrorCode = 0;
    PCRE2_SIZE ErrorOffset = 0;
    pcre2_code *Code =
        pcre2_compile((PCRE2_SPTR)Pattern, PCRE2_ZERO_TERMINATED, CompileOptions, &ErrorCode, &ErrorOffset, nullptr);
    if (Code == nullptr) {
        PCRE2_UCHAR Message[256];
        pcre2_get_error_message(ErrorCode, Message, sizeof(Message));
        Log_Error("Redirect pattern does not compile (%s) at %d: %s\n", Name, (int32)ErrorOffset, (char *)Message);
        return FALSE;
    }
    std::lock_guard<std::mutex> Guard(Lock);
    for (Rule &Existing : Rules)
        if (Existing.Name == Name) {
            // A rule that was added as not mutable keeps its first form.
            if (!Existing.Mutable) {
                pcre2_code_free(Code);
                return FALSE;
            }
            pcre2_code_free(Existing.Code);
            Existing = Rule{Name, Flags, Mutable, Replacement, SubstituteOptionsValue, Code};
            return TRUE;
        }
    Rules.push_back(Rule{Name, Flags, Mutable, Replacement, SubstituteOptionsValue, Code});
    return TRUE;
}

int32 WebGet_RedirectReset(void) {
    std::lock_guard<std::mutex> Guard(Lock);
    for (Rule &Existing : Rules) pcre2_code_free(Existing.Code);
    Rules.clear();
    Macros.clear();
    return TRUE;
}

uint32 WebGet_RedirectFlagsFromStringList(Dictionary *List) {
    // No redirect flag has a name: every one given is reported and ignored.
    static constexpr OptionName None[] = {{"", 0}};
    return OptionsFromList(List, None, "flag");
}

uint32 WebGet_RedirectCompileOptionsFromStringList(Dictionary *List) {
    return OptionsFromList(List, CompileOptions, "compile");
}

uint32 WebGet_RedirectSubstituteOptionsFromStringList(Dictionary *List) {
    return OptionsFromList(List, SubstituteOptions, "substitute");
}

int32 WebGet_RedirectApply(const char *Url, std::string *Result) {
    Debug_CheckPointer(Url);
    Debug_CheckPointer(Result);
    std::lock_guard<std::mutex> Guard(Lock);
    std::string Current = Url;
    bool Changed = false;
    for (const Rule &Each : Rules) {
        std::string Replacement = ExpandMacros(Each.Replacement);
        pcre2_match_data *Match = pcre2_match_data_create_from_pattern(Each.Code, nullptr);
        std::vector<PCRE2_UCHAR> Output(WEBGET_REDIRECT_URL_SIZE);
        PCRE2_SIZE Length = Output.size();
        int Count = pcre2_substitute(Each.Code, (PCRE2_SPTR)Current.c_str(), Current.size(), 0,
                                     Each.SubstituteOptions, Match, nullptr, (PCRE2_SPTR)Replacement.c_str(),
                                     Replacement.size(), Output.data(), &Length);
        pcre2_match_data_free(Match);
        if (Count > 0) {
            std::string Next((const char *)Output.data(), Length);
            Log_Info("Redirecting (%s) by %s to (%s)\n", Current.c_str(), Each.Name.c_str(), Next.c_str());
            Current = Next;
            Changed = true;
        } else if (Count < 0 && Count != PCRE2_ERROR_NOMATCH) {
            Log_Error("Redirect (%s) failed [%d]\n", Each.Name.c_str(), Count);
        }
    }
    if (Changed) *Result = Current;
    return Changed;
}

int32 WebGet_SetUserAgent(const char *Template) {
    Debug_CheckPointer(Template);
    std::lock_guard<std::mutex> Guard(Lock);
    UserAgent = Template;
    return TRUE;
}

int32 WebGet_GetUserAgent(char *Buffer, int32 Size) {
    Debug_CheckPointer(Buffer);
    {
        std::lock_guard<std::mutex> Guard(Lock);
        String_CopyLength(Buffer, UserAgent.c_str(), Size);
    }
    String_Expand(Buffer, Size, nullptr, nullptr);
    // The expansion must not open a second header line.
    for (char *At = Buffer; *At != 0; At++)
        if (*At == '\r' || *At == '\n') *At = ' ';
    return TRUE;
}
