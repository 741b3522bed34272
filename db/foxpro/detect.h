// Which code page a table's text is in, when the table does not say or says
// wrong: uchardet reads a sample of the text and its answer is named among
// the code pages FoxPro knows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace tp::db::foxpro {

// The FoxPro code page of a charset name uchardet gives ("IBM866" 866,
// "ISO-8859-7" 1253, "SHIFT_JIS" 932); 0 for a charset whose text no FoxPro
// code page reads as it is, and for the Macintosh code pages, which uchardet
// names for DOS text.
int codePageOfCharset(std::string_view charset);

class CodePageDetector {
public:
    CodePageDetector();
    ~CodePageDetector();
    CodePageDetector(const CodePageDetector&) = delete;
    CodePageDetector& operator=(const CodePageDetector&) = delete;

    // Adds one value's text to the sample; false once the sample holds
    // enough text above ASCII to decide.
    bool feed(const uint8_t* data, size_t n);
    uint64_t highBytes() const { return high_; }
    // Ends the sample: the code page uchardet names, 0 when it names none
    // FoxPro knows or the sample holds too little text above ASCII.
    int finish();

private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
    uint64_t high_ = 0;
};

}  // namespace tp::db::foxpro
