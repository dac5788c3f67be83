// Arithmetic evaluator behind the value function "expr:". An expression over
// numeric literals is evaluated either entirely in 64-bit integers or, when a
// '.' appears anywhere in its text, entirely in long double.
//
// Operators, loosest first, binary ones left-associative:
//   |    bitwise or
//   &    bitwise and
//   + -  sum, difference
//   * / %  product, quotient (truncated toward zero), remainder (sign of the left side)
//   -    unary negation
// plus parentheses. Only the space is skipped between tokens.
//
// Integer + - * and negation wrap around modulo 2^64; INT64_MIN / -1 wraps to
// INT64_MIN and INT64_MIN % -1 is 0. In floating mode & | % work on both
// sides truncated toward zero to 32-bit ints (INT32_MIN when out of range or
// NaN), and / by zero gives an infinity or NaN.
//
// Literals: 0 followed by digits is octal and stops being read at the first 8
// or 9 (019 is 1); 0x followed by decimal digits is hexadecimal (0x20 is 32,
// 0x1f is invalid); anything else is decimal, with an optional '.' and
// fraction (5. is 5.0, .5 is invalid, there is no exponent). A decimal
// integer literal too large for 64 bits sticks at INT64_MAX, an octal or
// hexadecimal one at all 64 bits set (that is, -1).
#ifndef VANDREL_VALUES_EXPR_PARSER_H_
#define VANDREL_VALUES_EXPR_PARSER_H_

// Results of EXPR_parser.
constexpr int kExprInteger = 1;       // integer mode; *v_int holds the result
constexpr int kExprFloating = 2;      // floating mode; *v_float holds the result
constexpr int kExprSyntaxError = -1;  // unparsable or empty text, unknown character, byte >= 128
constexpr int kExprArithmeticError = -2;  // integer / or %, or floating %, by 0 (after truncation)
constexpr int kExprTooDeep = -3;          // nesting deeper than the parser stack allows

// Parser stack limits, in states: the stack starts with room for
// kExprStackInitial and doubles up to kExprStackLimit.
constexpr int kExprStackInitial = 200;
constexpr int kExprStackLimit = 10000;

// Evaluates the NUL-terminated `expr` (not changed; nullptr counts as empty).
// Integer mode stores the low 32 bits of the 64-bit result in *v_int; floating
// mode stores the result rounded to float in *v_float. The other out-parameter,
// and both on failure, are left untouched; a null out-parameter is skipped.
// Returns one of the kExpr* results above; every failure is negative. Keeps no
// state between calls.
int EXPR_parser(const char* expr, int* v_int, float* v_float);

#endif  // VANDREL_VALUES_EXPR_PARSER_H_
