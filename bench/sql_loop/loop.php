<?php
// The same loop as loop.page: rows streamed (unbuffered), two columns a line.
$db = new mysqli('localhost', getenv('VANDREL_TEST_USER'), getenv('VANDREL_TEST_PASSWD'),
                 getenv('VANDREL_TEST_DB'), 0, getenv('MYSQL_SOCKET'));
$result = $db->query('select id, name from bench_hosts order by id', MYSQLI_USE_RESULT);
while ($row = $result->fetch_row()) {
  echo $row[0] . ' ' . $row[1] . "\n";
}
$result->free();
$db->close();
