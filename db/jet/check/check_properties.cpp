// The property lists of the tables: the blob's blocks and entries inside
// it, with the magic of the file's version; each entry's name in the names
// block; a column map at most once and only for a column of the table; and
// every validation rule one the engine can enforce.
#include <set>

#include "db/jet/check/checker.h"

namespace tp::db::jet {

void Checker::checkProperties(const StoredTable& t) {
    const CatalogEntry* entry = nullptr;
    for (const CatalogEntry& e : db_.catalog_)
        if (e.isTable() && e.tablePage() == t.page) entry = &e;
    if (!entry) return;
    const Bytes list = db_.propertiesOf(*entry);
    if (list.empty()) return;
    const std::string object = "table '" + t.name + "', its property list";
    PropertyList l;
    std::string why;
    if (!readPropertyList(list, db_.jet3_ ? db_.codePage_ : 0, l, &why)) problem(object + ": " + why);
    checkPropertyMaps(t, l, object);
}

void Checker::checkPropertyMaps(const StoredTable& t, const PropertyList& l, const std::string& object) {
    const unsigned codePage = db_.jet3_ ? db_.codePage_ : 0;
    std::set<std::string> columns, seen;
    for (const StoredColumn& c : t.columns) columns.insert(foldName(c.name));
    for (const PropertyMap& m : l.maps) {
        const bool column = m.kind == props::kColumn;
        const std::string what = column ? object + ", the map of field '" + m.object + "'" : object;
        if (column && !columns.count(foldName(m.object))) problem(what + ": the table has no such field");
        else if (column && !seen.insert(foldName(m.object)).second) problem(what + ": a second map for the field");
        const PropertyEntry* rule = m.find("ValidationRule");
        if (!rule || (rule->type != props::kMemo && rule->type != props::kText)) continue;
        if (column && !columns.count(foldName(m.object))) continue;
        const std::string why = db_.ruleProblem(t, column ? m.object : std::string(), propertyText(*rule, codePage));
        if (!why.empty()) problem(what + ": its validation rule cannot be enforced: " + why);
    }
}

}  // namespace tp::db::jet
