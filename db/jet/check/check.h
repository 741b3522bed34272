// Integrity check of an Access database (Jet 3, Jet 4 and ACE, encrypted
// ones too), read without changing the file: the header and the type of every
// page; that every page has one owner (usage maps: the global page map, each
// table's owned and free-space maps, each index's and each long-value
// column's maps) and none in use is lost; table definitions and their
// continuation pages; that every row decodes and each table's stored row
// count matches; long-value chains; every index (order, each entry's key
// recomputed from its row, each row present once, unique keys); that the
// catalog agrees with the table definitions.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tp::db::jet {

struct CheckReport {
    // One line per problem ("<object>, page <n>: <what is wrong>"), at most
    // the maximum asked for (then a line saying how many more); empty when
    // the file is sound.
    std::vector<std::string> problems;
    // Inconsistencies that Access itself leaves in files it made and reads
    // past, and that compacting the database clears: a stored row count or
    // unique-key count that is not exact, index pages still allocated that no
    // index uses. Files Tallyport writes have none.
    std::vector<std::string> warnings;
    // What the check could not verify and why (no problems: e.g. the keys of
    // an index under a sort order whose keys we cannot compute; its entries
    // are still matched to its rows one to one).
    std::vector<std::string> notes;
};

// A journal left beside the file by a writer is reported, never played back.
// Throws db::Error only when the file is missing or the password is wrong;
// damage of any kind is a problem line.
CheckReport checkDatabase(const std::string& path, const std::string& password, size_t maxProblems = 200);

}  // namespace tp::db::jet
