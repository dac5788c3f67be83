// The database commands: <@sql> with its row loop, <@sqlexec>, <@sqlnames>
// and <@sqltrap>, the cursor ids they hand to the database layer, and the
// reporting of database errors (fatal, recorded, or the page's trap
// function).
#ifndef VANDREL_SERVICES_SQL_COMMANDS_H_
#define VANDREL_SERVICES_SQL_COMMANDS_H_

#include <cstddef>

struct X_FILE;

// A statement holds at most this many bytes after substitution; a longer one
// is refused rather than sent cut.
constexpr size_t kMaxStatement = 8191;

// Connects on first use (X_BASE, X_USER, X_PASSWD) and hands out a cursor
// id, "c0" to "c9", preferring released ids. After an error (reported as
// every database error is) the answer is "none".
const char* X_get_cid();

// Releases a cursor id; an id that was not handed out is ignored.
void X_free_cid(const char* id);

// Runs a statement that returns no rows, honouring the transaction switch
// and "disconnect". 0 on success; -1 when it failed (reported) or was
// skipped.
int X_sqlline(char* statement);

// Command handlers (see CommandHandler).
int X_sql(X_FILE* file, char* line, int& compile, int ignore);
int X_sqlexec(X_FILE* file, char* line, int& compile, int ignore);
int X_sqlnames(X_FILE* file, char* line, int& compile, int ignore);
int X_sqltrap(X_FILE* file, char* line, int& compile, int ignore);

// The names list of a result: `names[0..count)` joined by ";" into `out`
// (`size` bytes, NUL-terminated). Only whole names are taken: the list ends
// before the first name that does not fit.
void X_join_names(char* const* names, int count, char* out, size_t size);

#endif  // VANDREL_SERVICES_SQL_COMMANDS_H_
