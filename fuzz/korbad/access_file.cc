// Korbad's access file as a connection reads it: the client's address and
// the command word it asked for against the file's text, in both modes
// (list and look-up), and the file's lines one by one as the reader and the
// splitter see them.
//
// Input: "CLIENT\nREQUEST\nFILE...". The request goes through the request
// reader first, as the connection does, so the word is one a client can send.
#include <arpa/inet.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "korbad/access_file.h"
#include "korbad/request.h"

namespace {

void check(bool ok) {
  if (!ok) abort();
}

// The next piece of the input up to a newline (not included); the rest
// after it.
std::string_view take_line(std::string_view* rest) {
  size_t end = rest->find('\n');
  std::string_view line = rest->substr(0, end);
  rest->remove_prefix(end == std::string_view::npos ? rest->size() : end + 1);
  return line;
}

struct Listed {
  size_t count = 0;
};

void listed(void* context, std::string_view name) {
  check(!name.empty() && name.size() <= kNameMax && name.find('\0') == std::string_view::npos);
  static_cast<Listed*>(context)->count++;
}

// The file in memory, read through stdio as the real one is. fmemopen needs
// a buffer of at least one byte.
FILE* open_text(std::vector<char>& text) {
  if (text.empty()) text.push_back('\0');
  return fmemopen(text.data(), text.size(), "r");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  std::string_view client_text = take_line(&rest);
  std::string_view request_text = take_line(&rest);

  // The client is what inet_ntop wrote, so at most INET_ADDRSTRLEN - 1 bytes.
  char client[INET_ADDRSTRLEN];
  size_t client_len = client_text.size() < sizeof client - 1 ? client_text.size() : sizeof client - 1;
  memcpy(client, client_text.data(), client_len);
  client[client_len] = '\0';

  static char request[kRequestMax + 1];
  size_t request_len = request_text.size() < kRequestMax ? request_text.size() : kRequestMax;
  memcpy(request, request_text.data(), request_len);
  request[request_len] = '\0';
  sanitise_request(request);
  ParsedRequest parsed;
  parse_request(request, &parsed);

  std::vector<char> text(rest.begin(), rest.end());

  // Look-up mode.
  FILE* f = open_text(text);
  if (f == nullptr) return 0;
  char path[kPathMax + 1];
  memset(path, 'X', sizeof path);
  AccessVerdict verdict = check_access(f, client, parsed.word, nullptr, path);
  fclose(f);
  check(verdict == AccessVerdict::kFound || verdict == AccessVerdict::kNoAccess);
  if (verdict == AccessVerdict::kFound) {
    size_t len = strnlen(path, sizeof path);
    // The program is a C string from here on: all of it must survive as one.
    check(len > 0 && len <= kPathMax);
  }

  // List mode.
  f = open_text(text);
  if (f == nullptr) return 0;
  Listed names;
  ListSink sink = {listed, &names};
  verdict = check_access(f, client, parsed.word, &sink, path);
  fclose(f);
  check(verdict == AccessVerdict::kListed);

  // Line by line: every line is cut to the limit and its words lie inside it.
  f = open_text(text);
  if (f == nullptr) return 0;
  char line[kAccessLineMax + 1];
  long len;
  size_t total = 0;
  while ((len = read_access_line(f, line)) >= 0) {
    check(len >= 1 && static_cast<size_t>(len) <= kAccessLineMax);
    total += static_cast<size_t>(len);
    check(total <= text.size());
    std::string_view kept(line, static_cast<size_t>(len));
    AccessLine fields;
    if (!split_access_line(kept, &fields)) continue;
    for (std::string_view word : {fields.keyword, fields.name, fields.path}) {
      check(word.empty() || (word.data() >= kept.data() &&
                             word.data() + word.size() <= kept.data() + kept.size()));
    }
  }
  fclose(f);
  return 0;
}
