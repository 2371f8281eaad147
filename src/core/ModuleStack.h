// The module stack of a thread: the routines entered and not yet left, oldest first, and per
// level its line counter, suppress flag and entry time.
//
// Traced programs rely on how it has always behaved, quirks included:
// - an entry appends a name and adds a level, an exit removes the last name and a level, but
//   Main resets only the depth: names still on the stack then stay below later entries, and an
//   exit that finds names while the depth is 0 fails;
// - an entry sizes the per-level values to exactly levels 0 to its new depth, keeping what they
//   hold; an exit never shrinks them, so a level above the depth keeps stale values until an
//   entry at that depth overwrites them; entry and exit never write level 0;
// - a level outside the values held is runtime error 9, so is any level before the first entry.
#pragma once

#include <cstdint>
#include <vector>

#include "vx380/Automation.h"
#include "core/KeptExports.h"

namespace vx380::core {

// Element `index` of a per-level array; an index outside it is runtime error 9.
template <typename T>
T& Element(std::vector<T>& array, long long index) {
  if (index < 0 || index >= static_cast<long long>(array.size())) RaiseRuntime(rt::kSubscriptOutOfRange);
  return array[static_cast<size_t>(index)];
}

// Milliseconds from `then` to `now` on the 32-bit counter, across either wrap.
inline Long Elapsed(Long now, Long then) {
  return static_cast<Long>(static_cast<std::uint32_t>(now) - static_cast<std::uint32_t>(then));
}

class ModuleStack {
 public:
  Integer depth() const { return depth_; }
  // What Main does to the stack: the depth alone goes back to 0.
  void ResetDepth() { depth_ = 0; }

  Long NameCount() const { return CheckedLong(static_cast<long long>(names_.size())); }
  // The last name on the stack; runtime error 5 when there is none.
  const String& TopName() const {
    if (names_.empty()) RaiseRuntime(rt::kInvalidProcedureCall);
    return names_.back();
  }

  void Push(const String& name, Long entryTime, Boolean suppress) {
    names_.push_back(name);
    depth_ = CheckedInteger(depth_ + 1LL);
    const size_t size = static_cast<size_t>(depth_) + 1;
    lineNumbers_.resize(size);
    suppressed_.resize(size);
    entryTimes_.resize(size);
    lineNumbers_[depth_] = 0;
    suppressed_[depth_] = suppress;  // stored as given: any non-zero value suppresses
    entryTimes_[depth_] = entryTime;
  }
  // Removes the last name (there must be one) and a level.
  void Pop() {
    names_.pop_back();
    depth_ = CheckedInteger(depth_ - 1LL);
  }

  Long& LineNumber(long long level) { return Element(lineNumbers_, level); }
  bool Suppressed(long long level) { return Element(suppressed_, level) != 0; }
  Long EntryTime(long long level) { return Element(entryTimes_, level); }

 private:
  Integer depth_ = 0;
  std::vector<String> names_;
  std::vector<Long> lineNumbers_;
  std::vector<Boolean> suppressed_;
  std::vector<Long> entryTimes_;
};

}  // namespace vx380::core
