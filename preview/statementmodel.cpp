#include "preview/statementmodel.h"

#include <QMetaObject>
#include <climits>
#include <stdexcept>

namespace tp::preview {

namespace {
// A statement longer than this is not one the run produces; refuse it rather
// than let the per-line length wrap.
constexpr size_t kMaxLine = UINT32_MAX;
}  // namespace

StatementModel::StatementModel(QObject* parent) : QAbstractTableModel(parent) {}

std::string_view StatementModel::lineView(int index) const {
    const auto i = static_cast<size_t>(index);
    if (index < 0 || i >= start_.size()) throw std::out_of_range("Invalid property value");
    return std::string_view(text_).substr(start_[i], length_[i]);
}

std::string StatementModel::line(int index) const { return std::string(lineView(index)); }

void StatementModel::append(std::string_view statement) {
    if (start_.size() >= static_cast<size_t>(INT_MAX)) throw std::length_error("Out of memory");
    if (statement.size() > kMaxLine) throw std::length_error("Out of memory");
    start_.push_back(text_.size());
    length_.push_back(static_cast<uint32_t>(statement.size()));
    checked_.push_back(false);
    text_.append(statement);
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
        text_.replace(start_[i], text.size(), text);
        garbage_ += length_[i] - text.size();
    } else {
        garbage_ += length_[i];
        start_[i] = text_.size();
        text_.append(text);
    }
    length_[i] = static_cast<uint32_t>(text.size());
    compactIfWasteful();
    if (index < shown_) {
        const QModelIndex at = this->index(index, 0);
        emit dataChanged(at, at, {Qt::DisplayRole});
    }
}

void StatementModel::compactIfWasteful() {
    if (garbage_ < (1u << 20) || garbage_ < text_.size() / 2) return;
    std::string packed;
    packed.reserve(text_.size() - garbage_);
    for (size_t i = 0; i < start_.size(); ++i) {
        const uint64_t at = packed.size();
        packed.append(text_, start_[i], length_[i]);
        start_[i] = at;
    }
    text_.swap(packed);
    garbage_ = 0;
}

void StatementModel::clear() {
    beginResetModel();
    // Give the memory back: a list may have held a million lines.
    std::string().swap(text_);
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
    return text_.capacity() + start_.capacity() * sizeof(uint64_t) +
           length_.capacity() * sizeof(uint32_t) + checked_.capacity() / 8;
}

int StatementModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shown_;
}

int StatementModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 1;
}

QVariant StatementModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.column() != 0 || index.row() >= shown_) return {};
    const auto i = static_cast<size_t>(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: {
        const std::string_view v = lineView(index.row());
        return QString::fromUtf8(v.data(), static_cast<qsizetype>(v.size()));
    }
    case Qt::CheckStateRole:
        return checked_[i] ? Qt::Checked : Qt::Unchecked;
    default:
        return {};
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
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable |
           Qt::ItemNeverHasChildren;
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
