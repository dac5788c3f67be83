// What the database layer asks of a database client library, behind one
// interface, so that the layer never names the library it runs on and tests
// can answer statements without a server. Calls report failure by their
// answer; the reason is read from the connection afterwards.
#ifndef VANDREL_SERVICES_SQL_CLIENT_H_
#define VANDREL_SERVICES_SQL_CLIENT_H_

// Where and as whom to connect. A nullptr part is left to the client
// library's default.
struct SqlLogin {
  const char* host;  // nullptr: the local server
  const char* user;
  const char* passwd;
  const char* db;  // nullptr: no default database
  unsigned port;   // 0: the default port
  const char* socket;
};

// The rows of one statement, read from the server one at a time as they are
// fetched, so that a large result never sits whole in memory.
class SqlResult {
 public:
  // Columns of every row.
  virtual unsigned field_count() = 0;
  // The name of column `i`, NUL-terminated and owned by the result; the
  // caller may change its bytes in place for the result's lifetime.
  // REQUIRES: i < field_count().
  virtual char* field_name(unsigned i) = 0;
  // The next row: field_count() NUL-terminated values, nullptr for SQL NULL,
  // valid until the next fetch. nullptr after the last row and when reading
  // failed; the connection's error_number() tells the two apart.
  virtual char** fetch_row() = 0;
  // The byte length of each value of the row fetched last; nullptr when the
  // library cannot tell. REQUIRES: the last fetch_row() gave a row.
  virtual const unsigned long* lengths() = 0;

 protected:
  ~SqlResult() = default;  // freed through SqlConnection::free_result
};

// One session with the server. It runs one statement at a time: the result
// of a statement is freed before the next statement is sent on it.
class SqlConnection {
 public:
  // Opens the session; false when it could not, with the reason in error().
  // After a failure only error(), error_number() and close() may be called.
  // REQUIRES: called once.
  virtual bool connect(const SqlLogin& login) = 0;
  // Sends one statement; false when it failed.
  // REQUIRES: connected; the results of the previous statement all taken
  // and freed.
  virtual bool query(const char* statement) = 0;
  // The current result of the last statement, streamed; nullptr when the
  // statement gave no rows or the result could not be started (error_number()
  // tells which). REQUIRES: taken at most once per result.
  virtual SqlResult* use_result() = 0;
  // Moves on to the statement's next result; false when there is none or it
  // could not be read. REQUIRES: the current result freed.
  virtual bool next_result() = 0;
  // Frees `result` and drops its unread rows.
  // REQUIRES: `result` came from use_result() of this connection.
  virtual void free_result(SqlResult* result) = 0;
  // The text of the last call's error; "" when it succeeded.
  virtual const char* error() = 0;
  // The number of the last call's error; 0 when it succeeded.
  virtual unsigned error_number() = 0;
  // The AUTO_INCREMENT value made by the last statement; 0 when it made none.
  virtual unsigned long long insert_id() = 0;
  // Ends the session and frees this object. REQUIRES: results freed.
  virtual void close() = 0;

 protected:
  ~SqlConnection() = default;  // freed through close()
};

// Makes a connection that is not connected yet; nullptr when out of memory.
using SqlClientFactory = SqlConnection* (*)();

// The factory every connection of the database layer comes from: the MariaDB
// client, unless a test put in another. Changed only while no connection is
// open (after X_finish), so that one run never mixes two clients' sessions.
extern SqlClientFactory sql_client_factory;

#endif  // VANDREL_SERVICES_SQL_CLIENT_H_
