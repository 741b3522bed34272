// The sample data of the program folder and the first thing a user does with
// it: both sample buttons, then Start Converting in plain mode.
#include <QCheckBox>
#include <QLineEdit>

#include <filesystem>

#include "app/form1.h"
#include "db/ado.h"
#include "tests/gui/gui_support.h"
#include "ui/qt/pointer.h"

namespace fs = std::filesystem;

namespace {

fs::path builtSamples() { return fs::path(TP_BINARY_DIR) / "Samples"; }

bool contains(const std::string& hay, const std::string& needle) {
    return hay.find(needle) != std::string::npos;
}

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

class SampleRun : public tp::test::GuiTest {};

TEST_F(SampleRun, BothSampleButtonsThenStartConvertingFillsTheSampleDatabase) {
    if (!tp::test::mdbReaderAvailable()) GTEST_SKIP() << "mdb-reader not available";
    if (!fs::exists(builtSamples() / "sample.mdb")) GTEST_SKIP() << "no sample.mdb in this build";
    fs::copy(builtSamples(), program.path() / "Samples", fs::copy_options::recursive);
    tp::db::registerBuiltinProviders();
    tp::app::Form1 form;
    form.endProgram = [](int) {};
    form.Form_Load();
    form.PushButton2_Click();
    form.PushButton4_Click();
    form.findChild<QCheckBox*>("Check1")->setChecked(false);   // plain mode
    ASSERT_FALSE(form.OptionDBC1);
    form.PushButton7_Click();
    ASSERT_FALSE(boxes->shown.empty());
    EXPECT_EQ(boxes->shown.back().text, "Done.");
    for (size_t i = 0; i + 1 < boxes->shown.size(); ++i)
        ADD_FAILURE() << "unexpected box: " << boxes->shown[i].text;

    auto dump = tp::test::mdbReaderDump((program.path() / "Samples" / "sample.mdb").string());
    ASSERT_EQ(dump.exitCode, 0) << dump.err;
    EXPECT_TRUE(contains(dump.out, "{\"name\":\"orders\",\"rowCount\":2999")) << dump.out.substr(0, 400);
    EXPECT_TRUE(contains(dump.out, "{\"name\":\"customers\",\"rowCount\":7"));
    EXPECT_TRUE(contains(dump.out, "{\"name\":\"products\",\"rowCount\":16"));
    EXPECT_TRUE(contains(dump.out, "{\"name\":\"empty_values\",\"rowCount\":3"));
    EXPECT_TRUE(contains(dump.out, "São Paulo Importações"));
    // The build's own sample database stays empty.
    auto fresh = tp::test::mdbReaderDump((builtSamples() / "sample.mdb").string());
    ASSERT_EQ(fresh.exitCode, 0) << fresh.err;
    EXPECT_FALSE(contains(fresh.out, "rowCount")) << fresh.out.substr(0, 200);
}

}  // namespace
