// Assignment lines: a tag holding a variable name directly followed by an
// operator mark, such as "<@count>+= 1".
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "vandrel/core/argument_split.h"
#include "vandrel/core/numbers.h"
#include "vandrel/statements/assign_command.h"
#include "vandrel/core/line_buffer.h"
#include "vandrel/core/variable_store.h"
#include "vandrel/core/trace.h"
#include "vandrel/values/substitution.h"

namespace {

enum class Op { kSet, kAdd, kMultiply, kDivide, kRemainder, kSubtract, kAppendVar, kAppend,
                kIncrement, kDecrement };

struct Mark {
  const char* text;
  Op op;
};

// Tried in this order on the substituted line.
constexpr Mark kMarks[] = {
    {">=", Op::kSet},          {">+=", Op::kAdd},       {">*=", Op::kMultiply},
    {">/=", Op::kDivide},      {">%=", Op::kRemainder}, {">-=", Op::kSubtract},
    {">$=", Op::kAppendVar},   {">;=", Op::kAppend},    {">++", Op::kIncrement},
    {">--", Op::kDecrement},
};

constexpr int kNoMark = sizeof kMarks / sizeof kMarks[0];

// The mark that applies to `text`: of the marks it holds, the first in table
// order, at its first occurrence (`*at`). kNoMark when it holds none. One
// pass over the text, since every assignment line is scanned twice.
int find_mark(const char* text, const char** at) {
  int best = kNoMark;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p != '>') continue;
    for (int m = 0; m < best; ++m) {
      const char* mark = kMarks[m].text;
      if (p[1] == mark[1] && (mark[2] == '\0' || p[2] == mark[2])) {
        best = m;
        *at = p;
        break;
      }
    }
    if (best == 0) break;  // no later mark can come before the first in table order
  }
  return best;
}

// 32-bit arithmetic that wraps instead of overflowing: the smallest integer
// divided by -1 gives itself, and its remainder is 0.
int32_t wrap(int64_t n) { return static_cast<int32_t>(static_cast<uint32_t>(n)); }

int32_t divide(int32_t a, int32_t b) {
  if (b == 0) b = 1;
  if (b == -1) return wrap(-static_cast<int64_t>(a));
  return a / b;
}

int32_t remainder_of(int32_t a, int32_t b) {
  if (b == 0) b = 1;
  if (b == -1) return 0;
  return a % b;
}

// Room for any 32-bit integer and its NUL.
constexpr size_t kNumberSize = 12;

const char* put_int(char* out, int32_t n) {
  *std::to_chars(out, out + kNumberSize - 1, n).ptr = '\0';
  return out;
}

// The new value: `arg` itself, a number written into `number`
// (kNumberSize bytes), or a joined text written into `joined` (kLineSize
// bytes, given for the joining operators only).
const char* compute(Op op, const char* old, const char* arg, char* number, char* joined) {
  int32_t a = X_atoi(arg);
  switch (op) {
    case Op::kSet:
      return arg;
    case Op::kAdd:
      return put_int(number, wrap(int64_t{old ? X_atoi(old) : 0} + a));
    case Op::kSubtract:
      return put_int(number, wrap(int64_t{old ? X_atoi(old) : 0} - a));
    case Op::kMultiply:
      return put_int(number, wrap(int64_t{old ? X_atoi(old) : 1} * a));
    case Op::kDivide:
      return put_int(number, divide(old ? X_atoi(old) : 1, a));
    case Op::kRemainder:
      return put_int(number, old ? remainder_of(X_atoi(old), a) : 0);
    case Op::kAppendVar: {
      const char* other = X_get_value(arg);
      std::snprintf(joined, kLineSize, "%s%s", old ? old : "", other ? other : "");
      return joined;
    }
    case Op::kAppend:
      std::snprintf(joined, kLineSize, "%s%s", old ? old : "", arg);
      return joined;
    case Op::kIncrement:
      return put_int(number, old ? wrap(int64_t{X_atoi(old)} + 1) : 1);
    case Op::kDecrement:
      return put_int(number, old ? wrap(int64_t{X_atoi(old)} - 1) : -1);
  }
  return arg;
}

}  // namespace

int X_let(X_FILE* /*file*/, char* line, int& compile, int ignore) {
  const char* raw = line + 2;  // after "<@"
  const char* at_raw = nullptr;
  if (find_mark(raw, &at_raw) == kNoMark) return -1;
  if (ignore) return 0;
  X_trace("X_let: {%s} compile: %d  ignore: %d \n", line, compile, ignore);
  LineBuffer text;
  X_transline(raw, text.data(), kLineSize, compile);
  X_debug("%s // %s \n", line, text.data());

  const char* found = nullptr;
  int m = find_mark(text.data(), &found);
  if (m == kNoMark) {
    X_trace("X_let: ### ERROR : did not find a command!!!");
    return -1;
  }
  const Mark* mark = &kMarks[m];
  char* at = text.data() + (found - text.data());
  *at = '\0';  // the name ends at the mark's ">"
  const char* name = text.data();
  LineBuffer arg;
  X_arg_string(at + std::strlen(mark->text), arg.data(), kLineSize);

  // Found once: computing the value neither sets nor removes a variable.
  X_USER* user = X_get_user(name);
  const char* old = user ? X_user_value(user) : nullptr;
  if (!user && Trace) X_trace("X_get_value: not found {%s} \n", name);
  char number[kNumberSize];
  const bool joins = mark->op == Op::kAppendVar || mark->op == Op::kAppend;
  std::optional<LineBuffer> joined;
  if (joins) joined.emplace();
  const char* value =
      compute(mark->op, old, arg.data(), number, joins ? joined->data() : nullptr);
  int rc = user ? X_put_user_value(user, value) : X_put_value(name, value, 0, 0);
  return rc == 0 ? 0 : -1;
}
