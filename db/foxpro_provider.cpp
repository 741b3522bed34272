#include "db/foxpro_provider.h"

#include <algorithm>
#include <filesystem>
#include <unordered_map>
#include <utility>

#include "db/foxpro/dbc.h"
#include "db/foxpro/dbf.h"
#include "db/foxpro/keys_schema.h"

namespace tp::db::foxpro {

namespace {

namespace fs = std::filesystem;

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

class TableCursor : public Cursor {
public:
    TableCursor(std::unique_ptr<DbfTable> table, const std::vector<std::string>& longNames)
        : table_(std::move(table)), fields_(table_->fieldInfos()) {
        if (longNames.size() == fields_.size())
            for (size_t i = 0; i < fields_.size(); ++i)
                if (!longNames[i].empty()) fields_[i].name = longNames[i];
    }
    const std::vector<FieldInfo>& fields() const override { return fields_; }
    bool next(std::vector<Value>& row) override { return table_->next(row); }
    // The header's record count (deleted records included): for progress.
    int64_t sizeHint() const override { return table_->recordCount(); }
    std::vector<ReadNotice> takeNotices() override {
        std::vector<ReadNotice> out;
        if (std::string note = table_->takeCodePageNote(); !note.empty()) out.push_back({std::move(note), 0, true});
        for (auto& [text, lost] : table_->takeNotes()) out.push_back({std::move(text), lost});
        return out;
    }

private:
    std::unique_ptr<DbfTable> table_;
    std::vector<FieldInfo> fields_;
};

// The table name of "SELECT * FROM `name`" (or a bare name); throws for any
// other statement.
std::string selectedTable(std::string_view sql, const std::string& source) {
    auto bad = [&]() -> Error {
        return Error("The FoxPro source " + source + " accepts only SELECT * FROM `table`, not: " + std::string(sql));
    };
    size_t i = 0;
    auto ws = [&] {
        while (i < sql.size() && std::isspace(static_cast<unsigned char>(sql[i]))) ++i;
    };
    auto word = [&](std::string_view w) {
        ws();
        if (sql.size() - i < w.size()) return false;
        for (size_t k = 0; k < w.size(); ++k)
            if (std::tolower(static_cast<unsigned char>(sql[i + k])) != w[k]) return false;
        i += w.size();
        return true;
    };
    if (!word("select") || !word("*") || !word("from")) throw bad();
    ws();
    std::string name;
    if (i < sql.size() && sql[i] == '`') {
        const size_t e = sql.find('`', i + 1);
        if (e == std::string_view::npos) throw bad();
        name = std::string(sql.substr(i + 1, e - i - 1));
        i = e + 1;
    } else {
        while (i < sql.size() && (std::isalnum(static_cast<unsigned char>(sql[i])) || sql[i] == '_')) name += sql[i++];
    }
    ws();
    if (i < sql.size() && sql[i] == ';') ++i;
    ws();
    if (name.empty() || i != sql.size()) throw bad();
    return name;
}

// A schema rowset that tells the container's code page notice.
class SchemaCursor : public VectorCursor {
public:
    SchemaCursor(std::vector<FieldInfo> fields, std::vector<std::vector<Value>> rows, std::string note)
        : VectorCursor(std::move(fields), std::move(rows)), note_(std::move(note)) {}
    std::vector<ReadNotice> takeNotices() override {
        std::vector<ReadNotice> out;
        if (!note_.empty()) out.push_back({std::move(note_), 0, true});
        note_.clear();
        return out;
    }

private:
    std::string note_;
};

// The tables rowset of a container: its tables and views, a table's
// comment, record rule and message.
std::vector<FieldInfo> dbcTableSchemaFields() {
    std::vector<FieldInfo> fields = tablesSchemaFields();
    appendRuleColumns(fields);
    return fields;
}

std::vector<std::vector<Value>> dbcTableRows(const Dbc& dbc) {
    std::vector<std::vector<Value>> rows;
    const DbcProperties none;
    for (const DbcObject& o : dbc.objects) {
        const DbcProperties& p = o.tableIndex >= 0 ? dbc.tables[static_cast<size_t>(o.tableIndex)].properties : none;
        std::vector<Value> row = tablesSchemaRow(o.name, o.type, p.comment);
        appendRuleValues(p, row);
        rows.push_back(std::move(row));
    }
    return rows;
}

[[noreturn]] void unknownSchema() {
    throw Error("The FoxPro source offers only the tables (20), indexes (12) and foreign keys (27) schemas.");
}

ReadOptions readOptions(const ConnectionOptions& o) {
    ReadOptions r;
    r.codePage = o.codePage.codePage;
    r.forceCodePage = o.codePage.force;
    return r;
}

class FolderConnection : public ProviderConnection {
public:
    FolderConnection(std::string folder, const ReadOptions& options) : folder_(std::move(folder)), options_(options) {}

    // The folder's tables, listed once per connection: name, file.
    const std::vector<std::pair<std::string, std::string>>& tables() {
        if (listed_) return tables_;
        std::vector<std::pair<std::string, std::string>> out;
        std::error_code ec;
        for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
            const fs::path& p = it->path();
            if (lower(p.extension().string()) != ".dbf") continue;
            std::error_code ec2;
            if (!it->is_regular_file(ec2)) continue;
            out.emplace_back(p.stem().string(), p.string());
        }
        if (ec) throw Error("Cannot list the folder " + folder_ + ": " + ec.message());
        std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) {
            const std::string la = lower(a.first), lb = lower(b.first);
            return la != lb ? la < lb : a.first < b.first;
        });
        // A name finds its own file first, then the first file whose name
        // differs only in case (Cust.dbf and cust.dbf are two tables).
        for (size_t i = 0; i < out.size(); ++i) {
            byName_.emplace(out[i].first, i);
            byLowerName_.emplace(lower(out[i].first), i);
        }
        tables_ = std::move(out);
        // The files the tables name (memo files, structural indexes) are
        // looked for in one listing of the folder.
        options_.listing = FolderListing::of(folder_);
        listed_ = true;
        return tables_;
    }

    std::unique_ptr<Cursor> execute(std::string_view sql, long* affected) override {
        const std::string name = selectedTable(sql, folder_);
        if (affected) *affected = -1;
        const auto& all = tables();
        auto it = byName_.find(name);
        const size_t* found = it != byName_.end() ? &it->second : nullptr;
        if (!found && (it = byLowerName_.find(lower(name))) != byLowerName_.end()) found = &it->second;
        if (found) return openTableCursor(all[*found].second, {}, options_, all[*found].first);
        throw Error("The table " + name + " does not exist in the folder " + folder_ + ".");
    }

    std::unique_ptr<Cursor> openSchema(int schema) override {
        std::vector<std::vector<Value>> rows;
        if (schema == adSchemaIndexes) {
            for (const auto& t : tables()) appendIndexRows(readTableTags(t.second, t.first, nullptr, options_), rows);
            return std::make_unique<VectorCursor>(indexSchemaFields(), std::move(rows));
        }
        // Free tables have no persistent relations.
        if (schema == adSchemaForeignKeys)
            return std::make_unique<VectorCursor>(foreignKeySchemaFields(), std::move(rows));
        if (schema != adSchemaTables) unknownSchema();
        for (const auto& t : tables()) rows.push_back(tablesSchemaRow(t.first, "TABLE"));
        return std::make_unique<VectorCursor>(tablesSchemaFields(), std::move(rows));
    }
    void close() override {}

private:
    std::string folder_;
    ReadOptions options_;
    bool listed_ = false;
    std::vector<std::pair<std::string, std::string>> tables_;
    std::unordered_map<std::string, size_t> byName_, byLowerName_;
};

class DbcConnection : public ProviderConnection {
public:
    DbcConnection(const std::string& path, const ReadOptions& options)
        : dbc_(Dbc::read(path, options)), options_(options) {}

    std::unique_ptr<Cursor> execute(std::string_view sql, long* affected) override {
        const std::string name = selectedTable(sql, dbc_.path);
        if (affected) *affected = -1;
        for (const auto& t : dbc_.tables)
            if (lower(t.name) == lower(name))
                return openTableCursor(dbc_.resolveTableFile(t), t.fields, options_, t.name);
        for (const auto& o : dbc_.objects)
            if (o.type == "VIEW" && lower(o.name) == lower(name))
                throw Error("The view " + name + " of " + dbc_.path + " cannot be opened: views are not read.");
        throw Error("The table " + name + " does not exist in the database container " + dbc_.path + ".");
    }

    std::unique_ptr<Cursor> openSchema(int schema) override {
        std::vector<std::vector<Value>> rows;
        if (schema == adSchemaIndexes) {
            for (const auto& o : dbc_.objects)
                if (o.tableIndex >= 0) appendIndexRows(tagsOf(static_cast<size_t>(o.tableIndex)), rows);
            return std::make_unique<VectorCursor>(indexSchemaFields(), std::move(rows));
        }
        if (schema == adSchemaForeignKeys)
            return std::make_unique<VectorCursor>(
                foreignKeySchemaFields(),
                foreignKeyRows(dbc_, [this](size_t i) -> const TableTags& { return tagsOf(i); }));
        if (schema == adSchemaColumns) return std::make_unique<VectorCursor>(columnSchemaFields(), columnRows(dbc_));
        if (schema != adSchemaTables) unknownSchema();
        return std::make_unique<SchemaCursor>(dbcTableSchemaFields(), dbcTableRows(dbc_),
                                              std::exchange(dbc_.codePageNote, {}));
    }
    void close() override {}

private:
    // The tags of table i of the container, read once per connection.
    const TableTags& tagsOf(size_t i) {
        if (tags_.empty()) tags_.resize(dbc_.tables.size());
        if (!tags_[i]) {
            const DbcTable& t = dbc_.tables[i];
            try {
                tags_[i] = std::make_unique<TableTags>(readTableTags(dbc_.resolveTableFile(t), t.name, &t, options_));
            } catch (const Error& e) {
                tags_[i] = std::make_unique<TableTags>(missingTableTags(t.name, &t, e.what()));
            }
        }
        return *tags_[i];
    }

    Dbc dbc_;
    ReadOptions options_;
    std::vector<std::unique_ptr<TableTags>> tags_;
};

}  // namespace

std::unique_ptr<Cursor> openTableCursor(const std::string& file, const std::vector<std::string>& longNames,
                                        const ReadOptions& options, const std::string& name) {
    auto table = DbfTable::open(file, options);
    if (!name.empty()) table->setReportName(name);
    return std::make_unique<TableCursor>(std::move(table), longNames);
}

std::unique_ptr<ProviderConnection> openFoxproProvider(const ConnectionString& cs, const ConnectionOptions& options) {
    const std::string source = cs.get("Data Source");
    std::error_code ec;
    if (source.empty()) throw Error("Invalid path or file name: the Data Source is empty.");
    if (fs::is_directory(source, ec)) return std::make_unique<FolderConnection>(source, readOptions(options));
    if (fs::is_regular_file(source, ec)) return std::make_unique<DbcConnection>(source, readOptions(options));
    throw Error("Invalid path or file name: " + source + " does not exist.");
}

}  // namespace tp::db::foxpro
