// A small owner for registry keys, and the few key operations registration needs.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

namespace vx380::com {

// Owns one open key and closes it exactly once. Predefined roots (HKEY_CLASSES_ROOT and
// the like) are never owned: they are passed around as plain HKEY parents.
class RegKey {
 public:
  RegKey() = default;
  RegKey(RegKey&& o) noexcept : key_(std::exchange(o.key_, nullptr)) {}
  RegKey& operator=(RegKey&& o) noexcept {
    if (this != &o) {
      Reset();
      key_ = std::exchange(o.key_, nullptr);
    }
    return *this;
  }
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  ~RegKey() { Reset(); }

  // Creates the key and its missing parents. Empty when that fails. `made`, when given, tells
  // whether the key itself was new.
  static RegKey Create(HKEY parent, const std::wstring& path, REGSAM access, bool* made = nullptr);
  // Opens an existing key. Empty when it does not exist or cannot be opened.
  static RegKey Open(HKEY parent, const std::wstring& path, REGSAM access);

  HKEY get() const { return key_; }
  explicit operator bool() const { return key_ != nullptr; }
  void Reset();

  // Sets a string value; nullptr or "" names the key's default value.
  bool SetString(const wchar_t* name, const std::wstring& value) const;
  // A string value; "" when there is none.
  std::wstring GetString(const wchar_t* name) const;
  // Whether the key holds neither subkeys nor values.
  bool IsEmpty() const;

 private:
  HKEY key_ = nullptr;
};

// Creates parent\path and sets one of its string values.
bool SetKeyString(HKEY parent, const std::wstring& path, const wchar_t* name, const std::wstring& value);
bool CreateKey(HKEY parent, const std::wstring& path);
bool KeyExists(HKEY parent, const std::wstring& path);
// Removes parent\path with everything below it; a key that is not there counts as removed.
bool DeleteTree(HKEY parent, const std::wstring& path);
// Removes parent\path only when it holds nothing at all (no subkey, no value).
void DeleteIfEmpty(HKEY parent, const std::wstring& path);

// {XXXXXXXX-...} as the registry writes GUIDs.
std::wstring GuidText(REFGUID guid);

}  // namespace vx380::com
