// Writes each argument with OutputDebugStringA, one call per line as the component
// does, so the Windows capture can be checked against a real writer.
#include <windows.h>

#include <string>

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) OutputDebugStringA((std::string(argv[i]) + "\n").c_str());
  return 0;
}
