// The pieces the page ciphers share: errors, the Office password's bytes, base64 and random bytes.
#include "db/jet/storage/cipher_support.h"

#include <openssl/err.h>
#include <openssl/rand.h>

#include <algorithm>

#include "db/jet/errors.h"

namespace tp::db::jet::cipher_support {

namespace {
constexpr size_t kMaxOfficePasswordUnits = 255;
}  // namespace

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

// Office password bytes: UTF-16LE, at most 255 units.
std::vector<uint8_t> officePassword(const std::string& password) {
    std::u16string u = coding::utf8ToUtf16(password);
    if (u.size() > kMaxOfficePasswordUnits) u.resize(kMaxOfficePasswordUnits);
    std::vector<uint8_t> out;
    coding::putUtf16LE(out, u);
    return out;
}

// Base64 (the Agile XML's binary attributes).
std::string base64Encode(const std::vector<uint8_t>& data) {
    std::string out(4 * ((data.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), data.data(), int(data.size()));
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
        const bool b64 =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
        if (c == '=') {
            if (i + 2 < s.size()) return std::nullopt;
            ++pad;
        } else if (!b64 || pad) {
            return std::nullopt;
        }
    }
    std::vector<uint8_t> out(s.size() / 4 * 3);
    if (s.empty()) return out;
    const int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(s.data()), int(s.size()));
    if (n < 0 || size_t(n) < pad) return std::nullopt;
    out.resize(size_t(n) - pad);
    return out;
}

// Truncates or pads (with `fill`) to n bytes.
std::vector<uint8_t> fitted(std::vector<uint8_t> v, size_t n, uint8_t fill) {
    v.resize(n, fill);
    return v;
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

}  // namespace tp::db::jet::cipher_support
