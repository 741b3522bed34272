// The Access providers of the ADO-like layer: "Microsoft.Jet.OLEDB.4.0" and
// "Microsoft.ACE.OLEDB.12.0" over the engine's storage layer. Statements run
// one at a time; an INSERT remembers its table's columns until the next
// statement that changes the catalog.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "db/ado.h"
#include "db/jet/database.h"
#include "db/jet/sql/sql.h"

namespace tp::db::jet {

inline constexpr const char* kJetProviderName = "Microsoft.Jet.OLEDB.4.0";
inline constexpr const char* kAceProviderName = "Microsoft.ACE.OLEDB.12.0";
inline constexpr const char* kPasswordKey = "JET OLEDB:Database Password";

// Where an INSERT's values go among its table's columns: worked out once for
// a run of INSERTs with the same column list.
struct ColumnMapping {
    bool mapped = false;
    std::string listText;   // the column list it was made for
    std::vector<int> to;    // per value: its column
    std::vector<char> given;  // per column: a value names it

    // Throws the engine's error for an unknown or repeated column.
    void map(const Statement& st, const std::vector<ColumnDef>& columns);
    // The row of an INSERT: its values coerced to their columns, defaults
    // for the columns it leaves out. Throws the engine's error for a value
    // count that does not match or a value that does not convert.
    void fillRow(const Statement& st, const std::vector<ColumnDef>& columns, std::string_view table,
                 std::vector<Value>& row);
};

class JetConnection : public ProviderConnection {
public:
    explicit JetConnection(std::unique_ptr<Database> db);
    ~JetConnection() override;

    std::unique_ptr<Cursor> execute(std::string_view sql, long* recordsAffected) override;
    std::unique_ptr<Cursor> executePrepared(std::string_view sql, PreparedStatement* prepared,
                                            long* recordsAffected) override;
    std::unique_ptr<StatementPreparer> preparer(std::string_view table) override;
    std::unique_ptr<Cursor> openSchema(int schema) override;
    int engineType() const override;
    void close() override;
    void beginTrans() override;
    void commitTrans() override;
    void rollbackTrans() override;

    Database& database();

private:
    void insert(long* recordsAffected);
    void cacheTable(std::string_view table);
    std::unique_ptr<Cursor> select();
    void change(long* recordsAffected);
    void alterColumn();
    void setProperties();
    std::unique_ptr<Cursor> foreignKeys();
    void forgetTable();

    std::unique_ptr<Database> db_;
    Statement st_;
    // The last INSERT's table: its name as written, as stored, its columns,
    // and the positions named by the last column list.
    bool cached_ = false;
    std::string cachedName_, storedName_;
    std::vector<ColumnDef> columns_;
    ColumnMapping mapping_;
    std::vector<Value> row_;
    // The preparer's view of the table found equal to the cached one.
    uint64_t preparedTableChecked_ = 0;
};

using DatabaseOpener =
    std::function<std::unique_ptr<Database>(const std::string& path, const std::string& password, bool readOnly)>;

// Opens the connection string's "Data Source" with its database password;
// Mode 1 (read only) opens the file read-only, any other mode read/write.
std::unique_ptr<ProviderConnection> openJetConnection(const ConnectionString& cs, const ConnectionOptions& options,
                                                      const DatabaseOpener& opener);

// Registers both Access providers over Database::open.
void registerJetProviders();

}  // namespace tp::db::jet
