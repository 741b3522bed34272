#include "db/jet_provider.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "provider_fake.h"

using namespace tp::db;
using namespace tp::db::jet;
using tp::test::FakeDatabase;

namespace {

struct Fixture {
    FakeDatabase* db;
    JetConnection conn;
    Fixture() : Fixture(std::make_unique<FakeDatabase>()) {}
    explicit Fixture(std::unique_ptr<FakeDatabase> fake) : db(fake.get()), conn(std::move(fake)) {}
    void run(std::string_view sql) { conn.execute(sql, nullptr); }
};

Error errorOf(Fixture& f, std::string_view sql) {
    try {
        f.run(sql);
    } catch (const Error& e) {
        return e;
    }
    return Error(0, "");
}

std::vector<std::vector<Value>> readAll(Cursor& c) {
    std::vector<std::vector<Value>> rows;
    std::vector<Value> row;
    while (c.next(row)) rows.push_back(row);
    return rows;
}

}  // namespace

TEST(ProviderStatements, GeneratedTableRunsThrough) {
    Fixture f;
    f.run("CREATE TABLE [orders]([id] INT,[title] TEXT,[shipped] TEXT,[price] DECIMAL,[w] FLOAT);");
    long affected = -1;
    f.conn.execute("INSERT INTO [orders] VALUES(7, 'it''s', '08/30/2021', 12.5, 0.25)", &affected);
    EXPECT_EQ(affected, 1);
    f.run("INSERT INTO [orders] VALUES(NULL, NULL, NULL, NULL, NULL)");
    auto* t = f.db->find("orders");
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->rows.size(), 2u);
    EXPECT_EQ(t->rows[0][0], Value(int64_t(7)));
    EXPECT_EQ(t->rows[0][1], Value("it's"));
    EXPECT_EQ(t->rows[0][2], Value("08/30/2021"));
    EXPECT_EQ(t->rows[0][3], Value(Decimal{"12"}));
    EXPECT_EQ(t->rows[0][4], Value(0.25));
    for (const auto& v : t->rows[1]) EXPECT_TRUE(v.isNull());

    auto cur = f.conn.execute("SELECT [title], ID FROM ORDERS", nullptr);
    ASSERT_NE(cur, nullptr);
    ASSERT_EQ(cur->fields().size(), 2u);
    EXPECT_EQ(cur->fields()[0].name, "title");
    auto rows = readAll(*cur);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][0], Value("it's"));
    EXPECT_EQ(rows[0][1], Value(int64_t(7)));
    EXPECT_EQ(f.conn.execute("SELECT * FROM orders", nullptr)->fields().size(), 5u);
}

TEST(ProviderStatements, CatalogErrorsNameTheTable) {
    Fixture f;
    f.run("CREATE TABLE [orders]([id] INT)");
    Error e = errorOf(f, "create table ORDERS (x int)");
    EXPECT_EQ(e.number(), jeterr::kTableExists);
    EXPECT_STREQ(e.description(), "Table 'ORDERS' already exists.");
    e = errorOf(f, "INSERT INTO [nope] VALUES(1)");
    EXPECT_EQ(e.number(), jeterr::kOutputTableMissing);
    EXPECT_STREQ(e.description(), "Could not find output table 'nope'.");
    e = errorOf(f, "DROP TABLE [nope]");
    EXPECT_STREQ(e.description(), "Table 'nope' does not exist.");
    e = errorOf(f, "SELECT * FROM [nope]");
    EXPECT_EQ(e.number(), jeterr::kInputTableMissing);
    EXPECT_NE(std::string(e.description()).find("'nope'"), std::string::npos);
    EXPECT_EQ(std::string(e.description()).find("Microsoft"), std::string::npos);
    e = errorOf(f, "SELECT [id], [ghost] FROM orders");
    EXPECT_EQ(e.number(), jeterr::kMissingParameter);
    EXPECT_EQ(f.db->tables.size(), 1u);
}

TEST(ProviderStatements, ColumnListsAndCounts) {
    Fixture f;
    f.run("CREATE TABLE t (id COUNTER, a TEXT(10), b LONG NOT NULL, c BIT, d DATETIME)");
    f.run("INSERT INTO t (b, a) VALUES (5, 'x')");
    f.run("INSERT INTO t ([A], [B]) VALUES ('y', 6)");
    const auto& rows = f.db->find("t")->rows;
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_TRUE(rows[0][0].isNull());  // the engine numbers it
    EXPECT_EQ(rows[0][1], Value("x"));
    EXPECT_EQ(rows[0][2], Value(int64_t(5)));
    EXPECT_EQ(rows[0][3], Value(false));  // Yes/No left out is No
    EXPECT_TRUE(rows[0][4].isNull());
    EXPECT_EQ(rows[1][1], Value("y"));
    EXPECT_EQ(rows[1][2], Value(int64_t(6)));

    EXPECT_EQ(errorOf(f, "INSERT INTO t (a) VALUES ('z')").number(), jeterr::kRequired);
    EXPECT_EQ(errorOf(f, "INSERT INTO t (a, b) VALUES ('z')").number(), jeterr::kValueCount);
    EXPECT_STREQ(errorOf(f, "INSERT INTO t VALUES (1, 'z')").description(),
                 "Number of query values and destination fields are not the same.");
    Error e = errorOf(f, "INSERT INTO t (a, zz) VALUES ('z', 1)");
    EXPECT_EQ(e.number(), jeterr::kUnknownInsertField);
    EXPECT_NE(std::string(e.description()).find("'zz'"), std::string::npos);
    EXPECT_EQ(errorOf(f, "INSERT INTO t (b, B) VALUES (1, 2)").number(), jeterr::kDuplicateOutput);
    // A rejected row leaves nothing behind, and the next statement works.
    EXPECT_EQ(errorOf(f, "INSERT INTO t VALUES (NULL, 'toolongtoolong', 1, 0, NULL)").number(), jeterr::kFieldTooSmall);
    f.run("INSERT INTO t VALUES (NULL, 'ok', 1, -1, #1/2/2003#)");
    EXPECT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[2][3], Value(true));
}

TEST(ProviderStatements, ColumnsAreLookedUpOncePerTableUntilTheCatalogChanges) {
    Fixture f;
    f.run("CREATE TABLE [t]([a] INT)");
    for (int i = 0; i < 100; ++i) f.run("INSERT INTO [t] VALUES(" + std::to_string(i) + ")");
    EXPECT_EQ(f.db->columnsCalls, 1);
    // Drop and recreate with other columns: the next INSERT sees the new ones.
    f.run("DROP TABLE [t]");
    f.run("CREATE TABLE [t]([a] TEXT(5),[b] INT)");
    f.run("INSERT INTO [t] VALUES('x', 1)");
    EXPECT_EQ(f.db->columnsCalls, 2);
    EXPECT_EQ(f.db->find("t")->rows.at(0)[0], Value("x"));
    // A second table in between, and a column list that changes.
    f.run("CREATE TABLE [u]([a] INT,[b] INT)");
    f.run("INSERT INTO [u] ([a]) VALUES(1)");
    f.run("INSERT INTO [u] ([b]) VALUES(2)");
    f.run("INSERT INTO [t] ([b]) VALUES(3)");
    const auto& u = f.db->find("u")->rows;
    EXPECT_EQ(u.at(0)[0], Value(int64_t(1)));
    EXPECT_TRUE(u.at(0)[1].isNull());
    EXPECT_TRUE(u.at(1)[0].isNull());
    EXPECT_EQ(u.at(1)[1], Value(int64_t(2)));
    EXPECT_EQ(f.db->find("t")->rows.at(1)[1], Value(int64_t(3)));
}

TEST(ProviderSchema, TablesRowsetTypesAndOrder) {
    auto fake = std::make_unique<FakeDatabase>();
    fake->tables = {{"zeta", TableKind::User, {}, {}},  {"MSysObjects", TableKind::System, {}, {}},
                    {"Alpha", TableKind::User, {}, {}}, {"MSysNavPaneGroups", TableKind::AccessSystem, {}, {}},
                    {"qry", TableKind::Query, {}, {}},  {"linked", TableKind::Linked, {}, {}}};
    Fixture f(std::move(fake));
    auto cur = f.conn.openSchema(adSchemaTables);
    int nameCol = -1, typeCol = -1;
    for (size_t i = 0; i < cur->fields().size(); ++i) {
        if (cur->fields()[i].name == "TABLE_NAME") nameCol = int(i);
        if (cur->fields()[i].name == "TABLE_TYPE") typeCol = int(i);
    }
    ASSERT_GE(nameCol, 0);
    ASSERT_GE(typeCol, 0);
    std::vector<std::string> got;
    for (const auto& r : readAll(*cur)) got.push_back(r[size_t(typeCol)].text() + ":" + r[size_t(nameCol)].text());
    EXPECT_EQ(got, (std::vector<std::string>{"ACCESS TABLE:MSysNavPaneGroups", "LINK:linked",
                                             "SYSTEM TABLE:MSysObjects", "TABLE:Alpha", "TABLE:zeta", "VIEW:qry"}));
    EXPECT_THROW(f.conn.openSchema(4), Error);
    // System tables are neither dropped nor written.
    EXPECT_THROW(f.run("DROP TABLE MSysObjects"), Error);
    EXPECT_THROW(f.run("INSERT INTO MSysObjects VALUES(1)"), Error);
    EXPECT_EQ(f.db->tables.size(), 6u);
}

TEST(ProviderConnection, OpensFromTheConnectionStringAndCloses) {
    std::string seenPath, seenPassword;
    bool seenReadOnly = true;
    FakeDatabase* made = nullptr;
    DatabaseOpener opener = [&](const std::string& path, const std::string& pw, bool ro) {
        seenPath = path;
        seenPassword = pw;
        seenReadOnly = ro;
        auto db = std::make_unique<FakeDatabase>();
        made = db.get();
        return std::unique_ptr<Database>(std::move(db));
    };
    auto cs = ConnectionString::parse(
        "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=\"/tmp/a;b.mdb\";JET OLEDB:Database Password='p;w''d'");
    ConnectionOptions opts;
    opts.mode = adModeReadWrite;
    auto conn = openJetConnection(cs, opts, opener);
    EXPECT_EQ(seenPath, "/tmp/a;b.mdb");
    EXPECT_EQ(seenPassword, "p;w'd");
    EXPECT_FALSE(seenReadOnly);
    conn->execute("CREATE TABLE t (a INT)", nullptr);
    EXPECT_FALSE(made->closed);
    // close() hands the file back; the connection is then unusable.
    auto* jet = dynamic_cast<JetConnection*>(conn.get());
    ASSERT_NE(jet, nullptr);
    EXPECT_EQ(&jet->database(), made);
    conn->close();
    EXPECT_THROW(conn->execute("SELECT * FROM t", nullptr), Error);
    EXPECT_THROW(conn->openSchema(adSchemaTables), Error);

    opts.mode = 1;
    openJetConnection(cs, opts, opener);
    EXPECT_TRUE(seenReadOnly);

    DatabaseOpener failing = [](const std::string& path, const std::string&, bool) -> std::unique_ptr<Database> {
        throw Error(3024, "Could not find file '" + path + "'.");
    };
    try {
        openJetConnection(cs, opts, failing);
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.description(), "Could not find file '/tmp/a;b.mdb'.");
    }
}

// Statements prepared ahead on another thread run exactly as their text:
// the same rows, the same failures with the same numbers and texts, also
// when the table changes between preparation and execution or a statement
// goes elsewhere than the preparer's table.
TEST(ProviderStatements, PreparedStatementsRunAsTheirText) {
    const std::vector<std::string> script = {
        "INSERT INTO [t] VALUES (NULL, 'a', 1, 0, #1/2/2003#)",
        "INSERT INTO [t] (b, a) VALUES (5, 'x')",
        "INSERT INTO [t] (a) VALUES ('z')",                               // Required
        "INSERT INTO [t] (a, zz) VALUES ('z', 1)",                        // unknown field
        "INSERT INTO [t] VALUES (NULL, 'toolongtoolong', 1, 0, NULL)",  // too long
        "INSERT INTO [t] VALUES (NULL, 'b', 1, 0)",                      // value count
        "INSERT INTO [t] VALUES (NULL, 'c', 'x', 0, NULL)",              // type mismatch
        "INSERT INTO [T] VALUES (NULL, 'd', 2, -1, NULL)",               // the name as another case
        "INSERT INTO [u] VALUES (7)",
        "INSERT INTO [nope] VALUES (1)",
        "INSERT INTO [t] VALUES (NULL, 'e', 3, 0, NULL",  // syntax
        "SELECT * FROM [t]",
        "INSERT INTO [t] VALUES (NULL, 'f', 5, 0, NULL)",
        "DROP TABLE [t]",
        "CREATE TABLE [t] ([a] TEXT(3), [b] LONG)",
        "INSERT INTO [t] VALUES ('g', 6)",
        "INSERT INTO [t] VALUES (NULL, 'h', 7, 0, NULL)",
    };
    auto outcome = [&](bool prepared) {
        Fixture f;
        f.run("CREATE TABLE t (id COUNTER, a TEXT(10), b LONG NOT NULL, c BIT, d DATETIME)");
        f.run("CREATE TABLE u (n LONG)");
        std::vector<std::unique_ptr<PreparedStatement>> ready(script.size());
        if (prepared) {
            auto preparer = f.conn.preparer("t");
            EXPECT_NE(preparer, nullptr);
            std::thread([&] {
                for (size_t i = 0; i < script.size(); ++i) preparer->prepare(script[i], ready[i]);
            }).join();
        }
        std::vector<std::string> seen;
        for (size_t i = 0; i < script.size(); ++i) {
            long affected = -1;
            try {
                f.conn.executePrepared(script[i], ready[i].get(), &affected);
                seen.push_back("ok " + std::to_string(affected));
            } catch (const Error& e) {
                seen.push_back(std::to_string(e.number()) + " " + e.description());
            }
        }
        return std::make_pair(seen, std::make_pair(f.db->find("t")->rows, f.db->find("u")->rows));
    };
    const auto plain = outcome(false);
    EXPECT_EQ(std::count(plain.first.begin(), plain.first.end(), "ok 1"), 6);
    const auto ahead = outcome(true);
    EXPECT_EQ(ahead.first, plain.first);
    EXPECT_TRUE(ahead.second == plain.second);
}
