// Decoding of a multipart/form-data request body into the entry table, with
// uploaded files streamed to TMP_DIR.
//
// Memory stays constant whatever the body's size: the input is read through
// one fixed buffer, an upload goes to its file as it is read, and a plain
// field's content goes through the scratch file before it is kept (cut to a
// bounded size).
#ifndef VANDREL_SERVICES_MULTIPART_INPUT_H_
#define VANDREL_SERVICES_MULTIPART_INPUT_H_

#include <cstddef>
#include <string>
#include <vector>

#include "vandrel/services/form_input.h"

// Longest field name and file name kept (the rest is cut).
constexpr int kMaxPartName = 199;
// Header lines are read in pieces of at most 499 bytes.
constexpr int kMultipartLineSize = 500;
// The boundary line of the body holds at most 297 bytes (getline with 298).
constexpr int kBoundaryLineSize = 298;
// A plain field's value keeps at most this many bytes; all plain values of a
// request together at most kMaxFieldTotal (form_input.h). Longer contents are
// read whole but cut, so that a hostile body cannot exhaust memory.
constexpr size_t kMaxFieldValue = 1 << 20;

// The separator of the parts: CR, LF and the body's first line, with the
// prefix table of its KMP search.
class Separator {
 public:
  explicit Separator(std::string text);
  const std::string& text() const { return text_; }
  size_t size() const { return text_.size(); }
  // Length of the longest proper prefix of the separator that is a suffix of
  // its first `matched` bytes.
  size_t fallback(size_t matched) const { return fail_[matched - 1]; }

 private:
  std::string text_;
  std::vector<size_t> fail_;
};

// Where the content of a part goes.
class ContentSink {
 public:
  virtual ~ContentSink() = default;
  // False when the bytes could not be stored (the copy then stops).
  virtual bool write(const char* data, size_t len) = 0;
};

// Buffered reader of the body from a file descriptor (never through stdio).
// A byte source for getline_from.
class MultipartReader {
 public:
  static constexpr size_t kDefaultCapacity = 64 * 1024;
  // The buffer grows to one byte more than a separator when it is smaller;
  // tests use tiny capacities to move refills across every position.
  explicit MultipartReader(int fd, size_t capacity = kDefaultCapacity);

  // The next byte, or EOF.
  int get();
  // True once a read found the end of the input.
  bool at_end() const { return eof_; }

  enum class CopyResult { kFound, kBroken, kSinkFailed };
  // The sliding-window step: passes every byte before the first occurrence
  // of `sep` to `sink` and consumes the separator itself (kFound). When the
  // input ends first (kBroken), the sink has received exactly what the
  // one-byte sliding window would have written: every byte read except the last
  // sep.size() ones. The search is KMP over the buffer, linear in the input
  // whatever its content, and moves at most sep.size() bytes per refill.
  CopyResult copy_until(const Separator& sep, ContentSink& sink);

 private:
  // Moves the unread bytes from pos_ to the front and reads more after
  // them. False at the end of the input (or on a read error).
  bool fill();

  int fd_;
  std::vector<char> buf_;
  size_t pos_ = 0;
  size_t end_ = 0;
  bool eof_ = false;
};

// The multipart parser proper: reads the body from `fd` and stores uploads
// and the scratch file in `dir`. 0, or -1 with POST_errmsg.
int E_POST_parse(entry* table, int fd, const char* dir);

// The upload files that the last parse stored belong to the request: this
// removes those still at their upload paths. It does so only in the process
// that parsed, never in one forked from it (their page shares the files),
// and at most once. Cost: one unlink per upload, at most kMaxPairs.
void X_remove_uploads();

// Makes X_remove_uploads an exit-time cleanup; false when there is no room.
bool X_register_upload_cleanup();

// E_POST_parser: the body on standard input, files in TMP_DIR;
// with tracing on, the body is first copied to "post.input" there and parsed
// from that copy. 0, or -1 with POST_errmsg.
int E_POST_parser(entry* table);

#endif  // VANDREL_SERVICES_MULTIPART_INPUT_H_
