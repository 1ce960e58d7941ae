// Both CRC-32C implementations against the published check value and a bitwise
// walk straight from the definition, on every length and start.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "shm/Crc32c.h"

namespace {

// One bit at a time, straight from the definition.
std::uint32_t bitwise(const unsigned char* data, std::size_t size, std::uint32_t crc) {
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0x82F63B78u : crc >> 1;
    }
    return ~crc;
}

TEST(Crc32cTest, BothImplementationsGiveTheKnownValuesAndAgreeOnEveryLengthAndStart) {
    const std::string check = "123456789";
    std::vector<Shm::Crc32cImpl::Function> impls{&Shm::Crc32cImpl::portable};
    if (const auto hardware = Shm::Crc32cImpl::hardware())
        impls.push_back(hardware);
    else
        std::printf("this CPU has no crc32 instruction: the portable walk alone is checked\n");
    for (const auto crc : impls) EXPECT_EQ(crc(check.data(), check.size(), 0), 0xE3069283u);
    EXPECT_EQ(Shm::crc32c(check.data(), check.size()), 0xE3069283u);
    // Every length and misalignment around the 8-byte steps, continuing from a result.
    std::mt19937 random(7);
    std::vector<unsigned char> bytes(80);
    for (auto& b : bytes) b = static_cast<unsigned char>(random());
    for (std::size_t start = 0; start < 8; ++start) {
        for (std::size_t size = 0; start + size <= bytes.size(); ++size) {
            const std::uint32_t expected = bitwise(&bytes[start], size, 5);
            for (const auto crc : impls) ASSERT_EQ(crc(&bytes[start], size, 5), expected) << size;
        }
    }
}

}  // namespace
