// Shared set-up of the window tests: an application object, a settings store
// in a temporary configuration folder, a program folder, recorded message
// boxes and scripted dialogs.
#pragma once

#include <QApplication>
#include <QSettings>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/support.h"
#include "ui/dialogs.h"

namespace tp::app {
class MainWindow;
}
namespace tp::preview {
class SqlPreviewWindow;
}

namespace tp::test {

// The sample source and target the build makes (the `samples` target).
inline std::filesystem::path builtSamples() { return std::filesystem::path(TP_BINARY_DIR) / "Samples"; }

// Runs `action` once the modal window named `name` is up.
inline void whenModal(const char* name, std::function<void()> action) {
    auto* timer = new QTimer;
    timer->setInterval(2);
    QObject::connect(timer, &QTimer::timeout, [timer, action, n = QString::fromLatin1(name)] {
        QWidget* top = QApplication::activeModalWidget();
        if (!top || top->objectName() != n || !top->isVisible()) return;
        timer->stop();
        timer->deleteLater();
        action();
    });
    timer->start();
}

// Answers the dialogs from a script; an empty script cancels.
class ScriptedDialogs : public Dialogs {
public:
    struct Call {
        std::string kind, title;
        QStringList filters;
        QString start;  // the folder the dialog opens in
    };
    QString chooseFolder(QWidget*, const QString& prompt, const QString& start) override {
        calls.push_back({"folder", prompt.toStdString(), {}, start});
        return next();
    }
    QString chooseOpenFile(QWidget*, const QString& title, const QStringList& filters, const QString& folder) override {
        calls.push_back({"file", title.toStdString(), filters, folder});
        return next();
    }
    std::deque<QString> answers;
    std::vector<Call> calls;

private:
    QString next() {
        if (answers.empty()) return {};
        QString a = answers.front();
        answers.pop_front();
        return a;
    }
};

class GuiTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The settings file and its raw values, read with a fresh QSettings.
    std::string settingsFile() const;
    std::string stored(const std::string& key, const std::string& absent = "<absent>") const;
    void store(const std::string& key, const std::string& value);

    TempDir config, program;
    std::unique_ptr<ScopedBoxes> boxes;
    ScriptedDialogs dialogs;
};

// A main window over a copy of the built samples, both sample buttons
// clicked: the fixture of the tests that run the real windows, run and
// engine end to end. Skipped when the build made no samples.
class SampleRunTest : public GuiTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Clicks Start Converting; each showing of the preview runs the next
    // step of the script. Every step is used.
    void startConverting(std::deque<std::function<void(preview::SqlPreviewWindow&)>> script);
    // The target's user tables and their row counts: through the run's own
    // connection while it holds the target open, else from the file.
    std::map<std::string, int> targetTables();

    std::unique_ptr<app::MainWindow> form;
};

}  // namespace tp::test
