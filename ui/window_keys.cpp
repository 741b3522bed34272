#include "ui/window_keys.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>

namespace tp {

namespace {

class EnterPresses : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) return false;
        if (key->modifiers() & ~(Qt::KeypadModifier)) return false;
        auto* button = qobject_cast<QPushButton*>(watched);
        if (!button || !button->isEnabled() || !button->isVisible()) return false;
        button->click();
        return true;
    }
};

class OpeningGuard : public QObject {
public:
    explicit OpeningGuard(QWidget* window) : QObject(window), window_(window) {
        window->installEventFilter(this);
        qApp->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_ && event->type() == QEvent::Show) {
            opened_.start();
            return false;
        }
        if (!isUserInput(event->type()) || !event->spontaneous() || !opened_.isValid()) return false;
        if (opened_.elapsed() >= QApplication::doubleClickInterval()) return false;
        const auto* w = qobject_cast<QWidget*>(watched);
        return w && window_ && w->window() == window_;
    }

private:
    static bool isUserInput(QEvent::Type t) {
        switch (t) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease: return true;
        default: return false;
        }
    }
    QPointer<QWidget> window_;
    QElapsedTimer opened_;
};

}  // namespace

void pressFocusedButtonOnEnter(QWidget* window) {
    auto* filter = new EnterPresses(window);
    for (QPushButton* b : window->findChildren<QPushButton*>()) b->installEventFilter(filter);
}

void ignoreInputJustAfterOpening(QWidget* window) { new OpeningGuard(window); }

}  // namespace tp
