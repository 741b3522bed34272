// The keys a database container records: each table's Index objects (one per
// tag of its structural index, property 17 marking the primary key) and the
// persistent relations (a Relation object belongs to the child table;
// property 13 is the child's tag, 18 the parent table, 19 the parent's tag;
// RIINFO holds the referential-integrity rules as letters for update,
// delete and insert: C cascade, R restrict, I or blank ignore).
#include <cctype>

#include "db/foxpro/dbc.h"

namespace tp::db::foxpro {

namespace {

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A text property: the value up to its NUL, trailing blanks left out.
bool textProperty(const std::vector<unsigned char>& prop, uint8_t id, std::string& out) {
    if (!dbcProperty(prop, id, out)) return false;
    if (const size_t nul = out.find('\0'); nul != std::string::npos) out.resize(nul);
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return !out.empty();
}

// The rule of one RIINFO letter; empty for a letter FoxPro does not write.
std::string ruleOf(char letter) {
    switch (std::toupper(static_cast<unsigned char>(letter))) {
    case 'C': return "CASCADE";
    case 'R': return "RESTRICT";
    case 'I':
    case ' ':
    case '\0': return "IGNORE";
    default: return {};
    }
}

DbcRelation readRelation(const Dbc& dbc, const DbcKeyRecord& r, const std::map<int64_t, size_t>& tableById) {
    DbcRelation rel;
    rel.name = r.name;
    auto child = tableById.find(r.parent);
    if (child != tableById.end()) rel.childTable = static_cast<int>(child->second);
    const bool hasChildTag = textProperty(r.property, 13, rel.childTag);
    const bool hasParent = textProperty(r.property, 18, rel.parentName);
    const bool hasParentTag = textProperty(r.property, 19, rel.parentTag);
    for (size_t i = 0; hasParent && i < dbc.tables.size(); ++i)
        if (lower(dbc.tables[i].name) == lower(rel.parentName)) {
            rel.parentTable = static_cast<int>(i);
            break;
        }
    const std::string ri = r.riinfo + "  ";
    rel.updateRule = ruleOf(ri[0]);
    rel.deleteRule = ruleOf(ri[1]);
    rel.insertRule = ruleOf(ri[2]) == "RESTRICT" ? "RESTRICT" : "IGNORE";
    const std::string what = "The relation " + rel.name + " of " + dbc.path;
    if (rel.childTable < 0) rel.problem = what + " belongs to no table of the container.";
    else if (!hasChildTag) rel.problem = what + " names no tag of its table " + dbc.tables[child->second].name + ".";
    else if (!hasParent) rel.problem = what + " names no parent table.";
    else if (rel.parentTable < 0)
        rel.problem = what + " names the parent table " + rel.parentName + ", which the container lacks.";
    else if (!hasParentTag) rel.problem = what + " names no tag of its parent table " + rel.parentName + ".";
    else if (rel.updateRule.empty() || rel.deleteRule.empty())
        rel.problem = what + " holds referential-integrity rules FoxPro does not write (" + r.riinfo + ").";
    if (rel.updateRule.empty()) rel.updateRule = "IGNORE";
    if (rel.deleteRule.empty()) rel.deleteRule = "IGNORE";
    return rel;
}

}  // namespace

std::string DbcTable::primaryKeyTag() const {
    for (const DbcIndex& i : indexes)
        if (i.primary) return i.name;
    return primaryTag;
}

void attachDbcKeys(Dbc& dbc, const std::vector<DbcKeyRecord>& records, const std::map<int64_t, size_t>& tableById) {
    for (const DbcKeyRecord& r : records) {
        if (r.relation) {
            dbc.relations.push_back(readRelation(dbc, r, tableById));
            continue;
        }
        auto it = tableById.find(r.parent);
        if (it == tableById.end() || r.name.empty()) continue;
        std::string primary;
        dbc.tables[it->second].indexes.push_back(
            {r.name, dbcProperty(r.property, 17, primary) && !primary.empty() && primary[0] == 0x01});
    }
}

}  // namespace tp::db::foxpro
