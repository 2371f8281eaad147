// Ways to change a registry value for the freshness tests: on the calling thread, on another
// thread, or in another process (reg_writer.exe). Each returns once the change has returned.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace vx380::wintest {

// One change of a key's default value: set with a type and bytes, or the key deleted.
struct RegChange {
  bool remove = false;
  DWORD type = REG_SZ;
  std::string bytes;
};

class RegWriter {
 public:
  virtual ~RegWriter() = default;
  virtual LONG Apply(HKEY hive, const std::string& key, const RegChange& change) = 0;
};

LONG ApplyHere(HKEY hive, const std::string& key, const RegChange& change);

class SameThreadWriter final : public RegWriter {
 public:
  LONG Apply(HKEY hive, const std::string& key, const RegChange& change) override {
    return ApplyHere(hive, key, change);
  }
};

class OtherThreadWriter final : public RegWriter {
 public:
  OtherThreadWriter();
  ~OtherThreadWriter() override;
  LONG Apply(HKEY hive, const std::string& key, const RegChange& change) override;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::function<LONG()> job_;
  LONG result_ = 0;
  bool done_ = false, stop_ = false;
  std::thread thread_;
};

class OtherProcessWriter final : public RegWriter {
 public:
  OtherProcessWriter();
  ~OtherProcessWriter() override;
  bool started() const { return process_ != nullptr; }
  LONG Apply(HKEY hive, const std::string& key, const RegChange& change) override;

 private:
  HANDLE process_ = nullptr, toChild_ = nullptr, fromChild_ = nullptr;
};

}  // namespace vx380::wintest
