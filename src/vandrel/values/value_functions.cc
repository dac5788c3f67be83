// Evaluation of one value reference: escapes, value functions, built-in
// values and variables, tried in a fixed order (a table of rules).
#include "vandrel/values/value_functions.h"

#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vandrel/core/arena.h"
#include "vandrel/core/clock.h"
#include "vandrel/core/errors.h"
#include "vandrel/core/line_buffer.h"
#include "vandrel/core/open_streams.h"
#include "vandrel/core/trace.h"
#include "vandrel/core/variable_store.h"
#include "vandrel/values/dates.h"
#include "vandrel/values/expr_parser.h"
#include "vandrel/values/printf_format.h"
#include "vandrel/values/scramble.h"
#include "vandrel/values/substitution.h"
#include "vandrel/values/text_escapes.h"
#include "vandrel/values/value_sink.h"

namespace {

// Date picture formats and the names they apply to are at most 99 bytes.
constexpr size_t kMaxDateField = 99;
constexpr size_t kMaxIntFormat = 39;
constexpr size_t kMaxPrintfFormat = 79;
constexpr int kVersion = 760;

// The value of reference `ref`, copied into `buf` (kLineSize bytes).
char* value_of(const char* ref, LineBuffer& buf) {
  ValueSink sink(buf.data(), kLineSize);
  X_transvalue_into(ref, sink);
  return buf.data();
}

// Leading blanks removed, runs of blanks squeezed to one, one trailing blank
// removed; in place.
void trim_blanks(char* text) {
  char* out = text;
  bool blank = true;  // drops leading blanks
  for (const char* in = text; *in; ++in) {
    if (*in == ' ') {
      if (!blank) *out++ = ' ';
      blank = true;
    } else {
      *out++ = *in;
      blank = false;
    }
  }
  if (out > text && out[-1] == ' ') --out;
  *out = '\0';
}

void escape_tab(const char*, const char*, ValueSink& sink) { sink.value("\t"); }
void escape_newline(const char*, const char*, ValueSink& sink) { sink.value("\n"); }
void escape_return(const char*, const char*, ValueSink& sink) { sink.value("\r"); }

void fn_txt2url(const char*, const char* rest, ValueSink& sink) {
  LineBuffer value;
  value_of(rest, value);
  static char encoded[3 * kLineSize + 1];
  escape_url(value.data(), encoded, sizeof encoded);
  sink.value(encoded);
}

void fn_url2txt(const char*, const char* rest, ValueSink& sink) {
  LineBuffer value;
  value_of(rest, value);
  unescape_url(value.data());
  sink.value(value.data());
}

// Markup characters as entities. Entity conversion of the output leaves
// these bytes alone (it converts Latin-1 letters only), so the result shows
// escaped exactly once, on the page as in a command's buffer.
void fn_txt2html(const char*, const char* rest, ValueSink& sink) {
  LineBuffer value;
  value_of(rest, value);
  static char escaped[6 * kLineSize + 1];  // "&quot;" is the longest: 6 per byte
  size_t len = 0;
  for (const char* p = value.data(); *p; ++p) {
    const char* entity = nullptr;
    switch (*p) {
      case '&':
        entity = "&amp;";
        break;
      case '<':
        entity = "&lt;";
        break;
      case '>':
        entity = "&gt;";
        break;
      case '"':
        entity = "&quot;";
        break;
      case '\'':
        entity = "&#39;";
        break;
      default:
        escaped[len++] = *p;
        continue;
    }
    size_t n = std::strlen(entity);
    std::memcpy(escaped + len, entity, n);
    len += n;
  }
  sink.value(escaped, len);
}

void fn_trim(const char*, const char* rest, ValueSink& sink) {
  LineBuffer value;
  value_of(rest, value);
  X_trace("trim_buff: IN= {%s}", value.data());
  trim_blanks(value.data());
  X_trace("trim_buff: OUT= {%s}", value.data());
  sink.value(value.data());
}

void fn_lower(const char*, const char* rest, ValueSink& sink) {
  LineBuffer value;
  lowercase(value_of(rest, value));
  sink.value(value.data());
}

void fn_upper(const char*, const char* rest, ValueSink& sink) {
  LineBuffer value;
  uppercase(value_of(rest, value));
  sink.value(value.data());
}

void fn_crypt(const char*, const char* rest, ValueSink& sink) {
  LineBuffer value;
  value_of(rest, value);
  static char hex[2 * kLineSize + 1];
  X_crypt(value.data(), hex, sizeof hex);
  sink.value(hex);
}

// Splits "R:FORMAT" of the date functions; false after a fatal error.
bool split_date_args(const char* function, const char* rest, char* name, char* format) {
  const char* colon = std::strchr(rest, ':');
  if (!colon) {
    ERRMSG("Bad format for %s: %s \n", function, rest);
    return false;
  }
  size_t name_len = colon - rest;
  if (name_len > kMaxDateField || std::strlen(colon + 1) > kMaxDateField) {
    ERRMSG("Too long name(s) for %s: %s \n", function, rest);
    return false;
  }
  std::memcpy(name, rest, name_len);
  name[name_len] = '\0';
  std::strcpy(format, colon + 1);
  return true;
}

void fn_dt2str(const char*, const char* rest, ValueSink& sink) {
  char name[kMaxDateField + 1];
  char format[kMaxDateField + 1];
  if (!split_date_args("dt2str", rest, name, format)) return;
  X_trace("### dt2str ==> %s \n", rest);
  LineBuffer value;
  value_of(name, value);
  LineBuffer text;
  X_dt2str(std::atol(value.data()), format, text.data(), kLineSize);
  sink.value(text.data());
}

void fn_str2dt(const char*, const char* rest, ValueSink& sink) {
  char name[kMaxDateField + 1];
  char format[kMaxDateField + 1];
  if (!split_date_args("str2dt", rest, name, format)) return;
  LineBuffer value;
  value_of(name, value);
  long dt = 0;
  X_str2dt(value.data(), format, &dt);
  X_put_number(sink, dt);
}

// A text too short to hold a date is shown as it is.
void fn_year(const char*, const char* rest, ValueSink& sink) {
  LineBuffer value;
  date_YEAR(value_of(rest, value));
  sink.value(value.data());
}

void fn_month(const char*, const char* rest, ValueSink& sink) {
  LineBuffer value;
  date_MONTH(value_of(rest, value));
  sink.value(value.data());
}

void fn_day(const char*, const char* rest, ValueSink& sink) {
  LineBuffer value;
  date_DAY(value_of(rest, value));
  sink.value(value.data());
}

void fn_len(const char*, const char* rest, ValueSink& sink) {
  LineBuffer value;
  X_put_number(sink, static_cast<long>(std::strlen(value_of(rest, value))));
}

void fn_cut(const char*, const char* rest, ValueSink& sink) {
  const char* colon = std::strchr(rest, ':');
  if (!colon) return;
  int n = std::atoi(rest);
  X_value_limit = n > 0 ? n : -1;
  X_transvalue_into(colon + 1, sink);
  X_value_limit = -1;
}

void fn_str(const char*, const char* rest, ValueSink& sink) {
  const char* first = std::strchr(rest, ':');
  const char* second = first ? std::strchr(first + 1, ':') : nullptr;
  if (!second) return;
  long from = std::atol(rest);
  long to = std::atol(first + 1);
  if (from < 1 || to < 1 || to < from) return;
  LineBuffer value;
  size_t len = std::strlen(value_of(second + 1, value));
  if (len < static_cast<size_t>(from - 1)) return;
  size_t end = static_cast<size_t>(to) < len ? static_cast<size_t>(to) : len;
  sink.value(value.data() + from - 1, end - (from - 1));
}

void fn_word(const char*, const char* rest, ValueSink& sink) {
  const char* colon = std::strchr(rest, ':');
  if (!colon) return;
  int n = std::atoi(colon + 1);
  if (n == -1) return;
  LineBuffer name;
  size_t name_len = colon - rest;
  std::memcpy(name.data(), rest, name_len);
  name.data()[name_len] = '\0';
  LineBuffer value;
  char* text = value_of(name.data(), value);
  trim_blanks(text);
  char* save = nullptr;
  int index = 1;
  for (char* w = strtok_r(text, " \t", &save); w; w = strtok_r(nullptr, " \t", &save), ++index) {
    if (index == n) {
      sink.value(w);
      return;
    }
  }
}

void fn_int(const char*, const char* rest, ValueSink& sink) {
  const char* colon = std::strchr(rest, ':');
  if (!colon || static_cast<size_t>(colon - rest) > kMaxIntFormat) return;
  char format[kMaxIntFormat + 1];
  std::memcpy(format, rest, colon - rest);
  format[colon - rest] = '\0';
  char out[512];
  if (format_int(format, std::atoi(colon + 1), out, sizeof out)) sink.value(out);
}

void fn_printf(const char*, const char* rest, ValueSink& sink) {
  const char* colon = std::strchr(rest, ':');
  if (!colon) return;
  size_t format_len = colon - rest;
  if (format_len > kMaxPrintfFormat) format_len = kMaxPrintfFormat;
  char format[kMaxPrintfFormat + 1];
  std::memcpy(format, rest, format_len);
  format[format_len] = '\0';
  const char* value = X_get_value(colon + 1);
  if (!value) return;
  char out[kLineSize];
  if (format_value(format, value, out, sizeof out)) sink.value(out);
}

void fn_ftell(const char*, const char* rest, ValueSink& sink) {
  const x_OPEN* slot = X_find_open(rest);
  X_put_number(sink, slot ? std::ftell(slot->fp) : -1L);
}

void fn_expr(const char* ref, const char* rest, ValueSink& sink) {
  int v_int = 0;
  float v_float = 0;
  char out[512];
  switch (EXPR_parser(rest, &v_int, &v_float)) {
    case 1:
      std::snprintf(out, sizeof out, "%d", v_int);
      break;
    case 2:
      std::snprintf(out, sizeof out, "%f", static_cast<double>(v_float));
      break;
    default:
      ERRMSG("EXPR error: %s \n", ref);
      return;  // reporting is locked: the failed reference shows nothing
  }
  sink.value(out);
}

void fn_env(const char*, const char* rest, ValueSink& sink) {
  const char* value = std::getenv(rest);
  if (value) sink.value(value);
}

void fn_today(const char*, const char*, ValueSink& sink) {
  static X_heap* scratch = X_heap_new();
  X_heap_reduce(scratch);
  const char* today = X_today(scratch);
  if (today) sink.value(today);
}

void fn_dt(const char*, const char*, ValueSink& sink) {
  X_put_number(sink, static_cast<long>(X_now().seconds));
}

void fn_udt(const char*, const char*, ValueSink& sink) {
  ClockTime now = X_now();
  char out[48];
  std::snprintf(out, sizeof out, "%ld.%06d", static_cast<long>(now.seconds),
                static_cast<int>(now.microseconds));
  sink.value(out);
}

void fn_ddt(const char*, const char*, ValueSink& sink) { X_put_number(sink, GetDDT()); }

void fn_random(const char*, const char*, ValueSink& sink) {
  static bool seeded = false;
  if (!seeded) {
    srandom(static_cast<unsigned>(getpid()));
    seeded = true;
  }
  X_put_number(sink, random());
}

void fn_version(const char*, const char*, ValueSink& sink) { X_put_number(sink, kVersion); }
void put_tree_count(const avl_tree& tree, ValueSink& sink) {
  int longest = 0;
  int count = count_tree(tree.root, &longest);
  char out[48];
  std::snprintf(out, sizeof out, "%d [%d]", count, longest);
  sink.value(out);
}

void fn_nval(const char*, const char*, ValueSink& sink) { put_tree_count(x_BUFFERS.vtree, sink); }
void fn_nfun(const char*, const char*, ValueSink& sink) { put_tree_count(x_BUFFERS.ftree, sink); }
void fn_errmsg(const char*, const char*, ValueSink& sink) { sink.value(X_ERRMSG); }

enum class Match { kPrefix, kExact };

struct ValueRule {
  const char* name;
  Match match;
  ValueFunction rule;  // nullptr: supplied by a higher room
};

// Tried in this order; the first that applies decides. Built-in names matched
// by prefix hide every variable whose name begins with them. The functions of
// page calls, the page's folder, the shell escape and the database's figures
// are bound at start-up (X_bind_value_functions).
constexpr ValueRule kRules[] = {
    {"\\t", Match::kExact, escape_tab},
    {"\\n", Match::kExact, escape_newline},
    {"\\r", Match::kExact, escape_return},
    {"sh:", Match::kPrefix, nullptr},
    {"call:", Match::kPrefix, nullptr},
    {"txt2url:", Match::kPrefix, fn_txt2url},
    {"txt2html:", Match::kPrefix, fn_txt2html},
    {"url2txt:", Match::kPrefix, fn_url2txt},
    {"trim:", Match::kPrefix, fn_trim},
    {"lower:", Match::kPrefix, fn_lower},
    {"upper:", Match::kPrefix, fn_upper},
    {"crypt:", Match::kPrefix, fn_crypt},
    {"dt2str:", Match::kPrefix, fn_dt2str},
    {"str2dt:", Match::kPrefix, fn_str2dt},
    {"year:", Match::kPrefix, fn_year},
    {"month:", Match::kPrefix, fn_month},
    {"day:", Match::kPrefix, fn_day},
    {"len:", Match::kPrefix, fn_len},
    {"cut:", Match::kPrefix, fn_cut},
    {"str:", Match::kPrefix, fn_str},
    {"word:", Match::kPrefix, fn_word},
    {"int:", Match::kPrefix, fn_int},
    {"printf:", Match::kPrefix, fn_printf},
    {"ftell:", Match::kPrefix, fn_ftell},
    {"expr:", Match::kPrefix, fn_expr},
    {"env:", Match::kPrefix, fn_env},
    {"today", Match::kExact, fn_today},
    {"X_ROWS", Match::kPrefix, nullptr},
    {"X_DT", Match::kPrefix, fn_dt},
    {"X_UDT", Match::kPrefix, fn_udt},
    {"X_DDT", Match::kPrefix, fn_ddt},
    {"X_RANDOM", Match::kPrefix, fn_random},
    {"X_SQLCODE", Match::kPrefix, nullptr},
    {"X_VERSION", Match::kPrefix, fn_version},
    {"X_INSERT_ID", Match::kPrefix, nullptr},
    {"X_NVAL", Match::kPrefix, fn_nval},
    {"X_NFUN", Match::kPrefix, fn_nfun},
    {"X_ERRMSG", Match::kExact, fn_errmsg},
    {"DIR", Match::kExact, nullptr},
};

void show_variable(const char* name, ValueSink& sink) {
  const X_USER* user = X_get_user(name);
  if (!user) {
    if (Trace) X_trace("X_transvalue: no value for: [%s]", name);
    return;
  }
  const char* value = user->var.value;
  if (!value) return;
  // A bound variable's text lies in a shared window of fixed length and
  // need not end with a NUL.
  size_t len = user->fixed == kBound ? strnlen(value, X_window_length(user))
                                     : std::strlen(value);
  sink.value(value, len);
}

// The rules grouped by the first byte of their names, in table order: most
// references are plain variable names and need no rule lookup at all.
constexpr bool names_have_two_bytes() {
  for (const ValueRule& r : kRules)
    if (r.name[0] == '\0' || r.name[1] == '\0') return false;
  return true;
}
static_assert(names_have_two_bytes(), "a rule is told apart by its second byte first");

struct RuleIndex {
  uint8_t begin[257] = {};
  uint8_t rule[sizeof kRules / sizeof kRules[0]] = {};
  constexpr RuleIndex() {
    constexpr size_t n = sizeof kRules / sizeof kRules[0];
    size_t count[256] = {};
    for (const ValueRule& r : kRules) ++count[static_cast<unsigned char>(r.name[0])];
    for (int c = 0; c < 256; ++c) begin[c + 1] = static_cast<uint8_t>(begin[c] + count[c]);
    uint8_t next[256] = {};
    for (size_t i = 0; i < n; ++i) {
      unsigned char c = static_cast<unsigned char>(kRules[i].name[0]);
      rule[begin[c] + next[c]++] = static_cast<uint8_t>(i);
    }
  }
};
constexpr RuleIndex kRuleIndex;

constexpr size_t kRuleCount = sizeof kRules / sizeof kRules[0];

// The function of each rule: the built-in ones from the start, so that
// bindings made before main's first line find them in place.
struct FunctionTable {
  ValueFunction of_rule[kRuleCount] = {};
  constexpr FunctionTable() {
    for (size_t i = 0; i < kRuleCount; ++i) of_rule[i] = kRules[i].rule;
  }
};
constinit FunctionTable functions;

// The rule named `name`, or kRuleCount.
size_t rule_named(const char* name) {
  size_t i = 0;
  while (i < kRuleCount && std::strcmp(kRules[i].name, name) != 0) ++i;
  return i;
}

}  // namespace

bool X_bind_value_functions(const ValueFunctionBinding* rows, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (!rows[i].name || !rows[i].function || rule_named(rows[i].name) == kRuleCount) return false;
  for (size_t i = 0; i < count; ++i) functions.of_rule[rule_named(rows[i].name)] = rows[i].function;
  return true;
}

void X_put_number(ValueSink& sink, long n) {
  char text[24];
  auto end = std::to_chars(text, text + sizeof text, n).ptr;
  sink.value(text, end - text);
}

void X_transvalue_into(const char* ref, ValueSink& sink) {
  if (Trace) X_trace("X_transvalue: [%s]", ref);
  unsigned char first = static_cast<unsigned char>(ref[0]);
  for (int i = kRuleIndex.begin[first]; i < kRuleIndex.begin[first + 1]; ++i) {
    const ValueRule& r = kRules[kRuleIndex.rule[i]];
    // Every name has two bytes at least; most references part from a rule at
    // the second, without measuring its name.
    if (ref[1] != r.name[1]) continue;
    size_t n = std::strlen(r.name);
    if (std::strncmp(ref, r.name, n) != 0) continue;
    if (r.match == Match::kExact && ref[n] != '\0') continue;
    ValueFunction function = functions.of_rule[kRuleIndex.rule[i]];
    if (!function) continue;
    // A function may write to the output itself (call: runs page lines).
    sink.flush();
    function(ref, ref + n, sink);
    return;
  }
  show_variable(ref, sink);
}
