// What the independent reader cannot check (PROVENANCE lists its gaps):
// Blob W, binary memos and Varbinary, VFP Double B, and records whose
// deletion byte is 0x00. These are checked against the raw bytes, found here
// through the field displacements stored in the header (the reader computes
// offsets from the field lengths instead) and the FPT block headers.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "db/ado.h"
#include "tests/support/support.h"

using namespace tp;

namespace {

uint32_t le32(const std::string& s, size_t o) {
    return uint32_t(uint8_t(s[o])) | uint32_t(uint8_t(s[o + 1])) << 8 | uint32_t(uint8_t(s[o + 2])) << 16 |
           uint32_t(uint8_t(s[o + 3])) << 24;
}
uint32_t be32(const std::string& s, size_t o) {
    return uint32_t(uint8_t(s[o])) << 24 | uint32_t(uint8_t(s[o + 1])) << 16 | uint32_t(uint8_t(s[o + 2])) << 8 |
           uint32_t(uint8_t(s[o + 3]));
}

struct RawField {
    char type;
    uint32_t displacement, length;
};

}  // namespace

TEST(FoxproOracleGaps, BlobBinaryMemoVarbinaryAndDoubleMatchTheRawBytes) {
    db::registerBuiltinProviders();
    const std::string dir = test::corpusPath("foxpro/php-xbase").string();
    const std::string dbf = test::readFile(dir + "/vfp.dbf"), fpt = test::readFile(dir + "/vfp.fpt");
    ASSERT_GT(dbf.size(), 32u);
    const uint32_t count = le32(dbf, 4), hdr = uint16_t(uint8_t(dbf[8]) | uint8_t(dbf[9]) << 8),
                   rec = uint16_t(uint8_t(dbf[10]) | uint8_t(dbf[11]) << 8);
    const uint32_t block = uint16_t(uint8_t(fpt[6]) << 8 | uint8_t(fpt[7]));
    std::map<std::string, RawField> raw;
    for (size_t p = 32; dbf[p] != '\x0D'; p += 32)
        raw[std::string(dbf.c_str() + p)] = {dbf[p + 11], le32(dbf, p + 12), uint8_t(dbf[p + 16])};

    db::Connection c;
    c.Open("Provider=vfpoledb.1;Data Source=" + dir + ";Collating Sequence=general;");
    db::Recordset rs;
    rs.Open("SELECT * FROM `vfp`", c);
    int checked = 0;
    for (uint32_t r = 0; r < count && !rs.atEnd(); ++r, rs.MoveNext()) {
        const size_t base = hdr + size_t(r) * rec;
        ASSERT_NE(dbf[base], '*');
        for (const char* name : {"GENERAL", "BLOB", "BIO_BIN", "DOUBLE"}) {
            const RawField& f = raw.at(name);
            const db::Value& v = rs.Fields(name).value();
            if (v.isNull()) continue;  // checked through the null bits by the corpus test
            if (f.type == 'B') {
                double d;
                std::memcpy(&d, dbf.data() + base + f.displacement, 8);
                EXPECT_EQ(v, db::Value(d)) << name;
            } else {
                const uint32_t b = le32(dbf, base + f.displacement);
                std::string bytes;
                if (b) bytes = fpt.substr(size_t(b) * block + 8, be32(fpt, size_t(b) * block + 4));
                ASSERT_EQ(v.kind(), db::Kind::Binary) << name;
                EXPECT_EQ(std::string(v.bytes().begin(), v.bytes().end()), bytes) << name << " row " << r;
            }
            ++checked;
        }
    }
    EXPECT_GE(checked, 8);
}

TEST(FoxproOracleGaps, ADeletionByteOfZeroIsALiveRecord) {
    db::registerBuiltinProviders();
    const std::string dir = test::corpusPath("foxpro/infused-dbf").string();
    const std::string dbf = test::readFile(dir + "/mazovia.dbf");
    const uint32_t hdr = uint16_t(uint8_t(dbf[8]) | uint8_t(dbf[9]) << 8);
    ASSERT_EQ(dbf[hdr], '\0');
    db::Connection c;
    c.Open("Provider=vfpoledb.1;Data Source=" + dir + ";Collating Sequence=general;");
    db::Recordset rs;
    rs.Open("SELECT * FROM `mazovia`", c);
    std::vector<std::string> a2;
    for (; !rs.atEnd(); rs.MoveNext()) a2.push_back(rs.Fields("A2").value().text());
    ASSERT_EQ(a2.size(), 2u);
    EXPECT_EQ(a2[0].substr(0, 7), "English");
    // Code page 620 (Mazovia): 0x98 is "Ś", 0x9E is "ś"; the rest as in 437.
    EXPECT_EQ(a2[1], "\xC5\x9A\xE2\x95\xAB\xC3\xAA\xC3\xAB\xCF\x84\xE2\x8C\xA1\xC5\x9B");
}
