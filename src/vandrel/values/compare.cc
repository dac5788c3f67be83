#include "vandrel/values/compare.h"

#include <cstring>

#include "vandrel/core/errors.h"
#include "vandrel/core/patterns.h"
#include "vandrel/core/variable_store.h"
#include "vandrel/core/trace.h"

namespace {

enum class Op { kUnknown, kGe, kLe, kGt, kLt, kEq, kNe, kLike, kVlike, kNotLike, kNotVlike };

struct Spelling {
  const char* text;
  Op op;
};

constexpr Spelling kSpellings[] = {
    {">=", Op::kGe},
    {"&ge;", Op::kGe},
    {"&gt;=", Op::kGe},
    {"<=", Op::kLe},
    {"&le;", Op::kLe},
    {"&lt;=", Op::kLe},
    {">", Op::kGt},
    {"&gt;", Op::kGt},
    {"<", Op::kLt},
    {"&lt;", Op::kLt},
    {"=", Op::kEq},
    {"==", Op::kEq},
    {"!=", Op::kNe},
    {"like", Op::kLike},
    {"vlike", Op::kVlike},
    {"!like", Op::kNotLike},
    {"!vlike", Op::kNotVlike},
};

Op operator_of(const char* op) {
  if (op == nullptr) return Op::kUnknown;
  for (const Spelling& s : kSpellings) {
    if (op[0] == s.text[0] && std::strcmp(op, s.text) == 0) return s.op;
  }
  return Op::kUnknown;
}

bool is_pattern_op(Op op) {
  return op == Op::kLike || op == Op::kVlike || op == Op::kNotLike || op == Op::kNotVlike;
}

int truth(bool holds) {
  return holds ? 0 : -1;
}

// The reporter ends the run; when it returns, an earlier error is already
// being reported and the condition is simply false.
int unknown(const char* kind, const char* op) {
  ERRMSG("Unknown %s operator: %s \n", kind, op != nullptr ? op : "");
  return -1;
}

int match_variable(const char* name, const char* patt) {
  const char* value = X_get_value(name);
  if (value == nullptr) return -1;
  return X_CMPpatt(patt, value);
}

// Digits with an optional leading "-", over the first `len` bytes of `text`.
bool is_int(const char* text, size_t len) {
  for (size_t i = 0; i < len; ++i) {
    if (text[i] >= '0' && text[i] <= '9') continue;
    if (i == 0 && text[i] == '-') continue;
    return false;
  }
  return true;
}

// Value of `len` digits that passed is_int (a lone "-" or "" gives 0).
int value_of(const char* text, size_t len) {
  int v = 0;
  for (size_t i = 0; i < len; ++i) {
    if (text[i] >= '0' && text[i] <= '9') v = v * 10 + (text[i] - '0');
  }
  return text[0] == '-' ? -v : v;
}

constexpr int kDaysPerMonth[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

}  // namespace

int X_user_cmp(const char* first, const char* op, const char* second) {
  if (first == nullptr) first = "";
  if (second == nullptr) second = "";
  X_trace("X_user_cmp( %s, %s, %s )", first, op != nullptr ? op : "", second);
  Op o = operator_of(op);
  int c = std::strcmp(first, second);
  switch (o) {
    case Op::kGe:
      return truth(c >= 0);
    case Op::kLe:
      return truth(c <= 0);
    case Op::kGt:
      return truth(c > 0);
    case Op::kLt:
      return truth(c < 0);
    case Op::kEq:
      return truth(c == 0);
    case Op::kNe:
      return truth(c != 0);
    case Op::kLike:
      return X_CMPpatt(second, first);
    case Op::kNotLike:
      return truth(X_CMPpatt(second, first) != 0);
    case Op::kVlike:
      return match_variable(first, second);
    case Op::kNotVlike:
      return truth(match_variable(first, second) != 0);
    case Op::kUnknown:
      break;
  }
  return unknown("CMP", op);
}

int X_user_icmp(int first, const char* op, int second) {
  X_trace("X_user_icmp( %d, %s, %d )", first, op != nullptr ? op : "", second);
  Op o = operator_of(op);
  if (is_pattern_op(o)) o = Op::kUnknown;
  switch (o) {
    case Op::kGe:
      return truth(first >= second);
    case Op::kLe:
      return truth(first <= second);
    case Op::kGt:
      return truth(first > second);
    case Op::kLt:
      return truth(first < second);
    case Op::kEq:
      return truth(first == second);
    case Op::kNe:
      return truth(first != second);
    default:
      return unknown("ICMP", op);
  }
}

int X_user_fcmp(double first, const char* op, double second) {
  X_trace("X_user_fcmp( %f, %s, %f )", first, op != nullptr ? op : "", second);
  Op o = operator_of(op);
  if (is_pattern_op(o)) o = Op::kUnknown;
  // Written as negations on purpose: a NaN operand makes >=, <= and > true.
  switch (o) {
    case Op::kGe:
      return truth(!(first < second));
    case Op::kLe:
      return truth(!(second < first));
    case Op::kGt:
      return truth(!(first <= second));
    case Op::kLt:
      return truth(first < second);
    case Op::kEq:
      return truth(first == second);
    case Op::kNe:
      return truth(first != second);
    default:
      return unknown("FCMP", op);
  }
}

int X_check_int(const char* text) {
  if (text == nullptr) return -1;
  return truth(is_int(text, std::strlen(text)));
}

int X_check_float(const char* text) {
  if (text == nullptr) return -1;
  bool dot = false;
  for (size_t i = 0; text[i] != '\0'; ++i) {
    char c = text[i];
    if (c >= '0' && c <= '9') continue;
    if (i == 0 && c == '-') continue;
    if (c == '.' && !dot) {
      dot = true;
      continue;
    }
    return -1;
  }
  return 0;
}

int X_check_date(const char* text) {
  if (text == nullptr || std::strlen(text) != 10 || text[4] != '-' || text[7] != '-') return -1;
  if (!is_int(text, 4) || !is_int(text + 5, 2) || !is_int(text + 8, 2)) return -1;
  int month = value_of(text + 5, 2);
  int day = value_of(text + 8, 2);
  if (month < 1 || month > 12) return -1;
  return truth(day >= 1 && day <= kDaysPerMonth[month - 1]);
}

int X_get_int(const char* buff, char* val, int len) {
  if (val == nullptr) return -1;
  size_t n = 0;
  if (len > 0 && buff != nullptr) n = strnlen(buff, static_cast<size_t>(len));
  if (n > 0) std::memcpy(val, buff, n);
  val[n] = '\0';
  return truth(is_int(val, n));
}
