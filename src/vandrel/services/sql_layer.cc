#include "vandrel/services/sql_layer.h"

#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vandrel/core/numbers.h"
#include "vandrel/core/output.h"
#include "vandrel/core/trace.h"
#include "vandrel/services/sql_client.h"
#include "vandrel/services/sql_client_mariadb.h"
#include "vandrel/services/sql_state.h"

SqlClientFactory sql_client_factory = mariadb_new_connection;

X_CURSOR x_CUR[kCursorCount];
int X_cursor = 0;

namespace {

// Connection parameters of the run, fixed by X_database.
struct Connection {
  std::string name, host, user, passwd, socket;
  bool has_name = false, has_host = false, has_user = false, has_passwd = false;
  bool has_socket = false;
  unsigned port = 0;
};
Connection db;

// The slot whose last connection attempt failed, so that the error text
// names the real reason; -1 when none has.
int failed_slot = -1;

// A copy of the process made by <@fork> shares the connections' sockets:
// were it to use them, the two processes' statements would mix on one
// connection, and closing them would end the parent's sessions. The copy
// therefore lets go of them unused and connects on its own.
bool inherited = false;
bool fork_watch = false;

void on_fork_child() {
  inherited = true;
}

void forget_inherited_connections() {
  if (!inherited) return;
  inherited = false;
  X_trace("### connections inherited through fork are left to the parent");
  for (X_CURSOR& slot : x_CUR) slot = X_CURSOR{};  // nothing is sent on them
}

const char* text_or_null(const std::string& text, bool has) {
  return has ? text.c_str() : nullptr;
}

const char* error_of(int i) {
  if (i < 0 || i >= kCursorCount || x_CUR[i].conn == nullptr) return "";
  return x_CUR[i].conn->error();
}

void set_cid(X_CURSOR& slot, const char* cid) {
  std::snprintf(slot.cid, sizeof slot.cid, "%s", cid);
}

// The connected slot that carries the name `cid`, or -1.
int find_slot(const char* cid) {
  for (int i = 0; i < kCursorCount; ++i)
    if (x_CUR[i].state != kSlotEmpty && std::strcmp(x_CUR[i].cid, cid) == 0) return i;
  return -1;
}

// Reads and drops whatever results a statement left on its connection, so
// that the next statement on it is not refused as out of sync.
void drain_results(SqlConnection* conn) {
  while (conn->next_result()) {
    if (SqlResult* extra = conn->use_result()) conn->free_result(extra);
  }
}

bool connect_slot(int i, const char* cid) {
  if (!fork_watch) fork_watch = pthread_atfork(nullptr, nullptr, on_fork_child) == 0;
  X_CURSOR& slot = x_CUR[i];
  if (slot.conn != nullptr) slot.conn->close();  // a failed handle
  slot.conn = sql_client_factory();
  if (slot.conn == nullptr) {
    X_trace("### Cannot connect to DB Server: out of memory");
    return false;
  }
  SqlLogin login;
  login.host = text_or_null(db.host, db.has_host);
  login.user = text_or_null(db.user, db.has_user);
  login.passwd = text_or_null(db.passwd, db.has_passwd);
  login.db = text_or_null(db.name, db.has_name);
  login.port = db.port;
  login.socket = text_or_null(db.socket, db.has_socket);
  if (!slot.conn->connect(login)) {
    // The handle stays with the empty slot for its error text.
    X_trace("### Cannot connect to DB Server: %s", slot.conn->error());
    failed_slot = i;
    return false;
  }
  slot.res = nullptr;
  set_cid(slot, cid);
  slot.state = kSlotBusy;
  return true;
}

}  // namespace

void X_cut_statement(char* query) {
  char* last = nullptr;
  char quote = '\0';
  for (char* p = query; *p; ++p) {
    if (quote) {
      if (*p == '\\' && quote != '`' && p[1]) {
        ++p;
      } else if (*p == quote) {
        quote = '\0';
      }
    } else if (*p == '\'' || *p == '"' || *p == '`') {
      quote = *p;
    } else if (*p == ';') {
      last = p;
    }
  }
  if (last) *last = '\0';
}

bool X_split_dbname(const char* dbname, DbAddress* out) {
  out->name[0] = '\0';
  out->host[0] = '\0';
  out->port = 0;
  if (dbname == nullptr) return true;
  const char* at = std::strchr(dbname, '@');
  size_t name_len = at ? static_cast<size_t>(at - dbname) : std::strlen(dbname);
  if (name_len >= sizeof out->name) return false;
  std::memcpy(out->name, dbname, name_len);
  out->name[name_len] = '\0';
  if (std::strcmp(out->name, "-") == 0) out->name[0] = '\0';
  if (!at) return true;
  const char* host = at + 1;
  const char* colon = std::strchr(host, ':');
  size_t host_len = colon ? static_cast<size_t>(colon - host) : std::strlen(host);
  if (host_len >= sizeof out->host) return false;
  std::memcpy(out->host, host, host_len);
  out->host[host_len] = '\0';
  if (colon) {
    int port = X_atoi(colon + 1);
    if (port < 0 || port > 65535) return false;
    out->port = port;
  }
  return true;
}

int X_database(const char* dbname, const char* user, const char* passwd) {
  X_trace("X_database: %s user: %s", dbname ? dbname : "(none)", user ? user : "(none)");
  DbAddress address;
  if (!X_split_dbname(dbname, &address)) {
    X_trace("### Cannot connect to DB Server: bad database name");
    return -1;
  }
  db.name = address.name;
  db.has_name = address.name[0] != '\0';
  db.host = address.host;
  db.has_host = address.host[0] != '\0';
  db.port = static_cast<unsigned>(address.port);
  db.has_user = user != nullptr;
  db.user = user ? user : "";
  db.has_passwd = passwd != nullptr;
  db.passwd = passwd ? passwd : "";
  const char* socket = std::getenv("MYSQL_SOCKET");
  db.has_socket = socket != nullptr && socket[0] != '\0';
  db.socket = db.has_socket ? socket : "";

  int i = NEW_cursor("mysql");
  if (i < 0) return -1;
  FREE_cursor(i);
  return 0;
}

int NEW_cursor(const char* cid) {
  // A connection or a statement follows, and the server may be slow to answer.
  X_output_flush();
  forget_inherited_connections();
  failed_slot = -1;
  for (int i = 0; i < kCursorCount; ++i) {
    X_CURSOR& slot = x_CUR[i];
    if (slot.state == kSlotEmpty) return connect_slot(i, cid) ? i : -1;
    if (std::strcmp(slot.cid, cid) == 0) {
      if (slot.state == kSlotBusy) return kDuplicateCursor;
      slot.state = kSlotBusy;
      return i;
    }
    if (slot.state == kSlotIdle) {
      set_cid(slot, cid);
      slot.state = kSlotBusy;
      return i;
    }
  }
  X_trace("### No more empty cursors!!! ");
  return -1;
}

int FREE_cursor(int i) {
  if (i < 0 || i >= kCursorCount) return -1;
  X_CURSOR& slot = x_CUR[i];
  if (slot.res != nullptr) {
    slot.conn->free_result(slot.res);
    slot.res = nullptr;
    drain_results(slot.conn);
  }
  if (slot.state != kSlotEmpty) slot.state = kSlotIdle;
  return 0;
}

int X_select_sql(int cmd, const char* cid, char* query, int* numb, X_val* val) {
  if (cmd == 0) {
    X_trace("PREPARE QUERY: %s", query);
    X_cursor = NEW_cursor(cid);
    if (X_cursor < 0) {
      if (X_cursor == kDuplicateCursor) X_trace("### CURSOR: %s is already in use...", cid);
      return -1;
    }
    X_cut_statement(query);
    X_CURSOR& slot = x_CUR[X_cursor];
    if (!slot.conn->query(query)) {
      X_trace("### QUERY ERROR: %s\n", slot.conn->error());
      return -1;
    }
    slot.res = slot.conn->use_result();
    if (slot.res == nullptr) {
      X_trace("### QUERY RESULT ERROR: %s\n", slot.conn->error());
      return -1;
    }
    return 0;
  }
  if (cmd != 1 && cmd != 2) return -1;

  forget_inherited_connections();
  X_cursor = find_slot(cid);
  failed_slot = -1;
  if (X_cursor < 0) {
    X_trace("### CURSOR NAME ERROR...");
    return -1;
  }
  X_CURSOR& slot = x_CUR[X_cursor];
  if (cmd == 2) return FREE_cursor(X_cursor);

  if (slot.res == nullptr) return -1;
  char** row = slot.res->fetch_row();
  if (row == nullptr) {
    // A result cut short by the server or the connection is an error, not
    // the end of the rows.
    if (slot.conn->error_number() != 0) {
      X_trace("### FETCH ERROR: %s\n", slot.conn->error());
      return -1;
    }
    return 1;
  }
  unsigned fields = slot.res->field_count();
  const unsigned long* lengths = slot.res->lengths();
  int count = fields > static_cast<unsigned>(kMaxColumns) ? kMaxColumns : static_cast<int>(fields);
  if (static_cast<unsigned>(count) < fields && Trace)
    X_trace("### %u columns: only the first %d are read", fields, kMaxColumns);
  *numb = count;
  for (int i = 0; i < count; ++i) {
    X_val& v = val[i];
    v.name = slot.res->field_name(static_cast<unsigned>(i));
    if (row[i] == nullptr) {
      v.len = -1;
      v.value = nullptr;
      continue;
    }
    // The row's text is read as a C text: a NUL inside a value ends it.
    v.value = row[i];
    v.len = static_cast<int>(strnlen(row[i], lengths ? lengths[i] : std::strlen(row[i])));
  }
  return 0;
}

int X_noselect_sql(char* query, int* /*numb*/, X_val* /*val*/) {
  X_trace("X_noselect_sql: QUERY: %s", query);
  int i = NEW_cursor("_mysql_");
  X_cursor = i;
  if (i < 0) {
    X_trace("### ERROR: cannot get a new cursor _mysql_; code: %d\n", i);
    return -1;
  }
  X_cut_statement(query);
  SqlConnection* conn = x_CUR[i].conn;
  int rc = 0;
  if (!conn->query(query)) {
    X_trace("### QUERY ERROR: %s", conn->error());
    rc = -1;
  } else {
    X_INSERT_ID = static_cast<long>(conn->insert_id());
    if (SqlResult* unread = conn->use_result()) conn->free_result(unread);
    drain_results(conn);
  }
  FREE_cursor(i);
  return rc;
}

void X_finish() {
  X_trace("X_finish() -- Begin");
  forget_inherited_connections();
  for (int i = 0; i < kCursorCount; ++i) {
    X_CURSOR& slot = x_CUR[i];
    if (slot.state == kSlotBusy) FREE_cursor(i);
    if (slot.state != kSlotEmpty) X_trace("### FREE CURSOR: %d\n", i);
    slot.state = kSlotEmpty;
    slot.cid[0] = '\0';
    slot.res = nullptr;
    if (slot.conn != nullptr) {
      slot.conn->close();
      slot.conn = nullptr;
    }
  }
  failed_slot = -1;
  db.port = 0;
  db.has_host = false;
  db.host.clear();
  X_trace("X_finish() -- End");
}

void sql_error(char* buff, size_t size) {
  if (size == 0) return;
  if (X_cursor >= 0) {
    std::snprintf(buff, size, "%.70s\n", error_of(X_cursor));
  } else if (X_cursor == kDuplicateCursor) {
    std::snprintf(buff, size, "### CURSOR Duplication.");
  } else {
    std::snprintf(buff, size, "### No more cursors OR %.70s\n",
                  error_of(failed_slot >= 0 ? failed_slot : 0));
  }
}
