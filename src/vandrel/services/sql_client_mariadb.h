// The database client on the MariaDB client library (libmariadb). Only its
// source file includes the library's header, so that the library can later
// be bound on the first database command instead of at program start.
#ifndef VANDREL_SERVICES_SQL_CLIENT_MARIADB_H_
#define VANDREL_SERVICES_SQL_CLIENT_MARIADB_H_

#include "vandrel/services/sql_client.h"

// A SqlClientFactory: a MariaDB connection, not connected yet; nullptr when
// out of memory.
SqlConnection* mariadb_new_connection();

#endif  // VANDREL_SERVICES_SQL_CLIENT_MARIADB_H_
