// The services' side of the page language: the handlers of the command words
// whose work lies outside the interpreter (database, files and pipes,
// processes, shared memory, cookies, the string functions of <@exec>), the
// database's <@option> settings and the row-loop state the EOF condition
// tests.
#ifndef VANDREL_SERVICES_SERVICE_COMMANDS_H_
#define VANDREL_SERVICES_SERVICE_COMMANDS_H_

// Binds those handlers and settings into the statements room, and the
// services' values (service_values.h) into the value-function table: all
// that pages reach of the services. Made once by main before the first page
// line runs. False when a row was refused.
[[nodiscard]] bool X_install_services();

#endif  // VANDREL_SERVICES_SERVICE_COMMANDS_H_
