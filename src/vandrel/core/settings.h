// Process-wide settings of one interpreter run. They are set while the
// request is entered and read everywhere after; the ground floor reads them
// itself (logs, scratch file, error page), so they are kept here.
#ifndef VANDREL_CORE_SETTINGS_H_
#define VANDREL_CORE_SETTINGS_H_

// Configuration home directory; nullptr until it has been found.
extern const char* X_HOME;
// Directory for per-process scratch and log files.
extern const char* TMP_DIR;
// Absolute path of the error page; nullptr when there is none.
extern const char* X_ERROR;
// Document root; nullptr until chosen.
extern const char* X_ROOT;

#endif  // VANDREL_CORE_SETTINGS_H_
