// Every table of every folder and container of the FoxPro corpus, read
// through the ADO-like layer, against the independent reader (dbfread).
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>

#include "db/ado.h"
#include "db/foxpro/dbf.h"
#include "tests/support/support.h"

namespace fs = std::filesystem;
using nlohmann::json;
using namespace tp;

namespace {

// "+012.50" -> "12.50", ".5" -> "0.5", "-0.00" -> "0.00".
std::string lowerText(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string canonicalNumber(std::string s) {
    bool neg = false;
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
        neg = s[0] == '-';
        s.erase(0, 1);
    }
    size_t point = s.find('.');
    std::string ip = s.substr(0, point), fp = point == std::string::npos ? "" : s.substr(point + 1);
    while (ip.size() > 1 && ip[0] == '0') ip.erase(0, 1);
    if (ip.empty()) ip = "0";
    const bool zero = ip == "0" && fp.find_first_not_of('0') == std::string::npos;
    return (neg && !zero ? "-" : "") + ip + (fp.empty() ? "" : "." + fp);
}

struct Stats {
    int tables = 0, rows = 0, values = 0, oracleGaps = 0;
};

// Compares one oracle value with ours; returns an empty text when they agree.
std::string compare(const json& o, const db::Value& v, const json& field, Stats& st) {
    const std::string type = field["type"];
    const bool binary = field.value("binary", false);
    if (o.is_object()) {
        // The oracle could not decode the bytes as text in the code page: it
        // hands them over in base64; we decode them, so only check that a
        // value is there.
        ++st.oracleGaps;
        if (o.contains("invalid")) return "oracle marks the stored bytes invalid";
        return v.isNull() ? "null where the oracle has bytes" : "";
    }
    if (o.is_null()) return v.isNull() ? "" : "expected null, got " + db::toIsoText(v);
    if (o.is_boolean()) {
        if (v.kind() != db::Kind::Bool || v.boolean() != o.get<bool>()) return "expected Boolean " + o.dump();
        return "";
    }
    if (o.is_number_integer()) {
        if (v.kind() != db::Kind::Int || v.integer() != o.get<int64_t>()) return "expected integer " + o.dump();
        return "";
    }
    if (o.is_number_float()) {
        if (v.kind() != db::Kind::Double || v.real() != o.get<double>()) return "expected double " + o.dump();
        return "";
    }
    const std::string s = o.get<std::string>();
    if (s.empty() && (type == "N" || type == "F" || type == "D" || type == "T" || type == "L"))
        return v.isNull() ? "" : "blank value should read as null, got " + db::toIsoText(v);
    if (type == "N" || type == "F") {
        if (v.kind() != db::Kind::Decimal) return "expected a decimal " + s;
        return v.decimal().text == canonicalNumber(s) ? "" : "expected " + s + ", got " + v.decimal().text;
    }
    if (type == "Y")
        return v.kind() == db::Kind::Currency && db::currencyText(v.currency()) == s ? "" : "expected currency " + s;
    if (type == "D") return v.kind() == db::Kind::Date && db::toIsoText(v) == s ? "" : "expected date " + s;
    if (type == "T") return v.kind() == db::Kind::DateTime && db::toIsoText(v) == s ? "" : "expected date-time " + s;
    const bool bin = binary || type == "G" || type == "W" || type == "Q" || type == "P" || type == "B";
    if (bin || v.kind() == db::Kind::Binary) {
        if (v.kind() != db::Kind::Binary) return "expected binary";
        return db::base64(v.bytes()) == s ? "" : "binary value differs";
    }
    if (v.kind() != db::Kind::Text) return "expected text " + s;
    return v.text() == s ? "" : "expected \"" + s + "\", got \"" + v.text() + "\"";
}

json oracle(const std::string& path, std::vector<std::string> extra = {}) {
    extra.push_back("--keep-padding");
    auto r = test::dbfreadDump(path, extra);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return json::parse(r.out);
}

// Compares a table dump of the oracle with the rows of `sql` on `cs`.
void compareTable(json t, const std::string& cs, const std::string& sql, Stats& st,
                  const std::vector<std::string>& longNames = {}) {
    SCOPED_TRACE(t["file"].get<std::string>());
    db::Connection conn;
    conn.Open(cs);
    db::Recordset rs;
    rs.Open(sql, conn);
    const auto& fields = t["fields"];
    ASSERT_EQ(static_cast<size_t>(rs.fieldCount()), fields.size());
    for (size_t i = 0; i < fields.size(); ++i) {
        const std::string want = longNames.empty() ? fields[i]["name"].get<std::string>() : longNames[i];
        EXPECT_EQ(rs.Fields(static_cast<int>(i)).name(), want);
    }
    size_t n = 0;
    const auto& records = t["records"];
    // Records whose deletion byte is neither " " nor "*" are live for us and
    // skipped by the oracle: those tables are checked byte by byte elsewhere.
    const int skipped = t.value("skipped_count", 0);
    if (skipped > 0) {
        while (!rs.atEnd()) {
            ++n;
            rs.MoveNext();
        }
        EXPECT_EQ(n, records.size() + static_cast<size_t>(skipped));
        ++st.tables;
        return;
    }
    int failures = 0;
    while (!rs.atEnd()) {
        ASSERT_LT(n, records.size()) << "more live rows than the oracle";
        for (size_t i = 0; i < fields.size(); ++i) {
            const std::string err = compare(records[n][i], rs.Fields(static_cast<int>(i)).value(), fields[i], st);
            if (!err.empty() && failures++ < 5)
                ADD_FAILURE() << "row " << n << " field " << fields[i]["name"] << ": " << err;
            ++st.values;
        }
        ++n;
        rs.MoveNext();
    }
    EXPECT_EQ(n, records.size());
    ++st.tables;
    st.rows += static_cast<int>(n);
}

std::vector<fs::path> corpusFolders() {
    std::vector<fs::path> out;
    for (auto& e : fs::recursive_directory_iterator(test::corpusPath("foxpro")))
        if (e.is_directory()) out.push_back(e.path());
    out.push_back(test::corpusPath("foxpro"));
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

TEST(FoxproCorpus, EveryFreeTableFolderMatchesTheIndependentReader) {
    if (!test::dbfreadAvailable()) GTEST_SKIP() << "dbfread is not installed";
    db::registerBuiltinProviders();
    Stats st;
    for (const auto& folder : corpusFolders()) {
        SCOPED_TRACE(folder.string());
        const std::string cs = "Provider=vfpoledb.1;Data Source=" + folder.string() + ";Collating Sequence=general;";
        json o = oracle(folder.string());
        db::Connection conn;
        conn.Open(cs);
        auto schema = conn.OpenSchema(db::adSchemaTables);
        std::vector<std::string> listed;
        for (; !schema->atEnd(); schema->MoveNext()) listed.push_back(schema->Fields("TABLE_NAME").value().text());
        std::vector<std::string> expected;
        for (auto& t : o["tables"]) expected.push_back(t["name"]);
        std::sort(expected.begin(), expected.end(),
                  [](std::string a, std::string b) { return lowerText(a) < lowerText(b); });
        EXPECT_EQ(listed, expected);
        for (auto& t : o["tables"]) {
            if (t["encoding"] == "ascii")
                t = oracle((folder / t["file"].get<std::string>()).string(), {"--encoding", "cp437"})["tables"][0];
            compareTable(t, cs, "SELECT * FROM `" + t["name"].get<std::string>() + "`", st);
        }
    }
    EXPECT_GT(st.tables, 30);
    std::cout << st.tables << " tables, " << st.rows << " rows, " << st.values << " values compared (" << st.oracleGaps
              << " the oracle could not decode)\n";
}
