// Keys, indexes and relations: from the FoxPro source's tags and relations
// to Access's own SQL for them.
//
// A tag's key expression becomes a list of columns when it has a faithful
// Access form (fields, UPPER/LOWER and the trimming functions of a field,
// DTOS/STR/TTOC of a field, concatenations of those); otherwise it is left
// out with the reason the user is told.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "convert/defaults.h"
#include "db/ado.h"

namespace tp::convert::keys {

// An index column of the Access table.
struct KeyColumn {
    std::string name;
    bool descending = false;
    bool operator==(const KeyColumn&) const = default;
};

// A key expression as a column list, or the reason it has none.
struct Translation {
    std::vector<KeyColumn> columns;
    std::string reason;  // empty when translated
    // The columns under LTRIM() or ALLTRIM(): the index is faithful only
    // while none of their values begins with a blank (the run keeps leading
    // blanks; FoxPro's key leaves them out). The function's name for each.
    std::vector<std::pair<std::string, std::string>> leadingBlanksIgnored;
    bool ok() const { return reason.empty(); }
};

// Translates a tag: its key expression, FOR filter (empty: none) and order,
// over the Access table's columns (the table's fields as the run created
// them; names are matched without regard to case, also as table.field).
Translation translate(std::string_view expression, std::string_view filter, bool descending,
                      const std::vector<db::FieldInfo>& columns, std::string_view table);

inline constexpr size_t kMaxIndexColumns = 10;  // Access's limit

// A tag of the source, as the FoxPro provider's indexes rowset gives it.
struct Tag {
    std::string table, name, expression, filter;
    std::string kind;  // "PRIMARY", "CANDIDATE", "UNIQUE" or "REGULAR"
    std::string problem;
    bool descending = false;
};

// A persistent relation of the source's database container.
struct Relation {
    std::string name, parent, parentTag, child, childTag;
    bool updateCascades = false, deleteCascades = false;
    std::string problem;
    // False for a relation FoxPro does not enforce: it becomes a
    // relationship without referential integrity ("NOT ENFORCED").
    bool enforced = true;
};

// A relationship of the Access target.
struct TargetRelation {
    std::string name, parent, child;
};

// The schema rowsets. A provider that does not offer one (or fails to)
// gives none.
std::vector<Tag> readTags(db::Connection& source);
std::vector<Relation> readRelations(db::Connection& source);
std::vector<TargetRelation> readTargetRelations(db::Connection& target);
// The fields with a default value (the columns rowset).
std::vector<FieldDefault> readDefaults(db::Connection& source);

// What the source says of a field (column set) or of a table (column
// empty) beside its data, as the source keeps it: the caption, comment,
// validation rule and its message, input mask and format; why its record
// of them is damaged.
struct SourceProperties {
    std::string table, column;
    std::string caption, description, rule, ruleText, inputMask, format, problem;
};
// The columns and tables rowsets' properties: only fields and tables that
// have one.
std::vector<SourceProperties> readProperties(db::Connection& source);

// Access's statements for them.
std::string indexStatement(const Tag& tag, const std::string& table, const std::vector<KeyColumn>& columns);
std::string relationStatement(const Relation& r, const std::string& name, const std::vector<KeyColumn>& childColumns,
                              const std::vector<KeyColumn>& parentColumns);
std::string dropRelationStatement(const TargetRelation& r);

// The name Access gives a relationship: the parent's name followed by the
// child's, made unique among `taken` (compared without regard to case) with
// a number; the name is added to `taken`.
std::string relationName(const std::string& parent, const std::string& child, std::set<std::string>& taken);

// The lines that tell what was left out.
std::string tagNote(const std::string& table, const std::string& tag, const std::string& reason);
std::string relationNote(const Relation& r, const std::string& reason);

}  // namespace tp::convert::keys
