// Usage maps: the global map of free pages (page 1) and the tables' maps of
// their data pages, inline or through bitmap pages; page allocation.
#include <algorithm>
#include <cstring>

#include "db/jet/tables/jet_database.h"

namespace tp::db::jet {

namespace {

using namespace usagemap;

// Row 0 of page 1: the global map of free pages.
constexpr uint32_t kGlobalMap = rowRef(kGlobalMapPage, 0);

// The pages a bitmap of `count` bits marks from page `base` on: those in the
// file go to `pages`, the first past its end to `pastEnd` (when asked).
void markedPages(const uint8_t* bits, size_t count, uint64_t base, uint32_t total, std::vector<uint32_t>& pages,
                 uint32_t* pastEnd) {
    for (size_t i = 0; i < count; ++i) {
        if (bits[i / 8] == 0) {  // a byte of unused pages at once
            i |= 7;
            continue;
        }
        if (!(bits[i / 8] & (1u << (i % 8)))) continue;
        const uint64_t pgno = base + i;
        if (pgno < total) pages.push_back(uint32_t(pgno));
        else if (pastEnd && *pastEnd == 0) *pastEnd = uint32_t(std::min<uint64_t>(pgno, 0xFFFFFFFFu));
    }
}

// The bitmap pages a reference map row of n bytes names (0: none yet).
std::vector<uint32_t> referencedPages(const uint8_t* p, size_t n) {
    std::vector<uint32_t> maps;
    for (size_t j = 0; j < (n - kRefs) / kRefSize; ++j) maps.push_back(decodeLE32(p + ref(j)));
    return maps;
}

// The header of a new UsageBitmap page (its bitmap zeroed by the caller's page).
void startBitmapPage(uint8_t* b) {
    b[page::kType] = uint8_t(PageType::UsageBitmap);
    b[page::kMarker] = page::kMarkerValue;
}

// How many pages an inline map row of n bytes covers.
size_t inlineBits(size_t n) { return (n - kBitmap) * 8; }

bool bitSet(const uint8_t* bits, uint64_t i) { return bits[i / 8] & (1u << (i % 8)); }

// The reference row of a global map covering the largest file (2 GB) with
// bitmap pages of `pageSize` bytes: 17 for 4096-byte pages.
size_t referenceRowSize(uint32_t pageSize) {
    const uint64_t pages = 0x7FFFF000u / pageSize, per = pagesPerBitmapPage(pageSize);
    return kRefs + kRefSize * size_t((pages + per - 1) / per);
}

}  // namespace

// The pages of a reference map (see mapPages).
void JetDatabase::referenceMapPages(const uint8_t* p, size_t n, std::vector<uint32_t>& pages,
                                    std::vector<uint32_t>* bitmapPages, uint32_t* pastEnd) {
    const uint32_t total = pager_->pageCount();
    const std::vector<uint32_t> maps = referencedPages(p, n);
    const uint64_t perPage = pagesPerBitmapPage(ps_);
    for (size_t j = 0; j < maps.size(); ++j) {
        if (maps[j] == 0) continue;
        if (maps[j] >= total) damaged("usage map page " + std::to_string(maps[j]) + " out of range");
        const uint64_t base = uint64_t(j) * perPage;
        // A map page covering only pages past the end of the file marks
        // nothing that exists: not read (so that repeated references
        // cannot make each scan walk millions of bits), unless asked
        // whether it marks any.
        if (base >= total && (!pastEnd || *pastEnd != 0)) break;
        const uint8_t* b = pager_->read(maps[j]);
        if (!isPage(b, PageType::UsageBitmap))
            damaged("usage map page " + std::to_string(maps[j]) + " has the wrong type");
        if (bitmapPages) bitmapPages->push_back(maps[j]);
        const size_t bits = pastEnd ? size_t(perPage) : size_t(std::min<uint64_t>(perPage, total - base));
        markedPages(b + kBitmapPageData, bits, base, total, pages, pastEnd);
    }
}

std::vector<uint32_t> JetDatabase::mapPages(uint32_t ref, std::vector<uint32_t>* bitmapPages, uint32_t* pastEnd) {
    std::vector<uint32_t> pages;
    auto [p, n] = findRow(ref);
    if (n < 1) damaged("empty usage map");
    if (pastEnd) *pastEnd = 0;
    if (p[kType] == kInline) {
        if (n < kBitmap) damaged("short usage map");
        markedPages(p + kBitmap, inlineBits(n), decodeLE32(p + kStart), pager_->pageCount(), pages, pastEnd);
    } else if (p[kType] == kReference) {
        referenceMapPages(p, n, pages, bitmapPages, pastEnd);
    } else {
        damaged("unknown usage map type " + std::to_string(p[kType]));
    }
    return pages;
}

// Rewrites page 1 with its row 0 (the global map) replaced; false when the
// rows do not fit on the page.
bool JetDatabase::rewriteGlobalMapRow(const std::vector<uint8_t>& row) {
    const DataPageLayout& L = layout().dataPage;
    const uint8_t* p = pager_->read(kGlobalMapPage);
    std::vector<RowSpan> rows;
    pageRows(kGlobalMapPage, p, rows, false);
    const uint32_t count = decodeLE16(p + L.rowCount);
    if (rows.empty() || refRow(rows[0].ref) != 0 || count != rows.size()) return false;
    std::vector<std::vector<uint8_t>> data;
    for (const auto& r : rows) data.emplace_back(r.p, r.p + r.n);
    data[0] = row;
    size_t total = L.rowOffset(data.size());
    for (const auto& d : data) total += d.size();
    if (total > ps_) return false;
    uint8_t* w = pager_->modify(kGlobalMapPage);
    std::memset(w + L.rowCount, 0, ps_ - L.rowCount);
    size_t end = ps_;
    for (size_t i = 0; i < data.size(); ++i) {
        end -= data[i].size();
        std::memcpy(w + end, data[i].data(), data[i].size());
        encodeLE16(w + L.rowOffset(i), uint32_t(end));
    }
    encodeLE16(w + L.rowCount, uint32_t(data.size()));
    encodeLE16(w + datapage::kFreeSpace, uint32_t(end - L.rowOffset(data.size())));
    return true;
}

// Grows the inline global map (row 0 of page 1) so that it covers `page`, as
// the engine does while a file grows; of the newly covered pages those past
// the end of the file are marked free. False when page 1 has no room left.
bool JetDatabase::growGlobalMap(uint32_t page) {
    auto [p, n] = findRow(kGlobalMap);
    if (n < kBitmap || p[kType] != kInline || decodeLE32(p + kStart) != 0) return false;
    std::vector<uint8_t> map(p, p + n);
    const size_t needBytes = page / 8 + 1;
    size_t bytes = map.size() - kBitmap;
    while (bytes < needBytes) bytes += 32;
    const size_t oldBits = inlineBits(map.size());
    map.resize(bytes + kBitmap, 0);
    for (size_t b = oldBits; b < bytes * 8; ++b)
        if (b >= pager_->pageCount()) map[kBitmap + b / 8] |= uint8_t(1u << (b % 8));
    return rewriteGlobalMapRow(map);
}

// A bitmap page of the global reference map for pages range*K .. range*K+K-1:
// pages past the end of the file are free, the others in use until marked.
uint32_t JetDatabase::newGlobalBitmap(size_t range) {
    const uint32_t bp = pager_->append();
    uint8_t* b = pager_->modify(bp);
    startBitmapPage(b);
    const uint64_t first = uint64_t(range) * pagesPerBitmapPage(ps_);
    for (uint32_t i = 0; i < pagesPerBitmapPage(ps_); ++i)
        if (first + i >= pager_->pageCount()) b[kBitmapPageData + i / 8] |= uint8_t(1u << (i % 8));
    auto [p, n] = rowForWrite(kGlobalMap);
    if (n < ref(range + 1)) damaged("global usage map too short");
    encodeLE32(p + ref(range), bp);
    if (bp / pagesPerBitmapPage(ps_) != range) setGlobalBit(bp, false);
    return bp;
}

// When the file outgrows what page 1 can hold inline (about 128 MB), the
// global map becomes a reference map: bitmap pages for every 32736 pages, as
// for a big table. The pages it marked free stay free.
void JetDatabase::promoteGlobalMap() {
    auto [p, n] = findRow(kGlobalMap);
    if (n < kBitmap || p[kType] != kInline) damaged("unknown global usage map");
    const uint32_t start = decodeLE32(p + kStart);
    std::vector<uint32_t> freePages;
    for (size_t i = 0; i < inlineBits(n); ++i)
        if (bitSet(p + kBitmap, i))
            if (uint64_t pg = uint64_t(start) + i; pg >= kFirstAllocatable && pg < pager_->pageCount())
                freePages.push_back(uint32_t(pg));
    std::vector<uint8_t> row(referenceRowSize(ps_), 0);  // bitmap pages for the whole 2 GB
    row[kType] = kReference;
    if (!rewriteGlobalMapRow(row)) damaged("no room for the global usage map");
    for (size_t range = 0; uint64_t(range) * pagesPerBitmapPage(ps_) < pager_->pageCount(); ++range) {
        auto [q, m] = findRow(kGlobalMap);
        if (m >= ref(range + 1) && decodeLE32(q + ref(range)) == 0) newGlobalBitmap(range);
    }
    for (uint32_t pg : freePages) setGlobalBit(pg, true);
}

void JetDatabase::setGlobalBit(uint32_t page, bool free) {
    auto [p, n] = findRow(kGlobalMap);
    if (n >= kBitmap && p[kType] == kInline) {
        const uint32_t start = decodeLE32(p + kStart);
        if (page < start) return;
        uint64_t bit = uint64_t(page) - start;
        if (bit < inlineBits(n)) {
            setBits(kGlobalMap, p, kBitmap + bit / 8, uint8_t(1u << (bit % 8)), free);
            return;
        }
        if (start == 0 && growGlobalMap(page)) {
            std::tie(p, n) = findRow(kGlobalMap);
            bit = page;
            if (bit < inlineBits(n)) setBits(kGlobalMap, p, kBitmap + bit / 8, uint8_t(1u << (bit % 8)), free);
            return;
        }
        promoteGlobalMap();
        std::tie(p, n) = findRow(kGlobalMap);
    }
    if (n < 1 || p[kType] != kReference) return;
    const size_t range = page / pagesPerBitmapPage(ps_);
    if (range >= (n - kRefs) / kRefSize) return;
    uint32_t bp = decodeLE32(p + ref(range));
    if (bp == 0) bp = newGlobalBitmap(range);
    if (bp >= pager_->pageCount() || !isPage(pager_->read(bp), PageType::UsageBitmap))
        damaged("global usage map page " + std::to_string(bp));
    const uint32_t bit = page % pagesPerBitmapPage(ps_);
    const uint16_t at = uint16_t(kBitmapPageData + bit / 8);
    uint8_t* b = pager_->modifyRanges(bp, {{at, 1}});
    if (free) b[at] |= uint8_t(1u << (bit % 8));
    else b[at] &= uint8_t(~(1u << (bit % 8)));
}

// Sets or clears bits of one byte of a row: only that byte is kept for an
// undo of the statement (these are the usage maps, changed on every new page).
void JetDatabase::setBits(uint32_t ref, const uint8_t* row, size_t at, uint8_t mask, bool on) {
    const uint32_t page = refPage(ref);
    const size_t off = size_t(row - pager_->read(page)) + at;
    uint8_t* w = pager_->modifyRanges(page, {{uint16_t(off), 1}});
    if (on) w[off] |= mask;
    else w[off] &= uint8_t(~mask);
}

// Marks page pg free in the set of free pages (the first pages never are).
void JetDatabase::markFree(uint64_t pg, uint32_t total) {
    if (pg < kFirstAllocatable || pg >= total) return;
    uint64_t& w = freeBits_[pg / 64];
    if (!(w & (1ull << (pg % 64)))) ++freeCount_;
    w |= 1ull << (pg % 64);
}

// The free pages a reference global map's bitmap pages mark (see loadFreePages).
void JetDatabase::loadFreePagesFromBitmaps(const uint8_t* p, size_t n, uint32_t total) {
    const std::vector<uint32_t> refs = referencedPages(p, n);
    for (size_t j = 0; j < refs.size() && uint64_t(j) * pagesPerBitmapPage(ps_) < total; ++j) {
        if (refs[j] == 0 || refs[j] >= total) continue;
        const uint8_t* b = pager_->read(refs[j]);
        if (!isPage(b, PageType::UsageBitmap)) continue;
        const uint64_t base = uint64_t(j) * pagesPerBitmapPage(ps_);
        for (uint32_t i = 0; i < pagesPerBitmapPage(ps_) && base + i < total; ++i)
            if (bitSet(b + kBitmapPageData, i)) markFree(base + i, total);
    }
}

// The free pages below the end of the file, as the global map marks them
// (pages it does not cover count as in use).
void JetDatabase::loadFreePages() {
    const uint32_t total = pager_->pageCount();
    freeBits_.assign(size_t(total) / 64 + 1, 0);
    freeCount_ = 0;
    lowestFree_ = 0;
    freeKnown_ = true;
    auto [p, n] = findRow(kGlobalMap);
    if (n >= kBitmap && p[kType] == kInline) {
        const uint32_t start = decodeLE32(p + kStart);
        for (size_t i = 0; i < inlineBits(n) && uint64_t(start) + i < total; ++i)
            if (bitSet(p + kBitmap, i)) markFree(uint64_t(start) + i, total);
    } else if (n >= 1 && p[kType] == kReference) {
        loadFreePagesFromBitmaps(p, n, total);
    }
}

uint32_t JetDatabase::allocPage(uint32_t from) {
    if (!freeKnown_) loadFreePages();
    uint32_t page = 0;
    if (freeCount_ > 0) {
        const uint32_t total = std::min<uint32_t>(pager_->pageCount(), uint32_t(freeBits_.size() * 64));
        uint32_t at = std::max(from, lowestFree_);
        while (at < total) {
            const uint64_t w = freeBits_[at / 64] >> (at % 64);
            if (w) {
                at += uint32_t(__builtin_ctzll(w));
                break;
            }
            at = (at / 64 + 1) * 64;
        }
        if (at < total) {
            page = at;
            freeBits_[at / 64] &= ~(1ull << (at % 64));
            --freeCount_;
            if (from <= lowestFree_) lowestFree_ = at + 1;
        } else if (from <= lowestFree_) {
            lowestFree_ = total;
        }
    }
    if (page != 0) pager_->reuse(page);
    else page = pager_->append();
    setGlobalBit(page, false);
    return page;
}

// The page is marked free in the global map; its bytes are left as they are
// (nothing refers to them any more), so that giving back a big table neither
// reads nor rewrites its pages.
void JetDatabase::releasePage(uint32_t page) {
    if (page < kFirstAllocatable || page >= pager_->pageCount()) return;
    setGlobalBit(page, true);
    pager_->released(page);
    if (freeKnown_) {
        if (page / 64 >= freeBits_.size()) freeBits_.resize(size_t(pager_->pageCount()) / 64 + 1, 0);
        uint64_t& w = freeBits_[page / 64];
        if (!(w & (1ull << (page % 64)))) {
            w |= 1ull << (page % 64);
            ++freeCount_;
            lowestFree_ = std::min(lowestFree_, page);
        }
    }
}

void JetDatabase::mapSet(uint32_t ref, uint32_t page, bool on) {
    if (ref == 0) return;
    auto [rp, rn] = findRow(ref);
    if (rn < kBitmap) damaged("short usage map");
    if (rp[kType] == kInline) {
        const uint32_t start = decodeLE32(rp + kStart);
        const size_t bits = inlineBits(rn);
        if (page >= start && page - start < bits) {
            const uint32_t b = page - start;
            setBits(ref, rp, kBitmap + b / 8, uint8_t(1u << (b % 8)), on);
            return;
        }
    }
    if (rp[kType] == kInline) {
        if (!on) return;
        auto [p, n] = rowForWrite(ref);
        const size_t bits = inlineBits(n);
        std::vector<uint32_t> pages = mapPages(ref);
        pages.push_back(page);
        const uint32_t lo = *std::min_element(pages.begin(), pages.end()) & ~7u;
        const uint32_t hi = *std::max_element(pages.begin(), pages.end());
        std::tie(p, n) = rowForWrite(ref);
        std::memset(p + kStart, 0, n - kStart);
        if (hi - lo < bits) {
            encodeLE32(p + kStart, lo);
            for (uint32_t pg : pages) p[kBitmap + (pg - lo) / 8] |= uint8_t(1u << ((pg - lo) % 8));
            return;
        }
        p[kType] = kReference;  // promote to a reference map
        for (uint32_t pg : pages) mapSet(ref, pg, true);
        return;
    }
    if (rp[kType] != kReference) damaged("unknown usage map type");
    const size_t j = page / pagesPerBitmapPage(ps_);
    if (j >= (rn - kRefs) / kRefSize)
        throw Error(jeterr::kFull, "The database '" + pager_->path() + "' has reached its maximum size.");
    uint32_t bp = decodeLE32(rp + usagemap::ref(j));
    if (bp == 0) {
        if (!on) return;
        bp = allocPage();
        startBitmapPage(pager_->modify(bp));
        uint8_t* p = rowForWrite(ref).first;
        encodeLE32(p + usagemap::ref(j), bp);
    }
    if (bp >= pager_->pageCount()) damaged("usage map page out of range");
    if (!isPage(pager_->read(bp), PageType::UsageBitmap))
        damaged("usage map page " + std::to_string(bp) + " has the wrong type");
    const uint32_t bit = page % pagesPerBitmapPage(ps_);
    const uint16_t at = uint16_t(kBitmapPageData + bit / 8);
    uint8_t* b = pager_->modifyRanges(bp, {{at, 1}});
    if (on) b[at] |= uint8_t(1u << (bit % 8));
    else b[at] &= uint8_t(~(1u << (bit % 8)));
}

}  // namespace tp::db::jet
