// A database client without a server, for tests: statements get the answers
// a test scripted for them, and every statement is logged with the
// connection that sent it. Like a server it refuses a statement sent while
// the connection's previous result is still unread, so a layer that shares
// one connection between two cursors fails here as it would in production.
#ifndef VANDREL_SERVICES_SQL_CLIENT_FAKE_H_
#define VANDREL_SERVICES_SQL_CLIENT_FAKE_H_

#include <optional>
#include <string>
#include <vector>

#include "vandrel/services/sql_client.h"

using FakeSqlRow = std::vector<std::optional<std::string>>;  // nullopt: SQL NULL

struct FakeSqlAnswer {
  std::vector<std::string> columns;  // none: a statement without rows
  std::vector<FakeSqlRow> rows;
  unsigned long long insert_id = 0;
  // Nonzero: the statement itself fails with this error.
  unsigned error_number = 0;
  std::string error;
  // Nonzero: reading fails with this error after the rows above.
  unsigned fetch_error_number = 0;
  std::string fetch_error;
};

class FakeSqlServer {
 public:
  struct Received {
    int connection;  // 1 for the first connection made, 2 for the next...
    std::string statement;
  };

  // Puts itself in as sql_client_factory, and the previous factory back
  // when destroyed. REQUIRES: no connection open; one server at a time.
  FakeSqlServer();
  ~FakeSqlServer();
  FakeSqlServer(const FakeSqlServer&) = delete;
  FakeSqlServer& operator=(const FakeSqlServer&) = delete;

  // The answer to `statement`, which is matched without its surrounding
  // blanks. A statement without an answer fails with error 1064.
  void script(const std::string& statement, FakeSqlAnswer answer);
  // Every later login fails with this error.
  void refuse_logins(unsigned error_number, const std::string& error);

  const std::vector<Received>& received() const { return received_; }
  // Each login, as "host user passwd db port socket" with "-" for a default.
  const std::vector<std::string>& logins() const { return logins_; }
  int open_connections() const { return open_; }

 private:
  friend class FakeSqlConnection;
  struct Script {
    std::string statement;
    FakeSqlAnswer answer;
  };
  std::vector<Script> scripts_;
  std::vector<Received> received_;
  std::vector<std::string> logins_;
  unsigned refusal_number_ = 0;
  std::string refusal_;
  int connections_made_ = 0;
  int open_ = 0;
  SqlClientFactory previous_;
};

#endif  // VANDREL_SERVICES_SQL_CLIENT_FAKE_H_
