// Page encryption of Access databases, and the page-0 fields that describe it.
//
// Page 0 (the database header) is never page-encrypted. Its bytes 0x18..0x97
// are XORed with a fixed RC4 keystream on disk (the "header mask", 126 bytes
// in Jet 3 files); everything here that reads or writes header fields expects
// page 0 with that mask removed (see applyHeaderMask).
//
// Schemes, chosen by the 4-byte "encoding key" at 0x3E of page 0:
//   - key all zero: pages are stored in the clear;
//   - Jet 3/4 (.mdb, version byte 0x14 < 2): every page n > 0 is RC4-coded
//     with the key (key XOR n); no password is involved;
//   - ACE (.accdb, version byte >= 2): the encryption-provider blob at 0x29B
//     (length at 0x299) says which Office scheme protects the pages:
//     "RC4 CryptoAPI" (Access 2007, blob version x.2) or "Agile" (Access 2010
//     and later, blob version 4.4, AES-CBC with a spun SHA-512 password key).
//     The password unlocks the page key; a wrong one is refused.
//
// A Jet 4 database password is not encryption: it only sits, masked, in the
// header, and opening a database checks it. Its check is separate from
// PageCipher.
//
// Ciphers and hashes come from OpenSSL. RC4 lives in OpenSSL's "legacy"
// provider, which is loaded into a private library context (so the process'
// own provider set stays untouched); when that provider is missing a built-in
// RC4 is used instead (Rc4::openSslAvailable tells which).
//
// Not thread-safe: one PageCipher per open file, used by one thread at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "db/jet/format/format.h"

namespace tp::db::jet {

// Page 0's fields are named in format.h (namespace header); its mask is the
// coding toolkit's (db/coding/header_mask.h).

// XORs the header mask over page 0 in place; masking and unmasking are the
// same operation. Needs at least header::kMinSize bytes (throws db::Error
// otherwise).
void applyHeaderMask(std::span<uint8_t> page0);

// The encoding key at header::kEncodingKey as stored (4 bytes).
std::array<uint8_t, 4> headerEncodingKey(std::span<const uint8_t> page0);

enum class EncryptionScheme {
    None,                // pages in the clear
    JetRc4,              // Jet 3/4 "encoded" database
    OfficeRc4CryptoApi,  // .accdb, Access 2007
    OfficeAgile,         // .accdb, Access 2010 and later
};

// Which scheme the (unmasked) header declares. Throws db::Error naming the
// file for a damaged header or a scheme no reader supports (Office Standard
// AES, Extensible, binary RC4).
EncryptionScheme detectEncryption(std::span<const uint8_t> page0, const std::string& fileName);

struct NewEncryption;

// Encrypts and decrypts whole pages of one database.
class PageCipher {
public:
    virtual ~PageCipher() = default;

    // The cipher for a database whose unmasked page 0 is `page0` (the whole
    // page), or nullptr when its pages are not encrypted. For the Office
    // schemes the password is checked here: a wrong one throws
    // jeterr::notValidPassword() (3031). Damaged or unsupported
    // encryption headers throw a db::Error naming `fileName`.
    static std::unique_ptr<PageCipher> fromHeader(std::span<const uint8_t> page0, const std::string& password,
                                                  const std::string& fileName);
    // The same for page 0 as stored in the file (header mask still applied).
    static std::unique_ptr<PageCipher> fromStoredHeader(std::span<const uint8_t> storedPage0,
                                                        const std::string& password, const std::string& fileName);

    // Encryption for a new .accdb as Access 2010 and later write it: Agile,
    // AES-256-CBC, SHA-512, spin count 100000, random salts, secret key and
    // encoding key.
    static NewEncryption createAgile(const std::string& password);
    // Access 2007's scheme: RC4 CryptoAPI, 128-bit key, SHA-1.
    static NewEncryption createRc4CryptoApi(const std::string& password);
    // A Jet 4 "encoded" .mdb (random encoding key, no password involved).
    static NewEncryption createJetRc4();

    virtual EncryptionScheme scheme() const = 0;

    // In place, for page `pageNumber` of `pageSize` bytes. Page 0 is left as
    // it is (it is never page-encrypted). Agile needs a multiple of 16 bytes
    // (throws db::Error otherwise).
    virtual void decryptPage(uint32_t pageNumber, uint8_t* page, size_t pageSize) = 0;
    virtual void encryptPage(uint32_t pageNumber, uint8_t* page, size_t pageSize) = 0;

protected:
    PageCipher() = default;
    PageCipher(const PageCipher&) = delete;
    PageCipher& operator=(const PageCipher&) = delete;
};

// What a new encrypted database needs: the header fields and the cipher.
struct NewEncryption {
    std::array<uint8_t, 4> encodingKey{};
    std::vector<uint8_t> provider;  // blob for 0x29B (ACE only; empty for Jet)
    std::unique_ptr<PageCipher> cipher;

    // Writes the fields into an unmasked page 0: the encoding key at 0x3E and,
    // for the Office schemes, the blob length and blob at 0x299/0x29B (the
    // rest of that area zeroed) and the 0x42 field as Access fills it in an
    // encrypted .accdb (the first key byte, masked by the creation date,
    // which must therefore already be at 0x72). Throws db::Error when the
    // page is too small.
    void writeHeader(std::span<uint8_t> page0) const;
};

// RC4 keystream: OpenSSL's legacy provider when it loads, else built in.
class Rc4 {
public:
    enum class Backend { Auto, BuiltIn };
    explicit Rc4(Backend backend = Backend::Auto);
    ~Rc4();
    Rc4(const Rc4&) = delete;
    Rc4& operator=(const Rc4&) = delete;

    // Starts a new stream with the key (1..256 bytes).
    void setKey(const uint8_t* key, size_t keyLength);
    // XORs the next keystream bytes over data (continues the stream).
    void apply(uint8_t* data, size_t length);

    bool usesOpenSsl() const;
    // Whether OpenSSL's RC4 could be loaded in this process.
    static bool openSslAvailable();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tp::db::jet
