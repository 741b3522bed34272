// The statement list of the preview window: one SQL statement per line, a
// check box per line, kept in one text buffer with an offset per line so
// that a million lines cost little more than their text.
#pragma once

#include <QAbstractTableModel>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tp::preview {

class StatementModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit StatementModel(QObject* parent = nullptr);

    // A statement as its tool tip: broken at blanks into lines that use
    // most of the screen's width.
    static QString wrappedTip(const QString& text);

    // The store. Indexes are 0-based here; the windows speak of 1-based
    // line numbers.
    int count() const { return static_cast<int>(start_.size()); }
    std::string line(int index) const;
    std::string_view lineView(int index) const;
    void append(std::string_view statement);  // views learn of it in bulk
    void setLine(int index, std::string_view text);
    void clear();
    bool isChecked(int index) const;
    void setChecked(int index, bool checked);
    void setAllChecked(bool checked);

    // Tells the views about the lines appended since the last time. Runs by
    // itself from the event loop after appends; callers that are about to
    // show the list call it at once.
    void flush();

    // Bytes held by the store (text buffer and per-line tables).
    size_t storeBytes() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The header of the single column; empty while the window is unloaded.
    void setColumnTitle(const QString& title);

signals:
    // A line's check box was changed from the view.
    void checkToggled();

private:
    // The text lives in large blocks, so that the store grows without
    // copying and without doubling its size; a line never spans two blocks.
    struct Block {
        std::unique_ptr<char[]> data;
        size_t used = 0, size = 0;
    };
    // Copies text into the blocks; returns its place (block << 32 | offset).
    uint64_t place(std::string_view text);
    void compactIfWasteful();

    std::vector<Block> blocks_;
    size_t textBytes_ = 0;
    std::vector<uint64_t> start_;  // place of each line
    std::vector<uint32_t> length_;
    std::vector<bool> checked_;
    size_t garbage_ = 0;
    int shown_ = 0;
    bool flushQueued_ = false;
    QString title_;
};

}  // namespace tp::preview
