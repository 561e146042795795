<html><head><meta charset="utf-8"><title>Quilmer</title><link rel="stylesheet" href="style.css">
<script src="common.js"></script></head>
<body class="bar" style="margin:0">
<form id="search_form" action="api_joiner.php" method="post" onsubmit="return quilmer.submit(this)" style="margin:4px">
 <b>Corvane</b> video search:
 <input type="text" name="s" id="search_f" size="24">
 <input type="hidden" name="type" value="flv">
 <input type="submit" value="Search">
 <a id="help_link" href="api_help.php" onclick="return quilmer.open(this.href + '?lang=' + encodeURIComponent(quilmer.param('lang')) + '&type=joiner')">Help</a>
 <a id="soft_link" href="soft.php?type=flv" onclick="return quilmer.open(this.href)">More software</a>
 <span class="note" id="pane_info">Language: <span id="lang" data-param="lang"></span>, version <span id="ver" data-param="ver"></span></span>
</form>
</body></html>
