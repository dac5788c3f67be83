#include "vandrel/services/service_commands.h"

#include <cstdio>
#include <cstring>
#include <iterator>

#include "vandrel/services/cookies.h"
#include "vandrel/services/exec_command.h"
#include "vandrel/services/process_commands.h"
#include "vandrel/services/service_values.h"
#include "vandrel/services/shm_commands.h"
#include "vandrel/services/sql_commands.h"
#include "vandrel/services/sql_state.h"
#include "vandrel/services/stream_commands.h"
#include "vandrel/statements/command_table.h"
#include "vandrel/statements/conditions.h"
#include "vandrel/statements/option_commands.h"

namespace {

const CommandBinding kServiceCommands[] = {
    {"sqltrap", X_sqltrap},  {"sleep", X_sleep},       {"usleep", X_usleep},
    {"chdir", X_chdir},      {"sqlnames", X_sqlnames}, {"shell", X_shell},
    {"unlink", X_unlink},    {"cookie", X_cookie},     {"fork", X_fork},
    {"exec", X_exec},        {"sql", X_sql},           {"sqlexec", X_sqlexec},
    {"fopen", X_io_fopen},   {"popen", X_io_popen},    {"fclose", X_io_fclose},
    {"pclose", X_io_pclose}, {"fgets", X_io_fgets},    {"fputs", X_io_fputs},
    {"fseek", X_io_fseek},   {"shmat", X_shmat},       {"shmdt", X_shmdt},
};

bool sql_names(const char* value, const char*) {
  if (std::strcmp(value, "lowercase") == 0) {
    X_sqlcase = 0;
  } else if (std::strcmp(value, "uppercase") == 0) {
    X_sqlcase = 1;
  } else {
    return false;
  }
  return true;
}

bool sql_transactions(const char* value, const char*) {
  return X_option_on_off(value, &X_sqlTRANS);
}

bool sql_trap(const char* value, const char* third) {
  if (X_option_on_off(value, &X_sqlTRAP)) return true;
  if (std::strcmp(value, "on_transactions") == 0) {
    X_sqlTRANS = 1;
  } else if (std::strcmp(value, "off_transactions") == 0) {
    X_sqlTRANS = 0;
  } else if (std::strcmp(value, "function") == 0) {
    if (third[0]) {
      std::snprintf(TRAPfunc, sizeof TRAPfunc - 1, "%s", third);
      X_sqlFUNC = 1;
      X_sqlTRAP = 0;
    } else {
      X_sqlFUNC = 0;
    }
  } else {
    return false;
  }
  return true;
}

const OptionBinding kServiceOptions[] = {
    {"sql_names", sql_names},
    {"sql_transactions", sql_transactions},
    {"sql_trap", sql_trap},
};

}  // namespace

bool X_install_services() {
  X_set_eof_flag(&X_eof);
  return X_bind_commands(kServiceCommands, std::size(kServiceCommands)) &&
         X_bind_options(kServiceOptions, std::size(kServiceOptions)) && X_install_service_values();
}
