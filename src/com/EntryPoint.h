// How every call from a client into the server ends: with an HRESULT. An exception never
// unwinds into the caller's frames (a script host would be torn down): running out of memory
// becomes E_OUTOFMEMORY, anything else the code the entry point names (E_UNEXPECTED unless
// its callers know a better one).
#pragma once

#include <windows.h>

#include <new>
#include <utility>

namespace vx380::com {

template <class F>
HRESULT CatchReturn(F&& body, HRESULT otherwise = E_UNEXPECTED) noexcept {
  try {
    return std::forward<F>(body)();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return otherwise;
  }
}

}  // namespace vx380::com
