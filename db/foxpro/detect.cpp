#include "db/foxpro/detect.h"

#include <uchardet.h>

#include <string>

namespace tp::db::foxpro {

namespace {

// Enough text above ASCII to stop sampling, and too little to trust an
// answer.
constexpr uint64_t kEnoughHighBytes = 64 * 1024;
constexpr uint64_t kTooFewHighBytes = 8;

}  // namespace

int codePageOfCharset(std::string_view charset) {
    struct Pair {
        const char* charset;
        int codePage;
    };
    // The ISO code pages read as the Windows code page that extends them
    // (their text rarely uses the C1 range where the two differ).
    static const Pair kPairs[] = {
        {"IBM866", 866},        {"IBM852", 852},        {"WINDOWS-1250", 1250}, {"ISO-8859-2", 1250},
        {"WINDOWS-1251", 1251}, {"WINDOWS-1252", 1252}, {"ISO-8859-1", 1252},   {"ISO-8859-15", 1252},
        {"WINDOWS-1253", 1253}, {"ISO-8859-7", 1253},   {"WINDOWS-1254", 1254}, {"ISO-8859-9", 1254},
        {"WINDOWS-1255", 1255}, {"ISO-8859-8", 1255},   {"WINDOWS-1256", 1256}, {"WINDOWS-1257", 1257},
        {"ISO-8859-13", 1257},  {"TIS-620", 874},       {"SHIFT_JIS", 932},     {"GB18030", 936},
        {"EUC-KR", 949},        {"BIG5", 950},
    };
    for (const Pair& p : kPairs)
        if (charset == p.charset) return p.codePage;
    return 0;
}

struct CodePageDetector::Handle {
    uchardet_t ud = uchardet_new();
    ~Handle() { uchardet_delete(ud); }
};

CodePageDetector::CodePageDetector() : handle_(std::make_unique<Handle>()) {}
CodePageDetector::~CodePageDetector() = default;

bool CodePageDetector::feed(const uint8_t* data, size_t n) {
    for (size_t i = 0; i < n; ++i) high_ += data[i] >> 7;
    uchardet_handle_data(handle_->ud, reinterpret_cast<const char*>(data), n);
    // Values apart, so that the end of one and the start of the next do not
    // read as one word.
    uchardet_handle_data(handle_->ud, "\n", 1);
    return high_ < kEnoughHighBytes;
}

int CodePageDetector::finish() {
    uchardet_data_end(handle_->ud);
    if (high_ < kTooFewHighBytes) return 0;
    return codePageOfCharset(uchardet_get_charset(handle_->ud));
}

}  // namespace tp::db::foxpro
