// Process-wide settings of one interpreter run. They are set while the
// request is entered and read everywhere after.
#ifndef VANDREL_CORE_SETTINGS_H_
#define VANDREL_CORE_SETTINGS_H_

#include <cstdio>

// Configuration home directory; nullptr until it has been found.
extern const char* X_HOME;
// Directory for per-process scratch and log files.
extern const char* TMP_DIR;
// Absolute path of the page to run; nullptr until known.
extern const char* X_PAGE;
// Absolute path of the error page; nullptr when there is none.
extern const char* X_ERROR;
// Document root; nullptr until chosen.
extern const char* X_ROOT;
// The database pages use, and whether pages may change it.
extern const char* X_BASE;
extern int X_BASE_hold;

#endif  // VANDREL_CORE_SETTINGS_H_
