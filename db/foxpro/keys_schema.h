// The indexes (12), foreign keys (27) and columns (4) schema rowsets of the FoxPro
// provider: the tags of each table's structural index, and the container's
// persistent relations. What cannot be read is told in the PROBLEM column,
// never thrown, so a damaged index never stops a table's rows.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "db/cursor.h"
#include "db/error.h"
#include "db/foxpro/cdx.h"
#include "db/foxpro/dbc.h"
#include "db/foxpro/dbf.h"

namespace tp::db::foxpro {

// The tags of one table's structural index, as read for the rowsets.
struct TableTags {
    std::string table;              // the table's name in the tables rowset
    std::string cdx;                // the index file; empty when there is none
    std::vector<CdxTag> tags;       // names and expressions in UTF-8
    std::string problem;            // why the index as a whole cannot be read
    const DbcTable* dbc = nullptr;  // the container's record of the table, if any
};

// Reads the structural index beside dbfPath. A missing index is a problem
// when the table's header says it has one, or when the container records
// tags for it (dbc non-null with indexes). Never throws for a damaged or
// missing index.
TableTags readTableTags(const std::string& dbfPath, const std::string& table, const DbcTable* dbc,
                        const ReadOptions& options);
// Tags for a table whose file cannot be found: a problem when the container
// records tags for it, else none.
TableTags missingTableTags(const std::string& table, const DbcTable* dbc, const std::string& why);

std::vector<FieldInfo> indexSchemaFields();
// The table's rows of the indexes rowset, in directory order, then a
// problem row for each tag the container records that the index lacks.
void appendIndexRows(const TableTags& tags, std::vector<std::vector<Value>>& rows);

std::vector<FieldInfo> foreignKeySchemaFields();
// One row per relation of the container; tagsOf gives a table's tags (by
// index into dbc.tables), to check that both tags exist.
std::vector<std::vector<Value>> foreignKeyRows(const Dbc& dbc, const std::function<const TableTags&(size_t)>& tagsOf);

// The columns rowset (4) of a container: each field of each table, with
// its default value expression, caption, comment (DESCRIPTION), rule and
// its message, input mask and format as FoxPro keeps them; PROPERTY_PROBLEM
// tells a damaged property memo.
std::vector<FieldInfo> columnSchemaFields();
std::vector<std::vector<Value>> columnRows(const Dbc& dbc);
// The columns both rowsets end with: the rule, its message
// (VALIDATION_RULE, VALIDATION_TEXT) and the damage of the property memo
// (PROPERTY_PROBLEM); the tables rowset has a table's comment as its
// DESCRIPTION.
void appendRuleColumns(std::vector<FieldInfo>& fields);
void appendRuleValues(const DbcProperties& p, std::vector<Value>& row);

}  // namespace tp::db::foxpro
