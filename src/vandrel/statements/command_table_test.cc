// Handlers that a higher room binds to the language's command words.
#include "vandrel/statements/command_table.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "vandrel/core/line_buffer.h"
#include "vandrel/core/test_support.h"
#include "vandrel/statements/page_reader.h"

namespace {

int runs = 0;
int count_run(X_FILE*, char*, int&, int) {
  ++runs;
  return 0;
}

// Runs one command line from an otherwise empty page.
int run(const char* text) {
  char empty[] = "";
  X_FILE file{};
  file.text = empty;
  LineBuffer line;
  std::snprintf(line.data(), kLineSize, "%s", text);
  int compile = 1;
  return X_command(&file, line.data(), compile, 0);
}

using CommandTableTest = InterpreterTest;

TEST_F(CommandTableTest, BoundHandlersRunForTheirWordsAndARefusedSetBindsNone) {
  // Unbound, a known word declines like an unknown one: the line is text.
  EXPECT_EQ(run("<@sleep> 1"), -1);
  EXPECT_EQ(run("<@nosuchword> 1"), -1);

  const CommandBinding refused[] = {{"sleep", count_run}, {"nosuchword", count_run}};
  EXPECT_FALSE(X_bind_commands(refused, 2));
  const CommandBinding terminator[] = {{"end", count_run}};
  EXPECT_FALSE(X_bind_commands(terminator, 1));
  EXPECT_EQ(run("<@sleep> 1"), -1);
  EXPECT_EQ(runs, 0);

  const CommandBinding rows[] = {{"sleep", count_run}, {"shmdt", count_run}};
  ASSERT_TRUE(X_bind_commands(rows, 2));
  EXPECT_EQ(run("<@sleep> 1"), 0);
  EXPECT_EQ(run("<@shmdt> x"), 0);
  EXPECT_EQ(runs, 2);
  EXPECT_EQ(run("<@usleep> 1"), -1);  // its neighbour stays unbound
  EXPECT_EQ(runs, 2);
}

TEST_F(CommandTableTest, WordsAreKnownInEveryStoreAndKeepTheirRows) {
  const X_CMD* sql = X_find_command("sql");
  ASSERT_NE(sql, nullptr);
  EXPECT_STREQ(sql->word, "sql");
  X_test_end();
  X_test_begin();
  EXPECT_EQ(X_find_command("sql"), sql);
  // The first and last words in byte order, and near misses.
  EXPECT_EQ(X_search_command("add"), 12);
  EXPECT_EQ(X_search_command("xfile"), 20);
  EXPECT_EQ(X_search_command("break"), kTerminatorCode);
  EXPECT_EQ(X_find_command("sq"), nullptr);
  EXPECT_EQ(X_find_command("sqlx"), nullptr);
  EXPECT_EQ(X_find_command(""), nullptr);
}

}  // namespace
