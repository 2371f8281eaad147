// Allocation failure on demand, for a test program that holds the server's objects itself: the
// program's operator new is replaced, so every allocation of the server and its library counts.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>

namespace comtest {

// From now on the allocation number `index` (0 first) of this thread throws std::bad_alloc;
// the others succeed.
void FailAllocation(long index);
// Stops counting; true when the failure was reached.
bool Disarm();

// Runs call once with each of its allocations failing in turn, until a run reaches no
// failure, and expects each failing run to end in one of `allowed`. after(hr) checks what a
// run left behind. Returns the number of failing runs (0: call never allocates).
template <class Call, class After>
int SweepAllocations(Call&& call, std::initializer_list<HRESULT> allowed, After&& after) {
  // Far more than any entry point makes: a bound so a run that never ends fails instead.
  constexpr long kMostAllocations = 100000;
  for (long index = 0; index < kMostAllocations; ++index) {
    FailAllocation(index);
    const HRESULT hr = call();
    const bool failed = Disarm();
    after(hr);
    if (!failed) {
      EXPECT_HRESULT_SUCCEEDED(hr) << "with no allocation failing";
      return static_cast<int>(index);
    }
    EXPECT_TRUE(std::find(allowed.begin(), allowed.end(), hr) != allowed.end())
        << "allocation " << index << " failed: got 0x" << std::hex << static_cast<unsigned long>(hr);
  }
  ADD_FAILURE() << "no run without an allocation failure";
  return -1;
}

}  // namespace comtest
