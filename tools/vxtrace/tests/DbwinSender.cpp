// Writes each argument with OutputDebugStringA, one call per line as the component
// does, so the Windows capture can be checked against a real writer.
//   dbwin_sender LINE...          each LINE once
//   dbwin_sender --numbered TAG N "RBDEBUG: TAG <i>" for i < N
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--numbered") == 0) {
    const long lines = std::atol(argv[3]);
    for (long i = 0; i < lines; ++i)
      OutputDebugStringA(("RBDEBUG: " + std::string(argv[2]) + " " + std::to_string(i) + "\n").c_str());
    return 0;
  }
  for (int i = 1; i < argc; ++i) OutputDebugStringA((std::string(argv[i]) + "\n").c_str());
  return 0;
}
