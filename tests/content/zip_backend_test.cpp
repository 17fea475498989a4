// The zip back end alone: the OS stream's open modes, transfers, seeks and
// kept errors; OS functions (rename, delete, sizes, dates in two time
// zones, attributes, folders, listings with long names and a sticky end,
// links); the path texts; and the cryptography against references (RFC 6070
// PBKDF2 and RFC 2202 HMAC-SHA-1 through Python's hashlib and hmac, FIPS 197
// AES through `openssl enc -aes-128-ecb`, SHA-1 and SHA-256 digests).
#include "content/zip_backend.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <set>

#include "tests/support/python.h"
#include "tests/support/requirement.h"
#include "tests/support/runtime.h"
#include "tests/support/system.h"

namespace {

class ZipBackendTest : public RuntimeTest {
  protected:
    TempDirectory Temp;
};

std::string Hex(const uint8_t *Data, size_t Length) {
    return ToHex(std::string(reinterpret_cast<const char *>(Data), Length));
}

TEST_F(ZipBackendTest, StreamModes) {
    const std::string Path = Temp / "file.bin";
    void *Stream = nullptr;
    ASSERT_NE(mz_stream_os_create(&Stream), nullptr);
    EXPECT_EQ(mz_stream_os_is_open(Stream), -1);
    EXPECT_EQ(mz_stream_os_open(Stream, nullptr, MZ_OPEN_MODE_READ), -1);
    // Append needs an existing file; a write without append or create fails.
    EXPECT_EQ(mz_stream_os_open(Stream, Path.c_str(), MZ_OPEN_MODE_READWRITE | MZ_OPEN_MODE_APPEND), -1);
    EXPECT_NE(mz_stream_os_error(Stream), 0);
    EXPECT_EQ(access(Path.c_str(), F_OK), -1);
    EXPECT_EQ(mz_stream_os_open(Stream, Path.c_str(), MZ_OPEN_MODE_WRITE), -1);
    ASSERT_EQ(mz_stream_os_open(Stream, Path.c_str(), MZ_OPEN_MODE_READWRITE | MZ_OPEN_MODE_CREATE), MZ_OK);
    EXPECT_EQ(mz_stream_os_is_open(Stream), MZ_OK);
    EXPECT_EQ(mz_stream_os_tell(Stream), 0);
    EXPECT_EQ(mz_stream_os_write(Stream, "hello world", 11), 11);
    EXPECT_EQ(mz_stream_os_seek(Stream, -5, MZ_SEEK_END), MZ_OK);
    char Buffer[16] = {0};
    EXPECT_EQ(mz_stream_os_read(Stream, Buffer, sizeof(Buffer)), 5);
    EXPECT_STREQ(Buffer, "world");
    EXPECT_EQ(mz_stream_os_read(Stream, Buffer, sizeof(Buffer)), 0); // the end
    EXPECT_EQ(mz_stream_os_seek(Stream, 0, 7), -1);
    EXPECT_EQ(mz_stream_os_seek(Stream, 2, MZ_SEEK_SET), MZ_OK);
    EXPECT_EQ(mz_stream_os_seek(Stream, 2, MZ_SEEK_CUR), MZ_OK);
    EXPECT_EQ(mz_stream_os_tell(Stream), 4);
    EXPECT_EQ(mz_stream_os_close(Stream), MZ_OK);
    EXPECT_EQ(mz_stream_os_read(Stream, Buffer, 4), -1);
    // Append opens the existing file for reading and writing, unchanged.
    ASSERT_EQ(mz_stream_os_open(Stream, Path.c_str(), MZ_OPEN_MODE_READWRITE | MZ_OPEN_MODE_APPEND), MZ_OK);
    mz_stream_os_close(Stream);
    EXPECT_EQ(ReadFile(Path), "hello world");
    // Create truncates; a read-only file is made writable first.
    chmod(Path.c_str(), 0444);
    ASSERT_EQ(mz_stream_os_open(Stream, Path.c_str(), MZ_OPEN_MODE_READWRITE | MZ_OPEN_MODE_CREATE), MZ_OK);
    mz_stream_os_close(Stream);
    EXPECT_EQ(ReadFile(Path), "");
    struct stat Status;
    ASSERT_EQ(stat(Path.c_str(), &Status), 0);
    EXPECT_EQ(Status.st_mode & 0777, 0644u);
    // Read only of a missing file keeps the platform error.
    EXPECT_EQ(mz_stream_os_open(Stream, (Temp / "missing").c_str(), MZ_OPEN_MODE_READ), -1);
    EXPECT_NE(mz_stream_os_error(Stream), 0);
    mz_stream_os_delete(&Stream);
    EXPECT_EQ(Stream, nullptr);
    mz_stream_vtbl *Table = static_cast<mz_stream_vtbl *>(mz_stream_os_get_interface());
    EXPECT_EQ(Table->open, mz_stream_os_open);
    EXPECT_EQ(Table->destroy, mz_stream_os_delete);
    EXPECT_EQ(Table->get_prop_int64, nullptr);
}

TEST_F(ZipBackendTest, FilesFoldersAndLinks) {
    const std::string A = Temp / "a.txt", B = Temp / "b.txt";
    std::ofstream(A) << "12345";
    EXPECT_EQ(mz_os_file_exists(A.c_str()), MZ_OK);
    EXPECT_EQ(mz_os_get_file_size(A.c_str()), 5);
    EXPECT_EQ(mz_os_get_file_size((Temp / "none").c_str()), 0);
    std::ofstream(B) << "old";
    EXPECT_EQ(mz_os_rename(A.c_str(), B.c_str()), MZ_OK); // replaces
    EXPECT_EQ(ReadFile(B), "12345");
    EXPECT_EQ(mz_os_file_exists(A.c_str()), MZ_EXIST_ERROR);
    EXPECT_EQ(mz_os_rename(A.c_str(), B.c_str()), MZ_INTERNAL_ERROR);
    EXPECT_EQ(mz_dir_make(nullptr), MZ_PARAM_ERROR);
    EXPECT_EQ(mz_dir_make((Temp / "x/y/z").c_str()), MZ_OK);
    EXPECT_EQ(mz_os_is_dir((Temp / "x/y/z").c_str()), MZ_OK);
    EXPECT_EQ(mz_os_is_dir(B.c_str()), MZ_EXIST_ERROR);
    EXPECT_EQ(mz_os_make_dir((Temp / "x/w").c_str()), MZ_OK);
    EXPECT_EQ(mz_os_make_dir((Temp / "q/r").c_str()), MZ_INTERNAL_ERROR); // one level only
    EXPECT_EQ(mz_os_make_symlink((Temp / "link").c_str(), "b.txt"), MZ_OK);
    EXPECT_EQ(mz_os_is_symlink((Temp / "link").c_str()), MZ_OK);
    EXPECT_EQ(mz_os_is_symlink(B.c_str()), MZ_EXIST_ERROR);
    char Target[64];
    EXPECT_EQ(mz_os_read_symlink((Temp / "link").c_str(), Target, sizeof(Target)), MZ_OK);
    EXPECT_STREQ(Target, "b.txt");
    EXPECT_EQ(mz_os_read_symlink(B.c_str(), Target, sizeof(Target)), MZ_INTERNAL_ERROR);
    EXPECT_EQ(mz_os_unlink((Temp / "link").c_str()), MZ_OK);
    EXPECT_EQ(mz_os_file_exists(B.c_str()), MZ_OK); // not the target
    EXPECT_EQ(mz_os_delete(B.c_str()), MZ_OK);
    EXPECT_EQ(mz_os_unlink(B.c_str()), MZ_INTERNAL_ERROR);
    // Attributes: execute is added, nothing is taken.
    std::ofstream(A) << "x";
    uint32_t Attributes = 0;
    EXPECT_EQ(mz_os_set_file_attribs(A.c_str(), 0x8), MZ_OK);
    EXPECT_EQ(mz_os_get_file_attribs(A.c_str(), &Attributes), MZ_OK);
    EXPECT_TRUE(Attributes & 0x8);
    EXPECT_EQ(mz_os_get_file_attribs((Temp / "none").c_str(), &Attributes), MZ_INTERNAL_ERROR);
}

// A date set is the date read, in zones behind and ahead of UTC.
TEST_F(ZipBackendTest, FileDatesSurviveAnyZone) {
    const std::string Path = Temp / "dated";
    std::ofstream(Path) << "x";
    for (const char *Zone : {"America/New_York", "Asia/Kolkata", "UTC"}) {
        ScopedEnv Tz("TZ", Zone);
        tzset();
        const time_t When = 1614834367; // 2021-03-04 05:06:07 UTC
        ASSERT_EQ(mz_os_set_file_date(Path.c_str(), When, When + 60, When - 60), MZ_OK);
        time_t Modified = 0, Accessed = 0, Created = 0;
        ASSERT_EQ(mz_os_get_file_date(Path.c_str(), &Modified, &Accessed, &Created), MZ_OK);
        EXPECT_EQ(Modified, When) << Zone;
        EXPECT_EQ(Accessed, When + 60) << Zone;
        struct stat Status;
        stat(Path.c_str(), &Status);
        EXPECT_EQ(Status.st_mtime, When) << Zone;
    }
    tzset();
    EXPECT_EQ(mz_os_get_file_date((Temp / "none").c_str(), nullptr, nullptr, nullptr), MZ_INTERNAL_ERROR);
}

TEST_F(ZipBackendTest, ListingHandsOutLongNamesWholeAndStaysEnded) {
    const std::string Folder = Temp / "list";
    mz_dir_make(Folder.c_str());
    const std::string Long(255, 'n');
    std::ofstream(Folder + "/" + Long) << "x";
    std::ofstream(Folder + "/short") << "x";
    mz_dir_make((Folder + "/sub").c_str());
    void *Listing = mz_os_open_dir(Folder.c_str());
    ASSERT_NE(Listing, nullptr);
    std::set<std::string> Names;
    while (struct dirent *Item = mz_os_read_dir(Listing)) {
        Names.insert(Item->d_name);
        if (std::string(Item->d_name) == "sub") {
            EXPECT_EQ(Item->d_type, DT_DIR);
        }
    }
    EXPECT_EQ(mz_os_read_dir(Listing), nullptr);
    EXPECT_EQ(mz_os_read_dir(Listing), nullptr);
    EXPECT_TRUE(Names.count(Long)) << "255-byte name cut";
    EXPECT_TRUE(Names.count("short"));
    EXPECT_TRUE(Names.count("sub"));
    EXPECT_EQ(mz_os_close_dir(Listing), MZ_OK);
    EXPECT_EQ(mz_os_close_dir(nullptr), MZ_PARAM_ERROR);
    EXPECT_EQ(mz_os_open_dir((Temp / "none").c_str()), nullptr);
}

TEST_F(ZipBackendTest, TextsRandomAndTime) {
    uint8_t *Copy = mz_os_utf8_string_create("na\xc3\xafve", MZ_ENCODING_UTF8);
    ASSERT_NE(Copy, nullptr);
    EXPECT_STREQ(reinterpret_cast<char *>(Copy), "na\xc3\xafve");
    mz_os_utf8_string_delete(&Copy);
    EXPECT_EQ(Copy, nullptr);
    // A code page 437 name gets no conversion.
    EXPECT_EQ(mz_os_utf8_string_create("na\x8bve", MZ_ENCODING_CODEPAGE_437), nullptr);
    uint8_t First[32] = {0}, Second[32] = {0};
    EXPECT_EQ(mz_os_rand(First, 32), 32);
    EXPECT_EQ(mz_crypt_rand(Second, 32), 32);
    EXPECT_NE(memcmp(First, Second, 32), 0);
    const uint64_t Now = mz_os_ms_time();
    EXPECT_NEAR((double)Now / 1000, (double)time(nullptr), 2.0);
}

TEST_F(ZipBackendTest, PathTexts) {
    struct Case {
        const char *In, *Out;
    };
    const Case Resolves[] = {{"a/./b/../c", "a/c"}, {"/x/y/../../z", "/z"}, {"../a", "a"},
                             {"a\\b\\..\\c/", "a/c/"}, {"./", ""},          {"/", "/"}};
    char Out[64];
    for (const Case &C : Resolves) {
        EXPECT_EQ(mz_path_resolve(C.In, Out, sizeof(Out)), MZ_OK) << C.In;
        EXPECT_STREQ(Out, C.Out) << C.In;
    }
    EXPECT_EQ(mz_path_resolve("abc", Out, 0), MZ_PARAM_ERROR);
    EXPECT_EQ(mz_path_resolve("abcdef", Out, 4), MZ_INTERNAL_ERROR);
    char Path[64] = "dir/sub/name.tar.gz";
    EXPECT_EQ(mz_path_remove_extension(Path), MZ_OK);
    EXPECT_STREQ(Path, "dir/sub/name.tar");
    EXPECT_EQ(mz_path_remove_filename(Path), MZ_OK);
    EXPECT_STREQ(Path, "dir/sub");
    char Dotted[64] = "dir.d/name";
    mz_path_remove_extension(Dotted);
    EXPECT_STREQ(Dotted, "dir.d/name");
    const char *Name = nullptr;
    EXPECT_EQ(mz_path_get_filename("a/b\\c.txt", &Name), MZ_OK);
    EXPECT_STREQ(Name, "c.txt");
    EXPECT_EQ(mz_path_get_filename("a/b/", &Name), MZ_EXIST_ERROR);
    EXPECT_EQ(mz_path_get_filename(nullptr, &Name), MZ_PARAM_ERROR);
    EXPECT_EQ(mz_path_remove_filename(nullptr), MZ_PARAM_ERROR);
}

TEST_F(ZipBackendTest, DigestsAndMacsAgainstPython) {
    void *Sha = nullptr;
    mz_crypt_sha_create(&Sha);
    uint8_t Digest[32];
    // SHA-256 unless 20 is asked for.
    ASSERT_EQ(mz_crypt_sha_begin(Sha), MZ_OK);
    EXPECT_EQ(mz_crypt_sha_update(Sha, "abc", 3), 3);
    ASSERT_EQ(mz_crypt_sha_end(Sha, Digest, 32), MZ_OK);
    EXPECT_EQ(Hex(Digest, 32), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    mz_crypt_sha_set_algorithm(Sha, MZ_HASH_SHA1);
    mz_crypt_sha_begin(Sha);
    mz_crypt_sha_update(Sha, "abc", 3);
    mz_crypt_sha_end(Sha, Digest, 20);
    EXPECT_EQ(Hex(Digest, 20), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(mz_crypt_sha_update(Sha, nullptr, 3), MZ_PARAM_ERROR);
    EXPECT_EQ(mz_crypt_sha_begin(nullptr), MZ_PARAM_ERROR);
    mz_crypt_sha_delete(&Sha);
    EXPECT_EQ(Sha, nullptr);

    // RFC 2202 cases 1 and 2 (HMAC-SHA-1), and a SHA-256 MAC, against Python.
    const std::string Expected = RunPython("import hmac, hashlib\n"
                                           "print(hmac.new(b'\\x0b' * 20, b'Hi There', 'sha1').hexdigest())\n"
                                           "print(hmac.new(b'Jefe', b'what do ya want for nothing?', 'sha1').hexdigest())\n"
                                           "print(hmac.new(b'key', b'message', 'sha256').hexdigest())\n");
    EXPECT_EQ(Expected.substr(0, 41), "b617318655057264e28bc0b6fb378c8ef146be00\n");
    void *Mac = nullptr, *Copy = nullptr;
    mz_crypt_hmac_create(&Mac);
    mz_crypt_hmac_create(&Copy);
    mz_crypt_hmac_set_algorithm(Mac, MZ_HASH_SHA1);
    const std::string Key(20, '\x0b');
    ASSERT_EQ(mz_crypt_hmac_init(Mac, Key.data(), 20), MZ_OK);
    EXPECT_EQ(mz_crypt_hmac_update(Mac, "Hi ", 3), MZ_OK);
    ASSERT_EQ(mz_crypt_hmac_copy(Mac, Copy), MZ_OK); // a copy mid-message runs on alike
    mz_crypt_hmac_update(Mac, "There", 5);
    mz_crypt_hmac_update(Copy, "There", 5);
    uint8_t Out[32], CopyOut[32];
    ASSERT_EQ(mz_crypt_hmac_end(Mac, Out, 20), MZ_OK);
    ASSERT_EQ(mz_crypt_hmac_end(Copy, CopyOut, 20), MZ_OK);
    EXPECT_EQ(Hex(Out, 20), Expected.substr(0, 40));
    EXPECT_EQ(Hex(CopyOut, 20), Expected.substr(0, 40));
    // The zip format keeps 10 bytes of the MAC.
    mz_crypt_hmac_init(Mac, "Jefe", 4);
    mz_crypt_hmac_update(Mac, "what do ya want for nothing?", 28);
    ASSERT_EQ(mz_crypt_hmac_end(Mac, Out, 10), MZ_OK);
    EXPECT_EQ(Hex(Out, 10), Expected.substr(41, 20));
    // 23 (SHA-256) is the algorithm until another is set.
    void *Fresh = nullptr;
    mz_crypt_hmac_create(&Fresh);
    mz_crypt_hmac_init(Fresh, "key", 3);
    mz_crypt_hmac_update(Fresh, "message", 7);
    mz_crypt_hmac_end(Fresh, Out, 32);
    EXPECT_EQ(Hex(Out, 32), Expected.substr(82, 64));
    mz_crypt_hmac_delete(&Fresh);
    EXPECT_EQ(mz_crypt_hmac_update(Mac, nullptr, 1), MZ_PARAM_ERROR);
    mz_crypt_hmac_delete(&Mac);
    mz_crypt_hmac_delete(&Copy);
}

// RFC 6070 through the back end, checked against hashlib.
TEST_F(ZipBackendTest, Pbkdf2IsHmacSha1) {
    const std::string Expected = RunPython("import hashlib\n"
                                           "print(hashlib.pbkdf2_hmac('sha1', b'password', b'salt', 1, 20).hex())\n"
                                           "print(hashlib.pbkdf2_hmac('sha1', b'password', b'salt', 4096, 20).hex())\n"
                                           "print(hashlib.pbkdf2_hmac('sha1', b'passwordPASSWORDpassword', "
                                           "b'saltSALTsaltSALTsaltSALTsaltSALTsalt', 4096, 25).hex())\n");
    EXPECT_EQ(Expected.substr(0, 40), "0c60c80f961f0e71f3a9b524af6012062fe037a6");
    uint8_t Key[25];
    uint8_t Password[] = "password", Salt[] = "salt";
    ASSERT_EQ(mz_crypt_pbkdf2(Password, 8, Salt, 4, 1, Key, 20), MZ_OK);
    EXPECT_EQ(Hex(Key, 20), Expected.substr(0, 40));
    ASSERT_EQ(mz_crypt_pbkdf2(Password, 8, Salt, 4, 4096, Key, 20), MZ_OK);
    EXPECT_EQ(Hex(Key, 20), Expected.substr(41, 40));
    uint8_t Long[] = "passwordPASSWORDpassword", LongSalt[] = "saltSALTsaltSALTsaltSALTsaltSALTsalt";
    ASSERT_EQ(mz_crypt_pbkdf2(Long, 24, LongSalt, 36, 4096, Key, 25), MZ_OK);
    EXPECT_EQ(Hex(Key, 25), Expected.substr(82, 50));
    EXPECT_EQ(mz_crypt_pbkdf2(nullptr, 8, Salt, 4, 1, Key, 20), MZ_PARAM_ERROR);
    EXPECT_EQ(mz_crypt_pbkdf2(Password, 8, Salt, 4, 1, Key, 70000), MZ_CRYPT_ERROR);
}

TEST_F(ZipBackendTest, AesBlocksAgainstOpenSsl) {
    // Octal escapes: the shell's printf has no hexadecimal ones.
    const char *Command = "printf '\\000\\021\\042\\063\\104\\125\\146\\167\\210\\231\\252\\273\\314\\335\\356\\377' | "
                          "openssl enc -aes-128-ecb -nopad -K 000102030405060708090a0b0c0d0e0f | od -An -tx1 | tr -d ' \\n'";
    FILE *Pipe = popen(Command, "r");
    char Reference[64] = {0};
    if (Pipe == nullptr || fgets(Reference, sizeof(Reference), Pipe) == nullptr || strlen(Reference) != 32) {
        if (Pipe) pclose(Pipe);
        SKIP_UNLESS(false, "openssl not available");
    }
    pclose(Pipe);
    EXPECT_STREQ(Reference, "69c4e0d86a7b0430d8cdb78070b4c55a");
    void *Aes = nullptr;
    mz_crypt_aes_create(&Aes);
    mz_crypt_aes_set_mode(Aes, 3);
    mz_crypt_aes_reset(Aes);
    const uint8_t Key[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    ASSERT_EQ(mz_crypt_aes_set_encrypt_key(Aes, Key, 16), MZ_OK);
    uint8_t Block[32] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
    uint8_t Before[32];
    memcpy(Before, Block, 32);
    // Exactly one block: 32 bytes are refused and left alone.
    EXPECT_EQ(mz_crypt_aes_encrypt(Aes, Block, 32), MZ_PARAM_ERROR);
    EXPECT_EQ(memcmp(Block, Before, 32), 0);
    EXPECT_EQ(mz_crypt_aes_encrypt(Aes, Block, 16), 16);
    EXPECT_EQ(Hex(Block, 16), Reference);
    ASSERT_EQ(mz_crypt_aes_set_decrypt_key(Aes, Key, 16), MZ_OK);
    EXPECT_EQ(mz_crypt_aes_decrypt(Aes, Block, 16), 16);
    EXPECT_EQ(memcmp(Block, Before, 16), 0);
    EXPECT_EQ(mz_crypt_aes_set_encrypt_key(Aes, Key, 8), MZ_CRYPT_ERROR);
    mz_crypt_aes_delete(&Aes);
    EXPECT_EQ(Aes, nullptr);
    uint8_t *Signature = Block;
    int32_t Size = 5;
    EXPECT_EQ(mz_crypt_sign(Block, 16, Block, 16, "pw", &Signature, &Size), MZ_CRYPT_ERROR);
    EXPECT_EQ(Signature, nullptr);
    EXPECT_EQ(mz_crypt_sign_verify(Block, 16, Block, 16), MZ_CRYPT_ERROR);
}

} // namespace
