// The pieces the page ciphers share: byte helpers, errors, text
// conversions, base64 and random bytes.
#include "db/jet/cipher_support.h"

#include <openssl/err.h>
#include <openssl/rand.h>

#include <algorithm>

#include "db/jet/errors.h"

namespace tp::db::jet::cipher_support {

namespace {
constexpr size_t kMaxOfficePasswordUnits = 255;
}  // namespace

uint16_t get16(std::span<const uint8_t> b, size_t off) { return uint16_t(b[off] | (b[off + 1] << 8)); }
uint32_t get32(std::span<const uint8_t> b, size_t off) {
    return uint32_t(b[off]) | (uint32_t(b[off + 1]) << 8) | (uint32_t(b[off + 2]) << 16) | (uint32_t(b[off + 3]) << 24);
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
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
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
