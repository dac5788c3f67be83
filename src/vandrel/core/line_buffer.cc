#include "vandrel/core/line_buffer.h"

char* line_buffer_pool::fresh() { return new char[kLineSize]; }
