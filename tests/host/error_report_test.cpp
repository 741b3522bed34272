#include "host/error_report.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "db/error.h"
#include "tests/support/support.h"
#include "host/utilities.h"

using tp::Procedure;
using tp::test::RecordingBoxes;

namespace {

void fail(const char* what) { throw std::runtime_error(what); }

}  // namespace

TEST(ErrorReport, TextIsBuiltByteForByte) {
    EXPECT_EQ(tp::errorReportText("Object required", "Larkspan2021/08/31.Form5.Form_Load", 104),
              "Object required\r\nin Larkspan2021/08/31.Form5.Form_Load at line 104\r\r"
              "Please email screenshot of this message to support@tallyport.app");
    // An empty description makes the text begin with the line break.
    EXPECT_EQ(tp::errorReportText("", "X", 100).substr(0, 6), "\r\nin X");
}

TEST(ErrorReport, FailingStepShowsBoxAndProcedureGoesOn) {
    RecordingBoxes boxes;
    Procedure p("Form1", "Form_Load", boxes);
    std::vector<int> ran;
    p(100, [&] { fail("first"); });
    p(102, [&] { ran.push_back(102); });
    p(104, [&] { throw tp::db::Error(3706, "Provider cannot be found."); });
    p(106, [&] { ran.push_back(106); });
    EXPECT_EQ(ran, (std::vector<int>{102, 106}));
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].title, "Application Error");
    EXPECT_EQ(boxes.shown[0].style, 48);
    EXPECT_NE(boxes.shown[0].text.find("first\r\nin Larkspan2021/08/31.Form1.Form_Load at line 100\r\r"),
              std::string::npos);
    EXPECT_NE(boxes.shown[1].text.find("at line 104"), std::string::npos);
    EXPECT_EQ(p.failures(), 2);
}

TEST(ErrorReport, FailingConditionRunsTheGuardedBranch) {
    RecordingBoxes boxes;
    Procedure p("Form1", "Form_Load", boxes);
    bool branch = false;
    if (p.test(104, []() -> bool { throw std::runtime_error("Bad file name"); })) p(106, [&] { branch = true; });
    EXPECT_TRUE(branch);
    EXPECT_FALSE(p.test(108, [] { return false; }));
    ASSERT_EQ(boxes.shown.size(), 1u);
}

TEST(ErrorReport, FailureInsideUtilityNamesTheCaller) {
    RecordingBoxes boxes;
    Procedure p("Form2", "PushButton5_Click", boxes);
    tp::VectorListBox list;
    // removeItem past the end throws inside the utility's caller step.
    p(112, [&] { list.item(3); });
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_NE(boxes.shown[0].text.find("in Larkspan2021/08/31.Form2.PushButton5_Click at line 112"), std::string::npos);
}

TEST(ErrorReport, RepeatedFailuresCanBeCountedOnce) {
    RecordingBoxes boxes;
    Procedure p("Form1", "PushButton7_Click", boxes);
    p.setReportRepeatsOnce(true);
    for (int i = 0; i < 3; ++i) p(440, [] { fail("Syntax error in INSERT INTO statement."); });
    p(440, [] { fail("another"); });
    p(186, [] { fail("Syntax error in INSERT INTO statement."); });
    EXPECT_EQ(boxes.shown.size(), 3u);
    EXPECT_EQ(p.failures(), 5);
}

TEST(ErrorReport, ValueStepFallsBack) {
    RecordingBoxes boxes;
    Procedure p("Foxpro", "AddTablesToFoxproListbox", boxes);
    EXPECT_EQ(p.value(
                  110, []() -> int { throw std::runtime_error("x"); }, -1),
              -1);
    EXPECT_EQ(p.value(
                  112, [] { return 5; }, -1),
              5);
    EXPECT_EQ(p.location(), "Larkspan2021/08/31.Foxpro.AddTablesToFoxproListbox");
}
