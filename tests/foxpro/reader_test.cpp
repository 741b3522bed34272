// The table reader on hand-built files: every field type, nulls, deleted
// records, and hostile headers and memo files.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>

#include "db/ado.h"
#include "db/foxpro/codepage.h"
#include "db/foxpro/dbf.h"
#include "tests/foxpro/dbf_builder.h"
#include "tests/support/support.h"

using namespace tp;
using namespace tp::test;
using tp::db::Value;
using namespace std::string_literals;
namespace fs = std::filesystem;

namespace {

std::string pad(std::string s, size_t n, char c = ' ') {
    s.resize(n, c);
    return s;
}

std::string le64(int64_t v) {
    std::string s(8, '\0');
    for (int i = 0; i < 8; ++i) s[static_cast<size_t>(i)] = static_cast<char>(static_cast<uint64_t>(v) >> (8 * i));
    return s;
}

std::string dbl(double d) {
    std::string s(8, '\0');
    std::memcpy(s.data(), &d, 8);
    return s;
}

// Julian day of 2024-02-29 and 13:45:30.250.
constexpr uint32_t kJd = 2460370;
constexpr uint32_t kMs = (13 * 3600 + 45 * 60 + 30) * 1000 + 250;

struct Opened {
    TempDir dir;
    std::unique_ptr<db::Connection> conn;
    std::unique_ptr<db::Recordset> rs;
};

std::string errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const db::Error& e) {
        return e.description();
    }
    return "(no error)";
}

std::vector<std::vector<Value>> readAll(const std::string& file) {
    auto t = db::foxpro::DbfTable::open(file);
    std::vector<std::vector<Value>> rows;
    std::vector<Value> row;
    while (t->next(row)) rows.push_back(row);
    return rows;
}

// A VFP 9 table with one field of every kind, nullable V and N, and a
// _NullFlags field.
DbfBuilder everyType(FptBuilder& fpt) {
    DbfBuilder b;
    b.version = 0x32;
    b.fields = {{"NAME", 'C', 6},
                {"NOTE", 'V', 8, 0, 0x02},
                {"AMOUNT", 'N', 8, 2, 0x02},
                {"BORN", 'D', 8},
                {"SEEN", 'T', 8},
                {"OK", 'L', 1},
                {"COUNT", 'I', 4},
                {"PRICE", 'Y', 8},
                {"RATIO", 'B', 8, 2},
                {"MEMO", 'M', 4},
                {"RAW", 'Q', 6},
                {"BIN", 'C', 4, 0, 0x04},
                {"BLOB", 'W', 4},
                {"_NullFlags", '0', 1, 0, 0x05}};
    const uint32_t memo = fpt.add("caf\xE9 line\r\nnext");
    const uint32_t blob = fpt.add(std::string("\x00\x01\xFF", 3), 2);
    // Null bits: NOTE var 0, NOTE null 1, AMOUNT null 2, RAW var 3.
    std::string r1 = " " + pad("Ab", 6) + pad("hi", 7, '\0') + '\x02' + "  -12.50" + "20240229" + le32(kJd) +
                     le32(kMs) + "T" + le32(static_cast<uint32_t>(-7)) + le64(-123456789) + dbl(0.1) + le32(memo) +
                     std::string("\x01\x02\0\0\0\x02", 6) + std::string("\0\x01  ", 4) + le32(blob) +
                     std::string(1, '\x09');
    std::string r2 = " " + pad("", 6) + pad("", 8, '\0') + "        " + "        " + std::string(8, '\0') + "?" +
                     le32(0) + le64(0) + dbl(0) + le32(0) + std::string(6, '\0') + "    " + le32(0) +
                     std::string(1, '\x06');
    std::string r3 = "*" + r1.substr(1);
    b.records = {r1, r3, r2};
    return b;
}

}  // namespace

TEST(FoxproReader, EveryFieldTypeDecodesAsTheProviderReportsIt) {
    TempDir dir;
    FptBuilder fpt;
    writeFile(dir.file("all.dbf"), everyType(fpt).build());
    writeFile(dir.file("ALL.FPT"), fpt.build());  // found without regard to case

    auto t = db::foxpro::DbfTable::open(dir.file("all.dbf"));
    const auto infos = t->fieldInfos();
    ASSERT_EQ(infos.size(), 13u) << "_NullFlags is never shown";
    const std::vector<int> types = {129, 200, 131, 133, 135, 11, 3, 6, 5, 201, 204, 128, 205};
    for (size_t i = 0; i < types.size(); ++i) EXPECT_EQ(infos[i].type, types[i]) << infos[i].name;
    EXPECT_EQ(infos[2].precision, 8);
    EXPECT_EQ(infos[2].numericScale, 2);

    std::vector<Value> row;
    ASSERT_TRUE(t->next(row));
    EXPECT_EQ(row[0], Value("Ab    ")) << "Character keeps its trailing blanks";
    EXPECT_EQ(row[1], Value("hi")) << "Varchar length from its last byte";
    EXPECT_EQ(row[2], Value(db::Decimal{"-12.50"}));
    EXPECT_EQ(row[3], Value(db::Date{2024, 2, 29}));
    EXPECT_EQ(row[4], Value(db::DateTime{{2024, 2, 29}, 13, 45, 30, 250}));
    EXPECT_EQ(row[5], Value(true));
    EXPECT_EQ(row[6], Value(int64_t{-7}));
    EXPECT_EQ(row[7], Value(db::Currency{-123456789}));
    EXPECT_EQ(db::currencyText(row[7].currency()), "-12345.6789");
    EXPECT_EQ(row[8], Value(0.1));
    EXPECT_EQ(row[9], Value("caf\xC3\xA9 line\r\nnext")) << "memo text converted from code page 1252";
    EXPECT_EQ(row[10], Value(db::Bytes{1, 2})) << "Varbinary length from its last byte";
    EXPECT_EQ(row[11], Value(db::Bytes{0, 1, ' ', ' '})) << "binary Character is left untouched";
    EXPECT_EQ(row[12], Value(db::Bytes{0, 1, 0xFF}));

    ASSERT_TRUE(t->next(row)) << "the deleted record is skipped";
    EXPECT_EQ(row[0], Value("      "));
    EXPECT_TRUE(row[1].isNull()) << "null bit of NOTE";
    EXPECT_TRUE(row[2].isNull()) << "null bit of AMOUNT";
    EXPECT_TRUE(row[3].isNull()) << "blank date";
    EXPECT_TRUE(row[4].isNull()) << "blank date-time";
    EXPECT_TRUE(row[5].isNull()) << "logical ?";
    EXPECT_EQ(row[9], Value("")) << "no memo block: empty text";
    EXPECT_EQ(row[12], Value(db::Bytes{}));
    EXPECT_FALSE(t->next(row));
}

TEST(FoxproReader, BlankNumbersReadAsNullAndNumbersKeepTheirDigits) {
    TempDir dir;
    DbfBuilder b;
    b.fields = {{"N", 'N', 10, 3}, {"F", 'F', 6, 1}};
    b.records = {"     12.500  -0.5", "               .5", "  00001.000      "};
    writeFile(dir.file("n.dbf"), b.build());
    auto rows = readAll(dir.file("n.dbf"));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][0], Value(db::Decimal{"12.500"}));
    EXPECT_EQ(rows[0][1], Value(db::Decimal{"-0.5"}));
    EXPECT_TRUE(rows[1][0].isNull());
    EXPECT_EQ(rows[1][1], Value(db::Decimal{"0.5"}));
    EXPECT_EQ(rows[2][0], Value(db::Decimal{"1.000"}));
    EXPECT_TRUE(rows[2][1].isNull());
}

TEST(FoxproReader, DbaseMemosAndOldVersionsRead) {
    TempDir dir;
    DbfBuilder b;
    b.version = 0x83;
    b.codePage = 0;
    b.fields = {{"T", 'C', 3}, {"M", 'M', 10}};
    b.records = {" \x81  " + std::string("         1"), " abc          "};
    writeFile(dir.file("d3.dbf"), b.build());
    std::string dbt(512, '\0');
    dbt += "hello \x84\x1A\x1A";
    writeFile(dir.file("d3.dbt"), dbt);
    auto rows = readAll(dir.file("d3.dbf"));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][0], Value("\xC3\xBC  ")) << "code page 0 reads as DOS 437";
    EXPECT_EQ(rows[0][1], Value("hello \xC3\xA4"));
    EXPECT_EQ(rows[1][1], Value(""));
}

// ---- hostile files ----------------------------------------------------------

TEST(FoxproHostile, DamagedFilesGiveAClearErrorNamingTheFile) {
    TempDir dir;
    auto expectError = [&](const std::string& name, const std::string& bytes, const std::string& what,
                           const std::string& memo = {}) {
        const std::string f = dir.file(name);
        writeFile(f, bytes);
        if (!memo.empty()) writeFile(dir.file(std::filesystem::path(name).stem().string() + ".fpt"), memo);
        const std::string err = errorOf([&] { readAll(f); });
        EXPECT_NE(err.find(name), std::string::npos) << err;
        EXPECT_NE(err.find(what), std::string::npos) << err;
    };
    DbfBuilder ok;
    ok.fields = {{"A", 'C', 4}, {"B", 'I', 4}};
    ok.records = {" abcd" + le32(1), " efgh" + le32(2)};
    const std::string good = ok.build();

    expectError("short.dbf", good.substr(0, 20), "shorter than a table header");
    std::string headerBeyond = good;
    headerBeyond[9] = '\x7F';
    expectError("hdr.dbf", headerBeyond, "header length");
    DbfBuilder many = ok;
    many.recordCountOverride = 0x7FFFFFFF;
    expectError("count.dbf", many.build(), "record count (2147483647)");
    std::string overflow = good;
    overflow[10] = 5;  // record length 5 < 1 + 4 + 4, and the size fits no length
    expectError("overflow.dbf", overflow + "x", "overflow the record");
    DbfBuilder badLen;
    badLen.fields = {{"I", 'I', 2}};
    badLen.records = {" ab"};
    expectError("ilen.dbf", badLen.build(), "instead of 4");
    DbfBuilder unknown;
    unknown.fields = {{"X", 'Z', 2}};
    expectError("type.dbf", unknown.build(), "unknown type");
    expectError("trunc.dbf", good.substr(0, good.size() - 6), "record count");

    // Memo files.
    DbfBuilder memo;
    memo.fields = {{"M", 'M', 4}};
    memo.records = {" " + le32(900)};
    FptBuilder fpt;
    fpt.add("x");
    // A memo that cannot be read costs that value: the loss names the file.
    auto lossOf = [](const std::string& file) {
        auto t = db::foxpro::DbfTable::open(file);
        std::vector<Value> row;
        while (t->next(row)) EXPECT_TRUE(row[0].isNull());
        const auto notes = t->takeNotes();
        return notes.size() == 1 && notes[0].second == 1 ? notes[0].first : "(no loss)";
    };
    writeFile(dir.file("mb.dbf"), memo.build());
    writeFile(dir.file("mb.fpt"), fpt.build());
    const std::string err1 = lossOf(dir.file("mb.dbf"));
    EXPECT_NE(err1.find("mb.fpt"), std::string::npos) << err1;
    EXPECT_NE(err1.find("outside the memo file"), std::string::npos) << err1;

    FptBuilder longMemo;
    const uint32_t blk = longMemo.add("abc");
    std::string lm = longMemo.build();
    lm[static_cast<size_t>(blk) * 64 + 4] = '\x7F';  // length 0x7F000003
    memo.records = {" " + le32(blk)};
    writeFile(dir.file("ml.dbf"), memo.build());
    writeFile(dir.file("ml.fpt"), lm);
    const std::string err2 = lossOf(dir.file("ml.dbf"));
    EXPECT_NE(err2.find("ml.fpt"), std::string::npos) << err2;
    EXPECT_NE(err2.find("beyond the end"), std::string::npos) << err2;

    writeFile(dir.file("nomemo.dbf"), memo.build());
    const std::string err3 = errorOf([&] { readAll(dir.file("nomemo.dbf")); });
    EXPECT_NE(err3.find("nomemo.dbf"), std::string::npos) << err3;
    EXPECT_NE(err3.find("memo file"), std::string::npos) << err3;
    EXPECT_NE(err3.find("missing"), std::string::npos) << err3;
}

TEST(FoxproHostile, BadValuesCostThatValueAndAreToldOnceNamingTheFieldAndRecord) {
    TempDir dir;
    DbfBuilder b;
    b.fields = {{"D", 'D', 8}, {"N", 'N', 4}, {"V", 'V', 3, 0, 0}, {"_NullFlags", '0', 1, 0, 0x05}};
    b.version = 0x32;
    b.records = {" 20240231  1 abc\x00"s, " 20240101 1x1abc\x00"s, " 20240101   1ab\x07\x01"s, " 20240102   2xyz\x00"s};
    writeFile(dir.file("vals.dbf"), b.build());
    auto t = db::foxpro::DbfTable::open(dir.file("vals.dbf"));
    const auto rows = [&] {
        std::vector<std::vector<Value>> out;
        std::vector<Value> row;
        while (t->next(row)) out.push_back(row);
        return out;
    }();
    ASSERT_EQ(rows.size(), 4u) << "the rows after a bad value are read";
    EXPECT_TRUE(rows[0][0].isNull());
    EXPECT_EQ(rows[0][1], Value(db::Decimal{"1"}));
    EXPECT_TRUE(rows[1][1].isNull());
    EXPECT_EQ(rows[1][0], Value(db::Date{2024, 1, 1}));
    EXPECT_TRUE(rows[2][2].isNull());
    EXPECT_EQ(rows[3], (std::vector<Value>{Value(db::Date{2024, 1, 2}), Value(db::Decimal{"2"}), Value("xyz")}));
    EXPECT_EQ(t->lostValues(), 3u);
    const auto notes = t->takeNotes();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].second, 3);
    EXPECT_NE(notes[0].first.find("vals.dbf"), std::string::npos) << notes[0].first;
    EXPECT_NE(notes[0].first.find("3 values"), std::string::npos) << notes[0].first;
    EXPECT_NE(notes[0].first.find("field D of record 1"), std::string::npos) << notes[0].first;
    EXPECT_TRUE(t->takeNotes().empty()) << "told once";
}

// ---- numbers FoxPro could not fit, and exponent forms ------------------------

TEST(FoxproNumbers, ExponentFormsAreNumbersAndAsterisksAreNullToldOncePerTable) {
    TempDir dir;
    DbfBuilder b;
    b.version = 0x03;
    b.fields = {{"N", 'N', 10, 2}, {"F", 'F', 12, 3}};
    auto rec = [](std::string n, std::string f) {
        return " " + std::string(10 - n.size(), ' ') + n + std::string(12 - f.size(), ' ') + f;
    };
    b.records = {rec("1.5E+2", "-2.5e-3"), rec("**********", "************"), rec("12.50", "1.25E+25"),
                 rec("  ******", "0.0E0       "), rec("3", "1E999")};
    writeFile(dir.file("exp.dbf"), b.build());
    auto t = db::foxpro::DbfTable::open(dir.file("exp.dbf"));
    std::vector<std::vector<Value>> rows;
    for (std::vector<Value> row; t->next(row);) rows.push_back(row);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0][0], Value(db::Decimal{"150"}));
    EXPECT_EQ(rows[0][1], Value(db::Decimal{"-0.0025"}));
    EXPECT_TRUE(rows[1][0].isNull());
    EXPECT_TRUE(rows[1][1].isNull());
    EXPECT_EQ(rows[2][0], Value(db::Decimal{"12.50"}));
    EXPECT_EQ(rows[2][1], Value(db::Decimal{"12500000000000000000000000"}));
    EXPECT_TRUE(rows[3][0].isNull());
    EXPECT_EQ(rows[3][1], Value(db::Decimal{"0"}));
    EXPECT_EQ(rows[4][0], Value(db::Decimal{"3"}));
    EXPECT_TRUE(rows[4][1].isNull()) << "an exponent beyond any double is a bad value";
    const auto notes = t->takeNotes();
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].second, 0) << "asterisks are a warning: FoxPro itself lost the value";
    EXPECT_NE(notes[0].first.find("3 numbers"), std::string::npos) << notes[0].first;
    EXPECT_NE(notes[0].first.find("field N"), std::string::npos) << notes[0].first;
    EXPECT_EQ(notes[1].second, 1);

    if (!dbfreadAvailable()) return;
    // dbfread reads every row too, the exponent forms as numbers.
    b.records.pop_back();
    writeFile(dir.file("exp.dbf"), b.build());
    const auto dump = dbfreadDump(dir.file("exp.dbf"));
    ASSERT_EQ(dump.exitCode, 0) << dump.err;
    for (const char* want : {"\"1.5E+2\"", "\"-2.5e-3\"", "\"1.25E+25\"", "\"12.50\""})
        EXPECT_NE(dump.out.find(want), std::string::npos) << want << " in " << dump.out;
}

// ---- headers that lie ---------------------------------------------------------

TEST(FoxproHostile, ARecordLengthShortOfTheFieldsIsTakenFromTheFileSizeOnlyWhenCertain) {
    TempDir dir;
    DbfBuilder ok;
    ok.version = 0x03;
    ok.fields = {{"A", 'C', 4}, {"B", 'N', 3}};
    ok.records = {" abcd  1", " efgh 22", " ijkl333"};
    std::string shortLen = ok.build();
    shortLen[10] = 5;  // record length 5; the fields need 8
    writeFile(dir.file("short.dbf"), shortLen);
    const auto rows = readAll(dir.file("short.dbf"));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[2], (std::vector<Value>{Value("ijkl"), Value(db::Decimal{"333"})}));
    if (dbfreadAvailable()) {
        const auto dump = dbfreadDump(dir.file("short.dbf"));
        EXPECT_EQ(dump.exitCode, 0) << dump.err;
        EXPECT_NE(dump.out.find("ijkl"), std::string::npos) << dump.out;
    }
    writeFile(dir.file("noend.dbf"), shortLen.substr(0, shortLen.size() - 1));  // no end mark: also certain
    EXPECT_EQ(readAll(dir.file("noend.dbf")).size(), 3u);

    // The size fits no single length: refused.
    for (const auto& [name, bytes] : {std::pair<std::string, std::string>{"extra.dbf", shortLen + "xy"},
                                      {"cut.dbf", shortLen.substr(0, shortLen.size() - 3)}}) {
        writeFile(dir.file(name), bytes);
        const std::string err = errorOf([&] { readAll(dir.file(name)); });
        EXPECT_NE(err.find(name), std::string::npos) << err;
        EXPECT_NE(err.find("overflow the record length (5) at field B"), std::string::npos) << err;
    }
}

TEST(FoxproHostile, AHeaderLengthEndingInsideTheFieldListIsRefused) {
    TempDir dir;
    DbfBuilder b;
    b.version = 0x03;
    b.fields = {{"A", 'C', 4}, {"B", 'C', 4}, {"C", 'C', 4}};
    b.records = {" abcdefghijkl"};
    std::string bytes = b.build();
    bytes[8] = static_cast<char>(32 + 32 * 2);  // the length ends after field B
    writeFile(dir.file("lie.dbf"), bytes);
    const std::string err = errorOf([&] { readAll(dir.file("lie.dbf")); });
    EXPECT_NE(err.find("lie.dbf"), std::string::npos) << err;
    EXPECT_NE(err.find("ends inside the field list"), std::string::npos) << err;
    bytes[8] = static_cast<char>(32 + 32 * 3 - 8);  // inside field C's descriptor
    writeFile(dir.file("lie2.dbf"), bytes);
    EXPECT_NE(errorOf([&] { readAll(dir.file("lie2.dbf")); }).find("ends inside the field list"), std::string::npos);
}

// ---- code pages ---------------------------------------------------------------

namespace {

// The code point of a one-character UTF-8 text; -1 when it is not one.
long codePointOf(const std::string& s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    if (s.size() == 1 && p[0] < 0x80) return p[0];
    if (s.size() == 2 && (p[0] & 0xE0) == 0xC0) return long(p[0] & 0x1F) << 6 | (p[1] & 0x3F);
    if (s.size() == 3 && (p[0] & 0xF0) == 0xE0) return long(p[0] & 0x0F) << 12 | long(p[1] & 0x3F) << 6 | (p[2] & 0x3F);
    return -1;
}

}  // namespace

// Every code-page mark, each byte on its own in a table built byte by byte,
// against Python's codecs (an independent mapping, from the Unicode
// consortium's and the vendors' tables). Bytes Python leaves undefined keep
// their Latin-1 meaning in single-byte code pages, as Windows reads them.
TEST(FoxproCodePages, EveryMarkReadsEveryByteAsAnIndependentMappingDoes) {
    if (!fs::exists("/usr/bin/python3")) GTEST_SKIP() << "python3 is not available";
    const std::map<int, std::string> codec = {
        {437, "cp437"},          {737, "cp737"},       {850, "cp850"},   {852, "cp852"},       {857, "cp857"},
        {860, "cp860"},          {861, "cp861"},       {863, "cp863"},   {865, "cp865"},       {866, "cp866"},
        {874, "cp874"},          {932, "cp932"},       {936, "gbk"},     {949, "cp949"},       {950, "cp950"},
        {1250, "cp1250"},        {1251, "cp1251"},     {1252, "cp1252"}, {1253, "cp1253"},     {1254, "cp1254"},
        {1255, "cp1255"},        {1256, "cp1256"},     {1257, "cp1257"}, {10000, "mac_roman"}, {10006, "mac_greek"},
        {10007, "mac_cyrillic"}, {10029, "mac_latin2"}};
    std::vector<std::string> argv = {"/usr/bin/python3", "-c",
                                     "import sys\n"
                                     "for n in sys.argv[1:]:\n"
                                     "  o=[]\n"
                                     "  for b in range(256):\n"
                                     "    try: o.append('%X' % ord(bytes([b]).decode(n)))\n"
                                     "    except Exception: o.append('-')\n"
                                     "  print(n, ' '.join(o))\n"};
    for (const auto& [cp, name] : codec) argv.push_back(name);
    const auto py = runCommand(argv);
    ASSERT_EQ(py.exitCode, 0) << py.err;
    std::map<std::string, std::vector<std::string>> want;
    std::istringstream lines(py.out);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string n, w;
        words >> n;
        while (words >> w) want[n].push_back(w);
    }
    int marks = 0;
    for (int mark = 1; mark < 256; ++mark) {
        const int cp = db::foxpro::codePageOfDriver(static_cast<uint8_t>(mark));
        if (cp == 0 || cp == 620 || cp == 895) continue;  // 620, 895: no codec; see DosCodePagesPythonLacks
        SCOPED_TRACE("mark " + std::to_string(mark) + ", code page " + std::to_string(cp));
        ASSERT_TRUE(codec.count(cp));
        const auto& expect = want[codec.at(cp)];
        ASSERT_EQ(expect.size(), 256u);
        DbfBuilder b;
        b.codePage = static_cast<uint8_t>(mark);
        b.fields = {{"B", 'C', 1}};
        for (int byte = 0; byte < 256; ++byte) b.records.push_back(" " + std::string(1, static_cast<char>(byte)));
        const std::string bytes = b.build();
        db::foxpro::DbfTable t(db::foxpro::memorySource("cp.dbf", {bytes.begin(), bytes.end()}), nullptr);
        const bool multi = cp == 932 || cp == 936 || cp == 949 || cp == 950;
        std::vector<Value> row;
        for (int byte = 0; byte < 256; ++byte) {
            ASSERT_TRUE(t.next(row));
            const long got = codePointOf(row[0].text());
            if (expect[static_cast<size_t>(byte)] == "-") {
                if (!multi) {
                    EXPECT_EQ(got, byte) << "undefined byte " << byte;
                }
                continue;
            }
            EXPECT_EQ(got, std::stol(expect[static_cast<size_t>(byte)], nullptr, 16)) << "byte " << byte;
        }
        ++marks;
    }
    EXPECT_GE(marks, 60);

    // Text longer than a byte: Hebrew in a field name and a character field,
    // Greek Macintosh, and CP932 single bytes among double-byte ones.
    DbfBuilder he;
    he.codePage = 0x7D;
    he.fields = {{"\xF9\xED", 'C', 4}};
    he.records = {" \xF9\xEC\xE5\xED"};
    const std::string heBytes = he.build();
    db::foxpro::DbfTable heTable(db::foxpro::memorySource("he.dbf", {heBytes.begin(), heBytes.end()}), nullptr);
    EXPECT_EQ(heTable.fields()[0].name, "\xD7\xA9\xD7\x9D");
    std::vector<Value> row;
    ASSERT_TRUE(heTable.next(row));
    EXPECT_EQ(row[0], Value("\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D")) << "shalom";
    db::foxpro::TextDecoder greek(10006), sjis(932);
    EXPECT_EQ(greek.decode("\xB0\xF5\xDC\xEE\xE1"), "\xCE\x91\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1");
    EXPECT_EQ(sjis.decode("\x80\x82\xA0\xA0\xFD\xFF"), "\xC2\x80\xE3\x81\x82\xEF\xA3\xB0\xEF\xA3\xB1\xEF\xA3\xB3");
}

// Mazovia (620) and Kamenicky (895) have no codec in Python or the C
// library: their letters as the published character tables give them.
TEST(FoxproCodePages, DosCodePagesPythonLacks) {
    db::foxpro::TextDecoder mazovia(620), kamenicky(895);
    EXPECT_EQ(mazovia.decode("\x86\x8D\x91\x92\xA4\xA2\x9E\xA6\xA7\x8F\x95\x90\x9C\xA5\xA3\x98\xA0\xA1\xB0"),
              "\xC4\x85\xC4\x87\xC4\x99\xC5\x82\xC5\x84\xC3\xB3\xC5\x9B\xC5\xBA\xC5\xBC\xC4\x84\xC4\x86\xC4\x98"
              "\xC5\x81\xC5\x83\xC3\x93\xC5\x9A\xC5\xB9\xC5\xBB\xE2\x96\x91");
    EXPECT_EQ(kamenicky.decode("\x80\x81\x82\x83\x87\x88\x9B\xA8\xB0"),
              "\xC4\x8C\xC3\xBC\xC3\xA9\xC4\x8F\xC4\x8D\xC4\x9B\xC5\xA0\xC5\xA1\xE2\x96\x91");
    // A table with an unknown mark is read, and the mark is named once.
    DbfBuilder b;
    b.codePage = 0xF0;
    b.fields = {{"A", 'C', 2}};
    b.records = {" ok"};
    const std::string bytes = b.build();
    db::foxpro::DbfTable t(db::foxpro::memorySource("odd.dbf", {bytes.begin(), bytes.end()}), nullptr);
    const auto notes = t.takeNotes();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].first.find("unknown code page mark 0xF0"), std::string::npos) << notes[0].first;
    EXPECT_NE(notes[0].first.find("odd.dbf"), std::string::npos) << notes[0].first;
}
