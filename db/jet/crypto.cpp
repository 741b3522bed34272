// Page ciphers of Access databases (see crypto.h for the schemes).
#include "db/jet/crypto.h"

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

#include "db/error.h"
#include "db/jet/errors.h"

namespace tp::db::jet {

namespace {

constexpr size_t kMaxOfficePasswordUnits = 255;
constexpr size_t kJetPasswordChars = 20;
constexpr uint32_t kMaxSpinCount = 10'000'000;  // the largest Office allows

// ---- small helpers ---------------------------------------------------------

uint16_t get16(std::span<const uint8_t> b, size_t off) {
    return uint16_t(b[off] | (b[off + 1] << 8));
}
uint32_t get32(std::span<const uint8_t> b, size_t off) {
    return uint32_t(b[off]) | (uint32_t(b[off + 1]) << 8) | (uint32_t(b[off + 2]) << 16) |
           (uint32_t(b[off + 3]) << 24);
}
void put16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
void append32(std::vector<uint8_t>& out, uint32_t v) {
    uint8_t b[4];
    put32(b, v);
    out.insert(out.end(), b, b + 4);
}

[[noreturn]] void damaged(const std::string& file, const std::string& detail) {
    throw Error("The encryption header of '" + file + "' is damaged (" + detail + ").");
}
[[noreturn]] void unsupported(const std::string& file, const std::string& what) {
    throw Error("'" + file + "' is protected by " + what + ", which cannot be read.");
}
[[noreturn]] void badPassword() { throw jeterr::notValidPassword(); }
[[noreturn]] void openSslFailed(const char* what) {
    ERR_clear_error();
    throw Error(std::string("Encryption failed: OpenSSL ") + what + " did not succeed.");
}

// The 4 bytes of (key XOR page number) that every scheme feeds its page key from.
std::array<uint8_t, 4> blockKey(const std::array<uint8_t, 4>& key, uint32_t page) {
    return {uint8_t(key[0] ^ uint8_t(page)), uint8_t(key[1] ^ uint8_t(page >> 8)),
            uint8_t(key[2] ^ uint8_t(page >> 16)), uint8_t(key[3] ^ uint8_t(page >> 24))};
}

bool allZero(std::span<const uint8_t> b) {
    return std::all_of(b.begin(), b.end(), [](uint8_t c) { return c == 0; });
}

void randomBytes(uint8_t* out, size_t n) {
    if (RAND_bytes(out, int(n)) != 1) openSslFailed("RAND_bytes");
}

// UTF-8 to UTF-16 code units; malformed sequences become U+FFFD.
std::u16string utf8ToUtf16(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        const auto c = uint8_t(s[i]);
        uint32_t cp = 0xFFFD;
        size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if (c >= 0xC2 && c < 0xF5) {
            const size_t need = c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
            if (i + need <= s.size()) {
                uint32_t v = c & (need == 2 ? 0x1F : need == 3 ? 0x0F : 0x07);
                bool ok = true;
                for (size_t k = 1; k < need; ++k) {
                    const auto cc = uint8_t(s[i + k]);
                    if ((cc & 0xC0) != 0x80) {
                        ok = false;
                        break;
                    }
                    v = (v << 6) | (cc & 0x3F);
                }
                const uint32_t minimum = need == 2 ? 0x80 : need == 3 ? 0x800 : 0x10000;
                if (ok && v >= minimum && v <= 0x10FFFF && (v < 0xD800 || v > 0xDFFF)) {
                    cp = v;
                    len = need;
                }
            }
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(char16_t(0xD800 + (cp >> 10)));
            out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(char16_t(cp));
        }
        i += len;
    }
    return out;
}

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

std::string utf16ToUtf8(const std::u16string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        uint32_t cp = s[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD;
        }
        appendUtf8(out, cp);
    }
    return out;
}

std::vector<uint8_t> utf16le(const std::u16string& s) {
    std::vector<uint8_t> out;
    out.reserve(s.size() * 2);
    for (char16_t u : s) {
        out.push_back(uint8_t(u));
        out.push_back(uint8_t(u >> 8));
    }
    return out;
}

// Office password bytes: UTF-16LE, at most 255 units.
std::vector<uint8_t> officePassword(const std::string& password) {
    std::u16string u = utf8ToUtf16(password);
    if (u.size() > kMaxOfficePasswordUnits) u.resize(kMaxOfficePasswordUnits);
    return utf16le(u);
}

// Base64 (the Agile XML's binary attributes).
std::string base64Encode(const std::vector<uint8_t>& data) {
    std::string out(4 * ((data.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), data.data(),
                                  int(data.size()));
    out.resize(size_t(std::max(n, 0)));
    return out;
}

std::optional<std::vector<uint8_t>> base64Decode(std::string_view text) {
    std::string s;
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') s += c;
    if (s.size() % 4 != 0) return std::nullopt;
    size_t pad = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        const bool b64 = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                         (c >= '0' && c <= '9') || c == '+' || c == '/';
        if (c == '=') {
            if (i + 2 < s.size()) return std::nullopt;
            ++pad;
        } else if (!b64 || pad) {
            return std::nullopt;
        }
    }
    std::vector<uint8_t> out(s.size() / 4 * 3);
    if (s.empty()) return out;
    const int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(s.data()),
                                  int(s.size()));
    if (n < 0 || size_t(n) < pad) return std::nullopt;
    out.resize(size_t(n) - pad);
    return out;
}

// ---- OpenSSL wrappers ------------------------------------------------------

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
    explicit Hasher(const char* name)
        : md_(EVP_MD_fetch(nullptr, name, nullptr)), ctx_(EVP_MD_CTX_new()) {
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
            if (EVP_DigestUpdate(ctx_, part.data(), part.size()) != 1)
                openSslFailed("EVP_DigestUpdate");
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

// Truncates or pads (with `fill`) to n bytes.
std::vector<uint8_t> fitted(std::vector<uint8_t> v, size_t n, uint8_t fill) {
    v.resize(n, fill);
    return v;
}

// AES-CBC without padding, one key, changing IVs; contexts kept between pages.
class AesCbc {
public:
    explicit AesCbc(const std::vector<uint8_t>& key)
        : cipher_(key.size() == 16 ? "AES-128-CBC" : key.size() == 24 ? "AES-192-CBC" : "AES-256-CBC") {
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
            if (EVP_CipherUpdate(ctx, data + done, &outLen, data + done, chunk) != 1 ||
                outLen != chunk)
                openSslFailed("EVP_CipherUpdate");
            done += size_t(chunk);
        }
    }

private:
    FetchedCipher cipher_;
    CipherCtx enc_;
    CipherCtx dec_;
};

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
            if (EVP_CipherUpdate(impl_->ctx->p, data + done, &outLen, data + done, chunk) != 1 ||
                outLen != chunk)
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

namespace header {

namespace {

constexpr uint8_t kMaskKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
constexpr size_t kMinHeader = kMaskOffset + 128;

void needHeader(size_t size) {
    if (size < kMinHeader) throw Error("The database header page is too short.");
}

// Little-endian int32 of the integer part of the creation date.
std::array<uint8_t, 4> dateMask(std::span<const uint8_t> page0) {
    double date = 0;
    std::memcpy(&date, page0.data() + kCreationDateOffset, sizeof date);
    int32_t whole = 0;
    if (std::isfinite(date) && date > -2147483648.0 && date < 2147483648.0)
        whole = int32_t(date);
    std::array<uint8_t, 4> m;
    put32(m.data(), uint32_t(whole));
    return m;
}

}  // namespace

size_t maskLength(std::span<const uint8_t> page0) {
    return page0.size() > kVersionOffset && page0[kVersionOffset] == 0 ? 126 : 128;
}

void applyMask(std::span<uint8_t> page0) {
    needHeader(page0.size());
    // The keystream never changes: computed once.
    static const std::array<uint8_t, 128> mask = [] {
        std::array<uint8_t, 128> m{};
        Rc4 rc4(Rc4::Backend::BuiltIn);
        rc4.setKey(kMaskKey, sizeof kMaskKey);
        rc4.apply(m.data(), m.size());
        return m;
    }();
    const size_t n = maskLength(page0);
    for (size_t k = 0; k < n; ++k) page0[kMaskOffset + k] ^= mask[k];
}

std::array<uint8_t, 4> encodingKey(std::span<const uint8_t> page0) {
    needHeader(page0.size());
    return {page0[kEncodingKeyOffset], page0[kEncodingKeyOffset + 1],
            page0[kEncodingKeyOffset + 2], page0[kEncodingKeyOffset + 3]};
}

std::string jetPassword(std::span<const uint8_t> page0) {
    needHeader(page0.size());
    const uint8_t version = page0[kVersionOffset];
    std::string out;
    if (version == 0) {
        for (size_t k = 0; k < kJetPasswordChars; ++k) {
            const uint8_t c = page0[kPasswordOffset + k];
            if (c == 0) break;
            appendUtf8(out, c);
        }
        return out;
    }
    if (version >= 2) return out;
    const auto mask = dateMask(page0);
    std::u16string u;
    for (size_t k = 0; k < kJetPasswordChars; ++k) {
        const size_t off = kPasswordOffset + 2 * k;
        const auto lo = uint8_t(page0[off] ^ mask[(2 * k) % 4]);
        const auto hi = uint8_t(page0[off + 1] ^ mask[(2 * k + 1) % 4]);
        const auto unit = char16_t(lo | (hi << 8));
        if (unit == 0) break;
        u.push_back(unit);
    }
    return utf16ToUtf8(u);
}

void setJetPassword(std::span<uint8_t> page0, const std::string& password) {
    needHeader(page0.size());
    const uint8_t version = page0[kVersionOffset];
    if (version >= 2)
        throw Error("An .accdb database password is set by encrypting the database.");
    const std::u16string u = utf8ToUtf16(password);
    if (u.size() > kJetPasswordChars)
        throw Error("The database password is longer than 20 characters.");
    if (version == 0) {
        uint8_t field[kJetPasswordChars] = {};
        for (size_t k = 0; k < u.size(); ++k) {
            if (u[k] > 0xFF)
                throw Error("An Access 97 database password must use Latin-1 characters only.");
            field[k] = uint8_t(u[k]);
        }
        std::memcpy(page0.data() + kPasswordOffset, field, sizeof field);
        return;
    }
    const auto mask = dateMask(page0);
    for (size_t k = 0; k < 2 * kJetPasswordChars; ++k) {
        const size_t unit = k / 2;
        const char16_t c = unit < u.size() ? u[unit] : 0;
        const auto b = uint8_t(k % 2 ? c >> 8 : c);
        page0[kPasswordOffset + k] = uint8_t(b ^ mask[k % 4]);
    }
}

bool jetPasswordMatches(std::span<const uint8_t> page0, const std::string& password) {
    const std::string stored = jetPassword(page0);
    return stored.empty() || stored == password;
}

}  // namespace header

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
    if (page0.size() < kProviderOffset) damaged(file, "header page too short");
    const size_t length = get16(page0, kProviderLengthOffset);
    if (length > page0.size() - kProviderOffset)
        damaged(file, "encryption provider longer than the header page");
    if (length < 8) damaged(file, "encryption provider too short");
    const auto blob = page0.subspan(kProviderOffset, length);
    const uint16_t major = get16(blob, 0), minor = get16(blob, 2);
    if (major == 4 && minor == 4) return {Office::Agile, blob};
    if ((major == 2 || major == 3 || major == 4) && minor == 2) {
        const uint32_t flags = get32(blob, 4);
        constexpr uint32_t kCryptoApi = 0x04, kAes = 0x20;
        if ((flags & kCryptoApi) && !(flags & kAes)) return {Office::Rc4CryptoApi, blob};
        if (flags & kCryptoApi) unsupported(file, "Office Standard (AES) encryption");
        unsupported(file, "an unknown Office encryption");
    }
    if ((major == 3 || major == 4) && minor == 3) unsupported(file, "Office Extensible encryption");
    if (major == 1 && minor == 1) unsupported(file, "Office binary RC4 encryption");
    unsupported(file, "Office encryption version " + std::to_string(major) + "." +
                          std::to_string(minor));
}

}  // namespace

EncryptionScheme detectEncryption(std::span<const uint8_t> page0, const std::string& fileName) {
    if (page0.size() < header::kMaskOffset + 128) damaged(fileName, "header page too short");
    const auto key = header::encodingKey(page0);
    if (allZero(key)) return EncryptionScheme::None;
    if (page0[header::kVersionOffset] < 2) return EncryptionScheme::JetRc4;
    return officeProvider(page0, fileName).kind == Office::Agile
               ? EncryptionScheme::OfficeAgile
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
    CryptoApiCipher(const std::array<uint8_t, 4>& key, std::vector<uint8_t> baseHash,
                    size_t keyBits)
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

// Office Agile: AES-CBC with the secret key; IV per page from the key salt.
class AgileCipher final : public PageCipher {
public:
    AgileCipher(const std::array<uint8_t, 4>& key, const std::vector<uint8_t>& secret,
                std::vector<uint8_t> keySalt, const char* hashName, size_t blockSize)
        : key_(key), salt_(std::move(keySalt)), hash_(hashName), aes_(secret),
          blockSize_(blockSize) {}
    EncryptionScheme scheme() const override { return EncryptionScheme::OfficeAgile; }
    void decryptPage(uint32_t n, uint8_t* page, size_t size) override { code(false, n, page, size); }
    void encryptPage(uint32_t n, uint8_t* page, size_t size) override { code(true, n, page, size); }

private:
    void code(bool encrypt, uint32_t n, uint8_t* page, size_t size) {
        if (n == 0) return;
        if (size % blockSize_ != 0)
            throw Error("Encryption failed: page size is not a multiple of the AES block size.");
        uint8_t digest[EVP_MAX_MD_SIZE];
        const auto block = blockKey(key_, n);
        hash_.hash({salt_, block}, digest);
        uint8_t iv[16];
        for (size_t k = 0; k < 16; ++k) iv[k] = k < hash_.size() ? digest[k] : 0x36;
        aes_.run(encrypt, iv, page, size);
    }
    std::array<uint8_t, 4> key_;
    std::vector<uint8_t> salt_;
    Hasher hash_;
    AesCbc aes_;
    size_t blockSize_;
};

// ---- RC4 CryptoAPI provider ------------------------------------------------

constexpr uint32_t kAlgRc4 = 0x6801, kAlgSha1 = 0x8004;
constexpr char16_t kEnhancedCsp[] = u"Microsoft Enhanced Cryptographic Provider v1.0";

std::unique_ptr<PageCipher> openCryptoApi(const std::array<uint8_t, 4>& key,
                                          std::span<const uint8_t> blob,
                                          const std::string& password, const std::string& file) {
    if (blob.size() < 12) damaged(file, "RC4 CryptoAPI provider too short");
    const uint32_t headerSize = get32(blob, 8);
    if (headerSize < 32 || headerSize > blob.size() - 12)
        damaged(file, "bad RC4 CryptoAPI header size");
    const auto hdr = blob.subspan(12, headerSize);
    const uint32_t flags = get32(hdr, 0), algId = get32(hdr, 8), hashId = get32(hdr, 12);
    uint32_t keyBits = get32(hdr, 16);
    if (algId != kAlgRc4 && !(algId == 0 && (flags & 0x04) && !(flags & 0x20)))
        unsupported(file, "an Office encryption with another cipher than RC4");
    if (hashId != kAlgSha1 && hashId != 0)
        unsupported(file, "an Office encryption with another hash than SHA-1");
    if (keyBits == 0) {
        // Key size left open: 40 bits for the "base" providers, else 128.
        std::u16string csp;
        for (size_t k = 32; k + 1 < hdr.size(); k += 2) {
            const auto u = char16_t(hdr[k] | (hdr[k + 1] << 8));
            if (u == 0) break;
            csp.push_back(char16_t(u >= 'A' && u <= 'Z' ? u + 32 : u));
        }
        const bool base = csp.empty() || csp.find(u" base ") != std::u16string::npos;
        keyBits = base ? 40 : 128;
    }
    if (keyBits < 40 || keyBits > 128 || keyBits % 8 != 0)
        damaged(file, "bad RC4 key size " + std::to_string(keyBits));

    const auto verifier = blob.subspan(12 + headerSize);
    if (verifier.size() < 4 + 16 + 16 + 4 + 20) damaged(file, "RC4 CryptoAPI verifier too short");
    if (get32(verifier, 0) != 16) damaged(file, "salt size is not 16");
    const auto salt = verifier.subspan(4, 16);
    const uint32_t hashSize = get32(verifier, 36);
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

// ---- Agile provider ----------------------------------------------------------

const uint8_t kBlockVerifierInput[8] = {0xFE, 0xA7, 0xD2, 0x76, 0x3B, 0x4B, 0x9E, 0x79};
const uint8_t kBlockVerifierHash[8] = {0xD7, 0xAA, 0x0F, 0x6D, 0x30, 0x61, 0x34, 0x4E};
const uint8_t kBlockKeyValue[8] = {0x14, 0x6E, 0x0B, 0xE7, 0xAB, 0xAC, 0xD0, 0xD6};

struct XmlElement {
    std::vector<std::pair<std::string, std::string>> attributes;
    const std::string* find(std::string_view name) const {
        for (const auto& [n, v] : attributes)
            if (n == name) return &v;
        return nullptr;
    }
};

std::string xmlUnescape(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '&') {
            out += s[i];
            continue;
        }
        static const std::pair<std::string_view, char> entities[] = {
            {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
        bool done = false;
        for (const auto& [e, c] : entities) {
            if (s.substr(i, e.size()) == e) {
                out += c;
                i += e.size() - 1;
                done = true;
                break;
            }
        }
        if (!done) out += '&';
    }
    return out;
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Attributes of the elements whose local name is `localName` (document order).
std::vector<XmlElement> xmlElements(std::string_view xml, std::string_view localName) {
    std::vector<XmlElement> found;
    size_t pos = 0;
    while ((pos = xml.find('<', pos)) != std::string_view::npos) {
        ++pos;
        if (pos >= xml.size()) break;
        if (xml[pos] == '/' || xml[pos] == '?' || xml[pos] == '!') continue;
        size_t end = pos;
        while (end < xml.size() && !isSpace(xml[end]) && xml[end] != '>' && xml[end] != '/') ++end;
        std::string_view name = xml.substr(pos, end - pos);
        if (auto colon = name.find(':'); colon != std::string_view::npos)
            name = name.substr(colon + 1);
        pos = end;
        if (name != localName) continue;
        XmlElement element;
        while (pos < xml.size()) {
            while (pos < xml.size() && isSpace(xml[pos])) ++pos;
            if (pos >= xml.size() || xml[pos] == '>' || xml[pos] == '/') break;
            size_t eq = pos;
            while (eq < xml.size() && xml[eq] != '=' && !isSpace(xml[eq]) && xml[eq] != '>') ++eq;
            const std::string attr(xml.substr(pos, eq - pos));
            size_t q = eq;
            while (q < xml.size() && isSpace(xml[q])) ++q;
            if (q >= xml.size() || xml[q] != '=') break;
            ++q;
            while (q < xml.size() && isSpace(xml[q])) ++q;
            if (q >= xml.size() || (xml[q] != '"' && xml[q] != '\'')) break;
            const size_t close = xml.find(xml[q], q + 1);
            if (close == std::string_view::npos) break;
            element.attributes.emplace_back(attr, xmlUnescape(xml.substr(q + 1, close - q - 1)));
            pos = close + 1;
        }
        found.push_back(std::move(element));
    }
    return found;
}

// One set of Agile parameters (keyData or the password key encryptor).
struct AgileParams {
    size_t saltSize = 0, blockSize = 0, keyBits = 0, hashSize = 0;
    const char* hashName = nullptr;
    std::vector<uint8_t> salt;
};

struct AgileDescriptor {
    AgileParams keyData;
    AgileParams password;
    uint32_t spinCount = 0;
    std::vector<uint8_t> verifierInput, verifierHash, keyValue;
};

AgileDescriptor parseAgile(std::span<const uint8_t> blob, const std::string& file) {
    if (get32(blob, 4) != 0x40) damaged(file, "unexpected Agile reserved value");
    const std::string_view xml(reinterpret_cast<const char*>(blob.data() + 8), blob.size() - 8);

    auto attr = [&](const XmlElement& e, const char* name) -> const std::string& {
        const std::string* v = e.find(name);
        if (!v) damaged(file, std::string("Agile descriptor lacks ") + name);
        return *v;
    };
    auto number = [&](const XmlElement& e, const char* name, uint32_t maximum) -> uint32_t {
        const std::string& v = attr(e, name);
        if (v.empty() || v.size() > 10) damaged(file, std::string("bad ") + name);
        uint64_t n = 0;
        for (char c : v) {
            if (c < '0' || c > '9') damaged(file, std::string("bad ") + name);
            n = n * 10 + uint64_t(c - '0');
        }
        if (n > maximum) damaged(file, std::string(name) + " out of range");
        return uint32_t(n);
    };
    auto binary = [&](const XmlElement& e, const char* name) {
        auto v = base64Decode(attr(e, name));
        if (!v) damaged(file, std::string("bad base64 in ") + name);
        return std::move(*v);
    };
    auto params = [&](const XmlElement& e) {
        AgileParams p;
        if (attr(e, "cipherAlgorithm") != "AES")
            unsupported(file, "Agile encryption with the cipher " + attr(e, "cipherAlgorithm"));
        if (attr(e, "cipherChaining") != "ChainingModeCBC")
            unsupported(file, "Agile encryption with chaining " + attr(e, "cipherChaining"));
        const std::string& hash = attr(e, "hashAlgorithm");
        size_t digest = 0;
        if (hash == "SHA1" || hash == "SHA-1") p.hashName = "SHA1", digest = 20;
        else if (hash == "SHA256") p.hashName = "SHA256", digest = 32;
        else if (hash == "SHA384") p.hashName = "SHA384", digest = 48;
        else if (hash == "SHA512") p.hashName = "SHA512", digest = 64;
        else unsupported(file, "Agile encryption with the hash " + hash);
        p.saltSize = number(e, "saltSize", 65536);
        p.blockSize = number(e, "blockSize", 65536);
        p.keyBits = number(e, "keyBits", 65536);
        p.hashSize = number(e, "hashSize", 65536);
        p.salt = binary(e, "saltValue");
        if (p.blockSize != 16) damaged(file, "AES block size is not 16");
        if (p.keyBits != 128 && p.keyBits != 192 && p.keyBits != 256)
            damaged(file, "bad AES key size " + std::to_string(p.keyBits));
        if (p.hashSize != digest) damaged(file, "hash size does not match " + hash);
        if (p.saltSize == 0 || p.salt.size() != p.saltSize) damaged(file, "bad salt");
        return p;
    };

    const auto keyData = xmlElements(xml, "keyData");
    if (keyData.size() != 1) damaged(file, "Agile descriptor needs one keyData element");
    // The password key encryptor (certificate ones have no spin count).
    const auto encryptedKeys = xmlElements(xml, "encryptedKey");
    const XmlElement* passwordKey = nullptr;
    for (const auto& e : encryptedKeys)
        if (e.find("spinCount")) {
            passwordKey = &e;
            break;
        }
    if (!passwordKey) damaged(file, "Agile descriptor has no password key");

    AgileDescriptor d;
    d.keyData = params(keyData.front());
    d.password = params(*passwordKey);
    d.spinCount = number(*passwordKey, "spinCount", kMaxSpinCount);
    d.verifierInput = binary(*passwordKey, "encryptedVerifierHashInput");
    d.verifierHash = binary(*passwordKey, "encryptedVerifierHashValue");
    d.keyValue = binary(*passwordKey, "encryptedKeyValue");
    const size_t bs = d.password.blockSize;
    auto blocks = [&](const std::vector<uint8_t>& v, size_t atLeast, const char* what) {
        if (v.empty() || v.size() % bs != 0 || v.size() < atLeast)
            damaged(file, std::string("bad length of ") + what);
    };
    blocks(d.verifierInput, d.password.saltSize, "encryptedVerifierHashInput");
    blocks(d.verifierHash, d.password.hashSize, "encryptedVerifierHashValue");
    blocks(d.keyValue, d.keyData.keyBits / 8, "encryptedKeyValue");
    return d;
}

// The spun password hash H(n) of the Agile key derivation.
std::vector<uint8_t> spunHash(Hasher& h, const std::vector<uint8_t>& salt,
                              const std::vector<uint8_t>& password, uint32_t spinCount) {
    std::vector<uint8_t> cur = h.hash({salt, password});
    uint8_t iter[4];
    for (uint32_t i = 0; i < spinCount; ++i) {
        put32(iter, i);
        h.hash({iter, cur}, cur.data());
    }
    return cur;
}

// A key for one block constant: Hash(H(n) || block) fitted to keyBits/8 (0x36 fill).
std::vector<uint8_t> derivedKey(Hasher& h, const std::vector<uint8_t>& spun,
                                const uint8_t (&block)[8], size_t keyBits) {
    return fitted(h.hash({spun, block}), keyBits / 8, 0x36);
}

std::vector<uint8_t> cbc(bool encrypt, const std::vector<uint8_t>& key,
                         const std::vector<uint8_t>& iv, std::vector<uint8_t> data) {
    AesCbc aes(key);
    const auto fittedIv = fitted(iv, 16, 0x36);
    aes.run(encrypt, fittedIv.data(), data.data(), data.size());
    return data;
}

std::unique_ptr<PageCipher> openAgile(const std::array<uint8_t, 4>& key,
                                      std::span<const uint8_t> blob, const std::string& password,
                                      const std::string& file) {
    const AgileDescriptor d = parseAgile(blob, file);
    const AgileParams& p = d.password;
    Hasher h(p.hashName);
    const auto spun = spunHash(h, p.salt, officePassword(password), d.spinCount);

    const auto input =
        cbc(false, derivedKey(h, spun, kBlockVerifierInput, p.keyBits), p.salt, d.verifierInput);
    const auto expected =
        cbc(false, derivedKey(h, spun, kBlockVerifierHash, p.keyBits), p.salt, d.verifierHash);
    const auto actual = h.hash({std::span<const uint8_t>(input.data(), p.saltSize)});
    if (!std::equal(actual.begin(), actual.end(), expected.begin())) badPassword();

    auto secret =
        cbc(false, derivedKey(h, spun, kBlockKeyValue, p.keyBits), p.salt, d.keyValue);
    secret.resize(d.keyData.keyBits / 8);
    return std::make_unique<AgileCipher>(key, secret, d.keyData.salt, d.keyData.hashName,
                                         d.keyData.blockSize);
}

// Random non-zero encoding key. The two Access-made encrypted .accdb files
// examined both have 0xA0 as the top byte; kept so.
std::array<uint8_t, 4> newEncodingKey() {
    std::array<uint8_t, 4> k{};
    while (k[0] == 0 && k[1] == 0 && k[2] == 0) randomBytes(k.data(), 3);
    k[3] = 0xA0;
    return k;
}

std::vector<uint8_t> randomVector(size_t n) {
    std::vector<uint8_t> v(n);
    randomBytes(v.data(), n);
    return v;
}

}  // namespace

std::unique_ptr<PageCipher> PageCipher::fromHeader(std::span<const uint8_t> page0,
                                                   const std::string& password,
                                                   const std::string& fileName) {
    const EncryptionScheme scheme = detectEncryption(page0, fileName);
    const auto key = header::encodingKey(page0);
    switch (scheme) {
    case EncryptionScheme::None:
        return nullptr;
    case EncryptionScheme::JetRc4:
        return std::make_unique<JetRc4Cipher>(key);
    case EncryptionScheme::OfficeRc4CryptoApi:
        return openCryptoApi(key, officeProvider(page0, fileName).blob, password, fileName);
    case EncryptionScheme::OfficeAgile:
        return openAgile(key, officeProvider(page0, fileName).blob, password, fileName);
    }
    return nullptr;
}

std::unique_ptr<PageCipher> PageCipher::fromStoredHeader(std::span<const uint8_t> storedPage0,
                                                         const std::string& password,
                                                         const std::string& fileName) {
    std::vector<uint8_t> page0(storedPage0.begin(), storedPage0.end());
    if (page0.size() < header::kMaskOffset + 128) damaged(fileName, "header page too short");
    header::applyMask(page0);
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
    append32(hdr, flags);
    append32(hdr, 0);  // sizeExtra
    append32(hdr, kAlgRc4);
    append32(hdr, kAlgSha1);
    append32(hdr, 128);  // key bits
    append32(hdr, 1);    // provider type: RSA full
    append32(hdr, 0);
    append32(hdr, 0);
    for (char16_t c : std::u16string(kEnhancedCsp)) {
        hdr.push_back(uint8_t(c));
        hdr.push_back(uint8_t(c >> 8));
    }
    hdr.push_back(0);
    hdr.push_back(0);

    const auto salt = randomVector(16);
    Hasher sha1("SHA1");
    auto cipher = std::make_unique<CryptoApiCipher>(
        e.encodingKey, sha1.hash({salt, officePassword(password)}), 128);
    std::vector<uint8_t> check = randomVector(16);
    const auto verifierHash = sha1.hash({check});
    check.insert(check.end(), verifierHash.begin(), verifierHash.end());
    cipher->start({0, 0, 0, 0});
    cipher->apply(check.data(), check.size());

    auto& b = e.provider;
    append32(b, 0x00020004);  // version 4.2
    append32(b, flags);
    append32(b, uint32_t(hdr.size()));
    b.insert(b.end(), hdr.begin(), hdr.end());
    append32(b, 16);
    b.insert(b.end(), salt.begin(), salt.end());
    b.insert(b.end(), check.begin(), check.begin() + 16);
    append32(b, 20);
    b.insert(b.end(), check.begin() + 16, check.end());
    e.cipher = std::move(cipher);
    return e;
}

NewEncryption PageCipher::createAgile(const std::string& password) {
    constexpr size_t kKeyBits = 256, kSaltSize = 16, kBlockSize = 16;
    constexpr uint32_t kSpinCount = 100000;
    NewEncryption e;
    e.encodingKey = newEncodingKey();

    const auto keySalt = randomVector(kSaltSize);
    const auto passwordSalt = randomVector(kSaltSize);
    const auto secret = randomVector(kKeyBits / 8);
    const auto verifierInput = randomVector(kSaltSize);

    Hasher h("SHA512");
    const auto spun = spunHash(h, passwordSalt, officePassword(password), kSpinCount);
    auto verifierHash = h.hash({verifierInput});  // 64 bytes: already whole AES blocks
    const auto encInput =
        cbc(true, derivedKey(h, spun, kBlockVerifierInput, kKeyBits), passwordSalt, verifierInput);
    const auto encHash =
        cbc(true, derivedKey(h, spun, kBlockVerifierHash, kKeyBits), passwordSalt, verifierHash);
    const auto encKey =
        cbc(true, derivedKey(h, spun, kBlockKeyValue, kKeyBits), passwordSalt, secret);

    const std::string common = "saltSize=\"16\" blockSize=\"16\" keyBits=\"256\" hashSize=\"64\" "
                               "cipherAlgorithm=\"AES\" cipherChaining=\"ChainingModeCBC\" "
                               "hashAlgorithm=\"SHA512\" ";
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
        "<encryption xmlns=\"http://schemas.microsoft.com/office/2006/encryption\" "
        "xmlns:p=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password\" "
        "xmlns:c=\"http://schemas.microsoft.com/office/2006/keyEncryptor/certificate\">"
        "<keyData " + common + "saltValue=\"" + base64Encode(keySalt) + "\"/>"
        "<keyEncryptors><keyEncryptor "
        "uri=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password\">"
        "<p:encryptedKey spinCount=\"" + std::to_string(kSpinCount) + "\" " + common +
        "saltValue=\"" + base64Encode(passwordSalt) + "\" encryptedVerifierHashInput=\"" +
        base64Encode(encInput) + "\" encryptedVerifierHashValue=\"" + base64Encode(encHash) +
        "\" encryptedKeyValue=\"" + base64Encode(encKey) +
        "\"/></keyEncryptor></keyEncryptors></encryption>";

    auto& b = e.provider;
    append32(b, 0x00040004);  // version 4.4
    append32(b, 0x40);        // reserved
    b.insert(b.end(), xml.begin(), xml.end());
    e.cipher = std::make_unique<AgileCipher>(e.encodingKey, secret, keySalt, "SHA512", kBlockSize);
    return e;
}

void NewEncryption::writeHeader(std::span<uint8_t> page0) const {
    using namespace header;
    if (page0.size() < kMaskOffset + 128) throw Error("The database header page is too short.");
    std::memcpy(page0.data() + kEncodingKeyOffset, encodingKey.data(), 4);
    if (!cipher || cipher->scheme() == EncryptionScheme::JetRc4) return;
    if (page0.size() < kProviderAreaEnd || provider.size() > kProviderAreaEnd - kProviderOffset)
        throw Error("The encryption provider does not fit in the database header.");
    std::memset(page0.data() + kProviderLengthOffset, 0, kProviderAreaEnd - kProviderLengthOffset);
    put16(page0.data() + kProviderLengthOffset, uint32_t(provider.size()));
    std::memcpy(page0.data() + kProviderOffset, provider.data(), provider.size());
    const auto mask = dateMask(page0);
    for (size_t k = 0; k < 40; ++k)
        page0[kPasswordOffset + k] = uint8_t(encodingKey[0] ^ mask[k % 4]);
}

}  // namespace tp::db::jet
