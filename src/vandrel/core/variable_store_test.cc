#include "vandrel/core/variable_store.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "vandrel/core/errors.h"
#include "vandrel/core/test_support.h"

namespace {

std::vector<std::string> values_of(const char* name) {
  std::vector<std::string> out;
  X_USER* u = X_get_user(name);
  for (X_var* v = u != nullptr ? &u->var : nullptr; v != nullptr; v = v->next) {
    out.push_back(v->value);
  }
  return out;
}

// Each test starts from an empty store and releases everything it made.
using StoreTest = InterpreterTest;
using Values = std::vector<std::string>;

TEST_F(StoreTest, SetReplacesAddAppends) {
  EXPECT_EQ(X_get_value("v"), nullptr);
  EXPECT_EQ(X_put_value("v", "one", 0, 7), 0);
  EXPECT_EQ(X_put_value("v", "two", 0, 0), 0);
  EXPECT_EQ(values_of("v"), Values{"two"});
  EXPECT_EQ(X_get_user("v")->cookie, 7);  // a zero mark keeps the old one
  EXPECT_EQ(X_add_value("list", "a"), 0);
  EXPECT_EQ(X_add_value("list", "b"), 0);
  EXPECT_EQ(values_of("list"), (Values{"a", "b"}));
  EXPECT_EQ(X_add_value("v", "three"), 0);
  EXPECT_EQ(values_of("v"), (Values{"two", "three"}));
  EXPECT_EQ(X_put_value("v", "", 0, 0), 0);  // cuts the chain again
  EXPECT_EQ(values_of("v"), Values{""});
}

TEST_F(StoreTest, FixedVariablesRefuseChangesAndSurviveClearing) {
  ASSERT_EQ(X_put_value("X_ROOT", "/srv", kReadOnly, 0), 0);
  X_ERRMSG[0] = '\0';
  EXPECT_EQ(X_put_value("X_ROOT", "/tmp", 0, 0), -1);
  EXPECT_STREQ(X_ERRMSG, "## Fixed Value: X_ROOT");
  EXPECT_EQ(X_add_value("X_ROOT", "/tmp"), -1);
  EXPECT_EQ(values_of("X_ROOT"), Values{"/srv"});
  EXPECT_EQ(X_clear_value("X_ROOT"), -1);

  X_put_value("plain", "1", 0, 0);
  EXPECT_EQ(X_clear_value("nothing"), -1);
  EXPECT_EQ(X_clear_value("plain"), 0);
  EXPECT_EQ(X_get_user("plain"), nullptr);
  EXPECT_EQ(X_put_value("plain", "2", 0, 0), 0);
  EXPECT_EQ(values_of("plain"), Values{"2"});
  EXPECT_EQ(count_tree(x_BUFFERS.vtree.root, nullptr), 2);
}

TEST_F(StoreTest, BoundVariableIsOverwrittenInPlace) {
  char window[12];
  std::memset(window, '#', sizeof window);
  ASSERT_EQ(X_put_value("shm", "", kBound, 8), 0);
  X_USER* u = X_get_user("shm");
  u->var.value = window;  // as the shared-memory attach does
  EXPECT_EQ(X_put_value("shm", "abc", 0, 0), 0);
  EXPECT_EQ(std::memcmp(window, "abc\0\0\0\0\0####", 12), 0);
  EXPECT_EQ(X_put_value("shm", "0123456789", 0, 0), 0);
  EXPECT_EQ(std::memcmp(window, "01234567####", 12), 0);
  EXPECT_EQ(u->var.value, window);
  EXPECT_EQ(X_add_value("shm", "more"), -1);
}

}  // namespace
