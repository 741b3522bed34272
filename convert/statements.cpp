#include "convert/statements.h"

#include <charconv>

#include "convert/datatype.h"
#include "db/error.h"
#include "ui/events.h"

namespace tp::convert {
namespace {

constexpr TypeRule kRules[] = {
    {"char", "] TEXT,", false, "char", "TEXT"},
    {"dec", "] DECIMAL,", true, "dec", "DECIMAL"},
    {"int", "] INT,", true, "int", "INT"},
    {"numeric", "] FLOAT,", true, "numeric", "FLOAT"},
    {"date", "] TEXT,", false, "date", "TEXT"},
    {"timestamp", "] TEXT,", false, "timestamp", "TEXT"},
    {"double", "] FLOAT,", true, "double", "FLOAT"},
    {"", "] TEXT,", false, "OTHER TYPES", "TEXT"},
};

// The statement numbers of each rule's branch, for the error report.
constexpr int kRuleLines[] = {206, 222, 242, 282, 292, 300, 308, 318};

// The run reads a field's type as a 16-bit number.
int16_t type16(int type) { return static_cast<int16_t>(static_cast<uint16_t>(type)); }

}  // namespace

const TypeRule& typeRuleFor(std::string_view lowerTypeName) {
    for (const auto& r : kRules)
        if (r.contains.empty() || lowerTypeName.find(r.contains) != std::string_view::npos) return r;
    return kRules[7];
}

TableDefinition buildTableDefinition(const std::string& table,
                                     const std::vector<db::FieldInfo>& fields,
                                     DatatypeList& datatypes, Procedure& p) {
    TableDefinition d;
    p(186, [&] { d.statement = "CREATE TABLE [" + table + "]("; });
    p(188, [&] { d.numericPositions.clear(); });
    std::string fieldName;
    p(190, [&] { fieldName.clear(); });
    const int count = static_cast<int>(fields.size());
    for (int j = 0; j < count; ++j) {
        const db::FieldInfo& f = fields[static_cast<size_t>(j)];
        p(194, [&] { datatypes.addRow(table); });
        p(196, [&] { datatypes.setLastField(f.name); });
        p(198, [&] { DoEvents(); });
        p(200, [&] { fieldName = f.name; });
        std::string_view typeName;
        p(202, [&] { typeName = lowerDataTypeName(type16(f.type)); });
        if (p.test(204, [&] { return isLeftOut(typeName); })) continue;
        const TypeRule& rule = typeRuleFor(typeName);
        const int line = kRuleLines[&rule - kRules];
        p(line, [&] {
            d.statement += '[';
            d.statement += fieldName;
            d.statement += rule.columnText;
        });
        p(line + 2, [&] { datatypes.setLastTypes(std::string(rule.keyword), std::string(rule.accessType)); });
        if (rule.numeric)
            p(line + 4, [&] {
                d.numericPositions += std::to_string(j);
                d.numericPositions += ", ";
            });
        d.anyColumn = true;
    }
    p(326, [&] {
        if (!d.statement.empty()) d.statement.pop_back();
    });
    p(328, [&] { d.statement += ");"; });
    return d;
}

std::vector<bool> numericPositionFlags(std::string_view list, size_t fieldCount) {
    std::vector<bool> flags(fieldCount, false);
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        std::string_view piece =
            list.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        while (!piece.empty() && piece.front() == ' ') piece.remove_prefix(1);
        while (!piece.empty() && piece.back() == ' ') piece.remove_suffix(1);
        int pos = -1;
        if (!piece.empty()) {
            auto r = std::from_chars(piece.data(), piece.data() + piece.size(), pos);
            if (r.ec != std::errc() || r.ptr != piece.data() + piece.size()) pos = -1;
        }
        if (pos >= 0 && static_cast<size_t>(pos) < fieldCount) flags[static_cast<size_t>(pos)] = true;
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return flags;
}

RowStatementBuilder::RowStatementBuilder(const std::string& table,
                                         const std::vector<db::FieldInfo>& fields,
                                         std::vector<bool> numeric, const RegionalSettings& settings)
    : prefix_("INSERT INTO [" + table + "] VALUES("), settings_(settings) {
    numeric.resize(fields.size(), false);
    for (bool n : numeric) tableHasNumeric_ = tableHasNumeric_ || n;
    columns_.reserve(fields.size());
    for (size_t c = 0; c < fields.size(); ++c) {
        // The type name is the same for every row: work it out once.
        const int16_t type = type16(fields[c].type);
        const std::string_view name = lowerDataTypeName(type);
        Writing w;
        if (isLeftOut(name))
            w = Writing::LeftOut;
        else if (name.find("char") != std::string_view::npos)
            w = Writing::Text;   // character and memo fields keep the text they hold
        else if (tableHasNumeric_ && numeric[c])
            w = Writing::NumericCase;
        else
            w = Writing::OtherCase;
        columns_.push_back({w, type});
    }
    stmt_.reserve(256);
}

void RowStatementBuilder::writeNull() {
    if (!first_) stmt_.pop_back();
    stmt_ += "NULL, ";
}

namespace {

// Quotes doubled; carriage returns and line feeds removed.
void appendCleaned(std::string& out, std::string_view v) {
    size_t from = 0;
    for (size_t i = 0; i < v.size(); ++i) {
        char c = v[i];
        if (c == '\'' || c == '\r' || c == '\n') {
            out.append(v.data() + from, i - from);
            if (c == '\'') out += "''";
            from = i + 1;
        }
    }
    out.append(v.data() + from, v.size() - from);
}

void commasToPoints(std::string& s) {
    for (char& c : s)
        if (c == ',') c = '.';
}

}  // namespace

void RowStatementBuilder::writeValue(const Column& col, const db::Value& value) {
    // The value text; a text value is used in place.
    std::string_view v;
    if (value.kind() == db::Kind::Text) {
        v = value.text();
    } else {
        v_.clear();
        appendValueText(v_, value, col.type, settings_);
        v = v_;
    }
    if (v.empty()) {
        writeNull();
        return;
    }
    switch (col.writing) {
    case Writing::LeftOut: return;
    case Writing::Text:
        stmt_ += '\'';
        appendCleaned(stmt_, v);
        stmt_ += "', ";
        return;
    case Writing::NumericCase:
        if (v == "False") {
            stmt_ += "0, ";
        } else if (v == "True") {
            stmt_ += "1, ";
        } else {
            const size_t at = stmt_.size();
            stmt_ += v;
            if (readsAsNumber(v, settings_))
                for (size_t i = at; i < stmt_.size(); ++i)
                    if (stmt_[i] == ',') stmt_[i] = '.';
            stmt_ += ", ";
        }
        return;
    case Writing::OtherCase: {
        cleaned_.clear();
        appendCleaned(cleaned_, v);
        // A value that reads as a number is written as that number, never
        // as a date (under day-month settings "12.5" would otherwise read as
        // the 12th of May).
        const bool number = readsAsNumber(cleaned_, settings_);
        if (number && !tableHasNumeric_) commasToPoints(cleaned_);
        stmt_ += '\'';
        std::optional<db::DateTime> date;
        if (!number) date = readDate(cleaned_, settings_);
        if (date) {
            const bool withTime = cleaned_.find(':') != std::string::npos;
            appendMonthDayYear(stmt_, *date, withTime);
        } else {
            stmt_ += cleaned_;
        }
        stmt_ += "', ";
        return;
    }
    }
}

const std::string& RowStatementBuilder::build(const std::vector<db::Value>& row, Procedure& p) {
    stmt_.assign(prefix_);
    first_ = true;
    const size_t count = columns_.size();
    for (size_t c = 0; c < count; ++c) {
        const Column& col = columns_[c];
        if (col.writing == Writing::LeftOut) continue;   // [352-354]
        DoEvents();                                      // [356]
        if (c >= row.size()) {
            p(358, [] {
                throw db::Error(db::Error::kItemNotFound,
                                "Item cannot be found in the collection corresponding to the "
                                "requested name or ordinal.");
            });
            continue;
        }
        p(360, [&] { writeValue(col, row[c]); });
        first_ = false;
    }
    p(424, [&] { stmt_.erase(stmt_.size() >= 2 ? stmt_.size() - 2 : 0); });
    p(426, [&] { stmt_ += ')'; });
    return stmt_;
}

}  // namespace tp::convert
