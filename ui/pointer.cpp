#include "ui/pointer.h"

#include <QBuffer>
#include <QCheckBox>
#include <QEnterEvent>
#include <QEvent>
#include <QHoverEvent>
#include <QMouseEvent>
#include <QFile>
#include <QGroupBox>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QRadioButton>
#include <stdexcept>

#include "host/program_files.h"

namespace tp {

namespace {
// Cursor files are small; anything larger is not one.
constexpr qint64 kMaxCursorFile = 1 << 20;

unsigned le16(const QByteArray& b, int at) {
    return static_cast<unsigned char>(b[at]) | (static_cast<unsigned char>(b[at + 1]) << 8);
}
}  // namespace

QCursor loadCursorFile(const std::string& path) {
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly) || f.size() > kMaxCursorFile) throw std::runtime_error("Invalid picture");
    QByteArray data = f.readAll();
    // ICONDIR (reserved, type 1 icon / 2 cursor, count), then the first
    // ICONDIRENTRY whose planes/bit-count words hold a cursor's hot spot.
    if (data.size() < 22 || le16(data, 0) != 0 || (le16(data, 2) != 1 && le16(data, 2) != 2) || le16(data, 4) == 0)
        throw std::runtime_error("Invalid picture");
    const bool cursor = le16(data, 2) == 2;
    int hx = cursor ? static_cast<int>(le16(data, 10)) : -1;
    int hy = cursor ? static_cast<int>(le16(data, 12)) : -1;
    QBuffer buf(&data);
    buf.open(QIODevice::ReadOnly);
    QImageReader reader(&buf, "ico");
    QImage img = reader.read();
    if (img.isNull()) throw std::runtime_error("Invalid picture");
    if (hx >= img.width() || hy >= img.height()) hx = hy = -1;
    return QCursor(QPixmap::fromImage(img), hx, hy);
}

std::string handPointerPath() { return programFile("HAND-M.CUR"); }

WindowPointer::WindowPointer(QWidget* window) : QObject(window), window_(window) { watchPassive(window); }

void WindowPointer::setValue(int v) {
    value_ = v;
    apply();
}

void WindowPointer::apply() {
    if (!window_) return;
    if (value_ == Busy) window_->setCursor(Qt::WaitCursor);
    else if (value_ == Custom && custom_) window_->setCursor(*custom_);
    else window_->setCursor(Qt::ArrowCursor);
}

void WindowPointer::overButton() {
    if (value_ != Busy && value_ != Custom) setValue(Custom);
}

void WindowPointer::overPassive() {
    if (value_ != Busy && value_ != Default) setValue(Default);
}

void WindowPointer::watchButton(QWidget* w) {
    buttons_.insert(w);
    w->setMouseTracking(true);
    w->installEventFilter(this);
}

void WindowPointer::watchPassive(QWidget* w) {
    passive_.insert(w);
    w->setMouseTracking(true);
    w->installEventFilter(this);
}

bool WindowPointer::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove || event->type() == QEvent::Enter || event->type() == QEvent::HoverMove) {
        if (buttons_.count(watched)) {
            overButton();
        } else if (passive_.count(watched)) {
            // A move over a child that is no element of the rule reaches the
            // container too; only the container's own surface counts.
            auto* w = static_cast<QWidget*>(watched);
            QPointF pos(-1, -1);
            if (auto* me = dynamic_cast<QSinglePointEvent*>(event)) pos = me->position();
            else if (auto* he = dynamic_cast<QHoverEvent*>(event)) pos = he->position();
            if (!w->childAt(pos.toPoint())) overPassive();
        }
    }
    return QObject::eventFilter(watched, event);
}

void applyWindowColors(QWidget* window) {
    const QColor face = window->palette().color(QPalette::Button);
    auto paint = [&](QWidget* w) {
        QPalette p = w->palette();
        p.setColor(QPalette::Window, face);
        w->setPalette(p);
        w->setAutoFillBackground(true);
    };
    paint(window);
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (qobject_cast<QRadioButton*>(w) || qobject_cast<QCheckBox*>(w) || qobject_cast<QGroupBox*>(w) ||
            qobject_cast<QLabel*>(w))
            paint(w);
    }
}

QImage appIconImage(int size) {
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size / 32.0;
    // A table (source) and an arrow into a database cylinder (target); the
    // same drawing as packaging/tallyport.svg.
    p.setPen(QPen(QColor(40, 60, 110), 1.2 * s));
    p.setBrush(QColor(250, 210, 80));
    p.drawRect(QRectF(2 * s, 4 * s, 12 * s, 14 * s));
    for (int i = 1; i < 4; ++i) p.drawLine(QPointF(2 * s, (4 + 3.5 * i) * s), QPointF(14 * s, (4 + 3.5 * i) * s));
    p.setBrush(QColor(70, 130, 200));
    p.drawRect(QRectF(18 * s, 14 * s, 12 * s, 14 * s));
    p.drawEllipse(QRectF(18 * s, 11 * s, 12 * s, 6 * s));
    p.drawEllipse(QRectF(18 * s, 25 * s, 12 * s, 6 * s));
    p.setBrush(QColor(200, 40, 40));
    p.setPen(Qt::NoPen);
    QPainterPath arrow;
    arrow.moveTo(8 * s, 22 * s);
    arrow.lineTo(14 * s, 22 * s);
    arrow.lineTo(14 * s, 19 * s);
    arrow.lineTo(19 * s, 24.5 * s);
    arrow.lineTo(14 * s, 30 * s);
    arrow.lineTo(14 * s, 27 * s);
    arrow.lineTo(8 * s, 27 * s);
    arrow.closeSubpath();
    p.drawPath(arrow);
    p.end();
    return img;
}

QIcon appIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64}) icon.addPixmap(QPixmap::fromImage(appIconImage(size)));
    return icon;
}

}  // namespace tp
