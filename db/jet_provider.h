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

class JetConnection : public ProviderConnection {
public:
    explicit JetConnection(std::unique_ptr<Database> db);
    ~JetConnection() override;

    std::unique_ptr<Cursor> execute(std::string_view sql, long* recordsAffected) override;
    std::unique_ptr<Cursor> openSchema(int schema) override;
    void close() override;
    void beginTrans() override;
    void commitTrans() override;
    void rollbackTrans() override;

    Database& database();

private:
    void insert(long* recordsAffected);
    void cacheTable();
    void mapColumns();
    void fillRow();
    std::unique_ptr<Cursor> select();
    void change(long* recordsAffected);
    void alterColumn();
    std::unique_ptr<Cursor> foreignKeys();
    void forgetTable();

    std::unique_ptr<Database> db_;
    Statement st_;
    // The last INSERT's table: its name as written, as stored, its columns,
    // and the positions named by the last column list.
    bool cached_ = false;
    std::string cachedName_, storedName_;
    std::vector<ColumnDef> columns_;
    bool mapped_ = false;
    std::string mappedListText_;
    std::vector<int> mapping_;
    std::vector<Value> row_;
    std::vector<char> given_;
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
