// Functions that a higher room binds to the value-function table's names.
#include "vandrel/values/value_functions.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "vandrel/core/clock.h"
#include "vandrel/core/test_support.h"
#include "vandrel/core/variable_store.h"
#include "vandrel/values/substitution.h"
#include "vandrel/values/value_sink.h"

namespace {

std::string value(const char* ref) {
  char out[256];
  X_transvalue(ref, out, sizeof out);
  return out;
}

void answer(const char*, const char* rest, ValueSink& sink) {
  sink.value("bound:");
  sink.value(rest);
}

using ValueFunctionsTest = InterpreterTest;

TEST_F(ValueFunctionsTest, UnboundNamesReadTheirVariableAndARefusedSetBindsNone) {
  X_put_value("X_ROWS", "a variable", 0, 0);
  X_put_value("DIR", "another", 0, 0);
  EXPECT_EQ(value("X_ROWS"), "a variable");
  EXPECT_EQ(value("len:DIR"), "7");  // built-in functions need no binding

  const ValueFunctionBinding refused[] = {{"X_ROWS", answer}, {"X_NOSUCH", answer}};
  EXPECT_FALSE(X_bind_value_functions(refused, 2));
  EXPECT_EQ(value("X_ROWS"), "a variable");

  const ValueFunctionBinding rows[] = {{"X_ROWS", answer}, {"DIR", answer}};
  ASSERT_TRUE(X_bind_value_functions(rows, 2));
  EXPECT_EQ(value("X_ROWS7"), "bound:7");  // matched by prefix, as the table says
  EXPECT_EQ(value("DIR"), "bound:");
  EXPECT_EQ(value("DIRX"), "");  // matched exactly: an unset variable
}

TEST_F(ValueFunctionsTest, UrlEscapesNeedNoBinding) {
  X_put_value("q", "a b%2B", 0, 0);
  EXPECT_EQ(value("txt2url:q"), "a%20b%252B");
  EXPECT_EQ(value("url2txt:q"), "a b+");
}

// Shows the time it is set to.
class SetClock final : public Clock {
 public:
  ClockTime time{0, 0};
  ClockTime now() override { return time; }
};

TEST_F(ValueFunctionsTest, TimeValuesReadTheInterpretersClock) {
  SetClock clock;
  clock.time = {1234526400, 42};
  X_set_clock(&clock);
  EXPECT_EQ(value("X_DT"), "1234526400");
  EXPECT_EQ(value("X_UDT"), "1234526400.000042");
  value("X_DDT");
  clock.time = {1234526401, 500042};
  EXPECT_EQ(value("X_DDT"), "1500000");
  std::time_t seconds = 1234526401;
  std::tm local;
  ASSERT_NE(localtime_r(&seconds, &local), nullptr);
  char date[16];
  std::strftime(date, sizeof date, "%Y-%m-%d", &local);
  EXPECT_EQ(value("today"), date);
}

}  // namespace
