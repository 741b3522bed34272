// The tokenizer of Jet SQL text, shared by the statement parsers (sql.cpp,
// sql_query.cpp). Private to db/jet.
#pragma once

#include <cstring>
#include <string_view>

#include "db/error.h"
#include "db/jet/errors.h"
#include "db/jet/sql/sql.h"
#include "db/jet/sql/sql_chars.h"

namespace tp::db::jet {

namespace sqllex {

using namespace sqlchars;

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
