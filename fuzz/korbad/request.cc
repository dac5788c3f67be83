// Korbad's request reader: the one read of a connection (Nread, here from a
// pipe standing in for the socket), the Exit line's head, the cleaning of
// the text and its split into the command word and the arguments, as the
// connection process does them before it looks at the access file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "korbad/connection.h"
#include "korbad/request.h"

namespace {

// What the rest of the connection relies on; a breach is a finding.
void check(bool ok) {
  if (!ok) abort();
}

// The bytes a client's one send may bring: as much as the read takes and a
// little more, so that a request longer than the buffer is seen to be cut.
constexpr size_t kSendMax = kRequestMax + 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kSendMax) size = kSendMax;

  int fds[2];
  if (pipe(fds) != 0) return 0;
  // A pipe holds far more than kSendMax, so the write never blocks.
  bool sent = size == 0 || write(fds[1], data, size) == static_cast<ssize_t>(size);
  close(fds[1]);
  if (!sent) {
    close(fds[0]);
    return 0;
  }
  static char request[kRequestMax + 1];
  memset(request, 'X', sizeof request);  // no help from an earlier input's NUL
  ssize_t n = Nread(fds[0], request, sizeof request);
  close(fds[0]);
  check(n >= 0 && static_cast<size_t>(n) <= kRequestMax);
  check(static_cast<size_t>(n) == (size < kRequestMax ? size : kRequestMax));
  check(request[n] == '\0');

  // The request is text: a NUL byte ends it.
  size_t request_len = strlen(request);
  check(request_len <= static_cast<size_t>(n));
  char head[kRequestHeadMax + 1];
  size_t head_len = request_len < kRequestHeadMax ? request_len : kRequestHeadMax;
  memcpy(head, request, head_len);
  head[head_len] = '\0';

  sanitise_request(request);
  check(strlen(request) == request_len);
  for (size_t i = 0; i < request_len; ++i) {
    check(request[i] == ' ' || check_char(static_cast<unsigned char>(request[i])));
  }

  ParsedRequest parsed;
  parse_request(request, &parsed);
  size_t word_len = strnlen(parsed.word, sizeof parsed.word);
  check(word_len <= kWordMax);
  for (size_t i = 0; i < word_len; ++i) {
    char c = parsed.word[i];
    check(c != '/' && c != ' ' && check_char(static_cast<unsigned char>(c)));
  }
  // The arguments are the tail of the request itself.
  check(parsed.args >= request && parsed.args <= request + request_len);
  check(parsed.args == request + request_len || *parsed.args == ' ' ||
        static_cast<size_t>(parsed.args - request) >= kWordMax);
  return 0;
}
