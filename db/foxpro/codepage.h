// Text of a table's code page to UTF-8. Single-byte code pages use a
// 256-entry table built once through iconv; multi-byte ones call iconv.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tp::db::foxpro {

// The Windows/DOS code page number of a DBF language-driver byte; 0 when the
// byte is 0 or unknown.
int codePageOfDriver(uint8_t driver);

// The code pages FoxPro knows (those its marks name, and Hebrew DOS, which
// no mark names but tables without a mark carry), in number order, each
// with a short name ("Cyrillic DOS").
struct CodePageName {
    int number;
    const char* name;
};
const std::vector<CodePageName>& knownCodePages();
bool isKnownCodePage(int codePage);
// "866 (Cyrillic DOS)"; the bare number for a code page FoxPro does not know.
std::string codePageLabel(int codePage);

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

    // What a sample of text is in this code page: its bytes above ASCII,
    // those the code page does not define (single-byte) or that start no
    // valid character (multi-byte), and those that read as no letter
    // (single-byte only: punctuation, symbols, box drawing).
    struct Fit {
        uint64_t high = 0, invalid = 0, nonLetters = 0;
    };
    void fit(const uint8_t* data, size_t n, Fit& fit) const;
    // True when every byte of the code page is defined (single-byte).
    bool definesEveryByte() const { return singleByte_ && !anyUndefined_; }
    // How many bytes decode() has written as U+FFFD (multi-byte code pages).
    uint64_t replacedBytes() const;

private:
    void setByte(int b, char32_t c);
    // The bytes where Mazovia, Kamenicky and today's Mac Roman and Mac
    // Cyrillic differ from the converter's code page.
    void applyVariantBytes();
    // Fills class_ from the table (the undefined bytes already marked).
    void classifyBytes();

    int codePage_;
    bool singleByte_ = true;
    // UTF-8 for each byte: up to 3 bytes plus a length.
    struct Entry {
        char bytes[4];
        uint8_t len;
    };
    Entry table_[256]{};
    enum : uint8_t { kLetter, kUndefined, kNoLetter };
    uint8_t class_[256]{};  // of the bytes above ASCII (single-byte)
    bool anyUndefined_ = false;
    struct Iconv;
    std::unique_ptr<Iconv> iconv_;
};

}  // namespace tp::db::foxpro
