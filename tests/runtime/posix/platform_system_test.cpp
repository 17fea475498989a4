// System facts against Python (platform, os, pwd) and the system files, and
// against stand-in /proc, /sys, udev and os-release trees made by the tests;
// the "unknown" answers of facts this machine cannot tell.
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "runtime/posix/platform.h"
#include "runtime/text/string_expand.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

using TextQuery = int32 (*)(char *, int32);

class SystemFactsTest : public RuntimeTest {
  protected:
    void TearDown() override {
        for (const char *Key : {"PROC_ROOT", "SYS_ROOT", "UDEV_ROOT", "OS_RELEASE", "LOCALE_CONF", "THEME"})
            PlatformStandIn_Set(Key, nullptr);
        RuntimeTest::TearDown();
    }
    // "<result>:<text>" of a text query.
    static std::string Ask(TextQuery Query) {
        char Buffer[512] = "junk";
        const int32 Result = Query(Buffer, sizeof(Buffer));
        return std::to_string(Result) + ":" + Buffer;
    }
    void Write(const std::string &Path, const std::string &Text) {
        std::filesystem::create_directories(std::filesystem::path(Path).parent_path());
        std::ofstream(Path) << Text;
    }
    TempDirectory Temp;
};

TEST_F(SystemFactsTest, FactsMatchPython) {
    const std::string Expected = RunPython(R"(
import os, platform, pwd
release = platform.freedesktop_os_release()
print('1:' + release.get('NAME', ''))
print('1:' + release.get('VERSION_ID', ''))
print(64 if platform.machine().lower() == 'x86_64' else 32)
print(os.sysconf('SC_PHYS_PAGES') * os.sysconf('SC_PAGE_SIZE'))
print(os.sysconf('SC_PAGE_SIZE'))
print(os.cpu_count())
print('1:' + pwd.getpwuid(os.geteuid()).pw_name)
)");
    int32 Bitness = 0, PageSize = 0, Count = 0;
    int64 Memory = 0;
    EXPECT_EQ(Platform_GetSystemBitness(&Bitness), 1);
    EXPECT_EQ(Platform_GetSystemMemory(&Memory), 1);
    EXPECT_EQ(Platform_GetPageSize(&PageSize), 1);
    EXPECT_EQ(Platform_GetCPUCount(&Count), 1);
    EXPECT_EQ(Ask(Platform_GetName) + "\n" + Ask(Platform_GetVersion) + "\n" + std::to_string(Bitness) + "\n" +
                  std::to_string(Memory) + "\n" + std::to_string(PageSize) + "\n" + std::to_string(Count) + "\n" +
                  Ask(Platform_GetUserName) + "\n",
              Expected);
    EXPECT_EQ(Ask(Platform_GetShortName), "1:mac");
}

TEST_F(SystemFactsTest, ProcessorFromCpuInfoAndCpuFreq) {
    const std::string Expected = RunPython(R"(
import re
text = open('/proc/cpuinfo').read()
m = re.search(r'^model name\s*:\s?(.*)$', text, re.M)
print('1:' + (m.group(1).strip() if m else ''))
)");
    EXPECT_EQ(Ask(Platform_GetCPUDescription) + "\n", Expected);

    PlatformStandIn_Set("PROC_ROOT", (Temp / "proc").c_str());
    PlatformStandIn_Set("SYS_ROOT", (Temp / "sys").c_str());
    const struct {
        const char *Brand, *Vendor;
    } Brands[] = {{"Intel(R) Xeon(R) CPU @ 2.60GHz", "1:Intel"},
                  {"AMD EPYC 7B12", "1:AMD"},
                  {"Genuine", "0:"},
                  {"", "0:"}};
    for (const auto &Case : Brands) {
        Write(Temp / "proc/cpuinfo", std::string("processor\t: 0\nmodel name\t: ") + Case.Brand + "\ncpu MHz\t\t: 1999.9\n");
        EXPECT_EQ(Ask(Platform_GetCPUVendor), Case.Vendor) << Case.Brand;
        EXPECT_EQ(Ask(Platform_GetCPUDescription), std::string("1:") + Case.Brand);
        // The macros answer from the same facts.
        char Macro[STRING_EXPAND_RESULT_SIZE];
        String_ExpandPlatform("CPUVendor", nullptr, Macro);
        EXPECT_EQ("1:" + std::string(Macro), std::string(Case.Vendor).size() > 2 ? Case.Vendor : "1:");
    }
    int32 Speed = -1;
    EXPECT_EQ(Platform_GetCPUSpeed(&Speed), 1);
    EXPECT_EQ(Speed, 1999); // from cpuinfo without cpufreq
    Write(Temp / "sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq", "3400000\n");
    Platform_GetCPUSpeed(&Speed);
    EXPECT_EQ(Speed, 3400);
    Write(Temp / "sys/devices/system/cpu/cpu0/cpufreq/base_frequency", "2100000\n");
    Platform_GetCPUSpeed(&Speed);
    EXPECT_EQ(Speed, 2100);
    Write(Temp / "proc/cpuinfo", "processor : 0\n");
    std::filesystem::remove_all(Temp / "sys");
    Platform_GetCPUSpeed(&Speed);
    EXPECT_EQ(Speed, 0);
}

TEST_F(SystemFactsTest, DisplayAdaptersFromPciDevices) {
    PlatformStandIn_Set("SYS_ROOT", (Temp / "sys").c_str());
    char Type[64];
    int64 Bytes = 0;
    EXPECT_EQ(Platform_GetVideoCardType(0, Type, sizeof(Type)), 0); // none on this machine
    const std::string Devices = Temp / "sys/bus/pci/devices/";
    Write(Devices + "0000:00:01.0/class", "0x020000\n"); // a network card
    Write(Devices + "0000:00:02.0/class", "0x030000\n");
    Write(Devices + "0000:00:02.0/vendor", "0x8086\n");
    Write(Devices + "0000:00:02.0/device", "0x1912\n");
    Write(Devices + "0000:00:02.0/resource", "0x00000000f0000000 0x00000000f0ffffff 0x0000000000040200\n"
                                             "0x0000000000000000 0x0000000000000000 0x0000000000000000\n"
                                             "0x000000000000f000 0x000000000000f03f 0x0000000000040101\n");
    Write(Devices + "0000:03:00.0/class", "0x030200\n");
    Write(Devices + "0000:03:00.0/vendor", "0x10de\n");
    Write(Devices + "0000:03:00.0/device", "0x1eb8\n");
    Write(Devices + "0000:03:00.0/resource", "0x00000000e0000000 0x00000000efffffff 0x000000000014220c\n");
    EXPECT_EQ(Platform_GetVideoCardType(0, Type, sizeof(Type)), 1);
    EXPECT_STREQ(Type, "8086:1912");
    EXPECT_EQ(Platform_GetVideoCardType(1, Type, sizeof(Type)), 1);
    EXPECT_STREQ(Type, "10de:1eb8");
    EXPECT_EQ(Platform_GetVideoCardType(2, Type, sizeof(Type)), 0);
    EXPECT_EQ(Platform_GetVideoCardMemory(0, &Bytes), 1);
    EXPECT_EQ(Bytes, 16 << 20);
    EXPECT_EQ(Platform_GetVideoCardMemory(1, &Bytes), 1); // the I/O range is not memory
    EXPECT_EQ(Bytes, 256 << 20);
    EXPECT_EQ(Platform_GetVideoCardMemory(2, &Bytes), 0);
}

TEST_F(SystemFactsTest, UnknownFactsAnswerTheUnknownValues) {
    EXPECT_EQ(Ask(Platform_GetOpenGLVersion), "0:");
    EXPECT_EQ(Ask(Platform_GetDirectXVersion), "0:");
    char Name[64] = "junk";
    EXPECT_EQ(Platform_GetAntiVirus(0, Name, sizeof(Name)), 0);
    EXPECT_STREQ(Name, "");
    int32 Count = 7;
    EXPECT_EQ(Platform_GetAntiVirusCount(&Count), 1);
    EXPECT_EQ(Count, 0);
    uint32 Flags = 0;
    EXPECT_EQ(Platform_GetDebugFlagsFromKey(&Flags), 0);
    EXPECT_EQ(Flags, 0u);
}

TEST_F(SystemFactsTest, ThemeAndOsRelease) {
    EXPECT_EQ(Ask(Platform_GetSystemTheme), "1:light");
    PlatformStandIn_Set("THEME", "Dark");
    EXPECT_EQ(Ask(Platform_GetSystemTheme), "1:dark");
    const std::string Release = Temp / "os-release";
    Write(Release, "# comment\nNAME=\"Debian \\\"GNU\\\"/Linux\"\nVERSION_ID='12'\nID=debian\n");
    PlatformStandIn_Set("OS_RELEASE", Release.c_str());
    const std::string Expected = RunPython("import platform\nprint('1:' + platform._parse_os_release(open('" + Release +
                                           "'))['NAME'])");
    EXPECT_EQ(Ask(Platform_GetName) + "\n", Expected);
    PlatformStandIn_Set("OS_RELEASE", (Temp / "missing").c_str());
    EXPECT_EQ(Ask(Platform_GetName), "0:");
}

TEST_F(SystemFactsTest, LanguageAndCountryOfTheLocale) {
    Write(Temp / "locale.conf", "LANG=de_CH.UTF-8\n");
    PlatformStandIn_Set("LOCALE_CONF", (Temp / "locale.conf").c_str());
    ScopedEnv All("LC_ALL", nullptr), Messages("LC_MESSAGES", nullptr);
    const struct {
        const char *Lang, *Locale, *Language, *Country;
    } Cases[] = {{"fr_FR.UTF-8", "1:fr_FR", "1:fr", "1:FR"}, {"pt_BR@x", "1:pt_BR", "1:pt", "1:BR"},
                 {"fr", "1:fr", "1:de", "1:CH"},             {"C.UTF-8", "0:", "1:de", "1:CH"},
                 {"POSIX", "0:", "1:de", "1:CH"},            {"", "0:", "1:de", "1:CH"}};
    for (const auto &Case : Cases) {
        ScopedEnv Lang("LANG", Case.Lang[0] ? Case.Lang : nullptr);
        EXPECT_EQ(Ask(Platform_GetUserLocale), Case.Locale) << Case.Lang;
        EXPECT_EQ(Ask(Platform_GetUserLang), Case.Language) << Case.Lang;
        EXPECT_EQ(Ask(Platform_GetUserCountry), Case.Country) << Case.Lang;
    }
    ScopedEnv Lang("LANG", "fr_FR.UTF-8");
    {
        ScopedEnv Override("LC_MESSAGES", "es_MX.UTF-8");
        EXPECT_EQ(Ask(Platform_GetUserLocale), "1:es_MX");
    }
    PlatformStandIn_Set("LOCALE_CONF", (Temp / "missing").c_str());
    ScopedEnv Bare("LANG", "C");
    EXPECT_EQ(Ask(Platform_GetUserLang) + " " + Ask(Platform_GetUserCountry), "1:en 1:US");
}

TEST_F(SystemFactsTest, DiskSerialAndDiskImageOfAPath) {
    struct stat Status;
    ASSERT_EQ(stat(Temp.Path.c_str(), &Status), 0);
    const std::string Device = std::to_string(major(Status.st_dev)) + ":" + std::to_string(minor(Status.st_dev));
    PlatformStandIn_Set("SYS_ROOT", (Temp / "sys").c_str());
    PlatformStandIn_Set("UDEV_ROOT", (Temp / "udev").c_str());
    char Text[256] = "junk";
    EXPECT_EQ(Platform_GetDiskSerialFromPath(Temp.Path.c_str(), Text, sizeof(Text)), 0); // no such block device
    std::filesystem::create_directories(Temp / ("sys/dev/block/" + Device));
    EXPECT_EQ(Platform_GetDiskSerialFromPath(Temp.Path.c_str(), Text, sizeof(Text)), 1); // a disk without serial
    EXPECT_STREQ(Text, "");
    EXPECT_EQ(Platform_GetDiskImageFromPath(Temp.Path.c_str(), Text, sizeof(Text)), 0);
    Write(Temp / ("sys/dev/block/" + Device + "/serial"), "SYSSERIAL\n");
    EXPECT_EQ(Platform_GetDiskSerialFromPath(Temp.Path.c_str(), Text, sizeof(Text)), 1);
    EXPECT_STREQ(Text, "SYSSERIAL");
    Write(Temp / ("udev/data/b" + Device), "S:disk/by-id/x\nE:ID_SERIAL=Maker_Model_ABC123\nE:ID_SERIAL_SHORT=ABC123\n");
    EXPECT_EQ(Platform_GetDiskSerialFromPath(Temp.Path.c_str(), Text, sizeof(Text)), 1);
    EXPECT_STREQ(Text, "ABC123");
    Write(Temp / ("sys/dev/block/" + Device + "/loop/backing_file"), "/images/disk one.img\n");
    EXPECT_EQ(Platform_GetDiskImageFromPath(Temp.Path.c_str(), Text, sizeof(Text)), 1);
    EXPECT_STREQ(Text, "/images/disk one.img");
    EXPECT_EQ(Platform_GetDiskSerialFromPath("/no/such/path", Text, sizeof(Text)), 0);
    // The real /sys: a tmpfs lies on no disk.
    PlatformStandIn_Set("SYS_ROOT", nullptr);
    PlatformStandIn_Set("UDEV_ROOT", nullptr);
    EXPECT_EQ(Platform_GetDiskSerialFromPath("/dev/shm", Text, sizeof(Text)), 0);
    EXPECT_EQ(Platform_GetDiskImageFromPath("/dev/shm", Text, sizeof(Text)), 0);
    EXPECT_EQ(Platform_GetDiskImageFromPath("/no/such/path", Text, sizeof(Text)), 0);
}

TEST(SystemFactParsers, OsReleaseAndCpuInfo) {
    EXPECT_EQ(PlatformSystem_OsReleaseValue("A=1\nNAME=\"x \\\" y\"\n", "NAME"), "x \" y");
    EXPECT_EQ(PlatformSystem_OsReleaseValue("NAME='a\\b'\n", "NAME"), "a\\b");
    EXPECT_EQ(PlatformSystem_OsReleaseValue("NAMES=1\nNAME=\"\n", "NAME"), "\"");
    EXPECT_EQ(PlatformSystem_OsReleaseValue("NAME", "NAME"), "");
    std::string Value;
    EXPECT_TRUE(PlatformSystem_CpuInfoValue("model name\t: x y \n", "model name", Value));
    EXPECT_EQ(Value, "x y");
    EXPECT_FALSE(PlatformSystem_CpuInfoValue("model\t: x\n", "model name", Value));
    EXPECT_EQ(PlatformSystem_LocaleOf("en_GB.ISO-8859-1@euro"), "en_GB");
}

} // namespace
