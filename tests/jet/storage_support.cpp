#include "tests/jet/storage_support.h"

#include <cmath>
#include <cstdio>

#include "tests/support/support.h"

namespace tp::test::storage {

using namespace tp::db;
using namespace tp::db::jet;

namespace {

std::string jsonString(const std::string& s) {
    std::string o = "\"";
    for (unsigned char c : s) {
        // clang-format off
        switch (c) {
        case '"': o += "\\\""; break;
        case '\\': o += "\\\\"; break;
        case '\n': o += "\\n"; break;
        case '\r': o += "\\r"; break;
        case '\t': o += "\\t"; break;
        default:
            if (c < 0x20) {
                char b[8];
                std::snprintf(b, sizeof b, "\\u%04x", c);
                o += b;
            } else {
                o.push_back(char(c));
            }
        }
        // clang-format on
    }
    return o + "\"";
}

const char* typeName(ColType t) {
    switch (t) {
    case ColType::Bool: return "boolean";
    case ColType::Byte: return "byte";
    case ColType::Int: return "integer";
    case ColType::Long: return "long";
    case ColType::Money: return "currency";
    case ColType::Float: return "float";
    case ColType::Double: return "double";
    case ColType::DateTime: return "datetime";
    case ColType::Binary: return "binary";
    case ColType::Text: return "text";
    case ColType::OLE: return "ole";
    case ColType::Memo: return "memo";
    case ColType::Guid: return "repid";
    case ColType::Numeric: return "numeric";
    case ColType::Complex: return "complex";
    case ColType::BigInt: return "bigint";
    default: return "other";
    }
}

std::string valueJson(const Value& v, ColType t) {
    char buf[64];
    switch (v.kind()) {
    case Kind::Null: return "null";
    case Kind::Bool: return v.boolean() ? "true" : "false";
    case Kind::Int: return std::to_string(v.integer());
    case Kind::Double: {
        double d = v.real();
        if (std::isnan(d)) return "\"NaN\"";
        if (std::isinf(d)) return d > 0 ? "\"Infinity\"" : "\"-Infinity\"";
        std::snprintf(buf, sizeof buf, "%.17g", d);
        return buf;
    }
    case Kind::Currency: return jsonString(currencyText(v.currency()));
    case Kind::Decimal: return jsonString(v.decimal().text);
    case Kind::DateTime: {
        const auto& dt = v.dateTime();
        std::snprintf(buf, sizeof buf, "\"%04d-%02d-%02dT%02d:%02d:%02d.%03d\"", dt.date.year, dt.date.month,
                      dt.date.day, dt.hour, dt.minute, dt.second, dt.millisecond);
        return buf;
    }
    case Kind::Date: {
        const auto& d = v.date();
        std::snprintf(buf, sizeof buf, "\"%04d-%02d-%02dT00:00:00.000\"", d.year, d.month, d.day);
        return buf;
    }
    case Kind::Binary: return jsonString(base64(v.bytes()));
    case Kind::Text: {
        if (t == ColType::Guid) {
            std::string s;
            for (char c : v.text())
                if (c != '{' && c != '}') s.push_back(char(std::tolower(static_cast<unsigned char>(c))));
            return jsonString(s);
        }
        return jsonString(v.text());
    }
    }
    return "null";
}

}  // namespace

std::string engineDump(Database& db) {
    std::string o = "{\"tables\":[";
    bool firstTable = true;
    for (const auto& info : db.listTables()) {
        if (info.kind != TableKind::User) continue;
        if (!firstTable) o += ",";
        firstTable = false;
        auto cols = db.columns(info.name);
        o += "{\"name\":" + jsonString(info.name) + ",\"columns\":[";
        for (size_t i = 0; i < cols.size(); ++i) {
            if (i) o += ",";
            o += "{\"name\":" + jsonString(cols[i].name) + ",\"type\":\"" + typeName(cols[i].type) + "\"}";
        }
        o += "],\"rows\":[";
        auto cur = db.scan(info.name);
        std::vector<Value> row;
        bool firstRow = true;
        while (cur->next(row)) {
            o += firstRow ? "\n[" : ",\n[";
            firstRow = false;
            for (size_t i = 0; i < row.size(); ++i) {
                if (i) o += ",";
                o += valueJson(row[i], cols[i].type);
            }
            o += "]";
        }
        o += "]}";
    }
    return o + "]}\n";
}

std::string compareDumps(const std::string& ours, const std::string& theirs) {
    TempDir dir;
    writeFile(dir.file("ours.json"), ours);
    writeFile(dir.file("theirs.json"), theirs);
    const std::string script = R"JS(
const fs = require("fs");
const a = JSON.parse(fs.readFileSync(process.argv[2], "utf8"));
const b = JSON.parse(fs.readFileSync(process.argv[3], "utf8"));
const norm = (v, type) => {
  if (typeof v === "string" && (type === "currency" || type === "numeric")) {
    let s = v;
    if (s.includes(".")) s = s.replace(/0+$/, "").replace(/\.$/, "");
    if (/^-0*$/.test(s)) s = "0";
    return s;
  }
  if (type === "bigint" && v !== null) return String(v);
  if (typeof v === "number") return Number(v);
  return v;
};
const problems = [];
const an = a.tables.map(t => t.name), bn = b.tables.map(t => t.name);
if (JSON.stringify([...an].sort()) !== JSON.stringify([...bn].sort()))
  problems.push(`tables differ: ${JSON.stringify(an)} vs ${JSON.stringify(bn)}`);
for (const ta of a.tables) {
  const tb = b.tables.find(t => t.name === ta.name);
  if (!tb) continue;
  const ca = ta.columns.map(c => c.name + ":" + c.type), cb = tb.columns.map(c => c.name + ":" + c.type);
  if (JSON.stringify(ca) !== JSON.stringify(cb)) { problems.push(`${ta.name}: columns ${ca} vs ${cb}`); continue; }
  if (ta.rows.length !== tb.rows.length) problems.push(`${ta.name}: ${ta.rows.length} rows vs ${tb.rows.length}`);
  const n = Math.min(ta.rows.length, tb.rows.length);
  let shown = 0;
  for (let i = 0; i < n && shown < 5; i++) {
    for (let j = 0; j < ta.columns.length; j++) {
      const type = ta.columns[j].type;
      const x = norm(ta.rows[i][j], type), y = norm(tb.rows[i][j], type);
      if (JSON.stringify(x) !== JSON.stringify(y)) {
        problems.push(`${ta.name} row ${i} col ${ta.columns[j].name}: ${JSON.stringify(x).slice(0,200)} vs ${JSON.stringify(y).slice(0,200)}`);
        shown++;
      }
    }
  }
}
process.stdout.write(problems.join("\n"));
)JS";
    writeFile(dir.file("cmp.js"), script);
    auto r = runCommand({"node", dir.file("cmp.js"), dir.file("ours.json"), dir.file("theirs.json")});
    if (r.exitCode != 0) return "comparison failed: " + r.err;
    return r.out;
}

uint32_t tableId(Database& db, const std::string& name) {
    auto cur = db.scan("MSysObjects");
    const auto cols = db.columns("MSysObjects");
    std::vector<Value> row;
    while (cur->next(row))
        for (size_t i = 0; i < cols.size(); ++i)
            if (cols[i].name == "Name" && row[i] == Value(name))
                for (size_t k = 0; k < cols.size(); ++k)
                    if (cols[k].name == "Id") return uint32_t(row[k].integer());
    return 0;
}

std::string compareWithReader(const std::string& file, const std::string& password) {
    if (!mdbReaderAvailable()) {
        expectAccessFileSound(file, password);  // mdbReaderDump does it otherwise
        skippedCheck("mdb-reader is not installed: " + file + " was not compared with it");
        return {};
    }
    auto theirs = mdbReaderDump(file, password);
    if (theirs.exitCode != 0) return "mdb-reader failed: " + theirs.err;
    auto db = Database::open(file, password, true);
    return compareDumps(engineDump(*db), theirs.out);
}

std::vector<std::vector<Value>> selectRows(Connection& conn, const std::string& sql) {
    auto rs = conn.Execute(sql);
    std::vector<std::vector<Value>> rows;
    while (!rs->atEnd()) {
        rows.push_back(rs->row());
        rs->MoveNext();
    }
    rs->Close();
    return rows;
}

}  // namespace tp::test::storage
