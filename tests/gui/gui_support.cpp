#include "tests/gui/gui_support.h"

#include <QApplication>
#include <QDir>

#include "app/settings.h"
#include "host/utilities.h"

namespace {

// One application object for the whole test program.
class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "tp_test_gui";
        static char* argv[] = {name, nullptr};
        if (!qgetenv("QT_QPA_PLATFORM").size()) qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] auto* const g_env = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

namespace tp::test {

void GuiTest::SetUp() {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(config.path().string()));
    app::reopenSettings();
    setProgramFolder(program.path().string());
    boxes = std::make_unique<ScopedBoxes>(mb::No);
    setDialogs(&dialogs);
}

void GuiTest::TearDown() {
    setDialogs(nullptr);
    boxes.reset();
    app::reopenSettings();
}

std::string GuiTest::settingsFile() const { return config.file("Brindlewood/Tallyport.conf"); }

std::string GuiTest::stored(const std::string& key, const std::string& absent) const {
    QSettings s(QString::fromStdString(settingsFile()), QSettings::IniFormat);
    const QVariant v = s.value(QString("Tallyport/") + QString::fromStdString(key));
    return v.isValid() ? v.toString().toStdString() : absent;
}

void GuiTest::store(const std::string& key, const std::string& value) {
    QDir().mkpath(QString::fromStdString(config.file("Brindlewood")));
    QSettings s(QString::fromStdString(settingsFile()), QSettings::IniFormat);
    s.setValue(QString("Tallyport/") + QString::fromStdString(key), QString::fromStdString(value));
    s.sync();
}

}  // namespace tp::test
