// A QListWidget seen as a tp::ListBox (the hidden lists of the main window).
#pragma once

#include <QListWidget>

#include "host/list_box.h"

namespace tp::app {

class QtListBox : public ListBox {
public:
    explicit QtListBox(QListWidget* w) : w_(w) {}
    int count() const override { return w_->count(); }
    std::string item(int index) const override { return w_->item(index)->text().toStdString(); }
    void addItem(const std::string& text) override { w_->addItem(QString::fromStdString(text)); }
    void removeItem(int index) override { delete w_->takeItem(index); }
    void clear() override { w_->clear(); }

private:
    QListWidget* w_;
};

}  // namespace tp::app
