// The text form of a GUID (see guid.h).
#include "db/coding/guid.h"

#include <cstring>

namespace tp::db::coding {

namespace {

// Text position of stored byte k: the first three groups are byte-swapped.
constexpr int kTextOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool hyphenAt(size_t i) { return i == 8 || i == 13 || i == 18 || i == 23; }

}  // namespace

std::string guidText(const uint8_t* p) {
    static const char* hx = "0123456789ABCDEF";
    std::string s = "{";
    for (int t = 0; t < 16; ++t) {
        if (t == 4 || t == 6 || t == 8 || t == 10) s.push_back('-');
        const uint8_t b = p[kTextOrder[t]];
        s.push_back(hx[b >> 4]);
        s.push_back(hx[b & 15]);
    }
    s.push_back('}');
    return s;
}

bool parseGuid(std::string_view text, uint8_t* out) {
    if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
    if (text.size() != 36) return false;
    uint8_t inOrder[16];
    int nibbles = 0;
    for (size_t i = 0; i < 36; ++i) {
        if (hyphenAt(i)) {
            if (text[i] != '-') return false;
            continue;
        }
        const int v = hexValue(text[i]);
        if (v < 0) return false;
        if (nibbles % 2 == 0) inOrder[nibbles / 2] = uint8_t(v << 4);
        else inOrder[nibbles / 2] |= uint8_t(v);
        ++nibbles;
    }
    for (int k = 0; k < 16; ++k) out[k] = inOrder[kTextOrder[k]];
    return true;
}

}  // namespace tp::db::coding
