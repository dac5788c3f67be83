// Commands that change how the rest of the page runs: <@option>, <@html> and
// <@compile> (the translate switch, which <@option> also sets), and <@error>,
// which ends the page with the page's own error message.
#ifndef VANDREL_STATEMENTS_OPTION_COMMANDS_H_
#define VANDREL_STATEMENTS_OPTION_COMMANDS_H_

struct X_FILE;

int X_option(X_FILE* file, char* line, int& compile, int ignore);
int X_html(X_FILE* file, char* line, int& compile, int ignore);
int X_compile(X_FILE* file, char* line, int& compile, int ignore);
int X_error(X_FILE* file, char* line, int& compile, int ignore);

#endif  // VANDREL_STATEMENTS_OPTION_COMMANDS_H_
