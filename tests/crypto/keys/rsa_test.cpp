// RSA and the public-key object: every Wycheproof RSA PKCS#1 v1.5 case
// (verification, signature generation, decryption), openssl keys of 1,024 to
// 4,096 bits (one family with e = 3) both ways, blocks raw-signed in Python
// that a lenient verifier would take (and a keyless cube-root forgery),
// signatures at the edges that openssl decides alike (a fixture), the key
// checks, and the rules of signing, encryption and the switch.
#include "crypto/keys/rsa.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/keys/asn1.h"
#include "crypto/keys/crypt_asymmetric.h"
#include "crypto/trust/authenticate.h"
#include "tests/support/python.h"
#include "tests/support/requirement.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

using RsaTest = RuntimeTest;
using RsaDeathTest = RsaTest;

const std::string VectorDir = WycheproofDirectory();

bool HaveVectors() { return access((VectorDir + "/rsa_pkcs1_2048_test.json.gz").c_str(), R_OK) == 0; }

std::vector<std::vector<std::string>> Rows(const std::string &Text) {
    std::vector<std::vector<std::string>> Out;
    std::istringstream Lines(Text);
    for (std::string Line; std::getline(Lines, Line);) {
        std::istringstream Fields(Line);
        Out.emplace_back();
        for (std::string Field; Fields >> Field;) Out.back().push_back(Field == "-" ? "" : Field);
    }
    return Out;
}

// A public-key object made from SubjectPublicKeyInfo DER, the way
// certificates make theirs; null when the key is refused.
struct Key {
    CryptAsymmetric *Object = nullptr;
    Key() { CryptAsymmetric_Create(&Object); }
    ~Key() { CryptAsymmetric_Delete(&Object); }
    bool FromSpki(const std::string &Der) {
        ASN1 *Root = nullptr;
        ASN1_Create(&Root);
        const bool Done = ASN1_Decode(Root, Der.data(), (int32)Der.size()) &&
                          CryptAsymmetric_SetPublicKeyFromASN1(Object, ASN1_GetElement(Root, 0));
        ASN1_Delete(&Root);
        return Done;
    }
    bool FromPrivate(const std::string &Der) {
        const CryptAsymmetricInterface *Interface = nullptr;
        CryptAsymmetric_InterfaceFromName("RSA", &Interface);
        CryptAsymmetric_ResetInterface(Object, Interface);
        return CryptAsymmetric_SetPrivateKey(Object, Der.data(), (int32)Der.size()) == 1;
    }
    int32 Verify(const std::string &Digest, const std::string &Signature, int32 Mode = 2) {
        return CryptAsymmetric_Verify(Object, Digest.data(), (int32)Digest.size(), Signature.data(),
                                      (int32)Signature.size(), Mode);
    }
    std::string Sign(const std::string &Payload) {
        std::string Out(1100, '\0');
        int32 Written = 0;
        if (!CryptAsymmetric_Sign(Object, Payload.data(), (int32)Payload.size(), Out.data(), (int32)Out.size(),
                                  &Written))
            return "";
        return Out.substr(0, (size_t)Written);
    }
};

RSA *RsaOf(Key &Object) {
    // The algorithm object behind the table, for the operations outside it.
    struct View {
        ClassStruct Class;
        ClassPrintStruct Print;
        void *Algorithm;
    };
    return static_cast<RSA *>(reinterpret_cast<View *>(Object.Object)->Algorithm);
}

TEST_F(RsaTest, WycheproofSignatureVerification) {
    SKIP_UNLESS(HaveVectors(), "Wycheproof vectors not found in " << VectorDir);
    const auto Cases = Rows(RunPython(
        "import gzip, json, glob, hashlib, os\n"
        "for path in sorted(glob.glob('" + VectorDir + "/rsa_signature_*_test.json.gz')):\n"
        "    d = json.load(gzip.open(path))\n"
        "    for g in d['testGroups']:\n"
        "        h = g['sha'].replace('-', '').lower()\n"
        "        for t in g['tests']:\n"
        "            print(os.path.basename(path), t['tcId'], g['publicKeyDer'],\n"
        "                  hashlib.new(h, bytes.fromhex(t['msg'])).hexdigest(), t['sig'] or '-', t['result'])\n"));
    std::map<std::string, int> Seen;
    std::string LastKey;
    std::unique_ptr<Key> Current;
    for (const auto &Case : Cases) {
        ASSERT_EQ(Case.size(), 6u);
        if (Case[2] != LastKey) {
            Current = std::make_unique<Key>();
            ASSERT_TRUE(Current->FromSpki(FromHex(Case[2]))) << Case[0];
            LastKey = Case[2];
        }
        const int32 Result = Current->Verify(FromHex(Case[3]), FromHex(Case[4]));
        if (Case[5] == "acceptable") {
            Seen[std::string("acceptable ") + (Result ? "accepted" : "refused")]++;
            continue;
        }
        EXPECT_EQ(Result, Case[5] == "valid") << Case[0] << " case " << Case[1];
        Seen[Case[5]]++;
    }
    EXPECT_GT(Seen["valid"], 50);
    EXPECT_GT(Seen["invalid"], 1500);
    for (const auto &[Kind, Count] : Seen) std::cout << "  " << Kind << ": " << Count << "\n";
}

// RFC 8017's DigestInfo prefixes, by Wycheproof's hash names.
const char *DigestInfoScript =
    "prefix = {'SHA-1': '3021300906052b0e03021a05000414',\n"
    "  'SHA-224': '302d300d06096086480165030402040500041c',\n"
    "  'SHA-256': '3031300d060960864801650304020105000420',\n"
    "  'SHA-384': '3041300d060960864801650304020205000430',\n"
    "  'SHA-512': '3051300d060960864801650304020305000440'}\n"
    "def info(sha, msg): return prefix[sha] + hashlib.new(sha.replace('-', '').lower(), msg).hexdigest()\n";

TEST_F(RsaTest, WycheproofSignatureGeneration) {
    SKIP_UNLESS(HaveVectors(), "Wycheproof vectors not found in " << VectorDir);
    const auto Cases = Rows(RunPython(
        std::string("import gzip, json, glob, hashlib, os\n") + DigestInfoScript +
        "for path in sorted(glob.glob('" + VectorDir + "/rsa_pkcs1_*_sig_gen_test.json.gz')):\n"
        "    d = json.load(gzip.open(path))\n"
        "    for g in d['testGroups']:\n"
        "        for t in g['tests']:\n"
        "            print(os.path.basename(path), t['tcId'], g['privateKeyPkcs8'], g['keyDer'],\n"
        "                  info(g['sha'], bytes.fromhex(t['msg'])), t['sig'], t['result'])\n"));
    int Count = 0;
    for (const auto &Case : Cases) {
        ASSERT_EQ(Case.size(), 7u);
        Key Private, Public;
        ASSERT_TRUE(Private.FromPrivate(FromHex(Case[2]))) << Case[0];
        ASSERT_TRUE(Public.FromSpki(FromHex(Case[3]))) << Case[0];
        const std::string Signature = Private.Sign(FromHex(Case[4]));
        EXPECT_EQ(ToHex(Signature), Case[5]) << Case[0] << " case " << Case[1];
        // The same payload checks in mode 1 (the payload is the whole T).
        EXPECT_EQ(Public.Verify(FromHex(Case[4]), Signature, 1), 1) << Case[0] << " case " << Case[1];
        Count++;
    }
    EXPECT_GT(Count, 100);
}

TEST_F(RsaTest, WycheproofDecryption) {
    SKIP_UNLESS(HaveVectors(), "Wycheproof vectors not found in " << VectorDir);
    const auto Cases = Rows(RunPython(
        "import gzip, json, glob, os\n"
        "for path in sorted(glob.glob('" + VectorDir + "/rsa_pkcs1_[0-9]*_test.json.gz')):\n"
        "    if 'sig_gen' in path: continue\n"
        "    d = json.load(gzip.open(path))\n"
        "    for g in d['testGroups']:\n"
        "        for t in g['tests']:\n"
        "            print(os.path.basename(path), t['tcId'], g['privateKeyPkcs8'], t['ct'] or '-', t['msg'] or '-',\n"
        "                  t['result'])\n"));
    std::map<std::string, int> Seen;
    for (const auto &Case : Cases) {
        ASSERT_EQ(Case.size(), 6u);
        Key Private;
        ASSERT_TRUE(Private.FromPrivate(FromHex(Case[2]))) << Case[0];
        const std::string Cipher = FromHex(Case[3]);
        std::string Out(600, '\0');
        int32 Written = -1;
        const int32 Result =
            RSA_PrivateKeyDecrypt(RsaOf(Private), Cipher.data(), (int32)Cipher.size(), Out.data(), 600, &Written);
        Seen[Case[5]]++;
        if (Case[5] == "valid") {
            EXPECT_EQ(Result, 1) << Case[0] << " case " << Case[1];
            EXPECT_EQ(ToHex(Out.substr(0, (size_t)Written)), Case[4]) << Case[0] << " case " << Case[1];
        } else {
            EXPECT_EQ(Result, 0) << Case[0] << " case " << Case[1];
            EXPECT_EQ(Written, 0);
        }
    }
    EXPECT_GT(Seen["valid"], 100);
    EXPECT_GT(Seen["invalid"], 50);
}

// openssl makes the keys, its signatures (with a digest, and raw for mode 1)
// and, from its text dump, n and d for blocks that Python signs raw.
const char *OpensslScript = R"PY(
import subprocess, tempfile, os, hashlib
d = tempfile.mkdtemp()
def run(*a, data=None): return subprocess.run(a, check=True, capture_output=True, input=data).stdout
def field(text, name):
    lines = text.split('\n'); i = lines.index(name + ':') + 1; digits = ''
    while i < len(lines) and lines[i].startswith('    '): digits += lines[i].strip().replace(':', ''); i += 1
    return int(digits, 16)
prefix = {'md5': '3020300c06082a864886f70d020505000410', 'sha1': '3021300906052b0e03021a05000414',
  'sha224': '302d300d06096086480165030402040500041c', 'sha256': '3031300d060960864801650304020105000420',
  'sha384': '3041300d060960864801650304020205000430', 'sha512': '3051300d060960864801650304020305000440'}
def icbrt(x):
    r = 1 << ((x.bit_length() + 2) // 3)
    while True:
        y = (2 * r + x // (r * r)) // 3
        if y >= r: return r
        r = y
for index, (bits, e, h) in enumerate([(1024, 65537, 'md5'), (1024, 3, 'sha1'), (2048, 65537, 'sha256'),
                                      (2048, 3, 'sha224'), (3072, 65537, 'sha384'), (4096, 65537, 'sha512'),
                                      (4096, 3, 'sha256')]):
    key = f'{d}/k{index}.pem'
    run('openssl', 'genpkey', '-algorithm', 'RSA', '-pkeyopt', f'rsa_keygen_bits:{bits}', '-pkeyopt',
        f'rsa_keygen_pubexp:{e}', '-out', key)
    pkcs1 = run('openssl', 'rsa', '-in', key, '-outform', 'DER', '-traditional')
    spki = run('openssl', 'pkey', '-in', key, '-pubout', '-outform', 'DER')
    text = run('openssl', 'rsa', '-in', key, '-text', '-noout').decode()
    n, dd = field(text, 'modulus'), field(text, 'privateExponent')
    msg = os.urandom(77)
    open(f'{d}/m', 'wb').write(msg)
    sig = run('openssl', 'dgst', '-' + h, '-sign', key, f'{d}/m')
    digest = hashlib.new(h, msg).digest()
    raw = run('openssl', 'pkeyutl', '-sign', '-inkey', key, data=digest)
    print('key', index, key, pkcs1.hex(), spki.hex(), digest.hex(), prefix[h] + digest.hex(), sig.hex(), raw.hex())
    if bits != 2048: continue
    k = bits // 8
    info = bytes.fromhex(prefix['sha256']) + hashlib.sha256(msg).digest()
    def block(body, fill=b'\xff', t=b'\x01', tail=b''):
        pad = k - 3 - len(body) - len(tail)
        return b'\x00' + t + fill * pad + b'\x00' + body + tail
    bad = {
        'type2': block(info, t=b'\x02'),
        'nonff': block(info, fill=b'\xfe'),
        'shortpad': b'\x00\x01' + b'\xff' * 7 + b'\x00' + info + b'\x00' * (k - 10 - len(info)),
        'trailing': block(info, tail=b'\x00'),
        'otheroid': block(bytes.fromhex('3031300d060960864801650304020305000420') + hashlib.sha256(msg).digest()),
        'badnull': block(bytes.fromhex('3032300e06096086480165030402010501000420') + hashlib.sha256(msg).digest()),
        'extraelement': block(bytes.fromhex('3033300d060960864801650304020105000420') + hashlib.sha256(msg).digest() + b'\x05\x00'),
        'nozero': b'\x00\x01' + b'\xff' * (k - 2),
        'mode1trailing': block(hashlib.sha256(msg).digest(), tail=b'\x01'),
    }
    for label, m in bad.items():
        print('forge', index, label, hashlib.sha256(msg).hexdigest(), '1' if label.startswith('mode1') else '2',
              format(pow(int.from_bytes(m, 'big'), dd, n), 'x').zfill(2 * k))
    if e == 3:
        # Without the key: a cube root whose cube begins with the right prefix.
        head = b'\x00\x01' + b'\xff' * 8 + b'\x00' + info
        target = int.from_bytes(head, 'big') << (8 * (k - len(head)))
        s = icbrt(target) + 1
        assert (s ** 3).to_bytes(k, 'big').startswith(head)
        print('forge', index, 'cuberoot', hashlib.sha256(msg).hexdigest(), '2', format(s, 'x').zfill(2 * k))
print('dir', d)
)PY";

TEST_F(RsaTest, OpensslKeysBothWays) {
    SKIP_UNLESS(HaveCommand("openssl"), "openssl is not installed");
    const auto Rows1 = Rows(RunPython(OpensslScript));
    ASSERT_FALSE(Rows1.empty());
    std::map<std::string, std::unique_ptr<Key>> Publics;
    std::string Directory, Decrypts;
    int Keys = 0, Forgeries = 0;
    for (const auto &Row : Rows1) {
        if (Row[0] == "dir") Directory = Row[1];
        if (Row[0] == "key") {
            SCOPED_TRACE("key " + Row[1]);
            Key Private;
            auto Public = std::make_unique<Key>();
            ASSERT_TRUE(Private.FromPrivate(FromHex(Row[3])));
            ASSERT_TRUE(Public->FromSpki(FromHex(Row[4])));
            const std::string Digest = FromHex(Row[5]), Info = FromHex(Row[6]);
            const std::string Signature = FromHex(Row[7]), Raw = FromHex(Row[8]);
            // openssl's signatures verify here.
            EXPECT_EQ(Public->Verify(Digest, Signature, 2), 1);
            EXPECT_EQ(Public->Verify(Digest, Raw, 1), 1);
            EXPECT_EQ(Public->Verify(Digest, Raw, 2), 0);
            // Ours are openssl's, byte for byte (so openssl takes them).
            EXPECT_EQ(ToHex(Private.Sign(Info)), Row[7]);
            EXPECT_EQ(ToHex(Private.Sign(Digest)), Row[8]);
            std::string Changed = Digest;
            Changed[3] ^= 1;
            EXPECT_EQ(Public->Verify(Changed, Signature, 2), 0);
            // A 48-byte secret for openssl to decrypt.
            std::string Secret(48, '\0'), Cipher(1100, '\0');
            for (size_t At = 0; At < 48; At++) Secret[At] = (char)(At * 7 + Keys);
            int32 Written = 0;
            ASSERT_EQ(CryptAsymmetric_PublicKeyEncrypt(Public->Object, Secret.data(), 48, Cipher.data(), 1100,
                                                       &Written),
                      1);
            Decrypts += Row[2] + " " + ToHex(Cipher.substr(0, (size_t)Written)) + " " + ToHex(Secret) + "\n";
            Publics[Row[1]] = std::move(Public);
            Keys++;
        }
        if (Row[0] == "forge") {
            EXPECT_EQ(Publics[Row[1]]->Verify(FromHex(Row[3]), FromHex(Row[5]), std::stoi(Row[4])), 0)
                << "key " << Row[1] << ": " << Row[2];
            Forgeries++;
        }
    }
    EXPECT_EQ(Keys, 7);
    EXPECT_EQ(Forgeries, 19);
    // openssl decrypts what we encrypted; Python looks at the padding.
    const std::string Checked = RunPython(
        "import sys, subprocess, shutil\n"
        "for line in sys.stdin:\n"
        "    key, ct, secret = line.split()\n"
        "    out = subprocess.run(['openssl', 'pkeyutl', '-decrypt', '-inkey', key], input=bytes.fromhex(ct),\n"
        "                         capture_output=True, check=True).stdout\n"
        "    print('ok' if out.hex() == secret else 'bad')\n"
        "shutil.rmtree('" + Directory + "')\n",
        Decrypts);
    EXPECT_EQ(Checked, "ok\nok\nok\nok\nok\nok\nok\n");
}

// Signatures at the edges, from tests/fixtures/crypto/make_rsa_edges.py: one
// as long as the modulus with a leading zero, the same without that zero and
// with one more, s + n, a digest whose last byte differs, a block whose first
// byte is 01, and public exponents of 64 and 65 bits (refused at import)
// under a 4,096-bit modulus. openssl decides each the same way.
TEST_F(RsaTest, EdgesDecidedAsOpensslDecides) {
    const std::string Fixture = RUNTIME_SOURCE_DIR "/tests/fixtures/crypto/rsa_edges.txt";
    const auto Cases = Rows(ReadFile(Fixture));
    ASSERT_EQ(Cases.size(), 8u);
    for (const auto &Case : Cases) {
        ASSERT_EQ(Case.size(), 5u);
        Key Public;
        const bool Imported = Public.FromSpki(FromHex(Case[1]));
        EXPECT_EQ(Imported, Case[0] != "exponent-65-bits") << Case[0];
        EXPECT_EQ(Imported && Public.Verify(FromHex(Case[2]), FromHex(Case[3])) == 1, Case[4] == "1") << Case[0];
    }
    if (!RequirePart(HaveCommand("openssl"), "openssl")) return;
    TempDirectory Dir;
    for (const auto &Case : Cases) {
        for (const auto &[Name, Hex] : {std::pair{"key.der", Case[1]}, {"digest", Case[2]}, {"signature", Case[3]}})
            std::ofstream(Dir / Name, std::ios::binary) << FromHex(Hex);
        const std::string Command = "openssl pkeyutl -verify -pubin -keyform DER -inkey " + (Dir / "key.der") +
                                    " -pkeyopt digest:sha256 -in " + (Dir / "digest") + " -sigfile " +
                                    (Dir / "signature") + " >/dev/null 2>&1";
        EXPECT_EQ(system(Command.c_str()) == 0, Case[4] == "1") << "openssl: " << Case[0];
    }
}

// A fresh 512-bit openssl key: PKCS#1 private DER and SubjectPublicKeyInfo.
std::pair<std::string, std::string> SmallKey() {
    const auto Lines = Rows(RunPython(
        "import subprocess\n"
        "def run(*a, data=None): return subprocess.run(a, input=data, capture_output=True, check=True).stdout\n"
        "k = run('openssl', 'genpkey', '-algorithm', 'RSA', '-pkeyopt', 'rsa_keygen_bits:512')\n"
        "print(run('openssl', 'rsa', '-outform', 'DER', '-traditional', data=k).hex(),"
        " run('openssl', 'pkey', '-pubout', '-outform', 'DER', data=k).hex())\n"));
    if (Lines.empty() || Lines[0].size() != 2) return {};
    return {FromHex(Lines[0][0]), FromHex(Lines[0][1])};
}

TEST_F(RsaTest, EncryptionAndSigningLimits) {
    const std::string Der = SmallKey().first;
    SKIP_UNLESS(!Der.empty(), "openssl is not installed");
    Key Object;
    ASSERT_TRUE(Object.FromPrivate(Der));
    RSA *Rsa = RsaOf(Object);
    // Decryption finds the data behind the first zero after 00 02: a zero
    // drawn into the padding would cut the data short.
    for (int Round = 0; Round < 200; Round++) {
        std::string Data(1 + Round % 53, (char)Round), Cipher(65, '\0'), Back(64, '\0');
        int32 Written = 0;
        ASSERT_EQ(RSA_PublicKeyEncrypt(Rsa, Data.data(), (int32)Data.size(), Cipher.data(), 65, &Written), 1);
        ASSERT_EQ(Written, 64);
        ASSERT_EQ(RSA_PrivateKeyDecrypt(Rsa, Cipher.data(), 64, Back.data(), 64, &Written), 1);
        ASSERT_EQ(Back.substr(0, (size_t)Written), Data);
    }
    // Over k - 11 bytes, and a buffer of exactly k, are refused.
    std::string Data(54, 'x'), Out(65, '\0');
    int32 Written = 0;
    EXPECT_EQ(RSA_PublicKeyEncrypt(Rsa, Data.data(), 54, Out.data(), 65, &Written), 0);
    EXPECT_EQ(RSA_PublicKeyEncrypt(Rsa, Data.data(), 53, Out.data(), 64, &Written), 0);
    EXPECT_EQ(RSA_Sign(Rsa, Data.data(), 54, Out.data(), 65, &Written), 0);
    EXPECT_EQ(RSA_Sign(Rsa, Data.data(), 20, Out.data(), 64, &Written), 0);
    EXPECT_EQ(RSA_Sign(Rsa, Data.data(), 20, Out.data(), 65, &Written), 1);
    EXPECT_EQ(Written, 64);
    // A wrong CRT exponent falls back to d and signs the same; with d wrong
    // too nothing is signed.
    const std::string Good = std::string(Out.data(), 64);
    auto Corrupt = [&](std::string Bytes, const std::vector<int32> &Elements) {
        ASN1 *Tree = nullptr;
        ASN1_Create(&Tree);
        ASN1_Decode(Tree, Der.data(), (int32)Der.size());
        for (int32 Element : Elements) {
            ASN1 *Number = ASN1_GetElement(ASN1_GetElement(Tree, 0), Element);
            Bytes[(size_t)(ASN1_GetValuePtr(Number) - (const uint8 *)Der.data()) + ASN1_GetValueSize(Number) - 1] ^= 2;
        }
        ASN1_Delete(&Tree);
        return Bytes;
    };
    for (const auto &[Elements, Signs] : std::vector<std::pair<std::vector<int32>, int32>>{
             {{6}, 1}, {{3}, 1}, {{3, 6}, 0}}) {
        const std::string Broken = Corrupt(Der, Elements);
        ASSERT_EQ(RSA_SetPrivateKey(Rsa, Broken.data(), (int32)Broken.size()), 1);
        EXPECT_EQ(RSA_Sign(Rsa, Data.data(), 20, Out.data(), 65, &Written), Signs);
        if (Signs) {
            EXPECT_EQ(std::string(Out.data(), 64), Good);
        }
    }
    // A public key alone does not sign.
    ASSERT_EQ(RSA_SetPrivateKey(Rsa, Der.data(), (int32)Der.size()), 1);
    EXPECT_EQ(RSA_HasPrivateKey(Rsa), 1);
    BigIntLocal E, N;
    BigInt_SetWord(E, 65537);
    ASN1 *Root = nullptr;
    ASN1_Create(&Root);
    ASN1_Decode(Root, Der.data(), (int32)Der.size());
    ASN1_ParseBigInt(ASN1_GetElement(ASN1_GetElement(Root, 0), 1), N);
    ASN1_Delete(&Root);
    ASSERT_EQ(RSA_SetPublicKeyPair(Rsa, E, N), 1);
    EXPECT_EQ(RSA_HasPrivateKey(Rsa), 0);
    EXPECT_EQ(RSA_Sign(Rsa, Data.data(), 20, Out.data(), 65, &Written), 0);
}

TEST_F(RsaTest, KeysAreCheckedOnImport) {
    RSA *Rsa = nullptr;
    RSA_Create(&Rsa);
    BigIntLocal E, N;
    struct {
        const char *E;
        const char *N;
        int32 Result;
    } Pairs[] = {
        {"10001", "0", 0},
        {"3", "1", 0},
        {"10001", "", 0},    // filled below: an even 1,024-bit modulus
        {"1", "", 0},        // e = 1
        {"10000", "", 0},    // even e
        {"10001", "", 1},    // the odd modulus
    };
    std::string Odd = "C" + std::string(254, '7') + "1", Even = "C" + std::string(254, '7') + "2";
    int Row = 0;
    for (const auto &Pair : Pairs) {
        BigInt_ImportHex(E, Pair.E);
        BigInt_ImportHex(N, *Pair.N ? Pair.N : Row == 2 ? Even.c_str() : Odd.c_str());
        EXPECT_EQ(RSA_SetPublicKeyPair(Rsa, E, N), Pair.Result) << Row;
        EXPECT_EQ(RSA_GetModulusByteCount(Rsa), Pair.Result ? 128 : 0) << Row;
        Row++;
    }
    // Moduli of 511 and 8,193 bits; e not below n.
    BigInt_SetWord(E, 3);
    BigInt_SetWord(N, 1);
    BigInt_ShiftLeft(N, N, 510);
    BigInt_Add(N, N, E);
    EXPECT_EQ(RSA_SetPublicKeyPair(Rsa, E, N), 0);
    BigInt_SetWord(N, 1);
    BigInt_ShiftLeft(N, N, 8192);
    BigInt_Add(N, N, E);
    EXPECT_EQ(RSA_SetPublicKeyPair(Rsa, E, N), 0);
    BigInt_ImportHex(N, Odd.c_str());
    EXPECT_EQ(RSA_SetPublicKeyPair(Rsa, N, N), 0);
    // Broken DER.
    for (const char *Hex : {"", "30", "3003020105", "3006020105020100", "3006040105020103"}) {
        const std::string Der = FromHex(Hex);
        EXPECT_EQ(RSA_SetPublicKey(Rsa, Der.data(), (int32)Der.size()), 0) << Hex;
        EXPECT_EQ(RSA_SetPrivateKey(Rsa, Der.data(), (int32)Der.size()), 0) << Hex;
    }
    EXPECT_EQ(RSA_SetPublicKey(Rsa, nullptr, 0), 0);
    RSA_Delete(&Rsa);
}

TEST_F(RsaTest, PublicKeyObject) {
    const CryptAsymmetricInterface *Interface = nullptr;
    EXPECT_EQ(CryptAsymmetric_InterfaceFromName("rsa", &Interface), 1);
    EXPECT_EQ(Interface, &RSA_INTERFACE);
    EXPECT_EQ(CryptAsymmetric_InterfaceFromName("DSA", &Interface), 0);
    EXPECT_EQ(Interface, nullptr);
    EXPECT_EQ(CryptAsymmetric_InterfaceFromOid("1.2.840.113549.1.1.1", &Interface), 1);
    EXPECT_EQ(CryptAsymmetric_InterfaceFromOid("1.2.840.113549.1.1.11", &Interface), 0);
    Key Fresh;
    EXPECT_EQ(CryptAsymmetric_Reset(Fresh.Object), 1);
    EXPECT_EQ(CryptAsymmetric_IsRSA(Fresh.Object), 0);
    // A SubjectPublicKeyInfo whose BIT STRING has unused bits, or an
    // unknown algorithm, is refused.
    const std::string Spki = SmallKey().second;
    SKIP_UNLESS(!Spki.empty(), "openssl is not installed");
    Key Good, Unused, Unknown;
    EXPECT_TRUE(Good.FromSpki(Spki));
    EXPECT_EQ(CryptAsymmetric_IsRSA(Good.Object), 1);
    EXPECT_EQ(CryptAsymmetric_CanSign(Good.Object), 0);
    std::string Patched = Spki;
    Patched[19] = 1;
    EXPECT_FALSE(Unused.FromSpki(Patched));
    Patched = Spki;
    Patched[14] = 2;
    EXPECT_FALSE(Unknown.FromSpki(Patched));
    // An even modulus (its last byte sits before 02 03 01 00 01) is refused
    // at once: the Montgomery set-up never sees it.
    Patched = Spki;
    Patched[Patched.size() - 6] &= 0xfe;
    Key Even;
    EXPECT_FALSE(Even.FromSpki(Patched));
    EXPECT_EQ(CryptAsymmetric_IsRSA(Even.Object), 1);
    EXPECT_EQ(RSA_GetModulusByteCount(RsaOf(Even)), 0);
    // With authentication off every signature passes; on again, none of these.
    Authenticate_SetEnabled(0);
    EXPECT_EQ(Good.Verify("digest", ""), 1);
    Authenticate_SetEnabled(1);
    EXPECT_EQ(Good.Verify("digest", ""), 0);
    EXPECT_EQ(Good.Verify("digest", std::string(64, '\x01')), 0);
    EXPECT_EQ(Good.Verify("digest", std::string(65, '\x01')), 0);
}

TEST_F(RsaDeathTest, CallerErrorsStop) {
    Key Fresh;
    EXPECT_DEATH(Fresh.Verify("d", "s"), "Not Supported");
    EXPECT_DEATH(CryptAsymmetric_InitParams(Fresh.Object, ""), "Not Supported");
    const std::string Spki = SmallKey().second;
    SKIP_UNLESS(!Spki.empty(), "openssl is not installed");
    Key Public;
    ASSERT_TRUE(Public.FromSpki(Spki));
    EXPECT_DEATH(Public.Verify(std::string(1024, 'd'), "s"), "RSA digest overflow");
}

} // namespace
