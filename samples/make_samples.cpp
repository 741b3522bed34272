// Writes the sample FoxPro free tables of the program folder's Samples/:
// several Visual FoxPro tables that together use every field type the
// conversion knows, memos, NULLs, a deleted row, non-ASCII text (code page
// 1252) and one table of a few thousand rows. The output is the same on
// every run.
//
//   tp_make_samples OUTPUT_FOLDER
#include <iconv.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct Field {
    std::string name;
    char type;
    int length;
    int decimals = 0;
    bool nullable = false;
};

// A cell as text (see put() for each type's form); nullopt is NULL.
using Cell = std::optional<std::string>;

struct Row {
    std::vector<Cell> cells;
    bool deleted = false;
};

struct Table {
    std::string name;
    std::vector<Field> fields;
    std::vector<Row> rows;
};

std::string toCp1252(const std::string& utf8) {
    iconv_t cd = iconv_open("CP1252", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv: no CP1252");
    std::string out(utf8.size() * 2 + 4, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* o = out.data();
    size_t outLeft = out.size();
    const size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1)) throw std::runtime_error("not representable in CP1252: " + utf8);
    out.resize(out.size() - outLeft);
    return out;
}

void le16(std::string& b, size_t at, uint32_t v) {
    b[at] = static_cast<char>(v & 0xFF);
    b[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
void le32(std::string& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
void le64(std::string& b, size_t at, uint64_t v) {
    for (int i = 0; i < 8; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
void be32(std::string& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * (3 - i))) & 0xFF);
}

int64_t julianDay(int y, int m, int d) {
    const int a = (14 - m) / 12;
    const int yy = y + 4800 - a;
    const int mm = m + 12 * a - 3;
    return d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - yy / 100 + yy / 400 - 32045;
}

// The memo file: 512-byte header, 64-byte blocks.
class Memo {
public:
    static constexpr uint32_t kBlock = 64;
    Memo() : data_(512, '\0') {}
    uint32_t add(const std::string& bytes, bool text) {
        const uint32_t block = static_cast<uint32_t>(data_.size() / kBlock);
        std::string head(8, '\0');
        be32(head, 0, text ? 1 : 0);
        be32(head, 4, static_cast<uint32_t>(bytes.size()));
        data_ += head + bytes;
        data_.resize((data_.size() + kBlock - 1) / kBlock * kBlock, '\0');
        return block;
    }
    std::string finish() const {
        std::string d = data_;
        be32(d, 0, static_cast<uint32_t>(d.size() / kBlock));
        d[6] = 0;
        d[7] = static_cast<char>(kBlock);
        return d;
    }

private:
    std::string data_;
};

bool hasMemo(const Table& t) {
    for (const auto& f : t.fields)
        if (f.type == 'M' || f.type == 'W' || f.type == 'G') return true;
    return false;
}

void writeFile(const std::filesystem::path& p, const std::string& data) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    if (!out) throw std::runtime_error("cannot write " + p.string());
}

void writeTable(const Table& t, const std::filesystem::path& folder) {
    // Null and variable-length bits, in field order.
    std::vector<int> varBit(t.fields.size(), -1), nullBit(t.fields.size(), -1);
    int bits = 0;
    for (size_t i = 0; i < t.fields.size(); ++i) {
        const Field& f = t.fields[i];
        if (f.type == 'V' || f.type == 'Q') varBit[i] = bits++;
        if (f.nullable) nullBit[i] = bits++;
    }
    std::vector<Field> all = t.fields;
    if (bits > 0) all.push_back({"_NullFlags", '0', (bits + 7) / 8});
    const bool memo = hasMemo(t);

    const uint32_t headerLength = 32 + 32 * static_cast<uint32_t>(all.size()) + 1 + 263;
    uint32_t recordLength = 1;
    for (const auto& f : all) recordLength += static_cast<uint32_t>(f.length);

    std::string h(32, '\0');
    h[0] = 0x30;  // Visual FoxPro
    h[1] = 121;
    h[2] = 8;
    h[3] = 31;  // last update 2021-08-31
    le32(h, 4, static_cast<uint32_t>(t.rows.size()));
    le16(h, 8, headerLength);
    le16(h, 10, recordLength);
    h[28] = memo ? 0x02 : 0x00;
    h[29] = 0x03;  // code page 1252
    uint32_t offset = 1;
    for (size_t i = 0; i < all.size(); ++i) {
        const Field& f = all[i];
        std::string d(32, '\0');
        std::memcpy(d.data(), f.name.data(), std::min<size_t>(f.name.size(), 10));
        d[11] = f.type;
        le32(d, 12, offset);
        d[16] = static_cast<char>(f.length);
        d[17] = static_cast<char>(f.decimals);
        uint8_t flags = 0;
        if (f.type == '0') flags = 0x01 | 0x04;
        if (f.nullable) flags |= 0x02;
        if (f.type == 'Q' || f.type == 'W') flags |= 0x04;
        d[18] = static_cast<char>(flags);
        h += d;
        offset += static_cast<uint32_t>(f.length);
    }
    h += '\x0D';
    h += std::string(263, '\0');

    Memo fpt;
    std::string body;
    for (const Row& r : t.rows) {
        std::string rec(recordLength, ' ');
        rec[0] = r.deleted ? '*' : ' ';
        std::string nullFlags(bits > 0 ? static_cast<size_t>((bits + 7) / 8) : 0, '\0');
        auto setBit = [&](int bit) { nullFlags[bit / 8] = static_cast<char>(nullFlags[bit / 8] | (1 << (bit % 8))); };
        size_t at = 1;
        for (size_t i = 0; i < t.fields.size(); ++i) {
            const Field& f = t.fields[i];
            const Cell& c = r.cells.at(i);
            const size_t n = static_cast<size_t>(f.length);
            auto zero = [&] { std::fill(rec.begin() + at, rec.begin() + at + n, '\0'); };
            if (!c) {
                if (nullBit[i] < 0) throw std::runtime_error(t.name + "." + f.name + " is not nullable");
                setBit(nullBit[i]);
                if (std::strchr("IYTBMWQV", f.type)) zero();
                at += n;
                continue;
            }
            const std::string& v = *c;
            // clang-format off
            switch (f.type) {
            case 'C': {
                const std::string s = toCp1252(v);
                if (s.size() > n) throw std::runtime_error("too long for " + f.name + ": " + v);
                rec.replace(at, s.size(), s);
                break;
            }
            case 'V': case 'Q': {
                const std::string s = f.type == 'V' ? toCp1252(v) : v;
                if (s.size() > n) throw std::runtime_error("too long for " + f.name);
                zero();
                rec.replace(at, s.size(), s);
                if (s.size() < n) {
                    rec[at + n - 1] = static_cast<char>(s.size());
                    setBit(varBit[i]);
                }
                break;
            }
            case 'N': case 'F': {
                char buf[64];
                std::snprintf(buf, sizeof buf, "%*.*f", f.length, f.decimals, std::stod(v));
                if (std::strlen(buf) != n) throw std::runtime_error("number too wide for " + f.name);
                rec.replace(at, n, buf);
                break;
            }
            case 'I': le32(rec, at, static_cast<uint32_t>(static_cast<int32_t>(std::stol(v)))); break;
            case 'Y': le64(rec, at, static_cast<uint64_t>(std::llround(std::stod(v) * 10000.0))); break;
            case 'B': {
                const double d = std::stod(v);
                uint64_t u;
                std::memcpy(&u, &d, 8);
                le64(rec, at, u);
                break;
            }
            case 'D':   // "YYYYMMDD" or empty
                rec.replace(at, 8, (v + "        ").substr(0, 8));
                break;
            case 'T': {   // "YYYYMMDD hh:mm:ss"
                zero();
                int y, mo, d, hh = 0, mi = 0, ss = 0;
                if (std::sscanf(v.c_str(), "%4d%2d%2d %d:%d:%d", &y, &mo, &d, &hh, &mi, &ss) < 3)
                    throw std::runtime_error("bad date-time " + v);
                le32(rec, at, static_cast<uint32_t>(julianDay(y, mo, d)));
                le32(rec, at + 4, static_cast<uint32_t>((hh * 3600 + mi * 60 + ss) * 1000));
                break;
            }
            case 'L': rec[at] = v.empty() ? ' ' : v[0]; break;
            case 'M': case 'W': {
                zero();
                if (!v.empty())
                    le32(rec, at, fpt.add(f.type == 'M' ? toCp1252(v) : v, f.type == 'M'));
                break;
            }
            default: throw std::runtime_error("unknown type");
            }
            // clang-format on
            at += n;
        }
        if (bits > 0) rec.replace(at, nullFlags.size(), nullFlags);
        body += rec;
    }
    writeFile(folder / (t.name + ".dbf"), h + body + '\x1A');
    if (memo) writeFile(folder / (t.name + ".fpt"), fpt.finish());
}

// Deterministic numbers for the large table.
struct Lcg {
    uint32_t s = 20210831;
    uint32_t next() { return s = s * 1664525u + 1013904223u; }
    int below(int n) { return static_cast<int>((next() >> 8) % static_cast<uint32_t>(n)); }
};

std::string date(int y, int m, int d) {
    char b[48];
    std::snprintf(b, sizeof b, "%04d%02d%02d", y, m, d);
    return b;
}

Table customers() {
    Table t{"customers",
            {{"CUSTID", 'I', 4},
             {"COMPANY", 'C', 40},
             {"CONTACT", 'V', 30, 0, true},
             {"CITY", 'C', 25, 0, true},
             {"COUNTRY", 'C', 15},
             {"BALANCE", 'Y', 8, 4, true},
             {"CREDITLIM", 'N', 10, 2},
             {"DISCOUNT", 'F', 6, 3},
             {"SINCE", 'D', 8, 0, true},
             {"LASTORDER", 'T', 8, 0, true},
             {"ACTIVE", 'L', 1, 0, true},
             {"RATING", 'B', 8, 2},
             {"NOTES", 'M', 4, 0, true}},
            {}};
    auto add = [&](std::vector<Cell> c, bool deleted = false) { t.rows.push_back({std::move(c), deleted}); };
    add({"1", "Alfreds Futterkiste", "Maria Anders", "Berlin", "Germany", "1250.5", "5000", "0.05", date(2015, 3, 14),
         "20210830 09:15:00", "T", "4.5", "Long-standing customer.\r\nPrefers e-mail."});
    add({"2", "Bólido Comidas preparadas", "Martín Sommer", "Madrid", "Spain", "0", "2500", "0", date(2018, 11, 2),
         "20210712 16:40:30", "T", "3.75", ""});
    add({"3", "O'Brien & Sons", "Seán O'Brien", "Cork", "Ireland", "-75.25", "1000", "0.1", date(2020, 1, 31),
         std::nullopt, "F", "2", "Quotes ' and \"double\" quotes."});
    add({"4", "Müller Lebensmittel GmbH", std::nullopt, std::nullopt, "Germany", std::nullopt, "0", "0", std::nullopt,
         std::nullopt, std::nullopt, "0", std::nullopt});
    add({"5", "Zoë's Café", "Zoë Dubois", "Québec", "Canada", "310.1234", "750.5", "0.025", date(2019, 6, 1),
         "20210101 00:00:00", "T", "5", "Ça va très bien — merci!"});
    add({"6", "Closed Account Ltd", "Nobody", "Leeds", "UK", "0", "0", "0", date(2001, 1, 1), "20010101 12:00:00", "F",
         "1", "Removed; kept only as a deleted row."},
        true);
    add({"7", "São Paulo Importações", "João Silva", "São Paulo", "Brazil", "9999.99", "99999.99", "0.2",
         date(2021, 8, 31), "20210831 23:59:59", "T", "4.25", "Multi-line\r\nnote with\ttab and the euro sign €."});
    add({"8", "Åkesson Fisk AB", "Åsa Åkesson", "Göteborg", "Sweden", "12", "1200", "0.015", date(2016, 2, 29),
         "20160229 06:30:00", "T", "3.5", "Leap-day customer."});
    return t;
}

Table orders() {
    Table t{"orders",
            {{"ORDERID", 'I', 4},
             {"CUSTID", 'I', 4},
             {"ORDERDATE", 'D', 8},
             {"SHIPPED", 'T', 8, 0, true},
             {"AMOUNT", 'N', 12, 2},
             {"QUANTITY", 'N', 5, 0},
             {"PAID", 'L', 1},
             {"REMARK", 'C', 30}},
            {}};
    Lcg rng;
    static const char* remarks[] = {"", "Rush order", "Gift wrap", "Call before delivery", "Leave at the door"};
    for (int i = 1; i <= 3000; ++i) {
        const int y = 2019 + rng.below(3), m = 1 + rng.below(12), d = 1 + rng.below(28);
        Cell shipped;
        if (rng.below(10) != 0) {
            char b[96];
            std::snprintf(b, sizeof b, "%04d%02d%02d %02d:%02d:%02d", y, m, std::min(d + 1, 28), rng.below(24),
                          rng.below(60), rng.below(60));
            shipped = b;
        }
        const int cents = rng.below(500000);
        t.rows.push_back({{std::to_string(i), std::to_string(1 + rng.below(8)), date(y, m, d), shipped,
                           std::to_string(cents / 100) + "." + std::to_string(100 + cents % 100).substr(1),
                           std::to_string(1 + rng.below(50)), rng.below(3) ? "T" : "F", remarks[rng.below(5)]},
                          i == 1234});
    }
    return t;
}

Table products() {
    Table t{"products",
            {{"PRODCODE", 'C', 10},
             {"NAME", 'V', 40},
             {"PRICE", 'Y', 8, 4},
             {"INSTOCK", 'I', 4},
             {"WEIGHTKG", 'N', 8, 3, true},
             {"DISCONT", 'L', 1},
             {"ADDED", 'D', 8},
             {"BARCODE", 'Q', 16, 0, true},
             {"DETAILS", 'M', 4},
             {"PHOTO", 'W', 4, 0, true}},
            {}};
    static const char* names[] = {"Crème brûlée",
                                  "Jalapeño peppers",
                                  "Smørrebrød",
                                  "Chai",
                                  "Chang",
                                  "Aniseed Syrup",
                                  "Cajun Seasoning",
                                  "Grandma's Boysenberry Spread",
                                  "Mishi Kobe Niku",
                                  "Ikura",
                                  "Queso Cabrales",
                                  "Tofu",
                                  "Pavlova",
                                  "Sir Rodney's Marmalade",
                                  "Gustaf's Knäckebröd",
                                  "Tunnbröd"};
    int i = 0;
    for (const char* n : names) {
        ++i;
        char code[24];
        std::snprintf(code, sizeof code, "P%04d", i);
        std::string barcode;
        for (int k = 0; k < 6 + i % 8; ++k) barcode += static_cast<char>((i * 37 + k * 11) & 0xFF);
        t.rows.push_back(
            {{code, n, std::to_string(i * 3.25), std::to_string(i * 7 % 40),
              i % 5 == 0 ? Cell() : Cell(std::to_string(i * 0.125)), i % 4 == 0 ? "T" : "F",
              date(2020, 1 + i % 12, 1 + i), i % 3 == 0 ? Cell() : Cell(barcode), std::string("Details of ") + n + ".",
              i % 2 ? Cell(std::string("\x89PNG\r\n\x1a\n", 8)) : Cell()},
             false});
    }
    return t;
}

// Every kind of empty value in one small table.
Table empties() {
    Table t{"empty_values",
            {{"ID", 'I', 4},
             {"TEXT", 'C', 10, 0, true},
             {"VTEXT", 'V', 10, 0, true},
             {"NUM", 'N', 6, 2, true},
             {"DAY", 'D', 8, 0, true},
             {"MOMENT", 'T', 8, 0, true},
             {"FLAG", 'L', 1, 0, true},
             {"MEMO", 'M', 4, 0, true}},
            {}};
    t.rows.push_back({{"1", "", "", "0", "", "19000101 00:00:00", "F", ""}, false});
    t.rows.push_back(
        {{"2", std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt},
         false});
    t.rows.push_back(
        {{"3", "full text!", "0123456789", "-99.99", date(1999, 12, 31), "19991231 23:59:59", "T", "x"}, false});
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: tp_make_samples OUTPUT_FOLDER\n";
        return 2;
    }
    try {
        const std::filesystem::path out = argv[1];
        std::filesystem::create_directories(out);
        for (const Table& t : {customers(), orders(), products(), empties()}) writeTable(t, out);
    } catch (const std::exception& e) {
        std::cerr << "tp_make_samples: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
