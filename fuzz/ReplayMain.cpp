// Runs a fuzz target over saved inputs without libFuzzer, so any compiler can replay a corpus
// as a regression test. Arguments are files or directories (read one level deep, in name
// order). Fails when it finds nothing to run, so a lost corpus does not pass quietly.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> Inputs(const fs::path& arg) {
  std::vector<fs::path> files;
  if (fs::is_directory(arg)) {
    for (const auto& entry : fs::directory_iterator(arg))
      if (entry.is_regular_file()) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
  } else if (fs::is_regular_file(arg)) {
    files.push_back(arg);
  }
  return files;
}

bool RunOne(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // A buffer of exactly the file's size, so a read past the end is caught by the sanitizers.
  const std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[bytes.size()]);
  std::copy(bytes.begin(), bytes.end(), exact.get());
  LLVMFuzzerTestOneInput(exact.get(), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t runs = 0;
  for (int i = 1; i < argc; ++i) {
    for (const fs::path& file : Inputs(argv[i])) {
      std::fprintf(stderr, "replay %s\n", file.c_str());
      if (!RunOne(file)) {
        std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return 1;
      }
      ++runs;
    }
  }
  std::fprintf(stderr, "%zu inputs replayed\n", runs);
  return runs == 0 ? 1 : 0;
}
