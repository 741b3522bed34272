// Encrypted files checked by an independent reader (mdb-reader): copies of
// plain corpus databases encrypted with our ciphers must read exactly like the
// originals with the password and be refused with a wrong one; the encrypted
// file made by Access, decrypted by us, must read like it reads encrypted.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/error.h"
#include "db/jet/storage/crypto.h"
#include "tests/support/support.h"

namespace tp::db::jet {
namespace {

constexpr size_t kPage = 4096;

// The file with `e` written into its header and every page > 0 encrypted.
std::string encryptedCopy(const std::string& plain, const NewEncryption& e, size_t pageSize) {
    std::string out = plain;
    auto* bytes = reinterpret_cast<uint8_t*>(out.data());
    std::span<uint8_t> page0(bytes, pageSize);
    applyHeaderMask(page0);
    e.writeHeader(page0);
    applyHeaderMask(page0);
    for (size_t n = 1; n < out.size() / pageSize; ++n)
        e.cipher->encryptPage(uint32_t(n), bytes + n * pageSize, pageSize);
    return out;
}

class CryptoOracle : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::mdbReaderAvailable()) GTEST_SKIP() << "mdb-reader oracle not available";
    }

    // Encrypts a copy of a corpus file and compares mdb-reader's dumps.
    void check(const std::string& corpusFile, const NewEncryption& e, const std::string& password, bool passwordChecked,
               size_t pageSize = kPage) {
        const std::string original = test::corpusPath(corpusFile).string();
        const std::string plain = test::readFile(original);
        ASSERT_EQ(plain.size() % pageSize, 0u);
        const auto expected = test::mdbReaderDump(original);
        ASSERT_EQ(expected.exitCode, 0) << expected.err;

        const std::string copy = dir.file("encrypted-" + std::to_string(++count));
        test::writeFile(copy, encryptedCopy(plain, e, pageSize));
        EXPECT_NE(test::readFile(copy).substr(pageSize, 2 * pageSize), plain.substr(pageSize, 2 * pageSize));
        const auto got = test::mdbReaderDump(copy, password);
        ASSERT_EQ(got.exitCode, 0) << got.err;
        EXPECT_EQ(got.out, expected.out);
        if (passwordChecked) {
            const auto wrong = test::mdbReaderDump(copy, password + "!");
            EXPECT_NE(wrong.exitCode, 0);
        }
        // mdbtools decodes Jet-encoded files too (it has no Office decryption).
        if (!passwordChecked && test::mdbtoolsAvailable()) {
            const auto plainDump = test::mdbtoolsDump(original);
            const auto copyDump = test::mdbtoolsDump(copy);
            EXPECT_EQ(copyDump.exitCode, plainDump.exitCode);
            EXPECT_EQ(copyDump.out, plainDump.out);
        }
    }

    test::TempDir dir;
    int count = 0;
};

TEST_F(CryptoOracle, AgileEncryptedAccdbReadsLikeTheOriginal) {
    check("access/jackcess-V2010/testV2010.accdb", PageCipher::createAgile("s3cret pässword"), "s3cret pässword", true);
}

TEST_F(CryptoOracle, AgileEncryptedAccess2016FileReadsLikeTheOriginal) {
    check("access/mdb-reader/data/V2016/currency.accdb", PageCipher::createAgile("password"), "password", true);
}

TEST_F(CryptoOracle, Rc4CryptoApiEncryptedAccdbReadsLikeTheOriginal) {
    check("access/jackcess-V2007/testV2007.accdb", PageCipher::createRc4CryptoApi("pw2007"), "pw2007", true);
}

TEST_F(CryptoOracle, JetEncodedMdbReadsLikeTheOriginal) {
    check("access/jackcess-V2003/testV2003.mdb", PageCipher::createJetRc4(), "", false);
}

TEST_F(CryptoOracle, JetEncodedAccess97FileReadsLikeTheOriginal) {
    check("access/jackcess-V1997/testV1997.mdb", PageCipher::createJetRc4(), "", false, 2048);
}

TEST_F(CryptoOracle, AccessEncryptedFileDecryptedByUsReadsTheSame) {
    const std::string original = test::corpusPath("access/mdb-reader/encryption/data/office-agile-4.2.accdb").string();
    const auto expected = test::mdbReaderDump(original, "password");
    ASSERT_EQ(expected.exitCode, 0) << expected.err;

    std::string data = test::readFile(original);
    auto* bytes = reinterpret_cast<uint8_t*>(data.data());
    std::span<uint8_t> page0(bytes, kPage);
    applyHeaderMask(page0);
    auto cipher = PageCipher::fromHeader(page0, "password", original);
    ASSERT_NE(cipher, nullptr);
    for (size_t n = 1; n < data.size() / kPage; ++n) cipher->decryptPage(uint32_t(n), bytes + n * kPage, kPage);
    // Now a plain file: no key, no provider.
    std::fill(page0.begin() + long(header::kEncodingKey), page0.begin() + long(header::kEncodingKey) + 4, uint8_t(0));
    std::fill(page0.begin() + long(header::kProviderLength), page0.begin() + long(header::kProviderAreaEnd),
              uint8_t(0));
    applyHeaderMask(page0);
    const std::string plain = dir.file("decrypted.accdb");
    test::writeFile(plain, data);
    const auto got = test::mdbReaderDump(plain);
    ASSERT_EQ(got.exitCode, 0) << got.err;
    EXPECT_EQ(got.out, expected.out);
    EXPECT_NE(got.out.find("Table1"), std::string::npos);
}

}  // namespace
}  // namespace tp::db::jet
