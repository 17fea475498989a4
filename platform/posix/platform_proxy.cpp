// System proxy settings and the proxy resolver's hooks: see platform_proxy.h.
#include "platform/posix/platform_proxy.h"

#include <ctype.h>
#include <glob.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/debug.h"
#include "runtime/log.h"
#include "runtime/posix/platform_stand_in.h"
#include "runtime/posix/system_text.h"
#include "runtime/text/url.h"

namespace {

using namespace SystemText;

constexpr size_t FileLimit = 4 << 20;
constexpr size_t BypassItemSize = 320;

std::atomic<Platform_ProxyGetForURLFunc> GetForURLHook{nullptr};
std::atomic<Platform_ProxyResetFunc> ResetHook{nullptr};

bool ReadFile(const std::string &Path, std::string &Text) { return PlatformStandIn_ReadFile(Path, Text, FileLimit); }

// The proxy settings: the settings file, else the proxy variables.
std::map<std::string, std::string> ProxySettings() {
    const char *Config = getenv("XDG_CONFIG_HOME");
    const char *Home = getenv("HOME");
    std::string Default = Config != nullptr && Config[0] == '/' ? std::string(Config) + "/velmarsh/proxy.conf"
                          : Home != nullptr                     ? std::string(Home) + "/.config/velmarsh/proxy.conf"
                                                                : std::string();
    std::string Text;
    if (ReadFile(PlatformStandIn_Value("PROXY_SETTINGS", Default.c_str()), Text))
        return PlatformNetwork_ProxySettings(Text);
    std::map<std::string, std::string> Settings;
    auto FromVariable = [&](const char *Lower, const char *Upper, const std::string &Prefix) {
        const char *Value = getenv(Lower);
        if (Value == nullptr || Value[0] == 0) Value = getenv(Upper);
        if (Value == nullptr || Value[0] == 0) return;
        std::string Stripped(Value);
        URL_RemoveProtocol(Stripped.data());
        std::string_view Proxy(Stripped.c_str());
        Proxy = Proxy.substr(0, Proxy.find('/'));
        if (size_t At = Proxy.rfind('@'); At != std::string_view::npos) Proxy.remove_prefix(At + 1);
        const size_t Colon = Proxy.rfind(':');
        if (Colon != std::string_view::npos && Proxy.find(']', Colon) == std::string_view::npos) {
            Settings[Prefix + "Port"] = std::string(Proxy.substr(Colon + 1));
            Proxy = Proxy.substr(0, Colon);
        }
        Settings[Prefix + "Enable"] = "1";
        Settings[Prefix + "Proxy"] = std::string(Proxy);
    };
    FromVariable("http_proxy", "HTTP_PROXY", "HTTP");
    FromVariable("https_proxy", "HTTPS_PROXY", "HTTPS");
    const char *Bypass = getenv("no_proxy");
    if (Bypass == nullptr) Bypass = getenv("NO_PROXY");
    if (Bypass != nullptr) Settings["ExceptionsList"] = Bypass;
    return Settings;
}

std::string Setting(const std::map<std::string, std::string> &Settings, const char *Key) {
    auto Found = Settings.find(Key);
    return Found == Settings.end() ? std::string() : Found->second;
}

} // namespace

std::map<std::string, std::string> PlatformNetwork_ProxySettings(std::string_view Text) {
    std::map<std::string, std::string> Settings;
    Lines(Text, [&](std::string_view Line) {
        Line = Trim(Line);
        const size_t Equal = Line.find('=');
        if (Line.empty() || Line.front() == '#' || Equal == std::string_view::npos) return;
        Settings[std::string(Trim(Line.substr(0, Equal)))] = std::string(Trim(Line.substr(Equal + 1)));
    });
    return Settings;
}

std::string PlatformNetwork_LeaseWpadURL(std::string_view Text) {
    std::string Found;
    Lines(Text, [&](std::string_view Line) {
        std::vector<std::string_view> Parts = Fields(Line);
        if (Parts.size() < 3 || Parts[0] != "option" ||
            (Parts[1] != "wpad" && Parts[1] != "unknown-252" && Parts[1] != "auto-proxy-config"))
            return;
        std::string_view Value = Trim(Line.substr((size_t)(Parts[2].data() - Line.data())));
        if (!Value.empty() && Value.back() == ';') Value.remove_suffix(1);
        std::string Decoded;
        if (Value.size() >= 2 && Value.front() == '"' && Value.back() == '"') {
            Value = Value.substr(1, Value.size() - 2);
            for (size_t Index = 0; Index < Value.size(); Index++) {
                if (Value[Index] == '\\' && Index + 1 < Value.size()) Index++;
                Decoded += Value[Index];
            }
        } else { // colon-separated hex bytes
            for (size_t At = 0; At < Value.size();) {
                const size_t End = std::min(Value.find(':', At), Value.size());
                uint64 Byte = 0;
                if (!ParseHex(Value.substr(At, End - At), Byte) || Byte > 255) return;
                Decoded += (char)Byte;
                At = End + 1;
            }
        }
        while (!Decoded.empty() && Decoded.back() == 0) Decoded.pop_back(); // a terminator sent along
        if (!Decoded.empty()) Found = Decoded;
    });
    return Found;
}

extern "C" int32 Platform_ProxyGetByProtocol(const char *Protocol, char *Buffer, int32 Length) {
    Debug_CheckPointer(Protocol);
    Debug_CheckPointer(Buffer);
    if (Length > 0) Buffer[0] = 0;
    const char *Prefix = strcasecmp(Protocol, "http") == 0 ? "HTTP" : strcasecmp(Protocol, "https") == 0 ? "HTTPS" : nullptr;
    if (Prefix == nullptr) return 0;
    const std::map<std::string, std::string> Settings = ProxySettings();
    std::string Host = Setting(Settings, (std::string(Prefix) + "Proxy").c_str());
    if (Setting(Settings, (std::string(Prefix) + "Enable").c_str()) != "1" || Host.empty()) return 0;
    URL_RemoveProtocol(Host.data());
    Host.resize(strlen(Host.c_str()));
    const int Port = atoi(Setting(Settings, (std::string(Prefix) + "Port").c_str()).c_str());
    if (Port > 0) Host += ":" + std::to_string(Port);
    return Copy(Host, Buffer, Length);
}

extern "C" int32 Platform_ProxyGetBypass(char *Buffer, int32 Length) {
    Debug_CheckPointer(Buffer);
    if (Length > 0) Buffer[0] = 0;
    const std::map<std::string, std::string> Settings = ProxySettings();
    if (Settings.find("ExceptionsList") == Settings.end()) return 0;
    std::string Joined;
    std::string_view List = Settings.at("ExceptionsList");
    while (!List.empty()) {
        const size_t Comma = List.find(',');
        std::string_view Item = Trim(List.substr(0, Comma));
        if (!Item.empty()) Joined.append(Item.substr(0, BypassItemSize - 1)).append(";");
        if (Comma == std::string_view::npos) break;
        List.remove_prefix(Comma + 1);
    }
    if (!Joined.empty()) Joined.pop_back();
    Copy(Joined, Buffer, Length);
    return 1;
}

extern "C" int32 Platform_ProxyGetWpadURL(char *Buffer, int32 Length) {
    Debug_CheckPointer(Buffer);
    if (Length > 0) Buffer[0] = 0;
    const std::map<std::string, std::string> Settings = ProxySettings();
    const std::string URL = Setting(Settings, "ProxyAutoConfigURLString");
    if (Setting(Settings, "ProxyAutoConfigEnable") != "1" || URL.empty()) return 0;
    Log_Debug("Internet proxy is currently auto configured [%s]\n", URL.c_str());
    return Copy(URL, Buffer, Length);
}

extern "C" int32 Platform_ProxyGetAutoDetect(int32 *Out) {
    Debug_CheckPointer(Out);
    *Out = Setting(ProxySettings(), "ProxyAutoDiscoveryEnable") == "1";
    return 1;
}

extern "C" int32 Platform_ProxyGetWpadURLFromDHCP(void *Ignored, char *Buffer, int32 Length) {
    (void)Ignored;
    Debug_CheckPointer(Buffer);
    if (Length > 0) Buffer[0] = 0;
    std::vector<std::string> Files;
    const std::string Steered = PlatformStandIn_Value("DHCP_LEASES", "");
    if (!Steered.empty()) Files.push_back(Steered);
    else {
        glob_t Found{};
        if (glob("/var/lib/dhcp/dhclient*.leases", 0, nullptr, &Found) == 0)
            for (size_t Index = 0; Index < Found.gl_pathc; Index++) Files.push_back(Found.gl_pathv[Index]);
        globfree(&Found);
    }
    for (const std::string &File : Files) {
        std::string Text;
        if (!ReadFile(File, Text)) continue;
        const std::string URL = PlatformNetwork_LeaseWpadURL(Text);
        if (!URL.empty()) return Copy(URL, Buffer, Length);
    }
    return 0;
}

extern "C" int32 Platform_ProxyGetForURLOverride(Platform_ProxyGetForURLFunc Function) {
    GetForURLHook = Function;
    return 1;
}

extern "C" int32 Platform_ProxyResetOverride(Platform_ProxyResetFunc Function) {
    ResetHook = Function;
    return 1;
}

extern "C" int32 Platform_ProxyGetForURL(const char *URL, char *Buffer, int32 Length, int32 Selector,
                                         int32 *OutFound) {
    Debug_CheckPointer(OutFound);
    *OutFound = 0;
    Platform_ProxyGetForURLFunc Hook = GetForURLHook.load();
    if (Hook == nullptr) return 1;
    return Hook(URL, Buffer, Length, Selector, OutFound);
}

extern "C" int32 Platform_ProxyReset(void) {
    if (Platform_ProxyResetFunc Hook = ResetHook.load()) Hook();
    return 1;
}
