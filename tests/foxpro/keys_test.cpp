// The indexes and foreign keys schema rowsets of the "vfpoledb.1" provider:
// the tags of the structural .cdx files and the relations of the containers,
// over the corpus, and over damaged index files.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>
#include <set>

#include "db/ado.h"
#include "db/error.h"
#include "db/foxpro/cdx.h"
#include "db/foxpro/source.h"
#include "tests/support/support.h"

namespace fs = std::filesystem;
using namespace tp;
using namespace tp::test;

namespace {

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

struct Rowset {
    std::vector<std::string> columns;
    std::vector<std::vector<db::Value>> rows;
    std::string text(size_t row, const std::string& column) const {
        for (size_t i = 0; i < columns.size(); ++i)
            if (columns[i] == column) return rows[row][i].kind() == db::Kind::Text ? rows[row][i].text() : "";
        ADD_FAILURE() << "no column " << column;
        return {};
    }
    // One line per row: the values, "|"-separated (booleans as 1/0).
    std::string lines(const std::vector<std::string>& cols) const {
        std::string out;
        for (const auto& r : rows) {
            for (size_t c = 0; c < cols.size(); ++c) {
                const auto at = std::find(columns.begin(), columns.end(), cols[c]) - columns.begin();
                const db::Value& v = r[static_cast<size_t>(at)];
                out += c ? "|" : "";
                out += v.kind() == db::Kind::Bool ? (v.boolean() ? "1" : "0") : db::toIsoText(v);
            }
            out += "\n";
        }
        return out;
    }
};

Rowset schema(const std::string& source, int which) {
    db::registerBuiltinProviders();
    db::Connection c;
    c.Open("Provider=vfpoledb.1;Data Source=" + source + ";");
    auto rs = c.OpenSchema(which);
    Rowset out;
    for (const auto& f : rs->fieldInfos()) out.columns.push_back(f.name);
    for (; !rs->atEnd(); rs->MoveNext()) out.rows.push_back(rs->row());
    return out;
}

int64_t rowCount(const std::string& source, const std::string& table) {
    db::Connection c;
    c.Open("Provider=vfpoledb.1;Data Source=" + source + ";");
    auto rs = c.Execute("SELECT * FROM `" + table + "`");
    int64_t n = 0;
    for (; !rs->atEnd(); rs->MoveNext()) ++n;
    return n;
}

const std::vector<std::string> kIndexColumns = {"TABLE_NAME",  "INDEX_NAME", "PRIMARY_KEY",      "UNIQUE",
                                                "COLUMN_NAME", "COLLATION",  "FILTER_CONDITION", "INDEX_KIND"};
const std::vector<std::string> kRelationColumns = {"FK_NAME",       "PK_TABLE_NAME", "PK_INDEX_NAME", "FK_TABLE_NAME",
                                                   "FK_INDEX_NAME", "UPDATE_RULE",   "DELETE_RULE",   "PROBLEM"};

}  // namespace

TEST(FoxproKeys, EveryStructuralIndexOfTheCorpusAndTheContainersKeysAndRelations) {
    const fs::path root = corpusPath("foxpro");
    // Each folder as the user opens it: its container, else the folder.
    std::map<std::string, Rowset> indexes;
    std::set<std::string> cdxFiles;
    for (auto& e : fs::recursive_directory_iterator(root)) {
        if (e.is_regular_file() && lower(e.path().extension().string()) == ".cdx")
            cdxFiles.insert(lower(e.path().stem().string()) + "@" + e.path().parent_path().string());
        if (!e.is_directory()) continue;
        std::string source = e.path().string();
        for (auto& f : fs::directory_iterator(e.path()))
            if (lower(f.path().extension().string()) == ".dbc") source = f.path().string();
        indexes[e.path().string()] = schema(source, db::adSchemaIndexes);
    }
    // Every .cdx gives its tags, each with a key expression and a kind; the
    // only problems are the tables whose header names an index the corpus
    // does not hold.
    std::set<std::string> seen, problems;
    for (const auto& [folder, rs] : indexes)
        for (size_t i = 0; i < rs.rows.size(); ++i) {
            const std::string table = lower(rs.text(i, "TABLE_NAME"));
            if (!rs.text(i, "PROBLEM").empty()) {
                problems.insert(fs::path(folder).filename().string() + "/" + table);
                EXPECT_EQ(rs.text(i, "INDEX_NAME"), "");
                EXPECT_NE(rs.text(i, "PROBLEM").find("is missing"), std::string::npos) << rs.text(i, "PROBLEM");
                continue;
            }
            EXPECT_FALSE(rs.text(i, "INDEX_NAME").empty());
            EXPECT_FALSE(rs.text(i, "COLUMN_NAME").empty()) << table;
            seen.insert(table + "@" + folder);
        }
    EXPECT_EQ(seen, cdxFiles);

    // The walk that finds the tags walks each tag's own tree too (interior
    // nodes, leaves of front-compressed keys): a structural tag without a
    // FOR filter holds one key per record, deleted records included.
    int multiLevel = 0;
    for (auto& e : fs::recursive_directory_iterator(root)) {
        if (lower(e.path().extension().string()) != ".cdx") continue;
        auto src = db::foxpro::openFileSource(e.path().string());
        const std::string dbf = readFile(fs::path(e.path()).replace_extension(".dbf").string());
        ASSERT_GE(dbf.size(), 8u);
        const uint32_t records = uint32_t(uint8_t(dbf[4])) | uint32_t(uint8_t(dbf[5])) << 8 |
                                 uint32_t(uint8_t(dbf[6])) << 16 | uint32_t(uint8_t(dbf[7])) << 24;
        for (const auto& tag : db::foxpro::readCdxTags(*src)) {
            ASSERT_EQ(tag.problem, "") << e.path();
            uint32_t keys = 0;
            std::set<uint32_t> seenRecords;
            db::foxpro::walkCdxTree(*src, tag.root, tag.keyLength, [&](const std::string&, uint32_t record) {
                ++keys;
                seenRecords.insert(record);
            });
            EXPECT_EQ(keys, records) << e.path() << " " << tag.name;
            EXPECT_EQ(seenRecords.size(), records) << e.path() << " " << tag.name;
            if (records && (seenRecords.size() != records || *seenRecords.rbegin() != records))
                ADD_FAILURE() << e.path() << " " << tag.name << ": record numbers are not 1.." << records;
            uint8_t attr[2];
            src->readAt(tag.root, attr, 2);
            multiLevel += (attr[0] & 0x02) == 0;
        }
    }
    EXPECT_GT(multiLevel, 10);
    EXPECT_EQ(problems,
              (std::set<std::string>{"infused-dbf/cp1251", "infused-dbf/dbase_30", "php-xbase/visual_fox_pro6"}));

    // Northwind in full: the primary keys the container names, the candidate
    // and regular tags of the .cdx files, in directory order.
    const std::string nw = (root / "VFPX-Samples-Northwind").string();
    EXPECT_EQ(indexes[nw].lines(kIndexColumns),
              "Categories|CATEGORYID|1|1|categoryid|1||PRIMARY\n"
              "Categories|CATEGORYNM|0|0|UPPER(categoryname)|1||REGULAR\n"
              "Customers|CITY|0|0|UPPER(city)|1||REGULAR\n"
              "Customers|COMPANYNAM|0|0|UPPER(companyname)|1||REGULAR\n"
              "Customers|CUSTOMERID|1|1|customerid|1||PRIMARY\n"
              "Customers|POSTALCODE|0|0|UPPER(postalcode)|1||REGULAR\n"
              "Customers|REGION|0|0|UPPER(region)|1||REGULAR\n"
              "Employees|EMPLOYEEID|1|1|employeeid|1||PRIMARY\n"
              "Employees|LASTNAME|0|0|UPPER(lastname)|1||REGULAR\n"
              "Employees|POSTALCODE|0|0|UPPER(postalcode)|1||REGULAR\n"
              "Employees|REPORTSTO|0|0|reportsto|1||REGULAR\n"
              "OrderDetails|ORDERID|0|0|orderid|1||REGULAR\n"
              "OrderDetails|PRIMARYKEY|1|1|STR(orderid)+STR(productid)|1||PRIMARY\n"
              "OrderDetails|PRODUCTID|0|0|productid|1||REGULAR\n"
              "Orders|CUSTOMERID|0|0|customerid|1||REGULAR\n"
              "Orders|EMPLOYEEID|0|0|employeeid|1||REGULAR\n"
              "Orders|ORDERDATE|0|0|orderdate|1||REGULAR\n"
              "Orders|ORDERID|1|1|orderid|1||PRIMARY\n"
              "Orders|SHIPPEDDAT|0|0|shippeddate|1||REGULAR\n"
              "Orders|SHIPPERID|0|0|shipvia|1||REGULAR\n"
              "Products|CATEGORYID|0|0|categoryid|1||REGULAR\n"
              "Products|PRODUCTID|1|1|productid|1||PRIMARY\n"
              "Products|PRODUCTNAM|0|0|UPPER(productname)|1||REGULAR\n"
              "Products|SUPPLIERID|0|0|supplierid|1||REGULAR\n"
              "Shippers|SHIPPERID|1|1|shipperid|1||PRIMARY\n"
              "Suppliers|COMPANYNAM|0|0|UPPER(companyname)|1||REGULAR\n"
              "Suppliers|POSTALCODE|0|0|postalcode|1||REGULAR\n"
              "Suppliers|SUPPLIERID|1|1|supplierid|1||PRIMARY\n"
              "Territories|REGIONID|0|0|regionid|1||REGULAR\n"
              "Territories|TERRITORYI|1|1|ALLTRIM(UPPER(territoryid))|1||PRIMARY\n"
              "EmployeeTerritories|EMPLOYEEID|0|0|employeeid|1||REGULAR\n"
              "EmployeeTerritories|TERRITORYI|0|0|territoryid|1||REGULAR\n"
              "CustomerDemographics|CUSTTYPEID|1|1|ALLTRIM(UPPER(customertypeid))|1||PRIMARY\n"
              "CustomerCustomerDemo|CUSTOMERID|0|0|ALLTRIM(UPPER(customerid))|1||REGULAR\n"
              "CustomerCustomerDemo|CUSTTYPEID|0|0|ALLTRIM(UPPER(customertypeid))|1||REGULAR\n"
              "Region|REGIONID|1|1|regionid|1||PRIMARY\n");
    EXPECT_EQ(schema((root / "VFPX-Samples-Northwind/northwind.dbc").string(), db::adSchemaForeignKeys)
                  .lines(kRelationColumns),
              "Relation 1|Categories|CATEGORYID|Products|CATEGORYID|RESTRICT|RESTRICT|\n"
              "Relation 1|Customers|CUSTOMERID|Orders|CUSTOMERID|CASCADE|RESTRICT|\n"
              "Relation 2|Shippers|SHIPPERID|Orders|SHIPPERID|RESTRICT|RESTRICT|\n"
              "Relation 1|Products|PRODUCTID|OrderDetails|PRODUCTID|RESTRICT|RESTRICT|\n"
              "Relation 1|Employees|EMPLOYEEID|Employees|REPORTSTO|RESTRICT|RESTRICT|\n"
              "Relation 3|Employees|EMPLOYEEID|Orders|EMPLOYEEID|RESTRICT|RESTRICT|\n"
              "Relation 2|Orders|ORDERID|OrderDetails|ORDERID|RESTRICT|CASCADE|\n"
              "Relation 2|Suppliers|SUPPLIERID|Products|SUPPLIERID|RESTRICT|RESTRICT|\n"
              "Relation 1|Territories|TERRITORYI|EmployeeTerritories|TERRITORYI|RESTRICT|RESTRICT|\n"
              "Relation 2|Employees|EMPLOYEEID|EmployeeTerritories|EMPLOYEEID|RESTRICT|CASCADE|\n"
              "Relation 1|CustomerDemographics|CUSTTYPEID|CustomerCustomerDemo|CUSTTYPEID|RESTRICT|RESTRICT|\n"
              "Relation 2|Customers|CUSTOMERID|CustomerCustomerDemo|CUSTOMERID|RESTRICT|RESTRICT|\n"
              "Relation 1|Region|REGIONID|Territories|REGIONID|RESTRICT|RESTRICT|\n");
    // TestData's relations carry no rules (blank RIINFO); foxprodb names the
    // primary keys of two tables only through their Index objects.
    EXPECT_EQ(
        schema((root / "VFPX-Samples-TestData/testdata.dbc").string(), db::adSchemaForeignKeys).lines(kRelationColumns),
        "cust_id|customer|CUST_ID|orders|CUST_ID|IGNORE|IGNORE|\n"
        "emp_id|employee|EMP_ID|orders|EMP_ID|IGNORE|IGNORE|\n"
        "order_id|orders|ORDER_ID|orditems|ORDER_ID|IGNORE|IGNORE|\n"
        "product_id|products|PRODUCT_ID|orditems|PRODUCT_ID|IGNORE|IGNORE|\n");
    EXPECT_EQ(indexes[(root / "infused-dbf/foxprodb").string()].lines(kIndexColumns),
              "types|TYPE_ID|1|1|contact_type_id|1||PRIMARY\n"
              "setup|KEY_NAME|1|1|key_name|1||PRIMARY\n"
              "contacts|CONTACT_ID|1|1|contact_id|1||PRIMARY\n"
              "contacts|TYPE_ID|0|0|contact_type_id|1||REGULAR\n"
              "calls|CALL_ID|1|1|call_id|1||PRIMARY\n"
              "calls|CONTACT_ID|0|0|contact_id|1||REGULAR\n");
    // Free tables: a candidate key, never a primary one.
    EXPECT_EQ(indexes[(root / "javadbf/foxpro-xsource").string()].lines(kIndexColumns),
              "employees|EMAILNAME|0|0|emailname|1||REGULAR\n"
              "employees|LASTNAME|0|0|lastname|1||REGULAR\n"
              "employees|POSTALCODE|0|0|postalcode|1||REGULAR\n"
              "employees|PRIMARYKEY|0|1|employeeid|1||CANDIDATE\n"
              "foxref_ref|CHECKED|0|0|checked|1||REGULAR\n"
              "foxref_ref|FILEID|0|0|fileid|1||REGULAR\n"
              "foxref_ref|INACTIVE|0|0|inactive|1||REGULAR\n"
              "foxref_ref|REFID|0|0|refid|1||REGULAR\n"
              "foxref_ref|REFTYPE|0|0|reftype|1||REGULAR\n"
              "foxref_ref|SETID|0|0|setid|1||REGULAR\n"
              "foxref_ref|UNIQUEID|0|0|uniqueid|1||REGULAR\n"
              "payments|PAYMENTMET|0|0|paymentmethodid|1||REGULAR\n"
              "payments|PRIMARYKEY|0|1|paymentid|1||CANDIDATE\n"
              "payments|PROJECTID|0|0|projectid|1||REGULAR\n");
    EXPECT_EQ(schema((root / "javadbf/foxpro-xsource").string(), db::adSchemaForeignKeys).rows.size(), 0u);
}

namespace {

// Writes bytes into a copy of a file at off.
void patch(const std::string& file, size_t off, const std::string& bytes) {
    std::string data = readFile(file);
    data.replace(off, bytes.size(), bytes);
    writeFile(file, data);
}

std::vector<std::string> problemsOf(const Rowset& rs, const std::string& table) {
    std::vector<std::string> out;
    for (size_t i = 0; i < rs.rows.size(); ++i)
        if (rs.text(i, "TABLE_NAME") == table) out.push_back(rs.text(i, "INDEX_NAME") + ": " + rs.text(i, "PROBLEM"));
    return out;
}

}  // namespace

TEST(FoxproKeys, DamagedIndexFilesGiveProblemRowsAndLeaveTheRowsReadable) {
    const fs::path corpus = corpusPath("foxpro/VFPX-Samples-Northwind");
    TempDir dir;
    dir.leaveUnchecked();
    for (auto& f : fs::directory_iterator(corpus)) fs::copy_file(f.path(), dir.path() / f.path().filename());
    for (auto& f : fs::directory_iterator(dir.path()))
        fs::permissions(f.path(), fs::perms::owner_write, fs::perm_options::add);
    const std::string dbc = dir.file("northwind.dbc");
    // customers: cut after its second tag's header, and that header's key
    // expression said to run past its pool.
    fs::resize_file(dir.file("customers.cdx"), 0x1200);
    patch(dir.file("customers.cdx"), 0xC00 + 510, std::string("\x58\x02", 2));
    // orders: a header that is no compound index's; orderdetails: too short.
    patch(dir.file("orders.cdx"), 14, std::string("\x00", 1));
    fs::resize_file(dir.file("orderdetails.cdx"), 700);
    // territories: the directory's root an interior node leading to itself.
    patch(dir.file("territories.cdx"), 0x400,
          std::string("\x01\x00\x01\x00", 4) + std::string(8, '\xFF') + "TERRITORYI" +
              std::string("\x00\x00\x06\x00\x00\x00\x04\x00", 8));
    // employees: the first tag's header far past the end; region: no index.
    patch(dir.file("employees.cdx"), 0x418, std::string("\x00\xFE", 2));
    fs::remove(dir.file("region.cdx"));
    // products: its primary key made descending and filtered, as FoxPro
    // writes INDEX ON productid TAG productid DESCENDING FOR !DELETED().
    const size_t tag = 0xC000;
    std::string header = readFile(dir.file("products.cdx")).substr(tag, 1024);
    patch(dir.file("products.cdx"), tag + 14, std::string(1, static_cast<char>(header[14] | 0x08)));
    patch(dir.file("products.cdx"), tag + 502, std::string("\x01\x00\x00\x00\x0B\x00", 6));
    patch(dir.file("products.cdx"), tag + 512 + 10, std::string("!DELETED()\0", 11));

    const Rowset rs = schema(dbc, db::adSchemaIndexes);
    const std::string name = dir.file("customers.cdx");
    EXPECT_EQ(problemsOf(rs, "Customers"),
              (std::vector<std::string>{
                  "CITY: The tag CITY of the table Customers cannot be read from customers.cdx: its header: the offset "
                  "0x1200 lies past the end of the file.",
                  "COMPANYNAM: The tag COMPANYNAM of the table Customers cannot be read from customers.cdx: its "
                  "expressions' lengths run past the expression pool.",
                  "CUSTOMERID: ",
                  "POSTALCODE: The tag POSTALCODE of the table Customers cannot be read from customers.cdx: its "
                  "header: the offset 0x1800 lies past the end of the file.",
                  "REGION: The tag REGION of the table Customers cannot be read from customers.cdx: its header: the "
                  "offset 0x1E00 lies past the end of the file."}));
    EXPECT_EQ(problemsOf(rs, "Orders"),
              std::vector<std::string>{": The structural index " + dir.file("orders.cdx") +
                                       " of the table Orders cannot be read: its header is not a compact compound "
                                       "index's (options 0x0)."});
    EXPECT_EQ(problemsOf(rs, "OrderDetails"),
              std::vector<std::string>{": The structural index " + dir.file("orderdetails.cdx") +
                                       " of the table OrderDetails cannot be read: the file is too short for a "
                                       "compound index."});
    EXPECT_EQ(problemsOf(rs, "Territories"),
              std::vector<std::string>{": The structural index " + dir.file("territories.cdx") +
                                       " of the table Territories cannot be read: the tag directory: the tree reaches "
                                       "the node at 0x400 twice."});
    EXPECT_EQ(problemsOf(rs, "Region"),
              std::vector<std::string>{
                  ": The structural index of the table Region is missing (region.cdx beside region.dbf)."});
    const auto employees = problemsOf(rs, "Employees");
    ASSERT_EQ(employees.size(), 4u);
    EXPECT_EQ(employees[0],
              "EMPLOYEEID: The tag EMPLOYEEID of the table Employees cannot be read from employees.cdx: "
              "its header: the offset 0xFE00 lies past the end of the file.");
    EXPECT_NE(rs.lines(kIndexColumns).find("Products|PRODUCTID|1|1|productid|2|!DELETED()|PRIMARY\n"),
              std::string::npos);

    // The relations on a tag that cannot be read say so; the others stay.
    const Rowset rel = schema(dbc, db::adSchemaForeignKeys);
    std::string usable;
    for (size_t i = 0; i < rel.rows.size(); ++i)
        if (rel.text(i, "PROBLEM").empty())
            usable += rel.text(i, "FK_TABLE_NAME") + "->" + rel.text(i, "PK_TABLE_NAME") + " ";
    EXPECT_EQ(usable,
              "Products->Categories Products->Suppliers CustomerCustomerDemo->CustomerDemographics "
              "CustomerCustomerDemo->Customers ");
    ASSERT_EQ(rel.rows.size(), 13u);
    EXPECT_EQ(rel.text(4, "PROBLEM"),
              "The relation Relation 1 of the table Employees cannot be used: the tag "
              "EMPLOYEEID of the table Employees cannot be read from employees.cdx: its "
              "header: the offset 0xFE00 lies past the end of the file.");
    EXPECT_EQ(rel.text(12, "PROBLEM"),
              "The relation Relation 1 of the table Territories cannot be used: the "
              "structural index of the table Region is missing (region.cdx beside "
              "region.dbf).");

    // Every table's rows read as from the untouched files.
    for (const std::string table :
         {"Customers", "Orders", "OrderDetails", "Territories", "Employees", "Region", "Products"})
        EXPECT_EQ(rowCount(dbc, table), rowCount((corpus / "northwind.dbc").string(), table)) << table;

    // Hostile bytes: random changes to the header, the directory and the
    // first tag headers of real files, and cuts anywhere, give a tag list or
    // an Error, never a crash or a hang.
    std::mt19937 rng(24);
    for (const char* file : {"customers.cdx", "orderdetails.cdx", "territories.cdx"}) {
        const std::string original = readFile((corpus / file).string());
        for (int round = 0; round < 1500; ++round) {
            std::vector<uint8_t> bytes(original.begin(), original.end());
            const int changes = 1 + static_cast<int>(rng() % 6);
            for (int c = 0; c < changes; ++c) bytes[rng() % std::min<size_t>(bytes.size(), 0x1800)] = uint8_t(rng());
            if (round % 5 == 0) bytes.resize(rng() % bytes.size());
            auto src = db::foxpro::memorySource(file, std::move(bytes));
            try {
                (void)db::foxpro::readCdxTags(*src);
            } catch (const db::Error&) {}
        }
    }
}
