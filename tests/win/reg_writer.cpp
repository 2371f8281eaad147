// A second process that changes the registry on request, for the freshness tests: one command
// per line on standard input, one "ok <code>" line back once the registry call has returned.
//   set U|M KEY TYPE HEXBYTES     the key's default value (created with the key if need be)
//   del U|M KEY                   deletes the key (it has no subkeys)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

HKEY Hive(const char* name) { return name[0] == 'M' ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

std::vector<BYTE> FromHex(const char* hex) {
  std::vector<BYTE> bytes;
  for (; hex[0] && hex[1]; hex += 2)
    bytes.push_back(static_cast<BYTE>(std::strtoul(std::string(hex, 2).c_str(), nullptr, 16)));
  return bytes;
}

LONG Run(char* line) {
  char* verb = std::strtok(line, " \r\n");
  char* hive = std::strtok(nullptr, " \r\n");
  char* key = std::strtok(nullptr, " \r\n");
  if (!verb || !hive || !key) return -1;
  if (std::strcmp(verb, "del") == 0) return RegDeleteKeyA(Hive(hive), key);
  char* type = std::strtok(nullptr, " \r\n");
  char* hex = std::strtok(nullptr, " \r\n");
  if (std::strcmp(verb, "set") != 0 || !type) return -1;
  const std::vector<BYTE> data = FromHex(hex ? hex : "");
  HKEY opened = nullptr;
  LONG rc = RegCreateKeyExA(Hive(hive), key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &opened, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  rc =
      RegSetValueExA(opened, nullptr, 0, std::strtoul(type, nullptr, 10), data.data(), static_cast<DWORD>(data.size()));
  RegCloseKey(opened);
  return rc;
}

}  // namespace

int main() {
  char line[4096];
  while (std::fgets(line, sizeof line, stdin)) {
    if (std::strncmp(line, "quit", 4) == 0) break;
    std::printf("ok %ld\n", static_cast<long>(Run(line)));
    std::fflush(stdout);
  }
  return 0;
}
