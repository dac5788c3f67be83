#include "vandrel/services/form_input.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vandrel/core/arena.h"
#include "vandrel/core/variable_store.h"
#include "vandrel/core/trace.h"
#include "vandrel/values/text_escapes.h"

entry ent[kMaxEntries];
const char* POST_errmsg = "";

namespace {

constexpr char kUrlEncoded[] = "application/x-www-form-urlencoded";

// Words cut by fmakeword whose warnings are not written yet.
int cut_words = 0;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Field texts live for the whole request, in the main arena.
char* keep(const char* text, size_t len) { return X_heap_strndup(x_BUFFERS.hp, text, len); }

// Decodes one pair in place and stores it at `table[x]`: the name up to the
// first "=", the value after it (none without "=").
void store_pair(entry* table, int x, char* pair) {
  plustospace(pair);
  unescape_url(pair);
  char* equals = std::strchr(pair, '=');
  if (equals) {
    *equals = '\0';
    table[x].val = keep(equals + 1, std::strlen(equals + 1));
  } else {
    table[x].val = nullptr;
  }
  table[x].name = keep(pair, std::strlen(pair));
  X_trace("makeword: name= [%s], val= [%s]\n", table[x].name,
          table[x].val ? table[x].val : "(null)");
}

void end_table(entry* table, int x) {
  table[x].name = nullptr;
  table[x].val = nullptr;
}

}  // namespace

int GetMethod() {
  const char* method = std::getenv("REQUEST_METHOD");
  if (!method) return kShellRun;
  if (std::strcmp(method, "POST") == 0) return kPost;
  if (std::strcmp(method, "GET") == 0) return kGet;
  if (std::strcmp(method, "HEAD") == 0) return kHead;
  return kShellRun;
}

int CheckEnctypeMethod() {
  // Browsers add parameters such as a character set; only the media type
  // (case-insensitive, as media types are) decides the decoder.
  const char* type = GETenv("CONTENT_TYPE");
  size_t len = std::strcspn(type, ";");
  while (len > 0 && is_blank(*type)) {
    ++type;
    --len;
  }
  while (len > 0 && is_blank(type[len - 1])) --len;
  return len == sizeof kUrlEncoded - 1 && strncasecmp(type, kUrlEncoded, len) == 0 ? 0 : 1;
}

const char* GETenv(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

void plustospace(char* text) {
  for (; *text; ++text)
    if (*text == '+') *text = ' ';
}

char* makeword(const char* line, char stop) {
  const char* end = std::strchr(line, stop);
  return keep(line, end ? static_cast<size_t>(end - line) : std::strlen(line));
}

char* fmakeword(FILE* stream, char stop, int* count) {
  static char word[kMaxPairLength + 1];
  size_t len = 0;
  bool cut = false;
  while (*count > 0) {
    int c = std::getc(stream);
    if (c == EOF) break;
    --(*count);
    if (c == stop) break;
    if (len < static_cast<size_t>(kMaxPairLength)) {
      word[len++] = static_cast<char>(c);
    } else {
      cut = true;
    }
  }
  if (cut) ++cut_words;
  return keep(word, len);
}

void X_form_warnings(FILE* out) {
  for (; cut_words > 0; --cut_words)
    std::fprintf(out, "<hr> WARNING: Value value size is over %d!!! [cut]... <hr>", kMaxPairLength);
}

namespace {

struct StdioSource {
  FILE* stream;
  int get() { return std::getc(stream); }
  bool at_end() const { return std::feof(stream) != 0; }
};

}  // namespace

int getline(char* buffer, int n, FILE* stream) {
  StdioSource in{stream};
  return getline_from(buffer, n, in);
}

int GET_parser(entry* table, const char* name) {
  // A HEAD request is a GET without the body of the answer.
  const char* method = GETenv("REQUEST_METHOD");
  if (std::strcmp(method, "GET") != 0 && std::strcmp(method, "HEAD") != 0) {
    POST_errmsg = "This script should be referenced with a METHOD GET.\n";
    return -1;
  }
  const char* query = std::getenv("QUERY_STRING");
  const char* path = std::getenv("PATH_INFO");
  int x = 0;
  if (!query) {
    if (!path) {
      end_table(table, 0);
      return 0;
    }
    // A page path alone: its text up to the first "&" is the page, the rest
    // a query.
    table[0].name = keep(name, std::strlen(name));
    table[0].val = makeword(path, '&');
    x = 1;
    const char* amp = std::strchr(path, '&');
    query = amp ? amp + 1 : "";
  }
  while (*query) {
    if (x == kMaxPairs) break;
    char* pair = makeword(query, '&');
    query += std::strlen(pair);
    if (*query == '&') ++query;
    store_pair(table, x++, pair);
  }
  end_table(table, x);
  return 0;
}

int GET_path(entry* table, const char* name) {
  const char* path = std::getenv("PATH_INFO");
  if (!path) return 0;
  int x = 0;
  for (; table[x].name; ++x) {
    if (std::strcmp(table[x].name, name) == 0) {
      table[x].val = keep(path, std::strlen(path));
      return 0;
    }
  }
  if (x >= kMaxPairs) return 0;  // a full table has no room for the page path
  table[x].name = keep(name, std::strlen(name));
  table[x].val = keep(path, std::strlen(path));
  end_table(table, x + 1);
  return 0;
}

int POST_parser(entry* table) {
  if (std::strcmp(GETenv("REQUEST_METHOD"), "POST") != 0) {
    POST_errmsg = "This script should be referenced with a METHOD of POST.\n";
    return -1;
  }
  if (CheckEnctypeMethod() != 0) {
    POST_errmsg = "This script can only be used to decode form results. \n";
    return -1;
  }
  // Read as a long long so that a huge length is refused rather than
  // overflowing; text that is not a number reads as 0, as before.
  long long length = std::strtoll(GETenv("CONTENT_LENGTH"), nullptr, 10);
  if (length > static_cast<long long>(kMaxFieldTotal)) {
    static char message[128];
    std::snprintf(message, sizeof message,
                  "The form body of %lld bytes is over the limit of %zu bytes\n", length,
                  kMaxFieldTotal);
    POST_errmsg = message;
    X_trace("POST_parser: %s", message);
    return -1;
  }
  int count = length > 0 ? static_cast<int>(length) : 0;
  X_trace("POST: CONTENT_LENGTH= %d", count);
  int x = 0;
  while (count > 0 && !std::feof(stdin)) {
    char* pair = fmakeword(stdin, '&', &count);
    X_trace("fmakeword: [%s]\n", pair);
    store_pair(table, x, pair);
    if (x == kMaxPairs) break;  // the 10000th pair is dropped: the end marker takes its place
    ++x;
  }
  end_table(table, x);
  return 0;
}
