#include "vandrel/services/sql_commands.h"

#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "vandrel/statements/block_commands.h"
#include "vandrel/statements/command_table.h"
#include "vandrel/statements/control_flow.h"
#include "vandrel/core/errors.h"
#include "vandrel/core/line_buffer.h"
#include "vandrel/statements/page_reader.h"
#include "vandrel/services/sql_layer.h"
#include "vandrel/services/sql_state.h"
#include "vandrel/core/variable_store.h"
#include "vandrel/core/trace.h"
#include "vandrel/values/substitution.h"

namespace {

constexpr char kNoCursor[] = "none";
// The first word of a statement is read as by a "%24s" scan.
constexpr size_t kWordSize = 25;
constexpr size_t kSqlErrorSize = 256;

// Cursor ids: never used (-1), in use (0), released (1).
char cid[kCursorCount][kCursorNameSize];
int c_free[kCursorCount] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1};

// The database name read from X_BASE by the first statement; none until then
// and again after "disconnect".
std::string base;
bool has_base = false;

// Set while the trap function runs: an error inside it is recorded but does
// not call it again, so a failing trap function cannot recurse without end.
bool in_trap = false;

bool has_tag(const char* line, const char* tag) {
  return std::strncmp(line, tag, std::strlen(tag)) == 0;
}

bool starts_with(const char* text, const char* prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// The first blank-separated word of `text`, at most 24 bytes, lower-cased.
void first_word(const char* text, char* word) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (*p && std::isspace(*p)) ++p;
  size_t n = 0;
  while (p[n] && !std::isspace(p[n]) && n < kWordSize - 1) {
    word[n] = static_cast<char>(p[n]);
    ++n;
  }
  word[n] = '\0';
  lowercase(word);
}

// The command's argument text after substitution, with room for one byte
// more than a statement holds, so that a longer text is seen as such rather
// than sent cut.
class Statement {
 public:
  Statement(const char* line, int compile) : text_(new char[kMaxStatement + 2]) {
    X_transline(X_command_args(line), text_.get(), kMaxStatement + 2, compile);
    too_long_ = std::strlen(text_.get()) > kMaxStatement;
  }
  char* text() { return text_.get(); }
  bool too_long() const { return too_long_; }

 private:
  std::unique_ptr<char[]> text_;
  bool too_long_;
};

void call_trap_function() {
  if (!X_sqlFUNC || in_trap) return;
  char call[kTrapFuncSize + 16];
  std::snprintf(call, sizeof call, "<@call> %s ", TRAPfunc);
  X_trace("==> SQLTRAP call: CALL: [%s] ", call);
  X_debug("==> SQLTRAP call: CALL: [%s] ", call);
  int compile = 1;
  in_trap = true;
  X_call(nullptr, call, compile, 0);
  in_trap = false;
}

// A database error outside a statement's own text: fatal while the trap is
// on, else recorded.
void report_error(const char* text) {
  if (X_sqlTRAP) {
    ERRMSG("%s", text);
  } else {
    std::snprintf(X_ERRMSG, sizeof X_ERRMSG, "%s", text);
  }
  X_sqlcode = -1;
  call_trap_function();
}

// A statement the server (or this program) refused.
void report_query_error(const char* statement, const char* error) {
  if (X_sqlTRAP) {
    ERRMSG("### DATABASE Query ERROR: QUERY: %s ; ### ERRMSG: %s ", statement, error);
  } else {
    std::snprintf(X_ERRMSG, sizeof X_ERRMSG,
                  "### DATABASE Query ERROR: QUERY: %.200s ; ### ERRMSG: %.200s ", statement,
                  error);
  }
  X_sqlcode = -1;
  call_trap_function();
}

void report_too_long(const char* statement) {
  char error[64];
  std::snprintf(error, sizeof error, "### Statement longer than %zu bytes", kMaxStatement);
  report_query_error(statement, error);
}

void skip_body(X_FILE* file, int compile) {
  X_notfound(file, compile, 1);
}

const char* decimal(char (&text)[16], int n) {
  *std::to_chars(text, text + sizeof text - 1, n).ptr = '\0';
  return text;
}

void put_number(const char* name, int n) {
  char text[16];
  X_put_value(name, decimal(text, n), 0, 0);
}

// The variables a row loop sets on every row, found once: a body seldom
// makes or removes variables, and when it does, they are found again.
class RowVariables {
 public:
  // Gives the variable `name`, kept in `slot` (0 to kMaxColumns), the value `text`.
  void put(int slot, const char* name, const char* text) {
    if (changes_ != x_BUFFERS.vtree.changes) {
      for (X_USER*& user : users_) user = nullptr;
      changes_ = x_BUFFERS.vtree.changes;
    }
    X_USER*& user = users_[slot];
    if (!user) user = X_get_user(name);
    if (user) {
      X_put_user_value(user, text);
    } else {
      X_put_value(name, text, 0, 0);
    }
  }
  // Names changed in place (their case): every variable is found again.
  void forget() { changes_ = x_BUFFERS.vtree.changes - 1; }

 private:
  X_USER* users_[kMaxColumns + 1] = {};
  uint64_t changes_ = x_BUFFERS.vtree.changes - 1;
};

// Runs the body once per row of the open cursor `id`; the number of rows
// processed.
int X_found(X_FILE* file, int compile, const char* id) {
  X_eof = 1;
  Continue = 0;
  Break = 0;
  long body = file->offset;
  X_val val[kMaxColumns];
  int numb = 0;
  int n = 1;
  int rc;
  // The names belong to the result and keep their case from row to row; they
  // are converted again only when the body switched the case.
  int names_case = -1;
  RowVariables vars;
  constexpr int kLinesSlot = kMaxColumns;
  // The values are the client's row, copied only into their variables.
  while ((rc = X_select_sql(1, id, nullptr, &numb, val)) == 0) {
    file->offset = body;
    if (names_case != X_sqlcase) {
      names_case = X_sqlcase;
      vars.forget();
      for (int i = 0; i < numb; ++i) {
        if (names_case == 1) {
          uppercase(val[i].name);
        } else {
          lowercase(val[i].name);
        }
      }
    }
    for (int i = 0; i < numb; ++i) vars.put(i, val[i].name, val[i].len > 0 ? val[i].value : "");
    if (n == 1) {
      LineBuffer names;
      char* list[kMaxColumns];
      for (int i = 0; i < numb; ++i) list[i] = val[i].name;
      X_join_names(list, numb, names.data(), kLineSize);
      X_put_value("X_sqlnames", names.data(), 0, 0);
    }
    char lines[16];
    vars.put(kLinesSlot, "X_lines", decimal(lines, n));
    X_notfound(file, compile, 0);
    if (Break) {
      X_eof = 0;
      // A return on its way out keeps its flags for the enclosing blocks.
      if (!ContinueBreak) {
        Break = 0;
        Continue = 0;
      }
      return n;
    }
    Continue = 0;
    ++n;
  }
  Break = 0;
  Continue = 0;
  int rows = n - 1;
  put_number("X_lines", rows);
  if (rc < 0) {
    char error[kSqlErrorSize];
    sql_error(error, sizeof error);
    if (X_sqlTRAP) {
      ERRMSG("### DATABASE QUERY ERROR: %s ", error);
    } else {
      std::snprintf(X_ERRMSG, sizeof X_ERRMSG, "### DATABASE QUERY ERROR: %.200s ", error);
    }
    X_sqlcode = -1;
    call_trap_function();
  }
  if (rows == 0) {
    file->offset = body;
    skip_body(file, compile);
  }
  return rows;
}

// A row-returning statement: the row loop over its result.
void run_row_query(X_FILE* file, int compile, const char* id, char* statement) {
  if (X_select_sql(0, id, statement, nullptr, nullptr) != 0) {
    char error[kSqlErrorSize];
    sql_error(error, sizeof error);
    // The cursor is closed only when the open got a slot of its own: a
    // duplicate name belongs to another running statement.
    bool got_slot = X_cursor >= 0;
    report_query_error(statement, error);
    skip_body(file, compile);
    if (got_slot) X_select_sql(2, id, nullptr, nullptr, nullptr);
  } else {
    int rows = X_found(file, compile, id);
    X_select_sql(2, id, nullptr, nullptr, nullptr);
    if (X_rowcount == 0) X_rowcount = rows;
  }
}

}  // namespace

void X_join_names(char* const* names, int count, char* out, size_t size) {
  if (size == 0) return;
  size_t len = 0;
  out[0] = '\0';
  for (int i = 0; i < count; ++i) {
    size_t add = std::strlen(names[i]) + (i > 0 ? 1 : 0);
    if (len + add >= size) break;
    if (i > 0) out[len++] = ';';
    std::memcpy(out + len, names[i], add - (i > 0 ? 1 : 0));
    len += add - (i > 0 ? 1 : 0);
    out[len] = '\0';
  }
}

const char* X_get_cid() {
  if (!has_base) {
    const char* name = X_get_value("X_BASE");
    if (name == nullptr || name[0] == '\0') {
      report_error("### Database name was not specified...");
      return kNoCursor;
    }
    base = name;
    has_base = true;
    const char* user = X_get_value("X_USER");
    const char* passwd = X_get_value("X_PASSWD");
    std::string user_copy = user ? user : "", passwd_copy = passwd ? passwd : "";
    int rc = X_database(base.c_str(), user_copy.empty() ? nullptr : user_copy.c_str(),
                        passwd_copy.empty() ? nullptr : passwd_copy.c_str());
    if (rc != 0) {
      char text[kErrMsgSize];
      std::snprintf(text, sizeof text, "### Cannot open database: %s SQLCODE: %d", base.c_str(),
                    rc);
      report_error(text);
      return kNoCursor;
    }
  }
  for (int i = 0; i < kCursorCount; ++i) {
    if (c_free[i] == 1) {
      c_free[i] = 0;
      return cid[i];
    }
  }
  for (int i = 0; i < kCursorCount; ++i) {
    if (c_free[i] == -1) {
      std::snprintf(cid[i], sizeof cid[i], "c%d", i);
      c_free[i] = 0;
      return cid[i];
    }
  }
  report_error("### SYSTEM ERROR: more than 10 DB Session in proccess!");
  return kNoCursor;
}

void X_free_cid(const char* id) {
  for (int i = 0; i < kCursorCount; ++i) {
    if (c_free[i] != -1 && std::strcmp(cid[i], id) == 0) {
      c_free[i] = 1;
      return;
    }
  }
}

int X_sqlline(char* statement) {
  X_sqlcode = 0;
  char word[kWordSize];
  first_word(statement, word);
  if (starts_with(word, "disconnect")) {
    X_finish();
    for (int& state : c_free) state = -1;
    has_base = false;
    base.clear();
    return 0;
  }
  if (!X_sqlTRANS &&
      (starts_with(word, "begin") || starts_with(word, "commit") || starts_with(word, "rollback")))
    return -1;
  if (X_noselect_sql(statement, nullptr, nullptr) == 0) return 0;
  char error[kSqlErrorSize];
  sql_error(error, sizeof error);
  report_query_error(statement, error);
  return -1;
}

int X_sql(X_FILE* file, char* line, int& compile, int ignore) {
  if (!has_tag(line, "<@sql>")) return -1;
  if (ignore) {
    skip_body(file, compile);
    return 0;
  }
  X_trace("X_sql: {%s} compile: %d ignore: %d \n", line, compile, ignore);
  Statement statement(line, compile);
  const char* id = X_get_cid();
  if (std::strcmp(id, kNoCursor) == 0) {
    // The error is reported; a statement without a connection is not tried.
    X_rowcount = 0;
    skip_body(file, compile);
    return 0;
  }
  X_rowcount = 0;
  X_sqlcode = 0;
  if (statement.too_long()) {
    report_too_long(statement.text());
    skip_body(file, compile);
  } else {
    char word[kWordSize];
    first_word(statement.text(), word);
    if (std::strcmp(word, "select") == 0 || std::strcmp(word, "show") == 0 ||
        std::strcmp(word, "execute") == 0) {
      run_row_query(file, compile, id, statement.text());
    } else {
      int rc = X_sqlline(statement.text());
      X_notfound(file, compile, rc == 0 ? 0 : 1);
    }
  }
  X_free_cid(id);
  return 0;
}

int X_sqlexec(X_FILE* /*file*/, char* line, int& compile, int ignore) {
  if (!has_tag(line, "<@sqlexec>")) return -1;
  if (ignore) return 0;
  Statement statement(line, compile);
  const char* id = X_get_cid();
  if (std::strcmp(id, kNoCursor) == 0) return 0;
  X_trace("X_sqlexec: query: %s \n", statement.text());
  if (statement.too_long()) {
    X_sqlcode = 0;
    report_too_long(statement.text());
  } else {
    X_sqlline(statement.text());
  }
  X_free_cid(id);
  return 0;
}

int X_sqlnames(X_FILE* /*file*/, char* line, int& compile, int ignore) {
  if (!has_tag(line, "<@sqlnames>")) return -1;
  if (ignore) return 0;
  LineBuffer text;
  X_transline(X_command_args(line), text.data(), kLineSize, compile);
  X_trace("X_sqlnames: %s \n", text.data());
  if (std::strstr(text.data(), "uppercase")) {
    X_sqlcase = 1;
  } else if (std::strstr(text.data(), "lowercase")) {
    X_sqlcase = 0;
  }
  return 0;
}

int X_sqltrap(X_FILE* /*file*/, char* line, int& compile, int ignore) {
  if (!has_tag(line, "<@sqltrap>")) return -1;
  if (ignore) return 0;
  LineBuffer text;
  X_transline(X_command_args(line), text.data(), kLineSize, compile);
  X_trace("X_sqltrap: %s \n", text.data());
  if (std::strstr(text.data(), "OFF_TRANSACTIONS")) {
    X_sqlTRANS = 0;
  } else if (std::strstr(text.data(), "ON_TRANSACTIONS")) {
    X_sqlTRANS = 1;
  } else if (std::strstr(text.data(), "OFF")) {
    X_sqlTRAP = 0;
  } else if (std::strstr(text.data(), "ON")) {
    X_sqlTRAP = 1;
  } else {
    return -1;
  }
  return 0;
}
