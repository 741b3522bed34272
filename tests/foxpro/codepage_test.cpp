// The code page of tables that do not name theirs, or name a wrong one:
// real sentences in the code pages of FoxPro's users, in tables built byte
// by byte, read by the detector, by a conversion run, and with the user's
// choice.
#include <gtest/gtest.h>
#include <iconv.h>

#include <filesystem>
#include <fstream>

#include "db/foxpro/dbf.h"
#include "tests/foxpro/dbf_builder.h"
#include "tests/support/support.h"

namespace fs = std::filesystem;
using namespace tp;
using namespace tp::test;
using db::foxpro::CodePageUse;

namespace {

struct Case {
    const char* name;
    int codePage;
    std::vector<std::string> sentences;  // UTF-8
    // What detection picks for the table without a mark; 0 when it finds
    // nothing it trusts (the table is then read as 1252).
    int detected;
};

const std::vector<std::string> kRussian = {"Съешь же ещё этих мягких французских булок, да выпей чаю.",
                                           "Поставщик доставил товар в Новосибирск в пятницу.",
                                           "Иванов Пётр Сергеевич, улица Ленина, дом 5"};
const std::vector<std::string> kPolishCzech = {"Zażółć gęślą jaźń. Pchnąć w tę łódź jeża lub ośm skrzyń fig.",
                                               "Příliš žluťoučký kůň úpěl ďábelské ódy.",
                                               "Łódź, ulica Piotrkowska 104, Śląsk, Dvořák"};
const std::vector<std::string> kGermanFrench = {"Falsches Üben von Xylophonmusik quält jeden größeren Zwerg.",
                                                "Où est la forêt près du château ? L'été à Noël, déjà.",
                                                "Müller GmbH, Königstraße 12, München, Café Crème"};
const std::vector<std::string> kGreek = {"Ξεσκεπάζω την ψυχοφθόρα βδελυγμία.",
                                         "Γειά σου κόσμε! Ο πελάτης μένει στην Αθήνα.",
                                         "Παπαδόπουλος Γιώργος, οδός Ερμού 5, Θεσσαλονίκη"};
const std::vector<std::string> kTurkish = {"Pijamalı hasta yağız şoföre çabucak güvendi.",
                                           "Müşteri İstanbul'da oturuyor, sipariş gönderildi.",
                                           "Öztürk Ağaç Işıklar Şirketi, Çankaya, Üsküdar"};
const std::vector<std::string> kHebrew = {"דג סקרן שט בים מאוכזב ולפתע מצא חברה.", "שלום עולם! הלקוח גר בירושלים.",
                                          "כהן משה, רחוב הרצל 5, תל אביב"};
const std::vector<std::string> kJapanese = {
    "いろはにほへと ちりぬるを。", "東京都の顧客台帳です。注文は発送されました。", "山田太郎、大阪府大阪市北区"};
const std::vector<std::string> kChinese = {"我能吞下玻璃而不伤身体。", "北京市的客户名单。订单已经发货了。",
                                           "张伟，上海市浦东新区世纪大道"};

const Case kCases[] = {
    {"ru866", 866, kRussian, 866},     {"ru1251", 1251, kRussian, 1251},
    {"pl852", 852, kPolishCzech, 852}, {"pl1250", 1250, kPolishCzech, 1250},
    {"de850", 850, kGermanFrench, 0},  {"de1252", 1252, kGermanFrench, 1252},
    {"el737", 737, kGreek, 0},         {"el1253", 1253, kGreek, 1253},
    {"tr857", 857, kTurkish, 0},       {"tr1254", 1254, kTurkish, 1254},
    {"he862", 862, kHebrew, 0},        {"he1255", 1255, kHebrew, 1255},
    {"ja932", 932, kJapanese, 932},    {"zh936", 936, kChinese, 936},
};

std::string encode(const std::string& utf8, int codePage) {
    const std::string name = "CP" + std::to_string(codePage);
    iconv_t cd = iconv_open(name.c_str(), "UTF-8");
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1)) << name;
    std::string out(utf8.size() * 2 + 8, '\0');
    char* in = const_cast<char*>(utf8.data());
    char* op = out.data();
    size_t il = utf8.size(), ol = out.size();
    EXPECT_NE(iconv(cd, &in, &il, &op, &ol), static_cast<size_t>(-1)) << utf8 << " in " << name;
    out.resize(static_cast<size_t>(op - out.data()));
    iconv_close(cd);
    return out;
}

// A mark (byte 29) whose code page does not define some of the text's bytes.
uint8_t wrongMarkFor(const std::vector<std::string>& bytes, int codePage) {
    for (uint8_t mark : {0x03, 0xCB, 0x7D, 0x7C, 0x7B}) {
        const int cp = db::foxpro::codePageOfDriver(mark);
        if (cp == codePage) continue;
        db::foxpro::TextDecoder d(cp);
        db::foxpro::TextDecoder::Fit fit;
        for (const auto& b : bytes) d.fit(reinterpret_cast<const uint8_t*>(b.data()), b.size(), fit);
        if (fit.invalid > 0) return mark;
    }
    ADD_FAILURE() << "no wrong mark for code page " << codePage;
    return 0;
}

constexpr uint8_t kWidth = 160;

// Writes name.dbf and name.fpt: each record holds one sentence in a
// character field and the next one in a memo.
void writeTable(const fs::path& folder, const std::string& name, uint8_t mark, const std::vector<std::string>& text) {
    FptBuilder fpt;
    DbfBuilder b;
    b.codePage = mark;
    b.fields = {{"TEXT", 'C', kWidth}, {"NOTES", 'M', 4}};
    for (size_t i = 0; i < text.size(); ++i) {
        std::string t = text[i];
        t.resize(kWidth, ' ');
        b.records.push_back(" " + t + le32(fpt.add(text[(i + 1) % text.size()])));
    }
    std::ofstream(folder / (name + ".dbf"), std::ios::binary) << b.build();
    std::ofstream(folder / (name + ".fpt"), std::ios::binary) << fpt.build();
}

CodePageUse readUse(const fs::path& file, const db::foxpro::ReadOptions& options = {}) {
    return db::foxpro::DbfTable::open(file.string(), options)->codePageUse();
}

// The statement of the table's first row as a run writes it.
std::string firstRowStatement(const std::string& script, const std::string& table) {
    const std::string head = "INSERT INTO [" + table + "] VALUES(";
    const size_t at = script.find(head);
    if (at == std::string::npos) return {};
    return script.substr(at, script.find('\n', at) - at);
}

std::string quoted(const std::string& s) {
    std::string q;
    for (char c : s) q += c == '\'' ? std::string("''") : std::string(1, c);
    return "'" + q + "'";
}

}  // namespace

// For each language and code page: a table without a mark, one whose mark
// names a code page that does not define some of its bytes, and one whose
// valid mark (437) is wrong all the same. What detection picks, what the
// run writes and says, and that --codepage and --force-codepage overrule
// them.
TEST(FoxproCodePageDetection, RealSentencesWithoutAMarkOrWithAWrongOne) {
    const bool haveExe = fs::exists(tallyportExe());
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::vector<std::string> bytes;
        for (const auto& s : c.sentences) bytes.push_back(encode(s, c.codePage));
        const uint8_t wrong = wrongMarkFor(bytes, c.codePage);
        const std::string none = std::string(c.name) + "_none", bad = std::string(c.name) + "_wrong",
                          dos = std::string(c.name) + "_dos";
        writeTable(dir.path(), none, 0, bytes);
        writeTable(dir.path(), bad, wrong, bytes);
        writeTable(dir.path(), dos, 0x01, bytes);

        // The detector.
        const CodePageUse noMark = readUse(dir.path() / (none + ".dbf"));
        EXPECT_EQ(noMark.used, c.detected ? c.detected : 1252);
        EXPECT_EQ(noMark.from, c.detected ? CodePageUse::From::Detected : CodePageUse::From::Default);
        const CodePageUse badMark = readUse(dir.path() / (bad + ".dbf"));
        EXPECT_TRUE(badMark.markInvalid);
        const bool found = c.detected && c.detected != db::foxpro::codePageOfDriver(wrong);
        EXPECT_EQ(badMark.used, found ? c.detected : db::foxpro::codePageOfDriver(wrong));
        EXPECT_EQ(readUse(dir.path() / (dos + ".dbf")).from, CodePageUse::From::Mark);
        // The user's choice, and the choice forced on every table.
        db::foxpro::ReadOptions chosen, forced;
        chosen.codePage = forced.codePage = c.codePage;
        forced.forceCodePage = true;
        EXPECT_EQ(readUse(dir.path() / (none + ".dbf"), chosen).used, c.codePage);
        EXPECT_EQ(readUse(dir.path() / (bad + ".dbf"), chosen).used, c.codePage);
        EXPECT_EQ(readUse(dir.path() / (dos + ".dbf"), chosen).used, 437);
        EXPECT_EQ(readUse(dir.path() / (dos + ".dbf"), forced).from, CodePageUse::From::Forced);

        if (!haveExe) continue;
        // What a run writes: the sentences where the code page was right,
        // in the character field (its trailing blanks trimmed) and the memo;
        // what it says on stderr.
        const std::string row = "VALUES(" + quoted(c.sentences[0]) + ", " + quoted(c.sentences[1]) + ")";
        auto run = [&](std::vector<std::string> extra) {
            const std::string script = dir.file("s.sql"), target = dir.file("t.mdb");
            fs::remove(target);
            std::vector<std::string> argv = {tallyportExe(),      "convert",  "--folder",
                                             dir.path().string(), "--target", target,
                                             "--create",          "--script", script};
            argv.insert(argv.end(), extra.begin(), extra.end());
            const CommandResult r = runCommand(argv);
            EXPECT_EQ(r.exitCode, 0) << r.err;
            std::ifstream in(script, std::ios::binary);
            std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            return std::make_pair(text, r.err);
        };
        auto [script, err] = run({});
        EXPECT_EQ(firstRowStatement(script, none).ends_with(row), c.detected == c.codePage);
        EXPECT_EQ(firstRowStatement(script, bad).ends_with(row), found);
        EXPECT_NE(err.find(none + ": no code page mark; read as " +
                           db::foxpro::codePageLabel(c.detected ? c.detected : 1252) + ", " +
                           (c.detected ? "detected" : "the default")),
                  std::string::npos)
            << err;
        EXPECT_NE(err.find(bad + ": marked " + db::foxpro::codePageLabel(db::foxpro::codePageOfDriver(wrong)) +
                           " but its text is not valid there; read as "),
                  std::string::npos)
            << err;
        EXPECT_EQ(err.find(dos + ":"), std::string::npos) << "a valid mark is not told";

        std::tie(script, err) = run({"--codepage", std::to_string(c.codePage)});
        EXPECT_TRUE(firstRowStatement(script, none).ends_with(row)) << firstRowStatement(script, none);
        EXPECT_TRUE(firstRowStatement(script, bad).ends_with(row)) << firstRowStatement(script, bad);
        const db::foxpro::TextDecoder dos437(437);
        const bool sameIn437 = dos437.decode(bytes[0]) == c.sentences[0] && dos437.decode(bytes[1]) == c.sentences[1];
        EXPECT_EQ(firstRowStatement(script, dos).ends_with(row), sameIn437) << "a valid mark is kept";
        EXPECT_NE(
            err.find(none + ": no code page mark; read as " + db::foxpro::codePageLabel(c.codePage) + ", as chosen"),
            std::string::npos)
            << err;

        std::tie(script, err) = run({"--codepage", std::to_string(c.codePage), "--force-codepage"});
        for (const std::string& t : {none, bad, dos})
            EXPECT_TRUE(firstRowStatement(script, t).ends_with(row)) << t << ": " << firstRowStatement(script, t);
        EXPECT_NE(err.find(dos + ": marked 437 (US DOS); read as " + db::foxpro::codePageLabel(c.codePage) +
                           ", as chosen for every table"),
                  std::string::npos)
            << err;
    }
}
