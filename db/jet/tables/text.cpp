// Text helpers of the storage engine: UTF conversions and stored-text decoding.
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include <iconv.h>

#include "db/jet/tables/stored_table.h"

namespace tp::db::jet {

namespace {

// The Windows single-byte code pages (1250 to 1258): ASCII as it is, and
// bytes left undefined that Windows reads as their Latin-1 character.
bool windowsSingleByte(unsigned codePage) { return codePage >= 1250 && codePage <= 1258; }

// An iconv converter between one code page and UTF-8, closed with its owner.
class CodePageConverter {
public:
    CodePageConverter(unsigned codePage, iconv_t cd) : codePage_(codePage), cd_(cd) {}
    ~CodePageConverter() {
        if (open()) iconv_close(cd_);
    }
    CodePageConverter(const CodePageConverter&) = delete;
    CodePageConverter& operator=(const CodePageConverter&) = delete;
    unsigned codePage() const { return codePage_; }

protected:
    bool open() const { return cd_ != iconv_t(-1); }

    unsigned codePage_;
    iconv_t cd_;
};

// The thread's converter of kind C for the code page, opened once per thread
// and code page (opening one costs more than converting a short text).
template <class C>
C& converterFor(unsigned codePage) {
    thread_local std::unique_ptr<C> c;
    if (!c || c->codePage() != codePage) c = std::make_unique<C>(codePage);
    return *c;
}

iconv_t openToUtf8(unsigned codePage) {
    iconv_t cd = iconv_open("UTF-8", ("CP" + std::to_string(codePage)).c_str());
    return cd != iconv_t(-1) ? cd : iconv_open("UTF-8", "CP1252");
}

// From one code page to UTF-8.
class NarrowDecoder : public CodePageConverter {
public:
    explicit NarrowDecoder(unsigned codePage) : CodePageConverter(codePage, openToUtf8(codePage)) {}

    void decode(const uint8_t* p, size_t n, std::string& out) {
        if (!open()) {
            for (size_t i = 0; i < n; ++i) out += p[i] < 0x80 ? std::string(1, char(p[i])) : std::string("\xEF\xBF\xBD");
            return;
        }
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        buf_.resize(4 * n + 16);
        char* in = const_cast<char*>(reinterpret_cast<const char*>(p));
        size_t inLeft = n;
        while (inLeft > 0) {
            char* o = buf_.data();
            size_t oLeft = buf_.size();
            const size_t r = iconv(cd_, &in, &inLeft, &o, &oLeft);
            out.append(buf_.data(), buf_.size() - oLeft);
            if (r != size_t(-1)) break;
            if (errno == E2BIG) continue;
            // An unmappable or cut-off byte: replaced, decoding goes on after it.
            out += "\xEF\xBF\xBD";
            ++in;
            --inLeft;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
    }

private:
    std::string buf_;
};

// From UTF-8 to one code page.
class NarrowEncoder : public CodePageConverter {
public:
    explicit NarrowEncoder(unsigned codePage)
        : CodePageConverter(codePage, iconv_open(("CP" + std::to_string(codePage)).c_str(), "UTF-8")) {
        // The bytes a Windows single-byte code page leaves undefined stand
        // for the Latin-1 character of their number, as Windows reads and
        // writes them (1252: 0x81, 0x8D, 0x8F, 0x90, 0x9D).
        if (!windowsSingleByte(codePage)) return;
        for (int b = 0x80; b < 0x100; ++b) {
            const uint8_t byte = uint8_t(b);
            undefined_[size_t(b - 0x80)] = decodeNarrowText(&byte, 1, codePage) == "\xEF\xBF\xBD";
        }
    }
    bool encode(std::string_view text, std::vector<uint8_t>& out) {
        if (!open()) return false;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        out.resize(2 * text.size() + 8);
        char* in = const_cast<char*>(text.data());
        size_t inLeft = text.size();
        char* o = reinterpret_cast<char*>(out.data());
        size_t oLeft = out.size();
        bool ok = false;
        while (!(ok = iconv(cd_, &in, &inLeft, &o, &oLeft) != size_t(-1)) && undefinedByte(in, inLeft, o, oLeft)) {
            in += 2;
            inLeft -= 2;
        }
        ok = ok && iconv(cd_, nullptr, nullptr, &o, &oLeft) != size_t(-1);
        out.resize(out.size() - oLeft);
        return ok && inLeft == 0;
    }

private:
    // At `in` a character U+0080..U+00FF whose byte the code page leaves
    // undefined: that byte is written.
    bool undefinedByte(const char* in, size_t inLeft, char*& o, size_t& oLeft) const {
        if (inLeft < 2 || oLeft < 1 || (uint8_t(in[0]) != 0xC2 && uint8_t(in[0]) != 0xC3)) return false;
        const uint8_t byte = uint8_t(((uint8_t(in[0]) & 0x03) << 6) | (uint8_t(in[1]) & 0x3F));
        if (!undefined_[size_t(byte - 0x80)]) return false;
        *o++ = char(byte);
        --oLeft;
        return true;
    }

    bool undefined_[0x80] = {};
};

}  // namespace

std::string decodeNarrowText(const uint8_t* p, size_t n, unsigned codePage) {
    std::string out;
    decodeNarrowText(p, n, codePage, out);
    return out;
}

void decodeNarrowText(const uint8_t* p, size_t n, unsigned codePage, std::string& out) {
    out.clear();
    if (n == 0) return;
    if (codePage == 0) codePage = 1252;
    if (windowsSingleByte(codePage)) {
        size_t i = 0;
        while (i < n && p[i] < 0x80) ++i;
        if (i == n) {
            out.assign(reinterpret_cast<const char*>(p), n);
            return;
        }
    }
    converterFor<NarrowDecoder>(codePage).decode(p, n, out);
}

bool encodeNarrowText(std::string_view text, unsigned codePage, std::vector<uint8_t>& out) {
    out.clear();
    bool ascii = true;
    for (char ch : text) ascii &= uint8_t(ch) < 0x80;
    if (ascii) {
        out.assign(text.begin(), text.end());
        return true;
    }
    return converterFor<NarrowEncoder>(codePage == 0 ? 1252u : codePage).encode(text, out);
}

std::string decodeText(const uint8_t* p, size_t n) {
    std::string out;
    decodeText(p, n, out);
    return out;
}

void decodeText(const uint8_t* p, size_t n, std::string& out) {
    thread_local std::u16string u;  // keeps its room from value to value
    if (n > 2 && p[0] == 0xFF && p[1] == 0xFE) {
        u.resize(n);  // never more characters than bytes
        char16_t* q = u.data();
        bool compressed = true;
        size_t i = 2;
        while (i < n) {
            if (p[i] == 0) {
                compressed = !compressed;
                ++i;
            } else if (compressed) {
                *q++ = char16_t(p[i++]);
            } else if (n - i >= 2) {
                *q++ = char16_t(p[i] | (p[i + 1] << 8));
                i += 2;
            } else {
                break;
            }
        }
        u.resize(size_t(q - u.data()));
    } else {
        u.resize(n / 2);
        for (size_t i = 0; i < n / 2; ++i) u[i] = char16_t(p[2 * i] | (p[2 * i + 1] << 8));
    }
    utf16ToUtf8(u, out);
}

bool encodeMarkedText(std::u16string_view u, std::vector<uint8_t>& out) {
    // Runs of U+0001..U+00FF one byte a character, other characters as
    // UTF-16LE; a zero byte switches between the two. Every reader splits
    // on any zero byte, so a character with a zero byte (U+0000, U+0100,
    // U+4E00, ...) has no place in this form.
    out.assign({0xFF, 0xFE});
    bool narrow = true;
    for (char16_t ch : u) {
        if (ch != 0 && ch <= 0xFF) {
            if (!narrow) out.push_back(0), narrow = true;
            out.push_back(uint8_t(ch));
        } else if ((ch & 0xFF) != 0) {
            if (narrow) out.push_back(0), narrow = false;
            out.push_back(uint8_t(ch));
            out.push_back(uint8_t(ch >> 8));
        } else {
            return false;
        }
    }
    return true;
}

std::string foldName(std::string_view s) {
    std::u16string u = utf8ToUtf16(s);
    for (auto& c : u) {
        if (c >= u'a' && c <= u'z') c = char16_t(c - 32);
        else if (c >= 0xE0 && c <= 0xFE && c != 0xF7) c = char16_t(c - 32);
        else if (c >= 0x430 && c <= 0x44F) c = char16_t(c - 32);
    }
    return utf16ToUtf8(u);
}

}  // namespace tp::db::jet
