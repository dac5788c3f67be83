// Block commands of control flow: <@if>/<@elif>/<@else>, <@while>,
// <@function>, <@call> and <@return>.
#ifndef VANDREL_STATEMENTS_BLOCK_COMMANDS_H_
#define VANDREL_STATEMENTS_BLOCK_COMMANDS_H_

#include <cstddef>

struct X_FILE;

int X_if(X_FILE* file, char* line, int& compile, int ignore);
int X_while(X_FILE* file, char* line, int& compile, int ignore);
int X_function(X_FILE* file, char* line, int& compile, int ignore);
int X_call(X_FILE* file, char* line, int& compile, int ignore);
int X_return(X_FILE* file, char* line, int& compile, int ignore);

// Runs the call text `call` ("name(arguments)", substituted with `compile`)
// with `ret` (ret_size bytes, or nullptr) receiving the text given to
// <@return>. 0, or -1 after a fatal error whose report returned.
int X_call_text(const char* call, int compile, char* ret, size_t ret_size);

// Releases the arenas of the page functions and empties their tree. A run
// keeps its functions to its end; a harness that runs many pages in one
// process (the fuzz targets) gives them back after each page, before it
// releases the main arena that holds their records.
void X_release_functions();

#endif  // VANDREL_STATEMENTS_BLOCK_COMMANDS_H_
