// Page ciphers and header fields of Access files: against real files made by
// Access, round trips through every scheme, and damaged headers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "db/error.h"
#include "db/jet/storage/crypto.h"
#include "tests/support/support.h"

namespace tp::db::jet {
namespace {

constexpr size_t kPage = 4096;

std::vector<uint8_t> loadFile(const std::string& relative) {
    const std::string s = test::readFile(test::corpusPath(relative).string());
    return {s.begin(), s.end()};
}

// Page 0 of a file with the header mask removed.
std::vector<uint8_t> unmaskedHeader(const std::vector<uint8_t>& file, size_t pageSize = kPage) {
    std::vector<uint8_t> p(file.begin(), file.begin() + long(std::min(pageSize, file.size())));
    applyHeaderMask(p);
    return p;
}

// A plain ACE header page to build encrypted headers on.
std::vector<uint8_t> plainAceHeader() {
    auto p = unmaskedHeader(loadFile("access/jackcess-templates/empty2010.accdb"));
    EXPECT_EQ(headerEncodingKey(p), (std::array<uint8_t, 4>{0, 0, 0, 0}));
    return p;
}

std::string expectError(const std::function<void()>& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.what();
    }
    ADD_FAILURE() << "no db::Error thrown";
    return {};
}

// ---------------------------------------------------------------- RC4

TEST(CryptoRc4, KnownKeystreamOnBothBackends) {
    // First 16 keystream bytes for key 01 02 03 04 05 (RFC 6229).
    const uint8_t key[] = {1, 2, 3, 4, 5};
    const uint8_t expect[] = {0xb2, 0x39, 0x63, 0x05, 0xf0, 0x3d, 0xc0, 0x27,
                              0xcc, 0xc3, 0x52, 0x4a, 0x0a, 0x11, 0x18, 0xa8};
    for (auto backend : {Rc4::Backend::Auto, Rc4::Backend::BuiltIn}) {
        Rc4 rc4(backend);
        rc4.setKey(key, sizeof key);
        uint8_t data[16] = {};
        rc4.apply(data, 8);  // in two pieces: the stream must continue
        rc4.apply(data + 8, 8);
        EXPECT_EQ(0, std::memcmp(data, expect, 16)) << "OpenSSL backend: " << rc4.usesOpenSsl();
    }
}

TEST(CryptoRc4, BackendsAgreeAndKeysRestartTheStream) {
    std::mt19937 rng(7);
    Rc4 a(Rc4::Backend::Auto), b(Rc4::Backend::BuiltIn);
    EXPECT_EQ(a.usesOpenSsl(), Rc4::openSslAvailable());
    EXPECT_FALSE(b.usesOpenSsl());
    for (size_t keyLen : {1u, 4u, 5u, 16u, 20u, 256u}) {
        std::vector<uint8_t> key(keyLen), x(5000), y;
        for (auto& k : key) k = uint8_t(rng());
        for (auto& v : x) v = uint8_t(rng());
        y = x;
        a.setKey(key.data(), key.size());
        b.setKey(key.data(), key.size());
        a.apply(x.data(), x.size());
        b.apply(y.data(), 1234);
        b.apply(y.data() + 1234, y.size() - 1234);
        EXPECT_EQ(x, y) << keyLen;
    }
    const uint8_t k = 1;
    EXPECT_THROW(a.setKey(&k, 0), Error);
}

// ---------------------------------------------------------------- header fields

TEST(CryptoHeader, MaskRevealsTheConstantAreaForJet3Jet4AndAce) {
    const uint8_t constant[] = {0, 1, 0, 0, 1, 1, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0};
    for (const char* f : {"access/jackcess-templates/empty.mdb", "access/jackcess-templates/empty2010.accdb",
                          "access/jackcess-V1997/testV1997.mdb"}) {
        const auto file = loadFile(f);
        ASSERT_GE(file.size(), kPage) << f;
        auto p = unmaskedHeader(file);
        EXPECT_EQ(0, std::memcmp(p.data() + 0x18, constant, sizeof constant)) << f;
        applyHeaderMask(p);
        EXPECT_TRUE(std::equal(p.begin(), p.end(), file.begin())) << "mask is its own inverse: " << f;
    }
    // Jet 3 masks 126 bytes: 0x96 and 0x97 stay as stored.
    std::vector<uint8_t> jet3(2048, 0), jet4(4096, 0);
    jet4[0x14] = 1;
    applyHeaderMask(jet3);
    applyHeaderMask(jet4);
    EXPECT_EQ(jet3[0x96], 0);
    EXPECT_EQ(jet3[0x97], 0);
    EXPECT_EQ(0, std::memcmp(jet3.data() + 0x18, jet4.data() + 0x18, 126));
    EXPECT_NE(jet4[0x96] | jet4[0x97], 0);
    std::vector<uint8_t> tiny(100);
    EXPECT_THROW(applyHeaderMask(tiny), Error);
}

TEST(CryptoHeader, APasswordedMdbIsNotPageEncrypted) {
    // A Jet 4 password only sits in the header: the pages are in the clear.
    const auto p = unmaskedHeader(loadFile("access/ucanaccess/password.mdb"));
    EXPECT_EQ(detectEncryption(p, "password.mdb"), EncryptionScheme::None);
    EXPECT_EQ(PageCipher::fromHeader(p, "whatever", "password.mdb"), nullptr);
}

TEST(CryptoHeader, NoCorpusFileOtherThanTheEncryptedAccdbHasAnEncodingKey) {
    const char* files[] = {
        "access/mdb-reader/password/data/V2000_with-password.mdb",
        "access/ucanaccess/password.mdb",
        "access/jackcess-V2000/testV2000.mdb",
        "access/jackcess-V2003/testV2003.mdb",
        "access/jackcess-V2007/testV2007.accdb",
        "access/jackcess-V2010/testV2010.accdb",
        "access/jackcess-templates/empty2019.accdb",
        "access/mdb-reader/data/V2016/bigint.accdb",
    };
    for (const char* f : files) {
        const auto p = unmaskedHeader(loadFile(f));
        EXPECT_EQ(detectEncryption(p, f), EncryptionScheme::None) << f;
    }
    const auto jet3 = loadFile("access/jackcess-V1997/testV1997.mdb");
    EXPECT_EQ(detectEncryption(unmaskedHeader(jet3, 2048), "testV1997.mdb"), EncryptionScheme::None);
}

// ---------------------------------------------------------------- RC4 CryptoAPI file made by Access

class CryptoApiCorpus : public ::testing::Test {
protected:
    void SetUp() override {
        file = loadFile(kFile);
        ASSERT_GE(file.size(), 3 * kPage);
        ASSERT_EQ(file.size() % kPage, 0u);
        page0 = unmaskedHeader(file);
    }
    static constexpr const char* kFile = "access/mdb-reader/encryption/data/office-agile-4.2.accdb";
    std::vector<uint8_t> file, page0;
};

TEST_F(CryptoApiCorpus, DetectedAsRc4CryptoApiDespiteItsName) {
    EXPECT_EQ(page0[0x14], 3);
    EXPECT_EQ(detectEncryption(page0, kFile), EncryptionScheme::OfficeRc4CryptoApi);
}

TEST_F(CryptoApiCorpus, DecryptedPagesLookLikeAnAccessDatabase) {
    auto cipher = PageCipher::fromHeader(page0, "password", kFile);
    ASSERT_NE(cipher, nullptr);
    EXPECT_EQ(cipher->scheme(), EncryptionScheme::OfficeRc4CryptoApi);
    std::vector<uint8_t> plain = file;
    const uint32_t pages = uint32_t(file.size() / kPage);
    for (uint32_t n = 1; n < pages; ++n) cipher->decryptPage(n, plain.data() + n * kPage, kPage);

    // MSysObjects' definition on page 2.
    const uint8_t* tdef = plain.data() + 2 * kPage;
    EXPECT_EQ(tdef[0], 0x02);
    EXPECT_EQ(tdef[1], 0x01);
    auto u16 = [&](size_t o) { return tdef[o] | (tdef[o + 1] << 8); };
    EXPECT_EQ(u16(0x0C), 1625);
    EXPECT_EQ(tdef[0x28], 0x53);    // system table
    EXPECT_EQ(u16(0x2D), 17);       // columns
    EXPECT_EQ(u16(0x2B), 11);       // variable-length columns
    EXPECT_EQ(plain[kPage], 0x01);  // page 1: global usage map (a data page)

    // Every page has a known type and byte 1 = 1 (or is all zero).
    int known = 0;
    for (uint32_t n = 1; n < pages; ++n) {
        const uint8_t* p = plain.data() + n * kPage;
        const bool zero = std::all_of(p, p + kPage, [](uint8_t b) { return b == 0; });
        if (zero) continue;
        EXPECT_TRUE(p[0] >= 1 && p[0] <= 9 && p[1] == 1) << "page " << n;
        ++known;
    }
    EXPECT_GT(known, 10);

    // Encrypting again gives the file's bytes back, page for page.
    for (uint32_t n = 1; n < pages; ++n) cipher->encryptPage(n, plain.data() + n * kPage, kPage);
    EXPECT_EQ(plain, file);
}

TEST_F(CryptoApiCorpus, OpensFromThePageAsStored) {
    const std::span<const uint8_t> stored(file.data(), kPage);
    auto cipher = PageCipher::fromStoredHeader(stored, "password", kFile);
    ASSERT_NE(cipher, nullptr);
    std::vector<uint8_t> tdef(file.begin() + 2 * kPage, file.begin() + 3 * kPage);
    cipher->decryptPage(2, tdef.data(), kPage);
    EXPECT_EQ(tdef[0], 0x02);
    EXPECT_THROW(PageCipher::fromStoredHeader(stored, "nope", kFile), Error);
    EXPECT_THROW(PageCipher::fromStoredHeader(stored.first(64), "password", kFile), Error);
}

TEST_F(CryptoApiCorpus, WrongPasswordsAreRefused) {
    for (const char* pw : {"", "Password", "password ", "wrong"}) {
        try {
            PageCipher::fromHeader(page0, pw, kFile);
            ADD_FAILURE() << "accepted " << pw;
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), 3031);
            EXPECT_STREQ(e.what(), "Not a valid password.");
        }
    }
}

TEST_F(CryptoApiCorpus, DamagedProviderFieldsGiveClearErrors) {
    auto p = page0;
    p[0x299] = 0xFF;  // length far beyond the page
    p[0x29A] = 0xFF;
    EXPECT_NE(expectError([&] { PageCipher::fromHeader(p, "password", "x.accdb"); }).find("'x.accdb'"),
              std::string::npos);
    p = page0;
    p[0x29B + 8] = 0xF0;  // header size 0x7E -> 0xF0: runs past the blob
    EXPECT_THROW(PageCipher::fromHeader(p, "password", "x.accdb"), Error);
    p = page0;
    p[0x29B + 138] = 17;  // salt size must be 16
    EXPECT_THROW(PageCipher::fromHeader(p, "password", "x.accdb"), Error);
    p = page0;
    p[0x29B + 4] |= 0x20;  // CryptoAPI + AES: Standard encryption, not supported
    EXPECT_NE(expectError([&] { detectEncryption(p, "x.accdb"); }).find("Standard"), std::string::npos);
    p = page0;
    p[0x29B + 2] = 3;  // version 4.3: Extensible
    EXPECT_NE(expectError([&] { detectEncryption(p, "x.accdb"); }).find("Extensible"), std::string::npos);
    p = page0;
    p[0x299] = 4;  // blob cut to 4 bytes
    p[0x29A] = 0;
    EXPECT_THROW(PageCipher::fromHeader(p, "password", "x.accdb"), Error);
    EXPECT_THROW(detectEncryption(std::span<const uint8_t>(page0.data(), 0x200), "x.accdb"), Error);
}

TEST_F(CryptoApiCorpus, MutatedProvidersNeverCrash) {
    std::mt19937 rng(5);
    int accepted = 0;
    for (int round = 0; round < 500; ++round) {
        auto p = page0;
        const int edits = 1 + int(rng() % 3);
        for (int k = 0; k < edits; ++k) p[0x299 + rng() % 200] = uint8_t(rng());
        try {
            if (PageCipher::fromHeader(p, "password", "fuzz.accdb")) ++accepted;
        } catch (const Error&) {}
    }
    // Edits of the provider name or reserved fields may still open the file.
    EXPECT_LT(accepted, 500);
}

// ---------------------------------------------------------------- new encryptions

// Header of a new encrypted .accdb/.mdb with `e` written into it.
std::vector<uint8_t> headerWith(const NewEncryption& e, bool ace = true) {
    auto p = ace ? plainAceHeader() : unmaskedHeader(loadFile("access/jackcess-templates/empty.mdb"));
    e.writeHeader(p);
    return p;
}

std::string providerXml(const NewEncryption& e) { return std::string(e.provider.begin() + 8, e.provider.end()); }

TEST(CryptoCreate, AgileBlobIsWhatAccess2010Writes) {
    const auto e = PageCipher::createAgile("secret");
    ASSERT_GE(e.provider.size(), 8u);
    EXPECT_EQ(0, std::memcmp(e.provider.data(), "\x04\x00\x04\x00\x40\x00\x00\x00", 8));
    const std::string xml = providerXml(e);
    EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<encryption ", 0), 0u);
    for (const char* s : {"keyBits=\"256\"", "hashAlgorithm=\"SHA512\"", "cipherChaining=\"ChainingModeCBC\"",
                          "spinCount=\"100000\"", "<p:encryptedKey ", "</encryption>"})
        EXPECT_NE(xml.find(s), std::string::npos) << s;
    EXPECT_EQ(xml.find("dataIntegrity"), std::string::npos);
    EXPECT_EQ(e.encodingKey[3], 0xA0);
    EXPECT_NE(e.encodingKey[0] | e.encodingKey[1] | e.encodingKey[2], 0);

    const auto p = headerWith(e);
    EXPECT_EQ(p[0x299] | (p[0x29A] << 8), int(e.provider.size()));
    EXPECT_EQ(detectEncryption(p, "new.accdb"), EncryptionScheme::OfficeAgile);
    EXPECT_EQ(headerEncodingKey(p), e.encodingKey);
    EXPECT_TRUE(
        std::all_of(p.begin() + 0x29B + long(e.provider.size()), p.begin() + 0xE00, [](uint8_t b) { return b == 0; }));
    // Two creations never share keys or salts.
    EXPECT_NE(providerXml(PageCipher::createAgile("secret")), xml);
}

// Every scheme: the cipher handed out at creation and the one opened from the
// written header agree, pages round-trip, and wrong passwords are refused.
void roundTrip(const NewEncryption& e, bool ace, const std::string& password) {
    const auto p = headerWith(e, ace);
    auto opened = PageCipher::fromHeader(p, password, "new");
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(opened->scheme(), e.cipher->scheme());

    std::mt19937 rng(11);
    std::vector<uint8_t> plain(kPage);
    for (auto& b : plain) b = uint8_t(rng());
    for (uint32_t n : {1u, 2u, 77u, 0x7FFFFu}) {
        auto a = plain, b = plain;
        e.cipher->encryptPage(n, a.data(), kPage);
        opened->encryptPage(n, b.data(), kPage);
        EXPECT_EQ(a, b) << n;
        EXPECT_NE(a, plain) << n;
        opened->decryptPage(n, a.data(), kPage);
        EXPECT_EQ(a, plain) << n;
    }
    // Page keys differ per page; page 0 is left alone.
    auto one = plain, two = plain, zero = plain;
    e.cipher->encryptPage(1, one.data(), kPage);
    e.cipher->encryptPage(2, two.data(), kPage);
    e.cipher->encryptPage(0, zero.data(), kPage);
    EXPECT_NE(one, two);
    EXPECT_EQ(zero, plain);
    if (ace) {
        try {
            PageCipher::fromHeader(p, password + "x", "new");
            ADD_FAILURE() << "wrong password accepted";
        } catch (const Error& err) {
            EXPECT_EQ(err.number(), 3031);
            EXPECT_STREQ(err.what(), "Not a valid password.");
        }
    }
}

TEST(CryptoCreate, RoundTripAgile) { roundTrip(PageCipher::createAgile("pässwörd ✓"), true, "pässwörd ✓"); }
TEST(CryptoCreate, RoundTripAgileEmptyPassword) { roundTrip(PageCipher::createAgile(""), true, ""); }
TEST(CryptoCreate, RoundTripRc4CryptoApi) { roundTrip(PageCipher::createRc4CryptoApi("password"), true, "password"); }
TEST(CryptoCreate, RoundTripJetRc4) { roundTrip(PageCipher::createJetRc4(), false, ""); }

TEST(CryptoCreate, LongPasswordsAreCutAt255Characters) {
    const std::string pw(300, 'k');
    const auto p = headerWith(PageCipher::createAgile(pw));
    EXPECT_NE(PageCipher::fromHeader(p, pw.substr(0, 255) + "zzz", "new"), nullptr);
    EXPECT_THROW(PageCipher::fromHeader(p, pw.substr(0, 254), "new"), Error);
}

TEST(CryptoCreate, Rc4CryptoApiBlobMatchesAccess2007Layout) {
    const auto e = PageCipher::createRc4CryptoApi("pw");
    const auto access = unmaskedHeader(loadFile("access/mdb-reader/encryption/data/office-agile-4.2.accdb"));
    ASSERT_EQ(e.provider.size(), size_t(access[0x299] | (access[0x29A] << 8)));
    // Everything up to the salt (versions, flags, header, CSP name) is fixed.
    EXPECT_EQ(0, std::memcmp(e.provider.data(), access.data() + 0x29B, 142));
    EXPECT_EQ(0, std::memcmp(e.provider.data() + 174, access.data() + 0x29B + 174, 4));
    // The 0x42 field is filled as Access does (first key byte under the date mask).
    auto mine = access;
    e.writeHeader(mine);
    for (size_t k = 0; k < 40; ++k) EXPECT_EQ(mine[0x42 + k] ^ access[0x42 + k], e.encodingKey[0] ^ access[0x3E]) << k;
}

TEST(CryptoCreate, AgilePageSizeMustBeWholeBlocks) {
    auto e = PageCipher::createAgile("pw");
    std::vector<uint8_t> odd(100);
    EXPECT_THROW(e.cipher->encryptPage(1, odd.data(), odd.size()), Error);
    std::vector<uint8_t> small(600);  // writeHeader needs room up to 0xE00
    EXPECT_THROW(e.writeHeader(small), Error);
}

// ---------------------------------------------------------------- damaged Agile descriptors

// A header whose Agile XML is `xml` (the 8 leading bytes kept).
std::vector<uint8_t> agileHeader(const NewEncryption& e, const std::string& xml) {
    auto p = headerWith(e);
    const size_t len = 8 + xml.size();
    p[0x299] = uint8_t(len);
    p[0x29A] = uint8_t(len >> 8);
    std::memcpy(p.data() + 0x29B + 8, xml.data(), xml.size());
    return p;
}

std::string replaced(std::string s, const std::string& from, const std::string& to) {
    const size_t at = s.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) s.replace(at, from.size(), to);
    return s;
}

TEST(CryptoAgileDamage, BadDescriptorsAreReportedNotTrusted) {
    const auto e = PageCipher::createAgile("pw");
    const std::string xml = providerXml(e);
    struct Case {
        std::string from, to, message;
    } cases[] = {
        {"spinCount=\"100000\"", "spinCount=\"4000000000\"", "spinCount"},
        {"spinCount=\"100000\"", "spinCount=\"-5\"", "spinCount"},
        {"<p:encryptedKey ", "<p:other ", "password key"},
        {"<keyData ", "<keyDatum ", "keyData"},
        {"keyBits=\"256\"", "keyBits=\"100\"", "key size"},
        {"hashSize=\"64\"", "hashSize=\"20\"", "hash size"},
        {"blockSize=\"16\"", "blockSize=\"8\"", "block size"},
        {"encryptedKeyValue=\"", "encryptedKeyValue=\"#", "base64"},
        {"cipherAlgorithm=\"AES\"", "cipherAlgorithm=\"DES\"", "cipher"},
        {"saltSize=\"16\"", "saltSize=\"17\"", "salt"},
    };
    for (const auto& c : cases) {
        const auto p = agileHeader(e, replaced(xml, c.from, c.to));
        const std::string msg = expectError([&] { PageCipher::fromHeader(p, "pw", "bad.accdb"); });
        EXPECT_NE(msg.find("bad.accdb"), std::string::npos) << c.to << ": " << msg;
        EXPECT_NE(msg.find(c.message), std::string::npos) << c.to << ": " << msg;
    }
    // A short encrypted key value (one block instead of two).
    const size_t at = xml.find("encryptedKeyValue=\"") + 19;
    auto cut = xml;
    cut.replace(at, 44, "AAAAAAAAAAAAAAAAAAAAAA==");
    EXPECT_THROW(PageCipher::fromHeader(agileHeader(e, cut), "pw", "bad.accdb"), Error);
}

TEST(CryptoAgileDamage, MutatedDescriptorsNeverCrash) {
    const auto e = PageCipher::createAgile("pw");
    // Spin count 1 keeps each attempt fast; the password check then fails.
    const std::string xml = replaced(providerXml(e), "spinCount=\"100000\"", "spinCount=\"1\"");
    std::mt19937 rng(3);
    int refused = 0;
    for (int round = 0; round < 300; ++round) {
        std::string m = xml;
        const int edits = 1 + int(rng() % 4);
        for (int k = 0; k < edits; ++k) {
            const size_t at = rng() % m.size();
            // clang-format off
            switch (rng() % 3) {
            case 0: m[at] = char(rng()); break;
            case 1: m.erase(at, 1 + rng() % 40); break;
            default: m.insert(at, 1, "\"<>=/ "[rng() % 6]); break;
            }
            // clang-format on
        }
        if (m.size() > 2000) m.resize(2000);
        auto p = agileHeader(e, m);
        if (rng() % 5 == 0) {  // also lie about the length
            p[0x299] = uint8_t(rng());
            p[0x29A] = uint8_t(rng() % 16);
        }
        try {
            PageCipher::fromHeader(p, "pw", "fuzz.accdb");
        } catch (const Error&) {
            ++refused;
        }
    }
    EXPECT_EQ(refused, 300);
}

}  // namespace
}  // namespace tp::db::jet
