<?php
$total = 0;
for ($i = 1; $i <= 20000; $i++) {
  $total += $i;
  echo "line $i total $total\n";
}
