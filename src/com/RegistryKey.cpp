#include "RegistryKey.h"

#include <objbase.h>

#include <cwchar>

namespace vx380::com {

RegKey RegKey::Create(HKEY parent, const std::wstring& path, REGSAM access, bool* made) {
  RegKey key;
  DWORD disposition = 0;
  if (RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, access, nullptr, &key.key_, &disposition) != ERROR_SUCCESS)
    key.key_ = nullptr;
  if (made) *made = key.key_ && disposition == REG_CREATED_NEW_KEY;
  return key;
}

RegKey RegKey::Open(HKEY parent, const std::wstring& path, REGSAM access) {
  RegKey key;
  if (RegOpenKeyExW(parent, path.c_str(), 0, access, &key.key_) != ERROR_SUCCESS) key.key_ = nullptr;
  return key;
}

void RegKey::Reset() {
  if (key_) RegCloseKey(key_);
  key_ = nullptr;
}

bool RegKey::SetString(const wchar_t* name, const std::wstring& value) const {
  return RegSetValueExW(key_, name && *name ? name : nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

std::wstring RegKey::GetString(const wchar_t* name) const {
  wchar_t buffer[256] = {};
  DWORD type = 0, size = sizeof buffer - sizeof(wchar_t);  // room for a NUL the data may lack
  if (RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
      type != REG_SZ)
    return std::wstring();
  return std::wstring(buffer, wcsnlen(buffer, size / sizeof(wchar_t)));
}

bool RegKey::IsEmpty() const {
  DWORD subKeys = 0, values = 0;
  if (RegQueryInfoKeyW(key_, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                       nullptr) != ERROR_SUCCESS)
    return false;  // unknown: keep the key
  return subKeys == 0 && values == 0;
}

bool SetKeyString(HKEY parent, const std::wstring& path, const wchar_t* name, const std::wstring& value) {
  RegKey key = RegKey::Create(parent, path, KEY_SET_VALUE);
  return key && key.SetString(name, value);
}

bool CreateKey(HKEY parent, const std::wstring& path) {
  return static_cast<bool>(RegKey::Create(parent, path, KEY_SET_VALUE));
}

bool KeyExists(HKEY parent, const std::wstring& path) {
  return static_cast<bool>(RegKey::Open(parent, path, KEY_READ));
}

bool DeleteTree(HKEY parent, const std::wstring& path) {
  LSTATUS s = RegDeleteTreeW(parent, path.c_str());
  if (s == ERROR_SUCCESS) s = RegDeleteKeyW(parent, path.c_str());
  return s == ERROR_SUCCESS || s == ERROR_FILE_NOT_FOUND;
}

void DeleteIfEmpty(HKEY parent, const std::wstring& path) {
  bool empty = false;
  {
    const RegKey key = RegKey::Open(parent, path, KEY_READ);
    empty = key && key.IsEmpty();
  }  // closed before it goes
  if (empty) DeleteTree(parent, path);
}

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

}  // namespace vx380::com
