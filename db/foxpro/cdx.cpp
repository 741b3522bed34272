#include "db/foxpro/cdx.h"

#include <filesystem>
#include <unordered_set>

#include "db/coding/endian.h"
#include "db/error.h"
#include "db/foxpro/dbf.h"

namespace tp::db::foxpro {

namespace {

// Every node and header of the file is 512 bytes; a header is followed by
// 512 bytes of expression pool.
constexpr uint32_t kNode = 512;
constexpr uint32_t kHeaderSize = 2 * kNode;
// Node attributes (bytes 0-1): root 0x01, leaf 0x02.
constexpr uint16_t kLeaf = 0x02;
// A compact leaf: the node header takes 24 bytes; the packed entries follow
// it and the key bytes fill the node from its end.
constexpr uint32_t kLeafData = 24;
// An interior node: 12 bytes of node header, then per entry the key, the
// record number and the child's offset (both 4 bytes, big-endian).
constexpr uint32_t kInteriorData = 12;
// Far beyond any real directory; a bound on what a damaged one may ask for.
constexpr size_t kMaxTags = 4096;
constexpr int kMaxDepth = 32;

using coding::decodeBE32;
using coding::decodeLE16;
using coding::decodeLE32;

std::string hex(uint64_t v) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    do {
        s.insert(s.begin(), digits[v & 0xF]);
        v >>= 4;
    } while (v);
    return "0x" + s;
}

// The text up to the first NUL of n bytes at p.
std::string cString(const uint8_t* p, size_t n) {
    size_t len = 0;
    while (len < n && p[len] != 0) ++len;
    return std::string(reinterpret_cast<const char*>(p), len);
}

std::string trimName(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
    return s;
}

// Why the block of `size` bytes at off cannot be a node or header of the
// file; empty when it can.
std::string blockProblem(const ByteSource& src, uint64_t off, uint32_t size) {
    if (off % kNode != 0) return "the offset " + hex(off) + " is not at a node boundary";
    if (off < kHeaderSize) return "the offset " + hex(off) + " lies inside the file's header";
    if (off + size > src.size()) return "the offset " + hex(off) + " lies past the end of the file";
    return {};
}

void readBlock(const ByteSource& src, uint64_t off, uint8_t* buf, uint32_t size) {
    if (src.readAt(off, buf, size) != size) throw Error("the file ends inside the block at " + hex(off));
}

// Walks a B-tree of the file in key order: interior nodes lead to their
// children, compact leaves hold the keys and their record numbers.
class TreeWalk {
public:
    TreeWalk(const ByteSource& src, uint16_t keyLength, const CdxVisit& visit)
        : src_(src), keyLength_(keyLength), visit_(visit) {}

    void walk(uint32_t off, int depth) {
        if (depth > kMaxDepth) throw Error("the tree is nested deeper than " + std::to_string(kMaxDepth) + " levels");
        if (std::string p = blockProblem(src_, off, kNode); !p.empty()) throw Error("a node of the tree: " + p);
        if (!visited_.insert(off).second) throw Error("the tree reaches the node at " + hex(off) + " twice");
        uint8_t node[kNode];
        readBlock(src_, off, node, kNode);
        if (decodeLE16(node) & kLeaf) return leaf(node, off);
        const uint32_t count = decodeLE16(node + 2), entry = uint32_t(keyLength_) + 8;
        if (count * entry > kNode - kInteriorData)
            throw Error("the node at " + hex(off) + " holds more entries than fit in it");
        for (uint32_t i = 0; i < count; ++i)
            walk(decodeBE32(node + kInteriorData + size_t(i) * entry + keyLength_ + 4), depth + 1);
    }

private:
    struct Packing {
        uint32_t bytes, recordBits, dupBits, trailBits;
    };

    static Packing packing(const uint8_t* node, uint32_t off, uint32_t count) {
        const Packing p{node[23], node[20], node[21], node[22]};
        if (p.bytes == 0 || p.bytes > 8 || p.recordBits > 32 || p.dupBits > 16 || p.trailBits > 16 ||
            p.recordBits + p.dupBits + p.trailBits > p.bytes * 8 || count * p.bytes > kNode - kLeafData)
            throw Error("the leaf at " + hex(off) + " has an impossible entry layout");
        return p;
    }

    void leaf(const uint8_t* node, uint32_t off) {
        const uint32_t count = decodeLE16(node + 2);
        const Packing p = packing(node, off, count);
        const uint32_t entriesEnd = kLeafData + count * p.bytes;
        uint32_t keyPos = kNode;
        std::string prev, key;
        auto bits = [](uint64_t v, uint32_t shift, uint32_t n) {
            return static_cast<uint32_t>((v >> shift) & ((uint64_t(1) << n) - 1));
        };
        for (uint32_t i = 0; i < count; ++i) {
            uint64_t v = 0;
            for (uint32_t k = 0; k < p.bytes; ++k) v |= uint64_t(node[kLeafData + i * p.bytes + k]) << (8 * k);
            const uint32_t record = bits(v, 0, p.recordBits);
            const uint32_t dup = bits(v, p.recordBits, p.dupBits);
            const uint32_t trail = bits(v, p.recordBits + p.dupBits, p.trailBits);
            if (dup > prev.size() || dup + trail > keyLength_ || keyLength_ - dup - trail > keyPos - entriesEnd)
                throw Error("entry " + std::to_string(i + 1) + " of the leaf at " + hex(off) +
                            " does not fit its node");
            const uint32_t stored = keyLength_ - dup - trail;
            keyPos -= stored;
            key.assign(prev, 0, dup);
            key.append(reinterpret_cast<const char*>(node + keyPos), stored);
            key.append(trail, ' ');
            visit_(key, record);
            std::swap(prev, key);
        }
    }

    const ByteSource& src_;
    uint16_t keyLength_;
    const CdxVisit& visit_;
    std::unordered_set<uint32_t> visited_;
};

// Reads the header of tag.header into tag; sets tag.problem when it cannot.
void readTagHeader(const ByteSource& src, CdxTag& tag) {
    if (std::string p = blockProblem(src, tag.header, kHeaderSize); !p.empty()) {
        tag.problem = "its header: " + p;
        return;
    }
    uint8_t h[kHeaderSize];
    if (src.readAt(tag.header, h, kHeaderSize) != kHeaderSize) {
        tag.problem = "its header lies past the end of the file";
        return;
    }
    const uint16_t keyLength = decodeLE16(h + 12), order = decodeLE16(h + 502), forLength = decodeLE16(h + 506),
                   exprLength = decodeLE16(h + 510);
    const uint8_t options = h[14];
    if (!(options & kCdxCompact)) {
        tag.problem = "its header is not a compact index's (options " + hex(options) + ")";
    } else if (keyLength == 0 || uint32_t(keyLength) + 8 > kNode - kInteriorData) {
        tag.problem = "its key length " + std::to_string(keyLength) + " is impossible";
    } else if (order > 1) {
        tag.problem = "its order (" + std::to_string(order) + ") is neither ascending nor descending";
    } else if (exprLength == 0 || uint32_t(exprLength) + forLength > kNode) {
        tag.problem = "its expressions' lengths run past the expression pool";
    }
    if (!tag.problem.empty()) return;
    tag.options = options;
    tag.root = decodeLE32(h);
    tag.keyLength = keyLength;
    tag.descending = order == 1;
    tag.expression = cString(h + kNode, exprLength);
    if (options & kCdxHasFor) tag.filter = cString(h + kNode + exprLength, forLength);
    if (tag.expression.empty()) tag.problem = "it has no key expression";
    else if ((options & kCdxHasFor) && tag.filter.empty())
        tag.problem = "it is marked as filtered but holds no FOR expression";
}

}  // namespace

std::vector<CdxTag> readCdxTags(const ByteSource& src) {
    uint8_t h[kNode];
    if (src.size() < kHeaderSize + kNode || src.readAt(0, h, kNode) != kNode)
        throw Error("the file is too short for a compound index");
    const uint8_t options = h[14];
    if ((options & (kCdxCompact | kCdxCompound)) != (kCdxCompact | kCdxCompound))
        throw Error("its header is not a compact compound index's (options " + hex(options) + ")");
    const uint16_t keyLength = decodeLE16(h + 12);
    if (keyLength == 0 || uint32_t(keyLength) + 8 > kNode - kInteriorData)
        throw Error("the tag directory's key length " + std::to_string(keyLength) + " is impossible");
    std::vector<CdxTag> tags;
    try {
        walkCdxTree(src, decodeLE32(h), keyLength, [&](const std::string& key, uint32_t record) {
            if (tags.size() >= kMaxTags)
                throw Error("the tag directory names more than " + std::to_string(kMaxTags) + " tags");
            CdxTag& t = tags.emplace_back();
            t.name = trimName(key);
            t.header = record;
        });
    } catch (const Error& e) {
        throw Error(std::string("the tag directory: ") + e.what());
    }
    for (CdxTag& t : tags) readTagHeader(src, t);
    return tags;
}

void walkCdxTree(const ByteSource& src, uint32_t root, uint16_t keyLength, const CdxVisit& visit) {
    TreeWalk(src, keyLength, visit).walk(root, 0);
}

std::string structuralCdxPath(const std::string& dbfPath, const FolderListing* listing) {
    const std::filesystem::path p(dbfPath);
    return findFileNoCase(p.parent_path().string(), p.stem().string() + ".cdx", listing);
}

}  // namespace tp::db::foxpro
