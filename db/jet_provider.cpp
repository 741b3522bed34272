#include "db/jet_provider.h"

#include <algorithm>
#include <atomic>

#include "db/jet/sql/sql_query.h"

namespace tp::db::jet {

namespace {

Error closedError() { return Error(Error::kObjectClosed, "Operation is not allowed when the object is closed."); }

bool startsWithMSys(std::string_view name) { return name.size() >= 4 && sameName(name.substr(0, 4), "MSys"); }

const char* tableTypeText(TableKind kind) {
    switch (kind) {
    case TableKind::User: return "TABLE";
    case TableKind::System: return "SYSTEM TABLE";
    case TableKind::AccessSystem: return "ACCESS TABLE";
    case TableKind::Query: return "VIEW";
    case TableKind::Linked: return "LINK";
    }
    return "TABLE";
}

}  // namespace

JetConnection::JetConnection(std::unique_ptr<Database> db) : db_(std::move(db)) {}

JetConnection::~JetConnection() {
    try {
        close();
    } catch (...) {
        // A destructor reports nothing; Close() is where failures surface.
    }
}

Database& JetConnection::database() {
    if (!db_) throw closedError();
    return *db_;
}

int JetConnection::engineType() const {
    if (!db_) return 0;
    switch (db_->format()) {
    case FileFormat::Jet3: return 4;
    case FileFormat::Jet4: return 5;
    default: return 6;
    }
}

void JetConnection::close() {
    if (!db_) return;
    auto db = std::move(db_);
    forgetTable();
    db->close();
}

void JetConnection::beginTrans() { database().beginUnit(); }

void JetConnection::commitTrans() { database().commitUnit(); }

void JetConnection::rollbackTrans() {
    forgetTable();
    database().rollbackUnit();
}

void JetConnection::forgetTable() {
    cached_ = false;
    mapping_.mapped = false;
    preparedTableChecked_ = 0;
    columns_.clear();
}

std::unique_ptr<Cursor> JetConnection::execute(std::string_view sql, long* recordsAffected) {
    if (!db_) throw closedError();
    if (recordsAffected) *recordsAffected = 0;
    parseStatement(sql, st_);
    switch (st_.kind) {
    case StatementKind::CreateTable: {
        if (!db_->findTable(std::string(st_.table)).empty()) throw jeterr::tableExists(st_.table);
        forgetTable();
        db_->createTable(std::string(st_.table), st_.definitions);
        return nullptr;
    }
    case StatementKind::DropTable: {
        const std::string stored = db_->findTable(std::string(st_.table));
        if (stored.empty()) throw jeterr::tableMissing(st_.table);
        if (startsWithMSys(stored))
            for (const auto& t : db_->listTables())
                if (t.name == stored && t.kind != TableKind::User)
                    throw Error(jeterr::kNotSupported, "System table '" + stored + "' cannot be dropped.");
        forgetTable();
        db_->dropTable(stored);
        return nullptr;
    }
    case StatementKind::Insert: insert(recordsAffected); return nullptr;
    case StatementKind::Select: return select();
    case StatementKind::Update:
    case StatementKind::Delete: change(recordsAffected); return nullptr;
    case StatementKind::CreateIndex: db_->createIndex(st_.index); return nullptr;
    case StatementKind::AddRelationship: db_->addRelationship(st_.relationship); return nullptr;
    case StatementKind::DropIndex: db_->dropIndex(st_.index.table, st_.index.name, st_.constraint); return nullptr;
    case StatementKind::AlterColumn: alterColumn(); return nullptr;
    case StatementKind::SetProperties: setProperties(); return nullptr;
    }
    return nullptr;
}

// The INSERT's table, looked up once for a run of INSERTs into it.
void JetConnection::cacheTable(std::string_view table) {
    if (cached_ && table == std::string_view(cachedName_)) return;
    forgetTable();
    std::string stored = db_->findTable(std::string(table));
    if (stored.empty()) throw jeterr::outputTableMissing(table);
    if (startsWithMSys(stored))
        for (const auto& t : db_->listTables())
            if (t.name == stored && t.kind != TableKind::User)
                throw Error(jeterr::kNotSupported, jeterr::kReadOnlyText);
    columns_ = db_->columns(stored);
    storedName_ = std::move(stored);
    cachedName_.assign(table);
    cached_ = true;
}

void ColumnMapping::map(const Statement& st, const std::vector<ColumnDef>& columns) {
    if (mapped && st.columnListText == std::string_view(listText)) return;
    const size_t ncols = columns.size();
    mapped = false;
    to.clear();
    given.assign(ncols, 0);
    for (auto name : st.columns) {
        const auto at =
            std::find_if(columns.begin(), columns.end(), [&](const ColumnDef& c) { return sameName(c.name, name); });
        if (at == columns.end())
            throw Error(jeterr::kUnknownInsertField,
                        "The INSERT INTO statement contains the following unknown field name: '" + std::string(name) +
                            "'. Make sure you have typed the name correctly, and try the operation again.");
        const size_t idx = static_cast<size_t>(at - columns.begin());
        if (given[idx])
            throw Error(jeterr::kDuplicateOutput, "Duplicate output destination '" + std::string(name) + "'.");
        given[idx] = 1;
        to.push_back(int(idx));
    }
    listText.assign(st.columnListText);
    mapped = true;
}

void ColumnMapping::fillRow(const Statement& st, const std::vector<ColumnDef>& columns, std::string_view table,
                            std::vector<Value>& row) {
    const size_t ncols = columns.size();
    if (!st.hasColumnList) {
        if (st.values.size() != ncols) throw jeterr::valueCount();
        row.resize(ncols);
        for (size_t i = 0; i < ncols; ++i) coerceLiteral(st.values[i], columns[i], table, row[i]);
        return;
    }
    map(st, columns);
    if (st.values.size() != to.size()) throw jeterr::valueCount();
    row.resize(ncols);
    for (size_t i = 0; i < ncols; ++i) {
        if (given[i]) continue;
        // A column the statement leaves out takes its default: a literal,
        // or an expression the engine evaluates (Date(), Now()), else its
        // empty value.
        row[i] = defaultValueOf(columns[i], table);
    }
    for (size_t k = 0; k < to.size(); ++k) {
        const size_t i = size_t(to[k]);
        coerceLiteral(st.values[k], columns[i], table, row[i]);
    }
}

void JetConnection::insert(long* recordsAffected) {
    cacheTable(st_.table);
    mapping_.fillRow(st_, columns_, storedName_, row_);
    db_->insertRow(storedName_, row_);
    if (recordsAffected) *recordsAffected = 1;
}

namespace {

// The table as a preparer saw it when it was made.
struct PreparedTable {
    uint64_t id = 0;  // of this view, never reused
    std::string name, stored;
    std::vector<ColumnDef> columns;
};

// An INSERT into the preparer's table, its row ready; else (ready false) the
// statement runs from its text.
class PreparedInsert : public PreparedStatement {
public:
    bool ready = false;
    std::shared_ptr<const PreparedTable> table;
    std::vector<Value> row;
};

class InsertPreparer : public StatementPreparer {
public:
    explicit InsertPreparer(PreparedTable table) : table_(std::make_shared<const PreparedTable>(std::move(table))) {}

    void prepare(std::string_view sql, std::unique_ptr<PreparedStatement>& into) override {
        auto* p = dynamic_cast<PreparedInsert*>(into.get());
        if (!p) {
            into = std::make_unique<PreparedInsert>();
            p = static_cast<PreparedInsert*>(into.get());
        }
        p->ready = false;
        if (p->table != table_) p->table = table_;
        try {
            parseStatement(sql, st_);
            if (st_.kind != StatementKind::Insert || st_.table != std::string_view(table_->name)) return;
            mapping_.fillRow(st_, table_->columns, table_->stored, p->row);
            p->ready = true;
        } catch (...) {
            // Executed from its text, which reports the failure in its place.
        }
    }

private:
    const std::shared_ptr<const PreparedTable> table_;
    Statement st_;
    ColumnMapping mapping_;
};

uint64_t nextPreparedTableId() {
    static std::atomic<uint64_t> last{0};
    return ++last;
}

}  // namespace

std::unique_ptr<StatementPreparer> JetConnection::preparer(std::string_view table) {
    if (!db_) return nullptr;
    if (table.empty()) {
        if (!cached_) return nullptr;
        table = cachedName_;
    }
    PreparedTable t;
    t.stored = db_->findTable(std::string(table));
    if (t.stored.empty() || startsWithMSys(t.stored)) return nullptr;
    t.id = nextPreparedTableId();
    t.name.assign(table);
    t.columns = db_->columns(t.stored);
    return std::make_unique<InsertPreparer>(std::move(t));
}

// A prepared INSERT whose table is still as its preparer saw it stores the
// row ready; anything else runs from the text.
std::unique_ptr<Cursor> JetConnection::executePrepared(std::string_view sql, PreparedStatement* prepared,
                                                       long* recordsAffected) {
    if (prepared) prepared->ranPrepared = false;
    auto* p = dynamic_cast<PreparedInsert*>(prepared);
    if (!db_ || !p || !p->ready) return execute(sql, recordsAffected);
    if (recordsAffected) *recordsAffected = 0;
    cacheTable(p->table->name);
    if (preparedTableChecked_ != p->table->id) {
        if (storedName_ != p->table->stored || columns_ != p->table->columns) return execute(sql, recordsAffected);
        preparedTableChecked_ = p->table->id;
    }
    p->ranPrepared = true;
    db_->insertRow(storedName_, p->row);
    if (recordsAffected) *recordsAffected = 1;
    return nullptr;
}

std::unique_ptr<Cursor> JetConnection::select() {
    const std::string stored = db_->findTable(std::string(st_.table));
    if (stored.empty()) throw jeterr::inputTableMissing(st_.table);
    return runSelect(*db_, stored, st_.query);
}

// ALTER TABLE on a column: an altered column's values are stored again as an
// UPDATE's SET stores them.
void JetConnection::alterColumn() {
    const std::string stored = db_->findTable(st_.columnChange.table);
    if (stored.empty()) throw jeterr::tableMissing(st_.columnChange.table);
    if (startsWithMSys(stored))
        for (const auto& t : db_->listTables())
            if (t.name == stored && t.kind != TableKind::User)
                throw Error(jeterr::kNotSupported, jeterr::kReadOnlyText);
    forgetTable();
    ColumnChange change = st_.columnChange;
    change.table = stored;
    db_->changeColumn(change, [&](const Value& v, const ColumnDef& c) { return storedValue(v, c, stored); });
}

// ALTER TABLE ... SET: a column's or the table's properties.
void JetConnection::setProperties() {
    const std::string stored = db_->findTable(st_.propertyChange.table);
    if (stored.empty()) throw jeterr::tableMissing(st_.propertyChange.table);
    forgetTable();
    PropertyChange change = st_.propertyChange;
    change.table = stored;
    db_->setProperties(change);
}

// UPDATE and DELETE: the rows changed are the records affected.
void JetConnection::change(long* recordsAffected) {
    const std::string stored = db_->findTable(std::string(st_.table));
    if (stored.empty()) throw jeterr::inputTableMissing(st_.table);
    if (startsWithMSys(stored))
        for (const auto& t : db_->listTables())
            if (t.name == stored && t.kind != TableKind::User)
                throw Error(jeterr::kNotSupported, jeterr::kReadOnlyText);
    Query& q = *st_.query;
    const long n = q.kind == QueryKind::Update ? runUpdate(*db_, stored, q) : runDelete(*db_, stored, q);
    if (recordsAffected) *recordsAffected = n;
}

// The foreign-keys rowset: a row per column pair of each relationship.
std::unique_ptr<Cursor> JetConnection::foreignKeys() {
    std::vector<FieldInfo> fields{{"FK_NAME", adtype::VarWChar, 128},        {"PK_TABLE_NAME", adtype::VarWChar, 128},
                                  {"PK_COLUMN_NAME", adtype::VarWChar, 128}, {"FK_TABLE_NAME", adtype::VarWChar, 128},
                                  {"FK_COLUMN_NAME", adtype::VarWChar, 128}, {"ORDINAL", adtype::Integer, 4},
                                  {"UPDATE_RULE", adtype::VarWChar, 32},     {"DELETE_RULE", adtype::VarWChar, 32}};
    std::vector<std::vector<Value>> rows;
    for (const RelationshipDef& r : db_->relationships())
        for (size_t i = 0; i < r.columns.size() && i < r.referencedColumns.size(); ++i)
            rows.push_back({Value(r.name), Value(r.referenced), Value(r.referencedColumns[i]), Value(r.table),
                            Value(r.columns[i]), Value(int64_t(i + 1)),
                            Value(std::string(r.cascadeUpdate ? "CASCADE" : "NO ACTION")),
                            Value(std::string(r.cascadeDelete ? "CASCADE" : "NO ACTION"))});
    return std::make_unique<VectorCursor>(std::move(fields), std::move(rows));
}

std::unique_ptr<Cursor> JetConnection::openSchema(int schema) {
    if (!db_) throw closedError();
    if (schema == adSchemaForeignKeys) return foreignKeys();
    if (schema != adSchemaTables) throw jeterr::notCapable();
    auto tables = db_->listTables();
    struct Entry {
        const char* type;
        std::string name;
    };
    std::vector<Entry> entries;
    entries.reserve(tables.size());
    for (auto& t : tables) entries.push_back({tableTypeText(t.kind), std::move(t.name)});
    // The tables rowset comes ordered by type, then name.
    auto key = [](const std::string& s) {
        std::string k = s;
        for (char& c : k)
            if (c >= 'A' && c <= 'Z') c = char(c + 32);
        return k;
    };
    std::stable_sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
        const int t = std::string_view(a.type).compare(b.type);
        if (t != 0) return t < 0;
        return key(a.name) < key(b.name);
    });
    std::vector<std::vector<Value>> rows;
    rows.reserve(entries.size());
    for (const auto& e : entries) rows.push_back(tablesSchemaRow(e.name, e.type));
    return std::make_unique<VectorCursor>(tablesSchemaFields(), std::move(rows));
}

std::unique_ptr<ProviderConnection> openJetConnection(const ConnectionString& cs, const ConnectionOptions& options,
                                                      const DatabaseOpener& opener) {
    const std::string path = cs.get("Data Source");
    const std::string password = cs.get(kPasswordKey);
    const bool readOnly = options.mode == 1;  // adModeRead
    auto db = opener(path, password, readOnly);
    if (!db) throw Error("The database '" + path + "' could not be opened.");
    return std::make_unique<JetConnection>(std::move(db));
}

}  // namespace tp::db::jet
