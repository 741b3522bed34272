// Access 97 (Jet 3) files: every table, column and value as the independent
// reader sees them (2048-byte pages, one-byte row offsets with jump tables,
// text in the file's code page, long values). Writing: jet3_write_test.cpp.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>

#include "db/error.h"
#include "db/jet/database.h"
#include "db/jet/tables/stored_table.h"
#include "tests/jet/storage_support.h"
#include "tests/support/support.h"

using namespace tp;
using namespace tp::db::jet;
namespace fs = std::filesystem;

namespace {

const char* const kJet3Files[] = {
    "access/jackcess-V1997/delTestV1997.mdb",
    "access/jackcess-V1997/overflowTestV1997.mdb",
    "access/jackcess-V1997/testIndexCodesV1997.mdb",
    "access/jackcess-V1997/testV1997.mdb",
    "access/mdbtestdata/nwind.mdb",
    "access/ucanaccess/charsetGBK.mdb",
    "access/ucanaccess/size97.mdb",
};

// Dates before 30 December 1899 are stored as a negative day count plus a
// positive time of day; the independent reader takes the stored number
// linearly and shows such a date a day early with the complementary time.
// Those lines (where both sides agree on the instant the OLE way) are dropped.
std::string withoutEarlyDates(const std::string& diff) {
    std::string out, line;
    std::istringstream in(diff);
    while (std::getline(in, line)) {
        const size_t a = line.find(": \"1899-"), b = line.find(" vs \"1899-");
        if (a != std::string::npos && b != std::string::npos) {
            const std::string ours = line.substr(a + 3, 23), theirs = line.substr(b + 5, 23);
            auto secs = [](const std::string& v) {
                return std::stoi(v.substr(11, 2)) * 3600 + std::stoi(v.substr(14, 2)) * 60 + std::stoi(v.substr(17, 2));
            };
            // Same whole days before the epoch, times mirrored within the day.
            if (secs(ours) + secs(theirs) == 86400 && ours > theirs) continue;
        }
        out += line + "\n";
    }
    return out;
}

class Jet3Corpus : public ::testing::TestWithParam<const char*> {};

TEST_P(Jet3Corpus, ReadsLikeTheIndependentReader) {
    const auto file = test::corpusPath(GetParam()).string();
    if (!fs::exists(file)) GTEST_SKIP() << "corpus file missing";
    auto db = Database::open(file, "", true);
    EXPECT_EQ(db->format(), FileFormat::Jet3);
    EXPECT_FALSE(db->listTables().empty());
    const std::string diff = test::storage::compareWithReader(file);
    if (!test::mdbReaderAvailable()) GTEST_SKIP() << "mdb-reader is not installed";
    EXPECT_EQ(withoutEarlyDates(diff), "") << file;
}

INSTANTIATE_TEST_SUITE_P(Files, Jet3Corpus, ::testing::ValuesIn(kJet3Files));

// Text is decoded from the code page named in the header. (charsetGBK.mdb
// holds GBK bytes under a header saying 1252, so it reads as 1252 text, as
// in the independent reader.)
TEST(Jet3Text, CodePagesDecodeThroughIconv) {
    const std::string gbk = "GBK\xB1\xE0\xC2\xEB";
    const auto* b = reinterpret_cast<const uint8_t*>(gbk.data());
    EXPECT_EQ(decodeNarrowText(b, gbk.size(), 936), "GBK\u7F16\u7801");
    EXPECT_EQ(decodeNarrowText(b, gbk.size(), 1252), "GBK\u00B1\u00E0\u00C2\u00EB");
    EXPECT_EQ(decodeNarrowText(b, gbk.size(), 0), "GBK\u00B1\u00E0\u00C2\u00EB");  // no code page: 1252
    // Bytes the code page does not map, and a cut-off double-byte character.
    const uint8_t odd[] = {'a', 0x81, 'b'};
    EXPECT_EQ(decodeNarrowText(odd, 3, 1252), "a\uFFFDb");
    EXPECT_EQ(decodeNarrowText(b, 4, 936), "GBK\uFFFD");
    EXPECT_EQ(decodeNarrowText(b, 0, 936), "");
}

}  // namespace
