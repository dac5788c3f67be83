#include "vandrel/services/sql_state.h"

int X_rowcount = 0;
int X_sqlcode = 0;
long X_INSERT_ID = 0;
int X_eof = 0;
int X_sqlTRAP = 1;
int X_sqlFUNC = 0;
char TRAPfunc[kTrapFuncSize];
int X_sqlTRANS = 1;
int X_sqlcase = 0;
