// Page cipher speed: pages per second for each scheme (decrypt and encrypt),
// RC4 through OpenSSL against the built-in one, and the cost of opening an
// encrypted header (password key derivation).
#include <chrono>
#include <cstring>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

#include "db/jet/storage/crypto.h"

using namespace tp::db::jet;
using Clock = std::chrono::steady_clock;

namespace {

constexpr size_t kPage = 4096;

double seconds(const std::function<void()>& f) {
    const auto t0 = Clock::now();
    f();
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// A plain ACE-like header page (creation date set) to write encryption into.
std::vector<uint8_t> blankHeader() {
    std::vector<uint8_t> p(kPage, 0);
    p[0x14] = 3;
    const double date = 46000.5;
    std::memcpy(p.data() + 0x72, &date, sizeof date);
    return p;
}

void pages(const char* name, PageCipher& c, uint32_t count) {
    std::vector<uint8_t> page(kPage);
    std::mt19937 rng(1);
    for (auto& b : page) b = uint8_t(rng());
    const double enc = seconds([&] {
        for (uint32_t n = 1; n <= count; ++n) c.encryptPage(n, page.data(), kPage);
    });
    const double dec = seconds([&] {
        for (uint32_t n = 1; n <= count; ++n) c.decryptPage(n, page.data(), kPage);
    });
    std::printf("%-22s encrypt %8.0f pages/s (%6.1f MB/s)   decrypt %8.0f pages/s (%6.1f MB/s)\n", name, count / enc,
                count * kPage / enc / 1e6, count / dec, count * kPage / dec / 1e6);
}

}  // namespace

int main() {
    std::printf("OpenSSL RC4 (legacy provider): %s\n", Rc4::openSslAvailable() ? "yes" : "no");
    constexpr uint32_t kPages = 20000;

    auto jet = PageCipher::createJetRc4();
    pages("Jet RC4", *jet.cipher, kPages);
    auto api = PageCipher::createRc4CryptoApi("password");
    pages("Office RC4 CryptoAPI", *api.cipher, kPages);
    auto agile = PageCipher::createAgile("password");
    pages("Office Agile AES-256", *agile.cipher, kPages);

    for (auto backend : {Rc4::Backend::Auto, Rc4::Backend::BuiltIn}) {
        Rc4 rc4(backend);
        std::vector<uint8_t> page(kPage, 0);
        uint8_t key[4] = {1, 2, 3, 4};
        const double t = seconds([&] {
            for (uint32_t n = 0; n < kPages; ++n) {
                key[0] = uint8_t(n);
                rc4.setKey(key, 4);
                rc4.apply(page.data(), kPage);
            }
        });
        std::printf("RC4 %-18s %8.0f pages/s (key setup + 4096 bytes)\n", rc4.usesOpenSsl() ? "OpenSSL" : "built-in",
                    kPages / t);
    }

    const double create = seconds([] { (void)PageCipher::createAgile("password"); });
    auto header = blankHeader();
    agile.writeHeader(header);
    const double open = seconds([&] { (void)PageCipher::fromHeader(header, "password", "bench"); });
    auto apiHeader = blankHeader();
    api.writeHeader(apiHeader);
    const double openApi = seconds([&] { (void)PageCipher::fromHeader(apiHeader, "password", "bench"); });
    std::printf("Agile create %.0f ms, open (100000 SHA-512 spins) %.0f ms; RC4 CryptoAPI open %.3f ms\n", create * 1e3,
                open * 1e3, openApi * 1e3);
    return 0;
}
