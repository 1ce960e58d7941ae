#include "ZabroTestSupport.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace ZabroTest {

RawSegment::RawSegment(const std::string& name) : name_(name) {
    const int fd = ::shm_open(name.c_str(), O_RDWR, 0600);
    if (fd < 0)
        throw std::runtime_error("cannot open " + name);
    struct stat st {};
    ::fstat(fd, &st);
    size_ = static_cast<std::size_t>(st.st_size);
    void* base =
        size_ ? ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0) : nullptr;
    ::close(fd);
    if (base == MAP_FAILED)
        throw std::runtime_error("cannot map " + name);
    base_ = static_cast<std::byte*>(base);
}

RawSegment::~RawSegment() {
    if (base_)
        ::munmap(base_, size_);
}

void RawSegment::truncate(std::size_t size) const {
    const int fd = ::shm_open(name_.c_str(), O_RDWR, 0600);
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(size)) != 0) {
        throw std::runtime_error("cannot resize " + name_);
    }
    ::close(fd);
}

bool segmentExists(const std::string& name) {
    const int fd = ::shm_open(name.c_str(), O_RDONLY, 0600);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

std::vector<Kiv::U64> KeySegmentTest::walkKeys(const Zabro::MbbZabroTableConfig& config) {
    std::vector<Kiv::U64> keys;
    Zabro::MbbPostcodef::EntryConfig cursor(0, 0, 0, 0, 0);
    Zabro::IterHint hint;
    for (bool found = config.first(cursor, hint); found;
         found = config.next(cursor.key(), cursor, hint)) {
        keys.push_back(cursor.key());
    }
    return keys;
}

void privateSegmentPrefixIs(const char* suite) {
    if (std::getenv("OLVANE_SHM_PREFIX"))
        return;
    const std::string prefix = suite + std::to_string(::getpid());
    ::setenv("OLVANE_SHM_PREFIX", prefix.c_str(), 1);
}

}  // namespace ZabroTest
