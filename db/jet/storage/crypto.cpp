// Page ciphers of Access databases (see crypto.h for the schemes): RC4 with
// the header's key, the header fields, telling the schemes apart, and Office
// RC4 CryptoAPI; the Agile scheme is in crypto_agile.cpp.
#include "db/jet/storage/crypto.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

#include "db/coding/header_mask.h"
#include "db/error.h"
#include "db/jet/storage/cipher_support.h"
#include "db/jet/errors.h"

namespace tp::db::jet {

using namespace cipher_support;

namespace {

// ---- RC4 -------------------------------------------------------------------

// OpenSSL's RC4, fetched from the legacy provider in a library context of
// our own, so that loading it changes nothing for other OpenSSL users.
const EVP_CIPHER* openSslRc4() {
    static const EVP_CIPHER* const cipher = [] {
        OSSL_LIB_CTX* lib = OSSL_LIB_CTX_new();
        if (!lib) return static_cast<EVP_CIPHER*>(nullptr);
        OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(lib, "legacy");
        EVP_CIPHER* c = legacy ? EVP_CIPHER_fetch(lib, "RC4", nullptr) : nullptr;
        if (!c) {
            if (legacy) OSSL_PROVIDER_unload(legacy);
            OSSL_LIB_CTX_free(lib);
            ERR_clear_error();
        }
        // On success the context, provider and cipher live as long as the process.
        return c;
    }();
    return cipher;
}

}  // namespace

struct Rc4::Impl {
    bool openSsl = false;
    std::optional<CipherCtx> ctx;
    uint8_t s[256] = {};
    uint8_t i = 0, j = 0;
};

Rc4::Rc4(Backend backend) : impl_(std::make_unique<Impl>()) {
    if (backend == Backend::Auto && openSslRc4()) {
        impl_->openSsl = true;
        impl_->ctx.emplace();
    }
}

Rc4::~Rc4() = default;

bool Rc4::usesOpenSsl() const { return impl_->openSsl; }
bool Rc4::openSslAvailable() { return openSslRc4() != nullptr; }

void Rc4::setKey(const uint8_t* key, size_t keyLength) {
    if (keyLength == 0 || keyLength > 256) throw Error("Encryption failed: bad RC4 key length.");
    if (impl_->openSsl) {
        EVP_CIPHER_CTX* ctx = impl_->ctx->p;
        if (EVP_CipherInit_ex2(ctx, openSslRc4(), nullptr, nullptr, 1, nullptr) != 1 ||
            EVP_CIPHER_CTX_set_key_length(ctx, int(keyLength)) != 1 ||
            EVP_CipherInit_ex2(ctx, nullptr, key, nullptr, 1, nullptr) != 1)
            openSslFailed("RC4 key setup");
        return;
    }
    uint8_t* s = impl_->s;
    for (int k = 0; k < 256; ++k) s[k] = uint8_t(k);
    uint8_t j = 0;
    for (size_t k = 0; k < 256; ++k) {
        j = uint8_t(j + s[k] + key[k % keyLength]);
        std::swap(s[k], s[j]);
    }
    impl_->i = 0;
    impl_->j = 0;
}

void Rc4::apply(uint8_t* data, size_t length) {
    if (impl_->openSsl) {
        size_t done = 0;
        while (done < length) {
            const int chunk = int(std::min<size_t>(length - done, 1 << 20));
            int outLen = 0;
            if (EVP_CipherUpdate(impl_->ctx->p, data + done, &outLen, data + done, chunk) != 1 || outLen != chunk)
                openSslFailed("RC4");
            done += size_t(chunk);
        }
        return;
    }
    uint8_t* s = impl_->s;
    uint8_t i = impl_->i, j = impl_->j;
    for (size_t k = 0; k < length; ++k) {
        i = uint8_t(i + 1);
        j = uint8_t(j + s[i]);
        std::swap(s[i], s[j]);
        data[k] ^= s[uint8_t(s[i] + s[j])];
    }
    impl_->i = i;
    impl_->j = j;
}

// ---- header fields ---------------------------------------------------------

namespace {

void needHeader(size_t size) {
    if (size < header::kMinSize) throw Error("The database header page is too short.");
}

}  // namespace

void applyHeaderMask(std::span<uint8_t> page0) {
    needHeader(page0.size());
    coding::applyHeaderMask(page0.data(), page0[header::kVersion]);
}

std::array<uint8_t, 4> headerEncodingKey(std::span<const uint8_t> page0) {
    needHeader(page0.size());
    const size_t k = header::kEncodingKey;
    return {page0[k], page0[k + 1], page0[k + 2], page0[k + 3]};
}

// ---- scheme detection ------------------------------------------------------

namespace {

enum class Office { Rc4CryptoApi, Agile };

struct Provider {
    Office kind;
    std::span<const uint8_t> blob;
};

// The encryption provider of an ACE header with a non-zero key.
Provider officeProvider(std::span<const uint8_t> page0, const std::string& file) {
    using namespace header;
    if (page0.size() < kProvider) damaged(file, "header page too short");
    const size_t length = decodeLE16(page0.data() + kProviderLength);
    if (length > page0.size() - kProvider) damaged(file, "encryption provider longer than the header page");
    if (length < 8) damaged(file, "encryption provider too short");
    const auto blob = page0.subspan(kProvider, length);
    const uint16_t major = decodeLE16(blob.data() + 0), minor = decodeLE16(blob.data() + 2);
    if (major == 4 && minor == 4) return {Office::Agile, blob};
    if ((major == 2 || major == 3 || major == 4) && minor == 2) {
        const uint32_t flags = decodeLE32(blob.data() + 4);
        constexpr uint32_t kCryptoApi = 0x04, kAes = 0x20;
        if ((flags & kCryptoApi) && !(flags & kAes)) return {Office::Rc4CryptoApi, blob};
        if (flags & kCryptoApi) unsupported(file, "Office Standard (AES) encryption");
        unsupported(file, "an unknown Office encryption");
    }
    if ((major == 3 || major == 4) && minor == 3) unsupported(file, "Office Extensible encryption");
    if (major == 1 && minor == 1) unsupported(file, "Office binary RC4 encryption");
    unsupported(file, "Office encryption version " + std::to_string(major) + "." + std::to_string(minor));
}

}  // namespace

EncryptionScheme detectEncryption(std::span<const uint8_t> page0, const std::string& fileName) {
    if (page0.size() < header::kMinSize) damaged(fileName, "header page too short");
    const auto key = headerEncodingKey(page0);
    if (allZero(key)) return EncryptionScheme::None;
    if (page0[header::kVersion] < 2) return EncryptionScheme::JetRc4;
    return officeProvider(page0, fileName).kind == Office::Agile ? EncryptionScheme::OfficeAgile
                                                                 : EncryptionScheme::OfficeRc4CryptoApi;
}

// ---- the ciphers -----------------------------------------------------------

namespace {

class JetRc4Cipher final : public PageCipher {
public:
    explicit JetRc4Cipher(const std::array<uint8_t, 4>& key) : key_(key) {}
    EncryptionScheme scheme() const override { return EncryptionScheme::JetRc4; }
    void decryptPage(uint32_t n, uint8_t* page, size_t size) override { code(n, page, size); }
    void encryptPage(uint32_t n, uint8_t* page, size_t size) override { code(n, page, size); }

private:
    void code(uint32_t n, uint8_t* page, size_t size) {
        if (n == 0) return;
        const auto k = blockKey(key_, n);
        rc4_.setKey(k.data(), k.size());
        rc4_.apply(page, size);
    }
    std::array<uint8_t, 4> key_;
    Rc4 rc4_;
};

// Office RC4 CryptoAPI: key(block) = SHA1(SHA1(salt || password) || block).
class CryptoApiCipher final : public PageCipher {
public:
    CryptoApiCipher(const std::array<uint8_t, 4>& key, std::vector<uint8_t> baseHash, size_t keyBits)
        : key_(key), base_(std::move(baseHash)), keyBits_(keyBits) {}
    EncryptionScheme scheme() const override { return EncryptionScheme::OfficeRc4CryptoApi; }
    void decryptPage(uint32_t n, uint8_t* page, size_t size) override { code(n, page, size); }
    void encryptPage(uint32_t n, uint8_t* page, size_t size) override { code(n, page, size); }

    // Starts the RC4 stream for a 4-byte block value.
    void start(const std::array<uint8_t, 4>& block) {
        uint8_t digest[EVP_MAX_MD_SIZE];
        sha1_.hash({base_, block}, digest);
        uint8_t k[16] = {};
        const size_t n = keyBits_ / 8;
        std::memcpy(k, digest, n);
        // 40-bit keys are used zero-padded to 128 bits.
        rc4_.setKey(k, keyBits_ == 40 ? 16 : n);
    }
    void apply(uint8_t* data, size_t size) { rc4_.apply(data, size); }

private:
    void code(uint32_t n, uint8_t* page, size_t size) {
        if (n == 0) return;
        start(blockKey(key_, n));
        rc4_.apply(page, size);
    }
    std::array<uint8_t, 4> key_;
    std::vector<uint8_t> base_;
    size_t keyBits_;
    Hasher sha1_{"SHA1"};
    Rc4 rc4_;
};

// ---- RC4 CryptoAPI provider ------------------------------------------------

constexpr uint32_t kAlgRc4 = 0x6801, kAlgSha1 = 0x8004;
constexpr char16_t kEnhancedCsp[] = u"Microsoft Enhanced Cryptographic Provider v1.0";

// A key size the header leaves open: 40 bits for the "base" providers (by the
// provider's name at 32), else 128.
uint32_t defaultKeyBits(std::span<const uint8_t> hdr) {
    std::u16string csp;
    for (size_t k = 32; k + 1 < hdr.size(); k += 2) {
        const auto u = char16_t(decodeLE16(&hdr[k]));
        if (u == 0) break;
        csp.push_back(char16_t(u >= 'A' && u <= 'Z' ? u + 32 : u));
    }
    const bool base = csp.empty() || csp.find(u" base ") != std::u16string::npos;
    return base ? 40 : 128;
}

std::unique_ptr<PageCipher> openCryptoApi(const std::array<uint8_t, 4>& key, std::span<const uint8_t> blob,
                                          const std::string& password, const std::string& file) {
    if (blob.size() < 12) damaged(file, "RC4 CryptoAPI provider too short");
    const uint32_t headerSize = decodeLE32(blob.data() + 8);
    if (headerSize < 32 || headerSize > blob.size() - 12) damaged(file, "bad RC4 CryptoAPI header size");
    const auto hdr = blob.subspan(12, headerSize);
    const uint32_t flags = decodeLE32(hdr.data() + 0), algId = decodeLE32(hdr.data() + 8),
                   hashId = decodeLE32(hdr.data() + 12);
    uint32_t keyBits = decodeLE32(hdr.data() + 16);
    if (algId != kAlgRc4 && !(algId == 0 && (flags & 0x04) && !(flags & 0x20)))
        unsupported(file, "an Office encryption with another cipher than RC4");
    if (hashId != kAlgSha1 && hashId != 0) unsupported(file, "an Office encryption with another hash than SHA-1");
    if (keyBits == 0) keyBits = defaultKeyBits(hdr);
    if (keyBits < 40 || keyBits > 128 || keyBits % 8 != 0) damaged(file, "bad RC4 key size " + std::to_string(keyBits));

    const auto verifier = blob.subspan(12 + headerSize);
    if (verifier.size() < 4 + 16 + 16 + 4 + 20) damaged(file, "RC4 CryptoAPI verifier too short");
    if (decodeLE32(verifier.data() + 0) != 16) damaged(file, "salt size is not 16");
    const auto salt = verifier.subspan(4, 16);
    const uint32_t hashSize = decodeLE32(verifier.data() + 36);
    if (hashSize == 0 || hashSize > 20) damaged(file, "bad verifier hash size");
    uint8_t check[36];
    std::memcpy(check, verifier.data() + 20, 16);
    std::memcpy(check + 16, verifier.data() + 40, 20);

    Hasher sha1("SHA1");
    const auto pwd = officePassword(password);
    auto cipher = std::make_unique<CryptoApiCipher>(key, sha1.hash({salt, pwd}), keyBits);
    // One stream with block 0 decrypts the verifier and then its hash.
    cipher->start({0, 0, 0, 0});
    cipher->apply(check, sizeof check);
    uint8_t expect[EVP_MAX_MD_SIZE];
    sha1.hash({std::span<const uint8_t>(check, 16)}, expect);
    if (std::memcmp(expect, check + 16, hashSize) != 0) badPassword();
    return cipher;
}

}  // namespace

std::unique_ptr<PageCipher> PageCipher::fromHeader(std::span<const uint8_t> page0, const std::string& password,
                                                   const std::string& fileName) {
    const EncryptionScheme scheme = detectEncryption(page0, fileName);
    const auto key = headerEncodingKey(page0);
    switch (scheme) {
    case EncryptionScheme::None: return nullptr;
    case EncryptionScheme::JetRc4: return std::make_unique<JetRc4Cipher>(key);
    case EncryptionScheme::OfficeRc4CryptoApi:
        return openCryptoApi(key, officeProvider(page0, fileName).blob, password, fileName);
    case EncryptionScheme::OfficeAgile: return openAgile(key, officeProvider(page0, fileName).blob, password, fileName);
    }
    return nullptr;
}

std::unique_ptr<PageCipher> PageCipher::fromStoredHeader(std::span<const uint8_t> storedPage0,
                                                         const std::string& password, const std::string& fileName) {
    std::vector<uint8_t> page0(storedPage0.begin(), storedPage0.end());
    if (page0.size() < header::kMinSize) damaged(fileName, "header page too short");
    applyHeaderMask(page0);
    return fromHeader(page0, password, fileName);
}

NewEncryption PageCipher::createJetRc4() {
    NewEncryption e;
    e.encodingKey = newEncodingKey();
    e.cipher = std::make_unique<JetRc4Cipher>(e.encodingKey);
    return e;
}

NewEncryption PageCipher::createRc4CryptoApi(const std::string& password) {
    NewEncryption e;
    e.encodingKey = newEncodingKey();
    const uint32_t flags = 0x0C;  // CryptoAPI + DocProps, as Access 2007 writes
    std::vector<uint8_t> hdr;
    putLE32(hdr, flags);
    putLE32(hdr, 0);  // sizeExtra
    putLE32(hdr, kAlgRc4);
    putLE32(hdr, kAlgSha1);
    putLE32(hdr, 128);  // key bits
    putLE32(hdr, 1);    // provider type: RSA full
    putLE32(hdr, 0);
    putLE32(hdr, 0);
    for (char16_t c : std::u16string(kEnhancedCsp)) {
        hdr.push_back(uint8_t(c));
        hdr.push_back(uint8_t(c >> 8));
    }
    hdr.push_back(0);
    hdr.push_back(0);

    const auto salt = randomVector(16);
    Hasher sha1("SHA1");
    auto cipher = std::make_unique<CryptoApiCipher>(e.encodingKey, sha1.hash({salt, officePassword(password)}), 128);
    std::vector<uint8_t> check = randomVector(16);
    const auto verifierHash = sha1.hash({check});
    check.insert(check.end(), verifierHash.begin(), verifierHash.end());
    cipher->start({0, 0, 0, 0});
    cipher->apply(check.data(), check.size());

    auto& b = e.provider;
    putLE32(b, 0x00020004);  // version 4.2
    putLE32(b, flags);
    putLE32(b, uint32_t(hdr.size()));
    b.insert(b.end(), hdr.begin(), hdr.end());
    putLE32(b, 16);
    b.insert(b.end(), salt.begin(), salt.end());
    b.insert(b.end(), check.begin(), check.begin() + 16);
    putLE32(b, 20);
    b.insert(b.end(), check.begin() + 16, check.end());
    e.cipher = std::move(cipher);
    return e;
}

void NewEncryption::writeHeader(std::span<uint8_t> page0) const {
    using namespace header;
    if (page0.size() < kMinSize) throw Error("The database header page is too short.");
    std::memcpy(page0.data() + kEncodingKey, encodingKey.data(), 4);
    if (!cipher || cipher->scheme() == EncryptionScheme::JetRc4) return;
    if (page0.size() < kProviderAreaEnd || provider.size() > kProviderAreaEnd - kProvider)
        throw Error("The encryption provider does not fit in the database header.");
    std::memset(page0.data() + kProviderLength, 0, kProviderAreaEnd - kProviderLength);
    encodeLE16(page0.data() + kProviderLength, uint32_t(provider.size()));
    std::memcpy(page0.data() + kProvider, provider.data(), provider.size());
    double created = 0;
    std::memcpy(&created, page0.data() + kCreated, sizeof created);
    const auto mask = coding::passwordMask(created);
    for (size_t k = 0; k < kPasswordSize; ++k) page0[kPassword + k] = uint8_t(encodingKey[0] ^ mask[k % 4]);
}

}  // namespace tp::db::jet
