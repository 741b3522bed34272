// The tokenizer of Jet SQL text, shared by the statement parsers (sql.cpp,
// sql_query.cpp). Private to db/jet.
#pragma once

#include <cstring>
#include <string>
#include <string_view>

#include "db/coding/utf.h"
#include "db/error.h"
#include "db/jet/errors.h"
#include "db/jet/sql/sql.h"
#include "db/jet/sql/sql_chars.h"

namespace tp::db::jet {

namespace sqllex {

using namespace sqlchars;

inline size_t skipBlanks(std::string_view s, size_t i) {
    while (i < s.size() && isSpace(s[i])) ++i;
    return i;
}

// A quoted piece at s[i] ('...' or "...", a doubled quote standing for one):
// its end, or npos; its text appended to out when given.
inline size_t quotedPiece(std::string_view s, size_t i, std::string* out) {
    const char q = s[i++];
    for (;;) {
        const size_t e = s.find(q, i);
        if (e == std::string_view::npos) return e;
        if (out) out->append(s.data() + i, e - i);
        if (e + 1 >= s.size() || s[e + 1] != q) return e + 1;
        if (out) *out += q;
        i = e + 2;
    }
}

// Chr(n) with n below 128, or ChrW(n) with n a UTF-16 unit that is no
// surrogate, at s[i]: its end, or npos; the character appended to out.
inline size_t chrPiece(std::string_view s, size_t i, std::string* out) {
    size_t e = i;
    while (e < s.size() && isAlpha(s[e])) ++e;
    const std::string_view w = s.substr(i, e - i);
    const bool wide = ieq(w, "CHRW");
    if (!wide && !ieq(w, "CHR")) return std::string_view::npos;
    e = skipBlanks(s, e);
    if (e >= s.size() || s[e] != '(') return std::string_view::npos;
    e = skipBlanks(s, e + 1);
    const size_t b = e;
    long n = 0;
    while (e < s.size() && isDigit(s[e]) && e - b < 6) n = n * 10 + (s[e++] - '0');
    e = skipBlanks(s, e);
    if (e == b || e >= s.size() || s[e] != ')') return std::string_view::npos;
    if (wide ? n > 0xFFFF || (n >= 0xD800 && n <= 0xDFFF) : n > 127) return std::string_view::npos;
    if (out) coding::appendUtf8(*out, char32_t(n));
    return e + 1;
}

// A joined text at s[at]: quoted pieces and Chr/ChrW calls joined by &. Its
// end (npos when it is none), its text appended to out when given.
inline size_t joinedText(std::string_view s, size_t at, std::string* out) {
    size_t i = at;
    for (;;) {
        i = skipBlanks(s, i);
        if (i >= s.size()) return std::string_view::npos;
        i = s[i] == '\'' || s[i] == '"' ? quotedPiece(s, i, out) : chrPiece(s, i, out);
        if (i == std::string_view::npos) return i;
        const size_t amp = skipBlanks(s, i);
        if (amp >= s.size() || s[amp] != '&') return i;
        i = amp + 1;
    }
}

// A cursor over one statement's text; fail() throws the error set for the
// part being read.
class Lexer {
public:
    Lexer(std::string_view s, long errNo, const char* errText) : s_(s), errNo_(errNo), errText_(errText) {}

    [[noreturn]] void fail() const { throw Error(errNo_, errText_); }
    void setError(long no, const char* text) {
        errNo_ = no;
        errText_ = text;
    }

    void skip() {
        while (p_ < s_.size() && isSpace(s_[p_])) ++p_;
    }
    bool atEnd() {
        skip();
        return p_ >= s_.size();
    }
    char peek() {
        skip();
        return p_ < s_.size() ? s_[p_] : '\0';
    }
    bool accept(char c) {
        if (peek() != c) return false;
        ++p_;
        return true;
    }
    void expect(char c) {
        if (!accept(c)) fail();
    }
    // A keyword-like word (ASCII letters, digits, "_"); empty when none.
    std::string_view word() {
        skip();
        size_t b = p_;
        if (b >= s_.size() || !(isAlpha(s_[b]) || s_[b] == '_')) return {};
        size_t e = b + 1;
        while (e < s_.size() && (isAlpha(s_[e]) || isDigit(s_[e]) || s_[e] == '_')) ++e;
        p_ = e;
        return s_.substr(b, e - b);
    }
    std::string_view peekWord() {
        size_t save = p_;
        auto w = word();
        p_ = save;
        return w;
    }
    bool acceptWord(std::string_view kw) {
        size_t save = p_;
        if (ieq(word(), kw)) return true;
        p_ = save;
        return false;
    }
    void expectWord(std::string_view kw) {
        if (!acceptWord(kw)) fail();
    }
    // A name: [bracketed], `grave-quoted` or plain.
    std::string_view name() {
        skip();
        if (p_ >= s_.size()) fail();
        char c = s_[p_];
        if (c == '[' || c == '`') {
            const char close = c == '[' ? ']' : '`';
            size_t b = p_ + 1;
            const void* hit = std::memchr(s_.data() + b, close, s_.size() - b);
            if (!hit) fail();
            size_t e = static_cast<const char*>(hit) - s_.data();
            p_ = e + 1;
            if (e == b) fail();
            return s_.substr(b, e - b);
        }
        if (!isNameStart(c)) fail();
        size_t b = p_, e = p_ + 1;
        while (e < s_.size() && isNameChar(s_[e])) ++e;
        p_ = e;
        return s_.substr(b, e - b);
    }
    // An unsigned whole number (sizes in type definitions).
    long number() {
        skip();
        size_t b = p_;
        while (p_ < s_.size() && isDigit(s_[p_])) ++p_;
        if (p_ == b || p_ - b > 9) fail();
        long v = 0;
        for (size_t i = b; i < p_; ++i) v = v * 10 + (s_[i] - '0');
        return v;
    }
    // A literal of a VALUES list.
    void literal(Literal& lit) {
        skip();
        if (p_ >= s_.size()) fail();
        lit = Literal{};
        const char c = s_[p_];
        if (c == '\'' || c == '"') return stringLiteral(lit, c);
        if (c == '#') return dateLiteral(lit);
        if (c == '0' && p_ + 1 < s_.size() && (s_[p_ + 1] == 'x' || s_[p_ + 1] == 'X')) return binaryLiteral(lit);
        if (c == '-' || c == '+' || c == '.' || isDigit(c)) return numberLiteral(lit, c);
        auto w = word();
        if (ieq(w, "NULL")) {
            lit.kind = LiteralKind::Null;
            return;
        }
        if (ieq(w, "TRUE") || ieq(w, "FALSE")) {
            lit.kind = LiteralKind::Bool;
            lit.boolean = lower(w[0]) == 't';
            return;
        }
        fail();
    }
    // A literal of a VALUES list or a DEFAULT: a literal, or a joined text
    // ('a' & Chr(13) & Chr(10) & 'b').
    void valueLiteral(Literal& lit) {
        skip();
        const size_t from = p_;
        if (p_ < s_.size() && (s_[p_] == 'C' || s_[p_] == 'c')) {
            lit = Literal{};
        } else {
            literal(lit);
            if (lit.kind != LiteralKind::String || peek() != '&') return;
        }
        const size_t end = joinedText(s_, from, nullptr);
        if (end == std::string_view::npos) fail();
        lit.kind = LiteralKind::String;
        lit.joined = true;
        lit.text = s_.substr(from, end - from);
        p_ = end;
    }
    // The rest must be blanks and at most one ";".
    void finish() {
        if (accept(';')) {
            if (!atEnd()) throw Error(jeterr::kAfterEnd, "Characters found after end of SQL statement.");
            return;
        }
        if (!atEnd()) fail();
    }
    // Two characters together ("<=", "<>", ">="); nothing read otherwise.
    bool acceptPair(char a, char b) {
        skip();
        if (p_ + 1 >= s_.size() || s_[p_] != a || s_[p_ + 1] != b) return false;
        p_ += 2;
        return true;
    }
    size_t pos() const { return p_; }
    void seek(size_t p) { p_ = p; }
    std::string_view text() const { return s_; }

private:
    // 'text' or "text", a doubled quote standing for one.
    void stringLiteral(Literal& lit, char quote) {
        size_t b = ++p_;
        bool escaped = false;
        for (;;) {
            const void* hit = std::memchr(s_.data() + p_, quote, s_.size() - p_);
            if (!hit) fail();
            size_t q = static_cast<const char*>(hit) - s_.data();
            if (q + 1 < s_.size() && s_[q + 1] == quote) {
                escaped = true;
                p_ = q + 2;
                continue;
            }
            lit.kind = LiteralKind::String;
            lit.text = s_.substr(b, q - b);
            lit.quote = quote;
            lit.escaped = escaped;
            p_ = q + 1;
            return;
        }
    }
    // #date#
    void dateLiteral(Literal& lit) {
        size_t b = ++p_;
        const void* hit = std::memchr(s_.data() + b, '#', s_.size() - b);
        if (!hit) fail();
        size_t e = static_cast<const char*>(hit) - s_.data();
        lit.kind = LiteralKind::Date;
        lit.text = s_.substr(b, e - b);
        p_ = e + 1;
    }
    // 0x and pairs of hexadecimal digits (bytes; this program's own form,
    // Access SQL has none)
    void binaryLiteral(Literal& lit) {
        p_ += 2;
        const size_t b = p_;
        while (p_ < s_.size() && isHexDigit(s_[p_])) ++p_;
        if ((p_ - b) % 2 != 0 || (p_ < s_.size() && isNameChar(s_[p_]))) fail();
        lit.kind = LiteralKind::Binary;
        lit.text = s_.substr(b, p_ - b);
    }
    // [sign] digits [. digits] [E [sign] digits]
    void numberLiteral(Literal& lit, char c) {
        if (c == '-' || c == '+') {
            lit.negative = c == '-';
            ++p_;
            skip();  // "- 5" is minus five
        }
        size_t b = p_;
        size_t digits = skipDigits();
        if (p_ < s_.size() && s_[p_] == '.') {
            ++p_;
            digits += skipDigits();
        }
        if (digits == 0) fail();
        if (p_ < s_.size() && (s_[p_] == 'e' || s_[p_] == 'E')) {
            ++p_;
            if (p_ < s_.size() && (s_[p_] == '+' || s_[p_] == '-')) ++p_;
            if (skipDigits() == 0) fail();
        }
        if (p_ < s_.size() && isNameChar(s_[p_])) fail();
        lit.kind = LiteralKind::Number;
        lit.text = s_.substr(b, p_ - b);
    }
    size_t skipDigits() {
        const size_t b = p_;
        while (p_ < s_.size() && isDigit(s_[p_])) ++p_;
        return p_ - b;
    }

    std::string_view s_;
    size_t p_ = 0;
    long errNo_;
    const char* errText_;
};

}  // namespace sqllex

using sqllex::Lexer;

}  // namespace tp::db::jet
