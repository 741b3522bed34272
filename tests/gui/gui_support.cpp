#include "tests/gui/gui_support.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTimer>

#include "app/main_window.h"
#include "app/settings.h"
#include "db/ado.h"
#include "host/events.h"
#include "host/shell.h"
#include "preview/sql_preview_window.h"
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

void SampleRunTest::SetUp() {
    GuiTest::SetUp();
    if (!std::filesystem::exists(builtSamples() / "sample.mdb")) GTEST_SKIP() << "build the `samples` target";
    std::filesystem::copy(builtSamples(), program.path() / "Samples", std::filesystem::copy_options::recursive);
    db::registerBuiltinProviders();
    setEventPump([] { QCoreApplication::processEvents(QEventLoop::AllEvents); });
    form = std::make_unique<app::MainWindow>();
    form->endProgram = [](int) {};
    form->load();
    form->useSampleSource();
    form->useSampleTarget();
}

void SampleRunTest::TearDown() {
    form.reset();
    setEventPump(nullptr);
    setUrlOpener(nullptr);
    GuiTest::TearDown();
}

void SampleRunTest::startConverting(std::deque<std::function<void(preview::SqlPreviewWindow&)>> script) {
    auto steps = std::make_shared<std::deque<std::function<void(preview::SqlPreviewWindow&)>>>(std::move(script));
    auto busy = std::make_shared<bool>(false);
    auto* timer = new QTimer;
    timer->setInterval(2);
    QObject::connect(timer, &QTimer::timeout, [steps, busy] {
        auto* f = qobject_cast<preview::SqlPreviewWindow*>(QApplication::activeModalWidget());
        if (*busy || !f || !f->isVisible() || f->isExecuting() || steps->empty()) return;
        *busy = true;
        auto step = std::move(steps->front());
        steps->pop_front();
        step(*f);
        *busy = false;
    });
    timer->start();
    auto* start = form->findChild<QPushButton*>("PushButton7");
    EXPECT_NE(start, nullptr);
    if (start) start->click();
    delete timer;
    EXPECT_TRUE(steps->empty());
}

std::map<std::string, int> SampleRunTest::targetTables() {
    std::map<std::string, int> out;
    std::unique_ptr<db::Connection> own;
    db::Connection* conn = form->accessConnection().get();
    if (!conn || !conn->isOpen()) {
        own = db::CreateConnection();
        own->Mode = 1;
        own->Open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + program.file("Samples/sample.mdb"));
        conn = own.get();
    }
    std::vector<std::string> names;
    for (auto rs = conn->OpenSchema(db::adSchemaTables); !rs->atEnd(); rs->MoveNext())
        if (rs->Fields("TABLE_TYPE").value().text() == "TABLE")
            names.push_back(rs->Fields("TABLE_NAME").value().text());
    for (const auto& n : names) {
        int rows = 0;
        for (auto rs = conn->Execute("SELECT * FROM [" + n + "]"); rs && !rs->atEnd(); rs->MoveNext()) ++rows;
        out[n] = rows;
    }
    if (own) own->Close();
    return out;
}

}  // namespace tp::test
