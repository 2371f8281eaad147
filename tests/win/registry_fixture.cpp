// Stores the shared registry cases with reg.exe, as an administrator would by hand.
// Runs before the registry tests (a CTest fixture); starts from an empty test tree.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "../shared/RegistryCases.h"

namespace {

using vx380::testcases::Kind;
using vx380::testcases::RegistryCase;

std::wstring FromUtf8(const std::string& s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

std::wstring RootName(vx380::Long root) { return root == vx380::testcases::kLocalMachine ? L"HKLM" : L"HKCU"; }

std::wstring Hex(const std::string& bytes) {
  static const wchar_t digits[] = L"0123456789ABCDEF";
  std::wstring out;
  for (unsigned char b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

// Runs reg.exe with the arguments; each is quoted, none holds a quote.
int Reg(const std::vector<std::wstring>& args) {
  std::wstring line = L"reg.exe";
  for (const auto& a : args) line += L" \"" + a + L"\"";
  std::fwprintf(stderr, L"%ls\n", line.c_str());
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    std::fwprintf(stderr, L"cannot start reg.exe: error %lu\n", GetLastError());
    return -1;
  }
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return static_cast<int>(code);
}

}  // namespace

int main() {
  const std::wstring testRoot = FromUtf8(vx380::testcases::kTestRoot);
  // Left over from an earlier run, or absent: either is fine.
  Reg({L"delete", L"HKCU\\" + testRoot, L"/f"});
  Reg({L"delete", L"HKLM\\" + testRoot, L"/f"});

  int failures = 0;
  for (const RegistryCase& c : vx380::testcases::RegistryCases()) {
    if (!c.create) continue;
    const std::wstring key = RootName(c.root) + L"\\" + FromUtf8(c.key);
    if (c.values.empty()) {
      // "reg add KEY" alone would give Wine's key an empty default value; a value added
      // and removed again leaves the key truly empty on every system.
      if (Reg({L"add", key, L"/v", L"VX380Placeholder", L"/f"}) != 0) ++failures;
      if (Reg({L"delete", key, L"/v", L"VX380Placeholder", L"/f"}) != 0) ++failures;
    }
    for (const auto& v : c.values) {
      std::vector<std::wstring> args = {L"add", key};
      if (v.name.empty()) {
        args.push_back(L"/ve");
      } else {
        args.push_back(L"/v");
        args.push_back(FromUtf8(v.name));
      }
      switch (v.kind) {
        case Kind::kString:
          args.insert(args.end(), {L"/t", L"REG_SZ", L"/d", FromUtf8(v.data)});
          break;
        case Kind::kBinary:
          args.insert(args.end(), {L"/t", L"REG_BINARY", L"/d", Hex(v.data)});
          break;
        case Kind::kDword:
          args.insert(args.end(), {L"/t", L"REG_DWORD", L"/d", std::to_wstring(v.dword)});
          break;
      }
      args.push_back(L"/f");
      if (Reg(args) != 0) ++failures;
    }
  }
  if (failures) std::fwprintf(stderr, L"%d reg.exe call(s) failed\n", failures);
  return failures ? 1 : 0;
}
