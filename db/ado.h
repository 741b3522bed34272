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

#include "db/error.h"
#include "db/value.h"

namespace tp::db {

// ADO DataTypeEnum numbers used by the providers.
namespace adtype {
inline constexpr int Empty = 0, SmallInt = 2, Integer = 3, Single = 4, Double = 5, Currency = 6, Date = 7, BSTR = 8,
                     Boolean = 11, Decimal = 14, TinyInt = 16, UnsignedTinyInt = 17, BigInt = 20, GUID = 72,
                     Binary = 128, Char = 129, WChar = 130, Numeric = 131, DBDate = 133, DBTime = 134,
                     DBTimeStamp = 135, VarChar = 200, LongVarChar = 201, VarWChar = 202, LongVarWChar = 203,
                     VarBinary = 204, LongVarBinary = 205;
}

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

struct FieldInfo {
    std::string name;
    int type = adtype::Empty;  // ADO DataTypeEnum
    int definedSize = 0;       // characters or bytes; 0 when not fixed
    int precision = 0;
    int numericScale = 0;
    bool nullable = true;
};

// Something a cursor met that did not stop its rows, told once: the text
// for the user and how many values it cost (0 for a warning). A code page
// notice tells which code page a table's text was read in where the table
// did not name it, or named one its text is not valid in.
struct ReadNotice {
    std::string text;
    int64_t lostValues = 0;
    bool codePage = false;
};

// A forward-only stream of rows.
class Cursor {
public:
    virtual ~Cursor() = default;
    virtual const std::vector<FieldInfo>& fields() const = 0;
    // Fills row (one value per field) and returns true, or returns false at
    // the end.
    virtual bool next(std::vector<Value>& row) = 0;
    // The number of rows the cursor expects to give, or -1 when it cannot
    // tell (progress display only; never trusted for allocation).
    virtual int64_t sizeHint() const { return -1; }
    // The notices met since the last call.
    virtual std::vector<ReadNotice> takeNotices() { return {}; }
};

// The code page of a source's text where its files name none, or name one
// their text is not valid in: 0 lets the provider find it from the text.
// With force, the code page of all of the source's text.
struct CodePageChoice {
    int codePage = 0;
    bool force = false;
    bool operator==(const CodePageChoice&) const = default;
};

struct ConnectionOptions {
    int cursorLocation = adUseServer;
    int commandTimeout = 30;
    int connectionTimeout = 15;
    int mode = 0;
    CodePageChoice codePage;
};

// What a provider offers once open.
class ProviderConnection {
public:
    virtual ~ProviderConnection() = default;
    // Runs a statement. A row-returning statement gives a cursor, others
    // give nullptr; *recordsAffected is set when given.
    virtual std::unique_ptr<Cursor> execute(std::string_view sql, long* recordsAffected) = 0;
    // Schema rowsets; the tables schema (20) has at least TABLE_NAME and
    // TABLE_TYPE text columns.
    virtual std::unique_ptr<Cursor> openSchema(int schema) = 0;
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
    std::unique_ptr<Recordset> OpenSchema(int schema);
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

// A cursor over rows held in memory (schema rowsets, small results).
class VectorCursor : public Cursor {
public:
    VectorCursor(std::vector<FieldInfo> fields, std::vector<std::vector<Value>> rows)
        : fields_(std::move(fields)), rows_(std::move(rows)) {}
    const std::vector<FieldInfo>& fields() const override { return fields_; }
    bool next(std::vector<Value>& row) override;

private:
    std::vector<FieldInfo> fields_;
    std::vector<std::vector<Value>> rows_;
    size_t pos_ = 0;
};

// The tables schema rowset layout (TABLE_CATALOG, TABLE_SCHEMA, TABLE_NAME,
// TABLE_TYPE, DESCRIPTION) and a row builder for it.
std::vector<FieldInfo> tablesSchemaFields();
std::vector<Value> tablesSchemaRow(const std::string& name, const std::string& type,
                                   const std::string& description = {});

}  // namespace tp::db
