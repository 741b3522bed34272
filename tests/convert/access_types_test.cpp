// A FoxPro table with a field of every type, built byte by byte, converted
// with the Access field types into a new .accdb, .mdb and Access 97 file:
// each column has the Access type of its field and each value comes back
// from the independent readers as what it is; what Access cannot hold is
// told. The text types give the earlier statements and tell what they leave
// out.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstring>
#include <filesystem>
#include <map>

#include "tests/foxpro/dbf_builder.h"
#include "tests/support/support.h"

namespace fs = std::filesystem;
using nlohmann::json;
using namespace tp::test;

namespace {

std::string le(uint64_t v, int n) {
    std::string s(static_cast<size_t>(n), '\0');
    for (int i = 0; i < n; ++i) s[static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i));
    return s;
}

std::string dbl(double d) {
    uint64_t u;
    std::memcpy(&u, &d, 8);
    return le(u, 8);
}

std::string right(const std::string& s, size_t n) { return std::string(n - s.size(), ' ') + s; }
std::string left(const std::string& s, size_t n) { return s + std::string(n - s.size(), ' '); }
// A V or Q value shorter than its field: the length in the last byte.
std::string shortVar(const std::string& s, size_t n) {
    return s + std::string(n - 1 - s.size(), '\0') + char(s.size());
}

// Julian day and milliseconds of a FoxPro date-time.
std::string dateTime(uint32_t julianDay, uint32_t ms) { return le(julianDay, 4) + le(ms, 4); }

constexpr uint8_t kNullable = 0x02, kBinary = 0x04;

// The table "every" in dir (every.dbf, every.fpt). The _NullFlags bits, in
// field order: note's length, maybe's null, bytes's length, opt's null.
void writeEveryType(const fs::path& dir) {
    FptBuilder fpt;
    const uint32_t memo1 = fpt.add("line1\r\nline2"), memo3 = fpt.add("\r\n");
    const uint32_t raw1 = fpt.add(std::string("\0\1\2", 3)), pic = fpt.add("PICTDATA");
    const uint32_t blob = fpt.add(std::string("\0\xFF", 2));
    DbfBuilder b;
    b.version = 0x30;
    b.fields = {{"name", 'C', 10},
                {"note", 'V', 10},
                {"memo", 'M', 4},
                {"code", 'C', 4, 0, kBinary},
                {"raw", 'M', 4, 0, kBinary},
                {"amount", 'N', 12, 2},
                {"qty", 'N', 5},
                {"big", 'N', 20, 4},
                {"ratio", 'F', 10, 3},
                {"dbl", 'B', 8, 2},
                {"num", 'I', 4},
                {"id", 'I', 4, 0, 0x0C, 201, 1},
                {"price", 'Y', 8},
                {"born", 'D', 8},
                {"seen", 'T', 8},
                {"ok", 'L', 1},
                {"maybe", 'L', 1, 0, kNullable},
                {"pic", 'G', 4},
                {"blob", 'W', 4},
                {"bytes", 'Q', 6},
                {"opt", 'C', 5, 0, kNullable},
                {"_NullFlags", '0', 1, 0, 0x05}};
    const std::string nan = dbl(std::numeric_limits<double>::quiet_NaN());
    b.records = {
        " " + left("Ann", 10) + shortVar("it's", 10) + le(memo1, 4) + std::string("\0\1\xFF\x80", 4) + le(raw1, 4) +
            right("1234.56", 12) + right("-42", 5) + "123456789012345.6789" + right("-0.125", 10) + dbl(1.5e300) +
            le(0x80000000u, 4) + le(7, 4) + le(uint64_t(-123456), 8) + "20210830" +
            dateTime(2459457, (13 * 3600 + 45 * 60 + 10) * 1000 + 250) + "T" + "F" + le(pic, 4) + le(blob, 4) +
            shortVar("\1\2\3", 6) + left("x", 5) + char(0x05),
        " " + std::string(10, ' ') + shortVar("", 10) + le(0, 4) + "    " + le(0, 4) + std::string(12, ' ') +
            std::string(5, ' ') + std::string(20, ' ') + std::string(10, ' ') + dbl(0) + le(0, 4) + le(8, 4) +
            le(0, 8) + std::string(8, ' ') + std::string(8, '\0') + "F" + " " + le(0, 4) + le(0, 4) + shortVar("", 6) +
            std::string(5, ' ') + char(0x0F),
        " " + left("Zo\xEB", 10) + "0123456789" + le(memo3, 4) + "\x7F\x7F\x7F\x7F" + le(0, 4) +
            right("-99999999.99", 12) + "99999" + std::string(20, ' ') + "999999.999" + nan + le(0x7FFFFFFF, 4) +
            le(200, 4) + le(0x7FFFFFFFFFFFFFFFull, 8) + "00010101" + dateTime(5373484, 86399000) + "T" + "T" +
            le(0, 4) + le(0, 4) + "\1\2\3\4\5\6" + left("y", 5) + char(0x00),
    };
    writeFile((dir / "every.dbf").string(), b.build());
    writeFile((dir / "every.fpt").string(), fpt.build());
}

// A decimal text without trailing zeros after its point.
std::string plainDecimal(std::string s) {
    if (s.find('.') == std::string::npos) return s;
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s;
}

struct Expected {
    const char* column;
    const char* type;    // as mdb-reader names it
    const char* type97;  // in an Access 97 file
    json rows[3];
};

const std::vector<Expected>& expectedColumns() {
    static const std::vector<Expected> e = {
        {"name", "text", "text", {"Ann", "", "Zo\xC3\xAB"}},
        {"note", "text", "text", {"it's", "", "0123456789"}},
        {"memo", "memo", "memo", {"line1\r\nline2", nullptr, "\r\n"}},
        {"code", "binary", "binary", {"AAH/gA==", "ICAgIA==", "f39/fw=="}},
        {"raw", "ole", "ole", {"AAEC", nullptr, nullptr}},
        {"amount", "numeric", "double", {"1234.56", nullptr, "-99999999.99"}},
        {"qty", "long", "long", {-42, nullptr, 99999}},
        {"big", "numeric", "currency", {"123456789012345.6789", nullptr, nullptr}},
        {"ratio", "numeric", "double", {"-0.125", nullptr, "999999.999"}},
        {"dbl", "double", "double", {1.5e300, 0, nullptr}},
        {"num", "long", "long", {-2147483648LL, 0, 2147483647}},
        {"id", "long", "long", {7, 8, 200}},
        {"price", "currency", "currency", {"-12.3456", "0", "922337203685477.5807"}},
        {"born", "datetime", "datetime", {"2021-08-30T00:00:00.000", nullptr, nullptr}},
        {"seen", "datetime", "datetime", {"2021-08-30T13:45:10.000", nullptr, "9999-12-31T23:59:59.000"}},
        {"ok", "boolean", "boolean", {true, false, true}},
        {"maybe", "integer", "integer", {0, nullptr, -1}},
        {"pic", "ole", "ole", {"UElDVERBVEE=", nullptr, nullptr}},
        {"blob", "ole", "ole", {"AP8=", nullptr, nullptr}},
        {"bytes", "binary", "binary", {"AQID", nullptr, "AQIDBAUG"}},
        {"opt", "text", "text", {"x", nullptr, "y"}},
    };
    return e;
}

bool sameValue(const json& expected, const json& actual, bool access97) {
    if (expected.is_string() && actual.is_string())
        return plainDecimal(expected.get<std::string>()) == plainDecimal(actual.get<std::string>());
    if (access97 && expected.is_string() && actual.is_number())  // a decimal kept as a Double
        return std::stod(expected.get<std::string>()) == actual.get<double>();
    if (expected.is_number() && actual.is_number()) return expected.get<double>() == actual.get<double>();
    return expected == actual;
}

class AccessTypes : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(tallyportExe())) GTEST_SKIP() << "tallyport is not built";
        if (!mdbReaderAvailable()) GTEST_SKIP() << "mdb-reader is not available";
        fs::create_directories(dir.path() / "src");
        writeEveryType(dir.path() / "src");
    }
    CommandResult convert(const std::string& target, std::vector<std::string> extra = {}) {
        std::vector<std::string> argv = {tallyportExe(), "convert", "--folder", (dir.path() / "src").string(),
                                         "--target",     target,    "--create"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        return runCommand(argv);
    }
    TempDir dir;
};

}  // namespace

TEST_F(AccessTypes, EveryFieldTypeKeepsItsValuesInEveryFormat) {
    for (const char* file : {"t.accdb", "t.mdb", "t97.mdb"}) {
        SCOPED_TRACE(file);
        const std::string target = dir.file(file);
        const bool access97 = std::string(file) == "t97.mdb";
        if (access97) {
            ASSERT_EQ(runCommand({tallyportExe(), "new", target, "--format", "97"}).exitCode, 0);
        }
        const CommandResult run = convert(target);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.out, "1 table, 3 rows, 0 failed statements\n");
        // What the columns cannot keep is told.
        for (const char* told :
             {"every, field maybe: logical field that allows NULL", "every, field pic: General field",
              "every, field born: 1 value Access cannot hold", "every, field dbl: 1 value Access cannot hold",
              "every, field seen: 1 value with a fraction of a second written to the second"})
            EXPECT_NE(run.err.find(told), std::string::npos) << told << "\n" << run.err;
        // N(20,4) has 15 digits before its point: Currency keeps them in Access 97.
        EXPECT_EQ(run.err.find("field big:"), std::string::npos) << run.err;

        const CommandResult dump = mdbReaderDump(target);
        ASSERT_EQ(dump.exitCode, 0) << dump.err;
        const json t = json::parse(dump.out).at("tables").at(0);
        const json& cols = t.at("columns");
        const auto& expected = expectedColumns();
        ASSERT_EQ(cols.size(), expected.size());
        ASSERT_EQ(t.at("rows").size(), 3u);
        for (size_t c = 0; c < expected.size(); ++c) {
            const Expected& e = expected[c];
            EXPECT_EQ(cols[c].at("name"), e.column);
            EXPECT_EQ(cols[c].at("type"), access97 ? e.type97 : e.type) << e.column;
            for (size_t r = 0; r < 3; ++r) {
                const json& actual = t.at("rows").at(r).at(c);
                EXPECT_TRUE(sameValue(e.rows[r], actual, access97))
                    << e.column << " row " << r << ": expected " << e.rows[r].dump() << ", got " << actual.dump();
            }
        }
        EXPECT_EQ(cols[11].value("autoLong", false), true) << "id is an AutoNumber";
        // The AutoNumber goes on from FoxPro's next value.
        const CommandResult next =
            runCommand({tallyportExe(), "sql", target, "-e", "INSERT INTO [every] ([name], [ok]) VALUES ('new', False)",
                        "-e", "SELECT [id] FROM [every] WHERE [name] = 'new'"});
        EXPECT_EQ(next.exitCode, 0) << next.err;
        EXPECT_NE(next.out.find("201"), std::string::npos) << next.out;
        if (mdbtoolsAvailable()) {
            EXPECT_EQ(mdbtoolsDump(target).exitCode, 0);
        }
        const CommandResult check = runCommand({tallyportExe(), "check", target});
        EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
        EXPECT_EQ(check.out, "ok\n") << check.out;
    }
}

TEST_F(AccessTypes, StatementsWriteEachValueInItsOwnFormAndTextTypesTellWhatTheyLeaveOut) {
    const std::string script = dir.file("typed.sql");
    CommandResult run = convert(dir.file("s.accdb"), {"--script", script});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string typed = readFile(script);
    for (const char* part :
         {"[name] TEXT(10),[note] TEXT(10),[memo] MEMO,[code] BINARY(4),[raw] LONGBINARY,[amount] DECIMAL(12,2),"
          "[qty] LONG,[big] DECIMAL(20,4),[ratio] DECIMAL(10,3),[dbl] DOUBLE,[num] LONG,[id] COUNTER(201, 1),"
          "[price] CURRENCY,[born] DATETIME,[seen] DATETIME,[ok] YESNO,[maybe] SHORT,[pic] LONGBINARY,"
          "[blob] LONGBINARY,[bytes] VARBINARY(6),[opt] TEXT(5));",
          "VALUES('Ann', 'it''s', 'line1' & Chr(13) & Chr(10) & 'line2', 0x0001FF80, 0x000102, 1234.56, -42, ",
          "-12.3456, #2021-08-30#, #2021-08-30 13:45:10#, True, 0, 0x5049435444415441, 0x00FF, 0x010203, 'x')",
          "VALUES('', '',NULL, 0x20202020,NULL,NULL,NULL,NULL,NULL, 0, 0, 8, 0.0000,NULL,NULL, False,NULL,NULL,"
          "NULL,NULL,NULL)",
          "'' & Chr(13) & Chr(10), 0x7F7F7F7F"})
        EXPECT_NE(typed.find(part), std::string::npos) << part << "\n" << typed;
    EXPECT_EQ(typed.find('\r'), std::string::npos);  // one statement a line

    const std::string textScript = dir.file("text.sql");
    run = convert(dir.file("s2.accdb"), {"--script", textScript, "--types", "text"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string text = readFile(textScript);
    EXPECT_NE(text.find("[name] TEXT,[note] TEXT,[memo] TEXT,[code] TEXT,[amount] FLOAT,"), std::string::npos) << text;
    EXPECT_NE(text.find("'Ann       ', 'it''s', 'line1line2', '0001FF80', 1234.56"), std::string::npos) << text;
    for (const char* field : {"raw", "pic", "blob"})
        EXPECT_NE(run.err.find("every, field " + std::string(field) + ": binary field"), std::string::npos)
            << field << "\n"
            << run.err;
    EXPECT_EQ(runCommand({tallyportExe(), "convert", "--folder", ".", "--target", "x.mdb", "--types", "both"}).exitCode,
              2);
}
