// The repair a user makes in the SQL preview, through the real windows, run
// and engine: one table's statements broken with Find and Replace, Execute
// SQL stops at the broken line with the target as before the click, the
// repair is made and Execute SQL runs again; the target then holds every
// table once and whole. Per file, per table, and with "< Back" pressed while
// Execute SQL runs.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <deque>
#include <filesystem>
#include <functional>
#include <map>

#include "app/main_window.h"
#include "db/ado.h"
#include "preview/sql_preview_window.h"
#include "preview/find_replace_dialog.h"
#include "tests/gui/gui_support.h"
#include "host/events.h"

namespace fs = std::filesystem;
using tp::preview::FindReplaceDialog;
using tp::preview::SqlPreviewWindow;

namespace {

using tp::test::builtSamples;
using tp::test::whenModal;

class PreviewRepair : public tp::test::SampleRunTest {
protected:
    void SetUp() override {
        SampleRunTest::SetUp();
        if (IsSkipped()) return;
        form->findChild<QCheckBox*>("Check1")->setChecked(true);
    }

    // Find and Replace through its window, in every line.
    static void replaceAll(SqlPreviewWindow& f, const QString& find, const QString& by) {
        whenModal("Form3", [find, by] {
            auto* w = qobject_cast<FindReplaceDialog*>(QApplication::activeModalWidget());
            w->findEdit->setText(find);
            w->replaceEdit->setText(by);
            w->replaceButton->click();
        });
        f.findReplaceButton->click();
    }

    static std::map<std::string, int> whole() {
        return {{"customers", 7}, {"empty_values", 3}, {"orders", 2999}, {"products", 16}};
    }

    // Breaks the products table's INSERTs, executes (the failure is shown,
    // the target unchanged), repairs them.
    void breakExecuteRepair(SqlPreviewWindow& f) {
        const auto before = targetTables();
        replaceAll(f, "INSERT INTO [products]", "INSERT INTO [products] BROKEN");
        f.executeButton->click();
        EXPECT_TRUE(f.isVisible());
        EXPECT_GT(f.errorLine(), 0);
        EXPECT_NE(f.statements().line(f.errorLine() - 1).find("BROKEN"), std::string::npos);
        EXPECT_FALSE(f.errorText().empty());
        EXPECT_EQ(targetTables(), before) << "the failed Execute SQL left something behind";
        replaceAll(f, "[products] BROKEN", "[products]");
        ++repaired;
    }

    int repaired = 0;
};

bool shows(const std::vector<tp::test::RecordingBoxes::Shown>& boxes, const std::string& text) {
    for (const auto& b : boxes)
        if (b.text == text) return true;
    return false;
}

// The samples' two logical fields that allow NULL become numbers: the end
// of a whole run says so, then lists them.
const char* const kSamplesDone =
    "Done.\r\n\r\n4 tables converted.\r\n2 fields left out or kept in another kind; the list follows.";

TEST_F(PreviewRepair, PerFileBreakExecuteRepairExecuteGivesEveryTableOnceAndWhole) {
    form->findChild<QRadioButton*>("Option1")->setChecked(true);
    startConverting({[this](SqlPreviewWindow& f) {
        breakExecuteRepair(f);
        f.executeButton->click();
    }});
    EXPECT_EQ(repaired, 1);
    EXPECT_TRUE(shows(boxes->shown, "Error found."));
    EXPECT_TRUE(shows(boxes->shown, kSamplesDone));
    EXPECT_EQ(targetTables(), whole());
}

TEST_F(PreviewRepair, PerTableBreakExecuteRepairExecuteGivesEveryTableOnceAndWhole) {
    form->findChild<QRadioButton*>("Option2")->setChecked(true);
    std::deque<std::function<void(SqlPreviewWindow&)>> script;
    for (int i = 0; i < 4; ++i)
        script.push_back([this](SqlPreviewWindow& f) {
            if (f.statements().line(0).find("[products]") != std::string::npos) breakExecuteRepair(f);
            f.executeButton->click();
        });
    startConverting(std::move(script));
    EXPECT_EQ(repaired, 1);
    EXPECT_TRUE(shows(boxes->shown, kSamplesDone));
    EXPECT_EQ(targetTables(), whole());
}

TEST_F(PreviewRepair, BackDuringExecuteUndoesItThenTheNextRunGivesEveryTableOnceAndWhole) {
    form->findChild<QRadioButton*>("Option1")->setChecked(true);
    int progressAtBack = -1;
    startConverting({[&](SqlPreviewWindow& f) {
        breakExecuteRepair(f);
        // "< Back" once Execute SQL is well under way (every line yields, so
        // the press comes however fast the lines run).
        tp::setEventThrottleMs(0);
        auto* press = new QTimer(&f);
        press->setInterval(0);
        QObject::connect(press, &QTimer::timeout, [&f, press, &progressAtBack] {
            if (!f.isExecuting() || f.progressValue() < 40) return;
            progressAtBack = f.progressValue();
            press->stop();
            tp::setEventThrottleMs(15);
            f.backButton->click();
        });
        press->start();
        f.executeButton->click();
        EXPECT_FALSE(f.isVisible());
    }});
    tp::setEventThrottleMs(15);
    EXPECT_GE(progressAtBack, 40);
    EXPECT_EQ(boxes->shown.back().text,
              "Done.\r\n\r\nNo table was converted.\r\n4 tables undone: what Execute SQL had written was taken back.");
    EXPECT_TRUE(targetTables().empty());
    // Once more, executed to its end.
    startConverting({[](SqlPreviewWindow& f) { f.executeButton->click(); }});
    EXPECT_EQ(targetTables(), whole());
}

}  // namespace
