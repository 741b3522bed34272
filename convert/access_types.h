// The Access field types of a run: every source field in the Access type that
// holds its values as what they are (Text(n), Memo, Number, Currency,
// Date/Time, Yes/No, OLE Object, AutoNumber), with the way its values are
// written and what the mapping had to change, told to the user.
#pragma once

#include <cstdint>
#include <string>

#include "db/cursor.h"

namespace tp::convert {

// How the run types its columns: each field in its own Access type, or every
// non-numeric field as text (the statements of earlier versions, byte for
// byte).
enum class FieldTypes : uint8_t { Access, Text };

// How a column's values are written in an INSERT.
enum class ValueForm : uint8_t {
    TrimmedText,    // 'text' without its trailing blanks (a padded character field)
    Text,           // 'text' as stored; line breaks as & Chr(13) & Chr(10) &
    Memo,           // the same, and NULL for an empty memo (a field with no memo)
    Bytes,          // 0x0123... (this program's binary literal); NULL for no bytes
    Number,         // an exact number as stored (integer or decimal)
    Double,         // the shortest text that reads back as the same double
    Currency,       // four decimal places
    Date,           // #yyyy-mm-dd#
    DateTime,       // #yyyy-mm-dd hh:nn:ss#
    YesNo,          // True or False
    LogicalNumber,  // -1, 0 or NULL (a logical field that allows NULL)
};

struct AccessColumn {
    std::string type;  // the column's type in CREATE TABLE: "TEXT(10)", "COUNTER(101, 1)"
    ValueForm form = ValueForm::Text;
    std::string sourceType;  // the field as the source describes it: "C(10)", "N(12,2)"
    // What the column does not keep of the field, or keeps in another kind;
    // empty when it keeps it all. A told note goes into the run's output and
    // the end box too; the others are shown in the datatype view only.
    std::string note;
    bool told = false;
};

// The column of field f in a target of the given engine type (the
// connection's EngineType: 4 is Access 97, which has no Decimal type).
AccessColumn accessColumn(const db::FieldInfo& f, int engineType);

// The field as the source describes it: its FoxPro type with width and
// decimals ("C(10)", "N(12,2)", "I autoinc", "M binary"), or its ADO type's
// name with its size for other sources.
std::string sourceTypeText(const db::FieldInfo& f);

}  // namespace tp::convert
