// The Datatype module: ADO data type numbers to the names of ADO's
// DataTypeEnum constants.
#pragma once

#include <cstdint>
#include <string_view>

namespace tp::convert {

// "adBigInt", "adVarChar", ...; the empty text for a number ADO does not
// name (adArray, 8192, and every number carrying it included).
std::string_view dataTypeName(int16_t type);
// The same name in lower case ("advarchar"), as the type rules compare it.
std::string_view lowerDataTypeName(int16_t type);

}  // namespace tp::convert
