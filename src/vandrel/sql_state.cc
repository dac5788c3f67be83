#include "sql_state.h"

int X_rowcount = 0;
int X_sqlcode = 0;
long X_INSERT_ID = 0;
int X_eof = 0;
