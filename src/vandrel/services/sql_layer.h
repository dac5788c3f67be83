// The database layer: a table of ten database connections ("cursors") that
// the commands borrow by name, the streaming row interface and the statements
// without rows. Every slot is its own connection, so nested row loops run on
// separate connections; a connection is opened once and kept for the run.
// The connections come from sql_client_factory (sql_client.h).
#ifndef VANDREL_SERVICES_SQL_LAYER_H_
#define VANDREL_SERVICES_SQL_LAYER_H_

#include <cstddef>

#include "vandrel/core/arena.h"

class SqlConnection;
class SqlResult;

// One column of a fetched row.
struct X_val {
  char* name;   // the result's own field name (not copied; the row loop
                // changes its case in place)
  char* value;  // the client's own NUL-terminated text, valid until the next
                // fetch or the close; unset for NULL
  int len;      // bytes of the value; -1 for SQL NULL
};

// A row has room for this many columns. Wider results keep their first
// kMaxColumns columns; the rest are not read.
constexpr int kMaxColumns = 500;

constexpr int kCursorCount = 10;
constexpr int kCursorNameSize = 10;  // at most 9 characters

// Slot states.
constexpr int kSlotEmpty = 0;  // no connection
constexpr int kSlotBusy = 1;   // connected, in use by a statement
constexpr int kSlotIdle = 2;   // connected, free for reuse

struct X_CURSOR {
  int state;
  char cid[kCursorNameSize];
  SqlConnection* conn;  // the slot's connection; an empty slot may keep a
                        // failed handle for its error text
  SqlResult* res;       // the result being streamed, or nullptr
};

extern X_CURSOR x_CUR[kCursorCount];

// NEW_cursor's answer for a name that a busy slot already carries.
constexpr int kDuplicateCursor = -100;

// Slot used by the last layer call; -1 after a cursor name error,
// kDuplicateCursor after a duplicate name, other negative values after a
// failure to get a slot.
extern int X_cursor;

// Stores the connection parameters and tests them with one connection, which
// stays open and idle for the first statement. `dbname` "-" means no default
// database; "name@host" and "name@host:port" name a server. The socket comes
// from the environment variable MYSQL_SOCKET. 0, or -1 when no connection
// could be made.
int X_database(const char* dbname, const char* user, const char* passwd);

// A slot for the cursor `cid`: its index 0 to 9, kDuplicateCursor when a busy
// slot already has this name, -1 when every slot is busy or the connection
// fails.
int NEW_cursor(const char* cid);

// Frees the slot's result and marks it idle; -1 for an index outside 0 to 9.
int FREE_cursor(int i);

// The row interface. `cmd` 0 opens `query` on the cursor `cid`, 1 fetches the
// next row into `val` (at most kMaxColumns entries, count in `*numb`; the
// values are not copied), 2 closes. Fetch answers 0 for a row, 1 at the end, -1 on
// error; open and close answer 0 or -1. Open cuts `query` in place at its
// last ";" outside quotes.
int X_select_sql(int cmd, const char* cid, char* query, int* numb, X_val* val);

// Runs one statement that returns no rows on the scratch cursor "_mysql_"
// (a result the statement produces anyway is read and dropped). Cuts `query`
// as X_select_sql does. 0 or -1. `numb` and `val` are not used.
int X_noselect_sql(char* query, int* numb, X_val* val);

// Closes every connection; the next statement connects again.
void X_finish();

// The text of the last error, cut to fit `size` bytes.
void sql_error(char* buff, size_t size);

// Cuts `query` in place at its last ";" that lies outside quoted text (',
// " and `), dropping the ";" and everything after it.
void X_cut_statement(char* query);

// The parts of a database name: "name", "name@host" or "name@host:port"
// (the port read as leading decimal digits; 0 = the default). "-" gives an
// empty name: no default database. False when a part does not fit, so that
// a cut name never reaches another database.
struct DbAddress {
  char name[256];
  char host[256];
  int port;
};
bool X_split_dbname(const char* dbname, DbAddress* out);

#endif  // VANDREL_SERVICES_SQL_LAYER_H_
