#include "convert/statements.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "convert/datatype.h"
#include "convert/run_steps.h"
#include "db/error.h"
#include "host/events.h"

namespace tp::convert {
namespace {

constexpr TypeRule kRules[] = {
    {"char", "TEXT", false, "char", "TEXT", step::CharColumn},
    {"dec", "DECIMAL", true, "dec", "DECIMAL", step::DecimalColumn},
    {"int", "INT", true, "int", "INT", step::IntColumn},
    {"numeric", "FLOAT", true, "numeric", "FLOAT", step::NumericColumn},
    {"date", "TEXT", false, "date", "TEXT", step::DateColumn},
    {"timestamp", "TEXT", false, "timestamp", "TEXT", step::TimestampColumn},
    {"double", "FLOAT", true, "double", "FLOAT", step::DoubleColumn},
    {"", "TEXT", false, "OTHER TYPES", "TEXT", step::OtherColumn},
};

// The run reads a field's type as a 16-bit number.
int16_t type16(int type) { return static_cast<int16_t>(static_cast<uint16_t>(type)); }

// "[name] type[ DEFAULT literal]," of a CREATE TABLE column list.
void appendColumn(std::string& statement, const std::string& name, std::string_view type,
                  const std::vector<std::string>* defaults, size_t j) {
    statement += '[';
    statement += name;
    statement += "] ";
    statement += type;
    if (defaults && j < defaults->size() && !(*defaults)[j].empty()) {
        statement += " DEFAULT ";
        statement += (*defaults)[j];
    }
    statement += ',';
}

}  // namespace

const TypeRule& typeRuleFor(std::string_view lowerTypeName) {
    for (const auto& r : kRules)
        if (r.contains.empty() || lowerTypeName.find(r.contains) != std::string_view::npos) return r;
    return kRules[7];
}

std::vector<bool> numericFields(const std::vector<db::FieldInfo>& fields) {
    std::vector<bool> numeric(fields.size(), false);
    for (size_t j = 0; j < fields.size(); ++j) {
        const std::string_view typeName = lowerDataTypeName(type16(fields[j].type));
        numeric[j] = !isLeftOut(typeName) && typeRuleFor(typeName).numeric;
    }
    return numeric;
}

TableDefinition buildTableDefinition(const std::string& table, const std::vector<db::FieldInfo>& fields,
                                     DatatypeList& datatypes, Procedure& p, const std::vector<std::string>* defaults) {
    TableDefinition d;
    p(step::DefinitionHead, [&] { d.statement = "CREATE TABLE [" + table + "]("; });
    p(step::ClearNumericPositions, [&] { d.numeric.assign(fields.size(), false); });
    std::string fieldName;
    p(step::ClearFieldName, [&] { fieldName.clear(); });
    for (size_t j = 0; j < fields.size(); ++j) {
        const db::FieldInfo& f = fields[j];
        p(step::AddDatatypeRow, [&] { datatypes.addRow(table); });
        p(step::SetDatatypeField, [&] { datatypes.setLastField(f.name); });
        p(step::YieldPerField, [&] { pumpEvents(); });
        p(step::FieldName, [&] { fieldName = f.name; });
        std::string_view typeName;
        p(step::FieldTypeName, [&] { typeName = lowerDataTypeName(type16(f.type)); });
        if (p.test(step::FieldLeftOut, [&] { return isLeftOut(typeName); })) {
            p(step::FieldLeftOut, [&] { datatypes.setLastNote("left out: binary (keep it with Access field types)"); });
            continue;
        }
        const TypeRule& rule = typeRuleFor(typeName);
        p(rule.firstStep, [&] { appendColumn(d.statement, fieldName, rule.columnType, defaults, j); });
        p(rule.firstStep + 2, [&] { datatypes.setLastTypes(std::string(rule.keyword), std::string(rule.accessType)); });
        if (rule.numeric)
            p(rule.firstStep + 4, [&] {
                if (j < d.numeric.size()) d.numeric[j] = true;
            });
        d.anyColumn = true;
    }
    p(step::DropLastComma, [&] {
        if (!d.statement.empty()) d.statement.pop_back();
    });
    p(step::CloseColumnList, [&] { d.statement += ");"; });
    return d;
}

std::vector<AccessColumn> accessColumns(const std::vector<db::FieldInfo>& fields, int engineType) {
    std::vector<AccessColumn> columns;
    columns.reserve(fields.size());
    for (const db::FieldInfo& f : fields) columns.push_back(accessColumn(f, engineType));
    return columns;
}

TableDefinition buildAccessDefinition(const std::string& table, const std::vector<db::FieldInfo>& fields,
                                      const std::vector<AccessColumn>& columns, DatatypeList& datatypes, Procedure& p,
                                      const std::vector<std::string>* defaults) {
    TableDefinition d;
    p(step::DefinitionHead, [&] { d.statement = "CREATE TABLE [" + table + "]("; });
    p(step::ClearNumericPositions, [&] { d.numeric.assign(fields.size(), false); });
    for (size_t j = 0; j < fields.size() && j < columns.size(); ++j) {
        const AccessColumn& c = columns[j];
        p(step::AddDatatypeRow, [&] { datatypes.addRow(table); });
        p(step::SetDatatypeField, [&] { datatypes.setLastField(fields[j].name); });
        p(step::YieldPerField, [&] { pumpEvents(); });
        p(step::OtherColumn, [&] { appendColumn(d.statement, fields[j].name, c.type, defaults, j); });
        p(step::OtherColumn + 2, [&] {
            datatypes.setLastTypes(c.sourceType, c.type);
            if (!c.note.empty()) datatypes.setLastNote(c.note);
        });
        d.anyColumn = true;
    }
    p(step::DropLastComma, [&] {
        if (!d.statement.empty()) d.statement.pop_back();
    });
    p(step::CloseColumnList, [&] { d.statement += ");"; });
    return d;
}

RowStatementBuilder::RowStatementBuilder(const std::string& table, const std::vector<db::FieldInfo>& fields,
                                         const std::vector<AccessColumn>& columns)
    : prefix_("INSERT INTO [" + table + "] VALUES("), settings_(RegionalSettings::unitedStates()) {
    columns_.reserve(fields.size());
    for (size_t c = 0; c < fields.size(); ++c)
        columns_.push_back(
            {Writing::Typed, type16(fields[c].type), c < columns.size() ? columns[c].form : ValueForm::Text});
    nulled_.assign(fields.size(), 0);
    cut_.assign(fields.size(), 0);
    stmt_.reserve(256);
    plainNumbers_ = true;
}

RowStatementBuilder::RowStatementBuilder(const std::string& table, const std::vector<db::FieldInfo>& fields,
                                         std::vector<bool> numeric, const RegionalSettings& settings)
    : prefix_("INSERT INTO [" + table + "] VALUES("), settings_(settings) {
    numeric.resize(fields.size(), false);
    for (bool n : numeric) tableHasNumeric_ = tableHasNumeric_ || n;
    columns_.reserve(fields.size());
    nulled_.assign(fields.size(), 0);
    cut_.assign(fields.size(), 0);
    for (size_t c = 0; c < fields.size(); ++c) {
        // The type name is the same for every row: work it out once.
        const int16_t type = type16(fields[c].type);
        const std::string_view name = lowerDataTypeName(type);
        Writing w;
        if (isLeftOut(name)) w = Writing::LeftOut;
        else if (name.find("char") != std::string_view::npos)
            w = Writing::Text;  // character and memo fields keep the text they hold
        else if (tableHasNumeric_ && numeric[c]) w = Writing::NumericCase;
        else w = Writing::OtherCase;
        columns_.push_back({w, type});
    }
    stmt_.reserve(256);

    const RegionalSettings& s = settings_;
    const char dec = s.decimalSeparator, group = s.thousandsSeparator;
    plainNumbers_ =
        (dec == '.' || dec == ',') && group != dec && (group == ',' || group == '.' || group == ' ' || group == '\'');
}

void RowStatementBuilder::writeNull() {
    if (!first_) stmt_.pop_back();
    stmt_ += "NULL, ";
}

namespace {

// Does any of the eight bytes equal a quote, CR or LF? (A byte-wise zero
// test of each comparison: never misses one.)
inline bool anySpecial(uint64_t w) {
    constexpr uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
    auto zeroByte = [](uint64_t x) { return (x - ones) & ~x & highs; };
    return (zeroByte(w ^ (ones * '\'')) | zeroByte(w ^ (ones * '\r')) | zeroByte(w ^ (ones * '\n'))) != 0;
}

// Quotes doubled; carriage returns and line feeds removed.
void appendCleaned(std::string& out, std::string_view v) {
    // Most characters take one test: the three special ones lie below 64.
    constexpr uint64_t kSpecial = 1ull << '\'' | 1ull << '\r' | 1ull << '\n';
    // Eight plain bytes at a time up to the first special one.
    size_t i = 0;
    while (i + 8 <= v.size()) {
        uint64_t w;
        std::memcpy(&w, v.data() + i, 8);
        if (anySpecial(w)) break;
        i += 8;
    }
    if (i == v.size()) {
        out.append(v);
        return;
    }
    size_t from = 0;
    for (; i < v.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(v[i]);
        if (c < 64 && (kSpecial >> c & 1)) {
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

// "-12.5", "0", "7." and the like: what the reader and the engine hold.
bool isPlainDecimal(std::string_view t) {
    size_t i = t.empty() || t[0] != '-' ? 0 : 1;
    const size_t intStart = i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
    if (i == intStart) return false;
    if (i < t.size() && t[i] == '.') ++i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i;
    return i == t.size();
}

}  // namespace

// The values whose text the general path would only read back as what they
// are: written at once. Each case holds under the settings checked in the
// constructor (plainNumbers_ and the like) and gives the general path's
// bytes; false leaves the value to the general path.
//
// Numeric fields: a number's text reads as a number, so its decimal comma
// becomes a point. Other fields: a number stays a quoted number (commas
// become points when the table has no numeric field); "True" and "False"
// read as neither.
bool RowStatementBuilder::writeTyped(const Column& col, const db::Value& value) {
    using db::Kind;
    // Bounded texts are put together here and appended at once.
    char buf[64];
    char* o = buf;
    if (col.writing == Writing::NumericCase) {
        // clang-format off
        switch (value.kind()) {
        case Kind::Int: o = std::to_chars(o, o + 24, value.integer()).ptr; break;
        case Kind::Decimal:
            if (!plainNumbers_ || !isPlainDecimal(value.decimal().text)) return false;
            appendDecimalNumber(stmt_, value.decimal().text, '.');
            break;
        case Kind::Double:
            if (!plainNumbers_) return false;
            o = putDoubleNumber(o, value.real(), col.type, '.');
            break;
        default: return false;
        }
        // clang-format on
        *o++ = ',';
        *o++ = ' ';
        stmt_.append(buf, o);
        return true;
    }
    if (col.writing != Writing::OtherCase) return false;
    const char sep = tableHasNumeric_ ? settings_.decimalSeparator : '.';
    *o++ = '\'';
    // clang-format off
    switch (value.kind()) {
    case Kind::Int: o = std::to_chars(o, o + 24, value.integer()).ptr; break;
    case Kind::Currency:
        if (!plainNumbers_) return false;
        o = putCurrencyNumber(o, value.currency(), sep);
        break;
    case Kind::Double:
        if (!plainNumbers_) return false;
        o = putDoubleNumber(o, value.real(), col.type, sep);
        break;
    case Kind::Bool:
        if (!plainNumbers_) return false;
        if (value.boolean()) {
            std::memcpy(o, "True", 4);
            o += 4;
        } else {
            std::memcpy(o, "False", 5);
            o += 5;
        }
        break;
    default: return false;
    }
    // clang-format on
    *o++ = '\'';
    *o++ = ',';
    *o++ = ' ';
    stmt_.append(buf, o);
    return true;
}

void RowStatementBuilder::writeDate(const db::Value& value) {
    // Dates and date-times always take the month-day-year pattern, the time
    // when it is not midnight, whatever the regional short date looks like
    // (under German settings "30.08.2021" also reads as a number) and
    // whatever the year (1 to 99 too).
    const db::DateTime dt = value.kind() == db::Kind::Date ? db::DateTime{value.date()} : value.dateTime();
    char buf[32];
    char* o = buf;
    *o++ = '\'';
    o = putMonthDayYear(o, dt, dt.hour || dt.minute || dt.second);
    *o++ = '\'';
    *o++ = ',';
    *o++ = ' ';
    stmt_.append(buf, o);
}

void RowStatementBuilder::writeNumericCase(std::string_view v) {
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
}

void RowStatementBuilder::writeOtherCase(std::string_view v) {
    cleaned_.clear();
    appendCleaned(cleaned_, v);
    // A value that reads as a number is written as that number, never as a
    // date (under day-month settings "12.5" would otherwise read as the 12th
    // of May). Date values never get here.
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
}

// Text in quotes, quotes doubled; each line break as Chr(13) or Chr(10)
// joined by & ('a' & Chr(13) & Chr(10) & 'b'), so that the statement stays
// on one line and the text keeps every character.
void RowStatementBuilder::writeTypedText(std::string_view v) {
    stmt_ += '\'';
    bool open = true;
    size_t from = 0;
    for (size_t i = 0; i < v.size(); ++i) {
        const char c = v[i];
        if (c != '\r' && c != '\n') {
            if (!open) {
                stmt_ += " & '";
                open = true;
                from = i;
            }
            continue;
        }
        if (open) {
            appendCleaned(stmt_, v.substr(from, i - from));
            stmt_ += '\'';
            open = false;
        }
        stmt_ += c == '\r' ? " & Chr(13)" : " & Chr(10)";
        from = i + 1;
    }
    if (open) {
        appendCleaned(stmt_, v.substr(from));
        stmt_ += '\'';
    }
    stmt_ += ", ";
}

void RowStatementBuilder::writeBytes(const db::Bytes& b) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    if (b.empty()) return writeNull();
    const size_t at = stmt_.size();
    stmt_.resize(at + 2 + 2 * b.size() + 2);
    char* o = stmt_.data() + at;
    *o++ = '0';
    *o++ = 'x';
    for (const uint8_t x : b) {
        *o++ = kHex[x >> 4];
        *o++ = kHex[x & 15];
    }
    *o++ = ',';
    *o++ = ' ';
}

// #yyyy-mm-dd# or #yyyy-mm-dd hh:nn:ss#; false for a date Access cannot
// hold (before the year 100).
bool RowStatementBuilder::writeTypedDate(size_t c, const db::Value& value, bool withTime) {
    const db::DateTime dt = value.kind() == db::Kind::Date ? db::DateTime{value.date()} : value.dateTime();
    if (dt.date.year < 100 || dt.date.year > 9999) return false;
    char buf[32];
    char* o = buf;
    auto two = [&o](int v) {
        *o++ = char('0' + v / 10 % 10);
        *o++ = char('0' + v % 10);
    };
    *o++ = '#';
    two(dt.date.year / 100);
    two(dt.date.year);
    *o++ = '-';
    two(dt.date.month);
    *o++ = '-';
    two(dt.date.day);
    if (withTime) {
        if (dt.millisecond != 0) ++cut_[c];
        *o++ = ' ';
        two(dt.hour);
        *o++ = ':';
        two(dt.minute);
        *o++ = ':';
        two(dt.second);
    }
    stmt_.append(buf, o);
    stmt_ += "#, ";
    return true;
}

// The value's text: a text value in place, any other written out.
std::string_view RowStatementBuilder::valueText(const Column& col, const db::Value& value) {
    if (value.kind() == db::Kind::Text) return value.text();
    v_.clear();
    appendValueText(v_, value, col.type, settings_);
    return v_;
}

void RowStatementBuilder::writeTypedString(const Column& col, const db::Value& value) {
    std::string_view v = valueText(col, value);
    if (col.form == ValueForm::TrimmedText)
        while (!v.empty() && (v.back() == ' ' || v.back() == '\0')) v.remove_suffix(1);
    if (v.empty() && col.form == ValueForm::Memo) return writeNull();
    writeTypedText(v);
}

// Four places, as Currency keeps them.
void RowStatementBuilder::writeCurrency(const db::Value& value) {
    char buf[64];
    char* o = putCurrencyNumber(buf, value.currency(), '.');
    const char* point = std::find(buf, o, '.');
    const ptrdiff_t places = point == o ? 0 : o - point - 1;
    if (point == o) *o++ = '.';
    for (ptrdiff_t i = places; i < 4; ++i) *o++ = '0';
    stmt_.append(buf, o);
    stmt_ += ", ";
}

// A value in its column's own form; false when it is of another kind.
bool RowStatementBuilder::writeInForm(size_t c, const Column& col, const db::Value& value) {
    using db::Kind;
    const Kind kind = value.kind();
    // clang-format off
    switch (col.form) {
    case ValueForm::TrimmedText: case ValueForm::Text: case ValueForm::Memo: writeTypedString(col, value); return true;
    case ValueForm::Bytes:
        if (kind == Kind::Binary) writeBytes(value.bytes());
        else if (kind == Kind::Text) writeBytes(db::Bytes(value.text().begin(), value.text().end()));
        return kind == Kind::Binary || kind == Kind::Text;
    case ValueForm::Date: case ValueForm::DateTime:
        if (kind != Kind::Date && kind != Kind::DateTime) return false;
        if (!writeTypedDate(c, value, col.form == ValueForm::DateTime)) writeNulled(c);
        return true;
    case ValueForm::YesNo:
        if (kind == Kind::Bool) stmt_ += value.boolean() ? "True, " : "False, ";
        return kind == Kind::Bool;
    case ValueForm::LogicalNumber:
        if (kind == Kind::Bool) stmt_ += value.boolean() ? "-1, " : "0, ";
        return kind == Kind::Bool;
    case ValueForm::Currency:
        if (kind == Kind::Currency) writeCurrency(value);
        return kind == Kind::Currency;
    case ValueForm::Number: case ValueForm::Double: return false;
    }
    // clang-format on
    return false;
}

void RowStatementBuilder::writeNulled(size_t c) {
    ++nulled_[c];
    writeNull();
}

void RowStatementBuilder::writeTypedValue(size_t c, const Column& col, const db::Value& value) {
    using db::Kind;
    if (writeInForm(c, col, value)) return;
    // Numbers, and any value of another kind than its column's.
    char buf[64];
    switch (value.kind()) {
    case Kind::Int: stmt_.append(buf, std::to_chars(buf, buf + sizeof buf, value.integer()).ptr); break;
    case Kind::Decimal: stmt_ += value.decimal().text; break;
    case Kind::Currency: stmt_.append(buf, putCurrencyNumber(buf, value.currency(), '.')); break;
    case Kind::Double:
        if (!std::isfinite(value.real())) return writeNulled(c);
        stmt_.append(buf, std::to_chars(buf, buf + sizeof buf, value.real()).ptr);
        break;
    case Kind::Bool: stmt_ += value.boolean() ? "True" : "False"; break;
    case Kind::Binary: return writeBytes(value.bytes());
    case Kind::Date:
    case Kind::DateTime:
        if (!writeTypedDate(c, value, true)) writeNulled(c);
        return;
    default:
        v_.clear();
        appendValueText(v_, value, col.type, settings_);
        return writeTypedText(v_);
    }
    stmt_ += ", ";
}

void RowStatementBuilder::writeValue(const Column& col, const db::Value& value) {
    if (value.isNull()) {
        writeNull();
        return;
    }
    if (col.writing == Writing::OtherCase && (value.kind() == db::Kind::Date || value.kind() == db::Kind::DateTime)) {
        writeDate(value);
        return;
    }
    if (!generalOnly_ && writeTyped(col, value)) return;
    // The value text; a text value is used in place.
    std::string_view v = valueText(col, value);
    if (v.empty()) {
        writeNull();
        return;
    }
    // clang-format off
    switch (col.writing) {
    case Writing::LeftOut: return;
    case Writing::Text:
        stmt_ += '\'';
        appendCleaned(stmt_, v);
        stmt_ += "', ";
        return;
    case Writing::NumericCase: writeNumericCase(v); return;
    case Writing::OtherCase: writeOtherCase(v); return;
    case Writing::Typed: return;  // written by writeTypedValue
    }
    // clang-format on
}

std::string RowStatementBuilder::literal(size_t c, const db::Value& value) {
    if (c >= columns_.size() || columns_[c].writing == Writing::LeftOut) return {};
    stmt_.clear();
    first_ = true;
    if (columns_[c].writing == Writing::Typed && !value.isNull()) writeTypedValue(c, columns_[c], value);
    else writeValue(columns_[c], value);
    if (stmt_.size() >= 2 && stmt_.compare(stmt_.size() - 2, 2, ", ") == 0) stmt_.resize(stmt_.size() - 2);
    std::string out = stmt_ == "NULL" ? std::string() : stmt_;
    stmt_.clear();
    return out;
}

const std::string& RowStatementBuilder::build(const std::vector<db::Value>& row, Procedure& p) {
    stmt_.assign(prefix_);
    first_ = true;
    const size_t count = columns_.size();
    for (size_t c = 0; c < count; ++c) {
        const Column& col = columns_[c];
        if (col.writing == Writing::LeftOut) continue;
        if (yields_) pumpEvents();
        if (c >= row.size()) {
            p(step::MissingValue, [] {
                throw db::Error(db::Error::kItemNotFound,
                                "Item cannot be found in the collection corresponding to the "
                                "requested name or ordinal.");
            });
            continue;
        }
        p(step::WriteValue, [&] {
            if (col.writing == Writing::Typed && !row[c].isNull()) writeTypedValue(c, col, row[c]);
            else writeValue(col, row[c]);
        });
        first_ = false;
    }
    p(step::DropLastValueComma, [&] { stmt_.erase(stmt_.size() >= 2 ? stmt_.size() - 2 : 0); });
    p(step::CloseValueList, [&] { stmt_ += ')'; });
    return stmt_;
}

}  // namespace tp::convert
