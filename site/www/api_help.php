<html><head><meta charset="utf-8"><title>Quilmer help</title><link rel="stylesheet" href="style.css">
<script src="common.js"></script></head>
<body><h1>Quilmer help</h1>
<p>Add clips with <b>Add</b>, order them, then choose <b>Join</b> and a file name. The ending of the file name chooses the format.</p>
<p class="note">Language: <span data-param="lang"></span></p>
</body></html>
