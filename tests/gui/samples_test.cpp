// The sample data of the program folder and the first thing a user does with
// it: both sample buttons, then Start Converting in plain mode.
#include <QCheckBox>
#include <QLineEdit>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "app/main_window.h"
#include "db/ado.h"
#include "tests/gui/gui_support.h"
#include "host/program_files.h"
#include "ui/pointer.h"

namespace fs = std::filesystem;

namespace {

using tp::test::builtSamples;
using tp::test::whenModal;

bool contains(const std::string& hay, const std::string& needle) { return hay.find(needle) != std::string::npos; }

TEST(Samples, FreeTablesReadBackWithAnIndependentReader) {
    if (!tp::test::dbfreadAvailable()) GTEST_SKIP() << "dbfread not available";
    ASSERT_TRUE(fs::exists(builtSamples() / "orders.dbf")) << "build the `samples` target";
    auto orders = tp::test::dbfreadDump((builtSamples() / "orders.dbf").string(), {"--strict"});
    ASSERT_EQ(orders.exitCode, 0) << orders.err;
    EXPECT_TRUE(contains(orders.out, "\"header_record_count\": 3000")) << orders.out.substr(0, 300);
    EXPECT_TRUE(contains(orders.out, "\"deleted_count\": 1"));

    auto customers = tp::test::dbfreadDump((builtSamples() / "customers.dbf").string(), {"--strict"});
    ASSERT_EQ(customers.exitCode, 0) << customers.err;
    EXPECT_TRUE(contains(customers.out, "\"encoding\": \"cp1252\""));
    EXPECT_TRUE(contains(customers.out, "Zoë's Café"));
    EXPECT_TRUE(contains(customers.out, "\"deleted_count\": 1"));
    EXPECT_TRUE(contains(customers.out, "[4, \"Müller Lebensmittel GmbH\", null, null"));
    EXPECT_TRUE(contains(customers.out, "Ça va très bien — merci!"));

    // Every field type the conversion maps is among the samples.
    std::string all;
    for (const char* t : {"customers", "orders", "products", "empty_values"}) {
        auto r = tp::test::dbfreadDump((builtSamples() / (std::string(t) + ".dbf")).string(), {"--strict"});
        ASSERT_EQ(r.exitCode, 0) << t << ": " << r.err;
        all += r.out;
    }
    for (const char* type : {"C", "V", "Q", "N", "F", "B", "I", "Y", "D", "T", "L", "M", "W"})
        EXPECT_TRUE(contains(all, std::string("\"type\": \"") + type + "\"")) << type;
}

TEST(Samples, HandPointerIsACursorWithItsHotSpotAtTheFingerTip) {
    const auto cur = fs::path(TP_BINARY_DIR) / "HAND-M.CUR";
    ASSERT_TRUE(fs::exists(cur)) << "build the `samples` target";
    const QCursor c = tp::loadCursorFile(cur.string());
    EXPECT_EQ(c.hotSpot(), QPoint(11, 1));
    EXPECT_EQ(c.pixmap().size(), QSize(32, 32));
}

// The sample run in both layouts of the program's files: the build folder
// (samples beside the program, used in place) and an installed program
// (samples in a shared folder the user may not write; the buttons use the
// user's own copy of them).
class SampleRun : public tp::test::GuiTest, public ::testing::WithParamInterface<bool> {
protected:
    void TearDown() override {
        tp::setSharedDataFolder("");
        for (const auto& e : fs::recursive_directory_iterator(shared.path()))
            fs::permissions(e.path(), fs::perms::owner_write, fs::perm_options::add);
        if (savedDataHome) ::setenv("XDG_DATA_HOME", savedDataHome->c_str(), 1);
        else ::unsetenv("XDG_DATA_HOME");
        GuiTest::TearDown();
    }
    void setDataHome(const std::string& dir) {
        if (!savedDataHome && std::getenv("XDG_DATA_HOME")) savedDataHome = std::getenv("XDG_DATA_HOME");
        ::setenv("XDG_DATA_HOME", dir.c_str(), 1);
    }
    QString text(tp::app::MainWindow& form, const char* name) { return form.findChild<QLineEdit*>(name)->text(); }
    tp::test::TempDir shared, dataHome;
    std::optional<std::string> savedDataHome;
};

TEST_P(SampleRun, BothSampleButtonsThenStartConvertingFillsTheSampleDatabase) {
    if (!tp::test::mdbReaderAvailable()) GTEST_SKIP() << "mdb-reader not available";
    if (!fs::exists(builtSamples() / "sample.mdb")) GTEST_SKIP() << "no sample.mdb in this build";
    const bool installed = GetParam();
    fs::path samples = program.path() / "Samples";
    fs::path pristine = builtSamples() / "sample.mdb";
    if (installed) {
        fs::copy(builtSamples(), shared.path() / "Samples", fs::copy_options::recursive);
        fs::copy_file(fs::path(TP_BINARY_DIR) / "HAND-M.CUR", shared.path() / "HAND-M.CUR");
        for (const auto& e : fs::recursive_directory_iterator(shared.path()))
            fs::permissions(e.path(), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                            fs::perm_options::remove);
        tp::setSharedDataFolder(shared.path().string());
        samples = dataHome.path() / "tallyport" / "Samples";
        pristine = shared.path() / "Samples" / "sample.mdb";
    } else {
        fs::copy(builtSamples(), samples, fs::copy_options::recursive);
        fs::copy_file(fs::path(TP_BINARY_DIR) / "HAND-M.CUR", program.path() / "HAND-M.CUR");
    }
    const std::string pristineBytes = tp::test::readFile(pristine.string());
    tp::db::registerBuiltinProviders();
    tp::app::MainWindow form;
    form.endProgram = [](int) {};
    form.load();
    EXPECT_TRUE(form.pointer().hasCustomImage());
    if (installed) {
        // A data folder that cannot be made is reported; the field stays as it was.
        tp::test::writeFile(dataHome.file("file"), "");
        setDataHome(dataHome.file("file"));
        form.useSampleSource();
        ASSERT_EQ(boxes->shown.size(), 1u);
        EXPECT_NE(boxes->shown[0].text.find("The samples could not be copied to " + dataHome.file("file")),
                  std::string::npos)
            << boxes->shown[0].text;
        EXPECT_EQ(text(form, "Text2"), "");
        boxes->shown.clear();
        setDataHome(dataHome.path().string());
    }
    form.useSampleSource();
    form.useSampleTarget();
    EXPECT_EQ(text(form, "Text2").toStdString(), samples.string());
    EXPECT_EQ(text(form, "Text5").toStdString(), (samples / "sample.mdb").string());
    form.findChild<QCheckBox*>("Check1")->setChecked(false);  // plain mode
    ASSERT_FALSE(form.useDbcSource);
    form.startConversion();
    // The samples' logical fields that allow NULL become numbers, and the
    // end says so.
    ASSERT_EQ(boxes->shown.size(), 2u);
    EXPECT_EQ(boxes->shown[0].text,
              "Done.\r\n\r\n4 tables converted.\r\n2 fields left out or kept in another kind; the list follows.");
    EXPECT_TRUE(contains(boxes->shown[1].text, "customers, field ACTIVE: logical field that allows NULL"))
        << boxes->shown[1].text;

    auto dump = tp::test::mdbReaderDump((samples / "sample.mdb").string());
    ASSERT_EQ(dump.exitCode, 0) << dump.err;
    EXPECT_TRUE(contains(dump.out, "{\"name\":\"orders\",\"rowCount\":2999")) << dump.out.substr(0, 400);
    EXPECT_TRUE(contains(dump.out, "{\"name\":\"customers\",\"rowCount\":7"));
    EXPECT_TRUE(contains(dump.out, "{\"name\":\"products\",\"rowCount\":16"));
    EXPECT_TRUE(contains(dump.out, "{\"name\":\"empty_values\",\"rowCount\":3"));
    EXPECT_TRUE(contains(dump.out, "São Paulo Importações"));
    // The build's (or the installed) sample database stays empty.
    auto fresh = tp::test::mdbReaderDump(pristine.string());
    ASSERT_EQ(fresh.exitCode, 0) << fresh.err;
    EXPECT_FALSE(contains(fresh.out, "rowCount")) << fresh.out.substr(0, 200);
    EXPECT_EQ(tp::test::readFile(pristine.string()), pristineBytes);

    if (installed) {
        // Using the samples again keeps the converted database and brings back
        // what the user deleted from the copy.
        const std::string converted = tp::test::readFile((samples / "sample.mdb").string());
        fs::remove(samples / "products.dbf");
        form.useSampleTarget();
        form.useSampleSource();
        EXPECT_EQ(tp::test::readFile((samples / "sample.mdb").string()), converted);
        EXPECT_EQ(tp::test::readFile((samples / "products.dbf").string()),
                  tp::test::readFile((builtSamples() / "products.dbf").string()));
        EXPECT_EQ(text(form, "Text2").toStdString(), samples.string());
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, SampleRun, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Installed" : "BuildFolder"; });

}  // namespace
