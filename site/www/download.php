<html><head><meta charset="utf-8"><title>Download</title><link rel="stylesheet" href="style.css"></head>
<body><h1>Downloads</h1><img src="ico/banner.png" alt="Corvane"><p>The newest Quilmer and the Corvane video downloader.</p>
<p><a href="soft.php?type=joiner">Quilmer</a> &middot; <a href="soft.php?type=flv">Video downloader</a></p></body></html>
