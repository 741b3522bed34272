// libFuzzer target for page encryption: the first 4096 bytes of the input are
// page 0 as stored (header mask applied), the rest are the following pages.
// The cipher is built with a fixed password; every further page is decrypted.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "db/error.h"
#include "db/jet/storage/crypto.h"

using namespace tp::db;
using namespace tp::db::jet;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t kPage = 4096;
    const size_t head = size < kPage ? size : kPage;
    std::vector<uint8_t> page0(data, data + head);
    try {
        (void)detectEncryption(page0, "fuzz.accdb");
    } catch (const Error&) {}
    try {
        if (page0.size() >= 0x98) {
            std::vector<uint8_t> plain = page0;
            applyHeaderMask(plain);
            (void)headerEncodingKey(plain);
        }
    } catch (const Error&) {}
    try {
        auto cipher = PageCipher::fromStoredHeader(page0, "password", "fuzz.accdb");
        if (!cipher) return 0;
        (void)cipher->scheme();
        std::vector<uint8_t> page(kPage);
        uint32_t n = 1;
        for (size_t off = kPage; off < size; off += kPage, ++n) {
            const size_t len = size - off < kPage ? size - off : kPage;
            std::memset(page.data(), 0, kPage);
            std::memcpy(page.data(), data + off, len);
            cipher->decryptPage(n, page.data(), kPage);
            cipher->encryptPage(n, page.data(), kPage);
            if (std::memcmp(page.data(), data + off, len) != 0) __builtin_trap();
        }
        // A page size that is not a multiple of the block size is refused, not overrun.
        try {
            cipher->decryptPage(1, page.data(), 100);
        } catch (const Error&) {}
    } catch (const Error&) {}
    return 0;
}
