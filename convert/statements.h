// The SQL text of a table: its CREATE TABLE from the source fields, and one
// INSERT INTO per row.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "convert/access_types.h"
#include "convert/host.h"
#include "convert/regional.h"
#include "db/ado.h"
#include "host/error_report.h"

namespace tp::convert {

// One rule of the column-type mapping, chosen by the first text that occurs
// in the lowercased ADO type name.
struct TypeRule {
    std::string_view contains;    // empty for the final rule
    std::string_view columnType;  // the column's type in CREATE TABLE
    bool numeric;
    std::string_view keyword;
    std::string_view accessType;
    int firstStep;  // the number of the rule's first step
};
const TypeRule& typeRuleFor(std::string_view lowerTypeName);
// Binary long fields are left out of the table.
inline bool isLeftOut(std::string_view lowerTypeName) { return lowerTypeName == "adlongvarbinary"; }

struct TableDefinition {
    std::string statement;      // "CREATE TABLE [t]([a] INT,[b] TEXT);"
    std::vector<bool> numeric;  // per field: written as a number
    bool anyColumn = false;     // false when every field was left out
};

// With the Access field types: the columns of the fields (accessColumns),
// and one datatype row per field with the field's source type, its column
// type and the note of what the column does not keep.
TableDefinition buildAccessDefinition(const std::string& table, const std::vector<db::FieldInfo>& fields,
                                      const std::vector<AccessColumn>& columns, DatatypeList& datatypes, Procedure& p,
                                      const std::vector<std::string>* defaults = nullptr);
// Per field, its Access column in a target of the engine type given.
std::vector<AccessColumn> accessColumns(const std::vector<db::FieldInfo>& fields, int engineType);

// Builds the definition, adding one datatype row per field. Failing steps
// are reported through p with their statement numbers. defaults, when
// given, holds per field the literal of its DEFAULT (empty for none).
TableDefinition buildTableDefinition(const std::string& table, const std::vector<db::FieldInfo>& fields,
                                     DatatypeList& datatypes, Procedure& p,
                                     const std::vector<std::string>* defaults = nullptr);
// Per field: whether its column is written as a number (as the definition
// says).
std::vector<bool> numericFields(const std::vector<db::FieldInfo>& fields);

// Writes the INSERT statement of each row of one table. The buffers are kept
// between rows.
class RowStatementBuilder {
public:
    RowStatementBuilder(const std::string& table, const std::vector<db::FieldInfo>& fields, std::vector<bool> numeric,
                        const RegionalSettings& settings);
    // With the Access field types: each value written in its column's form.
    RowStatementBuilder(const std::string& table, const std::vector<db::FieldInfo>& fields,
                        const std::vector<AccessColumn>& columns);
    // Builds the statement of one row (one value per field).
    const std::string& build(const std::vector<db::Value>& row, Procedure& p);
    const std::string& statement() const { return stmt_; }
    // Hands the statement just built over without a copy; the next build
    // writes into the room `into` had.
    void takeStatement(std::string& into) { into.swap(stmt_); }
    // The literal an INSERT writes for value in field c ("'False'", "1");
    // empty when it writes NULL or leaves the field out.
    std::string literal(size_t c, const db::Value& value);
    // Writes every value through the general conversion (value text, number
    // and date reading), never through the shortcuts for typed values. The
    // statements are the same either way; tests compare the two.
    void setGeneralPathOnly(bool on) { generalOnly_ = on; }
    // Whether build() yields to the event loop per field (not on a thread
    // that reads ahead of the windows' own).
    void setYields(bool on) { yields_ = on; }
    // Per field: the values written as NULL because Access cannot hold them
    // (a date before the year 100, a double that is no number), since the
    // builder was made.
    const std::vector<int64_t>& nulledValues() const { return nulled_; }
    // Per column, how many date-times lost a fraction of a second (Access's
    // date literal holds whole seconds).
    const std::vector<int64_t>& cutValues() const { return cut_; }

private:
    enum class Writing : uint8_t { LeftOut, Text, NumericCase, OtherCase, Typed };
    struct Column {
        Writing writing;
        int16_t type;
        ValueForm form = ValueForm::Text;  // Typed
    };
    void writeTypedValue(size_t c, const Column& col, const db::Value& value);
    bool writeInForm(size_t c, const Column& col, const db::Value& value);
    void writeTypedString(const Column& col, const db::Value& value);
    std::string_view valueText(const Column& col, const db::Value& value);
    void writeCurrency(const db::Value& value);
    void writeNulled(size_t c);  // NULL for a value Access cannot hold, counted
    void writeTypedText(std::string_view text);
    void writeBytes(const db::Bytes& bytes);
    bool writeTypedDate(size_t c, const db::Value& value, bool withTime);
    void writeValue(const Column& col, const db::Value& value);
    void writeDate(const db::Value& value);        // a date of an OtherCase column
    void writeNumericCase(std::string_view text);  // a value text of a NumericCase column
    void writeOtherCase(std::string_view text);    // a value text of an OtherCase column
    bool writeTyped(const Column& col, const db::Value& value);
    void writeNull();

    std::string prefix_;
    std::vector<Column> columns_;
    bool tableHasNumeric_ = false;
    RegionalSettings settings_;
    std::string stmt_, v_, cleaned_;
    bool first_ = true;
    bool generalOnly_ = false;
    bool yields_ = true;
    // Which shortcuts give the general path's text under the settings.
    bool plainNumbers_ = false;  // decimal point or comma, no look-alike group separator
    std::vector<int64_t> nulled_, cut_;
};

}  // namespace tp::convert
