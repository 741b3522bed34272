// The bench table and its row statements, shared by the engine benches: ten
// columns of every common type, a NULL in one row of ten and a 2,000-character
// note in one of a hundred, in the style the conversion run writes them.
#pragma once

#include <cstdio>
#include <string>

namespace tp::bench {

inline const char* const kCreate =
    "CREATE TABLE [bench]([id] INT,[name] TEXT(50),[qty] SHORT,[price] CURRENCY,[ratio] FLOAT,"
    "[amount] DECIMAL(18,4),[stamp] DATETIME,[flag] BIT,[code] TEXT(10),[notes] TEXT);";

// Row i's INSERT statement, into s.
inline void rowStatement(std::string& s, long i) {
    char buf[256];
    s.assign("INSERT INTO [bench] VALUES(");
    std::snprintf(buf, sizeof buf, "%ld, 'Customer %ld O''Brien', %ld, %ld.%02ld, %ld.25, %ld.1234, ", i, i, i % 30000,
                  i % 100000, i % 100, i % 977, i % 1000000);
    s += buf;
    std::snprintf(buf, sizeof buf, "'%02ld/%02ld/%04ld %02ld:%02ld:%02ld', %d, 'C%ld', ", 1 + i % 12, 1 + i % 28,
                  1990 + i % 30, i % 24, i % 60, (i * 7) % 60, int(i % 2), i % 100000);
    s += buf;
    if (i % 10 == 3) {
        s += "NULL)";
    } else if (i % 100 == 7) {
        s += '\'';
        s.append(2000, char('a' + i % 26));
        s += "')";
    } else {
        std::snprintf(buf, sizeof buf, "'Note for row %ld: handle with care; ça va.')", i);
        s += buf;
    }
}

}  // namespace tp::bench
