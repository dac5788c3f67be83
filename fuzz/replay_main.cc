// The driver of a fuzz target outside a FUZZING build: runs the target once
// on every input named on the command line (a file, or every file of a
// folder, in name order), as libFuzzer does with -runs=0. Options (words that
// begin with '-') are libFuzzer's and are skipped. Exits 1 when an input
// cannot be read or nothing was run; a fault in the target ends the process
// as it would under libFuzzer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

bool run_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
    return false;
  }
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // A copy of exactly the input's size, so that reading past it is caught.
  std::vector<uint8_t> data(bytes.begin(), bytes.end());
  LLVMFuzzerTestOneInput(data.empty() ? nullptr : data.data(), data.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  int runs = 0;
  bool ok = true;
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] == '-') continue;
    std::filesystem::path arg(argv[i]);
    std::error_code ec;
    if (std::filesystem::is_directory(arg, ec)) {
      std::vector<std::filesystem::path> files;
      for (const auto& entry : std::filesystem::directory_iterator(arg, ec))
        if (entry.is_regular_file()) files.push_back(entry.path());
      if (ec) {
        std::fprintf(stderr, "replay: cannot list %s: %s\n", argv[i], ec.message().c_str());
        ok = false;
      }
      std::sort(files.begin(), files.end());
      for (const auto& file : files) {
        ok = run_file(file) && ok;
        ++runs;
      }
    } else {
      ok = run_file(arg) && ok;
      ++runs;
    }
  }
  if (runs == 0) {
    std::fprintf(stderr, "replay: no inputs (usage: %s file-or-folder...)\n", argv[0]);
    return 1;
  }
  std::fprintf(stderr, "replay: %d inputs\n", runs);
  return ok ? 0 : 1;
}
