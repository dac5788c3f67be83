// Commands that switch page files or the output file: <@include>, <@file>,
// <@xfile> and <@quit>.
#ifndef VANDREL_STATEMENTS_PAGE_COMMANDS_H_
#define VANDREL_STATEMENTS_PAGE_COMMANDS_H_

struct X_FILE;

// <@include> path: runs another page file at this point.
int X_include(X_FILE* file, char* line, int& compile, int ignore);
// <@file> path ... <@end>: appends the block's output to a file.
int X_File(X_FILE* file, char* line, int& compile, int ignore);
// <@xfile> name ... <@end>: as <@file>, the file kept open under its name.
int X_xFile(X_FILE* file, char* line, int& compile, int ignore);
// <@quit>: ends the run normally.
int X_quit(X_FILE* file, char* line, int& compile, int ignore);

#endif  // VANDREL_STATEMENTS_PAGE_COMMANDS_H_
