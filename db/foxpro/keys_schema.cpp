#include "db/foxpro/keys_schema.h"

#include <cctype>
#include <filesystem>
#include <memory>

#include "db/foxpro/codepage.h"
#include "db/foxpro/source.h"

namespace tp::db::foxpro {

namespace {

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string fileName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

// Byte 28 of a table's header: 0x01 when the table has a structural index.
constexpr uint8_t kHasStructuralIndex = 0x01;

struct TableHeader {
    bool read = false;
    uint8_t flags = 0;
    uint8_t driver = 0;
};

TableHeader tableHeader(const std::string& dbfPath) {
    TableHeader h;
    try {
        auto src = openFileSource(dbfPath);
        uint8_t b[32];
        if (src->readAt(0, b, sizeof b) != sizeof b) return h;
        h.read = true;
        h.flags = b[28];
        h.driver = b[29];
    } catch (const Error&) {
        // The table's own read tells why it cannot be opened.
    }
    return h;
}

// Names and expressions are text of the table's code page (mostly ASCII).
void decodeTexts(std::vector<CdxTag>& tags, int codePage) {
    std::unique_ptr<TextDecoder> decoder;
    auto text = [&](std::string& s) {
        bool ascii = true;
        for (char c : s) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
        if (ascii) return;
        if (!decoder) decoder = std::make_unique<TextDecoder>(codePage);
        s = decoder->decode(s);
    };
    for (CdxTag& t : tags) {
        text(t.name);
        text(t.expression);
        text(t.filter);
    }
}

int codePageOf(const TableHeader& h, const ReadOptions& options) {
    if (options.forceCodePage && options.codePage) return options.codePage;
    if (int cp = codePageOfDriver(h.driver)) return cp;
    return options.codePage ? options.codePage : 1252;
}

bool recordsTags(const DbcTable* dbc) { return dbc && !dbc->indexes.empty(); }

std::string kindOf(const CdxTag& t, bool primary) {
    if (primary) return "PRIMARY";
    if (t.options & kCdxCandidate) return "CANDIDATE";
    if (t.options & kCdxUnique) return "UNIQUE";
    return "REGULAR";
}

std::vector<Value> indexRow(const TableTags& tt, const std::string& name, bool primary, const CdxTag* tag,
                            std::string problem) {
    const bool good = tag && tag->problem.empty();
    const std::string kind = good ? kindOf(*tag, primary) : primary ? "PRIMARY" : "REGULAR";
    return {Value(tt.table),
            Value(name),
            Value(primary),
            Value(good && (primary || (tag->options & kCdxCandidate))),
            Value(good ? tag->expression : std::string()),
            Value(1),
            Value(good && tag->descending ? 2 : 1),
            Value(good ? tag->filter : std::string()),
            Value(kind),
            Value(std::move(problem))};
}

const CdxTag* findTag(const TableTags& tt, const std::string& name) {
    for (const CdxTag& t : tt.tags)
        if (lower(t.name) == lower(name)) return &t;
    return nullptr;
}

// Why the tag `name` of tt cannot carry a relation; empty when it can.
std::string tagProblem(const TableTags& tt, const std::string& name) {
    if (!tt.problem.empty()) return tt.problem;
    const CdxTag* t = findTag(tt, name);
    if (!t) {
        if (tt.cdx.empty()) return "The table " + tt.table + " has no structural index, so no tag " + name + ".";
        return "The tag " + name + " of the table " + tt.table + " is not in " + fileName(tt.cdx) + ".";
    }
    if (!t->problem.empty())
        return "The tag " + t->name + " of the table " + tt.table + " cannot be read from " + fileName(tt.cdx) + ": " +
               t->problem + ".";
    return {};
}

}  // namespace

TableTags readTableTags(const std::string& dbfPath, const std::string& table, const DbcTable* dbc,
                        const ReadOptions& options) {
    TableTags tt;
    tt.table = table;
    tt.dbc = dbc;
    const TableHeader header = tableHeader(dbfPath);
    tt.cdx = structuralCdxPath(dbfPath, options.listing.get());
    if (tt.cdx.empty()) {
        if ((header.read && (header.flags & kHasStructuralIndex)) || recordsTags(dbc)) {
            tt.problem = "The structural index of the table " + table + " is missing (" +
                         std::filesystem::path(dbfPath).stem().string() + ".cdx beside " + fileName(dbfPath) + ").";
        }
        return tt;
    }
    try {
        auto src = openFileSource(tt.cdx);
        tt.tags = readCdxTags(*src);
        decodeTexts(tt.tags, codePageOf(header, options));
    } catch (const Error& e) {
        tt.tags.clear();
        tt.problem = "The structural index " + tt.cdx + " of the table " + table + " cannot be read: " + e.what() + ".";
    }
    return tt;
}

TableTags missingTableTags(const std::string& table, const DbcTable* dbc, const std::string& why) {
    TableTags tt;
    tt.table = table;
    tt.dbc = dbc;
    if (recordsTags(dbc)) tt.problem = "The indexes of the table " + table + " cannot be read: " + why;
    return tt;
}

std::vector<FieldInfo> indexSchemaFields() {
    return {{"TABLE_NAME", adtype::VarWChar, 128},  {"INDEX_NAME", adtype::VarWChar, 128},
            {"PRIMARY_KEY", adtype::Boolean, 2},    {"UNIQUE", adtype::Boolean, 2},
            {"COLUMN_NAME", adtype::VarWChar, 255}, {"ORDINAL_POSITION", adtype::Integer, 4},
            {"COLLATION", adtype::SmallInt, 2},     {"FILTER_CONDITION", adtype::VarWChar, 255},
            {"INDEX_KIND", adtype::VarWChar, 16},   {"PROBLEM", adtype::VarWChar, 1024}};
}

void appendIndexRows(const TableTags& tt, std::vector<std::vector<Value>>& rows) {
    if (!tt.problem.empty()) {
        rows.push_back(indexRow(tt, {}, false, nullptr, tt.problem));
        return;
    }
    const std::string primary = tt.dbc ? lower(tt.dbc->primaryKeyTag()) : std::string();
    for (const CdxTag& t : tt.tags) {
        const bool isPrimary = !primary.empty() && lower(t.name) == primary;
        std::string problem;
        if (!t.problem.empty())
            problem = "The tag " + t.name + " of the table " + tt.table + " cannot be read from " + fileName(tt.cdx) +
                      ": " + t.problem + ".";
        rows.push_back(indexRow(tt, t.name, isPrimary, &t, std::move(problem)));
    }
    if (!tt.dbc) return;
    for (const DbcIndex& i : tt.dbc->indexes)
        if (!findTag(tt, i.name))
            rows.push_back(indexRow(tt, i.name, i.primary, nullptr,
                                    "The container names the tag " + i.name + " of the table " + tt.table + ", which " +
                                        fileName(tt.cdx) + " lacks."));
}

std::vector<FieldInfo> foreignKeySchemaFields() {
    return {{"FK_NAME", adtype::VarWChar, 128},       {"PK_TABLE_NAME", adtype::VarWChar, 128},
            {"PK_INDEX_NAME", adtype::VarWChar, 128}, {"FK_TABLE_NAME", adtype::VarWChar, 128},
            {"FK_INDEX_NAME", adtype::VarWChar, 128}, {"UPDATE_RULE", adtype::VarWChar, 16},
            {"DELETE_RULE", adtype::VarWChar, 16},    {"PROBLEM", adtype::VarWChar, 1024},
            {"INSERT_RULE", adtype::VarWChar, 16}};
}

std::vector<std::vector<Value>> foreignKeyRows(const Dbc& dbc, const std::function<const TableTags&(size_t)>& tagsOf) {
    std::vector<std::vector<Value>> rows;
    for (const DbcRelation& r : dbc.relations) {
        const std::string child = r.childTable >= 0 ? dbc.tables[static_cast<size_t>(r.childTable)].name : "";
        const std::string parent =
            r.parentTable >= 0 ? dbc.tables[static_cast<size_t>(r.parentTable)].name : r.parentName;
        std::string problem = r.problem;
        if (problem.empty()) problem = tagProblem(tagsOf(static_cast<size_t>(r.parentTable)), r.parentTag);
        if (problem.empty()) problem = tagProblem(tagsOf(static_cast<size_t>(r.childTable)), r.childTag);
        if (!problem.empty() && problem != r.problem) {
            problem[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(problem[0])));
            problem = "The relation " + r.name + " of the table " + child + " cannot be used: " + problem;
        }
        // The tags as the indexes rowset names them, where the index has them.
        std::string parentTag = r.parentTag, childTag = r.childTag;
        if (r.parentTable >= 0 && r.childTable >= 0) {
            if (const CdxTag* t = findTag(tagsOf(static_cast<size_t>(r.parentTable)), r.parentTag)) parentTag = t->name;
            if (const CdxTag* t = findTag(tagsOf(static_cast<size_t>(r.childTable)), r.childTag)) childTag = t->name;
        }
        rows.push_back({Value(r.name), Value(parent), Value(parentTag), Value(child), Value(childTag),
                        Value(r.updateRule), Value(r.deleteRule), Value(std::move(problem)), Value(r.insertRule)});
    }
    return rows;
}

namespace {
Value textOrNull(const std::string& s) { return s.empty() ? Value() : Value(s); }
}  // namespace

void appendRuleColumns(std::vector<FieldInfo>& fields) {
    fields.push_back({"VALIDATION_RULE", adtype::VarWChar, 254});
    fields.push_back({"VALIDATION_TEXT", adtype::VarWChar, 254});
    fields.push_back({"PROPERTY_PROBLEM", adtype::VarWChar, 254});
}
void appendRuleValues(const DbcProperties& p, std::vector<Value>& row) {
    row.push_back(textOrNull(p.rule));
    row.push_back(textOrNull(p.ruleText));
    row.push_back(textOrNull(p.problem));
}

std::vector<FieldInfo> columnSchemaFields() {
    std::vector<FieldInfo> fields{{"TABLE_NAME", adtype::VarWChar, 128},     {"COLUMN_NAME", adtype::VarWChar, 128},
                                  {"ORDINAL_POSITION", adtype::Integer, 4},  {"COLUMN_HASDEFAULT", adtype::Boolean, 2},
                                  {"COLUMN_DEFAULT", adtype::VarWChar, 254}, {"DESCRIPTION", adtype::VarWChar, 254},
                                  {"CAPTION", adtype::VarWChar, 254},        {"INPUT_MASK", adtype::VarWChar, 254},
                                  {"FORMAT", adtype::VarWChar, 254}};
    appendRuleColumns(fields);
    return fields;
}

std::vector<std::vector<Value>> columnRows(const Dbc& dbc) {
    std::vector<std::vector<Value>> rows;
    const DbcProperties none;
    for (const DbcTable& t : dbc.tables)
        for (size_t i = 0; i < t.fields.size(); ++i) {
            const DbcProperties& p = i < t.fieldProperties.size() ? t.fieldProperties[i] : none;
            std::vector<Value> row{Value(t.name),
                                   Value(t.fields[i]),
                                   Value(static_cast<int64_t>(i + 1)),
                                   Value(!p.defaultValue.empty()),
                                   textOrNull(p.defaultValue),
                                   textOrNull(p.comment),
                                   textOrNull(p.caption),
                                   textOrNull(p.inputMask),
                                   textOrNull(p.format)};
            appendRuleValues(p, row);
            rows.push_back(std::move(row));
        }
    return rows;
}

}  // namespace tp::db::foxpro
