#include "convert/datatype.h"

namespace tp::convert {
namespace {

struct Names {
    std::string_view name, lower;
};

// Every DataTypeEnum member but adArray, in the alphabetical order of ADO's
// documentation. A switch keeps the per-field, per-row call cheap.
Names lookup(int16_t type) {
    switch (type) {
    case 20: return {"adBigInt", "adbigint"};
    case 128: return {"adBinary", "adbinary"};
    case 11: return {"adBoolean", "adboolean"};
    case 8: return {"adBSTR", "adbstr"};
    case 136: return {"adChapter", "adchapter"};
    case 129: return {"adChar", "adchar"};
    case 6: return {"adCurrency", "adcurrency"};
    case 7: return {"adDate", "addate"};
    case 133: return {"adDBDate", "addbdate"};
    case 134: return {"adDBTime", "addbtime"};
    case 135: return {"adDBTimeStamp", "addbtimestamp"};
    case 14: return {"adDecimal", "addecimal"};
    case 5: return {"adDouble", "addouble"};
    case 0: return {"adEmpty", "adempty"};
    case 10: return {"adError", "aderror"};
    case 64: return {"adFileTime", "adfiletime"};
    case 72: return {"adGUID", "adguid"};
    case 9: return {"adIDispatch", "adidispatch"};
    case 3: return {"adInteger", "adinteger"};
    case 13: return {"adIUnknown", "adiunknown"};
    case 205: return {"adLongVarBinary", "adlongvarbinary"};
    case 201: return {"adLongVarChar", "adlongvarchar"};
    case 203: return {"adLongVarWChar", "adlongvarwchar"};
    case 131: return {"adNumeric", "adnumeric"};
    case 138: return {"adPropVariant", "adpropvariant"};
    case 4: return {"adSingle", "adsingle"};
    case 2: return {"adSmallInt", "adsmallint"};
    case 16: return {"adTinyInt", "adtinyint"};
    case 21: return {"adUnsignedBigInt", "adunsignedbigint"};
    case 19: return {"adUnsignedInt", "adunsignedint"};
    case 18: return {"adUnsignedSmallInt", "adunsignedsmallint"};
    case 17: return {"adUnsignedTinyInt", "adunsignedtinyint"};
    case 132: return {"adUserDefined", "aduserdefined"};
    case 204: return {"adVarBinary", "advarbinary"};
    case 200: return {"adVarChar", "advarchar"};
    case 12: return {"adVariant", "advariant"};
    case 139: return {"adVarNumeric", "advarnumeric"};
    case 202: return {"adVarWChar", "advarwchar"};
    case 130: return {"adWChar", "adwchar"};
    default: return {};
    }
}

}  // namespace

std::string_view dataTypeName(int16_t type) { return lookup(type).name; }
std::string_view lowerDataTypeName(int16_t type) { return lookup(type).lower; }

}  // namespace tp::convert
