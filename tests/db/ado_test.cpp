#include "db/ado.h"

#include <gtest/gtest.h>

using namespace tp::db;

TEST(ConnectionString, ParsesByOleDbRules) {
    auto cs = ConnectionString::parse(
        "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=/tmp/a b.mdb;JET OLEDB:Database Password=");
    EXPECT_EQ(cs.get("provider"), "Microsoft.Jet.OLEDB.4.0");
    EXPECT_EQ(cs.get("DATA SOURCE"), "/tmp/a b.mdb");
    EXPECT_TRUE(cs.has("Jet OLEDB:Database Password"));
    EXPECT_EQ(cs.get("Jet OLEDB:Database Password"), "");

    auto q = ConnectionString::parse("Data Source=\"x;Provider=evil\";Password='it''s'; Mode = 3 ");
    EXPECT_EQ(q.get("Data Source"), "x;Provider=evil");
    EXPECT_EQ(q.get("password"), "it's");
    EXPECT_EQ(q.get("mode"), "3");
    EXPECT_FALSE(q.has("Provider"));
}

TEST(ConnectionString, QuotedValuesCannotInjectKeys) {
    ConnectionString cs;
    cs.set("Provider", "Microsoft.Jet.OLEDB.4.0");
    cs.set("JET OLEDB:Database Password", "a;Provider=x\"y'");
    auto back = ConnectionString::parse(cs.toString());
    EXPECT_EQ(back.get("JET OLEDB:Database Password"), "a;Provider=x\"y'");
    EXPECT_EQ(back.get("Provider"), "Microsoft.Jet.OLEDB.4.0");
}

namespace {
struct FakeProvider : ProviderConnection {
    std::vector<std::string>* log;
    std::unique_ptr<Cursor> execute(std::string_view sql, long*) override {
        log->emplace_back(sql);
        if (sql.rfind("SELECT", 0) == 0)
            return std::make_unique<VectorCursor>(
                std::vector<FieldInfo>{{"id", adtype::Integer}, {"name", adtype::VarChar}},
                std::vector<std::vector<Value>>{{Value(1), Value("a")}, {Value(2), Value()}});
        if (sql == "bad") throw Error(-1, "Syntax error in INSERT INTO statement.");
        return nullptr;
    }
    std::unique_ptr<Cursor> openSchema(int) override {
        return std::make_unique<VectorCursor>(tablesSchemaFields(),
                                              std::vector<std::vector<Value>>{tablesSchemaRow("t", "TABLE")});
    }
    void close() override { log->emplace_back("close"); }
};
}  // namespace

TEST(Ado, ProviderChosenCaseInsensitivelyAndRecordsetWalks) {
    std::vector<std::string> log;
    ProviderRegistry::instance().add("Fake.Provider.1", [&](const ConnectionString&, const ConnectionOptions&) {
        auto p = std::make_unique<FakeProvider>();
        p->log = &log;
        return p;
    });
    auto conn = CreateConnection("adodb.connection");
    conn->Open("provider=FAKE.provider.1;Data Source=x");
    conn->Execute("CREATE TABLE t (a INT)");
    EXPECT_THROW(conn->Execute("bad"), Error);

    auto rs = CreateRecordset("ADODB.RecordSet");
    rs->Open("SELECT * FROM t", *conn);
    EXPECT_FALSE(rs->atEnd());
    EXPECT_FALSE(rs->beforeStart());
    EXPECT_EQ(rs->fieldCount(), 2);
    EXPECT_EQ(rs->Fields(0).name(), "id");
    EXPECT_EQ(rs->Fields("NAME").type(), adtype::VarChar);
    EXPECT_EQ(rs->Fields(1).value(), Value("a"));
    rs->MoveNext();
    EXPECT_TRUE(rs->Fields(1).value().isNull());
    rs->MoveNext();
    EXPECT_TRUE(rs->atEnd());
    EXPECT_THROW(rs->MoveNext(), Error);
    EXPECT_THROW(rs->Fields(0).value(), Error);
    rs->Close();
    EXPECT_THROW(rs->atEnd(), Error);

    auto schema = conn->OpenSchema(adSchemaTables);
    EXPECT_EQ(schema->Fields("TABLE_TYPE").value(), Value("TABLE"));
    conn->Close();
    EXPECT_EQ(log.back(), "close");
    ProviderRegistry::instance().remove("Fake.Provider.1");
}

TEST(Ado, UnknownProviderAndProgId) {
    auto conn = CreateConnection();
    try {
        conn->Open("Provider=nothing.here;Data Source=x");
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), 3706);
        EXPECT_STREQ(e.what(), "Provider cannot be found. It may not be properly installed.");
    }
    EXPECT_THROW(CreateConnection("ADODB.Command"), Error);
    Error failure(3706, "Provider cannot be found. It may not be properly installed.");
    setObjectCreationFailure(&failure);
    EXPECT_THROW(CreateConnection(), Error);
    setObjectCreationFailure(nullptr);
    EXPECT_NO_THROW(CreateConnection());
}

TEST(Ado, EmptyResultStandsAtBothEnds) {
    Recordset rs(std::make_unique<VectorCursor>(std::vector<FieldInfo>{{"a", adtype::Integer}},
                                                std::vector<std::vector<Value>>{}));
    EXPECT_TRUE(rs.atEnd());
    EXPECT_TRUE(rs.beforeStart());
}
