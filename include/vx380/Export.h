// Marks the library's public API. The shared library hides every other symbol, so a host
// links only against what these headers promise and internals stay free to change.
#pragma once

#if defined(_WIN32) || defined(__CYGWIN__)
// Windows builds link the library statically (into the COM server and the tools).
#define VX380_API
#elif defined(__GNUC__) || defined(__clang__)
#define VX380_API __attribute__((visibility("default")))
#else
#define VX380_API
#endif
