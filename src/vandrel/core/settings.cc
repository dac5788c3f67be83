#include "vandrel/core/settings.h"

const char* X_HOME = nullptr;
const char* TMP_DIR = nullptr;
const char* X_ERROR = nullptr;
const char* X_ROOT = nullptr;
