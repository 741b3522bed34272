// Captions, comments, validation rules and their messages, input masks,
// formats and default expressions: from what the FoxPro container says of
// a field or table to the Access properties that hold the same, set by
// our SQL's ALTER TABLE ... SET. What has no faithful Access form is left
// out with the reason the user is told.
#pragma once

#include <string>
#include <vector>

#include "convert/keys.h"
#include "db/ado.h"

namespace tp::convert::keys {

struct PropertySetting {
    std::string name, value;  // the Access property and its text
};

// The Access properties of one column (or, with column empty, of the
// table) and the notes of what was left out.
struct PlannedProperties {
    std::string column;
    std::vector<PropertySetting> settings;
    std::vector<std::string> leftOut;  // one note each ("table, field NAME: the caption ... was left out, as ...")
};

// The properties of a field or table; `field` is the field (null for the
// table), `fields` the table's fields as the run created them. With
// `ownKinds` false the run wrote the fields as text: the rules, formats and
// masks of other kinds no longer fit their columns and are left out.
PlannedProperties planProperties(const SourceProperties& p, const db::FieldInfo* field,
                                 const std::vector<db::FieldInfo>& fields, bool ownKinds = true);

// A default the literal DEFAULT cannot hold (DATE(), DATETIME()), as a
// DefaultValue setting; false, with the reason, when it has no Access form.
bool defaultProperty(const std::string& expression, const db::FieldInfo& field, PropertySetting& out,
                     std::string& reason);

// ALTER TABLE [t] [ALTER COLUMN [c]] SET name = 'value', ...
std::string propertiesStatement(const std::string& table, const std::string& column,
                                const std::vector<PropertySetting>& settings);

// The Access Format of a FoxPro format, and the Access InputMask of a
// FoxPro input mask, for the field; empty, with the reason, when none.
std::string accessFormat(const std::string& foxpro, const db::FieldInfo& field, std::string& reason);
std::string accessInputMask(const std::string& foxpro, const db::FieldInfo& field, std::string& reason);

}  // namespace tp::convert::keys
