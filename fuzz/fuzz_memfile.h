// An anonymous in-memory file with a path, so that the fuzzers hand CWave a
// real file name without touching the disk on every input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

class MemFile {
  public:
    explicit MemFile(const char* name) : fd_(memfd_create(name, 0)) {
        if (fd_ < 0)
            std::abort();
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~MemFile() { close(fd_); }
    MemFile(const MemFile&) = delete;
    MemFile& operator=(const MemFile&) = delete;

    const char* Path() const { return path_.c_str(); }

    void Set(const uint8_t* data, size_t size) {
        if (ftruncate(fd_, 0) != 0 || pwrite(fd_, data, size, 0) != ssize_t(size))
            std::abort();
    }

    std::string Bytes() const {
        std::string s(size_t(lseek(fd_, 0, SEEK_END)), '\0');
        if (pread(fd_, s.data(), s.size(), 0) != ssize_t(s.size()))
            std::abort();
        return s;
    }

  private:
    int fd_;
    std::string path_;
};
