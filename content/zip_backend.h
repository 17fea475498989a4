// The zip back end: the operating-system, file-stream and cryptography
// functions a zip library reaches the system through, under the names and
// result conventions of minizip-ng's back-end families (mz_os_*, mz_path_*,
// mz_stream_os_*, mz_crypt_*). They run on the system's own File and path
// layer, random source, Hash, HMAC, PBKDF2 and AES, so no other
// operating-system or crypto library is involved. The archive reader and
// extraction (zip.h) use them; each is also usable and tested alone.
//
// Results: MZ_OK (0) or a negative code; the stream functions answer -1 for
// their failures and byte counts otherwise.
#pragma once

#include <dirent.h>
#include <time.h>

#include "runtime/types.h"

#define MZ_OK 0
#define MZ_PARAM_ERROR (-102)
#define MZ_INTERNAL_ERROR (-104)
#define MZ_CRYPT_ERROR (-106)
#define MZ_EXIST_ERROR (-107)
#define MZ_HASH_ERROR (-110)

// Stream open modes.
#define MZ_OPEN_MODE_READ 0x01
#define MZ_OPEN_MODE_WRITE 0x02
#define MZ_OPEN_MODE_READWRITE (MZ_OPEN_MODE_READ | MZ_OPEN_MODE_WRITE)
#define MZ_OPEN_MODE_APPEND 0x04
#define MZ_OPEN_MODE_CREATE 0x08

// Seek origins.
#define MZ_SEEK_SET 0
#define MZ_SEEK_CUR 1
#define MZ_SEEK_END 2

// Hash algorithm numbers.
#define MZ_HASH_SHA1 20
#define MZ_HASH_SHA256 23

// Text encodings of mz_os_utf8_string_create.
#define MZ_ENCODING_CODEPAGE_437 437
#define MZ_ENCODING_UTF8 65001

// Bytes of the directory-entry name handed back by mz_os_read_dir.
#define MZ_DIR_NAME_SIZE 1024

RUNTIME_EXTERN_C_BEGIN

typedef struct mz_stream_vtbl_s mz_stream_vtbl;

// Every stream begins with this header.
typedef struct mz_stream_s {
    mz_stream_vtbl *vtbl;
    struct mz_stream_s *base;
} mz_stream;

typedef int32_t (*mz_stream_open_cb)(void *stream, const char *path, int32_t mode);
typedef int32_t (*mz_stream_is_open_cb)(void *stream);
typedef int32_t (*mz_stream_read_cb)(void *stream, void *buf, int32_t size);
typedef int32_t (*mz_stream_write_cb)(void *stream, const void *buf, int32_t size);
typedef int64_t (*mz_stream_tell_cb)(void *stream);
typedef int32_t (*mz_stream_seek_cb)(void *stream, int64_t offset, int32_t origin);
typedef int32_t (*mz_stream_close_cb)(void *stream);
typedef int32_t (*mz_stream_error_cb)(void *stream);
typedef void *(*mz_stream_create_cb)(void **stream);
typedef void (*mz_stream_destroy_cb)(void **stream);
typedef int32_t (*mz_stream_get_prop_int64_cb)(void *stream, int32_t prop, int64_t *value);
typedef int32_t (*mz_stream_set_prop_int64_cb)(void *stream, int32_t prop, int64_t value);

struct mz_stream_vtbl_s {
    mz_stream_open_cb open;
    mz_stream_is_open_cb is_open;
    mz_stream_read_cb read;
    mz_stream_write_cb write;
    mz_stream_tell_cb tell;
    mz_stream_seek_cb seek;
    mz_stream_close_cb close;
    mz_stream_error_cb error;
    mz_stream_create_cb create;
    mz_stream_destroy_cb destroy;
    mz_stream_get_prop_int64_cb get_prop_int64;
    mz_stream_set_prop_int64_cb set_prop_int64;
};

// ---- Streams on files ----

int32_t mz_stream_os_open(void *stream, const char *path, int32_t mode);
int32_t mz_stream_os_is_open(void *stream);
int32_t mz_stream_os_read(void *stream, void *buf, int32_t size);
int32_t mz_stream_os_write(void *stream, const void *buf, int32_t size);
int64_t mz_stream_os_tell(void *stream);
int32_t mz_stream_os_seek(void *stream, int64_t offset, int32_t origin);
int32_t mz_stream_os_close(void *stream);
int32_t mz_stream_os_error(void *stream);
void *mz_stream_os_create(void **stream);
void mz_stream_os_delete(void **stream);
void *mz_stream_os_get_interface(void);

// ---- Operating system ----

uint8_t *mz_os_utf8_string_create(const char *string, int32_t encoding);
void mz_os_utf8_string_delete(uint8_t **string);
int32_t mz_os_rand(uint8_t *buf, int32_t size);
int32_t mz_os_rename(const char *source_path, const char *target_path);
int32_t mz_os_unlink(const char *path);
int32_t mz_os_delete(const char *path);
int32_t mz_os_file_exists(const char *path);
int64_t mz_os_get_file_size(const char *path);
// Times are the file's real times: broken down and put together in UTC, so
// a date read and set again is the same whatever the local zone.
int32_t mz_os_get_file_date(const char *path, time_t *modified_date, time_t *accessed_date, time_t *creation_date);
int32_t mz_os_set_file_date(const char *path, time_t modified_date, time_t accessed_date, time_t creation_date);
int32_t mz_os_get_file_attribs(const char *path, uint32_t *attributes);
int32_t mz_os_set_file_attribs(const char *path, uint32_t attributes);
int32_t mz_os_make_dir(const char *path);
int32_t mz_dir_make(const char *path);
// A listing of the folder; entries come back one at a time (names cut to
// the record's d_name), none at the end and every call after.
void *mz_os_open_dir(const char *path);
struct dirent *mz_os_read_dir(void *dir);
int32_t mz_os_close_dir(void *dir);
int32_t mz_os_is_dir(const char *path);
int32_t mz_os_is_symlink(const char *path);
int32_t mz_os_make_symlink(const char *path, const char *target_path);
int32_t mz_os_read_symlink(const char *path, char *target_path, int32_t max_target_path);
uint64_t mz_os_ms_time(void);

// ---- Paths (texts only) ----

// Lexical: drops "." components and folds "name/.." (a ".." with nothing
// before it is dropped); "/" or "\" separate, "/" joins, and a leading and a
// trailing separator are kept. MZ_INTERNAL_ERROR when it does not fit.
int32_t mz_path_resolve(const char *path, char *target, int32_t max_target);
int32_t mz_path_remove_filename(char *path);
int32_t mz_path_remove_extension(char *path);
int32_t mz_path_get_filename(const char *path, const char **filename);

// ---- Cryptography ----

void *mz_crypt_sha_create(void **handle);
void mz_crypt_sha_delete(void **handle);
void mz_crypt_sha_set_algorithm(void *handle, uint16_t algorithm);
int32_t mz_crypt_sha_begin(void *handle);
int32_t mz_crypt_sha_update(void *handle, const void *buf, int32_t size);
int32_t mz_crypt_sha_end(void *handle, uint8_t *digest, int32_t digest_size);

void *mz_crypt_hmac_create(void **handle);
void mz_crypt_hmac_delete(void **handle);
void mz_crypt_hmac_set_algorithm(void *handle, uint16_t algorithm);
int32_t mz_crypt_hmac_init(void *handle, const void *key, int32_t key_length);
void mz_crypt_hmac_reset(void *handle);
int32_t mz_crypt_hmac_update(void *handle, const void *buf, int32_t size);
int32_t mz_crypt_hmac_end(void *handle, uint8_t *digest, int32_t digest_size);
int32_t mz_crypt_hmac_copy(void *src_handle, void *target_handle);

// PBKDF2 with HMAC-SHA-1, whatever the caller's algorithm.
int32_t mz_crypt_pbkdf2(uint8_t *password, int32_t password_length, uint8_t *salt, int32_t salt_length,
                        int32_t iteration_count, uint8_t *key, int32_t key_length);

void *mz_crypt_aes_create(void **handle);
void mz_crypt_aes_delete(void **handle);
void mz_crypt_aes_reset(void *handle);
void mz_crypt_aes_set_mode(void *handle, int32_t mode);
int32_t mz_crypt_aes_set_encrypt_key(void *handle, const void *key, int32_t key_length);
int32_t mz_crypt_aes_set_decrypt_key(void *handle, const void *key, int32_t key_length);
// Exactly one 16-byte block in place: 16, or MZ_PARAM_ERROR for any other
// size (the buffer then unchanged).
int32_t mz_crypt_aes_encrypt(void *handle, uint8_t *buf, int32_t size);
int32_t mz_crypt_aes_decrypt(void *handle, uint8_t *buf, int32_t size);

int32_t mz_crypt_rand(uint8_t *buf, int32_t size);
// Zip signing is not supported: always MZ_CRYPT_ERROR.
int32_t mz_crypt_sign(uint8_t *message, int32_t message_size, uint8_t *cert_data, int32_t cert_data_size,
                      const char *cert_pwd, uint8_t **signature, int32_t *signature_size);
int32_t mz_crypt_sign_verify(uint8_t *message, int32_t message_size, uint8_t *signature, int32_t signature_size);

RUNTIME_EXTERN_C_END
