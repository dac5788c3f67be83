<?php
// Rows streamed as the server sends them (unbuffered), one line a row, as rows.page does.
$db = new mysqli('localhost', getenv('VANDREL_TEST_USER'), getenv('VANDREL_TEST_PASSWD'),
                 getenv('VANDREL_TEST_DB'), 0, getenv('MYSQL_SOCKET'));
$result = $db->query('select id, name from bench_rows order by id limit 100000', MYSQLI_USE_RESULT);
while ($row = $result->fetch_row()) {
  echo $row[0] . ' ' . $row[1] . "\n";
}
$result->free();
$db->close();
