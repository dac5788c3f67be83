#include "vandrel/services/sql_layer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "vandrel/core/errors.h"
#include "vandrel/core/output.h"
#include "vandrel/core/test_support.h"
#include "vandrel/core/variable_store.h"
#include "vandrel/services/service_commands.h"
#include "vandrel/services/sql_client_fake.h"
#include "vandrel/services/sql_commands.h"
#include "vandrel/services/sql_state.h"
#include "vandrel/statements/control_flow.h"
#include "vandrel/statements/page_reader.h"

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
class SqlLayerTest : public InterpreterTest {
 protected:
  void SetUp() override {
    InterpreterTest::SetUp();
    for (const char* name : {"MYSQL_SOCKET", "VANDREL_TEST_DB", "VANDREL_TEST_USER",
                             "VANDREL_TEST_PASSWD", "VANDREL_TEST_PORT"}) {
      if (!std::getenv(name))
        GTEST_FAIL() << name << " is not set: run through scripts/test, which starts the "
                     << "private database server (scripts/lib/mariadb.sh)";
    }
    db = std::getenv("VANDREL_TEST_DB");
    user = std::getenv("VANDREL_TEST_USER");
    passwd = std::getenv("VANDREL_TEST_PASSWD");
  }
  void TearDown() override {
    X_finish();
    InterpreterTest::TearDown();
  }
  int connect() { return X_database(db.c_str(), user.c_str(), passwd.c_str()); }
  int exec(const char* statement) {
    std::string copy = statement;
    return X_noselect_sql(copy.data(), nullptr, nullptr);
  }
  int open(const char* cid, const char* query) {
    std::string copy = query;
    return X_select_sql(0, cid, copy.data(), nullptr, nullptr);
  }
  int fetch(const char* cid) { return X_select_sql(1, cid, nullptr, &numb, val.data()); }
  std::string error() {
    char text[256];
    sql_error(text, sizeof text);
    return text;
  }

  std::string db, user, passwd;
  int numb = 0;
  // On the heap, so that a write past the last column is caught by ASan.
  std::vector<X_val> val = std::vector<X_val>(kMaxColumns);
};

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
  EXPECT_EQ(X_select_sql(2, "c0", nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(x_CUR[0].state, kSlotIdle);
  EXPECT_EQ(fetch("c0"), -1);  // closed: no result to read from

  EXPECT_EQ(fetch("unknown"), -1);
  EXPECT_EQ(X_cursor, -1);
  EXPECT_EQ(X_select_sql(2, "unknown", nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(X_select_sql(3, "c0", nullptr, nullptr, nullptr), -1);
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

// The layer and the commands over the fake client: pages run as the
// interpreter runs them, with no server.
class SqlFakeTest : public InterpreterTest {
 protected:
  void SetUp() override {
    InterpreterTest::SetUp();
    ASSERT_TRUE(X_install_services());
    X_put_value("X_BASE", "shop", 0, 0);
    // Recorded rather than fatal, so that a wrong error shows in the output
    // instead of ending the test program.
    X_sqlTRAP = 0;
    out_ = std::tmpfile();
    ASSERT_NE(out_, nullptr);
    previous_ = X_redirect(out_);
  }
  void TearDown() override {
    char disconnect[] = "disconnect";  // also forgets X_BASE and the cursor ids
    X_sqlline(disconnect);
    EXPECT_EQ(server.open_connections(), 0);
    X_redirect(previous_);
    if (out_ != nullptr) std::fclose(out_);
    X_sqlTRAP = 1;
    InterpreterTest::TearDown();
  }

  // Runs `page` as the body of a page and returns what it wrote.
  std::string run(std::string page) {
    X_FILE file{};
    file.text = page.data();
    file.size = static_cast<long>(page.size());
    long start = std::ftell(out_);
    X_notfound(&file, 1, 0);
    std::fflush(out_);
    std::fseek(out_, start, SEEK_SET);
    std::string text;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, out_)) > 0) text.append(chunk, n);
    std::fseek(out_, 0, SEEK_END);
    return text;
  }

  static FakeSqlAnswer rows(std::vector<std::string> columns, std::vector<FakeSqlRow> rows) {
    FakeSqlAnswer answer;
    answer.columns = std::move(columns);
    answer.rows = std::move(rows);
    return answer;
  }

  FakeSqlServer server;

 private:
  FILE* out_ = nullptr;
  FILE* previous_ = nullptr;
};

using SqlFakeDeathTest = SqlFakeTest;

TEST_F(SqlFakeTest, SlotsAreReusedByNameAndStateAndBoundedToTen) {
  ASSERT_EQ(X_database("shop", "user", "pw"), 0);
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
  EXPECT_EQ(server.open_connections(), kCursorCount);

  X_finish();
  EXPECT_EQ(server.open_connections(), 0);
  for (const X_CURSOR& slot : x_CUR) {
    EXPECT_EQ(slot.state, kSlotEmpty);
    EXPECT_EQ(slot.conn, nullptr);
  }
  EXPECT_EQ(NEW_cursor("again"), 0);  // connects anew with the same parameters
  EXPECT_EQ(server.logins().back(), server.logins().front());
}

TEST_F(SqlFakeTest, RowLoopShowsNullAndEmptyValuesAsEmptyText) {
  server.script("select id, Host, Note from hosts",
                rows({"id", "Host", "Note"},
                     {{"1", "alpha", "up"}, {"2", "beta", std::nullopt}, {"3", "gamma", ""}}));
  // A NULL after a value must not show the previous row's value.
  EXPECT_EQ(run("<@sql> select id, Host, Note from hosts;\n"
                "row $(X_lines): $(id) $(host) [$(note)] {$(X_sqlnames)}\n"
                "<@end>\n"),
            "row 1: 1 alpha [up] {id;host;note}\n"
            "row 2: 2 beta [] {id;host;note}\n"
            "row 3: 3 gamma [] {id;host;note}\n")
      << X_ERRMSG;
}

TEST_F(SqlFakeTest, ColumnsReachTheirVariablesAfterTheBodyRemovesOrMakesVariables) {
  server.script("select id from ids", rows({"id"}, {{"1"}, {"2"}, {"3"}}));
  EXPECT_EQ(run("<@sql> select id from ids\n"
                "$(id) $(X_lines)\n"
                "<@if> icmp $(id) == 2\n"
                "<@clear> id\n"
                "<@clear> X_lines\n"
                "<@end>\n"
                "<@set> made$(id) x\n"
                "<@end>\n"),
            "1 1\n2 2\n3 3\n")
      << X_ERRMSG;
}

TEST_F(SqlFakeTest, RowsAndEofAfterALoop) {
  server.script("select n from three", rows({"n"}, {{"1"}, {"2"}, {"3"}}));
  server.script("select n from none", rows({"n"}, {}));
  // The loop left by <@break> leaves its rows unread; the next statement on
  // the same connection is refused unless they were dropped.
  EXPECT_EQ(run("<@sql> select n from three\n"
                "<@end>\n"
                "all: rows $(X_ROWS) lines $(X_lines)\n"
                "<@if> EOF\n"
                "eof after all rows\n"
                "<@end>\n"
                "<@sql> select n from three\n"
                "<@if> cmp $(n) == 2\n"
                "<@break>\n"
                "<@end>\n"
                "<@end>\n"
                "break: rows $(X_ROWS) n $(n)\n"
                "<@if> !EOF\n"
                "no eof after a break\n"
                "<@end>\n"
                "<@sql> select n from none\n"
                "never\n"
                "<@end>\n"
                "empty: rows $(X_ROWS) lines $(X_lines) code $(X_SQLCODE)\n"
                "<@if> EOF\n"
                "eof after no rows\n"
                "<@end>\n"),
            "all: rows 3 lines 3\n"
            "eof after all rows\n"
            "break: rows 2 n 2\n"
            "no eof after a break\n"
            "empty: rows 0 lines 0 code 0\n"
            "eof after no rows\n")
      << X_ERRMSG;
}

TEST_F(SqlFakeTest, NestedLoopsRunOnConnectionsOfTheirOwn) {
  server.script("select o from outer_t", rows({"o"}, {{"1"}, {"2"}}));
  server.script("select i from inner_t where o = 1", rows({"i"}, {{"a"}}));
  server.script("select i from inner_t where o = 2", rows({"i"}, {{"b"}, {"c"}}));
  long id = 11;
  for (const char* row : {"1, 'a'", "2, 'b'", "2, 'c'"}) {
    FakeSqlAnswer insert;
    insert.insert_id = id++;
    server.script(std::string("insert into log values (") + row + ")", insert);
  }
  EXPECT_EQ(run("<@sql> select o from outer_t\n"
                "<@sql> select i from inner_t where o = $(o)\n"
                "<@sqlexec> insert into log values ($(o), '$(i)')\n"
                "$(o).$(i) id $(X_INSERT_ID)\n"
                "<@end>\n"
                "inner rows $(X_ROWS)\n"
                "<@end>\n"
                "outer rows $(X_ROWS)\n"),
            "1.a id 11\n"
            "inner rows 1\n"
            "2.b id 12\n"
            "2.c id 13\n"
            "inner rows 2\n"
            "outer rows 2\n")
      << X_ERRMSG;
  // The outer loop keeps the connection of the first statement, the inner
  // loop takes a second one and keeps it, the inserts run on a third.
  std::vector<std::pair<int, std::string>> sent;
  for (const FakeSqlServer::Received& r : server.received())
    sent.emplace_back(r.connection, r.statement);
  EXPECT_EQ(sent, (std::vector<std::pair<int, std::string>>{
                      {1, "select o from outer_t"},
                      {2, "select i from inner_t where o = 1"},
                      {3, "insert into log values (1, 'a')"},
                      {2, "select i from inner_t where o = 2"},
                      {3, "insert into log values (2, 'b')"},
                      {3, "insert into log values (2, 'c')"},
                  }));
}

TEST_F(SqlFakeDeathTest, ErrorsAreFatalUnderTheTrapAndRecordedWithout) {
  FakeSqlAnswer missing;
  missing.error_number = 1146;
  missing.error = "Table 'shop.nosuch' doesn't exist";
  server.script("select * from nosuch", missing);
  FakeSqlAnswer cut_short = rows({"seq"}, {{"1"}, {"2"}});
  cut_short.fetch_error_number = 1242;
  cut_short.fetch_error = "Subquery returns more than 1 row";
  server.script("select seq from seq_1_to_5", cut_short);

  // The server's text reaches the message; a result cut short is an error,
  // not the end of the rows.
  EXPECT_EQ(run("<@sqltrap> OFF\n"
                "<@sql> select * from nosuch\n"
                "never\n"
                "<@end>\n"
                "skipped: code $(X_SQLCODE)\n"
                "[$(X_ERRMSG)]\n"
                "<@sql> select seq from seq_1_to_5\n"
                "row $(seq)\n"
                "<@end>\n"
                "cut short: code $(X_SQLCODE) rows $(X_ROWS)\n"
                "[$(X_ERRMSG)]\n"),
            "skipped: code -1\n"
            "[### DATABASE Query ERROR: QUERY:  select * from nosuch ; ### ERRMSG: Table "
            "'shop.nosuch' doesn't exist\n ]\n"
            "row 1\n"
            "row 2\n"
            "cut short: code -1 rows 2\n"
            "[### DATABASE QUERY ERROR: Subquery returns more than 1 row\n ]\n");

  // A copy made by fork lets go of the connections it inherits without
  // closing them; with none open, a leak check in the copy finds nothing.
  X_finish();
  EXPECT_EXIT(
      {
        dup2(2, 1);  // the error message goes to standard output
        run("<@sqltrap> ON\n<@sql> select * from nosuch\nnever\n<@end>\nafter\n");
      },
      ::testing::ExitedWithCode(kFatalStatus & 0xff),
      "ERROR: ### DATABASE Query ERROR: QUERY:  select \\* from nosuch ; "
      "### ERRMSG: Table 'shop\\.nosuch' doesn't exist");
}

}  // namespace
