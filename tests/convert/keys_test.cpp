// FoxPro tag expressions to Access index columns, and the statements made
// of them.
#include <gtest/gtest.h>

#include "convert/expression.h"
#include "convert/keys.h"
#include "convert/properties.h"

using namespace tp::convert::keys;
using tp::db::FieldInfo;
namespace ad = tp::db::adtype;

namespace {

// Columns as the run creates them: char fields are fixed width, varchar
// fields are not.
const std::vector<FieldInfo> kColumns = {{"orderid", ad::Integer},  {"customerid", ad::Char},
                                         {"territoryid", ad::Char}, {"companyname", ad::Char},
                                         {"orderdate", ad::DBDate}, {"shipped", ad::DBTimeStamp},
                                         {"line_no", ad::Numeric},  {"order_id", ad::Char},
                                         {"note", ad::VarChar},     {"CATEGORYID", ad::Integer},
                                         {"c1", ad::Char},          {"c2", ad::Char},
                                         {"c3", ad::Char},          {"c4", ad::Char},
                                         {"c5", ad::Char},          {"c6", ad::Char},
                                         {"c7", ad::Char},          {"c8", ad::Char},
                                         {"c9", ad::Char},          {"c10", ad::Char},
                                         {"c11", ad::Char},         {"customerty", ad::Char}};

std::string render(const Translation& t) {
    if (!t.ok()) return "! " + t.reason;
    std::string s;
    for (const KeyColumn& c : t.columns) s += (s.empty() ? "" : ", ") + c.name + (c.descending ? " DESC" : "");
    for (const auto& [column, function] : t.leadingBlanksIgnored) s += " |" + function + ":" + column;
    return s;
}

}  // namespace

// The corpus's real expressions first (Northwind and the test data), then
// the forms that must not pass as a column list.
TEST(KeysTranslation, ExpressionsToColumnsOrReasons) {
    struct Case {
        std::string expression, filter;
        bool descending;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"customerid", "", false, "customerid"},
        {"UPPER(companyname)", "", false, "companyname"},
        {"categoryid", "", true, "CATEGORYID DESC"},
        {"ALLTRIM(UPPER(territoryid))", "", false, "territoryid |ALLTRIM:territoryid"},
        {"order_id+STR(line_no,5,0)", "", false, "order_id, line_no"},
        {"STR(orderid)+STR(line_no)", "", true, "orderid DESC, line_no DESC"},
        {"customerid+DTOS(orderdate)+TTOC(shipped,1)", "", false, "customerid, orderdate, shipped"},
        {"UPPER(customerid+companyname)", "", false, "customerid, companyname"},
        {"  Orders.CustomerID ", "", false, "customerid"},
        {"orders->customerid", "", false, "customerid"},
        {"UPPE(RTRI(companyname))", "", false, "companyname"},  // FoxPro's four-letter abbreviations
        {"customerid+TRIM(companyname)", "", false, "customerid, companyname"},
        {"customerid+note", "", false, "customerid, note"},
        {"LOWER(LTRIM(companyname))", "", false, "companyname |LTRIM:companyname"},
        {"UPPER(customertypeid)", "", false, "customerty"},  // a container's table read as a free table
        // Left out, each with its reason.
        {"customerid", "!DELETED()", false, "! it has a FOR filter (!DELETED()), and an Access index covers every row"},
        {"LEFT(customerid,3)", "", false, "! LEFT() has no faithful Access index form"},
        {"SUBSTR(customerid,2)+orderid", "", false, "! SUBSTR() has no faithful Access index form"},
        {"customerid+\"x\"", "", false, "! the expression \"customerid+\"x\"\" has no faithful Access index form"},
        {"DTOS(orderdate", "", false, "! the expression \"DTOS(orderdate\" has no faithful Access index form"},
        {"region", "", false, "! \"region\" is not a column of the Access table"},
        {"customers.customerid", "", false, "! \"customers.customerid\" names a field of another table"},
        {"TRIM(companyname)+customerid", "", false,
         "! TRIM() inside a concatenation lets its part run into the next, so the key is not a list of columns"},
        {"ALLTRIM(customerid+companyname)", "", false,
         "! ALLTRIM() over a concatenation has no faithful Access index form"},
        {"note+customerid", "", false,
         "! \"note\" has no fixed width, so its part of the concatenation runs into the next"},
        {"STR(orderid)+STR(orderid)", "", false,
         "! it names \"orderid\" twice, and an Access index holds a column once"},
        {"TTOC(shipped)", "", false, "shipped"},
        {"TTOC(shipped,2)", "", false, "! TTOC() is used here in a way that has no faithful Access index form"},
        {"c1+c2+c3+c4+c5+c6+c7+c8+c9+c10", "", false, "c1, c2, c3, c4, c5, c6, c7, c8, c9, c10"},
        {"c1+c2+c3+c4+c5+c6+c7+c8+c9+c10+c11", "", false, "! it has 11 columns, and an Access index holds at most 10"},
        {"", "", false, "! the expression \"\" has no faithful Access index form"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(render(translate(c.expression, c.filter, c.descending, kColumns, "orders")), c.expected)
            << c.expression;
}

TEST(KeysStatements, IndexesRelationsAndNames) {
    const std::vector<KeyColumn> two = {{"orderid", false}, {"productid", true}};
    Tag tag{"orderdetails", "PRIMARYKEY", "", "", "PRIMARY", "", true};
    EXPECT_EQ(indexStatement(tag, "orderdetails", two),
              "ALTER TABLE [orderdetails] ADD CONSTRAINT [PRIMARYKEY] PRIMARY KEY ([orderid], [productid])");
    tag.kind = "CANDIDATE";
    EXPECT_EQ(indexStatement(tag, "orderdetails", two),
              "CREATE UNIQUE INDEX [PRIMARYKEY] ON [orderdetails] ([orderid], [productid] DESC)");
    tag.kind = "UNIQUE";  // FoxPro's UNIQUE does not refuse duplicates
    EXPECT_EQ(indexStatement(tag, "orderdetails", two),
              "CREATE INDEX [PRIMARYKEY] ON [orderdetails] ([orderid], [productid] DESC)");

    Relation r{"Relation 1", "customers", "CUSTOMERID", "orders", "CUSTOMERID", true, false, ""};
    const std::vector<KeyColumn> one = {{"customerid", false}};
    EXPECT_EQ(relationStatement(r, "customersorders", one, one),
              "ALTER TABLE [orders] ADD CONSTRAINT [customersorders] FOREIGN KEY ([customerid]) REFERENCES "
              "[customers] ([customerid]) ON UPDATE CASCADE");
    r.deleteCascades = true;
    EXPECT_NE(relationStatement(r, "x", one, one).find(" ON UPDATE CASCADE ON DELETE CASCADE"), std::string::npos);
    EXPECT_EQ(dropRelationStatement({"customersorders", "customers", "orders"}),
              "ALTER TABLE [orders] DROP CONSTRAINT [customersorders]");

    std::set<std::string> taken = {"customersorders"};
    EXPECT_EQ(relationName("customers", "orders", taken), "customersorders1");
    EXPECT_EQ(relationName("Customers", "Orders", taken), "CustomersOrders2");
    const std::string longName = relationName(std::string(40, 'p'), std::string(40, 'c'), taken);
    EXPECT_EQ(longName.size(), 64u);
    EXPECT_EQ(relationName(std::string(40, 'p'), std::string(40, 'c'), taken),
              std::string(40, 'p') + std::string(23, 'c') + "1");
}

// Field defaults: the plain literals FoxPro keeps, as values of the kind the
// reader gives for the field, and what is left out with its reason.
TEST(KeysDefaults, LiteralsToValuesOrReasons) {
    struct Case {
        const char* expression;
        int type;
        int size;
        const char* want;  // the value's text, "none", or "! reason"
    };
    const Case cases[] = {
        {" 1 ", ad::Integer, 0, "1"},
        {"-2147483648", ad::Integer, 0, "-2147483648"},
        {"2147483648", ad::Integer, 0, "! the number does not fit the field"},
        {"1.5", ad::Integer, 0, "! the number does not fit the field"},
        {"-0.25", ad::Currency, 0, "-0.2500"},
        {"0.00001", ad::Currency, 0, "! the number does not fit the field"},
        {".5", ad::Numeric, 0, "0.5"},
        {"+007.50", ad::Numeric, 0, "7.50"},
        {"1e3", ad::Double, 0, "! it is not a plain literal"},
        {".f.", ad::Boolean, 0, "false"},
        {".Y.", ad::Boolean, 0, "true"},
        {"1", ad::Boolean, 0, "! a number is no value of the field"},
        {"[O'Neil]", ad::Char, 10, "O'Neil"},
        {"\"abc\"", ad::Char, 2, "! the string is longer than the field"},
        {"'a'+'b'", ad::Char, 10, "! it is not a plain literal"},
        {"\"\"", ad::Char, 10, "none"},
        {"'x'", ad::Integer, 0, "! a string is no value of the field"},
        {"{^2001-02-03}", ad::DBDate, 0, "2001-02-03"},
        {"{^2001/2/3 1:04:05 PM}", ad::DBTimeStamp, 0, "2001-02-03T13:04:05"},
        {"{^2001-02-30}", ad::DBDate, 0, "! it is not a plain literal"},
        {"{ / / }", ad::DBDate, 0, "none"},
        {".NULL.", ad::Integer, 0, "none"},
        {"newid()", ad::Integer, 0, "! it is not a plain literal"},
        {"DATE()", ad::DBDate, 0, "! it is not a plain literal"},
    };
    for (const Case& c : cases) {
        const DefaultTranslation t = translateDefault(c.expression, FieldInfo{"f", c.type, c.size});
        const std::string got = !t.reason.empty() ? "! " + t.reason
                                : t.value         ? tp::db::toIsoText(*t.value)
                                                  : std::string("none");
        EXPECT_EQ(got, c.want) << c.expression;
    }
}

// Rules, their messages and default expressions: what Access evaluates
// alike is translated, the rest is left out with the part that differs.
TEST(KeysRules, FoxProExpressionsToAccessOrReasons) {
    auto field = [](const char* name, char type, int size = 0) {
        FieldInfo f{name, ad::Empty, size};
        f.sourceType = type;
        return f;
    };
    const std::vector<FieldInfo> fields = {field("discount", 'N'), field("code", 'C', 2), field("name", 'C', 20),
                                           field("notes", 'M'),    field("born", 'D'),    field("done", 'L'),
                                           field("nick", 'V', 10), field("photo", 'G')};
    struct Case {
        const char* rule;
        const char* column;  // empty: a record rule
        const char* want;
    };
    const Case cases[] = {
        {"discount=>0.AND.discount<1", "discount", "[discount]>=0 And [discount]<1"},
        {"BETW(discount, 0, 1) OR ISNULL(discount)", "discount", "[discount] Between 0 And 1 Or [discount] Is Null"},
        {"!EMPTY(name)", "name", "Not Trim([name])=''"},
        {".NOT. EMPTY(notes)", "notes", "Not ([notes] Is Null Or Trim([notes])='')"},
        {"EMPTY(discount) or empty(born) or EMPTY(done)", "", "[discount]=0 Or [born] Is Null Or [done]=False"},
        {"born < DATE() AND born >= {^1900-01-01}", "born", "[born]<Date() And [born]>=#1900-01-01#"},
        {"INLIST(code, '11', \"22\")", "code", "[code] In ('11','22')"},
        {"UPPE(ALLTRIM(name)) == 'SMITH'", "name", "UCase(Trim([name]))='SMITH'"},
        {"LEN(ALLTRIM(name)) > 2 AND done = .T.", "", "Len(Trim([name]))>2 And [done]=True"},
        {"(discount + 1) * 2 - -discount ^ 2 > 0", "discount", "([discount]+1)*2--[discount]^2>0"},
        {"orders.discount # 5", "discount", "[discount]<>5"},
        // Left out.
        {"name = 'Smith'", "name", "! FoxPro compares text with regard to case, and Access does not"},
        {"UPPER(name) = 'SMITH'", "name",
         "! FoxPro compares text with its trailing blanks and up to the length of its right side"},
        {"code = '1'", "code",
         "! FoxPro compares text with its trailing blanks and up to the length of its right side"},
        {"name > 'M'", "name", "! it orders text, which Access sorts by its own order"},
        {"discount < born", "", "! it compares values of different kinds"},
        {"INLIST(code, 'A1')", "code", "! FoxPro compares text with regard to case, and Access does not"},
        {"discount > 0 AND code == '11'", "discount",
         "! it names the field code, and an Access field rule can name only its own field"},
        {"discount % 2 = 0", "discount", "! FoxPro's % keeps the divisor's sign, and Access's Mod the dividend's"},
        {"ROUND(discount, 2) = discount", "discount", "! ROUND() has no Access form that gives the same result"},
        {"LEN(name) > 0", "name", "! LEN() of a padded field is its width in FoxPro"},
        {"ISNULL(born)", "born", "! an empty FoxPro date becomes Null in Access"},
        {"born > {01/02/2001}", "born", "! the date {01/02/2001} depends on FoxPro's SET DATE"},
        {"EMPTY(photo)", "photo", "! the field photo is of a kind no rule can test"},
        {"discount + 1", "discount", "! it does not give a logical value"},
        {"nosuch > 1", "", "! \"nosuch\" is no field of the table"},
        {"discount > 0 discount", "discount", "! \"discount\" cannot be read"},
    };
    for (const Case& c : cases) {
        const auto t = tp::convert::expression::rule(c.rule, fields, c.column);
        EXPECT_EQ(t.ok() ? t.access : "! " + t.reason, c.want) << c.rule;
    }
    EXPECT_EQ(tp::convert::expression::message(" \"Can't be in the future.\" ").access, "Can't be in the future.");
    EXPECT_FALSE(tp::convert::expression::message("\"Max \" + STR(10)").ok());
    EXPECT_EQ(tp::convert::expression::defaultValue("date( )", field("d", 'D')).access, "Date()");
    EXPECT_EQ(tp::convert::expression::defaultValue("DATETIME()", field("t", 'T')).access, "Now()");
    EXPECT_FALSE(tp::convert::expression::defaultValue("DATETIME()", field("d", 'D')).ok());
    EXPECT_FALSE(tp::convert::expression::defaultValue("SYS(2015)", field("c", 'C', 10)).ok());
}

// The container's notes become the properties of the Access columns, in
// one ALTER TABLE ... SET each; what has no form is told.
TEST(KeysRules, PropertiesPlannedAndStatements) {
    FieldInfo price{"price", ad::Numeric, 10};
    price.sourceType = 'N';
    FieldInfo code{"code", ad::Char, 5};
    code.sourceType = 'C';
    const std::vector<FieldInfo> fields = {price, code};
    SourceProperties p{"items", "price", "Unit's price", "What it costs", "price >= 0", "\"Not below 0.\"", "999.99",
                       "$",     ""};
    const PlannedProperties planned = planProperties(p, &fields[0], fields);
    EXPECT_TRUE(planned.leftOut.empty());
    EXPECT_EQ(propertiesStatement("items", planned.column, planned.settings),
              "ALTER TABLE [items] ALTER COLUMN [price] SET Caption = 'Unit''s price', Description = 'What it costs', "
              "ValidationRule = '[price]>=0', ValidationText = 'Not below 0.', Format = 'Currency', "
              "InputMask = '###.##'");
    SourceProperties c{
        "items", "code", "", "", "code = 'x'", "\"bad\"", "!XXXX", "!A", "a record at byte 9 is damaged"};
    const PlannedProperties left = planProperties(c, &fields[1], fields);
    EXPECT_TRUE(left.settings.empty());
    ASSERT_EQ(left.leftOut.size(), 4u);
    EXPECT_EQ(left.leftOut[0],
              "items, field code: the properties after the damage were left out, as a record at byte 9 is damaged");
    EXPECT_EQ(left.leftOut[3],
              "items, field code: the input mask !XXXX was left out, as its \"!\" has no Access placeholder that "
              "accepts the same");
    SourceProperties table{"items", "", "", "Stock", "price > 0 OR code == '12345'", "", "", "", ""};
    const PlannedProperties own = planProperties(table, nullptr, fields);
    EXPECT_EQ(propertiesStatement("items", own.column, own.settings),
              "ALTER TABLE [items] SET Description = 'Stock', ValidationRule = '[price]>0 Or [code]=''12345'''");
}
