// How text and memo values are stored: ASCII text (written straight from its
// bytes) and other text (through UTF-16) must take the same stored forms,
// compressed ("FF FE", one byte a character) exactly when the column allows
// it and the text has 3 to 1024 non-zero Latin-1 characters, else UTF-16LE;
// and both must read back the same through our engine and the readers.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "db/error.h"
#include "db/jet/database.h"
#include "tests/jet/storage_support.h"
#include "tests/support/support.h"

using namespace tp;
using namespace tp::db;
using namespace tp::db::jet;

namespace {

constexpr size_t kPage = 4096;

// Sets the "compressed Unicode" flag of every text and memo column of the
// user tables in FILE, as Access sets it on the tables it creates.
void allowCompression(const std::string& file) {
    std::string d = test::readFile(file);
    ASSERT_EQ(d.size() % kPage, 0u);
    int changed = 0;
    for (size_t pg = 1; pg < d.size() / kPage; ++pg) {
        auto* p = reinterpret_cast<uint8_t*>(d.data() + pg * kPage);
        if (p[0] != 0x02 || p[0x28] != 0x4E) continue;
        const size_t ncols = size_t(p[0x2D] | (p[0x2E] << 8));
        const size_t nreal = size_t(p[0x33] | (p[0x34] << 8));
        const size_t pos = 0x3F + 12 * nreal;
        ASSERT_LE(pos + 25 * ncols, kPage);
        for (size_t i = 0; i < ncols; ++i) {
            uint8_t* c = p + pos + 25 * i;
            if (c[0] == 0x0A || c[0] == 0x0C) {
                c[16] |= 0x01;
                ++changed;
            }
        }
    }
    ASSERT_EQ(changed, 2);
    std::ofstream(file, std::ios::binary | std::ios::trunc).write(d.data(), std::streamsize(d.size()));
}

std::string latin1(const std::string& utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto c = uint8_t(utf8[i]);
        if (c < 0x80) out += char(c);
        else out += char(((c & 0x03) << 6) | (uint8_t(utf8[++i]) & 0x3F));
    }
    return out;
}

std::string utf16(const std::string& utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto c = uint8_t(utf8[i]);
        if (c < 0x80) {
            out += char(c);
            out += '\0';
        } else if ((c & 0xE0) == 0xC0) {
            const unsigned cp = ((c & 0x1Fu) << 6) | (uint8_t(utf8[++i]) & 0x3Fu);
            out += char(cp & 0xFF);
            out += char(cp >> 8);
        } else {  // three-byte sequences only in these tests
            const unsigned cp =
                ((c & 0x0Fu) << 12) | ((uint8_t(utf8[i + 1]) & 0x3Fu) << 6) | (uint8_t(utf8[i + 2]) & 0x3Fu);
            i += 2;
            out += char(cp & 0xFF);
            out += char(cp >> 8);
        }
    }
    return out;
}

// A text of `chars` characters, distinct per (seed, chars), ending with `tail`.
std::string textOf(size_t chars, int seed, const std::string& tail, size_t tailChars) {
    std::string s;
    for (size_t i = 0; i + tailChars < chars; ++i) s += char('a' + (i * 7 + size_t(seed) * 3 + chars) % 26);
    if (chars >= tailChars) s += tail;
    return s;
}

struct Case {
    size_t chars;
    std::string text;
    bool compressed;  // with compression allowed
};

std::vector<Case> cases(int seed, size_t maxChars) {
    const std::string e = "\xC3\xA9";         // é: Latin-1, compressible
    const std::string euro = "\xE2\x82\xAC";  // €: beyond Latin-1
    std::vector<Case> out;
    for (size_t n : {size_t(0), size_t(1), size_t(2), size_t(3), size_t(4), size_t(62), size_t(63), size_t(255),
                     size_t(1024), size_t(1025), size_t(2038), size_t(2039)}) {
        if (n > maxChars) continue;
        const bool comp = n >= 3 && n <= 1024;
        out.push_back({n, textOf(n, seed, "", 0), comp});
        if (n >= 1) {
            out.push_back({n, textOf(n, seed + 1, e, 1), comp});
            out.push_back({n, textOf(n, seed + 2, euro, 1), false});
        }
    }
    return out;
}

bool contains(const std::string& hay, const std::string& needle) { return hay.find(needle) != std::string::npos; }

}  // namespace

TEST(EncodeText, AsciiAndOtherTextTakeTheSameStoredForms) {
    for (bool allowed : {false, true}) {
        SCOPED_TRACE(allowed ? "compression allowed" : "no compression");
        test::TempDir dir;
        const auto file = dir.file("text.mdb");
        {
            auto db = Database::create(file, "");
            ColumnDef n{"N", ColType::Long}, m{"M", ColType::Memo}, t{"T", ColType::Text};
            t.size = 255;
            db->createTable("Texts", {n, m, t});
            db->close();
        }
        if (allowed) allowCompression(file);
        const auto memos = cases(1, 100000), texts = cases(50, 255);
        {
            auto db = Database::open(file, "", false);
            for (size_t i = 0; i < std::max(memos.size(), texts.size()); ++i)
                db->insertRow("Texts", {Value(int64_t(i)), i < memos.size() ? Value(memos[i].text) : Value(),
                                        i < texts.size() ? Value(texts[i].text) : Value()});
            db->close();
        }
        const std::string bytes = test::readFile(file);
        for (const auto* list : {&memos, &texts})
            for (const Case& c : *list) {
                if (c.chars < 3) continue;  // too short to find reliably
                const bool comp = allowed && c.compressed;
                SCOPED_TRACE(std::to_string(c.chars) + " characters: " + c.text.substr(0, 12));
                if (comp) {
                    EXPECT_TRUE(contains(bytes, "\xFF\xFE" + latin1(c.text)));
                } else if (c.chars * 2 <= 4076) {  // longer values are split into pieces
                    EXPECT_TRUE(contains(bytes, utf16(c.text)));
                    if (c.chars >= 62 && c.text.find('\xE2') == std::string::npos) {
                        EXPECT_FALSE(contains(bytes, latin1(c.text)));
                    }
                }
            }
        auto db = Database::open(file, "", true);
        auto cur = db->scan("Texts");
        std::vector<Value> row;
        size_t i = 0;
        while (cur->next(row)) {
            if (i < memos.size()) {
                EXPECT_TRUE(row[1] == Value(memos[i].text)) << "memo " << i;
            } else {
                EXPECT_TRUE(row[1].isNull());
            }
            if (i < texts.size()) {
                EXPECT_TRUE(row[2] == Value(texts[i].text)) << "text " << i;
            } else {
                EXPECT_TRUE(row[2].isNull());
            }
            ++i;
        }
        EXPECT_EQ(i, std::max(memos.size(), texts.size()));
        db->close();
        const std::string diff = test::storage::compareWithReader(file);
        EXPECT_EQ(diff, "");
        if (test::mdbtoolsAvailable()) {
            auto r = test::mdbtoolsDump(file);
            EXPECT_EQ(r.exitCode, 0) << r.err;
        }
    }
}

TEST(EncodeText, TextWithZeroCharactersIsNeverCompressed) {
    test::TempDir dir;
    const auto file = dir.file("zero.mdb");
    {
        auto db = Database::create(file, "");
        ColumnDef n{"N", ColType::Long}, m{"M", ColType::Memo}, t{"T", ColType::Text};
        db->createTable("Texts", {n, m, t});
        db->close();
    }
    allowCompression(file);
    // Short texts, and longer ones with the zero anywhere in or after the
    // first eight bytes.
    std::vector<std::string> texts{std::string("qz") + '\0' + "wvk"};
    for (size_t at : {0, 5, 7, 8, 12, 15, 16, 21}) {
        std::string t = "abcdefghijklmnopqrstuv";
        t[at] = '\0';
        texts.push_back(t);
    }
    {
        auto db = Database::open(file, "", false);
        for (size_t i = 0; i < texts.size(); ++i)
            db->insertRow("Texts", {Value(int64_t(i)), Value(texts[i]), Value(texts[i])});
        db->close();
    }
    const std::string bytes = test::readFile(file);
    auto db = Database::open(file, "", true);
    auto cur = db->scan("Texts");
    std::vector<Value> row;
    for (const std::string& text : texts) {
        EXPECT_FALSE(contains(bytes, std::string("\xFF\xFE") + text));
        EXPECT_TRUE(contains(bytes, utf16(text)));
        ASSERT_TRUE(cur->next(row));
        EXPECT_TRUE(row[1] == Value(text));
        EXPECT_TRUE(row[2] == Value(text));
    }
}

// A damaged definition whose column number lies beyond the table's column
// count: the row is refused, nothing is written outside the null mask.
TEST(EncodeText, ColumnNumberBeyondTheColumnCountIsRefused) {
    test::TempDir dir;
    dir.leaveUnchecked();  // damaged on purpose
    const auto file = dir.file("damaged.mdb");
    {
        auto db = Database::create(file, "");
        ColumnDef n{"N", ColType::Long}, t{"T", ColType::Text};
        db->createTable("Texts", {n, t});
        db->close();
    }
    {
        std::string d = test::readFile(file);
        int changed = 0;
        for (size_t pg = 1; pg < d.size() / kPage; ++pg) {
            auto* p = reinterpret_cast<uint8_t*>(d.data() + pg * kPage);
            if (p[0] != 0x02 || p[0x28] != 0x4E) continue;
            const size_t nreal = size_t(p[0x33] | (p[0x34] << 8));
            uint8_t* c = p + 0x3F + 12 * nreal + 25;  // the second column
            ASSERT_EQ(c[0], 0x0A);
            c[5] = 0xE8;  // number 1000
            c[6] = 0x03;
            ++changed;
        }
        ASSERT_EQ(changed, 1);
        std::ofstream(file, std::ios::binary | std::ios::trunc).write(d.data(), std::streamsize(d.size()));
    }
    auto db = Database::open(file, "", false);
    try {
        db->insertRow("Texts", {Value(int64_t(1)), Value(std::string("abc"))});
        FAIL() << "the row was written";
    } catch (const db::Error& e) {
        EXPECT_STREQ(e.description(), "Column 'T' cannot be written.");
    }
}
