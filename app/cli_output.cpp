#include "app/cli_output.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "convert/source.h"

namespace tp::cli {

namespace {
bool endsWithNoCase(const std::string& s, const std::string& suffix) {
    if (s.size() < suffix.size()) return false;
    for (size_t i = 0; i < suffix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - suffix.size() + i])) != suffix[i]) return false;
    return true;
}
}  // namespace

std::string sourceConnectionString(const SourceArgs& a) {
    if (!a.folder.empty()) return convert::source::connectionString(a.folder, false);
    if (!a.dbc.empty()) return convert::source::connectionString(a.dbc, true);
    std::error_code ec;
    if (std::filesystem::is_directory(a.db, ec)) return convert::source::connectionString(a.db, false);
    if (endsWithNoCase(a.db, ".dbc")) return convert::source::connectionString(a.db, true);
    db::ConnectionString cs;
    cs.set("Provider", endsWithNoCase(a.db, ".accdb") ? "Microsoft.ACE.OLEDB.12.0" : "Microsoft.Jet.OLEDB.4.0");
    cs.set("Data Source", a.db);
    if (a.havePassword) cs.set("Jet OLEDB:Database Password", a.password);
    return cs.toString();
}

std::string sourceName(const SourceArgs& a) { return !a.folder.empty() ? a.folder : !a.dbc.empty() ? a.dbc : a.db; }

SourceArg takeSourceArg(const Args& args, size_t& i, SourceArgs& src, const std::string& command) {
    struct Option {
        const char* name;
        std::string SourceArgs::*value;
        const char* missing;
    };
    static const Option kOptions[] = {
        {"--folder", &SourceArgs::folder, "--folder needs a folder"},
        {"--dbc", &SourceArgs::dbc, "--dbc needs a file"},
        {"--password", &SourceArgs::password, "--password needs a value"},
    };
    const std::string& a = args[i];
    if (const int taken = takeCodePageArg(args, i, src.codePage, src.forceCodePage))
        return taken > 0 ? SourceArg::Taken : SourceArg::UsageError;
    for (const Option& o : kOptions) {
        if (a != o.name) continue;
        if (i + 1 >= args.size()) {
            usageError(o.missing);
            return SourceArg::UsageError;
        }
        src.*o.value = args[++i];
        if (o.value == &SourceArgs::password) src.havePassword = true;
        return SourceArg::Taken;
    }
    if (!a.empty() && a[0] == '-') return SourceArg::NotSource;
    if (!src.db.empty()) {
        usageError(command + ": more than one database given");
        return SourceArg::UsageError;
    }
    src.db = a;
    return SourceArg::Taken;
}

int checkOneSource(SourceArgs& src, const std::string& command) {
    const int kinds = !src.folder.empty() + !src.dbc.empty() + !src.db.empty();
    if (kinds != 1) return usageError(command + ": give exactly one of --folder DIR, --dbc FILE or DB");
    return checkCodePageArgs(src.codePage, src.forceCodePage, command);
}

std::unique_ptr<db::Connection> openSourceConnection(const SourceArgs& src) {
    auto conn = db::CreateConnection("ADODB.Connection");
    conn->CodePage = src.codePage;
    conn->Open(sourceConnectionString(src));
    return conn;
}

std::string csvField(const std::string& t) {
    std::string s;
    appendCsvField(s, t);
    return s;
}

void appendCsvField(std::string& out, std::string_view t) {
    const bool quoted =
        std::any_of(t.begin(), t.end(), [](char c) { return c == ',' || c == '"' || c == '\r' || c == '\n'; });
    if (!quoted) {
        out += t;
        return;
    }
    out += '"';
    for (size_t at = 0;;) {  // runs up to and including each quote, which is doubled
        const size_t q = t.find('"', at);
        if (q == std::string_view::npos) {
            out += t.substr(at);
            break;
        }
        out += t.substr(at, q + 1 - at);
        out += '"';
        at = q + 1;
    }
    out += '"';
}

namespace {

// The escape of an ASCII byte inside a JSON string, or null when it stands
// for itself.
const char* jsonEscape(unsigned char c, char (&buf)[8]) {
    switch (c) {
    case '"': return "\\\"";
    case '\\': return "\\\\";
    case '\n': return "\\n";
    case '\r': return "\\r";
    case '\t': return "\\t";
    case '\b': return "\\b";
    case '\f': return "\\f";
    default:
        if (c >= 0x20) return nullptr;
        std::snprintf(buf, sizeof buf, "\\u%04x", c);
        return buf;
    }
}

// The length of the valid UTF-8 sequence starting at t[i], 0 when the byte
// there starts none.
size_t utf8SequenceAt(const std::string& t, size_t i) {
    const unsigned char c = static_cast<unsigned char>(t[i]);
    const size_t len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
    if (len == 0 || i + len > t.size()) return 0;
    for (size_t k = 1; k < len; ++k)
        if ((static_cast<unsigned char>(t[i + k]) & 0xC0) != 0x80) return 0;
    return len;
}

}  // namespace

std::string jsonString(const std::string& t) {
    std::string s;
    s.reserve(t.size() + 2);
    s += '"';
    for (size_t i = 0; i < t.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(t[i]);
        char buf[8];
        if (c < 0x80) {
            const char* escape = jsonEscape(c, buf);
            if (escape) s += escape;
            else s += static_cast<char>(c);
            continue;
        }
        // Keep valid UTF-8 sequences; replace stray bytes with U+FFFD so that
        // the output stays valid JSON.
        if (const size_t len = utf8SequenceAt(t, i)) {
            s.append(t, i, len);
            i += len - 1;
        } else {
            s += "\xEF\xBF\xBD";
        }
    }
    s += '"';
    return s;
}

std::string jsonValue(const db::Value& v) {
    using db::Kind;
    switch (v.kind()) {
    case Kind::Null: return "null";
    case Kind::Text: return jsonString(v.text());
    case Kind::Int: return std::to_string(v.integer());
    case Kind::Double:
        if (!std::isfinite(v.real())) return jsonString(db::shortestDouble(v.real()));
        return db::shortestDouble(v.real());
    case Kind::Decimal: return v.decimal().text;
    case Kind::Currency: return db::currencyText(v.currency());
    case Kind::Bool: return v.boolean() ? "true" : "false";
    case Kind::Date:
    case Kind::DateTime:
    case Kind::Binary: return jsonString(db::toIsoText(v));
    }
    return "null";
}

namespace {

void writeCsv(std::ostream& out, db::Recordset& rs) {
    const auto& fields = rs.fieldInfos();
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i) line += ',';
        line += csvField(fields[i].name);
    }
    line += "\r\n";
    out << line;
    while (!rs.atEnd()) {
        line.clear();
        const auto& row = rs.row();
        for (size_t i = 0; i < row.size(); ++i) {
            if (i) line += ',';
            if (row[i].kind() == db::Kind::Text) appendCsvField(line, row[i].text());
            else if (!row[i].isNull()) appendCsvField(line, db::toIsoText(row[i]));
        }
        line += "\r\n";
        out << line;
        rs.MoveNext();
    }
}

void writeJson(std::ostream& out, db::Recordset& rs) {
    const auto& fields = rs.fieldInfos();
    std::string line = "{\"columns\":[";
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i) line += ',';
        line += "{\"name\":" + jsonString(fields[i].name) + ",\"type\":" + std::to_string(fields[i].type) + "}";
    }
    line += "],\"rows\":[";
    out << line;
    bool first = true;
    try {
        while (!rs.atEnd()) {
            line = first ? "[" : ",[";
            first = false;
            const auto& row = rs.row();
            for (size_t i = 0; i < row.size(); ++i) {
                if (i) line += ',';
                line += jsonValue(row[i]);
            }
            line += ']';
            out << line;
            rs.MoveNext();
        }
    } catch (const std::exception& e) {
        // The rows so far stay a whole JSON object that says it is cut
        // short; the caller reports the error.
        out << "],\"error\":" << jsonString(e.what()) << "}\n";
        throw;
    }
    out << "]}\n";
}

}  // namespace

void writeResult(std::ostream& out, db::Recordset& rs, OutputFormat format) {
    if (format == OutputFormat::Csv) writeCsv(out, rs);
    else writeJson(out, rs);
}

}  // namespace tp::cli
