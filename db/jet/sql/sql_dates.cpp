// Date and time texts of Jet SQL (#...# literals, and text put into dates):
// m/d/y, y-m-d or m/d, with an optional time h:nn[:ss] [AM|PM], or a time
// alone.
#include "db/jet/sql/sql.h"
#include "db/jet/sql/sql_chars.h"

#include <ctime>

namespace tp::db::jet {

namespace {

using namespace sqlchars;

bool validDate(int y, int m, int d) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 100 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
    int dim = days[m - 1];
    if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) dim = 29;
    return d <= dim;
}

// Reads a date and time text: m/d[/y] (or y-m-d) and h:nn[:ss] [AM|PM].
struct DateReader {
    std::string_view s;
    DateTime& out;
    size_t i = 0;

    bool num(int maxDigits, int& v) {
        size_t b = i;
        v = 0;
        while (i < s.size() && isDigit(s[i]) && int(i - b) < maxDigits) v = v * 10 + (s[i++] - '0');
        return i > b;
    }
    void skipBlanks() {
        while (i < s.size() && isSpace(s[i])) ++i;
    }
    // AM or PM at i (taken); false for neither.
    bool meridiem(bool& am, bool& pm) {
        if (i + 1 < s.size() && (lower(s[i]) == 'a' || lower(s[i]) == 'p') && lower(s[i + 1]) == 'm') {
            am = lower(s[i]) == 'a';
            pm = !am;
            i += 2;
        }
        return am || pm;
    }
    // Minutes and seconds after the hour: [:nn[:ss]]; false when malformed.
    bool minutes(int& m, int& sec, bool& colon) {
        if (i >= s.size() || s[i] != ':') return true;
        ++i;
        if (!num(2, m)) return false;
        colon = true;
        if (i < s.size() && s[i] == ':') {
            ++i;
            if (!num(2, sec)) return false;
        }
        return true;
    }
    // Time part to the end: h:nn[:ss] [AM|PM], or h AM/PM.
    bool time() {
        int h = 0, m = 0, sec = 0;
        bool colon = false, am = false, pm = false;
        if (!num(2, h) || !minutes(m, sec, colon)) return false;
        skipBlanks();
        if (!meridiem(am, pm) && !colon) return false;
        if (am || pm) {
            if (h < 1 || h > 12) return false;
            if (am && h == 12) h = 0;
            if (pm && h != 12) h += 12;
        }
        if (h > 23 || m > 59 || sec > 59) return false;
        out.hour = h;
        out.minute = m;
        out.second = sec;
        skipBlanks();
        return i == s.size();
    }
    // A time alone (one or two digits, then a colon, blank, A or P).
    bool timeAlone() {
        size_t j = 0;
        while (j < s.size() && isDigit(s[j])) ++j;
        if (j == 0 || j > 2 || j >= s.size() ||
            !(s[j] == ':' || isSpace(s[j]) || lower(s[j]) == 'a' || lower(s[j]) == 'p'))
            return false;
        const size_t save = i;
        if (time()) return true;
        i = save;
        out = DateTime{};
        return false;
    }
    // The date part: m/d/y, y/m/d (a year of three or four digits first) or
    // m/d of this year; '-' and '.' separate as '/' does.
    bool date() {
        int a = 0, b = 0, c = 0;
        const size_t start = i;
        if (!num(4, a)) return false;
        const size_t aLen = i - start;
        if (i >= s.size() || (s[i] != '/' && s[i] != '-' && s[i] != '.')) return false;
        const char sep = s[i++];
        if (!num(2, b)) return false;
        int y = 0, m = 0, d = 0;
        if (i < s.size() && s[i] == sep) {
            ++i;
            const size_t cs = i;
            if (!num(4, c)) return false;
            if (aLen >= 3) {
                y = a, m = b, d = c;  // a year of three digits is the year itself (100-999)
            } else {
                m = a, d = b, y = c;
                if (i - cs <= 2) y += y < 30 ? 2000 : 1900;
            }
        } else {
            if (aLen > 2) return false;
            m = a, d = b;
            y = thisYear();
        }
        if (!validDate(y, m, d)) return false;
        out.date = Date{y, m, d};
        return true;
    }
    static int thisYear() {
        std::time_t now = std::time(nullptr);
        std::tm tmv{};
        localtime_r(&now, &tmv);
        return tmv.tm_year + 1900;
    }
};

}  // namespace

bool parseDateText(std::string_view s, DateTime& out) {
    s = trimmed(s);
    out = DateTime{};
    if (s.empty()) return false;
    DateReader r{s, out};
    if (r.timeAlone()) return true;
    if (!r.date()) return false;
    r.skipBlanks();
    if (r.i == s.size()) return true;
    return r.time();
}

}  // namespace tp::db::jet
