#include "db/ado.h"

#include <algorithm>
#include <mutex>

namespace tp::db {

namespace {

std::string trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
    return std::string(s.substr(b, e - b));
}

bool iequals(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// Provider names compare without regard to ASCII case.
std::string asciiLower(std::string s) {
    for (auto& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

const Error* g_creationFailure = nullptr;
Error g_creationFailureCopy{0, ""};

}  // namespace

// ---- connection strings -------------------------------------------------

namespace {

// A key: up to "=" or ";" ("==" stands for a literal "="), trimmed.
std::string readKey(std::string_view text, size_t& i) {
    const size_t n = text.size();
    std::string key;
    while (i < n && text[i] != ';') {
        if (text[i] == '=') {
            if (i + 1 < n && text[i + 1] == '=') {
                key += '=';
                i += 2;
                continue;
            }
            break;
        }
        key += text[i++];
    }
    return trim(key);
}

// A value in quotes (a doubled quote stands for one), i at the opening
// quote; anything after the closing quote up to ";" is passed over.
std::string readQuotedValue(std::string_view text, size_t& i) {
    const size_t n = text.size();
    std::string value;
    const char q = text[i++];
    while (i < n) {
        if (text[i] == q) {
            if (i + 1 < n && text[i + 1] == q) {
                value += q;
                i += 2;
                continue;
            }
            ++i;
            break;
        }
        value += text[i++];
    }
    while (i < n && text[i] != ';') ++i;
    return value;
}

// The value after "=", i just past it.
std::string readValue(std::string_view text, size_t& i) {
    const size_t n = text.size();
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i < n && (text[i] == '"' || text[i] == '\'')) return readQuotedValue(text, i);
    const size_t start = i;
    while (i < n && text[i] != ';') ++i;
    return trim(text.substr(start, i - start));
}

}  // namespace

ConnectionString ConnectionString::parse(std::string_view text) {
    ConnectionString cs;
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        const std::string key = readKey(text, i);
        std::string value;
        if (i < n && text[i] == '=') value = readValue(text, ++i);
        if (i < n && text[i] == ';') ++i;
        if (!key.empty()) cs.set(key, std::move(value));
    }
    return cs;
}

std::string ConnectionString::get(std::string_view key) const {
    for (const auto& [k, v] : pairs_)
        if (iequals(k, key)) return v;
    return {};
}

bool ConnectionString::has(std::string_view key) const {
    for (const auto& kv : pairs_)
        if (iequals(kv.first, key)) return true;
    return false;
}

void ConnectionString::set(std::string_view key, std::string value) {
    // The last occurrence of a key wins.
    for (auto& kv : pairs_)
        if (iequals(kv.first, key)) {
            kv.second = std::move(value);
            return;
        }
    pairs_.emplace_back(std::string(key), std::move(value));
}

std::string ConnectionString::quoteValue(std::string_view v) {
    const bool needs =
        v.find_first_of(";=\"'") != std::string_view::npos || (!v.empty() && (v.front() == ' ' || v.back() == ' '));
    if (!needs) return std::string(v);
    const char q = v.find('"') == std::string_view::npos ? '"' : '\'';
    std::string out(1, q);
    for (char c : v) {
        out += c;
        if (c == q) out += q;
    }
    out += q;
    return out;
}

std::string ConnectionString::toString() const {
    std::string s;
    for (const auto& [k, v] : pairs_) {
        for (char c : k) {
            s += c;
            if (c == '=') s += '=';
        }
        s += '=';
        s += quoteValue(v);
        s += ';';
    }
    return s;
}

// ---- providers ----------------------------------------------------------

ProviderRegistry& ProviderRegistry::instance() {
    static ProviderRegistry r;
    return r;
}

void ProviderRegistry::add(std::string name, ProviderFactory factory) {
    factories_[asciiLower(std::move(name))] = std::move(factory);
}

void ProviderRegistry::remove(std::string_view name) { factories_.erase(asciiLower(std::string(name))); }

const ProviderFactory* ProviderRegistry::find(std::string_view name) const {
    auto it = factories_.find(asciiLower(trim(name)));
    return it == factories_.end() ? nullptr : &it->second;
}

// ---- objects --------------------------------------------------------------

void setObjectCreationFailure(const Error* failure) {
    if (failure) {
        g_creationFailureCopy = *failure;
        g_creationFailure = &g_creationFailureCopy;
    } else {
        g_creationFailure = nullptr;
    }
}

static void checkCreation(std::string_view progId, std::string_view expected) {
    if (g_creationFailure) throw *g_creationFailure;
    if (!iequals(progId, expected)) throw Error(Error::kCannotCreateObject, "ActiveX component can't create object");
}

std::unique_ptr<Connection> CreateConnection(std::string_view progId) {
    checkCreation(progId, "ADODB.Connection");
    registerBuiltinProviders();
    return std::make_unique<Connection>();
}

std::unique_ptr<Recordset> CreateRecordset(std::string_view progId) {
    checkCreation(progId, "ADODB.RecordSet");
    return std::make_unique<Recordset>();
}

// ---- Connection -----------------------------------------------------------

Connection::~Connection() {
    try {
        Close();
    } catch (...) {}
}

void Connection::Open(std::string_view text) {
    if (provider_) throw Error(3705, "Operation is not allowed when the object is open.");
    auto cs = ConnectionString::parse(text);
    const auto* factory = ProviderRegistry::instance().find(cs.get("Provider"));
    if (!factory) throw Error(Error::kProviderNotFound, "Provider cannot be found. It may not be properly installed.");
    ConnectionOptions opts{CursorLocation, CommandTimeout, ConnectionTimeout, Mode, CodePage};
    provider_ = (*factory)(cs, opts);
    if (!provider_) throw Error("The provider could not open the connection.");
    connectionString_ = std::string(text);
}

ProviderConnection& Connection::provider() {
    if (!provider_) throw Error(Error::kObjectClosed, "Operation is not allowed when the object is closed.");
    return *provider_;
}

std::unique_ptr<Recordset> Connection::Execute(std::string_view sql, long* recordsAffected) {
    auto cursor = provider().execute(sql, recordsAffected);
    if (!cursor) return nullptr;
    return std::make_unique<Recordset>(std::move(cursor));
}

std::unique_ptr<Recordset> Connection::Execute(std::string_view sql, PreparedStatement* prepared) {
    auto cursor = provider().executePrepared(sql, prepared, nullptr);
    if (!cursor) return nullptr;
    return std::make_unique<Recordset>(std::move(cursor));
}

std::unique_ptr<Recordset> Connection::OpenSchema(int schema) {
    return std::make_unique<Recordset>(provider().openSchema(schema));
}

long Connection::BeginTrans() {
    provider().beginTrans();
    return 1;
}

void Connection::CommitTrans() { provider().commitTrans(); }

void Connection::RollbackTrans() { provider().rollbackTrans(); }

void Connection::Close() {
    if (!provider_) return;
    auto p = std::move(provider_);
    p->close();
}

// ---- Recordset ------------------------------------------------------------

void Recordset::attach(std::unique_ptr<Cursor> cursor) {
    cursor_ = std::move(cursor);
    row_.clear();
    bof_ = false;
    eof_ = !cursor_ || !cursor_->next(row_);
    if (eof_) bof_ = true;  // an empty set stands at both ends
}

void Recordset::Open(std::string_view commandText, Connection& connection) {
    if (cursor_) throw Error(3705, "Operation is not allowed when the object is open.");
    auto cursor = connection.provider().execute(commandText, nullptr);
    if (!cursor) throw Error("The command did not return rows.");
    attach(std::move(cursor));
}

void Recordset::Close() {
    if (!cursor_) throw Error(Error::kObjectClosed, "Operation is not allowed when the object is closed.");
    cursor_.reset();
    row_.clear();
    eof_ = bof_ = true;
}

void Recordset::requireOpen() const {
    if (!cursor_) throw Error(Error::kObjectClosed, "Operation is not allowed when the object is closed.");
}

bool Recordset::atEnd() const {
    requireOpen();
    return eof_;
}

bool Recordset::beforeStart() const {
    requireOpen();
    return bof_;
}

void Recordset::MoveNext() {
    requireOpen();
    if (eof_)
        throw Error(Error::kEofOrBof,
                    "Either BOF or EOF is True, or the current record has been deleted. "
                    "Requested operation requires a current record.");
    bof_ = false;
    if (!cursor_->next(row_)) {
        eof_ = true;
        row_.clear();
    }
}

int Recordset::fieldCount() const {
    requireOpen();
    return static_cast<int>(cursor_->fields().size());
}

const std::vector<FieldInfo>& Recordset::fieldInfos() const {
    requireOpen();
    return cursor_->fields();
}

Field Recordset::Fields(int index) const {
    const auto& f = fieldInfos();
    if (index < 0 || static_cast<size_t>(index) >= f.size())
        throw Error(Error::kItemNotFound,
                    "Item cannot be found in the collection corresponding to the requested name or ordinal.");
    return Field(&f[static_cast<size_t>(index)], this, index);
}

Field Recordset::Fields(std::string_view name) const {
    const auto& f = fieldInfos();
    for (size_t i = 0; i < f.size(); ++i)
        if (iequals(f[i].name, name)) return Field(&f[i], this, static_cast<int>(i));
    throw Error(Error::kItemNotFound,
                "Item cannot be found in the collection corresponding to the requested name or ordinal.");
}

const Value& Field::value() const {
    if (rs_->eof_ || rs_->bof_ || static_cast<size_t>(index_) >= rs_->row_.size())
        throw Error(Error::kEofOrBof,
                    "Either BOF or EOF is True, or the current record has been deleted. "
                    "Requested operation requires a current record.");
    return rs_->row_[static_cast<size_t>(index_)];
}

// ---- helpers --------------------------------------------------------------

bool VectorCursor::next(std::vector<Value>& row) {
    if (pos_ >= rows_.size()) return false;
    row = std::move(rows_[pos_++]);
    return true;
}

std::vector<FieldInfo> tablesSchemaFields() {
    return {{"TABLE_CATALOG", adtype::VarWChar, 128},
            {"TABLE_SCHEMA", adtype::VarWChar, 128},
            {"TABLE_NAME", adtype::VarWChar, 128},
            {"TABLE_TYPE", adtype::VarWChar, 32},
            {"DESCRIPTION", adtype::VarWChar, 255}};
}

std::vector<Value> tablesSchemaRow(const std::string& name, const std::string& type, const std::string& description) {
    return {Value(), Value(), Value(name), Value(type), description.empty() ? Value() : Value(description)};
}

}  // namespace tp::db
