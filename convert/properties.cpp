#include "convert/properties.h"

#include <cctype>

#include "convert/expression.h"

namespace tp::convert::keys {
namespace {

// Access's longest texts: a validation rule, its message, a caption or
// description, an input mask or format.
constexpr size_t kMaxRule = 2048, kMaxMessage = 255, kMaxMemoProperty = 64000, kMaxShortProperty = 255;

bool isText(const db::FieldInfo& f) {
    return !f.binary && (f.sourceType == 'C' || f.sourceType == 'V' || f.sourceType == 'M');
}
bool isNumber(const db::FieldInfo& f) {
    const char t = f.sourceType;
    return t == 'N' || t == 'F' || t == 'I' || t == 'Y' || t == 'B';
}
bool isDate(const db::FieldInfo& f) { return f.sourceType == 'D' || f.sourceType == 'T'; }

std::string sqlQuoted(const std::string& s) {
    std::string out = "'";
    for (const char c : s) out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

class Planner {
public:
    Planner(const SourceProperties& p, const db::FieldInfo* field, const std::vector<db::FieldInfo>& fields,
            bool ownKinds)
        : p_(p), field_(field), fields_(fields), ownKinds_(ownKinds || (field && isText(*field))) {
        out_.column = field ? field->name : std::string();
    }

    PlannedProperties plan() {
        if (!p_.problem.empty()) damaged();
        text("the caption", "Caption", p_.caption, kMaxMemoProperty);
        text(field_ ? "the comment" : "the table's comment", "Description", p_.description, kMaxMemoProperty);
        if (!ownKinds_) {
            const std::string why = "the run wrote the fields as text";
            if (!p_.rule.empty()) leave(field_ ? "the validation rule" : "the record validation rule", p_.rule, why);
            if (!p_.format.empty()) leave("the format", p_.format, why);
            if (!p_.inputMask.empty()) leave("the input mask", p_.inputMask, why);
            return std::move(out_);
        }
        rule();
        if (field_) {
            formatted("the format", "Format", p_.format, accessFormat);
            formatted("the input mask", "InputMask", p_.inputMask, accessInputMask);
        }
        return std::move(out_);
    }

private:
    void leave(const std::string& what, const std::string& value, const std::string& reason) {
        const std::string where = p_.table + (field_ ? ", field " + field_->name : std::string());
        out_.leftOut.push_back(where + ": " + what + (value.empty() ? "" : " " + value) + " was left out, as " +
                               reason);
    }
    // What follows the damage is lost; what comes before it is carried.
    void damaged() {
        const std::string where = p_.table + (field_ ? ", field " + field_->name : std::string());
        out_.leftOut.push_back(where + ": the properties after the damage were left out, as " + p_.problem);
    }
    void set(const std::string& name, const std::string& value) { out_.settings.push_back({name, value}); }

    void text(const std::string& what, const std::string& name, const std::string& value, size_t limit) {
        if (value.empty()) return;
        if (value.size() > limit) return leave(what, "", "it is longer than Access keeps");
        set(name, value);
    }

    void rule() {
        const std::string what = field_ ? "the validation rule" : "the record validation rule";
        if (p_.rule.empty()) {
            if (!p_.ruleText.empty()) leave("the rule's message", "", "it has no rule");
            return;
        }
        const expression::Translation r =
            expression::rule(p_.rule, fields_, field_ ? std::string_view(field_->name) : std::string_view());
        if (!r.ok()) return leave(what, p_.rule, r.reason);
        if (r.access.size() > kMaxRule) return leave(what, p_.rule, "it is longer than Access keeps");
        set("ValidationRule", r.access);
        if (p_.ruleText.empty()) return;
        const expression::Translation m = expression::message(p_.ruleText);
        if (!m.ok()) return leave("the rule's message", p_.ruleText, m.reason);
        if (m.access.size() > kMaxMessage) return leave("the rule's message", "", "it is longer than Access keeps");
        if (!m.access.empty()) set("ValidationText", m.access);
    }

    void formatted(const std::string& what, const std::string& name, const std::string& value,
                   std::string (*translate)(const std::string&, const db::FieldInfo&, std::string&)) {
        if (value.empty()) return;
        std::string reason;
        const std::string access = translate(value, *field_, reason);
        if (access.empty()) return leave(what, value, reason);
        if (access.size() > kMaxShortProperty) return leave(what, value, "it is longer than Access keeps");
        set(name, access);
    }

    const SourceProperties& p_;
    const db::FieldInfo* field_;
    const std::vector<db::FieldInfo>& fields_;
    bool ownKinds_;
    PlannedProperties out_;
};

}  // namespace

PlannedProperties planProperties(const SourceProperties& p, const db::FieldInfo* field,
                                 const std::vector<db::FieldInfo>& fields, bool ownKinds) {
    return Planner(p, field, fields, ownKinds).plan();
}

bool defaultProperty(const std::string& expression, const db::FieldInfo& field, PropertySetting& out,
                     std::string& reason) {
    const expression::Translation t = expression::defaultValue(expression, field);
    if (!t.ok()) {
        reason = t.reason;
        return false;
    }
    out = {"DefaultValue", t.access};
    return true;
}

std::string propertiesStatement(const std::string& table, const std::string& column,
                                const std::vector<PropertySetting>& settings) {
    std::string s = "ALTER TABLE [" + table + "]";
    if (!column.empty()) s += " ALTER COLUMN [" + column + "]";
    s += " SET ";
    for (size_t i = 0; i < settings.size(); ++i)
        s += (i ? ", " : "") + settings[i].name + " = " + sqlQuoted(settings[i].value);
    return s;
}

std::string accessFormat(const std::string& foxpro, const db::FieldInfo& field, std::string& reason) {
    std::string code;
    for (const char c : foxpro) code += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    // The codes with the same effect on how Access shows the value.
    if (code == "!" && isText(field)) return ">";
    if (code == "$" && isNumber(field)) return "Currency";
    if (code == "^" && isNumber(field)) return "Scientific";
    if ((code == "D" || code == "YS") && isDate(field)) return "Short Date";
    if (code == "YL" && isDate(field)) return "Long Date";
    reason = "it has no Access format that shows the values alike";
    return {};
}

std::string accessInputMask(const std::string& foxpro, const db::FieldInfo& field, std::string& reason) {
    if (!isText(field) && !isNumber(field)) {
        reason = "Access keeps input masks of text and number fields here";
        return {};
    }
    // Every place of a FoxPro mask may be left blank: Access's optional
    // placeholders. A letter FoxPro reads as a function is no place.
    std::string out;
    for (const char c : foxpro) {
        switch (c) {
        case 'X':
        case 'x': out += 'C'; break;
        case '9': out += isText(field) ? '9' : '#'; break;
        case '#': out += '#'; break;
        case '.':
        case ',': out += c; break;
        default:
            if (std::isalnum(static_cast<unsigned char>(c)) || c == '!' || c == '$' || c == '*' || c == '@' ||
                c == '\\' || static_cast<unsigned char>(c) >= 0x80) {
                reason = std::string("its \"") + c + "\" has no Access placeholder that accepts the same";
                return {};
            }
            out += '\\';
            out += c;
        }
    }
    return out;
}

}  // namespace tp::convert::keys
