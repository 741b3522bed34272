#include "convert/access_types.h"

#include <algorithm>

#include "convert/datatype.h"

namespace tp::convert {
namespace {

namespace ad = db::adtype;
constexpr int kAccess97 = 4;

std::string sized(const char* type, int size) { return std::string(type) + "(" + std::to_string(size) + ")"; }

AccessColumn column(std::string type, ValueForm form) {
    AccessColumn c;
    c.type = std::move(type);
    c.form = form;
    return c;
}

AccessColumn told(AccessColumn c, std::string note) {
    c.note = std::move(note);
    c.told = true;
    return c;
}

AccessColumn shown(AccessColumn c, std::string note) {
    c.note = std::move(note);
    return c;
}

// Character fields: Text(n) up to 255 characters, a Memo beyond.
AccessColumn textColumn(const db::FieldInfo& f, ValueForm form) {
    if (f.definedSize >= 1 && f.definedSize <= 255) return column(sized("TEXT", f.definedSize), form);
    AccessColumn memo = column("MEMO", form == ValueForm::Text ? ValueForm::Memo : form);
    if (f.definedSize > 255) return shown(std::move(memo), "longer than Access's 255 characters of Text: a Memo");
    return memo;
}

AccessColumn binaryColumn(const db::FieldInfo& f, const char* type) {
    if (f.definedSize >= 1 && f.definedSize <= 255) return column(sized(type, f.definedSize), ValueForm::Bytes);
    return shown(column("LONGBINARY", ValueForm::Bytes), "longer than Access's 255 bytes of Binary: an OLE Object");
}

AccessColumn longBinaryColumn(const db::FieldInfo& f) {
    AccessColumn c = column("LONGBINARY", ValueForm::Bytes);
    if (f.sourceType == 'G' || f.sourceType == 'P')
        return told(std::move(c),
                    "General field: the OLE object's bytes are kept as FoxPro stores them; Access may not "
                    "open them as an object");
    return c;
}

// N(p,s) and F(p,s): a Long for whole numbers of up to 9 digits, else a
// Decimal of the field's width (FoxPro's width counts the sign and the
// point, so every value fits). Access 97 has no Decimal: a Double holds
// every value of up to 15 digits exactly, Currency those with up to 4
// decimals and 15 digits before the point; wider fields are rounded.
AccessColumn numericColumn(const db::FieldInfo& f, int engineType) {
    const int p = std::max(1, f.precision), s = std::clamp(f.numericScale, 0, p);
    if (s == 0 && p <= 9) return column("LONG", ValueForm::Number);
    if (engineType != kAccess97)
        return column("DECIMAL(" + std::to_string(std::min(p, 28)) + "," + std::to_string(s) + ")", ValueForm::Number);
    if (p <= 15)
        return shown(column("DOUBLE", ValueForm::Number),
                     "Access 97 has no Decimal: a Double holds every value exactly");
    if (s <= 4 && p - s - (s > 0 ? 1 : 0) <= 15)  // the point takes one of the width
        return shown(column("CURRENCY", ValueForm::Number),
                     "Access 97 has no Decimal: Currency holds every value exactly");
    return told(column("DOUBLE", ValueForm::Number),
                "Access 97 has no Decimal: values of more than 15 digits are rounded to 15");
}

AccessColumn integerColumn(const db::FieldInfo& f) {
    if (f.autoStep <= 0) return column("LONG", ValueForm::Number);
    const int64_t next = std::clamp<int64_t>(f.autoNext, 1, 2147483647);
    AccessColumn c = column("COUNTER(" + std::to_string(next) + ", 1)", ValueForm::Number);
    if (f.autoStep != 1)
        return told(std::move(c), "autoincrement step " + std::to_string(f.autoStep) +
                                      ": Access's AutoNumber counts by 1 (it goes on from " + std::to_string(next) +
                                      ")");
    return c;
}

AccessColumn logicalColumn(const db::FieldInfo& f) {
    if (!f.nullable) return column("YESNO", ValueForm::YesNo);
    return told(column("SHORT", ValueForm::LogicalNumber),
                "logical field that allows NULL: a Yes/No holds no NULL, so it is a Number "
                "(-1 true, 0 false, NULL)");
}

}  // namespace

AccessColumn accessColumn(const db::FieldInfo& f, int engineType) {
    AccessColumn c;
    // clang-format off
    switch (f.type) {
    case ad::Char: case ad::WChar:
        c = textColumn(f, f.sourceType == 'C' || f.sourceType == 0 ? ValueForm::TrimmedText : ValueForm::Text);
        break;
    case ad::VarChar: case ad::VarWChar: c = textColumn(f, ValueForm::Text); break;
    case ad::LongVarChar: case ad::LongVarWChar: c = column("MEMO", ValueForm::Memo); break;
    case ad::Binary: c = binaryColumn(f, "BINARY"); break;
    case ad::VarBinary: c = binaryColumn(f, "VARBINARY"); break;
    case ad::LongVarBinary: c = longBinaryColumn(f); break;
    case ad::Numeric: case ad::Decimal: c = numericColumn(f, engineType); break;
    case ad::Integer: c = integerColumn(f); break;
    case ad::SmallInt: case ad::TinyInt: case ad::UnsignedTinyInt: c = column("LONG", ValueForm::Number); break;
    case ad::BigInt:
        c = engineType == kAccess97 ? told(column("DOUBLE", ValueForm::Number),
                                           "Access 97 has no large numbers: values past 15 digits are rounded")
                                    : column("DECIMAL(19,0)", ValueForm::Number);
        break;
    case ad::Double: c = column("DOUBLE", ValueForm::Double); break;
    case ad::Single: c = column("SINGLE", ValueForm::Double); break;
    case ad::Currency: c = column("CURRENCY", ValueForm::Currency); break;
    case ad::Date: case ad::DBDate: c = shown(column("DATETIME", ValueForm::Date), "an empty date is NULL"); break;
    case ad::DBTimeStamp: c = shown(column("DATETIME", ValueForm::DateTime), "an empty date-time is NULL"); break;
    case ad::Boolean: c = logicalColumn(f); break;
    case ad::GUID: c = column("GUID", ValueForm::Text); break;
    default: c = column("MEMO", ValueForm::Text); break;
    }
    // clang-format on
    c.sourceType = sourceTypeText(f);
    return c;
}

std::string sourceTypeText(const db::FieldInfo& f) {
    if (f.sourceType == 0) {
        std::string t(dataTypeName(static_cast<int16_t>(f.type)));
        if (f.definedSize > 0) t += "(" + std::to_string(f.definedSize) + ")";
        return t;
    }
    std::string t(1, f.sourceType);
    switch (f.sourceType) {
    case 'C':
    case 'V':
    case 'Q': t += "(" + std::to_string(f.definedSize) + ")"; break;
    case 'N':
    case 'F':
        t += "(" + std::to_string(f.precision);
        if (f.numericScale > 0) t += "," + std::to_string(f.numericScale);
        t += ")";
        break;
    default: break;
    }
    if (f.binary) t += " binary";
    if (f.autoStep > 0)
        t += " autoinc (next " + std::to_string(f.autoNext) + ", step " + std::to_string(f.autoStep) + ")";
    return t;
}

}  // namespace tp::convert
