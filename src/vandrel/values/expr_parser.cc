// Scanner and arithmetic of the "expr:" evaluator; the grammar that drives
// them is expr_grammar.y.
#include "vandrel/values/expr_parser.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <system_error>

#include "vandrel/values/expr_grammar.h"

// The floating result is handed out as a float, and values beyond float's
// range must come out as infinities rather than being undefined.
static_assert(std::numeric_limits<float>::is_iec559 &&
                  std::numeric_limits<long double>::has_infinity &&
                  std::numeric_limits<long double>::has_quiet_NaN,
              "floating mode relies on IEEE arithmetic");

namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

const char* skip_digits(const char* p) {
  while (is_digit(*p)) ++p;
  return p;
}

// Reads an integer literal the way scanf's %lld, %llo and %llx do: a digit
// the base does not know ends the number (so octal 019 is 1), and a value too
// large sticks at `max` (INT64_MAX for the signed decimal conversion, all ones
// for the unsigned octal and hexadecimal ones).
uint64_t read_integer(const char* begin, const char* end, unsigned base, uint64_t max) {
  uint64_t value = 0;
  for (const char* p = begin; p < end && is_digit(*p); ++p) {
    const unsigned digit = static_cast<unsigned>(*p - '0');
    if (digit >= base) break;
    if (value > (max - digit) / base) return max;
    value = value * base + digit;
  }
  return value;
}

// Reads "digits.digits" into long double without regard to the locale. Such a
// literal can leave the range only by thousands of digits; it then becomes
// what strtold gives: an infinity when the integer part is not zero, else 0.
long double read_fraction(const char* begin, const char* end) {
  long double value = 0;
  const auto [ptr, ec] = std::from_chars(begin, end, value, std::chars_format::fixed);
  if (ec == std::errc::result_out_of_range)
    return *begin == '0' ? 0.0L : std::numeric_limits<long double>::infinity();
  if (ec != std::errc()) return 0.0L;  // cannot happen for the digits the scanner takes
  return value;
}

// Float-mode &, | and % work on 32-bit ints, truncating toward zero. An
// operand outside that range (or NaN) becomes INT32_MIN, the "integer
// indefinite" value an x86 conversion produces, instead of being undefined.
int32_t truncate32(long double x) {
  if (std::isnan(x) || x <= -2147483649.0L || x >= 2147483648.0L)
    return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(x);
}

// Integer arithmetic goes through uint64_t so that overflow wraps instead of
// being undefined.
int64_t wrap(uint64_t x) {
  return static_cast<int64_t>(x);
}

int64_t integer_op(char op, int64_t a, int64_t b) {
  const uint64_t ua = static_cast<uint64_t>(a);
  const uint64_t ub = static_cast<uint64_t>(b);
  switch (op) {
    case '+':
      return wrap(ua + ub);
    case '-':
      return wrap(ua - ub);
    case '*':
      return wrap(ua * ub);
    // Callers rule out b == 0. INT64_MIN / -1 is the one quotient that does
    // not fit: it wraps to INT64_MIN, like the other operators, and the
    // matching remainder is 0.
    case '/':
      return b == -1 ? wrap(0 - ua) : a / b;
    case '%':
      return b == -1 ? 0 : a % b;
    case '&':
      return a & b;
    default:
      return a | b;
  }
}

// IEEE quotient by zero spelled out, since the language leaves x / 0
// undefined: NaN for 0/0 and NaN/0, else an infinity signed by both operands.
long double divide_by_zero(long double a, long double b) {
  if (a == 0 || std::isnan(a)) return std::numeric_limits<long double>::quiet_NaN();
  const long double inf = std::numeric_limits<long double>::infinity();
  return std::signbit(a) != std::signbit(b) ? -inf : inf;
}

}  // namespace

int expr_yylex(EXPR_YYSTYPE* lval, ExprState* st) {
  const char* const text = st->text;
  while (text[st->pos] == ' ') ++st->pos;
  const char* const start = text + st->pos;
  const unsigned char c = static_cast<unsigned char>(*start);
  if (c == '\0') return EXPR_TOK_END;
  // A byte outside ASCII ends the stream without END, so the parse fails.
  if (c >= 128) return EXPR_TOK_YYEOF;
  if (!is_digit(*start)) {
    ++st->pos;
    switch (c) {
      case '|':
      case '&':
      case '+':
      case '-':
      case '*':
      case '/':
      case '%':
      case '(':
      case ')':
        return c;
      default:
        return EXPR_TOK_EXPR_YYUNDEF;
    }
  }

  // Each test reads a byte only after the one before it proved not to be
  // the terminating NUL.
  const uint64_t kAllOnes = std::numeric_limits<uint64_t>::max();
  const char* end;
  uint64_t bits = 0;
  bool fraction = false;
  if (c == '0' && is_digit(start[1])) {
    end = skip_digits(start + 1);
    bits = read_integer(start, end, 8, kAllOnes);
  } else if (c == '0' && start[1] == 'x' && is_digit(start[2])) {
    // Only decimal digits follow the x: 0x1f scans as 0x1 and an unknown f.
    end = skip_digits(start + 2);
    bits = read_integer(start + 2, end, 16, kAllOnes);
  } else {
    end = skip_digits(start);
    if (*end == '.') {
      end = skip_digits(end + 1);
      fraction = true;
    } else {
      bits = read_integer(start, end, 10, std::numeric_limits<int64_t>::max());
    }
  }
  st->pos = static_cast<size_t>(end - text);

  // Octal and hexadecimal values above INT64_MAX read as negative, as the
  // 64-bit pattern scanf stores for them.
  lval->i = wrap(bits);
  lval->f = fraction ? read_fraction(start, end) : static_cast<long double>(lval->i);
  return EXPR_TOK_NUMBER;
}

void expr_yyerror(ExprState* /*st*/, const char* /*message*/) {
  // The caller reports failures from the return code.
}

ExprValue expr_negate(const ExprState* st, ExprValue a) {
  ExprValue r{};
  if (st->floating)
    r.f = -a.f;
  else
    r.i = wrap(0 - static_cast<uint64_t>(a.i));
  return r;
}

bool expr_apply(ExprState* st, char op, ExprValue a, ExprValue b, ExprValue* out) {
  *out = ExprValue{};
  if (!st->floating) {
    if ((op == '/' || op == '%') && b.i == 0) {
      st->fault = kExprArithmeticError;
      return false;
    }
    out->i = integer_op(op, a.i, b.i);
    return true;
  }
  switch (op) {
    case '+':
      out->f = a.f + b.f;
      return true;
    case '-':
      out->f = a.f - b.f;
      return true;
    case '*':
      out->f = a.f * b.f;
      return true;
    case '/':
      out->f = b.f == 0 ? divide_by_zero(a.f, b.f) : a.f / b.f;
      return true;
    default:
      break;
  }
  const int32_t x = truncate32(a.f);
  const int32_t y = truncate32(b.f);
  int32_t r;
  if (op == '%') {
    if (y == 0) {
      st->fault = kExprArithmeticError;
      return false;
    }
    r = y == -1 ? 0 : x % y;  // INT32_MIN % -1 would trap
  } else {
    r = op == '&' ? (x & y) : (x | y);
  }
  out->f = r;
  return true;
}

int EXPR_parser(const char* expr, int* v_int, float* v_float) {
  ExprState st{};
  st.text = expr != nullptr ? expr : "";
  st.floating = std::strchr(st.text, '.') != nullptr;
  const int rc = expr_yyparse(&st);
  if (rc == 2) return kExprTooDeep;  // the parser stack reached its limit
  if (st.fault != 0) return st.fault;
  if (rc != 0 || !st.done) return kExprSyntaxError;
  if (st.floating) {
    if (v_float != nullptr) *v_float = static_cast<float>(st.result.f);
    return kExprFloating;
  }
  // Modular narrowing: the low 32 bits, as a signed int.
  if (v_int != nullptr) *v_int = static_cast<int32_t>(static_cast<uint32_t>(st.result.i));
  return kExprInteger;
}
