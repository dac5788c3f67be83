#include "vandrel/services/sql_layer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "vandrel/services/sql_commands.h"
#include "vandrel/services/sql_state.h"

namespace {

std::string cut(const char* text) {
  std::string copy = text;
  X_cut_statement(copy.data());
  return copy.c_str();
}

TEST(SqlStatementTest, CutAtLastSemicolonOutsideQuotes) {
  EXPECT_EQ(cut("select 1;"), "select 1");
  EXPECT_EQ(cut("select 1; more; text"), "select 1; more");
  EXPECT_EQ(cut("insert into t values ('a;b')"), "insert into t values ('a;b')");
  EXPECT_EQ(cut("insert into t values ('a;b');"), "insert into t values ('a;b')");
  EXPECT_EQ(cut("select 'it''s;', \"x;\\\";\", `c;` ; x"), "select 'it''s;', \"x;\\\";\", `c;` ");
  EXPECT_EQ(cut("select 'a\\';'"), "select 'a\\';'");  // an escaped quote stays inside
  EXPECT_EQ(cut("select 'open;"), "select 'open;");    // unterminated: nothing to cut
  EXPECT_EQ(cut(""), "");
}

TEST(SqlStatementTest, DatabaseNameParts) {
  DbAddress a;
  ASSERT_TRUE(X_split_dbname("stats@db.example:3307", &a));
  EXPECT_STREQ(a.name, "stats");
  EXPECT_STREQ(a.host, "db.example");
  EXPECT_EQ(a.port, 3307);
  ASSERT_TRUE(X_split_dbname("stats", &a));
  EXPECT_STREQ(a.host, "");
  EXPECT_EQ(a.port, 0);
  ASSERT_TRUE(X_split_dbname("-", &a));
  EXPECT_STREQ(a.name, "");
  ASSERT_TRUE(X_split_dbname("-@127.0.0.1:x1", &a));  // no database; port read as atoi
  EXPECT_STREQ(a.name, "");
  EXPECT_STREQ(a.host, "127.0.0.1");
  EXPECT_EQ(a.port, 0);
  ASSERT_TRUE(X_split_dbname("a@b@c", &a));  // split at the first "@"
  EXPECT_STREQ(a.host, "b@c");
  // Parts that do not fit, or a port out of range, refuse the name instead of
  // reaching a database or host of a cut name.
  EXPECT_FALSE(X_split_dbname(std::string(256, 'n').c_str(), &a));
  EXPECT_FALSE(X_split_dbname(("d@" + std::string(256, 'h')).c_str(), &a));
  EXPECT_FALSE(X_split_dbname("d@h:65536", &a));
  EXPECT_FALSE(X_split_dbname("d@h:-1", &a));
}

TEST(SqlStatementTest, NamesListTakesWholeNamesOnly) {
  char a[] = "id", b[] = "name", c[] = "v";
  char* names[] = {a, b, c};
  char out[12];
  X_join_names(names, 3, out, sizeof out);
  EXPECT_STREQ(out, "id;name;v");  // 9 bytes and the NUL
  X_join_names(names, 3, out, 10);
  EXPECT_STREQ(out, "id;name;v");  // exactly fits
  X_join_names(names, 3, out, 9);
  EXPECT_STREQ(out, "id;name");  // "v" would not fit: left out whole
  X_join_names(names, 3, out, 2);
  EXPECT_STREQ(out, "");
  X_join_names(names, 0, out, sizeof out);
  EXPECT_STREQ(out, "");
}

// The layer against the private server that scripts/test starts. Without
// it these tests fail: a missing database is never a silent pass.
class SqlLayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"MYSQL_SOCKET", "VANDREL_TEST_DB", "VANDREL_TEST_USER",
                             "VANDREL_TEST_PASSWD", "VANDREL_TEST_PORT"}) {
      if (!std::getenv(name))
        GTEST_FAIL() << name << " is not set: run through scripts/test, which starts the "
                     << "private database server (scripts/lib/mariadb.sh)";
    }
    db = std::getenv("VANDREL_TEST_DB");
    user = std::getenv("VANDREL_TEST_USER");
    passwd = std::getenv("VANDREL_TEST_PASSWD");
    hp = X_heap_new();
  }
  void TearDown() override {
    X_finish();
    X_heap_free(hp);
  }
  int connect() { return X_database(db.c_str(), user.c_str(), passwd.c_str()); }
  int exec(const char* statement) {
    std::string copy = statement;
    return X_noselect_sql(copy.data(), nullptr, nullptr);
  }
  int open(const char* cid, const char* query) {
    std::string copy = query;
    return X_select_sql(0, cid, copy.data(), hp, nullptr, nullptr);
  }
  int fetch(const char* cid) { return X_select_sql(1, cid, nullptr, hp, &numb, val.data()); }
  std::string error() {
    char text[256];
    sql_error(text, sizeof text);
    return text;
  }

  std::string db, user, passwd;
  X_heap* hp = nullptr;
  int numb = 0;
  // On the heap, so that a write past the last column is caught by ASan.
  std::vector<X_val> val = std::vector<X_val>(kMaxColumns);
};

TEST_F(SqlLayerTest, SlotsAreReusedByNameAndStateAndBoundedToTen) {
  ASSERT_EQ(connect(), 0);
  EXPECT_EQ(x_CUR[0].state, kSlotIdle);  // the test connection waits for the first statement
  EXPECT_EQ(NEW_cursor("c0"), 0);
  EXPECT_EQ(NEW_cursor("c0"), kDuplicateCursor);
  for (int i = 1; i < kCursorCount; ++i)
    EXPECT_EQ(NEW_cursor(("c" + std::to_string(i)).c_str()), i);
  EXPECT_EQ(NEW_cursor("extra"), -1);
  EXPECT_EQ(FREE_cursor(-1), -1);
  EXPECT_EQ(FREE_cursor(kCursorCount), -1);
  ASSERT_EQ(FREE_cursor(4), 0);
  EXPECT_EQ(x_CUR[4].state, kSlotIdle);
  EXPECT_EQ(NEW_cursor("extra"), 4);  // an idle connection changes its name
  EXPECT_STREQ(x_CUR[4].cid, "extra");

  X_finish();
  for (const X_CURSOR& slot : x_CUR) {
    EXPECT_EQ(slot.state, kSlotEmpty);
    EXPECT_EQ(slot.conn, nullptr);
  }
  EXPECT_EQ(NEW_cursor("again"), 0);  // connects anew with the same parameters
}

TEST_F(SqlLayerTest, RowsCarryNamesValuesNullAndEmpty) {
  ASSERT_EQ(connect(), 0);
  ASSERT_EQ(open("c0", "select 7 as Num, NULL as n, '' as e, 'a\\0b' as z;"), 0);
  ASSERT_EQ(fetch("c0"), 0);
  ASSERT_EQ(numb, 4);
  EXPECT_STREQ(val[0].name, "Num");
  EXPECT_STREQ(val[0].value, "7");
  EXPECT_EQ(val[0].len, 1);
  EXPECT_EQ(val[1].len, -1);
  EXPECT_EQ(val[2].len, 0);
  EXPECT_STREQ(val[2].value, "");
  EXPECT_EQ(val[3].len, 1);  // up to the first NUL
  EXPECT_EQ(fetch("c0"), 1);
  EXPECT_EQ(X_select_sql(2, "c0", nullptr, hp, nullptr, nullptr), 0);
  EXPECT_EQ(x_CUR[0].state, kSlotIdle);
  EXPECT_EQ(fetch("c0"), -1);  // closed: no result to read from

  EXPECT_EQ(fetch("unknown"), -1);
  EXPECT_EQ(X_cursor, -1);
  EXPECT_EQ(X_select_sql(2, "unknown", nullptr, hp, nullptr, nullptr), -1);
  EXPECT_EQ(X_select_sql(3, "c0", nullptr, hp, nullptr, nullptr), -1);
}

TEST_F(SqlLayerTest, StatementsWithoutRowsKeepTheirConnectionUsable) {
  ASSERT_EQ(connect(), 0);
  ASSERT_EQ(exec("create temporary table t (id int auto_increment primary key, v text)"), 0);
  ASSERT_EQ(exec("insert into t (v) values ('a;b'), ('c');"), 0);
  EXPECT_EQ(X_INSERT_ID, 1);
  // A statement that returns rows anyway must not leave them unread: the
  // next statement on the scratch connection would be refused.
  EXPECT_EQ(exec("(select * from t)"), 0);
  EXPECT_EQ(exec("insert into t (v) values ('d')"), 0);
  EXPECT_EQ(X_INSERT_ID, 3);
  ASSERT_EQ(open("c0", "select v from t where id = 1"), 0);  // same connection: sees the table
  ASSERT_EQ(fetch("c0"), 0);
  EXPECT_STREQ(val[0].value, "a;b");

  EXPECT_EQ(exec("insert into nosuch values (1)"), -1);
  EXPECT_EQ(error(), "Table '" + db + ".nosuch' doesn't exist\n");
  EXPECT_EQ(exec(("select `" + std::string(100, 'x') + "`").c_str()), -1);
  EXPECT_EQ(error().size(), 71u);  // the server's message, cut to 70 bytes, and a newline
}

TEST_F(SqlLayerTest, DuplicateAndMissingConnections) {
  ASSERT_EQ(connect(), 0);
  ASSERT_EQ(open("c0", "select 1"), 0);
  EXPECT_EQ(open("c0", "select 2"), -1);
  EXPECT_EQ(X_cursor, kDuplicateCursor);
  EXPECT_EQ(error(), "### CURSOR Duplication.");
  X_finish();

  std::string refused = db + "@127.0.0.1:1";
  EXPECT_EQ(X_database(refused.c_str(), user.c_str(), passwd.c_str()), -1);
  EXPECT_EQ(NEW_cursor("c0"), -1);
  X_cursor = -1;
  EXPECT_EQ(error().rfind("### No more cursors OR Can't connect to server on '127.0.0.1'", 0), 0u)
      << error();
  EXPECT_EQ(X_database(db.c_str(), user.c_str(), "wrong"), -1);
}

}  // namespace
