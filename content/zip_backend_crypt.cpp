// The zip back end's cryptography over the system's Hash, HMAC, PBKDF2 and
// AES (see zip_backend.h). Contexts are C-allocated records around the
// system objects; the objects wipe their secrets when deleted.
#include <stdlib.h>

#include "content/zip_backend.h"
#include "crypto/ciphers/aes.h"
#include "crypto/digests/hash.h"
#include "crypto/digests/hmac.h"
#include "crypto/digests/sha1.h"
#include "crypto/digests/sha256.h"

namespace {

struct ShaContext {
    Hash *Digest;
    uint16_t Algorithm;
};

struct HmacContext {
    HMAC *Mac;
    uint16_t Algorithm;
    const HashInterface *Bound; // null until init
};

struct AesContext {
    AES *Cipher;
    int32_t Mode; // recorded only: the zip format's counter mode is built by the caller
};

const HashInterface *Select(uint16_t Algorithm) { return Algorithm == MZ_HASH_SHA1 ? &SHA1_INTERFACE : &SHA256_INTERFACE; }

template <typename T> T *NewContext(void **Handle) {
    T *Context = static_cast<T *>(calloc(1, sizeof(T)));
    if (Handle != nullptr) *Handle = Context;
    return Context;
}

} // namespace

void *mz_crypt_sha_create(void **handle) {
    ShaContext *Context = NewContext<ShaContext>(handle);
    if (Context == nullptr) return nullptr;
    Hash_Create(&Context->Digest);
    Hash_SetInterface(Context->Digest, &SHA256_INTERFACE);
    Context->Algorithm = MZ_HASH_SHA256;
    return Context;
}

void mz_crypt_sha_delete(void **handle) {
    if (handle == nullptr || *handle == nullptr) return;
    ShaContext *Context = static_cast<ShaContext *>(*handle);
    Hash_Delete(&Context->Digest);
    free(Context);
    *handle = nullptr;
}

void mz_crypt_sha_set_algorithm(void *handle, uint16_t algorithm) {
    if (handle != nullptr) static_cast<ShaContext *>(handle)->Algorithm = algorithm;
}

int32_t mz_crypt_sha_begin(void *handle) {
    ShaContext *Context = static_cast<ShaContext *>(handle);
    if (Context == nullptr) return MZ_PARAM_ERROR;
    // Binding the record already bound resets it.
    return Hash_SetInterface(Context->Digest, Select(Context->Algorithm)) ? MZ_OK : MZ_HASH_ERROR;
}

int32_t mz_crypt_sha_update(void *handle, const void *buf, int32_t size) {
    ShaContext *Context = static_cast<ShaContext *>(handle);
    if (Context == nullptr || buf == nullptr || size < 0) return MZ_PARAM_ERROR;
    uint32 Processed = 0;
    return Hash_Process(Context->Digest, buf, (uint32)size, &Processed) ? size : MZ_HASH_ERROR;
}

int32_t mz_crypt_sha_end(void *handle, uint8_t *digest, int32_t digest_size) {
    ShaContext *Context = static_cast<ShaContext *>(handle);
    if (Context == nullptr || digest == nullptr) return MZ_PARAM_ERROR;
    return Hash_Generate(Context->Digest) && Hash_GetDigest(Context->Digest, digest, digest_size) ? MZ_OK
                                                                                                : MZ_HASH_ERROR;
}

void *mz_crypt_hmac_create(void **handle) {
    HmacContext *Context = NewContext<HmacContext>(handle);
    if (Context == nullptr) return nullptr;
    HMAC_Create(&Context->Mac);
    Context->Algorithm = MZ_HASH_SHA256;
    return Context;
}

void mz_crypt_hmac_delete(void **handle) {
    if (handle == nullptr || *handle == nullptr) return;
    HmacContext *Context = static_cast<HmacContext *>(*handle);
    HMAC_Delete(&Context->Mac);
    free(Context);
    *handle = nullptr;
}

void mz_crypt_hmac_set_algorithm(void *handle, uint16_t algorithm) {
    if (handle != nullptr) static_cast<HmacContext *>(handle)->Algorithm = algorithm;
}

int32_t mz_crypt_hmac_init(void *handle, const void *key, int32_t key_length) {
    HmacContext *Context = static_cast<HmacContext *>(handle);
    if (Context == nullptr || (key == nullptr && key_length > 0) || key_length < 0) return MZ_PARAM_ERROR;
    const HashInterface *Interface = Select(Context->Algorithm);
    if (Context->Bound != nullptr) HMAC_Reset(Context->Mac);
    if (!HMAC_SetHashInterface(Context->Mac, Interface)) return MZ_CRYPT_ERROR;
    Context->Bound = Interface;
    return HMAC_SetKey(Context->Mac, key != nullptr ? key : "", (uint32)key_length) ? MZ_OK : MZ_CRYPT_ERROR;
}

void mz_crypt_hmac_reset(void *handle) {
    HmacContext *Context = static_cast<HmacContext *>(handle);
    if (Context != nullptr && Context->Bound != nullptr) HMAC_Reset(Context->Mac);
}

int32_t mz_crypt_hmac_update(void *handle, const void *buf, int32_t size) {
    HmacContext *Context = static_cast<HmacContext *>(handle);
    if (Context == nullptr || buf == nullptr || size < 0) return MZ_PARAM_ERROR;
    return HMAC_Process(Context->Mac, buf, (uint32)size) ? MZ_OK : MZ_HASH_ERROR;
}

int32_t mz_crypt_hmac_end(void *handle, uint8_t *digest, int32_t digest_size) {
    HmacContext *Context = static_cast<HmacContext *>(handle);
    if (Context == nullptr || digest == nullptr) return MZ_PARAM_ERROR;
    return HMAC_Generate(Context->Mac) && HMAC_GetDigest(Context->Mac, digest, digest_size) ? MZ_OK : MZ_HASH_ERROR;
}

int32_t mz_crypt_hmac_copy(void *src_handle, void *target_handle) {
    HmacContext *Source = static_cast<HmacContext *>(src_handle);
    HmacContext *Target = static_cast<HmacContext *>(target_handle);
    if (Source == nullptr || Target == nullptr || Source->Bound == nullptr) return MZ_PARAM_ERROR;
    if (!HMAC_SetHashInterface(Target->Mac, Source->Bound)) return MZ_HASH_ERROR;
    Target->Bound = Source->Bound;
    Target->Algorithm = Source->Algorithm;
    return HMAC_CopyTo(Source->Mac, Target->Mac) ? MZ_OK : MZ_HASH_ERROR;
}

int32_t mz_crypt_pbkdf2(uint8_t *password, int32_t password_length, uint8_t *salt, int32_t salt_length,
                        int32_t iteration_count, uint8_t *key, int32_t key_length) {
    if (password == nullptr || salt == nullptr || key == nullptr) return MZ_PARAM_ERROR;
    if (password_length < 0 || salt_length < 0) return MZ_PARAM_ERROR;
    return HMACSHA1_DeriveKey(password, (uint32)password_length, salt, (uint32)salt_length, iteration_count, key,
                              key_length)
               ? MZ_OK
               : MZ_CRYPT_ERROR;
}

void *mz_crypt_aes_create(void **handle) {
    AesContext *Context = NewContext<AesContext>(handle);
    if (Context != nullptr) AES_Create(&Context->Cipher);
    return Context;
}

void mz_crypt_aes_delete(void **handle) {
    if (handle == nullptr || *handle == nullptr) return;
    AesContext *Context = static_cast<AesContext *>(*handle);
    AES_Delete(&Context->Cipher);
    free(Context);
    *handle = nullptr;
}

void mz_crypt_aes_reset(void *handle) { (void)handle; }

void mz_crypt_aes_set_mode(void *handle, int32_t mode) {
    if (handle != nullptr) static_cast<AesContext *>(handle)->Mode = mode;
}

int32_t mz_crypt_aes_set_encrypt_key(void *handle, const void *key, int32_t key_length) {
    AesContext *Context = static_cast<AesContext *>(handle);
    if (Context == nullptr || key == nullptr) return MZ_PARAM_ERROR;
    return AES_SetKey(Context->Cipher, static_cast<const uint8 *>(key), key_length) ? MZ_OK : MZ_CRYPT_ERROR;
}

int32_t mz_crypt_aes_set_decrypt_key(void *handle, const void *key, int32_t key_length) {
    return mz_crypt_aes_set_encrypt_key(handle, key, key_length);
}

int32_t mz_crypt_aes_encrypt(void *handle, uint8_t *buf, int32_t size) {
    AesContext *Context = static_cast<AesContext *>(handle);
    if (Context == nullptr || buf == nullptr || size != AES_BLOCKSIZE) return MZ_PARAM_ERROR;
    return AES_Encrypt(Context->Cipher, buf, buf, size) ? size : MZ_CRYPT_ERROR;
}

int32_t mz_crypt_aes_decrypt(void *handle, uint8_t *buf, int32_t size) {
    AesContext *Context = static_cast<AesContext *>(handle);
    if (Context == nullptr || buf == nullptr || size != AES_BLOCKSIZE) return MZ_PARAM_ERROR;
    return AES_Decrypt(Context->Cipher, buf, buf, size) ? size : MZ_CRYPT_ERROR;
}

int32_t mz_crypt_sign(uint8_t *message, int32_t message_size, uint8_t *cert_data, int32_t cert_data_size,
                      const char *cert_pwd, uint8_t **signature, int32_t *signature_size) {
    (void)message, (void)message_size, (void)cert_data, (void)cert_data_size, (void)cert_pwd;
    if (signature != nullptr) *signature = nullptr;
    if (signature_size != nullptr) *signature_size = 0;
    return MZ_CRYPT_ERROR;
}

int32_t mz_crypt_sign_verify(uint8_t *message, int32_t message_size, uint8_t *signature, int32_t signature_size) {
    (void)message, (void)message_size, (void)signature, (void)signature_size;
    return MZ_CRYPT_ERROR;
}
