// Helpers for the POSIX platform tests: a scratch folder, environment variables that are put
// back when a test ends, and a log written through the real platform.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "vx380/Platform.h"

namespace vx380::testing {

class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vx380-posix-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  std::string Write(const std::string& name, const std::string& bytes) const {
    const std::string file = File(name);
    // A fresh file rather than a truncated one: ext4 flushes a truncated file at its close.
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
    return file;
  }

 private:
  std::string path_;
};

class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = ::getenv(name)) old_ = old;
    if (value) ::setenv(name, value->c_str(), 1);
    else ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_) ::setenv(name_.c_str(), old_->c_str(), 1);
    else ::unsetenv(name_.c_str());
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// One open, write and close of a log through the real platform: the first error, or 0.
inline Long WriteLogThroughPlatform(const std::string& path, const std::string& bytes, bool truncate) {
  Platform& platform = SystemPlatform();
  FileHandle file = -1;
  Long error = platform.OpenTextFile(FromUtf8(path), truncate, file);
  if (error) return error;
  error = platform.WriteTextFile(file, bytes);
  platform.CloseTextFile(file);
  return error;
}

}  // namespace vx380::testing
