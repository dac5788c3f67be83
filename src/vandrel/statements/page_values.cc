#include "vandrel/statements/page_values.h"

#include <iterator>

#include "vandrel/core/argument_split.h"
#include "vandrel/core/line_buffer.h"
#include "vandrel/core/trace.h"
#include "vandrel/statements/block_commands.h"
#include "vandrel/statements/page_reader.h"
#include "vandrel/values/value_functions.h"
#include "vandrel/values/value_sink.h"

namespace {

void call_value(const char*, const char* rest, ValueSink& sink) {
  X_trace("==> call: CALL: [%s] ", rest);
  LineBuffer returned;
  if (X_call_text(rest, 1, returned.data(), kLineSize) != 0) return;
  X_trace("==> call: OUTPUT: [%s] ", returned.data());
  LineBuffer first;
  X_arg_string(returned.data(), first.data(), kLineSize);
  sink.value(first.data());
}

void dir_value(const char*, const char*, ValueSink& sink) {
  sink.value(DIR);
}

const ValueFunctionBinding kPageValues[] = {
    {"call:", call_value},
    {"DIR", dir_value},
};

}  // namespace

bool X_install_page_values() {
  return X_bind_value_functions(kPageValues, std::size(kPageValues));
}
