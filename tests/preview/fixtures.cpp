#include "tests/preview/fixtures.h"

#include <gtest/gtest.h>

#include "db/error.h"
#include "host/events.h"

namespace tp::test {

namespace {

class FakeConnection : public db::ProviderConnection {
public:
    std::unique_ptr<db::Cursor> execute(std::string_view sql, long*) override {
        FakeTarget& t = FakeTarget::instance();
        if (sql.find("FAIL") != std::string_view::npos) throw db::Error(-2147217900, t.failureText);
        if (t.onExecute) t.onExecute(std::string(sql));
        t.executed.emplace_back(sql);
        return nullptr;
    }
    std::unique_ptr<db::Cursor> openSchema(int) override {
        std::vector<std::vector<db::Value>> rows;
        for (const auto& name : FakeTarget::instance().tables) rows.push_back(db::tablesSchemaRow(name, "TABLE"));
        return std::make_unique<db::VectorCursor>(db::tablesSchemaFields(), std::move(rows));
    }
    void close() override {}
    void beginTrans() override {
        FakeTarget& t = FakeTarget::instance();
        if (t.inUnit) throw db::Error(3003, "Could not start transaction; too many transactions already nested.");
        t.inUnit = true;
        t.unitStart = t.executed.size();
        ++t.begun;
    }
    void commitTrans() override {
        FakeTarget& t = FakeTarget::instance();
        if (!t.inUnit) throw db::Error(3034, "no transaction");
        t.inUnit = false;
        ++t.committed;
    }
    void rollbackTrans() override {
        FakeTarget& t = FakeTarget::instance();
        if (!t.inUnit) throw db::Error(3034, "no transaction");
        t.inUnit = false;
        t.executed.resize(t.unitStart);
        ++t.rolledBack;
    }
};

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "tp_test_preview";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
        setEventPump([] { QCoreApplication::processEvents(QEventLoop::AllEvents); });
        db::ProviderRegistry::instance().add("PreviewFake",
                                             [](const db::ConnectionString&, const db::ConnectionOptions&) {
                                                 return std::make_unique<FakeConnection>();
                                             });
    }
    void TearDown() override {
        setEventPump(nullptr);
        app_.reset();
    }

private:
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] auto* const g_env = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

FakeTarget& FakeTarget::instance() {
    static FakeTarget t;
    return t;
}

std::unique_ptr<db::Connection> openFakeTarget() {
    auto c = db::CreateConnection();
    c->Open("Provider=PreviewFake");
    return c;
}

void whenModal(const char* objectName, std::function<void()> action) {
    // Polls until a modal window is active, then acts once.
    auto* timer = new QTimer;
    timer->setInterval(1);
    QObject::connect(timer, &QTimer::timeout, [timer, action, name = QString::fromLatin1(objectName)] {
        QWidget* top = QApplication::activeModalWidget();
        if (!top || top->objectName() != name || !top->isVisible()) return;
        timer->stop();
        timer->deleteLater();
        action();
    });
    timer->start();
}

}  // namespace tp::test
