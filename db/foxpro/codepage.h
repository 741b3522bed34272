// Text of a table's code page to UTF-8. Single-byte code pages use a
// 256-entry table built once through iconv; multi-byte ones call iconv.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tp::db::foxpro {

// The Windows/DOS code page number of a DBF language-driver byte; 0 when the
// byte is 0 or unknown.
int codePageOfDriver(uint8_t driver);

class TextDecoder {
public:
    // codePage 0: the DOS default (437).
    explicit TextDecoder(int codePage);
    ~TextDecoder();
    TextDecoder(const TextDecoder&) = delete;
    TextDecoder& operator=(const TextDecoder&) = delete;

    int codePage() const { return codePage_; }
    // Appends the UTF-8 form of bytes to out.
    void decode(const uint8_t* data, size_t n, std::string& out) const;
    std::string decode(std::string_view bytes) const {
        std::string s;
        decode(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), s);
        return s;
    }

private:
    void setByte(int b, char32_t c);
    // The bytes where Mazovia, Kamenicky and today's Mac Roman and Mac
    // Cyrillic differ from the converter's code page.
    void applyVariantBytes();

    int codePage_;
    bool singleByte_ = true;
    // UTF-8 for each byte: up to 3 bytes plus a length.
    struct Entry {
        char bytes[4];
        uint8_t len;
    };
    Entry table_[256]{};
    struct Iconv;
    std::unique_ptr<Iconv> iconv_;
};

}  // namespace tp::db::foxpro
