#include "preview/statement_model.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>
#include <QToolTip>

#include <QMetaObject>
#include <algorithm>
#include <climits>
#include <cstring>
#include <stdexcept>

namespace tp::preview {

namespace {
// A statement longer than this is not one the run produces; refuse it rather
// than let the per-line length wrap.
constexpr size_t kMaxLine = UINT32_MAX;
constexpr size_t kBlockSize = size_t(4) << 20;
// What a row and its tooltip show of a statement: a row is one line of the
// view, and a long statement (an INSERT of a picture's bytes) would cost its
// whole text's layout at every paint. The editor gets the whole text.
constexpr size_t kShownBytes = 4096;

QString shownText(std::string_view v) {
    if (v.size() <= kShownBytes) return QString::fromUtf8(v.data(), static_cast<qsizetype>(v.size()));
    size_t cut = kShownBytes;
    while (cut > 0 && (static_cast<unsigned char>(v[cut]) & 0xC0) == 0x80) --cut;  // a whole character
    return QString::fromUtf8(v.data(), static_cast<qsizetype>(cut)) + QStringLiteral("\u2026");
}
}  // namespace

StatementModel::StatementModel(QObject* parent) : QAbstractTableModel(parent) {}

std::string_view StatementModel::lineView(int index) const {
    const auto i = static_cast<size_t>(index);
    if (index < 0 || i >= start_.size()) throw std::out_of_range("Invalid property value");
    if (length_[i] == 0) return {};
    const Block& b = blocks_[start_[i] >> 32];
    return std::string_view(b.data.get() + (start_[i] & 0xFFFFFFFFu), length_[i]);
}

uint64_t StatementModel::place(std::string_view text) {
    if (text.empty()) return 0;
    if (blocks_.empty() || blocks_.back().size - blocks_.back().used < text.size()) {
        Block b;
        b.size = std::max(kBlockSize, text.size());
        b.data = std::make_unique_for_overwrite<char[]>(b.size);
        blocks_.push_back(std::move(b));
    }
    Block& b = blocks_.back();
    const uint64_t at = (static_cast<uint64_t>(blocks_.size() - 1) << 32) | b.used;
    std::memcpy(b.data.get() + b.used, text.data(), text.size());
    b.used += text.size();
    textBytes_ += text.size();
    return at;
}

std::string StatementModel::line(int index) const { return std::string(lineView(index)); }

void StatementModel::append(std::string_view statement) {
    if (start_.size() >= static_cast<size_t>(INT_MAX)) throw std::length_error("Out of memory");
    if (statement.size() > kMaxLine) throw std::length_error("Out of memory");
    start_.push_back(place(statement));
    length_.push_back(static_cast<uint32_t>(statement.size()));
    checked_.push_back(false);
    if (!flushQueued_) {
        flushQueued_ = true;
        QMetaObject::invokeMethod(this, &StatementModel::flush, Qt::QueuedConnection);
    }
}

void StatementModel::flush() {
    flushQueued_ = false;
    const int total = count();
    if (total <= shown_) return;
    beginInsertRows({}, shown_, total - 1);
    shown_ = total;
    endInsertRows();
}

void StatementModel::setLine(int index, std::string_view text) {
    const auto i = static_cast<size_t>(index);
    if (index < 0 || i >= start_.size()) throw std::out_of_range("Invalid property value");
    if (text.size() > kMaxLine) throw std::length_error("Out of memory");
    if (text.size() <= length_[i]) {
        // Fits where the old text was.
        if (!text.empty()) {
            Block& b = blocks_[start_[i] >> 32];
            std::memcpy(b.data.get() + (start_[i] & 0xFFFFFFFFu), text.data(), text.size());
        }
        garbage_ += length_[i] - text.size();
    } else {
        garbage_ += length_[i];
        start_[i] = place(text);
    }
    length_[i] = static_cast<uint32_t>(text.size());
    compactIfWasteful();
    if (index < shown_) {
        const QModelIndex at = this->index(index, 0);
        emit dataChanged(at, at, {Qt::DisplayRole});
    }
}

void StatementModel::compactIfWasteful() {
    if (garbage_ < (1u << 20) || garbage_ < textBytes_ / 2) return;
    std::vector<Block> old;
    old.swap(blocks_);
    textBytes_ = 0;
    garbage_ = 0;
    for (size_t i = 0; i < start_.size(); ++i) {
        if (length_[i] == 0) continue;
        const Block& b = old[start_[i] >> 32];
        start_[i] = place(std::string_view(b.data.get() + (start_[i] & 0xFFFFFFFFu), length_[i]));
    }
}

void StatementModel::clear() {
    beginResetModel();
    // Give the memory back: a list may have held a million lines.
    std::vector<Block>().swap(blocks_);
    textBytes_ = 0;
    std::vector<uint64_t>().swap(start_);
    std::vector<uint32_t>().swap(length_);
    std::vector<bool>().swap(checked_);
    garbage_ = 0;
    shown_ = 0;
    endResetModel();
}

bool StatementModel::isChecked(int index) const {
    const auto i = static_cast<size_t>(index);
    if (index < 0 || i >= checked_.size()) throw std::out_of_range("Invalid property value");
    return checked_[i];
}

void StatementModel::setChecked(int index, bool checked) {
    const auto i = static_cast<size_t>(index);
    if (index < 0 || i >= checked_.size()) throw std::out_of_range("Invalid property value");
    checked_[i] = checked;
    if (index < shown_) {
        const QModelIndex at = this->index(index, 0);
        emit dataChanged(at, at, {Qt::CheckStateRole});
    }
}

void StatementModel::setAllChecked(bool checked) {
    checked_.assign(checked_.size(), checked);
    if (shown_ > 0) emit dataChanged(index(0, 0), index(shown_ - 1, 0), {Qt::CheckStateRole});
}

size_t StatementModel::storeBytes() const {
    size_t blocks = 0;
    for (const Block& b : blocks_) blocks += b.size;
    return blocks + start_.capacity() * sizeof(uint64_t) + length_.capacity() * sizeof(uint32_t) +
           checked_.capacity() / 8;
}

int StatementModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : shown_; }

// The whole statement as a tool tip, broken at blanks into lines as wide as
// most of the screen (a tool tip left to wrap itself is a narrow column;
// lines that keep their blanks are not wrapped again).
QString StatementModel::wrappedTip(const QString& text) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const int screenWidth = screen ? screen->availableGeometry().width() : 1024;
    const QFontMetrics fm(QToolTip::font());
    const int width = std::max(200, screenWidth * 4 / 5);
    constexpr int kMaxLines = 40;
    QStringList lines;
    QString line;
    for (const QString& word : text.split(QChar(' '))) {
        const QString longer = line.isEmpty() ? word : line + QChar(' ') + word;
        if (!line.isEmpty() && fm.horizontalAdvance(longer) > width) {
            lines << line;
            line = word;
            if (lines.size() == kMaxLines) break;
        } else {
            line = longer;
        }
    }
    if (lines.size() == kMaxLines) lines << QStringLiteral("...");
    else lines << line;
    // Rich text, so that a statement holding "<" shows as typed.
    for (QString& l : lines) l = l.toHtmlEscaped();
    return QStringLiteral("<p style='white-space:pre'>") + lines.join(QStringLiteral("<br>")) + QStringLiteral("</p>");
}

int StatementModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 1; }

QVariant StatementModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.column() != 0 || index.row() >= shown_) return {};
    const auto i = static_cast<size_t>(index.row());
    switch (role) {
    case Qt::DisplayRole: return shownText(lineView(index.row()));
    case Qt::EditRole: {
        const std::string_view v = lineView(index.row());
        return QString::fromUtf8(v.data(), static_cast<qsizetype>(v.size()));
    }
    case Qt::CheckStateRole: return checked_[i] ? Qt::Checked : Qt::Unchecked;
    case Qt::ToolTipRole: {
        const std::string_view v = lineView(index.row());
        if (v.empty()) return {};
        return wrappedTip(shownText(v));
    }
    default: return {};
    }
}

bool StatementModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || !index.isValid() || index.row() >= shown_) return false;
    setChecked(index.row(), value.toInt() == Qt::Checked);
    emit checkToggled();
    return true;
}

Qt::ItemFlags StatementModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable | Qt::ItemNeverHasChildren;
}

QVariant StatementModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && section == 0 && role == Qt::DisplayRole) return title_;
    return QAbstractTableModel::headerData(section, orientation, role);
}

void StatementModel::setColumnTitle(const QString& title) {
    title_ = title;
    emit headerDataChanged(Qt::Horizontal, 0, 0);
}

}  // namespace tp::preview
