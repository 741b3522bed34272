// The pager's file primitives, shared by the page cache (pager.cpp) and the
// rollback journal and lock file (journal.cpp): every write, sync and
// truncation goes through them so that tests can make any one fail.
// Private to db/jet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <unistd.h>

namespace tp::db::jet::pagerio {

// Journal: a 512-byte header, then entries of (page number, check, page image).
inline constexpr char kJournalMagicV1[8] = {'T', 'P', 'J', 'R', 'N', 'L', '0', '1'};
inline constexpr char kJournalMagic[8] = {'T', 'P', 'J', 'R', 'N', 'L', '0', '2'};
inline constexpr uint32_t kJournalHeader = 512;
// Journal header (kJournalHeader bytes): magic, page size, page count and
// salt, a check of the header; from version 2 on the number of sample pages
// and their (page number, check) pairs: what the first pages of the file
// held at the durability point, so that the journal is never played into
// another file or another state of it.
namespace journal {
inline constexpr size_t kMagic = 0;       // 8
inline constexpr size_t kPageSize = 8;    // 4
inline constexpr size_t kBasePages = 12;  // 4: the file's pages at the durability point
inline constexpr size_t kSalt = 16;       // 8
inline constexpr size_t kCheck = 28;      // 4: of bytes 0..27 (version 2: and of kSamples..)
inline constexpr size_t kSamples = 32;    // 4
inline constexpr size_t kSample = 36;     // kMaxSamples x (page: 4, check: 4)
inline constexpr size_t kSampleSize = 8;
inline constexpr size_t kSampleCheck = 4;  // within a sample
// An entry: page number (4), check (4), the page image.
inline constexpr size_t kEntryPage = 0;
inline constexpr size_t kEntryCheck = 4;
inline constexpr size_t kEntryImage = 8;
}  // namespace journal
inline constexpr uint32_t kMaxSamples = 3;

struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
};

bool injectedFault();
bool writeAll(int fd, const uint8_t* p, size_t n, uint64_t off);
bool readAll(int fd, uint8_t* p, size_t n, uint64_t off);
bool syncFd(int fd);
bool truncateFd(int fd, uint64_t size);
void syncDirectoryOf(const std::string& path);
uint32_t check32(uint64_t salt, uint32_t page, const uint8_t* data, size_t n);
std::string hostName();
std::string ioError(const std::string& what, const std::string& path);
// A temporary file beside `path` (the database), already removed from its
// directory: nothing stays behind whatever becomes of the process. The
// fallback where the directory cannot hold such a file names it path + tag
// for the moment between its making and its removal. Throws 3043.
int tempFileBeside(const std::string& path, const char* tag);
// Plays a journal back into the database file (journal.cpp).
void playBack(const std::string& jpath, int jfd, int dbfd, const std::string& dbPath);

}  // namespace tp::db::jet::pagerio
