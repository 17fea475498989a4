// Data stores stamped by Python (struct, zlib, gzip) into ELF files (by
// objcopy), PE images and disk-image trailers, read back whole; forged
// sizes, bad CRCs and cut regions give no store.
#include <gtest/gtest.h>

#include <string>

#include "content/executable.h"
#include "tests/support/log_capture.h"
#include "tests/support/python.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

// Writes the test files into the folder named on standard input.
constexpr const char *Stamp = R"(
import gzip, shutil, struct, subprocess, sys, zlib
d = sys.stdin.read()
def store(text, version=2, capacity=1, pack=None, inflated=None, length=None, crc_flip=0):
    data = text if pack is None else pack(text)
    head = b'TQXDS' + bytes([48 + version]) + struct.pack('>HI', capacity, len(data) if length is None else length)
    if version >= 3:
        head += struct.pack('>I', (len(text) if inflated is None else inflated) if pack else 0)
    area = data.ljust(capacity * 1024, b'\xa5')
    return head + struct.pack('>I', zlib.crc32(head + bytes(4) + area) ^ crc_flip) + area
def elf(name, blob, section='.datastore'):
    open(d + '/blob', 'wb').write(blob)
    subprocess.run(['objcopy', '--add-section', section + '=' + d + '/blob', '/bin/true', d + '/' + name], check=True)
def pe(name, blob, plus):
    dos = bytearray(64); dos[0:2] = b'MZ'; struct.pack_into('<I', dos, 0x3c, 64)
    size = 240 if plus else 224
    head = b'PE\0\0' + struct.pack('<HHIIIHH', 0x8664 if plus else 0x14c, 0, 0, 0, 0, size, 0x22)
    opt = bytearray(size); struct.pack_into('<H', opt, 0, 0x20b if plus else 0x10b)
    count = 108 if plus else 92
    struct.pack_into('<I', opt, count, 16)
    at = 64 + len(head) + size
    struct.pack_into('<II', opt, count + 4 + 32, at, len(blob) + 8)
    open(d + '/' + name, 'wb').write(bytes(dos) + head + bytes(opt) + b'\x08\x02\x00\x00\x00\x02\x02\x00' + blob)
def dmg(name, blob):
    trailer = bytearray(512); trailer[0:4] = b'koly'
    struct.pack_into('>QQ', trailer, 296, 1000, (7 << 32) | len(blob))
    open(d + '/' + name, 'wb').write(bytes(1000) + blob + b'TQXDATASTOREafter' + bytes(88) + bytes(trailer))
long = b'compressed text ' * 300
elf('plain', b'junk TQXDATASTOREplain text\0after', '.DataStore')
elf('v2', b'xx' + store(b'version two'))
elf('v3-zlib', store(long, 3, 2, zlib.compress))
elf('v1-no-inflate', store(b'v1 text', 1))
pe('pe32-v3-gzip', store(long, 3, 2, gzip.compress), False)
pe('pe32plus-v2', store(b'pe plus', 2), True)
dmg('dmg-v2', store(b'from the image'))
elf('bad-crc', store(b'version two', crc_flip=1))
elf('too-long', store(b'x', length=2048))
elf('cut', store(b'version two', capacity=4)[:1500])
elf('short-stream', store(long, 3, 2, zlib.compress, inflated=len(long) + 1))
elf('broken-stream', store(b'not deflate at all', 3, 1, lambda t: t))
elf('past-limit', store(bytes(5 << 20), 3, 8, zlib.compress))
shutil.copy('/bin/true', d + '/none')
print(len(long))
)";

class DataStoreTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        Debug_PrintCallback(CaptureLogMirrored);
        Captured.clear();
        Long = std::stoi(RunPython(Stamp, Temp.Path));
    }
    // The store's text, or "-" when there is none.
    std::string Read(const std::string &Name) {
        char *Text = nullptr;
        int32 Length = -1;
        if (!Executable_GetDataStore((Temp / Name).c_str(), &Text, &Length)) {
            EXPECT_EQ(Text, nullptr);
            EXPECT_EQ(Length, 0);
            return "-";
        }
        std::string Answer(Text, (size_t)Length);
        EXPECT_EQ(Text[Length], 0);
        EXPECT_EQ(Executable_ReleaseDataStore(nullptr, &Text, &Length), 1);
        EXPECT_EQ(Text, nullptr);
        EXPECT_EQ(Length, 0);
        return Answer;
    }
    TempDirectory Temp;
    int Long = 0;
};

TEST_F(DataStoreTest, StampedStoresReadBack) {
    std::string Long;
    for (int Index = 0; Index < 300; Index++) Long += "compressed text ";
    ASSERT_EQ((int)Long.size(), this->Long);
    const struct {
        const char *File;
        std::string Text;
    } Cases[] = {
        {"plain", "plain text"},
        {"v2", "version two"},
        {"v3-zlib", Long},
        {"v1-no-inflate", "v1 text"},
        {"pe32-v3-gzip", Long},
        {"pe32plus-v2", "pe plus"},
        {"dmg-v2", "from the image"},
        {"short-stream", "-"},
        {"bad-crc", "-"},
        {"too-long", "-"},
        {"cut", "-"},
        {"broken-stream", "-"},
        {"past-limit", "-"},
        {"none", "-"},
        {"missing-file", "-"},
    };
    for (const auto &Case : Cases) EXPECT_EQ(Read(Case.File), Case.Text) << Case.File;
    for (const char *Line : {"Data store crc hash invalid (0x", "Data store size greater than allowed (2048 > 1)",
                             "Data store uncompress error (-3)", "Data store inflated short (4800 < 4801)",
                             "Data store refused: its text of 5242880 bytes passes the limit of 4194304 bytes"})
        EXPECT_NE(Captured.find(Line), std::string::npos) << Line;
}

} // namespace
