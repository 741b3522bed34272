// ALTER TABLE ... SET: a column's or the table's properties written into the
// table's property list as one statement, every other property kept. What
// the engine acts on follows at once: a rule is parsed when set (so a stored
// rule is one the engine enforces), a DefaultValue literal must fit its
// column as DEFAULT's must, Required is NOT NULL.
#include <algorithm>

#include "db/jet/sql/sql.h"
#include "db/jet/tables/jet_database.h"

namespace tp::db::jet {

namespace {

// The checks a value passes before anything is written.
void requireSettable(const StoredTable& t, int k, const std::string& name, const std::string& value) {
    if (name == "DefaultValue") {
        Literal lit;
        const ColumnDef def = columnDefOf(t.columns[size_t(k)]);
        if (def.autoNumber) throw Error(jeterr::kSyntaxFieldDefinition, jeterr::kSyntaxFieldText);
        if (parseLiteralText(value, lit)) coerceLiteral(lit, def, t.name);
    }
}

}  // namespace

void JetDatabase::setProperties(const PropertyChange& change) {
    requireWritable();
    pager_->trim();
    atomically([&] { setPropertiesNow(change); });
    afterStatement();
}

// Required set to True: no stored row may hold a Null there.
void JetDatabase::setRequired(StoredTable& t, size_t k, bool on) {
    if (on && !t.columns[k].is(ColType::Bool))
        forEachRow(t, [&](uint32_t, const std::vector<Value>& v) {
            if (v[k].isNull()) throw jeterr::required(t.name, t.columns[k].name);
        });
}

// Every value of the statement checked before anything is written: a rule
// the engine reads, a DefaultValue literal that fits, Required on a column
// without Nulls.
void JetDatabase::requirePropertyValues(StoredTable& t, int k, const PropertyChange& change) {
    const std::string column = k < 0 ? std::string() : t.columns[size_t(k)].name;
    const std::string object = column.empty() ? t.name : t.name + "." + column;
    for (const auto& [name, value] : change.values) {
        if (!value) continue;
        if (name == "ValidationRule")
            if (const std::string why = ruleProblem(t, column, *value); !why.empty())
                throw jeterr::validationSyntax(*value, object, why);
        if (k < 0) continue;
        requireSettable(t, k, name, *value);
        if (name == "Required") setRequired(t, size_t(k), *value == "1");
    }
}

// What the engine acts on, as the table's list now gives it: the rules are
// read again, the defaults and the column's NOT NULL taken.
void JetDatabase::actOnProperties(StoredTable& t, const CatalogEntry& entry, int k) {
    t.rulesKnown = false;
    t.defaults.assign(t.columns.size(), std::string());
    for (size_t i = 0; i < t.columns.size(); ++i)
        for (const auto& [c, text] : entry.properties.defaults)
            if (foldName(c) == foldName(t.columns[i].name)) t.defaults[i] = text;
    if (k < 0) return;
    const std::string& column = t.columns[size_t(k)].name;
    const auto& required = entry.properties.required;
    t.notNull.resize(t.columns.size());
    t.notNull[size_t(k)] = std::any_of(required.begin(), required.end(),
                                       [&](const std::string& c) { return foldName(c) == foldName(column); });
    if (auto nn = notNullByPage_.find(t.page); nn != notNullByPage_.end()) nn->second = t.notNull;
}

void JetDatabase::setPropertiesNow(const PropertyChange& change) {
    CatalogEntry& entry = tableEntry(findTable(change.table));
    if (entry.flags & (msysobjects::kSystemFlag | msysobjects::kAccessSystemFlag)) throw jeterr::readOnly();
    StoredTable& t = tableByName(entry.name);
    const int k = change.column.empty() ? -1 : columnIndex(t, change.column);
    if (!change.column.empty() && k < 0) throw jeterr::itemNotFound();
    requirePropertyValues(t, k, change);
    const unsigned codePage = jet3_ ? codePage_ : 0;
    const std::string column = k < 0 ? std::string() : t.columns[size_t(k)].name;
    PropertyList l;
    readPropertyList(propertiesOf(entry), codePage, l, nullptr);
    if (l.maps.empty() || l.maps.front().kind != props::kTable) l.maps.insert(l.maps.begin(), PropertyMap{});
    for (const auto& [name, value] : change.values) setProperty(l, column, name, value, codePage);
    setProperties(entry, writePropertyList(l, codePage));
    actOnProperties(t, entry, k);
}

}  // namespace tp::db::jet
