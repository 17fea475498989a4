// The application's configuration (see workflow_app_config.h).
#include "workflow/app/workflow_app_config.h"

#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <initializer_list>
#include <string>
#include <string_view>

#include "crypto/trust/authenticate.h"
#include "crypto/trust/cert_store_key.h"
#include "crypto/trust/cert_store_thumbprint.h"
#include "net/tls1.h"
#include "net/web_get.h"
#include "net/web_get_redirect.h"
#include "platform/registry.h"
#include "runtime/documents/json.h"
#include "runtime/files/path.h"
#include "runtime/log.h"
#include "runtime/memory.h"
#include "runtime/posix/platform_file.h"
#include "runtime/notification/notification_center.h"
#include "runtime/text/html_entities.h"
#include "runtime/text/string.h"
#include "runtime/text/string_expand.h"
#include "runtime/text/url.h"
#include "workflow/app/workflow_app.h"
#include "workflow/app/workflow_app_web.h"
#include "workflow/workflow.h"

const char *const Switch_DebugInterop = "debuginterop";
const char *const Switch_MaxDays = "maxdays";
const char *const Switch_WFEndPoint = "wfendpoint";
const char *const Switch_WFWorker = "wfworker";
const char *const Switch_WFSelfUpdate = "wfselfupdate";
const char *const Workflow_SwitchFilterTable[5] = {"debuginterop", "maxdays", "wfendpoint", "wfworker",
                                                   "wfselfupdate"};

namespace {

constexpr int32 PathSize = 320;
constexpr int32 ListSize = 4096;
constexpr int32 MemberSize = 320;

constexpr const char *DefaultCiphers =
    "ecdhe-ecdsa-aes256-gcm-sha384,ecdhe-rsa-aes256-gcm-sha384,ecdhe-ecdsa-aes128-gcm-sha256,"
    "ecdhe-rsa-aes128-gcm-sha256,rsa-aes256-gcm-sha384,rsa-aes128-gcm-sha256,ecdhe-ecdsa-aes256-sha384,"
    "ecdhe-rsa-aes256-sha384,ecdhe-ecdsa-aes256-sha,ecdhe-rsa-aes256-sha,ecdhe-ecdsa-aes128-sha256,"
    "ecdhe-rsa-aes128-sha256,ecdhe-ecdsa-aes128-sha,ecdhe-rsa-aes128-sha,rsa-aes256-sha256,rsa-aes256-sha,"
    "rsa-aes128-sha256,rsa-aes128-sha";

struct ConfigState {
    Dictionary *Config = nullptr;
    char ConfigId[64] = "";
    CertStoreTable *Stores = nullptr;
    CertStoreTable *KeyStores = nullptr;
    CertStoreList *App = nullptr;
    CertStoreList *Interop = nullptr;
    CertStoreList *DataStore = nullptr;
    CertStoreList *WebGet = nullptr;
};

ConfigState State;

// The stored text form of any value (numbers and booleans included).
bool ValueText(Dictionary *Owner, DictionaryItem *Item, char *Buffer, int32 Size) {
    const char *Text = nullptr;
    int32 Length = 0;
    if (!Dictionary_ItemGetBufferPtr(Owner, Item, &Text, &Length) || Text == nullptr) return false;
    String_CopyLengthSafe(Buffer, Size, Text, Length);
    return true;
}

int32 OnValueChange(Dictionary *Handle, DictionaryItem *Item, void *, const char *Path, const char *, int32) {
    char Value[ListSize];
    if (Item == nullptr || !ValueText(Handle, Item, Value, (int32)sizeof(Value))) return TRUE;
    // The path from the top of the configuration, whichever container changed.
    char Full[ListSize];
    if (!Dictionary_ItemGetPath(Handle, Item, nullptr, Full, (int32)sizeof(Full))) {
        if (Path == nullptr) return TRUE;
        String_CopyLength(Full, Path, (int32)sizeof(Full));
    }
    Path = Full;
    int32 Level = 0;
    if (Log_GetVerboseLevel("Config", &Level) && Level >= 1) Log_Debug("Config Changed - ['%s' = '%s']\n", Path, Value);
    NotificationCenter_FireWithJSON("Config", "OptionChanged", State.ConfigId, "{\"key\":\"%js\",\"value\":\"%js\"}",
                                    Path, Value);
    return TRUE;
}

// Every container of the tree reports its own changes; children made after
// this call get the callback when the next load installs it again.
void InstallChangeCallback(Dictionary *Container, Dictionary_ItemValueChangeFunc Function) {
    Dictionary_SetItemValueChangeCallback(Container, nullptr, Function);
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(Container, &Item); Item != nullptr; Dictionary_ItemGetNext(Container, Item, &Item)) {
        Dictionary *Child = nullptr;
        if (Dictionary_ItemIsContainer(Container, Item) && Dictionary_ItemGetDictionaryHandle(Container, Item, &Child) &&
            Child != nullptr)
            InstallChangeCallback(Child, Function);
    }
}

void SetDefaults(Dictionary *Config) {
    constexpr int64 Limit = 33554432;
    Dictionary_SetStringByKey(Config, "localStorage", "{userAppData}Velmarsh{pathSlash}");
    Dictionary_SetBooleanByKey(Config, "requiresElevated", FALSE);
    Dictionary_SetInt64ByPath(Config, "alias.limitSize", Limit);
    Dictionary_SetInt64ByPath(Config, "catalog.limitSize", Limit);
    Dictionary_SetInt64ByPath(Config, "metafile.limitSize", Limit);
    Dictionary_SetInt32ByPath(Config, "storage.requests", 8);
    Dictionary_SetStringByPath(Config, "storage.deltaFormat", "{sourceInfoHash}/{targetDigest}.velmdelta");
    Dictionary_SetStringByPath(Config, "storage.pieceFormat", "{targetInfoHash}/{targetDigest}.velmpiece");
    Dictionary_SetStringByPath(Config, "storage.partialExtension", ".velmpartial");
    Dictionary_SetInt32ByPath(Config, "storage.fileCompletes", 10);
    Dictionary_SetStringByPath(Config, "storage.lockDirectory", "{moduleDirectory}_lock{pathSlash}");
    Dictionary_SetInt64ByPath(Config, "storage.deltaCacheSize", Limit);
    Dictionary_SetBooleanByPath(Config, "storage.skipTimestamp", FALSE);
    Dictionary_SetBooleanByPath(Config, "storage.skipAttributes", FALSE);
    Dictionary_SetBooleanByPath(Config, "storage.selfUpdate", FALSE);
    Dictionary_SetBooleanByPath(Config, "storage.systemBuffer", TRUE);
    Dictionary_SetFloat64ByPath(Config, "repository.copyWeight", (float64)0.8f);
    Dictionary_SetFloat64ByPath(Config, "repository.applyWeight", (float64)0.12f);
    Dictionary_SetFloat64ByPath(Config, "repository.cleanWeight", (float64)0.08f);
    Dictionary_SetStringByPath(Config, "tls1.cipher", DefaultCiphers);
    Dictionary_SetStringByPath(Config, "tls1.versionMin", "1.0");
    Dictionary_SetStringByPath(Config, "tls1.versionMax", "1.2");
    Dictionary_SetInt32ByPath(Config, "alias.webGetCacheMinAge", 60);
    Dictionary_SetInt32ByPath(Config, "workflow.webGetCacheMinAge", 60);
    Dictionary_SetInt32ByPath(Config, "webGetPool.maxHosts", 5);
    Dictionary_SetInt32ByPath(Config, "webGetPool.maxHostConnections", 6);
}

// Every text member of a List (or of a Dictionary's values), decoded.
template <typename Function> void ForEachText(Dictionary *Container, Function Each) {
    DictionaryItem *Item = nullptr;
    MemoryScope<char> Text(ListSize);
    for (Dictionary_ItemGetFirst(Container, &Item); Item != nullptr; Dictionary_ItemGetNext(Container, Item, &Item)) {
        const char *Stored = nullptr;
        if (!Dictionary_ItemCompareType(Container, Item, DICTIONARY_TYPE_STRING) ||
            !Dictionary_ItemGetStringPtr(Container, Item, &Stored) || Stored == nullptr)
            continue;
        if (!StringUtf8_DecodeString(Stored, Text.Get(), ListSize)) String_CopyLength(Text.Get(), Stored, ListSize);
        Each(Text.Get());
    }
}

// A key store's text: a text, or a List of texts joined without separator.
bool KeyText(Dictionary *Owner, DictionaryItem *Item, std::string &Text) {
    const char *Stored = nullptr;
    Text.clear();
    if (Dictionary_ItemCompareType(Owner, Item, DICTIONARY_TYPE_STRING))
        return Dictionary_ItemGetStringPtr(Owner, Item, &Stored) && Stored != nullptr && (Text = Stored, !Text.empty());
    Dictionary *List = nullptr;
    if (!Dictionary_ItemCompareType(Owner, Item, DICTIONARY_TYPE_LIST) ||
        !Dictionary_ItemGetDictionaryHandle(Owner, Item, &List) || List == nullptr)
        return false;
    DictionaryItem *Part = nullptr;
    for (Dictionary_ItemGetFirst(List, &Part); Part != nullptr; Dictionary_ItemGetNext(List, Part, &Part))
        if (Dictionary_ItemCompareType(List, Part, DICTIONARY_TYPE_STRING) &&
            Dictionary_ItemGetStringPtr(List, Part, &Stored) && Stored != nullptr)
            Text += Stored;
    return !Text.empty();
}

CertStoreInterface *NamedStore(const char *Name) {
    CertStoreInterface *Interface = nullptr;
    if (CertStoreTable_GetInterfaceHandle(State.Stores, Name, &Interface) && Interface != nullptr) return Interface;
    Log_Error("Unable to find certificate store (%s)\n", Name);
    CertStoreNull *Null = nullptr;
    CertStoreNull_Create(&Null);
    CertStoreNull_GetInterfaceHandle(Null, &Interface);
    CertStoreNull_Release(&Null);
    return Interface;
}

void FillList(CertStoreList *Target, Dictionary *Names) {
    ForEachText(Names, [Target](const char *Name) {
        CertStoreInterface *Member = NamedStore(Name);
        CertStoreList_Add(Target, Member);
        CertStoreInterface_Release(&Member);
    });
}

// A fresh list of the named stores, or of the "null" store alone.
void ReplaceList(CertStoreList **Target, Dictionary *Names) {
    if (*Target != nullptr) CertStoreList_Release(Target);
    CertStoreList_Create(Target);
    if (Names != nullptr) {
        FillList(*Target, Names);
        return;
    }
    CertStoreInterface *Null = NamedStore("null");
    CertStoreList_Add(*Target, Null);
    CertStoreInterface_Release(&Null);
}

void AddPathMacro(const char *Path, const char *Macro) {
    char Text[PathSize] = "";
    WorkflowApp_GetConfig(Path, "", Text, (int32)sizeof(Text));
    if (Text[0] != 0) Path_FixSlash(Text, (int32)sizeof(Text), TRUE);
    WorkflowApp_AddMacro(Macro, Text);
}

void ApplyRedirects(Dictionary *Source) {
    Dictionary *Rules = nullptr;
    if (!Dictionary_GetDictionaryByPath(Source, "webGet.redirect", &Rules) || Rules == nullptr) return;
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(Rules, &Item); Item != nullptr; Dictionary_ItemGetNext(Rules, Item, &Item)) {
        Dictionary *Rule = nullptr;
        const char *Name = nullptr, *Pattern = nullptr, *Replacement = nullptr;
        if (!Dictionary_ItemCompareType(Rules, Item, DICTIONARY_TYPE_DICTIONARY) ||
            !Dictionary_ItemGetDictionaryHandle(Rules, Item, &Rule) ||
            !Dictionary_ItemGetKeyPtr(Rules, Item, &Name) || Name == nullptr ||
            !Dictionary_GetStringPtrByKey(Rule, "pattern", &Pattern) || Pattern == nullptr ||
            !Dictionary_GetStringPtrByKey(Rule, "replacement", &Replacement) || Replacement == nullptr)
            continue;
        char Flags[320] = "", Compile[1024] = "", Substitute[1024] = "";
        Dictionary_GetStringByKey(Rule, "flags", Flags, (int32)sizeof(Flags));
        Dictionary_GetStringByKey(Rule, "compileOptions", Compile, (int32)sizeof(Compile));
        Dictionary_GetStringByKey(Rule, "substituteOptions", Substitute, (int32)sizeof(Substitute));
        uint32 Mutable = FALSE;
        Dictionary_GetBooleanByKey(Rule, "mutable", &Mutable);
        if (WebGet_RedirectAdd(Name, WebGet_RedirectFlagsFromStringList(Flags), Mutable, Pattern, Replacement,
                               WebGet_RedirectCompileOptionsFromStringList(Compile),
                               WebGet_RedirectSubstituteOptionsFromStringList(Substitute)))
            Log_Info("Add webget redirect (%s)\n", Name);
    }
}

// The connection pool's limits; below 1 the pool refuses them.
void ApplyPoolLimits(Dictionary *Config) {
    int32 Count = 0;
    if (Dictionary_GetInt32ByPath(Config, "webGetPool.maxHosts", &Count)) WebGetPool_SetMaxHostCount(Count);
    if (Dictionary_GetInt32ByPath(Config, "webGetPool.maxHostConnections", &Count))
        WebGetPool_SetMaxHostConnectionCount(Count);
}

// "alias" only for a minimum age above 0; "workflow" always, its age when 0
// or more.
void ApplyCacheStores(Dictionary *Config) {
    int32 Age = 0;
    if (Dictionary_GetInt32ByPath(Config, "alias.webGetCacheMinAge", &Age) && Age > 0)
        WorkflowApp_WebHoldCache("alias", Age);
    if (!Dictionary_GetInt32ByPath(Config, "workflow.webGetCacheMinAge", &Age) || Age < 0) Age = -1;
    WorkflowApp_WebHoldCache("workflow", Age);
}

} // namespace

int32 Workflow_ShouldRemoveSwitch(const char *Name) {
    Debug_CheckPointer(Name);
    for (const char *Switch : Workflow_SwitchFilterTable)
        if (String_Compare(Switch, Name)) return TRUE;
    return FALSE;
}

int32 WorkflowApp_InitConfig(void) {
    if (State.Config != nullptr) return FALSE;
    Dictionary_Create(&State.Config);
    Dictionary_SetCaseSensitive(State.Config, FALSE);
    Dictionary_GetInstanceId(State.Config, State.ConfigId, (int32)sizeof(State.ConfigId));
    SetDefaults(State.Config);
    InstallChangeCallback(State.Config, OnValueChange);
    // The process-wide tables and "app" list of the trust registry; tables
    // of its own only where the registry was not started.
    if (Authenticate_GetCertStoreTableHandle() != nullptr) {
        State.Stores = CertStoreTable_AddRef(Authenticate_GetCertStoreTableHandle());
        State.KeyStores = CertStoreTable_AddRef(Authenticate_GetKeyStoreTableHandle());
        State.App = CertStoreList_AddRef(Authenticate_GetCertStoreAppListHandle());
    } else {
        CertStoreTable_Create(&State.Stores);
        CertStoreTable_Create(&State.KeyStores);
        CertStoreNull *Null = nullptr;
        CertStoreInterface *Interface = nullptr;
        CertStoreNull_Create(&Null);
        CertStoreNull_GetInterfaceHandle(Null, &Interface);
        CertStoreTable_Add(State.Stores, "null", FALSE, Interface);
        CertStoreInterface_Release(&Interface);
        CertStoreNull_Release(&Null);
        CertStoreList_Create(&State.App);
        CertStoreList_GetInterfaceHandle(State.App, &Interface);
        CertStoreTable_Add(State.Stores, "app", FALSE, Interface);
        CertStoreInterface_Release(&Interface);
    }
    ReplaceList(&State.Interop, nullptr);
    ReplaceList(&State.DataStore, nullptr);
    ReplaceList(&State.WebGet, nullptr);
    return TRUE;
}

int32 WorkflowApp_RemoveConfig(void) {
    if (State.Config == nullptr) return TRUE;
    InstallChangeCallback(State.Config, nullptr);
    Dictionary_Release(&State.Config);
    for (CertStoreList **Each : {&State.App, &State.Interop, &State.DataStore, &State.WebGet})
        if (*Each != nullptr) CertStoreList_Release(Each);
    CertStoreTable_Release(&State.Stores);
    CertStoreTable_Release(&State.KeyStores);
    // The client's redirect rules, their macros and the User-Agent came
    // from the configuration: they go with it.
    WebGet_RedirectReset();
    State = ConfigState();
    return TRUE;
}

int32 WorkflowApp_GetConfigHandle(Dictionary **Config) {
    Debug_CheckPointer(Config);
    *Config = State.Config;
    return State.Config != nullptr;
}

int32 WorkflowApp_GetConfig(const char *Path, const char *DefaultText, char *Buffer, int32 Size) {
    Debug_CheckPointer(Path);
    Debug_CheckPointer(Buffer);
    if (State.Config == nullptr) return FALSE;
    MemoryScope<char> Stored(ListSize);
    DictionaryItem *Item = nullptr;
    Dictionary *Owner = nullptr;
    if (!Dictionary_ItemFindByPath(State.Config, Path, &Owner, &Item) || Item == nullptr ||
        !ValueText(Owner != nullptr ? Owner : State.Config, Item, Stored.Get(), ListSize)) {
        String_CopyLength(Buffer, DefaultText != nullptr ? DefaultText : "", Size);
        return TRUE;
    }
    if (!StringUtf8_DecodeString(Stored.Get(), Buffer, Size)) String_CopyLength(Buffer, Stored.Get(), Size);
    return TRUE;
}

int32 WorkflowApp_GetConfigBoolean(const char *Path, uint32 Default, uint32 *Value) {
    Debug_CheckPointer(Value);
    *Value = Default;
    if (State.Config == nullptr) return FALSE;
    char Text[64] = "";
    if (!WorkflowApp_GetConfig(Path, "", Text, (int32)sizeof(Text))) return FALSE;
    int32 Decoded = (int32)Default;
    if (Text[0] != 0 && String_DecodeBoolean(Text, &Decoded, (int32)Default)) *Value = (uint32)Decoded;
    return TRUE;
}

int32 WorkflowApp_LoadConfigFromDictionary(Dictionary *Source) {
    Debug_CheckPointer(Source);
    Dictionary *Config = State.Config;
    if (Config == nullptr) return FALSE;
    // A parsed document keeps its object under one unnamed root.
    Dictionary *Inner = nullptr;
    if (Dictionary_SkipRoot(Source, &Inner) && Inner != nullptr) Source = Inner;
    Dictionary_Merge(Config, Source, DICTIONARY_MERGE_OVERWRITE);
    WorkflowApp_ExpandDictionary(Config);
    InstallChangeCallback(Config, OnValueChange);

    Dictionary *Macros = nullptr;
    if (Dictionary_GetDictionaryByKey(Config, "macros", &Macros) && Macros != nullptr) {
        DictionaryItem *Item = nullptr;
        for (Dictionary_ItemGetFirst(Macros, &Item); Item != nullptr; Dictionary_ItemGetNext(Macros, Item, &Item)) {
            const char *Key = nullptr, *Stored = nullptr;
            int32 Length = 0;
            if (!Dictionary_ItemGetKeyPtr(Macros, Item, &Key) || Key == nullptr ||
                !Dictionary_ItemCompareType(Macros, Item, DICTIONARY_TYPE_STRING) ||
                !Dictionary_ItemGetBufferPtr(Macros, Item, &Stored, &Length) || Stored == nullptr)
                continue;
            const char *Dot = nullptr;
            const char *Name = String_FindCharReverse(Key, '.', &Dot) ? Dot + 1 : Key;
            // Read whole, never into a width: the store's one check sees the
            // value's own length and any NUL. Only a value it can take is
            // decoded (references read as characters).
            std::string Value(Stored, (size_t)Length);
            if (Value.find('\0') == std::string::npos && Length < STRING_EXPAND_RESULT_SIZE) {
                std::string Decoded((size_t)Length * 3 + 4, '\0');
                StringUtf8_DecodeString(Stored, Decoded.data(), (int32)Decoded.size());
                Value = Decoded.c_str();
            }
            if (Value.find('\0') == std::string::npos && String_CompareWithoutCase(Name, "contentUrl"))
                WorkflowApp_SetContentUrl(Value.c_str());
            else
                WorkflowApp_AddMacroLength(Name, Value.data(), (int32)Value.size());
        }
    }
    AddPathMacro("localStorage", "#localStorage");
    AddPathMacro("storage.lockDirectory", "#lockDirectory");

    Dictionary *List = nullptr;
    if (Dictionary_GetListByKey(Config, "hostnameWhitelist", &List) && List != nullptr)
        ForEachText(List, [](const char *Text) { WorkflowApp_AddHostname(Text); });
    for (uint32 ReadWrite : {0u, 1u}) {
        Dictionary *Prefixes = nullptr;
        const char *Path = ReadWrite ? "registryWhitelist.readWrite" : "registryWhitelist.readOnly";
        // A List or a Dictionary of texts.
        if (Dictionary_GetDictionaryByPath(Config, Path, &Prefixes) && Prefixes != nullptr)
            ForEachText(Prefixes, [ReadWrite](const char *Text) { WorkflowApp_AddRegistry(ReadWrite, Text); });
    }

    Dictionary *Stores = nullptr;
    if (Dictionary_GetDictionaryByKey(Config, "keyStores", &Stores) && Stores != nullptr) {
        DictionaryItem *Item = nullptr;
        for (Dictionary_ItemGetFirst(Stores, &Item); Item != nullptr; Dictionary_ItemGetNext(Stores, Item, &Item)) {
            const char *Name = nullptr;
            std::string Key;
            if (!Dictionary_ItemGetKeyPtr(Stores, Item, &Name) || Name == nullptr || !KeyText(Stores, Item, Key))
                continue;
            WorkflowApp_KeyStoreAdd(Name, FALSE, Key.c_str());
        }
    }
    if (Dictionary_GetDictionaryByKey(Config, "thumbprintStores", &Stores) && Stores != nullptr) {
        DictionaryItem *Item = nullptr;
        for (Dictionary_ItemGetFirst(Stores, &Item); Item != nullptr; Dictionary_ItemGetNext(Stores, Item, &Item)) {
            const char *Name = nullptr;
            Dictionary *Thumbprints = nullptr;
            if (Dictionary_ItemGetKeyPtr(Stores, Item, &Name) && Name != nullptr &&
                Dictionary_ItemCompareType(Stores, Item, DICTIONARY_TYPE_DICTIONARY) &&
                Dictionary_ItemGetDictionaryHandle(Stores, Item, &Thumbprints) && Thumbprints != nullptr)
                WorkflowApp_CertStoreAdd(Name, FALSE, Thumbprints);
        }
    }
    if (Dictionary_GetDictionaryByKey(Config, "certificateStores", &Stores) && Stores != nullptr) {
        if (Dictionary_GetListByKey(Stores, "app", &List)) WorkflowApp_AppSetCertStores(List);
        if (Dictionary_GetListByKey(Stores, "interop", &List)) WorkflowApp_InteropSetCertStores(List);
        if (Dictionary_GetListByKey(Stores, "webGet", &List)) WorkflowApp_WebGetSetCertStores(List);
        if (Dictionary_GetListByKey(Stores, "dataStore", &List)) WorkflowApp_DataStoreSetCertStores(List);
    }

    char Text[ListSize];
    if (Dictionary_GetStringByPath(Config, "webGet.userAgent", Text, (int32)sizeof(Text))) WebGet_SetUserAgent(Text);
    Dictionary *WebGetMacros = nullptr;
    if (Dictionary_GetDictionaryByPath(Config, "webGet.macros", &WebGetMacros) && WebGetMacros != nullptr) {
        DictionaryItem *Item = nullptr;
        for (Dictionary_ItemGetFirst(WebGetMacros, &Item); Item != nullptr;
             Dictionary_ItemGetNext(WebGetMacros, Item, &Item)) {
            const char *Key = nullptr;
            if (Dictionary_ItemGetKeyPtr(WebGetMacros, Item, &Key) && Key != nullptr &&
                Dictionary_ItemGetString(WebGetMacros, Item, Text, (int32)sizeof(Text)))
                WebGet_RedirectAddMacro(Key, Text);
        }
    }
    ApplyRedirects(Source);

    ApplyPoolLimits(Config);
    if (Dictionary_GetStringByPath(Config, "tls1.cipher", Text, (int32)sizeof(Text))) {
        // The loaded list replaces the enabled set; an empty one enables none.
        TLS1_CipherReset();
        if (Text[0] != 0) WorkflowApp_AddCipher(Text);
    }
    for (const char *Key : {"tls1.versionMin", "tls1.versionMax"}) {
        char Version[32] = "";
        uint16 Number = 0;
        if (Dictionary_GetStringByPath(Config, Key, Version, (int32)sizeof(Version)) && Version[0] != 0 &&
            (Number = TLS1_VersionTranslate(Version)) != 0)
            Key[9] == 'i' ? TLS_VersionSetMin(Number) : TLS_VersionSetMax(Number);
    }
    ApplyCacheStores(Config);
    return TRUE;
}

int32 WorkflowApp_ApplyWebConfig(void) {
    if (State.Config == nullptr) return FALSE;
    ApplyPoolLimits(State.Config);
    ApplyCacheStores(State.Config);
    return TRUE;
}

int32 WorkflowApp_AddRegistry(uint32 ReadWrite, const char *Path) {
    Debug_CheckPointer(Path);
    char Expanded[1024];
    WorkflowApp_ExpandString(Path, Expanded, (int32)sizeof(Expanded));
    Registry_WhitelistAdd(ReadWrite ? 1 : 0, Expanded);
    return TRUE;
}

int32 WorkflowApp_LoadConfigFromFile(const char *Path) {
    Debug_CheckPointer(Path);
    char Expanded[PathSize];
    WorkflowApp_ExpandString(Path, Expanded, (int32)sizeof(Expanded));
    // Only a regular file is read; a FIFO named here must not hold the caller.
    const int Probe = Platform_OpenRegular(Expanded, O_RDONLY, 0);
    if (Probe < 0) return FALSE;
    close(Probe);
    Dictionary *Loaded = nullptr;
    JSON *Reader = nullptr;
    Dictionary_Create(&Loaded);
    JSON_Create(&Reader);
    JSON_SetDictionaryHandle(Reader, Loaded);
    int32 Parsed = JSON_LoadFile(Reader, Expanded);
    JSON_Release(&Reader);
    WorkflowApp_LoadConfigFromDictionary(Loaded);
    Dictionary_Release(&Loaded);
    return Parsed;
}

int32 WorkflowApp_ExpandDictionary(Dictionary *Target) {
    Debug_CheckPointer(Target);
    return String_ExpandDictionary(Target, nullptr, WorkflowApp_ExpandKey);
}

int32 WorkflowApp_AddMacro(const char *Name, const char *Value) {
    Debug_CheckPointer(Name);
    Debug_CheckPointer(Value);
    return WorkflowApp_AddMacroLength(Name, Value, (int32)strlen(Value));
}

int32 WorkflowApp_AddMacroLength(const char *Name, const char *Value, int32 Length) {
    Debug_CheckPointer(Name);
    Debug_CheckPointer(Value);
    return Workflow_StoreMacro(WorkflowApp_GetMacroDictionaryHandle(), Name, Value, Length);
}

int32 WorkflowApp_ExpandString(const char *Source, char *Target, int32 Size) {
    Debug_CheckPointer(Source);
    Debug_CheckPointer(Target);
    if (Source != Target) String_CopyLength(Target, Source, Size);
    return String_Expand(Target, Size, nullptr, WorkflowApp_ExpandKey);
}

int32 WorkflowApp_AddHostname(const char *List) {
    Debug_CheckPointer(List);
    MemoryScope<char> Expanded(ListSize);
    WorkflowApp_ExpandString(List, Expanded.Get(), ListSize);
    String_ForEachListMember(Expanded.Get(), [](std::string_view Member) {
        // The host, with any port, up to the first slash after the scheme.
        size_t Scheme = Member.find("://");
        if (Scheme != std::string_view::npos) Member.remove_prefix(Scheme + 3);
        Member = Member.substr(0, Member.find('/'));
        size_t Colon = Member.rfind(':');
        std::string Host(Colon == std::string_view::npos ? Member : Member.substr(0, Colon));
        if (!Host.empty()) WebGet_WhitelistAdd(Host.c_str());
    });
    return TRUE;
}

int32 WorkflowApp_AddCipher(const char *List) {
    Debug_CheckPointer(List);
    MemoryScope<char> Expanded(ListSize);
    WorkflowApp_ExpandString(List, Expanded.Get(), ListSize);
    String_ForEachListMember(Expanded.Get(), [](std::string_view Member) {
        std::string Name(Member.substr(0, MemberSize - 1));
        if (uint16 Id = TLS1_CipherTranslate(Name.c_str())) TLS1_CipherEnable(Id, TRUE);
    });
    return TRUE;
}

CertStoreTable *WorkflowApp_GetCertStoreTableHandle(void) { return State.Stores; }
CertStoreTable *WorkflowApp_GetKeyStoreTableHandle(void) { return State.KeyStores; }

int32 WorkflowApp_KeyStoreAdd(const char *Name, uint32 Replaceable, const char *Base64Key) {
    Debug_CheckPointer(Name);
    Debug_CheckPointer(Base64Key);
    if (State.KeyStores == nullptr) return FALSE;
    CertStoreKey *Store = nullptr;
    CertStoreKey_Create(&Store);
    const int32 Result = CertStoreKey_Decode(Store, Base64Key);
    if (Result) {
        CertStoreInterface *Interface = nullptr;
        CertStoreKey_GetInterfaceHandle(Store, &Interface);
        CertStoreTable_Add(State.KeyStores, Name, Replaceable, Interface);
        CertStoreInterface_Release(&Interface);
    }
    CertStoreKey_Release(&Store);
    return Result;
}

int32 WorkflowApp_CertStoreAdd(const char *Name, uint32 Replaceable, Dictionary *Thumbprints) {
    Debug_CheckPointer(Name);
    if (State.Stores == nullptr || Thumbprints == nullptr) return FALSE;
    CertStoreThumbprint *Store = nullptr;
    CertStoreThumbprint_Create(&Store);
    const int32 Result = CertStoreThumbprint_TrustDictionary(Store, Thumbprints);
    if (Result) {
        CertStoreInterface *Interface = nullptr;
        CertStoreThumbprint_GetInterfaceHandle(Store, &Interface);
        CertStoreTable_Add(State.Stores, Name, Replaceable, Interface);
        CertStoreInterface_Release(&Interface);
    }
    CertStoreThumbprint_Release(&Store);
    return Result;
}

int32 WorkflowApp_KeyStoreRemove(const char *Name) {
    return State.KeyStores != nullptr && CertStoreTable_Remove(State.KeyStores, Name);
}

int32 WorkflowApp_CertStoreRemove(const char *Name) {
    return State.Stores != nullptr && CertStoreTable_Remove(State.Stores, Name);
}

int32 WorkflowApp_SetSecurityEnabled(uint32 Flag) { return Authenticate_SetEnabled(Flag); }

int32 WorkflowApp_GetSecurityEnabled(uint32 *Flag) {
    Debug_CheckPointer(Flag);
    *Flag = Authenticate_Enabled() ? 1 : 0;
    return TRUE;
}

int32 WorkflowApp_AppSetCertStores(Dictionary *List) {
    if (State.App == nullptr || List == nullptr) return FALSE;
    CertStoreList_Reset(State.App);
    FillList(State.App, List);
    return TRUE;
}

int32 WorkflowApp_InteropSetCertStores(Dictionary *List) {
    if (State.Stores == nullptr) return FALSE;
    ReplaceList(&State.Interop, List);
    return TRUE;
}

int32 WorkflowApp_DataStoreSetCertStores(Dictionary *List) {
    if (State.Stores == nullptr) return FALSE;
    ReplaceList(&State.DataStore, List);
    return TRUE;
}

int32 WorkflowApp_WebGetSetCertStores(Dictionary *List) {
    if (State.Stores == nullptr) return FALSE;
    ReplaceList(&State.WebGet, List);
    return TRUE;
}

int32 WorkflowApp_GetCertStoreListHandle(const char *Which, CertStoreList **List) {
    Debug_CheckPointer(Which);
    Debug_CheckPointer(List);
    *List = String_CompareWithoutCase(Which, "app")         ? State.App
            : String_CompareWithoutCase(Which, "interop")   ? State.Interop
            : String_CompareWithoutCase(Which, "dataStore") ? State.DataStore
            : String_CompareWithoutCase(Which, "webGet")    ? State.WebGet
                                                            : nullptr;
    return *List != nullptr;
}
