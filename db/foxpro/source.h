// Random-access byte sources for the table reader: a file read with pread,
// or bytes held in memory (the fuzzer and the tests).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tp::db::foxpro {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t size() const = 0;
    // Reads up to n bytes at off; returns how many were read (fewer only at
    // the end of the source). Throws Error on an I/O failure.
    virtual size_t readAt(uint64_t off, void* buf, size_t n) const = 0;
    // The name used in error messages.
    virtual const std::string& name() const = 0;
};

// Opens a file for reading; throws Error naming it when it cannot.
std::unique_ptr<ByteSource> openFileSource(const std::string& path);
std::unique_ptr<ByteSource> memorySource(std::string name, std::vector<uint8_t> bytes);

}  // namespace tp::db::foxpro
