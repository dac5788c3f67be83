#include "vandrel/services/sql_client_mariadb.h"

#include <dlfcn.h>
#include <errmsg.h>
#include <mysql.h>

#include <cstdio>
#include <new>

namespace {

// The client library is bound on the first connection rather than by the
// dynamic loader at start-up: it brings libssl and libcrypto with it, and
// loading them cost a page that never reaches the database more than the
// rest of its run. mysql.h is used for its types and signatures only.
#define MARIADB_CALLS(X)                                                                     \
  X(mysql_init) X(mysql_real_connect) X(mysql_query) X(mysql_use_result) X(mysql_more_results) \
  X(mysql_next_result) X(mysql_free_result) X(mysql_error) X(mysql_errno) X(mysql_insert_id)   \
  X(mysql_close) X(mysql_num_fields) X(mysql_fetch_fields) X(mysql_fetch_row)                  \
  X(mysql_fetch_lengths)

struct MariaDbApi {
#define MARIADB_POINTER(name) decltype(&::name) name;
  MARIADB_CALLS(MARIADB_POINTER)
#undef MARIADB_POINTER
};

MariaDbApi api;
// Why the library could not be bound; "" once it is (or before the first try).
char bind_error[512];

// Binds the library once per process; false (with bind_error set) when it
// or one of its calls is missing.
bool bind_library() {
  static int state = 0;  // 0 not tried, 1 bound, -1 failed
  if (state != 0) return state > 0;
  state = -1;
  void* lib = dlopen(MARIADB_CLIENT_SONAME, RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) {
    const char* why = dlerror();
    std::snprintf(bind_error, sizeof bind_error, "Cannot load the database client: %s",
                  why ? why : MARIADB_CLIENT_SONAME);
    return false;
  }
#define MARIADB_BIND(name)                                                                   \
  api.name = reinterpret_cast<decltype(&::name)>(dlsym(lib, #name));                         \
  if (api.name == nullptr) {                                                                 \
    std::snprintf(bind_error, sizeof bind_error,                                             \
                  "Cannot load the database client: %s has no %s", MARIADB_CLIENT_SONAME,    \
                  #name);                                                                    \
    return false;                                                                            \
  }
  MARIADB_CALLS(MARIADB_BIND)
#undef MARIADB_BIND
  state = 1;
  return true;
}

// Stands in for a connection when the library cannot be bound: connecting
// fails with the reason, as a server that cannot be reached does.
class UnboundConnection final : public SqlConnection {
 public:
  bool connect(const SqlLogin&) override { return false; }
  bool query(const char*) override { return false; }
  SqlResult* use_result() override { return nullptr; }
  bool next_result() override { return false; }
  void free_result(SqlResult*) override {}
  const char* error() override { return bind_error; }
  unsigned error_number() override { return CR_UNKNOWN_ERROR; }
  unsigned long long insert_id() override { return 0; }
  void close() override { delete this; }
};

class MariaDbResult final : public SqlResult {
 public:
  void reset(MYSQL_RES* res) { res_ = res; }
  MYSQL_RES* get() const { return res_; }

  unsigned field_count() override { return api.mysql_num_fields(res_); }
  char* field_name(unsigned i) override { return api.mysql_fetch_fields(res_)[i].name; }
  char** fetch_row() override { return api.mysql_fetch_row(res_); }
  const unsigned long* lengths() override { return api.mysql_fetch_lengths(res_); }

 private:
  MYSQL_RES* res_ = nullptr;
};

class MariaDbConnection final : public SqlConnection {
 public:
  explicit MariaDbConnection(MYSQL* mysql) : mysql_(mysql) {}

  bool connect(const SqlLogin& login) override {
    return api.mysql_real_connect(mysql_, login.host, login.user, login.passwd, login.db, login.port,
                              login.socket, 0) != nullptr;
  }
  bool query(const char* statement) override { return api.mysql_query(mysql_, statement) == 0; }
  // A connection streams one result at a time, so the one wrapper it holds
  // serves them all and taking a result never needs memory of its own.
  SqlResult* use_result() override {
    MYSQL_RES* res = api.mysql_use_result(mysql_);
    if (res == nullptr) return nullptr;
    result_.reset(res);
    return &result_;
  }
  bool next_result() override {
    return api.mysql_more_results(mysql_) && api.mysql_next_result(mysql_) == 0;
  }
  void free_result(SqlResult* result) override {
    MariaDbResult* own = static_cast<MariaDbResult*>(result);
    api.mysql_free_result(own->get());
    own->reset(nullptr);
  }
  const char* error() override { return api.mysql_error(mysql_); }
  unsigned error_number() override { return api.mysql_errno(mysql_); }
  unsigned long long insert_id() override { return api.mysql_insert_id(mysql_); }
  void close() override {
    api.mysql_close(mysql_);
    delete this;
  }

 private:
  MYSQL* mysql_;
  MariaDbResult result_;
};

}  // namespace

SqlConnection* mariadb_new_connection() {
  if (!bind_library()) return new (std::nothrow) UnboundConnection;
  MYSQL* mysql = api.mysql_init(nullptr);
  if (mysql == nullptr) return nullptr;
  SqlConnection* connection = new (std::nothrow) MariaDbConnection(mysql);
  if (connection == nullptr) api.mysql_close(mysql);
  return connection;
}
