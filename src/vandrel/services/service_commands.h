// The services' side of the page language: the handlers of the command words
// whose work lies outside the interpreter (database, files and pipes,
// processes, shared memory, cookies, the string functions of <@exec>).
#ifndef VANDREL_SERVICES_SERVICE_COMMANDS_H_
#define VANDREL_SERVICES_SERVICE_COMMANDS_H_

// Binds those handlers into the command table; made once by main before the
// first page line runs. False when the table refused a row.
[[nodiscard]] bool X_install_service_commands();

#endif  // VANDREL_SERVICES_SERVICE_COMMANDS_H_
