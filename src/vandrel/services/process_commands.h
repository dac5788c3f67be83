// Commands that act on the process: running shell commands, splitting the
// process, removing files, changing directory and waiting.
#ifndef VANDREL_SERVICES_PROCESS_COMMANDS_H_
#define VANDREL_SERVICES_PROCESS_COMMANDS_H_

struct X_FILE;

// <@shell> COMMAND LINE: runs the whole text with the system shell and waits.
int X_shell(X_FILE* file, char* line, int& compile, int ignore);
// <@fork> VAR: splits the process; VAR gets the child's id, "0" in the child,
// "-1" when no child could be made.
int X_fork(X_FILE* file, char* line, int& compile, int ignore);
// <@unlink> PATH: removes a file; errors are ignored.
int X_unlink(X_FILE* file, char* line, int& compile, int ignore);
// <@chdir> PATH: changes the working directory; errors are ignored.
int X_chdir(X_FILE* file, char* line, int& compile, int ignore);
// <@sleep> N and <@usleep> N: wait N seconds or microseconds when N > 0.
int X_sleep(X_FILE* file, char* line, int& compile, int ignore);
int X_usleep(X_FILE* file, char* line, int& compile, int ignore);

#endif  // VANDREL_SERVICES_PROCESS_COMMANDS_H_
