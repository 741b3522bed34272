#include <gtest/gtest.h>

#include <set>
#include <string>

#include "convert/datatype.h"
#include "host/utilities.h"

using tp::convert::dataTypeName;
using tp::convert::lowerDataTypeName;

TEST(dataTypeName, NamesEveryPublishedTypeButArray) {
    std::set<std::string> names;
    for (int t = -32768; t <= 32767; ++t) {
        auto name = dataTypeName(static_cast<int16_t>(t));
        if (name.empty()) continue;
        EXPECT_TRUE(names.insert(std::string(name)).second) << name;
        EXPECT_EQ(lowerDataTypeName(static_cast<int16_t>(t)), tp::asciiLower(std::string(name)));
    }
    EXPECT_EQ(names.size(), 39u);
    EXPECT_EQ(*names.begin(), "adBSTR");  // byte order: capitals first
    EXPECT_TRUE(names.count("adBigInt"));
    EXPECT_TRUE(names.count("adWChar"));
}

TEST(dataTypeName, KnownNumbers) {
    EXPECT_EQ(dataTypeName(200), "adVarChar");
    EXPECT_EQ(lowerDataTypeName(200), "advarchar");
    EXPECT_EQ(dataTypeName(205), "adLongVarBinary");
    EXPECT_EQ(dataTypeName(135), "adDBTimeStamp");
    EXPECT_EQ(dataTypeName(20), "adBigInt");
    EXPECT_EQ(dataTypeName(0), "adEmpty");
    EXPECT_EQ(dataTypeName(139), "adVarNumeric");
}

TEST(dataTypeName, UnlistedNumbersGiveEmptyText) {
    for (int t : {1, 15, 8192, 8202, -1, -32768, 206, 32767}) EXPECT_EQ(dataTypeName(static_cast<int16_t>(t)), "") << t;
}
