// The value functions and built-in values of "$(...)". Their names are the
// language's and are kept here; what the names whose values lie in a higher
// room (page functions, the database, the shell escape) do is bound at
// start-up.
#ifndef VANDREL_VALUES_VALUE_FUNCTIONS_H_
#define VANDREL_VALUES_VALUE_FUNCTIONS_H_

#include <cstddef>

class ValueSink;

// Gets the whole reference text and the text after the function's name, and
// puts the value into `sink`.
using ValueFunction = void (*)(const char* ref, const char* rest, ValueSink& sink);

// A function that a higher room supplies for one of the table's names.
struct ValueFunctionBinding {
  const char* name;  // as the table writes it, "call:" or "X_ROWS"
  ValueFunction function;
};

// Installs the functions of `rows[0..count)` for their names, in place of
// any they had; made once at start-up, before the first page line runs, and
// allocates nothing. False, with nothing installed, when a row names no name
// of the table or has no function. A name left without a function is passed
// over, so that its reference reads the variable of that name.
[[nodiscard]] bool X_bind_value_functions(const ValueFunctionBinding* rows, size_t count);

// Puts the decimal text of `n`, as a value.
void X_put_number(ValueSink& sink, long n);

#endif  // VANDREL_VALUES_VALUE_FUNCTIONS_H_
