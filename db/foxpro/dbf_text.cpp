// The code page of a table's text: its mark when the mark names a code page
// and a sample of the text is valid there; otherwise the code page the
// options choose, or the one uchardet finds in the sample, or the default
// (1252 in Visual FoxPro tables, 437 in older ones).
#include <cstdio>

#include "db/error.h"
#include "db/foxpro/dbf.h"
#include "db/foxpro/detect.h"

namespace tp::db::foxpro {

namespace {

// The sample: the text of the first records, up to this many bytes, a memo
// adding at most its first kMemoSampleBytes.
constexpr size_t kSampleBytes = 1024 * 1024;
constexpr size_t kMemoSampleBytes = 16 * 1024;
// Without a mark and without an answer from the text: Windows text in a
// Visual FoxPro table, DOS text in the tables of FoxPro 2, FoxBASE and
// dBase, as the programs that wrote them read it.
constexpr int kWindowsDefault = 1252, kDosDefault = 437;

std::string markText(const CodePageUse& use) {
    if (use.mark != 0) return "marked " + codePageLabel(use.mark);
    if (use.markByte == 0) return "no code page mark";
    char mark[8];
    std::snprintf(mark, sizeof mark, "0x%02X", use.markByte);
    return std::string("unknown code page mark ") + mark;
}

std::string fromText(const CodePageUse& use) {
    using From = CodePageUse::From;
    switch (use.from) {
    case From::Detected: return "detected";
    case From::Default:
        return use.used == kDosDefault ? "the default of DOS tables: no code page was found in its text"
                                       : "the default: no code page was found in its text";
    case From::Chosen: return "as chosen";
    case From::Forced: return "as chosen for every table";
    case From::Mark:
    case From::MarkKept: break;
    }
    return "as marked";
}

}  // namespace

void DbfTable::useCodePage(int codePage, CodePageUse::From from) {
    codePage_.from = from;
    if (codePage != decoder_->codePage()) {
        decoder_ = std::make_unique<TextDecoder>(codePage);
        for (DbfField& f : fields_) {
            f.name = decoder_->decode(f.rawName);
            while (!f.name.empty() && f.name.back() == ' ') f.name.pop_back();
        }
    }
    codePage_.used = decoder_->codePage();
}

void DbfTable::settleCodePage() {
    using From = CodePageUse::From;
    codePage_ = {};
    codePage_.markByte = driver_;
    codePage_.mark = codePageOfDriver(driver_);
    if (options_.forceCodePage && isKnownCodePage(options_.codePage)) {
        useCodePage(options_.codePage, From::Forced);
    } else if (codePage_.mark != 0 && (decoder_->definesEveryByte() || fitOfSample(*decoder_).invalid == 0)) {
        useCodePage(codePage_.mark, From::Mark);
    } else {
        codePage_.markInvalid = codePage_.mark != 0;
        if (isKnownCodePage(options_.codePage)) {
            useCodePage(options_.codePage, From::Chosen);
        } else if (const int found = detectCodePage(); found != 0 && found != codePage_.mark) {
            useCodePage(found, From::Detected);
        } else if (codePage_.mark != 0) {
            useCodePage(codePage_.mark, From::MarkKept);
        } else {
            useCodePage(vfp_ ? kWindowsDefault : kDosDefault, From::Default);
        }
    }
    replacedBefore_ = decoder_->replacedBytes();
    codePageTold_ = false;
}

std::span<const uint8_t> DbfTable::sampleValue(const DbfField& f, const uint8_t* rec, const uint8_t* nullFlags) {
    const bool isNull = nullFlags && f.nullBit >= 0 && (nullFlags[f.nullBit >> 3] >> (f.nullBit & 7) & 1);
    if (isNull || f.binary()) return {};
    const uint8_t* p = rec + f.offset;
    size_t n = f.length;
    if (f.type == 'V') {
        if (f.varBit >= 0 && nullFlags && (nullFlags[f.varBit >> 3] >> (f.varBit & 7) & 1)) n = p[n - 1];
        if (n >= f.length) n = f.length;
    } else if (f.type == 'M') {
        if (options_.memosAsBinary || !memo_) return {};
        const uint64_t block = memoBlock(f, p);
        if (block == 0) return {};
        const std::span<const uint8_t> memo = memo_->view(block, sampleMemo_);
        return memo.first(std::min(memo.size(), kMemoSampleBytes));
    } else if (f.type != 'C') {
        return {};
    }
    while (n > 0 && (p[n - 1] == ' ' || p[n - 1] == 0)) --n;
    return {p, n};
}

void DbfTable::sampleText(const std::function<bool(const uint8_t*, size_t)>& fn) {
    size_t sampled = 0;
    rewind();
    try {
        while (sampled < kSampleBytes) {
            const uint8_t* rec = fetchRecord();
            if (!rec) break;
            const uint8_t* nullFlags = nullFlags_ ? rec + nullFlags_->offset : nullptr;
            for (const DbfField& f : fields_) {
                std::span<const uint8_t> text;
                try {
                    text = sampleValue(f, rec, nullFlags);
                } catch (const Error&) {
                    continue;  // the rows tell of a value that cannot be read
                }
                if (text.empty()) continue;
                sampled += text.size();
                if (!fn(text.data(), text.size())) {
                    sampled = kSampleBytes;
                    break;
                }
            }
        }
    } catch (const Error&) {
        // A table that ends early: the rows tell.
    }
    rewind();
}

TextDecoder::Fit DbfTable::fitOfSample(const TextDecoder& decoder) {
    TextDecoder::Fit fit;
    sampleText([&](const uint8_t* p, size_t n) {
        decoder.fit(p, n, fit);
        return true;
    });
    return fit;
}

int DbfTable::detectCodePage() {
    CodePageDetector detector;
    sampleText([&](const uint8_t* p, size_t n) { return detector.feed(p, n); });
    codePage_.plainText = detector.highBytes() == 0;
    const int found = detector.finish();
    if (found == 0) return 0;
    // The answer is taken when the sample is valid text in it (a byte in a
    // hundred may be damaged) whose characters above ASCII are mostly
    // letters: text read in a wrong code page turns into punctuation and
    // symbols.
    const TextDecoder::Fit fit = fitOfSample(TextDecoder(found));
    if (fit.high == 0 || fit.invalid * 100 > fit.high || fit.nonLetters * 4 > fit.high) return 0;
    if (codePage_.mark != 0 && fit.invalid >= fitOfSample(TextDecoder(codePage_.mark)).invalid) return 0;
    return found;
}

std::string DbfTable::takeCodePageNote() {
    std::string note;
    // A table with no mark whose sample is plain ASCII reads the same in
    // every code page: nothing to tell.
    const bool plain = codePage_.markByte == 0 && codePage_.plainText && codePage_.from == CodePageUse::From::Default;
    if (!codePageTold_ && codePage_.from != CodePageUse::From::Mark && !plain) {
        note = reportName_ + ": " + markText(codePage_);
        if (codePage_.markInvalid) note += " but its text is not valid there";
        if (codePage_.from == CodePageUse::From::MarkKept)
            note += "; read as marked: no code page its text fits better was found";
        else note += "; read as " + codePageLabel(codePage_.used) + ", " + fromText(codePage_);
    }
    codePageTold_ = true;
    const uint64_t replaced = decoder_->replacedBytes() - replacedBefore_;
    if (replaced > 0) {
        if (note.empty()) note = reportName_ + ": read as " + codePageLabel(codePage_.used);
        note += "; " + std::to_string(replaced) + (replaced == 1 ? " byte" : " bytes") +
                " that start no character there " + (replaced == 1 ? "was" : "were") + " read as U+FFFD";
        replacedBefore_ += replaced;
    }
    return note;
}

}  // namespace tp::db::foxpro
