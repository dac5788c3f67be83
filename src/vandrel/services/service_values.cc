#include "vandrel/services/service_values.h"

#include <cstdio>
#include <iterator>

#include "vandrel/core/line_buffer.h"
#include "vandrel/services/sql_state.h"
#include "vandrel/values/substitution.h"
#include "vandrel/values/text_escapes.h"
#include "vandrel/values/value_functions.h"
#include "vandrel/values/value_sink.h"

namespace {

void sh_value(const char*, const char* rest, ValueSink& sink) {
  LineBuffer value;
  X_transvalue(rest, value.data(), kLineSize);
  // Escaping at most doubles the text; the buffer's second half is the room.
  char escaped[2 * kLineSize];
  std::snprintf(escaped, sizeof escaped, "%s", value.data());
  escape_shell_cmd(escaped, sizeof escaped);
  sink.value(escaped);
}

void rows_value(const char*, const char*, ValueSink& sink) {
  X_put_number(sink, X_rowcount);
}

void sqlcode_value(const char*, const char*, ValueSink& sink) {
  X_put_number(sink, X_sqlcode);
}

void insert_id_value(const char*, const char*, ValueSink& sink) {
  X_put_number(sink, X_INSERT_ID);
}

const ValueFunctionBinding kServiceValues[] = {
    {"sh:", sh_value},
    {"X_ROWS", rows_value},
    {"X_SQLCODE", sqlcode_value},
    {"X_INSERT_ID", insert_id_value},
};

}  // namespace

bool X_install_service_values() {
  return X_bind_value_functions(kServiceValues, std::size(kServiceValues));
}
