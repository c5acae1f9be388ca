<?php
// Address script for the plug-in's download link: answers GET /BrenloPlug/checkip.php with the
// caller's IPv4 address as plain text, nothing else (no line end, no page around it).
header('Content-Type: text/plain; charset=us-ascii');
header('Cache-Control: no-store');
echo $_SERVER['REMOTE_ADDR'];
