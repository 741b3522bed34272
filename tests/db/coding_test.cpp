// The coding toolkit: its rule for malformed UTF-8 and lone surrogates, the
// GUID text form, and the integer helpers' byte order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/coding/endian.h"
#include "db/coding/guid.h"
#include "db/coding/header_mask.h"
#include "db/coding/utf.h"

namespace tp::db::coding {
namespace {

TEST(CodingUtf, OneReplacementPerByteThatStartsNoSequence) {
    struct Case {
        std::string in;
        std::u16string out;
    } cases[] = {
        {"a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", u"a\u00E9\u20AC\U0001F600"},
        {"\xC0\x80", u"\uFFFD\uFFFD"},                      // overlong
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // a surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // past U+10FFFF
        {"\xE2\x82"
         "A",
         u"\uFFFD\uFFFDA"},  // cut short
        {"\xFF"
         "b\x80",
         u"\uFFFDb\uFFFD"},
    };
    for (const auto& c : cases) EXPECT_EQ(utf8ToUtf16(c.in), c.out) << c.in;
    EXPECT_EQ(utf16ToUtf8(u"x\xD800y\xDC00"), "x\xEF\xBF\xBDy\xEF\xBF\xBD");
    EXPECT_EQ(utf16ToUtf8(utf8ToUtf16(cases[0].in)), cases[0].in);
    std::vector<uint8_t> le;
    putUtf16LE(le, u"A\u20AC");
    EXPECT_EQ(le, (std::vector<uint8_t>{0x41, 0x00, 0xAC, 0x20}));
}

TEST(CodingGuid, TextFormRoundTripsAndRefusesOtherShapes) {
    const uint8_t stored[16] = {0xFF, 0x19, 0x96, 0x6F, 0x86, 0x8B, 0x11, 0xD0,
                                0xB4, 0x2D, 0x00, 0xC0, 0x4F, 0xC9, 0x64, 0xFF};
    EXPECT_EQ(guidText(stored), "{6F9619FF-8B86-D011-B42D-00C04FC964FF}");
    uint8_t back[16] = {};
    ASSERT_TRUE(parseGuid("6f9619ff-8b86-d011-b42d-00c04fc964ff", back));
    EXPECT_EQ(std::vector<uint8_t>(back, back + 16), std::vector<uint8_t>(stored, stored + 16));
    for (const char* bad : {"{6F9619FF8B86D011B42D00C04FC964FF}", "{6F9619FF-8B86-D011-B42D-00C04FC964F}",
                            " {6F9619FF-8B86-D011-B42D-00C04FC964FF}", "{6F9619FF-8B86-D011-B42D-00C04FC964FG}"})
        EXPECT_FALSE(parseGuid(bad, back)) << bad;
}

TEST(CodingEndian, DecodeEncodeAndPutAgree) {
    uint8_t b[8] = {};
    encodeLE32(b, 0x11223344);
    encodeBE24(b + 4, 0xAABBCC);
    EXPECT_EQ(decodeLE16(b), 0x3344);
    EXPECT_EQ(decodeLE32(b), 0x11223344u);
    EXPECT_EQ(decodeBE24(b + 4), 0xAABBCCu);
    std::vector<uint8_t> v;
    putLE16(v, 0x1234);
    putLE32(v, 0xA1B2C3D4);
    putBE32(v, 0x01020304);
    EXPECT_EQ(v, (std::vector<uint8_t>{0x34, 0x12, 0xD4, 0xC3, 0xB2, 0xA1, 1, 2, 3, 4}));
}

TEST(CodingHeaderMask, Jet3MasksTwoBytesLessAndTheDateMaskIsTheDatesInteger) {
    std::vector<uint8_t> jet3(kHeaderMaskStart + kHeaderMaskMax, 0), jet4 = jet3;
    applyHeaderMask(jet3.data(), 0);
    applyHeaderMask(jet4.data(), 1);
    EXPECT_EQ(jet3[kHeaderMaskStart + 126], 0);
    EXPECT_TRUE(std::equal(jet3.begin(), jet3.end() - 2, jet4.begin()));
    EXPECT_NE(jet4[kHeaderMaskStart + 126] | jet4[kHeaderMaskStart + 127], 0);
    EXPECT_EQ(passwordMask(45678.75), (std::array<uint8_t, 4>{0x6E, 0xB2, 0, 0}));
    EXPECT_EQ(passwordMask(1e300), (std::array<uint8_t, 4>{0, 0, 0, 0}));
}

}  // namespace
}  // namespace tp::db::coding
