// Field default values: from the FoxPro container's default expressions to
// the values an Access column's DEFAULT holds. Only plain literals carry
// over (numbers, strings, logicals, dates); an expression FoxPro would
// evaluate (DATE(), a function of the application) is left out with the
// reason the user is told.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "db/ado.h"

namespace tp::convert::keys {

// A field's default as the source keeps it.
struct FieldDefault {
    std::string table, column, expression;
};

// The value of a default expression, of the kind the source gives for the
// field's values; no value and no reason when the default is null.
struct DefaultTranslation {
    std::optional<db::Value> value;
    std::string reason;  // why the default is left out; empty otherwise
};
DefaultTranslation translateDefault(std::string_view expression, const db::FieldInfo& field);

// The line that tells a default was left out.
std::string defaultNote(const FieldDefault& d, const std::string& reason);

}  // namespace tp::convert::keys
