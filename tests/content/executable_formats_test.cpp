// The executable-format readers on samples built by real tool chains
// (tests/fixtures/executables/make_samples.py): PE version values equal
// python3-pefile's, the Authenticode image digest equals what osslsigncode
// computes, Mach-O page hashes of ld64.lld's ad-hoc signature pass and a
// flipped byte fails them, ELF files of both widths and byte orders give
// their ".version.json" values (checked by pyelftools), and a package's
// signature and checksums verify only against a store trusting its root.
// Then every sample is mutated (bit flips, truncations, size words 0,
// 0x7FFFFFFF, 0xFFFFFFFF) and run through every reader.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>

#include "content/app_bundle.h"
#include "content/dmg_file.h"
#include "content/elf_file.h"
#include "content/executable.h"
#include "content/macho_file.h"
#include "content/pe_file.h"
#include "content/pkg_file.h"
#include "crypto/digests/sha1.h"
#include "crypto/digests/sha256.h"
#include "crypto/trust/cert_store_thumbprint.h"
#include "crypto/trust/x509.h"
#include "runtime/documents/json.h"
#include "runtime/posix/platform_file.h"
#include "runtime/streams/memory_stream.h"
#include "runtime/text/string_expand.h"
#include "tests/support/requirement.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"
#include "tests/support/temp_root.h"

namespace {

using Values = std::map<std::string, std::string>;

// Samples and what the references read from them, built once per program.
struct Samples {
    ~Samples() {
        if (!Folder.empty()) std::filesystem::remove_all(Folder);
    }
    std::string Folder, Missing;
    std::map<std::string, Values> Pe, Elf, PeHead, ElfHead;
    std::map<std::string, std::string> Signed;
    bool Macho = false, Pkg = false;
};

Values Members(Dictionary *Node) {
    Values Out;
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(Node, &Item); Item; Dictionary_ItemGetNext(Node, Item, &Item)) {
        const char *Key = nullptr, *Text = nullptr;
        Dictionary_ItemGetKeyPtr(Node, Item, &Key);
        if (Dictionary_ItemGetStringPtr(Node, Item, &Text) && Key && Text) Out[Key] = Text;
    }
    return Out;
}

std::map<std::string, Values> Nested(Dictionary *Root, const char *Key) {
    std::map<std::string, Values> Out;
    Dictionary *Node = nullptr;
    if (!Dictionary_GetDictionaryByKey(Root, Key, &Node)) return Out;
    DictionaryItem *Item = nullptr;
    for (Dictionary_ItemGetFirst(Node, &Item); Item; Dictionary_ItemGetNext(Node, Item, &Item)) {
        const char *Name = nullptr;
        Dictionary *Child = nullptr;
        Dictionary_ItemGetKeyPtr(Node, Item, &Name);
        if (Name && Dictionary_ItemGetDictionaryHandle(Node, Item, &Child)) Out[Name] = Members(Child);
    }
    return Out;
}

const Samples &Built() {
    static Samples Made = [] {
        Samples Out;
        if (access("/usr/bin/python3", X_OK) != 0) {
            Out.Missing = "python3";
            return Out;
        }
        std::string Folder = TempRoot() + "/executable_samples_XXXXXX";
        Out.Folder = mkdtemp(Folder.data());
        const std::string Command = "/usr/bin/python3 " RUNTIME_SOURCE_DIR "/tests/fixtures/executables/make_samples.py " +
                                    Out.Folder + " > " + Out.Folder + "/report.json";
        if (system(Command.c_str()) != 0) {
            Out.Missing = "make_samples.py failed";
            return Out;
        }
        const std::string Text = ReadFile(Out.Folder + "/report.json");
        RuntimeScope Scope;
        Dictionary *Root = nullptr;
        JSON *Parser = nullptr;
        Dictionary_Create(&Root);
        JSON_Create(&Parser);
        JSON_SetDictionaryHandle(Parser, Root);
        JSON_LoadBuffer(Parser, Text.data(), (int32)Text.size());
        DictionaryItem *Top = nullptr;
        Dictionary *Document = Root;
        Dictionary_ItemGetFirst(Document, &Top);
        Dictionary_ItemGetDictionaryHandle(Document, Top, &Root);
        Out.Pe = Nested(Root, "pe");
        Out.Elf = Nested(Root, "elf");
        Out.PeHead = Nested(Root, "pehead");
        Out.ElfHead = Nested(Root, "elfhead");
        Dictionary *Node = nullptr;
        if (Dictionary_GetDictionaryByKey(Root, "signed", &Node)) Out.Signed = Members(Node);
        const char *Missing = nullptr;
        Dictionary *Tools = nullptr;
        if (Dictionary_GetDictionaryByKey(Root, "missing", &Tools)) {
            DictionaryItem *Item = nullptr;
            for (Dictionary_ItemGetFirst(Tools, &Item); Item; Dictionary_ItemGetNext(Tools, Item, &Item))
                if (Dictionary_ItemGetStringPtr(Tools, Item, &Missing) && Missing) Out.Missing += std::string(Missing) + " ";
        }
        JSON_Delete(&Parser);
        Dictionary_Release(&Document);
        Out.Macho = access((Out.Folder + "/macho-fat").c_str(), R_OK) == 0;
        Out.Pkg = access((Out.Folder + "/signed.pkg").c_str(), R_OK) == 0;
        return Out;
    }();
    return Made;
}

class ExecutableFormats : public RuntimeTest {
  protected:
    void SetUp() override {
        Built();
        RuntimeTest::SetUp();
        SKIP_UNLESS(Built().Missing.empty(), "sample tools missing: " << Built().Missing);
    }
    std::string At(const std::string &Name) { return Built().Folder + "/" + Name; }
};

std::string Digest(const HashInterface &Interface, const std::string &File) {
    Hash *Sum = nullptr;
    Hash_Create(&Sum);
    Hash_SetInterface(Sum, &Interface);
    ExecutableFile Opened(File.c_str());
    const bool Fed = PeFile_HashImage(Opened.Source(), [&](const void *Bytes, size_t Count) {
        uint32 Done;
        return Hash_Process(Sum, Bytes, (uint32)Count, &Done) != 0;
    });
    char Text[2 * HASH_MAX_DIGEST_SIZE + 1] = "";
    if (Fed) {
        Hash_Generate(Sum);
        Hash_GetString(Sum, HASH_STRING_PLAIN, Text, sizeof(Text));
    }
    Hash_Delete(&Sum);
    return Text;
}

TEST_F(ExecutableFormats, PeVersionValuesEqualPefile) {
    ASSERT_EQ(Built().Pe.size(), 2u);
    for (const auto &[Name, Expected] : Built().Pe) {
        const std::string File = At(Name);
        EXPECT_EQ(PEFile_IsValid(File.c_str()), 1) << Name;
        EXPECT_EQ(Executable_IsValid(File.c_str()), 1) << Name;
        EXPECT_EQ(PEFile_HasCertificate(File.c_str()), 0) << Name;
        for (const auto &[Key, Value] : Expected) {
            char Out[256];
            EXPECT_EQ(Executable_GetInfoValue(File.c_str(), Key.c_str(), Out, sizeof(Out)), 1) << Name << " " << Key;
            EXPECT_EQ(Out, Value) << Name << " " << Key;
            // The per-format lookup is without case.
            std::string Lower = Key;
            for (char &Letter : Lower) Letter = (char)tolower((unsigned char)Letter);
            EXPECT_EQ(PEFile_GetInfoValue(File.c_str(), Lower.c_str(), Out, sizeof(Out)), 1) << Lower;
            EXPECT_EQ(Out, Value) << Name << " " << Lower;
        }
    }
}

TEST_F(ExecutableFormats, AuthenticodeDigestEqualsOsslsigncode) {
    ASSERT_EQ(Built().Signed.size(), 2u);
    for (const auto &[Name, Expected] : Built().Signed) {
        ASSERT_FALSE(Expected.empty()) << "osslsigncode printed no digest for " << Name;
        const HashInterface &Interface = Expected.size() == 64 ? SHA256_INTERFACE : SHA1_INTERFACE;
        EXPECT_EQ(Digest(Interface, At(Name)), Expected) << Name;
        EXPECT_EQ(PEFile_HasCertificate(At(Name).c_str()), 1) << Name;
        EXPECT_EQ(Executable_HasCertificate(At(Name).c_str()), 1) << Name;
        // dwLength read straight from the security directory of the signed file.
        std::ifstream In(At(Name), std::ios::binary);
        const std::string Bytes((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
        ASSERT_GT(Bytes.size(), 512u) << Name;
        auto Le32 = [&](size_t At) { return (uint32)(uint8)Bytes[At] | (uint32)(uint8)Bytes[At + 1] << 8 |
                                            (uint32)(uint8)Bytes[At + 2] << 16 | (uint32)(uint8)Bytes[At + 3] << 24; };
        const size_t Nt = Le32(60);
        const size_t Directory = Nt + (((uint8)Bytes[Nt + 25] == 0x02) ? 168 : 152);
        MemoryStream *Memory = nullptr;
        StreamStruct *Stream = nullptr;
        MemoryStream_Create(&Memory);
        MemoryStream_SetAutoGrow(Memory, 1);
        MemoryStream_GetStreamHandle(Memory, &Stream);
        uint32 Count = 0, Length = 0;
        Stream_Write(Stream, Bytes.data(), (uint32)Bytes.size(), &Count);
        Stream_Seek(Stream, 0, STREAM_SEEK_SET);
        EXPECT_EQ(PEFile_GetCertificateLength(Stream, &Length), 1) << Name;
        EXPECT_EQ(Length, Le32(Le32(Directory))) << Name;
        MemoryStream_Release(&Memory);
    }
    // Unsigned, the digest still covers the whole image.
    EXPECT_EQ(Digest(SHA256_INTERFACE, At("pe32plus.exe")), Built().Signed.at("signed-sha256.exe"));
}

// The whole file as a memory stream, for the readers that take one.
struct FileStream {
    explicit FileStream(const std::string &Path) {
        std::ifstream In(Path, std::ios::binary);
        const std::string Bytes((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
        MemoryStream_Create(&Memory);
        MemoryStream_SetAutoGrow(Memory, 1);
        MemoryStream_GetStreamHandle(Memory, &Stream);
        uint32 Count = 0;
        Stream_Write(Stream, Bytes.data(), (uint32)Bytes.size(), &Count);
        Stream_Seek(Stream, 0, STREAM_SEEK_SET);
    }
    ~FileStream() { MemoryStream_Release(&Memory); }
    MemoryStream *Memory = nullptr;
    StreamStruct *Stream = nullptr;
};

TEST_F(ExecutableFormats, HeaderReadersEqualPefileAndPyelftools) {
    ASSERT_EQ(Built().PeHead.size(), 4u);
    for (const auto &[Name, Expected] : Built().PeHead) {
        FileStream File(At(Name));
        uint32 NtOffset = 0;
        PEHeaders32 Narrow;
        PEHeaders64 Wide;
        const int32 Kind = PEFile_GetHeaders(File.Stream, &NtOffset, &Narrow, &Wide);
        ASSERT_EQ(std::to_string(Kind), Expected.at("kind")) << Name;
        const PEFileHeader &Head = Kind == 32 ? Narrow.FileHeader : Wide.FileHeader;
        auto Optional = [&](auto Field) {
            return Kind == 32 ? std::to_string(Field(Narrow.OptionalHeader)) : std::to_string(Field(Wide.OptionalHeader));
        };
        const Values Read = {
            {"kind", Expected.at("kind")},
            {"e_lfanew", std::to_string(NtOffset)},
            {"Machine", std::to_string(Head.Machine)},
            {"NumberOfSections", std::to_string(Head.NumberOfSections)},
            {"SizeOfOptionalHeader", std::to_string(Head.SizeOfOptionalHeader)},
            {"Magic", Optional([](const auto &H) { return H.Magic; })},
            {"AddressOfEntryPoint", Optional([](const auto &H) { return H.AddressOfEntryPoint; })},
            {"ImageBase", Optional([](const auto &H) { return (uint64)H.ImageBase; })},
            {"FileAlignment", Optional([](const auto &H) { return H.FileAlignment; })},
            {"SizeOfImage", Optional([](const auto &H) { return H.SizeOfImage; })},
            {"SizeOfHeaders", Optional([](const auto &H) { return H.SizeOfHeaders; })},
            {"CheckSum", Optional([](const auto &H) { return H.CheckSum; })},
            {"Subsystem", Optional([](const auto &H) { return H.Subsystem; })},
            {"NumberOfRvaAndSizes", Optional([](const auto &H) { return H.NumberOfRvaAndSizes; })},
            {"SecurityAddress", Optional([](const auto &H) { return H.DataDirectory[PE_DIRECTORY_SECURITY].VirtualAddress; })},
            {"SecuritySize", Optional([](const auto &H) { return H.DataDirectory[PE_DIRECTORY_SECURITY].Size; })}};
        EXPECT_EQ(Read, Expected) << Name;
        EXPECT_EQ(Read.at("SecuritySize") != "0", PEFile_HasCertificateData(File.Stream) == 1) << Name;
    }
    ASSERT_EQ(Built().ElfHead.size(), 5u);
    for (const auto &[Name, Expected] : Built().ElfHead) {
        FileStream File(At(Name));
        Elf32_Ehdr Narrow;
        Elf64_Ehdr Wide;
        const int32 Class = ELFFile_GetHeaders(File.Stream, &Narrow, &Wide);
        ASSERT_EQ(std::to_string(Class), Expected.at("class")) << Name;
        const void *Header = Class == 1 ? (const void *)&Narrow : (const void *)&Wide;
        Values Read = {{"class", Expected.at("class")}};
        auto Fields = [&](const auto &H) {
            Read["e_shoff"] = std::to_string(H.e_shoff);
            Read["e_shentsize"] = std::to_string(H.e_shentsize);
            Read["e_shnum"] = std::to_string(H.e_shnum);
            Read["e_shstrndx"] = std::to_string(H.e_shstrndx);
            Stream_Seek(File.Stream, (int64)H.e_shoff, STREAM_SEEK_SET);
            for (int Index = 0; Index < H.e_shnum; Index++) {
                Elf32_Shdr Section32;
                Elf64_Shdr Section64;
                ASSERT_EQ(ELFFile_ReadSection(File.Stream, Header, &Section32, &Section64), 1) << Name << Index;
                Read["section" + std::to_string(Index)] =
                    Class == 1 ? std::to_string(Section32.sh_name) + "," + std::to_string(Section32.sh_offset) + "," +
                                     std::to_string(Section32.sh_size)
                               : std::to_string(Section64.sh_name) + "," + std::to_string(Section64.sh_offset) + "," +
                                     std::to_string(Section64.sh_size);
            }
        };
        if (Class == 1) Fields(Narrow); else Fields(Wide);
        EXPECT_EQ(Read, Expected) << Name;
    }
    // Not an image: -1 and 0, with the records cleared.
    FileStream Text(RUNTIME_SOURCE_DIR "/README.md");
    PEHeaders64 Wide;
    Wide.Signature = 7;
    EXPECT_EQ(PEFile_GetHeaders(Text.Stream, nullptr, nullptr, &Wide), -1);
    EXPECT_EQ(Wide.Signature, 0u);
    Elf64_Ehdr Elf;
    EXPECT_EQ(ELFFile_GetHeaders(Text.Stream, nullptr, &Elf), 0);
    EXPECT_EQ(ELFFile_ReadSection(Text.Stream, &Elf, nullptr, nullptr), 0);
}

TEST_F(ExecutableFormats, MachOPageHashes) {
    ASSERT_TRUE(Built().Macho);
    const struct {
        const char *Name;
        bool Pages;
    } Cases[] = {{"macho-x86_64", true}, {"macho-arm64", true}, {"macho-fat", true}, {"macho-flipped", false}};
    for (const auto &Case : Cases) {
        const std::string File = At(Case.Name);
        EXPECT_EQ(MachOFile_IsValid(File.c_str()), 1) << Case.Name;
        EXPECT_EQ(Executable_IsValid(File.c_str()), 1) << Case.Name;
        // Ad-hoc signatures carry a code directory but no CMS blob.
        EXPECT_EQ(MachOFile_HasCertificate(File.c_str()), 0) << Case.Name;
        ExecutableFile Opened(File.c_str());
        size_t Fed = 0;
        EXPECT_EQ(MachOFile_CheckCodeDirectories(Opened.Source(), [&](const void *, size_t Count) {
                      Fed += Count;
                      return true;
                  }),
                  Case.Pages)
            << Case.Name;
        EXPECT_GT(Fed, 44u) << Case.Name;
        char Out[64];
        EXPECT_EQ(Executable_GetInfoValue(File.c_str(), "FileVersion", Out, sizeof(Out)), 0);
    }
    EXPECT_EQ(PEFile_IsValid(At("macho-fat").c_str()), 0);
    EXPECT_EQ(ELFFile_IsValid(At("macho-fat").c_str()), 0);
}

TEST_F(ExecutableFormats, ElfValuesAndDataStore) {
    ASSERT_EQ(Built().Elf.size(), 5u);
    for (const auto &[Name, Expected] : Built().Elf) {
        const std::string File = At(Name);
        EXPECT_EQ(Executable_IsValid(File.c_str()), 1) << Name;
        EXPECT_EQ(Executable_Authenticate(nullptr, File.c_str()), 1) << Name;
        for (const auto &[Key, Value] : Expected) {
            char Out[256];
            EXPECT_EQ(Executable_GetInfoValue(File.c_str(), Key.c_str(), Out, sizeof(Out)), 1) << Name << Key;
            EXPECT_EQ(Out, Value) << Name << " " << Key;
        }
        char *Text = nullptr;
        int32 Length = 0;
        ASSERT_EQ(Executable_GetDataStore(File.c_str(), &Text, &Length), 1) << Name;
        EXPECT_EQ(std::string(Text, Length), "from an elf file");
        Executable_ReleaseDataStore(nullptr, &Text, &Length);
        // The macro keys, of a file named by the argument.
        char Line[512];
        snprintf(Line, sizeof(Line), "{FileVersion:%s}|{CopyrightText:%s}|{DataStore:%s}|{ProductName:%s/none}", File.c_str(),
                 File.c_str(), File.c_str(), Built().Folder.c_str());
        String_Expand(Line, sizeof(Line), nullptr, nullptr);
        EXPECT_STREQ(Line, "1.2.3.4|(c) Elf Makers|from an elf file|") << Name;
    }
    // No ".version.json": no values, and still authentic.
    char Out[64];
    EXPECT_EQ(Executable_GetInfoValue("/bin/true", "FileVersion", Out, sizeof(Out)), 0);
    EXPECT_EQ(Executable_Authenticate(nullptr, "/bin/true"), 1);
    EXPECT_EQ(Executable_Authenticate(nullptr, Built().Folder.c_str()), 0);
    EXPECT_EQ(Executable_Authenticate(nullptr, At("none").c_str()), 0);
}

// A store trusting the samples' test root, and one trusting nothing.
struct Stores {
    CertStoreThumbprint *Trusting = nullptr, *Empty = nullptr;
    CertStoreInterface *Store = nullptr, *None = nullptr;
    explicit Stores(const std::string &RootPem) {
        X509 *Certificate = nullptr;
        X509_Create(&Certificate);
        std::string Base64;
        for (size_t At = 0, End; At < RootPem.size(); At = End + 1) {
            End = RootPem.find('\n', At);
            if (End == std::string::npos) End = RootPem.size();
            const std::string Line = RootPem.substr(At, End - At);
            if (Line.rfind("-----", 0) != 0) Base64 += Line;
        }
        uint8 Thumbprint[20];
        EXPECT_EQ(X509_BuildFromBase64(Certificate, Base64.c_str(), (int32)Base64.size()), 1);
        EXPECT_EQ(X509_Thumbprint(Certificate, &SHA1_INTERFACE, Thumbprint, sizeof(Thumbprint)), 1);
        X509_Delete(&Certificate);
        CertStoreThumbprint_Create(&Trusting);
        CertStoreThumbprint_Create(&Empty);
        CertStoreThumbprint_Trust(Trusting, &SHA1_INTERFACE, Thumbprint);
        CertStoreThumbprint_GetInterfaceHandle(Trusting, &Store);
        CertStoreThumbprint_GetInterfaceHandle(Empty, &None);
    }
    ~Stores() {
        CertStoreThumbprint_Delete(&Trusting);
        CertStoreThumbprint_Delete(&Empty);
    }
};

TEST_F(ExecutableFormats, AuthenticodeVerifiesAgainstTheStore) {
    ASSERT_EQ(Built().Signed.size(), 2u);
    Stores Trust(ReadFile(At("root.pem")));
    for (const auto &[Name, Expected] : Built().Signed) {
        EXPECT_EQ(Executable_Authenticate(Trust.Store, At(Name).c_str()), 1) << Name;
        EXPECT_EQ(Executable_Authenticate(Trust.None, At(Name).c_str()), 0) << Name;
        // One changed byte of code.
        std::string Bytes = ReadFile(At(Name));
        Bytes[0x400 + 100] ^= 1;
        const std::string Changed = At(Name + ".changed");
        FILE *Out = fopen(Changed.c_str(), "wb");
        fwrite(Bytes.data(), 1, Bytes.size(), Out);
        fclose(Out);
        EXPECT_EQ(Executable_Authenticate(Trust.Store, Changed.c_str()), 0) << Name;
    }
    EXPECT_EQ(Executable_Authenticate(Trust.Store, At("pe32plus.exe").c_str()), 0);
    // Mach-O: the CMS signature over the code directory, whose pages must match.
    EXPECT_EQ(Executable_HasCertificate(At("macho-cms").c_str()), 1);
    EXPECT_EQ(Executable_Authenticate(Trust.Store, At("macho-cms").c_str()), 1);
    EXPECT_EQ(Executable_Authenticate(Trust.None, At("macho-cms").c_str()), 0);
    EXPECT_EQ(Executable_Authenticate(Trust.Store, At("macho-cms-flipped").c_str()), 0);
    EXPECT_EQ(Executable_Authenticate(Trust.Store, At("macho-x86_64").c_str()), 0);
}

TEST_F(ExecutableFormats, PackageSignatureNeedsTrustedRoot) {
    ASSERT_TRUE(Built().Pkg);
    Stores Trust(ReadFile(At("root.pem")));
    CertStoreInterface *Store = Trust.Store, *None = Trust.None;
    EXPECT_EQ(PKGFile_IsValid(At("signed.pkg").c_str()), 1);
    EXPECT_EQ(Executable_Authenticate(Store, At("signed.pkg").c_str()), 1);
    EXPECT_EQ(Executable_Authenticate(None, At("signed.pkg").c_str()), 0);
    EXPECT_EQ(Executable_Authenticate(Store, At("tampered.pkg").c_str()), 0);
    // A CMS "x-signature" over the table of contents.
    EXPECT_EQ(Executable_Authenticate(Store, At("cms.pkg").c_str()), 1);
    EXPECT_EQ(Executable_Authenticate(None, At("cms.pkg").c_str()), 0);
    EXPECT_EQ(Executable_Authenticate(Store, At("cms-tampered.pkg").c_str()), 0);
}

TEST_F(ExecutableFormats, BundlesAndDiskImages) {
    TempDirectory Temp;
    const std::string App = Temp / "Sample.APP";
    ASSERT_EQ(system(("mkdir -p '" + App + "/Contents/MacOS' && cp " + At("macho-x86_64") + " '" + App +
                      "/Contents/MacOS/Runner'")
                         .c_str()),
              0);
    const std::string Plist = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict><key>CFBundleVersion</key><string>7.0.1</string><key>CFBundleExecutable</key>
<string>Runner</string><key>CFBundleGetInfoString</key><string>(c) Bundle</string><key>Environment</key>
<string>staging</string></dict></plist>)";
    FILE *Out = fopen((App + "/Contents/Info.plist").c_str(), "w");
    ASSERT_NE(Out, nullptr);
    fputs(Plist.c_str(), Out);
    fclose(Out);
    char Text[512];
    EXPECT_EQ(AppBundle_IsValid(App.c_str()), 1);
    EXPECT_EQ(AppBundle_IsValid(Temp.Path.c_str()), 0);
    const struct {
        const char *Key, *Value;
    } Cases[] = {{"FileVersion", "7.0.1"}, {"ProductVersion", "7.0.1"}, {"ProductName", "Runner"},
                 {"LegalCopyright", "(c) Bundle"}, {"Environment", "staging"}};
    for (const auto &Case : Cases) {
        EXPECT_EQ(Executable_GetInfoValue(App.c_str(), Case.Key, Text, sizeof(Text)), 1) << Case.Key;
        EXPECT_STREQ(Text, Case.Value);
        // The executable inside stands for its bundle.
        EXPECT_EQ(AppBundle_GetInfoValue((App + "/Contents/MacOS/Runner").c_str(), Case.Key, Text, sizeof(Text)), 1);
        EXPECT_STREQ(Text, Case.Value);
    }
    // A list past its bound is not read: one padded with blanks a byte past
    // it, and a sparse one of 60 GB.
    std::ofstream((App + "/Contents/Info.plist").c_str()) << Plist << std::string(APPBUNDLE_INFO_MOST + 1 - Plist.size(), ' ');
    EXPECT_EQ(Executable_GetInfoValue(App.c_str(), "FileVersion", Text, sizeof(Text)), 0);
    ASSERT_EQ(truncate((App + "/Contents/Info.plist").c_str(), 60LL << 30), 0);
    EXPECT_EQ(Executable_GetInfoValue(App.c_str(), "FileVersion", Text, sizeof(Text)), 0);
    ASSERT_EQ(truncate((App + "/Contents/Info.plist").c_str(), (off_t)Plist.size()), 0);
    EXPECT_EQ(AppBundle_GetExecutablePath(App.c_str(), Text, sizeof(Text)), 1);
    EXPECT_EQ(std::string(Text), App + "/Contents/MacOS/Runner");
    // Opening the bundle opens its executable.
    const int Descriptor = Platform_Open(App.c_str(), O_RDONLY, 0, 0);
    ASSERT_GE(Descriptor, 0);
    char Magic[4];
    EXPECT_EQ(read(Descriptor, Magic, 4), 4);
    close(Descriptor);
    EXPECT_EQ(memcmp(Magic, "\xcf\xfa\xed\xfe", 4), 0);
    EXPECT_EQ(Executable_Authenticate(nullptr, App.c_str()), 0);
    // A disk image whose trailer names an empty region has no store.
    std::string Image(4096, 'x');
    Image += std::string(512, '\0');
    memcpy(&Image[4096], "koly", 4);
    FILE *Disk = fopen((Temp / "empty.dmg").c_str(), "wb");
    fwrite(Image.data(), 1, Image.size(), Disk);
    fclose(Disk);
    EXPECT_EQ(DMGFile_IsValid((Temp / "empty.dmg").c_str()), 1);
    char *Store = nullptr;
    int32 Length = 0;
    EXPECT_EQ(Executable_GetDataStore((Temp / "empty.dmg").c_str(), &Store, &Length), 0);
}

// Every reader over one file's bytes; the signature checks against a store
// trusting nothing.
CertStoreInterface *Untrusting = nullptr;
void Readers(const std::string &Bytes) {
    const ExecutableSource File = ExecutableSource_FromBytes(Bytes);
    auto Ignore = [](const void *, size_t) { return true; };
    Dictionary *Values = nullptr;
    Dictionary_Create(&Values);
    PeFile_ReadInfo(File, Values);
    PeFile_HashImage(File, Ignore);
    std::string Out, Other;
    PeFile_ReadCertificate(File, Out);
    MachOFile_ReadCertificate(File, Out);
    MachOFile_CheckCodeDirectories(File, Ignore);
    PeFile_Verify(Untrusting, File);
    MachOFile_Verify(Untrusting, File);
    ElfFile_ReadInfo(File, Values);
    uint64 Offset, Size;
    ElfFile_FindSection(File, ".datastore", Offset, Size);
    DmgFile_ReadTrailer(File, Offset, Size);
    PkgHeader Head;
    PkgFile_ReadTableOfContents(File, Head, Out, Other);
    PkgFile_Verify(Untrusting, File);
    ExecutableDataStore_Find(File, Out);
    Dictionary_Release(&Values);
}

TEST_F(ExecutableFormats, MutatedSamplesFailCleanly) {
    const char *Names[] = {"macho-x86_64", "macho-fat", "macho-cms", "pe32.exe", "pe32plus.exe", "signed-sha256.exe",
                           "elf32le",      "elf64be",   "elf32be",  "elf-objcopy",  "signed.pkg", "cms.pkg"};
    std::mt19937 Random(32);
    Stores Trust(ReadFile(At("root.pem")));
    Untrusting = Trust.None;
    for (const char *Name : Names) {
        const std::string Original = ReadFile(At(Name));
        ASSERT_FALSE(Original.empty()) << Name;
        // Size and offset words in the headers, and around the structures
        // the readers walk.
        std::vector<size_t> Places;
        for (size_t At = 0; At < std::min<size_t>(Original.size(), 1024); At += 4) Places.push_back(At);
        for (const std::string &Mark : {std::string("\xfa\xde\x0c\xc0", 4), std::string("\xfa\xde\x0c\x02", 4),
                                       std::string("S\0t\0r\0i\0n\0g\0F", 14), std::string("V\0S\0_\0V", 8),
                                       std::string("\x30\x82"), std::string("<toc>")})
            for (size_t Found = Original.find(Mark); Found != std::string::npos && Places.size() < 4000;
                 Found = Original.find(Mark, Found + 1))
                for (size_t At = Found > 16 ? Found - 16 : 0; At < std::min(Original.size(), Found + 96); At++)
                    Places.push_back(At);
        for (size_t At : Places)
            for (uint32 Word : {0u, 0x7fffffffu, 0xffffffffu}) {
                std::string Bytes = Original;
                for (int Index = 0; Index < 4 && At + Index < Bytes.size(); Index++)
                    Bytes[At + Index] = (char)(Word >> (8 * Index));
                Readers(Bytes);
                // Also the big-endian form of the word, for Mach-O blobs and xar.
                for (int Index = 0; Index < 4 && At + Index < Bytes.size(); Index++)
                    Bytes[At + Index] = (char)(Word >> (24 - 8 * Index));
                Readers(Bytes);
            }
        for (int Round = 0; Round < 200; Round++) {
            std::string Bytes = Original;
            Bytes[Random() % Bytes.size()] ^= (char)(1u << (Random() % 8));
            Readers(Bytes);
            Readers(Original.substr(0, Random() % Original.size()));
        }
    }
}

} // namespace

namespace {

// Fields that would make a reader walk, read or allocate out of bounds, set
// one at a time in otherwise sound samples: each must answer "not found".
TEST_F(ExecutableFormats, LyingFieldsAnswerNothing) {
    struct Patch {
        const char *File, *Mark; // the field lies at the mark's first match + Delta
        size_t Delta;
        std::string Bytes;
    };
    const std::string CodeDirectory("\xfa\xde\x0c\x02", 4);
    const Patch Cases[] = {
        // ELF: entry size 0, name-table index past the table, a table far past the end.
        {"elf64le", "", 0x3a, std::string("\0\0", 2)},
        {"elf64le", "", 0x3e, std::string("\x05\0", 2)},
        {"elf32be", "", 0x20, "\x7f\xff\xff\xff"},
        {"elf64be", "", 0x28, "\x7f\xff\xff\xff\xff\xff\xff\xff"},
        // Mach-O code directory: page shift 8 and 17, hash size 31, no slots,
        // a code limit beyond the slots and one beyond the file.
        {"macho-x86_64", CodeDirectory.c_str(), 39, "\x08"},
        {"macho-x86_64", CodeDirectory.c_str(), 39, "\x11"},
        {"macho-x86_64", CodeDirectory.c_str(), 36, "\x1f"},
        {"macho-x86_64", CodeDirectory.c_str(), 28, std::string("\0\0\0\0", 4)},
        {"macho-x86_64", CodeDirectory.c_str(), 32, "\x7f\xff\xff\xff"},
        {"macho-x86_64", CodeDirectory.c_str(), 28, "\x7f\xff\xff\xff"},
        // PE: a section table past the end, a huge resource section.
        {"pe32plus.exe", "PE", 20, "\xff\xff"},
        {"pe32.exe", ".rsrc", 16, "\xff\xff\xff\x7f"},
    };
    for (const Patch &Case : Cases) {
        std::string Bytes = ReadFile(At(Case.File));
        const size_t Mark = Case.Mark[0] ? Bytes.find(Case.Mark) : 0;
        ASSERT_NE(Mark, std::string::npos) << Case.File;
        Bytes.replace(Mark + Case.Delta, Case.Bytes.size(), Case.Bytes);
        const ExecutableSource File = ExecutableSource_FromBytes(Bytes);
        uint64 Offset, Size;
        Dictionary *Values = nullptr;
        Dictionary_Create(&Values);
        const int Elf = ElfFile_FindSection(File, ".version.json", Offset, Size);
        const bool Pages = MachOFile_CheckCodeDirectories(File, [](const void *, size_t) { return true; });
        const bool Pe = PeFile_ReadInfo(File, Values);
        Dictionary_Release(&Values);
        EXPECT_EQ(Elf, 0) << Case.File << " +" << Case.Delta;
        EXPECT_FALSE(Pages) << Case.File << " +" << Case.Delta;
        EXPECT_FALSE(Pe) << Case.File << " +" << Case.Delta;
    }
    // A table of contents announced 1,000 bytes longer than it inflates to:
    // exactly what inflated is read, and the package still verifies.
    std::string Package = ReadFile(At("signed.pkg"));
    PkgHeader Head;
    std::string Compressed, Xml;
    ASSERT_TRUE(PkgFile_ReadTableOfContents(ExecutableSource_FromBytes(Package), Head, Compressed, Xml));
    const uint64 Length = Xml.size() + 1000;
    for (int Index = 0; Index < 8; Index++) Package[16 + Index] = (char)(Length >> (56 - 8 * Index));
    ASSERT_TRUE(PkgFile_ReadTableOfContents(ExecutableSource_FromBytes(Package), Head, Compressed, Xml));
    EXPECT_EQ(Xml.size(), Length - 1000);
    EXPECT_EQ(Xml.find('\0'), std::string::npos);
    Stores Trust(ReadFile(At("root.pem")));
    EXPECT_TRUE(PkgFile_Verify(Trust.Store, ExecutableSource_FromBytes(Package)));
}

} // namespace
