// Owners of what the POSIX services get from the kernel: a descriptor and a mapping, each
// given back once, by whoever holds it last, on every path.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <utility>

namespace vx380::posix {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

class MappedView {
 public:
  static constexpr std::size_t kPopulateBytes = std::size_t{64} << 20;
#ifdef MADV_POPULATE_WRITE
  static constexpr int kPopulateWrite = MADV_POPULATE_WRITE;
#else
  static constexpr int kPopulateWrite = 23;  // Linux 5.14; older kernels refuse it, harmlessly
#endif

  MappedView() = default;
  // Maps `bytes` of `fd` shared, for reading and writing; empty when the kernel refuses.
  MappedView(int fd, std::size_t bytes) {
    void* base = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (base == MAP_FAILED) return;
    base_ = base, bytes_ = bytes;
    // Mapped in now rather than a page at a time as it is first written: a ring's first lap
    // would fault every few dozen lines. Up to a bound, so a huge mapping costs no long stall.
    ::madvise(base, std::min(bytes, kPopulateBytes), kPopulateWrite);  // where the kernel can
  }
  MappedView(MappedView&& other) noexcept
      : base_(std::exchange(other.base_, nullptr)), bytes_(std::exchange(other.bytes_, 0)) {}
  MappedView& operator=(MappedView&& other) noexcept {
    if (this != &other) {
      reset();
      base_ = std::exchange(other.base_, nullptr);
      bytes_ = std::exchange(other.bytes_, 0);
    }
    return *this;
  }
  MappedView(const MappedView&) = delete;
  MappedView& operator=(const MappedView&) = delete;
  ~MappedView() { reset(); }

  void* get() const { return base_; }
  std::size_t size() const { return bytes_; }
  explicit operator bool() const { return base_ != nullptr; }
  void reset() {
    if (base_) ::munmap(base_, bytes_);
    base_ = nullptr;
    bytes_ = 0;
  }

 private:
  void* base_ = nullptr;
  std::size_t bytes_ = 0;
};

}  // namespace vx380::posix
