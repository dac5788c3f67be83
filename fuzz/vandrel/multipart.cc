// The multipart/form-data decoder on the input as a request body, read from
// a memory file; uploads and the scratch file go to a folder of the
// harness's scratch folder, emptied after every input.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "vandrel/harness.h"
#include "vandrel/services/multipart_input.h"

namespace {

constexpr size_t kMaxInput = 256 * 1024;

std::vector<entry> table(kMaxEntries);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  fuzz_init();
  static std::string dir = std::string(fuzz_scratch_dir()) + "/uploads";
  std::filesystem::create_directories(dir);
  int fd = memfd_create("multipart-body", 0);
  if (fd < 0 || write(fd, data, size) != static_cast<ssize_t>(size) || lseek(fd, 0, SEEK_SET) != 0)
    std::abort();
  fuzz_run([&] {
    table.assign(kMaxEntries, entry{nullptr, nullptr});
    if (E_POST_parse(table.data(), fd, dir.c_str()) == 0) {
      int n = 0;
      while (n < kMaxEntries && table[n].name) ++n;
      if (n == kMaxEntries) __builtin_trap();  // no end marker
    }
    X_remove_uploads();
  });
  close(fd);
  // What the decoder left besides the uploads it names (its scratch file).
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec))
    std::filesystem::remove_all(e.path(), ec);
  return 0;
}
