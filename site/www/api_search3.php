<html><head><meta charset="utf-8"><title>Search</title><link rel="stylesheet" href="style.css">
<script src="common.js"></script></head>
<body class="bar" style="margin:0">
<form id="searchbar" action="api_search3.php" method="get" style="margin:4px">
 Find videos: <input type="text" name="q" id="q" size="24">
 <input type="hidden" name="type" id="type" value="flv">
 <input type="submit" value="Search">
</form>
<script>document.getElementById('type').value = quilmer.param('type') || 'flv';</script>
</body></html>
