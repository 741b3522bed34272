// A list of texts as the procedures see a list box; the windows adapt their
// list widgets to it, the command line and the tests use VectorListBox.
#pragma once

#include <string>
#include <vector>

namespace tp {

class ListBox {
public:
    virtual ~ListBox() = default;
    virtual int count() const = 0;
    virtual std::string item(int index) const = 0;
    virtual void addItem(const std::string& text) = 0;
    virtual void removeItem(int index) = 0;
    virtual void clear() = 0;
};

class VectorListBox : public ListBox {
public:
    int count() const override { return static_cast<int>(items.size()); }
    std::string item(int index) const override { return items.at(static_cast<size_t>(index)); }
    void addItem(const std::string& text) override { items.push_back(text); }
    void removeItem(int index) override { items.erase(items.begin() + index); }
    void clear() override { items.clear(); }
    std::vector<std::string> items;
};

}  // namespace tp
