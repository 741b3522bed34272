// The pieces the page ciphers share (see crypto.h for the schemes): errors,
// the Office password's bytes, base64, random bytes, and small OpenSSL
// wrappers (a hash with a reusable context, AES-CBC without padding).
#pragma once

#include <openssl/evp.h>

#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "db/coding/utf.h"
#include "db/error.h"
#include "db/jet/storage/crypto.h"
#include "db/jet/format/format.h"

namespace tp::db::jet::cipher_support {

[[noreturn]] void damaged(const std::string& file, const std::string& detail);
[[noreturn]] void unsupported(const std::string& file, const std::string& what);
[[noreturn]] void badPassword();
[[noreturn]] void openSslFailed(const char* what);

// The 4 bytes of (key XOR page number) that every scheme feeds its page key from.
std::array<uint8_t, 4> blockKey(const std::array<uint8_t, 4>& key, uint32_t page);
bool allZero(std::span<const uint8_t> b);
void randomBytes(uint8_t* out, size_t n);
std::vector<uint8_t> randomVector(size_t n);
// Random non-zero encoding key for a new file.
std::array<uint8_t, 4> newEncodingKey();

// An Office password as the key derivations take it: UTF-16LE, at most 255 units.
std::vector<uint8_t> officePassword(const std::string& password);
std::string base64Encode(const std::vector<uint8_t>& data);
std::optional<std::vector<uint8_t>> base64Decode(std::string_view text);
// Truncates or pads (with `fill`) to n bytes.
std::vector<uint8_t> fitted(std::vector<uint8_t> v, size_t n, uint8_t fill);

struct CipherCtx {
    EVP_CIPHER_CTX* p = EVP_CIPHER_CTX_new();
    CipherCtx() {
        if (!p) openSslFailed("EVP_CIPHER_CTX_new");
    }
    ~CipherCtx() { EVP_CIPHER_CTX_free(p); }
    CipherCtx(const CipherCtx&) = delete;
    CipherCtx& operator=(const CipherCtx&) = delete;
};

struct FetchedCipher {
    EVP_CIPHER* p = nullptr;
    explicit FetchedCipher(const char* name) : p(EVP_CIPHER_fetch(nullptr, name, nullptr)) {
        if (!p) openSslFailed("EVP_CIPHER_fetch");
    }
    ~FetchedCipher() { EVP_CIPHER_free(p); }
    FetchedCipher(const FetchedCipher&) = delete;
    FetchedCipher& operator=(const FetchedCipher&) = delete;
};

// A hash function with a reusable context.
class Hasher {
public:
    explicit Hasher(const char* name) : md_(EVP_MD_fetch(nullptr, name, nullptr)), ctx_(EVP_MD_CTX_new()) {
        if (!md_ || !ctx_) {
            EVP_MD_free(md_);
            EVP_MD_CTX_free(ctx_);
            openSslFailed("EVP_MD_fetch");
        }
        size_ = size_t(EVP_MD_get_size(md_));
    }
    ~Hasher() {
        EVP_MD_CTX_free(ctx_);
        EVP_MD_free(md_);
    }
    Hasher(const Hasher&) = delete;
    Hasher& operator=(const Hasher&) = delete;

    size_t size() const { return size_; }

    // Hash of the concatenation of the parts, written to out (size() bytes).
    void hash(std::initializer_list<std::span<const uint8_t>> parts, uint8_t* out) {
        if (EVP_DigestInit_ex2(ctx_, md_, nullptr) != 1) openSslFailed("EVP_DigestInit_ex2");
        for (auto part : parts)
            if (EVP_DigestUpdate(ctx_, part.data(), part.size()) != 1) openSslFailed("EVP_DigestUpdate");
        unsigned int n = 0;
        if (EVP_DigestFinal_ex(ctx_, out, &n) != 1) openSslFailed("EVP_DigestFinal_ex");
    }
    std::vector<uint8_t> hash(std::initializer_list<std::span<const uint8_t>> parts) {
        std::vector<uint8_t> out(size_);
        hash(parts, out.data());
        return out;
    }

private:
    EVP_MD* md_ = nullptr;
    EVP_MD_CTX* ctx_ = nullptr;
    size_t size_ = 0;
};

// AES-CBC without padding, one key, changing IVs; contexts kept between pages.
class AesCbc {
public:
    explicit AesCbc(const std::vector<uint8_t>& key)
        : cipher_(key.size() == 16   ? "AES-128-CBC"
                  : key.size() == 24 ? "AES-192-CBC"
                                     : "AES-256-CBC") {
        if (key.size() != 16 && key.size() != 24 && key.size() != 32)
            throw Error("Encryption failed: unsupported AES key length.");
        if (EVP_CipherInit_ex2(enc_.p, cipher_.p, key.data(), nullptr, 1, nullptr) != 1 ||
            EVP_CipherInit_ex2(dec_.p, cipher_.p, key.data(), nullptr, 0, nullptr) != 1)
            openSslFailed("EVP_CipherInit_ex2");
        EVP_CIPHER_CTX_set_padding(enc_.p, 0);
        EVP_CIPHER_CTX_set_padding(dec_.p, 0);
    }

    // In place; length must be a multiple of 16; iv is 16 bytes.
    void run(bool encrypt, const uint8_t* iv, uint8_t* data, size_t length) {
        EVP_CIPHER_CTX* ctx = encrypt ? enc_.p : dec_.p;
        if (EVP_CipherInit_ex2(ctx, nullptr, nullptr, iv, encrypt ? 1 : 0, nullptr) != 1)
            openSslFailed("EVP_CipherInit_ex2");
        size_t done = 0;
        while (done < length) {
            const int chunk = int(std::min<size_t>(length - done, 1 << 20));
            int outLen = 0;
            if (EVP_CipherUpdate(ctx, data + done, &outLen, data + done, chunk) != 1 || outLen != chunk)
                openSslFailed("EVP_CipherUpdate");
            done += size_t(chunk);
        }
    }

private:
    FetchedCipher cipher_;
    CipherCtx enc_;
    CipherCtx dec_;
};

// The Office Agile scheme (crypto_agile.cpp): the cipher of an existing file.
std::unique_ptr<PageCipher> openAgile(const std::array<uint8_t, 4>& key, std::span<const uint8_t> blob,
                                      const std::string& password, const std::string& file);

}  // namespace tp::db::jet::cipher_support
