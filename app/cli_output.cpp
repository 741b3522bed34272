#include "app/cli_output.h"

#include <cmath>
#include <cstdio>
#include <filesystem>

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
    if (!a.folder.empty()) return "Provider=vfpoledb.1;Data Source=" + a.folder + ";Collating Sequence=general;";
    if (!a.dbc.empty()) return "Provider=vfpoledb.1;Data Source=" + a.dbc + ";Collating Sequence=machine;";
    std::error_code ec;
    if (std::filesystem::is_directory(a.db, ec))
        return "Provider=vfpoledb.1;Data Source=" + a.db + ";Collating Sequence=general;";
    if (endsWithNoCase(a.db, ".dbc"))
        return "Provider=vfpoledb.1;Data Source=" + a.db + ";Collating Sequence=machine;";
    db::ConnectionString cs;
    cs.set("Provider", endsWithNoCase(a.db, ".accdb") ? "Microsoft.ACE.OLEDB.12.0" : "Microsoft.Jet.OLEDB.4.0");
    cs.set("Data Source", a.db);
    if (a.havePassword) cs.set("Jet OLEDB:Database Password", a.password);
    return cs.toString();
}

std::string sourceName(const SourceArgs& a) {
    return !a.folder.empty() ? a.folder : !a.dbc.empty() ? a.dbc : a.db;
}

std::string csvField(const std::string& t) {
    if (t.find_first_of(",\"\r\n") == std::string::npos) return t;
    std::string s = "\"";
    for (char c : t) {
        if (c == '"') s += '"';
        s += c;
    }
    s += '"';
    return s;
}

std::string jsonString(const std::string& t) {
    std::string s;
    s.reserve(t.size() + 2);
    s += '"';
    for (size_t i = 0; i < t.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(t[i]);
        switch (c) {
        case '"': s += "\\\""; break;
        case '\\': s += "\\\\"; break;
        case '\n': s += "\\n"; break;
        case '\r': s += "\\r"; break;
        case '\t': s += "\\t"; break;
        case '\b': s += "\\b"; break;
        case '\f': s += "\\f"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                s += buf;
            } else if (c < 0x80) {
                s += static_cast<char>(c);
            } else {
                // Keep valid UTF-8 sequences; replace stray bytes with U+FFFD
                // so that the output stays valid JSON.
                int len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
                bool ok = len > 0 && i + static_cast<size_t>(len) <= t.size();
                for (int k = 1; ok && k < len; ++k)
                    ok = (static_cast<unsigned char>(t[i + static_cast<size_t>(k)]) & 0xC0) == 0x80;
                if (ok) {
                    s.append(t, i, static_cast<size_t>(len));
                    i += static_cast<size_t>(len) - 1;
                } else {
                    s += "\xEF\xBF\xBD";
                }
            }
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

void writeResult(std::ostream& out, db::Recordset& rs, OutputFormat format) {
    const auto& fields = rs.fieldInfos();
    std::string line;
    if (format == OutputFormat::Csv) {
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
                if (!row[i].isNull()) line += csvField(db::toIsoText(row[i]));
            }
            line += "\r\n";
            out << line;
            rs.MoveNext();
        }
        return;
    }
    line = "{\"columns\":[";
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

}  // namespace tp::cli
