// A small ADO-like data layer: Connection and Recordset objects created by
// ProgID, providers chosen by the connection string's Provider key.
//
// Providers plug in through ProviderRegistry: a provider turns a parsed
// connection string into a ProviderConnection, which executes statements and
// opens cursors. Connection and Recordset add the ADO surface on top.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/cursor.h"
#include "db/error.h"
#include "db/value.h"

namespace tp::db {

// Schema rowsets (SchemaEnum): a provider offers the tables rowset and may
// offer the others.
inline constexpr int adSchemaColumns = 4, adSchemaIndexes = 12, adSchemaTables = 20, adSchemaForeignKeys = 27;
inline constexpr int adUseServer = 2, adUseClient = 3;
inline constexpr int adModeReadWrite = 3;

// Connection-string keys and values, parsed by the OLE DB rules: pairs
// separated by ";", keys compared without regard to case, values optionally
// quoted with " or ' (a doubled quote inside stands for one).
class ConnectionString {
public:
    ConnectionString() = default;
    static ConnectionString parse(std::string_view text);
    // Empty when absent.
    std::string get(std::string_view key) const;
    bool has(std::string_view key) const;
    void set(std::string_view key, std::string value);
    // Renders key=value pairs, quoting values that need it.
    std::string toString() const;
    // Quotes a value so that ";", "=" and quotes inside cannot start a new key.
    static std::string quoteValue(std::string_view value);

private:
    std::vector<std::pair<std::string, std::string>> pairs_;
};

struct ConnectionOptions {
    int cursorLocation = adUseServer;
    int commandTimeout = 30;
    int connectionTimeout = 15;
    int mode = 0;
    CodePageChoice codePage;
};

// Work a provider can do on a statement's text ahead of its execution, on
// another thread than the connection's (for the Access engine: an INSERT's
// values read and converted to its table's columns). A prepared statement
// only saves time: executing it has the very effects and failures of
// executing its text.
class PreparedStatement {
public:
    virtual ~PreparedStatement() = default;
    // Set by the execution: the preparation was used (false: the statement
    // ran from its text, as one the preparer could not take).
    bool ranPrepared = false;
};

class StatementPreparer {
public:
    virtual ~StatementPreparer() = default;
    // Prepares the text into `into` (reusing the object when it is one of
    // this preparer's). Never throws: a statement it cannot prepare is
    // executed from its text.
    virtual void prepare(std::string_view sql, std::unique_ptr<PreparedStatement>& into) = 0;
};

// What a provider offers once open.
class ProviderConnection {
public:
    virtual ~ProviderConnection() = default;
    // Runs a statement. A row-returning statement gives a cursor, others
    // give nullptr; *recordsAffected is set when given.
    virtual std::unique_ptr<Cursor> execute(std::string_view sql, long* recordsAffected) = 0;
    // The same, with the work a preparer of this connection did on the text
    // (null: none).
    virtual std::unique_ptr<Cursor> executePrepared(std::string_view sql, PreparedStatement* prepared,
                                                    long* recordsAffected) {
        (void)prepared;
        return execute(sql, recordsAffected);
    }
    // A preparer for statements into the table (empty: the table the last
    // statement wrote rows into), used on one other thread while the
    // connection goes on; it reads nothing of the connection after it is
    // made. Null when the provider prepares nothing.
    virtual std::unique_ptr<StatementPreparer> preparer(std::string_view table) {
        (void)table;
        return nullptr;
    }
    // Schema rowsets; the tables schema (20) has at least TABLE_NAME and
    // TABLE_TYPE text columns.
    virtual std::unique_ptr<Cursor> openSchema(int schema) = 0;
    // The file's "Jet OLEDB:Engine Type": 4 Access 97 (Jet 3), 5 Jet 4,
    // 6 ACE; 0 for a source that is no Access file.
    virtual int engineType() const { return 0; }
    virtual void close() = 0;
    // Transactions: the statements between beginTrans() and commitTrans()
    // take effect together; rollbackTrans() undoes them all. Providers
    // without them refuse (3251).
    virtual void beginTrans() { notCapable(); }
    virtual void commitTrans() { notCapable(); }
    virtual void rollbackTrans() { notCapable(); }

protected:
    [[noreturn]] static void notCapable() {
        throw Error(3251, "Object or provider is not capable of performing requested operation.");
    }
};

using ProviderFactory =
    std::function<std::unique_ptr<ProviderConnection>(const ConnectionString&, const ConnectionOptions&)>;

class ProviderRegistry {
public:
    static ProviderRegistry& instance();
    // Names are compared without regard to case.
    void add(std::string name, ProviderFactory factory);
    void remove(std::string_view name);
    const ProviderFactory* find(std::string_view name) const;

private:
    std::map<std::string, ProviderFactory> factories_;
};

// Registers the providers built into the program (FoxPro reader, Access
// engine). Safe to call more than once.
void registerBuiltinProviders();

class Recordset;

class Field {
public:
    const std::string& name() const { return info_->name; }
    int type() const { return info_->type; }
    const Value& value() const;
    const FieldInfo& info() const { return *info_; }

private:
    friend class Recordset;
    Field(const FieldInfo* info, const Recordset* rs, int index) : info_(info), rs_(rs), index_(index) {}
    const FieldInfo* info_;
    const Recordset* rs_;
    int index_;
};

class Connection {
public:
    Connection() = default;
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    int CursorLocation = adUseServer;
    int CommandTimeout = 30;
    int ConnectionTimeout = 15;
    int Mode = 0;
    // Read by the providers of sources whose text may not name its code page
    // (the FoxPro reader).
    CodePageChoice CodePage;

    void Open(std::string_view connectionString);
    // The statement has taken effect when the call returns; a row-returning
    // statement gives an open recordset.
    std::unique_ptr<Recordset> Execute(std::string_view sql, long* recordsAffected = nullptr);
    // The same with a statement prepared ahead (ProviderConnection::preparer).
    std::unique_ptr<Recordset> Execute(std::string_view sql, PreparedStatement* prepared);
    std::unique_ptr<StatementPreparer> statementPreparer(std::string_view table) {
        return provider().preparer(table);
    }
    std::unique_ptr<Recordset> OpenSchema(int schema);
    int EngineType() { return provider().engineType(); }
    // A transaction around the statements that follow (one level): returns
    // the nesting level, 1. CommitTrans keeps their effects, RollbackTrans
    // undoes them. Closing with a transaction open rolls it back.
    long BeginTrans();
    void CommitTrans();
    void RollbackTrans();
    void Close();
    bool isOpen() const { return static_cast<bool>(provider_); }
    const std::string& connectionString() const { return connectionString_; }
    ProviderConnection& provider();

private:
    std::unique_ptr<ProviderConnection> provider_;
    std::string connectionString_;
};

class Recordset {
public:
    Recordset() = default;
    explicit Recordset(std::unique_ptr<Cursor> cursor) { attach(std::move(cursor)); }

    // Opens the command text on an open connection: forward-only, read-only.
    void Open(std::string_view commandText, Connection& connection);
    void Close();
    bool isOpen() const { return static_cast<bool>(cursor_); }

    bool atEnd() const;
    bool beforeStart() const;
    void MoveNext();

    int fieldCount() const;
    Field Fields(int index) const;
    Field Fields(std::string_view name) const;
    const std::vector<FieldInfo>& fieldInfos() const;
    // The cursor's expected row count, or -1 (see Cursor::sizeHint).
    int64_t RecordCountHint() const { return cursor_ ? cursor_->sizeHint() : -1; }
    // The cursor's notices since the last call (none when closed).
    std::vector<ReadNotice> takeNotices() { return cursor_ ? cursor_->takeNotices() : std::vector<ReadNotice>{}; }
    // The current row's values (valid while neither EOF nor BOF).
    const std::vector<Value>& row() const { return row_; }

private:
    friend class Field;
    void attach(std::unique_ptr<Cursor> cursor);
    void requireOpen() const;
    std::unique_ptr<Cursor> cursor_;
    std::vector<Value> row_;
    bool eof_ = true;
    bool bof_ = true;
};

// Creation by ProgID: "ADODB.Connection", "ADODB.RecordSet" (case-insensitive).
// An unknown ProgID raises Error 429.
std::unique_ptr<Connection> CreateConnection(std::string_view progId = "ADODB.Connection");
std::unique_ptr<Recordset> CreateRecordset(std::string_view progId = "ADODB.RecordSet");

// Tests may make object creation fail, to exercise the missing-layer paths.
void setObjectCreationFailure(const Error* failure);

// The tables schema rowset layout (TABLE_CATALOG, TABLE_SCHEMA, TABLE_NAME,
// TABLE_TYPE, DESCRIPTION) and a row builder for it.
std::vector<FieldInfo> tablesSchemaFields();
std::vector<Value> tablesSchemaRow(const std::string& name, const std::string& type,
                                   const std::string& description = {});

}  // namespace tp::db
