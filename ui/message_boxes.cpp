#include "ui/message_boxes.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

#include "host/app_title.h"
#include "host/events.h"
#include "host/shell.h"

namespace tp {

namespace {

QMessageBox::Icon iconOf(int style) {
    switch (style & 0x70) {
    case mb::Critical: return QMessageBox::Critical;
    case mb::Question: return QMessageBox::Question;
    case mb::Exclamation: return QMessageBox::Warning;
    case mb::Information: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

// Box texts use CR LF and lone CR as line ends; the label wants LF.
QString boxText(const std::string& text) { return QString::fromStdString(withPlainLineEnds(text)); }

}  // namespace

int QtMessageBoxes::show(const std::string& text, int style, const std::string& title) {
    QMessageBox box(iconOf(style), QString::fromStdString(title.empty() ? appTitle() : title), boxText(text),
                    QMessageBox::NoButton, QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    const bool question = (style & 0xF) == mb::YesNo;
    if (question) {
        box.addButton(QMessageBox::Yes);
        box.addButton(QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
    } else {
        box.addButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
    }
    const int r = box.exec();
    if (question) return r == QMessageBox::Yes ? mb::Yes : mb::No;
    return mb::Ok;
}

void installQtServices() {
    static QtMessageBoxes boxes;
    setMessageBoxes(&boxes);
    setEventPump([] { QCoreApplication::processEvents(QEventLoop::AllEvents); });
    // Inside the data layer's long work the windows repaint; clicks and keys
    // wait for the statement to end (their handlers may need the data layer).
    setBusyPump([] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
    setUrlOpener([](const std::string& url) { return QDesktopServices::openUrl(QUrl(QString::fromStdString(url))); });
}

}  // namespace tp
