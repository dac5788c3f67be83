// The request's URL-encoded fields. The input is "FLAGS QUERY\nPATH\nBODY":
// QUERY_STRING and PATH_INFO are set when the flags' bits 0 and 1 say so,
// decoded by GET_parser (and GET_path), then BODY is the standard input of a
// URL-encoded POST whose CONTENT_LENGTH is the body's size, or, with bit 2,
// larger than the body by the flags' upper bits. plustospace and makeword
// also run on the query text.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "vandrel/harness.h"
#include "vandrel/services/form_input.h"

namespace {

constexpr size_t kMaxInput = 64 * 1024;

std::vector<entry> table(kMaxEntries);

// Standard input is a memory file that each input is written into.
void body_on_stdin(const char* data, size_t size) {
  static int fd = -1;
  if (fd < 0) {
    fd = memfd_create("form-body", 0);
    if (fd < 0 || dup2(fd, 0) < 0) std::abort();
  }
  if (ftruncate(0, 0) != 0 || pwrite(0, data, size, 0) != static_cast<ssize_t>(size)) std::abort();
  std::clearerr(stdin);
  if (std::fseek(stdin, 0, SEEK_SET) != 0) std::abort();
}

void check_table() {
  for (int i = 0; i < kMaxEntries; ++i)
    if (!table[i].name) return;
  __builtin_trap();  // no end marker
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > kMaxInput) return 0;
  unsigned flags = data[0];
  std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  size_t nl1 = rest.find('\n');
  size_t nl2 = nl1 == std::string::npos ? std::string::npos : rest.find('\n', nl1 + 1);
  std::string query = rest.substr(0, nl1);
  std::string path = nl1 == std::string::npos ? "" : rest.substr(nl1 + 1, nl2 - nl1 - 1);
  std::string body = nl2 == std::string::npos ? "" : rest.substr(nl2 + 1);
  query.resize(strnlen(query.c_str(), query.size()));  // environment texts end at a NUL
  path.resize(strnlen(path.c_str(), path.size()));

  fuzz_run([&] {
    setenv("REQUEST_METHOD", "GET", 1);
    if (flags & 1) setenv("QUERY_STRING", query.c_str(), 1); else unsetenv("QUERY_STRING");
    if (flags & 2) setenv("PATH_INFO", path.c_str(), 1); else unsetenv("PATH_INFO");
    if (GET_parser(table.data(), "X_PAGE") == 0) {
      check_table();
      GET_path(table.data(), "X_PAGE");
      check_table();
    }

    std::vector<char> copy(query.begin(), query.end());
    copy.push_back('\0');
    plustospace(copy.data());
    makeword(copy.data(), '&');
    makeword(copy.data(), '=');

    setenv("REQUEST_METHOD", "POST", 1);
    setenv("CONTENT_TYPE", "application/x-www-form-urlencoded; charset=UTF-8", 1);
    size_t length = body.size() + ((flags & 4) ? (flags >> 3) * 1000 : 0);
    setenv("CONTENT_LENGTH", std::to_string(length).c_str(), 1);
    body_on_stdin(body.data(), body.size());
    if (POST_parser(table.data()) == 0) check_table();
    X_form_warnings(stdout);
  });
  unsetenv("REQUEST_METHOD");
  unsetenv("QUERY_STRING");
  unsetenv("PATH_INFO");
  unsetenv("CONTENT_TYPE");
  unsetenv("CONTENT_LENGTH");
  return 0;
}
