// The values of "$(...)" that come from the services: "sh:", a value with
// the shell's metacharacters escaped, and what the last database statement
// left, "X_ROWS", "X_SQLCODE" and "X_INSERT_ID".
#ifndef VANDREL_SERVICES_SERVICE_VALUES_H_
#define VANDREL_SERVICES_SERVICE_VALUES_H_

// Binds them into the value-function table. False when the table refused a
// row.
[[nodiscard]] bool X_install_service_values();

#endif  // VANDREL_SERVICES_SERVICE_VALUES_H_
