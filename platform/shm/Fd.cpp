#include "Fd.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace Shm {

void throwSystemError(const char* kind, const std::string& name, const char* what, int error) {
    throw Error(std::string(kind) + " " + name + ": " + what + ": " + std::strerror(error));
}

void throwRefused(const char* kind, const std::string& name, const std::string& why) {
    throw Error(std::string(kind) + " " + name + " refused: " + why);
}

void Fd::reset() noexcept {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

Fd openChecked(const char* kind, const std::string& name, int flags) {
    Fd fd(::shm_open(name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid()) {
        if (errno == ENOENT && !(flags & O_CREAT))
            return fd;
        if (errno == ELOOP)
            throwRefused(kind, name, "it is a symbolic link");
        if (errno == EEXIST)
            return fd;
        throwSystemError(kind, name, "open", errno);
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        throwSystemError(kind, name, "fstat", errno);
    if (!S_ISREG(st.st_mode))
        throwRefused(kind, name, "it is not a regular file");
    if (st.st_uid != ::geteuid()) {
        throwRefused(kind, name,
                     "it belongs to uid " + std::to_string(st.st_uid) + ", not to this uid " +
                         std::to_string(::geteuid()));
    }
    if (st.st_mode & (S_IWGRP | S_IWOTH)) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        throwRefused(kind, name, std::string("mode ") + mode + " lets group or others write it");
    }
    return fd;
}

bool tryLockExclusive(const char* kind, const std::string& name, int fd) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &lock) == 0)
        return true;
    if (errno == EAGAIN || errno == EACCES)
        return false;
    throwSystemError(kind, name, "lock", errno);
}

void unlock(int fd) noexcept {
    struct flock lock {};
    lock.l_type = F_UNLCK;
    lock.l_whence = SEEK_SET;
    ::fcntl(fd, F_OFD_SETLK, &lock);
}

}  // namespace Shm
