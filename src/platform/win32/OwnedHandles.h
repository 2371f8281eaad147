// Owners for what Windows hands out to be given back: a kernel handle (closed) and a mapped
// view (unmapped), each given back once, when its owner goes, on every path out. Header-only,
// so vxtrace shares it without linking the library.
#pragma once

#include <windows.h>

#include <utility>

namespace vx380::win32 {

// Giver::Give(value) gives a value back.
template <class T, class Giver>
class Owned {
 public:
  Owned() = default;
  explicit Owned(T value) : value_(value) {}
  Owned(Owned&& other) noexcept : value_(other.release()) {}
  Owned& operator=(Owned&& other) noexcept {
    reset(other.release());
    return *this;
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  ~Owned() { reset(); }

  T get() const { return value_; }
  explicit operator bool() const { return value_ != nullptr; }
  // Gives up ownership: the caller gives the value back, or keeps it for the process's life.
  T release() { return std::exchange(value_, nullptr); }
  void reset(T value = nullptr) {
    if (T old = std::exchange(value_, value)) Giver::Give(old);
  }

 private:
  T value_ = nullptr;
};

struct HandleCloser {
  static void Give(HANDLE handle) { ::CloseHandle(handle); }
};
struct ViewUnmapper {
  static void Give(void* view) { ::UnmapViewOfFile(view); }
};

// Null means no handle. INVALID_HANDLE_VALUE is no handle either: what returns it (CreateFile)
// is checked before its result is owned.
using UniqueHandle = Owned<HANDLE, HandleCloser>;
using MappedView = Owned<void*, ViewUnmapper>;

}  // namespace vx380::win32
