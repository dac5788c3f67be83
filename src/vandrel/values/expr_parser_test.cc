#include "vandrel/values/expr_parser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

namespace {

constexpr int kUntouchedInt = 12345;
constexpr float kUntouchedFloat = -42.5f;

struct Outcome {
  int rc;
  int i = kUntouchedInt;
  float f = kUntouchedFloat;
};

// Every call goes through an exact-size heap copy, so that a sanitizer build
// catches any read past the terminating NUL.
Outcome Eval(const std::string& text) {
  std::unique_ptr<char[]> buf(new char[text.size() + 1]);
  std::memcpy(buf.get(), text.c_str(), text.size() + 1);
  Outcome out{0};
  out.rc = EXPR_parser(buf.get(), &out.i, &out.f);
  return out;
}

std::optional<int> Int(const std::string& text) {
  const Outcome o = Eval(text);
  if (o.rc != kExprInteger) return std::nullopt;
  return o.i;
}

std::optional<float> Float(const std::string& text) {
  const Outcome o = Eval(text);
  if (o.rc != kExprFloating) return std::nullopt;
  return o.f;
}

// What the "expr:" value function shows in the page.
std::string Printed(const std::string& text) {
  const Outcome o = Eval(text);
  char buf[64];
  if (o.rc == kExprInteger)
    std::snprintf(buf, sizeof buf, "%d", o.i);
  else if (o.rc == kExprFloating)
    std::snprintf(buf, sizeof buf, "%f", o.f);
  else
    std::snprintf(buf, sizeof buf, "error %d", o.rc);
  return buf;
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int k = 0; k < n; ++k) out += s;
  return out;
}

struct Case {
  const char* text;
  int want;
};

void ExpectInts(const Case* cases, size_t n) {
  for (size_t k = 0; k < n; ++k) {
    SCOPED_TRACE(cases[k].text);
    EXPECT_EQ(Int(cases[k].text), cases[k].want);
  }
}

TEST(ExprParserTest, PrecedenceAndAssociativity) {
  const Case cases[] = {
      {"1+2*3", 7},  {"(1+2)*3", 9}, {"7-2-1", 4}, {"8/2/2", 2},      {"100%7%3", 2},
      {"2*3%4", 2},  {"7-3+1", 5},   {"1|2&3", 3}, {"1+2&3", 3},      {"6&3|8", 10},
      {"12&6+2", 8}, {"3|4*2", 11},  {"-1&3", 3},  {"-1|2", -1},      {"-2*3", -6},
      {"2*-3", -6},  {"2--3", 5},    {"--5", 5},   {"-(2+3)*2", -10}, {"((((7))))", 7},
      {"-7/2", -3},  {"-7%2", -1},   {"7/-2", -3}, {"7%-2", 1},
  };
  ExpectInts(cases, std::size(cases));
}

TEST(ExprParserTest, LiteralForms) {
  const Case cases[] = {
      {"010", 8},   {"019", 1},           {"08", 0},           {"0777", 511},  {"00", 0},
      {"0", 0},     {"0x20", 32},         {"0x10", 16},        {"0x0010", 16}, {"123", 123},
      {"2 * 3", 6}, {"  ( 1 + 2 )  ", 3}, {"0x10+010+10", 34},
  };
  ExpectInts(cases, std::size(cases));
  for (const char* bad :
       {"0x1f", "0xa", "0x", "0X10", ".5", "1e3", "1.5.5", "00.5", "010.", "0x1.5"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(Eval(bad).rc, kExprSyntaxError);
  }
}

TEST(ExprParserTest, OversizedLiteralsStickAtTheirMaximum) {
  // Decimal sticks at INT64_MAX (low word all ones, high word 0x7fffffff);
  // octal and hexadecimal at all 64 bits set, which reads as -1.
  EXPECT_EQ(Int("99999999999999999999"), -1);
  EXPECT_EQ(Int("99999999999999999999/4294967296"), 2147483647);
  EXPECT_EQ(Int("-(0x99999999999999999)"), 1);
  EXPECT_EQ(Int("-(07777777777777777777777)"), 1);
  // Fits in 64 bits but not in int64_t: the bit pattern is kept.
  EXPECT_EQ(Int("0x9999999999999999/4294967296"),
            static_cast<int>(static_cast<int64_t>(0x9999999999999999ULL) / 4294967296LL));
}

TEST(ExprParserTest, IntegerArithmeticIs64BitAndWraps) {
  const Case cases[] = {
      {"4294967297", 1},
      {"(2147483647+1)/2", 1073741824},  // no 32-bit overflow inside
      {"4294967296*3/4294967296", 3},
      {"(9223372036854775807+1)/4294967296", INT32_MIN},
      {"4294967296*4294967296", 0},
      {"(-9223372036854775807-1-1)/4294967296", INT32_MAX},
      {"-(-9223372036854775807-1)/4294967296", INT32_MIN},
      // The one quotient that does not fit wraps; its remainder is 0.
      {"(-9223372036854775807-1)/-1/4294967296", INT32_MIN},
      {"(-9223372036854775807-1)%-1+5", 5},
  };
  ExpectInts(cases, std::size(cases));
}

TEST(ExprParserTest, ZeroDivisorsFail) {
  for (const char* text : {"1/0", "1%0", "5/(3-3)", "0*(1/0)", "5.%0.5", "5.%(0-0.9)", "1.5%0"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Eval(text).rc, kExprArithmeticError);
  }
}

TEST(ExprParserTest, DotAnywhereSelectsFloatingMode) {
  EXPECT_EQ(Int("7/2"), 3);
  EXPECT_EQ(Float("7/2."), 3.5f);
  EXPECT_EQ(Float("010+0.5"), 8.5f);  // integer literal forms keep their value
  EXPECT_EQ(Float("0x10*1."), 16.0f);
  EXPECT_EQ(Float("4294967297+0.0"), 4294967297.0f);  // no 32-bit cut in this mode
  EXPECT_EQ(Printed("7.0/2"), "3.500000");
  EXPECT_EQ(Printed("0.1+0.2"), "0.300000");
  EXPECT_EQ(Printed("5."), "5.000000");
  // The result passes through single precision on its way out.
  EXPECT_EQ(Printed("16777217.0"), "16777216.000000");
  EXPECT_EQ(Float("1" + std::string(40, '0') + ".0"), INFINITY);
  // Division by zero is IEEE's, sign of zero included.
  EXPECT_EQ(Float("-1.0/0"), -INFINITY);
  EXPECT_EQ(Float("1.0/-(0.0)"), -INFINITY);
  EXPECT_TRUE(std::isnan(Float("0.0/0").value_or(0)));
}

TEST(ExprParserTest, FloatingBitwiseAndRemainderTruncateTo32Bits) {
  EXPECT_EQ(Printed("7.5%2"), "1.000000");
  EXPECT_EQ(Float("-7.5%2"), -1.0f);
  EXPECT_EQ(Float("7.9&3.9"), 3.0f);
  EXPECT_EQ(Float("1.5|2.5"), 3.0f);
  EXPECT_EQ(Float("-1.9&7"), 7.0f);  // -1.9 truncates to -1, not -2
  EXPECT_EQ(Float("2147483647.9|0"), 2147483647.0f);
  EXPECT_EQ(Float("-2147483648.9|0"), -2147483648.0f);
  // Out of the 32-bit range: the x86 "integer indefinite" value.
  EXPECT_EQ(Float("2147483648.0|0"), -2147483648.0f);
  EXPECT_EQ(Float("(0-2147483648.0)%(0-1.0)"), 0.0f);
}

TEST(ExprParserTest, MalformedTextFails) {
  for (const char* text : {"", "   ", "1+", "(1", "1)", "()", "+1", "1 2", "1<2", "a", "1&&1",
                           "2\t*3", "2*3\n", "\r1", "(1))", "1-", "*2"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Eval(text).rc, kExprSyntaxError);
  }
  EXPECT_EQ(EXPR_parser(nullptr, nullptr, nullptr), kExprSyntaxError);
}

TEST(ExprParserTest, BytesAbove127EndTheTextWithoutCompletingIt) {
  for (const char* text : {"5\x80", "1+\xc3\xa9", "\xff", "(2)\xa0", "1.5 \xfe"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Eval(text).rc, kExprSyntaxError);
  }
}

// Out-parameters change only for their own mode, and a failure leaves
// nothing behind for the next call.
TEST(ExprParserTest, CallsAreIndependent) {
  const Outcome whole = Eval("1+1");
  const Outcome fraction = Eval("1.5+1");
  EXPECT_EQ(whole.f, kUntouchedFloat);
  EXPECT_EQ(fraction.i, kUntouchedInt);
  for (const std::string& text : {std::string("1.5+(2*"), std::string("1/0"), std::string("1.0%0"),
                                  std::string(20000, '(') + "1"}) {
    const Outcome o = Eval(text);
    EXPECT_LT(o.rc, 0);
    EXPECT_EQ(o.i, kUntouchedInt);
    EXPECT_EQ(o.f, kUntouchedFloat);
    EXPECT_EQ(Int("(8/4)"), 2);
  }
  EXPECT_EQ(EXPR_parser("2*2", nullptr, nullptr), kExprInteger);
}

TEST(ExprParserTest, NestingUpToTheStackLimit) {
  // The stack holds the start state and one state per open parenthesis or
  // pending minus; it is full, and growth refused, at kExprStackLimit.
  auto parens = [](int n) { return std::string(n, '(') + "7" + std::string(n, ')'); };
  EXPECT_EQ(Int(parens(kExprStackLimit - 4)), 7);
  EXPECT_EQ(Eval(parens(kExprStackLimit - 3)).rc, kExprTooDeep);
  EXPECT_EQ(Int(std::string(kExprStackLimit - 3, '-') + "1"), -1);
  EXPECT_EQ(Eval(std::string(kExprStackLimit - 2, '-') + "1").rc, kExprTooDeep);
  EXPECT_EQ(Eval(parens(1000000)).rc, kExprTooDeep);

  // Values survive every growth of the stack: 3000 right-nested sums reach
  // 9000 states.
  EXPECT_EQ(Int(Repeat("1+(", 3000) + "1" + std::string(3000, ')')), 3001);
  // A flat chain never deepens the stack, however long.
  EXPECT_EQ(Int(Repeat("1+", 100000) + "1"), 100001);
}

}  // namespace
