#pragma once
// Segment readers are fuzzed with edits to a pristine image the target made
// once, so every run starts nearly right and the readers' checks get exercised.

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// A target's own oracle: a false condition is a finding, reported with its text.
#define FUZZ_CHECK(condition)                                                                  \
    ((condition)                                                                               \
         ? void()                                                                              \
         : (std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition), \
            std::abort()))

namespace FuzzSupport {

inline std::vector<std::uint8_t> segmentBytes(const std::string& name) {
    std::vector<std::uint8_t> bytes;
    const int fd = ::shm_open(name.c_str(), O_RDONLY, 0);
    if (fd < 0)
        return bytes;
    const off_t size = ::lseek(fd, 0, SEEK_END);
    bytes.resize(static_cast<std::size_t>(size > 0 ? size : 0));
    if (::pread(fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
        bytes.clear();
    ::close(fd);
    return bytes;
}

// Writes `image` edited as the segment `name` and hands back what it wrote: an odd
// first byte cuts it to a fraction of its size; then each 3 bytes are a 16-bit
// offset and a byte to store.
inline std::vector<std::uint8_t> writeEdited(const std::string& name,
                                             std::vector<std::uint8_t> image,
                                             const std::uint8_t* data, std::size_t size) {
    for (std::size_t i = 1; i + 2 < size && !image.empty(); i += 3) {
        const std::size_t offset = (std::size_t{data[i]} << 8 | data[i + 1]) % image.size();
        image[offset] = data[i + 2];
    }
    if (size > 0 && (data[0] & 1))
        image.resize(image.size() * (data[0] >> 1) / 128);
    ::shm_unlink(name.c_str());
    const int fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    if (fd < 0 || ::write(fd, image.data(), image.size()) != static_cast<ssize_t>(image.size()))
        __builtin_trap();
    ::close(fd);
    return image;
}

}  // namespace FuzzSupport
