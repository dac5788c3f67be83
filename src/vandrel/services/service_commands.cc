#include "vandrel/services/service_commands.h"

#include <iterator>

#include "vandrel/services/cookies.h"
#include "vandrel/services/process_commands.h"
#include "vandrel/services/shm_commands.h"
#include "vandrel/services/sql_commands.h"
#include "vandrel/services/stream_commands.h"
#include "vandrel/services/string_functions.h"
#include "vandrel/statements/command_table.h"

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

}  // namespace

bool X_install_service_commands() {
  return X_bind_commands(kServiceCommands, std::size(kServiceCommands));
}
