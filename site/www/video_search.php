<html><head><meta charset="utf-8"><title>Video search</title><link rel="stylesheet" href="style.css">
<script src="common.js"></script></head>
<body><h1>Video search</h1>
<p>Results for <b id="query" data-param="q"></b> (<span id="type" data-param="type"></span>
<span id="site" data-param="site"></span>)</p>
<p class="note">No videos are listed by this server.</p>
</body></html>
