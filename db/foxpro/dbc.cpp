#include "db/foxpro/dbc.h"

#include <algorithm>
#include <filesystem>
#include <map>

#include "db/coding/endian.h"
#include "db/error.h"
#include "db/foxpro/dbf.h"

namespace tp::db::foxpro {

namespace {

std::string trimRight(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
    return s;
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

bool dbcProperty(const std::vector<unsigned char>& prop, uint8_t id, std::string& value) {
    // Records: 4-byte length (including this header), 2-byte kind, 1-byte id,
    // then the value.
    size_t pos = 0;
    while (pos + 7 <= prop.size()) {
        const uint32_t len = coding::decodeLE32(prop.data() + pos);
        if (len < 7 || len > prop.size() - pos) break;
        if (prop[pos + 6] == id) {
            value.assign(reinterpret_cast<const char*>(prop.data() + pos + 7), len - 7);
            return true;
        }
        pos += len;
    }
    return false;
}

std::string dbcPropertyPath(const std::vector<unsigned char>& prop) {
    std::string s;
    if (!dbcProperty(prop, 0x01, s)) return {};
    const size_t nul = s.find('\0');
    if (nul != std::string::npos) s.resize(nul);
    return s;
}

namespace {

// A Table object: its name, stored path and primary key (property 20).
DbcTable tableRecord(std::string name, const std::vector<unsigned char>& prop) {
    DbcTable t;
    t.name = std::move(name);
    t.storedPath = dbcPropertyPath(prop);
    if (dbcProperty(prop, 20, t.primaryTag)) t.primaryTag = trimRight(t.primaryTag);
    return t;
}

struct FieldRecord {
    int64_t parent;
    std::string name;
    DbcProperties properties;
};

// Adds each Field object's long name to its table, in container order.
void attachFields(Dbc& dbc, std::vector<FieldRecord>& fields, const std::map<int64_t, size_t>& tableById) {
    for (auto& f : fields) {
        auto it = tableById.find(f.parent);
        if (it == tableById.end()) continue;
        dbc.tables[it->second].fields.push_back(std::move(f.name));
        dbc.tables[it->second].fieldProperties.push_back(std::move(f.properties));
    }
}

// A text property: up to its NUL, blanks around it left out, in the
// container's code page.
std::string propertyText(const std::vector<unsigned char>& property, uint8_t id, const TextDecoder& decoder) {
    std::string v;
    if (!dbcProperty(property, id, v)) return {};
    v = v.substr(0, v.find('\0'));
    const size_t b = v.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    v = v.substr(b, v.find_last_not_of(' ') - b + 1);
    const bool ascii = std::all_of(v.begin(), v.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    return ascii ? v : decoder.decode(v);
}

// Where the memo's records stop short of its end: empty when they fill it.
std::string propertyDamage(const std::vector<unsigned char>& prop) {
    size_t pos = 0;
    while (pos + 7 <= prop.size()) {
        const uint32_t len = coding::decodeLE32(prop.data() + pos);
        if (len < 7 || len > prop.size() - pos) break;
        pos += len;
    }
    if (pos == prop.size()) return {};
    return "its property record at byte " + std::to_string(pos) + " of " + std::to_string(prop.size()) + " is damaged";
}

}  // namespace

DbcProperties dbcProperties(const std::vector<unsigned char>& property, const TextDecoder& decoder) {
    DbcProperties p;
    p.caption = propertyText(property, 56, decoder);
    p.comment = propertyText(property, 7, decoder);
    p.rule = propertyText(property, 9, decoder);
    p.ruleText = propertyText(property, 10, decoder);
    p.defaultValue = propertyText(property, 11, decoder);
    p.inputMask = propertyText(property, 54, decoder);
    p.format = propertyText(property, 55, decoder);
    p.problem = propertyDamage(property);
    return p;
}

Dbc Dbc::read(const std::string& path, const ReadOptions& options) {
    Dbc dbc;
    dbc.path = path;
    ReadOptions binaryMemos = options;
    binaryMemos.memosAsBinary = true;
    auto table = DbfTable::open(path, binaryMemos);
    const auto& fs = table->fields();
    auto col = [&](const char* name) -> int {
        for (size_t i = 0; i < fs.size(); ++i)
            if (lower(fs[i].name) == lower(name)) return static_cast<int>(i);
        return -1;
    };
    const int cId = col("objectid"), cParent = col("parentid"), cType = col("objecttype"), cName = col("objectname"),
              cProp = col("property"), cRi = col("riinfo");
    if (cId < 0 || cParent < 0 || cType < 0 || cName < 0)
        throw Error("The file " + path + " is not a database container (it lacks the object fields).");
    std::map<int64_t, size_t> tableById;
    std::vector<Value> row;
    std::vector<FieldRecord> fieldRecs;
    std::vector<DbcKeyRecord> keyRecs;
    auto text = [&](int c) -> std::string {
        if (c < 0) return {};
        const Value& v = row[static_cast<size_t>(c)];
        if (v.kind() == Kind::Text) return trimRight(v.text());
        return {};
    };
    auto integer = [&](int c) -> int64_t {
        const Value& v = row[static_cast<size_t>(c)];
        return v.kind() == Kind::Int ? v.integer() : -1;
    };
    auto property = [&]() -> std::vector<unsigned char> {
        if (cProp < 0 || row[static_cast<size_t>(cProp)].kind() != Kind::Binary) return {};
        return row[static_cast<size_t>(cProp)].bytes();
    };
    dbc.codePageNote = table->takeCodePageNote();
    while (table->next(row)) {
        const std::string type = lower(text(cType));
        if (type == "table") {
            const std::vector<unsigned char> prop = property();
            DbcTable t = tableRecord(text(cName), prop);
            t.properties = dbcProperties(prop, table->decoder());
            t.properties.caption.clear();
            t.properties.defaultValue.clear();
            t.properties.inputMask.clear();
            t.properties.format.clear();
            tableById[integer(cId)] = dbc.tables.size();
            dbc.objects.push_back({"TABLE", t.name, static_cast<int>(dbc.tables.size())});
            dbc.tables.push_back(std::move(t));
        } else if (type == "view") {
            dbc.objects.push_back({"VIEW", text(cName), -1});
        } else if (type == "field") {
            fieldRecs.push_back({integer(cParent), text(cName), dbcProperties(property(), table->decoder())});
        } else if (type == "index" || type == "relation") {
            keyRecs.push_back({integer(cParent), type == "relation", text(cName), property(), text(cRi)});
        }
    }
    attachFields(dbc, fieldRecs, tableById);
    attachDbcKeys(dbc, keyRecs, tableById);
    return dbc;
}

namespace {

// The parts of a relative path, "." and empty parts left out.
std::vector<std::string> relativeParts(const std::string& stored) {
    std::vector<std::string> parts;
    size_t b = 0;
    while (b <= stored.size()) {
        size_t e = stored.find('/', b);
        if (e == std::string::npos) e = stored.size();
        std::string part = stored.substr(b, e - b);
        b = e + 1;
        if (part.empty() || part == ".") continue;
        parts.push_back(part);
    }
    return parts;
}

// The path of `part` in the folder `cur`: ".." as it is, else the entry of
// that name, found without regard to case; empty when there is none.
std::string stepInto(const std::string& cur, const std::string& part) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path exact = fs::path(cur) / part;
    if (part == ".." || fs::exists(exact, ec)) return exact.string();
    const std::string want = lower(part);
    for (fs::directory_iterator it(cur, ec), end; !ec && it != end; it.increment(ec))
        if (lower(it->path().filename().string()) == want) return it->path().string();
    return {};
}

}  // namespace

std::string Dbc::resolveTableFile(const DbcTable& t) const {
    namespace fs = std::filesystem;
    std::string stored = t.storedPath.empty() ? t.name + ".dbf" : t.storedPath;
    for (char& c : stored)
        if (c == '\\') c = '/';
    const std::string folder = fs::path(path).parent_path().string();
    const std::string where = "the table " + t.name + " of " + path;
    // A relative path is followed from the container's folder as FoxPro
    // follows it, ".." included (tables often live in a sibling folder);
    // each part is found without regard to case. A path that cannot be
    // opened here (a drive letter, a server share) is a missing file.
    const bool absolute = !stored.empty() && (stored[0] == '/' || (stored.size() >= 2 && stored[1] == ':'));
    const std::vector<std::string> parts = absolute ? std::vector<std::string>{} : relativeParts(stored);
    if (!absolute && (parts.empty() || parts.back() == "..")) throw Error("No file is stored for " + where + ".");
    std::string cur = folder.empty() ? "." : folder;
    for (size_t i = 0; i < parts.size(); ++i) {
        std::string next = stepInto(cur, parts[i]);
        if (next.empty()) break;
        cur = std::move(next);
        if (i + 1 == parts.size()) return cur;
    }
    throw Error("The file of " + where + " is missing (" + t.storedPath + ").");
}

}  // namespace tp::db::foxpro
