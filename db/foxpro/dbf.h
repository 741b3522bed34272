// Reader of DBF tables as Visual FoxPro 3-9, FoxPro 2.x, FoxBASE+ and
// dBase III/IV write them, with their FPT/DBT memo files. Rows are decoded
// one at a time from a bounded read buffer, so memory does not grow with the
// table.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "db/cursor.h"
#include "db/error.h"
#include "db/foxpro/codepage.h"
#include "db/foxpro/source.h"

namespace tp::db::foxpro {

// VFP field flags (byte 18 of a field descriptor).
inline constexpr uint8_t kFlagSystem = 0x01, kFlagNullable = 0x02, kFlagBinary = 0x04, kFlagAutoIncrement = 0x08;

struct DbfField {
    std::string name;     // header name (up to 10 characters)
    std::string rawName;  // its bytes
    char type = 'C';
    uint32_t offset = 0;  // within the record (the deletion byte is offset 0)
    uint32_t length = 0;
    uint8_t decimals = 0;
    uint8_t flags = 0;
    int nullBit = -1;       // bit in _NullFlags, -1 when none
    int varBit = -1;        // length bit of V/Q fields, -1 when none
    uint32_t autoNext = 0;  // an autoincrement's next value
    uint8_t autoStep = 0;   // and its step
    bool binary() const { return (flags & kFlagBinary) != 0; }
    bool nullable() const { return (flags & kFlagNullable) != 0; }
    bool autoIncrement() const { return (flags & kFlagAutoIncrement) != 0; }
};

// The file names of one folder, listed once (lowercased, each with the path
// of the first file of that name in the folder's order): where the files a
// table names are looked for without regard to case, instead of the folder.
struct FolderListing {
    std::string folder;  // as the parent path of its files' paths
    std::unordered_map<std::string, std::string> byLowerName;
    static std::shared_ptr<const FolderListing> of(const std::string& folder);
};

// How a table's text is read.
struct ReadOptions {
    // The code page of tables that name none, or name one their text is not
    // valid in; 0: found from the text (else 1252 in Visual FoxPro tables,
    // 437 in the DOS tables of FoxPro 2, FoxBASE and dBase).
    int codePage = 0;
    // codePage for every table, whatever it names.
    bool forceCodePage = false;
    // Memo fields read as bytes, whatever their flags (a container's
    // PROPERTY memos are binary).
    bool memosAsBinary = false;
    // The listing of the tables' folder, when the caller has one.
    std::shared_ptr<const FolderListing> listing;
};

// Where the code page a table is read in came from.
struct CodePageUse {
    enum class From { Mark, Detected, Default, Chosen, Forced, MarkKept };
    From from = From::Mark;
    int used = 0;              // the code page the text is read in
    int mark = 0;              // the one the table names; 0 when none or unknown
    uint8_t markByte = 0;      // byte 29 of the header
    bool markInvalid = false;  // the table's text is not valid in the mark
    bool plainText = false;    // the sample searched holds no byte above ASCII
};

class MemoFile {
public:
    enum class Format { Fpt, Dbt3, Dbt4 };
    MemoFile(std::unique_ptr<ByteSource> src, Format format);
    // The memo at block `block`; throws Error naming the file when the block
    // or its length lies outside the file.
    void read(uint64_t block, std::vector<uint8_t>& out) const;
    // The same bytes, seen in the read window where they lie in it (valid
    // until the next call), else read into scratch.
    std::span<const uint8_t> view(uint64_t block, std::vector<uint8_t>& scratch) const;
    const std::string& name() const { return src_->name(); }

private:
    // Reads n bytes at off through a window of the file: memos are mostly
    // read in file order, so most reads need no system call.
    size_t readCached(uint64_t off, void* buf, size_t n) const;
    // Up to n bytes at off inside the window (moved there when needed);
    // got tells how many (fewer at the end of the file).
    const uint8_t* windowAt(uint64_t off, size_t n, size_t& got) const;
    // The length of the FPT memo at off, checked against the file.
    uint32_t fptLength(uint64_t off, uint64_t block) const;

    std::unique_ptr<ByteSource> src_;
    Format format_;
    uint32_t blockSize_ = 512;
    mutable std::vector<uint8_t> window_;
    mutable uint64_t windowStart_ = 0;
};

class DbfTable {
public:
    // Opens path and, when the table has memo fields, its memo file (found
    // beside it without regard to case). Throws Error naming the file.
    static std::unique_ptr<DbfTable> open(const std::string& path, const ReadOptions& options = {});
    // From sources in memory (tests, fuzzing). memo may be null.
    DbfTable(std::unique_ptr<ByteSource> table, std::unique_ptr<ByteSource> memo, const ReadOptions& options = {});
    ~DbfTable();

    const std::string& fileName() const { return src_->name(); }
    uint8_t version() const { return version_; }
    bool isVisualFoxPro() const { return vfp_; }
    uint8_t languageDriver() const { return driver_; }
    uint32_t recordCount() const { return recordCount_; }
    uint32_t recordLength() const { return recordLength_; }
    // User fields (system fields such as _NullFlags left out).
    const std::vector<DbfField>& fields() const { return fields_; }
    bool needsMemo() const;
    const TextDecoder& decoder() const { return *decoder_; }
    // The code page the text is read in and where it came from: the mark
    // when the table names a code page and a sample of its text is valid
    // there, else the options' choice or the one found from a sample.
    const CodePageUse& codePageUse() const { return codePage_; }
    // The name the code page note gives the table (default: the file name).
    void setReportName(std::string name) { reportName_ = std::move(name); }
    // Tells, once, the code page the text was read in when it is not the
    // table's own valid mark ("customers: no code page mark; read as 866
    // (Cyrillic DOS), detected"), and the bytes written as U+FFFD since the
    // last call; empty when there is nothing to tell. takeNotes() gives it
    // first when it was not taken.
    std::string takeCodePageNote();

    // The ADO description of each user field (names may be replaced by the
    // caller, e.g. with a container's long names).
    std::vector<FieldInfo> fieldInfos() const;

    // Advances to the next live record and decodes it into row; false at the
    // end. Deleted records are skipped. A value that cannot be read is
    // NULL in row and is counted (see takeNotes).
    bool next(std::vector<Value>& row);
    // What the reader met since the last call that the user should hear of
    // once: each text names the file, with the number of values it lost
    // (0 for a warning: an unknown code page mark, numbers FoxPro itself
    // stored as asterisks).
    std::vector<std::pair<std::string, int64_t>> takeNotes();
    uint64_t lostValues() const { return lostValues_; }
    // Raw access for tests: the next record's bytes including deleted ones.
    void rewind();

private:
    // open(): the code page is settled once the memo file is attached.
    DbfTable(std::unique_ptr<ByteSource> table, const ReadOptions& options);
    void parseHeader();
    // The code page of the text (dbf_text.cpp).
    void settleCodePage();
    void useCodePage(int codePage, CodePageUse::From from);
    // Calls fn with the text of the first records' character, varchar and
    // memo values until fn returns false or the sample is full; the rows
    // are read from the start afterwards.
    void sampleText(const std::function<bool(const uint8_t*, size_t)>& fn);
    std::span<const uint8_t> sampleValue(const DbfField& f, const uint8_t* rec, const uint8_t* nullFlags);
    TextDecoder::Fit fitOfSample(const TextDecoder& decoder);
    int detectCodePage();
    // parseHeader's parts, in order.
    void readTableHeader(uint64_t size);
    DbfField fieldDescriptor(const uint8_t* descriptor, uint32_t offset) const;
    std::vector<DbfField> readFieldDescriptors(uint64_t size);
    void fitRecordLength(uint64_t size, uint32_t fieldsEnd, const std::string& overflowAt);
    void checkFieldLength(const DbfField& f) const;
    void assignFields(std::vector<DbfField>& all);
    void attachMemo(std::unique_ptr<ByteSource> memo);
    const uint8_t* fetchRecord();  // nullptr at the end
    void decodeField(const DbfField& f, const uint8_t* rec, const uint8_t* nullFlags, Value& out);
    // decodeField by kind of field; p is the field's bytes.
    uint64_t memoBlock(const DbfField& f, const uint8_t* p) const;
    void decodeMemo(const DbfField& f, const uint8_t* p, bool binary, Value& out);
    void decodeVariable(const DbfField& f, const uint8_t* p, const uint8_t* nullFlags, Value& out);
    void decodeNumber(const DbfField& f, const uint8_t* p, Value& out);
    void decodeDate(const DbfField& f, const uint8_t* p, Value& out) const;
    void decodeDateTime(const DbfField& f, const uint8_t* p, Value& out) const;
    void decodeLogical(const DbfField& f, const uint8_t* p, Value& out) const;
    [[noreturn]] void fail(const std::string& what) const;
    [[noreturn]] void failField(const DbfField& f, const std::string& what) const;

    std::unique_ptr<ByteSource> src_;
    std::unique_ptr<MemoFile> memo_;
    std::unique_ptr<TextDecoder> decoder_;
    ReadOptions options_;
    CodePageUse codePage_;
    std::string reportName_;
    bool codePageTold_ = false;
    uint64_t replacedBefore_ = 0;  // by the decoder before the rows
    std::vector<uint8_t> sampleMemo_;
    uint8_t version_ = 0;
    bool vfp_ = false;
    uint8_t driver_ = 0;
    uint32_t recordCount_ = 0;
    uint32_t headerLength_ = 0;
    uint32_t recordLength_ = 0;
    std::vector<DbfField> fields_;
    std::optional<DbfField> nullFlags_;

    std::vector<uint8_t> buffer_;
    uint32_t bufferFirst_ = 0;  // record number of buffer_[0]
    uint32_t bufferCount_ = 0;  // records in buffer_
    uint32_t nextRecord_ = 0;
    uint32_t currentRecord_ = 0;
    std::vector<uint8_t> memoBytes_;
    std::vector<std::string> notes_;
    uint64_t lostValues_ = 0, toldLost_ = 0, overflowed_ = 0, toldOverflowed_ = 0;
    std::string firstLoss_, firstOverflow_;
};

// Finds name in folder without regard to case; empty when absent. With the
// folder's listing, the folder is not read again.
std::string findFileNoCase(const std::string& folder, const std::string& name, const FolderListing* listing = nullptr);

}  // namespace tp::db::foxpro
