// <@exec>, and the built-in string functions it calls by name: "strcut",
// "chchar" and "strlen".
#ifndef VANDREL_SERVICES_EXEC_COMMAND_H_
#define VANDREL_SERVICES_EXEC_COMMAND_H_

struct X_FILE;

// Runs the built-in string function `name` on the argument text `args`:
// 0 when it ran (also when it found nothing to do), -1 for an unknown name
// (a fatal error, which returns only while another one is being reported).
int X_exec_call(const char* name, const char* args);

// <@exec> FUNCTION ARGUMENTS: a command handler (see CommandHandler).
int X_exec(X_FILE* file, char* line, int& compile, int ignore);

#endif  // VANDREL_SERVICES_EXEC_COMMAND_H_
