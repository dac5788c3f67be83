/* The floor for the rows workload: what a program that does nothing but stream a
 * result costs. It connects over the Unix socket, runs the query given as its
 * argument, reads the rows one at a time as the server sends them
 * (mysql_use_result: no copy of the result is kept) and writes each row as one
 * line, its columns joined by a space, through the one stdio buffer of stdout.
 *
 *   bare_client 'select ...'
 * Coordinates from the environment, as the benchmark's pages get them:
 *   MYSQL_SOCKET, VANDREL_TEST_USER, VANDREL_TEST_PASSWD, VANDREL_TEST_DB
 */
#define _GNU_SOURCE /* the unlocked stdio calls: one thread, no lock per character */
#include <mysql.h>
#include <stdio.h>
#include <stdlib.h>

static const char *need(const char *name) {
  const char *value = getenv(name);
  if (!value) {
    fprintf(stderr, "bare_client: %s is not set\n", name);
    exit(2);
  }
  return value;
}

static void fail(MYSQL *db, const char *what) {
  fprintf(stderr, "bare_client: %s: %s\n", what, mysql_error(db));
  exit(1);
}

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: bare_client QUERY\n");
    return 2;
  }
  /* A buffer far above a line's length, so that writes come in large blocks
     whatever stdout is (a pipe or /dev/null would otherwise get 4 KiB). */
  static char buffer[1 << 16];
  setvbuf(stdout, buffer, _IOFBF, sizeof buffer);

  MYSQL *db = mysql_init(NULL);
  if (!db) {
    fprintf(stderr, "bare_client: out of memory\n");
    return 1;
  }
  if (!mysql_real_connect(db, "localhost", need("VANDREL_TEST_USER"), need("VANDREL_TEST_PASSWD"),
                          need("VANDREL_TEST_DB"), 0, need("MYSQL_SOCKET"), 0))
    fail(db, "connect");
  if (mysql_query(db, argv[1])) fail(db, "query");
  MYSQL_RES *result = mysql_use_result(db);
  if (!result) fail(db, "result");
  unsigned int columns = mysql_num_fields(result);
  MYSQL_ROW row;
  while ((row = mysql_fetch_row(result))) {
    unsigned long *lengths = mysql_fetch_lengths(result);
    for (unsigned int c = 0; c < columns; c++) {
      if (c) putchar_unlocked(' ');
      /* NULL is written as nothing, as a page shows it. */
      if (row[c]) fwrite_unlocked(row[c], 1, lengths[c], stdout);
    }
    putchar_unlocked('\n');
  }
  /* A row fetch that fails midway ends the loop like the last row does. */
  if (mysql_errno(db)) fail(db, "fetch");
  mysql_free_result(result);
  mysql_close(db);
  if (fflush(stdout) != 0) {
    perror("bare_client: write");
    return 1;
  }
  return 0;
}
