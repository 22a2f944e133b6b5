<?php
// The listing as an owner would write it in a few lines of PHP instead:
// the same index file, the newest ten records as rows, text escaped. No
// lock, no paging, no links but the subjects': the least a listing does.
header('Content-Type: text/html; charset=EUC-KR');
$index = fopen($_SERVER['BOARD_DIR'] . '/guestbook.dat', 'rb');
$header = fread($index, 125);
$count = (int)substr($header, 10, 10);
$first = max(1, $count - 9);
fseek($index, 125 + ($first - 1) * 410);
$records = fread($index, ($count - $first + 1) * 410);
fclose($index);
function field($record, $offset, $width) {
    $text = substr($record, $offset, $width);
    $end = strpos($text, "\0");
    return htmlspecialchars($end === false ? $text : substr($text, 0, $end), ENT_QUOTES, 'ISO-8859-1');
}
echo "<html><head><title>Guestbook</title></head><body>\n<table>\n";
for ($n = $count; $n >= $first; $n--) {
    $record = substr($records, ($n - $first) * 410, 410);
    printf("<tr><td>%d</td><td><a href=\"/cgi-bin/ShowPage.exe?BoardNum=1&TextNum=%d\">%s</a></td><td>%s</td><td>%s</td><td>%s</td></tr>\n",
        $n, $n, field($record, 115, 80), field($record, 5, 20), field($record, 25, 20), field($record, 105, 10));
}
echo "</table>\n</body></html>\n";
