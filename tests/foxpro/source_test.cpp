// The "vfpoledb.1" provider over free-table folders and database containers,
// and the Foxpro module on top of it.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "db/ado.h"
#include "convert/source.h"
#include "db/foxpro/dbc.h"
#include "convert/selection.h"
#include "tests/foxpro/dbf_builder.h"
#include "tests/support/support.h"
#include "host/error_report.h"

namespace fs = std::filesystem;
using namespace tp;
using namespace tp::test;
using nlohmann::json;

namespace {

std::string folderCs(const std::string& f) {
    return "Provider=vfpoledb.1;Data Source=" + f + ";Collating Sequence=general;";
}
std::string dbcCs(const std::string& f) {
    return "Provider=vfpoledb.1;Data Source=" + f + ";Collating Sequence=machine;";
}

std::vector<std::pair<std::string, std::string>> schema(const std::string& cs) {
    db::Connection c;
    c.Open(cs);
    auto rs = c.OpenSchema(db::adSchemaTables);
    std::vector<std::pair<std::string, std::string>> out;
    for (; !rs->atEnd(); rs->MoveNext())
        out.emplace_back(rs->Fields("TABLE_TYPE").value().text(), rs->Fields("TABLE_NAME").value().text());
    return out;
}

std::string smallTable(const std::string& text) {
    DbfBuilder b;
    b.fields = {{"T", 'C', 4}};
    b.records = {" " + text};
    return b.build();
}

// A container with one table whose stored path is `path`, and one view.
void writeDbc(const std::string& file, const std::string& path) {
    FptBuilder dct;
    std::string prop = le32(static_cast<uint32_t>(7 + path.size() + 1)) + std::string("\x01\x00\x01", 3) + path + '\0';
    const uint32_t propBlock = dct.add(prop, 1);
    DbfBuilder b;
    b.fields = {{"OBJECTID", 'I', 4},
                {"PARENTID", 'I', 4},
                {"OBJECTTYPE", 'C', 10},
                {"OBJECTNAME", 'C', 128},
                {"PROPERTY", 'M', 4}};
    auto rec = [&](int id, int parent, std::string type, std::string name, uint32_t prop) {
        type.resize(10, ' ');
        name.resize(128, ' ');
        return " " + le32(static_cast<uint32_t>(id)) + le32(static_cast<uint32_t>(parent)) + type + name + le32(prop);
    };
    b.records = {rec(1, 1, "Database", "Database", 0), rec(5, 1, "Table", "LongTableName", propBlock),
                 rec(6, 5, "Field", "longfieldname", 0), rec(7, 1, "View", "someview", 0)};
    writeFile(file, b.build());
    writeFile(fs::path(file).replace_extension(".dct").string(), dct.build());
}

}  // namespace

TEST(FoxproFolder, ListsDbfFilesByNameAndOpensThemWithoutRegardToCase) {
    db::registerBuiltinProviders();
    TempDir dir;
    writeFile(dir.file("beta.DBF"), smallTable("b   "));
    writeFile(dir.file("Alpha.dbf"), smallTable("a   "));
    writeFile(dir.file("gamma.dbf.bak"), smallTable("x   "));
    writeFile(dir.file("notes.txt"), "x");
    fs::create_directory(dir.path() / "sub.dbf");
    const auto rows = schema(folderCs(dir.path().string()));
    const std::vector<std::pair<std::string, std::string>> want = {{"TABLE", "Alpha"}, {"TABLE", "beta"}};
    EXPECT_EQ(rows, want);

    db::Connection c;
    c.Open(folderCs(dir.path().string()));
    db::Recordset rs;
    rs.Open("select *  from `ALPHA`", c);
    EXPECT_EQ(rs.Fields("T").value(), db::Value("a   "));
    EXPECT_EQ(rs.Fields(0).type(), db::adtype::Char);

    for (const char* bad : {"SELECT T FROM `alpha`", "DELETE FROM `alpha`", "SELECT * FROM `alpha` WHERE 1=1"}) {
        try {
            c.Execute(bad);
            ADD_FAILURE() << bad;
        } catch (const db::Error& e) {
            EXPECT_NE(std::string(e.description()).find("SELECT * FROM `table`"), std::string::npos) << e.description();
        }
    }
    EXPECT_THROW(c.Execute("SELECT * FROM `missing`"), db::Error);

    // Names that differ only in case are two tables, each read from its own
    // file.
    writeFile(dir.file("Cust.dbf"), smallTable("up  "));
    writeFile(dir.file("cust.dbf"), smallTable("low "));
    db::Connection c2;
    c2.Open(folderCs(dir.path().string()));
    const auto listed = schema(folderCs(dir.path().string()));
    EXPECT_EQ(listed.size(), 4u);
    for (const auto& [name, want] : {std::pair<std::string, std::string>{"Cust", "up  "}, {"cust", "low "}}) {
        db::Recordset r;
        r.Open("SELECT * FROM `" + name + "`", c2);
        EXPECT_EQ(r.Fields("T").value(), db::Value(want)) << name;
    }
}

TEST(FoxproFolder, AnEmptyOrMissingFolder) {
    db::registerBuiltinProviders();
    TempDir dir;
    EXPECT_TRUE(schema(folderCs(dir.path().string())).empty());
    db::Connection c;
    EXPECT_THROW(c.Open(folderCs(dir.file("nowhere"))), db::Error);
    EXPECT_THROW(c.Open(folderCs("")), db::Error);
}

TEST(FoxproContainer, NorthwindListsTablesWithLongNamesAndViewsAsViews) {
    db::registerBuiltinProviders();
    const std::string dbc = corpusPath("foxpro/VFPX-Samples-Northwind/northwind.dbc").string();
    const auto rows = schema(dbcCs(dbc));
    std::vector<std::string> tables;
    int views = 0;
    for (const auto& [type, name] : rows) {
        if (type == "TABLE") tables.push_back(name);
        else if (type == "VIEW") ++views;
        else ADD_FAILURE() << type;
    }
    const std::vector<std::string> want = {"Categories",
                                           "Customers",
                                           "Employees",
                                           "OrderDetails",
                                           "Orders",
                                           "Products",
                                           "Shippers",
                                           "Suppliers",
                                           "Territories",
                                           "EmployeeTerritories",
                                           "CustomerDemographics",
                                           "CustomerCustomerDemo",
                                           "Region"};
    EXPECT_EQ(tables, want);
    EXPECT_EQ(views, 17);

    db::Connection c;
    c.Open(dbcCs(dbc));
    db::Recordset rs;
    rs.Open("SELECT * FROM `employeeterritories`", c);
    ASSERT_EQ(rs.fieldCount(), 2);
    EXPECT_EQ(rs.Fields(0).name(), "employeeid");
    EXPECT_EQ(rs.Fields(1).name(), "territoryid");
    db::Recordset orders;
    orders.Open("SELECT * FROM `Orders`", c);
    EXPECT_NO_THROW(orders.Fields("customerid"));
    EXPECT_NO_THROW(orders.Fields("requireddate")) << "a name longer than the header's 10 characters";
    EXPECT_THROW(c.Execute("SELECT * FROM `invoices`"), db::Error) << "a view is not a table";
}

TEST(FoxproContainer, EveryContainerTableMatchesTheIndependentReader) {
    if (!dbfreadAvailable()) GTEST_SKIP() << "dbfread is not installed";
    db::registerBuiltinProviders();
    for (const char* rel : {"foxpro/VFPX-Samples-Northwind/northwind.dbc", "foxpro/VFPX-Samples-TestData/testdata.dbc",
                            "foxpro/infused-dbf/foxprodb/FOXPRO-DB-TEST.DBC"}) {
        const std::string dbc = corpusPath(rel).string();
        SCOPED_TRACE(dbc);
        auto r = dbfreadDump(dbc, {"--keep-padding"});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const json o = json::parse(r.out);
        std::vector<std::string> oracleTables, ours;
        for (const auto& t : o["dbc"]["tables"]) oracleTables.push_back(t["name"]);
        for (const auto& [type, name] : schema(dbcCs(dbc)))
            if (type == "TABLE") ours.push_back(name);
        EXPECT_EQ(ours, oracleTables);
        db::Connection c;
        c.Open(dbcCs(dbc));
        for (const auto& t : o["dbc"]["tables"]) {
            db::Recordset rs;
            rs.Open("SELECT * FROM `" + t["name"].get<std::string>() + "`", c);
            std::vector<std::string> names;
            for (int i = 0; i < rs.fieldCount(); ++i) names.push_back(rs.Fields(i).name());
            EXPECT_EQ(names, t["fields"].get<std::vector<std::string>>()) << t["name"];
            // Row counts against the oracle's dump of the same file (the
            // values themselves are compared by the folder test).
            size_t n = 0;
            for (; !rs.atEnd(); rs.MoveNext()) ++n;
            for (const auto& d : o["tables"])
                if (d["name"] == t["name"]) {
                    EXPECT_EQ(n, d["records"].size()) << t["name"];
                }
        }
    }
}

TEST(FoxproContainer, StoredPathsAreFollowedCaseInsensitivelyIntoSiblingFolders) {
    db::registerBuiltinProviders();
    TempDir dir;
    fs::create_directories(dir.path() / "App" / "Data");
    fs::create_directory(dir.path() / "Tables");
    writeFile(dir.file("App/Data/Long.DBF"), smallTable("ok  "));
    writeFile(dir.file("Tables/Long.dbf"), smallTable("sib "));
    writeDbc(dir.file("App/good.dbc"), "data\\long.dbf");
    // As VFP applications keep them: the container in one folder, the
    // tables in ..\tables.
    writeDbc(dir.file("App/sibling.dbc"), "..\\TABLES\\long.dbf");
    writeDbc(dir.file("App/back.dbc"), "data\\..\\..\\tables\\.\\long.dbf");
    for (const auto& [f, want] :
         {std::pair<std::string, std::string>{"good.dbc", "ok  "}, {"sibling.dbc", "sib "}, {"back.dbc", "sib "}}) {
        SCOPED_TRACE(f);
        db::Connection c;
        c.Open(dbcCs(dir.file("App/" + f)));
        db::Recordset rs;
        rs.Open("SELECT * FROM `longtablename`", c);
        EXPECT_EQ(rs.Fields(0).name(), "longfieldname");
        EXPECT_EQ(rs.Fields(0).value(), db::Value(want));
    }
    // What cannot be opened here is a missing file, named with the table.
    writeDbc(dir.file("App/abs.dbc"), "c:\\data\\x.dbf");
    writeDbc(dir.file("App/gone.dbc"), "..\\missing\\long.dbf");
    writeDbc(dir.file("App/dots.dbc"), "data\\..");
    for (const char* f : {"abs.dbc", "gone.dbc", "dots.dbc"}) {
        const std::string file = dir.file(std::string("App/") + f);
        db::Connection c;
        c.Open(dbcCs(file));
        const auto rows = schema(dbcCs(file));  // listing works
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[1], std::make_pair(std::string("VIEW"), std::string("someview")));
        try {
            c.Execute("SELECT * FROM `LongTableName`");
            ADD_FAILURE() << f;
        } catch (const db::Error& e) {
            const std::string d = e.description();
            EXPECT_NE(d.find("LongTableName"), std::string::npos) << d;
            EXPECT_NE(d.find(f), std::string::npos) << d;
        }
    }
}

TEST(FoxproModule, ReadsTheSourceItIsGivenAndListsOnlyTables) {
    db::registerBuiltinProviders();
    ScopedBoxes boxes;
    TempDir dir;
    writeFile(dir.file("one.dbf"), smallTable("1   "));
    writeDbc(dir.file("db.dbc"), "one.dbf");

    SourceChoice source{false, dir.path().string(), {}};
    EXPECT_EQ(convert::source::connectionString(source), folderCs(dir.path().string()));
    EXPECT_TRUE(convert::source::canConnect(source));
    VectorListBox list;
    list.addItem("stale");
    convert::source::listTables(list, source);
    EXPECT_EQ(list.items, std::vector<std::string>{"one"});

    source = {true, dir.file("db.dbc"), {}};
    EXPECT_EQ(convert::source::connectionString(source), dbcCs(dir.file("db.dbc")));
    EXPECT_TRUE(convert::source::canConnect(source));
    convert::source::listTables(list, source);
    EXPECT_EQ(list.items, std::vector<std::string>{"LongTableName"}) << "the view is left out";
    EXPECT_TRUE(boxes.shown.empty());
}

TEST(FoxproModule, AFailedOpenIsSilentForTheTestAndReportedOnceForTheListing) {
    db::registerBuiltinProviders();
    ScopedBoxes boxes;
    const SourceChoice source{false, "/no/such/folder", {}};
    EXPECT_FALSE(convert::source::canConnect(source));
    EXPECT_TRUE(boxes.shown.empty());
    VectorListBox list;
    list.addItem("stale");
    convert::source::listTables(list, source);
    EXPECT_TRUE(list.items.empty()) << "the list is cleared even after a failed open";
    ASSERT_FALSE(boxes.shown.empty());
    EXPECT_NE(boxes.shown[0].text.find("Larkspan2021/08/31.Foxpro.AddTablesToFoxproListbox"), std::string::npos)
        << boxes.shown[0].text;
}

TEST(FoxproModule, AConnectionObjectThatCannotBeCreatedIsReported) {
    db::registerBuiltinProviders();
    ScopedBoxes boxes;
    TempDir dir;
    const SourceChoice source{false, dir.path().string(), {}};
    const db::Error failure(db::Error::kCannotCreateObject, "ActiveX component can't create object");
    db::setObjectCreationFailure(&failure);
    const bool ok = convert::source::canConnect(source);
    db::setObjectCreationFailure(nullptr);
    EXPECT_FALSE(ok);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_NE(boxes.shown[0].text.find("Larkspan2021/08/31.Foxpro.IsValidFoxProConnection"), std::string::npos)
        << boxes.shown[0].text;
}
