// The Office Agile scheme: AES-CBC pages under a secret key that the
// password unlocks through the XML descriptor in the header's provider area.
#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>

#include "db/jet/storage/cipher_support.h"
#include "db/jet/storage/crypto.h"

namespace tp::db::jet {

using namespace cipher_support;

namespace {

constexpr uint32_t kMaxSpinCount = 10'000'000;  // the largest Office allows

// Office Agile: AES-CBC with the secret key; IV per page from the key salt.
class AgileCipher final : public PageCipher {
public:
    AgileCipher(const std::array<uint8_t, 4>& key, const std::vector<uint8_t>& secret, std::vector<uint8_t> keySalt,
                const char* hashName, size_t blockSize)
        : key_(key), salt_(std::move(keySalt)), hash_(hashName), aes_(secret), blockSize_(blockSize) {}
    EncryptionScheme scheme() const override { return EncryptionScheme::OfficeAgile; }
    void decryptPage(uint32_t n, uint8_t* page, size_t size) override { code(false, n, page, size); }
    void encryptPage(uint32_t n, uint8_t* page, size_t size) override { code(true, n, page, size); }

private:
    void code(bool encrypt, uint32_t n, uint8_t* page, size_t size) {
        if (n == 0) return;
        if (size % blockSize_ != 0)
            throw Error("Encryption failed: page size is not a multiple of the AES block size.");
        uint8_t digest[EVP_MAX_MD_SIZE];
        const auto block = blockKey(key_, n);
        hash_.hash({salt_, block}, digest);
        uint8_t iv[16];
        for (size_t k = 0; k < 16; ++k) iv[k] = k < hash_.size() ? digest[k] : 0x36;
        aes_.run(encrypt, iv, page, size);
    }
    std::array<uint8_t, 4> key_;
    std::vector<uint8_t> salt_;
    Hasher hash_;
    AesCbc aes_;
    size_t blockSize_;
};

// ---- Agile provider ----------------------------------------------------------

const uint8_t kBlockVerifierInput[8] = {0xFE, 0xA7, 0xD2, 0x76, 0x3B, 0x4B, 0x9E, 0x79};
const uint8_t kBlockVerifierHash[8] = {0xD7, 0xAA, 0x0F, 0x6D, 0x30, 0x61, 0x34, 0x4E};
const uint8_t kBlockKeyValue[8] = {0x14, 0x6E, 0x0B, 0xE7, 0xAB, 0xAC, 0xD0, 0xD6};

struct XmlElement {
    std::vector<std::pair<std::string, std::string>> attributes;
    const std::string* find(std::string_view name) const {
        for (const auto& [n, v] : attributes)
            if (n == name) return &v;
        return nullptr;
    }
};

std::string xmlUnescape(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '&') {
            out += s[i];
            continue;
        }
        static const std::pair<std::string_view, char> entities[] = {
            {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
        bool done = false;
        for (const auto& [e, c] : entities) {
            if (s.substr(i, e.size()) == e) {
                out += c;
                i += e.size() - 1;
                done = true;
                break;
            }
        }
        if (!done) out += '&';
    }
    return out;
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The local name of the element whose tag starts at pos (after its '<');
// pos moved past the name.
std::string_view tagName(std::string_view xml, size_t& pos) {
    size_t end = pos;
    while (end < xml.size() && !isSpace(xml[end]) && xml[end] != '>' && xml[end] != '/') ++end;
    std::string_view name = xml.substr(pos, end - pos);
    if (auto colon = name.find(':'); colon != std::string_view::npos) name = name.substr(colon + 1);
    pos = end;
    return name;
}

size_t skipSpace(std::string_view xml, size_t pos) {
    while (pos < xml.size() && isSpace(xml[pos])) ++pos;
    return pos;
}

// One attribute name="value" at pos (after spaces); false at the tag's end or
// at anything that is not an attribute.
bool readAttribute(std::string_view xml, size_t& pos, XmlElement& element) {
    pos = skipSpace(xml, pos);
    if (pos >= xml.size() || xml[pos] == '>' || xml[pos] == '/') return false;
    size_t eq = pos;
    while (eq < xml.size() && xml[eq] != '=' && !isSpace(xml[eq]) && xml[eq] != '>') ++eq;
    const std::string attr(xml.substr(pos, eq - pos));
    size_t q = skipSpace(xml, eq);
    if (q >= xml.size() || xml[q] != '=') return false;
    q = skipSpace(xml, q + 1);
    if (q >= xml.size() || (xml[q] != '"' && xml[q] != '\'')) return false;
    const size_t close = xml.find(xml[q], q + 1);
    if (close == std::string_view::npos) return false;
    element.attributes.emplace_back(attr, xmlUnescape(xml.substr(q + 1, close - q - 1)));
    pos = close + 1;
    return true;
}

// Attributes of the elements whose local name is `localName` (document order).
std::vector<XmlElement> xmlElements(std::string_view xml, std::string_view localName) {
    std::vector<XmlElement> found;
    size_t pos = 0;
    while ((pos = xml.find('<', pos)) != std::string_view::npos) {
        ++pos;
        if (pos >= xml.size()) break;
        if (xml[pos] == '/' || xml[pos] == '?' || xml[pos] == '!') continue;
        if (tagName(xml, pos) != localName) continue;
        XmlElement element;
        while (pos < xml.size() && readAttribute(xml, pos, element)) {}
        found.push_back(std::move(element));
    }
    return found;
}

// One set of Agile parameters (keyData or the password key encryptor).
struct AgileParams {
    size_t saltSize = 0, blockSize = 0, keyBits = 0, hashSize = 0;
    const char* hashName = nullptr;
    std::vector<uint8_t> salt;
};

struct AgileDescriptor {
    AgileParams keyData;
    AgileParams password;
    uint32_t spinCount = 0;
    std::vector<uint8_t> verifierInput, verifierHash, keyValue;
};

// Reads the attributes of the Agile descriptor; anything amiss is a damaged
// or unsupported header of `file`.
struct AgileAttributes {
    const std::string& file;

    const std::string& attr(const XmlElement& e, const char* name) const {
        const std::string* v = e.find(name);
        if (!v) damaged(file, std::string("Agile descriptor lacks ") + name);
        return *v;
    }
    uint32_t number(const XmlElement& e, const char* name, uint32_t maximum) const {
        const std::string& v = attr(e, name);
        if (v.empty() || v.size() > 10) damaged(file, std::string("bad ") + name);
        uint64_t n = 0;
        for (char c : v) {
            if (c < '0' || c > '9') damaged(file, std::string("bad ") + name);
            n = n * 10 + uint64_t(c - '0');
        }
        if (n > maximum) damaged(file, std::string(name) + " out of range");
        return uint32_t(n);
    }
    std::vector<uint8_t> binary(const XmlElement& e, const char* name) const {
        auto v = base64Decode(attr(e, name));
        if (!v) damaged(file, std::string("bad base64 in ") + name);
        return std::move(*v);
    }
    // The hash's name for OpenSSL and its digest size.
    void hash(const XmlElement& e, AgileParams& p, size_t& digest) const {
        const std::string& hash = attr(e, "hashAlgorithm");
        if (hash == "SHA1" || hash == "SHA-1") p.hashName = "SHA1", digest = 20;
        else if (hash == "SHA256") p.hashName = "SHA256", digest = 32;
        else if (hash == "SHA384") p.hashName = "SHA384", digest = 48;
        else if (hash == "SHA512") p.hashName = "SHA512", digest = 64;
        else unsupported(file, "Agile encryption with the hash " + hash);
    }
    AgileParams params(const XmlElement& e) const {
        AgileParams p;
        if (attr(e, "cipherAlgorithm") != "AES")
            unsupported(file, "Agile encryption with the cipher " + attr(e, "cipherAlgorithm"));
        if (attr(e, "cipherChaining") != "ChainingModeCBC")
            unsupported(file, "Agile encryption with chaining " + attr(e, "cipherChaining"));
        size_t digest = 0;
        hash(e, p, digest);
        p.saltSize = number(e, "saltSize", 65536);
        p.blockSize = number(e, "blockSize", 65536);
        p.keyBits = number(e, "keyBits", 65536);
        p.hashSize = number(e, "hashSize", 65536);
        p.salt = binary(e, "saltValue");
        if (p.blockSize != 16) damaged(file, "AES block size is not 16");
        if (p.keyBits != 128 && p.keyBits != 192 && p.keyBits != 256)
            damaged(file, "bad AES key size " + std::to_string(p.keyBits));
        if (p.hashSize != digest) damaged(file, "hash size does not match " + attr(e, "hashAlgorithm"));
        if (p.saltSize == 0 || p.salt.size() != p.saltSize) damaged(file, "bad salt");
        return p;
    }
};

AgileDescriptor parseAgile(std::span<const uint8_t> blob, const std::string& file) {
    if (decodeLE32(blob.data() + 4) != 0x40) damaged(file, "unexpected Agile reserved value");
    const std::string_view xml(reinterpret_cast<const char*>(blob.data() + 8), blob.size() - 8);
    const AgileAttributes in{file};
    auto number = [&](const XmlElement& e, const char* name, uint32_t maximum) { return in.number(e, name, maximum); };
    auto binary = [&](const XmlElement& e, const char* name) { return in.binary(e, name); };
    auto params = [&](const XmlElement& e) { return in.params(e); };

    const auto keyData = xmlElements(xml, "keyData");
    if (keyData.size() != 1) damaged(file, "Agile descriptor needs one keyData element");
    // The password key encryptor (certificate ones have no spin count).
    const auto encryptedKeys = xmlElements(xml, "encryptedKey");
    const XmlElement* passwordKey = nullptr;
    for (const auto& e : encryptedKeys)
        if (e.find("spinCount")) {
            passwordKey = &e;
            break;
        }
    if (!passwordKey) damaged(file, "Agile descriptor has no password key");

    AgileDescriptor d;
    d.keyData = params(keyData.front());
    d.password = params(*passwordKey);
    d.spinCount = number(*passwordKey, "spinCount", kMaxSpinCount);
    d.verifierInput = binary(*passwordKey, "encryptedVerifierHashInput");
    d.verifierHash = binary(*passwordKey, "encryptedVerifierHashValue");
    d.keyValue = binary(*passwordKey, "encryptedKeyValue");
    const size_t bs = d.password.blockSize;
    auto blocks = [&](const std::vector<uint8_t>& v, size_t atLeast, const char* what) {
        if (v.empty() || v.size() % bs != 0 || v.size() < atLeast) damaged(file, std::string("bad length of ") + what);
    };
    blocks(d.verifierInput, d.password.saltSize, "encryptedVerifierHashInput");
    blocks(d.verifierHash, d.password.hashSize, "encryptedVerifierHashValue");
    blocks(d.keyValue, d.keyData.keyBits / 8, "encryptedKeyValue");
    return d;
}

// The spun password hash H(n) of the Agile key derivation.
std::vector<uint8_t> spunHash(Hasher& h, const std::vector<uint8_t>& salt, const std::vector<uint8_t>& password,
                              uint32_t spinCount) {
    std::vector<uint8_t> cur = h.hash({salt, password});
    uint8_t iter[4];
    for (uint32_t i = 0; i < spinCount; ++i) {
        encodeLE32(iter, i);
        h.hash({iter, cur}, cur.data());
    }
    return cur;
}

// A key for one block constant: Hash(H(n) || block) fitted to keyBits/8 (0x36 fill).
std::vector<uint8_t> derivedKey(Hasher& h, const std::vector<uint8_t>& spun, const uint8_t (&block)[8],
                                size_t keyBits) {
    return fitted(h.hash({spun, block}), keyBits / 8, 0x36);
}

std::vector<uint8_t> cbc(bool encrypt, const std::vector<uint8_t>& key, const std::vector<uint8_t>& iv,
                         std::vector<uint8_t> data) {
    AesCbc aes(key);
    const auto fittedIv = fitted(iv, 16, 0x36);
    aes.run(encrypt, fittedIv.data(), data.data(), data.size());
    return data;
}

}  // namespace

std::unique_ptr<PageCipher> cipher_support::openAgile(const std::array<uint8_t, 4>& key, std::span<const uint8_t> blob,
                                                      const std::string& password, const std::string& file) {
    const AgileDescriptor d = parseAgile(blob, file);
    const AgileParams& p = d.password;
    Hasher h(p.hashName);
    const auto spun = spunHash(h, p.salt, officePassword(password), d.spinCount);

    const auto input = cbc(false, derivedKey(h, spun, kBlockVerifierInput, p.keyBits), p.salt, d.verifierInput);
    const auto expected = cbc(false, derivedKey(h, spun, kBlockVerifierHash, p.keyBits), p.salt, d.verifierHash);
    const auto actual = h.hash({std::span<const uint8_t>(input.data(), p.saltSize)});
    if (!std::equal(actual.begin(), actual.end(), expected.begin())) badPassword();

    auto secret = cbc(false, derivedKey(h, spun, kBlockKeyValue, p.keyBits), p.salt, d.keyValue);
    secret.resize(d.keyData.keyBits / 8);
    return std::make_unique<AgileCipher>(key, secret, d.keyData.salt, d.keyData.hashName, d.keyData.blockSize);
}

NewEncryption PageCipher::createAgile(const std::string& password) {
    constexpr size_t kKeyBits = 256, kSaltSize = 16, kBlockSize = 16;
    constexpr uint32_t kSpinCount = 100000;
    NewEncryption e;
    e.encodingKey = newEncodingKey();

    const auto keySalt = randomVector(kSaltSize);
    const auto passwordSalt = randomVector(kSaltSize);
    const auto secret = randomVector(kKeyBits / 8);
    const auto verifierInput = randomVector(kSaltSize);

    Hasher h("SHA512");
    const auto spun = spunHash(h, passwordSalt, officePassword(password), kSpinCount);
    auto verifierHash = h.hash({verifierInput});  // 64 bytes: already whole AES blocks
    const auto encInput = cbc(true, derivedKey(h, spun, kBlockVerifierInput, kKeyBits), passwordSalt, verifierInput);
    const auto encHash = cbc(true, derivedKey(h, spun, kBlockVerifierHash, kKeyBits), passwordSalt, verifierHash);
    const auto encKey = cbc(true, derivedKey(h, spun, kBlockKeyValue, kKeyBits), passwordSalt, secret);

    const std::string common =
        "saltSize=\"16\" blockSize=\"16\" keyBits=\"256\" hashSize=\"64\" "
        "cipherAlgorithm=\"AES\" cipherChaining=\"ChainingModeCBC\" "
        "hashAlgorithm=\"SHA512\" ";
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
        "<encryption xmlns=\"http://schemas.microsoft.com/office/2006/encryption\" "
        "xmlns:p=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password\" "
        "xmlns:c=\"http://schemas.microsoft.com/office/2006/keyEncryptor/certificate\">"
        "<keyData " +
        common + "saltValue=\"" + base64Encode(keySalt) +
        "\"/>"
        "<keyEncryptors><keyEncryptor "
        "uri=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password\">"
        "<p:encryptedKey spinCount=\"" +
        std::to_string(kSpinCount) + "\" " + common + "saltValue=\"" + base64Encode(passwordSalt) +
        "\" encryptedVerifierHashInput=\"" + base64Encode(encInput) + "\" encryptedVerifierHashValue=\"" +
        base64Encode(encHash) + "\" encryptedKeyValue=\"" + base64Encode(encKey) +
        "\"/></keyEncryptor></keyEncryptors></encryption>";

    auto& b = e.provider;
    putLE32(b, 0x00040004);  // version 4.4
    putLE32(b, 0x40);        // reserved
    b.insert(b.end(), xml.begin(), xml.end());
    e.cipher = std::make_unique<AgileCipher>(e.encodingKey, secret, keySalt, "SHA512", kBlockSize);
    return e;
}

}  // namespace tp::db::jet
