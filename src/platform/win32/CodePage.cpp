// ANSI code page conversion, with the same best-fit mapping the A functions use.
#include "Win32Platform.h"

namespace vx380::win32 {

std::string Win32Platform::ToAnsi(const String& text) {
  if (text.empty()) return {};
  // A UTF-8 ANSI code page refuses a default character.
  const char* fallback = ::GetACP() == CP_UTF8 ? nullptr : "?";
  const int length = static_cast<int>(text.size());
  int n = ::WideCharToMultiByte(CP_ACP, 0, Wide(text), length, nullptr, 0, fallback, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  n = ::WideCharToMultiByte(CP_ACP, 0, Wide(text), length, out.data(), n, fallback, nullptr);
  out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return out;
}

String Win32Platform::FromAnsi(const std::string& bytes) {
  if (bytes.empty()) return {};
  const int length = static_cast<int>(bytes.size());
  int n = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  n = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, out.data(), n);
  return FromWide(out.data(), n > 0 ? static_cast<std::size_t>(n) : 0);
}

}  // namespace vx380::win32
