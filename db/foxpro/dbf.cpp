#include "db/foxpro/dbf.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "db/coding/endian.h"
#include "db/error.h"

namespace tp::db::foxpro {

namespace {

using coding::decodeBE32;
using coding::decodeLE16;
using coding::decodeLE32;
using coding::decodeLE64;

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool allOf(const uint8_t* p, size_t n, std::initializer_list<uint8_t> set) {
    for (size_t i = 0; i < n; ++i)
        if (std::find(set.begin(), set.end(), p[i]) == set.end()) return false;
    return true;
}

constexpr size_t kBufferBytes = 256 * 1024;

}  // namespace

std::shared_ptr<const FolderListing> FolderListing::of(const std::string& folder) {
    namespace fs = std::filesystem;
    auto listing = std::make_shared<FolderListing>();
    listing->folder = (fs::path(folder) / "x").parent_path().string();
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code ec2;
        if (it->is_regular_file(ec2))
            listing->byLowerName.emplace(lower(it->path().filename().string()), it->path().string());
    }
    return listing;
}

std::string findFileNoCase(const std::string& folder, const std::string& name, const FolderListing* listing) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path dir = folder.empty() ? fs::path(".") : fs::path(folder);
    const fs::path exact = dir / name;
    if (fs::is_regular_file(exact, ec)) return exact.string();
    const std::string want = lower(name);
    if (listing && listing->folder == folder) {
        const auto it = listing->byLowerName.find(want);
        return it == listing->byLowerName.end() ? std::string() : it->second;
    }
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (lower(it->path().filename().string()) == want && it->is_regular_file(ec)) return it->path().string();
    }
    return {};
}

// ---- memo files -------------------------------------------------------------

MemoFile::MemoFile(std::unique_ptr<ByteSource> src, Format format) : src_(std::move(src)), format_(format) {
    uint8_t h[32] = {};
    const size_t got = src_->readAt(0, h, sizeof h);
    if (format_ == Format::Fpt) {
        if (got < 8) throw Error("The memo file " + src_->name() + " is too short to hold its header.");
        blockSize_ = static_cast<uint32_t>(h[6]) << 8 | h[7];
        if (blockSize_ == 0) blockSize_ = 1;  // SET BLOCKSIZE TO 0: byte-sized blocks
    } else if (format_ == Format::Dbt4) {
        if (got >= 22 && decodeLE16(h + 20) != 0) blockSize_ = decodeLE16(h + 20);
    }
}

constexpr size_t kMemoWindow = 256 * 1024;

const uint8_t* MemoFile::windowAt(uint64_t off, size_t n, size_t& got) const {
    if (off < windowStart_ || off + n > windowStart_ + window_.size()) {
        window_.resize(kMemoWindow);
        window_.resize(src_->readAt(off, window_.data(), kMemoWindow));
        windowStart_ = off;
    }
    const uint64_t rel = off - windowStart_;
    if (rel >= window_.size()) {
        got = 0;
        return nullptr;
    }
    got = std::min<size_t>(n, window_.size() - static_cast<size_t>(rel));
    return window_.data() + rel;
}

size_t MemoFile::readCached(uint64_t off, void* buf, size_t n) const {
    if (n > kMemoWindow / 2) return src_->readAt(off, buf, n);
    size_t got = 0;
    const uint8_t* p = windowAt(off, n, got);
    if (got) std::memcpy(buf, p, got);
    return got;
}

uint32_t MemoFile::fptLength(uint64_t off, uint64_t block) const {
    const uint64_t size = src_->size();
    auto where = [&] { return " (memo block " + std::to_string(block) + " of " + src_->name() + ")"; };
    if (off + 8 > size) throw Error("A memo block number lies outside the memo file" + where() + ".");
    uint8_t h[8];
    if (readCached(off, h, 8) != 8) throw Error("The memo file is shorter than it claims" + where() + ".");
    const uint32_t len = decodeBE32(h + 4);
    if (len > size - off - 8) throw Error("A memo length goes beyond the end of the memo file" + where() + ".");
    return len;
}

std::span<const uint8_t> MemoFile::view(uint64_t block, std::vector<uint8_t>& scratch) const {
    if (format_ == Format::Fpt) {
        const uint64_t off = block * blockSize_;
        const uint32_t len = fptLength(off, block);
        if (len <= kMemoWindow / 2) {
            size_t got = 0;
            const uint8_t* p = windowAt(off + 8, len, got);
            if (got != len)
                throw Error("The memo file is shorter than it claims (memo block " + std::to_string(block) + " of " +
                            src_->name() + ").");
            return {p ? p : scratch.data(), len};
        }
    }
    read(block, scratch);
    return {scratch.data(), scratch.size()};
}

void MemoFile::read(uint64_t block, std::vector<uint8_t>& out) const {
    out.clear();
    const uint64_t size = src_->size();
    const uint64_t off = block * blockSize_;  // block < 2^32 and blockSize_ < 2^16: no overflow
    auto where = [&] { return " (memo block " + std::to_string(block) + " of " + src_->name() + ")"; };
    if (format_ == Format::Fpt) {
        const uint32_t len = fptLength(off, block);
        out.resize(len);
        if (len && readCached(off + 8, out.data(), len) != len)
            throw Error("The memo file is shorter than it claims" + where() + ".");
        return;
    }
    if (off >= size) throw Error("A memo block number lies outside the memo file" + where() + ".");
    if (format_ == Format::Dbt4) {
        uint8_t h[8];
        if (src_->readAt(off, h, 8) == 8 && h[0] == 0xFF && h[1] == 0xFF && h[2] == 0x08 && h[3] == 0x00) {
            const uint32_t len = decodeLE32(h + 4);
            if (len < 8 || len - 8 > size - off - 8)
                throw Error("A memo length goes beyond the end of the memo file" + where() + ".");
            out.resize(len - 8);
            if (len > 8 && src_->readAt(off + 8, out.data(), len - 8) != len - 8)
                throw Error("The memo file is shorter than it claims" + where() + ".");
            return;
        }
    }
    // dBase III: the text runs to a 0x1A end mark (or the end of the file).
    uint8_t chunk[512];
    uint64_t pos = off;
    while (pos < size) {
        const size_t got = src_->readAt(pos, chunk, sizeof chunk);
        if (got == 0) break;
        const uint8_t* end = static_cast<const uint8_t*>(std::memchr(chunk, 0x1A, got));
        if (end) {
            out.insert(out.end(), static_cast<const uint8_t*>(chunk), end);
            return;
        }
        out.insert(out.end(), chunk, chunk + got);
        pos += got;
    }
}

// ---- tables -----------------------------------------------------------------

std::unique_ptr<DbfTable> DbfTable::open(const std::string& path, const ReadOptions& options) {
    auto src = openFileSource(path);
    std::unique_ptr<DbfTable> table(new DbfTable(std::move(src), options));
    if (table->needsMemo()) {
        namespace fs = std::filesystem;
        const fs::path p(path);
        const std::string folder = p.parent_path().string();
        const std::string stem = p.stem().string();
        const bool dbc = lower(p.extension().string()) == ".dbc";
        std::string memo;
        static const std::vector<std::string> kDbcMemo = {".dct"}, kTableMemo = {".fpt", ".dbt"};
        for (const std::string& ext : dbc ? kDbcMemo : kTableMemo) {
            memo = findFileNoCase(folder, stem + ext, options.listing.get());
            if (!memo.empty()) break;
        }
        if (memo.empty())
            throw Error("The memo file of " + path + " is missing (" + stem + (dbc ? ".dct" : ".fpt") + ").");
        table->attachMemo(openFileSource(memo));
    }
    table->settleCodePage();
    return table;
}

DbfTable::DbfTable(std::unique_ptr<ByteSource> table, const ReadOptions& options)
    : src_(std::move(table)), options_(options), reportName_(src_->name()) {
    parseHeader();
}

DbfTable::DbfTable(std::unique_ptr<ByteSource> table, std::unique_ptr<ByteSource> memo, const ReadOptions& options)
    : DbfTable(std::move(table), options) {
    if (memo) attachMemo(std::move(memo));
    settleCodePage();
}

DbfTable::~DbfTable() = default;

void DbfTable::fail(const std::string& what) const {
    throw Error("The table " + src_->name() + " cannot be read: " + what + ".");
}

void DbfTable::failField(const DbfField& f, const std::string& what) const {
    throw Error("The table " + src_->name() + " holds a bad value in field " + f.name + " of record " +
                std::to_string(currentRecord_ + 1) + ": " + what + ".");
}

bool DbfTable::needsMemo() const {
    for (const auto& f : fields_)
        if (f.type == 'M' || f.type == 'G' || f.type == 'W' || f.type == 'P' || (f.type == 'B' && !vfp_)) return true;
    return false;
}

void DbfTable::attachMemo(std::unique_ptr<ByteSource> memo) {
    MemoFile::Format fmt = MemoFile::Format::Fpt;
    if (!vfp_) {
        std::string n = lower(memo->name());
        if (n.size() >= 4 && n.compare(n.size() - 4, 4, ".dbt") == 0)
            fmt = version_ == 0x8B || version_ == 0x8E || version_ == 0x7B ? MemoFile::Format::Dbt4
                                                                           : MemoFile::Format::Dbt3;
    }
    memo_ = std::make_unique<MemoFile>(std::move(memo), fmt);
}

void DbfTable::parseHeader() {
    const uint64_t size = src_->size();
    readTableHeader(size);
    std::vector<DbfField> all = readFieldDescriptors(size);
    assignFields(all);
}

void DbfTable::readTableHeader(uint64_t size) {
    uint8_t h[32];
    if (src_->readAt(0, h, 32) != 32) fail("the file is shorter than a table header");
    version_ = h[0];
    vfp_ = version_ == 0x30 || version_ == 0x31 || version_ == 0x32;
    recordCount_ = decodeLE32(h + 4);
    headerLength_ = decodeLE16(h + 8);
    recordLength_ = decodeLE16(h + 10);
    driver_ = h[29];
    if (headerLength_ < 33) fail("the header length (" + std::to_string(headerLength_) + ") is too small");
    if (headerLength_ > size)
        fail("the header length (" + std::to_string(headerLength_) + ") goes beyond the end of the file");
    if (recordLength_ < 1) fail("the record length is 0");
    if (uint64_t(headerLength_) + uint64_t(recordCount_) * recordLength_ > size)
        fail("the record count (" + std::to_string(recordCount_) + ") goes beyond the end of the file");

    // The names are read in the mark's code page until the text's code page
    // is settled (settleCodePage).
    decoder_ = std::make_unique<TextDecoder>(codePageOfDriver(driver_));
}

DbfField DbfTable::fieldDescriptor(const uint8_t* d, uint32_t offset) const {
    DbfField f;
    size_t nl = 0;
    while (nl < 11 && d[nl] != 0) ++nl;
    f.rawName.assign(reinterpret_cast<const char*>(d), nl);
    f.name = decoder_->decode(f.rawName);
    while (!f.name.empty() && f.name.back() == ' ') f.name.pop_back();
    f.type = static_cast<char>(std::toupper(d[11]));
    f.length = d[16];
    f.decimals = d[17];
    f.flags = vfp_ ? d[18] : 0;
    if (f.autoIncrement()) {
        f.autoNext = decodeLE32(d + 19);
        f.autoStep = d[23];
    }
    if (f.type == 'C' && f.decimals) {
        // Character fields longer than 255 keep the high byte of their
        // length in the decimals byte.
        f.length += uint32_t(f.decimals) << 8;
        f.decimals = 0;
    }
    f.offset = offset;
    if (f.length == 0) fail("field " + f.name + " has length 0");
    return f;
}

std::vector<DbfField> DbfTable::readFieldDescriptors(uint64_t size) {
    std::vector<uint8_t> hdr(headerLength_ - 32);
    src_->readAt(32, hdr.data(), hdr.size());
    uint32_t offset = 1;
    std::vector<DbfField> all;
    bool terminated = false;
    std::string overflowAt;  // the first field that ends beyond the record length
    for (size_t p = 0; p < hdr.size(); p += 32) {
        if (hdr[p] == 0x0D) {
            terminated = true;
            break;
        }
        if (p + 32 > hdr.size()) break;
        DbfField f = fieldDescriptor(hdr.data() + p, offset);
        if (uint64_t(offset) + f.length > recordLength_ && overflowAt.empty()) overflowAt = f.name;
        offset += f.length;  // at most 2^16 fields of 2^16 bytes: no overflow
        all.push_back(std::move(f));
    }
    if (!terminated && all.empty()) fail("the header holds no field descriptors");
    if (!terminated)
        fail("the header length (" + std::to_string(headerLength_) +
             ") ends inside the field list (no end mark where it says)");
    if (!overflowAt.empty()) fitRecordLength(size, offset, overflowAt);
    return all;
}

void DbfTable::fitRecordLength(uint64_t size, uint32_t fieldsEnd, const std::string& overflowAt) {
    // Some tools write a record length smaller than the fields need. The
    // fields' length is taken when the file's size holds exactly the records
    // at that length (and an optional end mark), and holds them at no other
    // length.
    const uint64_t data = size - headerLength_;
    const uint64_t need = uint64_t(recordCount_) * fieldsEnd;
    if (fieldsEnd > 0xFFFF || (data != need && data != need + 1))
        fail("the fields overflow the record length (" + std::to_string(recordLength_) + ") at field " + overflowAt);
    recordLength_ = fieldsEnd;
}

void DbfTable::checkFieldLength(const DbfField& f) const {
    auto need = [&](uint32_t len) {
        if (f.length != len)
            fail("field " + f.name + " of type " + std::string(1, f.type) + " has length " + std::to_string(f.length) +
                 " instead of " + std::to_string(len));
    };
    // clang-format off
    switch (f.type) {
    case 'C': case 'N': case 'F': case 'V': case 'Q': case '0': break;
    case 'I': need(4); break;
    case 'Y': case 'T': case 'D': case 'O': need(8); break;
    case 'L': need(1); break;
    case 'B':
        if (vfp_) need(8);
        else if (f.length != 4 && f.length != 10) need(10);
        break;
    case 'M': case 'G': case 'W': case 'P':
        if (f.length != 4 && f.length != 10) need(vfp_ ? 4 : 10);
        break;
    default:
        fail("field " + f.name + " has the unknown type '" + std::string(1, f.type) + "'");
    }
    // clang-format on
}

void DbfTable::assignFields(std::vector<DbfField>& all) {
    int bit = 0;
    for (auto& f : all) {
        checkFieldLength(f);
        if (f.type == '0') {
            if (!nullFlags_) nullFlags_ = f;
            continue;
        }
        if (f.flags & kFlagSystem) continue;
        if (f.type == 'V' || f.type == 'Q') f.varBit = bit++;
        if (f.nullable()) f.nullBit = bit++;
        fields_.push_back(f);
    }
    // Bits that the _NullFlags field cannot hold (or no such field) are
    // treated as never set.
    const int bits = nullFlags_ ? static_cast<int>(nullFlags_->length) * 8 : 0;
    for (auto& f : fields_) {
        if (f.varBit >= bits) f.varBit = -1;
        if (f.nullBit >= bits) f.nullBit = -1;
    }
}

std::vector<FieldInfo> DbfTable::fieldInfos() const {
    std::vector<FieldInfo> out;
    out.reserve(fields_.size());
    for (const auto& f : fields_) {
        FieldInfo i;
        i.name = f.name;
        i.definedSize = static_cast<int>(f.length);
        i.nullable = f.nullable();
        i.sourceType = f.type;
        i.binary = f.binary() && (f.type == 'C' || f.type == 'V' || f.type == 'M');
        if (f.type == 'I' && f.autoIncrement()) {
            i.autoNext = f.autoNext;
            i.autoStep = f.autoStep;
        }
        // clang-format off
        switch (f.type) {
        case 'C': i.type = f.binary() ? adtype::Binary : adtype::Char; break;
        case 'V': i.type = f.binary() ? adtype::VarBinary : adtype::VarChar; break;
        case 'Q': i.type = adtype::VarBinary; break;
        case 'M': i.type = f.binary() ? adtype::LongVarBinary : adtype::LongVarChar; i.definedSize = 0; break;
        case 'G': case 'W': case 'P': i.type = adtype::LongVarBinary; i.definedSize = 0; break;
        case 'N': case 'F':
            i.type = adtype::Numeric;
            i.precision = static_cast<int>(f.length);
            i.numericScale = f.decimals;
            break;
        case 'B':
            if (vfp_) { i.type = adtype::Double; i.precision = 15; }
            else { i.type = adtype::LongVarBinary; i.definedSize = 0; }
            break;
        case 'O': i.type = adtype::Double; i.precision = 15; break;
        case 'I': i.type = adtype::Integer; i.precision = 10; break;
        case 'Y': i.type = adtype::Currency; i.precision = 19; i.numericScale = 4; break;
        case 'D': i.type = adtype::DBDate; break;
        case 'T': i.type = adtype::DBTimeStamp; break;
        case 'L': i.type = adtype::Boolean; break;
        default: i.type = adtype::Char; break;
        }
        // clang-format on
        out.push_back(std::move(i));
    }
    return out;
}

void DbfTable::rewind() {
    nextRecord_ = 0;
    bufferCount_ = 0;
    bufferFirst_ = 0;
}

const uint8_t* DbfTable::fetchRecord() {
    if (nextRecord_ >= recordCount_) return nullptr;
    if (nextRecord_ < bufferFirst_ || nextRecord_ >= bufferFirst_ + bufferCount_) {
        const uint32_t per = std::max<uint32_t>(1, static_cast<uint32_t>(kBufferBytes / recordLength_));
        const uint32_t n = std::min(per, recordCount_ - nextRecord_);
        buffer_.resize(size_t(n) * recordLength_);
        const uint64_t off = headerLength_ + uint64_t(nextRecord_) * recordLength_;
        if (src_->readAt(off, buffer_.data(), buffer_.size()) != buffer_.size())
            fail("the file ends inside record " + std::to_string(nextRecord_ + 1));
        bufferFirst_ = nextRecord_;
        bufferCount_ = n;
    }
    currentRecord_ = nextRecord_++;
    return buffer_.data() + size_t(currentRecord_ - bufferFirst_) * recordLength_;
}

bool DbfTable::next(std::vector<Value>& row) {
    for (;;) {
        const uint8_t* rec = fetchRecord();
        if (!rec) return false;
        if (rec[0] == '*') continue;
        row.resize(fields_.size());
        const uint8_t* nf = nullFlags_ ? rec + nullFlags_->offset : nullptr;
        for (size_t i = 0; i < fields_.size(); ++i) {
            try {
                decodeField(fields_[i], rec, nf, row[i]);
            } catch (const Error& e) {
                // A value that cannot be read costs that value, never the
                // rows after it.
                row[i].setNull();
                if (lostValues_++ == 0) firstLoss_ = e.description();
            }
        }
        return true;
    }
}

std::vector<std::pair<std::string, int64_t>> DbfTable::takeNotes() {
    std::vector<std::pair<std::string, int64_t>> out;
    if (std::string note = takeCodePageNote(); !note.empty()) out.emplace_back(std::move(note), 0);
    for (auto& n : notes_) out.emplace_back(std::move(n), 0);
    notes_.clear();
    if (overflowed_ > toldOverflowed_) {
        out.emplace_back("The table " + src_->name() + " holds " + std::to_string(overflowed_ - toldOverflowed_) +
                             (overflowed_ - toldOverflowed_ == 1 ? " number" : " numbers") +
                             " that did not fit their field in FoxPro itself (stored as asterisks, first in field " +
                             firstOverflow_ + "); they were read as NULL.",
                         0);
        toldOverflowed_ = overflowed_;
    }
    if (lostValues_ > toldLost_) {
        const uint64_t n = lostValues_ - toldLost_;
        out.emplace_back("The table " + src_->name() + ": " + std::to_string(n) +
                             (n == 1 ? " value could not be read and was" : " values could not be read and were") +
                             " read as NULL. " + firstLoss_,
                         static_cast<int64_t>(n));
        toldLost_ = lostValues_;
    }
    return out;
}

namespace {

bool bitSet(const uint8_t* nf, int bit) { return nf && bit >= 0 && (nf[bit >> 3] >> (bit & 7) & 1); }

bool exponentNumber(const uint8_t* m, size_t mn, const uint8_t* x, size_t xn, bool neg, std::string& out);

// Writes the valid digits p[b, e) (the point, if any, at `point`; e when
// none) in canonical form: no leading zeros, no sign on zero.
void putCanonicalDigits(const uint8_t* p, size_t b, size_t point, size_t e, bool neg, std::string& out) {
    size_t ib = b;
    while (ib + 1 < point && p[ib] == '0') ++ib;  // leading zeros
    bool zero = true;
    for (size_t i = ib; i < e; ++i)
        if (p[i] >= '1' && p[i] <= '9') zero = false;
    if (neg && !zero) out += '-';
    if (ib == point) out += '0';
    else out.append(reinterpret_cast<const char*>(p + ib), point - ib);
    if (point + 1 < e) {
        out += '.';
        out.append(reinterpret_cast<const char*>(p + point + 1), e - point - 1);
    }
}

// The digits of an N/F field in canonical form; false when they are not a
// number. An exponent form ("1.5E+25", "-2e-3") is written out in plain
// digits.
bool canonicalNumber(const uint8_t* p, size_t n, std::string& out) {
    size_t b = 0, e = n;
    while (b < e && (p[b] == ' ' || p[b] == 0)) ++b;
    while (e > b && (p[e - 1] == ' ' || p[e - 1] == 0)) --e;
    out.clear();
    bool neg = false;
    if (b < e && (p[b] == '-' || p[b] == '+')) neg = p[b++] == '-';
    size_t point = e;
    for (size_t i = b; i < e; ++i) {
        const uint8_t c = p[i];
        if (c >= '0' && c <= '9') continue;
        if ((c == '.' || c == ',') && point == e) point = i;
        else if ((c == 'E' || c == 'e') && i > b) return exponentNumber(p + b, i - b, p + i + 1, e - i - 1, neg, out);
        else return false;
    }
    if (e - b - (point < e ? 1 : 0) == 0) return false;  // no digit at all
    putCanonicalDigits(p, b, point, e, neg, out);
    return true;
}

// An exponent text ("+25", "-3", "7") of up to three digits; false when it
// is none.
bool readExponent(const uint8_t* x, size_t xn, int& exp) {
    bool xneg = false;
    if (xn && (x[0] == '+' || x[0] == '-')) {
        xneg = x[0] == '-';
        ++x;
        --xn;
    }
    if (xn == 0 || xn > 3) return false;
    exp = 0;
    for (size_t i = 0; i < xn; ++i) {
        if (x[i] < '0' || x[i] > '9') return false;
        exp = exp * 10 + (x[i] - '0');
    }
    if (xneg) exp = -exp;
    return true;
}

// The digits of a mantissa with an optional point, and how many stand before
// the point; false when it is not one.
bool readMantissa(const uint8_t* m, size_t mn, std::string& digits, int& intDigits) {
    intDigits = -1;
    for (size_t i = 0; i < mn; ++i) {
        if (m[i] >= '0' && m[i] <= '9') digits += static_cast<char>(m[i]);
        else if (intDigits < 0) intDigits = static_cast<int>(digits.size());
        else return false;
    }
    if (digits.empty()) return false;
    if (intDigits < 0) intDigits = static_cast<int>(digits.size());
    return true;
}

// Writes digits with the point after the first intDigits of them (before
// them when intDigits <= 0, after added zeros when beyond them), without
// trailing zeros of the fraction.
void putPlainDigits(const std::string& digits, int intDigits, bool neg, std::string& out) {
    if (neg) out += '-';
    if (intDigits <= 0) {
        out += "0.";
        out.append(static_cast<size_t>(-intDigits), '0');
        out += digits;
    } else if (static_cast<size_t>(intDigits) >= digits.size()) {
        out += digits;
        out.append(static_cast<size_t>(intDigits) - digits.size(), '0');
    } else {
        out.append(digits, 0, static_cast<size_t>(intDigits));
        out += '.';
        out.append(digits, static_cast<size_t>(intDigits));
    }
    while (out.find('.') != std::string::npos && (out.back() == '0' || out.back() == '.')) {
        const bool point = out.back() == '.';
        out.pop_back();
        if (point) break;
    }
}

// Digits with an optional point (mantissa) times ten to the exponent text
// ("+25", "-3", "7"), in plain digits. Exponents beyond 400 are refused.
bool exponentNumber(const uint8_t* m, size_t mn, const uint8_t* x, size_t xn, bool neg, std::string& out) {
    int exp = 0;
    if (!readExponent(x, xn, exp)) return false;
    if (exp > 400 || exp < -400) return false;  // beyond any double FoxPro holds
    std::string digits;
    int intDigits = 0;
    if (!readMantissa(m, mn, digits, intDigits)) return false;
    intDigits += exp;  // digits before the point of the plain form
    while (intDigits > 0 && digits.size() > 1 && digits[0] == '0') {
        digits.erase(0, 1);
        --intDigits;
    }
    const bool zero = digits.find_first_not_of('0') == std::string::npos;
    out.clear();
    if (zero) {
        out = "0";
        return true;
    }
    putPlainDigits(digits, intDigits, neg, out);
    return true;
}

bool daysInMonthOk(int y, int m, int d) {
    static const int dim[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m < 1 || m > 12 || d < 1) return false;
    int max = dim[m - 1];
    if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) max = 29;
    return d <= max;
}

}  // namespace

uint64_t DbfTable::memoBlock(const DbfField& f, const uint8_t* p) const {
    const size_t n = f.length;
    if (n == 4) return decodeLE32(p);
    uint64_t v = 0;
    bool digits = false;
    for (size_t i = 0; i < n; ++i) {
        if (p[i] == ' ' || p[i] == 0) {
            if (digits) break;
            continue;
        }
        if (p[i] < '0' || p[i] > '9') failField(f, "the memo block number is not a number");
        v = v * 10 + (p[i] - '0');
        digits = true;
    }
    return v;
}

void DbfTable::decodeMemo(const DbfField& f, const uint8_t* p, bool binary, Value& out) {
    const uint64_t block = memoBlock(f, p);
    if (block == 0) {
        if (binary) out = Value(Bytes{});
        else out.setText();
        return;
    }
    if (!memo_) fail("the memo file is missing");
    const std::span<const uint8_t> bytes = memo_->view(block, memoBytes_);
    if (binary) {
        out = Value(Bytes(bytes.begin(), bytes.end()));
        return;
    }
    std::string& s = out.setText();
    s.reserve(bytes.size());
    decoder_->decode(bytes.data(), bytes.size(), s);
}

void DbfTable::decodeVariable(const DbfField& f, const uint8_t* p, const uint8_t* nf, Value& out) {
    const size_t n = f.length;
    size_t len = n;
    if (bitSet(nf, f.varBit)) {
        len = p[n - 1];
        if (len > n - 1) failField(f, "the stored length exceeds the field");
    }
    if (f.type == 'Q' || f.binary()) return void(out = Value(Bytes(p, p + len)));
    std::string& s = out.setText();
    s.reserve(len);
    decoder_->decode(p, len, s);
}

void DbfTable::decodeNumber(const DbfField& f, const uint8_t* p, Value& out) {
    const size_t n = f.length;
    if (allOf(p, n, {' ', 0})) return out.setNull();
    if (allOf(p, n, {' ', 0, '*'})) {
        // FoxPro writes asterisks when a value does not fit its field.
        if (overflowed_++ == 0) firstOverflow_ = f.name;
        return out.setNull();
    }
    if (!canonicalNumber(p, n, out.setDecimalText()))
        failField(f, "\"" + std::string(reinterpret_cast<const char*>(p), n) + "\" is not a number");
}

void DbfTable::decodeDate(const DbfField& f, const uint8_t* p, Value& out) const {
    if (allOf(p, f.length, {' ', 0, '0'})) return out.setNull();
    int v[8];
    for (int i = 0; i < 8; ++i) {
        if (p[i] < '0' || p[i] > '9') failField(f, "the date is not in YYYYMMDD form");
        v[i] = p[i] - '0';
    }
    const int y = v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3], m = v[4] * 10 + v[5], d = v[6] * 10 + v[7];
    if (y == 0 || !daysInMonthOk(y, m, d)) failField(f, "the date does not exist");
    out = Value(Date{y, m, d});
}

void DbfTable::decodeDateTime(const DbfField& f, const uint8_t* p, Value& out) const {
    if (allOf(p, f.length, {' ', 0})) return out.setNull();
    const int64_t jd = static_cast<int32_t>(decodeLE32(p));
    const uint32_t ms = decodeLE32(p + 4);
    if (jd == 0) return out.setNull();
    // Julian day 1721426 is 0001-01-01; 5373484 is 9999-12-31.
    if (jd < 1721426 || jd > 5373484 || ms >= 86400000u) failField(f, "the date-time is out of range");
    const Date date = civilFromDays(jd - 2440588);
    DateTime dt;
    dt.date = date;
    dt.hour = static_cast<int>(ms / 3600000);
    dt.minute = static_cast<int>(ms / 60000 % 60);
    dt.second = static_cast<int>(ms / 1000 % 60);
    dt.millisecond = static_cast<int>(ms % 1000);
    out = Value(dt);
}

void DbfTable::decodeLogical(const DbfField& f, const uint8_t* p, Value& out) const {
    // clang-format off
    switch (p[0]) {
    case 'T': case 't': case 'Y': case 'y': out = Value(true); return;
    case 'F': case 'f': case 'N': case 'n': out = Value(false); return;
    case '?': case ' ': case 0: return out.setNull();
    default: failField(f, "the logical value is not T, F, Y, N or ?");
    }
    // clang-format on
}

void DbfTable::decodeField(const DbfField& f, const uint8_t* rec, const uint8_t* nf, Value& out) {
    if (bitSet(nf, f.nullBit)) return out.setNull();
    const uint8_t* p = rec + f.offset;
    const size_t n = f.length;
    // clang-format off
    switch (f.type) {
    case 'C': {
        if (f.binary()) return void(out = Value(Bytes(p, p + n)));
        std::string& s = out.setText();
        s.reserve(n);
        decoder_->decode(p, n, s);
        return;
    }
    case 'V': case 'Q': return decodeVariable(f, p, nf, out);
    case 'M': return decodeMemo(f, p, f.binary() || options_.memosAsBinary, out);
    case 'G': case 'W': case 'P': return decodeMemo(f, p, true, out);
    case 'N': case 'F': return decodeNumber(f, p, out);
    case 'B': {
        if (!vfp_) return decodeMemo(f, p, true, out);
        double d;
        std::memcpy(&d, p, 8);
        out = Value(d);
        return;
    }
    case 'O': {
        // dBase 7 double: big-endian with the sign bit flipped for ordering.
        uint64_t u = 0;
        for (int i = 0; i < 8; ++i) u = u << 8 | p[i];
        u = (u & 0x8000000000000000ULL) ? (u ^ 0x8000000000000000ULL) : ~u;
        double d;
        std::memcpy(&d, &u, 8);
        out = Value(d);
        return;
    }
    case 'I': out = Value(static_cast<int64_t>(static_cast<int32_t>(decodeLE32(p)))); return;
    case 'Y': out = Value(Currency{static_cast<int64_t>(decodeLE64(p))}); return;
    case 'D': return decodeDate(f, p, out);
    case 'T': return decodeDateTime(f, p, out);
    case 'L': return decodeLogical(f, p, out);
    }
    // clang-format on
    out.setNull();
}

}  // namespace tp::db::foxpro
