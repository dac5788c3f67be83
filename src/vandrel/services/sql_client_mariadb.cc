#include "vandrel/services/sql_client_mariadb.h"

#include <mysql.h>

#include <new>

namespace {

class MariaDbResult final : public SqlResult {
 public:
  void reset(MYSQL_RES* res) { res_ = res; }
  MYSQL_RES* get() const { return res_; }

  unsigned field_count() override { return mysql_num_fields(res_); }
  char* field_name(unsigned i) override { return mysql_fetch_fields(res_)[i].name; }
  char** fetch_row() override { return mysql_fetch_row(res_); }
  const unsigned long* lengths() override { return mysql_fetch_lengths(res_); }

 private:
  MYSQL_RES* res_ = nullptr;
};

class MariaDbConnection final : public SqlConnection {
 public:
  explicit MariaDbConnection(MYSQL* mysql) : mysql_(mysql) {}

  bool connect(const SqlLogin& login) override {
    return mysql_real_connect(mysql_, login.host, login.user, login.passwd, login.db, login.port,
                              login.socket, 0) != nullptr;
  }
  bool query(const char* statement) override { return mysql_query(mysql_, statement) == 0; }
  // A connection streams one result at a time, so the one wrapper it holds
  // serves them all and taking a result never needs memory of its own.
  SqlResult* use_result() override {
    MYSQL_RES* res = mysql_use_result(mysql_);
    if (res == nullptr) return nullptr;
    result_.reset(res);
    return &result_;
  }
  bool next_result() override {
    return mysql_more_results(mysql_) && mysql_next_result(mysql_) == 0;
  }
  void free_result(SqlResult* result) override {
    MariaDbResult* own = static_cast<MariaDbResult*>(result);
    mysql_free_result(own->get());
    own->reset(nullptr);
  }
  const char* error() override { return mysql_error(mysql_); }
  unsigned error_number() override { return mysql_errno(mysql_); }
  unsigned long long insert_id() override { return mysql_insert_id(mysql_); }
  void close() override {
    mysql_close(mysql_);
    delete this;
  }

 private:
  MYSQL* mysql_;
  MariaDbResult result_;
};

}  // namespace

SqlConnection* mariadb_new_connection() {
  MYSQL* mysql = mysql_init(nullptr);
  if (mysql == nullptr) return nullptr;
  SqlConnection* connection = new (std::nothrow) MariaDbConnection(mysql);
  if (connection == nullptr) mysql_close(mysql);
  return connection;
}
