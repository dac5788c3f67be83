// Temporary files for tests: fixture roots, fake tools and text streams.
#ifndef HESTOV_TEST_SCRATCH_H_
#define HESTOV_TEST_SCRATCH_H_

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace hestov {

// A temporary directory, removed with everything in it at the end of the test.
class Scratch {
 public:
  Scratch() : dir_(std::filesystem::temp_directory_path() / "hestov-test-XXXXXX") {
    if (mkdtemp(dir_.data()) == nullptr) dir_ = "/nonexistent";
  }
  ~Scratch() { std::filesystem::remove_all(dir_, ec_); }
  const std::string& dir() const { return dir_; }

  // Writes `content` to DIR/rel, making its folders; returns the full path.
  std::string write(const std::string& rel, const std::string& content, mode_t mode = 0644) {
    std::string path = dir_ + "/" + rel;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec_);
    if (FILE* f = fopen(path.c_str(), "wb")) {
      fwrite(content.data(), 1, content.size(), f);
      fclose(f);
    }
    chmod(path.c_str(), mode);
    return path;
  }

 private:
  std::string dir_;
  std::error_code ec_;
};

// A read stream over `text`.
inline FILE* text_stream(const std::string& text) {
  FILE* f = tmpfile();
  if (f != nullptr) {
    fwrite(text.data(), 1, text.size(), f);
    rewind(f);
  }
  return f;
}

}  // namespace hestov

#endif  // HESTOV_TEST_SCRATCH_H_
