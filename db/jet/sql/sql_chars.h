// Characters of Jet SQL text, shared by the parser (sql.cpp) and the
// coercion of literals (sql_coerce.cpp, sql_dates.cpp). Private to db/jet.
#pragma once

#include <string_view>

namespace tp::db::jet::sqlchars {

inline bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }
inline bool isDigit(char c) { return c >= '0' && c <= '9'; }
inline bool isHexDigit(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
inline int hexValue(char c) { return isDigit(c) ? c - '0' : (c | 0x20) - 'a' + 10; }
inline bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
inline char lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }
// Plain (unbracketed) names: letters, digits, "_" and any non-ASCII byte.
inline bool isNameChar(char c) { return isAlpha(c) || isDigit(c) || c == '_' || (unsigned char)c >= 0x80; }
inline bool isNameStart(char c) { return isAlpha(c) || c == '_' || (unsigned char)c >= 0x80; }

inline bool ieq(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

inline std::string_view trimmed(std::string_view s) {
    while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
    return s;
}

}  // namespace tp::db::jet::sqlchars
