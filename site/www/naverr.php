<html><head><meta charset="utf-8"><title>Page not available</title><link rel="stylesheet" href="style.css">
<script src="common.js"></script></head>
<body><h1>This page cannot be shown</h1>
<p>Address: <span id="url" data-param="url"></span></p>
<p>Error: <span id="errorid" data-param="errorid"></span></p>
</body></html>
