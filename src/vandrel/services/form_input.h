// Decoding of the request's form fields into the entry table: the query
// string and path of a GET, the body of a URL-encoded POST (the multipart
// body is in multipart_input.h), and the small text routines of the CGI
// toolkit; the escapes are in values/text_escapes.h.
#ifndef VANDREL_SERVICES_FORM_INPUT_H_
#define VANDREL_SERVICES_FORM_INPUT_H_

#include <cstddef>
#include <cstdio>

// One decoded field. An entry whose name is nullptr ends the table.
struct entry {
  char* name;
  char* val;  // nullptr when the field had no "=" or no content
};

constexpr int kMaxEntries = 10000;  // at most 9999 pairs and the end marker
constexpr int kMaxPairs = kMaxEntries - 1;
constexpr int kMaxPairLength = 50000;
// The form values of one request together hold at most this many bytes. A
// URL-encoded body keeps every byte it reads, so one whose CONTENT_LENGTH is
// larger is refused before any of it is read.
constexpr size_t kMaxFieldTotal = 32 << 20;

extern entry ent[kMaxEntries];
// Text of the last decoder error.
extern const char* POST_errmsg;

enum RequestMethod { kShellRun = -1, kPost = 1, kGet = 2, kHead = 3 };

// kPost, kGet, kHead or kShellRun from REQUEST_METHOD.
int GetMethod();
// 0 when CONTENT_TYPE's media type is application/x-www-form-urlencoded
// (parameters after ";", blanks around the type and letter case aside), 1
// for anything else.
int CheckEnctypeMethod();

// Fills `table` from QUERY_STRING (or PATH_INFO) of a GET or HEAD request;
// `name` receives the page path. 0, or -1 with POST_errmsg.
int GET_parser(entry* table, const char* name);
// Stores PATH_INFO, undecoded, as the value of the pair `name`. 0.
int GET_path(entry* table, const char* name);
// Fills `table` from a URL-encoded body on standard input. 0, or -1 (also for
// a CONTENT_LENGTH over kMaxFieldTotal).
int POST_parser(entry* table);

// The environment variable's value, or "" when unset.
const char* GETenv(const char* name);
// Turns every "+" into a space, in place.
void plustospace(char* text);
// A new text holding `line` up to (not including) the first `stop` or the end.
char* makeword(const char* line, char stop);
// A new text read from `stream` up to `stop`, the end of input, or until
// `*count` reaches 0; `*count` drops by one per byte read. A word over
// kMaxPairLength bytes is cut, and its warning waits for X_form_warnings.
char* fmakeword(FILE* stream, char stop, int* count);
// Writes the warning of every word cut since the last call to `out`. The
// words are read before the CGI header is written, the warnings belong in
// the body.
void X_form_warnings(FILE* out);

// Reads one line of `stream` into `buffer`: a CR is dropped (the byte after
// it takes its place, unchecked); LF, the byte 4 or the end of input end the
// line; the n-th byte read ends it too, so at most n - 1 bytes are kept and
// the rest of a longer line is read by the next call. The stopping byte
// becomes the terminating NUL. Returns 1 when the stream is at its end
// afterwards, else 0. REQUIRES: n >= 1.
int getline(char* buffer, int n, FILE* stream);

// getline over any byte source with `int get()` (a byte, or EOF) and
// `bool at_end() const` (true once a read found no more input).
template <class Source>
int getline_from(char* buffer, int n, Source& in) {
  int i = 0;
  for (;;) {
    int c = in.get();
    if (c == '\r') c = in.get();
    if (c == EOF || c == '\n' || c == 4 || i == n - 1) {
      buffer[i] = '\0';
      return in.at_end() ? 1 : 0;
    }
    buffer[i++] = static_cast<char>(c);
  }
}

#endif  // VANDREL_SERVICES_FORM_INPUT_H_
