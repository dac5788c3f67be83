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

#endif  // VANDREL_STATEMENTS_BLOCK_COMMANDS_H_
