// Commands that change how the rest of the page runs: <@option>, <@html> and
// <@compile> (the translate switch, which <@option> also sets), and <@error>,
// which ends the page with the page's own error message.
#ifndef VANDREL_STATEMENTS_OPTION_COMMANDS_H_
#define VANDREL_STATEMENTS_OPTION_COMMANDS_H_

#include <cstddef>

struct X_FILE;

// An <@option> setting that a higher room keeps. `apply` gets the value,
// lower-cased, and the third argument as written; false when the value is not
// one the setting knows ("Unknown option").
struct OptionBinding {
  const char* name;
  bool (*apply)(const char* value, const char* third);
};

// Installs the setters of `rows[0..count)` for the options they name; made
// once at start-up and allocates nothing. False, with nothing installed, when
// a row names no option a higher room keeps (sql_names, sql_transactions,
// sql_trap) or has no setter.
[[nodiscard]] bool X_bind_options(const OptionBinding* rows, size_t count);

// Stores "on" (1) or "off" (0) into `flag`; false for any other value, which
// leaves `flag` as it was. The spelling every on/off option accepts.
bool X_option_on_off(const char* value, int* flag);

int X_option(X_FILE* file, char* line, int& compile, int ignore);
int X_html(X_FILE* file, char* line, int& compile, int ignore);
int X_compile(X_FILE* file, char* line, int& compile, int ignore);
int X_error(X_FILE* file, char* line, int& compile, int ignore);

#endif  // VANDREL_STATEMENTS_OPTION_COMMANDS_H_
