#include "ui/clipboard.h"

#include <QAbstractItemModel>
#include <algorithm>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QString>
#include <vector>

#include "host/events.h"

namespace tp {

namespace {

QString privateFormat(int format) { return QStringLiteral("application/x-tallyport-clipboard-format-%1").arg(format); }

class QtClipboard : public ClipboardBackend {
public:
    bool clear() override {
        QClipboard* cb = QGuiApplication::clipboard();
        if (!cb) return false;
        // Qt reports no failure of its own here.
        cb->clear();
        return true;
    }
    bool setText(const QString& text, int format) override {
        QClipboard* cb = QGuiApplication::clipboard();
        if (!cb) return false;
        if (format == 0) {
            cb->setText(text);
            return cb->text() == text;
        }
        auto* data = new QMimeData;
        const QString type = privateFormat(format);
        data->setData(type, text.toUtf8());
        cb->setMimeData(data);
        const QMimeData* now = cb->mimeData();
        return now && now->data(type) == text.toUtf8();
    }
};

ClipboardBackend* g_backend = nullptr;

ClipboardBackend& backend() {
    static QtClipboard qt;
    return g_backend ? *g_backend : qt;
}

QString cellText(const QAbstractItemModel& list, int row, int column) {
    return list.data(list.index(row, column), Qt::DisplayRole).toString();
}

}  // namespace

void setClipboardBackend(ClipboardBackend* b) { g_backend = b; }

void clearClipboard() {
    for (int attempt = 0; attempt < kClipboardAttempts; ++attempt)
        if (backend().clear()) return;
}

bool setClipboardText(const std::string& text, int format) {
    const QString q = QString::fromStdString(text);
    bool ok = false;
    for (int attempt = 0; attempt < kClipboardAttempts && !ok; ++attempt) ok = backend().setText(q, format);
    return ok;
}

namespace {

// Column widths over all rows, checked or not. The list is read afresh at
// every cell: the yields may let other handlers change it.
std::vector<qsizetype> columnWidths(const QAbstractItemModel& list) {
    const int columns = list.columnCount();
    std::vector<qsizetype> width(static_cast<size_t>(columns > 0 ? columns : 0), 0);
    for (int k = 0; k < columns; ++k) {
        for (int r = 0; r < list.rowCount(); ++r) {
            pumpEvents();
            if (r >= list.rowCount() || k >= list.columnCount()) break;
            width[static_cast<size_t>(k)] = std::max(width[static_cast<size_t>(k)], cellText(list, r, k).size());
        }
    }
    return width;
}

// Row r's cells, each padded to its column's width, tab-separated, without
// trailing blanks.
QString clipboardLine(const QAbstractItemModel& list, int r, const std::vector<qsizetype>& width) {
    const int columns = static_cast<int>(width.size());
    QString line;
    for (int k = 0; k < columns && k < list.columnCount(); ++k) {
        pumpEvents();
        if (r >= list.rowCount()) break;
        const QString cell = cellText(list, r, k);
        line += cell;
        const qsizetype pad = width[static_cast<size_t>(k)] - cell.size();
        if (pad > 0) line += QString(pad, QLatin1Char(' '));
        line += QLatin1Char('\t');
    }
    if (!line.isEmpty()) line.chop(1);
    qsizetype end = line.size();
    while (end > 0 && line.at(end - 1) == QLatin1Char(' ')) --end;
    line.truncate(end);
    return line;
}

}  // namespace

std::string listViewClipboardText(const QAbstractItemModel& list) {
    const std::vector<qsizetype> width = columnWidths(list);
    std::string out;
    for (int r = 0; r < list.rowCount(); ++r) {
        pumpEvents();
        if (r >= list.rowCount()) break;
        if (list.data(list.index(r, 0), Qt::CheckStateRole).toInt() != Qt::Checked) continue;
        out += clipboardLine(list, r, width).toStdString();
        out += "\r\n";
    }
    return out;
}

void copyListViewToClipboard(const QAbstractItemModel& list) {
    if (list.rowCount() == 0) return;
    const std::string text = listViewClipboardText(list);
    clearClipboard();
    setClipboardText(text, 0);
}

}  // namespace tp
