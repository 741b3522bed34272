// `tallyport convert` as a user runs it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/foxpro/dbf_builder.h"
#include "tests/support/support.h"

namespace fs = std::filesystem;
using namespace tp::test;

namespace {

class CliConvert : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(tallyportExe())) GTEST_SKIP() << "tallyport is not built";
        folder = corpusPath("foxpro/javadbf/foxpro-xsource").string();
        if (!fs::exists(folder)) GTEST_SKIP() << folder << " is missing";
    }
    CommandResult convert(std::vector<std::string> args) {
        args.insert(args.begin(), {tallyportExe(), "convert"});
        return runCommand(args);
    }
    int lines(const std::string& s) { return static_cast<int>(std::count(s.begin(), s.end(), '\n')); }

    TempDir dir;
    std::string folder;
};

}  // namespace

TEST_F(CliConvert, BadUsageExitsWithTwo) {
    const std::string t = dir.file("t.mdb");
    EXPECT_EQ(convert({}).exitCode, 2);
    EXPECT_EQ(convert({"--folder", folder}).exitCode, 2);  // no target
    EXPECT_EQ(convert({"--target", t}).exitCode, 2);       // no source
    EXPECT_EQ(convert({"--folder", folder, "--dbc", "x.dbc", "--target", t}).exitCode, 2);
    EXPECT_EQ(convert({"--folder", folder, "--target", t, "--overwrite", "maybe"}).exitCode, 2);
    EXPECT_EQ(convert({"--folder", folder, "--target", t, "--bogus"}).exitCode, 2);
    EXPECT_EQ(convert({"--folder", folder, "--target", t, "--keys", "maybe"}).exitCode, 2);
    EXPECT_EQ(convert({"--folder", folder, "--target"}).exitCode, 2);
    EXPECT_FALSE(fs::exists(t));
}

TEST_F(CliConvert, CreatesTheTargetAndSummarises) {
    const std::string t = dir.file("new.mdb");
    auto r = convert({"--folder", folder, "--target", t, "--create"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "3 tables, 89 rows, 0 failed statements\n");
    EXPECT_NE(r.err.find("The database " + t + " does not exist. Would you like to create it? Yes"), std::string::npos);
    EXPECT_NE(r.err.find("Done."), std::string::npos);
    EXPECT_EQ(r.err.find("rows/s"), std::string::npos);  // no progress off a terminal
    EXPECT_TRUE(fs::exists(t));

    // Again: the tables exist now. Without a terminal the answer is No.
    r = convert({"--folder", folder, "--target", t});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "0 tables, 0 rows, 0 failed statements\n");
    EXPECT_NE(r.err.find("Overwrite?: Would you like to overwrite "), std::string::npos);
    r = convert({"--folder", folder, "--target", t, "--overwrite", "yes"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "3 tables, 89 rows, 0 failed statements\n");
}

TEST_F(CliConvert, MissingTargetWithoutCreateFails) {
    const std::string t = dir.file("none.mdb");
    auto r = convert({"--folder", folder, "--target", t});
    EXPECT_EQ(r.exitCode, 1);
    // The run stops at the answer: no cascade of failures after it.
    EXPECT_NE(r.err.find("does not exist. Would you like to create it? No"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Application Error"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(t));
}

TEST_F(CliConvert, InvalidSourceIsNamed) {
    const std::string missing = dir.file("no-such-folder");
    auto r = convert({"--folder", missing, "--target", dir.file("t.mdb"), "--create"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(missing), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir.file("t.mdb")));
}

TEST_F(CliConvert, ScriptWritesTheStatementsAndExecutesNothing) {
    const std::string t = dir.file("s.mdb");
    ASSERT_EQ(runCommand({tallyportExe(), "new", t}).exitCode, 0);
    const std::string script = dir.file("out.sql");
    auto r = convert({"--folder", folder, "--target", t, "--script", script, "--keys", "no"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::string text = readFile(script);
    EXPECT_EQ(lines(text), 3 + 89);
    EXPECT_EQ(text.rfind("CREATE TABLE [", 0), 0u);
    auto tables = runCommand({tallyportExe(), "tables", t});
    EXPECT_EQ(tables.exitCode, 0);
    EXPECT_EQ(tables.out, "");  // nothing was executed

    // With the keys (the default), the same statements and the keys' only.
    r = convert({"--folder", folder, "--target", t, "--script", script});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::istringstream withKeys(readFile(script));
    std::string rest, line;
    while (std::getline(withKeys, line))
        if (line.rfind("ALTER TABLE [", 0) != 0 && line.rfind("CREATE INDEX [", 0) != 0 &&
            line.rfind("CREATE UNIQUE INDEX [", 0) != 0)
            rest += line + "\n";
    EXPECT_EQ(rest, text);
}

TEST_F(CliConvert, AValueThatCannotBeReadCostsOnlyThatValueAndIsCounted) {
    // Record 2 holds a number that is none; FoxPro's asterisks in record 3
    // are a warning only. Under German settings the dates stay month first.
    DbfBuilder b;
    b.version = 0x03;
    b.fields = {{"N", 'N', 3}, {"D", 'D', 8}};
    b.records = {std::string(" ") + "  1" + "19960704", std::string(" ") + " x2" + "20210830",
                 std::string(" ") + "***" + "20210830", std::string(" ") + "  4" + "        "};
    fs::create_directory(dir.path() / "src");
    writeFile(dir.file("src/bad.dbf"), b.build());
    const std::string t = dir.file("t.mdb");
    auto r = runCommand({"/usr/bin/env", "LC_ALL=de_DE.UTF-8", tallyportExe(), "convert", "--folder", dir.file("src"),
                         "--target", t, "--create", "--script", dir.file("s.sql"), "--types", "text"});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(r.out, "1 table, 4 rows, 0 failed statements, 1 value not read\n");
    EXPECT_NE(r.err.find("field N of record 2"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("did not fit their field in FoxPro itself"), std::string::npos) << r.err;
    const std::string script = readFile(dir.file("s.sql"));
    EXPECT_NE(script.find("VALUES(1, '07/04/1996')"), std::string::npos) << script;
    EXPECT_NE(script.find("VALUES(NULL, '08/30/2021')"), std::string::npos) << script;
    EXPECT_NE(script.find("VALUES(4,NULL)"), std::string::npos) << script;
    EXPECT_EQ(lines(script), 5);
}

namespace {

// One PROPERTY memo record: length, id length, id, the text and its NUL.
std::string dbcProperty(uint8_t id, const std::string& text) {
    return le32(static_cast<uint32_t>(7 + text.size() + 1)) + std::string("\x01\x00", 2) + static_cast<char>(id) +
           text + '\0';
}

// A container over three of Northwind's tables, read where they lie,
// holding every kind of property the run carries: captions, comments,
// rules the rows break, their messages, masks, formats, an expression
// default, a damaged property record, a relation the rows break and one
// FoxPro does not enforce.
void writePropertiesDbc(const std::string& file) {
    const fs::path northwind = corpusPath("foxpro/VFPX-Samples-Northwind");
    auto path = [&](const char* table) {
        std::string p = fs::relative(northwind / table, fs::path(file).parent_path()).string();
        std::replace(p.begin(), p.end(), '/', '\\');
        return dbcProperty(1, p);
    };
    FptBuilder dct;
    DbfBuilder b;
    b.fields = {{"OBJECTID", 'I', 4},     {"PARENTID", 'I', 4}, {"OBJECTTYPE", 'C', 10},
                {"OBJECTNAME", 'C', 128}, {"PROPERTY", 'M', 4}, {"RIINFO", 'C', 6}};
    int id = 1;
    auto rec = [&](int parent, std::string type, std::string name, const std::string& prop, std::string ri = "") {
        type.resize(10, ' ');
        name.resize(128, ' ');
        ri.resize(6, ' ');
        const uint32_t block = prop.empty() ? 0 : dct.add(prop, 1);
        b.records.push_back(" " + le32(static_cast<uint32_t>(id)) + le32(static_cast<uint32_t>(parent)) + type + name +
                            le32(block) + ri);
        return id++;
    };
    rec(1, "Database", "Database", "");
    const int employees = rec(1, "Table", "Employees",
                              path("employees.dbf") + dbcProperty(7, "People of the firm") +
                                  dbcProperty(9, "employeeid > 5") + dbcProperty(10, "\"Only later hires.\""));
    const std::vector<std::pair<std::string, std::string>> fields = {
        {"employeeid", dbcProperty(56, "Employee ID") + dbcProperty(7, "Given to each new employee.") +
                           dbcProperty(9, "employeeid > 0") + dbcProperty(10, "\"Must be positive.\"")},
        {"lastname", dbcProperty(56, "Last Name") + dbcProperty(55, "!") + dbcProperty(54, "XXXXXXXXXXXXXXXXXXXX")},
        {"firstname", ""},
        {"title", dbcProperty(9, "title = 'Mr'")},
        {"titleofcourtesy", ""},
        {"birthdate",
         dbcProperty(9, "birthdate < DATE()") + dbcProperty(10, "\"Not in the future.\"") + dbcProperty(55, "YL")},
        {"hiredate", dbcProperty(11, "DATE()")},
        {"address", ""},
        {"city", ""},
        {"region", dbcProperty(56, "Region") + le32(999) + "\x01"},
        {"postalcode", ""},
        {"country", ""},
        {"homephone", ""},
        {"extension", ""},
        {"photo", ""},
        {"notes", dbcProperty(9, "!EMPTY(notes)")},
        {"reportsto", ""}};
    for (const auto& [name, prop] : fields) rec(employees, "Field", name, prop);
    rec(employees, "Relation", "Relation 1",
        dbcProperty(13, "REPORTSTO") + dbcProperty(18, "Employees") + dbcProperty(19, "EMPLOYEEID"), "RRI");
    const int region = rec(1, "Table", "Region", path("region.dbf"));
    rec(region, "Field", "regionid", "");
    rec(region, "Field", "regiondescription", dbcProperty(56, "Region Description"));
    const int territories = rec(1, "Table", "Territories", path("territories.dbf"));
    for (const char* f : {"territoryid", "territorydescription", "regionid"}) rec(territories, "Field", f, "");
    rec(territories, "Relation", "Relation 1",
        dbcProperty(13, "REGIONID") + dbcProperty(18, "Region") + dbcProperty(19, "REGIONID"), "III");
    writeFile(file, b.build());
    writeFile(fs::path(file).replace_extension(".dct").string(), dct.build());
}

}  // namespace

// In every Access version: the properties read back by mdbtools, the rules
// enforced by our engine with their messages, every row converted although
// the rows break a rule and a relation, and what has no Access form told.
TEST_F(CliConvert, ContainerPropertiesRulesAndUnenforcedRelationsReachEveryAccessVersion) {
    if (!fs::exists(corpusPath("foxpro/VFPX-Samples-Northwind/employees.dbf"))) GTEST_SKIP() << "no Northwind";
    if (!mdbtoolsAvailable()) GTEST_SKIP() << "mdbtools is not available";
    const std::string dbc = dir.file("props.dbc");
    writePropertiesDbc(dbc);
    for (const std::string& target : {dir.file("p.mdb"), dir.file("p.accdb"), dir.file("p97.mdb")}) {
        SCOPED_TRACE(target);
        if (target.find("97") != std::string::npos) {
            ASSERT_EQ(runCommand({tallyportExe(), "new", target, "--format", "97"}).exitCode, 0);
        }
        const auto run = convert({"--dbc", dbc, "--target", target, "--create"});
        EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
        for (const char* told :
             {"not enforced: relation Relation 1 (Employees.EMPLOYEEID to Employees.REPORTSTO): made without enforced "
              "integrity, as rows of Employees have no row of Employees to match",
              "not created: Employees, field title: the validation rule title = 'Mr' was left out, as FoxPro compares "
              "text with regard to case, and Access does not",
              "not created: Employees, field region: the properties after the damage were left out, as its property "
              "record at byte 14 of 19 is damaged"})
            EXPECT_NE(run.err.find(told), std::string::npos) << told << "\n" << run.err;
        const auto props = runCommand({"mdb-prop", target, "Employees"});
        for (const char* p :
             {"Description: People of the firm", "ValidationRule: [employeeid]>5", "ValidationText: Only later hires.",
              "Caption: Employee ID", "Description: Given to each new employee.", "ValidationRule: [employeeid]>0",
              "ValidationText: Must be positive.", "Format: >", "InputMask: CCCCCCCCCCCCCCCCCCCC",
              "ValidationRule: [birthdate]<Date()", "Format: Long Date", "DefaultValue: Date()", "Caption: Region",
              "ValidationRule: Not ([notes] Is Null Or Trim([notes])='')"})
            EXPECT_NE(props.out.find(p), std::string::npos) << p << "\n" << props.out;
        const auto schema = runCommand({"mdb-schema", "--relations", target, "mysql"});
        size_t unenforced = 0;
        for (size_t at = 0; (at = schema.out.find("does not enforce integrity", at)) != std::string::npos; ++at)
            ++unenforced;
        EXPECT_EQ(unenforced, 2u) << schema.out;
        const auto count = runCommand({tallyportExe(), "sql", target, "-e", "SELECT COUNT(*) FROM [Employees]"});
        EXPECT_NE(count.out.find("9"), std::string::npos) << count.out;
        // The rules hold from now on, with their messages; nothing changes.
        const auto low =
            runCommand({tallyportExe(), "sql", target, "-e",
                        "INSERT INTO [Employees] ([employeeid], [lastname], [notes]) VALUES (3, 'Low', 'x')"});
        EXPECT_EQ(low.exitCode, 1);
        EXPECT_NE((low.out + low.err).find("Only later hires."), std::string::npos) << low.out << low.err;
        const auto future =
            runCommand({tallyportExe(), "sql", target, "-e", "UPDATE [Employees] SET [birthdate] = #2999-01-01#"});
        EXPECT_EQ(future.exitCode, 1);
        EXPECT_NE((future.out + future.err).find("Not in the future."), std::string::npos) << future.err;
        const auto unchanged = runCommand(
            {tallyportExe(), "sql", target, "-e", "SELECT COUNT(*) FROM [Employees] WHERE [birthdate] > #2100-01-01#"});
        EXPECT_NE(unchanged.out.find("\n0"), std::string::npos) << unchanged.out;
        const auto check = runCommand({tallyportExe(), "check", target});
        EXPECT_EQ(check.out, "ok\n") << check.out << check.err;
    }
}

// Every subcommand has help of its own: every option of its usage line, an
// example, exit 0; the general usage points to it.
TEST_F(CliConvert, EverySubcommandHasHelpWithEveryOptionAndAnExample) {
    const auto usage = runCommand({tallyportExe(), "--help"});
    ASSERT_EQ(usage.exitCode, 0);
    EXPECT_NE(usage.out.find("tallyport SUBCOMMAND --help"), std::string::npos) << usage.out;
    std::istringstream lines(usage.out);
    int seen = 0;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string word, name;
        words >> word;
        if (word == "Usage:") words >> word;
        words >> name;  // after "tallyport": the subcommand
        if (word != "tallyport" || name.empty() || name[0] == '-' || name == "open") continue;
        SCOPED_TRACE(name);
        ++seen;
        for (const char* ask : {"--help", "-h"}) {
            const auto help = runCommand({tallyportExe(), name, ask});
            EXPECT_EQ(help.exitCode, 0) << help.err;
            EXPECT_EQ(help.out.rfind("Usage: tallyport " + name + " ", 0), 0u) << help.out;
            EXPECT_NE(help.out.find("\nExample:\n  tallyport " + name + " "), std::string::npos) << help.out;
            EXPECT_EQ(help.err, "");
            std::istringstream options(line);
            for (std::string option; options >> option;) {
                const size_t start = option.find('-');
                if (start == std::string::npos || option.find("--help") != std::string::npos) continue;
                option = option.substr(start, option.find_first_of("]|)", start) - start);
                EXPECT_NE(help.out.find("  " + option + " "), std::string::npos) << option << "\n" << help.out;
            }
        }
    }
    EXPECT_EQ(seen, 5);
}

// --report writes the run as JSON: the tables with their rows, the failed
// statements, the keys carried and those left out with why (northwind: a
// relation its rows break, refused by Access and told, not failed). A run
// the target refuses (immutable) is one line on stderr, nothing written,
// and its report says why.
TEST_F(CliConvert, TheReportTellsTheRunAndProblemsAreOneLineEach) {
    const std::string dbc = corpusPath("foxpro/VFPX-Samples-Northwind/northwind.dbc").string();
    if (!fs::exists(dbc)) GTEST_SKIP() << dbc << " is missing";
    const std::string t = dir.file("north.accdb"), report = dir.file("run.json");
    auto r = convert({"--dbc", dbc, "--target", t, "--create", "--report", report, "--quiet"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const nlohmann::json j = nlohmann::json::parse(readFile(report));
    EXPECT_EQ(j.at("exitStatus"), 0);
    EXPECT_EQ(j.at("target"), t);
    EXPECT_FALSE(j.contains("stopped"));
    const auto& totals = j.at("totals");
    EXPECT_EQ(r.out, std::to_string(totals.at("tables").get<int>()) + " tables, " +
                         std::to_string(totals.at("rows").get<long>()) + " rows, 0 failed statements\n");
    long rows = 0;
    for (const auto& table : j.at("tables")) {
        rows += table.at("rows").get<long>();
        EXPECT_EQ(table.at("outcome"), "converted") << table;
        EXPECT_EQ(table.at("failedStatements"), 0);
    }
    EXPECT_EQ(rows, totals.at("rows").get<long>());
    EXPECT_EQ(j.at("tables").size(), totals.at("tables").get<size_t>());
    EXPECT_TRUE(j.at("failedStatements").empty());
    EXPECT_GT(j.at("carried").size(), 5u);
    for (const auto& note : j.at("leftOut")) {
        const std::string text = note.get<std::string>();
        EXPECT_NE(r.err.find("tallyport: not created: " + text + "\n"), std::string::npos) << text;
    }
    // The relation the rows break is kept without enforced integrity.
    ASSERT_EQ(j.at("notEnforced").size(), 1u);
    EXPECT_NE(r.err.find("tallyport: not enforced: " + j.at("notEnforced")[0].get<std::string>() + "\n"),
              std::string::npos);
    EXPECT_GT(j.at("totals").at("propertiesCarried").get<int>(), 100);
    EXPECT_EQ(r.err.find("Application Error"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Larkspan"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Please email"), std::string::npos) << r.err;

    // Read-only: one message, on one line, naming the option to fix.
    if (std::system(("chattr +i '" + t + "' 2>/dev/null").c_str()) != 0) GTEST_SKIP() << "no chattr";
    const std::string before = readFile(t);
    r = convert({"--dbc", dbc, "--target", t, "--overwrite", "yes", "--report", report});
    (void)std::system(("chattr -i '" + t + "'").c_str());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "tallyport: The Access database " + t +
                         " cannot be used. The file cannot be written (Operation not permitted). Check the file in "
                         "--target.\n");
    EXPECT_EQ(readFile(t), before);
    const nlohmann::json stopped = nlohmann::json::parse(readFile(report));
    EXPECT_EQ(stopped.at("exitStatus"), 1);
    EXPECT_EQ(stopped.at("stopped"), "the source or the target could not be used");
    EXPECT_TRUE(stopped.at("tables").empty());
}

// On a terminal stderr shows table n of N, the rows, the rate and the time
// left; --quiet silences it.
TEST_F(CliConvert, ProgressShowsOnATerminalUnlessQuiet) {
    if (!fs::exists("/usr/bin/script")) GTEST_SKIP() << "no script(1) for a pseudo-terminal";
    const std::string t = dir.file("p.mdb");
    const std::string command = tallyportExe() + " convert --folder '" + folder + "' --target '" + t + "' --create";
    auto r = runCommand({"/usr/bin/script", "-qec", command, "/dev/null"});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("table 1 of 3, "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("table 3 of 3, "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" rows/s"), std::string::npos) << r.out;
    fs::remove(t);
    r = runCommand({"/usr/bin/script", "-qec", command + " --quiet", "/dev/null"});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(r.out.find("rows/s"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("3 tables, 89 rows, 0 failed statements"), std::string::npos) << r.out;
}
