// Writes seeds the shared corpus lacks: headers of databases encrypted with
// each scheme this program writes (Agile, RC4 CryptoAPI, Jet RC4), each with
// the password "password" and three encrypted pages after page 0.
//   fuzz_make_seeds <out-dir>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "db/jet/storage/crypto.h"

using namespace tp::db::jet;

namespace {

void write(const std::string& path, NewEncryption e, bool ace) {
    constexpr size_t kPage = 4096;
    std::vector<uint8_t> file(4 * kPage, 0);
    std::span<uint8_t> page0(file.data(), kPage);
    std::memcpy(page0.data() + 4, ace ? "Standard ACE DB" : "Standard Jet DB", 15);
    page0[header::kVersion] = ace ? 3 : 1;
    const double created = 46000.5;
    std::memcpy(page0.data() + header::kCreated, &created, 8);
    e.writeHeader(page0);
    applyHeaderMask(page0);
    for (uint32_t n = 1; n < 4; ++n) {
        uint8_t* p = file.data() + n * kPage;
        p[0] = n == 2 ? 0x02 : 0x01;
        p[1] = 0x01;
        e.cipher->encryptPage(n, p, kPage);
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(file.data(), 1, file.size(), f) != file.size()) std::perror(path.c_str());
    if (f) std::fclose(f);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_make_seeds <out-dir>\n");
        return 2;
    }
    const std::string dir = argv[1];
    write(dir + "/made-agile.accdb", PageCipher::createAgile("password"), true);
    write(dir + "/made-rc4-cryptoapi.accdb", PageCipher::createRc4CryptoApi("password"), true);
    write(dir + "/made-jet-rc4.mdb", PageCipher::createJetRc4(), false);
    return 0;
}
