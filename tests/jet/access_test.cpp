#include "convert/target.h"

#include <gtest/gtest.h>

#include "db/ado.h"
#include "db/jet_provider.h"
#include "convert/selection.h"
#include "provider_fake.h"
#include "tests/support/support.h"
#include "host/app_title.h"
#include "host/shell.h"

using namespace tp;
using namespace tp::db;

namespace {

// Puts a fake Access engine behind the Jet provider name for one test.
class ScopedFakeJet {
public:
    explicit ScopedFakeJet(std::vector<tp::test::FakeDatabase::Table> tables) {
        registerBuiltinProviders();
        auto& reg = ProviderRegistry::instance();
        if (const auto* f = reg.find(jet::kJetProviderName)) saved_ = *f;
        reg.add(jet::kJetProviderName, [this, tables](const ConnectionString& cs, const ConnectionOptions& o) {
            lastConnectionString = cs;
            return jet::openJetConnection(cs, o, [tables](const std::string&, const std::string&, bool) {
                auto db = std::make_unique<tp::test::FakeDatabase>();
                db->tables = tables;
                return std::unique_ptr<jet::Database>(std::move(db));
            });
        });
    }
    ~ScopedFakeJet() {
        auto& reg = ProviderRegistry::instance();
        reg.remove(jet::kJetProviderName);
        if (saved_) reg.add(jet::kJetProviderName, saved_);
    }
    ConnectionString lastConnectionString;

private:
    ProviderFactory saved_;
};

}  // namespace

TEST(AccessConnectionString, ProviderFollowsTheEnding) {
    using convert::target::connectionString;
    EXPECT_EQ(connectionString("C:/data/x.mdb", "pw"),
              "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=C:/data/x.mdb;JET OLEDB:Database Password=pw");
    EXPECT_EQ(connectionString("/d/x.ACCDB", ""),
              "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=/d/x.ACCDB;JET OLEDB:Database Password=");
    EXPECT_EQ(connectionString("/d/xaccdb", "").rfind("Provider=Microsoft.ACE", 0), 0u);
    EXPECT_EQ(connectionString("cdb", "").rfind("PROVIDER=Microsoft.Jet", 0), 0u);
    EXPECT_EQ(connectionString("/d/x.MDB", "").rfind("PROVIDER=Microsoft.Jet", 0), 0u);
}

TEST(AccessConnectionString, OpenTakesThePathAndPasswordItIsGiven) {
    ScopedFakeJet fake({{"a", jet::TableKind::User, {}, {}}});
    Connection conn;
    convert::target::open(conn, TargetChoice{"/tmp/target.mdb", "secret"});
    EXPECT_EQ(conn.connectionString(),
              "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=/tmp/target.mdb;JET OLEDB:Database Password=secret");
    EXPECT_EQ(fake.lastConnectionString.get("JET OLEDB:Database Password"), "secret");
    conn.Close();
}

TEST(AccessConnectionString, ValuesCannotInjectKeys) {
    const std::string s = convert::target::connectionString("/tmp/a;Provider=evil.mdb", "x;Data Source=/etc/y\"'");
    auto cs = ConnectionString::parse(s);
    EXPECT_EQ(cs.get("Provider"), "Microsoft.Jet.OLEDB.4.0");
    EXPECT_EQ(cs.get("Data Source"), "/tmp/a;Provider=evil.mdb");
    EXPECT_EQ(cs.get("JET OLEDB:Database Password"), "x;Data Source=/etc/y\"'");
}

TEST(AccessTables, MissingFileGivesNothingAndTheMessage) {
    test::ScopedBoxes boxes;
    test::TempDir dir;
    EXPECT_FALSE(convert::target::tableNames(dir.file("none.mdb")).has_value());
    VectorListBox list;
    list.addItem("stale");
    convert::target::listTables(list, dir.file("none.mdb"));
    EXPECT_TRUE(list.items.empty());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Unable to access the database");
    EXPECT_EQ(boxes.shown[0].style, mb::OkOnly);
}

TEST(AccessTables, ListsUserTablesOnlyInRowsetOrder) {
    test::ScopedBoxes boxes;
    test::TempDir dir;
    const std::string file = dir.file("x.mdb");
    test::writeFile(file, "exists");
    using K = jet::TableKind;
    ScopedFakeJet fake({{"b", K::User, {}, {}},
                        {"MSysObjects", K::System, {}, {}},
                        {"a", K::User, {}, {}},
                        {"q", K::Query, {}, {}},
                        {"l", K::Linked, {}, {}}});
    VectorListBox list;
    convert::target::listTables(list, file, "pw;1");
    EXPECT_EQ(list.items, (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_EQ(fake.lastConnectionString.get("JET OLEDB:Database Password"), "pw;1");
}

TEST(AccessTables, OnlySystemTablesGiveAnEmptyList) {
    test::ScopedBoxes boxes;
    test::TempDir dir;
    const std::string file = dir.file("x.mdb");
    test::writeFile(file, "exists");
    ScopedFakeJet fake({{"MSysObjects", jet::TableKind::System, {}, {}}});
    auto tables = convert::target::tableNames(file);
    ASSERT_TRUE(tables.has_value());
    EXPECT_TRUE(tables->empty());
    EXPECT_TRUE(boxes.shown.empty());
}

namespace {
struct ScopedUrls {
    std::vector<std::string> opened;
    ScopedUrls() {
        setUrlOpener([this](const std::string& u) {
            opened.push_back(u);
            return true;
        });
    }
    ~ScopedUrls() { setUrlOpener(nullptr); }
};
struct ScopedCreationFailure {
    explicit ScopedCreationFailure(const Error& e) { setObjectCreationFailure(&e); }
    ~ScopedCreationFailure() { setObjectCreationFailure(nullptr); }
};
}  // namespace

TEST(ProviderInstalled, PresentLayerAsksNothing) {
    test::ScopedBoxes boxes;
    EXPECT_TRUE(convert::target::providerInstalled());
    EXPECT_TRUE(boxes.shown.empty());
}

TEST(ProviderInstalled, MissingProviderExplainsAndOpensBothPagesOnYes) {
    test::ScopedBoxes boxes(mb::Yes);
    ScopedUrls urls;
    ScopedCreationFailure fail(Error(Error::kProviderNotFound, "Provider cannot be found."));
    EXPECT_FALSE(convert::target::providerInstalled());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].style, mb::YesNo);
    const std::string& t = boxes.shown[0].text;
    EXPECT_EQ(t.rfind("Error #3706: Provider cannot be found. It may not be properly installed.\r\n\r\n"
                      "You are getting this error because:\r\n\r\n",
                      0),
              0u);
    EXPECT_NE(t.find("\r\n\r\nWould you like me to open the Microsoft site now so you can do this?\r\n\r\n"),
              std::string::npos);
    EXPECT_EQ(t.substr(t.size() - std::string(kSupportEmail).size() - 1), std::string(kSupportEmail) + ")");
    size_t paragraphs = 1;
    for (size_t p = t.find("\r\n\r\n"); p != std::string::npos; p = t.find("\r\n\r\n", p + 4)) ++paragraphs;
    EXPECT_EQ(paragraphs, 7u);
    ASSERT_EQ(urls.opened.size(), 2u);
    EXPECT_NE(urls.opened[0].find("/en-us/download/details.aspx?id=13255"), std::string::npos);
    EXPECT_NE(urls.opened[1].find("/en-us/download/details.aspx?id=54920"), std::string::npos);
}

TEST(ProviderInstalled, AnswerNoOrOtherFailuresOpenNothing) {
    ScopedUrls urls;
    {
        test::ScopedBoxes boxes(mb::No);
        ScopedCreationFailure fail(Error(12, "The PROVIDER CANNOT BE FOUND here"));
        EXPECT_FALSE(convert::target::providerInstalled());
        EXPECT_EQ(boxes.shown.size(), 1u);
    }
    {
        test::ScopedBoxes boxes(mb::Yes);
        ScopedCreationFailure fail(Error(Error::kCannotCreateObject, "ActiveX component can't create object"));
        EXPECT_FALSE(convert::target::providerInstalled());
        EXPECT_TRUE(boxes.shown.empty());
    }
    EXPECT_TRUE(urls.opened.empty());
}
