// Named streams: files and pipes a page opens under a handle name and then
// reads, writes, positions and closes by that name. They share the open-stream
// table with <@xfile>. Every command reports "0" or "-1" in a status variable
// (its last argument, "status" by default) and never ends the page.
#ifndef VANDREL_SERVICES_STREAM_COMMANDS_H_
#define VANDREL_SERVICES_STREAM_COMMANDS_H_

struct X_FILE;

// <@fopen> HANDLE PATH MODE [STATUS]
int X_io_fopen(X_FILE* file, char* line, int& compile, int ignore);
// <@popen> HANDLE COMMAND MODE [STATUS]
int X_io_popen(X_FILE* file, char* line, int& compile, int ignore);
// <@fclose> HANDLE [STATUS]
int X_io_fclose(X_FILE* file, char* line, int& compile, int ignore);
// <@pclose> HANDLE [STATUS]
int X_io_pclose(X_FILE* file, char* line, int& compile, int ignore);
// <@fgets> HANDLE [VAR [SIZE [STATUS]]]
int X_io_fgets(X_FILE* file, char* line, int& compile, int ignore);
// <@fputs> HANDLE TEXT [STATUS]
int X_io_fputs(X_FILE* file, char* line, int& compile, int ignore);
// <@fseek> HANDLE OFFSET WHENCE [STATUS]
int X_io_fseek(X_FILE* file, char* line, int& compile, int ignore);

// Writes out everything the interpreter has buffered on any stream (page
// output, files, pipes), so that a child process neither repeats it nor
// overtakes it. A reader that went away fails the flush instead of ending
// the process.
void X_flush_streams();

// Flushes the page output, then closes every open entry of the table the way
// it was opened (a pipe waits for its command), so that the commands' output
// follows the page's and nothing is left running when the run ends.
void X_close_streams();

// Makes X_close_streams an exit-time cleanup; false when there is no room.
bool X_register_stream_cleanup();

#endif  // VANDREL_SERVICES_STREAM_COMMANDS_H_
