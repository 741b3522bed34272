// The conversion run's keys, indexes and relations: the FoxPro source's
// tags become each table's primary key and indexes after its rows, its
// relations become relationships after all tables, and an overwrite first
// drops the target's relationships of the tables it replaces.
#include <algorithm>

#include "convert/datatype.h"
#include "convert/run_state.h"
#include "convert/run_steps.h"
#include "convert/statements.h"
#include "host/utilities.h"

namespace tp::convert {
namespace {

bool sameName(const std::string& a, const std::string& b) { return asciiLower(a) == asciiLower(b); }
std::string tagKey(const std::string& table, const std::string& tag) {
    return asciiLower(table) + "\n" + asciiLower(tag);
}

bool isColumn(const db::FieldInfo& f) {
    return !isLeftOut(lowerDataTypeName(static_cast<int16_t>(static_cast<uint16_t>(f.type))));
}

// Why a relation's tag gives no columns, or empty with its columns.
std::string relationProblem(const RunKeys& k, const std::string& table, const std::string& tag,
                            const std::vector<keys::KeyColumn>*& columns) {
    if (k.convertedTables.count(asciiLower(table)) == 0) return "the table " + table + " was not converted in this run";
    const auto it = k.tagColumns.find(tagKey(table, tag));
    if (it != k.tagColumns.end()) {
        columns = &it->second;
        return {};
    }
    const auto of = k.tagsOf.find(asciiLower(table));
    const bool known = of != k.tagsOf.end() && std::any_of(of->second.begin(), of->second.end(),
                                                           [&](size_t t) { return sameName(k.tags[t].name, tag); });
    return known ? "the tag " + tag + " of " + table + " was left out" : table + " has no tag " + tag;
}

}  // namespace

// A relation's statement, and the same without enforced integrity.
struct PlannedRelation {
    const keys::Relation* relation;
    std::string statement, unenforced;
};

namespace {

// The relations' statements, and the relations left out with why.
void planRelations(const RunKeys& k, std::vector<PlannedRelation>& statements,
                   std::vector<std::pair<const keys::Relation*, std::string>>& leftOut) {
    std::set<std::string> taken;  // the target's relationships that stay
    for (size_t i = 0; i < k.targetRelations.size(); ++i)
        if (!k.dropped[i]) taken.insert(asciiLower(k.targetRelations[i].name));
    for (const keys::Relation& r : k.relations) {
        std::string why = r.problem;
        const std::vector<keys::KeyColumn>*child = nullptr, *parent = nullptr;
        if (why.empty() && k.stoppedEarly) why = "the run was stopped before the relations";
        if (why.empty()) why = relationProblem(k, r.child, r.childTag, child);
        if (why.empty()) why = relationProblem(k, r.parent, r.parentTag, parent);
        if (why.empty() && child->size() != parent->size())
            why = "its tags have " + std::to_string(child->size()) + " and " + std::to_string(parent->size()) +
                  " columns";
        if (!why.empty()) leftOut.emplace_back(&r, why);
        else {
            const std::string name = keys::relationName(r.parent, r.child, taken);
            keys::Relation unenforced = r;
            unenforced.enforced = false;
            statements.push_back({&r, keys::relationStatement(r, name, *child, *parent),
                                  keys::relationStatement(unenforced, name, *child, *parent)});
        }
    }
}

// The names of the settings, as a list.
std::string propertyNames(const std::vector<keys::PropertySetting>& settings) {
    std::string names;
    for (const keys::PropertySetting& p : settings) names += (names.empty() ? "" : ", ") + p.name;
    return names;
}

// A statement of a key that Access refused, in the notice's words.
std::string refusedReason(const std::string& description) {
    return "Access refused it: " + description.substr(0, description.find_first_of("\r\n"));
}

}  // namespace

void ConversionRun::readKeys(State& s) {
    s.keys = RunKeys{};
    s.keys.on = host_.createKeys();
    if (!s.keys.on) return;
    // A provider without the rowsets has no tags, relations or relationships.
    if (s.source && s.source->isOpen()) {
        s.keys.tags = keys::readTags(*s.source);
        s.keys.relations = keys::readRelations(*s.source);
        s.keys.defaults = keys::readDefaults(*s.source);
        s.keys.properties = keys::readProperties(*s.source);
    }
    for (size_t i = 0; i < s.keys.properties.size(); ++i)
        s.keys.propertiesOf[asciiLower(s.keys.properties[i].table)].push_back(i);
    for (size_t i = 0; i < s.keys.tags.size(); ++i) s.keys.tagsOf[asciiLower(s.keys.tags[i].table)].push_back(i);
    for (size_t i = 0; i < s.keys.defaults.size(); ++i)
        s.keys.defaultsOf[asciiLower(s.keys.defaults[i].table)].push_back(i);
    const std::unique_ptr<db::Connection>& target = host_.accessConnection();
    if (target && target->isOpen()) s.keys.targetRelations = keys::readTargetRelations(*target);
    s.keys.dropped.assign(s.keys.targetRelations.size(), false);
}

void ConversionRun::dropRelationsOf(State& s, const std::string& table) {
    if (!s.keys.on) return;
    for (size_t i = 0; i < s.keys.targetRelations.size(); ++i) {
        const keys::TargetRelation& r = s.keys.targetRelations[i];
        if (s.keys.dropped[i] || (!sameName(r.parent, table) && !sameName(r.child, table))) continue;
        s.keys.dropped[i] = true;
        s.put(*this, step::DropRelationPreviewMode, step::DropRelationToPreview, step::DropRelationExecute,
              keys::dropRelationStatement(r));
    }
}

void ConversionRun::translateTags(State& s, const std::string& table, const std::vector<db::FieldInfo>& fields) {
    RunKeys& k = s.keys;
    k.pending.clear();
    k.blankChecks.clear();
    if (!k.on) return;
    k.fields = fields;
    std::vector<db::FieldInfo> columns;
    std::copy_if(fields.begin(), fields.end(), std::back_inserter(columns), isColumn);
    const auto of = k.tagsOf.find(asciiLower(table));
    if (of == k.tagsOf.end()) return;
    for (const size_t t : of->second) {
        const keys::Tag& tag = k.tags[t];
        RunKeys::Pending pending{&tag, {}};
        if (!tag.problem.empty()) pending.translation.reason = tag.problem;
        else pending.translation = keys::translate(tag.expression, tag.filter, tag.descending, columns, table);
        for (const auto& [column, function] : pending.translation.leadingBlanksIgnored)
            for (size_t j = 0; j < fields.size(); ++j)
                if (fields[j].name == column) k.blankChecks.push_back({j, k.pending.size(), column, function});
        k.pending.push_back(std::move(pending));
    }
}

// A value with a leading blank under LTRIM() or ALLTRIM(): FoxPro's key
// leaves the blank out, the Access column keeps it, so the index would
// order and compare differently. The tag is left out.
void ConversionRun::checkLeadingBlanks(State& s, const std::vector<db::Value>& row) {
    auto& checks = s.keys.blankChecks;
    for (auto it = checks.begin(); it != checks.end();) {
        const db::Value* v = it->field < row.size() ? &row[it->field] : nullptr;
        if (!v || v->kind() != db::Kind::Text || v->text().empty() || v->text()[0] != ' ') {
            ++it;
            continue;
        }
        keys::Translation& t = s.keys.pending[it->pending].translation;
        if (t.ok())
            t.reason = it->function + "() leaves out the leading blanks that values of \"" + it->column +
                       "\" have, and an Access index would keep them";
        it = checks.erase(it);
    }
}

void ConversionRun::putTableKeys(State& s, const std::string& table) {
    RunKeys& k = s.keys;
    if (!k.on) return;
    putTableProperties(s, table);
    k.convertedTables.insert(asciiLower(table));
    for (const RunKeys::Pending& pending : k.pending) {
        const keys::Translation& t = pending.translation;
        if (!t.ok()) {
            noteLeftOut(s, table, pending.tag->name, t.reason);
            continue;
        }
        // An index the data or Access refuses (duplicate keys of a unique
        // tag, too many indexes) is left out with Access's words.
        Refusal refused;
        if (s.put(*this, step::IndexPreviewMode, step::IndexToPreview, step::IndexExecute,
                  keys::indexStatement(*pending.tag, table, t.columns), nullptr, &refused)) {
            k.tagColumns[tagKey(table, pending.tag->name)] = t.columns;
            if (!host_.previewMode()) summary_.keysCreated.push_back(table + ", tag " + pending.tag->name);
        } else if (refused.any()) {
            noteLeftOut(s, table, pending.tag->name, refusedReason(refused.description));
        }
    }
    k.pending.clear();
    k.blankChecks.clear();
}

// Told at the end of the run, and as a row of the datatype view (next to
// the table's fields).
void ConversionRun::noteLeftOut(State& s, const std::string& table, const std::string& tag, const std::string& reason) {
    summary_.keysLeftOut.push_back(keys::tagNote(table, tag, reason));
    s.p(step::KeyLeftOutRow, [&] {
        DatatypeList& d = host_.datatypeList();
        d.addRow(table);
        d.setLastField(tag.empty() ? std::string("(indexes)") : "tag " + tag);
        d.setLastTypes("left out", reason);
    });
}

std::vector<std::string> ConversionRun::tableDefaults(State& s, const std::string& table,
                                                      const std::vector<db::FieldInfo>& fields,
                                                      const std::vector<AccessColumn>& columns) {
    std::vector<std::string> literals;
    s.keys.defaultSettings.clear();
    if (!s.keys.on) return literals;
    std::unique_ptr<RowStatementBuilder> writer;
    const auto of = s.keys.defaultsOf.find(asciiLower(table));
    if (of == s.keys.defaultsOf.end()) return literals;
    for (const size_t at : of->second) {
        const keys::FieldDefault& d = s.keys.defaults[at];
        const auto field = std::find_if(fields.begin(), fields.end(),
                                        [&](const db::FieldInfo& f) { return sameName(f.name, d.column); });
        if (field == fields.end() || !isColumn(*field)) continue;
        const keys::DefaultTranslation t = keys::translateDefault(d.expression, *field);
        keys::PropertySetting expression;
        std::string why;
        if (!t.reason.empty() && keys::defaultProperty(d.expression, *field, expression, why)) {
            s.keys.defaultSettings.emplace_back(field->name, expression);
            continue;
        }
        if (!t.reason.empty()) {
            summary_.keysLeftOut.push_back(keys::defaultNote(d, t.reason));
            ++summary_.defaultsLeftOut;
            s.p(step::KeyLeftOutRow, [&] {
                DatatypeList& list = host_.datatypeList();
                list.addRow(table);
                list.setLastField("default of " + d.column);
                list.setLastTypes("left out", t.reason);
            });
            continue;
        }
        if (!t.value) continue;
        // The literal the column's INSERTs would write for the value.
        if (!writer)
            writer = columns.empty()
                         ? std::make_unique<RowStatementBuilder>(table, fields, numericFields(fields), s.settings)
                         : std::make_unique<RowStatementBuilder>(table, fields, columns);
        literals.resize(fields.size());
        literals[static_cast<size_t>(field - fields.begin())] =
            writer->literal(static_cast<size_t>(field - fields.begin()), *t.value);
    }
    return literals;
}

// The table's own and its columns' properties, one statement each; what
// has no Access form is told.
void ConversionRun::putTableProperties(State& s, const std::string& table) {
    RunKeys& k = s.keys;
    std::vector<keys::PlannedProperties> planned;
    static const std::vector<size_t> kNone;
    const auto of = k.propertiesOf.find(asciiLower(table));
    for (const size_t at : of == k.propertiesOf.end() ? kNone : of->second) {
        const keys::SourceProperties& p = k.properties[at];
        const auto field = std::find_if(k.fields.begin(), k.fields.end(),
                                        [&](const db::FieldInfo& f) { return sameName(f.name, p.column); });
        if (!p.column.empty() && (field == k.fields.end() || !isColumn(*field))) continue;
        planned.push_back(keys::planProperties(p, p.column.empty() ? nullptr : &*field, k.fields,
                                               selection_.fieldTypes == FieldTypes::Access));
    }
    for (const auto& [column, setting] : k.defaultSettings) {
        const auto it =
            std::find_if(planned.begin(), planned.end(),
                         [&column = column](const keys::PlannedProperties& p) { return p.column == column; });
        keys::PlannedProperties& p = it != planned.end() ? *it : planned.emplace_back();
        p.column = column;
        p.settings.push_back(setting);
    }
    k.defaultSettings.clear();
    for (const keys::PlannedProperties& p : planned) {
        noteProperties(s, table, p.column, p.leftOut);
        if (p.settings.empty()) continue;
        s.table = table;
        Refusal refused;
        if (s.put(*this, step::PropertyPreviewMode, step::PropertyToPreview, step::PropertyExecute,
                  keys::propertiesStatement(table, p.column, p.settings), nullptr, &refused))
            summary_.propertiesCarried += static_cast<int>(p.settings.size());
        else if (refused.any())
            noteProperties(s, table, p.column,
                           {table + (p.column.empty() ? "" : ", field " + p.column) + ": the properties " +
                            propertyNames(p.settings) + " were left out, as " + refusedReason(refused.description)});
    }
}

void ConversionRun::noteProperties(State& s, const std::string& table, const std::string& column,
                                   const std::vector<std::string>& notes) {
    for (const std::string& note : notes) {
        summary_.keysLeftOut.push_back(note);
        ++summary_.propertiesLeftOut;
        s.p(step::KeyLeftOutRow, [&] {
            DatatypeList& d = host_.datatypeList();
            d.addRow(table);
            d.setLastField(column.empty() ? std::string("(table properties)") : "properties of " + column);
            d.setLastTypes("left out", note.substr(note.find(": ") + 2));
        });
    }
}

// A relation Access refuses is left out with Access's words, except an
// enforced one that the target's rows break: that one is made without
// enforced integrity instead, and told.
void ConversionRun::putRelation(State& s, const PlannedRelation& planned) {
    const keys::Relation& r = *planned.relation;
    constexpr long kIntegrityViolated = 3379;
    s.table = r.child;
    Refusal refused;
    if (s.put(*this, step::RelationPreviewMode, step::RelationToPreview, step::RelationExecute, planned.statement,
              nullptr, &refused)) {
        std::string note = keys::relationNote(r, {});
        note.resize(note.size() - 2);  // without ": " and a reason
        if (!host_.previewMode()) summary_.keysCreated.push_back(note);
        return;
    }
    if (!refused.any()) return;
    if (!r.enforced || refused.number != kIntegrityViolated)
        return noteRelation(s, r, refusedReason(refused.description), false);
    Refusal again;
    if (s.put(*this, step::RelationPreviewMode, step::RelationToPreview, step::UnenforcedRelationExecute,
              planned.unenforced, nullptr, &again))
        noteRelation(
            s, r,
            "made without enforced integrity, as rows of " + r.child + " have no row of " + r.parent + " to match",
            true);
    else if (again.any()) noteRelation(s, r, refusedReason(again.description), false);
}

// Told at the end of the run, and as a row of the datatype view: a relation
// left out, or made without enforced integrity.
void ConversionRun::noteRelation(State& s, const keys::Relation& r, const std::string& why, bool unenforced) {
    (unenforced ? summary_.relationsUnenforced : summary_.keysLeftOut).push_back(keys::relationNote(r, why));
    s.p(step::KeyLeftOutRow, [&] {
        DatatypeList& d = host_.datatypeList();
        d.addRow(r.child);
        d.setLastField("relation " + (r.name.empty() ? r.parent + r.child : r.name));
        d.setLastTypes(unenforced ? "not enforced" : "left out", why);
    });
}

void ConversionRun::putRelations(State& s) {
    const RunKeys& k = s.keys;
    if (!k.on || k.relations.empty()) return;
    std::vector<PlannedRelation> statements;
    std::vector<std::pair<const keys::Relation*, std::string>> leftOut;
    planRelations(k, statements, leftOut);

    Procedure& p = s.p;
    const bool perTable =
        !statements.empty() && p.test(step::RelationsPerTable, [&] { return host_.previewPerTable(); });
    if (perTable) {
        p(step::ClearPreviewListForRelations, [&] { host_.previewList().clear(); });
        p(step::ClearDatatypeListForRelations, [&] { host_.datatypeList().clear(); });
    }
    for (const auto& [r, why] : leftOut) noteRelation(s, *r, why, false);
    for (const PlannedRelation& r : statements) putRelation(s, r);
    if (!perTable || !host_.previewMode()) return;
    // One more preview, for the relations.
    s.flags.sqlExecuted = false;
    s.flags.endRunAfterPreview = true;
    s.flags.executionUndone = false;
    host_.previewTable({});
    p(step::ShowRelationsPreview, [&] { host_.showPreview(s.flags); });
}

}  // namespace tp::convert
