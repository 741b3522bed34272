// The table reader on hand-built files: every field type, nulls, deleted
// records, and hostile headers and memo files.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "db/ado.h"
#include "db/foxpro/dbf.h"
#include "tests/foxpro/dbf_builder.h"
#include "tests/support/support.h"

using namespace tp;
using namespace tp::test;
using tp::db::Value;
using namespace std::string_literals;

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
    b.fields = {{"NAME", 'C', 6},  {"NOTE", 'V', 8, 0, 0x02}, {"AMOUNT", 'N', 8, 2, 0x02},
                {"BORN", 'D', 8},  {"SEEN", 'T', 8},          {"OK", 'L', 1},
                {"COUNT", 'I', 4}, {"PRICE", 'Y', 8},         {"RATIO", 'B', 8, 2},
                {"MEMO", 'M', 4},  {"RAW", 'Q', 6},           {"BIN", 'C', 4, 0, 0x04},
                {"BLOB", 'W', 4},  {"_NullFlags", '0', 1, 0, 0x05}};
    const uint32_t memo = fpt.add("caf\xE9 line\r\nnext");
    const uint32_t blob = fpt.add(std::string("\x00\x01\xFF", 3), 2);
    // Null bits: NOTE var 0, NOTE null 1, AMOUNT null 2, RAW var 3.
    std::string r1 = " " + pad("Ab", 6) + pad("hi", 7, '\0') + '\x02' + "  -12.50" + "20240229" +
                     le32(kJd) + le32(kMs) + "T" + le32(static_cast<uint32_t>(-7)) +
                     le64(-123456789) + dbl(0.1) + le32(memo) + std::string("\x01\x02\0\0\0\x02", 6) +
                     std::string("\0\x01  ", 4) + le32(blob) + std::string(1, '\x09');
    std::string r2 = " " + pad("", 6) + pad("", 8, '\0') + "        " + "        " +
                     std::string(8, '\0') + "?" + le32(0) + le64(0) + dbl(0) + le32(0) +
                     std::string(6, '\0') + "    " + le32(0) + std::string(1, '\x06');
    std::string r3 = "*" + r1.substr(1);
    b.records = {r1, r3, r2};
    return b;
}

}  // namespace

TEST(FoxproReader, EveryFieldTypeDecodesAsTheProviderReportsIt) {
    TempDir dir;
    FptBuilder fpt;
    writeFile(dir.file("all.dbf"), everyType(fpt).build());
    writeFile(dir.file("ALL.FPT"), fpt.build());   // found without regard to case

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
    overflow[10] = 5;   // record length 5 < 1 + 4 + 4
    expectError("overflow.dbf", overflow, "overflow the record");
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
    const std::string err1 = errorOf([&] {
        writeFile(dir.file("mb.dbf"), memo.build());
        writeFile(dir.file("mb.fpt"), fpt.build());
        readAll(dir.file("mb.dbf"));
    });
    EXPECT_NE(err1.find("mb.fpt"), std::string::npos) << err1;
    EXPECT_NE(err1.find("outside the memo file"), std::string::npos) << err1;

    FptBuilder longMemo;
    const uint32_t blk = longMemo.add("abc");
    std::string lm = longMemo.build();
    lm[static_cast<size_t>(blk) * 64 + 4] = '\x7F';   // length 0x7F000003
    memo.records = {" " + le32(blk)};
    writeFile(dir.file("ml.dbf"), memo.build());
    writeFile(dir.file("ml.fpt"), lm);
    const std::string err2 = errorOf([&] { readAll(dir.file("ml.dbf")); });
    EXPECT_NE(err2.find("ml.fpt"), std::string::npos) << err2;
    EXPECT_NE(err2.find("beyond the end"), std::string::npos) << err2;

    writeFile(dir.file("nomemo.dbf"), memo.build());
    const std::string err3 = errorOf([&] { readAll(dir.file("nomemo.dbf")); });
    EXPECT_NE(err3.find("nomemo.dbf"), std::string::npos) << err3;
    EXPECT_NE(err3.find("memo file"), std::string::npos) << err3;
    EXPECT_NE(err3.find("missing"), std::string::npos) << err3;
}

TEST(FoxproHostile, BadValuesNameTheFieldAndRecord) {
    TempDir dir;
    DbfBuilder b;
    b.fields = {{"D", 'D', 8}, {"N", 'N', 4}, {"V", 'V', 3, 0, 0}, {"_NullFlags", '0', 1, 0, 0x05}};
    b.version = 0x32;
    b.records = {" 20240231  1 abc\x00"s, " 20240101 1x1abc\x00"s, " 20240101   1ab\x07\x01"s};
    writeFile(dir.file("vals.dbf"), b.build());
    auto t = db::foxpro::DbfTable::open(dir.file("vals.dbf"));
    std::vector<Value> row;
    std::string e = errorOf([&] { t->next(row); });
    EXPECT_NE(e.find("field D of record 1"), std::string::npos) << e;
    e = errorOf([&] { t->next(row); });
    EXPECT_NE(e.find("field N of record 2"), std::string::npos) << e;
    e = errorOf([&] { t->next(row); });
    EXPECT_NE(e.find("field V of record 3"), std::string::npos) << e;
    EXPECT_NE(e.find("vals.dbf"), std::string::npos) << e;
}
