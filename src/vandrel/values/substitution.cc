#include "vandrel/values/substitution.h"

#include <cctype>
#include <cstring>

#include "vandrel/core/clock.h"
#include "vandrel/core/line_buffer.h"
#include "vandrel/core/output.h"
#include "vandrel/core/trace.h"
#include "vandrel/values/value_sink.h"

int X_value_limit = -1;

void ValueSink::text(const char* p, size_t n) {
  if (!buf_) {
    // Inline trace lines are written into the output as they happen: text
    // gathered before them would come out after them.
    if (gathered_ + n > kGatherSize || Trace) {
      flush();
      if (n >= kGatherSize || Trace) {
        X_write(p, n);
        return;
      }
    }
    std::memcpy(gather_ + gathered_, p, n);
    gathered_ += n;
    return;
  }
  size_t room = size_ - 1 - len_;
  if (n > room) n = room;
  std::memcpy(buf_ + len_, p, n);
  len_ += n;
  buf_[len_] = '\0';
}

void ValueSink::value(const char* p, size_t n) {
  if (X_value_limit > 0 && static_cast<size_t>(X_value_limit) < n) n = X_value_limit;
  text(p, n);
}

void ValueSink::value(const char* p) { value(p, std::strlen(p)); }

void ValueSink::flush() {
  if (gathered_ == 0) return;
  X_write(gather_, gathered_);
  gathered_ = 0;
}

namespace {

// Finds the next "$(" in [p, end).
const char* find_reference(const char* p, const char* end) {
  while (p < end) {
    const char* dollar = static_cast<const char*>(std::memchr(p, '$', end - p));
    if (!dollar || dollar + 1 >= end) return nullptr;
    if (dollar[1] == '(') return dollar;
    p = dollar + 1;
  }
  return nullptr;
}

void translate_into(const char* text, size_t len, ValueSink& sink);

// Replaces the inner references of a reference text, then evaluates it.
void evaluate_reference(const char* ref, size_t len, ValueSink& sink) {
  if (len > kMaxReference) len = kMaxReference;
  // Most references are a short name without references inside: it is
  // terminated on the stack, as the translation would leave it.
  char name[64];
  if (len < sizeof name && !std::memchr(ref, '$', len)) {
    std::memcpy(name, ref, len);
    name[len] = '\0';
    X_transvalue_into(name, sink);
    return;
  }
  LineBuffer inner;
  ValueSink inner_sink(inner.data(), kMaxReference + 1);
  translate_into(ref, len, inner_sink);
  X_transvalue_into(inner.data(), sink);
}

void translate_into(const char* text, size_t len, ValueSink& sink) {
  const char* p = text;
  const char* end = text + len;
  while (p < end) {
    const char* dollar = find_reference(p, end);
    if (!dollar) {
      sink.text(p, end - p);
      return;
    }
    sink.text(p, dollar - p);
    const char* ref = dollar + 2;
    const char* q = ref;
    for (int depth = 1; q < end; ++q) {
      if (*q == '(') {
        ++depth;
      } else if (*q == ')' && --depth == 0) {
        break;
      }
    }
    // An unmatched reference runs to the end of the line.
    evaluate_reference(ref, q - ref, sink);
    p = q < end ? q + 1 : end;
  }
}

}  // namespace

void transvalue(const char* value, char* dest, size_t dest_size) {
  if (!value) value = "";
  if (dest) {
    if (dest_size == 0) return;
    ValueSink sink(dest, dest_size);
    sink.value(value);
    return;
  }
  ValueSink sink;
  sink.value(value);
  sink.flush();
  X_fflush(X_output());
}

namespace {

void transline_into(const char* text, size_t len, int compile, ValueSink& sink) {
  if (compile) {
    translate_into(text, len, sink);
  } else {
    sink.value(text, len);
  }
}

}  // namespace

int X_transline(const char* line, char* dest, size_t dest_size, int compile) {
  if (!dest) {
    X_transline_text(line, std::strlen(line), compile);
    return 0;
  }
  if (dest_size == 0) return 0;
  dest[0] = '\0';
  if (IgnoreEmpty && line[0] == '\n') return 0;
  ValueSink sink(dest, dest_size);
  transline_into(line, std::strlen(line), compile, sink);
  return 0;
}

void X_transline_text(const char* text, size_t len, int compile) {
  if (IgnoreEmpty && len > 0 && text[0] == '\n') return;
  ValueSink sink;
  transline_into(text, len, compile, sink);
  sink.flush();
  // Values within the line are flushed with it, once.
  X_fflush(X_output());
}

int X_transvalue(const char* ref, char* dest, size_t dest_size) {
  if (dest && dest_size == 0) return 0;
  ValueSink sink = dest ? ValueSink(dest, dest_size) : ValueSink();
  X_transvalue_into(ref, sink);
  if (dest) return 0;
  sink.flush();
  X_fflush(X_output());
  return 0;
}

void uppercase(char* text) {
  for (; *text; ++text) *text = static_cast<char>(std::toupper(static_cast<unsigned char>(*text)));
}

void lowercase(char* text) {
  for (; *text; ++text) *text = static_cast<char>(std::tolower(static_cast<unsigned char>(*text)));
}

long GetDDT() {
  static bool started = false;
  static ClockTime previous;
  ClockTime now = X_now();
  long since = started ? static_cast<long>((now.seconds - previous.seconds) * 1000000 +
                                           (now.microseconds - previous.microseconds))
                       : 0;
  started = true;
  previous = now;
  return since;
}
