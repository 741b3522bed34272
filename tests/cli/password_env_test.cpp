// The password from the environment, for scripts that must not show it in the
// process list; the command line's --password still wins.
#include <gtest/gtest.h>

#include <optional>

#include "tests/support/support.h"

using namespace tp;

namespace {

TEST(CliPassword, TakenFromTheEnvironmentWhenNotGiven) {
    test::TempDir dir;
    const auto file = dir.file("secret.mdb");
    auto env = std::make_optional<test::ScopedEnv>("TALLYPORT_PASSWORD", "s3cret;pw");
    auto made = test::runCommand({test::tallyportExe(), "new", file});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    auto listed = test::runCommand({test::tallyportExe(), "tables", file});
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    // --password on the command line wins over the environment.
    auto wrong = test::runCommand({test::tallyportExe(), "tables", file, "--password", "other"});
    EXPECT_NE(wrong.exitCode, 0);
    EXPECT_NE(wrong.err.find("Not a valid password."), std::string::npos) << wrong.err;
    EXPECT_EQ(wrong.err.find("s3cret"), std::string::npos);
    env.reset();
    auto without = test::runCommand({test::tallyportExe(), "tables", file});
    EXPECT_NE(without.exitCode, 0);
    EXPECT_NE(without.err.find("Not a valid password."), std::string::npos) << without.err;
}

}  // namespace
