// An in-memory stand-in for the storage layer: keeps tables as rows of
// values and records what the provider hands over.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "db/ado.h"
#include "db/jet/database.h"
#include "db/jet/sql/sql.h"

namespace tp::test {

class FakeDatabase : public db::jet::Database {
public:
    struct Table {
        std::string name;
        db::jet::TableKind kind = db::jet::TableKind::User;
        std::vector<db::jet::ColumnDef> columns;
        std::vector<std::vector<db::Value>> rows;
    };
    std::vector<Table> tables;
    int columnsCalls = 0;
    bool closed = false;

    Table* find(const std::string& name) {
        for (auto& t : tables)
            if (db::jet::sameName(t.name, name)) return &t;
        return nullptr;
    }

    db::jet::FileFormat format() const override { return db::jet::FileFormat::Jet4; }
    std::vector<db::jet::TableInfo> listTables() override {
        std::vector<db::jet::TableInfo> out;
        for (const auto& t : tables) out.push_back({t.name, t.kind});
        return out;
    }
    std::vector<db::jet::ColumnDef> columns(const std::string& table) override {
        ++columnsCalls;
        return find(table)->columns;
    }
    std::string findTable(const std::string& name) override {
        auto* t = find(name);
        return t ? t->name : std::string();
    }
    void createTable(const std::string& name, const std::vector<db::jet::ColumnDef>& cols) override {
        tables.push_back({name, db::jet::TableKind::User, cols, {}});
    }
    void dropTable(const std::string& name) override {
        for (size_t i = 0; i < tables.size(); ++i)
            if (tables[i].name == name) {
                tables.erase(tables.begin() + long(i));
                return;
            }
        throw db::Error("dropTable of a missing table");
    }
    void insertRow(const std::string& table, const std::vector<db::Value>& values) override {
        Table* t = find(table);
        if (!t || t->name != table) throw db::Error("insertRow into '" + table + "'");
        if (values.size() != t->columns.size()) throw db::Error("insertRow with a wrong value count");
        t->rows.push_back(values);
    }
    std::unique_ptr<db::Cursor> scan(const std::string& table) override {
        Table* t = find(table);
        std::vector<db::FieldInfo> fields;
        for (const auto& c : t->columns) fields.push_back({c.name, db::adtype::VarWChar});
        return std::make_unique<db::VectorCursor>(fields, t->rows);
    }
    void flush() override {}
    void close() override { closed = true; }
};

}  // namespace tp::test
