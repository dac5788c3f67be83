// Putting the interpreter back as a new process has it, for programs that run
// it more than once: the unit tests and the fuzz targets.
#ifndef VANDREL_CORE_INTERPRETER_RESET_H_
#define VANDREL_CORE_INTERPRETER_RESET_H_

// Releases every variable's arena and the main arena, the pattern cache and
// the streams left in the open-stream table; puts the settings, the output,
// the log levels and the clock back to their start values. The store is
// left empty and uninitialised (X_store_init makes it anew).
void X_reset_interpreter();

#endif  // VANDREL_CORE_INTERPRETER_RESET_H_
