#include "vandrel/core/output.h"

#include <stdio_ext.h>
#include <sys/stat.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <ctime>

int HTML = 1;
int DO_fflush = 1;
int FlushLines = 0;
int IgnoreEmpty = 1;

namespace {

FILE* redirection = nullptr;

// Standard output's buffer. A pipe takes 64 KiB before its writer waits, so
// a larger piece would only be split again.
constexpr size_t kPageBufferSize = 64 * 1024;
char page_buffer[kPageBufferSize];

// Since when standard output holds text, as first seen between two lines,
// and how much it held at the last look: less means that stdio wrote a full
// buffer out in between, and that the text left is new.
bool holding = false;
struct timespec holding_since;
size_t held = 0;

// The deadline runs on the monotonic clocks, not on the page's clock, which a
// test may set: a clock that stands would hold the output back for good.
//
// The clock read before every page line while text waits. The coarse clock
// costs a quarter of the exact one and lags it by up to a step; text is
// stamped by the exact clock, so that, compared with the coarse one, it waits
// at least the delay and less than the delay and a step. Where the step is
// longer than the delay, the exact clock serves for both.
clockid_t pick_line_clock() {
  struct timespec step;
  if (clock_getres(CLOCK_MONOTONIC_COARSE, &step) == 0 && step.tv_sec == 0 &&
      step.tv_nsec <= kOutputDelayMs * 1000000L)
    return CLOCK_MONOTONIC_COARSE;
  return CLOCK_MONOTONIC;
}
const clockid_t line_clock = pick_line_clock();


struct Entity {
  unsigned char byte;
  const char* text;
};

// ISO 8859-1 letters written as HTML entities. The texts for 248 and 191 are
// the ones existing pages and browsers of this system were made with.
constexpr Entity kEntities[] = {
    {225, "&aacute;"}, {233, "&eacute;"}, {237, "&iacute;"}, {243, "&oacute;"},
    {250, "&uacute;"}, {253, "&yacute;"}, {211, "&Oacute;"}, {193, "&Aacute;"},
    {205, "&Iacute;"}, {201, "&Eacute;"}, {218, "&Uacute;"}, {221, "&Yacute;"},
    {224, "&agrave;"}, {232, "&egrave;"}, {236, "&igrave;"}, {242, "&ograve;"},
    {249, "&ugrave;"}, {192, "&Agrave;"}, {200, "&Egrave;"}, {204, "&Igrave;"},
    {210, "&Ograve;"}, {217, "&Ugrave;"}, {228, "&auml;"},   {235, "&euml;"},
    {239, "&iuml;"},   {246, "&ouml;"},   {252, "&uuml;"},   {196, "&Auml;"},
    {203, "&Euml;"},   {207, "&Iuml;"},   {214, "&Ouml;"},   {220, "&Uuml;"},
    {226, "&acirc;"},  {234, "&ecirc;"},  {238, "&icirc;"},  {244, "&ocirc;"},
    {251, "&ucirc;"},  {194, "&Acirc;"},  {202, "&Ecirc;"},  {206, "&Icirc;"},
    {212, "&Ocirc;"},  {219, "&Ucirc;"},  {227, "&atilde;"}, {241, "&ntilde;"},
    {245, "&otilde;"}, {195, "&Atilde;"}, {209, "&Ntilde;"}, {213, "&Otilde;"},
    {231, "&ccedil;"}, {199, "&Ccedil;"}, {248, "&ordmas;"}, {191, "&questi;"},
};

struct EntityTable {
  std::array<char[2], 256> self;        // the byte as a one-byte text
  std::array<const char*, 256> entity;  // entity text, or nullptr
};

const EntityTable& entity_table() {
  static const EntityTable table = [] {
    EntityTable t{};
    for (int b = 0; b < 256; ++b) {
      t.self[b][0] = static_cast<char>(b);
      t.self[b][1] = '\0';
      t.entity[b] = nullptr;
    }
    for (const Entity& e : kEntities) t.entity[e.byte] = e.text;
    return t;
  }();
  return table;
}

}  // namespace

FILE* X_output() { return redirection ? redirection : stdout; }

bool X_reaches_output_reader(FILE* stream) {
  struct stat target, out;
  if (fstat(fileno(stream), &target) != 0) return true;
  if (!S_ISREG(target.st_mode)) return true;
  return fstat(fileno(stdout), &out) == 0 && out.st_dev == target.st_dev &&
         out.st_ino == target.st_ino;
}

namespace {
bool body_open = true;
}  // namespace

bool X_body_open() { return body_open; }
void X_set_body_open(bool open) { body_open = open; }

FILE* X_redirect(FILE* stream) {
  if (stream && stream != stdout && X_output_pending() && X_reaches_output_reader(stream))
    X_output_flush();
  FILE* previous = redirection;
  redirection = stream;
  return previous;
}

const char* HTML_string(unsigned char byte) {
  const EntityTable& t = entity_table();
  return t.entity[byte] ? t.entity[byte] : t.self[byte];
}

// The interpreter writes its output from one thread: stdio's lock would only
// cost time, most of what a short write takes.
void X_putchar(unsigned char byte) {
  FILE* out = X_output();
  if (HTML) {
    const char* entity = entity_table().entity[byte];
    if (entity) {
      fputs_unlocked(entity, out);
      return;
    }
  }
  putc_unlocked(byte, out);
}

void X_write(const char* text, size_t len) {
  FILE* out = X_output();
  if (!HTML) {
    fwrite_unlocked(text, 1, len, out);
    return;
  }
  // Every byte written as an entity has its high bit set: plain ASCII text,
  // most of any page, is found so eight bytes at a time and written at once.
  size_t ascii = 0;
  for (uint64_t word; ascii + sizeof word <= len; ascii += sizeof word) {
    std::memcpy(&word, text + ascii, sizeof word);
    if (word & 0x8080808080808080ull) break;
  }
  const EntityTable& t = entity_table();
  size_t run = 0;
  for (size_t i = ascii; i < len; ++i) {
    const char* entity = t.entity[static_cast<unsigned char>(text[i])];
    if (!entity) continue;
    fwrite_unlocked(text + run, 1, i - run, out);
    fputs_unlocked(entity, out);
    run = i + 1;
  }
  fwrite_unlocked(text + run, 1, len - run, out);
}

void X_fflush(FILE* stream) {
  if (DO_fflush && FlushLines) std::fflush(stream);
}

void X_output_init() { std::setvbuf(stdout, page_buffer, _IOFBF, sizeof page_buffer); }

bool X_output_pending() { return __fpending(stdout) != 0; }

void X_output_flush() {
  holding = false;
  if (X_output_pending()) std::fflush(stdout);
}

void X_output_due() {
  size_t pending = __fpending(stdout);
  if (pending == 0) {
    holding = false;
    return;
  }
  bool fresh = !holding || pending < held;
  held = pending;
  if (fresh) {
    holding = true;
    clock_gettime(CLOCK_MONOTONIC, &holding_since);
    return;
  }
  struct timespec now;
  clock_gettime(line_clock, &now);
  long long waited_ns = (now.tv_sec - holding_since.tv_sec) * 1000000000LL +
                        (now.tv_nsec - holding_since.tv_nsec);
  if (waited_ns >= kOutputDelayMs * 1000000LL) X_output_flush();
}
