// The scratch folder of a bench: in the user's private runtime directory, never straight in
// a shared one such as /tmp.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <string>

#include "vx380/PosixPlatform.h"

namespace vxtrace_bench {

// A fresh folder named after the bench; empty, after saying why, when none could be made.
inline std::string MakeScratchFolder(const char* bench) {
  std::string privateDir, why;
  if (!vx380::posix::PrivateRuntimeDir(privateDir, why)) {
    std::fprintf(stderr, "%s: no private directory: %s\n", bench, why.c_str());
    return {};
  }
  std::string pattern = privateDir + "/" + bench + "-XXXXXX";
  if (!::mkdtemp(pattern.data())) {
    std::fprintf(stderr, "%s: no scratch folder in %s\n", bench, privateDir.c_str());
    return {};
  }
  return pattern;
}

}  // namespace vxtrace_bench
