#include "ui/message_boxes.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFontMetrics>
#include <QMessageBox>
#include <QRegularExpression>
#include <QScreen>
#include <algorithm>
#include <QUrl>

#include "host/app_title.h"
#include "host/events.h"
#include "host/shell.h"
#include "ui/window_keys.h"

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

// Box texts use CR LF and lone CR as line ends; the label wants LF. A web
// address or a path is not broken after its slashes (a word joiner follows
// each): the line breaks before it instead.
QString boxText(const std::string& text) {
    const QString plain = QString::fromStdString(withPlainLineEnds(text));
    static const QRegularExpression addressOrPath(QStringLiteral("(?:\\S*://|(?<!\\S)/)\\S*"));
    QString shown;
    qsizetype done = 0;
    for (auto it = addressOrPath.globalMatch(plain); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        shown += plain.mid(done, m.capturedStart() - done);
        shown += m.captured().replace(QChar('/'), QStringLiteral("/\u2060"));
        done = m.capturedEnd();
    }
    return shown + plain.mid(done);
}

// A word the box would break (a web address, a long path) keeps its line:
// the text is at least as wide as its longest word, up to most of the screen.
void keepWordsWhole(QMessageBox& box, const QString& text) {
    const QFontMetrics fm(box.font());
    int widest = 0;
    for (const QString& word : text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts))
        widest = std::max(widest, fm.horizontalAdvance(word));
    const QScreen* screen = QGuiApplication::primaryScreen();
    const int limit = screen ? screen->availableGeometry().width() * 4 / 5 : 1000;
    if (widest > 200)
        box.setStyleSheet(
            QStringLiteral("QLabel#qt_msgbox_label { min-width: %1px; }").arg(std::min(widest + 8, limit)));
}

}  // namespace

int QtMessageBoxes::show(const std::string& text, int style, const std::string& title) {
    QMessageBox box(iconOf(style), QString::fromStdString(title.empty() ? appTitle() : title), boxText(text),
                    QMessageBox::NoButton, QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    keepWordsWhole(box, boxText(text));
    const bool question = (style & 0xF) == mb::YesNo;
    if (question) {
        box.addButton(QMessageBox::Yes);
        box.addButton(QMessageBox::No);
        if (style & mb::ToAll) {
            box.addButton(QMessageBox::YesToAll);
            box.addButton(QMessageBox::NoToAll);
        }
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
    } else {
        box.addButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
    }
    ignoreInputJustAfterOpening(&box);
    const int r = box.exec();
    if (question) {
        switch (r) {
        case QMessageBox::Yes: return mb::Yes;
        case QMessageBox::YesToAll: return mb::YesToAll;
        case QMessageBox::NoToAll: return mb::NoToAll;
        default: return mb::No;
        }
    }
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
