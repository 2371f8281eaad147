// run_native: starts a program from this process's own system folder and returns its
// exit code. A 64-bit test needs the 64-bit cscript, regsvr32 and reg; Wine's loader
// starts built-in programs named on its command line as 32-bit ones, so a 64-bit
// run_native.exe starts them instead.
//
//   run_native.exe PROGRAM [ARGS...]      PROGRAM without a folder is looked up in system32
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// The argument as CommandLineToArgvW will read it back.
std::wstring Quote(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  size_t slashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
    slashes = 0;
    out += c;
  }
  out.append(slashes * 2, L'\\');
  return out + L"\"";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: run_native PROGRAM [ARGS...]\n");
    return 64;
  }
  std::wstring program = argv[1];
  if (program.find_first_of(L"\\/:") == std::wstring::npos) {
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    program = std::wstring(system) + L"\\" + program;
  }
  std::wstring line = Quote(program);
  for (int i = 2; i < argc; ++i) line += L" " + Quote(argv[i]);

  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    std::fprintf(stderr, "run_native: cannot start %ls (error %lu)\n", program.c_str(), GetLastError());
    return 127;
  }
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return static_cast<int>(code);
}
