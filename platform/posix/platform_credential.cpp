// Credentials in the owner-only credential file: generic items by service,
// web items by protocol, host, port and security domain.
#include <string.h>

#include <charconv>
#include <string>

#include "platform/posix/platform_credential.h"
#include "platform/posix/preference_store.h"
#include "runtime/debug.h"
#include "runtime/log.h"
#include "runtime/text/string.h"

namespace {

constexpr const char *Protocols[] = {nullptr, nullptr, "http", "htps", "htpx", "htsx"};
constexpr size_t MaximumServerLength = 120;

struct Server {
    std::string Host;
    int64 Port = 80;
};

bool ParseServer(const char *Text, Server &Out) {
    if (Text == nullptr || strlen(Text) > MaximumServerLength) return false;
    std::string_view View(Text);
    size_t Colon = View.rfind(':');
    Out.Host = std::string(View.substr(0, Colon));
    Out.Port = 80;
    if (Colon != std::string_view::npos) {
        std::string_view Port = View.substr(Colon + 1);
        auto [End, Status] = std::from_chars(Port.data(), Port.data() + Port.size(), Out.Port);
        if (Status != std::errc() || End != Port.data() + Port.size() || Out.Port < 0 || Out.Port > 65535)
            return false;
    }
    return !Out.Host.empty() && PreferenceText_IsValid(Out.Host);
}

bool Storable(const char *Text) { return Text == nullptr || PreferenceText_IsValid(Text); }

PreferenceValue &List(PreferenceValue &Root, const char *Name) {
    PreferenceValue *Found = Root.Find(Name);
    if (Found == nullptr || Found->Type != PreferenceValue::Kind::Array) {
        PreferenceValue Empty;
        Empty.Type = PreferenceValue::Kind::Array;
        Found = &Root.Set(Name, std::move(Empty));
    }
    return *Found;
}

std::string TextOf(const PreferenceValue &Item, const char *Name) {
    const PreferenceValue *Value = Item.Find(Name);
    return Value != nullptr && (Value->Type == PreferenceValue::Kind::String ||
                                Value->Type == PreferenceValue::Kind::Data)
               ? Value->Text
               : std::string();
}

bool MatchesWeb(const PreferenceValue &Item, const char *Protocol, const Server &Where, const char *Domain) {
    const PreferenceValue *Port = Item.Find("port");
    return TextOf(Item, "protocol") == Protocol &&
           String_CompareWithoutCase(TextOf(Item, "server").c_str(), Where.Host.c_str()) &&
           Port != nullptr && Port->Type == PreferenceValue::Kind::Integer && Port->Number == Where.Port &&
           (Domain == nullptr || TextOf(Item, "securityDomain") == Domain);
}

// Copies the account and the password of an item, both always terminated.
void CopyOut(const PreferenceValue &Item, char *User, int32 UserLength, char *Password, int32 PasswordLength) {
    String_CopyLength(User, TextOf(Item, "account").c_str(), UserLength);
    std::string Secret = TextOf(Item, "secret");
    size_t Count = Secret.size() < (size_t)PasswordLength - 1 ? Secret.size() : (size_t)PasswordLength - 1;
    memcpy(Password, Secret.data(), Count);
    Password[Count] = 0;
}

bool LoadCredentials(PreferenceValue &Root) {
    return PreferenceStore_Load(PreferenceStore_CredentialPath(), Root, true) == PreferenceLoad::Loaded;
}

int32 SetWebOne(int32 Type, const Server &Where, const char *Domain, const char *User, const char *Password) {
    const char *Protocol = Protocols[Type];
    return PreferenceStore_Update(PreferenceStore_CredentialPath(), true, [&](PreferenceValue &Root) {
        std::vector<PreferenceValue> &Items = List(Root, "internet").Items;
        bool Changed = false;
        for (auto At = Items.begin(); At != Items.end();) {
            if (!MatchesWeb(*At, Protocol, Where, Domain)) {
                ++At;
                continue;
            }
            At = Items.erase(At);
            Changed = true;
            if (User == nullptr || Password == nullptr) return true; // only the first match goes
        }
        if (User == nullptr || Password == nullptr) return Changed;
        PreferenceValue Item;
        Item.Set("protocol", PreferenceValue::MakeString(Protocol));
        Item.Set("server", PreferenceValue::MakeString(Where.Host));
        Item.Set("port", PreferenceValue::MakeInteger(Where.Port));
        Item.Set("securityDomain", PreferenceValue::MakeString(Domain != nullptr ? Domain : ""));
        Item.Set("account", PreferenceValue::MakeString(User));
        Item.Set("secret", PreferenceValue::MakeData(Password));
        Items.push_back(std::move(Item));
        return true;
    }) ? TRUE : FALSE;
}

// The protocols a type stands for: two for types 0 and 1.
bool ProtocolsOf(int32 Type, int32 &First, int32 &Second, const char *Operation) {
    if (Type < 0 || Type > 5) {
        Log_Error("%s: Invalid Type parameter (%d)\n", Operation, Type);
        return false;
    }
    First = Second = Type;
    if (Type == PLATFORM_WEBCREDENTIAL_HTTPANDHTTPS) First = 2, Second = 3;
    if (Type == PLATFORM_WEBCREDENTIAL_PROXIES) First = 4, Second = 5;
    return true;
}

} // namespace

extern "C" int32 Platform_SetCredential(const char *Service, const char *User, const char *Password) {
    Debug_CheckPointer(Service);
    if ((User == nullptr) != (Password == nullptr)) {
        Debug_CheckPointer(User);
        Debug_CheckPointer(Password);
    }
    if (!Storable(Service) || !Storable(User)) return FALSE;
    bool Remove = User == nullptr;
    return PreferenceStore_Update(PreferenceStore_CredentialPath(), true, [&](PreferenceValue &Root) {
        std::vector<PreferenceValue> &Items = List(Root, "generic").Items;
        for (auto At = Items.begin(); At != Items.end(); ++At) {
            if (TextOf(*At, "service") != Service) continue;
            if (Remove) {
                Items.erase(At);
            } else {
                At->Set("account", PreferenceValue::MakeString(User));
                At->Set("secret", PreferenceValue::MakeData(Password));
            }
            return true;
        }
        if (Remove) return false;
        PreferenceValue Item;
        Item.Set("service", PreferenceValue::MakeString(Service));
        Item.Set("account", PreferenceValue::MakeString(User));
        Item.Set("secret", PreferenceValue::MakeData(Password));
        Items.push_back(std::move(Item));
        return true;
    }) ? TRUE : FALSE;
}

extern "C" int32 Platform_GetCredential(const char *Service, char *User, int32 UserLength, char *Password,
                                       int32 PasswordLength) {
    Debug_CheckPointer(Service);
    if (UserLength < 1 || PasswordLength < 1 || User == nullptr || Password == nullptr) return FALSE;
    PreferenceValue Root;
    if (!LoadCredentials(Root)) return FALSE;
    for (const PreferenceValue &Item : List(Root, "generic").Items) {
        if (TextOf(Item, "service") != Service) continue;
        CopyOut(Item, User, UserLength, Password, PasswordLength);
        return TRUE;
    }
    return FALSE;
}

extern "C" int32 Platform_SetWebCredential(int32 Type, const char *Server, const char *SecurityDomain,
                                          const char *User, const char *Password) {
    int32 First, Second;
    if (!ProtocolsOf(Type, First, Second, "Platform_SetWebCredential")) return FALSE;
    struct Server Where;
    if (!ParseServer(Server, Where) || !Storable(SecurityDomain) || !Storable(User)) return FALSE;
    int32 Result = SetWebOne(First, Where, SecurityDomain, User, Password);
    if (Second != First) Result = SetWebOne(Second, Where, SecurityDomain, User, Password) || Result;
    return Result;
}

extern "C" int32 Platform_GetWebCredential(int32 Type, const char *Server, const char *SecurityDomain, char *User,
                                          int32 UserLength, char *Password, int32 PasswordLength) {
    int32 First, Second;
    if (!ProtocolsOf(Type, First, Second, "Platform_GetWebCredential")) return FALSE;
    if (UserLength < 1 || PasswordLength < 1 || User == nullptr || Password == nullptr) return FALSE;
    struct Server Where;
    PreferenceValue Root;
    if (!ParseServer(Server, Where) || !LoadCredentials(Root)) return FALSE;
    // Types 0 and 1 search their first protocol only (HTTP, HTTP proxy).
    for (const PreferenceValue &Item : List(Root, "internet").Items) {
        if (!MatchesWeb(Item, Protocols[First], Where, SecurityDomain)) continue;
        CopyOut(Item, User, UserLength, Password, PasswordLength);
        return TRUE;
    }
    return FALSE;
}
